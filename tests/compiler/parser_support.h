// tests/compiler/parser_support.h
// A fixture that runs the front end and the parser on a source text and
// describes the postfix stream and the messages as text.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "compiler/front_end/token_list.h"

namespace qob::testing {

// The postfix stream as token texts joined by blanks. Kind bytes show as
// <XX>; a procedure header as <XX> then its private flag ("_" or "-"), its
// output count, its link flag ("L" or "-") and its key; an empty text as
// <empty>. Also checks the list's links.
[[nodiscard]] std::string DescribeStream(const TokenNode* last);

// The short form of one error or warning as the message sink writes it for
// the file test.qob.
[[nodiscard]] std::string ErrorAt(std::string_view text, std::string_view token, int line, int column);
[[nodiscard]] std::string WarningAt(std::string_view text, std::string_view token, int line, int column);

class ParserTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Tokenizes and parses source as the file test.qob and describes the
    // stream. The procedure table and class list carry over between calls
    // of one test, as they do between the parser and the later stages.
    std::string Parse(std::string_view source, int mode = 0);
    // The short forms of the errors reported so far, and of the warnings.
    [[nodiscard]] static std::string Errors();
    [[nodiscard]] std::string Warnings() const { return warnings_; }

    TokenNode* stream = nullptr;

private:
    std::string warnings_;
};

}  // namespace qob::testing
