// tests/runtime/registry/native_sample/sample_library.cpp
// A small shared library whose exports the tests declare and link, as a
// program declares the functions of a device library.
#include <cstdint>
#include <cstring>

extern "C" {

int SampleAdd(int a, int b) {
    return a + b;
}

// An API in both forms: the 8-bit one and the UTF-16 one with the "W" suffix.
int SampleLength(const char* text) {
    return static_cast<int>(std::strlen(text));
}

int SampleLengthW(const char16_t* text) {
    int length = 0;
    while (text[length] != 0) ++length;
    return length;
}

// An API exported in its 8-bit form only.
int SamplePlainOnly(const char* text) {
    return text[0];
}

}
