// tests/builtins/checksums/checksum_builtins_test.cpp
// crc16, crc32, hash, encrypt and soundex: published check values, lengths
// held inside the text's block, unknown methods, literals left unchanged.

#include "builtins/checksums/checksum_builtins.h"

#include <string>
#include <vector>

#include "builtins/operators/operator_fixture.h"
#include "platform/memory.h"

namespace qob::testing {
namespace {

class ChecksumBuiltinsTest : public OperatorTest {
protected:
    std::string Run(void (*handler)(), const std::vector<std::string>& arguments) {
        for (const std::string& argument : arguments) Push(argument);
        handler();
        EXPECT_EQ(StackDepth(), 1);
        return PopDescription();
    }
};

TEST_F(ChecksumBuiltinsTest, ChecksumsGiveThePublishedCheckValues) {
    struct Case {
        void (*handler)();
        std::vector<std::string> arguments;
        std::string expected;
    };
    const Case cases[] = {
        {Builtin_crc16, {"t:123456789", "n:9"}, "n:19255"},       // CRC-16/MODBUS
        {Builtin_crc32, {"t:123456789", "n:9"}, "n:873187033"},   // CRC-32/JAMCRC
        {Builtin_crc16, {"t:abc", "n:0"}, "n:65535"},
        {Builtin_crc32, {"t:abc", "n:0"}, "n:4294967295"},
        {Builtin_crc32, {"t:abc", "n:-5"}, "n:4294967295"},
        {Builtin_crc32, {"t:abc", "n:3"}, "n:3403398717"},
        // A number argument is checksummed as its text.
        {Builtin_crc32, {"n:123456789", "n:9"}, "n:873187033"},
    };
    for (const Case& c : cases) EXPECT_EQ(Run(c.handler, c.arguments), c.expected) << c.arguments[0];
}

TEST_F(ChecksumBuiltinsTest, ALengthPastTheBlockReadsOnlyTheBlock) {
    // "abc" is a block of 4 bytes (its terminator included): a length of a
    // million checksums those 4 bytes and no more.
    const std::string text("abc", 4);
    EXPECT_EQ(Run(Builtin_crc32, {"t:abc", "n:1000000"}),
              "n:" + std::to_string(Crc32NoFinalXor(text.data(), text.size())));
    EXPECT_EQ(Run(Builtin_hash, {"n:7", "t:abc", "n:1000000"}), Run(Builtin_hash, {"n:7", "t:abc", "n:4"}));
}

TEST_F(ChecksumBuiltinsTest, HashMethodsFollowTheirFormulas) {
    // Computed with Python from the formulas (bytes as signed characters,
    // 32-bit wrap-around, masked to 31 bits).
    const std::vector<std::string> abc = {"807794786", "822160044", "446371745", "26499", "26499",
                                          "1677554",   "807794786", "193485963", "511219427"};
    const std::vector<std::string> accented = {"1891543801", "216865537", "1825858178", "174954691", "174954691",
                                               "1182756361", "1891543801", "500570814", "1910112978"};
    const std::string text = "t:\xe9t\xe9 caf\xc3\xa9 long text to trip the top bits";
    const std::string length = "n:" + std::to_string(text.size() - 2);
    for (int method = 0; method <= 8; ++method) {
        const std::string m = "n:" + std::to_string(method);
        EXPECT_EQ(Run(Builtin_hash, {m, "t:abc", "n:3"}), "n:" + abc[method]) << method;
        EXPECT_EQ(Run(Builtin_hash, {m, text, length}), "n:" + accented[method]) << method;
    }
    EXPECT_EQ(Run(Builtin_hash, {"n:2", "t:abc", "n:0"}), "n:1315423911");
    EXPECT_EQ(Run(Builtin_hash, {"n:7", "t:abc", "n:0"}), "n:5381");
}

TEST_F(ChecksumBuiltinsTest, HashNineGivesTheDigestsLastFourBytesSigned) {
    // RFC 1321's test suite; the numbers are the digests' last four bytes,
    // big-endian, as signed 32-bit values (Python's struct ">i").
    const std::pair<std::string, std::string> cases[] = {
        {"", "-319274370"},
        {"a", "1769416289"},
        {"abc", "685866866"},
        {"message digest", "-1427021360"},
        {"abcdefghijklmnopqrstuvwxyz", "-899161797"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "-1623089761"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890", "554153594"},
    };
    // The length argument is not used.
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(Run(Builtin_hash, {"n:9", "t:" + text, "n:1"}), "n:" + expected) << text;
}

TEST_F(ChecksumBuiltinsTest, HashWithAnUnknownMethodPushesZero) {
    for (const char* method : {"n:10", "n:-1", "n:100000"})
        EXPECT_EQ(Run(Builtin_hash, {method, "t:abc", "n:3"}), "n:0") << method;
}

TEST_F(ChecksumBuiltinsTest, EncryptRoundTripsAVariableInPlace) {
    struct Case {
        std::string initial, length, key, ciphered;
    };
    const Case cases[] = {
        {"t:hello", "n:-1", "t:A", "t:\xa9\xa6\xad\xad\xb0"},
        {"t:hello", "n:2", "t:AB", "t:\xa9\xa7llo"},
        // A length past the text stops at its terminator.
        {"t:hi", "n:1000", "t:\x01", "t:ij"},
        // An empty key leaves the text as it is.
        {"t:hello", "n:-1", "t:", "t:hello"},
        // UTF-16 units below 0x80 come back.
        {"w:hello", "n:-1", "t:\x01", "w:ifmmp"},
    };
    for (const Case& c : cases) {
        VariableRecord* variable = Variable("V$");
        if (c.initial[0] == 'w') SetWide(variable, c.initial.substr(2));
        else SetText(variable, c.initial.substr(2));
        for (const char* decrypt : {"n:0", "n:1"}) {
            PushVariable(variable);
            Push(c.length);
            Push(c.key);
            Push(decrypt);
            Builtin_encrypt();
            EXPECT_EQ(StackDepth(), 0);
            EXPECT_EQ(Describe(variable), decrypt[2] == '0' ? c.ciphered : c.initial) << c.initial << c.key;
        }
    }
}

TEST_F(ChecksumBuiltinsTest, EncryptLeavesALiteralAlone) {
    // A text that no variable holds is the program's constant: ciphering it
    // would change the literal for every later run of the line.
    Push("t:hello");
    const char* literal = context->stackTop->text;
    Push("n:-1");
    Push("t:A");
    Push("n:0");
    Builtin_encrypt();
    EXPECT_STREQ(literal, "hello");
    EXPECT_EQ(StackDepth(), 0);
}

TEST_F(ChecksumBuiltinsTest, SoundexGivesTheCodesOfBothModes) {
    struct Case {
        std::string text, length, mode, code;
    };
    const Case cases[] = {
        {"Robert", "n:4", "n:1", "R163"},    {"Ashcraft", "n:4", "n:1", "A261"}, {"Tymczak", "n:4", "n:1", "T522"},
        {"Robert", "n:4", "n:0", "R163"},    {"Ashcraft", "n:4", "n:0", "A226"}, {"Pfister", "n:4", "n:0", "F236"},
        {"Lee", "n:10", "n:0", "L000000000"}, {"123", "n:4", "n:0", ""},
    };
    for (const Case& c : cases) {
        VariableRecord* variable = Variable("B$");
        SetText(variable, "");
        PushVariable(variable);
        Push("t:" + c.text);
        Push(c.length);
        Push(c.mode);
        Builtin_soundex();
        EXPECT_EQ(PopDescription(), "n:" + std::to_string(c.code.size())) << c.text;
        EXPECT_EQ(Describe(variable), "t:" + c.code) << c.text;
    }
}

TEST_F(ChecksumBuiltinsTest, SoundexWritesInPlaceOnlyWhereTheCodeFits) {
    // A block big enough takes the code in place.
    VariableRecord* variable = Variable("B$");
    SetText(variable, "0123456789");
    PushVariable(variable);
    const char* block = context->stackTop->text;
    Push("t:Robert");
    Push("n:4");
    Push("n:0");
    Builtin_soundex();
    EXPECT_EQ(PopDescription(), "n:4");
    EXPECT_STREQ(block, "R163");
    // A short block is never overrun: the variable gets a new text.
    SetText(variable, "ab");
    PushVariable(variable);
    const char* shortBlock = context->stackTop->text;
    Push("t:Lee");
    Push("n:10");
    Push("n:0");
    Builtin_soundex();
    EXPECT_EQ(PopDescription(), "n:10");
    EXPECT_EQ(Describe(variable), "t:L000000000");
    EXPECT_NE(static_cast<const char*>(variable->data), shortBlock);
    // A literal is left as it is, and the length still comes back.
    Push("t:0123456789");
    const char* literal = context->stackTop->text;
    Push("t:Robert");
    Push("n:4");
    Push("n:0");
    Builtin_soundex();
    EXPECT_EQ(PopDescription(), "n:4");
    EXPECT_STREQ(literal, "0123456789");
}

}  // namespace
}  // namespace qob::testing
