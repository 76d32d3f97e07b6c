// builtins/texts/text_arguments.cpp
// Argument readers of the text built-ins.
#include "builtins/texts/text_arguments.h"

#include <cstring>

#include "builtins/operators/operator_values.h"
#include "platform/c_library.h"

namespace qob {

TextSpan ArgumentText(const StackEntry& argument, bool wide) {
    if (wide || !IsWide(argument)) return OperandText(argument, wide);
    const char* narrow = NarrowOperandText(argument);
    return {narrow, std::strlen(narrow)};
}

int32_t ArgumentInteger(const StackEntry& argument) {
    return platform::TruncateToInteger<int32_t>(OperandNumber(argument));
}

void* CopyText(TextSpan text, bool wide) { return JoinTexts(text, {nullptr, 0}, wide); }

}  // namespace qob
