// compiler/front_end/statement_parser.h
// ParseSource: a unit's token list to the postfix stream. The statement loop,
// statement keywords, procedure definitions, declarations, namespaces and
// classes, and the marker emitters.
#pragma once

#include <string>

namespace qob {

struct TokenNode;

// The postfix stream
// ------------------
// A TokenNode list in which every operand comes before the operator or call
// that uses it, and each control keyword after its arguments. Texts are the
// source's (upper-cased words); markers and counts are tokens of their own.
//
// Kind bytes (the first byte of a token's text):
//   0xE9 0xEC 0xEA 0xC4  procedure header (see below); 0xE8 0xE7 0xEB 0xEF the
//                        same kinds as FORWARD headers (kinds as SetProcHeaderKind)
//   0xE0 key      call of a procedure of the program
//   0xE2 key      call of the current class's code through SELF
//   0xE4 key      call of the base class's code (#INHERITED, base initialiser)
//   0xE5 text     object method call: "<obj>$.<method>(<in>,<v>);<targets>",
//                 "STACK.<method>(...);<targets>" on the value on the stack
//   0xFB name     a variable an "=" assigns (NG push)
//   0xF9 name     a variable a compound assignment, "++", "--" or an index
//                 works on
// Header text: kind byte, "_" (private) or blank, 32 + outputs, 0xA2
// (FORCELINK) or blank, then the key "%s(%d,%d)" (name, inputs, outputs);
// MAIN and WINMAIN keep their bare names; class code is named
// "__CLASSCODE_<class>.<method>", a class's member code
// "__CLASSCODE_<class>.__INIT(0,0)".
//
// Shapes (left to right):
//   expression       operands, then the operator: a + b * c -> A B C * +
//                    "-x" -> 0 X -;  "NOT x" -> X NOT;  "a AND b OR c" -> A B C OR AND
//                    (AND, OR and XOR take the whole rest of the expression)
//   assignment       0xFB A$ <value> =;  compound: 0xF9 A$ <value> +=
//   in an expression 0xFB A$ <value> __SET_PUSH =   (leaves the new value)
//   several targets  0xFB A$ 0xFB B$ __SAVESP <values> 2 M=
//   ++ / --          statement 0xF9 A$ ++; value 0xF9 A$ __SET_PUSH ++;
//                    prefix [__SET_PUSH] 0xF9 A$ ++2
//   index            0xF9 A$ <i> __OFFSET1;  several: 0xF9 A$ __SAVESP <i> <j> __OFFSET
//                    (+ __VARADDR for "&a$[i]"; a member: "\"X$\"" __OFFSETVAR)
//   address          A$ __VARADDR;  procedure: "&" + key
//   matrix literal   __SAVESP <elements> __MAKEMATRIX (nested per "[")
//   built-in call    [__SAVESP] <arguments> NAME   (__SAVESP for argument-frame
//                    built-ins); a statement call's unused result gets DROPSTACK
//   procedure call   [__SAVESP] [__SAVESP] <arguments> 0xE0 key, then for a
//                    function "<n> __DROPFCTSTACK" (value: n kept) or
//                    "<outputs> __DROPALLFCTSTACK" (statement); one __SAVESP
//                    for a function, one for an N form
//   method call      __SAVESP2 <arguments> 0xE5 text
//   namespace        "::" NAME directly before the variable or call token it
//                    qualifies; "#NAMESPACE" NAME ... "#ENDNAMESPACE"
//   procedure        header, [parameters, last first], __ENDDECL (N form:
//                    __ENDDECL2), body, END; FORWARD: the header alone
//   IF               <cond> IF ... [ELSE | <cond> __ELSEIF] ... END
//   WHILE            __STARTWHILE [__DEBUG] <cond> WHILE ... END
//   FOR / FOREACH    __STARTFOR [__DEBUG] __SAVESP <args> FOR ... END
//                    (__STARTFOREACH ... FOREACH / FOREACHREV)
//   REPEAT           __STARTREPEAT [__DEBUG] REPEAT ... <cond> UNTIL
//   CASE             <selector> CASE, each label __STARTCASE <values> ":<n>"
//                    (DEFAULT is a value), END
//   TRY              TRY ... EXCEPT ... [FINALLY] END
//   other keywords   RETURN: __SAVESP <values> RETURN; BREAK, CONTINUE as is
//   declarations     __NOEXPLICITCHECK [__SAVESP] <variables> LOCAL (GLOBAL, PUBLIC,
//                    PRIVATE; FORCEGLOBAL is written GLOBAL); STRUCT without the marker
//   #CLASS           #CLASS <base or empty text> <name>, the __INIT header,
//                    __ENDDECL, [0xE4 base __INIT], member code, END at the first
//                    procedure or #ENDCLASS
//   class typing     "\"CLS\"" <variable> __CLASS2 (statement) or __CLASS3 (value)
//   #OBJECT          "\"CLS\"" V$ __CLASS __SAVESP2 <arguments> V$ __CLASSCREATE
//   other markers    __NOOP (stream head before a call), FIRST_OP (first
//                    statement after the declarations), __NOEXPLICITCHECK,
//                    #RANGECHECK, #EXPLICIT, __DEBUG (debug mode), "\"file\""
//                    <line> __PROFILE (profiling)
//
// Counts: "<n>" before M=, __DROPFCTSTACK and __DROPALLFCTSTACK is a number
// token; ":<n>" ends a case label of n values.
//
// Source forms of the class directives:
//   #CLASS Name [Base]               Base: a class declared before, not followed
//                                    by "(" (that would be a typing statement)
//   #OBJECT Class var$ [(arguments)] creates the object, calling CREATE
//   Class(var$ {, var$})             types variables (";" or the end follows)
//   Class(var$).method(...)          calls a method of the typed value

// Parses the token list that ends at lastInputToken (the list is consumed
// and freed) and returns the last token of the postfix stream. fileName (may
// be null) names the unit for messages and emitted tokens. A non-zero mode
// compiles a child's text: expression items separated by ";" or ",", whose
// values stay on the stack. The unit's procedure table and class list are
// not reset: the driver frees them after code generation.
TokenNode* ParseSource(const char* fileName, int mode, TokenNode* lastInputToken);

// The statement loop over the current input; returns the last output token.
TokenNode* ParseStatementList();

// The primary parser: one statement, or one operand inside an expression.
void ParseStatement();

// The modifiers before PROC / FUNC (FORWARD, FORCELINK, OVERRIDE, PUBLIC,
// PRIVATE).
struct ProcModifiers {
    bool forward = false;
    bool forceLink = false;
    bool override = false;
    bool isPrivate = false;
};
void ParseProcModifiers(ProcModifiers& modifiers);

// Markers at a statement's first token: the debugger's line hook (not for
// #CODE), and the profiler's file, line and __PROFILE.
void EmitDebugToken(const TokenNode* statement);
void EmitProfileToken(const TokenNode* statement);

}  // namespace qob
