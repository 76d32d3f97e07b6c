// platform/device_info.cpp
// Device facts from the environment, /proc/cpuinfo, uname and
// /etc/machine-id; the restart hook.
#include "platform/device_info.h"

#include <sys/utsname.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string_view>
#include <unordered_map>

namespace qob::platform {
namespace {

constexpr size_t kExpandedIdSize = 40;

std::optional<std::string> Environment(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

// "key : value" lines of the first processor of /proc/cpuinfo.
std::unordered_map<std::string, std::string> ReadCpuInfo() {
    std::unordered_map<std::string, std::string> fields;
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() && !fields.empty()) break;
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string key = line.substr(0, colon);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
        std::string value = line.substr(colon + 1);
        if (!value.empty() && value.front() == ' ') value.erase(0, 1);
        fields.emplace(std::move(key), std::move(value));
    }
    return fields;
}

uint32_t NumberOr(const std::optional<std::string>& text, uint32_t fallback) {
    if (!text || text->empty()) return fallback;
    char* end = nullptr;
    const double value = std::strtod(text->c_str(), &end);
    if (end == text->c_str() || !(value >= 0) || value > 4294967295.0) return fallback;
    return static_cast<uint32_t>(std::lround(value));
}

std::optional<std::string> Field(const std::unordered_map<std::string, std::string>& fields, const char* key) {
    const auto found = fields.find(key);
    if (found == fields.end()) return std::nullopt;
    return found->second;
}

std::optional<std::vector<uint8_t>> HexBytes(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < hex.size(); i += 2) {
        uint8_t byte = 0;
        for (char c : hex.substr(i, 2)) {
            byte = static_cast<uint8_t>(byte << 4);
            if (c >= '0' && c <= '9') byte |= static_cast<uint8_t>(c - '0');
            else if (c >= 'a' && c <= 'f') byte |= static_cast<uint8_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') byte |= static_cast<uint8_t>(c - 'A' + 10);
            else return std::nullopt;
        }
        bytes.push_back(byte);
    }
    return bytes;
}

std::mutex gRebootLock;
RebootHook gRebootHook;

}  // namespace

ProcessorInfo GetProcessorInfo() {
    const auto cpu = ReadCpuInfo();
    ProcessorInfo info;
    info.version = static_cast<uint16_t>(NumberOr(Environment("QOB_DEVICE_VERSION"), 1));
    struct utsname host{};
    const std::string machine = uname(&host) == 0 ? host.machine : "";
    info.core = Environment("QOB_DEVICE_CORE").value_or(machine);
    info.coreRevision = static_cast<uint16_t>(
        NumberOr(Environment("QOB_DEVICE_CORE_REVISION"), NumberOr(Field(cpu, "cpu family"), 0)));
    info.processorName = Environment("QOB_DEVICE_PROCESSOR_NAME").value_or(Field(cpu, "model name").value_or(""));
    info.processorRevision = static_cast<uint16_t>(
        NumberOr(Environment("QOB_DEVICE_PROCESSOR_REVISION"), NumberOr(Field(cpu, "stepping"), 0)));
    info.catalogNumber = Environment("QOB_DEVICE_CATALOG_NUMBER").value_or("");
    info.vendor = Environment("QOB_DEVICE_VENDOR").value_or(Field(cpu, "vendor_id").value_or(""));
    info.instructionSet = NumberOr(Environment("QOB_DEVICE_INSTRUCTION_SET"), 0);
    info.clockSpeed = NumberOr(Environment("QOB_DEVICE_CLOCK"), NumberOr(Field(cpu, "cpu MHz"), 0));
    return info;
}

std::string GetPlatformType() { return Environment("QOB_DEVICE_PLATFORM_TYPE").value_or(""); }
std::string GetOemInfo() { return Environment("QOB_DEVICE_OEM_INFO").value_or(""); }

std::optional<std::vector<uint8_t>> GetDeviceId() {
    if (const std::optional<std::string> configured = Environment("QOB_DEVICE_ID")) return HexBytes(*configured);
    std::ifstream in("/etc/machine-id");
    std::string text;
    if (!std::getline(in, text)) return std::nullopt;
    std::optional<std::vector<uint8_t>> id = HexBytes(text);
    if (!id || id->size() != 16) return std::nullopt;
    // Spread the 16 bytes over the identifier's length, each later copy
    // mixed with its position so that no two stretches repeat.
    std::vector<uint8_t> expanded(kExpandedIdSize);
    for (size_t i = 0; i < kExpandedIdSize; ++i)
        expanded[i] = static_cast<uint8_t>((*id)[i % 16] ^ (i < 16 ? 0 : static_cast<uint8_t>(0x5A + i)));
    return expanded;
}

void SetCleanRebootFlag() {}

void SetRebootHook(RebootHook hook) {
    const std::lock_guard lock(gRebootLock);
    gRebootHook = std::move(hook);
}

bool RecordReboot(bool clean) {
    RebootHook hook;
    {
        const std::lock_guard lock(gRebootLock);
        hook = gRebootHook;
    }
    if (!hook) return false;
    hook(clean);
    return true;
}

}  // namespace qob::platform
