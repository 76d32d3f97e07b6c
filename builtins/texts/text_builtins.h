// builtins/texts/text_builtins.h
// The text built-ins: measure, search, cut, edit, re-case, trim and pad texts,
// and the clamp-or-wrap of a number that is registered with them.
#pragma once

namespace qob {

// Each pops its fixed arguments (the rightmost first) and pushes its result;
// none reports an error. Positions and counts are in characters: bytes of an
// 8-bit text, units of a UTF-16 one.

void Builtin_length();      // length(text) -> characters
void Builtin_mid();         // mid(text, start, count) -> sub-text
void Builtin_pos();         // pos(search, text) -> first position or -1
void Builtin_rpos();        // rpos(search, text) -> last position or -1
void Builtin_cpos();        // cpos(search, text) -> occurrences
void Builtin_npos();        // npos(search, text, start) -> first position at or after start, or -1
void Builtin_upper();       // upper(text)
void Builtin_lower();       // lower(text)
void Builtin_capitalize();  // capitalize(text): lower case, first letter upper
void Builtin_swapcase();    // swapcase(text): ASCII letters change case
void Builtin_reverse();     // reverse(text)
void Builtin_dup();         // dup(text): a copy
void Builtin_rtrim();       // rtrim(text): without trailing blanks
void Builtin_ltrim();       // ltrim(text): without leading blanks
void Builtin_trim();        // trim(text): without either
void Builtin_lpad();        // lpad(text, fill, count): count fill characters, then the text
void Builtin_rpad();        // rpad(text, fill, count): the text, then count fill characters
void Builtin_wrap();        // wrap(value, low, high, mode) -> clamped (mode 0) or wrapped number

// The editors (text_editing.cpp) change the text of a target variable: the
// variable the argument came from, or the one its text names. The new text
// is stored as an assignment stores it, so a protected variable keeps its
// text and a setter procedure runs.
void Builtin_delete();      // delete(var, start, count)
void Builtin_insert();      // insert(text, var, position)
void Builtin_replace();     // replace(var, search, replacement)
void Builtin_change();      // change(var, start, count, text)
void Builtin_strip();       // strip(var, characters) -> 0

}  // namespace qob
