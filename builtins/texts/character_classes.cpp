// builtins/texts/character_classes.cpp
// Character classes over our own table, one-character texts, and the 8-bit /
// UTF-16 conversions of texts given by value or by address.
#include "builtins/texts/character_classes.h"

#include <array>
#include <cstring>

#include "builtins/operators/operator_values.h"
#include "builtins/texts/text_arguments.h"
#include "platform/c_library.h"
#include "platform/memory.h"
#include "platform/text_codec.h"
#include "runtime/data/wide_text.h"

namespace qob {
namespace {

// The class bits of codes 0 to 0x7F, as the device's runtime library gives
// them in the "C" locale: a letter carries kClassAlpha with its case bit;
// the space is white space and blank; tab to carriage return are white
// space and control characters.
constexpr std::array<uint16_t, 128> BuildClassTable() {
    std::array<uint16_t, 128> table{};
    for (int c = 0; c < 128; ++c) {
        uint16_t bits = 0;
        if (c < 0x20 || c == 0x7F) bits |= kClassControl;
        if ((c >= 0x09 && c <= 0x0D) || c == ' ') bits |= kClassSpace;
        if (c == ' ') bits |= kClassBlank;
        if (c >= 'A' && c <= 'Z') bits |= kClassUpper | kClassAlpha;
        if (c >= 'a' && c <= 'z') bits |= kClassLower | kClassAlpha;
        if (c >= '0' && c <= '9') bits |= kClassDigit | kClassHex;
        if ((c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')) bits |= kClassHex;
        const bool graphic = c > ' ' && c < 0x7F;
        if (graphic && !(bits & (kClassAlpha | kClassDigit))) bits |= kClassPunct;
        table[static_cast<size_t>(c)] = bits;
    }
    return table;
}

constexpr std::array<uint16_t, 128> kClassTable = BuildClassTable();

constexpr uint16_t kLetterMask = kClassAlpha | kClassUpper | kClassLower;

// Whether every character of the text passes. A case test (caseBit set)
// judges letters only: a letter fails when it lacks caseBit.
template <typename Unit>
bool AllCharactersPass(const Unit* units, size_t length, uint16_t mask, uint16_t caseBit) {
    for (size_t i = 0; i < length; ++i) {
        const auto code = static_cast<int64_t>(static_cast<std::make_unsigned_t<Unit>>(units[i]));
        if (caseBit) {
            if (CharacterClass(code, kLetterMask) && !CharacterClass(code, caseBit)) return false;
        } else if (!CharacterClass(code, mask)) {
            return false;
        }
    }
    return true;
}

// Pops the argument and pushes the test's result: 1/0 for a text, the
// class bits for a number.
void TestCharacters(uint16_t mask, uint16_t caseBit = 0) {
    StackEntry argument = TakeOperand();
    double result;
    if (IsText(argument)) {
        const bool wide = IsWide(argument);
        const TextSpan text = ArgumentText(argument, wide);
        result = wide ? AllCharactersPass(static_cast<const uint16_t*>(text.units), text.length, mask, caseBit)
                      : AllCharactersPass(static_cast<const char*>(text.units), text.length, mask, caseBit);
    } else {
        result = CharacterClass(platform::TruncateToInteger<int64_t>(argument.value), mask);
    }
    ReleaseOperand(argument);
    PushNumberResult(result);
}

// The code argument (a text converted) as a 64-bit integer.
int64_t PopCode() {
    StackEntry argument = TakeOperand();
    const int64_t code = platform::TruncateToInteger<int64_t>(OperandNumber(argument));
    ReleaseOperand(argument);
    return code;
}

// The text a conversion works on: an address given as a non-zero number,
// else the cell's extra word, else its own text. The cell's UTF-16 mark
// decides for its own text; a block given by address is UTF-16 when its
// bytes do not survive the round trip through UTF-16 (an address that does
// not start a block is measured up to its terminator only).
struct AddressedText {
    const char* bytes;
    bool wide;
};

// Pops the argument and returns make(text) (the argument's links are freed
// only after make ran).
template <typename Make>
auto FromAddressedText(Make make) {
    StackEntry argument = TakeOperand();
    const int32_t address = StackEntryInteger(&argument);
    const bool marked = argument.value == 0.0 && argument.extra == 0 && IsWide(argument);
    const auto* bytes = reinterpret_cast<const char*>(static_cast<uintptr_t>(static_cast<uint32_t>(address)));
    const AddressedText text{bytes, bytes && (marked || IsWideString(bytes, -1) != 0)};
    auto result = make(text);
    ReleaseOperand(argument);
    return result;
}

void* WideCopyOf(const AddressedText& text) {
    if (!text.bytes) return AnsiToWide("");
    if (!text.wide) return AnsiToWide(text.bytes);
    const auto* units = reinterpret_cast<const uint16_t*>(text.bytes);
    return CopyText({units, platform::WideTextLength(units)}, true);
}

void* NarrowCopyOf(const AddressedText& text) {
    if (!text.bytes) return CopyText({"", 0}, false);
    if (text.wide) return WideToAnsi(reinterpret_cast<const uint16_t*>(text.bytes));
    return CopyText({text.bytes, std::strlen(text.bytes)}, false);
}

void PushWideCopy() { PushTextResult(FromAddressedText(WideCopyOf), true); }

}  // namespace

uint16_t CharacterClass(int64_t code, uint16_t mask) {
    if (code < 0 || code >= static_cast<int64_t>(kClassTable.size())) return 0;
    return kClassTable[static_cast<size_t>(code)] & mask;
}

void Builtin_isalnum() { TestCharacters(kClassAlpha | kClassUpper | kClassLower | kClassDigit); }
void Builtin_isalpha() { TestCharacters(kLetterMask); }
void Builtin_iscntrl() { TestCharacters(kClassControl); }
void Builtin_isdigit() { TestCharacters(kClassDigit); }
void Builtin_islower() { TestCharacters(kClassLower, kClassLower); }
void Builtin_isprint() {
    TestCharacters(kClassBlank | kClassPunct | kClassAlpha | kClassUpper | kClassLower | kClassDigit);
}
void Builtin_ispunct() { TestCharacters(kClassPunct); }
void Builtin_isspace() { TestCharacters(kClassSpace); }
void Builtin_isupper() { TestCharacters(kClassUpper, kClassUpper); }

void Builtin_chr() {
    const char unit[2] = {static_cast<char>(PopCode() & 0xFF), 0};
    PushTextResult(CopyText({unit, std::strlen(unit)}, false), false);
}

void Builtin_wchr() {
    const uint16_t unit[2] = {static_cast<uint16_t>(PopCode() & 0xFFFF), 0};
    PushTextResult(CopyText({unit, unit[0] ? 1u : 0u}, true), true);
}

void Builtin_wide() { PushWideCopy(); }
void Builtin_apichar() { PushWideCopy(); }

void Builtin_char() { PushTextResult(FromAddressedText(NarrowCopyOf), false); }

void Builtin_iswide() {
    PushNumberResult(FromAddressedText([](const AddressedText& text) { return text.wide ? 1.0 : 0.0; }));
}

}  // namespace qob
