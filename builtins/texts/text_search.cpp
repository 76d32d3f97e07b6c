// builtins/texts/text_search.cpp
// The searches, written once over the unit type.
#include "builtins/texts/text_search.h"

#include <cstring>
#include <string_view>

namespace qob {
namespace {

template <typename Unit>
const Unit* UnitsOf(TextSpan text) {
    return static_cast<const Unit*>(text.units);
}

// The first occurrence of a non-empty find at or after from.
int64_t FindFrom(TextSpan text, TextSpan find, size_t from, bool wide) {
    if (find.length > text.length || from > text.length - find.length) return -1;
    if (!wide) {
        const std::string_view haystack(UnitsOf<char>(text), text.length);
        const size_t at = haystack.find(std::string_view(UnitsOf<char>(find), find.length), from);
        return at == std::string_view::npos ? -1 : static_cast<int64_t>(at);
    }
    const uint16_t* units = UnitsOf<uint16_t>(text);
    const uint16_t* pattern = UnitsOf<uint16_t>(find);
    for (size_t i = from; i + find.length <= text.length; ++i) {
        if (units[i] == pattern[0] && std::memcmp(units + i, pattern, find.length * sizeof(uint16_t)) == 0)
            return static_cast<int64_t>(i);
    }
    return -1;
}

template <typename Unit>
int64_t FindLast(TextSpan text, TextSpan find) {
    const Unit* units = UnitsOf<Unit>(text);
    const Unit* pattern = UnitsOf<Unit>(find);
    for (size_t i = text.length - find.length + 1; i-- > 0;) {
        if (units[i] == pattern[0] && std::memcmp(units + i, pattern, find.length * sizeof(Unit)) == 0)
            return static_cast<int64_t>(i);
    }
    return -1;
}

}  // namespace

int64_t FindFirstText(TextSpan text, TextSpan find, bool wide) {
    if (find.length == 0) return wide ? 0 : static_cast<int64_t>(text.length);
    return FindFrom(text, find, 0, wide);
}

int64_t FindLastText(TextSpan text, TextSpan find, bool wide) {
    if (find.length == 0 || find.length > text.length) return -1;
    return wide ? FindLast<uint16_t>(text, find) : FindLast<char>(text, find);
}

int64_t CountTextOccurrences(TextSpan text, TextSpan find, bool wide) {
    if (find.length == 0) return 0;
    int64_t count = 0;
    for (int64_t at = FindFrom(text, find, 0, wide); at >= 0;
         at = FindFrom(text, find, static_cast<size_t>(at) + find.length, wide))
        ++count;
    return count;
}

}  // namespace qob
