// tests/builtins/files/stream_builtins_test.cpp
// Streams on temporary files: lines of LF and CRLF files, positions, block
// transfers held to their buffer, and handles that are not (or no longer) open.

#include "builtins/files/stream_builtins.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "builtins/operators/operator_fixture.h"
#include "platform/memory.h"

namespace qob::testing {
namespace {

class StreamBuiltinsTest : public OperatorTest {
protected:
    void SetUp() override {
        OperatorTest::SetUp();
        char pattern[] = "/tmp/qob_streams_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
    }
    void TearDown() override {
        EXPECT_EQ(CountOpenStreams(), 0u) << "a test left a stream open";
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

    std::string Open(const std::string& name, const std::string& mode) {
        const std::string handle = Run(Builtin_fopen, {"t:" + Path(name), "t:" + mode});
        EXPECT_NE(handle, "n:0") << name;
        return handle;
    }
    void Close(const std::string& handle) { RunNothing(Builtin_fclose, {handle}); }

    std::vector<std::string> ReadLines(const std::string& handle) {
        std::vector<std::string> lines;
        for (int i = 0; i < 10; ++i) {
            const std::string line = Run(Builtin_readstring, {handle});
            lines.push_back(line + (Run(Builtin_feof, {handle}) != "n:0" ? " eof" : ""));
            if (line == "n:0") break;
        }
        return lines;
    }

    std::string directory;
};

TEST_F(StreamBuiltinsTest, ReadstringReadsLinesOfEitherEnding) {
    Write("lf.txt", "a\nb");
    Write("crlf.txt", "one\r\ntwo\r\n\r\nlast");
    const std::string lf = Open("lf.txt", "r");
    EXPECT_EQ(ReadLines(lf), (std::vector<std::string>{"t:a", "t:b eof", "n:0 eof"}));
    Close(lf);
    // Text mode drops a CRLF's CR as the device's library does; "t" is accepted.
    const std::string text = Open("crlf.txt", "rt");
    EXPECT_EQ(ReadLines(text), (std::vector<std::string>{"t:one", "t:two", "t:", "t:last eof", "n:0 eof"}));
    Close(text);
    // Binary mode removes the one last character only.
    const std::string binary = Open("crlf.txt", "rb");
    EXPECT_EQ(ReadLines(binary), (std::vector<std::string>{"t:one\r", "t:two\r", "t:\r", "t:last eof", "n:0 eof"}));
    Close(binary);
}

TEST_F(StreamBuiltinsTest, ReadstringPastTheEndGivesZero) {
    Write("short.txt", "abc\n");
    const std::string handle = Open("short.txt", "r");
    RunNothing(Builtin_fseek, {handle, "n:100", "n:0"});
    EXPECT_EQ(Run(Builtin_ftell, {handle}), "n:100");
    EXPECT_EQ(Run(Builtin_readstring, {handle}), "n:0");
    Close(handle);
}

TEST_F(StreamBuiltinsTest, WritestringThenReadstringGivesTheTextBack) {
    const std::string handle = Open("rw.txt", "w+");
    RunNothing(Builtin_writestring, {handle, "t:first"});
    RunNothing(Builtin_writestring, {handle, "n:42"});
    EXPECT_EQ(Run(Builtin_fflush, {handle}), "n:0");
    VariableRecord* position = Variable("P$");
    PushNumber(0);
    Push(handle);
    PushVariable(position);
    // fgetpos pops (handle, variable): the first push above is a spare cell.
    Builtin_fgetpos();
    EXPECT_EQ(PopDescription(), "n:0");
    EXPECT_EQ(Describe(position), "n:9");
    PopDescription();
    EXPECT_EQ(Run(Builtin_fsetpos, {handle, "n:0"}), "n:0");
    EXPECT_EQ(Run(Builtin_readstring, {handle}), "t:first");
    EXPECT_EQ(Run(Builtin_ftell, {handle}), "n:6");
    EXPECT_EQ(Run(Builtin_readstring, {handle}), "t:42");
    EXPECT_EQ(Run(Builtin_ferror, {handle}), "n:0");
    Close(handle);
    EXPECT_EQ(Read("rw.txt"), "first\n42\n");
}

TEST_F(StreamBuiltinsTest, ClosedAndUnknownHandlesFailAsTheirRoutines) {
    Write("a.txt", "x");
    const std::string handle = Open("a.txt", "r");
    Close(handle);
    // A second fclose and every use of the closed handle reach no stream.
    for (const std::string& h : {handle, std::string("n:12345"), std::string("n:0")}) {
        RunNothing(Builtin_fclose, {h});
        EXPECT_EQ(Run(Builtin_feof, {h}), "n:1") << h;
        EXPECT_EQ(Run(Builtin_ferror, {h}), "n:1") << h;
        EXPECT_EQ(Run(Builtin_fflush, {h}), "n:-1") << h;
        EXPECT_EQ(Run(Builtin_ftell, {h}), "n:-1") << h;
        EXPECT_EQ(Run(Builtin_fsetpos, {h, "n:0"}), "n:-1") << h;
        EXPECT_EQ(Run(Builtin_readstring, {h}), "n:0") << h;
        EXPECT_EQ(Run(Builtin_fread, {"t:buffer", "n:1", "n:1", h}), "n:0") << h;
        EXPECT_EQ(Run(Builtin_fwrite, {"t:buffer", "n:1", "n:1", h}), "n:0") << h;
        RunNothing(Builtin_fseek, {h, "n:0", "n:0"});
        RunNothing(Builtin_writestring, {h, "t:x"});
    }
}

TEST_F(StreamBuiltinsTest, FopenRefusesDirectoriesAndMissingFiles) {
    EXPECT_EQ(Run(Builtin_fopen, {"t:" + directory, "t:r"}), "n:0");
    EXPECT_EQ(Run(Builtin_fopen, {"t:" + Path("missing"), "t:r"}), "n:0");
    EXPECT_EQ(Run(Builtin_fopen, {"t:" + Path("x"), "t:"}), "n:0");
}

TEST_F(StreamBuiltinsTest, BlockTransfersStayInsideTheBuffer) {
    Write("ten.bin", "0123456789");
    auto* block = static_cast<char*>(platform::AllocateZeroedBlock(4));
    const std::string address = "n:" + std::to_string(reinterpret_cast<uintptr_t>(block));
    const std::string handle = Open("ten.bin", "rb");
    // Ten items of one byte into a 4-byte block: 4 are read.
    EXPECT_EQ(Run(Builtin_fread, {address, "n:1", "n:10", handle}), "n:4");
    EXPECT_EQ(std::string(block, 4), "0123");
    // Items of 3 bytes: one fits.
    EXPECT_EQ(Run(Builtin_fread, {address, "n:3", "n:-5", handle}), "n:1");
    EXPECT_EQ(std::string(block, 3), "456");
    // A negative size fails; sizes whose product overflows 32 bits are cut.
    EXPECT_EQ(Run(Builtin_fread, {address, "n:-1", "n:4", handle}), "n:0");
    EXPECT_EQ(Run(Builtin_fread, {address, "n:65536", "n:65536", handle}), "n:0");
    // Two items of 2 fit; the file has 3 bytes left: one whole item.
    EXPECT_EQ(Run(Builtin_fread, {address, "n:2", "n:2147483647", handle}), "n:1");
    EXPECT_EQ(std::string(block, 4), "7893");
    Close(handle);
    // fwrite takes the size's absolute value and writes no more than the block.
    const std::string out = Open("out.bin", "wb");
    EXPECT_EQ(Run(Builtin_fwrite, {address, "n:-1", "n:100", out}), "n:4");
    EXPECT_EQ(Run(Builtin_fwrite, {address, "n:1", "n:-1", out}), "n:0");
    Close(out);
    EXPECT_EQ(Read("out.bin"), "7893");
    platform::FreeBlock(block);
}

}  // namespace
}  // namespace qob::testing
