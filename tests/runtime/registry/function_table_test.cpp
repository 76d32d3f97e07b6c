// tests/runtime/registry/function_table_test.cpp
// Registration, replacement, lookups and the capacity bound of the function table.
#include "runtime/registry/function_table.h"

#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "compiler/compile_messages.h"
#include "runtime/data/hash.h"
#include "runtime/registry/hooks.h"

namespace qob {
namespace {

int handlerCalls[3];
void HandlerA() { ++handlerCalls[0]; }
void HandlerB() { ++handlerCalls[1]; }
void HandlerC() { ++handlerCalls[2]; }

class FunctionTableTest : public ::testing::Test {
protected:
    void SetUp() override { FreeFunctionTable(); }
    void TearDown() override { FreeFunctionTable(); }
};

TEST_F(FunctionTableTest, RegistrationUpperCasesAndHashesTheName) {
    int index = RegisterFunction("ReadWrite", HandlerA);
    ASSERT_EQ(index, 0);
    const FunctionRecord* record = FunctionRecordAt(index);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->name, "READWRITE");
    EXPECT_EQ(record->nameHash, HashName("READWRITE", 9));
    EXPECT_EQ(record->handler, &HandlerA);
    EXPECT_EQ(FindFunctionByHash(HashName("READWRITE", 9)), index);
    EXPECT_EQ(FindFunctionByName("readwrite"), index);
    EXPECT_EQ(FindFunctionByName("READ"), -1);
}

TEST_F(FunctionTableTest, OnlyAsciiLettersAreUpperCased) {
    EXPECT_EQ(UpperCaseName("a\xE9z_1"), "A\xE9Z_1");
    int index = RegisterFunction("caf\xE9", HandlerA);
    EXPECT_EQ(FunctionRecordAt(index)->name, "CAF\xE9");
    EXPECT_EQ(FindFunctionByHash(HashName("CAF\xE9", 4)), index);
}

// The hash taken without an upper-cased copy, at run time and at compile
// time, is the hash of the copy: bytes next to the letters and bytes above
// 127 (read as negative) stay as they are.
TEST_F(FunctionTableTest, HashWithoutACopyIsTheHashOfTheUpperCasedName) {
    constexpr uint32_t kAtCompileTime = HashUpperCaseName("ReadWrite");
    EXPECT_EQ(kAtCompileTime, HashName("READWRITE", 9));
    const std::string cases[] = {"",       "a",          "z",       "`az{",  "@AZ[",           "g_rgb",
                                 "caf\xE9", "\xFF\x80x", "m=",      "++2",   "__dropallfctstack",
                                 std::string("a\0b", 3),   "extractfilefrompackageex"};
    for (const std::string& name : cases) {
        const std::string upper = UpperCaseName(name);
        EXPECT_EQ(HashUpperCaseName(name), HashName(upper.data(), upper.size())) << name;
        EXPECT_EQ(HashUpperCaseName(name), HashUpperCaseName(upper)) << name;
    }
}

// A declaration's text holds its own copy: empty until set, set again in
// place, emptied by an empty text; copies are independent of the original.
TEST(DeclaredTextTest, HoldsItsOwnCopy) {
    DeclaredText text;
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(text, "");
    std::string source = "coredll";
    text = source;
    source[0] = 'X';
    EXPECT_EQ(text, "coredll");
    EXPECT_FALSE(text.empty());
    text = std::string_view("gdi.dll");
    EXPECT_EQ(text.view(), "gdi.dll");
    EXPECT_FALSE(text == "gdi");

    DeclaredText copy = text;
    text = "other";
    EXPECT_EQ(copy, "gdi.dll");
    copy = text;
    EXPECT_EQ(copy, "other");
    DeclaredText moved = std::move(copy);
    EXPECT_EQ(moved, "other");
    moved = "";
    EXPECT_TRUE(moved.empty());
    std::ostringstream shown;
    shown << text;
    EXPECT_EQ(shown.str(), "other");

    // A record's copy keeps its own texts too.
    FunctionRecord record;
    record.libraryName = "lib.dll";
    record.exportName = "Entry";
    FunctionRecord copied = record;
    record.exportName = "EntryW";
    EXPECT_EQ(copied.libraryName, "lib.dll");
    EXPECT_EQ(copied.exportName, "Entry");
}

TEST_F(FunctionTableTest, SameNameInAnotherCaseReplacesTheRecordInItsSlot) {
    ASSERT_EQ(RegisterFunction("first", HandlerC), 0);
    ASSERT_EQ(RegisterFunction("abc", HandlerA), 1);
    ASSERT_EQ(RegisterFunction("last", HandlerC), 2);
    EXPECT_EQ(RegisterFunction("ABC", HandlerB), 1);
    EXPECT_EQ(FunctionCount(), 3);
    EXPECT_EQ(FunctionRecordAt(1)->handler, &HandlerB);
    EXPECT_EQ(FunctionRecordAt(2)->name, "LAST");
}

TEST_F(FunctionTableTest, ReRegistrationClearsWhatTheNewRegistrationDoesNotSet) {
    int index = RegisterFunctionFlagsEx("sum", HandlerA, true, true, true);
    ASSERT_GE(index, 0);
    EXPECT_EQ(FunctionRecordAt(index)->anyArity, 1);
    EXPECT_EQ(FunctionRecordAt(index)->argumentFrame, 1);

    EXPECT_EQ(RegisterBuiltin("sum", HandlerB, 2, false), index);
    const FunctionRecord* record = FunctionRecordAt(index);
    EXPECT_EQ(record->anyArity, 0);
    EXPECT_EQ(record->argumentFrame, 0);
    EXPECT_EQ(record->returnsValue, 0);
    EXPECT_EQ(record->argumentCount, 2);
    EXPECT_EQ(record->handler, &HandlerB);

    EXPECT_EQ(RegisterFunction("sum", HandlerC), index);
    EXPECT_EQ(FunctionRecordAt(index)->argumentCount, 0);
}

TEST_F(FunctionTableTest, EachRegistrarSetsItsOwnFields) {
    struct Case {
        int index;
        uint8_t argumentCount, returnsValue, anyArity, argumentFrame;
    };
    const Case cases[] = {
        {RegisterFunction("plain", HandlerA), 0, 0, 0, 0},
        {RegisterFunctionFlags("framed", HandlerA, true, true), 0, 0, 1, 1},
        {RegisterFunctionFlags("loose", HandlerA, true, false), 0, 0, 1, 0},
        {RegisterFunctionFlagsEx("framedvalue", HandlerA, true, true, true), 0, 1, 1, 1},
        {RegisterBuiltin("three", HandlerA, 3, true), 3, 1, 0, 0},
    };
    for (const Case& c : cases) {
        const FunctionRecord* record = FunctionRecordAt(c.index);
        ASSERT_NE(record, nullptr) << c.index;
        EXPECT_EQ(record->argumentCount, c.argumentCount) << record->name;
        EXPECT_EQ(record->returnsValue, c.returnsValue) << record->name;
        EXPECT_EQ(record->anyArity, c.anyArity) << record->name;
        EXPECT_EQ(record->argumentFrame, c.argumentFrame) << record->name;
        EXPECT_FALSE(record->declaredNative) << record->name;
    }
}

TEST_F(FunctionTableTest, ClearedRecordKeepsItsSlotButIsNoLongerFound) {
    int index = RegisterBuiltin("gone", HandlerA, 1, true);
    ASSERT_EQ(RegisterFunction("kept", HandlerB), index + 1);
    ClearFunctionRecord(index);
    EXPECT_EQ(FindFunctionByName("gone"), -1);
    EXPECT_EQ(FunctionCount(), 2);
    EXPECT_EQ(FunctionRecordAt(index)->name, "");
    EXPECT_EQ(FunctionRecordAt(index)->handler, nullptr);
    EXPECT_EQ(FindFunctionByName("kept"), index + 1);
}

// "n" and the number, appended rather than joined with "+" (the optimised
// build's compiler warns, wrongly, about the joined temporary).
std::string NumberedName(int i) {
    std::string name = "n";
    name += std::to_string(i);
    return name;
}

// Many names share probe runs in the index; clearing some of them must leave
// every other name found in its own slot, and the cleared ones gone.
TEST_F(FunctionTableTest, ClearingRecordsAmongManyKeepsEveryOtherNameFound) {
    for (int i = 0; i < kFunctionTableCapacity; ++i) ASSERT_EQ(RegisterFunction(NumberedName(i), HandlerA), i);
    for (int i = 0; i < kFunctionTableCapacity; i += 3) ClearFunctionRecord(i);
    for (int i = 0; i < kFunctionTableCapacity; ++i)
        ASSERT_EQ(FindFunctionByName(NumberedName(i)), i % 3 == 0 ? -1 : i) << i;
    // A cleared name registers again into a new slot and is found there.
    ASSERT_EQ(RegisterFunction("n0", HandlerB), -1);
    ClearFunctionRecord(1);
    EXPECT_EQ(FindFunctionByName("n1"), -1);
    EXPECT_EQ(FindFunctionByName("n2"), 2);
}

// Names whose hashes agree in their low 20 bits (the index keeps only some
// bits of a hash beside the slot) are still told apart, each found in its own
// slot, and clearing one leaves the other found.
TEST_F(FunctionTableTest, NamesWhoseHashesShareTheirLowBitsAreToldApart) {
    std::unordered_map<uint32_t, std::string> byLowBits;
    std::vector<std::pair<std::string, std::string>> pairs;
    for (int i = 0; pairs.size() < 8 && i < 200000; ++i) {
        const std::string name = NumberedName(i);
        const std::string upper = UpperCaseName(name);
        const uint32_t hash = HashName(upper.data(), upper.size());
        auto [it, added] = byLowBits.emplace(hash & 0xFFFFF, name);
        if (added) continue;
        pairs.emplace_back(it->second, name);
        byLowBits.erase(it);  // a third such name starts a new pair
    }
    ASSERT_EQ(pairs.size(), 8u);
    for (const auto& [a, b] : pairs) {
        const int first = RegisterFunction(a, HandlerA);
        const int second = RegisterFunction(b, HandlerB);
        ASSERT_GE(first, 0);
        ASSERT_EQ(second, first + 1) << a << " and " << b << " must take two slots";
        EXPECT_EQ(FindFunctionByName(a), first);
        EXPECT_EQ(FindFunctionByName(b), second);
    }
    for (size_t i = 0; i < pairs.size(); ++i)
        ClearFunctionRecord(FindFunctionByName(i % 2 ? pairs[i].first : pairs[i].second));
    for (size_t i = 0; i < pairs.size(); ++i) {
        const auto& [a, b] = pairs[i];
        EXPECT_EQ(FindFunctionByName(a), i % 2 ? -1 : static_cast<int>(2 * i)) << a;
        EXPECT_EQ(FindFunctionByName(b), i % 2 ? static_cast<int>(2 * i + 1) : -1) << b;
    }
}

// A full table with cleared records among the rest, freed, leaves no name in
// the index: each name registers again into the slot its new order gives.
TEST_F(FunctionTableTest, FreeingAFullTableLeavesNoNameBehind) {
    for (int i = 0; i < kFunctionTableCapacity; ++i) ASSERT_EQ(RegisterFunction(NumberedName(i), HandlerA), i);
    for (int i = 0; i < kFunctionTableCapacity; i += 5) ClearFunctionRecord(i);
    FreeFunctionTable();
    for (int i = 0; i < kFunctionTableCapacity; ++i) ASSERT_EQ(FindFunctionByName(NumberedName(i)), -1) << i;
    for (int i = 0; i < kFunctionTableCapacity; ++i)
        ASSERT_EQ(RegisterFunction(NumberedName(kFunctionTableCapacity - 1 - i), HandlerB), i) << i;
    for (int i = 0; i < kFunctionTableCapacity; ++i)
        ASSERT_EQ(FindFunctionByName(NumberedName(i)), kFunctionTableCapacity - 1 - i) << i;
}

// Callers keep a record's address while more names register: records never
// move as the table fills, across every block of them.
TEST_F(FunctionTableTest, RecordsKeepTheirAddressesAsTheTableFills) {
    const int first = RegisterBuiltin("kept", HandlerA, 2, true);
    const FunctionRecord* record = FunctionRecordAt(first);
    for (int i = 1; i < kFunctionTableCapacity; ++i) ASSERT_EQ(RegisterFunction(NumberedName(i), HandlerB), i);
    EXPECT_EQ(FunctionRecordAt(first), record);
    EXPECT_EQ(record->name, "KEPT");
    EXPECT_EQ(record->argumentCount, 2);
    const FunctionRecord* last = FunctionRecordAt(kFunctionTableCapacity - 1);
    ASSERT_NE(last, nullptr);
    std::string upperName = NumberedName(kFunctionTableCapacity - 1);
    upperName[0] = 'N';
    EXPECT_EQ(last->name, upperName);
    EXPECT_EQ(FunctionRecordAt(kFunctionTableCapacity), nullptr);
}

TEST_F(FunctionTableTest, FreeFunctionTableEmptiesTheTable) {
    ASSERT_GE(RegisterFunction("one", HandlerA), 0);
    ASSERT_GE(RegisterFunction("two", HandlerA), 0);
    FreeFunctionTable();
    EXPECT_EQ(FunctionCount(), 0);
    EXPECT_EQ(FindFunctionByName("one"), -1);
    EXPECT_EQ(FunctionRecordAt(0), nullptr);
    EXPECT_EQ(RegisterFunction("three", HandlerA), 0);
}

TEST_F(FunctionTableTest, IndexesOutsideTheSlotsInUseHaveNoRecord) {
    ASSERT_EQ(RegisterFunction("only", HandlerA), 0);
    for (int index : {-1, 1, kFunctionTableCapacity, kFunctionTableCapacity + 1})
        EXPECT_EQ(FunctionRecordAt(index), nullptr) << index;
}

TEST_F(FunctionTableTest, FullTableRefusesANewNameAndWritesNothing) {
    for (int i = 0; i < kFunctionTableCapacity; ++i)
        ASSERT_EQ(RegisterFunction(std::string("f").append(std::to_string(i)), HandlerA), i);
    EXPECT_EQ(RegisterFunction("onemore", HandlerB), -1);
    EXPECT_EQ(RegisterBuiltin("onemore", HandlerB, 1, true), -1);
    EXPECT_EQ(RegisterFunctionFlagsEx("onemore", HandlerB, true, true, true), -1);
    EXPECT_EQ(FunctionCount(), kFunctionTableCapacity);
    EXPECT_EQ(FindFunctionByName("onemore"), -1);

    // A name already present is still replaced in place.
    EXPECT_EQ(RegisterBuiltin("F17", HandlerB, 2, true), 17);
    EXPECT_EQ(FunctionRecordAt(17)->handler, &HandlerB);
    EXPECT_EQ(FunctionCount(), kFunctionTableCapacity);
}

// Declared native functions, linked against the sample library built beside
// the tests (host name libqobsample.so, declared as a program would name it).
class DeclaredFunctionTest : public FunctionTableTest {
protected:
    void SetUp() override {
        FunctionTableTest::SetUp();
        FillCompilerRuntimeHooks();  // the declaration messages go to the compile sink
        ResetCompileMessages();
        GetCompileMessageState().warningsEnabled = true;
        ImmediateLinking = false;
        CompileOnly = false;
    }
    void TearDown() override {
        CloseCompileLog();
        ImmediateLinking = false;
        CompileOnly = false;
        ResetRuntimeHooks();
        FunctionTableTest::TearDown();
    }

    // What the sink logged while the body ran (warnings never reach ERROR%).
    template <class Body>
    static std::string Logged(Body body) {
        std::string path = std::string(QOB_TEST_BINARY_DIR) + "/function_table_test.log";
        EXPECT_TRUE(OpenCompileLog(path));
        GetCompileMessageState().logEnabled = true;
        body();
        CloseCompileLog();
        std::ifstream file(path);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    const std::string sample = std::string(QOB_NATIVE_SAMPLE_DIR) + "qobsample.dll";
};

TEST_F(DeclaredFunctionTest, DeclarationRecordsTheNativeFunction) {
    int index = DeclareDllFunction("sampleadd", "SampleAdd", sample, 2, true, false, true);
    ASSERT_GE(index, 0);
    const FunctionRecord& record = *FunctionRecordAt(index);
    EXPECT_EQ(record.name, "SAMPLEADD");
    EXPECT_TRUE(record.declaredNative);
    EXPECT_EQ(record.handler, nullptr);
    EXPECT_EQ(record.libraryName, sample);
    EXPECT_EQ(record.exportName, "SampleAdd");
    EXPECT_EQ(record.argumentCount, 2);
    EXPECT_EQ(record.returnsValue, 1);
    EXPECT_EQ(record.wideText, 0);
    EXPECT_EQ(record.sForm, 1);
    EXPECT_EQ(record.functionEntry, nullptr);
    EXPECT_EQ(record.procedureEntry, nullptr);
}

// The linker skips its look-up of every name while nothing is declared
// native: a refused declaration must not count, and clearing one record
// must not make the others invisible.
TEST_F(DeclaredFunctionTest, AnyNativeDeclaredFollowsDeclarationsUntilTheTableIsFreed) {
    ASSERT_GE(RegisterBuiltin("abs", HandlerA, 1, true), 0);
    EXPECT_FALSE(AnyNativeDeclared());
    EXPECT_EQ(DeclareDllFunction("abs", "SampleAdd", sample, 2, true, false, true), -1);
    EXPECT_FALSE(AnyNativeDeclared());
    const int first = DeclareDllFunction("sampleadd", "SampleAdd", sample, 2, true, false, true);
    ASSERT_GE(DeclareDllFunction("samplesub", "SampleSub", sample, 2, true, false, true), 0);
    ASSERT_GE(first, 0);
    EXPECT_TRUE(AnyNativeDeclared());
    ClearFunctionRecord(first);
    EXPECT_TRUE(AnyNativeDeclared());
    FreeFunctionTable();
    EXPECT_FALSE(AnyNativeDeclared());
}

TEST_F(DeclaredFunctionTest, DeclarationNamedLikeABuiltinOrKeywordIsRefused) {
    int abs = RegisterBuiltin("abs", HandlerA, 1, true);
    int keyword = RegisterFunctionFlags("WHILE", nullptr, true, false);
    ASSERT_GE(abs, 0);
    ASSERT_GE(keyword, 0);

    EXPECT_EQ(DeclareDllFunction("Abs", "SampleAdd", sample, 2, true, false, true), -1);
    EXPECT_EQ(DeclareDllFunction("while", "SampleAdd", sample, 2, true, false, true), -1);

    EXPECT_EQ(FunctionCount(), 2);
    const FunctionRecord& record = *FunctionRecordAt(abs);
    EXPECT_EQ(record.handler, &HandlerA);
    EXPECT_EQ(record.argumentCount, 1);
    EXPECT_FALSE(record.declaredNative);
    EXPECT_TRUE(record.libraryName.empty());
    EXPECT_EQ(FunctionRecordAt(keyword)->anyArity, 1);
    EXPECT_EQ(GetCompileMessageState().errorCount, 2);
    EXPECT_NE(GetCompileMessageState().compileErrors.find("Cannot declare \"Abs\": the name is a built-in or keyword"),
              std::string::npos)
        << GetCompileMessageState().compileErrors;
}

TEST_F(DeclaredFunctionTest, RedeclarationReplacesTheEarlierDeclaration) {
    int first = DeclareDllFunction("mine", "SampleAdd", sample, 2, true, false, true);
    int second = DeclareDllFunction("MINE", "SampleLength", "other.dll", 1, false, true, false);
    ASSERT_GE(first, 0);
    EXPECT_EQ(second, first);
    EXPECT_EQ(FunctionCount(), 1);
    const FunctionRecord& record = *FunctionRecordAt(first);
    EXPECT_EQ(record.libraryName, "other.dll");
    EXPECT_EQ(record.exportName, "SampleLength");
    EXPECT_EQ(record.returnsValue, 0);
    EXPECT_EQ(record.wideText, 1);
    EXPECT_EQ(record.sForm, 0);
    EXPECT_EQ(GetCompileMessageState().errorCount, 0);
}

TEST_F(DeclaredFunctionTest, DeclarationIntoAFullTableIsAnErrorAndWritesNothing) {
    for (int i = 0; i < kFunctionTableCapacity; ++i)
        ASSERT_EQ(RegisterFunction(std::string("f").append(std::to_string(i)), HandlerA), i);
    EXPECT_EQ(DeclareDllFunction("late", "SampleAdd", sample, 2, true, false, true), -1);
    EXPECT_EQ(FindFunctionByName("late"), -1);
    EXPECT_EQ(FunctionCount(), kFunctionTableCapacity);
    EXPECT_EQ(GetCompileMessageState().errorCount, 1);
    EXPECT_NE(GetCompileMessageState().compileErrors.find("the function table is full"), std::string::npos);
}

TEST_F(DeclaredFunctionTest, LinkingResolvesTheEntryOfItsKind) {
    int function = DeclareDllFunction("add", "SampleAdd", sample, 2, true, false, true);
    int procedure = DeclareDllFunction("addproc", "SampleAdd", sample, 2, false, false, false);
    ASSERT_EQ(LinkDllFunction(function), LinkStatus::Linked);
    ASSERT_EQ(LinkDllFunction(procedure), LinkStatus::Linked);

    const FunctionRecord& f = *FunctionRecordAt(function);
    ASSERT_NE(f.functionEntry, nullptr);
    EXPECT_EQ(f.procedureEntry, nullptr);
    EXPECT_EQ(reinterpret_cast<int (*)(int, int)>(f.functionEntry)(40, 2), 42);
    EXPECT_EQ(f.exportName, "SampleAdd");

    const FunctionRecord& p = *FunctionRecordAt(procedure);
    EXPECT_NE(p.procedureEntry, nullptr);
    EXPECT_EQ(p.functionEntry, nullptr);
    EXPECT_EQ(GetCompileMessageState().warningCount, 0);
}

TEST_F(DeclaredFunctionTest, WideDeclarationPrefersTheWFormAndFallsBackToThePlainName) {
    int both = DeclareDllFunction("len", "SampleLength", sample, 1, true, true, true);
    int plainOnly = DeclareDllFunction("first", "SamplePlainOnly", sample, 1, true, true, true);
    int narrow = DeclareDllFunction("narrowlen", "SampleLength", sample, 1, true, false, true);
    ASSERT_EQ(LinkDllFunction(both), LinkStatus::Linked);
    ASSERT_EQ(LinkDllFunction(plainOnly), LinkStatus::Linked);
    ASSERT_EQ(LinkDllFunction(narrow), LinkStatus::Linked);

    EXPECT_EQ(FunctionRecordAt(both)->exportName, "SampleLengthW");
    auto wideLength = reinterpret_cast<int (*)(const char16_t*)>(FunctionRecordAt(both)->functionEntry);
    EXPECT_EQ(wideLength(u"four"), 4);

    EXPECT_EQ(FunctionRecordAt(plainOnly)->exportName, "SamplePlainOnly");
    EXPECT_NE(FunctionRecordAt(plainOnly)->functionEntry, nullptr);

    EXPECT_EQ(FunctionRecordAt(narrow)->exportName, "SampleLength");
    auto narrowLength = reinterpret_cast<int (*)(const char*)>(FunctionRecordAt(narrow)->functionEntry);
    EXPECT_EQ(narrowLength("four"), 4);
}

TEST_F(DeclaredFunctionTest, MissingLibraryOrExportIsAWarningAndLeavesTheEntriesNull) {
    std::string missingLibrary = std::string(QOB_NATIVE_SAMPLE_DIR) + "nosuchlibrary.dll";
    int noLibrary = DeclareDllFunction("nolib", "SampleAdd", missingLibrary, 2, true, false, true);
    int noExport = DeclareDllFunction("noexport", "SampleMissing", sample, 0, false, true, true);
    std::string log = Logged([&] {
        EXPECT_EQ(LinkDllFunction(noLibrary), LinkStatus::LibraryNotFound);
        EXPECT_EQ(LinkDllFunction(noExport), LinkStatus::ExportNotFound);
    });
    EXPECT_NE(log.find("Library " + missingLibrary + " not found"), std::string::npos) << log;
    EXPECT_NE(log.find("Error linking function NOEXPORT from library " + sample), std::string::npos) << log;
    EXPECT_EQ(GetCompileMessageState().warningCount, 2);
    EXPECT_EQ(GetCompileMessageState().errorCount, 0);
    for (int index : {noLibrary, noExport}) {
        EXPECT_EQ(FunctionRecordAt(index)->functionEntry, nullptr);
        EXPECT_EQ(FunctionRecordAt(index)->procedureEntry, nullptr);
    }
    EXPECT_EQ(FunctionRecordAt(noExport)->exportName, "SampleMissing");
}

TEST_F(DeclaredFunctionTest, CompileOnlyRunsReportNoLinkFailure) {
    CompileOnly = true;
    int index = DeclareDllFunction("nolib", "SampleAdd", "nosuchlibrary.dll", 2, true, false, true);
    EXPECT_EQ(LinkDllFunction(index), LinkStatus::LibraryNotFound);
    EXPECT_EQ(GetCompileMessageState().warningCount, 0);
}

TEST_F(DeclaredFunctionTest, ImmediateLinkingLinksAtDeclaration) {
    ImmediateLinking = true;
    int index = DeclareDllFunction("add", "SampleAdd", sample, 2, true, false, true);
    ASSERT_GE(index, 0);
    EXPECT_NE(FunctionRecordAt(index)->functionEntry, nullptr);
}

TEST_F(DeclaredFunctionTest, OnlyDeclaredRecordsLink) {
    int builtin = RegisterBuiltin("abs", HandlerA, 1, true);
    EXPECT_EQ(LinkDllFunction(builtin), LinkStatus::NotDeclared);
    EXPECT_EQ(LinkDllFunction(-1), LinkStatus::NotDeclared);
    EXPECT_EQ(LinkDllFunction(FunctionCount()), LinkStatus::NotDeclared);
}

// A declaration's argument count comes from a number in a compiled file or a
// source; whatever that number is, the count is a byte. NaN was once cast
// straight to the byte (undefined behaviour, found by fuzzing compiled files).
TEST(DeclaredArgumentCount, ClampsEveryNumberToAByte) {
    const struct {
        double number;
        uint8_t count;
    } cases[] = {
        {0.0, 0},   {4.0, 4},     {4.9, 4},       {255.0, 255},
        {256.0, 255}, {1e300, 255}, {-1.0, 0},    {-1e300, 0},
        {std::numeric_limits<double>::quiet_NaN(), 0},
        {std::numeric_limits<double>::infinity(), 255},
        {-std::numeric_limits<double>::infinity(), 0},
    };
    for (const auto& c : cases) EXPECT_EQ(DeclaredArgumentCount(c.number), c.count) << c.number;
}

}  // namespace
}  // namespace qob
