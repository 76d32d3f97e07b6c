// compiler/front_end/preprocessor.h
// PreprocessFile: turns a source text into tokens while carrying out the
// directives (conditionals, defines, includes, declarations, imports).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/compile_progress.h"
#include "compiler/front_end/token_list.h"

namespace qob {

constexpr int kMaxConditionalDepth = 256;
constexpr size_t kMaxNamespaceDepth = 256;
constexpr size_t kMaxIncludedFiles = 4096;
// A define whose value names a define (and so on) is expanded at most this
// deep; cycles end here with an error.
constexpr int kMaxExpansionDepth = 32;
// What one compilation may expand in all: each expansion counts its value's
// length plus one. A few lines of defines that each name the previous one
// twice would otherwise double the text on every line. 4 Mi characters is
// far beyond what any real program's defines expand to, and reaching it
// costs a compilation well under a second.
constexpr uint64_t kMaxExpansionWork = uint64_t{1} << 22;
// The tokenizer stops reading once this many errors have been reported.
constexpr int kTokenizerErrorLimit = 64;

// The operands of a #DECLARE (or variant) collected so far.
struct PendingDeclaration {
    std::string name;
    std::string libraryName;
    std::string exportName;
    uint8_t argumentCount = 0;
};

// What the preprocessor needs of the runtime, installed once the runtime
// has it. Every hook may be null: a null hook does nothing (or gives nothing).
struct PreprocessorHooks {
    // The elements of LIBPATH%, first to last (#INCLUDE's last search step).
    std::vector<std::string> (*readLibraryPath)() = nullptr;
    // #DEBUGFILE: reopens the run-time log under this name.
    void (*openDebugLog)(std::string_view path) = nullptr;
    // #DEBUGON / #DEBUGOFF: the run-time log switch.
    void (*setRuntimeLog)(bool on) = nullptr;
    // The progress window: a stage text, and the read position of a text.
    void (*showProgressText)(std::string_view text) = nullptr;
    CompileProgress showProgressPosition = nullptr;  // called with a null text
    // In assembler mode: the directory of the current program context.
    std::string (*contextDirectory)() = nullptr;
};

void SetPreprocessorHooks(const PreprocessorHooks& hooks);

struct ConditionalLevel {
    bool inactive;  // the level's tokens are dropped
    bool taken;     // a branch of the level was active
};

enum class DefineState : uint8_t { Idle, NameAwaited, CollectingValue };

// Marks of a compilation that later stages and the driver read.
struct CompileMarks {
    bool library = false;          // #LIBRARY: no compiled file is ever kept
    bool noCompiledFile = false;   // #NOQOC
    int linkPassLimit = 1;         // #LINK
    bool iconSet = false;          // only the first #ICON counts
    std::string iconFile;
    bool runtimeLog = true;        // #DEBUGON / #DEBUGOFF; #DEBUGFILE acts only while on
};

struct IncludedFile {
    uint32_t nameHash;
    uint32_t namespaceWord;  // namespace at its first inclusion
};

// The directives that wait for their operand. Eight flags in eight bytes,
// so that "none waits" is one test on every token.
struct PendingOperands {
    bool undef = false;  // until the end of the line
    bool include = false;
    bool import = false;
    bool nameSpace = false;
    bool link = false;
    bool icon = false;
    bool debugFile = false;
    bool code = false;
};
static_assert(sizeof(PendingOperands) == 8);

// Process-wide state shared by every PreprocessFile call of a compilation.
struct PreprocessorState {
    std::array<ConditionalLevel, kMaxConditionalDepth> levels{};
    int depth = -1;               // -1: no level open
    int nestedInactive = 0;       // levels opened inside an inactive level
    bool expectConditionalName = false;

    DefineState defineState = DefineState::Idle;
    std::string defineName;
    std::string defineValue;
    bool defineContinued = false;  // a lone "\" carries the value over one line end
    int lastDefineIndex = -1;

    PendingOperands pending;

    int declareState = 0;  // 0 idle, 1..5: name, library, export name, count, result awaited
    uint32_t declareDirective = 0;
    PendingDeclaration declaration;

    uint32_t namespaceWord = 0;  // HashName of the current namespace, 0 outside
    std::vector<uint32_t> namespaceStack;

    std::vector<IncludedFile> includedFiles;  // the once-only table

    int expansionDepth = 0;  // > 0 while a define's value is tokenized
    bool expansionAborted = false;
    uint64_t expansionWork = 0;  // against kMaxExpansionWork

    bool assemblerMode = false;  // set by the assembler around its calls
    bool deasmSeen = false;      // #DEASM met in assembler source

    CompileMarks marks;
};

[[nodiscard]] PreprocessorState& GetPreprocessorState();

// Resets the per-compilation state before a compilation: no open level, no
// pending directive, no namespace, no included file, fresh marks.
void ResetPreprocessor(int linkPassLimit);

// Empties the once-only table of included files.
void ClearIncludedFiles();

// Tokenizes text (the content of fileName, or a text without a file when
// fileName is null) and appends its tokens after cursor; returns the last
// token appended (the new cursor). logQuiet keeps the file out of the
// compiler log's file list; indentation is its indent there. line and
// column, when not -1, are the position that every token made from the text
// carries (define values carry the position of their name's use).
TokenNode* PreprocessFile(const char* fileName, std::string_view text, TokenNode* cursor,
                          bool logQuiet, int indentation, int line = -1, int column = -1);

}  // namespace qob
