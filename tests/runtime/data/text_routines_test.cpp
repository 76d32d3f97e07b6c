// tests/runtime/data/text_routines_test.cpp
// In-place text editing, trimming, padding, thousands separators, heap copies
// and the pointer test.
#include "runtime/data/text_routines.h"

#include "platform/memory.h"
#include "platform/message_box.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace qob {
namespace {

// A text in a block of the process heap, as the editors expect.
char* Block(const char* text) {
    auto* block = static_cast<char*>(platform::AllocateZeroedBlock(std::strlen(text) + 1));
    std::strcpy(block, text);
    return block;
}

using Wide = std::vector<uint16_t>;

uint16_t* WideBlock(const std::u16string& text) {
    auto* block = static_cast<uint16_t*>(platform::AllocateZeroedBlock((text.size() + 1) * 2));
    for (size_t i = 0; i < text.size(); ++i) block[i] = text[i];
    return block;
}

std::u16string WideOf(const uint16_t* text) {
    std::u16string result;
    for (; *text != 0; ++text) result += static_cast<char16_t>(*text);
    return result;
}

// Takes a returned text, checks its block holds exactly it, and frees it.
std::string Take(char* text) {
    EXPECT_NE(text, nullptr);
    if (text == nullptr) return "(null)";
    std::string result = text;
    EXPECT_EQ(platform::GetBlockSize(text), result.size() + 1) << result;
    EXPECT_TRUE(platform::FreeBlock(text));
    return result;
}

TEST(StrDeleteRange, ClampsPositionAndCount) {
    struct Case { int32_t position, count; const char* result; };
    const Case kCases[] = {
        {1, 2, "adef"}, {0, 6, ""}, {4, 100, "abcd"}, {-3, 2, "cdef"}, {10, 2, "abcdef"},
        {2, 0, "abcdef"}, {2, -5, "abcdef"}, {5, 1, "abcde"},
    };
    for (const auto& c : kCases) {
        char* text = Block("abcdef");
        char* before = text;
        StrDeleteRange(&text, c.position, c.count);
        EXPECT_NE(text, before);
        EXPECT_EQ(platform::GetBlockSize(before), 0u);  // the old block was freed
        EXPECT_EQ(Take(text), c.result) << c.position << "," << c.count;
    }
}

TEST(WStrDeleteRange, KeepsEveryUnitBeforeTheRange) {
    uint16_t* text = WideBlock(u"h\u00E9llo w\u20ACrld");
    WStrDeleteRange(&text, 5, 3);
    EXPECT_EQ(WideOf(text), u"h\u00E9llorld");
    EXPECT_EQ(platform::GetBlockSize(text), (8u + 1) * 2);
    EXPECT_TRUE(platform::FreeBlock(text));
}

TEST(StrInsertAt, InsertsAtClampedPosition) {
    struct Case { const char* insert; int32_t position; const char* result; };
    const Case kCases[] = {
        {"XY", 0, "XYabc"}, {"XY", 1, "aXYbc"}, {"XY", 3, "abcXY"}, {"XY", 99, "abcXY"},
        {"XY", -1, "XYabc"}, {"", 1, "abc"}, {nullptr, 1, "abc"},
    };
    for (const auto& c : kCases) {
        char* text = Block("abc");
        StrInsertAt(c.insert, &text, c.position);
        EXPECT_EQ(Take(text), c.result) << c.position;
    }
    char* empty = nullptr;
    StrInsertAt("new", &empty, 5);
    EXPECT_EQ(Take(empty), "new");
}

TEST(WStrInsertAt, InsertsUnits) {
    uint16_t* text = WideBlock(u"ac");
    const Wide insert = {0x20AC, 'b', 0};
    WStrInsertAt(insert.data(), &text, 1);
    EXPECT_EQ(WideOf(text), u"a\u20ACbc");
    EXPECT_TRUE(platform::FreeBlock(text));
}

TEST(StrReplace, ReplacesEveryOccurrenceOnce) {
    struct Case { const char* text; const char* find; const char* replacement; const char* result; };
    const Case kCases[] = {
        {"aaa", "a", "aa", "aaaaaa"},        // inserted text is not searched again
        {"a.b.c", ".", "::", "a::b::c"},
        {"aaaa", "aa", "b", "bb"},
        {"abcabc", "abc", "", ""},
        {"xabcx", "abc", "ABC", "xABCx"},
        {"ab", "abc", "Z", "ab"},
        {"abab", "ba", "-", "a-b"},
    };
    for (const auto& c : kCases) {
        char* text = Block(c.text);
        StrReplace(&text, c.find, c.replacement);
        EXPECT_EQ(Take(text), c.result) << c.text << " " << c.find;
    }
}

TEST(StrReplace, NoChangeKeepsTheBlock) {
    for (const char* find : {"", "zz", static_cast<const char*>(nullptr)}) {
        char* text = Block("abc");
        char* before = text;
        StrReplace(&text, find, "x");
        EXPECT_EQ(text, before);
        EXPECT_EQ(Take(text), "abc");
    }
}

TEST(WStrReplace, ComparesUnits) {
    uint16_t* text = WideBlock(u"\u20AC1 \u20AC2 \u20AD3");
    const Wide find = {0x20AC, 0};
    const Wide replacement = {'E', 'U', 'R', 0};
    WStrReplace(&text, find.data(), replacement.data());
    EXPECT_EQ(WideOf(text), u"EUR1 EUR2 \u20AD3");
    EXPECT_TRUE(platform::FreeBlock(text));
}

TEST(HeapStrDup, CopiesIntoTheGivenHeap) {
    platform::HeapHandle heap = platform::HeapCreate();
    ASSERT_NE(heap, nullptr);
    char* copy = HeapStrDup(heap, "name");
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "name");
    EXPECT_EQ(platform::GetBlockHeap(copy), heap);
    EXPECT_EQ(platform::GetBlockSize(copy), 5u);
    platform::HeapDestroy(heap);
}

TEST(InsertThousandsSeparators, GroupsTheIntegerPart) {
    struct Case { const char* text; const char* result; };
    const Case kCases[] = {
        {"1234567.891", "1,234,567.891"}, {"-123456", "-123,456"}, {"-123", "-123"},
        {"123", "123"}, {"1234", "1,234"}, {"", ""}, {"-", "-"}, {".5", ".5"},
        {"1234.5678", "1,234.5678"}, {"-1000000", "-1,000,000"}, {"12345.", "12,345."},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(Take(InsertThousandsSeparators(c.text)), c.result) << c.text;
}

TEST(Trim, RemovesBlanksOnly) {
    struct Case { const char* text; const char* right; const char* left; };
    const Case kCases[] = {
        {"  ab c  ", "  ab c", "ab c  "}, {"", "", ""}, {" ", "", ""}, {"          ", "", ""},
        {"\tx\t", "\tx\t", "\tx\t"}, {"abc", "abc", "abc"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(Take(TrimRight(c.text)), c.right) << '"' << c.text << '"';
        EXPECT_EQ(Take(TrimLeft(c.text)), c.left) << '"' << c.text << '"';
    }
    EXPECT_EQ(Take(TrimLeft(nullptr)), "");
}

TEST(Pad, AddsFillCharacters) {
    struct Case { int32_t count; const char* left; const char* right; };
    const Case kCases[] = {{3, "***ab", "ab***"}, {1, "*ab", "ab*"}, {0, "ab", "ab"}, {-4, "ab", "ab"}};
    for (const auto& c : kCases) {
        EXPECT_EQ(Take(PadLeft("ab", '*', c.count)), c.left) << c.count;
        EXPECT_EQ(Take(PadRight("ab", '*', c.count)), c.right) << c.count;
    }
}

TEST(ShowMessageBox, ShowsTheTextsAndReturnsTheAnswer) {
    char* output = nullptr;
    char* errorOutput = nullptr;
    size_t outputSize = 0, errorSize = 0;
    std::FILE* out = open_memstream(&output, &outputSize);
    std::FILE* err = open_memstream(&errorOutput, &errorSize);
    platform::SetMessageBoxOutput(out, err);
    unsetenv("QOB_MSGBOX_ANSWER");
    EXPECT_EQ(ShowMessageBox("Caf\xC3\xA9 \xFF", "Message", platform::MB_OK), platform::IDOK);
    setenv("QOB_MSGBOX_ANSWER", "NO", 1);
    EXPECT_EQ(ShowMessageBox("Failed", "QOB Runtime Error", platform::MB_YESNO | platform::MB_ICONSTOP),
              platform::IDNO);
    unsetenv("QOB_MSGBOX_ANSWER");
    platform::SetMessageBoxOutput(nullptr, nullptr);
    std::fclose(out);
    std::fclose(err);
    // The 8-bit text comes out exactly as it went in, invalid byte included.
    EXPECT_EQ(std::string(output, outputSize), "Caf\xC3\xA9 \xFF\n");
    EXPECT_EQ(std::string(errorOutput, errorSize), "QOB Runtime Error: Failed\n");
    std::free(output);
    std::free(errorOutput);
}

TEST(IsValidPointer, TellsWritableMemory) {
    char* block = Block("x");
    int onStack = 0;
    static const char kReadOnly[] = "constant";
    EXPECT_EQ(IsValidPointer(block), 0);
    EXPECT_EQ(IsValidPointer(&onStack), 0);
    EXPECT_NE(IsValidPointer(kReadOnly), 0);
    EXPECT_NE(IsValidPointer(nullptr), 0);
    EXPECT_TRUE(platform::FreeBlock(block));
}

}  // namespace
}  // namespace qob
