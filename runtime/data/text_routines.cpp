// runtime/data/text_routines.cpp
// The shared text routines, written once for 8-bit and UTF-16 characters.
#include "runtime/data/text_routines.h"

#include "platform/message_box.h"
#include "platform/text_codec.h"
#include "runtime/data/number_text.h"
#include "runtime/data/wide_text.h"

#include <algorithm>
#include <cstring>

namespace qob {
namespace {

template <class Char>
size_t LengthOf(const Char* text) {
    if (text == nullptr) return 0;
    size_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}

// A zero-filled block for length characters and the terminator.
template <class Char>
Char* NewText(size_t length) {
    return static_cast<Char*>(platform::AllocateZeroedBlock((length + 1) * sizeof(Char)));
}

template <class Char>
Char* Append(Char* out, const Char* from, size_t count) {
    if (count != 0) std::memcpy(out, from, count * sizeof(Char));
    return out + count;
}

size_t ClampTo(int32_t value, size_t limit) {
    return value < 0 ? 0 : std::min(static_cast<size_t>(value), limit);
}

template <class Char>
void ReplaceBlock(Char** text, Char* fresh) {
    Char* old = *text;
    *text = fresh;
    platform::FreeBlock(old);
}

template <class Char>
void DeleteRange(Char** text, int32_t position, int32_t count) {
    const Char* old = *text;
    const size_t length = LengthOf(old);
    const size_t at = ClampTo(position, length);
    const size_t removed = ClampTo(count, length - at);
    Char* fresh = NewText<Char>(length - removed);
    if (fresh == nullptr) return;
    Append(Append(fresh, old, at), old + at + removed, length - at - removed);
    ReplaceBlock(text, fresh);
}

template <class Char>
void InsertAt(const Char* insert, Char** text, int32_t position) {
    const Char* old = *text;
    const size_t length = LengthOf(old);
    const size_t insertLength = LengthOf(insert);
    const size_t at = ClampTo(position, length);
    Char* fresh = NewText<Char>(length + insertLength);
    if (fresh == nullptr) return;
    Append(Append(Append(fresh, old, at), insert, insertLength), old + at, length - at);
    ReplaceBlock(text, fresh);
}

template <class Char>
bool MatchesAt(const Char* text, const Char* find, size_t findLength) {
    return std::memcmp(text, find, findLength * sizeof(Char)) == 0;
}

template <class Char>
void Replace(Char** text, const Char* find, const Char* replacement) {
    const Char* old = *text;
    const size_t length = LengthOf(old);
    const size_t findLength = LengthOf(find);
    const size_t replacementLength = LengthOf(replacement);
    if (findLength == 0 || findLength > length) return;
    size_t occurrences = 0;
    for (size_t i = 0; i + findLength <= length;) {
        if (MatchesAt(old + i, find, findLength)) {
            ++occurrences;
            i += findLength;
        } else {
            ++i;
        }
    }
    if (occurrences == 0) return;
    Char* fresh = NewText<Char>(length - occurrences * findLength + occurrences * replacementLength);
    if (fresh == nullptr) return;
    Char* out = fresh;
    size_t i = 0;
    while (i < length) {
        if (i + findLength <= length && MatchesAt(old + i, find, findLength)) {
            out = Append(out, replacement, replacementLength);
            i += findLength;
        } else {
            *out++ = old[i++];
        }
    }
    ReplaceBlock(text, fresh);
}

// A new text made of the characters [begin, end) of text.
char* CopyRange(const char* text, size_t begin, size_t end) {
    char* fresh = NewText<char>(end - begin);
    if (fresh) Append(fresh, text + begin, end - begin);
    return fresh;
}

}  // namespace

void StrDeleteRange(char** text, int32_t position, int32_t count) { DeleteRange(text, position, count); }
void WStrDeleteRange(uint16_t** text, int32_t position, int32_t count) { DeleteRange(text, position, count); }

void StrInsertAt(const char* insert, char** text, int32_t position) { InsertAt(insert, text, position); }
void WStrInsertAt(const uint16_t* insert, uint16_t** text, int32_t position) { InsertAt(insert, text, position); }

void StrReplace(char** text, const char* find, const char* replacement) { Replace(text, find, replacement); }
void WStrReplace(uint16_t** text, const uint16_t* find, const uint16_t* replacement) {
    Replace(text, find, replacement);
}

char* HeapStrDup(platform::HeapHandle heap, const char* text) {
    const size_t length = LengthOf(text);
    auto* copy = static_cast<char*>(platform::HeapAlloc(heap, platform::HEAP_ZERO_MEMORY, length + 1));
    if (copy) Append(copy, text, length);
    return copy;
}

char* InsertThousandsSeparators(const char* text) {
    const size_t length = LengthOf(text);
    const size_t first = length > 0 && text[0] == '-' ? 1 : 0;
    const char* point = length > 0 ? std::strchr(text, kDecimalCharacter) : nullptr;
    const size_t integerEnd = point ? static_cast<size_t>(point - text) : length;
    const size_t grouped = integerEnd - first;
    const size_t separators = grouped > 0 ? (grouped - 1) / 3 : 0;
    char* fresh = NewText<char>(length + separators);
    if (fresh == nullptr) return nullptr;
    char* out = Append(fresh, text, first);
    for (size_t i = first; i < integerEnd; ++i) {
        *out++ = text[i];
        const size_t left = integerEnd - i - 1;
        if (left > 0 && left % 3 == 0) *out++ = kThousandsCharacter;
    }
    Append(out, text + integerEnd, length - integerEnd);
    return fresh;
}

char* TrimRight(const char* text) {
    size_t end = LengthOf(text);
    while (end > 0 && text[end - 1] == ' ') --end;
    return CopyRange(text, 0, end);
}

char* TrimLeft(const char* text) {
    const size_t length = LengthOf(text);
    size_t begin = 0;
    while (begin < length && text[begin] == ' ') ++begin;
    return CopyRange(text, begin, length);
}

char* PadLeft(const char* text, char fill, int32_t count) {
    const size_t length = LengthOf(text);
    const size_t pad = count > 0 ? static_cast<size_t>(count) : 0;
    char* fresh = NewText<char>(length + pad);
    if (fresh == nullptr) return nullptr;
    std::memset(fresh, fill, pad);
    Append(fresh + pad, text, length);
    return fresh;
}

char* PadRight(const char* text, char fill, int32_t count) {
    const size_t length = LengthOf(text);
    const size_t pad = count > 0 ? static_cast<size_t>(count) : 0;
    char* fresh = NewText<char>(length + pad);
    if (fresh == nullptr) return nullptr;
    std::memset(Append(fresh, text, length), fill, pad);
    return fresh;
}

int ShowMessageBox(const char* text, const char* caption, uint32_t style) {
    uint16_t* wideText = AnsiToWide(text);
    uint16_t* wideCaption = AnsiToWide(caption);
    const auto span = [](const uint16_t* units) {
        return std::span<const uint16_t>(units, units ? platform::WideTextLength(units) : 0);
    };
    const int answer = platform::MessageBoxW(span(wideText), span(wideCaption), style);
    platform::FreeBlock(wideText);
    platform::FreeBlock(wideCaption);
    return answer;
}

int IsValidPointer(const void* address) { return platform::IsBadWritePtr(address, 1); }

}  // namespace qob
