// runtime/data/prefix_coder.cpp
// Shannon-Fano compression (code tree from sorted byte counts) and its
// table-driven decoder.
#include "runtime/data/prefix_coder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "runtime/data/bit_cursor.h"
#include "runtime/data/byte_counts.h"

namespace qob {

namespace {

constexpr int kMaxCodeLength = 32;
constexpr int kMaxLeaves = 256;

struct SymbolCode {
    uint8_t symbol;
    uint64_t count;
    uint32_t code;  // right-aligned
    int length;     // in bits
};

using SymbolTable = std::array<SymbolCode, 256>;

// Every byte value with its count, most frequent first; equal counts keep
// ascending symbol order, which the code assignment depends on.
SymbolTable BuildSymbolTable(std::span<const uint8_t> input) {
    const ByteCounts counts = CountByteValues(input);
    SymbolTable table;
    for (int i = 0; i < 256; ++i)
        table[i] = {static_cast<uint8_t>(i), counts[i], 0, 0};
    std::stable_sort(table.begin(), table.end(),
                     [](const SymbolCode& a, const SymbolCode& b) { return a.count > b.count; });
    return table;
}

// Splits entries lo..hi where the running count first reaches half of
// their total, writes the tree depth-first and gives each leaf its code.
// Lengths above 32 are recorded as they are; the caller refuses them.
void WriteCodeTree(SymbolTable& table, BitCursorWriter& out, uint32_t code, int length, int lo,
                   int hi) {
    if (lo == hi) {
        out.WriteBits(1, 1);
        out.WriteBits(table[lo].symbol, 8);
        table[lo].code = code;
        table[lo].length = length;
        return;
    }
    out.WriteBits(0, 1);
    uint64_t total = 0;
    for (int i = lo; i <= hi; ++i)
        total += table[i].count;
    uint64_t sum = 0;
    int k = lo;
    while (k != hi) {
        sum += table[k++].count;
        if (sum >= (total + 1) / 2)
            break;
    }
    out.WriteBits(1, 1);
    WriteCodeTree(table, out, code * 2, length + 1, lo, k - 1);
    if (sum == total) {  // one distinct byte: its leaf has no sibling
        out.WriteBits(0, 1);
        return;
    }
    out.WriteBits(1, 1);
    WriteCodeTree(table, out, code * 2 + 1, length + 1, k, hi);
}

// The tree as read back. Subtrees without leaves are dropped while reading,
// so every kept node leads to a leaf and there are at most 256 * 33 nodes.
struct CodeTree {
    struct Node {
        int child[2] = {-1, -1};  // -1: no subtree
        int symbol = -1;          // a leaf's byte, -1 for an inner node
    };
    std::vector<Node> nodes;
    int root = -1;
    int leafCount = 0;
    int maxDepth = 0;
};

// Reads one node at `depth` and its subtrees; the node's index, -1 for a
// subtree without leaves, or a failure status.
CoderStatus ReadCodeTree(BitCursorReader& in, CodeTree& tree, int depth, int& index) {
    if (depth > kMaxCodeLength)
        return CoderStatus::BadTree;
    uint32_t isLeaf;
    if (!in.ReadBits(1, isLeaf))
        return CoderStatus::InputTruncated;
    if (isLeaf) {
        uint32_t symbol;
        if (!in.ReadBits(8, symbol))
            return CoderStatus::InputTruncated;
        if (++tree.leafCount > kMaxLeaves)
            return CoderStatus::BadTree;
        tree.maxDepth = std::max(tree.maxDepth, depth);
        index = static_cast<int>(tree.nodes.size());
        tree.nodes.push_back({{-1, -1}, static_cast<int>(symbol)});
        return CoderStatus::Ok;
    }
    index = static_cast<int>(tree.nodes.size());
    tree.nodes.emplace_back();
    int children[2] = {-1, -1};
    for (int& child : children) {
        uint32_t present;
        if (!in.ReadBits(1, present))
            return CoderStatus::InputTruncated;
        if (present) {
            const CoderStatus status = ReadCodeTree(in, tree, depth + 1, child);
            if (status != CoderStatus::Ok)
                return status;
        }
    }
    if (children[0] < 0 && children[1] < 0) {
        tree.nodes.resize(index);
        index = -1;
        return CoderStatus::Ok;
    }
    tree.nodes[index].child[0] = children[0];
    tree.nodes[index].child[1] = children[1];
    return CoderStatus::Ok;
}

// Decodes the first kTableBits bits of a code at once: each entry is the
// leaf they lead to, the inner node to walk on from, or nothing.
class CodeTable {
public:
    static constexpr int kTableBits = 13;

    enum class Kind : uint8_t { None, Leaf, Node };
    struct Entry {
        Kind kind = Kind::None;
        uint8_t length = 0;  // Leaf: the code length
        uint16_t value = 0;  // Leaf: the symbol; Node: the node index
    };

    // Up to kRunSymbols whole codes read from the first kTableBits bits at
    // once; count 0 when the first code is not a leaf of the table. Eight
    // bytes, so that a look-up is one scaled load, and the decoder stores
    // the whole word at the output: the symbols come first, and the count
    // and length bytes after them are overwritten by the symbols that follow.
    static constexpr int kRunSymbols = 6;
    struct Run {
        uint8_t symbols[kRunSymbols] = {};
        uint8_t length = 0;  // bits of all its codes together
        uint8_t count = 0;
    };
    static_assert(sizeof(Run) == 8);

    explicit CodeTable(const CodeTree& tree)
        : bits(std::min(tree.maxDepth, kTableBits)), entries(size_t{1} << bits), runs(entries.size()),
          runLengths(entries.size()) {
        if (tree.root >= 0)
            Fill(tree, tree.root, 0, 0);
        FillRuns();
    }

    // The runs by window, for a table of at least one bit.
    const Run* Runs() const { return runs.data(); }
    // Each run's length again, apart: the next window waits for it, and
    // this table is small enough to stay in the nearest cache.
    const uint8_t* RunLengths() const { return runLengths.data(); }

    // The entry for a left-aligned 64-bit window of the stream.
    const Entry& Look(uint64_t window) const {
        return entries[bits == 0 ? 0 : window >> (64 - bits)];
    }

    int Bits() const { return bits; }

private:
    void Fill(const CodeTree& tree, int index, int depth, uint32_t prefix) {
        const CodeTree::Node& node = tree.nodes[index];
        if (node.symbol >= 0) {
            const size_t first = size_t{prefix} << (bits - depth);
            const size_t count = size_t{1} << (bits - depth);
            std::fill_n(entries.begin() + first, count,
                        Entry{Kind::Leaf, static_cast<uint8_t>(depth),
                              static_cast<uint16_t>(node.symbol)});
            return;
        }
        if (depth == bits) {
            entries[prefix] = {Kind::Node, 0, static_cast<uint16_t>(index)};
            return;
        }
        for (int bit = 0; bit < 2; ++bit)
            if (node.child[bit] >= 0)
                Fill(tree, node.child[bit], depth + 1, prefix * 2 + bit);
    }

    // A code belongs to a run only when all its bits lie within the window,
    // past the codes before it.
    void FillRuns() {
        const size_t mask = entries.size() - 1;
        for (size_t window = 0; window < entries.size(); ++window) {
            Run& run = runs[window];
            while (run.count < kRunSymbols) {
                const Entry& entry = entries[(window << run.length) & mask];
                if (entry.kind != Kind::Leaf || entry.length == 0 || run.length + entry.length > bits)
                    break;
                run.symbols[run.count++] = static_cast<uint8_t>(entry.value);
                run.length = static_cast<uint8_t>(run.length + entry.length);
            }
            runLengths[window] = run.length;
        }
    }

    int bits;
    std::vector<Entry> entries;
    std::vector<Run> runs;
    std::vector<uint8_t> runLengths;
};

// Decodes from bit `position` while at least 8 input bytes and room for four
// runs of output (and the last run's whole word) are left, four table windows
// per 64-bit read, and stops at the first code the run table does not
// settle; the slow path takes over there with all its checks. Returns the
// new output index. kFixedBits is the table's width when it is known here
// (a shift by a constant is one instruction less), 0 for any width.
template <int kFixedBits>
[[gnu::always_inline]] inline size_t DecodeWithRuns(const CodeTable& table, std::span<const uint8_t> input,
                                                    size_t& startPosition, std::span<uint8_t> output, size_t i) {
    // A local, not the caller's: the stores of output bytes could otherwise
    // change it as far as the compiler knows.
    size_t position = startPosition;
    const auto finish = [&] {
        startPosition = position;
        return i;
    };
    // Four windows of at most kTableBits bits fit the 57 exact bits of a read.
    static_assert(4 * CodeTable::kTableBits <= 57);
    static_assert(std::endian::native == std::endian::little, "a run's symbols are its low bytes");
    const int windowShift = 64 - (kFixedBits ? kFixedBits : table.Bits());
    // Locals, not the table's fields: the stores of output bytes could
    // otherwise change them as far as the compiler knows.
    const CodeTable::Run* const runs = table.Runs();
    const uint8_t* const runLengths = table.RunLengths();
    constexpr size_t kRoom = 3 * CodeTable::kRunSymbols + sizeof(uint64_t);
    const uint8_t* data = input.data();
    uint8_t* out = output.data();
    if (output.size() < kRoom || input.size() < 8)
        return finish();
    // The last output index and bit position at which a step may start.
    const size_t lastOutput = output.size() - kRoom;
    const size_t lastPosition = (input.size() - 8) * 8 + 7;
    // A read of four windows gives at most this many bytes and takes at
    // most this many bits: the reads that surely start within both limits
    // run without a test of the limits each.
    constexpr size_t kMostBytes = 4 * CodeTable::kRunSymbols;
    constexpr size_t kMostBits = 4 * CodeTable::kTableBits;
    while (i <= lastOutput && position <= lastPosition) {
        size_t reads = std::min((lastOutput - i) / kMostBytes, (lastPosition - position) / kMostBits) + 1;
        for (; reads != 0; --reads) {
            uint64_t word;
            std::memcpy(&word, data + (position >> 3), 8);
            // The read's exact bits, left-aligned, with a mark in the lowest
            // bit: every window lies above it (at most 52 bits are taken),
            // and where the mark ends up is the number of bits taken.
            word = (__builtin_bswap64(word) << (position & 7)) | 1;
            // A run of count 0 has length 0 too: the steps after it look at
            // the same window again and add nothing, so one test after the
            // four steps finds it.
            // The count and the length are loaded on their own, not taken
            // out of the word copied: a load is one instruction, a copy and
            // a shift are two.
            size_t count = 0;
            const auto step = [&] {
                const size_t window = word >> windowShift;
                std::memcpy(out + i, &runs[window], sizeof runs[window]);
                count = runs[window].count;
                i += count;
                word <<= runLengths[window];
            };
            step();
            step();
            step();
            step();
            position += static_cast<size_t>(__builtin_ctzll(word));  // the mark keeps the word from 0
            if (count == 0)
                return finish();
        }
    }
    return finish();
}

// The decoding loop built for any x86-64, and again for a processor with
// BMI2, whose shifts by a register take any register for the count: each
// step then saves the moves into the one count register.
size_t DecodeFast(const CodeTable& table, std::span<const uint8_t> input, size_t& position,
                  std::span<uint8_t> output, size_t i) {
    return table.Bits() == CodeTable::kTableBits ? DecodeWithRuns<CodeTable::kTableBits>(table, input, position, output, i)
                                                 : DecodeWithRuns<0>(table, input, position, output, i);
}

[[gnu::target("bmi2")]] size_t DecodeFastBmi2(const CodeTable& table, std::span<const uint8_t> input,
                                              size_t& position, std::span<uint8_t> output, size_t i) {
    return DecodeWithRuns<0>(table, input, position, output, i);
}

}  // namespace

bool coder_internal::useBmi2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("bmi2") != 0;
}();

CoderResult ShannonFanoCompress(std::span<const uint8_t> input, std::span<uint8_t> output) {
    if (input.empty())
        return {};
    SymbolTable table = BuildSymbolTable(input);
    int hi = 0;
    for (int i = 0; i < 256; ++i)
        if (table[i].count != 0)
            hi = i;
    if (hi == 0)  // one distinct byte: still split once, giving a 1-bit code
        hi = 1;
    BitCursorWriter out(output);
    WriteCodeTree(table, out, 0, 0, 0, hi);
    for (const SymbolCode& entry : table)
        if (entry.length > kMaxCodeLength)
            return {CoderStatus::CodeTooLong, 0};
    std::array<uint32_t, 256> codeOf;
    std::array<uint8_t, 256> lengthOf;
    for (const SymbolCode& entry : table) {
        codeOf[entry.symbol] = entry.code;
        lengthOf[entry.symbol] = static_cast<uint8_t>(entry.length);
    }
    out.WriteCodes(input, codeOf.data(), lengthOf.data());
    out.Flush();
    if (out.IsFull())
        return {CoderStatus::OutputFull, out.Written()};
    return {CoderStatus::Ok, out.Written()};
}

CoderResult ShannonFanoUncompress(std::span<const uint8_t> input, std::span<uint8_t> output) {
    if (output.empty())
        return {};
    BitCursorReader in(input);
    CodeTree tree;
    const CoderStatus treeStatus = ReadCodeTree(in, tree, 0, tree.root);
    if (treeStatus != CoderStatus::Ok)
        return {treeStatus, 0};
    const CodeTable table(tree);
    const size_t inputBits = input.size() * 8;
    for (size_t i = 0; i < output.size(); ++i) {
        size_t position = inputBits - in.BitsLeft();
        const size_t before = position;
        if (table.Bits() > 0)
            i = coder_internal::useBmi2 ? DecodeFastBmi2(table, input, position, output, i) : DecodeFast(table, input, position, output, i);
        in.Skip(position - before);
        if (i == output.size())
            break;
        // Codes the table resolves (all but the longest) are taken several
        // to a window: a peek has at least 57 exact bits.
        const uint64_t bits = in.Peek64();
        const size_t left = in.BitsLeft();
        size_t used = 0;
        while (i < output.size() && used + static_cast<size_t>(table.Bits()) <= 57) {
            const CodeTable::Entry& entry = table.Look(bits << used);
            if (entry.kind != CodeTable::Kind::Leaf || used + entry.length > left)
                break;
            used += entry.length;
            output[i++] = static_cast<uint8_t>(entry.value);
        }
        in.Skip(used);
        if (i == output.size())
            break;
        const uint64_t window = in.Peek64();
        const CodeTable::Entry& entry = table.Look(window);
        int symbol = entry.value;
        size_t length = entry.length;
        if (entry.kind == CodeTable::Kind::None)
            return {CoderStatus::UnknownCode, i};
        if (entry.kind == CodeTable::Kind::Node) {
            // Codes longer than the table: walk the tree bit by bit.
            int node = entry.value;
            int depth = table.Bits();
            while (tree.nodes[node].symbol < 0) {
                node = tree.nodes[node].child[(window >> (63 - depth)) & 1];
                if (node < 0)
                    return {CoderStatus::UnknownCode, i};
                ++depth;
            }
            symbol = tree.nodes[node].symbol;
            length = depth;
        }
        if (length > in.BitsLeft())
            return {CoderStatus::InputTruncated, i};
        in.Skip(length);
        output[i] = static_cast<uint8_t>(symbol);
    }
    return {CoderStatus::Ok, output.size()};
}

}  // namespace qob
