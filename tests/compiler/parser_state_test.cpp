// tests/compiler/parser_state_test.cpp
// The token classifier: the code each shape of token text gets.
#include "compiler/parser_state.h"

#include <gtest/gtest.h>

#include "compiler/token_list.h"

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
