// builtins/lists/list_search.cpp
// The list item matcher and the find and delall built-ins.
#include "builtins/lists/list_search.h"

#include <cstring>
#include <string>
#include <string_view>

#include "builtins/lists/list_builtins.h"
#include "builtins/operators/operator_values.h"
#include "platform/memory.h"
#include "runtime/data/number_text.h"
#include "runtime/data/wide_text.h"
#include "runtime/memory/memory_links.h"
#include "runtime/values/list_values.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/value_stack.h"

namespace qob {
namespace {

// A search prepared once for every item it meets.
struct MatchRule {
    std::string key;       // upper-cased unless case-sensitive
    bool hasKey;
    bool numeric;
    double number;
    std::string delimiter;  // empty: the whole item text is compared
    int64_t field;
    int64_t member;
    uint32_t flags;
};

std::string NumberText(double value) {
    char buffer[kNumberTextSize];
    const size_t length = FormatNumber(value, buffer);
    return std::string(buffer, length);
}

void UpperCase(std::string& text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}

MatchRule MakeRule(const char* keyText, double keyNumber, const char* delimiter, int64_t field, int64_t member,
                   uint32_t flags) {
    MatchRule rule{};
    rule.numeric = (flags & kMatchNumeric) != 0;
    rule.number = rule.numeric ? keyNumber : 0.0;
    if (rule.numeric) {
        rule.key = NumberText(keyNumber);
        rule.hasKey = true;
    } else {
        rule.hasKey = keyText != nullptr;
        rule.key = keyText ? keyText : "";
        if (!(flags & kMatchCaseSensitive)) UpperCase(rule.key);
    }
    rule.delimiter = delimiter ? delimiter : "";
    rule.field = field;
    rule.member = member;
    rule.flags = flags;
    return rule;
}

// One item as the matcher sees it: a text to compare, or a number.
struct ItemView {
    enum class Kind { None, Text, Number } kind = Kind::None;
    std::string text;
    double number = 0.0;
    // For numeric members: whether the key, taken in the member's own type,
    // equals the member (a 16-bit member compares the key's low 16 bits ...).
    bool numberMatches = false;
};

// Bytes of an item's data as an 8-bit text, never past the block's end.
std::string DataText(const char* data) {
    const size_t size = platform::GetBlockSize(data);
    return std::string(data, size ? strnlen(data, size) : std::strlen(data));
}

std::string WideText(const void* data) {
    char* narrow = WideToAnsi(static_cast<const uint16_t*>(data));
    std::string text = narrow ? narrow : "";
    platform::FreeBlock(narrow);
    return text;
}

bool IsLinkedBlock(const MemoryLink* link, uint32_t word) {
    for (; link; link = link->older)
        if (static_cast<uint32_t>(reinterpret_cast<uintptr_t>(link->block)) == word) return true;
    return false;
}

template <class T>
T ReadField(const char* address) {
    T value;
    std::memcpy(&value, address, sizeof value);
    return value;
}

// The member of a structure item that the rule names.
ItemView ViewMember(const ListNode* node, const MatchRule& rule) {
    ItemView view;
    const ListStructExtension* extension = node->structExtension;
    const MemberDefinition* definition = extension->members;
    for (int64_t i = 0; definition && i < rule.member; ++i) definition = definition->next;
    if (!definition || rule.member < 0 || !node->data) return view;
    const int32_t type = definition->type;
    const size_t width = static_cast<size_t>(ElementSize(type));
    const size_t size = platform::GetBlockSize(node->data);
    if (size && definition->offset + width > size) return view;
    const char* address = node->data + definition->offset;
    if (type > 0) {
        view.kind = ItemView::Kind::Text;
        view.text.assign(address, strnlen(address, static_cast<size_t>(type)));
        return view;
    }
    const int64_t key = TruncToInt64(rule.number);
    view.kind = ItemView::Kind::Number;
    switch (type) {
    case -1:
        view.number = ReadField<uint8_t>(address);
        view.numberMatches = ReadField<uint8_t>(address) == static_cast<uint8_t>(key);
        break;
    case -2:
        view.number = ReadField<int16_t>(address);
        view.numberMatches = ReadField<uint16_t>(address) == static_cast<uint16_t>(key);
        break;
    case -8:
        view.number = ReadField<double>(address);
        view.numberMatches = view.number == rule.number;
        break;
    case -9:
        view.number = static_cast<double>(ReadField<int64_t>(address));
        view.numberMatches = ReadField<int64_t>(address) == key;
        break;
    case -3:
    case -4:
    case -5: {
        const uint32_t word = ReadField<uint32_t>(address);
        const char* linked = reinterpret_cast<const char*>(static_cast<uintptr_t>(word));
        if (word && IsLinkedBlock(extension->links, word)) {
            view.kind = ItemView::Kind::Text;
            view.text = type == -3 ? WideText(linked) : DataText(linked);
            return view;
        }
        view.number = type == -5 ? static_cast<double>(word) : static_cast<double>(static_cast<int32_t>(word));
        view.numberMatches = type == -5 ? word == static_cast<uint32_t>(key)
                                        : static_cast<int32_t>(word) == static_cast<int32_t>(key);
        break;
    }
    default:
        view.kind = ItemView::Kind::None;
        break;
    }
    return view;
}

ItemView ViewItem(const ListNode* node, const MatchRule& rule) {
    ItemView view;
    if (node->structExtension && node->structExtension->members && (node->flags & kVarStructure))
        return ViewMember(node, rule);
    if (!node->data) {
        view.kind = ItemView::Kind::Number;
        view.number = node->value;
        view.numberMatches = node->value == rule.number;
        return view;
    }
    // A matrix's cells are no text.
    if (node->flags & kVarMatrix) return view;
    view.kind = ItemView::Kind::Text;
    view.text = (node->flags & kVarWideText) ? WideText(node->data) : DataText(node->data);
    return view;
}

// The field of the given number: each delimiter ends a field; the search for
// the next one starts one character into the field, so only the first field
// can be empty; a delimiter that ends the text stays in the last field. A text
// without that field is used whole.
std::string_view FieldOf(std::string_view text, std::string_view delimiter, int64_t wanted) {
    if (delimiter.empty() || wanted < 0) return text;
    size_t start = 0;
    size_t searchFrom = 0;
    for (int64_t index = 0;; ++index) {
        const size_t found = text.find(delimiter, searchFrom);
        if (found == std::string_view::npos || found + delimiter.size() >= text.size())
            return index == wanted ? text.substr(start) : text;
        if (index == wanted) return text.substr(start, found - start);
        start = found + delimiter.size();
        searchFrom = start + 1;
    }
}

std::string_view TrimLeading(std::string_view text) {
    const size_t first = text.find_first_not_of(' ');
    return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

std::string_view TrimTrailing(std::string_view text) {
    const size_t last = text.find_last_not_of(' ');
    return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

bool TextMatches(const std::string& text, const MatchRule& rule) {
    if (!rule.hasKey) return false;
    // The field is cut from the text as written, then upper-cased: a
    // delimiter with small letters must still find its match.
    std::string field(FieldOf(text, rule.delimiter, rule.field));
    if (!(rule.flags & kMatchCaseSensitive)) UpperCase(field);
    std::string_view view = field;
    if (rule.flags & kMatchTrimBoth) view = TrimTrailing(TrimLeading(view));
    if (rule.flags & (kMatchTrimLeading | kMatchTrimLeadingToo)) view = TrimLeading(view);
    if (rule.flags & kMatchContains) return view.find(rule.key) != std::string_view::npos;
    if (rule.flags & kMatchBegins) return view.starts_with(rule.key);
    if (rule.flags & kMatchEnds) return view.ends_with(rule.key);
    return view == rule.key;
}

bool ItemMatches(const ListNode* node, const MatchRule& rule) {
    ItemView view = ViewItem(node, rule);
    switch (view.kind) {
    case ItemView::Kind::Text:
        return TextMatches(view.text, rule);
    case ItemView::Kind::Number:
        // A text search meets a number by its text: the number 0 must not
        // match every text key.
        return rule.numeric ? view.numberMatches : TextMatches(NumberText(view.number), rule);
    case ItemView::Kind::None:
        break;
    }
    return false;
}

// The first item from node on whose position (counting from position) does
// not pass end and that matches; null when none.
ListNode* FindFrom(ListNode* node, int64_t& position, int64_t end, const MatchRule& rule) {
    for (; node; node = node->next, ++position) {
        if (end != -1 && position > end) return nullptr;
        if (ItemMatches(node, rule)) return node;
    }
    return nullptr;
}

// A delimiter argument: a text (an empty one is none), the number 0 for none,
// another number by its text.
std::string DelimiterOperand(const StackEntry& cell) {
    if (IsText(cell) && !IsMatrix(cell)) {
        const char* text = NarrowOperandText(cell);
        return text ? text : "";
    }
    return cell.value == 0.0 ? std::string() : NumberText(cell.value);
}

// The value argument: a number for a numeric search, else its text.
struct KeyOperand {
    std::string text;
    double number;
};

KeyOperand ValueOperand(const StackEntry& cell, uint32_t flags) {
    if (flags & kMatchNumeric) return {std::string(), OperandNumber(cell)};
    if (IsText(cell) && !IsMatrix(cell)) {
        const char* text = NarrowOperandText(cell);
        return {text ? text : "", 0.0};
    }
    return {NumberText(cell.value), 0.0};
}

}  // namespace

int64_t ListMatchItem(ListNode** item, int64_t start, int64_t end, const char* keyText, double keyNumber,
                      const char* delimiter, int64_t field, int64_t member, uint32_t flags) {
    if (!item || !*item) return -1;
    const MatchRule rule = MakeRule(keyText, keyNumber, delimiter, field, member, flags);
    ListNode* node = start < 0 ? ListFirst(*item) : ListNodeAt(*item, start);
    int64_t position = start < 0 ? 0 : ListIndexOf(node);
    ListNode* found = FindFrom(node, position, end, rule);
    if (!found) return -1;
    *item = found;
    return position;
}

void Builtin_find() {
    StackEntry flagsCell = TakeOperand();
    StackEntry memberCell = TakeOperand();
    StackEntry fieldCell = TakeOperand();
    StackEntry delimiterCell = TakeOperand();
    StackEntry valueCell = TakeOperand();
    StackEntry endCell = TakeOperand();
    StackEntry startCell = TakeOperand();
    StackEntry listCell = TakeOperand();
    const auto flags = static_cast<uint32_t>(TruncToInt64(OperandNumber(flagsCell)));
    const int64_t member = TruncToInt64(OperandNumber(memberCell));
    const int64_t field = TruncToInt64(OperandNumber(fieldCell));
    const std::string delimiter = DelimiterOperand(delimiterCell);
    const KeyOperand key = ValueOperand(valueCell, flags);
    const int64_t end = TruncToInt64(OperandNumber(endCell));
    const int64_t start = TruncToInt64(OperandNumber(startCell));
    VariableRecord* list = ListArgument(listCell);
    for (StackEntry* cell : {&flagsCell, &memberCell, &fieldCell, &delimiterCell, &valueCell, &endCell, &startCell,
                             &listCell})
        ReleaseOperand(*cell);
    ListNode* item = HasCurrentItem(list) ? list->currentNode : nullptr;
    const int64_t position = ListMatchItem(&item, start, end, key.text.c_str(), key.number,
                                           delimiter.empty() ? nullptr : delimiter.c_str(), field, member, flags);
    PushNumberResult(static_cast<double>(position));
}

void Builtin_delall() {
    StackEntry flagsCell = TakeOperand();
    StackEntry memberCell = TakeOperand();
    StackEntry fieldCell = TakeOperand();
    StackEntry delimiterCell = TakeOperand();
    StackEntry valueCell = TakeOperand();
    StackEntry listCell = TakeOperand();
    const auto flags = static_cast<uint32_t>(TruncToInt64(OperandNumber(flagsCell)));
    const int64_t member = TruncToInt64(OperandNumber(memberCell));
    const int64_t field = TruncToInt64(OperandNumber(fieldCell));
    const std::string delimiter = DelimiterOperand(delimiterCell);
    const KeyOperand key = ValueOperand(valueCell, flags);
    VariableRecord* list = ListArgument(listCell);
    for (StackEntry* cell : {&flagsCell, &memberCell, &fieldCell, &delimiterCell, &valueCell, &listCell})
        ReleaseOperand(*cell);
    if (!HasCurrentItem(list)) {
        PushNumberResult(0.0);
        return;
    }
    const MatchRule rule = MakeRule(key.text.c_str(), key.number, delimiter.empty() ? nullptr : delimiter.c_str(),
                                    field, member, flags);
    // Items before a match did not match and never will: the search goes on
    // behind each deleted item instead of starting again at the first.
    ListNode* survivor = list->currentNode;
    ListNode* from = ListFirst(survivor);
    int64_t position = 0;
    int64_t deleted = 0;
    while (ListNode* match = FindFrom(from, position, -1, rule)) {
        from = match->next;
        survivor = ListDeleteNode(match);
        ++deleted;
    }
    ShowListItem(list, ListFirst(survivor));
    PushNumberResult(static_cast<double>(deleted));
}

}  // namespace qob
