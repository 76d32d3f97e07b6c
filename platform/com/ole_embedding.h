// platform/com/ole_embedding.h
// The interfaces that embed a control in a container window (client site,
// in-place site and frame, document site, view object, ...), as abstract
// classes in their published slot order, with their records, constants and
// the two helpers OleRun and OleSetContainedObject.
#pragma once

#include <cstdint>

#include "platform/com/interfaces.h"
#include "platform/message_queue.h"
#include "platform/surface.h"

namespace qob::platform {

// Interface identifiers (our own values).
extern const IID IID_IOleWindow;
extern const IID IID_IOleClientSite;
extern const IID IID_IOleInPlaceSite;
extern const IID IID_IOleInPlaceSiteEx;
extern const IID IID_IOleInPlaceUIWindow;
extern const IID IID_IOleInPlaceFrame;
extern const IID IID_IParseDisplayName;
extern const IID IID_IOleContainer;
extern const IID IID_IOleItemContainer;
extern const IID IID_IOleCommandTarget;
extern const IID IID_IOleDocumentSite;
extern const IID IID_IOleDocument;
extern const IID IID_IOleDocumentView;
extern const IID IID_IAdviseSink;
extern const IID IID_IOleControlSite;
extern const IID IID_IOleObject;
extern const IID IID_IOleInPlaceObject;
extern const IID IID_IOleInPlaceActiveObject;
extern const IID IID_IViewObject;
extern const IID IID_IPersistStreamInit;
extern const IID IID_IRunnableObject;

// Results of the embedding calls.
constexpr HRESULT OLE_E_NOCONNECTION = MakeResult(0x80040004u);
constexpr HRESULT OLECMDERR_E_NOTSUPPORTED = MakeResult(0x80040100u);
constexpr HRESULT MK_E_NOOBJECT = MakeResult(0x800401E5u);
constexpr HRESULT INPLACE_E_NOTOOLSPACE = MakeResult(0x800401A1u);
constexpr HRESULT E_UNEXPECTED = MakeResult(0x8000FFFFu);

// Verbs of IOleObject::DoVerb.
constexpr int32_t OLEIVERB_PRIMARY = 0;
constexpr int32_t OLEIVERB_SHOW = -1;
constexpr int32_t OLEIVERB_OPEN = -2;
constexpr int32_t OLEIVERB_HIDE = -3;
constexpr int32_t OLEIVERB_UIACTIVATE = -4;
constexpr int32_t OLEIVERB_INPLACEACTIVATE = -5;

// IOleObject::Close.
constexpr uint32_t OLECLOSE_SAVEIFDIRTY = 0;
constexpr uint32_t OLECLOSE_NOSAVE = 1;

// Aspects of drawing and extents.
constexpr uint32_t DVASPECT_CONTENT = 1;

// GetMiscStatus bits a host looks at.
constexpr uint32_t OLEMISC_RECOMPOSEONRESIZE = 0x1;
constexpr uint32_t OLEMISC_INSIDEOUT = 0x80;
constexpr uint32_t OLEMISC_ACTIVATEWHENVISIBLE = 0x100;
constexpr uint32_t OLEMISC_INVISIBLEATRUNTIME = 0x400;
constexpr uint32_t OLEMISC_SETCLIENTSITEFIRST = 0x20000;

// Ambient properties (IDispatch of the site, property get).
constexpr DISPID DISPID_AMBIENT_BACKCOLOR = -701;
constexpr DISPID DISPID_AMBIENT_FORECOLOR = -704;
constexpr DISPID DISPID_AMBIENT_LOCALEID = -705;
constexpr DISPID DISPID_AMBIENT_MESSAGEREFLECT = -706;
constexpr DISPID DISPID_AMBIENT_USERMODE = -709;
constexpr DISPID DISPID_AMBIENT_SHOWGRABHANDLES = -711;
constexpr DISPID DISPID_AMBIENT_SHOWHATCHING = -712;
constexpr DISPID DISPID_AMBIENT_DISPLAYASDEFAULT = -713;
constexpr DISPID DISPID_AMBIENT_APPEARANCE = -716;

// Stock events of controls.
constexpr DISPID DISPID_KEYDOWN = -602;
constexpr DISPID DISPID_KEYPRESS = -603;
constexpr DISPID DISPID_KEYUP = -604;
constexpr DISPID DISPID_MOUSEDOWN = -605;
constexpr DISPID DISPID_MOUSEMOVE = -606;
constexpr DISPID DISPID_MOUSEUP = -607;

// Sizes in HIMETRIC units (0.01 mm) and points of the coordinate transforms.
struct SIZEL {
    int32_t cx;
    int32_t cy;
};
struct POINTL {
    int32_t x;
    int32_t y;
};
struct POINTF {
    float x;
    float y;
};
using RECTL = RECT;

// What a container tells an in-place object about its frame.
struct OLEINPLACEFRAMEINFO {
    uint32_t cb;
    int32_t fMDIApp;
    HWND hwndFrame;
    uintptr_t haccel;
    uint32_t cAccelEntries;
};

struct OLEMENUGROUPWIDTHS {
    int32_t width[6];
};

// One command of IOleCommandTarget::QueryStatus.
struct OLECMD {
    uint32_t cmdID;
    uint32_t cmdf;
};

// Things the embedding calls pass through that no one here looks inside.
class IMoniker;
class IBindCtx;
class IStream;
class IEnumUnknown;
class IEnumOLEVERB;
class IEnumSTATDATA;
class IDataObject;
class IEnumOleDocumentViews;
struct FORMATETC;
struct STGMEDIUM;
struct OLECMDTEXT;
struct LOGPALETTE;
struct DVTARGETDEVICE;

class IOleWindow : public IUnknown {
  public:
    virtual HRESULT GetWindow(HWND* window) = 0;
    virtual HRESULT ContextSensitiveHelp(int32_t enterMode) = 0;

  protected:
    ~IOleWindow() = default;
};

class IOleContainer;

class IOleClientSite : public IUnknown {
  public:
    virtual HRESULT SaveObject() = 0;
    virtual HRESULT GetMoniker(uint32_t assign, uint32_t which, IMoniker** moniker) = 0;
    virtual HRESULT GetContainer(IOleContainer** container) = 0;
    virtual HRESULT ShowObject() = 0;
    virtual HRESULT OnShowWindow(int32_t show) = 0;
    virtual HRESULT RequestNewObjectLayout() = 0;

  protected:
    ~IOleClientSite() = default;
};

class IOleInPlaceFrame;
class IOleInPlaceUIWindow;
class IOleInPlaceActiveObject;

class IOleInPlaceSite : public IOleWindow {
  public:
    virtual HRESULT CanInPlaceActivate() = 0;
    virtual HRESULT OnInPlaceActivate() = 0;
    virtual HRESULT OnUIActivate() = 0;
    virtual HRESULT GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, RECT* position,
                                     RECT* clip, OLEINPLACEFRAMEINFO* frameInfo) = 0;
    virtual HRESULT Scroll(SIZE extent) = 0;
    virtual HRESULT OnUIDeactivate(int32_t undoable) = 0;
    virtual HRESULT OnInPlaceDeactivate() = 0;
    virtual HRESULT DiscardUndoState() = 0;
    virtual HRESULT DeactivateAndUndo() = 0;
    virtual HRESULT OnPosRectChange(const RECT* position) = 0;

  protected:
    ~IOleInPlaceSite() = default;
};

class IOleInPlaceSiteEx : public IOleInPlaceSite {
  public:
    virtual HRESULT OnInPlaceActivateEx(int32_t* noRedraw, uint32_t flags) = 0;
    virtual HRESULT OnInPlaceDeactivateEx(int32_t noRedraw) = 0;
    virtual HRESULT RequestUIActivate() = 0;

  protected:
    ~IOleInPlaceSiteEx() = default;
};

class IOleInPlaceUIWindow : public IOleWindow {
  public:
    virtual HRESULT GetBorder(RECT* border) = 0;
    virtual HRESULT RequestBorderSpace(const RECT* widths) = 0;
    virtual HRESULT SetBorderSpace(const RECT* widths) = 0;
    virtual HRESULT SetActiveObject(IOleInPlaceActiveObject* object, const char16_t* name) = 0;

  protected:
    ~IOleInPlaceUIWindow() = default;
};

class IOleInPlaceFrame : public IOleInPlaceUIWindow {
  public:
    virtual HRESULT InsertMenus(uintptr_t menu, OLEMENUGROUPWIDTHS* widths) = 0;
    virtual HRESULT SetMenu(uintptr_t menu, uintptr_t shared, HWND activeObject) = 0;
    virtual HRESULT RemoveMenus(uintptr_t menu) = 0;
    virtual HRESULT SetStatusText(const char16_t* text) = 0;
    virtual HRESULT EnableModeless(int32_t enable) = 0;
    virtual HRESULT TranslateAccelerator(MSG* message, uint16_t id) = 0;

  protected:
    ~IOleInPlaceFrame() = default;
};

class IParseDisplayName : public IUnknown {
  public:
    virtual HRESULT ParseDisplayName(IBindCtx* context, char16_t* name, uint32_t* eaten, IMoniker** moniker) = 0;

  protected:
    ~IParseDisplayName() = default;
};

class IOleContainer : public IParseDisplayName {
  public:
    virtual HRESULT EnumObjects(uint32_t flags, IEnumUnknown** objects) = 0;
    virtual HRESULT LockContainer(int32_t lock) = 0;

  protected:
    ~IOleContainer() = default;
};

class IOleItemContainer : public IOleContainer {
  public:
    virtual HRESULT GetObject(char16_t* item, uint32_t speed, IBindCtx* context, REFIID iid, void** object) = 0;
    virtual HRESULT GetObjectStorage(char16_t* item, IBindCtx* context, REFIID iid, void** storage) = 0;
    virtual HRESULT IsRunning(char16_t* item) = 0;

  protected:
    ~IOleItemContainer() = default;
};

class IOleCommandTarget : public IUnknown {
  public:
    virtual HRESULT QueryStatus(const GUID* group, uint32_t count, OLECMD* commands, OLECMDTEXT* text) = 0;
    virtual HRESULT Exec(const GUID* group, uint32_t command, uint32_t options, VARIANT* in, VARIANT* out) = 0;

  protected:
    ~IOleCommandTarget() = default;
};

class IOleDocumentView;

class IOleDocumentSite : public IUnknown {
  public:
    virtual HRESULT ActivateMe(IOleDocumentView* view) = 0;

  protected:
    ~IOleDocumentSite() = default;
};

class IOleDocument : public IUnknown {
  public:
    virtual HRESULT CreateView(IOleInPlaceSite* site, IStream* stream, uint32_t reserved, IOleDocumentView** view) = 0;
    virtual HRESULT GetDocMiscStatus(uint32_t* status) = 0;
    virtual HRESULT EnumViews(IEnumOleDocumentViews** views, IOleDocumentView** view) = 0;

  protected:
    ~IOleDocument() = default;
};

class IOleDocumentView : public IUnknown {
  public:
    virtual HRESULT SetInPlaceSite(IOleInPlaceSite* site) = 0;
    virtual HRESULT GetInPlaceSite(IOleInPlaceSite** site) = 0;
    virtual HRESULT GetDocument(IUnknown** document) = 0;
    virtual HRESULT SetRect(RECT* view) = 0;
    virtual HRESULT GetRect(RECT* view) = 0;
    virtual HRESULT SetRectComplex(RECT* view, RECT* horizontal, RECT* vertical, RECT* box) = 0;
    virtual HRESULT Show(int32_t show) = 0;
    virtual HRESULT UIActivate(int32_t activate) = 0;
    virtual HRESULT Open() = 0;
    virtual HRESULT CloseView(uint32_t reserved) = 0;
    virtual HRESULT SaveViewState(IStream* stream) = 0;
    virtual HRESULT ApplyViewState(IStream* stream) = 0;
    virtual HRESULT Clone(IOleInPlaceSite* site, IOleDocumentView** view) = 0;

  protected:
    ~IOleDocumentView() = default;
};

class IAdviseSink : public IUnknown {
  public:
    virtual void OnDataChange(FORMATETC* format, STGMEDIUM* medium) = 0;
    virtual void OnViewChange(uint32_t aspect, int32_t index) = 0;
    virtual void OnRename(IMoniker* moniker) = 0;
    virtual void OnSave() = 0;
    virtual void OnClose() = 0;

  protected:
    ~IAdviseSink() = default;
};

class IOleControlSite : public IUnknown {
  public:
    virtual HRESULT OnControlInfoChanged() = 0;
    virtual HRESULT LockInPlaceActive(int32_t lock) = 0;
    virtual HRESULT GetExtendedControl(IDispatch** control) = 0;
    virtual HRESULT TransformCoords(POINTL* himetric, POINTF* container, uint32_t flags) = 0;
    virtual HRESULT TranslateAccelerator(MSG* message, uint32_t modifiers) = 0;
    virtual HRESULT OnFocus(int32_t gotFocus) = 0;
    virtual HRESULT ShowPropertyFrame() = 0;

  protected:
    ~IOleControlSite() = default;
};

class IOleObject : public IUnknown {
  public:
    virtual HRESULT SetClientSite(IOleClientSite* site) = 0;
    virtual HRESULT GetClientSite(IOleClientSite** site) = 0;
    virtual HRESULT SetHostNames(const char16_t* container, const char16_t* object) = 0;
    virtual HRESULT Close(uint32_t saveOption) = 0;
    virtual HRESULT SetMoniker(uint32_t which, IMoniker* moniker) = 0;
    virtual HRESULT GetMoniker(uint32_t assign, uint32_t which, IMoniker** moniker) = 0;
    virtual HRESULT InitFromData(IDataObject* data, int32_t creation, uint32_t reserved) = 0;
    virtual HRESULT GetClipboardData(uint32_t reserved, IDataObject** data) = 0;
    virtual HRESULT DoVerb(int32_t verb, MSG* message, IOleClientSite* site, int32_t index, HWND parent,
                           const RECT* position) = 0;
    virtual HRESULT EnumVerbs(IEnumOLEVERB** verbs) = 0;
    virtual HRESULT Update() = 0;
    virtual HRESULT IsUpToDate() = 0;
    virtual HRESULT GetUserClassID(CLSID* clsid) = 0;
    virtual HRESULT GetUserType(uint32_t form, char16_t** name) = 0;
    virtual HRESULT SetExtent(uint32_t aspect, SIZEL* size) = 0;
    virtual HRESULT GetExtent(uint32_t aspect, SIZEL* size) = 0;
    virtual HRESULT Advise(IAdviseSink* sink, uint32_t* connection) = 0;
    virtual HRESULT Unadvise(uint32_t connection) = 0;
    virtual HRESULT EnumAdvise(IEnumSTATDATA** advise) = 0;
    virtual HRESULT GetMiscStatus(uint32_t aspect, uint32_t* status) = 0;
    virtual HRESULT SetColorScheme(LOGPALETTE* palette) = 0;

  protected:
    ~IOleObject() = default;
};

class IOleInPlaceObject : public IOleWindow {
  public:
    virtual HRESULT InPlaceDeactivate() = 0;
    virtual HRESULT UIDeactivate() = 0;
    virtual HRESULT SetObjectRects(const RECT* position, const RECT* clip) = 0;
    virtual HRESULT ReactivateAndUndo() = 0;

  protected:
    ~IOleInPlaceObject() = default;
};

class IOleInPlaceActiveObject : public IOleWindow {
  public:
    virtual HRESULT TranslateAccelerator(MSG* message) = 0;
    virtual HRESULT OnFrameWindowActivate(int32_t activate) = 0;
    virtual HRESULT OnDocWindowActivate(int32_t activate) = 0;
    virtual HRESULT ResizeBorder(const RECT* border, IOleInPlaceUIWindow* window, int32_t frameWindow) = 0;
    virtual HRESULT EnableModeless(int32_t enable) = 0;

  protected:
    ~IOleInPlaceActiveObject() = default;
};

class IViewObject : public IUnknown {
  public:
    virtual HRESULT Draw(uint32_t aspect, int32_t index, void* aspectInfo, DVTARGETDEVICE* device, uintptr_t targetDc,
                         uintptr_t drawDc, const RECTL* bounds, const RECTL* windowBounds,
                         int32_t (*keepGoing)(uintptr_t argument), uintptr_t argument) = 0;
    virtual HRESULT GetColorSet(uint32_t aspect, int32_t index, void* aspectInfo, DVTARGETDEVICE* device,
                                uintptr_t targetDc, LOGPALETTE** colors) = 0;
    virtual HRESULT Freeze(uint32_t aspect, int32_t index, void* aspectInfo, uint32_t* freeze) = 0;
    virtual HRESULT Unfreeze(uint32_t freeze) = 0;
    virtual HRESULT SetAdvise(uint32_t aspects, uint32_t flags, IAdviseSink* sink) = 0;
    virtual HRESULT GetAdvise(uint32_t* aspects, uint32_t* flags, IAdviseSink** sink) = 0;

  protected:
    ~IViewObject() = default;
};

class IPersistStreamInit : public IUnknown {
  public:
    virtual HRESULT GetClassID(CLSID* clsid) = 0;
    virtual HRESULT IsDirty() = 0;
    virtual HRESULT Load(IStream* stream) = 0;
    virtual HRESULT Save(IStream* stream, int32_t clearDirty) = 0;
    virtual HRESULT GetSizeMax(uint64_t* size) = 0;
    virtual HRESULT InitNew() = 0;

  protected:
    ~IPersistStreamInit() = default;
};

class IRunnableObject : public IUnknown {
  public:
    virtual HRESULT GetRunningClass(CLSID* clsid) = 0;
    virtual HRESULT Run(IBindCtx* context) = 0;
    virtual int32_t IsRunning() = 0;
    virtual HRESULT LockRunning(int32_t lock, int32_t lastUnlockCloses) = 0;
    virtual HRESULT SetContainedObject(int32_t contained) = 0;

  protected:
    ~IRunnableObject() = default;
};

// Puts an object into its running state: through IRunnableObject::Run when
// it offers that interface; an object without it is running already (S_OK).
// E_INVALIDARG for null.
HRESULT OleRun(IUnknown* object);
// Tells an object it is embedded: IRunnableObject::SetContainedObject when
// offered, else S_OK with nothing further. E_INVALIDARG for null.
HRESULT OleSetContainedObject(IUnknown* object, int32_t contained);

}  // namespace qob::platform
