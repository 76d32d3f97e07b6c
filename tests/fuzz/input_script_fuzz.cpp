// tests/fuzz/input_script_fuzz.cpp
// libFuzzer target for the input files of program tests (QOB_INPUT): a
// script is read whole or refused with the number of a line it has; what it
// schedules is then delivered, with no window to receive it.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view script(reinterpret_cast<const char*>(data), size);
    qob::platform::ClearScheduledInput();
    const qob::platform::InputScriptResult result = qob::platform::ScheduleInputScript(script, 0);
    uint32_t at = 0;
    const bool waiting = qob::platform::NextScheduledInput(&at);
    if (!result.ok && (result.line < 1 || result.message.empty() || waiting)) std::abort();
    if (result.ok && result.line != 0) std::abort();
    qob::platform::ClearScheduledInput();
    return 0;
}
