// platform/files.h
// Files and paths as programs write them: "\" or "/" separators, names found
// without regard to case, wildcard existence tests, the application directory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace qob::platform {

// Both separators are accepted everywhere; the host only knows "/".
constexpr bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

// A path that starts with a separator is absolute; any other is relative to
// the working directory.
[[nodiscard]] bool IsAbsolutePath(std::string_view path);

// The path with every "\" turned into "/", as the host expects it.
[[nodiscard]] std::string ToHostPath(std::string_view path);

// The host path of an existing file or directory: the path as written when
// it exists, else found one component at a time, each matched without regard
// to ASCII case (the system upper- and lower-cases names freely). When several
// entries of a directory differ only in case, the first in byte order wins.
// nullopt when some component has no match.
[[nodiscard]] std::optional<std::string> ResolvePath(std::string_view path);

// The host path at which a file of this name is written: the directories
// resolved as above, the last name matched to an existing entry when one
// differs only in case, else kept as written. nullopt when a directory on the
// way does not exist.
[[nodiscard]] std::optional<std::string> ResolvePathForWrite(std::string_view path);

// fopen of the resolved path: read modes ("r", "rb", "r+") need an existing
// file, the others resolve as for writing. A directory is never opened as a
// file (errno EISDIR). nullptr on failure, errno set.
[[nodiscard]] std::FILE* OpenFile(std::string_view path, const char* mode);

// The whole content of a file, or nullopt when it cannot be read.
[[nodiscard]] std::optional<std::string> ReadFileBytes(std::string_view path);

// Replaces (or creates) the file with these bytes through a temporary file in
// the same directory and a rename, so a reader sees the old or the new
// content, never half of it. False when anything failed; the old file is then
// untouched.
[[nodiscard]] bool WriteFileBytes(std::string_view path, std::string_view bytes);

enum class PathKind { Missing, File, Directory };

// What the (case-insensitively resolved) name denotes. Anything that is not a
// directory counts as a file.
[[nodiscard]] PathKind GetPathKind(std::string_view path);

[[nodiscard]] bool DeleteFile(std::string_view path);

// Renames a file, replacing a file of the new name.
[[nodiscard]] bool RenameFile(std::string_view from, std::string_view to);

// Length in bytes, or nullopt when the file cannot be found.
[[nodiscard]] std::optional<std::int64_t> GetFileSize(std::string_view path);

// Last-write time in nanoseconds since the epoch, or nullopt.
[[nodiscard]] std::optional<std::int64_t> GetFileWriteTime(std::string_view path);

// True when a file or directory matches the path. The last component may hold
// the wildcards "*" and "?", matched without regard to case; "[" is an
// ordinary character and "*.*" matches every name, dotted or not. The
// directories before it are plain names, resolved as above.
[[nodiscard]] bool FileExists(std::string_view path);

// The directory that holds the running executable (from /proc/self/exe), or
// the value of QOB_ROOT when that is set and not empty (an installed
// executable's own directory may not be writable). Always ends in a
// separator; "/" when nothing can be found.
[[nodiscard]] std::string GetApplicationDirectory();

}  // namespace qob::platform
