// tests/windows/com_test_server.cpp
// The test class as an in-process server library: its registration writes
// QOB.TestObject with this library's path, and its class object makes test
// objects. Built against the headers only: the automation functions are the
// host's.
#include <dlfcn.h>

#include <string>

#include "com_test_object_support.h"

using namespace qob::platform;

extern "C" {

__attribute__((visibility("default"))) HRESULT DllGetClassObject(const CLSID& clsid, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!(clsid == qob::testing::kTestObjectClsid)) return CLASS_E_CLASSNOTAVAILABLE;
    IClassFactory* factory = qob::testing::NewTestObjectFactory();
    const HRESULT result = factory->QueryInterface(iid, object);
    factory->Release();
    return result;
}

__attribute__((visibility("default"))) HRESULT DllRegisterServer() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info) || !info.dli_fname) return SELFREG_E_CLASS;
    const std::string path = info.dli_fname;
    const std::u16string server(path.begin(), path.end());
    return RegisterComClass(qob::testing::kTestObjectClsid, qob::testing::kTestObjectProgId, server, false);
}

}
