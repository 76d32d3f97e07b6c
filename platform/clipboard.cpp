// platform/clipboard.cpp
// The headless clipboard: one text behind a lock.
#include "platform/clipboard.h"

#include <mutex>

namespace qob::platform {
namespace {

std::mutex gClipboardLock;
std::optional<std::string> gClipboardText;

}  // namespace

std::optional<std::string> GetClipboardText() {
    const std::lock_guard lock(gClipboardLock);
    return gClipboardText;
}

void SetClipboardText(std::string_view text) {
    const std::lock_guard lock(gClipboardLock);
    gClipboardText = std::string(text);
}

void EmptyClipboard() {
    const std::lock_guard lock(gClipboardLock);
    gClipboardText.reset();
}

}  // namespace qob::platform
