// windows/activex/activex_event_sink.cpp
// The event sink of a hosted control and the call of the five-argument event
// procedure.
#include "windows/activex/activex_event_sink.h"

#include "platform/memory.h"
#include "runtime/data/number_text.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"
#include "windows/activex/activex_site.h"
#include "windows/com/com_variants.h"
#include "windows/event_calls.h"

namespace qob {

using namespace platform;

namespace {

bool IsPlainNumber(VARTYPE vt) {
    return vt == VT_I2 || vt == VT_I4 || vt == VT_UI1 || vt == VT_R4 || vt == VT_R8;
}

int32_t Truncated(const VARIANT& v) {
    return static_cast<int32_t>(static_cast<uint32_t>(TruncToInt64(VariantToStackValue(&v))));
}

// The argument of call position i (the control's VARIANTs come last first).
const VARIANT& Argument(const DISPPARAMS* params, uint32_t i) { return params->rgvarg[params->cArgs - 1 - i]; }

// A KeyCode: VT_I2 or VT_I4, by value or by reference.
bool ReadKeyCode(const VARIANT& v, int32_t* code) {
    switch (v.vt) {
        case VT_I2: *code = v.iVal; return true;
        case VT_I4: *code = v.lVal; return true;
        case VT_BYREF | VT_I2:
            if (const auto* target = VariantReference<int16_t>(v)) {
                *code = *target;
                return true;
            }
            return false;
        case VT_BYREF | VT_I4:
            if (const auto* target = VariantReference<int32_t>(v)) {
                *code = *target;
                return true;
            }
            return false;
        default: return false;
    }
}

bool TranslateMouse(DISPID member, const DISPPARAMS* params, ActiveXEventCall* call, bool* runs) {
    if (!params || !params->rgvarg || params->cArgs < 4) return false;
    for (uint32_t i = 0; i < 4; ++i)
        if (!IsPlainNumber(Argument(params, i).vt)) return false;
    const int32_t button = Truncated(Argument(params, 0));
    int32_t message = kEventMouseMove;
    if (member != DISPID_MOUSEMOVE) {
        const bool down = member == DISPID_MOUSEDOWN;
        switch (button) {
            case 1: message = down ? kEventLeftDown : kEventLeftUp; break;
            case 2: message = down ? kEventRightDown : kEventRightUp; break;
            case 4: message = down ? kEventMiddleDown : kEventMiddleUp; break;
            default: *runs = false; return true;
        }
    }
    const int32_t x = Truncated(Argument(params, 2));
    const int32_t y = Truncated(Argument(params, 3));
    const auto packed = static_cast<int32_t>((static_cast<uint32_t>(y) << 16) + (static_cast<uint32_t>(x) & 0xFFFF));
    call->values[1] = message;
    call->values[2] = Truncated(Argument(params, 1));
    call->values[3] = packed;
    return true;
}

bool TranslateKey(DISPID member, const DISPPARAMS* params, ActiveXEventCall* call) {
    if (!params || !params->rgvarg || params->cArgs < 2) return false;
    int32_t code = 0;
    if (!ReadKeyCode(Argument(params, 0), &code)) return false;
    const VARIANT& shift = Argument(params, 1);
    if (!IsPlainNumber(shift.vt)) return false;
    call->values[1] = member == DISPID_KEYDOWN ? kEventKeyDown : kEventKeyUp;
    call->values[2] = code & 0xFF;
    call->values[3] = static_cast<int16_t>(Truncated(shift));
    return true;
}

void TranslateGeneric(DISPID member, const DISPPARAMS* params, ActiveXEventCall* call) {
    call->values[1] = member;
    const uint32_t count = params && params->rgvarg ? params->cArgs : 0;
    if (count == 0) return;
    call->block = static_cast<double*>(AllocateZeroedBlock(sizeof(double) * count));
    if (!call->block) return;
    for (uint32_t i = 0; i < count; ++i) call->block[i] = VariantToStackValue(&Argument(params, i));
    call->values[2] = static_cast<double>(LowAddress(call->block));
    call->values[3] = count;
}

}  // namespace

bool TranslateActiveXEvent(const ActiveXSite* site, DISPID member, const DISPPARAMS* params, ActiveXEventCall* call) {
    call->values[0] = static_cast<double>(static_cast<uint32_t>(site->controlWindow));
    call->values[4] = static_cast<double>(LowAddress(site));
    bool runs = true;
    bool stock = false;
    switch (member) {
        case DISPID_MOUSEDOWN:
        case DISPID_MOUSEMOVE:
        case DISPID_MOUSEUP: stock = TranslateMouse(member, params, call, &runs); break;
        case DISPID_KEYDOWN:
        case DISPID_KEYUP: stock = TranslateKey(member, params, call); break;
        default: break;
    }
    if (!runs) return false;
    if (!stock) TranslateGeneric(member, params, call);
    return true;
}

HRESULT RunActiveXEventProcedure(ProgramContext* context, Instruction* procedure, const double values[5]) {
    if (!procedure || !IsLiveContext(context) || context->endPending || EndingContext == context) return S_OK;
    StackEntry* const mark = context->stackTop;
    const int32_t savedFrames = context->argumentFrame.count;
    const bool takesList = procedure->next && procedure->next->opcode == static_cast<uint32_t>(Opcode::NPARMS);
    // A procedure that takes its arguments as a list closes a frame of its own.
    if (takesList && !OpenArgumentFrame(context)) return S_OK;
    const int32_t parameters = takesList ? 0 : ProcedureParameterCount(procedure);
    for (int i = 0; i < 5; ++i) PushValueTo(context, nullptr, values[i], nullptr);
    for (int32_t extra = 5; extra < parameters; ++extra) PushValueTo(context, nullptr, 0, nullptr);
    // A result lies above what is left once the parameters have taken theirs.
    StackEntry* resultMark = mark;
    if (!takesList) {
        resultMark = context->stackTop;
        for (int32_t i = 0; i < parameters && resultMark->below; ++i) resultMark = resultMark->below;
    }
    EntryMode = 0;
    RunProcedureIn(context, procedure);
    if (!IsLiveContext(context)) return S_OK;
    if (procedure->extra) {
        FrameCacheRecord* free = procedure->extra->freeFrames;
        procedure->extra->cachedVariable = free ? free->frame : nullptr;
    }
    HRESULT result = S_OK;
    if (procedure->operand != 0.0 && StackEntryIsAbove(context->stackTop, resultMark))
        result = static_cast<HRESULT>(static_cast<uint32_t>(TruncToInt64(StackEntryNumber(context->stackTop))));
    context->stackTop = mark;
    context->argumentFrame.count = savedFrames;
    return result;
}

// --- the sink ---------------------------------------------------------------------------------

// The sink holds its site: a control that keeps the sink past FreeActiveX
// then reaches a detached site, never freed memory.
ActiveXEventSink::ActiveXEventSink(ActiveXSite* site, const IID& eventIid) : site_(site), eventIid_(eventIid) {
    if (site_) site_->AddRef();
}

ActiveXEventSink::~ActiveXEventSink() {
    if (site_) site_->Release();
}

HRESULT ActiveXEventSink::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_FAIL;
    if (iid == IID_IUnknown || iid == IID_IDispatch || (iidPresent_ && iid == eventIid_)) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

uint32_t ActiveXEventSink::AddRef() { return static_cast<uint32_t>(++referenceCount_); }

uint32_t ActiveXEventSink::Release() {
    int32_t count = referenceCount_.load();
    do {
        if (count < 1) return 0;
    } while (!referenceCount_.compare_exchange_weak(count, count - 1));
    if (count - 1 > 0) return static_cast<uint32_t>(count - 1);
    delete this;
    return 0;
}

HRESULT ActiveXEventSink::GetTypeInfoCount(uint32_t*) { return E_NOTIMPL; }
HRESULT ActiveXEventSink::GetTypeInfo(uint32_t, LCID, ITypeInfo**) { return E_NOTIMPL; }
HRESULT ActiveXEventSink::GetIDsOfNames(REFIID, char16_t**, uint32_t, LCID, DISPID*) { return E_NOTIMPL; }

HRESULT ActiveXEventSink::Invoke(DISPID member, REFIID, LCID, uint16_t flags, DISPPARAMS* params, VARIANT*,
                                 EXCEPINFO*, uint32_t*) {
    if (flags & (DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) return E_NOTIMPL;
    ActiveXSite* site = site_;
    if (!site || !site->eventProcedure || !site->context) return S_OK;
    // The procedure may free the control (and with it this sink's connection).
    AddRef();
    site->AddRef();
    ActiveXEventCall call;
    HRESULT result = S_OK;
    if (TranslateActiveXEvent(site, member, params, &call))
        result = RunActiveXEventProcedure(site->context, site->eventProcedure, call.values);
    // The block of a custom event lives as long as the procedure's run.
    if (call.block) FreeBlock(call.block);
    site->Release();
    Release();
    return result;
}

}  // namespace qob
