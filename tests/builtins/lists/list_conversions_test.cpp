// tests/builtins/lists/list_conversions_test.cpp
// Lists, arrays of every element type, matrices and texts converted into one
// another and back, fill into each kind of target, and the application list;
// no write past an array's elements or a block's end, every block freed once.
#include "builtins/lists/list_conversions.h"

#include <cstring>
#include <string>
#include <vector>

#include "builtins/lists/list_builtins.h"
#include "builtins/lists/list_fixture.h"
#include "builtins/texts/text_splitting.h"
#include "platform/memory.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/list_values.h"
#include "runtime/vm/value_stack.h"

namespace qob::testing {
namespace {

using ListConversionsTest = ListTest;

struct TypeCase {
    int32_t type;
    std::vector<std::string> values;
    const char* elements;  // as Elements shows them
    const char* items;     // as Items shows the list made back from the array
};

const TypeCase kTypeCases[] = {
    {-9, {"n:-4000000000000", "n:7"}, "-4000000000000,7", "*-4000000000000,7"},
    {-8, {"n:2.5", "n:-0.125"}, "2.5,-0.125", "*2.5,-0.125"},
    {-5, {"n:4000000000", "n:1"}, "4000000000,1", "*4000000000,1"},
    {-4, {"n:-7", "t:text", "n:3"}, "-7,text,3", "*-7,text,3"},
    {-3, {"w:\xE2\x82\xAC", "t:b"}, "w:\xE2\x82\xAC,w:b", "*w:\xE2\x82\xAC,w:b"},
    {-2, {"n:1", "n:-2", "n:3"}, "1,-2,3", "*1,-2,3"},
    {-1, {"n:1", "n:255"}, "1,255", "*1,255"},
    {3, {"t:abcdef", "t:g"}, "abc,g", "*abc,g"},
};

// List -> array of each type -> list gives the same values (a fixed-width
// element keeps what fits).
TEST_F(ListConversionsTest, ListsAndArraysOfEveryTypeRoundTrip) {
    for (const TypeCase& c : kTypeCases) {
        VariableRecord* list = MakeList("L$", c.values);
        VariableRecord* array = MakeArray("A$", c.type, static_cast<uint32_t>(c.values.size()));
        EXPECT_EQ(RunForNumber(Builtin_listtoarray, {list, array}), c.values.size()) << c.type;
        EXPECT_EQ(Elements(array), c.elements) << c.type;
        VariableRecord* back = MakeList("B$", {"t:old"});
        EXPECT_EQ(RunForNumber(Builtin_arraytolist, {array, back}), c.values.size()) << c.type;
        EXPECT_EQ(Items(back), c.items) << c.type;
        for (ListNode* node = ListFirst(back->currentNode); node; node = node->next)
            EXPECT_TRUE(!node->data || (node->flags & kVarOwnsData)) << c.type;
        ReleaseVariable(context, array, false, false);
    }
}

TEST_F(ListConversionsTest, ListToArraySizesAnEmptyArrayAndKeepsToAFullOne) {
    VariableRecord* list = MakeList("L$", {"n:1", "n:2", "t:x", "n:4", "n:5"});
    VariableRecord* fresh = Variable("F$");
    EXPECT_EQ(RunForNumber(Builtin_listtoarray, {list, fresh}), 5);
    EXPECT_EQ(fresh->type, -8);
    EXPECT_EQ(Elements(fresh), "1,2,x,4,5");
    // Two 2-byte elements of a block of four: the other two stay untouched.
    for (void (*handler)() : {Builtin_listtoarray, Builtin_tlisttoarray}) {
        VariableRecord* narrow = MakeArray("N$", -2, 4);
        narrow->elementCount = 2;
        EXPECT_EQ(RunForNumber(handler, {list, narrow}), 2);
        const auto* shorts = reinterpret_cast<const int16_t*>(narrow->data);
        EXPECT_EQ(shorts[0], 1);
        EXPECT_EQ(shorts[1], 2);
        EXPECT_EQ(shorts[2], 0);
        EXPECT_EQ(shorts[3], 0);
        ReleaseVariable(context, narrow, false, false);
    }
    VariableRecord* plain = Variable("P$");
    VariableRecord* array = MakeArray("A$", -4, 2);
    EXPECT_EQ(RunForNumber(Builtin_listtoarray, {plain, array}), 0);
    EXPECT_EQ(RunForNumber(Builtin_tlisttoarray, {plain, array}), 0);
    EXPECT_EQ(Elements(array), "0,0");
}

// tlisttoarray takes texts as their numbers; into a variable without
// elements it steps by the doubles the variable now holds, whatever type
// code it had before.
TEST_F(ListConversionsTest, TListToArrayStoresNumbers) {
    VariableRecord* list = MakeList("L$", {"t:5", "t:x", "n:2", "w:-1.5"});
    VariableRecord* array = MakeArray("A$", -4, 4);
    EXPECT_EQ(RunForNumber(Builtin_tlisttoarray, {list, array}), 4);
    EXPECT_EQ(Elements(array), "5,0,2,-1");
    VariableRecord* typed = Variable("T$");
    typed->type = -1;
    typed->data = static_cast<char*>(AllocateValueBlock(1));
    typed->flags = kVarOwnsData;
    EXPECT_EQ(RunForNumber(Builtin_tlisttoarray, {list, typed}), 4);
    EXPECT_EQ(typed->type, -8);
    EXPECT_EQ(Elements(typed), "5,0,2,-1.5");
}

TEST_F(ListConversionsTest, ArrayToListOfNoArrayGivesAnEmptyList) {
    VariableRecord* list = MakeList("L$", {"t:a"});
    VariableRecord* plain = Variable("P$");
    SetText(plain, "text");
    EXPECT_EQ(RunForNumber(Builtin_arraytolist, {plain, list}), 0);
    EXPECT_TRUE(list->flags & kVarList);
    EXPECT_EQ(list->currentNode, nullptr);
    VariableRecord* shorts = MakeArray("S$", -2, 3);
    EXPECT_EQ(RunForNumber(Builtin_arraytolist, {shorts, list}), 3);
    EXPECT_EQ(Items(list), "*0,0,0");
}

TEST_F(ListConversionsTest, ArrayToStrJoinsElements) {
    VariableRecord* array = MakeArray("A$", -4, 3);
    VariableRecord* list = MakeList("L$", {"n:1", "n:2", "n:3"});
    EXPECT_EQ(RunForNumber(Builtin_listtoarray, {list, array}), 3);
    Run(Builtin_arraytostr, {array, "t:,", "t:(", "t:)"});
    EXPECT_EQ(PopDescription(), "t:(1),(2),(3)");
    VariableRecord* texts = MakeArray("T$", -3, 2);
    VariableRecord* words = MakeList("W$", {"t:ab", "w:c"});
    EXPECT_EQ(RunForNumber(Builtin_listtoarray, {words, texts}), 2);
    Run(Builtin_arraytostr, {texts, "n:0", "t:", "t:."});
    EXPECT_EQ(PopDescription(), "t:ab.0c.");
    VariableRecord* plain = Variable("P$");
    Run(Builtin_arraytostr, {plain, "t:,", "t:(", "t:)"});
    EXPECT_EQ(PopDescription(), "t:");
}

// A block of 32-bit text addresses: our block holds no more than its size
// allows, whatever the count; freecarray frees each live block once and
// zeroes its slot, and leaves anything else alone.
TEST_F(ListConversionsTest, CArrayToListAndFreeCArray) {
    char* texts[] = {CopyValueText("one"), nullptr, CopyValueText("three")};
    char* inside = CopyValueText("xxinside");
    auto* slots = static_cast<uint32_t*>(AllocateValueBlock(4 * sizeof(uint32_t)));
    for (int i = 0; i < 3; ++i) slots[i] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(texts[i]));
    slots[3] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(inside + 2));
    VariableRecord* pointers = Variable("P$");
    pointers->data = reinterpret_cast<char*>(slots);
    pointers->flags = kVarOwnsData;
    VariableRecord* list = MakeList("L$", {"t:old"});
    EXPECT_EQ(RunForNumber(Builtin_carraytolist, {pointers, "n:99", list}), 4);
    EXPECT_EQ(Items(list), "*one,0,three,inside");
    EXPECT_EQ(RunForNumber(Builtin_carraytolist, {pointers, "n:2", list}), 2);
    EXPECT_EQ(Items(list), "*one,0");
    EXPECT_EQ(RunForNumber(Builtin_carraytolist, {pointers, "n:0", list}), 0);
    EXPECT_EQ(list->currentNode, nullptr);
    const int64_t live = LiveValueBlocks();
    for (int call = 0; call < 2; ++call) {
        Run(Builtin_freecarray, {"n:99", pointers});
        EXPECT_EQ(StackDepth(), 0);
        EXPECT_EQ(LiveValueBlocks(), live - 2);
        EXPECT_EQ(slots[0], 0u);
        EXPECT_EQ(slots[2], 0u);
        EXPECT_NE(slots[3], 0u);  // not the start of a block: left alone
    }
    FreeValueBlock(inside);
}

TEST_F(ListConversionsTest, MatricesToTextsAndArrays) {
    Run(Builtin_strtomatrix, {"t:[1,2.5,{ab},[3,4]]"});
    const std::string matrix = PopDescription();
    EXPECT_EQ(matrix, "m:[1,2.5,{ab},[3,4]]");
    Run(Builtin_matrixtostr, {matrix.c_str()});
    EXPECT_EQ(PopDescription(), "t:[1,2.5,{ab},[3,4]]");
    VariableRecord* m = Variable("M$");
    SetMatrix(m, "[1,{x,y},[2,[3]]]");
    Run(Builtin_matrixtostr, {m});
    const std::string text = PopDescription();
    Run(Builtin_strtomatrix, {text.c_str()});
    EXPECT_EQ(PopDescription(), "m:[1,{x,y},[2,[3]]]");
    Run(Builtin_matrixtostr, {"n:5"});
    EXPECT_EQ(PopDescription(), "t:");
    Run(Builtin_strtomatrix, {"t:[]"});
    EXPECT_EQ(PopDescription(), "m:[]");

    VariableRecord* fresh = Variable("F$");
    EXPECT_EQ(RunForNumber(Builtin_matrixtoarray, {"m:[1,2.5,[3,4]]", fresh}), 4);
    EXPECT_EQ(Elements(fresh), "1,2.5,3,4");
    // Two 2-byte elements of a block of four: the rest stays untouched.
    VariableRecord* narrow = MakeArray("N$", -2, 4);
    narrow->elementCount = 2;
    EXPECT_EQ(RunForNumber(Builtin_matrixtoarray, {"m:[7,8,9,10]", narrow}), 2);
    const auto* shorts = reinterpret_cast<const int16_t*>(narrow->data);
    EXPECT_EQ(shorts[0], 7);
    EXPECT_EQ(shorts[1], 8);
    EXPECT_EQ(shorts[2], 0);
    EXPECT_EQ(shorts[3], 0);
    ReleaseVariable(context, narrow, false, false);
    EXPECT_EQ(RunForNumber(Builtin_matrixtoarray, {"n:1", fresh}), 0);
}

TEST_F(ListConversionsTest, FillStoresIntoEachKindOfTarget) {
    VariableRecord* s = MakeStructure("S$", 0, "");
    EXPECT_EQ(RunForNumber(Builtin_fill, {s, "n:4", "t:four", "n:5", "n:6", "n:7"}, true), 2);
    EXPECT_EQ(NumberOf(Variable("S.A$")), 4);
    EXPECT_EQ(Describe(Variable("S.T$")), "t:four");

    VariableRecord* wide = MakeStructure("W$", 0, "", -3);
    EXPECT_EQ(RunForNumber(Builtin_fill, {wide, "n:1", "t:\xC3\xA9"}, true), 2);
    VariableRecord* narrow = MakeStructure("N$", 0, "");
    EXPECT_EQ(RunForNumber(Builtin_fill, {narrow, "n:1", "w:\xC3\xA9"}, true), 2);
    VariableRecord* list = MakeList("L$", {});
    EXPECT_EQ(RunForNumber(Builtin_structtolist, {wide, list}), 2);
    EXPECT_EQ(Items(list), "*1,w:\xC3\xA9");
    EXPECT_EQ(RunForNumber(Builtin_structtolist, {narrow, list}), 2);
    EXPECT_EQ(Items(list), "*1,\xC3\xA9");

    VariableRecord* array = MakeArray("A$", -4, 2);
    EXPECT_EQ(RunForNumber(Builtin_fill, {array, "n:1", "t:x", "n:3"}, true), 2);
    EXPECT_EQ(Elements(array), "1,x");

    VariableRecord* matrix = Variable("M$");
    SetMatrix(matrix, "[1]");
    EXPECT_EQ(RunForNumber(Builtin_fill, {matrix, "n:2", "t:t", "m:[3]", "w:u"}, true), 4);
    EXPECT_EQ(Describe(matrix), "m:[1,2,{t},[3],{u}]");
}

// The old items go; each value becomes an owned copy as add makes it (UTF-16
// and matrix items keep their kind), and a value the list itself holds is
// read before its item goes.
TEST_F(ListConversionsTest, FillReplacesAListsItems) {
    VariableRecord* list = MakeList("L$", {"t:keep", "n:8"});
    GoTo(list, 0);
    VariableRecord* source = Variable("V$");
    SetText(source, "copied");
    EXPECT_EQ(RunForNumber(Builtin_fill, {list, list, "n:1", "w:wide", "m:[1,{a}]", source}, true), 5);
    EXPECT_EQ(Items(list), "*keep,1,w:wide,m,copied");
    EXPECT_EQ(Describe(list), "t:keep");
    SetText(source, "changed");
    EXPECT_EQ(Items(list), "*keep,1,w:wide,m,copied");
    for (ListNode* node = ListFirst(list->currentNode); node; node = node->next) {
        EXPECT_TRUE(!node->data || (node->flags & kVarOwnsData));
        EXPECT_EQ(node->type, 0);
    }
    EXPECT_EQ(ListFirst(list->currentNode)->next->next->flags & kVarWideText, kVarWideText);
    EXPECT_EQ(RunForNumber(Builtin_fill, {list}, true), 0);
    EXPECT_EQ(list->currentNode, nullptr);
    EXPECT_EQ(Describe(list), "n:0");
}

// A typed block takes texts as characters and numbers as bytes, never past
// its end; a target without a block takes nothing.
TEST_F(ListConversionsTest, FillWritesNoFurtherThanABlock) {
    VariableRecord* block = Variable("B$");
    block->data = static_cast<char*>(AllocateValueBlock(4));
    block->flags = kVarOwnsData | kVarHandedOver;
    EXPECT_EQ(RunForNumber(Builtin_fill, {block, "n:65", "t:xy", "n:66", "n:67"}, true), 3);
    EXPECT_EQ(std::string(block->data, 4), "AxyB");
    EXPECT_EQ(RunForNumber(Builtin_fill, {block, "t:abcdefgh", "n:1"}, true), 1);
    EXPECT_EQ(std::string(block->data, 4), "abcd");
    VariableRecord* empty = Variable("E$");
    EXPECT_EQ(RunForNumber(Builtin_fill, {empty, "t:abc", "n:1"}, true), 0);
    EXPECT_EQ(Describe(empty), "n:0");
}

TEST_F(ListConversionsTest, ApplicationsListsTheRunningContexts) {
    VariableRecord* list = MakeList("L$", {"t:old"});
    int64_t contexts = 0;
    bool ours = false;
    for (ProgramContext* c = FirstContext; c; c = c->next, ++contexts) ours = ours || c == context;
    ASSERT_TRUE(ours);
    EXPECT_EQ(RunForNumber(Builtin_applications, {list}), contexts);
    bool listed = false;
    for (ListNode* node = ListFirst(list->currentNode); node; node = node->next)
        listed = listed || node->value == static_cast<double>(reinterpret_cast<uintptr_t>(context));
    EXPECT_TRUE(listed);
}

}  // namespace
}  // namespace qob::testing
