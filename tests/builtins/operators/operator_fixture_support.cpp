// tests/builtins/operators/operator_fixture_support.cpp
// The operator tests' context, operand pushes, result descriptions and the
// exactly-once check of value blocks.

#include "builtins/operators/operator_fixture.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/memory.h"
#include "platform/text_codec.h"
#include "runtime/data/wide_text.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/memory/memory_links.h"
#include "runtime/memory/pool.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/assignment.h"
#include "runtime/values/matrix_values.h"
#include "runtime/vm/push_instructions.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace {
std::atomic<int64_t> gLiveNewBlocks{0};
}  // namespace

// Counting replacements of the global allocation functions; the array and
// sized forms come to these.
void* operator new(std::size_t size) {
    void* block = std::malloc(size ? size : 1);
    if (!block) throw std::bad_alloc();
    ++gLiveNewBlocks;
    return block;
}

void operator delete(void* block) noexcept {
    if (!block) return;
    --gLiveNewBlocks;
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept { operator delete(block); }

// The library's temporary buffers (a stable sort's) come from the nothrow
// form: it must pair with the delete above.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    void* block = std::malloc(size ? size : 1);
    if (block) ++gLiveNewBlocks;
    return block;
}

void operator delete(void* block, const std::nothrow_t&) noexcept { operator delete(block); }

namespace qob::testing {

int64_t LiveOperatorNewBlocks() { return gLiveNewBlocks.load(); }

namespace {

char* TrackedCopy(ProgramContext* context, const std::string& text) {
    auto* copy = static_cast<char*>(platform::AllocateZeroedBlock(text.size() + 1));
    std::memcpy(copy, text.data(), text.size());
    TrackAllocation(context, copy, 0, kTrackedBlock);
    return copy;
}

// A matrix run (tracked) and the chain owning its blocks, from the bracket form.
MatrixCell* ParseMatrix(ProgramContext* context, const std::string& form, MemoryLink** links) {
    const char* start = form.c_str();
    const uint32_t count = StringToMatrixCount(&start);
    auto* run = static_cast<MatrixCell*>(platform::AllocateZeroedBlock((count + 1) * sizeof(MatrixCell)));
    const char* p = form.c_str();
    StringToMatrix(&p, run, links);
    TrackAllocation(context, run, 0, kTrackedBlock);
    return run;
}

std::string MatrixForm(const MatrixCell* cells) {
    std::string form(MatrixToStringCount(cells) + 1, '\0');
    MatrixToString(cells, form.data(), true);
    form.resize(std::strlen(form.c_str()));
    return form;
}

std::string Narrow(const uint16_t* units) {
    return units ? platform::EncodeAnsi(std::span<const uint16_t>(units, platform::WideTextLength(units))) : "";
}

std::string DescribeValue(const char* text, double value, bool matrix, bool wide) {
    if (matrix) return "m:" + MatrixForm(reinterpret_cast<const MatrixCell*>(text));
    if (!text) return "n:" + FormatValue(value);
    if (wide) return "w:" + Narrow(reinterpret_cast<const uint16_t*>(text));
    return "t:" + std::string(text);
}

}  // namespace

std::string FormatValue(double value) {
    if (std::isnan(value)) return "nan";
    char text[64];
    std::snprintf(text, sizeof text, "%.15g", value);
    if (std::strtod(text, nullptr) != value) std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

void OperatorTest::SetUp() {
    ValuesTest::SetUp();
    SetPushPending = 0;
    NoFollowPending = false;
}

void OperatorTest::TearDown() {
    SetPushPending = 0;
    NoFollowPending = false;
    ValuesTest::TearDown();
}

void OperatorTest::Push(const std::string& description) {
    const std::string body = description.substr(2);
    switch (description[0]) {
    case 'n': return PushNumber(std::strtod(body.c_str(), nullptr));
    case 't': return PushText(body);
    case 'w': return PushWide(body);
    case 'm': return PushMatrix(body);
    default: FAIL() << "bad operand description " << description;
    }
}

void OperatorTest::PushNumber(double value) { PushValue(nullptr, value, nullptr); }

void OperatorTest::PushText(const std::string& text) { PushValue(TrackedCopy(context, text), 0.0, nullptr); }

void OperatorTest::PushWide(const std::string& text) {
    uint16_t* wide = AnsiToWide(text.c_str());
    TrackAllocation(context, wide, 0, kTrackedBlock);
    PushValue(reinterpret_cast<const char*>(wide), 0.0, nullptr);
    context->stackTop->flags = kEntryWide;
}

void OperatorTest::PushMatrix(const std::string& form) {
    MemoryLink* links = nullptr;
    MatrixCell* run = ParseMatrix(context, form, &links);
    PushValue(reinterpret_cast<const char*>(run), 0.0, nullptr);
    context->stackTop->flags = kEntryMatrix;
    context->stackTop->ownedLinks = links;
}

void OperatorTest::PushVariable(VariableRecord* variable) {
    char* text = nullptr;
    double value = 0.0;
    GetVariableValue(variable, &text, &value, nullptr);
    PushValue(text, value, variable);
    context->stackTop->flags =
        ((variable->flags & kVarMatrix) ? kEntryMatrix : 0) | ((variable->flags & kVarWideText) ? kEntryWide : 0);
}

std::string OperatorTest::PopDescription() {
    EXPECT_GT(StackDepth(), 0) << "nothing was pushed";
    StackEntry* cell = PopStackEntry();
    const std::string description =
        DescribeValue(cell->text, cell->value, (cell->flags & kEntryMatrix) != 0, (cell->flags & kEntryWide) != 0);
    FreeLinkChain(cell->ownedLinks);
    cell->ownedLinks = nullptr;
    return description;
}

double OperatorTest::PopValue() {
    EXPECT_GT(StackDepth(), 0) << "nothing was pushed";
    StackEntry* cell = PopStackEntry();
    FreeLinkChain(cell->ownedLinks);
    cell->ownedLinks = nullptr;
    return cell->value;
}

int OperatorTest::StackDepth() const { return CountStackEntries(context->stackTop) - 1; }

std::string OperatorTest::RunBinary(void (*handler)(), const std::string& left, const std::string& right) {
    Push(left);
    Push(right);
    handler();
    EXPECT_EQ(StackDepth(), 1) << left << " op " << right;
    return PopDescription();
}

Instruction* OperatorTest::Node(Opcode opcode, void (*handler)(), double operand, const char* text) {
    Instruction* node = EmitInstruction(nullptr, handler, text, operand, nullptr, static_cast<uint32_t>(opcode),
                                        nullptr, 0, 0);
    CurrentInstruction = node;
    return node;
}

void OperatorTest::RunNode(Instruction* node) {
    CurrentInstruction = node;
    node->handler();
}

VariableRecord* OperatorTest::Variable(const char* name) { return RequireVariable(frame, name); }

void OperatorTest::SetNumber(VariableRecord* variable, double value) {
    SetVariableValue(variable, nullptr, value, nullptr, 0);
    variable->flags &= ~kVarWideText;
}

void OperatorTest::SetText(VariableRecord* variable, const std::string& text) {
    variable->flags &= ~kVarWideText;
    SetVariableValue(variable, text.c_str(), 0.0, nullptr, static_cast<int64_t>(text.size() + 1));
}

void OperatorTest::SetWide(VariableRecord* variable, const std::string& text) {
    uint16_t* wide = AnsiToWide(text.c_str());
    const size_t bytes = (platform::WideTextLength(wide) + 1) * sizeof(uint16_t);
    SetVariableValue(variable, reinterpret_cast<const char*>(wide), 0.0, nullptr, static_cast<int64_t>(bytes));
    variable->flags |= kVarWideText;
    platform::FreeBlock(wide);
}

void OperatorTest::SetMatrix(VariableRecord* variable, const std::string& form) {
    MemoryLink* links = nullptr;
    MatrixCell* run = ParseMatrix(context, form, &links);
    SetMatrixValue(variable, run);
    FreeLinkChain(links);
}

std::string OperatorTest::Describe(VariableRecord* variable) {
    char* text = nullptr;
    double value = 0.0;
    GetVariableValue(variable, &text, &value, nullptr);
    return DescribeValue(text, value, (variable->flags & kVarMatrix) != 0, (variable->flags & kVarWideText) != 0);
}

void OperatorTest::OpenFrame() { ASSERT_TRUE(OpenArgumentFrame(context)); }

}  // namespace qob::testing
