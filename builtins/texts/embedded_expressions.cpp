// builtins/texts/embedded_expressions.cpp
// Running the brace groups of a text through the run driver and putting the
// text of each group's value in its place.
#include "builtins/texts/embedded_expressions.h"

#include <cstring>
#include <string>
#include <string_view>

#include "builtins/operators/operator_values.h"
#include "builtins/texts/text_arguments.h"
#include "runtime/data/number_text.h"
#include "runtime/registry/hooks.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/runtime_error.h"

namespace qob {
namespace {

// Child programs of groups share the caller's stack and its current list.
constexpr int64_t kGroupParentMode = -1;

// The end of the group whose "{" is at open: its matching "}", or the end
// of the text (after reporting the missing brace).
size_t FindGroupEnd(std::string_view text, size_t open) {
    int depth = 0;
    for (size_t at = open + 1; at < text.size(); ++at) {
        if (text[at] == '{') ++depth;
        else if (text[at] == '}' && --depth < 0) return at;
    }
    RaiseRuntimeError("Missing }", 0);
    return text.size();
}

// The text of a value cell: its own text (UTF-16 narrowed) or its number.
std::string ValueText(const StackEntry& cell) {
    if (!IsText(cell)) {
        char number[kNumberTextSize];
        return std::string(number, FormatNumber(cell.value, number));
    }
    const TextSpan text = ArgumentText(cell, false);
    return std::string(static_cast<const char*>(text.units), text.length);
}

// Runs one group and gives its value text. Whatever the child left above the
// caller's top is taken off again, so nothing it pushed can become an
// argument of the caller's own call.
std::string RunGroup(const std::string& program) {
    ProgramContext* caller = CurrentContext;
    if (!caller) return "[Error]";  // no running program to share a stack with
    StackEntry* savedTop = caller->stackTop;
    ProgramContext* child = Hooks.runFileOrSource(program.c_str(), false, kGroupParentMode);
    if (!child) return "[Error]";
    std::string value;
    StackEntry* top = caller->stackTop;
    if (top != savedTop && top->below == savedTop) value = ValueText(*top);
    bool above = false;
    for (const StackEntry* cell = top; cell; cell = cell->below) {
        if (cell == savedTop) {
            above = true;
            break;
        }
    }
    if (above) {
        while (caller->stackTop != savedTop) DropStackEntry();
    }
    EndProgramContext(child);
    return value;
}

}  // namespace

char* ExpandEmbeddedExpressions(const char* text) {
    const std::string_view input = text ? text : "";
    std::string output;
    output.reserve(input.size());
    size_t at = 0;
    while (at < input.size()) {
        const size_t open = input.find('{', at);
        output.append(input.substr(at, open - at));
        if (open == std::string_view::npos) break;
        const size_t close = FindGroupEnd(input, open);
        output += RunGroup(std::string(input.substr(open + 1, close - open - 1)));
        at = close + 1;
    }
    return static_cast<char*>(CopyText({output.data(), output.size()}, false));
}

void Builtin_evalstring() {
    StackEntry argument = TakeOperand();
    const std::string text = static_cast<const char*>(ArgumentText(argument, false).units);
    ReleaseOperand(argument);
    PushTextResult(ExpandEmbeddedExpressions(text.c_str()), false);
}

}  // namespace qob
