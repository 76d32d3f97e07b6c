// builtins/device/device_builtins.h
// device, deviceserial, deviceowner and reset: facts about the device, the
// owner information of the registry, and the device's restart.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace qob {

// The 17-character serial of kind 2002 made from the device identifier's
// bytes (written as upper-case hexadecimal pairs H: H[40..41], H[45..53],
// H[70..75]); empty for fewer than 38 bytes.
[[nodiscard]] std::string DeviceIdSerial(std::span<const uint8_t> id);

// (index): 0 to 10, the processor and platform facts (numbers or texts);
// any other index gives 0.
void Builtin_device();
// (kind): 2002 the device-identifier serial; 2000 (asset data, which this
// host does not have) and any other kind the empty text.
void Builtin_deviceserial();
// (list variable): six texts: the five of the "Owner" value of
// HKEY_CURRENT_USER "\ControlPanel\Owner" and its "Notes"; a value that
// cannot be read gives empty texts. The key is created when missing.
void Builtin_deviceowner();
// (clean flag): restarts the device. This host is never restarted: a test
// hook records the request, else the runtime shuts down and the process
// ends with platform::kResetExitStatus.
void Builtin_reset();

}  // namespace qob
