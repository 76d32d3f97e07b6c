// tests/compiler/front_end/token_list_test.cpp
// Linking, copying and freeing token nodes, the list queries, short names and
// procedure-header texts.
#include "compiler/front_end/token_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "runtime/data/hash.h"
#include "runtime/registry/keywords.h"

namespace qob {
namespace {

std::string Texts(const TokenNode* any) {
    std::string texts;
    for (const TokenNode* node = TokenListFirst(const_cast<TokenNode*>(any)); node != nullptr;
         node = node->next) {
        if (node->next != nullptr) {
            EXPECT_EQ(node->next->previous, node);
        }
        texts += node->text;
        texts += ' ';
    }
    return texts;
}

class TokenListTest : public ::testing::Test {
protected:
    void TearDown() override {
        FreeTokenList(tokens);
        SetTokenOutputSuspended(false);
    }
    TokenNode* Emit(std::string_view text, int line = 1, int column = 1) {
        EmitToken(tokens, text, "list.qob", line, column);
        return tokens;
    }
    TokenNode* tokens = nullptr;
};

TEST_F(TokenListTest, EmitFillsTheNodeAndAppends) {
    TokenNode* first = Emit("PRINT", 3, 7);
    EXPECT_STREQ(first->text, "PRINT");
    EXPECT_EQ(first->hash, HashName("PRINT", 5));
    EXPECT_STREQ(first->file, "list.qob");
    EXPECT_EQ(first->line, 3);
    EXPECT_EQ(first->column, 7);
    EXPECT_EQ(first->procedureIndex, 0);
    EXPECT_EQ(first->previous, nullptr);
    Emit("X");
    EXPECT_EQ(first->next, tokens);
    EXPECT_EQ(Texts(tokens), "PRINT X ");
}

TEST_F(TokenListTest, ColumnsPastSixteenBitsStayAtTheLimit) {
    EXPECT_EQ(Emit("X", 1, 70000)->column, 0xFFFF);
    EXPECT_EQ(Emit("X", 1, 65535)->column, 0xFFFF);
}

TEST_F(TokenListTest, EmitAfterAMiddleNodeInsertsThere) {
    TokenNode* a = Emit("A");
    TokenNode* c = Emit("C");
    TokenNode* cursor = a;
    EmitToken(cursor, "B", "list.qob", 1, 1);
    EXPECT_EQ(a->next, cursor);
    EXPECT_EQ(cursor->previous, a);
    EXPECT_EQ(cursor->next, c);
    EXPECT_EQ(c->previous, cursor);
    EXPECT_EQ(Texts(c), "A B C ");
}

TEST_F(TokenListTest, SuspendedOutputLeavesListAndCursorAlone) {
    TokenNode* a = Emit("A");
    SetTokenOutputSuspended(true);
    EmitToken(tokens, "B", "list.qob", 1, 1);
    EXPECT_EQ(tokens, a);
    EXPECT_EQ(a->next, nullptr);
}

TEST_F(TokenListTest, FileNamesAreInternedLowerCase) {
    EmitToken(tokens, "A", "Main.QOB", 1, 1);
    TokenNode* a = tokens;
    EmitToken(tokens, "A", "main.qob", 2, 1);
    EXPECT_EQ(a->file, tokens->file);
    EXPECT_STREQ(tokens->file, "main.qob");
    EmitToken(tokens, "A", nullptr, 3, 1);
    EXPECT_EQ(tokens->file, nullptr);
}

TEST_F(TokenListTest, SetTokenTextRehashes) {
    TokenNode* node = Emit("X$");
    SetTokenText(node, "\xFBX$");
    EXPECT_STREQ(node->text, "\xFBX$");
    EXPECT_EQ(node->hash, HashName("\xFBX$", 3));
}

TEST_F(TokenListTest, QueriesWalkTheList) {
    TokenNode* a = Emit("A");
    TokenNode* b = Emit("B");
    TokenNode* c = Emit("A");
    Emit("D");
    TokenNode* e = Emit("A");
    TokenNode* d = e->previous;
    EXPECT_EQ(TokenListFirst(tokens), a);
    EXPECT_EQ(TokenListFirst(nullptr), nullptr);
    EXPECT_EQ(TokenCountBack(c), 3);
    EXPECT_EQ(TokenCountBack(nullptr), 0);
    EXPECT_EQ(FindTokenListHead(c).first, a);
    EXPECT_EQ(FindTokenListHead(c).count, 3);
    EXPECT_EQ(FindTokenListHead(a).count, 1);
    EXPECT_EQ(FindTokenListHead(nullptr).first, nullptr);
    EXPECT_EQ(FindTokenListHead(nullptr).count, 0);
    EXPECT_EQ(TokenListNth(a, 0), a);
    EXPECT_EQ(TokenListNth(a, 3), d);
    EXPECT_EQ(TokenListNth(a, 5), nullptr);
    EXPECT_EQ(TokenListNth(a, 40), nullptr);
    // FindNodeIndex compares hashes: the first node like the stop node.
    EXPECT_EQ(FindNodeIndex(b, c), -1);  // reaches the stop node itself first
    EXPECT_EQ(FindNodeIndex(a, c), 0);
    EXPECT_EQ(FindNodeIndex(b, e), 1);
    EXPECT_EQ(FindNodeIndex(nullptr, c), -1);
    EXPECT_EQ(FindNodeIndex(d, b), -1);  // the end comes first
}

// The head and length of the list last built at its end (or remembered) are
// answered without a walk: after each kind of change they must still be what
// a walk finds.
TEST_F(TokenListTest, TheHeadOfTheLastBuiltListStaysRightAfterChanges) {
    enum class Change {
        None, AppendAtEnd, InsertInMiddle, DeleteFirst, DeleteLast, OtherList, AppendToOtherList, Remembered,
        InsertInMiddleOfList, InsertAtEndOfList, InsertInOtherList
    };
    constexpr Change kChanges[] = {Change::None,       Change::AppendAtEnd,       Change::InsertInMiddle,
                                   Change::DeleteFirst, Change::DeleteLast,       Change::OtherList,
                                   Change::AppendToOtherList, Change::Remembered, Change::InsertInMiddleOfList,
                                   Change::InsertAtEndOfList, Change::InsertInOtherList};
    for (Change change : kChanges) {
        TokenNode* other = nullptr;
        if (change == Change::AppendToOtherList || change == Change::InsertInOtherList) {
            EmitToken(other, "Y", "list.qob", 1, 1);
            EmitToken(other, "Z", "list.qob", 1, 1);
        }
        TokenNode* first = Emit("A");
        TokenNode* middle = Emit("B");
        Emit("C");
        switch (change) {
            case Change::None: break;
            case Change::AppendAtEnd: Emit("D"); break;
            case Change::InsertInMiddle: {
                TokenNode* cursor = middle;
                EmitToken(cursor, "X", "list.qob", 1, 1);
                break;
            }
            case Change::DeleteFirst: first = DeleteTokenNext(first); break;
            case Change::DeleteLast: tokens = UnlinkToken(tokens); break;
            case Change::OtherList: EmitToken(other, "Y", "list.qob", 1, 1); break;
            case Change::AppendToOtherList: EmitToken(other, "Z", "list.qob", 1, 1); break;
            case Change::Remembered: RememberTokenList(first, tokens, 3); break;
            case Change::InsertInMiddleOfList: {
                TokenNode* cursor = middle;
                InsertInternedToken(cursor, tokens, "X", "list.qob", 1, 1);
                EXPECT_EQ(Texts(tokens), "A B X C ");
                break;
            }
            case Change::InsertAtEndOfList: {
                TokenNode* cursor = tokens;
                InsertInternedToken(cursor, tokens, "X", "list.qob", 1, 1);
                tokens = cursor;
                EXPECT_EQ(Texts(tokens), "A B C X ");
                break;
            }
            case Change::InsertInOtherList: {
                TokenNode* cursor = other->previous;
                InsertInternedToken(cursor, other, "X", "list.qob", 1, 1);
                EXPECT_EQ(Texts(other), "Y X Z ");
                break;
            }
        }
        const TokenListHead head = FindTokenListHead(tokens);
        EXPECT_EQ(head.first, TokenListFirst(tokens)) << static_cast<int>(change);
        EXPECT_EQ(head.count, TokenCountBack(tokens)) << static_cast<int>(change);
        if (other) {
            EXPECT_EQ(FindTokenListHead(other).count, TokenCountBack(other)) << static_cast<int>(change);
        }
        FreeTokenList(other);
        FreeTokenList(tokens);
        tokens = nullptr;
    }
}

TEST_F(TokenListTest, UnlinkAndDeleteJoinTheNeighbours) {
    TokenNode* a = Emit("A");
    TokenNode* b = Emit("B");
    TokenNode* c = Emit("C");
    TokenNode* d = Emit("D");
    EXPECT_EQ(UnlinkToken(b), a);
    EXPECT_EQ(a->next, c);
    EXPECT_EQ(c->previous, a);
    EXPECT_EQ(DeleteTokenNext(c), d);
    EXPECT_EQ(Texts(d), "A D ");
    EXPECT_EQ(UnlinkToken(a), nullptr);  // the head: no previous
    EXPECT_EQ(d->previous, nullptr);
    EXPECT_EQ(UnlinkToken(nullptr), nullptr);
    EXPECT_EQ(DeleteTokenNext(nullptr), nullptr);
}

TEST_F(TokenListTest, FreeTokenListCutsTheRestLoose) {
    Emit("A");
    TokenNode* b = Emit("B");
    TokenNode* c = Emit("C");
    FreeTokenList(b);
    EXPECT_EQ(c->previous, nullptr);
    EXPECT_EQ(Texts(c), "C ");
    FreeTokenList(nullptr);
}

TEST_F(TokenListTest, CopyTakesTheWholeListWithTheGivenFile) {
    Emit("A", 1, 2);
    TokenNode* middle = Emit("B", 3, 4);
    Emit("C", 5, 6);
    TokenNode* copy = nullptr;
    CopyTokenList(copy, middle, "Other.qob");
    EXPECT_EQ(Texts(copy), "A B C ");
    const TokenNode* head = TokenListFirst(copy);
    EXPECT_STREQ(head->file, "other.qob");
    EXPECT_EQ(head->next->line, 3);
    EXPECT_EQ(head->next->column, 4);
    FreeTokenList(copy);

    TokenNode* none = nullptr;
    CopyTokenList(none, nullptr, "x.qob");
    EXPECT_EQ(none, nullptr);
}

// DeleteTokensBefore frees a run in one pass: runs from the head, in the
// middle and to the end, over nodes with their own text, a replaced text and
// a block too large to pool. The rest stays linked, the known head stays
// right, and nodes made afterwards (taking the freed blocks) keep their texts.
TEST_F(TokenListTest, DeleteTokensBeforeFreesTheRunAndJoinsTheRest) {
    struct Case {
        int first;  // index of the first node freed
        int stop;   // index of the node the run stops at; -1: the end
        const char* left;
    };
    const std::string longText(300, 'L');
    const Case kCases[] = {
        {0, 2, "R D E F "},     {0, 1, "L R D E F "}, {1, 4, "A E F "},  {2, 5, "A L F "},
        {3, -1, "A L R "},      {5, -1, "A L R D E "}, {0, -1, ""},
        {4, 4, "A L R D E F "},
    };
    for (const Case& c : kCases) {
        std::vector<TokenNode*> nodes;
        for (const char* text : {"A", "LONG", "R", "D", "E", "F"}) {
            nodes.push_back(Emit(std::string_view(text) == "LONG" ? std::string_view(longText) : text));
        }
        SetTokenText(nodes[2], "R");  // its text now lives apart from the node
        TokenNode* stop = c.stop < 0 ? nullptr : nodes[static_cast<size_t>(c.stop)];
        if (c.stop < 0) tokens = nodes[static_cast<size_t>(c.first)]->previous;
        DeleteTokensBefore(nodes[static_cast<size_t>(c.first)], stop);
        std::string left = tokens == nullptr ? "" : Texts(tokens);
        if (const size_t at = left.find(longText); at != std::string::npos)
            left = left.substr(0, at) + "L" + left.substr(at + longText.size());
        EXPECT_EQ(left, c.left) << c.first << ' ' << c.stop;
        if (tokens != nullptr) {
            const TokenListHead head = FindTokenListHead(tokens);
            EXPECT_EQ(head.first, TokenListFirst(tokens)) << c.first << ' ' << c.stop;
            EXPECT_EQ(head.count, TokenCountBack(tokens)) << c.first << ' ' << c.stop;
        }
        for (const char* text : {"N1", "N2", "N3"}) {
            Emit(text);
        }
        left = Texts(tokens);
        EXPECT_TRUE(left.ends_with("N1 N2 N3 ")) << left;
        FreeTokenList(tokens);
        tokens = nullptr;
    }
    EXPECT_NO_FATAL_FAILURE(DeleteTokensBefore(nullptr, nullptr));
}

// FreeWholeTokenList frees a whole list: at once when it is all the store
// holds (also with replaced texts), node by node when another list lives or
// a node lies on the heap. The other list stays whole, and the store makes
// nodes afterwards as before.
TEST_F(TokenListTest, FreeWholeTokenListFreesEveryNodeAndSparesOtherLists) {
    struct Case {
        bool otherList;     // another list lives beside the one freed
        bool replacedText;  // a node of the list has a replaced text
        bool longText;      // a node of the list is too large to pool
    };
    const Case kCases[] = {
        {false, false, false}, {false, true, false}, {false, false, true}, {false, true, true},
        {true, false, false},  {true, true, false},  {true, false, true},
    };
    const std::string longText(300, 'L');
    for (const Case& c : kCases) {
        TokenNode* other = nullptr;
        if (c.otherList) {
            EmitToken(other, "KEEP", "other.qob", 1, 1);
            EmitToken(other, "ME", "other.qob", 1, 2);
            SetTokenText(other, "\xFBME$");
        }
        TokenNode* list = nullptr;
        for (const char* text : {"A", "B", "C", "D"}) EmitToken(list, text, "list.qob", 1, 1);
        if (c.replacedText) SetTokenText(list->previous, "\xE9   SOME_PROCEDURE(2,1)");
        if (c.longText) EmitToken(list, longText, "list.qob", 1, 1);
        const TokenListHead head = FindTokenListHead(list);
        FreeWholeTokenList(head.first, head.count);
        if (c.otherList) {
            EXPECT_EQ(Texts(other), "KEEP \xFBME$ ") << c.replacedText << c.longText;
            EXPECT_EQ(other->hash, HashName("\xFBME$", 4));
        }
        TokenNode* again = nullptr;
        for (const char* text : {"N1", "N2"}) EmitToken(again, text, "list.qob", 1, 1);
        SetTokenText(again, "N3");
        EXPECT_EQ(Texts(again), "N1 N3 ") << c.otherList << c.replacedText << c.longText;
        FreeTokenList(again);
        FreeTokenList(other);
    }
    EXPECT_NO_FATAL_FAILURE(FreeWholeTokenList(nullptr, 0));
}

// Freed blocks are taken again oldest first, however they were freed (one
// by one or as a run, forwards or backwards): a list made from the blocks of
// the one read before it lies in memory in its own order.
TEST_F(TokenListTest, FreedBlocksAreTakenAgainOldestFirst) {
    enum class Free { OneByOne, Run, WholeList };
    for (Free how : {Free::OneByOne, Free::Run, Free::WholeList}) {
        Emit("KEEP");  // keeps the store from starting afresh
        TokenNode* keep = tokens;
        TokenNode* run = nullptr;
        std::vector<const TokenNode*> made;
        for (const char* text : {"a", "b", "c", "d"}) {
            EmitToken(run, text, "list.qob", 1, 1);
            made.push_back(run);
        }
        std::vector<const TokenNode*> freedOrder = made;
        switch (how) {
            case Free::OneByOne:
                for (TokenNode* node = TokenListFirst(run); node != nullptr;) node = DeleteTokenNext(node);
                break;
            case Free::Run: DeleteTokensBefore(TokenListFirst(run), nullptr); break;
            case Free::WholeList:
                FreeTokenList(run);
                std::reverse(freedOrder.begin(), freedOrder.end());
                break;
        }
        TokenNode* again = nullptr;
        std::vector<const TokenNode*> taken;
        for (const char* text : {"w", "x", "y", "z"}) {
            EmitToken(again, text, "list.qob", 1, 1);
            taken.push_back(again);
        }
        EXPECT_EQ(taken, freedOrder) << static_cast<int>(how);
        EXPECT_EQ(Texts(again), "w x y z ");
        FreeTokenList(again);
        EXPECT_EQ(Texts(keep), "KEEP ");
        FreeTokenList(tokens);
        tokens = nullptr;
    }
}

// A copy of a node has its text (whatever its length: copied by whole words
// up to the end of the node's block, or through the store for longer and
// replaced texts), hash, line and column, the file it is given and no
// procedure index; it is appended to the known list, and suspended output
// makes none.
TEST_F(TokenListTest, CopiesOfANodeKeepTextHashAndPlace) {
    const std::string letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    enum class Source { Made, Replaced };
    for (Source kind : {Source::Made, Source::Replaced}) {
        for (size_t length = 0; length <= letters.size(); ++length) {
            const std::string text = letters.substr(0, length);
            TokenNode* source = nullptr;
            EmitToken(source, kind == Source::Made ? std::string_view(text) : std::string_view("X"), "from.qob",
                      7, 9);
            if (kind == Source::Replaced) SetTokenText(source, text);
            source->procedureIndex = 5;
            Emit("HEAD");
            const TokenNode* head = tokens;
            EmitTokenCopyInline(tokens, source, "copy.qob");
            ASSERT_NE(tokens, head) << length;
            EXPECT_STREQ(tokens->text, text.c_str()) << length;
            EXPECT_EQ(tokens->hash, HashName(text.data(), length)) << length;
            EXPECT_EQ(tokens->line, 7);
            EXPECT_EQ(tokens->column, 9);
            EXPECT_STREQ(tokens->file, "copy.qob");
            EXPECT_EQ(tokens->procedureIndex, 0);
            EXPECT_EQ(tokens->previous, head);
            const TokenListHead found = FindTokenListHead(tokens);
            EXPECT_EQ(found.first, TokenListFirst(tokens)) << length;
            EXPECT_EQ(found.count, TokenCountBack(tokens)) << length;
            SetTokenOutputSuspended(true);
            TokenNode* cursor = tokens;
            EmitTokenCopyInline(cursor, source, "copy.qob");
            EXPECT_EQ(cursor, tokens);
            SetTokenOutputSuspended(false);
            FreeTokenList(source);
        }
    }
    EXPECT_EQ(TokenCountBack(tokens), 2 * 37 * 2);
}

struct Record {
    Record* previous;
    Record* next;
};

// Nodes freed in the middle of a list are made again with other lengths
// (short texts, texts of the largest shared sizes and longer ones): no node
// or text may overlap another, whichever freed block a new node takes.
TEST_F(TokenListTest, NodesMadeAfterFreesKeepTheirTexts) {
    constexpr size_t kLengths[] = {0, 1, 7, 8, 9, 63, 64, 190, 200, 201, 202, 300, 5000};
    std::vector<std::string> expected;
    for (int round = 0; round < 3; ++round)
        for (size_t length : kLengths) {
            expected.push_back(std::string(length, static_cast<char>('a' + expected.size() % 26)));
            Emit(expected.back());
        }
    // Every other node goes; the freed blocks are taken by longer and shorter texts.
    TokenNode* node = TokenListFirst(tokens);
    for (size_t i = 0; node != nullptr; ++i) {
        if (i % 2 == 1) {
            if (node == tokens) tokens = node->previous;
            node = DeleteTokenNext(node);
            expected[i].clear();
        } else {
            node = node->next;
        }
    }
    std::erase(expected, std::string());
    for (size_t i = 0; i < 40; ++i) {
        expected.push_back(std::string(kLengths[(i * 5) % std::size(kLengths)], static_cast<char>('A' + i % 26)));
        Emit(expected.back());
    }
    std::vector<std::string> found;
    for (const TokenNode* n = TokenListFirst(tokens); n != nullptr; n = n->next) {
        found.emplace_back(n->text);
        EXPECT_EQ(n->hash, HashName(n->text, found.back().size())) << found.size();
    }
    std::erase(expected, std::string());
    std::erase(found, std::string());
    EXPECT_EQ(found, expected);
}

// A large list fills the store's first small chunks and then huge-page
// chunks; once every node is gone the store starts again from small chunks.
// Texts that cross a chunk's end would be cut or overwritten.
TEST_F(TokenListTest, ListsLargerThanTheSmallChunksKeepEveryText) {
    for (int round = 0; round < 2; ++round) {
        constexpr int kCount = 150000;  // several MiB of nodes
        for (int i = 0; i < kCount; ++i) {
            std::string text = i % 5 == 0 ? "A_LONGER_NAME_THAT_TAKES_A_BIGGER_BLOCK_" : "N";
            text += std::to_string(i + round);
            Emit(text, i + 1);
        }
        int i = 0;
        for (const TokenNode* n = TokenListFirst(tokens); n != nullptr; n = n->next, ++i) {
            std::string text = i % 5 == 0 ? "A_LONGER_NAME_THAT_TAKES_A_BIGGER_BLOCK_" : "N";
            text += std::to_string(i + round);
            ASSERT_STREQ(n->text, text.c_str()) << round << ' ' << i;
            ASSERT_EQ(n->line, i + 1);
        }
        EXPECT_EQ(i, kCount);
        FreeTokenList(tokens);
        tokens = nullptr;
    }
}

// Short texts are copied in overlapping pieces: each length copies every
// character to its place and ends the copy right after the text.
TEST_F(TokenListTest, TextsOfEveryShortLengthAreCopiedWhole) {
    const std::string source = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnop";
    for (size_t length = 0; length <= source.size(); ++length) {
        const std::string text = source.substr(0, length);
        Emit(text);
        EXPECT_EQ(std::string(tokens->text), text) << length;
        EXPECT_EQ(tokens->hash, HashName(text.data(), length)) << length;
    }
}

// An appender's nodes are what EmitToken would make, linked in order, also
// across the store's chunks and for texts it hands to the store; after
// Finish the cursor and the list's known head and length are right.
TEST_F(TokenListTest, AppenderAddsWhatEmitWouldAdd) {
    struct Case {
        bool startEmpty;
        int count;  // enough to pass several of the store's chunks
    };
    for (const Case& c : {Case{true, 1}, Case{false, 3}, Case{true, 5000}, Case{false, 5000}}) {
        if (!c.startEmpty) Emit("FIRST");
        std::vector<std::string> texts;
        TokenAppender appender(tokens);
        for (int i = 0; i < c.count; ++i) {
            // Some texts are too long for the quick way.
            std::string text = i % 7 == 3 ? "A_NAME_LONGER_THAN_SIXTEEN_" : "T";
            text += std::to_string(i);
            appender.Append(text, HashName(text.data(), text.size()), "list.qob", i + 1, i % 70000);
            texts.push_back(std::move(text));
        }
        appender.Finish();
        ASSERT_NE(tokens, nullptr);
        EXPECT_STREQ(tokens->text, texts.back().c_str());
        const TokenListHead head = FindTokenListHead(tokens);
        EXPECT_EQ(head.first, TokenListFirst(tokens));
        EXPECT_EQ(head.count, TokenCountBack(tokens));
        EXPECT_EQ(head.count, c.count + (c.startEmpty ? 0 : 1));
        const TokenNode* node = head.first;
        if (!c.startEmpty) node = node->next;
        for (int i = 0; i < c.count; ++i, node = node->next) {
            ASSERT_NE(node, nullptr);
            EXPECT_STREQ(node->text, texts[static_cast<size_t>(i)].c_str());
            EXPECT_EQ(node->hash, HashName(node->text, texts[static_cast<size_t>(i)].size()));
            EXPECT_STREQ(node->file, "list.qob");
            EXPECT_EQ(node->line, i + 1);
            EXPECT_EQ(node->column, std::min(i % 70000, 0xFFFF));
            if (node->next != nullptr) {
                EXPECT_EQ(node->next->previous, node);
            }
        }
        EXPECT_EQ(node, nullptr);
        // The store goes on from where the appender stopped.
        Emit("LAST");
        EXPECT_EQ(tokens->previous->text, texts.back());
        EXPECT_EQ(FindTokenListHead(tokens).count, head.count + 1);
        FreeTokenList(tokens);
        tokens = nullptr;
    }
}

// Appending after a middle node inserts there; suspended output adds nothing.
TEST_F(TokenListTest, AppenderInsertsAfterAMiddleNodeAndHonoursSuspension) {
    TokenNode* first = Emit("A");
    Emit("C");
    TokenNode* cursor = first;
    {
        TokenAppender appender(cursor);
        appender.Append("B", HashName("B", 1), "list.qob", 1, 1);
        appender.Finish();
    }
    EXPECT_EQ(Texts(tokens), "A B C ");
    EXPECT_STREQ(cursor->text, "B");
    EXPECT_EQ(FindTokenListHead(tokens).count, 3);
    SetTokenOutputSuspended(true);
    TokenNode* end = tokens;
    TokenAppender appender(end);
    appender.Append("D", HashName("D", 1), "list.qob", 1, 1);
    appender.Finish();
    EXPECT_EQ(end, tokens);
    EXPECT_EQ(Texts(tokens), "A B C ");
}

TEST(RecordListTest, FirstAndCountOfAnyLinkedList) {
    Record r[3] = {{nullptr, &r[1]}, {&r[0], &r[2]}, {&r[1], nullptr}};
    // Named "last" elsewhere, it gives the first record.
    EXPECT_EQ(RecordListLast(&r[2]), &r[0]);
    EXPECT_EQ(RecordListCount(&r[1]), 3);
    EXPECT_EQ(RecordListLast<Record>(nullptr), nullptr);
    EXPECT_EQ(RecordListCount<Record>(nullptr), 0);
}

TEST(CutShortNameTest, FirstLineOrStatementUpToTwentyCharacters) {
    struct Case {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {"PROC MAIN\r\nEND", "PROC MAIN"},
        {"PROC MAIN\nEND", "PROC MAIN"},  // a lone LF: the last character stays
        {"PROC MAIN\rEND", "PROC MAIN"},
        {"\nPROC MAIN", ""},
        {"x = 1; y = 2", "x = 1"},
        {"123456789012345678901234567890", "12345678901234567890"},
        {"a;b\nc", "a;b"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(CutShortName(c.text), c.expected) << c.text;
}

TEST(TokenCodeTest, LoopKeywordsAndArgumentFollowers) {
    for (Keyword keyword : {Keyword::If, Keyword::While, Keyword::Repeat, Keyword::ForEach,
                            Keyword::ForEachRev, Keyword::For, Keyword::Case, Keyword::Except})
        EXPECT_TRUE(IsLoopKeyword(KeywordHashes[keyword]));
    for (Keyword keyword : {Keyword::Else, Keyword::End, Keyword::Until, Keyword::Try})
        EXPECT_FALSE(IsLoopKeyword(KeywordHashes[keyword]));
    for (char code : std::string(")\x2C" "ARn")) EXPECT_TRUE(CanFollowArgument(code)) << code;
    for (char code : std::string("(V;F ")) EXPECT_FALSE(CanFollowArgument(code)) << code;
}

TEST(ProcHeaderTest, TextAndKindBytes) {
    std::string main = MakeProcHeaderText(false, 0, false, "MAIN");
    SetProcHeaderKind(main.data(), 0, false, false);
    EXPECT_EQ(main, "\xE9   MAIN");

    std::string winMain = MakeProcHeaderText(false, 1, false, "WINMAIN");
    SetProcHeaderKind(winMain.data(), 1, false, false);
    EXPECT_EQ(winMain, "\xEC ! WINMAIN");

    std::string header = MakeProcHeaderText(true, 2, true, "CALC(1,2)");
    SetProcHeaderKind(header.data(), 2, false, false);
    EXPECT_EQ(header, "\xEC_\x22\xA2" "CALC(1,2)");
    EXPECT_EQ(header.substr(kProcHeaderKeyOffset), "CALC(1,2)");

    struct Case {
        int outputs;
        bool nForm;
        bool forward;
        unsigned char kind;
    };
    const Case cases[] = {
        {0, true, false, 0xEA}, {1, true, false, 0xC4}, {0, false, false, 0xE9},
        {1, false, false, 0xEC}, {2, true, false, 0xEC}, {0, true, true, 0xEB},
        {1, true, true, 0xEF},  {0, false, true, 0xE8},  {3, false, true, 0xE7},
        {2, true, true, 0xE7},
    };
    for (const Case& c : cases) {
        char text[] = "    X";
        SetProcHeaderKind(text, c.outputs, c.nForm, c.forward);
        EXPECT_EQ(static_cast<unsigned char>(text[0]), c.kind) << c.outputs << c.nForm << c.forward;
    }
}

}  // namespace
}  // namespace qob
