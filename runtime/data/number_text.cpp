// runtime/data/number_text.cpp
// Conversions between numbers and number texts.
#include "runtime/data/number_text.h"

#include "platform/c_library.h"
#include "platform/memory.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace qob {

thread_local uint8_t ConversionFailedFlag = 0;

namespace {

bool IsHexLetter(char ch) { return (ch >= 'A' && ch <= 'F') || (ch >= 'a' && ch <= 'f'); }

bool IsDigitOrPoint(char ch) { return (ch >= '0' && ch <= '9') || ch == kDecimalCharacter; }

// The integer readings of a text whose decimal reading stopped early at 0.
double ReadIntegerForms(const char* text) {
    // A negative prefix stays negative here: read as unsigned it would become
    // 2^64 - n.
    const int64_t integer = platform::ReadInt64(text);
    if (integer != 0) return static_cast<double>(integer);
    if (std::strlen(text) >= 3 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        bool converted = false;
        const int64_t hex = platform::ReadUnsigned64Bits(text, 16, &converted);
        if (converted) return static_cast<double>(hex);
    }
    return static_cast<double>(platform::ReadUnsigned64Bits(text, 8));
}

// A text of 1 to 15 decimal digits and nothing else: exact in a double, so
// its value is the one the decimal reading gives. False for any other text.
bool ReadShortWhole(const char* text, double& value) {
    constexpr int kMaxExactDigits = 15;
    uint64_t whole = 0;
    int digits = 0;
    for (; digits <= kMaxExactDigits && text[digits] >= '0' && text[digits] <= '9'; ++digits)
        whole = whole * 10 + static_cast<uint64_t>(text[digits] - '0');
    if (text[digits] != '\0' || digits == 0 || digits > kMaxExactDigits) return false;
    value = static_cast<double>(whole);
    return true;
}

}  // namespace

bool IsNumberString(const char* text) {
    if (text == nullptr) return true;
    if (text[0] == '\0') return false;
    bool hex = false;
    for (size_t i = 0; text[i] != '\0'; ++i) {
        const char ch = text[i];
        if (ch == 'x' || ch == 'X') {
            if (i == 1 && text[0] == '0') hex = true;
        } else if (IsHexLetter(ch)) {
            if ((ch == 'e' || ch == 'E') && !hex) {
                if (text[i + 1] != '+' && text[i + 1] != '-') return false;
                ++i;  // the exponent's sign
            } else if (!hex) {
                return false;
            }
        } else if (ch == '-') {
            if (i != 0) return false;
        } else if (!IsDigitOrPoint(ch)) {
            return false;
        }
    }
    return true;
}

double StringToNumber(const char* text) {
    // Counts, labels and most number texts of a program are short whole
    // numbers: read without the general checks and conversion.
    if (double value = 0.0; text != nullptr && ReadShortWhole(text, value)) {
        ConversionFailedFlag = 0;
        return value;
    }
    if (!IsNumberString(text)) {
        ConversionFailedFlag = 1;
        return 0.0;
    }
    ConversionFailedFlag = 0;
    if (text == nullptr) return 0.0;
    const char* end = nullptr;
    const double value = platform::ReadDecimal(text, &end);
    // A decimal reading of the whole text is the answer even when it is 0
    // (an underflow such as "-1e-400" stays -0.0, not an integer prefix).
    if (value != 0.0 || *end == '\0') return value;
    return ReadIntegerForms(text);
}

size_t FormatNumber(double value, char (&buffer)[kNumberTextSize]) {
    const char* fixed = nullptr;
    if (std::isnan(value))
        fixed = "nan";
    else if (std::isinf(value))
        fixed = value > 0 ? "inf" : "-inf";
    if (fixed) {
        std::strcpy(buffer, fixed);
        return std::strlen(fixed);
    }
    // A whole number (loop counters, counts, most values programs join to
    // texts) prints its digits alone: what "%f" gives once the zeros and the
    // point are trimmed, without the general conversion. -0 keeps its sign
    // through the general one.
    if (value > -9.0e15 && value < 9.0e15 && value == static_cast<double>(static_cast<int64_t>(value)) &&
        !(value == 0.0 && std::signbit(value))) {
        const auto written = std::to_chars(buffer, buffer + sizeof buffer - 1, static_cast<int64_t>(value));
        *written.ptr = '\0';
        return static_cast<size_t>(written.ptr - buffer);
    }
    size_t length = static_cast<size_t>(platform::FormatText(buffer, sizeof buffer, "%f", value));
    // "%f" of a finite value always has a point and six decimals, so the walk
    // over trailing zeros stops at the point at the latest.
    while (length > 0 && buffer[length - 1] == '0') --length;
    if (length > 0 && buffer[length - 1] == kDecimalCharacter) --length;
    buffer[length] = '\0';
    return length;
}

char* NumberToString(double value) {
    char buffer[kNumberTextSize];
    const size_t length = FormatNumber(value, buffer);
    auto* text = static_cast<char*>(platform::AllocateZeroedBlock(length + 1));
    if (text) std::memcpy(text, buffer, length);
    return text;
}

double TruncNumber(double value) {
    return value >= 0 ? std::floor(value + 1e-12) : std::ceil(value - 1e-12);
}

int64_t TruncToInt64WithBias(double value) { return platform::TruncateToInteger<int64_t>(TruncNumber(value)); }

int32_t RoundToInt(double value) { return platform::TruncateToInteger<int32_t>(TruncNumber(value)); }

int32_t RandomInt(int32_t n) {
    return platform::TruncateToInteger<int32_t>(platform::NextRandom() * 3.0517578125e-5 * n);
}

}  // namespace qob
