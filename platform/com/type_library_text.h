// platform/com/type_library_text.h
// LoadTypeLib: type libraries in a short text format of our own (the
// grammar is in the README's COM section). Binary type libraries of the
// device are not read.
#pragma once

#include <string_view>

#include "platform/com/interfaces.h"

namespace qob::platform {

// Reads the file (a program's path) and builds its library. Any fault (a
// file that cannot be read, a syntax error, an unknown type, an alias cycle,
// a text cut short) answers TYPE_E_CANTLOADLIBRARY and no library.
HRESULT LoadTypeLib(const char16_t* path, ITypeLib** library);

// The same for a text in hand.
HRESULT ParseTypeLibText(std::string_view text, ITypeLib** library);

}  // namespace qob::platform
