// platform/com/dispatch_object.h
// A base for automation classes written in C++: IDispatch::Invoke driven by
// the class's type information (argument counts and types checked, the
// DISP_E_* results), an event connection point, and a class factory.
// Header-only on purpose: server libraries built against these headers get
// their own copy and need only the automation functions of the host.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com/interfaces.h"

namespace qob::platform {

class DispatchObject;

// The connection point of one event interface: sinks are IDispatch objects
// called with DISPATCH_METHOD when the owner fires an event.
class EventConnectionPoint final : public IConnectionPoint {
  public:
    EventConnectionPoint(DispatchObject* owner, const IID& iid) : owner_(owner), iid_(iid) {}
    ~EventConnectionPoint() {
        for (auto& [cookie, sink] : sinks_) sink->Release();
    }

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IConnectionPoint) {
            *object = static_cast<IConnectionPoint*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    inline uint32_t AddRef() override;
    inline uint32_t Release() override;

    HRESULT GetConnectionInterface(IID* iid) override {
        if (!iid) return E_POINTER;
        *iid = iid_;
        return S_OK;
    }
    inline HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override;
    HRESULT Advise(IUnknown* sink, uint32_t* cookie) override {
        if (!sink || !cookie) return E_POINTER;
        IDispatch* dispatch = nullptr;
        if (FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))) || !dispatch)
            return CONNECT_E_CANNOTCONNECT;
        *cookie = nextCookie_++;
        sinks_.emplace_back(*cookie, dispatch);
        return S_OK;
    }
    HRESULT Unadvise(uint32_t cookie) override {
        for (auto it = sinks_.begin(); it != sinks_.end(); ++it)
            if (it->first == cookie) {
                IDispatch* sink = it->second;
                sinks_.erase(it);
                sink->Release();
                return S_OK;
            }
        return CONNECT_E_NOCONNECTION;
    }
    HRESULT EnumConnections(void**) override { return E_NOTIMPL; }

    // Calls the event on every sink (arguments in call order); answers how many sinks took it.
    int Fire(DISPID id, std::span<const VARIANT> arguments) {
        std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
        DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr,
                          static_cast<uint32_t>(reversed.size()), 0};
        int called = 0;
        const auto sinks = sinks_;
        for (const auto& [cookie, sink] : sinks) {
            VARIANT result{};
            if (SUCCEEDED(sink->Invoke(id, IID_NULL, 0x800, DISPATCH_METHOD, &params, &result, nullptr, nullptr)))
                ++called;
            VariantClear(&result);
        }
        return called;
    }
    [[nodiscard]] size_t SinkCount() const { return sinks_.size(); }

  private:
    DispatchObject* owner_;
    IID iid_;
    std::vector<std::pair<uint32_t, IDispatch*>> sinks_;
    uint32_t nextCookie_ = 1;
};

class DispatchObject : public IDispatch, public IConnectionPointContainer, public LowMemoryObject {
  public:
    // A member's code: the arguments in call order (one per declared
    // parameter, an omitted optional one as VT_ERROR DISP_E_PARAMNOTFOUND;
    // the VARIANTs are the caller's: read them, write through by-reference
    // ones, never free them), the result to fill, the record for
    // DISP_E_EXCEPTION (may be null; see Fail).
    using Handler = std::function<HRESULT(std::span<VARIANT> arguments, VARIANT* result, EXCEPINFO* exception)>;

    // info describes the dispatch interface (the object keeps a reference);
    // eventIid, when given, is the event interface of the connection point.
    explicit DispatchObject(ITypeInfo* info, const IID* eventIid = nullptr) : info_(info) {
        if (info_) info_->AddRef();
        if (eventIid) events_ = new EventConnectionPoint(this, *eventIid);
    }
    virtual ~DispatchObject() {
        delete events_;
        if (info_) info_->Release();
    }

    // The code of member id for the invoke kinds given (INVOKE_* bits).
    void Bind(DISPID id, int32_t kinds, Handler handler) {
        for (int32_t kind = 1; kind <= 8; kind <<= 1)
            if (kinds & kind) handlers_[{id, kind}] = handler;
    }

    // Fills the exception record (when there is one) and answers DISP_E_EXCEPTION.
    static HRESULT Fail(EXCEPINFO* exception, std::u16string_view source, std::u16string_view description,
                        HRESULT code = E_FAIL) {
        if (exception) {
            exception->bstrSource = SysAllocStringLen(source.data(), static_cast<uint32_t>(source.size()));
            exception->bstrDescription =
                SysAllocStringLen(description.data(), static_cast<uint32_t>(description.size()));
            exception->scode = code;
        }
        return DISP_E_EXCEPTION;
    }

    int FireEvent(DISPID id, std::span<const VARIANT> arguments) {
        return events_ ? events_->Fire(id, arguments) : 0;
    }
    [[nodiscard]] EventConnectionPoint* Events() const { return events_; }

    // IUnknown
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || IsOwnInterface(iid))
            *object = static_cast<IDispatch*>(this);
        else if (iid == IID_IConnectionPointContainer && events_)
            *object = static_cast<IConnectionPointContainer*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    uint32_t AddRef() override { return ++references_; }
    uint32_t Release() override {
        const uint32_t left = --references_;
        if (left == 0) delete this;
        return left;
    }
    [[nodiscard]] uint32_t References() const { return references_.load(); }

    // IDispatch
    HRESULT GetTypeInfoCount(uint32_t* count) override {
        if (!count) return E_POINTER;
        *count = info_ ? 1 : 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(uint32_t index, LCID, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0 || !info_) return TYPE_E_ELEMENTNOTFOUND;
        info_->AddRef();
        *info = info_;
        return S_OK;
    }
    HRESULT GetIDsOfNames(REFIID, char16_t** names, uint32_t count, LCID, DISPID* ids) override {
        return info_ ? info_->GetIDsOfNames(names, count, ids) : DISP_E_UNKNOWNNAME;
    }
    HRESULT Invoke(DISPID member, REFIID, LCID, uint16_t flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* exception, uint32_t* argError) override {
        if (!params || !info_) return E_INVALIDARG;
        Signature signature;
        if (!FindSignature(member, flags, &signature)) return DISP_E_MEMBERNOTFOUND;
        auto handler = handlers_.find({member, signature.kind});
        if (handler == handlers_.end()) return DISP_E_MEMBERNOTFOUND;
        const uint32_t count = params->cArgs;
        const size_t declared = signature.types.size();
        if (count > declared) return DISP_E_BADPARAMCOUNT;
        std::vector<VARIANT> arguments(declared);
        for (size_t j = 0; j < declared; ++j) {
            const bool optional = signature.optional[j];
            if (j >= count) {
                if (!optional) return DISP_E_BADPARAMCOUNT;
                arguments[j].vt = VT_ERROR;
                arguments[j].scode = DISP_E_PARAMNOTFOUND;
                continue;
            }
            const VARIANT& argument = params->rgvarg[count - 1 - j];
            if (argument.vt == VT_ERROR && argument.scode == DISP_E_PARAMNOTFOUND) {
                if (!optional) {
                    if (argError) *argError = count - 1 - static_cast<uint32_t>(j);
                    return DISP_E_PARAMNOTFOUND;
                }
            } else if (!TypeMatches(argument.vt, signature.types[j])) {
                if (argError) *argError = count - 1 - static_cast<uint32_t>(j);
                return DISP_E_TYPEMISMATCH;
            }
            arguments[j] = argument;
        }
        VARIANT scratch{};
        VARIANT* target = result ? result : &scratch;
        VariantInit(target);
        const HRESULT outcome = handler->second(arguments, target, exception);
        if (!result) VariantClear(&scratch);
        return outcome;
    }

    // IConnectionPointContainer
    inline HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) override;
    HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
        if (!point) return E_POINTER;
        *point = nullptr;
        IID offered{};
        if (!events_ || FAILED(events_->GetConnectionInterface(&offered)) || !(offered == iid))
            return CONNECT_E_NOCONNECTION;
        events_->AddRef();
        *point = events_;
        return S_OK;
    }

  private:
    // Whether iid is the GUID of the interface the type information describes.
    bool IsOwnInterface(REFIID iid) const {
        TYPEATTR* attributes = nullptr;
        if (!info_ || iid == GUID_NULL || FAILED(info_->GetTypeAttr(&attributes))) return false;
        const bool own = attributes->guid == iid;
        info_->ReleaseTypeAttr(attributes);
        return own;
    }

    struct Signature {
        int32_t kind = 0;
        std::vector<const TYPEDESC*> types;
        std::vector<bool> optional;
    };

    // The function (or dispatch variable) of that id whose invoke kind the flags allow.
    bool FindSignature(DISPID member, uint16_t flags, Signature* signature) const {
        TYPEATTR* attributes = nullptr;
        if (FAILED(info_->GetTypeAttr(&attributes))) return false;
        bool found = false;
        for (uint32_t i = 0; i < attributes->cFuncs && !found; ++i) {
            FUNCDESC* function = nullptr;
            if (FAILED(info_->GetFuncDesc(i, &function))) continue;
            if (function->memid == member && (function->invkind & flags)) {
                found = true;
                signature->kind = function->invkind;
                for (int16_t p = 0; p < function->cParams; ++p) {
                    signature->types.push_back(&function->lprgelemdescParam[p].tdesc);
                    signature->optional.push_back((function->lprgelemdescParam[p].wParamFlags & PARAMFLAG_FOPT) != 0);
                }
            }
            info_->ReleaseFuncDesc(function);
        }
        for (uint32_t i = 0; i < attributes->cVars && !found; ++i) {
            VARDESC* variable = nullptr;
            if (FAILED(info_->GetVarDesc(i, &variable))) continue;
            if (variable->memid == member && variable->varkind == VAR_DISPATCH &&
                (flags & (DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT))) {
                found = true;
                if (flags & DISPATCH_PROPERTYGET) {
                    signature->kind = INVOKE_PROPERTYGET;
                } else {
                    signature->kind = INVOKE_PROPERTYPUT;
                    signature->types.push_back(&variable->elemdescVar.tdesc);
                    signature->optional.push_back(false);
                }
            }
            info_->ReleaseVarDesc(variable);
        }
        info_->ReleaseTypeAttr(attributes);
        return found;
    }

    // Whether an argument of type vt suits a declared type.
    static bool TypeMatches(VARTYPE vt, const TYPEDESC* declared) {
        switch (declared->vt) {
            case VT_VARIANT: return true;
            case VT_USERDEFINED:
                return vt == VT_I4 || vt == VT_I2 || vt == VT_UI1 || vt == VT_DISPATCH || vt == VT_UNKNOWN;
            case VT_SAFEARRAY: return (vt & VT_ARRAY) && !(vt & VT_BYREF) && ElementMatches(vt & VT_TYPEMASK, declared->lptdesc);
            case VT_PTR: {
                const TYPEDESC* inner = declared->lptdesc;
                if (inner->vt == VT_USERDEFINED) return (vt & VT_BYREF) || vt == VT_DISPATCH || vt == VT_UNKNOWN;
                if (!(vt & VT_BYREF)) return false;
                if (inner->vt == VT_SAFEARRAY) return TypeMatches(static_cast<VARTYPE>(vt & ~VT_BYREF), inner);
                return (vt & ~VT_BYREF) == inner->vt;
            }
            default: return vt == declared->vt;
        }
    }
    static bool ElementMatches(VARTYPE element, const TYPEDESC* declared) {
        return declared->vt == VT_VARIANT ? element == VT_VARIANT : element == declared->vt || declared->vt == VT_USERDEFINED;
    }

    std::atomic<uint32_t> references_{1};
    ITypeInfo* info_;
    EventConnectionPoint* events_ = nullptr;
    std::map<std::pair<DISPID, int32_t>, Handler> handlers_;
};

uint32_t EventConnectionPoint::AddRef() { return owner_->AddRef(); }
uint32_t EventConnectionPoint::Release() { return owner_->Release(); }
HRESULT EventConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container) return E_POINTER;
    owner_->AddRef();
    *container = owner_;
    return S_OK;
}

// Walks the connection points of an object: its event connection point, or none.
class ConnectionPointEnumerator final : public IEnumConnectionPoints, public LowMemoryObject {
  public:
    ConnectionPointEnumerator(IConnectionPoint* point, uint32_t position) : point_(point), position_(position) {
        if (point_) point_->AddRef();
    }

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IEnumConnectionPoints) {
            *object = static_cast<IEnumConnectionPoints*>(this);
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
    HRESULT Next(uint32_t count, IConnectionPoint** points, uint32_t* fetched) override {
        if (!points) return E_POINTER;
        uint32_t given = 0;
        if (count > 0 && point_ && position_ == 0) {
            point_->AddRef();
            points[0] = point_;
            position_ = 1;
            given = 1;
        }
        if (fetched) *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(uint32_t count) override {
        if (count == 0) return S_OK;
        const bool skipped = point_ && position_ == 0 && count == 1;
        position_ = 1;
        return skipped ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumConnectionPoints** copy) override {
        if (!copy) return E_POINTER;
        *copy = new ConnectionPointEnumerator(point_, position_);
        return S_OK;
    }

  private:
    ~ConnectionPointEnumerator() {
        if (point_) point_->Release();
    }
    std::atomic<uint32_t> references_{1};
    IConnectionPoint* point_;
    uint32_t position_;
};

HRESULT DispatchObject::EnumConnectionPoints(IEnumConnectionPoints** points) {
    if (!points) return E_POINTER;
    *points = new ConnectionPointEnumerator(events_, 0);
    return S_OK;
}

// A class factory over a function that makes one object (reference count 1).
class SimpleClassFactory final : public IClassFactory, public LowMemoryObject {
  public:
    using Create = IUnknown* (*)();
    explicit SimpleClassFactory(Create create) : create_(create) {}

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
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
    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        IUnknown* created = create_();
        if (!created) return E_OUTOFMEMORY;
        const HRESULT result = created->QueryInterface(iid, object);
        created->Release();
        return result;
    }
    HRESULT LockServer(int) override { return S_OK; }

  private:
    ~SimpleClassFactory() = default;
    std::atomic<uint32_t> references_{1};
    Create create_;
};

}  // namespace qob::platform
