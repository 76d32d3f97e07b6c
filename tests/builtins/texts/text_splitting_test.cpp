// tests/builtins/texts/text_splitting_test.cpp
// Texts split into lists and arrays (checked against Python's str.split and
// re.split), lists joined into texts, and structures as lists of member
// names and values, on 8-bit and UTF-16 texts.
#include "builtins/texts/text_splitting.h"

#include <cstring>
#include <string>
#include <vector>

#include "builtins/lists/list_builtins.h"
#include "builtins/lists/list_conversions.h"
#include "builtins/lists/list_fixture.h"
#include "platform/memory.h"
#include "runtime/data/wide_text.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/list_values.h"

namespace qob::testing {
namespace {

using TextSplittingTest = ListTest;

// The list's items from the first as Items describes them, "|"-separated
// (pieces may hold commas), and the position of the current one.
std::string Pieces(VariableRecord* list) {
    std::string out;
    for (ListNode* node = ListFirst(list->currentNode); node; node = node->next) {
        if (node != ListFirst(list->currentNode)) out += "|";
        if (!node->data) {
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

std::string Join(const std::vector<std::string>& pieces) {
    std::string out;
    for (size_t i = 0; i < pieces.size(); ++i) out += (i ? "|" : "") + pieces[i];
    return out;
}

// The expected pieces are Python's: str.split(separator) for strtolist,
// re.split("[" + re.escape(characters) + "]") for strtolistex (python3).
TEST_F(TextSplittingTest, ListFormsAgreeWithPythonSplit) {
    struct Case {
        void (*handler)();
        const char* text;
        const char* separator;
        std::vector<std::string> pieces;
    };
    const Case cases[] = {
        {Builtin_strtolist, "a,b,,c", ",", {"a", "b", "", "c"}},
        {Builtin_strtolist, "a,", ",", {"a", ""}},
        {Builtin_strtolist, ",a", ",", {"", "a"}},
        {Builtin_strtolist, "a::b", "::", {"a", "b"}},
        {Builtin_strtolist, "ab", "abc", {"ab"}},
        {Builtin_strtolist, "x", "x", {"", ""}},
        {Builtin_strtolist, ",,", ",", {"", "", ""}},
        {Builtin_strtolist, "a::::b", "::", {"a", "", "b"}},
        {Builtin_strtolist, "aaa", "aa", {"", "a"}},
        {Builtin_strtolist, "no separator here", ";", {"no separator here"}},
        {Builtin_strtolist, "one two  three", " ", {"one", "two", "", "three"}},
        {Builtin_strtolistex, "a;b,c", ",;", {"a", "b", "c"}},
        {Builtin_strtolistex, "a;;b", ";", {"a", "", "b"}},
        {Builtin_strtolistex, ";a,", ",;", {"", "a", ""}},
        {Builtin_strtolistex, "abc", "x", {"abc"}},
        {Builtin_strtolistex, "x-y_z", "_-", {"x", "y", "z"}},
    };
    for (const Case& c : cases) {
        VariableRecord* list = MakeList("L$", {"t:old", "n:1"});
        const std::string text = std::string("t:") + c.text;
        const std::string separator = std::string("t:") + c.separator;
        EXPECT_EQ(RunForNumber(c.handler, {text.c_str(), separator.c_str(), list}), c.pieces.size()) << c.text;
        EXPECT_EQ(Pieces(list), Join(c.pieces)) << c.text;
        EXPECT_EQ(ListIndexOf(list->currentNode), 0u) << c.text;
        EXPECT_EQ(Describe(list), "t:" + c.pieces.front()) << c.text;
        for (ListNode* node = ListFirst(list->currentNode); node; node = node->next)
            EXPECT_EQ(node->flags, kVarOwnsData) << c.text;
    }
}

// The empty text gives no piece; an empty separator (whole or any-character)
// matches nowhere, so the text is one piece, and the split ends.
TEST_F(TextSplittingTest, EmptyTextsAndSeparators) {
    VariableRecord* list = MakeList("L$", {"t:old"});
    EXPECT_EQ(RunForNumber(Builtin_strtolist, {"t:", "t:,", list}), 0);
    EXPECT_TRUE(list->flags & kVarList);
    EXPECT_EQ(list->currentNode, nullptr);
    EXPECT_EQ(RunForNumber(Builtin_count, {list}, true), 0);
    EXPECT_EQ(RunForNumber(Builtin_lpos, {list}), -1);
    EXPECT_EQ(Describe(list), "n:0");
    for (void (*handler)() : {Builtin_strtolist, Builtin_strtolistex}) {
        EXPECT_EQ(RunForNumber(handler, {"t:a,b", "t:", list}), 1);
        EXPECT_EQ(Pieces(list), "a,b");
    }
    EXPECT_EQ(RunForNumber(Builtin_strtolistex, {"t:", "t:", list}), 0);
}

TEST_F(TextSplittingTest, IntFormsKeepNumbers) {
    VariableRecord* list = MakeList("L$", {});
    EXPECT_EQ(RunForNumber(Builtin_strtolistint, {"t:1,2.5,x", "t:,", list}), 3);
    EXPECT_EQ(Pieces(list), "1|2.5|0");
    for (ListNode* node = ListFirst(list->currentNode); node; node = node->next) {
        EXPECT_EQ(node->data, nullptr);
        EXPECT_EQ(node->flags, 0u);
    }
    EXPECT_EQ(Describe(list), "n:1");
    EXPECT_EQ(RunForNumber(Builtin_strtolistintex, {"t:4;-5, 0x10", "t:;,", list}), 3);
    EXPECT_EQ(Pieces(list), "4|-5|0");
    EXPECT_EQ(RunForNumber(Builtin_strtolistintex, {"w:7/8", "t:/", list}), 2);
    EXPECT_EQ(Pieces(list), "7|8");
}

TEST_F(TextSplittingTest, WideTextsGiveWidePieces) {
    VariableRecord* list = MakeList("L$", {});
    EXPECT_EQ(RunForNumber(Builtin_strtolist, {"w:a\xC3\xA9::b::", "t:::", list}), 3);
    EXPECT_EQ(Pieces(list), "w:a\xC3\xA9|w:b|w:");
    for (ListNode* node = ListFirst(list->currentNode); node; node = node->next)
        EXPECT_EQ(node->flags, kVarOwnsData | kVarWideText);
    EXPECT_EQ(Describe(list), "w:a\xC3\xA9");
    EXPECT_EQ(RunForNumber(Builtin_strtolistex, {"w:x,y;z", "w:;,", list}), 3);
    EXPECT_EQ(Pieces(list), "w:x|w:y|w:z");
    // An 8-bit text keeps 8-bit pieces whatever the separator's width.
    EXPECT_EQ(RunForNumber(Builtin_strtolist, {"t:p\xC3\xA9q", "w:\xC3\xA9", list}), 2);
    EXPECT_EQ(Pieces(list), "p|q");
}

// The text (and separator) are read before the list is released: a list
// split from its own value, or from its own current item, gets the pieces.
TEST_F(TextSplittingTest, AListSplitsItsOwnText) {
    VariableRecord* plain = Variable("P$");
    SetText(plain, "x,y,z");
    EXPECT_EQ(RunForNumber(Builtin_strtolist, {plain, "t:,", plain}), 3);
    EXPECT_EQ(Pieces(plain), "x|y|z");
    VariableRecord* list = MakeList("L$", {"t:a;b", "t:;"});
    GoTo(list, 0);
    Run(Builtin_strtolist, {list, "t:;", list});
    EXPECT_EQ(PopValue(), 2);
    EXPECT_EQ(Pieces(list), "a|b");
}

TEST_F(TextSplittingTest, ArrayFormsStoreByElementType) {
    struct Case {
        void (*handler)();
        int32_t type;  // 0: a variable without elements
        uint32_t count;
        const char* text;
        double pieces;
        const char* elements;
    };
    const Case cases[] = {
        {Builtin_strtoarray, 0, 0, "a,bc,", 3, "a,bc,"},
        {Builtin_strtoarrayint, 0, 0, "1,2.5,x", 3, "1,2.5,0"},
        {Builtin_strtoarray, -4, 3, "ab,c,d", 3, "ab,c,d"},
        {Builtin_strtoarray, -3, 2, "ab,c", 2, "w:ab,w:c"},
        // 1- and 2-byte elements cannot hold an address: the number.
        {Builtin_strtoarray, -2, 3, "12,x,-3", 3, "12,0,-3"},
        {Builtin_strtoarray, -1, 2, "200,7", 2, "200,7"},
        // A fixed-width element takes the characters, cut to its width.
        {Builtin_strtoarray, 3, 2, "abcdef,g", 2, "abc,g"},
        {Builtin_strtoarrayint, -2, 2, "5,-6", 2, "5,-6"},
        // More pieces than elements: as many as fit; the count is of the pieces.
        {Builtin_strtoarray, -4, 2, "p,q,r,s", 4, "p,q"},
        {Builtin_strtoarrayint, -8, 1, "1,2,3", 3, "1"},
    };
    for (const Case& c : cases) {
        VariableRecord* array = c.type ? MakeArray("A$", c.type, c.count) : Variable("A$");
        const std::string text = std::string("t:") + c.text;
        EXPECT_EQ(RunForNumber(c.handler, {text.c_str(), "t:,", array}), c.pieces) << c.text;
        EXPECT_EQ(Elements(array), c.elements) << c.text;
        if (!c.type) {
            EXPECT_EQ(array->type, -8);
            EXPECT_EQ(array->elementCount, c.pieces);
        }
        ReleaseVariable(context, array, false, false);
    }
}

TEST_F(TextSplittingTest, ArrayFormsReplaceTheTextsTheyStoredBefore) {
    VariableRecord* array = MakeArray("A$", -4, 2);
    const int64_t before = LiveValueBlocks();
    EXPECT_EQ(RunForNumber(Builtin_strtoarray, {"t:a,b", "t:,", array}), 2);
    EXPECT_EQ(RunForNumber(Builtin_strtoarray, {"t:c,d", "t:,", array}), 2);
    EXPECT_EQ(Elements(array), "c,d");
    EXPECT_EQ(LiveValueBlocks(), before + 4);  // two texts and their two links
    EXPECT_EQ(RunForNumber(Builtin_strtoarray, {"t:", "t:,", array}), 0);
    EXPECT_EQ(Elements(array), "c,d");
}

TEST_F(TextSplittingTest, ListToStrJoinsEveryItem) {
    VariableRecord* list = MakeList("L$", {"t:a", "n:2", "t:c"});
    Run(Builtin_listtostr, {list, "t:, ", "t:[", "t:]"});
    EXPECT_EQ(PopDescription(), "t:[a], [2], [c]");
    Run(Builtin_listtostr, {list, "n:0", "t:", "t:"});
    EXPECT_EQ(PopDescription(), "t:a020c");
    VariableRecord* plain = Variable("P$");
    SetText(plain, "not a list");
    Run(Builtin_listtostr, {plain, "t:,", "t:", "t:"});
    EXPECT_EQ(PopDescription(), "t:");
    VariableRecord* empty = MakeList("E$", {});
    Run(Builtin_listtostr, {empty, "t:,", "t:<", "t:>"});
    EXPECT_EQ(PopDescription(), "t:");
    // One UTF-16 item makes the whole result UTF-16, 8-bit parts widened.
    VariableRecord* mixed = MakeList("M$", {"t:\xC3\xA9t\xC3\xA9", "w:\xE2\x82\xAC", "n:1.5", "m:[1,{x}]"});
    Run(Builtin_listtostr, {mixed, "t:;", "t:\xC2\xAB", "w:\xC2\xBB"});
    EXPECT_EQ(PopDescription(),
              "w:\xC2\xAB\xC3\xA9t\xC3\xA9\xC2\xBB;\xC2\xAB\xE2\x82\xAC\xC2\xBB;\xC2\xAB" "1.5\xC2\xBB;\xC2\xAB[1,{x}]\xC2\xBB");
}

// An item whose text is not the start of a block is measured by its
// terminator; an item whose block has no terminator is read to its block's
// end and no further.
TEST_F(TextSplittingTest, ListToStrReadsNoItemPastItsBlock) {
    VariableRecord* list = MakeList("L$", {"t:first"});
    char* open = static_cast<char*>(AllocateValueBlock(3));
    std::memcpy(open, "abc", 3);
    char* host = CopyValueText("..inner");
    ListNode* unterminated = ListAppend(list->currentNode);
    unterminated->data = open;
    unterminated->flags = kVarOwnsData;
    StampListNode(unterminated);
    ListNode* borrowed = ListAppend(unterminated);
    borrowed->data = host + 2;
    StampListNode(borrowed);
    Run(Builtin_listtostr, {list, "t:+", "t:", "t:"});
    EXPECT_EQ(PopDescription(), "t:first+abc+inner");
    ListDeleteNode(borrowed);
    FreeValueBlock(host);
}

TEST_F(TextSplittingTest, StructureNamesAndMembership) {
    VariableRecord* s = MakeStructure("S$", 5, "txt");
    VariableRecord* list = MakeList("L$", {"t:old"});
    EXPECT_EQ(RunForNumber(Builtin_structdeftolist, {s, list}), 0);
    EXPECT_EQ(Pieces(list), "A|T");
    EXPECT_EQ(Describe(list), "t:A");
    VariableRecord* name = Variable("N$");
    SetText(name, "t");
    EXPECT_EQ(RunForNumber(Builtin_isstructdef, {s, name}), 1);
    EXPECT_EQ(TextOf(name), "t");  // the caller's text is not upper-cased
    EXPECT_EQ(RunForNumber(Builtin_isstructdef, {s, "t:a"}), 1);
    EXPECT_EQ(RunForNumber(Builtin_isstructdef, {s, "t:t$"}), 0);
    EXPECT_EQ(RunForNumber(Builtin_isstructdef, {s, "t:S.T"}), 0);
    EXPECT_EQ(RunForNumber(Builtin_isstructdef, {s, "t:b"}), 0);
    EXPECT_EQ(RunForNumber(Builtin_isstructdef, {name, "t:t"}), 0);
}

TEST_F(TextSplittingTest, StructuresRoundTripThroughLists) {
    for (int32_t textType : {-4, -3}) {
        VariableRecord* s = MakeStructure("S$", 5, "t\xC3\xA9xt", textType);
        VariableRecord* list = MakeList("L$", {});
        EXPECT_EQ(RunForNumber(Builtin_structtolist, {s, list}), 2);
        const std::string shown = textType == -3 ? "5|w:t\xC3\xA9xt" : "5|t\xC3\xA9xt";
        EXPECT_EQ(Pieces(list), shown);
        const uint32_t textFlags = textType == -3 ? kVarOwnsData | kVarWideText : kVarOwnsData;
        EXPECT_EQ(ListFirst(list->currentNode)->next->flags, textFlags);
        VariableRecord* copy = MakeStructure("C$", 0, "", textType);
        EXPECT_EQ(RunForNumber(Builtin_listtostruct, {list, copy}), 2);
        EXPECT_EQ(RunForNumber(Builtin_structtolist, {copy, list}), 2);
        EXPECT_EQ(Pieces(list), shown);
        // Items of the other width arrive in the member's own width.
        VariableRecord* other = MakeList("O$", {"n:9", textType == -3 ? "t:n\xC3\xA9w" : "w:n\xC3\xA9w", "n:99"});
        EXPECT_EQ(RunForNumber(Builtin_listtostruct, {other, copy}), 2);
        EXPECT_EQ(RunForNumber(Builtin_structtolist, {copy, list}), 2);
        EXPECT_EQ(Pieces(list), textType == -3 ? "9|w:n\xC3\xA9w" : "9|n\xC3\xA9w");
        ReleaseVariable(context, s, false, false);
        ReleaseVariable(context, copy, false, false);
    }
    VariableRecord* plain = Variable("P$");
    VariableRecord* s = MakeStructure("S$", 1, "x");
    EXPECT_EQ(RunForNumber(Builtin_listtostruct, {plain, s}), 0);
    VariableRecord* shortList = MakeList("L$", {"n:3"});
    EXPECT_EQ(RunForNumber(Builtin_listtostruct, {shortList, s}), 1);
    EXPECT_EQ(NumberOf(Variable("S.A$")), 3);
}

}  // namespace
}  // namespace qob::testing
