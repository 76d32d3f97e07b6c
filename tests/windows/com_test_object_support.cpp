// tests/windows/com_test_object_support.cpp
// QOB.TestObject: its type library (made with the builder), its members and
// its collection.
#include "com_test_object_support.h"

#include <cmath>
#include <string>

namespace qob::testing {

using namespace platform;

const CLSID kTestObjectClsid{0x51B01000, 0x0001, 0x4000, {0x8A, 0x00, 0x51, 0x0B, 0x10, 0x00, 0x00, 0x01}};
const IID kTestEventsIid{0x51B01000, 0x0002, 0x4000, {0x8A, 0x00, 0x51, 0x0B, 0x10, 0x00, 0x00, 0x02}};
const IID kTestInterfaceIid{0x51B01000, 0x0003, 0x4000, {0x8A, 0x00, 0x51, 0x0B, 0x10, 0x00, 0x00, 0x03}};
std::atomic<int> LiveTestObjects{0};

namespace {

enum TypeIndex : int32_t { kObjectType = 0, kCollectionType = 1, kEventsType = 2, kClassType = 3 };

ParamSpec Param(const char16_t* name, TypeSpec type, uint16_t flags = PARAMFLAG_FIN) {
    return ParamSpec{name, std::move(type), flags};
}

void AddProperty(TypeLibraryBuilder& builder, const char16_t* name, DISPID id, TypeSpec type, bool writable = true) {
    builder.AddFunction(kObjectType, FunctionSpec{name, id, INVOKE_PROPERTYGET, type, {}});
    if (writable) builder.AddFunction(kObjectType, FunctionSpec{name, id, INVOKE_PROPERTYPUT, TypeSpec::Of(VT_VOID), {Param(u"value", type)}});
}

ITypeLib* BuildTypeLib() {
    TypeLibraryBuilder builder(u"QobTestLibrary");
    builder.AddType(u"ITestObject", TKIND_DISPATCH, kTestInterfaceIid, TYPEFLAG_FDUAL);
    builder.AddType(u"ITestCollection", TKIND_DISPATCH);
    builder.AddType(u"ITestEvents", TKIND_DISPATCH, kTestEventsIid);
    builder.AddType(u"TestObject", TKIND_COCLASS, kTestObjectClsid);
    AddProperty(builder, u"Number", kNumber, TypeSpec::Of(VT_R8));
    AddProperty(builder, u"Count", kCount, TypeSpec::Of(VT_I4));
    AddProperty(builder, u"Short", kShort, TypeSpec::Of(VT_I2));
    AddProperty(builder, u"Single", kSingle, TypeSpec::Of(VT_R4));
    AddProperty(builder, u"Money", kMoney, TypeSpec::Of(VT_CY));
    AddProperty(builder, u"When", kWhen, TypeSpec::Of(VT_DATE));
    AddProperty(builder, u"Text", kText, TypeSpec::Of(VT_BSTR));
    AddProperty(builder, u"Flag", kFlag, TypeSpec::Of(VT_BOOL));
    AddProperty(builder, u"Byte", kByte, TypeSpec::Of(VT_UI1));
    AddProperty(builder, u"Any", kAny, TypeSpec::Of(VT_VARIANT));
    AddProperty(builder, u"Code", kCode, TypeSpec::Of(VT_ERROR));
    AddProperty(builder, u"Child", kChild, TypeSpec::Of(VT_DISPATCH), false);
    AddProperty(builder, u"Items", kItems, TypeSpec::PointerTo(TypeSpec::User(kCollectionType)), false);
    AddProperty(builder, u"LiveObjects", kLiveObjects, TypeSpec::Of(VT_I4), false);
    builder.AddFunction(kObjectType, FunctionSpec{u"Add", kAdd, INVOKE_FUNC, TypeSpec::Of(VT_I4),
                                                  {Param(u"a", TypeSpec::Of(VT_I4)), Param(u"b", TypeSpec::Of(VT_I4))}});
    builder.AddFunction(kObjectType,
                        FunctionSpec{u"Concat", kConcat, INVOKE_FUNC, TypeSpec::Of(VT_BSTR),
                                     {Param(u"a", TypeSpec::Of(VT_BSTR)),
                                      Param(u"b", TypeSpec::Of(VT_VARIANT), PARAMFLAG_FIN | PARAMFLAG_FOPT)}});
    builder.AddFunction(kObjectType,
                        FunctionSpec{u"Fill", kFill, INVOKE_FUNC, TypeSpec::Of(VT_VOID),
                                     {Param(u"text", TypeSpec::PointerTo(TypeSpec::Of(VT_VARIANT)), PARAMFLAG_FOUT),
                                      Param(u"number", TypeSpec::PointerTo(TypeSpec::Of(VT_VARIANT)), PARAMFLAG_FOUT)}});
    builder.AddFunction(kObjectType, FunctionSpec{u"Fail", kFail, INVOKE_FUNC, TypeSpec::Of(VT_VOID), {}});
    builder.AddFunction(kObjectType, FunctionSpec{u"Fire", kFire, INVOKE_FUNC, TypeSpec::Of(VT_I4),
                                                  {Param(u"value", TypeSpec::Of(VT_I4))}});
    builder.AddFunction(kObjectType, FunctionSpec{u"Describe", kDescribe, INVOKE_FUNC, TypeSpec::Of(VT_BSTR),
                                                  {Param(u"value", TypeSpec::Of(VT_VARIANT))}});
    builder.AddFunction(kObjectType, FunctionSpec{u"AddDays", kAddDays, INVOKE_FUNC, TypeSpec::Of(VT_DATE),
                                                  {Param(u"when", TypeSpec::Of(VT_DATE)), Param(u"days", TypeSpec::Of(VT_I4))}});
    builder.AddFunction(kObjectType, FunctionSpec{u"Bytes", kBytes, INVOKE_FUNC, TypeSpec::Of(VT_I4),
                                                  {Param(u"data", TypeSpec::ArrayOf(TypeSpec::Of(VT_UI1)))}});
    builder.AddFunction(kObjectType, FunctionSpec{u"Negate", kNegate, INVOKE_FUNC, TypeSpec::Of(VT_BOOL),
                                                  {Param(u"value", TypeSpec::Of(VT_BOOL))}});
    // The collection: its default member, declared as a pointer, reaches the items.
    builder.AddFunction(kCollectionType, FunctionSpec{u"Item", DISPID_VALUE, INVOKE_PROPERTYGET,
                                                      TypeSpec::PointerTo(TypeSpec::Of(VT_VARIANT)),
                                                      {Param(u"index", TypeSpec::Of(VT_I4))}});
    builder.AddFunction(kCollectionType, FunctionSpec{u"Count", 1, INVOKE_PROPERTYGET, TypeSpec::Of(VT_I4), {}});
    builder.AddFunction(kEventsType, FunctionSpec{u"Changed", 1, INVOKE_FUNC, TypeSpec::Of(VT_VOID),
                                                  {Param(u"value", TypeSpec::Of(VT_I4))}});
    builder.AddImplementedType(kClassType, kObjectType, IMPLTYPEFLAG_FDEFAULT);
    builder.AddImplementedType(kClassType, kEventsType, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
    return builder.Build();
}

ITypeInfo* TypeInfoAt(uint32_t index) {
    ITypeLib* library = TestObjectTypeLib();
    ITypeInfo* info = nullptr;
    if (library) {
        library->GetTypeInfo(index, &info);
        library->Release();
    }
    return info;
}

// Test objects count themselves in the ledger for as long as they live.
class CountedObject : public DispatchObject {
  public:
    CountedObject(ITypeInfo* info, const IID* events) : DispatchObject(info, events) { ++LiveTestObjects; }
    ~CountedObject() override { --LiveTestObjects; }
};

BSTR Text(std::u16string_view text) { return SysAllocStringLen(text.data(), static_cast<uint32_t>(text.size())); }

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::string NumberText(double value) {
    if (value == std::trunc(value) && std::fabs(value) < 1e15) return std::to_string(static_cast<long long>(value));
    std::string text = std::to_string(value);
    while (!text.empty() && text.back() == '0') text.pop_back();
    return text;
}

// What the object received: "<vt>:<value>".
std::string DescribeVariant(const VARIANT& v) {
    std::string value;
    switch (v.vt) {
        case VT_I4: value = std::to_string(v.lVal); break;
        case VT_I2: value = std::to_string(v.iVal); break;
        case VT_UI1: value = std::to_string(v.bVal); break;
        case VT_R8: value = NumberText(v.dblVal); break;
        case VT_R4: value = NumberText(v.fltVal); break;
        case VT_BOOL: value = std::to_string(v.boolVal); break;
        case VT_CY: value = std::to_string(v.cyVal); break;
        case VT_ERROR: value = std::to_string(static_cast<uint32_t>(v.scode)); break;
        case VT_BSTR: value = BstrToAnsi(VariantBstr(v)); break;
        default: value = "?"; break;
    }
    return std::to_string(v.vt) + ":" + value;
}

class TestCollection final : public CountedObject {
  public:
    TestCollection() : CountedObject(TypeInfoAt(kCollectionType), nullptr) {
        // The type information was taken with its own reference.
        ITypeInfo* info = nullptr;
        GetTypeInfo(0, 0, &info);
        if (info) {
            info->Release();
            info->Release();
        }
        Bind(DISPID_VALUE, INVOKE_PROPERTYGET, [this](std::span<VARIANT> args, VARIANT* result, EXCEPINFO* exception) {
            const int32_t index = args[0].lVal;
            if (index < 0) {  // an item that is the collection itself
                AddRef();
                SetVariantPointer(result, VT_DISPATCH, static_cast<IDispatch*>(this));
                return S_OK;
            }
            if (index >= 1000) return Fail(exception, u"QOB.TestObject", u"No such item");
            SetVariantPointer(result, VT_BSTR, Text(u"item " + Wide(std::to_string(index))));
            return S_OK;
        });
        Bind(1, INVOKE_PROPERTYGET, [](std::span<VARIANT>, VARIANT* result, EXCEPINFO*) {
            result->vt = VT_I4;
            result->lVal = 1000;
            return S_OK;
        });
    }
};

class TestObject final : public CountedObject {
  public:
    TestObject() : CountedObject(TypeInfoAt(kObjectType), &kTestEventsIid) {
        ITypeInfo* info = nullptr;
        GetTypeInfo(0, 0, &info);
        if (info) {
            info->Release();
            info->Release();
        }
        for (VARIANT& value : values_) VariantInit(&value);
        values_[kNumber].vt = VT_R8;
        values_[kCount].vt = VT_I4;
        values_[kShort].vt = VT_I2;
        values_[kSingle].vt = VT_R4;
        values_[kMoney].vt = VT_CY;
        values_[kWhen].vt = VT_DATE;
        values_[kFlag].vt = VT_BOOL;
        values_[kByte].vt = VT_UI1;
        values_[kCode].vt = VT_ERROR;
        SetVariantPointer(&values_[kText], VT_BSTR, Text(u""));
        for (DISPID id = kNumber; id <= kCode; ++id) {
            Bind(id, INVOKE_PROPERTYGET, [this, id](std::span<VARIANT>, VARIANT* result, EXCEPINFO*) {
                return VariantCopy(result, &values_[id]);
            });
            Bind(id, INVOKE_PROPERTYPUT, [this, id](std::span<VARIANT> args, VARIANT*, EXCEPINFO*) {
                return VariantCopy(&values_[id], &args[0]);
            });
        }
        Bind(kChild, INVOKE_PROPERTYGET, [](std::span<VARIANT>, VARIANT* result, EXCEPINFO*) {
            SetVariantPointer(result, VT_DISPATCH, static_cast<IDispatch*>(new TestObject()));
            return S_OK;
        });
        Bind(kItems, INVOKE_PROPERTYGET, [](std::span<VARIANT>, VARIANT* result, EXCEPINFO*) {
            SetVariantPointer(result, VT_DISPATCH, static_cast<IDispatch*>(new TestCollection()));
            return S_OK;
        });
        Bind(kLiveObjects, INVOKE_PROPERTYGET, [](std::span<VARIANT>, VARIANT* result, EXCEPINFO*) {
            result->vt = VT_I4;
            result->lVal = LiveTestObjects.load();
            return S_OK;
        });
        Bind(kAdd, INVOKE_FUNC, [](std::span<VARIANT> args, VARIANT* result, EXCEPINFO*) {
            result->vt = VT_I4;
            result->lVal = args[0].lVal + args[1].lVal;
            return S_OK;
        });
        Bind(kConcat, INVOKE_FUNC, [](std::span<VARIANT> args, VARIANT* result, EXCEPINFO*) {
            std::u16string text(BstrView(VariantBstr(args[0])));
            if (args[1].vt == VT_ERROR && args[1].scode == DISP_E_PARAMNOTFOUND)
                text += u"(none)";
            else
                text += Wide(DescribeVariant(args[1]));
            SetVariantPointer(result, VT_BSTR, Text(text));
            return S_OK;
        });
        Bind(kFill, INVOKE_FUNC, [](std::span<VARIANT> args, VARIANT*, EXCEPINFO*) {
            VARIANT* text = VariantReference<VARIANT>(args[0]);
            VARIANT* number = args[1].vt == (VT_BYREF | VT_VARIANT) ? VariantReference<VARIANT>(args[1]) : nullptr;
            if (text) {
                VariantClear(text);
                SetVariantPointer(text, VT_BSTR, Text(u"filled"));
            }
            if (number) {
                VariantClear(number);
                number->vt = VT_I4;
                number->lVal = 42;
            }
            return S_OK;
        });
        Bind(kFail, INVOKE_FUNC, [](std::span<VARIANT>, VARIANT*, EXCEPINFO* exception) {
            return Fail(exception, u"QOB.TestObject", u"The test object failed on purpose");
        });
        Bind(kFire, INVOKE_FUNC, [this](std::span<VARIANT> args, VARIANT* result, EXCEPINFO*) {
            result->vt = VT_I4;
            result->lVal = FireEvent(1, args.subspan(0, 1));
            return S_OK;
        });
        Bind(kDescribe, INVOKE_FUNC, [](std::span<VARIANT> args, VARIANT* result, EXCEPINFO*) {
            SetVariantPointer(result, VT_BSTR, Text(Wide(DescribeVariant(args[0]))));
            return S_OK;
        });
        Bind(kAddDays, INVOKE_FUNC, [](std::span<VARIANT> args, VARIANT* result, EXCEPINFO*) {
            result->vt = VT_DATE;
            result->date = args[0].date + args[1].lVal;
            return S_OK;
        });
        Bind(kBytes, INVOKE_FUNC, [](std::span<VARIANT> args, VARIANT* result, EXCEPINFO*) {
            SAFEARRAY* array = VariantArray(args[0]);
            result->vt = VT_I4;
            result->lVal = 0;
            const auto* data = array ? static_cast<const uint8_t*>(SafeArrayData(array)) : nullptr;
            for (uint32_t i = 0; data && i < array->rgsabound[0].cElements; ++i) result->lVal += data[i];
            return S_OK;
        });
        Bind(kNegate, INVOKE_FUNC, [](std::span<VARIANT> args, VARIANT* result, EXCEPINFO*) {
            result->vt = VT_BOOL;
            result->boolVal = args[0].boolVal ? VARIANT_FALSE : VARIANT_TRUE;
            return S_OK;
        });
    }
    ~TestObject() override {
        for (VARIANT& value : values_) VariantClear(&value);
    }

  private:
    VARIANT values_[kCode + 1];
};

IUnknown* CreateTestObject() { return static_cast<IDispatch*>(new TestObject()); }

}  // namespace

IUnknown* NewTestObject() { return CreateTestObject(); }

IClassFactory* NewTestObjectFactory() { return new SimpleClassFactory(CreateTestObject); }

ITypeLib* TestObjectTypeLib() {
    // Built once; the first reference stays with the process.
    static ITypeLib* library = BuildTypeLib();
    if (library) library->AddRef();
    return library;
}

void RegisterTestObjectClass() {
    IClassFactory* factory = NewTestObjectFactory();
    RegisterBuiltinClassFactory(kTestObjectProgId, factory);
    factory->Release();
    (void)RegisterComClass(kTestObjectClsid, kTestObjectProgId, u"builtin:QOB.TestObject", false);
}

}  // namespace qob::testing
