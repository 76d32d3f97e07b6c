// builtins/packages/package_builtins.h
// The package built-ins: handles to open packages and the work on members.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qob {

// Open packages (tests).
[[nodiscard]] size_t CountOpenPackages();

// Handles come from a table of open packages: a handle that is not open
// (closed already, or any other number) does nothing and gives 0.

// (path, password): a whole / lazily opened package's handle, or 0 when the
// file exists and is no package for that password or cannot be read.
void Builtin_openpackage();
void Builtin_openpackageex();
// (handle): saves a changed package to its own path, then closes it.
void Builtin_closepackage();
// (handle, file path[, name]): adds the file under its name (lower-cased);
// a name holding the byte 0x01 is refused.
void Builtin_addfiletopackage();
void Builtin_addfiletopackageex();
// (handle, name): a temporary file "temp.N" in the application directory
// holding the member, or 0; the name is compared as given, not lower-cased.
void Builtin_extractfilefrompackage();
// (handle, name, destination path).
void Builtin_extractfilefrompackageex();
// (handle, name): the remaining built-ins lower-case the name.
void Builtin_deletefilefrompackage();
void Builtin_packagefileexists();
// (handle, name, size variable): the member's bytes as text (UTF-16 for the
// "w" form, which ends in a whole zero unit), the size in bytes in the variable.
void Builtin_loadpackagefile();
void Builtin_wloadpackagefile();
// (handle, list variable): the names in index order; the last is current.
void Builtin_packagefiles();
void Builtin_packagechanged();
// (handle, path, key): the number 0 keeps the package's own path or password.
void Builtin_savepackage();
void Builtin_packagefilesize();

}  // namespace qob
