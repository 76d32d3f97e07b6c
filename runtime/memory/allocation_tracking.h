// runtime/memory/allocation_tracking.h
// Temporary blocks and objects owned by a call depth: freed when the procedure
// or loop of that depth ends, or with the context.
#pragma once

#include <cstdint>

#include "runtime/vm/program_context.h"

namespace qob {

// Kinds of tracked objects.
constexpr char kTrackedBlock = ' ';      // a block of the process heap: freed
constexpr char kTrackedComObject = 'X';  // a COM wrapper: released, then destroyed
// Any other kind: an object the context deletes when it ends.

// Release routine of the objects of kinds other than kTrackedBlock.
using TrackedDeleter = void (*)(void* object);

struct TrackedAllocation {
    void* object;
    int32_t ownerDepth;
    char kind;
    TrackedDeleter deleter;       // how kinds other than ' ' are destroyed
    TrackedAllocation* older;     // the context's list, newest first
    TrackedAllocation* newer;
    TrackedAllocation* nextOfDepth; // chain of the same depth (the index)
};

// Gives the object to a call depth (0: the context's current depth). Records
// come from the process heap and are indexed by depth, so freeing one depth
// does not walk the records of the others.
void TrackAllocation(ProgramContext* context, void* object, int32_t ownerDepth, char kind,
                     TrackedDeleter deleter = nullptr);

// The same with the depth taken as given (0 is the outermost depth, whose
// objects stay until the context ends).
void TrackAllocationAtDepth(ProgramContext* context, void* object, int32_t depth, char kind,
                            TrackedDeleter deleter = nullptr);

// Frees the blocks and COM wrappers of every depth at or above the given one
// (other kinds stay for the end of the context). Used when a procedure or loop
// ends, and on every pass of a loop: most of those depths hold nothing, which
// is settled here without a call.
void FreeTrackedDepths(ProgramContext* context, int32_t depth);
inline void FreeTrackedAllocationsFrom(ProgramContext* context, int32_t depth) {
    if (depth < context->trackingDepthsUsed) FreeTrackedDepths(context, depth);
}

// Drops every record of the object without freeing it: the object now has an
// owner that outlives its depth (a variable it was handed to). Walks every
// record, so it is meant for hand-overs, not for a hot path.
void ForgetTrackedObject(ProgramContext* context, const void* object);

// The same for a block that is the newest record of all, as a result just
// made is: answered without a walk. False, dropping nothing, when the newest
// record is another object's or not a block's.
[[nodiscard]] bool ForgetNewestTrackedBlock(ProgramContext* context, const void* block);

// Frees every tracked object and record and empties the list.
void FreeTrackedAllocations(ProgramContext* context);

// Number of records currently tracked by the context.
[[nodiscard]] int32_t CountTrackedAllocations(const ProgramContext* context);

}  // namespace qob
