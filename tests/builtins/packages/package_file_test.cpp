// tests/builtins/packages/package_file_test.cpp
// The package format byte for byte, damaged and cut files that must fail or
// stay in bounds, and packages changed, saved and reopened on temporary files.

#include "builtins/packages/package_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace qob {
namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::string Text(const std::vector<uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

// A plain index block for (name, offset) entries.
std::vector<uint8_t> IndexBlock(const std::vector<std::pair<std::string, uint32_t>>& entries) {
    std::vector<uint8_t> index(4);
    for (const auto& [name, offset] : entries) {
        index.insert(index.end(), name.begin(), name.end());
        index.push_back(1);
        for (int shift = 0; shift < 32; shift += 8) index.push_back(static_cast<uint8_t>(offset >> shift));
    }
    const auto length = static_cast<uint32_t>(index.size());
    for (int i = 0; i < 4; ++i) index[i] = static_cast<uint8_t>(length >> (8 * i));
    return index;
}

class PackageFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/qob_packages_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
    }
    void TearDown() override {
        chmod(directory.c_str(), 0755);
        const std::string command = "chmod -R u+rwx '" + directory + "'; rm -rf '" + directory + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    std::string Path(const std::string& name) const { return directory + "/" + name; }
    void Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(Path(name), std::ios::binary) << bytes;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(Path(name), std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    // The member's bytes as text, or "<none>".
    static std::string Member(const Package& package, const std::string& name) {
        const PackageMember* member = package.Find(name);
        if (!member) return "<none>";
        const auto bytes = package.Read(*member);
        return bytes ? Text(*bytes) : "<unread>";
    }
    static std::vector<std::string> Names(const Package& package) {
        std::vector<std::string> names;
        for (const PackageMember& member : package.Members()) names.push_back(member.name);
        return names;
    }

    std::string directory;
};

TEST_F(PackageFileTest, OneMemberPackageIsTheFormatsTwentyThreeBytes) {
    // Made with Python: b"PKG" + struct.pack("<I", 18) + b"hello.txt\x01" +
    // struct.pack("<I", 0) + b"hi", and each byte minus ord("A") for "A".
    const std::pair<std::string, std::string> cases[] = {
        {"", "504b471200000068656c6c6f2e74787401000000006869"},
        {"A", "0f0a06d1bfbfbf27242b2b2eed333733c0bfbfbfbf2728"},
    };
    for (const auto& [password, hex] : cases) {
        const std::string name = "one" + password + ".pkg";
        Package package;
        ASSERT_EQ(Package::Open(Path(name), password, false, package), PackageStatus::Ok);
        ASSERT_TRUE(package.Add("hello.txt", Bytes("hi")));
        EXPECT_TRUE(package.IsChanged());
        ASSERT_TRUE(package.Save(std::nullopt, std::nullopt));
        EXPECT_FALSE(package.IsChanged());
        const std::string file = Read(name);
        std::string written;
        char pair[3];
        for (unsigned char c : file) {
            std::snprintf(pair, sizeof pair, "%02x", c);
            written += pair;
        }
        EXPECT_EQ(written, hex) << "password \"" << password << "\"";
        for (bool lazy : {false, true}) {
            Package reopened;
            ASSERT_EQ(Package::Open(Path(name), password, lazy, reopened), PackageStatus::Ok);
            EXPECT_EQ(Names(reopened), std::vector<std::string>{"hello.txt"});
            EXPECT_EQ(Member(reopened, "hello.txt"), "hi");
        }
    }
}

TEST_F(PackageFileTest, MembersSurviveAddReplaceDeleteAndReopening) {
    Package package;
    ASSERT_EQ(Package::Open(Path("p.pkg"), "secret-password", false, package), PackageStatus::Ok);
    ASSERT_TRUE(package.Add("a", Bytes("first")));
    ASSERT_TRUE(package.Add("b", Bytes("")));
    ASSERT_TRUE(package.Add("c", Bytes("third!")));
    // Adding a name again replaces the member at the end.
    ASSERT_TRUE(package.Add("a", Bytes("again")));
    EXPECT_EQ(Names(package), (std::vector<std::string>{"b", "c", "a"}));
    // Deleting the first keeps the others' bytes.
    ASSERT_TRUE(package.Delete("b"));
    EXPECT_FALSE(package.Delete("b"));
    ASSERT_TRUE(package.Delete("c"));
    ASSERT_TRUE(package.Add("d", Bytes("fourth")));
    ASSERT_TRUE(package.Save(std::nullopt, std::nullopt));
    for (bool lazy : {false, true}) {
        Package reopened;
        ASSERT_EQ(Package::Open(Path("p.pkg"), "secret-password", lazy, reopened), PackageStatus::Ok);
        EXPECT_EQ(Names(reopened), (std::vector<std::string>{"a", "d"}));
        EXPECT_EQ(Member(reopened, "a"), "again");
        EXPECT_EQ(Member(reopened, "d"), "fourth");
        EXPECT_EQ(Member(reopened, "b"), "<none>");
        // A lazy package never changes.
        EXPECT_EQ(reopened.Add("e", Bytes("x")), !lazy);
    }
    // A password right on the first three bytes only opens, garbled.
    Package garbled;
    ASSERT_EQ(Package::Open(Path("p.pkg"), "secret-XXXXXXXX", false, garbled), PackageStatus::Ok);
    EXPECT_NE(Names(garbled), (std::vector<std::string>{"a", "d"}));
    Package wrong;
    EXPECT_EQ(Package::Open(Path("p.pkg"), "other", false, wrong), PackageStatus::BadMagic);
}

TEST_F(PackageFileTest, SaveToAnotherPathWithAnotherKey) {
    Package package;
    ASSERT_EQ(Package::Open(Path("own.pkg"), "", false, package), PackageStatus::Ok);
    ASSERT_TRUE(package.Add("m", Bytes("member")));
    ASSERT_TRUE(package.Save(Path("copy.pkg"), std::string_view("key")));
    EXPECT_FALSE(package.IsChanged());
    EXPECT_EQ(Read("own.pkg"), "");  // not written
    Package copy;
    ASSERT_EQ(Package::Open(Path("copy.pkg"), "key", false, copy), PackageStatus::Ok);
    EXPECT_EQ(Member(copy, "m"), "member");
}

TEST_F(PackageFileTest, AFailedSaveKeepsTheChangesAndTheOldFile) {
    Package package;
    ASSERT_EQ(Package::Open(Path("keep.pkg"), "", false, package), PackageStatus::Ok);
    ASSERT_TRUE(package.Add("m", Bytes("old")));
    ASSERT_TRUE(package.Save(std::nullopt, std::nullopt));
    const std::string before = Read("keep.pkg");
    ASSERT_TRUE(package.Add("m", Bytes("new")));
    EXPECT_FALSE(package.Save(Path("no/such/dir.pkg"), std::nullopt));
    EXPECT_TRUE(package.IsChanged());
    if (geteuid() != 0) {
        // A directory that cannot be written to: the rename cannot happen.
        ASSERT_EQ(chmod(directory.c_str(), 0555), 0);
        EXPECT_FALSE(package.Save(std::nullopt, std::nullopt));
        EXPECT_TRUE(package.IsChanged());
        ASSERT_EQ(chmod(directory.c_str(), 0755), 0);
        EXPECT_EQ(Read("keep.pkg"), before);
    }
}

TEST_F(PackageFileTest, OnlyAMissingFileOpensAsANewPackage) {
    Package missing;
    EXPECT_EQ(Package::Open(Path("new.pkg"), "", false, missing), PackageStatus::Ok);
    EXPECT_TRUE(missing.Members().empty());
    // A directory of that name exists and cannot be read as a file.
    ASSERT_EQ(mkdir(Path("dir.pkg").c_str(), 0755), 0);
    for (bool lazy : {false, true}) {
        Package package;
        EXPECT_EQ(Package::Open(Path("dir.pkg"), "", lazy, package), PackageStatus::Unreadable) << lazy;
    }
    if (geteuid() != 0) {
        Write("locked.pkg", "PKG\x04\0\0\0");
        ASSERT_EQ(chmod(Path("locked.pkg").c_str(), 0), 0);
        for (bool lazy : {false, true}) {
            Package package;
            EXPECT_EQ(Package::Open(Path("locked.pkg"), "", lazy, package), PackageStatus::Unreadable) << lazy;
        }
    }
}

TEST_F(PackageFileTest, NamesWithTheSeparatorAreRefused) {
    Package package;
    ASSERT_EQ(Package::Open(Path("n.pkg"), "", false, package), PackageStatus::Ok);
    EXPECT_FALSE(package.Add(std::string("a\x01" "b"), Bytes("x")));
    EXPECT_FALSE(package.IsChanged());
    EXPECT_TRUE(package.Members().empty());
}

TEST_F(PackageFileTest, ManyMembersHaveNoLimit) {
    Package package;
    ASSERT_EQ(Package::Open(Path("many.pkg"), "k", false, package), PackageStatus::Ok);
    for (int i = 0; i < 16500; ++i) ASSERT_TRUE(package.Add(std::string("m").append(std::to_string(i)), Bytes(std::to_string(i))));
    ASSERT_TRUE(package.Save(std::nullopt, std::nullopt));
    Package reopened;
    ASSERT_EQ(Package::Open(Path("many.pkg"), "k", true, reopened), PackageStatus::Ok);
    EXPECT_EQ(reopened.Members().size(), 16500u);
    EXPECT_EQ(Member(reopened, "m16499"), "16499");
    EXPECT_EQ(Member(reopened, "m0"), "0");
}

TEST_F(PackageFileTest, TheIndexIsParsedOnlyInsideItsBlock) {
    struct Case {
        std::vector<uint8_t> index;
        uint64_t dataSize;
        std::vector<std::string> names;
        std::vector<bool> readable;
    };
    std::vector<uint8_t> cut = IndexBlock({{"a", 0}, {"b", 2}});
    cut.resize(cut.size() - 2);  // b's offset runs past the block
    const Case cases[] = {
        {IndexBlock({}), 0, {}, {}},
        {IndexBlock({{"a", 0}, {"b", 2}}), 5, {"a", "b"}, {true, true}},
        {cut, 5, {"a"}, {true}},
        // Offsets that go backwards or past the data area.
        {IndexBlock({{"a", 3}, {"b", 1}}), 5, {"a", "b"}, {false, true}},
        {IndexBlock({{"a", 0}, {"b", 9}}), 5, {"a", "b"}, {false, false}},
        {IndexBlock({{"a", 0xFFFFFFFF}}), 5, {"a"}, {false}},
    };
    for (const Case& c : cases) {
        const std::vector<PackageMember> members = ParsePackageIndex(c.index, c.dataSize);
        ASSERT_EQ(members.size(), c.names.size());
        for (size_t m = 0; m < members.size(); ++m) {
            EXPECT_EQ(members[m].name, c.names[m]);
            EXPECT_EQ(members[m].readable, c.readable[m]) << c.names[m];
            if (members[m].readable) {
                EXPECT_LE(uint64_t{members[m].offset} + members[m].size, c.dataSize);
            }
        }
    }
}

// Every member that a decoded file lets be found lies inside its data area.
void ExpectInBounds(std::span<const uint8_t> file, std::string_view password) {
    const PackageContents contents = DecodePackageBytes(file, password);
    if (contents.status != PackageStatus::Ok) return;
    ASSERT_GE(contents.index.size(), 4u);
    ASSERT_EQ(3 + contents.index.size() + contents.data.size(), file.size());
    for (const PackageMember& member : ParsePackageIndex(contents.index, contents.data.size())) {
        if (member.readable) {
            ASSERT_LE(uint64_t{member.offset} + member.size, contents.data.size());
        }
    }
}

TEST_F(PackageFileTest, CutAndFlippedFilesFailOrStayInBounds) {
    Package package;
    ASSERT_EQ(Package::Open(Path("small.pkg"), "pw", false, package), PackageStatus::Ok);
    ASSERT_TRUE(package.Add("one.txt", Bytes("first member")));
    ASSERT_TRUE(package.Add("two", Bytes("2")));
    ASSERT_TRUE(package.Add("three.bin", Bytes(std::string("\0\1\2\3", 4))));
    ASSERT_TRUE(package.Save(std::nullopt, std::nullopt));
    const std::vector<uint8_t> file = Bytes(Read("small.pkg"));
    ASSERT_EQ(DecodePackageBytes(file, "pw").status, PackageStatus::Ok);
    // Every cut: what opens keeps its members inside the data area.
    int failed = 0;
    for (size_t length = 0; length < file.size(); ++length) {
        const std::span<const uint8_t> prefix(file.data(), length);
        if (DecodePackageBytes(prefix, "pw").status != PackageStatus::Ok) ++failed;
        ExpectInBounds(prefix, "pw");
    }
    EXPECT_GE(failed, 7);  // at least every cut inside the header
    EXPECT_EQ(DecodePackageBytes(std::span<const uint8_t>(file.data(), 6), "pw").status, PackageStatus::TooShort);
    // Seeded flips of one to four bytes, through the whole and the lazy reader.
    std::mt19937 random(20261211);
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> mutated = file;
        const int flips = 1 + static_cast<int>(random() % 4);
        for (int f = 0; f < flips; ++f) mutated[random() % mutated.size()] ^= static_cast<uint8_t>(1 + random() % 255);
        ExpectInBounds(mutated, "pw");
        if (round % 100 == 0) {
            Write("mutated.pkg", Text(mutated));
            for (bool lazy : {false, true}) {
                Package opened;
                if (Package::Open(Path("mutated.pkg"), "pw", lazy, opened) != PackageStatus::Ok) continue;
                for (const PackageMember& member : opened.Members())
                    if (const PackageMember* found = opened.Find(member.name)) static_cast<void>(opened.Read(*found));
            }
        }
    }
    // An index length beyond the file, or below its own 4 bytes.
    for (uint32_t length : {3u, 0u, 1000u, 0xFFFFFFFFu}) {
        std::vector<uint8_t> bad = Bytes(std::string("PKG") + std::string(4, '\0') + "data");
        for (int i = 0; i < 4; ++i) bad[3 + i] = static_cast<uint8_t>(length >> (8 * i));
        EXPECT_EQ(DecodePackageBytes(bad, "").status, PackageStatus::BadIndexLength) << length;
    }
}

}  // namespace
}  // namespace qob
