// builtins/texts/text_editing.cpp
// The editors of a target variable's text: delete, insert, replace, change and
// strip. Each edits a copy and stores it as an assignment would.
#include <algorithm>
#include <cstring>

#include "builtins/operators/operator_values.h"
#include "builtins/texts/text_arguments.h"
#include "builtins/texts/text_builtins.h"
#include "platform/memory.h"
#include "platform/text_codec.h"
#include "runtime/data/text_routines.h"

namespace qob {
namespace {

// The variable an editor changes, with a copy of its text to edit. The
// variable is UTF-16 when it is marked so; an element of typed storage is
// always 8-bit.
struct EditTarget {
    VariableRecord* variable;  // null: nothing to edit (a refused name)
    void* field;               // the element the argument stood for, or null
    bool wide;
    void* text;                // the copy (a process-heap block), null when none
};

// Reads the target after every other argument was taken off the stack: a
// getter procedure that runs here pushes and pops on the same stack.
EditTarget ReadTarget(const StackEntry& argument) {
    EditTarget target{TargetVariable(argument), nullptr, false, nullptr};
    if (!target.variable) return target;
    if (argument.variable) target.field = EntryField(argument);
    target.wide = !target.field && (target.variable->flags & kVarWideText) != 0;
    StackEntry value = VariableOperand(target.variable, target.field);
    target.text = CopyText(ArgumentText(value, target.wide), target.wide);
    return target;
}

// Stores the edited copy (a setter may change what is kept; a protected
// variable keeps its text) and frees the copy.
void StoreTarget(EditTarget& target) {
    if (target.variable && target.text) StoreText(target.variable, target.text, target.wide, target.field);
    platform::FreeBlock(target.text);
    target.text = nullptr;
}

size_t LengthOf(const EditTarget& target) {
    if (!target.text) return 0;
    return target.wide ? platform::WideTextLength(static_cast<const uint16_t*>(target.text))
                       : std::strlen(static_cast<const char*>(target.text));
}

void DeleteRange(EditTarget& target, int32_t start, int32_t count) {
    if (!target.text) return;
    if (target.wide) WStrDeleteRange(reinterpret_cast<uint16_t**>(&target.text), start, count);
    else StrDeleteRange(reinterpret_cast<char**>(&target.text), start, count);
}

void InsertText(EditTarget& target, TextSpan insert, int32_t position) {
    if (!target.text) return;
    if (target.wide)
        WStrInsertAt(static_cast<const uint16_t*>(insert.units), reinterpret_cast<uint16_t**>(&target.text), position);
    else StrInsertAt(static_cast<const char*>(insert.units), reinterpret_cast<char**>(&target.text), position);
}

// Every unit of the text that occurs in characters is dropped, in place.
template <typename Unit>
void StripUnits(Unit* text, TextSpan characters) {
    const auto* set = static_cast<const Unit*>(characters.units);
    const Unit* end = set + characters.length;
    Unit* out = text;
    for (const Unit* in = text; *in; ++in)
        if (std::find(set, end, *in) == end) *out++ = *in;
    *out = 0;
}

}  // namespace

void Builtin_delete() {
    StackEntry count = TakeOperand();
    StackEntry start = TakeOperand();
    StackEntry argument = TakeOperand();
    const int32_t startAt = ArgumentInteger(start);
    const int32_t removed = ArgumentInteger(count);
    EditTarget target = ReadTarget(argument);
    DeleteRange(target, startAt, removed);
    StoreTarget(target);
    ReleaseOperand(argument);
    ReleaseOperand(start);
    ReleaseOperand(count);
}

void Builtin_insert() {
    StackEntry position = TakeOperand();
    StackEntry argument = TakeOperand();
    StackEntry insert = TakeOperand();
    const int32_t at = ArgumentInteger(position);
    EditTarget target = ReadTarget(argument);
    InsertText(target, ArgumentText(insert, target.wide), at);
    StoreTarget(target);
    ReleaseOperand(insert);
    ReleaseOperand(argument);
    ReleaseOperand(position);
}

// The copy is stored even when nothing was replaced, as every edit is.
void Builtin_replace() {
    StackEntry replacement = TakeOperand();
    StackEntry search = TakeOperand();
    StackEntry argument = TakeOperand();
    EditTarget target = ReadTarget(argument);
    if (target.text) {
        const TextSpan find = ArgumentText(search, target.wide);
        const TextSpan with = ArgumentText(replacement, target.wide);
        if (target.wide)
            WStrReplace(reinterpret_cast<uint16_t**>(&target.text), static_cast<const uint16_t*>(find.units),
                        static_cast<const uint16_t*>(with.units));
        else
            StrReplace(reinterpret_cast<char**>(&target.text), static_cast<const char*>(find.units),
                       static_cast<const char*>(with.units));
    }
    StoreTarget(target);
    ReleaseOperand(argument);
    ReleaseOperand(search);
    ReleaseOperand(replacement);
}

// The text goes in where the removed range began, the start held to the text.
void Builtin_change() {
    StackEntry insert = TakeOperand();
    StackEntry count = TakeOperand();
    StackEntry start = TakeOperand();
    StackEntry argument = TakeOperand();
    const int32_t startAt = ArgumentInteger(start);
    const int32_t removed = ArgumentInteger(count);
    EditTarget target = ReadTarget(argument);
    const auto at = static_cast<int32_t>(std::clamp<int64_t>(startAt, 0, static_cast<int64_t>(LengthOf(target))));
    DeleteRange(target, at, removed);
    InsertText(target, ArgumentText(insert, target.wide), at);
    StoreTarget(target);
    ReleaseOperand(argument);
    ReleaseOperand(start);
    ReleaseOperand(count);
    ReleaseOperand(insert);
}

// A UTF-16 target is stripped unit by unit, with the characters widened.
void Builtin_strip() {
    StackEntry characters = TakeOperand();
    StackEntry argument = TakeOperand();
    EditTarget target = ReadTarget(argument);
    if (target.text) {
        const TextSpan set = ArgumentText(characters, target.wide);
        if (target.wide) StripUnits(static_cast<uint16_t*>(target.text), set);
        else StripUnits(static_cast<char*>(target.text), set);
    }
    StoreTarget(target);
    ReleaseOperand(argument);
    ReleaseOperand(characters);
    PushNumberResult(0.0);
}

}  // namespace qob
