// tests/windows/activex/activex_site_test.cpp
// The container site: each interface's methods with given and null
// arguments, the ambient properties, ActivateMe and its references, the
// HIMETRIC conversion and the placement of a control.
#include "windows/activex/activex_site.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "activex_fixture.h"
#include "platform/gdi.h"
#include "platform/window_manager.h"

namespace qob {
namespace {

using namespace platform;
using testing::ActiveXTest;

// Something a method writes through, filled with a mark first.
void* const kMark = reinterpret_cast<void*>(uintptr_t{0x5A5A5A5A});

// A counted object standing for what a control hands its site.
class CountedObject : public IOleInPlaceActiveObject, public IOleInPlaceObject, public IOleDocumentView {
  public:
    int references = 1;
    int accelerators = 0;
    std::vector<std::string> calls;
    IOleInPlaceSite* site = nullptr;

    HRESULT QueryInterface(REFIID, void** object) override {
        if (object) *object = nullptr;
        return E_NOINTERFACE;
    }
    uint32_t AddRef() override { return static_cast<uint32_t>(++references); }
    uint32_t Release() override { return static_cast<uint32_t>(--references); }
    HRESULT GetWindow(HWND*) override { return E_NOTIMPL; }
    HRESULT ContextSensitiveHelp(int32_t) override { return E_NOTIMPL; }
    HRESULT TranslateAccelerator(MSG*) override {
        ++accelerators;
        return S_OK;
    }
    HRESULT OnFrameWindowActivate(int32_t) override { return S_OK; }
    HRESULT OnDocWindowActivate(int32_t) override { return S_OK; }
    HRESULT ResizeBorder(const RECT*, IOleInPlaceUIWindow*, int32_t) override { return S_OK; }
    HRESULT EnableModeless(int32_t) override { return S_OK; }
    HRESULT InPlaceDeactivate() override { return S_OK; }
    HRESULT UIDeactivate() override { return S_OK; }
    HRESULT SetObjectRects(const RECT* position, const RECT* clip) override {
        calls.push_back("rects " + std::to_string(position->left) + " " + std::to_string(position->top) + " " +
                        std::to_string(position->right) + " " + std::to_string(position->bottom) +
                        (position == clip ? " same" : " other"));
        return S_OK;
    }
    HRESULT ReactivateAndUndo() override { return S_OK; }
    HRESULT SetInPlaceSite(IOleInPlaceSite* given) override {
        calls.push_back("site");
        site = given;
        return S_OK;
    }
    HRESULT GetInPlaceSite(IOleInPlaceSite**) override { return E_NOTIMPL; }
    HRESULT GetDocument(IUnknown**) override { return E_NOTIMPL; }
    HRESULT SetRect(RECT*) override { return S_OK; }
    HRESULT GetRect(RECT*) override { return S_OK; }
    HRESULT SetRectComplex(RECT*, RECT*, RECT*, RECT*) override { return S_OK; }
    HRESULT Show(int32_t) override { return S_OK; }
    HRESULT UIActivate(int32_t activate) override {
        calls.push_back("ui " + std::to_string(activate));
        return S_OK;
    }
    HRESULT Open() override { return S_OK; }
    HRESULT CloseView(uint32_t) override { return S_OK; }
    HRESULT SaveViewState(IStream*) override { return S_OK; }
    HRESULT ApplyViewState(IStream*) override { return S_OK; }
    HRESULT Clone(IOleInPlaceSite*, IOleDocumentView**) override { return E_NOTIMPL; }
};

class SiteTest : public ActiveXTest {
  protected:
    void SetUp() override {
        ActiveXTest::SetUp();
        application = Load("PROC nothing END;");
        form = NewForm();
        site = new ActiveXSite();
        ActiveXSiteInit(site, form, application, nullptr);
        site->AddRef();  // the test's own reference
    }
    void TearDown() override {
        if (site) site->Release();
        ActiveXTest::TearDown();
    }

    ProgramContext* application = nullptr;
    HWND form = 0;
    ActiveXSite* site = nullptr;
};

TEST_F(SiteTest, QueryInterfaceGivesTheTableOfEachInterfaceAndCountsIt) {
    struct Case {
        const IID* iid;
        void* expected;
    };
    const Case cases[] = {
        {&IID_IUnknown, static_cast<IOleClientSite*>(site)},
        {&IID_IOleClientSite, static_cast<IOleClientSite*>(site)},
        {&IID_IOleWindow, static_cast<IOleInPlaceSiteEx*>(site)},
        {&IID_IOleInPlaceSite, static_cast<IOleInPlaceSiteEx*>(site)},
        {&IID_IOleInPlaceSiteEx, static_cast<IOleInPlaceSiteEx*>(site)},
        {&IID_IOleInPlaceUIWindow, static_cast<IOleInPlaceFrame*>(site)},
        {&IID_IOleInPlaceFrame, static_cast<IOleInPlaceFrame*>(site)},
        {&IID_IParseDisplayName, static_cast<IOleItemContainer*>(site)},
        {&IID_IOleContainer, static_cast<IOleItemContainer*>(site)},
        {&IID_IOleItemContainer, static_cast<IOleItemContainer*>(site)},
        {&IID_IDispatch, static_cast<IDispatch*>(site)},
        {&IID_IOleCommandTarget, static_cast<IOleCommandTarget*>(site)},
        {&IID_IOleDocumentSite, static_cast<IOleDocumentSite*>(site)},
        {&IID_IAdviseSink, static_cast<IAdviseSink*>(site)},
        {&IID_IOleControlSite, static_cast<IOleControlSite*>(site)},
    };
    for (const Case& c : cases) {
        void* object = kMark;
        const uint32_t before = site->References();
        EXPECT_EQ(site->QueryInterface(*c.iid, &object), S_OK);
        EXPECT_EQ(object, c.expected) << FormatGuid(*c.iid).size();
        EXPECT_EQ(site->References(), before + 1);
        site->Release();
    }
    // Each table's own QueryInterface leads to the same answers.
    void* object = nullptr;
    EXPECT_EQ(static_cast<IOleControlSite*>(site)->QueryInterface(IID_IOleInPlaceFrame, &object), S_OK);
    EXPECT_EQ(object, static_cast<IOleInPlaceFrame*>(site));
    site->Release();

    object = kMark;
    EXPECT_EQ(site->QueryInterface(IID_IOleObject, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(site->QueryInterface(IID_IDispatch, nullptr), E_FAIL) << "a null out pointer gives E_FAIL, not E_POINTER";
}

TEST_F(SiteTest, ReleaseOfASiteWithNoReferenceDestroysNothing) {
    auto* bare = new ActiveXSite();
    ActiveXSiteInit(bare, form, application, nullptr);
    const int allocated = CountAllocatedActiveXSites();
    EXPECT_EQ(bare->Release(), 0u);
    EXPECT_EQ(CountAllocatedActiveXSites(), allocated) << "a count of 0 must not run the destructor";
    EXPECT_EQ(bare->AddRef(), 1u);
    EXPECT_EQ(bare->AddRef(), 2u);
    EXPECT_EQ(bare->Release(), 1u);
    EXPECT_EQ(bare->Release(), 0u);
    EXPECT_EQ(CountAllocatedActiveXSites(), allocated - 1) << "the last Release frees the site";
}

TEST_F(SiteTest, ClientSiteMethods) {
    // A hidden window stands for the control's.
    const HWND child = CreateWindowExW(0, u"HostForm", u"", WS_CHILD, 0, 0, 10, 10, form, 0, 0, nullptr);
    ASSERT_NE(child, 0u);
    IOleClientSite* client = site;
    void* out = kMark;
    struct Case {
        const char* name;
        std::function<HRESULT()> call;
        HRESULT expected;
    };
    const Case cases[] = {
        {"SaveObject", [&] { return client->SaveObject(); }, S_OK},
        {"GetMoniker given", [&] { return client->GetMoniker(0, 0, reinterpret_cast<IMoniker**>(&out)); }, E_FAIL},
        {"GetMoniker null", [&] { return client->GetMoniker(0, 0, nullptr); }, E_FAIL},
        {"GetContainer null", [&] { return client->GetContainer(nullptr); }, E_INVALIDARG},
        {"ShowObject without window", [&] { return client->ShowObject(); }, S_OK},
        {"OnShowWindow", [&] { return client->OnShowWindow(1); }, S_OK},
        {"RequestNewObjectLayout", [&] { return client->RequestNewObjectLayout(); }, E_NOTIMPL},
    };
    for (const Case& c : cases) {
        out = kMark;
        EXPECT_EQ(c.call(), c.expected) << c.name;
        if (std::string(c.name) == "GetMoniker given") { EXPECT_EQ(out, nullptr) << "the out pointer is cleared"; }
    }
    IOleContainer* container = nullptr;
    EXPECT_EQ(client->GetContainer(&container), S_OK);
    EXPECT_EQ(static_cast<void*>(container), static_cast<void*>(static_cast<IOleItemContainer*>(site)));
    container->Release();

    EXPECT_FALSE(IsWindowVisible(child));
    site->controlWindow = child;
    EXPECT_EQ(client->ShowObject(), S_OK);
    EXPECT_TRUE(IsWindowVisible(child)) << "ShowObject shows the control window";
    site->controlWindow = 0;
}

TEST_F(SiteTest, InPlaceSiteMethods) {
    IOleInPlaceSiteEx* inPlace = site;
    CountedObject object;
    HWND window = 0;
    int32_t noRedraw = 1;
    const RECT moved{5, 6, 70, 80};
    struct Case {
        const char* name;
        std::function<HRESULT()> call;
        HRESULT expected;
        std::function<bool()> effect;
    };
    const Case cases[] = {
        {"GetWindow null", [&] { return inPlace->GetWindow(nullptr); }, E_INVALIDARG, nullptr},
        {"GetWindow", [&] { return inPlace->GetWindow(&window); }, S_OK, [&] { return window == form; }},
        {"ContextSensitiveHelp", [&] { return inPlace->ContextSensitiveHelp(1); }, S_OK, nullptr},
        {"CanInPlaceActivate", [&] { return inPlace->CanInPlaceActivate(); }, S_OK, nullptr},
        {"OnInPlaceActivate", [&] { return inPlace->OnInPlaceActivate(); }, S_OK, [&] { return site->inPlaceActive == 1; }},
        {"OnUIActivate", [&] { return inPlace->OnUIActivate(); }, S_OK, [&] { return site->uiActive == 1; }},
        {"Scroll", [&] { return inPlace->Scroll(SIZE{3, 4}); }, S_OK, nullptr},
        {"OnUIDeactivate", [&] { return inPlace->OnUIDeactivate(0); }, S_OK, [&] { return site->uiActive == 0; }},
        {"OnInPlaceDeactivate", [&] { return inPlace->OnInPlaceDeactivate(); }, S_OK,
         [&] { return site->inPlaceActive == 0; }},
        {"DiscardUndoState", [&] { return inPlace->DiscardUndoState(); }, S_OK, nullptr},
        {"DeactivateAndUndo", [&] { return inPlace->DeactivateAndUndo(); }, S_OK, nullptr},
        {"OnPosRectChange without object", [&] { return inPlace->OnPosRectChange(&moved); }, S_OK,
         [&] { return object.calls.empty(); }},
        {"OnPosRectChange null",
         [&] {
             site->inPlaceObject = &object;
             return inPlace->OnPosRectChange(nullptr);
         },
         S_OK, [&] { return object.calls.empty(); }},
        {"OnPosRectChange", [&] { return inPlace->OnPosRectChange(&moved); }, S_OK,
         [&] { return object.calls == std::vector<std::string>{"rects 5 6 70 80 same"}; }},
        {"OnInPlaceActivateEx", [&] { return inPlace->OnInPlaceActivateEx(&noRedraw, 0); }, S_OK,
         [&] { return noRedraw == 0; }},
        {"OnInPlaceActivateEx null", [&] { return inPlace->OnInPlaceActivateEx(nullptr, 0); }, S_OK, nullptr},
        {"OnInPlaceDeactivateEx", [&] { return inPlace->OnInPlaceDeactivateEx(1); }, S_OK, nullptr},
        {"RequestUIActivate", [&] { return inPlace->RequestUIActivate(); }, S_OK, nullptr},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.call(), c.expected) << c.name;
        if (c.effect) { EXPECT_TRUE(c.effect()) << c.name; }
    }
    site->inPlaceObject = nullptr;
}

TEST_F(SiteTest, GetWindowContextChecksEveryOutPointerAndClearsOnlyTheGivenOnes) {
    IOleInPlaceSiteEx* inPlace = site;
    RECT formRect{};
    GetWindowRect(form, &formRect);
    const RECT whole{0, 0, formRect.right - formRect.left, formRect.bottom - formRect.top};
    for (int missing = 0; missing < 5; ++missing) {
        IOleInPlaceFrame* frame = reinterpret_cast<IOleInPlaceFrame*>(kMark);
        IOleInPlaceUIWindow* document = reinterpret_cast<IOleInPlaceUIWindow*>(kMark);
        RECT position{}, clip{};
        OLEINPLACEFRAMEINFO info{};
        // A missing first or second pointer must not be written through.
        const HRESULT result = inPlace->GetWindowContext(missing == 0 ? nullptr : &frame, missing == 1 ? nullptr : &document,
                                                         missing == 2 ? nullptr : &position,
                                                         missing == 3 ? nullptr : &clip, missing == 4 ? nullptr : &info);
        EXPECT_EQ(result, E_INVALIDARG) << missing;
        if (missing != 0) { EXPECT_EQ(frame, nullptr) << missing; }
        if (missing != 1) { EXPECT_EQ(document, nullptr) << missing; }
    }
    const uint32_t before = site->References();
    IOleInPlaceFrame* frame = nullptr;
    IOleInPlaceUIWindow* document = nullptr;
    RECT position{}, clip{};
    OLEINPLACEFRAMEINFO info{};
    ASSERT_EQ(inPlace->GetWindowContext(&frame, &document, &position, &clip, &info), S_OK);
    EXPECT_EQ(frame, static_cast<IOleInPlaceFrame*>(site));
    EXPECT_EQ(static_cast<void*>(document), static_cast<void*>(static_cast<IOleInPlaceFrame*>(site)));
    EXPECT_EQ(site->References(), before + 2) << "the frame and the document window are each counted";
    for (const RECT& r : {position, clip}) {
        EXPECT_EQ(r.left, whole.left);
        EXPECT_EQ(r.top, whole.top);
        EXPECT_EQ(r.right, whole.right);
        EXPECT_EQ(r.bottom, whole.bottom);
    }
    EXPECT_GT(whole.right, 0);
    EXPECT_EQ(info.cb, 20u);
    EXPECT_EQ(info.fMDIApp, 0);
    EXPECT_EQ(info.hwndFrame, form);
    EXPECT_EQ(info.haccel, 0u);
    EXPECT_EQ(info.cAccelEntries, 0u);
    frame->Release();
    document->Release();
}

TEST_F(SiteTest, FrameMethods) {
    IOleInPlaceFrame* frame = site;
    RECT rect{};
    OLEMENUGROUPWIDTHS widths{};
    MSG message{};
    HWND window = 0;
    struct Case {
        const char* name;
        std::function<HRESULT()> call;
        HRESULT expected;
    };
    const Case cases[] = {
        {"GetWindow", [&] { return frame->GetWindow(&window); }, S_OK},
        {"GetWindow null", [&] { return frame->GetWindow(nullptr); }, E_INVALIDARG},
        {"ContextSensitiveHelp", [&] { return frame->ContextSensitiveHelp(0); }, S_OK},
        {"GetBorder", [&] { return frame->GetBorder(&rect); }, INPLACE_E_NOTOOLSPACE},
        {"GetBorder null", [&] { return frame->GetBorder(nullptr); }, E_INVALIDARG},
        {"RequestBorderSpace", [&] { return frame->RequestBorderSpace(&rect); }, INPLACE_E_NOTOOLSPACE},
        {"RequestBorderSpace null", [&] { return frame->RequestBorderSpace(nullptr); }, E_INVALIDARG},
        {"SetBorderSpace", [&] { return frame->SetBorderSpace(nullptr); }, S_OK},
        {"InsertMenus", [&] { return frame->InsertMenus(0, &widths); }, S_OK},
        {"SetMenu", [&] { return frame->SetMenu(0, 0, 0); }, S_OK},
        {"RemoveMenus", [&] { return frame->RemoveMenus(0); }, S_OK},
        {"SetStatusText", [&] { return frame->SetStatusText(u"x"); }, S_OK},
        {"EnableModeless", [&] { return frame->EnableModeless(1); }, S_OK},
        {"TranslateAccelerator without active object", [&] { return frame->TranslateAccelerator(&message, 0); }, S_FALSE},
    };
    for (const Case& c : cases) EXPECT_EQ(c.call(), c.expected) << c.name;
    EXPECT_EQ(window, form);

    CountedObject active;
    ASSERT_EQ(frame->SetActiveObject(&active, u"name"), S_OK);
    EXPECT_EQ(frame->TranslateAccelerator(&message, 0), S_FALSE) << "always S_FALSE";
    EXPECT_EQ(active.accelerators, 1) << "passed to the active object";
    ASSERT_EQ(frame->SetActiveObject(nullptr, nullptr), S_OK);
    EXPECT_EQ(active.references, 1);
}

TEST_F(SiteTest, SetActiveObjectHoldsOneObjectAtATime) {
    IOleInPlaceFrame* frame = site;
    CountedObject first, second;
    struct Step {
        CountedObject* given;
        int firstReferences, secondReferences;
    };
    const Step steps[] = {
        {&first, 2, 1},
        {&first, 2, 1},   // the same object again: still one reference
        {&second, 1, 2},  // the old one is released
        {nullptr, 1, 1},  // null clears it
        {&first, 2, 1},
    };
    for (const Step& s : steps) {
        EXPECT_EQ(frame->SetActiveObject(s.given ? static_cast<IOleInPlaceActiveObject*>(s.given) : nullptr, nullptr), S_OK);
        EXPECT_EQ(first.references, s.firstReferences);
        EXPECT_EQ(second.references, s.secondReferences);
    }
    // The site gives up what it holds when it is destroyed.
    site->Release();
    site = nullptr;
    EXPECT_EQ(first.references, 1);
}

TEST_F(SiteTest, ItemContainerMethods) {
    IOleItemContainer* container = site;
    char16_t name[] = u"item";
    void* out = kMark;
    uint32_t eaten = 0;
    struct Case {
        const char* name;
        std::function<HRESULT()> call;
        HRESULT expected;
        bool clearsOut;
    };
    const Case cases[] = {
        {"ParseDisplayName", [&] { return container->ParseDisplayName(nullptr, name, &eaten, nullptr); }, E_NOTIMPL, false},
        {"EnumObjects", [&] { return container->EnumObjects(0, nullptr); }, E_NOTIMPL, false},
        {"LockContainer", [&] { return container->LockContainer(1); }, S_OK, false},
        {"GetObject", [&] { return container->GetObject(name, 0, nullptr, IID_IUnknown, &out); }, MK_E_NOOBJECT, true},
        {"GetObject null name", [&] { return container->GetObject(nullptr, 0, nullptr, IID_IUnknown, &out); },
         E_INVALIDARG, false},
        {"GetObject null out", [&] { return container->GetObject(name, 0, nullptr, IID_IUnknown, nullptr); },
         E_INVALIDARG, false},
        {"GetObjectStorage", [&] { return container->GetObjectStorage(name, nullptr, IID_IUnknown, &out); },
         MK_E_NOOBJECT, true},
        {"GetObjectStorage null name", [&] { return container->GetObjectStorage(nullptr, nullptr, IID_IUnknown, &out); },
         E_INVALIDARG, false},
        {"GetObjectStorage null out", [&] { return container->GetObjectStorage(name, nullptr, IID_IUnknown, nullptr); },
         E_INVALIDARG, false},
        {"IsRunning", [&] { return container->IsRunning(name); }, MK_E_NOOBJECT, false},
        {"IsRunning null", [&] { return container->IsRunning(nullptr); }, E_INVALIDARG, false},
    };
    for (const Case& c : cases) {
        out = kMark;
        EXPECT_EQ(c.call(), c.expected) << c.name;
        EXPECT_EQ(out, c.clearsOut ? nullptr : kMark) << c.name;
    }
}

TEST_F(SiteTest, AmbientPropertiesGiveTrueAsMinusOne) {
    IDispatch* ambient = site;
    struct Case {
        DISPID id;
        HRESULT expected;
        VARTYPE vt;
        int32_t value;
    };
    const Case cases[] = {
        {DISPID_AMBIENT_APPEARANCE, S_OK, VT_BOOL, VARIANT_TRUE},
        {DISPID_AMBIENT_DISPLAYASDEFAULT, S_OK, VT_BOOL, VARIANT_TRUE},
        {DISPID_AMBIENT_SHOWHATCHING, S_OK, VT_BOOL, VARIANT_TRUE},
        {DISPID_AMBIENT_SHOWGRABHANDLES, S_OK, VT_BOOL, VARIANT_TRUE},
        {DISPID_AMBIENT_USERMODE, S_OK, VT_BOOL, VARIANT_TRUE},
        {DISPID_AMBIENT_MESSAGEREFLECT, S_OK, VT_BOOL, VARIANT_FALSE},
        {DISPID_AMBIENT_LOCALEID, S_OK, VT_I4, 0},
        {DISPID_AMBIENT_FORECOLOR, S_OK, VT_I4, static_cast<int32_t>(GetSysColor(COLOR_WINDOWTEXT))},
        {DISPID_AMBIENT_BACKCOLOR, S_OK, VT_I4, static_cast<int32_t>(GetSysColor(COLOR_WINDOW))},
        {-700, DISP_E_MEMBERNOTFOUND, VT_BOOL, 0},
        {0, DISP_E_MEMBERNOTFOUND, VT_BOOL, 0},
    };
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    for (const Case& c : cases) {
        VARIANT result{};
        result.vt = VT_R8;
        result.dblVal = 99.0;
        EXPECT_EQ(ambient->Invoke(c.id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), c.expected)
            << c.id;
        EXPECT_EQ(result.vt, c.vt) << c.id;
        if (c.expected == S_OK) { EXPECT_EQ(c.vt == VT_BOOL ? result.boolVal : result.lVal, c.value) << c.id; }
    }
    // A control that compares with VARIANT_TRUE reads the flags as set.
    site->userMode = 0;
    VARIANT result{};
    EXPECT_EQ(ambient->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(result.boolVal, VARIANT_FALSE);

    // Without the property-get flag: success, the result untouched.
    result.vt = VT_R8;
    result.dblVal = 99.0;
    EXPECT_EQ(ambient->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(result.vt, VT_R8);
    EXPECT_EQ(result.dblVal, 99.0);
    EXPECT_EQ(ambient->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, nullptr, nullptr, nullptr),
              E_INVALIDARG);
    uint32_t count = 0;
    EXPECT_EQ(ambient->GetTypeInfoCount(&count), E_NOTIMPL);
    EXPECT_EQ(ambient->GetTypeInfo(0, 0, nullptr), E_NOTIMPL);
    EXPECT_EQ(ambient->GetIDsOfNames(IID_NULL, nullptr, 0, 0, nullptr), E_NOTIMPL);
}

TEST_F(SiteTest, CommandTargetAdviseSinkAndControlSiteMethods) {
    IOleCommandTarget* target = site;
    IOleControlSite* control = site;
    OLECMD commands[3] = {{1, 7}, {2, 8}, {3, 9}};
    POINTL himetric{};
    POINTF container{};
    MSG message{};
    IDispatch* extended = reinterpret_cast<IDispatch*>(kMark);
    struct Case {
        const char* name;
        std::function<HRESULT()> call;
        HRESULT expected;
        std::function<bool()> effect;
    };
    const Case cases[] = {
        {"QueryStatus null", [&] { return target->QueryStatus(nullptr, 3, nullptr, nullptr); }, E_INVALIDARG, nullptr},
        {"QueryStatus", [&] { return target->QueryStatus(nullptr, 3, commands, nullptr); }, S_OK,
         [&] { return commands[0].cmdf == 0 && commands[1].cmdf == 0 && commands[2].cmdf == 0 && commands[2].cmdID == 3; }},
        {"Exec", [&] { return target->Exec(nullptr, 1, 0, nullptr, nullptr); }, OLECMDERR_E_NOTSUPPORTED, nullptr},
        {"OnControlInfoChanged", [&] { return control->OnControlInfoChanged(); }, S_OK, nullptr},
        {"LockInPlaceActive 5", [&] { return control->LockInPlaceActive(5); }, S_OK,
         [&] { return site->inPlaceActiveLock == 1; }},
        {"LockInPlaceActive 0", [&] { return control->LockInPlaceActive(0); }, S_OK,
         [&] { return site->inPlaceActiveLock == 0; }},
        {"GetExtendedControl", [&] { return control->GetExtendedControl(&extended); }, E_NOTIMPL, nullptr},
        {"TransformCoords", [&] { return control->TransformCoords(&himetric, &container, 0); }, E_NOTIMPL, nullptr},
        {"TransformCoords no container point", [&] { return control->TransformCoords(&himetric, nullptr, 0); },
         E_INVALIDARG, nullptr},
        {"TransformCoords no HIMETRIC point", [&] { return control->TransformCoords(nullptr, &container, 0); },
         E_INVALIDARG, nullptr},
        {"TranslateAccelerator", [&] { return control->TranslateAccelerator(&message, 0); }, E_NOTIMPL, nullptr},
        {"OnFocus", [&] { return control->OnFocus(1); }, S_OK, nullptr},
        {"ShowPropertyFrame", [&] { return control->ShowPropertyFrame(); }, E_NOTIMPL, nullptr},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.call(), c.expected) << c.name;
        if (c.effect) { EXPECT_TRUE(c.effect()) << c.name; }
    }
    // The advise sink's notifications change nothing.
    IAdviseSink* sink = site;
    const uint32_t references = site->References();
    sink->OnDataChange(nullptr, nullptr);
    sink->OnViewChange(DVASPECT_CONTENT, -1);
    sink->OnRename(nullptr);
    sink->OnSave();
    sink->OnClose();
    EXPECT_EQ(site->References(), references);
    EXPECT_EQ(site->inPlaceActive + site->uiActive, 0);
}

TEST_F(SiteTest, ActivateMeHoldsTheViewItIsGivenAndNoReferenceOfItsOwn) {
    IOleDocumentSite* document = site;
    CountedObject first, second;
    const uint32_t references = site->References();
    ASSERT_EQ(document->ActivateMe(&first), S_OK);
    EXPECT_EQ(first.references, 2) << "the stored view is counted";
    EXPECT_EQ(first.calls, (std::vector<std::string>{"site", "ui 1"}));
    EXPECT_EQ(static_cast<void*>(first.site), static_cast<void*>(static_cast<IOleInPlaceSiteEx*>(site)));
    EXPECT_EQ(site->References(), references) << "the in-place site taken for the call is given back";
    EXPECT_EQ(site->documentView, &first);

    ASSERT_EQ(document->ActivateMe(&second), S_OK);
    EXPECT_EQ(first.references, 1) << "a replaced view is released";
    EXPECT_EQ(second.references, 2);
    site->Release();  // ActiveXSiteDestroy releases the stored view once
    site = nullptr;
    EXPECT_EQ(second.references, 1);
}

TEST_F(SiteTest, ActivateMeWithoutAViewNeedsADocument) {
    IOleDocumentSite* document = site;
    const uint32_t references = site->References();
    EXPECT_EQ(document->ActivateMe(nullptr), E_FAIL) << "no OLE object";
    EXPECT_EQ(site->References(), references) << "the in-place site taken for the call is given back on failure too";
    EXPECT_EQ(site->documentView, nullptr);
}

TEST(HimetricTest, PixelsBecomeHundredthsOfAMillimetreAtTheScreensDotsPerInch) {
    struct Case {
        SIZE pixels;
        int dpiX, dpiY;
        SIZE himetric;
    };
    const Case cases[] = {
        {{96, 96}, 96, 96, {2540, 2540}},   {{96, 48}, 192, 192, {1270, 635}}, {{192, 192}, 192, 192, {2540, 2540}},
        {{1, 1}, 96, 96, {26, 26}},         {{0, 0}, 96, 96, {0, 0}},          {{100, 50}, 96, 192, {2645, 661}},
        {{240, 320}, 192, 96, {3175, 8466}}, {{-96, 96}, 96, 96, {-2540, 2540}},
    };
    for (const Case& c : cases) {
        const SIZE got = HimetricFromPixels(c.pixels, c.dpiX, c.dpiY);
        EXPECT_EQ(got.cx, c.himetric.cx) << c.pixels.cx << " at " << c.dpiX;
        EXPECT_EQ(got.cy, c.himetric.cy) << c.pixels.cy << " at " << c.dpiY;
    }
    // The screen's own dots per inch, never 0.
    const SIZE screen = PixelsToHimetric(SIZE{96, 96});
    EXPECT_EQ(screen.cx, HimetricFromPixels(SIZE{96, 96}, ScreenDpi(), ScreenDpi()).cx);
    EXPECT_EQ(screen.cy, HimetricFromPixels(SIZE{96, 96}, ScreenDpi(), ScreenDpi()).cy);
}

// SetActiveXRect on a hosted test control, read from its ledger.
TEST_F(ActiveXTest, SetActiveXRectSetsTheExtentOnlyWhenItChangesAndThePositionEveryTime) {
    Load("PROC nothing END;");
    const HWND form = NewForm();
    const double handle = Place(form, "QOB.TestControl", 10, 20, 100, 50, nullptr);
    ActiveXSite* site = SiteOf(handle);
    ASSERT_NE(site, nullptr);
    testing::ControlLedger* ledger = testing::TestControlLedger(site->control);
    ASSERT_NE(ledger, nullptr);
    const SIZE extent = PixelsToHimetric(SIZE{100, 50});
    const std::string setExtent = "SetExtent " + std::to_string(extent.cx) + " " + std::to_string(extent.cy);
    EXPECT_TRUE(testing::LedgerHas(*ledger, setExtent)) << "placed at creation";
    EXPECT_TRUE(testing::LedgerHas(*ledger, "SetObjectRects 10 20 110 70"));
    struct Step {
        int x, y, cx, cy;
        std::vector<std::string> calls;
    };
    const SIZE wider = PixelsToHimetric(SIZE{120, 50});
    const Step steps[] = {
        {10, 20, 100, 50, {"SetObjectRects 10 20 110 70"}},
        {30, 40, 100, 50, {"SetObjectRects 30 40 130 90"}},
        {30, 40, 120, 50,
         {"SetExtent " + std::to_string(wider.cx) + " " + std::to_string(wider.cy), "SetObjectRects 30 40 150 90"}},
        {200, 5, 120, 50, {"SetObjectRects 200 5 320 55"}},  // narrower than x: still a positive width
    };
    for (const Step& s : steps) {
        ledger->calls.clear();
        SetActiveXRect(site, s.x, s.y, s.cx, s.cy);
        EXPECT_EQ(ledger->calls, s.calls) << s.x << " " << s.y << " " << s.cx << " " << s.cy;
    }
    RECT placed{};
    GetWindowRect(site->controlWindow, &placed);
    EXPECT_EQ(placed.right - placed.left, 120);
    EXPECT_EQ(placed.bottom - placed.top, 50);
    Free({handle});
}

}  // namespace
}  // namespace qob
