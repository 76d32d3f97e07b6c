// compiler/compiled_file/compiled_file.cpp
// Writing and reading compiled program files. The reader trusts nothing: a
// file is parsed and checked whole before the first node is built.

#include "compiler/compiled_file/compiled_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "compiler/compile_messages.h"
#include "compiler/front_end/token_list.h"
#include "compiler/progress_window.h"
#include "platform/files.h"
#include "platform/huge_pages.h"
#include "platform/memory.h"
#include "platform/message_box.h"
#include "runtime/data/cipher.h"
#include "runtime/data/hash.h"
#include "runtime/data/prefix_coder.h"
#include "runtime/data/text_routines.h"
#include "runtime/memory/pool.h"
#include "runtime/registry/function_table.h"
#include "runtime/registry/registration.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/switches.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/version.h"
#include "runtime/vm/vm.h"

namespace qob {

namespace {

constexpr uint16_t kKnownRecordFlags = kRecordNumber | kRecordText | kRecordSecondText | kRecordLinkValue |
                                       kRecordFusedStep | kRecordExtraWord | kRecordFlagByte | kRecordNamespace |
                                       kRecordTarget | kRecordIdentity | kRecordOwnMethodCall;

// The fields in the order a record holds them: a record has few of them, so
// each group is skipped at once when it has none.
constexpr uint16_t kRecordLeadFields = kRecordNumber | kRecordText | kRecordSecondText;
constexpr uint16_t kRecordTailFields = kRecordLinkValue | kRecordFusedStep | kRecordExtraWord | kRecordFlagByte |
                                       kRecordNamespace | kRecordTarget | kRecordIdentity;

constexpr uint32_t kClassOpcode = 183;         // a class declaration; its name follows in a data record
constexpr int kDeclarationDataRecords = 6;     // export, library, count, result, UTF-16 flag, call kind
constexpr const char* kMessageCaption = "Runtime Error";

// Steps the optimiser fuses into a node's first handler slot, by the opcode
// that names them in a file.
struct FusedStep {
    uint8_t opcode;
    Handler handler;
};
constexpr FusedStep kFusedSteps[] = {
    {static_cast<uint8_t>(Opcode::SAVESP), Builtin___savesp},
    {static_cast<uint8_t>(Opcode::SAVESP2), Builtin___savesp2},
    {static_cast<uint8_t>(Opcode::WHILE), ConditionalJumpHandler},
    {static_cast<uint8_t>(Opcode::BRANCH), Handle_BRANCH},
    {static_cast<uint8_t>(Opcode::STACKDROP), Builtin_dropstack},
};

Handler FusedStepHandler(uint8_t opcode) {
    for (const FusedStep& step : kFusedSteps)
        if (step.opcode == opcode) return step.handler;
    return nullptr;
}

std::optional<uint8_t> FusedStepOpcode(Handler handler) {
    for (const FusedStep& step : kFusedSteps)
        if (step.handler == handler || OpcodeHandlerTable[step.opcode] == handler) return step.opcode;
    return std::nullopt;
}

bool Is(uint32_t opcode, Opcode named) { return opcode == static_cast<uint32_t>(named); }

// The nodes whose text is the 8 bytes of a double, not a text.
bool HoldsConstantBytes(uint32_t opcode) { return Is(opcode, Opcode::PUSHINTINT) || Is(opcode, Opcode::PUSHINTCASE); }
bool IsCall(uint32_t opcode) { return Is(opcode, Opcode::CALL) || Is(opcode, Opcode::SELFCALL); }
bool IsProcedureStart(uint32_t opcode) { return Is(opcode, Opcode::STARTPROC) || Is(opcode, Opcode::STARTPROCUNDEF); }
bool IsDeclaration(uint32_t opcode) {
    return opcode >= static_cast<uint32_t>(Opcode::DECLARE) && opcode <= static_cast<uint32_t>(Opcode::C_DECLAREAPI);
}

// The handler a node of this opcode runs when nothing else decides it: the
// table's, and the do-nothing handler for the list's first node and data nodes.
Handler OpcodeHandler(uint32_t opcode) {
    if (opcode == 0) return NopHandler;
    return opcode < static_cast<uint32_t>(kOpcodeTableSize) ? OpcodeHandlerTable[opcode] : nullptr;
}

Handler OwnHandler(const Instruction* node) { return node->secondHandler ? node->secondHandler : node->handler; }

const char* SecondTextOf(const Instruction* node) {
    return reinterpret_cast<const char*>(static_cast<uintptr_t>(node->operand));
}

std::string FileNamePart(const char* path) {
    std::string name = path ? path : "";
    for (size_t i = name.size(); i > 0; --i)
        if (platform::IsPathSeparator(name[i - 1])) return name.substr(i);
    return name;
}

char* CopyToBlock(std::string_view text) {
    auto* copy = static_cast<char*>(platform::AllocateBlock(text.size() + 1));
    if (!copy) return nullptr;
    if (!text.empty()) std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

void ShowFileMessage(const std::string& text) { ShowMessageBox(text.c_str(), kMessageCaption, platform::MB_ICONWARNING); }

void ReportRefusedFile(const char* name, const std::string& reason) {
    ShowFileMessage("The compiled file " + FileNamePart(name) + " cannot be used: " + reason);
}

// The bar follows a long walk through a file: a loader program's UPDATE
// hears of every step, the bar itself only changes when its step does, so
// the steps between are not reported to it at all. Positions only grow, and
// so does the bar's step with them: where the step next changes is found
// once per step.
class ProgressReport {
public:
    void At(int32_t current, int32_t total) {
        if (!toLoader) {
            if (total == knownTotal && current >= stepFrom && current < stepUntil) return;
            const int32_t step = ComputeProgressStep(current, total);
            knownTotal = total;
            stepFrom = current;
            stepUntil = total > 0 && current >= 0 ? EndOfStep(current, total, step) : current + int64_t{1};
            if (reported && step == lastStep) return;
            reported = true;
            lastStep = step;
        }
        UpdateStatusWindow(nullptr, current, total);
    }

    // For the same total, positions from the last one given up to this one
    // need no call of At: a walk of many small steps tests only this.
    int64_t QuietUntil() const { return toLoader ? INT64_MIN : stepUntil; }

private:
    // The first position after current whose step is not step.
    static int64_t EndOfStep(int32_t current, int32_t total, int32_t step) {
        int64_t same = current;
        int64_t stride = 1;
        int64_t other = same + stride;
        while (other <= INT32_MAX && ComputeProgressStep(static_cast<int32_t>(other), total) == step) {
            same = other;
            stride *= 2;
            other = current + stride;
        }
        if (other > INT32_MAX) return int64_t{INT32_MAX} + 1;
        while (other - same > 1) {
            const int64_t middle = same + (other - same) / 2;
            if (ComputeProgressStep(static_cast<int32_t>(middle), total) == step) same = middle;
            else other = middle;
        }
        return other;
    }

    const bool toLoader = LoaderContext() != nullptr;
    int32_t knownTotal = 0;
    int64_t stepFrom = 0;
    int64_t stepUntil = 0;  // positions in [stepFrom, stepUntil) share the last step computed
    bool reported = false;
    int32_t lastStep = 0;
};

// ---------------------------------------------------------------------------
// Writing

// The order RememberListOrder was given, until the next save takes it.
std::vector<Instruction*> gRememberedOrder;

class ImageWriter {
public:
    void U8(uint8_t value) { *Room(1) = value; }
    void U16(uint16_t value) { Fixed(value); }
    void U32(uint32_t value) { Fixed(value); }
    void Bits64(uint64_t value) { Fixed(value); }
    void Number(double value) { Fixed(value); }
    void Text(std::string_view text) {
        U32(static_cast<uint32_t>(text.size() + 1));
        if (!text.empty()) std::memcpy(Room(text.size()), text.data(), text.size());
    }

    std::span<const uint8_t> Bytes() const { return {bytes.get(), used}; }
    // Room for a record of at most n bytes, written through the pointer and
    // ended by Commit with the pointer past its last byte: one check per
    // record instead of one per field.
    uint8_t* Reserve(size_t n) {
        if (capacity - used < n) [[unlikely]]
            Grow(n);
        return bytes.get() + used;
    }
    void Commit(const uint8_t* end) { used = static_cast<size_t>(end - bytes.get()); }
    // Room for about this many bytes in one piece: each growth copies the
    // bytes so far and touches a new stretch of memory.
    void Expect(size_t total) {
        if (total > capacity) Resize(total);
    }

private:
    // Fields are little-endian, as this machine's own numbers are.
    static_assert(std::endian::native == std::endian::little);
    template <typename T>
    void Fixed(T value) {
        std::memcpy(Room(sizeof value), &value, sizeof value);
    }
    // n bytes to write at the end; the buffer grows by doubling, out of the
    // way of the common case, which stays small enough to inline.
    uint8_t* Room(size_t n) {
        if (capacity - used < n) [[unlikely]]
            Grow(n);
        uint8_t* at = bytes.get() + used;
        used += n;
        return at;
    }
    [[gnu::noinline]] void Grow(size_t n) { Resize(std::max(capacity * 2, used + n + 4096)); }
    // Bytes past the used ones are written before they are read: the buffer is left unfilled.
    void Resize(size_t total) {
        auto larger = std::make_unique_for_overwrite<uint8_t[]>(total);
        if (used != 0) std::memcpy(larger.get(), bytes.get(), used);
        bytes = std::move(larger);
        capacity = total;
    }

    std::unique_ptr<uint8_t[]> bytes;
    size_t capacity = 0;
    size_t used = 0;
};

// Addresses (nodes, handlers) with a number each: open addressing over a
// table of a power of two slots, kept at most half full, with no allocation
// per entry.
template <class Address>
class AddressNumbers {
public:
    // Keeps the first number given: false when the address has one already.
    bool Add(Address address, uint32_t number) {
        if (2 * (count + 1) > slots.size()) Grow();
        Slot& slot = slots[IndexOf(address)];
        if (slot.address) return false;
        slot = {address, number};
        ++count;
        return true;
    }
    const uint32_t* Find(Address address) const {
        if (slots.empty()) return nullptr;
        const Slot& slot = slots[IndexOf(address)];
        return slot.address ? &slot.number : nullptr;
    }
    bool Contains(Address address) const { return Find(address) != nullptr; }
    size_t Size() const { return count; }
    // Room for expected addresses in all without growing on the way.
    void Reserve(size_t expected) {
        size_t size = slots.empty() ? 64 : slots.size();
        while (size < 2 * expected) size *= 2;
        if (size != slots.size()) Rehash(size);
    }

private:
    struct Slot {
        Address address = nullptr;
        uint32_t number = 0;
    };

    // The address's slot, or the empty one where it would go.
    size_t IndexOf(Address address) const {
        const size_t mask = slots.size() - 1;
        // Addresses are 8-aligned: the low bits say nothing, the multiply mixes.
        const auto bits = reinterpret_cast<uintptr_t>(address);
        size_t at = static_cast<size_t>((bits >> 3) * 0x9E3779B97F4A7C15ull >> 20) & mask;
        while (slots[at].address && slots[at].address != address) at = (at + 1) & mask;
        return at;
    }
    void Grow() { Rehash(slots.empty() ? 64 : slots.size() * 2); }
    void Rehash(size_t size) {
        std::vector<Slot> old = std::move(slots);
        slots.assign(size, Slot{});
        for (const Slot& slot : old)
            if (slot.address) slots[IndexOf(slot.address)] = slot;
    }

    std::vector<Slot> slots;
    size_t count = 0;
};
using NodeNumbers = AddressNumbers<const Instruction*>;
using HandlerHashes = AddressNumbers<Handler>;

class ProgramWriter {
public:
    explicit ProgramWriter(Instruction* first) : first(first) {}

    // The version bytes, and a little more than a record takes on the whole
    // (its header, a name or number, a position): the image's room is taken once.
    static constexpr size_t kImageHeaderBytes = 6;
    static constexpr size_t kExpectedRecordBytes = 24;

    // Builds the image; false when some node cannot be carried by the format.
    bool Write() {
        if (!NumberNodes()) return false;
        image.Expect(kImageHeaderBytes + listSize * kExpectedRecordBytes);
        image.U8(static_cast<uint8_t>(kVersionMajor));
        image.U8(static_cast<uint8_t>(kVersionMinor));
        image.U8(static_cast<uint8_t>(kVersionRelease));
        image.U8(kCompiledFeatureLevel);
        image.U8(Switches.desktopPlatform ? 0 : 1);
        image.U8(kCompiledFormatVersion);
        ProgressReport progress;
        int64_t quietUntil = 0;
        for (size_t i = 0; i < listSize;) {
            // The records before the next report go without a test each; the
            // report comes after the record at place quietUntil (counted from 1).
            const int64_t due = std::max(quietUntil, static_cast<int64_t>(i + 1));
            const size_t end = std::min(listSize, static_cast<size_t>(due));
            for (; i < end; ++i) {
                FetchAhead(i);
                if (!WriteRecord(order[i], static_cast<uint32_t>(i + 1))) return false;
            }
            if (static_cast<int64_t>(i) >= quietUntil) {
                progress.At(static_cast<int32_t>(i), nodeCount);
                quietUntil = progress.QuietUntil();
            }
        }
        return true;
    }

    std::span<const uint8_t> Bytes() const { return image.Bytes(); }

    // The declaration nodes, in list order, once Write has succeeded.
    const std::vector<Instruction*>& Declarations() const { return declarations; }

private:
    // A compiled list lies scattered in memory: following its links costs a
    // fetch from memory per node that nothing can start early. It is followed
    // once, into an array; the passes after it read the array and fetch the
    // nodes (and their side records and texts) some way ahead of use.
    static constexpr size_t kFetchDistance = 8;
    // The walk that follows the links cannot know the next node before it has
    // the one before. Nodes and side records are made one after the other from
    // the pool, mostly in list order: memory this far past a node holds the
    // nodes a few dozen places on, and is fetched while the walk gets there.
    static constexpr uintptr_t kLayoutAhead = 4096;

    // The order array runs on past the list's nodes (see kOrderTail): no
    // place fetched ahead of a node in the list is outside it.
    void FetchAhead(size_t i) const {
        __builtin_prefetch(order[i + 2 * kFetchDistance]);
        const Instruction* node = order[i + kFetchDistance];
        __builtin_prefetch(node->extra);
        __builtin_prefetch(node->text);
    }
    // After the list's nodes the order array holds this many copies of the
    // last one, so that the walks fetching ahead need no test of the end.
    static constexpr size_t kOrderTail = 2 * kFetchDistance;
    static void AddTail(std::vector<Instruction*>& nodes) {
        if (!nodes.empty()) nodes.insert(nodes.end(), kOrderTail, nodes.back());
    }

    // What the writer needs to know of each node before it writes: where the
    // declarations and the marked targets are, and what the jumps go to.
    [[gnu::always_inline]] void Note(const Instruction* node, size_t place) {
        if (IsDeclaration(node->opcode)) declarationPlaces.push_back(place);
        const InstructionExtra* extra = node->extra;
        if (!extra) return;
        if (extra->isJumpTarget) markedPlaces.push_back(place);
        if (extra->jumpTarget) targets.push_back(extra->jumpTarget);
    }

    // The remembered order of the list, when it is this list's: every node
    // its link says, from the first to the last, each noted with its place;
    // false (order left empty) when the order is not the list's.
    bool TakeKnownOrder() {
        std::vector<Instruction*> known = std::move(gRememberedOrder);
        gRememberedOrder = {};
        if (known.empty() || known.front() != first) return false;
        const size_t count = known.size();
        AddTail(known);
        for (size_t i = 0; i + 1 < count; ++i) {
            __builtin_prefetch(known[i + 2 * kFetchDistance]);
            __builtin_prefetch(known[i + kFetchDistance]->extra);
            const Instruction* node = known[i];
            if (node->next != known[i + 1]) return false;
            Note(node, i);
        }
        if (known[count - 1]->next) return false;
        Note(known[count - 1], count - 1);
        order = std::move(known);
        listSize = count;
        return true;
    }

    // Identities are positions in the list, so a file never depends on where
    // the nodes happened to lie in memory. Only nodes that carry one in the
    // file (jump targets) are kept in the map.
    bool NumberNodes() {
        // The one walk over the nodes reads all it needs of each node (its
        // side record mostly lies right after it); what comes after it reads
        // the arrays it fills, or nodes it can fetch ahead.
        if (!TakeKnownOrder()) {
            markedPlaces.clear();
            declarationPlaces.clear();
            targets.clear();
            for (Instruction* node = first; node; node = node->next) {
                __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(node) + kLayoutAhead));
                order.push_back(node);
                Note(node, order.size() - 1);
            }
            listSize = order.size();
            AddTail(order);
        }
        // A target is marked as one when the jump to it is set: a target
        // without the mark is looked up by address, and there are hardly any.
        for (size_t i = 0; i < targets.size(); ++i) {
            if (i + 2 * kFetchDistance < targets.size()) __builtin_prefetch(targets[i + 2 * kFetchDistance]);
            if (i + kFetchDistance < targets.size()) __builtin_prefetch(targets[i + kFetchDistance]->extra);
            const Instruction* target = targets[i];
            if (!(target->extra && target->extra->isJumpTarget)) unmarkedTargets.Add(target, 0);
        }
        identities.Reserve(markedPlaces.size() + unmarkedTargets.Size());
        numbered.assign(listSize, 0);
        for (const size_t place : markedPlaces) {
            identities.Add(order[place], static_cast<uint32_t>(place + 1));
            numbered[place] = 1;
        }
        if (unmarkedTargets.Size() != 0) {
            for (size_t place = 0; place < listSize; ++place) {
                if (numbered[place] || !unmarkedTargets.Contains(order[place])) continue;
                identities.Add(order[place], static_cast<uint32_t>(place + 1));
                numbered[place] = 1;
            }
        }
        for (const size_t place : declarationPlaces) {
            if (listSize - place - 1 < kDeclarationDataRecords) return false;
            for (size_t d = 1; d <= kDeclarationDataRecords; ++d)
                if (order[place + d]->opcode != 0) return false;
            if (place == 0) return false;  // the list's head must stay
            declarations.push_back(order[place]);
        }
        nodeCount = static_cast<int32_t>(listSize);
        return true;
    }


    // Most texts are names of a character or three: their ends are found
    // byte by byte, before the library's call is worth making.
    static size_t TextLength(const char* text) {
        if (!text[0]) return 0;
        if (!text[1]) return 1;
        if (!text[2]) return 2;
        if (!text[3]) return 3;
        return 4 + std::strlen(text + 4);
    }

    // A record's fields, each little-endian straight after the other.
    template <typename T>
    static uint8_t* Put(uint8_t* at, T value) {
        std::memcpy(at, &value, sizeof value);
        return at + sizeof value;
    }
    static uint8_t* PutText(uint8_t* at, const char* text, size_t length) {
        at = Put(at, static_cast<uint32_t>(length + 1));
        CopyText(at, text, length);
        return at + length;
    }
    // Most texts are names of a few characters, too short to be worth a
    // library call: two overlapping words (or the first, middle and last
    // byte) cover 1 to 16 characters without reading outside the text.
    static void CopyText(uint8_t* to, const char* text, size_t length) {
        if (length > 16) {
            std::memcpy(to, text, length);
        } else if (length >= 8) {
            CopyWord<uint64_t>(to, text);
            CopyWord<uint64_t>(to + length - 8, text + length - 8);
        } else if (length >= 4) {
            CopyWord<uint32_t>(to, text);
            CopyWord<uint32_t>(to + length - 4, text + length - 4);
        } else if (length > 0) {
            to[0] = static_cast<uint8_t>(text[0]);
            to[length / 2] = static_cast<uint8_t>(text[length / 2]);
            to[length - 1] = static_cast<uint8_t>(text[length - 1]);
        }
    }
    template <typename T>
    static void CopyWord(uint8_t* to, const char* from) {
        T word;
        std::memcpy(&word, from, sizeof word);
        std::memcpy(to, &word, sizeof word);
    }
    // Every field a record can have but the two texts: header, number, two
    // text lengths, link value, fused step, extra word, flag byte, namespace,
    // target and identity.
    static constexpr size_t kMostFixedRecordBytes = 3 + 8 + 4 + 4 + 8 + 1 + 4 + 1 + 4 + 4 + 4;

    // What the writer asks of a record's opcode, from a table made once.
    enum OpcodeTrait : uint8_t {
        kNumberRebuilt = 1,      // the number operand is an address or an index, rebuilt on load
        kTwoTexts = 2,           // the number operand is the address of a second text
        kTextIsConstant = 4,     // the text is the 8 bytes of a double
        kNativeCall = 8,
        kHandlerNotChecked = 16,  // the loader finds the handler by other means than the opcode
        kInternalCall = 32        // the link value is the name hash of the built-in the node runs
    };
    static std::array<uint8_t, kOpcodeTableSize> MakeOpcodeTraits() {
        std::array<uint8_t, kOpcodeTableSize> traits{};
        for (uint32_t opcode = 0; opcode < traits.size(); ++opcode) {
            uint8_t& t = traits[opcode];
            if (HasSecondText(opcode)) t |= kTwoTexts | kNumberRebuilt;
            if (Is(opcode, Opcode::PUSHPROCADDR)) t |= kNumberRebuilt;
            if (IsNativeCallOpcode(opcode)) t |= kNativeCall | kNumberRebuilt;
            if (HoldsConstantBytes(opcode)) t |= kTextIsConstant;
            if (Is(opcode, Opcode::INTERNALCALL)) t |= kInternalCall;
            if (Is(opcode, Opcode::INTERNALCALL) || IsDeclaration(opcode) || opcode == kClassOpcode ||
                Is(opcode, Opcode::FORWARDPROC))
                t |= kHandlerNotChecked;
        }
        return traits;
    }

    // What a loaded node of each opcode runs.
    static std::array<Handler, kOpcodeTableSize> MakeOpcodeHandlers() {
        std::array<Handler, kOpcodeTableSize> handlers{};
        for (uint32_t opcode = 0; opcode < handlers.size(); ++opcode) handlers[opcode] = OpcodeHandler(opcode);
        return handlers;
    }

    // identity: the node's place in the list, counted from 1.
    bool WriteRecord(const Instruction* node, uint32_t identity) {
        const uint32_t opcode = node->opcode;
        if (opcode >= static_cast<uint32_t>(kOpcodeTableSize)) return false;
        const uint8_t traits = opcodeTraits[opcode];
        const Handler own = OwnHandler(node);
        const bool ownMethod = own == CallOwnMethod;
        // Loading gives every node its opcode's handler (a SELFCALL the own
        // method call when its record says so); a node running something else
        // would come back changed. Most nodes run their opcode's handler.
        if (own != opcodeHandlers[opcode]) {
            if (ownMethod ? !Is(opcode, Opcode::SELFCALL) : !(traits & kHandlerNotChecked)) return false;
        } else if (ownMethod && !Is(opcode, Opcode::SELFCALL)) {
            return false;
        }
        const char* text = node->text && !(traits & (kTextIsConstant | kNativeCall)) ? node->text : nullptr;
        const size_t textLength = text ? TextLength(text) : 0;
        const char* second = nullptr;
        size_t secondLength = 0;
        if (traits & kTwoTexts) {
            second = SecondTextOf(node);
            if (!second) return false;
            secondLength = TextLength(second);
        }
        // The fields go straight after a header whose flags are known last.
        uint8_t* const header = image.Reserve(kMostFixedRecordBytes + textLength + secondLength);
        uint8_t* at = header + 3;
        header[2] = static_cast<uint8_t>(opcode);
        uint16_t flags = ownMethod ? kRecordOwnMethodCall : 0;

        // A number operand that is an address (a second text, a procedure's
        // start) or a function-table index is rebuilt on load, not written.
        uint64_t numberBits;
        std::memcpy(&numberBits, &node->operand, sizeof numberBits);
        if (!(traits & kNumberRebuilt) && numberBits != 0) {
            flags |= kRecordNumber;
            at = Put(at, node->operand);
        }
        if (text) {
            flags |= kRecordText;
            at = PutText(at, text, textLength);
        }
        if (second) {
            flags |= kRecordSecondText;
            at = PutText(at, second, secondLength);
        }
        if (traits & (kInternalCall | kNativeCall | kTextIsConstant)) {
            if (traits & kInternalCall) {
                const uint32_t* hash = builtinHashes.Find(own);
                if (!hash) return false;
                at = Put(at, static_cast<double>(*hash));
            } else if (traits & kNativeCall) {
                const FunctionRecord* record = FunctionRecordAt(static_cast<int>(node->operand));
                if (!record) return false;
                at = Put(at, static_cast<double>(record->nameHash));
            } else {
                if (!node->text) return false;
                uint64_t bits;
                std::memcpy(&bits, node->text, sizeof bits);
                at = Put(at, bits);
            }
            flags |= kRecordLinkValue;
        }
        if (node->secondHandler) {
            const std::optional<uint8_t> step = FusedStepOpcode(node->handler);
            if (!step) return false;
            flags |= kRecordFusedStep;
            at = Put(at, *step);
        }
        if (node->extraWord != 0) {
            if (node->extraWord > UINT32_MAX) return false;
            flags |= kRecordExtraWord;
            at = Put(at, static_cast<uint32_t>(node->extraWord));
        }
        if (const InstructionExtra* extra = node->extra) {
            if (extra->flagByte) {
                flags |= kRecordFlagByte;
                at = Put(at, extra->flagByte);
            }
            if (extra->namespaceHash) {
                flags |= kRecordNamespace;
                at = Put(at, extra->namespaceHash);
            }
            if (extra->jumpTarget) {
                if (const uint32_t* found = identities.Find(extra->jumpTarget)) {
                    flags |= kRecordTarget;
                    at = Put(at, *found);
                } else if (!IsCall(opcode)) {
                    return false;  // a jump out of the program
                }
                // A call into another program's code is linked by name on load.
            }
            if (numbered[identity - 1]) {
                flags |= kRecordIdentity;
                at = Put(at, identity);
            }
        }
        header[0] = static_cast<uint8_t>(flags);
        header[1] = static_cast<uint8_t>(flags >> 8);
        image.Commit(at);
        return true;
    }

    // The name hash of the function-table record of each handler (the first
    // record, when records share one): an INTERNALCALL node is written with it.
    static HandlerHashes MakeBuiltinHashes() {
        HandlerHashes hashes;
        hashes.Reserve(static_cast<size_t>(FunctionCount()));
        for (int i = 0, count = FunctionCount(); i < count; ++i)
            if (const FunctionRecord* record = FunctionRecordAt(i); record && record->handler)
                hashes.Add(record->handler, record->nameHash);
        return hashes;
    }

    Instruction* first;
    std::vector<Instruction*> order;         // the list's nodes in list order, then kOrderTail more
    size_t listSize = 0;                     // how many nodes the list has
    std::vector<Instruction*> declarations;  // declaration nodes, each with its data nodes after it
    ImageWriter image;
    int32_t nodeCount = 0;
    NodeNumbers identities;
    NodeNumbers unmarkedTargets;  // nodes some node jumps to without the target mark (numbered 0 here)
    std::vector<size_t> markedPlaces;       // list places of the nodes marked as targets
    std::vector<size_t> declarationPlaces;  // list places of the declaration nodes
    std::vector<const Instruction*> targets;  // what the jumps go to, in list order of the jumps
    std::vector<uint8_t> numbered;  // by list place: whether the node carries its identity
    const std::array<uint8_t, kOpcodeTableSize> opcodeTraits = MakeOpcodeTraits();
    const std::array<Handler, kOpcodeTableSize> opcodeHandlers = MakeOpcodeHandlers();
    const HandlerHashes builtinHashes = MakeBuiltinHashes();
};

// Each declaration node goes with the data nodes after it.
void DeleteDeclarationNodes(const std::vector<Instruction*>& declarations, Pool* pool) {
    for (Instruction* node : declarations) {
        Instruction* after = node;
        for (int i = 0; i <= kDeclarationDataRecords; ++i) after = after->next;
        while (node != after) {
            Instruction* next = node->next;
            DeleteInstruction(pool, nullptr, node, true);
            node = next;
        }
    }
}

// ---------------------------------------------------------------------------
// Reading

// A built-in's or native function's name hash, written as a double.
uint32_t LinkHashOf(uint64_t linkBits) {
    double value;
    std::memcpy(&value, &linkBits, sizeof value);
    return value >= 0.0 && value <= static_cast<double>(UINT32_MAX) ? static_cast<uint32_t>(value) : 0;
}

struct FileRecord {
    uint16_t flags = 0;
    uint32_t opcode = 0;
    double number = 0.0;
    // Both texts point into the decoded image, which outlives the records.
    std::string_view text;
    std::string_view secondText;
    // The link value's eight bytes where the image holds them (null: none).
    const uint8_t* link = nullptr;
    uint8_t fusedOpcode = 0;
    uint32_t extraWord = 0;
    uint8_t flagByte = 0;
    uint32_t namespaceWord = 0;
    uint32_t targetId = 0;
    uint32_t ownId = 0;

    bool Has(uint16_t flag) const { return (flags & flag) != 0; }
    uint32_t LinkHash() const {
        uint64_t bits = 0;
        if (link) std::memcpy(&bits, link, sizeof bits);
        return LinkHashOf(bits);
    }
    std::string_view TextOrEmpty() const { return text; }
};

// What the reader asks of a record's opcode, answered from one table made on
// first use instead of a chain of compares per record.
enum OpcodeTrait : uint16_t {
    kKnownOpcode = 0x001,       // a record may carry it: the data records' 0, a class, every named opcode
    kSecondTextOpcode = 0x002,  // HasSecondText
    kStartOpcode = 0x004,       // a procedure start
    kSkippedOpcode = 0x008,     // a declaration or class: no node, data records follow
    kForwardOpcode = 0x010,     // a forward declaration: no node
    kInternalOpcode = 0x020,    // a built-in call
    kNativeOpcode = 0x040,      // a native-function call
    kConstantOpcode = 0x080,    // HoldsConstantBytes
    kByNameOpcode = 0x100,      // a call or procedure address, linked by name at the end
    kHandledOpcode = 0x200,     // OpcodeHandler answers a handler
    kPlainOpcode = 0x400,       // handled, and none of the kinds above that the survey or the build treat apart
};

using OpcodeTraitTable = std::array<uint16_t, 256>;

// Per opcode, the record flags a node of it that the survey takes by offsets
// must carry (low half) and must not carry (high half). An opcode the
// survey walks apart (a procedure start, a declaration, a class, a forward
// declaration, an unknown or unhandled one) must carry every flag and none,
// which no record does.
using NodeFlagRules = std::array<uint32_t, 256>;

// The records of an image read with every check: a field that runs past
// the end, a text length of 0 and a text holding a NUL all fail the read.
class ImageReader {
public:
    explicit ImageReader(std::span<const uint8_t> bytes)
        : start(bytes.data()), next(bytes.data()), end(bytes.data() + bytes.size()) {}

    bool AtEnd() const { return next == end; }
    size_t Position() const { return static_cast<size_t>(next - start); }

    // The fields of a record whose flags and opcode are already taken. The
    // fixed part of the fields (all but the characters of the texts) is
    // sized from the flags and checked at once: if it does not fit, reading
    // field by field would have failed too. Each text is then checked
    // against what is left after the fixed part still to come.
    bool Fields(FileRecord& record) {
        const uint16_t flags = record.flags;
        const uint8_t* p = next;
        size_t fixedLeft = FixedSize(flags);
        if (fixedLeft > static_cast<size_t>(end - p)) return false;
        if (flags & kRecordLeadFields) {
            if (flags & kRecordNumber) Take(p, record.number, fixedLeft);
            if ((flags & kRecordText) && !TakeText(p, record.text, fixedLeft)) return false;
            if ((flags & kRecordSecondText) && !TakeText(p, record.secondText, fixedLeft)) return false;
        }
        if (flags & kRecordTailFields) {
            if (flags & kRecordLinkValue) {
                record.link = p;
                p += sizeof(uint64_t);
                fixedLeft -= sizeof(uint64_t);
            }
            if (flags & kRecordFusedStep) Take(p, record.fusedOpcode, fixedLeft);
            if (flags & kRecordExtraWord) Take(p, record.extraWord, fixedLeft);
            if (flags & kRecordFlagByte) Take(p, record.flagByte, fixedLeft);
            if (flags & kRecordNamespace) Take(p, record.namespaceWord, fixedLeft);
            if (flags & kRecordTarget) Take(p, record.targetId, fixedLeft);
            if (flags & kRecordIdentity) Take(p, record.ownId, fixedLeft);
        }
        next = p;
        return true;
    }

    // What the survey keeps of a node's record.
    struct NodeFields {
        uint16_t flags = 0;
        uint16_t traits = 0;
        uint32_t targetId = 0;
        uint32_t ownId = 0;
        uint64_t linkBits = 0;
    };

    // Most records make a node and are neither a procedure start nor a
    // declaration, a class or a forward declaration, and carry no own-method
    // mark: their fields lie at offsets the flags give, so only the texts'
    // lengths and characters, the fused step, the link value and the two
    // identities are looked at, and the checks of such a node's fields are
    // made here. False, with nothing taken, for any other record and for one
    // with a fault of any kind: Head, Fields and the survey's checks then
    // read it again and name the fault.
    [[gnu::always_inline]] bool TakeNode(const OpcodeTraitTable& traits, const NodeFlagRules& rules, NodeFields& node) {
        // Far from the end, the fixed part of any record fits: only the
        // texts are checked against the end.
        const uint8_t* p = next;
        if (end - p < static_cast<ptrdiff_t>(kLongestFixedPart)) return false;
        uint16_t flags;
        std::memcpy(&flags, p, sizeof flags);
        const uint32_t rule = rules[p[2]];
        if (((~flags & rule) | (flags & (rule >> 16))) & 0xFFFF) return false;
        p += 3;
        size_t fixedLeft = FixedSize(flags);
        if (flags & kRecordNumber) {
            p += sizeof(double);
            fixedLeft -= sizeof(double);
        }
        if ((flags & kRecordText) && !PassText(p, fixedLeft)) return false;
        if ((flags & kRecordSecondText) && !PassText(p, fixedLeft)) [[unlikely]] return false;
        // p is at the tail fields, fixedLeft bytes of them: the link value
        // first, then the fused step, the identities last.
        if ((flags & kRecordFusedStep) && !FusedStepHandler(p[(flags & kRecordLinkValue) ? 8 : 0])) return false;
        const uint8_t* const recordEnd = p + fixedLeft;
        node.flags = flags;
        node.traits = traits[next[2]];
        if (flags & kRecordLinkValue) std::memcpy(&node.linkBits, p, sizeof node.linkBits);
        if (flags & kRecordIdentity) std::memcpy(&node.ownId, recordEnd - 4, sizeof node.ownId);
        if (flags & kRecordTarget)
            std::memcpy(&node.targetId, recordEnd - ((flags & kRecordIdentity) ? 8 : 4), sizeof node.targetId);
        next = recordEnd;
        return true;
    }

    // The length word and characters of a text at p, checked as TakeText
    // checks them, passed over.
    [[gnu::always_inline]] bool PassText(const uint8_t*& p, size_t& fixedLeft) const {
        uint32_t n;
        std::memcpy(&n, p, sizeof n);
        p += sizeof n;
        fixedLeft -= sizeof n;
        if (n == 0 || n - 1 > static_cast<size_t>(end - p) - fixedLeft) return false;
        const size_t length = n - 1;
        if (length <= 8 && end - p >= 8) {
            // Most texts are a few characters: one load, the bytes past the
            // text set so that they hold no 0.
            const uint64_t past = (~uint64_t{0} << (4 * length)) << (4 * length);
            if (HasZeroByte(Load<uint64_t>(reinterpret_cast<const char*>(p)) | past)) return false;
        } else if (HoldsNul(std::string_view(reinterpret_cast<const char*>(p), length))) {
            return false;
        }
        p += length;
        return true;
    }

    // The flags and the opcode; false when the image ends first.
    bool Head(uint16_t& flags, uint8_t& opcode) {
        if (end - next < 3) return false;
        std::memcpy(&flags, next, sizeof flags);
        opcode = next[2];
        next += 3;
        return true;
    }

private:
    // Fields are little-endian, as this machine's own numbers are.
    static_assert(std::endian::native == std::endian::little);

    // Each field's size, a text's counting its length word only.
    static constexpr std::pair<uint16_t, uint8_t> kFieldSizes[] = {
        {kRecordNumber, 8},    {kRecordText, 4},      {kRecordSecondText, 4}, {kRecordLinkValue, 8},
        {kRecordFusedStep, 1}, {kRecordExtraWord, 4}, {kRecordFlagByte, 1},   {kRecordNamespace, 4},
        {kRecordTarget, 4},    {kRecordIdentity, 4}};
    // The head and every field a record can carry.
    static constexpr size_t kLongestFixedPart = [] {
        size_t total = 3;
        for (const auto& field : kFieldSizes) total += field.second;
        return total;
    }();

    // The bytes of the fields that flags announce, counting a text as its
    // length word only; from one table per flag byte.
    static size_t FixedSize(uint16_t flags) {
        static constexpr auto kSizes = [] {
            struct Sizes {
                std::array<uint8_t, 256> low{};
                std::array<uint8_t, 256> high{};
            } sizes;
            for (unsigned byte = 0; byte < 256; ++byte)
                for (const auto& [flag, size] : kFieldSizes) {
                    if (flag & byte) sizes.low[byte] = static_cast<uint8_t>(sizes.low[byte] + size);
                    if ((flag >> 8) & byte) sizes.high[byte] = static_cast<uint8_t>(sizes.high[byte] + size);
                }
            return sizes;
        }();
        return size_t{kSizes.low[flags & 0xFF]} + kSizes.high[flags >> 8];
    }

    template <typename T>
    static void Take(const uint8_t*& p, T& value, size_t& fixedLeft) {
        std::memcpy(&value, p, sizeof(T));
        p += sizeof(T);
        fixedLeft -= sizeof(T);
    }

    // n = length + 1, then the characters; n of 0 cannot be written.
    bool TakeText(const uint8_t*& p, std::string_view& text, size_t& fixedLeft) const {
        uint32_t n;
        Take(p, n, fixedLeft);
        if (n == 0) return false;
        const size_t length = n - 1;
        if (length > static_cast<size_t>(end - p) - fixedLeft) return false;
        text = std::string_view(reinterpret_cast<const char*>(p), length);
        p += length;
        return !HoldsNul(text);
    }

    // Most texts are names of a few characters, too short to be worth a
    // library call: a word of them is tested at once, and two overlapping
    // words cover 4 to 16 bytes without reading outside the text.
    static bool HoldsNul(std::string_view text) {
        const char* p = text.data();
        const size_t n = text.size();
        if (n > 16) return std::memchr(p, '\0', n) != nullptr;
        if (n >= 8) return HasZeroByte(Load<uint64_t>(p)) || HasZeroByte(Load<uint64_t>(p + n - 8));
        if (n >= 4) return HasZeroByte(Load<uint32_t>(p)) || HasZeroByte(Load<uint32_t>(p + n - 4));
        // The first, middle and last byte are every byte of 1 to 3.
        return n > 0 && (p[0] == '\0' || p[n / 2] == '\0' || p[n - 1] == '\0');
    }
    template <typename T>
    static T Load(const char* p) {
        T word;
        std::memcpy(&word, p, sizeof word);
        return word;
    }
    template <typename T>
    static bool HasZeroByte(T word) {
        constexpr T kOnes = static_cast<T>(~T{0}) / 0xFF;
        return ((word - kOnes) & ~word & (kOnes << 7)) != 0;
    }

    const uint8_t* start;
    const uint8_t* next;
    const uint8_t* end;
};

// Records carry opcodes in a byte: every one has an entry.
const OpcodeTraitTable& OpcodeTraits() {
    static const OpcodeTraitTable traits = [] {
        std::array<uint16_t, 256> table{};
        for (uint32_t code = 0; code < table.size(); ++code) {
            uint16_t t = 0;
            if (code == 0 || code == kClassOpcode ||
                (code < static_cast<uint32_t>(kOpcodeTableSize) && OpcodeName(code) != nullptr))
                t |= kKnownOpcode;
            if (HasSecondText(code)) t |= kSecondTextOpcode;
            if (IsProcedureStart(code)) t |= kStartOpcode;
            if (IsDeclaration(code) || code == kClassOpcode) t |= kSkippedOpcode;
            if (Is(code, Opcode::FORWARDPROC)) t |= kForwardOpcode;
            if (Is(code, Opcode::INTERNALCALL)) t |= kInternalOpcode;
            if (IsNativeCallOpcode(code)) t |= kNativeOpcode;
            if (HoldsConstantBytes(code)) t |= kConstantOpcode;
            if (IsCall(code) || Is(code, Opcode::PUSHPROCADDR)) t |= kByNameOpcode;
            if (OpcodeHandler(code)) t |= kHandledOpcode;
            constexpr uint16_t kApart = kSkippedOpcode | kForwardOpcode | kStartOpcode | kSecondTextOpcode |
                                        kInternalOpcode | kNativeOpcode | kConstantOpcode;
            if ((t & kHandledOpcode) && !(t & kApart)) t |= kPlainOpcode;
            table[code] = t;
        }
        return table;
    }();
    return traits;
}

const NodeFlagRules& NodeFlagRulesOfOpcodes() {
    static const NodeFlagRules rules = [] {
        const OpcodeTraitTable& traits = OpcodeTraits();
        NodeFlagRules table{};
        constexpr uint32_t kApartFlags = static_cast<uint16_t>(~kKnownRecordFlags) | kRecordOwnMethodCall;
        for (size_t code = 0; code < table.size(); ++code) {
            const uint16_t t = traits[code];
            const bool needsLink = t & (kInternalOpcode | kNativeOpcode | kConstantOpcode);
            const bool apart = (t & (kSkippedOpcode | kForwardOpcode | kStartOpcode)) || !(t & kKnownOpcode) ||
                               (!needsLink && !(t & kHandledOpcode));
            uint32_t required = 0;
            if (t & kSecondTextOpcode) required |= kRecordSecondText;
            if (needsLink) required |= kRecordLinkValue;
            table[code] = apart ? 0xFFFFFFFFu : (kApartFlags << 16) | required;
        }
        return table;
    }();
    return rules;
}

// One record; the reason names what was wrong.
bool ReadRecord(ImageReader& in, const OpcodeTraitTable& traits, FileRecord& record, std::string& reason) {
    uint8_t opcode;
    if (!in.Head(record.flags, opcode)) return reason = "a record is cut off", false;
    record.opcode = opcode;
    if (record.flags & ~kKnownRecordFlags) return reason = "unknown record flags", false;
    if (!(traits[opcode] & kKnownOpcode)) [[unlikely]]
        return reason = "unknown opcode " + std::to_string(opcode), false;
    if (!in.Fields(record)) return reason = "a record runs past the end of the image", false;
    if (record.Has(kRecordFusedStep) && !FusedStepHandler(record.fusedOpcode))
        return reason = "an unknown fused step", false;
    return true;
}

// The next record of an image that ReadRecord has read whole once without a
// fault: the same fields in the same order, with nothing left to check.
class CheckedImage {
public:
    explicit CheckedImage(std::span<const uint8_t> bytes, size_t at = 0)
        : next(bytes.data() + at), end(bytes.data() + bytes.size()) {}

    bool AtEnd() const { return next == end; }

    // Inline: out of line, the build pass calls it for every record and
    // copies the record it returns.
    [[gnu::always_inline]] FileRecord NextRecord() {
        FileRecord record;
        Take(record.flags);
        uint8_t opcode;
        Take(opcode);
        record.opcode = opcode;
        const uint16_t flags = record.flags;
        if (flags & kRecordLeadFields) {
            if (flags & kRecordNumber) Take(record.number);
            if (flags & kRecordText) TakeText(record.text);
            if (flags & kRecordSecondText) TakeText(record.secondText);
        }
        if (flags & kRecordTailFields) {
            if (flags & kRecordLinkValue) {
                record.link = next;
                next += sizeof(uint64_t);
            }
            if (flags & kRecordFusedStep) Take(record.fusedOpcode);
            if (flags & kRecordExtraWord) Take(record.extraWord);
            if (flags & kRecordFlagByte) Take(record.flagByte);
            if (flags & kRecordNamespace) Take(record.namespaceWord);
            if (flags & kRecordTarget) Take(record.targetId);
            if (flags & kRecordIdentity) Take(record.ownId);
        }
        return record;
    }

    // A record of a plain node (see kPlainOpcode) that carries no field but
    // a number, a text, an extra word and a namespace word: most records are
    // such, and need neither a whole FileRecord nor the tests of the other
    // fields. Absent fields read as 0.
    struct PlainNode {
        uint8_t opcode = 0;
        bool hasText = false;
        uint32_t extraWord = 0;
        uint32_t namespaceWord = 0;
        double number = 0.0;
        std::string_view text;
    };
    static constexpr uint16_t kPlainNodeFields = kRecordNumber | kRecordText | kRecordExtraWord | kRecordNamespace;

    // False, with nothing taken, when the next record is not such a one.
    [[gnu::always_inline]] bool TakePlainNode(const OpcodeTraitTable& traits, PlainNode& node) {
        uint16_t flags;
        std::memcpy(&flags, next, sizeof flags);
        const uint8_t opcode = next[2];
        if ((flags & ~kPlainNodeFields) || !(traits[opcode] & kPlainOpcode)) return false;
        next += 3;
        node.opcode = opcode;
        if (flags & kRecordNumber) Take(node.number);
        node.hasText = (flags & kRecordText) != 0;
        if (node.hasText) TakeText(node.text);
        if (flags & kRecordExtraWord) Take(node.extraWord);
        if (flags & kRecordNamespace) Take(node.namespaceWord);
        return true;
    }

    // A record of a built-in call that carries its link value and nothing
    // else, the most common record after the plain ones: passed over, as
    // its node needs nothing of it but the link the survey resolved. False,
    // with nothing taken, for any other record.
    [[gnu::always_inline]] bool TakeBareBuiltinCall() {
        uint16_t flags;
        std::memcpy(&flags, next, sizeof flags);
        if (flags != kRecordLinkValue || next[2] != static_cast<uint8_t>(Opcode::INTERNALCALL)) return false;
        next += 3 + sizeof(uint64_t);
        return true;
    }

private:
    template <typename T>
    void Take(T& value) {
        std::memcpy(&value, next, sizeof(T));
        next += sizeof(T);
    }
    void TakeText(std::string_view& text) {
        uint32_t n;
        Take(n);
        text = std::string_view(reinterpret_cast<const char*>(next), n - 1);
        next += n - 1;
    }

    const uint8_t* next;
    const uint8_t* end;
};

// A procedure header text: kind byte, "_" or blank, count + 32, a blank or
// the force-link mark, then the procedure key.
struct ProcedureHeader {
    uint8_t kind;
    bool underscore;
    uint8_t countByte;
    std::string_view name;
};

std::optional<ProcedureHeader> ParseProcedureHeader(std::string_view text) {
    if (text.size() <= kProcHeaderKeyOffset || static_cast<uint8_t>(text[2]) < 0x20) return std::nullopt;
    return ProcedureHeader{static_cast<uint8_t>(text[0]), text[1] == '_', static_cast<uint8_t>(text[2] - 0x20),
                           text.substr(kProcHeaderKeyOffset)};
}

// The nodes of a file by their identities. The writer numbers nodes by their
// places in the list, so identities are mostly small: a bit per number says
// which are taken, and a node's slot is the count of taken numbers below its
// own (a count per 64 numbers, the rest counted in one word). Any other
// numbering falls back to maps. Identities of data records are known (no
// identity may be given twice) but lead nowhere: no node stands for a data
// record.
class IdentityTable {
public:
    // False when an identity is 0 or given twice.
    bool Take(const std::vector<uint32_t>& nodeIds, const std::vector<uint32_t>& dataIds, size_t recordCount) {
        uint32_t largest = 0;
        for (const std::vector<uint32_t>* ids : {&nodeIds, &dataIds})
            for (uint32_t identity : *ids) {
                if (identity == 0) return false;
                largest = std::max(largest, identity);
            }
        dense = largest <= 4 * recordCount + 64;
        if (!dense) {
            for (const std::vector<uint32_t>* ids : {&nodeIds, &dataIds}) {
                const uint8_t kind = ids == &nodeIds ? kNode : kData;
                for (uint32_t identity : *ids)
                    if (!sparse.emplace(identity, kind).second) return false;
            }
            return true;
        }
        const size_t words = size_t{largest} / 64 + 1;
        nodeBits.assign(words, 0);
        std::vector<uint64_t> dataBits(words, 0);
        for (const std::vector<uint32_t>* ids : {&nodeIds, &dataIds}) {
            std::vector<uint64_t>& bits = ids == &nodeIds ? nodeBits : dataBits;
            for (uint32_t identity : *ids) {
                const uint64_t bit = uint64_t{1} << (identity % 64);
                if ((nodeBits[identity / 64] | dataBits[identity / 64]) & bit) return false;
                bits[identity / 64] |= bit;
            }
        }
        ranks.resize(words);
        uint32_t below = 0;
        for (size_t w = 0; w < words; ++w) {
            ranks[w] = below;
            below += CountBits(nodeBits[w]);
        }
        nodes.assign(below, nullptr);
        return true;
    }

    // Whether a node (or the place of a record that makes none) has it.
    bool Contains(uint32_t identity) const {
        if (dense) return identity / 64 < nodeBits.size() && (nodeBits[identity / 64] >> (identity % 64)) & 1;
        const auto found = sparse.find(identity);
        return found != sparse.end() && found->second == kNode;
    }
    // Set and At only for an identity Contains answers true for; At answers
    // null while its node is not placed yet.
    void Set(uint32_t identity, Instruction* node) {
        if (dense) nodes[SlotOf(identity)] = node;
        else sparseNodes[identity] = node;
    }
    Instruction* At(uint32_t identity) const {
        if (dense) return nodes[SlotOf(identity)];
        const auto found = sparseNodes.find(identity);
        return found == sparseNodes.end() ? nullptr : found->second;
    }

private:
    static constexpr uint8_t kNode = 1;
    static constexpr uint8_t kData = 2;

    // The set bits of a word, counted inline: built for any x86-64, the
    // library's count is a call, and every jump placed asks for one.
    static uint32_t CountBits(uint64_t word) {
        word -= (word >> 1) & 0x5555555555555555ull;
        word = (word & 0x3333333333333333ull) + ((word >> 2) & 0x3333333333333333ull);
        word = (word + (word >> 4)) & 0x0F0F0F0F0F0F0F0Full;
        return static_cast<uint32_t>((word * 0x0101010101010101ull) >> 56);
    }

    size_t SlotOf(uint32_t identity) const {
        const uint64_t below = nodeBits[identity / 64] & ((uint64_t{1} << (identity % 64)) - 1);
        return ranks[identity / 64] + CountBits(below);
    }

    bool dense = true;
    std::vector<uint64_t> nodeBits;  // the taken numbers
    std::vector<uint32_t> ranks;     // taken numbers below each word's first
    std::vector<Instruction*> nodes;
    std::unordered_map<uint32_t, uint8_t> sparse;
    std::unordered_map<uint32_t, Instruction*> sparseNodes;
};

// The latest table position of each procedure name, in one open-addressed
// array of slots (a name's hash and the position): a name indexed takes no
// block of its own, and a lookup hashes the key once.
class NameIndex {
public:
    void Reserve(size_t names) {
        size_t size = 16;
        while (size < 2 * names) size *= 2;
        if (size > slots.size()) Rehash(size);
    }

    // The latest position of the key; -1 when none has it.
    int32_t Latest(std::string_view key, ProcedureRecord* const* table) const {
        if (slots.empty()) return -1;
        return slots[Find(key, HashName(key.data(), key.size()), table)].position;
    }

    // Makes the position the latest of its name; answers the one before (-1: none).
    int32_t Replace(const char* name, int32_t position, ProcedureRecord* const* table) {
        if (2 * (used + 1) > slots.size()) Rehash(std::max<size_t>(16, 2 * slots.size()));
        const std::string_view key(name);
        const uint32_t hash = HashName(key.data(), key.size());
        Slot& slot = slots[Find(key, hash, table)];
        const int32_t previous = slot.position;
        if (previous < 0) ++used;
        slot = {hash, position};
        return previous;
    }

    void Clear() {
        std::fill(slots.begin(), slots.end(), Slot{});
        used = 0;
    }

private:
    struct Slot {
        uint32_t hash = 0;
        int32_t position = -1;  // -1: empty
    };

    // The slot of the key, or the empty one where it would go.
    size_t Find(std::string_view key, uint32_t hash, ProcedureRecord* const* table) const {
        const size_t mask = slots.size() - 1;
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            const Slot& slot = slots[i];
            if (slot.position < 0) return i;
            if (slot.hash != hash) continue;
            const char* name = table[slot.position]->name;
            if (std::strncmp(name, key.data(), key.size()) == 0 && name[key.size()] == '\0') return i;
        }
    }

    void Rehash(size_t size) {
        std::vector<Slot> old(size);
        old.swap(slots);
        const size_t mask = size - 1;
        for (const Slot& slot : old) {
            if (slot.position < 0) continue;
            size_t i = slot.hash & mask;
            while (slots[i].position >= 0) i = (i + 1) & mask;
            slots[i] = slot;
        }
    }

    std::vector<Slot> slots;  // a power of two of them, at most half taken
    size_t used = 0;
};

// The nodes and side records of a load, taken front to back from the pool's
// current block without a call per allocation: the block's used bytes and
// live count are brought up to date when the run is closed (and before a new
// block is taken), so that the pool sees what PoolAllocZeroed would have
// left. Nothing else may allocate from the pool while the run is open.
class PoolRun {
public:
    explicit PoolRun(Pool* pool) : pool(pool) { Open(); }
    PoolRun(const PoolRun&) = delete;
    PoolRun& operator=(const PoolRun&) = delete;
    ~PoolRun() { Close(); }

    // Zeroed room for a T (its size a multiple of 8), or null when no block
    // can be made.
    template <typename T>
    [[gnu::always_inline]] T* Take() {
        static_assert(sizeof(T) % 8 == 0 && sizeof(T) <= UINT32_MAX);
        if (static_cast<size_t>(end - at) >= sizeof(T)) [[likely]] {
            uint8_t* taken = at;
            at += sizeof(T);
            ++made;
            lastSize = sizeof(T);
            return reinterpret_cast<T*>(taken);
        }
        return static_cast<T*>(Refill(sizeof(T)));
    }

    // The side record of a node, made here when it has none.
    [[gnu::always_inline]] InstructionExtra* Extra(Instruction* node) {
        if (node->extra) return node->extra;
        node->extra = Take<InstructionExtra>();
        if (node->extra) ++InstructionExtrasMade;
        return node->extra;
    }

    void Close() {
        if (!block) return;
        block->used = static_cast<uint32_t>(at - block->memory);
        block->count += made;
        if (made) LastPoolRequest = lastSize;
        made = 0;
        block = nullptr;
        at = end = nullptr;
    }

private:
    void Open() {
        block = pool->current;
        if (!block || !block->memory) {
            block = nullptr;
            return;
        }
        at = block->memory + block->used;
        end = block->memory + block->size;
    }

    // The block is full (or there is none): the pool makes the next one.
    [[gnu::noinline]] void* Refill(uint32_t size) {
        Close();
        void* taken = PoolAllocZeroed(pool, size);
        Open();
        return taken;
    }

    Pool* const pool;
    PoolBlock* block = nullptr;
    uint8_t* at = nullptr;
    uint8_t* end = nullptr;
    uint32_t made = 0;
    uint32_t lastSize = 0;
};

class ProgramLoader {
public:
    ProgramLoader(const char* name, ProgramContext* context, ProcedureRecord** table, int32_t& count)
        : name(name), context(context), table(table), count(count), initialCount(count),
          initialClasses(context->classRecords) {}

    // The image's bytes become the texts of the nodes built (each moved one
    // byte down over its length word, to make room for its terminator): on
    // success the caller keeps them as long as the nodes.
    Instruction* Load(std::span<uint8_t> image, bool& isWinMain) {
        std::string reason;
        body = image.subspan(std::min(image.size(), kCompiledHeaderSize));
        // A large program's nodes fill fresh memory, which the kernel zeroes
        // page by page as they are first written: the room they will take is
        // made now and faulted in on a helper thread while the survey reads
        // the image, as far as the node records it has counted so far need.
        std::optional<platform::BackgroundPrefault> faulting;
        if (const uint64_t room = uint64_t{body.size()} * kRoomPerImageByte; room >= kPrefaultedRoom) {
            const PoolRoom made = PreparePoolRoom(context->pool, room);
            if (made.start) faulting.emplace(made.start, made.length);
        }
        prefault = faulting ? &*faulting : nullptr;
        if (!CheckHeader(image, reason) || !Survey(reason)) {
            ReportRefusedFile(name, reason);
            return nullptr;
        }
        ShowHeaderWarnings(image);
        Declare();
        if (!CheckLinks(reason)) {
            ReportRefusedFile(name, reason);
            return nullptr;
        }
        Pool* savedPool = CurrentCompilerPool;
        CurrentCompilerPool = context->pool;
        AllowPrefault();
        latestByName.Reserve(static_cast<size_t>(count) + procedureStarts);
        previousWithName.reserve(static_cast<size_t>(count) + procedureStarts);
        const bool built = Build();
        CurrentCompilerPool = savedPool;
        if (!built) {
            RollBack();
            ReportRefusedFile(name, "not enough memory to rebuild it");
            return nullptr;
        }
        LinkAll();
        if (!entry && count == initialCount) entry = first;
        context->entry = entry;
        context->entryIsWinMain = entryIsWinMain;
        isWinMain = entryIsWinMain;
        return first;
    }

private:
    // Nodes and side records of a program take about this many bytes per
    // byte of its image (a record of a dozen bytes makes a node and, one in
    // four or five, a side record); below kPrefaultedRoom the memory is not
    // worth a helper thread.
    static constexpr uint64_t kRoomPerImageByte = 8;
    static constexpr uint64_t kPrefaultedRoom = uint64_t{4} << 20;
    static constexpr size_t kBytesPerNodeRecord = sizeof(Instruction) + sizeof(InstructionExtra) / 4;

    // The node records counted so far may be faulted in.
    void AllowPrefault() {
        if (prefault) prefault->Allow((nodeRecords + procedureStarts) * kBytesPerNodeRecord);
    }

    bool CheckHeader(std::span<const uint8_t> image, std::string& reason) {
        if (image.size() < kCompiledHeaderSize) return reason = "its header is cut off", false;
        if (image[5] != kCompiledFormatVersion)
            return reason = "format version " + std::to_string(image[5]) + ", not " +
                            std::to_string(kCompiledFormatVersion), false;
        return true;
    }

    void ShowHeaderWarnings(std::span<const uint8_t> image) {
        const auto major = static_cast<int8_t>(image[0]);
        const auto minor = static_cast<int8_t>(image[1]);
        const auto release = static_cast<int8_t>(image[2]);
        if (image[4] != 1) {
            ShowFileMessage("2. This program was built on a different platform, it might not work properly!");
        } else if (major == kVersionMajor && minor == kVersionMinor && release > kVersionRelease) {
            ShowFileMessage("3. The version of this runtime is older, the program might not work properly!");
        } else if (major == kVersionMajor && minor > kVersionMinor) {
            ShowFileMessage("4. The version of this runtime is older, the program might not work properly!");
        } else if (major > kVersionMajor) {
            ShowFileMessage("5. The version of this runtime is older, the program might not work properly!");
        }
        if (image[3] > kCompiledFeatureLevel)
            ShowFileMessage("6. The runtime might not support all the features used by this program, the program "
                            "might not work properly!");
    }

    // One pass over the records checks each one and the groups they form,
    // keeping only what the later steps ask for, so no copy of the records
    // is held. A record that cannot be read is reported before any fault of
    // the structure; of those, an identity given twice comes first, then the
    // earliest record's fault (a jump's target is checked first in its record).
    bool Survey(std::string& reason) {
        ImageReader in(body);
        size_t index = 0;
        ProgressReport progress;
        // Room for more entries than these lists ever take: a list that grows
        // copies itself onto fresh memory, while room never written costs
        // nothing.
        const size_t room = body.size() / 16;
        for (auto* ids : {&nodeIds, &dataIds}) ids->reserve(room);
        targets.reserve(room);
        links.reserve(room);
        int64_t quietUntil = 0;
        size_t at = 0;
        while (!in.AtEnd()) {
            if (owed == 0 && !fault) {
                index = SurveyNodes(in, index, progress, quietUntil);
                AllowPrefault();
                if (in.AtEnd()) break;
            }
            at = in.Position();
            FileRecord record;
            if (!ReadRecord(in, opcodeTraits, record, reason)) return false;
            CheckRecord(record, index, static_cast<uint32_t>(at));
            ++index;
            at = in.Position();
            if (static_cast<int64_t>(at) >= quietUntil) {
                progress.At(static_cast<int32_t>(at), static_cast<int32_t>(body.size()));
                quietUntil = progress.QuietUntil();
            }
        }
        if (owed > 0) Fail(owingRecord, "a declaration is cut off");
        if (!identities.Take(nodeIds, dataIds, index)) return reason = "a node identity is given twice", false;
        for (const auto& [recordIndex, target] : targets) {
            if (recordIndex > faultIndex) break;
            if (!identities.Contains(target)) return reason = "a jump to a node that is not in the file", false;
        }
        if (fault) return reason = *fault, false;
        if (!nodeBefore) return reason = "it holds no instructions", false;
        // The jumps are made again by Build, no more of them than were seen
        // here; the survey's own lists are done with.
        pendingTargets.reserve(targets.size());
        std::vector<std::pair<uint32_t, uint32_t>>().swap(targets);
        std::vector<uint32_t>().swap(nodeIds);
        std::vector<uint32_t>().swap(dataIds);
        return true;
    }

    // The node records that TakeNode passes, one after the other from the
    // reader's place: what CheckRecord does for each of them, with nothing of
    // its state to change between them but the lists. The reader is copied
    // for the run, so that the stores into the lists cannot change it as far
    // as the compiler knows. Gives the index of the first record after them.
    size_t SurveyNodes(ImageReader& reader, size_t index, ProgressReport& progress, int64_t& quietFrom) {
        ImageReader in = reader;
        int64_t quietUntil = quietFrom;
        const OpcodeTraitTable& traits = opcodeTraits;
        const NodeFlagRules& rules = nodeFlagRules;
        const size_t first = index;
        ImageReader::NodeFields node;
        while (in.TakeNode(traits, rules, node)) {
            if (node.flags & kRecordIdentity) nodeIds.push_back(node.ownId);
            if (node.flags & kRecordTarget) targets.emplace_back(static_cast<uint32_t>(index), node.targetId);
            if (node.traits & (kInternalOpcode | kNativeOpcode)) {
                Link link;
                link.call = {LinkHashOf(node.linkBits), (node.traits & kInternalOpcode) != 0};
                links.push_back(link);
            }
            ++index;
            const size_t at = in.Position();
            if (static_cast<int64_t>(at) >= quietUntil) [[unlikely]] {
                progress.At(static_cast<int32_t>(at), static_cast<int32_t>(body.size()));
                quietUntil = progress.QuietUntil();
            }
        }
        reader = in;
        quietFrom = quietUntil;
        if (index != first) {
            nodeBefore = true;
            nodeRecords += index - first;
        }
        return index;
    }

    void Fail(size_t index, std::string what) {
        if (fault) return;
        fault = std::move(what);
        faultIndex = index;
    }

    // The checks of one record in file order; the data records of a
    // declaration or class are checked only for being data records.
    void CheckRecord(const FileRecord& record, size_t index, uint32_t at) {
        if (record.Has(kRecordIdentity)) (owed > 0 ? dataIds : nodeIds).push_back(record.ownId);
        if (owed > 0) {
            if (record.opcode != 0) Fail(owingRecord, "a declaration is cut off");
            if (--owed == 0 && owingJumpedInto) Fail(owingRecord, "a jump to a declaration");
            return;
        }
        if (fault) return;
        const uint32_t opcode = record.opcode;
        const uint16_t traits = opcodeTraits[opcode];
        if (record.Has(kRecordTarget)) targets.emplace_back(static_cast<uint32_t>(index), record.targetId);
        if (record.Has(kRecordOwnMethodCall) && !Is(opcode, Opcode::SELFCALL))
            return Fail(index, "an own-method mark on another node");
        if (traits & kSkippedOpcode) {
            const bool declaration = opcode != kClassOpcode;
            if (declaration) declarations.push_back(at);
            owed = declaration ? kDeclarationDataRecords : 1;
            owingRecord = index;
            owingJumpedInto = record.Has(kRecordIdentity) && !nodeBefore;
            return;
        }
        const bool start = traits & kStartOpcode;
        const bool forward = traits & kForwardOpcode;
        if ((start || forward) && !ParseProcedureHeader(record.TextOrEmpty()))
            return Fail(index, "a damaged procedure header");
        if (forward) {
            if (record.Has(kRecordIdentity) && !nodeBefore) Fail(index, "a jump to a declaration");
            return;
        }
        nodeBefore = true;
        ++nodeRecords;
        if (start && ++procedureStarts + static_cast<size_t>(initialCount) > kMaxProcedures)
            return Fail(index, "too many procedures");
        if ((traits & kSecondTextOpcode) && !record.Has(kRecordSecondText))
            return Fail(index, "a push without its second text");
        const bool internalCall = traits & kInternalOpcode;
        const bool needsLink = traits & (kInternalOpcode | kNativeOpcode | kConstantOpcode);
        if (needsLink && !record.Has(kRecordLinkValue)) return Fail(index, "a call without its link value");
        if (!needsLink && !(traits & kHandledOpcode))
            return Fail(index, "a node of opcode " + std::to_string(opcode) + " that has no handler");
        if (traits & (kInternalOpcode | kNativeOpcode)) {
            Link& link = links.emplace_back();
            link.call = {record.LinkHash(), internalCall};
        }
    }

    // Native functions are declared (and, with immediate linking, linked) as
    // the file names them; their calls are checked against the table after.
    void Declare() {
        const bool savedLinking = ImmediateLinking;
        ImmediateLinking = true;
        for (uint32_t at : declarations) {
            CheckedImage in(body, at);
            const FileRecord declaration = in.NextRecord();
            FileRecord data[kDeclarationDataRecords];
            for (FileRecord& record : data) record = in.NextRecord();
            DeclareDllFunction(declaration.TextOrEmpty(), data[0].TextOrEmpty(), data[1].TextOrEmpty(),
                               DeclaredArgumentCount(data[2].number), data[3].number != 0.0, data[4].number != 0.0,
                               data[5].number != 0.0);
        }
        ImmediateLinking = savedLinking;
    }

    // The table positions found here are the ones the nodes take. A program
    // calls few distinct functions many times: the latest lookups are kept
    // by hash.
    bool CheckLinks(std::string& reason) {
        struct Known {
            uint32_t hash = 0;
            int index = -1;
            const FunctionRecord* function = nullptr;
        };
        std::array<Known, 256> known{};
        for (Link& link : links) {
            const auto call = link.call;
            Known& slot = known[(call.hash ^ (call.hash >> 8) ^ (call.hash >> 16)) & 0xFF];
            if (slot.index < 0 || slot.hash != call.hash) {
                const int found = FindFunctionByHash(call.hash);
                slot = {call.hash, found, FunctionRecordAt(found)};
            }
            const FunctionRecord* function = slot.function;
            if (call.internal) {
                if (!function || !function->handler) return reason = "a call of an unknown built-in", false;
                link.handler = function->handler;
            } else {
                if (!function || !function->declaredNative)
                    return reason = "a call of an undeclared native function", false;
                link.index = slot.index;
            }
        }
        return true;
    }

    bool Build() {
        extrasBefore = InstructionExtrasMade;
        ExpectPoolBytes(context->pool, nodeRecords * sizeof(Instruction));
        PoolRun nodes(context->pool);
        run = &nodes;
        const bool built = BuildRecords();
        run = nullptr;
        return built;
    }

    bool BuildRecords() {
        CheckedImage in(body);
        while (!in.AtEnd()) {
            CheckedImage::PlainNode plain;
            if (in.TakePlainNode(opcodeTraits, plain)) [[likely]] {
                if (!BuildPlainNode(plain)) return false;
                continue;
            }
            if (in.TakeBareBuiltinCall()) {
                if (!BuildBareBuiltinCall()) return false;
                continue;
            }
            const FileRecord record = in.NextRecord();
            if (!(opcodeTraits[record.opcode] & (kSkippedOpcode | kForwardOpcode))) [[likely]] {
                if (!BuildNode(record)) return false;
            } else if (IsDeclaration(record.opcode)) {
                for (int i = 0; i < kDeclarationDataRecords; ++i) (void)in.NextRecord();
                RememberSkipped(record);
            } else if (record.opcode == kClassOpcode) {
                if (!AddClass(record, in.NextRecord())) return false;
                RememberSkipped(record);
            } else if (Is(record.opcode, Opcode::FORWARDPROC)) {
                if (!AddForward(record)) return false;
                RememberSkipped(record);
            }
        }
        return first != nullptr;
    }

    // A record that makes no node: a jump to it goes on after the node built
    // before it, which is where it would have gone on.
    void RememberSkipped(const FileRecord& record) {
        if (record.Has(kRecordIdentity)) Place(record.ownId, last);
    }

    // A text of the image made a node's: its characters move one byte down,
    // over the last byte of the length word already read, and the terminator
    // follows them. Nothing read later lies there. With a hash, it answers
    // the text's HashName, taken in the same pass.
    char* EndTextInPlace(std::string_view text, uint32_t* hash) {
        const size_t length = text.size();
        char* const to = const_cast<char*>(text.data()) - 1;
        if (!hash || length > 32) {
            std::memmove(to, text.data(), length);
            if (hash) *hash = HashName(to, length);
        } else {
            // Each byte is read before the byte after it is written over.
            uint32_t h = 0;
            for (size_t i = 0; i < length; ++i) {
                const char c = to[i + 1];
                to[i] = c;
                h = h * 65599u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(c)));
            }
            *hash = h & 0x7FFFFFFFu;
        }
        to[length] = '\0';
        return to;
    }

    // A node after the last one built, made as AppendInstruction makes it,
    // from the run.
    [[gnu::always_inline]] Instruction* Append(Handler handler, double operand, uint32_t opcode,
                                               uint32_t namespaceHash) {
        Instruction* node = run->Take<Instruction>();
        if (!node) return nullptr;
        node->handler = handler;
        node->operand = operand;
        node->opcode = opcode;
        if (namespaceHash)
            if (InstructionExtra* extra = run->Extra(node)) extra->namespaceHash = namespaceHash;
        if (last) {
            node->previous = last;
            last->next = node;
        } else {
            first = node;
        }
        last = node;
        return node;
    }

    // Makes node jump to target as SetFirstJumpTarget does, their side
    // records made from the run (in the order it makes them) so that it
    // makes none from the pool.
    void LinkJump(Instruction* node, Instruction* target) {
        if (!target) return;
        if (run->Extra(node) && run->Extra(target)) SetFirstJumpTarget(context->pool, node, target);
    }

    // What BuildNode does for such a record.
    bool BuildPlainNode(const CheckedImage::PlainNode& record) {
        Instruction* node = Append(opcodeHandlers[record.opcode], record.number, record.opcode, record.namespaceWord);
        if (!node) return false;
        node->extraWord = record.extraWord;
        if (record.hasText) {
            node->text = EndTextInPlace(record.text, &node->textHash);
            textBytes += static_cast<uint32_t>(record.text.size() + 1);
        }
        if (opcodeTraits[record.opcode] & kByNameOpcode) linkedByName.push_back(node);
        ++nodeCount;
        return true;
    }

    // What BuildNode does for a built-in call with no field but its link.
    bool BuildBareBuiltinCall() {
        Instruction* node = Append(links[nextLink++].handler, 0.0, static_cast<uint32_t>(Opcode::INTERNALCALL), 0);
        if (!node) return false;
        ++nodeCount;
        return true;
    }

    bool BuildNode(const FileRecord& record) {
        uint32_t opcode = record.opcode;
        const uint16_t traits = opcodeTraits[opcode];
        Handler own;
        double operand = record.number;
        bool hasText = record.Has(kRecordText);
        const char* second = nullptr;
        if (traits & kPlainOpcode) [[likely]] {
            own = opcodeHandlers[opcode];
        } else {
            if (traits & kStartOpcode) {
                const uint8_t kind = ParseProcedureHeader(record.TextOrEmpty())->kind;
                const bool undefinedStart = kind == 0xEA || kind == 0xC4;
                opcode = static_cast<uint32_t>(undefinedStart ? Opcode::STARTPROCUNDEF : Opcode::STARTPROC);
            }
            own = opcodeHandlers[opcode];
            hasText = hasText && !(traits & (kNativeOpcode | kConstantOpcode));
            if (traits & kInternalOpcode) own = links[nextLink++].handler;
            if (traits & kNativeOpcode) operand = links[nextLink++].index;
            if (traits & kSecondTextOpcode) {
                second = EndTextInPlace(record.secondText, nullptr);
                operand = static_cast<double>(reinterpret_cast<uintptr_t>(second));
            }
        }
        if (record.Has(kRecordOwnMethodCall)) own = CallOwnMethod;
        Instruction* node = Append(own, operand, opcode, record.namespaceWord);
        if (!node) return false;
        node->extraWord = record.extraWord;
        if (hasText) node->text = EndTextInPlace(record.text, &node->textHash);
        if (traits & kConstantOpcode) {
            // The constant's eight bytes stay where the image holds them, as
            // the texts do: nothing read later lies there, and freeing a node
            // leaves what is not a block of its own alone.
            node->text = const_cast<char*>(reinterpret_cast<const char*>(record.link));
            node->textHash = 0;
            textBytes += sizeof(uint64_t);
        } else if (node->text) {
            textBytes += static_cast<uint32_t>(record.text.size() + 1);
        }
        if (record.Has(kRecordFusedStep)) {
            node->secondHandler = own;
            node->handler = FusedStepHandler(record.fusedOpcode);
        }
        const bool start = traits & kStartOpcode;
        if (record.flagByte || record.Has(kRecordIdentity) || start) {
            InstructionExtra* extra = run->Extra(node);
            if (!extra) return false;
            extra->flagByte = record.flagByte;
            if (record.Has(kRecordIdentity)) extra->isJumpTarget = 1;
        }
        if (record.Has(kRecordIdentity)) Place(record.ownId, node);
        if (record.Has(kRecordTarget)) Jump(node, record.targetId);
        if (traits & kByNameOpcode) linkedByName.push_back(node);
        ++nodeCount;
        // The survey found every start's header sound.
        if (start)
            return StartProcedure(node, *ParseProcedureHeader({node->text, record.text.size()}), record.namespaceWord);
        return true;
    }

    // Jumps are linked while their nodes are fresh in the cache: a jump back
    // at once, a jump forward when its target is placed. Jumps forward that
    // pile up (the nodes between are many) wait for the end of the load.
    static constexpr size_t kMaxWaitingJumps = 64;

    void Jump(Instruction* node, uint32_t target) {
        if (Instruction* placed = identities.At(target)) {
            LinkJump(node, placed);
        } else if (waitingJumps.size() < kMaxWaitingJumps) {
            waitingJumps.emplace_back(node, target);
        } else {
            pendingTargets.emplace_back(node, target);
        }
    }

    void Place(uint32_t identity, Instruction* node) {
        identities.Set(identity, node);
        for (size_t i = 0; i < waitingJumps.size();) {
            if (waitingJumps[i].second != identity) {
                ++i;
                continue;
            }
            LinkJump(waitingJumps[i].first, node);
            waitingJumps[i] = waitingJumps.back();
            waitingJumps.pop_back();
        }
    }

    bool StartProcedure(Instruction* node, const ProcedureHeader& header, uint32_t namespaceWord) {
        const bool undefinedStart = header.kind == 0xEA || header.kind == 0xC4;
        const bool counted = header.kind == 0xEC || header.kind == 0xC4;
        ProcedureRecord* procedure = FindRecord(header.name, namespaceWord);
        if (!procedure) {
            procedure = AddRecord(header.name, namespaceWord, header.underscore);
            if (!procedure) return false;
            procedure->undefinedStart = undefinedStart;
            procedure->countByte = counted ? header.countByte : 0;
        }
        procedure->start = node;
        node->operand = procedure->countByte;
        node->extraWord = procedure->undefinedStart;
        node->extra->isJumpTarget = 1;
        if (header.name == "MAIN" && procedure->countByte == 0) {
            entry = node;
            entryIsWinMain = false;
        } else if (header.name == "WINMAIN" && procedure->countByte != 0) {
            entry = node;
            entryIsWinMain = true;
        }
        return true;
    }

    bool AddForward(const FileRecord& record) {
        const ProcedureHeader header = *ParseProcedureHeader(record.TextOrEmpty());
        ProcedureRecord* procedure = AddRecord(header.name, record.namespaceWord, header.underscore);
        if (!procedure) return false;
        procedure->undefinedStart = header.kind == 0xEB || header.kind == 0xEF;
        procedure->countByte = header.kind == 0xE7 || header.kind == 0xEF ? header.countByte : 0;
        return true;
    }

    // The class record's text is its base class (empty for none); the data
    // record after it names the class.
    bool AddClass(const FileRecord& record, const FileRecord& nameRecord) {
        auto* added = static_cast<ClassRecord*>(platform::AllocateZeroedBlock(sizeof(ClassRecord)));
        if (!added) return false;
        const std::string_view className = nameRecord.TextOrEmpty();
        const std::string_view baseName = record.TextOrEmpty();
        added->name = CopyToBlock(className);
        added->nameHash = HashName(className.data(), className.size());
        if (!baseName.empty()) {
            added->baseName = CopyToBlock(baseName);
            added->baseHash = HashName(baseName.data(), baseName.size());
        }
        added->next = context->classRecords;
        context->classRecords = added;
        return added->name && (baseName.empty() || added->baseName);
    }

    // The latest record of that key whose namespace is the node's or global.
    // Every procedure start and call asks, so the table is indexed by name.
    ProcedureRecord* FindRecord(std::string_view key, uint32_t namespaceWord) {
        IndexRecordsUpTo(count);
        for (int32_t i = latestByName.Latest(key, table); i >= 0; i = previousWithName[i]) {
            ProcedureRecord* record = table[i];
            if (record->namespaceHash == 0 || record->namespaceHash == namespaceWord) return record;
        }
        return nullptr;
    }

    void IndexRecordsUpTo(int32_t end) {
        for (; indexedCount < end; ++indexedCount) {
            int32_t previous = -1;
            if (const ProcedureRecord* record = table[indexedCount]; record && record->name)
                previous = latestByName.Replace(record->name, indexedCount, table);
            previousWithName.push_back(previous);
        }
    }

    ProcedureRecord* AddRecord(std::string_view key, uint32_t namespaceWord, bool underscore) {
        if (count >= kMaxProcedures) return nullptr;
        auto* record = static_cast<ProcedureRecord*>(platform::AllocateZeroedBlock(sizeof(ProcedureRecord)));
        if (!record) return nullptr;
        record->name = CopyToBlock(key);
        if (!record->name) {
            platform::FreeBlock(record);
            return nullptr;
        }
        record->underscore = underscore;
        record->namespaceHash = namespaceWord;
        table[count++] = record;
        return record;
    }

    Instruction* StartOf(const Instruction* node) {
        if (!node->text) return nullptr;
        std::string_view key = node->text;
        if (!key.empty() && key[0] == '&') key.remove_prefix(1);
        const ProcedureRecord* record = FindRecord(key, node->extra ? node->extra->namespaceHash : 0);
        return record ? record->start : nullptr;
    }

    // Jumps by identity; calls without one and procedure addresses by name.
    // The program is sized from what Build counted and the side records the
    // links add, without a walk over the whole list (which would fetch every
    // node from memory once more).
    void LinkAll() {
        for (const auto* jumps : {&waitingJumps, &pendingTargets})
            for (auto [node, identity] : *jumps) SetFirstJumpTarget(context->pool, node, identities.At(identity));
        for (Instruction* node : linkedByName) LinkCall(node);
        const uint64_t extras = InstructionExtrasMade - extrasBefore;
        context->appSize = static_cast<uint32_t>(textBytes + nodeCount * sizeof(Instruction) +
                                                 extras * sizeof(InstructionExtra));
    }

    void LinkCall(Instruction* node) {
        const bool call = IsCall(node->opcode) && !JumpTarget(node);
        const bool address = Is(node->opcode, Opcode::PUSHPROCADDR) && node->operand == 0.0;
        if (!call && !address) return;
        Instruction* start = StartOf(node);
        if (!start) {
            const std::string message = std::string("Cannot resolve [") + (node->text ? node->text : "") + "] address";
            ReportCompileMessage(name, message, nullptr, -1, false);
            return;
        }
        if (call) SetFirstJumpTarget(context->pool, node, start);
        else node->operand = static_cast<double>(reinterpret_cast<uintptr_t>(start));
    }

    void RollBack() {
        if (last) DeleteInstructionChain(context, last);
        first = last = nullptr;
        for (int32_t i = initialCount; i < count; ++i) {
            platform::FreeBlock(table[i]->name);
            platform::FreeBlock(table[i]);
            table[i] = nullptr;
        }
        count = initialCount;
        latestByName.Clear();
        previousWithName.clear();
        indexedCount = 0;
        while (context->classRecords != initialClasses) {
            ClassRecord* added = context->classRecords;
            context->classRecords = added->next;
            platform::FreeBlock(added->name);
            platform::FreeBlock(added->baseName);
            platform::FreeBlock(added);
        }
    }

    // A call the function table must know, a built-in or a native function,
    // as the survey writes it; the link check writes over it what the node
    // takes: a built-in's handler, a native function's table position.
    union Link {
        struct {
            uint32_t hash;
            uint32_t internal;
        } call;
        Handler handler;
        int32_t index;
    };
    static_assert(sizeof(Link) == 8, "one link per call of a large program");

    const char* name;
    ProgramContext* context;
    ProcedureRecord** table;
    int32_t& count;
    const int32_t initialCount;
    ClassRecord* const initialClasses;
    const OpcodeTraitTable& opcodeTraits = OpcodeTraits();
    const NodeFlagRules& nodeFlagRules = NodeFlagRulesOfOpcodes();
    // What a built node of each opcode runs, by the byte a record carries.
    const std::array<Handler, 256> opcodeHandlers = [] {
        std::array<Handler, 256> handlers{};
        for (uint32_t opcode = 0; opcode < handlers.size(); ++opcode) handlers[opcode] = OpcodeHandler(opcode);
        return handlers;
    }();
    std::span<uint8_t> body;  // the records, after the header
    platform::BackgroundPrefault* prefault = nullptr;  // faulting the nodes' room in, while Load runs

    // What the survey keeps.
    std::optional<std::string> fault;  // the earliest fault of the structure
    size_t faultIndex = SIZE_MAX;      // its record
    size_t owed = 0;                   // data records a declaration or class still needs
    size_t owingRecord = 0;
    bool owingJumpedInto = false;      // it has an identity and no node comes before it
    bool nodeBefore = false;           // a record before this one makes a node
    size_t procedureStarts = 0;
    size_t nodeRecords = 0;            // records that make a node
    std::vector<uint32_t> nodeIds;
    std::vector<uint32_t> dataIds;
    std::vector<std::pair<uint32_t, uint32_t>> targets;  // record, identity it jumps to
    std::vector<uint32_t> declarations;                // where their records start
    std::vector<Link> links;  // in file order
    size_t nextLink = 0;

    IdentityTable identities;
    uint32_t textBytes = 0;  // blocks of the nodes' own texts
    uint32_t nodeCount = 0;
    uint64_t extrasBefore = 0;                  // the side-record count when Build began
    std::vector<Instruction*> linkedByName;    // calls and procedure addresses, in list order
    PoolRun* run = nullptr;                    // where Build takes nodes and side records from
    Instruction* first = nullptr;
    Instruction* last = nullptr;
    Instruction* entry = nullptr;
    bool entryIsWinMain = false;
    std::vector<std::pair<Instruction*, uint32_t>> waitingJumps;    // jumps forward, their targets not placed yet
    std::vector<std::pair<Instruction*, uint32_t>> pendingTargets;  // jumps linked at the end
    // Table positions by name: the latest, and for each the one before it.
    NameIndex latestByName;
    std::vector<int32_t> previousWithName;  // -1: none
    int32_t indexedCount = 0;  // table entries indexed so far
};

// A buffer of the process heap, not cleared when made. Freed, its pages go
// back to the allocator, where the program's own blocks take them over
// instead of faulting in fresh ones. A large buffer (a whole file, its
// decoded image) is filled at once: it starts on a huge-page boundary inside
// a block taken that much longer, advised for huge pages, so that filling it
// costs a fault per 2 MiB rather than one per 4 KiB page.
class HeapBuffer {
public:
    explicit HeapBuffer(size_t size) : size(size) {
        if (size < kLargeBuffer) {
            block = platform::AllocateBlock(size);
            bytes = static_cast<uint8_t*>(block);
            return;
        }
        constexpr size_t kMask = platform::kHugePageSize - 1;
        const size_t whole = (size + kMask) & ~kMask;
        block = platform::AllocateBlock(whole + platform::kHugePageSize);
        if (!block) return;
        bytes = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(block) + kMask) & ~uintptr_t{kMask});
        platform::AdviseHugePages(bytes, whole);
    }
    HeapBuffer(HeapBuffer&& other) noexcept
        : block(std::exchange(other.block, nullptr)), bytes(std::exchange(other.bytes, nullptr)), size(other.size) {}
    HeapBuffer& operator=(HeapBuffer&& other) noexcept {
        if (this != &other) {
            platform::FreeBlock(block);
            block = std::exchange(other.block, nullptr);
            bytes = std::exchange(other.bytes, nullptr);
            size = other.size;
        }
        return *this;
    }
    HeapBuffer(const HeapBuffer&) = delete;
    ~HeapBuffer() { platform::FreeBlock(block); }

    bool Made() const { return bytes != nullptr; }
    std::span<uint8_t> Bytes() { return {bytes, bytes ? size : 0}; }
    std::span<const uint8_t> Bytes() const { return {bytes, bytes ? size : 0}; }
    // The allocator's block, now the caller's to free; the buffer is empty.
    void* Release() {
        bytes = nullptr;
        return std::exchange(block, nullptr);
    }

private:
    static constexpr size_t kLargeBuffer = size_t{1} << 20;

    void* block = nullptr;     // the allocator's block
    uint8_t* bytes = nullptr;  // the buffer inside it
    size_t size;
};
using DecodedImage = HeapBuffer;

// Decoded images from this size on are faulted in ahead of the decoder (a
// large buffer starts on a huge page, as the helper needs).
constexpr size_t kPrefaultedImage = size_t{1} << 20;

// A whole file in one buffer read at once; none when it cannot be read.
std::optional<HeapBuffer> ReadWholeFile(const char* fileName) {
    std::FILE* file = platform::OpenFile(fileName, "rb");
    if (!file) return std::nullopt;
    struct stat info;
    std::optional<HeapBuffer> buffer;
    if (fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode)) {
        const auto size = static_cast<size_t>(info.st_size);
        buffer.emplace(size);
        // A file that changed size meanwhile is read no further: its length
        // field no longer fits and decoding refuses it.
        if (!buffer->Made() || std::fread(buffer->Bytes().data(), 1, size, file) != size) buffer.reset();
    }
    std::fclose(file);
    if (!buffer) {
        // Not a plain file, or it changed: read it the general way.
        const std::optional<std::string> bytes = platform::ReadFileBytes(fileName);
        if (!bytes) return std::nullopt;
        buffer.emplace(bytes->size());
        if (!buffer->Made()) return std::nullopt;
        std::memcpy(buffer->Bytes().data(), bytes->data(), bytes->size());
    }
    return buffer;
}

// Deciphers a whole file in place and decodes the image it carries.
std::optional<DecodedImage> DecodeInPlace(std::span<uint8_t> file) {
    if (file.size() < 5 || file.size() > INT32_MAX) return std::nullopt;
    CipherBytes(file.data(), static_cast<int32_t>(file.size()), kCompiledFileKey, true, 0);
    const size_t coded = file.size() - 4;
    uint32_t length = 0;
    for (int i = 0; i < 4; ++i) length |= static_cast<uint32_t>(file[coded + i]) << (8 * i);
    // Every coded byte takes at least one bit.
    if (length < kCompiledHeaderSize || length / 8 > coded) return std::nullopt;
    DecodedImage image(length);
    if (!image.Made()) return std::nullopt;
    // The decoder writes a large image front to back, a few bytes a step: a
    // helper thread faults its fresh pages in ahead of it.
    std::optional<platform::BackgroundPrefault> faulting;
    if (image.Bytes().size() >= kPrefaultedImage) {
        faulting.emplace(image.Bytes().data(), image.Bytes().size());
        faulting->Allow(image.Bytes().size());
    }
    if (!ShannonFanoUncompress(file.first(coded), image.Bytes()).Ok()) return std::nullopt;
    return image;
}

// The image IsCompiledFileCurrent decoded, kept for the load that follows
// while the file stays as it was.
struct DecodedFile {
    std::string path;
    int64_t writeTime = 0;
    int64_t size = 0;
    DecodedImage image;
};
std::optional<DecodedFile> gDecodedFile;

std::optional<DecodedFile> ReadAndDecode(const char* fileName, bool& readable) {
    readable = false;
    std::optional<HeapBuffer> bytes = ReadWholeFile(fileName);
    const std::optional<int64_t> writeTime = platform::GetFileWriteTime(fileName);
    if (!bytes || !writeTime) return std::nullopt;
    readable = true;
    const auto size = static_cast<int64_t>(bytes->Bytes().size());
    std::optional<DecodedImage> image = DecodeInPlace(bytes->Bytes());
    bytes.reset();  // before the nodes are made, which can take its pages
    if (!image) return std::nullopt;
    return DecodedFile{fileName, *writeTime, size, std::move(*image)};
}

// Builds the program of a decoded image in the context, which keeps the
// image as long as the nodes: their texts lie in it.
Instruction* LoadDecodedImage(DecodedImage& image, const char* name, ProgramContext* context,
                              ProcedureRecord** procedureTable, int32_t& procedureCount, bool& isWinMain) {
    auto* kept = static_cast<KeptImage*>(platform::AllocateBlock(sizeof(KeptImage)));
    if (!kept) {
        ReportRefusedFile(name, "not enough memory to rebuild it");
        return nullptr;
    }
    ProgramLoader loader(name, context, procedureTable, procedureCount);
    Instruction* first = loader.Load(image.Bytes(), isWinMain);
    if (!first) {
        platform::FreeBlock(kept);
        return nullptr;
    }
    *kept = {context->keptImages, image.Release()};
    context->keptImages = kept;
    return first;
}

bool IsKeptFor(const char* fileName) {
    if (!gDecodedFile || gDecodedFile->path != fileName) return false;
    return platform::GetFileWriteTime(fileName) == gDecodedFile->writeTime &&
           platform::GetFileSize(fileName) == gDecodedFile->size;
}

int CompareVersion(std::span<const uint8_t> image) {
    const int file[3] = {static_cast<int8_t>(image[0]), static_cast<int8_t>(image[1]), static_cast<int8_t>(image[2])};
    const int runtime[3] = {kVersionMajor, kVersionMinor, kVersionRelease};
    for (int i = 0; i < 3; ++i)
        if (file[i] != runtime[i]) return file[i] < runtime[i] ? -1 : 1;
    return 0;
}

}  // namespace

std::optional<std::vector<uint8_t>> EncodeCompiledImage(std::span<const uint8_t> image) {
    if (image.empty() || image.size() > INT32_MAX / 8) return std::nullopt;
    // The coder's bound is four times the image: a buffer left unfilled keeps
    // the pages the stream never reaches untouched, and the file copies what it wrote.
    const size_t bound = ShannonFanoCompressBound(image.size());
    const auto stream = std::make_unique_for_overwrite<uint8_t[]>(bound);
    const CoderResult result = ShannonFanoCompress(image, std::span(stream.get(), bound));
    if (!result.Ok() || result.length == 0) return std::nullopt;
    std::vector<uint8_t> file;
    file.reserve(result.length + 4);
    file.assign(stream.get(), stream.get() + result.length);
    const auto length = static_cast<uint32_t>(image.size());
    for (int i = 0; i < 4; ++i) file.push_back(static_cast<uint8_t>(length >> (8 * i)));
    CipherBytes(file.data(), static_cast<int32_t>(file.size()), kCompiledFileKey, false, 0);
    return file;
}

std::optional<std::vector<uint8_t>> DecodeCompiledImage(std::span<const uint8_t> fileBytes) {
    std::vector<uint8_t> file(fileBytes.begin(), fileBytes.end());
    const std::optional<DecodedImage> image = DecodeInPlace(file);
    if (!image) return std::nullopt;
    return std::vector<uint8_t>(image->Bytes().begin(), image->Bytes().end());
}

SaveStatus WriteCompiledFile(const char* fileName, const std::optional<std::vector<uint8_t>>& codedFile) {
    if (!codedFile) {
        (void)platform::DeleteFile(fileName);
        return SaveStatus::CompressionFailed;
    }
    const std::string_view bytes(reinterpret_cast<const char*>(codedFile->data()), codedFile->size());
    if (!platform::WriteFileBytes(fileName, bytes)) {
        (void)platform::DeleteFile(fileName);
        return SaveStatus::CannotWrite;
    }
    return SaveStatus::Saved;
}

void RememberListOrder(std::vector<Instruction*> nodes) { gRememberedOrder = std::move(nodes); }

SaveStatus SaveCompiledProgram(const char* fileName, Instruction* firstInstruction, Pool* pool) {
    UpdateStatusWindow(("Saving (" + FileNamePart(fileName) + ")...").c_str(), 0, 0);
    ProgramWriter writer(firstInstruction);
    if (!writer.Write()) {
        (void)platform::DeleteFile(fileName);
        return SaveStatus::Unrepresentable;
    }
    const std::optional<std::vector<uint8_t>> codedFile = EncodeCompiledImage(writer.Bytes());
    DeleteDeclarationNodes(writer.Declarations(), pool);
    return WriteCompiledFile(fileName, codedFile);
}

Instruction* LoadCompiledProgram(const char* fileName, ProgramContext* context, ProcedureRecord** procedureTable,
                                 int32_t& procedureCount, bool& isWinMain) {
    UpdateStatusWindow(("Loading (" + FileNamePart(fileName) + ")...").c_str(), 0, 0);
    std::optional<DecodedFile> decoded;
    if (IsKeptFor(fileName)) {
        decoded = std::move(gDecodedFile);
    } else {
        bool readable;
        decoded = ReadAndDecode(fileName, readable);
        if (!decoded) {
            if (readable) ReportRefusedFile(fileName, "it is damaged");
            return nullptr;
        }
    }
    gDecodedFile.reset();
    return LoadDecodedImage(decoded->image, fileName, context, procedureTable, procedureCount, isWinMain);
}

Instruction* LoadCompiledImage(std::span<const uint8_t> fileBytes, const char* name, ProgramContext* context,
                               ProcedureRecord** procedureTable, int32_t& procedureCount, bool& isWinMain) {
    std::vector<uint8_t> file(fileBytes.begin(), fileBytes.end());
    std::optional<DecodedImage> image = DecodeInPlace(file);
    if (!image) {
        ReportRefusedFile(name, "it is damaged");
        return nullptr;
    }
    return LoadDecodedImage(*image, name, context, procedureTable, procedureCount, isWinMain);
}

bool IsCompiledFileCurrent(const char* sourceName, const char* compiledName) {
    gDecodedFile.reset();
    if (IsCompiledFileName(sourceName)) return true;
    const std::optional<int64_t> compiledTime = platform::GetFileWriteTime(compiledName);
    const std::optional<int64_t> sourceTime = platform::GetFileWriteTime(sourceName);
    if (!compiledTime || !sourceTime || *sourceTime > *compiledTime) return false;
    // A runtime built after the file was written compiles its programs again.
    const std::optional<int64_t> runtimeTime = platform::GetFileWriteTime("/proc/self/exe");
    if (!runtimeTime || *runtimeTime >= *compiledTime) return false;
    bool readable;
    std::optional<DecodedFile> decoded = ReadAndDecode(compiledName, readable);
    if (!decoded) {
        if (readable) ReportRefusedFile(compiledName, "it is damaged");
        return false;
    }
    const std::span<const uint8_t> image = decoded->image.Bytes();
    if (image[5] != kCompiledFormatVersion) {
        ReportRefusedFile(compiledName, "format version " + std::to_string(image[5]) + ", not " +
                                            std::to_string(kCompiledFormatVersion));
        return false;
    }
    if (CompareVersion(image) < 0) return false;
    gDecodedFile = std::move(decoded);
    return true;
}

}  // namespace qob
