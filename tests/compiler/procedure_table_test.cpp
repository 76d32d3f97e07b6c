// tests/compiler/procedure_table_test.cpp
// The unit's procedure table: key lookups with their count rules and
// namespaces, and the class-code lookup through bases.
#include "compiler/procedure_table.h"

#include <gtest/gtest.h>

#include "compiler/class_list.h"
#include "runtime/data/hash.h"
#include "runtime/vm/program_context.h"

namespace qob {
namespace {

class ProcedureTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        FreeUnitProcedures();
        FreeUnitClasses();
    }
    void TearDown() override {
        FreeUnitProcedures();
        FreeUnitClasses();
    }
    static int Add(const char* key, int outputs, bool nForm = false, uint32_t scope = 0, bool isPrivate = false) {
        return AddUnitProcedure(key, outputs, nForm, isPrivate, scope, {});
    }
};

TEST_F(ProcedureTableTest, KeyLookups) {
    const int proc = Add("P(1,0)", 0);
    const int func = Add("F(2,1)", 1);
    const int nproc = Add("N(0,0)", 0, true);
    const int main = Add("MAIN", 0);
    const int scoped = Add("S(0,0)", 0, false, HashName("NS", 2));
    struct Case {
        const char* name;
        uint32_t scope;
        bool byBaseName;
        bool exact;
        int expected;
    };
    const Case kCases[] = {
        {"P(1,0)", 0, false, false, proc},
        {"P(2,0)", 0, false, false, -1},      // a procedure's count must agree
        {"P(1,1)", 0, false, false, -1},      // it returns nothing
        {"F(2,1)", 0, false, false, func},
        {"F(3,1)", 0, false, false, func},    // a call expecting a result finds the function of any count...
        {"F(3,2)", 0, false, false, func},
        {"F(3,0)", 0, false, false, -1},      // ...a call expecting none does not
        {"F(3,1)", 0, false, true, -1},
        {"N(5,0)", 0, false, false, nproc},   // an N form takes any number of arguments
        {"N(5,0)", 0, false, true, nproc},
        {"N(5,1)", 0, false, false, -1},
        {"MAIN", 0, false, false, main},
        {"MAIN(0,0)", 0, false, false, main},
        {"MAIN", 0, false, true, main},
        {"P", 0, true, false, proc},
        {"PR", 0, true, false, -1},
        {"S(0,0)", 0, false, false, -1},      // another namespace's procedure
        {"S(0,0)", HashName("NS", 2), false, false, scoped},
        {"P(1,0)", HashName("NS", 2), false, false, proc},  // namespace 0 is seen everywhere
        {"Q(0,0)", 0, false, false, -1},
    };
    for (const Case& c : kCases)
        EXPECT_EQ(FindUnitProcedure(c.name, c.scope, false, c.byBaseName, c.exact), c.expected) << c.name;
    // keepCount compares the whole key.
    EXPECT_EQ(FindUnitProcedure("F(3,1)", 0, true, false, false), -1);
}

TEST_F(ProcedureTableTest, TheLatestRecordOfAKeyWins) {
    Add("P(0,0)", 0);
    const int second = Add("P(0,0)", 0);
    EXPECT_EQ(FindUnitProcedure("P(0,0)", 0, false, false, false), second);
    EXPECT_EQ(UnitProcedureCount(), 2);
    EXPECT_STREQ(UnitProcedureRecords()[1]->name, "P(0,0)");
}

TEST_F(ProcedureTableTest, KeyCounts) {
    EXPECT_EQ(ParseKeyCounts("F(12,3)").inputs, 12);
    EXPECT_EQ(ParseKeyCounts("F(12,3)").outputs, 3);
    EXPECT_EQ(ParseKeyCounts("MAIN").inputs, 0);
    EXPECT_EQ(ParseKeyCounts("__CLASSCODE_A.B(1,0)").inputs, 1);
}

TEST_F(ProcedureTableTest, ClassCodeIsFoundThroughPublicBaseMethods) {
    AddUnitClass("BASE", "");
    ClassRecord* derived = AddUnitClass("DERIVED", "BASE");
    const int shared = Add("__CLASSCODE_BASE.SHARED(0,0)", 0);
    Add("__CLASSCODE_BASE.SECRET(0,0)", 0, false, 0, true);
    const int own = Add("__CLASSCODE_DERIVED.SECRET(0,0)", 0, false, 0, true);
    ClassRecord* found = nullptr;
    EXPECT_EQ(FindClassCodeInBases(derived, &found, "SHARED(0,0)", 0, false, false), shared);
    EXPECT_STREQ(found->name, "BASE");
    // The class's own private code is found; a base's private code is not.
    EXPECT_EQ(FindClassCodeInBases(derived, &found, "SECRET(0,0)", 0, false, false), own);
    bool privateSkipped = false;
    EXPECT_EQ(FindClassCodeInBases(FindUnitClass(HashName("BASE", 4)), nullptr, "SECRET(0,0)", 0, false, true,
                                   &privateSkipped),
              -1);
    EXPECT_TRUE(privateSkipped);
    EXPECT_EQ(FindClassCodeInBases(derived, nullptr, "SHARED", 0, true, false), shared);
}

TEST_F(ProcedureTableTest, ABaseChainThatLeadsBackToItselfEnds) {
    ClassRecord* a = AddUnitClass("A", "B");
    AddUnitClass("B", "A");
    EXPECT_EQ(FindClassCodeInBases(a, nullptr, "M(0,0)", 0, false, false), -1);
}

}  // namespace
}  // namespace qob
