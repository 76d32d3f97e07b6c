// tests/host/startup_test.cpp
// The predefined symbols and shut-down. Whole start-ups run the real
// executable (tests/app).

#include "host/startup.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "host/command_line.h"
#include "platform/temp_directory.h"
#include "runtime/data/file_routines.h"
#include "runtime/values/list_values.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/version.h"
#include "sound/sound_mixer.h"

namespace qob {
namespace {

class StartupTest : public ::testing::Test {
protected:
    void TearDown() override {
        Switches = RuntimeSwitches{};
        if (ConstantList) {
            FreeVariableChain(nullptr, ConstantList, true);
            FreeVariableList(nullptr, ConstantList);
            ConstantList = nullptr;
        }
    }

    static VariableRecord* Constant(const char* name) { return FindNamedItem(ConstantList, name); }
    static std::string TextOf(const char* name) {
        VariableRecord* constant = Constant(name);
        return constant && constant->data ? constant->data : "";
    }
    static double NumberOf(const char* name) {
        VariableRecord* constant = Constant(name);
        return constant ? constant->value : -1;
    }
    static std::vector<std::string> ListOf(const char* name) {
        std::vector<std::string> texts;
        VariableRecord* list = Constant(name);
        if (!list || !(list->flags & kVarList)) return {"not a list"};
        for (ListNode* node = ListFirst(list->currentNode); node; node = node->next)
            texts.emplace_back(node->data ? node->data : "");
        return texts;
    }
};

TEST_F(StartupTest, EveryProgramSeesThePredefinedSymbols) {
    DeclarePredefinedSymbols("prog.qob|D|x", {"prog.qob", "D", "x"});
    EXPECT_EQ(NumberOf("PLATFORM%"), 1);
    EXPECT_EQ(TextOf("CMDLINE%"), "prog.qob|D|x");
    EXPECT_EQ(ListOf("ARGV%"), (std::vector<std::string>{"prog.qob", "D", "x"}));
    EXPECT_EQ(TextOf("ARGV%"), "prog.qob") << "the list stands on its first element";
    EXPECT_EQ(ListOf("LIBPATH%"), std::vector<std::string>{});
    EXPECT_EQ(TextOf("ROOT%"), ApplicationDirectory());
    EXPECT_EQ(TextOf("VERSION%"), kVersionText);
    EXPECT_EQ(NumberOf("PROCESSID%"), getpid());
    EXPECT_GT(NumberOf("THREADID%"), 0);
    struct Fixed {
        const char* name;
        double value;
    };
    constexpr Fixed kFixed[] = {{"THREAD%", 65},   {"PROCESS%", 66},     {"ERROR%", 0},     {"LASTERROR%", 0},
                                {"T_COLLIDE%", 0}, {"BITSPERPIXEL%", 16}, {"FREQUENCY%", 60}, {"REXERROR%", 0}};
    for (const Fixed& c : kFixed) EXPECT_EQ(NumberOf(c.name), c.value) << c.name;
}

TEST_F(StartupTest, TheDesktopPlatformHasPlatformZero) {
    Switches.desktopPlatform = true;
    DeclarePredefinedSymbols("", {});
    EXPECT_EQ(NumberOf("PLATFORM%"), 0);
    EXPECT_EQ(ListOf("ARGV%"), std::vector<std::string>{});
}

TEST_F(StartupTest, ShutDownFreesTheConstantsAndClosesTheSoundOnceAndIsSafeToRepeat) {
    testing::TempDirectory registry;
    testing::ScopedEnvironment registryVariable("QOB_REGISTRY", registry.Path().c_str());
    testing::ScopedEnvironment audio("QOB_AUDIO", "none");
    WaveOutOptions.settleMilliseconds = 0;
    DeclarePredefinedSymbols("prog.qob", {"prog.qob"});
    ASSERT_NE(ConstantList, nullptr);
    ASSERT_EQ(SoundOpen(Mixer, 22050, 16, true, 1, 8), 0);
    ShutdownRuntime();
    EXPECT_EQ(ConstantList, nullptr);
    EXPECT_FALSE(Mixer.open) << "the device thread stopped";
    WaveOutOptions = WaveOutSettings{};
    DeclarePredefinedSymbols("again", {"again"});
    ShutdownRuntime();
    EXPECT_NE(ConstantList, nullptr) << "a second shut-down does nothing";
}

}  // namespace
}  // namespace qob
