// runtime/data/cipher.cpp
// The keyed additive cipher over bytes and 16-bit units.
#include "runtime/data/cipher.h"

#include <cstring>

namespace qob {
namespace {

// Walks the key cyclically from position start modulo its length.
class KeyWalk {
public:
    KeyWalk(const char* key, size_t length, int32_t start)
        : key_(key), length_(length), position_(start > 0 ? static_cast<size_t>(start) % length : 0) {}

    // The current key byte as a signed value; moves to the next position.
    int Next() {
        const int value = static_cast<int8_t>(key_[position_]);
        if (++position_ == length_) position_ = 0;
        return value;
    }

private:
    const char* key_;
    size_t length_;
    size_t position_;
};

}  // namespace

void CipherBytes(void* buffer, int32_t length, const char* key, bool decrypt, int32_t start) {
    // An empty key must return here: the walk would never wrap and would read
    // past the terminator.
    const size_t keyLength = key ? std::strlen(key) : 0;
    if (keyLength == 0 || length <= 0) return;
    auto* bytes = static_cast<uint8_t*>(buffer);
    // Whole compiled files go through here at every load: the key is laid
    // out repeatedly, already negated for deciphering, so that a fixed-size
    // stretch of buffer takes one plain byte-wise addition the compiler can
    // vectorise.
    constexpr size_t kStretch = 256;
    if (keyLength <= kStretch / 4 && static_cast<size_t>(length) >= 2 * kStretch) {
        uint8_t laid[kStretch];
        KeyWalk walk(key, keyLength, start);
        const size_t period = kStretch - kStretch % keyLength;  // whole key turns per stretch
        for (size_t i = 0; i < period; ++i) {
            const int k = walk.Next();
            laid[i] = static_cast<uint8_t>(decrypt ? -k : k);
        }
        // Sixteen lanes added at once: the plain loop over a stretch whose
        // length is known only here is not vectorised by an -O2 build.
        using Lanes = uint8_t __attribute__((vector_size(16)));
        const size_t wholeLanes = period - period % sizeof(Lanes);
        size_t done = 0;
        const auto total = static_cast<size_t>(length);
        for (; done + period <= total; done += period) {
            size_t i = 0;
            for (; i < wholeLanes; i += sizeof(Lanes)) {
                Lanes data;
                Lanes keyLanes;
                std::memcpy(&data, bytes + done + i, sizeof data);
                std::memcpy(&keyLanes, laid + i, sizeof keyLanes);
                data += keyLanes;
                std::memcpy(bytes + done + i, &data, sizeof data);
            }
            for (; i < period; ++i) bytes[done + i] = static_cast<uint8_t>(bytes[done + i] + laid[i]);
        }
        for (size_t i = 0; done + i < total; ++i) bytes[done + i] = static_cast<uint8_t>(bytes[done + i] + laid[i]);
        return;
    }
    KeyWalk walk(key, keyLength, start);
    for (int32_t i = 0; i < length; ++i) {
        const int k = walk.Next();
        bytes[i] = static_cast<uint8_t>(decrypt ? bytes[i] - k : bytes[i] + k);
    }
}

void CipherWords(uint16_t* units, int32_t count, const char* key, bool decrypt, int32_t start) {
    const size_t keyLength = key ? std::strlen(key) : 0;
    if (keyLength == 0 || count <= 0) return;
    KeyWalk walk(key, keyLength, start);
    for (int32_t i = 0; i < count; ++i) {
        const int k = walk.Next();
        const int result = decrypt ? units[i] - k : units[i] + k;
        units[i] = static_cast<uint16_t>(static_cast<int16_t>(static_cast<int8_t>(result & 0xFF)));
    }
}

}  // namespace qob
