// platform/com/automation.h
// The automation data types: results, GUIDs, BSTRs, the 16-byte VARIANT,
// SAFEARRAYs in the device layout, SYSTEMTIME and OLE dates, EXCEPINFO.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qob::platform {

using HRESULT = int32_t;
using VARTYPE = uint16_t;
using DISPID = int32_t;
using LCID = uint32_t;
using BSTR = char16_t*;
using VARIANT_BOOL = int16_t;

[[nodiscard]] constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
[[nodiscard]] constexpr bool FAILED(HRESULT hr) { return hr < 0; }
[[nodiscard]] constexpr HRESULT MakeResult(uint32_t bits) { return static_cast<HRESULT>(bits); }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeResult(0x80004001u);
constexpr HRESULT E_NOINTERFACE = MakeResult(0x80004002u);
constexpr HRESULT E_POINTER = MakeResult(0x80004003u);
constexpr HRESULT E_FAIL = MakeResult(0x80004005u);
constexpr HRESULT E_OUTOFMEMORY = MakeResult(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = MakeResult(0x80070057u);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeResult(0x80020003u);
constexpr HRESULT DISP_E_PARAMNOTFOUND = MakeResult(0x80020004u);
constexpr HRESULT DISP_E_TYPEMISMATCH = MakeResult(0x80020005u);
constexpr HRESULT DISP_E_UNKNOWNNAME = MakeResult(0x80020006u);
constexpr HRESULT DISP_E_BADVARTYPE = MakeResult(0x80020008u);
constexpr HRESULT DISP_E_EXCEPTION = MakeResult(0x80020009u);
constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeResult(0x8002000Eu);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = MakeResult(0x8002802Bu);
constexpr HRESULT TYPE_E_CANTLOADLIBRARY = MakeResult(0x80029C4Au);
constexpr HRESULT CLASS_E_NOAGGREGATION = MakeResult(0x80040110u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeResult(0x80040111u);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeResult(0x80040154u);
constexpr HRESULT CO_E_CLASSSTRING = MakeResult(0x800401F3u);
constexpr HRESULT CONNECT_E_NOCONNECTION = MakeResult(0x80040200u);
constexpr HRESULT CONNECT_E_CANNOTCONNECT = MakeResult(0x80040202u);
constexpr HRESULT SELFREG_E_CLASS = MakeResult(0x80040201u);

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
    friend bool operator==(const GUID&, const GUID&) = default;
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const GUID&;
constexpr GUID GUID_NULL{};
constexpr GUID IID_NULL{};

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" (either case); false for anything else.
[[nodiscard]] bool ParseGuid(std::u16string_view text, GUID* guid);
// The braced upper-case form.
[[nodiscard]] std::u16string FormatGuid(const GUID& guid);

// VARTYPEs.
constexpr VARTYPE VT_EMPTY = 0;
constexpr VARTYPE VT_NULL = 1;
constexpr VARTYPE VT_I2 = 2;
constexpr VARTYPE VT_I4 = 3;
constexpr VARTYPE VT_R4 = 4;
constexpr VARTYPE VT_R8 = 5;
constexpr VARTYPE VT_CY = 6;
constexpr VARTYPE VT_DATE = 7;
constexpr VARTYPE VT_BSTR = 8;
constexpr VARTYPE VT_DISPATCH = 9;
constexpr VARTYPE VT_ERROR = 10;
constexpr VARTYPE VT_BOOL = 11;
constexpr VARTYPE VT_VARIANT = 12;
constexpr VARTYPE VT_UNKNOWN = 13;
constexpr VARTYPE VT_UI1 = 17;
constexpr VARTYPE VT_VOID = 24;
constexpr VARTYPE VT_HRESULT = 25;
constexpr VARTYPE VT_PTR = 26;
constexpr VARTYPE VT_SAFEARRAY = 27;
constexpr VARTYPE VT_USERDEFINED = 29;
constexpr VARTYPE VT_ARRAY = 0x2000;
constexpr VARTYPE VT_BYREF = 0x4000;
constexpr VARTYPE VT_TYPEMASK = 0x0FFF;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// --- low memory ---------------------------------------------------------------------

// Every COM object, BSTR, SAFEARRAY and block a program can see lives below
// 2 GiB, so that programs can hold it in a 32-bit number. COM classes derive
// from this to be allocated there.
struct LowMemoryObject {
    static void* operator new(size_t size);
    static void operator delete(void* block);
};

// A 32-bit address word for a low pointer, and back.
[[nodiscard]] uint32_t LowAddress(const void* pointer);
template <class T>
[[nodiscard]] inline T* FromLowAddress(uint32_t word) {
    return reinterpret_cast<T*>(static_cast<uintptr_t>(word));
}

// --- BSTR ---------------------------------------------------------------------------

// A BSTR is UTF-16 after a 4-byte byte length, terminated by a 0 unit; the
// pointer addresses the first unit. Null stands for the empty string.
[[nodiscard]] BSTR SysAllocString(const char16_t* text);
[[nodiscard]] BSTR SysAllocStringLen(const char16_t* text, uint32_t length);
void SysFreeString(BSTR text);
[[nodiscard]] uint32_t SysStringLen(BSTR text);

// 8-bit texts of the system (UTF-8, lossless) to BSTR and back.
[[nodiscard]] BSTR AnsiToBstr(std::string_view text);
[[nodiscard]] std::string BstrToAnsi(BSTR text);
[[nodiscard]] std::u16string_view BstrView(BSTR text);

// --- VARIANT ------------------------------------------------------------------------

// 16 bytes as on the device: the type, three reserved words and an 8-byte
// value. Pointers (BSTR, interfaces, SAFEARRAY, by-reference targets) are
// 32-bit low addresses in `word`.
struct VARIANT {
    VARTYPE vt;
    uint16_t wReserved1;
    uint16_t wReserved2;
    uint16_t wReserved3;
    union {
        int64_t llVal;
        int64_t cyVal;  // currency: the raw count of 1/10,000 units
        int32_t lVal;
        int32_t scode;
        int16_t iVal;
        VARIANT_BOOL boolVal;
        uint8_t bVal;
        float fltVal;
        double dblVal;
        double date;
        uint32_t word;
    };
};
static_assert(sizeof(VARIANT) == 16);

class IUnknown;
class IDispatch;
struct SAFEARRAY;

void VariantInit(VARIANT* variant);
// Frees what the VARIANT owns (a BSTR, an interface reference, an array) and
// leaves it VT_EMPTY; by-reference VARIANTs own nothing.
HRESULT VariantClear(VARIANT* variant);
// A deep copy into target (which is cleared first).
HRESULT VariantCopy(VARIANT* target, const VARIANT* source);

[[nodiscard]] inline BSTR VariantBstr(const VARIANT& v) { return FromLowAddress<char16_t>(v.word); }
[[nodiscard]] inline IDispatch* VariantDispatch(const VARIANT& v) { return FromLowAddress<IDispatch>(v.word); }
[[nodiscard]] inline IUnknown* VariantUnknown(const VARIANT& v) { return FromLowAddress<IUnknown>(v.word); }
[[nodiscard]] inline SAFEARRAY* VariantArray(const VARIANT& v) { return FromLowAddress<SAFEARRAY>(v.word); }
template <class T>
[[nodiscard]] inline T* VariantReference(const VARIANT& v) {
    return FromLowAddress<T>(v.word);
}
inline void SetVariantPointer(VARIANT* v, VARTYPE vt, const void* pointer) {
    v->vt = vt;
    v->llVal = 0;
    v->word = LowAddress(pointer);
}

// --- SAFEARRAY ----------------------------------------------------------------------

struct SAFEARRAYBOUND {
    uint32_t cElements;
    int32_t lLbound;
};
// The device's 24-byte layout, one bound inline; pvData is a low address.
struct SAFEARRAY {
    uint16_t cDims;
    uint16_t fFeatures;
    uint32_t cbElements;
    uint32_t cLocks;
    uint32_t pvData;
    SAFEARRAYBOUND rgsabound[1];
};
static_assert(sizeof(SAFEARRAY) == 24);
constexpr uint16_t FADF_HAVEVARTYPE = 0x0080;
constexpr uint16_t FADF_BSTR = 0x0100;
constexpr uint16_t FADF_UNKNOWN = 0x0200;
constexpr uint16_t FADF_DISPATCH = 0x0400;
constexpr uint16_t FADF_VARIANT = 0x0800;

// A one-dimensional array (only cDims 1 is served) of zeroed elements of
// VARTYPE vt (VT_UI1, VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BSTR,
// VT_DISPATCH, VT_ERROR, VT_BOOL, VT_VARIANT, VT_UNKNOWN); null for others.
[[nodiscard]] SAFEARRAY* SafeArrayCreate(VARTYPE vt, uint32_t cDims, const SAFEARRAYBOUND* bounds);
// Frees the elements' contents, the data and the descriptor. Any address that
// is not an array made here is refused with E_INVALIDARG, touching nothing.
HRESULT SafeArrayDestroy(SAFEARRAY* array);
HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt);
[[nodiscard]] inline void* SafeArrayData(SAFEARRAY* array) { return FromLowAddress<void>(array->pvData); }

// --- dates --------------------------------------------------------------------------

struct SYSTEMTIME {
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};
static_assert(sizeof(SYSTEMTIME) == 16);

// OLE dates: days since 1899-12-30 with the time of day as the fraction; a
// negative date's fraction counts away from zero (-1.25 is 1899-12-29 06:00).
// Exact to the millisecond both ways; years 100 to 9999. Return 1 on
// success, 0 for a field or a date out of range.
int SystemTimeToVariantTime(const SYSTEMTIME* time, double* date);
int VariantTimeToSystemTime(double date, SYSTEMTIME* time);

// --- calls --------------------------------------------------------------------------

struct EXCEPINFO {
    uint16_t wCode;
    uint16_t wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    uint32_t dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO* info);
    HRESULT scode;
};

struct DISPPARAMS {
    VARIANT* rgvarg;  // arguments in reverse order: the last one first
    DISPID* rgdispidNamedArgs;
    uint32_t cArgs;
    uint32_t cNamedArgs;
};

constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr DISPID MEMBERID_NIL = -1;

constexpr uint16_t DISPATCH_METHOD = 1;
constexpr uint16_t DISPATCH_PROPERTYGET = 2;
constexpr uint16_t DISPATCH_PROPERTYPUT = 4;
constexpr uint16_t DISPATCH_PROPERTYPUTREF = 8;

}  // namespace qob::platform
