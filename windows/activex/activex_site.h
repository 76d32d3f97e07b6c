// windows/activex/activex_site.h
// The container site of one hosted control: the nine container interfaces a
// control asks its host for, the control's interface pointers and window,
// the ambient properties, and the script-side wrappers and event procedure.
// Programs hold a site's (low) address as the control's handle.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/com.h"

namespace qob {

struct ComObjectWrapper;
struct Instruction;
struct ProgramContext;

using platform::HRESULT;
using platform::HWND;

class ActiveXSite final : public platform::IOleClientSite,
                          public platform::IOleInPlaceSiteEx,
                          public platform::IOleInPlaceFrame,
                          public platform::IOleItemContainer,
                          public platform::IDispatch,
                          public platform::IOleCommandTarget,
                          public platform::IOleDocumentSite,
                          public platform::IAdviseSink,
                          public platform::IOleControlSite,
                          public platform::LowMemoryObject {
  public:
    ActiveXSite();
    ActiveXSite(const ActiveXSite&) = delete;
    ActiveXSite& operator=(const ActiveXSite&) = delete;

    // IUnknown (every table's first three slots lead here).
    HRESULT QueryInterface(platform::REFIID iid, void** object) override;
    uint32_t AddRef() override;
    uint32_t Release() override;

    // IOleClientSite
    HRESULT SaveObject() override;
    HRESULT GetMoniker(uint32_t assign, uint32_t which, platform::IMoniker** moniker) override;
    HRESULT GetContainer(platform::IOleContainer** container) override;
    HRESULT ShowObject() override;
    HRESULT OnShowWindow(int32_t show) override;
    HRESULT RequestNewObjectLayout() override;

    // IOleWindow (of the in-place site and of the frame)
    HRESULT GetWindow(HWND* window) override;
    HRESULT ContextSensitiveHelp(int32_t enterMode) override;

    // IOleInPlaceSite, IOleInPlaceSiteEx
    HRESULT CanInPlaceActivate() override;
    HRESULT OnInPlaceActivate() override;
    HRESULT OnUIActivate() override;
    HRESULT GetWindowContext(platform::IOleInPlaceFrame** frame, platform::IOleInPlaceUIWindow** document,
                             platform::RECT* position, platform::RECT* clip,
                             platform::OLEINPLACEFRAMEINFO* frameInfo) override;
    HRESULT Scroll(platform::SIZE extent) override;
    HRESULT OnUIDeactivate(int32_t undoable) override;
    HRESULT OnInPlaceDeactivate() override;
    HRESULT DiscardUndoState() override;
    HRESULT DeactivateAndUndo() override;
    HRESULT OnPosRectChange(const platform::RECT* position) override;
    HRESULT OnInPlaceActivateEx(int32_t* noRedraw, uint32_t flags) override;
    HRESULT OnInPlaceDeactivateEx(int32_t noRedraw) override;
    HRESULT RequestUIActivate() override;

    // IOleInPlaceUIWindow, IOleInPlaceFrame
    HRESULT GetBorder(platform::RECT* border) override;
    HRESULT RequestBorderSpace(const platform::RECT* widths) override;
    HRESULT SetBorderSpace(const platform::RECT* widths) override;
    HRESULT SetActiveObject(platform::IOleInPlaceActiveObject* object, const char16_t* name) override;
    HRESULT InsertMenus(uintptr_t menu, platform::OLEMENUGROUPWIDTHS* widths) override;
    HRESULT SetMenu(uintptr_t menu, uintptr_t shared, HWND activeObject) override;
    HRESULT RemoveMenus(uintptr_t menu) override;
    HRESULT SetStatusText(const char16_t* text) override;
    HRESULT EnableModeless(int32_t enable) override;
    HRESULT TranslateAccelerator(platform::MSG* message, uint16_t id) override;

    // IParseDisplayName, IOleContainer, IOleItemContainer
    HRESULT ParseDisplayName(platform::IBindCtx* context, char16_t* name, uint32_t* eaten,
                             platform::IMoniker** moniker) override;
    HRESULT EnumObjects(uint32_t flags, platform::IEnumUnknown** objects) override;
    HRESULT LockContainer(int32_t lock) override;
    HRESULT GetObject(char16_t* item, uint32_t speed, platform::IBindCtx* context, platform::REFIID iid,
                      void** object) override;
    HRESULT GetObjectStorage(char16_t* item, platform::IBindCtx* context, platform::REFIID iid,
                             void** storage) override;
    HRESULT IsRunning(char16_t* item) override;

    // IDispatch: the ambient properties
    HRESULT GetTypeInfoCount(uint32_t* count) override;
    HRESULT GetTypeInfo(uint32_t index, platform::LCID lcid, platform::ITypeInfo** info) override;
    HRESULT GetIDsOfNames(platform::REFIID iid, char16_t** names, uint32_t count, platform::LCID lcid,
                          platform::DISPID* ids) override;
    HRESULT Invoke(platform::DISPID member, platform::REFIID iid, platform::LCID lcid, uint16_t flags,
                   platform::DISPPARAMS* params, platform::VARIANT* result, platform::EXCEPINFO* exception,
                   uint32_t* argError) override;

    // IOleCommandTarget
    HRESULT QueryStatus(const platform::GUID* group, uint32_t count, platform::OLECMD* commands,
                        platform::OLECMDTEXT* text) override;
    HRESULT Exec(const platform::GUID* group, uint32_t command, uint32_t options, platform::VARIANT* in,
                 platform::VARIANT* out) override;

    // IOleDocumentSite
    HRESULT ActivateMe(platform::IOleDocumentView* view) override;

    // IAdviseSink
    void OnDataChange(platform::FORMATETC* format, platform::STGMEDIUM* medium) override;
    void OnViewChange(uint32_t aspect, int32_t index) override;
    void OnRename(platform::IMoniker* moniker) override;
    void OnSave() override;
    void OnClose() override;

    // IOleControlSite
    HRESULT OnControlInfoChanged() override;
    HRESULT LockInPlaceActive(int32_t lock) override;
    HRESULT GetExtendedControl(platform::IDispatch** control) override;
    HRESULT TransformCoords(platform::POINTL* himetric, platform::POINTF* container, uint32_t flags) override;
    HRESULT TranslateAccelerator(platform::MSG* message, uint32_t modifiers) override;
    HRESULT OnFocus(int32_t gotFocus) override;
    HRESULT ShowPropertyFrame() override;

    // A site with neither context nor event procedure has been torn down
    // (FreeActiveX) while something still holds one of its interfaces: it
    // answers, but touches no window and no control any more.
    [[nodiscard]] bool Detached() const { return !context && !eventProcedure; }
    [[nodiscard]] uint32_t References() const { return referenceCount.load(); }

    // --- the record --------------------------------------------------------------------
    std::atomic<int32_t> referenceCount{0};
    platform::IDispatch* controlDispatch = nullptr;        // second instance, for type information
    platform::IOleClientSite* clientSite = nullptr;        // own client-site interface (one reference)
    platform::IUnknown* control = nullptr;
    platform::IOleObject* oleObject = nullptr;
    platform::IOleInPlaceObject* inPlaceObject = nullptr;
    platform::IOleInPlaceActiveObject* activeObject = nullptr;  // set through SetActiveObject
    platform::IOleDocumentView* documentView = nullptr;    // made or given in ActivateMe
    platform::IViewObject* viewObject = nullptr;
    platform::IAdviseSink* adviseSink = nullptr;           // own advise-sink interface (one reference)
    platform::IConnectionPoint* eventConnectionPoint = nullptr;
    HWND controlWindow = 0;
    uint8_t userMode = 0;
    uint32_t oleAdviseCookie = 0;
    uint32_t eventCookie = 0;
    HWND parentWindow = 0;
    ComObjectWrapper* objectWrapper = nullptr;
    ComObjectWrapper* eventsWrapper = nullptr;
    Instruction* eventProcedure = nullptr;
    ProgramContext* context = nullptr;
    int32_t locale = 0;
    uint8_t inPlaceActiveLock = 0;
    uint8_t inPlaceActive = 0;
    uint8_t uiActive = 0;
    uint32_t foregroundColour = 0;
    uint32_t backgroundColour = 0;
    uint8_t showHatching = 0;
    uint8_t showGrabHandles = 0;
    uint8_t appearance = 0;

  private:
    friend void DestroyActiveXSite(ActiveXSite* site);
    ~ActiveXSite() = default;
    // The deleting destructor: ActiveXSiteDestroy, then the record is freed.
    // Only the site's own Release and DestroyActiveXSite reach it.
    virtual void Destroy();
};

// Fills a new site: counts, control pointers and state bytes zeroed, locale
// 0, the two colours from the system colours, the three ambient bytes 1,
// user mode 1 (a host that only runs controls), parent, context, procedure.
void ActiveXSiteInit(ActiveXSite* site, HWND parent, ProgramContext* context, Instruction* eventProcedure);
// Releases and clears the control's interface pointers; unadvises and
// releases the event connection point.
void ActiveXSiteDestroy(ActiveXSite* site);
// Runs the deleting destructor at once, whatever the count (a site that was
// never handed out).
void DestroyActiveXSite(ActiveXSite* site);

// A size in pixels as HIMETRIC units at the given dots per inch (never 0), in
// integer arithmetic; PixelsToHimetric uses the screen's, read once.
[[nodiscard]] platform::SIZE HimetricFromPixels(platform::SIZE pixels, int dotsPerInchX, int dotsPerInchY);
[[nodiscard]] platform::SIZE PixelsToHimetric(platform::SIZE pixels);

// Places the control: the extent (cx, cy) when it differs from the
// control's, and the position and clip rectangle (x, y, x + cx, y + cy).
void SetActiveXRect(ActiveXSite* site, int32_t x, int32_t y, int32_t cx, int32_t cy);

// Sites that programs hold (made by ActiveX, not yet freed), with their contexts.
void RegisterLiveActiveXSite(ActiveXSite* site);
void ForgetLiveActiveXSite(ActiveXSite* site);
// The live site at a program's number, or null.
[[nodiscard]] ActiveXSite* FindLiveActiveXSite(double handle);
[[nodiscard]] int32_t CountLiveActiveXSites();
// The live sites a context made, oldest first.
[[nodiscard]] std::vector<ActiveXSite*> LiveActiveXSitesOf(const ProgramContext* context);
// Sites alive in memory (held by a program or by a control still holding an interface).
[[nodiscard]] int32_t CountAllocatedActiveXSites();

}  // namespace qob
