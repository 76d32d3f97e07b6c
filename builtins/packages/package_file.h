// builtins/packages/package_file.h
// Package files: one enciphered archive of named members, opened whole (index
// and data in memory, changeable) or lazily (index only, read on demand).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qob {

// The plain layout, before enciphering: "PKG", a 32-bit little-endian index
// length L that counts its own 4 bytes, L - 4 bytes of index entries {name,
// 0x01, 32-bit little-endian offset into the data area}, then the data area,
// members back to back in index order. The file stores each plain byte minus
// the password's byte at (file position mod password length), modulo 256.
constexpr char kPackageMagic[] = "PKG";
constexpr size_t kPackageHeaderSize = 3;
constexpr uint32_t kEmptyIndexSize = 4;
constexpr char kPackageNameEnd = '\x01';

// One parsed index entry. A member whose offset and size do not lie inside
// the data area (a damaged file, or a password right on the first bytes
// only) is listed but cannot be found or read.
struct PackageMember {
    std::string name;
    uint32_t offset = 0;
    uint32_t size = 0;
    uint32_t entryPosition = 0;  // of the name's first byte in the index block
    bool readable = false;
};

enum class PackageStatus {
    Ok,
    TooShort,         // fewer than the 7 bytes of magic and index length
    BadMagic,         // not "PKG" once deciphered: not a package, or a wrong password
    BadIndexLength,   // L below 4 or beyond the file
    Unreadable,       // the file exists but cannot be read
};

// The index block parsed: entries are taken only while name, separator and
// offset lie inside the block; there is no limit on their number.
[[nodiscard]] std::vector<PackageMember> ParsePackageIndex(std::span<const uint8_t> index, uint64_t dataSize);

// What a whole package file holds, deciphered and checked.
struct PackageContents {
    PackageStatus status = PackageStatus::Ok;
    std::vector<uint8_t> index;  // the L bytes of the index block
    std::vector<uint8_t> data;   // the data area
};

// Deciphers and checks the bytes of a whole package file (any bytes at all:
// nothing outside the span is ever read).
[[nodiscard]] PackageContents DecodePackageBytes(std::span<const uint8_t> file, std::string_view password);

// The bytes of a package file for the index and data, enciphered with key.
[[nodiscard]] std::vector<uint8_t> EncodePackageBytes(std::span<const uint8_t> index, std::span<const uint8_t> data,
                                                      std::string_view key);

// An open package. The password is kept as given: it never leaves the process.
class Package {
public:
    // Opens the file; a missing file gives an empty package that saving
    // writes. nullopt-like failure: the status says why.
    [[nodiscard]] static PackageStatus Open(std::string_view path, std::string_view password, bool lazy,
                                            Package& package);

    [[nodiscard]] bool IsLazy() const { return lazy_; }
    [[nodiscard]] bool IsChanged() const { return changed_; }
    [[nodiscard]] const std::vector<PackageMember>& Members() const { return members_; }

    // The readable member of that name (names compare byte for byte), or null.
    [[nodiscard]] const PackageMember* Find(std::string_view name) const;

    // The member's bytes, or nullopt when a lazy read fails.
    [[nodiscard]] std::optional<std::vector<uint8_t>> Read(const PackageMember& member) const;

    // Writes the member's bytes to a new file at the host path; false, with
    // no partial file left, when it cannot be read or written whole.
    [[nodiscard]] bool WriteMember(const PackageMember& member, const std::string& path) const;

    // Whole packages only. Adds (or replaces) a member under the name, which
    // must not hold 0x01; false when nothing changed.
    bool Add(std::string_view name, std::span<const uint8_t> bytes);
    bool Delete(std::string_view name);

    // Writes the package through a temporary file and a rename, to the path
    // given or its own, enciphered with the key given or its password. The
    // changed flag is cleared only when the whole file is in place. Lazy
    // packages are never written: false.
    bool Save(std::optional<std::string_view> path, std::optional<std::string_view> key);

    [[nodiscard]] const std::string& Path() const { return path_; }
    [[nodiscard]] const std::string& Password() const { return password_; }

private:
    void Reindex();
    void SetIndexLength();

    std::string path_;
    std::string password_;
    bool lazy_ = false;
    bool changed_ = false;
    std::vector<uint8_t> index_;  // the index block, its length field included
    std::vector<uint8_t> data_;   // whole packages: the data area
    uint64_t dataSize_ = 0;       // lazy packages: the file's data area
    std::vector<PackageMember> members_;
    std::unordered_map<std::string, size_t> byName_;  // into members_: readable ones, the first of a name
};

// Lower-cases the ASCII letters of a member name.
[[nodiscard]] std::string LowerMemberName(std::string_view name);

}  // namespace qob
