// platform/clipboard.h
// The text clipboard: an in-process store of 8-bit (UTF-8) text shared by
// every thread of the process.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qob::platform {

// A copy of the clipboard's text; nullopt when it holds none.
[[nodiscard]] std::optional<std::string> GetClipboardText();

// Replaces the clipboard's contents with a copy of the text.
void SetClipboardText(std::string_view text);

// Leaves the clipboard without text.
void EmptyClipboard();

}  // namespace qob::platform
