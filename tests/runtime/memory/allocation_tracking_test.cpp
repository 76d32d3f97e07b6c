// tests/runtime/memory/allocation_tracking_test.cpp
// Blocks and objects owned by call depths.

#include "runtime/memory/allocation_tracking.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/memory.h"
#include "runtime/vm/program_context.h"

namespace qob {
namespace {

std::vector<void*> gReleased;
void RecordRelease(void* object) {
    gReleased.push_back(object);
    platform::FreeBlock(object);
}

class AllocationTrackingTest : public ::testing::Test {
protected:
    void SetUp() override {
        gReleased.clear();
        context = static_cast<ProgramContext*>(platform::AllocateZeroedBlock(sizeof(ProgramContext)));
    }
    void TearDown() override {
        FreeTrackedAllocations(context);
        platform::FreeBlock(context);
    }
    ProgramContext* context = nullptr;
};

TEST_F(AllocationTrackingTest, DepthZeroMeansTheCurrentDepth) {
    context->callDepth = 3;
    void* block = platform::AllocateBlock(8);
    TrackAllocation(context, block, 0, kTrackedBlock);
    EXPECT_EQ(context->tracking->ownerDepth, 3);
    FreeTrackedAllocationsFrom(context, 3);
    EXPECT_FALSE(platform::IsLiveBlock(block));
    EXPECT_EQ(CountTrackedAllocations(context), 0);
}

TEST_F(AllocationTrackingTest, EndingADepthFreesItAndDeeperOnly) {
    void* blocks[4];
    for (int depth = 1; depth <= 4; ++depth) {
        blocks[depth - 1] = platform::AllocateBlock(8);
        TrackAllocationAtDepth(context, blocks[depth - 1], depth, kTrackedBlock);
    }
    FreeTrackedAllocationsFrom(context, 3);
    EXPECT_TRUE(platform::IsLiveBlock(blocks[0]));
    EXPECT_TRUE(platform::IsLiveBlock(blocks[1]));
    EXPECT_FALSE(platform::IsLiveBlock(blocks[2]));
    EXPECT_FALSE(platform::IsLiveBlock(blocks[3]));
    EXPECT_EQ(CountTrackedAllocations(context), 2);
}

TEST_F(AllocationTrackingTest, ComWrappersGoWithTheirDepthOtherKindsWithTheContext) {
    void* wrapper = platform::AllocateBlock(8);
    void* object = platform::AllocateBlock(8);
    TrackAllocationAtDepth(context, wrapper, 2, kTrackedComObject, RecordRelease);
    TrackAllocationAtDepth(context, object, 2, 'O', RecordRelease);
    FreeTrackedAllocationsFrom(context, 2);
    EXPECT_EQ(gReleased, std::vector<void*>{wrapper});
    EXPECT_EQ(CountTrackedAllocations(context), 1);
    FreeTrackedAllocations(context);
    EXPECT_EQ(gReleased, (std::vector<void*>{wrapper, object}));
    EXPECT_EQ(context->tracking, nullptr);
}

TEST_F(AllocationTrackingTest, RecordsOfOuterDepthsSurviveInnerDepthEnds) {
    for (int i = 0; i < 1000; ++i) TrackAllocationAtDepth(context, platform::AllocateBlock(8), 1, kTrackedBlock);
    for (int round = 0; round < 100; ++round) {
        TrackAllocationAtDepth(context, platform::AllocateBlock(8), 2, kTrackedBlock);
        FreeTrackedAllocationsFrom(context, 2);
    }
    EXPECT_EQ(CountTrackedAllocations(context), 1000);
}

// Ending a depth lowers the mark of depths in use; blocks given to depths
// below and above it afterwards must still be freed with their depth.
TEST_F(AllocationTrackingTest, DepthsFilledAgainAfterAnEndAreFreedAgain) {
    void* outer = platform::AllocateBlock(8);
    TrackAllocationAtDepth(context, outer, 1, kTrackedBlock);
    TrackAllocationAtDepth(context, platform::AllocateBlock(8), 5, kTrackedBlock);
    FreeTrackedAllocationsFrom(context, 3);
    FreeTrackedAllocationsFrom(context, 3);  // nothing left there: a second end is harmless
    void* middle = platform::AllocateBlock(8);
    void* deep = platform::AllocateBlock(8);
    TrackAllocationAtDepth(context, middle, 2, kTrackedBlock);
    TrackAllocationAtDepth(context, deep, 7, kTrackedBlock);
    FreeTrackedAllocationsFrom(context, 7);
    EXPECT_FALSE(platform::IsLiveBlock(deep));
    EXPECT_TRUE(platform::IsLiveBlock(middle));
    FreeTrackedAllocationsFrom(context, 2);
    EXPECT_FALSE(platform::IsLiveBlock(middle));
    EXPECT_TRUE(platform::IsLiveBlock(outer));
    EXPECT_EQ(CountTrackedAllocations(context), 1);
}

TEST_F(AllocationTrackingTest, ForgottenObjectOutlivesItsDepthsAndTheContext) {
    void* kept = platform::AllocateBlock(8);
    void* other = platform::AllocateBlock(8);
    TrackAllocationAtDepth(context, kept, 2, kTrackedBlock);
    TrackAllocationAtDepth(context, other, 2, kTrackedBlock);
    TrackAllocationAtDepth(context, kept, 1, kTrackedBlock);  // tracked twice: both records go
    ForgetTrackedObject(context, kept);
    EXPECT_EQ(CountTrackedAllocations(context), 1);
    FreeTrackedAllocationsFrom(context, 1);
    EXPECT_TRUE(platform::IsLiveBlock(kept));
    EXPECT_FALSE(platform::IsLiveBlock(other));
    TrackAllocationAtDepth(context, platform::AllocateBlock(8), 1, kTrackedBlock);
    FreeTrackedAllocations(context);
    EXPECT_TRUE(platform::IsLiveBlock(kept));
    platform::FreeBlock(kept);
}

// Only the newest record goes, and only a block's: any other object asked
// for is refused with every record left in place.
TEST_F(AllocationTrackingTest, NewestBlockIsForgottenWithoutAWalk) {
    void* older = platform::AllocateBlock(8);
    void* object = platform::AllocateBlock(8);
    void* newest = platform::AllocateBlock(8);
    TrackAllocationAtDepth(context, older, 2, kTrackedBlock);
    TrackAllocationAtDepth(context, object, 2, 'O', RecordRelease);
    EXPECT_FALSE(ForgetNewestTrackedBlock(context, object)) << "not a block";
    TrackAllocationAtDepth(context, newest, 2, kTrackedBlock);
    EXPECT_FALSE(ForgetNewestTrackedBlock(context, older)) << "not the newest";
    EXPECT_FALSE(ForgetNewestTrackedBlock(context, nullptr));
    EXPECT_EQ(CountTrackedAllocations(context), 3);
    EXPECT_TRUE(ForgetNewestTrackedBlock(context, newest));
    EXPECT_EQ(CountTrackedAllocations(context), 2);
    EXPECT_FALSE(ForgetNewestTrackedBlock(context, newest)) << "forgotten already";
    FreeTrackedAllocationsFrom(context, 2);
    EXPECT_TRUE(platform::IsLiveBlock(newest));
    EXPECT_FALSE(platform::IsLiveBlock(older));
    EXPECT_TRUE(platform::IsLiveBlock(object)) << "other kinds stay for the context's end";
    FreeTrackedAllocations(context);
    EXPECT_EQ(gReleased, std::vector<void*>{object});
    EXPECT_TRUE(platform::IsLiveBlock(newest));
    platform::FreeBlock(newest);
}

}  // namespace
}  // namespace qob
