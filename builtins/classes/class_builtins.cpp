// builtins/classes/class_builtins.cpp
// The steps that give variables objects, the object built-ins, the kind tests
// of variables and the bare records of alloceval / freeeval.
#include "builtins/classes/class_builtins.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "builtins/operators/operator_values.h"
#include "platform/c_library.h"
#include "platform/memory.h"
#include "runtime/data/hash.h"
#include "runtime/memory/memory_links.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/list_values.h"
#include "runtime/values/objects.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/procedure_lookup.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace qob {
namespace {

constexpr const char* kStackTempObject = "__STACKTEMPOBJECT$";

double AddressNumber(const void* address) { return static_cast<double>(reinterpret_cast<uintptr_t>(address)); }

VariableRecord* RecordAt(double number) {
    return reinterpret_cast<VariableRecord*>(static_cast<uintptr_t>(platform::TruncateToInteger<int64_t>(number)));
}

// A record a number names: a live block of a record's size, or null. Numbers
// that programs pass as objects are not trusted to be addresses.
VariableRecord* LiveRecordAt(double number) {
    VariableRecord* record = RecordAt(number);
    if (!record || platform::GetBlockSize(record) != sizeof(VariableRecord)) return nullptr;
    return record;
}

// An upper-cased copy of a class-name argument (a number names the class by
// its text form); the caller frees it with FreeValueBlock.
char* UpperClassName(const StackEntry& cell) {
    const char* text = IsWide(cell) ? NarrowOperandText(cell) : StackEntryString(&cell);
    char* name = CopyValueText(text ? text : "");
    for (char* c = name; c && *c; ++c)
        if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');
    return name;
}

uint32_t NameHash(const char* name) { return HashName(name, std::strlen(name)); }

// The context's class record of a name hash; the newest wins.
ClassRecord* FindClassRecord(uint32_t hash) {
    ProgramContext* context = CurrentContext;
    for (ClassRecord* record = context ? context->classRecords : nullptr; record; record = record->next)
        if (record->nameHash == hash) return record;
    return nullptr;
}

int CountClassRecords() {
    int count = 0;
    for (ClassRecord* record = CurrentContext ? CurrentContext->classRecords : nullptr; record; record = record->next)
        ++count;
    return count;
}

// Runs a class procedure of the class on the instance; false when the class
// (and its bases) has none.
bool RunClassProcedure(const char* className, const char* key, VariableRecord* head) {
    ProgramContext* context = CurrentContext;
    if (!className || !head) return false;
    Instruction* start = FindClassCode(context, NopHandler, className, key);
    if (!start) return false;
    ObjectToBind = head;
    RunProcedureIn(context, start);
    return true;
}

// The cells above the innermost frame's saved top leave the stack (their
// owned links freed) and the frame closes.
void CloseFrameDroppingArguments() { DropFrameArguments(CloseFrameArguments()); }

// A new instance for the variable, then "__INIT(0,0)". An object the variable
// held is left alone, not destroyed: other variables may still refer to it.
void GiveNewInstance(VariableRecord* variable, const char* className) {
    if ((variable->flags & kVarObject) && !(variable->flags & kVarList)) {
        FreeVariableString(CurrentContext, variable);
        variable->flags &= ~(kVarObject | kVarOwnsData);
    }
    CreateObjectInstance(variable, className, false);
    if (VariableRecord* head = RecordAt(variable->value)) RegisterValueBlock(head->data);
}

// The variable refers to an object of the class without owning it.
void TypeAsObject(VariableRecord* variable, const char* className) {
    FreeVariableString(CurrentContext, variable);
    variable->data = CopyValueText(className);
    RegisterValueBlock(variable->data);
    variable->classHash = NameHash(className);
    variable->flags = (variable->flags | kVarObject) & ~kVarOwnsData;
}

// __class3 and __class4: the record __STACKTEMPOBJECT$ refers to the object
// value, for the member access or method call that follows. The record that a
// lookup of the name finds is reused, so that access reads the one written
// here; a new one goes into the list of the value's variable.
void TypeStackTempObject() {
    StackEntry value = TakeOperand();
    StackEntry classCell = TakeOperand();
    VariableRecord* temp = FindVariable(kStackTempObject, 0);
    if (temp) {
        ReleaseVariable(CurrentContext, temp, false, false);
    } else {
        VariableRecord* list = value.variable && value.variable->owner ? value.variable->owner : LocalVariableList;
        temp = CreateVariable(list, kStackTempObject, true);
    }
    char* name = UpperClassName(classCell);
    if (temp && name) {
        TypeAsObject(temp, name);
        temp->value = value.value;
    }
    FreeValueBlock(name);
    ReleaseOperand(value);
    ReleaseOperand(classCell);
}

// How many arguments of the closed frame resolve to a variable that passes the test.
template <class Test>
void CountVariableArguments(Test test) {
    const FrameArguments arguments = CloseFrameArguments();
    int count = 0;
    StackEntry* cell = arguments.saved;
    for (int64_t i = 0; i < arguments.count; ++i) {
        cell = cell->above;
        VariableRecord* variable = TargetVariable(*cell);
        if (variable && test(*variable)) ++count;
    }
    DropFrameArguments(arguments);
    PushNumberResult(count);
}

}  // namespace

void Builtin___class() {
    StackEntry variableCell = TakeOperand();
    StackEntry classCell = TakeOperand();
    char* name = UpperClassName(classCell);
    if (VariableRecord* variable = TargetVariable(variableCell); variable && name) GiveNewInstance(variable, name);
    FreeValueBlock(name);
    ReleaseOperand(variableCell);
    ReleaseOperand(classCell);
}

// The arguments of CREATE sit in the two frames #OBJECT opened: NPARMS takes
// them and closes the inner frame, this closes the outer one. A class without
// CREATE leaves them to this step, so the stack ends the same either way.
void Builtin___classcreate() {
    StackEntry variableCell = TakeOperand();
    VariableRecord* variable = TargetVariable(variableCell);
    ReleaseOperand(variableCell);
    const bool ran = variable && (variable->flags & kVarObject) &&
                     RunClassProcedure(variable->data, "CREATE(0,0)", RecordAt(variable->value));
    if (!ran) CloseFrameDroppingArguments();
    CloseFrameDroppingArguments();
}

void Builtin___class2() {
    StackEntry variableCell = TakeOperand();
    StackEntry classCell = TakeOperand();
    char* name = UpperClassName(classCell);
    if (VariableRecord* variable = TargetVariable(variableCell); variable && name) TypeAsObject(variable, name);
    FreeValueBlock(name);
    ReleaseOperand(variableCell);
    ReleaseOperand(classCell);
}

void Builtin___class3() { TypeStackTempObject(); }

void Builtin___class4() { TypeStackTempObject(); }

void Builtin_newobject() {
    StackEntry addressCell = TakeOperand();
    StackEntry classCell = TakeOperand();
    StackEntry variableCell = TakeOperand();
    const int32_t address = StackEntryInteger(&addressCell);
    char* name = UpperClassName(classCell);
    VariableRecord* variable = TargetVariable(variableCell);
    if (variable && name && address == 0) {
        GiveNewInstance(variable, name);
    } else if (variable && name) {
        SetVariableValue(variable, name, 0.0, nullptr, static_cast<int64_t>(std::strlen(name) + 1));
        variable->classHash = NameHash(name);
        variable->flags = (variable->flags | kVarObject) & ~kVarOwnsData;
        SetVariableNumberIfChanged(variable, static_cast<uint32_t>(address));
    }
    FreeValueBlock(name);
    ReleaseOperand(addressCell);
    ReleaseOperand(classCell);
    ReleaseOperand(variableCell);
}

void Builtin_freeobject() {
    ProgramContext* context = CurrentContext;
    const FrameArguments frame = CloseFrameArguments();
    // The destructors push and pop: take the arguments off the stack first.
    std::vector<StackEntry> arguments;
    StackEntry* cell = frame.saved;
    for (int64_t i = 0; i < frame.count; ++i) arguments.push_back(*(cell = cell->above));
    DropFrameArguments(frame);
    for (const StackEntry& argument : arguments) {
        VariableRecord* variable = argument.variable;
        if (variable && (variable->flags & kVarObject)) {
            CallDestructor(context, variable);
            ClearVariable(context, variable, true, false);
        } else if (VariableRecord* head = LiveRecordAt(argument.value)) {
            FreeObjectInstance(context, head);
        }
    }
}

void Builtin_assign() {
    const int32_t address = PopInteger();
    StackEntry variableCell = TakeOperand();
    if (VariableRecord* variable = TargetVariable(variableCell)) {
        variable->flags |= kVarObject;
        SetVariableNumberIfChanged(variable, static_cast<uint32_t>(address));
    }
    ReleaseOperand(variableCell);
}

void Builtin_class() {
    StackEntry object = TakeOperand();
    VariableRecord* head = LiveRecordAt(object.value);
    ReleaseOperand(object);
    if (!head || !head->data) {
        PushNumberResult(0.0);
        return;
    }
    PushTextResult(CopyCellText(head->data, false), false);
}

void Builtin_is() {
    StackEntry classCell = TakeOperand();
    StackEntry objectCell = TakeOperand();
    char* name = UpperClassName(classCell);
    const uint32_t wanted = name ? NameHash(name) : 0;
    FreeValueBlock(name);
    VariableRecord* object = TargetVariable(objectCell);
    ReleaseOperand(classCell);
    ReleaseOperand(objectCell);
    bool found = false;
    ClassRecord* record = object && object->data ? FindClassRecord(NameHash(object->data)) : nullptr;
    // A chain of bases that loops is cut after as many steps as there are classes.
    for (int steps = CountClassRecords(); record && steps >= 0 && !found; --steps) {
        found = record->nameHash == wanted;
        record = record->baseName && record->baseName[0] ? FindClassRecord(record->baseHash) : nullptr;
    }
    PushTruthResult(found);
}

void Builtin_classes() {
    ProgramContext* context = CurrentContext;
    StackEntry listCell = TakeOperand();
    VariableRecord* list = TargetVariable(listCell);
    ReleaseOperand(listCell);
    if (!list) {
        PushNumberResult(0.0);
        return;
    }
    ReleaseVariable(context, list, false, false);
    list->flags |= kVarList;
    ListNode* first = nullptr;
    ListNode* last = nullptr;
    int count = 0;
    for (ClassRecord* record = context->classRecords; record; record = record->next) {
        ListNode* node = ListAppend(last);
        if (!node) break;
        node->data = CopyValueText(record->name);
        RegisterValueBlock(node->data);
        node->flags = kVarOwnsData;
        StampListNode(node);
        if (!first) first = node;
        last = node;
        ++count;
    }
    list->currentNode = first;
    if (first) LoadListElement(list);
    PushNumberResult(count);
}

void Builtin_classinherit() {
    StackEntry classCell = TakeOperand();
    char* name = UpperClassName(classCell);
    ClassRecord* record = name ? FindClassRecord(NameHash(name)) : nullptr;
    FreeValueBlock(name);
    ReleaseOperand(classCell);
    if (!record || !record->baseName || !record->baseName[0]) {
        PushNumberResult(0.0);
        return;
    }
    // The record's own text: it lives as long as the program's classes.
    PushValue(record->baseName, 0.0, nullptr);
}

void Builtin_isobject() {
    CountVariableArguments([](const VariableRecord& v) { return (v.flags & kVarObject) != 0; });
}

void Builtin_isarray() {
    CountVariableArguments([](const VariableRecord& v) { return v.elementCount > 0; });
}

void Builtin_ismatrix() {
    CountVariableArguments([](const VariableRecord& v) { return (v.flags & kVarMatrix) != 0; });
}

void Builtin_isstruct() {
    CountVariableArguments([](const VariableRecord& v) { return (v.flags & kVarStructure) != 0; });
}

void Builtin_ispointer() {
    StackEntry value = TakeOperand();
    const auto pointer = static_cast<uintptr_t>(static_cast<uint32_t>(StackEntryInteger(&value)));
    const bool linked = value.variable && pointer != 0 &&
                        FindMemoryLinkByBlock(value.variable, reinterpret_cast<void*>(pointer)) != nullptr;
    ReleaseOperand(value);
    PushTruthResult(linked);
}

void Builtin_alloceval() {
    PushNumberResult(AddressNumber(AllocateVariableRecord(CurrentContext, false)));
}

// Only a record as alloceval made it is freed: one that no list holds. A
// number that names anything else (a variable of a list, an instance head)
// frees nothing, since freeing it would leave its list pointing at freed memory.
void Builtin_freeeval() {
    StackEntry cell = TakeOperand();
    VariableRecord* record = LiveRecordAt(static_cast<uint32_t>(StackEntryInteger(&cell)));
    ReleaseOperand(cell);
    if (!record || record->name || record->owner || record->previous || record->data) return;
    ProgramContext* context = CurrentContext;
    FreeVariableChain(context, record, true);
    FreeVariableList(context, record);
}

}  // namespace qob
