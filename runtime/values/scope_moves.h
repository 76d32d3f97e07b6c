// runtime/values/scope_moves.h
// Moving a variable into another variable list (GLOBAL, NGLOBAL) and releasing
// a context's cached local frames.
#pragma once

namespace qob {

struct ProgramContext;
struct VariableRecord;

// Relinks the variable (and a structure's members) at the end of the target
// list. keepHead: do not make it the head of an emptied runtime-wide list.
void MoveVariableToScope(VariableRecord* targetHead, VariableRecord* variable, bool keepHead);

// Releases every cached local frame of the context and gives the cache records back.
void FreeContextVariables(ProgramContext* context);

}  // namespace qob
