// platform/wide_case.cpp
// Unit case mapping through the C library's built-in UTF-8 locale, which
// carries the Unicode case tables whatever locale the process runs in.
#include "platform/wide_case.h"

#include <locale.h>
#include <wctype.h>

namespace qob::platform {
namespace {

bool IsSurrogate(uint16_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

// The locale holding the case tables; null when the library has none, and
// then only ASCII letters are mapped.
locale_t CaseLocale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return locale;
}

// Mapped through the table, unless the result would not fit one unit.
uint16_t MapUnit(uint16_t unit, wint_t (*map)(wint_t, locale_t), uint16_t asciiFrom, uint16_t asciiTo) {
    if (unit < 0x80 || IsSurrogate(unit)) {
        return unit >= asciiFrom && unit <= asciiTo ? static_cast<uint16_t>(unit ^ 0x20) : unit;
    }
    const locale_t locale = CaseLocale();
    if (!locale) return unit;
    const wint_t mapped = map(unit, locale);
    return mapped <= 0xFFFF && !IsSurrogate(static_cast<uint16_t>(mapped)) ? static_cast<uint16_t>(mapped) : unit;
}

}  // namespace

uint16_t WideToUpper(uint16_t unit) { return MapUnit(unit, towupper_l, 'a', 'z'); }
uint16_t WideToLower(uint16_t unit) { return MapUnit(unit, towlower_l, 'A', 'Z'); }

}  // namespace qob::platform
