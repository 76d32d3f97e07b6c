// windows/event_table.cpp
// The process-wide event table (process heap), newest record first.

#include "windows/event_table.h"

#include "platform/memory.h"

namespace qob {

EventRecord* EventTable = nullptr;

namespace {

template <typename Predicate>
void RemoveEvents(Predicate pick) {
    EventRecord** link = &EventTable;
    while (*link) {
        EventRecord* record = *link;
        if (pick(record)) {
            *link = record->next;
            platform::FreeBlock(record);
        } else {
            link = &record->next;
        }
    }
}

}  // namespace

EventRecord* AddEventRecord(ProgramContext* owner, WindowHandle window, uint32_t message, int32_t controlId,
                            Instruction* procedure) {
    auto* record = static_cast<EventRecord*>(platform::AllocateZeroedBlock(sizeof(EventRecord)));
    if (!record) return nullptr;
    *record = {owner, window, message, controlId, procedure, EventTable};
    EventTable = record;
    return record;
}

void RemoveWindowEvents(WindowHandle window) {
    RemoveEvents([window](const EventRecord* r) { return window == 0 || r->window == window; });
}

void RemoveOwnerEvents(ProgramContext* owner) {
    RemoveEvents([owner](const EventRecord* r) { return owner == nullptr || r->owner == owner; });
}

}  // namespace qob
