// runtime/embedded_program.cpp
// Finding the compiled program appended to an executable.

#include "runtime/embedded_program.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
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
    std::FILE* file = platform::OpenFile(executablePath, "rb");
    if (!file) return std::nullopt;
    // Every start reads its whole executable, which mostly carries no
    // program: it is searched through one small buffer, never held whole.
    // The buffer starts with the tail of the bytes before, in case the
    // marker lies across two reads.
    const std::string marker = EmbeddedProgramMarker();
    const size_t carried = marker.size() - 1;
    std::vector<char> buffer(carried + 65536);
    size_t kept = 0;  // bytes of the previous read at the buffer's start
    std::optional<std::vector<uint8_t>> image;
    size_t got;
    while ((got = std::fread(buffer.data() + kept, 1, buffer.size() - kept, file)) > 0) {
        const char* start = buffer.data();
        const size_t length = kept + got;
        if (image) {
            image->insert(image->end(), start + kept, start + length);
            continue;
        }
        const size_t found = std::string_view(start, length).find(marker);
        if (found != std::string_view::npos) {
            image.emplace(start + found + marker.size(), start + length);
            continue;
        }
        kept = std::min(carried, length);
        std::memmove(buffer.data(), start + length - kept, kept);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return std::nullopt;
    return image;
}

}  // namespace qob
