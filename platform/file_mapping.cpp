// platform/file_mapping.cpp
// Whole-file read-only mappings through mmap.
#include "platform/file_mapping.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/files.h"

namespace qob::platform {

std::optional<FileView> MapFileView(std::string_view path) {
    const std::optional<std::string> host = ResolvePath(path);
    if (!host) return std::nullopt;
    const int fd = open(host->c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat info;
    void* data = MAP_FAILED;
    // The mapping keeps its own reference to the file, so the descriptor is
    // closed at once.
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0)
        data = mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (data == MAP_FAILED) return std::nullopt;
    return FileView{static_cast<const uint8_t*>(data), static_cast<size_t>(info.st_size)};
}

void UnmapFileView(const FileView& view) {
    if (view.data != nullptr) munmap(const_cast<uint8_t*>(view.data), view.size);
}

}  // namespace qob::platform
