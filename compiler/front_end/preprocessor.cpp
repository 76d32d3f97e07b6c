// compiler/front_end/preprocessor.cpp
// The directive state machines over the token stream: conditionals, define
// collection and expansion, #INCLUDE search, declarations and the marks.
#include "compiler/front_end/preprocessor.h"

#include <array>
#include <bit>
#include <filesystem>
#include <optional>

#include "compiler/compile_messages.h"
#include "compiler/front_end/define_table.h"
#include "compiler/front_end/tokenizer.h"
#include "platform/c_library.h"
#include "platform/files.h"
#include "runtime/data/file_routines.h"
#include "runtime/data/hash.h"
#include "runtime/data/interned_names.h"
#include "runtime/data/number_text.h"
#include "runtime/registry/function_table.h"
#include "runtime/registry/keywords.h"

namespace qob {
namespace {

PreprocessorState gState;

// Runs of files (not expansions) started so far: each reports its own
// progress, and a run that nested another reports again before it skips.
uint64_t gFileRunsStarted = 0;
PreprocessorHooks gHooks;

uint32_t HashText(std::string_view text) { return HashName(text.data(), text.size()); }

void ToUpperAscii(std::string& text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}

void ToLowerAscii(std::string& text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

// A directive operand written as a string loses its quotes.
std::string_view Unquote(std::string_view text) {
    if (!text.empty() && text.front() == '"') text.remove_prefix(1);
    if (!text.empty() && text.back() == '"') text.remove_suffix(1);
    return text;
}

double ReadNumber(std::string_view text) {
    const std::string copy(text);
    return StringToNumber(copy.c_str());
}

uint8_t ReadByte(std::string_view text) {
    return static_cast<uint8_t>(platform::TruncateToInteger<int64_t>(ReadNumber(text)) & 0xFF);
}

// The once-only table knows a file by the hash of its canonical lower-case
// path, so one file reached by two spellings of its path counts once.
uint32_t HashIncludedFile(std::string_view name) {
    std::string path = platform::ResolvePath(name).value_or(platform::ToHostPath(name));
    std::error_code error;
    std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
    if (!error) path = canonical.string();
    ToLowerAscii(path);
    return HashText(path);
}

std::string Quoted(std::string_view text) {
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '"';
    quoted += text;
    quoted += '"';
    return quoted;
}

std::string WithTrailingSeparator(std::string directory) {
    if (!directory.empty() && !platform::IsPathSeparator(directory.back())) directory += '/';
    return directory;
}

// The low 16 bits of the hashes of every word the directive handling looks
// for (directives, conditionals, and the ELSE and IF that ELSE IF joins), as
// a table of bits: a token whose hash has none of them is none of these words.
struct DirectiveHashBits {
    std::array<uint64_t, 1024> words{};
    [[nodiscard]] constexpr bool Has(uint32_t hash) const {
        return (words[(hash >> 6) & 1023] >> (hash & 63)) & 1;
    }
};
// The table of every such word but one: a run of plain tokens takes IF as
// it takes any other word, and tests only this table for its words.
constexpr DirectiveHashBits MakeDirectiveHashBits(std::optional<Keyword> left) {
    DirectiveHashBits bits;
    for (Keyword keyword :
         {Keyword::DirectiveDeasm, Keyword::DirectiveIfdef, Keyword::DirectiveIfndef, Keyword::DirectiveElseIf,
          Keyword::DirectiveElse, Keyword::DirectiveEndIf, Keyword::Else, Keyword::If, Keyword::DirectiveDefine,
          Keyword::DirectiveDebugFile, Keyword::DirectiveDebugOn, Keyword::DirectiveDebugOff,
          Keyword::DirectiveNoWarning, Keyword::DirectiveIcon, Keyword::DirectiveCode, Keyword::DirectiveLink,
          Keyword::DirectiveGlobals, Keyword::DirectiveLocals, Keyword::DirectiveLibrary, Keyword::DirectiveNoQoc,
          Keyword::DirectiveUndef, Keyword::DirectiveInclude, Keyword::DirectiveNamespace,
          Keyword::DirectiveEndNamespace, Keyword::DirectiveImport, Keyword::DirectiveDeclare,
          Keyword::DirectiveDeclareApi, Keyword::DirectiveCDeclare, Keyword::DirectiveCDeclareApi}) {
        if (keyword == left) continue;
        const uint32_t hash = KeywordHashes[keyword];
        bits.words[(hash >> 6) & 1023] |= uint64_t{1} << (hash & 63);
    }
    return bits;
}
constexpr DirectiveHashBits kDirectiveHashBits = MakeDirectiveHashBits(std::nullopt);
// Without IF: a hash whose bit only IF sets is IF or no such word at all, and
// both are only appended. Should another word share IF's bit, IF is left to
// Next as before.
constexpr DirectiveHashBits kPlainRunHashBits = MakeDirectiveHashBits(Keyword::If);

// One call of PreprocessFile: the reader of one text with its own line
// counter, over the process-wide directive state.
class SourceRun {
public:
    SourceRun(const char* fileName, std::string_view text, TokenNode* cursor, bool logQuiet,
              int indentation, int line, int column)
        : text_(text),
          scanner_(text),
          cursor_(cursor),
          logQuiet_(logQuiet),
          indentation_(indentation),
          fixedLine_(line),
          fixedColumn_(column),
          expanding_(gState.expansionDepth > 0) {
        if (fileName != nullptr) {
            readFile_ = fileName;
            SetCurrentFile(fileName);
        }
    }

    TokenNode* Run();

private:
    [[nodiscard]] bool IsActive() const {
        return state_.depth < 0 || !state_.levels[static_cast<size_t>(state_.depth)].inactive;
    }
    [[nodiscard]] const char* CurrentFileName() const {
        return currentFile_ ? currentFile_->c_str() : nullptr;
    }
    [[nodiscard]] ScanMode CurrentScanMode() const;
    [[nodiscard]] bool EnterFile();
    void ShowAnalyzing();
    void SetCurrentFile(std::string_view name);
    void Report(std::string_view message, const TokenNode* token, int charPos);
    void Append(std::string_view text, const ScannedToken& at);
    // The same for a text whose hash is known.
    void AppendHashed(std::string_view text, uint32_t hash, const ScannedToken& at);

    [[nodiscard]] bool IsPlainToken(const ScannedToken& token) const;
    [[nodiscard]] PlainStop PassPlainTokens(size_t stopBefore);
    template <bool kFixed>
    [[nodiscard]] bool TakePlainToken(const PlainToken& token, TokenAppender& appender, const char* file,
                                      int fixedLine, int fixedColumn) const;
    void HandleToken(const ScannedToken& token);
    void ReportScanError(const ScannedToken& token);
    void HandleImmediate(const ScannedToken& token);
    [[nodiscard]] bool ExpandsAsDefine(const ScannedToken& token, uint32_t hash);
    void Expand(int index, const ScannedToken& token);
    void ProcessToken(const ScannedToken& token, std::string_view text, uint32_t hash);
    [[nodiscard]] bool IsDirectivePending() const;
    [[nodiscard]] bool HandleConditional(uint32_t hash);
    void ResolveConditionalName(bool defined);
    void EndLine();
    [[nodiscard]] bool HandleDirective(const ScannedToken& token, std::string_view text,
                                       uint32_t hash);
    void CollectDefineText(std::string_view text);
    void FinishDefine();
    void ApplyCode(std::string_view operand);
    void SetLinkOption(std::string_view option);
    void PushNamespace(uint32_t word);
    void PopNamespace();
    void TakeDeclareOperand(std::string_view text);
    void Include(std::string_view operand, const ScannedToken& at);
    [[nodiscard]] std::vector<std::string> IncludeCandidates(const std::string& name) const;

    // The process-wide state, named as a constant so that its fields are
    // addressed directly rather than through a stored reference.
    static constexpr PreprocessorState& state_ = gState;
    std::string_view text_;
    Tokenizer scanner_;
    TokenNode* cursor_;
    bool logQuiet_;
    int indentation_;
    int fixedLine_;
    int fixedColumn_;
    bool expanding_;
    std::optional<std::string> readFile_;     // the file being read
    std::optional<std::string> currentFile_;  // the name tokens carry; #CODE replaces it
    const char* internedFile_ = nullptr;
    bool elseSeen_ = false;  // ELSE met on the current line
    bool stopped_ = false;
};

TokenNode* SourceRun::Run() {
    if (!EnterFile()) return cursor_;
    if (!expanding_ && !logQuiet_ && readFile_)
        WriteLogLine(std::string(static_cast<size_t>(indentation_), ' ') + *readFile_ + "\n");
    if (!expanding_) ShowAnalyzing();

    const CompileMessageState& messages = GetCompileMessageState();
    const bool reporting = !expanding_ && gHooks.showProgressPosition != nullptr;
    if (!expanding_) ++gFileRunsStarted;
    // Positions before nextReport need no report while no nested file
    // reported its own (the window's answer holds for this file's total).
    int64_t nextReport = INT64_MIN;
    uint64_t runsSeen = gFileRunsStarted;
    while (!stopped_ && !state_.expansionAborted) {
        if (messages.errorCount >= kTokenizerErrorLimit) break;
        if (reporting) {
            if (runsSeen != gFileRunsStarted) {
                runsSeen = gFileRunsStarted;
                nextReport = INT64_MIN;
            }
            const auto position = static_cast<int32_t>(scanner_.Position());
            if (position >= nextReport)
                nextReport = gHooks.showProgressPosition(nullptr, position, static_cast<int32_t>(scanner_.Length()));
        }
        // Without a directive waiting for its operand, and outside assembler
        // source, every mode switch is off. A line end then means nothing
        // unless an ELSE waits for an IF on its line or a conditional for its
        // name; the scanner passes it over while no progress report falls due
        // on the way (a loader program sees every report).
        ScanMode plainMode;
        const bool plain = !state_.assemblerMode && !IsDirectivePending();
        if (plain && !elseSeen_ && !state_.expectConditionalName) {
            plainMode.passLineEndsBefore =
                !reporting ? SIZE_MAX : nextReport > 0 ? static_cast<size_t>(nextReport) : 0;
            // The tokens that are only appended go in a row, up to the next
            // report; the first other one is formed again by Next below.
            if (IsActive()) {
                const size_t before = scanner_.Position();
                if (PassPlainTokens(plainMode.passLineEndsBefore) == PlainStop::Due && scanner_.Position() != before)
                    continue;
            }
        }
        const ScannedToken token = scanner_.Next(plain ? plainMode : CurrentScanMode());
        if (token.kind == ScannedKind::End) break;
        if (plain && IsPlainToken(token)) {
            if (IsActive() && !token.text.empty()) AppendHashed(token.text, token.hash, token);
            continue;
        }
        HandleToken(token);
    }
    // The end of a text is the end of its last line (an expansion's value
    // is part of the line that uses it).
    if (!expanding_) EndLine();
    return cursor_;
}

// A file adds nothing when it was read before in this namespace or in the
// global one; expansions are never checked.
bool SourceRun::EnterFile() {
    if (expanding_ || !readFile_) return true;
    const uint32_t hash = HashIncludedFile(*readFile_);
    for (const IncludedFile& file : state_.includedFiles)
        if (file.nameHash == hash &&
            (file.namespaceWord == state_.namespaceWord || file.namespaceWord == 0))
            return false;
    if (state_.includedFiles.size() >= kMaxIncludedFiles) {
        Report("Too many included files", cursor_, -1);
        return false;
    }
    state_.includedFiles.push_back({hash, state_.namespaceWord});
    return true;
}

void SourceRun::ShowAnalyzing() {
    if (gHooks.showProgressText == nullptr) return;
    const std::string name = readFile_ ? ExtractFileName(*readFile_) : CutShortName(text_);
    gHooks.showProgressText("Analyzing (" + name + ")...\n");
}

void SourceRun::SetCurrentFile(std::string_view name) {
    currentFile_ = std::string(name);
    internedFile_ = InternName(currentFile_->c_str());
}

ScanMode SourceRun::CurrentScanMode() const {
    ScanMode mode;
    const bool collecting = state_.defineState == DefineState::CollectingValue;
    mode.keepCase = collecting || state_.declareState == 3;  // 3: the export name keeps its case
    mode.keepWritten = collecting;
    mode.bareOperand = state_.pending.include || state_.pending.import;
    mode.bareBraces = state_.defineState == DefineState::NameAwaited;
    mode.assembler = state_.assemblerMode;
    return mode;
}

void SourceRun::Report(std::string_view message, const TokenNode* token, int charPos) {
    ReportCompileMessage(CurrentFileName(), message, token, charPos, false);
}

// Tokens carry their own position, or the one given for the whole text
// (inside a define's expansion, the position of the define's use).
void SourceRun::Append(std::string_view text, const ScannedToken& at) {
    AppendHashed(text, HashText(text), at);
}

void SourceRun::AppendHashed(std::string_view text, uint32_t hash, const ScannedToken& at) {
    const bool fixed = fixedLine_ != -1;
    const int line = fixed ? fixedLine_ : at.line;
    const int column = fixed ? fixedColumn_ : at.column;
    EmitHashedTokenInline(cursor_, text, hash, internedFile_, line, column);
}

// Whether HandleToken would do no more than append the token (asked while no
// directive waits for its operand, outside assembler source): no scan error,
// no conditional waiting for its name, no directive word, no define to
// expand. Nearly every token is such a one.
bool SourceRun::IsPlainToken(const ScannedToken& token) const {
    if (token.error != ScanError::None || state_.expectConditionalName || kDirectiveHashBits.Has(token.hash))
        return false;
    switch (token.kind) {
        case ScannedKind::Word: return token.endsWithSigil || FindDefineByHash(token.hash) < 0;
        case ScannedKind::Symbol:
        case ScannedKind::String: return true;
        default: return false;
    }
}

// The scanner's run of plain tokens, appended in an active level. A function
// of its own, so that the loop keeps its state in registers.
// The position a token is given and the file name are read once per run,
// not after each appended node (whose stores may change any member as far as
// the compiler knows), and a run at a fixed position has a loop of its own.
[[gnu::noinline]] PlainStop SourceRun::PassPlainTokens(size_t stopBefore) {
    TokenAppender appender(cursor_);
    const char* const file = internedFile_;
    const int line = fixedLine_;
    const int column = fixedColumn_;
    const PlainStop stop =
        line != -1 ? scanner_.PassPlainTokens(stopBefore,
                                              [this, &appender, file, line, column](const PlainToken& token) {
                                                  return TakePlainToken<true>(token, appender, file, line, column);
                                              })
                   : scanner_.PassPlainTokens(stopBefore, [this, &appender, file](const PlainToken& token) {
                         return TakePlainToken<false>(token, appender, file, 0, 0);
                     });
    appender.Finish();
    return stop;
}

// IsPlainToken and the append for a token of PassPlainTokens (in an active
// level, with every directive state as IsPlainToken asks it). The run also
// takes IF: it starts only while no ELSE waits on its line (elseSeen_), and
// takes no ELSE, so an IF in it is no ELSE IF and ProcessToken would only
// append it.
template <bool kFixed>
[[gnu::always_inline]] inline bool SourceRun::TakePlainToken(const PlainToken& token, TokenAppender& appender,
                                                             const char* file, int fixedLine,
                                                             int fixedColumn) const {
    if (kPlainRunHashBits.Has(token.hash)) return false;
    if (token.word && !token.endsWithSigil && FindDefineByHash(token.hash) >= 0) return false;
    appender.Append(token.text, token.hash, file, kFixed ? fixedLine : token.line, kFixed ? fixedColumn : token.column);
    return true;
}

void SourceRun::HandleToken(const ScannedToken& token) {
    if (token.kind == ScannedKind::Invalid) {
        Report("Invalid character '" + std::string(token.written) + "'", nullptr,
               static_cast<int>(token.start));
        stopped_ = true;
        return;
    }
    if (token.kind == ScannedKind::CharCodes || token.kind == ScannedKind::EvalString) {
        HandleImmediate(token);
        return;
    }
    if (token.error != ScanError::None) ReportScanError(token);
    if (token.kind == ScannedKind::Word && ExpandsAsDefine(token, token.hash)) return;
    ProcessToken(token, token.text, token.hash);
}

void SourceRun::ReportScanError(const ScannedToken& token) {
    switch (token.error) {
        case ScanError::None: break;
        case ScanError::MissingQuote: Report("Missing closing \"", cursor_, -1); break;
        case ScanError::MissingBrace: Report("Missing closing }", cursor_, -1); break;
        case ScanError::MissingSingleQuote:
            Report("Missing closing '", nullptr, static_cast<int>(token.start));
            break;
        case ScanError::AssemblerSyntax: Report("Syntax error", cursor_, -1); break;
    }
}

// Character codes and single-quoted texts are appended as soon as they are
// read. In a define value they stay as written, to be read at each use.
void SourceRun::HandleImmediate(const ScannedToken& token) {
    ReportScanError(token);
    if (state_.defineState == DefineState::CollectingValue) {
        CollectDefineText(token.written);
        return;
    }
    if (!IsActive()) return;
    if (token.kind == ScannedKind::CharCodes) {
        Append(token.text, token);
        return;
    }
    Append("EVALSTRING", token);
    Append("(", token);
    Append(token.text, token);
    Append(")", token);
}

// A defined word is replaced by its value, except where a name is awaited
// (a conditional, a #DEFINE, #UNDEF or #NAMESPACE name) and for words that
// end in "$" or "%". The word itself is never appended.
bool SourceRun::ExpandsAsDefine(const ScannedToken& token, uint32_t hash) {
    if (token.endsWithSigil || state_.expectConditionalName ||
        state_.defineState == DefineState::NameAwaited || state_.pending.undef ||
        state_.pending.nameSpace)
        return false;
    const int index = FindDefineByHash(hash);
    if (index < 0) return false;
    if (IsActive()) Expand(index, token);
    return true;
}

void SourceRun::Expand(int index, const ScannedToken& token) {
    if (state_.expansionDepth >= kMaxExpansionDepth) {
        Report("Define \"" + std::string(token.text) + "\" is expanded too deeply", cursor_, -1);
        state_.expansionAborted = true;  // every enclosing expansion stops too
        return;
    }
    // A copy: the value may be changed or removed by its own directives.
    const std::string value = GetDefine(index)->value;
    const bool overBudget = state_.expansionWork > kMaxExpansionWork;
    state_.expansionWork += value.size() + 1;
    if (state_.expansionWork > kMaxExpansionWork) {
        // Reported once; every later expansion of the compilation stops too.
        if (!overBudget) Report("Define \"" + std::string(token.text) + "\" expands to too much text", cursor_, -1);
        if (state_.expansionDepth > 0) state_.expansionAborted = true;
        return;
    }
    const int line = fixedLine_ != -1 ? fixedLine_ : token.line;
    const int column = fixedLine_ != -1 ? fixedColumn_ : token.column;
    ++state_.expansionDepth;
    cursor_ = PreprocessFile(CurrentFileName(), value, cursor_, logQuiet_, indentation_ + 2,
                             line, column);
    if (--state_.expansionDepth == 0) state_.expansionAborted = false;
}

void SourceRun::ProcessToken(const ScannedToken& token, std::string_view text, uint32_t hash) {
    const bool lineEnd = token.kind == ScannedKind::LineEnd;
    if (state_.assemblerMode && hash == KeywordHashes[Keyword::DirectiveDeasm]) {
        state_.deasmSeen = true;
        return;
    }

    // Conditionals act also inside inactive levels, before anything else.
    if (state_.expectConditionalName) {
        state_.expectConditionalName = false;
        // A line end in place of the name counts as a name that is not defined.
        ResolveConditionalName(!lineEnd && FindDefineByHash(hash) >= 0);
        if (!lineEnd) return;
    }
    if (lineEnd) {
        EndLine();
        return;
    }
    // Nearly every token is no directive word and meets no directive waiting
    // for its operand: it is appended (in an active level) without the tests below.
    if (!kDirectiveHashBits.Has(hash) && !IsDirectivePending()) {
        if (IsActive() && !text.empty()) AppendHashed(text, hash, token);
        return;
    }
    if (HandleConditional(hash) || !IsActive()) return;

    // ELSE IF on one line becomes ELSE __ELSEIF.
    if (hash == KeywordHashes[Keyword::Else]) {
        elseSeen_ = true;
    } else if (hash == KeywordHashes[Keyword::If] && elseSeen_ && cursor_ != nullptr &&
               cursor_->hash == KeywordHashes[Keyword::Else]) {
        text = "__ELSEIF";
        hash = HashText(text);
    }

    // An empty operand leaves its directive waiting for the next token.
    if (text.empty() || HandleDirective(token, text, hash)) return;
    AppendHashed(text, hash, token);
}

// Whether a directive takes the next token as its operand (a define's name or
// value, an #UNDEF list, the operand of #INCLUDE, #CODE ...).
bool SourceRun::IsDirectivePending() const {
    return state_.defineState != DefineState::Idle || std::bit_cast<uint64_t>(state_.pending) != 0 ||
           state_.declareState > 0;
}

bool SourceRun::HandleConditional(uint32_t hash) {
    if (hash == KeywordHashes[Keyword::DirectiveIfdef] || hash == KeywordHashes[Keyword::DirectiveIfndef]) {
        if (!IsActive()) {
            ++state_.nestedInactive;
            return true;
        }
        if (state_.depth + 1 >= kMaxConditionalDepth) {
            Report("Too many nested #IFDEF levels", cursor_, -1);
            stopped_ = true;
            return true;
        }
        ++state_.depth;
        state_.levels[static_cast<size_t>(state_.depth)] = {hash == KeywordHashes[Keyword::DirectiveIfndef], false};
        state_.expectConditionalName = true;
        return true;
    }
    if (hash != KeywordHashes[Keyword::DirectiveElseIf] && hash != KeywordHashes[Keyword::DirectiveElse] && hash != KeywordHashes[Keyword::DirectiveEndIf]) return false;
    if (state_.depth < 0) return true;  // no open level: the directive changes nothing

    ConditionalLevel& level = state_.levels[static_cast<size_t>(state_.depth)];
    const bool ownLevel = !level.inactive || state_.nestedInactive == 0;
    if (hash == KeywordHashes[Keyword::DirectiveEndIf]) {
        if (!ownLevel) {
            --state_.nestedInactive;
            return true;
        }
        level = {false, false};
        --state_.depth;
    } else if (!ownLevel) {
        return true;
    } else if (hash == KeywordHashes[Keyword::DirectiveElse]) {
        level.inactive = level.taken;
    } else if (!level.taken) {
        level.inactive = false;
        state_.expectConditionalName = true;
    } else {
        level.inactive = true;
    }
    return true;
}

void SourceRun::ResolveConditionalName(bool defined) {
    ConditionalLevel& level = state_.levels[static_cast<size_t>(state_.depth)];
    if (!defined) level.inactive = !level.inactive;
    if (!level.inactive) level.taken = true;
}

// A line end closes a define's value (unless a lone "\" continued it) and an
// #UNDEF list; it counts for the line in every level, active or not.
void SourceRun::EndLine() {
    if (state_.defineState == DefineState::CollectingValue) {
        if (state_.defineContinued && scanner_.Position() < scanner_.Length())
            state_.defineContinued = false;
        else
            FinishDefine();
    }
    state_.pending.undef = false;
    elseSeen_ = false;
}

// The directives in the order they are tested; a pending directive takes the
// token before any directive word is recognised.
bool SourceRun::HandleDirective(const ScannedToken& token, std::string_view text, uint32_t hash) {
    const bool assembler = state_.assemblerMode;
    switch (state_.defineState) {
        case DefineState::NameAwaited:
            state_.defineName = text;
            ToUpperAscii(state_.defineName);
            state_.defineValue.clear();
            state_.defineState = DefineState::CollectingValue;
            return true;
        case DefineState::CollectingValue:
            if (text == "\\")
                state_.defineContinued = true;
            else
                CollectDefineText(text);
            return true;
        case DefineState::Idle: break;
    }
    if (hash == KeywordHashes[Keyword::DirectiveDefine]) {
        state_.defineState = DefineState::NameAwaited;
        state_.defineContinued = false;
        return true;
    }
    if (state_.pending.debugFile) {
        state_.pending.debugFile = false;
        if (state_.marks.runtimeLog && gHooks.openDebugLog != nullptr)
            gHooks.openDebugLog(Unquote(text));
        return true;
    }
    if (hash == KeywordHashes[Keyword::DirectiveDebugFile]) return state_.pending.debugFile = true;
    if (hash == KeywordHashes[Keyword::DirectiveDebugOn] || hash == KeywordHashes[Keyword::DirectiveDebugOff]) {
        state_.marks.runtimeLog = hash == KeywordHashes[Keyword::DirectiveDebugOn];
        if (gHooks.setRuntimeLog != nullptr) gHooks.setRuntimeLog(state_.marks.runtimeLog);
        return true;
    }
    if (hash == KeywordHashes[Keyword::DirectiveNoWarning]) {
        GetCompileMessageState().warningsEnabled = false;
        return true;
    }
    if (state_.pending.icon) {
        state_.pending.icon = false;
        if (!state_.marks.iconSet) state_.marks.iconFile = Unquote(text);
        state_.marks.iconSet = true;
        return true;
    }
    if (hash == KeywordHashes[Keyword::DirectiveIcon]) return state_.pending.icon = true;
    if (!assembler && state_.pending.code) {
        state_.pending.code = false;
        Append(text, token);
        ApplyCode(Unquote(text));
        return true;
    }
    if (!assembler && hash == KeywordHashes[Keyword::DirectiveCode]) {
        Append(text, token);
        return state_.pending.code = true;
    }
    if (state_.pending.link) {
        state_.pending.link = false;
        SetLinkOption(text);
        return true;
    }
    if (hash == KeywordHashes[Keyword::DirectiveLink]) return state_.pending.link = true;
    if (!assembler && (hash == KeywordHashes[Keyword::DirectiveGlobals] || hash == KeywordHashes[Keyword::DirectiveLocals])) {
        SetDefineGlobalMark(hash == KeywordHashes[Keyword::DirectiveGlobals]);
        return true;
    }
    if (!assembler && hash == KeywordHashes[Keyword::DirectiveLibrary]) return state_.marks.library = true;
    if (!assembler && hash == KeywordHashes[Keyword::DirectiveNoQoc]) return state_.marks.noCompiledFile = true;
    if (state_.pending.undef) {
        RemoveDefine(FindDefineByHash(hash));
        return true;
    }
    if (hash == KeywordHashes[Keyword::DirectiveUndef]) return state_.pending.undef = true;
    if (state_.pending.include) {
        state_.pending.include = false;
        Include(text, token);
        return true;
    }
    if (hash == KeywordHashes[Keyword::DirectiveInclude]) return state_.pending.include = true;
    if (state_.pending.nameSpace) {
        state_.pending.nameSpace = false;
        Append(text, token);
        PushNamespace(hash);
        return true;
    }
    if (hash == KeywordHashes[Keyword::DirectiveNamespace]) {
        Append(text, token);
        return state_.pending.nameSpace = true;
    }
    if (hash == KeywordHashes[Keyword::DirectiveEndNamespace]) {
        Append(text, token);
        PopNamespace();
        return true;
    }
    if (assembler) return false;
    if (state_.pending.import) {
        state_.pending.import = false;
        ImportTypeLibrary(CurrentFileName(), text);
        return true;
    }
    if (hash == KeywordHashes[Keyword::DirectiveImport]) return state_.pending.import = true;
    if (state_.declareState > 0) {
        TakeDeclareOperand(text);
        return true;
    }
    if (hash == KeywordHashes[Keyword::DirectiveDeclare] || hash == KeywordHashes[Keyword::DirectiveDeclareApi] ||
        hash == KeywordHashes[Keyword::DirectiveCDeclare] || hash == KeywordHashes[Keyword::DirectiveCDeclareApi]) {
        state_.declareDirective = hash;
        state_.declaration = {};
        state_.declareState = 1;
        return true;
    }
    return false;
}

// A define's value is its tokens' texts joined by one blank, so that tokens
// stay apart when the value is read again (a$ AND b$ must not become ANDB$).
void SourceRun::CollectDefineText(std::string_view text) {
    if (text.empty()) return;
    if (!state_.defineValue.empty()) state_.defineValue += ' ';
    state_.defineValue += text;
}

void SourceRun::FinishDefine() {
    state_.defineState = DefineState::Idle;
    if (HashText(state_.defineName) == HashText(state_.defineValue)) {
        Report("Define value cannot be the same as it's name", cursor_, -1);
        return;
    }
    const int index = SetDefine(state_.defineName, std::move(state_.defineValue));
    state_.defineValue.clear();
    if (index < 0)
        Report(kDefineTableFullMessage, cursor_, -1);
    else
        state_.lastDefineIndex = index;
}

// #CODE "file,line": the tokens that follow belong to that file and line.
void SourceRun::ApplyCode(std::string_view operand) {
    const size_t comma = operand.find(',');
    const int line = comma == std::string_view::npos
                         ? 0
                         : platform::TruncateToInteger<int>(ReadNumber(operand.substr(comma + 1)));
    SetCurrentFile(operand.substr(0, comma));
    scanner_.SetLine(line);
    scanner_.SetLineStart(scanner_.Position());
}

void SourceRun::SetLinkOption(std::string_view option) {
    std::string lower(option);
    ToLowerAscii(lower);
    if (lower == "1")
        state_.marks.linkPassLimit = 1;
    else if (lower == "off")
        state_.marks.linkPassLimit = 0;
    else if (lower == "multi")
        state_.marks.linkPassLimit = 999;
    else
        Report("Invalid link option", cursor_, -1);
}

void SourceRun::PushNamespace(uint32_t word) {
    if (state_.namespaceStack.size() >= kMaxNamespaceDepth) {
        Report("Too many nested namespaces", cursor_, -1);
        return;
    }
    state_.namespaceStack.push_back(state_.namespaceWord);
    state_.namespaceWord = word;
}

void SourceRun::PopNamespace() {
    if (state_.namespaceStack.empty()) {
        state_.namespaceWord = 0;
        return;
    }
    state_.namespaceWord = state_.namespaceStack.back();
    state_.namespaceStack.pop_back();
}

// #DECLARE name library export count result: the operands may be separated by
// blanks or by commas (commas are skipped). The API forms pass texts as
// UTF-16; #DECLARE and #DECLAREAPI call through the S form.
void SourceRun::TakeDeclareOperand(std::string_view text) {
    if (text == ",") return;
    PendingDeclaration& declaration = state_.declaration;
    switch (state_.declareState) {
        case 1: declaration.name = Unquote(text); break;
        case 2: declaration.libraryName = Unquote(text); break;
        case 3: declaration.exportName = Unquote(text); break;
        case 4: declaration.argumentCount = ReadByte(text); break;
        default: break;
    }
    if (state_.declareState < 5) {
        ++state_.declareState;
        return;
    }
    state_.declareState = 0;
    const uint8_t resultKind = ReadByte(text);
    const uint32_t directive = state_.declareDirective;
    const bool wideTexts = directive == KeywordHashes[Keyword::DirectiveDeclareApi] ||
                           directive == KeywordHashes[Keyword::DirectiveCDeclareApi];
    const bool sForm = directive == KeywordHashes[Keyword::DirectiveDeclare] ||
                       directive == KeywordHashes[Keyword::DirectiveDeclareApi];
    const int index = DeclareDllFunction(declaration.name, declaration.exportName,
                                         declaration.libraryName, declaration.argumentCount,
                                         resultKind != 0, wideTexts, sForm);
    if (FunctionRecord* record = FunctionRecordAt(index); record != nullptr)
        record->ownerMark = IsDefineGlobalMark() ? kDefineOwnerGlobal : kDefineOwnerProgram;
}

// Where #INCLUDE looks, in order: beside the file being read, beside the
// current source file, in the application directory, in its Lib folder and
// in each directory of LIBPATH%.
std::vector<std::string> SourceRun::IncludeCandidates(const std::string& name) const {
    std::vector<std::string> candidates;
    candidates.push_back(name);
    if (readFile_) candidates.push_back(ExtractFilePath(*readFile_) + name);
    if (currentFile_) {
        std::string directory = ExtractFilePath(*currentFile_);
        if (directory.empty() && readFile_) directory = ExtractFilePath(*readFile_);
        candidates.push_back(directory + name);
    } else {
        candidates.push_back(name);
        if (state_.assemblerMode && gHooks.contextDirectory != nullptr)
            candidates.push_back(WithTrailingSeparator(gHooks.contextDirectory()) + name);
    }
    const std::string& application = ApplicationDirectory();
    candidates.push_back(application + name);
    candidates.push_back(application + "Lib/" + name);
    if (gHooks.readLibraryPath != nullptr)
        for (const std::string& directory : gHooks.readLibraryPath())
            candidates.push_back(WithTrailingSeparator(directory) + name);
    return candidates;
}

void SourceRun::Include(std::string_view operand, const ScannedToken& at) {
    std::string name(operand);
    // ".qob" is added when the file-name part has no "." (so "../lib/util" gets it).
    const size_t nameStart = name.find_last_of("\\/");
    if (name.find('.', nameStart == std::string::npos ? 0 : nameStart + 1) == std::string::npos)
        name += ".qob";

    const std::vector<std::string> candidates = IncludeCandidates(name);
    std::optional<std::string> path;
    for (const std::string& candidate : candidates) {
        if (platform::GetPathKind(candidate) == platform::PathKind::File) {
            path = platform::ResolvePath(candidate);
            break;
        }
    }
    // A found file is read under its real name (the name written may differ
    // in case); none found, the last candidate is tried relative to the
    // application directory.
    if (!path) path = ResolveAppRelativePath(candidates.back());
    std::optional<std::string> content = platform::ReadFileBytes(*path);
    if (!content) {
        Report("File \"" + name + "\" not found", nullptr, static_cast<int>(scanner_.Position()));
        stopped_ = true;
        return;
    }

    const bool assembler = state_.assemblerMode;
    const std::string quotedPath = Quoted(*path);
    if (!assembler) {
        const char* includedFile = InternName(path->c_str());
        EmitInternedToken(cursor_, "#CODE", includedFile, 1, 1);
        EmitInternedToken(cursor_, quotedPath, includedFile, 1, 1);
    }
    // The included text is a file of its own, not part of an expansion.
    const int expansionDepth = state_.expansionDepth;
    state_.expansionDepth = 0;
    cursor_ = PreprocessFile(path->c_str(), *content, cursor_, logQuiet_, indentation_ + 2);
    state_.expansionDepth = expansionDepth;
    if (!assembler) {
        Append("#CODE", at);
        Append(Quoted(currentFile_.value_or("")), at);
    }
    if (!expanding_) ShowAnalyzing();
}

}  // namespace

void SetPreprocessorHooks(const PreprocessorHooks& hooks) { gHooks = hooks; }

PreprocessorState& GetPreprocessorState() { return gState; }

void ResetPreprocessor(int linkPassLimit) {
    gState = PreprocessorState{};
    gState.marks.linkPassLimit = linkPassLimit;
    SetDefineGlobalMark(false);
}

void ClearIncludedFiles() { gState.includedFiles.clear(); }

TokenNode* PreprocessFile(const char* fileName, std::string_view text, TokenNode* cursor,
                          bool logQuiet, int indentation, int line, int column) {
    SourceRun run(fileName, text, cursor, logQuiet, indentation, line, column);
    return run.Run();
}

}  // namespace qob
