// Benchmarks of COM member calls: a number property read and written and a
// method called through the built-ins (GetProperty, SetProperty, Invoke),
// beside the same member called by IDispatch::Invoke from C++ with prepared
// VARIANTs; and 1,000 collection items read through the default member.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/com.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/memory/pool.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"
#include "windows/com/com_builtins.h"
#include "windows/com/com_object_wrapper.h"

namespace qob {
namespace {

using namespace platform;

constexpr DISPID kNumberId = 1;
constexpr DISPID kAddId = 2;
constexpr DISPID kItemsId = 3;

ITypeLib* BuildLibrary() {
    TypeLibraryBuilder builder;
    const int32_t object = builder.AddType(u"INumbers", TKIND_DISPATCH);
    const int32_t items = builder.AddType(u"IItems", TKIND_DISPATCH);
    builder.AddFunction(object, FunctionSpec{u"Number", kNumberId, INVOKE_PROPERTYGET, TypeSpec::Of(VT_R8), {}});
    builder.AddFunction(object, FunctionSpec{u"Number", kNumberId, INVOKE_PROPERTYPUT, TypeSpec::Of(VT_VOID),
                                             {ParamSpec{u"value", TypeSpec::Of(VT_R8)}}});
    builder.AddFunction(object, FunctionSpec{u"Add", kAddId, INVOKE_FUNC, TypeSpec::Of(VT_R8),
                                             {ParamSpec{u"a", TypeSpec::Of(VT_R8)}, ParamSpec{u"b", TypeSpec::Of(VT_R8)}}});
    builder.AddFunction(object, FunctionSpec{u"Items", kItemsId, INVOKE_PROPERTYGET, TypeSpec::Of(VT_DISPATCH), {}});
    builder.AddFunction(items, FunctionSpec{u"Item", DISPID_VALUE, INVOKE_PROPERTYGET,
                                            TypeSpec::PointerTo(TypeSpec::Of(VT_VARIANT)),
                                            {ParamSpec{u"index", TypeSpec::Of(VT_I4)}}});
    return builder.Build();
}

ITypeInfo* InfoAt(ITypeLib* library, uint32_t index) {
    ITypeInfo* info = nullptr;
    library->GetTypeInfo(index, &info);
    return info;
}

class Items final : public DispatchObject {
  public:
    explicit Items(ITypeInfo* info) : DispatchObject(info) {
        Bind(DISPID_VALUE, INVOKE_PROPERTYGET, [](std::span<VARIANT> args, VARIANT* result, EXCEPINFO*) {
            result->vt = VT_I4;
            result->lVal = args[0].lVal * 2;
            return S_OK;
        });
    }
};

class Numbers final : public DispatchObject {
  public:
    Numbers(ITypeInfo* info, ITypeInfo* itemsInfo) : DispatchObject(info) {
        Bind(kNumberId, INVOKE_PROPERTYGET, [this](std::span<VARIANT>, VARIANT* result, EXCEPINFO*) {
            result->vt = VT_R8;
            result->dblVal = number_;
            return S_OK;
        });
        Bind(kNumberId, INVOKE_PROPERTYPUT, [this](std::span<VARIANT> args, VARIANT*, EXCEPINFO*) {
            number_ = args[0].dblVal;
            return S_OK;
        });
        Bind(kAddId, INVOKE_FUNC, [](std::span<VARIANT> args, VARIANT* result, EXCEPINFO*) {
            result->vt = VT_R8;
            result->dblVal = args[0].dblVal + args[1].dblVal;
            return S_OK;
        });
        Bind(kItemsId, INVOKE_PROPERTYGET, [itemsInfo](std::span<VARIANT>, VARIANT* result, EXCEPINFO*) {
            SetVariantPointer(result, VT_DISPATCH, static_cast<IDispatch*>(new Items(itemsInfo)));
            return S_OK;
        });
    }

  private:
    double number_ = 1.5;
};

// A context at call depth 1 holding a wrapper of a Numbers object.
class Fixture {
  public:
    Fixture() {
        context = CreateProgramContext();
        context->kind = kContextIndependent;
        context->quietEnd = 1;
        context->pool = CreatePool(64 * 1024);
        CreateBottomStackEntry(context);
        CurrentContext = context;
        context->globalHead = AllocateVariableRecord(context, false);
        frame = AllocateVariableRecord(context, false);
        LocalVariableList = frame;
        context->callDepth = 1;
        library = BuildLibrary();
        itemsInfo = InfoAt(library, 1);
        ITypeInfo* info = InfoAt(library, 0);
        object = new Numbers(info, itemsInfo);
        info->Release();
        wrapper = NewComObjectWrapper(context);
        AttachComObject(wrapper, object);
        address = static_cast<double>(LowAddress(wrapper));
    }
    ~Fixture() {
        DeleteComObjectWrapper(wrapper);
        object->Release();
        itemsInfo->Release();
        library->Release();
        FreeTrackedAllocationsFrom(context, 1);
        FreeVariableChain(context, frame, true);
        FreeVariableList(context, frame);
        LocalVariableList = nullptr;
        EndProgramContext(context);
        CurrentContext = nullptr;
    }

    // Pushes a frame of the wrapper, a name and numbers, and runs the built-in.
    double Call(void (*builtin)(), const char* name, std::initializer_list<double> arguments) {
        OpenArgumentFrame(context);
        PushNumber(address);
        PushValue(name, 0.0, nullptr);
        for (double argument : arguments) PushNumber(argument);
        builtin();
        return PopNumber();
    }

    ProgramContext* context;
    VariableRecord* frame;
    ITypeLib* library;
    ITypeInfo* itemsInfo;
    Numbers* object;
    ComObjectWrapper* wrapper;
    double address;
};

void BM_IDispatchGetNumber(benchmark::State& state) {
    Fixture fixture;
    DISPPARAMS params{nullptr, nullptr, 0, 0};
    VARIANT result{};
    for (auto _ : state) {
        fixture.object->Invoke(kNumberId, IID_NULL, 0x800, DISPATCH_PROPERTYGET, &params, &result, nullptr, nullptr);
        benchmark::DoNotOptimize(result.dblVal);
    }
}
BENCHMARK(BM_IDispatchGetNumber);

void BM_BuiltinGetPropertyNumber(benchmark::State& state) {
    Fixture fixture;
    for (auto _ : state) benchmark::DoNotOptimize(fixture.Call(Builtin_GetProperty, "Number", {}));
}
BENCHMARK(BM_BuiltinGetPropertyNumber);

void BM_IDispatchPutNumber(benchmark::State& state) {
    Fixture fixture;
    VARIANT value{};
    value.vt = VT_R8;
    value.dblVal = 2.5;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &named, 1, 1};
    for (auto _ : state)
        benchmark::DoNotOptimize(
            fixture.object->Invoke(kNumberId, IID_NULL, 0x800, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr));
}
BENCHMARK(BM_IDispatchPutNumber);

void BM_BuiltinSetPropertyNumber(benchmark::State& state) {
    Fixture fixture;
    for (auto _ : state) benchmark::DoNotOptimize(fixture.Call(Builtin_SetProperty, "Number", {2.5}));
}
BENCHMARK(BM_BuiltinSetPropertyNumber);

void BM_IDispatchMethod(benchmark::State& state) {
    Fixture fixture;
    VARIANT arguments[2]{};
    arguments[0].vt = arguments[1].vt = VT_R8;
    arguments[0].dblVal = 2.0;
    arguments[1].dblVal = 3.0;
    DISPPARAMS params{arguments, nullptr, 2, 0};
    VARIANT result{};
    for (auto _ : state) {
        fixture.object->Invoke(kAddId, IID_NULL, 0x800, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
        benchmark::DoNotOptimize(result.dblVal);
    }
}
BENCHMARK(BM_IDispatchMethod);

void BM_BuiltinInvokeMethod(benchmark::State& state) {
    Fixture fixture;
    for (auto _ : state) benchmark::DoNotOptimize(fixture.Call(Builtin_Invoke, "Add", {2.0, 3.0}));
}
BENCHMARK(BM_BuiltinInvokeMethod);

// 1,000 items, each read as GetProperty(object, "Items", i): the collection
// comes back as an object and its default member gives the item.
void BM_BuiltinThousandCollectionItems(benchmark::State& state) {
    Fixture fixture;
    for (auto _ : state) {
        double sum = 0;
        for (int i = 0; i < 1000; ++i) sum += fixture.Call(Builtin_GetProperty, "Items", {static_cast<double>(i)});
        FreeTrackedAllocationsFrom(fixture.context, 1);
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_BuiltinThousandCollectionItems)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace qob
