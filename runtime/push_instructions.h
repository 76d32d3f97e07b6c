// runtime/push_instructions.h
// The push family (constants, texts, variables, fused pairs), parameter binding
// and the CASE steps.
#pragma once

namespace qob {

struct Instruction;
struct InstructionExtra;
struct VariableRecord;

// Set by the NG pushes: the next variable read does not follow the variable's
// reference link, and clears the byte.
extern bool NoFollowPending;

// The node's variable by name, through the side-record cache of the first
// (second == false) or second name pair; finds, else requires, it and follows
// its reference unless noFollow. Other handlers that name a variable use it.
[[nodiscard]] VariableRecord* LookUpNodeVariable(Instruction* node, const char* name, bool second,
                                                 bool noFollow);

void Handle_PUSHINT();
void Handle_PUSHSTR();
void Handle_PUSHVAR();
void Handle_NGPUSHVAR();
void Handle_PUSHPROCADDR();
void Handle_PUSHINTINT();
void Handle_PUSHINTSTR();
void Handle_PUSHVARINT();
void Handle_PUSHNGVARINT();
void Handle_PUSHINTVAR();
void Handle_PUSHSTRVAR();
void Handle_PUSHSTRSTR();
void Handle_PUSHVARSTR();
void Handle_PUSHNGVARSTR();
void Handle_PUSHSTRINT();
void Handle_PUSHVARVAR();
void Handle_NGPUSHVARVAR();
void Handle_PARMSPUSHVAR();
void Handle_PARMSPUSHVARVAR();
void Handle_PUSHCASE();
void Handle_PUSHINTCASE();

}  // namespace qob
