// runtime/values/variable_store.cpp
// Creating, finding, reading, writing, releasing and freeing variable records,
// with getters, setters, protection and the list variable's element cache.
#include "runtime/values/variable_store.h"

#include "platform/c_library.h"
#include "platform/memory.h"
#include "runtime/data/hash.h"
#include "runtime/memory/memory_links.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/list_values.h"
#include "runtime/values/matrix_values.h"
#include "runtime/values/objects.h"
#include "runtime/values/typed_fields.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace qob {

VariableRecord* ConstantList = nullptr;
uint8_t NoExplicitCheck = 0;
VariableRecord* MemberLookupInstance = nullptr;
uint8_t MemberLookupRefused = 0;

namespace {

// A getter or setter in progress on this thread. While one runs, reads (or
// writes) of its own variable bypass it, so an accessor that touches its
// variable does not call itself without end.
struct AccessorRun {
    const VariableRecord* variable;
    bool setter;
    AccessorRun* outer;
};
thread_local AccessorRun* ActiveAccessors = nullptr;

bool IsAccessorRunning(const VariableRecord* variable, bool setter) {
    for (AccessorRun* run = ActiveAccessors; run; run = run->outer)
        if (run->variable == variable && run->setter == setter)
            return true;
    return false;
}

bool IsListVariable(const VariableRecord* v) {
    return v->currentNode && (v->flags & kVarList) && !v->reference;
}

uint32_t CurrentScope() {
    return CurrentInstruction && CurrentInstruction->extra ? CurrentInstruction->extra->namespaceHash : 0;
}

bool EndsLikeVariable(const char* name) {
    size_t length = name ? std::strlen(name) : 0;
    return length && (name[length - 1] == '$' || name[length - 1] == '%');
}

bool IsConstantName(const char* name) {
    return name[std::strlen(name) - 1] == '%';
}

// ASCII upper-casing; bytes of 0x80 and above stay as they are.
void UpperCaseInPlace(char* text) {
    for (; *text; ++text)
        if (*text >= 'a' && *text <= 'z')
            *text = static_cast<char>(*text - 'a' + 'A');
}

VariableRecord* FindInList(VariableRecord* head, uint32_t hash, uint32_t scope) {
    for (VariableRecord* r = head; r; r = r->next)
        if (r->hash == hash && r->scope == scope)
            return r;
    return nullptr;
}

VariableRecord* FindByHash(VariableRecord* head, uint32_t hash) {
    for (VariableRecord* r = head; r; r = r->next)
        if (r->hash == hash)
            return r;
    return nullptr;
}

// Runs a getter or setter with (field address, value, the variable by
// reference) and returns whether it gave a result, which replaces the value.
bool RunAccessor(Instruction* procedure, VariableRecord* variable, void* field, bool setter, char** text,
                 double* value) {
    ProgramContext* context = CurrentContext;
    if (!context || !OpenArgumentFrame(context))
        return false;
    StackEntry* savedTop = context->stackTop;
    auto fieldNumber = static_cast<double>(reinterpret_cast<uintptr_t>(field));
    PushValue(nullptr, fieldNumber, nullptr, 0);
    PushValue(*text, *text ? 0.0 : *value, nullptr, 0);
    StackEntry* byReference = PushStackEntry(context, true);
    byReference->value = *value;
    byReference->text = *text;
    byReference->variable = variable;
    byReference->extra = static_cast<int32_t>(reinterpret_cast<uintptr_t>(field));
    byReference->flags = kEntryByReference;
    bool isFunction = procedure->operand != 0;
    AccessorRun run{variable, setter, ActiveAccessors};
    ActiveAccessors = &run;
    RunProcedureIn(context, procedure);
    ActiveAccessors = run.outer;
    // A procedure that failed before its RETURN leaves no result: the value
    // read or written stays as it was.
    bool hasResult = isFunction && context->stackTop != savedTop;
    DropFunctionStack(hasResult ? 1 : 0);
    if (!hasResult)
        return false;
    StackEntry* result = PopStackEntry();
    *text = const_cast<char*>(result->text);
    *value = result->value;
    return true;
}

// Replace the value of an untyped variable (a copy of the text is made before
// the old data goes, so a text inside the old block survives).
void StoreUntyped(VariableRecord* v, const char* text, double value, int64_t size) {
    char* copy = nullptr;
    bool handOver = text && size == -1;
    bool keep = text && text == v->data;
    if (text && !handOver && !keep) {
        // Without a size the text is measured as 8-bit: a UTF-16 text that is
        // no block comes with its size.
        size_t count = size > 0 ? static_cast<size_t>(size) : TextBytes(text, false);
        copy = CopyValueBlock(text, count);
        if (!copy)
            return;
        RegisterValueBlock(copy);
    }
    if ((v->flags & (kVarOwnsData | kVarObject)) && !IsListVariable(v) && !keep)
        ClearVariable(CurrentContext, v, true, false);
    v->value = value;
    if (keep)
        return;
    v->flags &= ~(kVarMatrix | kVarHandedOver | kVarOwnsData);
    if (!text) {
        v->data = nullptr;
    } else if (handOver) {
        v->data = const_cast<char*>(text);
    } else {
        v->data = copy;
        v->flags |= kVarOwnsData;
    }
}

void WriteListElementBack(VariableRecord* v) {
    if (!v->writeBackNode) {
        StoreListElement(v);
        return;
    }
    ListNode* current = v->currentNode;
    v->currentNode = v->writeBackNode;
    StoreListElement(v);
    v->currentNode = current;
    LoadListElement(v);
}

void ApplyLinkedText(VariableRecord* v, char** text, double* value) {
    if (*text)
        return;
    VariableRecord* holder = MemoryLinkHolder(v);
    if (!holder->links)
        return;
    auto address = static_cast<uintptr_t>(platform::TruncateToInteger<int64_t>(*value));
    if (MemoryLink* link = FindMemoryLinkByBlock(holder, reinterpret_cast<void*>(address))) {
        *text = static_cast<char*>(link->block);
        *value = 0;
    }
}

char* CopyName(ProgramContext* context, const char* name, bool constant) {
    size_t bytes = std::strlen(name) + 1;
    void* block = constant || !context ? platform::AllocateBlock(bytes) : AllocContextBlock(context, bytes);
    if (block)
        std::memcpy(block, name, bytes);
    return static_cast<char*>(block);
}

[[gnu::format(printf, 2, 3)]] void ReportVariableError(uint8_t continueFlag, const char* format, ...) {
    char message[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    RaiseRuntimeError(message, continueFlag);
}

// Names and records live on the context heap ("$") or the process heap ("%").
void FreeRecordBlock(ProgramContext* context, void* block) {
    if (context && platform::GetBlockHeap(block) != platform::GetProcessHeap())
        FreeContextBlock(context, block);
    else
        platform::FreeBlock(block);
}

}  // namespace

uint32_t HashVariableName(const char* name) {
    return HashName(name, std::strlen(name));
}

VariableRecord* AllocateVariableRecord(ProgramContext* context, bool constant) {
    void* block = constant || !context ? platform::AllocateZeroedBlock(sizeof(VariableRecord))
                                       : AllocContextBlock(context, sizeof(VariableRecord));
    return static_cast<VariableRecord*>(block);
}

void FreeVariableRecord(ProgramContext* context, VariableRecord* record) {
    if (record->name)
        FreeRecordBlock(context, record->name);
    FreeRecordBlock(context, record);
}

VariableRecord* CreateVariable(VariableRecord* list, const char* name, bool searchFirst) {
    if (!EndsLikeVariable(name))
        return nullptr;
    return CreateVariableWithHash(list, name, searchFirst ? HashVariableName(name) : 0, searchFirst);
}

VariableRecord* CreateVariableWithHash(VariableRecord* list, const char* name, uint32_t hash, bool searchFirst) {
    ProgramContext* context = CurrentContext;
    bool scoped = context && CurrentInstruction;
    if (searchFirst) {
        if (VariableRecord* found = FindByHash(list, hash)) {
            ReleaseVariable(context, found, true, false);
            if (scoped && found->owner != context->globalHead)
                found->scope = CurrentScope();
            return found;
        }
    }
    bool constant = IsConstantName(name);
    VariableRecord* record = nullptr;
    for (VariableRecord* r = list ? list->next : nullptr; r && !record; r = r->next)
        if (!r->name)
            record = r;
    if (!record) {
        record = AllocateVariableRecord(context, constant);
        if (!record) {
            ReportVariableError(0, "Cannot allocate variable %s, not enough memory!", name);
            return nullptr;
        }
        if (list) {
            VariableRecord* last = list;
            while (last->next)
                last = last->next;
            last->next = record;
            record->previous = last;
        } else if (!constant && !LocalVariableList) {
            LocalVariableList = record;
            list = record;
        } else if (constant && !ConstantList) {
            ConstantList = record;
            list = record;
        }
    }
    record->name = CopyName(context, name, constant);
    if (!record->name)
        return record;
    UpperCaseInPlace(record->name);
    record->hash = HashVariableName(record->name);
    const char* dot = std::strchr(record->name, '.');
    record->dotPosition = dot ? static_cast<uint8_t>(dot - record->name) : 0;
    record->owner = list;
    if (scoped && list != context->globalHead)
        record->scope = CurrentScope();
    return record;
}

VariableRecord* ChooseVariableList(VariableRecord* list, const char* name) {
    if (!EndsLikeVariable(name))
        return nullptr;
    if (IsConstantName(name))
        return ConstantList;
    uint32_t hash = HashVariableName(name);
    uint32_t scope = CurrentScope();
    if (FindInList(list, hash, scope))
        return list;
    ProgramContext* context = CurrentContext;
    if (context && FindInList(context->globalHead, hash, scope))
        return context->globalHead;
    return list;
}

VariableRecord* FindVariable(const char* name, uint32_t hash) {
    MemberLookupInstance = nullptr;
    MemberLookupRefused = 0;
    uint32_t scope = CurrentScope();
    if (hash == 0)
        hash = HashVariableName(name);
    if (MemberList)
        if (VariableRecord* r = FindInList(MemberList, hash, scope))
            return r;
    if (VariableRecord* r = FindInList(LocalVariableList, hash, scope))
        return r;
    if (ProgramContext* context = CurrentContext) {
        if (VariableRecord* r = FindInList(context->globalHead, hash, scope))
            return r;
        if (scope != 0)
            if (VariableRecord* r = FindInList(context->globalHead, hash, 0))
                return r;
    }
    if (VariableRecord* r = FindByHash(ConstantList, hash))
        return r;
    return FindMemberVariable(nullptr, name, scope);
}

VariableRecord* RequireVariable(VariableRecord* list, const char* name) {
    if (!name)
        return nullptr;
    // Names given as run-time text may be in any case: records hold upper case.
    std::string upper(name);
    UpperCaseInPlace(upper.data());
    if (VariableRecord* found = FindVariable(upper.c_str(), 0))
        return found;
    if (MemberLookupRefused)
        return nullptr;
    ProgramContext* context = CurrentContext;
    size_t dot = upper.find('.');
    if (context && context->explicitDeclarations && !NoExplicitCheck) {
        ReportVariableError(0, "Variable %s has not been defined!", upper.c_str());
    } else if (dot != std::string::npos && EndsLikeVariable(upper.c_str())) {
        std::string object = upper.substr(0, dot) + upper.back();
        if (VariableRecord* owner = FindVariable(object.c_str(), 0))
            ReportVariableError(1, "Variable %s has not been defined in struct or in object class %s!",
                                upper.c_str() + dot + 1, owner->name);
        else
            ReportVariableError(1, "Variable %s has not been defined!", upper.c_str());
    }
    return CreateVariable(ChooseVariableList(list, upper.c_str()), upper.c_str(), false);
}

VariableRecord* FindOrRequireVariable(const char* name, uint32_t hash) {
    if (VariableRecord* found = FindVariable(name, hash))
        return found;
    return MemberLookupRefused ? nullptr : RequireVariable(LocalVariableList, name);
}

VariableRecord* DeclareVariable(const char* name, const char* text, double value, void* fieldAddress,
                                int64_t size) {
    VariableRecord* v = FindVariable(name, 0);
    if (!v && !MemberLookupRefused)
        v = CreateVariable(ChooseVariableList(LocalVariableList, name), name, false);
    if (v)
        SetVariableValue(v, text, value, fieldAddress, size);
    return v;
}

void GetVariableByName(const char* name, char** text, double* value, void* fieldAddress) {
    *text = nullptr;
    *value = 0;
    VariableRecord* v = FindVariable(name, 0);
    if (!v && !MemberLookupRefused)
        v = CreateVariable(ChooseVariableList(LocalVariableList, name), name, false);
    if (v)
        GetVariableValue(v, text, value, fieldAddress);
}

void AdoptUntypedText(VariableRecord* v, char* block, double value) {
    RegisterValueBlock(block);
    if (v->flags & (kVarOwnsData | kVarObject))
        ClearVariable(CurrentContext, v, true, false);
    v->value = value;
    v->flags &= ~(kVarMatrix | kVarHandedOver);
    v->data = block;
    v->flags |= kVarOwnsData;
}

void SetVariableValueInFull(VariableRecord* variable, const char* text, double value, void* fieldAddress,
                            int64_t size) {
    if (!variable || variable->protect == 1)
        return;
    if (IsListVariable(variable)) {
        if (VariableRecord* target = ListElementTarget(variable); target != variable) {
            SetVariableValue(target, text, value, fieldAddress, size);
            return;
        }
    }
    if (variable->setter && !IsAccessorRunning(variable, true)) {
        char* newText = const_cast<char*>(text);
        if (RunAccessor(variable->setter, variable, fieldAddress, true, &newText, &value)) {
            text = newText;
            size = text ? platform::GetBlockSize(text) : size;
        }
    }
    if (fieldAddress)
        AssignTypedField(fieldAddress, variable, text, value, size);
    else if (variable->type == 0)
        StoreUntyped(variable, text, value, size);
    else
        AssignTypedField(variable->data, variable, text, value, size);
    if (IsListVariable(variable))
        WriteListElementBack(variable);
}

void GetVariableValueInFull(VariableRecord* variable, char** text, double* value, void* fieldAddress) {
    if (IsListVariable(variable)) {
        if (VariableRecord* target = ListElementTarget(variable); target != variable) {
            GetVariableValue(target, text, value, fieldAddress);
            return;
        }
        if (variable->stamp != variable->currentNode->stamp)
            LoadListElement(variable);
    }
    if (fieldAddress) {
        ReadTypedField(variable, fieldAddress, variable->type, text, value);
        ApplyLinkedText(variable, text, value);
    } else if (variable->type == 0 || (variable->flags & kVarStructure) ||
               (variable->elementCount && !variable->parent)) {
        *text = variable->data;
        *value = variable->value;
    } else {
        ReadTypedField(variable, variable->data, variable->type, text, value);
        ApplyLinkedText(variable, text, value);
    }
    if (variable->getter && !IsAccessorRunning(variable, false))
        RunAccessor(variable->getter, variable, fieldAddress, false, text, value);
}

VariableRecord* ListElementTarget(VariableRecord* variable) {
    // Element references are made by NPARMS, which refuses one that leads
    // back to its own list; a chain of lists that still loops (or runs on
    // past this bound) leaves the variable as it is.
    constexpr int kMaxElementHops = 64;
    VariableRecord* target = variable;
    for (int hops = 0; hops < kMaxElementHops; ++hops) {
        const ListArrayExtension* extension = IsListVariable(target) ? target->currentNode->arrayExtension : nullptr;
        if (!extension || !extension->reference)
            return target;
        target = extension->reference;
        while (target->reference)
            target = target->reference;
        if (target == variable)
            return variable;
    }
    return variable;
}

void ReleaseVariableInFull(ProgramContext* context, VariableRecord* v, bool keepList, bool keepDefinitions) {
    if (v->flags == 0 && !v->data) {
        ReleasePlainRecord(v);
        return;
    }
    bool isList = v->flags & kVarList;
    if (v->reference || (isList && !keepList) ||
        (!isList && (v->flags & (kVarOwnsData | kVarObject))))
        ClearVariable(context, v, keepList, keepDefinitions);
    if (!keepDefinitions) {
        // A kept list's definitions belong to its current node.
        if (isList && v->currentNode)
            v->members = nullptr;
        else
            FreeMemberDefinitions(context, v);
        v->parent = nullptr;
    }
    // Blocks owned through the fields go with the value (a kept list's links
    // are its node's).
    if (!isList && v->links)
        FreeMemoryLinks(v);
    ClearValueFields(v);
    v->flags = (v->flags & kVarPublic) | (isList && keepList ? kVarList : 0);
}

VariableRecord* ClearVariable(ProgramContext* context, VariableRecord* v, bool keepList, bool keepDefinitions) {
    bool isList = v->flags & kVarList;
    if (isList && !keepList) {
        ListFree(v->currentNode, true);
        v->currentNode = nullptr;
        v->writeBackNode = nullptr;
        v->members = nullptr;
        v->links = nullptr;
        v->data = nullptr;
        v->stamp = 0;
        v->flags &= ~kVarOwnsData;
    } else {
        char* oldData = v->data;
        MemoryLink* oldLinks = v->links;
        if ((v->flags & kVarOwnsData) && v->data) {
            if (v->flags & kVarMatrix)
                FreeMatrixContents(reinterpret_cast<MatrixCell*>(v->data), &v->links);
            if ((v->flags & kVarObject) && !(v->flags & kVarMatrix))
                CallDestructor(context, v);
            else
                FreeVariableString(context, v);
            v->data = nullptr;
            v->flags &= ~kVarOwnsData;
            FreeMemoryLinks(v);
        } else if ((v->flags & kVarObject) && !(v->flags & kVarOwnsData)) {
            FreeVariableString(context, v);
            v->flags &= ~kVarObject;
        }
        if (isList && v->currentNode) {
            // The element's blocks are gone: the node must not free them again.
            ListNode* node = v->currentNode;
            if (node->data == oldData && v->data != oldData) {
                node->data = nullptr;
                node->flags &= ~kVarOwnsData;
            }
            if (node->structExtension && node->structExtension->links == oldLinks && v->links != oldLinks)
                node->structExtension->links = nullptr;
        }
    }
    if (!keepDefinitions) {
        if (isList && v->currentNode)
            v->members = nullptr;
        else
            FreeMemberDefinitions(context, v);
    }
    if (isList && keepList && v->currentNode && !v->reference)
        StoreListElement(v);
    v->linkOwner = nullptr;
    VariableRecord* reference = v->reference;
    v->reference = nullptr;
    return reference;
}

void FreeVariableChain(ProgramContext* context, VariableRecord* head, bool freeNames) {
    if (!head)
        return;
    if (!freeNames) {
        for (VariableRecord* r = head->next; r; r = r->next) {
            ReleaseVariable(context, r, false, false);
        }
        return;
    }
    VariableRecord* last = head;
    while (last->next)
        last = last->next;
    for (VariableRecord* r = last;; r = r->previous) {
        if ((r->flags & kVarOwnsData) || (r->flags & kVarList) || (r->flags & kVarObject))
            ClearVariable(context, r, false, false);
        if (r->name) {
            FreeRecordBlock(context, r->name);
            r->name = nullptr;
        }
        r->hash = 0;
        ReleaseVariable(context, r, false, false);
        if (r == head)
            break;
    }
}

void FreeVariableList(ProgramContext* context, VariableRecord* head) {
    if (!head)
        return;
    VariableRecord* last = head;
    while (last->next)
        last = last->next;
    while (last) {
        VariableRecord* previous = last == head ? nullptr : last->previous;
        FreeVariableRecord(context, last);
        last = previous;
    }
}

void FreeMemberDefinitions(ProgramContext* context, VariableRecord* structure) {
    MemberDefinition* definition = structure->members;
    structure->members = nullptr;
    while (definition) {
        MemberDefinition* next = definition->next;
        if (definition->member && definition->member->parent == structure)
            ReleaseVariable(context, definition->member, false, false);
        FreeValueBlock(definition);
        definition = next;
    }
}

void AddMemberDefinition(VariableRecord* structure, VariableRecord* member) {
    auto* definition = static_cast<MemberDefinition*>(AllocateValueBlock(sizeof(MemberDefinition)));
    if (!definition)
        return;
    definition->member = member;
    definition->type = member->type;
    definition->offset = member->offset;
    definition->elementCount = member->elementCount;
    if (!structure->members) {
        structure->members = definition;
        return;
    }
    MemberDefinition* last = structure->members;
    while (last->next)
        last = last->next;
    last->next = definition;
    definition->previous = last;
}

void RebaseStructMembers(VariableRecord* structure) {
    for (MemberDefinition* d = structure->members; d; d = d->next) {
        VariableRecord* member = d->member;
        if (!member)
            continue;
        member->parent = structure;
        member->type = d->type;
        member->offset = d->offset;
        member->elementCount = d->elementCount;
        member->data = structure->data ? structure->data + d->offset : nullptr;
        if (member->flags & kVarStructure)
            RebaseStructMembers(member);
    }
}

VariableRecord* FindNamedItem(VariableRecord* list, const char* name) {
    return FindByHash(list, HashVariableName(name));
}

}  // namespace qob
