// tests/compiler/parser_support.cpp
// The parser fixture: the registered vocabulary, a clean compile state per
// test, stream and message descriptions.
#include "parser_support.h"

#include <cstdio>

#include "compiler/class_list.h"
#include "compiler/compile_messages.h"
#include "compiler/front_end/parser_state.h"
#include "compiler/front_end/preprocessor.h"
#include "compiler/front_end/statement_parser.h"
#include "compiler/procedure_table.h"
#include "host/builtin_registry.h"
#include "host/command_line.h"
#include "runtime/registry/function_table.h"

namespace qob::testing {
namespace {

bool IsHeaderKind(unsigned char byte) {
    switch (byte) {
    case 0xE9: case 0xEC: case 0xEA: case 0xC4: case 0xE8: case 0xE7: case 0xEB: case 0xEF:
        return true;
    default:
        return false;
    }
}

std::string Hex(unsigned char byte) {
    char text[8];
    std::snprintf(text, sizeof text, "<%02X>", byte);
    return text;
}

std::string DescribeToken(std::string_view text) {
    if (text.empty()) return "<empty>";
    const auto first = static_cast<unsigned char>(text[0]);
    std::string shown;
    if (IsHeaderKind(first) && text.size() >= 4) {
        shown = Hex(first);
        shown += text[1] == '_' ? '_' : '-';
        shown += std::to_string(static_cast<unsigned char>(text[2]) - 32);
        shown += static_cast<unsigned char>(text[3]) == 0xA2 ? 'L' : '-';
        text.remove_prefix(4);
    }
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 32 || byte >= 127)
            shown += Hex(byte);
        else
            shown += c;
    }
    return shown;
}

std::string ReadLog(std::FILE* log) {
    std::string text;
    std::rewind(log);
    char buffer[512];
    size_t read;
    while ((read = std::fread(buffer, 1, sizeof buffer, log)) > 0) text.append(buffer, read);
    return text;
}

}  // namespace

std::string DescribeStream(const TokenNode* last) {
    const TokenNode* node = last;
    while (node != nullptr && node->previous != nullptr) node = node->previous;
    std::string description;
    for (; node != nullptr; node = node->next) {
        if (node->next != nullptr) {
            EXPECT_EQ(node->next->previous, node);
        }
        if (!description.empty()) description += ' ';
        description += DescribeToken(node->text);
    }
    return description;
}

std::string ErrorAt(std::string_view text, std::string_view token, int line, int column) {
    return "error: (test.qob) [" + std::string(text) + " at '" + std::string(token) + "' (" +
           std::to_string(line) + "," + std::to_string(column) + ")]\n";
}

std::string WarningAt(std::string_view text, std::string_view token, int line, int column) {
    return "** warning ** (test.qob) " + std::string(text) + " at '" + std::string(token) + "' (" +
           std::to_string(line) + "," + std::to_string(column) + ")\n";
}

void ParserTest::SetUp() {
    FreeFunctionTable();
    RegisterBuiltins();
    ResetCompileMessages();
    CompileMessageState& messages = GetCompileMessageState();
    messages.warningsEnabled = true;
    messages.logEnabled = true;
    messages.logStream = std::tmpfile();
    ASSERT_NE(messages.logStream, nullptr);
    ResetPreprocessor(1);
    SetPreprocessorHooks({});
    Switches = RuntimeSwitches{};
    SetParserProgressHooks({});
    FreeUnitProcedures();
    FreeUnitClasses();
}

void ParserTest::TearDown() {
    FreeTokenList(stream);
    stream = nullptr;
    FreeUnitProcedures();
    FreeUnitClasses();
    Switches = RuntimeSwitches{};
    SetParserProgressHooks({});
    CompileMessageState& messages = GetCompileMessageState();
    if (messages.logStream != nullptr) std::fclose(messages.logStream);
    messages.logStream = nullptr;
    messages.logEnabled = false;
    ResetCompileMessages();
    FreeFunctionTable();
}

std::string ParserTest::Parse(std::string_view source, int mode) {
    FreeTokenList(stream);
    ClearIncludedFiles();
    TokenNode* tokens = PreprocessFile("test.qob", source, nullptr, true, 0);
    stream = ParseSource("test.qob", mode, tokens);
    warnings_.clear();
    std::string log = ReadLog(GetCompileMessageState().logStream);
    for (size_t start = 0; start < log.size();) {
        size_t end = log.find('\n', start);
        end = end == std::string::npos ? log.size() : end + 1;
        std::string_view line(log.data() + start, end - start);
        if (line.rfind("** warning **", 0) == 0) warnings_ += line;
        start = end;
    }
    return DescribeStream(stream);
}

std::string ParserTest::Errors() { return GetCompileMessageState().compileErrors; }

}  // namespace qob::testing
