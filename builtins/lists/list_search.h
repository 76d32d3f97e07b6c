// builtins/lists/list_search.h
// Finding list items by a key: the item matcher (texts, fields of delimited
// texts, structure members, numbers) and the find and delall built-ins.
#pragma once

#include <cstdint>

namespace qob {

struct ListNode;

// Flags of a search.
constexpr uint32_t kMatchCaseSensitive = 0x1;   // without it key and item text are upper-cased
constexpr uint32_t kMatchBegins = 0x10;         // the item text begins with the key
constexpr uint32_t kMatchEnds = 0x100;          // the item text ends with the key
constexpr uint32_t kMatchContains = 0x1000;     // the item text contains the key (decides first)
constexpr uint32_t kMatchTrimBoth = 0x10000;    // blanks off both ends of the item text
constexpr uint32_t kMatchTrimLeading = 0x100000;
constexpr uint32_t kMatchTrimLeadingToo = 0x1000000;  // the same as kMatchTrimLeading
constexpr uint32_t kMatchNumeric = 0x10000000;  // the key is a number

// The position of the first item from start (below 0: the first item) to end
// (-1: the last) that matches, or -1; *item (any item of the chain) is left on
// the match. A numeric search compares number items and numeric structure
// members by value and texts with the number's text; a text search compares
// everything as text, numbers in their text form. With a delimiter the item
// text's field of that number is compared; with a structure item its member
// of that number. Positions are counted from the first item.
int64_t ListMatchItem(ListNode** item, int64_t start, int64_t end, const char* keyText, double keyNumber,
                      const char* delimiter, int64_t field, int64_t member, uint32_t flags);

// (list, start, end, value, delimiter, field, member, flags): position of the
// first match, -1 when none; the current item does not move.
void Builtin_find();
// (list, value, delimiter, field, member, flags): deletes every match and makes
// the first remaining item current; the number deleted.
void Builtin_delall();

}  // namespace qob
