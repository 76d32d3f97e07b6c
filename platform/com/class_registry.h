// platform/com/class_registry.h
// Creating objects from the class list under HKEY_CLASSES_ROOT: built-in
// factories and in-process servers that are shared libraries.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/com/interfaces.h"

namespace qob::platform {

// Class contexts served (in-process server and handler, with or without the
// local and remote servers, which do not exist here).
constexpr uint32_t CLSCTX_INPROC_SERVER = 0x1;
constexpr uint32_t CLSCTX_INPROC_HANDLER = 0x2;
constexpr uint32_t CLSCTX_LOCAL_SERVER = 0x4;
constexpr uint32_t CLSCTX_REMOTE_SERVER = 0x10;
constexpr uint32_t CLSCTX_SERVER = 0x7;
constexpr uint32_t CLSCTX_ALL = 0x17;

// A counter; there are no apartments. Each initialisation answers S_OK.
HRESULT CoInitializeEx(void* reserved, uint32_t flags);
void CoUninitialize();
[[nodiscard]] int32_t CoInitializeCount();

// Registry layout of a class:
//   HKCR\<ProgID>\CLSID               default value "{clsid}"
//   HKCR\CLSID\{clsid}\InprocServer32 default value "builtin:<name>" or a library path
//   HKCR\CLSID\{clsid}\ProgID         default value "<ProgID>"
//   HKCR\CLSID\{clsid}\Control        (a key) for controls
// A library is found as written, or for "x.dll" as "libx.so" / "x.so" beside
// it, and must export DllGetClassObject.
using DllGetClassObjectFunction = HRESULT (*)(const CLSID& clsid, REFIID iid, void** object);
using DllRegisterServerFunction = HRESULT (*)();

// Adds a factory to the process's built-in table under a name
// ("builtin:<name>" in InprocServer32 reaches it); the table takes a
// reference. A second entry of the same name replaces the first.
void RegisterBuiltinClassFactory(std::u16string_view name, IClassFactory* factory);
void RemoveBuiltinClassFactory(std::u16string_view name);

// Writes a class's keys (the server text as InprocServer32's default value).
HRESULT RegisterComClass(const CLSID& clsid, std::u16string_view progId, std::u16string_view server, bool control);

// Contexts 7 and 23 only (else E_INVALIDARG); REGDB_E_CLASSNOTREG when the
// class is not listed or its server cannot be reached.
HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, uint32_t context, REFIID iid, void** object);
HRESULT CoGetClassObject(const CLSID& clsid, uint32_t context, REFIID iid, void** object);

// The CLSID under HKCR\<ProgID>\CLSID (CO_E_CLASSSTRING when none), and a
// braced CLSID text (CO_E_CLASSSTRING when it is not one).
HRESULT CLSIDFromProgID(const char16_t* progId, CLSID* clsid);
HRESULT CLSIDFromString(const char16_t* text, CLSID* clsid);

}  // namespace qob::platform
