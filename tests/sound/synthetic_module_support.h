// tests/sound/synthetic_module_support.h
// Tracker modules written by the tests: a header, patterns holding the cells
// a test sets, and the sample data, so that each case knows every byte.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace qob::testing {

struct ModuleCell {
    int sample = 0;  // 0 to 31
    int period = 0;  // 12 bits
    int effect = 0;  // 0 to 15
    int parameter = 0;
};

struct SyntheticSample {
    std::vector<int8_t> data;  // an even number of bytes
    int volume = 64;
    int finetune = 0;  // the whole byte
    int loopStartWords = 0;
    int loopWords = 0;
};

struct SyntheticModule {
    std::string tag = "M.K.";
    int channels = 4;
    int songLength = 1;
    int restart = 127;
    std::vector<int> orders = {0};
    std::vector<SyntheticSample> samples;
    std::map<std::tuple<int, int, int>, ModuleCell> cells;  // (pattern, row, track)

    void Set(int pattern, int row, int track, ModuleCell cell) { cells[{pattern, row, track}] = cell; }
    // Patterns written: the highest order byte of all 128 + 1.
    int PatternCount() const;
    std::vector<uint8_t> Bytes() const;
};

// A sample of count bytes of one value.
SyntheticSample ConstantSample(int count, int8_t value, int volume = 64);

}  // namespace qob::testing
