// tests/runtime/vm/interpreter_lock_test.cpp
// The interpreter lock: nested holds, and the machine state a waiting thread
// gets back after another script thread ran.

#include "runtime/vm/interpreter_lock.h"

#include <gtest/gtest.h>

#include <thread>

#include "runtime/vm/vm.h"

namespace qob {
namespace {

TEST(InterpreterLock, NestedHoldsReleaseOnTheLastRelease) {
    EXPECT_FALSE(HoldsInterpreterLock());
    AcquireInterpreterLock();
    AcquireInterpreterLock();
    ReleaseInterpreterLock();
    EXPECT_TRUE(HoldsInterpreterLock());
    ReleaseInterpreterLock();
    EXPECT_FALSE(HoldsInterpreterLock());
    ReleaseInterpreterLock();  // not held: nothing happens
    EXPECT_FALSE(HoldsInterpreterLock());
}

TEST(InterpreterLock, WaitingThreadGetsItsMachineStateBack) {
    InterpreterLockGuard guard;
    CurrentProcName = "WAITER";
    StopFlag = false;
    bool otherRan = false;
    std::thread other([&] {
        InterpreterLockGuard otherGuard;  // runs only while the first thread waits
        otherRan = true;
        CurrentProcName = "OTHER";
        StopFlag = true;
    });
    {
        InterpreterUnlockScope waiting;
        other.join();
    }
    EXPECT_TRUE(otherRan);
    EXPECT_STREQ(CurrentProcName, "WAITER");
    EXPECT_FALSE(StopFlag);
    EXPECT_TRUE(HoldsInterpreterLock());
    CurrentProcName = nullptr;
}

}  // namespace
}  // namespace qob
