// platform/device_info.h
// Facts about the device a program runs on (processor, platform texts, the
// device identifier) and its restart, which never restarts the host.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qob::platform {

// The processor description. Every field can be set by an environment
// variable; without one it comes from /proc/cpuinfo and uname where the
// host has such a fact, else it is empty or 0:
//   QOB_DEVICE_VERSION            version                (default 1)
//   QOB_DEVICE_CORE               processor core         (uname's machine)
//   QOB_DEVICE_CORE_REVISION      core revision          ("cpu family")
//   QOB_DEVICE_PROCESSOR_NAME     processor name         ("model name")
//   QOB_DEVICE_PROCESSOR_REVISION processor revision     ("stepping")
//   QOB_DEVICE_CATALOG_NUMBER     catalog number         (empty)
//   QOB_DEVICE_VENDOR             vendor                 ("vendor_id")
//   QOB_DEVICE_INSTRUCTION_SET    instruction set word   (0)
//   QOB_DEVICE_CLOCK              clock speed in MHz     ("cpu MHz", rounded)
//   QOB_DEVICE_PLATFORM_TYPE      platform type text     (empty)
//   QOB_DEVICE_OEM_INFO           maker's information    (empty)
//   QOB_DEVICE_ID                 device identifier, as hexadecimal digits
// Texts are 8-bit (UTF-8).
struct ProcessorInfo {
    uint16_t version = 1;
    std::string core;
    uint16_t coreRevision = 0;
    std::string processorName;
    uint16_t processorRevision = 0;
    std::string catalogNumber;
    std::string vendor;
    uint32_t instructionSet = 0;
    uint32_t clockSpeed = 0;
};

[[nodiscard]] ProcessorInfo GetProcessorInfo();
[[nodiscard]] std::string GetPlatformType();
[[nodiscard]] std::string GetOemInfo();

// The device identifier: QOB_DEVICE_ID's bytes, else 40 bytes that are the
// same on every run on this machine, made from the 16 bytes of
// /etc/machine-id. nullopt when neither can be had (or QOB_DEVICE_ID is not
// an even number of hexadecimal digits).
[[nodiscard]] std::optional<std::vector<uint8_t>> GetDeviceId();

// Asks that the next restart be clean; the host keeps no such state.
void SetCleanRebootFlag();

// A test hook sees each restart request (with the clean flag) instead of it
// being carried out. An empty function removes the hook.
using RebootHook = std::function<void(bool clean)>;
void SetRebootHook(RebootHook hook);

// True when the hook took the request: the caller then goes on. False means
// the caller must end the process as a restart would (see kResetExitStatus).
[[nodiscard]] bool RecordReboot(bool clean);

// The exit status of a process that ends because its program restarted the device.
constexpr int kResetExitStatus = 3;

}  // namespace qob::platform
