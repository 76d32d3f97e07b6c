// tests/builtins/lists/list_fixture.h
// The list tests' helpers on the operator tests' context: running the list
// built-ins on variables and described values, building lists and structures,
// and describing a whole list with its current item marked.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "builtins/operators/operator_fixture.h"

namespace qob::testing {

// One argument: a variable (pushed as a variable push does) or a described
// value ("n:1", "t:abc", "w:abc", "m:[1,2]").
struct ListArg {
    ListArg(VariableRecord* variable) : variable(variable) {}
    ListArg(const char* description) : description(description) {}
    VariableRecord* variable = nullptr;
    std::string description;
};

class ListTest : public OperatorTest {
protected:
    // Pushes the arguments in order and runs the handler; a variadic one
    // (framed) gets its argument frame first.
    void Run(void (*handler)(), std::initializer_list<ListArg> arguments, bool framed = false);
    // Runs a built-in that returns a number and pops it; exactly one value
    // must be left.
    double RunForNumber(void (*handler)(), std::initializer_list<ListArg> arguments, bool framed = false);

    // A variable made an empty list (list) and given the described values (add).
    VariableRecord* MakeList(const char* name, const std::vector<std::string>& values);
    // The items from the first, comma-separated, the current one marked "*":
    // numbers as FormatValue writes them, texts as they are, UTF-16 texts
    // "w:text", matrices "m", structures "s".
    std::string Items(VariableRecord* list);
    // Moves the current item (goto).
    void GoTo(VariableRecord* list, int position);

    // S$: a structure of 8 bytes with two 32-bit members S.A$ (offset 0, a
    // number) and S.T$ (offset 4, a text the structure holds through a link).
    VariableRecord* MakeStructure(const char* name, double a, const char* t);
    // The same with a member of the given type in place of S.T$'s -4 (-3
    // keeps the text as UTF-16).
    VariableRecord* MakeStructure(const char* name, double a, const char* t, int32_t textType);

    // A one-dimensional array of count zeroed elements of the type code that
    // owns its storage, as a declaration makes it.
    VariableRecord* MakeArray(const char* name, int32_t type, uint32_t count);
    // The array's elements read as the variable store reads them: numbers as
    // FormatValue writes them, texts as they are ("w:" before a UTF-16 one),
    // comma-separated.
    std::string Elements(VariableRecord* array);
};

}  // namespace qob::testing
