// windows/com/com_object_wrapper.h
// The script-side record of a COM automation object: its IDispatch, the
// member table read once from its type information, the exception record of
// the last failed call and the last HRESULT. Programs hold its address.
#pragma once

#include <cstdint>

#include "platform/com.h"

namespace qob {

struct ProgramContext;

using platform::BSTR;
using platform::DISPID;
using platform::HRESULT;
using platform::VARIANT;
using platform::VARTYPE;

// One member: a function, or the getter or setter of a variable.
struct ComMember {
    DISPID dispid;                 // memid
    BSTR name;                     // lower-cased
    uint16_t invokeKind;           // 1 method, 2 get, 4 put, 8 put by reference, 0 none
    int16_t vtableOffset;          // oVft
    uint32_t callingConvention;    // callconv
    VARTYPE resultType;            // VT_VOID and VT_NULL stored as VT_EMPTY
    VARIANT* result;               // receives each call's result
    int32_t parameterCount;        // cParams
    VARTYPE* parameterTypes;       // count + 1 entries, last 0
    uint32_t* parameterReferences; // count + 1 entries: HREFTYPEs of user-defined parameters
    uint8_t* parameterFlags;       // count + 1 entries, kept and copied, never filled
};

struct ComObjectWrapper {
    platform::IConnectionPoint* connectionPoint;  // made by ConnectComEvents
    uint32_t adviseCookie;
    platform::EXCEPINFO* exception;  // kept after DISP_E_EXCEPTION until the next call
    int32_t propertyCount;           // cVars
    int32_t functionCount;           // cFuncs
    platform::IDispatch* dispatch;   // null while empty
    platform::IUnknown* objectInterface;  // when made by CreateComObject
    void* ownerSite;                 // the ActiveX site owning this wrapper, or null
    int32_t memberCount;             // functionCount + 2 x propertyCount
    ComMember* members;
    HRESULT lastResult;              // 1 (S_FALSE) marks a missing member or unsupported type
};

// Class context of the built-ins' creation.
constexpr uint32_t kComClassContext = 23;
// LCID passed to every call (ignored by the servers here).
constexpr platform::LCID kComLocale = 0x800;

// --- life cycle ------------------------------------------------------------------------

void ComObjectWrapperInit(ComObjectWrapper* wrapper);
void ComObjectWrapperDestroy(ComObjectWrapper* wrapper);
void ComObjectWrapperCopy(ComObjectWrapper* wrapper, const ComObjectWrapper* source);
void AssignComObject(ComObjectWrapper* wrapper, const ComObjectWrapper* source);
void FreeComObject(ComObjectWrapper* wrapper);

void InitComMember(ComMember* member);
void FreeComParam(ComMember* member);
void CopyComMember(ComMember* target, const ComMember* source);

// Wrappers that programs hold: made in low memory, initialised, entered in the
// set of live wrappers and in the list of the context that made them (null:
// no context). Deleting destroys, leaves the set and frees the record.
[[nodiscard]] ComObjectWrapper* NewComObjectWrapper(ProgramContext* owner);
void DeleteComObjectWrapper(ComObjectWrapper* wrapper);
// The live wrapper at a program's address, or null.
[[nodiscard]] ComObjectWrapper* FindLiveComObjectWrapper(double address);
// Deletes the wrappers a context made that are still live (its end).
void ReleaseContextComObjects(ProgramContext* context);
[[nodiscard]] int32_t CountLiveComObjectWrappers();

// --- creation ---------------------------------------------------------------------------

int CreateComObjectByProgID(ComObjectWrapper* wrapper, const char16_t* progId, uint32_t context);
int CreateComObject(ComObjectWrapper* wrapper, const platform::CLSID& clsid, uint32_t context);
int AttachComObject(ComObjectWrapper* wrapper, platform::IDispatch* dispatch);
[[nodiscard]] platform::IUnknown* QueryComInterface(ComObjectWrapper* wrapper, const char16_t* name);

// The type library COMLoadTypeLib left for the next creation, or null. Setting
// a new one releases the old one.
[[nodiscard]] platform::ITypeLib* PendingTypeLib();
void SetPendingTypeLib(platform::ITypeLib* library);

// --- type information -----------------------------------------------------------------

int LoadComTypeInfo(ComObjectWrapper* wrapper, platform::ITypeInfo* info);
VARTYPE TypeDescToVarType(ComObjectWrapper* wrapper, const platform::TYPEDESC* description,
                          platform::ITypeInfo* info, uint32_t* reference);

// --- lookup and calls --------------------------------------------------------------------

// The name is compared lower-cased; the caller's text is not changed.
[[nodiscard]] int32_t FindComMember(const ComObjectWrapper* wrapper, const char* name, uint16_t invokeKind);
[[nodiscard]] int32_t FindComMemberById(const ComObjectWrapper* wrapper, DISPID id, uint16_t invokeKind);
// arguments: the member's parameter count VARIANTs in call order.
HRESULT ComDispatchInvoke(ComObjectWrapper* wrapper, int32_t index, const VARIANT* arguments);
VARIANT* InvokeComMethod(ComObjectWrapper* wrapper, const char* name, const VARIANT* arguments);
int PutComProperty(ComObjectWrapper* wrapper, const char* name, const VARIANT* arguments);

// --- events -------------------------------------------------------------------------------

int ConnectComEvents(ComObjectWrapper* wrapper, platform::IUnknown* sink, const platform::IID& iid);
void DisconnectComEvents(ComObjectWrapper* wrapper);

}  // namespace qob
