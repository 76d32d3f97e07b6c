// platform/resources.h
// The executable's resources: typed, named byte blocks found by type and name,
// from one process-wide table.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qob::platform {

// On the device resources are compiled into the executable. A Linux
// executable carries none, so the table is filled in two ways:
//  - in memory: RegisterResource (type, name, bytes), as tests and the host do;
//  - from files: "resources/<TYPE>/<NAME>" in the application directory (the
//    executable's folder, or QOB_ROOT when set, see GetApplicationDirectory),
//    read the first time it is asked for and kept from then on.
// Types and names are matched without regard to ASCII case, in the table and
// on disk. An integer type or name (MAKEINTRESOURCE, below 0x10000) is its
// decimal number: resource 101 of type "WAVE" is "resources/WAVE/101". As on
// the device, a text name "#101" means the integer 101.
// A resource registered in memory hides a file of the same type and name.
// Found resources stay in memory until the process ends, so that data handed
// out by LockResource stays valid, as a mapped executable's would.

// The executable's instance handle, as programs see it in HINSTANCE%. A null
// module means the executable too; other modules carry no resources here.
constexpr uintptr_t kExecutableModule = 0x10000;

// A UTF-16 type or name, or an integer id in the pointer itself.
using ResourceText = const uint16_t*;

inline ResourceText MakeIntResource(uint16_t id) { return reinterpret_cast<ResourceText>(static_cast<uintptr_t>(id)); }
inline bool IsIntResource(ResourceText text) { return reinterpret_cast<uintptr_t>(text) < 0x10000; }

struct ResourceEntry;                              // one resource of the table
using ResourceHandle = const ResourceEntry*;       // what FindResourceW finds
using LoadedResource = const void*;                // what LoadResource gives

// The resource of this name and type in the module, or null.
[[nodiscard]] ResourceHandle FindResourceW(const void* module, ResourceText name, ResourceText type);

// The resource's data, or null for a null handle.
[[nodiscard]] LoadedResource LoadResource(const void* module, ResourceHandle resource);

// The resource's size in bytes; 0 for a null handle.
[[nodiscard]] uint32_t SizeofResource(const void* module, ResourceHandle resource);

// The address of the loaded resource's first byte (the data itself).
[[nodiscard]] const void* LockResource(LoadedResource loaded);

// Adds a resource in memory, or replaces the bytes of one of the same type and
// name (data already handed out stays valid). Type and name in the key form
// above: "WAVE", "101", "#101" (the same as "101").
void RegisterResource(std::string_view type, std::string_view name, std::string bytes);

// Forgets the resources registered in memory, so that files are found again
// (for tests; handed-out data stays valid).
void ForgetRegisteredResources();

// The key form of a type or name: an integer in decimal, a text as UTF-8 with
// ASCII letters in upper case and a leading "#" of a number dropped.
[[nodiscard]] std::string ResourceKey(ResourceText text);

}  // namespace qob::platform
