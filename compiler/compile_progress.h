// compiler/compile_progress.h
// The progress report a compiler stage gives while it walks a unit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qob {

// Called once when a stage starts, with its text ("Compiling (main.qob)...")
// and the position 0, then once per item walked with a null text. The driver
// points it at the progress window; null reports nothing (quiet mode).
// Returns the next position worth reporting under the same total: a walk
// whose positions only grow skips the reports before it, which would change
// nothing (at least position + 1; a report that wants every position says so).
using CompileProgress = int64_t (*)(const char* text, int position, int total);

// The part of a file name after its last folder separator ("\" or "/").
[[nodiscard]] inline std::string_view FileNameWithoutFolder(std::string_view fileName) {
    const size_t separator = fileName.find_last_of("\\/");
    return separator == std::string_view::npos ? fileName : fileName.substr(separator + 1);
}

// "<stage> (<file name without folder>)...", the text a stage starts with.
[[nodiscard]] inline std::string StageProgressText(std::string_view stage, const char* fileName) {
    std::string text(stage);
    text += " (";
    text += FileNameWithoutFolder(fileName ? fileName : "");
    text += ")...";
    return text;
}

}  // namespace qob
