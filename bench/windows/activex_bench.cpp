// bench/windows/activex_bench.cpp
// A control's events into the program's five-argument event procedure: a
// stock mouse move and a custom event of three doubles (a block made and
// freed per event) through the event sink, against pushing the five values
// and running the procedure directly.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "host/builtin_registry.h"
#include "host/driver.h"
#include "platform/com.h"
#include "platform/message_box.h"
#include "runtime/vm/procedure_lookup.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"
#include "windows/activex/activex_event_sink.h"
#include "windows/activex/activex_site.h"

namespace {

using namespace qob;
using namespace qob::platform;

struct Host {
    ProgramContext* application = nullptr;
    Instruction* procedure = nullptr;
    ActiveXSite* site = nullptr;
    ActiveXEventSink* sink = nullptr;
};

Host& TheHost() {
    static Host host = [] {
        Host made;
        static std::FILE* output = std::tmpfile();
        SetMessageBoxOutput(output, output);
        RegisterBuiltins();
        const char* source =
            "FORCELINK FUNC oncontrol(w$, m$, wp$, lp$, c$) RETURN(0); END;\n"
            "FUNC WINMAIN RETURN(1); END;\n";
        made.application = CompileAndRun(nullptr, source, false, 0);
        if (!made.application) return made;
        CurrentContext = made.application;
        made.procedure = FindProcedureByName(made.application, "ONCONTROL");
        made.site = new ActiveXSite();
        ActiveXSiteInit(made.site, 0, made.application, made.procedure);
        made.site->AddRef();
        made.sink = new ActiveXEventSink(made.site, IID_NULL);
        made.sink->AddRef();
        return made;
    }();
    return host;
}

VARIANT Number(VARTYPE vt, double value) {
    VARIANT v{};
    v.vt = vt;
    if (vt == VT_I2) v.iVal = static_cast<int16_t>(value);
    else if (vt == VT_I4) v.lVal = static_cast<int32_t>(value);
    else v.dblVal = value;
    return v;
}

void RunEvent(benchmark::State& state, DISPID id, VARIANT* reversed, uint32_t count) {
    Host& host = TheHost();
    if (!host.sink) {
        state.SkipWithError("no program");
        return;
    }
    DISPPARAMS params{reversed, nullptr, count, 0};
    for (auto _ : state)
        benchmark::DoNotOptimize(host.sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
}

void BM_MouseMoveEvent(benchmark::State& state) {
    // Last argument first: Y, X, Shift, Button.
    VARIANT arguments[4] = {Number(VT_I4, 20), Number(VT_I4, 10), Number(VT_I2, 0), Number(VT_I2, 1)};
    RunEvent(state, DISPID_MOUSEMOVE, arguments, 4);
}
BENCHMARK(BM_MouseMoveEvent);

void BM_CustomEventOfThreeDoubles(benchmark::State& state) {
    VARIANT arguments[3] = {Number(VT_R8, 7.0), Number(VT_R8, 2.5), Number(VT_R8, 1.0)};
    RunEvent(state, 1, arguments, 3);
}
BENCHMARK(BM_CustomEventOfThreeDoubles);

void BM_DirectFiveArgumentCall(benchmark::State& state) {
    Host& host = TheHost();
    if (!host.procedure) {
        state.SkipWithError("no program");
        return;
    }
    const double values[5] = {0, 512, 0, 1310730, 1};
    for (auto _ : state) benchmark::DoNotOptimize(RunActiveXEventProcedure(host.application, host.procedure, values));
}
BENCHMARK(BM_DirectFiveArgumentCall);

}  // namespace
