// tests/windows/activex_test_control_server.cpp
// The test controls as an in-process server library: its registration
// writes every variant with this library's path and a Control key, and its
// class object makes the controls. Built against the headers only: the
// automation, drawing and window functions are the host's.
#include <dlfcn.h>

#include <string>

#include "activex_test_control_support.h"

using namespace qob::platform;

extern "C" {

__attribute__((visibility("default"))) HRESULT DllGetClassObject(const CLSID& clsid, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    for (const qob::testing::ControlClass& type : qob::testing::TestControlClasses()) {
        if (!(clsid == type.clsid)) continue;
        IClassFactory* factory = qob::testing::NewTestControlFactory(type.kind);
        const HRESULT result = factory->QueryInterface(iid, object);
        factory->Release();
        return result;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

__attribute__((visibility("default"))) HRESULT DllRegisterServer() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info) || !info.dli_fname) return SELFREG_E_CLASS;
    const std::string path = info.dli_fname;
    return qob::testing::RegisterTestControlServer(std::u16string(path.begin(), path.end()));
}

}
