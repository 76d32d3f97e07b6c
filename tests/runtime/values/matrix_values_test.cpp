// Tests of matrix cell runs: copies, add, delete, mid, the text form, the copy
// into typed arrays, and the variable that holds a matrix.
#include "runtime/values/matrix_values.h"

#include "runtime/memory/memory_links.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/values_fixture.h"
#include "runtime/values/variable_store.h"

#include <cstring>
#include <string>
#include <vector>

namespace qob {
namespace {

using MatrixValuesTest = testing::ValuesTest;

// Parses a matrix text into a new run owned through links.
MatrixCell* Parse(const char* text, MemoryLink** links) {
    const char* p = text;
    uint32_t count = StringToMatrixCount(&p);
    auto* cells = static_cast<MatrixCell*>(AllocateValueBlock((count + 1) * sizeof(MatrixCell)));
    StringToMatrix(&p, cells, links);
    return cells;
}

std::string Text(const MatrixCell* cells) {
    std::string out(MatrixToStringCount(cells), '\0');
    char* end = MatrixToString(cells, out.data(), true);
    EXPECT_LT(static_cast<size_t>(end - out.data()), out.size()) << "text overran its count";
    out.resize(static_cast<size_t>(end - out.data()));
    return out;
}

// Frees a run made by Parse or by the matrix routines.
void Release(MatrixCell* cells, MemoryLink** links) {
    FreeMatrix(cells, links);
    FreeLinkChain(*links);
    *links = nullptr;
}

TEST_F(MatrixValuesTest, TextRoundTripAndLengths) {
    MemoryLink* links = nullptr;
    MatrixCell* m = Parse("[1,2,{ab},[3,4]]", &links);
    EXPECT_EQ(MatrixLength(m, false), 4u);
    EXPECT_EQ(MatrixLength(m, true), 5u);
    EXPECT_EQ(m[2].kind, kCellBlock);
    EXPECT_STREQ(static_cast<const char*>(CellPointer(&m[2])), "ab");
    EXPECT_EQ(m[3].kind, kCellMatrix);
    EXPECT_EQ(Text(m), "[1,2,{ab},[3,4]]");
    Release(m, &links);
}

TEST_F(MatrixValuesTest, ParsingRules) {
    struct Case { const char* text; const char* expected; uint32_t length; };
    const Case cases[] = {
        {"[ 5 , {x, y} ]", "[5,{x, y}]", 2},
        {"[]", "[]", 0},                       // no cell for the empty text
        {"", "[]", 0},
        {"12", "[]", 0},                       // not a matrix text
        {"[{a]b},[1,[2]],3]", "[{a]b},[1,[2]],3]", 3},
        {"[{[x},{y]}]", "[{[x},{y]}]", 2},      // brackets inside braces are text
        {"[[],1]", "[[],1]", 2},
    };
    for (const Case& c : cases) {
        MemoryLink* links = nullptr;
        MatrixCell* m = Parse(c.text, &links);
        EXPECT_EQ(MatrixLength(m, false), c.length) << c.text;
        EXPECT_EQ(Text(m), c.expected) << c.text;
        Release(m, &links);
    }
}

TEST_F(MatrixValuesTest, CountAppliesTheBraceRule) {
    // Brackets inside a text must not end the count early.
    const char* text = "[{a]},1,2]";
    EXPECT_EQ(StringToMatrixCount(&text), 3u);
    const char* nested = "[1,[2,3],{,}]";
    EXPECT_EQ(StringToMatrixCount(&nested), 3u);
}

TEST_F(MatrixValuesTest, EmptyMatrixTextNeedsRoomForItsTerminator) {
    MatrixCell end[1]{};
    end[0].kind = kCellEnd;
    EXPECT_EQ(MatrixToStringCount(end), 3u);
    EXPECT_EQ(Text(end), "[]");
}

TEST_F(MatrixValuesTest, DeleteAndMidClampTheirRange) {
    MemoryLink* links = nullptr;
    MatrixCell* m = Parse("[1,2,{ab},[3,4]]", &links);
    struct Case { bool mid; int64_t start, count; const char* expected; };
    const Case cases[] = {
        {false, 1, 1, "[1,{ab},[3,4]]"},
        {false, 2, 99, "[1,2]"},
        {false, -3, 1, "[2,{ab},[3,4]]"},
        {false, 9, 2, "[1,2,{ab},[3,4]]"},
        {false, 0, -4, "[1,2,{ab},[3,4]]"},
        {true, 2, 2, "[{ab},[3,4]]"},
        {true, 3, 50, "[[3,4]]"},
        {true, -1, 2, "[1,2]"},
        {true, 4, 1, "[]"},
    };
    for (const Case& c : cases) {
        MemoryLink* resultLinks = nullptr;
        MatrixCell* r = c.mid ? MatrixMid(m, c.start, c.count, &resultLinks)
                              : MatrixDelete(m, c.start, c.count, &resultLinks);
        EXPECT_EQ(Text(r), c.expected) << c.mid << " " << c.start << " " << c.count;
        Release(r, &resultLinks);
        // The source stays whole: its owner still frees it.
        EXPECT_EQ(Text(m), "[1,2,{ab},[3,4]]");
    }
    Release(m, &links);
}

TEST_F(MatrixValuesTest, AddCopiesTextsAndMatrices) {
    MemoryLink* links = nullptr;
    MatrixCell* m = Parse("[1]", &links);
    char text[] = "borrowed";
    MemoryLink* textLinks = nullptr;
    MatrixCell* withText =
        MatrixAdd(m, static_cast<double>(reinterpret_cast<uintptr_t>(text)), kCellBlock, &textLinks);
    EXPECT_NE(CellPointer(&withText[1]), static_cast<void*>(text));
    text[0] = 'X';
    EXPECT_EQ(Text(withText), "[1,{borrowed}]");
    MemoryLink* matrixLinks = nullptr;
    MatrixCell* withMatrix =
        MatrixAdd(withText, static_cast<double>(reinterpret_cast<uintptr_t>(m)), kCellMatrix, &matrixLinks);
    EXPECT_EQ(Text(withMatrix), "[1,{borrowed},[1]]");
    MemoryLink* plainLinks = nullptr;
    MatrixCell* plain = MatrixAdd(withMatrix, 0, 0, &plainLinks);
    EXPECT_EQ(Text(plain), "[1,{borrowed},[1]]");
    Release(plain, &plainLinks);
    Release(withMatrix, &matrixLinks);
    Release(withText, &textLinks);
    Release(m, &links);
}

// Every copy -- whole, by add, delete and mid -- has numbers bit for bit and
// a block of its own for every text and nested run, each linked at its cell.
TEST_F(MatrixValuesTest, CopiesShareNoBlockWithTheirSource) {
    struct Case {
        const char* source;
        int routine;  // 0 copy, 1 add of nothing, 2 delete the second cell, 3 mid from the second cell on
        const char* expected;
    };
    const Case cases[] = {
        {"[1,-2.5,3]", 0, "[1,-2.5,3]"},
        {"[1,{ab},[3,{cd}],4]", 0, "[1,{ab},[3,{cd}],4]"},
        {"[{x},2,3]", 1, "[{x},2,3]"},
        {"[5,6,7]", 2, "[5,7]"},
        {"[{a},{b},[{c}],9]", 2, "[{a},[{c}],9]"},
        {"[7,8,{t}]", 3, "[8,{t}]"},
        {"[]", 0, "[]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        MemoryLink* links = nullptr;
        MatrixCell* m = Parse(c.source, &links);
        MemoryLink* copyLinks = nullptr;
        MatrixCell* copy = c.routine == 0   ? CopyMatrixCells(m, &copyLinks)
                           : c.routine == 1 ? MatrixAdd(m, 0, 0, &copyLinks)
                           : c.routine == 2 ? MatrixDelete(m, 1, 1, &copyLinks)
                                            : MatrixMid(m, 1, 99, &copyLinks);
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(Text(copy), c.expected);
        // The top-level cells the copy took, in order.
        std::vector<const MatrixCell*> taken;
        for (uint32_t i = 0; m[i].kind != kCellEnd; ++i)
            if (c.routine != 2 || i != 1)
                if (c.routine != 3 || i >= 1) taken.push_back(&m[i]);
        ASSERT_EQ(MatrixLength(copy, false), taken.size());
        size_t held = 0;
        for (size_t i = 0; i < taken.size(); ++i) {
            EXPECT_EQ(copy[i].kind, taken[i]->kind);
            if (copy[i].kind == kCellNumber) {
                EXPECT_EQ(std::memcmp(copy[i].valueBytes, taken[i]->valueBytes, 8), 0);
                continue;
            }
            ++held;
            EXPECT_NE(CellPointer(&copy[i]), CellPointer(taken[i])) << "a block of its own";
            bool linked = false;
            for (const MemoryLink* link = copyLinks; link; link = link->older)
                linked = linked || (link->block == CellPointer(&copy[i]) && link->field == &copy[i]);
            EXPECT_TRUE(linked) << "cell " << i;
        }
        EXPECT_EQ(held > 0, copyLinks != nullptr);
        Release(copy, &copyLinks);
        Release(m, &links);
    }
}

TEST_F(MatrixValuesTest, ToArrayStopsAtTheArrayEnd) {
    MemoryLink* links = nullptr;
    MatrixCell* m = Parse("[1,[2,3],4,5]", &links);
    int32_t storage[4] = {0, 0, 0, -7};
    VariableRecord array{};
    array.type = -4;
    array.elementCount = 3;
    array.data = reinterpret_cast<char*>(storage);
    auto* position = reinterpret_cast<unsigned char*>(storage);
    EXPECT_EQ(MatrixToArray(m, &position, &array), 3u);
    EXPECT_EQ(storage[0], 1);
    EXPECT_EQ(storage[1], 2);
    EXPECT_EQ(storage[2], 3);
    EXPECT_EQ(storage[3], -7);  // beyond the array: untouched
    auto* middle = reinterpret_cast<unsigned char*>(&storage[2]);
    EXPECT_EQ(MatrixToArray(m, &middle, &array), 1u);
    EXPECT_EQ(storage[2], 1);
    Release(m, &links);
}

// A text cell written into an array of numbers gives the array its own copy
// (linked to the element), so the element still reads the text once the
// matrix is gone; a byte array takes the first character.
TEST_F(MatrixValuesTest, ToArrayCopiesTextCellsForTheArray) {
    MemoryLink* links = nullptr;
    MatrixCell* m = Parse("[1,{ab},3]", &links);
    const void* cellBlock = CellPointer(&m[1]);
    double storage[3] = {};
    VariableRecord* array = Local("A$");
    array->type = -8;
    array->elementCount = 3;
    array->data = reinterpret_cast<char*>(storage);
    auto* position = reinterpret_cast<unsigned char*>(storage);
    EXPECT_EQ(MatrixToArray(m, &position, array), 3u);
    EXPECT_NE(storage[1], static_cast<double>(reinterpret_cast<uintptr_t>(cellBlock))) << "not the matrix's block";
    ASSERT_NE(array->links, nullptr);
    EXPECT_EQ(storage[1], static_cast<double>(reinterpret_cast<uintptr_t>(array->links->block)));
    Release(m, &links);
    char* text = nullptr;
    double value = 0;
    GetVariableValue(array, &text, &value, &storage[1]);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "ab");
    EXPECT_EQ(storage[0], 1);
    EXPECT_EQ(storage[2], 3);
    FreeMemoryLinks(array);

    MatrixCell* b = Parse("[{xy},7]", &links);
    unsigned char bytes[3] = {0, 0, 9};
    array->type = -1;
    array->elementCount = 2;
    array->data = reinterpret_cast<char*>(bytes);
    position = bytes;
    EXPECT_EQ(MatrixToArray(b, &position, array), 2u);
    EXPECT_EQ(bytes[0], 'x');
    EXPECT_EQ(bytes[1], 7);
    EXPECT_EQ(bytes[2], 9) << "past the array";
    EXPECT_EQ(array->links, nullptr);
    Release(b, &links);
    array->data = nullptr;
    array->elementCount = 0;
    array->type = 0;
}

TEST_F(MatrixValuesTest, VariableHoldsADeepCopy) {
    MemoryLink* links = nullptr;
    MatrixCell* m = Parse("[{a},[{b}]]", &links);
    VariableRecord* v = Local("M$");
    SetMatrixValue(v, m);
    EXPECT_EQ(v->flags & (kVarMatrix | kVarOwnsData), kVarMatrix | kVarOwnsData);
    EXPECT_NE(v->data, reinterpret_cast<char*>(m));
    Release(m, &links);
    EXPECT_EQ(Text(reinterpret_cast<MatrixCell*>(v->data)), "[{a},[{b}]]");
    // Storing the variable's own cells again must not read freed memory.
    SetMatrixValue(v, reinterpret_cast<MatrixCell*>(v->data));
    EXPECT_EQ(Text(reinterpret_cast<MatrixCell*>(v->data)), "[{a},[{b}]]");
    // A cell written through the variable gets its own text.
    auto* cells = reinterpret_cast<MatrixCell*>(v->data);
    SetVariableValue(v, "zz", 0, &cells[0], 3);
    EXPECT_EQ(Text(cells), "[{zz},[{b}]]");
    SetVariableValue(v, nullptr, 9, &cells[1], 0);
    EXPECT_EQ(Text(cells), "[{zz},9]");
    char* text = nullptr;
    double value = 0;
    GetVariableValue(v, &text, &value, &cells[0]);
    EXPECT_STREQ(text, "zz");
}

}  // namespace
}  // namespace qob
