// runtime/values/matrix_values.h
// Matrix values: packed runs of 9-byte cells (number, text block or nested
// run, closed by an end cell), their text form, and typed array positions.
#pragma once

#include <cstdint>
#include <cstring>

namespace qob {

struct MemoryLink;
struct VariableRecord;

constexpr uint8_t kCellNumber = 1;
constexpr uint8_t kCellBlock = 2;   // heap block (a text) owned by the cell
constexpr uint8_t kCellMatrix = 3;  // nested cell run owned by the cell
constexpr uint8_t kCellEnd = 4;

// Cells are packed and unaligned: read and write the double through these.
struct MatrixCell {
    unsigned char valueBytes[8];  // IEEE double; for kinds 2 and 3 the address as a number
    uint8_t kind;
};
static_assert(sizeof(MatrixCell) == 9, "MatrixCell must stay packed");

[[nodiscard]] inline double CellValue(const MatrixCell* cell) {
    double value;
    std::memcpy(&value, cell->valueBytes, sizeof value);
    return value;
}
inline void SetCellValue(MatrixCell* cell, double value) {
    std::memcpy(cell->valueBytes, &value, sizeof value);
}
// The block or nested run a kind-2 or kind-3 cell holds.
[[nodiscard]] inline void* CellPointer(const MatrixCell* cell) {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(CellValue(cell)));
}
inline void SetCellPointer(MatrixCell* cell, const void* block) {
    SetCellValue(cell, static_cast<double>(reinterpret_cast<uintptr_t>(block)));
}

// Number of cells before the end cell; deep counts nested runs by their own length.
[[nodiscard]] uint32_t MatrixLength(const MatrixCell* cells, bool deep);
// Deep copy; every copied block and run is linked into links.
[[nodiscard]] MatrixCell* CopyMatrixCells(const MatrixCell* cells, MemoryLink** links);
// Frees every block and nested run (and their links), not the run itself;
// the cells that held them read 0, numbers stay.
void FreeMatrixContents(MatrixCell* cells, MemoryLink** links);
// FreeMatrixContents and then the run.
void FreeMatrix(MatrixCell* cells, MemoryLink** links);
void SetMatrixValue(VariableRecord* variable, const MatrixCell* cells);
void MatrixCellSet(MatrixCell* cell, const void* block, double value, MemoryLink** links);
void MatrixCellSetMatrix(MatrixCell* cell, const MatrixCell* cells, MemoryLink** links);
[[nodiscard]] MatrixCell* MatrixAdd(const MatrixCell* cells, double value, uint8_t kind, MemoryLink** links);
// New matrix without the clamped range; the source is left as it is (its
// owner frees it).
[[nodiscard]] MatrixCell* MatrixDelete(const MatrixCell* cells, int64_t start, int64_t count,
                                       MemoryLink** links);
[[nodiscard]] MatrixCell* MatrixMid(const MatrixCell* cells, int64_t start, int64_t count, MemoryLink** links);
// Writes the numbers into the array's storage from *position, at most the
// array's element count; returns the number of values written.
uint32_t MatrixToArray(const MatrixCell* cells, unsigned char** position, VariableRecord* array);
[[nodiscard]] uint64_t MatrixToStringCount(const MatrixCell* cells);
char* MatrixToString(const MatrixCell* cells, char* output, bool topLevel);
[[nodiscard]] uint32_t StringToMatrixCount(const char** text);
MatrixCell* StringToMatrix(const char** text, MatrixCell* output, MemoryLink** links);
[[nodiscard]] uint32_t ArrayElementIndex(const VariableRecord* variable, const int32_t* indices, uint32_t count);

}  // namespace qob
