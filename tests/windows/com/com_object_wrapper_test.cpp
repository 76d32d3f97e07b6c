// tests/windows/com/com_object_wrapper_test.cpp
// The wrapper: the member table from type information (made by the builder
// and read from text), the coclass's interface, VARTYPEs of declared types,
// calls with their retry and exception records, events, creation and the
// reference ledger.

#include <cstring>
#include <string>

#include "com_fixture.h"
#include "platform/memory.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "windows/com/com_builtins.h"
#include "windows/com/com_variants.h"

namespace qob::testing {
namespace {

using namespace platform;

std::string NameOf(const ComMember& member) { return BstrToAnsi(member.name); }

ITypeInfo* InfoOf(ITypeLib* library, uint32_t index) {
    ITypeInfo* info = nullptr;
    EXPECT_EQ(library->GetTypeInfo(index, &info), S_OK);
    return info;
}

TEST_F(ComTest, MembersFollowTheTypeInformationInOrder) {
    ComObjectWrapper* wrapper = NewTestWrapper();
    EXPECT_EQ(wrapper->functionCount, 34);
    EXPECT_EQ(wrapper->propertyCount, 0);
    ASSERT_EQ(wrapper->memberCount, 34);
    EXPECT_EQ(NameOf(wrapper->members[0]), "number");
    EXPECT_EQ(wrapper->members[0].invokeKind, 2);
    EXPECT_EQ(wrapper->members[0].resultType, VT_R8);
    EXPECT_EQ(wrapper->members[1].invokeKind, 4);
    EXPECT_EQ(wrapper->members[1].resultType, VT_EMPTY);  // VT_VOID is kept as VT_EMPTY
    EXPECT_EQ(wrapper->members[1].parameterCount, 1);
    EXPECT_EQ(wrapper->members[1].parameterTypes[0], VT_R8);
    EXPECT_EQ(wrapper->members[1].parameterTypes[1], 0);
    // A dual property of the same name is told apart by its kind.
    EXPECT_EQ(FindComMember(wrapper, "NUMBER", 2), 0);
    EXPECT_EQ(FindComMember(wrapper, "Number", 4), 1);
    EXPECT_EQ(FindComMember(wrapper, "Number", 1), -1);
    EXPECT_EQ(FindComMemberById(wrapper, kAdd, 1), FindComMember(wrapper, "add", 1));
    DeleteComObjectWrapper(wrapper);
}

TEST_F(ComTest, FindLeavesTheCallersTextAlone) {
    ComObjectWrapper* wrapper = NewTestWrapper();
    char name[] = "NUMBER";
    EXPECT_EQ(FindComMember(wrapper, name, 2), 0);
    EXPECT_STREQ(name, "NUMBER");
    DeleteComObjectWrapper(wrapper);
}

TEST_F(ComTest, ADualPropertyIsWrittenAndRead) {
    ComObjectWrapper* wrapper = NewTestWrapper();
    VARIANT value{};
    value.vt = VT_R8;
    value.dblVal = 6.5;
    EXPECT_EQ(PutComProperty(wrapper, "number", &value), 1);
    VARIANT* result = InvokeComMethod(wrapper, "number", nullptr);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->vt, VT_R8);
    EXPECT_EQ(result->dblVal, 6.5);
    DeleteComObjectWrapper(wrapper);
}

TEST_F(ComTest, VariablesGiveAGetterAndASetterAfterTheFunctions) {
    TypeLibraryBuilder builder;
    const int32_t type = builder.AddType(u"IThing", TKIND_DISPATCH);
    builder.AddFunction(type, FunctionSpec{u"Go", 5, INVOKE_FUNC, TypeSpec::Of(VT_VOID), {}});
    builder.AddVariable(type, VariableSpec{u"Size", 6, VAR_DISPATCH, TypeSpec::Of(VT_I4)});
    builder.AddVariable(type, VariableSpec{u"Label", 7, VAR_DISPATCH, TypeSpec::Of(VT_BSTR)});
    builder.AddVariable(type, VariableSpec{u"Fixed", 8, VAR_PERINSTANCE, TypeSpec::Of(VT_I2)});
    ITypeLib* library = builder.Build();
    ASSERT_NE(library, nullptr);
    ComObjectWrapper* wrapper = NewTestWrapper();
    ASSERT_EQ(LoadComTypeInfo(wrapper, InfoOf(library, 0)), 1);
    EXPECT_EQ(wrapper->functionCount, 1);
    EXPECT_EQ(wrapper->propertyCount, 3);
    ASSERT_EQ(wrapper->memberCount, 7);
    const struct {
        const char* name;
        uint16_t kind;
        DISPID id;
        VARTYPE result;
        int32_t parameters;
    } kExpected[] = {{"go", 1, 5, VT_EMPTY, 0},     {"size", 2, 6, VT_I4, 0},   {"label", 2, 7, VT_BSTR, 0},
                     {"fixed", 0, 8, VT_EMPTY, 0},  {"size", 4, 6, VT_EMPTY, 1}, {"label", 4, 7, VT_EMPTY, 1},
                     {"fixed", 0, 8, VT_EMPTY, 0}};
    for (int i = 0; i < 7; ++i) {
        const ComMember& member = wrapper->members[i];
        EXPECT_EQ(NameOf(member), kExpected[i].name) << i;
        EXPECT_EQ(member.invokeKind, kExpected[i].kind) << i;
        EXPECT_EQ(member.dispid, kExpected[i].id) << i;
        EXPECT_EQ(member.resultType, kExpected[i].result) << i;
        EXPECT_EQ(member.parameterCount, kExpected[i].parameters) << i;
        EXPECT_NE(member.result, nullptr) << i;
    }
    EXPECT_EQ(wrapper->members[5].parameterTypes[0], VT_BSTR);
    // A member without an invoke kind is not called.
    EXPECT_EQ(ComDispatchInvoke(wrapper, 3, nullptr), 1);
    EXPECT_EQ(wrapper->lastResult, 1);
    // A copy reads the same, counts included.
    ComObjectWrapper* copy = NewComObjectWrapper(context);
    AssignComObject(copy, wrapper);
    EXPECT_EQ(copy->functionCount, 1);
    EXPECT_EQ(copy->propertyCount, 3);
    ASSERT_EQ(copy->memberCount, 7);
    EXPECT_EQ(NameOf(copy->members[5]), "label");
    EXPECT_EQ(copy->members[5].parameterTypes[0], VT_BSTR);
    DeleteComObjectWrapper(copy);
    DeleteComObjectWrapper(wrapper);
    library->Release();
}

// A coclass lists its event interface; the wrapper must take the interface
// it calls, never the events.
TEST_F(ComTest, ACoclassGivesItsDefaultInterfaceNotItsEvents) {
    struct Case {
        int32_t firstFlags, secondFlags;  // of the events (first) and the interface (second)
        int expected;                     // 1: the interface's members; 0: none
    };
    const Case kCases[] = {
        {IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE, IMPLTYPEFLAG_FDEFAULT, 1},
        {IMPLTYPEFLAG_FSOURCE, 0, 1},
        {IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE, IMPLTYPEFLAG_FSOURCE, 0},
    };
    for (const Case& c : kCases) {
        TypeLibraryBuilder builder;
        const int32_t coclass = builder.AddType(u"Thing", TKIND_COCLASS);
        const int32_t events = builder.AddType(u"IEvents", TKIND_DISPATCH);
        const int32_t calls = builder.AddType(u"ICalls", TKIND_DISPATCH);
        builder.AddFunction(events, FunctionSpec{u"Happened", 1, INVOKE_FUNC, TypeSpec::Of(VT_VOID), {}});
        builder.AddFunction(calls, FunctionSpec{u"Work", 1, INVOKE_FUNC, TypeSpec::Of(VT_I4), {}});
        builder.AddImplementedType(coclass, events, c.firstFlags);
        builder.AddImplementedType(coclass, calls, c.secondFlags);
        ITypeLib* library = builder.Build();
        ComObjectWrapper* wrapper = NewTestWrapper();
        EXPECT_EQ(LoadComTypeInfo(wrapper, InfoOf(library, 0)), c.expected);
        if (c.expected) {
            ASSERT_EQ(wrapper->memberCount, 1);
            EXPECT_EQ(NameOf(wrapper->members[0]), "work");
        } else {
            EXPECT_EQ(wrapper->memberCount, 0);
            EXPECT_EQ(wrapper->lastResult, 1);
        }
        DeleteComObjectWrapper(wrapper);
        library->Release();
    }
}

TEST_F(ComTest, UnsupportedKindsGiveNoMembersAndResultOne) {
    TypeLibraryBuilder builder;
    const TYPEKIND kKinds[] = {TKIND_ENUM, TKIND_RECORD, TKIND_MODULE, TKIND_ALIAS, TKIND_UNION};
    for (TYPEKIND kind : kKinds) builder.AddType(u"T" + std::u16string(1, static_cast<char16_t>(u'0' + kind)), kind);
    ITypeLib* library = builder.Build();
    for (uint32_t i = 0; i < 5; ++i) {
        ComObjectWrapper* wrapper = NewTestWrapper();
        EXPECT_EQ(LoadComTypeInfo(wrapper, InfoOf(library, i)), 0) << i;
        EXPECT_EQ(wrapper->memberCount, 0) << i;
        EXPECT_EQ(wrapper->members, nullptr) << i;
        EXPECT_EQ(wrapper->lastResult, 1) << i;
        DeleteComObjectWrapper(wrapper);
    }
    library->Release();
}

TEST_F(ComTest, DeclaredTypesBecomeVarTypes) {
    constexpr std::string_view kText = R"(library Types;
enum Small { A = 1; }
enum Empty { }
alias Money = currency;
alias SmallRef = Small*;
alias Deep = Money;
record Point { long x; }
interface IUses {
  void Take(Small a, Empty b, Money c, SmallRef d, Deep e, Point f, Point* g, safearray(bstr) h, long* i,
            Small* j, IUses* k, variant* l, date* m);
}
)";
    ITypeLib* library = nullptr;
    ASSERT_EQ(ParseTypeLibText(kText, &library), S_OK);
    ComObjectWrapper* wrapper = NewTestWrapper();
    ASSERT_EQ(LoadComTypeInfo(wrapper, InfoOf(library, 6)), 1);
    ASSERT_EQ(wrapper->memberCount, 1);
    const ComMember& take = wrapper->members[0];
    const VARTYPE kExpected[] = {VT_I4, VT_I4, VT_CY, VT_BYREF | VT_I4, VT_CY, VT_USERDEFINED, 0x401D,
                                 VT_ARRAY | VT_BSTR, VT_BYREF | VT_I4, VT_BYREF | VT_I4, 0x401D,
                                 VT_BYREF | VT_VARIANT, VT_BYREF | VT_DATE, 0};
    ASSERT_EQ(take.parameterCount, 13);
    for (int i = 0; i <= 13; ++i) EXPECT_EQ(take.parameterTypes[i], kExpected[i]) << i;
    // The user-defined parameters keep their HREFTYPE.
    EXPECT_EQ(take.parameterReferences[5], 5u);
    EXPECT_EQ(take.parameterReferences[0], 0u);
    DeleteComObjectWrapper(wrapper);
    library->Release();
}

TEST_F(ComTest, AnEnumerationTakesItsFirstConstantsType) {
    TypeLibraryBuilder builder;
    const int32_t small = builder.AddType(u"Small", TKIND_ENUM);
    VariableSpec constant{u"One", 0, VAR_CONST, TypeSpec::Of(VT_I4)};
    constant.value.vt = VT_I2;
    constant.value.iVal = 1;
    builder.AddVariable(small, constant);
    const int32_t uses = builder.AddType(u"IUses", TKIND_INTERFACE);
    builder.AddFunction(uses, FunctionSpec{u"Take", 1, INVOKE_FUNC, TypeSpec::Of(VT_VOID),
                                           {ParamSpec{u"a", TypeSpec::User(small)},
                                            ParamSpec{u"b", TypeSpec::PointerTo(TypeSpec::User(small))}}});
    ITypeLib* library = builder.Build();
    ComObjectWrapper* wrapper = NewTestWrapper();
    ASSERT_EQ(LoadComTypeInfo(wrapper, InfoOf(library, 1)), 1);
    EXPECT_EQ(wrapper->members[0].parameterTypes[0], VT_I2);
    EXPECT_EQ(wrapper->members[0].parameterTypes[1], VT_BYREF | VT_I2);
    DeleteComObjectWrapper(wrapper);
    library->Release();
}

TEST_F(ComTest, AnAliasLoopInBuiltTypesEndsAsUserDefined) {
    // The text reader refuses alias cycles; the builder does not look, so
    // the walk must end by itself.
    TypeLibraryBuilder builder;
    const int32_t first = builder.AddType(u"First", TKIND_ALIAS);
    const int32_t second = builder.AddType(u"Second", TKIND_ALIAS);
    builder.SetAlias(first, TypeSpec::User(second));
    builder.SetAlias(second, TypeSpec::User(first));
    const int32_t uses = builder.AddType(u"IUses", TKIND_INTERFACE);
    builder.AddFunction(uses, FunctionSpec{u"Take", 1, INVOKE_FUNC, TypeSpec::Of(VT_VOID), {ParamSpec{u"a", TypeSpec::User(first)}}});
    ITypeLib* library = builder.Build();
    ComObjectWrapper* wrapper = NewTestWrapper();
    ASSERT_EQ(LoadComTypeInfo(wrapper, InfoOf(library, 2)), 1);
    EXPECT_EQ(wrapper->members[0].parameterTypes[0], VT_USERDEFINED);
    DeleteComObjectWrapper(wrapper);
    library->Release();
}

TEST_F(ComTest, AnExceptionKeepsItsDescriptionUntilTheNextCall) {
    ComObjectWrapper* wrapper = NewTestWrapper();
    const int32_t fail = FindComMember(wrapper, "fail", 1);
    EXPECT_EQ(ComDispatchInvoke(wrapper, fail, nullptr), DISP_E_EXCEPTION);
    ASSERT_NE(wrapper->exception, nullptr);
    EXPECT_EQ(BstrToAnsi(wrapper->exception->bstrDescription), "The test object failed on purpose");
    SetComError(wrapper, wrapper->lastResult);
    EXPECT_EQ(NumberOf("COMERROR%"), static_cast<double>(DISP_E_EXCEPTION));
    // Another failure clears the record.
    const int32_t add = FindComMember(wrapper, "add", 1);
    VARIANT wrong[2] = {};
    SetVariantPointer(&wrong[0], VT_BSTR, AnsiToBstr("x"));
    wrong[1].vt = VT_I4;
    EXPECT_EQ(ComDispatchInvoke(wrapper, add, wrong), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(wrapper->exception, nullptr);
    VariantClear(&wrong[0]);
    EXPECT_EQ(ComDispatchInvoke(wrapper, fail, nullptr), DISP_E_EXCEPTION);
    // So does success.
    EXPECT_EQ(ComDispatchInvoke(wrapper, FindComMember(wrapper, "count", 2), nullptr), S_OK);
    EXPECT_EQ(wrapper->exception, nullptr);
    DeleteComObjectWrapper(wrapper);
}

// An object whose property read fails as a method-or-get call and succeeds
// as a pure get; the first attempt leaves strings in the exception record.
class GetOnlyObject final : public IDispatch, public LowMemoryObject {
  public:
    explicit GetOnlyObject(ITypeInfo* info) : info_(info) {}
    ~GetOnlyObject() { info_->Release(); }
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (!(iid == IID_IUnknown || iid == IID_IDispatch)) return E_NOINTERFACE;
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    uint32_t AddRef() override { return ++references; }
    uint32_t Release() override {
        const uint32_t left = --references;
        if (left == 0) delete this;
        return left;
    }
    HRESULT GetTypeInfoCount(uint32_t* count) override {
        *count = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(uint32_t, LCID, ITypeInfo** info) override {
        info_->AddRef();
        *info = info_;
        return S_OK;
    }
    HRESULT GetIDsOfNames(REFIID, char16_t**, uint32_t, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, uint16_t flags, DISPPARAMS*, VARIANT* result, EXCEPINFO* exception,
                   uint32_t*) override {
        flagsSeen += std::to_string(flags);
        if (flags != DISPATCH_PROPERTYGET) {
            exception->bstrDescription = AnsiToBstr("first attempt");
            exception->bstrSource = AnsiToBstr("source");
            return DISP_E_MEMBERNOTFOUND;
        }
        if (exception->bstrDescription) return E_FAIL;  // the retry must start clean
        result->vt = VT_I4;
        result->lVal = 77;
        return S_OK;
    }
    uint32_t references = 1;
    std::string flagsSeen;

  private:
    ITypeInfo* info_;
};

TEST_F(ComTest, AFailedReadIsRetriedAsAPureGetWithACleanRecord) {
    TypeLibraryBuilder builder;
    const int32_t type = builder.AddType(u"IValue", TKIND_DISPATCH);
    builder.AddFunction(type, FunctionSpec{u"Value", 1, INVOKE_PROPERTYGET, TypeSpec::Of(VT_I4), {}});
    ITypeLib* library = builder.Build();
    auto* object = new GetOnlyObject(InfoOf(library, 0));
    ComObjectWrapper* wrapper = NewComObjectWrapper(context);
    ASSERT_EQ(AttachComObject(wrapper, object), 1);
    VARIANT* result = InvokeComMethod(wrapper, "value", nullptr);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->lVal, 77);
    EXPECT_EQ(object->flagsSeen, "32");
    EXPECT_EQ(wrapper->exception, nullptr);
    DeleteComObjectWrapper(wrapper);
    object->Release();
    library->Release();
}

TEST_F(ComTest, ObjectResultsAreReleasedByTheNextCallAndByTheFree) {
    ComObjectWrapper* wrapper = NewTestWrapper();
    const int32_t child = FindComMember(wrapper, "child", 2);
    for (int i = 0; i < 10000; ++i) ASSERT_EQ(ComDispatchInvoke(wrapper, child, nullptr), S_OK);
    // The wrapper and the last child, which its result still holds.
    EXPECT_EQ(LiveTestObjects.load(), startObjects + 2);
    // Through the built-ins' road: each call wraps its object, the wrapper is freed.
    for (int i = 0; i < 10000; ++i) {
        const ComValue value = CallComMemberPath(wrapper, child, 0, nullptr, 1);
        ComObjectWrapper* made = FindLiveComObjectWrapper(value.number);
        ASSERT_NE(made, nullptr);
        DeleteComObjectWrapper(made);
    }
    EXPECT_EQ(LiveTestObjects.load(), startObjects + 2);
    DeleteComObjectWrapper(wrapper);
    EXPECT_EQ(LiveTestObjects.load(), startObjects);
}

TEST_F(ComTest, AnEndingContextReleasesTheWrappersItLeft) {
    ProgramContext* other = Application("other");
    for (int i = 0; i < 3; ++i) {
        ComObjectWrapper* wrapper = NewComObjectWrapper(other);
        IUnknown* object = NewTestObject();
        IDispatch* dispatch = nullptr;
        object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
        object->Release();
        AttachComObject(wrapper, dispatch);
        dispatch->Release();
    }
    ComObjectWrapper* mine = NewTestWrapper();
    EXPECT_EQ(LiveTestObjects.load(), startObjects + 4);
    EndProgramContext(other);
    applications.clear();
    EXPECT_EQ(LiveTestObjects.load(), startObjects + 1);
    EXPECT_NE(FindLiveComObjectWrapper(LowAddress(mine)), nullptr);
    DeleteComObjectWrapper(mine);
}

TEST_F(ComTest, FreedAndForeignAddressesAreNoWrappers) {
    ComObjectWrapper* wrapper = NewTestWrapper();
    const double address = LowAddress(wrapper);
    EXPECT_EQ(FindLiveComObjectWrapper(address), wrapper);
    DeleteComObjectWrapper(wrapper);
    EXPECT_EQ(FindLiveComObjectWrapper(address), nullptr);
    DeleteComObjectWrapper(wrapper);  // a second free does nothing
    for (double other : {0.0, -5.0, 1e20, 12345.0}) EXPECT_EQ(FindLiveComObjectWrapper(other), nullptr) << other;
}

TEST_F(ComTest, FreeCOMObjectLeavesSiteWrappersAndUnknownNumbersAlone) {
    ComObjectWrapper* owned = NewTestWrapper();
    ComObjectWrapper* plain = NewTestWrapper();
    int site = 0;
    owned->ownerSite = &site;
    OpenArgumentFrame(context);
    PushNumber(LowAddress(owned));
    PushNumber(0);
    PushNumber(12345);
    PushNumber(LowAddress(plain));
    PushNumber(LowAddress(plain));  // the same wrapper twice: freed once
    Builtin_FreeCOMObject();
    EXPECT_EQ(FindLiveComObjectWrapper(LowAddress(owned)), owned);
    EXPECT_EQ(FindLiveComObjectWrapper(LowAddress(plain)), nullptr);
    owned->ownerSite = nullptr;
    DeleteComObjectWrapper(owned);
}

// An event sink: a dispatch object on the events interface that counts calls.
TEST_F(ComTest, EventsReachTheirSinkWhileConnected) {
    ITypeLib* library = TestObjectTypeLib();
    int received = 0;
    auto* sink = new DispatchObject(InfoOf(library, 2));
    sink->Bind(1, INVOKE_FUNC, [&received](std::span<VARIANT> args, VARIANT*, EXCEPINFO*) {
        received += args[0].lVal;
        return S_OK;
    });
    ComObjectWrapper* wrapper = NewTestWrapper();
    const int32_t fire = FindComMember(wrapper, "fire", 1);
    VARIANT value{};
    value.vt = VT_I4;
    value.lVal = 5;
    EXPECT_EQ(ConnectComEvents(wrapper, static_cast<IDispatch*>(sink), kTestObjectClsid), 0);
    EXPECT_EQ(wrapper->lastResult, CONNECT_E_NOCONNECTION);
    ASSERT_EQ(ConnectComEvents(wrapper, static_cast<IDispatch*>(sink), kTestEventsIid), 1);
    EXPECT_NE(wrapper->connectionPoint, nullptr);
    ASSERT_EQ(ComDispatchInvoke(wrapper, fire, &value), S_OK);
    EXPECT_EQ(wrapper->members[fire].result->lVal, 1);
    EXPECT_EQ(received, 5);
    DisconnectComEvents(wrapper);
    EXPECT_EQ(wrapper->connectionPoint, nullptr);
    ASSERT_EQ(ComDispatchInvoke(wrapper, fire, &value), S_OK);
    EXPECT_EQ(received, 5);
    EXPECT_EQ(wrapper->members[fire].result->lVal, 0);
    // Freeing the wrapper while connected disconnects first.
    ASSERT_EQ(ConnectComEvents(wrapper, static_cast<IDispatch*>(sink), kTestEventsIid), 1);
    EXPECT_EQ(sink->References(), 2u);
    DeleteComObjectWrapper(wrapper);
    EXPECT_EQ(sink->References(), 1u);
    ComObjectWrapper* empty = NewComObjectWrapper(context);
    EXPECT_EQ(ConnectComEvents(empty, static_cast<IDispatch*>(sink), kTestEventsIid), 0);
    EXPECT_EQ(empty->lastResult, 1);
    DeleteComObjectWrapper(empty);
    sink->Release();
    library->Release();
}

TEST_F(ComTest, CreationGoesThroughTheRegistry) {
    ComObjectWrapper* wrapper = NewComObjectWrapper(context);
    EXPECT_EQ(CreateComObjectByProgID(wrapper, u"QOB.TestObject", kComClassContext), 1);
    EXPECT_NE(wrapper->objectInterface, nullptr);
    EXPECT_EQ(wrapper->memberCount, 34);
    EXPECT_EQ(CreateComObjectByProgID(wrapper, u"QOB.Missing", kComClassContext), 0);
    EXPECT_EQ(wrapper->lastResult, CO_E_CLASSSTRING);
    const CLSID unknown{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    EXPECT_EQ(CreateComObject(wrapper, unknown, kComClassContext), 0);
    EXPECT_EQ(wrapper->lastResult, REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CreateComObject(wrapper, kTestObjectClsid, 1), 0);  // only contexts 7 and 23
    EXPECT_EQ(CreateComObject(wrapper, kTestObjectClsid, 7), 1);
    DeleteComObjectWrapper(wrapper);
}

TEST_F(ComTest, ServerLibrariesAreLoadedByTheirRegisteredPath) {
    const CLSID missing{0x51B05000, 1, 0x4000, {0x8A, 0, 0x51, 0x0B, 0x50, 0, 0, 1}};
    const CLSID noEntry{0x51B05000, 2, 0x4000, {0x8A, 0, 0x51, 0x0B, 0x50, 0, 0, 2}};
    ASSERT_EQ(RegisterComClass(missing, u"QOB.Missing", u"/nonexistent/folder/server.dll", false), S_OK);
    ASSERT_EQ(RegisterComClass(noEntry, u"QOB.NoEntry", u"libm.so.6", false), S_OK);
    ComObjectWrapper* wrapper = NewComObjectWrapper(context);
    EXPECT_EQ(CreateComObjectByProgID(wrapper, u"QOB.Missing", kComClassContext), 0);
    EXPECT_EQ(wrapper->lastResult, REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CreateComObjectByProgID(wrapper, u"QOB.NoEntry", kComClassContext), 0);
    EXPECT_EQ(wrapper->lastResult, REGDB_E_CLASSNOTREG);
    // The test server as the device names it: "x.dll" is found as "libx.so".
    ASSERT_EQ(RegisterComClass(kTestObjectClsid, u"QOB.TestObject", QOB_COM_SERVER_DIR u"/qobtestcom.dll", false), S_OK);
    ASSERT_EQ(CreateComObjectByProgID(wrapper, u"QOB.TestObject", kComClassContext), 1);
    EXPECT_EQ(wrapper->memberCount, 34);
    const int32_t add = FindComMember(wrapper, "add", 1);
    VARIANT arguments[2] = {};
    arguments[0].vt = arguments[1].vt = VT_I4;
    arguments[0].lVal = 40;
    arguments[1].lVal = 2;
    ASSERT_EQ(ComDispatchInvoke(wrapper, add, arguments), S_OK);
    EXPECT_EQ(wrapper->members[add].result->lVal, 42);
    DeleteComObjectWrapper(wrapper);
}

TEST_F(ComTest, APendingLibraryDescribesTheNextObject) {
    TypeLibraryBuilder builder;
    const int32_t type = builder.AddType(u"IOther", TKIND_DISPATCH);
    builder.AddFunction(type, FunctionSpec{u"Count", kCount, INVOKE_PROPERTYGET, TypeSpec::Of(VT_I4), {}});
    ITypeLib* library = builder.Build();
    SetPendingTypeLib(library);
    ComObjectWrapper* wrapper = NewComObjectWrapper(context);
    ASSERT_EQ(CreateComObject(wrapper, kTestObjectClsid, kComClassContext), 1);
    ASSERT_EQ(wrapper->memberCount, 1);
    EXPECT_EQ(NameOf(wrapper->members[0]), "count");
    SetPendingTypeLib(nullptr);
    DeleteComObjectWrapper(wrapper);
}

TEST_F(ComTest, QueryInterfaceFindsTheObjectsOwnInterface) {
    ComObjectWrapper* wrapper = NewTestWrapper();
    IUnknown* found = QueryComInterface(wrapper, u"ITestObject");
    EXPECT_EQ(found, static_cast<IUnknown*>(wrapper->dispatch));
    EXPECT_EQ(QueryComInterface(wrapper, u"itestobject"), nullptr);  // names match exactly
    EXPECT_EQ(QueryComInterface(wrapper, u"ITestEvents"), nullptr);
    DeleteComObjectWrapper(wrapper);
}

}  // namespace
}  // namespace qob::testing
