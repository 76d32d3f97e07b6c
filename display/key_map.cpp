// display/key_map.cpp
// The key map from the registry's key list and the device's key sources,
// and the millisecond clock.
#include "display/key_map.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <span>

#include "display/device_libraries.h"
#include "platform/clock.h"
#include "platform/display_device.h"
#include "platform/registry.h"

namespace qob {
namespace {

constexpr uint16_t kFixedKeys[8] = {38, 40, 37, 39, 13, 32, 17, 16};  // up, down, left, right, start, A, B, C

// Distinct non-zero codes, at most 16.
class ButtonList {
public:
    void Add(uint16_t code) {
        if (code == 0 || count == kKeyMapSize || std::find(codes, codes + count, code) != codes + count) return;
        codes[count++] = code;
    }
    // The last code takes the removed one's place.
    void Remove(uint16_t code) {
        uint16_t* at = std::find(codes, codes + count, code);
        if (at != codes + count) *at = codes[--count];
    }
    [[nodiscard]] bool Empty() const { return count == 0; }
    uint16_t TakeLast() { return codes[--count]; }

private:
    uint16_t codes[kKeyMapSize] = {};
    int32_t count = 0;
};

// A whole key name as a hexadecimal number; anything else gives 0.
uint32_t HexadecimalName(const uint16_t* name, uint32_t length) {
    if (length == 0 || length > 8) return 0;
    uint32_t value = 0;
    for (uint32_t i = 0; i < length; ++i) {
        const uint16_t c = name[i];
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return 0;
        value = value * 16 + digit;
    }
    return value;
}

void AddRegistryButtons(ButtonList& buttons) {
    static constexpr char16_t kPath[] = u"SOFTWARE\\Microsoft\\Shell\\Keys";
    platform::HKEY key = nullptr;
    const std::span<const uint16_t> path(reinterpret_cast<const uint16_t*>(kPath), std::size(kPath) - 1);
    if (platform::RegOpenKeyExW(platform::HKEY_LOCAL_MACHINE, path, &key) != platform::ERROR_SUCCESS) return;
    for (uint32_t index = 0;; ++index) {
        uint16_t name[256];
        uint32_t length = std::size(name);
        const int32_t result = platform::RegEnumKeyExW(key, index, name, &length);
        if (result == platform::ERROR_MORE_DATA) continue;
        if (result != platform::ERROR_SUCCESS) break;
        buttons.Add(uint16_t(HexadecimalName(name, length) & 0xFF));
    }
    platform::RegCloseKey(key);
}

// Entries 4-7 (start, A, B, C) of the gx.dll lists are at 7, 4, 5, 6.
constexpr int32_t kGapiButtonOrder[4] = {7, 4, 5, 6};

bool KeysFromGapi(uint16_t map[kKeyMapSize], bool landscape, ButtonList& buttons) {
    GapiLibrary& gapi = Gapi();
    if (!gapi.IsLoaded() || gapi.getDefaultKeys == nullptr) return false;
    const platform::GXKeyList portrait = gapi.getDefaultKeys(2);
    const platform::GXKeyList turned = gapi.getDefaultKeys(3);
    for (int32_t index : kGapiButtonOrder) {
        buttons.Add(portrait.keys[index].code);
        buttons.Add(turned.keys[index].code);
    }
    for (int32_t i = 0; i < 4; ++i) map[i] = portrait.keys[i].code;
    const platform::GXKeyList& chosen = landscape ? turned : portrait;
    for (int32_t i = 0; i < 4; ++i) map[4 + i] = chosen.keys[kGapiButtonOrder[i]].code;
    return true;
}

bool KeysFromEscape(uint16_t map[kKeyMapSize], bool landscape, ButtonList& buttons) {
    int32_t escape = platform::GETGXINFO;
    if (platform::DeviceEscape(platform::QUERYESCSUPPORT,
                               std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(&escape), sizeof escape),
                               {}) <= 0)
        return false;
    platform::GxInfoReply reply{};
    reply.version = 100;
    if (platform::DeviceEscape(platform::GETGXINFO, {},
                               std::span<uint8_t>(reinterpret_cast<uint8_t*>(&reply), sizeof reply)) <= 0)
        return false;
    for (int32_t index : kGapiButtonOrder) {
        buttons.Add(reply.buttons[index].portraitCode);
        buttons.Add(reply.buttons[index].landscapeCode);
    }
    for (int32_t i = 0; i < 4; ++i) map[i] = reply.buttons[i].portraitCode;
    for (int32_t i = 0; i < 4; ++i) {
        const platform::GxInfoButton& button = reply.buttons[kGapiButtonOrder[i]];
        map[4 + i] = landscape ? button.landscapeCode : button.portraitCode;
    }
    return true;
}

void TurnDirections(uint16_t map[kKeyMapSize], int32_t orientation) {
    const uint16_t up = map[0], down = map[1], left = map[2], right = map[3];
    switch (orientation) {
        case 1: map[0] = left, map[1] = right, map[2] = down, map[3] = up; break;
        case 2: map[0] = down, map[1] = up, map[2] = right, map[3] = left; break;
        case 3: map[0] = right, map[1] = left, map[2] = up, map[3] = down; break;
        default: break;
    }
}

struct ClockState {
    bool counter;
    int64_t ticksPerMs;
};
std::optional<ClockState> gClock;

}  // namespace

int GetDeviceKeyMap(uint16_t map[kKeyMapSize], int32_t orientation) {
    if (orientation < 0 || orientation > 3) orientation = 0;
    std::fill(map, map + kKeyMapSize, uint16_t{0});
    ButtonList buttons;
    AddRegistryButtons(buttons);
    const bool landscape = orientation == 1 || orientation == 3;
    if (!KeysFromGapi(map, landscape, buttons) && !KeysFromEscape(map, landscape, buttons))
        std::copy(std::begin(kFixedKeys), std::end(kFixedKeys), map);
    TurnDirections(map, orientation);
    for (int32_t i = 4; i < 8; ++i) buttons.Remove(map[i]);
    for (int32_t i = 8; i < kKeyMapSize; ++i) map[i] = buttons.Empty() ? 0 : buttons.TakeLast();
    return 1;
}

uint32_t GetMilliseconds() {
    if (!gClock) {
        const int64_t frequency = platform::QueryPerformanceFrequency();
        gClock = ClockState{frequency > 0 && frequency / 1000 != 0, frequency / 1000};
    }
    if (!gClock->counter) return platform::GetTickCount();
    return static_cast<uint32_t>(platform::QueryPerformanceCounter() / gClock->ticksPerMs);
}

void ResetMilliseconds() { gClock.reset(); }

}  // namespace qob
