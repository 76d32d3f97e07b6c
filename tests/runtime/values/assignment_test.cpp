// Tests of the "=" assignment: each origin of the value (temporary, variable,
// by reference, matrix, owned blocks) into each kind of target, aliases and
// their cycles, the UTF-16 mark, the pushed result, and the opcode's cache.
#include "runtime/values/assignment.h"

#include "platform/memory.h"
#include "runtime/memory/memory_links.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/matrix_values.h"
#include "runtime/values/objects.h"
#include "runtime/values/values_fixture.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

#include <cstring>
#include <string>

namespace qob {
namespace {

using testing::NumberOf;
using testing::TextOf;

class AssignmentTest : public testing::ValuesTest {
protected:
    // Pushes the target entry and the value entry, then runs "=".
    void Assign(VariableRecord* target, uint32_t targetFlags, const char* text, double value,
                VariableRecord* source, uint32_t sourceFlags, int32_t sourceExtra = 0,
                MemoryLink* sourceLinks = nullptr) {
        PushValue(nullptr, 0, target, 0);
        context->stackTop->flags = targetFlags;
        PushValue(text, value, source, sourceExtra);
        context->stackTop->flags = sourceFlags;
        context->stackTop->ownedLinks = sourceLinks;
        valueCell = context->stackTop;
        AssignStatement();
    }
    StackEntry* valueCell = nullptr;
};

TEST_F(AssignmentTest, TemporaryNumbersAndTexts) {
    VariableRecord* x = Local("X$");
    Assign(x, 0, nullptr, 4.5, nullptr, 0);
    EXPECT_EQ(NumberOf(x), 4.5);
    char text[] = "temporary";
    Assign(x, 0, text, 0, nullptr, 0);
    EXPECT_EQ(TextOf(x), "temporary");
    EXPECT_NE(x->data, text);
    EXPECT_EQ(x->flags & kVarOwnsData, kVarOwnsData);
    // A target named by text is found or made.
    PushValue("named$", 0, nullptr, 0);
    PushValue(nullptr, 3, nullptr, 0);
    AssignStatement();
    EXPECT_EQ(NumberOf(FindVariable("NAMED$", 0)), 3);
}

TEST_F(AssignmentTest, VariableValuesAreCopied) {
    VariableRecord* v = Local("V$");
    SetVariableValue(v, "source", 0, nullptr, 7);
    VariableRecord* x = Local("X$");
    Assign(x, 0, v->data, 0, v, 0);
    EXPECT_EQ(TextOf(x), "source");
    EXPECT_NE(x->data, v->data);
    SetVariableValue(v, nullptr, 1, nullptr, 0);
    EXPECT_EQ(TextOf(x), "source");
}

TEST_F(AssignmentTest, ReferencesMakeAliasesButNeverCycles) {
    VariableRecord* v = Local("V$");
    VariableRecord* x = Local("X$");
    Assign(x, kEntryByReference, nullptr, 0, v, kEntryByReference);
    EXPECT_EQ(x->reference, v);
    // Aliasing back, or to itself, would loop forever: nothing is stored.
    Assign(v, kEntryByReference, nullptr, 0, x, kEntryByReference);
    EXPECT_EQ(v->reference, nullptr);
    Assign(v, kEntryByReference, nullptr, 0, v, kEntryByReference);
    EXPECT_EQ(v->reference, nullptr);
    // Assigning to an alias cuts it and writes the variable itself.
    Assign(x, 0, nullptr, 8, nullptr, 0);
    EXPECT_EQ(x->reference, nullptr);
    EXPECT_EQ(NumberOf(x), 8);
    EXPECT_EQ(NumberOf(v), 0);
}

TEST_F(AssignmentTest, SharingItsOwnDataWithItselfChangesNothing) {
    VariableRecord* v = Local("V$");
    SetVariableValue(v, "mine", 0, nullptr, 5);
    char* data = v->data;
    Assign(v, kEntryByReference, v->data, 0, v, 0);
    EXPECT_EQ(v->data, data);
    EXPECT_EQ(TextOf(v), "mine");
    EXPECT_EQ(v->flags & kVarOwnsData, kVarOwnsData);
    // Another target shares the data without owning it.
    VariableRecord* x = Local("X$");
    Assign(x, kEntryByReference, v->data, 0, v, 0);
    EXPECT_EQ(x->data, v->data);
    EXPECT_EQ(x->flags & kVarOwnsData, 0u);
    x->data = nullptr;
}

TEST_F(AssignmentTest, OwnedBlocksAreTakenOverOrFreedAndTheCellForgetsThem) {
    // A value that owns a block through a -4 field of its storage.
    char* storage = static_cast<char*>(AllocateValueBlock(8));
    char* block = CopyValueText("linked");
    MemoryLink* links = nullptr;
    PushMemoryLink(&links, block, storage, -4);
    VariableRecord* x = Local("X$");
    x->flags = kVarStructure;
    Assign(x, kEntryByReference, storage, 0, Local("V$"), 0, 0, links);
    EXPECT_EQ(x->data, storage);
    ASSERT_NE(x->links, nullptr);
    EXPECT_EQ(x->links->block, block);
    EXPECT_EQ(valueCell->ownedLinks, nullptr);
    x->flags = kVarStructure | kVarOwnsData;
    ReleaseVariable(context, x, false, false);
    EXPECT_FALSE(platform::IsLiveBlock(block));

    // A plain value with owned blocks: the target gets copies, the value's go.
    char* text = CopyValueText("plain");
    char* owned = CopyValueText("extra");
    MemoryLink* more = nullptr;
    PushMemoryLink(&more, owned, nullptr, 0);
    VariableRecord* y = Local("Y$");
    Assign(y, 0, text, 0, nullptr, 0, 0, more);
    EXPECT_EQ(valueCell->ownedLinks, nullptr);
    EXPECT_FALSE(platform::IsLiveBlock(owned));
    ASSERT_NE(y->links, nullptr);
    EXPECT_STREQ(static_cast<char*>(y->links->block), "extra");
    FreeValueBlock(text);
}

TEST_F(AssignmentTest, EntryLinksAreCopiedToTheSameFieldOfTheVariable) {
    // A value whose storage holds a text through a -4 field at offset 4.
    char* storage = static_cast<char*>(AllocateValueBlock(8));
    char* text = CopyValueText("moved");
    uint32_t address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(text));
    std::memcpy(storage + 4, &address, 4);
    PushValue(storage, 0, nullptr, 0);
    PushMemoryLink(&context->stackTop->ownedLinks, text, storage + 4, -4);
    VariableRecord* x = Local("X$");
    x->data = static_cast<char*>(AllocateValueBlock(8));
    x->flags = kVarOwnsData;
    CopyMemoryLinks(context->stackTop, x);
    ASSERT_NE(x->links, nullptr);
    EXPECT_EQ(x->links->field, x->data + 4);
    EXPECT_NE(x->links->block, text);
    uint32_t stored = 0;
    std::memcpy(&stored, x->data + 4, 4);
    EXPECT_EQ(stored, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(x->links->block)));
    EXPECT_STREQ(static_cast<char*>(x->links->block), "moved");
    DropStackEntry();
    FreeValueBlock(storage);
}

TEST_F(AssignmentTest, MatrixValuesAreStoredAsDeepCopies) {
    const char* source = "[1,{a},[2]]";
    uint32_t count = StringToMatrixCount(&source);
    auto* cells = static_cast<MatrixCell*>(AllocateValueBlock((count + 1) * sizeof(MatrixCell)));
    MemoryLink* links = nullptr;
    StringToMatrix(&source, cells, &links);
    VariableRecord* x = Local("X$");
    Assign(x, 0, reinterpret_cast<char*>(cells), 0, nullptr, kEntryMatrix, 0, links);
    EXPECT_EQ(x->flags & (kVarMatrix | kVarOwnsData), kVarMatrix | kVarOwnsData);
    EXPECT_EQ(valueCell->ownedLinks, nullptr);
    FreeValueBlock(cells);
    std::string text(MatrixToStringCount(reinterpret_cast<MatrixCell*>(x->data)), '\0');
    MatrixToString(reinterpret_cast<MatrixCell*>(x->data), text.data(), true);
    EXPECT_STREQ(text.c_str(), "[1,{a},[2]]");
    // A plain number replaces the whole matrix and its blocks.
    Assign(x, 0, nullptr, 5, nullptr, 0);
    EXPECT_EQ(x->flags & kVarMatrix, 0u);
    EXPECT_EQ(x->links, nullptr);
    EXPECT_EQ(NumberOf(x), 5);
}

TEST_F(AssignmentTest, Utf16MarkFollowsTheValue) {
    VariableRecord* x = Local("X$");
    const char16_t wide[] = u"w";
    Assign(x, 0, reinterpret_cast<const char*>(wide), 0, nullptr, kEntryWide);
    EXPECT_EQ(x->flags & kVarWideText, kVarWideText);
    Assign(x, 0, "narrow", 0, nullptr, 0);
    EXPECT_EQ(x->flags & kVarWideText, 0u);
}

TEST_F(AssignmentTest, PushPendingLeavesTheValueOnTheStackOnce) {
    VariableRecord* x = Local("X$");
    StackEntry* before = context->stackTop;
    Builtin___set_push();
    Assign(x, 0, nullptr, 6, nullptr, 0);
    EXPECT_EQ(SetPushPending, 0);
    ASSERT_NE(context->stackTop, before);
    EXPECT_EQ(context->stackTop->value, 6);
    EXPECT_EQ(context->stackTop->variable, x);
    PopStackEntry();
    Assign(x, 0, nullptr, 7, nullptr, 0);
    EXPECT_EQ(context->stackTop, before);
}

TEST_F(AssignmentTest, ObjectIntoArrayStoresItsAddress) {
    VariableRecord* object = Local("O$");
    object->flags = kVarObject;
    object->value = 4096;
    VariableRecord* array = Local("A$");
    // Field addresses travel in 32 bits: the storage is program-visible memory.
    auto* storage = static_cast<int32_t*>(AllocateValueBlock(8));
    array->type = -4;
    array->elementCount = 2;
    array->data = reinterpret_cast<char*>(storage);
    array->flags = kVarOwnsData;
    PushValue(nullptr, 0, array, static_cast<int32_t>(reinterpret_cast<uintptr_t>(&storage[1])));
    PushValue(nullptr, 4096, object, 0);
    AssignStatement();
    EXPECT_EQ(array->flags & kVarHoldsObject, kVarHoldsObject);
    EXPECT_EQ(storage[1], 4096);
    EXPECT_EQ(storage[0], 0);
    object->flags = 0;
}

// The same into a matrix cell: the cell takes the address as a number (its
// old text is freed), and the matrix stays a matrix.
TEST_F(AssignmentTest, ObjectIntoAMatrixCellStoresItsAddress) {
    AddClass("BOX");
    VariableRecord* object = Local("O$");
    CreateObjectInstance(object, "BOX", false);
    const double address = object->value;
    const char* source = "[1,{text}]";
    uint32_t count = StringToMatrixCount(&source);
    auto* cells = static_cast<MatrixCell*>(AllocateValueBlock((count + 1) * sizeof(MatrixCell)));
    MemoryLink* links = nullptr;
    StringToMatrix(&source, cells, &links);
    VariableRecord* m = Local("M$");
    Assign(m, 0, reinterpret_cast<char*>(cells), 0, nullptr, kEntryMatrix, 0, links);
    FreeValueBlock(cells);
    auto* cell = reinterpret_cast<MatrixCell*>(m->data) + 1;
    PushValue(nullptr, 0, m, static_cast<int32_t>(reinterpret_cast<uintptr_t>(cell)));
    PushValue(object->data, address, object, 0);
    AssignStatement();
    ASSERT_EQ(m->flags & (kVarMatrix | kVarObject), kVarMatrix);
    EXPECT_EQ(cell->kind, kCellNumber);
    EXPECT_EQ(CellValue(cell), address);
    EXPECT_EQ(m->links, nullptr);
}

TEST_F(AssignmentTest, OpcodeFormLooksItsTargetUpOncePerFrame) {
    Instruction* node = EmitInstruction(nullptr, AssignOpcode, "X$", 0, nullptr, 33, nullptr, 1, 1);
    CurrentInstruction = node;
    VariableRecord* first = Local("X$");
    PushValue(nullptr, 1, nullptr, 0);
    AssignOpcode();
    EXPECT_EQ(NumberOf(first), 1);
    EXPECT_EQ(node->extra->cachedVariable, first);
    // Another frame: the cache is not used, the new frame's X$ is.
    VariableRecord* otherFrame = AllocateVariableRecord(context, false);
    LocalVariableList = otherFrame;
    VariableRecord* second = CreateVariable(otherFrame, "X$", false);
    PushValue(nullptr, 2, nullptr, 0);
    AssignOpcode();
    EXPECT_EQ(NumberOf(second), 2);
    EXPECT_EQ(NumberOf(first), 1);
    LocalVariableList = frame;
    PushValue(nullptr, 3, nullptr, 0);
    AssignOpcode();
    EXPECT_EQ(NumberOf(first), 3);
    CurrentInstruction = nullptr;
    FreeVariableChain(context, otherFrame, true);
    FreeVariableList(context, otherFrame);
}

// "X = matrix" by the opcode form replaces X's matrix, as the keyword form
// does: an empty matrix keeps its end cell and a full one is not nested into
// its first cell.
TEST_F(AssignmentTest, OpcodeFormReplacesAWholeMatrix) {
    Instruction* node = EmitInstruction(nullptr, AssignOpcode, "X$", 0, nullptr, 33, nullptr, 1, 1);
    CurrentInstruction = node;
    VariableRecord* x = Local("X$");
    auto pushMatrix = [&](const char* text) {
        const char* at = text;
        const uint32_t count = StringToMatrixCount(&at);
        auto* cells = static_cast<MatrixCell*>(AllocateValueBlock((count + 1) * sizeof(MatrixCell)));
        MemoryLink* links = nullptr;
        at = text;
        StringToMatrix(&at, cells, &links);
        PushValue(reinterpret_cast<char*>(cells), 0, nullptr, 0);
        context->stackTop->flags = kEntryMatrix;
        context->stackTop->ownedLinks = links;
        return cells;
    };
    auto textOfX = [&] {
        const auto* cells = reinterpret_cast<const MatrixCell*>(x->data);
        std::string text(MatrixToStringCount(cells), '\0');
        MatrixToString(cells, text.data(), true);
        return std::string(text.c_str());
    };
    for (const char* value : {"[]", "[1,{a}]", "[]", "[[2,3],4]", "[5]"}) {
        MatrixCell* cells = pushMatrix(value);
        AssignOpcode();
        FreeValueBlock(cells);
        ASSERT_EQ(x->flags & kVarMatrix, kVarMatrix) << value;
        EXPECT_EQ(textOfX(), value);
    }
    CurrentInstruction = nullptr;
}

// Inside a method the current object's member list stays in force across a
// recursive call on the same object; the cache must still follow the frame
// the local was found in, or the inner call assigns into the outer local.
TEST_F(AssignmentTest, OpcodeCacheInsideAMethodFollowsTheFrameNotTheObject) {
    Instruction* node = EmitInstruction(nullptr, AssignOpcode, "X$", 0, nullptr, 33, nullptr, 1, 1);
    CurrentInstruction = node;
    VariableRecord* members = AllocateVariableRecord(context, false);
    VariableRecord* savedMembers = MemberList;
    MemberList = members;
    VariableRecord* outer = Local("X$");
    PushValue(nullptr, 1, nullptr, 0);
    AssignOpcode();
    VariableRecord* innerFrame = AllocateVariableRecord(context, false);
    LocalVariableList = innerFrame;
    VariableRecord* inner = CreateVariable(innerFrame, "X$", false);
    PushValue(nullptr, 2, nullptr, 0);
    AssignOpcode();
    EXPECT_EQ(NumberOf(inner), 2);
    EXPECT_EQ(NumberOf(outer), 1);
    LocalVariableList = frame;
    MemberList = savedMembers;
    CurrentInstruction = nullptr;
    FreeVariableChain(context, innerFrame, true);
    FreeVariableList(context, innerFrame);
    FreeVariableList(context, members);
}

// Inside a method the member list is in force, so a cached member of it
// would be reused; but O.V$ names a member of whatever instance O$ holds at
// the time, and a private member seen from outside is refused every time.
TEST_F(AssignmentTest, OpcodeCacheNeverKeepsAMemberReachedThroughAnObject) {
    AddClass("BOX");
    auto newBox = [&](const char* name) {
        VariableRecord* object = Local(name);
        CreateObjectInstance(object, "BOX", false);
        auto* head = reinterpret_cast<VariableRecord*>(static_cast<uintptr_t>(object->value));
        CreateVariable(head, "V$", true)->flags |= kVarPublic;
        SetVariableValue(CreateVariable(head, "HIDDEN$", true), nullptr, 7, nullptr, 0);
        return head;
    };
    VariableRecord* a = newBox("A$");
    VariableRecord* b = newBox("B$");
    VariableRecord* o = Local("O$");
    Instruction* node = EmitInstruction(nullptr, AssignOpcode, "O.V$", 0, nullptr, 33, nullptr, 1, 1);
    CurrentInstruction = node;
    MemberList = a;  // a method of A runs
    CopyObjectInstance(o, FindVariable("A$", 0), kCopyShare, 0);
    PushValue(nullptr, 5, nullptr, 0);
    AssignOpcode();
    CopyObjectInstance(o, FindVariable("B$", 0), kCopyShare, 0);
    PushValue(nullptr, 6, nullptr, 0);
    AssignOpcode();
    EXPECT_EQ(NumberOf(FindNamedItem(a, "V$")), 5);
    EXPECT_EQ(NumberOf(FindNamedItem(b, "V$")), 6);
    MemberList = nullptr;
    // Outside the methods the private member is refused on every run, and
    // no record of the name is made for later runs to find.
    Instruction* hidden = EmitInstruction(node, AssignOpcode, "O.HIDDEN$", 0, nullptr, 33, nullptr, 1, 1);
    CurrentInstruction = hidden;
    for (int run = 0; run < 2; ++run) {
        ClearError();
        PushValue(nullptr, 9, nullptr, 0);
        AssignOpcode();
        EXPECT_NE(LastError().find("Variable 'HIDDEN$' cannot be accessed, it is private!"), std::string::npos)
            << run;
        EXPECT_EQ(LastError().find("has not been defined"), std::string::npos) << run;
    }
    EXPECT_EQ(NumberOf(FindNamedItem(b, "HIDDEN$")), 7);
    EXPECT_EQ(FindNamedItem(frame, "O.HIDDEN$"), nullptr);
    CurrentInstruction = nullptr;
}

}  // namespace
}  // namespace qob
