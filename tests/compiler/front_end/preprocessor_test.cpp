// tests/compiler/front_end/preprocessor_test.cpp
// Directives over the token stream: conditionals, defines and their
// expansion, #UNDEF, #INCLUDE's search and once-only rule, declarations,
// namespaces and the compilation marks.
#include "compiler/front_end/preprocessor.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "compiler/compile_messages.h"
#include "compiler/front_end/define_table.h"
#include "compiler/front_end_support.h"
#include "platform/temp_directory.h"
#include "runtime/data/file_routines.h"
#include "runtime/data/hash.h"
#include "runtime/registry/function_table.h"

namespace qob {
namespace {

uint32_t Hash(std::string_view text) { return HashName(text.data(), text.size()); }

// "A,B=2" defines A (empty) and B (2).
void SetDefines(std::string_view list) {
    while (!list.empty()) {
        const size_t comma = list.find(',');
        const std::string_view item = list.substr(0, comma);
        const size_t equals = item.find('=');
        if (equals == std::string_view::npos)
            SetDefine(item, "");
        else
            SetDefine(item.substr(0, equals), std::string(item.substr(equals + 1)));
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
}

class PreprocessorTest : public testing::FrontEndTest {
protected:
    // A fresh compilation: no defines, no open level, no marks.
    void Restart() {
        TearDown();
        SetUp();
    }
};

struct ConditionalCase {
    const char* defines;
    const char* source;
    const char* tokens;
};

constexpr const char* kChain = "#IFDEF A\none\n#ELSEIF B\ntwo\n#ELSE\nthree\n#ENDIF\nd";
constexpr const char* kNotChain = "#IFNDEF A\nx\n#ELSE\ny\n#ENDIF";
constexpr const char* kNestedInInactive = "#IFDEF NO\n#IFDEF YES\nx\n#ELSE\ny\n#ENDIF\nz\n#ENDIF\nw";
constexpr const char* kNestedActive = "#IFDEF A\n#IFNDEF B\nx\n#ELSE\ny\n#ENDIF\nz\n#ENDIF";

constexpr ConditionalCase kConditionals[] = {
    {"", kChain, "THREE@6:1 D@8:1"},
    {"B", kChain, "TWO@4:1 D@8:1"},
    {"A,B", kChain, "ONE@2:1 D@8:1"},
    {"A", kChain, "ONE@2:1 D@8:1"},
    {"", kNotChain, "X@2:1"},
    {"A", kNotChain, "Y@4:1"},
    // An #IFDEF inside an inactive level opens no level: its #ELSE changes nothing.
    {"YES", kNestedInInactive, "W@9:1"},
    {"NO", kNestedInInactive, "Y@5:1 Z@7:1 W@9:1"},
    {"A,B", kNestedActive, "Y@5:1 Z@7:1"},
    {"A", kNestedActive, "X@3:1 Z@7:1"},
    {"", kNestedActive, ""},
    // After a taken branch an #ELSEIF stays inactive, its name unread.
    {"A", "#IFDEF A\none\n#ELSEIF A\ntwo\n#ELSE\nthree\n#ENDIF", "ONE@2:1"},
    // The awaited name is never expanded.
    {"A=B", "#IFDEF A\nx\n#ENDIF", "X@2:1"},
    // Directive words are read in any case.
    {"a", "#ifdef a\nx\n#else\ny\n#endif", "X@2:1"},
    // A line end in place of the name: a name that is not defined.
    {"", "#IFDEF\nx\n#ENDIF\ny", "Y@4:1"},
    // Without an open level #ENDIF, #ELSE and #ELSEIF change nothing.
    {"", "#ENDIF\na\n#ELSE\nb\n#ELSEIF X\nc", "A@2:1 B@4:1 X@5:9 C@6:1"},
    {"A", "#IFDEF A\n#ENDIF\n#ENDIF\n#ELSE\nx", "X@5:1"},
};

TEST_F(PreprocessorTest, ConditionalsKeepOnlyTheActiveBranches) {
    for (const ConditionalCase& c : kConditionals) {
        Restart();
        SetDefines(c.defines);
        EXPECT_EQ(Run(c.source), c.tokens) << c.defines << " | " << c.source;
        EXPECT_EQ(GetPreprocessorState().depth, -1) << c.source;
        EXPECT_EQ(Errors(), "") << c.source;
    }
}

TEST_F(PreprocessorTest, OpenLevelIsLeftForTheDriverToReport) {
    Run("#IFDEF A\nx");
    EXPECT_EQ(GetPreprocessorState().depth, 0);
}

TEST_F(PreprocessorTest, TooManyNestedLevelsStopTheText) {
    std::string source;
    for (int i = 0; i <= kMaxConditionalDepth; ++i) source += "#IFNDEF A\n";
    source += "x";
    EXPECT_EQ(Run(source), "");
    EXPECT_EQ(Errors(), "error: (test.qob) [Too many nested #IFDEF levels]\n");
    EXPECT_EQ(GetPreprocessorState().depth, kMaxConditionalDepth - 1);
}

struct DefineCase {
    const char* source;
    const char* tokens;
};

constexpr DefineCase kDefines[] = {
    {"#DEFINE MAX 10\nx = MAX", "X@2:1 =@2:3 10@2:5"},
    // Every token of a value carries the position of the define's use.
    {"#DEFINE V 1+2\n  y V", "Y@2:3 1@2:5 +@2:5 2@2:5"},
    {"#define max 10\nMAX max", "10@2:1 10@2:5"},
    // The value's tokens are joined by a blank, so they stay apart.
    {"#DEFINE T a$ AND b$\nT", "A$@2:1 AND@2:1 B$@2:1"},
    // A lone backslash carries the value over exactly one line end.
    {"#DEFINE L 1 \\\n+ 2\nx L", "X@3:1 1@3:3 +@3:3 2@3:3"},
    {"#DEFINE L 1 \\\n+ 2\n3", "3@3:1"},
    {"#DEFINE E\nx E y", "X@2:1 Y@2:5"},
    // Escapes stay as written until the value is used.
    {"#DEFINE S \"a\\nb\"\nS", "\"a\\r\\nb\"@2:1"},
    {"#DEFINE B {say \"hi\"}\nB", "\"say \"hi\"\"@2:1"},
    {"#DEFINE {Spaced Name} 1\nSPACED", "SPACED@2:1"},
    // Character codes and single-quoted texts belong to the value.
    {"#DEFINE CRLF #13#10\nx CRLF", "X@2:1 \"\\r\\n\"@2:3"},
    {"#DEFINE Q 'ab'\nQ", "EVALSTRING@2:1 (@2:1 \"ab\"@2:1 )@2:1"},
    // Defines inside a value are expanded when it is collected.
    {"#DEFINE ONE 1\n#DEFINE TWO ONE + ONE\n#UNDEF ONE\nTWO ONE", "1@4:1 +@4:1 1@4:1 ONE@4:5"},
    // Words ending in "$" or "%" are never expanded.
    {"#DEFINE X 5\nX% X$ X", "X%@2:1 X$@2:4 5@2:7"},
    {"#DEFINE A 1\n#DEFINE B 2\n#UNDEF A B\nA B", "A@4:1 B@4:3"},
    // #UNDEF names are not expanded, so a defined name can be removed.
    {"#DEFINE A 1\n#UNDEF A\nA", "A@3:1"},
    {"#DEFINE A 1\n#UNDEF\nA", "1@3:1"},
    {"#UNDEF NEVER\nx", "X@2:1"},
    // A value that uses the directives: the include operand is expanded.
    {"#DEFINE P #NOQOC\nP x", "X@2:3"},
};

TEST_F(PreprocessorTest, DefinesAreCollectedAndExpanded) {
    for (const DefineCase& c : kDefines) {
        Restart();
        EXPECT_EQ(Run(c.source), c.tokens) << c.source;
        EXPECT_EQ(Errors(), "") << c.source;
    }
}

TEST_F(PreprocessorTest, GivenPositionIsCarriedByEveryToken) {
    FreeTokenList(tokens);
    tokens = PreprocessFile(nullptr, "#DEFINE N 5\na\n  N", nullptr, true, 0, 7, 3);
    EXPECT_EQ(testing::DescribeTokens(tokens), "A@7:3 5@7:3");
}

TEST_F(PreprocessorTest, DefineValueIsStoredAsWritten) {
    Run("#DEFINE S \"a\\nb\"   {c}  'de' #9 x");
    const DefineEntry* entry = GetDefine(FindDefineByHash(Hash("S")));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->value, "\"a\\nb\" {c} 'de' #9 x");
    EXPECT_EQ(GetPreprocessorState().lastDefineIndex, FindDefineByHash(Hash("S")));
}

TEST_F(PreprocessorTest, DefineOfItsOwnNameIsRefused) {
    EXPECT_EQ(Run("x\n#DEFINE MAX MAX\nMAX"), "X@1:1 MAX@3:1");
    EXPECT_EQ(Errors(), "error: (test.qob) [Define value cannot be the same as it's name at 'X' (1,1)]\n");
}

TEST_F(PreprocessorTest, CyclicDefinesStopWithOneError) {
    struct Case {
        const char* source;
        const char* lastToken;  // the reading goes on after the use
    };
    const Case cases[] = {
        {"#DEFINE A b\n#DEFINE B a\nA x", "X@3:3"},  // lower case: not expanded when collected
        {"#DEFINE foo Foo\nfoo x", "X@2:5"},        // differs from its name only in case
        {"#DEFINE A A A\nA x", "X@2:3"},            // doubles at every level
    };
    for (const Case& c : cases) {
        Restart();
        const std::string tokens = Run(c.source);
        EXPECT_EQ(GetCompileMessageState().errorCount, 1) << c.source;
        EXPECT_NE(Errors().find("is expanded too deeply"), std::string::npos) << Errors();
        EXPECT_TRUE(tokens.ends_with(c.lastToken)) << tokens;
        EXPECT_EQ(GetPreprocessorState().expansionDepth, 0);
        EXPECT_FALSE(GetPreprocessorState().expansionAborted);
    }
}

// Defines that each name the previous one twice double the text on every
// line (a value is expanded as it is collected); the compilation's
// expansions are bounded in all, not only in depth.
TEST_F(PreprocessorTest, DoublingDefinesStopAtTheExpansionBudgetWithOneError) {
    auto chain = [](int levels) {
        std::string source = "#DEFINE D0 1\n";
        for (int i = 1; i < levels; ++i)
            source += "#DEFINE D" + std::to_string(i) + " D" + std::to_string(i - 1) + " D" + std::to_string(i - 1) + "\n";
        return source + "D" + std::to_string(levels - 1) + " x";
    };
    // Within the budget: 2^11 ones, then the word after the use.
    std::string tokens = Run(chain(12));
    EXPECT_EQ(GetCompileMessageState().errorCount, 0) << Errors();
    EXPECT_TRUE(tokens.ends_with(" X@13:5")) << tokens.substr(tokens.size() - 40);
    size_t ones = 0;
    for (size_t at = tokens.find("1@"); at != std::string::npos; at = tokens.find("1@", at + 1)) ++ones;
    EXPECT_EQ(ones, size_t{1} << 11);

    // 2^31 ones would take the compiler minutes and gigabytes. The budget
    // runs out while a value is collected; later uses expand to nothing.
    Restart();
    tokens = Run(chain(32));
    EXPECT_EQ(GetCompileMessageState().errorCount, 1) << Errors();
    EXPECT_NE(Errors().find("\" expands to too much text"), std::string::npos) << Errors();
    EXPECT_EQ(tokens, "X@33:5");
    EXPECT_EQ(GetPreprocessorState().expansionDepth, 0);
    EXPECT_FALSE(GetPreprocessorState().expansionAborted);
}

TEST_F(PreprocessorTest, LinkOptions) {
    struct Case {
        const char* source;
        int limit;
        const char* errors;
    };
    const Case cases[] = {
        {"#LINK Multi", 999, ""},
        {"#LINK off", 0, ""},
        {"#LINK 1", 1, ""},
        {"x\n#LINK 2", 7, "error: (test.qob) [Invalid link option at 'X' (1,1)]\n"},
    };
    for (const Case& c : cases) {
        Restart();
        GetPreprocessorState().marks.linkPassLimit = 7;
        Run(c.source);
        EXPECT_EQ(GetPreprocessorState().marks.linkPassLimit, c.limit) << c.source;
        EXPECT_EQ(Errors(), c.errors) << c.source;
    }
}

TEST_F(PreprocessorTest, MarksOfTheCompilation) {
    EXPECT_EQ(Run("#GLOBALS\n#DEFINE G 1\n#LOCALS\n#DEFINE L 2\n#LIBRARY\n#NOQOC\n"
                  "#ICON \"first.ico\"\n#ICON second.ico\n#NOWARNING\nx"),
              "X@10:1");
    EXPECT_EQ(GetDefine(FindDefineByHash(Hash("G")))->owner, kDefineOwnerGlobal);
    EXPECT_EQ(GetDefine(FindDefineByHash(Hash("L")))->owner, kDefineOwnerProgram);
    const CompileMarks& marks = GetPreprocessorState().marks;
    EXPECT_TRUE(marks.library);
    EXPECT_TRUE(marks.noCompiledFile);
    EXPECT_EQ(marks.iconFile, "first.ico");
    EXPECT_FALSE(GetCompileMessageState().warningsEnabled);
}

std::vector<std::string> gDebugLogs;
std::vector<bool> gLogSwitches;

TEST_F(PreprocessorTest, DebugLogDirectives) {
    gDebugLogs.clear();
    gLogSwitches.clear();
    PreprocessorHooks hooks;
    hooks.openDebugLog = [](std::string_view path) { gDebugLogs.emplace_back(path); };
    hooks.setRuntimeLog = [](bool on) { gLogSwitches.push_back(on); };
    SetPreprocessorHooks(hooks);
    EXPECT_EQ(Run("#DEBUGFILE \"one.txt\"\n#DEBUGOFF\n#DEBUGFILE two.txt\n#DEBUGON\n#DEBUGFILE three\nx"),
              "X@6:1");
    EXPECT_EQ(gDebugLogs, (std::vector<std::string>{"one.txt", "THREE"}));
    EXPECT_EQ(gLogSwitches, (std::vector<bool>{false, true}));
}

// Looks up a declared native function; the record is removed again when
// the test ends.
class DeclarationTest : public PreprocessorTest {
protected:
    void TearDown() override {
        for (int index : declared) ClearFunctionRecord(index);
        PreprocessorTest::TearDown();
    }
    const FunctionRecord& Declared(std::string_view name) {
        const int index = FindFunctionByName(name);
        EXPECT_GE(index, 0) << name;
        declared.push_back(index);
        return *FunctionRecordAt(index);
    }
    std::vector<int> declared;
};

TEST_F(DeclarationTest, DeclarationsKeepTheExportNameCase) {
    EXPECT_EQ(Run("#DECLARE FrontBeep \"coredll\" MessageBeep 1 1\n"
                  "#GLOBALS\n#C_DECLAREAPI \"FrontDraw\", gdi, \"DrawTextW\", 5, 0\nafter"),
              "AFTER@4:1");
    const FunctionRecord& beep = Declared("FRONTBEEP");
    EXPECT_TRUE(beep.declaredNative);
    EXPECT_EQ(beep.libraryName, "coredll");
    EXPECT_EQ(beep.exportName, "MessageBeep");
    EXPECT_EQ(beep.argumentCount, 1);
    EXPECT_EQ(beep.returnsValue, 1);
    EXPECT_EQ(beep.wideText, 0);
    EXPECT_EQ(beep.sForm, 1);
    EXPECT_EQ(beep.ownerMark, kDefineOwnerProgram);
    const FunctionRecord& draw = Declared("FrontDraw");
    EXPECT_EQ(draw.libraryName, "GDI");  // a word is upper-cased
    EXPECT_EQ(draw.exportName, "DrawTextW");
    EXPECT_EQ(draw.argumentCount, 5);
    EXPECT_EQ(draw.returnsValue, 0);
    EXPECT_EQ(draw.wideText, 1);
    EXPECT_EQ(draw.sForm, 0);
    EXPECT_EQ(draw.ownerMark, kDefineOwnerGlobal);
}

TEST_F(DeclarationTest, DeclarationVariantsSetTheirFlags) {
    Run("#DECLARE FrontA l e 0 0\n#DECLAREAPI FrontB l e 0 0\n#C_DECLARE FrontC l e 0 0\n"
        "#C_DECLAREAPI FrontD l e 300 0");
    struct Case {
        const char* name;
        uint8_t wideText;
        uint8_t sForm;
    };
    const Case cases[] = {{"FRONTA", 0, 1}, {"FRONTB", 1, 1}, {"FRONTC", 0, 0}, {"FRONTD", 1, 0}};
    for (const Case& c : cases) {
        const FunctionRecord& record = Declared(c.name);
        EXPECT_EQ(record.wideText, c.wideText) << c.name;
        EXPECT_EQ(record.sForm, c.sForm) << c.name;
    }
    EXPECT_EQ(Declared("FRONTD").argumentCount, 300 & 0xFF);  // truncated to a byte
}

TEST_F(PreprocessorTest, ImportWithoutTypeLibrariesIsAnError) {
    EXPECT_EQ(Run("#IMPORT \"shapes.tlb\"\nx"), "X@2:1");
    EXPECT_EQ(Errors(), "error: (test.qob) [Error importing \"shapes.tlb\" at character position 0]\n");
}

TEST_F(PreprocessorTest, CodeDirectiveMovesFileAndLine) {
    EXPECT_EQ(Run("#CODE \"Other.qob,10\"\n  x\n#CODE \"bare.qob\"\ny"),
              "#CODE@1:1 \"Other.qob,10\"@1:7 X@11:3 #CODE@12:1 \"bare.qob\"@12:7 Y@1:1");
    const TokenNode* y = tokens;
    EXPECT_STREQ(y->file, "bare.qob");
    EXPECT_STREQ(y->previous->previous->previous->file, "other.qob");
}

TEST_F(PreprocessorTest, NamespacesAreAppendedAndNest) {
    EXPECT_EQ(Run("#DEFINE NS OTHER\n#NAMESPACE NS\n#NAMESPACE In\nx"),
              "#NAMESPACE@2:1 NS@2:12 #NAMESPACE@3:1 IN@3:12 X@4:1");
    PreprocessorState& state = GetPreprocessorState();
    EXPECT_EQ(state.namespaceWord, Hash("IN"));
    Run("#ENDNAMESPACE");
    EXPECT_EQ(state.namespaceWord, Hash("NS"));
    Run("#ENDNAMESPACE\n#ENDNAMESPACE\n#ENDNAMESPACE");
    EXPECT_EQ(state.namespaceWord, 0u);
    EXPECT_TRUE(state.namespaceStack.empty());
}

TEST_F(PreprocessorTest, TablesRefuseToGrowPastTheirCapacity) {
    std::string nested;
    for (size_t i = 0; i <= kMaxNamespaceDepth; ++i) nested += "#NAMESPACE N" + std::to_string(i) + "\n";
    Run(nested);
    EXPECT_EQ(Errors(), "error: (test.qob) [Too many nested namespaces at 'N256' (257,12)]\n");
    EXPECT_EQ(GetPreprocessorState().namespaceStack.size(), kMaxNamespaceDepth);

    Restart();
    for (size_t i = 0; i < kMaxIncludedFiles; ++i)
        GetPreprocessorState().includedFiles.push_back({static_cast<uint32_t>(i), 0});
    tokens = PreprocessFile("more.qob", "x", nullptr, true, 0);
    EXPECT_EQ(tokens, nullptr);
    EXPECT_EQ(Errors(), "error: (more.qob) [Too many included files]\n");

    Restart();
    for (int i = 0; i < kMaxDefines; ++i) ASSERT_GE(SetDefine(std::string("D").append(std::to_string(i)), "1"), 0);
    EXPECT_EQ(Run("#DEFINE ONEMORE 1\nONEMORE"), "ONEMORE@2:1");
    EXPECT_EQ(Errors(), "error: (test.qob) [Too many defines]\n");
}

// A define on the text's last line needs no line end after it.
TEST_F(PreprocessorTest, DefineOnTheLastLineIsSet) {
    Run("#DEFINE LAST 1");
    EXPECT_GE(FindDefineByHash(Hash("LAST")), 0);
    Run("#DEFINE CONT 2 \\");
    EXPECT_GE(FindDefineByHash(Hash("CONT")), 0);
    EXPECT_EQ(GetPreprocessorState().defineState, DefineState::Idle);
}

TEST_F(PreprocessorTest, ParserDirectivesPassOn) {
    EXPECT_EQ(Run("#CLASS #ENDCLASS #OBJECT #INHERITED #RANGECHECK #EXPLICIT"),
              "#CLASS@1:1 #ENDCLASS@1:8 #OBJECT@1:18 #INHERITED@1:26 #RANGECHECK@1:37 #EXPLICIT@1:49");
}

TEST_F(PreprocessorTest, AssemblerModeDirectives) {
    GetPreprocessorState().assemblerMode = true;
    EXPECT_EQ(Run("#DEASM\n#GLOBALS #CODE x"), "#GLOBALS@2:1 #CODE@2:10 X@2:16");
    EXPECT_TRUE(GetPreprocessorState().deasmSeen);
    EXPECT_FALSE(IsDefineGlobalMark());
}

// Include search over real files: a program in prog/, the application
// directory app/ with its Lib folder, and a LIBPATH% directory libs/.
class IncludeTest : public PreprocessorTest {
protected:
    void SetUp() override {
        PreprocessorTest::SetUp();
        savedApplicationDirectory = ApplicationDirectory();
        SetApplicationDirectory(directory.Join("app/"));
        directory.MakeDirectory("app/Lib");
        directory.MakeDirectory("libs");
        libraryPath = {directory.Join("libs")};
        PreprocessorHooks hooks;
        hooks.readLibraryPath = [] { return libraryPath; };
        hooks.showProgressText = [](std::string_view text) { progress.emplace_back(text); };
        SetPreprocessorHooks(hooks);
        progress.clear();
    }
    void TearDown() override {
        SetApplicationDirectory(savedApplicationDirectory);
        PreprocessorTest::TearDown();
    }

    std::string RunMain(std::string_view source, bool logQuiet = true) {
        mainPath = directory.Write("prog/main.qob", source);
        FreeTokenList(tokens);
        ClearIncludedFiles();
        tokens = PreprocessFile(mainPath.c_str(), source, nullptr, logQuiet, 0);
        return testing::DescribeTokens(tokens);
    }
    // The tokens without their positions, and the #CODE pairs as "{path}".
    std::string Texts() const {
        std::string texts;
        for (const TokenNode* node = TokenListFirst(tokens); node != nullptr; node = node->next) {
            if (!texts.empty()) texts += ' ';
            texts += node->text;
        }
        return texts;
    }

    testing::TempDirectory directory;
    std::string savedApplicationDirectory;
    std::string mainPath;
    static inline std::vector<std::string> libraryPath;
    static inline std::vector<std::string> progress;
};

// A report may answer that no later position of the file needs one; an
// included file reports its own, and the including file then reports again.
TEST_F(IncludeTest, AFileReportsAgainAfterAnIncludedFileReportedItsOwn) {
    static std::vector<std::pair<int, int>> positions;
    positions.clear();
    PreprocessorHooks hooks;
    hooks.readLibraryPath = [] { return libraryPath; };
    hooks.showProgressPosition = [](const char*, int position, int total) -> int64_t {
        positions.emplace_back(position, total);
        return INT64_MAX;
    };
    SetPreprocessorHooks(hooks);
    directory.Write("prog/inner.qob", "a b c");
    const std::string source = "#INCLUDE \"inner\"\nx y z";
    RunMain(source);
    EXPECT_EQ(Errors(), "");
    const int length = static_cast<int>(source.size());
    ASSERT_EQ(positions.size(), 3u);
    EXPECT_EQ(positions[0], std::make_pair(0, length));
    EXPECT_EQ(positions[1], std::make_pair(0, 5));
    EXPECT_GT(positions[2].first, 0);
    EXPECT_EQ(positions[2].second, length);
}

// Line ends that mean nothing may be passed by the scanner, but a report
// falls due at the start of every token the window asks for, line ends
// included: a loader program asks for every one.
TEST_F(IncludeTest, ReportsFallDueAtEveryPositionTheWindowAsksFor) {
    static std::vector<int> positions;
    static int64_t step;
    PreprocessorHooks hooks;
    hooks.showProgressPosition = [](const char*, int position, int) -> int64_t {
        positions.push_back(position);
        return position + step;
    };
    SetPreprocessorHooks(hooks);
    // a=0 LF=1 LF=2 b=3 c=5 CR LF=6 d=8, end at 9
    const std::string source = "a\n\nb c\r\nd";
    struct Case {
        int64_t step;
        std::vector<int> positions;
    };
    const Case cases[] = {
        {1, {0, 1, 2, 3, 4, 6, 8, 9}},
        {2, {0, 2, 4, 6, 8}},
        {3, {0, 3, 6, 9}},
        {INT64_MAX / 2, {0}},
    };
    for (const Case& c : cases) {
        positions.clear();
        step = c.step;
        EXPECT_EQ(RunMain(source), "A@1:1 B@3:1 C@3:3 D@4:1") << c.step;
        EXPECT_EQ(positions, c.positions) << c.step;
    }
}

TEST_F(IncludeTest, EachSearchStepFindsItsFile) {
    directory.Write("prog/beside.qob", "beside");
    directory.Write("app/inapp.qob", "inapp");
    directory.Write("app/Lib/inlib.qob", "inlib");
    directory.Write("libs/inpath.qob", "inpath");
    RunMain("#INCLUDE \"beside\"\n#INCLUDE {inapp}\n#INCLUDE inlib\n#INCLUDE \"InPath.QOB\"\nend");
    EXPECT_EQ(Errors(), "");
    const std::string code = "#CODE \"" + mainPath + "\"";
    EXPECT_EQ(Texts(), "#CODE \"" + directory.Join("prog/beside.qob") + "\" BESIDE " + code +
                           " #CODE \"" + directory.Join("app/inapp.qob") + "\" INAPP " + code +
                           " #CODE \"" + directory.Join("app/Lib/inlib.qob") + "\" INLIB " + code +
                           " #CODE \"" + directory.Join("libs/inpath.qob") + "\" INPATH " + code + " END");
}

TEST_F(IncludeTest, NearerFileWinsAndLinesStayTrue) {
    directory.Write("prog/util.qob", "near\n  second");
    directory.Write("app/util.qob", "far");
    const std::string description = RunMain("a\n#INCLUDE \"util\"\nb");
    EXPECT_EQ(description,
              "A@1:1 #CODE@1:1 \"" + directory.Join("prog/util.qob") + "\"@1:1 NEAR@1:1 SECOND@2:3 #CODE@2:10 \"" +
                  mainPath + "\"@2:10 B@3:1");
    const TokenNode* near = TokenListFirst(tokens)->next->next->next;
    std::string lowerPath = directory.Join("prog/util.qob");
    for (char& c : lowerPath) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_STREQ(near->text, "NEAR");
    EXPECT_EQ(near->file, lowerPath);
    EXPECT_EQ(progress, (std::vector<std::string>{"Analyzing (main.qob)...\n", "Analyzing (util.qob)...\n",
                                                  "Analyzing (main.qob)...\n"}));
}

TEST_F(IncludeTest, NameWithADotOnlyInItsDirectoryGetsTheExtension) {
    directory.Write("lib/util.qob", "found");
    RunMain("#INCLUDE \"../lib/util\"");
    EXPECT_EQ(Errors(), "");
    EXPECT_NE(Texts().find("FOUND"), std::string::npos) << Texts();
}

TEST_F(IncludeTest, FileIsIncludedOncePerNamespace) {
    directory.Write("prog/util.qob", "u");
    struct Case {
        const char* source;
        int copies;
    };
    const Case cases[] = {
        {"#INCLUDE util\n#INCLUDE \"util.qob\"", 1},
        {"#INCLUDE util\n#INCLUDE \"../prog/UTIL.QOB\"", 1},
        {"#NAMESPACE A\n#INCLUDE util\n#ENDNAMESPACE\n#NAMESPACE B\n#INCLUDE util\n#ENDNAMESPACE", 2},
        {"#NAMESPACE A\n#INCLUDE util\n#INCLUDE util\n#ENDNAMESPACE", 1},
        {"#INCLUDE util\n#NAMESPACE A\n#INCLUDE util\n#ENDNAMESPACE", 1},
        // The main file is in the table too.
        {"#INCLUDE main\nx", 0},
    };
    for (const Case& c : cases) {
        Restart();
        RunMain(c.source);
        const std::string texts = Texts();
        int copies = 0;
        for (size_t at = texts.find(" U "); at != std::string::npos; at = texts.find(" U ", at + 1)) ++copies;
        EXPECT_EQ(copies, c.copies) << c.source << " -> " << texts;
        EXPECT_EQ(Errors(), "") << c.source;
    }
}

TEST_F(IncludeTest, MissingFileEndsTheIncludingText) {
    EXPECT_EQ(RunMain("x\n#INCLUDE \"nothere\"\ny"), "X@1:1");
    EXPECT_EQ(Errors(), "error: (" + mainPath + ") [File \"nothere.qob\" not found at character position 20]\n");
}

TEST_F(IncludeTest, DefinedOperandIsExpanded) {
    directory.Write("prog/util.qob", "u");
    RunMain("#DEFINE LIB \"util\"\n#INCLUDE LIB");
    EXPECT_NE(Texts().find(" U "), std::string::npos) << Texts();
}

TEST_F(IncludeTest, CompileLogListsTheFilesIndented) {
    directory.Write("prog/util.qob", "u");
    const std::string logPath = directory.Join(kCompileLogName);
    ASSERT_TRUE(OpenCompileLog(logPath));
    RunMain("#INCLUDE util", false);
    CloseCompileLog();
    std::ifstream file(logPath);
    std::stringstream log;
    log << file.rdbuf();
    EXPECT_EQ(log.str(), mainPath + "\n  " + directory.Join("prog/util.qob") + "\n");
}

TEST_F(IncludeTest, TextWithoutFileIsNamedByItsFirstLine) {
    FreeTokenList(tokens);
    tokens = PreprocessFile(nullptr, "x = 1; y = 2\nz", nullptr, true, 0);
    EXPECT_EQ(progress, (std::vector<std::string>{"Analyzing (x = 1; y = 2)...\n"}));
    EXPECT_EQ(TokenCountBack(tokens), 8);
}

}  // namespace
}  // namespace qob
