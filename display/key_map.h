// display/key_map.h
// The device's hardware keys arranged for a screen orientation, and the
// millisecond clock.
#pragma once

#include <cstdint>

namespace qob {

constexpr int32_t kKeyMapSize = 16;

// Fills the 16 entries: 0 up, 1 down, 2 left, 3 right, 4 start, 5 A, 6 B,
// 7 C (from gx.dll's default keys, else the GETGXINFO escape's buttons, else
// fixed codes), the directions turned for the orientation (outside 0..3
// counts as 0), then 8-15 the further buttons of the registry's key list,
// from its end backwards, 0 once it is empty. Returns 1.
int GetDeviceKeyMap(uint16_t map[kKeyMapSize], int32_t orientation);

// Milliseconds of the performance counter, truncated to 32 bits (so they
// wrap: compare times by their unsigned difference); the tick count when
// the counter runs slower than a thousand ticks a second.
[[nodiscard]] uint32_t GetMilliseconds();

// Forgets the clock's first-call state, for tests.
void ResetMilliseconds();

}  // namespace qob
