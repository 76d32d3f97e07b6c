// platform/file_dialog.h
// Headless open and save dialogs, the optional outside dialog library, and
// the shell's memory check made before a whole file is loaded.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qob::platform {

// Dialog flags the system passes.
constexpr uint32_t OFN_OVERWRITEPROMPT = 0x2;
constexpr uint32_t OFN_PATHMUSTEXIST = 0x800;
constexpr uint32_t OFN_FILEMUSTEXIST = 0x1000;

// What a dialog is filled from and where it leaves the chosen path. This is
// our own layout: an outside dialog library for this host is built against
// this declaration. Texts are terminated UTF-16.
struct OPENFILENAMEW {
    uint32_t structSize;                // sizeof(OPENFILENAMEW)
    void* owner;                        // owning window, or null
    void* instance;                     // process instance handle
    const uint16_t* filter;             // description, 0, pattern, 0, ... then a second 0
    uint32_t filterIndex;               // 0: the first pair
    uint16_t* file;                     // in: initial name (empty); out: the chosen path
    uint32_t maxFile;                   // units in file, terminator included
    const uint16_t* initialDirectory;   // or null
    const uint16_t* title;
    uint32_t flags;                     // OFN_*
    const uint16_t* defaultExtension;   // appended to a name typed without one, or null
};

// The host's own dialogs. Without a window system they ask the test hook when
// one is set, else take the path in QOB_FILEDIALOG_ANSWER, else cancel. A
// chosen path is stored in the record's file buffer and the answer is 1; a
// path that does not fit the buffer is refused like a cancel (0).
int GetOpenFileNameW(OPENFILENAMEW* record);
int GetSaveFileNameW(OPENFILENAMEW* record);

enum class FileDialogKind { Open, Save };

// The test hook: sees the filled record and answers the 8-bit path to choose,
// or nullopt to cancel. An empty function removes the hook.
using FileDialogHook = std::function<std::optional<std::string>(FileDialogKind, const OPENFILENAMEW&)>;
void SetFileDialogHook(FileDialogHook hook);

enum class OutsideDialogResult {
    NotPresent,  // the library did not load: show the host's dialog instead
    Chosen,      // its entry returned non-zero; the path is in the record
    Cancelled,   // its entry returned 0, or the library lacks the entry
};

// Runs the entry `entryName` of an optional outside dialog library. The path
// names it as the device did ("...\gsgetfile.dll"); on this host the same
// directory is also searched for "libgsgetfile.so" and "gsgetfile.so". The
// library is unloaded again before this returns.
OutsideDialogResult RunOutsideFileDialog(std::string_view libraryPath, const char* entryName,
                                         OPENFILENAMEW* record);

// The shell's answer to "can byteCount bytes be had?", asked before a whole
// file is loaded. The host always grants it unless a test hook says otherwise.
[[nodiscard]] bool QueryShellMemory(uint64_t byteCount);

// An empty function removes the hook.
using ShellMemoryHook = std::function<bool(uint64_t byteCount)>;
void SetShellMemoryHook(ShellMemoryHook hook);

}  // namespace qob::platform
