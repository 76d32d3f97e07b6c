// builtins/files/file_builtins.cpp
// Dialogs, existence tests, whole-file loads and saves, and path splitting,
// over the file routines of runtime/data and the platform's files.
#include "builtins/files/file_builtins.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "builtins/files/file_arguments.h"
#include "builtins/operators/operator_values.h"
#include "builtins/texts/text_arguments.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/text_codec.h"
#include "runtime/data/file_routines.h"

namespace qob {
namespace {

using DialogFunction = std::optional<std::string> (*)(void*, std::string_view, std::optional<std::string_view>);

// The frame's filter and optional initial directory (the last two of more).
void RunFileDialog(DialogFunction dialog) {
    const FrameArguments arguments = CloseFrameArguments();
    std::string filter;
    std::optional<std::string> directory;
    StackEntry* cell = arguments.saved->above;
    for (int64_t i = 0; i < arguments.count && cell; ++i, cell = cell->above) {
        const int64_t fromEnd = arguments.count - i;
        if (arguments.count == 1 || fromEnd == 2) filter = StringArgument(*cell);
        else if (fromEnd == 1) directory = StringArgument(*cell);
    }
    DropFrameArguments(arguments);
    const std::optional<std::string> chosen =
        dialog(nullptr, filter, directory ? std::optional<std::string_view>(*directory) : std::nullopt);
    if (chosen) PushStringResult(*chosen);
    else PushNumberResult(0.0);
}

void PushPathTest(bool (*test)(std::string_view)) {
    StackEntry path = TakeOperand();
    const bool found = test(StringArgument(path));
    ReleaseOperand(path);
    PushTruthResult(found);
}

// Units that a load from offset of count units really read from a file of
// fileUnits units.
int64_t UnitsRead(int64_t fileUnits, int offset, int count) {
    const int64_t start = offset == -1 ? 0 : offset;
    return std::clamp<int64_t>(fileUnits - start, 0, count);
}

// The loads' common steps: the length variable gets the units read, -1 when
// the file cannot be opened and 0 when no memory is left.
void RunLoad(bool wide, bool ranged) {
    StackEntry lengthVariable = TakeOperand();
    StackEntry countArgument{};
    StackEntry offsetArgument{};
    if (ranged) {
        countArgument = TakeOperand();
        offsetArgument = TakeOperand();
    }
    StackEntry pathArgument = TakeOperand();
    const std::string path = StringArgument(pathArgument);
    const int offset = ranged ? ArgumentInteger(offsetArgument) : -1;
    const int count = ranged ? ArgumentInteger(countArgument) : -1;
    int size = -1;
    void* buffer = wide ? static_cast<void*>(LoadWideFileBuffer(path, size, offset, count))
                        : static_cast<void*>(LoadFileBuffer(path, size, offset, count));
    int64_t read = size;
    if (buffer) read = UnitsRead(GetFileSizeByName(path) / (wide ? 2 : 1), offset, size);
    StoreOutputNumber(lengthVariable, static_cast<double>(read));
    ReleaseOperand(pathArgument);
    if (ranged) {
        ReleaseOperand(offsetArgument);
        ReleaseOperand(countArgument);
    }
    ReleaseOperand(lengthVariable);
    if (buffer) PushTextResult(buffer, wide);
    else PushNumberResult(0.0);
}

// The bytes of a text argument that a save may write: at most its exact
// block, or its length when it starts no block; -1 asks for the text's length.
struct SaveBytes {
    const void* bytes;
    size_t count;
};

SaveBytes NarrowSaveBytes(const StackEntry& text, int32_t length) {
    if (!text.text || IsMatrix(text) || IsWide(text)) {
        const TextSpan span = ArgumentText(text, false);
        const size_t count = length == -1 ? span.length : std::min<size_t>(span.length, std::max(length, 0));
        return {span.units, count};
    }
    const size_t room = platform::GetBlockSize(text.text);
    const size_t textLength = room ? strnlen(text.text, room) : std::strlen(text.text);
    if (length == -1) return {text.text, textLength};
    return {text.text, std::min<size_t>(room ? room : textLength, std::max(length, 0))};
}

SaveBytes WideSaveBytes(const StackEntry& text, int32_t length) {
    const bool ownUnits = IsWide(text);
    const auto* units = ownUnits ? reinterpret_cast<const uint16_t*>(text.text) : StackEntryWideString(&text);
    if (!units) return {nullptr, 0};
    const size_t room = ownUnits ? platform::GetBlockSize(units) / 2 : 0;
    size_t textLength = 0;
    while ((room == 0 || textLength < room) && units[textLength] != 0) ++textLength;
    if (length == -1) return {units, textLength * 2};
    return {units, std::min<size_t>(room ? room : textLength, std::max(length, 0)) * 2};
}

void RunSave(bool wide) {
    StackEntry lengthArgument = TakeOperand();
    StackEntry textArgument = TakeOperand();
    StackEntry pathArgument = TakeOperand();
    const int32_t length = ArgumentInteger(lengthArgument);
    const SaveBytes save = wide ? WideSaveBytes(textArgument, length) : NarrowSaveBytes(textArgument, length);
    if (std::FILE* file = platform::OpenFile(StringArgument(pathArgument), "wb")) {
        if (save.count > 0) static_cast<void>(std::fwrite(save.bytes, 1, save.count, file));
        std::fclose(file);
    }
    ReleaseOperand(pathArgument);
    ReleaseOperand(textArgument);
    ReleaseOperand(lengthArgument);
}

void PushPathPart(std::string (*part)(std::string_view)) {
    StackEntry path = TakeOperand();
    const std::string result = part(StringArgument(path));
    ReleaseOperand(path);
    PushStringResult(result);
}

}  // namespace

void Builtin_getfile() { RunFileDialog(ShowOpenFileDialog); }
void Builtin_putfile() { RunFileDialog(ShowSaveFileDialog); }

void Builtin_fileexists() { PushPathTest(FileExists); }
void Builtin_directoryexists() { PushPathTest(DirectoryExists); }

void Builtin_filesize() {
    StackEntry path = TakeOperand();
    const std::string name = StringArgument(path);
    ReleaseOperand(path);
    int64_t size = 0;
    if (platform::GetPathKind(name) == platform::PathKind::File) size = platform::GetFileSize(name).value_or(0);
    PushNumberResult(static_cast<double>(size));
}

void Builtin_loadstr() { RunLoad(false, false); }
void Builtin_loadstrex() { RunLoad(false, true); }
void Builtin_wloadstr() { RunLoad(true, false); }
void Builtin_wloadstrex() { RunLoad(true, true); }

void Builtin_savestr() { RunSave(false); }
void Builtin_wsavestr() { RunSave(true); }

void Builtin_extractfilename() { PushPathPart(ExtractFileName); }
void Builtin_extractfilepath() { PushPathPart(ExtractFilePath); }
void Builtin_extractfiledrive() { PushPathPart(ExtractFileDrive); }

void Builtin_extractfileext() {
    StackEntry path = TakeOperand();
    const std::optional<std::string> extension = ExtractFileExt(StringArgument(path));
    ReleaseOperand(path);
    if (extension) PushStringResult(*extension);
    else PushNumberResult(0.0);
}

}  // namespace qob
