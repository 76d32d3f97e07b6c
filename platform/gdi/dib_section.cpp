// platform/gdi/dib_section.cpp
// 16-bit DIB sections: their pixels in low memory, the 32-bit copy that the
// drawing calls work on, and GdiFlush, which writes such copies back.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "platform/gdi/gdi_objects.h"
#include "platform/memory.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qob::platform {

using namespace gdi;

namespace {

constexpr uint32_t kRedMask = 0xF800, kGreenMask = 0x07E0, kBlueMask = 0x001F;

// The sections whose 32-bit copy is live, in the order they were made live.
std::vector<Bitmap*>& LiveCopies() {
    static auto* live = new std::vector<Bitmap*>;
    return *live;
}

void Forget(Bitmap* bitmap) {
    auto& live = LiveCopies();
    live.erase(std::remove(live.begin(), live.end(), bitmap), live.end());
}

}  // namespace

namespace gdi {

// Eight pixels at a time where the processor has SSE2 (every x86-64 does):
// the channels are widened in 16-bit lanes, each repeating its top bits
// below it as PixelFrom565 does, and green-blue and red are interleaved into
// the 32-bit pixels.
void ExpandRow565(uint32_t* out, const uint16_t* in, int count) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i greenMask = _mm_set1_epi16(0x3F), blueMask = _mm_set1_epi16(0x1F);
    for (; i + 8 <= count; i += 8) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i r = _mm_srli_epi16(p, 11);
        const __m128i g = _mm_and_si128(_mm_srli_epi16(p, 5), greenMask);
        const __m128i b = _mm_and_si128(p, blueMask);
        const __m128i r8 = _mm_or_si128(_mm_slli_epi16(r, 3), _mm_srli_epi16(r, 2));
        const __m128i g8 = _mm_or_si128(_mm_slli_epi16(g, 2), _mm_srli_epi16(g, 4));
        const __m128i b8 = _mm_or_si128(_mm_slli_epi16(b, 3), _mm_srli_epi16(b, 2));
        const __m128i greenBlue = _mm_or_si128(_mm_slli_epi16(g8, 8), b8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi16(greenBlue, r8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 4), _mm_unpackhi_epi16(greenBlue, r8));
    }
#endif
    for (; i < count; ++i) out[i] = PixelFrom565(in[i]);
}

void TruncateRow565(uint16_t* out, const uint32_t* in, int count) {
    for (int i = 0; i < count; ++i) out[i] = PixelTo565(in[i]);
}

Bitmap::~Bitmap() {
    if (copyLive) Forget(this);
    if (dibBits) FreeBlock(dibBits);
}

Bitmap* SelectedBitmap(const DeviceContext& dc) {
    return dc.memory ? static_cast<Bitmap*>(HandleObject(dc.bitmap, HandleKind::Bitmap)) : nullptr;
}

bool MakeDibCopy(Bitmap& bitmap) {
    if (!bitmap.IsDib() || bitmap.copyLive) return true;
    if (!bitmap.pixels) {
        const size_t count = static_cast<size_t>(bitmap.surface.width) * static_cast<size_t>(bitmap.surface.height);
        bitmap.pixels.reset(new (std::nothrow) uint32_t[count]);
        if (!bitmap.pixels) return false;
        bitmap.surface.pixels = bitmap.pixels.get();
    }
    const int width = bitmap.surface.width;
    for (int y = 0; y < bitmap.surface.height; ++y) {
        const uint16_t* in = bitmap.DibRow(y);
        uint32_t* out = bitmap.surface.pixels + static_cast<ptrdiff_t>(y) * bitmap.surface.stride;
        ExpandRow565(out, in, width);
    }
    bitmap.copyLive = true;
    LiveCopies().push_back(&bitmap);
    return true;
}

void FlushDibCopy(Bitmap& bitmap) {
    if (!bitmap.copyLive) return;
    const int width = bitmap.surface.width;
    for (int y = 0; y < bitmap.surface.height; ++y) {
        const uint32_t* in = bitmap.surface.pixels + static_cast<ptrdiff_t>(y) * bitmap.surface.stride;
        uint16_t* out = bitmap.DibRow(y);
        TruncateRow565(out, in, width);
    }
    bitmap.copyLive = false;
    Forget(&bitmap);
}

}  // namespace gdi

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, uint32_t usage, void** bits, Handle section, uint32_t offset) {
    if (bits) *bits = nullptr;
    if (!info || usage != DIB_RGB_COLORS || section != 0 || offset != 0) return 0;
    const BITMAPINFOHEADER& header = info->bmiHeader;
    if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biPlanes != 1 || header.biBitCount != 16 ||
        header.biCompression != BI_BITFIELDS || info->bmiColors[0] != kRedMask || info->bmiColors[1] != kGreenMask ||
        info->bmiColors[2] != kBlueMask)
        return 0;
    const int64_t width = header.biWidth;
    const int64_t height = header.biHeight < 0 ? -int64_t{header.biHeight} : int64_t{header.biHeight};
    if (width < 1 || height < 1) return 0;
    const int64_t pitch = (2 * width + 3) & ~int64_t{3};
    // The 32-bit copy is twice the size of the pixels; both stay bounded.
    if (pitch * height > kMaxDibBytes) return 0;
    auto bitmap = std::make_unique<Bitmap>();
    bitmap->dibBits = static_cast<uint8_t*>(AllocateZeroedBlock(static_cast<size_t>(pitch * height)));
    if (!bitmap->dibBits) return 0;
    const bool topDown = header.biHeight < 0;
    bitmap->dibPitch = static_cast<int32_t>(topDown ? pitch : -pitch);
    bitmap->dibRow0 = topDown ? bitmap->dibBits : bitmap->dibBits + (height - 1) * pitch;
    bitmap->surface = {nullptr, static_cast<int32_t>(width), static_cast<int32_t>(height), static_cast<int32_t>(width)};
    void* start = bitmap->dibBits;
    const HBITMAP handle = MakeHandle(HandleKind::Bitmap, std::move(bitmap));
    if (handle && bits) *bits = start;
    return handle;
}

bool GdiFlush() {
    auto& live = LiveCopies();
    while (!live.empty()) FlushDibCopy(*live.front());
    return true;
}

}  // namespace qob::platform
