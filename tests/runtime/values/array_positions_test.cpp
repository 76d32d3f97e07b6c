// Tests of array element positions and packed matrix cells.
#include "runtime/values/matrix_values.h"
#include "runtime/values/variable_store.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace qob {
namespace {

TEST(ArrayElementIndex, RowAndColumnMajor) {
    struct Case {
        std::initializer_list<int32_t> dims;
        uint8_t columnMajor;
        std::initializer_list<int32_t> index;
        uint32_t expected;
    };
    const Case cases[] = {
        {{2, 3}, 0, {1, 2}, 5},
        {{2, 3}, 1, {1, 2}, 5},
        {{2, 3, 4}, 1, {1, 2, 3}, 23},
        {{2, 3, 4}, 0, {1, 2, 3}, 23},
        {{2, 3, 4}, 0, {1, 0, 0}, 12},
        {{2, 3, 4}, 1, {0, 0, 1}, 6},
        {{5}, 0, {4}, 4},
        {{2, 3}, 0, {1}, 0},        // count differs from the dimension count
        {{2, 3}, 0, {1, 1, 1}, 0},
    };
    for (const auto& c : cases) {
        VariableRecord v{};
        int i = 0;
        for (int32_t d : c.dims)
            v.dimensions[i++] = d;
        v.dimensionCount = static_cast<uint8_t>(c.dims.size());
        v.arrayOrder = c.columnMajor;
        std::vector<int32_t> index(c.index);
        EXPECT_EQ(ArrayElementIndex(&v, index.data(), static_cast<uint32_t>(index.size())), c.expected);
    }
}

TEST(MatrixCell, PackedValueRoundTrip) {
    MatrixCell cells[2]{};
    SetCellValue(&cells[1], -2.5);
    cells[1].kind = kCellNumber;
    EXPECT_EQ(CellValue(&cells[1]), -2.5);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(&cells[1]) - reinterpret_cast<unsigned char*>(&cells[0]), 9);
    int marker = 0;
    SetCellPointer(&cells[0], &marker);
    EXPECT_EQ(CellPointer(&cells[0]), &marker);
}

}  // namespace
}  // namespace qob
