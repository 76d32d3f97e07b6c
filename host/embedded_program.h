// host/embedded_program.h
// A compiled program carried at the end of an executable, after a marker
// that the executable's own code and data never hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qob {

// "QOCDATASTART", assembled at run time from single characters, so that no
// copy of it (not even a constant-folded one) lands in the executable and a
// search of the executable only finds a marker that was appended to it.
[[nodiscard]] std::string EmbeddedProgramMarker();

// Offset of the first marker in the bytes, or none.
[[nodiscard]] std::optional<size_t> FindEmbeddedMarker(std::span<const uint8_t> bytes);

// The bytes after the first marker in the file (possibly none), or none when
// the file cannot be read or carries no marker.
[[nodiscard]] std::optional<std::vector<uint8_t>> ReadEmbeddedProgram(std::string_view executablePath);

}  // namespace qob
