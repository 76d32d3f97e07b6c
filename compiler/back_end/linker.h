// compiler/back_end/linker.h
// The linker: drops the procedures that nothing references from the postfix
// stream, and puts the declarations of the native functions in use in front.
#pragma once

#include "compiler/compile_progress.h"

namespace qob {

struct TokenNode;

// Which procedures survive linking. A procedure stays when a call or a
// procedure address ("&NAME") in the stream names it from its own namespace,
// when it is an entry procedure (PROC MAIN, FUNC WINMAIN), class code, or
// marked FORCELINK. Everything else is deleted with its body, pass after pass
// while the pass limit allows and the last pass deleted something.
//
// Procedures that a program only reaches by their name as a text at run time
// (getproc, event procedures named in a text, callbacks registered by name)
// look unreferenced to the linker. Write FORCELINK before their PROC or FUNC
// keyword to keep them, or link with "NL". The one exception made here is
// UPDATE of the loader program LOAD.QOB, which the driver calls by name.
struct LinkOptions {
    int passLimit = 1;       // 0: delete nothing ("NL"), 1 ("L1", default), 999 ("LM")
    bool debugMode = false;  // "D": the __DEBUG hook after a deleted body's END goes too
    CompileProgress progress = nullptr;
};

// Links the stream that ends at last (fileName: the unit's name, for the
// declaration tokens and the progress text). Returns the stream's last token
// after the deletions, with the declaration tokens linked in front of its
// head; null when nothing is left.
[[nodiscard]] TokenNode* LinkProgram(const char* fileName, TokenNode* last, const LinkOptions& options = {});

}  // namespace qob
