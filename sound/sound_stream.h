// sound/sound_stream.h
// SoundStream: the byte stream that the sound loaders read files and memory
// blocks through, its memory and file kinds, and the loaders' path rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qob {

// Seek origins of the stream interface (not those of the C library).
constexpr int kSeekFromCurrent = 0;
constexpr int kSeekFromStart = 1;
constexpr int kSeekBackFromEnd = 2;  // the offset counts back from the end

// Close and Seek return 1 for success and 0 for failure; Read returns the
// bytes read; Tell and Size return byte counts (-1 when unknown).
class SoundStream {
public:
    SoundStream() = default;
    SoundStream(const SoundStream&) = delete;
    SoundStream& operator=(const SoundStream&) = delete;
    virtual ~SoundStream() = default;

    virtual int Close() = 0;
    [[nodiscard]] virtual size_t Read(void* buffer, size_t count) = 0;
    // A seek to a position below 0 or to an unknown origin fails and leaves
    // the position as it was.
    [[nodiscard]] virtual int Seek(int64_t offset, int origin) = 0;
    [[nodiscard]] virtual int64_t Tell() = 0;
    [[nodiscard]] virtual int64_t Size() = 0;
};

// A block of memory that the stream reads but does not own.
class MemoryStream final : public SoundStream {
public:
    // 0 for a null base.
    int Open(const void* data, size_t size);
    int Close() override;
    size_t Read(void* buffer, size_t count) override;
    // Only new positions from 0 to the size are taken.
    int Seek(int64_t offset, int origin) override;
    int64_t Tell() override { return position; }
    int64_t Size() override { return static_cast<int64_t>(size); }

private:
    const uint8_t* base = nullptr;
    int64_t position = 0;
    size_t size = 0;
};

// A file opened for reading through the platform's file layer (either
// separator, names matched without regard to case).
class FileStream final : public SoundStream {
public:
    ~FileStream() override { Close(); }
    // The UTF-8 path of the file; 1 when it was opened.
    int Open(const std::string& path);
    int Close() override;
    size_t Read(void* buffer, size_t count) override;
    int Seek(int64_t offset, int origin) override;
    int64_t Tell() override;
    int64_t Size() override;

private:
    std::FILE* file = nullptr;
};

// Opens a memory stream or a file stream by what it is given, and forwards
// to it.
class SwitchingStream final : public SoundStream {
public:
    ~SwitchingStream() override { Close(); }
    int OpenFile(const std::string& path);
    int OpenMemory(const void* data, size_t size);
    int Close() override;
    size_t Read(void* buffer, size_t count) override { return inner ? inner->Read(buffer, count) : 0; }
    int Seek(int64_t offset, int origin) override { return inner ? inner->Seek(offset, origin) : 0; }
    int64_t Tell() override { return inner ? inner->Tell() : -1; }
    int64_t Size() override { return inner ? inner->Size() : -1; }

private:
    std::unique_ptr<SoundStream> inner;
};

// The path rule of the loaders: a path that starts with "\" or "/" is used as
// it is; any other is appended to the executable's folder (up to and
// including its last separator), nullopt when that folder has no separator.
// The result is UTF-8 for the platform's file layer.
[[nodiscard]] std::optional<std::string> ResolveSoundPath(std::span<const uint16_t> path);
// The same with the executable's folder given.
[[nodiscard]] std::optional<std::string> ResolveSoundPath(std::span<const uint16_t> path, std::string_view executableFolder);

}  // namespace qob
