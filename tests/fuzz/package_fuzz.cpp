// tests/fuzz/package_fuzz.cpp
// A package file's bytes (read without a password, so that the bytes are the
// plain layout): checked, its index parsed, and every member it lists as
// readable read whole.

#include <cstdint>
#include <span>
#include <vector>

#include "builtins/packages/package_file.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qob;
    const PackageContents contents = DecodePackageBytes(std::span(data, size), "");
    if (contents.status != PackageStatus::Ok) return 0;
    const std::vector<PackageMember> members = ParsePackageIndex(contents.index, contents.data.size());
    unsigned sum = 0;
    for (const PackageMember& member : members) {
        if (!member.readable) continue;
        // A readable member lies inside the data area; the sanitizer checks it.
        for (uint32_t i = 0; i < member.size; ++i) sum += contents.data[member.offset + i];
    }
    return static_cast<int>(sum & 0);
}
