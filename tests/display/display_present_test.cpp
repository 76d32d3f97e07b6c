// tests/display/display_present_test.cpp
// Present round trips on every simulated device and orientation: what the
// panel shows after a first whole frame and after a second frame presented
// by a dirty rectangle, worked out from the panel's side.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "display/display_canvas.h"
#include "display/display_device_support.h"
#include "display/hardware_profiles.h"
#include "display/key_map.h"
#include "display/video_detect.h"
#include "platform/memory.h"

namespace qob {
namespace {

using testing::DisplayDeviceTest;

struct Size {
    int32_t width, height;
};

// The Part's quarter-turn mapping: the pixel (x, y) of a picture shows the
// pixel Turn(r, x, y) of a picture of size `to` turned by r.
Point Turn(int32_t r, int32_t x, int32_t y, Size to) {
    switch (r & 3) {
        case 1: return Point{y, to.height - 1 - x};
        case 2: return Point{to.width - 1 - x, to.height - 1 - y};
        case 3: return Point{to.width - 1 - y, x};
        default: return Point{x, y};
    }
}

bool Inside(const Rect& rect, Point p) { return p.x >= rect.left && p.x < rect.right && p.y >= rect.top && p.y < rect.bottom; }

uint16_t FirstPattern(Point v) { return uint16_t((v.x * 31 + v.y * 7) & 0x7FFF); }
uint16_t SecondPattern(Point v) { return uint16_t(FirstPattern(v) | 0x8000); }

void Fill(PixelSurface* surface, uint16_t (*pattern)(Point)) {
    PixelBuffer& buffer = *surface->buffer;
    for (int32_t y = 0; y < buffer.height; ++y)
        for (int32_t x = 0; x < buffer.width; ++x) *PixelAt(buffer, x, y) = pattern(Point{x, y});
}

// The bounding rectangle of a rectangle's pixels carried by a mapping.
template <typename Map>
Rect ImageOf(const Rect& rect, Map map) {
    if (IsRectEmpty(rect)) return Rect{0, 0, 0, 0};
    const Point a = map(Point{rect.left, rect.top}), b = map(Point{rect.right - 1, rect.bottom - 1});
    return Rect{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x) + 1, std::max(a.y, b.y) + 1};
}

Rect ClampToScreen(const Rect& rect, Size screen) {
    Rect clamped{std::max(rect.left, 0), std::max(rect.top, 0), std::min(rect.right, screen.width),
                 std::min(rect.bottom, screen.height)};
    return IsRectEmpty(clamped) ? Rect{0, 0, 0, 0} : clamped;
}

struct DeviceCase {
    platform::DisplayDeviceProfile profile;
    bool drawsThroughViewport;  // GAPI with a drawing copy: GXEndDraw brings whole picture rows
    bool copiesByDma;           // the DMA engine brings a rectangle rounded out to 4 columns
    // A MediaQ (its detection timed at this many scripted milliseconds):
    // SlowFB writes the changed words of the rectangle's rows, widened to
    // 64-byte blocks of video memory.
    int32_t mediaQMs = -1;
};

std::vector<DeviceCase> DeviceCases() {
    using testing::RawProfileOf;
    return {
        {testing::GapiPortraitProfile(), false, false},
        {testing::GapiLandscapeDramProfile(), true, false},
        {testing::GapiLandscapeProfile(), false, false},
        {testing::DirectProfile(), false, false},
        {testing::DirectDmaProfile(), false, true},
        {testing::RawProfile(), false, false},
        {RawProfileOf("raw half turn", platform::PanelLayout{240, 320, -2, -480}), false, false},
        {RawProfileOf("raw odd upright", platform::PanelLayout{237, 317, 2, 476}), false, false},
        {RawProfileOf("raw odd tight rows", platform::PanelLayout{237, 317, 2, 474}), false, false},
        {RawProfileOf("raw odd half turn", platform::PanelLayout{237, 317, -2, -480}), false, false},
        {RawProfileOf("raw quarter 250 x 330", platform::PanelLayout{250, 330, 660, -2}), false, false},
        {RawProfileOf("raw three quarters 250 x 330", platform::PanelLayout{250, 330, -668, 2}), false, false},
        {testing::XScaleProfile(), false, false},
        {testing::StrongArmProfile(), false, false},
        {testing::ImageonProfile(), false, false},
        {testing::MediaQProfile(), false, false, 20},
        {[] {
             auto profile = testing::MediaQProfile();
             profile.name = "mediaq, rows of 472 bytes";
             profile.panel = platform::PanelLayout{224, 320, 2, 448};
             profile.screenWidth = 224;
             profile.rowPadding = 24;
             return profile;
         }(),
         false, false, 20},
    };
}

const Rect kDirtyRects[] = {
    {3, 5, 10, 11}, {1, 1, 2, 2}, {-5, -5, 17, 9}, {40, 33, 41, 200}, {200, 290, 500, 500}, {5, 5, 5, 9}, {0, 0, 1000, 1000},
};

// Whether the orientation is one of the modes (the Part's mode list).
bool Offered(int32_t asked, Size native, int32_t nativeOrientation) {
    if (asked == 4 || asked == nativeOrientation) return true;
    if (native.width % 16 == 0 && native.height % 16 == 0) return true;
    return nativeOrientation != 0 && asked == 0;
}

class DisplayPresentTest : public DisplayDeviceTest {};

TEST_F(DisplayPresentTest, PanelShowsTheFrameTurnedAndTheDirtyRectangleOfTheNextOne) {
    for (const DeviceCase& device : DeviceCases()) {
        for (int32_t asked = 0; asked <= 4; ++asked) {
            for (const Rect& dirty : kDirtyRects) {
                UseDevice(device.profile);
                if (device.mediaQMs >= 0) testing::ScriptMediaQTiming(device.mediaQMs);
                const uintptr_t window = windows.MakeWindow();
                DisplayParams params{0, 0, asked, 1};
                Canvas* canvas = CreateDisplayCanvas(window, &params);
                SCOPED_TRACE(device.profile.name + ", orientation " + std::to_string(asked) + ", rect {" +
                             std::to_string(dirty.left) + ", " + std::to_string(dirty.top) + ", " +
                             std::to_string(dirty.right) + ", " + std::to_string(dirty.bottom) + "}");
                // The native mode of the device, from its detected description.
                const DriverInfo native = TheVideoDetect().info;
                const Size memory{native.width, native.height};
                if (!Offered(asked, memory, native.orientation)) {
                    ASSERT_EQ(canvas, nullptr);
                    continue;
                }
                ASSERT_NE(canvas, nullptr);
                DisplayCanvas& record = *canvas->display;
                const int32_t viewOrientation = asked == 4 ? native.orientation : asked;
                EXPECT_EQ(params.orientation, viewOrientation);
                const Size view{params.width, params.height};
                const Size panel{device.profile.panel.width, device.profile.panel.height};

                // First frame: the whole screen, with no rectangle given.
                PixelSurface* surface = CanvasBeginScene(canvas);
                ASSERT_NE(surface, nullptr);
                ASSERT_EQ(surface->buffer->width, view.width);
                ASSERT_EQ(surface->buffer->height, view.height);
                Fill(surface, FirstPattern);
                EXPECT_EQ(CanvasUpdate(canvas, nullptr), 1);
                EXPECT_EQ(surface->buffer, nullptr);
                platform::PanelPicture shown = platform::ReadPanel();
                int wrong = 0;
                for (int32_t y = 0; y < panel.height; ++y)
                    for (int32_t x = 0; x < panel.width; ++x)
                        if (shown.At(x, y) != FirstPattern(Turn(4 - viewOrientation, x, y, view)) && wrong++ < 3)
                            ADD_FAILURE() << "first frame, panel (" << x << ", " << y << ")";

                // Second frame, presented by the dirty rectangle.
                surface = CanvasBeginScene(canvas);
                ASSERT_NE(surface, nullptr);
                Fill(surface, SecondPattern);
                EXPECT_EQ(CanvasUpdate(canvas, &dirty), 1);
                shown = platform::ReadPanel();

                const Rect clamped = ClampToScreen(dirty, view);
                const int32_t r = ((native.orientation - viewOrientation) % 4 + 4) % 4;
                auto viewToPanel = [&](Point v) { return Turn(viewOrientation, v.x, v.y, panel); };
                auto panelToMemory = [&](Point p) { return Turn(4 - native.orientation, p.x, p.y, memory); };
                // Tiles of 16 in the frame buffer, kept inside it.
                Rect tiles = ImageOf(ImageOf(clamped, viewToPanel), panelToMemory);
                if (!IsRectEmpty(tiles))
                    tiles = Rect{tiles.left & ~15, tiles.top & ~15, std::min((tiles.right + 15) & ~15, memory.width),
                                 std::min((tiles.bottom + 15) & ~15, memory.height)};
                // Even columns and rows in the view, kept inside it.
                Rect even = clamped;
                if (!IsRectEmpty(even))
                    even = Rect{even.left & ~1, even.top & ~1, std::min((even.right + 1) & ~1, view.width),
                                std::min((even.bottom + 1) & ~1, view.height)};
                const Rect rows = ImageOf(clamped, viewToPanel);
                const Rect turned = ImageOf(rows, panelToMemory);
                const int32_t dmaLeft = turned.left & ~3;
                const Rect dma{dmaLeft, turned.top, dmaLeft + ((turned.right - dmaLeft + 3) & ~3), turned.bottom};
                const bool backBuffer = record.display->Base().HasBackBuffer();
                // SlowFB's band: the rows of the rectangle it sees, in video memory bytes.
                int64_t bandStart = 0, bandEnd = 0;
                if (device.mediaQMs >= 0) {
                    const Rect seen = r != 0 ? turned : clamped;
                    int64_t top = seen.top, bottom = seen.bottom;
                    if (!IsRectEmpty(seen) && int64_t(native.pitch) * (bottom - top) % 64 != 0) {
                        top &= ~1;
                        bottom = std::min<int64_t>((bottom + 1) & ~1, memory.height);
                    }
                    if (!IsRectEmpty(seen)) {
                        bandStart = native.pitch * top / 64 * 64;
                        bandEnd = (native.pitch * bottom + 63) / 64 * 64;
                    }
                }
                wrong = 0;
                for (int32_t y = 0; y < panel.height; ++y) {
                    for (int32_t x = 0; x < panel.width; ++x) {
                        const Point p{x, y};
                        const Point v = Turn(4 - viewOrientation, x, y, view);
                        const Point m = panelToMemory(p);
                        bool reached = r != 0 ? Inside(tiles, m) : (backBuffer ? Inside(even, v) : true);
                        if (device.drawsThroughViewport) reached &= !IsRectEmpty(rows) && y >= rows.top && y < rows.bottom;
                        if (device.copiesByDma) reached &= Inside(dma, m);
                        if (device.mediaQMs >= 0) {
                            const int64_t at = int64_t(m.y) * native.pitch + 2 * int64_t(m.x);
                            reached &= at >= bandStart && at < bandEnd;
                        }
                        const uint16_t expected = reached ? SecondPattern(v) : FirstPattern(v);
                        if (shown.At(x, y) != expected && wrong++ < 3)
                            ADD_FAILURE() << "second frame, panel (" << x << ", " << y << "): " << std::hex
                                          << shown.At(x, y) << " expected " << expected;
                    }
                }
                EXPECT_TRUE(platform::DisplayDeviceGuardsIntact());
                DestroyCanvas(canvas);
                platform::FreeBlock(canvas);
            }
        }
    }
}

}  // namespace
}  // namespace qob
