// windows/com/com_variants.cpp
// VARIANT conversion both ways, the member-call road and COMERROR%.
#include "windows/com/com_variants.h"

#include <cmath>
#include <cstring>

#include "builtins/operators/operator_values.h"
#include "platform/memory.h"
#include "platform/text_codec.h"
#include "runtime/data/number_text.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/values/number_rules.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"

namespace qob {

using namespace platform;

namespace {

// Default members are followed at most this deep.
constexpr int kMaxDefaultDepth = 8;

bool IsArrayElement(VARTYPE element) { return element == 0 || (element >= 2 && element <= 13) || element == 17; }

int64_t Truncate(double number) {
    if (!(number == number)) return 0;
    if (number >= 9.2233720368547758e18) return INT64_MAX;
    if (number <= -9.2233720368547758e18) return INT64_MIN;
    return static_cast<int64_t>(number);
}

uint32_t AddressOf(const StackEntry* entry) { return static_cast<uint32_t>(StackEntryInteger(entry)); }

BSTR EntryBstr(const StackEntry* entry) {
    if (entry->text && (entry->flags & kEntryWide) && !(entry->flags & kEntryMatrix))
        return SysAllocString(reinterpret_cast<const char16_t*>(entry->text));
    const char* text = StackEntryString(entry);
    return AnsiToBstr(text ? text : "");
}

void ConvertEntry(StackEntry* entry, VARTYPE type, ComArgumentBlock* block, int32_t j) {
    VARIANT& v = block->variants[j];
    v.vt = type;
    const VARTYPE base = type & VT_TYPEMASK;
    if (type & VT_BYREF) {
        if (type == (VT_BYREF | VT_VARIANT)) {
            auto* target = static_cast<VARIANT*>(AllocateZeroedBlock(sizeof(VARIANT)));
            v.word = LowAddress(target);
            return;
        }
        if (type == (VT_BYREF | VT_DATE)) {
            // A temporary DATE from the SYSTEMTIME at the address, written back after the call.
            auto* date = static_cast<double*>(AllocateZeroedBlock(sizeof(double)));
            const uint32_t address = AddressOf(entry);
            if (date && address) SystemTimeToVariantTime(FromLowAddress<SYSTEMTIME>(address), date);
            v.word = LowAddress(date);
            if (block->dateTargets) block->dateTargets[j] = address;
            return;
        }
        if (type & VT_ARRAY) {
            v.word = IsArrayElement(base) ? static_cast<uint32_t>(Truncate(StackEntryNumber(entry))) : 0;
            return;
        }
        switch (base) {
            case VT_BOOL: {
                const uint32_t address = AddressOf(entry);
                if (address) {
                    auto* word = FromLowAddress<uint32_t>(address);
                    *word = *word != 0 ? 0xFFFFu : 0u;
                }
                v.word = address;
                return;
            }
            case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_BSTR: case VT_DISPATCH:
            case VT_ERROR: case VT_UNKNOWN: case VT_UI1: case VT_USERDEFINED:
                v.word = AddressOf(entry);
                return;
            default: v.llVal = 0; return;
        }
    }
    if (type & VT_ARRAY) {
        v.word = IsArrayElement(base) ? static_cast<uint32_t>(Truncate(StackEntryNumber(entry))) : 0;
        return;
    }
    const double number = type == VT_BSTR || type == VT_VARIANT ? 0.0 : StackEntryNumber(entry);
    switch (type) {
        case VT_UI1: v.bVal = static_cast<uint8_t>(Truncate(number)); break;
        case VT_I2: v.iVal = static_cast<int16_t>(Truncate(number)); break;
        case VT_I4: case VT_DISPATCH: case VT_ERROR: case VT_UNKNOWN:
            v.lVal = static_cast<int32_t>(static_cast<uint32_t>(Truncate(number)));
            break;
        case VT_BOOL: v.boolVal = number != 0.0 ? VARIANT_TRUE : VARIANT_FALSE; break;
        case VT_R4: v.fltVal = static_cast<float>(number); break;
        case VT_R8: v.dblVal = number; break;
        case VT_CY: v.cyVal = Truncate(number); break;
        case VT_DATE: {
            const uint32_t address = AddressOf(entry);
            v.date = 0.0;
            if (address) SystemTimeToVariantTime(FromLowAddress<SYSTEMTIME>(address), &v.date);
            break;
        }
        case VT_BSTR: v.word = LowAddress(EntryBstr(entry)); break;
        case VT_VARIANT:
            if (entry->text && !(entry->flags & kEntryMatrix)) {
                SetVariantPointer(&v, VT_BSTR, EntryBstr(entry));
            } else {
                const double value = entry->value;
                if (value == std::trunc(value) && value >= -2147483648.0 && value <= 2147483647.0) {
                    v.vt = VT_I4;
                    v.lVal = static_cast<int32_t>(value);
                } else {
                    v.vt = VT_R8;
                    v.dblVal = value;
                }
            }
            break;
        default: v.llVal = 0; break;
    }
}

double ByRefValue(const VARIANT* variant) {
    const VARTYPE base = variant->vt & VT_TYPEMASK;
    const void* address = FromLowAddress<void>(variant->word);
    if (!address) return 0.0;
    if (variant->vt & VT_ARRAY) {
        uint32_t word;
        std::memcpy(&word, address, 4);
        return static_cast<double>(word);
    }
    switch (base) {
        case VT_UI1: return *static_cast<const uint8_t*>(address);
        case VT_I2: case VT_BOOL: return *static_cast<const int16_t*>(address);
        case VT_I4: case VT_ERROR: return *static_cast<const int32_t*>(address);
        case VT_R4: return *static_cast<const float*>(address);
        case VT_R8: case VT_DATE: return *static_cast<const double*>(address);
        case VT_CY: return static_cast<double>(*static_cast<const int64_t*>(address));
        case VT_DISPATCH: case VT_UNKNOWN: return *static_cast<const uint32_t*>(address);
        case VT_BSTR: {
            char* copy = BstrToTrackedText(FromLowAddress<char16_t>(*static_cast<const uint32_t*>(address)), true);
            return static_cast<double>(LowAddress(copy));
        }
        case VT_VARIANT: return VariantToStackValue(static_cast<const VARIANT*>(address));
        default: return 0.0;
    }
}

ComValue PushableWrapper(ComObjectWrapper* wrapper) { return ComValue{static_cast<double>(LowAddress(wrapper)), nullptr}; }

// The IUnknown identity of an object (its reference released at once), or null.
IUnknown* IdentityOf(IUnknown* object) {
    IUnknown* identity = nullptr;
    if (!object || FAILED(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)))) return nullptr;
    identity->Release();
    return identity;
}

}  // namespace

int32_t StackValueToVariant(StackEntry* first, int32_t argumentCount, ComObjectWrapper* wrapper, int32_t index,
                            ComArgumentBlock* block) {
    *block = ComArgumentBlock{};
    if (index < 0 || index >= wrapper->memberCount) return 0;
    const ComMember& member = wrapper->members[index];
    const int32_t count = member.parameterCount > 0 ? member.parameterCount : 0;
    block->count = count;
    if (count == 0) return 0;
    block->variants = static_cast<VARIANT*>(AllocateZeroedBlock(sizeof(VARIANT) * static_cast<size_t>(count)));
    block->scratch = static_cast<VARIANT*>(AllocateZeroedBlock(sizeof(VARIANT) * static_cast<size_t>(count)));
    block->dateTargets = static_cast<uint32_t*>(AllocateZeroedBlock(sizeof(uint32_t) * static_cast<size_t>(count)));
    if (!block->variants || !block->scratch || !block->dateTargets) {
        FreeComArguments(block);
        return 0;
    }
    StackEntry* entry = first;
    for (int32_t j = 0; j < count; ++j) {
        const bool present = j < argumentCount && entry;
        VARTYPE type = member.parameterTypes ? member.parameterTypes[j] : VT_EMPTY;
        if (present && entry->typeTag != 0) {
            type = static_cast<VARTYPE>(entry->typeTag);
            entry->typeTag = 0;
        }
        if (type == VT_NULL || !present) {
            block->variants[j].vt = VT_ERROR;
            block->variants[j].scode = DISP_E_PARAMNOTFOUND;
        } else {
            ConvertEntry(entry, type, block, j);
        }
        block->scratch[j] = block->variants[j];
        if (entry && j + 1 < argumentCount) entry = entry->above;
    }
    return count;
}

void FreeComArguments(ComArgumentBlock* block) {
    for (int32_t j = 0; block->scratch && j < block->count; ++j) {
        VARIANT& v = block->scratch[j];
        if (v.vt == VT_BSTR) {
            SysFreeString(VariantBstr(v));
        } else if (v.vt == (VT_BYREF | VT_VARIANT)) {
            if (auto* target = VariantReference<VARIANT>(v)) {
                VariantClear(target);
                FreeBlock(target);
            }
        } else if (v.vt == (VT_BYREF | VT_DATE)) {
            auto* date = VariantReference<double>(v);
            const uint32_t address = block->dateTargets ? block->dateTargets[j] : 0;
            if (date && address) VariantTimeToSystemTime(*date, FromLowAddress<SYSTEMTIME>(address));
            FreeBlock(date);
        }
    }
    FreeBlock(block->variants);
    FreeBlock(block->scratch);
    FreeBlock(block->dateTargets);
    *block = ComArgumentBlock{};
}

double VariantToStackValue(const VARIANT* variant) {
    if (!variant) return 0.0;
    const VARTYPE vt = variant->vt;
    if (vt & VT_BYREF) return ByRefValue(variant);
    if (vt & VT_ARRAY) return IsArrayElement(vt & VT_TYPEMASK) ? static_cast<double>(variant->word) : 0.0;
    switch (vt) {
        case VT_UI1: return variant->bVal;
        case VT_I2: return variant->iVal;
        case VT_I4: return variant->lVal;
        case VT_R4: return variant->fltVal;
        case VT_R8: case VT_DATE: return variant->dblVal;
        case VT_CY: return static_cast<double>(variant->cyVal);
        case VT_BOOL: return std::abs(static_cast<int>(variant->boolVal));
        case VT_BSTR: case VT_DISPATCH: case VT_VARIANT: case VT_UNKNOWN: return static_cast<double>(variant->word);
        case VT_ERROR: return variant->scode;
        default: return 0.0;
    }
}

char* BstrToTrackedText(BSTR text, bool track) {
    const std::u16string_view view = BstrView(text);
    const std::span<const uint16_t> units{reinterpret_cast<const uint16_t*>(view.data()), view.size()};
    const size_t bytes = EncodeAnsi(units, {});
    auto* copy = static_cast<char*>(AllocateBlock(bytes + 1));
    if (!copy) return nullptr;
    EncodeAnsi(units, {copy, bytes});
    copy[bytes] = '\0';
    if (track) TrackAllocation(CurrentContext, copy, 0, kTrackedBlock);
    return copy;
}

double NewSystemTimeBlock(double date) {
    auto* time = static_cast<SYSTEMTIME*>(AllocateZeroedBlock(sizeof(SYSTEMTIME)));
    if (!time) return 0.0;
    VariantTimeToSystemTime(date, time);
    TrackAllocation(CurrentContext, time, 0, kTrackedBlock);
    return static_cast<double>(LowAddress(time));
}

void PushComValue(const ComValue& value) {
    if (value.text)
        PushTextResult(value.text, false);
    else
        PushNumberResult(value.number);
}

ComValue ComResultValue(VARIANT* result) {
    if (!result) return {};
    switch (result->vt) {
        case VT_BSTR: return ComValue{0.0, BstrToTrackedText(VariantBstr(*result), false)};
        case VT_DATE: return ComValue{NewSystemTimeBlock(result->date), nullptr};
        case VT_DISPATCH: {
            ComObjectWrapper* wrapper = NewComObjectWrapper(CurrentContext);
            if (!wrapper) return {};
            AttachComObject(wrapper, VariantDispatch(*result));
            return PushableWrapper(wrapper);
        }
        default: return ComValue{VariantToStackValue(result), nullptr};
    }
}

namespace {

ComValue CallComMemberPathAt(ComObjectWrapper* wrapper, int32_t index, int32_t argumentCount, StackEntry* first,
                             int flag, int depth) {
    ComArgumentBlock block;
    StackValueToVariant(first, argumentCount, wrapper, index, &block);
    VARIANT* result = nullptr;
    if (index >= 0 && index < wrapper->memberCount && SUCCEEDED(ComDispatchInvoke(wrapper, index, block.scratch)))
        result = wrapper->members[index].result;
    SetComError(wrapper, wrapper->lastResult);
    ComValue value;
    if (result && result->vt == VT_DISPATCH) {
        ComObjectWrapper* object = NewComObjectWrapper(CurrentContext);
        if (object) {
            AttachComObject(object, VariantDispatch(*result));
            const int32_t defaultMember = FindComMemberById(object, 0, 2);
            const bool follow = argumentCount > 0 && defaultMember >= 0 &&
                                (!flag || object->members[defaultMember].resultType == VT_PTR);
            // An object whose default member gives itself, or a chain deeper
            // than a few levels, ends here with the object.
            const bool same = IdentityOf(object->dispatch) == IdentityOf(wrapper->dispatch);
            if (follow && !same && depth < kMaxDefaultDepth) {
                FreeComArguments(&block);
                value = CallComMemberPathAt(object, defaultMember, argumentCount, first, flag, depth + 1);
                DeleteComObjectWrapper(object);
                return value;
            }
            value = PushableWrapper(object);
        }
    } else {
        value = ComResultValue(result);
    }
    FreeComArguments(&block);
    return value;
}

}  // namespace

ComValue CallComMemberPath(ComObjectWrapper* wrapper, int32_t index, int32_t argumentCount, StackEntry* first,
                           int flag) {
    return CallComMemberPathAt(wrapper, index, argumentCount, first, flag, 0);
}

namespace {

// The two records, found once per constant list (as the machine keeps ERROR%).
struct ComErrorConstants {
    VariableRecord* listHead = nullptr;
    VariableRecord* error = nullptr;
    VariableRecord* description = nullptr;
};
ComErrorConstants gComErrorConstants;

VariableRecord* FindOrDeclare(const char* name) {
    VariableRecord* record = ConstantList ? FindNamedItem(ConstantList, name) : nullptr;
    return record ? record : DeclareVariable(name, nullptr, 0.0, nullptr, 0);
}

// A record holding nothing to free is cleared by writing its number.
void ClearConstant(ProgramContext* context, VariableRecord* record) {
    if (record->data || record->flags || record->currentNode || record->type) ClearVariable(context, record, false, false);
}

}  // namespace

void SetComError(const ComObjectWrapper* wrapper, HRESULT result) {
    ProgramContext* context = CurrentContext;
    ComErrorConstants& known = gComErrorConstants;
    if (known.listHead != ConstantList || !known.error || !known.description) {
        known.error = FindOrDeclare("COMERROR%");
        known.description = FindOrDeclare("COMERRORDESC%");
        // Records made outside the constant list are not kept.
        known.listHead = known.error && known.description && ConstantList &&
                                 FindNamedItem(ConstantList, "COMERROR%") == known.error &&
                                 FindNamedItem(ConstantList, "COMERRORDESC%") == known.description
                             ? ConstantList
                             : nullptr;
    }
    VariableRecord* error = known.error;
    if (error) {
        ClearConstant(context, error);
        SetVariableValue(error, nullptr, wrapper ? static_cast<double>(result) : 0.0, nullptr, 0);
    }
    VariableRecord* description = known.description;
    if (!known.listHead) known.error = known.description = nullptr;
    if (!description) return;
    ClearConstant(context, description);
    description->value = 0.0;
    if (wrapper && wrapper->exception && wrapper->exception->bstrDescription) {
        const std::string text = BstrToAnsi(wrapper->exception->bstrDescription);
        SetVariableValue(description, text.c_str(), 0.0, nullptr, static_cast<int64_t>(text.size() + 1));
    }
}

}  // namespace qob
