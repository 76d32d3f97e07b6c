// compiler/front_end/token_list.h
// TokenNode, the doubly linked token lists that every compiler stage hands
// on (with the inline appends of a stage's hot loop), their small queries,
// and the procedure-header token text.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "platform/sanitizer.h"

namespace qob {

// Nodes and their texts come from the token lists' own store: a list is
// released with FreeTokenList (or node by node with UnlinkToken /
// DeleteTokenNext), never with free or by freeing a pool.
struct TokenNode {
    char* text;               // own NUL-terminated copy; freed with the node
    uint32_t hash;            // HashName of text: every keyword and name test compares this
    uint32_t storeBytes;      // size of the node's block in the store; set by the store alone
    const char* file;         // interned lower-case source file name; never freed with the node
    int32_t line;
    uint16_t column;
    uint16_t procedureIndex;  // set by the linker on procedure headers; 0 in a new node
    TokenNode* next;
    TokenNode* previous;
};

// While set, EmitToken appends nothing (process-wide, set by the front end).
void SetTokenOutputSuspended(bool suspended);
[[nodiscard]] bool IsTokenOutputSuspended();

// Makes a node for text (its own copy, hashed), with the interned form of
// fileName, and links it directly after cursor (also in the middle of a
// list); cursor then points to it. A null cursor starts a new list.
void EmitToken(TokenNode*& cursor, std::string_view text, const char* fileName, int line,
               int column);
// The same with a file name that already is the interned text.
void EmitInternedToken(TokenNode*& cursor, std::string_view text, const char* internedFile,
                       int line, int column);
// The same with the text's HashName known already.
void EmitHashedToken(TokenNode*& cursor, std::string_view text, uint32_t hash, const char* internedFile, int line,
                     int column);
// EmitHashedToken taken into the caller's loop (defined at the end of this
// file): for a stage that appends a token for nearly every one it reads.
[[gnu::always_inline]] inline void EmitHashedTokenInline(TokenNode*& cursor, std::string_view text, uint32_t hash,
                                  const char* internedFile, int line, int column);

// EmitHashedTokenInline for a copy of source (its text, hash, line and
// column) with internedFile for its file: a short text is copied with the
// padding of its block, in whole words, without measuring it.
[[gnu::always_inline]] inline void EmitTokenCopyInline(TokenNode*& cursor, const TokenNode* source,
                                                       const char* internedFile);

// EmitInternedToken for an insertion directly after cursor, a node of the
// list that ends at listLast: when that list is the one FindTokenListHead
// knows, it stays known, one node longer (a plain insertion forgets it).
void InsertInternedToken(TokenNode*& cursor, const TokenNode* listLast, std::string_view text,
                         const char* internedFile, int line, int column);

// Replaces a node's text (a new copy) and its hash.
void SetTokenText(TokenNode* node, std::string_view text);

// Emits a copy of the whole list that holds anyNode (head first), with
// fileName in place of each node's own file.
void CopyTokenList(TokenNode*& cursor, const TokenNode* anyNode, const char* fileName);

// Joins the node's neighbours, frees it and returns its previous node
// (UnlinkToken) or its next node (DeleteTokenNext); null for null.
TokenNode* UnlinkToken(TokenNode* node);
TokenNode* DeleteTokenNext(TokenNode* node);

// Frees first and the nodes after it up to stop (not stop itself; null: to
// the end), and joins first's previous node to stop.
void DeleteTokensBefore(TokenNode* first, TokenNode* stop);

// Frees the node and every node before it.
void FreeTokenList(TokenNode* last);

// Frees the whole list whose head is first and which holds count nodes.
// When no other node lives, the store lets all its memory go at once,
// without a walk over the nodes.
void FreeWholeTokenList(TokenNode* first, int count);

[[nodiscard]] TokenNode* TokenListFirst(TokenNode* node);
// Nodes from the head up to and including this one; 0 for null.
[[nodiscard]] int TokenCountBack(const TokenNode* node);
// The head of the list and TokenCountBack's count, found in one walk: long
// lists lie scattered in memory, so each walk back costs a miss per node.
struct TokenListHead {
    TokenNode* first;
    int count;
};
[[nodiscard]] TokenListHead FindTokenListHead(TokenNode* node);
// Names a list's head, last node and length: FindTokenListHead answers for
// last without a walk until any list is changed (for a stage that knows them).
void RememberTokenList(TokenNode* first, TokenNode* last, int count);
// The node n steps after node (n = 0: node itself); null past the end.
[[nodiscard]] TokenNode* TokenListNth(TokenNode* node, int n);
// Position, counted from 0 at start, of the first node whose hash equals
// stop's; -1 when stop itself or the end comes first, or start is null.
[[nodiscard]] int FindNodeIndex(const TokenNode* start, const TokenNode* stop);

// For any list of records linked by previous and next (instruction lists):
// the list's first record, and the number of records in the whole list.
// The first is named "last" by the rest of the compiler; it is the head.
template <class Record>
[[nodiscard]] Record* RecordListLast(Record* record) {
    if (record == nullptr) return nullptr;
    while (record->previous != nullptr) record = record->previous;
    return record;
}
template <class Record>
[[nodiscard]] int RecordListCount(Record* record) {
    int count = 0;
    for (Record* r = RecordListLast(record); r != nullptr; r = r->next) ++count;
    return count;
}

// A display name (at most 20 characters) for a program compiled from a text:
// its first line without the line end, or, for a single line, the part
// before the first ";".
[[nodiscard]] std::string CutShortName(std::string_view text);

// True for the keywords whose block an END (or UNTIL) closes.
[[nodiscard]] bool IsLoopKeyword(uint32_t hash);

// True for the expression-parser token codes that may follow an argument.
[[nodiscard]] bool CanFollowArgument(char code);

// Procedure-header token text: kind byte, "_" (private) or blank, output
// count + 32, 0xA2 (forced link) or blank, then the procedure key.
constexpr size_t kProcHeaderKeyOffset = 4;
constexpr char kProcHeaderForceLink = static_cast<char>(0xA2);

[[nodiscard]] std::string MakeProcHeaderText(bool isPrivate, int outputCount, bool forceLink,
                                             std::string_view key);

// Writes the kind byte into header[0] from the procedure's output count, its
// N form (NPROC, NFUNC) and whether it is a FORWARD declaration.
void SetProcHeaderKind(char* header, int outputCount, bool nForm, bool forward);

// The node store and the list bookkeeping behind EmitHashedTokenInline;
// nothing else outside token_list.cpp touches them.
namespace token_list_internal {

inline bool gTokenOutputSuspended = false;

// The store of nodes. A node and the text it is made with share one block,
// the text right after the node. Blocks are cut from large chunks and a
// freed block waits on the free list of its size for the next node of that
// size: a compile makes and frees a node for nearly every token of every
// stage, and the C heap costs several times more per node. When no node is
// left the chunks go back to the heap. Compiles run one at a time (under the
// interpreter lock), so the store needs no lock of its own.
class TokenStore {
public:
    // bytes: a BlockBytes size.
    void* Allocate(size_t bytes) {
        ++live_;
        if (bytes > kLargestPooled) return AllocateLarge(bytes);
        FreeList& list = free_[bytes / kGrain];
        if (FreeBlock* block = list.head.next) {
            QOB_UNPOISON(block, bytes);
            list.head.next = block->next;
            if (list.head.next == nullptr) list.last = &list.head;
            return block;
        }
        if (bytes > static_cast<size_t>(chunkEnd_ - chunkNext_)) StartChunk();
        void* block = chunkNext_;
        chunkNext_ += bytes;
        QOB_UNPOISON(block, bytes);
        return block;
    }

    // A block of bytes (at most kLargestPooled) from a free list or the
    // current chunk; null when only the heap can give one.
    void* TakeReady(size_t bytes) {
        FreeList& list = free_[bytes / kGrain];
        void* block = list.head.next;
        if (block != nullptr) {
            QOB_UNPOISON(block, bytes);
            list.head.next = list.head.next->next;
            if (list.head.next == nullptr) list.last = &list.head;
        } else if (bytes <= static_cast<size_t>(chunkEnd_ - chunkNext_)) {
            block = chunkNext_;
            chunkNext_ += bytes;
            QOB_UNPOISON(block, bytes);
        } else {
            return nullptr;
        }
        ++live_;
        return block;
    }

    void Release(void* block, size_t bytes) {
        PutBack(block, bytes);
        EndRun(1);
    }

    // Release for a block of a pooled size while other nodes live: no call.
    // False (nothing done) for any other block.
    bool ReleaseReady(void* block, size_t bytes) {
        if (bytes > kLargestPooled || live_ <= 1) return false;
        PutOnFreeList(block, bytes);
        --live_;
        return true;
    }

    // For freeing a run of nodes: their blocks go back one by one (the heap
    // takes back a block of a size not pooled), and the count of live nodes
    // comes down once, when the run is done; the chunks cannot go back while
    // the run is still read.
    static bool Pooled(size_t bytes) { return bytes <= kLargestPooled; }
    void PutBack(void* block, size_t bytes) {
        if (!Pooled(bytes)) [[unlikely]]
            FreeLarge(block);
        else
            PutOnFreeList(block, bytes);
    }
    // PutBack for a block of a Pooled size.
    void PutBackPooled(void* block, size_t bytes) { PutOnFreeList(block, bytes); }
    void EndRun(size_t released) {
        live_ -= released;
        if (live_ == 0) ReleaseChunks();
    }

    static size_t BlockBytes(size_t size) { return (size + kGrain - 1) & ~(kGrain - 1); }

    // A block for a node's replaced text (SetTokenText), and its return.
    // Such blocks count as live blocks, as nodes do.
    void* AllocateText(size_t bytes) {
        void* block = Allocate(bytes);
        ++texts_;
        return block;
    }
    void ReleaseText(void* block, size_t bytes) {
        --texts_;
        Release(block, bytes);
    }
    // For a run that frees a replaced text among its nodes: PutBack, counted.
    void PutBackText(void* block, size_t bytes) {
        --texts_;
        PutBack(block, bytes);
    }

    // True when the nodes of a list of count nodes, with their replaced
    // texts, are every block alive and none came from the heap: then
    // ReleaseAll frees them all.
    [[nodiscard]] bool HoldsOnly(size_t count) const { return live_ == count + texts_ && largeBlocks_ == 0; }
    void ReleaseAll() {
        live_ = 0;
        texts_ = 0;
        ReleaseChunks();
    }

    // The rest of the current chunk, lent to a TokenAppender: it cuts blocks
    // from its front, and nothing else takes a block until the appender hands
    // back the rest with the number of blocks it cut.
    void LendChunkRest(char*& next, char*& end) const {
        next = chunkNext_;
        end = chunkEnd_;
    }
    void TakeBackChunkRest(char* next, size_t blocksCut) {
        chunkNext_ = next;
        live_ += blocksCut;
    }

private:
    struct FreeBlock {
        FreeBlock* next;
    };
    // Oldest first: the nodes a stage makes take the blocks of the nodes it
    // read in the order they were freed, so a list made in one pass lies in
    // memory in its own order and the next stage's walk reads ahead.
    // head.next is the oldest block; last is the newest, or head itself when
    // the list is empty, so that a release links its block without a test.
    struct FreeList {
        FreeList() = default;
        FreeList(const FreeList&) = delete;
        FreeList& operator=(const FreeList&) = delete;
        void Clear() {
            head.next = nullptr;
            last = &head;
        }
        FreeBlock head{nullptr};
        FreeBlock* last = &head;
    };
    struct Chunk {
        Chunk* previous;
        size_t bytes;  // header included
    };
    static constexpr size_t kGrain = 8;
    static constexpr size_t kLargestPooled = 256;
    // The first chunks are small, from the heap: a small program's tokens fit
    // in them. Past them a compile is making nodes by the hundred thousand,
    // and each further chunk is one huge page: one fault where there were 512.
    static constexpr size_t kChunkBytes = 64 * 1024;
    static constexpr size_t kSmallChunks = 4;

    void PutOnFreeList(void* block, size_t bytes) {
        auto* freed = static_cast<FreeBlock*>(block);
        freed->next = nullptr;
        FreeList& list = free_[bytes / kGrain];
        list.last->next = freed;
        list.last = freed;
        QOB_POISON(freed + 1, bytes - sizeof(FreeBlock));  // the link stays open for the next release
    }

    void* AllocateLarge(size_t bytes);
    void FreeLarge(void* block);
    void StartChunk();
    void ReleaseChunks();

    FreeList free_[kLargestPooled / kGrain + 1];
    Chunk* lastChunk_ = nullptr;
    size_t chunkCount_ = 0;
    char* chunkNext_ = nullptr;
    char* chunkEnd_ = nullptr;
    size_t live_ = 0;         // blocks (nodes and replaced texts) handed out and not yet released
    size_t texts_ = 0;        // of them, replaced texts
    size_t largeBlocks_ = 0;  // of them, blocks from the heap (larger than kLargestPooled)
};

inline constinit TokenStore gStore;

// The list last started and grown at its end, or named by RememberTokenList.
// Each stage hands the next its list by the last node, and the list is long
// and lies beyond the caches: FindTokenListHead answers for this one without
// a walk. Appends to other lists leave it; any other change forgets it.
struct KnownList {
    TokenNode* first = nullptr;
    TokenNode* last = nullptr;
    int count = 0;
};
inline KnownList gKnown;

// Texts up to this long are copied in place by CopyShortText.
constexpr size_t kShortText = 16;

// Copies a token's text (most are a few characters) without a library call:
// at most kShortText bytes, in overlapping pieces that read and write only
// the count bytes.
inline void CopyShortText(char* to, const char* from, size_t count) {
    if (count >= 8) {
        std::memcpy(to, from, 8);
        std::memcpy(to + count - 8, from + count - 8, 8);
    } else if (count >= 4) {
        std::memcpy(to, from, 4);
        std::memcpy(to + count - 4, from + count - 4, 4);
    } else if (count > 0) {
        to[0] = from[0];
        to[count / 2] = from[count / 2];
        to[count - 1] = from[count - 1];
    }
}

inline size_t NodeBytes(std::string_view text) { return TokenStore::BlockBytes(sizeof(TokenNode) + text.size() + 1); }

// Makes the node in its block (NodeBytes long) with its text right after it;
// the links are the caller's to set.
inline TokenNode* FillNode(void* block, size_t bytes, std::string_view text, uint32_t hash, const char* file,
                           int line, int column) {
    char* copy = static_cast<char*>(block) + sizeof(TokenNode);
    if (text.size() <= kShortText)
        CopyShortText(copy, text.data(), text.size());
    else
        std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    // 16 bits: longer lines stop counting. One unsigned test passes every
    // column that fits, the usual case.
    const auto column16 = static_cast<uint16_t>(
        __builtin_expect(static_cast<unsigned>(column) <= 0xFFFFu, 1) ? column : std::clamp(column, 0, 0xFFFF));
    return new (block) TokenNode{copy, hash, static_cast<uint32_t>(bytes), file, line, column16, 0, nullptr, nullptr};
}

inline void ForgetKnownList() { gKnown = {}; }

// EmitTokenCopyInline for a long or replaced text, suspended output or when
// the store must turn to the heap: a call of its own, so that the usual copy
// saves no registers.
void EmitTokenCopyWithStore(TokenNode*& cursor, const TokenNode* source, const char* internedFile);

// Links node directly after cursor (null: a new list) and moves cursor to it.
inline void LinkAfter(TokenNode*& cursor, TokenNode* node) {
    node->previous = cursor;
    if (cursor == nullptr) {
        gKnown = {node, node, 1};
    } else if (TokenNode* next = cursor->next) {
        // Inserted in the middle of some list: perhaps the known one.
        node->next = next;
        next->previous = node;
        cursor->next = node;
        ForgetKnownList();
    } else {
        // Appended at the end of a list; only the known list's end is its last node.
        cursor->next = node;
        if (cursor == gKnown.last) {
            gKnown.last = node;
            ++gKnown.count;
        }
    }
    cursor = node;
}

}  // namespace token_list_internal

// Appends nodes in a row at the end of the list that ends at cursor, for a
// stage's loop that makes a node for nearly every token it reads: blocks
// come from the store's current chunk through a pointer held here (a freed
// block waits for the next stage), and the cursor and the known list are
// brought up to date by Finish. Between the first Append and Finish nothing
// else may make, free or link a node.
class TokenAppender {
public:
    explicit TokenAppender(TokenNode*& cursor) : cursor_(cursor) { Start(); }

    // What EmitHashedToken does with these arguments.
    [[gnu::always_inline]] void Append(std::string_view text, uint32_t hash, const char* internedFile, int line,
                                       int column) {
        using namespace token_list_internal;
        const size_t bytes = NodeBytes(text);
        // Not ready: no room (next_ == end_).
        if (text.size() > kShortText || bytes > static_cast<size_t>(end_ - next_)) {
            AppendWithStore(text, hash, internedFile, line, column);
            return;
        }
        void* block = next_;
        next_ += bytes;
        ++blocksCut_;
        QOB_UNPOISON(block, bytes);
        TokenNode* node = FillNode(block, bytes, text, hash, internedFile, line, column);
        node->previous = last_;
        last_->next = node;
        last_ = node;
    }

    void Finish() {
        using namespace token_list_internal;
        if (!ready_) return;
        gStore.TakeBackChunkRest(next_, blocksCut_);
        if (extendsKnown_) {
            gKnown.last = last_;
            gKnown.count += static_cast<int>(blocksCut_);
        }
        cursor_ = last_;
        ready_ = false;
    }

private:
    void Start() {
        using namespace token_list_internal;
        // A new list, an insertion in the middle or suspended output: each node the usual way.
        ready_ = cursor_ != nullptr && cursor_->next == nullptr && !gTokenOutputSuspended;
        next_ = end_ = nullptr;
        if (!ready_) return;
        gStore.LendChunkRest(next_, end_);
        last_ = cursor_;
        extendsKnown_ = cursor_ == gKnown.last;
        blocksCut_ = 0;
    }

    [[gnu::noinline]] void AppendWithStore(std::string_view text, uint32_t hash, const char* internedFile, int line,
                                           int column) {
        Finish();
        EmitHashedToken(cursor_, text, hash, internedFile, line, column);
        Start();
    }

    TokenNode*& cursor_;
    TokenNode* last_ = nullptr;
    char* next_ = nullptr;
    char* end_ = nullptr;
    size_t blocksCut_ = 0;
    bool ready_ = false;
    bool extendsKnown_ = false;
};

[[gnu::always_inline]] inline void EmitHashedTokenInline(TokenNode*& cursor, std::string_view text, uint32_t hash,
                                  const char* internedFile, int line, int column) {
    using namespace token_list_internal;
    void* block = text.size() <= kShortText && !gTokenOutputSuspended ? gStore.TakeReady(NodeBytes(text)) : nullptr;
    if (block == nullptr) {
        EmitHashedToken(cursor, text, hash, internedFile, line, column);
        return;
    }
    LinkAfter(cursor, FillNode(block, NodeBytes(text), text, hash, internedFile, line, column));
}

[[gnu::always_inline]] inline void EmitTokenCopyInline(TokenNode*& cursor, const TokenNode* source,
                                                       const char* internedFile) {
    using namespace token_list_internal;
    // A node's text starts a whole word after it, and its block ends on one.
    static_assert(sizeof(TokenNode) % 8 == 0);
    constexpr size_t kWholeCopyBytes = sizeof(TokenNode) + 24;
    const size_t bytes = source->storeBytes;
    void* block = nullptr;
    if (source->text == reinterpret_cast<const char*>(source + 1) && bytes <= kWholeCopyBytes &&
        !gTokenOutputSuspended)
        block = gStore.TakeReady(bytes);
    if (block == nullptr) {
        EmitTokenCopyWithStore(cursor, source, internedFile);
        return;
    }
    char* copy = static_cast<char*>(block) + sizeof(TokenNode);
    std::memcpy(copy, source->text, 8);
    if (bytes > sizeof(TokenNode) + 8) {
        std::memcpy(copy + 8, source->text + 8, 8);
        if (bytes > sizeof(TokenNode) + 16) std::memcpy(copy + 16, source->text + 16, 8);
    }
    LinkAfter(cursor, new (block) TokenNode{copy, source->hash, static_cast<uint32_t>(bytes), internedFile,
                                            source->line, source->column, 0, nullptr, nullptr});
}

}  // namespace qob
