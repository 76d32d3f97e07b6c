// builtins/messages/message_builtins.cpp
// The message box of joined arguments, the tick count, the address test and
// the run-time log switch.

#include "builtins/messages/message_builtins.h"

#include <cstdint>
#include <span>

#include "builtins/operators/operator_values.h"
#include "platform/c_library.h"
#include "platform/clock.h"
#include "platform/memory.h"
#include "platform/message_box.h"
#include "platform/text_codec.h"
#include "runtime/data/text_routines.h"
#include "runtime/vm/runtime_error.h"

namespace qob {
namespace {

constexpr char kCaption[] = "Message";
constexpr uint16_t kWideCaption[] = {'M', 'e', 's', 's', 'a', 'g', 'e'};

}  // namespace

void Builtin_showmessage() {
    const FrameArguments arguments = CloseFrameArguments();
    const bool wide = AnyWideArgument(arguments);
    void* message = JoinFrameArguments(arguments, wide);
    DropFrameArguments(arguments);
    if (wide) {
        const auto* units = static_cast<const uint16_t*>(message);
        platform::MessageBoxW(std::span<const uint16_t>(units, units ? platform::WideTextLength(units) : 0),
                              kWideCaption, platform::MB_OK);
    } else {
        ShowMessageBox(message ? static_cast<const char*>(message) : "", kCaption, platform::MB_OK);
    }
    platform::FreeBlock(message);
}

void Builtin_tick() { PushNumberResult(static_cast<double>(platform::GetTickCount())); }

void Builtin_isvalid() {
    StackEntry operand = TakeOperand();
    const auto address = static_cast<uintptr_t>(static_cast<uint32_t>(StackEntryInteger(&operand)));
    PushNumberResult(IsValidPointer(reinterpret_cast<const void*>(address)));
    ReleaseOperand(operand);
}

void Builtin__debuglog() {
    StackEntry operand = TakeOperand();
    if (platform::TruncateToInteger<int64_t>(OperandNumber(operand)) == 0) RuntimeLogSwitch = 0;
    else OpenDebugLog(nullptr);
    ReleaseOperand(operand);
}

}  // namespace qob
