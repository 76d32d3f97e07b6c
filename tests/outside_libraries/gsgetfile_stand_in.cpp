// tests/outside_libraries/gsgetfile_stand_in.cpp
// An outside dialog library for tests: its open entry always chooses
// kStandInChoice, its save entry always cancels.
#include <cstdint>

#include "platform/file_dialog.h"

namespace {

constexpr char kStandInChoice[] = "\\Chosen\\by library.txt";

}  // namespace

extern "C" int gsGetOpenFileName(qob::platform::OPENFILENAMEW* record) {
    const uint32_t length = sizeof kStandInChoice - 1;
    if (record->maxFile <= length) return 0;
    for (uint32_t i = 0; i <= length; ++i) record->file[i] = static_cast<uint8_t>(kStandInChoice[i]);
    return 1;
}

extern "C" int gsGetSaveFileName(qob::platform::OPENFILENAMEW*) { return 0; }
