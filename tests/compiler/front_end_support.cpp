// tests/compiler/front_end_support.cpp
// The front-end fixture: clean compile state per test, token descriptions.
#include "front_end_support.h"

#include <cstdio>

#include "compiler/compile_messages.h"
#include "compiler/front_end/define_table.h"
#include "runtime/data/hash.h"

namespace qob::testing {

std::string DescribeTokens(const TokenNode* last) {
    const TokenNode* node = last;
    while (node != nullptr && node->previous != nullptr) node = node->previous;
    std::string description;
    for (; node != nullptr; node = node->next) {
        if (node->next != nullptr) {
            EXPECT_EQ(node->next->previous, node);
        }
        EXPECT_EQ(node->hash, HashName(node->text, std::char_traits<char>::length(node->text)));
        if (!description.empty()) description += ' ';
        for (const char* c = node->text; *c != '\0'; ++c) {
            const auto byte = static_cast<unsigned char>(*c);
            if (*c == '\r') description += "\\r";
            else if (*c == '\n') description += "\\n";
            else if (*c == '\t') description += "\\t";
            else if (byte < 32 || byte >= 127) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", byte);
                description += hex;
            } else description += *c;
        }
        description += '@' + std::to_string(node->line) + ':' + std::to_string(node->column);
    }
    return description;
}

std::string WithLineEnds(std::string_view source, std::string_view lineEnd) {
    std::string result;
    for (char c : source) {
        if (c == '\n')
            result += lineEnd;
        else
            result += c;
    }
    return result;
}

void FrontEndTest::SetUp() {
    ResetCompileMessages();
    GetCompileMessageState().warningsEnabled = true;
    ResetPreprocessor(1);
    SetPreprocessorHooks({});
    for (uint8_t owner : {kDefineOwnerProgram, kDefineOwnerGlobal, kDefineOwnerPredefined})
        RemoveDefinesByOwner(owner);
}

void FrontEndTest::TearDown() {
    FreeTokenList(tokens);
    tokens = nullptr;
    SetPreprocessorHooks({});
    ResetPreprocessor(1);
    for (uint8_t owner : {kDefineOwnerProgram, kDefineOwnerGlobal, kDefineOwnerPredefined})
        RemoveDefinesByOwner(owner);
    ResetCompileMessages();
}

std::string FrontEndTest::Run(std::string_view source, const char* fileName) {
    FreeTokenList(tokens);
    ClearIncludedFiles();
    tokens = PreprocessFile(fileName, source, nullptr, true, 0);
    return DescribeTokens(tokens);
}

std::string FrontEndTest::Errors() { return GetCompileMessageState().compileErrors; }

}  // namespace qob::testing
