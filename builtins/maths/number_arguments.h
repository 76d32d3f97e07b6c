// builtins/maths/number_arguments.h
// How the number built-ins take an argument: its number, a text converted,
// with whatever the cell owned freed.
#pragma once

#include "builtins/operators/operator_values.h"

namespace qob {

// Pops the top cell and gives its number (a text's number, 0 when the text
// is none); a temporary matrix the cell owned is freed.
[[nodiscard]] inline double PopNumberArgument() {
    StackEntry argument = TakeOperand();
    const double value = OperandNumber(argument);
    ReleaseOperand(argument);
    return value;
}

}  // namespace qob
