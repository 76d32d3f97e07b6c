// tests/platform/com/type_library_text_test.cpp
// The text type-library reader: what a valid library describes, and that
// every cut of it and a table of broken ones are refused.

#include <gtest/gtest.h>

#include <string>

#include "platform/com.h"

namespace qob::platform {
namespace {

constexpr std::string_view kLibrary = R"(library Sample {51B03000-0000-4000-8A00-510B30000000};
# A comment runs to the end of the line.
enum Colour { Red = 0; Green = 5; }
alias Amount = currency;
alias Hue = Colour*;
record Point { long x; long y; }
coclass Widget {51B03000-0000-4000-8A00-510B30000001} {
  [default, source] dispinterface IWidgetEvents;
  [default] dispinterface IWidget;
}
dispinterface IWidget {51B03000-0000-4000-8A00-510B30000002} dual {
  [id(1), propget] double Width();
  [id(1), propput] void Width(double value);
  long Paint([optional] Colour colour, Amount* cost, safearray(byte) data);
  [id(0), propget] variant* Item(long index);
  property bstr Name = 7;
}
dispinterface IWidgetEvents {
  void Painted(long count);
}
)";

ITypeLib* Parse(std::string_view text) {
    ITypeLib* library = nullptr;
    const HRESULT result = ParseTypeLibText(text, &library);
    EXPECT_EQ(SUCCEEDED(result), library != nullptr);
    return library;
}

TEST(TypeLibraryText, DescribesTypesInDeclarationOrder) {
    ITypeLib* library = Parse(kLibrary);
    ASSERT_NE(library, nullptr);
    ASSERT_EQ(library->GetTypeInfoCount(), 7u);
    const TYPEKIND kinds[] = {TKIND_ENUM, TKIND_ALIAS, TKIND_ALIAS, TKIND_RECORD, TKIND_COCLASS, TKIND_DISPATCH, TKIND_DISPATCH};
    for (uint32_t i = 0; i < 7; ++i) {
        TYPEKIND kind{};
        EXPECT_EQ(library->GetTypeInfoType(i, &kind), S_OK);
        EXPECT_EQ(kind, kinds[i]) << i;
    }
    ITypeInfo* widget = nullptr;
    ASSERT_EQ(library->GetTypeInfo(5, &widget), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(widget->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->cFuncs, 4);
    EXPECT_EQ(attributes->cVars, 1);
    EXPECT_EQ(attributes->wTypeFlags, TYPEFLAG_FDUAL);
    EXPECT_EQ(FormatGuid(attributes->guid), u"{51B03000-0000-4000-8A00-510B30000002}");
    FUNCDESC* paint = nullptr;
    ASSERT_EQ(widget->GetFuncDesc(2, &paint), S_OK);
    EXPECT_EQ(paint->memid, 2);  // numbered on from the last id
    EXPECT_EQ(paint->cParams, 3);
    EXPECT_EQ(paint->cParamsOpt, 1);
    EXPECT_EQ(paint->lprgelemdescParam[0].tdesc.vt, VT_USERDEFINED);
    EXPECT_EQ(paint->lprgelemdescParam[1].tdesc.vt, VT_PTR);
    EXPECT_EQ(paint->lprgelemdescParam[1].tdesc.lptdesc->vt, VT_USERDEFINED);
    EXPECT_EQ(paint->lprgelemdescParam[2].tdesc.vt, VT_SAFEARRAY);
    EXPECT_EQ(paint->lprgelemdescParam[2].tdesc.lptdesc->vt, VT_UI1);
    widget->ReleaseFuncDesc(paint);
    VARDESC* name = nullptr;
    ASSERT_EQ(widget->GetVarDesc(0, &name), S_OK);
    EXPECT_EQ(name->memid, 7);
    EXPECT_EQ(name->varkind, VAR_DISPATCH);
    widget->ReleaseVarDesc(name);
    BSTR names[4] = {};
    uint32_t count = 0;
    ASSERT_EQ(widget->GetNames(2, names, 4, &count), S_OK);
    ASSERT_EQ(count, 4u);
    EXPECT_EQ(BstrToAnsi(names[0]), "Paint");
    EXPECT_EQ(BstrToAnsi(names[3]), "data");
    for (BSTR text : names) SysFreeString(text);
    widget->ReleaseTypeAttr(attributes);
    widget->Release();
    library->Release();
}

TEST(TypeLibraryText, EveryCutOfAValidLibraryIsRefused) {
    // Cuts inside a trailing comment or blank would still be whole: the text
    // ends with the last closing brace.
    const std::string_view whole = kLibrary.substr(0, kLibrary.rfind('}') + 1);
    for (size_t length = 0; length < whole.size(); ++length) {
        ITypeLib* library = nullptr;
        const std::string_view cut = whole.substr(0, length);
        const HRESULT result = ParseTypeLibText(cut, &library);
        // A cut that ends exactly after a whole declaration is a valid, shorter library.
        if (SUCCEEDED(result)) {
            ASSERT_NE(library, nullptr);
            std::string_view code = cut.substr(0, cut.find_last_not_of(" \n") + 1);
            const size_t lineStart = code.rfind('\n') == std::string_view::npos ? 0 : code.rfind('\n');
            if (const size_t comment = code.find('#', lineStart); comment != std::string_view::npos)
                code = code.substr(0, comment);
            const size_t end = code.find_last_not_of(" \n");
            const char last = end == std::string_view::npos ? 0 : code[end];
            EXPECT_TRUE(last == '}' || last == ';') << length;
            library->Release();
            continue;
        }
        EXPECT_EQ(result, TYPE_E_CANTLOADLIBRARY) << length;
        EXPECT_EQ(library, nullptr);
    }
    ITypeLib* library = Parse(whole);
    ASSERT_NE(library, nullptr);
    library->Release();
}

TEST(TypeLibraryText, BrokenLibrariesAreRefused) {
    const char* kBroken[] = {
        "",
        "library;",
        "library L",
        "interface I { void f(); }",
        "library L; interface I { void f() }",
        "library L; interface I { Unknown f(); }",
        "library L; interface I { void f(Missing* p); }",
        "library L; alias A = B; alias B = A;",
        "library L; alias A = A*;",
        "library L; alias A = safearray(B); alias B = C; alias C = A*;",
        "library L; enum E { X = 1 }",
        "library L; enum E { X = 99999999999; }",
        "library L; interface I { [bogus] void f(); }",
        "library L; interface I { void f([sideways] long x); }",
        "library L; coclass C { [default] interface Nowhere; }",
        "library L; coclass C { [default] I; } interface I { }",
        "library L; interface I { } interface I { }",
        "library L; interface long { }",
        "library L; interface I { void f(long x,); }",
        "library L; interface I { property long; }",
        "library L; interface I $ { }",
        "library L; interface I {51B03000-0000-4000-8A00-51} { }",
        "library L; interface I { [id(]) void f(); }",
    };
    for (const char* text : kBroken) {
        ITypeLib* library = nullptr;
        EXPECT_EQ(ParseTypeLibText(text, &library), TYPE_E_CANTLOADLIBRARY) << text;
        EXPECT_EQ(library, nullptr) << text;
    }
}

TEST(TypeLibraryText, LoadTypeLibRefusesMissingFiles) {
    ITypeLib* library = nullptr;
    EXPECT_EQ(LoadTypeLib(u"/nonexistent/folder/none.tlb", &library), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(library, nullptr);
}

}  // namespace
}  // namespace qob::platform
