// windows/modal_waits.h
// The waits that keep messages flowing: delay and waitforinput. They block
// on the window manager until a message or their deadline (never spinning;
// under the test clock the wait moves time on instead), with the interpreter
// lock released, and they end early when their program is ending.
#pragma once

#include <cstdint>

namespace qob {

// The display library's millisecond clock over the platform's counter
// (32 bits, wrapping: compare by unsigned difference).
[[nodiscard]] uint32_t WaitMilliseconds();

// delay (milliseconds): handles the pending messages once, then goes on
// handling them as they come until the time has passed on the tick count
// (0 or less: the once only). It stops early when the running application
// is being ended.
void Builtin_delay();

// waitforinput (time-out in ms, -1: none) -> 1 when a key or stylus press
// on a form of a game ended the wait, 0 on time-out. The engine's automatic
// drawing mode is 2 meanwhile. It ends as a time-out when the run is to end
// (no program left, QuitRequested, its program ending). Afterwards pending
// key and stylus messages are thrown away, and nothing else.
void Builtin_waitforinput();

}  // namespace qob
