// host/embedded_program.cpp
// Finding the compiled program appended to an executable.

#include "host/embedded_program.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

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

namespace {

// Fields of a 64-bit little-endian ELF file.
template <typename T>
T FieldAt(const uint8_t* bytes, size_t offset) {
    T value;
    std::memcpy(&value, bytes + offset, sizeof value);
    return value;
}

bool SeekTo(std::FILE* file, uint64_t offset) {
    return offset <= static_cast<uint64_t>(INT64_MAX) && fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool ReadAt(std::FILE* file, uint64_t offset, void* buffer, size_t size) {
    return SeekTo(file, offset) && std::fread(buffer, 1, size, file) == size;
}

// Where the part of an ELF executable that its own headers describe ends:
// its code, data, symbols and the headers themselves. A program appended to
// the executable, marker first, lies after that part, which never holds the
// marker, so the search may start there and a start-up reads a few headers
// instead of its whole executable. 0 (search it all) for any file that is
// not such an executable or whose headers say something it cannot be.
uint64_t ElfContentEnd(std::FILE* file) {
    constexpr size_t kHeaderSize = 64;
    constexpr size_t kProgramHeaderSize = 56;
    constexpr size_t kSectionHeaderSize = 64;
    constexpr uint32_t kNoBits = 8;  // a section that takes no room in the file
    uint8_t header[kHeaderSize];
    if (!ReadAt(file, 0, header, sizeof header)) return 0;
    if (std::memcmp(header, "\x7F" "ELF", 4) != 0 || header[4] != 2 || header[5] != 1) return 0;
    const auto programOffset = FieldAt<uint64_t>(header, 32);
    const auto sectionOffset = FieldAt<uint64_t>(header, 40);
    const auto programEntrySize = FieldAt<uint16_t>(header, 54);
    const auto programCount = FieldAt<uint16_t>(header, 56);
    const auto sectionEntrySize = FieldAt<uint16_t>(header, 58);
    const auto sectionCount = FieldAt<uint16_t>(header, 60);
    if ((programCount && programEntrySize < kProgramHeaderSize) ||
        (sectionCount && sectionEntrySize < kSectionHeaderSize) || (sectionOffset && !sectionCount))
        return 0;
    if (fseeko(file, 0, SEEK_END) != 0) return 0;
    const off_t size = ftello(file);
    if (size < 0) return 0;
    const auto fileSize = static_cast<uint64_t>(size);
    // Every stretch must lie within the file; a sum past it means damage.
    uint64_t end = kHeaderSize;
    auto cover = [&](uint64_t offset, uint64_t length) {
        if (offset > fileSize || length > fileSize - offset) return false;
        end = std::max(end, offset + length);
        return true;
    };
    std::vector<uint8_t> table;
    if (programCount) {
        table.resize(size_t{programCount} * programEntrySize);
        if (!cover(programOffset, table.size()) || !ReadAt(file, programOffset, table.data(), table.size())) return 0;
        for (size_t i = 0; i < programCount; ++i) {
            const uint8_t* entry = table.data() + i * programEntrySize;
            if (!cover(FieldAt<uint64_t>(entry, 8), FieldAt<uint64_t>(entry, 32))) return 0;
        }
    }
    if (sectionCount) {
        table.resize(size_t{sectionCount} * sectionEntrySize);
        if (!cover(sectionOffset, table.size()) || !ReadAt(file, sectionOffset, table.data(), table.size())) return 0;
        for (size_t i = 0; i < sectionCount; ++i) {
            const uint8_t* entry = table.data() + i * sectionEntrySize;
            if (FieldAt<uint32_t>(entry, 4) != kNoBits && !cover(FieldAt<uint64_t>(entry, 24), FieldAt<uint64_t>(entry, 32)))
                return 0;
        }
    }
    return end;
}

}  // namespace

std::optional<std::vector<uint8_t>> ReadEmbeddedProgram(std::string_view executablePath) {
    std::FILE* file = platform::OpenFile(executablePath, "rb");
    if (!file) return std::nullopt;
    const uint64_t start = ElfContentEnd(file);
    if (!SeekTo(file, start)) {
        std::fclose(file);
        return std::nullopt;
    }
    // Every start reads its whole executable, which mostly carries no
    // program: it is searched through one small buffer, never held whole.
    // The buffer starts with the tail of the bytes before, in case the
    // marker lies across two reads.
    const std::string marker = EmbeddedProgramMarker();
    const size_t carried = marker.size() - 1;
    // Left unfilled: an executable with nothing after its own part reads
    // nothing into it, and its pages are never touched.
    const size_t bufferSize = carried + 65536;
    const std::unique_ptr<char[]> buffer = std::make_unique_for_overwrite<char[]>(bufferSize);
    size_t kept = 0;  // bytes of the previous read at the buffer's start
    std::optional<std::vector<uint8_t>> image;
    size_t got;
    while ((got = std::fread(buffer.get() + kept, 1, bufferSize - kept, file)) > 0) {
        const char* start = buffer.get();
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
        std::memmove(buffer.get(), start + length - kept, kept);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return std::nullopt;
    return image;
}

}  // namespace qob
