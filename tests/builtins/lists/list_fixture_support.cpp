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
    VariableRecord* s = Variable(name);
    s->type = 8;
    s->data = static_cast<char*>(AllocateValueBlock(8));
    s->flags = kVarStructure | kVarOwnsData;
    const std::string prefix(name, std::strlen(name) - 1);
    const char* members[] = {".A$", ".T$"};
    for (int i = 0; i < 2; ++i) {
        VariableRecord* m = Variable((prefix + members[i]).c_str());
        m->type = -4;
        m->offset = static_cast<uint32_t>(4 * i);
        m->parent = s;
        AddMemberDefinition(s, m);
    }
    RebaseStructMembers(s);
    SetVariableValue(Variable((prefix + ".A$").c_str()), nullptr, a, nullptr, 0);
    SetVariableValue(Variable((prefix + ".T$").c_str()), t, 0, nullptr, static_cast<int64_t>(std::strlen(t) + 1));
    return s;
}

}  // namespace qob::testing
