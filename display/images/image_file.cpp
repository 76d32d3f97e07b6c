// display/images/image_file.cpp
// Resolving, mapping and decoding picture files.
#include "display/images/image_file.h"

#include <span>

#include "display/images/image_decoding.h"
#include "platform/file_mapping.h"
#include "platform/files.h"

namespace qob {

size_t ResolvePath(std::string_view name, std::string& path) {
    if (name.empty()) return 0;
    if (platform::IsPathSeparator(name.front()))
        path.assign(name);
    else
        path = platform::GetApplicationDirectory().append(name);
    return path.size();
}

int MapFileReadOnly(MappedFile& file, std::string_view name) {
    UnmapFile(file);
    std::string path;
    if (ResolvePath(name, path) == 0) return 0;
    const std::optional<platform::FileView> view = platform::MapFileView(path);
    if (!view) return 0;
    file.view = view->data;
    file.end = view->data + view->size;
    return 1;
}

void UnmapFile(MappedFile& file) {
    if (file.view != nullptr) platform::UnmapFileView(platform::FileView{file.view, size_t(file.end - file.view)});
    file = MappedFile{};
}

PixelSurface* DecodeImageFile(const char* name) {
    if (name == nullptr) return nullptr;
    MappedFile file;
    if (MapFileReadOnly(file, name) == 0) return nullptr;
    PixelSurface* surface = ImageToSurface(std::span(file.view, file.end));
    UnmapFile(file);
    return surface;
}

}  // namespace qob
