// tests/layers/include_layers_test.cpp
// No source file includes a header of a layer above its own; the check finds
// an include planted upward, with its file and line.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "include_layers.h"

namespace qob::testing {
namespace {

TEST(IncludeLayers, NoSourceFileIncludesAHigherLayer) {
    const std::vector<UpwardInclude> found = FindUpwardIncludes(QOB_SOURCE_ROOT);
    for (const UpwardInclude& include : found) ADD_FAILURE() << include.text;
    // The scan saw the tree: the runtime's own includes are there to be read.
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(QOB_SOURCE_ROOT) / "runtime/vm/vm.cpp"));
}

void Write(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

// A small tree with one include of each kind: allowed ones pass, upward and
// sideways ones are reported at their line.
TEST(IncludeLayers, PlantedIncludesAreFoundAtTheirLine) {
    const std::filesystem::path root = std::filesystem::path(::testing::TempDir()) / "include_layers_tree";
    std::filesystem::remove_all(root);
    Write(root / "runtime/vm/vm.cpp",
          "// vm\n#include \"runtime/vm/vm.h\"\n#include \"platform/memory.h\"\n#include \"compiler/linker.h\"\n");
    Write(root / "runtime/data/hash.cpp", "#include \"runtime/data/hash.h\"\n#include \"runtime/vm/vm.h\"\n");
    Write(root / "compiler/linker.cpp", "#include \"builtins/lists/list_builtins.h\"\n#include \"runtime/vm/vm.h\"\n");
    Write(root / "display/surface.cpp", "#include \"windows/window_records.h\"\n#include \"local.h\"\n");
    Write(root / "windows/forms.cpp", "#  include \"display/surface.h\"\n");
    Write(root / "host/driver.cpp", "#include \"engine/engine_state.h\"\n#include \"app/main.h\"\n");
    const std::vector<UpwardInclude> found = FindUpwardIncludes(root);
    std::vector<std::string> where;
    for (const UpwardInclude& include : found) where.push_back(include.file + ":" + std::to_string(include.line));
    EXPECT_EQ(where, (std::vector<std::string>{"compiler/linker.cpp:1", "host/driver.cpp:2", "runtime/data/hash.cpp:2",
                                               "runtime/vm/vm.cpp:4", "windows/forms.cpp:1"}));
    ASSERT_FALSE(found.empty());
    EXPECT_NE(found.back().text.find("windows/forms.cpp:1: windows includes \"display/surface.h\""), std::string::npos)
        << found.back().text;
    std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace qob::testing
