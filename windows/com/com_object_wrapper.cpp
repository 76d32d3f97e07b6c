// windows/com/com_object_wrapper.cpp
// Wrapper life cycle, creation and attachment, the member table built from
// type information, member lookup, calls through IDispatch::Invoke, events.
#include "windows/com/com_object_wrapper.h"

#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/memory.h"
#include "platform/text_codec.h"

namespace qob {

using namespace platform;

namespace {

// Every wrapper a program may hold, with the context that made it.
std::unordered_map<ComObjectWrapper*, ProgramContext*>& LiveWrappers() {
    static std::unordered_map<ComObjectWrapper*, ProgramContext*> live;
    return live;
}

ITypeLib* gPendingTypeLib = nullptr;

// Deeper alias chains than this are taken as user-defined types.
constexpr int kMaxAliasDepth = 32;

BSTR LowerCaseCopy(BSTR text) {
    const uint32_t length = SysStringLen(text);
    BSTR copy = SysAllocStringLen(text, length);
    for (uint32_t i = 0; copy && i < length; ++i)
        if (copy[i] >= u'A' && copy[i] <= u'Z') copy[i] = static_cast<char16_t>(copy[i] + 32);
    return copy;
}

VARIANT* NewVariant() { return static_cast<VARIANT*>(AllocateZeroedBlock(sizeof(VARIANT))); }

void FreeException(ComObjectWrapper* wrapper) {
    EXCEPINFO* exception = wrapper->exception;
    if (!exception) return;
    SysFreeString(exception->bstrSource);
    SysFreeString(exception->bstrDescription);
    SysFreeString(exception->bstrHelpFile);
    FreeBlock(exception);
    wrapper->exception = nullptr;
}

// A zeroed exception record for the next call: the wrapper's own one, emptied
// (its strings freed), or a new one.
void RenewException(ComObjectWrapper* wrapper) {
    if (EXCEPINFO* exception = wrapper->exception) {
        SysFreeString(exception->bstrSource);
        SysFreeString(exception->bstrDescription);
        SysFreeString(exception->bstrHelpFile);
        std::memset(exception, 0, sizeof *exception);
        return;
    }
    wrapper->exception = static_cast<EXCEPINFO*>(AllocateZeroedBlock(sizeof(EXCEPINFO)));
}

void FreeMemberTable(ComObjectWrapper* wrapper) {
    for (int32_t i = 0; wrapper->members && i < wrapper->memberCount; ++i) FreeComParam(&wrapper->members[i]);
    FreeBlock(wrapper->members);
    wrapper->members = nullptr;
    wrapper->memberCount = 0;
    wrapper->functionCount = 0;
    wrapper->propertyCount = 0;
}

template <class T>
T* NewArray(int32_t count) {
    return static_cast<T*>(AllocateZeroedBlock(sizeof(T) * static_cast<size_t>(count + 1)));
}
template <class T>
T* CopyArray(const T* source, int32_t count) {
    T* copy = NewArray<T>(count);
    if (copy && source) std::memcpy(copy, source, sizeof(T) * static_cast<size_t>(count + 1));
    return copy;
}

VARTYPE TypeDescToVarTypeAt(ComObjectWrapper* wrapper, const TYPEDESC* description, ITypeInfo* info,
                            uint32_t* reference, int depth);

// A user-defined type (or a pointer to one): what its type information makes of it.
VARTYPE UserDefinedVarType(ComObjectWrapper* wrapper, HREFTYPE hreftype, bool pointer, ITypeInfo* info,
                           uint32_t* reference, int depth) {
    const VARTYPE byRef = pointer ? VT_BYREF : 0;
    if (reference) *reference = hreftype;
    ITypeInfo* referenced = nullptr;
    if (!info || FAILED(info->GetRefTypeInfo(hreftype, &referenced)) || !referenced)
        return static_cast<VARTYPE>(VT_USERDEFINED | byRef);
    TYPEATTR* attributes = nullptr;
    if (FAILED(referenced->GetTypeAttr(&attributes))) {
        referenced->Release();
        return static_cast<VARTYPE>(VT_USERDEFINED | byRef);
    }
    VARTYPE vt = static_cast<VARTYPE>(VT_USERDEFINED | byRef);
    if (attributes->typekind == TKIND_ALIAS && depth < kMaxAliasDepth) {
        uint32_t ignored = 0;
        vt = static_cast<VARTYPE>(
            TypeDescToVarTypeAt(wrapper, &attributes->tdescAlias, referenced, &ignored, depth + 1) | byRef);
    } else if (attributes->typekind == TKIND_ENUM) {
        vt = static_cast<VARTYPE>(VT_I4 | byRef);  // an enumeration without constants
        if (attributes->cVars > 0) {
            VARDESC* variable = nullptr;
            if (SUCCEEDED(referenced->GetVarDesc(0, &variable))) {
                const VARTYPE own = variable->varkind == VAR_CONST && variable->lpvarValue
                                        ? variable->lpvarValue->vt
                                        : variable->elemdescVar.tdesc.vt;
                vt = static_cast<VARTYPE>(own | byRef);
                referenced->ReleaseVarDesc(variable);
            }
        }
    }
    referenced->ReleaseTypeAttr(attributes);
    referenced->Release();
    return vt;
}

VARTYPE TypeDescToVarTypeAt(ComObjectWrapper* wrapper, const TYPEDESC* description, ITypeInfo* info,
                            uint32_t* reference, int depth) {
    if (!description) return VT_EMPTY;
    switch (description->vt) {
        case VT_SAFEARRAY:
            return static_cast<VARTYPE>((description->lptdesc ? description->lptdesc->vt : VT_EMPTY) | VT_ARRAY);
        case VT_PTR: {
            const TYPEDESC* pointed = description->lptdesc;
            if (!pointed) return VT_BYREF;
            if (pointed->vt == VT_USERDEFINED)
                return UserDefinedVarType(wrapper, pointed->hreftype, true, info, reference, depth);
            return static_cast<VARTYPE>(pointed->vt | VT_BYREF);
        }
        case VT_USERDEFINED:
            return UserDefinedVarType(wrapper, description->hreftype, false, info, reference, depth);
        default: return description->vt;
    }
}

// A coclass's interface for calls: the one marked default and not source,
// else the first one not marked source. Its type information (with a
// reference the caller releases), or null.
ITypeInfo* CoclassInterface(ComObjectWrapper* wrapper, ITypeInfo* coclass, const TYPEATTR* attributes) {
    int32_t chosen = -1;
    for (uint32_t i = 0; i < attributes->cImplTypes; ++i) {
        int32_t flags = 0;
        wrapper->lastResult = coclass->GetImplTypeFlags(i, &flags);
        if (FAILED(wrapper->lastResult)) break;
        if (flags & IMPLTYPEFLAG_FSOURCE) continue;
        if (flags & IMPLTYPEFLAG_FDEFAULT) {
            chosen = static_cast<int32_t>(i);
            break;
        }
        if (chosen < 0) chosen = static_cast<int32_t>(i);
    }
    if (chosen < 0) return nullptr;
    HREFTYPE reference = 0;
    ITypeInfo* implemented = nullptr;
    wrapper->lastResult = coclass->GetRefTypeOfImplType(static_cast<uint32_t>(chosen), &reference);
    if (FAILED(wrapper->lastResult)) return nullptr;
    wrapper->lastResult = coclass->GetRefTypeInfo(reference, &implemented);
    if (FAILED(wrapper->lastResult)) return nullptr;
    return implemented;
}

// Fills member i from function description i; false when a step fails.
bool ReadFunction(ComObjectWrapper* wrapper, ITypeInfo* info, uint32_t i) {
    FUNCDESC* function = nullptr;
    wrapper->lastResult = info->GetFuncDesc(i, &function);
    if (FAILED(wrapper->lastResult)) return false;
    ComMember* member = &wrapper->members[i];
    member->dispid = function->memid;
    BSTR name = nullptr;
    uint32_t count = 0;
    wrapper->lastResult = info->GetNames(function->memid, &name, 1, &count);
    if (FAILED(wrapper->lastResult)) {
        info->ReleaseFuncDesc(function);
        return false;
    }
    member->name = LowerCaseCopy(name);
    SysFreeString(name);
    const int32_t kind = function->invkind;
    member->invokeKind = kind == 1 || kind == 2 || kind == 4 || kind == 8 ? static_cast<uint16_t>(kind) : 0;
    member->vtableOffset = function->oVft;
    member->callingConvention = static_cast<uint32_t>(function->callconv);
    member->result = NewVariant();
    const VARTYPE resultType = function->elemdescFunc.tdesc.vt;
    member->resultType = resultType == VT_VOID || resultType == VT_NULL ? VT_EMPTY : resultType;
    member->parameterCount = function->cParams;
    member->parameterTypes = NewArray<VARTYPE>(function->cParams);
    member->parameterReferences = NewArray<uint32_t>(function->cParams);
    member->parameterFlags = NewArray<uint8_t>(function->cParams);
    for (int16_t p = 0; p < function->cParams && member->parameterTypes && member->parameterReferences; ++p)
        member->parameterTypes[p] = TypeDescToVarType(wrapper, &function->lprgelemdescParam[p].tdesc, info,
                                                       &member->parameterReferences[p]);
    info->ReleaseFuncDesc(function);
    return true;
}

// Fills the getter and setter entries of variable k.
bool ReadVariable(ComObjectWrapper* wrapper, ITypeInfo* info, uint32_t k) {
    VARDESC* variable = nullptr;
    wrapper->lastResult = info->GetVarDesc(k, &variable);
    if (FAILED(wrapper->lastResult)) return false;
    ComMember* getter = &wrapper->members[wrapper->functionCount + static_cast<int32_t>(k)];
    ComMember* setter = &wrapper->members[wrapper->functionCount + wrapper->propertyCount + static_cast<int32_t>(k)];
    getter->dispid = setter->dispid = variable->memid;
    BSTR name = nullptr;
    uint32_t count = 0;
    wrapper->lastResult = info->GetNames(variable->memid, &name, 1, &count);
    if (FAILED(wrapper->lastResult)) {
        info->ReleaseVarDesc(variable);
        return false;
    }
    getter->name = LowerCaseCopy(name);
    setter->name = LowerCaseCopy(name);
    SysFreeString(name);
    if (variable->varkind == VAR_DISPATCH) {
        const VARTYPE type = variable->elemdescVar.tdesc.vt;
        getter->invokeKind = 2;
        getter->resultType = type;
        setter->invokeKind = 4;
        setter->resultType = 0;
        setter->parameterCount = 1;
        setter->parameterTypes = NewArray<VARTYPE>(1);
        setter->parameterReferences = NewArray<uint32_t>(1);
        setter->parameterFlags = NewArray<uint8_t>(1);
        if (setter->parameterTypes) setter->parameterTypes[0] = type;
        if (setter->parameterReferences) setter->parameterReferences[0] = type;
    }
    getter->result = NewVariant();
    setter->result = NewVariant();
    info->ReleaseVarDesc(variable);
    return true;
}

}  // namespace

// --- life cycle ------------------------------------------------------------------------

void ComObjectWrapperInit(ComObjectWrapper* wrapper) {
    CoInitializeEx(nullptr, 0);
    std::memset(wrapper, 0, sizeof *wrapper);
}

void ComObjectWrapperDestroy(ComObjectWrapper* wrapper) {
    FreeComObject(wrapper);
    CoUninitialize();
}

void ComObjectWrapperCopy(ComObjectWrapper* wrapper, const ComObjectWrapper* source) {
    ComObjectWrapperInit(wrapper);
    AssignComObject(wrapper, source);
}

void AssignComObject(ComObjectWrapper* wrapper, const ComObjectWrapper* source) {
    if (wrapper == source) return;
    FreeComObject(wrapper);
    wrapper->dispatch = source->dispatch;
    if (wrapper->dispatch) wrapper->dispatch->AddRef();
    // The counts are copied too, so that a copy reads the same as its source.
    wrapper->functionCount = source->functionCount;
    wrapper->propertyCount = source->propertyCount;
    if (source->members && source->memberCount > 0) {
        wrapper->members = static_cast<ComMember*>(
            AllocateZeroedBlock(sizeof(ComMember) * static_cast<size_t>(source->memberCount)));
        if (!wrapper->members) return;
        wrapper->memberCount = source->memberCount;
        for (int32_t i = 0; i < source->memberCount; ++i) {
            InitComMember(&wrapper->members[i]);
            CopyComMember(&wrapper->members[i], &source->members[i]);
        }
    }
}

void FreeComObject(ComObjectWrapper* wrapper) {
    wrapper->lastResult = 0;
    DisconnectComEvents(wrapper);
    FreeException(wrapper);
    if (wrapper->dispatch) wrapper->dispatch->Release();
    if (wrapper->objectInterface) wrapper->objectInterface->Release();
    wrapper->dispatch = nullptr;
    wrapper->objectInterface = nullptr;
    FreeMemberTable(wrapper);
    wrapper->ownerSite = nullptr;
}

void InitComMember(ComMember* member) {
    std::memset(member, 0, sizeof *member);
    member->vtableOffset = -1;
    member->callingConvention = 4;
}

void FreeComParam(ComMember* member) {
    SysFreeString(member->name);
    member->name = nullptr;
    if (member->result) {
        VariantClear(member->result);
        FreeBlock(member->result);
        member->result = nullptr;
    }
    FreeBlock(member->parameterTypes);
    FreeBlock(member->parameterReferences);
    FreeBlock(member->parameterFlags);
    member->parameterTypes = nullptr;
    member->parameterReferences = nullptr;
    member->parameterFlags = nullptr;
}

void CopyComMember(ComMember* target, const ComMember* source) {
    FreeComParam(target);
    target->dispid = source->dispid;
    target->invokeKind = source->invokeKind;
    target->vtableOffset = source->vtableOffset;
    target->callingConvention = source->callingConvention;
    target->resultType = source->resultType;
    target->parameterCount = source->parameterCount;
    target->name = source->name ? LowerCaseCopy(source->name) : nullptr;
    target->result = NewVariant();
    if (source->parameterCount >= 1) {
        target->parameterTypes = CopyArray(source->parameterTypes, source->parameterCount);
        target->parameterReferences = CopyArray(source->parameterReferences, source->parameterCount);
        target->parameterFlags = CopyArray(source->parameterFlags, source->parameterCount);
    }
}

ComObjectWrapper* NewComObjectWrapper(ProgramContext* owner) {
    auto* wrapper = static_cast<ComObjectWrapper*>(AllocateZeroedBlock(sizeof(ComObjectWrapper)));
    if (!wrapper) return nullptr;
    ComObjectWrapperInit(wrapper);
    LiveWrappers()[wrapper] = owner;
    return wrapper;
}

void DeleteComObjectWrapper(ComObjectWrapper* wrapper) {
    if (!wrapper || LiveWrappers().erase(wrapper) == 0) return;
    ComObjectWrapperDestroy(wrapper);
    FreeBlock(wrapper);
}

ComObjectWrapper* FindLiveComObjectWrapper(double address) {
    if (!(address >= 1.0 && address < static_cast<double>(kLowMemoryLimit))) return nullptr;
    auto* wrapper = reinterpret_cast<ComObjectWrapper*>(static_cast<uintptr_t>(address));
    return LiveWrappers().contains(wrapper) ? wrapper : nullptr;
}

void ReleaseContextComObjects(ProgramContext* context) {
    std::vector<ComObjectWrapper*> owned;
    for (const auto& [wrapper, owner] : LiveWrappers())
        if (owner == context && !wrapper->ownerSite) owned.push_back(wrapper);
    for (ComObjectWrapper* wrapper : owned) DeleteComObjectWrapper(wrapper);
}

int32_t CountLiveComObjectWrappers() { return static_cast<int32_t>(LiveWrappers().size()); }

// --- creation ---------------------------------------------------------------------------

ITypeLib* PendingTypeLib() { return gPendingTypeLib; }

void SetPendingTypeLib(ITypeLib* library) {
    if (gPendingTypeLib && gPendingTypeLib != library) gPendingTypeLib->Release();
    gPendingTypeLib = library;
}

int CreateComObjectByProgID(ComObjectWrapper* wrapper, const char16_t* progId, uint32_t context) {
    FreeComObject(wrapper);
    CLSID clsid{};
    wrapper->lastResult = CLSIDFromProgID(progId, &clsid);
    if (FAILED(wrapper->lastResult)) return 0;
    return CreateComObject(wrapper, clsid, context);
}

int CreateComObject(ComObjectWrapper* wrapper, const CLSID& clsid, uint32_t context) {
    FreeComObject(wrapper);
    HRESULT result = CoCreateInstance(clsid, nullptr, context, IID_IUnknown,
                                      reinterpret_cast<void**>(&wrapper->objectInterface));
    if (SUCCEEDED(result) && wrapper->objectInterface) {
        result = wrapper->objectInterface->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&wrapper->dispatch));
    } else {
        result = CoCreateInstance(clsid, nullptr, context, IID_IDispatch, reinterpret_cast<void**>(&wrapper->dispatch));
    }
    if (FAILED(result) || !wrapper->dispatch) {
        wrapper->lastResult = FAILED(result) ? result : E_NOINTERFACE;
        return 0;
    }
    uint32_t count = 0;
    wrapper->lastResult = wrapper->dispatch->GetTypeInfoCount(&count);
    ITypeInfo* info = nullptr;
    if (gPendingTypeLib)
        wrapper->lastResult = gPendingTypeLib->GetTypeInfo(0, &info);
    else
        wrapper->lastResult = wrapper->dispatch->GetTypeInfo(0, kComLocale, &info);
    return LoadComTypeInfo(wrapper, info);
}

int AttachComObject(ComObjectWrapper* wrapper, IDispatch* dispatch) {
    FreeComObject(wrapper);
    if (!dispatch) return 0;
    dispatch->AddRef();
    wrapper->dispatch = dispatch;
    ITypeInfo* info = nullptr;
    wrapper->lastResult = dispatch->GetTypeInfo(0, kComLocale, &info);
    return LoadComTypeInfo(wrapper, info);
}

IUnknown* QueryComInterface(ComObjectWrapper* wrapper, const char16_t* name) {
    if (!wrapper->dispatch || !name) return nullptr;
    uint32_t count = 0;
    wrapper->lastResult = wrapper->dispatch->GetTypeInfoCount(&count);
    if (FAILED(wrapper->lastResult) || count == 0) return nullptr;
    const std::u16string_view wanted(name);
    for (uint32_t index = 0; index < count; ++index) {
        ITypeInfo* info = nullptr;
        if (FAILED(wrapper->dispatch->GetTypeInfo(index, kComLocale, &info)) || !info) continue;
        // The interfaces of this type information: itself, or what a coclass implements.
        std::vector<ITypeInfo*> candidates{info};
        TYPEATTR* attributes = nullptr;
        if (SUCCEEDED(info->GetTypeAttr(&attributes))) {
            for (uint32_t i = 0; attributes->typekind == TKIND_COCLASS && i < attributes->cImplTypes; ++i) {
                HREFTYPE reference = 0;
                ITypeInfo* implemented = nullptr;
                if (SUCCEEDED(info->GetRefTypeOfImplType(i, &reference)) &&
                    SUCCEEDED(info->GetRefTypeInfo(reference, &implemented)))
                    candidates.push_back(implemented);
            }
            info->ReleaseTypeAttr(attributes);
        }
        IUnknown* found = nullptr;
        bool matched = false;
        for (ITypeInfo* candidate : candidates) {
            TYPEATTR* candidateAttributes = nullptr;
            if (!matched && SUCCEEDED(candidate->GetTypeAttr(&candidateAttributes))) {
                const bool isInterface = candidateAttributes->typekind == TKIND_INTERFACE ||
                                         candidateAttributes->typekind == TKIND_DISPATCH;
                BSTR interfaceName = nullptr;
                if (isInterface && SUCCEEDED(candidate->GetDocumentation(MEMBERID_NIL, &interfaceName, nullptr,
                                                                         nullptr, nullptr))) {
                    if (BstrView(interfaceName) == wanted) {
                        matched = true;
                        // The reference is given back at once: the pointer stays
                        // valid while the wrapper holds the object.
                        wrapper->lastResult = wrapper->dispatch->QueryInterface(candidateAttributes->guid,
                                                                                reinterpret_cast<void**>(&found));
                        if (SUCCEEDED(wrapper->lastResult) && found) found->Release();
                        else found = nullptr;
                    }
                    SysFreeString(interfaceName);
                }
                candidate->ReleaseTypeAttr(candidateAttributes);
            }
            candidate->Release();
        }
        if (matched) return found;
    }
    return nullptr;
}

// --- type information -----------------------------------------------------------------

VARTYPE TypeDescToVarType(ComObjectWrapper* wrapper, const TYPEDESC* description, ITypeInfo* info,
                          uint32_t* reference) {
    return TypeDescToVarTypeAt(wrapper, description, info, reference, 0);
}

int LoadComTypeInfo(ComObjectWrapper* wrapper, ITypeInfo* info) {
    FreeMemberTable(wrapper);
    if (!wrapper->dispatch || !info) {
        if (info) info->Release();
        return 0;
    }
    TYPEATTR* attributes = nullptr;
    wrapper->lastResult = info->GetTypeAttr(&attributes);
    if (FAILED(wrapper->lastResult)) {
        info->Release();
        return 0;
    }
    const TYPEKIND kind = attributes->typekind;
    if (kind != TKIND_INTERFACE && kind != TKIND_DISPATCH && kind != TKIND_COCLASS) {
        info->ReleaseTypeAttr(attributes);
        info->Release();
        wrapper->lastResult = 1;
        return 0;
    }
    if (kind == TKIND_COCLASS) {
        ITypeInfo* implemented = CoclassInterface(wrapper, info, attributes);
        info->ReleaseTypeAttr(attributes);
        info->Release();
        info = implemented;
        attributes = nullptr;
        if (info && FAILED(wrapper->lastResult = info->GetTypeAttr(&attributes))) {
            info->Release();
            info = nullptr;
        }
        if (!info) {
            if (wrapper->lastResult == 0) wrapper->lastResult = 1;
            return 0;
        }
    }
    wrapper->functionCount = attributes->cFuncs;
    wrapper->propertyCount = attributes->cVars;
    const int32_t count = wrapper->functionCount + 2 * wrapper->propertyCount;
    bool complete = true;
    if (count > 0) {
        wrapper->members = static_cast<ComMember*>(AllocateZeroedBlock(sizeof(ComMember) * static_cast<size_t>(count)));
        complete = wrapper->members != nullptr;
        if (complete) wrapper->memberCount = count;
        for (int32_t i = 0; complete && i < count; ++i) InitComMember(&wrapper->members[i]);
    }
    for (uint32_t i = 0; complete && i < attributes->cFuncs; ++i) complete = ReadFunction(wrapper, info, i);
    for (uint32_t k = 0; complete && k < attributes->cVars; ++k) complete = ReadVariable(wrapper, info, k);
    info->ReleaseTypeAttr(attributes);
    info->Release();
    if (!complete) {
        FreeMemberTable(wrapper);
        if (wrapper->lastResult == 0) wrapper->lastResult = E_OUTOFMEMORY;
        return 0;
    }
    return 1;
}

// --- lookup and calls --------------------------------------------------------------------

int32_t FindComMember(const ComObjectWrapper* wrapper, const char* name, uint16_t invokeKind) {
    if (!name) return -1;
    // Member names are nearly always ASCII: those compare byte by unit,
    // without a conversion.
    const size_t length = std::strlen(name);
    bool ascii = true;
    for (size_t c = 0; ascii && c < length; ++c) ascii = static_cast<unsigned char>(name[c]) < 0x80;
    if (ascii) {
        for (int32_t i = 0; i < wrapper->memberCount; ++i) {
            const ComMember& member = wrapper->members[i];
            if (member.invokeKind != invokeKind || !member.name || SysStringLen(member.name) != length) continue;
            size_t c = 0;
            while (c < length) {
                char byte = name[c];
                if (byte >= 'A' && byte <= 'Z') byte = static_cast<char>(byte + 32);
                if (member.name[c] != static_cast<char16_t>(byte)) break;
                ++c;
            }
            if (c == length) return i;
        }
        return -1;
    }
    const std::vector<uint16_t> units = DecodeAnsi(name);
    for (int32_t i = 0; i < wrapper->memberCount; ++i) {
        const ComMember& member = wrapper->members[i];
        if (member.invokeKind != invokeKind || !member.name) continue;
        const std::u16string_view memberName = BstrView(member.name);
        if (memberName.size() != units.size()) continue;
        bool same = true;
        for (size_t c = 0; same && c < units.size(); ++c) {
            char16_t unit = static_cast<char16_t>(units[c]);
            if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit + 32);
            same = unit == memberName[c];
        }
        if (same) return i;
    }
    return -1;
}

int32_t FindComMemberById(const ComObjectWrapper* wrapper, DISPID id, uint16_t invokeKind) {
    for (int32_t i = 0; i < wrapper->memberCount; ++i)
        if (wrapper->members[i].dispid == id && wrapper->members[i].invokeKind == invokeKind) return i;
    return -1;
}

HRESULT ComDispatchInvoke(ComObjectWrapper* wrapper, int32_t index, const VARIANT* arguments) {
    wrapper->lastResult = 0;
    if (index < 0 || index >= wrapper->memberCount || !wrapper->dispatch) {
        wrapper->lastResult = 1;
        return 1;
    }
    ComMember* member = &wrapper->members[index];
    if (member->invokeKind == 0) {
        wrapper->lastResult = 1;
        return 1;
    }
    DISPID namedPut = DISPID_PROPERTYPUT;
    DISPPARAMS params{nullptr, nullptr, static_cast<uint32_t>(member->parameterCount), 0};
    if (member->invokeKind == 4 || member->invokeKind == 8) {
        params.rgdispidNamedArgs = &namedPut;
        params.cNamedArgs = 1;
    }
    VARIANT* reversed = nullptr;
    if (params.cArgs > 0) {
        reversed = static_cast<VARIANT*>(AllocateZeroedBlock(sizeof(VARIANT) * params.cArgs));
        if (!reversed) {
            wrapper->lastResult = E_OUTOFMEMORY;
            return E_OUTOFMEMORY;
        }
        for (uint32_t j = 0; j < params.cArgs && member->parameterTypes && member->parameterTypes[j] != 0; ++j)
            reversed[params.cArgs - 1 - j] = arguments[j];
        params.rgvarg = reversed;
    }
    // The previous result goes before every call, an object's reference too.
    if (member->result) VariantClear(member->result);
    RenewException(wrapper);
    uint32_t argError = static_cast<uint32_t>(-1);
    const uint16_t flags = member->invokeKind == 2 ? DISPATCH_METHOD | DISPATCH_PROPERTYGET : member->invokeKind;
    HRESULT result = wrapper->dispatch->Invoke(member->dispid, IID_NULL, kComLocale, flags, &params, member->result,
                                               wrapper->exception, &argError);
    if (FAILED(result) && member->invokeKind == 2) {
        // The retry starts from a clean record: what the first attempt wrote goes.
        RenewException(wrapper);
        if (member->result) VariantClear(member->result);
        result = wrapper->dispatch->Invoke(member->dispid, IID_NULL, kComLocale, DISPATCH_PROPERTYGET, &params,
                                           member->result, wrapper->exception, &argError);
    }
    wrapper->lastResult = result;
    FreeBlock(reversed);
    if (SUCCEEDED(result)) {
        FreeException(wrapper);
    } else {
        if (member->result) VariantClear(member->result);
        if (result == DISP_E_EXCEPTION && wrapper->exception) {
            if (wrapper->exception->pfnDeferredFillIn) wrapper->exception->pfnDeferredFillIn(wrapper->exception);
        } else {
            FreeException(wrapper);
        }
    }
    return result;
}

VARIANT* InvokeComMethod(ComObjectWrapper* wrapper, const char* name, const VARIANT* arguments) {
    const int32_t index = FindComMember(wrapper, name, 2);
    if (index < 0) return nullptr;
    if (FAILED(ComDispatchInvoke(wrapper, index, arguments))) return nullptr;
    return wrapper->members[index].result;
}

int PutComProperty(ComObjectWrapper* wrapper, const char* name, const VARIANT* arguments) {
    const int32_t index = FindComMember(wrapper, name, 4);
    if (index < 0) return 0;
    return SUCCEEDED(ComDispatchInvoke(wrapper, index, arguments)) ? 1 : 0;
}

// --- events -------------------------------------------------------------------------------

int ConnectComEvents(ComObjectWrapper* wrapper, IUnknown* sink, const IID& iid) {
    if (!wrapper->dispatch) {
        wrapper->lastResult = 1;
        return 0;
    }
    DisconnectComEvents(wrapper);
    IConnectionPointContainer* container = nullptr;
    wrapper->lastResult =
        wrapper->dispatch->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    if (SUCCEEDED(wrapper->lastResult) && container) {
        wrapper->lastResult = container->FindConnectionPoint(iid, &wrapper->connectionPoint);
        container->Release();
        if (SUCCEEDED(wrapper->lastResult) && wrapper->connectionPoint)
            wrapper->lastResult = wrapper->connectionPoint->Advise(sink, &wrapper->adviseCookie);
    }
    if (FAILED(wrapper->lastResult) || !wrapper->connectionPoint) {
        if (!FAILED(wrapper->lastResult)) wrapper->lastResult = E_NOINTERFACE;
        if (wrapper->connectionPoint) wrapper->connectionPoint->Release();
        wrapper->connectionPoint = nullptr;
        wrapper->adviseCookie = 0;
        return 0;
    }
    return 1;
}

void DisconnectComEvents(ComObjectWrapper* wrapper) {
    if (!wrapper->connectionPoint) return;
    wrapper->lastResult = wrapper->connectionPoint->Unadvise(wrapper->adviseCookie);
    wrapper->connectionPoint->Release();
    wrapper->connectionPoint = nullptr;
    wrapper->adviseCookie = 0;
}

}  // namespace qob
