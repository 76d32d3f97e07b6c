// host/debugger_views.h
// What the debugger can ask to see while a program runs in debug mode: the
// views of variables, stacks, frames and code, written into a bounded reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace qob {

struct ProgramContext;
struct VariableRecord;

constexpr size_t kViewReplyCapacity = 32768;

// The items of one reply: each a "\n"-started line "name|value". An item is
// built in place and kept only when the whole of it fits; once one does not
// fit, no later item is taken, so the reply stays well-formed and its count
// names exactly the items it holds.
class ViewReply {
public:
    void Clear();

    // Item building: BeginItem, then Add* parts, then EndItem, which keeps
    // the item when it fitted and drops it otherwise.
    void BeginItem();
    void AddRaw(std::string_view text);
    // A value text: a carriage return and line feed pair, and any other line
    // feed, becomes the byte 0x01, so that the item stays one line.
    void AddValueText(std::string_view text);
    void AddNumber(double value);
    void AddAddress(const void* address);  // "0x" and at least 8 upper-case hex digits
    void EndItem();

    [[nodiscard]] int32_t Count() const { return count; }
    [[nodiscard]] bool IsFull() const { return full; }
    [[nodiscard]] std::string_view Items() const { return {buffer, size}; }

private:
    char buffer[kViewReplyCapacity];
    size_t size = 0;
    size_t itemStart = 0;
    int32_t count = 0;
    bool full = false;      // an item did not fit: nothing more is taken
    bool overflow = false;  // the item being built does not fit
};

// The frames the line hook has seen, innermost last: what CALLSTACK lists and
// what LOCALSTACK and STACKPARAMS accept as handles. A frame seen again drops
// the frames above it (their procedures have returned).
void NoteDebuggedFrame(ProgramContext* context, VariableRecord* frame, const char* procedureName);
void ForgetDebuggedFrames();

// The inline assembler's machine registers for REGISTERS ("R0" .. "R3", "SF",
// "SP", then the others), filled by the routine its subsystem installs. It
// returns how many registers it wrote into the span.
struct RegisterValue {
    const char* name;
    double value;
};
using RegisterSource = size_t (*)(std::span<RegisterValue> registers);
void SetRegisterSource(RegisterSource source);

// The views. Each appends its items to the reply; a hardware fault inside one
// ends that view only, keeping the items it finished.
void AppendLocalView(ViewReply& reply);
void AppendLocalStackView(ViewReply& reply, std::string_view frameHandle);
void AppendStackParamsView(ViewReply& reply, std::string_view recordHandle);
void AppendApplicationGlobalView(ViewReply& reply);
void AppendGlobalView(ViewReply& reply);
// Runs the expression as QOB source in a child that shares the program's
// value stack and current variables, with range checking on; the item is
// the expression and the value it left (none: an empty value).
void AppendTraceView(ViewReply& reply, std::string_view expression);
void AppendCallStackView(ViewReply& reply);
void AppendRegistersView(ViewReply& reply);
void AppendStackView(ViewReply& reply);
void AppendApplicationView(ViewReply& reply);
void AppendDisassemblyView(ViewReply& reply);

// The items of every named top-level variable of a chain (head included),
// members of structures and objects indented below their owner.
void AppendVariableItems(ViewReply& reply, const VariableRecord* head);

}  // namespace qob
