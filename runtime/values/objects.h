// runtime/values/objects.h
// Object instances and their class procedures, dotted member lookup, and the
// value copies by kind (objects, structures, arrays, matrices, lists).
#pragma once

#include <cstdint>

namespace qob {

struct ListNode;
struct ProgramContext;
struct VariableRecord;

// Copy modes (mode, keep): (0, 0) release the target, then deep copy;
// (0, 1) deep copy; (other, 0) share the source's storage; (other, 1) reference.
constexpr int kCopyDeep = 0;
constexpr int kCopyShare = 1;

[[nodiscard]] VariableRecord* FindMemberVariable(VariableRecord* instanceHead, const char* name, uint32_t scope);

// A new instance of the class (deep-copy path without a source): head, then
// "__INIT(0,0)"; with construct also "CREATE(0,0)". The target becomes an
// object variable that owns it.
void CreateObjectInstance(VariableRecord* target, const char* className, bool construct);
// How many instances have been freed so far (their class-name blocks with
// them): a class-name block seen before is still the same text while this
// has not moved.
extern uint64_t InstancesFreed;
void CallDestructor(ProgramContext* context, VariableRecord* objectVariable);
void FreeObjectInstance(ProgramContext* context, VariableRecord* instanceHead);
void CopyObjectInstance(VariableRecord* target, VariableRecord* source, int mode, int keep);

void AssignStructureValue(VariableRecord* target, VariableRecord* source, int mode, int keep,
                          const char* sourceData);
void AssignArrayValue(VariableRecord* target, VariableRecord* source, int mode, int keep);
void AssignMatrixValue(VariableRecord* target, VariableRecord* source, int mode, int keep, const char* matrix);
// The target becomes a structure sharing one structure of the source's
// storage at element (not owning it), with member records named after the
// target. A target that already shares an element of the same source only
// moves its members onto the new element.
void ShareStructureElement(VariableRecord* target, VariableRecord* source, char* element);
void CopyVariable(VariableRecord* target, VariableRecord* source, int mode, int keep, int64_t start,
                  int64_t count);
void AssignValue(VariableRecord* target, VariableRecord* source, void* fieldAddress, int mode, int keep);

// Deep copy of one list element's value into a fresh (zeroed) node: owned
// blocks and matrices are duplicated, shared data stays shared, and a
// structure element gets its own member definitions.
void CopyNodeValue(ListNode* target, const ListNode* source);
// Points the member definitions of a structure element at member records of
// the list variable ("T.M$" for the list T$ and the member "S.M$"), made or
// reused in the list's variable list: loading the element then moves the
// list's own member names onto it, never another list's.
void BindNodeMembers(VariableRecord* list, ListNode* node, bool makePublic);

// Hand storage over to a variable (or, with copy, give it a copy).
void SetVariablePointer(VariableRecord* variable, void* block, int64_t size, bool copy);
void SetVariableString(VariableRecord* variable, void* block, int64_t size, bool copy);
void SetVariableMatrix(VariableRecord* variable, void* block, int64_t size, bool copy);
void SetVariableNumberIfChanged(VariableRecord* variable, int64_t integer);

// Kind codes of vartype and ltype.
[[nodiscard]] int VarTypeOf(VariableRecord* variable);
[[nodiscard]] int ListTypeOf(VariableRecord* variable);

void FreeVariableString(ProgramContext* context, VariableRecord* variable);

// Held at 1 by parameter binding around one copy: while set, AssignValue
// copies a list variable's current element instead of the whole list.
// Procedures run meanwhile (constructors, getters) see it clear.
extern uint8_t NoListCopy;

}  // namespace qob
