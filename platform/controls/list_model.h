// platform/controls/list_model.h
// The items of a list box or combo box: texts with a data word each, the
// current selection and the platform's answers for bad indexes (-1).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gdi.h"

namespace qob::platform::controls {

class ListModel {
public:
    static constexpr intptr_t kError = -1;

    struct Item {
        std::u16string text;
        intptr_t data = 0;
    };

    [[nodiscard]] size_t Count() const { return items_.size(); }
    [[nodiscard]] bool Valid(intptr_t index) const {
        return index >= 0 && static_cast<size_t>(index) < items_.size();
    }
    [[nodiscard]] const Item& At(size_t index) const { return items_[index]; }

    // Appends, or with sorted at the place that keeps the order (case
    // ignored, after equal texts); the new index.
    intptr_t Add(std::u16string_view text, bool sorted);
    // Inserts before index; -1 appends; an index past the end fails.
    intptr_t Insert(intptr_t index, std::u16string_view text);
    // Removes the item; the count left, or kError (-1 included).
    intptr_t Delete(intptr_t index);
    void Clear();

    // The selection (-1 none). Select answers kError for -1 (the selection
    // is then removed) and for a bad index (the selection stays).
    [[nodiscard]] intptr_t Selection() const { return selection_; }
    intptr_t Select(intptr_t index);

    // The first item after start (wrapping; -1 from the first) whose text
    // begins with text (or equals it when exact), case ignored; kError when none.
    [[nodiscard]] intptr_t Find(intptr_t start, std::u16string_view text, bool exact) const;

    intptr_t Length(intptr_t index) const;
    // Copies the text and a terminator; the length, or kError.
    intptr_t CopyText(intptr_t index, char16_t* buffer) const;
    intptr_t Data(intptr_t index) const;
    intptr_t SetData(intptr_t index, intptr_t data);

private:
    std::vector<Item> items_;
    intptr_t selection_ = -1;
};

// Paints the items from top on in rows of itemHeight inside the client
// rectangle (after filling it with the brush), the selection in the
// highlight colours; the DC's text colour for the others.
void PaintListItems(HDC dc, const ListModel& model, size_t top, const RECT& client, HBRUSH brush, HFONT font,
                    int32_t itemHeight);

}  // namespace qob::platform::controls
