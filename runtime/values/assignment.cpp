// runtime/values/assignment.cpp
// The "=" assignment: its keyword and opcode forms and the dispatch over the
// value's origin (variable or temporary, by reference or not) and the target.
#include "runtime/values/assignment.h"

#include "platform/c_library.h"
#include "platform/memory.h"
#include "runtime/data/number_text.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/memory/memory_links.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/list_values.h"
#include "runtime/values/matrix_values.h"
#include "runtime/values/objects.h"
#include "runtime/values/typed_fields.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/fresh_text.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/push_instructions.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace qob {

uint8_t SetPushPending = 0;

namespace {

// What the dispatch reads of the value entry. The links it owned are taken
// off the cell when it is popped: each row either hands them on or frees them.
struct SourceValue {
    double value;
    const char* text;
    VariableRecord* variable;
    int32_t extra;
    uint32_t flags;
    MemoryLink* links;
};

SourceValue TakeSource(StackEntry* entry) {
    SourceValue s{entry->value, entry->text, entry->variable, entry->extra, entry->flags, entry->ownedLinks};
    entry->ownedLinks = nullptr;
    return s;
}

void* FieldOf(int32_t extra) {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(static_cast<uint32_t>(extra)));
}

bool IsListVariable(const VariableRecord* v) {
    return v->currentNode && (v->flags & kVarList) && !v->reference;
}

// X takes over the blocks the value owned (they are now its data's blocks):
// the value's chain is spliced in front of X's.
void TakeLinks(VariableRecord* x, SourceValue& s) {
    if (!s.links)
        return;
    VariableRecord* holder = MemoryLinkHolder(x);
    MemoryLink* oldest = s.links;
    while (oldest->older)
        oldest = oldest->older;
    oldest->older = holder->links;
    if (holder->links)
        holder->links->newer = oldest;
    holder->links = s.links;
    s.links = nullptr;
}

void FreeSourceLinks(SourceValue& s) {
    FreeLinkChain(s.links);
    s.links = nullptr;
}

void* SourceBlock(const SourceValue& s) {
    if (s.text)
        return const_cast<char*>(s.text);
    return reinterpret_cast<void*>(static_cast<uintptr_t>(platform::TruncateToInteger<int64_t>(s.value)));
}

bool WouldCycle(VariableRecord* v, const VariableRecord* x) {
    for (; v; v = v->reference)
        if (v == x)
            return true;
    return false;
}

// Rows for a by-reference target without a field, by the target's kind.
void StoreIntoReferenceTarget(VariableRecord* x, SourceValue& s, int64_t size) {
    int64_t handSize = s.text ? size : -1;
    if (x->flags & kVarStructure) {
        SetVariablePointer(x, SourceBlock(s), handSize, false);
        TakeLinks(x, s);
    } else if (x->elementCount) {
        SetVariableString(x, SourceBlock(s), handSize, false);
        TakeLinks(x, s);
    } else if (x->flags & kVarMatrix) {
        SetVariableMatrix(x, SourceBlock(s), handSize, false);
        TakeLinks(x, s);
    } else if (x->flags & kVarObject) {
        SetVariableNumberIfChanged(x, platform::TruncateToInteger<int64_t>(s.value));
    } else {
        SetVariableValue(x, s.text, s.value, nullptr, size);
    }
}

// Rows for a value without variable into a target taken by value (or with a field).
void StoreTemporary(VariableRecord* x, SourceValue& s, void* field, int64_t size) {
    if ((s.flags & kEntryMatrix) && field) {
        const auto* cells = reinterpret_cast<const MatrixCell*>(s.text);
        if (x->flags & kVarMatrix) {
            MatrixCellSetMatrix(static_cast<MatrixCell*>(field), cells, &MemoryLinkHolder(x)->links);
        } else {
            MemoryLink** links = &MemoryLinkHolder(x)->links;
            MatrixCell* copy = CopyMatrixCells(cells, links);
            StoreTypedValue(x, field, x->type, nullptr, static_cast<double>(reinterpret_cast<uintptr_t>(copy)));
            PushMemoryLink(links, copy, field, x->type);
        }
        FreeSourceLinks(s);
        return;
    }
    if (s.flags & kEntryMatrix) {
        SetMatrixValue(x, reinterpret_cast<const MatrixCell*>(s.text));
        FreeSourceLinks(s);
        return;
    }
    if (field && (x->flags & kVarMatrix)) {
        AssignTypedField(field, x, s.text, s.value, size);
        return;
    }
    SetVariableValue(x, s.text, s.value, field, size);
    if (s.links) {
        CopyLinkChain(s.links, s.text, &MemoryLinkHolder(x)->links, x->data);
        FreeSourceLinks(s);
    }
}

// Returns false for the row that leaves the UTF-16 mark alone.
bool Dispatch(VariableRecord* x, SourceValue& s, bool targetByReference, void* field) {
    // A text that is no block (a constant of the program) is measured by its
    // terminator, never handed over as size -1.
    int64_t size = x->type ? x->type : -1;
    if (s.text) {
        size = static_cast<int64_t>(platform::GetBlockSize(s.text));
        if (size == 0)
            size = static_cast<int64_t>(TextBytes(s.text, s.flags & kEntryWide));
    }
    VariableRecord* v = s.variable;
    bool sourceByReference = s.flags & kEntryByReference;
    if (v) {
        // An object into an array element or a matrix cell is held there by
        // its instance address.
        bool cell = field && (x->flags & kVarMatrix);
        if ((x->elementCount || cell) && (v->flags & kVarObject)) {
            x->flags |= kVarHoldsObject;
            SetVariableValue(x, nullptr, s.value, field, size);
            return false;
        }
        if (!sourceByReference && !targetByReference) {
            if (s.extra != 0)
                SetVariableValue(x, s.text, s.value, field, size);
            else if (v->flags & kVarStructure)
                AssignStructureValue(x, v, kCopyDeep, 0, s.text);
            else if (v->elementCount)
                AssignArrayValue(x, v, kCopyDeep, 0);
            else if (v->flags & kVarMatrix)
                AssignMatrixValue(x, v, kCopyDeep, 0, s.text);
            else if (x->elementCount || !(v->flags & kVarObject))
                SetVariableValue(x, s.text, s.value, field, size);
            else
                CopyObjectInstance(x, v, kCopyDeep, 0);
        } else if (!targetByReference || field) {
            SetVariableValue(x, s.text, s.value, field, size);
        } else if (sourceByReference) {
            // An alias: refused when it would make a cycle of references.
            if (s.extra == 0 && !WouldCycle(v, x))
                x->reference = v;
        } else if (!(x->flags & (kVarStructure | kVarMatrix | kVarObject)) && !x->elementCount &&
                   s.text && s.text == v->data) {
            if (x != v) {
                ClearVariable(CurrentContext, x, true, false);
                x->data = v->data;
                x->type = v->type;
                x->flags = (x->flags & ~kVarOwnsData);
                x->linkOwner = MemoryLinkHolder(v);
            }
        } else {
            StoreIntoReferenceTarget(x, s, size);
        }
    } else if (targetByReference && !field) {
        if (!sourceByReference)
            StoreIntoReferenceTarget(x, s, size);
    } else {
        StoreTemporary(x, s, field, size);
    }
    return true;
}

void PushAssignedTarget(VariableRecord* x);

void FinishAssignment(VariableRecord* x, SourceValue& s, bool setWideMark) {
    if (setWideMark) {
        if (s.flags & kEntryWide)
            x->flags |= kVarWideText;
        else
            x->flags &= ~kVarWideText;
    }
    if (IsListVariable(x))
        StoreListElement(x);
    FreeSourceLinks(s);
    if (SetPushPending)
        PushAssignedTarget(x);
}

// The __set_push request: the target's new value is pushed.
void PushAssignedTarget(VariableRecord* x) {
    SetPushPending = 0;
    VariableRecord* target = x;
    if (NoFollowPending)
        NoFollowPending = false;
    else
        while (target->reference)
            target = target->reference;
    char* text = nullptr;
    double value = 0;
    GetVariableValue(target, &text, &value, nullptr);
    PushValue(text, value, target, 0);
    StackEntry* top = CurrentContext->stackTop;
    top->flags = ((target->flags & kVarMatrix) ? kEntryMatrix : 0) | ((target->flags & kVarWideText) ? kEntryWide : 0);
}

VariableRecord* OpcodeTarget() {
    ProgramContext* context = CurrentContext;
    Instruction* node = CurrentInstruction;
    if (const InstructionExtra* cached = node->extra; cached && cached->cachedVariable &&
                                                      IsCachedListInForce(cached->cachedList))
        return cached->cachedVariable;
    InstructionExtra* extra = RequireInstructionExtra(context->pool, node);
    VariableRecord* x = FindOrRequireVariable(node->text, node->textHash);
    if (extra && x) {
        // Cache the list the target really lives in: inside a method the
        // member list stays in force across a recursive call, the frame not.
        // A member reached through an object variable is never cached: the
        // variable may hold another instance next time.
        extra->cachedVariable = x;
        extra->cachedList = MemberLookupInstance ? nullptr : x->owner;
    }
    return x;
}

}  // namespace

void AssignFromEntry(StackEntry* source, VariableRecord* target, bool targetByReference, void* targetField) {
    SourceValue s = TakeSource(source);
    bool wide = Dispatch(target, s, targetByReference, targetField);
    FinishAssignment(target, s, wide);
}

void AssignStatement() {
    SourceValue s = TakeSource(PopStackEntry());
    StackEntry* t = PopStackEntry();
    FreeLinkChain(t->ownedLinks);
    t->ownedLinks = nullptr;
    bool targetByReference = t->flags & kEntryByReference;
    void* field = FieldOf(t->extra);
    VariableRecord* x = t->variable;
    if (x) {
        x->reference = nullptr;
    } else if (t->text) {
        x = RequireVariable(LocalVariableList, t->text);
    }
    if (!x) {
        FreeSourceLinks(s);
        return;
    }
    bool wide = Dispatch(x, s, targetByReference, field);
    FinishAssignment(x, s, wide);
}

// A number (a constant, a result, or read from a plain variable) that owns
// nothing: every row of the dispatch stores just its value.
bool IsPlainNumberSource(const SourceValue& s) {
    if (s.text || s.flags || s.links)
        return false;
    const VariableRecord* v = s.variable;
    return !v || (!(v->flags & (kVarStructure | kVarMatrix | kVarObject)) && !v->elementCount);
}

// A target a number goes into as its whole value: no storage of its own, no
// list element to write back.
bool IsPlainNumberTarget(const VariableRecord* x) {
    return x->type == 0 && !x->elementCount && !(x->flags & kVarHandedOver) && !x->currentNode;
}

// A fresh text (see IsFreshText) stored by value into a plain untyped
// variable: the variable takes the block over, where the general rows would
// store a copy of it and let the temporary go at the end of the pass.
bool AdoptFreshText(VariableRecord* x, const SourceValue& s) {
    if (x->type != 0 || x->elementCount || x->setter || x->currentNode || x->reference || x->protect == 1 ||
        (x->flags & (kVarStructure | kVarMatrix | kVarObject | kVarHandedOver)))
        return false;
    char* block = const_cast<char*>(s.text);
    if (!ForgetNewestTrackedBlock(CurrentContext, block))
        return false;
    AdoptUntypedText(x, block, s.value);
    return true;
}

// The "=2" of anything but a plain number into a plain number variable its
// cache answers for (out of line: that case then needs no frame of its own).
[[gnu::noinline]] void AssignOpcodeFully() {
    VariableRecord* x = OpcodeTarget();
    StackEntry* source = PopCell(CurrentContext);
    const bool fresh = IsFreshText(source);
    SourceValue s = TakeSource(source);
    if (!x) {
        FreeSourceLinks(s);
        return;
    }
    if (!NoFollowPending && CurrentInstruction->extraWord == 0)
        while (x->reference)
            x = x->reference;
    bool targetByReference = CurrentInstruction->operand != 0;
    if (!targetByReference && IsPlainNumberSource(s) && IsPlainNumberTarget(x)) {
        SetVariableValue(x, nullptr, s.value, nullptr, -1);
        x->flags &= ~kVarWideText;
        if (SetPushPending)
            PushAssignedTarget(x);
        return;
    }
    // A typed block or an array takes the value into its storage. A matrix
    // named whole takes the value whole, as the keyword form does: its data
    // is a cell run, and writing into the first cell would nest the new
    // value there, or overwrite the end cell of an empty matrix.
    void* field = nullptr;
    if (!targetByReference && !(x->flags & kVarMatrix) &&
        (x->type != 0 || x->elementCount || (x->flags & kVarHandedOver)))
        field = x->data;
    if (fresh && !targetByReference && !field && AdoptFreshText(x, s)) {
        FinishAssignment(x, s, true);
        return;
    }
    bool wide = Dispatch(x, s, targetByReference, field);
    FinishAssignment(x, s, wide);
}

void AssignOpcode() {
    ProgramContext* context = CurrentContext;
    StackEntry* top = context->stackTop;
    // What the full way does with a number cell that owns nothing and names
    // no variable that is more than a number, into a variable that takes a
    // plain number as its whole value: the number is stored, the cell popped.
    if (top->below && !top->text && top->flags == 0 && !top->ownedLinks && CurrentInstruction->operand == 0.0) {
        const VariableRecord* v = top->variable;
        VariableRecord* x = CachedAssignTarget(CurrentInstruction);
        if (x && TakesPlainNumber(x) &&
            (!v || (!(v->flags & (kVarStructure | kVarMatrix | kVarObject)) && !v->elementCount))) {
            context->stackTop = top->below;
            StoreWholeNumber(x, top->value);
            return;
        }
    }
    AssignOpcodeFully();
}

bool AssignNumberToTarget(VariableRecord* x, double value) {
    if (!IsPlainNumberTarget(x))
        return false;
    SetVariableValue(x, nullptr, value, nullptr, -1);
    x->flags &= ~kVarWideText;
    return true;
}

void Builtin___set_push() {
    SetPushPending = 1;
}

}  // namespace qob
