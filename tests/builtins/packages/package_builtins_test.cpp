// tests/builtins/packages/package_builtins_test.cpp
// The package built-ins' handles (closed twice, made up), names holding the
// separator byte, and the UTF-16 load's terminating zero unit.

#include "builtins/packages/package_builtins.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "builtins/operators/operator_fixture.h"
#include "platform/memory.h"

namespace qob::testing {
namespace {

class PackageBuiltinsTest : public OperatorTest {
protected:
    void SetUp() override {
        OperatorTest::SetUp();
        char pattern[] = "/tmp/qob_package_builtins_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
    }
    void TearDown() override {
        EXPECT_EQ(CountOpenPackages(), 0u) << "a test left a package open";
        const std::string command = "rm -rf '" + directory + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
        OperatorTest::TearDown();
    }
    std::string Path(const std::string& name) const { return directory + "/" + name; }
    std::string Run(void (*handler)(), const std::vector<std::string>& arguments) {
        for (const std::string& argument : arguments) Push(argument);
        handler();
        EXPECT_EQ(StackDepth(), 1);
        return PopDescription();
    }
    void RunNothing(void (*handler)(), const std::vector<std::string>& arguments) {
        for (const std::string& argument : arguments) Push(argument);
        handler();
        EXPECT_EQ(StackDepth(), 0);
    }

    std::string directory;
};

TEST_F(PackageBuiltinsTest, ClosedAndMadeUpHandlesReachNoPackage) {
    const std::string handle = Run(Builtin_openpackage, {"t:" + Path("p.pkg"), "t:pw"});
    ASSERT_NE(handle, "n:0");
    EXPECT_EQ(CountOpenPackages(), 1u);
    RunNothing(Builtin_closepackage, {handle});
    EXPECT_EQ(CountOpenPackages(), 0u);
    for (const std::string& h : {handle, std::string("n:4096"), std::string("n:0")}) {
        RunNothing(Builtin_closepackage, {h});
        EXPECT_EQ(Run(Builtin_packagechanged, {h}), "n:0") << h;
        EXPECT_EQ(Run(Builtin_packagefileexists, {h, "t:a"}), "n:0") << h;
        EXPECT_EQ(Run(Builtin_packagefilesize, {h, "t:a"}), "n:0") << h;
        EXPECT_EQ(Run(Builtin_extractfilefrompackage, {h, "t:a"}), "n:0") << h;
        RunNothing(Builtin_addfiletopackage, {h, "t:" + Path("p.pkg")});
        RunNothing(Builtin_savepackage, {h, "n:0", "n:0"});
    }
}

TEST_F(PackageBuiltinsTest, NamesHoldingTheSeparatorAreRefusedAndWideLoadsEndInAZeroUnit) {
    std::ofstream(Path("odd.txt"), std::ios::binary) << "abc";
    const std::string handle = Run(Builtin_openpackage, {"t:" + Path("p.pkg"), "t:"});
    RunNothing(Builtin_addfiletopackageex, {handle, "t:" + Path("odd.txt"), "t:a\x01" "b"});
    EXPECT_EQ(Run(Builtin_packagechanged, {handle}), "n:0");
    RunNothing(Builtin_addfiletopackageex, {handle, "t:" + Path("odd.txt"), "t:Odd"});
    EXPECT_EQ(Run(Builtin_packagechanged, {handle}), "n:1");
    VariableRecord* size = Variable("S$");
    Push(handle);
    Push("t:ODD");
    PushVariable(size);
    Builtin_wloadpackagefile();
    const char* text = context->stackTop->text;
    // Three bytes: the units 0x6261 and 0x0063, then a whole zero unit.
    ASSERT_NE(text, nullptr);
    EXPECT_GE(platform::GetBlockSize(text), 6u);
    EXPECT_EQ(PopDescription(), "w:\xE6\x89\xA1" "c");
    EXPECT_EQ(Describe(size), "n:3");
    RunNothing(Builtin_closepackage, {handle});
}

}  // namespace
}  // namespace qob::testing
