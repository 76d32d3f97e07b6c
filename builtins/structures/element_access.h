// builtins/structures/element_access.h
// The steps that turn indexes into an element, a field, a list item or a
// byte of a variable, and the member step of objects.
#pragma once

namespace qob {

void Builtin___offset();     // variable below the frame, indexes in it -> element entry
void Builtin___offset1();    // (variable, index) -> element entry
void Builtin___offsetvar();  // (object, member) -> member entry

// Opcode handlers: the variable is the one the node names.
void Handle_OFFSET2();       // indexes in the frame
void Handle_OFFSET2_1();     // one popped index
void Handle_OFFSET2_2();     // the node's constant index

}  // namespace qob
