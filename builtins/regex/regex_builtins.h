// builtins/regex/regex_builtins.h
// The regular-expression built-ins over the one process-wide compiled
// pattern: match, search, subexpcount and subexp, and RegexFree.
#pragma once

namespace qob {

// Positions and lengths given to programs count bytes of the 8-bit (UTF-8)
// text, whatever the engine counts inside. A compile error leaves no
// compiled pattern, makes match and search give 0 and sets REXERROR% (a
// successful compile leaves REXERROR% as it was). The same pattern as the
// last one reuses its compiled form.

void Builtin_match();        // match(pattern, text) -> 1 when it matches at the text's start
// search(pattern, text, start var, end var) -> 1 when it matches somewhere;
// the variables receive the text from the match on and from its end on
// (without a match they keep their values).
void Builtin_search();
void Builtin_subexpcount();  // subexpcount() -> groups of the last pattern, group 0 included; 0 when none
// subexp(text, group, start var, length var): the text from the group's
// start on, and its length; the empty text and 0 for a group that does not
// exist. Nothing when no pattern was compiled.
void Builtin_subexp();

// Frees the last compiled pattern (shut-down).
void RegexFree();

}  // namespace qob
