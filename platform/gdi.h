// platform/gdi.h
// Drawing for the window layer: brushes, pens, fonts, bitmaps and device
// contexts over 32-bit RGB surfaces, system colours, and text through the
// font engine. Every object is a handle of platform/handles.h; a call on a
// dead handle or a handle of the wrong kind fails quietly. Calls are
// serialised by the caller (the interpreter lock), as the window manager's are.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/handles.h"
#include "platform/surface.h"

namespace qob::platform {

using HDC = Handle;
using HGDIOBJ = Handle;
using HBRUSH = Handle;
using HPEN = Handle;
using HFONT = Handle;
using HBITMAP = Handle;

// ---- colours -------------------------------------------------------------

// A COLORREF with this flag names the system colour whose index is its low
// byte; every call that takes a colour resolves it through GetSysColor.
constexpr COLORREF SYS_COLOR_INDEX_FLAG = 0x40000000;
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

enum : int {
    COLOR_SCROLLBAR = 0,
    COLOR_BACKGROUND = 1,
    COLOR_ACTIVECAPTION = 2,
    COLOR_INACTIVECAPTION = 3,
    COLOR_MENU = 4,
    COLOR_WINDOW = 5,
    COLOR_WINDOWFRAME = 6,
    COLOR_MENUTEXT = 7,
    COLOR_WINDOWTEXT = 8,
    COLOR_CAPTIONTEXT = 9,
    COLOR_ACTIVEBORDER = 10,
    COLOR_INACTIVEBORDER = 11,
    COLOR_APPWORKSPACE = 12,
    COLOR_HIGHLIGHT = 13,
    COLOR_HIGHLIGHTTEXT = 14,
    COLOR_BTNFACE = 15,
    COLOR_BTNSHADOW = 16,
    COLOR_GRAYTEXT = 17,
    COLOR_BTNTEXT = 18,
    COLOR_INACTIVECAPTIONTEXT = 19,
    COLOR_BTNHIGHLIGHT = 20,
    COLOR_3DDKSHADOW = 21,
    COLOR_3DLIGHT = 22,
    COLOR_INFOTEXT = 23,
    COLOR_INFOBK = 24,
    COLOR_STATIC = 25,
    COLOR_STATICTEXT = 26,
    COLOR_GRADIENTACTIVECAPTION = 27,
    COLOR_GRADIENTINACTIVECAPTION = 28,
    kSystemColorCount = 29,
};

constexpr COLORREF RGB(uint8_t r, uint8_t g, uint8_t b) {
    return COLORREF{r} | (COLORREF{g} << 8) | (COLORREF{b} << 16);
}

// The fixed colour of a system colour index (with or without the flag);
// 0 for an index outside the table.
[[nodiscard]] COLORREF GetSysColor(int index);

// The colour itself, or the system colour it names when the flag is set.
[[nodiscard]] COLORREF ResolveColor(COLORREF color);

// A COLORREF (0x00BBGGRR, resolved) as a surface pixel (0x00RRGGBB), and back.
[[nodiscard]] constexpr uint32_t PixelFromColor(COLORREF color) {
    return ((color & 0xFF) << 16) | (color & 0xFF00) | ((color >> 16) & 0xFF);
}
[[nodiscard]] constexpr COLORREF ColorFromPixel(uint32_t pixel) {
    return ((pixel & 0xFF) << 16) | (pixel & 0xFF00) | ((pixel >> 16) & 0xFF);
}

// ---- objects ---------------------------------------------------------------

// GetStockObject indexes.
enum : int {
    WHITE_BRUSH = 0,
    LTGRAY_BRUSH = 1,
    GRAY_BRUSH = 2,
    DKGRAY_BRUSH = 3,
    BLACK_BRUSH = 4,
    NULL_BRUSH = 5,
    HOLLOW_BRUSH = NULL_BRUSH,
    WHITE_PEN = 6,
    BLACK_PEN = 7,
    NULL_PEN = 8,
    SYSTEM_FONT = 13,
};

// Pen styles.
enum : int { PS_SOLID = 0, PS_DASH = 1, PS_NULL = 5 };

// Stock objects and system-colour brushes live for the process: DeleteObject
// leaves them alone. 0 for an unknown index.
[[nodiscard]] HGDIOBJ GetStockObject(int index);
[[nodiscard]] HBRUSH GetSysColorBrush(int index);

[[nodiscard]] HBRUSH CreateSolidBrush(COLORREF color);
// A width below 1 draws one pixel wide; an unknown style draws solid.
[[nodiscard]] HPEN CreatePen(int style, int width, COLORREF color);

// Deletes a brush, pen, font or bitmap. A DC that still has it selected
// draws with its default object of that kind from then on. False for a dead
// handle or one of another kind; stock objects answer true and stay.
bool DeleteObject(HGDIOBJ object);

// The object's description copied into buffer (LOGBRUSH, LOGPEN, LOGFONTW or
// BITMAP), at most size bytes; the number of bytes copied, 0 on failure.
// With a null buffer, the size of the whole description.
int GetObjectW(HGDIOBJ object, int size, void* buffer);

struct LOGBRUSH {
    uint32_t lbStyle;  // BS_SOLID 0, BS_NULL 1
    COLORREF lbColor;
    uintptr_t lbHatch;
};

struct LOGPEN {
    uint32_t lopnStyle;
    POINT lopnWidth;  // x is the width
    COLORREF lopnColor;
};

// ---- fonts -----------------------------------------------------------------

constexpr int LF_FACESIZE = 32;

struct LOGFONTW {
    int32_t lfHeight;  // < 0: character height in pixels; > 0: cell height; 0: the default
    int32_t lfWidth;   // not used: glyphs keep their own proportions
    int32_t lfEscapement;   // not used
    int32_t lfOrientation;  // not used
    int32_t lfWeight;  // >= 600 is bold
    uint8_t lfItalic;
    uint8_t lfUnderline;
    uint8_t lfStrikeOut;
    uint8_t lfCharSet;
    uint8_t lfOutPrecision;
    uint8_t lfClipPrecision;
    uint8_t lfQuality;  // NONANTIALIASED_QUALITY draws without grey levels
    uint8_t lfPitchAndFamily;
    char16_t lfFaceName[LF_FACESIZE];
};
static_assert(sizeof(LOGFONTW) == 92);

enum : uint8_t { FIXED_PITCH = 1, VARIABLE_PITCH = 2 };
enum : uint8_t { FF_DONTCARE = 0x00, FF_ROMAN = 0x10, FF_SWISS = 0x20, FF_MODERN = 0x30 };
enum : uint8_t { NONANTIALIASED_QUALITY = 3 };
enum : int32_t { FW_NORMAL = 400, FW_BOLD = 700 };

struct TEXTMETRICW {
    int32_t tmHeight;
    int32_t tmAscent;
    int32_t tmDescent;
    int32_t tmInternalLeading;
    int32_t tmExternalLeading;
    int32_t tmAveCharWidth;
    int32_t tmMaxCharWidth;
    int32_t tmWeight;
    int32_t tmOverhang;
    int32_t tmDigitizedAspectX;
    int32_t tmDigitizedAspectY;
    char16_t tmFirstChar;
    char16_t tmLastChar;
    char16_t tmDefaultChar;
    char16_t tmBreakChar;
    uint8_t tmItalic;
    uint8_t tmUnderlined;
    uint8_t tmStruckOut;
    uint8_t tmPitchAndFamily;  // bit 0 set: variable pitch; high nibble: family
    uint8_t tmCharSet;
};

// Fonts are drawn from the DejaVu faces: the default and unknown faces from
// DejaVu Sans, fixed-pitch faces from DejaVu Sans Mono, serif faces from
// DejaVu Serif; weight >= 600 takes the bold file, italic is drawn oblique.
// A height larger than the screen's is clamped to it. 0 only when the handle
// range is used up or the description is null.
[[nodiscard]] HFONT CreateFontIndirectW(const LOGFONTW* description);

// The file a font draws from and the pixel size it draws at, for tests and
// for the font engine's own callers.
struct FontFace {
    std::string file;  // full path
    int pixelHeight = 0;  // the character (em) height in pixels
    bool oblique = false;
    bool monochrome = false;
};
[[nodiscard]] bool DescribeFont(HFONT font, FontFace* face);

// The folder of the font files ("/usr/share/fonts/truetype/dejavu" unless a
// test sets another). Fonts made afterwards draw from the new folder, those
// made before from the old one; every cached face is dropped.
void SetFontFolder(std::string_view folder);
[[nodiscard]] std::string GetFontFolder();

// The screen size that bounds font heights and that GetDeviceCaps answers;
// the window manager sets it from its own screen. 240 x 320 until set.
void SetGdiScreenSize(SIZE size);
[[nodiscard]] SIZE GetGdiScreenSize();

// ---- device contexts ---------------------------------------------------------

// A DC drawing into the target's surface, at its origin, within its clip.
// The surface must live until DeleteTargetDC. The window manager's GetDC and
// BeginPaint make these; 0 when the handle range is used up.
[[nodiscard]] HDC CreateTargetDC(const DrawTarget& target);
void DeleteTargetDC(HDC dc);

// A memory DC: it draws into the bitmap selected into it, and nowhere before
// one is. The argument is not used (every DC is 32-bit RGB).
[[nodiscard]] HDC CreateCompatibleDC(HDC dc);
// Deletes a memory DC; false for any other handle.
bool DeleteDC(HDC dc);

// Selects a brush, pen, font or bitmap (memory DCs only) and answers the one
// it replaces; 0 on failure (dead DC or object, a bitmap already selected
// into another DC, a bitmap into a target DC).
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);

// Background modes.
enum : int { TRANSPARENT = 1, OPAQUE = 2 };

// Each answers the previous value, or CLR_INVALID / 0 for a dead DC.
COLORREF SetTextColor(HDC dc, COLORREF color);
COLORREF SetBkColor(HDC dc, COLORREF color);
int SetBkMode(HDC dc, int mode);
[[nodiscard]] COLORREF GetTextColor(HDC dc);
[[nodiscard]] COLORREF GetBkColor(HDC dc);
[[nodiscard]] int GetBkMode(HDC dc);

// The logical point (0, 0) lies at the target's origin plus the viewport
// origin.
bool SetViewportOrgEx(HDC dc, int x, int y, POINT* previous);
bool GetViewportOrgEx(HDC dc, POINT* origin);

// Clip region answers.
enum : int { ERROR = 0, NULLREGION = 1, SIMPLEREGION = 2 };

// Narrows the clip to the logical rectangle.
int IntersectClipRect(HDC dc, int left, int top, int right, int bottom);
// The clip in logical coordinates.
int GetClipBox(HDC dc, RECT* box);

// GetDeviceCaps indexes.
enum : int { HORZRES = 8, VERTRES = 10, BITSPIXEL = 12, PLANES = 14, LOGPIXELSX = 88, LOGPIXELSY = 90 };

// LOGPIXELSX and LOGPIXELSY answer the screen's dots per inch (ScreenDpi),
// HORZRES and VERTRES the screen's size (SetGdiScreenSize), BITSPIXEL 32 and
// PLANES 1, whatever the DC; 0 for a dead DC or another index.
[[nodiscard]] int GetDeviceCaps(HDC dc, int index);

// 96, or the whole number 1..2400 that QOB_DPI gives; any other value of
// QOB_DPI is reported once on standard error and 96 is used.
[[nodiscard]] int ScreenDpi();
constexpr int kDefaultDpi = 96;
// The dots per inch that a QOB_DPI value gives; nullopt when it is not a
// whole number 1..2400 (an unset variable is no value: the caller's default).
[[nodiscard]] std::optional<int> ParseDpi(std::string_view text);

// ---- drawing -------------------------------------------------------------------

// Fills the rectangle (right and bottom exclusive) with the brush.
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);
// A one-pixel frame just inside the rectangle, in the brush's colour.
int FrameRect(HDC dc, const RECT* rect, HBRUSH brush);
// Inverts every colour bit inside the rectangle.
bool InvertRect(HDC dc, const RECT* rect);
// Inverts every other pixel of the rectangle's one-pixel frame, so a second
// call on the same rectangle puts the pixels back as they were.
bool DrawFocusRect(HDC dc, const RECT* rect);
// Outline with the pen, inside with the brush.
bool Rectangle(HDC dc, int left, int top, int right, int bottom);

// Lines with the selected pen, from the current position; the end point is
// not drawn.
bool MoveToEx(HDC dc, int x, int y, POINT* previous);
bool LineTo(HDC dc, int x, int y);
bool Polyline(HDC dc, const POINT* points, int count);

// The pixel's colour; CLR_INVALID outside the clip.
COLORREF SetPixel(HDC dc, int x, int y, COLORREF color);
[[nodiscard]] COLORREF GetPixel(HDC dc, int x, int y);

// ---- bitmaps ---------------------------------------------------------------------

// A 32-bit bitmap, zero-filled (black); 0 for a size below 1 or a side
// above kMaxBitmapSide pixels.
constexpr int kMaxBitmapSide = 4096;
[[nodiscard]] HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);

struct BITMAP {
    int32_t bmType;
    int32_t bmWidth;
    int32_t bmHeight;
    int32_t bmWidthBytes;
    uint16_t bmPlanes;
    uint16_t bmBitsPixel;
    void* bmBits;
};

// ---- device-independent bitmaps ---------------------------------------------------

// The description CreateDIBSection takes: the 40-byte header followed by the
// three colour masks of BI_BITFIELDS.
struct BITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;  // negative: rows top-down
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    uint32_t bmiColors[3];  // the red, green and blue masks
};

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_BITFIELDS = 3;
constexpr uint32_t DIB_RGB_COLORS = 0;

// A bitmap whose pixels the caller reaches at *bits: 16 bits per pixel with
// the masks 0xF800, 0x07E0 and 0x001F (RGB565), rows DWORD-aligned, top-down
// for a negative height, zeroed, in low memory (programs may hold their
// address). Any other format, a section handle, a size below 1 or with more
// than kMaxDibBytes of pixels gives 0 and *bits null.
//
// Drawing calls on a DC holding such a bitmap work on a 32-bit copy of its
// pixels made when the first of them runs; GdiFlush writes every such copy
// back and drops it. So a caller who reads or writes the bits directly calls
// GdiFlush after drawing through a DC and before touching them. BitBlt with
// SRCCOPY reads and writes the bits themselves, converting to and from 32 bits
// on the way (8-bit channels are truncated to 5, 6 and 5 bits; 5 and 6 bits
// are widened by repeating their top bits).
constexpr int64_t kMaxDibBytes = int64_t{256} << 20;
[[nodiscard]] HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, uint32_t usage, void** bits, Handle section,
                                       uint32_t offset);

// Writes back the 32-bit copies of DIB sections that drawing calls made.
bool GdiFlush();

// An RGB565 pixel as a surface pixel (0x00RRGGBB), and back (truncating).
[[nodiscard]] constexpr uint32_t PixelFrom565(uint16_t pixel) {
    const uint32_t r = (pixel >> 11) & 0x1F, g = (pixel >> 5) & 0x3F, b = pixel & 0x1F;
    return (((r << 3) | (r >> 2)) << 16) | (((g << 2) | (g >> 4)) << 8) | ((b << 3) | (b >> 2));
}
[[nodiscard]] constexpr uint16_t PixelTo565(uint32_t pixel) {
    return static_cast<uint16_t>(((pixel >> 8) & 0xF800) | ((pixel >> 5) & 0x07E0) | ((pixel >> 3) & 0x001F));
}

// Raster operations of BitBlt.
constexpr uint32_t SRCCOPY = 0x00CC0020;
constexpr uint32_t SRCINVERT = 0x00660046;
constexpr uint32_t DSTINVERT = 0x00550009;
constexpr uint32_t BLACKNESS = 0x00000042;
constexpr uint32_t WHITENESS = 0x00FF0062;

// Copies a block between DCs (the same DC too, overlapping blocks included);
// source pixels outside the source's clip are not copied. An unknown
// operation fails.
bool BitBlt(HDC destination, int x, int y, int width, int height, HDC source, int sourceX,
            int sourceY, uint32_t operation);

// The surface a DC draws into (for tests and the compositor); null when none.
[[nodiscard]] const Surface32* GetDCSurface(HDC dc);

// ---- text ------------------------------------------------------------------------

// ExtTextOutW options.
enum : uint32_t { ETO_OPAQUE = 0x2, ETO_CLIPPED = 0x4 };

// Draws the text with its top-left cell corner at (x, y) in the selected
// font and text colour; in OPAQUE mode the text's cells get the background
// colour first. ETO_OPAQUE fills the rectangle with the background colour,
// ETO_CLIPPED keeps the text inside it. advances, when given, are the
// distances from each character to the next.
bool ExtTextOutW(HDC dc, int x, int y, uint32_t options, const RECT* rect, const char16_t* text,
                 uint32_t count, const int* advances);

bool GetTextExtentPoint32W(HDC dc, const char16_t* text, int count, SIZE* size);
// Also how many characters fit in maxExtent (when fit is given) and the
// extent after each character (when extents is given).
bool GetTextExtentExPointW(HDC dc, const char16_t* text, int count, int maxExtent, int* fit,
                           int* extents, SIZE* size);
bool GetTextMetricsW(HDC dc, TEXTMETRICW* metrics);

// DrawTextW formats.
enum : uint32_t {
    DT_TOP = 0x0,
    DT_LEFT = 0x0,
    DT_CENTER = 0x1,
    DT_RIGHT = 0x2,
    DT_VCENTER = 0x4,
    DT_BOTTOM = 0x8,
    DT_WORDBREAK = 0x10,
    DT_SINGLELINE = 0x20,
    DT_EXPANDTABS = 0x40,
    DT_NOCLIP = 0x100,
    DT_CALCRECT = 0x400,
    DT_NOPREFIX = 0x800,
};

// Draws text in the rectangle: lines end at line breaks (unless
// DT_SINGLELINE), and with DT_WORDBREAK also before a word that would pass
// the right edge. DT_VCENTER and DT_BOTTOM place a single line. "&x" draws x
// underlined and "&&" one "&" unless DT_NOPREFIX; tabs advance to the next
// multiple of eight average character widths with DT_EXPANDTABS. DT_CALCRECT
// draws nothing and sets the rectangle's right and bottom to the text's
// extent. Answers the height of the text, 0 on failure. count -1 reads up
// to a terminating 0.
int DrawTextW(HDC dc, const char16_t* text, int count, RECT* rect, uint32_t format);

// ---- files for looking at surfaces -------------------------------------------------

// Writes the surface as an 8-bit RGB PNG file (libpng is loaded on first
// use). False, with nothing left at the path, when it cannot be written.
[[nodiscard]] bool SaveSurfacePng(const Surface32& surface, const std::string& path);

}  // namespace qob::platform
