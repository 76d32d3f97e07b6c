// tests/layers/include_layers_support.cpp
// The layer table and the include scan.

#include "include_layers.h"

#include <algorithm>
#include <fstream>
#include <regex>
#include <string_view>

namespace qob::testing {
namespace {

// Each source folder and the height of its layer. A file may include headers
// of its own folder and of folders of a lower height; folders of one height
// (the compiler and the built-ins; the services) do not use each other, but
// the display may use the windows. The runtime's data coders sit below the
// rest of the runtime, which they never use.
struct Folder {
    std::string_view path;
    int height;
};
constexpr Folder kFolders[] = {
    {"platform", 0},
    {"runtime/data", 10},
    {"runtime", 11},
    {"compiler", 20}, {"builtins", 20},
    {"windows", 30}, {"native", 30}, {"sound", 30},
    {"display", 31},
    {"engine", 40},
    {"host", 50},
    {"app", 60},
};

// The folder a path (relative to the root, '/'-separated) lies in: the
// longest matching entry, or none.
const Folder* FolderOf(std::string_view path) {
    const Folder* best = nullptr;
    for (const Folder& folder : kFolders) {
        const bool inside = path.size() > folder.path.size() && path.substr(0, folder.path.size()) == folder.path &&
                            path[folder.path.size()] == '/';
        if (inside && (!best || folder.path.size() > best->path.size())) best = &folder;
    }
    return best;
}

bool MayInclude(const Folder& from, const Folder& to) {
    return &from == &to || to.height < from.height;
}

}  // namespace

std::vector<UpwardInclude> FindUpwardIncludes(const std::filesystem::path& root) {
    static const std::regex kInclude(R"(^\s*#\s*include\s*"([^"]+)\")");
    std::vector<UpwardInclude> found;
    std::vector<std::filesystem::path> files;
    for (const Folder& folder : kFolders) {
        const std::filesystem::path dir = root / folder.path;
        if (!std::filesystem::is_directory(dir)) continue;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
            const std::string extension = entry.path().extension().string();
            if (entry.is_regular_file() && (extension == ".h" || extension == ".cpp" || extension == ".c"))
                files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    for (const std::filesystem::path& path : files) {
        const std::string relative = path.lexically_relative(root).generic_string();
        const Folder* from = FolderOf(relative);
        std::ifstream in(path);
        std::string text;
        for (int line = 1; std::getline(in, text); ++line) {
            std::smatch match;
            if (!std::regex_search(text, match, kInclude)) continue;
            const std::string header = match[1];
            const Folder* to = FolderOf(header);
            // A header of no layer folder is a neighbour of the file, found
            // beside it; every layer's own headers are named from the root.
            if (!to || MayInclude(*from, *to)) continue;
            found.push_back({relative, line, header,
                             relative + ":" + std::to_string(line) + ": " + std::string(from->path) +
                                 " includes \"" + header + "\" of " + std::string(to->path) + ", a layer above it"});
        }
    }
    return found;
}

}  // namespace qob::testing
