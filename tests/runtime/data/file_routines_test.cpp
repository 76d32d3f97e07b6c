// tests/runtime/data/file_routines_test.cpp
// The whole-file loaders on real files (offsets, counts, refusals, bad
// counts), path splitting, existence tests and the open and save dialogs.
#include "runtime/data/file_routines.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>

#include "platform/file_dialog.h"
#include "platform/memory.h"
#include "platform/temp_directory.h"
#include "platform/text_codec.h"

namespace qob {
namespace {

using testing::ScopedEnvironment;
using testing::TempDirectory;

std::string Narrow(const uint16_t* text) {
    return text ? platform::EncodeAnsi(std::span<const uint16_t>(text, platform::WideTextLength(text))) : "(null)";
}

// Records every question put to the shell and answers with `grant`.
class ShellRecorder {
public:
    explicit ShellRecorder(bool grant) {
        platform::SetShellMemoryHook([this, grant](uint64_t bytes) {
            asked.push_back(bytes);
            return grant;
        });
    }
    ~ShellRecorder() { platform::SetShellMemoryHook(nullptr); }
    std::vector<uint64_t> asked;
};

TEST(LoadFileBuffer, OffsetsAndCounts) {
    TempDirectory dir;
    const std::string path = dir.Write("Digits.txt", "0123456789");
    struct Case {
        int offset, count, size;
        const char* bytes;  // the first `size` bytes; the rest up to [size] must be zero
    };
    const Case kCases[] = {
        {-1, -1, 10, "0123456789"},
        {3, -1, 10, "3456789"},  // whole length although reading starts at 3
        {2, 4, 4, "2345"},
        {8, 5, 5, "89"},
        {-1, 0, 0, ""},
        {20, 3, 3, ""},
        {0, 10, 10, "0123456789"},
    };
    for (const Case& c : kCases) {
        int size = 12345;
        char* buffer = LoadFileBuffer(path, size, c.offset, c.count);
        ASSERT_NE(buffer, nullptr) << c.offset << "," << c.count;
        EXPECT_EQ(size, c.size) << c.offset << "," << c.count;
        EXPECT_EQ(platform::GetBlockSize(buffer), static_cast<size_t>(c.size) + 1);
        const size_t filled = std::strlen(c.bytes);
        EXPECT_EQ(std::string(buffer, filled), c.bytes) << c.offset << "," << c.count;
        for (int i = static_cast<int>(filled); i <= c.size; ++i)
            EXPECT_EQ(buffer[i], 0) << c.offset << "," << c.count << " at " << i;
        platform::FreeBlock(buffer);
    }
}

TEST(LoadFileBuffer, EmptyFileGivesOneZeroByte) {
    TempDirectory dir;
    const std::string path = dir.Write("empty.bin", "");
    int size = -7;
    char* buffer = LoadFileBuffer(path, size, -1, -1);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(platform::GetBlockSize(buffer), 1u);
    EXPECT_EQ(buffer[0], 0);
    platform::FreeBlock(buffer);
}

TEST(LoadFileBuffer, FindsTheFileWithoutRegardToCase) {
    TempDirectory dir;
    dir.Write("Src/Main.QOB", "PROC MAIN");
    int size = 0;
    char* buffer = LoadFileBuffer(TempDirectory::Backslashed(dir.Path()) + "\\SRC\\main.qob", size, -1, -1);
    ASSERT_NE(buffer, nullptr);
    EXPECT_STREQ(buffer, "PROC MAIN");
    EXPECT_EQ(size, 9);
    platform::FreeBlock(buffer);
}

TEST(LoadFileBuffer, UnopenableFileGivesSizeMinusOne) {
    TempDirectory dir;
    dir.MakeDirectory("folder");
    for (const std::string& path : {dir.Join("none.txt"), dir.Join("folder")}) {
        int size = 0;
        EXPECT_EQ(LoadFileBuffer(path, size, -1, -1), nullptr) << path;
        EXPECT_EQ(size, -1) << path;
        EXPECT_EQ(LoadWideFileBuffer(path, size, -1, -1), nullptr) << path;
        EXPECT_EQ(size, -1) << path;
    }
}

TEST(LoadFileBuffer, BadCountOrOffsetAllocatesNothing) {
    TempDirectory dir;
    const std::string path = dir.Write("data", "abcdef");
    struct Case {
        int offset, count;
    };
    constexpr Case kCases[] = {{-1, -2}, {-1, INT_MIN}, {-1, INT_MAX}, {0, INT_MAX}, {-2, 3}, {INT_MIN, -1}};
    ShellRecorder shell(true);
    for (const Case& c : kCases) {
        int size = 0;
        EXPECT_EQ(LoadFileBuffer(path, size, c.offset, c.count), nullptr) << c.offset << "," << c.count;
        EXPECT_EQ(size, -1) << c.offset << "," << c.count;
        EXPECT_EQ(LoadWideFileBuffer(path, size, c.offset, c.count), nullptr) << c.offset << "," << c.count;
        EXPECT_EQ(size, -1) << c.offset << "," << c.count;
    }
    EXPECT_TRUE(shell.asked.empty());
}

TEST(LoadFileBuffer, ShellRefusalGivesSizeZero) {
    TempDirectory dir;
    const std::string path = dir.Write("ten", "0123456789");
    ShellRecorder shell(false);
    int size = -1;
    EXPECT_EQ(LoadFileBuffer(path, size, -1, -1), nullptr);
    EXPECT_EQ(size, 0);
    size = -1;
    EXPECT_EQ(LoadWideFileBuffer(path, size, -1, -1), nullptr);
    EXPECT_EQ(size, 0);
    // The shell is asked for count + 1: bytes, then 16-bit units.
    EXPECT_EQ(shell.asked, (std::vector<uint64_t>{11, 6}));
}

TEST(LoadWideFileBuffer, CountsInUnits) {
    TempDirectory dir;
    const std::string path = dir.Write("wide", std::string("a\0b\0c\0d\0e\0X", 11));  // odd last byte
    int size = 0;
    uint16_t* whole = LoadWideFileBuffer(path, size, -1, -1);
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(size, 5);  // 11 bytes halved, rounded down
    EXPECT_EQ(platform::GetBlockSize(whole), 12u);
    EXPECT_EQ(Narrow(whole), "abcde");
    platform::FreeBlock(whole);

    uint16_t* part = LoadWideFileBuffer(path, size, 1, 2);
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(size, 2);
    EXPECT_EQ(Narrow(part), "bc");
    EXPECT_EQ(part[2], 0);
    platform::FreeBlock(part);

    uint16_t* tail = LoadWideFileBuffer(path, size, 4, -1);
    ASSERT_NE(tail, nullptr);
    EXPECT_EQ(size, 5);
    EXPECT_EQ(tail[0], 'e');
    for (int i = 2; i <= 5; ++i) EXPECT_EQ(tail[i], 0) << i;
    platform::FreeBlock(tail);
}

TEST(GetFileSizeByName, LengthOrZero) {
    TempDirectory dir;
    dir.Write("Five.bin", "12345");
    dir.MakeDirectory("folder");
    EXPECT_EQ(GetFileSizeByName(dir.Join("FIVE.BIN")), 5);
    EXPECT_EQ(GetFileSizeByName(dir.Join("none")), 0);
    EXPECT_EQ(GetFileSizeByName(dir.Join("folder")), 0);
}

TEST(FileExists, FilesDirectoriesAndWildcards) {
    TempDirectory dir;
    dir.Write("Folder/Prog.qob", "");
    const std::string base = TempDirectory::Backslashed(dir.Path()) + "\\";
    struct Case {
        const char* relative;
        bool exists;
    };
    constexpr Case kCases[] = {
        {"folder", true}, {"FOLDER\\prog.QOB", true}, {"folder\\*.qob", true}, {"folder\\*.qoc", false},
        {"none", false},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(FileExists(base + c.relative), c.exists) << c.relative;
        EXPECT_EQ(DirectoryExists(base + c.relative), c.exists) << c.relative;
    }
}

TEST(PathSplitting, NamePathDriveAndExtension) {
    struct Case {
        const char* path;
        const char* name;
        const char* directory;
        const char* drive;
        const char* extension;  // nullptr: none
    };
    constexpr Case kCases[] = {
        {"\\Storage Card\\Games\\demo.qob", "demo.qob", "\\Storage Card\\Games\\", "\\Storage Card\\", ".qob"},
        {"demo.qob", "demo.qob", "", "demo.qob", ".qob"},
        {"\\Temp\\", "", "\\Temp\\", "\\Temp\\", nullptr},
        {"\\dir.d\\file", "file", "\\dir.d\\", "\\dir.d\\", ".d\\file"},
        {"/home/user/a.b.c", "a.b.c", "/home/user/", "/home/", ".c"},
        {"lib/x\\y", "y", "lib/x\\", "lib/x\\", nullptr},
        {"\\file.", "file.", "\\", "\\file.", "."},
        {"", "", "", "", nullptr},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(ExtractFileName(c.path), c.name) << c.path;
        EXPECT_EQ(ExtractFilePath(c.path), c.directory) << c.path;
        EXPECT_EQ(ExtractFileDrive(c.path), c.drive) << c.path;
        EXPECT_EQ(ExtractFileExt(c.path), c.extension ? std::optional<std::string>(c.extension) : std::nullopt)
            << c.path;
    }
}

TEST(AppDirectory, RootOverrideAndRelativePaths) {
    ScopedEnvironment root("QOB_ROOT", "/opt/qob");
    EXPECT_EQ(GetAppDirectory(), "/opt/qob/");
    EXPECT_EQ(ResolveAppRelativePath("Lib\\util.qob"), "/opt/qob/Lib\\util.qob");
    EXPECT_EQ(ResolveAppRelativePath("\\abs\\util.qob"), "\\abs\\util.qob");
    EXPECT_EQ(ResolveAppRelativePath("/abs/util.qob"), "/abs/util.qob");

    SetApplicationDirectory("/set/by/start-up/");
    EXPECT_EQ(ApplicationDirectory(), "/set/by/start-up/");
    SetApplicationDirectory("");
    EXPECT_EQ(ApplicationDirectory(), "/opt/qob/");  // taken on first use when not set
    SetApplicationDirectory("");
}

// Dialog tests run with an application directory of their own, so that an
// outside library is present only when a test puts one there.
class Dialogs : public ::testing::Test {
protected:
    Dialogs() { SetApplicationDirectory(appDir.Path() + "/"); }
    ~Dialogs() override {
        platform::SetFileDialogHook(nullptr);
        SetApplicationDirectory("");
    }

    // Installs a hook that records what each dialog was filled with and
    // answers `answer`.
    void Answer(std::optional<std::string> answer) {
        platform::SetFileDialogHook([this, answer](platform::FileDialogKind kind, const platform::OPENFILENAMEW& r) {
            Seen s{kind, r.structSize, r.instance, r.filterIndex, r.maxFile, r.flags, Narrow(r.title),
                   Narrow(r.initialDirectory), Narrow(r.defaultExtension), {}};
            const uint16_t* unit = r.filter;
            while (unit[0] != 0 || unit[1] != 0) s.filter.push_back(*unit++);
            s.filter.push_back(0);
            seen.push_back(s);
            return answer;
        });
    }

    struct Seen {
        platform::FileDialogKind kind;
        uint32_t structSize;
        void* instance;
        uint32_t filterIndex, maxFile, flags;
        std::string title, initialDirectory, defaultExtension;
        std::vector<uint16_t> filter;  // up to its first double zero, one zero kept
    };
    TempDirectory appDir;
    std::vector<Seen> seen;
    ScopedEnvironment noAnswer{"QOB_FILEDIALOG_ANSWER", nullptr};
};

TEST_F(Dialogs, OpenFillsTheRecordAndRemembersTheDirectory) {
    int instance = 0;
    Answer("\\My Documents\\notes.txt");
    EXPECT_EQ(ShowOpenFileDialog(&instance, "Text|*.txt|All|*.*|", "\\Start"), "\\My Documents\\notes.txt");
    ASSERT_EQ(seen.size(), 1u);
    const Seen& s = seen[0];
    EXPECT_EQ(s.kind, platform::FileDialogKind::Open);
    EXPECT_EQ(s.structSize, sizeof(platform::OPENFILENAMEW));
    EXPECT_EQ(s.instance, &instance);
    EXPECT_EQ(s.filterIndex, 0u);
    EXPECT_GE(s.maxFile, static_cast<uint32_t>(PATH_MAX));
    EXPECT_EQ(s.flags, 0x1800u);
    EXPECT_EQ(s.title, "Open...");
    EXPECT_EQ(s.initialDirectory, "\\Start");
    EXPECT_EQ(s.defaultExtension, "(null)");
    std::vector<uint16_t> expectedFilter = platform::DecodeAnsi(std::string("Text\0*.txt\0All\0*.*\0", 19));
    EXPECT_EQ(s.filter, expectedFilter);
    EXPECT_EQ(Narrow(LastDialogDirectory()->data()), "\\My Documents\\");

    // Without an initial directory the next dialog starts where the last one ended.
    EXPECT_EQ(ShowSaveFileDialog(nullptr, "Text|*.txt", std::nullopt), "\\My Documents\\notes.txt");
    EXPECT_EQ(seen[1].initialDirectory, "\\My Documents\\");
}

TEST_F(Dialogs, CancelReturnsNothingAndKeepsTheLastDirectory) {
    Answer("/first/choice.txt");
    ASSERT_TRUE(ShowOpenFileDialog(nullptr, "All|*.*", std::nullopt));
    Answer(std::nullopt);
    EXPECT_EQ(ShowOpenFileDialog(nullptr, "All|*.*", "/elsewhere/"), std::nullopt);
    EXPECT_EQ(ShowSaveFileDialog(nullptr, "All|*.*", "/elsewhere/"), std::nullopt);
    EXPECT_EQ(Narrow(LastDialogDirectory()->data()), "/first/");
}

TEST_F(Dialogs, EnvironmentAnswerWithoutHook) {
    ScopedEnvironment answer("QOB_FILEDIALOG_ANSWER", "/tmp/chosen.qob");
    EXPECT_EQ(ShowOpenFileDialog(nullptr, "QOB|*.qob", std::nullopt), "/tmp/chosen.qob");
}

TEST_F(Dialogs, SaveTakesTheDefaultExtensionOnlyWhenSafelyPresent) {
    struct Case {
        const char* filter;
        const char* extension;
    };
    constexpr Case kCases[] = {
        {"Text files|*.txt|", "txt"},
        {"QOB|*.qob", "qob"},       // the three letters end the filter
        {"All|*.*|", "(null)"},     // first letter "*"
        {"Short|*.t", "(null)"},    // would run past the end
        {"Short|*.tx", "(null)"},
        {"Odd|*.|x|", "(null)"},    // a "|" among the three
        {"no bar at all", "(null)"},
        {"", "(null)"},
        {"|ab|cd", "(null)"},
        {"|abcde", "cde"},
    };
    Answer(std::nullopt);
    for (const Case& c : kCases) {
        EXPECT_EQ(ShowSaveFileDialog(nullptr, c.filter, std::nullopt), std::nullopt);
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.back().kind, platform::FileDialogKind::Save);
        EXPECT_EQ(seen.back().title, "Save As...");
        EXPECT_EQ(seen.back().flags, 2u);
        EXPECT_EQ(seen.back().defaultExtension, c.extension) << c.filter;
    }
}

TEST_F(Dialogs, OutsideLibraryReplacesTheHostDialog) {
    std::filesystem::copy_file(QOB_TEST_GSGETFILE, appDir.Join("gsgetfile.dll"));
    Answer("/from/host/dialog");
    EXPECT_EQ(ShowOpenFileDialog(nullptr, "All|*.*", std::nullopt), "\\Chosen\\by library.txt");
    EXPECT_EQ(Narrow(LastDialogDirectory()->data()), "\\Chosen\\");
    // Its save entry answers 0: cancelled, and the host dialog is not shown.
    EXPECT_EQ(ShowSaveFileDialog(nullptr, "All|*.*", std::nullopt), std::nullopt);
    EXPECT_TRUE(seen.empty());
}

}  // namespace
}  // namespace qob
