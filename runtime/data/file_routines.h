// runtime/data/file_routines.h
// Whole-file loading, the application directory, path splitting, existence
// tests and the open and save dialogs, as the rest of the system calls them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qob {

// Loads count bytes from the byte offset into a new block of the low-memory
// allocator (free it with platform::FreeBlock) of count + 1 zeroed bytes, so
// the text always ends with a zero byte; size receives count. An offset of -1
// reads from the start; a count of -1 means the file's whole length, measured
// from its start also when an offset is given, and bytes past the file's end
// stay zero.
// Failures return null: size -1 when the file cannot be opened, the offset or
// count is negative other than -1, or count + 1 does not fit an int; size 0
// when the shell refuses the memory or no block of that size can be had.
[[nodiscard]] char* LoadFileBuffer(std::string_view path, int& size, int offset, int count);

// The same in 16-bit units: offset and count count units, a count of -1 is the
// byte length halved (rounded down), the block holds count + 1 units.
[[nodiscard]] uint16_t* LoadWideFileBuffer(std::string_view path, int& size, int offset, int count);

// The file's length in bytes; 0 when it cannot be opened.
[[nodiscard]] int64_t GetFileSizeByName(std::string_view path);

// The executable's directory with a trailing separator (QOB_ROOT overrides it).
[[nodiscard]] std::string GetAppDirectory();

// The process-wide application directory that default files and the outside
// dialog library are found in. Start-up sets it; until then it is taken from
// GetAppDirectory on first use.
const std::string& ApplicationDirectory();
void SetApplicationDirectory(std::string directory);

// The open and save dialogs. The filter is written "description|pattern|...";
// without an initial directory a dialog starts in the directory of the file
// chosen last. Returns the chosen path, or nullopt when cancelled. An outside
// library "gsgetfile.dll" in the application directory replaces the host's
// dialogs when it loads.
[[nodiscard]] std::optional<std::string> ShowOpenFileDialog(void* instance, std::string_view filter,
                                                            std::optional<std::string_view> initialDirectory);
[[nodiscard]] std::optional<std::string> ShowSaveFileDialog(void* instance, std::string_view filter,
                                                            std::optional<std::string_view> initialDirectory);

// The directory of the file chosen in the last successful dialog, as
// terminated UTF-16; nullopt before any.
const std::optional<std::vector<uint16_t>>& LastDialogDirectory();

// True when a file or directory matches the path (wildcards allowed in its
// last name). DirectoryExists is the same test: it is true for a file too.
[[nodiscard]] bool FileExists(std::string_view path);
[[nodiscard]] bool DirectoryExists(std::string_view path);

// Path splitting; "\" and "/" both separate.
// The text after the last separator: the whole path when it has none, empty
// when it ends with one.
[[nodiscard]] std::string ExtractFileName(std::string_view path);
// Up to and including the last separator; empty when there is none.
[[nodiscard]] std::string ExtractFilePath(std::string_view path);
// Up to and including the second separator (the "\Storage Card\" of a path on
// a card); the whole path when it has fewer than two.
[[nodiscard]] std::string ExtractFileDrive(std::string_view path);
// From the last "." to the end, the dot included, even when that dot stands
// in a directory name; nullopt without a dot.
[[nodiscard]] std::optional<std::string> ExtractFileExt(std::string_view path);

// A path that starts with a separator stays as it is; any other is taken
// relative to the executable's directory.
[[nodiscard]] std::string ResolveAppRelativePath(std::string_view path);

}  // namespace qob
