// tests/platform/message_queue_test.cpp
// Per-thread queues: order, posts to a window's thread, refused posts, the
// quit request, and the timed wait on the test clock.
#include "platform/message_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace qob::platform {
namespace {

constexpr uint64_t kMillisecond = 1'000'000;

class MessageQueueTest : public ::testing::Test {
protected:
    void SetUp() override { Drain(); }
    void TearDown() override {
        Drain();
        ClearTestClock();
    }

    static void Drain() {
        MSG message;
        while (PeekMessageW(&message, PM_REMOVE)) {
        }
    }

    // The messages left in the calling thread's queue, in order.
    static std::vector<uint32_t> TakeAll() {
        std::vector<uint32_t> numbers;
        MSG message;
        while (PeekMessageW(&message, PM_REMOVE)) numbers.push_back(message.message);
        return numbers;
    }
};

TEST_F(MessageQueueTest, MessagesComeOutInTheOrderTheyWerePostedWithTheirWords) {
    constexpr HWND kWindow = 0x4000'0010;
    BindWindowToThread(kWindow);
    ASSERT_TRUE(PostMessageW(0, 0x400, 1, -2));
    ASSERT_TRUE(PostMessageW(kWindow, 0x8001, 0, 0x4000'1234));
    MSG message{};
    ASSERT_TRUE(PeekMessageW(&message, PM_NOREMOVE));
    EXPECT_EQ(message.message, 0x400u) << "a look without removal leaves the message";
    ASSERT_TRUE(PeekMessageW(&message, PM_REMOVE));
    EXPECT_EQ(message.hwnd, 0u);
    EXPECT_EQ(message.message, 0x400u);
    EXPECT_EQ(message.wParam, 1u);
    EXPECT_EQ(message.lParam, -2);
    ASSERT_TRUE(PeekMessageW(&message, PM_REMOVE));
    EXPECT_EQ(message.hwnd, kWindow);
    EXPECT_EQ(message.message, 0x8001u);
    EXPECT_EQ(message.lParam, 0x4000'1234);
    EXPECT_FALSE(PeekMessageW(&message, PM_REMOVE));
    UnbindWindow(kWindow);
}

TEST_F(MessageQueueTest, AWindowsMessagesGoToTheThreadThatOwnsIt) {
    constexpr HWND kWindow = 0x4000'0020;
    std::promise<ThreadId> bound;
    std::promise<void> posted;
    std::promise<std::vector<uint32_t>> received;
    std::thread owner([&] {
        BindWindowToThread(kWindow);
        bound.set_value(GetCurrentThreadId());
        posted.get_future().wait();
        received.set_value(TakeAll());
    });
    const ThreadId ownerId = bound.get_future().get();
    EXPECT_NE(ownerId, GetCurrentThreadId());
    EXPECT_TRUE(PostMessageW(kWindow, 0x111, 0, 0));
    EXPECT_TRUE(PostMessageW(0, 0x222, 0, 0));  // a thread message stays with the poster
    posted.set_value();
    EXPECT_EQ(received.get_future().get(), std::vector<uint32_t>{0x111});
    owner.join();
    EXPECT_EQ(TakeAll(), std::vector<uint32_t>{0x222});
}

TEST_F(MessageQueueTest, PostsToAWindowNoLiveThreadOwnsAreRefused) {
    constexpr HWND kNeverMade = 0x4000'0030;
    constexpr HWND kDestroyed = 0x4000'0040;
    constexpr HWND kOfAnEndedThread = 0x4000'0050;
    BindWindowToThread(kDestroyed);
    UnbindWindow(kDestroyed);
    std::thread([] { BindWindowToThread(kOfAnEndedThread); }).join();
    for (HWND window : {kNeverMade, kDestroyed, kOfAnEndedThread})
        EXPECT_FALSE(PostMessageW(window, 0x8001, 0, 1)) << window;
    EXPECT_TRUE(TakeAll().empty());
}

TEST_F(MessageQueueTest, TheQuitRequestComesOnceAfterTheMessagesBeforeIt) {
    ASSERT_TRUE(PostMessageW(0, 0x401, 0, 0));
    PostQuitMessage(3);
    ASSERT_TRUE(PostMessageW(0, 0x402, 0, 0));
    MSG message{};
    EXPECT_EQ(GetMessageTimeout(&message, 0), 1);
    EXPECT_EQ(message.message, 0x401u);
    EXPECT_EQ(GetMessageTimeout(&message, 0), 1);
    EXPECT_EQ(message.message, 0x402u);
    EXPECT_EQ(GetMessageTimeout(&message, 0), 0);
    EXPECT_EQ(message.message, WM_QUIT);
    EXPECT_EQ(message.wParam, 3u);
    EXPECT_FALSE(PeekMessageW(&message, PM_REMOVE)) << "the request is delivered once";
}

TEST_F(MessageQueueTest, TheTimedWaitGivesUpWhenItsTimeHasPassedOnTheClock) {
    struct Case {
        uint32_t timeout;
    };
    for (const Case c : {Case{0}, Case{1}, Case{250}}) {
        SetTestClock(1000 * kMillisecond);
        MSG message{};
        EXPECT_EQ(GetMessageTimeout(&message, c.timeout), -1) << c.timeout;
        EXPECT_EQ(GetTickCount() - 1000, c.timeout) << "it slept through the wait, a millisecond at a time";
    }
}

TEST_F(MessageQueueTest, TheTimedWaitTakesAMessagePostedByAnotherThreadMeanwhile) {
    SetTestClock(0);
    const ThreadId waiter = GetCurrentThreadId();
    constexpr HWND kWindow = 0x4000'0060;
    BindWindowToThread(kWindow);
    std::atomic<bool> done{false};
    // Posts once the waiter has slept at least once, so the message arrives during the wait.
    std::thread poster([&] {
        while (GetTickCount() == 0 && !done) std::this_thread::yield();
        EXPECT_TRUE(PostMessageW(kWindow, 0x8001, 0, waiter));
    });
    MSG message{};
    EXPECT_EQ(GetMessageTimeout(&message, 0xFFFFFFFFu), 1);
    done = true;
    poster.join();
    EXPECT_EQ(message.message, 0x8001u);
    EXPECT_EQ(message.lParam, static_cast<LPARAM>(waiter));
    EXPECT_GT(GetTickCount(), 0u);
    UnbindWindow(kWindow);
}

}  // namespace
}  // namespace qob::platform
