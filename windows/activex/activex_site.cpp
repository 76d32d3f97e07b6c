// windows/activex/activex_site.cpp
// The container site: its interfaces' methods, the ambient properties,
// ActivateMe, the extent and position of the control, and the set of live sites.
#include "windows/activex/activex_site.h"

#include <algorithm>
#include <vector>

#include "platform/gdi.h"
#include "platform/window_manager.h"

namespace qob {

using namespace platform;

namespace {

// Live sites in the order they were made, with the context of each.
struct LiveSite {
    ActiveXSite* site;
    const ProgramContext* context;
};
std::vector<LiveSite>& LiveSites() {
    static std::vector<LiveSite> sites;
    return sites;
}

std::atomic<int32_t> gAllocatedSites{0};

template <class T>
void ReleaseAndClear(T*& pointer) {
    if (T* held = pointer) {
        pointer = nullptr;
        held->Release();
    }
}

HRESULT GiveInterface(void** object, IUnknown* table, ActiveXSite* site) {
    *object = table;
    site->AddRef();
    return S_OK;
}

void SetBool(VARIANT* result, bool value) {
    result->vt = VT_BOOL;
    result->llVal = 0;
    result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

void SetLong(VARIANT* result, int32_t value) {
    result->vt = VT_I4;
    result->llVal = 0;
    result->lVal = value;
}

}  // namespace

// --- life ------------------------------------------------------------------------------

ActiveXSite::ActiveXSite() { ++gAllocatedSites; }

void ActiveXSiteInit(ActiveXSite* site, HWND parent, ProgramContext* context, Instruction* eventProcedure) {
    site->referenceCount.store(0);
    site->controlDispatch = nullptr;
    site->clientSite = nullptr;
    site->control = nullptr;
    site->oleObject = nullptr;
    site->inPlaceObject = nullptr;
    site->activeObject = nullptr;
    site->documentView = nullptr;
    site->viewObject = nullptr;
    site->adviseSink = nullptr;
    site->eventConnectionPoint = nullptr;
    site->controlWindow = 0;
    site->oleAdviseCookie = 0;
    site->eventCookie = 0;
    site->objectWrapper = nullptr;
    site->eventsWrapper = nullptr;
    site->inPlaceActiveLock = 0;
    site->inPlaceActive = 0;
    site->uiActive = 0;
    site->userMode = 1;
    site->locale = 0;
    site->foregroundColour = GetSysColor(COLOR_WINDOWTEXT);
    site->backgroundColour = GetSysColor(COLOR_WINDOW);
    site->showHatching = 1;
    site->showGrabHandles = 1;
    site->appearance = 1;
    site->parentWindow = parent;
    site->context = context;
    site->eventProcedure = eventProcedure;
}

void ActiveXSiteDestroy(ActiveXSite* site) {
    ReleaseAndClear(site->controlDispatch);
    ReleaseAndClear(site->control);
    ReleaseAndClear(site->oleObject);
    ReleaseAndClear(site->inPlaceObject);
    ReleaseAndClear(site->activeObject);
    ReleaseAndClear(site->documentView);
    ReleaseAndClear(site->viewObject);
    if (IConnectionPoint* point = site->eventConnectionPoint) {
        site->eventConnectionPoint = nullptr;
        if (const uint32_t cookie = site->eventCookie) {
            site->eventCookie = 0;
            point->Unadvise(cookie);
        }
        point->Release();
    }
}

void ActiveXSite::Destroy() {
    ForgetLiveActiveXSite(this);
    ActiveXSiteDestroy(this);
    --gAllocatedSites;
    delete this;
}

void DestroyActiveXSite(ActiveXSite* site) { site->Destroy(); }

// --- IUnknown --------------------------------------------------------------------------

HRESULT ActiveXSite::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_FAIL;
    if (iid == IID_IUnknown || iid == IID_IOleClientSite)
        return GiveInterface(object, static_cast<IOleClientSite*>(this), this);
    if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite || iid == IID_IOleInPlaceSiteEx)
        return GiveInterface(object, static_cast<IOleInPlaceSiteEx*>(this), this);
    if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame)
        return GiveInterface(object, static_cast<IOleInPlaceFrame*>(this), this);
    if (iid == IID_IParseDisplayName || iid == IID_IOleContainer || iid == IID_IOleItemContainer)
        return GiveInterface(object, static_cast<IOleItemContainer*>(this), this);
    if (iid == IID_IDispatch) return GiveInterface(object, static_cast<IDispatch*>(this), this);
    if (iid == IID_IOleCommandTarget) return GiveInterface(object, static_cast<IOleCommandTarget*>(this), this);
    if (iid == IID_IOleDocumentSite) return GiveInterface(object, static_cast<IOleDocumentSite*>(this), this);
    if (iid == IID_IAdviseSink) return GiveInterface(object, static_cast<IAdviseSink*>(this), this);
    if (iid == IID_IOleControlSite) return GiveInterface(object, static_cast<IOleControlSite*>(this), this);
    *object = nullptr;
    return E_NOINTERFACE;
}

uint32_t ActiveXSite::AddRef() { return static_cast<uint32_t>(++referenceCount); }

uint32_t ActiveXSite::Release() {
    int32_t count = referenceCount.load();
    do {
        if (count < 1) return 0;
    } while (!referenceCount.compare_exchange_weak(count, count - 1));
    if (count - 1 > 0) return static_cast<uint32_t>(count - 1);
    Destroy();
    return 0;
}

// --- IOleClientSite --------------------------------------------------------------------

HRESULT ActiveXSite::SaveObject() { return S_OK; }

HRESULT ActiveXSite::GetMoniker(uint32_t, uint32_t, IMoniker** moniker) {
    if (moniker) *moniker = nullptr;
    return E_FAIL;
}

HRESULT ActiveXSite::GetContainer(IOleContainer** container) {
    if (!container) return E_INVALIDARG;
    return QueryInterface(IID_IOleContainer, reinterpret_cast<void**>(container));
}

HRESULT ActiveXSite::ShowObject() {
    if (controlWindow && !Detached()) ShowWindow(controlWindow, SW_SHOW);
    return S_OK;
}

HRESULT ActiveXSite::OnShowWindow(int32_t) { return S_OK; }
HRESULT ActiveXSite::RequestNewObjectLayout() { return E_NOTIMPL; }

// --- IOleWindow, IOleInPlaceSiteEx ---------------------------------------------------------

HRESULT ActiveXSite::GetWindow(HWND* window) {
    if (!window) return E_INVALIDARG;
    *window = Detached() ? 0 : parentWindow;
    return S_OK;
}

HRESULT ActiveXSite::ContextSensitiveHelp(int32_t) { return S_OK; }
HRESULT ActiveXSite::CanInPlaceActivate() { return S_OK; }

HRESULT ActiveXSite::OnInPlaceActivate() {
    inPlaceActive = 1;
    return S_OK;
}

HRESULT ActiveXSite::OnUIActivate() {
    uiActive = 1;
    return S_OK;
}

HRESULT ActiveXSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, RECT* position,
                                      RECT* clip, OLEINPLACEFRAMEINFO* frameInfo) {
    if (!frame || !document || !position || !clip || !frameInfo) {
        // Only the out pointers that were given are cleared.
        if (frame) *frame = nullptr;
        if (document) *document = nullptr;
        return E_INVALIDARG;
    }
    *frame = nullptr;
    *document = nullptr;
    if (FAILED(QueryInterface(IID_IOleInPlaceFrame, reinterpret_cast<void**>(frame)))) return E_UNEXPECTED;
    if (FAILED(QueryInterface(IID_IOleInPlaceUIWindow, reinterpret_cast<void**>(document)))) {
        ReleaseAndClear(*frame);
        return E_UNEXPECTED;
    }
    RECT parent{};
    if (!Detached()) GetWindowRect(parentWindow, &parent);
    *position = RECT{0, 0, parent.right - parent.left, parent.bottom - parent.top};
    *clip = *position;
    frameInfo->cb = 20;
    frameInfo->fMDIApp = 0;
    frameInfo->hwndFrame = Detached() ? 0 : parentWindow;
    frameInfo->haccel = 0;
    frameInfo->cAccelEntries = 0;
    return S_OK;
}

HRESULT ActiveXSite::Scroll(SIZE) { return S_OK; }

HRESULT ActiveXSite::OnUIDeactivate(int32_t) {
    uiActive = 0;
    return S_OK;
}

HRESULT ActiveXSite::OnInPlaceDeactivate() {
    inPlaceActive = 0;
    return S_OK;
}

HRESULT ActiveXSite::DiscardUndoState() { return S_OK; }
HRESULT ActiveXSite::DeactivateAndUndo() { return S_OK; }

HRESULT ActiveXSite::OnPosRectChange(const RECT* position) {
    if (inPlaceObject && position && !Detached()) inPlaceObject->SetObjectRects(position, position);
    return S_OK;
}

HRESULT ActiveXSite::OnInPlaceActivateEx(int32_t* noRedraw, uint32_t) {
    if (noRedraw) *noRedraw = 0;
    return S_OK;
}

HRESULT ActiveXSite::OnInPlaceDeactivateEx(int32_t) { return S_OK; }
HRESULT ActiveXSite::RequestUIActivate() { return S_OK; }

// --- IOleInPlaceFrame ------------------------------------------------------------------------

HRESULT ActiveXSite::GetBorder(RECT* border) { return border ? INPLACE_E_NOTOOLSPACE : E_INVALIDARG; }
HRESULT ActiveXSite::RequestBorderSpace(const RECT* widths) { return widths ? INPLACE_E_NOTOOLSPACE : E_INVALIDARG; }
HRESULT ActiveXSite::SetBorderSpace(const RECT*) { return S_OK; }

HRESULT ActiveXSite::SetActiveObject(IOleInPlaceActiveObject* object, const char16_t*) {
    // The new object is held before the old one goes: they may be the same.
    if (object) object->AddRef();
    IOleInPlaceActiveObject* old = activeObject;
    activeObject = object;
    if (old) old->Release();
    return S_OK;
}

HRESULT ActiveXSite::InsertMenus(uintptr_t, OLEMENUGROUPWIDTHS*) { return S_OK; }
HRESULT ActiveXSite::SetMenu(uintptr_t, uintptr_t, HWND) { return S_OK; }
HRESULT ActiveXSite::RemoveMenus(uintptr_t) { return S_OK; }
HRESULT ActiveXSite::SetStatusText(const char16_t*) { return S_OK; }
HRESULT ActiveXSite::EnableModeless(int32_t) { return S_OK; }

HRESULT ActiveXSite::TranslateAccelerator(MSG* message, uint16_t) {
    if (activeObject) activeObject->TranslateAccelerator(message);
    return S_FALSE;
}

// --- IOleItemContainer -------------------------------------------------------------------------

HRESULT ActiveXSite::ParseDisplayName(IBindCtx*, char16_t*, uint32_t*, IMoniker**) { return E_NOTIMPL; }
HRESULT ActiveXSite::EnumObjects(uint32_t, IEnumUnknown**) { return E_NOTIMPL; }
HRESULT ActiveXSite::LockContainer(int32_t) { return S_OK; }

HRESULT ActiveXSite::GetObject(char16_t* item, uint32_t, IBindCtx*, REFIID, void** object) {
    if (!item || !object) return E_INVALIDARG;
    *object = nullptr;
    return MK_E_NOOBJECT;
}

HRESULT ActiveXSite::GetObjectStorage(char16_t* item, IBindCtx*, REFIID, void** storage) {
    if (!item || !storage) return E_INVALIDARG;
    *storage = nullptr;
    return MK_E_NOOBJECT;
}

HRESULT ActiveXSite::IsRunning(char16_t* item) { return item ? MK_E_NOOBJECT : E_INVALIDARG; }

// --- IDispatch: ambient properties -------------------------------------------------------------

HRESULT ActiveXSite::GetTypeInfoCount(uint32_t*) { return E_NOTIMPL; }
HRESULT ActiveXSite::GetTypeInfo(uint32_t, LCID, ITypeInfo**) { return E_NOTIMPL; }
HRESULT ActiveXSite::GetIDsOfNames(REFIID, char16_t**, uint32_t, LCID, DISPID*) { return E_NOTIMPL; }

HRESULT ActiveXSite::Invoke(DISPID member, REFIID, LCID, uint16_t flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                            uint32_t*) {
    if (!(flags & DISPATCH_PROPERTYGET)) return S_OK;
    if (!result) return E_INVALIDARG;
    SetBool(result, false);
    switch (member) {
        case DISPID_AMBIENT_APPEARANCE: SetBool(result, appearance != 0); return S_OK;
        case DISPID_AMBIENT_DISPLAYASDEFAULT: SetBool(result, true); return S_OK;
        case DISPID_AMBIENT_SHOWHATCHING: SetBool(result, showHatching != 0); return S_OK;
        case DISPID_AMBIENT_SHOWGRABHANDLES: SetBool(result, showGrabHandles != 0); return S_OK;
        case DISPID_AMBIENT_USERMODE: SetBool(result, userMode != 0); return S_OK;
        case DISPID_AMBIENT_MESSAGEREFLECT: SetBool(result, false); return S_OK;
        case DISPID_AMBIENT_LOCALEID: SetLong(result, locale); return S_OK;
        case DISPID_AMBIENT_FORECOLOR: SetLong(result, static_cast<int32_t>(foregroundColour)); return S_OK;
        case DISPID_AMBIENT_BACKCOLOR: SetLong(result, static_cast<int32_t>(backgroundColour)); return S_OK;
        default: return DISP_E_MEMBERNOTFOUND;
    }
}

// --- IOleCommandTarget -------------------------------------------------------------------------

HRESULT ActiveXSite::QueryStatus(const GUID*, uint32_t count, OLECMD* commands, OLECMDTEXT*) {
    if (!commands) return E_INVALIDARG;
    for (uint32_t i = 0; i < count; ++i) commands[i].cmdf = 0;
    return S_OK;
}

HRESULT ActiveXSite::Exec(const GUID*, uint32_t, uint32_t, VARIANT*, VARIANT*) { return OLECMDERR_E_NOTSUPPORTED; }

// --- IOleDocumentSite --------------------------------------------------------------------------

HRESULT ActiveXSite::ActivateMe(IOleDocumentView* view) {
    IOleInPlaceSite* inPlaceSite = nullptr;
    if (FAILED(QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&inPlaceSite))) || !inPlaceSite)
        return E_FAIL;
    HRESULT result = S_OK;
    if (view) {
        // The view is held before a view it replaces goes: they may be the same.
        view->AddRef();
        IOleDocumentView* old = documentView;
        documentView = view;
        if (old) old->Release();
    } else {
        IOleDocument* document = nullptr;
        if (!oleObject || FAILED(oleObject->QueryInterface(IID_IOleDocument, reinterpret_cast<void**>(&document))) ||
            !document) {
            result = E_FAIL;
        } else {
            IOleDocumentView* created = nullptr;
            if (FAILED(document->CreateView(inPlaceSite, nullptr, 0, &created)) || !created) {
                result = E_FAIL;
            } else {
                IOleDocumentView* old = documentView;
                documentView = created;
                if (old) old->Release();
            }
            document->Release();
        }
    }
    if (SUCCEEDED(result)) {
        // Held across the calls: the view may be replaced from inside them.
        IOleDocumentView* active = documentView;
        active->AddRef();
        active->SetInPlaceSite(inPlaceSite);
        active->UIActivate(1);
        active->Release();
    }
    inPlaceSite->Release();
    return result;
}

// --- IAdviseSink --------------------------------------------------------------------------------

void ActiveXSite::OnDataChange(FORMATETC*, STGMEDIUM*) {}
void ActiveXSite::OnViewChange(uint32_t, int32_t) {}
void ActiveXSite::OnRename(IMoniker*) {}
void ActiveXSite::OnSave() {}
void ActiveXSite::OnClose() {}

// --- IOleControlSite -----------------------------------------------------------------------------

HRESULT ActiveXSite::OnControlInfoChanged() { return S_OK; }

HRESULT ActiveXSite::LockInPlaceActive(int32_t lock) {
    inPlaceActiveLock = lock != 0 ? 1 : 0;
    return S_OK;
}

HRESULT ActiveXSite::GetExtendedControl(IDispatch** control) {
    if (control) *control = nullptr;
    return E_NOTIMPL;
}

HRESULT ActiveXSite::TransformCoords(POINTL* himetric, POINTF* container, uint32_t) {
    return himetric && container ? E_NOTIMPL : E_INVALIDARG;
}

HRESULT ActiveXSite::TranslateAccelerator(MSG*, uint32_t) { return E_NOTIMPL; }
HRESULT ActiveXSite::OnFocus(int32_t) { return S_OK; }
HRESULT ActiveXSite::ShowPropertyFrame() { return E_NOTIMPL; }

// --- sizes and placement --------------------------------------------------------------------------

SIZE HimetricFromPixels(SIZE pixels, int dotsPerInchX, int dotsPerInchY) {
    if (dotsPerInchX <= 0) dotsPerInchX = kDefaultDpi;
    if (dotsPerInchY <= 0) dotsPerInchY = kDefaultDpi;
    const int64_t width = static_cast<int64_t>(pixels.cx) * 2540 / dotsPerInchX;
    const int64_t height = static_cast<int64_t>(pixels.cy) * 2540 / dotsPerInchY;
    return SIZE{static_cast<int32_t>(width), static_cast<int32_t>(height)};
}

SIZE PixelsToHimetric(SIZE pixels) {
    // The screen's dots per inch, read once for the whole process.
    static const SIZE dotsPerInch = [] {
        const HDC screen = GetDC(0);
        SIZE dpi{screen ? GetDeviceCaps(screen, LOGPIXELSX) : 0, screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0};
        if (screen) ReleaseDC(0, screen);
        if (dpi.cx <= 0) dpi.cx = ScreenDpi();
        if (dpi.cy <= 0) dpi.cy = ScreenDpi();
        return dpi;
    }();
    return HimetricFromPixels(pixels, dotsPerInch.cx, dotsPerInch.cy);
}

void SetActiveXRect(ActiveXSite* site, int32_t x, int32_t y, int32_t cx, int32_t cy) {
    if (!site || site->Detached()) return;
    if (IOleObject* object = site->oleObject) {
        const SIZE wanted = PixelsToHimetric(SIZE{cx, cy});
        SIZEL current{};
        const bool known = SUCCEEDED(object->GetExtent(DVASPECT_CONTENT, &current));
        if (!known || current.cx != wanted.cx || current.cy != wanted.cy) {
            SIZEL extent{wanted.cx, wanted.cy};
            object->SetExtent(DVASPECT_CONTENT, &extent);
        }
    }
    if (IOleInPlaceObject* inPlace = site->inPlaceObject) {
        const RECT position{x, y, x + cx, y + cy};
        inPlace->SetObjectRects(&position, &position);
    }
}

// --- live sites --------------------------------------------------------------------------------------

void RegisterLiveActiveXSite(ActiveXSite* site) { LiveSites().push_back(LiveSite{site, site->context}); }

void ForgetLiveActiveXSite(ActiveXSite* site) {
    auto& sites = LiveSites();
    sites.erase(std::remove_if(sites.begin(), sites.end(), [site](const LiveSite& s) { return s.site == site; }),
                sites.end());
}

ActiveXSite* FindLiveActiveXSite(double handle) {
    if (!(handle >= 1.0 && handle < 4294967296.0)) return nullptr;
    const auto word = static_cast<uint32_t>(handle);
    for (const LiveSite& s : LiveSites())
        if (LowAddress(s.site) == word) return s.site;
    return nullptr;
}

int32_t CountLiveActiveXSites() { return static_cast<int32_t>(LiveSites().size()); }
int32_t CountAllocatedActiveXSites() { return gAllocatedSites.load(); }

std::vector<ActiveXSite*> LiveActiveXSitesOf(const ProgramContext* context) {
    std::vector<ActiveXSite*> sites;
    for (const LiveSite& s : LiveSites())
        if (s.context == context) sites.push_back(s.site);
    return sites;
}

}  // namespace qob
