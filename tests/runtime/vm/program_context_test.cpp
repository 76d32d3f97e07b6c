// tests/runtime/vm/program_context_test.cpp
// Creating, listing and ending contexts; what each kind frees at its end.

#include "runtime/vm/program_context.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/clock.h"
#include "platform/memory.h"
#include "runtime/data/hash.h"
#include "runtime/memory/pool.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/vm.h"

namespace qob {
namespace {

ProgramContext* NewContext(int32_t kind) {
    ProgramContext* context = CreateProgramContext();
    context->kind = kind;
    context->quietEnd = 1;
    context->pool = CreatePool(4096);
    CreateBottomStackEntry(context);
    return context;
}

ClassRecord* NewClass(const char* name) {
    auto* record = static_cast<ClassRecord*>(platform::AllocateZeroedBlock(sizeof(ClassRecord)));
    record->name = static_cast<char*>(platform::AllocateBlock(std::strlen(name) + 1));
    std::strcpy(record->name, name);
    record->nameHash = HashName(name, std::strlen(name));
    return record;
}

TEST(ProgramContext, ContextsJoinAndLeaveTheList) {
    ProgramContext* a = NewContext(kContextIndependent);
    ProgramContext* b = NewContext(kContextIndependent);
    EXPECT_TRUE(IsLiveContext(a));
    EXPECT_EQ(b->previous, a);
    EXPECT_EQ(LastContext, b);
    EndProgramContext(a);
    EXPECT_FALSE(IsLiveContext(a));
    EXPECT_EQ(FirstContext, b);
    EndProgramContext(b);
    EXPECT_EQ(FirstContext, nullptr);
    EXPECT_EQ(LastContext, nullptr);
}

// The texts of a list are freed with its context, except for the last live
// context when the process exits right after it.
TEST(ProgramContext, TheLastContextBeforeTheExitLeavesItsTextsToTheExit) {
    ASSERT_EQ(FirstContext, nullptr) << "another test left a context behind";
    struct Case {
        bool exitFollows;
        bool otherContext;
        bool textsFreed;
    };
    const Case cases[] = {{false, false, true}, {true, false, false}, {true, true, true}, {false, true, true}};
    for (const Case& c : cases) {
        ProgramContext* other = c.otherContext ? NewContext(kContextIndependent) : nullptr;
        ProgramContext* context = NewContext(kContextIndependent);
        CurrentCompilerPool = context->pool;
        Instruction* first = EmitInstruction(nullptr, NopHandler, "unit.qob", 0, nullptr, 0, nullptr, 0, 0);
        Instruction* second = EmitInstruction(first, NopHandler, "X$", 0, nullptr, 1, nullptr, 0, 0);
        CurrentCompilerPool = nullptr;
        context->instructions = first;
        char* texts[] = {first->text, second->text};
        ExitFollowsLastContext = c.exitFollows;
        EndProgramContext(context);
        ExitFollowsLastContext = false;
        for (char* text : texts) {
            EXPECT_EQ(platform::IsLiveBlock(text), !c.textsFreed) << c.exitFollows << c.otherContext;
            if (!c.textsFreed) platform::FreeBlock(text);
        }
        if (other) EndProgramContext(other);
    }
}

TEST(ProgramContext, DetachedContextIsNeverTornDown) {
    ProgramContext* detached = NewContext(kContextDetached);
    StackEntry* bottom = detached->stackTop;
    EndProgramContext(detached);
    EXPECT_TRUE(IsLiveContext(detached));
    EXPECT_EQ(detached->stackTop, bottom);
    detached->kind = kContextIndependent;
    EndProgramContext(detached);
}

TEST(ProgramContext, ContextsMadeWithinOneCounterTickGetDifferentIds) {
    // Three, so that the counter's reading and the next id are both taken.
    platform::SetTestClock(1'000'000);
    ProgramContext* contexts[3];
    for (ProgramContext*& context : contexts) {
        context = NewContext(kContextIndependent);
        MakeUniqueContextId(context);
    }
    platform::ClearTestClock();
    EXPECT_NE(contexts[0]->uniqueId, contexts[1]->uniqueId);
    EXPECT_NE(contexts[0]->uniqueId, contexts[2]->uniqueId);
    EXPECT_NE(contexts[1]->uniqueId, contexts[2]->uniqueId);
    for (ProgramContext* context : contexts) EndProgramContext(context);
}

// A child sharing its parent's class records must not free them.
TEST(ProgramContext, ChildEndLeavesTheParentsClassRecords) {
    ProgramContext* parent = NewContext(kContextIndependent);
    parent->classRecords = NewClass("SHAPE");
    parent->ownsClassRecords = 1;
    ProgramContext* child = NewContext(kContextSharedGlobals);
    child->classRecords = parent->classRecords;
    child->parent = parent;
    EndProgramContext(child);
    ASSERT_TRUE(platform::IsLiveBlock(parent->classRecords));
    EXPECT_STREQ(parent->classRecords->name, "SHAPE");
    EndProgramContext(parent);
}

TEST(ProgramContext, ElementSizes) {
    struct Case { int32_t type, size; };
    constexpr Case kCases[] = {{-9, 8}, {-8, 8}, {-5, 4}, {-4, 4}, {-3, 4}, {-2, 2}, {-1, 1}, {-7, 7}, {12, 12}};
    for (const Case& c : kCases) EXPECT_EQ(ElementSize(c.type), c.size) << c.type;
}

}  // namespace
}  // namespace qob
