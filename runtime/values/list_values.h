// runtime/values/list_values.h
// List values: chains of ListNode, each holding one value shaped like a
// variable's, and the list variable's copy of its current node in and out.
#pragma once

#include <cstdint>

namespace qob {

struct Instruction;
struct MemberDefinition;
struct MemoryLink;
struct VariableRecord;
struct ListNode;

// One entry of a record that tracks which list position a walker stands on.
// Deleting a node moves an entry that stood on it to a neighbour and marks it.
struct ListTracker {
    ListNode* current;
    uint8_t changed;
    ListTracker* next;
};

// Array and object part of a node's value.
struct ListArrayExtension {
    uint32_t elementCount;
    int32_t dimensions[8];
    uint8_t dimensionCount;
    uint8_t arrayOrder;
    uint32_t arrayWord;
    uint32_t classHash;
    Instruction* getter;
    Instruction* setter;
    ListTracker* tracker;  // belongs to the node, never moves with the value
    VariableRecord* reference;  // a by-reference element: the variable it stands for
};

// Structure part of a node's value: definitions and owned blocks.
struct ListStructExtension {
    VariableRecord* parent;
    MemberDefinition* members;
    uint32_t offset;
    MemoryLink* links;
};

// Nodes and extensions are zero-filled when made: the stamp hashes their raw
// bytes, padding included.
struct ListNode {
    char* data;                          // text or block; null for a number
    double value;
    uint32_t flags;                      // VariableRecord flag bits; 0x10 owns data
    uint32_t stamp;                      // 31-bit hash of the contents
    int32_t type;
    ListArrayExtension* arrayExtension;
    ListStructExtension* structExtension;
    ListNode* previous;
    ListNode* next;
};

// Chains are linked and unlinked only through the operations below: the
// positional ones remember their last answer and where it stands, and the
// ends and length of the chain met last, until a chain changes shape
// (changes at that chain's ends keep its ends and length up to date).
[[nodiscard]] ListNode* ListFirst(ListNode* node);
[[nodiscard]] ListNode* ListLast(ListNode* node);
[[nodiscard]] uint32_t ListCount(ListNode* node);
// Clamped: an index past the end gives the last node, below 1 the first.
[[nodiscard]] ListNode* ListNodeAt(ListNode* node, int64_t index);
// Position of the node from the first (0-based).
[[nodiscard]] uint32_t ListIndexOf(const ListNode* node);
ListNode* ListAppend(ListNode* node);
ListNode* ListInsertBefore(ListNode* node);
// Frees the node; returns its next node, or its previous, or null.
ListNode* ListDeleteNode(ListNode* node);
ListNode* ListMoveNode(ListNode** handle, int64_t from, int64_t to);
// Cuts the chain in front of the node: the node starts a chain of its own.
// Returns the node that was before it (now the last of the first chain), or null.
ListNode* ListCutBefore(ListNode* node);
void ListFree(ListNode* node, bool freeData);
void ListSort(ListNode* node, int order, int caseSensitive);
[[nodiscard]] uint64_t ListTextLength(ListNode* node);

// Asks for the memory some way past the node in a walk's direction. Nodes
// appended one after another mostly lie next to each other, in the order they
// were made, and a walk over a long list would otherwise wait for each node in
// turn. A hint only, never an access: a guess that misses costs nothing more.
inline void PrefetchListAhead(const ListNode* node, bool backwards) {
    constexpr intptr_t kLookAhead = 2048;
    const uintptr_t ahead = reinterpret_cast<uintptr_t>(node) + (backwards ? -kLookAhead : kLookAhead);
    __builtin_prefetch(reinterpret_cast<const void*>(ahead));
}

// Recompute a node's stamp over its bytes and its extensions' bytes.
uint32_t StampListNode(ListNode* node);
// The hash a node without extensions is stamped with (before the 31-bit
// mask), by SSE2 steps and by AVX2 steps; the stamp takes the AVX2 ones when
// the processor has them. Both must agree: tests check one against the other.
[[nodiscard]] uint32_t HashPlainListNodeSse2(const ListNode* node);
[[nodiscard]] uint32_t HashPlainListNodeAvx2(const ListNode* node);  // only where ProcessorHasAvx2()
[[nodiscard]] bool ProcessorHasAvx2();
// Free a node's extensions (not its data).
void FreeListNodeExtensions(ListNode* node);

// The list variable's cache of its current node. A by-reference element's
// variable stays in the node: GetVariableValue and SetVariableValue of the
// list variable go through to it.
void LoadListElement(VariableRecord* variable);
void StoreListElement(VariableRecord* variable);
// Fills the list variable's current node, a node just made (zero but for its
// links), with a number or a text, and loads it: the node and the record end
// as StampListNode and LoadListElement would leave them. flags holds no
// structure, matrix or object bit.
void FillNewListItem(VariableRecord* list, char* data, double value, uint32_t flags);

}  // namespace qob
