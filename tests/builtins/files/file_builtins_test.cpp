// tests/builtins/files/file_builtins_test.cpp
// Whole-file loads and saves on temporary files (the lengths really read),
// sizes, existence tests, path splitting and the headless dialogs.

#include "builtins/files/file_builtins.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "builtins/operators/operator_fixture.h"
#include "platform/file_dialog.h"

namespace qob::testing {
namespace {

class FileBuiltinsTest : public OperatorTest {
protected:
    void SetUp() override {
        OperatorTest::SetUp();
        char pattern[] = "/tmp/qob_files_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
    }
    void TearDown() override {
        platform::SetFileDialogHook(nullptr);
        const std::string command = "rm -rf '" + directory + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
        OperatorTest::TearDown();
    }

    std::string Path(const std::string& name) const { return directory + "/" + name; }
    void Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(Path(name), std::ios::binary) << bytes;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(Path(name), std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }

    // Runs a load; returns the result description and sets length to what
    // the length variable received.
    std::string Load(void (*handler)(), const std::vector<std::string>& arguments, std::string* length) {
        VariableRecord* variable = Variable("N$");
        SetNumber(variable, 12345);
        for (const std::string& argument : arguments) Push(argument);
        PushVariable(variable);
        handler();
        EXPECT_EQ(StackDepth(), 1);
        *length = Describe(variable);
        return PopDescription();
    }

    std::string Run(void (*handler)(), const std::vector<std::string>& arguments) {
        for (const std::string& argument : arguments) Push(argument);
        handler();
        EXPECT_EQ(StackDepth(), 1);
        return PopDescription();
    }

    std::string directory;
};

TEST_F(FileBuiltinsTest, LoadsGiveTheBytesAndTheCountReallyRead) {
    Write("data.bin", std::string("ab\0cdef", 7));
    const std::string p = "t:" + Path("data.bin");
    struct Case {
        void (*handler)();
        std::vector<std::string> arguments;
        std::string result, length;
    };
    const Case cases[] = {
        {Builtin_loadstr, {p}, "t:ab", "n:7"},
        {Builtin_loadstrex, {p, "n:3", "n:2"}, "t:cd", "n:2"},
        {Builtin_loadstrex, {p, "n:-1", "n:-1"}, "t:ab", "n:7"},
        // Past the end: only the bytes that exist count.
        {Builtin_loadstrex, {p, "n:5", "n:10"}, "t:ef", "n:2"},
        {Builtin_loadstrex, {p, "n:20", "n:4"}, "t:", "n:0"},
        {Builtin_loadstrex, {p, "n:4", "n:-1"}, "t:def", "n:3"},
        {Builtin_loadstr, {"t:" + Path("missing")}, "n:0", "n:-1"},
        {Builtin_loadstrex, {"t:" + Path("missing"), "n:0", "n:1"}, "n:0", "n:-1"},
    };
    for (const Case& c : cases) {
        std::string length;
        EXPECT_EQ(Load(c.handler, c.arguments, &length), c.result) << c.arguments.size() << c.result;
        EXPECT_EQ(length, c.length) << c.arguments.size() << c.result;
    }
}

TEST_F(FileBuiltinsTest, WideLoadsCountUnits) {
    Write("wide.bin", std::string("h\0i\0!", 5));
    std::string length;
    EXPECT_EQ(Load(Builtin_wloadstr, {"t:" + Path("wide.bin")}, &length), "w:hi");
    EXPECT_EQ(length, "n:2");
    // The odd last byte is no whole unit: it is in the text but not counted.
    EXPECT_EQ(Load(Builtin_wloadstrex, {"t:" + Path("wide.bin"), "n:1", "n:5"}, &length), "w:i!");
    EXPECT_EQ(length, "n:1");
}

TEST_F(FileBuiltinsTest, SavesWriteExactlyTheTextAndNeverPastItsBlock) {
    struct Case {
        void (*handler)();
        std::string text, length, bytes;
    };
    const Case cases[] = {
        {Builtin_savestr, "t:hello", "n:-1", "hello"},
        {Builtin_savestr, "t:hello", "n:2", "he"},
        // The block holds "hello" and its terminator: a longer length stops there.
        {Builtin_savestr, "t:hello", "n:100000", std::string("hello\0", 6)},
        {Builtin_savestr, "n:12", "n:-1", "12"},
        {Builtin_wsavestr, "w:hi", "n:-1", std::string("h\0i\0", 4)},
        {Builtin_wsavestr, "t:hi", "n:1", std::string("h\0", 2)},
        {Builtin_wsavestr, "w:hi", "n:50", std::string("h\0i\0\0\0", 6)},
    };
    for (const Case& c : cases) {
        Push("t:" + Path("out.bin"));
        Push(c.text);
        Push(c.length);
        c.handler();
        EXPECT_EQ(StackDepth(), 0);
        EXPECT_EQ(Read("out.bin"), c.bytes) << c.text << " " << c.length;
    }
}

TEST_F(FileBuiltinsTest, SizesAndExistenceTests) {
    Write("Data.TXT", "12345");
    ASSERT_EQ(mkdir(Path("Sub").c_str(), 0755), 0);
    struct stat info{};
    ASSERT_EQ(stat(Path("Data.TXT").c_str(), &info), 0);
    EXPECT_EQ(Run(Builtin_filesize, {"t:" + Path("Data.TXT")}), "n:" + std::to_string(info.st_size));
    EXPECT_EQ(Run(Builtin_filesize, {"t:" + Path("data.txt")}), "n:5");
    EXPECT_EQ(Run(Builtin_filesize, {"t:" + Path("missing")}), "n:0");
    EXPECT_EQ(Run(Builtin_filesize, {"t:" + Path("Sub")}), "n:0");
    const std::pair<std::string, std::string> tests[] = {
        {"data.txt", "n:1"}, {"DATA.txt", "n:1"}, {"*.txt", "n:1"}, {"d?ta.*", "n:1"},
        {"sub", "n:1"},      {"*.bin", "n:0"},    {"missing", "n:0"},
    };
    for (const auto& [name, expected] : tests) {
        EXPECT_EQ(Run(Builtin_fileexists, {"t:" + Path(name)}), expected) << name;
        EXPECT_EQ(Run(Builtin_directoryexists, {"t:" + Path(name)}), expected) << name;
    }
    // Backslashes separate as well.
    std::string backslashed = Path("data.txt");
    for (char& c : backslashed)
        if (c == '/') c = '\\';
    EXPECT_EQ(Run(Builtin_fileexists, {"t:" + backslashed}), "n:1");
}

TEST_F(FileBuiltinsTest, PathPartsTakeBothSeparators) {
    struct Case {
        void (*handler)();
        std::string path, expected;
    };
    const Case cases[] = {
        {Builtin_extractfilename, "\\My Documents\\a.txt", "t:a.txt"},
        {Builtin_extractfilename, "a.txt", "t:a.txt"},
        {Builtin_extractfilename, "\\dir\\", "t:"},
        {Builtin_extractfilename, "/home/user/a.txt", "t:a.txt"},
        {Builtin_extractfilename, "dir\\sub/b.qob", "t:b.qob"},
        {Builtin_extractfilepath, "\\My Documents\\a.txt", "t:\\My Documents\\"},
        {Builtin_extractfilepath, "a.txt", "t:"},
        {Builtin_extractfilepath, "/home/user/a.txt", "t:/home/user/"},
        {Builtin_extractfiledrive, "\\Storage Card\\dir\\a.txt", "t:\\Storage Card\\"},
        {Builtin_extractfiledrive, "\\a.txt", "t:\\a.txt"},
        {Builtin_extractfiledrive, "/mnt/card/a.txt", "t:/mnt/"},
        {Builtin_extractfileext, "\\dir.d\\file", "t:.d\\file"},
        {Builtin_extractfileext, "/x/a.tar.gz", "t:.gz"},
        {Builtin_extractfileext, "file", "n:0"},
    };
    for (const Case& c : cases) EXPECT_EQ(Run(c.handler, {"t:" + c.path}), c.expected) << c.path;
}

TEST_F(FileBuiltinsTest, DialogsGiveTheAnswerOrZero) {
    std::string seenFilter;
    platform::SetFileDialogHook([&](platform::FileDialogKind kind, const platform::OPENFILENAMEW& record)
                                    -> std::optional<std::string> {
        seenFilter.clear();
        for (const uint16_t* unit = record.filter; unit && (unit[0] || unit[1]); ++unit)
            seenFilter += unit[0] ? static_cast<char>(unit[0]) : '|';
        if (kind == platform::FileDialogKind::Open) return std::string("/tmp/chosen.txt");
        return std::nullopt;
    });
    OpenFrame();
    Push("t:Texts|*.txt");
    Builtin_getfile();
    EXPECT_EQ(PopDescription(), "t:/tmp/chosen.txt");
    EXPECT_EQ(seenFilter, "Texts|*.txt");
    // With more than two arguments the last two count.
    OpenFrame();
    Push("t:ignored");
    Push("t:All|*.*");
    Push("t:/tmp");
    Builtin_getfile();
    EXPECT_EQ(PopDescription(), "t:/tmp/chosen.txt");
    EXPECT_EQ(seenFilter, "All|*.*");
    OpenFrame();
    Push("t:All|*.*");
    Builtin_putfile();
    EXPECT_EQ(PopDescription(), "n:0");
    EXPECT_EQ(StackDepth(), 0);
}

}  // namespace
}  // namespace qob::testing
