// tests/builtins/lists/list_fixture_support.cpp
// The list tests' runs, list building, list descriptions and structures.
#include "builtins/lists/list_fixture.h"

#include <cstring>

#include "builtins/lists/list_builtins.h"
#include "platform/memory.h"
#include "runtime/data/wide_text.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/list_values.h"
#include "runtime/vm/value_stack.h"

namespace qob::testing {

void ListTest::Run(void (*handler)(), std::initializer_list<ListArg> arguments, bool framed) {
    if (framed) OpenFrame();
    for (const ListArg& argument : arguments) {
        if (argument.variable) PushVariable(argument.variable);
        else Push(argument.description);
    }
    handler();
}

double ListTest::RunForNumber(void (*handler)(), std::initializer_list<ListArg> arguments, bool framed) {
    Run(handler, arguments, framed);
    EXPECT_EQ(StackDepth(), 1);
    return PopValue();
}

VariableRecord* ListTest::MakeList(const char* name, const std::vector<std::string>& values) {
    VariableRecord* list = Variable(name);
    Run(Builtin_list, {list}, true);
    for (const std::string& value : values) Run(Builtin_listadd, {list, value.c_str()}, true);
    return list;
}

std::string ListTest::Items(VariableRecord* list) {
    std::string out;
    for (ListNode* node = ListFirst(list->currentNode); node; node = node->next) {
        if (!out.empty()) out += ",";
        if (node == list->currentNode) out += "*";
        if (node->flags & kVarStructure) {
            out += "s";
        } else if (node->flags & kVarMatrix) {
            out += "m";
        } else if (!node->data) {
            out += FormatValue(node->value);
        } else if (node->flags & kVarWideText) {
            char* narrow = WideToAnsi(reinterpret_cast<const uint16_t*>(node->data));
            out += std::string("w:") + narrow;
            platform::FreeBlock(narrow);
        } else {
            out += node->data;
        }
    }
    return out;
}

void ListTest::GoTo(VariableRecord* list, int position) {
    const std::string cell = "n:" + std::to_string(position);
    EXPECT_EQ(RunForNumber(Builtin_goto, {list, cell.c_str()}), 1.0);
}

VariableRecord* ListTest::MakeStructure(const char* name, double a, const char* t) {
    return MakeStructure(name, a, t, -4);
}

VariableRecord* ListTest::MakeStructure(const char* name, double a, const char* t, int32_t textType) {
    VariableRecord* s = Variable(name);
    s->type = 8;
    s->data = static_cast<char*>(AllocateValueBlock(8));
    s->flags = kVarStructure | kVarOwnsData;
    const std::string prefix(name, std::strlen(name) - 1);
    const char* members[] = {".A$", ".T$"};
    for (int i = 0; i < 2; ++i) {
        VariableRecord* m = Variable((prefix + members[i]).c_str());
        m->type = i == 0 ? -4 : textType;
        m->offset = static_cast<uint32_t>(4 * i);
        m->parent = s;
        AddMemberDefinition(s, m);
    }
    RebaseStructMembers(s);
    SetVariableValue(Variable((prefix + ".A$").c_str()), nullptr, a, nullptr, 0);
    SetVariableValue(Variable((prefix + ".T$").c_str()), t, 0, nullptr, static_cast<int64_t>(std::strlen(t) + 1));
    return s;
}

VariableRecord* ListTest::MakeArray(const char* name, int32_t type, uint32_t count) {
    VariableRecord* array = Variable(name);
    array->type = type;
    array->data = static_cast<char*>(AllocateValueBlock(static_cast<size_t>(count) * ElementSize(type)));
    array->elementCount = count;
    array->dimensionCount = 1;
    array->dimensions[0] = static_cast<int32_t>(count);
    array->flags = kVarOwnsData;
    return array;
}

std::string ListTest::Elements(VariableRecord* array) {
    std::string out;
    for (uint32_t i = 0; i < array->elementCount; ++i) {
        char* text = nullptr;
        double value = 0.0;
        GetVariableValue(array, &text, &value, array->data + static_cast<size_t>(i) * ElementSize(array->type));
        if (i) out += ",";
        if (!text) {
            out += FormatValue(value);
        } else if (array->type == -3) {
            char* narrow = WideToAnsi(reinterpret_cast<const uint16_t*>(text));
            out += std::string("w:") + narrow;
            platform::FreeBlock(narrow);
        } else {
            out += text;
        }
    }
    return out;
}

}  // namespace qob::testing
