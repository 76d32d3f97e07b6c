// tests/windows/com/com_variants_test.cpp
// Value-stack entries to VARIANTs (by tag and by declared type) and VARIANTs
// to numbers, row by row; missing and null arguments; tags lasting one
// conversion; argument blocks sized by the parameter count; default
// members that lead back to their object or on without end.

#include <cmath>
#include <cstring>

#include "com_fixture.h"
#include "platform/memory.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "windows/com/com_variants.h"

namespace qob::testing {
namespace {

using namespace platform;

// A wrapper on a test object whose type information is one method taking
// the parameters given.
class ConversionTest : public ComTest {
  protected:
    ComObjectWrapper* WrapperTaking(std::vector<TypeSpec> parameters) {
        TypeLibraryBuilder builder;
        const int32_t type = builder.AddType(u"ITake", TKIND_DISPATCH);
        builder.AddType(u"Point", TKIND_RECORD);
        FunctionSpec take{u"Take", 1, INVOKE_FUNC, TypeSpec::Of(VT_VOID), {}};
        for (TypeSpec& parameter : parameters) take.params.push_back(ParamSpec{u"p", parameter});
        builder.AddFunction(type, take);
        ITypeLib* library = builder.Build();
        ComObjectWrapper* wrapper = NewTestWrapper();
        ITypeInfo* info = nullptr;
        library->GetTypeInfo(0, &info);
        EXPECT_EQ(LoadComTypeInfo(wrapper, info), 1);
        library->Release();
        return wrapper;
    }

    // Pushes a number (or a text) and returns its cell.
    StackEntry* Push(double value, const char* text = nullptr, int16_t tag = 0) {
        PushValue(text, value, nullptr);
        StackEntry* cell = context->stackTop;
        cell->typeTag = tag;
        return cell;
    }
};

struct TagRow {
    VARTYPE tag;
    double number;
    const char* text;
    VARTYPE vt;       // of the VARIANT made
    int64_t bits;     // its 8 value bytes (for VT_R4 the float's 4)
};


TEST_F(ConversionTest, TagsAndDeclaredTypesChooseTheVariant) {
    auto bitsOf = [](double value) {
        int64_t bits;
        std::memcpy(&bits, &value, 8);
        return bits;
    };
    const TagRow kRows[] = {
        {VT_UI1, 300, nullptr, VT_UI1, 44},
        {VT_I2, 70000, nullptr, VT_I2, 4464},
        {VT_I2, -1.9, nullptr, VT_I2, 0xFFFF},
        {VT_I4, 3e9, nullptr, VT_I4, 3000000000},
        {VT_I4, 0, "12", VT_I4, 12},
        {VT_DISPATCH, 1234, nullptr, VT_DISPATCH, 1234},
        {VT_ERROR, 5, nullptr, VT_ERROR, 5},
        {VT_UNKNOWN, 7, nullptr, VT_UNKNOWN, 7},
        {VT_BOOL, 65536, nullptr, VT_BOOL, 0xFFFF},
        {VT_BOOL, 0.5, nullptr, VT_BOOL, 0xFFFF},
        {VT_BOOL, 0, nullptr, VT_BOOL, 0},
        {VT_R8, 2.5, nullptr, VT_R8, bitsOf(2.5)},
        {VT_CY, 15000.9, nullptr, VT_CY, 15000},
        {VT_CY, -3.5, nullptr, VT_CY, -3},
        {VT_VARIANT, 5, nullptr, VT_I4, 5},
        {VT_VARIANT, -2147483648.0, nullptr, VT_I4, 0x80000000},
        {VT_VARIANT, 2.7, nullptr, VT_R8, bitsOf(2.7)},
        {VT_VARIANT, 3e9, nullptr, VT_R8, bitsOf(3e9)},
        {VT_ARRAY | VT_UI1, 4096, nullptr, VT_ARRAY | VT_UI1, 4096},
        {VT_ARRAY | VT_VARIANT, 4100, nullptr, VT_ARRAY | VT_VARIANT, 4100},
        {VT_ARRAY | VT_USERDEFINED, 4096, nullptr, VT_ARRAY | VT_USERDEFINED, 0},
        {VT_BYREF | VT_I4, 8192, nullptr, VT_BYREF | VT_I4, 8192},
        {VT_BYREF | VT_CY, 8200, nullptr, VT_BYREF | VT_CY, 8200},
        {VT_BYREF | VT_USERDEFINED, 9000, nullptr, VT_BYREF | VT_USERDEFINED, 9000},
        {VT_BYREF | VT_ARRAY | VT_UI1, 9100, nullptr, VT_BYREF | VT_ARRAY | VT_UI1, 9100},
        {VT_HRESULT, 5, nullptr, VT_HRESULT, 0},
        {VT_NULL, 5, nullptr, VT_ERROR, static_cast<uint32_t>(DISP_E_PARAMNOTFOUND)},
    };
    ComObjectWrapper* wrapper = WrapperTaking({TypeSpec::Of(VT_I4)});
    for (const TagRow& row : kRows) {
        StackEntry* cell = Push(row.number, row.text, static_cast<int16_t>(row.tag));
        ComArgumentBlock block;
        ASSERT_EQ(StackValueToVariant(cell, 1, wrapper, 0, &block), 1);
        EXPECT_EQ(block.scratch[0].vt, row.vt) << row.tag << " " << row.number;
        int64_t bits = block.scratch[0].llVal;
        if (row.vt == VT_UI1) bits &= 0xFF;
        if (row.vt == VT_I2 || row.vt == VT_BOOL) bits &= 0xFFFF;
        if (row.vt == VT_I4 || row.vt == VT_ERROR || (row.vt & (VT_BYREF | VT_ARRAY)) || row.vt == VT_DISPATCH ||
            row.vt == VT_UNKNOWN)
            bits &= 0xFFFFFFFF;
        EXPECT_EQ(bits, row.bits) << row.tag << " " << row.number;
        // The tag lasts one conversion.
        EXPECT_EQ(cell->typeTag, 0) << row.tag;
        FreeComArguments(&block);
        DropStackEntry();
    }
    DeleteComObjectWrapper(wrapper);
}

TEST_F(ConversionTest, FloatsTextsAndDatesConvert) {
    ComObjectWrapper* wrapper =
        WrapperTaking({TypeSpec::Of(VT_R4), TypeSpec::Of(VT_BSTR), TypeSpec::Of(VT_BSTR), TypeSpec::Of(VT_VARIANT), TypeSpec::Of(VT_DATE)});
    auto* time = static_cast<SYSTEMTIME*>(AllocateZeroedBlock(sizeof(SYSTEMTIME)));
    *time = SYSTEMTIME{1899, 12, 31, 0, 6, 0, 0, 0};
    time->wDay = 31;
    time->wDayOfWeek = 0;
    StackEntry* first = Push(0.1);
    Push(0, "h\xC3\xA9llo");
    Push(12);
    Push(0, "x");
    Push(LowAddress(time));
    ComArgumentBlock block;
    ASSERT_EQ(StackValueToVariant(first, 5, wrapper, 0, &block), 5);
    EXPECT_EQ(block.scratch[0].vt, VT_R4);
    EXPECT_EQ(block.scratch[0].fltVal, 0.1f);
    EXPECT_EQ(BstrToAnsi(VariantBstr(block.scratch[1])), "h\xC3\xA9llo");
    EXPECT_EQ(BstrToAnsi(VariantBstr(block.scratch[2])), "12");
    EXPECT_EQ(block.scratch[3].vt, VT_BSTR);
    EXPECT_EQ(BstrToAnsi(VariantBstr(block.scratch[3])), "x");
    EXPECT_EQ(block.scratch[4].vt, VT_DATE);
    EXPECT_EQ(block.scratch[4].date, 1.25);
    FreeComArguments(&block);
    for (int i = 0; i < 5; ++i) DropStackEntry();
    FreeBlock(time);
    DeleteComObjectWrapper(wrapper);
}

TEST_F(ConversionTest, MissingArgumentsAreOmittedParameters) {
    // More parameters than the old 4,096-byte scratch block held.
    ComObjectWrapper* wrapper = WrapperTaking(std::vector<TypeSpec>(300, TypeSpec::Of(VT_I4)));
    StackEntry* first = Push(1);
    Push(2);
    ComArgumentBlock block;
    ASSERT_EQ(StackValueToVariant(first, 2, wrapper, 0, &block), 300);
    EXPECT_EQ(block.scratch[1].lVal, 2);
    for (int j = 2; j < 300; ++j) {
        ASSERT_EQ(block.scratch[j].vt, VT_ERROR) << j;
        ASSERT_EQ(block.scratch[j].scode, DISP_E_PARAMNOTFOUND) << j;
    }
    EXPECT_EQ(GetBlockSize(block.scratch), 300 * sizeof(VARIANT));
    FreeComArguments(&block);
    DropStackEntry();
    DropStackEntry();
    DeleteComObjectWrapper(wrapper);
}

TEST_F(ConversionTest, ByReferenceArgumentsPointAtTheirTargets) {
    ComObjectWrapper* wrapper = WrapperTaking({TypeSpec::PointerTo(TypeSpec::Of(VT_BOOL)),
                                               TypeSpec::PointerTo(TypeSpec::Of(VT_VARIANT)),
                                               TypeSpec::PointerTo(TypeSpec::Of(VT_DATE)),
                                               TypeSpec::PointerTo(TypeSpec::User(1))});
    auto* flag = static_cast<uint32_t*>(AllocateZeroedBlock(4));
    *flag = 7;
    auto* time = static_cast<SYSTEMTIME*>(AllocateZeroedBlock(sizeof(SYSTEMTIME)));
    *time = SYSTEMTIME{2000, 1, 0, 1, 12, 0, 0, 0};
    StackEntry* first = Push(LowAddress(flag));
    Push(0);
    Push(LowAddress(time));
    auto* record = static_cast<char*>(AllocateZeroedBlock(8));
    std::memcpy(record, "record", 7);
    Push(0, record);
    ComArgumentBlock block;
    ASSERT_EQ(StackValueToVariant(first, 4, wrapper, 0, &block), 4);
    EXPECT_EQ(block.scratch[0].vt, VT_BYREF | VT_BOOL);
    EXPECT_EQ(VariantReference<uint32_t>(block.scratch[0]), flag);
    EXPECT_EQ(*flag, 0xFFFFu);  // rewritten as a VARIANT_BOOL
    EXPECT_EQ(block.scratch[1].vt, VT_BYREF | VT_VARIANT);
    ASSERT_NE(VariantReference<VARIANT>(block.scratch[1]), nullptr);
    EXPECT_EQ(VariantReference<VARIANT>(block.scratch[1])->vt, VT_EMPTY);
    // What a server leaves in the by-reference VARIANT goes with the block
    // (the fixture checks that no test object outlives the test).
    SetVariantPointer(VariantReference<VARIANT>(block.scratch[1]), VT_DISPATCH, NewTestObject());
    EXPECT_EQ(block.scratch[2].vt, VT_BYREF | VT_DATE);
    EXPECT_EQ(*VariantReference<double>(block.scratch[2]), 36526.5);
    *VariantReference<double>(block.scratch[2]) = 36527.25;
    EXPECT_EQ(block.scratch[3].vt, 0x401D);
    EXPECT_EQ(VariantReference<const char>(block.scratch[3]), record);
    FreeComArguments(&block);
    // The date is written back into the SYSTEMTIME.
    EXPECT_EQ(time->wDay, 2);
    EXPECT_EQ(time->wHour, 6);
    for (int i = 0; i < 4; ++i) DropStackEntry();
    FreeBlock(flag);
    FreeBlock(time);
    FreeBlock(record);
    DeleteComObjectWrapper(wrapper);
}

TEST_F(ConversionTest, EveryPushClearsTheTag) {
    StackEntry* cell = Push(5, nullptr, VT_BSTR);
    DropStackEntry();
    PushNumber(6);
    EXPECT_EQ(context->stackTop, cell);  // the same cell, reused
    EXPECT_EQ(cell->typeTag, 0);
    DropStackEntry();
}

struct ValueRow {
    VARTYPE vt;
    int64_t bits;
    double expected;
};

TEST_F(ConversionTest, VariantsBecomeNumbers) {
    auto bitsOf = [](double value) {
        int64_t bits;
        std::memcpy(&bits, &value, 8);
        return bits;
    };
    float quarter = 0.25f;
    int32_t quarterBits;
    std::memcpy(&quarterBits, &quarter, 4);
    const ValueRow kRows[] = {
        {VT_EMPTY, 99, 0},
        {VT_NULL, 99, 0},
        {VT_UI1, 0x1FF, 255},
        {VT_I2, 0xFFFF, -1},
        {VT_I4, 0xFFFFFFFF, -1},
        {VT_R4, quarterBits, 0.25},
        {VT_R8, bitsOf(-2.5), -2.5},
        {VT_DATE, bitsOf(1.25), 1.25},
        {VT_CY, 15000, 15000},
        {VT_BOOL, 0xFFFF, 1},
        {VT_BOOL, 0, 0},
        {VT_DISPATCH, 0x1000, 0x1000},
        {VT_BSTR, 0x3000, 0x3000},
        {VT_UNKNOWN, 0x3010, 0x3010},
        {VT_VARIANT, 0x3020, 0x3020},
        {VT_ERROR, static_cast<uint32_t>(DISP_E_PARAMNOTFOUND), static_cast<double>(DISP_E_PARAMNOTFOUND)},
        {VT_ARRAY | VT_UI1, 0x2000, 0x2000},
        {VT_ARRAY | VT_USERDEFINED, 0x2000, 0},
        {VT_HRESULT, 5, 0},
    };
    for (const ValueRow& row : kRows) {
        VARIANT v{};
        v.vt = row.vt;
        v.llVal = row.bits;
        EXPECT_EQ(VariantToStackValue(&v), row.expected) << row.vt;
    }
    // By reference: the value at the address.
    auto* slot = static_cast<int64_t*>(AllocateZeroedBlock(16));
    VARIANT v{};
    *reinterpret_cast<int16_t*>(slot) = -1;
    SetVariantPointer(&v, VT_BYREF | VT_BOOL, slot);
    EXPECT_EQ(VariantToStackValue(&v), -1);
    v.vt = VT_BYREF | VT_I2;
    EXPECT_EQ(VariantToStackValue(&v), -1);
    *slot = 15000;
    v.vt = VT_BYREF | VT_CY;
    EXPECT_EQ(VariantToStackValue(&v), 15000);
    *reinterpret_cast<double*>(slot) = 2.5;
    v.vt = VT_BYREF | VT_R8;
    EXPECT_EQ(VariantToStackValue(&v), 2.5);
    // A by-reference VARIANT gives its own value.
    auto* inner = static_cast<VARIANT*>(AllocateZeroedBlock(sizeof(VARIANT)));
    inner->vt = VT_I2;
    inner->iVal = 42;
    SetVariantPointer(&v, VT_BYREF | VT_VARIANT, inner);
    EXPECT_EQ(VariantToStackValue(&v), 42);
    // A by-reference BSTR gives a new 8-bit copy, tracked.
    const uint32_t text = LowAddress(AnsiToBstr("copied"));
    std::memcpy(slot, &text, 4);
    SetVariantPointer(&v, VT_BYREF | VT_BSTR, slot);
    const double copy = VariantToStackValue(&v);
    EXPECT_STREQ(FromLowAddress<char>(static_cast<uint32_t>(copy)), "copied");
    SysFreeString(FromLowAddress<char16_t>(text));
    FreeBlock(inner);
    FreeBlock(slot);
}

// A chain object: its default member (declared as a pointer) gives a new
// chain object each time, or itself.
class ChainObject final : public DispatchObject {
  public:
    ChainObject(ITypeInfo* info, bool self, int* made) : DispatchObject(info) {
        ++*made;
        Bind(0, INVOKE_PROPERTYGET, [this, info, self, made](std::span<VARIANT>, VARIANT* result, EXCEPINFO*) {
            IDispatch* next = self ? this : new ChainObject(info, false, made);
            if (self) AddRef();
            SetVariantPointer(result, VT_DISPATCH, next);
            return S_OK;
        });
    }
};

TEST_F(ConversionTest, DefaultMembersEndAtTheSameObjectOrAfterEightLevels) {
    TypeLibraryBuilder builder;
    const int32_t type = builder.AddType(u"IChain", TKIND_DISPATCH);
    builder.AddFunction(type, FunctionSpec{u"Item", 0, INVOKE_PROPERTYGET, TypeSpec::PointerTo(TypeSpec::Of(VT_VARIANT)),
                                           {ParamSpec{u"index", TypeSpec::Of(VT_I4)}}});
    ITypeLib* library = builder.Build();
    ITypeInfo* info = nullptr;
    library->GetTypeInfo(0, &info);
    for (const bool self : {true, false}) {
        int made = 0;
        auto* root = new ChainObject(info, self, &made);
        ComObjectWrapper* wrapper = NewComObjectWrapper(context);
        ASSERT_EQ(AttachComObject(wrapper, root), 1);
        StackEntry* argument = Push(1);
        const ComValue value = CallComMemberPath(wrapper, 0, 1, argument, 1);
        ComObjectWrapper* last = FindLiveComObjectWrapper(value.number);
        ASSERT_NE(last, nullptr) << self;
        EXPECT_EQ(made, self ? 1 : 10) << self;  // the root and nine more at most
        DeleteComObjectWrapper(last);
        DeleteComObjectWrapper(wrapper);
        root->Release();
        DropStackEntry();
    }
    info->Release();
    library->Release();
}

}  // namespace
}  // namespace qob::testing
