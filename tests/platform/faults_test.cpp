// tests/platform/faults_test.cpp
// The fault guard: deliberate faults inside a guard come back as reports with
// their kind and address, repeatedly, nested and on several threads.
#include "platform/faults.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace qob::platform {
namespace {

// The deliberate faults live in code the sanitizers leave alone, so that the
// hardware, not a sanitizer report, meets them; noipa keeps the optimiser
// from cloning them, so a fault address lies inside the function named.
#define QOB_FAULTING __attribute__((noipa, no_sanitize("address", "undefined")))

QOB_FAULTING void WriteTo(uintptr_t address) { *reinterpret_cast<volatile int*>(address) = 1; }

QOB_FAULTING int Divide(int dividend, int divisor) {
    volatile int by = divisor;
    return dividend / by;
}

QOB_FAULTING void ExecuteIllegalInstruction() { asm volatile("ud2"); }

QOB_FAULTING void ExecuteBreakpoint() { asm volatile("int3"); }

volatile bool gRecurseForever = true;  // hides the endless recursion from the compiler

QOB_FAULTING int Recurse(int depth) {
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    return gRecurseForever ? Recurse(depth + 1) + frame[0] : 0;
}

uintptr_t CodeAddress(const void* function) { return reinterpret_cast<uintptr_t>(function); }

// A page no one may touch, at an address the test knows.
class NoAccessPage {
public:
    NoAccessPage() { page = static_cast<char*>(mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)); }
    ~NoAccessPage() { munmap(page, 4096); }
    uintptr_t Address(size_t offset = 0) const { return reinterpret_cast<uintptr_t>(page) + offset; }

private:
    char* page;
};

TEST(FaultsTest, AccessViolationIsReportedWithItsAddresses) {
    NoAccessPage page;
    for (uintptr_t address : {page.Address(), page.Address(100), uintptr_t{0x10}}) {
        const std::optional<FaultReport> fault = RunGuarded([&] { WriteTo(address); });
        ASSERT_TRUE(fault.has_value()) << address;
        EXPECT_EQ(fault->kind, FaultKind::AccessViolation);
        EXPECT_STREQ(GetFaultName(fault->kind), "Access violation");
        EXPECT_EQ(fault->signal, SIGSEGV);
        EXPECT_EQ(fault->dataAddress, address);
        EXPECT_GE(fault->instructionAddress, CodeAddress(reinterpret_cast<void*>(&WriteTo)));
        EXPECT_LT(fault->instructionAddress, CodeAddress(reinterpret_cast<void*>(&WriteTo)) + 64);
    }
}

TEST(FaultsTest, DivisionByZeroIsReported) {
    int result = -1;
    const std::optional<FaultReport> fault = RunGuarded([&] { result = Divide(7, 0); });
    ASSERT_TRUE(fault.has_value());
    EXPECT_EQ(fault->kind, FaultKind::IntegerDivideByZero);
    EXPECT_STREQ(GetFaultName(fault->kind), "Integer divide by 0");
    EXPECT_EQ(fault->signal, SIGFPE);
    EXPECT_EQ(result, -1) << "the faulting statement did not complete";
    EXPECT_GE(fault->instructionAddress, CodeAddress(reinterpret_cast<void*>(&Divide)));
    EXPECT_LT(fault->instructionAddress, CodeAddress(reinterpret_cast<void*>(&Divide)) + 64);
    EXPECT_EQ(fault->dataAddress, fault->instructionAddress);
}

TEST(FaultsTest, IllegalInstructionIsReported) {
    const std::optional<FaultReport> fault = RunGuarded([] { ExecuteIllegalInstruction(); });
    ASSERT_TRUE(fault.has_value());
    EXPECT_EQ(fault->kind, FaultKind::IllegalInstruction);
    EXPECT_STREQ(GetFaultName(fault->kind), "Illegal instruction");
}

TEST(FaultsTest, BreakpointInstructionIsReported) {
    const std::optional<FaultReport> fault = RunGuarded([] { ExecuteBreakpoint(); });
    ASSERT_TRUE(fault.has_value());
    EXPECT_EQ(fault->kind, FaultKind::Breakpoint);
    EXPECT_STREQ(GetFaultName(fault->kind), "Breakpoint");
}

TEST(FaultsTest, StackExhaustionIsReported) {
    const std::optional<FaultReport> fault = RunGuarded([] { Recurse(0); });
    ASSERT_TRUE(fault.has_value());
    EXPECT_EQ(fault->kind, FaultKind::AccessViolation);
    EXPECT_FALSE(RunGuarded([] {}).has_value()) << "the guard still works afterwards";
}

TEST(FaultsTest, TheProcessGoesOnAfterManyFaults) {
    NoAccessPage page;
    int completed = 0;
    for (int round = 0; round < 200; ++round) {
        const auto violation = RunGuarded([&] { WriteTo(page.Address(round)); });
        ASSERT_TRUE(violation.has_value()) << round;
        ASSERT_EQ(violation->dataAddress, page.Address(round));
        const auto division = RunGuarded([&] { Divide(round, 0); });
        ASSERT_TRUE(division.has_value()) << round;
        ASSERT_EQ(division->kind, FaultKind::IntegerDivideByZero);
        ASSERT_FALSE(RunGuarded([&] { completed += Divide(round, 1) >= 0; }).has_value());
    }
    EXPECT_EQ(completed, 200);
    EXPECT_FALSE(IsGuarded());
}

TEST(FaultsTest, GuardsNest) {
    NoAccessPage page;
    std::optional<FaultReport> inner;
    bool outerWentOn = false;
    const auto outer = RunGuarded([&] {
        EXPECT_TRUE(IsGuarded());
        inner = RunGuarded([&] { WriteTo(page.Address(8)); });
        outerWentOn = true;
        EXPECT_TRUE(IsGuarded()) << "back in the outer guard";
    });
    EXPECT_FALSE(outer.has_value());
    ASSERT_TRUE(inner.has_value());
    EXPECT_EQ(inner->dataAddress, page.Address(8));
    EXPECT_TRUE(outerWentOn);

    // A fault after the inner guard has reported goes to the outer one.
    const auto second = RunGuarded([&] {
        const auto first = RunGuarded([&] { WriteTo(page.Address(16)); });
        if (first) WriteTo(page.Address(24));
    });
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->dataAddress, page.Address(24));
    EXPECT_FALSE(IsGuarded());
}

// A fault raised by a check (an access refused before it is made) leaves the
// innermost guard as a signal would, with the report given; with no guard
// there is nowhere to go and nothing happens.
TEST(FaultsTest, RaisedFaultsLeaveTheInnermostGuard) {
    FaultReport raised;
    raised.kind = FaultKind::AccessViolation;
    raised.instructionAddress = 0x40001234;
    raised.dataAddress = 0x40001234;
    EXPECT_FALSE(RaiseFault(raised));
    bool wentOn = false;
    bool outerWentOn = false;
    const auto outer = RunGuarded([&] {
        const auto inner = RunGuarded([&] {
            RaiseFault(raised);
            wentOn = true;
        });
        ASSERT_TRUE(inner.has_value());
        EXPECT_EQ(inner->kind, FaultKind::AccessViolation);
        EXPECT_EQ(inner->instructionAddress, 0x40001234u);
        EXPECT_EQ(inner->dataAddress, 0x40001234u);
        outerWentOn = true;
        RaiseFault(raised);
    });
    EXPECT_FALSE(wentOn);
    EXPECT_TRUE(outerWentOn);
    ASSERT_TRUE(outer.has_value());
    EXPECT_EQ(outer->dataAddress, 0x40001234u);
    EXPECT_FALSE(IsGuarded());
}

TEST(FaultsTest, ExceptionsLeaveTheGuardCleanly) {
    EXPECT_THROW(RunGuarded([] { throw std::runtime_error("out"); }), std::runtime_error);
    EXPECT_FALSE(IsGuarded());
    EXPECT_TRUE(RunGuarded([] { Divide(1, 0); }).has_value());
}

TEST(FaultsTest, EachThreadHasItsOwnGuards) {
    constexpr int kThreads = 4;
    NoAccessPage page;
    std::vector<std::thread> threads;
    std::atomic<int> mismatches{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &page, &mismatches] {
            EXPECT_FALSE(IsGuarded());
            for (int round = 0; round < 100; ++round) {
                const uintptr_t address = page.Address(t * 512 + round);
                const auto fault = RunGuarded([&] { WriteTo(address); });
                if (!fault || fault->dataAddress != address) ++mismatches;
                const auto division = RunGuarded([&] { Divide(t, 0); });
                if (!division || division->kind != FaultKind::IntegerDivideByZero) ++mismatches;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

TEST(FaultsTest, AFaultWithoutGuardEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    NoAccessPage page;
    RunGuarded([] {});  // our handlers are installed in this process
    // The fault goes to whatever handled it before us: the default action
    // (killed by SIGSEGV) or a sanitizer's report (a failing exit).
    const auto endsBadly = [](int status) {
        return WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0);
    };
    EXPECT_EXIT(WriteTo(page.Address()), endsBadly, "");
}

TEST(FaultsTest, SignalsAreClassified) {
    struct Case {
        int signal, code;
        const char* name;
    };
    const Case cases[] = {
        {SIGSEGV, SEGV_MAPERR, "Access violation"},
        {SIGSEGV, SEGV_ACCERR, "Access violation"},
        {SIGBUS, BUS_ADRALN, "Address misaligned"},
        {SIGBUS, BUS_ADRERR, "Access violation"},
        {SIGILL, ILL_ILLOPC, "Illegal instruction"},
        {SIGTRAP, TRAP_BRKPT, "Breakpoint"},
        {SIGTRAP, TRAP_TRACE, "Single step"},
        {SIGILL, ILL_PRVOPC, "Priviledged instruction"},
        {SIGILL, ILL_PRVREG, "Priviledged instruction"},
        {SIGFPE, FPE_INTDIV, "Integer divide by 0"},
        {SIGFPE, FPE_INTOVF, "Integer overflow"},
        {SIGFPE, FPE_FLTDIV, "Floating point, or software exception"},
        {SIGFPE, FPE_FLTINV, "Floating point, or software exception"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(GetFaultName(ClassifyFault(c.signal, c.code)), c.name) << c.signal << "/" << c.code;
}

TEST(FaultsTest, ExceptionCodesHaveTheirNames) {
    struct Case {
        uint32_t code;
        const char* name;
    };
    const Case cases[] = {
        {0x80000002u, "Address misaligned"},
        {0x80000003u, "Breakpoint"},
        {0x80000004u, "Single step"},
        {0xC0000005u, "Access violation"},
        {0xC000001Du, "Illegal instruction"},
        {0xC0000094u, "Integer divide by 0"},
        {0xC0000095u, "Integer overflow"},
        {0xC0000096u, "Priviledged instruction"},
        {0xE0000001u, "Time limit exceeded"},
        {0xE0000002u, "Floating point, or software exception"},
        {0xC000008Eu, "Floating point, or software exception"},
        {0u, "Floating point, or software exception"},
    };
    for (const Case& c : cases) EXPECT_STREQ(GetFaultName(c.code), c.name) << std::hex << c.code;
}

}  // namespace
}  // namespace qob::platform
