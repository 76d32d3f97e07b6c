// runtime/vm/version.h
// The runtime's version: its text is VERSION%, the log headers and the
// compile log; major, minor and release are written into compiled files.
#pragma once

namespace qob {

constexpr int kVersionMajor = 1;
constexpr int kVersionMinor = 3;
constexpr int kVersionRelease = 2;
constexpr int kVersionBuild = 0;
constexpr const char* kVersionText = "1.32.0";

}  // namespace qob
