// platform/file_mapping.h
// Read-only views of whole files: a file found as the file layer finds names
// (either separator, any letter case), mapped into memory for reading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace qob::platform {

// A file's bytes in memory: [data, data + size). The view stays valid until
// UnmapFileView, even when the file is renamed or deleted meanwhile.
struct FileView {
    const uint8_t* data;
    size_t size;
};

// Maps an existing regular file read-only, whole. nullopt, with nothing left
// open, when the name resolves to nothing, to a directory or to another kind
// of entry, when the file cannot be opened or mapped, and for an empty file
// (as on the device, where a mapping of zero bytes cannot be made).
[[nodiscard]] std::optional<FileView> MapFileView(std::string_view path);

// Gives back a view made by MapFileView.
void UnmapFileView(const FileView& view);

}  // namespace qob::platform
