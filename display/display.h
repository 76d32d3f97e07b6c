// display/display.h
// The display: between a window and the screen hardware. It opens the best
// driver for the asked orientation (turned by a rotation driver when needed),
// keeps a back buffer when the driver offers none, takes the screen
// full-screen, and each frame locks the frame buffer and presents a dirty
// rectangle.
#pragma once

#include <cstdint>
#include <memory>

#include "display/driver.h"

namespace qob {

class DibPixelBuffer;

class DisplayBase {
public:
    DisplayBase(const DisplayBase&) = delete;
    DisplayBase& operator=(const DisplayBase&) = delete;
    virtual ~DisplayBase();

    virtual void Resume();
    virtual void Suspend();
    virtual void Repaint();
    [[nodiscard]] virtual bool Initialize(const DisplayParams& params);

    // 1 when a frame buffer is locked (already, or now); 0 when inactive or
    // the driver could not lock one.
    [[nodiscard]] int BeginScene();
    // The buffer to draw into within a scene (the back buffer, else the
    // locked frame buffer); null outside a scene.
    [[nodiscard]] PixelBuffer* GetBackBuffer() const;
    // Null: the whole screen. Else the rectangle kept on the screen (an empty
    // one becomes {0, 0, 0, 0}); the driver sees it, and the display keeps it
    // rounded out to even columns and rows, within the screen.
    void SetDirtyRect(const Rect* rect);
    // Copies the dirty rectangle of the back buffer to the frame buffer and
    // lets the driver present it; ends the scene. 0 outside a scene or when
    // inactive.
    int Present(uint32_t flags);

    [[nodiscard]] int32_t Width() const { return width; }
    [[nodiscard]] int32_t Height() const { return height; }
    [[nodiscard]] int32_t Orientation() const { return orientation; }
    [[nodiscard]] int32_t SwapEffect() const { return swapEffect; }
    [[nodiscard]] const Rect& DirtyRect() const { return dirty; }
    [[nodiscard]] bool FullPitch() const { return fullPitch; }
    [[nodiscard]] bool IsActive() const { return active; }
    [[nodiscard]] Driver* GetDriver() const { return driver.get(); }
    [[nodiscard]] bool HasBackBuffer() const { return backBuffer != nullptr; }

protected:
    explicit DisplayBase(uintptr_t window) : window(window) {}
    [[nodiscard]] virtual std::unique_ptr<Driver> MakeDriver(const DisplayParams& params) = 0;
    // After each present, once the driver has shown the frame.
    virtual void Presented() {}

    uintptr_t window;

private:
    int32_t width = 0;
    int32_t height = 0;
    int32_t orientation = 0;
    int32_t swapEffect = 0;
    std::unique_ptr<Driver> driver;
    PixelBuffer* backBuffer = nullptr;  // owned
    PixelBuffer* locked = nullptr;      // the driver's, within a scene
    Rect dirty{0, 0, 0, 0};
    bool fullPitch = false;
    bool active = true;
};

// The display over a window of this system: it subclasses the window (to
// follow activation, painting and destruction), gives all keys to the
// program and hides the task bar while it is active.
class DisplayCE : public DisplayBase {
public:
    explicit DisplayCE(uintptr_t window) : DisplayBase(window) {}
    ~DisplayCE() override;

    void Resume() override;
    void Suspend() override;
    [[nodiscard]] bool Initialize(const DisplayParams& params) override;

protected:
    [[nodiscard]] std::unique_ptr<Driver> MakeDriver(const DisplayParams& params) override;
    // A driver other than the GDI driver shows its frames on the simulated
    // device's panel, which the window then shows.
    void Presented() override;

private:
    bool showsPanel = false;
    DibPixelBuffer* panelCopy = nullptr;  // owned: the panel's picture on its way into the window
};

// The handle callers hold.
class Display {
public:
    // A display for the window, or null when no driver serves the params or
    // the window cannot be used. On success params receive the final width,
    // height, orientation and swap effect (a swap effect of 0 is taken as 1).
    [[nodiscard]] static std::unique_ptr<Display> Create(uintptr_t window, DisplayParams& params);

    [[nodiscard]] DisplayBase& Base() const { return *display; }

private:
    explicit Display(std::unique_ptr<DisplayCE> display) : display(std::move(display)) {}
    std::unique_ptr<DisplayCE> display;
};

int DisplayBeginScene(Display* display);
[[nodiscard]] PixelBuffer* DisplayGetBackBuffer(Display* display);
void DisplaySetDirtyRect(Display* display, const Rect* rect);
int DisplayPresent(Display* display, uint32_t flags);

// The most windows subclassed at once.
constexpr int32_t kMaxSubclassedWindows = 16;

// The window procedure the display installs.
intptr_t DisplayWindowProcedure(uintptr_t window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// How many windows are subclassed now.
[[nodiscard]] int32_t CountSubclassedWindows();

// Forgets every process-wide state of the display library (the probe, the
// remembered window, the subclass table, the cached model and processor
// type, the library bindings), so that the next display probes the active
// device afresh. For tests that switch devices; no display may be open.
void ResetDisplayStatics();

}  // namespace qob
