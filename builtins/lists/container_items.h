// builtins/lists/container_items.h
// What the conversions between lists, arrays, structures and texts share:
// new list items, a list rebuilt from a chain of them, and array elements
// read and written by the array's element type.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qob {

struct ListNode;
struct VariableRecord;

// A new node after the chain's last node (a new chain for null), holding a
// terminated copy of length units of the text (8-bit, or 16-bit when wide)
// that it owns (flags 0x10, 0x30 for UTF-16), stamped. Null when no memory
// is left; a copy that cannot be made leaves the node empty.
ListNode* AppendTextItem(ListNode* last, const void* text, size_t length, bool wide);
// The same for a number.
ListNode* AppendNumberItem(ListNode* last, double value);

// The variable, released, becomes a list of the chain (any node of it, or
// null for none) with the first node current; gives the number of items.
// The chain is made first, from sources read first: releasing the list can
// then free nothing the new items still need.
int64_t RebuildList(VariableRecord* list, ListNode* chain);

// Whether the variable is an array (elements, not a structure member).
[[nodiscard]] bool IsArrayVariable(const VariableRecord* variable);
// The variable, released, becomes a one-dimensional array of count doubles,
// zero; false (and an empty variable) when no memory is left or count is 0.
bool MakeDoubleArray(VariableRecord* array, uint32_t count);
// The address of element index of an array (index below its element count).
[[nodiscard]] unsigned char* ArrayElement(VariableRecord* array, uint32_t index);
// Reads element index as the variable store reads a typed element: a text
// (copied into a new value block the caller frees with FreeValueBlock; wide says it is UTF-16) or a
// number (text null).
void ReadArrayElement(VariableRecord* array, uint32_t index, char** text, bool* wide, double* value);
// Stores a text into the element by its type: an element that holds an
// address (8 or 4 bytes) gets a copy the array owns through a memory link
// (UTF-16 for type -3, else of the text's own width), a 1- or 2-byte element
// the text's number, a fixed-width element the text's characters, cut to
// its width.
void StoreArrayText(VariableRecord* array, unsigned char* element, const void* text, size_t length, bool wide);
// Stores a text into a structure member through the variable store (a
// setter runs): a UTF-16 member (type -3) keeps UTF-16, whatever the text's
// width; any other member takes 8-bit text, a UTF-16 one narrowed.
void StoreMemberText(VariableRecord* member, const void* text, size_t length, bool wide);
// Stores a number into the element by its type.
void StoreArrayNumber(VariableRecord* array, unsigned char* element, double value);

}  // namespace qob
