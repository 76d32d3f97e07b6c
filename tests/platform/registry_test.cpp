// tests/platform/registry_test.cpp
// The registry store: values round-trip, names ignore case, writes are
// atomic, and two processes see each other's values.
#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/temp_directory.h"

namespace qob::platform {
namespace {

using qob::testing::ScopedEnvironment;
using qob::testing::TempDirectory;

std::span<const uint16_t> Units(std::u16string_view text) {
    return {reinterpret_cast<const uint16_t*>(text.data()), text.size()};
}

// REG_SZ data: the text's units and a terminating 0 unit, as bytes.
std::vector<uint8_t> TextData(std::u16string_view text) {
    std::vector<uint8_t> bytes((text.size() + 1) * 2, 0);
    std::memcpy(bytes.data(), text.data(), text.size() * 2);
    return bytes;
}

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

struct Value {
    int32_t result;
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

// Reads a value whatever its size; a value that grows between asking for
// the size and reading is read again.
Value Query(HKEY key, std::u16string_view name) {
    Value value;
    uint32_t size = 0;
    value.result = RegQueryValueExW(key, Units(name), &value.type, nullptr, &size);
    while (value.result == ERROR_SUCCESS) {
        value.data.resize(size);
        value.result = RegQueryValueExW(key, Units(name), &value.type, value.data.data(), &size);
        if (value.result != ERROR_MORE_DATA) break;
        value.result = ERROR_SUCCESS;
    }
    value.data.resize(size);
    return value;
}

class RegistryTest : public ::testing::Test {
protected:
    TempDirectory store;
    ScopedEnvironment location{"QOB_REGISTRY", store.Path().c_str()};

    HKEY Create(HKEY root, std::u16string_view path) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(root, Units(path), &key), ERROR_SUCCESS);
        return key;
    }
};

TEST_F(RegistryTest, ValuesRoundTrip) {
    HKEY key = Create(HKEY_CURRENT_USER, u"QOBDEBUGGER");
    const uint8_t dword[4] = {0x78, 0x56, 0x34, 0x12};
    const uint8_t binary[5] = {0, 1, 0xFF, 0, 7};
    struct Case {
        std::u16string_view name;
        uint32_t type;
        std::vector<uint8_t> data;
    };
    const Case cases[] = {
        {u"IDE", REG_SZ, TextData(u"BREAK|main.qob|12")},
        {u"RUNTIME", REG_SZ, TextData(u"\nBREAK\n\u00e9t\u00e9.qob\n3")},
        {u"Count", REG_DWORD, {dword, dword + 4}},
        {u"Owner", REG_BINARY, {binary, binary + 5}},
        {u"Empty", REG_BINARY, {}},
        {u"", REG_SZ, TextData(u"the default value")},
    };
    for (const Case& c : cases)
        ASSERT_EQ(RegSetValueExW(key, Units(c.name), c.type, c.data), ERROR_SUCCESS);
    for (const Case& c : cases) {
        const Value value = Query(key, c.name);
        ASSERT_EQ(value.result, ERROR_SUCCESS);
        EXPECT_EQ(value.type, c.type);
        EXPECT_EQ(value.data, c.data);
    }
    // A second handle on the same key sees the same values.
    HKEY again = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, Units(u"QOBDEBUGGER"), &again), ERROR_SUCCESS);
    EXPECT_EQ(Query(again, u"IDE").data, TextData(u"BREAK|main.qob|12"));
    RegCloseKey(again);
    RegCloseKey(key);
}

TEST_F(RegistryTest, QueryReportsTheSizeNeeded) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Sizes");
    ASSERT_EQ(RegSetValueExW(key, Units(u"v"), REG_BINARY, Bytes("0123456789")), ERROR_SUCCESS);
    uint8_t buffer[16] = {};
    uint32_t size = 4;
    uint32_t type = 0;
    EXPECT_EQ(RegQueryValueExW(key, Units(u"v"), &type, buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(buffer[0], 0) << "nothing is written into a buffer that is too small";
    size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExW(key, Units(u"v"), nullptr, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size), "0123456789");
    EXPECT_EQ(RegQueryValueExW(key, Units(u"v"), nullptr, buffer, nullptr), ERROR_INVALID_PARAMETER);
    RegCloseKey(key);
}

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepTheirFirstSpelling) {
    uint32_t disposition = 0;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Units(u"ControlPanel\\Owner"), &key, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    ASSERT_EQ(RegSetValueExW(key, Units(u"Notes"), REG_SZ, TextData(u"first")), ERROR_SUCCESS);
    RegCloseKey(key);

    for (std::u16string_view spelling : {u"controlpanel\\OWNER", u"\\ControlPanel\\Owner", u"CONTROLPANEL\\\\owner\\"}) {
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Units(spelling), &key, &disposition), ERROR_SUCCESS);
        EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
        EXPECT_EQ(Query(key, u"NOTES").data, TextData(u"first"));
        RegCloseKey(key);
    }
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, Units(u"controlpanel\\owner"), &key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, Units(u"nOtEs"), REG_SZ, TextData(u"second")), ERROR_SUCCESS);
    EXPECT_EQ(Query(key, u"Notes").data, TextData(u"second"));
    RegCloseKey(key);

    const std::string folder = store.Join("HKEY_CURRENT_USER/ControlPanel/Owner");
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) files.push_back(entry.path().filename());
    EXPECT_EQ(files, std::vector<std::string>{"=Notes"}) << "one value, first spelling, no temporary file left";
}

TEST_F(RegistryTest, MissingKeysAndValuesAreReported) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, Units(u"Nothing\\Here"), &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    key = Create(HKEY_CURRENT_USER, u"Something");
    EXPECT_EQ(Query(key, u"absent").result, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueW(key, Units(u"absent")), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegSetValueExW(key, Units(u"RUNNING"), REG_SZ, TextData(u"1")), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, Units(u"running")), ERROR_SUCCESS);
    EXPECT_EQ(Query(key, u"RUNNING").result, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCreateKeyExW(nullptr, Units(u"x"), &key), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, AKeyDeletedMeanwhileRefusesWrites) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Gone");
    std::filesystem::remove_all(store.Join("HKEY_CURRENT_USER/Gone"));
    EXPECT_EQ(RegSetValueExW(key, Units(u"v"), REG_SZ, TextData(u"lost?")), ERROR_KEY_DELETED);
    EXPECT_EQ(Query(key, u"v").result, ERROR_FILE_NOT_FOUND);
    HKEY child = nullptr;
    EXPECT_EQ(RegCreateKeyExW(key, Units(u"child"), &child), ERROR_KEY_DELETED);
    RegCloseKey(key);
}

TEST_F(RegistryTest, RootKeysAreSeparate) {
    HKEY user = Create(HKEY_CURRENT_USER, u"Same");
    HKEY machine = Create(HKEY_LOCAL_MACHINE, u"Same");
    ASSERT_EQ(RegSetValueExW(user, Units(u"v"), REG_SZ, TextData(u"user")), ERROR_SUCCESS);
    EXPECT_EQ(Query(machine, u"v").result, ERROR_FILE_NOT_FOUND);
    RegCloseKey(user);
    RegCloseKey(machine);
    EXPECT_TRUE(std::filesystem::is_directory(store.Join("HKEY_LOCAL_MACHINE/Same")));
}

TEST_F(RegistryTest, AnyNameSurvivesAndSubKeysEnumerate) {
    HKEY key = Create(HKEY_CLASSES_ROOT, u"CLSID");
    const std::u16string_view names[] = {u"text/plain", u"..", u".hidden", u"=x", u"100%", u"\u00e9t\u00e9", u"Zeta",
                                         u"alpha", u"a b"};
    for (std::u16string_view name : names) {
        HKEY sub = nullptr;
        ASSERT_EQ(RegCreateKeyExW(key, Units(name), &sub), ERROR_SUCCESS);
        RegCloseKey(sub);
        // A value may share its name with a sub-key.
        ASSERT_EQ(RegSetValueExW(key, Units(name), REG_SZ, TextData(name)), ERROR_SUCCESS);
    }
    for (std::u16string_view name : names) EXPECT_EQ(Query(key, name).data, TextData(name));

    std::vector<std::u16string> listed;
    uint16_t buffer[260];
    for (uint32_t index = 0;; ++index) {
        uint32_t length = 260;
        const int32_t result = RegEnumKeyExW(key, index, buffer, &length);
        if (result == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(result, ERROR_SUCCESS);
        ASSERT_EQ(buffer[length], 0);
        listed.emplace_back(reinterpret_cast<const char16_t*>(buffer), length);
    }
    const std::vector<std::u16string> expected = {u"..",     u".hidden", u"100%",  u"=x",         u"a b",
                                                  u"alpha", u"text/plain", u"Zeta", u"\u00e9t\u00e9"};
    EXPECT_EQ(listed, expected);

    uint32_t tooShort = 4;
    EXPECT_EQ(RegEnumKeyExW(key, 6, buffer, &tooShort), ERROR_MORE_DATA) << "text/plain needs 11 units";
    RegCloseKey(key);
}

TEST_F(RegistryTest, TheStoreDefaultsToTheHomeFolder) {
    TempDirectory home;
    ScopedEnvironment noStore("QOB_REGISTRY", nullptr);
    ScopedEnvironment homeFolder("HOME", home.Path().c_str());
    HKEY key = Create(HKEY_CURRENT_USER, u"Default");
    ASSERT_EQ(RegSetValueExW(key, Units(u"v"), REG_DWORD, Bytes("abcd")), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_TRUE(std::filesystem::is_regular_file(home.Join(".qob/registry/HKEY_CURRENT_USER/Default/=v")));
}

// Runs child in a forked process; returns its exit code (or -1).
template <typename Child>
int RunInChildProcess(Child child) {
    const pid_t pid = fork();
    if (pid == 0) _exit(child());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST_F(RegistryTest, TwoProcessesSeeEachOthersWrites) {
    HKEY key = Create(HKEY_CURRENT_USER, u"QOBDEBUGGER");
    ASSERT_EQ(RegSetValueExW(key, Units(u"IDE"), REG_SZ, TextData(u"STOP")), ERROR_SUCCESS);
    const int childResult = RunInChildProcess([] {
        HKEY own = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, Units(u"qobdebugger"), &own) != ERROR_SUCCESS) return 1;
        if (Query(own, u"IDE").data != TextData(u"STOP")) return 2;
        if (RegSetValueExW(own, Units(u"RUNTIME"), REG_SZ, TextData(u"\nBREAK\nx.qob\n7")) != ERROR_SUCCESS) return 3;
        if (RegDeleteValueW(own, Units(u"IDE")) != ERROR_SUCCESS) return 4;
        return 0;
    });
    ASSERT_EQ(childResult, 0);
    EXPECT_EQ(Query(key, u"RUNTIME").data, TextData(u"\nBREAK\nx.qob\n7"));
    EXPECT_EQ(Query(key, u"IDE").result, ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

// One process rewrites a value with two contents of different lengths while
// the other reads it: every read must give one whole content.
TEST_F(RegistryTest, ReadersNeverSeeAHalfWrittenValue) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Atomic");
    const std::vector<uint8_t> shortValue(1000, 'a');
    const std::vector<uint8_t> longValue(50000, 'b');
    ASSERT_EQ(RegSetValueExW(key, Units(u"v"), REG_BINARY, shortValue), ERROR_SUCCESS);

    const pid_t writer = fork();
    if (writer == 0) {
        for (int i = 0; i < 400; ++i)
            if (RegSetValueExW(key, Units(u"v"), REG_BINARY, i % 2 ? shortValue : longValue) != ERROR_SUCCESS) _exit(1);
        _exit(0);
    }
    ASSERT_GT(writer, 0);
    int reads = 0, torn = 0, status = 0;
    bool writerDone = false;
    while (!writerDone || reads == 0) {
        writerDone = writerDone || waitpid(writer, &status, WNOHANG) == writer;
        const Value value = Query(key, u"v");
        ++reads;
        if (value.result != ERROR_SUCCESS || (value.data != shortValue && value.data != longValue)) ++torn;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(torn, 0) << "of " << reads << " reads";
    EXPECT_EQ(Query(key, u"v").data, shortValue) << "the last write wins";
    RegCloseKey(key);
}

}  // namespace
}  // namespace qob::platform
