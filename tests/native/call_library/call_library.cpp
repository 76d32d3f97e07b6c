// tests/native/call_library/call_library.cpp
// A shared library whose exports the native-call tests declare: they keep
// the words they were called with, give back chosen results, read texts in
// both forms, and fault on purpose.
#include <cstdint>

extern "C" {

static intptr_t gWords[16];

// Keeps its sixteen words for CallStoredWord; returns the first.
intptr_t CallSixteen(intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4, intptr_t a5, intptr_t a6, intptr_t a7,
                     intptr_t a8, intptr_t a9, intptr_t a10, intptr_t a11, intptr_t a12, intptr_t a13, intptr_t a14,
                     intptr_t a15, intptr_t a16) {
    const intptr_t words[16] = {a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16};
    for (int i = 0; i < 16; ++i) gWords[i] = words[i];
    return a1;
}

intptr_t CallStoredWord(int index) { return gWords[index]; }

// Every bit of the return register set.
uint64_t CallAllOnes() { return ~uint64_t{0}; }

int CallNoArguments() { return 42; }

// The first 16-bit unit of a text: the UTF-16 form, found first for an API
// declaration, and the 8-bit form, which reads two bytes as one unit.
int CallFirstUnitW(const uint16_t* text) { return text[0]; }
int CallFirstUnit(const char* text) { return static_cast<unsigned char>(text[0]) | static_cast<unsigned char>(text[1]) << 8; }

int CallFault(intptr_t address) { return *reinterpret_cast<volatile int*>(address); }

}
