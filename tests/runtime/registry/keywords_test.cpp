// tests/runtime/registry/keywords_test.cpp
// The keyword hashes the compiler stages recognise tokens by.
#include "runtime/registry/keywords.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "runtime/data/hash.h"

namespace qob {
namespace {

TEST(KeywordsTest, EveryStoredHashIsTheRuntimeHashOfItsText) {
    ASSERT_EQ(kKeywordCount, 138u);
    for (size_t i = 0; i < kKeywordCount; ++i) {
        std::string_view text = kKeywordTexts[i];
        EXPECT_EQ(KeywordHashes[static_cast<Keyword>(i)], HashName(text.data(), text.size())) << text;
    }
}

TEST(KeywordsTest, CompileTimeHashReadsBytesAsSigned) {
    const std::string texts[] = {"", "A", "\xE9", "CAF\xE9", "\xFF\x80\x7F", "#C_DECLAREAPI"};
    for (const std::string& text : texts)
        EXPECT_EQ(HashNameConstant(text), HashName(text.data(), text.size())) << text;
}

TEST(KeywordsTest, TextsAreDistinctAndUpperCase) {
    // The tokenizer upper-cases words before hashing: a keyword text with a
    // lower-case letter could never match a token.
    std::set<std::string_view> seen;
    for (std::string_view text : kKeywordTexts) {
        EXPECT_TRUE(seen.insert(text).second) << text;
        for (char c : text) EXPECT_FALSE(c >= 'a' && c <= 'z') << text;
    }
}

TEST(KeywordsTest, LookAlikeKeywordsHaveDifferentHashes) {
    const std::pair<Keyword, Keyword> pairs[] = {
        {Keyword::DirectiveElse, Keyword::Else}, {Keyword::Assign, Keyword::Assign2},
        {Keyword::Increment, Keyword::Increment2}, {Keyword::Decrement, Keyword::Decrement2},
        {Keyword::DirectiveElseIf, Keyword::ElseIfMarker}, {Keyword::SaveSp, Keyword::SaveSp2},
    };
    for (auto [a, b] : pairs) EXPECT_NE(KeywordHashes[a], KeywordHashes[b]) << KeywordText(a);
}

TEST(KeywordsTest, LowerCaseSourceWordIsRecognisedOnlyAfterUpperCasing) {
    EXPECT_EQ(KeywordHashes[Keyword::If], HashName("IF", 2));
    EXPECT_NE(KeywordHashes[Keyword::If], HashName("if", 2));
}

TEST(KeywordsTest, HashesServeAsCaseLabels) {
    auto classify = [](uint32_t hash) {
        switch (hash) {
        case KeywordHashes[Keyword::While]: return 1;
        case KeywordHashes[Keyword::DirectiveInclude]: return 2;
        case KeywordHashes[Keyword::ScopeSeparator]: return 3;
        default: return 0;
        }
    };
    EXPECT_EQ(classify(HashName("WHILE", 5)), 1);
    EXPECT_EQ(classify(HashName("#INCLUDE", 8)), 2);
    EXPECT_EQ(classify(HashName("::", 2)), 3);
    EXPECT_EQ(classify(HashName("WEND", 4)), 0);
}

}  // namespace
}  // namespace qob
