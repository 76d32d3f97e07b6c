// tests/native/arm_runner_support.h
// A small runner for the emulated CPU: a code block made of given words
// (read and execute only in the engines) and a data buffer to read back.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace qob::testing {

// Below the stub page: never mapped in an engine.
constexpr uint32_t kUnmappedAddress = 0x100;

class CodeBuffer {
public:
    explicit CodeBuffer(const std::vector<uint32_t>& words);
    ~CodeBuffer();
    CodeBuffer(const CodeBuffer&) = delete;
    CodeBuffer& operator=(const CodeBuffer&) = delete;
    // Writes other words over the block, as an assembly into the same place does.
    void Rewrite(const std::vector<uint32_t>& words);
    [[nodiscard]] uint32_t base() const { return base_; }

private:
    void* allocation_ = nullptr;
    uint32_t base_ = 0;
    uint32_t length_ = 0;
};

class DataBuffer {
public:
    explicit DataBuffer(uint32_t bytes);
    ~DataBuffer();
    DataBuffer(const DataBuffer&) = delete;
    DataBuffer& operator=(const DataBuffer&) = delete;
    [[nodiscard]] uint32_t base() const;
    [[nodiscard]] uint32_t word(uint32_t index) const;
    void set(uint32_t index, uint32_t value);
    [[nodiscard]] std::vector<uint8_t> bytes() const;

private:
    uint8_t* block_ = nullptr;
    uint32_t size_ = 0;
};

}  // namespace qob::testing
