// windows/window_records.h
// Window records of a context's script windows and the process-wide list of
// script window classes. The list stays empty until windows can be created.
#pragma once

#include <cstdint>

namespace qob {

struct Instruction;
struct ProgramContext;

using WindowHandle = uintptr_t;

// A window class a program registered. Records and names live on the process
// heap, tagged with the context that registered them, so they outlive no
// context's heap and a context's end removes exactly its own classes.
struct WindowClassRecord {
    char* name;
    uint32_t nameHash;          // HashName of the name
    double value;               // the procedure or value given at registration
    char16_t* wideName;         // the name as registered with the window layer
    ProgramContext* owner;
    WindowClassRecord* next;
};

// One script window or control, in its context's window list.
struct WindowRecord {
    WindowHandle window;
    WindowClassRecord* windowClass;  // unregistered and freed with the record
    WindowHandle menuBar;
    void* activateInfo;
    uintptr_t font;
    Instruction* eventProcedure;
    Instruction* savedEventProcedure; // parked while a run-time error box is up
    uintptr_t savedWindowProcedure;   // of a subclassed control
    void* secondBlock;
    uint8_t firstWindow;
    WindowRecord* previous;
    WindowRecord* next;
};

// Appends a zeroed record from the context heap; the first one of a context is
// its first window.
WindowRecord* AddWindowRecord(ProgramContext* context, WindowHandle window, WindowClassRecord* windowClass,
                              WindowHandle menuBar, Instruction* eventProcedure);

// Hands the handle of each of the context's windows, in list order, to visit.
void VisitContextWindows(ProgramContext* context, void (*visit)(uintptr_t window, void* user), void* user);

// The record of a window in any context (and that context), or null.
[[nodiscard]] WindowRecord* FindWindowRecordByHandle(WindowHandle window, ProgramContext** context);

// Destroys the window with its children, its class and its events, and frees the record.
void DestroyWindowRecords(ProgramContext* context, WindowRecord* record);
void FreeWindowRecords(WindowHandle window);
void DestroyWindowByHandle(WindowHandle window);

// The process-wide window-class list (registered by the current context).
WindowClassRecord* AddWindowClass(const char* name, double value);
[[nodiscard]] WindowClassRecord* FindWindowClass(const char* name);
void RemoveWindowClass(const char* name);
// Removes every class the context registered (its end).
void RemoveContextWindowClasses(ProgramContext* context);

// Parks / restores the event procedures of every script window while a
// run-time error box is up.
void SuspendWindowEvents();
void ResumeWindowEvents();

}  // namespace qob
