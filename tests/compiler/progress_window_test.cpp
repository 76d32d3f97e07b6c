// tests/compiler/progress_window_test.cpp
// The progress bar's steps and drawing, and the UPDATE calls of the loader
// program, all without a display.

#include "compiler/progress_window.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/memory.h"
#include "runtime/memory/pool.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/push_instructions.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/vm.h"

namespace qob {
namespace {

TEST(ProgressStepTest, TenthsOfTheTotalPlusOne) {
    struct Case {
        int32_t current, total, step;
    };
    constexpr Case kCases[] = {{0, 0, 0},   {7, 0, 0},    {0, 100, 1},  {5, 100, 1},  {9, 100, 1},
                               {10, 100, 2}, {99, 100, 10}, {100, 100, 11}, {1, 3, 4}, {2, 3, 7}};
    for (const Case& c : kCases) EXPECT_EQ(ComputeProgressStep(c.current, c.total), c.step) << c.current << "/" << c.total;
}

// The bar's stream is a temporary file the test reads back.
class ProgressBarTest : public ::testing::Test {
protected:
    void SetUp() override { file = std::tmpfile(); }
    void TearDown() override {
        DestroyStatusWindow();
        SetStatusWindowOutput(nullptr, false);
        SetStatusWindowQuiet(false);
        std::fclose(file);
    }
    std::string Written() {
        std::fflush(file);
        std::rewind(file);
        std::string text;
        int c;
        while ((c = std::fgetc(file)) != EOF) text += static_cast<char>(c);
        return text;
    }
    // Redraws are the lines that start again at the left margin.
    int Redraws() {
        int count = 0;
        for (char c : Written()) count += c == '\r';
        return count;
    }

    std::FILE* file = nullptr;
};

TEST_F(ProgressBarTest, TheBarOnlyGrowsBetweenTexts) {
    SetStatusWindowOutput(file, true);
    CreateStatusWindow();
    UpdateStatusWindow("Compiling (demo.qob)...\n", 0, 100);
    EXPECT_EQ(Written(), "\rCompiling (demo.qob)... [##..................]\033[K");
    UpdateStatusWindow(nullptr, 5, 100);
    UpdateStatusWindow(nullptr, 9, 100);
    EXPECT_EQ(Redraws(), 1) << "steps that are not larger draw nothing";
    UpdateStatusWindow(nullptr, 10, 100);
    EXPECT_EQ(Redraws(), 2);
    UpdateStatusWindow(nullptr, 3, 100);
    EXPECT_EQ(Redraws(), 2);
    UpdateStatusWindow("Saving (demo.qob)...", 0, 0);
    EXPECT_EQ(Redraws(), 3) << "a text redraws whatever the step";
    const std::string before = Written();
    EXPECT_NE(before.find("\rSaving (demo.qob)... [....................]\033[K"), std::string::npos)
        << "total 0: an empty bar";
    DestroyStatusWindow();
    EXPECT_EQ(Written(), before + "\r\033[K") << "the line is cleared when the window goes";
}

// Walks of every position, some changing their total half-way without a
// text: the bar redraws exactly where the step formula grows.
TEST_F(ProgressBarTest, AWalkRedrawsWhereverTheStepGrows) {
    struct Case {
        int32_t total, switchAt, secondTotal;
    };
    constexpr Case kCases[] = {{1, -1, 0}, {3, -1, 0}, {7, -1, 0}, {100, -1, 0}, {12345, -1, 0},
                               {100, 50, 60}, {100, 50, 1000}, {30, 20, 30}};
    SetStatusWindowOutput(file, true);
    for (const Case& c : kCases) {
        CreateStatusWindow();
        const int before = Redraws();
        UpdateStatusWindow("Compiling (demo.qob)...", 0, c.total);
        int expected = 1;
        int32_t shown = ComputeProgressStep(0, c.total);
        int32_t total = c.total;
        for (int32_t position = 1; position <= total; ++position) {
            if (position == c.switchAt) total = c.secondTotal;
            UpdateStatusWindow(nullptr, position, total);
            if (const int32_t step = ComputeProgressStep(position, total); step > shown) {
                shown = step;
                ++expected;
            }
        }
        EXPECT_EQ(Redraws() - before, expected) << c.total << " " << c.switchAt << " " << c.secondTotal;
        DestroyStatusWindow();
    }
}

// A walk may skip to the position each report returns: what it draws is
// exactly what reporting every position draws.
TEST_F(ProgressBarTest, AWalkSkippingToTheReturnedPositionDrawsTheSameBar) {
    SetStatusWindowOutput(file, true);
    for (int32_t total : {1, 3, 7, 100, 12345}) {
        std::string drawn[2];
        for (int skipping = 0; skipping < 2; ++skipping) {
            CreateStatusWindow();
            const size_t before = Written().size();
            UpdateStatusWindow("Compiling (demo.qob)...", 0, total);
            int64_t next = 0;
            int reports = 0;
            for (int32_t position = 1; position <= total; ++position) {
                if (skipping && position < next) continue;
                next = UpdateStatusWindow(nullptr, position, total);
                ++reports;
                ASSERT_GT(next, position);
            }
            if (skipping) {
                EXPECT_LE(reports, 11) << total << ": one report per step at most";
            }
            DestroyStatusWindow();
            drawn[skipping] = Written().substr(before);
        }
        EXPECT_EQ(drawn[1], drawn[0]) << total;
    }
}

TEST_F(ProgressBarTest, HidingTheBarClearsItsLineUntilTheNextDraw) {
    SetStatusWindowOutput(file, true);
    CreateStatusWindow();
    UpdateStatusWindow("Parsing (demo.qob)...", 0, 10);
    HideStatusBar();
    const std::string hidden = Written();
    EXPECT_EQ(hidden.substr(hidden.size() - 4), "\r\033[K");
    HideStatusBar();
    EXPECT_EQ(Written(), hidden) << "nothing to clear twice";
    UpdateStatusWindow(nullptr, 5, 10);
    EXPECT_EQ(Redraws(), 3) << "drawn again";
}

TEST_F(ProgressBarTest, NothingIsDrawnQuietlyOffATerminalOrWithoutAWindow) {
    struct Case {
        const char* what;
        bool terminal, quiet, create;
    };
    constexpr Case kCases[] = {
        {"not a terminal", false, false, true},
        {"quiet", true, true, true},
        {"no window", true, false, false},
    };
    for (const Case& c : kCases) {
        SetStatusWindowOutput(file, c.terminal);
        SetStatusWindowQuiet(c.quiet);
        if (c.create) CreateStatusWindow();
        UpdateStatusWindow("Parsing (demo.qob)...", 50, 100);
        UpdateStatusWindow(nullptr, 100, 100);
        DestroyStatusWindow();
        EXPECT_EQ(Written(), "") << c.what;
    }
}

// A loader program whose UPDATE(kind, text, current, total) records its four
// parameters, built by hand.
std::vector<std::string> gUpdates;

std::string ParameterText(const char* name) {
    VariableRecord* variable = FindVariable(name, 0);
    if (!variable) return "?";
    char* text = nullptr;
    double value = 0.0;
    GetVariableValue(variable, &text, &value, nullptr);
    return text ? std::string(text) : std::to_string(static_cast<int>(value));
}

void RecordUpdate() {
    gUpdates.push_back(ParameterText("K$") + "|" + ParameterText("T$") + "|" + ParameterText("C$") + "|" +
                       ParameterText("N$"));
}

class LoaderUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        gUpdates.clear();
        RuntimeLogSwitch = 0;
        loader = CreateProgramContext();
        loader->kind = kContextIndependent;
        loader->quietEnd = 1;
        loader->ownsClassRecords = 1;
        loader->pool = CreatePool(64 * 1024);
        CreateBottomStackEntry(loader);
        loader->globalHead = AllocateVariableRecord(loader, false);
        CurrentCompilerPool = loader->pool;
        Instruction* node = EmitInstruction(nullptr, NopHandler, "load.qob", 0, nullptr, 0, nullptr, 0, 0);
        loader->instructions = node;
        Instruction* start = node = Emit(node, NopHandler, Opcode::STARTPROC, "\xE9   UPDATE(4,0)");
        RequireInstructionExtra(loader->pool, start)->isJumpTarget = 1;
        for (const char* parameter : {"N$", "C$", "T$", "K$"})
            node = Emit(node, Handle_PARMSPUSHVAR, Opcode::PARMSPUSHVAR, parameter);
        node = Emit(node, RecordUpdate, Opcode::INTERNALCALL, nullptr);
        Emit(node, Handle_ENDPROC, Opcode::ENDPROC, nullptr);
        auto* record = static_cast<ProcedureRecord*>(platform::AllocateZeroedBlock(sizeof(ProcedureRecord)));
        record->name = static_cast<char*>(platform::AllocateBlock(12));
        std::memcpy(record->name, "UPDATE(4,0)", 12);
        record->start = start;
        loader->procedures[loader->procedureCount++] = record;
        CurrentCompilerPool = nullptr;
        SetLoaderContext(loader);
    }

    void TearDown() override {
        SetStatusWindowQuiet(false);
        if (IsLiveContext(loader)) EndProgramContext(loader);
        SetLoaderContext(nullptr);
        CurrentContext = nullptr;
        if (ConstantList) {
            FreeVariableChain(nullptr, ConstantList, true);
            FreeVariableList(nullptr, ConstantList);
            ConstantList = nullptr;
        }
    }

    static Instruction* Emit(Instruction* cursor, Handler handler, Opcode opcode, const char* text) {
        return EmitInstruction(cursor, handler, text, 0, nullptr, static_cast<uint32_t>(opcode), nullptr, 0, 0);
    }

    ProgramContext* loader = nullptr;
};

TEST_F(LoaderUpdateTest, UpdateHearsEveryReportEvenInQuietMode) {
    SetStatusWindowQuiet(true);
    CreateStatusWindow();
    UpdateStatusWindow("Compiling (demo.qob)...", 0, 40);
    EXPECT_EQ(UpdateStatusWindow(nullptr, 3, 40), 4) << "a walk skips no position";
    EXPECT_EQ(UpdateStatusWindow(nullptr, 4, 40), 5);
    EXPECT_EQ(gUpdates,
              (std::vector<std::string>{"3|Compiling (demo.qob)...|0|40", "3|0|3|40", "3|0|4|40"}));
    EXPECT_EQ(CountStackEntries(loader->stackTop), 1) << "the arguments do not stay on the loader's stack";
}

TEST_F(LoaderUpdateTest, TheLastUpdateSaysTheWindowGoesAndTheLoaderEnds) {
    CreateStatusWindow();
    UpdateStatusWindow("Loading (demo.qoc)...", 0, 0);
    DestroyStatusWindow();
    ASSERT_EQ(gUpdates.size(), 2u);
    EXPECT_EQ(gUpdates.back(), "2|0|0|0");
    EXPECT_FALSE(IsLiveContext(loader));
    EXPECT_EQ(LoaderContext(), nullptr);
    UpdateStatusWindow("after", 1, 1);
    EXPECT_EQ(gUpdates.size(), 2u) << "no loader: no more calls";
}

TEST_F(LoaderUpdateTest, CallLoaderUpdateSendsItsArgumentsInOrder) {
    CallLoaderUpdate(1, "prog.qob", 0, 0);
    EXPECT_EQ(gUpdates, (std::vector<std::string>{"1|prog.qob|0|0"}));
}

}  // namespace
}  // namespace qob
