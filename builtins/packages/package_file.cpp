// builtins/packages/package_file.cpp
// Reading, checking, changing and writing package files.
#include "builtins/packages/package_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/files.h"
#include "runtime/data/cipher.h"

namespace qob {
namespace {

constexpr size_t kOffsetSize = 4;
constexpr size_t kFixedHeader = kPackageHeaderSize + 4;  // "PKG" and L

uint32_t ReadLittle32(const uint8_t* bytes) {
    uint32_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;  // the host is little-endian, as the file
}

void WriteLittle32(uint8_t* bytes, uint32_t value) { std::memcpy(bytes, &value, sizeof value); }

// CipherBytes over any length, in runs its 32-bit length can take; the key
// position continues from start.
void CipherRun(uint8_t* bytes, size_t count, std::string_view key, bool decrypt, uint64_t start) {
    if (key.empty()) return;
    const std::string terminated(key);
    const size_t keyLength = std::strlen(terminated.c_str());
    if (keyLength == 0) return;
    constexpr size_t kRun = size_t{1} << 30;
    for (size_t done = 0; done < count; done += kRun) {
        const size_t run = std::min(kRun, count - done);
        CipherBytes(bytes + done, static_cast<int32_t>(run), terminated.c_str(), decrypt,
                    static_cast<int32_t>((start + done) % keyLength));
    }
}

// The file stores plain - key, so reading adds the key back.
void Decipher(uint8_t* bytes, size_t count, std::string_view key, uint64_t start) {
    CipherRun(bytes, count, key, false, start);
}

// Checks the 7 deciphered header bytes against the file size; L on success.
PackageStatus CheckHeader(const uint8_t* header, uint64_t fileSize, uint32_t& indexSize) {
    if (std::memcmp(header, kPackageMagic, kPackageHeaderSize) != 0) return PackageStatus::BadMagic;
    indexSize = ReadLittle32(header + kPackageHeaderSize);
    if (indexSize < kEmptyIndexSize || indexSize > fileSize - kPackageHeaderSize) return PackageStatus::BadIndexLength;
    return PackageStatus::Ok;
}

bool WriteWholeFile(const std::string& path, std::span<const uint8_t> bytes) {
    std::FILE* file = platform::OpenFile(path, "wb");
    if (!file) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    if (written && closed) return true;
    static_cast<void>(platform::DeleteFile(path));
    return false;
}

}  // namespace

std::string LowerMemberName(std::string_view name) {
    std::string lower(name);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return lower;
}

std::vector<PackageMember> ParsePackageIndex(std::span<const uint8_t> index, uint64_t dataSize) {
    std::vector<PackageMember> members;
    size_t entryStart = kEmptyIndexSize;
    for (size_t i = entryStart; i < index.size(); ++i) {
        if (index[i] != static_cast<uint8_t>(kPackageNameEnd)) continue;
        if (index.size() - (i + 1) < kOffsetSize) break;
        PackageMember member;
        member.name.assign(reinterpret_cast<const char*>(index.data() + entryStart), i - entryStart);
        member.offset = ReadLittle32(index.data() + i + 1);
        member.entryPosition = static_cast<uint32_t>(entryStart);
        members.push_back(std::move(member));
        i += kOffsetSize;
        entryStart = i + 1;
    }
    // A member ends where the next begins, the last at the data area's end;
    // one that starts or ends outside the data area cannot be read.
    for (size_t m = 0; m < members.size(); ++m) {
        const uint64_t start = members[m].offset;
        const uint64_t end = m + 1 < members.size() ? members[m + 1].offset : dataSize;
        members[m].readable = start <= end && end <= dataSize;
        members[m].size = members[m].readable ? static_cast<uint32_t>(end - start) : 0;
    }
    return members;
}

PackageContents DecodePackageBytes(std::span<const uint8_t> file, std::string_view password) {
    PackageContents contents;
    if (file.size() < kFixedHeader) {
        contents.status = PackageStatus::TooShort;
        return contents;
    }
    std::vector<uint8_t> plain(file.begin(), file.end());
    Decipher(plain.data(), plain.size(), password, 0);
    uint32_t indexSize = 0;
    contents.status = CheckHeader(plain.data(), plain.size(), indexSize);
    if (contents.status != PackageStatus::Ok) return contents;
    const auto indexBegin = plain.begin() + kPackageHeaderSize;
    contents.index.assign(indexBegin, indexBegin + indexSize);
    contents.data.assign(indexBegin + indexSize, plain.end());
    return contents;
}

std::vector<uint8_t> EncodePackageBytes(std::span<const uint8_t> index, std::span<const uint8_t> data,
                                        std::string_view key) {
    std::vector<uint8_t> bytes(kPackageHeaderSize + index.size() + data.size());
    std::copy_n(kPackageMagic, kPackageHeaderSize, bytes.begin());
    std::copy(index.begin(), index.end(), bytes.begin() + kPackageHeaderSize);
    std::copy(data.begin(), data.end(), bytes.begin() + kPackageHeaderSize + index.size());
    CipherRun(bytes.data(), bytes.size(), key, true, 0);
    return bytes;
}

PackageStatus Package::Open(std::string_view path, std::string_view password, bool lazy, Package& package) {
    package.path_ = std::string(path);
    package.password_ = std::string(password);
    package.lazy_ = lazy;
    package.changed_ = false;
    package.index_.assign(kEmptyIndexSize, 0);
    WriteLittle32(package.index_.data(), kEmptyIndexSize);
    package.data_.clear();
    package.dataSize_ = 0;
    package.Reindex();
    // Only a file that is not there at all makes a new package: one that
    // exists but cannot be read must not be replaced by an empty one.
    if (platform::GetPathKind(path) == platform::PathKind::Missing) return PackageStatus::Ok;
    if (!lazy) {
        const std::optional<std::string> file = platform::ReadFileBytes(path);
        if (!file) return PackageStatus::Unreadable;
        PackageContents contents =
            DecodePackageBytes({reinterpret_cast<const uint8_t*>(file->data()), file->size()}, password);
        if (contents.status != PackageStatus::Ok) return contents.status;
        package.index_ = std::move(contents.index);
        package.data_ = std::move(contents.data);
        package.dataSize_ = package.data_.size();
        package.Reindex();
        return PackageStatus::Ok;
    }
    std::FILE* file = platform::OpenFile(path, "rb");
    if (!file) return PackageStatus::Unreadable;
    uint8_t header[kFixedHeader];
    const std::optional<int64_t> fileSize = platform::GetFileSize(path);
    PackageStatus status = PackageStatus::Unreadable;
    uint32_t indexSize = 0;
    if (fileSize && *fileSize < static_cast<int64_t>(kFixedHeader)) status = PackageStatus::TooShort;
    else if (fileSize && std::fread(header, 1, kFixedHeader, file) == kFixedHeader) {
        Decipher(header, kFixedHeader, password, 0);
        status = CheckHeader(header, static_cast<uint64_t>(*fileSize), indexSize);
    }
    if (status == PackageStatus::Ok) {
        std::vector<uint8_t> index(indexSize);
        std::memcpy(index.data(), header + kPackageHeaderSize, 4);
        const size_t rest = indexSize - 4;
        if (std::fread(index.data() + 4, 1, rest, file) == rest) {
            Decipher(index.data() + 4, rest, password, kFixedHeader);
            package.index_ = std::move(index);
            package.dataSize_ = static_cast<uint64_t>(*fileSize) - kPackageHeaderSize - indexSize;
            package.Reindex();
        } else {
            status = PackageStatus::Unreadable;
        }
    }
    std::fclose(file);
    return status;
}

void Package::Reindex() {
    members_ = ParsePackageIndex(index_, lazy_ ? dataSize_ : data_.size());
    byName_.clear();
    for (size_t m = 0; m < members_.size(); ++m)
        if (members_[m].readable) byName_.emplace(members_[m].name, m);
}

void Package::SetIndexLength() { WriteLittle32(index_.data(), static_cast<uint32_t>(index_.size())); }

const PackageMember* Package::Find(std::string_view name) const {
    const auto found = byName_.find(std::string(name));
    return found == byName_.end() ? nullptr : &members_[found->second];
}

std::optional<std::vector<uint8_t>> Package::Read(const PackageMember& member) const {
    if (!lazy_) {
        const auto begin = data_.begin() + member.offset;
        return std::vector<uint8_t>(begin, begin + member.size);
    }
    std::vector<uint8_t> bytes(member.size);
    const uint64_t position = kPackageHeaderSize + index_.size() + member.offset;
    std::FILE* file = platform::OpenFile(path_, "rb");
    if (!file) return std::nullopt;
    const bool read = fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0 &&
                      std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
    std::fclose(file);
    if (!read) return std::nullopt;
    Decipher(bytes.data(), bytes.size(), password_, position);
    return bytes;
}

bool Package::WriteMember(const PackageMember& member, const std::string& path) const {
    const std::optional<std::vector<uint8_t>> bytes = Read(member);
    return bytes && WriteWholeFile(path, *bytes);
}

bool Package::Add(std::string_view name, std::span<const uint8_t> bytes) {
    if (lazy_ || name.find(kPackageNameEnd) != std::string_view::npos) return false;
    Delete(name);
    const uint64_t limit = std::numeric_limits<uint32_t>::max();
    if (data_.size() + bytes.size() > limit || index_.size() + name.size() + 5 > limit) return false;
    index_.insert(index_.end(), name.begin(), name.end());
    index_.push_back(static_cast<uint8_t>(kPackageNameEnd));
    uint8_t offset[kOffsetSize];
    WriteLittle32(offset, static_cast<uint32_t>(data_.size()));
    index_.insert(index_.end(), offset, offset + kOffsetSize);
    SetIndexLength();
    const bool wasWhole = members_.size() == byName_.size();
    data_.insert(data_.end(), bytes.begin(), bytes.end());
    changed_ = true;
    if (!wasWhole) {
        Reindex();  // a grown data area may change which damaged entries can be read
        return true;
    }
    // Every member was readable: the new one simply follows the last.
    PackageMember member;
    member.name = std::string(name);
    member.offset = ReadLittle32(offset);
    member.size = static_cast<uint32_t>(bytes.size());
    member.entryPosition = static_cast<uint32_t>(index_.size() - kOffsetSize - 1 - name.size());
    member.readable = true;
    byName_.emplace(member.name, members_.size());
    members_.push_back(std::move(member));
    return true;
}

bool Package::Delete(std::string_view name) {
    if (lazy_) return false;
    const PackageMember* found = Find(name);
    if (!found) return false;
    const PackageMember member = *found;
    const auto entry = index_.begin() + member.entryPosition;
    index_.erase(entry, entry + member.name.size() + 1 + kOffsetSize);
    SetIndexLength();
    for (const PackageMember& other : ParsePackageIndex(index_, data_.size())) {
        if (other.offset <= member.offset) continue;
        WriteLittle32(index_.data() + other.entryPosition + other.name.size() + 1, other.offset - member.size);
    }
    const auto bytes = data_.begin() + member.offset;
    data_.erase(bytes, bytes + member.size);
    changed_ = true;
    Reindex();
    return true;
}

bool Package::Save(std::optional<std::string_view> path, std::optional<std::string_view> key) {
    if (lazy_) return false;
    const std::vector<uint8_t> bytes = EncodePackageBytes(index_, data_, key ? *key : password_);
    const std::string target(path ? *path : path_);
    if (!platform::WriteFileBytes(target, {reinterpret_cast<const char*>(bytes.data()), bytes.size()})) return false;
    changed_ = false;
    return true;
}

}  // namespace qob
