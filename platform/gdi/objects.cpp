// platform/gdi/objects.cpp
// System colours, stock objects, brushes and pens, and the deletion and
// description of every drawing object.
#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "platform/gdi/gdi_objects.h"

namespace qob::platform {

using namespace gdi;

namespace {

// The device's fixed scheme: greys for the 3-D parts, navy captions and
// selections, white windows with black text.
constexpr COLORREF kSystemColors[kSystemColorCount] = {
    RGB(200, 200, 200),  // COLOR_SCROLLBAR
    RGB(0, 128, 128),    // COLOR_BACKGROUND
    RGB(0, 0, 128),      // COLOR_ACTIVECAPTION
    RGB(128, 128, 128),  // COLOR_INACTIVECAPTION
    RGB(192, 192, 192),  // COLOR_MENU
    RGB(255, 255, 255),  // COLOR_WINDOW
    RGB(0, 0, 0),        // COLOR_WINDOWFRAME
    RGB(0, 0, 0),        // COLOR_MENUTEXT
    RGB(0, 0, 0),        // COLOR_WINDOWTEXT
    RGB(255, 255, 255),  // COLOR_CAPTIONTEXT
    RGB(192, 192, 192),  // COLOR_ACTIVEBORDER
    RGB(192, 192, 192),  // COLOR_INACTIVEBORDER
    RGB(128, 128, 128),  // COLOR_APPWORKSPACE
    RGB(0, 0, 128),      // COLOR_HIGHLIGHT
    RGB(255, 255, 255),  // COLOR_HIGHLIGHTTEXT
    RGB(192, 192, 192),  // COLOR_BTNFACE
    RGB(128, 128, 128),  // COLOR_BTNSHADOW
    RGB(128, 128, 128),  // COLOR_GRAYTEXT
    RGB(0, 0, 0),        // COLOR_BTNTEXT
    RGB(192, 192, 192),  // COLOR_INACTIVECAPTIONTEXT
    RGB(255, 255, 255),  // COLOR_BTNHIGHLIGHT
    RGB(0, 0, 0),        // COLOR_3DDKSHADOW
    RGB(223, 223, 223),  // COLOR_3DLIGHT
    RGB(0, 0, 0),        // COLOR_INFOTEXT
    RGB(255, 255, 225),  // COLOR_INFOBK
    RGB(192, 192, 192),  // COLOR_STATIC
    RGB(0, 0, 0),        // COLOR_STATICTEXT
    RGB(16, 132, 208),   // COLOR_GRADIENTACTIVECAPTION
    RGB(181, 181, 181),  // COLOR_GRADIENTINACTIVECAPTION
};

constexpr int kStockCount = SYSTEM_FONT + 1;

// The records of every live handle. Never destroyed: a window or font
// deleted by another static's destructor at exit still finds it.
std::unordered_map<Handle, std::unique_ptr<GdiObject>>& Records() {
    static auto* records = new std::unordered_map<Handle, std::unique_ptr<GdiObject>>;
    return *records;
}

Handle MakePermanentBrush(COLORREF color, bool hollow) {
    return MakeHandle(HandleKind::Brush, std::make_unique<Brush>(hollow, true, color));
}

Handle MakePermanentPen(int style, COLORREF color) {
    return MakeHandle(HandleKind::Pen, std::make_unique<Pen>(style, 1, true, color));
}

// The stock objects, made on first use and kept for the process.
struct StockObjects {
    Handle objects[kStockCount] = {};
    Handle systemBrushes[kSystemColorCount] = {};

    StockObjects() {
        objects[WHITE_BRUSH] = MakePermanentBrush(RGB(255, 255, 255), false);
        objects[LTGRAY_BRUSH] = MakePermanentBrush(RGB(192, 192, 192), false);
        objects[GRAY_BRUSH] = MakePermanentBrush(RGB(128, 128, 128), false);
        objects[DKGRAY_BRUSH] = MakePermanentBrush(RGB(64, 64, 64), false);
        objects[BLACK_BRUSH] = MakePermanentBrush(RGB(0, 0, 0), false);
        objects[NULL_BRUSH] = MakePermanentBrush(0, true);
        objects[WHITE_PEN] = MakePermanentPen(PS_SOLID, RGB(255, 255, 255));
        objects[BLACK_PEN] = MakePermanentPen(PS_SOLID, RGB(0, 0, 0));
        objects[NULL_PEN] = MakePermanentPen(PS_NULL, 0);
        objects[SYSTEM_FONT] = MakeSystemFont();
        for (int i = 0; i < kSystemColorCount; ++i) systemBrushes[i] = MakePermanentBrush(kSystemColors[i], false);
    }

    static Handle MakeSystemFont() {
        LOGFONTW description{};
        description.lfHeight = -12;
        description.lfWeight = FW_NORMAL;
        const HFONT font = CreateFontIndirectW(&description);
        if (auto* record = static_cast<Font*>(HandleObject(font, HandleKind::Font))) record->permanent = true;
        return font;
    }
};

StockObjects& Stock() {
    static StockObjects stock;
    return stock;
}

int CopyOut(const void* description, int descriptionSize, int size, void* buffer) {
    if (!buffer) return descriptionSize;
    const int copied = std::clamp(size, 0, descriptionSize);
    std::memcpy(buffer, description, static_cast<size_t>(copied));
    return copied;
}

}  // namespace

COLORREF GetSysColor(int index) {
    index &= ~static_cast<int>(SYS_COLOR_INDEX_FLAG);
    return index >= 0 && index < kSystemColorCount ? kSystemColors[index] : 0;
}

COLORREF ResolveColor(COLORREF color) {
    if (color & SYS_COLOR_INDEX_FLAG) return GetSysColor(static_cast<int>(color & 0xFF));
    return color & 0x00FFFFFF;
}

HGDIOBJ GetStockObject(int index) {
    return index >= 0 && index < kStockCount ? Stock().objects[index] : 0;
}

HBRUSH GetSysColorBrush(int index) {
    index &= ~static_cast<int>(SYS_COLOR_INDEX_FLAG);
    return index >= 0 && index < kSystemColorCount ? Stock().systemBrushes[index] : 0;
}

HBRUSH CreateSolidBrush(COLORREF color) {
    return MakeHandle(HandleKind::Brush, std::make_unique<Brush>(false, false, ResolveColor(color)));
}

HPEN CreatePen(int style, int width, COLORREF color) {
    if (style != PS_DASH && style != PS_NULL) style = PS_SOLID;
    return MakeHandle(HandleKind::Pen, std::make_unique<Pen>(style, std::max(width, 1), false, ResolveColor(color)));
}

bool DeleteObject(HGDIOBJ object) {
    bool permanent;
    switch (KindOfHandle(object)) {
        case HandleKind::Brush: permanent = static_cast<Brush*>(HandleObject(object, HandleKind::Brush))->permanent; break;
        case HandleKind::Pen: permanent = static_cast<Pen*>(HandleObject(object, HandleKind::Pen))->permanent; break;
        case HandleKind::Font: permanent = static_cast<Font*>(HandleObject(object, HandleKind::Font))->permanent; break;
        case HandleKind::Bitmap: permanent = static_cast<Bitmap*>(HandleObject(object, HandleKind::Bitmap))->permanent; break;
        default: return false;
    }
    if (!permanent) DestroyHandle(object);
    return true;
}

int GetObjectW(HGDIOBJ object, int size, void* buffer) {
    if (auto* brush = static_cast<Brush*>(HandleObject(object, HandleKind::Brush))) {
        const LOGBRUSH description{brush->hollow ? 1u : 0u, brush->color, 0};
        return CopyOut(&description, sizeof description, size, buffer);
    }
    if (auto* pen = static_cast<Pen*>(HandleObject(object, HandleKind::Pen))) {
        const LOGPEN description{static_cast<uint32_t>(pen->style), {pen->width, 0}, pen->color};
        return CopyOut(&description, sizeof description, size, buffer);
    }
    if (auto* font = static_cast<Font*>(HandleObject(object, HandleKind::Font)))
        return CopyOut(&font->description, sizeof font->description, size, buffer);
    if (auto* bitmap = static_cast<Bitmap*>(HandleObject(object, HandleKind::Bitmap))) {
        if (bitmap->IsDib()) {
            const BITMAP description{0, bitmap->surface.width, bitmap->surface.height,
                                     bitmap->dibPitch < 0 ? -bitmap->dibPitch : bitmap->dibPitch, 1, 16,
                                     bitmap->dibBits};
            return CopyOut(&description, sizeof description, size, buffer);
        }
        const BITMAP description{0, bitmap->surface.width, bitmap->surface.height,
                                 bitmap->surface.stride * 4, 1, 32, bitmap->surface.pixels};
        return CopyOut(&description, sizeof description, size, buffer);
    }
    return 0;
}

namespace gdi {

Handle KeepObject(HandleKind kind, void* address, std::unique_ptr<GdiObject> object) {
    const Handle handle = NewHandle(kind, address);
    if (handle) Records()[handle] = std::move(object);
    return handle;
}

void DestroyHandle(Handle handle) {
    FreeHandle(handle);
    Records().erase(handle);
}

HBRUSH DefaultBrush() { return Stock().objects[WHITE_BRUSH]; }
HPEN DefaultPen() { return Stock().objects[BLACK_PEN]; }
HFONT DefaultFont() { return Stock().objects[SYSTEM_FONT]; }

const Brush& SelectedBrush(const DeviceContext& dc) {
    if (auto* brush = static_cast<const Brush*>(HandleObject(dc.brush, HandleKind::Brush))) return *brush;
    return *static_cast<const Brush*>(HandleObject(DefaultBrush(), HandleKind::Brush));
}

const Pen& SelectedPen(const DeviceContext& dc) {
    if (auto* pen = static_cast<const Pen*>(HandleObject(dc.pen, HandleKind::Pen))) return *pen;
    return *static_cast<const Pen*>(HandleObject(DefaultPen(), HandleKind::Pen));
}

const Font& SelectedFont(const DeviceContext& dc) {
    if (auto* font = static_cast<const Font*>(HandleObject(dc.font, HandleKind::Font))) return *font;
    return *static_cast<const Font*>(HandleObject(DefaultFont(), HandleKind::Font));
}

RECT Intersect(const RECT& a, const RECT& b) {
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom)};
}

}  // namespace gdi
}  // namespace qob::platform
