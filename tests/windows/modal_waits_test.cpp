// tests/windows/modal_waits_test.cpp
// waitforinput and delay on the test clock: time-outs, a key on a game form,
// the input thrown away afterwards (and what stays), and the end of the wait
// when the run or the program is ending.

#include "windows/modal_waits.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/clock.h"
#include "platform/input.h"
#include "platform/window_manager.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"
#include "script_windows_support.h"
#include "windows/forms.h"
#include "windows/game_link.h"
#include "windows/message_loop.h"
#include "windows/window_records.h"

namespace qob {
namespace {

using platform::HWND;
using testing::Address;

class ModalWaitsTest : public testing::ScriptWindowsTest {
protected:
    void SetUp() override {
        ScriptWindowsTest::SetUp();
        StopFlag = false;
        InputWaitTime = 0;
        application = Load("FORCELINK FUNC onform(w$, m$, wp$, lp$) RETURN(1); END;");
    }
    void TearDown() override {
        StopFlag = false;
        QuitRequested = false;
        GameWindow = 0;
        ScriptWindowsTest::TearDown();
    }

    HWND NewForm() {
        PushValue("Form", 0, nullptr);
        PushValue("WaitForm", 0, nullptr);
        PushNumber(Address(Procedure(application, "onform")));
        Builtin_newform();
        return static_cast<HWND>(PopNumber());
    }

    int32_t WaitForInput(double timeout) {
        PushNumber(timeout);
        Builtin_waitforinput();
        return static_cast<int32_t>(PopNumber());
    }

    ProgramContext* application = nullptr;
};

TEST_F(ModalWaitsTest, WaitforinputTimesOutOnTheClock) {
    struct Case {
        double timeout;
        int32_t result;
        uint32_t elapsed;
    };
    // 0 never waits and reports input; a time-out ends when its time has
    // passed on the clock.
    const Case cases[] = {{0, 1, 0}, {1, 0, 1}, {50, 0, 50}, {1234, 0, 1234}};
    for (const Case& c : cases) {
        const uint32_t start = platform::GetTickCount();
        EXPECT_EQ(WaitForInput(c.timeout), c.result) << c.timeout;
        EXPECT_EQ(platform::GetTickCount() - start, c.elapsed) << c.timeout;
        EXPECT_EQ(InputWaitTime, 0u);
        EXPECT_EQ(*GameLoops.autoDrawMode, 0) << "the drawing mode comes back";
    }
}

TEST_F(ModalWaitsTest, AKeyOrTapOnAGameFormEndsTheWait) {
    struct Case {
        uint32_t message;
        uint32_t wParam;
        uint32_t lParam;
    };
    const Case cases[] = {{platform::WM_KEYDOWN, 65, 0}, {platform::WM_LBUTTONDOWN, 1, 0x00100010}};
    const HWND form = NewForm();
    ASSERT_NE(form, 0u);
    GameWindow = form;
    for (const Case& c : cases) {
        ASSERT_TRUE(platform::PostMessageW(form, c.message, c.wParam, c.lParam));
        // Without the press nothing would end the wait: the idle policy
        // gives up, which ends it as a time-out.
        EXPECT_EQ(WaitForInput(-1), 1) << c.message;
        EXPECT_EQ(InputWaitTime, 0u);
    }
    EXPECT_EQ(WaitForInput(-1), 0) << "no press: nothing can arrive";
}

TEST_F(ModalWaitsTest, TheEngineDrawsInModeTwoWhileTheWaitRuns) {
    static int32_t drawMode;
    drawMode = -1;
    *GameLoops.autoDrawMode = 1;
    platform::SetTimer(0, 0, 5, [](HWND, platform::UINT, uintptr_t id, uint32_t) {
        drawMode = *GameLoops.autoDrawMode;
        platform::KillTimer(0, id);
    });
    EXPECT_EQ(WaitForInput(50), 0);
    EXPECT_EQ(drawMode, 2);
    EXPECT_EQ(*GameLoops.autoDrawMode, 1);
    *GameLoops.autoDrawMode = 0;
}

TEST_F(ModalWaitsTest, AfterTheWaitOnlyKeysAndTapsAreThrownAway) {
    const HWND form = NewForm();
    ASSERT_NE(form, 0u);
    Pump();
    const std::vector<uint32_t> posted = {platform::WM_KEYDOWN, platform::WM_COMMAND, 0x0102, platform::WM_CLOSE,
                                          platform::WM_LBUTTONDOWN, kEndApplicationMessage, 0x0209, 0x0108,
                                          platform::WM_TIMER, 0x0200};
    for (uint32_t message : posted) ASSERT_TRUE(platform::PostMessageW(form, message, 0, 0));
    platform::PostQuitMessage(0);
    EXPECT_EQ(WaitForInput(0), 1);
    std::vector<uint32_t> left;
    platform::MSG message;
    while (platform::PeekQueuedMessage(&message, 0, 0, 0, true)) left.push_back(message.message);
    EXPECT_EQ(left, (std::vector<uint32_t>{platform::WM_COMMAND, platform::WM_CLOSE, kEndApplicationMessage,
                                           platform::WM_TIMER, 0x0012}));
}

TEST_F(ModalWaitsTest, AWaitWithoutLimitEndsWithTheRun) {
    struct Case {
        const char* what;
        void (*end)(ProgramContext* application);
        bool stops;
    };
    const Case cases[] = {
        {"quit requested", [](ProgramContext*) { QuitRequested = true; }, false},
        {"its program ending", [](ProgramContext* application) { application->endPending = 1; }, true},
    };
    static ProgramContext* waiting;
    static void (*ending)(ProgramContext*);
    static int ticks;
    waiting = application;
    for (const Case& c : cases) {
        ending = c.end;
        ticks = 0;
        // Something is always due, so the idle policy never decides: only the
        // end of the run can end the wait.
        platform::SetTimer(0, 0, 10, [](HWND, platform::UINT, uintptr_t, uint32_t) {
            if (++ticks == 3) ending(waiting);
        });
        EXPECT_EQ(WaitForInput(-1), 0) << c.what;
        EXPECT_EQ(ticks, 3) << c.what;
        EXPECT_EQ(StopFlag, c.stops) << c.what;
        QuitRequested = false;
        application->endPending = 0;
        StopFlag = false;
        platform::ResetWindowManager();
    }
}

TEST_F(ModalWaitsTest, WaitsEndAtTheirTimeWhenTheNextInputComesLater) {
    struct Case {
        const char* what;
        void (*wait)(double);
        double milliseconds;
    };
    const Case cases[] = {
        {"delay", [](double ms) { PushNumber(ms); Builtin_delay(); }, 300},
        {"waitforinput", [](double ms) { PushNumber(ms); Builtin_waitforinput(); (void)PopNumber(); }, 300},
        {"delay", [](double ms) { PushNumber(ms); Builtin_delay(); }, 1},
    };
    const HWND form = NewForm();
    ASSERT_NE(form, 0u);
    Pump();
    // An empty poll with nothing due would close the windows now.
    platform::SetIdlePolicy(platform::IdlePolicy::Close);
    for (const Case& c : cases) {
        const uint32_t start = platform::GetTickCount();
        platform::ScheduledInput tap;
        tap.at = start + 400;
        tap.x = 20;
        tap.y = 100;
        platform::ScheduleInput(tap);
        c.wait(c.milliseconds);
        EXPECT_EQ(platform::GetTickCount() - start, static_cast<uint32_t>(c.milliseconds)) << c.what;
        EXPECT_TRUE(platform::IsWindowVisible(form)) << c.what << ": a timed wait is no idle poll";
        platform::ClearScheduledInput();
    }
    platform::SetIdlePolicy(platform::IdlePolicy::Fail);
}

TEST_F(ModalWaitsTest, DelayHandlesWhatComesUntilItsTime) {
    static int ticks;
    ticks = 0;
    platform::SetTimer(0, 0, 30, [](HWND, platform::UINT, uintptr_t, uint32_t) { ++ticks; });
    const uint32_t start = platform::GetTickCount();
    PushNumber(100);
    Builtin_delay();
    EXPECT_GE(platform::GetTickCount() - start, 100u);
    EXPECT_EQ(ticks, 3) << "at 30, 60 and 90";
}

}  // namespace
}  // namespace qob
