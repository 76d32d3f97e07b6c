// platform/controls/list_model.cpp
// Items and selection of list boxes and combo boxes.

#include "platform/controls/list_model.h"

#include <algorithm>

#include "platform/controls/control_support.h"

namespace qob::platform::controls {

intptr_t ListModel::Add(std::u16string_view text, bool sorted) {
    size_t at = items_.size();
    if (sorted) {
        const std::u16string key = FoldCase(text);
        at = 0;
        while (at < items_.size() && FoldCase(items_[at].text) <= key) ++at;
    }
    return Insert(static_cast<intptr_t>(at), text);
}

intptr_t ListModel::Insert(intptr_t index, std::u16string_view text) {
    if (index == -1) index = static_cast<intptr_t>(items_.size());
    if (index < 0 || static_cast<size_t>(index) > items_.size()) return kError;
    items_.insert(items_.begin() + index, Item{std::u16string(text), 0});
    if (selection_ >= index) ++selection_;
    return index;
}

intptr_t ListModel::Delete(intptr_t index) {
    if (!Valid(index)) return kError;
    items_.erase(items_.begin() + index);
    if (selection_ == index) selection_ = -1;
    else if (selection_ > index) --selection_;
    return static_cast<intptr_t>(items_.size());
}

void ListModel::Clear() {
    items_.clear();
    selection_ = -1;
}

intptr_t ListModel::Select(intptr_t index) {
    if (index == -1) {
        selection_ = -1;
        return kError;
    }
    if (!Valid(index)) return kError;
    selection_ = index;
    return index;
}

intptr_t ListModel::Find(intptr_t start, std::u16string_view text, bool exact) const {
    const size_t count = items_.size();
    if (count == 0) return kError;
    const std::u16string key = FoldCase(text);
    const size_t first = Valid(start) ? static_cast<size_t>(start) + 1 : 0;
    for (size_t step = 0; step < count; ++step) {
        const size_t i = (first + step) % count;
        const std::u16string folded = FoldCase(items_[i].text);
        if (exact ? folded == key : folded.starts_with(key)) return static_cast<intptr_t>(i);
    }
    return kError;
}

intptr_t ListModel::Length(intptr_t index) const {
    return Valid(index) ? static_cast<intptr_t>(items_[static_cast<size_t>(index)].text.size()) : kError;
}

intptr_t ListModel::CopyText(intptr_t index, char16_t* buffer) const {
    if (!Valid(index) || !buffer) return kError;
    const std::u16string& text = items_[static_cast<size_t>(index)].text;
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    return static_cast<intptr_t>(text.size());
}

intptr_t ListModel::Data(intptr_t index) const {
    return Valid(index) ? items_[static_cast<size_t>(index)].data : kError;
}

intptr_t ListModel::SetData(intptr_t index, intptr_t data) {
    if (!Valid(index)) return kError;
    items_[static_cast<size_t>(index)].data = data;
    return 0;
}

}  // namespace qob::platform::controls
