// Benchmarks of the value model: variable lookups (cold: a hash search; warm:
// the opcode's cached target), list append, walk, positions and sort, and
// matrices built by repeated adds or from their text form.
#include "runtime/memory/memory_links.h"
#include "runtime/memory/pool.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/assignment.h"
#include "runtime/values/list_values.h"
#include "runtime/values/matrix_values.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

#include <benchmark/benchmark.h>

#include <random>
#include <utility>
#include <string>
#include <vector>

namespace qob {
namespace {

// A context with a local frame of count variables V0$ ... V<count-1>$.
// "V<i>$", built by appending: GCC 12 warns falsely (-Wrestrict) on "V" + string.
std::string VariableName(int i) {
    std::string name = "V";
    name += std::to_string(i);
    name += '$';
    return name;
}

class Program {
public:
    explicit Program(int count) {
        context = CreateProgramContext();
        context->kind = kContextIndependent;
        context->quietEnd = 1;
        context->pool = CreatePool(64 * 1024);
        CreateBottomStackEntry(context);
        CurrentContext = context;
        context->globalHead = AllocateVariableRecord(context, false);
        frame = AllocateVariableRecord(context, false);
        LocalVariableList = frame;
        CurrentCompilerPool = context->pool;
        for (int i = 0; i < count; ++i) CreateVariable(frame, VariableName(i).c_str(), false);
    }
    ~Program() {
        FreeVariableChain(context, frame, true);
        FreeVariableList(context, frame);
        LocalVariableList = nullptr;
        EndProgramContext(context);
        CurrentContext = nullptr;
        CurrentCompilerPool = nullptr;
        CurrentInstruction = nullptr;
    }
    ProgramContext* context;
    VariableRecord* frame;
};

void BM_FindVariableCold(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Program program(count);
    std::string last = VariableName(count - 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(FindVariable(last.c_str(), 0));
}
BENCHMARK(BM_FindVariableCold)->Arg(8)->Arg(64)->Arg(512);

void BM_AssignOpcodeWarm(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Program program(count);
    std::string last = VariableName(count - 1);
    CurrentInstruction = EmitInstruction(nullptr, AssignOpcode, last.c_str(), 0, nullptr, 33, nullptr, 1, 1);
    double value = 0;
    for (auto _ : state) {
        PushValue(nullptr, value, nullptr, 0);
        AssignOpcode();
        value += 1;
    }
}
BENCHMARK(BM_AssignOpcodeWarm)->Arg(8)->Arg(512);

void BM_ReadVariable(benchmark::State& state) {
    Program program(1);
    VariableRecord* v = FindVariable("V0$", 0);
    SetVariableValue(v, nullptr, 3, nullptr, 0);
    char* text;
    double value;
    for (auto _ : state) {
        GetVariableValue(v, &text, &value, nullptr);
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_ReadVariable);

ListNode* BuildNumbers(int count, bool fromFirst) {
    ListNode* first = ListAppend(nullptr);
    ListNode* last = first;
    for (int i = 1; i < count; ++i) {
        last = ListAppend(fromFirst ? first : last);
        last->value = (i * 7919) % count;
    }
    return first;
}

// Appends passing the node appended last (one step each) or the first node
// (a walk over the whole chain each time).
void BM_ListAppend(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const bool fromFirst = state.range(1) != 0;
    for (auto _ : state) {
        ListNode* list = BuildNumbers(count, fromFirst);
        ListFree(list, true);
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_ListAppend)->Args({1000, 0})->Args({1000, 1})->Args({10000, 0});

void BM_ListWalk(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    ListNode* list = BuildNumbers(count, false);
    for (auto _ : state) {
        double sum = 0;
        for (ListNode* n = list; n; n = n->next)
            sum += n->value;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * count);
    ListFree(list, true);
}
BENCHMARK(BM_ListWalk)->Arg(10000);

// Element i for every i, as a loop over positions does.
void BM_ListNodeAtSequential(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    ListNode* list = BuildNumbers(count, false);
    for (auto _ : state) {
        for (int i = 0; i < count; ++i)
            benchmark::DoNotOptimize(ListNodeAt(list, i));
    }
    state.SetItemsProcessed(state.iterations() * count);
    ListFree(list, true);
}
BENCHMARK(BM_ListNodeAtSequential)->Arg(1000)->Arg(10000);

void BM_ListSortNumbers(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    ListNode* list = BuildNumbers(count, false);
    std::mt19937 random(7);
    for (auto _ : state) {
        state.PauseTiming();
        for (ListNode* n = list; n; n = n->next)
            n->value = static_cast<double>(random() % 100000);
        state.ResumeTiming();
        ListSort(list, 1, 1);
    }
    state.SetItemsProcessed(state.iterations() * count);
    ListFree(list, true);
}
BENCHMARK(BM_ListSortNumbers)->Arg(1000)->Arg(10000);

void BM_ListSortTexts(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    ListNode* list = BuildNumbers(count, false);
    std::mt19937 random(7);
    std::vector<ListNode*> nodes;
    for (ListNode* n = list; n; n = n->next) {
        n->data = CopyValueText(("item" + std::to_string(random() % 100000)).c_str());
        n->flags = kVarOwnsData;
        nodes.push_back(n);
    }
    for (auto _ : state) {
        state.PauseTiming();
        for (size_t i = nodes.size() - 1; i > 0; --i)
            std::swap(nodes[i]->data, nodes[random() % (i + 1)]->data);
        state.ResumeTiming();
        ListSort(list, 1, 0);
    }
    state.SetItemsProcessed(state.iterations() * count);
    ListFree(list, true);
}
BENCHMARK(BM_ListSortTexts)->Arg(1000)->Arg(10000);

// A matrix of count numbers built one MatrixAdd at a time.
void BM_MatrixBuildByAdds(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        MemoryLink* links = nullptr;
        auto* cells = static_cast<MatrixCell*>(AllocateValueBlock(sizeof(MatrixCell)));
        cells[0].kind = kCellEnd;
        for (int i = 0; i < count; ++i) {
            MatrixCell* grown = MatrixAdd(cells, i, kCellNumber, &links);
            FreeMatrix(cells, &links);
            cells = grown;
        }
        FreeMatrix(cells, &links);
        FreeLinkChain(links);
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_MatrixBuildByAdds)->Arg(100)->Arg(1000);

void BM_MatrixFromText(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    std::string text = "[";
    for (int i = 0; i < count; ++i)
        text += (i % 3 == 0 ? "{t" + std::to_string(i) + "}" : std::to_string(i)) + ",";
    text.back() = ']';
    for (auto _ : state) {
        const char* p = text.c_str();
        uint32_t cellCount = StringToMatrixCount(&p);
        auto* cells = static_cast<MatrixCell*>(AllocateValueBlock((cellCount + 1) * sizeof(MatrixCell)));
        MemoryLink* links = nullptr;
        StringToMatrix(&p, cells, &links);
        FreeMatrix(cells, &links);
        FreeLinkChain(links);
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_MatrixFromText)->Arg(1000);

}  // namespace
}  // namespace qob
