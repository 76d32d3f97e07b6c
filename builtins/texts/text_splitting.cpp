// builtins/texts/text_splitting.cpp
// Texts cut into pieces for lists and arrays, lists joined into one text, and
// structures' member names and values as lists.
#include "builtins/texts/text_splitting.h"

#include <algorithm>
#include <string>

#include "builtins/lists/container_items.h"
#include "builtins/lists/list_builtins.h"
#include "builtins/operators/operator_values.h"
#include "builtins/texts/text_arguments.h"
#include "platform/memory.h"
#include "runtime/data/number_text.h"
#include "runtime/data/wide_text.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/list_values.h"
#include "runtime/values/matrix_values.h"
#include "runtime/values/typed_fields.h"
#include "runtime/values/variable_store.h"

namespace qob {
namespace {

// One piece after the chain's last node: its text, or the number its text
// stands for (the text, made to be read, goes again).
template <class Char>
ListNode* AppendPiece(ListNode* last, std::basic_string_view<Char> piece, PieceKind kind) {
    constexpr bool wide = sizeof(Char) == 2;
    if (kind == PieceKind::Text) return AppendTextItem(last, piece.data(), piece.size(), wide);
    ListNode* node = AppendTextItem(last, piece.data(), piece.size(), wide);
    if (!node) return nullptr;
    double number = 0.0;
    if (!wide) {
        number = node->data ? StringToNumber(node->data) : 0.0;
    } else if (node->data) {
        char* narrow = WideToAnsi(reinterpret_cast<const uint16_t*>(node->data));
        number = narrow ? StringToNumber(narrow) : 0.0;
        platform::FreeBlock(narrow);
    }
    UnregisterValueBlock(node->data);
    FreeValueBlock(node->data);
    node->data = nullptr;
    node->flags = 0;
    node->value = number;
    StampListNode(node);
    return node;
}

// The pieces of the text in order. Each search for the next separator starts
// where the last piece ended: the whole scan is one pass over the text.
template <class Char>
ListNode* SplitPieces(std::basic_string_view<Char> text, std::basic_string_view<Char> separator, bool anyCharacter,
                      PieceKind kind) {
    using View = std::basic_string_view<Char>;
    if (text.empty()) return nullptr;
    if (separator.empty()) return AppendPiece(nullptr, text, kind);
    const size_t width = anyCharacter ? 1 : separator.size();
    ListNode* last = nullptr;
    size_t start = 0;
    for (;;) {
        const size_t found = anyCharacter ? text.find_first_of(separator, start) : text.find(separator, start);
        ListNode* node = AppendPiece(last, text.substr(start, (found == View::npos ? text.size() : found) - start), kind);
        if (!node) break;  // no memory left: the pieces so far
        last = node;
        if (found == View::npos) break;
        start = found + width;  // a separator that ends the text leaves one empty piece
    }
    return last;
}

// The text and separator arguments cut into a new chain, both read as UTF-16
// when the text is.
ListNode* SplitArguments(const StackEntry& text, const StackEntry& separator, bool anyCharacter, PieceKind kind) {
    const bool wide = IsWide(text);
    const TextSpan whole = ArgumentText(text, wide);
    const TextSpan cut = ArgumentText(separator, wide);
    if (wide)
        return SplitWideTextToPieces({static_cast<const char16_t*>(whole.units), whole.length},
                                     {static_cast<const char16_t*>(cut.units), cut.length}, anyCharacter, kind);
    return SplitTextToPieces({static_cast<const char*>(whole.units), whole.length},
                             {static_cast<const char*>(cut.units), cut.length}, anyCharacter, kind);
}

// (text, separator, list): the pieces are made before the list is released.
void SplitIntoList(bool anyCharacter, PieceKind kind) {
    StackEntry listCell = TakeOperand();
    StackEntry separatorCell = TakeOperand();
    StackEntry textCell = TakeOperand();
    ListNode* chain = SplitArguments(textCell, separatorCell, anyCharacter, kind);
    VariableRecord* list = ListArgument(listCell);
    int64_t count = 0;
    if (list) count = RebuildList(list, chain);
    else ListFree(chain, true);
    ReleaseOperand(listCell);
    ReleaseOperand(separatorCell);
    ReleaseOperand(textCell);
    PushNumberResult(static_cast<double>(count));
}

// (text, separator, array): the pieces go to the elements in order, as many
// as the array holds; the result counts every piece.
void SplitIntoArray(PieceKind kind) {
    StackEntry arrayCell = TakeOperand();
    StackEntry separatorCell = TakeOperand();
    StackEntry textCell = TakeOperand();
    ListNode* chain = SplitArguments(textCell, separatorCell, false, kind);
    const uint32_t pieces = chain ? ListCount(chain) : 0;
    VariableRecord* array = ListArgument(arrayCell);
    if (array && pieces > 0 && (IsArrayVariable(array) || MakeDoubleArray(array, pieces))) {
        const uint32_t stored = std::min(pieces, array->elementCount);
        ListNode* node = ListFirst(chain);
        for (uint32_t i = 0; i < stored; ++i, node = node->next) {
            unsigned char* element = ArrayElement(array, i);
            if (kind == PieceKind::Number || !node->data) {
                StoreArrayNumber(array, element, node->value);
                continue;
            }
            const bool wide = (node->flags & kVarWideText) != 0;
            StoreArrayText(array, element, node->data, TextBytes(node->data, wide) / (wide ? 2 : 1) - 1, wide);
        }
    }
    ListFree(chain, true);
    ReleaseOperand(arrayCell);
    ReleaseOperand(separatorCell);
    ReleaseOperand(textCell);
    PushNumberResult(static_cast<double>(pieces));
}

// The units of an item's text, read no further than its block.
template <class Char>
std::basic_string_view<Char> BlockUnits(const char* data) {
    const size_t size = platform::GetBlockSize(data);
    const auto* units = reinterpret_cast<const Char*>(data);
    if (size == 0) return std::basic_string_view<Char>(units);
    const size_t room = size / sizeof(Char);
    return {units, static_cast<size_t>(std::find(units, units + room, Char{0}) - units)};
}

void AppendNarrow(std::u16string& out, std::string_view text) {
    const std::string copy(text);
    uint16_t* wide = AnsiToWide(copy.c_str());
    if (!wide) return;
    out += reinterpret_cast<const char16_t*>(wide);
    platform::FreeBlock(wide);
}

// An item as text of the result's width: its text, a number formatted, a
// matrix in its bracket form.
template <class String>
void AppendItem(String& out, const ListNode* node) {
    constexpr bool wide = sizeof(typename String::value_type) == 2;
    if (!node->data) {
        char number[kNumberTextSize];
        const size_t length = FormatNumber(node->value, number);
        if constexpr (wide) AppendNarrow(out, {number, length});
        else out.append(number, length);
        return;
    }
    if (node->flags & kVarMatrix) {
        const auto* cells = reinterpret_cast<const MatrixCell*>(node->data);
        std::string form(MatrixToStringCount(cells), '\0');
        form.resize(static_cast<size_t>(MatrixToString(cells, form.data(), true) - form.data()));
        if constexpr (wide) AppendNarrow(out, form);
        else out += form;
        return;
    }
    if (node->flags & kVarWideText) {
        const std::u16string_view units = BlockUnits<char16_t>(node->data);
        if constexpr (wide) {
            out += units;
        } else {
            const std::u16string terminated(units);
            char* narrow = WideToAnsi(reinterpret_cast<const uint16_t*>(terminated.c_str()));
            if (narrow) out += narrow;
            platform::FreeBlock(narrow);
        }
        return;
    }
    const std::string_view bytes = BlockUnits<char>(node->data);
    if constexpr (wide) AppendNarrow(out, bytes);
    else out += bytes;
}

template <class String>
void* JoinList(ListNode* first, const StackEntry& separator, const StackEntry& before, const StackEntry& after) {
    constexpr bool wide = sizeof(typename String::value_type) == 2;
    using View = std::basic_string_view<typename String::value_type>;
    const TextSpan s = ArgumentText(separator, wide);
    const TextSpan b = ArgumentText(before, wide);
    const TextSpan a = ArgumentText(after, wide);
    const View sep(static_cast<const typename View::value_type*>(s.units), s.length);
    const View pre(static_cast<const typename View::value_type*>(b.units), b.length);
    const View post(static_cast<const typename View::value_type*>(a.units), a.length);
    String out;
    for (const ListNode* node = first; node; node = node->next) {
        out += pre;
        AppendItem(out, node);
        out += post;
        if (node->next) out += sep;
    }
    return CopyText({out.data(), out.size()}, wide);
}

// A member's short name: after the first ".", without the last character.
std::string_view ShortMemberName(const VariableRecord* member) {
    std::string_view name(member->name ? member->name : "");
    if (name.empty()) return name;
    name.remove_suffix(1);
    const size_t dot = name.find('.');
    return dot == std::string_view::npos ? name : name.substr(dot + 1);
}

VariableRecord* StructureArgument(const StackEntry& cell) {
    VariableRecord* structure = ListArgument(cell);
    return structure && (structure->flags & kVarStructure) ? structure : nullptr;
}

bool IsWideMember(const VariableRecord* member) { return member->type == kTypeWideText; }

}  // namespace

ListNode* SplitTextToPieces(std::string_view text, std::string_view separator, bool anyCharacter, PieceKind kind) {
    return SplitPieces(text, separator, anyCharacter, kind);
}

ListNode* SplitWideTextToPieces(std::u16string_view text, std::u16string_view separator, bool anyCharacter,
                                PieceKind kind) {
    return SplitPieces(text, separator, anyCharacter, kind);
}

void Builtin_strtolist() { SplitIntoList(false, PieceKind::Text); }
void Builtin_strtolistex() { SplitIntoList(true, PieceKind::Text); }
void Builtin_strtolistint() { SplitIntoList(false, PieceKind::Number); }
void Builtin_strtolistintex() { SplitIntoList(true, PieceKind::Number); }
void Builtin_strtoarray() { SplitIntoArray(PieceKind::Text); }
void Builtin_strtoarrayint() { SplitIntoArray(PieceKind::Number); }

void Builtin_listtostr() {
    StackEntry after = TakeOperand();
    StackEntry before = TakeOperand();
    StackEntry separator = TakeOperand();
    StackEntry listCell = TakeOperand();
    VariableRecord* list = ListArgument(listCell);
    void* result = nullptr;
    bool wide = false;
    if (HasCurrentItem(list)) {
        ListNode* first = ListFirst(list->currentNode);
        for (const ListNode* node = first; node && !wide; node = node->next)
            wide = node->data && (node->flags & (kVarWideText | kVarMatrix)) == kVarWideText;
        result = wide ? JoinList<std::u16string>(first, separator, before, after)
                      : JoinList<std::string>(first, separator, before, after);
    }
    PushTextResult(result, wide);
    ReleaseOperand(after);
    ReleaseOperand(before);
    ReleaseOperand(separator);
    ReleaseOperand(listCell);
}

void Builtin_structdeftolist() {
    StackEntry listCell = TakeOperand();
    StackEntry structureCell = TakeOperand();
    VariableRecord* structure = StructureArgument(structureCell);
    ListNode* chain = nullptr;
    for (MemberDefinition* d = structure ? structure->members : nullptr; d; d = d->next) {
        const std::string_view name = ShortMemberName(d->member);
        if (ListNode* node = AppendTextItem(chain, name.data(), name.size(), false)) chain = node;
    }
    VariableRecord* list = ListArgument(listCell);
    if (list) RebuildList(list, chain);
    else ListFree(chain, true);
    ReleaseOperand(listCell);
    ReleaseOperand(structureCell);
    PushNumberResult(0.0);
}

void Builtin_isstructdef() {
    StackEntry nameCell = TakeOperand();
    StackEntry structureCell = TakeOperand();
    VariableRecord* structure = StructureArgument(structureCell);
    const TextSpan text = ArgumentText(nameCell, false);
    std::string name(static_cast<const char*>(text.units), text.length);
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    bool found = false;
    for (MemberDefinition* d = structure ? structure->members : nullptr; d && !found; d = d->next)
        found = ShortMemberName(d->member) == name;
    ReleaseOperand(nameCell);
    ReleaseOperand(structureCell);
    PushNumberResult(found ? 1.0 : 0.0);
}

void Builtin_structtolist() {
    StackEntry listCell = TakeOperand();
    StackEntry structureCell = TakeOperand();
    VariableRecord* structure = StructureArgument(structureCell);
    ListNode* chain = nullptr;
    for (MemberDefinition* d = structure ? structure->members : nullptr; d; d = d->next) {
        char* text = nullptr;
        double value = 0.0;
        GetVariableValue(d->member, &text, &value, nullptr);
        ListNode* node = nullptr;
        if (text) {
            const bool wide = IsWideMember(d->member);
            const size_t units = wide ? BlockUnits<char16_t>(text).size() : BlockUnits<char>(text).size();
            node = AppendTextItem(chain, text, units, wide);
        } else {
            node = AppendNumberItem(chain, value);
        }
        if (node) chain = node;
    }
    VariableRecord* list = ListArgument(listCell);
    int64_t count = 0;
    if (list) count = RebuildList(list, chain);
    else ListFree(chain, true);
    ReleaseOperand(listCell);
    ReleaseOperand(structureCell);
    PushNumberResult(static_cast<double>(count));
}

void Builtin_listtostruct() {
    StackEntry structureCell = TakeOperand();
    StackEntry listCell = TakeOperand();
    VariableRecord* list = ListArgument(listCell);
    VariableRecord* structure = StructureArgument(structureCell);
    int64_t assigned = 0;
    if (HasCurrentItem(list) && structure) {
        ListNode* node = ListFirst(list->currentNode);
        for (MemberDefinition* d = structure->members; d && node; d = d->next, node = node->next, ++assigned) {
            VariableRecord* member = d->member;
            if (!node->data || (node->flags & kVarMatrix)) {
                SetVariableValue(member, nullptr, node->value, nullptr, 0);
                continue;
            }
            const bool wide = (node->flags & kVarWideText) != 0;
            const size_t units = wide ? BlockUnits<char16_t>(node->data).size() : BlockUnits<char>(node->data).size();
            StoreMemberText(member, node->data, units, wide);
        }
    }
    ReleaseOperand(structureCell);
    ReleaseOperand(listCell);
    PushNumberResult(static_cast<double>(assigned));
}

}  // namespace qob
