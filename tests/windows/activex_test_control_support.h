// tests/windows/activex_test_control_support.h
// QOB.TestControl and its variants, the controls the ActiveX tests host: an
// in-place window of its own class that raises the stock mouse and key
// events from stylus and key input, a method that fires any event, a custom
// event of three arguments, a view that fills its rectangle with its colour,
// a document-object mode, and a ledger of the site calls it received and of
// the references to the site it holds.
#pragma once

#include <atomic>
#include <span>
#include <string>
#include <vector>

#include "platform/com.h"

namespace qob::testing {

// The variants: each its own class and ProgID.
enum class ControlKind { Plain, Invisible, SiteFirst, Document };

struct ControlClass {
    ControlKind kind;
    const char16_t* progId;
    platform::CLSID clsid;
    uint32_t miscStatus;
};
[[nodiscard]] std::span<const ControlClass> TestControlClasses();

// Member ids of the control's dispatch interface and of its event interface.
enum TestControlMember : platform::DISPID {
    kControlColor = 1, kControlCaption, kControlValue, kControlExtentWidth, kControlExtentHeight,
    kControlActivations, kControlRaise = 10,
};
constexpr platform::DISPID kCustomEvent = 1;
extern const platform::IID kTestControlEventsIid;

// What a control saw: the calls of its host ("SetClientSite", "DoVerb -5",
// "SetExtent 2540 1270", "SetObjectRects 10 20 110 70", ...) in order, and
// the references to the host's interfaces it holds now and took in all.
struct ControlLedger {
    std::vector<std::string> calls;
    int siteReferencesHeld = 0;
    int siteReferencesTaken = 0;
    int inPlaceActivations = 0;
    int draws = 0;
};

// Test controls alive now.
extern std::atomic<int> LiveTestControls;

// The ledger of the test control behind an interface (null when it is none).
[[nodiscard]] ControlLedger* TestControlLedger(platform::IUnknown* control);
// Whether a ledger holds a call that starts with the text.
[[nodiscard]] bool LedgerHas(const ControlLedger& ledger, std::string_view call);
// Fires an event of the control with arguments in call order; how many sinks took it.
int FireTestControlEvent(platform::IUnknown* control, platform::DISPID id, std::span<const platform::VARIANT> arguments);
// The control's colour (a COLORREF), which its view and window paint.
[[nodiscard]] uint32_t TestControlColour(platform::IUnknown* control);

platform::IClassFactory* NewTestControlFactory(ControlKind kind);

// Enters every variant in the registry (builtin:<ProgID>, with a Control key)
// and their factories in the built-in table.
void RegisterTestControlClasses();
// The same with a library's path as the server.
platform::HRESULT RegisterTestControlServer(std::u16string_view path);

}  // namespace qob::testing
