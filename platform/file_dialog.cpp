// platform/file_dialog.cpp
// Headless file dialogs answered by a test hook or QOB_FILEDIALOG_ANSWER, the
// outside dialog library through dlopen, and the shell's memory check.
#include "platform/file_dialog.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/text_codec.h"

namespace qob::platform {
namespace {

FileDialogHook& DialogHook() {
    static FileDialogHook hook;
    return hook;
}

ShellMemoryHook& MemoryHook() {
    static ShellMemoryHook hook;
    return hook;
}

std::optional<std::string> AskForPath(FileDialogKind kind, const OPENFILENAMEW& record) {
    if (DialogHook()) return DialogHook()(kind, record);
    const char* answer = std::getenv("QOB_FILEDIALOG_ANSWER");
    if (answer && *answer) return std::string(answer);
    return std::nullopt;
}

int RunHeadlessDialog(FileDialogKind kind, OPENFILENAMEW* record) {
    std::optional<std::string> path = AskForPath(kind, *record);
    if (!path || !record->file) return 0;
    const std::vector<uint16_t> units = DecodeAnsi(*path);
    if (units.size() >= record->maxFile) return 0;
    std::copy(units.begin(), units.end(), record->file);
    record->file[units.size()] = 0;
    return 1;
}

// The names a library "x.dll" is looked for under on this host, in order:
// the name itself, then "libx.so" and "x.so" in the same directory.
std::vector<std::string> LibraryCandidates(std::string_view libraryPath) {
    std::vector<std::string> names{std::string(libraryPath)};
    const size_t slash = libraryPath.find_last_of("\\/");
    const size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
    const std::string_view directory = libraryPath.substr(0, nameStart);
    std::string_view stem = libraryPath.substr(nameStart);
    if (stem.size() > 4 && stem.substr(stem.size() - 4) == ".dll") {
        stem.remove_suffix(4);
        names.push_back(std::string(directory) + "lib" + std::string(stem) + ".so");
        names.push_back(std::string(directory) + std::string(stem) + ".so");
    }
    return names;
}

void* LoadOutsideLibrary(std::string_view libraryPath) {
    for (const std::string& candidate : LibraryCandidates(libraryPath)) {
        std::optional<std::string> host = ResolvePath(candidate);
        if (!host || GetPathKind(*host) != PathKind::File) continue;
        // A name without "/" would send dlopen to the system's library path.
        if (host->find('/') == std::string::npos) host = "./" + *host;
        if (void* library = dlopen(host->c_str(), RTLD_NOW | RTLD_LOCAL)) return library;
    }
    return nullptr;
}

}  // namespace

int GetOpenFileNameW(OPENFILENAMEW* record) { return RunHeadlessDialog(FileDialogKind::Open, record); }

int GetSaveFileNameW(OPENFILENAMEW* record) { return RunHeadlessDialog(FileDialogKind::Save, record); }

void SetFileDialogHook(FileDialogHook hook) { DialogHook() = std::move(hook); }

OutsideDialogResult RunOutsideFileDialog(std::string_view libraryPath, const char* entryName,
                                         OPENFILENAMEW* record) {
    void* library = LoadOutsideLibrary(libraryPath);
    if (!library) return OutsideDialogResult::NotPresent;
    using DialogEntry = int (*)(OPENFILENAMEW*);
    auto entry = reinterpret_cast<DialogEntry>(dlsym(library, entryName));
    const bool chosen = entry && entry(record) != 0;
    dlclose(library);
    return chosen ? OutsideDialogResult::Chosen : OutsideDialogResult::Cancelled;
}

bool QueryShellMemory(uint64_t byteCount) { return !MemoryHook() || MemoryHook()(byteCount); }

void SetShellMemoryHook(ShellMemoryHook hook) { MemoryHook() = std::move(hook); }

}  // namespace qob::platform
