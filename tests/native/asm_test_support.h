// tests/native/asm_test_support.h
// A fixture that assembles a source from a clean compiler state and reads
// back the block's words and the errors reported.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "native/assembler.h"

namespace qob::testing {

struct Assembled {
    AsmResult result;
    std::vector<uint32_t> words;  // code and pool
    std::string errors;           // the short forms of the errors, in order
    [[nodiscard]] std::vector<uint32_t> Code() const {
        return {words.begin(), words.begin() + result.codeBytes / 4};
    }
    [[nodiscard]] std::vector<uint32_t> Pool() const {
        return {words.begin() + result.codeBytes / 4, words.end()};
    }
    // The words after the 11-word entry and before the 2-word final return.
    [[nodiscard]] std::vector<uint32_t> Body() const {
        if (result.codeBytes / 4 < 13) return {};
        return {words.begin() + 11, words.begin() + result.codeBytes / 4 - 2};
    }
};

class AsmTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    Assembled Assemble(std::string_view source, int32_t size = 65536, const AsmOptions& options = {});

    std::vector<uint32_t> blocks;
};

}  // namespace qob::testing
