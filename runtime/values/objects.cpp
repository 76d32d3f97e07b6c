// runtime/values/objects.cpp
// Object instances: creation with their class procedures, deep and shared
// copies, destruction, dotted member lookup, and the kind codes of variables.
#include "runtime/values/objects.h"

#include "platform/c_library.h"
#include "platform/memory.h"
#include "runtime/data/hash.h"
#include "runtime/memory/memory_links.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/list_values.h"
#include "runtime/values/typed_fields.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/procedure_lookup.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/vm.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace qob {

uint64_t InstancesFreed = 0;

namespace {

VariableRecord* InstanceHead(const VariableRecord* object) {
    auto address = static_cast<uintptr_t>(platform::TruncateToInteger<int64_t>(object->value));
    return reinterpret_cast<VariableRecord*>(address);
}

double AddressNumber(const void* address) {
    return static_cast<double>(reinterpret_cast<uintptr_t>(address));
}

VariableRecord* FollowReferences(VariableRecord* v) {
    while (v && v->reference)
        v = v->reference;
    return v;
}

// Runs a class procedure ("__INIT(0,0)", "CREATE(0,0)", "DESTROY(0,0)") with
// the instance bound; a class without it is no error.
void RunClassProcedure(const char* className, const char* key, VariableRecord* head) {
    ProgramContext* context = CurrentContext;
    if (!context || !className)
        return;
    Instruction* start = FindClassCode(context, NopHandler, className, key);
    if (!start)
        return;
    ObjectToBind = head;
    RunProcedureIn(context, start);
}

// A new instance head: a zeroed record whose data is an owned class name.
VariableRecord* NewInstanceHead(const char* className) {
    ProgramContext* context = CurrentContext;
    VariableRecord* head = AllocateVariableRecord(context, false);
    if (!head)
        return nullptr;
    head->data = CopyValueText(className);
    head->flags = kVarOwnsData;
    // Every method call on the object compares this hash with its cache.
    if (head->data) head->classHash = HashVariableName(head->data);
    return head;
}

void FreeInstanceChain(ProgramContext* context, VariableRecord* head) {
    ++InstancesFreed;
    FreeVariableChain(context, head, true);
    FreeVariableList(context, head);
}

// Copies one member of an instance into the matching member of the copy.
void CopyInstanceMember(VariableRecord* target, VariableRecord* source) {
    bool composite = (source->flags & (kVarList | kVarStructure | kVarMatrix | kVarObject)) ||
                     source->elementCount || source->type != 0;
    if (composite) {
        AssignValue(target, source, nullptr, kCopyDeep, 0);
    } else {
        // The copy owns only the block it allocated itself.
        int64_t size = source->data ? platform::GetBlockSize(source->data) : 0;
        SetVariableValue(target, source->data, source->value, nullptr, size);
    }
    target->getter = source->getter;
    target->setter = source->setter;
    target->flags = (source->flags & ~kVarOwnsData) | (target->flags & kVarOwnsData);
}

// A member of the instance at head that the running code may not reach: a
// private one, outside the methods of that same instance. It is reported,
// and the lookup is marked refused so that nobody makes a record in its place.
bool RefuseMember(const VariableRecord* member, const VariableRecord* head, const char* memberName) {
    if (!member || MemberList == head || (member->flags & kVarPublic))
        return false;
    char message[300];
    std::snprintf(message, sizeof message, "Variable '%s' cannot be accessed, it is private!", memberName);
    RaiseRuntimeError(message, 0);
    MemberLookupRefused = 1;
    return true;
}

// Whether following source's references reaches target.
bool ReachesVariable(VariableRecord* source, const VariableRecord* target) {
    for (VariableRecord* v = source; v; v = v->reference)
        if (v == target)
            return true;
    return false;
}

}  // namespace

void CreateObjectInstance(VariableRecord* target, const char* className, bool construct) {
    ProgramContext* context = CurrentContext;
    ReleaseVariable(context, target, true, false);
    VariableRecord* head = NewInstanceHead(className);
    if (!head)
        return;
    target->data = CopyValueText(className);
    target->flags |= kVarObject | kVarOwnsData;
    target->classHash = HashVariableName(className);
    target->value = AddressNumber(head);
    RunClassProcedure(className, "__INIT(0,0)", head);
    if (construct)
        RunClassProcedure(className, "CREATE(0,0)", head);
    if (target->currentNode && (target->flags & kVarList))
        StoreListElement(target);
}

void CallDestructor(ProgramContext* context, VariableRecord* objectVariable) {
    VariableRecord* head = InstanceHead(objectVariable);
    if (head) {
        RunClassProcedure(objectVariable->data, "DESTROY(0,0)", head);
        FreeInstanceChain(context, head);
    }
    objectVariable->flags &= ~(kVarObject | kVarOwnsData);
    UnregisterValueBlock(objectVariable->data);
    FreeValueBlock(objectVariable->data);
    objectVariable->value = 0;
    objectVariable->data = nullptr;
    objectVariable->classHash = 0;
    if (objectVariable->currentNode && (objectVariable->flags & kVarList) && !objectVariable->reference)
        StoreListElement(objectVariable);
}

void FreeObjectInstance(ProgramContext* context, VariableRecord* instanceHead) {
    if (!instanceHead)
        return;
    const char* className = instanceHead->data;
    if (className && FindClassCode(context, NopHandler, className, "DESTROY(0,0)")) {
        // The destructor sees the instance through ___SELF$ as well.
        if (VariableRecord* self = CreateVariable(LocalVariableList, "___SELF$", true)) {
            self->data = CopyValueText(className);
            self->value = AddressNumber(instanceHead);
            self->flags = kVarObject;
        }
        RunClassProcedure(className, "DESTROY(0,0)", instanceHead);
    }
    FreeInstanceChain(context, instanceHead);
}

void CopyObjectInstance(VariableRecord* target, VariableRecord* source, int mode, int keep) {
    ProgramContext* context = CurrentContext;
    if (mode != kCopyDeep && keep) {
        if (!ReachesVariable(source, target))
            target->reference = source;
        return;
    }
    if (mode != kCopyDeep) {
        // Shared: the same instance, and the target's own copy of the class
        // name (releasing the target frees that name, never the source's).
        if (target == source)
            return;
        ReleaseVariable(context, target, true, false);
        target->data = CopyValueText(source->data);
        target->flags |= kVarObject;
        target->classHash = source->classHash;
        target->value = source->value;
        return;
    }
    if (target == source)
        return;
    if (!keep)
        ReleaseVariable(context, target, true, false);
    VariableRecord* head = NewInstanceHead(source->data);
    if (!head)
        return;
    target->data = CopyValueText(source->data);
    target->flags |= kVarObject | kVarOwnsData;
    target->classHash = source->classHash;
    target->value = AddressNumber(head);
    RunClassProcedure(source->data, "__INIT(0,0)", head);
    VariableRecord* sourceHead = InstanceHead(source);
    for (VariableRecord* member = sourceHead ? sourceHead->next : nullptr; member; member = member->next) {
        if (!member->name)
            continue;
        for (VariableRecord* copy = head->next; copy; copy = copy->next)
            if (copy->hash == member->hash) {
                CopyInstanceMember(copy, member);
                break;
            }
    }
    if (target->currentNode && (target->flags & kVarList) && !target->reference)
        StoreListElement(target);
}

VariableRecord* FindMemberVariable(VariableRecord* instanceHead, const char* name, uint32_t scope) {
    MemberLookupRefused = 0;
    const char* dot = name ? std::strchr(name, '.') : nullptr;
    if (!dot)
        return nullptr;
    ProgramContext* context = CurrentContext;
    std::string objectPart(name, static_cast<size_t>(dot - name));
    const char* memberPart = dot + 1;
    if (objectPart == "GLOBAL") {
        if (!context)
            return nullptr;
        uint32_t hash = HashVariableName(memberPart);
        for (VariableRecord* r = context->globalHead; r; r = r->next)
            if (r->hash == hash && r->scope == scope)
                return FollowReferences(r);
        return nullptr;
    }
    char last = name[std::strlen(name) - 1];
    VariableRecord* object = nullptr;
    if (objectPart.empty()) {
        object = FindVariable("__STACKTEMPOBJECT$", 0);
    } else {
        objectPart += last;
        if (instanceHead) {
            // A private object member is no way in to its own members.
            object = FindNamedItem(instanceHead, objectPart.c_str());
            if (RefuseMember(object, instanceHead, objectPart.c_str()))
                return nullptr;
        } else {
            object = FindVariable(objectPart.c_str(), 0);
        }
    }
    object = FollowReferences(object);
    if (!object)
        return nullptr;
    if (object->flags & kVarStructure) {
        std::string qualified(object->name ? object->name : "");
        if (!qualified.empty())
            qualified.pop_back();
        qualified += '.';
        qualified += memberPart;
        return FindNamedItem(object->owner, qualified.c_str());
    }
    if (!(object->flags & kVarObject))
        return nullptr;
    VariableRecord* head = InstanceHead(object);
    MemberLookupInstance = head;
    if (!head)
        return nullptr;
    VariableRecord* member = nullptr;
    if (std::strchr(memberPart, '.')) {
        member = FindMemberVariable(head, memberPart, scope);
    } else {
        uint32_t hash = HashVariableName(memberPart);
        for (VariableRecord* r = head->next; r && !member; r = r->next)
            if (r->hash == hash && r->scope == scope)
                member = r;
    }
    // A further dot was checked level by level in the recursive lookup.
    if (!std::strchr(memberPart, '.') && RefuseMember(member, head, memberPart))
        return nullptr;
    return member;
}

void FreeVariableString(ProgramContext*, VariableRecord* variable) {
    if (!(variable->flags & (kVarOwnsData | kVarObject)) || !variable->data)
        return;
    UnregisterValueBlock(variable->data);
    FreeValueBlock(variable->data);
    variable->data = nullptr;
}

int ListTypeOf(VariableRecord* v) {
    if (!v->parent && v->elementCount == 0) {
        if (v->flags & kVarStructure)
            return 3;
        if (v->flags & kVarMatrix)
            return 5;
        if (v->flags & kVarHandedOver)
            return 6;
        if (!v->data)
            return 0;
        return (v->flags & kVarWideText) ? 7 : 1;
    }
    if (!v->parent)
        return (v->flags & kVarStructure) ? 8 : 2;
    if (v->type >= 0)
        return 1;
    char* text = nullptr;
    double number = 0;
    ReadTypedField(v, v->data, v->type, &text, &number);
    auto address = reinterpret_cast<void*>(static_cast<uintptr_t>(platform::TruncateToInteger<int64_t>(number)));
    return FindMemoryLinkByBlock(v->parent, address) ? 9 : 0;
}

int VarTypeOf(VariableRecord* v) {
    if (v->flags & kVarList)
        return 4;
    return ListTypeOf(v);
}

}  // namespace qob
