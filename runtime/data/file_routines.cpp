// runtime/data/file_routines.cpp
// Whole-file loaders into low-memory blocks, path splitting, and the dialogs
// with their optional outside library.
#include "runtime/data/file_routines.h"

#include <sys/stat.h>

#include <array>
#include <climits>
#include <cstdio>
#include <span>

#include "platform/file_dialog.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/text_codec.h"

namespace qob {
namespace {

std::string& ApplicationDirectoryText() {
    static std::string directory;
    return directory;
}

std::optional<std::vector<uint16_t>>& LastDialogDirectoryText() {
    static std::optional<std::vector<uint16_t>> directory;
    return directory;
}

// The loaders' common steps, in units of unitSize bytes.
void* LoadUnits(std::string_view path, int& size, int offset, int count, int unitSize) {
    size = -1;
    if ((offset < 0 && offset != -1) || (count < 0 && count != -1)) return nullptr;
    std::FILE* file = platform::OpenFile(path, "rb");
    if (!file) return nullptr;
    if (count == -1) {
        struct stat info;
        const int64_t units = fstat(fileno(file), &info) == 0 ? info.st_size / unitSize : -1;
        if (units < 0 || units > INT_MAX) {
            std::fclose(file);
            return nullptr;
        }
        count = static_cast<int>(units);
    }
    // count + 1 units are made, so INT_MAX units cannot be asked for.
    if (count == INT_MAX || (offset != -1 && fseeko(file, static_cast<off_t>(offset) * unitSize, SEEK_SET) != 0)) {
        std::fclose(file);
        return nullptr;
    }
    const size_t units = static_cast<size_t>(count) + 1;
    void* buffer = platform::QueryShellMemory(units) ? platform::AllocateZeroedBlock(units * unitSize) : nullptr;
    if (!buffer) {
        std::fclose(file);
        size = 0;
        return nullptr;
    }
    // A short read leaves the rest zero: the size is the count asked for.
    static_cast<void>(std::fread(buffer, 1, static_cast<size_t>(count) * unitSize, file));
    std::fclose(file);
    size = count;
    return buffer;
}

std::vector<uint16_t> ToTerminatedWide(std::string_view text) {
    std::vector<uint16_t> units = platform::DecodeAnsi(text);
    units.push_back(0);
    return units;
}

// The save dialog's default extension: the letters of the first pattern,
// written "*.ext" right after the first "|", i.e. the three units that begin
// three after that "|". Taken only when all three lie inside the filter and
// none of them is a "|" or a zero; none when the first is "*".
std::optional<std::array<uint16_t, 4>> TakeDefaultExtension(std::span<const uint16_t> filter) {
    size_t bar = 0;
    while (bar < filter.size() && filter[bar] != '|') ++bar;
    if (bar + 5 >= filter.size()) return std::nullopt;
    std::array<uint16_t, 4> extension{filter[bar + 3], filter[bar + 4], filter[bar + 5], 0};
    for (size_t i = 0; i < 3; ++i)
        if (extension[i] == '|' || extension[i] == 0) return std::nullopt;
    if (extension[0] == '*') return std::nullopt;
    return extension;
}

struct DialogStyle {
    const char* title;
    uint32_t flags;
    const char* outsideEntry;
    int (*hostDialog)(platform::OPENFILENAMEW*);
    bool takesDefaultExtension;
};

constexpr DialogStyle kOpenDialog{"Open...", platform::OFN_PATHMUSTEXIST | platform::OFN_FILEMUSTEXIST,
                                  "gsGetOpenFileName", platform::GetOpenFileNameW, false};
constexpr DialogStyle kSaveDialog{"Save As...", platform::OFN_OVERWRITEPROMPT, "gsGetSaveFileName",
                                  platform::GetSaveFileNameW, true};

std::optional<std::string> RunFileDialog(const DialogStyle& style, void* instance, std::string_view filterText,
                                         std::optional<std::string_view> initialDirectory) {
    std::vector<uint16_t> filter = platform::DecodeAnsi(filterText);
    std::optional<std::array<uint16_t, 4>> extension;
    if (style.takesDefaultExtension) extension = TakeDefaultExtension(filter);
    for (uint16_t& unit : filter)
        if (unit == '|') unit = 0;
    filter.insert(filter.end(), {0, 0});

    std::optional<std::vector<uint16_t>> initial;
    if (initialDirectory) initial = ToTerminatedWide(*initialDirectory);
    const std::optional<std::vector<uint16_t>>& startIn = initial ? initial : LastDialogDirectoryText();
    const std::vector<uint16_t> title = ToTerminatedWide(style.title);
    std::vector<uint16_t> file(PATH_MAX, 0);

    platform::OPENFILENAMEW record{};
    record.structSize = sizeof record;
    record.owner = nullptr;  // no foreground window without a window system
    record.instance = instance;
    record.filter = filter.data();
    record.filterIndex = 0;
    record.file = file.data();
    record.maxFile = static_cast<uint32_t>(file.size());
    record.initialDirectory = startIn ? startIn->data() : nullptr;
    record.title = title.data();
    record.flags = style.flags;
    record.defaultExtension = extension ? extension->data() : nullptr;

    const std::string libraryPath = ApplicationDirectory() + "gsgetfile.dll";
    bool chosen = false;
    switch (platform::RunOutsideFileDialog(libraryPath, style.outsideEntry, &record)) {
    case platform::OutsideDialogResult::NotPresent: chosen = style.hostDialog(&record) != 0; break;
    case platform::OutsideDialogResult::Chosen: chosen = true; break;
    case platform::OutsideDialogResult::Cancelled: chosen = false; break;
    }
    if (!chosen) return std::nullopt;

    // An outside library may fill the whole buffer without a terminator.
    size_t length = 0;
    while (length < file.size() && file[length] != 0) ++length;
    std::string path = platform::EncodeAnsi(std::span<const uint16_t>(file.data(), length));
    LastDialogDirectoryText() = ToTerminatedWide(ExtractFilePath(path));
    return path;
}

// Position of the n-th separator (1-based) from the start, or npos.
size_t FindSeparator(std::string_view path, int n) {
    for (size_t i = 0; i < path.size(); ++i)
        if (platform::IsPathSeparator(path[i]) && --n == 0) return i;
    return std::string_view::npos;
}

size_t FindLastSeparator(std::string_view path) { return path.find_last_of("\\/"); }

}  // namespace

char* LoadFileBuffer(std::string_view path, int& size, int offset, int count) {
    return static_cast<char*>(LoadUnits(path, size, offset, count, 1));
}

uint16_t* LoadWideFileBuffer(std::string_view path, int& size, int offset, int count) {
    return static_cast<uint16_t*>(LoadUnits(path, size, offset, count, 2));
}

int64_t GetFileSizeByName(std::string_view path) { return platform::GetFileSize(path).value_or(0); }

std::string GetAppDirectory() { return platform::GetApplicationDirectory(); }

const std::string& ApplicationDirectory() {
    std::string& directory = ApplicationDirectoryText();
    if (directory.empty()) directory = GetAppDirectory();
    return directory;
}

void SetApplicationDirectory(std::string directory) { ApplicationDirectoryText() = std::move(directory); }

std::optional<std::string> ShowOpenFileDialog(void* instance, std::string_view filter,
                                              std::optional<std::string_view> initialDirectory) {
    return RunFileDialog(kOpenDialog, instance, filter, initialDirectory);
}

std::optional<std::string> ShowSaveFileDialog(void* instance, std::string_view filter,
                                              std::optional<std::string_view> initialDirectory) {
    return RunFileDialog(kSaveDialog, instance, filter, initialDirectory);
}

const std::optional<std::vector<uint16_t>>& LastDialogDirectory() { return LastDialogDirectoryText(); }

bool FileExists(std::string_view path) { return platform::FileExists(path); }

bool DirectoryExists(std::string_view path) { return platform::FileExists(path); }

std::string ExtractFileName(std::string_view path) {
    const size_t last = FindLastSeparator(path);
    return std::string(last == std::string_view::npos ? path : path.substr(last + 1));
}

std::string ExtractFilePath(std::string_view path) {
    const size_t last = FindLastSeparator(path);
    return std::string(last == std::string_view::npos ? std::string_view() : path.substr(0, last + 1));
}

std::string ExtractFileDrive(std::string_view path) {
    const size_t second = FindSeparator(path, 2);
    return std::string(second == std::string_view::npos ? path : path.substr(0, second + 1));
}

std::optional<std::string> ExtractFileExt(std::string_view path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string_view::npos) return std::nullopt;
    return std::string(path.substr(dot));
}

std::string ResolveAppRelativePath(std::string_view path) {
    if (platform::IsAbsolutePath(path)) return std::string(path);
    return GetAppDirectory() + std::string(path);
}

}  // namespace qob
