// tests/host/profiler_test.cpp
// The __profile stamps, the records they charge and the shut-down reports.

#include "host/profiler.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/memory.h"
#include "platform/temp_directory.h"
#include "runtime/memory/memory_blocks.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm_fixture.h"

namespace qob {
namespace {

using testing::ScopedEnvironment;
using testing::TempDirectory;

class ProfilerTest : public testing::VmTest {
protected:
    void SetUp() override {
        VmTest::SetUp();
        // Records an earlier test's run stamped go first, unreported.
        Profiling = false;
        WriteProfileReports();
        platform::SetTestClock(10'000'000'000);
        CurrentProcName = "MAIN";
    }
    void TearDown() override {
        Profiling = false;
        MemoryTracking = false;
        WriteProfileReports();  // empties the list and the registry for the next test
        platform::ClearTestClock();
        CurrentProcName = nullptr;
        VmTest::TearDown();
    }

    // One __profile step as the compiler emits it: the file, then the line.
    void Stamp(const char* file, double line) {
        PushValue(file, 0.0, nullptr);
        PushValue(nullptr, line, nullptr);
        Builtin___profile();
    }

    // The report's lines after its date and time header.
    std::vector<std::string> ReportRows(const char* name) {
        std::ifstream file(root.Join(name));
        EXPECT_TRUE(file.good()) << name;
        std::vector<std::string> rows;
        std::string line;
        std::getline(file, line);
        while (std::getline(file, line)) rows.push_back(line);
        return rows;
    }

    TempDirectory root;
    ScopedEnvironment rootSetting{"QOB_ROOT", (root.Path() + "/").c_str()};
};

TEST_F(ProfilerTest, ChargesEachIntervalToTheLineThatEndsIt) {
    Stamp("a.qob", 1);  // the first stamp of a run: its interval starts now
    platform::AdvanceTestClock(100);
    Stamp("a.qob", 2);
    platform::AdvanceTestClock(50);
    Stamp("a.qob", 2);
    platform::AdvanceTestClock(1'234'567);
    Stamp("b.qob", 7);

    Profiling = true;
    WriteProfileReports();
    const std::vector<std::string> expected = {
        "a.qob\tMAIN\t1\t1\t0\t0\t0.00%",
        "a.qob\tMAIN\t2\t2\t150\t75\t0.01%",
        "b.qob\tMAIN\t7\t1\t1,234,567\t1,234,567\t99.99%",
        "totals\t\t3\t4\t1,234,717\t1,234,642\t100.00%",
    };
    EXPECT_EQ(ReportRows("profile.txt"), expected);
    EXPECT_EQ(NewestProfileRecord(), nullptr);
}

TEST_F(ProfilerTest, AverageIsTheTotalDividedByTheCountTruncated) {
    Stamp("a.qob", 1);
    for (int64_t step : {30, 30, 40}) {
        platform::AdvanceTestClock(static_cast<uint64_t>(step));
        Stamp("a.qob", 5);
    }
    const ProfileRecord* record = NewestProfileRecord();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->line, 5);
    EXPECT_EQ(record->count, 3u);
    EXPECT_EQ(record->total, 100u);
    Profiling = true;
    WriteProfileReports();
    EXPECT_EQ(ReportRows("profile.txt")[1], "a.qob\tMAIN\t5\t3\t100\t33\t100.00%");
}

TEST_F(ProfilerTest, FilesWithTheSameHashShareTheirRecords) {
    // Records are keyed by the name's hash and the line, as the compiler keys them.
    Stamp("ciyxgdqu.qob", 3);
    platform::AdvanceTestClock(10);
    Stamp("rxrnenwr.qob", 3);
    platform::AdvanceTestClock(10);
    Stamp("rxrnenwr.qob", 4);
    const ProfileRecord* newest = NewestProfileRecord();
    ASSERT_NE(newest, nullptr);
    ASSERT_NE(newest->next, nullptr);
    EXPECT_EQ(newest->next->name, "ciyxgdqu.qob");
    EXPECT_EQ(newest->next->count, 2u);
    EXPECT_EQ(newest->next->next, nullptr);
}

TEST_F(ProfilerTest, TheStampIsTakenBeforeTheArgumentsArePopped) {
    Stamp("a.qob", 1);
    EXPECT_EQ(context->timingCounters[kProfileStampSlot], 10'000'000'000u);
    // A number given as the file name stands for its text; a text line converts.
    PushValue(nullptr, 12.0, nullptr);
    PushValue("9", 0.0, nullptr);
    Builtin___profile();
    EXPECT_EQ(NewestProfileRecord()->name, "12");
    EXPECT_EQ(NewestProfileRecord()->line, 9);
    EXPECT_EQ(CountStackEntries(context->stackTop), 1);
}

TEST_F(ProfilerTest, AnEmptyProfileHasSharesOfZeroRatherThanNotANumber) {
    Stamp("a.qob", 1);
    Stamp("a.qob", 2);
    Profiling = true;
    WriteProfileReports();
    const std::vector<std::string> expected = {
        "a.qob\tMAIN\t1\t1\t0\t0\t0.00%",
        "a.qob\tMAIN\t2\t1\t0\t0\t0.00%",
        "totals\t\t2\t2\t0\t0\t0.00%",
    };
    EXPECT_EQ(ReportRows("profile.txt"), expected);
}

TEST_F(ProfilerTest, WithNeitherSwitchNoReportIsWrittenAndTheRecordsGo) {
    Stamp("a.qob", 1);
    MemoryTracking = false;
    RegisterMemoryBlock("a.qob", 1, context, 16);
    WriteProfileReports();
    EXPECT_FALSE(std::ifstream(root.Join("profile.txt")).good());
    EXPECT_FALSE(std::ifstream(root.Join("memory.txt")).good());
    EXPECT_EQ(NewestProfileRecord(), nullptr);
    EXPECT_EQ(GetNewestMemoryBlock(), nullptr);
}

TEST_F(ProfilerTest, MemoryReportListsTheBlocksStillRegisteredOldestFirst) {
    MemoryTracking = true;
    void* first = platform::AllocateBlock(1500);
    void* second = platform::AllocateBlock(24);
    RegisterMemoryBlock("x.qob", 4, first, 0);
    RegisterMemoryBlock("y.qob", 9, second, 0);
    WriteProfileReports();
    char rows[2][128];
    std::snprintf(rows[0], sizeof rows[0], "x.qob\t\t4\t0x%" PRIxPTR "\t1,500", reinterpret_cast<uintptr_t>(first));
    std::snprintf(rows[1], sizeof rows[1], "y.qob\t\t9\t0x%" PRIxPTR "\t24", reinterpret_cast<uintptr_t>(second));
    const std::vector<std::string> expected = {rows[0], rows[1], "totals\t\t\t\t1,524"};
    EXPECT_EQ(ReportRows("memory.txt"), expected);
    EXPECT_EQ(GetNewestMemoryBlock(), nullptr);
    platform::FreeBlock(first);
    platform::FreeBlock(second);
}

TEST_F(ProfilerTest, ShutDownLeavesTheCurrentProcedureNameAlone) {
    // The name points into a procedure header: no block of its own to free.
    Instruction* start = StartProc("WORK(0,0)", false);
    CurrentProcName = start->text + 4;
    Stamp("a.qob", 1);
    Profiling = true;
    MemoryTracking = true;
    WriteProfileReports();
    EXPECT_TRUE(platform::IsLiveBlock(start->text));
    EXPECT_STREQ(CurrentProcName, "WORK(0,0)");
    EXPECT_EQ(ReportRows("profile.txt")[0], "a.qob\tWORK(0,0)\t1\t1\t0\t0\t0.00%");
}

}  // namespace
}  // namespace qob
