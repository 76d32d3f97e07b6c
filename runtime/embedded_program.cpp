// runtime/embedded_program.cpp
// Finding the compiled program appended to an executable.

#include "runtime/embedded_program.h"

#include <string_view>

#include "platform/files.h"

namespace qob {

std::string EmbeddedProgramMarker() {
    // Each character as its distance from a base the compiler cannot see, so
    // neither the text nor its folded constant is ever stored.
    static constexpr uint8_t kDistances[] = {16, 14, 2, 3, 0, 19, 0, 18, 19, 0, 17, 19};
    volatile char base = 'A';
    std::string marker;
    for (uint8_t distance : kDistances) marker += static_cast<char>(base + distance);
    return marker;
}

std::optional<size_t> FindEmbeddedMarker(std::span<const uint8_t> bytes) {
    const std::string marker = EmbeddedProgramMarker();
    // Every start of the executable runs this over the whole file: the
    // library search skips to the marker's first character at memchr speed.
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const size_t found = text.find(marker);
    if (found == std::string_view::npos) return std::nullopt;
    return found;
}

std::optional<std::vector<uint8_t>> ReadEmbeddedProgram(std::string_view executablePath) {
    const std::optional<std::string> file = platform::ReadFileBytes(executablePath);
    if (!file) return std::nullopt;
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(file->data()), file->size());
    const std::optional<size_t> offset = FindEmbeddedMarker(bytes);
    if (!offset) return std::nullopt;
    const std::span<const uint8_t> image = bytes.subspan(*offset + EmbeddedProgramMarker().size());
    return std::vector<uint8_t>(image.begin(), image.end());
}

}  // namespace qob
