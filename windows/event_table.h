// windows/event_table.h
// The process-wide event table that routes window messages and game events to
// script procedures, newest record first.
#pragma once

#include <cstdint>

#include "windows/window_records.h"

namespace qob {

struct EventRecord {
    ProgramContext* owner;
    WindowHandle window;
    uint32_t message;          // message or notification code
    int32_t controlId;
    Instruction* procedure;
    EventRecord* next;
};

extern EventRecord* EventTable;

// Adds a record at the head of the table (process heap).
EventRecord* AddEventRecord(ProgramContext* owner, WindowHandle window, uint32_t message, int32_t controlId,
                            Instruction* procedure);

// Removes every record of the window (0: every record).
void RemoveWindowEvents(WindowHandle window);

// Removes every record the context owns (null: every record).
void RemoveOwnerEvents(ProgramContext* owner);

}  // namespace qob
