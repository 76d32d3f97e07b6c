// tests/platform/message_box_test.cpp
// The headless message box: where its text goes and which button it answers.
#include "platform/message_box.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/temp_directory.h"

namespace qob::platform {
namespace {

std::span<const uint16_t> Units(std::u16string_view text) {
    return {reinterpret_cast<const uint16_t*>(text.data()), text.size()};
}

// Collects what boxes write to each stream.
class CapturedOutput {
public:
    CapturedOutput() {
        output = open_memstream(&outputText, &outputSize);
        errorOutput = open_memstream(&errorText, &errorSize);
        SetMessageBoxOutput(output, errorOutput);
    }
    ~CapturedOutput() {
        SetMessageBoxOutput(nullptr, nullptr);
        std::fclose(output);
        std::fclose(errorOutput);
        std::free(outputText);
        std::free(errorText);
    }
    std::string Output() const { return std::string(outputText, outputSize); }
    std::string ErrorOutput() const { return std::string(errorText, errorSize); }

private:
    std::FILE* output;
    std::FILE* errorOutput;
    char* outputText = nullptr;
    char* errorText = nullptr;
    size_t outputSize = 0;
    size_t errorSize = 0;
};

TEST(MessageBoxTest, TextGoesToStandardOutputAndAlarmsToStandardError) {
    struct Case {
        uint32_t style;
        const char* output;
        const char* errorOutput;
    };
    const Case cases[] = {
        {MB_OK, "Hello\n", ""},
        {MB_ICONINFORMATION, "Hello\n", ""},
        {MB_ICONQUESTION | MB_YESNO, "Hello\n", ""},
        {MB_ICONERROR, "", "Caption: Hello\n"},
        {MB_ICONSTOP | MB_OKCANCEL, "", "Caption: Hello\n"},
        {MB_ICONWARNING, "", "Caption: Hello\n"},
    };
    for (const Case& c : cases) {
        CapturedOutput captured;
        MessageBoxW(Units(u"Hello"), Units(u"Caption"), c.style);
        EXPECT_EQ(captured.Output(), c.output) << std::hex << c.style;
        EXPECT_EQ(captured.ErrorOutput(), c.errorOutput) << std::hex << c.style;
    }
}

TEST(MessageBoxTest, TextsAreWrittenAsUtf8) {
    CapturedOutput captured;
    // e acute, the euro sign, a character outside the basic plane, and the
    // unit that stands for the lone byte 0xFF of an 8-bit text.
    const char16_t text[] = {u'\u00e9', u'\u20ac', 0xD83D, 0xDE00, 0xDC80 + 0xFF, u'\n', u'x'};
    MessageBoxW(Units({text, std::size(text)}), Units(u"\u00c4"), MB_OK);
    MessageBoxW(Units({text, 2}), Units(u"\u00c4"), MB_ICONERROR);
    MessageBoxW(Units(u""), Units(u""), MB_OK);
    EXPECT_EQ(captured.Output(), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xFF\nx\n\n");
    EXPECT_EQ(captured.ErrorOutput(), "\xC3\x84: \xC3\xA9\xE2\x82\xAC\n");
}

TEST(MessageBoxTest, AnswersTheDefaultButtonOrTheNamedOne) {
    struct Case {
        uint32_t style;
        const char* requested;  // QOB_MSGBOX_ANSWER, null for none
        int answer;
    };
    const Case cases[] = {
        {MB_OK, nullptr, IDOK},
        {MB_OK, "CANCEL", IDOK},  // the box has no such button
        {MB_OK | MB_DEFBUTTON2, nullptr, IDOK},
        {MB_OKCANCEL, nullptr, IDOK},
        {MB_OKCANCEL | MB_ICONSTOP, "CANCEL", IDCANCEL},
        {MB_OKCANCEL, "cancel", IDCANCEL},
        {MB_OKCANCEL | MB_DEFBUTTON2, nullptr, IDCANCEL},
        {MB_OKCANCEL | MB_DEFBUTTON2, "OK", IDOK},
        {MB_YESNO, nullptr, IDYES},
        {MB_YESNO, "No", IDNO},
        {MB_YESNO, "CANCEL", IDYES},
        {MB_YESNOCANCEL | MB_DEFBUTTON3, nullptr, IDCANCEL},
        {MB_YESNOCANCEL, "NO", IDNO},
        {MB_ABORTRETRYIGNORE, nullptr, IDABORT},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON2, nullptr, IDRETRY},
        {MB_ABORTRETRYIGNORE, "IGNORE", IDIGNORE},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON4, nullptr, IDABORT},
        {MB_RETRYCANCEL, nullptr, IDRETRY},
        {MB_RETRYCANCEL, "CANCEL", IDCANCEL},
        {MB_RETRYCANCEL, "maybe", IDRETRY},
        {MB_RETRYCANCEL, "", IDRETRY},
        {0xE, "OK", IDOK},  // an unknown button set shows OK
    };
    for (const Case& c : cases) {
        qob::testing::ScopedEnvironment answer("QOB_MSGBOX_ANSWER", c.requested);
        CapturedOutput captured;
        EXPECT_EQ(MessageBoxW(Units(u"?"), Units(u"Q"), c.style), c.answer)
            << std::hex << c.style << " " << (c.requested ? c.requested : "(none)");
    }
}

}  // namespace
}  // namespace qob::platform
