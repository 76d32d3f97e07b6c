// platform/com/type_library.h
// Type information made in code: a builder that describes interfaces,
// dispatch interfaces, coclasses, enumerations, aliases and records, and
// gives an ITypeLib whose ITypeInfos hand out the standard records.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/interfaces.h"

namespace qob::platform {

// A type as a description: a VARTYPE, the pointed or element type of VT_PTR
// and VT_SAFEARRAY, the library index of a VT_USERDEFINED type.
struct TypeSpec {
    VARTYPE vt = VT_EMPTY;
    std::shared_ptr<const TypeSpec> inner;
    int32_t userType = -1;

    static TypeSpec Of(VARTYPE vt) { return TypeSpec{vt, nullptr, -1}; }
    static TypeSpec PointerTo(TypeSpec inner) {
        return TypeSpec{VT_PTR, std::make_shared<const TypeSpec>(std::move(inner)), -1};
    }
    static TypeSpec ArrayOf(TypeSpec element) {
        return TypeSpec{VT_SAFEARRAY, std::make_shared<const TypeSpec>(std::move(element)), -1};
    }
    static TypeSpec User(int32_t index) { return TypeSpec{VT_USERDEFINED, nullptr, index}; }
};

struct ParamSpec {
    std::u16string name;
    TypeSpec type;
    uint16_t flags = PARAMFLAG_FIN;
};

struct FunctionSpec {
    std::u16string name;
    DISPID memid = 0;
    INVOKEKIND kind = INVOKE_FUNC;
    TypeSpec result = TypeSpec::Of(VT_VOID);
    std::vector<ParamSpec> params;
};

struct VariableSpec {
    std::u16string name;
    DISPID memid = 0;
    VARKIND kind = VAR_DISPATCH;
    TypeSpec type = TypeSpec::Of(VT_I4);
    VARIANT value{};  // VAR_CONST: the constant (numbers only)
};

class TypeLibraryBuilder {
  public:
    explicit TypeLibraryBuilder(std::u16string_view name = u"Library") : name_(name) {}

    // Returns the new type's index, which is also its HREFTYPE.
    int32_t AddType(std::u16string_view name, TYPEKIND kind, const GUID& guid = GUID_NULL, uint16_t flags = 0);
    void AddFunction(int32_t type, FunctionSpec function);
    void AddVariable(int32_t type, VariableSpec variable);
    void AddImplementedType(int32_t coclass, int32_t type, int32_t flags);
    void SetAlias(int32_t type, TypeSpec aliased);
    void SetIdentity(int32_t type, const GUID& guid, uint16_t flags);
    // The index of the type of that name (ASCII case ignored), or -1.
    [[nodiscard]] int32_t FindType(std::u16string_view name) const;
    [[nodiscard]] size_t TypeCount() const { return types_.size(); }

    // A new library holding what was described (reference count 1), or null
    // when a user-defined type names no type of the library.
    [[nodiscard]] ITypeLib* Build() const;

    struct TypeEntry {
        std::u16string name;
        TYPEKIND kind;
        GUID guid;
        uint16_t flags;
        std::vector<FunctionSpec> functions;
        std::vector<VariableSpec> variables;
        std::vector<std::pair<int32_t, int32_t>> implemented;  // {type, IMPLTYPEFLAG_*}
        TypeSpec alias;
    };

  private:
    std::u16string name_;
    std::vector<TypeEntry> types_;
};

// Equal names, ASCII case ignored.
[[nodiscard]] bool SameName(std::u16string_view a, std::u16string_view b);

}  // namespace qob::platform
