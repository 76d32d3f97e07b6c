// tests/runtime/values/scope_moves_test.cpp
// Moving variables between lists, and releasing a context's cached frames.

#include "runtime/values/scope_moves.h"

#include <gtest/gtest.h>

#include "runtime/vm/vm_fixture.h"

namespace qob::testing {
namespace {

TEST_F(VmTest, MoveRelinksAtTheEndOfTheTarget) {
    VariableRecord* frame = AllocateVariableRecord(context, false);
    frame->owner = frame;
    VariableRecord* a = CreateVariable(frame, "A$", false);
    VariableRecord* b = CreateVariable(frame, "B$", false);
    VariableRecord* global = Global("G$");
    MoveVariableToScope(context->globalHead, a, true);
    EXPECT_EQ(a->owner, context->globalHead);
    EXPECT_EQ(global->next, a);
    EXPECT_EQ(a->previous, global);
    EXPECT_EQ(a->next, nullptr);
    EXPECT_EQ(frame->next, b);
    EXPECT_EQ(b->previous, frame);
    FreeVariableChain(context, frame, true);
    FreeVariableList(context, frame);
}

TEST_F(VmTest, MoveIntoItsOwnListChangesNoLinks) {
    VariableRecord* a = Global("A$");
    VariableRecord* b = Global("B$");
    MoveVariableToScope(context->globalHead, a, false);
    EXPECT_EQ(a->next, b);
    EXPECT_EQ(b->previous, a);
}

TEST_F(VmTest, MovingTheFirstConstantHandsTheHeadOn) {
    VariableRecord* first = CreateVariable(nullptr, "ONE%", false);
    ASSERT_EQ(ConstantList, first);
    VariableRecord* second = CreateVariable(ConstantList, "TWO%", false);
    ASSERT_EQ(first->next, second);
    MoveVariableToScope(context->globalHead, first, true);
    EXPECT_EQ(ConstantList, second);
    EXPECT_EQ(second->previous, nullptr);
    EXPECT_EQ(first->owner, context->globalHead);
}

TEST_F(VmTest, FreeContextVariablesLeavesAnEmptyCacheUnchanged) {
    EXPECT_EQ(context->frameCache, nullptr);
    FreeContextVariables(context);
    EXPECT_EQ(context->frameCache, nullptr);
}

}  // namespace
}  // namespace qob::testing
