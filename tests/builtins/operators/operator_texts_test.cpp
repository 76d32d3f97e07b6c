// tests/builtins/operators/operator_texts_test.cpp
// The blocks the text operations make: exactly the text and its terminator,
// also when the block reuses memory that held something else.

#include "builtins/operators/operator_texts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/memory.h"

namespace qob {
namespace {

TextSpan Span(const char* text) { return {text, std::strlen(text)}; }
TextSpan Span(const uint16_t* text, size_t length) { return {text, length}; }

// Frees a block of the size the next result takes after filling it with
// non-zero bytes, so that the result is likely to reuse dirty memory.
void Dirty(size_t size) {
    void* block = platform::AllocateBlock(size);
    ASSERT_NE(block, nullptr);
    std::memset(block, 0x5A, size);
    platform::FreeBlock(block);
}

TEST(OperatorTextsTest, ResultsAreExactTerminatedBlocks) {
    struct Case {
        const char* name;
        void* (*make)();
        const char* expected;
    };
    const Case cases[] = {
        {"join", [] { return JoinTexts(Span("hello "), Span("world"), false); }, "hello world"},
        {"join empty", [] { return JoinTexts(Span(""), Span(""), false); }, ""},
        {"repeat", [] { return RepeatText(Span("ab"), 3, false); }, "ababab"},
        {"cut", [] { return CutTextTail(Span("hello"), 2, false); }, "hel"},
        {"piece", [] { return TextPiece(Span("abcdef"), 4, 1, false); }, "ef"},
    };
    for (const Case& c : cases) {
        const size_t size = std::strlen(c.expected) + 1;
        Dirty(size);
        auto* result = static_cast<char*>(c.make());
        ASSERT_NE(result, nullptr) << c.name;
        EXPECT_EQ(platform::GetBlockSize(result), size) << c.name;
        EXPECT_EQ(std::string(result), c.expected) << c.name;
        EXPECT_EQ(result[size - 1], '\0') << c.name;
        platform::FreeBlock(result);
    }
}

TEST(OperatorTextsTest, WideResultsEndInAWideTerminator) {
    const uint16_t left[] = {'a', 0x20AC};
    const uint16_t right[] = {'b'};
    Dirty(4 * sizeof(uint16_t));
    auto* joined = static_cast<uint16_t*>(JoinTexts(Span(left, 2), Span(right, 1), true));
    ASSERT_NE(joined, nullptr);
    EXPECT_EQ(platform::GetBlockSize(joined), 4 * sizeof(uint16_t));
    EXPECT_EQ(joined[0], 'a');
    EXPECT_EQ(joined[1], 0x20AC);
    EXPECT_EQ(joined[2], 'b');
    EXPECT_EQ(joined[3], 0);
    platform::FreeBlock(joined);
}

}  // namespace
}  // namespace qob
