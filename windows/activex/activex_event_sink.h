// windows/activex/activex_event_sink.h
// The sink advised on a hosted control's event connection point: it turns
// the control's events into calls of the program's five-argument event
// procedure (control window, message or DISPID, two values, control).
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/com.h"

namespace qob {

class ActiveXSite;
struct Instruction;
struct ProgramContext;

// Window messages the stock mouse and key events become.
constexpr int32_t kEventKeyDown = 256;
constexpr int32_t kEventKeyUp = 257;
constexpr int32_t kEventMouseMove = 512;
constexpr int32_t kEventLeftDown = 513, kEventLeftUp = 514;
constexpr int32_t kEventRightDown = 516, kEventRightUp = 517;
constexpr int32_t kEventMiddleDown = 519, kEventMiddleUp = 520;

class ActiveXEventSink final : public platform::IDispatch {
  public:
    ActiveXEventSink(ActiveXSite* site, const platform::IID& eventIid);
    ActiveXEventSink(const ActiveXEventSink&) = delete;
    ActiveXEventSink& operator=(const ActiveXEventSink&) = delete;

    platform::HRESULT QueryInterface(platform::REFIID iid, void** object) override;
    uint32_t AddRef() override;
    uint32_t Release() override;
    platform::HRESULT GetTypeInfoCount(uint32_t* count) override;
    platform::HRESULT GetTypeInfo(uint32_t index, platform::LCID lcid, platform::ITypeInfo** info) override;
    platform::HRESULT GetIDsOfNames(platform::REFIID iid, char16_t** names, uint32_t count, platform::LCID lcid,
                                    platform::DISPID* ids) override;
    // Property requests give E_NOTIMPL; a method call runs the site's event
    // procedure (when the site has one and a context) and answers its result.
    platform::HRESULT Invoke(platform::DISPID member, platform::REFIID iid, platform::LCID lcid, uint16_t flags,
                             platform::DISPPARAMS* params, platform::VARIANT* result,
                             platform::EXCEPINFO* exception, uint32_t* argError) override;

    [[nodiscard]] uint32_t References() const { return static_cast<uint32_t>(referenceCount_.load()); }

  private:
    ~ActiveXEventSink();

    std::atomic<int32_t> referenceCount_{0};
    int32_t lockCount_ = 0;
    ActiveXSite* site_;
    platform::IID eventIid_;
    uint8_t iidPresent_ = 1;
};

// The five values an event hands the event procedure: window, message (or
// the DISPID), wParam, lParam, and the site's handle. A custom event's values
// go into a new block of doubles (low memory) that the caller frees after the
// procedure has run.
struct ActiveXEventCall {
    double values[5] = {};
    double* block = nullptr;
};
// False when the event runs nothing (a mouse button other than 1, 2 or 4).
// Stock events whose arguments are too few or of other types take the
// generic road (a block of doubles).
[[nodiscard]] bool TranslateActiveXEvent(const ActiveXSite* site, platform::DISPID member,
                                         const platform::DISPPARAMS* params, ActiveXEventCall* call);

// Runs a five-argument event procedure in its context: the value a function
// left above the arguments, as an integer; S_OK (0) for a procedure that
// returned nothing or could not run. The value stack is left as it was found.
platform::HRESULT RunActiveXEventProcedure(ProgramContext* context, Instruction* procedure, const double values[5]);

}  // namespace qob
