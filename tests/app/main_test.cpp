// tests/app/main_test.cpp
// The qob executable as a user starts it: the command line and its switches,
// the start-up programs in their order, the exit status, and a compiled
// program carried inside a copy of the executable.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "host/embedded_program.h"
#include "platform/files.h"
#include "platform/temp_directory.h"

namespace qob {
namespace {

using testing::TempDirectory;

struct Outcome {
    std::string out;
    std::string err;
    int status;
};

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

class ExecutableTest : public ::testing::Test {
protected:
    // Runs the executable in the work folder, which is also its root.
    Outcome Run(const std::vector<std::string>& arguments, const std::string& executable = QOB_EXECUTABLE) {
        // Built by appending: GCC 12 warns falsely (-Wrestrict) on a chain of "+".
        std::string command = "cd ";
        command += Quoted(root.Path());
        command += " && QOB_ROOT=";
        command += Quoted(root.Path() + "/");
        command += " QOB_REGISTRY=";
        command += Quoted(root.Join("registry"));
        command += " ";
        command += Quoted(executable);
        for (const std::string& argument : arguments) {
            command += " ";
            command += Quoted(argument);
        }
        command += " > ";
        command += Quoted(root.Join("out.txt"));
        command += " 2> ";
        command += Quoted(root.Join("err.txt"));
        const int status = std::system(command.c_str());
        return {platform::ReadFileBytes(root.Join("out.txt")).value_or(""),
                platform::ReadFileBytes(root.Join("err.txt")).value_or(""),
                WIFEXITED(status) ? WEXITSTATUS(status) : -1};
    }

    void Program(const std::string& name, const std::string& message) {
        root.Write(name, "PROC MAIN\n  showmessage(\"" + message + "\");\nEND;\n");
    }

    TempDirectory root;
};

TEST_F(ExecutableTest, TheExecutableHoldsNoCopyOfTheEmbeddedProgramMarker) {
    const std::optional<std::string> bytes = platform::ReadFileBytes(QOB_EXECUTABLE);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(FindEmbeddedMarker({reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size()}), std::nullopt);
}

TEST_F(ExecutableTest, ArgumentsAreJoinedWithBars) {
    root.Write("args.qob",
               "PROC MAIN\n  showmessage(CMDLINE%);\n  FOREACH (ARGV%, a$)\n    showmessage(a$);\n  END;\nEND;\n");
    const std::string expected = "args.qob|Q|x y\nargs.qob\nQ\nx y\n";
    EXPECT_EQ(Run({"args.qob", "Q", "x y"}).out, expected);
    EXPECT_EQ(Run({"args.qob|Q|x y"}).out, expected);
}

TEST_F(ExecutableTest, DefaultRunsFirstThenTheNamedProgramOrMain) {
    Program("DEFAULT.QOB", "default");
    Program("MAIN.QOB", "main");
    Program("prog.qob", "prog");
    EXPECT_EQ(Run({}).out, "default\nmain\n");
    EXPECT_EQ(Run({"prog.qob"}).out, "default\nprog\n");
    EXPECT_EQ(Run({"prog.qob", "ND"}).out, "prog\n");
    EXPECT_EQ(Run({"prog"}).out, "default\nprog\n") << "the name is resolved as a source file";
}

TEST_F(ExecutableTest, SwitchesAreCaseSensitive) {
    root.Write("strict.qob", "PROC MAIN\n  x$ = undeclared$;\n  showmessage(\"ran\");\nEND;\n");
    const Outcome lower = Run({"strict.qob", "x"});
    EXPECT_EQ(lower.out, "ran\n");
    EXPECT_EQ(lower.status, 0);
    const Outcome upper = Run({"strict.qob", "X", "RC"});
    EXPECT_EQ(upper.out, "");
    EXPECT_EQ(upper.status, 1) << "a run-time error that no TRY caught";
    EXPECT_NE(upper.err.find("Variable UNDECLARED$ has not been defined!"), std::string::npos) << upper.err;
}

TEST_F(ExecutableTest, TheDesktopPlatformSwitchChangesTheDefineAndPlatform) {
    root.Write("where.qob",
               "PROC MAIN\n#IFDEF _WIN32\n  showmessage(\"desktop \", PLATFORM%);\n#ENDIF\n"
               "#IFDEF _WIN32_WCE\n  showmessage(\"device \", PLATFORM%);\n#ENDIF\nEND;\n");
    EXPECT_EQ(Run({"where.qob"}).out, "device 1\n");
    EXPECT_EQ(Run({"where.qob", "FPC", "RC"}).out, "desktop 0\n");
}

TEST_F(ExecutableTest, TheIncludePathSwitchAddsAFolderForIncludes) {
    root.Write("inc/helpers.qob", "PROC helper\n  showmessage(\"included\");\nEND;\n");
    root.Write("uses.qob", "#INCLUDE \"helpers.qob\"\nPROC MAIN\n  helper();\nEND;\n");
    EXPECT_EQ(Run({"uses.qob"}).status, 1);
    const Outcome found = Run({"uses.qob", "I-" + root.Join("inc")});
    EXPECT_EQ(found.out, "included\n");
    EXPECT_EQ(found.status, 0) << found.err;
}

TEST_F(ExecutableTest, CompileOnlySwitchesRunNothing) {
    Program("prog.qob", "prog");
    const Outcome compiled = Run({"prog.qob", "C"});
    EXPECT_EQ(compiled.out, "");
    EXPECT_EQ(compiled.status, 0);
    EXPECT_TRUE(std::filesystem::exists(root.Join("prog.qoc")));

    const Outcome listed = Run({"prog.qob", "CC"});
    EXPECT_EQ(listed.out, "");
    const std::string names = platform::ReadFileBytes(root.Join("CC.TXT")).value_or("");
    EXPECT_NE(names.find("\nSHOWMESSAGE\n"), std::string::npos);
    EXPECT_NE(names.find("MAIN\n"), std::string::npos);
}

TEST_F(ExecutableTest, TheExitStatusTellsHowTheRunEnded) {
    Program("good.qob", "fine");
    root.Write("bad.qob", "PROC MAIN\n  x$ = ;\nEND;\n");
    EXPECT_EQ(Run({"good.qob"}).status, 0);
    const Outcome bad = Run({"bad.qob"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, "ERROR: error: (bad.qob) [Expression expected at ';' (2,8)]\n\n");
    const Outcome missing = Run({"none.qob"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "Run error: Syntax error of file not found!\n\"none.qob\"\n");
}

TEST_F(ExecutableTest, AProgramAppendedToTheExecutableRunsFirst) {
    Program("hello.qob", "carried inside");
    ASSERT_EQ(Run({"hello.qob", "C"}).status, 0);
    const std::string executable = platform::ReadFileBytes(QOB_EXECUTABLE).value();
    const std::string image = platform::ReadFileBytes(root.Join("hello.qoc")).value();
    const std::string bundle = root.Write("bundle", executable + EmbeddedProgramMarker() + image);
    std::filesystem::permissions(bundle, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
    Program("MAIN.QOB", "main afterwards");
    const Outcome outcome = Run({}, bundle);
    EXPECT_EQ(outcome.out, "carried inside\nmain afterwards\n");
    EXPECT_EQ(outcome.status, 0) << outcome.err;
}

}  // namespace
}  // namespace qob
