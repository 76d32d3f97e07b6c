// builtins/lists/list_builtins.h
// The list built-ins: declaring lists, adding, inserting and deleting items,
// moving the current item, asking about lists, sorting, cutting and copying.
#pragma once

namespace qob {

struct FrameArguments;
struct ListNode;
struct StackEntry;
struct VariableRecord;

// A list argument: the cell's variable, else the variable its text (or its
// number as text) names. Null only when no variable can be had.
[[nodiscard]] VariableRecord* ListArgument(const StackEntry& cell);
// Whether the variable is a list that has a current item.
[[nodiscard]] bool HasCurrentItem(const VariableRecord* variable);
// Makes the node the list's current item and shows it in the variable; a null
// node leaves the list empty and the variable without a value (its fields
// never point at a freed item).
void ShowListItem(VariableRecord* list, ListNode* node);
// Appends one item per argument of the frame from the second on, each stored
// as add stores it (owned copies of texts and matrices), after the list's
// current item (a new chain when it has none); the last one becomes current.
void AppendValueItems(VariableRecord* list, const FrameArguments& arguments);

// Variadic: every argument is a variable (the first the list, for add, addlist, ins).
void Builtin_list();     // each argument becomes an empty list
// add (Builtin_add is the "+" operator): (list, values...): appends one item
// per value; the last one is current.
void Builtin_listadd();
void Builtin_addlist();  // (list, lists...): appends a copy of every item of each source list
void Builtin_ins();      // (list, values...): inserts in front of the current item, in reverse order
void Builtin_del();      // (lists...): deletes each list's current item
void Builtin_count();    // (lists...): items of every non-empty list
void Builtin_first();    // (lists...): first items current; how many lists have items
void Builtin_last();     // (lists...): last items current; how many lists have items
void Builtin_next();     // (lists...): one item forward; how many moved
void Builtin_prev();     // (lists...): one item back; how many moved
void Builtin_isfirst();  // (lists...): how many stand on their first item
void Builtin_islast();   // (lists...): how many stand on their last item
void Builtin_islist();   // (variables...): how many are lists

void Builtin_lpos();     // (list): position of the current item; -1 empty; 0 not a list
void Builtin_goto();     // (list, position): 1 when an item became current
void Builtin_lmove();    // (list, from, to): moves an item; 1 when it moved or stayed
void Builtin_pop();      // (list): the current item's value; then one item back
void Builtin_sort();     // (list, order, case)
void Builtin_split();    // (list, position, target): cuts the list; number of items cut off
void Builtin_lcopy();    // (source, destination): deep copy of the whole list
void Builtin_lcopyex();  // (source, destination, start, end): deep copy of a range
void Builtin_copy();     // (source, destination): the current item into the destination's

}  // namespace qob
