// builtins/texts/text_splitting.h
// Texts cut into lists and arrays of pieces and lists joined back into text;
// structures turned into lists of their members' names or values and back.
#pragma once

#include <string_view>

namespace qob {

struct ListNode;

// How a piece is kept: a text the node owns (0x10, 0x30 for UTF-16), or
// the number the piece's text stands for (no data, flags 0).
enum class PieceKind { Text, Number };

// Cuts the text at every occurrence of the separator (anyCharacter: at every
// character that is one of the separator's) into a new chain of zero-filled,
// stamped nodes; returns its last node, or null when the text is empty. A
// separator at the start or the end, and two in a row, give empty pieces; an
// empty separator matches nowhere, so the text is one piece. Time is linear
// in the text, however many pieces.
[[nodiscard]] ListNode* SplitTextToPieces(std::string_view text, std::string_view separator, bool anyCharacter,
                                          PieceKind kind);
[[nodiscard]] ListNode* SplitWideTextToPieces(std::u16string_view text, std::u16string_view separator,
                                              bool anyCharacter, PieceKind kind);

// (text, separator, list) -> number of pieces. The list is rebuilt from the
// pieces once the text and the separator are read (a list may split its own
// current text); its first piece is current. "ex": every character of the
// separator separates; "int": pieces are stored as their numbers.
void Builtin_strtolist();
void Builtin_strtolistex();
void Builtin_strtolistint();
void Builtin_strtolistintex();
// (text, separator, array) -> number of pieces (the whole separator text
// separates; the "ex" names are the same built-ins). An array without
// elements first becomes an array of doubles, one per piece; an array with
// fewer elements than pieces takes only as many as it holds. strtoarray
// stores texts (a copy the array owns, its address in a numeric element; the
// number of the piece in a 1- or 2-byte element, which cannot hold an
// address; the characters in a fixed-width element), strtoarrayint numbers.
void Builtin_strtoarray();
void Builtin_strtoarrayint();

// (list, separator, before, after) -> before + item + after for each item,
// the separator between them; UTF-16 when any item is a UTF-16 text. A
// variable that is no list gives the empty text. No item is read past its
// block.
void Builtin_listtostr();

// (structure, list) -> 0: the list is rebuilt from the members' short names
// ("S.FIELD$" gives "FIELD").
void Builtin_structdeftolist();
// (structure, name) -> 1 when a member has that short name (any letter
// case), else 0. The name argument is never changed.
void Builtin_isstructdef();
// (structure, list) -> number of members: the list is rebuilt from the
// members' values (texts copied; a UTF-16 member gives a UTF-16 item).
void Builtin_structtolist();
// (list, structure) -> number of members assigned, in member order, from the
// list's first item on; 0 when the first argument is no list.
void Builtin_listtostruct();

}  // namespace qob
