// tests/layers/include_layers.h
// The layers of the source tree, bottom to top, and the check that every
// #include "..." of a source folder names a header of its own layer or of a
// layer below it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qob::testing {

// One include that reaches upward (or sideways, into another layer of the
// same height), as "file:line: ..." with the file relative to the root.
struct UpwardInclude {
    std::string file;
    int line;
    std::string header;
    std::string text;  // the whole finding, for the test's message
};

// Every upward include of the source folders under root.
[[nodiscard]] std::vector<UpwardInclude> FindUpwardIncludes(const std::filesystem::path& root);

}  // namespace qob::testing
