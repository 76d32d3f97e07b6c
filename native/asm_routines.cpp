// native/asm_routines.cpp
// Numbers of the built-in handlers that generated code calls, procedure
// handles, and the debugger register block.
#include "native/asm_routines.h"

#include <unordered_map>
#include <vector>

#include "platform/memory.h"

namespace qob {
namespace {

constexpr uint32_t kFixedRoutineCount = static_cast<uint32_t>(AsmRoutine::Count);
static_assert(kFixedRoutineCount < kAsmStubSlotCount);
static_assert(AsmRoutineSlotAddress(kAsmStubSlotCount) <= 0x10000);

struct HandlerNumbers {
    std::vector<BuiltinHandler> handlers;  // number - kFixedRoutineCount
    std::unordered_map<BuiltinHandler, uint32_t> numbers;
};

HandlerNumbers& Handlers() {
    static HandlerNumbers table;
    return table;
}

struct ProcedureHandles {
    std::vector<const void*> nodes;  // handle - 1
    std::unordered_map<const void*, uint32_t> handles;
};

ProcedureHandles& Procedures() {
    static ProcedureHandles table;
    return table;
}

}  // namespace

int32_t AsmHandlerRoutineNumber(BuiltinHandler handler) {
    HandlerNumbers& table = Handlers();
    if (auto found = table.numbers.find(handler); found != table.numbers.end())
        return static_cast<int32_t>(found->second);
    const uint32_t number = kFixedRoutineCount + static_cast<uint32_t>(table.handlers.size());
    if (number >= kAsmStubSlotCount) return -1;
    table.handlers.push_back(handler);
    table.numbers.emplace(handler, number);
    return static_cast<int32_t>(number);
}

BuiltinHandler AsmHandlerForRoutine(uint32_t number) {
    const HandlerNumbers& table = Handlers();
    if (number < kFixedRoutineCount || number - kFixedRoutineCount >= table.handlers.size()) return nullptr;
    return table.handlers[number - kFixedRoutineCount];
}

uint32_t AsmProcedureHandle(const void* procedureNode) {
    ProcedureHandles& table = Procedures();
    if (auto found = table.handles.find(procedureNode); found != table.handles.end()) return found->second;
    table.nodes.push_back(procedureNode);
    const auto handle = static_cast<uint32_t>(table.nodes.size());
    table.handles.emplace(procedureNode, handle);
    return handle;
}

const void* AsmProcedureForHandle(uint32_t handle) {
    const ProcedureHandles& table = Procedures();
    if (handle == 0 || handle > table.nodes.size()) return nullptr;
    return table.nodes[handle - 1];
}

uint32_t* AsmRegisterBlock() {
    static uint32_t* block =
        static_cast<uint32_t*>(platform::AllocateZeroedBlock(kAsmRegisterBlockWords * sizeof(uint32_t)));
    return block;
}

uint32_t AsmRegisterBlockAddress() {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(AsmRegisterBlock()));
}

}  // namespace qob
