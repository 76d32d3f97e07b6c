// tests/builtins/conversions/conversion_builtins_test.cpp
// int, str, wstr, ToFloat and ToInt on numbers, number texts, other texts and
// UTF-16 texts at the 32-bit boundaries; 64-bit integers written and read
// at aligned and unaligned addresses (bytes from Python's struct.pack("<q")),
// and blocks too short for them.

#include "builtins/conversions/conversion_builtins.h"

#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "builtins/operators/operator_fixture.h"
#include "platform/faults.h"
#include "platform/memory.h"

namespace qob::testing {
namespace {

struct Case {
    void (*handler)();
    std::string argument;  // as Push takes it
    std::string expected;  // as PopDescription gives it
};

using Bytes = std::array<uint8_t, 8>;

class ConversionBuiltinsTest : public OperatorTest {
protected:
    std::string Run(void (*handler)(), const std::string& argument) {
        Push(argument);
        handler();
        EXPECT_EQ(StackDepth(), 1) << argument;
        return PopDescription();
    }

    void ExpectCases(const std::vector<Case>& cases) {
        for (const Case& c : cases) EXPECT_EQ(Run(c.handler, c.argument), c.expected) << c.argument;
    }

    // A block of the allocator filled with one byte; the test frees it.
    uint8_t* Block(size_t size, uint8_t fill) {
        auto* block = static_cast<uint8_t*>(platform::AllocateBlock(size));
        std::memset(block, fill, size);
        blocks.push_back(block);
        return block;
    }

    static double AddressNumber(const void* address) {
        return static_cast<double>(reinterpret_cast<uintptr_t>(address));
    }

    void ToLargeInt(const std::string& value, const void* address) {
        Push(value);
        PushNumber(AddressNumber(address));
        Builtin_ToLargeInt();
        EXPECT_EQ(StackDepth(), 0) << "ToLargeInt pushes nothing";
    }

    double LargeInt(const void* address) {
        PushNumber(AddressNumber(address));
        Builtin_LargeInt();
        EXPECT_EQ(StackDepth(), 1);
        EXPECT_EQ(context->stackTop->text, nullptr) << "the result is a number";
        return PopValue();
    }

    static std::string AccessViolationAt(const void* address) {
        char text[64];
        std::snprintf(text, sizeof text, "Access violation at 0x%" PRIxPTR, reinterpret_cast<uintptr_t>(address));
        return text;
    }

    void TearDown() override {
        for (void* block : blocks) platform::FreeBlock(block);
        OperatorTest::TearDown();
    }

    std::vector<void*> blocks;
};

TEST_F(ConversionBuiltinsTest, IntGivesTheNumberWithoutTruncating) {
    ExpectCases({
        {Builtin_int, "n:2.7", "n:2.7"},       {Builtin_int, "t:12.5", "n:12.5"},
        {Builtin_int, "t:abc", "n:0"},         {Builtin_int, "t:0x1F", "n:31"},
        {Builtin_int, "w:-2.5", "n:-2.5"},     {Builtin_int, "w:héllo", "n:0"},
        {Builtin_int, "n:4294967295.5", "n:4294967295.5"},
        {Builtin_int, "n:-1e300", "n:-1e+300"}, {Builtin_int, "n:nan", "n:nan"},
        {Builtin_int, "n:-inf", "n:-inf"},     {Builtin_int, "t:9007199254740993", "n:9007199254740992"},
    });
}

TEST_F(ConversionBuiltinsTest, StrAndWstrGiveTextsOfTheirWidth) {
    ExpectCases({
        {Builtin_str, "n:10", "t:10"},          {Builtin_str, "n:0.5", "t:0.5"},
        {Builtin_str, "n:-0.5", "t:-0.5"},      {Builtin_str, "n:2147483648", "t:2147483648"},
        {Builtin_str, "n:4294967295", "t:4294967295"}, {Builtin_str, "n:-2147483649", "t:-2147483649"},
        {Builtin_str, "n:9007199254740992", "t:9007199254740992"},
        {Builtin_str, "n:1e-7", "t:0"},         {Builtin_str, "n:nan", "t:nan"},
        {Builtin_str, "n:inf", "t:inf"},        {Builtin_str, "n:-inf", "t:-inf"},
        {Builtin_str, "t:abc", "t:abc"},        {Builtin_str, "t:", "t:"},
        {Builtin_str, "m:[1,{a}]", "t:[1,{a}]"},
        {Builtin_wstr, "n:5", "w:5"},           {Builtin_wstr, "n:-2.25", "w:-2.25"},
        {Builtin_wstr, "n:nan", "w:nan"},       {Builtin_wstr, "t:abc", "w:abc"},
        {Builtin_wstr, "t:hé", "w:hé"},         {Builtin_wstr, "w:hé", "w:hé"},
        {Builtin_wstr, "m:[1,2]", "w:[1,2]"},
    });
    EXPECT_EQ(Run(Builtin_str, "n:1e300"), "t:" + std::string("1000000000000000052504760255204420248704468581108159154915854115511802457988908195786371375080447864043704443832883878176942523235360430575644792184786706982848387200926575803737830233794788090059368953234970799945081119038967640880074652742780142494579258788820056842838115669472196386865459400540160"));
}

// An 8-bit text is its own result: the same text, no copy. A UTF-16 text
// read as 8-bit text would stop after its first character: it is narrowed.
TEST_F(ConversionBuiltinsTest, StrKeepsAn8BitTextAndNarrowsAUtf16One) {
    Push("t:same");
    const char* text = context->stackTop->text;
    Builtin_str();
    EXPECT_EQ(context->stackTop->text, text);
    EXPECT_EQ(context->stackTop->flags, 0u);
    EXPECT_EQ(PopDescription(), "t:same");

    EXPECT_EQ(Run(Builtin_str, "w:wide text"), "t:wide text");
    EXPECT_EQ(Run(Builtin_str, "w:héé"), "t:héé");

    Push("w:unchanged");
    const char* wide = context->stackTop->text;
    Builtin_wstr();
    EXPECT_EQ(context->stackTop->text, wide);
    EXPECT_EQ(context->stackTop->flags, kEntryWide);
    EXPECT_EQ(PopDescription(), "w:unchanged");
}

TEST_F(ConversionBuiltinsTest, ToFloatAddsTwoToTheMinus52) {
    Push("n:1");
    Builtin_ToFloat();
    const double one = PopValue();
    EXPECT_NE(one, 1.0);
    EXPECT_EQ(one, 1.0 + 2.220446049250313e-16);
    ExpectCases({
        {Builtin_ToFloat, "t:abc", "n:2.2204460492503131e-16"},
        {Builtin_ToFloat, "w:2", "n:2"},  // 2^-52 is below half a unit of 2
        {Builtin_ToFloat, "n:-1", "n:-0.99999999999999978"},
        {Builtin_ToFloat, "n:nan", "n:nan"},
    });
}

// The signed 32-bit view: toward zero; 2^31 .. 2^32 - 1 keep their 32 bits
// (their two's-complement negatives); beyond both ranges it saturates.
TEST_F(ConversionBuiltinsTest, ToIntIsTheSigned32BitView) {
    ExpectCases({
        {Builtin_ToInt, "n:2.7", "n:2"},                  {Builtin_ToInt, "n:-2.7", "n:-2"},
        {Builtin_ToInt, "n:0.5", "n:0"},                  {Builtin_ToInt, "n:-0.5", "n:0"},
        {Builtin_ToInt, "n:0", "n:0"},                    {Builtin_ToInt, "n:2147483647.9", "n:2147483647"},
        {Builtin_ToInt, "n:2147483648", "n:-2147483648"}, {Builtin_ToInt, "n:4294967295", "n:-1"},
        {Builtin_ToInt, "n:4294967295.5", "n:-1"},        {Builtin_ToInt, "n:4294967296", "n:2147483647"},
        {Builtin_ToInt, "n:-2147483648", "n:-2147483648"}, {Builtin_ToInt, "n:-2147483649", "n:-2147483648"},
        {Builtin_ToInt, "n:9007199254740992", "n:2147483647"},
        {Builtin_ToInt, "n:1e300", "n:2147483647"},       {Builtin_ToInt, "n:-1e300", "n:-2147483648"},
        {Builtin_ToInt, "n:inf", "n:2147483647"},         {Builtin_ToInt, "n:-inf", "n:-2147483648"},
        {Builtin_ToInt, "n:nan", "n:0"},
        {Builtin_ToInt, "t:4294967295", "n:-1"},          {Builtin_ToInt, "t:0x80000000", "n:-2147483648"},
        {Builtin_ToInt, "w:-2.9", "n:-2"},                {Builtin_ToInt, "t:abc", "n:0"},
    });
}

// Expected bytes: Python's struct.pack("<q", v); values beyond the int64
// range are packed as the limit they saturate at, NaN as 0.
TEST_F(ConversionBuiltinsTest, ToLargeIntWritesLittleEndianBytesAtAnyAlignment) {
    const struct {
        std::string value;
        Bytes bytes;
        double readBack;
    } cases[] = {
        {"n:-1", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, -1},
        {"n:9007199254740992", {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00}, 9007199254740992.0},
        {"n:-9007199254740992", {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE0, 0xFF}, -9007199254740992.0},
        {"n:2147483648", {0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00}, 2147483648.0},
        {"n:4294967295", {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00}, 4294967295.0},
        {"n:-2147483649", {0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF}, -2147483649.0},
        {"n:1234567890123.9", {0xCB, 0x04, 0xFB, 0x71, 0x1F, 0x01, 0x00, 0x00}, 1234567890123.0},
        {"n:-0.9", {0, 0, 0, 0, 0, 0, 0, 0}, 0},
        {"n:1e19", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, 9223372036854775807.0},
        {"n:1e300", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, 9223372036854775807.0},
        {"n:inf", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, 9223372036854775807.0},
        {"n:-1e19", {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80}, -9223372036854775808.0},
        {"n:-inf", {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80}, -9223372036854775808.0},
        {"n:nan", {0, 0, 0, 0, 0, 0, 0, 0}, 0},
        {"t:-1", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, -1},
        {"w:2147483648", {0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00}, 2147483648.0},
        {"t:abc", {0, 0, 0, 0, 0, 0, 0, 0}, 0},
    };
    uint8_t* block = Block(32, 0xAA);
    for (const auto& c : cases) {
        for (size_t offset : {0, 1, 3, 4, 7, 24}) {
            std::memset(block, 0xAA, 32);
            ToLargeInt(c.value, block + offset);
            EXPECT_EQ(std::memcmp(block + offset, c.bytes.data(), 8), 0) << c.value << " at +" << offset;
            for (size_t i = 0; i < 32; ++i) {
                const bool outside = i < offset || i >= offset + 8;
                EXPECT_TRUE(!outside || block[i] == 0xAA) << c.value << " at +" << offset << ": byte " << i;
            }
            EXPECT_EQ(LargeInt(block + offset), c.readBack) << c.value << " at +" << offset;
        }
    }
    EXPECT_EQ(LastError(), "");
}

// The address is the number, else the cell's extra word, else its text: a
// text of 8 bytes or more is written in its own buffer.
TEST_F(ConversionBuiltinsTest, TheAddressMayBeTheExtraWordOrAText) {
    uint8_t* block = Block(8, 0);
    Push("n:-2");
    PushValue(nullptr, 0.0, nullptr, static_cast<int32_t>(reinterpret_cast<uintptr_t>(block)));
    Builtin_ToLargeInt();
    const Bytes minusTwo = {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(std::memcmp(block, minusTwo.data(), 8), 0);
    PushValue(nullptr, 0.0, nullptr, static_cast<int32_t>(reinterpret_cast<uintptr_t>(block)));
    Builtin_LargeInt();
    EXPECT_EQ(PopValue(), -2);

    Push("n:1234567890123");
    Push("t:12345678");
    const char* text = context->stackTop->text;
    Builtin_ToLargeInt();
    const Bytes packed = {0xCB, 0x04, 0xFB, 0x71, 0x1F, 0x01, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(text, packed.data(), 8), 0);
    EXPECT_EQ(text[8], '\0');
    EXPECT_EQ(LastError(), "");
}

// A block shorter than 8 bytes (a short text passed as its own buffer) is
// mapped, so no signal would stop the access: reading would take bytes past
// it and writing would corrupt the heap. It is an access violation at that
// address, and nothing is read or written.
TEST_F(ConversionBuiltinsTest, AShortBlockIsAnAccessViolationAndStaysUntouched) {
    for (size_t size : {0, 1, 4, 7}) {
        ClearError();
        uint8_t* block = Block(size, 0x11);
        ToLargeInt("n:-1", block);
        EXPECT_EQ(LastError(), AccessViolationAt(block)) << size;
        for (size_t i = 0; i < size; ++i) EXPECT_EQ(block[i], 0x11) << size << ": byte " << i;
        ClearError();
        EXPECT_EQ(LargeInt(block), 0) << size;
        EXPECT_EQ(LastError(), AccessViolationAt(block)) << size;
    }
    ClearError();
    Push("n:-1");
    Push("t:abc");
    const char* text = context->stackTop->text;
    Builtin_ToLargeInt();
    EXPECT_EQ(StackDepth(), 0);
    EXPECT_EQ(LastError(), AccessViolationAt(text));
    EXPECT_STREQ(text, "abc");

    // Under the machine's guard the refusal leaves as a hardware fault would,
    // with the block's address, before anything is pushed.
    uint8_t* guarded = Block(4, 0x11);
    for (void (*handler)() : {Builtin_LargeInt, Builtin_ToLargeInt}) {
        if (handler == Builtin_ToLargeInt) PushNumber(-1);
        PushNumber(AddressNumber(guarded));
        const std::optional<platform::FaultReport> fault = platform::RunGuarded([&] { handler(); });
        ASSERT_TRUE(fault.has_value());
        EXPECT_EQ(fault->kind, platform::FaultKind::AccessViolation);
        EXPECT_EQ(fault->instructionAddress, reinterpret_cast<uintptr_t>(guarded));
        EXPECT_EQ(fault->dataAddress, reinterpret_cast<uintptr_t>(guarded));
        EXPECT_EQ(StackDepth(), 0);
        EXPECT_EQ(guarded[0], 0x11);
    }

    // Exactly 8 bytes are enough.
    ClearError();
    uint8_t* eight = Block(8, 0x11);
    ToLargeInt("n:-1", eight);
    EXPECT_EQ(LargeInt(eight), -1);
    EXPECT_EQ(LastError(), "");
}

}  // namespace
}  // namespace qob::testing
