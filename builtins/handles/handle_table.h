// builtins/handles/handle_table.h
// Handles that programs hold for streams, packages and pools: numbers that a
// table of live records checks, so a stale or made-up number finds nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>

#include "platform/memory.h"

namespace qob {

// Each handle is the address of a small block of the low-memory allocator,
// so it fits the 32 bits every handle travels in and is never handed out
// twice while its record lives. The records themselves are ordinary objects
// that only the table holds. The tables are process-wide and used by
// built-ins only, which run under the interpreter lock.
template <typename Record>
class HandleTable {
public:
    HandleTable() = default;
    HandleTable(const HandleTable&) = delete;
    HandleTable& operator=(const HandleTable&) = delete;
    ~HandleTable() {
        for (auto& entry : records_) platform::FreeBlock(AddressOf(entry.first));
    }

    // The record's new handle; 0 (and the record dropped) when no handle
    // block can be had.
    [[nodiscard]] int32_t Add(std::unique_ptr<Record> record) {
        void* slot = platform::AllocateZeroedBlock(1);
        if (!slot) return 0;
        const auto handle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(slot));
        records_.emplace(handle, std::move(record));
        return static_cast<int32_t>(handle);
    }

    // The live record of a handle, or null.
    [[nodiscard]] Record* Find(int32_t handle) const {
        const auto found = records_.find(static_cast<uint32_t>(handle));
        return found == records_.end() ? nullptr : found->second.get();
    }

    // Takes the record out of the table; null for a handle that is not live.
    [[nodiscard]] std::unique_ptr<Record> Remove(int32_t handle) {
        const auto found = records_.find(static_cast<uint32_t>(handle));
        if (found == records_.end()) return nullptr;
        std::unique_ptr<Record> record = std::move(found->second);
        records_.erase(found);
        platform::FreeBlock(AddressOf(static_cast<uint32_t>(handle)));
        return record;
    }

    [[nodiscard]] size_t Count() const { return records_.size(); }

private:
    static void* AddressOf(uint32_t handle) { return reinterpret_cast<void*>(static_cast<uintptr_t>(handle)); }

    std::unordered_map<uint32_t, std::unique_ptr<Record>> records_;
};

}  // namespace qob
