// sound/sound_sample.cpp
// The sample's frequency setter.
#include "sound/sound_sample.h"

namespace qob {

void SoundSample::SetFrequency(int newFrequency) {
    frequency = newFrequency;
    if (rate > 0) step = static_cast<int>(((static_cast<int64_t>(newFrequency) << 16) / rate) >> 9);
}

}  // namespace qob
