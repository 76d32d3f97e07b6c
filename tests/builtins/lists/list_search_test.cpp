// tests/builtins/lists/list_search_test.cpp
// Finding list items: the match rules of find (texts, cases, trims, fields,
// numbers, structure members, ranges), the matcher's item pointer, and delall.
#include "builtins/lists/list_search.h"

#include <string>
#include <vector>

#include "builtins/lists/list_builtins.h"
#include "builtins/lists/list_fixture.h"
#include "runtime/values/list_values.h"

namespace qob::testing {
namespace {

using ListSearchTest = ListTest;

struct FindCase {
    const char* start;
    const char* end;
    const char* value;
    const char* delimiter;
    const char* field;
    uint32_t flags;
    double expected;
};

TEST_F(ListSearchTest, FindGivesThePositionOfTheFirstMatch) {
    VariableRecord* list = MakeList("L$", {"t:x,yy,z", "t:apple", "t:Apple", "t:pear", "t:  apple  ", "n:0", "n:2",
                                           "t:2", "w:wide", "m:[1]", "t:last"});
    GoTo(list, 3);
    const FindCase cases[] = {
        {"n:-1", "n:-1", "t:ap", "n:0", "n:0", kMatchBegins, 1},
        {"n:-1", "n:-1", "t:Apple", "n:0", "n:0", kMatchCaseSensitive, 2},
        {"n:-1", "n:-1", "t:APPLE", "n:0", "n:0", 0, 1},
        {"n:2", "n:-1", "t:pl", "n:0", "n:0", kMatchContains, 2},
        {"n:-1", "n:-1", "t:pl", "n:0", "n:0", kMatchContains | kMatchBegins, 1},
        {"n:-1", "n:-1", "t:AR", "n:0", "n:0", kMatchEnds, 3},
        {"n:-1", "n:-1", "t:a text longer than any item", "n:0", "n:0", kMatchEnds, -1},
        {"n:3", "n:-1", "t:apple", "n:0", "n:0", 0, -1},
        {"n:3", "n:-1", "t:apple", "n:0", "n:0", kMatchTrimBoth, 4},
        {"n:3", "n:-1", "t:apple  ", "n:0", "n:0", kMatchTrimLeading, 4},
        {"n:3", "n:-1", "t:apple  ", "n:0", "n:0", kMatchTrimLeadingToo, 4},
        {"n:-1", "n:-1", "t:yy", "t:,", "n:1", 0, 0},
        {"n:-1", "n:-1", "t:x", "t:,", "n:0", 0, 0},
        {"n:-1", "n:-1", "t:x,yy,z", "t:,", "n:5", 0, 0},
        {"n:-1", "n:-1", "t:yy", "t:", "n:1", 0, -1},
        {"n:-1", "n:1", "t:pear", "n:0", "n:0", 0, -1},
        {"n:-1", "n:99", "t:pear", "n:0", "n:0", 0, 3},
        {"n:99", "n:-1", "t:last", "n:0", "n:0", 0, 10},
        {"n:-7", "n:-1", "t:x,yy,z", "n:0", "n:0", 0, 0},
        {"n:-1", "n:-1", "n:2", "n:0", "n:0", kMatchNumeric, 6},
        {"n:7", "n:-1", "t:2", "n:0", "n:0", kMatchNumeric, 7},
        {"n:-1", "n:-1", "t:2", "n:0", "n:0", 0, 6},
        {"n:-1", "n:-1", "n:2", "n:0", "n:0", 0, 6},
        {"n:-1", "n:-1", "t:0", "n:0", "n:0", 0, 5},
        {"n:-1", "n:-1", "t:kiwi", "n:0", "n:0", 0, -1},
        {"n:-1", "n:-1", "t:WIDE", "n:0", "n:0", 0, 8},
        {"n:-1", "n:-1", "n:1", "n:0", "n:0", kMatchNumeric, -1},
    };
    for (const FindCase& c : cases) {
        const std::string flags = "n:" + std::to_string(c.flags);
        EXPECT_EQ(RunForNumber(Builtin_find,
                               {list, c.start, c.end, c.value, c.delimiter, c.field, "n:0", flags.c_str()}),
                  c.expected)
            << c.value << " from " << c.start << " to " << c.end << " flags " << std::hex << c.flags;
    }
    EXPECT_EQ(RunForNumber(Builtin_lpos, {list}), 3) << "find never moves the current item";
    EXPECT_EQ(Describe(list), "t:pear");
}

// Each delimiter ends a field, but the search for the next one starts one
// character into the field: only the first field can be empty, and a
// delimiter that ends the text stays in the last field.
TEST_F(ListSearchTest, FieldsOfADelimitedItem) {
    struct Case {
        const char* item;
        const char* delimiter;
        const char* field;
        const char* key;
    };
    const Case cases[] = {
        {"t:a,,b", "t:,", "n:1", "t:,b"},   {"t:a,b,", "t:,", "n:1", "t:b,"},  {"t:,a", "t:,", "n:0", "t:"},
        {"t:,a", "t:,", "n:1", "t:a"},      {"t:k=>v", "t:=>", "n:1", "t:v"}, {"t:k=>v", "t:=>", "n:0", "t:k"},
        {"t:1 2 3", "n:0", "n:1", "t:1 2 3"},
        // The item is cut at the delimiter as written, and only then upper-cased.
        {"t:axb", "t:x", "n:1", "t:b"},     {"t:AxBxc", "t:x", "n:2", "t:C"},
    };
    for (const Case& c : cases) {
        VariableRecord* list = MakeList("L$", {c.item});
        EXPECT_EQ(RunForNumber(Builtin_find, {list, "n:-1", "n:-1", c.key, c.delimiter, c.field, "n:0", "n:0"}), 0)
            << c.item << " field " << c.field;
    }
}

TEST_F(ListSearchTest, StructureItemsAreComparedOnTheNamedMember) {
    VariableRecord* one = MakeStructure("S$", 1, "one");
    VariableRecord* two = MakeStructure("R$", 2, "two");
    VariableRecord* list = MakeList("L$", {});
    Run(Builtin_listadd, {list, one, two}, true);
    struct Case {
        const char* value;
        const char* member;
        uint32_t flags;
        double expected;
    };
    const Case cases[] = {
        {"n:2", "n:0", kMatchNumeric, 1}, {"n:1", "n:0", kMatchNumeric, 0}, {"t:1", "n:0", 0, 0},
        {"t:TWO", "n:1", 0, 1},           {"t:on", "n:1", kMatchBegins, 0}, {"n:2", "n:1", kMatchNumeric, -1},
        {"t:one", "n:2", 0, -1},          {"n:1", "n:-1", kMatchNumeric, -1},
    };
    for (const Case& c : cases) {
        const std::string flags = "n:" + std::to_string(c.flags);
        EXPECT_EQ(RunForNumber(Builtin_find, {list, "n:-1", "n:-1", c.value, "n:0", "n:0", c.member, flags.c_str()}),
                  c.expected)
            << c.value << " member " << c.member;
    }
}

TEST_F(ListSearchTest, TheMatcherLeavesItsItemOnTheMatch) {
    VariableRecord* list = MakeList("L$", {"t:a", "t:b", "t:a", "t:c"});
    ListNode* item = list->currentNode;
    EXPECT_EQ(ListMatchItem(&item, 1, -1, "A", 0, nullptr, 0, 0, 0), 2);
    EXPECT_EQ(item, ListNodeAt(list->currentNode, 2));
    ListNode* missing = list->currentNode;
    EXPECT_EQ(ListMatchItem(&missing, -1, -1, "z", 0, nullptr, 0, 0, 0), -1);
    EXPECT_EQ(missing, list->currentNode);
    ListNode* none = nullptr;
    EXPECT_EQ(ListMatchItem(&none, -1, -1, "a", 0, nullptr, 0, 0, 0), -1);
}

TEST_F(ListSearchTest, FindOnAnEmptyListOrAVariableThatIsNoList) {
    VariableRecord* empty = MakeList("E$", {});
    VariableRecord* plain = Variable("P$");
    SetText(plain, "a");
    for (VariableRecord* variable : {empty, plain})
        EXPECT_EQ(RunForNumber(Builtin_find, {variable, "n:-1", "n:-1", "t:a", "n:0", "n:0", "n:0", "n:0"}), -1);
}

TEST_F(ListSearchTest, DelallDeletesEveryMatchAndMakesTheFirstItemCurrent) {
    struct Case {
        const char* value;
        const char* delimiter;
        uint32_t flags;
        double deleted;
        const char* items;
    };
    const Case cases[] = {
        {"t:Apple", "n:0", kMatchCaseSensitive, 1, "*apple,  apple ,pear,2,2,10,b;c"},
        {"t:apple", "n:0", kMatchTrimBoth, 3, "*pear,2,2,10,b;c"},
        {"n:2", "n:0", kMatchNumeric, 2, "*apple,Apple,  apple ,pear,10,b;c"},
        {"t:kiwi", "n:0", 0, 0, "*apple,Apple,  apple ,pear,2,2,10,b;c"},
        {"t:10", "n:0", 0, 1, "*apple,Apple,  apple ,pear,2,2,b;c"},
        {"t:C", "t:;", kMatchBegins, 0, "*apple,Apple,  apple ,pear,2,2,10,b;c"},
        {"t:B", "t:;", 0, 1, "*apple,Apple,  apple ,pear,2,2,10"},
        {"t:", "n:0", kMatchContains, 8, ""},
    };
    for (const Case& c : cases) {
        VariableRecord* list =
            MakeList("L$", {"t:apple", "t:Apple", "t:  apple ", "t:pear", "n:2", "t:2", "t:10", "t:b;c"});
        GoTo(list, 3);
        const std::string flags = "n:" + std::to_string(c.flags);
        EXPECT_EQ(RunForNumber(Builtin_delall, {list, c.value, c.delimiter, "n:0", "n:0", flags.c_str()}), c.deleted)
            << c.value;
        EXPECT_EQ(Items(list), c.items) << c.value;
        if (!list->currentNode) {
            EXPECT_EQ(Describe(list), "n:0") << "an emptied list shows no deleted item";
            EXPECT_EQ(RunForNumber(Builtin_lpos, {list}), -1);
        }
    }
    VariableRecord* plain = Variable("P$");
    EXPECT_EQ(RunForNumber(Builtin_delall, {plain, "t:a", "n:0", "n:0", "n:0", "n:0"}), 0);
}

}  // namespace
}  // namespace qob::testing
