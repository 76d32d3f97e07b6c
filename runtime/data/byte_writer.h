// runtime/data/byte_writer.h
// Appends bytes to a caller's buffer of fixed capacity and refuses, rather
// than overruns, once the buffer is full.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace qob {

class ByteWriter {
public:
    explicit ByteWriter(std::span<uint8_t> output) : output(output) {}

    [[nodiscard]] bool Put(uint8_t value) {
        if (written == output.size())
            return false;
        output[written++] = value;
        return true;
    }

    [[nodiscard]] bool PutRepeated(uint8_t value, size_t count) {
        if (count > output.size() - written)
            return false;
        if (count == 0)  // an empty output span may have no data pointer
            return true;
        std::memset(output.data() + written, value, count);
        written += count;
        return true;
    }

    size_t Written() const { return written; }

private:
    std::span<uint8_t> output;
    size_t written = 0;
};

}  // namespace qob
