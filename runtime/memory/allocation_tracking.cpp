// runtime/memory/allocation_tracking.cpp
// Per-depth ownership of temporary blocks. Besides the context's list (newest
// first) each depth keeps its own chain, so ending a depth costs what it frees.

#include "runtime/memory/allocation_tracking.h"

#include <cstdlib>

#include "platform/memory.h"
#include "runtime/vm/program_context.h"

namespace qob {
namespace {

void Unlink(ProgramContext* context, TrackedAllocation* record) {
    if (record->newer) record->newer->older = record->older;
    else context->tracking = record->older;
    if (record->older) record->older->newer = record->newer;
}

// Makes room in the per-depth index for the given depth; false when memory is out.
bool EnsureDepthSlot(ProgramContext* context, int32_t depth) {
    if (depth < context->trackingDepths) return true;
    int32_t slots = context->trackingDepths ? context->trackingDepths : 16;
    while (slots <= depth) slots *= 2;
    auto* grown = static_cast<TrackedAllocation**>(
        std::realloc(context->trackingByDepth, sizeof(TrackedAllocation*) * static_cast<size_t>(slots)));
    if (!grown) return false;
    for (int32_t i = context->trackingDepths; i < slots; ++i) grown[i] = nullptr;
    context->trackingByDepth = grown;
    context->trackingDepths = slots;
    return true;
}

// Records are reused: every temporary text of an expression takes one, and
// most are given back within the same loop pass.
TrackedAllocation* NewRecord(ProgramContext* context) {
    TrackedAllocation* record = context->trackingSpare;
    if (!record) return new TrackedAllocation;
    context->trackingSpare = record->nextOfDepth;
    return record;
}

void GiveBackRecord(ProgramContext* context, TrackedAllocation* record) {
    record->nextOfDepth = context->trackingSpare;
    context->trackingSpare = record;
}

void ReleaseObject(const TrackedAllocation* record) {
    if (record->kind == kTrackedBlock) platform::FreeBlock(record->object);
    else if (record->deleter) record->deleter(record->object);
    else platform::FreeBlock(record->object);
}

}  // namespace

void TrackAllocationAtDepth(ProgramContext* context, void* object, int32_t depth, char kind,
                            TrackedDeleter deleter) {
    if (!context || !object) return;
    if (depth < 0) depth = 0;
    TrackedAllocation* record = NewRecord(context);
    *record = {object, depth, kind, deleter, context->tracking, nullptr, nullptr};
    if (context->tracking) context->tracking->newer = record;
    context->tracking = record;
    if (!EnsureDepthSlot(context, depth)) return;  // stays until the context ends
    record->nextOfDepth = context->trackingByDepth[depth];
    context->trackingByDepth[depth] = record;
    if (depth >= context->trackingDepthsUsed) context->trackingDepthsUsed = depth + 1;
}

void TrackAllocation(ProgramContext* context, void* object, int32_t ownerDepth, char kind, TrackedDeleter deleter) {
    if (!context) return;
    TrackAllocationAtDepth(context, object, ownerDepth == 0 ? context->callDepth : ownerDepth, kind, deleter);
}

void FreeTrackedDepths(ProgramContext* context, int32_t depth) {
    if (depth < 0) depth = 0;
    if (depth >= context->trackingDepthsUsed) return;
    const int32_t used = context->trackingDepthsUsed;
    context->trackingDepthsUsed = depth;
    for (int32_t d = used - 1; d >= depth; --d) {
        TrackedAllocation* record = context->trackingByDepth[d];
        context->trackingByDepth[d] = nullptr;
        while (record) {
            TrackedAllocation* next = record->nextOfDepth;
            record->nextOfDepth = nullptr;
            // Objects other than blocks and COM wrappers wait for the end of
            // the context: they leave the index and stay in the list.
            if (record->kind == kTrackedBlock || record->kind == kTrackedComObject) {
                Unlink(context, record);
                ReleaseObject(record);
                GiveBackRecord(context, record);
            }
            record = next;
        }
    }
}

void ForgetTrackedObject(ProgramContext* context, const void* object) {
    if (!context || !object) return;
    for (int32_t d = 0; d < context->trackingDepths; ++d) {
        for (TrackedAllocation** link = &context->trackingByDepth[d]; *link;) {
            if ((*link)->object == object) *link = (*link)->nextOfDepth;
            else link = &(*link)->nextOfDepth;
        }
    }
    for (TrackedAllocation* record = context->tracking; record;) {
        TrackedAllocation* older = record->older;
        if (record->object == object) {
            Unlink(context, record);
            GiveBackRecord(context, record);
        }
        record = older;
    }
}

bool ForgetNewestTrackedBlock(ProgramContext* context, const void* block) {
    TrackedAllocation* record = context ? context->tracking : nullptr;
    if (!record || !block || record->object != block || record->kind != kTrackedBlock) return false;
    const int32_t depth = record->ownerDepth;
    if (depth >= context->trackingDepths || context->trackingByDepth[depth] != record) return false;
    context->trackingByDepth[depth] = record->nextOfDepth;
    Unlink(context, record);
    GiveBackRecord(context, record);
    return true;
}

void FreeTrackedAllocations(ProgramContext* context) {
    TrackedAllocation* record = context->tracking;
    context->tracking = nullptr;
    while (record) {
        TrackedAllocation* older = record->older;
        ReleaseObject(record);
        delete record;
        record = older;
    }
    for (TrackedAllocation* spare = context->trackingSpare; spare;) {
        TrackedAllocation* next = spare->nextOfDepth;
        delete spare;
        spare = next;
    }
    context->trackingSpare = nullptr;
    std::free(context->trackingByDepth);
    context->trackingByDepth = nullptr;
    context->trackingDepths = 0;
    context->trackingDepthsUsed = 0;
}

int32_t CountTrackedAllocations(const ProgramContext* context) {
    int32_t count = 0;
    for (const TrackedAllocation* record = context->tracking; record; record = record->older) ++count;
    return count;
}

}  // namespace qob
