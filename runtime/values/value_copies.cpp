// runtime/values/value_copies.cpp
// Copies of one variable's value into another by kind (structures, arrays,
// matrices, lists, plain values), and storage handed over to a variable.
#include "runtime/values/objects.h"

#include "platform/memory.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/memory/memory_links.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/list_values.h"
#include "runtime/values/matrix_values.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/program_context.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace qob {

uint8_t NoListCopy = 0;

namespace {

bool IsListVariable(const VariableRecord* v) {
    return v->currentNode && (v->flags & kVarList) && !v->reference;
}

void StoreBackIfList(VariableRecord* v) {
    if (IsListVariable(v))
        StoreListElement(v);
}

bool ReachesVariable(VariableRecord* source, const VariableRecord* target) {
    for (VariableRecord* v = source; v; v = v->reference)
        if (v == target)
            return true;
    return false;
}

void SetReference(VariableRecord* target, VariableRecord* source) {
    // A reference that would lead back to the target would never end.
    if (!ReachesVariable(source, target))
        target->reference = source;
}

size_t StorageBytes(const VariableRecord* v) {
    return static_cast<size_t>(std::max<uint32_t>(v->elementCount, 1)) *
           static_cast<size_t>(ElementSize(v->type));
}

// "T$" + member "S.M$" -> "T.M$".
std::string QualifiedMemberName(const VariableRecord* structure, const VariableRecord* member) {
    std::string name(structure->name ? structure->name : "");
    if (!name.empty())
        name.pop_back();
    const char* dot = member->name ? std::strchr(member->name, '.') : nullptr;
    name += dot ? dot : ".";
    return name;
}

// Builds the target's member records after the source's definitions.
void RebuildMembers(VariableRecord* target, VariableRecord* source, bool reference) {
    FreeMemberDefinitions(CurrentContext, target);
    for (MemberDefinition* d = source->members; d; d = d->next) {
        VariableRecord* from = d->member;
        if (!from)
            continue;
        std::string name = QualifiedMemberName(target, from);
        VariableRecord* member = CreateVariable(target->owner, name.c_str(), true);
        if (!member)
            continue;
        member->type = d->type;
        member->offset = d->offset;
        member->elementCount = d->elementCount;
        member->getter = from->getter;
        member->setter = from->setter;
        std::memcpy(member->dimensions, from->dimensions, sizeof member->dimensions);
        member->dimensionCount = from->dimensionCount;
        member->arrayOrder = from->arrayOrder;
        member->parent = target;
        member->flags |= from->flags & kVarStructure;
        if (reference)
            SetReference(member, from);
        if (from->flags & kVarStructure)
            RebuildMembers(member, from, reference);
        AddMemberDefinition(target, member);
    }
    RebaseStructMembers(target);
}

}  // namespace

void CopyNodeValue(ListNode* target, const ListNode* source) {
    target->value = source->value;
    target->flags = source->flags;
    target->type = source->type;
    if (source->arrayExtension) {
        target->arrayExtension = static_cast<ListArrayExtension*>(AllocateValueBlock(sizeof(ListArrayExtension)));
        if (target->arrayExtension) {
            std::memcpy(target->arrayExtension, source->arrayExtension, sizeof(ListArrayExtension));
            target->arrayExtension->tracker = nullptr;
            // A copy may outlive the variable a by-reference element stands
            // for: it keeps the element's own value instead.
            target->arrayExtension->reference = nullptr;
        }
    }
    if (const ListStructExtension* s = source->structExtension) {
        auto* e = static_cast<ListStructExtension*>(AllocateValueBlock(sizeof(ListStructExtension)));
        target->structExtension = e;
        if (e) {
            e->parent = s->parent;
            e->offset = s->offset;
            MemberDefinition* previous = nullptr;
            for (const MemberDefinition* d = s->members; d; d = d->next) {
                auto* copy = static_cast<MemberDefinition*>(AllocateValueBlock(sizeof(MemberDefinition)));
                if (!copy)
                    break;
                *copy = *d;
                copy->next = nullptr;
                copy->previous = previous;
                if (previous)
                    previous->next = copy;
                else
                    e->members = copy;
                previous = copy;
            }
        }
    }
    if (!source->data || !(source->flags & kVarOwnsData)) {
        target->data = source->data;
    } else if (source->flags & kVarMatrix) {
        if (!target->structExtension)
            target->structExtension =
                static_cast<ListStructExtension*>(AllocateValueBlock(sizeof(ListStructExtension)));
        MemoryLink** links = target->structExtension ? &target->structExtension->links : nullptr;
        target->data = reinterpret_cast<char*>(
            CopyMatrixCells(reinterpret_cast<const MatrixCell*>(source->data), links));
    } else {
        target->data = CopyValueBlockOrText(source->data, source->flags & kVarWideText);
        RegisterValueBlock(target->data);
        if (target->structExtension)
            target->structExtension->links = nullptr;
        CopyNodeMemoryLinks(target, source);
    }
    StampListNode(target);
}

void BindNodeMembers(VariableRecord* list, ListNode* node, bool makePublic) {
    ListStructExtension* extension = node ? node->structExtension : nullptr;
    if (!extension)
        return;
    for (MemberDefinition* d = extension->members; d; d = d->next) {
        if (!d->member || d->member->parent == list)
            continue;
        std::string name = QualifiedMemberName(list, d->member);
        VariableRecord* member = CreateVariable(list->owner, name.c_str(), true);
        if (!member)
            continue;
        member->type = d->type;
        member->offset = d->offset;
        member->elementCount = d->elementCount;
        member->parent = list;
        member->flags = (member->flags & ~kVarPublic) | (makePublic ? kVarPublic : 0);
        d->member = member;
    }
}

void AssignStructureValue(VariableRecord* target, VariableRecord* source, int mode, int keep,
                          const char* sourceData) {
    if (target == source)
        return;
    ProgramContext* context = CurrentContext;
    if (!sourceData)
        sourceData = source->data;
    bool element = sourceData != source->data;
    if (mode != kCopyDeep && keep) {
        SetReference(target, source);
        RebuildMembers(target, source, true);
        return;
    }
    if (!keep)
        ClearVariable(context, target, true, false);
    target->type = source->type;
    std::memcpy(target->dimensions, source->dimensions, sizeof target->dimensions);
    // One element of a structure array is copied as a single structure.
    target->elementCount = element ? 0 : source->elementCount;
    target->dimensionCount = element ? 0 : source->dimensionCount;
    if (mode == kCopyDeep) {
        size_t bytes = StorageBytes(target);
        char* storage = static_cast<char*>(AllocateValueBlock(bytes));
        if (!storage)
            return;
        RegisterValueBlock(storage);
        if (sourceData)
            std::memcpy(storage, sourceData, bytes);
        target->data = storage;
        target->flags |= kVarOwnsData | kVarStructure | (source->flags & kVarStructShared);
        CopyLinkChain(MemoryLinkHolder(source)->links, sourceData, &target->links, target->data, bytes);
    } else {
        target->data = const_cast<char*>(sourceData);
        target->flags = (target->flags & ~kVarOwnsData) | kVarHandedOver | kVarStructure;
        target->linkOwner = MemoryLinkHolder(source);
    }
    RebuildMembers(target, source, false);
    StoreBackIfList(target);
}

void ShareStructureElement(VariableRecord* target, VariableRecord* source, char* element) {
    if (target == source)
        return;
    VariableRecord* holder = MemoryLinkHolder(source);
    const uint32_t shared = kVarStructure | kVarHandedOver;
    if ((target->flags & shared) == shared && target->linkOwner == holder && target->members) {
        target->data = element;
        RebaseStructMembers(target);
        return;
    }
    ReleaseVariable(CurrentContext, target, false, false);
    target->type = source->type;
    target->data = element;
    target->flags |= shared;
    // Texts in the element's fields belong to the source's links.
    target->linkOwner = holder;
    RebuildMembers(target, source, false);
}

void AssignArrayValue(VariableRecord* target, VariableRecord* source, int mode, int keep) {
    if (target == source)
        return;
    if (mode != kCopyDeep && keep) {
        SetReference(target, source);
        StoreBackIfList(target);
        return;
    }
    if (!keep)
        ClearVariable(CurrentContext, target, true, false);
    target->type = source->type;
    target->elementCount = source->elementCount;
    std::memcpy(target->dimensions, source->dimensions, sizeof target->dimensions);
    target->dimensionCount = source->dimensionCount;
    target->getter = source->getter;
    target->setter = source->setter;
    target->arrayOrder = source->arrayOrder;
    if (mode == kCopyDeep) {
        size_t bytes = StorageBytes(source);
        char* storage = static_cast<char*>(AllocateValueBlock(bytes));
        if (!storage)
            return;
        RegisterValueBlock(storage);
        if (source->data)
            std::memcpy(storage, source->data, bytes);
        target->data = storage;
        target->flags |= kVarOwnsData;
        CopyLinkChain(MemoryLinkHolder(source)->links, source->data, &target->links, storage, bytes);
    } else {
        target->data = source->data;
        target->flags = (target->flags & ~kVarOwnsData) | kVarHandedOver;
        target->linkOwner = MemoryLinkHolder(source);
    }
    StoreBackIfList(target);
}

void AssignMatrixValue(VariableRecord* target, VariableRecord* source, int mode, int keep, const char* matrix) {
    if (target == source)
        return;
    if (!keep)
        ClearVariable(CurrentContext, target, true, false);
    if (mode != kCopyDeep && keep) {
        SetReference(target, source);
        return;
    }
    SetMatrixValue(target, reinterpret_cast<const MatrixCell*>(matrix ? matrix : source->data));
}

void CopyVariable(VariableRecord* target, VariableRecord* source, int mode, int keep, int64_t start,
                  int64_t count) {
    if (target == source)
        return;
    ProgramContext* context = CurrentContext;
    if (mode != kCopyDeep) {
        SetReference(target, source);
        // The members of structure elements are reached through the target's
        // qualified names too.
        for (ListNode* n = ListFirst(source->currentNode); n; n = n->next) {
            if (!n->structExtension)
                continue;
            for (MemberDefinition* d = n->structExtension->members; d; d = d->next) {
                if (!d->member)
                    continue;
                std::string name = QualifiedMemberName(target, d->member);
                if (VariableRecord* member = CreateVariable(target->owner, name.c_str(), true))
                    SetReference(member, d->member);
            }
        }
        return;
    }
    if (!keep)
        ReleaseVariable(context, target, false, false);
    else
        ClearVariable(context, target, false, false);
    target->flags |= kVarList;
    ListNode* first = ListFirst(source->currentNode);
    ListNode* from = start == -1 ? first : ListNodeAt(first, start);
    if (start != -1 && start >= static_cast<int64_t>(ListCount(first)))
        from = nullptr;
    ListNode* last = nullptr;
    ListNode* current = nullptr;
    ListNode* head = nullptr;
    for (int64_t copied = 0; from && (count < 0 || copied < count); from = from->next, ++copied) {
        ListNode* node = ListAppend(last);
        if (!node)
            break;
        CopyNodeValue(node, from);
        // The copy's members are reached through the target's names; left on
        // the source's records, loading the copy would move those onto it.
        BindNodeMembers(target, node, (target->flags & kVarPublic) != 0);
        if (!head)
            head = node;
        if (from == source->currentNode)
            current = node;
        last = node;
    }
    target->currentNode = current ? current : head;
    target->stamp = 0;
    LoadListElement(target);
}

void AssignValue(VariableRecord* target, VariableRecord* source, void* fieldAddress, int mode, int keep) {
    if (!target || !source || target == source)
        return;
    ProgramContext* context = CurrentContext;
    // With the list copy switched off a list counts by its current element.
    const bool wholeList = (source->flags & kVarList) && !NoListCopy;
    if (!source->data && mode == kCopyDeep && !fieldAddress && !wholeList) {
        if (!keep)
            ReleaseVariable(context, target, true, false);
        target->value = source->value;
        StoreBackIfList(target);
        return;
    }
    if (!fieldAddress) {
        if (wholeList) {
            CopyVariable(target, source, mode, keep, -1, -1);
            return;
        } else if (source->flags & kVarStructure) {
            AssignStructureValue(target, source, mode, keep, source->data);
            return;
        } else if (source->elementCount == 0 && (source->flags & kVarMatrix)) {
            AssignMatrixValue(target, source, mode, keep, source->data);
            return;
        } else if (source->elementCount == 0 && (source->flags & kVarObject)) {
            CopyObjectInstance(target, source, mode, keep);
            return;
        } else if (source->elementCount) {
            AssignArrayValue(target, source, mode, keep);
            return;
        }
    } else if ((source->flags & kVarStructure) && source->elementCount) {
        AssignStructureValue(target, source, mode, keep, static_cast<const char*>(fieldAddress));
        return;
    }
    if (mode != kCopyDeep) {
        SetReference(target, source);
        return;
    }
    if (!keep)
        ReleaseVariable(context, target, true, false);
    char* text = nullptr;
    double value = 0;
    GetVariableValue(source, &text, &value, fieldAddress);
    int64_t size = text ? platform::GetBlockSize(text) : 0;
    SetVariableValue(target, text, value, nullptr, size);
    target->flags |= source->flags & (kVarObject | kVarWideText);
}

namespace {

// The shared part of the three hand-over routines.
void HandOver(VariableRecord* variable, void* block, int64_t size, bool copy, bool matrix, bool structure) {
    if (block == variable->data)
        return;
    ProgramContext* context = CurrentContext;
    if (copy && size != -1) {
        ClearVariable(context, variable, true, structure);
        char* data;
        if (matrix) {
            // Registered by the copy itself, with every block it holds.
            data = reinterpret_cast<char*>(CopyMatrixCells(static_cast<const MatrixCell*>(block), &variable->links));
        } else {
            data = size > 0 ? CopyValueBlock(block, static_cast<size_t>(size))
                            : CopyValueBlockOrText(block, false);
            RegisterValueBlock(data);
        }
        variable->data = data;
        // The copy was made here, so the variable frees it.
        variable->flags |= kVarOwnsData | (matrix ? kVarMatrix : 0) | (structure ? kVarStructure : 0);
    } else {
        ClearVariable(context, variable, true, true);
        // An array or matrix keeps the block: a call depth that tracked it
        // as a temporary must not free it under the variable.
        if (!structure)
            ForgetTrackedObject(context, block);
        variable->data = static_cast<char*>(block);
        variable->flags = (variable->flags & ~kVarOwnsData) | kVarHandedOver | (matrix ? kVarMatrix : 0);
    }
    if (structure)
        RebaseStructMembers(variable);
    StoreBackIfList(variable);
}

}  // namespace

void SetVariablePointer(VariableRecord* variable, void* block, int64_t size, bool copy) {
    HandOver(variable, block, size, copy, false, true);
}

void SetVariableString(VariableRecord* variable, void* block, int64_t size, bool copy) {
    HandOver(variable, block, size, copy, false, false);
}

void SetVariableMatrix(VariableRecord* variable, void* block, int64_t size, bool copy) {
    HandOver(variable, block, size, copy, true, false);
}

void SetVariableNumberIfChanged(VariableRecord* variable, int64_t integer) {
    if (variable->value == static_cast<double>(integer))
        return;
    variable->value = static_cast<double>(integer);
    variable->flags &= ~kVarOwnsData;
    StoreBackIfList(variable);
}

}  // namespace qob
