// compiler/back_end/linker.cpp
// Link passes over the postfix stream: collect the references, delete the
// unreferenced procedures, then declare the native functions in use.
#include "compiler/back_end/linker.h"

#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "compiler/back_end/procedure_index.h"
#include "compiler/front_end/stream_kinds.h"
#include "compiler/front_end/token_list.h"
#include "runtime/registry/function_table.h"
#include "runtime/registry/keywords.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/program_context.h"

namespace qob {
namespace {

// One procedure of a pass, made from its header token.
struct PassProcedure {
    std::string name;        // the key, from the header's fifth character
    ProcedureRecord record;  // what FindProc reads; record.name points into name
    bool forceLink = false;
    bool forward = false;
};

// The references one pass collects. A procedure reference counts in the
// namespace it was made from; a reference from outside every namespace
// (scope 0) is found by a search in any scope.
class LinkRefs {
public:
    // FindLinkRef(procedure, -1, scope) as an existence test.
    [[nodiscard]] bool HasProcedureRef(int procedure, uint32_t scope) const {
        const auto at = static_cast<size_t>(procedure);
        if (scope == 0) return at < anyScope_.size() && anyScope_[at] != 0;
        return byScope_.count(Key(procedure, scope)) != 0;
    }
    // AddLinkRef(procedure, -1, token) in the given scope. Procedure
    // indexes are those of the pass's records, from 0 up. A reference made
    // outside every namespace is only ever asked for as one in any scope.
    void AddProcedureRef(int procedure, uint32_t scope) {
        const auto at = static_cast<size_t>(procedure);
        if (at >= anyScope_.size()) anyScope_.resize(at + 1, 0);
        anyScope_[at] = 1;
        if (scope != 0) byScope_.insert(Key(procedure, scope));
    }
    // AddLinkRef(-1, import, token): imports are kept in the order of their
    // first reference, which is the order of their declarations.
    void AddImportRef(int import) {
        if (importSet_.insert(import).second) imports_.push_back(import);
    }
    void ClearProcedures() {
        anyScope_.clear();
        byScope_.clear();
    }
    void ClearImports() {
        importSet_.clear();
        imports_.clear();
    }
    [[nodiscard]] const std::vector<int>& Imports() const { return imports_; }

private:
    static uint64_t Key(int procedure, uint32_t scope) {
        return (static_cast<uint64_t>(static_cast<uint32_t>(procedure)) << 32) | scope;
    }
    std::vector<uint8_t> anyScope_;          // by procedure index: 1 when referenced in some scope
    std::unordered_set<uint64_t> byScope_;  // (procedure, scope) of the references made in a namespace
    std::unordered_set<int> importSet_;
    std::vector<int> imports_;
};

bool IsBlockOpener(uint32_t hash) {
    return hash == KeywordHashes[Keyword::If] || hash == KeywordHashes[Keyword::While] ||
           hash == KeywordHashes[Keyword::Repeat] || hash == KeywordHashes[Keyword::ForEach] ||
           hash == KeywordHashes[Keyword::ForEachRev] || hash == KeywordHashes[Keyword::For] ||
           hash == KeywordHashes[Keyword::Case] || hash == KeywordHashes[Keyword::Except];
}

bool IsBlockCloser(uint32_t hash) {
    return hash == KeywordHashes[Keyword::End] || hash == KeywordHashes[Keyword::Until];
}

bool IsEntryHeader(const char* text) {
    return std::strcmp(text, "\xE9   MAIN") == 0 || std::strcmp(text, "\xEC ! WINMAIN") == 0;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The driver calls UPDATE of the loader program by name, so the linker keeps
// it there although nothing in the program calls it.
bool IsLoaderProgram(const char* fileName) {
    return fileName && EqualsIgnoringCase(FileNameWithoutFolder(fileName), "LOAD.QOB");
}

// A name token: a word that may name a procedure address or a native function.
bool IsNameToken(const char* text) {
    const unsigned char first = static_cast<unsigned char>(text[0]);
    // The process keeps the "C" locale: its letters are the ASCII ones, tested here without a call.
    const bool letter = (first | 0x20) >= 'a' && (first | 0x20) <= 'z';
    if (!(letter || first == '_' || first == '&')) return false;
    const size_t length = std::strlen(text);
    return text[length - 1] != '$' && text[length - 1] != '%';
}

class Linker {
public:
    static constexpr uintptr_t kLayoutAhead = 4096;

    Linker(const char* fileName, const LinkOptions& options)
        : fileName_(fileName), options_(options), keepUpdate_(IsLoaderProgram(fileName)) {}

    TokenNode* Run(TokenNode* last) {
        // The list is long and scattered in memory: its head, length and last
        // node are found once and then kept up to date, not walked for again.
        tail_ = LastOf(last);
        const TokenListHead found = FindTokenListHead(tail_);
        TokenNode* head = found.first;
        tokenCount_ = found.count;
        for (int pass = 1;; ++pass) {
            procedures_.clear();
            index_.Clear();
            refs_.ClearProcedures();
            refs_.ClearImports();
            Collect(head, pass);
            bool changed = false;
            if (options_.passLimit >= 1 && AnyDeletable()) head = RemoveUnreferenced(head, changed);
            if (options_.passLimit == 0 || pass + 1 > options_.passLimit || !changed) break;
        }
        procedures_.clear();
        index_.Clear();
        return PrependDeclarations(head);
    }

private:
    void Collect(TokenNode* head, int pass) {
        const int total = options_.progress ? tokenCount_ : 0;
        if (options_.progress)
            options_.progress(StageProgressText("Link pass " + std::to_string(pass), fileName_).c_str(), 0, total);
        namespaces_.clear();
        definitionHeaders_.clear();
        // Nothing is declared while the stream is walked.
        nativeDeclared_ = AnyNativeDeclared();
        const uint32_t savedNamespace = CurrentNamespaceHash;
        CurrentNamespaceHash = 0;
        bool scopedName = false;   // a "::" namespace holds for the next token
        uint32_t outerScope = 0;
        int position = 0;
        int64_t nextReport = options_.progress ? 0 : INT64_MAX;
        for (TokenNode* node = head; node; node = node->next) {
            // The store makes a list's tokens one after the other, mostly in
            // list order: memory this far on holds tokens some way ahead.
            __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(node) + kLayoutAhead));
            if (++position >= nextReport) nextReport = options_.progress(nullptr, position, total);
            const bool restore = scopedName;
            scopedName = false;
            node = CollectToken(node, scopedName, outerScope);
            if (restore) CurrentNamespaceHash = outerScope;
            if (!node) break;
        }
        CurrentNamespaceHash = savedNamespace;
    }

    // Classes one token; returns the last token it consumed.
    TokenNode* CollectToken(TokenNode* node, bool& scopedName, uint32_t& outerScope) {
        const char* text = node->text;
        const uint8_t kind = TextKind(text);
        if (kind == kCallProcedure) {
            AddProcedureRef(text + 1);
        } else if (IsDefinitionHeaderKind(kind)) {
            AddDefinition(node);
            definitionHeaders_.push_back(node);
        } else if (IsForwardHeaderKind(kind)) {
            AddProcedure(node, true);
        } else if (node->hash == KeywordHashes[Keyword::DirectiveNamespace]) {
            namespaces_.push_back(CurrentNamespaceHash);
            if (!node->next) return nullptr;
            CurrentNamespaceHash = node->next->hash;
            NoteSkippedHeader(node->next);
            return node->next;
        } else if (node->hash == KeywordHashes[Keyword::DirectiveEndNamespace]) {
            CurrentNamespaceHash = namespaces_.empty() ? 0 : namespaces_.back();
            if (!namespaces_.empty()) namespaces_.pop_back();
        } else if (node->hash == KeywordHashes[Keyword::ScopeSeparator]) {
            if (!node->next) return nullptr;
            outerScope = CurrentNamespaceHash;
            CurrentNamespaceHash = node->next->hash;
            scopedName = true;
            NoteSkippedHeader(node->next);
            return node->next;
        } else if (text[0] && (text[0] == '&' || nativeDeclared_) && IsNameToken(text)) {
            if (text[0] == '&') {
                if (node->hash != KeywordHashes[Keyword::Ampersand] && node->hash != KeywordHashes[Keyword::AndAssign])
                    AddProcedureRef(text + 1);
            } else {
                const int function = FindFunctionByHash(node->hash);
                const FunctionRecord* record = FunctionRecordAt(function);
                if (record && record->declaredNative) refs_.AddImportRef(function);
            }
        }
        return node;
    }

    void AddProcedureRef(const char* key) {
        const ProcLookup lookup = index_.Find(key, false, false);
        if (lookup.index >= 0) refs_.AddProcedureRef(lookup.index, CurrentNamespaceHash);
    }

    void AddDefinition(TokenNode* header) {
        const char* key = HeaderKey(header);
        if (!key) return;
        const ProcLookup lookup = index_.Find(key, true, true);
        if (lookup.index >= 0 && procedures_[static_cast<size_t>(lookup.index)]->forward) {
            procedures_[static_cast<size_t>(lookup.index)]->forward = false;
            SetHeaderIndex(header, lookup.index);
            return;
        }
        AddProcedure(header, true);
    }

    // Every new record starts as forward; a definition that takes over the
    // record of its forward declaration clears the mark.
    void AddProcedure(TokenNode* header, bool forward) {
        const char* key = HeaderKey(header);
        if (!key) return;
        const uint8_t kind = TextKind(header->text);
        auto procedure = std::make_unique<PassProcedure>();
        procedure->name = key;
        procedure->record.name = procedure->name.data();
        procedure->record.undefinedStart = IsNFormHeaderKind(kind) ? 1 : 0;
        procedure->record.countByte =
            HeaderKindHasOutputs(kind) ? static_cast<uint8_t>(static_cast<uint8_t>(header->text[2]) - 32) : 0;
        procedure->record.namespaceHash = CurrentNamespaceHash;
        procedure->forceLink = header->text[3] == kProcHeaderForceLink;
        procedure->forward = forward;
        const int index = static_cast<int>(procedures_.size());
        index_.Add(&procedure->record, index);
        procedures_.push_back(std::move(procedure));
        SetHeaderIndex(header, index);
    }

    // The header keeps its record's index plus 1; 0 (a new token, or more
    // records than the field holds) means none, and such a procedure is kept.
    static void SetHeaderIndex(TokenNode* header, int index) {
        header->procedureIndex = index + 1 <= 0xFFFF ? static_cast<uint16_t>(index + 1) : 0;
    }

    static const char* HeaderKey(const TokenNode* header) {
        return std::strlen(header->text) > kProcHeaderKeyOffset ? header->text + kProcHeaderKeyOffset : nullptr;
    }

    // A definition header taken as the name after #NAMESPACE or "::" is no
    // definition to the collection, but the removal walk would still test it.
    void NoteSkippedHeader(TokenNode* node) {
        if (IsDefinitionHeaderKind(TextKind(node->text))) definitionHeaders_.push_back(node);
    }

    // Only definition headers can be deletable: when none of them is, the
    // removal walk over the whole stream would change nothing.
    bool AnyDeletable() const {
        for (const TokenNode* header : definitionHeaders_)
            if (IsDeletable(header)) return true;
        return false;
    }

    bool IsDeletable(const TokenNode* header) const {
        if (!IsDefinitionHeaderKind(TextKind(header->text)) || IsEntryHeader(header->text)) return false;
        const char* key = HeaderKey(header);
        if (!key || std::strchr(key, '.') || header->procedureIndex == 0) return false;
        const PassProcedure& procedure = *procedures_[header->procedureIndex - 1u];
        if (procedure.forceLink) return false;
        if (keepUpdate_ && ProcedureNamePart(procedure.name) == "UPDATE") return false;
        return !refs_.HasProcedureRef(header->procedureIndex - 1, procedure.record.namespaceHash);
    }

    TokenNode* RemoveUnreferenced(TokenNode* head, bool& changed) {
        TokenNode* newHead = nullptr;
        TokenNode* node = head;
        tokenCount_ = 0;
        tail_ = nullptr;
        while (node) {
            if (IsDeletable(node)) {
                node = DeleteProcedure(node);
                changed = true;
                continue;
            }
            if (!newHead) newHead = node;
            ++tokenCount_;
            tail_ = node;
            node = node->next;
        }
        return newHead;
    }

    // Deletes a header and its body up to the END that closes it; returns the
    // token after them.
    TokenNode* DeleteProcedure(TokenNode* header) {
        int depth = 1;
        TokenNode* node = DeleteTokenNext(header);
        while (node && depth > 0) {
            if (IsBlockOpener(node->hash)) ++depth;
            else if (IsBlockCloser(node->hash)) --depth;
            node = DeleteTokenNext(node);
        }
        if (options_.debugMode && depth == 0 && node && node->hash == KeywordHashes[Keyword::DebugMarker])
            node = DeleteTokenNext(node);
        return node;
    }

    // One declaration per native function in use, in front of the stream.
    // The stream's head, last node and length are known here and are
    // remembered: the code generator is spared a walk back over the stream.
    TokenNode* PrependDeclarations(TokenNode* head) {
        TokenNode* declarations = nullptr;
        for (int import : refs_.Imports()) {
            const FunctionRecord* record = FunctionRecordAt(import);
            if (!record) continue;
            const char* directive = record->sForm ? (record->wideText ? "#DECLAREAPI" : "#DECLARE")
                                                  : (record->wideText ? "#C_DECLAREAPI" : "#C_DECLARE");
            Emit(declarations, directive);
            Emit(declarations, record->name);
            Emit(declarations, record->exportName);
            Emit(declarations, record->libraryName);
            Emit(declarations, std::to_string(record->argumentCount));
            Emit(declarations, std::to_string(record->returnsValue));
        }
        refs_.ClearImports();
        if (!declarations) {
            if (head) RememberTokenList(head, tail_, tokenCount_);
            return tail_;
        }
        if (!head) return declarations;
        const TokenListHead prepended = FindTokenListHead(declarations);
        declarations->next = head;
        head->previous = declarations;
        RememberTokenList(prepended.first, tail_, prepended.count + tokenCount_);
        return tail_;
    }

    void Emit(TokenNode*& cursor, std::string_view text) { EmitToken(cursor, text, fileName_, 0, 0); }

    static TokenNode* LastOf(TokenNode* node) {
        while (node && node->next) node = node->next;
        return node;
    }

    const char* fileName_;
    TokenNode* tail_ = nullptr;  // the list's last node
    int tokenCount_ = 0;         // nodes in the list
    const LinkOptions& options_;
    const bool keepUpdate_;
    std::vector<std::unique_ptr<PassProcedure>> procedures_;
    ProcedureIndex index_;
    LinkRefs refs_;
    std::vector<uint32_t> namespaces_;
    std::vector<TokenNode*> definitionHeaders_;  // every definition header of the stream, from the last collection
    bool nativeDeclared_ = false;                // AnyNativeDeclared, when the collection started
};

}  // namespace

TokenNode* LinkProgram(const char* fileName, TokenNode* last, const LinkOptions& options) {
    Linker linker(fileName, options);
    return linker.Run(last);
}

}  // namespace qob
