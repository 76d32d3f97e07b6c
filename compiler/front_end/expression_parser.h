// compiler/front_end/expression_parser.h
// Expressions to the postfix stream: the precedence chain, operands,
// variables and their assignment forms, calls, argument and index lists.
#pragma once

#include <string>
#include <string_view>

namespace qob {

struct TokenNode;
struct FunctionRecord;

// expression: compare {(AND | OR | XOR) expression}
// Parses one full expression. Unless valueFlag is 1 the expression's value
// is wanted for the time of the call (the expression forms of assignments,
// increments and calls).
void ParseExpression(int valueFlag);

// arg-list: '(' [expr {',' expr}] ')'
// The current token is the "(". Returns the number of arguments.
int ParseArgumentList();

// matrix: '[' [expr {',' expr}] ']'
// A matrix literal: __SAVESP, the elements, __MAKEMATRIX.
void ParseIndexList();

// index: '[' expr {',' expr} ']' {'[' ...}
// The indices after a variable: __OFFSET1 for one, __SAVESP ... __OFFSET for
// several, then __VARADDR when the variable was written with "&".
void ParseOffsetIndex(bool addressFlag);

// The operand forms of the primary parser (numbers and texts, parentheses,
// signs, "@", variables, addresses, matrices, calls, "++"/"--" in front,
// AND/OR/XOR, "::"). False when the current code is none of them.
bool ParseOperand();

// A call of a built-in, a procedure of the program or an object method;
// the current token is its name. objectSide, when given, is a token list
// (the element an index chose) emitted just before the call token; the call
// is then a method call on that value.
void ParseCall(TokenNode* objectSide = nullptr);

// A built-in call; the current token is its name. requireList: the call
// must have a parenthesised argument list ("Expression expected").
void ParseBuiltinCall(const FunctionRecord& record, bool requireList);

// Emits a side token list into the stream and frees it.
void EmitSideList(TokenNode* side);

// Removes a token of the output list, keeping the output cursor valid.
void RemoveOutputToken(TokenNode* token);

// The results a call leaves where several targets take them (1 inside an
// argument list).
[[nodiscard]] int ResultSlots();

}  // namespace qob
