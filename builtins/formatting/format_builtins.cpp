// builtins/formatting/format_builtins.cpp
// printf, sprintf and fstr: arguments off the stack into the format engine,
// and the result pushed or stored.
#include "builtins/formatting/format_builtins.h"

#include <string>
#include <vector>

#include "builtins/formatting/printf_format.h"
#include "builtins/operators/operator_values.h"
#include "builtins/texts/text_arguments.h"
#include "platform/memory.h"
#include "runtime/data/number_text.h"
#include "runtime/data/text_routines.h"

namespace qob {
namespace {

// The formatted text may fill a whole block at most.
constexpr size_t kMaxOutputLength = platform::kMaxBlockSize - 1;
// The formatting buffer keeps at most this much room between calls.
constexpr size_t kKeptBufferSize = 1 << 20;

// A cell as a format argument: a text (a UTF-16 one narrowed, a matrix in
// its bracket form) or a number.
FormatArgument ArgumentOf(const StackEntry& cell) {
    if (!IsText(cell)) return {nullptr, cell.value, 0};
    const auto* text = static_cast<const char*>(ArgumentText(cell, false).units);
    return {text, 0.0, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(cell.text))};
}

// Formats the frame's cells from the one at index first (the format) on into
// a new block; null when the output would not fit a block.
void* FormatFrame(const FrameArguments& frame, int64_t first) {
    std::vector<const StackEntry*> cells;
    cells.reserve(static_cast<size_t>(frame.count));
    for (const StackEntry* cell = frame.saved; static_cast<int64_t>(cells.size()) < frame.count;) {
        cell = cell->above;
        cells.push_back(cell);
    }
    if (frame.count <= first) return CopyText({"", 0}, false);
    const FormatArgument format = ArgumentOf(*cells[static_cast<size_t>(first)]);
    char number[kNumberTextSize];
    const char* formatText = format.text;
    if (!formatText) {
        FormatNumber(format.number, number);
        formatText = number;
    }
    std::vector<FormatArgument> values;
    values.reserve(cells.size());
    for (size_t i = static_cast<size_t>(first) + 1; i < cells.size(); ++i) values.push_back(ArgumentOf(*cells[i]));
    // One buffer serves every call (under the interpreter lock): its room
    // stays for the next, unless it grew large.
    static std::string output;
    void* block = nullptr;
    if (FormatPrintfInto(output, formatText, values, kMaxOutputLength))
        block = CopyText({output.data(), output.size()}, false);
    if (output.capacity() > kKeptBufferSize) std::string().swap(output);
    return block;
}

}  // namespace

void Builtin_printf() {
    const FrameArguments frame = CloseFrameArguments();
    void* block = FormatFrame(frame, 0);
    DropFrameArguments(frame);
    PushTextResult(block, false);
}

// With no cell at all there is no target and nothing is stored; an output
// too large for a block leaves the target as it was.
void Builtin_sprintf() {
    const FrameArguments frame = CloseFrameArguments();
    void* block = frame.count > 0 ? FormatFrame(frame, 1) : nullptr;
    if (block) {
        const StackEntry& targetCell = *frame.saved->above;
        if (VariableRecord* target = TargetVariable(targetCell))
            StoreText(target, block, false, targetCell.variable ? EntryField(targetCell) : nullptr);
        platform::FreeBlock(block);
    }
    DropFrameArguments(frame);
}

void Builtin_fstr() {
    StackEntry argument = TakeOperand();
    char* grouped = InsertThousandsSeparators(static_cast<const char*>(ArgumentText(argument, false).units));
    ReleaseOperand(argument);
    PushTextResult(grouped, false);
}

}  // namespace qob
