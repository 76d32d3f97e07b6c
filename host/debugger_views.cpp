// host/debugger_views.cpp
// The debugger's views. They read live machine state that a broken program
// may have damaged, so each runs under the fault guard and builds its items
// straight into the fixed reply buffer, keeping nothing that needs a
// destructor across code that may fault.

#include "host/debugger_views.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "host/command_line.h"
#include "host/debugger_link.h"
#include "host/driver.h"
#include "platform/faults.h"
#include "platform/memory.h"
#include "platform/text_codec.h"
#include "runtime/data/number_text.h"
#include "runtime/values/list_values.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"
#include "windows/window_records.h"

namespace qob {

// --- the reply ---------------------------------------------------------------------

void ViewReply::Clear() {
    size = 0;
    itemStart = 0;
    count = 0;
    full = false;
    overflow = false;
}

void ViewReply::BeginItem() {
    itemStart = size;
    overflow = full;
    AddRaw("\n");
}

void ViewReply::AddRaw(std::string_view text) {
    if (overflow) return;
    if (text.size() > kViewReplyCapacity - size) {
        overflow = true;
        return;
    }
    std::memcpy(buffer + size, text.data(), text.size());
    size += text.size();
}

void ViewReply::AddValueText(std::string_view text) {
    for (size_t i = 0; i < text.size() && !overflow; ++i) {
        char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            c = '\x01';
            ++i;
        } else if (c == '\n') {
            c = '\x01';
        }
        AddRaw(std::string_view(&c, 1));
    }
}

void ViewReply::AddNumber(double value) {
    char digits[kNumberTextSize];
    const size_t length = FormatNumber(value, digits);
    AddRaw(std::string_view(digits, length));
}

void ViewReply::AddAddress(const void* address) {
    char text[32];
    const int length = std::snprintf(text, sizeof text, "0x%08" PRIXPTR, reinterpret_cast<uintptr_t>(address));
    AddRaw(std::string_view(text, static_cast<size_t>(length)));
}

void ViewReply::EndItem() {
    if (full) return;
    if (overflow) {
        size = itemStart;
        full = true;
        return;
    }
    ++count;
}

namespace {

// --- frames the line hook saw -------------------------------------------------------

struct DebuggedFrame {
    ProgramContext* context;
    uint64_t contextId;          // tells a live context from a new one at the same address
    VariableRecord* frame;
    const char* procedureName;   // points into the procedure's header, which lives as long as the context
};

constexpr int kMaxDebuggedFrames = 1024;
DebuggedFrame gFrames[kMaxDebuggedFrames];
int gFrameCount = 0;

bool IsLiveFrame(const DebuggedFrame& entry) {
    return IsLiveContext(entry.context) && entry.context->uniqueId == entry.contextId;
}

// The address a handle token stands for ("0x..." as CALLSTACK shows it, or
// decimal); 0 for anything else.
uintptr_t HandleAddress(std::string_view handle) {
    char text[64];
    const size_t length = handle.size() < sizeof text - 1 ? handle.size() : sizeof text - 1;
    std::memcpy(text, handle.data(), length);
    text[length] = '\0';
    const double number = StringToNumber(text);
    if (ConversionFailedFlag || !(number > 0)) return 0;
    return static_cast<uintptr_t>(TruncToInt64(number));
}

// The frame of the current context whose handle the debugger sent, or null.
VariableRecord* FindDebuggedFrame(std::string_view handle) {
    const uintptr_t address = HandleAddress(handle);
    if (address == 0) return nullptr;
    for (int i = gFrameCount - 1; i >= 0; --i) {
        const DebuggedFrame& entry = gFrames[i];
        if (reinterpret_cast<uintptr_t>(entry.frame) == address && entry.context == CurrentContext && IsLiveFrame(entry))
            return entry.frame;
    }
    return nullptr;
}

// --- values -----------------------------------------------------------------------

constexpr int kMaxNesting = 8;          // members of members: objects may refer to each other
constexpr int kMaxReferenceSteps = 64;  // a reference chain longer than this is taken as a loop

const VariableRecord* FollowReferences(const VariableRecord* variable) {
    for (int i = 0; i < kMaxReferenceSteps && variable->reference; ++i) variable = variable->reference;
    return variable;
}

// A UTF-16 text as 8-bit text, a piece at a time (no allocation).
void AddWideText(ViewReply& reply, const uint16_t* text) {
    constexpr size_t kPiece = 256;
    size_t length = platform::WideTextLength(text);
    char out[kPiece * 4];
    while (length > 0 && !reply.IsFull()) {
        size_t take = length < kPiece ? length : kPiece;
        // A surrogate pair stays in one piece.
        if (take < length && text[take - 1] >= 0xD800 && text[take - 1] <= 0xDBFF) --take;
        const size_t bytes = platform::EncodeAnsi(std::span<const uint16_t>(text, take), std::span<char>(out, sizeof out));
        reply.AddValueText(std::string_view(out, bytes < sizeof out ? bytes : sizeof out));
        text += take;
        length -= take;
    }
}

// "0x<address>:"<text>"".
void AddTextValue(ViewReply& reply, const void* text, bool wide, size_t maxBytes = SIZE_MAX) {
    reply.AddAddress(text);
    reply.AddRaw(":\"");
    if (wide) {
        AddWideText(reply, static_cast<const uint16_t*>(text));
    } else {
        const char* bytes = static_cast<const char*>(text);
        reply.AddValueText(std::string_view(bytes, strnlen(bytes, maxBytes)));
    }
    reply.AddRaw("\"");
}

// One element of typed storage.
void AddTypedValue(ViewReply& reply, const char* at, int32_t type) {
    switch (type) {
        case -9: {
            int64_t value;
            std::memcpy(&value, at, sizeof value);
            reply.AddNumber(static_cast<double>(value));
            return;
        }
        case -8: {
            double value;
            std::memcpy(&value, at, sizeof value);
            reply.AddNumber(value);
            return;
        }
        case -5: {
            uint32_t value;
            std::memcpy(&value, at, sizeof value);
            reply.AddNumber(value);
            return;
        }
        case -4:
        case -3: {
            int32_t value;
            std::memcpy(&value, at, sizeof value);
            reply.AddNumber(value);
            return;
        }
        case -2: {
            int16_t value;
            std::memcpy(&value, at, sizeof value);
            reply.AddNumber(value);
            return;
        }
        case -1: reply.AddNumber(static_cast<unsigned char>(*at)); return;
        default:
            if (type > 0) AddTextValue(reply, at, false, static_cast<size_t>(type));
            else reply.AddNumber(0);
    }
}

void AddScalarValue(ViewReply& reply, const VariableRecord* v) {
    if (v->flags & (kVarStructure | kVarMatrix) || v->elementCount > 0) {
        reply.AddAddress(v->data);
    } else if (v->flags & kVarObject) {
        AddTextValue(reply, v->data ? v->data : "", false);
    } else if (v->type != 0 && v->data && !(v->flags & kVarList)) {
        AddTypedValue(reply, v->data, v->type);
    } else if (v->data) {
        AddTextValue(reply, v->data, (v->flags & kVarWideText) != 0);
    } else {
        reply.AddNumber(v->value);
    }
}

// "U", "C", ... then "<type>,<size>b" for typed storage.
void AddFlagText(ViewReply& reply, const VariableRecord* v) {
    static constexpr struct {
        uint32_t bit;
        const char* letters;
    } kLetters[] = {{kVarPublic, "U"},   {kVarOwnsData, "C"}, {kVarStructure, "S"},   {kVarMatrix, "M|"},
                    {kVarList, "L"},     {kVarObject, "O"},   {kVarHandedOver, "P"}, {kVarHoldsObject, "Y"}};
    char text[96];
    size_t length = 0;
    for (const auto& letter : kLetters)
        if (v->flags & letter.bit) length += static_cast<size_t>(std::snprintf(text + length, sizeof text - length, "%s", letter.letters));
    if (v->type != 0)
        length += static_cast<size_t>(std::snprintf(text + length, sizeof text - length, ",%db", ElementSize(v->type)));
    if (length == 0) return;
    reply.AddRaw(" (");
    reply.AddRaw(std::string_view(text, length));
    reply.AddRaw(")");
}

void AddIndent(ViewReply& reply, int nesting) {
    for (int i = 0; i < nesting; ++i) reply.AddRaw("  ");
}

void AppendVariable(ViewReply& reply, const VariableRecord* variable, int nesting, bool withMembers);

void AppendArrayElements(ViewReply& reply, const VariableRecord* v, int nesting) {
    const int32_t size = ElementSize(v->type);
    for (uint32_t i = 0; i < v->elementCount && !reply.IsFull(); ++i) {
        char index[32];
        const int length = std::snprintf(index, sizeof index, "[%" PRIu32 "]|", i);
        reply.BeginItem();
        AddIndent(reply, nesting);
        reply.AddRaw(std::string_view(index, static_cast<size_t>(length)));
        AddTypedValue(reply, v->data + static_cast<size_t>(i) * static_cast<size_t>(size), v->type);
        reply.EndItem();
    }
}

void AppendListElements(ViewReply& reply, const VariableRecord* v, int nesting) {
    const ListNode* node = v->currentNode;
    while (node->previous) node = node->previous;
    for (uint32_t i = 0; node && !reply.IsFull(); node = node->next, ++i) {
        char index[32];
        const int length = std::snprintf(index, sizeof index, "[%" PRIu32 "]|", i);
        reply.BeginItem();
        AddIndent(reply, nesting);
        reply.AddRaw(std::string_view(index, static_cast<size_t>(length)));
        if (node->data && !(node->flags & (kVarStructure | kVarMatrix | kVarObject)))
            AddTextValue(reply, node->data, (node->flags & kVarWideText) != 0);
        else if (node->data)
            reply.AddAddress(node->data);
        else
            reply.AddNumber(node->value);
        reply.EndItem();
    }
}

void AppendMembers(ViewReply& reply, const VariableRecord* v, int nesting) {
    if (nesting >= kMaxNesting) return;
    if (v->flags & kVarStructure) {
        for (const MemberDefinition* d = v->members; d && !reply.IsFull(); d = d->next)
            if (d->member) AppendVariable(reply, d->member, nesting + 1, true);
        return;
    }
    if (v->flags & kVarObject) {
        const auto* head = reinterpret_cast<const VariableRecord*>(static_cast<uintptr_t>(TruncToInt64(v->value)));
        if (!head || !platform::IsLiveBlock(head)) return;
        for (const VariableRecord* m = head->next; m && !reply.IsFull(); m = m->next)
            if (m->name && !m->parent) AppendVariable(reply, m, nesting + 1, true);
        return;
    }
    if (v->elementCount > 0 && v->type != 0 && v->data) {
        AppendArrayElements(reply, v, nesting + 1);
        return;
    }
    if ((v->flags & kVarList) && v->currentNode) AppendListElements(reply, v, nesting + 1);
}

// The variable's line ("name [n] (flags)|value"), then its members or elements.
void AppendVariable(ViewReply& reply, const VariableRecord* named, int nesting, bool withMembers) {
    const VariableRecord* v = FollowReferences(named);
    reply.BeginItem();
    AddIndent(reply, nesting);
    reply.AddRaw(named->name);
    if (v->elementCount > 0) {
        char count[32];
        const int length = std::snprintf(count, sizeof count, " [%" PRIu32 "]", v->elementCount);
        reply.AddRaw(std::string_view(count, static_cast<size_t>(length)));
    }
    AddFlagText(reply, v);
    reply.AddRaw("|");
    AddScalarValue(reply, v);
    reply.EndItem();
    if (withMembers) AppendMembers(reply, v, nesting);
}

// Runs one view under the fault guard: a fault ends the view, not the poll.
template <typename Body>
void RunView(Body&& body) {
    (void)platform::RunGuarded(body);
}

// "1,234,567" for a whole number, without allocating.
std::string_view FormatGrouped(uint64_t value, char (&out)[40]) {
    char digits[24];
    const int length = std::snprintf(digits, sizeof digits, "%" PRIu64, value);
    size_t at = 0;
    for (int i = 0; i < length; ++i) {
        if (i > 0 && (length - i) % 3 == 0) out[at++] = kThousandsCharacter;
        out[at++] = digits[i];
    }
    return {out, at};
}

}  // namespace

// --- frames ---------------------------------------------------------------------------

void NoteDebuggedFrame(ProgramContext* context, VariableRecord* frame, const char* procedureName) {
    if (!context) return;
    for (int i = gFrameCount - 1; i >= 0; --i) {
        DebuggedFrame& entry = gFrames[i];
        if (entry.frame != frame || entry.context != context || entry.contextId != context->uniqueId) continue;
        entry.procedureName = procedureName;
        gFrameCount = i + 1;
        return;
    }
    // Frames of contexts that have ended since go first.
    int kept = 0;
    for (int i = 0; i < gFrameCount; ++i)
        if (IsLiveFrame(gFrames[i])) gFrames[kept++] = gFrames[i];
    gFrameCount = kept;
    if (gFrameCount == kMaxDebuggedFrames) return;
    gFrames[gFrameCount++] = {context, context->uniqueId, frame, procedureName};
}

void ForgetDebuggedFrames() { gFrameCount = 0; }

// --- views ------------------------------------------------------------------------------

void AppendVariableItems(ViewReply& reply, const VariableRecord* head) {
    for (const VariableRecord* v = head; v && !reply.IsFull(); v = v->next)
        if (v->name && !v->parent) AppendVariable(reply, v, 0, true);
}

void AppendLocalView(ViewReply& reply) {
    RunView([&] { AppendVariableItems(reply, LocalVariableList); });
}

void AppendLocalStackView(ViewReply& reply, std::string_view frameHandle) {
    RunView([&] {
        if (const VariableRecord* frame = FindDebuggedFrame(frameHandle)) AppendVariableItems(reply, frame);
    });
}

void AppendStackParamsView(ViewReply& reply, std::string_view recordHandle) {
    RunView([&] {
        // The record must lie in the chain of a frame the hook saw.
        const VariableRecord* record = nullptr;
        const uintptr_t address = HandleAddress(recordHandle);
        if (address == 0) return;
        for (int i = gFrameCount - 1; i >= 0 && !record; --i) {
            if (gFrames[i].context != CurrentContext || !IsLiveFrame(gFrames[i])) continue;
            for (const VariableRecord* v = gFrames[i].frame; v && !record; v = v->next)
                if (reinterpret_cast<uintptr_t>(v) == address) record = v;
        }
        if (!record) return;
        for (const VariableRecord* v = record->next; v && !reply.IsFull(); v = v->next)
            if (v->name) AppendVariable(reply, v, 0, false);
    });
}

void AppendApplicationGlobalView(ViewReply& reply) {
    RunView([&] {
        if (CurrentContext) AppendVariableItems(reply, CurrentContext->globalHead);
    });
}

void AppendGlobalView(ViewReply& reply) {
    RunView([&] { AppendVariableItems(reply, ConstantList); });
}

namespace {

// Whether the stack top lies above the cell.
bool IsAbove(const StackEntry* top, const StackEntry* cell) {
    if (top == cell) return false;
    for (const StackEntry* c = top; c; c = c->below)
        if (c == cell) return true;
    return false;
}

}  // namespace

void AppendTraceView(ViewReply& reply, std::string_view expression) {
    ProgramContext* context = CurrentContext;
    if (!context) return;
    // The child must leave the stopped program exactly where it stands.
    Instruction* savedInstruction = CurrentInstruction;
    VariableRecord* savedLocals = LocalVariableList;
    const char* savedProcName = CurrentProcName;
    StackEntry* savedTop = context->stackTop;
    const bool savedRangeCheck = Switches.rangeCheck;
    Switches.rangeCheck = true;
    const std::string source(expression);
    // A child comes back alive; the values it left stay on the shared stack.
    if (ProgramContext* child = CompileAndRun(nullptr, source.c_str(), false, kContextSharedCurrentList))
        EndProgramContext(child);
    Switches.rangeCheck = savedRangeCheck;
    CurrentContext = context;
    CurrentInstruction = savedInstruction;
    LocalVariableList = savedLocals;
    CurrentProcName = savedProcName;

    reply.BeginItem();
    reply.AddValueText(expression);
    reply.AddRaw("|");
    if (IsAbove(context->stackTop, savedTop)) {
        const StackEntry* result = context->stackTop;
        if (result->text && (result->flags & kEntryMatrix)) reply.AddAddress(result->text);
        else if (result->text && (result->flags & kEntryWide)) AddWideText(reply, reinterpret_cast<const uint16_t*>(result->text));
        else if (result->text) reply.AddValueText(result->text);
        else reply.AddNumber(result->value);
    }
    reply.EndItem();
    while (IsAbove(context->stackTop, savedTop)) DropStackEntry();
}

void AppendCallStackView(ViewReply& reply) {
    RunView([&] {
        for (int i = gFrameCount - 1; i >= 0 && !reply.IsFull(); --i) {
            const DebuggedFrame& entry = gFrames[i];
            if (entry.context != CurrentContext || !IsLiveFrame(entry)) continue;
            const char* name = entry.procedureName ? entry.procedureName : "";
            const char* open = std::strchr(name, '(');
            reply.BeginItem();
            reply.AddRaw(std::string_view(name, open ? static_cast<size_t>(open - name) : std::strlen(name)));
            reply.AddRaw("|");
            reply.AddAddress(entry.frame);
            reply.EndItem();
        }
    });
}

namespace {
RegisterSource gRegisterSource = nullptr;
}  // namespace

void SetRegisterSource(RegisterSource source) { gRegisterSource = source; }

void AppendRegistersView(ViewReply& reply) {
    if (!gRegisterSource) return;
    RunView([&] {
        RegisterValue registers[64];
        const size_t count = gRegisterSource(std::span<RegisterValue>(registers));
        for (size_t i = 0; i < count && i < std::size(registers); ++i) {
            reply.BeginItem();
            reply.AddRaw(registers[i].name ? registers[i].name : "");
            reply.AddRaw("|");
            reply.AddNumber(registers[i].value);
            reply.EndItem();
        }
    });
}

void AppendStackView(ViewReply& reply) {
    RunView([&] {
        if (!CurrentContext) return;
        const StackEntry* top = CurrentContext->stackTop;
        int32_t number = CountStackEntries(top) - 1;  // the bottom cell holds no value
        static constexpr struct {
            uint32_t bit;
            const char* letters;
        } kLetters[] = {{kEntryByReference, "R|"}, {kEntryMatrix, "M|"}, {0x100, "C|"}, {0x1000000, "P|"},
                        {kEntryListItem, "O|"}};
        for (const StackEntry* cell = top; cell && cell->below && !reply.IsFull(); cell = cell->below, --number) {
            char heading[32];
            const int length = std::snprintf(heading, sizeof heading, "Item #%d ", number);
            reply.BeginItem();
            reply.AddRaw(std::string_view(heading, static_cast<size_t>(length)));
            for (const auto& letter : kLetters)
                if (cell->flags & letter.bit) reply.AddRaw(letter.letters);
            if (cell->variable && cell->variable->name) {
                reply.AddRaw(" (");
                reply.AddRaw(cell->variable->name);
                reply.AddRaw(")");
            }
            reply.AddRaw("|");
            if (cell->text && (cell->flags & kEntryMatrix)) reply.AddAddress(cell->text);
            else if (cell->text && (cell->flags & kEntryWide)) AddWideText(reply, reinterpret_cast<const uint16_t*>(cell->text));
            else if (cell->text) reply.AddValueText(cell->text);
            else reply.AddNumber(cell->value);
            reply.EndItem();
        }
    });
}

void AppendApplicationView(ViewReply& reply) {
    RunView([&] {
        const ProgramContext* context = CurrentContext;
        if (!context) return;
        int32_t windows = 0;
        for (const WindowRecord* w = context->windows; w; w = w->next) ++windows;
        const auto addGrouped = [&](const char* name, uint64_t value) {
            char grouped[40];
            reply.BeginItem();
            reply.AddRaw(name);
            reply.AddRaw("|");
            reply.AddRaw(FormatGrouped(value, grouped));
            reply.EndItem();
        };
        reply.BeginItem();
        reply.AddRaw("Name|");
        reply.AddValueText(context->appName ? context->appName : "");
        reply.EndItem();
        reply.BeginItem();
        reply.AddRaw("Path|");
        reply.AddValueText(context->appPath ? context->appPath : "");
        reply.EndItem();
        addGrouped("BufferSize", context->appSize);
        addGrouped("Stack count", static_cast<uint64_t>(CountStackEntries(context->stackTop)));
        addGrouped("Windows count", windows);
    });
}

void AppendDisassemblyView(ViewReply& reply) {
    RunView([&] {
        Instruction* current = CurrentInstruction;
        while (current && IsDebugStep(current)) current = current->next;
        if (!current) return;
        Instruction* first = current;
        for (int before = 0; before < 10 && first->previous;) {
            first = first->previous;
            if (!IsDebugStep(first)) ++before;
        }
        int after = -1;  // instructions listed after the current one
        for (Instruction* node = first; node && !reply.IsFull(); node = node->next) {
            if (IsDebugStep(node)) continue;
            if (node == current) after = 0;
            else if (after >= 0 && ++after > 20) break;
            char* line = FormatInstructionLine(node);
            reply.BeginItem();
            reply.AddRaw(node == current ? "*" : " ");
            reply.AddValueText(line ? line : "");
            reply.EndItem();
            platform::FreeBlock(line);
        }
    });
}

}  // namespace qob
