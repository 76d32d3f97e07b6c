// tests/builtins/reflection/reflection_builtins_test.cpp
// Procedures by name through the node's lookup cache: getproc, getprocex and
// call keep their last hit in the node's side record, valid for the
// application searched and the name (and count) asked for.
#include "builtins/reflection/reflection_builtins.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include "builtins/operators/operator_fixture.h"
#include "platform/memory.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace qob::testing {
namespace {

class ReflectionTest : public OperatorTest {
protected:
    // A procedure of the program under its key, entered in the procedure table.
    Instruction* Procedure(const char* key, std::initializer_list<Handler> body = {}) {
        Instruction* start = AddProcedure(key, std::strchr(key, ',')[1] != '0', body);
        auto* record = static_cast<ProcedureRecord*>(platform::AllocateZeroedBlock(sizeof(ProcedureRecord)));
        record->name = static_cast<char*>(platform::AllocateZeroedBlock(std::strlen(key) + 1));
        std::memcpy(record->name, key, std::strlen(key));
        record->start = start;
        context->procedures[context->procedureCount++] = record;
        return start;
    }

    // Renames the table's record: a full lookup no longer finds the old name.
    void Rename(int index, const char* key) {
        platform::FreeBlock(context->procedures[index]->name);
        context->procedures[index]->name = static_cast<char*>(platform::AllocateZeroedBlock(std::strlen(key) + 1));
        std::memcpy(context->procedures[index]->name, key, std::strlen(key));
    }

    double GetProc(Instruction* node, const char* name) {
        PushNumber(0);
        PushText(name);
        RunNode(node);
        return PopValue();
    }

    double GetProcEx(Instruction* node, const char* name, int count, int returns) {
        PushNumber(0);
        PushText(name);
        PushNumber(count);
        PushNumber(returns);
        RunNode(node);
        return PopValue();
    }

    static double Handle(const Instruction* start) {
        return static_cast<double>(reinterpret_cast<uintptr_t>(start));
    }
};

TEST_F(ReflectionTest, GetprocAnswersASecondAskFromTheNodesCache) {
    Instruction* twice = Procedure("TWICE(1,1)");
    Instruction* node = Node(Opcode::INTERNALCALL, Builtin_getproc, 0);
    EXPECT_EQ(GetProc(node, "twice"), Handle(twice));
    Rename(0, "OTHER(1,1)");
    EXPECT_EQ(GetProc(node, "twice"), Handle(twice)) << "the same node, application and name: the cached handle";
    EXPECT_EQ(GetProc(Node(Opcode::INTERNALCALL, Builtin_getproc, 0), "twice"), 0.0)
        << "another node looks the name up in full";
    EXPECT_EQ(GetProc(node, "other"), Handle(twice)) << "another name is looked up and cached";
    EXPECT_EQ(StackDepth(), 0);
}

TEST_F(ReflectionTest, CachedLookupIsValidOnlyForTheApplicationItWasMadeIn) {
    Instruction* twice = Procedure("TWICE(1,1)");
    Instruction* node = Node(Opcode::INTERNALCALL, Builtin_getproc, 0);
    EXPECT_EQ(GetProc(node, "twice"), Handle(twice));
    Rename(0, "OTHER(1,1)");
    context->uniqueId += 1;  // as another application would have
    EXPECT_EQ(GetProc(node, "twice"), 0.0);
}

TEST_F(ReflectionTest, MissIsNotCached) {
    Instruction* node = Node(Opcode::INTERNALCALL, Builtin_getproc, 0);
    EXPECT_EQ(GetProc(node, "later"), 0.0);
    Instruction* later = Procedure("LATER(0,0)");
    EXPECT_EQ(GetProc(node, "later"), Handle(later));
}

// One getprocex node asked for other counts or result flags of the same name
// must not answer from the first ask's cache.
TEST_F(ReflectionTest, GetprocexCacheTellsCountsAndResultFlagsApart) {
    Instruction* one = Procedure("F(1,1)");
    Instruction* two = Procedure("F(2,1)");
    Instruction* plain = Procedure("G(2,0)");
    Instruction* node = Node(Opcode::INTERNALCALL, Builtin_getprocex, 0);
    struct Case {
        const char* name;
        int count, returns;
        Instruction* expected;
    };
    const Case cases[] = {{"f", 1, 1, one}, {"f", 2, 1, two}, {"f", 1, 1, one}, {"f", 3, 1, nullptr},
                          {"g", 2, 0, plain}, {"g", 2, 1, nullptr}, {"f", 2, 1, two}};
    for (const Case& c : cases)
        EXPECT_EQ(GetProcEx(node, c.name, c.count, c.returns), Handle(c.expected))
            << c.name << "(" << c.count << "," << c.returns << ")";
}

// call keeps the argument count in its key: one node calling a name with
// other argument lists finds each procedure.
int Runs = 0;
void CountRun() { ++Runs; }

TEST_F(ReflectionTest, CallCachesByNameAndArgumentCount) {
    Procedure("H(1,1)", {CountRun});
    Procedure("H(2,1)", {CountRun, CountRun});
    Instruction* node = Node(Opcode::INTERNALCALL, Builtin_call, 0);
    auto call = [&](std::initializer_list<double> arguments) {
        OpenFrame();
        PushNumber(0);
        PushText("h");
        for (double argument : arguments) PushNumber(argument);
        Runs = 0;
        RunNode(node);
        return PopValue();
    };
    EXPECT_EQ(call({5}), 5.0);
    EXPECT_EQ(Runs, 1);
    EXPECT_EQ(call({6, 7}), 7.0);
    EXPECT_EQ(Runs, 2) << "the two-argument procedure ran";
    Rename(0, "X(1,1)");
    EXPECT_EQ(call({8, 9}), 9.0) << "cached";
    EXPECT_EQ(call({5}), 0.0) << "the one-argument form is looked up again and is gone";
    EXPECT_EQ(Runs, 0);
    EXPECT_EQ(StackDepth(), 0);
}

}  // namespace
}  // namespace qob::testing
