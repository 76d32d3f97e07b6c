// tests/runtime/registry/native_libraries_test.cpp
// Device library names mapped to host shared objects, one handle per name, and
// export resolution, against the sample library built beside the tests.
#include "runtime/registry/native_libraries.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"

namespace qob {
namespace {

const std::string kSampleDirectory = QOB_NATIVE_SAMPLE_DIR;

TEST(NativeLibrariesTest, DeviceNameWithDirectoryMapsToSharedObjectNames) {
    std::vector<std::string> expected = {"/windows/Foo.DLL", "/windows/libFoo.so", "/windows/Foo.so",
                                         "/windows/libfoo.so", "/windows/foo.so"};
    EXPECT_EQ(NativeLibraryCandidates("\\windows\\Foo.DLL"), expected);
}

TEST(NativeLibrariesTest, BareNameIsLookedForInTheApplicationDirectoryFirst) {
    std::string appDirectory = platform::GetApplicationDirectory();
    std::vector<std::string> expected = {appDirectory + "gx.dll", appDirectory + "libgx.so", appDirectory + "gx.so",
                                         "gx.dll", "libgx.so", "gx.so"};
    EXPECT_EQ(NativeLibraryCandidates("gx.dll"), expected);
}

TEST(NativeLibrariesTest, OnlyDllAndExtensionlessNamesGetSharedObjectForms) {
    EXPECT_EQ(NativeLibraryCandidates("/opt/libm.so.6"), std::vector<std::string>{"/opt/libm.so.6"});
    std::vector<std::string> expected = {"/opt/MYLIB", "/opt/libMYLIB.so", "/opt/MYLIB.so", "/opt/libmylib.so",
                                         "/opt/mylib.so"};
    EXPECT_EQ(NativeLibraryCandidates("/opt/MYLIB"), expected);
}

TEST(NativeLibrariesTest, LoadsTheSampleUnderItsDeviceNameInAnyCase) {
    for (std::string name : {"qobsample.dll", "QOBSAMPLE.DLL", "libqobsample.so"}) {
        void* library = LoadNativeLibrary(kSampleDirectory + name);
        ASSERT_NE(library, nullptr) << name;
        auto add = reinterpret_cast<int (*)(int, int)>(ResolveNativeExport(library, "SampleAdd"));
        ASSERT_NE(add, nullptr) << name;
        EXPECT_EQ(add(40, 2), 42);
    }
}

TEST(NativeLibrariesTest, BareDeviceNameIsFoundBesideTheExecutable) {
    void* library = LoadNativeLibrary("QobSample.dll");
    ASSERT_NE(library, nullptr);
    EXPECT_NE(ResolveNativeExport(library, "SampleLengthW"), nullptr);
}

TEST(NativeLibrariesTest, OneHandlePerLibraryName) {
    std::string name = kSampleDirectory + "qobsample.dll";
    void* first = LoadNativeLibrary(name);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(LoadNativeLibrary(name), first);
}

TEST(NativeLibrariesTest, MissingLibraryOrExportGivesNull) {
    EXPECT_EQ(LoadNativeLibrary(kSampleDirectory + "nosuchlibrary.dll"), nullptr);
    EXPECT_EQ(LoadNativeLibrary("nosuchlibrary.dll"), nullptr);
    EXPECT_EQ(LoadNativeLibrary(""), nullptr);
    void* library = LoadNativeLibrary(kSampleDirectory + "qobsample.dll");
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(ResolveNativeExport(library, "SampleMissing"), nullptr);
    EXPECT_EQ(ResolveNativeExport(library, "sampleadd"), nullptr);  // export names keep their case
    EXPECT_EQ(ResolveNativeExport(nullptr, "SampleAdd"), nullptr);
}

}  // namespace
}  // namespace qob
