// display/device_model.cpp
// The model table, the processor type and the pitch rules.
#include "display/device_model.h"

#include <array>
#include <optional>

#include "platform/display_device.h"

namespace qob {
namespace {

constexpr std::array<std::string_view, 9> kModelPrefixes = {
    "Compaq iPAQ H3800", "Compale P6C",  "Typhoon", "Toshiba e310", "Toshiba e330",
    "Toshiba e740",      "Toshiba e750", "MotoQ",   "SGH-i607",
};
constexpr int32_t kShortOemModel = 8;
constexpr size_t kShortOemLimit = 6;

std::optional<int32_t> gModel;
std::optional<int32_t> gCpuType;

char16_t LowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; }

bool StartsWithIgnoringCase(std::u16string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (LowerAscii(text[i]) != LowerAscii(char16_t(static_cast<unsigned char>(prefix[i])))) return false;
    return true;
}

}  // namespace

int32_t DeviceModelOfOemString(std::u16string_view oem) {
    for (size_t row = 0; row < kModelPrefixes.size(); ++row) {
        if (!StartsWithIgnoringCase(oem, kModelPrefixes[row])) continue;
        const int32_t model = int32_t(row) + 1;
        if (model == kShortOemModel && oem.size() >= kShortOemLimit) return 0;
        return model;
    }
    return 0;
}

int32_t DetectDeviceModel() {
    if (gModel) return *gModel;
    char16_t text[260] = {};
    if (!platform::GetOemInfo(text)) {
        gModel = 0;
        return 0;
    }
    gModel = DeviceModelOfOemString(std::u16string_view(text));
    return *gModel;
}

int32_t GetCpuType() {
    if (!gCpuType) gCpuType = platform::ActiveDisplayDevice().cpuType;
    return *gCpuType;
}

int32_t OrientationFromPitches(int32_t xPitch, int32_t yPitch) {
    if (xPitch < 1) return yPitch < 0 ? 2 : 3;
    return yPitch < 1 ? 1 : 0;
}

int64_t TopLeftOffset(int32_t orientation, int32_t bitsPerPixel, int32_t cx, int32_t cy, int32_t xPitch,
                      int32_t yPitch) {
    switch (orientation) {
        case 1: return (int64_t(bitsPerPixel) + 7) / 8 - (int64_t(bitsPerPixel) * cy) / 8;
        case 2: return int64_t(cx - 1) * xPitch + int64_t(cy - 1) * yPitch;
        case 3: return int64_t(cx - 1) * xPitch;
        default: return 0;
    }
}

void ResetDeviceModel() {
    gModel.reset();
    gCpuType.reset();
}

}  // namespace qob
