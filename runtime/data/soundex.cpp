// runtime/data/soundex.cpp
// Soundex: letter groups, digit coding, merging and padding.
#include "runtime/data/soundex.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace qob {
namespace {

constexpr size_t kMaxWordCharacters = 31;
constexpr char kDeleted = '-';   // a letter removed by a group rule

// Upper-cased letters of the word's first 31 characters, every other character
// a blank, without leading or trailing blanks.
std::string NormalizeWord(const char* word) {
    std::string text;
    for (size_t i = 0; i < kMaxWordCharacters && word[i] != '\0'; ++i) {
        char ch = word[i];
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
        text += (ch >= 'A' && ch <= 'Z') ? ch : ' ';
    }
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool At(const std::string& text, size_t i, const char* group) {
    return text.compare(i, std::strlen(group), group) == 0;
}

// The group rules of mode 0: marks the letters they delete, turns PH into F.
void ApplyLetterGroups(std::string& text) {
    if (At(text, 0, "PS") || At(text, 0, "PF")) text[0] = kDeleted;
    size_t i = 0;
    while (i < text.size()) {
        if (At(text, i, "DG") || At(text, i, "GH") || At(text, i, "KN") || At(text, i, "GN")) {
            text[i] = kDeleted;
            i += 2;
        } else if (At(text, i, "MB")) {
            text[i + 1] = kDeleted;
            i += 2;
        } else if (At(text, i, "PH")) {
            text[i] = 'F';
            text[i + 1] = kDeleted;
            i += 2;
        } else if (At(text, i, "TCH")) {
            text[i] = kDeleted;
            i += 3;
        } else if (At(text, i, "MP") && i + 2 < text.size() &&
                   (text[i + 2] == 'S' || text[i + 2] == 'T' || text[i + 2] == 'Z')) {
            text[i + 1] = kDeleted;
            i += 2;
        } else {
            ++i;
        }
    }
    std::erase(text, kDeleted);
}

char DigitOf(char letter) {
    //                                   ABCDEFGHIJKLMNOPQRSTUVWXYZ
    static constexpr char kDigits[] = "01230120022455012623010202";
    return kDigits[letter - 'A'];
}

}  // namespace

void Soundex(char* out, const char* word, int length, int mode) {
    if (mode != 0)
        length = 4;
    else if (length == 0)
        length = 4;
    else
        length = std::clamp(length, 4, 10);
    out[0] = '\0';
    if (word == nullptr) return;

    std::string text = NormalizeWord(word);
    if (text.empty()) return;
    if (mode == 0) ApplyLetterGroups(text);

    // The first letter stays aside: its own digit never merges with the next.
    const char first = text[0];
    std::string codes;
    for (size_t i = 1; i < text.size(); ++i) {
        const char ch = text[i];
        // Mode 1 drops H and W before merging, so equal digits around them merge.
        if (mode == 1 && (ch == 'H' || ch == 'W')) continue;
        codes += ch == ' ' ? ' ' : DigitOf(ch);
    }
    codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
    std::erase(codes, '0');
    std::erase(codes, ' ');

    std::string key = first + codes;
    key.resize(static_cast<size_t>(length), '0');
    std::memcpy(out, key.c_str(), key.size() + 1);
}

}  // namespace qob
