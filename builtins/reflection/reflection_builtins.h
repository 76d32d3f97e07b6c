// builtins/reflection/reflection_builtins.h
// Variables and procedures as data: addresses, variables by name, kinds and
// extents, procedures found and called by name or handle, and where the
// running code stands.
#pragma once

namespace qob {

void Builtin_addr();            // (value) -> address (also the ADDR opcode)
void Handle_ADDR2();            // the node's variable -> its address; 0 when there is none
void Builtin_getvar();          // (name) -> reference to the variable (found or made)
void Builtin_setvar();          // (name, value): an unknown name does nothing
void Builtin_varexists();       // (name) -> 1 or 0, nothing made
void Builtin_isvalidvar();      // (name) -> 1 when it ends in "$" or "%"
void Builtin_vartype();         // (value) -> kind 0 to 9
void Builtin_ltype();           // (value) -> kind of a list variable's current item
void Builtin_vmax();            // (variable) -> extent
void Builtin_empty();           // (variables...): each value cleared
void Builtin_curproc();         // () -> name of the running procedure
void Builtin_getproc();         // (application, name) -> handle or 0
void Builtin_getprocex();       // (application, name, count, returns) -> handle or 0
void Builtin_call();            // (application, procedure, arguments...) -> its result, or 0
void Builtin_objcall();         // (object, handle, unused, arguments...): runs it as a method
void Builtin_objaddr();         // (variable) -> the object's address or 0
void Builtin_currentline();     // () -> source line of the current instruction
void Builtin_currentfilename(); // () -> source file of the current instruction

}  // namespace qob
