// tests/fuzz/regex_format_fuzz.cpp
// libFuzzer target for the two small languages programs hand the text
// built-ins: regular expressions (compiled, matched, searched) and printf
// formats with arguments. A first byte "F" chooses a format, any other a
// pattern; lines split the rest.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "builtins/formatting/printf_format.h"
#include "builtins/regex/regex_engine.h"
#include "platform/text_codec.h"

namespace {

std::u16string Decode(std::string_view text) {
    const std::vector<uint16_t> units = qob::platform::DecodeAnsi(text);
    return std::u16string(units.begin(), units.end());
}

// pattern "\n" subject
void FuzzRegex(std::string_view input) {
    const size_t split = input.find('\n');
    const std::u16string pattern = Decode(input.substr(0, split));
    const std::u16string subject = Decode(split == std::string_view::npos ? "" : input.substr(split + 1));
    std::string error;
    std::unique_ptr<qob::CompiledRegex> regex = qob::RegexCompile(pattern, error);
    if (!regex) {
        if (error.empty()) std::abort();
        return;
    }
    (void)qob::RegexMatch(*regex, subject);
    size_t start = 0;
    size_t end = 0;
    if (qob::RegexSearch(*regex, subject, start, end) && (start > end || end > subject.size())) std::abort();
    for (const qob::RegexSubMatch& sub : regex->subMatches)
        if (sub.start + sub.length > subject.size()) std::abort();
}

// format "\n" then arguments, one a line: a line starting with "#" is the
// number after it, any other line a text.
void FuzzFormat(std::string_view input) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at <= input.size()) {
        const size_t end = std::min(input.find('\n', at), input.size());
        lines.emplace_back(input.substr(at, end - at));
        at = end + 1;
    }
    std::vector<qob::FormatArgument> arguments;
    for (size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].starts_with('#')) arguments.push_back({nullptr, std::strtod(lines[i].c_str() + 1, nullptr), 0});
        else arguments.push_back({lines[i].c_str(), 0.0, static_cast<uint32_t>(i)});
    }
    constexpr size_t kLimit = 1 << 16;
    std::string output;
    if (qob::FormatPrintfInto(output, lines[0], arguments, kLimit) && output.size() > kLimit) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] == 'F') FuzzFormat(input);
    else FuzzRegex(input);
    return 0;
}
