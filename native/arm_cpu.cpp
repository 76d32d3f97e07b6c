// native/arm_cpu.cpp
// StrongARM engines (libunicorn) that mirror low memory at the same
// addresses, catch faults as outcomes, and reach the host routines through a
// code hook on the stub page. Nothing unwinds through the emulator: a
// routine's error is stored and the engine stopped.
#include "native/arm_cpu.h"

#include <unicorn/unicorn.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/memory.h"

namespace qob {
namespace {

constexpr uint32_t kUcPage = 4096;
constexpr uint32_t kReturnWord = 0xE1A0F00Eu;                // mov pc, lr
constexpr size_t kStackBytes = 1u << 20;
constexpr int kMaxDepth = 64;
constexpr uint32_t kArmNoCodeBelow = 0x10000;

ArmRoutineDispatcher gDispatcher = nullptr;

// Code blocks -----------------------------------------------------------------

struct CodeBlock {
    uint32_t length;
    uint64_t serial;  // tells a block from a later one at the same address
};

struct CodeBlocks {
    std::mutex mutex;
    std::map<uint32_t, CodeBlock> blocks;
    uint64_t nextSerial = 1;
    std::atomic<uint64_t> generation{1};
};

CodeBlocks& GetCodeBlocks() {
    static CodeBlocks* const blocks = new CodeBlocks;  // never destroyed: threads may end after statics
    return *blocks;
}

// The time limit ---------------------------------------------------------------

struct Engine;

// One watchdog thread for every run: a run is armed while it executes ARM
// code (not while a routine runs) and the watchdog stops its engine when its
// ARM time is used up.
class Watchdog {
public:
    void Arm(Engine* engine, uc_engine* uc, std::chrono::nanoseconds remaining);
    void Disarm(Engine* engine);

private:
    struct Armed {
        Engine* engine;
        uc_engine* uc;
        std::chrono::steady_clock::time_point deadline;
    };
    void Loop();
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Armed> armed_;
    bool started_ = false;
};

Watchdog& GetWatchdog() {
    static Watchdog* const watchdog = new Watchdog;  // its thread runs until the process ends
    return *watchdog;
}

uint32_t gTimeLimitMs = 0;
bool gTimeLimitRead = false;

uint32_t TimeLimitMs() {
    if (!gTimeLimitRead) {
        gTimeLimitRead = true;
        if (const char* text = std::getenv("QOB_ASM_TIME_LIMIT")) gTimeLimitMs = static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
    }
    return gTimeLimitMs;
}

bool gExactAddresses = false;

// Engines --------------------------------------------------------------------------

struct Engine {
    uc_engine* uc = nullptr;
    uc_hook stubHook = 0, memoryHook = 0, exactHook = 0;
    uint64_t regionCount = ~uint64_t{0};
    std::vector<platform::LowRegion> mapped;
    uint64_t blockGeneration = 0;
    std::map<uint32_t, CodeBlock> blocks;  // as applied here
    uint32_t guardPage = 0;
    // The run under way.
    bool haveOutcome = false;
    ArmOutcome outcome;
    bool timedOut = false;
    std::chrono::nanoseconds remaining{0};
    bool limited = false;
};

struct ThreadCpu {
    std::vector<std::unique_ptr<Engine>> engines;
    int depth = 0;
    void* stackAllocation = nullptr;
    uint32_t stackTop = 0;
    uint32_t guardPage = 0;
    ~ThreadCpu();
};

thread_local ThreadCpu tCpu;
thread_local Engine* tRunning = nullptr;  // the innermost engine executing (its routine runs)

uint32_t ReadRegister(uc_engine* uc, int reg) {
    uint32_t value = 0;
    uc_reg_read(uc, reg, &value);
    return value;
}

void WriteRegister(uc_engine* uc, int reg, uint32_t value) { uc_reg_write(uc, reg, &value); }

// The pages of a range as a mapping of their own with these permissions
// (nothing when the range is no longer mapped).
void Remap(Engine& engine, uint32_t start, uint32_t length, uint32_t permissions) {
    const uint32_t from = start & ~(kUcPage - 1);
    const uint32_t to = (start + length + kUcPage - 1) & ~(kUcPage - 1);
    if (uc_mem_unmap(engine.uc, from, to - from) != UC_ERR_OK) return;
    uc_mem_map_ptr(engine.uc, from, to - from, permissions, reinterpret_cast<void*>(uintptr_t{from}));
}

// The ranges of a that b does not cover, both sorted and disjoint.
std::vector<platform::LowRegion> Subtract(const std::vector<platform::LowRegion>& a,
                                          const std::vector<platform::LowRegion>& b) {
    std::vector<platform::LowRegion> out;
    size_t j = 0;
    for (platform::LowRegion range : a) {
        uintptr_t from = range.start;
        while (j < b.size() && b[j].end <= from) ++j;
        for (size_t k = j; k < b.size() && b[k].start < range.end; ++k) {
            if (b[k].start > from) out.push_back({from, b[k].start});
            from = std::max(from, b[k].end);
        }
        if (from < range.end) out.push_back({from, range.end});
    }
    return out;
}

// Brings the engine's memory up to the allocator's mappings and the code
// blocks' protections.
void CatchUp(Engine& engine) {
    if (engine.regionCount != platform::CountLowRegionChanges()) {
        engine.regionCount = platform::CountLowRegionChanges();
        std::vector<platform::LowRegion> now = platform::ListLowRegions();
        for (platform::LowRegion gone : Subtract(engine.mapped, now))
            uc_mem_unmap(engine.uc, gone.start, gone.end - gone.start);
        for (platform::LowRegion added : Subtract(now, engine.mapped)) {
            uc_mem_map_ptr(engine.uc, added.start, added.end - added.start, UC_PROT_READ | UC_PROT_WRITE,
                           reinterpret_cast<void*>(added.start));
        }
        engine.mapped = std::move(now);
    }
    // A code block is a mapping of its own, not a protected part of a larger
    // one: the emulator caches translations only for whole mappings.
    CodeBlocks& registry = GetCodeBlocks();
    if (engine.blockGeneration != registry.generation.load(std::memory_order_acquire)) {
        std::lock_guard lock(registry.mutex);
        engine.blockGeneration = registry.generation.load(std::memory_order_acquire);
        for (auto it = engine.blocks.begin(); it != engine.blocks.end();) {
            auto live = registry.blocks.find(it->first);
            if (live != registry.blocks.end() && live->second.serial == it->second.serial) {
                ++it;
                continue;
            }
            uc_ctl_remove_cache(engine.uc, it->first, it->first + it->second.length);
            Remap(engine, it->first, it->second.length, UC_PROT_READ | UC_PROT_WRITE);
            it = engine.blocks.erase(it);
        }
        for (const auto& [base, block] : registry.blocks) {
            if (engine.blocks.count(base)) continue;
            Remap(engine, base, block.length, UC_PROT_READ | UC_PROT_EXEC);
            uc_ctl_remove_cache(engine.uc, base, base + block.length);
            engine.blocks.emplace(base, block);
        }
    }
    if (engine.guardPage != tCpu.guardPage) {
        engine.guardPage = tCpu.guardPage;
        uc_mem_unmap(engine.uc, engine.guardPage, kUcPage);
    }
}

void StartLimit(Engine& engine) {
    if (engine.limited) GetWatchdog().Arm(&engine, engine.uc, engine.remaining);
}
void PauseLimit(Engine& engine) {
    if (engine.limited) GetWatchdog().Disarm(&engine);
}

// A routine slot was reached: run the routine, then return to lr.
void OnStub(uc_engine* uc, uint64_t address, uint32_t, void* user) {
    auto* engine = static_cast<Engine*>(user);
    PauseLimit(*engine);
    const uint32_t lr = ReadRegister(uc, UC_ARM_REG_LR);
    ArmCall call{};
    call.number = static_cast<uint32_t>((address - kArmStubBase) / 4);
    call.r[0] = ReadRegister(uc, UC_ARM_REG_R0);
    call.r[1] = ReadRegister(uc, UC_ARM_REG_R1);
    call.r[2] = ReadRegister(uc, UC_ARM_REG_R2);
    call.r[3] = ReadRegister(uc, UC_ARM_REG_R3);
    call.callerAddress = lr - 4;
    Engine* const outer = tRunning;
    tRunning = engine;
    if (gDispatcher) gDispatcher(call);
    tRunning = outer;
    if (engine->haveOutcome || engine->timedOut) {
        // Not a word more: writing pc would cancel the stop.
        uc_emu_stop(uc);
        return;
    }
    if (call.setsR0) WriteRegister(uc, UC_ARM_REG_R0, call.result[0]);
    if (call.setsR1) WriteRegister(uc, UC_ARM_REG_R1, call.result[1]);
    WriteRegister(uc, UC_ARM_REG_PC, lr);
    CatchUp(*engine);
    StartLimit(*engine);
}

bool OnBadAccess(uc_engine* uc, uc_mem_type, uint64_t address, int, int64_t, void* user) {
    auto* engine = static_cast<Engine*>(user);
    if (!engine->haveOutcome) {
        engine->haveOutcome = true;
        engine->outcome.stop = ArmStop::Fault;
        engine->outcome.fault = platform::FaultKind::AccessViolation;
        engine->outcome.address = ReadRegister(uc, UC_ARM_REG_PC);
        engine->outcome.dataAddress = static_cast<uint32_t>(address);
    }
    return false;
}

void OnEachInstruction(uc_engine*, uint64_t, uint32_t, void*) {}

std::unique_ptr<Engine> OpenEngine() {
    auto engine = std::make_unique<Engine>();
    if (uc_open(UC_ARCH_ARM, UC_MODE_ARM, &engine->uc) != UC_ERR_OK) return nullptr;
    uc_ctl_set_cpu_model(engine->uc, UC_CPU_ARM_SA1110);
    // The engine drops its translation of the stop address after every run.
    // With the stop page right after the slots that drop reached further, and
    // each run translated its return anew: about 4 us of a 1.3 us start and
    // stop. A gap between the two mappings keeps the drop to the stop page.
    uc_mem_map(engine->uc, kArmStubBase, kArmStubBytes, UC_PROT_READ | UC_PROT_EXEC);
    uc_mem_map(engine->uc, kArmStopAddress, kUcPage, UC_PROT_READ | UC_PROT_EXEC);
    std::vector<uint32_t> words(kArmStubBytes / 4, kReturnWord);
    uc_mem_write(engine->uc, kArmStubBase, words.data(), kArmStubBytes);
    uc_mem_write(engine->uc, kArmStopAddress, words.data(), kUcPage);
    uc_hook_add(engine->uc, &engine->stubHook, UC_HOOK_CODE, reinterpret_cast<void*>(OnStub), engine.get(),
                kArmStubBase, kArmStubBase + kArmStubBytes - 1);
    uc_hook_add(engine->uc, &engine->memoryHook, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(OnBadAccess),
                engine.get(), 1, 0);
    return engine;
}

void SetExactHook(Engine& engine, bool exact) {
    if (exact == (engine.exactHook != 0)) return;
    if (exact) {
        uc_hook_add(engine.uc, &engine.exactHook, UC_HOOK_CODE, reinterpret_cast<void*>(OnEachInstruction), nullptr, 1,
                    0);
    } else {
        uc_hook_del(engine.uc, engine.exactHook);
        engine.exactHook = 0;
    }
}

ThreadCpu::~ThreadCpu() {
    for (auto& engine : engines)
        if (engine && engine->uc) uc_close(engine->uc);
    platform::FreeBlock(stackAllocation);
}

// The thread's ARM stack: kStackBytes with one guard page below.
bool EnsureStack() {
    if (tCpu.stackAllocation) return true;
    void* allocation = platform::AllocateBlock(kStackBytes + 2 * kUcPage);
    if (!allocation) return false;
    const auto guard = static_cast<uint32_t>((reinterpret_cast<uintptr_t>(allocation) + kUcPage - 1) & ~uintptr_t{kUcPage - 1});
    tCpu.stackAllocation = allocation;
    tCpu.guardPage = guard;
    tCpu.stackTop = guard + kUcPage + static_cast<uint32_t>(kStackBytes);
    return true;
}

ArmOutcome Failure(uint32_t address) {
    ArmOutcome outcome;
    outcome.stop = ArmStop::Fault;
    outcome.address = address;
    outcome.dataAddress = address;
    return outcome;
}

ArmOutcome OutcomeOf(Engine& engine, uc_err error) {
    if (engine.haveOutcome) return engine.outcome;
    ArmOutcome outcome;
    const uint32_t pc = ReadRegister(engine.uc, UC_ARM_REG_PC);
    if (engine.timedOut) {
        outcome.stop = ArmStop::TimeLimit;
        outcome.fault = platform::FaultKind::TimeLimitExceeded;
        outcome.address = pc;
        outcome.dataAddress = pc;
        return outcome;
    }
    switch (error) {
    case UC_ERR_OK:
        outcome.stop = pc == kArmStopAddress ? ArmStop::Returned : ArmStop::Stopped;
        outcome.address = pc;
        return outcome;
    case UC_ERR_INSN_INVALID:
    case UC_ERR_EXCEPTION:
        outcome.stop = ArmStop::Fault;
        outcome.fault = platform::FaultKind::IllegalInstruction;
        outcome.address = pc;
        outcome.dataAddress = pc;
        return outcome;
    default:
        return Failure(pc);
    }
}

}  // namespace

void Watchdog::Arm(Engine* engine, uc_engine* uc, std::chrono::nanoseconds remaining) {
    std::lock_guard lock(mutex_);
    if (!started_) {
        started_ = true;
        std::thread([this] { Loop(); }).detach();
    }
    armed_.push_back({engine, uc, std::chrono::steady_clock::now() + remaining});
    wake_.notify_one();
}

void Watchdog::Disarm(Engine* engine) {
    std::lock_guard lock(mutex_);
    for (auto it = armed_.begin(); it != armed_.end(); ++it)
        if (it->engine == engine) {
            engine->remaining = std::max(std::chrono::nanoseconds{0},
                                         std::chrono::duration_cast<std::chrono::nanoseconds>(
                                             it->deadline - std::chrono::steady_clock::now()));
            armed_.erase(it);
            return;
        }
}

void Watchdog::Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (armed_.empty()) {
            wake_.wait(lock);
            continue;
        }
        auto first = armed_.begin();
        for (auto it = armed_.begin(); it != armed_.end(); ++it)
            if (it->deadline < first->deadline) first = it;
        if (std::chrono::steady_clock::now() < first->deadline) {
            wake_.wait_until(lock, first->deadline);
            continue;
        }
        // Stopped again every few milliseconds until the run disarms: a stop
        // that meets the pc write of a returning routine is cancelled by it.
        first->engine->timedOut = true;
        first->engine->remaining = std::chrono::nanoseconds{0};
        uc_emu_stop(first->uc);
        first->deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(5);
    }
}

void SetArmRoutineDispatcher(ArmRoutineDispatcher dispatcher) { gDispatcher = dispatcher; }

ArmOutcome RunArmCode(uint32_t entry, const uint32_t (&registers)[4]) {
    // The stub page and the stop address are no code: entering there would
    // run a routine without a caller, or return at once.
    if (entry < kArmNoCodeBelow || !EnsureStack() || tCpu.depth >= kMaxDepth) return Failure(entry);
    if (tCpu.engines.size() <= static_cast<size_t>(tCpu.depth)) {
        std::unique_ptr<Engine> opened = OpenEngine();
        if (!opened) return Failure(entry);
        tCpu.engines.push_back(std::move(opened));
    }
    Engine& engine = *tCpu.engines[static_cast<size_t>(tCpu.depth)];
    uint32_t sp = tCpu.stackTop;
    if (tCpu.depth > 0 && tRunning != nullptr) sp = (ReadRegister(tRunning->uc, UC_ARM_REG_SP) - 64) & ~7u;
    CatchUp(engine);
    SetExactHook(engine, gExactAddresses);
    static const int kArgumentRegisters[4] = {UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2, UC_ARM_REG_R3};
    for (int i = 0; i < 4; ++i) WriteRegister(engine.uc, kArgumentRegisters[i], registers[i]);
    WriteRegister(engine.uc, UC_ARM_REG_SP, sp);
    WriteRegister(engine.uc, UC_ARM_REG_LR, kArmStopAddress);
    engine.haveOutcome = false;
    engine.outcome = ArmOutcome{};
    engine.timedOut = false;
    const uint32_t limit = TimeLimitMs();
    engine.limited = limit != 0;
    engine.remaining = std::chrono::milliseconds(limit);
    ++tCpu.depth;
    StartLimit(engine);
    const uc_err error = uc_emu_start(engine.uc, entry, kArmStopAddress, 0, 0);
    PauseLimit(engine);
    --tCpu.depth;
    return OutcomeOf(engine, error);
}

void MarkArmCodeBlock(uint32_t base, uint32_t length) {
    CodeBlocks& registry = GetCodeBlocks();
    std::lock_guard lock(registry.mutex);
    registry.blocks[base] = {length, registry.nextSerial++};
    registry.generation.fetch_add(1, std::memory_order_release);
}

void UnmarkArmCodeBlock(uint32_t base) {
    CodeBlocks& registry = GetCodeBlocks();
    std::lock_guard lock(registry.mutex);
    if (registry.blocks.erase(base)) registry.generation.fetch_add(1, std::memory_order_release);
}

void StopArmRunWithFault(platform::FaultKind kind, uint32_t address) {
    Engine* engine = tRunning;
    if (!engine || engine->haveOutcome) return;
    engine->haveOutcome = true;
    engine->outcome.stop = ArmStop::Fault;
    engine->outcome.fault = kind;
    engine->outcome.address = address;
    engine->outcome.dataAddress = address;
}

void StopArmRun() {
    Engine* engine = tRunning;
    if (!engine || engine->haveOutcome) return;
    engine->haveOutcome = true;
    engine->outcome.stop = ArmStop::Stopped;
    engine->outcome.address = ReadRegister(engine->uc, UC_ARM_REG_PC);
}

int ArmRunDepth() { return tCpu.depth; }

void SetArmExactFaultAddresses(bool exact) { gExactAddresses = exact; }

void SetArmTimeLimit(uint32_t milliseconds) {
    gTimeLimitRead = true;
    gTimeLimitMs = milliseconds;
}

}  // namespace qob
