// tests/sound/sound_file_support.cpp
// WAVE images, UTF-16 paths and the outside tools of the loader tests.
#include "sound_file_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace qob::testing {

std::string LittleEndian16(int value) {
    return {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF)};
}

std::string LittleEndian32(uint32_t value) {
    return LittleEndian16(static_cast<int>(value & 0xFFFF)) + LittleEndian16(static_cast<int>(value >> 16));
}

std::string WaveFormat(int tag, int channels, uint32_t rate, int bits, std::string_view extra) {
    const int blockAlign = channels * bits / 8;
    return LittleEndian16(tag) + LittleEndian16(channels) + LittleEndian32(rate) + LittleEndian32(rate * blockAlign) +
           LittleEndian16(blockAlign) + LittleEndian16(bits) + std::string(extra);
}

std::string Chunk(std::string_view id, std::string_view data, bool pad) {
    std::string chunk = std::string(id) + LittleEndian32(static_cast<uint32_t>(data.size())) + std::string(data);
    if (pad && data.size() % 2 == 1) chunk += '\0';
    return chunk;
}

std::string Riff(std::string_view chunks) {
    return "RIFF" + LittleEndian32(static_cast<uint32_t>(chunks.size() + 4)) + "WAVE" + std::string(chunks);
}

std::string PcmWave(int channels, uint32_t rate, int bits, std::string_view data) {
    return Riff(Chunk("fmt ", WaveFormat(1, channels, rate, bits)) + Chunk("data", data));
}

std::vector<uint16_t> Utf16(std::string_view text) {
    std::vector<uint16_t> units;
    for (unsigned char c : text) units.push_back(c);
    return units;
}

bool HaveTool(const char* name) { return RunQuietly(std::string("command -v ") + name); }

bool RunQuietly(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

std::optional<std::string> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::optional<std::string> CommandOutput(const std::string& command) {
    std::FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return std::nullopt;
    std::string output;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    if (pclose(pipe) != 0) return std::nullopt;
    return output;
}

std::string Quoted(const std::string& path) {
    std::string quoted = "'";
    for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::vector<int16_t> SixteenBitValues(const std::string& bytes) {
    std::vector<int16_t> values(bytes.size() / 2);
    std::memcpy(values.data(), bytes.data(), values.size() * 2);
    return values;
}

std::string SixteenBitText(const std::vector<int16_t>& values) {
    std::string bytes(values.size() * 2, '\0');
    std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

std::vector<std::string> PackageFiles(const char* package, std::string_view suffix) {
    std::vector<std::string> files;
    const std::optional<std::string> listing = CommandOutput(std::string("dpkg -L ") + package);
    if (!listing) return files;
    std::istringstream lines(*listing);
    std::string line;
    while (std::getline(lines, line))
        if (line.size() > suffix.size() && line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0) files.push_back(line);
    return files;
}

}  // namespace qob::testing
