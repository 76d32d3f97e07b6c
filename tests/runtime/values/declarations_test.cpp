// Tests of the declaration keywords, ReadWrite, the matrix-building step, the
// pointer operator, the mode opcodes and the program-end keywords.
#include "runtime/values/declarations.h"

#include "runtime/memory/memory_links.h"
#include "runtime/values/assignment.h"
#include "runtime/values/matrix_values.h"
#include "runtime/values/values_fixture.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

#include <string>
#include <thread>

namespace qob {
namespace {

using testing::NumberOf;
using testing::TextOf;

class DeclarationsTest : public testing::ValuesTest {
protected:
    // Runs a frame keyword over the variables (pushed as they are) and names.
    void Declare(Handler keyword, std::initializer_list<VariableRecord*> variables,
                 std::initializer_list<const char*> names = {}) {
        OpenArgumentFrame(context);
        for (VariableRecord* v : variables)
            PushValue(nullptr, 0, v, 0);
        for (const char* name : names)
            PushValue(name, 0, nullptr, 0);
        StackEntry* below = context->argumentFrame.slots[context->argumentFrame.count - 1];
        keyword();
        EXPECT_EQ(context->stackTop, below);
    }
};

TEST_F(DeclarationsTest, LocalHidesTheGlobalInThisFrameOnly) {
    VariableRecord* global = Global("X$");
    SetVariableValue(global, nullptr, 1, nullptr, 0);
    Declare(Builtin_LOCAL, {global});
    VariableRecord* local = FindVariable("X$", 0);
    ASSERT_NE(local, global);
    EXPECT_EQ(local->owner, frame);
    SetVariableValue(local, nullptr, 2, nullptr, 0);
    EXPECT_EQ(NumberOf(global), 1);
    // Another frame sees the global.
    VariableRecord* other = AllocateVariableRecord(context, false);
    LocalVariableList = other;
    EXPECT_EQ(FindVariable("X$", 0), global);
    LocalVariableList = frame;
    FreeVariableList(context, other);
}

TEST_F(DeclarationsTest, GlobalMovesALocalOutOfItsFrame) {
    VariableRecord* y = Local("Y$");
    SetVariableValue(y, "kept", 0, nullptr, 5);
    Declare(Builtin_GLOBAL, {y});
    EXPECT_EQ(y->owner, context->globalHead);
    EXPECT_EQ(y->scope, 0u);
    FreeVariableChain(context, frame, false);  // the procedure returns
    EXPECT_EQ(TextOf(FindVariable("Y$", 0)), "kept");
    Declare(Builtin_GLOBAL, {y});
    EXPECT_EQ(y->owner, context->globalHead);
    int count = 0;
    for (VariableRecord* r = context->globalHead; r; r = r->next)
        count += r == y;
    EXPECT_EQ(count, 1);
}

TEST_F(DeclarationsTest, GlobalOfALocalWhoseGlobalExistsReachesThatGlobal) {
    VariableRecord* global = Global("Z$");
    SetVariableValue(global, nullptr, 5, nullptr, 0);
    VariableRecord* local = Local("Z$");
    SetVariableValue(local, "local", 0, nullptr, 6);
    Declare(Builtin_GLOBAL, {local});
    int globals = 0;
    for (VariableRecord* r = context->globalHead; r; r = r->next)
        globals += r->name && std::string(r->name) == "Z$";
    EXPECT_EQ(globals, 1);
    VariableRecord* found = FindVariable("Z$", 0);
    while (found->reference)
        found = found->reference;
    EXPECT_EQ(found, global);
}

TEST_F(DeclarationsTest, NamespaceGlobalTakesTheCurrentNamespace) {
    CurrentNamespaceHash = 31;
    CurrentInstruction = EmitInstruction(nullptr, NopHandler, nullptr, 0, nullptr, 34, nullptr, 1, 1);
    CurrentNamespaceHash = 0;
    Declare(Builtin_NGLOBAL, {}, {"n$"});
    VariableRecord* n = FindVariable("N$", 0);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->owner, context->globalHead);
    EXPECT_EQ(n->scope, 31u);
    CurrentInstruction = nullptr;
    EXPECT_EQ(FindVariable("N$", 0), nullptr);
}

TEST_F(DeclarationsTest, ProtectStaticAndTheExplicitCheck) {
    VariableRecord* p = Local("P$");
    NoExplicitCheck = 1;
    Declare(Builtin_PROTECT, {p});
    EXPECT_EQ(NoExplicitCheck, 0);
    SetVariableValue(p, nullptr, 5, nullptr, 0);
    EXPECT_EQ(NumberOf(p), 0);
    Declare(Builtin_UNPROTECT, {p});
    SetVariableValue(p, nullptr, 5, nullptr, 0);
    EXPECT_EQ(NumberOf(p), 5);
    SetVariableValue(p, "data", 0, nullptr, 5);
    NoExplicitCheck = 1;
    Declare(Builtin_STATIC, {p});
    EXPECT_EQ(NoExplicitCheck, 1);
    EXPECT_EQ(p->flags & kVarOwnsData, 0u);
    p->flags |= kVarOwnsData;  // give it back so the test frees it
    // An empty frame does nothing but still clears the check.
    Declare(Builtin_LOCAL, {});
    EXPECT_EQ(NoExplicitCheck, 0);
}

TEST_F(DeclarationsTest, PublicAndPrivateMarkMembersOfTheRunningInstance) {
    Declare(Builtin_public, {}, {"OUTSIDE$"});  // no instance: nothing happens
    VariableRecord* head = AllocateVariableRecord(context, false);
    MemberList = head;
    Declare(Builtin_public, {}, {"M$"});
    VariableRecord* m = FindVariable("M$", 0);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->owner, head);
    EXPECT_EQ(m->flags & kVarPublic, kVarPublic);
    Declare(Builtin_private, {m});
    EXPECT_EQ(m->flags & kVarPublic, 0u);
    MemberList = nullptr;
    FreeVariableChain(context, head, true);
    FreeVariableList(context, head);
}

TEST_F(DeclarationsTest, ReadWriteAttachesBothProcedures) {
    Instruction* getter = AddProcedure("G(3,1)", true, {});
    Instruction* setter = AddProcedure("S(3,1)", true, {});
    VariableRecord* v = Local("V$");
    PushValue(nullptr, 0, v, 0);
    PushValue(nullptr, static_cast<double>(reinterpret_cast<uintptr_t>(getter)), nullptr, 0);
    std::string setterText = std::to_string(reinterpret_cast<uintptr_t>(setter));
    PushValue(setterText.c_str(), 0, nullptr, 0);
    Builtin_ReadWrite();
    EXPECT_EQ(v->getter, getter);
    EXPECT_EQ(v->setter, setter);
    v->getter = v->setter = nullptr;
}

TEST_F(DeclarationsTest, MakeMatrixCopiesItsArguments) {
    OpenArgumentFrame(context);
    PushValue(nullptr, 1, nullptr, 0);
    char text[] = "ab";
    PushValue(text, 0, nullptr, 0);
    StackEntry* bottom = context->argumentFrame.slots[0];
    Builtin___MAKEMATRIX();
    StackEntry* result = context->stackTop;
    EXPECT_EQ(result->below, bottom);
    EXPECT_EQ(result->flags, kEntryMatrix);
    const auto* cells = reinterpret_cast<const MatrixCell*>(result->text);
    EXPECT_EQ(cells[0].kind, kCellNumber);
    EXPECT_EQ(CellValue(&cells[0]), 1);
    EXPECT_EQ(cells[1].kind, kCellBlock);
    EXPECT_NE(CellPointer(&cells[1]), static_cast<void*>(text));
    EXPECT_STREQ(static_cast<const char*>(CellPointer(&cells[1])), "ab");
    EXPECT_EQ(cells[2].kind, kCellEnd);
    // A matrix argument is nested as a deep copy.
    OpenArgumentFrame(context);
    PushValue(result->text, 0, nullptr, 0);
    context->stackTop->flags = kEntryMatrix;
    Builtin___MAKEMATRIX();
    StackEntry* outer = context->stackTop;
    const auto* outerCells = reinterpret_cast<const MatrixCell*>(outer->text);
    EXPECT_EQ(outerCells[0].kind, kCellMatrix);
    const auto* nested = static_cast<const MatrixCell*>(CellPointer(&outerCells[0]));
    EXPECT_NE(CellPointer(&nested[1]), CellPointer(&cells[1]));
    // Assigning the value hands its blocks to the variable's own copy.
    VariableRecord* m = Local("M$");
    StackEntry* value = PopStackEntry();
    const char* matrix = value->text;
    MemoryLink* links = value->ownedLinks;
    value->ownedLinks = nullptr;
    PushValue(nullptr, 0, m, 0);
    PushValue(matrix, 0, nullptr, 0);
    context->stackTop->flags = kEntryMatrix;
    context->stackTop->ownedLinks = links;
    AssignStatement();
    EXPECT_EQ(MatrixLength(reinterpret_cast<MatrixCell*>(m->data), true), 2u);
    DropStackEntry();
}

// An object's entry carries its class name as text and its instance address
// as number: the matrix holds the address (a number cell), not a copy of the
// class name, so an element can be used as the object again.
TEST_F(DeclarationsTest, MakeMatrixHoldsAnObjectByItsInstanceAddress) {
    VariableRecord* object = Local("O$");
    object->flags = kVarObject;
    object->value = 4096;
    char className[] = "BOX";
    char text[] = "ab";
    OpenArgumentFrame(context);
    PushValue(className, 4096, object, 0);
    PushValue(text, 0, nullptr, 0);
    Builtin___MAKEMATRIX();
    const auto* cells = reinterpret_cast<const MatrixCell*>(context->stackTop->text);
    EXPECT_EQ(cells[0].kind, kCellNumber);
    EXPECT_EQ(CellValue(&cells[0]), 4096);
    EXPECT_EQ(cells[1].kind, kCellBlock);
    EXPECT_STREQ(static_cast<const char*>(CellPointer(&cells[1])), "ab");
    EXPECT_EQ(cells[2].kind, kCellEnd);
    int owned = 0;
    for (MemoryLink* link = context->stackTop->ownedLinks; link; link = link->older)
        ++owned;
    EXPECT_EQ(owned, 1);
    DropStackEntry();
    object->flags = 0;
}

TEST_F(DeclarationsTest, PointerOfANumberAndOfAText) {
    PushValue(nullptr, 4096, Local("V$"), 3);
    context->stackTop->flags = kEntryWide;
    Builtin_ptr();
    StackEntry* top = PopStackEntry();
    EXPECT_EQ(reinterpret_cast<uintptr_t>(top->text), 4096u);
    EXPECT_EQ(top->value, 0);
    EXPECT_EQ(top->variable, nullptr);
    EXPECT_EQ(top->extra, 0);
    EXPECT_EQ(top->flags, 0u);
    const char* text = "t";
    PushValue(text, 12, nullptr, 0);
    Builtin_ptr();
    EXPECT_EQ(PopStackEntry()->text, text);
}

TEST_F(DeclarationsTest, ModeTogglesAndExit) {
    Handle_RANGEMODE();
    EXPECT_EQ(context->rangeCheck, 1);
    Handle_RANGEMODE();
    EXPECT_EQ(context->rangeCheck, 0);
    Handle_EXPLICITMODE();
    EXPECT_EQ(context->explicitDeclarations, 1);
    Builtin___NOEXPLICITCHECK();
    EXPECT_EQ(NoExplicitCheck, 1);
    Builtin_EXIT();
    EXPECT_TRUE(StopFlag);
    EXPECT_EQ(EndingContext, context);
}

TEST_F(DeclarationsTest, HaltOnAScriptThreadEndsOnlyThatThread) {
    bool afterHalt = false;
    std::thread script([&] {
        Builtin_HALT();
        afterHalt = true;
    });
    script.join();
    EXPECT_FALSE(afterHalt);
}

TEST(DeclarationsDeathTest, HaltOnTheMainThreadEndsTheProcessWithZero) {
    EXPECT_EXIT(Builtin_HALT(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace qob
