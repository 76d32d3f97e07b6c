// Tests of typed storage: numbers by every type code, texts in pointer and
// byte fields with the blocks they own, and reads of byte fields.
#include "runtime/values/typed_fields.h"

#include "platform/memory.h"
#include "runtime/memory/memory_links.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/values_fixture.h"
#include "runtime/values/variable_store.h"

#include <cstring>
#include <string>

namespace qob {
namespace {

using TypedFieldsTest = testing::ValuesTest;

// A structure-like variable with 16 bytes of typed storage.
struct Storage {
    alignas(8) unsigned char bytes[16];
};

TEST_F(TypedFieldsTest, NumbersRoundTripByTypeCode) {
    struct Case { int32_t type; double written; double read; };
    constexpr Case kCases[] = {
        {-9, -5e12, -5e12},       {-8, 2.5, 2.5},     {-5, -1, 4294967295.0}, {-4, -7.9, -7},
        {-3, 123456, 123456},     {-2, 70000, 4464},  {-2, -2, -2},           {-1, 257, 1},
        {-1, -1, 255},            {-4, 3e10, -64771072},  // the low 32 bits of the integer
    };
    for (auto c : kCases) {
        Storage storage{};
        VariableRecord* v = Local("N$");
        v->type = c.type;
        v->data = reinterpret_cast<char*>(storage.bytes);
        SetVariableValue(v, nullptr, c.written, nullptr, 0);
        char* text = nullptr;
        double value = 0;
        GetVariableValue(v, &text, &value, nullptr);
        EXPECT_EQ(text, nullptr) << c.type;
        EXPECT_EQ(value, c.read) << c.type << " " << c.written;
        ReleaseVariable(context, v, false, false);
    }
}

TEST_F(TypedFieldsTest, TextInPointerFieldOwnsACopyUntilANumberReplacesIt) {
    for (int32_t type : {-9, -8, -5, -4}) {
        Storage storage{};
        VariableRecord* v = Local("P$");
        v->type = type;
        v->data = reinterpret_cast<char*>(storage.bytes);
        v->flags = 0;
        SetVariableValue(v, "hello", 0, nullptr, 6);
        ASSERT_NE(v->links, nullptr) << type;
        EXPECT_EQ(testing::TextOf(v), "hello") << type;
        // A second text replaces the first copy; a number frees the copy.
        SetVariableValue(v, "bye", 0, nullptr, 4);
        EXPECT_EQ(v->links->older, nullptr) << type;
        EXPECT_EQ(testing::TextOf(v), "bye") << type;
        void* block = v->links->block;
        SetVariableValue(v, nullptr, 42, nullptr, 0);
        EXPECT_FALSE(platform::IsLiveBlock(block)) << type;
        EXPECT_EQ(v->links, nullptr) << type;
        EXPECT_EQ(testing::NumberOf(v), 42) << type;
        ReleaseVariable(context, v, false, false);
    }
}

TEST_F(TypedFieldsTest, WideFieldHoldsAUtf16Copy) {
    Storage storage{};
    VariableRecord* v = Local("W$");
    v->type = -3;
    v->data = reinterpret_cast<char*>(storage.bytes);
    SetVariableValue(v, "A\xC3\xA9", 0, nullptr, 4);
    char* text = nullptr;
    double value = 0;
    GetVariableValue(v, &text, &value, nullptr);
    ASSERT_NE(text, nullptr);
    const auto* units = reinterpret_cast<const uint16_t*>(text);
    EXPECT_EQ(units[0], u'A');
    EXPECT_EQ(units[1], 0xE9);
    EXPECT_EQ(units[2], 0);
    // The copy is the variable's: releasing the variable frees it.
}

TEST_F(TypedFieldsTest, ByteFieldsCopyAndReadTerminated) {
    Storage storage{};
    std::memset(storage.bytes, 'x', sizeof storage.bytes);
    VariableRecord* v = Local("B$");
    v->type = 6;
    v->data = reinterpret_cast<char*>(storage.bytes);
    // A short text fills the field with zeros after it; a long one is cut.
    SetVariableValue(v, "ab", 0, nullptr, 3);
    EXPECT_EQ(std::memcmp(storage.bytes, "ab\0\0\0\0xx", 8), 0);
    SetVariableValue(v, "abcdefgh", 0, nullptr, 9);
    EXPECT_EQ(std::memcmp(storage.bytes, "abcdefxx", 8), 0);
    // The read is one byte longer than the field: a terminated text.
    char* text = nullptr;
    double value = 1;
    GetVariableValue(v, &text, &value, nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(platform::GetBlockSize(text), 7u);
    EXPECT_STREQ(text, "abcdef");
    EXPECT_EQ(value, 0);
}

TEST_F(TypedFieldsTest, SmallFieldsGivenTexts) {
    Storage storage{};
    VariableRecord* v = Local("S$");
    v->data = reinterpret_cast<char*>(storage.bytes);
    // A 16-bit field stores the number the text stands for.
    v->type = -2;
    SetVariableValue(v, "1234", 0, nullptr, 5);
    EXPECT_EQ(testing::NumberOf(v), 1234);
    EXPECT_EQ(v->links, nullptr);
    // A byte field stores the text's first character.
    v->type = -1;
    SetVariableValue(v, "A", 0, nullptr, 2);
    EXPECT_EQ(testing::NumberOf(v), 'A');
    // A byte array takes as many bytes as it has elements, zero-padded.
    v->elementCount = 4;
    std::memset(storage.bytes, 'x', sizeof storage.bytes);
    SetVariableValue(v, "hi", 0, &storage.bytes[0], 3);
    EXPECT_EQ(std::memcmp(storage.bytes, "hi\0\0x", 5), 0);
}

// A text given to a later element of a byte array fills only the elements
// from there to the array's end, never the bytes after it.
TEST_F(TypedFieldsTest, TextIntoAByteArrayElementStopsAtTheArraysEnd) {
    struct Case { size_t element; const char* text; const char* after; };
    const Case cases[] = {{0, "hello", "hell"}, {2, "hello", "\0\0he"}, {3, "hello", "\0\0\0h"}, {1, "a", "\0a\0\0"}};
    for (const Case& c : cases) {
        Storage storage{};
        std::memset(storage.bytes, 'x', sizeof storage.bytes);
        std::memset(storage.bytes, 0, 4);
        VariableRecord* v = Local("B$");
        v->type = -1;
        v->elementCount = 4;
        v->data = reinterpret_cast<char*>(storage.bytes);
        SetVariableValue(v, c.text, 0, &storage.bytes[c.element], static_cast<int64_t>(std::strlen(c.text) + 1));
        EXPECT_EQ(std::memcmp(storage.bytes, c.after, 4), 0) << c.element << " " << c.text;
        EXPECT_EQ(std::memcmp(storage.bytes + 4, "xxxxxxxxxxxx", 12), 0) << "past the array: " << c.element;
        v->data = nullptr;
        v->elementCount = 0;
    }
}

TEST_F(TypedFieldsTest, HandedOverBlockReadsAsItsAddress) {
    Storage storage{};
    std::memcpy(storage.bytes, "raw", 4);
    VariableRecord* v = Local("H$");
    v->type = 16;
    v->flags = kVarHandedOver;
    v->data = reinterpret_cast<char*>(storage.bytes);
    char* text = nullptr;
    double value = 0;
    GetVariableValue(v, &text, &value, nullptr);
    EXPECT_EQ(text, reinterpret_cast<char*>(storage.bytes));
    // Without a text the size given is the type code of the write.
    SetVariableValue(v, nullptr, 0x4142, &storage.bytes[4], -2);
    EXPECT_EQ(storage.bytes[4], 0x42);
    EXPECT_EQ(storage.bytes[5], 0x41);
    v->flags = 0;
}

}  // namespace
}  // namespace qob
