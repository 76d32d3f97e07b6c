// runtime/memory/memory_links.cpp
// Memory links: adding, freeing and copying the blocks owned through fields.
#include "runtime/memory/memory_links.h"

#include "runtime/memory/value_blocks.h"
#include "runtime/values/list_values.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/value_stack.h"

#include <cstring>

namespace qob {

namespace {

void ReleaseBlock(void* block) {
    UnregisterValueBlock(block);
    FreeValueBlock(block);
}

void UnlinkFrom(MemoryLink** chain, MemoryLink* link) {
    if (link->newer)
        link->newer->older = link->older;
    else
        *chain = link->older;
    if (link->older)
        link->older->newer = link->newer;
}

bool IsListHolder(const VariableRecord* v) {
    return v->currentNode && (v->flags & kVarList) && !v->reference;
}

// Store a block address into a field the way its type code keeps addresses.
void StoreAddressInField(void* field, int32_t type, const void* block) {
    auto address = reinterpret_cast<uintptr_t>(block);
    switch (type) {
    case -9: {
        // Sign-extended, as the 32-bit address of a program-visible block is.
        int64_t wide = static_cast<int32_t>(static_cast<uint32_t>(address));
        std::memcpy(field, &wide, sizeof wide);
        break;
    }
    case -8: {
        double number = static_cast<double>(address);
        std::memcpy(field, &number, sizeof number);
        break;
    }
    case -5:
    case -4:
    case -3: {
        uint32_t narrow = static_cast<uint32_t>(address);
        std::memcpy(field, &narrow, sizeof narrow);
        break;
    }
    default:
        break;
    }
}

}  // namespace

VariableRecord* MemoryLinkHolder(VariableRecord* variable) {
    if (variable->parent && variable->elementCount == 0)
        variable = variable->parent;
    // A variable sharing another's storage keeps no chain of its own: one
    // chain, one head, whichever record writes a field.
    while (variable->linkOwner)
        variable = variable->linkOwner;
    return variable;
}

void PushMemoryLink(MemoryLink** chain, void* block, void* field, int32_t type) {
    auto* link = static_cast<MemoryLink*>(AllocateValueBlock(sizeof(MemoryLink)));
    if (!link)
        return;
    link->block = block;
    link->field = field;
    link->type = type;
    link->older = *chain;
    if (*chain)
        (*chain)->newer = link;
    *chain = link;
}

void AddMemoryLink(VariableRecord* variable, void* block, void* field, int32_t type) {
    VariableRecord* holder = MemoryLinkHolder(variable);
    PushMemoryLink(&holder->links, block, field, type);
    if (IsListHolder(holder))
        StoreListElement(holder);
}

MemoryLink* FindMemoryLinkByBlock(VariableRecord* variable, const void* block) {
    for (MemoryLink* link = MemoryLinkHolder(variable)->links; link; link = link->older)
        if (link->block == block)
            return link;
    return nullptr;
}

void FreeMemoryLinkByBlock(VariableRecord* variable, void* block, void* field) {
    VariableRecord* holder = MemoryLinkHolder(variable);
    for (MemoryLink* link = holder->links; link; link = link->older) {
        if (link->block != block || link->field != field)
            continue;
        UnlinkFrom(&holder->links, link);
        ReleaseBlock(link->block);
        FreeValueBlock(link);
        break;
    }
    if (IsListHolder(holder))
        StoreListElement(holder);
}

void FreeMemoryLinkByField(VariableRecord* variable, void* field, bool freeBlock) {
    VariableRecord* holder = MemoryLinkHolder(variable);
    for (MemoryLink* link = holder->links; link; link = link->older) {
        if (link->field != field)
            continue;
        UnlinkFrom(&holder->links, link);
        ReleaseBlock(link->block);
        FreeValueBlock(link);
        break;
    }
    if (freeBlock)
        ReleaseBlock(field);
    if (IsListHolder(holder))
        StoreListElement(holder);
}

void FreeLinkedBlock(MemoryLink** chain, void* block, bool freeBlock) {
    for (MemoryLink* link = *chain; link; link = link->older) {
        if (link->block != block)
            continue;
        UnlinkFrom(chain, link);
        ReleaseBlock(link->block);
        FreeValueBlock(link);
        return;
    }
    if (freeBlock)
        ReleaseBlock(block);
}

void FreeLinkChain(MemoryLink* chain) {
    while (chain) {
        MemoryLink* older = chain->older;
        ReleaseBlock(chain->block);
        FreeValueBlock(chain);
        chain = older;
    }
}

void FreeMemoryLinks(VariableRecord* variable) {
    FreeLinkChain(variable->links);
    variable->links = nullptr;
}

void CopyLinkChain(const MemoryLink* sourceChain, const void* sourceBase, MemoryLink** targetChain,
                   void* targetBase, size_t span) {
    // Oldest first, so the copy keeps the source's order.
    const MemoryLink* link = sourceChain;
    while (link && link->older)
        link = link->older;
    for (; link; link = link->newer) {
        auto offset = static_cast<intptr_t>(reinterpret_cast<uintptr_t>(link->field) -
                                            reinterpret_cast<uintptr_t>(sourceBase));
        if (link->field && (offset < 0 || static_cast<size_t>(offset) >= span))
            continue;
        char* copy = CopyValueBlockOrText(link->block, link->type == -3);
        if (!copy)
            continue;
        RegisterValueBlock(copy);
        void* field = nullptr;
        if (link->field && targetBase) {
            field = static_cast<char*>(targetBase) + offset;
            StoreAddressInField(field, link->type, copy);
        }
        PushMemoryLink(targetChain, copy, field, link->type);
    }
}

void DuplicateMemoryLinks(VariableRecord* target, const VariableRecord* source) {
    CopyLinkChain(source->links, source->data, &target->links, target->data);
}

void CopyMemoryLinks(const StackEntry* source, VariableRecord* target) {
    CopyLinkChain(source->ownedLinks, source->text, &MemoryLinkHolder(target)->links, target->data);
}

void CopyNodeMemoryLinks(ListNode* target, const ListNode* source) {
    if (!source->structExtension || !source->structExtension->links)
        return;
    if (!target->structExtension) {
        target->structExtension = static_cast<ListStructExtension*>(AllocateValueBlock(sizeof(ListStructExtension)));
        if (!target->structExtension)
            return;
    }
    CopyLinkChain(source->structExtension->links, source->data, &target->structExtension->links, target->data);
}

void LoadNodeMemoryLinks(VariableRecord* target, const ListNode* source) {
    if (source->structExtension)
        CopyLinkChain(source->structExtension->links, source->data, &target->links, target->data);
}

void CopyObjectMemoryLinks(const VariableRecord* source, MemoryLink** targetChain, void* buffer) {
    CopyLinkChain(source->links, source->data, targetChain, buffer);
}

}  // namespace qob
