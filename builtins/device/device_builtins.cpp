// builtins/device/device_builtins.cpp
// The device built-ins over the platform's device facts and registry store.
#include "builtins/device/device_builtins.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "builtins/files/file_arguments.h"
#include "builtins/operators/operator_values.h"
#include "builtins/texts/text_arguments.h"
#include "platform/device_info.h"
#include "platform/registry.h"
#include "platform/text_codec.h"
#include "runtime/registry/hooks.h"
#include "runtime/vm/runtime_error.h"

namespace qob {
namespace {

constexpr int32_t kDeviceIdSerial = 2002;
constexpr size_t kMinimumDeviceIdBytes = 38;

constexpr char kOwnerKey[] = "\\ControlPanel\\Owner";
constexpr size_t kOwnerBytes = 768;
constexpr size_t kNotesBytes = 512;
// Unit offsets of the five texts of the "Owner" value.
constexpr size_t kOwnerTextUnits[] = {0, 36, 72, 258, 283};

// The UTF-16 text from a unit of the buffer to its zero unit or the
// buffer's end, as 8-bit text.
std::string BufferText(const std::vector<uint16_t>& units, size_t from) {
    size_t end = from;
    while (end < units.size() && units[end] != 0) ++end;
    return platform::EncodeAnsi(std::span<const uint16_t>(units.data() + from, end - from));
}

// A binary value read into a zero-filled buffer of bytes; nullopt when it
// cannot be read.
std::optional<std::vector<uint16_t>> ReadOwnerValue(platform::HKEY key, const char* name, size_t bytes) {
    if (!key) return std::nullopt;
    std::vector<uint16_t> units(bytes / 2, 0);
    uint32_t size = static_cast<uint32_t>(bytes);
    const std::vector<uint16_t> valueName = platform::DecodeAnsi(name);
    const int32_t status = platform::RegQueryValueExW(key, valueName, nullptr,
                                                      reinterpret_cast<uint8_t*>(units.data()), &size);
    if (status != platform::ERROR_SUCCESS) return std::nullopt;
    return units;
}

}  // namespace

std::string DeviceIdSerial(std::span<const uint8_t> id) {
    if (id.size() < kMinimumDeviceIdBytes) return {};
    std::string hex;
    char pair[3];
    for (uint8_t byte : id) {
        std::snprintf(pair, sizeof pair, "%02X", byte);
        hex += pair;
    }
    return hex.substr(40, 2) + hex.substr(45, 9) + hex.substr(70, 6);
}

void Builtin_device() {
    StackEntry indexArgument = TakeOperand();
    const int32_t index = ArgumentInteger(indexArgument);
    ReleaseOperand(indexArgument);
    if (index < 0 || index > 10) return PushNumberResult(0.0);
    const platform::ProcessorInfo info = platform::GetProcessorInfo();
    switch (index) {
        case 0: return PushNumberResult(info.version);
        case 1: return PushStringResult(info.core);
        case 2: return PushNumberResult(info.coreRevision);
        case 3: return PushStringResult(info.processorName);
        case 4: return PushNumberResult(info.processorRevision);
        case 5: return PushStringResult(info.catalogNumber);
        case 6: return PushStringResult(info.vendor);
        case 7: return PushNumberResult(info.instructionSet);
        case 8: return PushNumberResult(info.clockSpeed);
        case 9: return PushStringResult(platform::GetPlatformType());
        default: return PushStringResult(platform::GetOemInfo());
    }
}

void Builtin_deviceserial() {
    StackEntry kindArgument = TakeOperand();
    const int32_t kind = ArgumentInteger(kindArgument);
    ReleaseOperand(kindArgument);
    std::string serial;
    if (kind == kDeviceIdSerial) {
        if (const std::optional<std::vector<uint8_t>> id = platform::GetDeviceId()) serial = DeviceIdSerial(*id);
    }
    // Kind 2000 reads the data file of the device's asset program, which
    // this host does not have: it gives the empty text as any other kind.
    PushStringResult(serial);
}

void Builtin_deviceowner() {
    StackEntry listArgument = TakeOperand();
    platform::HKEY key = nullptr;
    const std::vector<uint16_t> subKey = platform::DecodeAnsi(kOwnerKey);
    if (platform::RegCreateKeyExW(platform::HKEY_CURRENT_USER, subKey, &key) != platform::ERROR_SUCCESS) key = nullptr;
    const std::optional<std::vector<uint16_t>> owner = ReadOwnerValue(key, "Owner", kOwnerBytes);
    const std::optional<std::vector<uint16_t>> notes = ReadOwnerValue(key, "Notes", kNotesBytes);
    if (key) platform::RegCloseKey(key);
    std::vector<std::string> texts;
    for (size_t offset : kOwnerTextUnits) texts.push_back(owner ? BufferText(*owner, offset) : std::string());
    texts.push_back(notes ? BufferText(*notes, 0) : std::string());
    StoreTextList(listArgument, texts, false);
    ReleaseOperand(listArgument);
}

void Builtin_reset() {
    StackEntry flagArgument = TakeOperand();
    const bool clean = ArgumentInteger(flagArgument) != 0;
    ReleaseOperand(flagArgument);
    if (clean) platform::SetCleanRebootFlag();
    if (platform::RecordReboot(clean)) return;
    // As a restart: the runtime shuts down and the process ends at once, the
    // program's call still on the stack, so nothing of it is unwound.
    ShutdownRuntimeOnce();
    Hooks.endGraphics();
    std::fflush(nullptr);
    std::_Exit(platform::kResetExitStatus);
}

}  // namespace qob
