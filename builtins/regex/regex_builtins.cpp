// builtins/regex/regex_builtins.cpp
// The built-ins over the regex engine: the last compiled pattern, its
// sub-matches mapped to bytes of the subject, and REXERROR%.
#include "builtins/regex/regex_builtins.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "builtins/operators/operator_values.h"
#include "builtins/regex/regex_engine.h"
#include "builtins/texts/text_arguments.h"
#include "platform/memory.h"
#include "platform/text_codec.h"
#include "runtime/values/variable_store.h"

namespace qob {
namespace {

// A group's match in bytes of the subject.
struct ByteSpan {
    size_t start;
    size_t length;
};

// The last compiled pattern of the process, with the pattern it came from
// and the sub-matches of the last match or search.
struct LastRegex {
    std::unique_ptr<CompiledRegex> regex;
    std::u16string pattern;
    std::vector<ByteSpan> subMatches;
};

LastRegex gLast;

// A text never decodes to more units than it has bytes.
std::u16string Decode(std::string_view text) {
    std::u16string units(text.size(), u'\0');
    const size_t length =
        platform::DecodeAnsi(text, std::span<uint16_t>(reinterpret_cast<uint16_t*>(units.data()), units.size()));
    units.resize(length);
    return units;
}

// The bytes the first count units of the subject encode to.
size_t ByteOffset(std::u16string_view units, size_t count) {
    const auto* data = reinterpret_cast<const uint16_t*>(units.data());
    return platform::EncodeAnsi(std::span<const uint16_t>(data, std::min(count, units.size())), std::span<char>());
}

// The compiled form of the pattern: the last one again when the pattern is
// the same, else a new compile (null after an error, told in REXERROR%).
CompiledRegex* PrepareRegex(const StackEntry& pattern) {
    std::u16string units = Decode(static_cast<const char*>(ArgumentText(pattern, false).units));
    if (gLast.regex && gLast.pattern == units) return gLast.regex.get();
    RegexFree();
    std::string error;
    gLast.regex = RegexCompile(units, error);
    if (!gLast.regex) {
        DeclareVariable("REXERROR%", error.c_str(), 0.0, nullptr, static_cast<int64_t>(error.size() + 1));
        return nullptr;
    }
    gLast.pattern = std::move(units);
    return gLast.regex.get();
}

void RecordByteSpans(const CompiledRegex& regex, std::u16string_view subject) {
    gLast.subMatches.clear();
    for (const RegexSubMatch& sub : regex.subMatches) {
        const size_t start = ByteOffset(subject, sub.start);
        gLast.subMatches.push_back({start, ByteOffset(subject, sub.start + sub.length) - start});
    }
}

// A copy of the text from byte offset on (the empty text past its end).
void* CopyTextFrom(std::string_view text, size_t offset) {
    const std::string_view rest = offset < text.size() ? text.substr(offset) : std::string_view();
    return CopyText({rest.data(), rest.size()}, false);
}

// Stores a copy made beforehand (the variable may hold the very text it was
// cut from) into the variable a cell stands for, and frees the copy.
void StoreCopy(const StackEntry& cell, void* copy) {
    VariableRecord* variable = copy ? TargetVariable(cell) : nullptr;
    if (variable) StoreText(variable, copy, false, cell.variable ? EntryField(cell) : nullptr);
    platform::FreeBlock(copy);
}

void StoreNumberInto(const StackEntry& cell, double value) {
    if (VariableRecord* variable = TargetVariable(cell))
        StoreNumber(variable, value, cell.variable ? EntryField(cell) : nullptr);
}

std::string_view TextOf(const StackEntry& cell) {
    const TextSpan text = ArgumentText(cell, false);
    return {static_cast<const char*>(text.units), text.length};
}

}  // namespace

void RegexFree() {
    gLast.regex.reset();
    gLast.pattern.clear();
    gLast.subMatches.clear();
}

void Builtin_match() {
    StackEntry text = TakeOperand();
    StackEntry pattern = TakeOperand();
    bool matched = false;
    if (CompiledRegex* regex = PrepareRegex(pattern)) {
        const std::u16string subject = Decode(TextOf(text));
        matched = RegexMatch(*regex, subject);
        RecordByteSpans(*regex, subject);
    }
    ReleaseOperand(pattern);
    ReleaseOperand(text);
    PushNumberResult(matched ? 1.0 : 0.0);
}

void Builtin_search() {
    StackEntry endVariable = TakeOperand();
    StackEntry startVariable = TakeOperand();
    StackEntry text = TakeOperand();
    StackEntry pattern = TakeOperand();
    bool found = false;
    if (CompiledRegex* regex = PrepareRegex(pattern)) {
        const std::string_view bytes = TextOf(text);
        const std::u16string subject = Decode(bytes);
        size_t start = 0;
        size_t end = 0;
        found = RegexSearch(*regex, subject, start, end);
        RecordByteSpans(*regex, subject);
        if (found) {
            void* fromStart = CopyTextFrom(bytes, ByteOffset(subject, start));
            void* fromEnd = CopyTextFrom(bytes, ByteOffset(subject, end));
            StoreCopy(startVariable, fromStart);
            StoreCopy(endVariable, fromEnd);
        }
    }
    ReleaseOperand(pattern);
    ReleaseOperand(text);
    ReleaseOperand(startVariable);
    ReleaseOperand(endVariable);
    PushNumberResult(found ? 1.0 : 0.0);
}

void Builtin_subexpcount() { PushNumberResult(gLast.regex ? gLast.regex->groupCount : 0); }

void Builtin_subexp() {
    StackEntry lengthVariable = TakeOperand();
    StackEntry startVariable = TakeOperand();
    StackEntry group = TakeOperand();
    StackEntry text = TakeOperand();
    if (gLast.regex) {
        const int32_t number = ArgumentInteger(group);
        const bool known = number >= 0 && static_cast<size_t>(number) < gLast.subMatches.size();
        const ByteSpan span = known ? gLast.subMatches[static_cast<size_t>(number)] : ByteSpan{SIZE_MAX, 0};
        StoreCopy(startVariable, CopyTextFrom(TextOf(text), span.start));
        StoreNumberInto(lengthVariable, static_cast<double>(span.length));
    }
    ReleaseOperand(text);
    ReleaseOperand(group);
    ReleaseOperand(startVariable);
    ReleaseOperand(lengthVariable);
}

}  // namespace qob
