// display/images/image_file.h
// Picture files: names resolved as programs give them, the file mapped
// read-only, and its bytes decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "display/pixel_surface.h"

namespace qob {

// A name that starts with a separator ("\" or "/") is taken as it stands;
// any other lies in the application directory. path receives the result, of
// any length; returns its length, or 0 (path unchanged) for an empty name.
size_t ResolvePath(std::string_view name, std::string& path);

// A file mapped for reading: its bytes are [view, end).
struct MappedFile {
    const uint8_t* view = nullptr;  // null when nothing is mapped
    const uint8_t* end = nullptr;
};

// Maps the file of that name (resolved as above, then found without regard
// to letter case) read-only, after unmapping what the record held. 1, or 0
// with nothing mapped: no such file, a directory, an empty file, or a file
// that cannot be opened or mapped.
int MapFileReadOnly(MappedFile& file, std::string_view name);

// Unmaps the record's file, if any, and clears the record.
void UnmapFile(MappedFile& file);

// The picture in the named file as a new surface (see ImageToSurface), or
// null: a null name, no file that maps, or bytes that are no picture we read.
[[nodiscard]] PixelSurface* DecodeImageFile(const char* name);

}  // namespace qob
