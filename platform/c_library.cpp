// platform/c_library.cpp
// The C library stand-ins: random generator, number readers, "C"-locale
// formatting.
#include "platform/c_library.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

namespace qob::platform {
namespace {

// The generator of the C standard's own example: a 32-bit linear congruential
// step whose bits 16..30 are the result. The seed before any SeedRandom is 1,
// as for rand().
std::atomic<uint32_t> randomState{1};

locale_t CLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", locale_t{});
    return locale;
}

bool IsSpace(char ch) {
    return ch == ' ' || (ch >= '\t' && ch <= '\r');
}

bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

const char* SkipDigits(const char* p) {
    while (IsDigit(*p)) ++p;
    return p;
}

// Switches the calling thread to the "C" locale for one call.
class CLocaleScope {
public:
    CLocaleScope() : previous_(uselocale(CLocale())) {}
    ~CLocaleScope() { uselocale(previous_); }
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    locale_t previous_;
};

}  // namespace

void SeedRandom(uint32_t seed) { randomState.store(seed, std::memory_order_relaxed); }

int NextRandom() {
    uint32_t state = randomState.load(std::memory_order_relaxed);
    uint32_t next;
    do {
        next = state * 1103515245u + 12345u;
    } while (!randomState.compare_exchange_weak(state, next, std::memory_order_relaxed));
    return static_cast<int>((next >> 16) & kRandomMax);
}

double ReadDecimal(const char* text, const char** end) {
    // Find the extent of the decimal syntax first. strtod's decimal grammar
    // is the same, so it stops where this scan stops, except that it would read
    // "0x..." as a hexadecimal float: that text is a plain zero here.
    const char* p = text;
    while (IsSpace(*p)) ++p;
    const char* start = p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    const char* digits = p;
    p = SkipDigits(p);
    const bool hexPrefix = p == digits + 1 && *digits == '0' && (*p == 'x' || *p == 'X');
    bool anyDigit = p != digits;
    if (*p == '.') {
        const char* fraction = p + 1;
        const char* afterFraction = SkipDigits(fraction);
        anyDigit = anyDigit || afterFraction != fraction;
        p = afterFraction;
    }
    if (!anyDigit) {
        if (end) *end = text;
        return 0.0;
    }
    if (*p == 'e' || *p == 'E') {
        const char* exponent = p + 1;
        if (*exponent == '+' || *exponent == '-') ++exponent;
        if (IsDigit(*exponent)) p = SkipDigits(exponent);
    }
    if (end) *end = p;
    if (hexPrefix) return negative ? -0.0 : 0.0;
    const int savedErrno = errno;
    const double value = strtod_l(start, nullptr, CLocale());
    errno = savedErrno;
    return value;
}

int64_t ReadInt64(const char* text) {
    const int savedErrno = errno;
    const long long value = std::strtoll(text, nullptr, 10);
    errno = savedErrno;
    return value;
}

int64_t ReadUnsigned64Bits(const char* text, int base, bool* converted) {
    const int savedErrno = errno;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, base);
    errno = savedErrno;
    if (converted) *converted = end != text;
    return static_cast<int64_t>(value);
}

int FormatText(char* buffer, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int length = FormatTextV(buffer, size, format, args);
    va_end(args);
    return length;
}

int FormatTextV(char* buffer, size_t size, const char* format, va_list args) {
    CLocaleScope scope;
    return std::vsnprintf(buffer, size, format, args);
}

}  // namespace qob::platform
