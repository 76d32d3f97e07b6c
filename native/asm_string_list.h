// native/asm_string_list.h
// AsmStringList: the texts that generated code refers to by address, each
// owned by the code block (its base address) that was being assembled.
#pragma once

#include <cstdint>
#include <string_view>

namespace qob {

// A low-memory NUL-terminated copy of text under owner; the same text
// already kept for that owner is given back instead of a second copy.
[[nodiscard]] char* AddAsmString(uint32_t owner, std::string_view text);
// The owner's copy of text, or null.
[[nodiscard]] char* FindAsmString(uint32_t owner, std::string_view text);
// Removes and frees one text by its address; false when it is not kept.
bool RemoveAsmString(const char* text);
// Removes and frees every text of the owner.
void RemoveAsmStrings(uint32_t owner);
// Removes every text of the owner: a text for which keep answers true is
// handed to the caller (it is no longer the owner's), the others are freed.
void ReleaseAsmStrings(uint32_t owner, bool (*keep)(const char* text, void* user), void* user);
// The number of texts kept for the owner.
[[nodiscard]] size_t CountAsmStrings(uint32_t owner);

[[nodiscard]] inline uint32_t LowAddress(const void* pointer) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

}  // namespace qob
