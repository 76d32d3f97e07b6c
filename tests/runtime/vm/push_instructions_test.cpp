// tests/runtime/vm/push_instructions_test.cpp
// The push family, member by member: what each pushes and in which order,
// variables followed through their references or named themselves (NG forms),
// and the two-parameter binding node.

#include "runtime/vm/push_instructions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/memory.h"
#include "runtime/memory/memory_links.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/matrix_values.h"
#include "runtime/values/objects.h"
#include "runtime/vm/value_stack.h"
#include "vm_fixture.h"

namespace qob::testing {
namespace {

class PushTest : public VmTest {
protected:
    void SetUp() override {
        VmTest::SetUp();
        Global("A$")->value = 1;
        SetVariableValue(Global("B$"), "bee", 0.0, nullptr, 4);
        Global("C$")->reference = FindVariable("A$", 0);  // C$ is an alias of A$
    }
    // Runs one node and describes the cells it pushed, bottom first:
    // "n:<number>", "t:<text>", "v:<name>=<number>" (a variable read) or
    // "ng:<name>" (the variable itself, no value).
    std::vector<std::string> Pushes(Opcode opcode, Handler handler, const char* text, double operand,
                                    bool constantBytes) {
        Instruction* node = Emit(opcode, handler, constantBytes ? nullptr : text, operand);
        // Eight constant bytes are no terminated text: the node takes them as
        // the optimiser gives them.
        if (constantBytes) node->text = const_cast<char*>(text);
        StackEntry* before = context->stackTop;
        CurrentInstruction = node;
        handler();
        CurrentInstruction = nullptr;
        std::vector<std::string> cells;
        for (StackEntry* cell = context->stackTop; cell != before; cell = cell->below) {
            std::string described;
            char number[32];
            std::snprintf(number, sizeof number, "%g", cell->value);
            if (cell->variable && !cell->text && cell->value == 0.0) described = std::string("ng:") + cell->variable->name;
            else if (cell->variable) described = std::string("v:") + cell->variable->name + "=" + (cell->text ? cell->text : number);
            else if (cell->text) described = std::string("t:") + cell->text;
            else described = std::string("n:") + number;
            cells.insert(cells.begin(), described);
        }
        while (context->stackTop != before) PopStackEntry();
        return cells;
    }
    // A second text as the operand carries it: a block the node frees.
    static double Address(const char* text) {
        const size_t size = std::strlen(text) + 1;
        auto* copy = static_cast<char*>(platform::AllocateBlock(size));
        std::memcpy(copy, text, size);
        return static_cast<double>(reinterpret_cast<uintptr_t>(copy));
    }
    // A text whose first 8 bytes hold a number (the first constant of
    // PUSHINTINT), freed with the node.
    static const char* NumberText(double value) {
        auto* text = static_cast<char*>(platform::AllocateZeroedBlock(sizeof value + 1));
        std::memcpy(text, &value, sizeof value);
        return text;
    }
};

TEST_F(PushTest, EachMemberPushesItsOperandsInOrder) {
    struct Case {
        Opcode opcode;
        Handler handler;
        const char* text;
        double operand;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {Opcode::PUSHINT, Handle_PUSHINT, nullptr, 4, {"n:4"}},
        {Opcode::PUSHSTR, Handle_PUSHSTR, "hi", 0, {"t:hi"}},
        {Opcode::PUSHVAR, Handle_PUSHVAR, "B$", 0, {"v:B$=bee"}},
        {Opcode::PUSHVAR, Handle_PUSHVAR, "C$", 0, {"v:A$=1"}},  // follows the alias
        {Opcode::NGPUSHVAR, Handle_NGPUSHVAR, "C$", 0, {"ng:C$"}},  // names the alias itself
        {Opcode::PUSHINTINT, Handle_PUSHINTINT, NumberText(7), 8, {"n:7", "n:8"}},
        {Opcode::PUSHINTSTR, Handle_PUSHINTSTR, "s", 9, {"n:9", "t:s"}},
        {Opcode::PUSHVARINT, Handle_PUSHVARINT, "A$", 2, {"v:A$=1", "n:2"}},
        {Opcode::PUSHNGVARINT, Handle_PUSHNGVARINT, "C$", 3, {"ng:C$", "n:3"}},
        {Opcode::PUSHINTVAR, Handle_PUSHINTVAR, "B$", 5, {"n:5", "v:B$=bee"}},
        {Opcode::PUSHSTRVAR, Handle_PUSHSTRVAR, "A$", Address("second"), {"t:second", "v:A$=1"}},
        {Opcode::PUSHSTRSTR, Handle_PUSHSTRSTR, "first", Address("second"), {"t:first", "t:second"}},
        {Opcode::PUSHVARSTR, Handle_PUSHVARSTR, "s", Address("B$"), {"v:B$=bee", "t:s"}},
        {Opcode::PUSHNGVARSTR, Handle_PUSHNGVARSTR, "s", Address("B$"), {"ng:B$", "t:s"}},
        {Opcode::PUSHSTRINT, Handle_PUSHSTRINT, "s", 6, {"t:s", "n:6"}},
        {Opcode::PUSHVARVAR, Handle_PUSHVARVAR, "A$", Address("B$"), {"v:B$=bee", "v:A$=1"}},
        {Opcode::NGPUSHVARVAR, Handle_NGPUSHVARVAR, "C$", Address("B$"), {"ng:B$", "ng:C$"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Pushes(c.opcode, c.handler, c.text, c.operand, c.opcode == Opcode::PUSHINTINT), c.expected)
            << static_cast<int>(c.opcode);
    // A text constant is pushed as the node's own text, not a copy.
    Instruction* node = Emit(Opcode::PUSHSTR, Handle_PUSHSTR, "own");
    CurrentInstruction = node;
    Handle_PUSHSTR();
    CurrentInstruction = nullptr;
    EXPECT_EQ(context->stackTop->text, node->text);
    PopStackEntry();
}

// A private member read from outside its instance: every push reports it and
// pushes an empty value; no record of the name is made (one would be found by
// the next push, silently), and a refused write changes nothing.
TEST_F(PushTest, RefusedMemberIsReportedOnEveryPushAndNeverMadeIntoARecord) {
    VariableRecord* object = Global("O$");
    CreateObjectInstance(object, "BOX", false);
    auto* head = reinterpret_cast<VariableRecord*>(static_cast<uintptr_t>(object->value));
    CreateVariable(head, "SECRET$", true)->value = 7;
    VariableRecord* open = CreateVariable(head, "OPEN$", true);
    open->flags |= kVarPublic;
    open->value = 3;
    TryStack.entries[0] = {nullptr, nullptr, context, 0, context->stackTop, 0};
    TryStack.depth = 1;
    const std::string refused = "Variable 'SECRET$' cannot be accessed, it is private!";
    struct Case {
        Handler handler;
        int cells;
    };
    const Case cases[] = {{Handle_PUSHVAR, 1}, {Handle_NGPUSHVAR, 1}, {Handle_PUSHVARINT, 2}};
    for (const Case& c : cases) {
        Instruction* node = Emit(Opcode::PUSHVAR, c.handler, "O.SECRET$");
        for (int push = 0; push < 2; ++push) {
            DeclareVariable("ERROR%", nullptr, 0.0, nullptr, 0);
            StackEntry* before = context->stackTop;
            CurrentInstruction = node;
            c.handler();
            CurrentInstruction = nullptr;
            EXPECT_EQ(CountStackEntries(context->stackTop) - CountStackEntries(before), c.cells);
            while (context->stackTop != before) {
                const StackEntry* cell = PopStackEntry();
                EXPECT_TRUE(!cell->variable && !cell->text && cell->value == 0.0) << push;
            }
            const std::string error = ErrorText();
            EXPECT_NE(error.find(refused), std::string::npos) << push << ": " << error;
            EXPECT_EQ(error.find("has not been defined"), std::string::npos) << push << ": " << error;
        }
    }
    EXPECT_EQ(FindNamedItem(context->globalHead, "O.SECRET$"), nullptr);
    EXPECT_EQ(FindNamedItem(head, "SECRET$")->value, 7);
    DeclareVariable("ERROR%", nullptr, 0.0, nullptr, 0);
    EXPECT_EQ(Pushes(Opcode::PUSHVAR, Handle_PUSHVAR, "O.OPEN$", 0, false), std::vector<std::string>{"v:OPEN$=3"});
    EXPECT_EQ(ErrorText(), "");
    TryStack.depth = 0;
}

// PARMSPUSHVARVAR binds the parameter its second text names to the top cell,
// then the one its text names to the cell below; a text is copied.
TEST_F(PushTest, TwoParameterNodeBindsTheTopCellToTheSecondName) {
    Instruction* procedure = StartProc("TWO(2,0)", false);
    Emit(Opcode::PARMSPUSHVARVAR, Handle_PARMSPUSHVARVAR, "P$", Address("Q$"));
    PushVar("P$");
    Call(RecordTop);
    PushVar("Q$");
    Call(RecordTop);
    EndProc();
    Instruction* main = StartProc("MAIN", false);
    PushInt(10);
    PushInt(20);
    Emit(Opcode::CALL, RunProcedure, "TWO", 0.0, procedure);
    EndProc();
    RunMain(main);
    EXPECT_EQ(Recorded, (std::vector<double>{10, 20}));
    EXPECT_EQ(CountStackEntries(context->stackTop), 1);
}

// What the procedure below sees of its parameter: the text its field at
// offset 4 points to, or the matrix written out.
std::string SeenParameter;
void SeeParameter() {
    VariableRecord* parameter = FindVariable("P$", 0);
    if (!parameter || !parameter->data) return;
    if (parameter->flags & kVarMatrix) {
        const auto* cells = reinterpret_cast<const MatrixCell*>(parameter->data);
        std::string text(MatrixToStringCount(cells), '\0');
        MatrixToString(cells, text.data(), true);
        SeenParameter = text.c_str();
        return;
    }
    uint32_t address = 0;
    std::memcpy(&address, parameter->data + 4, 4);
    SeenParameter = reinterpret_cast<const char*>(static_cast<uintptr_t>(address));
}

// A function result that owns blocks through its fields (a structure holding
// a text, a matrix holding a text) is bound to a parameter: the parameter
// reads them while the procedure runs, and neither the blocks nor the links
// that owned them are left once it has ended.
TEST_F(PushTest, BlocksOwnedByABoundResultGoWithTheParameter) {
    Instruction* procedure = StartProc("TAKE(1,0)", false);
    Emit(Opcode::PARMSPUSHVAR, Handle_PARMSPUSHVAR, "P$");
    Call(SeeParameter);
    EndProc();
    for (const bool matrix : {false, true}) {
        SCOPED_TRACE(matrix ? "matrix" : "structure");
        char* value = nullptr;
        MemoryLink* links = nullptr;
        if (matrix) {
            const char* source = "[1,{inner}]";
            const uint32_t count = StringToMatrixCount(&source);
            auto* cells = static_cast<MatrixCell*>(AllocateValueBlock((count + 1) * sizeof(MatrixCell)));
            source = "[1,{inner}]";
            StringToMatrix(&source, cells, &links);
            value = reinterpret_cast<char*>(cells);
        } else {
            value = static_cast<char*>(AllocateValueBlock(8));
            char* inner = CopyValueText("inner");
            const auto address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(inner));
            std::memcpy(value + 4, &address, 4);
            PushMemoryLink(&links, inner, value + 4, -4);
        }
        ASSERT_NE(links, nullptr);
        const MemoryLink* link = links;
        const void* inner = links->block;
        SeenParameter.clear();
        PushValue(value, 0.0, nullptr, 0);
        context->stackTop->flags = matrix ? kEntryMatrix : 0;
        context->stackTop->ownedLinks = links;
        RunProcedureIn(context, procedure);
        EXPECT_EQ(SeenParameter, matrix ? "[1,{inner}]" : "inner");
        EXPECT_FALSE(platform::IsLiveBlock(link));
        EXPECT_FALSE(platform::IsLiveBlock(inner));
        EXPECT_EQ(CountStackEntries(context->stackTop), 1);
        FreeValueBlock(value);
    }
}

}  // namespace
}  // namespace qob::testing
