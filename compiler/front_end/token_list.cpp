// compiler/front_end/token_list.cpp
// Making, linking, copying and freeing token nodes, and the list queries.
#include "compiler/front_end/token_list.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/huge_pages.h"
#include "platform/sanitizer.h"
#include "runtime/data/hash.h"
#include "runtime/data/interned_names.h"
#include "runtime/registry/keywords.h"

namespace qob {

using namespace token_list_internal;

void* TokenStore::AllocateLarge(size_t bytes) {
    void* block = std::malloc(bytes);
    if (block == nullptr) {
        --live_;
        throw std::bad_alloc();
    }
    ++largeBlocks_;
    return block;
}

void TokenStore::FreeLarge(void* block) {
    --largeBlocks_;
    std::free(block);
}

void TokenStore::StartChunk() {
    const bool small = chunkCount_ < kSmallChunks;
    const size_t bytes = small ? kChunkBytes : platform::kHugePageSize;
    void* memory = small ? std::malloc(bytes) : platform::MapHugePageStretch(bytes);
    if (memory == nullptr) {
        --live_;
        throw std::bad_alloc();
    }
    auto* chunk = static_cast<Chunk*>(memory);
    chunk->previous = lastChunk_;
    chunk->bytes = bytes;
    lastChunk_ = chunk;
    ++chunkCount_;
    static_assert(sizeof(Chunk) % kGrain == 0);
    chunkNext_ = reinterpret_cast<char*>(chunk) + sizeof(Chunk);
    chunkEnd_ = reinterpret_cast<char*>(chunk) + bytes;
    QOB_POISON(chunkNext_, bytes - sizeof(Chunk));
}

void TokenStore::ReleaseChunks() {
    while (Chunk* chunk = lastChunk_) {
        lastChunk_ = chunk->previous;
        const size_t bytes = chunk->bytes;
        QOB_UNPOISON(chunk, bytes);
        if (bytes == kChunkBytes)
            std::free(chunk);
        else
            platform::UnmapHugePageStretch(chunk, bytes);
    }
    chunkCount_ = 0;
    chunkNext_ = chunkEnd_ = nullptr;
    for (FreeList& list : free_) list.Clear();
}

namespace {

char* InlineText(TokenNode* node) { return reinterpret_cast<char*>(node + 1); }

// The store's block size of a replaced text.
size_t TextBytes(const char* text) { return TokenStore::BlockBytes(std::strlen(text) + 1); }

// FreeNode for a node whose text was replaced, of a size the store does not
// pool, or the last one: those may call the heap.
[[gnu::noinline]] void FreeNodeWithCalls(TokenNode* node) {
    if (node->text != InlineText(node)) gStore.ReleaseText(node->text, TextBytes(node->text));
    const size_t bytes = node->storeBytes;
    node->~TokenNode();
    gStore.Release(node, bytes);
}

// Every stage frees nearly every node it reads: the usual node calls nothing.
inline void FreeNode(TokenNode* node) {
    if (node->text == InlineText(node) && gStore.ReleaseReady(node, node->storeBytes)) return;
    FreeNodeWithCalls(node);
}

// FreeRun from a node that calls the heap (a replaced text or a block of a
// size not pooled) on: the nodes freed, for the caller to count.
template <TokenNode* TokenNode::*Step>
[[gnu::noinline]] size_t FreeRunWithCalls(TokenNode* node, const TokenNode* stop) {
    size_t released = 0;
    while (node != stop) {
        TokenNode* step = node->*Step;
        if (node->text != InlineText(node)) {
            gStore.PutBackText(node->text, TextBytes(node->text));
            ++released;
        }
        gStore.PutBack(node, node->storeBytes);
        ++released;
        node = step;
    }
    return released;
}

// Frees the nodes from node, following Step, up to stop (not stop itself).
// The usual node calls nothing, so the loop saves no registers.
template <TokenNode* TokenNode::*Step>
void FreeRun(TokenNode* node, const TokenNode* stop) {
    size_t released = 0;
    while (node != stop) {
        if (node->text != InlineText(node) || !TokenStore::Pooled(node->storeBytes)) [[unlikely]] {
            released += FreeRunWithCalls<Step>(node, stop);
            break;
        }
        TokenNode* step = node->*Step;
        gStore.PutBackPooled(node, node->storeBytes);
        ++released;
        node = step;
    }
    gStore.EndRun(released);
}

// For the assertion that the known list is what a walk finds.
[[maybe_unused]] bool CountBackMatches(const TokenNode* last, const TokenNode* first, int count) {
    int found = 1;
    for (; last->previous != nullptr; last = last->previous) ++found;
    return last == first && found == count;
}

// The list's last node, for the assertion that a count is the list's.
[[maybe_unused]] const TokenNode* LastNodeOf(const TokenNode* node) {
    while (node->next != nullptr) node = node->next;
    return node;
}

// Joins the node's neighbours to each other.
void Detach(TokenNode* node) {
    ForgetKnownList();
    if (node->previous != nullptr) node->previous->next = node->next;
    if (node->next != nullptr) node->next->previous = node->previous;
}

}  // namespace

void SetTokenOutputSuspended(bool suspended) { gTokenOutputSuspended = suspended; }
bool IsTokenOutputSuspended() { return gTokenOutputSuspended; }

void EmitToken(TokenNode*& cursor, std::string_view text, const char* fileName, int line,
               int column) {
    if (gTokenOutputSuspended) return;
    EmitInternedToken(cursor, text, InternName(fileName), line, column);
}

void EmitInternedToken(TokenNode*& cursor, std::string_view text, const char* internedFile,
                       int line, int column) {
    EmitHashedToken(cursor, text, HashName(text.data(), text.size()), internedFile, line, column);
}

namespace {

// EmitHashedToken for a long text or when the store must turn to the heap.
// Kept apart so that the usual way calls nothing and saves no registers.
[[gnu::noinline]] void EmitWithAllocation(TokenNode*& cursor, std::string_view text, uint32_t hash,
                                          const char* internedFile, int line, int column) {
    const size_t bytes = NodeBytes(text);
    LinkAfter(cursor, FillNode(gStore.Allocate(bytes), bytes, text, hash, internedFile, line, column));
}

}  // namespace

void EmitHashedToken(TokenNode*& cursor, std::string_view text, uint32_t hash, const char* internedFile, int line,
                     int column) {
    if (gTokenOutputSuspended) return;
    // Stages copy a node with the hash it carries: it must be its text's.
    assert(hash == HashName(text.data(), text.size()));
    const size_t bytes = NodeBytes(text);
    void* block = text.size() <= kShortText ? gStore.TakeReady(bytes) : nullptr;
    if (block == nullptr) {
        EmitWithAllocation(cursor, text, hash, internedFile, line, column);
        return;
    }
    LinkAfter(cursor, FillNode(block, bytes, text, hash, internedFile, line, column));
}

[[gnu::noinline]] void token_list_internal::EmitTokenCopyWithStore(TokenNode*& cursor, const TokenNode* source,
                                                                  const char* internedFile) {
    EmitHashedToken(cursor, source->text, source->hash, internedFile, source->line, source->column);
}

namespace {

// For the assertion that an insertion point lies in the list it is said to.
[[maybe_unused]] bool LeadsTo(const TokenNode* node, const TokenNode* last) {
    while (node != nullptr && node != last) node = node->next;
    return node == last;
}

}  // namespace

void InsertInternedToken(TokenNode*& cursor, const TokenNode* listLast, std::string_view text,
                         const char* internedFile, int line, int column) {
    assert(cursor == nullptr || LeadsTo(cursor, listLast));
    const KnownList known = gKnown;
    const TokenNode* before = cursor;
    EmitInternedToken(cursor, text, internedFile, line, column);
    // An append at the end keeps the known list by itself.
    if (cursor != before && before != listLast && listLast != nullptr && listLast == known.last)
        gKnown = {known.first, known.last, known.count + 1};
}

void SetTokenText(TokenNode* node, std::string_view text) {
    // The copy is made before the old text goes: text may lie in it.
    auto* copy = static_cast<char*>(gStore.AllocateText(TokenStore::BlockBytes(text.size() + 1)));
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    if (node->text != InlineText(node)) gStore.ReleaseText(node->text, TextBytes(node->text));
    node->text = copy;
    node->hash = HashName(text.data(), text.size());
}

void CopyTokenList(TokenNode*& cursor, const TokenNode* anyNode, const char* fileName) {
    if (anyNode == nullptr) return;
    const TokenNode* node = anyNode;
    while (node->previous != nullptr) node = node->previous;
    const char* interned = InternName(fileName);
    for (; node != nullptr; node = node->next)
        EmitInternedToken(cursor, node->text, interned, node->line, node->column);
}

TokenNode* UnlinkToken(TokenNode* node) {
    if (node == nullptr) return nullptr;
    TokenNode* previous = node->previous;
    Detach(node);
    FreeNode(node);
    return previous;
}

TokenNode* DeleteTokenNext(TokenNode* node) {
    if (node == nullptr) return nullptr;
    TokenNode* next = node->next;
    Detach(node);
    FreeNode(node);
    return next;
}

void DeleteTokensBefore(TokenNode* first, TokenNode* stop) {
    if (first == nullptr || first == stop) return;
    TokenNode* before = first->previous;
    // A range from the head of a list other than the known one leaves that one as it is.
    if (before != nullptr || first == gKnown.first) ForgetKnownList();
    if (before != nullptr) before->next = stop;
    if (stop != nullptr) stop->previous = before;
    FreeRun<&TokenNode::next>(first, stop);
}

void FreeTokenList(TokenNode* last) {
    if (last == nullptr) return;
    ForgetKnownList();
    // The list ends here: whatever follows no longer points back into it.
    if (last->next != nullptr) last->next->previous = nullptr;
    FreeRun<&TokenNode::previous>(last, nullptr);
}

void FreeWholeTokenList(TokenNode* first, int count) {
    if (first == nullptr) return;
    assert(first->previous == nullptr && CountBackMatches(LastNodeOf(first), first, count));
    if (count > 0 && gStore.HoldsOnly(static_cast<size_t>(count))) {
        ForgetKnownList();
        gStore.ReleaseAll();
        return;
    }
    DeleteTokensBefore(first, nullptr);
}

TokenNode* TokenListFirst(TokenNode* node) { return RecordListLast(node); }

int TokenCountBack(const TokenNode* node) {
    int count = 0;
    for (; node != nullptr; node = node->previous) ++count;
    return count;
}

TokenListHead FindTokenListHead(TokenNode* node) {
    if (node == nullptr) return {nullptr, 0};
    if (node == gKnown.last) {
        assert(CountBackMatches(node, gKnown.first, gKnown.count));
        return {gKnown.first, gKnown.count};
    }
    int count = 1;
    for (; node->previous != nullptr; node = node->previous) ++count;
    return {node, count};
}

void RememberTokenList(TokenNode* first, TokenNode* last, int count) { gKnown = {first, last, count}; }

TokenNode* TokenListNth(TokenNode* node, int n) {
    for (int i = 0; i < n && node != nullptr; ++i) node = node->next;
    return node;
}

int FindNodeIndex(const TokenNode* start, const TokenNode* stop) {
    int index = 0;
    for (const TokenNode* node = start; node != nullptr && node != stop; node = node->next) {
        if (stop != nullptr && node->hash == stop->hash) return index;
        ++index;
    }
    return -1;
}

std::string CutShortName(std::string_view text) {
    constexpr size_t kMaxShortName = 20;
    // Any line end (CR LF, LF or CR) closes the first line.
    size_t end = text.find_first_of("\r\n");
    if (end == std::string_view::npos) end = text.find(';');
    if (end == std::string_view::npos) end = text.size();
    return std::string(text.substr(0, std::min(end, kMaxShortName)));
}

bool IsLoopKeyword(uint32_t hash) {
    return hash == KeywordHashes[Keyword::If] || hash == KeywordHashes[Keyword::While] || hash == KeywordHashes[Keyword::Repeat] ||
           hash == KeywordHashes[Keyword::ForEach] || hash == KeywordHashes[Keyword::ForEachRev] || hash == KeywordHashes[Keyword::For] ||
           hash == KeywordHashes[Keyword::Case] || hash == KeywordHashes[Keyword::Except];
}

bool CanFollowArgument(char code) {
    return code == ')' || code == ',' || code == 'A' || code == 'R' || code == 'n';
}

std::string MakeProcHeaderText(bool isPrivate, int outputCount, bool forceLink,
                               std::string_view key) {
    std::string header;
    header.reserve(kProcHeaderKeyOffset + key.size());
    header += ' ';  // the kind byte, written by SetProcHeaderKind
    header += isPrivate ? '_' : ' ';
    header += static_cast<char>(outputCount + 32);
    header += forceLink ? kProcHeaderForceLink : ' ';
    header += key;
    return header;
}

void SetProcHeaderKind(char* header, int outputCount, bool nForm, bool forward) {
    unsigned char kind;
    if (nForm && outputCount == 0)
        kind = forward ? 0xEB : 0xEA;
    else if (nForm && outputCount == 1)
        kind = forward ? 0xEF : 0xC4;
    else if (outputCount == 0)
        kind = forward ? 0xE8 : 0xE9;
    else
        kind = forward ? 0xE7 : 0xEC;
    header[0] = static_cast<char>(kind);
}

}  // namespace qob
