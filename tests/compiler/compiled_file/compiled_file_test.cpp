// tests/compiler/compiled_file/compiled_file_test.cpp
// Compiled program files: the exact layout, save-and-load round trips, the
// header warnings, the currency test and every way a damaged file is refused.

#include "compiler/compiled_file/compiled_file.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include "compiler/codegen_support.h"
#include "compiler/compile_messages.h"
#include "compiler/progress_window.h"
#include "host/builtin_registry.h"
#include "host/command_line.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/message_box.h"
#include "platform/temp_directory.h"
#include "runtime/data/hash.h"
#include "runtime/memory/pool.h"
#include "runtime/registry/function_table.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/version.h"
#include "runtime/vm/vm.h"

namespace qob {
namespace {

using testing::TempDirectory;

Handler TableHandler(Opcode opcode) { return OpcodeHandlerTable[static_cast<int>(opcode)]; }
Handler BuiltinHandlerOf(const char* name) { return FunctionRecordAt(FindFunctionByName(name))->handler; }

// Message boxes go to a temporary file the test reads back.
class CapturedBoxes {
public:
    CapturedBoxes() : file(std::tmpfile()) { platform::SetMessageBoxOutput(file, file); }
    ~CapturedBoxes() {
        platform::SetMessageBoxOutput(nullptr, nullptr);
        std::fclose(file);
    }
    std::string Text() const {
        std::fflush(file);
        std::rewind(file);
        std::string text;
        char buffer[512];
        size_t read;
        while ((read = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, read);
        return text;
    }

private:
    std::FILE* file;
};

// The little-endian record encoding, written out by hand for the tests.
class Bytes {
public:
    Bytes& U8(uint8_t v) { return data.push_back(v), *this; }
    Bytes& U16(uint16_t v) { return U8(v & 0xFF).U8(v >> 8); }
    Bytes& U32(uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
    Bytes& F64(double value) {
        uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        for (int i = 0; i < 8; ++i) U8(static_cast<uint8_t>(bits >> (8 * i)));
        return *this;
    }
    Bytes& Text(std::string_view text) {
        U32(static_cast<uint32_t>(text.size() + 1));
        data.insert(data.end(), text.begin(), text.end());
        return *this;
    }
    Bytes& Header(uint8_t major = kVersionMajor, uint8_t minor = kVersionMinor, uint8_t release = kVersionRelease,
                  uint8_t level = 2, uint8_t platformByte = 1, uint8_t format = 3) {
        return U8(major).U8(minor).U8(release).U8(level).U8(platformByte).U8(format);
    }
    Bytes& Record(uint16_t flags, uint8_t opcode) { return U16(flags).U8(opcode); }
    // Sound records of a plain node, more bytes of them than any record's
    // fields take.
    Bytes& Pad() {
        for (int i = 0; i < 20; ++i) Record(0, 4);
        return *this;
    }

    std::vector<uint8_t> data;
};

class CompiledFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        FreeFunctionTable();
        RegisterBuiltins();
        ResetCompileMessages();
        source = NewContext();
        cursor = nullptr;
        CurrentNamespaceHash = 0;
    }

    void TearDown() override {
        for (ProgramContext* context : contexts) EndProgramContext(context);
        CurrentCompilerPool = nullptr;
        CurrentNamespaceHash = 0;
        FreeFunctionTable();
    }

    ProgramContext* NewContext() {
        ProgramContext* context = CreateProgramContext();
        context->kind = kContextIndependent;
        context->quietEnd = 1;
        context->ownsClassRecords = 1;
        context->pool = CreatePool(64 * 1024);
        contexts.push_back(context);
        return context;
    }

    Instruction* Emit(uint32_t opcode, Handler handler, const char* text = nullptr, double operand = 0.0,
                      Instruction* target = nullptr) {
        CurrentCompilerPool = source->pool;
        cursor = EmitInstruction(cursor, handler, text, operand, target, opcode, nullptr, 0, 0);
        if (!source->instructions) source->instructions = cursor;
        return cursor;
    }
    Instruction* Emit(Opcode opcode, const char* text = nullptr, double operand = 0.0, Instruction* target = nullptr) {
        return Emit(static_cast<uint32_t>(opcode), TableHandler(opcode), text, operand, target);
    }
    Instruction* Data(const char* text, double operand = 0.0) { return Emit(0, NopHandler, text, operand); }
    Instruction* Start(std::string header) {
        Instruction* node = Emit(Opcode::STARTPROC, header.c_str());
        RequireInstructionExtra(source->pool, node)->isJumpTarget = 1;
        return node;
    }

    // What a load must reproduce of each node, with addresses replaced by
    // node positions and texts behind addresses spelt out.
    static std::vector<std::string> Describe(Instruction* first) {
        std::unordered_map<const Instruction*, int> position;
        int index = 0;
        for (const Instruction* node = first; node; node = node->next) position[node] = index++;
        auto positionOf = [&](const void* node) {
            auto found = position.find(static_cast<const Instruction*>(node));
            return found == position.end() ? -1 : found->second;
        };
        std::vector<std::string> lines;
        for (const Instruction* node = first; node; node = node->next) {
            char line[512];
            std::string operand;
            if (node->opcode == static_cast<uint32_t>(Opcode::PUSHSTRVAR) ||
                node->opcode == static_cast<uint32_t>(Opcode::ASSIGN4))
                operand = reinterpret_cast<const char*>(static_cast<uintptr_t>(node->operand));
            else if (node->opcode == static_cast<uint32_t>(Opcode::PUSHPROCADDR))
                operand = "@" + std::to_string(positionOf(reinterpret_cast<void*>(static_cast<uintptr_t>(node->operand))));
            else if (IsNativeCallOpcode(node->opcode))
                operand = FunctionRecordAt(static_cast<int>(node->operand))->name;
            else
                operand = std::to_string(node->operand);
            std::string text = node->text ? node->text : "-";
            if (node->opcode == static_cast<uint32_t>(Opcode::PUSHINTINT)) {
                double constant;
                std::memcpy(&constant, node->text, sizeof constant);
                text = "#" + std::to_string(constant);
            }
            const InstructionExtra* extra = node->extra;
            std::snprintf(line, sizeof line,
                          "op=%u h=%p s=%p text=%s hash=%x operand=%s word=%" PRIuPTR " flag=%d ns=%x jt=%d target=%d",
                          node->opcode, reinterpret_cast<void*>(node->handler),
                          reinterpret_cast<void*>(node->secondHandler), text.c_str(), node->textHash, operand.c_str(),
                          node->extraWord, extra ? extra->flagByte : 0, extra ? extra->namespaceHash : 0,
                          extra ? extra->isJumpTarget : 0, positionOf(JumpTarget(node)));
            lines.push_back(line);
        }
        return lines;
    }

    // What a node's text counts for in the size of a program: its own block,
    // or for a text that lies in the image it was loaded from, the block a
    // compiled node would have had for it (the characters and a terminator).
    static size_t TextBytesOf(const Instruction* node) {
        if (!node->text) return 0;
        // A constant's eight bytes, in a block of their own or in the image.
        if (node->opcode == static_cast<uint32_t>(Opcode::PUSHINTINT) ||
            node->opcode == static_cast<uint32_t>(Opcode::PUSHINTCASE))
            return sizeof(double);
        const size_t block = platform::GetBlockSize(node->text);
        return block ? block : std::strlen(node->text) + 1;
    }

    std::string Save() {
        const std::string path = directory.Join("prog.qoc");
        EXPECT_EQ(SaveCompiledProgram(path.c_str(), source->instructions, source->pool), SaveStatus::Saved);
        return path;
    }

    struct Loaded {
        Instruction* first;
        ProgramContext* context;
        bool isWinMain;
    };
    Loaded Load(const std::string& path) {
        ProgramContext* target = NewContext();
        bool isWinMain = false;
        Instruction* first = LoadCompiledProgram(path.c_str(), target, target->procedures, target->procedureCount,
                                                 isWinMain);
        target->instructions = first;
        return {first, target, isWinMain};
    }

    std::string WriteImage(const Bytes& image, std::string_view name = "image.qoc") {
        const std::optional<std::vector<uint8_t>> file = EncodeCompiledImage(image.data);
        EXPECT_TRUE(file.has_value());
        return directory.Write(name, {reinterpret_cast<const char*>(file->data()), file->size()});
    }

    std::vector<uint8_t> ImageOf(const std::string& path) {
        const std::optional<std::string> bytes = platform::ReadFileBytes(path);
        const std::optional<std::vector<uint8_t>> image =
            DecodeCompiledImage({reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size()});
        return image.value_or(std::vector<uint8_t>{});
    }

    TempDirectory directory;
    std::vector<ProgramContext*> contexts;
    ProgramContext* source = nullptr;
    Instruction* cursor = nullptr;
};

TEST_F(CompiledFileTest, WritesTheHeaderAndRecordsByteForByte) {
    Emit(0, NopHandler, "a.qob");
    Instruction* branch = Emit(Opcode::BRANCH);
    Instruction* label = Emit(Opcode::PUSHINT, nullptr, 1.5);
    SetJumpTarget(source->pool, branch, label);
    Emit(Opcode::ENDPROC);

    Bytes expected;
    expected.Header();
    expected.Record(kRecordText, 0).Text("a.qob");
    expected.Record(kRecordTarget, 3).U32(3);  // identities count nodes from 1
    expected.Record(kRecordNumber | kRecordIdentity, 4).F64(1.5).U32(3);
    expected.Record(0, 2);  // nothing to say: three bytes
    EXPECT_EQ(ImageOf(Save()), expected.data);
}

// Texts of every length up to past the short ones the writer copies and
// measures a piece at a time, in both text fields of a record.
TEST_F(CompiledFileTest, TextsOfEveryShortLengthAreWrittenWhole) {
    const std::string letters = "ABCDEFGHIJKLMNOPQRSTU";
    for (size_t length = 0; length <= 20; ++length) {
        SCOPED_TRACE(length);
        const std::string text = letters.substr(0, length);
        const std::string secondText = letters.substr(length);
        cursor = nullptr;
        source->instructions = nullptr;
        Emit(0, NopHandler, "t.qob");
        char* second = static_cast<char*>(platform::AllocateBlock(secondText.size() + 1));
        std::memcpy(second, secondText.c_str(), secondText.size() + 1);
        Emit(Opcode::PUSHSTRVAR, text.c_str(), static_cast<double>(reinterpret_cast<uintptr_t>(second)));

        Bytes expected;
        expected.Header();
        expected.Record(kRecordText, 0).Text("t.qob");
        expected.Record(kRecordText | kRecordSecondText, static_cast<uint8_t>(Opcode::PUSHSTRVAR))
            .Text(text)
            .Text(secondText);
        EXPECT_EQ(ImageOf(Save()), expected.data);
    }
}

// A node carries its identity when it is marked as a target or when a jump
// names it, marked or not (the mark may have been cleared since).
TEST_F(CompiledFileTest, ANodeCarriesItsIdentityWhenMarkedOrJumpedTo) {
    struct Case {
        const char* name;
        bool jump;
        bool mark;
    };
    const Case kCases[] = {
        {"jumped to and marked", true, true},
        {"jumped to, mark cleared", true, false},
        {"marked only", false, true},
        {"neither", false, false},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        cursor = nullptr;
        source->instructions = nullptr;
        Emit(0, NopHandler, "a.qob");
        Instruction* branch = Emit(Opcode::BRANCH);
        Instruction* label = Emit(Opcode::PUSHINT, nullptr, 1.5);
        Emit(Opcode::ENDPROC);
        if (c.jump) SetJumpTarget(source->pool, branch, label);
        if (c.jump || c.mark) RequireInstructionExtra(source->pool, label)->isJumpTarget = c.mark ? 1 : 0;

        Bytes expected;
        expected.Header();
        expected.Record(kRecordText, 0).Text("a.qob");
        if (c.jump) expected.Record(kRecordTarget, 3).U32(3);
        else expected.Record(0, 3);
        if (c.jump || c.mark) expected.Record(kRecordNumber | kRecordIdentity, 4).F64(1.5).U32(3);
        else expected.Record(kRecordNumber, 4).F64(1.5);
        expected.Record(0, 2);
        EXPECT_EQ(ImageOf(Save()), expected.data);
    }
}

// A remembered order of the list's nodes is used only when it is the list,
// link by link: a stale, shuffled, short or foreign order changes nothing.
TEST_F(CompiledFileTest, ARememberedListOrderIsUsedOnlyWhenItIsTheList) {
    Emit(0, NopHandler, "a.qob");
    Instruction* branch = Emit(Opcode::BRANCH);
    Instruction* label = Emit(Opcode::PUSHINT, nullptr, 1.5);
    SetJumpTarget(source->pool, branch, label);
    Emit(Opcode::PUSHVAR, "A$");
    Emit(Opcode::ENDPROC);
    std::vector<Instruction*> nodes;
    for (Instruction* node = source->instructions; node; node = node->next) nodes.push_back(node);
    const std::vector<uint8_t> expected = ImageOf(Save());
    ASSERT_FALSE(expected.empty());

    struct Case {
        const char* name;
        std::vector<Instruction*> order;
    };
    std::vector<Instruction*> shuffled = nodes;
    std::swap(shuffled[1], shuffled[2]);
    const Case kCases[] = {
        {"the list", nodes},
        {"two nodes swapped", shuffled},
        {"the last node missing", std::vector<Instruction*>(nodes.begin(), nodes.end() - 1)},
        {"another list", std::vector<Instruction*>(nodes.begin() + 1, nodes.end())},
        {"nothing", {}},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        RememberListOrder(c.order);
        EXPECT_EQ(ImageOf(Save()), expected);
    }
}

TEST_F(CompiledFileTest, PlatformByteIsZeroOnlyForTheDesktop) {
    Emit(0, NopHandler);
    EXPECT_EQ(ImageOf(Save())[4], 1);
    Switches.desktopPlatform = true;
    EXPECT_EQ(ImageOf(Save())[4], 0);
    Switches.desktopPlatform = false;
}

// A program touching every kind of record: declarations, classes, forward
// declarations, fused steps, two-operand pushes, constants in texts, calls
// forward and backward, an inherited call, namespaces, flag bytes and words.
TEST_F(CompiledFileTest, ALoadedProgramListsTheSameInstructionsAsTheSavedOne) {
    const int myfunc = DeclareDllFunction("MYFUNC", "myfunc", "nolib.dll", 2, true, false, true);
    ASSERT_GE(myfunc, 0);
    Emit(0, NopHandler, "prog.qob");
    Emit(static_cast<uint32_t>(Opcode::DECLARE), NopHandler, "MYFUNC");
    Data("myfunc");
    Data("nolib.dll");
    Data(nullptr, 2);
    Data(nullptr, 1);
    Data(nullptr, 0);
    Data(nullptr, 1);
    Emit(183, NopHandler, "");
    Data("POINT");
    Emit(183, NopHandler, "POINT");
    Data("POINT3D");
    Emit(Opcode::FORWARDPROC, "\xE7 \x21 TWICE(1,1)");
    Instruction* init = Start("\xE9   __CLASSCODE_POINT.INIT(0,0)");
    Emit(Opcode::ENDPROC, init->text);
    Instruction* main = Start("\xE9   MAIN");
    Emit(Opcode::PUSHINT, nullptr, 21);
    Instruction* call = Emit(Opcode::CALL, "TWICE(1,1)");
    Emit(static_cast<uint32_t>(Opcode::SELFCALL), CallOwnMethod, "__CLASSCODE_POINT.INIT(0,0)", 0.0, init);
    Emit(Opcode::PUSHSTR, "hello");
    char* second = static_cast<char*>(platform::AllocateBlock(5));
    std::memcpy(second, "left", 5);
    Emit(Opcode::PUSHSTRVAR, "A$", static_cast<double>(reinterpret_cast<uintptr_t>(second)));
    Instruction* constant = Emit(Opcode::PUSHINTINT, nullptr, 7);
    constant->text = static_cast<char*>(platform::AllocateBlock(8));
    const double twoAndAHalf = 2.5;
    std::memcpy(constant->text, &twoAndAHalf, 8);
    Instruction* fused = Emit(static_cast<uint32_t>(Opcode::INTERNALCALL), BuiltinHandlerOf("dropstack"));
    fused->secondHandler = fused->handler;
    fused->handler = Builtin___savesp;
    Instruction* test = Emit(Opcode::IF);
    Instruction* address = Emit(Opcode::PUSHPROCADDR, "TWICE(1,1)");
    Emit(static_cast<uint32_t>(Opcode::SCALLF2), TableHandler(Opcode::SCALLF2), nullptr, myfunc);
    CurrentNamespaceHash = 0xABC;
    Emit(Opcode::PUSHVAR, "B$");
    CurrentNamespaceHash = 0;
    Instruction* caseNode = Emit(Opcode::PUSHCASE, nullptr, 3);
    caseNode->extraWord = 2;
    Instruction* label = Emit(Opcode::PUSHINT, nullptr, -0.25);
    SetJumpTarget(source->pool, test, label);
    SetJumpTarget(source->pool, caseNode, label);
    Emit(Opcode::ENDPROC, main->text);
    CurrentNamespaceHash = 0xABC;
    Instruction* twice = Start("\xEC_\x21 TWICE(1,1)");
    CurrentNamespaceHash = 0;
    RequireInstructionExtra(source->pool, twice)->flagByte = 1;
    twice->operand = 1;
    Emit(Opcode::RETURN, twice->text);
    Emit(Opcode::ENDPROC, twice->text);
    Emit(Opcode::ENDPROC, "prog.qob");
    SetJumpTarget(source->pool, call, twice);
    address->operand = static_cast<double>(reinterpret_cast<uintptr_t>(twice));

    const std::string path = Save();
    for (const Instruction* node = source->instructions; node; node = node->next)
        EXPECT_NE(node->opcode, static_cast<uint32_t>(Opcode::DECLARE)) << "the declaration stays in the list";
    // Class and forward declarations stand outside the code and come back as
    // records, not nodes.
    for (Instruction* node = source->instructions; node;) {
        Instruction* next = node->next;
        if (node->opcode == 183) {
            next = next->next;
            DeleteInstruction(source->pool, nullptr, node->next, true);
            DeleteInstruction(source->pool, nullptr, node, true);
        } else if (node->opcode == static_cast<uint32_t>(Opcode::FORWARDPROC)) {
            DeleteInstruction(source->pool, nullptr, node, true);
        }
        node = next;
    }
    const std::vector<std::string> saved = Describe(source->instructions);

    CapturedBoxes boxes;
    const Loaded loaded = Load(path);
    ASSERT_NE(loaded.first, nullptr) << boxes.Text();
    EXPECT_EQ(Describe(loaded.first), saved);
    EXPECT_EQ(boxes.Text(), "");

    // The entry, the procedures (with their namespaces) and the classes.
    ProgramContext* context = loaded.context;
    ASSERT_NE(context->entry, nullptr);
    EXPECT_STREQ(context->entry->text, "\xE9   MAIN");
    EXPECT_FALSE(loaded.isWinMain);
    ASSERT_EQ(context->procedureCount, 3);
    const ProcedureRecord* forward = context->procedures[0];
    EXPECT_STREQ(forward->name, "TWICE(1,1)");
    EXPECT_EQ(forward->countByte, 1);
    EXPECT_EQ(forward->namespaceHash, 0u);
    ASSERT_NE(forward->start, nullptr) << "the definition takes over the forward declaration";
    EXPECT_STREQ(forward->start->text, "\xEC_\x21 TWICE(1,1)");
    EXPECT_EQ(forward->start->extra->namespaceHash, 0xABCu);
    const ClassRecord* newest = context->classRecords;
    ASSERT_NE(newest, nullptr);
    EXPECT_STREQ(newest->name, "POINT3D");
    EXPECT_STREQ(newest->baseName, "POINT");
    EXPECT_EQ(newest->baseHash, HashName("POINT", 5));
    ASSERT_NE(newest->next, nullptr);
    EXPECT_STREQ(newest->next->name, "POINT");
    EXPECT_EQ(newest->next->baseName, nullptr);
    EXPECT_GE(FindFunctionByName("MYFUNC"), 0);

    // The loader sizes what it built as a compiled list is sized: nodes,
    // side records and the blocks of their own texts.
    uint32_t size = 0;
    for (const Instruction* node = loaded.first; node; node = node->next) {
        size += sizeof(Instruction);
        if (node->extra) size += sizeof(InstructionExtra);
        if (!IsNativeCallOpcode(node->opcode)) size += TextBytesOf(node);
    }
    EXPECT_EQ(context->appSize, size);
}

TEST_F(CompiledFileTest, LoadingKeepsTheNamespaceOfNodesAndProcedures) {
    Emit(0, NopHandler, "ns.qob");
    CurrentNamespaceHash = 0x1234;
    Start("\xE9   SHOW(0,0)");
    Emit(Opcode::PUSHVAR, "X$");
    Emit(Opcode::ENDPROC);
    CurrentNamespaceHash = 0;
    const Loaded loaded = Load(Save());
    ASSERT_NE(loaded.first, nullptr);
    ASSERT_EQ(loaded.context->procedureCount, 1);
    EXPECT_EQ(loaded.context->procedures[0]->namespaceHash, 0x1234u);
    EXPECT_EQ(loaded.first->next->next->extra->namespaceHash, 0x1234u);
}

// Procedures are found by name for each start and each address: the latest
// one of the node's namespace or the global one, also among the records an
// earlier load of the same context made.
TEST_F(CompiledFileTest, ProcedureAddressesFollowTheirNamespaceAcrossLoads) {
    Emit(0, NopHandler, "ns2.qob");
    CurrentNamespaceHash = 0x1;
    Instruction* first = Start("\xE9   SHOW(0,0)");
    Emit(Opcode::ENDPROC);
    CurrentNamespaceHash = 0x2;
    Instruction* second = Start("\xE9   SHOW(0,0)");
    Emit(Opcode::ENDPROC);
    CurrentNamespaceHash = 0x1;
    Emit(Opcode::PUSHPROCADDR, "&SHOW(0,0)", static_cast<double>(reinterpret_cast<uintptr_t>(first)));
    CurrentNamespaceHash = 0x2;
    Emit(Opcode::PUSHPROCADDR, "&SHOW(0,0)", static_cast<double>(reinterpret_cast<uintptr_t>(second)));
    CurrentNamespaceHash = 0;
    const std::string path = Save();
    const auto addressOf = [](const Instruction* node) { return static_cast<double>(reinterpret_cast<uintptr_t>(node)); };
    const Loaded loaded = Load(path);
    ASSERT_NE(loaded.first, nullptr);
    ASSERT_EQ(loaded.context->procedureCount, 2);
    std::vector<Instruction*> nodes;
    for (Instruction* node = loaded.first; node; node = node->next) nodes.push_back(node);
    ASSERT_EQ(nodes.size(), 7u);
    EXPECT_EQ(nodes[5]->operand, addressOf(nodes[1]));
    EXPECT_EQ(nodes[6]->operand, addressOf(nodes[3]));

    bool isWinMain = false;
    ProgramContext* context = loaded.context;
    Instruction* again = LoadCompiledProgram(path.c_str(), context, context->procedures, context->procedureCount, isWinMain);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(context->procedureCount, 2) << "the records of the first load are taken again";
    std::vector<Instruction*> reloaded;
    for (Instruction* node = again; node; node = node->next) reloaded.push_back(node);
    ASSERT_EQ(reloaded.size(), 7u);
    EXPECT_EQ(context->procedures[0]->start, reloaded[1]);
    EXPECT_EQ(context->procedures[1]->start, reloaded[3]);
    EXPECT_EQ(reloaded[5]->operand, addressOf(reloaded[1]));
    EXPECT_EQ(reloaded[6]->operand, addressOf(reloaded[3]));
    DeleteInstructionChain(context, reloaded.back());
}

TEST_F(CompiledFileTest, AnInheritedCallStillBindsTheCurrentObjectAfterLoading) {
    Emit(0, NopHandler, "inherit.qob");
    Instruction* base = Start("\xE9   __CLASSCODE_BASE.HELLO(0,0)");
    Emit(Opcode::ENDPROC);
    Emit(static_cast<uint32_t>(Opcode::SELFCALL), CallOwnMethod, "__CLASSCODE_BASE.HELLO(0,0)", 0.0, base);
    Emit(Opcode::SELFCALL, "__CLASSCODE_BASE.HELLO(0,0)", 0.0, base);
    const Loaded loaded = Load(Save());
    ASSERT_NE(loaded.first, nullptr);
    Instruction* inherited = loaded.first->next->next->next;
    EXPECT_EQ(inherited->handler, CallOwnMethod);
    EXPECT_EQ(inherited->next->handler, TableHandler(Opcode::SELFCALL));
    EXPECT_EQ(JumpTarget(inherited), loaded.first->next);
}

TEST_F(CompiledFileTest, DataNodesAndTheFirstNodeGetAHandler) {
    Emit(0, NopHandler, "unit.qob");
    Emit(Opcode::PUSHINT, nullptr, 1);
    Data("data");
    Emit(Opcode::ENDPROC);
    const Loaded loaded = Load(Save());
    ASSERT_NE(loaded.first, nullptr);
    EXPECT_EQ(loaded.first->handler, NopHandler);
    EXPECT_EQ(loaded.first->next->next->handler, NopHandler);
    EXPECT_EQ(loaded.context->entry, loaded.first) << "a unit without procedures starts at its first node";
}

TEST_F(CompiledFileTest, WinMainWithAResultIsTheEntry) {
    Emit(0, NopHandler, "win.qob");
    Start("\xEC \x21 WINMAIN");
    Emit(Opcode::ENDPROC);
    const Loaded loaded = Load(Save());
    ASSERT_NE(loaded.first, nullptr);
    EXPECT_TRUE(loaded.isWinMain);
    EXPECT_EQ(loaded.context->entry, loaded.first->next);
}

TEST_F(CompiledFileTest, ACallOfAnUnknownProcedureIsReported) {
    Emit(0, NopHandler, "lost.qob");
    Emit(Opcode::CALL, "NOWHERE(0,0)");
    const Loaded loaded = Load(Save());
    ASSERT_NE(loaded.first, nullptr);
    EXPECT_EQ(GetCompileMessageState().errorCount, 1);
    EXPECT_NE(GetCompileMessageState().compileErrors.find("Cannot resolve [NOWHERE(0,0)] address"), std::string::npos);
}

// Loading gives a node its opcode's handler (or the built-in its link value
// names): a node running anything else cannot be carried.
TEST_F(CompiledFileTest, ANodeTheFormatCannotCarryWritesNoFileAndRemovesTheOldOne) {
    struct Case {
        const char* name;
        uint32_t opcode;
        Handler handler;
    };
    const Case kCases[] = {
        {"a built-in call of a handler no built-in has", static_cast<uint32_t>(Opcode::INTERNALCALL), [] {}},
        {"a plain node running another handler", static_cast<uint32_t>(Opcode::PUSHVAR), [] {}},
        {"a plain node running a built-in", static_cast<uint32_t>(Opcode::PUSHVAR), BuiltinHandlerOf("dropstack")},
        {"a call (not a method call) running the own method call", static_cast<uint32_t>(Opcode::CALL),
         CallOwnMethod},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        source = NewContext();
        cursor = nullptr;
        const std::string path = directory.Write("prog.qoc", "an old compiled file");
        Emit(0, NopHandler, "odd.qob");
        Emit(c.opcode, c.handler, "X$");
        EXPECT_EQ(SaveCompiledProgram(path.c_str(), source->instructions, source->pool), SaveStatus::Unrepresentable);
        EXPECT_FALSE(std::filesystem::exists(path));
    }
}

TEST_F(CompiledFileTest, AFailedCompressionWritesNoFileAndRemovesTheOldOne) {
    const std::string path = directory.Write("prog.qoc", "an old compiled file");
    EXPECT_EQ(WriteCompiledFile(path.c_str(), std::nullopt), SaveStatus::CompressionFailed);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(CompiledFileTest, TheCodingRoundTripsAndEnciphersItsLength) {
    Bytes image;
    image.Header().Record(kRecordText, 0).Text("x.qob");
    const std::optional<std::vector<uint8_t>> file = EncodeCompiledImage(image.data);
    ASSERT_TRUE(file.has_value());
    const std::vector<uint8_t>& bytes = *file;
    uint32_t plainLength = 0;
    for (int i = 0; i < 4; ++i) plainLength |= static_cast<uint32_t>(bytes[bytes.size() - 4 + i]) << (8 * i);
    EXPECT_NE(plainLength, image.data.size()) << "the appended length is enciphered too";
    EXPECT_EQ(DecodeCompiledImage(bytes), image.data);
}

// --- files that must be refused ---------------------------------------------

struct RefusedImage {
    const char* what;
    Bytes image;
};

std::vector<RefusedImage> RefusedImages() {
    const uint32_t dropstack = HashName("DROPSTACK", 9);
    auto start = [] { return Bytes().Header().Record(kRecordText, 0).Text("bad.qob"); };
    return {
        {"an unknown opcode", start().Record(0, 11)},
        {"an unknown flag", start().Record(0x8000, 4)},
        {"a text running past the end", start().Record(kRecordText, 5).U32(1000).U8('x')},
        {"a text length of 0", start().Record(kRecordText, 5).U32(0)},
        // A NUL anywhere in a text of any length: the short texts are tested
        // a word at a time. Sound records after the faulty one keep it far
        // from the end, where records are read another way.
        {"a NUL in a text of 1", start().Record(kRecordText, 4).Text(std::string_view("\0", 1)).Pad()},
        {"a NUL in the middle of a text of 3",
         start().Record(kRecordText, 4).Text(std::string_view("a\0b", 3)).Pad()},
        {"a NUL in a text of 6", start().Record(kRecordText, 4).Text(std::string_view("abcd\0f", 6)).Pad()},
        {"a NUL last in a text of 8", start().Record(kRecordText, 4).Text(std::string_view("abcdefg\0", 8)).Pad()},
        {"a NUL in a text of 12", start().Record(kRecordText, 4).Text(std::string_view("abcdefg\0ijkl", 12)).Pad()},
        {"a NUL in a text of 20",
         start().Record(kRecordText, 4).Text(std::string_view("abcdefghijklmnopq\0st", 20)).Pad()},
        {"a NUL in a second text",
         start().Record(kRecordText | kRecordSecondText, 53).Text("A$").Text(std::string_view("B\0$", 3)).Pad()},
        {"a text running past the end, far from it", start().Record(kRecordText, 5).U32(1000).Pad()},
        {"a second text running past the end",
         start().Record(kRecordText | kRecordSecondText, 53).Text("A$").U32(9).U8('B')},
        {"an unknown fused step far from the end", start().Record(kRecordFusedStep, 4).U8(99).Pad()},
        {"a call without its link value far from the end", start().Record(0, 34).Pad()},
        {"a record cut in its number", start().Record(kRecordNumber, 4).U16(0)},
        {"a record cut after its flags", start().U16(0)},
        {"a jump to an identity no node has", start().Record(kRecordTarget, 3).U32(77)},
        // A data record makes no node, so its identity leads nowhere.
        {"a jump to a class's name record", start().Record(kRecordText, 183).Text("")
                                                .Record(kRecordText | kRecordIdentity, 0).Text("C").U32(9)
                                                .Record(kRecordTarget, 3).U32(9)},
        {"an identity given twice", start().Record(kRecordIdentity, 4).U32(5).Record(kRecordIdentity, 4).U32(5)},
        {"a declaration without its data", start().Record(kRecordText, 177).Text("F").Record(0, 0).Record(0, 0)},
        {"a class without its name", start().Record(kRecordText, 183).Text("")},
        {"an unknown fused step", start().Record(kRecordFusedStep, 4).U8(99)},
        {"a call of an unknown built-in", start().Record(kRecordLinkValue, 34).F64(12345.0)},
        {"a call without its link value", start().Record(0, 34)},
        {"a native call of a built-in", start().Record(kRecordLinkValue, 109).F64(dropstack)},
        {"a two-text push without its second text", start().Record(kRecordText, 53).Text("A$")},
        {"a damaged procedure header", start().Record(kRecordText, 1).Text("\xE9 ")},
        {"another format version", Bytes().Header(1, 3, 2, 2, 1, 4).Record(0, 0)},
        {"no instructions", Bytes().Header().Record(kRecordText, 184).Text("\xE8   F(0,0)")},
        {"a jump into a declaration before any node", Bytes().Header().Record(kRecordText | kRecordIdentity, 184)
                                                             .Text("\xE8   F(0,0)").U32(1).Record(0, 0)},
    };
}

TEST_F(CompiledFileTest, ADamagedImageIsRefusedWithNothingBuilt) {
    for (const RefusedImage& refused : RefusedImages()) {
        CapturedBoxes boxes;
        const Loaded loaded = Load(WriteImage(refused.image));
        EXPECT_EQ(loaded.first, nullptr) << refused.what;
        EXPECT_EQ(loaded.context->procedureCount, 0) << refused.what;
        EXPECT_EQ(loaded.context->classRecords, nullptr) << refused.what;
        EXPECT_EQ(loaded.context->pool->current, nullptr) << refused.what << ": a node was made";
        EXPECT_NE(boxes.Text().find("Runtime Error: The compiled file image.qoc cannot be used: "), std::string::npos)
            << refused.what;
    }
}

// With several faults in a file, the one reported does not depend on how the
// loader walks it: a record it cannot read first, then an identity given
// twice, then the earliest record's fault.
TEST_F(CompiledFileTest, OfSeveralFaultsTheFirstIsReported) {
    auto start = [] { return Bytes().Header().Record(kRecordText, 0).Text("bad.qob"); };
    struct Case {
        Bytes image;
        const char* reason;
    };
    const Case cases[] = {
        {start().Record(kRecordOwnMethodCall, 4).Record(0x8000, 4), "unknown record flags"},
        {start().Record(kRecordTarget, 3).U32(77).Record(kRecordIdentity, 4).U32(5).Record(kRecordIdentity, 4).U32(5),
         "a node identity is given twice"},
        {start().Record(kRecordText, 1).Text("\xE9 ").Record(kRecordTarget, 3).U32(77), "a damaged procedure header"},
        {start().Record(kRecordTarget, 3).U32(77).Record(kRecordText, 1).Text("\xE9 "),
         "a jump to a node that is not in the file"},
        {start().Record(kRecordText, 177).Text("F").Record(0, 0).Record(0, 4).Record(kRecordOwnMethodCall, 4),
         "a declaration is cut off"},
        {start().Record(kRecordTarget | kRecordOwnMethodCall, 4).U32(77), "a jump to a node that is not in the file"},
    };
    for (const Case& c : cases) {
        CapturedBoxes boxes;
        const Loaded loaded = Load(WriteImage(c.image));
        EXPECT_EQ(loaded.first, nullptr) << c.reason;
        EXPECT_NE(boxes.Text().find(std::string("cannot be used: ") + c.reason), std::string::npos)
            << c.reason << " / " << boxes.Text();
    }
}

// Saving walks the nodes and loading the bytes of the image; the bar shows
// every one of its steps once, in order, and ends full.
TEST_F(CompiledFileTest, TheBarShowsEveryStepWhileSavingAndLoading) {
    Emit(0, NopHandler, "bar.qob");
    Start("\xE9   MAIN");
    for (int i = 0; i < 197; ++i) Emit(Opcode::PUSHSTR, "some text");
    Emit(Opcode::ENDPROC);
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    SetStatusWindowOutput(file, true);
    CreateStatusWindow();
    const std::string path = Save();
    const Loaded loaded = Load(path);
    DestroyStatusWindow();
    SetStatusWindowOutput(nullptr, false);
    std::fflush(file);
    std::rewind(file);
    std::string written;
    for (int c; (c = std::fgetc(file)) != EOF;) written += static_cast<char>(c);
    std::fclose(file);
    ASSERT_NE(loaded.first, nullptr);
    std::string expected;
    for (const char* caption : {"Saving (prog.qoc)...", "Loading (prog.qoc)..."})
        for (int step = 0; step <= 11; ++step) {
            const int filled = std::min(20, 21 * step / 10);
            expected += std::string("\r") + caption + " [" + std::string(filled, '#') + std::string(20 - filled, '.') +
                        "]\033[K";
        }
    EXPECT_EQ(written, expected + "\r\033[K") << "the bar is erased at the end";
}

// Jumps back, jumps forward (more of them open at once than the loader links
// on the way) and a jump to itself come back with their targets, whether the
// file numbers its nodes densely or not.
TEST_F(CompiledFileTest, JumpsComeBackToTheirTargetsHoweverTheyAreNumbered) {
    for (const uint32_t base : {1u, 4000000000u}) {
        Bytes image = Bytes().Header().Record(kRecordText, 0).Text("jumps.qob");
        image.Record(kRecordIdentity, 4).U32(base);  // the jumps back land here
        for (int i = 0; i < 100; ++i) image.Record(kRecordTarget, 3).U32(base + 2);
        image.Record(kRecordTarget, 3).U32(base);
        image.Record(kRecordTarget | kRecordIdentity, 3).U32(base + 1).U32(base + 1);
        image.Record(kRecordIdentity, 4).U32(base + 2);  // the jumps forward land here
        image.Record(kRecordTarget, 3).U32(base);
        CapturedBoxes boxes;
        const Loaded loaded = Load(WriteImage(image));
        ASSERT_NE(loaded.first, nullptr) << boxes.Text();
        std::vector<const Instruction*> nodes;
        for (const Instruction* node = loaded.first; node; node = node->next) nodes.push_back(node);
        ASSERT_EQ(nodes.size(), 106u);
        const Instruction* back = nodes[1];
        const Instruction* forward = nodes[104];
        for (size_t i = 2; i < 102; ++i) EXPECT_EQ(JumpTarget(nodes[i]), forward) << base << " jump " << i;
        EXPECT_EQ(JumpTarget(nodes[102]), back) << base;
        EXPECT_EQ(JumpTarget(nodes[103]), nodes[103]) << base;
        EXPECT_EQ(JumpTarget(nodes[105]), back) << base;
        uint32_t size = 0;
        for (const Instruction* node : nodes) {
            size += sizeof(Instruction);
            if (node->extra) size += sizeof(InstructionExtra);
            size += TextBytesOf(node);
        }
        EXPECT_EQ(loaded.context->appSize, size) << base;
    }
}

// A program large enough that its nodes' room is made (and faulted in) before
// the survey of its image: every node comes back with its operand and jump,
// all in that one room, and the program's size counts them as any load does.
TEST_F(CompiledFileTest, ALargeProgramIsBuiltWholeInTheRoomMadeForIt) {
    constexpr uint32_t kRecords = 60000;  // about 660 KB of image
    constexpr uint32_t kEvery = 100;      // a marked node, then a jump back to it
    Bytes image = Bytes().Header().Record(kRecordText, 0).Text("large.qob");
    for (uint32_t i = 0; i < kRecords; ++i) {
        if (i % kEvery == 0) image.Record(kRecordNumber | kRecordIdentity, 4).F64(i).U32(i + 1);
        else if (i % kEvery == 1) image.Record(kRecordTarget, 3).U32(i);
        else image.Record(kRecordNumber, 4).F64(i);
    }
    CapturedBoxes boxes;
    const Loaded loaded = Load(WriteImage(image));
    ASSERT_NE(loaded.first, nullptr) << boxes.Text();
    std::vector<const Instruction*> nodes;
    for (const Instruction* node = loaded.first->next; node; node = node->next) nodes.push_back(node);
    ASSERT_EQ(nodes.size(), kRecords);
    const PoolBlock* room = loaded.context->pool->current;
    uint32_t size = sizeof(Instruction) + static_cast<uint32_t>(TextBytesOf(loaded.first));
    for (uint32_t i = 0; i < kRecords; ++i) {
        const Instruction* node = nodes[i];
        if (i % kEvery == 1) {
            ASSERT_EQ(node->opcode, 3u) << i;
            ASSERT_EQ(JumpTarget(node), nodes[i - 1]) << i;
        } else {
            ASSERT_EQ(node->opcode, 4u) << i;
            ASSERT_EQ(node->operand, static_cast<double>(i)) << i;
            ASSERT_EQ(JumpTarget(node), nullptr) << i;
        }
        ASSERT_EQ(node->extra != nullptr, i % kEvery < 2) << i;
        const auto* bytes = reinterpret_cast<const uint8_t*>(node);
        ASSERT_TRUE(bytes >= room->memory && bytes + sizeof(Instruction) <= room->memory + room->used) << i;
        size += sizeof(Instruction) + (node->extra ? sizeof(InstructionExtra) : 0);
    }
    EXPECT_EQ(loaded.context->appSize, size);
}

// A load takes its nodes and side records from the pool's blocks itself:
// the blocks must count every one of them, as single allocations would, or
// freeing the nodes one by one frees a block still in use (or never frees
// it). The program spans several blocks of the pool, with side records made
// with their nodes (a namespace, an identity) and for jumps back and forward.
TEST_F(CompiledFileTest, ThePoolCountsEveryNodeAndSideRecordALoadMakes) {
    constexpr uint32_t kRecords = 3000;  // about 240 KB of nodes: several 64 KB blocks
    constexpr uint32_t kEvery = 50;
    constexpr uint32_t kNamespace = 0x1234;
    Bytes image = Bytes().Header().Record(kRecordText, 0).Text("blocks.qob");
    for (uint32_t i = 0; i < kRecords; ++i) {
        switch (i % kEvery) {
            case 0:
            case 4: image.Record(kRecordNumber | kRecordIdentity, 4).F64(i).U32(i + 1); break;
            case 1: image.Record(kRecordTarget, 3).U32(i); break;          // back to the record before
            case 2: image.Record(kRecordTarget, 3).U32(i + 3); break;      // forward to record i + 2
            case 5: image.Record(kRecordNumber | kRecordNamespace, 4).F64(i).U32(kNamespace); break;
            default: image.Record(kRecordNumber, 4).F64(i); break;
        }
    }
    CapturedBoxes boxes;
    const Loaded loaded = Load(WriteImage(image));
    ASSERT_NE(loaded.first, nullptr) << boxes.Text();
    std::vector<Instruction*> nodes;
    for (Instruction* node = loaded.first->next; node; node = node->next) nodes.push_back(node);
    ASSERT_EQ(nodes.size(), kRecords);
    uint64_t allocations = 1 + (loaded.first->extra ? 1 : 0);
    uint64_t bytes = sizeof(Instruction) + (loaded.first->extra ? sizeof(InstructionExtra) : 0);
    for (uint32_t i = 0; i < kRecords; ++i) {
        const Instruction* node = nodes[i];
        const uint32_t kind = i % kEvery;
        ASSERT_EQ(JumpTarget(node), kind == 1 ? nodes[i - 1] : kind == 2 ? nodes[i + 2] : nullptr) << i;
        ASSERT_EQ(node->extra != nullptr, kind <= 2 || kind == 4 || kind == 5) << i;
        if (node->extra) {
            EXPECT_EQ(node->extra->namespaceHash, kind == 5 ? kNamespace : 0u) << i;
            EXPECT_EQ(node->extra->isJumpTarget, kind == 0 || kind == 4 ? 1 : 0) << i;
        }
        allocations += 1 + (node->extra ? 1 : 0);
        bytes += sizeof(Instruction) + (node->extra ? sizeof(InstructionExtra) : 0);
    }
    Pool* pool = loaded.context->pool;
    uint64_t counted = 0;
    uint64_t used = 0;
    int blocks = 0;
    for (const PoolBlock* block = pool->current; block; block = block->previous, ++blocks) {
        ASSERT_NE(block->memory, nullptr);
        counted += block->count;
        used += block->used;
    }
    EXPECT_GT(blocks, 2);
    EXPECT_EQ(counted, allocations);
    EXPECT_EQ(used, bytes);
    // Freed one by one, every node and side record goes: each block with them.
    Instruction* last = nodes.back();
    loaded.context->instructions = nullptr;
    DeleteInstructionChain(loaded.context, last);
    for (const PoolBlock* block = pool->current; block; block = block->previous) {
        EXPECT_EQ(block->memory, nullptr);
        EXPECT_EQ(block->count, 0u);
    }
}

// A loaded node's texts lie in the image it came from, each moved over its
// length word to make room for a terminator: they read as the file has them,
// with their hashes, whatever their length, and the text after each (a
// second text, the next record's) is left whole. Freeing one, as a node's
// end does, frees nothing.
TEST_F(CompiledFileTest, LoadedTextsReadAsTheFileHasThem) {
    const std::string texts[] = {"", "A", "AB$", std::string(32, 'x'), std::string(33, 'y'), std::string(100, 'z'),
                                 "\xE9\xFF"};
    Bytes image = Bytes().Header().Record(kRecordText, 0).Text("texts.qob");
    for (const std::string& text : texts) {
        image.Record(kRecordText, static_cast<uint8_t>(Opcode::PUSHSTR)).Text(text);
        image.Record(kRecordText | kRecordSecondText, static_cast<uint8_t>(Opcode::PUSHSTRVAR))
            .Text(text)
            .Text(text + "2");
    }
    CapturedBoxes boxes;
    const Loaded loaded = Load(WriteImage(image));
    ASSERT_NE(loaded.first, nullptr) << boxes.Text();
    std::vector<Instruction*> nodes;
    for (Instruction* node = loaded.first; node; node = node->next) nodes.push_back(node);
    ASSERT_EQ(nodes.size(), 1 + 2 * std::size(texts));
    EXPECT_STREQ(nodes[0]->text, "texts.qob");
    for (size_t i = 0; i < std::size(texts); ++i) {
        const std::string& text = texts[i];
        const Instruction* push = nodes[1 + 2 * i];
        Instruction* pair = nodes[2 + 2 * i];
        ASSERT_NE(push->text, nullptr) << i;
        EXPECT_EQ(std::string(push->text), text) << i;
        EXPECT_EQ(push->textHash, HashName(text.data(), text.size())) << i;
        ASSERT_NE(pair->text, nullptr) << i;
        EXPECT_EQ(std::string(pair->text), text) << i;
        EXPECT_EQ(pair->textHash, HashName(text.data(), text.size())) << i;
        const auto* second = reinterpret_cast<const char*>(static_cast<uintptr_t>(pair->operand));
        ASSERT_NE(second, nullptr) << i;
        EXPECT_EQ(std::string(second), text + "2") << i;
        EXPECT_FALSE(platform::FreeBlock(pair->text)) << i;
        EXPECT_EQ(std::string(pair->text), text) << i;
    }
}

TEST_F(CompiledFileTest, ATruncatedOrGarbledFileIsRefused) {
    Emit(0, NopHandler, "whole.qob");
    Start("\xE9   MAIN");
    Emit(Opcode::PUSHSTR, "a text long enough to be coded over several bytes");
    Emit(Opcode::ENDPROC);
    const std::string path = Save();
    const std::string whole = *platform::ReadFileBytes(path);
    std::string longer = whole;
    longer[longer.size() - 1] ^= 0x40;  // the enciphered length's top byte
    const std::string files[] = {"", "abc", whole.substr(0, whole.size() - 1), whole.substr(0, whole.size() / 2),
                                 longer};
    for (const std::string& bytes : files) {
        directory.Write("prog.qoc", bytes);
        CapturedBoxes boxes;
        const Loaded loaded = Load(path);
        EXPECT_EQ(loaded.first, nullptr) << bytes.size() << " bytes";
        EXPECT_NE(boxes.Text().find("cannot be used"), std::string::npos);
    }
}

TEST_F(CompiledFileTest, AMissingFileIsRefusedSilently) {
    CapturedBoxes boxes;
    EXPECT_EQ(Load(directory.Join("none.qoc")).first, nullptr);
    EXPECT_EQ(boxes.Text(), "");
}

// --- header warnings -------------------------------------------------------------

TEST_F(CompiledFileTest, HeaderMismatchesWarnOnceAndTheProgramStillLoads) {
    struct Case {
        uint8_t major, minor, release, level, platformByte;
        const char* warning;  // the box's text up to its first blank, or empty
    };
    const Case cases[] = {
        {1, 3, 2, 2, 1, ""},   {1, 3, 1, 2, 1, ""},   {1, 3, 3, 2, 1, "3."}, {1, 4, 0, 2, 1, "4."},
        {2, 0, 0, 2, 1, "5."}, {1, 3, 2, 3, 1, "6."}, {1, 9, 9, 2, 0, "2."},
    };
    for (const Case& c : cases) {
        Bytes image;
        image.Header(c.major, c.minor, c.release, c.level, c.platformByte).Record(kRecordText, 0).Text("v.qob");
        CapturedBoxes boxes;
        EXPECT_NE(Load(WriteImage(image)).first, nullptr);
        const std::string text = boxes.Text();
        if (!*c.warning) {
            EXPECT_EQ(text, "") << int(c.minor) << "." << int(c.release);
            continue;
        }
        EXPECT_EQ(text.rfind(std::string("Runtime Error: ") + c.warning + " ", 0), 0u) << text;
        EXPECT_EQ(text.find('\n'), text.size() - 1) << "one box: " << text;
    }
}

// --- currency ---------------------------------------------------------------------------

TEST_F(CompiledFileTest, ACompiledFileIsCurrentOnlyWhenNothingIsNewer) {
    // Times after the test executable was built, except where it must be newer.
    const auto later = std::filesystem::file_time_type::clock::now() + std::chrono::hours(1);
    Bytes image;
    image.Header().Record(kRecordText, 0).Text("c.qob");
    const std::string sourcePath = directory.Write("c.qob", "PROC MAIN\nEND\n");
    const std::string compiledPath = WriteImage(image, "c.qoc");
    auto setTimes = [&](std::chrono::seconds source, std::chrono::seconds compiled) {
        std::filesystem::last_write_time(sourcePath, later + source);
        std::filesystem::last_write_time(compiledPath, later + compiled);
    };
    const char* source = sourcePath.c_str();
    const char* compiled = compiledPath.c_str();

    setTimes(std::chrono::seconds(10), std::chrono::seconds(20));
    EXPECT_TRUE(IsCompiledFileCurrent(source, compiled));
    setTimes(std::chrono::seconds(10), std::chrono::seconds(10));
    EXPECT_TRUE(IsCompiledFileCurrent(source, compiled)) << "same time: not later";
    setTimes(std::chrono::seconds(20), std::chrono::seconds(10));
    EXPECT_FALSE(IsCompiledFileCurrent(source, compiled)) << "source newer";
    const auto decadeAgo = later - std::chrono::hours(24 * 365 * 10);
    std::filesystem::last_write_time(sourcePath, decadeAgo);
    std::filesystem::last_write_time(compiledPath, decadeAgo + std::chrono::seconds(1));
    EXPECT_FALSE(IsCompiledFileCurrent(source, compiled)) << "older than the runtime executable";
    setTimes(std::chrono::seconds(10), std::chrono::seconds(20));
    EXPECT_FALSE(IsCompiledFileCurrent(directory.Join("none.qob").c_str(), compiled));
    EXPECT_FALSE(IsCompiledFileCurrent(source, directory.Join("none.qoc").c_str()));
    EXPECT_TRUE(IsCompiledFileCurrent(compiled, directory.Join("none.qoc").c_str())) << "a compiled name itself";
}

TEST_F(CompiledFileTest, AnOlderOrDamagedOrOtherFormatFileIsNotCurrent) {
    struct Case {
        const char* what;
        std::string bytes;  // written as it stands; empty: the image below coded
        Bytes image;
        bool current;
        bool message;
    };
    Case cases[] = {
        {"same version", "", Bytes().Header().Record(0, 0), true, false},
        {"newer release", "", Bytes().Header(1, 3, 3).Record(0, 0), true, false},
        {"older release", "", Bytes().Header(1, 3, 1).Record(0, 0), false, false},
        {"older minor", "", Bytes().Header(1, 2, 9).Record(0, 0), false, false},
        {"format 4", "", Bytes().Header(1, 3, 2, 2, 1, 4).Record(0, 0), false, true},
        {"damaged", "not a compiled file at all", Bytes(), false, true},
    };
    const std::string sourcePath = directory.Write("d.qob", "PROC MAIN\nEND\n");
    const auto later = std::filesystem::file_time_type::clock::now() + std::chrono::hours(1);
    std::filesystem::last_write_time(sourcePath, later);
    for (Case& c : cases) {
        const std::string compiledPath =
            c.bytes.empty() ? WriteImage(c.image, "d.qoc") : directory.Write("d.qoc", c.bytes);
        std::filesystem::last_write_time(compiledPath, later + std::chrono::seconds(1));
        CapturedBoxes boxes;
        EXPECT_EQ(IsCompiledFileCurrent(sourcePath.c_str(), compiledPath.c_str()), c.current) << c.what;
        EXPECT_EQ(!boxes.Text().empty(), c.message) << c.what << ": " << boxes.Text();
    }
}

}  // namespace
}  // namespace qob

namespace qob {
namespace {

// Programs from the compiler itself, saved and loaded again: every node comes
// back with the same handlers, operands and jumps.
class CompiledProgramTest : public testing::CodegenTest {
protected:
    // What a load does not rebuild as nodes: class declarations with their
    // name nodes and forward declarations (both become records).
    void DropDeclarationNodes() {
        for (Instruction* node = program->next; node;) {
            Instruction* next = node->next;
            if (node->opcode == 183) {
                next = next->next;
                DeleteInstruction(context->pool, nullptr, node->next, true);
                DeleteInstruction(context->pool, nullptr, node, true);
            } else if (node->opcode == static_cast<uint32_t>(Opcode::FORWARDPROC)) {
                DeleteInstruction(context->pool, nullptr, node, true);
            }
            node = next;
        }
    }

    static std::string Handlers(const Instruction* first) {
        std::string text;
        for (const Instruction* node = first; node; node = node->next) {
            char line[64];
            std::snprintf(line, sizeof line, "%p/%p\n", reinterpret_cast<void*>(node->handler),
                          reinterpret_cast<void*>(node->secondHandler));
            text += line;
        }
        return text;
    }
};

TEST_F(CompiledProgramTest, CompiledSourcesComeBackAsTheSameInstructions) {
    const char* kSources[] = {
        "FUNC fact(n$)\n IF (n$ <= 1)\n  RETURN(1);\n END;\n RETURN(n$ * fact(n$ - 1));\nEND;\n"
        "PROC MAIN\n FOR (i$, 1, 5, 2)\n  showmessage(i$, \" \", fact(i$));\n END;\n"
        " n$ = 0;\n WHILE (n$ < 3)\n  n$++;\n END;\n REPEAT\n  n$ -= 1;\n UNTIL (n$ == 0);\nEND;\n",
        "PROC MAIN\n a$ = \"x\";\n b$ = a$ + \"y\";\n c$ = 2.5;\n showmessage(a$, b$, 1, 2, \"z\", c$);\n"
        " CASE (c$)\n  1, 2: showmessage(\"low\");\n  \"q\": showmessage(\"text\");\n  DEFAULT: showmessage(\"other\");\n"
        " END;\n TRY\n  d$ = 1 / 0;\n EXCEPT\n  showmessage(\"fault\");\n END;\nEND;\n",
        "FORWARD FUNC later(a$);\nPROC MAIN\n x$ = later(1);\n p$ = &later;\nEND;\n"
        "FUNC later(a$)\n RETURN(a$ + 1);\nEND;\n",
        "#NAMESPACE tools\nPROC helper\n showmessage(\"in tools\");\nEND;\n#ENDNAMESPACE\n"
        "PROC MAIN\n ::tools helper();\nEND;\n",
        "#CLASS Animal\nPUBLIC(name$);\nPUBLIC FUNC sound()\n RETURN(\"...\");\nEND;\n#ENDCLASS\n"
        "#CLASS Dog Animal\nPUBLIC FUNC sound()\n RETURN(\"woof\");\nEND;\n"
        "PUBLIC PROC both()\n showmessage(sound());\n #INHERITED sound();\nEND;\n#ENDCLASS\n"
        "PROC MAIN\n Dog(d$);\n d.both();\nEND;\n",
        "#DECLARE twice twice nolib.dll 1 1\nPROC MAIN\n showmessage(twice(21));\nEND;\n",
    };
    for (const char* source : kSources) {
        CompileSource(source, true);
        ASSERT_EQ(Errors(), "") << source;
        testing::TempDirectory directory;
        const std::string path = directory.Join("program.qoc");
        ASSERT_EQ(SaveCompiledProgram(path.c_str(), program, context->pool), SaveStatus::Saved) << source;
        DropDeclarationNodes();

        ProgramContext* loadedContext = CreateProgramContext();
        loadedContext->kind = kContextIndependent;
        loadedContext->quietEnd = 1;
        loadedContext->ownsClassRecords = 1;
        loadedContext->pool = CreatePool(0x80000);
        bool isWinMain = false;
        Instruction* loaded = LoadCompiledProgram(path.c_str(), loadedContext, loadedContext->procedures,
                                                  loadedContext->procedureCount, isWinMain);
        loadedContext->instructions = loaded;
        EXPECT_EQ(testing::ListInstructions(loaded), testing::ListInstructions(program)) << source;
        EXPECT_EQ(Handlers(loaded), Handlers(program)) << source;
        EXPECT_EQ(loadedContext->procedureCount, procedureCount) << source;
        EXPECT_EQ(Errors(), "") << source;
        EndProgramContext(loadedContext);
        CurrentCompilerPool = context->pool;
        CurrentContext = context;
    }
}

}  // namespace
}  // namespace qob
