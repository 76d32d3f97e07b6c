// native/asm_string_list.cpp
// The texts of code blocks, found by owner and content through hashing so
// that a block with many texts assembles in linear time.
#include "native/asm_string_list.h"

#include <cstring>
#include <string>
#include <unordered_map>

#include "platform/memory.h"

namespace qob {
namespace {

struct OwnerTexts {
    std::unordered_map<std::string, char*> byText;
};

struct StringList {
    std::unordered_map<uint32_t, OwnerTexts> owners;
    std::unordered_map<const char*, uint32_t> ownerOfText;
};

StringList& List() {
    static StringList list;
    return list;
}

}  // namespace

char* AddAsmString(uint32_t owner, std::string_view text) {
    if (char* kept = FindAsmString(owner, text)) return kept;
    auto* copy = static_cast<char*>(platform::AllocateBlock(text.size() + 1));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    StringList& list = List();
    list.owners[owner].byText.emplace(std::string(text), copy);
    list.ownerOfText.emplace(copy, owner);
    return copy;
}

char* FindAsmString(uint32_t owner, std::string_view text) {
    StringList& list = List();
    auto texts = list.owners.find(owner);
    if (texts == list.owners.end()) return nullptr;
    auto found = texts->second.byText.find(std::string(text));
    return found == texts->second.byText.end() ? nullptr : found->second;
}

bool RemoveAsmString(const char* text) {
    StringList& list = List();
    auto owner = list.ownerOfText.find(text);
    if (owner == list.ownerOfText.end()) return false;
    OwnerTexts& texts = list.owners[owner->second];
    texts.byText.erase(std::string(text));
    if (texts.byText.empty()) list.owners.erase(owner->second);
    list.ownerOfText.erase(owner);
    platform::FreeBlock(const_cast<char*>(text));
    return true;
}

void RemoveAsmStrings(uint32_t owner) {
    StringList& list = List();
    auto texts = list.owners.find(owner);
    if (texts == list.owners.end()) return;
    for (auto& [content, copy] : texts->second.byText) {
        list.ownerOfText.erase(copy);
        platform::FreeBlock(copy);
    }
    list.owners.erase(texts);
}

void ReleaseAsmStrings(uint32_t owner, bool (*keep)(const char* text, void* user), void* user) {
    StringList& list = List();
    auto texts = list.owners.find(owner);
    if (texts == list.owners.end()) return;
    for (auto& [content, copy] : texts->second.byText) {
        list.ownerOfText.erase(copy);
        if (!keep(copy, user)) platform::FreeBlock(copy);
    }
    list.owners.erase(texts);
}

size_t CountAsmStrings(uint32_t owner) {
    const StringList& list = List();
    auto texts = list.owners.find(owner);
    return texts == list.owners.end() ? 0 : texts->second.byText.size();
}

}  // namespace qob
