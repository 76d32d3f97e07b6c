// tests/fuzz/type_library_text_fuzz.cpp
// The text type-library reader over any text; what it accepts is walked as
// the COM wrapper walks it, every declared type through TypeDescToVarType.

#include <string_view>

#include "platform/com.h"
#include "windows/com/com_object_wrapper.h"

using namespace qob::platform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ITypeLib* library = nullptr;
    if (FAILED(ParseTypeLibText(std::string_view(reinterpret_cast<const char*>(data), size), &library))) return 0;
    qob::ComObjectWrapper wrapper{};
    for (uint32_t i = 0; i < library->GetTypeInfoCount(); ++i) {
        ITypeInfo* info = nullptr;
        if (FAILED(library->GetTypeInfo(i, &info))) continue;
        TYPEATTR* attributes = nullptr;
        if (SUCCEEDED(info->GetTypeAttr(&attributes))) {
            for (uint32_t f = 0; f < attributes->cFuncs; ++f) {
                FUNCDESC* function = nullptr;
                if (FAILED(info->GetFuncDesc(f, &function))) continue;
                uint32_t reference = 0;
                for (int16_t p = 0; p < function->cParams; ++p)
                    qob::TypeDescToVarType(&wrapper, &function->lprgelemdescParam[p].tdesc, info, &reference);
                BSTR names[4] = {};
                uint32_t count = 0;
                if (SUCCEEDED(info->GetNames(function->memid, names, 4, &count)))
                    for (uint32_t n = 0; n < count; ++n) SysFreeString(names[n]);
                info->ReleaseFuncDesc(function);
            }
            for (uint32_t k = 0; k < attributes->cVars; ++k) {
                VARDESC* variable = nullptr;
                if (FAILED(info->GetVarDesc(k, &variable))) continue;
                uint32_t reference = 0;
                qob::TypeDescToVarType(&wrapper, &variable->elemdescVar.tdesc, info, &reference);
                info->ReleaseVarDesc(variable);
            }
            for (uint32_t m = 0; m < attributes->cImplTypes; ++m) {
                HREFTYPE reference = 0;
                ITypeInfo* implemented = nullptr;
                if (SUCCEEDED(info->GetRefTypeOfImplType(m, &reference)) &&
                    SUCCEEDED(info->GetRefTypeInfo(reference, &implemented)))
                    implemented->Release();
            }
            info->ReleaseTypeAttr(attributes);
        }
        info->Release();
    }
    library->Release();
    return 0;
}
