// platform/resources.cpp
// The resource table: resources registered in memory, and files under
// "resources/<TYPE>/<NAME>" of the application directory, kept once read.
#include "platform/resources.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/files.h"
#include "platform/text_codec.h"

namespace qob::platform {

struct ResourceEntry {
    std::string bytes;
};

namespace {

struct ResourceTable {
    std::mutex mutex;
    std::map<std::string, const ResourceEntry*> registered;  // "TYPE/NAME" -> entry
    std::map<std::string, const ResourceEntry*> fromFiles;
    // Every entry ever made: handed-out data must outlive a replacement.
    std::vector<std::unique_ptr<ResourceEntry>> entries;

    const ResourceEntry* Keep(std::string bytes) {
        entries.push_back(std::make_unique<ResourceEntry>(ResourceEntry{std::move(bytes)}));
        return entries.back().get();
    }
};

ResourceTable& Table() {
    static ResourceTable table;
    return table;
}

bool AllDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// "#0101" and "0101" name the integer 101, as "101" does.
std::string KeyOf(std::string_view text) {
    if (text.size() > 1 && text[0] == '#' && AllDigits(text.substr(1))) text.remove_prefix(1);
    if (AllDigits(text)) {
        while (text.size() > 1 && text[0] == '0') text.remove_prefix(1);
        return std::string(text);
    }
    std::string key(text);
    for (char& c : key)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return key;
}

bool IsOwnModule(const void* module) {
    const auto value = reinterpret_cast<uintptr_t>(module);
    return value == 0 || value == kExecutableModule;
}

// A key part is a file or folder name: no separators, no "." or "..".
bool IsPlainName(std::string_view part) {
    if (part.empty() || part == "." || part == "..") return false;
    for (char c : part)
        if (IsPathSeparator(c) || c == '\0') return false;
    return true;
}

}  // namespace

std::string ResourceKey(ResourceText text) {
    if (IsIntResource(text)) return std::to_string(reinterpret_cast<uintptr_t>(text));
    return KeyOf(EncodeAnsi(std::span<const uint16_t>(text, WideTextLength(text))));
}

ResourceHandle FindResourceW(const void* module, ResourceText name, ResourceText type) {
    if (!IsOwnModule(module) || !name || !type) return nullptr;
    const std::string typeKey = ResourceKey(type);
    const std::string nameKey = ResourceKey(name);
    if (!IsPlainName(typeKey) || !IsPlainName(nameKey)) return nullptr;
    const std::string key = typeKey + "/" + nameKey;

    ResourceTable& table = Table();
    std::lock_guard guard(table.mutex);
    if (auto found = table.registered.find(key); found != table.registered.end()) return found->second;
    if (auto found = table.fromFiles.find(key); found != table.fromFiles.end()) return found->second;
    const std::string path = GetApplicationDirectory() + "resources/" + key;
    if (GetPathKind(path) != PathKind::File) return nullptr;
    std::optional<std::string> bytes = ReadFileBytes(path);
    if (!bytes || bytes->size() > UINT32_MAX) return nullptr;
    const ResourceEntry* entry = table.Keep(std::move(*bytes));
    table.fromFiles[key] = entry;
    return entry;
}

LoadedResource LoadResource(const void*, ResourceHandle resource) {
    return resource ? resource->bytes.data() : nullptr;
}

uint32_t SizeofResource(const void*, ResourceHandle resource) {
    return resource ? static_cast<uint32_t>(resource->bytes.size()) : 0;
}

const void* LockResource(LoadedResource loaded) { return loaded; }

void RegisterResource(std::string_view type, std::string_view name, std::string bytes) {
    ResourceTable& table = Table();
    std::lock_guard guard(table.mutex);
    table.registered[KeyOf(type) + "/" + KeyOf(name)] = table.Keep(std::move(bytes));
}

void ForgetRegisteredResources() {
    ResourceTable& table = Table();
    std::lock_guard guard(table.mutex);
    table.registered.clear();
    table.fromFiles.clear();
}

}  // namespace qob::platform
