// runtime/values/declarations.h
// Declaration, mode and program-end keywords, the matrix-building step and
// the pointer operator.
#pragma once

namespace qob {

void Builtin_LOCAL();
void Builtin_GLOBAL();
void Builtin_NGLOBAL();
void Builtin_STATIC();
void Builtin_PROTECT();
void Builtin_UNPROTECT();
void Builtin_public();
void Builtin_private();
void Builtin_ReadWrite();
void Builtin___MAKEMATRIX();
void Builtin___NOEXPLICITCHECK();
// "@" and "ptr" share this handler.
void Builtin_ptr();
void Builtin_HALT();
void Builtin_EXIT();
void Handle_RANGEMODE();
void Handle_EXPLICITMODE();

}  // namespace qob
