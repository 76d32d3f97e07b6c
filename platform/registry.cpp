// platform/registry.cpp
// Keys as folders, values as files replaced by rename, names matched without
// regard to case.
#include "platform/registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qob::platform {

struct RegistryKey {
    const char* rootName;  // root keys: the folder under the store; else null
    std::string path;      // other keys: the key's folder
};

namespace {

RegistryKey gClassesRoot{"HKEY_CLASSES_ROOT", {}};
RegistryKey gCurrentUser{"HKEY_CURRENT_USER", {}};
RegistryKey gLocalMachine{"HKEY_LOCAL_MACHINE", {}};
RegistryKey gUsers{"HKEY_USERS", {}};

using Units = std::vector<uint16_t>;

// Names on disk --------------------------------------------------------------

bool IsPlainUnit(uint16_t unit, bool first) {
    if (unit < 0x20 || unit > 0x7E) return false;
    if (unit == '%' || unit == '/' || unit == '\\' || unit == '=') return false;
    return !(first && unit == '.');
}

// The file name of a key (isValue false) or value of that name.
std::string EncodeName(std::span<const uint16_t> name, bool isValue) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded(isValue ? "=" : "");
    for (size_t i = 0; i < name.size(); ++i) {
        const uint16_t unit = name[i];
        if (IsPlainUnit(unit, i == 0)) {
            encoded += static_cast<char>(unit);
            continue;
        }
        encoded += '%';
        for (int shift = 12; shift >= 0; shift -= 4) encoded += kHex[(unit >> shift) & 0xF];
    }
    return encoded;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The name a file name stands for, or nothing when it is not one we wrote.
std::optional<Units> DecodeName(std::string_view encoded) {
    Units name;
    for (size_t i = 0; i < encoded.size();) {
        if (encoded[i] != '%') {
            const auto unit = static_cast<uint16_t>(static_cast<unsigned char>(encoded[i]));
            if (!IsPlainUnit(unit, name.empty())) return std::nullopt;
            name.push_back(unit);
            ++i;
            continue;
        }
        if (i + 5 > encoded.size()) return std::nullopt;
        uint16_t unit = 0;
        for (size_t k = 1; k <= 4; ++k) {
            const int digit = HexValue(encoded[i + k]);
            if (digit < 0) return std::nullopt;
            unit = static_cast<uint16_t>(unit << 4 | digit);
        }
        name.push_back(unit);
        i += 5;
    }
    return name;
}

uint16_t FoldCase(uint16_t unit) { return unit >= 'a' && unit <= 'z' ? static_cast<uint16_t>(unit - 32) : unit; }

bool SameName(std::span<const uint16_t> a, std::span<const uint16_t> b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](uint16_t x, uint16_t y) { return FoldCase(x) == FoldCase(y); });
}

bool LessByName(const Units& a, const Units& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](uint16_t x, uint16_t y) { return FoldCase(x) < FoldCase(y); });
}

bool IsDirectory(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool IsFile(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

struct Entry {
    std::string fileName;
    Units name;
    bool isKey;
};

// The keys and values in a key's folder; entries we did not write are left out.
std::vector<Entry> ListFolder(const std::string& folder) {
    std::vector<Entry> entries;
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr) return entries;
    while (const dirent* item = readdir(directory)) {
        const std::string_view fileName = item->d_name;
        if (fileName.empty() || fileName[0] == '.') continue;
        const bool isValue = fileName[0] == '=';
        std::optional<Units> name = DecodeName(isValue ? fileName.substr(1) : fileName);
        if (!name) continue;
        const std::string path = folder + "/" + std::string(fileName);
        if (isValue ? !IsFile(path) : !IsDirectory(path)) continue;
        entries.push_back({std::string(fileName), std::move(*name), !isValue});
    }
    closedir(directory);
    return entries;
}

// The file name under which a key or value of that name exists in folder,
// whatever its case, or nothing.
std::optional<std::string> FindEntry(const std::string& folder, std::span<const uint16_t> name, bool isKey) {
    const std::string exact = EncodeName(name, !isKey);
    const std::string exactPath = folder + "/" + exact;
    if (isKey ? IsDirectory(exactPath) : IsFile(exactPath)) return exact;
    for (const Entry& entry : ListFolder(folder))
        if (entry.isKey == isKey && SameName(entry.name, name)) return entry.fileName;
    return std::nullopt;
}

// Keys -----------------------------------------------------------------------

std::string StoreRoot() {
    if (const char* configured = std::getenv("QOB_REGISTRY"); configured != nullptr && *configured != '\0')
        return configured;
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') {
        const passwd* user = getpwuid(getuid());
        home = user != nullptr ? user->pw_dir : "/tmp";
    }
    return std::string(home) + "/.qob/registry";
}

bool MakeFolders(const std::string& path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return IsDirectory(path);
    }
}

// The folder of a key, or nothing for a handle that is none.
std::optional<std::string> FolderOf(HKEY key) {
    if (key == nullptr) return std::nullopt;
    if (key->rootName != nullptr) return StoreRoot() + "/" + key->rootName;
    return key->path;
}

bool IsRootKey(HKEY key) {
    return key == &gClassesRoot || key == &gCurrentUser || key == &gLocalMachine || key == &gUsers;
}

std::vector<std::span<const uint16_t>> SplitPath(std::span<const uint16_t> path) {
    std::vector<std::span<const uint16_t>> names;
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '\\') continue;
        if (i > start) names.push_back(path.subspan(start, i - start));
        start = i + 1;
    }
    return names;
}

int32_t OpenOrCreate(HKEY key, std::span<const uint16_t> subKey, HKEY* result, bool create, uint32_t* disposition) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::optional<std::string> folder = FolderOf(key);
    if (!folder) return ERROR_INVALID_HANDLE;
    if (!IsDirectory(*folder)) {
        if (!IsRootKey(key)) return ERROR_KEY_DELETED;
        if (!create) return ERROR_FILE_NOT_FOUND;
        if (!MakeFolders(*folder)) return ERROR_ACCESS_DENIED;
    }
    bool created = false;
    for (std::span<const uint16_t> name : SplitPath(subKey)) {
        std::optional<std::string> found = FindEntry(*folder, name, true);
        if (!found && create) {
            const std::string fileName = EncodeName(name, false);
            if (mkdir((*folder + "/" + fileName).c_str(), 0700) == 0) {
                created = true;
                found = fileName;
            } else if (errno == EEXIST) {
                found = FindEntry(*folder, name, true);  // made meanwhile by someone else
            } else {
                return ERROR_ACCESS_DENIED;
            }
        }
        if (!found) return ERROR_FILE_NOT_FOUND;
        *folder += "/" + *found;
    }
    *result = new RegistryKey{nullptr, std::move(*folder)};
    if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

// Values -----------------------------------------------------------------------

bool WriteWhole(int file, const uint8_t* bytes, size_t count) {
    while (count > 0) {
        const ssize_t written = write(file, bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        count -= static_cast<size_t>(written);
    }
    return true;
}

std::optional<std::vector<uint8_t>> ReadWhole(const std::string& path) {
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) return std::nullopt;
    std::vector<uint8_t> bytes;
    uint8_t buffer[4096];
    for (;;) {
        const ssize_t count = read(file, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            close(file);
            return std::nullopt;
        }
        if (count == 0) break;
        bytes.insert(bytes.end(), buffer, buffer + count);
    }
    close(file);
    return bytes;
}

}  // namespace

const HKEY HKEY_CLASSES_ROOT = &gClassesRoot;
const HKEY HKEY_CURRENT_USER = &gCurrentUser;
const HKEY HKEY_LOCAL_MACHINE = &gLocalMachine;
const HKEY HKEY_USERS = &gUsers;

int32_t RegCreateKeyExW(HKEY key, std::span<const uint16_t> subKey, HKEY* result, uint32_t* disposition) {
    return OpenOrCreate(key, subKey, result, true, disposition);
}

int32_t RegOpenKeyExW(HKEY key, std::span<const uint16_t> subKey, HKEY* result) {
    return OpenOrCreate(key, subKey, result, false, nullptr);
}

int32_t RegCloseKey(HKEY key) {
    if (key == nullptr) return ERROR_INVALID_HANDLE;
    if (!IsRootKey(key)) delete key;
    return ERROR_SUCCESS;
}

int32_t RegSetValueExW(HKEY key, std::span<const uint16_t> valueName, uint32_t type, std::span<const uint8_t> data) {
    const std::optional<std::string> folder = FolderOf(key);
    if (!folder) return ERROR_INVALID_HANDLE;
    if (!IsDirectory(*folder)) {
        // Root keys always exist; a store that is still empty gets its folder now.
        if (!IsRootKey(key)) return ERROR_KEY_DELETED;
        if (!MakeFolders(*folder)) return ERROR_ACCESS_DENIED;
    }
    // Built by appending: GCC 12 warns falsely (-Wrestrict) on a chain of "+".
    std::string target = *folder;
    target += '/';
    target += FindEntry(*folder, valueName, false).value_or(EncodeName(valueName, true));

    // Write a private file beside the value, then rename it over the value:
    // rename replaces the name in one step for every reader.
    static std::atomic<unsigned> serial{0};
    const std::string temporary = *folder + "/.tmp." + std::to_string(getpid()) + "." + std::to_string(serial++);
    const int file = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (file < 0) return ERROR_CANTWRITE;
    const uint8_t header[4] = {static_cast<uint8_t>(type), static_cast<uint8_t>(type >> 8),
                               static_cast<uint8_t>(type >> 16), static_cast<uint8_t>(type >> 24)};
    const bool written = WriteWhole(file, header, sizeof header) && WriteWhole(file, data.data(), data.size());
    if (close(file) != 0 || !written || rename(temporary.c_str(), target.c_str()) != 0) {
        unlink(temporary.c_str());
        return ERROR_CANTWRITE;
    }
    return ERROR_SUCCESS;
}

int32_t RegQueryValueExW(HKEY key, std::span<const uint16_t> valueName, uint32_t* type, uint8_t* data, uint32_t* size) {
    const std::optional<std::string> folder = FolderOf(key);
    if (!folder) return ERROR_INVALID_HANDLE;
    if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
    const std::optional<std::string> fileName = FindEntry(*folder, valueName, false);
    if (!fileName) return ERROR_FILE_NOT_FOUND;
    const std::optional<std::vector<uint8_t>> bytes = ReadWhole(*folder + "/" + *fileName);
    if (!bytes) return ERROR_FILE_NOT_FOUND;  // deleted since it was found
    if (bytes->size() < 4) return ERROR_INVALID_DATA;
    const uint32_t needed = static_cast<uint32_t>(bytes->size() - 4);
    if (type != nullptr)
        *type = (*bytes)[0] | (*bytes)[1] << 8 | (*bytes)[2] << 16 | static_cast<uint32_t>((*bytes)[3]) << 24;
    const uint32_t capacity = size != nullptr ? *size : 0;
    if (size != nullptr) *size = needed;
    if (data == nullptr) return ERROR_SUCCESS;
    if (capacity < needed) return ERROR_MORE_DATA;
    std::memcpy(data, bytes->data() + 4, needed);
    return ERROR_SUCCESS;
}

int32_t RegDeleteValueW(HKEY key, std::span<const uint16_t> valueName) {
    const std::optional<std::string> folder = FolderOf(key);
    if (!folder) return ERROR_INVALID_HANDLE;
    const std::optional<std::string> fileName = FindEntry(*folder, valueName, false);
    if (!fileName) return ERROR_FILE_NOT_FOUND;
    if (unlink((*folder + "/" + *fileName).c_str()) != 0)
        return errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

int32_t RegEnumKeyExW(HKEY key, uint32_t index, uint16_t* name, uint32_t* nameLength) {
    const std::optional<std::string> folder = FolderOf(key);
    if (!folder) return ERROR_INVALID_HANDLE;
    if (name == nullptr || nameLength == nullptr) return ERROR_INVALID_PARAMETER;
    std::vector<Units> keys;
    for (Entry& entry : ListFolder(*folder))
        if (entry.isKey) keys.push_back(std::move(entry.name));
    if (index >= keys.size()) return ERROR_NO_MORE_ITEMS;
    std::sort(keys.begin(), keys.end(), LessByName);
    const Units& found = keys[index];
    if (*nameLength <= found.size()) return ERROR_MORE_DATA;
    std::copy(found.begin(), found.end(), name);
    name[found.size()] = 0;
    *nameLength = static_cast<uint32_t>(found.size());
    return ERROR_SUCCESS;
}

}  // namespace qob::platform
