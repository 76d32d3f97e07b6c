// sound/sound_stream.cpp
// The memory, file and switching streams, and the loaders' path rule.
#include "sound/sound_stream.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/files.h"
#include "platform/text_codec.h"

namespace qob {

int MemoryStream::Open(const void* data, size_t newSize) {
    if (!data) return 0;
    base = static_cast<const uint8_t*>(data);
    size = newSize;
    position = 0;
    return 1;
}

int MemoryStream::Close() {
    base = nullptr;
    size = 0;
    position = 0;
    return 1;
}

size_t MemoryStream::Read(void* buffer, size_t count) {
    if (!base || position < 0 || static_cast<uint64_t>(position) >= size) return 0;
    const size_t available = size - static_cast<size_t>(position);
    const size_t taken = std::min(count, available);
    std::memcpy(buffer, base + position, taken);
    position += static_cast<int64_t>(taken);
    return taken;
}

int MemoryStream::Seek(int64_t offset, int origin) {
    // Sizes of memory blocks fit 63 bits, so the sums below cannot overflow
    // for offsets that are themselves in range; others are refused first.
    const int64_t end = static_cast<int64_t>(size);
    if (offset < -end || offset > end) return 0;
    int64_t target;
    switch (origin) {
        case kSeekFromCurrent: target = position + offset; break;
        case kSeekFromStart: target = offset; break;
        case kSeekBackFromEnd: target = end - offset; break;
        default: return 0;
    }
    if (target < 0 || target > end) return 0;
    position = target;
    return 1;
}

int FileStream::Open(const std::string& path) {
    Close();
    file = platform::OpenFile(path, "rb");
    return file ? 1 : 0;
}

int FileStream::Close() {
    if (file) std::fclose(file);
    file = nullptr;
    return 1;
}

size_t FileStream::Read(void* buffer, size_t count) { return file ? std::fread(buffer, 1, count, file) : 0; }

int FileStream::Seek(int64_t offset, int origin) {
    if (!file) return 0;
    int whence;
    switch (origin) {
        case kSeekFromCurrent: whence = SEEK_CUR; break;
        case kSeekFromStart: whence = SEEK_SET; break;
        case kSeekBackFromEnd:
            // Counted back from the end, as for a memory stream.
            if (offset == INT64_MIN) return 0;
            offset = -offset;
            whence = SEEK_END;
            break;
        default: return 0;
    }
    return fseeko(file, static_cast<off_t>(offset), whence) == 0 ? 1 : 0;
}

int64_t FileStream::Tell() { return file ? static_cast<int64_t>(ftello(file)) : -1; }

int64_t FileStream::Size() {
    if (!file) return -1;
    const off_t here = ftello(file);
    if (here < 0) return -1;
    if (fseeko(file, 0, SEEK_END) != 0) return -1;
    const off_t end = ftello(file);
    if (fseeko(file, here, SEEK_SET) != 0) return -1;
    return static_cast<int64_t>(end);
}

int SwitchingStream::OpenFile(const std::string& path) {
    Close();
    auto stream = std::unique_ptr<FileStream>(new (std::nothrow) FileStream);
    if (!stream || !stream->Open(path)) return 0;
    inner = std::move(stream);
    return 1;
}

int SwitchingStream::OpenMemory(const void* data, size_t size) {
    Close();
    auto stream = std::unique_ptr<MemoryStream>(new (std::nothrow) MemoryStream);
    if (!stream || !stream->Open(data, size)) return 0;
    inner = std::move(stream);
    return 1;
}

int SwitchingStream::Close() {
    if (inner) inner->Close();
    inner.reset();
    return 1;
}

std::optional<std::string> ResolveSoundPath(std::span<const uint16_t> path, std::string_view executableFolder) {
    if (std::find(path.begin(), path.end(), uint16_t{0}) != path.end()) return std::nullopt;
    std::string text = platform::EncodeAnsi(path);
    if (!text.empty() && platform::IsPathSeparator(text[0])) return text;
    size_t cut = executableFolder.size();
    while (cut > 0 && !platform::IsPathSeparator(executableFolder[cut - 1])) --cut;
    if (cut == 0) return std::nullopt;
    return std::string(executableFolder.substr(0, cut)) + text;
}

std::optional<std::string> ResolveSoundPath(std::span<const uint16_t> path) {
    return ResolveSoundPath(path, platform::GetApplicationDirectory());
}

}  // namespace qob
