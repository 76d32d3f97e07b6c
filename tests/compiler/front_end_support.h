// tests/compiler/front_end_support.h
// A fixture that runs the front end on a source text from a clean state and
// describes the resulting tokens as compact text.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "compiler/front_end/preprocessor.h"

namespace qob::testing {

// "TEXT@line:column" per token, separated by blanks; control characters in
// texts are shown as \r, \n, \t and \xNN. Also checks each node's links and
// that its hash is the hash of its text.
[[nodiscard]] std::string DescribeTokens(const TokenNode* last);

// The same text in which every "\n" is replaced by another line end.
[[nodiscard]] std::string WithLineEnds(std::string_view source, std::string_view lineEnd);

class FrontEndTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Tokenizes source as the file fileName (null: a text without a file) and
    // describes the tokens; the list is kept until the next Run. The
    // once-only table is emptied first; the rest of the state carries over.
    std::string Run(std::string_view source, const char* fileName = "test.qob");
    // The short forms of the errors reported so far.
    [[nodiscard]] static std::string Errors();

    TokenNode* tokens = nullptr;
};

}  // namespace qob::testing
