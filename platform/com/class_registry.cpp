// platform/com/class_registry.cpp
// The COM initialisation counter, the built-in factory table and object
// creation from the class list in the registry.
#include "platform/com/class_registry.h"

#include <dlfcn.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/text_codec.h"

namespace qob::platform {
namespace {

std::atomic<int32_t> gInitializeCount{0};

struct FactoryTable {
    std::mutex lock;
    std::map<std::u16string, IClassFactory*> factories;
};
FactoryTable& Factories() {
    static FactoryTable table;
    return table;
}

std::span<const uint16_t> Units(std::u16string_view text) {
    return {reinterpret_cast<const uint16_t*>(text.data()), text.size()};
}

// The default value of HKCR\<path> as text; false when absent or not REG_SZ.
bool ReadDefaultText(std::u16string_view path, std::u16string* text) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, Units(path), &key) != ERROR_SUCCESS) return false;
    uint32_t type = 0, size = 0;
    bool read = RegQueryValueExW(key, {}, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ && size >= 2;
    if (read) {
        std::u16string buffer(size / 2, u'\0');
        read = RegQueryValueExW(key, {}, &type, reinterpret_cast<uint8_t*>(buffer.data()), &size) == ERROR_SUCCESS;
        const size_t end = buffer.find(u'\0');
        if (read) *text = buffer.substr(0, end);
    }
    RegCloseKey(key);
    return read;
}

HRESULT WriteDefaultText(std::u16string_view path, std::u16string_view text) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, Units(path), &key) != ERROR_SUCCESS) return SELFREG_E_CLASS;
    std::u16string data(text);
    data.push_back(u'\0');
    const int32_t result = RegSetValueExW(
        key, {}, REG_SZ, {reinterpret_cast<const uint8_t*>(data.data()), data.size() * sizeof(char16_t)});
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

// The host files a server path may name: as written, then for "x.dll" the
// shared-library names beside it.
std::vector<std::string> LibraryCandidates(const std::string& path) {
    std::vector<std::string> names{path};
    std::string unixPath = path;
    for (char& c : unixPath)
        if (c == '\\') c = '/';
    const size_t slash = unixPath.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : unixPath.substr(0, slash + 1);
    std::string stem = unixPath.substr(folder.size());
    if (stem.size() > 4) {
        std::string tail = stem.substr(stem.size() - 4);
        for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (tail == ".dll") stem.resize(stem.size() - 4);
    }
    names.push_back(folder + "lib" + stem + ".so");
    names.push_back(folder + stem + ".so");
    return names;
}

HRESULT LibraryClassObject(const std::string& path, const CLSID& clsid, REFIID iid, void** object) {
    for (const std::string& candidate : LibraryCandidates(path)) {
        void* library = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) continue;
        // The library stays loaded: objects it made may outlive this call.
        auto entry = reinterpret_cast<DllGetClassObjectFunction>(dlsym(library, "DllGetClassObject"));
        if (!entry) return REGDB_E_CLASSNOTREG;
        const HRESULT result = entry(clsid, iid, object);
        return FAILED(result) ? REGDB_E_CLASSNOTREG : result;
    }
    return REGDB_E_CLASSNOTREG;
}

}  // namespace

HRESULT CoInitializeEx(void*, uint32_t) {
    gInitializeCount.fetch_add(1);
    return S_OK;
}

void CoUninitialize() {
    int32_t count = gInitializeCount.load();
    while (count > 0 && !gInitializeCount.compare_exchange_weak(count, count - 1)) {
    }
}

int32_t CoInitializeCount() { return gInitializeCount.load(); }

void RegisterBuiltinClassFactory(std::u16string_view name, IClassFactory* factory) {
    if (!factory) return;
    factory->AddRef();
    FactoryTable& table = Factories();
    std::lock_guard guard(table.lock);
    IClassFactory*& slot = table.factories[std::u16string(name)];
    if (slot) slot->Release();
    slot = factory;
}

void RemoveBuiltinClassFactory(std::u16string_view name) {
    FactoryTable& table = Factories();
    std::lock_guard guard(table.lock);
    auto found = table.factories.find(std::u16string(name));
    if (found == table.factories.end()) return;
    found->second->Release();
    table.factories.erase(found);
}

HRESULT RegisterComClass(const CLSID& clsid, std::u16string_view progId, std::u16string_view server, bool control) {
    const std::u16string classKey = u"CLSID\\" + FormatGuid(clsid);
    HRESULT result = WriteDefaultText(std::u16string(progId) + u"\\CLSID", FormatGuid(clsid));
    if (SUCCEEDED(result)) result = WriteDefaultText(classKey + u"\\InprocServer32", server);
    if (SUCCEEDED(result)) result = WriteDefaultText(classKey + u"\\ProgID", progId);
    if (SUCCEEDED(result) && control) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CLASSES_ROOT, Units(classKey + u"\\Control"), &key) != ERROR_SUCCESS)
            return SELFREG_E_CLASS;
        RegCloseKey(key);
    }
    return result;
}

HRESULT CoGetClassObject(const CLSID& clsid, uint32_t context, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (context != CLSCTX_SERVER && context != CLSCTX_ALL) return E_INVALIDARG;
    std::u16string server;
    if (!ReadDefaultText(u"CLSID\\" + FormatGuid(clsid) + u"\\InprocServer32", &server))
        return REGDB_E_CLASSNOTREG;
    constexpr std::u16string_view kBuiltin = u"builtin:";
    if (server.starts_with(kBuiltin)) {
        FactoryTable& table = Factories();
        std::lock_guard guard(table.lock);
        auto found = table.factories.find(server.substr(kBuiltin.size()));
        if (found == table.factories.end()) return REGDB_E_CLASSNOTREG;
        return found->second->QueryInterface(iid, object);
    }
    return LibraryClassObject(EncodeAnsi(Units(server)), clsid, iid, object);
}

HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, uint32_t context, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    IClassFactory* factory = nullptr;
    const HRESULT found = CoGetClassObject(clsid, context, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(found)) return found;
    const HRESULT result = factory->CreateInstance(outer, iid, object);
    factory->Release();
    return result;
}

HRESULT CLSIDFromProgID(const char16_t* progId, CLSID* clsid) {
    if (!progId || !clsid) return E_INVALIDARG;
    const std::u16string_view name(progId);
    // A ProgID is one key name: no separators, nothing empty.
    if (name.empty() || name.find_first_of(u"\\/") != std::u16string_view::npos) return CO_E_CLASSSTRING;
    std::u16string text;
    if (!ReadDefaultText(std::u16string(name) + u"\\CLSID", &text) || !ParseGuid(text, clsid))
        return CO_E_CLASSSTRING;
    return S_OK;
}

HRESULT CLSIDFromString(const char16_t* text, CLSID* clsid) {
    if (!text || !clsid) return E_INVALIDARG;
    return ParseGuid(text, clsid) ? S_OK : CO_E_CLASSSTRING;
}

}  // namespace qob::platform
