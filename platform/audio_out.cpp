// platform/audio_out.cpp
// The choice of output devices by QOB_AUDIO and QOB_AUDIO_PACE.
#include "platform/audio_out.h"

#include <cstdlib>
#include <string_view>

namespace qob::platform {
namespace {

constexpr std::string_view kRecordPrefix = "record:";

// QOB_AUDIO_PACE as a non-negative multiple of real time; 1 when unset or
// not a number.
double ReadPace() {
    const char* text = std::getenv("QOB_AUDIO_PACE");
    if (!text || !*text) return 1;
    char* end = nullptr;
    const double pace = std::strtod(text, &end);
    return (*end == '\0' && pace >= 0) ? pace : 1;
}

}  // namespace

AudioDeviceList ListAudioDevices() {
    const char* choice = std::getenv("QOB_AUDIO");
    const std::string_view name = choice ? choice : "";
    AudioDeviceList devices;
    if (name.starts_with(kRecordPrefix)) {
        devices.push_back(MakePacedAudioBackend(ReadPace(), std::string(name.substr(kRecordPrefix.size()))));
        return devices;
    }
    if (name != "none") {
        if (auto sdl = MakeSdlAudioBackend()) devices.push_back(std::move(sdl));
    }
    devices.push_back(MakePacedAudioBackend(ReadPace()));
    return devices;
}

}  // namespace qob::platform
