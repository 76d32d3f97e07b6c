// tests/platform/file_dialog_test.cpp
// Headless dialogs (hook, QOB_FILEDIALOG_ANSWER, cancel), the outside dialog
// library under its device and host names, and the shell's memory check.
#include "platform/file_dialog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "platform/temp_directory.h"
#include "platform/text_codec.h"

namespace qob::platform {
namespace {

using testing::ScopedEnvironment;
using testing::TempDirectory;

constexpr char kStandInChoice[] = "\\Chosen\\by library.txt";

std::string ChosenPath(const std::vector<uint16_t>& buffer) {
    return EncodeAnsi(std::span<const uint16_t>(buffer.data(), WideTextLength(buffer.data())));
}

class FileDialog : public ::testing::Test {
protected:
    FileDialog() : buffer(64, 0), title(DecodeAnsi("Open...")) {
        title.push_back(0);
        record = {sizeof(OPENFILENAMEW), nullptr, nullptr, nullptr, 0, buffer.data(),
                  static_cast<uint32_t>(buffer.size()), nullptr, title.data(), OFN_FILEMUSTEXIST, nullptr};
    }
    ~FileDialog() override { SetFileDialogHook(nullptr); }

    std::vector<uint16_t> buffer;
    std::vector<uint16_t> title;
    OPENFILENAMEW record;
    ScopedEnvironment noAnswer{"QOB_FILEDIALOG_ANSWER", nullptr};
};

TEST_F(FileDialog, CancelsWithoutHookOrAnswer) {
    EXPECT_EQ(GetOpenFileNameW(&record), 0);
    EXPECT_EQ(GetSaveFileNameW(&record), 0);
    EXPECT_EQ(buffer[0], 0);
    ScopedEnvironment emptyAnswer("QOB_FILEDIALOG_ANSWER", "");
    EXPECT_EQ(GetOpenFileNameW(&record), 0);
}

TEST_F(FileDialog, AnswersThePathFromTheEnvironment) {
    ScopedEnvironment answer("QOB_FILEDIALOG_ANSWER", "/tmp/d\xc3\xa9j\xc3\xa0.txt");
    ASSERT_EQ(GetSaveFileNameW(&record), 1);
    EXPECT_EQ(buffer[6], 0xE9);  // "é" arrives as one UTF-16 unit
    EXPECT_EQ(ChosenPath(buffer), "/tmp/d\xc3\xa9j\xc3\xa0.txt");
}

TEST_F(FileDialog, TheHookSeesTheRecordAndWinsOverTheEnvironment) {
    ScopedEnvironment answer("QOB_FILEDIALOG_ANSWER", "/from/environment");
    std::vector<FileDialogKind> kinds;
    SetFileDialogHook([&](FileDialogKind kind, const OPENFILENAMEW& seen) -> std::optional<std::string> {
        kinds.push_back(kind);
        EXPECT_EQ(EncodeAnsi(std::span<const uint16_t>(seen.title, WideTextLength(seen.title))), "Open...");
        if (kind == FileDialogKind::Save) return std::nullopt;
        return "\\from\\hook";
    });
    ASSERT_EQ(GetOpenFileNameW(&record), 1);
    EXPECT_EQ(ChosenPath(buffer), "\\from\\hook");
    EXPECT_EQ(GetSaveFileNameW(&record), 0);
    EXPECT_EQ(kinds, (std::vector{FileDialogKind::Open, FileDialogKind::Save}));
}

TEST_F(FileDialog, RefusesAPathThatDoesNotFitTheBuffer) {
    const std::string exact(buffer.size() - 1, 'a');
    const std::string tooLong(buffer.size(), 'a');
    {
        ScopedEnvironment answer("QOB_FILEDIALOG_ANSWER", tooLong.c_str());
        EXPECT_EQ(GetOpenFileNameW(&record), 0);
        EXPECT_EQ(buffer[0], 0);
    }
    ScopedEnvironment answer("QOB_FILEDIALOG_ANSWER", exact.c_str());
    ASSERT_EQ(GetOpenFileNameW(&record), 1);
    EXPECT_EQ(ChosenPath(buffer), exact);
}

TEST_F(FileDialog, OutsideLibraryUnderItsDeviceAndHostNames) {
    for (const char* fileName : {"gsgetfile.dll", "GsGetFile.DLL", "libgsgetfile.so", "gsgetfile.so"}) {
        TempDirectory dir;
        std::filesystem::copy_file(QOB_TEST_GSGETFILE, dir.Join(fileName));
        const std::string libraryPath = TempDirectory::Backslashed(dir.Path()) + "\\gsgetfile.dll";
        EXPECT_EQ(RunOutsideFileDialog(libraryPath, "gsGetOpenFileName", &record), OutsideDialogResult::Chosen)
            << fileName;
        EXPECT_EQ(ChosenPath(buffer), kStandInChoice) << fileName;
    }
}

TEST_F(FileDialog, OutsideLibraryCancelsOnZeroOrAMissingEntry) {
    TempDirectory dir;
    std::filesystem::copy_file(QOB_TEST_GSGETFILE, dir.Join("gsgetfile.dll"));
    const std::string libraryPath = dir.Join("gsgetfile.dll");
    EXPECT_EQ(RunOutsideFileDialog(libraryPath, "gsGetSaveFileName", &record), OutsideDialogResult::Cancelled);
    EXPECT_EQ(RunOutsideFileDialog(libraryPath, "gsNoSuchEntry", &record), OutsideDialogResult::Cancelled);
    EXPECT_EQ(buffer[0], 0);
}

TEST_F(FileDialog, AbsentOrUnloadableLibraryIsNotPresent) {
    TempDirectory dir;
    EXPECT_EQ(RunOutsideFileDialog(dir.Join("gsgetfile.dll"), "gsGetOpenFileName", &record),
              OutsideDialogResult::NotPresent);
    dir.Write("gsgetfile.dll", "MZ not a library for this host");
    EXPECT_EQ(RunOutsideFileDialog(dir.Join("gsgetfile.dll"), "gsGetOpenFileName", &record),
              OutsideDialogResult::NotPresent);
}

TEST(ShellMemory, GrantedUnlessTheHookRefuses) {
    EXPECT_TRUE(QueryShellMemory(0));
    EXPECT_TRUE(QueryShellMemory(uint64_t{1} << 40));
    std::vector<uint64_t> asked;
    SetShellMemoryHook([&](uint64_t bytes) {
        asked.push_back(bytes);
        return bytes < 100;
    });
    EXPECT_TRUE(QueryShellMemory(99));
    EXPECT_FALSE(QueryShellMemory(100));
    SetShellMemoryHook(nullptr);
    EXPECT_TRUE(QueryShellMemory(100));
    EXPECT_EQ(asked, (std::vector<uint64_t>{99, 100}));
}

}  // namespace
}  // namespace qob::platform
