// tests/windows/activex/activex_builtins_test.cpp
// The ActiveX built-ins and the event sink: events from input and from the
// control with stated arguments, the procedure's result and the value stack,
// drawing in pixels, the ledgers of references, the variants of the test
// control, classes that are no control, handles that are no live control,
// and the end of the owning context.
#include "windows/activex/activex_builtins.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "activex_fixture.h"
#include "platform/gdi.h"
#include "platform/input.h"
#include "platform/memory.h"
#include "platform/window_manager.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/vm.h"
#include "windows/activex/activex_event_sink.h"
#include "windows/com/com_object_wrapper.h"
#include "windows/com_test_object_support.h"

namespace qob {
namespace {

using namespace platform;
using testing::ActiveXTest;
using testing::ControlLedger;

// Prints what it gets: for a stock event its message and values, for any
// other the DISPID, the count and the doubles of the block.
constexpr const char* kEventProcedures = R"(
FORCELINK FUNC onevent(w$, m$, wp$, lp$, c$)
  S$ = "";
  IF (m$ < 256 OR m$ > 520)
    i$ = 0;
    WHILE (i$ < lp$)
      S$ = S$ + " " + getdouble(wp$ + 8 * i$);
      i$ = i$ + 1;
    END;
    showmessage("event ", m$, " count ", lp$, ":", S$, " window ", w$ == ActiveXWnd(c$));
  ELSE
    showmessage("message ", m$, " ", wp$, " ", lp$, " window ", w$ == ActiveXWnd(c$));
  END;
  RETURN(0);
END;
FORCELINK FUNC answer(w$, m$, wp$, lp$, c$) RETURN(m$ + 1000); END;
FORCELINK FUNC three(w$, m$, wp$) RETURN(m$ + 2000); END;
FORCELINK PROC quiet(w$, m$, wp$, lp$, c$) showmessage("quiet ", m$); END;
FORCELINK FUNC seven(a$, b$, c$, d$, e$, f$, g$) showmessage("seven ", b$, " ", f$, " ", g$); RETURN(7); END;
FORCELINK FUNC block(w$, m$, wp$, lp$, c$) showmessage(wp$, " ", getdouble(wp$ + 8)); RETURN(0); END;
FORCELINK FUNC freeing(w$, m$, wp$, lp$, c$) FreeActiveX(c$); showmessage("freed in ", m$); RETURN(0); END;
)";

// The node after a procedure's start: inside it, no start of its own.
Instruction* NodeAfter(Instruction* start) { return start->next; }

VARIANT Short(int16_t value) {
    VARIANT v{};
    v.vt = VT_I2;
    v.iVal = value;
    return v;
}
VARIANT Long(int32_t value) {
    VARIANT v{};
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}
VARIANT Double(double value) {
    VARIANT v{};
    v.vt = VT_R8;
    v.dblVal = value;
    return v;
}
VARIANT Reference(VARTYPE vt, void* target) {
    VARIANT v{};
    SetVariantPointer(&v, static_cast<VARTYPE>(VT_BYREF | vt), target);
    return v;
}

class ActiveXBuiltinsTest : public ActiveXTest {
  protected:
    void SetUp() override {
        ActiveXTest::SetUp();
        application = Load(kEventProcedures);
        form = NewForm();
        // Targets of by-reference arguments must live in low memory.
        targets = static_cast<int32_t*>(AllocateZeroedBlock(16));
    }
    void TearDown() override {
        FreeBlock(targets);
        ActiveXTest::TearDown();
    }

    double PlaceControl(const char* progId = "QOB.TestControl", const char* procedure = "onevent") {
        return Place(form, progId, 10, 20, 100, 50, procedure ? Procedure(application, procedure) : nullptr);
    }

    ProgramContext* application = nullptr;
    HWND form = 0;
    int32_t* targets = nullptr;
};

TEST_F(ActiveXBuiltinsTest, InputOnTheControlsWindowReachesTheEventProcedure) {
    const double handle = PlaceControl();
    ActiveXSite* site = SiteOf(handle);
    ASSERT_NE(site, nullptr);
    ASSERT_NE(site->controlWindow, 0u);
    EXPECT_EQ(GetFocus(), site->controlWindow) << "the control window has the focus";
    RECT rect{};
    GetWindowRect(site->controlWindow, &rect);
    EXPECT_EQ(rect.right - rect.left, 100);
    EXPECT_EQ(rect.bottom - rect.top, 50);
    Output();
    struct Case {
        const char* name;
        std::function<void()> input;
        std::string expected;
    };
    const int x = rect.left, y = rect.top;
    const Case cases[] = {
        {"press", [&] { InjectStylus(x + 20, y + 14, StylusAction::Down); }, "message 513 0 917524 window 1\n"},
        {"move", [&] { InjectStylus(x + 30, y + 16, StylusAction::Move); }, "message 512 0 1048606 window 1\n"},
        {"release", [&] { InjectStylus(x + 30, y + 16, StylusAction::Up); }, "message 514 0 1048606 window 1\n"},
        {"key", [&] { InjectKey(65); },
         "message 256 65 0 window 1\nevent -603 count 1: 97 window 1\nmessage 257 65 0 window 1\n"},
    };
    for (const Case& c : cases) {
        c.input();
        Pump();
        EXPECT_EQ(Output(), c.expected) << c.name;
    }
    Free({handle});
}

TEST_F(ActiveXBuiltinsTest, EventsWithStatedArgumentsReachTheProcedureWithItsFiveArguments) {
    const double handle = PlaceControl();
    ActiveXSite* site = SiteOf(handle);
    ASSERT_NE(site, nullptr);
    IUnknown* control = site->control;
    struct Case {
        const char* name;
        DISPID id;
        std::vector<VARIANT> arguments;  // call order
        std::string expected;
    };
    targets[0] = 0x1341;  // KeyCode by reference, 32 bits: low byte 0x41
    reinterpret_cast<int16_t*>(targets)[2] = 66;
    const Case cases[] = {
        {"move at (10, 20)", DISPID_MOUSEMOVE, {Short(0), Short(0), Long(10), Long(20)}, "message 512 0 1310730"},
        {"down, button 1", DISPID_MOUSEDOWN, {Short(1), Short(0), Long(1), Long(2)}, "message 513 0 131073"},
        {"down, button 2", DISPID_MOUSEDOWN, {Short(2), Short(1), Long(1), Long(2)}, "message 516 1 131073"},
        {"down, button 4", DISPID_MOUSEDOWN, {Short(4), Short(2), Long(1), Long(2)}, "message 519 2 131073"},
        {"up, button 1", DISPID_MOUSEUP, {Short(1), Short(0), Long(3), Long(4)}, "message 514 0 262147"},
        {"up, button 2", DISPID_MOUSEUP, {Short(2), Short(0), Long(3), Long(4)}, "message 517 0 262147"},
        {"up, button 4", DISPID_MOUSEUP, {Short(4), Short(0), Long(3), Long(4)}, "message 520 0 262147"},
        {"down, button 3 runs nothing", DISPID_MOUSEDOWN, {Short(3), Short(0), Long(1), Long(2)}, ""},
        {"up, button 8 runs nothing", DISPID_MOUSEUP, {Short(8), Short(0), Long(1), Long(2)}, ""},
        {"negative x keeps its low 16 bits", DISPID_MOUSEMOVE, {Short(0), Short(0), Long(-1), Long(2)},
         "message 512 0 196607"},
        {"doubles are truncated", DISPID_MOUSEMOVE, {Short(0), Short(0), Double(10.9), Double(20.2)},
         "message 512 0 1310730"},
        {"key down, KeyCode by value (16 bits)", DISPID_KEYDOWN, {Short(0x141), Short(1)}, "message 256 65 1"},
        {"key down, KeyCode by value (32 bits)", DISPID_KEYDOWN, {Long(0x7042), Short(0)}, "message 256 66 0"},
        {"key up, KeyCode by reference (32 bits)", DISPID_KEYUP, {Reference(VT_I4, &targets[0]), Short(-1)},
         "message 257 65 -1"},
        {"key up, KeyCode by reference (16 bits)", DISPID_KEYUP,
         {Reference(VT_I2, reinterpret_cast<int16_t*>(targets) + 2), Short(4)}, "message 257 66 4"},
        {"key down, too few arguments", DISPID_KEYDOWN, {Short(65)}, "event -602 count 1: 65"},
        {"mouse down, too few arguments", DISPID_MOUSEDOWN, {Short(1), Short(0), Long(7)}, "event -605 count 3: 1 0 7"},
        {"mouse down, a button that is no number", DISPID_MOUSEDOWN,
         {Reference(VT_I4, &targets[0]), Short(0), Long(1), Long(2)}, "event -605 count 4: 4929 0 1 2"},
        {"key down, KeyCode of another type", DISPID_KEYDOWN, {Double(65), Short(0)}, "event -602 count 2: 65 0"},
        {"custom event of three arguments", testing::kCustomEvent, {Double(1.0), Double(2.5), Double(7.0)},
         "event 1 count 3: 1 2.5 7"},
        {"event without arguments", 77, {}, "event 77 count 0:"},
        {"key press", DISPID_KEYPRESS, {Reference(VT_I4, &targets[0])}, "event -603 count 1: 4929"},
    };
    Output();
    for (const Case& c : cases) {
        EXPECT_EQ(testing::FireTestControlEvent(control, c.id, c.arguments), 1) << c.name;
        EXPECT_EQ(Output(), c.expected.empty() ? "" : c.expected + " window 1\n") << c.name;
    }
    Free({handle});
}

TEST_F(ActiveXBuiltinsTest, TheBlockOfACustomEventLivesAsLongAsTheProceduresRun) {
    const double handle = PlaceControl("QOB.TestControl", "block");
    ActiveXSite* site = SiteOf(handle);
    ASSERT_NE(site, nullptr);
    Output();
    const VARIANT arguments[2] = {Double(1.5), Double(-3)};
    EXPECT_EQ(testing::FireTestControlEvent(site->control, 9, arguments), 1);
    const std::string printed = Output();
    const size_t space = printed.find(' ');
    ASSERT_NE(space, std::string::npos) << printed;
    EXPECT_EQ(printed.substr(space), " -3\n") << "the values were there while it ran";
    const auto address = static_cast<uintptr_t>(std::stod(printed.substr(0, space)));
    ASSERT_NE(address, 0u);
    EXPECT_EQ(GetBlockSize(reinterpret_cast<void*>(address)), 0u) << "and the block is freed when it returns";
    Free({handle});
}

TEST_F(ActiveXBuiltinsTest, TheSinkAnswersTheProceduresResultAndLeavesTheStackAsItFoundIt) {
    struct Case {
        const char* procedure;
        HRESULT expected;
        std::string output;
    };
    const Case cases[] = {
        {"answer", 1001, ""},          // a function's result, as the HRESULT
        {"three", 2000, ""},           // three parameters take the last three values: m$ is lParam, 0
        {"quiet", S_OK, "quiet 1\n"},  // a PROC leaves nothing: S_OK
        {"seven", 7, "seven 1 0 0\n"}, // parameters beyond five get 0
    };
    for (const Case& c : cases) {
        const double handle = PlaceControl("QOB.TestControl", c.procedure);
        ActiveXSite* site = SiteOf(handle);
        ASSERT_NE(site, nullptr) << c.procedure;
        auto* sink = new ActiveXEventSink(site, testing::kTestControlEventsIid);
        sink->AddRef();
        Output();
        StackEntry* const top = application->stackTop;
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        const HRESULT result = sink->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
        EXPECT_EQ(result, c.expected) << c.procedure;
        EXPECT_EQ(application->stackTop, top) << c.procedure << ": the stack top is back at its mark";
        EXPECT_EQ(Output(), c.output) << c.procedure;
        sink->Release();
        Free({handle});
    }
}

TEST_F(ActiveXBuiltinsTest, APropertyRequestToTheSinkGivesNotImplementedAndRunsNothing) {
    const double handle = PlaceControl();
    ActiveXSite* site = SiteOf(handle);
    ASSERT_NE(site, nullptr);
    auto* sink = new ActiveXEventSink(site, testing::kTestControlEventsIid);
    sink->AddRef();
    Output();
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    for (uint16_t flags : {DISPATCH_PROPERTYGET, DISPATCH_PROPERTYPUT, DISPATCH_PROPERTYPUTREF,
                           static_cast<uint16_t>(DISPATCH_METHOD | DISPATCH_PROPERTYGET)})
        EXPECT_EQ(sink->Invoke(1, IID_NULL, 0, flags, &none, nullptr, nullptr, nullptr), E_NOTIMPL) << flags;
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(sink->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(Output(), "event 1 count 0: window 1\n");
    // The sink's own interfaces.
    void* object = nullptr;
    for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, &testing::kTestControlEventsIid}) {
        EXPECT_EQ(sink->QueryInterface(*iid, &object), S_OK);
        EXPECT_EQ(object, static_cast<IDispatch*>(sink));
        sink->Release();
    }
    EXPECT_EQ(sink->QueryInterface(IID_IOleObject, &object), E_NOINTERFACE);
    EXPECT_EQ(sink->QueryInterface(IID_IDispatch, nullptr), E_FAIL);
    uint32_t count = 0;
    EXPECT_EQ(sink->GetTypeInfoCount(&count), E_NOTIMPL);
    sink->Release();
    Free({handle});
}

TEST_F(ActiveXBuiltinsTest, AProcedureValueThatIsNoProcedureStartNeverRuns) {
    const double handle = Place(form, "QOB.TestControl", 10, 20, 100, 50,
                                NodeAfter(Procedure(application, "onevent")));
    ActiveXSite* site = SiteOf(handle);
    ASSERT_NE(site, nullptr);
    EXPECT_EQ(site->eventProcedure, nullptr);
    Output();
    const VARIANT none[1] = {Double(1)};
    EXPECT_EQ(testing::FireTestControlEvent(site->control, 1, none), 1) << "the sink answers S_OK";
    EXPECT_EQ(Output(), "");
    Free({handle});
}

// ActiveXDraw's rule: the control window's client rectangle gets a dotted XOR
// frame (every pixel of the one-pixel edge is the background or its
// inverse, with both kinds along each side), and inside it the control's
// view paints its colour.
TEST_F(ActiveXBuiltinsTest, ActiveXDrawPaintsTheControlInsideADottedFrame) {
    const double handle = PlaceControl();
    ActiveXSite* site = SiteOf(handle);
    ASSERT_NE(site, nullptr);
    const HWND window = site->controlWindow;
    RECT client{};
    GetClientRect(window, &client);
    ASSERT_EQ(client.right, 100);
    ASSERT_EQ(client.bottom, 50);
    constexpr COLORREF kBackground = RGB(255, 255, 255);
    HDC dc = GetDC(window);
    const HBRUSH white = CreateSolidBrush(kBackground);
    FillRect(dc, &client, white);
    DeleteObject(white);
    ReleaseDC(window, dc);

    Ask([] { Builtin_ActiveXDraw(); PushNumber(0); }, handle);
    const COLORREF colour = testing::TestControlColour(site->control);
    dc = GetDC(window);
    int inside = 0, wrong = 0;
    for (int y = 1; y < client.bottom - 1; ++y)
        for (int x = 1; x < client.right - 1; ++x) {
            ++inside;
            if (GetPixel(dc, x, y) != colour) ++wrong;
        }
    EXPECT_EQ(wrong, 0) << "of " << inside << " pixels inside the frame";
    // Each side of the frame: background and inverted pixels, nothing else.
    auto side = [&](int x0, int y0, int dx, int dy, int length) {
        int inverted = 0, kept = 0, other = 0;
        for (int i = 0; i < length; ++i) {
            const COLORREF pixel = GetPixel(dc, x0 + dx * i, y0 + dy * i);
            if (pixel == kBackground) ++kept;
            else if (pixel == (~kBackground & 0xFFFFFF)) ++inverted;
            else ++other;
        }
        return inverted > 0 && kept > 0 && other == 0;
    };
    EXPECT_TRUE(side(0, 0, 1, 0, client.right)) << "top";
    EXPECT_TRUE(side(0, client.bottom - 1, 1, 0, client.right)) << "bottom";
    EXPECT_TRUE(side(0, 0, 0, 1, client.bottom)) << "left";
    EXPECT_TRUE(side(client.right - 1, 0, 0, 1, client.bottom)) << "right";
    ReleaseDC(window, dc);
    ControlLedger* ledger = testing::TestControlLedger(site->control);
    EXPECT_EQ(ledger->draws, 1);
    EXPECT_TRUE(testing::LedgerHas(*ledger, "Draw 0 0 100 50"));
    Free({handle});
}

TEST_F(ActiveXBuiltinsTest, ActiveXDrawOfAControlWithoutAWindowOrOfNoControlDrawsNothing) {
    const double invisible = PlaceControl("QOB.TestControlInvisible");
    ActiveXSite* site = SiteOf(invisible);
    ASSERT_NE(site, nullptr);
    ASSERT_NE(site->viewObject, nullptr);
    EXPECT_EQ(site->controlWindow, 0u);
    const double freed = PlaceControl();
    Free({freed});
    ComposeScreen();
    const Surface32& screen = ScreenSurface();
    const std::vector<uint32_t> baseline(screen.pixels, screen.pixels + screen.stride * screen.height);
    for (double handle : {invisible, freed, 0.0, 12345.0}) {
        PushNumber(handle);
        Builtin_ActiveXDraw();
    }
    ComposeScreen();
    EXPECT_TRUE(std::equal(baseline.begin(), baseline.end(), ScreenSurface().pixels)) << "the screen is untouched";
    EXPECT_EQ(testing::TestControlLedger(site->control)->draws, 0);
    Free({invisible});
}

TEST_F(ActiveXBuiltinsTest, FreeActiveXReleasesEveryReferenceEachControlWasGivenAndFreesBothSites) {
    const double first = PlaceControl();
    const double second = PlaceControl("QOB.TestControlSiteFirst");
    ASSERT_NE(first, 0.0);
    ASSERT_NE(second, 0.0);
    ASSERT_NE(first, second);
    // The test keeps each control alive past its site to read its ledger.
    IUnknown* controls[] = {SiteOf(first)->control, SiteOf(second)->control};
    for (IUnknown* control : controls) control->AddRef();
    const int sites = CountAllocatedActiveXSites();
    Free({first, 0, second});
    EXPECT_EQ(CountAllocatedActiveXSites(), sites - 2) << "both sites are freed";
    EXPECT_EQ(CountLiveActiveXSites(), 0);
    for (IUnknown* control : controls) {
        const ControlLedger* ledger = testing::TestControlLedger(control);
        ASSERT_NE(ledger, nullptr);
        EXPECT_GE(ledger->siteReferencesTaken, 4) << "client site, advise sink, in-place site, frame";
        EXPECT_EQ(ledger->siteReferencesHeld, 0) << "every reference to the site was given back";
        for (const char* call : {"InPlaceDeactivate", "UIDeactivate", "Unadvise 7", "DoVerb -3", "Close 1",
                                 "SetClientSite null"})
            EXPECT_TRUE(testing::LedgerHas(*ledger, call)) << call;
        control->Release();
    }
    EXPECT_EQ(testing::LiveTestControls.load(), startControls) << "both controls are destroyed";
}

TEST_F(ActiveXBuiltinsTest, TheStepsOfActiveXReachTheControlInOrder) {
    struct Case {
        const char* progId;
        std::vector<std::string> calls;  // the ledger up to the placement
    };
    const SIZE extent = PixelsToHimetric(SIZE{100, 50});
    const std::string setExtent = "SetExtent " + std::to_string(extent.cx) + " " + std::to_string(extent.cy);
    RECT client{};
    GetClientRect(form, &client);
    const std::string area = "SetObjectRects 0 0 " + std::to_string(client.right) + " " + std::to_string(client.bottom);
    const Case cases[] = {
        {"QOB.TestControl",
         {"Advise", "SetHostNames OLEClass", "SetContainedObject 1", "Run", "InitNew", "SetClientSite",
          "UserMode true", area, "DoVerb -5", "DoVerb -1", setExtent, "SetObjectRects 10 20 110 70"}},
        {"QOB.TestControlSiteFirst",
         {"Advise", "SetHostNames OLEClass", "SetContainedObject 1", "Run", "SetClientSite", "UserMode true",
          "InitNew", area, "DoVerb -5", "DoVerb -1", setExtent, "SetObjectRects 10 20 110 70"}},
        {"QOB.TestControlInvisible",
         {"Advise", "SetHostNames OLEClass", "SetContainedObject 1", "Run", "InitNew", "SetClientSite",
          "UserMode true", setExtent, "SetObjectRects 10 20 110 70"}},
    };
    for (const Case& c : cases) {
        const double handle = PlaceControl(c.progId);
        ActiveXSite* site = SiteOf(handle);
        ASSERT_NE(site, nullptr) << c.progId;
        EXPECT_EQ(testing::TestControlLedger(site->control)->calls, c.calls) << c.progId;
        Free({handle});
    }
}

TEST_F(ActiveXBuiltinsTest, TheInvisibleControlIsNeverActivatedInPlaceYetItsWrappersWork) {
    const double handle = PlaceControl("QOB.TestControlInvisible");
    ActiveXSite* site = SiteOf(handle);
    ASSERT_NE(site, nullptr);
    const ControlLedger* ledger = testing::TestControlLedger(site->control);
    EXPECT_EQ(ledger->inPlaceActivations, 0);
    EXPECT_FALSE(testing::LedgerHas(*ledger, "DoVerb"));
    EXPECT_EQ(Ask(Builtin_ActiveXWnd, handle), 0.0);
    auto* object = FindLiveComObjectWrapper(Ask(Builtin_ActiveXObject, handle));
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->ownerSite, site);
    VARIANT value = Double(4.25);
    EXPECT_EQ(PutComProperty(object, "value", &value), 1);
    EXPECT_GE(FindComMember(object, "raise", 1), 0);
    auto* events = FindLiveComObjectWrapper(Ask(Builtin_ActiveXEvents, handle));
    ASSERT_NE(events, nullptr);
    std::vector<std::string> names;
    for (int32_t i = 0; i < events->memberCount; ++i) names.push_back(BstrToAnsi(events->members[i].name));
    EXPECT_EQ(names, (std::vector<std::string>{"custom", "mousedown", "mousemove", "mouseup", "keydown", "keyup",
                                               "keypress"}));
    Output();
    const VARIANT arguments[3] = {Double(1), Double(2), Double(3)};
    EXPECT_EQ(testing::FireTestControlEvent(site->control, 1, arguments), 1);
    EXPECT_EQ(Output(), "event 1 count 3: 1 2 3 window 1\n") << "its window is 0, as ActiveXWnd says";
    Free({handle});
}

TEST_F(ActiveXBuiltinsTest, ActivationCyclesLeaveNoReferenceBehind) {
    const double handle = PlaceControl();
    ActiveXSite* site = SiteOf(handle);
    ASSERT_NE(site, nullptr);
    for (int cycle = 0; cycle < 3; ++cycle) {
        ASSERT_EQ(site->inPlaceObject->InPlaceDeactivate(), S_OK);
        EXPECT_EQ(site->activeObject, nullptr) << "cleared by SetActiveObject(null)";
        EXPECT_EQ(site->inPlaceActive, 0);
        ASSERT_EQ(site->oleObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site->clientSite, 0, form, nullptr), S_OK);
        EXPECT_NE(site->activeObject, nullptr);
        EXPECT_EQ(site->inPlaceActive, 1);
        EXPECT_EQ(site->uiActive, 1);
    }
    EXPECT_EQ(testing::TestControlLedger(site->control)->inPlaceActivations, 4);
    Free({handle});
    EXPECT_EQ(testing::LiveTestControls.load(), startControls) << "a leaked active-object reference keeps the control alive";
}

TEST_F(ActiveXBuiltinsTest, TheDocumentVariantActivatesThroughActivateMe) {
    const double handle = PlaceControl("QOB.TestControlDocument");
    ActiveXSite* site = SiteOf(handle);
    ASSERT_NE(site, nullptr);
    const ControlLedger* ledger = testing::TestControlLedger(site->control);
    for (const char* call : {"CreateView", "View SetInPlaceSite", "View UIActivate 1", "ActivateMe 0"})
        EXPECT_TRUE(testing::LedgerHas(*ledger, call)) << call;
    EXPECT_NE(site->documentView, nullptr);
    EXPECT_NE(site->controlWindow, 0u);
    EXPECT_EQ(ledger->inPlaceActivations, 1);
    Free({handle});
}

TEST_F(ActiveXBuiltinsTest, ASiteStillHeldByAControlOutlivesFreeActiveXAndIgnoresCalls) {
    const double handle = PlaceControl();
    ActiveXSite* site = SiteOf(handle);
    ASSERT_NE(site, nullptr);
    // What a control kept alive elsewhere might still hold.
    IOleInPlaceSite* kept = nullptr;
    ASSERT_EQ(site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&kept)), S_OK);
    const int sites = CountAllocatedActiveXSites();
    Free({handle});
    EXPECT_EQ(CountAllocatedActiveXSites(), sites) << "still referenced: not freed";
    EXPECT_EQ(CountLiveActiveXSites(), 0) << "but no longer a control of the program";
    EXPECT_EQ(Ask(Builtin_ActiveXWnd, handle), 0.0);
    HWND window = 1;
    EXPECT_EQ(kept->GetWindow(&window), S_OK);
    EXPECT_EQ(window, 0u) << "a torn-down site touches no window";
    const RECT moved{1, 2, 3, 4};
    EXPECT_EQ(kept->OnPosRectChange(&moved), S_OK);
    IOleInPlaceFrame* frame = nullptr;
    IOleInPlaceUIWindow* document = nullptr;
    RECT position{}, clip{};
    OLEINPLACEFRAMEINFO info{};
    EXPECT_EQ(kept->GetWindowContext(&frame, &document, &position, &clip, &info), S_OK);
    EXPECT_EQ(info.hwndFrame, 0u);
    frame->Release();
    document->Release();
    EXPECT_EQ(kept->Release(), 0u);
    EXPECT_EQ(CountAllocatedActiveXSites(), sites - 1) << "the last reference frees it";
}

TEST_F(ActiveXBuiltinsTest, NumbersThatAreNoLiveControlAreSkippedOrGiveZero) {
    const double handle = PlaceControl();
    ASSERT_NE(handle, 0.0);
    Free({handle});
    Free({handle, 0, handle, -1, 1e12});  // freed twice: nothing happens
    StackEntry* const top = CurrentContext->stackTop;
    for (double number : {handle, 0.0, 12345.0, -7.0}) {
        EXPECT_EQ(Ask(Builtin_ActiveXObject, number), 0.0) << number;
        EXPECT_EQ(Ask(Builtin_ActiveXEvents, number), 0.0) << number;
        EXPECT_EQ(Ask(Builtin_ActiveXWnd, number), 0.0) << number;
        PushNumber(number);
        for (int n : {1, 2, 3, 4}) PushNumber(n);
        Builtin_SetActiveXPos();
    }
    EXPECT_EQ(CurrentContext->stackTop, top) << "each built-in took exactly its arguments";
}

TEST_F(ActiveXBuiltinsTest, UnknownOrUncreatableClassesGiveZeroAndLeaveNothing) {
    ASSERT_EQ(RegisterComClass(CLSID{0x51B03000, 0x0009, 0x4000, {1, 2, 3, 4, 5, 6, 7, 8}}, u"QOB.Broken",
                               u"builtin:QOB.NoSuchFactory", true),
              S_OK);
    const int sites = CountAllocatedActiveXSites();
    for (const char* progId : {"No.Such.Control", "QOB.Broken", ""}) {
        EXPECT_EQ(PlaceControl(progId), 0.0) << progId;
        EXPECT_EQ(CountAllocatedActiveXSites(), sites) << progId;
    }
    EXPECT_EQ(CountLiveActiveXSites(), 0);
}

TEST_F(ActiveXBuiltinsTest, AClassThatIsNoControlIsHostedWithItsAutomationMembers) {
    testing::RegisterTestObjectClass();
    const int objects = testing::LiveTestObjects.load();
    const double handle = PlaceControl("QOB.TestObject");
    ASSERT_NE(handle, 0.0);
    ActiveXSite* site = SiteOf(handle);
    EXPECT_EQ(site->oleObject, nullptr);
    EXPECT_EQ(site->controlWindow, 0u);
    EXPECT_NE(site->eventConnectionPoint, nullptr) << "its events connect all the same";
    auto* object = FindLiveComObjectWrapper(Ask(Builtin_ActiveXObject, handle));
    ASSERT_NE(object, nullptr);
    VARIANT value = Long(42);
    EXPECT_EQ(PutComProperty(object, "count", &value), 1);
    const VARIANT* count = InvokeComMethod(object, "count", nullptr);
    ASSERT_NE(count, nullptr);
    EXPECT_EQ(count->lVal, 42);
    auto* events = FindLiveComObjectWrapper(Ask(Builtin_ActiveXEvents, handle));
    ASSERT_NE(events, nullptr);
    ASSERT_EQ(events->memberCount, 1);
    EXPECT_EQ(BstrToAnsi(events->members[0].name), "changed");
    PushNumber(handle);
    Builtin_ActiveXDraw();  // no window: nothing
    Free({handle});
    EXPECT_EQ(testing::LiveTestObjects.load(), objects) << "both instances are released";
}

TEST_F(ActiveXBuiltinsTest, AControlCanFreeItselfFromItsOwnEvent) {
    const double handle = PlaceControl("QOB.TestControl", "freeing");
    ActiveXSite* site = SiteOf(handle);
    ASSERT_NE(site, nullptr);
    IUnknown* control = site->control;
    control->AddRef();
    Output();
    const VARIANT arguments[1] = {Double(1)};
    EXPECT_EQ(testing::FireTestControlEvent(control, 1, arguments), 1);
    EXPECT_EQ(Output(), "freed in 1\n");
    EXPECT_EQ(CountLiveActiveXSites(), 0);
    EXPECT_EQ(testing::FireTestControlEvent(control, 1, arguments), 0) << "no sink is left";
    EXPECT_EQ(testing::TestControlLedger(control)->siteReferencesHeld, 0);
    control->Release();
}

TEST_F(ActiveXBuiltinsTest, TheEndOfTheOwningContextFreesItsControlsFirst) {
    const double handle = PlaceControl();
    ActiveXSite* site = SiteOf(handle);
    ASSERT_NE(site, nullptr);
    IUnknown* control = site->control;
    control->AddRef();
    EndProgramContext(application);
    EXPECT_EQ(CountLiveActiveXSites(), 0);
    Output();
    const VARIANT arguments[1] = {Double(1)};
    EXPECT_EQ(testing::FireTestControlEvent(control, 1, arguments), 0) << "no event can reach the ended program";
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(testing::TestControlLedger(control)->siteReferencesHeld, 0);
    control->Release();
    application = nullptr;
}

}  // namespace
}  // namespace qob
