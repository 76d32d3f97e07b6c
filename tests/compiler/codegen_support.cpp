// tests/compiler/codegen_support.cpp
// The back-end fixture: stream notation, listings with node indexes, a
// registered vocabulary and a program context to generate into and run.
#include "codegen_support.h"

#include <cctype>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <unordered_map>

#include "compiler/class_list.h"
#include "compiler/compile_messages.h"
#include "compiler/front_end/parser_state.h"
#include "compiler/front_end/preprocessor.h"
#include "compiler/front_end/statement_parser.h"
#include "compiler/front_end/token_list.h"
#include "compiler/procedure_table.h"
#include "host/builtin_registry.h"
#include "host/command_line.h"
#include "platform/memory.h"
#include "runtime/memory/pool.h"
#include "runtime/registry/function_table.h"
#include "runtime/values/scope_moves.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/procedure_lookup.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace qob::testing {
namespace {

struct Prefix {
    const char* word;
    unsigned char kind;
};
constexpr Prefix kMarks[] = {{"T", 0xFB}, {"M", 0xF9}, {"C", 0xE0}, {"S", 0xE2}, {"I", 0xE4}, {"O", 0xE5}};
constexpr Prefix kHeaders[] = {{"PROC", 0xE9},  {"FUNC", 0xEC},  {"NPROC", 0xEA},  {"NFUNC", 0xC4},
                               {"FPROC", 0xE8}, {"FFUNC", 0xE7}, {"FNPROC", 0xEB}, {"FNFUNC", 0xEF}};

bool HasOutputs(unsigned char kind) { return kind == 0xEC || kind == 0xC4 || kind == 0xE7 || kind == 0xEF; }

int OutputsOf(std::string_view key, unsigned char kind) {
    const size_t comma = key.find(',');
    if (comma != std::string_view::npos) return std::atoi(std::string(key.substr(comma + 1)).c_str());
    return HasOutputs(kind) ? 1 : 0;
}

// One notation token as its stream text.
std::string StreamText(std::string_view word) {
    if (word == "<empty>") return "";
    const size_t colon = word.find(':');
    if (colon == std::string_view::npos || colon == 0 || word.substr(0, 2) == "::") return std::string(word);
    std::string_view prefix = word.substr(0, colon);
    const std::string_view rest = word.substr(colon + 1);
    for (const Prefix& mark : kMarks)
        if (prefix == mark.word) return std::string(1, static_cast<char>(mark.kind)) + std::string(rest);
    std::string_view flags;
    if (const size_t slash = prefix.find('/'); slash != std::string_view::npos) {
        flags = prefix.substr(slash + 1);
        prefix = prefix.substr(0, slash);
    }
    for (const Prefix& header : kHeaders) {
        if (prefix != header.word) continue;
        std::string text(1, static_cast<char>(header.kind));
        text += flags.find('_') != std::string_view::npos ? '_' : ' ';
        text += static_cast<char>(32 + OutputsOf(rest, header.kind));
        text += flags.find('L') != std::string_view::npos ? static_cast<char>(0xA2) : ' ';
        text += rest;
        return text;
    }
    return std::string(word);
}

std::string NotationOf(const char* text) {
    const auto kind = static_cast<unsigned char>(text[0]);
    if (!*text) return "<empty>";
    for (const Prefix& mark : kMarks)
        if (kind == mark.kind) return std::string(mark.word) + ":" + (text + 1);
    for (const Prefix& header : kHeaders) {
        if (kind != header.kind || std::strlen(text) < 4) continue;
        std::string flags;
        if (text[1] == '_') flags += '_';
        if (static_cast<unsigned char>(text[3]) == 0xA2) flags += 'L';
        return std::string(header.word) + (flags.empty() ? "" : "/" + flags) + ":" + (text + 4);
    }
    return text;
}

std::string ReplaceAddresses(const std::string& line, const std::unordered_map<uintptr_t, int>& index) {
    std::string out;
    for (size_t i = 0; i < line.size();) {
        const bool hex = line[i] == '0' && i + 2 < line.size() && (line[i + 1] == 'x' || line[i + 1] == 'X') &&
                         std::isxdigit(static_cast<unsigned char>(line[i + 2]));
        if (!hex) {
            out += line[i++];
            continue;
        }
        size_t end = i + 2;
        while (end < line.size() && std::isxdigit(static_cast<unsigned char>(line[end]))) ++end;
        const uintptr_t address = std::strtoull(line.substr(i + 2, end - i - 2).c_str(), nullptr, 16);
        const auto found = index.find(address);
        if (address == 0) {
            out += "-";
        } else if (found != index.end()) {
            out += "@";
            out += std::to_string(found->second);
        } else {
            out += "@?";
        }
        i = end;
    }
    return out;
}

// Runs of blanks shortened to one; bytes outside printable ASCII as <XX>.
std::string Squeezed(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 32 || byte >= 127) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02X>", byte);
            out += hex;
            continue;
        }
        out += c;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

}  // namespace

TokenNode* BuildStream(std::string_view notation, const char* fileName) {
    TokenNode* cursor = nullptr;
    int line = 1;
    int column = 0;
    for (size_t i = 0; i < notation.size();) {
        const char c = notation[i];
        if (c == '\n') {
            ++line;
            column = 0;
            ++i;
            continue;
        }
        if (c == ' ' || c == '\t') {
            ++i;
            continue;
        }
        size_t end = i;
        if (c == '"') {
            end = notation.find('"', i + 1);
            end = end == std::string_view::npos ? notation.size() : end + 1;
        } else {
            while (end < notation.size() && notation[end] != ' ' && notation[end] != '\n' && notation[end] != '\t')
                ++end;
        }
        EmitToken(cursor, StreamText(notation.substr(i, end - i)), fileName, line, ++column);
        i = end;
    }
    return cursor;
}

std::string DescribeNotation(const TokenNode* last) {
    const TokenNode* node = last;
    while (node && node->previous) node = node->previous;
    std::string text;
    for (; node; node = node->next) {
        if (!text.empty()) text += ' ';
        text += NotationOf(node->text);
    }
    return text;
}

std::string ListInstructions(const Instruction* first) {
    std::unordered_map<uintptr_t, int> index;
    int count = 0;
    for (const Instruction* node = first; node; node = node->next) index[reinterpret_cast<uintptr_t>(node)] = count++;
    std::string listing;
    for (const Instruction* node = first; node; node = node->next) {
        char* line = FormatInstructionLine(node);
        std::string text = ReplaceAddresses(line ? line : "", index);
        platform::FreeBlock(line);
        const size_t bar = text.find('|');
        if (bar != std::string::npos) text = text.substr(1, bar - 1) + " " + text.substr(bar + 1);
        listing += Squeezed(text) + "\n";
    }
    return listing;
}

std::string ErrorWithout(std::string_view text) {
    return std::string("error: (test.qob) [").append(text).append("]\n");
}

void CodegenTest::SetUp() {
    FreeFunctionTable();
    RegisterBuiltins();
    ResetCompileMessages();
    ResetPreprocessor(1);
    SetPreprocessorHooks({});
    Switches = RuntimeSwitches{};
    SetParserProgressHooks({});
    FreeUnitProcedures();
    FreeUnitClasses();
    context = CreateProgramContext();
    ASSERT_NE(context, nullptr);
    context->kind = kContextIndependent;
    context->quietEnd = 1;
    context->ownsClassRecords = 1;
    context->pool = CreatePool(0x80000);
    CreateBottomStackEntry(context);
    context->globalHead = AllocateVariableRecord(context, false);
    CurrentContext = context;
    LocalVariableList = context->globalHead;
    CurrentCompilerPool = context->pool;
    CurrentNamespaceHash = 0;
    CurrentInstruction = nullptr;
    StopFlag = false;
    EndingContext = nullptr;
    TryStack.depth = 0;
    RuntimeLogSwitch = 0;
}

void CodegenTest::FreeProgram() {
    // Frames cached by a run name the procedures' start nodes.
    FreeContextVariables(context);
    if (program) {
        Instruction* last = program;
        while (last->next) last = last->next;
        DeleteInstructionChain(context, last);
    }
    program = nullptr;
    context->instructions = nullptr;
    FreeRecordArray(procedures, procedureCount);
}

void CodegenTest::TearDown() {
    CurrentContext = context;
    CurrentInstruction = nullptr;
    MemberList = nullptr;
    TryStack.depth = 0;
    LocalVariableList = nullptr;
    FreeProgram();
    EndProgramContext(context);
    CurrentContext = nullptr;
    CurrentCompilerPool = nullptr;
    if (ConstantList) {
        FreeVariableChain(nullptr, ConstantList, true);
        FreeVariableList(nullptr, ConstantList);
        ConstantList = nullptr;
    }
    StopFlag = false;
    EndingContext = nullptr;
    FreeUnitProcedures();
    FreeUnitClasses();
    ResetCompileMessages();
    FreeFunctionTable();
}

std::string CodegenTest::Generate(TokenNode* stream, CodeGenOptions options) {
    FreeProgram();
    program = GenerateCode("test.qob", context, stream, procedures, procedureCount, entry, options);
    context->instructions = program;
    return ListInstructions(program);
}

std::string CodegenTest::Generate(std::string_view notation, bool optimize) {
    CodeGenOptions options;
    options.optimize = optimize;
    return Generate(BuildStream(notation), options);
}

namespace {

// The lines between the STARTPROC of MAIN (line 1) and its ENDPROC.
std::string MainBody(const std::string& listing) {
    const size_t start = listing.find('\n', listing.find('\n') + 1) + 1;
    const size_t end = listing.rfind("ENDPROC <E9> MAIN");
    if (end == std::string::npos) return listing;
    const size_t lineStart = listing.rfind('\n', end);
    return listing.substr(start, lineStart + 1 - start);
}

}  // namespace

std::string CodegenTest::GenerateBody(std::string_view body, bool optimize) {
    return MainBody(Generate(std::string("PROC:MAIN __ENDDECL\n").append(body).append("\nEND"), optimize));
}

std::string CodegenTest::CompileBody(std::string_view body, bool optimize) {
    return MainBody(CompileSource(std::string("PROC MAIN\n").append(body).append("\nEND;\n"), optimize));
}

std::string CodegenTest::CompileSource(std::string_view source, bool optimize, int linkPasses) {
    FreeUnitProcedures();
    FreeUnitClasses();
    ResetPreprocessor(linkPasses);
    TokenNode* tokens = PreprocessFile("test.qob", source, nullptr, true, 0);
    TokenNode* stream = ParseSource("test.qob", 0, tokens);
    LinkOptions link;
    link.passLimit = linkPasses;
    stream = LinkProgram("test.qob", stream, link);
    CodeGenOptions options;
    options.optimize = optimize;
    return Generate(stream, options);
}

bool CodegenTest::RunEntry() {
    if (!entry.entry) return false;
    RunProcedureIn(context, entry.entry);
    return true;
}

double CodegenTest::NumberOf(const char* name) const {
    VariableRecord* variable = FindNamedItem(context->globalHead, name);
    if (!variable) return std::numeric_limits<double>::quiet_NaN();
    char* text = nullptr;
    double value = 0.0;
    GetVariableValue(variable, &text, &value, nullptr);
    return value;
}

std::string CodegenTest::TextOf(const char* name) const {
    VariableRecord* variable = FindNamedItem(context->globalHead, name);
    if (!variable) return "<none>";
    char* text = nullptr;
    double value = 0.0;
    GetVariableValue(variable, &text, &value, nullptr);
    return text ? text : "";
}

std::string CodegenTest::Errors() { return GetCompileMessageState().compileErrors; }

int CodegenTest::ErrorCount() { return GetCompileMessageState().errorCount; }

}  // namespace qob::testing
