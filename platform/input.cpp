// platform/input.cpp
// Stylus and key input turned into posted messages, and input scheduled on
// the clock. Hit-testing and activation happen when the input is delivered.

#include "platform/input.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/clock.h"
#include "platform/text_codec.h"
#include "platform/window_manager/internal.h"

namespace qob::platform {

using namespace wm;

namespace {

constexpr uint32_t kDoubleClickMs = 500;
constexpr int32_t kDoubleClickDistance = 4;

// Scheduled input may be added from another thread (a presenter); the pump
// takes it on its own thread.
struct Schedule {
    std::mutex lock;
    std::vector<ScheduledInput> waiting;  // in time order, ties in order of scheduling
};

Schedule& TheSchedule() {
    static Schedule* schedule = new Schedule;
    return *schedule;
}

bool stylusDown = false;

LPARAM PackPoint(int32_t x, int32_t y) {
    return static_cast<LPARAM>(static_cast<uint16_t>(x)) | (static_cast<LPARAM>(static_cast<uint16_t>(y)) << 16);
}

bool Accepts(const Window* window) {
    return (window->style & WS_VISIBLE) && !(window->style & WS_DISABLED) && window->procedure;
}

// The deepest visible enabled child at the screen point (the window itself when none).
Window* ChildAt(Window* window, POINT point) {
    for (Window* child : window->children)
        if (Accepts(child) && Contains(ScreenRect(child), point)) return ChildAt(child, point);
    return window;
}

Window* WindowAt(POINT point) {
    for (Window* top : S().topLevels)
        if (Accepts(top) && Contains(ScreenRect(top), point)) return ChildAt(top, point);
    return nullptr;
}

HWND KeyTarget() {
    State& s = S();
    if (IsWindow(s.focus)) return s.focus;
    return IsWindow(s.active) ? s.active : 0;
}

}  // namespace

void InjectStylus(int32_t x, int32_t y, StylusAction action) {
    State& s = S();
    const POINT point{x, y};
    Window* target = Find(s.capture);
    if (!target) target = WindowAt(point);
    if (action == StylusAction::Move && !stylusDown) return;
    if (action == StylusAction::Down) stylusDown = true;
    if (action == StylusAction::Up) stylusDown = false;
    if (!target) return;
    const HWND handle = target->handle;
    // A caption bar takes its taps itself: its OK button posts IDOK when
    // the stylus is lifted on it.
    if (Window* top = TopLevelOf(target); top && HasCaption(top) && s.capture != handle) {
        RECT caption{};
        if (GetCaptionRect(top->handle, &caption) && Contains(caption, point)) {
            if (action == StylusAction::Down && s.active != top->handle && !(top->style & WS_DISABLED))
                SetActiveWindow(top->handle);
            RECT ok{};
            if (action == StylusAction::Up && GetCaptionOkRect(top->handle, &ok) && Contains(ok, point) &&
                !(top->style & WS_DISABLED))
                (void)PostMessageW(top->handle, WM_COMMAND, 1, 0);
            return;
        }
    }
    if (action == StylusAction::Down) {
        Window* top = TopLevelOf(target);
        if (top && s.active != top->handle && !top->shellWindow && (top->style & WS_VISIBLE) &&
            !(top->style & WS_DISABLED)) {
            SetActiveWindow(top->handle);
            if (!IsWindow(handle)) return;
        }
    }
    POINT client = point;
    ScreenToClient(handle, &client);
    UINT message = WM_MOUSEMOVE;
    WPARAM keys = MK_LBUTTON;
    if (action == StylusAction::Up) {
        message = WM_LBUTTONUP;
        keys = 0;
    } else if (action == StylusAction::Down) {
        const uint32_t now = GetTickCount();
        const bool wantsDouble = target->windowClass && (target->windowClass->info.style & CS_DBLCLKS);
        const bool isDouble = wantsDouble && !s.lastDownWasDouble && s.lastDownWindow == handle &&
                              now - s.lastDownTick <= kDoubleClickMs &&
                              std::abs(x - s.lastDownPoint.x) <= kDoubleClickDistance &&
                              std::abs(y - s.lastDownPoint.y) <= kDoubleClickDistance;
        message = isDouble ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN;
        s.lastDownWindow = handle;
        s.lastDownTick = now;
        s.lastDownPoint = point;
        s.lastDownWasDouble = isDouble;
    }
    (void)PostMessageW(handle, message, keys, PackPoint(client.x, client.y));
}

void InjectTap(int32_t x, int32_t y) {
    InjectStylus(x, y, StylusAction::Down);
    InjectStylus(x, y, StylusAction::Up);
}

void InjectKey(uint32_t virtualKey) {
    const HWND target = KeyTarget();
    if (!target) return;
    (void)PostMessageW(target, WM_KEYDOWN, virtualKey, 1);
    (void)PostMessageW(target, WM_KEYUP, virtualKey, static_cast<LPARAM>(0xC0000001u));
}

void InjectText(std::u16string_view text) {
    const HWND target = KeyTarget();
    if (!target) return;
    for (char16_t unit : text) (void)PostMessageW(target, WM_CHAR, unit, 1);
}

void ScheduleInput(const ScheduledInput& input) {
    Schedule& schedule = TheSchedule();
    {
        std::lock_guard guard(schedule.lock);
        const uint32_t now = GetTickCount();
        auto later = [&](const ScheduledInput& other) {
            return static_cast<int32_t>(other.at - now) > static_cast<int32_t>(input.at - now);
        };
        schedule.waiting.insert(std::find_if(schedule.waiting.begin(), schedule.waiting.end(), later), input);
    }
    WakeQueueWaiters();
}

bool NextScheduledInput(uint32_t* at) {
    Schedule& schedule = TheSchedule();
    std::lock_guard guard(schedule.lock);
    if (schedule.waiting.empty()) return false;
    *at = schedule.waiting.front().at;
    return true;
}

void DeliverDueInput() {
    Schedule& schedule = TheSchedule();
    for (;;) {
        ScheduledInput input;
        {
            std::lock_guard guard(schedule.lock);
            if (schedule.waiting.empty() || static_cast<int32_t>(GetTickCount() - schedule.waiting.front().at) < 0)
                return;
            input = std::move(schedule.waiting.front());
            schedule.waiting.erase(schedule.waiting.begin());
        }
        switch (input.kind) {
        case ScheduledInput::Kind::Tap: InjectTap(input.x, input.y); break;
        case ScheduledInput::Kind::Key: InjectKey(input.key); break;
        case ScheduledInput::Kind::Text: InjectText(input.text); break;
        }
    }
}

void ClearScheduledInput() {
    Schedule& schedule = TheSchedule();
    std::lock_guard guard(schedule.lock);
    schedule.waiting.clear();
    stylusDown = false;
}

namespace {

struct Cursor {
    std::string_view rest;

    void SkipBlanks() {
        while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
    }
    bool Number(int64_t* value) {
        SkipBlanks();
        const char* begin = rest.data();
        const char* end = rest.data() + rest.size();
        const auto [stop, error] = std::from_chars(begin, end, *value);
        if (error != std::errc() || stop == begin) return false;
        rest.remove_prefix(static_cast<size_t>(stop - begin));
        return rest.empty() || rest.front() == ' ' || rest.front() == '\t';
    }
    std::string_view Word() {
        SkipBlanks();
        size_t length = 0;
        while (length < rest.size() && rest[length] != ' ' && rest[length] != '\t') ++length;
        const std::string_view word = rest.substr(0, length);
        rest.remove_prefix(length);
        return word;
    }
    bool Quoted(std::string* out) {
        SkipBlanks();
        if (rest.empty() || rest.front() != '"') return false;
        rest.remove_prefix(1);
        while (!rest.empty() && rest.front() != '"') {
            if (rest.front() == '\\' && rest.size() > 1) rest.remove_prefix(1);
            out->push_back(rest.front());
            rest.remove_prefix(1);
        }
        if (rest.empty()) return false;
        rest.remove_prefix(1);
        return true;
    }
    bool AtEnd() {
        SkipBlanks();
        return rest.empty();
    }
};

bool FitsInt32(int64_t value) { return value >= INT32_MIN && value <= INT32_MAX; }

// One line into an input; false with a message when it is malformed.
bool ParseLine(std::string_view line, uint32_t start, ScheduledInput* input, std::string* message) {
    Cursor cursor{line};
    int64_t at = 0;
    if (!cursor.Number(&at) || at < 0 || at > 0x7FFFFFFF) {
        *message = "the line must start with the time in milliseconds (0 or more)";
        return false;
    }
    input->at = start + static_cast<uint32_t>(at);
    const std::string_view word = cursor.Word();
    if (word == "tap") {
        int64_t x = 0, y = 0;
        if (!cursor.Number(&x) || !cursor.Number(&y) || !FitsInt32(x) || !FitsInt32(y)) {
            *message = "tap takes two whole numbers, x and y";
            return false;
        }
        input->kind = ScheduledInput::Kind::Tap;
        input->x = static_cast<int32_t>(x);
        input->y = static_cast<int32_t>(y);
    } else if (word == "key") {
        int64_t key = 0;
        if (!cursor.Number(&key) || key < 1 || key > 255) {
            *message = "key takes a virtual key number from 1 to 255";
            return false;
        }
        input->kind = ScheduledInput::Kind::Key;
        input->key = static_cast<uint32_t>(key);
    } else if (word == "text") {
        std::string text;
        if (!cursor.Quoted(&text)) {
            *message = "text takes a text in double quotes";
            return false;
        }
        input->kind = ScheduledInput::Kind::Text;
        const std::vector<uint16_t> units = DecodeAnsi(text);
        input->text.assign(units.begin(), units.end());
    } else {
        *message = "unknown input \"" + std::string(word) + "\" (tap, key or text)";
        return false;
    }
    if (!cursor.AtEnd()) {
        *message = "unexpected text after the input";
        return false;
    }
    return true;
}

}  // namespace

InputScriptResult ScheduleInputScript(std::string_view script, uint32_t start) {
    std::vector<ScheduledInput> inputs;
    int number = 0;
    while (!script.empty()) {
        const size_t end = script.find('\n');
        std::string_view line = script.substr(0, end);
        script.remove_prefix(end == std::string_view::npos ? script.size() : end + 1);
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        Cursor probe{line};
        if (probe.AtEnd() || probe.rest.front() == '#') continue;
        ScheduledInput input;
        std::string message;
        if (!ParseLine(line, start, &input, &message)) return InputScriptResult{false, number, message};
        inputs.push_back(std::move(input));
    }
    for (const ScheduledInput& input : inputs) ScheduleInput(input);
    return InputScriptResult{};
}

}  // namespace qob::platform
