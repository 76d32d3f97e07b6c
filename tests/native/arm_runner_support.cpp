// tests/native/arm_runner_support.cpp
#include "arm_runner_support.h"

#include <cstring>

#include "native/arm_cpu.h"
#include "platform/memory.h"

namespace qob::testing {

CodeBuffer::CodeBuffer(const std::vector<uint32_t>& words) {
    length_ = static_cast<uint32_t>(words.size() * 4);
    allocation_ = platform::AllocateZeroedBlock(length_ + 8192);
    base_ = static_cast<uint32_t>((reinterpret_cast<uintptr_t>(allocation_) + 4095) & ~uintptr_t{4095});
    Rewrite(words);
}

CodeBuffer::~CodeBuffer() {
    UnmarkArmCodeBlock(base_);
    platform::FreeBlock(allocation_);
}

void CodeBuffer::Rewrite(const std::vector<uint32_t>& words) {
    UnmarkArmCodeBlock(base_);
    std::memcpy(reinterpret_cast<void*>(uintptr_t{base_}), words.data(), words.size() * 4);
    length_ = static_cast<uint32_t>(words.size() * 4);
    MarkArmCodeBlock(base_, length_);
}

DataBuffer::DataBuffer(uint32_t bytes)
    : block_(static_cast<uint8_t*>(platform::AllocateZeroedBlock(bytes))), size_(bytes) {}

DataBuffer::~DataBuffer() { platform::FreeBlock(block_); }

uint32_t DataBuffer::base() const { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(block_)); }

uint32_t DataBuffer::word(uint32_t index) const {
    uint32_t value = 0;
    std::memcpy(&value, block_ + 4 * index, 4);
    return value;
}

void DataBuffer::set(uint32_t index, uint32_t value) { std::memcpy(block_ + 4 * index, &value, 4); }

std::vector<uint8_t> DataBuffer::bytes() const { return {block_, block_ + size_}; }

}  // namespace qob::testing
