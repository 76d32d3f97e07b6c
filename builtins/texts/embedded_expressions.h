// builtins/texts/embedded_expressions.h
// Texts that carry program text in braces: each brace group runs as a small
// child program and is replaced by the text of the value it leaves.
#pragma once

namespace qob {

// A new block of the process heap (the caller frees it) holding the text
// with every group "{...}" replaced: by the text of the one value the group's
// child program left on the shared value stack, by the empty text when it
// left none or several, by "[Error]" when it could not run. Braces nest
// within a group. An unclosed "{" reports "Missing }" (a run-time error that
// lets the step finish) and runs the rest of the text as the last group. A
// group that names a program file runs that file, as the run driver finds
// files (a name cut at its first "." also tries ".qob" and ".qoc", so
// "{a.b}" can start the program a.qob). Groups and their count are unlimited.
// Null only when no memory is left.
[[nodiscard]] char* ExpandEmbeddedExpressions(const char* text);

// evalstring(text) -> the text expanded.
void Builtin_evalstring();

}  // namespace qob
