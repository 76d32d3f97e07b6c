// tests/windows/activex_test_control_support.cpp
// The test controls: their type library, embedding, in-place window, view,
// document mode and ledger.
#include "activex_test_control_support.h"

#include <string>

#include "platform/gdi.h"
#include "platform/window_manager.h"

namespace qob::testing {

using namespace platform;

namespace {

constexpr CLSID ControlClsid(uint8_t n) { return CLSID{0x51B03000, 0x0001, 0x4000, {0x8A, 0x00, 0x51, 0x0B, 0x30, 0x00, 0x00, n}}; }

constexpr uint32_t kVisibleStatus = OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT | OLEMISC_RECOMPOSEONRESIZE;

const ControlClass kClasses[] = {
    {ControlKind::Plain, u"QOB.TestControl", ControlClsid(1), kVisibleStatus},
    {ControlKind::Invisible, u"QOB.TestControlInvisible", ControlClsid(2), OLEMISC_INVISIBLEATRUNTIME},
    {ControlKind::SiteFirst, u"QOB.TestControlSiteFirst", ControlClsid(3), kVisibleStatus | OLEMISC_SETCLIENTSITEFIRST},
    {ControlKind::Document, u"QOB.TestControlDocument", ControlClsid(4), kVisibleStatus},
};

const IID kTestControlIid{0x51B03000, 0x0002, 0x4000, {0x8A, 0x00, 0x51, 0x0B, 0x30, 0x00, 0x00, 0x01}};
const char16_t kWindowClass[] = u"QOBTestControlWindow";
constexpr COLORREF kDefaultColour = RGB(0x20, 0x80, 0xC0);

enum TypeIndex : int32_t { kControlType = 0, kEventsType = 1, kClassType = 2 };

ParamSpec Param(const char16_t* name, TypeSpec type, uint16_t flags = PARAMFLAG_FIN) {
    return ParamSpec{name, std::move(type), flags};
}

void AddProperty(TypeLibraryBuilder& builder, const char16_t* name, DISPID id, VARTYPE vt, bool writable) {
    builder.AddFunction(kControlType, FunctionSpec{name, id, INVOKE_PROPERTYGET, TypeSpec::Of(vt), {}});
    if (writable)
        builder.AddFunction(kControlType, FunctionSpec{name, id, INVOKE_PROPERTYPUT, TypeSpec::Of(VT_VOID),
                                                       {Param(u"value", TypeSpec::Of(vt))}});
}

void AddEvent(TypeLibraryBuilder& builder, const char16_t* name, DISPID id, std::vector<ParamSpec> params) {
    builder.AddFunction(kEventsType, FunctionSpec{name, id, INVOKE_FUNC, TypeSpec::Of(VT_VOID), std::move(params)});
}

ITypeLib* BuildTypeLib() {
    TypeLibraryBuilder builder(u"QobTestControls");
    builder.AddType(u"ITestControl", TKIND_DISPATCH, kTestControlIid, TYPEFLAG_FDUAL);
    builder.AddType(u"ITestControlEvents", TKIND_DISPATCH, kTestControlEventsIid);
    builder.AddType(u"TestControl", TKIND_COCLASS, kClasses[0].clsid);
    AddProperty(builder, u"Color", kControlColor, VT_I4, true);
    AddProperty(builder, u"Caption", kControlCaption, VT_BSTR, true);
    AddProperty(builder, u"Value", kControlValue, VT_R8, true);
    AddProperty(builder, u"ExtentWidth", kControlExtentWidth, VT_I4, false);
    AddProperty(builder, u"ExtentHeight", kControlExtentHeight, VT_I4, false);
    AddProperty(builder, u"Activations", kControlActivations, VT_I4, false);
    const uint16_t optional = PARAMFLAG_FIN | PARAMFLAG_FOPT;
    builder.AddFunction(kControlType, FunctionSpec{u"Raise", kControlRaise, INVOKE_FUNC, TypeSpec::Of(VT_I4),
                                                   {Param(u"id", TypeSpec::Of(VT_I4)),
                                                    Param(u"a", TypeSpec::Of(VT_VARIANT), optional),
                                                    Param(u"b", TypeSpec::Of(VT_VARIANT), optional),
                                                    Param(u"c", TypeSpec::Of(VT_VARIANT), optional),
                                                    Param(u"d", TypeSpec::Of(VT_VARIANT), optional)}});
    const TypeSpec shortRef = TypeSpec::PointerTo(TypeSpec::Of(VT_I2));
    AddEvent(builder, u"Custom", kCustomEvent,
             {Param(u"a", TypeSpec::Of(VT_R8)), Param(u"b", TypeSpec::Of(VT_R8)), Param(u"c", TypeSpec::Of(VT_R8))});
    for (auto [name, id] : {std::pair{u"MouseDown", DISPID_MOUSEDOWN}, std::pair{u"MouseMove", DISPID_MOUSEMOVE},
                            std::pair{u"MouseUp", DISPID_MOUSEUP}})
        AddEvent(builder, name, id,
                 {Param(u"Button", TypeSpec::Of(VT_I2)), Param(u"Shift", TypeSpec::Of(VT_I2)),
                  Param(u"X", TypeSpec::Of(VT_I4)), Param(u"Y", TypeSpec::Of(VT_I4))});
    AddEvent(builder, u"KeyDown", DISPID_KEYDOWN, {Param(u"KeyCode", shortRef), Param(u"Shift", TypeSpec::Of(VT_I2))});
    AddEvent(builder, u"KeyUp", DISPID_KEYUP, {Param(u"KeyCode", shortRef), Param(u"Shift", TypeSpec::Of(VT_I2))});
    AddEvent(builder, u"KeyPress", DISPID_KEYPRESS, {Param(u"KeyAscii", shortRef)});
    builder.AddImplementedType(kClassType, kControlType, IMPLTYPEFLAG_FDEFAULT);
    builder.AddImplementedType(kClassType, kEventsType, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
    return builder.Build();
}

ITypeLib* ControlTypeLib() {
    // Built once; the first reference stays with the process.
    static ITypeLib* library = BuildTypeLib();
    if (library) library->AddRef();
    return library;
}

ITypeInfo* ControlTypeInfo() {
    ITypeLib* library = ControlTypeLib();
    ITypeInfo* info = nullptr;
    if (library) {
        library->GetTypeInfo(kControlType, &info);
        library->Release();
    }
    return info;
}

std::string RectText(const RECT& r) {
    return std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) + " " +
           std::to_string(r.bottom);
}

LRESULT ControlWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void EnsureWindowClass() {
    WNDCLASSW existing;
    if (GetClassInfoW(0, kWindowClass, &existing)) return;
    WNDCLASSW windowClass;
    windowClass.lpfnWndProc = ControlWindowProcedure;
    windowClass.lpszClassName = kWindowClass;
    (void)RegisterClassW(&windowClass);
}

class TestControl;
class TestView;

}  // namespace

std::atomic<int> LiveTestControls{0};
const IID kTestControlEventsIid{0x51B03000, 0x0002, 0x4000, {0x8A, 0x00, 0x51, 0x0B, 0x30, 0x00, 0x00, 0x02}};

namespace {

class TestControl final : public DispatchObject,
                          public IOleObject,
                          public IOleInPlaceObject,
                          public IOleInPlaceActiveObject,
                          public IViewObject,
                          public IPersistStreamInit,
                          public IRunnableObject,
                          public IOleDocument {
  public:
    explicit TestControl(const ControlClass& type) : DispatchObject(ControlTypeInfo(), &kTestControlEventsIid), type_(type) {
        ++LiveTestControls;
        // The type information was taken with its own reference.
        ITypeInfo* info = nullptr;
        DispatchObject::GetTypeInfo(0, 0, &info);
        if (info) {
            info->Release();
            info->Release();
        }
        VariantInit(&caption_);
        SetVariantPointer(&caption_, VT_BSTR, SysAllocString(u""));
        BindMembers();
    }
    ~TestControl() override {
        VariantClear(&caption_);
        --LiveTestControls;
    }

    ControlLedger ledger;
    COLORREF colour = kDefaultColour;

    // IUnknown for every interface.
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid == IID_IOleObject) *object = static_cast<IOleObject*>(this);
        else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceObject) *object = static_cast<IOleInPlaceObject*>(this);
        else if (iid == IID_IOleInPlaceActiveObject) *object = static_cast<IOleInPlaceActiveObject*>(this);
        else if (iid == IID_IViewObject) *object = static_cast<IViewObject*>(this);
        else if (iid == IID_IPersistStreamInit) *object = static_cast<IPersistStreamInit*>(this);
        else if (iid == IID_IRunnableObject) *object = static_cast<IRunnableObject*>(this);
        else if (iid == IID_IOleDocument && type_.kind == ControlKind::Document) *object = static_cast<IOleDocument*>(this);
        else return DispatchObject::QueryInterface(iid, object);
        AddRef();
        return S_OK;
    }
    uint32_t AddRef() override { return DispatchObject::AddRef(); }
    uint32_t Release() override { return DispatchObject::Release(); }

    // IOleObject
    HRESULT SetClientSite(IOleClientSite* site) override {
        ledger.calls.push_back(site ? "SetClientSite" : "SetClientSite null");
        if (site) Hold(site);
        if (IOleClientSite* old = clientSite_) Drop(old);
        clientSite_ = site;
        if (site) ReadAmbients();
        return S_OK;
    }
    HRESULT GetClientSite(IOleClientSite** site) override {
        if (!site) return E_POINTER;
        *site = clientSite_;
        if (clientSite_) clientSite_->AddRef();
        return S_OK;
    }
    HRESULT SetHostNames(const char16_t* container, const char16_t*) override {
        std::string name;
        for (const char16_t* c = container; c && *c; ++c) name += static_cast<char>(*c);
        ledger.calls.push_back("SetHostNames " + name);
        return S_OK;
    }
    HRESULT Close(uint32_t option) override {
        ledger.calls.push_back("Close " + std::to_string(option));
        Deactivate();
        return S_OK;
    }
    HRESULT SetMoniker(uint32_t, IMoniker*) override { return E_NOTIMPL; }
    HRESULT GetMoniker(uint32_t, uint32_t, IMoniker** moniker) override {
        if (moniker) *moniker = nullptr;
        return E_NOTIMPL;
    }
    HRESULT InitFromData(IDataObject*, int32_t, uint32_t) override { return E_NOTIMPL; }
    HRESULT GetClipboardData(uint32_t, IDataObject**) override { return E_NOTIMPL; }
    HRESULT DoVerb(int32_t verb, MSG*, IOleClientSite*, int32_t, HWND, const RECT*) override {
        ledger.calls.push_back("DoVerb " + std::to_string(verb));
        if (verb == OLEIVERB_HIDE) {
            if (window_) ShowWindow(window_, SW_HIDE);
            return S_OK;
        }
        if (verb == OLEIVERB_INPLACEACTIVATE || verb == OLEIVERB_SHOW || verb == OLEIVERB_UIACTIVATE) {
            if (type_.kind == ControlKind::Document) return ActivateAsDocument();
            return Activate();
        }
        return S_OK;
    }
    HRESULT EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
    HRESULT Update() override { return S_OK; }
    HRESULT IsUpToDate() override { return S_OK; }
    HRESULT GetUserClassID(CLSID* clsid) override {
        if (!clsid) return E_POINTER;
        *clsid = type_.clsid;
        return S_OK;
    }
    HRESULT GetUserType(uint32_t, char16_t**) override { return E_NOTIMPL; }
    HRESULT SetExtent(uint32_t aspect, SIZEL* size) override {
        if (!size) return E_POINTER;
        ledger.calls.push_back("SetExtent " + std::to_string(size->cx) + " " + std::to_string(size->cy));
        if (aspect != DVASPECT_CONTENT) return E_INVALIDARG;
        extent_ = *size;
        return S_OK;
    }
    HRESULT GetExtent(uint32_t aspect, SIZEL* size) override {
        if (!size) return E_POINTER;
        if (aspect != DVASPECT_CONTENT) return E_INVALIDARG;
        *size = extent_;
        return S_OK;
    }
    HRESULT Advise(IAdviseSink* sink, uint32_t* connection) override {
        if (!sink || !connection) return E_POINTER;
        ledger.calls.push_back("Advise");
        if (adviseSink_) return E_FAIL;
        Hold(sink);
        adviseSink_ = sink;
        *connection = 7;
        return S_OK;
    }
    HRESULT Unadvise(uint32_t connection) override {
        ledger.calls.push_back("Unadvise " + std::to_string(connection));
        if (connection != 7 || !adviseSink_) return OLE_E_NOCONNECTION;
        IAdviseSink* sink = adviseSink_;
        adviseSink_ = nullptr;
        Drop(sink);
        return S_OK;
    }
    HRESULT EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
    HRESULT GetMiscStatus(uint32_t aspect, uint32_t* status) override {
        if (!status) return E_POINTER;
        *status = aspect == DVASPECT_CONTENT ? type_.miscStatus : 0;
        return S_OK;
    }
    HRESULT SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // IOleWindow (in-place object and active object)
    HRESULT GetWindow(HWND* window) override {
        if (!window) return E_POINTER;
        *window = window_;
        return window_ ? S_OK : E_FAIL;
    }
    HRESULT ContextSensitiveHelp(int32_t) override { return E_NOTIMPL; }

    // IOleInPlaceObject
    HRESULT InPlaceDeactivate() override {
        ledger.calls.push_back("InPlaceDeactivate");
        Deactivate();
        return S_OK;
    }
    HRESULT UIDeactivate() override {
        ledger.calls.push_back("UIDeactivate");
        if (uiActive_ && inPlaceSite_) inPlaceSite_->OnUIDeactivate(0);
        uiActive_ = false;
        return S_OK;
    }
    HRESULT SetObjectRects(const RECT* position, const RECT*) override {
        if (!position) return E_POINTER;
        ledger.calls.push_back("SetObjectRects " + RectText(*position));
        position_ = *position;
        if (window_)
            MoveWindow(window_, position->left, position->top, position->right - position->left,
                       position->bottom - position->top, true);
        return S_OK;
    }
    HRESULT ReactivateAndUndo() override { return E_NOTIMPL; }

    // IOleInPlaceActiveObject
    HRESULT TranslateAccelerator(MSG*) override {
        ledger.calls.push_back("TranslateAccelerator");
        return S_FALSE;
    }
    HRESULT OnFrameWindowActivate(int32_t) override { return S_OK; }
    HRESULT OnDocWindowActivate(int32_t) override { return S_OK; }
    HRESULT ResizeBorder(const RECT*, IOleInPlaceUIWindow*, int32_t) override { return S_OK; }
    HRESULT EnableModeless(int32_t) override { return S_OK; }

    // IViewObject: the bounds' inside, one pixel in from their edge, in the control's colour.
    HRESULT Draw(uint32_t aspect, int32_t, void*, DVTARGETDEVICE*, uintptr_t, uintptr_t dc, const RECTL* bounds,
                 const RECTL*, int32_t (*)(uintptr_t), uintptr_t) override {
        if (aspect != DVASPECT_CONTENT || !dc || !bounds) return E_INVALIDARG;
        ++ledger.draws;
        ledger.calls.push_back("Draw " + RectText(*bounds));
        PaintInside(dc, *bounds);
        return S_OK;
    }
    HRESULT GetColorSet(uint32_t, int32_t, void*, DVTARGETDEVICE*, uintptr_t, LOGPALETTE** colors) override {
        if (colors) *colors = nullptr;
        return S_FALSE;
    }
    HRESULT Freeze(uint32_t, int32_t, void*, uint32_t*) override { return E_NOTIMPL; }
    HRESULT Unfreeze(uint32_t) override { return E_NOTIMPL; }
    HRESULT SetAdvise(uint32_t, uint32_t, IAdviseSink*) override { return E_NOTIMPL; }
    HRESULT GetAdvise(uint32_t*, uint32_t*, IAdviseSink**) override { return E_NOTIMPL; }

    // IPersistStreamInit
    HRESULT GetClassID(CLSID* clsid) override { return GetUserClassID(clsid); }
    HRESULT IsDirty() override { return S_FALSE; }
    HRESULT Load(IStream*) override { return E_NOTIMPL; }
    HRESULT Save(IStream*, int32_t) override { return E_NOTIMPL; }
    HRESULT GetSizeMax(uint64_t*) override { return E_NOTIMPL; }
    HRESULT InitNew() override {
        ledger.calls.push_back("InitNew");
        return S_OK;
    }

    // IRunnableObject
    HRESULT GetRunningClass(CLSID* clsid) override { return GetUserClassID(clsid); }
    HRESULT Run(IBindCtx*) override {
        ledger.calls.push_back("Run");
        return S_OK;
    }
    int32_t IsRunning() override { return 1; }
    HRESULT LockRunning(int32_t, int32_t) override { return S_OK; }
    HRESULT SetContainedObject(int32_t contained) override {
        ledger.calls.push_back("SetContainedObject " + std::to_string(contained));
        return S_OK;
    }

    // IOleDocument
    inline HRESULT CreateView(IOleInPlaceSite* site, IStream*, uint32_t, IOleDocumentView** view) override;
    HRESULT GetDocMiscStatus(uint32_t* status) override {
        if (!status) return E_POINTER;
        *status = 0;
        return S_OK;
    }
    HRESULT EnumViews(IEnumOleDocumentViews**, IOleDocumentView**) override { return E_NOTIMPL; }

    // In-place activation with the site given (the document view's road).
    HRESULT ActivateWith(IOleInPlaceSite* site) {
        if (!site) return E_INVALIDARG;
        if (window_) return S_OK;
        Hold(site);
        if (IOleInPlaceSite* old = inPlaceSite_) Drop(old);
        inPlaceSite_ = site;
        return ActivateInPlace();
    }

    void Deactivate() {
        if (uiActive_ && inPlaceSite_) inPlaceSite_->OnUIDeactivate(0);
        uiActive_ = false;
        if (frame_) frame_->SetActiveObject(nullptr, nullptr);
        if (window_) {
            const HWND window = window_;
            window_ = 0;
            DestroyWindow(window);
        }
        if (inPlaceSite_ && active_) inPlaceSite_->OnInPlaceDeactivate();
        active_ = false;
        if (frame_) {
            Drop(frame_);
            frame_ = nullptr;
        }
        if (document_) {
            Drop(document_);
            document_ = nullptr;
        }
        if (inPlaceSite_) {
            IOleInPlaceSite* site = inPlaceSite_;
            inPlaceSite_ = nullptr;
            Drop(site);
        }
    }

    // Window input as stock events.
    void OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) {
        const auto x = static_cast<int16_t>(lParam & 0xFFFF);
        const auto y = static_cast<int16_t>((lParam >> 16) & 0xFFFF);
        switch (message) {
            case WM_LBUTTONDOWN: FireMouse(DISPID_MOUSEDOWN, 1, x, y); break;
            case WM_LBUTTONUP: FireMouse(DISPID_MOUSEUP, 1, x, y); break;
            case WM_MOUSEMOVE: FireMouse(DISPID_MOUSEMOVE, (wParam & MK_LBUTTON) ? 1 : 0, x, y); break;
            case WM_KEYDOWN: FireKey(DISPID_KEYDOWN, static_cast<int16_t>(wParam)); break;
            case WM_KEYUP: FireKey(DISPID_KEYUP, static_cast<int16_t>(wParam)); break;
            case WM_CHAR: {
                // By-reference targets live in the control: low memory, as VARIANTs need.
                keyTarget_ = static_cast<int16_t>(wParam);
                VARIANT argument{};
                SetVariantPointer(&argument, VT_BYREF | VT_I2, &keyTarget_);
                FireEvent(DISPID_KEYPRESS, std::span<const VARIANT>(&argument, 1));
                break;
            }
            default: break;
        }
    }
    void PaintInside(uintptr_t dc, const RECT& bounds) {
        const RECT inside{bounds.left + 1, bounds.top + 1, bounds.right - 1, bounds.bottom - 1};
        const HBRUSH brush = CreateSolidBrush(colour);
        FillRect(dc, &inside, brush);
        DeleteObject(brush);
    }

  private:
    void Hold(IUnknown* site) {
        site->AddRef();
        ++ledger.siteReferencesHeld;
        ++ledger.siteReferencesTaken;
    }
    template <class T>
    void Drop(T* site) {
        --ledger.siteReferencesHeld;
        site->Release();
    }

    // Reads the ambient properties the way a control does: VT_BOOL compared with VARIANT_TRUE.
    void ReadAmbients() {
        IDispatch* ambient = nullptr;
        if (FAILED(clientSite_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&ambient))) || !ambient) return;
        VARIANT result{};
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        if (SUCCEEDED(ambient->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result,
                                      nullptr, nullptr)))
            ledger.calls.push_back(std::string("UserMode ") +
                                   (result.vt == VT_BOOL && result.boolVal == VARIANT_TRUE ? "true" : "false"));
        ambient->Release();
    }

    HRESULT Activate() {
        if (window_) return S_OK;
        if (!clientSite_) return E_UNEXPECTED;
        IOleInPlaceSite* site = nullptr;
        if (FAILED(clientSite_->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&site))) || !site)
            return E_NOINTERFACE;
        ++ledger.siteReferencesHeld;
        ++ledger.siteReferencesTaken;
        inPlaceSite_ = site;
        return ActivateInPlace();
    }

    HRESULT ActivateInPlace() {
        if (inPlaceSite_->CanInPlaceActivate() != S_OK) return E_FAIL;
        inPlaceSite_->OnInPlaceActivate();
        active_ = true;
        ++ledger.inPlaceActivations;
        HWND parent = 0;
        inPlaceSite_->GetWindow(&parent);
        IOleInPlaceFrame* frame = nullptr;
        IOleInPlaceUIWindow* document = nullptr;
        RECT position{}, clip{};
        OLEINPLACEFRAMEINFO info{};
        if (SUCCEEDED(inPlaceSite_->GetWindowContext(&frame, &document, &position, &clip, &info))) {
            ++ledger.siteReferencesHeld;
            ++ledger.siteReferencesTaken;
            frame_ = frame;
            if (document) {
                ++ledger.siteReferencesHeld;
                ++ledger.siteReferencesTaken;
                document_ = document;
            }
        }
        if (position_.right > position_.left) position = position_;
        EnsureWindowClass();
        window_ = CreateWindowExW(0, kWindowClass, u"", WS_CHILD | WS_VISIBLE, position.left, position.top,
                                  position.right - position.left, position.bottom - position.top, parent, 0, 0,
                                  nullptr);
        if (window_) SetWindowLongPtrW(window_, GWL_USERDATA, reinterpret_cast<intptr_t>(this));
        inPlaceSite_->OnUIActivate();
        uiActive_ = true;
        if (frame_) frame_->SetActiveObject(static_cast<IOleInPlaceActiveObject*>(this), u"QOB.TestControl");
        return S_OK;
    }

    HRESULT ActivateAsDocument() {
        if (window_ || !clientSite_) return S_OK;
        IOleDocumentSite* documentSite = nullptr;
        if (FAILED(clientSite_->QueryInterface(IID_IOleDocumentSite, reinterpret_cast<void**>(&documentSite))) ||
            !documentSite)
            return E_NOINTERFACE;
        const HRESULT result = documentSite->ActivateMe(nullptr);
        documentSite->Release();
        ledger.calls.push_back("ActivateMe " + std::to_string(result));
        return result;
    }

    void FireMouse(DISPID id, int16_t button, int32_t x, int32_t y) {
        VARIANT arguments[4] = {};
        arguments[0].vt = VT_I2;
        arguments[0].iVal = button;
        arguments[1].vt = VT_I2;
        arguments[1].iVal = 0;
        arguments[2].vt = VT_I4;
        arguments[2].lVal = x;
        arguments[3].vt = VT_I4;
        arguments[3].lVal = y;
        FireEvent(id, arguments);
    }
    void FireKey(DISPID id, int16_t code) {
        keyTarget_ = code;
        VARIANT arguments[2] = {};
        SetVariantPointer(&arguments[0], VT_BYREF | VT_I2, &keyTarget_);
        arguments[1].vt = VT_I2;
        arguments[1].iVal = 0;
        FireEvent(id, arguments);
    }

    void BindMembers() {
        Bind(kControlColor, INVOKE_PROPERTYGET, [this](std::span<VARIANT>, VARIANT* result, EXCEPINFO*) {
            result->vt = VT_I4;
            result->lVal = static_cast<int32_t>(colour);
            return S_OK;
        });
        Bind(kControlColor, INVOKE_PROPERTYPUT, [this](std::span<VARIANT> args, VARIANT*, EXCEPINFO*) {
            colour = static_cast<COLORREF>(args[0].lVal);
            if (window_) InvalidateRect(window_, nullptr, true);
            return S_OK;
        });
        Bind(kControlCaption, INVOKE_PROPERTYGET, [this](std::span<VARIANT>, VARIANT* result, EXCEPINFO*) {
            return VariantCopy(result, &caption_);
        });
        Bind(kControlCaption, INVOKE_PROPERTYPUT, [this](std::span<VARIANT> args, VARIANT*, EXCEPINFO*) {
            return VariantCopy(&caption_, &args[0]);
        });
        Bind(kControlValue, INVOKE_PROPERTYGET, [this](std::span<VARIANT>, VARIANT* result, EXCEPINFO*) {
            result->vt = VT_R8;
            result->dblVal = value_;
            return S_OK;
        });
        Bind(kControlValue, INVOKE_PROPERTYPUT, [this](std::span<VARIANT> args, VARIANT*, EXCEPINFO*) {
            value_ = args[0].dblVal;
            return S_OK;
        });
        Bind(kControlExtentWidth, INVOKE_PROPERTYGET, [this](std::span<VARIANT>, VARIANT* result, EXCEPINFO*) {
            result->vt = VT_I4;
            result->lVal = extent_.cx;
            return S_OK;
        });
        Bind(kControlExtentHeight, INVOKE_PROPERTYGET, [this](std::span<VARIANT>, VARIANT* result, EXCEPINFO*) {
            result->vt = VT_I4;
            result->lVal = extent_.cy;
            return S_OK;
        });
        Bind(kControlActivations, INVOKE_PROPERTYGET, [this](std::span<VARIANT>, VARIANT* result, EXCEPINFO*) {
            result->vt = VT_I4;
            result->lVal = ledger.inPlaceActivations;
            return S_OK;
        });
        // Raise(id, [a], [b], [c], [d]): fires event id with the arguments given.
        Bind(kControlRaise, INVOKE_FUNC, [this](std::span<VARIANT> args, VARIANT* result, EXCEPINFO*) {
            std::vector<VARIANT> given;
            for (size_t i = 1; i < args.size(); ++i) {
                if (args[i].vt == VT_ERROR && args[i].scode == DISP_E_PARAMNOTFOUND) break;
                given.push_back(args[i]);
            }
            result->vt = VT_I4;
            result->lVal = FireEvent(args[0].lVal, given);
            return S_OK;
        });
    }

    const ControlClass& type_;
    IOleClientSite* clientSite_ = nullptr;
    IAdviseSink* adviseSink_ = nullptr;
    IOleInPlaceSite* inPlaceSite_ = nullptr;
    IOleInPlaceFrame* frame_ = nullptr;
    IOleInPlaceUIWindow* document_ = nullptr;
    HWND window_ = 0;
    bool active_ = false;
    bool uiActive_ = false;
    SIZEL extent_{2540, 2540};
    RECT position_{};
    VARIANT caption_;
    double value_ = 0.0;
    int16_t keyTarget_ = 0;
};

// The document view of a control in document mode: it activates its control
// in place through the site it is given.
class TestView final : public IOleDocumentView, public LowMemoryObject {
  public:
    explicit TestView(TestControl* control) : control_(control) { control_->AddRef(); }

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IOleDocumentView) {
            *object = static_cast<IOleDocumentView*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    uint32_t AddRef() override { return ++references_; }
    uint32_t Release() override {
        const uint32_t left = --references_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT SetInPlaceSite(IOleInPlaceSite* site) override {
        control_->ledger.calls.push_back(site ? "View SetInPlaceSite" : "View SetInPlaceSite null");
        if (site) site->AddRef();
        if (site_) site_->Release();
        site_ = site;
        return S_OK;
    }
    HRESULT GetInPlaceSite(IOleInPlaceSite** site) override {
        if (!site) return E_POINTER;
        *site = site_;
        if (site_) site_->AddRef();
        return S_OK;
    }
    HRESULT GetDocument(IUnknown** document) override {
        if (!document) return E_POINTER;
        *document = static_cast<IOleObject*>(control_);
        control_->AddRef();
        return S_OK;
    }
    HRESULT SetRect(RECT*) override { return S_OK; }
    HRESULT GetRect(RECT*) override { return E_NOTIMPL; }
    HRESULT SetRectComplex(RECT*, RECT*, RECT*, RECT*) override { return E_NOTIMPL; }
    HRESULT Show(int32_t) override { return S_OK; }
    HRESULT UIActivate(int32_t activate) override {
        control_->ledger.calls.push_back("View UIActivate " + std::to_string(activate));
        return activate ? control_->ActivateWith(site_) : S_OK;
    }
    HRESULT Open() override { return E_NOTIMPL; }
    HRESULT CloseView(uint32_t) override { return S_OK; }
    HRESULT SaveViewState(IStream*) override { return E_NOTIMPL; }
    HRESULT ApplyViewState(IStream*) override { return E_NOTIMPL; }
    HRESULT Clone(IOleInPlaceSite*, IOleDocumentView**) override { return E_NOTIMPL; }

  private:
    ~TestView() {
        if (site_) site_->Release();
        control_->Release();
    }
    std::atomic<uint32_t> references_{1};
    TestControl* control_;
    IOleInPlaceSite* site_ = nullptr;
};

HRESULT TestControl::CreateView(IOleInPlaceSite* site, IStream*, uint32_t, IOleDocumentView** view) {
    if (!view) return E_POINTER;
    ledger.calls.push_back("CreateView");
    auto* created = new TestView(this);
    if (site) created->SetInPlaceSite(site);
    *view = created;
    return S_OK;
}

TestControl* FromInterface(IUnknown* object) {
    if (!object) return nullptr;
    // Every interface of a test control leads to its IOleObject.
    IOleObject* ole = nullptr;
    if (FAILED(object->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole))) || !ole) return nullptr;
    auto* control = dynamic_cast<TestControl*>(ole);
    ole->Release();
    return control;
}

LRESULT ControlWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* control = reinterpret_cast<TestControl*>(GetWindowLongPtrW(window, GWL_USERDATA));
    if (control) {
        if (message == WM_PAINT) {
            PAINTSTRUCT paint{};
            const HDC dc = BeginPaint(window, &paint);
            RECT client{};
            GetClientRect(window, &client);
            const HBRUSH brush = CreateSolidBrush(control->colour);
            FillRect(dc, &client, brush);
            DeleteObject(brush);
            EndPaint(window, &paint);
            return 0;
        }
        // Held while its events run: a procedure may free the control.
        control->AddRef();
        control->OnWindowMessage(message, wParam, lParam);
        control->Release();
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

template <ControlKind kind>
IUnknown* CreateControl() {
    for (const ControlClass& type : kClasses)
        if (type.kind == kind) return static_cast<IDispatch*>(new TestControl(type));
    return nullptr;
}

SimpleClassFactory::Create CreatorOf(ControlKind kind) {
    switch (kind) {
        case ControlKind::Plain: return CreateControl<ControlKind::Plain>;
        case ControlKind::Invisible: return CreateControl<ControlKind::Invisible>;
        case ControlKind::SiteFirst: return CreateControl<ControlKind::SiteFirst>;
        case ControlKind::Document: return CreateControl<ControlKind::Document>;
    }
    return nullptr;
}

}  // namespace

std::span<const ControlClass> TestControlClasses() { return kClasses; }

ControlLedger* TestControlLedger(IUnknown* control) {
    TestControl* test = FromInterface(control);
    return test ? &test->ledger : nullptr;
}

bool LedgerHas(const ControlLedger& ledger, std::string_view call) {
    for (const std::string& c : ledger.calls)
        if (std::string_view(c).substr(0, call.size()) == call) return true;
    return false;
}

int FireTestControlEvent(IUnknown* control, DISPID id, std::span<const VARIANT> arguments) {
    TestControl* test = FromInterface(control);
    return test ? test->FireEvent(id, arguments) : 0;
}

uint32_t TestControlColour(IUnknown* control) {
    TestControl* test = FromInterface(control);
    return test ? test->colour : 0;
}

IClassFactory* NewTestControlFactory(ControlKind kind) { return new SimpleClassFactory(CreatorOf(kind)); }

void RegisterTestControlClasses() {
    for (const ControlClass& type : kClasses) {
        IClassFactory* factory = NewTestControlFactory(type.kind);
        RegisterBuiltinClassFactory(type.progId, factory);
        factory->Release();
        (void)RegisterComClass(type.clsid, type.progId, u"builtin:" + std::u16string(type.progId), true);
    }
}

HRESULT RegisterTestControlServer(std::u16string_view path) {
    for (const ControlClass& type : kClasses) {
        const HRESULT result = RegisterComClass(type.clsid, type.progId, path, true);
        if (FAILED(result)) return result;
    }
    return S_OK;
}

}  // namespace qob::testing
