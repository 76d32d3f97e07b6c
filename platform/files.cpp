// platform/files.cpp
// Case-insensitive path resolution over the host file system, and the small
// file helpers built on it.
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

namespace qob::platform {
namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

// lstat, so that a dangling symbolic link still counts as an entry.
bool EntryExists(const std::string& hostPath) {
    struct stat info;
    return lstat(hostPath.c_str(), &info) == 0;
}

// Calls visit(name) for each entry of the directory except "." and "..";
// false when the directory cannot be read.
template <typename Visit>
bool ForEachEntry(const std::string& directory, Visit visit) {
    DIR* dir = opendir(directory.empty() ? "." : directory.c_str());
    if (!dir) return false;
    while (const dirent* entry = readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        visit(name);
    }
    closedir(dir);
    return true;
}

// The entry of the directory whose name equals `name` without regard to case;
// the smallest in byte order when there are several, so the answer does not
// depend on the order in which the directory lists them.
std::optional<std::string> FindEntryIgnoringCase(const std::string& directory, std::string_view name) {
    std::optional<std::string> best;
    ForEachEntry(directory, [&](std::string_view entry) {
        if (EqualIgnoringCase(entry, name) && (!best || entry < *best)) best = std::string(entry);
    });
    return best;
}

std::vector<std::string_view> SplitComponents(std::string_view hostPath) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= hostPath.size()) {
        size_t end = hostPath.find('/', start);
        if (end == std::string_view::npos) end = hostPath.size();
        if (end > start) parts.push_back(hostPath.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// Walks the components, keeping each one that exists as written and looking
// the others up without regard to case. With `lastMayBeNew`, a last component
// that matches nothing is kept as written (a file about to be created).
std::optional<std::string> ResolveComponents(const std::string& hostPath, bool lastMayBeNew) {
    std::vector<std::string_view> parts = SplitComponents(hostPath);
    if (parts.empty()) return hostPath.empty() ? std::nullopt : std::optional<std::string>(hostPath);
    std::string resolved = hostPath.front() == '/' ? "/" : "";
    for (size_t i = 0; i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        std::string candidate = resolved + std::string(parts[i]);
        if (!EntryExists(candidate)) {
            std::optional<std::string> match = FindEntryIgnoringCase(resolved, parts[i]);
            if (match)
                candidate = resolved + *match;
            else if (!(last && lastMayBeNew))
                return std::nullopt;
        }
        resolved = std::move(candidate);
        if (!last) resolved += '/';
    }
    if (hostPath.back() == '/') resolved += '/';
    return resolved;
}

std::optional<std::string> ResolveHost(std::string_view path, bool forWrite) {
    if (path.empty()) return std::nullopt;
    std::string host = ToHostPath(path);
    if (EntryExists(host)) return host;
    return ResolveComponents(host, forWrite);
}

bool IsReadMode(const char* mode) { return mode[0] == 'r'; }

// fnmatch pattern of a device wildcard: only "*" and "?" are special, so "["
// becomes the one-character class that matches itself.
std::string ToFnmatchPattern(std::string_view wildcard) {
    if (wildcard == "*.*") return "*";
    std::string pattern;
    for (char c : wildcard) {
        if (c == '[')
            pattern += "[[]";
        else
            pattern += c;
    }
    return pattern;
}

bool HasWildcard(std::string_view name) { return name.find_first_of("*?") != std::string_view::npos; }

}  // namespace

bool IsAbsolutePath(std::string_view path) { return !path.empty() && IsPathSeparator(path.front()); }

std::string ToHostPath(std::string_view path) {
    std::string host(path);
    for (char& c : host)
        if (c == '\\') c = '/';
    return host;
}

std::optional<std::string> ResolvePath(std::string_view path) { return ResolveHost(path, false); }

std::optional<std::string> ResolvePathForWrite(std::string_view path) { return ResolveHost(path, true); }

std::FILE* OpenFile(std::string_view path, const char* mode) {
    std::optional<std::string> host = IsReadMode(mode) ? ResolvePath(path) : ResolvePathForWrite(path);
    if (!host) {
        errno = ENOENT;
        return nullptr;
    }
    std::FILE* file = std::fopen(host->c_str(), mode);
    if (!file) return nullptr;
    struct stat info;
    if (fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fclose(file);
        errno = EISDIR;
        return nullptr;
    }
    return file;
}

std::optional<std::string> ReadFileBytes(std::string_view path) {
    std::FILE* file = OpenFile(path, "rb");
    if (!file) return std::nullopt;
    std::string bytes;
    // A regular file is read into one buffer of its size; a buffer grown
    // piece by piece would be copied again at every growth. Reading goes on
    // after it, for a file that grew meanwhile (or whose size is unknown).
    struct stat info;
    if (fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        bytes.resize(static_cast<size_t>(info.st_size));
        bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    }
    char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return std::nullopt;
    return bytes;
}

bool WriteFileBytes(std::string_view path, std::string_view bytes) {
    std::optional<std::string> target = ResolvePathForWrite(path);
    if (!target) return false;
    static std::atomic<unsigned> serial{0};
    const std::string temporary =
        *target + ".tmp" + std::to_string(getpid()) + "." + std::to_string(serial.fetch_add(1));
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = true;
    size_t written = 0;
    while (ok && written < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) written += static_cast<size_t>(n);
    }
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temporary.c_str(), target->c_str()) == 0;
    if (!ok) unlink(temporary.c_str());
    return ok;
}

PathKind GetPathKind(std::string_view path) {
    std::optional<std::string> host = ResolvePath(path);
    if (!host) return PathKind::Missing;
    struct stat info;
    if (stat(host->c_str(), &info) != 0) return EntryExists(*host) ? PathKind::File : PathKind::Missing;
    return S_ISDIR(info.st_mode) ? PathKind::Directory : PathKind::File;
}

bool DeleteFile(std::string_view path) {
    std::optional<std::string> host = ResolvePath(path);
    return host && unlink(host->c_str()) == 0;
}

bool RenameFile(std::string_view from, std::string_view to) {
    std::optional<std::string> source = ResolvePath(from);
    std::optional<std::string> target = ResolvePathForWrite(to);
    return source && target && rename(source->c_str(), target->c_str()) == 0;
}

std::optional<std::int64_t> GetFileSize(std::string_view path) {
    std::optional<std::string> host = ResolvePath(path);
    struct stat info;
    if (!host || stat(host->c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return std::nullopt;
    return static_cast<std::int64_t>(info.st_size);
}

std::optional<std::int64_t> GetFileWriteTime(std::string_view path) {
    std::optional<std::string> host = ResolvePath(path);
    struct stat info;
    if (!host || stat(host->c_str(), &info) != 0) return std::nullopt;
    return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

bool FileExists(std::string_view path) {
    std::string host = ToHostPath(path);
    const size_t slash = host.rfind('/');
    const std::string_view name = slash == std::string::npos ? std::string_view(host) : std::string_view(host).substr(slash + 1);
    if (!HasWildcard(name)) return GetPathKind(path) != PathKind::Missing;

    std::string directory = slash == std::string::npos ? "" : host.substr(0, slash + 1);
    if (!directory.empty()) {
        std::optional<std::string> resolved = ResolvePath(directory);
        if (!resolved) return false;
        directory = *resolved;
    }
    const std::string pattern = ToFnmatchPattern(name);
    bool found = false;
    ForEachEntry(directory, [&](std::string_view entry) {
        if (!found) found = fnmatch(pattern.c_str(), std::string(entry).c_str(), FNM_CASEFOLD) == 0;
    });
    return found;
}

std::string GetApplicationDirectory() {
    std::string directory;
    if (const char* root = std::getenv("QOB_ROOT"); root && *root) {
        directory = root;
    } else {
        char exe[PATH_MAX];
        const ssize_t length = readlink("/proc/self/exe", exe, sizeof exe);
        if (length > 0 && static_cast<size_t>(length) < sizeof exe) {
            directory.assign(exe, static_cast<size_t>(length));
            directory.erase(directory.rfind('/') + 1);
        }
    }
    if (directory.empty() || !IsPathSeparator(directory.back())) directory += '/';
    return directory;
}

}  // namespace qob::platform
