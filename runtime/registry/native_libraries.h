// runtime/registry/native_libraries.h
// The native libraries that programs declare functions of: found by their
// device names, loaded once per name, and their exports resolved.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qob {

// The host files tried, in order, for a library name as a program writes it:
// "\" becomes "/"; a name "x.dll" (any case), or one without an extension, is
// also tried as "libx.so" and "x.so", with the stem also in lower case, since
// programs spell device library names in any case. A name without a directory
// is looked for in the application directory first, then by the host's own
// search.
[[nodiscard]] std::vector<std::string> NativeLibraryCandidates(std::string_view libraryName);

// The library's handle, loading it on first use; later calls with the same
// name give the same handle, and a loaded library stays loaded until the
// process ends. Null when no candidate loads (a later call tries again).
[[nodiscard]] void* LoadNativeLibrary(std::string_view libraryName);

// The address of an export (8-bit name, exact case), or null.
[[nodiscard]] void* ResolveNativeExport(void* library, std::string_view exportName);

}  // namespace qob
