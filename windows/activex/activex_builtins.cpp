// windows/activex/activex_builtins.cpp
// The ActiveX built-ins. None raises a run-time error: a control that cannot
// be made gives 0, and a number that is no live control is skipped, or gives 0.
#include "windows/activex/activex_builtins.h"

#include <string>
#include <vector>

#include "builtins/operators/operator_values.h"
#include "platform/gdi.h"
#include "platform/text_codec.h"
#include "platform/window_manager.h"
#include "runtime/data/number_text.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "windows/activex/activex_event_sink.h"
#include "windows/activex/activex_site.h"
#include "windows/com/com_object_wrapper.h"
#include "windows/com/com_variants.h"
#include "windows/event_calls.h"
#include "windows/script_arguments.h"

namespace qob {

using namespace platform;

namespace {

// Class context of the control's creation: in-process server and handler, local server.
constexpr uint32_t kControlClassContext = 7;

std::u16string WideArgument(const StackEntry& cell) {
    std::string text;
    if (const char* narrow = NarrowOperandText(cell)) {
        text = narrow;
    } else {
        char number[kNumberTextSize];
        FormatNumber(cell.value, number);
        text = number;
    }
    const std::vector<uint16_t> units = DecodeAnsi(text);
    return std::u16string(units.begin(), units.end());
}

int32_t IntegerArgument(const StackEntry& cell) {
    return static_cast<int32_t>(static_cast<uint32_t>(TruncToInt64(OperandNumber(cell))));
}

HWND WindowArgument(const StackEntry& cell) { return static_cast<HWND>(static_cast<uint32_t>(IntegerArgument(cell))); }

// The control that one argument names (and the argument taken off).
ActiveXSite* TakeSiteArgument() {
    StackEntry cell = TakeOperand();
    ActiveXSite* site = FindLiveActiveXSite(OperandNumber(cell));
    ReleaseOperand(cell);
    return site;
}

template <class T>
void ReleaseAndClear(T*& pointer) {
    if (T* held = pointer) {
        pointer = nullptr;
        held->Release();
    }
}

template <class T>
T* Query(IUnknown* object, REFIID iid) {
    void* result = nullptr;
    if (!object || FAILED(object->QueryInterface(iid, &result))) return nullptr;
    return static_cast<T*>(result);
}

// A child window becomes the active window as far as a child can: its
// top-level window is activated and the child gets the focus.
void MakeActive(HWND window) {
    HWND top = window;
    while (top && (GetWindowLongPtrW(top, GWL_STYLE) & WS_CHILD) && GetParent(top)) top = GetParent(top);
    SetActiveWindow(top);
    SetFocus(window);
}

// The type information of the event interface, from the type library of
// the control's own type information; null when any step fails.
ITypeInfo* EventTypeInfo(IDispatch* dispatch, const IID& iid) {
    ITypeInfo* own = nullptr;
    if (!dispatch || FAILED(dispatch->GetTypeInfo(0, kComLocale, &own)) || !own) return nullptr;
    ITypeLib* library = nullptr;
    uint32_t index = 0;
    ITypeInfo* events = nullptr;
    if (SUCCEEDED(own->GetContainingTypeLib(&library, &index)) && library) {
        if (FAILED(library->GetTypeInfoOfGuid(iid, &events))) events = nullptr;
        library->Release();
    }
    own->Release();
    return events;
}

// Steps 6 to 13: the control embedded, run, activated in place and placed.
void EmbedControl(ActiveXSite* site, int32_t x, int32_t y, int32_t cx, int32_t cy) {
    site->oleObject = Query<IOleObject>(site->control, IID_IOleObject);
    site->viewObject = Query<IViewObject>(site->control, IID_IViewObject);
    if (site->oleObject) {
        site->oleObject->Advise(site->adviseSink, &site->oleAdviseCookie);
        site->oleObject->SetHostNames(u"OLEClass", nullptr);
    }
    OleSetContainedObject(site->control, 1);
    OleRun(site->control);
    site->inPlaceObject = Query<IOleInPlaceObject>(site->control, IID_IOleInPlaceObject);
    uint32_t status = 0;
    if (site->oleObject && FAILED(site->oleObject->GetMiscStatus(DVASPECT_CONTENT, &status))) status = 0;
    IPersistStreamInit* persist = Query<IPersistStreamInit>(site->control, IID_IPersistStreamInit);
    if (status & OLEMISC_SETCLIENTSITEFIRST) {
        if (site->oleObject) site->oleObject->SetClientSite(site->clientSite);
        if (persist) persist->InitNew();
    } else {
        if (persist) persist->InitNew();
        if (site->oleObject) site->oleObject->SetClientSite(site->clientSite);
    }
    ReleaseAndClear(persist);
    // The parent's client area is where the control may first lay itself out;
    // SetActiveXRect narrows it to the program's rectangle.
    RECT client{};
    GetClientRect(site->parentWindow, &client);
    const RECT area{0, 0, client.right - client.left, client.bottom - client.top};
    if (site->inPlaceObject && SUCCEEDED(site->inPlaceObject->GetWindow(&site->controlWindow)) && site->controlWindow)
        MakeActive(site->controlWindow);
    if (!(status & OLEMISC_INVISIBLEATRUNTIME)) {
        if (site->inPlaceObject) site->inPlaceObject->SetObjectRects(&area, &area);
        if (site->oleObject) {
            site->oleObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site->clientSite, 0, site->parentWindow, &area);
            site->oleObject->DoVerb(OLEIVERB_SHOW, nullptr, site->clientSite, 0, site->parentWindow, &area);
        }
    }
    if (!site->controlWindow && site->inPlaceObject && FAILED(site->inPlaceObject->GetWindow(&site->controlWindow)))
        site->controlWindow = 0;
    SetActiveXRect(site, x, y, cx, cy);
    if (site->controlWindow) {
        MakeActive(site->controlWindow);
        ShowWindow(site->controlWindow, SW_SHOW);
    }
}

// Steps 14 to 18: the two wrappers and the event connection.
void ConnectControl(ActiveXSite* site) {
    IUnknown* object = site->oleObject ? static_cast<IUnknown*>(site->oleObject) : site->control;
    IDispatch* dispatch = Query<IDispatch>(object, IID_IDispatch);
    site->objectWrapper = NewComObjectWrapper(site->context);
    if (site->objectWrapper) {
        AttachComObject(site->objectWrapper, dispatch);
        site->objectWrapper->ownerSite = site;
    }
    IID eventIid{};
    if (auto* container = Query<IConnectionPointContainer>(object, IID_IConnectionPointContainer)) {
        IEnumConnectionPoints* points = nullptr;
        if (SUCCEEDED(container->EnumConnectionPoints(&points)) && points) {
            IConnectionPoint* first = nullptr;
            uint32_t fetched = 0;
            if (points->Next(1, &first, &fetched) == S_OK && fetched == 1 && first) {
                if (SUCCEEDED(first->GetConnectionInterface(&eventIid)))
                    site->eventConnectionPoint = first;
                else
                    first->Release();
            }
            points->Release();
        }
        container->Release();
    }
    ITypeInfo* events = site->eventConnectionPoint ? EventTypeInfo(site->controlDispatch, eventIid) : nullptr;
    site->eventsWrapper = NewComObjectWrapper(site->context);
    if (site->eventsWrapper) {
        AttachComObject(site->eventsWrapper, dispatch);
        if (events) {
            LoadComTypeInfo(site->eventsWrapper, events);
            events = nullptr;
        }
        site->eventsWrapper->ownerSite = site;
    }
    if (events) events->Release();
    if (site->eventConnectionPoint) {
        auto* sink = new ActiveXEventSink(site, eventIid);
        sink->AddRef();
        if (FAILED(site->eventConnectionPoint->Advise(static_cast<IDispatch*>(sink), &site->eventCookie)))
            site->eventCookie = 0;
        sink->Release();
    }
    ReleaseAndClear(dispatch);
}

}  // namespace

void FreeActiveXSite(ActiveXSite* site) {
    // Held for the whole teardown: the control's own Releases cannot end it half-way.
    site->AddRef();
    ForgetLiveActiveXSite(site);
    if (IOleInPlaceObject* inPlace = site->inPlaceObject) {
        inPlace->InPlaceDeactivate();
        inPlace->UIDeactivate();
    }
    if (site->oleAdviseCookie && site->oleObject) site->oleObject->Unadvise(site->oleAdviseCookie);
    site->oleAdviseCookie = 0;
    if (IOleObject* object = site->oleObject) {
        object->DoVerb(OLEIVERB_HIDE, nullptr, site->clientSite, 0, site->parentWindow, nullptr);
        object->Close(OLECLOSE_NOSAVE);
        object->SetClientSite(nullptr);
    }
    ComObjectWrapper* wrappers[] = {site->objectWrapper, site->eventsWrapper};
    site->objectWrapper = nullptr;
    site->eventsWrapper = nullptr;
    for (ComObjectWrapper* wrapper : wrappers)
        if (wrapper) DeleteComObjectWrapper(wrapper);
    ActiveXSiteDestroy(site);
    site->controlWindow = 0;
    site->context = nullptr;
    site->eventProcedure = nullptr;
    ReleaseAndClear(site->clientSite);
    ReleaseAndClear(site->adviseSink);
    site->Release();
}

void FreeContextActiveXSites(ProgramContext* context) {
    for (ActiveXSite* site : LiveActiveXSitesOf(context)) FreeActiveXSite(site);
}

void Builtin_ActiveX() {
    SetComError(nullptr, 0);
    StackEntry procedureCell = TakeOperand();
    StackEntry cyCell = TakeOperand();
    StackEntry cxCell = TakeOperand();
    StackEntry yCell = TakeOperand();
    StackEntry xCell = TakeOperand();
    StackEntry progIdCell = TakeOperand();
    StackEntry parentCell = TakeOperand();
    Instruction* procedure = ProcedureArgument(OperandNumber(procedureCell));
    const int32_t cy = IntegerArgument(cyCell), cx = IntegerArgument(cxCell);
    const int32_t y = IntegerArgument(yCell), x = IntegerArgument(xCell);
    const std::u16string progId = WideArgument(progIdCell);
    const HWND parent = WindowArgument(parentCell);
    for (StackEntry* cell : {&procedureCell, &cyCell, &cxCell, &yCell, &xCell, &progIdCell, &parentCell})
        ReleaseOperand(*cell);

    CLSID clsid{};
    if (FAILED(CLSIDFromProgID(progId.c_str(), &clsid))) {
        PushNumberResult(0.0);
        return;
    }
    auto* site = new ActiveXSite();
    ActiveXSiteInit(site, parent, CurrentContext, procedure);
    site->clientSite = Query<IOleClientSite>(static_cast<IOleClientSite*>(site), IID_IOleClientSite);
    site->adviseSink = Query<IAdviseSink>(static_cast<IOleClientSite*>(site), IID_IAdviseSink);
    void* made = nullptr;
    if (FAILED(CoCreateInstance(clsid, nullptr, kControlClassContext, IID_IUnknown, &made)) || !made) {
        FreeActiveXSite(site);
        PushNumberResult(0.0);
        return;
    }
    site->control = static_cast<IUnknown*>(made);
    made = nullptr;
    if (FAILED(CoCreateInstance(clsid, nullptr, kControlClassContext, IID_IDispatch, &made)) || !made) {
        FreeActiveXSite(site);
        PushNumberResult(0.0);
        return;
    }
    site->controlDispatch = static_cast<IDispatch*>(made);
    RegisterLiveActiveXSite(site);
    EmbedControl(site, x, y, cx, cy);
    ConnectControl(site);
    PushNumberResult(static_cast<double>(LowAddress(site)));
}

void Builtin_SetActiveXPos() {
    SetComError(nullptr, 0);
    StackEntry cyCell = TakeOperand();
    StackEntry cxCell = TakeOperand();
    StackEntry yCell = TakeOperand();
    StackEntry xCell = TakeOperand();
    const int32_t cy = IntegerArgument(cyCell), cx = IntegerArgument(cxCell);
    const int32_t y = IntegerArgument(yCell), x = IntegerArgument(xCell);
    for (StackEntry* cell : {&cyCell, &cxCell, &yCell, &xCell}) ReleaseOperand(*cell);
    if (ActiveXSite* site = TakeSiteArgument()) SetActiveXRect(site, x, y, cx, cy);
}

void Builtin_FreeActiveX() {
    SetComError(nullptr, 0);
    const FrameArguments arguments = CloseFrameArguments();
    StackEntry* cell = arguments.saved;
    for (int64_t i = 0; i < arguments.count; ++i) {
        cell = cell->above;
        // 0, numbers that are no control and controls freed already are skipped.
        if (ActiveXSite* site = FindLiveActiveXSite(OperandNumber(*cell))) FreeActiveXSite(site);
    }
    DropFrameArguments(arguments);
}

void Builtin_ActiveXObject() {
    SetComError(nullptr, 0);
    ActiveXSite* site = TakeSiteArgument();
    PushNumberResult(site && site->objectWrapper ? static_cast<double>(LowAddress(site->objectWrapper)) : 0.0);
}

void Builtin_ActiveXEvents() {
    SetComError(nullptr, 0);
    ActiveXSite* site = TakeSiteArgument();
    PushNumberResult(site && site->eventsWrapper ? static_cast<double>(LowAddress(site->eventsWrapper)) : 0.0);
}

void Builtin_ActiveXWnd() {
    SetComError(nullptr, 0);
    ActiveXSite* site = TakeSiteArgument();
    PushNumberResult(site ? static_cast<double>(static_cast<uint32_t>(site->controlWindow)) : 0.0);
}

void Builtin_ActiveXDraw() {
    SetComError(nullptr, 0);
    ActiveXSite* site = TakeSiteArgument();
    // A control without a window (invisible at run time) or without a view
    // draws nothing: there is no rectangle of its own to draw into.
    if (!site || !site->controlWindow || !site->viewObject) return;
    RECT client{};
    if (!GetClientRect(site->controlWindow, &client)) return;
    const HDC dc = GetDC(site->controlWindow);
    if (!dc) return;
    DrawFocusRect(dc, &client);
    site->viewObject->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, 0, dc, &client, nullptr, nullptr, 0);
    ReleaseDC(site->controlWindow, dc);
}

}  // namespace qob
