// tests/platform/files_test.cpp
// Path resolution without regard to case, the file helpers, wildcard
// existence tests and the application directory, on real temporary files.
#include "platform/files.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/temp_directory.h"

namespace qob::platform {
namespace {

using testing::TempDirectory;
using testing::ScopedEnvironment;

TEST(Paths, SeparatorsAndAbsolutePaths) {
    struct Case {
        const char* path;
        bool absolute;
        const char* host;
    };
    constexpr Case kCases[] = {
        {"\\Windows\\file.txt", true, "/Windows/file.txt"},
        {"/tmp/a\\b", true, "/tmp/a/b"},
        {"Lib\\util.qob", false, "Lib/util.qob"},
        {"", false, ""},
        {"name", false, "name"},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(IsAbsolutePath(c.path), c.absolute) << c.path;
        EXPECT_EQ(ToHostPath(c.path), c.host) << c.path;
    }
}

TEST(ResolvePath, FindsNestedComponentsWithoutRegardToCase) {
    TempDirectory dir;
    const std::string real = dir.Write("Dir/Sub Folder/File.TXT", "x");
    const std::string asked = TempDirectory::Backslashed(dir.Path()) + "\\DIR\\sub folder\\file.txt";
    EXPECT_EQ(ResolvePath(asked), real);
    EXPECT_EQ(ResolvePath(dir.Join("dir/SUB FOLDER/FILE.txt")), real);
    EXPECT_EQ(ResolvePath(dir.Join("dir/sub folder/")), dir.Join("Dir/Sub Folder/"));
    EXPECT_EQ(ResolvePath(real), real);
}

TEST(ResolvePath, MissingComponentGivesNothing) {
    TempDirectory dir;
    dir.Write("Dir/File.txt", "x");
    EXPECT_FALSE(ResolvePath(dir.Join("dir/other.txt")));
    EXPECT_FALSE(ResolvePath(dir.Join("nodir/file.txt")));
    EXPECT_FALSE(ResolvePath(dir.Join("dir/file.txt/more")));
    EXPECT_FALSE(ResolvePath(""));
}

TEST(ResolvePath, PrefersTheNameAsWrittenThenTheFirstInByteOrder) {
    TempDirectory dir;
    dir.Write("File", "1");
    dir.Write("FILE", "2");
    dir.Write("file", "3");
    EXPECT_EQ(ResolvePath(dir.Join("File")), dir.Join("File"));
    EXPECT_EQ(ResolvePath(dir.Join("fILE")), dir.Join("FILE"));
}

TEST(ResolvePath, RelativePathsStartAtTheWorkingDirectory) {
    TempDirectory dir;
    const std::string real = dir.Write("Sub/Name.qob", "x");
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    const auto resolved = ResolvePath("SUB\\name.QOB");
    std::filesystem::current_path(previous);
    EXPECT_EQ(resolved, "Sub/Name.qob");
}

TEST(ResolvePathForWrite, KeepsANewNameAndReusesAnExistingOne) {
    TempDirectory dir;
    dir.Write("Out/Existing.Txt", "x");
    EXPECT_EQ(ResolvePathForWrite(dir.Join("OUT/New.txt")), dir.Join("Out/New.txt"));
    EXPECT_EQ(ResolvePathForWrite(dir.Join("out/EXISTING.TXT")), dir.Join("Out/Existing.Txt"));
    EXPECT_FALSE(ResolvePathForWrite(dir.Join("missing/New.txt")));
}

TEST(OpenFile, ReadsAnyCaseAndWritesBesideTheRealDirectory) {
    TempDirectory dir;
    dir.Write("Data/In.bin", "abc");
    std::FILE* in = OpenFile(dir.Join("DATA/in.BIN"), "rb");
    ASSERT_NE(in, nullptr);
    char buffer[4] = {};
    EXPECT_EQ(std::fread(buffer, 1, 3, in), 3u);
    std::fclose(in);
    EXPECT_STREQ(buffer, "abc");

    std::FILE* out = OpenFile(dir.Join("data/Out.bin"), "wb");
    ASSERT_NE(out, nullptr);
    std::fclose(out);
    EXPECT_TRUE(std::filesystem::exists(dir.Join("Data/Out.bin")));

    errno = 0;
    EXPECT_EQ(OpenFile(dir.Join("data/none.bin"), "rb"), nullptr);
    EXPECT_EQ(errno, ENOENT);
}

TEST(OpenFile, RefusesADirectory) {
    TempDirectory dir;
    dir.MakeDirectory("Folder");
    errno = 0;
    EXPECT_EQ(OpenFile(dir.Join("folder"), "rb"), nullptr);
    EXPECT_EQ(errno, EISDIR);
}

TEST(WriteFileBytes, ReplacesTheExistingFileOfAnyCaseAndLeavesNoTemporary) {
    TempDirectory dir;
    dir.Write("Prog.QOC", "old content");
    const std::string bytes("new\0bytes", 9);
    ASSERT_TRUE(WriteFileBytes(TempDirectory::Backslashed(dir.Join("prog.qoc")), bytes));
    EXPECT_EQ(ReadFileBytes(dir.Join("PROG.qoc")), bytes);
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        EXPECT_EQ(entry.path().filename(), "Prog.QOC");
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(WriteFileBytes, FailsWithoutTouchingAnythingWhenTheDirectoryIsMissing) {
    TempDirectory dir;
    EXPECT_FALSE(WriteFileBytes(dir.Join("missing/file"), "x"));
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(ReadFileBytes, EmptyFileAndMissingFile) {
    TempDirectory dir;
    dir.Write("empty", "");
    EXPECT_EQ(ReadFileBytes(dir.Join("EMPTY")), "");
    EXPECT_FALSE(ReadFileBytes(dir.Join("none")));
}

// A regular file comes back whole in one read of its size; a file whose
// size the system does not know (0 for the kernel's own files) is read to
// its end all the same.
TEST(ReadFileBytes, LongFilesAndFilesOfUnknownSize) {
    TempDirectory dir;
    std::string longText(300001, '\0');
    for (size_t i = 0; i < longText.size(); ++i) longText[i] = static_cast<char>(i * 7 % 251);
    EXPECT_EQ(ReadFileBytes(dir.Write("long.bin", longText)), longText);
    const std::optional<std::string> status = ReadFileBytes("/proc/self/status");
    ASSERT_TRUE(status.has_value());
    EXPECT_NE(status->find("Name:"), std::string::npos);
}

TEST(FileHelpers, KindSizeTimeDeleteAndRename) {
    TempDirectory dir;
    const std::string file = dir.Write("Folder/Five.dat", "12345");
    EXPECT_EQ(GetPathKind(dir.Join("FOLDER")), PathKind::Directory);
    EXPECT_EQ(GetPathKind(dir.Join("folder/five.DAT")), PathKind::File);
    EXPECT_EQ(GetPathKind(dir.Join("folder/six.dat")), PathKind::Missing);

    EXPECT_EQ(GetFileSize(dir.Join("folder/FIVE.dat")), 5);
    EXPECT_FALSE(GetFileSize(dir.Join("folder")));
    EXPECT_FALSE(GetFileSize(dir.Join("none")));

    const timespec times[2] = {{1000, 0}, {1234567890, 123}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    EXPECT_EQ(GetFileWriteTime(dir.Join("FOLDER/five.dat")), 1234567890LL * 1000000000 + 123);
    EXPECT_FALSE(GetFileWriteTime(dir.Join("none")));

    ASSERT_TRUE(RenameFile(dir.Join("folder/five.dat"), dir.Join("FOLDER/Renamed.dat")));
    EXPECT_TRUE(std::filesystem::exists(dir.Join("Folder/Renamed.dat")));
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_FALSE(RenameFile(dir.Join("folder/five.dat"), dir.Join("x")));

    EXPECT_TRUE(DeleteFile(dir.Join("folder/RENAMED.DAT")));
    EXPECT_FALSE(std::filesystem::exists(dir.Join("Folder/Renamed.dat")));
    EXPECT_FALSE(DeleteFile(dir.Join("folder/renamed.dat")));
    EXPECT_FALSE(DeleteFile(dir.Join("folder")));
}

TEST(FileExists, WildcardsMatchTheLastNameWithoutRegardToCase) {
    TempDirectory dir;
    dir.Write("Docs/Report.TXT", "");
    dir.Write("Docs/noext", "");
    dir.Write("Docs/[x].bin", "");
    dir.MakeDirectory("Docs/Inner");
    dir.MakeDirectory("Empty");
    struct Case {
        const char* relative;
        bool exists;
    };
    constexpr Case kCases[] = {
        {"docs\\*.txt", true},       {"DOCS\\report.???", true},  {"docs\\r?port.txt", true},
        {"docs\\*.doc", false},      {"docs\\*.*", true},         {"empty\\*.*", false},
        {"empty\\*", false},         {"docs\\NOEXT", true},       {"docs\\[x].BIN", true},
        {"docs\\x.bin", false},      {"docs\\in*", true},         {"nodir\\*", false},
        {"docs\\report.txt\\*", false}, {"docs", true},           {"docs\\", true},
        {"docs\\report.txt", true},  {"docs\\report.tx", false},
    };
    const std::string base = TempDirectory::Backslashed(dir.Path()) + "\\";
    for (const Case& c : kCases) EXPECT_EQ(FileExists(base + c.relative), c.exists) << c.relative;
    EXPECT_FALSE(FileExists(""));
}

TEST(GetApplicationDirectory, IsTheExecutablesDirectoryWithATrailingSeparator) {
    ScopedEnvironment noRoot("QOB_ROOT", nullptr);
    const std::string directory = GetApplicationDirectory();
    const std::filesystem::path exe = std::filesystem::canonical("/proc/self/exe");
    EXPECT_EQ(directory, exe.parent_path().string() + "/");
    EXPECT_TRUE(std::filesystem::exists(directory + exe.filename().string()));
}

TEST(GetApplicationDirectory, QobRootOverridesIt) {
    struct Case {
        const char* root;
        const char* expected;
    };
    constexpr Case kCases[] = {
        {"/opt/qob", "/opt/qob/"},
        {"/opt/qob/", "/opt/qob/"},
        {"\\Program Files\\QOB\\", "\\Program Files\\QOB\\"},
    };
    for (const Case& c : kCases) {
        ScopedEnvironment root("QOB_ROOT", c.root);
        EXPECT_EQ(GetApplicationDirectory(), c.expected) << c.root;
    }
    ScopedEnvironment emptyRoot("QOB_ROOT", "");
    EXPECT_NE(GetApplicationDirectory(), "/");
    EXPECT_EQ(GetApplicationDirectory().back(), '/');
}

}  // namespace
}  // namespace qob::platform
