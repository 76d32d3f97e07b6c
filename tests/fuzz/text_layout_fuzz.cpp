// tests/fuzz/text_layout_fuzz.cpp
// libFuzzer target for the text that programs hand the drawing layer: any
// UTF-16 (lone surrogates, controls, prefixes, tabs, line breaks) laid out
// by DrawTextW with any format and rectangle, drawn by ExtTextOutW and
// measured. The surface sits inside a guard band that must stay untouched.
//
// Input: 4 bytes format, 4 x 2 bytes rectangle (signed, scaled by 64 when
// the format's top bit is set), 1 byte font height, 1 byte flags (bold,
// italic, mono, no grey levels, opaque), then the text as 16-bit units.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/gdi.h"

namespace {

using namespace qob::platform;

constexpr int kWidth = 48, kHeight = 32, kGuard = 8;
constexpr uint32_t kGuardPixel = 0xA5A5A5;

int16_t ReadInt16(const uint8_t* data) { return static_cast<int16_t>(data[0] | data[1] << 8); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kHeader = 14;
    if (size < kHeader) return 0;
    uint32_t format;
    std::memcpy(&format, data, 4);
    const int scale = (format & 0x80000000u) ? 64 : 1;
    RECT rect{ReadInt16(data + 4) * scale, ReadInt16(data + 6) * scale, ReadInt16(data + 8) * scale,
              ReadInt16(data + 10) * scale};
    const int height = static_cast<int8_t>(data[12]) * 4;
    const uint8_t flags = data[13];
    std::vector<char16_t> text((size - kHeader) / 2);
    if (!text.empty()) std::memcpy(text.data(), data + kHeader, text.size() * 2);

    const int stride = kWidth + 2 * kGuard;
    std::vector<uint32_t> pixels(static_cast<size_t>(stride) * (kHeight + 2 * kGuard), kGuardPixel);
    Surface32 surface{pixels.data() + kGuard * stride + kGuard, kWidth, kHeight, stride};
    const HDC dc = CreateTargetDC(DrawTarget{&surface, {3, 2}, {1, 1, kWidth - 1, kHeight - 1}});
    LOGFONTW description{};
    description.lfHeight = height;
    description.lfWeight = (flags & 1) ? FW_BOLD : FW_NORMAL;
    description.lfItalic = (flags & 2) ? 1 : 0;
    description.lfPitchAndFamily = (flags & 4) ? FIXED_PITCH : 0;
    description.lfQuality = (flags & 8) ? NONANTIALIASED_QUALITY : 0;
    description.lfUnderline = (flags & 32) ? 1 : 0;
    const HFONT font = CreateFontIndirectW(&description);
    SelectObject(dc, font);
    SetBkMode(dc, (flags & 16) ? OPAQUE : TRANSPARENT);

    RECT measured = rect;
    const int calculated = DrawTextW(dc, text.data(), static_cast<int>(text.size()), &measured, format | DT_CALCRECT);
    RECT drawnRect = rect;
    const int drawn = DrawTextW(dc, text.data(), static_cast<int>(text.size()), &drawnRect, format & ~DT_CALCRECT);
    if (calculated != drawn || calculated < 0) std::abort();
    if (measured.left != rect.left || measured.top != rect.top || measured.right < rect.left) std::abort();
    ExtTextOutW(dc, rect.left, rect.top, format & (ETO_OPAQUE | ETO_CLIPPED), &rect, text.data(),
                static_cast<uint32_t>(text.size()), nullptr);
    std::vector<int> extents(text.size() + 1);
    int fit = -1;
    SIZE extent{};
    GetTextExtentExPointW(dc, text.data(), static_cast<int>(text.size()), rect.right, &fit, extents.data(), &extent);
    if (fit < 0 || fit > static_cast<int>(text.size()) || extent.cx < 0) std::abort();

    for (int y = 0; y < kHeight + 2 * kGuard; ++y)
        for (int x = 0; x < stride; ++x) {
            const bool inside = x >= kGuard + 1 && x < kGuard + kWidth - 1 && y >= kGuard + 1 && y < kGuard + kHeight - 1;
            if (!inside && pixels[static_cast<size_t>(y) * stride + x] != kGuardPixel) std::abort();
        }
    SelectObject(dc, GetStockObject(SYSTEM_FONT));
    DeleteObject(font);
    DeleteTargetDC(dc);
    return 0;
}
