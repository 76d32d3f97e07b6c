// tests/windows/message_loop_test.cpp
// The end of an application through its window's message: posted by killapp,
// handled by the pumping built-ins, delay and the message loop; end messages
// that name no live application; the loop's waiting and its end.

#include "windows/message_loop.h"
#include "windows/modal_waits.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "host/app_builtins.h"
#include "platform/clock.h"
#include "platform/memory.h"
#include "platform/window_manager.h"
#include "runtime/memory/pool.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm_fixture.h"
#include "windows/window_records.h"

namespace qob {
namespace {

double Address(const void* pointer) { return static_cast<double>(reinterpret_cast<uintptr_t>(pointer)); }

class MessageLoopTest : public testing::VmTest {
protected:
    void SetUp() override {
        VmTest::SetUp();
        Drain();
        QuitRequested = false;
    }

    void TearDown() override {
        Drain();
        QuitRequested = false;
        platform::ClearTestClock();
        VmTest::TearDown();
    }

    static void Drain() {
        platform::MSG message;
        while (platform::PeekMessageW(&message, platform::PM_REMOVE)) {
        }
    }

    // Waits in the code under test pass on the test clock, standing at 0.
    // (Applications are made before it stands: they take their ids from it.)
    static void StopTheClock() { platform::SetTestClock(0); }

    // Gives the application a window of this thread (the window layer's part
    // when it makes one).
    static void GiveWindow(ProgramContext* application, platform::HWND window) {
        ASSERT_NE(AddWindowRecord(application, window, nullptr, 0, nullptr), nullptr);
        platform::BindWindowToThread(window);
    }

    static void Kill(const ProgramContext* application) {
        PushNumber(Address(application));
        Builtin_killapp();
    }

    static void Delay(double milliseconds) {
        PushNumber(milliseconds);
        Builtin_delay();
    }
};

TEST_F(MessageLoopTest, KillappOfAWindowedApplicationEndsItWhenItsMessageIsHandled) {
    struct Case {
        const char* pump;
        std::function<void()> handle;
    };
    const Case cases[] = {
        {"handlemessage", Builtin_handlemessage},
        {"processmessages", Builtin_processmessages},
        {"delay", [] { Delay(0); }},
        {"MessageLoop", MessageLoop},
    };
    platform::HWND window = 0x4100'0000;
    for (const Case& c : cases) {
        ProgramContext* application = Application("WINDOWED.QOB");
        GiveWindow(application, ++window);
        Kill(application);
        EXPECT_TRUE(IsLiveContext(application)) << c.pump << ": killapp only posts";
        platform::MSG message{};
        ASSERT_TRUE(platform::PeekMessageW(&message, platform::PM_NOREMOVE)) << c.pump;
        EXPECT_EQ(message.hwnd, window);
        EXPECT_EQ(message.message, kEndApplicationMessage);
        EXPECT_EQ(message.wParam, 0u);
        EXPECT_EQ(message.lParam, reinterpret_cast<platform::LPARAM>(application));
        c.handle();
        EXPECT_FALSE(IsLiveContext(application)) << c.pump;
        EXPECT_FALSE(platform::PeekMessageW(&message, platform::PM_NOREMOVE)) << c.pump;
        EXPECT_TRUE(IsLiveContext(context)) << c.pump;
        EXPECT_EQ(CountStackEntries(context->stackTop), 1) << c.pump << ": arguments taken, nothing left";
    }
}

TEST_F(MessageLoopTest, HandlemessageTakesOneMessageAndProcessmessagesEveryOne) {
    std::vector<ProgramContext*> applications;
    for (platform::HWND window : {0x4200'0001u, 0x4200'0002u, 0x4200'0003u}) {
        applications.push_back(Application("WINDOWED.QOB"));
        GiveWindow(applications.back(), window);
        Kill(applications.back());
    }
    Builtin_handlemessage();
    EXPECT_FALSE(IsLiveContext(applications[0]));
    EXPECT_TRUE(IsLiveContext(applications[1]));
    EXPECT_TRUE(IsLiveContext(applications[2]));
    Builtin_processmessages();
    EXPECT_FALSE(IsLiveContext(applications[1]));
    EXPECT_FALSE(IsLiveContext(applications[2]));
    Builtin_handlemessage();  // an empty queue: nothing to do
}

TEST_F(MessageLoopTest, AnEndMessageThatNamesNoLiveApplicationIsIgnored) {
    ProgramContext* idle = Application("IDLE.QOB");
    ProgramContext* ended = Application("ENDED.QOB");
    EndProgramContext(ended);
    void* block = platform::AllocateBlock(sizeof(ProgramContext));
    const platform::LPARAM parameters[] = {0, 12345, -1, reinterpret_cast<platform::LPARAM>(ended),
                                           reinterpret_cast<platform::LPARAM>(block)};
    for (platform::LPARAM parameter : parameters) {
        ASSERT_TRUE(platform::PostMessageW(0, kEndApplicationMessage, 0, parameter));
        Builtin_handlemessage();
        EXPECT_TRUE(IsLiveContext(idle)) << parameter;
        EXPECT_TRUE(IsLiveContext(context)) << parameter;
        platform::MSG message;
        EXPECT_FALSE(platform::PeekMessageW(&message, platform::PM_NOREMOVE)) << "the message is taken";
    }
    platform::FreeBlock(block);
}

TEST_F(MessageLoopTest, AWindowTheWindowLayerNoLongerKnowsTakesNoMessage) {
    ProgramContext* application = Application("WINDOWED.QOB");
    ASSERT_NE(AddWindowRecord(application, 0x4300'0001, nullptr, 0, nullptr), nullptr);
    Kill(application);
    EXPECT_FALSE(IsLiveContext(application)) << "it ends as an application without windows";
    platform::MSG message;
    EXPECT_FALSE(platform::PeekMessageW(&message, platform::PM_NOREMOVE));
}

TEST_F(MessageLoopTest, TheRunningApplicationEndedThroughItsWindowStopsAndEndsAfterItsRun) {
    GiveWindow(context, 0x4400'0001);
    Instruction* main = StartProc("MAIN", false);
    PushInt(Address(context));
    Call(Builtin_killapp);
    PushInt(1);
    Call(testing::RecordTop);  // reached: killapp only posted
    PushInt(100000);
    Call(Builtin_delay);       // handles the message and stops waiting
    PushInt(2);
    Call(testing::RecordTop);  // not reached
    EndProc();
    StopTheClock();
    RunMain(main);
    EXPECT_EQ(testing::Recorded, std::vector<double>{1});
    EXPECT_TRUE(IsLiveContext(context)) << "its instructions were running";
    EXPECT_EQ(EndingContext, context) << "whoever started its run ends it";
    EXPECT_EQ(platform::GetTickCount(), 0u) << "delay did not wait";
    EndingContext = nullptr;
    context->endPending = 0;
    StopFlag = false;
}

TEST_F(MessageLoopTest, TheLoopEndsAnApplicationWhoseEndWaitedForItsRuns) {
    ProgramContext* application = Application("WINDOWED.QOB");
    GiveWindow(application, 0x4500'0001);
    EndingContext = application;  // told to end during a run that has returned since
    MessageLoop();
    EXPECT_FALSE(IsLiveContext(application));
    EXPECT_EQ(EndingContext, nullptr);
    EXPECT_TRUE(QuitRequested);
}

// Two applications told to end while code of theirs ran: the second end
// must not make the loop forget the first.
TEST_F(MessageLoopTest, EveryApplicationWhoseEndWaitedIsEndedNotOnlyTheLastOne) {
    ProgramContext* first = Application("FIRST.QOB");
    ProgramContext* second = Application("SECOND.QOB");
    for (ProgramContext* application : {first, second}) {
        application->callDepth = 1;  // a run of it is under way
        PushNumber(Address(application));
        Builtin_freeapp();
        EXPECT_TRUE(IsLiveContext(application)) << "its run is still going";
    }
    first->callDepth = second->callDepth = 0;  // both runs have returned
    MessageLoop();
    EXPECT_FALSE(IsLiveContext(first));
    EXPECT_FALSE(IsLiveContext(second));
    EXPECT_EQ(EndingContext, nullptr);
    QuitRequested = false;
}

TEST_F(MessageLoopTest, TheLoopReturnsAtOnceWhenNoApplicationHasAWindow) {
    ProgramContext* idle = Application("IDLE.QOB");
    StopTheClock();
    MessageLoop();
    EXPECT_TRUE(QuitRequested);
    EXPECT_TRUE(IsLiveContext(idle)) << "the loop ends no application of its own accord";
    EXPECT_EQ(platform::GetTickCount(), 0u) << "it did not wait";
    QuitRequested = false;
    GiveWindow(idle, 0x4600'0001);
    QuitRequested = true;
    MessageLoop();
    EXPECT_TRUE(IsLiveContext(idle)) << "a loop asked to quit waits for nothing";
}

TEST_F(MessageLoopTest, TheLoopWaitsForTheLastWindowedApplicationAndQuitDoesNotEndIt) {
    ProgramContext* application = Application("WINDOWED.QOB");
    constexpr platform::HWND kWindow = 0x4700'0001;
    GiveWindow(application, kWindow);
    StopTheClock();
    platform::SetIdlePolicy(platform::IdlePolicy::Wait);
    platform::PostQuitMessage(0);
    std::atomic<bool> returned{false};
    // Another thread posts the end once the loop has slept, which it does only
    // after it has taken the quit message and gone on waiting.
    std::thread poster([&] {
        while (platform::GetTickCount() == 0 && !returned) std::this_thread::yield();
        EXPECT_TRUE(platform::PostMessageW(kWindow, kEndApplicationMessage, 0,
                                           reinterpret_cast<platform::LPARAM>(application)));
    });
    MessageLoop();
    returned = true;
    poster.join();
    platform::SetIdlePolicy(platform::IdlePolicy::Fail);
    EXPECT_FALSE(IsLiveContext(application));
    EXPECT_TRUE(QuitRequested);
}

TEST_F(MessageLoopTest, DelayWaitsUntilItsTimeHasPassedOnTheClock) {
    struct Case {
        const char* text;
        double milliseconds;
        uint32_t elapsed;
    };
    // Under the test clock the one look at an empty queue moves time 1 ms.
    const Case cases[] = {{nullptr, -3, 1}, {nullptr, 0, 1}, {nullptr, 1, 1}, {nullptr, 40, 40}, {"7", 0, 7}};
    for (const Case& c : cases) {
        StopTheClock();
        PushValue(c.text, c.milliseconds, nullptr);
        Builtin_delay();
        EXPECT_EQ(platform::GetTickCount(), c.elapsed) << c.milliseconds;
        EXPECT_EQ(CountStackEntries(context->stackTop), 1);
    }
}

}  // namespace
}  // namespace qob
