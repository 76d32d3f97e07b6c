// platform/message_box.cpp
// Box texts to the terminal, answers from the default button or the environment.
#include "platform/message_box.h"

#include <atomic>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/text_codec.h"

namespace qob::platform {

namespace {

std::atomic<std::FILE*> gOutput{nullptr};
std::atomic<std::FILE*> gErrorOutput{nullptr};

struct Answer {
    std::string_view name;
    int id;
};
constexpr Answer kAnswers[] = {{"OK", IDOK},         {"CANCEL", IDCANCEL}, {"YES", IDYES},      {"NO", IDNO},
                               {"ABORT", IDABORT},   {"RETRY", IDRETRY},   {"IGNORE", IDIGNORE}};

// The buttons of each box type, left to right; types beyond the table show OK.
struct ButtonRow {
    int ids[3];
    int count;
};
constexpr ButtonRow kButtonRows[] = {
    {{IDOK}, 1},                        // MB_OK
    {{IDOK, IDCANCEL}, 2},              // MB_OKCANCEL
    {{IDABORT, IDRETRY, IDIGNORE}, 3},  // MB_ABORTRETRYIGNORE
    {{IDYES, IDNO, IDCANCEL}, 3},       // MB_YESNOCANCEL
    {{IDYES, IDNO}, 2},                 // MB_YESNO
    {{IDRETRY, IDCANCEL}, 2},           // MB_RETRYCANCEL
};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

// The answer QOB_MSGBOX_ANSWER names, or 0 when it names none.
int RequestedAnswer() {
    const char* requested = std::getenv("QOB_MSGBOX_ANSWER");
    if (requested == nullptr) return 0;
    for (const Answer& answer : kAnswers)
        if (EqualsIgnoringCase(requested, answer.name)) return answer.id;
    return 0;
}

int ChooseAnswer(uint32_t style) {
    const uint32_t type = style & MB_TYPEMASK;
    const ButtonRow& row = kButtonRows[type < std::size(kButtonRows) ? type : MB_OK];
    if (const int requested = RequestedAnswer())
        for (int i = 0; i < row.count; ++i)
            if (row.ids[i] == requested) return requested;
    const uint32_t defaultIndex = (style & MB_DEFMASK) >> 8;
    return row.ids[defaultIndex < static_cast<uint32_t>(row.count) ? defaultIndex : 0];
}

}  // namespace

int MessageBoxW(std::span<const uint16_t> text, std::span<const uint16_t> caption, uint32_t style) {
    const uint32_t icon = style & MB_ICONMASK;
    const bool isAlarm = icon == MB_ICONERROR || icon == MB_ICONWARNING;
    std::string line;
    if (isAlarm) line = EncodeAnsi(caption) + ": ";
    line += EncodeAnsi(text);
    line += '\n';
    std::FILE* stream = isAlarm ? gErrorOutput.load() : gOutput.load();
    if (stream == nullptr) stream = isAlarm ? stderr : stdout;
    // One write per box keeps lines whole when several threads show boxes,
    // and the flush keeps standard output and error in the order shown.
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
    return ChooseAnswer(style);
}

void SetMessageBoxOutput(std::FILE* output, std::FILE* errorOutput) {
    gOutput.store(output);
    gErrorOutput.store(errorOutput);
}

}  // namespace qob::platform
