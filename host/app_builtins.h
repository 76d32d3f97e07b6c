// host/app_builtins.h
// Built-ins over the applications loaded in the process and the names the
// system knows (functions, variables).
#pragma once

namespace qob {

struct ProgramContext;

// An application is named by its context's address, as a number. A number
// that is no live context is refused: the built-in does nothing and, when it
// returns a value, pushes 0.
void Builtin_findapp();
// killapp (context): an application with windows is sent the end-application
// message through its first window and ends when the thread of that window
// handles it (its message loop, or a pumping built-in); one without windows
// ends as with freeapp.
void Builtin_killapp();
void Builtin_freeapp();
void Builtin_appname();
void Builtin_appsize();
void Builtin_appbuffer();
void Builtin_appform();
void Builtin_appuniqueid();

// functions (list variable, all) and variables (list variable, which): fill
// the list with the names and push how many.
void Builtin_functions();
void Builtin_variables();

}  // namespace qob
