// display/device_model.h
// The device model from the OEM string, the processor type, and the
// geometry rules shared by the drivers that read pitches from the device.
#pragma once

#include <cstdint>
#include <string_view>

namespace qob {

// The model by the first row of the model table whose prefix starts the OEM
// string (ASCII case ignored); row 8 counts only for a whole string shorter
// than 6 characters, else the answer is 0. 0 when nothing matches or the OEM
// string cannot be had. Cached after the first call.
[[nodiscard]] int32_t DetectDeviceModel();

// The same rule over a given string, uncached.
[[nodiscard]] int32_t DeviceModelOfOemString(std::u16string_view oem);

// 2 XScale, 1 StrongARM, 0 anything else; cached after the first call.
[[nodiscard]] int32_t GetCpuType();

// The native orientation from the bytes between neighbouring pixels across
// (xPitch) and down (yPitch).
[[nodiscard]] int32_t OrientationFromPitches(int32_t xPitch, int32_t yPitch);

// Bytes from the address the device reports (picture pixel (0, 0)) to the
// first pixel of the first memory row, for a native orientation.
[[nodiscard]] int64_t TopLeftOffset(int32_t orientation, int32_t bitsPerPixel, int32_t cx, int32_t cy, int32_t xPitch,
                                    int32_t yPitch);

// Forgets the cached model and processor type.
void ResetDeviceModel();

}  // namespace qob
