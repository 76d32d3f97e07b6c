// runtime/values/matrix_values.cpp
// Matrix cell runs: length, deep copies, cell updates, add, delete, mid, and
// the copy of a matrix's numbers into a typed array.
#include "runtime/values/matrix_values.h"

#include "platform/memory.h"
#include "runtime/data/number_text.h"
#include "runtime/memory/memory_links.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/list_values.h"
#include "runtime/values/typed_fields.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/program_context.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace qob {

namespace {

MatrixCell* NewCells(size_t count) {
    return static_cast<MatrixCell*>(AllocateValueBlock(count * sizeof(MatrixCell)));
}

void WriteEnd(MatrixCell* cell) {
    SetCellValue(cell, 0.0);
    cell->kind = kCellEnd;
}

// A copy of the block a kind-2 cell holds, registered and linked at the cell.
void* CopyCellBlock(const void* block, MatrixCell* at, MemoryLink** links) {
    char* copy = CopyValueBlockOrText(block, false);
    if (!copy)
        return nullptr;
    RegisterValueBlock(copy);
    if (links)
        PushMemoryLink(links, copy, at, kTypeDouble);
    return copy;
}

// Copies one cell's content into target (a fresh cell of a new run).
void CopyCell(const MatrixCell* source, MatrixCell* target, MemoryLink** links) {
    target->kind = source->kind;
    switch (source->kind) {
    case kCellBlock:
        SetCellPointer(target, CopyCellBlock(CellPointer(source), target, links));
        break;
    case kCellMatrix: {
        MatrixCell* run = CopyMatrixCells(static_cast<const MatrixCell*>(CellPointer(source)), links);
        SetCellPointer(target, run);
        if (run && links)
            PushMemoryLink(links, run, target, kTypeDouble);
        break;
    }
    default:
        SetCellValue(target, CellValue(source));
        break;
    }
}

// The number of cells before the end cell (0 for no run), and whether any of
// them holds a block or a nested run.
uint32_t CountCells(const MatrixCell* cells, bool& holds) {
    holds = false;
    if (!cells)
        return 0;
    static_assert(kCellMatrix == kCellBlock + 1);
    uint32_t count = 0;
    bool any = false;
    for (; cells->kind != kCellEnd; ++cells, ++count)
        any |= static_cast<uint8_t>(cells->kind - kCellBlock) <= 1;
    holds = any;
    return count;
}

// Copies count cells from cells[from] on into a fresh run: every cell byte for
// byte at once, then, where the run holds any, the blocks and nested runs
// again, each into a copy of its own (linked in the order of the cells). A
// run of numbers costs one copy.
void CopyCells(const MatrixCell* cells, size_t from, MatrixCell* target, size_t count, bool holds,
               MemoryLink** links) {
    if (count == 0)
        return;
    const MatrixCell* source = cells + from;
    std::memcpy(target, source, count * sizeof(MatrixCell));
    if (!holds)
        return;
    for (size_t i = 0; i < count; ++i)
        if (source[i].kind == kCellBlock || source[i].kind == kCellMatrix)
            CopyCell(&source[i], &target[i], links);
}

// Frees what a cell holds (its block or nested run) with the links to it.
void FreeCellContent(MatrixCell* cell, MemoryLink** links) {
    void* held = CellPointer(cell);
    if (cell->kind == kCellMatrix && held) {
        FreeMatrixContents(static_cast<MatrixCell*>(held), links);
    }
    if ((cell->kind == kCellMatrix || cell->kind == kCellBlock) && held) {
        MemoryLink* none = nullptr;
        FreeLinkedBlock(links ? links : &none, held, true);
    }
    SetCellValue(cell, 0.0);
}

void ClampRange(uint32_t length, int64_t& start, int64_t& count) {
    start = std::clamp<int64_t>(start, 0, length);
    count = std::clamp<int64_t>(count, 0, length - start);
}

}  // namespace

uint32_t MatrixLength(const MatrixCell* cells, bool deep) {
    if (!cells)
        return 0;
    uint32_t count = 0;
    for (; cells->kind != kCellEnd; ++cells) {
        if (deep && cells->kind == kCellMatrix)
            count += MatrixLength(static_cast<const MatrixCell*>(CellPointer(cells)), true);
        else
            ++count;
    }
    return count;
}

MatrixCell* CopyMatrixCells(const MatrixCell* cells, MemoryLink** links) {
    if (!cells)
        return nullptr;
    bool holds;
    const uint32_t length = CountCells(cells, holds);
    MatrixCell* copy = NewCells(length + 1);
    if (!copy)
        return nullptr;
    RegisterValueBlock(copy);
    CopyCells(cells, 0, copy, length, holds, links);
    WriteEnd(&copy[length]);
    return copy;
}

void FreeMatrixContents(MatrixCell* cells, MemoryLink** links) {
    if (!cells)
        return;
    // Numbers hold nothing: only texts and nested runs are visited.
    for (; cells->kind != kCellEnd; ++cells)
        if (static_cast<uint8_t>(cells->kind - kCellBlock) <= 1)
            FreeCellContent(cells, links);
}

void FreeMatrix(MatrixCell* cells, MemoryLink** links) {
    if (!cells)
        return;
    FreeMatrixContents(cells, links);
    MemoryLink* none = nullptr;
    FreeLinkedBlock(links ? links : &none, cells, true);
}

void MatrixCellSet(MatrixCell* cell, const void* block, double value, MemoryLink** links) {
    FreeCellContent(cell, links);
    if (block)
        SetCellPointer(cell, CopyCellBlock(block, cell, links));
    else
        SetCellValue(cell, value);
}

void MatrixCellSetMatrix(MatrixCell* cell, const MatrixCell* cells, MemoryLink** links) {
    FreeCellContent(cell, links);
    MatrixCell* run = CopyMatrixCells(cells, links);
    SetCellPointer(cell, run);
    cell->kind = kCellMatrix;
    if (run && links)
        PushMemoryLink(links, run, cell, kTypeDouble);
}

void SetMatrixValue(VariableRecord* variable, const MatrixCell* cells) {
    // Copied before the old value goes: the cells may be part of it.
    MemoryLink* links = nullptr;
    MatrixCell* copy = CopyMatrixCells(cells, &links);
    ClearVariable(CurrentContext, variable, true, false);
    FreeMemoryLinks(variable);
    variable->data = reinterpret_cast<char*>(copy);
    variable->links = links;
    variable->flags = (variable->flags & ~(kVarWideText | kVarHandedOver)) | kVarOwnsData | kVarMatrix;
    if (variable->currentNode && (variable->flags & kVarList) && !variable->reference)
        StoreListElement(variable);
}

MatrixCell* MatrixAdd(const MatrixCell* cells, double value, uint8_t kind, MemoryLink** links) {
    bool holds;
    const uint32_t length = CountCells(cells, holds);
    uint32_t added = kind == 0 ? 0 : 1;
    MatrixCell* result = NewCells(length + added + 1);
    if (!result)
        return nullptr;
    RegisterValueBlock(result);
    CopyCells(cells, 0, result, length, holds, links);
    if (added) {
        MatrixCell* cell = &result[length];
        cell->kind = kind;
        if (kind == kCellMatrix) {
            auto* source = reinterpret_cast<const MatrixCell*>(static_cast<uintptr_t>(value));
            MatrixCell* run = CopyMatrixCells(source, links);
            SetCellPointer(cell, run);
            if (run && links)
                PushMemoryLink(links, run, cell, kTypeDouble);
        } else if (kind == kCellBlock) {
            // The new matrix owns a copy of the text, like every other kind-2 cell.
            SetCellPointer(cell, CopyCellBlock(reinterpret_cast<const void*>(static_cast<uintptr_t>(value)), cell,
                                               links));
        } else {
            SetCellValue(cell, value);
        }
    }
    WriteEnd(&result[length + added]);
    return result;
}

MatrixCell* MatrixDelete(const MatrixCell* cells, int64_t start, int64_t count, MemoryLink** links) {
    bool holds;
    const uint32_t length = CountCells(cells, holds);
    ClampRange(length, start, count);
    MatrixCell* result = NewCells(length - count + 1);
    if (!result)
        return nullptr;
    RegisterValueBlock(result);
    CopyCells(cells, 0, result, start, holds, links);
    CopyCells(cells, start + count, result + start, length - start - count, holds, links);
    WriteEnd(&result[length - count]);
    return result;
}

MatrixCell* MatrixMid(const MatrixCell* cells, int64_t start, int64_t count, MemoryLink** links) {
    bool holds;
    const uint32_t length = CountCells(cells, holds);
    ClampRange(length, start, count);
    MatrixCell* result = NewCells(count + 1);
    if (!result)
        return nullptr;
    RegisterValueBlock(result);
    CopyCells(cells, start, result, count, holds, links);
    WriteEnd(&result[count]);
    return result;
}

namespace {

// A text cell's element: a number-typed element holds the address of the
// array's own copy of the text (a memory link of the array, as the typed
// store gives it), never the cell's block, which goes with the matrix; a
// byte element takes the first character, a 16-bit one the text's number and
// a byte field the characters.
void StoreCellTextInArray(VariableRecord* array, unsigned char* element, const char* text) {
    if (!text) {
        StoreTypedValue(array, element, array->type, nullptr, 0.0);
        return;
    }
    if (array->type == kTypeByte) {
        StoreTypedValue(array, element, kTypeByte, nullptr, static_cast<unsigned char>(text[0]));
        return;
    }
    const size_t size = platform::GetBlockSize(text);
    AssignTypedField(element, array, text, 0.0, static_cast<int64_t>(size ? size : std::strlen(text) + 1));
}

uint32_t WriteNumbers(const MatrixCell* cells, unsigned char** position, VariableRecord* array, uint32_t room,
                      uint32_t size) {
    uint32_t written = 0;
    for (; cells && cells->kind != kCellEnd && written < room; ++cells) {
        if (cells->kind == kCellMatrix) {
            written += WriteNumbers(static_cast<const MatrixCell*>(CellPointer(cells)), position, array,
                                    room - written, size);
            continue;
        }
        if (cells->kind == kCellBlock)
            StoreCellTextInArray(array, *position, static_cast<const char*>(CellPointer(cells)));
        else
            StoreTypedValue(array, *position, array->type, nullptr, CellValue(cells));
        *position += size;
        ++written;
    }
    return written;
}

}  // namespace

uint32_t MatrixToArray(const MatrixCell* cells, unsigned char** position, VariableRecord* array) {
    uint32_t size = ElementSize(array->type);
    if (size == 0 || !array->data)
        return 0;
    auto* base = reinterpret_cast<unsigned char*>(array->data);
    int64_t used = (*position - base) / size;
    if (*position < base || used >= array->elementCount)
        return 0;
    return WriteNumbers(cells, position, array, static_cast<uint32_t>(array->elementCount - used), size);
}

}  // namespace qob

// The text form: "[1,2,{ab},[3,4]]". Braces enclose texts; commas and brackets
// inside them belong to the text. Braces inside a text are written as they are,
// so such a text does not read back the same.
namespace qob {

namespace {

char* AppendText(char* out, const char* text) {
    size_t length = std::strlen(text);
    std::memcpy(out, text, length);
    return out + length;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Reads the items of one bracketed level; p stands after its "[" and ends
// after its "]". Writes at most capacity cells (without the end cell).
uint32_t ParseMatrixItems(const char*& p, MatrixCell* out, uint32_t capacity, MemoryLink** links) {
    uint32_t written = 0;
    const char* itemStart = p;
    int braces = 0;
    bool afterNested = false;
    for (;; ++p) {
        char c = *p;
        if (c == 0)
            break;
        if (c == '{') {
            ++braces;
            continue;
        }
        if (c == '}') {
            if (braces > 0)
                --braces;
            continue;
        }
        if (braces > 0)
            continue;
        if (c == '[') {
            const char* nestedStart = p;
            uint32_t count = StringToMatrixCount(&nestedStart);
            auto* nested = static_cast<MatrixCell*>(AllocateValueBlock((count + 1) * sizeof(MatrixCell)));
            ++p;
            uint32_t n = ParseMatrixItems(p, nested, nested ? count : 0, links);
            if (nested) {
                SetCellValue(&nested[n], 0.0);
                nested[n].kind = kCellEnd;
                RegisterValueBlock(nested);
            }
            if (written < capacity && nested) {
                MatrixCell* cell = &out[written++];
                SetCellPointer(cell, nested);
                cell->kind = kCellMatrix;
                if (links)
                    PushMemoryLink(links, nested, cell, kTypeDouble);
            } else {
                FreeMatrix(nested, links);
            }
            afterNested = true;
            --p;  // p stands on the nested "]"; the loop steps past it
            continue;
        }
        if (c != ',' && c != ']')
            continue;
        // One item ends here, trimmed of blanks.
        const char* begin = itemStart;
        const char* end = p;
        while (begin < end && IsBlank(*begin))
            ++begin;
        while (end > begin && IsBlank(end[-1]))
            --end;
        bool empty = begin == end;
        if (afterNested) {
            afterNested = false;
        } else if (!(empty && c == ']') && written < capacity) {
            MatrixCell* cell = &out[written++];
            if (*begin == '{') {
                size_t length = end - begin >= 2 ? static_cast<size_t>(end - begin - 2) : 0;
                char* text = static_cast<char*>(AllocateValueBlock(length + 1));
                if (text)
                    std::memcpy(text, begin + 1, length);
                RegisterValueBlock(text);
                SetCellPointer(cell, text);
                cell->kind = kCellBlock;
                if (links && text)
                    PushMemoryLink(links, text, cell, kTypeDouble);
            } else {
                std::string item(begin, end);
                SetCellValue(cell, StringToNumber(item.c_str()));
                cell->kind = kCellNumber;
            }
        }
        itemStart = p + 1;
        if (c == ']') {
            ++p;
            break;
        }
    }
    return written;
}

}  // namespace

uint64_t MatrixToStringCount(const MatrixCell* cells) {
    if (!cells || cells->kind == kCellEnd)
        return 3;  // "[]" and its terminator
    uint64_t count = 2;
    char number[kNumberTextSize];
    for (; cells->kind != kCellEnd; ++cells) {
        switch (cells->kind) {
        case kCellBlock: {
            const char* text = static_cast<const char*>(CellPointer(cells));
            count += (text ? std::strlen(text) : 0) + 3;
            break;
        }
        case kCellMatrix:
            count += MatrixToStringCount(static_cast<const MatrixCell*>(CellPointer(cells))) + 2;
            break;
        default:
            count += FormatNumber(CellValue(cells), number) + 1;
            break;
        }
    }
    return count;
}

char* MatrixToString(const MatrixCell* cells, char* output, bool topLevel) {
    char* out = output;
    *out++ = '[';
    char number[kNumberTextSize];
    for (; cells && cells->kind != kCellEnd; ++cells) {
        switch (cells->kind) {
        case kCellBlock: {
            const char* text = static_cast<const char*>(CellPointer(cells));
            *out++ = '{';
            out = AppendText(out, text ? text : "");
            out = AppendText(out, "},");
            break;
        }
        case kCellMatrix:
            out = MatrixToString(static_cast<const MatrixCell*>(CellPointer(cells)), out, false);
            break;
        default:
            FormatNumber(CellValue(cells), number);
            out = AppendText(out, number);
            *out++ = ',';
            break;
        }
    }
    if (out[-1] == ',')
        --out;
    out = AppendText(out, topLevel ? "]" : "],");
    *out = 0;
    return out;
}

uint32_t StringToMatrixCount(const char** text) {
    const char* p = *text;
    if (!p)
        return 1;
    uint32_t commas = 0;
    int depth = 0;
    int braces = 0;
    for (; *p; ++p) {
        char c = *p;
        if (c == '{') {
            ++braces;
        } else if (c == '}') {
            if (braces > 0)
                --braces;
        } else if (braces == 0) {
            if (c == '[') {
                ++depth;
            } else if (c == ']') {
                if (--depth <= 0)
                    break;
            } else if (c == ',' && depth == 1) {
                ++commas;
            }
        }
    }
    return commas + 1;
}

MatrixCell* StringToMatrix(const char** text, MatrixCell* output, MemoryLink** links) {
    const char* p = text ? *text : nullptr;
    uint32_t written = 0;
    if (p && *p == '[') {
        const char* start = p;
        uint32_t capacity = StringToMatrixCount(&start);
        ++p;
        written = ParseMatrixItems(p, output, capacity, links);
        *text = p;
    }
    SetCellValue(&output[written], 0.0);
    output[written].kind = kCellEnd;
    return &output[written + 1];
}

}  // namespace qob
