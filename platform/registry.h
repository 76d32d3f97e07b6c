// platform/registry.h
// The registry: keys and typed values kept on disk, shared by every process
// of the user, written atomically.
#pragma once

#include <cstdint>
#include <span>

namespace qob::platform {

// The store lives under $QOB_REGISTRY (default ~/.qob/registry): one folder
// per root key ("HKEY_CURRENT_USER", ...), one folder per key below it, one
// file per value. A key folder's name is the key name; a value file's name is
// "=" followed by the value name ("=" alone for the default value). In both,
// the UTF-16 units outside printable ASCII, and "%", "/", "\", "=" and a
// leading ".", are written "%XXXX" (four hex digits). A value file holds the
// type as a 32-bit little-endian number, then the data. Names compare
// without regard to ASCII case, as the system expects; a name keeps the
// spelling it was created with.

struct RegistryKey;
using HKEY = RegistryKey*;

extern const HKEY HKEY_CLASSES_ROOT;
extern const HKEY HKEY_CURRENT_USER;
extern const HKEY HKEY_LOCAL_MACHINE;
extern const HKEY HKEY_USERS;

// Value types.
constexpr uint32_t REG_NONE = 0;
constexpr uint32_t REG_SZ = 1;  // UTF-16 text with its terminating 0 unit
constexpr uint32_t REG_EXPAND_SZ = 2;
constexpr uint32_t REG_BINARY = 3;
constexpr uint32_t REG_DWORD = 4;  // 32-bit little-endian
constexpr uint32_t REG_MULTI_SZ = 7;

// What RegCreateKeyExW did.
constexpr uint32_t REG_CREATED_NEW_KEY = 1;
constexpr uint32_t REG_OPENED_EXISTING_KEY = 2;

// Results.
constexpr int32_t ERROR_SUCCESS = 0;
constexpr int32_t ERROR_FILE_NOT_FOUND = 2;
constexpr int32_t ERROR_ACCESS_DENIED = 5;
constexpr int32_t ERROR_INVALID_HANDLE = 6;
constexpr int32_t ERROR_INVALID_DATA = 13;
constexpr int32_t ERROR_INVALID_PARAMETER = 87;
constexpr int32_t ERROR_MORE_DATA = 234;
constexpr int32_t ERROR_NO_MORE_ITEMS = 259;
constexpr int32_t ERROR_CANTWRITE = 1013;
constexpr int32_t ERROR_KEY_DELETED = 1018;

// A sub-key path is a list of key names separated by "\"; empty names (a
// leading, doubled or trailing "\") are skipped, so an empty path names key
// itself. Keys that are opened must be closed with RegCloseKey.
int32_t RegCreateKeyExW(HKEY key, std::span<const uint16_t> subKey, HKEY* result, uint32_t* disposition = nullptr);
int32_t RegOpenKeyExW(HKEY key, std::span<const uint16_t> subKey, HKEY* result);
int32_t RegCloseKey(HKEY key);

// Replaces the value (or creates it) in one step: a reader in any process
// sees the old value or the new one, never a part.
int32_t RegSetValueExW(HKEY key, std::span<const uint16_t> valueName, uint32_t type, std::span<const uint8_t> data);

// Reads a value. With data null, only *size (bytes) and *type are filled.
// When *size is smaller than the value, answers ERROR_MORE_DATA and sets
// *size to the size needed. type may be null.
int32_t RegQueryValueExW(HKEY key, std::span<const uint16_t> valueName, uint32_t* type, uint8_t* data, uint32_t* size);

int32_t RegDeleteValueW(HKEY key, std::span<const uint16_t> valueName);

// The name of the index-th sub-key (in the order of their names, ignoring
// case) into name, terminated. *nameLength is the capacity of name in units
// on entry and the name's length without terminator on success; when the
// capacity is too small, answers ERROR_MORE_DATA. Past the last sub-key,
// answers ERROR_NO_MORE_ITEMS.
int32_t RegEnumKeyExW(HKEY key, uint32_t index, uint16_t* name, uint32_t* nameLength);

}  // namespace qob::platform
