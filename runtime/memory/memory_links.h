// runtime/memory/memory_links.h
// Memory links: the blocks a variable, a value-stack entry or a list element
// owns through its fields, newest first, and the ways to free and copy them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qob {

struct VariableRecord;
struct StackEntry;
struct ListNode;

struct MemoryLink {
    void* block;         // the owned block
    void* field;         // address of the field that holds it; null when no field does
    int32_t type;        // type code of that field
    MemoryLink* older;
    MemoryLink* newer;
};

// The record whose chain holds a variable's links: its parent structure for a
// member without its own element count, else itself; for a variable sharing
// another's storage, the owner of that storage.
[[nodiscard]] VariableRecord* MemoryLinkHolder(VariableRecord* variable);

void AddMemoryLink(VariableRecord* variable, void* block, void* field, int32_t type);
// Link a block in front of a bare chain.
void PushMemoryLink(MemoryLink** chain, void* block, void* field, int32_t type);
[[nodiscard]] MemoryLink* FindMemoryLinkByBlock(VariableRecord* variable, const void* block);
void FreeMemoryLinkByBlock(VariableRecord* variable, void* block, void* field);
void FreeMemoryLinkByField(VariableRecord* variable, void* field, bool freeBlock);
// On a bare chain: frees the link of that block (and the block); without a
// matching link frees the block only when freeBlock is set.
void FreeLinkedBlock(MemoryLink** chain, void* block, bool freeBlock);
void FreeMemoryLinks(VariableRecord* variable);
void FreeLinkChain(MemoryLink* chain);

// Copy family: each linked block is copied into a new block, linked in the
// destination at the field of the same offset from the destination's base,
// and the new address is stored into that field by the link's type.
void DuplicateMemoryLinks(VariableRecord* target, const VariableRecord* source);
void CopyMemoryLinks(const StackEntry* source, VariableRecord* target);
void CopyNodeMemoryLinks(ListNode* target, const ListNode* source);
void LoadNodeMemoryLinks(VariableRecord* target, const ListNode* source);
// Copies the variable's links for a copy of its data placed at buffer.
void CopyObjectMemoryLinks(const VariableRecord* source, MemoryLink** targetChain, void* buffer);
// The bare-chain form all of the above use: links of sourceChain relative to
// sourceBase are copied into targetChain relative to targetBase.
// Only links whose field lies in [sourceBase, sourceBase + span) or that have
// no field are copied.
void CopyLinkChain(const MemoryLink* sourceChain, const void* sourceBase, MemoryLink** targetChain,
                   void* targetBase, size_t span = SIZE_MAX);

}  // namespace qob
