// tests/builtins/device/device_builtins_test.cpp
// device facts from the configuration, the serial of the device identifier,
// the owner texts of the registry store, and reset under the test hook.

#include "builtins/device/device_builtins.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "builtins/operators/operator_fixture.h"
#include "platform/device_info.h"
#include "platform/registry.h"
#include "platform/text_codec.h"
#include "runtime/values/list_values.h"

namespace qob::testing {
namespace {

// Sets an environment variable for the test's duration.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() {
        if (old_) setenv(name_, old_->c_str(), 1);
        else unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

class DeviceBuiltinsTest : public OperatorTest {
protected:
    void SetUp() override {
        OperatorTest::SetUp();
        char pattern[] = "/tmp/qob_device_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
        registry.emplace("QOB_REGISTRY", directory);
    }
    void TearDown() override {
        platform::SetRebootHook(nullptr);
        registry.reset();
        const std::string command = "rm -rf '" + directory + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
        OperatorTest::TearDown();
    }
    std::string Run(void (*handler)(), const std::vector<std::string>& arguments) {
        for (const std::string& argument : arguments) Push(argument);
        handler();
        EXPECT_EQ(StackDepth(), 1);
        return PopDescription();
    }
    // The list's texts in order, and the position of its current item.
    static std::vector<std::string> Items(VariableRecord* list, int* current) {
        std::vector<std::string> items;
        *current = -1;
        for (ListNode* node = ListFirst(list->currentNode); node; node = node->next) {
            if (node == list->currentNode) *current = static_cast<int>(items.size());
            items.emplace_back(node->data ? node->data : "");
        }
        return items;
    }

    std::string directory;
    std::optional<ScopedVariable> registry;
};

TEST_F(DeviceBuiltinsTest, DeviceGivesTheConfiguredFactsAndZeroOutside) {
    ScopedVariable name("QOB_DEVICE_PROCESSOR_NAME", "Test CPU");
    ScopedVariable clock("QOB_DEVICE_CLOCK", "400");
    ScopedVariable vendor("QOB_DEVICE_VENDOR", "Maker");
    ScopedVariable platformType("QOB_DEVICE_PLATFORM_TYPE", "PocketPC");
    ScopedVariable oem("QOB_DEVICE_OEM_INFO", "Handheld 1");
    ScopedVariable set("QOB_DEVICE_INSTRUCTION_SET", "7");
    const std::pair<std::string, std::string> cases[] = {
        {"n:0", "n:1"},           {"n:3", "t:Test CPU"},      {"n:6", "t:Maker"},   {"n:7", "n:7"},
        {"n:8", "n:400"},         {"n:9", "t:PocketPC"},      {"n:10", "t:Handheld 1"},
        {"n:5", "t:"},            {"n:11", "n:0"},            {"n:-1", "n:0"},      {"t:8", "n:400"},
    };
    for (const auto& [index, expected] : cases) EXPECT_EQ(Run(Builtin_device, {index}), expected) << index;
}

TEST_F(DeviceBuiltinsTest, SerialTakesItsCharactersFromTheIdentifier) {
    std::string hex;
    for (int i = 0; i < 38; ++i) hex += "0123456789ABCDEF"[i % 16] + std::string(1, "FEDCBA9876543210"[i % 16]);
    // Characters 40-41, 45-53 and 70-75 of that text.
    const std::string expected = hex.substr(40, 2) + hex.substr(45, 9) + hex.substr(70, 6);
    {
        ScopedVariable id("QOB_DEVICE_ID", hex);
        EXPECT_EQ(Run(Builtin_deviceserial, {"n:2002"}), "t:" + expected);
        EXPECT_EQ(Run(Builtin_deviceserial, {"n:2000"}), "t:");
        EXPECT_EQ(Run(Builtin_deviceserial, {"n:1"}), "t:");
    }
    {
        // 37 bytes are too few: the text would run past them.
        ScopedVariable id("QOB_DEVICE_ID", hex.substr(0, 74));
        EXPECT_EQ(Run(Builtin_deviceserial, {"n:2002"}), "t:");
    }
    // Without configuration the identifier comes from the machine and is the
    // same on every call.
    if (access("/etc/machine-id", R_OK) == 0) {
        const std::string first = Run(Builtin_deviceserial, {"n:2002"});
        EXPECT_EQ(first.size(), 2u + 17u);
        EXPECT_EQ(Run(Builtin_deviceserial, {"n:2002"}), first);
    }
}

TEST_F(DeviceBuiltinsTest, DeviceOwnerReadsSixTextsAndCreatesTheKey) {
    VariableRecord* list = Variable("O$");
    PushVariable(list);
    Builtin_deviceowner();
    EXPECT_EQ(StackDepth(), 0);
    int current = 0;
    EXPECT_EQ(Items(list, &current), std::vector<std::string>(6, ""));
    EXPECT_EQ(current, 0);
    platform::HKEY key = nullptr;
    ASSERT_EQ(platform::RegOpenKeyExW(platform::HKEY_CURRENT_USER, platform::DecodeAnsi("ControlPanel\\Owner"), &key),
              platform::ERROR_SUCCESS);
    // "Owner": texts at units 0, 36, 72, 258 and 283 of 384; the last one
    // fills the buffer to its end without a zero unit.
    std::vector<uint16_t> owner(384, 0);
    const std::pair<size_t, std::string> texts[] = {{0, "Ann Owner"}, {36, "Firm"}, {72, "Street 1"}, {258, "555"}};
    for (const auto& [offset, text] : texts)
        for (size_t i = 0; i < text.size(); ++i) owner[offset + i] = static_cast<uint16_t>(text[i]);
    for (size_t i = 283; i < 384; ++i) owner[i] = 'x';
    const std::vector<uint16_t> notes = platform::DecodeAnsi("caf\xc3\xa9 notes");
    ASSERT_EQ(platform::RegSetValueExW(key, platform::DecodeAnsi("Owner"), platform::REG_BINARY,
                                       {reinterpret_cast<const uint8_t*>(owner.data()), owner.size() * 2}),
              platform::ERROR_SUCCESS);
    ASSERT_EQ(platform::RegSetValueExW(key, platform::DecodeAnsi("Notes"), platform::REG_BINARY,
                                       {reinterpret_cast<const uint8_t*>(notes.data()), notes.size() * 2}),
              platform::ERROR_SUCCESS);
    platform::RegCloseKey(key);
    PushVariable(list);
    Builtin_deviceowner();
    EXPECT_EQ(Items(list, &current), (std::vector<std::string>{"Ann Owner", "Firm", "Street 1", "555",
                                                                std::string(101, 'x'), "caf\xc3\xa9 notes"}));
    EXPECT_EQ(current, 0);
    EXPECT_EQ(Describe(list), "t:Ann Owner");
}

TEST_F(DeviceBuiltinsTest, ResetUnderTheHookIsRecordedNotCarriedOut) {
    std::vector<bool> requests;
    platform::SetRebootHook([&](bool clean) { requests.push_back(clean); });
    Push("n:1");
    Builtin_reset();
    Push("n:0");
    Builtin_reset();
    EXPECT_EQ(StackDepth(), 0);
    EXPECT_EQ(requests, (std::vector<bool>{true, false}));
}

TEST(DeviceIdSerialTest, NeedsThirtyEightBytes) {
    std::vector<uint8_t> id(38);
    for (size_t i = 0; i < id.size(); ++i) id[i] = static_cast<uint8_t>(i * 7);
    // Computed with Python from the bytes' "%02X" text.
    EXPECT_EQ(DeviceIdSerial(id), "8CAA1A8AFB6F5FC03");
    EXPECT_EQ(DeviceIdSerial(std::span(id).first(37)), "");
}

}  // namespace
}  // namespace qob::testing
