// windows/window_records.cpp
// Window records and the script window-class list. Windows themselves come
// with the window layer; until then a context's window list stays empty.

#include "windows/window_records.h"

#include <cstring>

#include "platform/controls/accelerators.h"
#include "platform/gdi.h"
#include "platform/memory.h"
#include "platform/message_queue.h"
#include "platform/window_manager.h"
#include "runtime/data/hash.h"
#include "runtime/vm/program_context.h"
#include "windows/event_table.h"

namespace qob {
namespace {

WindowClassRecord* gWindowClasses = nullptr;

uint32_t NameHash(const char* name) { return HashName(name, std::strlen(name)); }

char* CopyName(const char* name) {
    const size_t length = std::strlen(name) + 1;
    auto* copy = static_cast<char*>(platform::AllocateBlock(length));
    if (copy) std::memcpy(copy, name, length);
    return copy;
}

void FreeClassRecord(WindowClassRecord* record) {
    // The system's class goes with its record (it stays while a window of
    // it is left: that window then gets default processing).
    bool shared = false;
    for (const WindowClassRecord* other = gWindowClasses; other; other = other->next)
        shared = shared || other->nameHash == record->nameHash;
    if (record->wideName && !shared) (void)platform::UnregisterClassW(record->wideName, 0);
    platform::FreeBlock(record->name);
    platform::FreeBlock(record->wideName);
    platform::FreeBlock(record);
}

// Unlinks every record the predicate picks and frees it.
template <typename Predicate>
void RemoveClasses(Predicate pick) {
    WindowClassRecord** link = &gWindowClasses;
    while (*link) {
        WindowClassRecord* record = *link;
        if (pick(record)) {
            *link = record->next;
            FreeClassRecord(record);
        } else {
            link = &record->next;
        }
    }
}

}  // namespace

WindowRecord* AddWindowRecord(ProgramContext* context, WindowHandle window, WindowClassRecord* windowClass,
                              WindowHandle menuBar, Instruction* eventProcedure) {
    auto* record = static_cast<WindowRecord*>(AllocContextBlock(context, sizeof(WindowRecord)));
    if (!record) return nullptr;
    record->window = window;
    record->windowClass = windowClass;
    record->menuBar = menuBar;
    record->eventProcedure = eventProcedure;
    WindowRecord* last = context->windows;
    while (last && last->next) last = last->next;
    record->firstWindow = last == nullptr;
    record->previous = last;
    if (last) last->next = record;
    else context->windows = record;
    return record;
}

void VisitContextWindows(ProgramContext* context, void (*visit)(uintptr_t window, void* user), void* user) {
    for (WindowRecord* record = context ? context->windows : nullptr; record; record = record->next)
        visit(record->window, user);
}

WindowRecord* FindWindowRecordByHandle(WindowHandle window, ProgramContext** context) {
    for (ProgramContext* c = FirstContext; c; c = c->next)
        for (WindowRecord* record = c->windows; record; record = record->next)
            if (record->window == window) {
                if (context) *context = c;
                return record;
            }
    return nullptr;
}

namespace {

// The record of a child window of the window, in any context, or null.
WindowRecord* FindChildRecord(WindowHandle window, ProgramContext** context) {
    if (window == 0) return nullptr;
    for (ProgramContext* c = FirstContext; c; c = c->next)
        for (WindowRecord* record = c->windows; record; record = record->next)
            if (!record->destroying && record->window != 0 && platform::IsChild(window, record->window)) {
                *context = c;
                return record;
            }
    return nullptr;
}

}  // namespace

namespace {

void FreeRecord(ProgramContext* context, WindowRecord* record, bool destroyWindow) {
    if (record->destroying == 2) return;  // its window's own end is freeing it
    record->destroying = 1;
    ProgramContext* childContext = nullptr;
    while (WindowRecord* child = FindChildRecord(record->window, &childContext))
        DestroyWindowRecords(childContext, child);
    platform::FreeBlock(record->activateInfo);
    record->activateInfo = nullptr;
    const WindowHandle window = record->window;
    if (record->menuBar) platform::DestroyWindow(record->menuBar);
    if (record->savedWindowProcedure && platform::IsWindow(window))
        platform::SetWindowLongPtrW(window, platform::GWL_WNDPROC, static_cast<intptr_t>(record->savedWindowProcedure));
    // The window goes before its class: a class with a window left cannot
    // be unregistered, and would keep the name bound to this form.
    record->destroying = 2;
    if (destroyWindow) platform::DestroyWindow(window);
    platform::UnbindWindow(window);
    if (record->font && !FontHeldByAnotherRecord(record, record->font)) platform::DeleteObject(record->font);
    if (record->accelerators) platform::DestroyAcceleratorTable(record->accelerators);
    platform::FreeBlock(record->secondBlock);
    if (record->formClassName) {
        (void)platform::UnregisterClassW(record->formClassName, 0);
        platform::FreeBlock(record->formClassName);
    }
    if (record->windowClass) {
        WindowClassRecord* windowClass = record->windowClass;
        RemoveClasses([windowClass](const WindowClassRecord* r) { return r == windowClass; });
    }
    platform::FreeBlock(record->className);
    platform::FreeBlock(record->userText);
    if (window) RemoveWindowEvents(window);
    if (record->previous) record->previous->next = record->next;
    else context->windows = record->next;
    if (record->next) record->next->previous = record->previous;
    FreeContextBlock(context, record);
}

}  // namespace

void DestroyWindowRecords(ProgramContext* context, WindowRecord* record) { FreeRecord(context, record, true); }

void ReleaseWindowRecord(ProgramContext* context, WindowRecord* record) { FreeRecord(context, record, false); }

void ClearProceduresSuppliedBy(ProgramContext* context) {
    for (ProgramContext* c = FirstContext; c; c = c->next)
        for (WindowRecord* record = c->windows; record; record = record->next)
            if (record->procedureContext == context && c != context) {
                record->eventProcedure = nullptr;
                record->savedEventProcedure = nullptr;
                record->procedureContext = nullptr;
            }
}

bool FontHeldByAnotherRecord(const WindowRecord* except, uintptr_t font) {
    for (ProgramContext* c = FirstContext; c; c = c->next)
        for (const WindowRecord* record = c->windows; record; record = record->next)
            if (record != except && record->font == font) return true;
    return false;
}

void FreeWindowRecords(WindowHandle window) {
    ProgramContext* context = nullptr;
    if (WindowRecord* record = FindWindowRecordByHandle(window, &context)) DestroyWindowRecords(context, record);
}

void DestroyWindowByHandle(WindowHandle window) { FreeWindowRecords(window); }

WindowClassRecord* AddWindowClass(const char* name, double value) {
    auto* record = static_cast<WindowClassRecord*>(platform::AllocateZeroedBlock(sizeof(WindowClassRecord)));
    if (!record) return nullptr;
    record->name = CopyName(name);
    record->nameHash = NameHash(name);
    record->value = value;
    record->owner = CurrentContext;
    WindowClassRecord** link = &gWindowClasses;
    while (*link) link = &(*link)->next;
    *link = record;
    return record;
}

WindowClassRecord* FindWindowClass(const char* name) {
    const uint32_t hash = NameHash(name);
    for (WindowClassRecord* record = gWindowClasses; record; record = record->next)
        if (record->nameHash == hash) return record;
    return nullptr;
}

void RemoveWindowClass(const char* name) {
    const uint32_t hash = NameHash(name);
    bool removed = false;
    RemoveClasses([&](const WindowClassRecord* r) {
        if (removed || r->nameHash != hash) return false;
        removed = true;
        return true;
    });
}

void RemoveContextWindowClasses(ProgramContext* context) {
    RemoveClasses([context](const WindowClassRecord* r) { return r->owner == context; });
}

void SuspendWindowEvents() {
    for (ProgramContext* c = FirstContext; c; c = c->next)
        for (WindowRecord* record = c->windows; record; record = record->next) {
            record->savedEventProcedure = record->eventProcedure;
            record->eventProcedure = nullptr;
        }
}

void ResumeWindowEvents() {
    for (ProgramContext* c = FirstContext; c; c = c->next)
        for (WindowRecord* record = c->windows; record; record = record->next) {
            record->eventProcedure = record->savedEventProcedure;
            record->savedEventProcedure = nullptr;
        }
}

}  // namespace qob
