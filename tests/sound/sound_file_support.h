// tests/sound/sound_file_support.h
// Sound files for the loader tests: RIFF WAVE images built chunk by chunk,
// UTF-16 paths, and the outside tools (sox, ffmpeg, oggenc, oggdec) that
// make and decode reference files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qob::testing {

std::string LittleEndian16(int value);
std::string LittleEndian32(uint32_t value);

// The 16 bytes of a WAVE format chunk (PCM fields), or more with extra.
std::string WaveFormat(int tag, int channels, uint32_t rate, int bits, std::string_view extra = {});
// A chunk: id, size, data and, for an odd size, the pad byte unless left out.
std::string Chunk(std::string_view id, std::string_view data, bool pad = true);
// "RIFF", the size of what follows, "WAVE" and the chunks.
std::string Riff(std::string_view chunks);
// A whole PCM WAVE image.
std::string PcmWave(int channels, uint32_t rate, int bits, std::string_view data);

std::vector<uint16_t> Utf16(std::string_view text);

// True when the program is on the PATH.
bool HaveTool(const char* name);
// Runs a shell command, its output thrown away; true when it exits with 0.
bool RunQuietly(const std::string& command);
std::optional<std::string> ReadWholeFile(const std::string& path);
// Standard output of a command (nullopt when it fails).
std::optional<std::string> CommandOutput(const std::string& command);
// A file path quoted for the shell.
std::string Quoted(const std::string& path);

std::vector<int16_t> SixteenBitValues(const std::string& bytes);
std::string SixteenBitText(const std::vector<int16_t>& values);

// Files of an installed Debian package whose names end in suffix (symbolic
// links included, resolved by the loaders); empty when the package is absent.
std::vector<std::string> PackageFiles(const char* package, std::string_view suffix);

}  // namespace qob::testing
