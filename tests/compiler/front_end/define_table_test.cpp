// tests/compiler/front_end/define_table_test.cpp
// Define slots, owners, capacity and the type-library import.
#include "compiler/front_end/define_table.h"

#include <gtest/gtest.h>

#include <string>

#include "compiler/compile_messages.h"
#include "runtime/data/hash.h"

namespace qob {
namespace {

uint32_t Hash(std::string_view upperName) { return HashName(upperName.data(), upperName.size()); }

void RemoveAllDefines() {
    for (uint8_t owner : {kDefineOwnerProgram, kDefineOwnerGlobal, kDefineOwnerPredefined})
        RemoveDefinesByOwner(owner);
}

class DefineTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveAllDefines();
        SetDefineGlobalMark(false);
        ResetCompileMessages();
    }
    void TearDown() override {
        RemoveAllDefines();
        SetDefineGlobalMark(false);
        SetTypeLibraryReader(nullptr);
        ResetCompileMessages();
    }
};

TEST_F(DefineTableTest, SameValueKeepsTheEntryAndAnotherReplacesItInPlace) {
    const int first = SetDefine("max", "10");
    EXPECT_EQ(SetDefine("MAX", "10"), first);
    EXPECT_EQ(SetDefine("Max", "20"), first);
    EXPECT_EQ(FindDefineByHash(Hash("MAX")), first);
    EXPECT_EQ(GetDefine(first)->value, "20");
    EXPECT_EQ(FindDefineByHash(Hash("max")), -1);  // stored by the upper-case name
}

TEST_F(DefineTableTest, RemovedSlotIsTakenByTheNextNewName) {
    const int a = SetDefine("A", "1");
    const int b = SetDefine("B", "2");
    SetDefine("C", "3");
    RemoveDefine(b);
    EXPECT_EQ(GetDefine(b), nullptr);
    EXPECT_EQ(FindDefineByHash(Hash("B")), -1);
    EXPECT_EQ(FindFreeDefineSlot(), b);
    EXPECT_EQ(SetDefine("D", "4"), b);
    EXPECT_EQ(FindDefineByHash(Hash("A")), a);
    EXPECT_EQ(FindFreeDefineSlot(), -1);
}

TEST_F(DefineTableTest, OwnerFollowsTheGlobalMark) {
    const int local = SetDefine("LOCALONE", "1");
    SetDefineGlobalMark(true);
    const int global = SetDefine("GLOBALONE", "2");
    SetDefineGlobalMark(false);
    EXPECT_EQ(GetDefine(local)->owner, kDefineOwnerProgram);
    EXPECT_EQ(GetDefine(global)->owner, kDefineOwnerGlobal);

    // The same value again keeps the owner; another value takes the owner of now.
    SetDefine("GLOBALONE", "2");
    EXPECT_EQ(GetDefine(global)->owner, kDefineOwnerGlobal);

    RemoveDefinesByOwner(kDefineOwnerProgram);
    EXPECT_EQ(FindDefineByHash(Hash("LOCALONE")), -1);
    EXPECT_EQ(FindDefineByHash(Hash("GLOBALONE")), global);

    // A program that re-defines a global define makes it its own.
    SetDefine("GLOBALONE", "3");
    EXPECT_EQ(GetDefine(global)->owner, kDefineOwnerProgram);
    RemoveDefinesByOwner(kDefineOwnerProgram);
    EXPECT_EQ(FindDefineByHash(Hash("GLOBALONE")), -1);
}

TEST_F(DefineTableTest, FullTableRefusesNewNamesButChangesOldOnes) {
    for (int i = 0; i < kMaxDefines; ++i) ASSERT_EQ(SetDefine(std::string("N").append(std::to_string(i)), "v"), i);
    EXPECT_EQ(SetDefine("ONEMORE", "v"), -1);
    EXPECT_EQ(FindDefineByHash(Hash("ONEMORE")), -1);
    EXPECT_EQ(SetDefine("N5", "changed"), 5);
    EXPECT_EQ(GetDefine(kMaxDefines), nullptr);
    EXPECT_EQ(GetDefine(-1), nullptr);
}

TEST_F(DefineTableTest, ImportWithoutTypeLibrariesReportsAndDefinesNothing) {
    ImportTypeLibrary("prog.qob", "shapes.tlb");
    EXPECT_EQ(GetCompileMessageState().compileErrors,
              "error: (prog.qob) [Error importing \"shapes.tlb\" at character position 0]\n");
    EXPECT_EQ(FindFreeDefineSlot(), -1);
    EXPECT_EQ(GetDefine(0), nullptr);
}

std::optional<TypeLibraryContents> ReadShapesLibrary(std::string_view path) {
    if (path != "shapes.tlb") return std::nullopt;
    TypeLibraryContents library;
    library.name = "Shapes";
    library.guid = "{11111111-2222-3333-4444-555555555555}";
    library.constants = {{"Red", "1"}, {"Blue", "-2"}};
    library.interfaces = {{"IShape", "{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}"}};
    return library;
}

TEST_F(DefineTableTest, ImportDefinesTheLibraryItsConstantsAndInterfaces) {
    SetTypeLibraryReader(ReadShapesLibrary);
    ImportTypeLibrary("prog.qob", "shapes.tlb");
    EXPECT_TRUE(GetCompileMessageState().compileErrors.empty());
    struct Case {
        const char* name;
        const char* value;
    };
    const Case cases[] = {
        {"SHAPES", "{{11111111-2222-3333-4444-555555555555}}"},
        {"RED", "1"},
        {"BLUE", "-2"},
        {"IID_ISHAPE", "{{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}}"},
    };
    for (const Case& c : cases) {
        const DefineEntry* entry = GetDefine(FindDefineByHash(Hash(c.name)));
        ASSERT_NE(entry, nullptr) << c.name;
        EXPECT_EQ(entry->value, c.value) << c.name;
    }
    ImportTypeLibrary("prog.qob", "other.tlb");
    EXPECT_EQ(GetCompileMessageState().errorCount, 1);
}

}  // namespace
}  // namespace qob
