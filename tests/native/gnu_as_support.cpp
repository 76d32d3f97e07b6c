// tests/native/gnu_as_support.cpp
// Runs arm-linux-gnueabi-as and -objcopy in a private temporary directory.
#include "gnu_as_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace qob::testing {
namespace {

constexpr const char* kAs = "arm-linux-gnueabi-as";
constexpr const char* kObjcopy = "arm-linux-gnueabi-objcopy";

bool OnPath(const char* tool) {
    const std::string command = std::string("command -v ") + tool + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

}  // namespace

std::string GnuAsUnavailableReason() {
    if (!OnPath(kAs) || !OnPath(kObjcopy))
        return "arm-linux-gnueabi-as/objcopy not found (Debian package binutils-arm-linux-gnueabi, "
               "installed by scripts/install-deps)";
    return {};
}

std::optional<std::vector<uint32_t>> AssembleWithGnuAs(const std::string& lines, std::string* errors) {
    char pattern[] = "/tmp/qob_gnu_as_XXXXXX";
    if (mkdtemp(pattern) == nullptr) return std::nullopt;
    const std::filesystem::path directory(pattern);
    const auto source = directory / "case.s";
    const auto object = directory / "case.o";
    const auto binary = directory / "case.bin";
    const auto messages = directory / "messages.txt";
    std::ofstream(source) << ".arm\n.text\n" << lines << "\n";
    const std::string command = std::string(kAs) + " -march=armv4 -EL -o " + object.string() + " " +
                                source.string() + " >" + messages.string() + " 2>&1 && " + kObjcopy +
                                " -O binary -j .text " + object.string() + " " + binary.string() + " >>" +
                                messages.string() + " 2>&1";
    const bool ok = std::system(command.c_str()) == 0;
    if (errors != nullptr) *errors = ReadFile(messages);
    std::optional<std::vector<uint32_t>> words;
    if (ok) {
        const std::string bytes = ReadFile(binary);
        words.emplace(bytes.size() / 4);
        std::memcpy(words->data(), bytes.data(), words->size() * 4);
    }
    std::filesystem::remove_all(directory);
    return words;
}

}  // namespace qob::testing
