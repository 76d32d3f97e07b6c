// native/unicorn_loader.cpp
// The emulator's entry points, loaded from libunicorn when assembled code
// first runs rather than linked: the library is large, and loading it at
// every start cost each program about 12 ms, though most never run ARM code.
// Each function forwards to the library's own; without the library, making
// an engine fails (UC_ERR_ARCH) and no other call is reached.
#include <dlfcn.h>
#include <unicorn/unicorn.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {

struct UnicornEntries {
    decltype(&uc_open) open = nullptr;
    decltype(&uc_close) close = nullptr;
    decltype(&uc_ctl) ctl = nullptr;
    decltype(&uc_reg_write) regWrite = nullptr;
    decltype(&uc_reg_read) regRead = nullptr;
    decltype(&uc_mem_write) memWrite = nullptr;
    decltype(&uc_mem_map) memMap = nullptr;
    decltype(&uc_mem_map_ptr) memMapPtr = nullptr;
    decltype(&uc_mem_unmap) memUnmap = nullptr;
    decltype(&uc_emu_start) emuStart = nullptr;
    decltype(&uc_emu_stop) emuStop = nullptr;
    decltype(&uc_hook_add) hookAdd = nullptr;
    decltype(&uc_hook_del) hookDel = nullptr;
};

template <typename T>
bool Bind(void* library, const char* name, T& entry) {
    entry = reinterpret_cast<T>(dlsym(library, name));
    return entry != nullptr;
}

// The entries, or null when the library or one of its entries is missing
// (said once on standard error).
const UnicornEntries* Entries() {
    static UnicornEntries entries;
    static bool loaded = false;
    static std::once_flag once;
    std::call_once(once, [] {
        void* library = dlopen("libunicorn.so.2", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            std::fprintf(stderr, "qob: the ARM emulator (libunicorn.so.2) cannot be loaded: %s\n", dlerror());
            return;
        }
        loaded = Bind(library, "uc_open", entries.open) && Bind(library, "uc_close", entries.close) &&
                 Bind(library, "uc_ctl", entries.ctl) && Bind(library, "uc_reg_write", entries.regWrite) &&
                 Bind(library, "uc_reg_read", entries.regRead) && Bind(library, "uc_mem_write", entries.memWrite) &&
                 Bind(library, "uc_mem_map", entries.memMap) && Bind(library, "uc_mem_map_ptr", entries.memMapPtr) &&
                 Bind(library, "uc_mem_unmap", entries.memUnmap) && Bind(library, "uc_emu_start", entries.emuStart) &&
                 Bind(library, "uc_emu_stop", entries.emuStop) && Bind(library, "uc_hook_add", entries.hookAdd) &&
                 Bind(library, "uc_hook_del", entries.hookDel);
        if (!loaded) std::fprintf(stderr, "qob: the ARM emulator library lacks an entry this version needs\n");
    });
    return loaded ? &entries : nullptr;
}

// Every engine comes from uc_open, so the other calls only run once the
// entries are bound.
const UnicornEntries& Bound() { return *Entries(); }

}  // namespace

uc_err uc_open(uc_arch arch, uc_mode mode, uc_engine** uc) {
    const UnicornEntries* entries = Entries();
    if (entries == nullptr) return UC_ERR_ARCH;
    return entries->open(arch, mode, uc);
}

uc_err uc_close(uc_engine* uc) { return Bound().close(uc); }

// The controls this code uses take at most two arguments, integers or 64-bit
// addresses, which travel in whole registers: they are passed on as such.
uc_err uc_ctl(uc_engine* uc, uc_control_type control, ...) {
    va_list arguments;
    va_start(arguments, control);
    const uint64_t first = va_arg(arguments, uint64_t);
    const uint64_t second = va_arg(arguments, uint64_t);
    va_end(arguments);
    return Bound().ctl(uc, control, first, second);
}

uc_err uc_reg_write(uc_engine* uc, int regid, const void* value) { return Bound().regWrite(uc, regid, value); }

uc_err uc_reg_read(uc_engine* uc, int regid, void* value) { return Bound().regRead(uc, regid, value); }

uc_err uc_mem_write(uc_engine* uc, uint64_t address, const void* bytes, size_t size) {
    return Bound().memWrite(uc, address, bytes, size);
}

uc_err uc_mem_map(uc_engine* uc, uint64_t address, size_t size, uint32_t perms) {
    return Bound().memMap(uc, address, size, perms);
}

uc_err uc_mem_map_ptr(uc_engine* uc, uint64_t address, size_t size, uint32_t perms, void* ptr) {
    return Bound().memMapPtr(uc, address, size, perms, ptr);
}

uc_err uc_mem_unmap(uc_engine* uc, uint64_t address, size_t size) { return Bound().memUnmap(uc, address, size); }

uc_err uc_emu_start(uc_engine* uc, uint64_t begin, uint64_t until, uint64_t timeout, size_t count) {
    return Bound().emuStart(uc, begin, until, timeout, count);
}

uc_err uc_emu_stop(uc_engine* uc) { return Bound().emuStop(uc); }

// The hooks this code adds (code and invalid memory) take no extra arguments.
uc_err uc_hook_add(uc_engine* uc, uc_hook* hh, int type, void* callback, void* user_data, uint64_t begin,
                   uint64_t end, ...) {
    return Bound().hookAdd(uc, hh, type, callback, user_data, begin, end);
}

uc_err uc_hook_del(uc_engine* uc, uc_hook hh) { return Bound().hookDel(uc, hh); }
