// tests/compiler/front_end/parser_state_test.cpp
// The token classifier: the code each shape of token text gets.
#include "compiler/front_end/parser_state.h"

#include <gtest/gtest.h>

#include "compiler/front_end/token_list.h"

namespace qob {
namespace {

TEST(ClassifyTokenTest, EachShapeOfTextGetsItsCode) {
    struct Case {
        const char* text;
        char code;
    };
    constexpr Case kCases[] = {
        {"&", 'a'},    {"=", '$'},     {"&=", '$'},   {"+=", '$'},   {"-=", '$'},   {"*=", '$'},   {"/=", '$'},
        {"|=", '$'},   {"^=", '$'},    {"==", '='},   {"<>", kCodeNotEqual}, {"<=", '!'}, {">=", '.'},
        {"%", '%'},    {"%1", 'V'},    {"12", 'V'},   {"\"x\"", 'V'}, {"&A$", 'v'}, {"&B%", 'v'},  {"&F", 'l'},
        {"::", 'n'},   {":X", 'C'},    {":", 'C'},    {",", ','},    {"~", '~'},    {"~A", '~'},   {"A$", 'O'},
        {"B%", 'O'},   {"++", 'p'},    {"--", 'm'},   {"+", '+'},    {"-", '-'},    {"+-", '+'},   {"*", '*'},
        {"/", '/'},    {"(", '('},     {")", ')'},    {"@", '@'},    {"[", '['},    {"]", ']'},    {"|", 'r'},
        {"||", 'r'},   {"^", 'x'},     {".X", 'F'},   {"AND", 'A'},  {"MOD", 'M'},  {";", ';'},    {"QWERTY", ' '},
        // A "$" or "%" ending outranks the operator shape, but not an
        // assignment operator, a number, a text, ":" or "~".
        {".X$", 'O'},  {"+X$", 'O'},   {"-$", 'O'},   {"*B%", 'O'},  {"(A$", 'O'},  {"|$", 'O'},   {"^$", 'O'},
        {",A$", 'O'},  {"=A$", 'O'},   {"&$", 'v'},   {"1$", 'V'},   {"\"A$\"", 'V'}, {"%=", 'V'}, {":A$", 'C'},
        {"~A$", '~'},  {"::X", 'C'},   {"--X", '-'},  {"+++", '+'},  {"&&", 'l'},   {",,", ' '},   {"=X", ' '},
    };
    ResetParserState();
    for (const Case& c : kCases) {
        TokenNode* token = nullptr;
        EmitToken(token, c.text, "shape.qob", 1, 1);
        int builtin = 0;
        EXPECT_EQ(ClassifyToken(token, builtin), c.code) << c.text;
        FreeTokenList(token);
    }
}

}  // namespace
}  // namespace qob
