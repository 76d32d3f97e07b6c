// tests/runtime/data/soundex_test.cpp
// Soundex keys in the three modes, lengths and words without letters.
#include "runtime/data/soundex.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace qob {
namespace {

std::string Key(const char* word, int length, int mode) {
    char out[kSoundexBufferSize + 8];
    std::memset(out, '#', sizeof out);
    Soundex(out, word, length, mode);
    EXPECT_LT(std::strlen(out), kSoundexBufferSize);
    return out;
}

TEST(Soundex, KeysOfWords) {
    struct Case { const char* word; const char* mode0; const char* mode1; const char* mode2; };
    const Case kCases[] = {
        {"Robert", "R163", "R163", "R163"},
        {"Rupert", "R163", "R163", "R163"},
        {"Tymczak", "T522", "T522", "T522"},
        {"Honeyman", "H555", "H555", "H555"},
        {"Lee", "L000", "L000", "L000"},
        {"Philip", "F410", "P410", "P410"},     // PH becomes F
        {"Knight", "N300", "K523", "K523"},     // KN and GH lose a letter
        {"Psalm", "S450", "P245", "P245"},      // initial PS
        {"Pfister", "F236", "P123", "P123"},    // initial PF
        {"Ashcraft", "A226", "A261", "A226"},   // H transparent only in mode 1
        {"robert", "R163", "R163", "R163"},     // case does not matter
        {"  Rob-ert!  ", "R163", "R163", "R163"},
        {"Dodge", "D200", "D320", "D320"},      // DG loses the D
        {"Agnes", "A520", "A252", "A252"},      // GN loses the G
        {"Lamb", "L500", "L510", "L510"},       // MB loses the B
        {"Butcher", "B260", "B326", "B326"},    // TCH loses the T
        {"Campsie", "C520", "C512", "C512"},    // MP before S loses the P
        {"Campbell", "C514", "C514", "C514"},   // but not before B
        {"Ab Bc", "A112", "A112", "A112"},      // a blank keeps equal digits apart
        {"A", "A000", "A000", "A000"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(Key(c.word, 4, 0), c.mode0) << c.word;
        EXPECT_EQ(Key(c.word, 4, 1), c.mode1) << c.word;
        EXPECT_EQ(Key(c.word, 4, 2), c.mode2) << c.word;
    }
}

TEST(Soundex, LengthRules) {
    struct Case { int length; int mode; const char* key; };
    const Case kCases[] = {
        {0, 0, "R163"}, {2, 0, "R163"}, {-3, 0, "R163"}, {5, 0, "R1630"},
        {10, 0, "R163000000"}, {12, 0, "R163000000"}, {10, 1, "R163"}, {10, 2, "R163"},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(Key("Robert", c.length, c.mode), c.key) << c.length << " mode " << c.mode;
    EXPECT_EQ(Key("Tymczak Honeyman", 10, 0), "T522555000");
}

TEST(Soundex, OnlyTheFirst31CharactersCount) {
    const std::string word = std::string(30, 'A') + "BC";  // the C is character 32
    EXPECT_EQ(Key(word.c_str(), 10, 0), "A100000000");
}

TEST(Soundex, NoLettersGiveAnEmptyKey) {
    for (const char* word : {"", "   ", "1234 -!", "\xC3\xA9\xFF"})
        for (int mode : {0, 1, 2}) EXPECT_EQ(Key(word, 4, mode), "") << word;
    for (int mode : {0, 1, 2}) EXPECT_EQ(Key(nullptr, 4, mode), "");
}

}  // namespace
}  // namespace qob
