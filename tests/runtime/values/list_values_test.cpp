// Tests of list chains: positions, insertion, deletion, moves, sort, stamps,
// and the list variable's load and store of its current node.
#include "runtime/values/list_values.h"

#include "runtime/data/number_text.h"
#include "runtime/memory/memory_links.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/values_fixture.h"
#include "runtime/values/variable_store.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace qob {
namespace {

using testing::NumberOf;
using testing::TextOf;
using testing::ValuesTest;

// A chain of nodes: numbers as given, texts (owned by their nodes) for strings.
struct Item {
    double number;
    const char* text;
};

ListNode* MakeList(std::initializer_list<Item> items) {
    ListNode* last = nullptr;
    ListNode* first = nullptr;
    for (const Item& item : items) {
        last = ListAppend(last);
        if (!first)
            first = last;
        last->value = item.number;
        if (item.text) {
            last->data = CopyValueText(item.text);
            last->flags = kVarOwnsData;
        }
        StampListNode(last);
    }
    return first;
}

std::string Describe(ListNode* node) {
    std::string out;
    for (node = ListFirst(node); node; node = node->next) {
        if (!out.empty())
            out += ",";
        if (node->data) {
            out += node->data;
        } else {
            char number[kNumberTextSize];
            FormatNumber(node->value, number);
            out += number;
        }
    }
    return out;
}

using ListValuesTest = ValuesTest;

TEST_F(ListValuesTest, CountAndPositionsClampToTheEnds) {
    EXPECT_EQ(ListCount(nullptr), 0u);
    EXPECT_EQ(ListNodeAt(nullptr, 2), nullptr);
    ListNode* list = MakeList({{1, nullptr}, {2, nullptr}, {3, nullptr}});
    ListNode* lone = MakeList({{7, nullptr}});
    EXPECT_EQ(ListCount(lone), 1u);
    EXPECT_EQ(ListCount(list->next), 3u);
    struct Case { int64_t index; double value; };
    constexpr Case kCases[] = {{0, 1}, {1, 2}, {2, 3}, {99, 3}, {-5, 1}};
    for (auto c : kCases)
        EXPECT_EQ(ListNodeAt(list->next->next, c.index)->value, c.value) << c.index;
    EXPECT_EQ(ListIndexOf(list->next->next), 2u);
    ListFree(list, true);
    ListFree(lone, true);
}

TEST_F(ListValuesTest, PositionsStayRightAcrossChanges) {
    // Repeated positional calls reuse their last answer; every change of the
    // chain must be seen by the next call.
    ListNode* list = MakeList({{0, nullptr}, {1, nullptr}, {2, nullptr}, {3, nullptr}});
    EXPECT_EQ(ListNodeAt(list, 2)->value, 2);
    EXPECT_EQ(ListNodeAt(list, 3)->value, 3);
    EXPECT_EQ(ListNodeAt(list, 1)->value, 1);
    ListNode* inserted = ListInsertBefore(ListNodeAt(list, 1));
    inserted->value = 9;
    EXPECT_EQ(ListNodeAt(list, 1), inserted);
    EXPECT_EQ(ListNodeAt(list, 2)->value, 1);
    ListDeleteNode(inserted);
    EXPECT_EQ(ListNodeAt(list, 1)->value, 1);
    ListNode* handle = list;
    ListMoveNode(&handle, 3, 0);
    EXPECT_EQ(ListNodeAt(list, 0)->value, 3);
    EXPECT_EQ(ListNodeAt(list->next, 9)->value, 2);
    // Appending through the same handle keeps going at the end.
    ListNode* first = ListFirst(list);
    for (int i = 0; i < 3; ++i)
        ListAppend(first)->value = 10 + i;
    EXPECT_EQ(Describe(first), "3,0,1,2,10,11,12");
    ListNode* tail = ListLast(first);
    ListDeleteNode(tail);
    ListAppend(first)->value = 13;
    EXPECT_EQ(Describe(first), "3,0,1,2,10,11,13");
    ListFree(first, true);
}

// The ends and length of a chain, asked from its ends after it was built by
// appends and counted, must follow every change made since, to it or to
// another chain, and be asked of either chain after a cut.
TEST_F(ListValuesTest, EndsAndLengthFollowEveryChange) {
    struct Ends {
        ListNode* first;
        ListNode* last;
        uint32_t count;
    };
    auto walk = [](ListNode* node) {
        Ends ends{node, node, 1};
        while (ends.first->previous) {
            ends.first = ends.first->previous;
            ++ends.count;
        }
        while (ends.last->next) {
            ends.last = ends.last->next;
            ++ends.count;
        }
        return ends;
    };
    auto expectEnds = [&](ListNode* node, const char* what) {
        const Ends expected = walk(node);
        // Counts last: a count that walks would mend a wrong memo.
        for (ListNode* asked : {expected.first, expected.last, node}) {
            EXPECT_EQ(ListFirst(asked), expected.first) << what;
            EXPECT_EQ(ListLast(asked), expected.last) << what;
        }
        EXPECT_EQ(ListIndexOf(expected.first), 0u) << what;
        EXPECT_EQ(ListIndexOf(expected.last), expected.count - 1) << what;
        for (ListNode* asked : {expected.first, expected.last, node})
            EXPECT_EQ(ListCount(asked), expected.count) << what;
        EXPECT_EQ(ListNodeAt(node, expected.count - 1), expected.last) << what;
    };
    // Each change returns a node of the chain that is looked at afterwards;
    // a cut leaves the other part in *other.
    struct Case {
        const char* what;
        ListNode* (*change)(ListNode* first, ListNode* last, ListNode** other);
    };
    const Case cases[] = {
        {"append", [](ListNode*, ListNode* last, ListNode**) { return ListAppend(last); }},
        {"append from the first", [](ListNode* first, ListNode*, ListNode**) { return ListAppend(first); }},
        {"delete the last", [](ListNode*, ListNode* last, ListNode**) { return ListDeleteNode(last); }},
        {"delete the first", [](ListNode* first, ListNode*, ListNode**) { return ListDeleteNode(first); }},
        {"delete in the middle", [](ListNode* first, ListNode*, ListNode**) { return ListDeleteNode(first->next->next); }},
        {"insert before the first", [](ListNode* first, ListNode*, ListNode**) { return ListInsertBefore(first); }},
        {"insert before the last", [](ListNode*, ListNode* last, ListNode**) { return ListInsertBefore(last); }},
        {"move the last to the front",
         [](ListNode* first, ListNode*, ListNode**) {
             ListNode* handle = first;
             return ListMoveNode(&handle, 4, 0);
         }},
        {"move the first to the end",
         [](ListNode* first, ListNode*, ListNode**) {
             ListNode* handle = first;
             return ListMoveNode(&handle, 0, 4);
         }},
        {"cut, asked of the front part",
         [](ListNode* first, ListNode*, ListNode** other) {
             *other = first->next->next;
             ListCutBefore(*other);
             return first;
         }},
        {"cut, asked of the back part",
         [](ListNode* first, ListNode* last, ListNode** other) {
             *other = first;
             ListCutBefore(last->previous);
             return last;
         }},
        {"sort",
         [](ListNode* first, ListNode* last, ListNode**) {
             ListSort(first, 0, 1);
             return last;
         }},
        {"another chain built and freed",
         [](ListNode*, ListNode* last, ListNode**) {
             ListNode* other = ListAppend(nullptr);
             ListAppend(other);
             ListFree(other, true);
             return last;
         }},
    };
    for (const Case& c : cases) {
        ListNode* list = MakeList({{1, nullptr}, {2, nullptr}, {3, nullptr}, {4, nullptr}, {5, nullptr}});
        ListNode* last = ListLast(list);
        ASSERT_EQ(ListCount(last), 5u);
        expectEnds(last, c.what);
        ListNode* other = nullptr;
        ListNode* after = c.change(list, last, &other);
        ASSERT_NE(after, nullptr) << c.what;
        expectEnds(after, c.what);
        if (other) {
            expectEnds(other, c.what);
            ListFree(other, true);
        }
        ListFree(after, true);
    }
}

// Indexes and positions asked while stepping through a chain (each goto
// starting from the node the last one found, each index asked of the node
// next to the last one asked) and after every kind of change in between.
TEST_F(ListValuesTest, IndexesFollowStepsAndChanges) {
    auto indexByWalk = [](const ListNode* node) {
        uint32_t index = 0;
        for (; node->previous; node = node->previous)
            ++index;
        return index;
    };
    auto expectPositions = [&](ListNode* from, const char* what) {
        const uint32_t count = ListCount(from);
        ListNode* current = from;
        for (int64_t i = 0; i <= count; ++i) {
            current = ListNodeAt(current, i);
            EXPECT_EQ(indexByWalk(current), std::min<uint32_t>(static_cast<uint32_t>(i), count - 1)) << what;
            EXPECT_EQ(ListIndexOf(current), indexByWalk(current)) << what;
        }
        for (int64_t i = count - 1; i >= 0; --i) {
            current = ListNodeAt(current, i);
            EXPECT_EQ(ListIndexOf(current), static_cast<uint32_t>(i)) << what;
        }
        for (ListNode* n = ListFirst(from); n; n = n->next)
            EXPECT_EQ(ListIndexOf(n), indexByWalk(n)) << what;
        for (ListNode* n = ListLast(from); n; n = n->previous)
            EXPECT_EQ(ListIndexOf(n), indexByWalk(n)) << what;
    };
    // Each change is made right after the index of the fourth node was asked;
    // it returns a node of the chain to look at afterwards.
    struct Case {
        const char* what;
        ListNode* (*change)(ListNode* fourth);
    };
    const Case cases[] = {
        {"none", [](ListNode* fourth) { return fourth; }},
        {"insert before it", [](ListNode* fourth) { return ListInsertBefore(fourth); }},
        {"insert before the one before it", [](ListNode* fourth) { return ListInsertBefore(fourth->previous); }},
        {"delete the one before it",
         [](ListNode* fourth) {
             ListDeleteNode(fourth->previous);
             return fourth;
         }},
        {"delete it", [](ListNode* fourth) { return ListDeleteNode(fourth); }},
        {"move it to the front",
         [](ListNode* fourth) {
             ListNode* handle = fourth;
             return ListMoveNode(&handle, 3, 0);
         }},
        {"append", [](ListNode* fourth) { return ListAppend(fourth); }},
    };
    for (const Case& c : cases) {
        ListNode* list = MakeList({{1, nullptr}, {2, nullptr}, {3, nullptr}, {4, nullptr}, {5, nullptr}, {6, nullptr}});
        expectPositions(list, c.what);
        ListNode* fourth = ListNodeAt(list, 3);
        ASSERT_EQ(ListIndexOf(fourth), 3u);
        ListNode* after = c.change(fourth);
        expectPositions(after, c.what);
        ListFree(after, true);
    }
}

// Freeing from any item frees every node of the chain, with the blocks the
// nodes own and their extensions, once each.
TEST_F(ListValuesTest, FreeFromAnyItemFreesTheWholeChain) {
    for (int from = 0; from < 4; ++from) {
        const int64_t before = LiveValueBlocks();
        ListNode* list = MakeList({{1, "a"}, {2, nullptr}, {3, "c"}, {4, "d"}});
        ListNode* second = list->next;
        second->arrayExtension = static_cast<ListArrayExtension*>(AllocateValueBlock(sizeof(ListArrayExtension)));
        second->structExtension = static_cast<ListStructExtension*>(AllocateValueBlock(sizeof(ListStructExtension)));
        ListFree(ListNodeAt(list, from), true);
        EXPECT_EQ(LiveValueBlocks(), before) << from;
    }
    ListFree(nullptr, true);
}

// A long chain's nodes go back in several runs, whatever node the free
// starts from; the texts the nodes own go only when asked for.
TEST_F(ListValuesTest, FreeOfALongChainReleasesEveryNodeOnce) {
    for (const bool freeData : {true, false}) {
        for (const int from : {0, 300, 999}) {
            SCOPED_TRACE(std::to_string(from) + (freeData ? " with data" : " without data"));
            const int64_t before = LiveValueBlocks();
            ListNode* last = nullptr;
            std::vector<char*> texts;
            for (int i = 0; i < 1000; ++i) {
                last = ListAppend(last);
                last->value = i;
                if (i % 3 == 0) {
                    last->data = CopyValueText("text");
                    last->flags = kVarOwnsData;
                    texts.push_back(last->data);
                }
                StampListNode(last);
            }
            ASSERT_EQ(ListCount(last), 1000u);
            ListFree(ListNodeAt(last, from), freeData);
            EXPECT_EQ(LiveValueBlocks(), before + (freeData ? 0 : static_cast<int64_t>(texts.size())));
            if (!freeData)
                for (char* text : texts)
                    FreeValueBlock(text);
            EXPECT_EQ(LiveValueBlocks(), before);
        }
    }
}

TEST_F(ListValuesTest, InsertBeforeAndDeleteReturnTheNeighbour) {
    ListNode* list = MakeList({{1, nullptr}, {3, nullptr}});
    ListNode* two = ListInsertBefore(list->next);
    two->value = 2;
    EXPECT_EQ(Describe(list), "1,2,3");
    ListNode* zero = ListInsertBefore(list);
    EXPECT_EQ(ListFirst(list), zero);
    // Deleting the last node gives the one before it; the only node gives null.
    ListNode* last = ListLast(list);
    EXPECT_EQ(ListDeleteNode(last), two);
    EXPECT_EQ(ListDeleteNode(zero), list);
    EXPECT_EQ(Describe(list), "1,2");
    ListNode* lone = MakeList({{0, "text"}});
    EXPECT_EQ(ListDeleteNode(lone), nullptr);
    ListFree(list, true);
}

TEST_F(ListValuesTest, MoveNodeForwardAndBack) {
    struct Case { int64_t from, to; const char* expected; };
    constexpr Case kCases[] = {{0, 2, "b,c,a"}, {2, 0, "c,a,b"}, {1, 1, "a,b,c"}, {0, 1, "b,a,c"}};
    for (auto c : kCases) {
        ListNode* list = MakeList({{0, "a"}, {0, "b"}, {0, "c"}});
        ListNode* handle = ListNodeAt(list, c.to);
        ListNode* moved = ListMoveNode(&handle, c.from, c.to);
        ASSERT_NE(moved, nullptr);
        EXPECT_EQ(Describe(moved), c.expected) << c.from << "->" << c.to;
        EXPECT_EQ(handle, moved);
        ListFree(moved, true);
    }
    ListNode* none = nullptr;
    EXPECT_EQ(ListMoveNode(&none, 0, 1), nullptr);
}

// Positions asked of either part after a cut must not come from a memo of
// the chain as it was before.
TEST_F(ListValuesTest, CutBeforeMakesTwoChains) {
    ListNode* list = MakeList({{1, nullptr}, {2, nullptr}, {3, nullptr}, {4, nullptr}});
    EXPECT_EQ(ListNodeAt(list, 3)->value, 4);
    ListNode* cut = ListNodeAt(list, 2);
    ListNode* before = ListCutBefore(cut);
    ASSERT_NE(before, nullptr);
    EXPECT_EQ(before->value, 2);
    EXPECT_EQ(Describe(list), "1,2");
    EXPECT_EQ(Describe(cut), "3,4");
    EXPECT_EQ(ListNodeAt(list, 3)->value, 2);
    EXPECT_EQ(ListNodeAt(cut, 0)->value, 3);
    EXPECT_EQ(ListCutBefore(cut), nullptr) << "a first node has nothing in front";
    EXPECT_EQ(ListCutBefore(nullptr), nullptr);
    ListFree(list, true);
    ListFree(cut, true);
}

TEST_F(ListValuesTest, SortNumbersStableInBothOrders) {
    struct Case { int order; const char* expected; };
    constexpr Case kCases[] = {{1, "1,2,3"}, {0, "3,2,1"}};
    for (auto c : kCases) {
        ListNode* list = MakeList({{3, nullptr}, {1, nullptr}, {2, nullptr}});
        ListSort(list->next, c.order, 1);
        EXPECT_EQ(Describe(list), c.expected);
        ListFree(list, true);
    }
    // Equal numbers keep their order: the array word marks which is which.
    ListNode* list = MakeList({{2, nullptr}, {1, nullptr}, {2, nullptr}});
    for (ListNode* n = list; n; n = n->next) {
        n->arrayExtension = static_cast<ListArrayExtension*>(AllocateValueBlock(sizeof(ListArrayExtension)));
        n->arrayExtension->arrayWord = 10 + ListIndexOf(n);
    }
    ListSort(list, 1, 1);
    EXPECT_EQ(list->next->arrayExtension->arrayWord, 10u);
    EXPECT_EQ(list->next->next->arrayExtension->arrayWord, 12u);
    ListFree(list, true);
}

TEST_F(ListValuesTest, SortTextsByCaseRule) {
    struct Case { int caseSensitive; const char* expected; };
    constexpr Case kCases[] = {{0, "A,a,b"}, {1, "A,a,b"}};
    for (auto c : kCases) {
        ListNode* list = MakeList({{0, "b"}, {0, "A"}, {0, "a"}});
        ListSort(list, 1, c.caseSensitive);
        EXPECT_EQ(Describe(list), c.expected);
        ListFree(list, true);
    }
    ListNode* list = MakeList({{0, "a"}, {0, "B"}, {0, "A"}});
    ListSort(list, 1, 0);
    EXPECT_EQ(Describe(list), "a,A,B");  // a and A compare equal and keep their order
    ListFree(list, true);
}

TEST_F(ListValuesTest, SortPutsNumbersBeforeTextsWithoutCrashing) {
    ListNode* list = MakeList({{0, "x"}, {5, nullptr}, {0, "a"}, {1, nullptr}});
    ListSort(list, 1, 1);
    EXPECT_EQ(Describe(list), "1,5,a,x");
    ListFree(list, true);
}

TEST_F(ListValuesTest, SortKeepsEachTrackerWithItsNode) {
    // A walker stands on the second node; after the sort it still stands
    // there, and deleting that node moves the walker off it.
    ListNode* list = MakeList({{3, nullptr}, {1, nullptr}, {2, nullptr}});
    ListNode* second = list->next;
    ListTracker tracker{second, 0, nullptr};
    second->arrayExtension = static_cast<ListArrayExtension*>(AllocateValueBlock(sizeof(ListArrayExtension)));
    second->arrayExtension->tracker = &tracker;
    ListSort(list, 1, 1);
    EXPECT_EQ(Describe(list), "1,2,3");
    ASSERT_NE(second->arrayExtension, nullptr);
    EXPECT_EQ(second->arrayExtension->tracker, &tracker);
    for (ListNode* n = list; n; n = n->next) {
        bool tracked = n->arrayExtension && n->arrayExtension->tracker;
        EXPECT_EQ(tracked, n == second);
    }
    ListNode* next = second->next;
    ListDeleteNode(second);
    EXPECT_EQ(tracker.current, next);
    EXPECT_EQ(tracker.changed, 1);
    ListFree(list, true);
}

TEST_F(ListValuesTest, StampFollowsContentsAndPadding) {
    ListNode* a = MakeList({{1, nullptr}});
    ListNode* b = MakeList({{1, nullptr}});
    EXPECT_EQ(a->stamp, b->stamp);
    EXPECT_LE(a->stamp, 0x7FFFFFFFu);
    b->value = 2;
    EXPECT_NE(StampListNode(b), a->stamp);
    ListFree(a, true);
    ListFree(b, true);
}

// The stamp is h = h * 65599 + b over the node's bytes as signed characters,
// then over its extensions' bytes, masked to 31 bits.
TEST_F(ListValuesTest, StampIsTheByteHashOfTheNodeAndItsExtensions) {
    ListNode* node = MakeList({{-1.0e-300, "text"}});
    node->type = -9;
    node->arrayExtension = static_cast<ListArrayExtension*>(AllocateValueBlock(sizeof(ListArrayExtension)));
    node->arrayExtension->elementCount = 0xFEDCBA98u;
    node->arrayExtension->dimensions[7] = -3;
    auto hash = [](uint32_t h, const void* bytes, size_t count) {
        for (size_t i = 0; i < count; ++i)
            h = h * 65599u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<const int8_t*>(bytes)[i]));
        return h;
    };
    ListNode before = *node;
    uint32_t expected = hash(0, &before, sizeof before);
    expected = hash(expected, node->arrayExtension, sizeof *node->arrayExtension) & 0x7FFFFFFFu;
    EXPECT_EQ(StampListNode(node), expected);
    EXPECT_EQ(node->stamp, expected);
    ListFree(node, true);
}

// Every byte of every record carries its own weight: patterns with high and
// low bytes in each position, over a node with both extensions.
TEST_F(ListValuesTest, StampWeighsEveryByteOfEveryRecord) {
    auto hash = [](uint32_t h, const void* bytes, size_t count) {
        for (size_t i = 0; i < count; ++i)
            h = h * 65599u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<const int8_t*>(bytes)[i]));
        return h;
    };
    // Byte i of a record is pattern(i).
    const std::vector<uint8_t (*)(size_t)> patterns = {
        [](size_t) -> uint8_t { return 0xFF; },
        [](size_t) -> uint8_t { return 0x80; },
        [](size_t) -> uint8_t { return 0x7F; },
        [](size_t i) -> uint8_t { return static_cast<uint8_t>(i * 37 + 11); },
        [](size_t i) -> uint8_t { return i % 2 ? 0x80 : 0x7F; },
        [](size_t i) -> uint8_t { return static_cast<uint8_t>(0xFF - i * 5); },
    };
    for (size_t p = 0; p < patterns.size(); ++p) {
        SCOPED_TRACE(p);
        auto* array = static_cast<ListArrayExtension*>(AllocateValueBlock(sizeof(ListArrayExtension)));
        auto* structure = static_cast<ListStructExtension*>(AllocateValueBlock(sizeof(ListStructExtension)));
        ListNode node;
        auto fill = [&](void* record, size_t size) {
            for (size_t i = 0; i < size; ++i)
                static_cast<uint8_t*>(record)[i] = patterns[p](i);
        };
        fill(&node, sizeof node);
        fill(array, sizeof *array);
        fill(structure, sizeof *structure);
        node.arrayExtension = array;
        node.structExtension = structure;
        ListNode before = node;
        uint32_t expected = hash(0, &before, sizeof before);
        expected = hash(expected, array, sizeof *array);
        expected = hash(expected, structure, sizeof *structure) & 0x7FFFFFFFu;
        EXPECT_EQ(StampListNode(&node), expected);
        node.structExtension = nullptr;
        before = node;
        expected = hash(hash(0, &before, sizeof before), array, sizeof *array) & 0x7FFFFFFFu;
        EXPECT_EQ(StampListNode(&node), expected);
        // No extension at all: the node's own bytes, every other one as filled.
        node.arrayExtension = nullptr;
        before = node;
        expected = hash(0, &before, sizeof before) & 0x7FFFFFFFu;
        // Both instruction sets' steps, whichever the stamp takes here.
        EXPECT_EQ(HashPlainListNodeSse2(&before) & 0x7FFFFFFFu, expected);
        if (ProcessorHasAvx2()) {
            EXPECT_EQ(HashPlainListNodeAvx2(&before) & 0x7FFFFFFFu, expected);
        }
        EXPECT_EQ(StampListNode(&node), expected);
        FreeValueBlock(array);
        FreeValueBlock(structure);
    }
}

TEST_F(ListValuesTest, TextLengthCountsTheWholeChain) {
    ListNode* list = MakeList({{12, nullptr}, {0, "abc"}, {0.5, nullptr}});
    // "12" + 1, the block of "abc" (4), "0.5" + 1.
    EXPECT_EQ(ListTextLength(list->next->next), 3u + 4u + 4u);
    EXPECT_EQ(ListTextLength(nullptr), 0u);
    ListFree(list, true);
}

// A new item filled in one pass ends as filling its node, stamping it and
// loading it would leave node and record: at the end, in the middle and as
// the only node, for numbers and texts, over a record that held an element
// with extensions.
TEST_F(ListValuesTest, FillingANewItemMatchesStampAndLoad) {
    auto hash = [](const ListNode& node) {
        ListNode copy = node;
        copy.stamp = 0;  // a new node is hashed before it has a stamp
        uint32_t h = 0;
        for (size_t i = 0; i < sizeof copy; ++i)
            h = h * 65599u + static_cast<uint32_t>(static_cast<int32_t>(reinterpret_cast<const int8_t*>(&copy)[i]));
        return h & 0x7FFFFFFFu;
    };
    enum Where { kAtEnd, kInMiddle, kAlone };
    struct Case {
        Where where;
        double value;
        const char* text;
        uint32_t flags;
    };
    const Case cases[] = {
        {kAtEnd, 42.5, nullptr, 0},
        {kAtEnd, -1e300, nullptr, kVarWideText},
        {kInMiddle, 7, nullptr, 0},
        {kAlone, 0, nullptr, 0},
        {kAtEnd, 0, "text", kVarOwnsData},
        {kInMiddle, 3, "\x80\xFF", kVarOwnsData},
        {kAlone, 0, "x", kVarOwnsData},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        VariableRecord* v = Local("L$");
        v->flags = kVarList | kVarPublic | kVarOwnsData;  // a stale ownership bit goes
        v->elementCount = 4;
        v->dimensions[3] = 9;
        v->dimensionCount = 1;
        v->getter = reinterpret_cast<Instruction*>(uintptr_t{0x1000});
        v->offset = 16;
        v->classHash = 5;
        ListNode* list = c.where == kAlone ? nullptr : MakeList({{1, nullptr}, {2, "two"}});
        ListNode* node = c.where == kAtEnd ? ListAppend(list ? list->next : nullptr)
                         : c.where == kInMiddle ? ListInsertBefore(list->next)
                                                : ListAppend(nullptr);
        ASSERT_NE(node, nullptr);
        v->currentNode = node;
        char* data = c.text ? CopyValueText(c.text) : nullptr;
        FillNewListItem(v, data, c.value, c.flags);
        EXPECT_EQ(node->data, data);
        EXPECT_EQ(node->value, c.value);
        EXPECT_EQ(node->flags, c.flags);
        EXPECT_EQ(node->stamp, hash(*node));
        EXPECT_EQ(v->stamp, node->stamp);
        EXPECT_EQ(v->flags, c.flags | kVarList | kVarPublic);
        // Loading the node again changes nothing in the record.
        VariableRecord loaded;
        std::memcpy(&loaded, v, sizeof loaded);
        LoadListElement(&loaded);
        EXPECT_EQ(std::memcmp(&loaded, v, sizeof loaded), 0);
        v->currentNode = nullptr;
        v->flags = 0;
        ListFree(node, true);
    }
}

TEST_F(ListValuesTest, VariableLoadsAndStoresItsCurrentNode) {
    VariableRecord* v = Local("L$");
    v->flags = kVarList;
    v->currentNode = MakeList({{0, "one"}, {2, nullptr}});
    LoadListElement(v);
    EXPECT_EQ(TextOf(v), "one");
    EXPECT_EQ(v->stamp, v->currentNode->stamp);
    // A write replaces the element: the node's old text goes, the new one is
    // the node's, and both stamps agree.
    SetVariableValue(v, "uno", 0, nullptr, 4);
    EXPECT_STREQ(v->currentNode->data, "uno");
    EXPECT_EQ(v->stamp, v->currentNode->stamp);
    // A node changed behind the variable's back is reloaded on the next read.
    v->currentNode = v->currentNode->next;
    EXPECT_EQ(NumberOf(v), 2);
    EXPECT_EQ(TextOf(v), "");
    // The record keeps only its own bits: no ownership from the text element.
    EXPECT_EQ(v->flags & kVarOwnsData, 0u);
}

// Loading a plain element after one with both extensions leaves nothing of
// the extensions in the record, and the record's own fields as they were.
TEST_F(ListValuesTest, APlainElementClearsWhatAnExtendedOneLoaded) {
    VariableRecord* v = Local("L$");
    v->flags = kVarList | kVarPublic;
    ListNode* list = MakeList({{1, nullptr}, {2, nullptr}});
    auto* array = static_cast<ListArrayExtension*>(AllocateValueBlock(sizeof(ListArrayExtension)));
    array->elementCount = 6;
    array->dimensions[0] = 2;
    array->dimensions[7] = 3;
    array->dimensionCount = 2;
    array->arrayOrder = 1;
    array->arrayWord = 0x1234;
    array->classHash = 99;
    array->getter = reinterpret_cast<Instruction*>(uintptr_t{0x1000});
    array->setter = reinterpret_cast<Instruction*>(uintptr_t{0x2000});
    auto* structure = static_cast<ListStructExtension*>(AllocateValueBlock(sizeof(ListStructExtension)));
    structure->parent = v;
    structure->offset = 8;
    list->arrayExtension = array;
    list->structExtension = structure;
    StampListNode(list);
    v->currentNode = list;
    LoadListElement(v);
    ASSERT_EQ(v->elementCount, 6u);
    ASSERT_EQ(v->getter, array->getter);
    const VariableRecord before = *v;
    v->currentNode = list->next;
    LoadListElement(v);
    EXPECT_EQ(v->value, 2);
    EXPECT_EQ(v->elementCount, 0u);
    EXPECT_EQ(v->dimensionCount, 0);
    for (int32_t dimension : v->dimensions) EXPECT_EQ(dimension, 0);
    EXPECT_EQ(v->arrayWord, 0u);
    EXPECT_EQ(v->arrayOrder, 0);
    EXPECT_EQ(v->classHash, 0u);
    EXPECT_EQ(v->getter, nullptr);
    EXPECT_EQ(v->setter, nullptr);
    EXPECT_EQ(v->parent, nullptr);
    EXPECT_EQ(v->offset, 0u);
    EXPECT_EQ(v->members, nullptr);
    EXPECT_EQ(v->links, nullptr);
    EXPECT_EQ(v->flags, kVarList | kVarPublic);
    EXPECT_EQ(v->stamp, list->next->stamp);
    // The record's own fields stay.
    EXPECT_EQ(v->name, before.name);
    EXPECT_EQ(v->hash, before.hash);
    EXPECT_EQ(v->scope, before.scope);
    EXPECT_EQ(v->currentNode, list->next);
    EXPECT_EQ(v->reference, before.reference);
    EXPECT_EQ(v->protect, before.protect);
    EXPECT_EQ(v->owner, before.owner);
    v->currentNode = nullptr;
    v->flags = 0;
    ListFree(list, true);
}

}  // namespace
}  // namespace qob
