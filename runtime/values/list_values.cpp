// runtime/values/list_values.cpp
// List chains: positions, insertion, deletion, moves, the stable sort, stamps,
// and the list variable's load and store of its current node.
#include "runtime/values/list_values.h"

#include "platform/memory.h"
#include "runtime/data/number_text.h"
#include "runtime/data/wide_text.h"
#include "runtime/memory/memory_links.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/variable_store.h"

#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace qob {

namespace {

// The stamp hash, h = h * 65599 + b over signed bytes, continued across
// several records. Over a record of N bytes it comes to
// h * 65599^N + b0 * 65599^(N-1) + ... + b(N-1): the same sum modulo 2^32 as a
// dot product with fixed weights, which SSE2 does sixteen bytes a step (every
// list store stamps its node, so this runs once per element written).
//
// pmaddwd multiplies signed 16-bit halves: each weight is split into a low
// and a high half, w = low + 65536 * high. A low half of 0x8000 or more reads
// as low - 65536, which the high half makes up by one more; the high half's
// own sign is lost only in multiples of 2^32. Every pair sum stays below 2^24.
template <size_t N>
struct ByteWeights {
    static_assert(N % 8 == 0, "records are hashed eight bytes at a time");
    static constexpr size_t kPadded = (N + 15) / 16 * 16;
    alignas(16) int16_t low[kPadded];
    alignas(16) int16_t high[kPadded];
    uint32_t power;  // 65599^N
};

template <size_t N>
constexpr ByteWeights<N> MakeByteWeights() {
    ByteWeights<N> weights{};
    uint32_t power = 1;
    for (size_t fromEnd = 0; fromEnd < N; ++fromEnd) {
        const size_t i = N - 1 - fromEnd;
        const uint32_t low = power & 0xFFFFu;
        const uint32_t high = (power >> 16) + (low >= 0x8000u ? 1u : 0u);
        weights.low[i] = static_cast<int16_t>(low);
        weights.high[i] = static_cast<int16_t>(high & 0xFFFFu);
        power *= 65599u;
    }
    weights.power = power;
    return weights;
}

template <size_t N>
inline constexpr ByteWeights<N> kByteWeights = MakeByteWeights<N>();

// Eight signed bytes widened to 16 bits, times their weights, pairs summed.
inline __m128i WeighEight(__m128i bytes, const int16_t* low, const int16_t* high, __m128i* highSums) {
    const __m128i widened = _mm_srai_epi16(_mm_unpacklo_epi8(bytes, bytes), 8);
    *highSums = _mm_add_epi32(*highSums, _mm_madd_epi16(widened, _mm_load_si128(reinterpret_cast<const __m128i*>(high))));
    return _mm_madd_epi16(widened, _mm_load_si128(reinterpret_cast<const __m128i*>(low)));
}

// Bytes i to i + 15 of an N-byte record, weighed into the sums.
template <size_t N>
inline void WeighSixteen(__m128i chunk, size_t i, __m128i* lowSums, __m128i* highSums) {
    constexpr const ByteWeights<N>& kWeights = kByteWeights<N>;
    *lowSums = _mm_add_epi32(*lowSums, WeighEight(chunk, kWeights.low + i, kWeights.high + i, highSums));
    *lowSums = _mm_add_epi32(*lowSums, WeighEight(_mm_unpackhi_epi64(chunk, chunk), kWeights.low + i + 8,
                                                  kWeights.high + i + 8, highSums));
}

// The hash h continued over an N-byte record whose weighed bytes are in the sums.
template <size_t N>
inline uint32_t FinishHash(uint32_t h, __m128i lowSums, __m128i highSums) {
    __m128i sums = _mm_add_epi32(lowSums, _mm_slli_epi32(highSums, 16));
    sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, 0x4E));
    sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, 0xB1));
    return h * kByteWeights<N>.power + static_cast<uint32_t>(_mm_cvtsi128_si32(sums));
}

template <size_t N>
uint32_t ContinueHash(uint32_t h, const void* record) {
    constexpr const ByteWeights<N>& kWeights = kByteWeights<N>;
    const auto* bytes = static_cast<const char*>(record);
    __m128i lowSums = _mm_setzero_si128();
    __m128i highSums = _mm_setzero_si128();
    size_t i = 0;
#pragma GCC unroll 8
    for (; i + 16 <= N; i += 16)
        WeighSixteen<N>(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i)), i, &lowSums, &highSums);
    if constexpr (N % 16 != 0) {
        // The last eight bytes; the weights past the record are zero.
        const __m128i chunk = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes + i));
        lowSums = _mm_add_epi32(lowSums, WeighEight(chunk, kWeights.low + i, kWeights.high + i, &highSums));
    }
    return FinishHash<N>(h, lowSums, highSums);
}

// The word as it stands, opaque to the optimiser, which would otherwise see
// that a word put together from neighbouring fields is the bytes in memory,
// and read it with the one wide load the words below are meant to avoid.
uint64_t Opaque(uint64_t word) {
    asm("" : "+r"(word));
    return word;
}

// Eight bytes of a record as they lie in memory.
template <class T>
uint64_t BytesOf(const T& field) {
    static_assert(sizeof field == 8);
    uint64_t bytes;
    std::memcpy(&bytes, &field, sizeof bytes);
    return Opaque(bytes);
}

// A node's eight-byte words, for the hash of a node whose extension pointers
// are both null (those sixteen bytes add nothing). The fields are read at
// their own widths and put together in registers: they were mostly written
// just before by narrower stores, and a wider load over several of them would
// wait for those stores to reach the cache instead of taking their values.
struct PlainNodeWords {
    uint64_t data, value, flagsAndStamp, typeAndPadding, previous, next;
};

PlainNodeWords WordsOf(const ListNode* node) {
    static_assert(sizeof(ListNode) == 64 && offsetof(ListNode, value) == 8 && offsetof(ListNode, flags) == 16 &&
                  offsetof(ListNode, stamp) == 20 && offsetof(ListNode, type) == 24 &&
                  offsetof(ListNode, arrayExtension) == 32 && offsetof(ListNode, structExtension) == 40 &&
                  offsetof(ListNode, previous) == 48 && offsetof(ListNode, next) == 56);
    uint32_t padding;  // bytes 28 to 31, zero since the node was made
    std::memcpy(&padding, reinterpret_cast<const char*>(node) + 28, sizeof padding);
    return {BytesOf(node->data),
            BytesOf(node->value),
            Opaque(node->flags) | Opaque(node->stamp) << 32,
            Opaque(static_cast<uint32_t>(node->type)) | Opaque(padding) << 32,
            BytesOf(node->previous),
            BytesOf(node->next)};
}

// The weight of each byte of a 64-byte record, whole (65599^(63 - i)).
struct WholeWeights {
    alignas(32) int32_t weight[64];
};

constexpr WholeWeights MakeWholeWeights() {
    WholeWeights weights{};
    uint32_t power = 1;
    for (size_t fromEnd = 0; fromEnd < 64; ++fromEnd) {
        weights.weight[63 - fromEnd] = static_cast<int32_t>(power);
        power *= 65599u;
    }
    return weights;
}

constexpr WholeWeights kWholeWeights = MakeWholeWeights();

// Eight signed bytes widened to 32 bits, times their whole weights.
[[gnu::target("avx2")]] inline __m256i WeighWord(uint64_t word, size_t at) {
    const __m256i bytes = _mm256_cvtepi8_epi32(_mm_cvtsi64_si128(static_cast<int64_t>(word)));
    return _mm256_mullo_epi32(bytes, _mm256_load_si256(reinterpret_cast<const __m256i*>(kWholeWeights.weight + at)));
}

// Whether the processor has AVX2; false until this file's start-up has run,
// which only makes an early stamp take the other steps.
const bool HasAvx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();

}  // namespace

namespace {

// The hash of a node without extensions from its words, by SSE2 steps and by
// AVX2 steps.
inline uint32_t HashWordsSse2(const PlainNodeWords& words) {
    __m128i lowSums = _mm_setzero_si128();
    __m128i highSums = _mm_setzero_si128();
    auto pair = [](uint64_t low, uint64_t high) {
        return _mm_set_epi64x(static_cast<int64_t>(high), static_cast<int64_t>(low));
    };
    WeighSixteen<64>(pair(words.data, words.value), 0, &lowSums, &highSums);
    WeighSixteen<64>(pair(words.flagsAndStamp, words.typeAndPadding), 16, &lowSums, &highSums);
    WeighSixteen<64>(pair(words.previous, words.next), 48, &lowSums, &highSums);
    return FinishHash<64>(0, lowSums, highSums);
}

[[gnu::target("avx2")]] inline uint32_t HashWordsAvx2(const PlainNodeWords& words) {
    __m256i sums = _mm256_add_epi32(WeighWord(words.data, 0), WeighWord(words.value, 8));
    sums = _mm256_add_epi32(sums, _mm256_add_epi32(WeighWord(words.flagsAndStamp, 16), WeighWord(words.typeAndPadding, 24)));
    sums = _mm256_add_epi32(sums, _mm256_add_epi32(WeighWord(words.previous, 48), WeighWord(words.next, 56)));
    __m128i half = _mm_add_epi32(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1));
    half = _mm_add_epi32(half, _mm_shuffle_epi32(half, 0x4E));
    half = _mm_add_epi32(half, _mm_shuffle_epi32(half, 0xB1));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(half));
}

}  // namespace

uint32_t HashPlainListNodeSse2(const ListNode* node) {
    return HashWordsSse2(WordsOf(node));
}

[[gnu::target("avx2")]] uint32_t HashPlainListNodeAvx2(const ListNode* node) {
    return HashWordsAvx2(WordsOf(node));
}

bool ProcessorHasAvx2() {
    return HasAvx2;
}

namespace {

ListNode* NewNode() {
    return static_cast<ListNode*>(AllocateValueBlock(sizeof(ListNode)));
}

void ReleaseOwnedData(ListNode* node) {
    if ((node->flags & kVarOwnsData) && node->data) {
        UnregisterValueBlock(node->data);
        FreeValueBlock(node->data);
    }
    node->data = nullptr;
}

void FreeMemberDefinitionChain(MemberDefinition* definition) {
    while (definition) {
        MemberDefinition* next = definition->next;
        FreeValueBlock(definition);
        definition = next;
    }
}

void FreeStructExtension(ListStructExtension* extension) {
    if (!extension)
        return;
    FreeMemberDefinitionChain(extension->members);
    FreeLinkChain(extension->links);
    FreeValueBlock(extension);
}

// Moves every tracker entry standing on the node to a neighbour.
void MoveTrackersOff(ListNode* node) {
    ListTracker* entry = node->arrayExtension ? node->arrayExtension->tracker : nullptr;
    for (; entry; entry = entry->next) {
        if (entry->current != node)
            continue;
        entry->current = node->next ? node->next : node->previous;
        entry->changed = 1;
    }
}

bool ArrayExtensionIsEmpty(const ListArrayExtension* e) {
    static const ListArrayExtension kEmpty{};
    return std::memcmp(e, &kEmpty, sizeof kEmpty) == 0;
}

int CompareTextsIgnoringCase(std::string_view a, std::string_view b) {
    // ASCII case folding only: bytes of 0x80 and above compare as they are.
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        int ca = static_cast<unsigned char>(a[i]);
        int cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'A' && ca <= 'Z')
            ca += 'a' - 'A';
        if (cb >= 'A' && cb <= 'Z')
            cb += 'a' - 'A';
        if (ca != cb)
            return ca - cb;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// The text a sorted item is compared by: its bytes up to the terminator or
// the end of its block, whichever comes first (a structure's bytes need not
// hold a terminator). A UTF-16 text is compared in its 8-bit form, held in
// narrowed, whose byte order follows its characters.
std::string_view SortText(const char* data, uint32_t flags, std::string& narrowed) {
    if (flags & kVarWideText) {
        char* narrow = WideToAnsi(reinterpret_cast<const uint16_t*>(data));
        narrowed = narrow ? narrow : "";
        platform::FreeBlock(narrow);
        return narrowed;
    }
    const size_t size = platform::GetBlockSize(data);
    return std::string_view(data, size ? strnlen(data, size) : std::strlen(data));
}

// The value part of a node that the sort moves between nodes.
struct SortedValue {
    char* data;
    double value;
    uint32_t flags;
    int32_t type;
    ListArrayExtension* arrayExtension;
    ListStructExtension* structExtension;
    std::string_view text;  // what a text item is compared by
};

// Positional operations walk the chain; a loop over positions or appends
// would walk it again for every step. The last answer is kept and reused
// while no chain has changed shape since (every link change goes through the
// operations of this file, which move the generation on).
uint64_t ChainGeneration = 1;

struct PositionMemo {
    const ListNode* handle;   // the node the caller gave
    ListNode* node;           // what it answered
    int64_t index;            // ListNodeAt: the node's index from the first
    uint64_t generation;
};
PositionMemo LastPosition{};
PositionMemo LastAppend{};

void ChainChanged() {
    ++ChainGeneration;
}

// The ends and length of the chain met last. A list built by appends and then
// walked or counted asks for its first node and its length from its last node
// again and again: each would be a walk over every node. Appends at its end,
// insertions in front of an end and deletions of an end keep it up to date;
// any other change of shape forgets it (by the generation).
struct KnownChain {
    ListNode* first;
    ListNode* last;
    uint32_t count;
    uint64_t generation;
};
KnownChain Known{};

// Whether the node is an end of the known chain, while it is in force.
bool IsKnownEnd(const ListNode* node) {
    return Known.generation == ChainGeneration && (node == Known.first || node == Known.last);
}

// The index (from the first) of the node a positional call met last. A
// program stepping through a list and asking where it stands, or going to
// the positions one after another, asks about that node or a neighbour.
struct KnownPosition {
    const ListNode* node;
    int64_t index;
    uint64_t generation;
};
KnownPosition Position{};

// The node's index when the known position answers it, else -1.
int64_t KnownIndexOf(const ListNode* node) {
    if (Position.generation == ChainGeneration && Position.node) {
        if (node == Position.node)
            return Position.index;
        if (node->previous == Position.node)
            return Position.index + 1;
        if (node->next == Position.node)
            return Position.index - 1;
    }
    if (IsKnownEnd(node))
        return node == Known.first ? 0 : Known.count - 1;
    return -1;
}

}  // namespace

ListNode* ListFirst(ListNode* node) {
    if (!node)
        return nullptr;
    if (IsKnownEnd(node))
        return Known.first;
    while (node->previous)
        node = node->previous;
    return node;
}

ListNode* ListLast(ListNode* node) {
    if (!node)
        return nullptr;
    if (IsKnownEnd(node))
        return Known.last;
    while (node->next)
        node = node->next;
    return node;
}

uint32_t ListCount(ListNode* node) {
    if (!node)
        return 0;
    if (IsKnownEnd(node))
        return Known.count;
    // Back from the node and on from it: each node is visited once, and the
    // walk finds both ends.
    uint32_t count = 1;
    ListNode* first = node;
    for (; first->previous; first = first->previous)
        ++count;
    ListNode* last = node;
    for (; last->next; last = last->next)
        ++count;
    Known = {first, last, count, ChainGeneration};
    return count;
}

ListNode* ListNodeAt(ListNode* handle, int64_t index) {
    if (!handle)
        return nullptr;
    index = std::max<int64_t>(index, 0);
    ListNode* node;
    int64_t at;
    if (LastPosition.handle == handle && LastPosition.generation == ChainGeneration) {
        node = LastPosition.node;
        at = LastPosition.index;
    } else if (const int64_t known = KnownIndexOf(handle); known >= 0) {
        node = handle;
        at = known;
    } else {
        node = ListFirst(handle);
        at = 0;
    }
    while (at < index && node->next) {
        node = node->next;
        ++at;
    }
    while (at > index) {
        node = node->previous;
        --at;
    }
    LastPosition = {handle, node, at, ChainGeneration};
    Position = {node, at, ChainGeneration};
    return node;
}

uint32_t ListIndexOf(const ListNode* node) {
    if (!node)
        return 0;
    if (const int64_t known = KnownIndexOf(node); known >= 0) {
        Position = {node, known, ChainGeneration};
        return static_cast<uint32_t>(known);
    }
    uint32_t index = 0;
    for (const ListNode* n = node; n->previous; n = n->previous)
        ++index;
    Position = {node, index, ChainGeneration};
    return index;
}

ListNode* ListAppend(ListNode* node) {
    ListNode* added = NewNode();
    if (!added)
        return nullptr;
    // From the given node forward; a caller appending to the same handle
    // again starts from the node appended last. A node with no next is the
    // last already (a list variable appended to stands on its last node).
    ListNode* from = node;
    if (node && node->next && LastAppend.handle == node && LastAppend.generation == ChainGeneration)
        from = LastAppend.node;
    ListNode* last = from && !from->next ? from : ListLast(from);
    const bool extendsKnown = last && last == Known.last && IsKnownEnd(last);
    if (last) {
        last->next = added;
        added->previous = last;
    }
    ChainChanged();
    LastAppend = {node, added, 0, ChainGeneration};
    if (extendsKnown) {
        Known.last = added;
        ++Known.count;
        Known.generation = ChainGeneration;
    } else if (!last) {
        Known = {added, added, 1, ChainGeneration};
    }
    return added;
}

ListNode* ListInsertBefore(ListNode* node) {
    ListNode* added = NewNode();
    if (!added || !node)
        return added;
    const bool known = IsKnownEnd(node);
    added->next = node;
    added->previous = node->previous;
    if (node->previous)
        node->previous->next = added;
    node->previous = added;
    ChainChanged();
    if (known) {
        if (node == Known.first)
            Known.first = added;
        ++Known.count;
        Known.generation = ChainGeneration;
    }
    return added;
}

ListNode* ListDeleteNode(ListNode* node) {
    if (!node)
        return nullptr;
    ListNode* previous = node->previous;
    ListNode* next = node->next;
    const bool known = IsKnownEnd(node) && Known.count > 1;
    ReleaseOwnedData(node);
    if (node->arrayExtension) {
        MoveTrackersOff(node);
        FreeValueBlock(node->arrayExtension);
    }
    FreeStructExtension(node->structExtension);
    if (previous)
        previous->next = next;
    if (next)
        next->previous = previous;
    FreeValueBlock(node);
    ChainChanged();
    if (known) {
        if (node == Known.first)
            Known.first = next;
        else
            Known.last = previous;
        --Known.count;
        Known.generation = ChainGeneration;
    }
    return next ? next : previous;
}

ListNode* ListMoveNode(ListNode** handle, int64_t from, int64_t to) {
    ListNode* a = ListNodeAt(*handle, from);
    ListNode* b = ListNodeAt(*handle, to);
    if (!a || !b)
        return nullptr;
    if (a == b)
        return a;
    if (a->previous)
        a->previous->next = a->next;
    if (a->next)
        a->next->previous = a->previous;
    if (from >= to) {
        a->previous = b->previous;
        a->next = b;
        if (b->previous)
            b->previous->next = a;
        b->previous = a;
    } else {
        a->next = b->next;
        a->previous = b;
        if (b->next)
            b->next->previous = a;
        b->next = a;
    }
    if (*handle == b)
        *handle = a;
    ChainChanged();
    return a;
}

ListNode* ListCutBefore(ListNode* node) {
    ListNode* previous = node ? node->previous : nullptr;
    if (!previous)
        return nullptr;
    previous->next = nullptr;
    node->previous = nullptr;
    ChainChanged();
    return previous;
}

namespace {

// What a node being freed owns: its data (when asked) and its extensions.
[[gnu::noinline]] void FreeNodeHoldings(ListNode* node, bool freeData) {
    if (freeData)
        ReleaseOwnedData(node);
    if (node->arrayExtension)
        FreeValueBlock(node->arrayExtension);
    FreeStructExtension(node->structExtension);
}

}  // namespace

void ListFree(ListNode* node, bool freeData) {
    // From the first node when it is known: forward through memory.
    if (node && IsKnownEnd(node))
        node = Known.first;
    ChainChanged();
    // The nodes themselves go back in batches (their links are read before
    // they go); what each owns goes at once.
    constexpr size_t kBatch = 256;
    void* batch[kBatch];
    size_t held = 0;
    const uint32_t ownedData = freeData ? kVarOwnsData : 0;
    auto freeNode = [&](ListNode* n) {
        // Most nodes own nothing: one test for the lot.
        if ((n->flags & ownedData) || n->arrayExtension || n->structExtension)
            FreeNodeHoldings(n, freeData);
        batch[held++] = n;
        if (held == kBatch) {
            FreeValueBlocks(batch, held);
            held = 0;
        }
    };
    // On from the node, then back from the one before it: one pass over the
    // chain, wherever the node stands in it.
    ListNode* before = node ? node->previous : nullptr;
    while (node) {
        ListNode* next = node->next;
        PrefetchListAhead(node, false);
        freeNode(node);
        node = next;
    }
    while (before) {
        ListNode* previous = before->previous;
        PrefetchListAhead(before, true);
        freeNode(before);
        before = previous;
    }
    FreeValueBlocks(batch, held);
}

void ListSort(ListNode* node, int order, int caseSensitive) {
    node = ListFirst(node);
    std::vector<SortedValue> values;
    std::vector<ListTracker*> trackers;
    for (ListNode* n = node; n; n = n->next) {
        values.push_back({n->data, n->value, n->flags, n->type, n->arrayExtension, n->structExtension, {}});
        // A tracker belongs to its node: take it off the value that moves.
        trackers.push_back(n->arrayExtension ? n->arrayExtension->tracker : nullptr);
        if (n->arrayExtension)
            n->arrayExtension->tracker = nullptr;
    }
    // Sized once: the views into the narrowed texts must not move.
    std::vector<std::string> narrowed(values.size());
    for (size_t i = 0; i < values.size(); ++i)
        if (values[i].data)
            values[i].text = SortText(values[i].data, values[i].flags, narrowed[i]);
    // Numbers come before texts; numbers by the order flag, texts ascending.
    // A stable sort gives the same result as inserting each node after every
    // equal one already placed.
    auto precedes = [&](const SortedValue& x, const SortedValue& s) {
        if (!x.data)
            return s.data || (order ? x.value < s.value : x.value > s.value);
        if (!s.data)
            return false;
        int c = caseSensitive ? x.text.compare(s.text) : CompareTextsIgnoringCase(x.text, s.text);
        return c < 0;
    };
    std::stable_sort(values.begin(), values.end(), precedes);
    size_t i = 0;
    for (ListNode* n = node; n; n = n->next, ++i) {
        const SortedValue& v = values[i];
        n->data = v.data;
        n->value = v.value;
        n->flags = v.flags;
        n->type = v.type;
        n->structExtension = v.structExtension;
        n->arrayExtension = v.arrayExtension;
        if (trackers[i] && !n->arrayExtension)
            n->arrayExtension = static_cast<ListArrayExtension*>(AllocateValueBlock(sizeof(ListArrayExtension)));
        if (n->arrayExtension) {
            n->arrayExtension->tracker = trackers[i];
            if (ArrayExtensionIsEmpty(n->arrayExtension)) {
                FreeValueBlock(n->arrayExtension);
                n->arrayExtension = nullptr;
            }
        }
        StampListNode(n);
    }
}

uint64_t ListTextLength(ListNode* node) {
    uint64_t total = 0;
    char number[kNumberTextSize];
    // Always the whole chain: the joined text starts at the first node.
    for (node = ListFirst(node); node; node = node->next) {
        if (!node->data) {
            total += FormatNumber(node->value, number) + 1;
            continue;
        }
        size_t size = platform::GetBlockSize(node->data);
        total += size ? size : std::strlen(node->data) + 1;
    }
    return total;
}

uint32_t StampListNode(ListNode* node) {
    // Most nodes hold a plain number or text.
    if (!node->arrayExtension && !node->structExtension) {
        node->stamp = (HasAvx2 ? HashPlainListNodeAvx2(node) : HashPlainListNodeSse2(node)) & 0x7FFFFFFFu;
        return node->stamp;
    }
    uint32_t h = ContinueHash<sizeof *node>(0, node);
    if (node->arrayExtension)
        h = ContinueHash<sizeof *node->arrayExtension>(h, node->arrayExtension);
    if (node->structExtension)
        h = ContinueHash<sizeof *node->structExtension>(h, node->structExtension);
    node->stamp = h & 0x7FFFFFFFu;
    return node->stamp;
}

void FreeListNodeExtensions(ListNode* node) {
    FreeValueBlock(node->arrayExtension);
    FreeStructExtension(node->structExtension);
    node->arrayExtension = nullptr;
    node->structExtension = nullptr;
}

namespace {

// Every field of the record that a node's extensions fill, set to zero. Field
// by field: one wide store over several fields would make a later read of a
// field that straddles two such stores (the walk's view copies the dimensions
// sixteen bytes at a time) wait for them to reach the cache.
void ClearExtensionFields(VariableRecord* variable) {
    variable->offset = 0;
    variable->parent = nullptr;
    variable->members = nullptr;
    std::memset(variable->dimensions, 0, sizeof variable->dimensions);
    variable->dimensionCount = 0;
    variable->elementCount = 0;
    variable->arrayWord = 0;
    variable->links = nullptr;
    variable->getter = nullptr;
    variable->setter = nullptr;
    variable->classHash = 0;
    variable->arrayOrder = 0;
}

}  // namespace

void LoadListElement(VariableRecord* variable) {
    variable->writeBackNode = nullptr;
    ListNode* node = variable->currentNode;
    if (!node)
        return;
    variable->data = node->data;
    variable->value = node->value;
    variable->type = node->type;
    const ListArrayExtension* a = node->arrayExtension;
    const ListStructExtension* s = node->structExtension;
    if (!a && !s) {
        ClearExtensionFields(variable);  // a plain element, as most are
    } else {
        if (a) {
            variable->elementCount = a->elementCount;
            std::memcpy(variable->dimensions, a->dimensions, sizeof variable->dimensions);
            variable->dimensionCount = a->dimensionCount;
            variable->arrayWord = a->arrayWord;
            variable->classHash = a->classHash;
            variable->getter = a->getter;
            variable->setter = a->setter;
            variable->arrayOrder = a->arrayOrder;
        } else {
            variable->elementCount = 0;
            std::memset(variable->dimensions, 0, sizeof variable->dimensions);
            variable->dimensionCount = 0;
            variable->arrayWord = 0;
            variable->classHash = 0;
            variable->getter = nullptr;
            variable->setter = nullptr;
            variable->arrayOrder = 0;
        }
        if (s) {
            variable->parent = s->parent;
            variable->offset = s->offset;
            variable->members = s->members;
            variable->links = s->links;
        } else {
            variable->parent = nullptr;
            variable->offset = 0;
            variable->members = nullptr;
            variable->links = nullptr;
        }
    }
    // The record keeps only the bits that describe the record itself; every
    // bit that describes the value comes from the node, so a stale ownership
    // or UTF-16 mark of the element loaded before cannot survive.
    variable->flags = node->flags | (variable->flags & (kVarPublic | kVarList));
    variable->stamp = node->stamp;
    // Last, as a tail call: the common path then saves no registers.
    if (node->flags & kVarStructure)
        RebaseStructMembers(variable);
}

namespace {

// FillNewListItem's steps, by the hash that suits the processor; the hash of
// a new node (type, stamp, padding and extensions still zero) is taken from
// the values in hand, with nothing read back from the node.
template <bool kAvx2>
[[gnu::always_inline]] inline void FillNewItem(VariableRecord* list, char* data, double value, uint32_t flags) {
    ListNode* node = list->currentNode;
    node->data = data;
    node->value = value;
    node->flags = flags;
    uint64_t valueBits;
    std::memcpy(&valueBits, &value, sizeof valueBits);
    const PlainNodeWords words{reinterpret_cast<uintptr_t>(data), valueBits, flags, 0, BytesOf(node->previous),
                               BytesOf(node->next)};
    uint32_t stamp;
    if constexpr (kAvx2)
        stamp = HashWordsAvx2(words) & 0x7FFFFFFFu;
    else
        stamp = HashWordsSse2(words) & 0x7FFFFFFFu;
    node->stamp = stamp;
    // What LoadListElement leaves for a plain element of no type.
    list->writeBackNode = nullptr;
    list->data = data;
    list->value = value;
    list->type = 0;
    ClearExtensionFields(list);
    list->flags = flags | (list->flags & (kVarPublic | kVarList));
    list->stamp = stamp;
}

[[gnu::noinline]] void FillNewItemSse2(VariableRecord* list, char* data, double value, uint32_t flags) {
    FillNewItem<false>(list, data, value, flags);
}

[[gnu::target("avx2"), gnu::noinline]] void FillNewItemAvx2(VariableRecord* list, char* data, double value,
                                                           uint32_t flags) {
    FillNewItem<true>(list, data, value, flags);
}

}  // namespace

void FillNewListItem(VariableRecord* list, char* data, double value, uint32_t flags) {
    if (HasAvx2)
        FillNewItemAvx2(list, data, value, flags);
    else
        FillNewItemSse2(list, data, value, flags);
}

void StoreListElement(VariableRecord* variable) {
    ListNode* node = variable->currentNode;
    if (!node)
        return;
    // A record that still mirrors this node (same stamp) and now holds other
    // data replaces the element: the block the node owned goes.
    if (variable->stamp == node->stamp && node->data != variable->data)
        ReleaseOwnedData(node);
    node->data = variable->data;
    node->value = variable->value;
    node->type = variable->type;
    // The definitions and links are the record's too: only the extension
    // records are rebuilt; the tracker and a by-reference element's variable
    // stay with their node.
    ListTracker* tracker = node->arrayExtension ? node->arrayExtension->tracker : nullptr;
    VariableRecord* reference = node->arrayExtension ? node->arrayExtension->reference : nullptr;
    FreeValueBlock(node->arrayExtension);
    FreeValueBlock(node->structExtension);
    node->arrayExtension = nullptr;
    node->structExtension = nullptr;
    // Built field by field over zeroed bytes: the stamp hashes the padding too.
    ListArrayExtension array;
    std::memset(&array, 0, sizeof array);
    array.elementCount = variable->elementCount;
    std::memcpy(array.dimensions, variable->dimensions, sizeof array.dimensions);
    array.dimensionCount = variable->dimensionCount;
    array.arrayOrder = variable->arrayOrder;
    array.arrayWord = variable->arrayWord;
    array.classHash = variable->classHash;
    array.getter = variable->getter;
    array.setter = variable->setter;
    array.tracker = tracker;
    array.reference = reference;
    if (!ArrayExtensionIsEmpty(&array)) {
        node->arrayExtension = static_cast<ListArrayExtension*>(AllocateValueBlock(sizeof array));
        if (node->arrayExtension)
            std::memcpy(node->arrayExtension, &array, sizeof array);
    }
    if (variable->parent || variable->members || variable->offset || variable->links) {
        node->structExtension = static_cast<ListStructExtension*>(AllocateValueBlock(sizeof(ListStructExtension)));
        if (ListStructExtension* e = node->structExtension) {
            e->parent = variable->parent;
            e->members = variable->members;
            e->offset = variable->offset;
            e->links = variable->links;
        }
    }
    node->flags = variable->flags & ~(kVarPublic | kVarList);
    variable->stamp = StampListNode(node);
}

}  // namespace qob
