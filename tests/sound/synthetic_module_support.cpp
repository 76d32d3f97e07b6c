// tests/sound/synthetic_module_support.cpp
// Writing the bytes of a test's module.
#include "synthetic_module_support.h"

#include <algorithm>

namespace qob::testing {
namespace {

void PutBigEndian16(std::vector<uint8_t>& bytes, int value) {
    bytes.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
    bytes.push_back(static_cast<uint8_t>(value & 0xFF));
}

}  // namespace

int SyntheticModule::PatternCount() const {
    int highest = 0;
    for (int order : orders) highest = std::max(highest, order);
    return highest + 1;
}

std::vector<uint8_t> SyntheticModule::Bytes() const {
    std::vector<uint8_t> bytes(20, 'T');
    for (int s = 0; s < 31; ++s) {
        const SyntheticSample sample = s < static_cast<int>(samples.size()) ? samples[s] : SyntheticSample{};
        bytes.insert(bytes.end(), 22, 'n');
        PutBigEndian16(bytes, static_cast<int>(sample.data.size() / 2));
        bytes.push_back(static_cast<uint8_t>(sample.finetune));
        bytes.push_back(static_cast<uint8_t>(sample.volume));
        PutBigEndian16(bytes, sample.loopStartWords);
        PutBigEndian16(bytes, sample.loopWords);
    }
    bytes.push_back(static_cast<uint8_t>(songLength));
    bytes.push_back(static_cast<uint8_t>(restart));
    for (int i = 0; i < 128; ++i) bytes.push_back(i < static_cast<int>(orders.size()) ? static_cast<uint8_t>(orders[i]) : 0);
    bytes.insert(bytes.end(), tag.begin(), tag.begin() + 4);
    const size_t patternStart = bytes.size();
    bytes.resize(patternStart + static_cast<size_t>(PatternCount()) * 64 * channels * 4, 0);
    for (const auto& [where, cell] : cells) {
        const auto [pattern, row, track] = where;
        uint8_t* p = bytes.data() + patternStart + ((static_cast<size_t>(pattern) * 64 + row) * channels + track) * 4;
        p[0] = static_cast<uint8_t>((cell.sample & 0xF0) | ((cell.period >> 8) & 0x0F));
        p[1] = static_cast<uint8_t>(cell.period & 0xFF);
        p[2] = static_cast<uint8_t>(((cell.sample & 0x0F) << 4) | (cell.effect & 0x0F));
        p[3] = static_cast<uint8_t>(cell.parameter);
    }
    for (const SyntheticSample& sample : samples)
        for (int8_t value : sample.data) bytes.push_back(static_cast<uint8_t>(value));
    return bytes;
}

SyntheticSample ConstantSample(int count, int8_t value, int volume) {
    SyntheticSample sample;
    sample.data.assign(static_cast<size_t>(count), value);
    sample.volume = volume;
    return sample;
}

}  // namespace qob::testing
