// runtime/vm/opcodes.h
// The opcode list: numbers, the names listings print, and one line per opcode
// with its operands and stack effect. Everything indexed by opcode comes from here.
#pragma once

#include <cstdint>

namespace qob {

// X(identifier, number, listing name). Numbers 11, 32, 42, 45, 55, 62, 63 and
// 183 are unused. "target" is the side record's jump target: execution goes on
// at the node after it. "Pops/Pushes n" count value-stack cells.
#define QOB_OPCODES(X) \
    X(STARTPROC,         1, "STARTPROC")         /* text: procedure header; operand: count byte; extraWord: undefined-start flag. No stack effect */ \
    X(ENDPROC,           2, "ENDPROC")           /* text: header or file name. Sets the stop flag */ \
    X(BRANCH,            3, "BRANCH")            /* target. Continues after the target */ \
    X(PUSHINT,           4, "PUSHINT")           /* operand: number. Pushes 1 */ \
    X(PUSHSTR,           5, "PUSHSTR")           /* text: the constant (pushed without a copy). Pushes 1 */ \
    X(PUSHVAR,           6, "PUSHVAR")           /* text: variable name. Pushes the variable's value */ \
    X(NGPUSHVAR,         7, "NGPUSHVAR")         /* text: variable name. Pushes the variable itself (no reference follow), an assignment target */ \
    X(INITFOREACH,       8, "INITFOREACH")       /* Opens a loop depth; marks the FOREACH's first run */ \
    X(INITFOR,           9, "INITFOR")           /* Opens a loop depth; marks the FOR's first run */ \
    X(PARMSPUSHVAR,     10, "PARMSPUSHVAR")      /* text: parameter name. Pops 1 into the parameter */ \
    X(IF,               12, "IF")                /* target. Pops the condition; jumps when it is 0.0 without text */ \
    X(EXPECT,           13, "EXPECT")            /* Pops one TRY entry */ \
    X(WHILE,            14, "WHILE")             /* target: the loop's end BRANCH. Pops the condition; leaves the loop when false */ \
    X(FOR,              15, "FOR")               /* target: the loop's end BRANCH. Closes a frame; pops variable, start, end [, step] */ \
    X(FOREACH,          16, "FOREACH")           /* operand: 1.0 walks backwards; target: end BRANCH. Closes a frame; pops result and source */ \
    X(TRY,              17, "TRY")               /* target: the BRANCH before EXCEPT. Pushes a TRY entry */ \
    X(UNTIL,            18, "UNTIL")             /* target: the REPEAT start. Pops the condition; repeats when it is 0.0 */ \
    X(BREAK,            19, "BREAK")             /* target: the FOREACH node. Frees its newest iteration record */ \
    X(PUSHPROCADDR,     20, "PUSHPROCADDR")      /* operand: procedure start address. Pushes 1 */ \
    X(PULLCASE,         21, "PULLCASE")          /* operand: CASE slot. Pops the selector into the slot */ \
    X(PUSHCASE,         22, "PUSHCASE")          /* operand: CASE slot; extraWord: value count; target: next label. Pops the values */ \
    X(ADDR,             23, "ADDR")              /* The address built-in. Pops 1, pushes 1 */ \
    X(RETURN,           24, "RETURN")            /* Closes a frame; copies the values above it for the caller; sets the stop flag */ \
    X(CALL,             25, "CALL")              /* text: procedure key; target: STARTPROC. Runs the procedure */ \
    X(SELFCALL,         26, "SELFCALL")          /* text: class.method key; target: cached STARTPROC; operand: cached class hash */ \
    X(OBJRUN,           27, "OBJRUN")            /* text: method key; extraWord: results kept. Pops the object, runs its method */ \
    X(NPARMS,           28, "NPARMS")            /* Closes a frame; pops every argument into the list ARGS$ */ \
    X(RANGEMODE,        29, "RANGEMODE")         /* Toggles range checking */ \
    X(EXPLICITMODE,     30, "EXPLICITMODE")      /* Toggles explicit declarations */ \
    X(RUNFILE,          31, "RUNFILE")           /* text: program name. Runs a program file */ \
    X(ASSIGN2,          33, "=2")                /* text: variable name. Pops 1 into the named variable */ \
    X(INTERNALCALL,     34, "INTERNALCALL")      /* handler: the built-in's own. Pops and pushes as the built-in is registered */ \
    X(INC2,             35, "++2")               /* text: variable name. Increments it */ \
    X(DEC2,             36, "--2")               /* text: variable name. Decrements it */ \
    X(INC4,             37, "++4")               /* Increments the variable cell on top. Pops 1 */ \
    X(DEC4,             38, "--4")               /* Decrements the variable cell on top. Pops 1 */ \
    X(OFFSET2,          39, "OFFSET2")           /* text: array name. Pops the indexes, pushes the element */ \
    X(OFFSET2_1,        40, "OFFSET2_1")         /* text: array name. Pops one index, pushes the element */ \
    X(CLASS4,           41, "CLASS4")            /* The __class4 built-in: a temporary object for a call on STACK */ \
    X(DROPFCTSTACK,     43, "DROPFCTSTACK")      /* operand: results kept. Closes a frame; keeps that many values */ \
    X(DROPALLFCTSTACK,  44, "DROPALLFCTSTACK")   /* operand: results to drop. Closes a frame; drops them */ \
    X(SAVESP2,          46, "SAVESP2")           /* Opens two argument frames at the top, then runs the second handler */ \
    X(PUSHINTINT,       47, "PUSHINTINT")        /* text: 8-byte double; operand: number. Pushes 2 */ \
    X(PUSHINTSTR,       48, "PUSHINTSTR")        /* operand: number; text: constant. Pushes 2 */ \
    X(PUSHVARINT,       49, "PUSHVARINT")        /* text: variable; operand: number. Pushes 2 */ \
    X(PUSHNGVARINT,     50, "PUSHNGVARINT")      /* text: variable (no follow); operand: number. Pushes 2 */ \
    X(PUSHINTCASE,      51, "PUSHINTCASE")       /* text: 8-byte double; operand: slot; extraWord: count; target: next label */ \
    X(PUSHINTVAR,       52, "PUSHINTVAR")        /* operand: number; text: variable. Pushes 2 */ \
    X(PUSHSTRVAR,       53, "PUSHSTRVAR")        /* operand: address of a text; text: variable. Pushes 2 */ \
    X(PUSHSTRSTR,       54, "PUSHSTRSTR")        /* text: constant; operand: address of a second text. Pushes 2 */ \
    X(PUSHVARSTR,       56, "PUSHVARSTR")        /* operand: address of the variable name; text: constant. Pushes 2 */ \
    X(PUSHNGVARSTR,     57, "PUSHNGVARSTR")      /* operand: address of the variable name (no follow); text: constant. Pushes 2 */ \
    X(ASSIGN3,          58, "=3")                /* text: variable; operand: number. Stores the number */ \
    X(ASSIGN4,          59, "=4")                /* text: variable; operand: address of a text. Stores the text */ \
    X(INC3,             60, "++3")               /* text: variable. Increments it */ \
    X(DEC3,             61, "--3")               /* text: variable. Decrements it */ \
    X(ASSIGN5,          64, "=5")                /* text: variable; operand: address of a source variable name. Copies it */ \
    X(EQ2,              65, "==2")               /* operand: number. Pops 1, pushes the comparison */ \
    X(LT2,              66, "<2")                /* operand: number. Pops 1, pushes the comparison */ \
    X(GT2,              67, ">2")                /* operand: number. Pops 1, pushes the comparison */ \
    X(LE2,              68, "<=2")               /* operand: number. Pops 1, pushes the comparison */ \
    X(GE2,              69, ">=2")               /* operand: number. Pops 1, pushes the comparison */ \
    X(ADD2,             70, "+2")                /* operand: number. Pops 1, pushes the sum */ \
    X(ADD4,             71, "+4")                /* text: constant. Pops 1, pushes the concatenation */ \
    X(SUB2,             72, "-2")                /* operand: number. Pops 1, pushes the difference */ \
    X(SUB4,             73, "-4")                /* text: constant. Pops 1, pushes the result */ \
    X(MUL2,             74, "*2")                /* operand: number. Pops 1, pushes the product */ \
    X(DIV2,             75, "/2")                /* operand: number. Pops 1, pushes the quotient */ \
    X(OFFSET2_2,        76, "OFFSET2_2")         /* text: array name. Two-index element access */ \
    X(ADDR2,            77, "ADDR2")             /* text: variable. Pushes its address */ \
    X(ADDASSIGN2,       78, "+=2")               /* text: variable. Pops 1, adds it to the variable */ \
    X(SUBASSIGN2,       79, "-=2")               /* text: variable. Pops 1, subtracts it */ \
    X(MULASSIGN2,       80, "*=2")               /* text: variable. Pops 1, multiplies by it */ \
    X(ORASSIGN2,        81, "|=2")               /* text: variable. Pops 1, ors it in */ \
    X(XORASSIGN2,       82, "^=2")               /* text: variable. Pops 1, xors it in */ \
    X(ANDASSIGN2,       83, "&=2")               /* text: variable. Pops 1, ands it in */ \
    X(STARTPROCUNDEF,   84, "STARTPROCUNDEF")    /* As STARTPROC, for a procedure declared before its code */ \
    X(ELSE,             85, "ELSE")              /* No handler; a compiler marker */ \
    X(EXCEPT,           86, "EXCEPT")            /* Pops one TRY entry */ \
    X(PUSHSTRINT,       87, "PUSHSTRINT")        /* text: constant; operand: number. Pushes 2 */ \
    X(NE2,              88, "<>2")               /* operand: number. Pops 1, pushes the comparison */ \
    X(LPOS2,            89, "LPOS2")             /* No handler */ \
    X(POP2,             90, "POP2")              /* No handler */ \
    X(VARTYPE2,         91, "VARTYPE2")          /* No handler */ \
    X(LTYPE2,           92, "LTYPE2")            /* No handler */ \
    X(VMAX2,            93, "VMAX2")             /* No handler */ \
    X(ADDR3,            94, "ADDR3")             /* No handler */ \
    X(OBJADDR2,         95, "OBJADDR2")          /* No handler */ \
    X(GETKEYLIST2,      96, "GETKEYLIST2")       /* No handler */ \
    X(ADD5,             97, "+5")                /* text: variable; operand: number. Pushes variable + number */ \
    X(ADD6,             98, "+6")                /* text: variable; operand: number. Pushes number + variable */ \
    X(SUB5,             99, "-5")                /* text: variable; operand: number. Pushes variable - number */ \
    X(SUB6,            100, "-6")                /* text: variable; operand: number. Pushes number - variable */ \
    X(MUL5,            101, "*5")                /* text: variable; operand: number. Pushes variable * number */ \
    X(MUL6,            102, "*6")                /* text: variable; operand: number. Pushes number * variable */ \
    X(DIV5,            103, "/5")                /* text: variable; operand: number. Pushes variable / number */ \
    X(DIV6,            104, "/6")                /* text: variable; operand: number. Pushes number / variable */ \
    X(FIRST_OP,        105, "FIRST_OP")          /* Gives the pending node a jump target at this node's successor */ \
    X(PUSHVARVAR,      106, "PUSHVARVAR")        /* operand: address of the first name; text: second name. Pushes 2 */ \
    X(PARMSPUSHVARVAR, 107, "PARMSPUSHVARVAR")   /* operand: address of the first name; text: second name. Pops 2 into them */ \
    X(NGPUSHVARVAR,    108, "NGPUSHVARVAR")      /* operand: address of the first name; text: second name (no follow). Pushes 2 */ \
    X(SCALLP0,         109, "SCALLP0")           /* operand: function-table index; direct native procedure call with 0 arguments: pops them */ \
    X(SCALLP1,         110, "SCALLP1")           /* operand: function-table index; direct native procedure call with 1 arguments: pops them */ \
    X(SCALLP2,         111, "SCALLP2")           /* operand: function-table index; direct native procedure call with 2 arguments: pops them */ \
    X(SCALLP3,         112, "SCALLP3")           /* operand: function-table index; direct native procedure call with 3 arguments: pops them */ \
    X(SCALLP4,         113, "SCALLP4")           /* operand: function-table index; direct native procedure call with 4 arguments: pops them */ \
    X(SCALLP5,         114, "SCALLP5")           /* operand: function-table index; direct native procedure call with 5 arguments: pops them */ \
    X(SCALLP6,         115, "SCALLP6")           /* operand: function-table index; direct native procedure call with 6 arguments: pops them */ \
    X(SCALLP7,         116, "SCALLP7")           /* operand: function-table index; direct native procedure call with 7 arguments: pops them */ \
    X(SCALLP8,         117, "SCALLP8")           /* operand: function-table index; direct native procedure call with 8 arguments: pops them */ \
    X(SCALLP9,         118, "SCALLP9")           /* operand: function-table index; direct native procedure call with 9 arguments: pops them */ \
    X(SCALLP10,        119, "SCALLP10")          /* operand: function-table index; direct native procedure call with 10 arguments: pops them */ \
    X(SCALLP11,        120, "SCALLP11")          /* operand: function-table index; direct native procedure call with 11 arguments: pops them */ \
    X(SCALLP12,        121, "SCALLP12")          /* operand: function-table index; direct native procedure call with 12 arguments: pops them */ \
    X(SCALLP13,        122, "SCALLP13")          /* operand: function-table index; direct native procedure call with 13 arguments: pops them */ \
    X(SCALLP14,        123, "SCALLP14")          /* operand: function-table index; direct native procedure call with 14 arguments: pops them */ \
    X(SCALLP15,        124, "SCALLP15")          /* operand: function-table index; direct native procedure call with 15 arguments: pops them */ \
    X(SCALLP16,        125, "SCALLP16")          /* operand: function-table index; direct native procedure call with 16 arguments: pops them */ \
    X(SCALLF0,         126, "SCALLF0")           /* operand: function-table index; direct native function call with 0 arguments: pops them, pushes 1 */ \
    X(SCALLF1,         127, "SCALLF1")           /* operand: function-table index; direct native function call with 1 arguments: pops them, pushes 1 */ \
    X(SCALLF2,         128, "SCALLF2")           /* operand: function-table index; direct native function call with 2 arguments: pops them, pushes 1 */ \
    X(SCALLF3,         129, "SCALLF3")           /* operand: function-table index; direct native function call with 3 arguments: pops them, pushes 1 */ \
    X(SCALLF4,         130, "SCALLF4")           /* operand: function-table index; direct native function call with 4 arguments: pops them, pushes 1 */ \
    X(SCALLF5,         131, "SCALLF5")           /* operand: function-table index; direct native function call with 5 arguments: pops them, pushes 1 */ \
    X(SCALLF6,         132, "SCALLF6")           /* operand: function-table index; direct native function call with 6 arguments: pops them, pushes 1 */ \
    X(SCALLF7,         133, "SCALLF7")           /* operand: function-table index; direct native function call with 7 arguments: pops them, pushes 1 */ \
    X(SCALLF8,         134, "SCALLF8")           /* operand: function-table index; direct native function call with 8 arguments: pops them, pushes 1 */ \
    X(SCALLF9,         135, "SCALLF9")           /* operand: function-table index; direct native function call with 9 arguments: pops them, pushes 1 */ \
    X(SCALLF10,        136, "SCALLF10")          /* operand: function-table index; direct native function call with 10 arguments: pops them, pushes 1 */ \
    X(SCALLF11,        137, "SCALLF11")          /* operand: function-table index; direct native function call with 11 arguments: pops them, pushes 1 */ \
    X(SCALLF12,        138, "SCALLF12")          /* operand: function-table index; direct native function call with 12 arguments: pops them, pushes 1 */ \
    X(SCALLF13,        139, "SCALLF13")          /* operand: function-table index; direct native function call with 13 arguments: pops them, pushes 1 */ \
    X(SCALLF14,        140, "SCALLF14")          /* operand: function-table index; direct native function call with 14 arguments: pops them, pushes 1 */ \
    X(SCALLF15,        141, "SCALLF15")          /* operand: function-table index; direct native function call with 15 arguments: pops them, pushes 1 */ \
    X(SCALLF16,        142, "SCALLF16")          /* operand: function-table index; direct native function call with 16 arguments: pops them, pushes 1 */ \
    X(CALLP0,          143, "CALLP0")            /* operand: function-table index; native procedure call with 0 arguments: pops them */ \
    X(CALLP1,          144, "CALLP1")            /* operand: function-table index; native procedure call with 1 arguments: pops them */ \
    X(CALLP2,          145, "CALLP2")            /* operand: function-table index; native procedure call with 2 arguments: pops them */ \
    X(CALLP3,          146, "CALLP3")            /* operand: function-table index; native procedure call with 3 arguments: pops them */ \
    X(CALLP4,          147, "CALLP4")            /* operand: function-table index; native procedure call with 4 arguments: pops them */ \
    X(CALLP5,          148, "CALLP5")            /* operand: function-table index; native procedure call with 5 arguments: pops them */ \
    X(CALLP6,          149, "CALLP6")            /* operand: function-table index; native procedure call with 6 arguments: pops them */ \
    X(CALLP7,          150, "CALLP7")            /* operand: function-table index; native procedure call with 7 arguments: pops them */ \
    X(CALLP8,          151, "CALLP8")            /* operand: function-table index; native procedure call with 8 arguments: pops them */ \
    X(CALLP9,          152, "CALLP9")            /* operand: function-table index; native procedure call with 9 arguments: pops them */ \
    X(CALLP10,         153, "CALLP10")           /* operand: function-table index; native procedure call with 10 arguments: pops them */ \
    X(CALLP11,         154, "CALLP11")           /* operand: function-table index; native procedure call with 11 arguments: pops them */ \
    X(CALLP12,         155, "CALLP12")           /* operand: function-table index; native procedure call with 12 arguments: pops them */ \
    X(CALLP13,         156, "CALLP13")           /* operand: function-table index; native procedure call with 13 arguments: pops them */ \
    X(CALLP14,         157, "CALLP14")           /* operand: function-table index; native procedure call with 14 arguments: pops them */ \
    X(CALLP15,         158, "CALLP15")           /* operand: function-table index; native procedure call with 15 arguments: pops them */ \
    X(CALLP16,         159, "CALLP16")           /* operand: function-table index; native procedure call with 16 arguments: pops them */ \
    X(CALLF0,          160, "CALLF0")            /* operand: function-table index; native function call with 0 arguments: pops them, pushes 1 */ \
    X(CALLF1,          161, "CALLF1")            /* operand: function-table index; native function call with 1 arguments: pops them, pushes 1 */ \
    X(CALLF2,          162, "CALLF2")            /* operand: function-table index; native function call with 2 arguments: pops them, pushes 1 */ \
    X(CALLF3,          163, "CALLF3")            /* operand: function-table index; native function call with 3 arguments: pops them, pushes 1 */ \
    X(CALLF4,          164, "CALLF4")            /* operand: function-table index; native function call with 4 arguments: pops them, pushes 1 */ \
    X(CALLF5,          165, "CALLF5")            /* operand: function-table index; native function call with 5 arguments: pops them, pushes 1 */ \
    X(CALLF6,          166, "CALLF6")            /* operand: function-table index; native function call with 6 arguments: pops them, pushes 1 */ \
    X(CALLF7,          167, "CALLF7")            /* operand: function-table index; native function call with 7 arguments: pops them, pushes 1 */ \
    X(CALLF8,          168, "CALLF8")            /* operand: function-table index; native function call with 8 arguments: pops them, pushes 1 */ \
    X(CALLF9,          169, "CALLF9")            /* operand: function-table index; native function call with 9 arguments: pops them, pushes 1 */ \
    X(CALLF10,         170, "CALLF10")           /* operand: function-table index; native function call with 10 arguments: pops them, pushes 1 */ \
    X(CALLF11,         171, "CALLF11")           /* operand: function-table index; native function call with 11 arguments: pops them, pushes 1 */ \
    X(CALLF12,         172, "CALLF12")           /* operand: function-table index; native function call with 12 arguments: pops them, pushes 1 */ \
    X(CALLF13,         173, "CALLF13")           /* operand: function-table index; native function call with 13 arguments: pops them, pushes 1 */ \
    X(CALLF14,         174, "CALLF14")           /* operand: function-table index; native function call with 14 arguments: pops them, pushes 1 */ \
    X(CALLF15,         175, "CALLF15")           /* operand: function-table index; native function call with 15 arguments: pops them, pushes 1 */ \
    X(CALLF16,         176, "CALLF16")           /* operand: function-table index; native function call with 16 arguments: pops them, pushes 1 */ \
    X(DECLARE,         177, "DECLARE")           /* No handler; text: declared name; six data nodes follow */ \
    X(DECLAREAPI,      178, "DECLAREAPI")        /* No handler; as DECLARE, texts passed as UTF-16 */ \
    X(C_DECLARE,       179, "C_DECLARE")         /* No handler; as DECLARE, not called directly */ \
    X(C_DECLAREAPI,    180, "C_DECLAREAPI")      /* No handler; as DECLAREAPI, not called directly */ \
    X(SAVESP,          181, "SAVESP")            /* Opens an argument frame at the top, then runs the second handler */ \
    X(STACKDROP,       182, "STACKDROP")         /* Runs the second handler, then pops 1 and frees its owned links */ \
    X(FORWARDPROC,     184, "FORWARDPROC")       /* text: procedure header declared before its code; patches the pending jump */ \
    X(INITWHILE,       185, "INITWHILE")         /* Opens a loop depth */ \
    X(ENDLOOP,         186, "ENDLOOP")           /* Frees the depth's tracked allocations and closes it */

// Notes
// - A node whose second handler is set runs a fused step first (SAVESP, SAVESP2,
//   a conditional jump, BRANCH or STACKDROP); the step then runs the second handler.
// - For the two-operand pushes the operand holds the address of a second text; it
//   is freed with the node (DeleteInstruction).
// - Loops keep their first-run mark and walk position per activation (context
//   and call depth), not in the node, so recursion and early returns cannot mix
//   two walks of one loop.
// - Opcode 183 (no name) marks a class declaration in compiled files; 0 marks the
//   first node of a list and data nodes; neither has a handler.

enum class Opcode : uint32_t {
    None = 0,
#define QOB_OPCODE_ENUM(ident, number, name) ident = number,
    QOB_OPCODES(QOB_OPCODE_ENUM)
#undef QOB_OPCODE_ENUM
};

// Slots of the opcode-indexed tables (name and handler tables).
constexpr int kOpcodeTableSize = 200;
constexpr uint32_t kFirstNativeCallOpcode = 109;
constexpr uint32_t kLastNativeCallOpcode = 176;

// The listing name of an opcode, or null for an unused number.
[[nodiscard]] const char* OpcodeName(uint32_t opcode);

[[nodiscard]] constexpr bool IsNativeCallOpcode(uint32_t opcode) {
    return opcode >= kFirstNativeCallOpcode && opcode <= kLastNativeCallOpcode;
}

}  // namespace qob
