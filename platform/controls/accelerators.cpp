// platform/controls/accelerators.cpp
// Accelerator tables as handles, and the key rules of their translation.

#include "platform/controls/accelerators.h"

#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/input.h"

namespace qob::platform {

namespace {

struct Table {
    std::vector<ACCEL> entries;
};

std::unordered_map<HACCEL, std::unique_ptr<Table>>& Tables() {
    static auto* tables = new std::unordered_map<HACCEL, std::unique_ptr<Table>>;
    return *tables;
}

Table* FindTable(HACCEL handle) {
    if (!HandleObject(handle, HandleKind::Accelerator)) return nullptr;
    auto found = Tables().find(handle);
    return found == Tables().end() ? nullptr : found->second.get();
}

bool IsDown(uint32_t virtualKey) { return (GetKeyState(virtualKey) & 0x8000) != 0; }

uint8_t ModifiersDown() {
    uint8_t flags = 0;
    if (IsDown(VK_SHIFT)) flags |= FSHIFT;
    if (IsDown(VK_CONTROL)) flags |= FCONTROL;
    if (IsDown(VK_MENU)) flags |= FALT;
    return flags;
}

bool IsLetterOrDigit(uint16_t key) {
    return (key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z') || (key >= 'a' && key <= 'z');
}

uint16_t UpperAscii(uint16_t key) { return key >= 'a' && key <= 'z' ? static_cast<uint16_t>(key - 'a' + 'A') : key; }

bool Matches(const ACCEL& entry, const MSG& message, uint8_t modifiers) {
    if ((entry.fVirt & (FSHIFT | FCONTROL | FALT)) != modifiers) return false;
    if (IsLetterOrDigit(entry.key))
        return message.message == WM_KEYDOWN && message.wParam == UpperAscii(entry.key);
    return message.message == WM_CHAR && message.wParam == entry.key;
}

}  // namespace

HACCEL CreateAcceleratorTableW(const ACCEL* entries, int count) {
    if (count < 0 || (count > 0 && !entries)) return 0;
    auto table = std::make_unique<Table>();
    table->entries.assign(entries, entries + count);
    const Handle handle = NewHandle(HandleKind::Accelerator, table.get());
    if (!handle) return 0;
    Tables().emplace(handle, std::move(table));
    return handle;
}

bool DestroyAcceleratorTable(HACCEL handle) {
    if (!FindTable(handle)) return false;
    Tables().erase(handle);
    FreeHandle(handle);
    return true;
}

int CopyAcceleratorTableW(HACCEL handle, ACCEL* entries, int capacity) {
    const Table* table = FindTable(handle);
    if (!table) return -1;
    const int count = static_cast<int>(table->entries.size());
    for (int i = 0; i < count && i < capacity && entries; ++i) entries[i] = table->entries[static_cast<size_t>(i)];
    return count;
}

int TranslateAcceleratorW(HWND window, HACCEL handle, const MSG* message) {
    const Table* table = FindTable(handle);
    if (!table || !message || !IsWindow(window)) return 0;
    if (message->message != WM_KEYDOWN && message->message != WM_CHAR) return 0;
    const uint8_t modifiers = ModifiersDown();
    for (const ACCEL& entry : table->entries) {
        if (!Matches(entry, *message, modifiers)) continue;
        SendMessageW(window, WM_COMMAND, static_cast<WPARAM>(entry.cmd) | (WPARAM{1} << 16), 0);
        return 1;
    }
    return 0;
}

void ForgetAcceleratorTables() {
    for (const auto& entry : Tables()) FreeHandle(entry.first);
    Tables().clear();
}

}  // namespace qob::platform
