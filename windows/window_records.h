// windows/window_records.h
// Window records of a context's script windows and the process-wide list of
// script window classes. The list stays empty until windows can be created.
#pragma once

#include <cstdint>

namespace qob {

struct Instruction;
struct ProgramContext;
struct VariableRecord;

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
    WindowHandle menuBar;            // destroyed with the record
    void* activateInfo;              // 12 bytes for the shell, made on first use
    uintptr_t font;                  // deleted with the record
    uintptr_t accelerators;          // destroyed with the record, and when replaced
    Instruction* eventProcedure;
    ProgramContext* procedureContext;  // whose code eventProcedure is; null: the record's own context
    Instruction* savedEventProcedure; // parked while a run-time error box is up
    uintptr_t savedWindowProcedure;   // of a subclassed control
    void* secondBlock;
    char* className;                 // 8-bit copy of the window-class name (process heap)
    char16_t* formClassName;         // the form class this record registered (process heap), or null
    double userValue;                // setuserdata
    char* userText;                  // the record's own copy
    uint8_t userTextWide;            // userText is UTF-16
    VariableRecord* userVariable;
    uint8_t firstWindow;
    uint8_t noSettingChange;         // newformex: WM_SETTINGCHANGE not passed to the shell
    uint8_t modal;                   // showmodal runs its loop for this window
    uint8_t destroying;              // DestroyWindowRecords is destroying it
    uint32_t textColour;             // 0: none
    uint32_t backColour;             // 0: none
    WindowRecord* previous;
    WindowRecord* next;
};

// Appends a zeroed record from the context heap; the first one of a context is
// its first window.
WindowRecord* AddWindowRecord(ProgramContext* context, WindowHandle window, WindowClassRecord* windowClass,
                              WindowHandle menuBar, Instruction* eventProcedure);

// The context a record's event procedure runs in: the one that supplied it
// (newcontrol gives a record of the parent's context a procedure of the
// calling program), else the record's own.
[[nodiscard]] inline ProgramContext* ProcedureContextOf(const WindowRecord* record, ProgramContext* recordContext) {
    return record->procedureContext ? record->procedureContext : recordContext;
}
// An ending context's procedures leave the records of other contexts, so
// that no message runs its freed code.
void ClearProceduresSuppliedBy(ProgramContext* context);
// Whether a record other than the given one holds the font.
[[nodiscard]] bool FontHeldByAnotherRecord(const WindowRecord* except, uintptr_t font);

// Hands the handle of each of the context's windows, in list order, to visit.
void VisitContextWindows(ProgramContext* context, void (*visit)(uintptr_t window, void* user), void* user);

// The record of a window in any context (and that context), or null.
[[nodiscard]] WindowRecord* FindWindowRecordByHandle(WindowHandle window, ProgramContext** context);

// Destroys the window with its children, its class and its events, and frees the record.
void DestroyWindowRecords(ProgramContext* context, WindowRecord* record);
void FreeWindowRecords(WindowHandle window);
// Frees the record of a window that is being destroyed already (its
// WM_DESTROY or WM_NCDESTROY): its children's records, its replaced
// procedure put back, its events; the window is not destroyed again.
void ReleaseWindowRecord(ProgramContext* context, WindowRecord* record);
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
