// runtime/data/interned_names.cpp
// The interned texts live in the low-memory heap like the runtime's other
// texts, so code that copies a text by its block size can take them too.
#include "runtime/data/interned_names.h"

#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/memory.h"
#include "runtime/data/hash.h"

namespace qob {

namespace {

struct InternedName {
    char* text;  // lower case, owned
    uint32_t hash;
};

// Oldest first. Compiling script threads may intern at the same time.
std::mutex gInternedLock;
std::vector<InternedName> gInternedNames;

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The interned text of a lowered name: the one kept already under its hash,
// else a new copy that is kept from now on.
const char* InternLowered(const char* lowered, size_t length) {
    const uint32_t hash = HashName(lowered, length);
    std::lock_guard guard(gInternedLock);
    for (const InternedName& interned : gInternedNames)
        if (interned.hash == hash) return interned.text;
    auto* kept = static_cast<char*>(platform::AllocateBlock(length + 1));
    if (kept == nullptr) return nullptr;
    std::memcpy(kept, lowered, length + 1);
    gInternedNames.push_back({kept, hash});
    return kept;
}

}  // namespace

const char* InternName(const char* name) {
    if (name == nullptr) return nullptr;
    const size_t length = std::strlen(name);
    // The compiler interns its file name for every token and node: a name
    // that fits is lowered on the stack, so a name interned before costs no block.
    char local[256];
    char* lowered = length < sizeof local ? local : static_cast<char*>(platform::AllocateBlock(length + 1));
    if (lowered == nullptr) return nullptr;
    for (size_t i = 0; i <= length; ++i) lowered[i] = LowerAscii(name[i]);
    const char* interned = InternLowered(lowered, length);
    if (lowered != local) platform::FreeBlock(lowered);
    return interned;
}

void FreeInternedNames() {
    std::lock_guard guard(gInternedLock);
    for (const InternedName& interned : gInternedNames) platform::FreeBlock(interned.text);
    gInternedNames.clear();
}

}  // namespace qob
