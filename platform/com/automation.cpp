// platform/com/automation.cpp
// GUID texts, BSTRs, VARIANTs, SAFEARRAYs and OLE dates.
#include "platform/com/automation.h"

#include <cmath>
#include <cstring>
#include <new>

#include "platform/com/interfaces.h"
#include "platform/memory.h"
#include "platform/text_codec.h"

namespace qob::platform {
namespace {

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// Reads count hex digits at text[at]; false on any other character.
bool ReadHex(std::u16string_view text, size_t at, int count, uint64_t* value) {
    *value = 0;
    for (int i = 0; i < count; ++i) {
        const int digit = HexDigit(text[at + i]);
        if (digit < 0) return false;
        *value = *value << 4 | static_cast<uint64_t>(digit);
    }
    return true;
}

// A SAFEARRAY block: a 16-byte prefix holding a mark and the VARTYPE, then
// the 24-byte descriptor whose address programs see.
constexpr uint32_t kArrayMark = 0x53414652u;
struct ArrayPrefix {
    uint32_t mark;
    uint32_t reserved[2];
    uint32_t vt;
};
static_assert(sizeof(ArrayPrefix) == 16);

ArrayPrefix* PrefixOf(SAFEARRAY* array) {
    if (!array) return nullptr;
    auto* prefix = reinterpret_cast<ArrayPrefix*>(reinterpret_cast<char*>(array) - sizeof(ArrayPrefix));
    if (GetContainingBlock(array) != prefix || GetBlockSize(prefix) != sizeof(ArrayPrefix) + sizeof(SAFEARRAY))
        return nullptr;
    return prefix->mark == kArrayMark ? prefix : nullptr;
}

uint32_t ElementSize(VARTYPE vt) {
    switch (vt) {
        case VT_UI1: return 1;
        case VT_I2: case VT_BOOL: return 2;
        case VT_I4: case VT_R4: case VT_ERROR: case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN: return 4;
        case VT_R8: case VT_CY: case VT_DATE: return 8;
        case VT_VARIANT: return sizeof(VARIANT);
        default: return 0;
    }
}

uint16_t ArrayFeatures(VARTYPE vt) {
    switch (vt) {
        case VT_BSTR: return FADF_HAVEVARTYPE | FADF_BSTR;
        case VT_UNKNOWN: return FADF_HAVEVARTYPE | FADF_UNKNOWN;
        case VT_DISPATCH: return FADF_HAVEVARTYPE | FADF_DISPATCH;
        case VT_VARIANT: return FADF_HAVEVARTYPE | FADF_VARIANT;
        default: return FADF_HAVEVARTYPE;
    }
}

// Days from 1970-01-01 of a civil date, and back (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}
void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}
bool IsLeapYear(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
unsigned DaysInMonth(int64_t y, unsigned m) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

constexpr int64_t kEpochDays = -25569;  // 1899-12-30 counted from 1970-01-01
constexpr double kMillisecondsPerDay = 86400000.0;
constexpr double kFirstDate = -657434.0;   // 0100-01-01
constexpr double kLastDate = 2958466.0;    // 10000-01-01, excluded

}  // namespace

// --- GUID ---------------------------------------------------------------------------

bool ParseGuid(std::u16string_view text, GUID* guid) {
    if (text.size() != 38 || text[0] != u'{' || text[37] != u'}' || text[9] != u'-' || text[14] != u'-' ||
        text[19] != u'-' || text[24] != u'-')
        return false;
    uint64_t a, b, c, d, e;
    if (!ReadHex(text, 1, 8, &a) || !ReadHex(text, 10, 4, &b) || !ReadHex(text, 15, 4, &c) ||
        !ReadHex(text, 20, 4, &d) || !ReadHex(text, 25, 12, &e))
        return false;
    guid->Data1 = static_cast<uint32_t>(a);
    guid->Data2 = static_cast<uint16_t>(b);
    guid->Data3 = static_cast<uint16_t>(c);
    guid->Data4[0] = static_cast<uint8_t>(d >> 8);
    guid->Data4[1] = static_cast<uint8_t>(d);
    for (int i = 0; i < 6; ++i) guid->Data4[2 + i] = static_cast<uint8_t>(e >> (40 - 8 * i));
    return true;
}

std::u16string FormatGuid(const GUID& guid) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::u16string text = u"{";
    auto put = [&](uint64_t value, int digits) {
        for (int i = digits - 1; i >= 0; --i) text.push_back(static_cast<char16_t>(kHex[(value >> (4 * i)) & 15]));
    };
    put(guid.Data1, 8);
    text.push_back(u'-');
    put(guid.Data2, 4);
    text.push_back(u'-');
    put(guid.Data3, 4);
    text.push_back(u'-');
    put(guid.Data4[0], 2);
    put(guid.Data4[1], 2);
    text.push_back(u'-');
    for (int i = 2; i < 8; ++i) put(guid.Data4[i], 2);
    text.push_back(u'}');
    return text;
}

// --- low memory ---------------------------------------------------------------------

void* LowMemoryObject::operator new(size_t size) {
    void* block = AllocateZeroedBlock(size);
    if (!block) throw std::bad_alloc();
    return block;
}

void LowMemoryObject::operator delete(void* block) { FreeBlock(block); }

uint32_t LowAddress(const void* pointer) {
    const auto address = reinterpret_cast<uintptr_t>(pointer);
    return address < kLowMemoryLimit ? static_cast<uint32_t>(address) : 0;
}

// --- BSTR ---------------------------------------------------------------------------

BSTR SysAllocStringLen(const char16_t* text, uint32_t length) {
    if (length > (kMaxBlockSize - 8) / 2) return nullptr;
    auto* block = static_cast<char*>(AllocateBlock(4 + (static_cast<size_t>(length) + 1) * 2));
    if (!block) return nullptr;
    const uint32_t bytes = length * 2;
    std::memcpy(block, &bytes, 4);
    auto* units = reinterpret_cast<char16_t*>(block + 4);
    if (text)
        std::memcpy(units, text, bytes);
    else
        std::memset(units, 0, bytes);
    units[length] = 0;
    return units;
}

BSTR SysAllocString(const char16_t* text) {
    if (!text) return nullptr;
    uint32_t length = 0;
    while (text[length]) ++length;
    return SysAllocStringLen(text, length);
}

void SysFreeString(BSTR text) {
    if (text) FreeBlock(reinterpret_cast<char*>(text) - 4);
}

uint32_t SysStringLen(BSTR text) {
    if (!text) return 0;
    uint32_t bytes;
    std::memcpy(&bytes, reinterpret_cast<const char*>(text) - 4, 4);
    return bytes / 2;
}

std::u16string_view BstrView(BSTR text) { return text ? std::u16string_view(text, SysStringLen(text)) : u""; }

BSTR AnsiToBstr(std::string_view text) {
    const size_t units = DecodeAnsi(text, {});
    BSTR result = SysAllocStringLen(nullptr, static_cast<uint32_t>(units));
    if (result) DecodeAnsi(text, {reinterpret_cast<uint16_t*>(result), units});
    return result;
}

std::string BstrToAnsi(BSTR text) {
    const std::u16string_view view = BstrView(text);
    return EncodeAnsi({reinterpret_cast<const uint16_t*>(view.data()), view.size()});
}

// --- VARIANT ------------------------------------------------------------------------

void VariantInit(VARIANT* variant) { std::memset(variant, 0, sizeof *variant); }

HRESULT VariantClear(VARIANT* variant) {
    if (!variant) return E_INVALIDARG;
    if (!(variant->vt & VT_BYREF)) {
        if (variant->vt & VT_ARRAY) {
            SafeArrayDestroy(VariantArray(*variant));
        } else {
            switch (variant->vt) {
                case VT_BSTR: SysFreeString(VariantBstr(*variant)); break;
                case VT_DISPATCH:
                case VT_UNKNOWN:
                    if (IUnknown* object = VariantUnknown(*variant)) object->Release();
                    break;
                default: break;
            }
        }
    }
    VariantInit(variant);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* target, const VARIANT* source) {
    if (!target || !source) return E_INVALIDARG;
    if (target == source) return S_OK;
    VARIANT copy = *source;
    if (!(copy.vt & (VT_BYREF | VT_ARRAY))) {
        if (copy.vt == VT_BSTR && VariantBstr(copy)) {
            const BSTR text = VariantBstr(copy);
            BSTR duplicate = SysAllocStringLen(text, SysStringLen(text));
            if (!duplicate) return E_OUTOFMEMORY;
            SetVariantPointer(&copy, VT_BSTR, duplicate);
        } else if ((copy.vt == VT_DISPATCH || copy.vt == VT_UNKNOWN) && VariantUnknown(copy)) {
            VariantUnknown(copy)->AddRef();
        }
    } else if ((copy.vt & VT_ARRAY) && !(copy.vt & VT_BYREF)) {
        // Arrays are not shared: a copy would need its own elements, which no
        // caller of ours asks for.
        return E_NOTIMPL;
    }
    VariantClear(target);
    *target = copy;
    return S_OK;
}

// --- SAFEARRAY ----------------------------------------------------------------------

SAFEARRAY* SafeArrayCreate(VARTYPE vt, uint32_t cDims, const SAFEARRAYBOUND* bounds) {
    const uint32_t size = ElementSize(vt);
    if (cDims != 1 || !bounds || size == 0) return nullptr;
    const uint64_t bytes = static_cast<uint64_t>(bounds[0].cElements) * size;
    if (bytes > kMaxBlockSize) return nullptr;
    auto* prefix = static_cast<ArrayPrefix*>(AllocateZeroedBlock(sizeof(ArrayPrefix) + sizeof(SAFEARRAY)));
    if (!prefix) return nullptr;
    void* data = AllocateZeroedBlock(static_cast<size_t>(bytes));
    if (!data) {
        FreeBlock(prefix);
        return nullptr;
    }
    prefix->mark = kArrayMark;
    prefix->vt = vt;
    auto* array = reinterpret_cast<SAFEARRAY*>(prefix + 1);
    array->cDims = 1;
    array->fFeatures = ArrayFeatures(vt);
    array->cbElements = size;
    array->cLocks = 0;
    array->pvData = LowAddress(data);
    array->rgsabound[0] = bounds[0];
    return array;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt) {
    ArrayPrefix* prefix = PrefixOf(array);
    if (!prefix || !vt) return E_INVALIDARG;
    *vt = static_cast<VARTYPE>(prefix->vt);
    return S_OK;
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
    ArrayPrefix* prefix = PrefixOf(array);
    if (!prefix) return E_INVALIDARG;
    char* data = FromLowAddress<char>(array->pvData);
    const uint32_t count = array->rgsabound[0].cElements;
    for (uint32_t i = 0; data && i < count; ++i) {
        char* element = data + static_cast<size_t>(i) * array->cbElements;
        uint32_t word;
        switch (prefix->vt) {
            case VT_BSTR:
                std::memcpy(&word, element, 4);
                SysFreeString(FromLowAddress<char16_t>(word));
                break;
            case VT_DISPATCH:
            case VT_UNKNOWN:
                std::memcpy(&word, element, 4);
                if (word) FromLowAddress<IUnknown>(word)->Release();
                break;
            case VT_VARIANT: VariantClear(reinterpret_cast<VARIANT*>(element)); break;
            default: break;
        }
    }
    prefix->mark = 0;
    FreeBlock(data);
    FreeBlock(prefix);
    return S_OK;
}

// --- dates --------------------------------------------------------------------------

int SystemTimeToVariantTime(const SYSTEMTIME* time, double* date) {
    if (!time || !date) return 0;
    if (time->wYear < 100 || time->wYear > 9999 || time->wMonth < 1 || time->wMonth > 12 || time->wDay < 1 ||
        time->wDay > DaysInMonth(time->wYear, time->wMonth) || time->wHour > 23 || time->wMinute > 59 ||
        time->wSecond > 59 || time->wMilliseconds > 999)
        return 0;
    const int64_t day = DaysFromCivil(time->wYear, time->wMonth, time->wDay) - kEpochDays;
    const int64_t milliseconds =
        ((time->wHour * 60 + time->wMinute) * 60 + time->wSecond) * int64_t{1000} + time->wMilliseconds;
    const double fraction = static_cast<double>(milliseconds) / kMillisecondsPerDay;
    *date = day >= 0 ? static_cast<double>(day) + fraction : static_cast<double>(day) - fraction;
    return 1;
}

int VariantTimeToSystemTime(double date, SYSTEMTIME* time) {
    if (!time || !(date > kFirstDate - 1.0) || !(date < kLastDate)) return 0;
    double whole;
    const double fraction = std::fabs(std::modf(date, &whole));
    int64_t day = static_cast<int64_t>(whole);
    int64_t milliseconds = std::llround(fraction * kMillisecondsPerDay);
    if (milliseconds >= 86400000) {
        milliseconds -= 86400000;
        ++day;
    }
    // A negative date's day before 0 with a fraction: day is the calendar day.
    const int64_t days = day + kEpochDays;
    int64_t year;
    unsigned month, dayOfMonth;
    CivilFromDays(days, &year, &month, &dayOfMonth);
    if (year < 100 || year > 9999) return 0;
    time->wYear = static_cast<uint16_t>(year);
    time->wMonth = static_cast<uint16_t>(month);
    time->wDay = static_cast<uint16_t>(dayOfMonth);
    time->wDayOfWeek = static_cast<uint16_t>(((days % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday
    time->wHour = static_cast<uint16_t>(milliseconds / 3600000);
    time->wMinute = static_cast<uint16_t>(milliseconds / 60000 % 60);
    time->wSecond = static_cast<uint16_t>(milliseconds / 1000 % 60);
    time->wMilliseconds = static_cast<uint16_t>(milliseconds % 1000);
    return 1;
}

}  // namespace qob::platform

namespace qob::platform {

// Interface identifiers of this object model.
const IID IID_IUnknown{0x51B00000, 0x0000, 0x4000, {0x8A, 0x00, 0x51, 0x0B, 0x00, 0x00, 0x00, 0x01}};
const IID IID_IClassFactory{0x51B00000, 0x0000, 0x4000, {0x8A, 0x00, 0x51, 0x0B, 0x00, 0x00, 0x00, 0x02}};
const IID IID_IDispatch{0x51B00000, 0x0000, 0x4000, {0x8A, 0x00, 0x51, 0x0B, 0x00, 0x00, 0x00, 0x03}};
const IID IID_ITypeInfo{0x51B00000, 0x0000, 0x4000, {0x8A, 0x00, 0x51, 0x0B, 0x00, 0x00, 0x00, 0x04}};
const IID IID_ITypeLib{0x51B00000, 0x0000, 0x4000, {0x8A, 0x00, 0x51, 0x0B, 0x00, 0x00, 0x00, 0x05}};
const IID IID_IConnectionPointContainer{0x51B00000, 0x0000, 0x4000, {0x8A, 0x00, 0x51, 0x0B, 0x00, 0x00, 0x00, 0x06}};
const IID IID_IConnectionPoint{0x51B00000, 0x0000, 0x4000, {0x8A, 0x00, 0x51, 0x0B, 0x00, 0x00, 0x00, 0x07}};
const IID IID_IEnumConnectionPoints{0x51B00000, 0x0000, 0x4000, {0x8A, 0x00, 0x51, 0x0B, 0x00, 0x00, 0x00, 0x08}};

}  // namespace qob::platform
