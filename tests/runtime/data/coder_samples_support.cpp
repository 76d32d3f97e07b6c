// tests/runtime/data/coder_samples_support.cpp
// Generators of coder test inputs.
#include "runtime/data/coder_samples.h"

#include <random>

namespace qob::test {

Bytes RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(random());
    return bytes;
}

Bytes TextLikeBytes(size_t size, uint32_t seed) {
    static constexpr std::string_view kWords[] = {
        "the", "a", "of", "program", "value", "list", "window", "is", "to", "and",
        "compiled", "file", "PROC", "ENDPROC", "x$", "=", "+", "(", ")", "print",
        "sprite", "number", "text", "in", "for", "next", "while", "return", "0", "42"};
    static constexpr std::string_view kBreaks[] = {" ", " ", " ", " ", ", ", ".\n", "\r\n", "\t"};
    std::mt19937 random(seed);
    Bytes bytes;
    bytes.reserve(size + 16);
    while (bytes.size() < size) {
        const std::string_view word = kWords[random() % std::size(kWords)];
        const std::string_view gap = kBreaks[random() % std::size(kBreaks)];
        bytes.insert(bytes.end(), word.begin(), word.end());
        bytes.insert(bytes.end(), gap.begin(), gap.end());
    }
    bytes.resize(size);
    return bytes;
}

Bytes SmallAlphabetBytes(size_t size, int alphabet, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>('a' + random() % alphabet);
    return bytes;
}

Bytes RunBytes(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes;
    while (bytes.size() < size)
        bytes.insert(bytes.end(), 1 + random() % 300, static_cast<uint8_t>(random()));
    bytes.resize(size);
    return bytes;
}

Bytes RepeatedBlockBytes(size_t size, size_t period, uint32_t seed) {
    std::mt19937 random(seed);
    const Bytes block = RandomBytes(period, seed + 1);
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = random() % 50 == 0 ? static_cast<uint8_t>(random()) : block[i % period];
    return bytes;
}

Bytes SkewedBytes(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (uint8_t& b : bytes) {
        int k = 0;
        while (k < 255 && (random() & 1))
            ++k;
        b = static_cast<uint8_t>(k);
    }
    return bytes;
}

Bytes BytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes PackBits(std::string_view bits) {
    Bytes bytes;
    int used = 8;
    for (char c : bits) {
        if (c != '0' && c != '1')
            continue;
        if (used == 8) {
            bytes.push_back(0);
            used = 0;
        }
        if (c == '1')
            bytes.back() |= static_cast<uint8_t>(0x80 >> used);
        ++used;
    }
    return bytes;
}

}  // namespace qob::test
