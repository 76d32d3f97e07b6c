// tests/builtins/lists/list_builtins_test.cpp
// The list built-ins on a hand-made context: which items they make, move,
// cut and copy, which item is current afterwards, what the list variable
// shows, and that every block they make is freed exactly once.
#include "builtins/lists/list_builtins.h"

#include <cstring>
#include <string>
#include <vector>

#include "builtins/lists/list_fixture.h"
#include "platform/memory.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/list_values.h"
#include "runtime/vm/value_stack.h"

namespace qob::testing {
namespace {

using ListBuiltinsTest = ListTest;

TEST_F(ListBuiltinsTest, AddAppendsEveryValueAndLeavesTheLastCurrent) {
    struct Case {
        std::vector<const char*> values;
        const char* items;
        const char* shown;
    };
    const Case cases[] = {
        {{}, "*0", "n:0"},
        {{"n:1", "t:two", "n:2"}, "1,two,*2", "n:2"},
        {{"w:wide"}, "*w:wide", "w:wide"},
        {{"m:[1,{a}]"}, "*m", "m:[1,{a}]"},
        {{"t:x", "m:[2]", "w:y"}, "x,m,*w:y", "w:y"},
    };
    for (const Case& c : cases) {
        VariableRecord* list = MakeList("L$", {});
        OpenFrame();
        PushVariable(list);
        for (const char* value : c.values) Push(value);
        Builtin_listadd();
        EXPECT_EQ(StackDepth(), 0);
        EXPECT_EQ(Items(list), c.items) << c.items;
        EXPECT_EQ(Describe(list), c.shown) << c.items;
        EXPECT_EQ(RunForNumber(Builtin_count, {list}, true), static_cast<double>(std::max<size_t>(c.values.size(), 1)));
    }
}

// No fixed table between the stack and the list: every value of a long
// argument list arrives, in order.
TEST_F(ListBuiltinsTest, AddTakesAnyNumberOfValues) {
    VariableRecord* list = MakeList("L$", {});
    OpenFrame();
    PushVariable(list);
    std::string expected;
    for (int i = 0; i < 300; ++i) {
        PushNumber(i);
        if (i) expected += ',';
        if (i == 299) expected += '*';
        expected += std::to_string(i);
    }
    Builtin_listadd();
    EXPECT_EQ(StackDepth(), 0);
    EXPECT_EQ(Items(list), expected);
    OpenFrame();
    PushVariable(list);
    for (int i = 0; i < 300; ++i) PushNumber(i);
    Builtin_ins();
    EXPECT_EQ(RunForNumber(Builtin_count, {list}, true), 600);
}

TEST_F(ListBuiltinsTest, AddCopiesATextItReadsFromAVariable) {
    VariableRecord* source = Variable("S$");
    SetText(source, "abc");
    VariableRecord* list = MakeList("L$", {});
    Run(Builtin_listadd, {list, source}, true);
    SetText(source, "changed");
    EXPECT_EQ(Items(list), "*abc");
    EXPECT_NE(list->currentNode->data, source->data);
    EXPECT_EQ(list->currentNode->flags & kVarOwnsData, kVarOwnsData);
}

// A cell read from an array element carries the element's address: the value
// is in the cell, and the element itself must not be written.
TEST_F(ListBuiltinsTest, AddOfAnArrayElementLeavesTheArrayAlone) {
    VariableRecord* array = Variable("A$");
    array->type = -4;
    array->elementCount = 3;
    array->data = static_cast<char*>(AllocateValueBlock(12));
    array->flags = kVarOwnsData;
    const int32_t stored[] = {5, 6, 7};
    std::memcpy(array->data, stored, sizeof stored);
    VariableRecord* list = MakeList("L$", {});
    OpenFrame();
    PushVariable(list);
    PushValue(nullptr, 6.0, array, static_cast<int32_t>(reinterpret_cast<uintptr_t>(array->data + 4)));
    Builtin_listadd();
    EXPECT_EQ(Items(list), "*6");
    int32_t after[3];
    std::memcpy(after, array->data, sizeof after);
    EXPECT_EQ(after[0], 5);
    EXPECT_EQ(after[1], 6);
    EXPECT_EQ(after[2], 7);
    EXPECT_EQ(array->type, -4);
}

// A plain variable becomes a list: its old text goes (the fixture checks that
// it is freed), except while a value to add still reads it.
TEST_F(ListBuiltinsTest, AddMakesAPlainVariableAList) {
    VariableRecord* plain = Variable("P$");
    SetText(plain, "old");
    Run(Builtin_listadd, {plain, "n:1"}, true);
    EXPECT_EQ(plain->flags & kVarList, kVarList);
    EXPECT_EQ(Items(plain), "*1");

    VariableRecord* self = Variable("Q$");
    SetText(self, "kept");
    Run(Builtin_listadd, {self, self}, true);
    EXPECT_EQ(Items(self), "*kept");
}

// Each item add or ins makes is stamped as stored, and the list variable
// shows it exactly as loading the item afresh would (every field, byte for
// byte): a later read finds nothing to reload, a later write nothing stale.
TEST_F(ListBuiltinsTest, AddedItemsAreStampedAndShownAsLoaded) {
    VariableRecord* text = Variable("T$");
    SetText(text, "from a variable");
    VariableRecord* number = Variable("N$");
    number->value = 7.5;
    const ListArg values[] = {"n:1", "n:-0.25", "t:abc", "t:", "w:wide", text, number};
    for (void (*handler)() : {Builtin_listadd, Builtin_ins}) {
        for (const ListArg& value : values) {
            SCOPED_TRACE(value.description);
            VariableRecord* list = MakeList("L$", {"n:0", "t:before"});
            Run(handler, {list, value}, true);
            ListNode* node = list->currentNode;
            ASSERT_NE(node, nullptr);
            EXPECT_EQ((node->flags & kVarOwnsData) != 0, node->data != nullptr);
            ListNode unstamped = *node;
            unstamped.stamp = 0;
            EXPECT_EQ(node->stamp, StampListNode(&unstamped));
            VariableRecord loaded = *list;
            LoadListElement(&loaded);
            EXPECT_EQ(std::memcmp(&loaded, list, sizeof loaded), 0);
        }
    }
}

TEST_F(ListBuiltinsTest, InsPutsTheValuesInFrontOfTheCurrentItemInReverse) {
    struct Case {
        std::vector<std::string> start;
        int current;
        std::vector<const char*> values;
        const char* items;
    };
    const Case cases[] = {
        {{"t:X"}, 0, {"n:1", "n:2", "n:3"}, "*3,2,1,X"},
        {{"t:X", "t:Y"}, 1, {"t:a"}, "X,*a,Y"},
        {{"t:X", "t:Y"}, 1, {}, "X,*0,Y"},
        {{}, 0, {"t:a", "t:b"}, "*b,a"},
    };
    for (const Case& c : cases) {
        VariableRecord* list = MakeList("L$", c.start);
        if (!c.start.empty()) GoTo(list, c.current);
        OpenFrame();
        PushVariable(list);
        for (const char* value : c.values) Push(value);
        Builtin_ins();
        EXPECT_EQ(StackDepth(), 0);
        EXPECT_EQ(Items(list), c.items);
    }
}

TEST_F(ListBuiltinsTest, DelMakesTheNextItemCurrentOrThePreviousAtTheEnd) {
    struct Case {
        int current;
        const char* items;
        const char* shown;
    };
    const Case cases[] = {{0, "*b,c", "t:b"}, {1, "a,*c", "t:c"}, {2, "a,*b", "t:b"}};
    for (const Case& c : cases) {
        VariableRecord* list = MakeList("L$", {"t:a", "t:b", "t:c"});
        GoTo(list, c.current);
        Run(Builtin_del, {list}, true);
        EXPECT_EQ(StackDepth(), 0);
        EXPECT_EQ(Items(list), c.items);
        EXPECT_EQ(Describe(list), c.shown);
    }
}

// The variable showed the deleted item's text: it must not keep pointing at it.
TEST_F(ListBuiltinsTest, DelOfTheOnlyItemEmptiesTheListAndTheVariable) {
    VariableRecord* list = MakeList("L$", {"t:only"});
    Run(Builtin_del, {list}, true);
    EXPECT_EQ(list->currentNode, nullptr);
    EXPECT_EQ(list->data, nullptr);
    EXPECT_EQ(list->flags & ~kVarPublic, kVarList);
    EXPECT_EQ(Describe(list), "n:0");
    EXPECT_EQ(RunForNumber(Builtin_count, {list}, true), 0);
    EXPECT_EQ(RunForNumber(Builtin_lpos, {list}), -1);
    Run(Builtin_del, {list}, true);
    EXPECT_EQ(list->currentNode, nullptr);
}

// The counters and movers over a three-item list standing on its middle item,
// an empty list and a plain number: only the first counts.
TEST_F(ListBuiltinsTest, CountersAndMoversSkipEmptyListsAndOtherVariables) {
    struct Case {
        const char* name;
        void (*handler)();
        double result;
        int position;  // of the three-item list afterwards
    };
    const Case cases[] = {
        {"count", Builtin_count, 3, 1},     {"first", Builtin_first, 1, 0},
        {"last", Builtin_last, 1, 2},       {"next", Builtin_next, 1, 2},
        {"prev", Builtin_prev, 1, 0},       {"isfirst", Builtin_isfirst, 0, 1},
        {"islast", Builtin_islast, 0, 1},   {"islist", Builtin_islist, 2, 1},
    };
    VariableRecord* list = MakeList("L$", {"t:a", "t:b", "t:c"});
    VariableRecord* empty = MakeList("E$", {});
    VariableRecord* plain = Variable("P$");
    SetNumber(plain, 4);
    for (const Case& c : cases) {
        GoTo(list, 1);
        EXPECT_EQ(RunForNumber(c.handler, {list, empty, plain}, true), c.result) << c.name;
        EXPECT_EQ(RunForNumber(Builtin_lpos, {list}), c.position) << c.name;
        const char* shown[] = {"t:a", "t:b", "t:c"};
        EXPECT_EQ(Describe(list), shown[c.position]) << c.name;
    }
}

TEST_F(ListBuiltinsTest, NextAndPrevStopAtTheEnds) {
    VariableRecord* list = MakeList("L$", {"t:a", "t:b"});
    EXPECT_EQ(RunForNumber(Builtin_next, {list}, true), 0);
    EXPECT_EQ(RunForNumber(Builtin_islast, {list, list}, true), 2);
    GoTo(list, 0);
    EXPECT_EQ(RunForNumber(Builtin_prev, {list}, true), 0);
    EXPECT_EQ(RunForNumber(Builtin_isfirst, {list}, true), 1);
    EXPECT_EQ(Describe(list), "t:a");
}

TEST_F(ListBuiltinsTest, GotoClampsThePositionToTheEnds) {
    struct Case {
        const char* position;
        double result;
        const char* items;
    };
    const Case cases[] = {
        {"n:99", 1, "a,b,*c"}, {"n:-5", 1, "*a,b,c"}, {"n:1", 1, "a,*b,c"}, {"t:2", 1, "a,b,*c"}, {"n:1.9", 1, "a,*b,c"},
    };
    VariableRecord* list = MakeList("L$", {"t:a", "t:b", "t:c"});
    for (const Case& c : cases) {
        EXPECT_EQ(RunForNumber(Builtin_goto, {list, c.position}), c.result) << c.position;
        EXPECT_EQ(Items(list), c.items) << c.position;
    }
    VariableRecord* empty = MakeList("E$", {});
    VariableRecord* plain = Variable("P$");
    EXPECT_EQ(RunForNumber(Builtin_goto, {empty, "n:0"}), 0);
    EXPECT_EQ(RunForNumber(Builtin_goto, {plain, "n:0"}), 0);
    EXPECT_EQ(RunForNumber(Builtin_lpos, {plain}), 0);
    EXPECT_EQ(RunForNumber(Builtin_lpos, {empty}), -1);
}

TEST_F(ListBuiltinsTest, LmoveMovesAnItemToAClampedPositionAndMakesItCurrent) {
    struct Case {
        const char* from;
        const char* to;
        const char* items;
    };
    const Case cases[] = {
        {"n:0", "n:2", "b,c,*a"}, {"n:2", "n:0", "*c,a,b"}, {"n:1", "n:1", "a,*b,c"},
        {"n:-4", "n:40", "b,c,*a"}, {"n:40", "n:1", "a,*c,b"},
    };
    for (const Case& c : cases) {
        VariableRecord* list = MakeList("L$", {"t:a", "t:b", "t:c"});
        EXPECT_EQ(RunForNumber(Builtin_lmove, {list, c.from, c.to}), 1);
        EXPECT_EQ(Items(list), c.items) << c.from << " " << c.to;
    }
    VariableRecord* empty = MakeList("E$", {});
    EXPECT_EQ(RunForNumber(Builtin_lmove, {empty, "n:0", "n:1"}), 0);
}

// pop always leaves one value: the current item's, or 0 when there is none.
TEST_F(ListBuiltinsTest, PopPushesTheCurrentValueAndStepsBack) {
    VariableRecord* list = MakeList("L$", {"n:1", "t:b", "w:c"});
    struct Step {
        const char* popped;
        const char* items;
    };
    const Step steps[] = {{"w:c", "1,*b,w:c"}, {"t:b", "*1,b,w:c"}, {"n:1", "*1,b,w:c"}};
    for (const Step& step : steps) {
        Run(Builtin_pop, {list});
        EXPECT_EQ(StackDepth(), 1);
        EXPECT_EQ(PopDescription(), step.popped);
        EXPECT_EQ(Items(list), step.items);
    }
    VariableRecord* empty = MakeList("E$", {});
    VariableRecord* plain = Variable("P$");
    SetText(plain, "not a list");
    for (VariableRecord* variable : {empty, plain}) {
        Run(Builtin_pop, {variable});
        EXPECT_EQ(StackDepth(), 1);
        EXPECT_EQ(PopDescription(), "n:0");
    }
}

// The popped value is a copy of the item's, of its kind: it outlives the
// item, and a UTF-16 text or a matrix reads as one.
TEST_F(ListBuiltinsTest, PopPushesACopyThatOutlivesTheItem) {
    VariableRecord* list = MakeList("L$", {"t:text", "w:wide", "m:[1,{a},[2]]"});
    for (const char* expected : {"m:[1,{a},[2]]", "w:wide", "t:text"}) {
        GoTo(list, 99);
        ListNode* item = list->currentNode;
        Run(Builtin_pop, {list});
        EXPECT_NE(CurrentContext->stackTop->text, item->data);
        if (list->currentNode == item) ShowListItem(list, ListDeleteNode(item));
        else ListDeleteNode(item);
        EXPECT_EQ(StackDepth(), 1);
        EXPECT_EQ(PopDescription(), expected);
    }
    EXPECT_EQ(list->currentNode, nullptr);
}

TEST_F(ListBuiltinsTest, SortOrdersNumbersEitherWayAndTextsAscending) {
    struct Case {
        std::vector<std::string> values;
        const char* order;
        const char* caseSensitive;
        const char* items;
    };
    const Case cases[] = {
        {{"n:3", "n:1", "n:2"}, "n:1", "n:0", "1,2,*3"},
        {{"n:3", "n:1", "n:2"}, "n:0", "n:0", "3,2,*1"},
        {{"n:2", "n:1", "n:2", "n:1"}, "n:1", "n:0", "1,1,2,*2"},
        {{"t:b", "t:a", "t:A"}, "n:1", "n:0", "a,A,*b"},
        {{"t:b", "t:a", "t:A"}, "n:0", "n:0", "a,A,*b"},
        {{"t:b", "t:a", "t:A"}, "n:1", "n:1", "A,a,*b"},
        {{"t:b", "n:2", "t:a", "n:1"}, "n:1", "n:1", "1,2,a,*b"},
        // UTF-16 texts compare by their characters, not by their first byte.
        {{"w:ba", "w:ab", "w:aa"}, "n:1", "n:1", "w:aa,w:ab,*w:ba"},
        {{"w:bA", "w:Ab", "w:aa"}, "n:1", "n:0", "w:aa,w:Ab,*w:bA"},
        {{"w:ab", "t:b", "t:aa"}, "n:1", "n:1", "aa,w:ab,*b"},
    };
    for (const Case& c : cases) {
        VariableRecord* list = MakeList("L$", c.values);
        Run(Builtin_sort, {list, c.order, c.caseSensitive});
        EXPECT_EQ(StackDepth(), 0);
        EXPECT_EQ(Items(list), c.items) << c.items;
    }
}

// An item whose block holds no terminator (a structure whose bytes are all
// set) is compared only up to the end of its block: two such equal items
// keep their order, and nothing past either block is read.
TEST_F(ListBuiltinsTest, SortReadsNoItemPastItsBlock) {
    VariableRecord* first = MakeStructure("S$", 1, "one");
    VariableRecord* second = MakeStructure("R$", 2, "two");
    VariableRecord* list = MakeList("L$", {});
    Run(Builtin_listadd, {list, first, second}, true);
    std::vector<char*> blocks;
    for (ListNode* node = ListFirst(list->currentNode); node; node = node->next) {
        ASSERT_EQ(platform::GetBlockSize(node->data), 8u);
        std::memset(node->data, 'a', 8);
        blocks.push_back(node->data);
    }
    Run(Builtin_sort, {list, "n:1", "n:1"});
    ListNode* sorted = ListFirst(list->currentNode);
    EXPECT_EQ(sorted->data, blocks[0]);
    EXPECT_EQ(sorted->next->data, blocks[1]);
}

// The current item keeps its position and shows what was sorted into it.
TEST_F(ListBuiltinsTest, SortKeepsTheCurrentPosition) {
    VariableRecord* list = MakeList("L$", {"n:3", "n:1", "n:2"});
    GoTo(list, 0);
    Run(Builtin_sort, {list, "n:1", "n:0"});
    EXPECT_EQ(Items(list), "*1,2,3");
    EXPECT_EQ(Describe(list), "n:1");
}

TEST_F(ListBuiltinsTest, SplitCutsTheListAtAClampedPosition) {
    struct Case {
        const char* position;
        double result;
        const char* left;
        const char* cut;
    };
    const Case cases[] = {
        {"n:2", 3, "1,*2", "*3,4,5"},
        {"n:0", 5, "", "*1,2,3,4,5"},
        {"n:-3", 5, "", "*1,2,3,4,5"},
        {"n:99", 1, "1,2,3,*4", "*5"},
    };
    for (const Case& c : cases) {
        VariableRecord* list = MakeList("L$", {"n:1", "n:2", "n:3", "n:4", "n:5"});
        VariableRecord* target = MakeList("T$", {"t:old"});
        EXPECT_EQ(RunForNumber(Builtin_split, {list, c.position, target}), c.result) << c.position;
        EXPECT_EQ(Items(list), c.left) << c.position;
        EXPECT_EQ(Items(target), c.cut) << c.position;
        EXPECT_EQ(target->flags & kVarList, kVarList);
        if (!list->currentNode) {
            EXPECT_EQ(Describe(list), "n:0");
        }
    }
}

TEST_F(ListBuiltinsTest, SplitOfAnEmptyListOrIntoItselfCutsNothing) {
    VariableRecord* empty = MakeList("E$", {});
    VariableRecord* target = MakeList("T$", {"t:old"});
    EXPECT_EQ(RunForNumber(Builtin_split, {empty, "n:0", target}), 0);
    EXPECT_EQ(Items(target), "");
    EXPECT_EQ(target->flags & kVarList, kVarList);
    VariableRecord* list = MakeList("L$", {"n:1", "n:2"});
    EXPECT_EQ(RunForNumber(Builtin_split, {list, "n:1", list}), 0);
    EXPECT_EQ(Items(list), "1,*2");
}

TEST_F(ListBuiltinsTest, LcopyMakesADeepCopyStandingWhereTheSourceStands) {
    VariableRecord* source = MakeList("S$", {"t:one", "t:two", "t:three"});
    GoTo(source, 1);
    VariableRecord* copy = Variable("C$");
    SetText(copy, "replaced");
    Run(Builtin_lcopy, {source, copy});
    EXPECT_EQ(StackDepth(), 0);
    EXPECT_EQ(Items(copy), "one,*two,three");
    EXPECT_NE(copy->currentNode->data, source->currentNode->data);
    SetText(copy, "changed");
    EXPECT_EQ(Items(source), "one,*two,three");
    EXPECT_EQ(Items(copy), "one,*changed,three");
}

TEST_F(ListBuiltinsTest, LcopyexCopiesAClampedRange) {
    struct Case {
        const char* start;
        const char* end;
        const char* items;
    };
    // The source stands on "c" (position 2): the copy stands at position 2
    // too, clamped to its own items.
    const Case cases[] = {
        {"n:-1", "n:-1", "a,b,*c,d"}, {"n:1", "n:2", "b,*c"}, {"n:-1", "n:1", "a,*b"},
        {"n:3", "n:1", ""},           {"n:9", "n:-1", "*d"},  {"n:1", "n:99", "b,c,*d"},
    };
    VariableRecord* source = MakeList("S$", {"t:a", "t:b", "t:c", "t:d"});
    VariableRecord* copy = Variable("C$");
    for (const Case& c : cases) {
        GoTo(source, 2);
        Run(Builtin_lcopyex, {source, copy, c.start, c.end});
        EXPECT_EQ(StackDepth(), 0);
        EXPECT_EQ(Items(copy), c.items) << c.start << ".." << c.end;
        EXPECT_EQ(copy->flags & kVarList, kVarList);
    }
}

TEST_F(ListBuiltinsTest, CopyReplacesTheDestinationsCurrentItem) {
    VariableRecord* source = MakeList("S$", {"t:a", "t:four"});
    VariableRecord* destination = MakeList("D$", {"t:x", "t:y"});
    Run(Builtin_copy, {source, destination});
    EXPECT_EQ(StackDepth(), 0);
    EXPECT_EQ(Items(destination), "x,*four");
    EXPECT_EQ(Describe(destination), "t:four") << "the destination shows its new item at once";
    EXPECT_NE(destination->currentNode->data, source->currentNode->data);

    VariableRecord* empty = MakeList("E$", {});
    Run(Builtin_copy, {source, empty});
    EXPECT_EQ(Items(empty), "*four");

    VariableRecord* nothing = MakeList("N$", {});
    Run(Builtin_copy, {nothing, destination});
    EXPECT_EQ(Items(destination), "x,*four");
}

TEST_F(ListBuiltinsTest, AddlistAppendsCopiesOfEveryItemOfEachSource) {
    VariableRecord* numbers = MakeList("N$", {"n:1", "n:2"});
    VariableRecord* texts = MakeList("T$", {"t:a", "w:b", "m:[3]"});
    GoTo(texts, 0);
    VariableRecord* empty = MakeList("E$", {});
    VariableRecord* plain = Variable("P$");
    VariableRecord* target = MakeList("L$", {"n:0"});
    Run(Builtin_addlist, {target, numbers, texts, empty, plain, "t:not a variable"}, true);
    EXPECT_EQ(StackDepth(), 0);
    EXPECT_EQ(Items(target), "0,1,2,a,w:b,*m");
    EXPECT_EQ(Describe(target), "m:[3]");
    SetText(target, "changed");
    EXPECT_EQ(Items(texts), "*a,w:b,m");

    Run(Builtin_addlist, {numbers, numbers}, true);
    EXPECT_EQ(Items(numbers), "1,2,1,*2");

    VariableRecord* alone = MakeList("A$", {"t:x"});
    Run(Builtin_addlist, {alone}, true);
    EXPECT_EQ(Items(alone), "x,*0");
}

TEST_F(ListBuiltinsTest, ListEmptiesEveryArgument) {
    VariableRecord* list = MakeList("L$", {"t:a", "t:b"});
    VariableRecord* plain = Variable("P$");
    SetText(plain, "text");
    Run(Builtin_list, {list, plain}, true);
    EXPECT_EQ(StackDepth(), 0);
    for (VariableRecord* variable : {list, plain}) {
        EXPECT_EQ(variable->flags & kVarList, kVarList);
        EXPECT_EQ(variable->currentNode, nullptr);
        EXPECT_EQ(Describe(variable), "n:0");
    }
    EXPECT_EQ(RunForNumber(Builtin_islist, {list, plain, "t:X$"}, true), 2);
}

// A text argument names the list: the variable is found or made by name.
TEST_F(ListBuiltinsTest, AListNamedByTextIsTheVariableOfThatName) {
    Run(Builtin_listadd, {"t:named$", "n:5"}, true);
    VariableRecord* named = FindVariable("NAMED$", 0);
    ASSERT_NE(named, nullptr);
    EXPECT_EQ(Items(named), "*5");
    EXPECT_EQ(RunForNumber(Builtin_count, {"t:named$"}, true), 1);
}

// --- structure items ------------------------------------------------------------

TEST_F(ListBuiltinsTest, AddCopiesAStructureWithItsMembers) {
    VariableRecord* structure = MakeStructure("S$", 11, "text");
    VariableRecord* list = MakeList("L$", {});
    Run(Builtin_listadd, {list, structure}, true);
    EXPECT_EQ(Items(list), "*s");
    EXPECT_NE(list->data, structure->data);
    VariableRecord* a = FindVariable("L.A$", 0);
    VariableRecord* t = FindVariable("L.T$", 0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(Describe(a), "n:11");
    EXPECT_EQ(Describe(t), "t:text");
    SetVariableValue(FindVariable("S.A$", 0), nullptr, 12, nullptr, 0);
    EXPECT_EQ(Describe(a), "n:11");
}

// Each list reaches its structure items through member records of its own
// name: cutting or copying items never moves another list's members.
TEST_F(ListBuiltinsTest, CutAndCopiedStructureItemsGetMembersOfTheirNewList) {
    VariableRecord* first = MakeStructure("S$", 1, "one");
    VariableRecord* second = MakeStructure("R$", 2, "two");
    VariableRecord* list = MakeList("L$", {});
    Run(Builtin_listadd, {list, first, second}, true);
    VariableRecord* listA = FindVariable("L.A$", 0);
    ASSERT_NE(listA, nullptr);

    enum class Step { Lcopy, Copy, Split };
    struct Case {
        Step step;
        const char* memberName;
        const char* listShows;  // L.A$ afterwards
    };
    const Case cases[] = {{Step::Lcopy, "C.A$", "n:2"}, {Step::Copy, "K.A$", "n:2"}, {Step::Split, "M.A$", "n:1"}};
    for (const Case& c : cases) {
        std::string name = std::string(c.memberName).substr(0, 1) + "$";
        VariableRecord* destination = MakeList(name.c_str(), {});
        switch (c.step) {
        case Step::Lcopy: Run(Builtin_lcopy, {list, destination}); break;
        case Step::Copy: Run(Builtin_copy, {list, destination}); break;
        case Step::Split: EXPECT_EQ(RunForNumber(Builtin_split, {list, "n:1", destination}), 1); break;
        }
        VariableRecord* member = FindVariable(c.memberName, 0);
        ASSERT_NE(member, nullptr) << c.memberName;
        EXPECT_EQ(member->parent, destination) << c.memberName;
        EXPECT_EQ(Describe(member), "n:2") << c.memberName;
        EXPECT_EQ(listA->parent, list) << c.memberName;
        EXPECT_EQ(Describe(listA), c.listShows) << c.memberName;
    }
}

}  // namespace
}  // namespace qob::testing
