// platform/com/type_library.cpp
// The builder's ITypeLib and ITypeInfo: the records are made once when the
// library is built and handed out by address; the type infos share the
// library's reference count. Programs never hold these objects by address,
// so they live on the ordinary heap.
#include "platform/com/type_library.h"

#include <atomic>
#include <deque>

namespace qob::platform {
namespace {

class Library;

// One type of a library. Its AddRef and Release are the library's.
class TypeInfo final : public ITypeInfo {
  public:
    TypeInfo(Library* library, int32_t index, const TypeLibraryBuilder::TypeEntry& entry);

    HRESULT QueryInterface(REFIID iid, void** object) override;
    uint32_t AddRef() override;
    uint32_t Release() override;

    HRESULT GetTypeAttr(TYPEATTR** attributes) override {
        if (!attributes) return E_POINTER;
        *attributes = &attributes_;
        return S_OK;
    }
    HRESULT GetTypeComp(void**) override { return E_NOTIMPL; }
    HRESULT GetFuncDesc(uint32_t index, FUNCDESC** description) override {
        if (!description) return E_POINTER;
        if (index >= functions_.size()) return TYPE_E_ELEMENTNOTFOUND;
        *description = &functions_[index];
        return S_OK;
    }
    HRESULT GetVarDesc(uint32_t index, VARDESC** description) override {
        if (!description) return E_POINTER;
        if (index >= variables_.size()) return TYPE_E_ELEMENTNOTFOUND;
        *description = &variables_[index];
        return S_OK;
    }
    HRESULT GetNames(DISPID member, BSTR* names, uint32_t maxNames, uint32_t* count) override;
    HRESULT GetRefTypeOfImplType(uint32_t index, HREFTYPE* reference) override {
        if (!reference) return E_POINTER;
        if (index >= entry_.implemented.size()) return TYPE_E_ELEMENTNOTFOUND;
        *reference = static_cast<HREFTYPE>(entry_.implemented[index].first);
        return S_OK;
    }
    HRESULT GetImplTypeFlags(uint32_t index, int32_t* flags) override {
        if (!flags) return E_POINTER;
        if (index >= entry_.implemented.size()) return TYPE_E_ELEMENTNOTFOUND;
        *flags = entry_.implemented[index].second;
        return S_OK;
    }
    HRESULT GetIDsOfNames(char16_t** names, uint32_t count, DISPID* ids) override;
    HRESULT Invoke(void*, DISPID, uint16_t, DISPPARAMS*, VARIANT*, EXCEPINFO*, uint32_t*) override {
        return E_NOTIMPL;
    }
    HRESULT GetDocumentation(DISPID member, BSTR* name, BSTR* doc, uint32_t* helpContext, BSTR* helpFile) override;
    HRESULT GetDllEntry(DISPID, INVOKEKIND, BSTR*, BSTR*, uint16_t*) override { return E_NOTIMPL; }
    HRESULT GetRefTypeInfo(HREFTYPE reference, ITypeInfo** info) override;
    HRESULT AddressOfMember(DISPID, INVOKEKIND, void**) override { return E_NOTIMPL; }
    HRESULT CreateInstance(IUnknown*, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT GetMops(DISPID, BSTR*) override { return E_NOTIMPL; }
    HRESULT GetContainingTypeLib(ITypeLib** library, uint32_t* index) override;
    void ReleaseTypeAttr(TYPEATTR*) override {}
    void ReleaseFuncDesc(FUNCDESC*) override {}
    void ReleaseVarDesc(VARDESC*) override {}

    const TypeLibraryBuilder::TypeEntry& Entry() const { return entry_; }

  private:
    TYPEDESC MakeTypeDesc(const TypeSpec& spec);
    // The name of a member (function or variable), or null.
    const std::u16string* MemberName(DISPID member, const std::vector<ParamSpec>** params) const;

    Library* library_;
    int32_t index_;
    TypeLibraryBuilder::TypeEntry entry_;
    TYPEATTR attributes_{};
    std::deque<TYPEDESC> typeNodes_;
    std::deque<std::vector<ELEMDESC>> paramLists_;
    std::deque<VARIANT> constants_;
    std::vector<FUNCDESC> functions_;
    std::vector<VARDESC> variables_;
};

class Library final : public ITypeLib {
  public:
    Library(std::u16string name, const std::vector<TypeLibraryBuilder::TypeEntry>& types) : name_(std::move(name)) {
        for (size_t i = 0; i < types.size(); ++i)
            infos_.push_back(std::make_unique<TypeInfo>(this, static_cast<int32_t>(i), types[i]));
    }

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_ITypeLib) {
            *object = static_cast<ITypeLib*>(this);
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

    uint32_t GetTypeInfoCount() override { return static_cast<uint32_t>(infos_.size()); }
    HRESULT GetTypeInfo(uint32_t index, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index >= infos_.size()) return TYPE_E_ELEMENTNOTFOUND;
        *info = infos_[index].get();
        AddRef();
        return S_OK;
    }
    HRESULT GetTypeInfoType(uint32_t index, TYPEKIND* kind) override {
        if (!kind) return E_POINTER;
        if (index >= infos_.size()) return TYPE_E_ELEMENTNOTFOUND;
        *kind = infos_[index]->Entry().kind;
        return S_OK;
    }
    HRESULT GetTypeInfoOfGuid(REFIID guid, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        for (uint32_t i = 0; i < infos_.size(); ++i)
            if (infos_[i]->Entry().guid == guid && !(guid == GUID_NULL)) return GetTypeInfo(i, info);
        *info = nullptr;
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT GetLibAttr(void**) override { return E_NOTIMPL; }
    HRESULT GetTypeComp(void**) override { return E_NOTIMPL; }
    HRESULT GetDocumentation(int32_t index, BSTR* name, BSTR* doc, uint32_t* helpContext, BSTR* helpFile) override {
        if (index == -1) {
            if (name) *name = SysAllocStringLen(name_.data(), static_cast<uint32_t>(name_.size()));
            if (doc) *doc = nullptr;
            if (helpContext) *helpContext = 0;
            if (helpFile) *helpFile = nullptr;
            return S_OK;
        }
        if (index < 0 || static_cast<size_t>(index) >= infos_.size()) return TYPE_E_ELEMENTNOTFOUND;
        return infos_[index]->GetDocumentation(MEMBERID_NIL, name, doc, helpContext, helpFile);
    }
    HRESULT IsName(char16_t*, uint32_t, int*) override { return E_NOTIMPL; }
    HRESULT FindName(char16_t*, uint32_t, ITypeInfo**, DISPID*, uint16_t*) override { return E_NOTIMPL; }
    void ReleaseTLibAttr(void*) override {}

    TypeInfo* Info(size_t index) { return index < infos_.size() ? infos_[index].get() : nullptr; }

  private:
    ~Library() = default;
    std::atomic<uint32_t> references_{1};
    std::u16string name_;
    std::vector<std::unique_ptr<TypeInfo>> infos_;
};

TypeInfo::TypeInfo(Library* library, int32_t index, const TypeLibraryBuilder::TypeEntry& entry)
    : library_(library), index_(index), entry_(entry) {
    attributes_.guid = entry.guid;
    attributes_.typekind = entry.kind;
    attributes_.cFuncs = static_cast<uint16_t>(entry.functions.size());
    attributes_.cVars = static_cast<uint16_t>(entry.variables.size());
    attributes_.cImplTypes = static_cast<uint16_t>(entry.implemented.size());
    attributes_.wTypeFlags = entry.flags;
    attributes_.cbSizeInstance = 4;
    if (entry.kind == TKIND_ALIAS) attributes_.tdescAlias = MakeTypeDesc(entry.alias);
    int16_t slot = 7;  // after IUnknown's three and IDispatch's four slots
    for (const FunctionSpec& function : entry.functions) {
        FUNCDESC description{};
        description.memid = function.memid;
        description.funckind = FUNC_DISPATCH;
        description.invkind = function.kind;
        description.callconv = CC_STDCALL;
        description.cParams = static_cast<int16_t>(function.params.size());
        description.oVft = static_cast<int16_t>(slot++ * 4);
        description.elemdescFunc.tdesc = MakeTypeDesc(function.result);
        std::vector<ELEMDESC>& params = paramLists_.emplace_back();
        for (const ParamSpec& param : function.params) {
            params.push_back(ELEMDESC{MakeTypeDesc(param.type), param.flags});
            if (param.flags & PARAMFLAG_FOPT) ++description.cParamsOpt;
        }
        description.lprgelemdescParam = params.empty() ? nullptr : params.data();
        functions_.push_back(description);
    }
    for (const VariableSpec& variable : entry.variables) {
        VARDESC description{};
        description.memid = variable.memid;
        description.varkind = variable.kind;
        description.elemdescVar.tdesc = MakeTypeDesc(variable.type);
        if (variable.kind == VAR_CONST) description.lpvarValue = &constants_.emplace_back(variable.value);
        variables_.push_back(description);
    }
}

TYPEDESC TypeInfo::MakeTypeDesc(const TypeSpec& spec) {
    TYPEDESC description{};
    description.vt = spec.vt;
    if ((spec.vt == VT_PTR || spec.vt == VT_SAFEARRAY) && spec.inner)
        description.lptdesc = &typeNodes_.emplace_back(MakeTypeDesc(*spec.inner));
    else if (spec.vt == VT_USERDEFINED)
        description.hreftype = static_cast<HREFTYPE>(spec.userType);
    return description;
}

HRESULT TypeInfo::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_ITypeInfo) {
        *object = static_cast<ITypeInfo*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

uint32_t TypeInfo::AddRef() { return library_->AddRef(); }
uint32_t TypeInfo::Release() { return library_->Release(); }

const std::u16string* TypeInfo::MemberName(DISPID member, const std::vector<ParamSpec>** params) const {
    for (const FunctionSpec& function : entry_.functions)
        if (function.memid == member) {
            if (params) *params = &function.params;
            return &function.name;
        }
    for (const VariableSpec& variable : entry_.variables)
        if (variable.memid == member) return &variable.name;
    return nullptr;
}

HRESULT TypeInfo::GetNames(DISPID member, BSTR* names, uint32_t maxNames, uint32_t* count) {
    if (!names || !count) return E_POINTER;
    *count = 0;
    const std::vector<ParamSpec>* params = nullptr;
    const std::u16string* name = MemberName(member, &params);
    if (!name) return TYPE_E_ELEMENTNOTFOUND;
    if (maxNames == 0) return S_OK;
    names[(*count)++] = SysAllocStringLen(name->data(), static_cast<uint32_t>(name->size()));
    for (size_t i = 0; params && i < params->size() && *count < maxNames; ++i) {
        const std::u16string& text = (*params)[i].name;
        names[(*count)++] = SysAllocStringLen(text.data(), static_cast<uint32_t>(text.size()));
    }
    return S_OK;
}

HRESULT TypeInfo::GetIDsOfNames(char16_t** names, uint32_t count, DISPID* ids) {
    if (!names || !ids || count == 0) return E_INVALIDARG;
    for (const FunctionSpec& function : entry_.functions)
        if (SameName(function.name, names[0])) {
            ids[0] = function.memid;
            return S_OK;
        }
    for (const VariableSpec& variable : entry_.variables)
        if (SameName(variable.name, names[0])) {
            ids[0] = variable.memid;
            return S_OK;
        }
    return DISP_E_UNKNOWNNAME;
}

HRESULT TypeInfo::GetDocumentation(DISPID member, BSTR* name, BSTR* doc, uint32_t* helpContext, BSTR* helpFile) {
    const std::u16string* text = member == MEMBERID_NIL ? &entry_.name : MemberName(member, nullptr);
    if (!text) return TYPE_E_ELEMENTNOTFOUND;
    if (name) *name = SysAllocStringLen(text->data(), static_cast<uint32_t>(text->size()));
    if (doc) *doc = nullptr;
    if (helpContext) *helpContext = 0;
    if (helpFile) *helpFile = nullptr;
    return S_OK;
}

HRESULT TypeInfo::GetRefTypeInfo(HREFTYPE reference, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = library_->Info(reference);
    if (!*info) return TYPE_E_ELEMENTNOTFOUND;
    (*info)->AddRef();
    return S_OK;
}

HRESULT TypeInfo::GetContainingTypeLib(ITypeLib** library, uint32_t* index) {
    if (!library) return E_POINTER;
    *library = library_;
    library_->AddRef();
    if (index) *index = static_cast<uint32_t>(index_);
    return S_OK;
}

bool ValidSpec(const TypeSpec& spec, size_t typeCount) {
    if (spec.vt == VT_USERDEFINED) return spec.userType >= 0 && static_cast<size_t>(spec.userType) < typeCount;
    if (spec.vt == VT_PTR || spec.vt == VT_SAFEARRAY) return spec.inner && ValidSpec(*spec.inner, typeCount);
    return true;
}

}  // namespace

bool SameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x + 32);
        if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y + 32);
        if (x != y) return false;
    }
    return true;
}

int32_t TypeLibraryBuilder::AddType(std::u16string_view name, TYPEKIND kind, const GUID& guid, uint16_t flags) {
    types_.push_back(TypeEntry{std::u16string(name), kind, guid, flags, {}, {}, {}, TypeSpec::Of(VT_EMPTY)});
    return static_cast<int32_t>(types_.size() - 1);
}

void TypeLibraryBuilder::AddFunction(int32_t type, FunctionSpec function) {
    types_.at(static_cast<size_t>(type)).functions.push_back(std::move(function));
}

void TypeLibraryBuilder::AddVariable(int32_t type, VariableSpec variable) {
    types_.at(static_cast<size_t>(type)).variables.push_back(std::move(variable));
}

void TypeLibraryBuilder::AddImplementedType(int32_t coclass, int32_t type, int32_t flags) {
    types_.at(static_cast<size_t>(coclass)).implemented.emplace_back(type, flags);
}

void TypeLibraryBuilder::SetAlias(int32_t type, TypeSpec aliased) {
    types_.at(static_cast<size_t>(type)).alias = std::move(aliased);
}

void TypeLibraryBuilder::SetIdentity(int32_t type, const GUID& guid, uint16_t flags) {
    TypeEntry& entry = types_.at(static_cast<size_t>(type));
    entry.guid = guid;
    entry.flags = flags;
}

int32_t TypeLibraryBuilder::FindType(std::u16string_view name) const {
    for (size_t i = 0; i < types_.size(); ++i)
        if (SameName(types_[i].name, name)) return static_cast<int32_t>(i);
    return -1;
}

ITypeLib* TypeLibraryBuilder::Build() const {
    const size_t count = types_.size();
    for (const TypeEntry& type : types_) {
        if (type.kind == TKIND_ALIAS && !ValidSpec(type.alias, count)) return nullptr;
        for (const FunctionSpec& function : type.functions) {
            if (!ValidSpec(function.result, count)) return nullptr;
            for (const ParamSpec& param : function.params)
                if (!ValidSpec(param.type, count)) return nullptr;
        }
        for (const VariableSpec& variable : type.variables)
            if (!ValidSpec(variable.type, count)) return nullptr;
        for (const auto& [implemented, flags] : type.implemented)
            if (implemented < 0 || static_cast<size_t>(implemented) >= count) return nullptr;
    }
    return new Library(name_, types_);
}

}  // namespace qob::platform
