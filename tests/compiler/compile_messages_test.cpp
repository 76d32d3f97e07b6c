// tests/compiler/compile_messages_test.cpp
// Message forms byte for byte, counts and caps, the compile log and ERROR%,
// and the program file-name helpers.
#include "compiler/compile_messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "compiler/front_end/token_list.h"
#include "platform/temp_directory.h"
#include "runtime/data/hash.h"

namespace qob {
namespace {

std::vector<std::string> gErrorVariableTexts;
void RecordErrorVariable(std::string_view text) { gErrorVariableTexts.emplace_back(text); }

std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

class CompileMessagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetCompileMessages();
        CompileMessageState& state = GetCompileMessageState();
        state.warningsEnabled = true;
        state.logEnabled = true;
        state.separatorPending = false;
        ASSERT_TRUE(OpenCompileLog(LogPath()));
        gErrorVariableTexts.clear();
        SetErrorVariableWriter(RecordErrorVariable);
    }
    void TearDown() override {
        CloseCompileLog();
        SetErrorVariableWriter(nullptr);
        ResetCompileMessages();
    }

    std::string LogPath() const { return directory.Join(kCompileLogName); }
    std::string LogText() {
        std::fflush(GetCompileMessageState().logStream);
        return ReadWholeFile(LogPath());
    }
    // Appends a token to the fixture's one list.
    TokenNode* Token(const char* text, const char* file, int line, int column) {
        TokenNode& node = nodes.emplace_back();
        node.text = const_cast<char*>(text);
        node.hash = HashName(text, std::strlen(text));
        node.file = file;
        node.line = line;
        node.column = static_cast<uint16_t>(column);
        node.previous = tokens;
        if (tokens != nullptr) tokens->next = &node;
        tokens = &node;
        return tokens;
    }

    testing::TempDirectory directory;
    std::deque<TokenNode> nodes;  // stable addresses
    TokenNode* tokens = nullptr;
};

TEST_F(CompileMessagesTest, FormsAreWrittenByteForByte) {
    TokenNode* x = Token("x", "demo.qob", 12, 5);
    TokenNode* noFile = Token("y", nullptr, 3, 7);
    struct Case {
        const char* fileName;
        const char* text;
        const TokenNode* token;
        int charPos;
        bool isWarning;
        const char* shortForm;  // what ERROR% receives (errors only)
        const char* longForm;   // the log line
    };
    const Case cases[] = {
        {"demo.qob", "Syntax error", x, -1, false, "error: (demo.qob) [Syntax error at 'x' (12,5)]\n",
         "** error ** (demo.qob) Syntax error at 'x' (12,5)\n"},
        // The token's own file replaces the one given.
        {"main.qob", "Syntax error", x, -1, false, "error: (demo.qob) [Syntax error at 'x' (12,5)]\n",
         "** error ** (demo.qob) Syntax error at 'x' (12,5)\n"},
        // No file name: the file part is empty even though the token has a file.
        {nullptr, "Bad", x, -1, false, "error:  [Bad at 'x' (12,5)]\n", "** error **  Bad at 'x' (12,5)\n"},
        {"a.qob", "Bad", noFile, -1, false, "error: (a.qob) [Bad at 'y' (3,7)]\n",
         "** error ** (a.qob) Bad at 'y' (3,7)\n"},
        {"a.qob", "Invalid character '`'", nullptr, 42, false,
         "error: (a.qob) [Invalid character '`' at character position 42]\n",
         "** error ** (a.qob) Invalid character '`' at character position 42\n"},
        {"a.qob", "No main entry point defined", nullptr, -1, false,
         "error: (a.qob) [No main entry point defined]\n", "** error ** (a.qob) No main entry point defined\n"},
        {nullptr, "Library x not found", nullptr, -1, true, nullptr, "** warning **  Library x not found\n"},
        {"a.qob", "Unused", nullptr, 0, true, nullptr, "** warning ** (a.qob) Unused at character position 0\n"},
        // A "%" in the text is never read as a format.
        {"a.qob", "100%s %d", nullptr, -1, false, "error: (a.qob) [100%s %d]\n", "** error ** (a.qob) 100%s %d\n"},
    };
    std::string expectedLog;
    std::string expectedErrors;
    for (const Case& c : cases) {
        ReportCompileMessage(c.fileName, c.text, c.token, c.charPos, c.isWarning);
        expectedLog += c.longForm;
        if (c.shortForm != nullptr) expectedErrors += c.shortForm;
        EXPECT_EQ(GetCompileMessageState().compileErrors, expectedErrors) << c.text;
    }
    EXPECT_EQ(LogText(), expectedLog);
    EXPECT_EQ(GetCompileMessageState().errorCount, 7);
    EXPECT_EQ(GetCompileMessageState().warningCount, 2);
}

TEST_F(CompileMessagesTest, ErrorVariableGetsTheWholeTextAfterEachErrorAndNeverAWarning) {
    ReportCompileMessage("a.qob", "one", nullptr, -1, false);
    ReportCompileMessage("a.qob", "careful", nullptr, -1, true);
    ReportCompileMessage("a.qob", "two", nullptr, -1, false);
    ASSERT_EQ(gErrorVariableTexts.size(), 2u);
    EXPECT_EQ(gErrorVariableTexts[0], "error: (a.qob) [one]\n");
    EXPECT_EQ(gErrorVariableTexts[1], "error: (a.qob) [one]\nerror: (a.qob) [two]\n");
}

TEST_F(CompileMessagesTest, MessageAtDebugMarkerNamesTheTokenTwoFurtherOn) {
    Token("__DEBUG", "p.qob", 1, 1);
    TokenNode* debug = tokens;
    Token("7", "p.qob", 4, 1);
    Token("PRINT", "p.qob", 4, 3);
    ReportCompileMessage("p.qob", "Oops", debug, -1, false);
    EXPECT_EQ(GetCompileMessageState().compileErrors, "error: (p.qob) [Oops at 'PRINT' (4,3)]\n");

    // With only one token after the marker, the message stops there.
    ResetCompileMessages();
    Token("__DEBUG", "p.qob", 5, 1);
    TokenNode* lastDebug = tokens;
    Token("END", "p.qob", 6, 2);
    ReportCompileMessage("p.qob", "Oops", lastDebug, -1, false);
    EXPECT_EQ(GetCompileMessageState().compileErrors, "error: (p.qob) [Oops at 'END' (6,2)]\n");
}

TEST_F(CompileMessagesTest, ErrorsStopAfterTheCapWithANoteOnTheLast) {
    for (int i = 1; i <= 256; ++i) ReportCompileMessage(nullptr, "e", nullptr, -1, false);
    EXPECT_EQ(GetCompileMessageState().errorCount, 256);
    EXPECT_EQ(LogText().find("Too many"), std::string::npos);

    ReportCompileMessage(nullptr, "last", nullptr, -1, false);
    EXPECT_EQ(GetCompileMessageState().errorCount, 257);
    const std::string log = LogText();
    EXPECT_TRUE(log.ends_with("** error **  last\nToo many errors!\n")) << log;
    const std::string errors = GetCompileMessageState().compileErrors;
    EXPECT_TRUE(errors.ends_with("error:  [last]\n"));  // the note is for the log only

    // The 258th is neither counted, logged nor added to the error text.
    ReportCompileMessage(nullptr, "dropped", nullptr, -1, false);
    EXPECT_EQ(GetCompileMessageState().errorCount, 257);
    EXPECT_EQ(LogText(), log);
    EXPECT_EQ(GetCompileMessageState().compileErrors, errors);

    // A warning still reaches the log, and carries the errors' note.
    ReportCompileMessage(nullptr, "w", nullptr, -1, true);
    EXPECT_TRUE(LogText().ends_with("** warning **  w\nToo many errors!\n"));
}

TEST_F(CompileMessagesTest, WarningsStopAfterTheCapWithANoteOnTheLast) {
    for (int i = 1; i <= 257; ++i) ReportCompileMessage(nullptr, "w", nullptr, -1, true);
    EXPECT_EQ(GetCompileMessageState().warningCount, 257);
    EXPECT_TRUE(LogText().ends_with("** warning **  w\nToo many warnings!\n"));
    ReportCompileMessage(nullptr, "w", nullptr, -1, true);
    EXPECT_EQ(GetCompileMessageState().warningCount, 257);
    EXPECT_EQ(GetCompileMessageState().errorCount, 0);
    EXPECT_TRUE(GetCompileMessageState().compileErrors.empty());
    // An error after the warnings' cap carries their note in the log.
    ReportCompileMessage(nullptr, "e", nullptr, -1, false);
    EXPECT_TRUE(LogText().ends_with("** error **  e\nToo many warnings!\n"));
}

TEST_F(CompileMessagesTest, DisabledWarningsChangeNothing) {
    GetCompileMessageState().warningsEnabled = false;
    ReportCompileMessage("a.qob", "w", nullptr, -1, true);
    EXPECT_EQ(GetCompileMessageState().warningCount, 0);
    EXPECT_EQ(LogText(), "");
}

TEST_F(CompileMessagesTest, LogLinesFollowTheSwitchAndTheSeparator) {
    GetCompileMessageState().logEnabled = false;
    ReportCompileMessage(nullptr, "quiet", nullptr, -1, false);
    EXPECT_EQ(LogText(), "");
    EXPECT_EQ(GetCompileMessageState().errorCount, 1);

    GetCompileMessageState().logEnabled = true;
    WriteLogLine("Linking...");
    GetCompileMessageState().separatorPending = true;
    ReportCompileMessage(nullptr, "loud", nullptr, -1, false);
    WriteLogLine(" (3 ms)\n");
    EXPECT_EQ(LogText(), "Linking...\n** error **  loud\n (3 ms)\n");

    CloseCompileLog();
    WriteLogLine("nowhere\n");  // no log open: dropped
    EXPECT_EQ(ReadWholeFile(LogPath()), "Linking...\n** error **  loud\n (3 ms)\n");
}

TEST(FindCompiledFileTest, PicksTheSourceOrTheCompiledFile) {
    testing::TempDirectory directory;
    const std::string only = directory.Join("only");
    directory.Write("only.qob", "");
    const std::string compiled = directory.Join("compiled");
    directory.Write("compiled.qoc", "");
    directory.Write("both.qob", "");
    directory.Write("both.qoc", "");
    directory.Write("both.txt", "");
    directory.MakeDirectory("folder.qob");
    struct Case {
        std::string name;
        std::string expected;
    };
    const Case cases[] = {
        {only, only + ".qob"},
        {compiled, compiled + ".qoc"},
        {directory.Join("none"), directory.Join("none")},
        {directory.Join("both.txt"), directory.Join("both.txt")},    // exists as named
        {directory.Join("both.bas"), directory.Join("both.qob")},    // extension replaced
        {directory.Join("folder"), directory.Join("folder")},        // a directory is no file
        {directory.Join("only.qob"), directory.Join("only.qob")},
        // Names longer than the device's 259 characters are no problem.
        {directory.Join(std::string(300, 'n') + "/x.y"), directory.Join(std::string(300, 'n') + "/x.y")},
    };
    for (const Case& c : cases) EXPECT_EQ(FindCompiledFile(c.name), c.expected) << c.name;
}

TEST(FindCompiledFileTest, DotInADirectoryNameIsNoExtension) {
    testing::TempDirectory directory;
    directory.Write("dir.qob", "");  // what cutting at the first "." would find
    directory.Write("dir.v2/prog.qob", "");
    EXPECT_EQ(FindCompiledFile(directory.Join("dir.v2/prog")), directory.Join("dir.v2/prog.qob"));
    EXPECT_EQ(FindCompiledFile(directory.Join("dir.v2/other")), directory.Join("dir.v2/other"));
}

TEST(IsCompiledFileNameTest, EndsInQocInAnyCase) {
    struct Case {
        const char* name;
        bool expected;
    };
    const Case cases[] = {{"PROG.QOC", true}, {"prog.qoc", true}, {"a.QoC", true}, {".qoc", true},
                          {"prog.qob", false}, {"qoc", false}, {"", false}, {"prog.qocx", false}};
    for (const Case& c : cases) EXPECT_EQ(IsCompiledFileName(c.name), c.expected) << c.name;
}

}  // namespace
}  // namespace qob
