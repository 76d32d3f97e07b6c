// compiler/compile_messages.h
// The one sink of compile-time errors and warnings (counted, capped, logged to
// "errorlog.txt", gathered for ERROR%) and the program file-name helpers.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace qob {

struct TokenNode;

constexpr const char* kCompileLogName = "errorlog.txt";
// Each kind is reported up to this many times; the last one carries the note
// "Too many errors!" or "Too many warnings!", later ones are dropped.
constexpr int kMaxCompileMessages = 257;

// Process-wide state of the sink. Compilations never overlap; the compile
// driver resets it before each one.
struct CompileMessageState {
    int errorCount = 0;
    int warningCount = 0;
    bool warningsEnabled = false;  // cleared by #NOWARNING, set from the "W" switch
    bool logEnabled = false;       // the long form goes to the log only while set
    std::FILE* logStream = nullptr;
    bool separatorPending = false;  // the next log line starts with "\n"
    std::string compileErrors;      // every error's short form, in order
};

[[nodiscard]] CompileMessageState& GetCompileMessageState();

// Receives the whole compile-error text after each error, for ERROR%. The
// runtime installs it once the variable store exists; until then (nullptr)
// the text is only kept here.
using ErrorVariableWriter = void (*)(std::string_view text);
void SetErrorVariableWriter(ErrorVariableWriter writer);

// Clears both counters and the compile-error text, as the driver does before
// each compilation.
void ResetCompileMessages();

// Reports one error or warning. fileName may be null (no file part); token
// may be null; charPos is a character position in the source text or -1.
void ReportCompileMessage(const char* fileName, std::string_view text, const TokenNode* token,
                          int charPos, bool isWarning);

// Points the runtime's compile-message hook at ReportCompileMessage (messages
// of native-function declarations and links, which have no position).
void FillCompilerRuntimeHooks();

// Writes one formatted line (carrying its own "\n") to the log stream, after
// the pending separator; nothing while no log is open.
void WriteLogLine(std::string_view line);

// Opens the log stream for writing (truncating), or closes it. Open returns
// false when the file cannot be created.
[[nodiscard]] bool OpenCompileLog(std::string_view path);
void CloseCompileLog();

// The file to open for a program name: the name itself when it is a file,
// else the name with its extension replaced by ".qob", then by ".qoc", when
// such a file exists; else the name unchanged.
[[nodiscard]] std::string FindCompiledFile(std::string_view name);

// True when the name ends in ".qoc" in any letter case.
[[nodiscard]] bool IsCompiledFileName(std::string_view name);

}  // namespace qob
