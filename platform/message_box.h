// platform/message_box.h
// The headless message box: its text goes to the terminal and it answers
// its default button, or the answer that QOB_MSGBOX_ANSWER names.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

namespace qob::platform {

// Buttons (the low four bits of the style).
constexpr uint32_t MB_OK = 0x0;
constexpr uint32_t MB_OKCANCEL = 0x1;
constexpr uint32_t MB_ABORTRETRYIGNORE = 0x2;
constexpr uint32_t MB_YESNOCANCEL = 0x3;
constexpr uint32_t MB_YESNO = 0x4;
constexpr uint32_t MB_RETRYCANCEL = 0x5;
constexpr uint32_t MB_TYPEMASK = 0xF;

// Icons.
constexpr uint32_t MB_ICONHAND = 0x10;
constexpr uint32_t MB_ICONSTOP = MB_ICONHAND;
constexpr uint32_t MB_ICONERROR = MB_ICONHAND;
constexpr uint32_t MB_ICONQUESTION = 0x20;
constexpr uint32_t MB_ICONEXCLAMATION = 0x30;
constexpr uint32_t MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr uint32_t MB_ICONASTERISK = 0x40;
constexpr uint32_t MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr uint32_t MB_ICONMASK = 0xF0;

// Default button: the first unless one of these picks another.
constexpr uint32_t MB_DEFBUTTON1 = 0x000;
constexpr uint32_t MB_DEFBUTTON2 = 0x100;
constexpr uint32_t MB_DEFBUTTON3 = 0x200;
constexpr uint32_t MB_DEFBUTTON4 = 0x300;
constexpr uint32_t MB_DEFMASK = 0xF00;

// Answers.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Shows a box: the text and a line end on standard output; a box with the
// error or warning icon writes "caption: text" and a line end on standard
// error instead. Texts are UTF-16 and are written as 8-bit text.
//
// Answers the box's default button, or the button that the environment
// variable QOB_MSGBOX_ANSWER names (OK, CANCEL, YES, NO, ABORT, RETRY or
// IGNORE, in any case) when the box has that button.
int MessageBoxW(std::span<const uint16_t> text, std::span<const uint16_t> caption, uint32_t style);

// Test hook: where boxes write (null: back to standard output and error).
void SetMessageBoxOutput(std::FILE* output, std::FILE* errorOutput);

}  // namespace qob::platform
