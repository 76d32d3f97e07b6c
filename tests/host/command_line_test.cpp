// tests/host/command_line_test.cpp
// Splitting the command line and the switches its tokens set.

#include "host/command_line.h"

#include <gtest/gtest.h>

namespace qob {
namespace {

TEST(CommandLineTest, SplitsAtBarsAndSkipsEmptyTokens) {
    struct Case {
        const char* line;
        std::vector<std::string> tokens;
    };
    const Case cases[] = {
        {"", {}},
        {"|||", {}},
        {"prog.qob", {"prog.qob"}},
        {"prog.qob|D|X", {"prog.qob", "D", "X"}},
        {"|prog.qob||Q|", {"prog.qob", "Q"}},
        {"a b|c d", {"a b", "c d"}},
    };
    for (const Case& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.tokens) << c.line;
}

TEST(CommandLineTest, EachFlagSwitchSetsItsOwnFlagOnly) {
    struct Case {
        const char* token;
        bool RuntimeSwitches::* flag;
    };
    const Case cases[] = {
        {"P", &RuntimeSwitches::profiling},      {"Y", &RuntimeSwitches::memoryTracking},
        {"D", &RuntimeSwitches::debugMode},      {"Q", &RuntimeSwitches::quiet},
        {"C", &RuntimeSwitches::compileOnly},    {"RC", &RuntimeSwitches::recompile},
        {"ND", &RuntimeSwitches::noDefaultProgram}, {"R", &RuntimeSwitches::rangeCheck},
        {"W", &RuntimeSwitches::warnings},       {"W1", &RuntimeSwitches::parserWarnings},
        {"X", &RuntimeSwitches::explicitDeclarations}, {"CC", &RuntimeSwitches::completionList},
        {"NO", &RuntimeSwitches::optimiserOff},  {"FPC", &RuntimeSwitches::desktopPlatform},
        {"DM", &RuntimeSwitches::noErrorDisplay},
    };
    for (const Case& c : cases) {
        RuntimeSwitches switches;
        EXPECT_TRUE(ApplySwitch(c.token, switches)) << c.token;
        EXPECT_TRUE(switches.*c.flag) << c.token;
        int set = 0;
        for (const Case& other : cases) set += switches.*other.flag ? 1 : 0;
        EXPECT_EQ(set, 1) << c.token;
    }
}

TEST(CommandLineTest, MakeSwitchesCompileOnlyAndKeepTheirName) {
    struct Case {
        const char* token;
        const char* name;
    };
    const Case cases[] = {{"M", ""}, {"M-setup", "setup"}, {"MD-game.exe", "game.exe"}};
    for (const Case& c : cases) {
        RuntimeSwitches switches;
        EXPECT_TRUE(ApplySwitch(c.token, switches)) << c.token;
        EXPECT_TRUE(switches.makeMode && switches.compileOnly) << c.token;
        EXPECT_EQ(switches.makeName, c.name);
    }
    RuntimeSwitches switches;
    EXPECT_TRUE(ApplySwitch("I-/usr/share/qob", switches));
    EXPECT_EQ(switches.includePath, "/usr/share/qob");
}

TEST(CommandLineTest, LinkPassSwitchesSetTheCount) {
    RuntimeSwitches switches;
    EXPECT_EQ(switches.linkPassCount, 1);
    const std::pair<const char*, int> cases[] = {{"NL", 0}, {"LM", 999}, {"L1", 1}};
    for (auto [token, count] : cases) {
        EXPECT_TRUE(ApplySwitch(token, switches));
        EXPECT_EQ(switches.linkPassCount, count) << token;
    }
}

TEST(CommandLineTest, OtherTokensAreNoSwitches) {
    const char* tokens[] = {"d", "q", "rc", "Dx", "M-", "MD-", "I-", "XX", "-D", "prog.qob", ""};
    for (const char* token : tokens) {
        RuntimeSwitches switches;
        EXPECT_FALSE(ApplySwitch(token, switches)) << token;
        EXPECT_FALSE(switches.debugMode || switches.makeMode || switches.compileOnly || switches.quiet) << token;
    }
    RuntimeSwitches switches;
    EXPECT_TRUE(ApplySwitch("B", switches));
    EXPECT_TRUE(ApplySwitch("FQOC", switches));
}

}  // namespace
}  // namespace qob
