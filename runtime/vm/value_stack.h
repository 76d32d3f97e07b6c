// runtime/vm/value_stack.h
// The value stack every handler takes its arguments from and leaves its result
// on: cells, push and pop, argument frames and the stack built-ins.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qob {

struct ProgramContext;
struct VariableRecord;
struct MemoryLink;

// StackEntry flags.
constexpr uint32_t kEntryByReference = 0x1;        // the variable itself is passed
constexpr uint32_t kEntryWide = 0x2;               // text is UTF-16
constexpr uint32_t kEntryMatrix = 0x10;            // text is a matrix
constexpr uint32_t kEntryObjectInArray = 0x10000000; // text and value still to be written into the variable

// One value-stack cell, allocated zeroed from the context heap. Cells above the
// top stay linked and are reused by the next push, so a running program
// allocates none. ownedLinks is cleared whenever its links are freed or taken
// over, and whenever the cell is reused: a consumer that takes the links must
// clear the word.
struct StackEntry {
    double value;              // the number; for an object, its address
    const char* text;          // 8-bit or UTF-16 text, block or matrix; null for a number. Never edited in place
    VariableRecord* variable;  // where the value was read from; null for constants and temporaries
    int32_t extra;             // auxiliary word chosen by the pushing handler
    uint32_t flags;            // kEntry* bits
    int16_t typeTag;           // VARTYPE for the next COM call (0: none); every push clears it
    MemoryLink* ownedLinks;    // memory links this cell owns
    StackEntry* below;         // null for the bottom cell
    StackEntry* above;         // kept after a pop for reuse
};

// Saved stack tops of the open argument frames of a context.
constexpr int kMaxArgumentFrames = 1024;
struct ArgumentFrame {
    StackEntry* slots[kMaxArgumentFrames];
    int32_t count;  // open frames; slots[count - 1] is the innermost
};

// --- cells -------------------------------------------------------------------

// A new zeroed cell linked above the top; the top does not move.
StackEntry* AllocStackEntry(ProgramContext* context);

// Moves the top one cell up (reusing the cell above or allocating one) and
// returns it. A reused cell's owned-links word is cleared (whoever popped it
// freed or took the links); its flags are cleared when clearFlags is set.
StackEntry* PushStackEntry(ProgramContext* context, bool clearFlags);

// Pushes {value, text, variable, extra}, flags 0, on the current context / on a given one.
void PushValue(const char* text, double value, VariableRecord* variable, int32_t extra = 0);
void PushValueTo(ProgramContext* context, const char* text, double value, VariableRecord* variable,
                 int32_t extra = 0);
inline void PushNumber(double value) { PushValue(nullptr, value, nullptr, 0); }

// Finds (or requires) the variable by name and pushes its value, text and
// itself, following its reference unless the one-shot no-follow byte is set.
void PushVariableRef(const char* name);
// The same for a variable already found (null pushes nothing).
void PushVariableCell(VariableRecord* variable);

// Pushes the 8 bytes at address as a number.
void PushDoubleAt(const void* address);

// Pops the top cell and returns it; its contents stay valid until the next
// push. The bottom cell is never popped: popping there yields an empty cell.
StackEntry* PopStackEntry();
StackEntry* PopStackEntryFrom(ProgramContext* context);

// Pops the top cell and frees (and clears) its owned links.
void DropStackEntry();

// Frees every cell of the context's stack; the top becomes null. Context end only.
void FreeValueStack(ProgramContext* context);

// Number of cells from the cell down to and including the bottom cell.
[[nodiscard]] int32_t CountStackEntries(const StackEntry* cell);
// The highest linked cell above (or at) the cell.
[[nodiscard]] StackEntry* LastStackEntry(StackEntry* cell);

// --- readers (they do not pop) -------------------------------------------------

// Bytes of a cell's text: its block size, or up to its terminator (16-bit
// when wide) when it is not the start of a block.
[[nodiscard]] size_t CellTextBytes(const char* text, bool wide);
// A new process-heap copy of those bytes (the caller owns it); null for null.
[[nodiscard]] char* CopyCellText(const char* text, bool wide);

// The cell's text; a number as text in a block tracked at the current call depth.
[[nodiscard]] const char* StackEntryString(const StackEntry* cell);
// The cell's text as UTF-16 (the text itself when it already is; else a tracked conversion).
[[nodiscard]] const uint16_t* StackEntryWideString(const StackEntry* cell);
// Copies the caller owns (free with platform FreeBlock); null when there is no text.
[[nodiscard]] char* StackEntryStringDup(const StackEntry* cell);
[[nodiscard]] uint16_t* StackEntryWideDup(const StackEntry* cell);
// The value; when zero, the extra word; when zero, the text's address (32 bits).
[[nodiscard]] int32_t StackEntryInteger(const StackEntry* cell);
// The number a cell stands for: a text converts with StringToNumber.
[[nodiscard]] double StackEntryNumber(const StackEntry* cell);

// Pop and read in one.
[[nodiscard]] int32_t PopInteger();
[[nodiscard]] double PopNumber();

// --- argument frames -------------------------------------------------------------

// Opens a frame at the current top. At the limit it raises a run-time error
// (continue 0) and opens nothing; returns whether it opened one.
bool OpenArgumentFrame(ProgramContext* context);

// Closes the innermost frame and returns its saved top; the frame's entries are
// the cells above it. With no frame open it returns the current top (no entries).
StackEntry* CloseArgumentFrame(ProgramContext* context);

// Closes one frame and leaves exactly keep cells above its saved top: drops the
// surplus (topmost first), or pushes one empty cell when there are none and keep > 0.
void DropFunctionStack(int32_t keep);

// --- handlers ----------------------------------------------------------------------

void Builtin___savesp();
void Builtin___savesp2();
void Builtin___dropfctstack();
void Builtin___dropallfctstack();
void Handle_NPARMS();

void Builtin_push();
void Builtin_pull();
void Builtin_countstack();
void Builtin_dupstack();
void Builtin_dropstack();
void Builtin_clearstack();

}  // namespace qob
