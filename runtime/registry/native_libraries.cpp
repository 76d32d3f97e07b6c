// runtime/registry/native_libraries.cpp
// Native libraries over dlopen/dlsym, with the device's "x.dll" names mapped
// to the host's shared-object names.
#include "runtime/registry/native_libraries.h"

#include <dlfcn.h>

#include <algorithm>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "platform/files.h"

namespace qob {
namespace {

struct LibraryCache {
    std::mutex mutex;
    std::unordered_map<std::string, void*> handles;  // by the name as the program wrote it
};

LibraryCache& Cache() {
    static LibraryCache cache;
    return cache;
}

std::string LowerCaseAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

// The file names a device library name stands for, without a directory.
std::vector<std::string> FileNameCandidates(std::string_view fileName) {
    std::vector<std::string> names{std::string(fileName)};
    size_t dot = fileName.rfind('.');
    std::string_view stem;
    if (dot == std::string_view::npos)
        stem = fileName;
    else if (LowerCaseAscii(fileName.substr(dot)) == ".dll")
        stem = fileName.substr(0, dot);
    if (stem.empty()) return names;
    std::string lowerStem = LowerCaseAscii(stem);
    for (std::string_view s : {stem, std::string_view(lowerStem)}) {
        names.push_back("lib" + std::string(s) + ".so");
        names.push_back(std::string(s) + ".so");
    }
    return names;
}

void* OpenCandidate(const std::string& candidate) {
    // A path is found without regard to case, as every file of the system is;
    // a bare name goes to the host's library search.
    if (candidate.find('/') == std::string::npos) return dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    std::optional<std::string> resolved = platform::ResolvePath(candidate);
    if (!resolved || platform::GetPathKind(*resolved) != platform::PathKind::File) return nullptr;
    return dlopen(resolved->c_str(), RTLD_NOW | RTLD_LOCAL);
}

}  // namespace

std::vector<std::string> NativeLibraryCandidates(std::string_view libraryName) {
    std::string hostName = platform::ToHostPath(libraryName);
    size_t slash = hostName.rfind('/');
    std::vector<std::string> candidates;
    if (slash != std::string::npos) {
        std::string directory = hostName.substr(0, slash + 1);
        for (const std::string& name : FileNameCandidates(std::string_view(hostName).substr(slash + 1)))
            candidates.push_back(directory + name);
    } else {
        std::vector<std::string> names = FileNameCandidates(hostName);
        std::string applicationDirectory = platform::GetApplicationDirectory();
        for (const std::string& name : names) candidates.push_back(applicationDirectory + name);
        candidates.insert(candidates.end(), names.begin(), names.end());
    }
    // Upper- and lower-case stems coincide for a lower-case name.
    std::vector<std::string> unique;
    for (std::string& candidate : candidates)
        if (std::find(unique.begin(), unique.end(), candidate) == unique.end())
            unique.push_back(std::move(candidate));
    return unique;
}

void* LoadNativeLibrary(std::string_view libraryName) {
    LibraryCache& cache = Cache();
    std::lock_guard lock(cache.mutex);
    std::string key(libraryName);
    auto found = cache.handles.find(key);
    if (found != cache.handles.end()) return found->second;
    if (libraryName.empty()) return nullptr;
    for (const std::string& candidate : NativeLibraryCandidates(libraryName)) {
        if (void* handle = OpenCandidate(candidate)) {
            cache.handles.emplace(std::move(key), handle);
            return handle;
        }
    }
    return nullptr;
}

void* ResolveNativeExport(void* library, std::string_view exportName) {
    if (!library || exportName.empty()) return nullptr;
    std::string name(exportName);
    return dlsym(library, name.c_str());
}

}  // namespace qob
