// compiler/compile_messages.cpp
// Formats, counts, caps and logs compile messages; resolves program file names.
#include "compiler/compile_messages.h"

#include <cstdio>

#include "compiler/front_end/token_list.h"
#include "compiler/progress_window.h"
#include "platform/files.h"
#include "runtime/registry/hooks.h"
#include "runtime/registry/keywords.h"

namespace qob {
namespace {

CompileMessageState gState;
ErrorVariableWriter gErrorVariableWriter = nullptr;

// printf-style formatting into a string of the exact length, so no message
// is ever cut or written past its room.
template <class... Args>
std::string FormatMessage(const char* format, Args... args) {
    int length = std::snprintf(nullptr, 0, format, args...);
    std::string text(static_cast<size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, format, args...);
    return text;
}

// A message reported at the "__DEBUG" marker that precedes a statement is
// moved to the statement's first real token, two tokens on.
const TokenNode* SkipDebugMarker(const TokenNode* token) {
    if (token == nullptr || token->hash != KeywordHashes[Keyword::DebugMarker]) return token;
    if (token->next != nullptr) token = token->next;
    if (token->next != nullptr) token = token->next;
    return token;
}

}  // namespace

CompileMessageState& GetCompileMessageState() { return gState; }

void SetErrorVariableWriter(ErrorVariableWriter writer) { gErrorVariableWriter = writer; }

void ResetCompileMessages() {
    gState.errorCount = 0;
    gState.warningCount = 0;
    gState.compileErrors.clear();
}

void ReportCompileMessage(const char* fileName, std::string_view text, const TokenNode* token,
                          int charPos, bool isWarning) {
    if (isWarning) {
        if (gState.warningCount >= kMaxCompileMessages || !gState.warningsEnabled) return;
        ++gState.warningCount;
    } else {
        if (gState.errorCount >= kMaxCompileMessages) return;
        ++gState.errorCount;
    }
    const char* kind = isWarning ? "warning" : "error";

    std::string filePart;
    if (fileName != nullptr) {
        const char* shown = (token != nullptr && token->file != nullptr) ? token->file : fileName;
        filePart = FormatMessage("(%s)", shown);
    }
    token = SkipDebugMarker(token);

    const std::string message(text);
    std::string shortForm;
    std::string longForm;
    if (token != nullptr) {
        shortForm = FormatMessage("%s: %s [%s at '%s' (%d,%d)]\n", kind, filePart.c_str(),
                                  message.c_str(), token->text, token->line, int{token->column});
        longForm = FormatMessage("** %s ** %s %s at '%s' (%d,%d)\n", kind, filePart.c_str(),
                                 message.c_str(), token->text, token->line, int{token->column});
    } else if (charPos != -1) {
        shortForm = FormatMessage("%s: %s [%s at character position %d]\n", kind,
                                  filePart.c_str(), message.c_str(), charPos);
        longForm = FormatMessage("** %s ** %s %s at character position %d\n", kind,
                                 filePart.c_str(), message.c_str(), charPos);
    } else {
        shortForm = FormatMessage("%s: %s [%s]\n", kind, filePart.c_str(), message.c_str());
        longForm = FormatMessage("** %s ** %s %s\n", kind, filePart.c_str(), message.c_str());
    }

    // Both notes follow the counters, not the kind of this message: once a
    // counter stands at the cap every later logged line carries its note.
    if (gState.errorCount == kMaxCompileMessages) longForm += "Too many errors!\n";
    if (gState.warningCount == kMaxCompileMessages) longForm += "Too many warnings!\n";

    if (gState.logEnabled) WriteLogLine(longForm);
    if (isWarning) return;
    gState.compileErrors += shortForm;
    if (gErrorVariableWriter != nullptr) gErrorVariableWriter(gState.compileErrors);
}

void WriteLogLine(std::string_view line) {
    if (gState.logStream == nullptr) return;
    if (gState.separatorPending) {
        std::fputc('\n', gState.logStream);
        gState.separatorPending = false;
    }
    std::fwrite(line.data(), 1, line.size(), gState.logStream);
}

bool OpenCompileLog(std::string_view path) {
    CloseCompileLog();
    gState.logStream = platform::OpenFile(path, "w");
    return gState.logStream != nullptr;
}

void CloseCompileLog() {
    if (gState.logStream == nullptr) return;
    std::fclose(gState.logStream);
    gState.logStream = nullptr;
}

std::string FindCompiledFile(std::string_view name) {
    if (platform::GetPathKind(name) == platform::PathKind::File) return std::string(name);
    // The stem ends at the last "." of the file-name part: a dot in a
    // directory name ("./prog", "dir.v2/prog") is not an extension.
    size_t nameStart = name.find_last_of("\\/");
    nameStart = (nameStart == std::string_view::npos) ? 0 : nameStart + 1;
    size_t dot = name.rfind('.');
    std::string_view stem = (dot != std::string_view::npos && dot >= nameStart)
                                ? name.substr(0, dot)
                                : name;
    for (const char* extension : {".qob", ".qoc"}) {
        std::string candidate = std::string(stem) + extension;
        if (platform::GetPathKind(candidate) == platform::PathKind::File) return candidate;
    }
    return std::string(name);
}

bool IsCompiledFileName(std::string_view name) {
    if (name.size() < 4) return false;
    std::string_view tail = name.substr(name.size() - 4);
    constexpr std::string_view kExtension = ".qoc";
    for (size_t i = 0; i < 4; ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kExtension[i]) return false;
    }
    return true;
}

void FillCompilerRuntimeHooks() {
    Hooks.reportCompileMessage = [](std::string_view text, bool warning) {
        ReportCompileMessage(nullptr, text, nullptr, -1, warning);
    };
    Hooks.setQuietMode = SetStatusWindowQuiet;
}

}  // namespace qob
