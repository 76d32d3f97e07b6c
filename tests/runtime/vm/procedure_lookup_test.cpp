// tests/runtime/vm/procedure_lookup_test.cpp
// Procedure keys in tables and instruction lists, parent contexts, class
// methods through base classes, and the cap on base-class cycles.
#include "runtime/vm/procedure_lookup.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "runtime/data/hash.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/program_context.h"

namespace qob {
namespace {

void StartHandler() {}
void OtherHandler() {}

// Records, nodes and classes built in the test; texts live in the fixture.
class ProcedureLookupTest : public ::testing::Test {
protected:
    void SetUp() override {
        CurrentNamespaceHash = 0;
        CompileParentContext = nullptr;
        savedContext = CurrentContext;
    }
    void TearDown() override {
        CurrentNamespaceHash = 0;
        CompileParentContext = nullptr;
        CurrentContext = savedContext;
    }

    char* Text(const std::string& text) {
        texts.push_back(text);
        return texts.back().data();
    }

    ProcedureRecord* Procedure(const std::string& key, uint8_t countByte = 0, uint8_t undefinedStart = 0,
                               uint32_t namespaceHash = 0, uint8_t underscore = 0, Instruction* start = nullptr) {
        procedures.push_back(ProcedureRecord{Text(key), start, countByte, undefinedStart, underscore, namespaceHash});
        return &procedures.back();
    }

    // Appends a procedure start node "<4-byte header><key>" to a list.
    Instruction* Node(Instruction*& last, const std::string& key, BuiltinHandler handler = StartHandler) {
        nodes.push_back(Instruction{});
        Instruction* node = &nodes.back();
        node->text = Text("\xE9   " + key);
        node->handler = handler;
        node->previous = last;
        if (last) last->next = node;
        last = node;
        return node;
    }

    ClassRecord* Class(ClassRecord*& list, const std::string& name, const std::string& base) {
        classes.push_back(ClassRecord{Text(name), HashName(name.data(), name.size()), Text(base),
                                      base.empty() ? 0u : HashName(base.data(), base.size()), list});
        list = &classes.back();  // newest first, as classes are declared
        return list;
    }

    std::unique_ptr<ProgramContext> Context() { return std::make_unique<ProgramContext>(); }

    std::deque<std::string> texts;
    std::deque<ProcedureRecord> procedures;
    std::deque<Instruction> nodes;
    std::deque<ClassRecord> classes;
    ProgramContext* savedContext = nullptr;
};

TEST_F(ProcedureLookupTest, LatestRecordOfAKeyWins) {
    ProcedureRecord* table[] = {Procedure("FOO(1,0)"), Procedure("BAR(0,0)"), Procedure("FOO(1,0)")};
    EXPECT_EQ(FindProc("FOO(1,0)", table, 3, false, false, false).index, 2);
    EXPECT_EQ(FindProc("BAR(0,0)", table, 3, false, false, false).index, 1);
    EXPECT_FALSE(FindProc("BAZ(0,0)", table, 3, false, false, false).Found());
    EXPECT_FALSE(FindProc("FOO(1,0)", table, 0, false, false, false).Found());
}

TEST_F(ProcedureLookupTest, KeyMatchingRules) {
    ProcedureRecord* table[] = {
        Procedure("FUNC(0,1)", 1, 1),  // declared before its code
        Procedure("CALC(3,1)", 1),     // a function of 3 arguments
        Procedure("PROC(2,0)"),
        Procedure("WIDE(2,1)", 1),
    };
    struct Case {
        const char* name;
        bool keepCount, byBaseName, exact;
        int expected;
    };
    constexpr Case kCases[] = {
        {"FUNC(3,1)", false, false, false, 0},  // an undeclared count matches any argument count
        {"FUNC(3,0)", true, false, true, -1},   // ... but not another result count
        {"CALC(2,1)", false, false, false, 1},  // a call expecting a result ignores the count digit
        {"CALC(2,1)", true, false, false, -1},  // unless the count is kept
        {"CALC(2,0)", false, false, false, -1}, // a statement call does not
        {"PROC(2,0)", false, false, true, 2},
        {"PROC(1,0)", false, false, false, -1},
        {"WIDE", false, true, false, 3},        // by base name
        {"WID", false, true, false, -1},
        {"WIDER", false, true, false, -1},
        {"PROC(2,0)X", false, false, true, -1}, // exact compares the whole text
    };
    for (const Case& c : kCases)
        EXPECT_EQ(FindProc(c.name, table, 4, c.keepCount, c.byBaseName, c.exact).index, c.expected) << c.name;
}

// Entry procedures and class main code keep bare keys; such a key must not
// match every name it begins (MAIN defined after MAINLOOP took its calls).
TEST_F(ProcedureLookupTest, BareKeyMatchesOnlyAtANameBoundary) {
    ProcedureRecord* table[] = {Procedure("MAINLOOP(0,0)"), Procedure("MAIN"), Procedure("__CLASSCODE_X")};
    struct Case {
        const char* name;
        int expected;
    };
    constexpr Case kCases[] = {
        {"MAINLOOP(0,0)", 0},
        {"MAIN", 1},
        {"MAIN(0,0)", 1},
        {"MAINX(0,0)", -1},
        {"__CLASSCODE_X", 2},
        {"__CLASSCODE_XY(0,0)", -1},
    };
    for (const Case& c : kCases)
        EXPECT_EQ(FindProc(c.name, table, 3, false, false, false).index, c.expected) << c.name;
}

TEST_F(ProcedureLookupTest, RecordOfAnotherNamespaceIsNotFound) {
    uint32_t tools = HashName("TOOLS", 5);
    ProcedureRecord* table[] = {Procedure("FOO(0,0)", 0, 0, tools), Procedure("BAR(0,0)")};
    EXPECT_FALSE(FindProc("FOO(0,0)", table, 2, false, false, false).Found());
    CurrentNamespaceHash = tools;
    EXPECT_EQ(FindProc("FOO(0,0)", table, 2, false, false, false).index, 0);
    EXPECT_EQ(FindProc("BAR(0,0)", table, 2, false, false, false).index, 1);  // namespace 0 is everywhere
}

TEST_F(ProcedureLookupTest, ParentContextsOfTheCompilationAreSearchedLast) {
    auto grandparent = Context();
    auto parent = Context();
    parent->parent = grandparent.get();
    Instruction* last = nullptr;
    Instruction* helper = Node(last, "HELPER(1,0)");
    grandparent->procedures[0] = Procedure("HELPER(1,0)", 0, 0, 0, 0, helper);
    grandparent->procedureCount = 1;
    ProcedureRecord* table[] = {Procedure("OWN(0,0)")};

    EXPECT_FALSE(FindProc("HELPER(1,0)", table, 1, false, false, false).Found());
    CompileParentContext = parent.get();
    ProcLookup found = FindProc("HELPER(1,0)", table, 1, false, false, false);
    EXPECT_EQ(found.index, -1);
    EXPECT_EQ(found.parentStart, helper);
    EXPECT_TRUE(found.Found());
    EXPECT_EQ(FindProc("OWN(0,0)", table, 1, false, false, false).index, 0);
    EXPECT_FALSE(FindProc("NONE(0,0)", table, 1, false, false, false).Found());
}

TEST_F(ProcedureLookupTest, ProcedureNodesAreFoundByHandlerAndKey) {
    Instruction* last = nullptr;
    Instruction* proc = Node(last, "SHOW(1,0)");
    Instruction* func = Node(last, "SUM(2,1)");
    Node(last, "SHOW(1,0)", OtherHandler);
    struct Case {
        const char* name;
        Instruction* expected;
    };
    const Case cases[] = {
        {"SHOW(1,0)", proc}, {"SHOW", proc},        {"SUM(2,1)", func}, {"SUM(2,0)", func},
        {"SUM", func},       {"SUM(3,1)", nullptr}, {"SH", nullptr},    {"SHOWX", nullptr},
    };
    for (const Case& c : cases) EXPECT_EQ(FindProcedureNode(last, StartHandler, c.name), c.expected) << c.name;
}

TEST_F(ProcedureLookupTest, MethodOnlyABaseClassDefinesIsFoundThroughTheChain) {
    auto context = Context();
    CurrentContext = context.get();
    Class(context->classRecords, "ANIMAL", "");
    Class(context->classRecords, "DOG", "ANIMAL");
    Instruction* last = nullptr;
    Instruction* speak = Node(last, "__CLASSCODE_ANIMAL.SPEAK(0,0)");
    Instruction* bark = Node(last, "__CLASSCODE_DOG.BARK(0,0)");
    context->instructions = speak;

    EXPECT_EQ(FindClassCode(context.get(), StartHandler, "DOG", "SPEAK(0,0)"), speak);
    EXPECT_EQ(FindClassCode(context.get(), StartHandler, "DOG", "BARK(0,0)"), bark);
    EXPECT_EQ(FindClassCode(context.get(), StartHandler, "ANIMAL", "BARK(0,0)"), nullptr);
    EXPECT_EQ(FindClassCode(context.get(), OtherHandler, "DOG", "BARK(0,0)"), nullptr);
}

TEST_F(ProcedureLookupTest, MethodCodeOfAParentContextIsFound) {
    auto parent = Context();
    auto child = Context();
    child->parent = parent.get();
    CurrentContext = child.get();
    Class(child->classRecords, "SHAPE", "");
    Instruction* last = nullptr;
    Instruction* area = Node(last, "__CLASSCODE_SHAPE.AREA(0,1)");
    parent->instructions = area;
    EXPECT_EQ(FindClassCode(child.get(), StartHandler, "SHAPE", "AREA(0,1)"), area);
}

TEST_F(ProcedureLookupTest, BaseClassCyclesEndTheSearch) {
    auto context = Context();
    CurrentContext = context.get();
    Class(context->classRecords, "SELFISH", "SELFISH");
    Class(context->classRecords, "PING", "PONG");
    Class(context->classRecords, "PONG", "PING");
    Instruction* last = nullptr;
    context->instructions = Node(last, "__CLASSCODE_OTHER.RUN(0,0)");
    for (const char* name : {"SELFISH", "PING", "PONG"})
        EXPECT_EQ(FindClassCode(context.get(), StartHandler, name, "RUN(0,0)"), nullptr) << name;
}

TEST_F(ProcedureLookupTest, FreeRecordArrayFreesNamesAndRecords) {
    ProcedureRecord* records[3] = {};
    for (int i = 0; i < 2; ++i) {
        records[i] = static_cast<ProcedureRecord*>(platform::AllocateZeroedBlock(sizeof(ProcedureRecord)));
        records[i]->name = static_cast<char*>(platform::AllocateZeroedBlock(8));
    }
    int32_t count = 3;  // the last slot is empty
    FreeRecordArray(records, count);
    EXPECT_EQ(count, 0);
    for (ProcedureRecord* record : records) EXPECT_EQ(record, nullptr);

    for (int32_t start : {0, -4}) {
        int32_t none = start;
        FreeRecordArray(records, none);
        EXPECT_EQ(none, 0);
    }
}

}  // namespace
}  // namespace qob
