// platform/com/interfaces.h
// The COM interfaces of the object model, as abstract classes in their
// published slot order, with the type-information records they hand out.
#pragma once

#include <cstdint>

#include "platform/com/automation.h"

namespace qob::platform {

// Interface identifiers (our own values).
extern const IID IID_IUnknown;
extern const IID IID_IClassFactory;
extern const IID IID_IDispatch;
extern const IID IID_ITypeInfo;
extern const IID IID_ITypeLib;
extern const IID IID_IConnectionPointContainer;
extern const IID IID_IConnectionPoint;
extern const IID IID_IEnumConnectionPoints;

class ITypeInfo;
class ITypeLib;

class IUnknown {
  public:
    virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

  protected:
    ~IUnknown() = default;
};

class IClassFactory : public IUnknown {
  public:
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
    virtual HRESULT LockServer(int lock) = 0;

  protected:
    ~IClassFactory() = default;
};

class IDispatch : public IUnknown {
  public:
    virtual HRESULT GetTypeInfoCount(uint32_t* count) = 0;
    virtual HRESULT GetTypeInfo(uint32_t index, LCID lcid, ITypeInfo** info) = 0;
    virtual HRESULT GetIDsOfNames(REFIID iid, char16_t** names, uint32_t count, LCID lcid, DISPID* ids) = 0;
    virtual HRESULT Invoke(DISPID member, REFIID iid, LCID lcid, uint16_t flags, DISPPARAMS* params,
                           VARIANT* result, EXCEPINFO* exception, uint32_t* argError) = 0;

  protected:
    ~IDispatch() = default;
};

// --- type information records --------------------------------------------------------

enum TYPEKIND : int32_t {
    TKIND_ENUM = 0,
    TKIND_RECORD = 1,
    TKIND_MODULE = 2,
    TKIND_INTERFACE = 3,
    TKIND_DISPATCH = 4,
    TKIND_COCLASS = 5,
    TKIND_ALIAS = 6,
    TKIND_UNION = 7,
};
enum INVOKEKIND : int32_t {
    INVOKE_FUNC = 1,
    INVOKE_PROPERTYGET = 2,
    INVOKE_PROPERTYPUT = 4,
    INVOKE_PROPERTYPUTREF = 8,
};
enum VARKIND : int32_t { VAR_PERINSTANCE = 0, VAR_STATIC = 1, VAR_CONST = 2, VAR_DISPATCH = 3 };
enum FUNCKIND : int32_t { FUNC_VIRTUAL = 0, FUNC_PUREVIRTUAL = 1, FUNC_NONVIRTUAL = 2, FUNC_STATIC = 3, FUNC_DISPATCH = 4 };
enum CALLCONV : int32_t { CC_CDECL = 1, CC_STDCALL = 4 };

constexpr int32_t IMPLTYPEFLAG_FDEFAULT = 1;
constexpr int32_t IMPLTYPEFLAG_FSOURCE = 2;
constexpr uint16_t PARAMFLAG_FIN = 0x1;
constexpr uint16_t PARAMFLAG_FOUT = 0x2;
constexpr uint16_t PARAMFLAG_FOPT = 0x10;
constexpr uint16_t TYPEFLAG_FDUAL = 0x40;

using HREFTYPE = uint32_t;

struct TYPEDESC {
    union {
        TYPEDESC* lptdesc;  // VT_PTR, VT_SAFEARRAY: the pointed or element type
        HREFTYPE hreftype;  // VT_USERDEFINED
    };
    VARTYPE vt;
};
struct ELEMDESC {
    TYPEDESC tdesc;
    uint16_t wParamFlags;
};
struct FUNCDESC {
    DISPID memid;
    FUNCKIND funckind;
    INVOKEKIND invkind;
    CALLCONV callconv;
    int16_t cParams;
    int16_t cParamsOpt;
    int16_t oVft;
    int16_t cScodes;
    ELEMDESC elemdescFunc;
    ELEMDESC* lprgelemdescParam;
    uint16_t wFuncFlags;
};
struct VARDESC {
    DISPID memid;
    VARKIND varkind;
    ELEMDESC elemdescVar;
    VARIANT* lpvarValue;  // VAR_CONST
    uint16_t wVarFlags;
};
struct TYPEATTR {
    GUID guid;
    TYPEKIND typekind;
    uint16_t cFuncs;
    uint16_t cVars;
    uint16_t cImplTypes;
    uint16_t wTypeFlags;
    TYPEDESC tdescAlias;  // TKIND_ALIAS
    uint32_t cbSizeInstance;
};

class ITypeInfo : public IUnknown {
  public:
    virtual HRESULT GetTypeAttr(TYPEATTR** attributes) = 0;
    virtual HRESULT GetTypeComp(void** comp) = 0;
    virtual HRESULT GetFuncDesc(uint32_t index, FUNCDESC** description) = 0;
    virtual HRESULT GetVarDesc(uint32_t index, VARDESC** description) = 0;
    virtual HRESULT GetNames(DISPID member, BSTR* names, uint32_t maxNames, uint32_t* count) = 0;
    virtual HRESULT GetRefTypeOfImplType(uint32_t index, HREFTYPE* reference) = 0;
    virtual HRESULT GetImplTypeFlags(uint32_t index, int32_t* flags) = 0;
    virtual HRESULT GetIDsOfNames(char16_t** names, uint32_t count, DISPID* ids) = 0;
    virtual HRESULT Invoke(void* instance, DISPID member, uint16_t flags, DISPPARAMS* params, VARIANT* result,
                           EXCEPINFO* exception, uint32_t* argError) = 0;
    virtual HRESULT GetDocumentation(DISPID member, BSTR* name, BSTR* doc, uint32_t* helpContext,
                                     BSTR* helpFile) = 0;
    virtual HRESULT GetDllEntry(DISPID member, INVOKEKIND kind, BSTR* dll, BSTR* name, uint16_t* ordinal) = 0;
    virtual HRESULT GetRefTypeInfo(HREFTYPE reference, ITypeInfo** info) = 0;
    virtual HRESULT AddressOfMember(DISPID member, INVOKEKIND kind, void** address) = 0;
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
    virtual HRESULT GetMops(DISPID member, BSTR* mops) = 0;
    virtual HRESULT GetContainingTypeLib(ITypeLib** library, uint32_t* index) = 0;
    virtual void ReleaseTypeAttr(TYPEATTR* attributes) = 0;
    virtual void ReleaseFuncDesc(FUNCDESC* description) = 0;
    virtual void ReleaseVarDesc(VARDESC* description) = 0;

  protected:
    ~ITypeInfo() = default;
};

class ITypeLib : public IUnknown {
  public:
    virtual uint32_t GetTypeInfoCount() = 0;
    virtual HRESULT GetTypeInfo(uint32_t index, ITypeInfo** info) = 0;
    virtual HRESULT GetTypeInfoType(uint32_t index, TYPEKIND* kind) = 0;
    virtual HRESULT GetTypeInfoOfGuid(REFIID guid, ITypeInfo** info) = 0;
    virtual HRESULT GetLibAttr(void** attributes) = 0;
    virtual HRESULT GetTypeComp(void** comp) = 0;
    virtual HRESULT GetDocumentation(int32_t index, BSTR* name, BSTR* doc, uint32_t* helpContext,
                                     BSTR* helpFile) = 0;
    virtual HRESULT IsName(char16_t* name, uint32_t hash, int* found) = 0;
    virtual HRESULT FindName(char16_t* name, uint32_t hash, ITypeInfo** infos, DISPID* ids, uint16_t* found) = 0;
    virtual void ReleaseTLibAttr(void* attributes) = 0;

  protected:
    ~ITypeLib() = default;
};

// --- connection points --------------------------------------------------------------

class IConnectionPoint;
class IEnumConnectionPoints;

class IConnectionPointContainer : public IUnknown {
  public:
    virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) = 0;
    virtual HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) = 0;

  protected:
    ~IConnectionPointContainer() = default;
};

class IConnectionPoint : public IUnknown {
  public:
    virtual HRESULT GetConnectionInterface(IID* iid) = 0;
    virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) = 0;
    virtual HRESULT Advise(IUnknown* sink, uint32_t* cookie) = 0;
    virtual HRESULT Unadvise(uint32_t cookie) = 0;
    virtual HRESULT EnumConnections(void** connections) = 0;

  protected:
    ~IConnectionPoint() = default;
};

class IEnumConnectionPoints : public IUnknown {
  public:
    virtual HRESULT Next(uint32_t count, IConnectionPoint** points, uint32_t* fetched) = 0;
    virtual HRESULT Skip(uint32_t count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumConnectionPoints** copy) = 0;

  protected:
    ~IEnumConnectionPoints() = default;
};

}  // namespace qob::platform
