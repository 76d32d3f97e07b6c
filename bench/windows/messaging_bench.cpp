// bench/windows/messaging_bench.cpp
// Messages and painting against their plain counterparts, in one run so the
// ratios can be read off: a posted message taken and dispatched to a native
// procedure against a std::deque under a std::mutex (std::queue and an
// indirect call beside), SendMessageW against an indirect call, an event
// through DispatchAppMessage to a form's script procedure against calling
// that procedure directly, a full-screen FillRect and the screen's
// composition against memcpy of the screen's bytes, and a full repaint of a
// screen-sized window with 8 lines of 20 characters.

#include <benchmark/benchmark.h>

#include <cstring>
#include <deque>
#include <mutex>
#include <queue>
#include <vector>

#include "host/builtin_registry.h"
#include "host/driver.h"
#include "platform/gdi.h"
#include "platform/message_box.h"
#include "platform/window_manager.h"
#include "platform/window_manager/internal.h"
#include "runtime/vm/procedure_lookup.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"
#include "windows/message_loop.h"
#include "windows/window_records.h"

namespace {

using namespace qob;
using namespace qob::platform;

int64_t gHandled = 0;

LRESULT CountingProcedure(HWND, UINT message, WPARAM, LPARAM) {
    gHandled += message;
    return 1;
}

using Procedure = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
Procedure volatile gIndirect = CountingProcedure;

HWND CountingWindow() {
    static HWND window = [] {
        WNDCLASSW windowClass;
        windowClass.lpfnWndProc = CountingProcedure;
        windowClass.lpszClassName = u"BenchCounting";
        (void)RegisterClassW(&windowClass);
        return CreateWindowExW(0, u"BenchCounting", u"", 0, 0, 0, 10, 10, 0, 0, 0, nullptr);
    }();
    return window;
}

void BM_PostTakeDispatch(benchmark::State& state) {
    const HWND window = CountingWindow();
    MSG message;
    for (auto _ : state) {
        (void)PostMessageW(window, WM_USER, 1, 2);
        (void)PeekMessageW(&message, 0, 0, 0, PM_REMOVE);
        DispatchMessageW(&message);
    }
    benchmark::DoNotOptimize(gHandled);
}
BENCHMARK(BM_PostTakeDispatch);

void BM_DequeUnderMutex(benchmark::State& state) {
    std::mutex lock;
    std::deque<MSG> queue;
    const HWND window = CountingWindow();
    for (auto _ : state) {
        {
            std::lock_guard guard(lock);
            queue.push_back(MSG{window, WM_USER, 1, 2});
        }
        MSG message;
        {
            std::lock_guard guard(lock);
            message = queue.front();
            queue.pop_front();
        }
        gIndirect(message.hwnd, message.message, message.wParam, message.lParam);
    }
    benchmark::DoNotOptimize(gHandled);
}
BENCHMARK(BM_DequeUnderMutex);

void BM_StdQueue(benchmark::State& state) {
    std::queue<MSG> queue;
    const HWND window = CountingWindow();
    for (auto _ : state) {
        queue.push(MSG{window, WM_USER, 1, 2});
        const MSG message = queue.front();
        queue.pop();
        gIndirect(message.hwnd, message.message, message.wParam, message.lParam);
    }
    benchmark::DoNotOptimize(gHandled);
}
BENCHMARK(BM_StdQueue);

void BM_IndirectCall(benchmark::State& state) {
    const HWND window = CountingWindow();
    for (auto _ : state) gIndirect(window, WM_USER, 1, 2);
    benchmark::DoNotOptimize(gHandled);
}
BENCHMARK(BM_IndirectCall);

void BM_SendMessage(benchmark::State& state) {
    const HWND window = CountingWindow();
    for (auto _ : state) SendMessageW(window, WM_USER, 1, 2);
    benchmark::DoNotOptimize(gHandled);
}
BENCHMARK(BM_SendMessage);

// --- a form's script procedure -------------------------------------------------------

struct ScriptForm {
    ProgramContext* application = nullptr;
    Instruction* procedure = nullptr;
    HWND form = 0;
};

ScriptForm& TheScriptForm() {
    static ScriptForm script = [] {
        ScriptForm made;
        static std::FILE* sink = std::tmpfile();
        SetMessageBoxOutput(sink, sink);
        RegisterBuiltins();
        const char* source =
            "FORCELINK FUNC onform(w$, m$, x$, y$) RETURN(1); END;\n"
            "FUNC WINMAIN form$ = newform(\"Bench\", \"BenchForm\", &onform); RETURN(1); END;\n";
        made.application = CompileAndRun(nullptr, source, false, 0);
        if (!made.application) return made;
        made.procedure = FindProcedureByName(made.application, "ONFORM");
        for (WindowRecord* record = made.application->windows; record; record = record->next)
            if (record->firstWindow) made.form = record->window;
        CurrentContext = made.application;
        MSG message;
        while (PumpOneMessage(&message)) {
        }
        return made;
    }();
    return script;
}

void BM_EventToFormScript(benchmark::State& state) {
    ScriptForm& script = TheScriptForm();
    if (!script.form) {
        state.SkipWithError("no form");
        return;
    }
    MSG message;
    for (auto _ : state) {
        (void)PostMessageW(script.form, WM_USER, 1, 2);
        (void)PumpOneMessage(&message);
    }
}
BENCHMARK(BM_EventToFormScript);

void BM_DirectScriptCall(benchmark::State& state) {
    ScriptForm& script = TheScriptForm();
    if (!script.procedure) {
        state.SkipWithError("no procedure");
        return;
    }
    ProgramContext* application = script.application;
    for (auto _ : state) {
        for (double value : {static_cast<double>(script.form), double{WM_USER}, 1.0, 2.0})
            PushValueTo(application, nullptr, value, nullptr);
        RunProcedureIn(application, script.procedure);
        benchmark::DoNotOptimize(PopCellNumber(application));
    }
}
BENCHMARK(BM_DirectScriptCall);

// --- pixels ------------------------------------------------------------------------------

constexpr size_t kScreenBytes = 240 * 320 * 4;

void BM_MemcpyScreen(benchmark::State& state) {
    std::vector<uint8_t> from(kScreenBytes, 1), to(kScreenBytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), kScreenBytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kScreenBytes));
}
BENCHMARK(BM_MemcpyScreen);

LRESULT TextProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_PAINT) return DefWindowProcW(window, message, wParam, lParam);
    PAINTSTRUCT paint{};
    const HDC dc = BeginPaint(window, &paint);
    static const HFONT font = [] {
        LOGFONTW description{};
        description.lfHeight = -12;
        return CreateFontIndirectW(&description);
    }();
    SelectObject(dc, font);
    for (int line = 0; line < 8; ++line)
        ExtTextOutW(dc, 2, 2 + line * 16, 0, nullptr, u"Twenty characters ok", 20, nullptr);
    EndPaint(window, &paint);
    return 0;
}

HWND ScreenWindow() {
    static HWND window = [] {
        WNDCLASSW windowClass;
        windowClass.lpfnWndProc = TextProcedure;
        windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        windowClass.lpszClassName = u"BenchScreen";
        (void)RegisterClassW(&windowClass);
        const SIZE screen = ScreenSize();
        return CreateWindowExW(0, u"BenchScreen", u"", WS_VISIBLE, 0, 0, screen.cx, screen.cy, 0, 0, 0, nullptr);
    }();
    return window;
}

void BM_FillRectScreen(benchmark::State& state) {
    const HWND window = ScreenWindow();
    const HDC dc = GetDC(window);
    const HBRUSH brush = CreateSolidBrush(RGB(10, 200, 30));
    RECT all{0, 0, 240, 320};
    for (auto _ : state) {
        FillRect(dc, &all, brush);
        benchmark::ClobberMemory();
    }
    ReleaseDC(window, dc);
    DeleteObject(brush);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kScreenBytes));
}
BENCHMARK(BM_FillRectScreen);

void BM_ComposeScreen(benchmark::State& state) {
    (void)ScreenWindow();
    for (auto _ : state) {
        wm::MarkScreenDirty();
        benchmark::DoNotOptimize(ComposeScreen());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kScreenBytes));
}
BENCHMARK(BM_ComposeScreen);

void BM_FullRepaint(benchmark::State& state) {
    const HWND window = ScreenWindow();
    for (auto _ : state) {
        InvalidateRect(window, nullptr, true);
        UpdateWindow(window);
        benchmark::DoNotOptimize(ComposeScreen());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kScreenBytes));
}
BENCHMARK(BM_FullRepaint);

}  // namespace
