// platform/window_manager.h
// The in-process window manager: window classes, windows with their tree,
// owners, z-order, visibility, focus, activation and capture, sent and posted
// messages, timers, painting requests, the device screen and the idle policy.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/handles.h"
#include "platform/message_queue.h"
#include "platform/surface.h"

namespace qob::platform {

using LRESULT = intptr_t;
using UINT = uint32_t;
using ATOM = uint16_t;
using HDC = uintptr_t;
using HBRUSH = uintptr_t;
using HINSTANCE = uintptr_t;
using HMENU = uintptr_t;

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
using TIMERPROC = void (*)(HWND, UINT, uintptr_t, uint32_t);

// --- messages ------------------------------------------------------------------------

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_ACTIVATE = 0x0006;
constexpr UINT WM_SETFOCUS = 0x0007;
constexpr UINT WM_KILLFOCUS = 0x0008;
constexpr UINT WM_ENABLE = 0x000A;
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_GETTEXT = 0x000D;
constexpr UINT WM_GETTEXTLENGTH = 0x000E;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_ERASEBKGND = 0x0014;
constexpr UINT WM_SHOWWINDOW = 0x0018;
constexpr UINT WM_SETTINGCHANGE = 0x001A;
constexpr UINT WM_WINDOWPOSCHANGED = 0x0047;
constexpr UINT WM_NOTIFY = 0x004E;
constexpr UINT WM_SETFONT = 0x0030;
constexpr UINT WM_GETFONT = 0x0031;
constexpr UINT WM_NCDESTROY = 0x0082;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_CTLCOLOREDIT = 0x0133;
constexpr UINT WM_CTLCOLORSTATIC = 0x0138;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_MBUTTONDBLCLK = 0x0209;
constexpr UINT WM_CAPTURECHANGED = 0x0215;
constexpr UINT WM_USER = 0x0400;

constexpr WPARAM MK_LBUTTON = 0x0001;
constexpr WPARAM WA_INACTIVE = 0;
constexpr WPARAM WA_ACTIVE = 1;
constexpr WPARAM WA_CLICKACTIVE = 2;
constexpr WPARAM SIZE_RESTORED = 0;

// --- styles ---------------------------------------------------------------------------

constexpr uint32_t WS_POPUP = 0x80000000u;
constexpr uint32_t WS_CHILD = 0x40000000u;
constexpr uint32_t WS_VISIBLE = 0x10000000u;
constexpr uint32_t WS_DISABLED = 0x08000000u;
constexpr uint32_t WS_BORDER = 0x00800000u;
constexpr uint32_t WS_DLGFRAME = 0x00400000u;
constexpr uint32_t WS_CAPTION = 0x00C00000u;  // WS_BORDER | WS_DLGFRAME: a caption bar above the client
constexpr uint32_t WS_EX_TOPMOST = 0x00000008u;
// A press on the window does not activate it (pop-up lists keep the focus
// where it was).
constexpr uint32_t WS_EX_NOACTIVATE = 0x08000000u;
// A WS_CAPTION window with an "OK" box in its caption; tapping it posts
// WM_COMMAND IDOK to the window.
constexpr uint32_t WS_EX_CAPTIONOKBTN = 0x80000000u;
// The command id it sends is IDOK (1).

constexpr uint32_t CS_VREDRAW = 0x0001;
constexpr uint32_t CS_HREDRAW = 0x0002;
constexpr uint32_t CS_DBLCLKS = 0x0008;

constexpr int32_t CW_USEDEFAULT = static_cast<int32_t>(0x80000000u);

// ShowWindow commands.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOWMAXIMIZED = 3;
constexpr int SW_SHOWNOACTIVATE = 4;
constexpr int SW_SHOW = 5;
constexpr int SW_MINIMIZE = 6;
constexpr int SW_SHOWNA = 8;

// SetWindowPos.
constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;
constexpr UINT SWP_NOREDRAW = 0x0008;
constexpr UINT SWP_NOACTIVATE = 0x0010;
constexpr UINT SWP_SHOWWINDOW = 0x0040;
constexpr UINT SWP_HIDEWINDOW = 0x0080;
constexpr HWND HWND_TOP = 0;
constexpr HWND HWND_BOTTOM = 1;
constexpr HWND HWND_TOPMOST = static_cast<HWND>(-1);
constexpr HWND HWND_NOTOPMOST = static_cast<HWND>(-2);

// Get/SetWindowLongPtrW.
constexpr int GWL_WNDPROC = -4;
constexpr int GWL_ID = -12;
constexpr int GWL_STYLE = -16;
constexpr int GWL_EXSTYLE = -20;
constexpr int GWL_USERDATA = -21;

// GetWindow.
constexpr UINT GW_HWNDNEXT = 2;
constexpr UINT GW_HWNDPREV = 3;
constexpr UINT GW_OWNER = 4;
constexpr UINT GW_CHILD = 5;

// GetSystemMetrics and SystemParametersInfoW.
constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;
constexpr int SM_CYCAPTION = 4;
constexpr UINT SPI_GETWORKAREA = 48;

// --- records that travel by pointer in messages --------------------------------------
// Scripts receive lParam as a 32-bit number and may read these with peek, so
// the window manager makes them in low memory, with 32-bit handle fields.

struct CREATESTRUCTW {
    uint32_t lpCreateParams;
    uint32_t hInstance;
    uint32_t hMenu;
    uint32_t hwndParent;
    int32_t cy;
    int32_t cx;
    int32_t y;
    int32_t x;
    int32_t style;
    uint32_t lpszName;   // UTF-16 text in low memory
    uint32_t lpszClass;  // UTF-16 text in low memory
    uint32_t dwExStyle;
};

struct WINDOWPOS {
    uint32_t hwnd;
    uint32_t hwndInsertAfter;
    int32_t x;
    int32_t y;
    int32_t cx;
    int32_t cy;
    uint32_t flags;
};

struct NMHDR {
    uint32_t hwndFrom;
    uint32_t idFrom;
    uint32_t code;
};

struct PAINTSTRUCT {
    HDC hdc;
    int32_t fErase;
    RECT rcPaint;
};

// --- classes ---------------------------------------------------------------------------

struct WNDCLASSW {
    UINT style = 0;
    WNDPROC lpfnWndProc = nullptr;
    int32_t cbClsExtra = 0;
    int32_t cbWndExtra = 0;
    HINSTANCE hInstance = 0;
    uintptr_t hIcon = 0;
    uintptr_t hCursor = 0;  // kept exactly: 0 and 1 tell form and dialog classes apart
    HBRUSH hbrBackground = 0;
    const char16_t* lpszMenuName = nullptr;
    const char16_t* lpszClassName = nullptr;
};

// Registers a class; its name matches case-insensitively. 0 when the name is
// empty or already registered, or the class has no procedure.
[[nodiscard]] ATOM RegisterClassW(const WNDCLASSW* windowClass);
// False while a window of the class exists, or when the name is not registered.
bool UnregisterClassW(const char16_t* className, HINSTANCE instance);
// The class as registered (its name pointer the window manager's copy).
bool GetClassInfoW(HINSTANCE instance, const char16_t* className, WNDCLASSW* out);
// The class name of a window (at most count - 1 units, terminated); 0 for a dead window.
int GetClassNameW(HWND window, char16_t* buffer, int count);

// --- windows ----------------------------------------------------------------------------

// Creates a window: WM_CREATE (lParam a CREATESTRUCTW) goes to its procedure,
// then WM_SIZE and WM_MOVE; a procedure answering -1 to WM_CREATE destroys it
// again and the result is 0. WS_VISIBLE shows it as ShowWindow(SW_SHOW) does.
// CW_USEDEFAULT in x or width gives the work area. Sizes are clamped to
// 0..32767. A WS_CHILD window needs a live parent; any other window takes the
// parent as its owner.
[[nodiscard]] HWND CreateWindowExW(uint32_t exStyle, const char16_t* className, const char16_t* title,
                                   uint32_t style, int32_t x, int32_t y, int32_t width, int32_t height,
                                   HWND parent, HMENU menuOrId, HINSTANCE instance, void* createParams);

// Destroys the window: hides it, destroys the pop-ups it owns, sends
// WM_DESTROY to it and then to its children (parents first), WM_NCDESTROY
// children first, and then gives focus, activation and capture to the
// windows left. A window being destroyed already is left to that call.
bool DestroyWindow(HWND window);

[[nodiscard]] bool IsWindow(HWND window);
[[nodiscard]] bool IsWindowVisible(HWND window);  // the window and all its parents
[[nodiscard]] bool IsWindowEnabled(HWND window);
[[nodiscard]] bool IsChild(HWND parent, HWND window);

// Gives a window that is no child a new owner (the window keeps its place on
// the screen). False, changing nothing, for a dead window, a child, an owner
// that is 0, dead, the window itself or one the window already owns.
bool SetWindowOwner(HWND window, HWND owner);

// The parent of a WS_CHILD window, the owner of any other.
[[nodiscard]] HWND GetParent(HWND window);
[[nodiscard]] HWND GetWindow(HWND window, UINT relation);
[[nodiscard]] HWND GetDesktopWindow();

// Shows or hides the window. Only a change does something: WM_SHOWWINDOW goes
// to the window first, while its visibility is still the old one, and a
// ShowWindow of the same window nested in that message does nothing. Showing
// a top-level window (other than SW_SHOWNA and SW_SHOWNOACTIVATE) brings it
// to the front and activates it; hiding the active window activates the next
// one. The result is whether the window was visible before.
bool ShowWindow(HWND window, int command);

bool SetWindowPos(HWND window, HWND insertAfter, int32_t x, int32_t y, int32_t width, int32_t height, UINT flags);
bool MoveWindow(HWND window, int32_t x, int32_t y, int32_t width, int32_t height, bool repaint);
bool BringWindowToTop(HWND window);

// Window rectangle in screen coordinates; client rectangle from (0, 0).
bool GetWindowRect(HWND window, RECT* rect);
bool GetClientRect(HWND window, RECT* rect);
bool ClientToScreen(HWND window, POINT* point);
bool ScreenToClient(HWND window, POINT* point);

// Enables or disables the window (WM_ENABLE on a change; a window that loses
// its enabled state loses the focus too). The result: whether it was disabled.
bool EnableWindow(HWND window, bool enable);

HWND SetFocus(HWND window);  // WM_KILLFOCUS to the old focus, WM_SETFOCUS to the new
[[nodiscard]] HWND GetFocus();
HWND SetActiveWindow(HWND window);  // WM_ACTIVATE to the old and the new active window
[[nodiscard]] HWND GetActiveWindow();
bool SetForegroundWindow(HWND window);
[[nodiscard]] HWND GetForegroundWindow();
HWND SetCapture(HWND window);
bool ReleaseCapture();
[[nodiscard]] HWND GetCapture();

// Window text through WM_SETTEXT / WM_GETTEXT.
bool SetWindowTextW(HWND window, const char16_t* text);
int GetWindowTextW(HWND window, char16_t* buffer, int count);
[[nodiscard]] int GetWindowTextLengthW(HWND window);
// The stored title directly (no message), for the shell and tests.
[[nodiscard]] std::u16string WindowTitle(HWND window);

// GWL_WNDPROC (subclassing: the old procedure is the result), GWL_USERDATA,
// GWL_STYLE, GWL_EXSTYLE, GWL_ID, or a byte offset into the class's extra
// window bytes (a word of pointer size). 0 for a dead window or a bad index.
intptr_t GetWindowLongPtrW(HWND window, int index);
intptr_t SetWindowLongPtrW(HWND window, int index, intptr_t value);
LRESULT CallWindowProcW(WNDPROC procedure, HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The first top-level window whose class and title match (null: any).
[[nodiscard]] HWND FindWindowW(const char16_t* className, const char16_t* title);

// Calls visit for each top-level window, front to back, until it returns false.
void EnumWindows(bool (*visit)(HWND window, void* user), void* user);

// --- messages ------------------------------------------------------------------------

// Runs the window's procedure at once and returns its result; a window that
// is destroyed meanwhile keeps its memory until the outermost call returns.
// 0 for a dead window.
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The default processing: WM_CLOSE destroys the window, WM_PAINT validates
// it, WM_ERASEBKGND fills it with the class background, WM_SETTEXT /
// WM_GETTEXT / WM_GETTEXTLENGTH keep the title, WM_WINDOWPOSCHANGED sends
// WM_SIZE and WM_MOVE, WM_ACTIVATE gives the focus to an activated window.
LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Takes the next message of the calling thread: posted messages (input among
// them) in order first, then WM_PAINT for a window that needs painting, then
// WM_TIMER for a timer that is due. A window filter of 0 takes every
// message; first/last 0 take every number. PM_REMOVE takes the message out.
// Under the test clock, a look that finds nothing moves time on to the next
// timer or scheduled input, or by 1 ms when there is none; with nothing due
// ever, the idle policy Close sends its WM_CLOSE messages (a polling loop
// would wait for ever).
[[nodiscard]] bool PeekMessageW(MSG* message, HWND window, UINT first, UINT last, UINT removeFlags);

// Waits for the next message as PeekMessageW takes it: 1 for a message, 0 for
// WM_QUIT. The wait sleeps until a post (also from another thread), input,
// the next timer or scheduled input. When nothing could ever arrive, the
// idle policy decides; -1 when it gives up (IdlePolicy::Close with nothing
// left to close, IdlePolicy::Fail).
[[nodiscard]] int GetMessageW(MSG* message, HWND window, UINT first, UINT last);

// Waits until a message can be taken (a post, input, a window to paint, a
// timer due) or timeoutMs milliseconds have passed, and takes nothing: 1 when
// a message is there, 0 when the time passed. It blocks, the wait wrapper
// around it, until the deadline or the next timer or scheduled input; under
// the test clock it moves time on to the nearer of those instead. A wait of
// 0xFFFFFFFF has no deadline: when nothing could ever arrive, the idle policy
// decides as for GetMessageW, and -1 tells that it gave up.
[[nodiscard]] int WaitForMessage(uint32_t timeoutMs);

// Posts WM_CHAR for a WM_KEYDOWN of a key that types a character; true then.
bool TranslateMessage(const MSG* message);

// Runs the message's window procedure (a WM_TIMER with a timer procedure
// runs that instead); nothing for a thread message or a dead window. A
// window still needing paint after its WM_PAINT is validated here, so that a
// procedure that never validates cannot make WM_PAINT come back for ever.
// (The device would repeat it; a loop that pumps until the queue is empty
// must end.)
LRESULT DispatchMessageW(const MSG* message);

// Timers: WM_TIMER for the window (or the timer procedure) every interval
// milliseconds; an existing id of the window is set again. The id, or 0.
uintptr_t SetTimer(HWND window, uintptr_t id, UINT milliseconds, TIMERPROC procedure);
bool KillTimer(HWND window, uintptr_t id);

// --- painting --------------------------------------------------------------------------

// Adds the rectangle (null: the whole client area) to the update region.
bool InvalidateRect(HWND window, const RECT* rect, bool erase);
bool ValidateRect(HWND window, const RECT* rect);
// Sends WM_PAINT now when the window needs painting.
bool UpdateWindow(HWND window);
// The bounding rectangle of the update region; false when there is none.
bool GetUpdateRect(HWND window, RECT* rect, bool erase);

// Sends WM_ERASEBKGND when the update region asks for it, validates the
// window and gives a DC clipped to the update region.
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
bool EndPaint(HWND window, const PAINTSTRUCT* paint);

// Where a window draws: its top-level window's surface, the origin at its
// client area (or whole window), clipped to it and its parents and to the
// screen. False for a dead window, or one with nothing on the screen.
bool GetWindowDrawTarget(HWND window, bool wholeWindow, DrawTarget* target);

// Device contexts of a window (its draw target, see platform/gdi.h): the
// client area, or the whole window; ReleaseDC gives one back.
HDC GetDC(HWND window);
HDC GetWindowDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
// Tells the screen that something drew into the window through a DC kept
// across frames (ReleaseDC tells it for the others).
void NoteWindowDrawn(HWND window);

// --- the screen and the shell -------------------------------------------------------

// The screen's size: 240 x 320 unless QOB_SCREEN=WxH (a malformed value is
// reported once on standard error and the default used).
[[nodiscard]] SIZE ScreenSize();
[[nodiscard]] int GetSystemMetrics(int index);
bool SystemParametersInfoW(UINT action, UINT parameter, void* value, UINT winIni);

// The screen built bottom to top from the top-level windows' surfaces;
// ComposeScreen brings it up to date and says whether it changed since the
// last call.
bool ComposeScreen();
[[nodiscard]] const Surface32& ScreenSurface();

// The caption bar's height (SM_CYCAPTION) and the width of its OK box.
constexpr int32_t kCaptionHeight = 24;
constexpr int32_t kCaptionOkWidth = 26;
// The OK box of a window's caption on the screen; empty when it has none.
[[nodiscard]] RECT CaptionOkRect(HWND window);

// --- the idle policy ---------------------------------------------------------------

// What GetMessageW does when nothing could ever arrive: wait (a screen is
// shown, the user may act), close (post WM_CLOSE to the visible top-level
// windows, front first; give up when that was done already), or fail.
enum class IdlePolicy { Wait, Close, Fail };
void SetIdlePolicy(IdlePolicy policy);
[[nodiscard]] IdlePolicy GetIdlePolicy();
// WM_CLOSE to each visible top-level window (not the shell's) that has not
// had one from the idle policy yet, front first; false when there was none.
// Closing the screen window does this too.
bool CloseVisibleWindows();

// Whether the idle policy Fail was met since the last call (and clears it).
[[nodiscard]] bool TakeIdleFailure();

// A blocking wait runs inside this wrapper, so that the caller can give up a
// lock of its own around it (the window layer's interpreter lock). Default:
// the wait runs as it is.
using WaitWrapper = void (*)(void (*wait)(void* argument), void* argument);
void SetWaitWrapper(WaitWrapper wrapper);

// The screen's presenter (the SDL back end): it is told when the screen may
// have changed, and it waits for its own events alongside the queue. Null:
// headless.
struct ScreenPresenter {
    virtual ~ScreenPresenter() = default;
    // Presents the screen when it changed (at most once per refresh).
    virtual void Present() = 0;
    // Waits up to timeoutMs for the presenter's own events (turning them into
    // input) or a post; returns at once when a post arrives.
    virtual void Wait(uint32_t timeoutMs) = 0;
    // Takes the events that are waiting, turning them into input.
    virtual void Poll() = 0;
    // Wakes a Wait from another thread.
    virtual void Wake() = 0;
};
void SetScreenPresenter(ScreenPresenter* presenter);

// Forgets every window, class, timer, scheduled input and the shell's
// windows; the screen size is read again. For tests and the end of the process.
void ResetWindowManager();

// Counts of live windows and classes (tests check nothing is left).
[[nodiscard]] int LiveWindowCount();

}  // namespace qob::platform
