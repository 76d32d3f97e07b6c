// platform/com/type_library_text.cpp
// The text type-library reader: a tokenizer, a scan that names every type
// first (so types may be used before they are declared), then one pass that
// describes them to the builder.
#include "platform/com/type_library_text.h"

#include <cctype>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/com/type_library.h"
#include "platform/files.h"
#include "platform/text_codec.h"

namespace qob::platform {
namespace {

enum class TokenKind { Name, Number, Guid, Symbol, End };
struct Token {
    TokenKind kind;
    std::string text;
    int64_t number = 0;
    GUID guid{};
};

// Limits that keep every count inside its record field.
constexpr size_t kMaxParams = 1024;
constexpr size_t kMaxMembers = 16384;
constexpr size_t kMaxTypes = 16384;

std::optional<std::vector<Token>> Tokenize(std::string_view text) {
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (std::isspace(c)) {
            ++i;
        } else if (c == '#') {
            while (i < text.size() && text[i] != '\n') ++i;
        } else if (std::isalpha(c) || c == '_') {
            const size_t start = i;
            while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '_')) ++i;
            tokens.push_back({TokenKind::Name, std::string(text.substr(start, i - start))});
        } else if (std::isdigit(c) || (c == '-' && i + 1 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1])))) {
            const bool negative = c == '-';
            if (negative) ++i;
            int64_t value = 0;
            const size_t start = i;
            while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
                if (i - start >= 10) return std::nullopt;  // beyond 32 bits
                value = value * 10 + (text[i] - '0');
                ++i;
            }
            if (value > 0xFFFFFFFFLL) return std::nullopt;
            tokens.push_back({TokenKind::Number, {}, negative ? -value : value});
        } else if (c == '{' && i + 38 <= text.size() && text[i + 37] == '}' &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
            Token token{TokenKind::Guid, {}};
            const std::vector<uint16_t> units = DecodeAnsi(text.substr(i, 38));
            if (!ParseGuid(std::u16string_view(reinterpret_cast<const char16_t*>(units.data()), units.size()),
                           &token.guid))
                return std::nullopt;
            tokens.push_back(token);
            i += 38;
        } else if (std::string_view("{}()[];,=*").find(static_cast<char>(c)) != std::string_view::npos) {
            tokens.push_back({TokenKind::Symbol, std::string(1, static_cast<char>(c))});
            ++i;
        } else {
            return std::nullopt;
        }
    }
    tokens.push_back({TokenKind::End, {}});
    return tokens;
}

std::u16string Wide(const std::string& text) {
    const std::vector<uint16_t> units = DecodeAnsi(text);
    return std::u16string(units.begin(), units.end());
}

struct BaseType {
    const char* name;
    VARTYPE vt;
};
constexpr BaseType kBaseTypes[] = {
    {"void", VT_VOID},       {"short", VT_I2},       {"long", VT_I4},         {"float", VT_R4},
    {"double", VT_R8},       {"currency", VT_CY},    {"date", VT_DATE},       {"bstr", VT_BSTR},
    {"dispatch", VT_DISPATCH}, {"error", VT_ERROR},  {"bool", VT_BOOL},       {"variant", VT_VARIANT},
    {"unknown", VT_UNKNOWN}, {"byte", VT_UI1},       {"hresult", VT_HRESULT},
};

bool IsDeclarationKeyword(const std::string& word) {
    return word == "enum" || word == "alias" || word == "record" || word == "interface" ||
           word == "dispinterface" || word == "coclass";
}

// The parse state: tokens, position, and the builder.
class Reader {
  public:
    explicit Reader(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

    bool Read(ITypeLib** library);

  private:
    const Token& Peek() const { return tokens_[position_]; }
    const Token& Next() {
        const Token& token = tokens_[position_];
        if (token.kind != TokenKind::End) ++position_;
        return token;
    }
    bool IsSymbol(char symbol) const { return Peek().kind == TokenKind::Symbol && Peek().text[0] == symbol; }
    bool IsWord(const char* word) const { return Peek().kind == TokenKind::Name && Peek().text == word; }
    bool Accept(char symbol) {
        if (!IsSymbol(symbol)) return false;
        Next();
        return true;
    }
    bool Expect(char symbol) { return Accept(symbol); }
    std::optional<std::string> ExpectName() {
        if (Peek().kind != TokenKind::Name) return std::nullopt;
        return Next().text;
    }
    std::optional<int64_t> ExpectNumber() {
        if (Peek().kind != TokenKind::Number) return std::nullopt;
        return Next().number;
    }
    GUID OptionalGuid() {
        if (Peek().kind != TokenKind::Guid) return GUID_NULL;
        return Next().guid;
    }

    bool DeclareTypes();
    bool ReadDeclaration();
    bool ReadEnum(int32_t type);
    bool ReadAlias(int32_t type);
    bool ReadRecord(int32_t type);
    bool ReadInterface(int32_t type);
    bool ReadMember(int32_t type, DISPID* nextId);
    bool ReadCoclass(int32_t type);
    std::optional<TypeSpec> ReadType();
    bool HasAliasCycle() const;

    std::vector<Token> tokens_;
    size_t position_ = 0;
    TypeLibraryBuilder builder_;
    std::vector<std::pair<int32_t, TypeSpec>> aliases_;
};

// Every declared type gets its index before any body is read.
bool Reader::DeclareTypes() {
    int depth = 0;
    for (size_t i = 0; i + 1 < tokens_.size(); ++i) {
        const Token& token = tokens_[i];
        if (token.kind == TokenKind::Symbol && token.text == "{") ++depth;
        if (token.kind == TokenKind::Symbol && token.text == "}") --depth;
        if (depth != 0 || token.kind != TokenKind::Name || !IsDeclarationKeyword(token.text)) continue;
        const Token& name = tokens_[i + 1];
        if (name.kind != TokenKind::Name) return false;
        for (const BaseType& base : kBaseTypes)
            if (name.text == base.name) return false;
        if (builder_.FindType(Wide(name.text)) >= 0 || builder_.TypeCount() >= kMaxTypes) return false;
        TYPEKIND kind = TKIND_ENUM;
        if (token.text == "alias") kind = TKIND_ALIAS;
        if (token.text == "record") kind = TKIND_RECORD;
        if (token.text == "interface") kind = TKIND_INTERFACE;
        if (token.text == "dispinterface") kind = TKIND_DISPATCH;
        if (token.text == "coclass") kind = TKIND_COCLASS;
        builder_.AddType(Wide(name.text), kind);
    }
    return true;
}

std::optional<TypeSpec> Reader::ReadType() {
    TypeSpec spec;
    if (IsWord("safearray")) {
        Next();
        if (!Expect('(')) return std::nullopt;
        std::optional<TypeSpec> element = ReadType();
        if (!element || !Expect(')')) return std::nullopt;
        spec = TypeSpec::ArrayOf(*element);
    } else {
        std::optional<std::string> name = ExpectName();
        if (!name) return std::nullopt;
        bool found = false;
        for (const BaseType& base : kBaseTypes)
            if (*name == base.name) {
                spec = TypeSpec::Of(base.vt);
                found = true;
            }
        if (!found) {
            const int32_t index = builder_.FindType(Wide(*name));
            if (index < 0) return std::nullopt;
            spec = TypeSpec::User(index);
        }
    }
    while (Accept('*')) spec = TypeSpec::PointerTo(spec);
    return spec;
}

bool Reader::ReadEnum(int32_t type) {
    if (!Expect('{')) return false;
    DISPID id = 0;
    while (!Accept('}')) {
        std::optional<std::string> name = ExpectName();
        if (!name || !Expect('=')) return false;
        std::optional<int64_t> value = ExpectNumber();
        if (!value || !Expect(';')) return false;
        VariableSpec constant{Wide(*name), id++, VAR_CONST, TypeSpec::Of(VT_I4)};
        constant.value.vt = VT_I4;
        constant.value.lVal = static_cast<int32_t>(*value);
        if (id > static_cast<DISPID>(kMaxMembers)) return false;
        builder_.AddVariable(type, std::move(constant));
    }
    return true;
}

bool Reader::ReadAlias(int32_t type) {
    if (!Expect('=')) return false;
    std::optional<TypeSpec> aliased = ReadType();
    if (!aliased || !Expect(';')) return false;
    builder_.SetAlias(type, *aliased);
    aliases_.emplace_back(type, *aliased);
    return true;
}

bool Reader::ReadRecord(int32_t type) {
    if (!Expect('{')) return false;
    DISPID id = 0;
    while (!Accept('}')) {
        std::optional<TypeSpec> field = ReadType();
        std::optional<std::string> name = field ? ExpectName() : std::nullopt;
        if (!name || !Expect(';') || id >= static_cast<DISPID>(kMaxMembers)) return false;
        builder_.AddVariable(type, VariableSpec{Wide(*name), id++, VAR_PERINSTANCE, *field});
    }
    return true;
}

bool Reader::ReadMember(int32_t type, DISPID* nextId) {
    if (IsWord("property")) {
        Next();
        std::optional<TypeSpec> propertyType = ReadType();
        std::optional<std::string> name = propertyType ? ExpectName() : std::nullopt;
        if (!name) return false;
        DISPID id = (*nextId)++;
        if (Accept('=')) {
            std::optional<int64_t> number = ExpectNumber();
            if (!number) return false;
            id = static_cast<DISPID>(*number);
            *nextId = id + 1;
        }
        if (!Expect(';')) return false;
        builder_.AddVariable(type, VariableSpec{Wide(*name), id, VAR_DISPATCH, *propertyType});
        return true;
    }
    FunctionSpec function;
    function.memid = (*nextId)++;
    if (Accept('[')) {
        do {
            std::optional<std::string> attribute = ExpectName();
            if (!attribute) return false;
            if (*attribute == "id") {
                std::optional<int64_t> number;
                if (!Expect('(') || !(number = ExpectNumber()) || !Expect(')')) return false;
                function.memid = static_cast<DISPID>(*number);
                *nextId = function.memid + 1;
            } else if (*attribute == "propget") {
                function.kind = INVOKE_PROPERTYGET;
            } else if (*attribute == "propput") {
                function.kind = INVOKE_PROPERTYPUT;
            } else if (*attribute == "propputref") {
                function.kind = INVOKE_PROPERTYPUTREF;
            } else {
                return false;
            }
        } while (Accept(','));
        if (!Expect(']')) return false;
    }
    std::optional<TypeSpec> result = ReadType();
    std::optional<std::string> name = result ? ExpectName() : std::nullopt;
    if (!name || !Expect('(')) return false;
    function.name = Wide(*name);
    function.result = *result;
    if (!Accept(')')) {
        do {
            ParamSpec param;
            if (Accept('[')) {
                param.flags = 0;
                do {
                    std::optional<std::string> attribute = ExpectName();
                    if (!attribute) return false;
                    if (*attribute == "in") param.flags |= PARAMFLAG_FIN;
                    else if (*attribute == "out") param.flags |= PARAMFLAG_FOUT;
                    else if (*attribute == "optional") param.flags |= PARAMFLAG_FOPT;
                    else return false;
                } while (Accept(','));
                if (!Expect(']')) return false;
            }
            std::optional<TypeSpec> paramType = ReadType();
            std::optional<std::string> paramName = paramType ? ExpectName() : std::nullopt;
            if (!paramName || function.params.size() >= kMaxParams) return false;
            param.name = Wide(*paramName);
            param.type = *paramType;
            function.params.push_back(std::move(param));
        } while (Accept(','));
        if (!Expect(')')) return false;
    }
    if (!Expect(';')) return false;
    builder_.AddFunction(type, std::move(function));
    return true;
}

bool Reader::ReadInterface(int32_t type) {
    DISPID nextId = 1;
    size_t members = 0;
    while (!Accept('}')) {
        if (Peek().kind == TokenKind::End || ++members > kMaxMembers) return false;
        if (!ReadMember(type, &nextId)) return false;
    }
    return true;
}

bool Reader::ReadCoclass(int32_t type) {
    if (!Expect('{')) return false;
    size_t members = 0;
    while (!Accept('}')) {
        if (++members > kMaxMembers) return false;
        int32_t flags = 0;
        if (Accept('[')) {
            do {
                std::optional<std::string> attribute = ExpectName();
                if (!attribute) return false;
                if (*attribute == "default") flags |= IMPLTYPEFLAG_FDEFAULT;
                else if (*attribute == "source") flags |= IMPLTYPEFLAG_FSOURCE;
                else return false;
            } while (Accept(','));
            if (!Expect(']')) return false;
        }
        if (!IsWord("interface") && !IsWord("dispinterface")) return false;
        Next();
        std::optional<std::string> name = ExpectName();
        if (!name || !Expect(';')) return false;
        const int32_t implemented = builder_.FindType(Wide(*name));
        if (implemented < 0) return false;
        builder_.AddImplementedType(type, implemented, flags);
    }
    return true;
}

bool Reader::ReadDeclaration() {
    const std::string keyword = Next().text;
    std::optional<std::string> name = ExpectName();
    if (!name) return false;
    const int32_t type = builder_.FindType(Wide(*name));
    if (type < 0) return false;
    if (keyword == "enum") return ReadEnum(type);
    if (keyword == "alias") return ReadAlias(type);
    if (keyword == "record") return ReadRecord(type);
    // Interfaces and coclasses: an optional GUID (and "dual"), then the body.
    const GUID guid = OptionalGuid();
    uint16_t flags = 0;
    if (keyword != "coclass" && IsWord("dual")) {
        Next();
        flags = TYPEFLAG_FDUAL;
    }
    builder_.SetIdentity(type, guid, flags);
    if (keyword == "coclass") return ReadCoclass(type);
    if (!Expect('{')) return false;
    return ReadInterface(type);
}

// An alias that reaches itself through aliases (directly, through pointers or
// array elements) would send the walks of the type information round forever.
bool Reader::HasAliasCycle() const {
    auto innermost = [](const TypeSpec* spec) {
        while (spec->inner) spec = spec->inner.get();
        return spec->vt == VT_USERDEFINED ? spec->userType : -1;
    };
    for (const auto& [start, target] : aliases_) {
        std::set<int32_t> seen{start};
        int32_t next = innermost(&target);
        while (next >= 0) {
            if (!seen.insert(next).second) return true;
            const TypeSpec* aliased = nullptr;
            for (const auto& [alias, spec] : aliases_)
                if (alias == next) aliased = &spec;
            if (!aliased) break;
            next = innermost(aliased);
        }
    }
    return false;
}

bool Reader::Read(ITypeLib** library) {
    if (!IsWord("library")) return false;
    Next();
    std::optional<std::string> name = ExpectName();
    if (!name) return false;
    OptionalGuid();
    if (!Expect(';')) return false;
    builder_ = TypeLibraryBuilder(Wide(*name));
    if (!DeclareTypes()) return false;
    while (Peek().kind != TokenKind::End) {
        if (Peek().kind != TokenKind::Name || !IsDeclarationKeyword(Peek().text)) return false;
        if (!ReadDeclaration()) return false;
    }
    if (HasAliasCycle()) return false;
    *library = builder_.Build();
    return *library != nullptr;
}

}  // namespace

HRESULT ParseTypeLibText(std::string_view text, ITypeLib** library) {
    if (!library) return E_POINTER;
    *library = nullptr;
    std::optional<std::vector<Token>> tokens = Tokenize(text);
    if (!tokens) return TYPE_E_CANTLOADLIBRARY;
    Reader reader(std::move(*tokens));
    return reader.Read(library) ? S_OK : TYPE_E_CANTLOADLIBRARY;
}

HRESULT LoadTypeLib(const char16_t* path, ITypeLib** library) {
    if (!library) return E_POINTER;
    *library = nullptr;
    if (!path) return TYPE_E_CANTLOADLIBRARY;
    const std::u16string_view view(path);
    const std::optional<std::string> bytes =
        ReadFileBytes(EncodeAnsi({reinterpret_cast<const uint16_t*>(view.data()), view.size()}));
    if (!bytes) return TYPE_E_CANTLOADLIBRARY;
    return ParseTypeLibText(*bytes, library);
}

}  // namespace qob::platform
