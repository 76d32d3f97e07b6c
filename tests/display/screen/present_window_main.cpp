// tests/display/screen/present_window_main.cpp
// A frame of a simulated device on the screen: selects the device, opens the
// screen window (SDL2 when DISPLAY is set, headless otherwise), a game window
// over the whole screen and a display over it in the asked orientation, draws
// one frame by the rule below, presents it and writes the screen as raw RGB
// bytes.
//
//   present_window show DEVICE ORIENTATION OUT.rgb STOPFILE
//     prints "driver NAME" for the driver the display chose (under the
//     rotation driver, when it turns the frame), then "shown" once the frame
//     is presented, then keeps the window up (pumping its messages) until
//     STOPFILE exists or 30 seconds passed.
//   present_window compare DEVICE ORIENTATION SHOT.rgb
//     status 0 when every pixel of SHOT (raw RGB of the screen's size) is
//     the frame's, each 8-bit channel truncated to 5, 6 and 5 bits.
//
// DEVICE: "desktop" (the window layer's own display), "xscale" (an XScale
// LCD controller) or "mediaq" (a MediaQ graphics chip whose detection finds
// writing its frame buffer slow). On the last two the display writes the
// panel in video memory and then shows it in the window.
//
// The rule, in the coordinates of the view the program draws into: red
// grows along x, green along y, blue marks a one-pixel grid every 8 pixels
// and a filled square at the view's top-left corner, so that a turn, a shift
// or a mirror of the frame all show.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "display/chip_drivers.h"
#include "display/display_canvas.h"
#include "display/gdi_driver.h"
#include "display/hardware_profiles.h"
#include "display/lcd_drivers.h"
#include "display/rotation_driver.h"
#include "platform/clock.h"
#include "platform/display_device.h"
#include "platform/gdi.h"
#include "platform/memory.h"
#include "platform/message_queue.h"
#include "platform/sdl/sdl_screen.h"
#include "platform/window_manager.h"

namespace {

using namespace qob;

uint16_t RulePixel(int32_t x, int32_t y) {
    const uint32_t red = uint32_t(x * 31 / 319) & 0x1F;
    const uint32_t green = uint32_t(y * 63 / 319) & 0x3F;
    const bool corner = x < 16 && y < 24;
    const uint32_t blue = corner ? 0x1F : (x % 8 == 0 || y % 8 == 0) ? 0x14 : 0x03;
    return static_cast<uint16_t>(red << 11 | green << 5 | blue);
}

// The screen's picture: the view turned onto the upright panel. r is the
// quarter turns from the view to the panel (the rotation driver's mapping).
std::vector<uint16_t> ExpectedScreen(int32_t orientation, int32_t width, int32_t height) {
    const int32_t r = (4 - orientation % 4) % 4;
    const int32_t viewWidth = r % 2 ? height : width, viewHeight = r % 2 ? width : height;
    std::vector<uint16_t> screen(size_t(width) * size_t(height));
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            int32_t vx = x, vy = y;
            if (r == 1) vx = y, vy = viewHeight - 1 - x;
            if (r == 2) vx = viewWidth - 1 - x, vy = viewHeight - 1 - y;
            if (r == 3) vx = viewWidth - 1 - y, vy = x;
            screen[size_t(y) * size_t(width) + size_t(x)] = RulePixel(vx, vy);
        }
    return screen;
}

bool SelectDevice(const char* name) {
    if (std::strcmp(name, "desktop") == 0)
        platform::SelectDisplayDevice(platform::DesktopDisplayProfile());
    else if (std::strcmp(name, "xscale") == 0)
        platform::SelectDisplayDevice(testing::XScaleProfile());
    else if (std::strcmp(name, "mediaq") == 0)
        platform::SelectDisplayDevice(testing::MediaQProfile());
    else
        return false;
    return true;
}

const char* DriverName(const Canvas* canvas) {
    const Driver* driver = reinterpret_cast<const DisplayCanvas*>(canvas)->display->Base().GetDriver();
    if (auto* rotation = dynamic_cast<const RotationDriver*>(driver)) driver = &rotation->Inner();
    if (dynamic_cast<const XScaleDriver*>(driver)) return "xscale";
    if (dynamic_cast<const SlowFbDriver*>(driver)) return "slowfb";
    if (dynamic_cast<const GdiDriver*>(driver)) return "gdi";
    return "other";
}

platform::LRESULT GameProcedure(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                                platform::LPARAM lParam) {
    return platform::DefWindowProcW(window, message, wParam, lParam);
}

void Pump() {
    platform::MSG message;
    while (platform::PeekMessageW(&message, 0, 0, 0, platform::PM_REMOVE)) platform::DispatchMessageW(&message);
}

int Compare(const char* device, int32_t orientation, const char* path) {
    if (!SelectDevice(device)) return 2;
    const platform::SIZE size = platform::ScreenSize();
    std::ifstream file(path, std::ios::binary);
    std::vector<uint8_t> shot((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (shot.size() != size_t(size.cx) * size_t(size.cy) * 3) {
        std::printf("the shot holds %zu bytes, not %d x %d x 3\n", shot.size(), size.cx, size.cy);
        return 1;
    }
    const std::vector<uint16_t> expected = ExpectedScreen(orientation, size.cx, size.cy);
    int differing = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
        const uint8_t* rgb = &shot[3 * i];
        const uint16_t seen = static_cast<uint16_t>((rgb[0] >> 3) << 11 | (rgb[1] >> 2) << 5 | rgb[2] >> 3);
        if (seen != expected[i] && differing++ < 5)
            std::printf("pixel (%zu, %zu): %04X, the frame's %04X\n", i % size_t(size.cx), i / size_t(size.cx), seen,
                        expected[i]);
    }
    if (differing) std::printf("%d pixels differ from the frame\n", differing);
    return differing == 0 ? 0 : 1;
}

int Show(const char* device, int32_t orientation, const char* out, const char* stop) {
    const bool windowed = platform::StartSdlScreen();
    if (!SelectDevice(device)) return 2;
    const platform::SIZE size = platform::ScreenSize();
    platform::WNDCLASSW windowClass;
    windowClass.lpfnWndProc = &GameProcedure;
    windowClass.lpszClassName = u"QobGame";
    if (!platform::RegisterClassW(&windowClass)) return 2;
    const platform::HWND window = platform::CreateWindowExW(0, u"QobGame", u"game", platform::WS_POPUP | platform::WS_VISIBLE,
                                                            0, 0, size.cx, size.cy, 0, 0, 0, nullptr);
    DisplayParams params{0, 0, orientation, 1};
    // The MediaQ's detection times its writes of the frame buffer: a
    // scripted clock makes them slow, and only for the detection.
    if (std::strcmp(device, "mediaq") == 0) testing::ScriptMediaQTiming(20);
    Canvas* canvas = window ? CreateDisplayCanvas(window, &params) : nullptr;
    platform::ClearTestClock();
    if (!canvas) {
        std::printf("no display\n");
        return 2;
    }
    std::printf("driver %s\n", DriverName(canvas));
    PixelSurface* frame = CanvasBeginScene(canvas);
    if (!frame) return 2;
    for (int32_t y = 0; y < frame->buffer->height; ++y)
        for (int32_t x = 0; x < frame->buffer->width; ++x) *PixelAt(*frame->buffer, x, y) = RulePixel(x, y);
    CanvasUpdate(canvas, nullptr);
    // Pumping presents the screen (at most once per refresh).
    for (int i = 0; i < 10; ++i) {
        Pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    platform::ComposeScreen();
    const platform::Surface32& screen = platform::ScreenSurface();
    std::vector<uint8_t> rgb;
    const std::vector<uint16_t> expected = ExpectedScreen(orientation, screen.width, screen.height);
    int differing = 0;
    for (int32_t y = 0; y < screen.height; ++y)
        for (int32_t x = 0; x < screen.width; ++x) {
            const uint32_t pixel = screen.pixels[size_t(y) * size_t(screen.stride) + size_t(x)];
            rgb.insert(rgb.end(), {uint8_t(pixel >> 16), uint8_t(pixel >> 8), uint8_t(pixel)});
            differing += platform::PixelTo565(pixel) != expected[size_t(y) * size_t(screen.width) + size_t(x)];
        }
    std::ofstream(out, std::ios::binary).write(reinterpret_cast<const char*>(rgb.data()), std::streamsize(rgb.size()));
    if (differing) {
        std::printf("the screen surface differs from the frame in %d pixels\n", differing);
        return 1;
    }
    std::printf("shown %s\n", windowed ? "in the screen window" : "headless");
    std::fflush(stdout);
    if (windowed) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < end && !std::ifstream(stop)) {
            Pump();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    DestroyCanvas(canvas);
    platform::FreeBlock(canvas);
    platform::DestroyWindow(window);
    platform::StopSdlScreen();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "show") == 0) return Show(argv[2], std::atoi(argv[3]), argv[4], argv[5]);
    if (argc == 5 && std::strcmp(argv[1], "compare") == 0) return Compare(argv[2], std::atoi(argv[3]), argv[4]);
    std::fprintf(stderr,
                 "usage: present_window show DEVICE ORIENTATION OUT.rgb STOPFILE | compare DEVICE ORIENTATION SHOT.rgb\n");
    return 2;
}
