// platform/sdl/sdl_screen.cpp
// The SDL2 screen window. SDL is loaded when the window opens, not linked
// (linking would load its libraries at every start of every program).
#include "platform/sdl/sdl_screen.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/clock.h"
#include "platform/cursor.h"
#include "platform/gdi.h"
#include "platform/input.h"
#include "platform/message_queue.h"
#include "platform/window_manager.h"

#ifdef QOB_WITH_SDL2
#include <SDL.h>
#include <dlfcn.h>

#include <type_traits>
#endif

namespace qob::platform {

std::optional<int> ParseScale(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > 8) return std::nullopt;
    return value;
}

#ifdef QOB_WITH_SDL2

// Letters and digits are their own virtual keys; the keypad's digits and
// operators have keys of their own, its Enter is Enter. Both shift, control
// and alt keys give the one generic key of each.
uint32_t VirtualKeyOfSdlKeycode(int32_t keycode) {
    const SDL_Keycode key = keycode;
    if (key >= SDLK_a && key <= SDLK_z) return static_cast<uint32_t>('A' + (key - SDLK_a));
    if (key >= SDLK_0 && key <= SDLK_9) return static_cast<uint32_t>('0' + (key - SDLK_0));
    if (key >= SDLK_F1 && key <= SDLK_F12) return static_cast<uint32_t>(0x70 + (key - SDLK_F1));
    if (key >= SDLK_KP_1 && key <= SDLK_KP_9) return static_cast<uint32_t>(0x61 + (key - SDLK_KP_1));
    switch (key) {
    case SDLK_BACKSPACE: return 0x08;
    case SDLK_TAB: return 0x09;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return 0x0D;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT: return 0x10;
    case SDLK_LCTRL:
    case SDLK_RCTRL: return 0x11;
    case SDLK_LALT:
    case SDLK_RALT: return 0x12;
    case SDLK_PAUSE: return 0x13;
    case SDLK_CAPSLOCK: return 0x14;
    case SDLK_ESCAPE: return 0x1B;
    case SDLK_SPACE: return 0x20;
    case SDLK_PAGEUP: return 0x21;
    case SDLK_PAGEDOWN: return 0x22;
    case SDLK_END: return 0x23;
    case SDLK_HOME: return 0x24;
    case SDLK_LEFT: return 0x25;
    case SDLK_UP: return 0x26;
    case SDLK_RIGHT: return 0x27;
    case SDLK_DOWN: return 0x28;
    case SDLK_INSERT: return 0x2D;
    case SDLK_DELETE: return 0x2E;
    case SDLK_KP_0: return 0x60;
    case SDLK_KP_MULTIPLY: return 0x6A;
    case SDLK_KP_PLUS: return 0x6B;
    case SDLK_KP_MINUS: return 0x6D;
    case SDLK_KP_PERIOD: return 0x6E;
    case SDLK_KP_DIVIDE: return 0x6F;
    case SDLK_SEMICOLON: return 0xBA;
    case SDLK_EQUALS: return 0xBB;
    case SDLK_COMMA: return 0xBC;
    case SDLK_MINUS: return 0xBD;
    case SDLK_PERIOD: return 0xBE;
    case SDLK_SLASH: return 0xBF;
    case SDLK_BACKQUOTE: return 0xC0;
    case SDLK_LEFTBRACKET: return 0xDB;
    case SDLK_BACKSLASH: return 0xDC;
    case SDLK_RIGHTBRACKET: return 0xDD;
    case SDLK_QUOTE: return 0xDE;
    default: return 0;
    }
}

namespace {

constexpr uint32_t kRefreshMs = 16;

struct SdlVideoCalls {
    decltype(&SDL_Init) init = nullptr;
    decltype(&SDL_Quit) quit = nullptr;
    decltype(&SDL_GetError) getError = nullptr;
    decltype(&SDL_CreateWindow) createWindow = nullptr;
    decltype(&SDL_DestroyWindow) destroyWindow = nullptr;
    decltype(&SDL_CreateRenderer) createRenderer = nullptr;
    decltype(&SDL_DestroyRenderer) destroyRenderer = nullptr;
    decltype(&SDL_CreateTexture) createTexture = nullptr;
    decltype(&SDL_DestroyTexture) destroyTexture = nullptr;
    decltype(&SDL_UpdateTexture) updateTexture = nullptr;
    decltype(&SDL_RenderClear) renderClear = nullptr;
    decltype(&SDL_RenderCopy) renderCopy = nullptr;
    decltype(&SDL_RenderPresent) renderPresent = nullptr;
    decltype(&SDL_PollEvent) pollEvent = nullptr;
    decltype(&SDL_WaitEventTimeout) waitEventTimeout = nullptr;
    decltype(&SDL_PushEvent) pushEvent = nullptr;
    decltype(&SDL_RegisterEvents) registerEvents = nullptr;
    // Optional: without them the pointer never changes.
    decltype(&SDL_CreateSystemCursor) createSystemCursor = nullptr;
    decltype(&SDL_SetCursor) setCursor = nullptr;
};

const SdlVideoCalls* LoadSdlVideo() {
    static const SdlVideoCalls* loaded = []() -> const SdlVideoCalls* {
        void* library = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!library) return nullptr;
        static SdlVideoCalls calls;
        auto find = [library](auto& slot, const char* name) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(dlsym(library, name));
            return slot != nullptr;
        };
        const bool found =
            find(calls.init, "SDL_Init") && find(calls.quit, "SDL_Quit") && find(calls.getError, "SDL_GetError") &&
            find(calls.createWindow, "SDL_CreateWindow") && find(calls.destroyWindow, "SDL_DestroyWindow") &&
            find(calls.createRenderer, "SDL_CreateRenderer") && find(calls.destroyRenderer, "SDL_DestroyRenderer") &&
            find(calls.createTexture, "SDL_CreateTexture") && find(calls.destroyTexture, "SDL_DestroyTexture") &&
            find(calls.updateTexture, "SDL_UpdateTexture") && find(calls.renderClear, "SDL_RenderClear") &&
            find(calls.renderCopy, "SDL_RenderCopy") && find(calls.renderPresent, "SDL_RenderPresent") &&
            find(calls.pollEvent, "SDL_PollEvent") && find(calls.waitEventTimeout, "SDL_WaitEventTimeout") &&
            find(calls.pushEvent, "SDL_PushEvent") && find(calls.registerEvents, "SDL_RegisterEvents");
        find(calls.createSystemCursor, "SDL_CreateSystemCursor");
        find(calls.setCursor, "SDL_SetCursor");
        return found ? &calls : nullptr;
    }();
    return loaded;
}

// The modifier keys held with a key, for accelerators.
uint32_t Modifiers(uint16_t held) {
    uint32_t modifiers = 0;
    if (held & KMOD_SHIFT) modifiers |= kModifierShift;
    if (held & KMOD_CTRL) modifiers |= kModifierControl;
    if (held & KMOD_ALT) modifiers |= kModifierAlt;
    return modifiers;
}

class SdlScreen final : public ScreenPresenter {
public:
    bool Open(const SdlVideoCalls* calls, int scale) {
        sdl = calls;
        this->scale = scale;
        const SIZE size = ScreenSize();
        window = sdl->createWindow("QOB", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, size.cx * scale,
                                   size.cy * scale, 0);
        if (!window) return false;
        renderer = sdl->createRenderer(window, -1, SDL_RENDERER_PRESENTVSYNC);
        if (!renderer) renderer = sdl->createRenderer(window, -1, 0);
        if (!renderer) return false;
        texture = sdl->createTexture(renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, size.cx, size.cy);
        wakeEvent = sdl->registerEvents(1);
        return texture != nullptr;
    }

    void Close() {
        if (texture) sdl->destroyTexture(texture);
        if (renderer) sdl->destroyRenderer(renderer);
        if (window) sdl->destroyWindow(window);
        texture = nullptr;
        renderer = nullptr;
        window = nullptr;
    }

    void Present() override {
        if (ComposeScreen()) pending = true;
        if (!pending) return;
        const uint32_t now = GetTickCount();
        if (presentedOnce && now - lastPresent < kRefreshMs) return;
        const Surface32& screen = ScreenSurface();
        sdl->updateTexture(texture, nullptr, screen.pixels, screen.stride * 4);
        sdl->renderClear(renderer);
        sdl->renderCopy(renderer, texture, nullptr, nullptr);
        sdl->renderPresent(renderer);
        WriteFrameOnRequest(screen);
        lastPresent = now;
        presentedOnce = true;
        pending = false;
    }

    void Wait(uint32_t timeoutMs) override {
        if (pending) timeoutMs = std::min(timeoutMs, kRefreshMs);
        SDL_Event event;
        if (sdl->waitEventTimeout(&event, static_cast<int>(std::min<uint32_t>(timeoutMs, 0x7FFFFFFF))))
            Handle(event);
        Poll();
    }

    void Poll() override {
        SDL_Event event;
        while (sdl->pollEvent(&event)) Handle(event);
    }

    void Wake() override {
        SDL_Event event{};
        event.type = wakeEvent;
        sdl->pushEvent(&event);
    }

private:
    void Handle(const SDL_Event& event) {
        switch (event.type) {
        case SDL_MOUSEBUTTONDOWN:
            if (event.button.button == SDL_BUTTON_LEFT)
                InjectStylus(event.button.x / scale, event.button.y / scale, StylusAction::Down);
            break;
        case SDL_MOUSEBUTTONUP:
            if (event.button.button == SDL_BUTTON_LEFT)
                InjectStylus(event.button.x / scale, event.button.y / scale, StylusAction::Up);
            break;
        case SDL_MOUSEMOTION:
            if (event.motion.state & SDL_BUTTON_LMASK)
                InjectStylus(event.motion.x / scale, event.motion.y / scale, StylusAction::Move);
            break;
        case SDL_KEYDOWN:
            if (const uint32_t key = VirtualKeyOfSdlKeycode(event.key.keysym.sym))
                InjectKeyWithModifiers(key, Modifiers(event.key.keysym.mod));
            break;
        case SDL_QUIT:
            SetIdlePolicy(IdlePolicy::Close);
            CloseVisibleWindows();
            break;
        case SDL_WINDOWEVENT:
            pending = true;
            presentedOnce = false;
            break;
        default:
            break;
        }
    }

    // QOB_SCREEN_FRAME names a PNG file that receives each frame presented.
    static void WriteFrameOnRequest(const Surface32& screen) {
        const char* path = std::getenv("QOB_SCREEN_FRAME");
        if (path && *path) (void)SaveSurfacePng(screen, path);
    }

    const SdlVideoCalls* sdl = nullptr;
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;
    uint32_t wakeEvent = 0;
    int scale = 1;
    uint32_t lastPresent = 0;
    bool presentedOnce = false;
    bool pending = true;
};

SdlScreen* gScreen = nullptr;

void WakeScreen() {
    if (gScreen) gScreen->Wake();
}

int ScaleFromEnvironment() {
    const char* value = std::getenv("QOB_SCALE");
    if (!value || !*value) return 1;
    if (const std::optional<int> scale = ParseScale(value)) return *scale;
    std::fprintf(stderr, "QOB_SCALE: \"%s\" is not a whole number from 1 to 8; the scale is 1\n", value);
    return 1;
}

// The window's pointer follows the wait cursor of the window layer.
void ShowCursorKind(bool wait) {
    const SdlVideoCalls* sdl = LoadSdlVideo();
    if (!sdl || !sdl->createSystemCursor || !sdl->setCursor) return;
    static SDL_Cursor* arrow = nullptr;
    static SDL_Cursor* waiting = nullptr;
    SDL_Cursor*& cursor = wait ? waiting : arrow;
    if (!cursor) cursor = sdl->createSystemCursor(wait ? SDL_SYSTEM_CURSOR_WAIT : SDL_SYSTEM_CURSOR_ARROW);
    if (cursor) sdl->setCursor(cursor);
}

}  // namespace

bool StartSdlScreen() {
    const char* headless = std::getenv("QOB_HEADLESS");
    const char* display = std::getenv("DISPLAY");
    if ((headless && std::strcmp(headless, "1") == 0) || !display || !*display) return false;
    if (gScreen) return true;
    const SdlVideoCalls* sdl = LoadSdlVideo();
    if (!sdl) {
        std::fprintf(stderr, "qob: no screen window (the SDL2 library cannot be loaded); running headless\n");
        return false;
    }
    if (sdl->init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "qob: no screen window (%s); running headless\n", sdl->getError());
        return false;
    }
    auto* screen = new SdlScreen;
    if (!screen->Open(sdl, ScaleFromEnvironment())) {
        std::fprintf(stderr, "qob: no screen window (%s); running headless\n", sdl->getError());
        screen->Close();
        delete screen;
        sdl->quit();
        return false;
    }
    gScreen = screen;
    SetScreenPresenter(screen);
    SetPostWakeHook(WakeScreen);
    SetCursorListener(ShowCursorKind);
    if (IsWaitCursor(GetCursor())) ShowCursorKind(true);
    return true;
}

void StopSdlScreen() {
    if (!gScreen) return;
    SetPostWakeHook(nullptr);
    SetCursorListener(nullptr);
    SetScreenPresenter(nullptr);
    gScreen->Close();
    delete gScreen;
    gScreen = nullptr;
    if (const SdlVideoCalls* sdl = LoadSdlVideo()) sdl->quit();
}

#else

uint32_t VirtualKeyOfSdlKeycode(int32_t) { return 0; }

bool StartSdlScreen() {
    const char* headless = std::getenv("QOB_HEADLESS");
    const char* display = std::getenv("DISPLAY");
    if ((headless && std::strcmp(headless, "1") == 0) || !display || !*display) return false;
    std::fprintf(stderr, "qob: no screen window (built without SDL2); running headless\n");
    return false;
}

void StopSdlScreen() {}

#endif

}  // namespace qob::platform
