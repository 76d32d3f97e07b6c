// builtins/formatting/format_builtins.h
// The formatted-output built-ins: printf and sprintf build a text from a
// format and values (they write to no device), fstr groups digits.
#pragma once

namespace qob {

// printf(format, values...) -> text. Framed: every cell above the frame.
void Builtin_printf();
// sprintf(var, format, values...): the text is stored into the variable as an
// assignment stores it (a protected variable keeps its value, a setter runs),
// after the format was read, so a format or value that is the variable's own
// text is read whole. Nothing is pushed.
void Builtin_sprintf();
// fstr(value) -> the value's text with "," after every third digit of its
// integer part, counted from the decimal point ("-123456" -> "-123,456").
void Builtin_fstr();

}  // namespace qob
