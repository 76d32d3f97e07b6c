// windows/com/com_variants.h
// Between script values and COM: value-stack entries to VARIANTs by the
// declared parameter types or a type tag, VARIANTs to numbers, one member
// call with its result, and the publication of each outcome in COMERROR%
// and COMERRORDESC%.
#pragma once

#include <cstdint>

#include "windows/com/com_object_wrapper.h"

namespace qob {

struct StackEntry;

// The arguments of one call: the member's parameter count VARIANTs (zeroed
// first), the copy of each in order that the call receives (sized by the
// count, 16 bytes each), and for by-reference dates the SYSTEMTIME each
// temporary DATE is written back to.
struct ComArgumentBlock {
    VARIANT* variants = nullptr;
    VARIANT* scratch = nullptr;
    uint32_t* dateTargets = nullptr;
    int32_t count = 0;
};

// Converts the arguments (count entries from first upward, in call order)
// for member index of the wrapper into block; returns the parameter count.
// A tag on an entry decides its type once and is cleared.
int32_t StackValueToVariant(StackEntry* first, int32_t argumentCount, ComObjectWrapper* wrapper, int32_t index,
                            ComArgumentBlock* block);
// After the call: dates written back, BSTRs and by-reference VARIANTs freed
// (with what the server left in them), the blocks freed.
void FreeComArguments(ComArgumentBlock* block);

[[nodiscard]] double VariantToStackValue(const VARIANT* variant);

// The value a call leaves for the program: a number, or a new 8-bit text
// tracked at the current call depth.
struct ComValue {
    double number = 0.0;
    char* text = nullptr;
};
void PushComValue(const ComValue& value);
// The value of a result VARIANT: texts as 8-bit copies, dates as new
// SYSTEMTIME blocks, objects as new wrappers, anything else as its number.
[[nodiscard]] ComValue ComResultValue(VARIANT* result);

// One member call of the wrapper (member index, kind 2 road), its result
// followed through default members for indexed reads (flag 1: only a default
// member whose result is declared as a pointer). The value to push; the
// caller pushes it once the arguments are off the stack.
[[nodiscard]] ComValue CallComMemberPath(ComObjectWrapper* wrapper, int32_t index, int32_t argumentCount,
                                         StackEntry* first, int flag);

// COMERROR% becomes the HRESULT (cleared without a wrapper), COMERRORDESC% the
// description of the wrapper's exception record (cleared without one).
void SetComError(const ComObjectWrapper* wrapper, HRESULT result);

// A 16-byte SYSTEMTIME block tracked at the current call depth holding the
// date; its address as a number (0 when the date has no calendar form).
[[nodiscard]] double NewSystemTimeBlock(double date);
// A new 8-bit copy of a BSTR (block of the process heap), tracked when asked.
[[nodiscard]] char* BstrToTrackedText(BSTR text, bool track);

}  // namespace qob
