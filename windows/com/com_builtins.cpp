// windows/com/com_builtins.cpp
// The COM built-ins. None raises a run-time error: failures push 0 and leave
// their HRESULT in COMERROR% (1 for a missing member or an address that is
// no live wrapper).
#include "windows/com/com_builtins.h"

#include <cstring>
#include <string>
#include <vector>

#include "builtins/operators/operator_values.h"
#include "platform/memory.h"
#include "platform/registry.h"
#include "platform/text_codec.h"
#include "runtime/data/number_text.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/registry/native_libraries.h"
#include "runtime/values/list_values.h"
#include "runtime/values/objects.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "windows/com/com_variants.h"

namespace qob {

using namespace platform;

namespace {

// --- arguments ---------------------------------------------------------------------------

// A name or text argument: its 8-bit text, or a number written as text.
std::string TextArgument(const StackEntry& cell) {
    if (const char* text = NarrowOperandText(cell)) return text;
    char number[kNumberTextSize];
    FormatNumber(cell.value, number);
    return number;
}

std::u16string WideArgument(const StackEntry& cell) {
    const std::vector<uint16_t> units = DecodeAnsi(TextArgument(cell));
    return std::u16string(units.begin(), units.end());
}

uint32_t AddressArgument(const StackEntry& cell) {
    const double number = OperandNumber(cell);
    return number >= 0.0 && number < 4294967296.0 ? static_cast<uint32_t>(number) : 0;
}

ComObjectWrapper* WrapperArgument(const StackEntry& cell) { return FindLiveComObjectWrapper(OperandNumber(cell)); }

// What a number that is no live wrapper reports: an empty wrapper's missing member.
void ReportNoWrapper() {
    ComObjectWrapper empty{};
    empty.lastResult = 1;
    SetComError(&empty, 1);
}

void ReportMissingMember(ComObjectWrapper* wrapper) {
    wrapper->lastResult = 1;
    SetComError(wrapper, 1);
}

// The cell of argument i of a frame (0 the first).
StackEntry* FrameCell(const FrameArguments& arguments, int64_t i) {
    StackEntry* cell = arguments.saved;
    for (int64_t k = 0; k <= i; ++k) cell = cell->above;
    return cell;
}

// --- list variables -------------------------------------------------------------------------

VariableRecord* VariableArgument(const StackEntry& cell) {
    VariableRecord* variable = TargetVariable(cell);
    while (variable && variable->reference) variable = variable->reference;
    return variable;
}

void MakeEmptyList(VariableRecord* list) {
    ReleaseVariable(CurrentContext, list, false, false);
    list->flags |= kVarList;
    list->currentNode = nullptr;
}

void AppendItem(VariableRecord* list, const std::string* text, double value) {
    ListNode* node = ListAppend(list->currentNode);
    if (!node) return;
    list->currentNode = node;
    if (!text) {
        FillNewListItem(list, nullptr, value, 0);
        return;
    }
    char* copy = CopyValueBlock(text->c_str(), text->size() + 1);
    if (!copy) {
        FillNewListItem(list, nullptr, 0.0, 0);
        return;
    }
    RegisterValueBlock(copy);
    FillNewListItem(list, copy, 0.0, kVarOwnsData);
}

void ShowFirstItem(VariableRecord* list) {
    if (!list->currentNode) return;
    list->currentNode = ListFirst(list->currentNode);
    LoadListElement(list);
}

// COMMethods and COMProperties: the names of the members of one invoke kind.
void ListMembers(uint16_t kind) {
    StackEntry listCell = TakeOperand();
    StackEntry objectCell = TakeOperand();
    VariableRecord* list = VariableArgument(listCell);
    ComObjectWrapper* wrapper = WrapperArgument(objectCell);
    int64_t count = 0;
    if (list) MakeEmptyList(list);
    if (!wrapper) {
        ReportNoWrapper();
    } else if (list) {
        for (int32_t i = 0; i < wrapper->memberCount; ++i) {
            if (wrapper->members[i].invokeKind != kind) continue;
            const std::string name = BstrToAnsi(wrapper->members[i].name);
            AppendItem(list, &name, 0.0);
            ++count;
        }
        ShowFirstItem(list);
    }
    ReleaseOperand(listCell);
    ReleaseOperand(objectCell);
    PushNumberResult(static_cast<double>(count));
}

// --- the class list -------------------------------------------------------------------------

std::span<const uint16_t> Units(std::u16string_view text) {
    return {reinterpret_cast<const uint16_t*>(text.data()), text.size()};
}

bool HasSubkey(HKEY key, std::u16string_view name) {
    HKEY sub = nullptr;
    if (RegOpenKeyExW(key, Units(name), &sub) != ERROR_SUCCESS) return false;
    RegCloseKey(sub);
    return true;
}

// The default value of a sub-key as 8-bit text, read into a buffer of
// capacity bytes; false unless it is REG_SZ and fits.
bool ReadDefault(HKEY key, std::u16string_view name, uint32_t capacity, std::string* text) {
    HKEY sub = nullptr;
    if (RegOpenKeyExW(key, Units(name), &sub) != ERROR_SUCCESS) return false;
    std::vector<uint16_t> buffer(capacity / 2 + 1, 0);
    uint32_t type = 0, size = capacity;
    const bool read = RegQueryValueExW(sub, {}, &type, reinterpret_cast<uint8_t*>(buffer.data()), &size) ==
                          ERROR_SUCCESS && type == REG_SZ;
    RegCloseKey(sub);
    if (!read) return false;
    size_t length = 0;
    while (length < size / 2 && buffer[length]) ++length;
    *text = EncodeAnsi(std::span<const uint16_t>(buffer.data(), length));
    return true;
}

int64_t ListClasses(VariableRecord* list, int64_t mode) {
    HKEY classes = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, Units(u"CLSID"), &classes) != ERROR_SUCCESS) return 0;
    int64_t count = 0;
    for (uint32_t index = 0;; ++index) {
        uint16_t name[261];
        uint32_t length = 261;
        if (RegEnumKeyExW(classes, index, name, &length) != ERROR_SUCCESS) break;
        HKEY entry = nullptr;
        if (RegOpenKeyExW(classes, {name, length}, &entry) != ERROR_SUCCESS) continue;
        bool considered = mode == -1;
        if (!considered) {
            const bool control = HasSubkey(entry, u"InprocServer32") && HasSubkey(entry, u"ProgID") &&
                                 (HasSubkey(entry, u"Control") || HasSubkey(entry, u"ToolboxBitmap32"));
            considered = mode == (control ? 1 : 0);
        }
        std::string server, progId;
        if (considered && ReadDefault(entry, u"InprocServer32", 520, &server) &&
            ReadDefault(entry, u"ProgID", 160, &progId)) {
            const std::string item = progId + "," + server;
            if (list) AppendItem(list, &item, 0.0);
            ++count;
        }
        RegCloseKey(entry);
    }
    RegCloseKey(classes);
    return count;
}

// --- results of Invoke ------------------------------------------------------------------------

// A by-reference VARIANT argument's value into the variable the argument came from.
void WriteBack(const StackEntry& cell, VARIANT* value) {
    VariableRecord* variable = TargetVariable(cell);
    if (!variable) return;
    if (value->vt == VT_BSTR) {
        const std::string text = BstrToAnsi(VariantBstr(*value));
        SetVariableValue(variable, text.c_str(), 0.0, nullptr, static_cast<int64_t>(text.size() + 1));
        variable->flags &= ~kVarWideText;
    } else if (value->vt == VT_DATE) {
        StoreNumber(variable, NewSystemTimeBlock(value->date), nullptr);
    } else {
        StoreNumber(variable, VariantToStackValue(value), nullptr);
    }
}

}  // namespace

void Builtin_CreateCOMObject() {
    StackEntry nameCell = TakeOperand();
    const std::u16string name = WideArgument(nameCell);
    ReleaseOperand(nameCell);
    ComObjectWrapper* wrapper = NewComObjectWrapper(CurrentContext);
    if (!wrapper) {
        PushNumberResult(0.0);
        return;
    }
    CLSID clsid{};
    HRESULT found = CLSIDFromProgID(name.c_str(), &clsid);
    if (FAILED(found)) found = CLSIDFromString(name.c_str(), &clsid);
    int created = 0;
    if (FAILED(found))
        wrapper->lastResult = found;
    else
        created = CreateComObject(wrapper, clsid, kComClassContext);
    SetPendingTypeLib(nullptr);
    SetComError(wrapper, wrapper->lastResult);
    if (!created) {
        DeleteComObjectWrapper(wrapper);
        PushNumberResult(0.0);
        return;
    }
    PushNumberResult(static_cast<double>(LowAddress(wrapper)));
}

void Builtin_CreateCOMObjectFrom() {
    StackEntry pointerCell = TakeOperand();
    const uint32_t address = AddressArgument(pointerCell);
    ReleaseOperand(pointerCell);
    ComObjectWrapper* wrapper = NewComObjectWrapper(CurrentContext);
    if (!wrapper) {
        PushNumberResult(0.0);
        return;
    }
    // Only an object of this process's low memory can be an IDispatch here.
    IDispatch* dispatch = address && GetContainingBlock(FromLowAddress<void>(address)) ? FromLowAddress<IDispatch>(address) : nullptr;
    const int attached = AttachComObject(wrapper, dispatch);
    if (!dispatch) wrapper->lastResult = address ? E_POINTER : 0;
    SetComError(wrapper, wrapper->lastResult);
    if (!wrapper->dispatch) {
        DeleteComObjectWrapper(wrapper);
        PushNumberResult(0.0);
        return;
    }
    (void)attached;
    PushNumberResult(static_cast<double>(LowAddress(wrapper)));
}

void Builtin_FreeCOMObject() {
    const FrameArguments arguments = CloseFrameArguments();
    for (int64_t i = 0; i < arguments.count; ++i) {
        ComObjectWrapper* wrapper = WrapperArgument(*FrameCell(arguments, i));
        // A wrapper an ActiveX site owns is freed with its site.
        if (!wrapper || wrapper->ownerSite) continue;
        DeleteComObjectWrapper(wrapper);
        ForgetTrackedObject(CurrentContext, wrapper);
    }
    DropFrameArguments(arguments);
}

void Builtin_GetProperty() {
    const FrameArguments arguments = CloseFrameArguments();
    ComValue value;
    ComObjectWrapper* wrapper = arguments.count >= 1 ? WrapperArgument(*FrameCell(arguments, 0)) : nullptr;
    if (!wrapper) {
        ReportNoWrapper();
    } else {
        const std::string name = arguments.count >= 2 ? TextArgument(*FrameCell(arguments, 1)) : std::string();
        const int32_t index = FindComMember(wrapper, name.c_str(), 2);
        if (index < 0) {
            ReportMissingMember(wrapper);
        } else {
            const int32_t count = static_cast<int32_t>(arguments.count > 2 ? arguments.count - 2 : 0);
            value = CallComMemberPath(wrapper, index, count, count ? FrameCell(arguments, 2) : nullptr, 1);
        }
    }
    DropFrameArguments(arguments);
    PushComValue(value);
}

void Builtin_SetProperty() {
    const FrameArguments arguments = CloseFrameArguments();
    double result = 0.0;
    ComObjectWrapper* wrapper = arguments.count >= 1 ? WrapperArgument(*FrameCell(arguments, 0)) : nullptr;
    if (!wrapper) {
        ReportNoWrapper();
    } else {
        const std::string name = arguments.count >= 2 ? TextArgument(*FrameCell(arguments, 1)) : std::string();
        const int32_t index = FindComMember(wrapper, name.c_str(), 4);
        if (index < 0) {
            ReportMissingMember(wrapper);
        } else {
            const int32_t count = static_cast<int32_t>(arguments.count > 2 ? arguments.count - 2 : 0);
            ComArgumentBlock block;
            StackValueToVariant(count ? FrameCell(arguments, 2) : nullptr, count, wrapper, index, &block);
            result = PutComProperty(wrapper, name.c_str(), block.scratch);
            SetComError(wrapper, wrapper->lastResult);
            FreeComArguments(&block);
        }
    }
    DropFrameArguments(arguments);
    PushNumberResult(result);
}

void Builtin_Invoke() {
    const FrameArguments arguments = CloseFrameArguments();
    ComValue value;
    ComObjectWrapper* wrapper = arguments.count >= 1 ? WrapperArgument(*FrameCell(arguments, 0)) : nullptr;
    if (!wrapper) {
        ReportNoWrapper();
    } else {
        const std::string name = arguments.count >= 2 ? TextArgument(*FrameCell(arguments, 1)) : std::string();
        const int32_t index = FindComMember(wrapper, name.c_str(), 1);
        if (index < 0) {
            ReportMissingMember(wrapper);
        } else {
            const int32_t count = static_cast<int32_t>(arguments.count > 2 ? arguments.count - 2 : 0);
            ComArgumentBlock block;
            StackValueToVariant(count ? FrameCell(arguments, 2) : nullptr, count, wrapper, index, &block);
            const HRESULT result = ComDispatchInvoke(wrapper, index, block.scratch);
            for (int32_t j = 0; j < block.count && j < count; ++j) {
                VARIANT& argument = block.scratch[j];
                if (argument.vt != (VT_BYREF | VT_VARIANT)) continue;
                auto* target = VariantReference<VARIANT>(argument);
                if (target) {
                    WriteBack(*FrameCell(arguments, 2 + j), target);
                    VariantClear(target);
                    FreeBlock(target);
                }
                argument.vt = VT_EMPTY;
            }
            VARIANT* returned = wrapper->members[index].result;
            if (SUCCEEDED(result) && returned && returned->vt != VT_EMPTY) value = ComResultValue(returned);
            SetComError(wrapper, wrapper->lastResult);
            FreeComArguments(&block);
        }
    }
    DropFrameArguments(arguments);
    PushComValue(value);
}

void Builtin_QueryInterface() {
    StackEntry nameCell = TakeOperand();
    StackEntry objectCell = TakeOperand();
    ComObjectWrapper* wrapper = WrapperArgument(objectCell);
    IUnknown* found = nullptr;
    if (!wrapper) {
        ReportNoWrapper();
    } else {
        found = QueryComInterface(wrapper, WideArgument(nameCell).c_str());
        SetComError(wrapper, wrapper->lastResult);
    }
    ReleaseOperand(nameCell);
    ReleaseOperand(objectCell);
    PushNumberResult(static_cast<double>(LowAddress(found)));
}

void Builtin_Dispatch() {
    StackEntry objectCell = TakeOperand();
    ComObjectWrapper* wrapper = WrapperArgument(objectCell);
    ReleaseOperand(objectCell);
    if (!wrapper) {
        ReportNoWrapper();
        PushNumberResult(0.0);
        return;
    }
    SetComError(wrapper, wrapper->lastResult);
    PushNumberResult(static_cast<double>(LowAddress(wrapper->dispatch)));
}

void Builtin_COMLoadTypeLib() {
    StackEntry fileCell = TakeOperand();
    const std::u16string path = WideArgument(fileCell);
    ReleaseOperand(fileCell);
    ITypeLib* library = nullptr;
    if (FAILED(LoadTypeLib(path.c_str(), &library)) || !library) {
        PushNumberResult(0.0);
        return;
    }
    SetPendingTypeLib(library);
    PushNumberResult(1.0);
}

void Builtin_RegisterDLL() {
    StackEntry fileCell = TakeOperand();
    const std::string path = TextArgument(fileCell);
    ReleaseOperand(fileCell);
    void* library = LoadNativeLibrary(path);
    auto entry = library ? reinterpret_cast<DllRegisterServerFunction>(ResolveNativeExport(library, "DllRegisterServer"))
                         : nullptr;
    PushNumberResult(entry && entry() == S_OK ? 1.0 : 0.0);
}

void Builtin_COMMethods() { ListMembers(1); }

void Builtin_COMProperties() { ListMembers(2); }

void Builtin_COMInfo() {
    StackEntry listCell = TakeOperand();
    StackEntry infoCell = TakeOperand();
    StackEntry nameCell = TakeOperand();
    StackEntry objectCell = TakeOperand();
    VariableRecord* list = VariableArgument(listCell);
    if (list) MakeEmptyList(list);
    VariableRecord* information = VariableArgument(infoCell);
    ComObjectWrapper* wrapper = WrapperArgument(objectCell);
    if (!wrapper) {
        ReportNoWrapper();
    } else {
        const std::string name = TextArgument(nameCell);
        int32_t index = FindComMember(wrapper, name.c_str(), 2);
        if (index < 0) index = FindComMember(wrapper, name.c_str(), 1);
        if (index < 0) {
            ReportMissingMember(wrapper);
        } else {
            const ComMember& member = wrapper->members[index];
            if (information) {
                auto* block = static_cast<int32_t*>(AllocateZeroedBlock(16));
                if (block) {
                    block[0] = member.dispid;
                    block[1] = member.invokeKind;
                    block[2] = member.resultType;
                    block[3] = member.parameterCount;
                    // The variable owns a copy, freed with its value.
                    SetVariableString(information, block, 16, true);
                    FreeBlock(block);
                }
            }
            for (int32_t p = 0; list && p < member.parameterCount && member.parameterTypes; ++p)
                AppendItem(list, nullptr, member.parameterTypes[p]);
            if (list) ShowFirstItem(list);
            SetComError(wrapper, wrapper->lastResult);
        }
    }
    ReleaseOperand(listCell);
    ReleaseOperand(infoCell);
    ReleaseOperand(nameCell);
    ReleaseOperand(objectCell);
}

void Builtin_COMObjects() {
    StackEntry modeCell = TakeOperand();
    StackEntry listCell = TakeOperand();
    const int64_t mode = static_cast<int64_t>(OperandNumber(modeCell));
    VariableRecord* list = VariableArgument(listCell);
    if (list) MakeEmptyList(list);
    const int64_t count = ListClasses(list, mode);
    if (list) ShowFirstItem(list);
    ReleaseOperand(modeCell);
    ReleaseOperand(listCell);
    PushNumberResult(static_cast<double>(count));
}

void Builtin_SafeArray() {
    const FrameArguments arguments = CloseFrameArguments();
    SAFEARRAY* array = nullptr;
    if (arguments.count >= 1) {
        const auto type = static_cast<VARTYPE>(static_cast<int64_t>(OperandNumber(*FrameCell(arguments, 0))));
        const SAFEARRAYBOUND bound{static_cast<uint32_t>(arguments.count - 1), 0};
        array = SafeArrayCreate(type, 1, &bound);
        char* data = array ? static_cast<char*>(SafeArrayData(array)) : nullptr;
        for (uint32_t i = 0; data && i < bound.cElements; ++i) {
            const StackEntry& cell = *FrameCell(arguments, 1 + i);
            if (type == VT_BSTR) {
                const uint32_t word = LowAddress(AnsiToBstr(TextArgument(cell)));
                std::memcpy(data + 4 * i, &word, 4);
            } else if (type == VT_UI1) {
                data[i] = static_cast<char>(static_cast<uint8_t>(static_cast<int64_t>(OperandNumber(cell))));
            }
        }
    }
    DropFrameArguments(arguments);
    PushNumberResult(static_cast<double>(LowAddress(array)));
}

void Builtin_SafeArrayDestroy() {
    const FrameArguments arguments = CloseFrameArguments();
    for (int64_t i = 0; i < arguments.count; ++i)
        if (const uint32_t address = AddressArgument(*FrameCell(arguments, i)))
            SafeArrayDestroy(FromLowAddress<SAFEARRAY>(address));
    DropFrameArguments(arguments);
}

void Builtin_T() {
    const auto tag = static_cast<uint16_t>(static_cast<int64_t>(PopNumber()));
    // The value stays where it is, as the result, with its tag.
    StackEntry* value = CurrentContext->stackTop;
    if (value && value->below) value->typeTag = static_cast<int16_t>(tag);
}

void Builtin_VariantType() {
    StackEntry value = TakeOperand();
    const double tag = static_cast<uint16_t>(value.typeTag);
    ReleaseOperand(value);
    PushNumberResult(tag);
}

}  // namespace qob
