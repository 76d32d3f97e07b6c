// builtins/messages/message_builtins.h
// showmessage, tick, isvalid and _debuglog: the message box, the millisecond
// tick count, the address test and the run-time log switch.
#pragma once

namespace qob {

// Every argument of the closed frame joined without separator (numbers
// formatted, a matrix in its bracket form), shown in a box captioned
// "Message" with an OK button. With any UTF-16 argument the message is
// UTF-16 and the 8-bit arguments are widened. Pushes nothing.
void Builtin_showmessage();

// The millisecond tick count as an unsigned 32-bit number (it wraps).
void Builtin_tick();

// (address): 0 when one byte at the address can be written, non-zero when it
// cannot, -1 when the test itself failed. The address is the number
// truncated to 32 bits, else the cell's extra word, else its text's address.
void Builtin_isvalid();

// (switch): 0 turns the run-time log off; any other value starts a fresh
// "debuglog.txt" in the application root and turns it on.
void Builtin__debuglog();

}  // namespace qob
