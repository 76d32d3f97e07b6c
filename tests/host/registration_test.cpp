// tests/host/registration_test.cpp
// The function table and opcode tables after RegisterBuiltins: record order,
// argument rules, shared handlers, and the placeholders of what is not built.
#include "host/builtin_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

#include "builtins/builtin_registrations.h"
#include "engine/engine_registrations.h"
#include "engine/engine_state.h"
#include "host/debugger_link.h"
#include "native/native_registrations.h"
#include "runtime/data/hash.h"
#include "runtime/registry/placeholder_handlers.h"
#include "sound/sound_registrations.h"
#include "windows/windows_registrations.h"

namespace qob {
namespace {

class RegistrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        FreeFunctionTable();
        RegisterBuiltins();
    }
    void TearDown() override { FreeFunctionTable(); }

    static const FunctionRecord& Record(std::string_view name) {
        const FunctionRecord* record = FunctionRecordAt(FindFunctionByName(name));
        EXPECT_NE(record, nullptr) << name;
        static const FunctionRecord kMissing;
        return record ? *record : kMissing;
    }
};

TEST_F(RegistrationTest, RecordsFollowTheRegistrationOrder) {
    ASSERT_EQ(FunctionCount(), kRegisteredNameCount);
    for (int i = 0; i < kRegisteredNameCount; ++i)
        EXPECT_EQ(FunctionRecordAt(i)->name, UpperCaseName(kRegistrationOrder[i])) << i;
}

TEST_F(RegistrationTest, OrderAtTheSubsystemSeams) {
    // Where one subsystem's names give way to another's, and the ends: the
    // places an order assembled per subsystem would get wrong.
    struct Case {
        int index;
        const char* name;
    };
    constexpr Case kCases[] = {
        {0, "IF"},          {13, "CONTINUE"},       {14, "__DEBUG"},         {26, "__ENDDECL"},
        {34, "ADDEVENT"},   {37, "QUIETMODE"},      {62, "ASM"},             {66, "="},
        {67, "M="},         {76, "@"},              {96, "PTR"},             {156, "HANDLEMESSAGE"},
        {158, "+"},         {162, "++2"},           {163, "--2"},            {272, "FUNCTIONS"},
        {273, "VARIABLES"}, {364, "CREATETHREAD"},  {435, "G_INIT"},         {442, "G_SETMAINLOOP"},
        {758, "S_INIT"},    {777, "CREATECOMOBJECT"}, {806, "SAFEARRAY"},    {830, "PACKAGEFILESIZE"},
    };
    for (const Case& c : kCases) EXPECT_EQ(FunctionRecordAt(c.index)->name, c.name) << c.index;
}

TEST_F(RegistrationTest, NoTwoRegisteredNamesShareAHash) {
    std::set<uint32_t> hashes;
    for (int i = 0; i < FunctionCount(); ++i) hashes.insert(FunctionRecordAt(i)->nameHash);
    EXPECT_EQ(hashes.size(), static_cast<size_t>(kRegisteredNameCount));
}

// Each row carries the hash its record is filed under: the name's hash,
// upper-cased, whatever the case it is written in.
TEST_F(RegistrationTest, EachRowCarriesItsRecordsHash) {
    std::vector<const BuiltinRegistration*> rows = RowsInRegistrationOrder();
    ASSERT_EQ(rows.size(), static_cast<size_t>(kRegisteredNameCount));
    for (int i = 0; i < kRegisteredNameCount; ++i) {
        const std::string upper = UpperCaseName(rows[i]->name);
        EXPECT_EQ(rows[i]->nameHash, HashName(upper.data(), upper.size())) << rows[i]->name;
        EXPECT_EQ(FunctionRecordAt(i)->nameHash, rows[i]->nameHash) << rows[i]->name;
        EXPECT_EQ(FindFunctionByName(rows[i]->name), i) << rows[i]->name;
    }
}

TEST_F(RegistrationTest, EachLayerTableHoldsItsNames) {
    struct Case {
        const char* table;
        std::span<const BuiltinRegistration> rows;
        size_t count;
    };
    const Case cases[] = {
        {"keywords", KeywordRegistrations(), 19},   {"runtime", RuntimeRegistrations(), 27},
        {"host", HostRegistrations(), 21},          {"language", LanguageBuiltinRegistrations(), 335},
        {"windows", WindowsRegistrations(), 88},    {"native", NativeRegistrations(), 4},
        {"engine", EngineRegistrations(), 318},     {"sound", SoundRegistrations(), 19},
    };
    size_t total = 0;
    for (const Case& c : cases) {
        EXPECT_EQ(c.rows.size(), c.count) << c.table;
        total += c.rows.size();
    }
    EXPECT_EQ(total, static_cast<size_t>(kRegisteredNameCount));
    std::vector<const BuiltinRegistration*> rows = RowsInRegistrationOrder();
    ASSERT_EQ(rows.size(), static_cast<size_t>(kRegisteredNameCount));
    for (int i = 0; i < kRegisteredNameCount; ++i) EXPECT_EQ(rows[i]->name, kRegistrationOrder[i]);
}

TEST_F(RegistrationTest, ArgumentRulesOfASampleOfEachGroup) {
    struct Case {
        const char* name;
        uint8_t argumentCount, returnsValue, anyArity, argumentFrame;
        bool hasHandler;
    };
    constexpr Case kCases[] = {
        // keywords the compiler resolves
        {"ELSE", 0, 0, 0, 0, false},
        {"END", 0, 0, 0, 0, false},
        {"IF", 0, 0, 1, 0, false},
        {"FOREACHREV", 0, 0, 1, 0, false},
        {"RETURN", 0, 0, 1, 1, false},
        // runtime core
        {"__profile", 2, 0, 0, 0, true},
        {"functions", 2, 1, 0, 0, true},
        {"ReadWrite", 3, 0, 0, 0, true},
        {"createthread", 5, 1, 0, 0, true},
        {"@", 0, 0, 0, 0, true},
        {"ptr", 1, 1, 0, 0, true},
        {"LOCAL", 0, 0, 1, 1, true},
        {"__MAKEMATRIX", 0, 1, 1, 1, true},
        // language built-ins
        {"+", 0, 0, 0, 0, true},
        {"++2", 0, 0, 0, 0, true},
        {"abs", 1, 1, 0, 0, true},
        {"find", 8, 1, 0, 0, true},
        {"delall", 6, 1, 0, 0, true},
        {"sprintf", 0, 0, 1, 1, true},
        {"printf", 0, 1, 1, 1, true},
        // windows and COM
        {"newcontrol", 10, 1, 0, 0, true},
        {"g_mainloop", 1, 0, 0, 0, true},
        {"SafeArray", 0, 1, 1, 1, true},
        {"FreeCOMObject", 0, 0, 1, 1, true},
        // native code
        {"asm", 2, 1, 0, 0, true},
        {"doasm", 0, 0, 1, 1, true},
        // game engine
        {"drawsurfaceex", 24, 0, 0, 0, true},
        {"newparticle", 13, 1, 0, 0, true},
        {"g_freefont", 0, 0, 1, 1, true},
        // sound
        {"s_init", 5, 0, 0, 0, true},
        {"loadsound", 2, 1, 0, 0, true},
    };
    for (const Case& c : kCases) {
        const FunctionRecord& record = Record(c.name);
        EXPECT_EQ(record.argumentCount, c.argumentCount) << c.name;
        EXPECT_EQ(record.returnsValue, c.returnsValue) << c.name;
        EXPECT_EQ(record.anyArity, c.anyArity) << c.name;
        EXPECT_EQ(record.argumentFrame, c.argumentFrame) << c.name;
        EXPECT_EQ(record.handler != nullptr, c.hasHandler) << c.name;
        EXPECT_FALSE(record.declaredNative) << c.name;
    }
}

TEST_F(RegistrationTest, MixedCaseNamesAreStoredUpperCasedAndFoundInAnyCase) {
    for (const char* name : {"ReadWrite", "CreateCOMObject", "RGB", "public", "g_RGB"}) {
        int index = FindFunctionByName(name);
        ASSERT_GE(index, 0) << name;
        EXPECT_EQ(FunctionRecordAt(index)->name, UpperCaseName(name));
        EXPECT_EQ(FindFunctionByName(UpperCaseName(name)), index);
    }
    // RGB and g_RGB stay two records.
    EXPECT_NE(FindFunctionByName("rgb"), FindFunctionByName("g_rgb"));
}

TEST_F(RegistrationTest, NamesThatShareAHandlerGetItTogether) {
    const std::pair<const char*, const char*> pairs[] = {
        {"<<", "shl"}, {">>", "shr"}, {"^", "xor"}, {"@", "ptr"},
        {"strtoarray", "strtoarrayex"}, {"strtoarrayint", "strtoarrayintex"},
    };
    for (auto [first, second] : pairs) {
        BuiltinHandler a = Record(first).handler;
        BuiltinHandler b = Record(second).handler;
        ASSERT_EQ(IsPlaceholderHandler(a), IsPlaceholderHandler(b)) << first << " " << second;
        if (!IsPlaceholderHandler(a)) {
            EXPECT_EQ(a, b) << first << " " << second;
        }
    }
    // ++2 and --2 are built-ins with handlers of their own, not those of opcodes 35 and 36.
    EXPECT_NE(Record("++2").handler, OpcodeHandlerTable[static_cast<int>(Opcode::INC2)]);
    EXPECT_NE(Record("--2").handler, OpcodeHandlerTable[static_cast<int>(Opcode::DEC2)]);
}

TEST_F(RegistrationTest, OnlyTheKeywordsTheCompilerResolvesHaveNoHandler) {
    int withoutHandler = 0;
    for (int i = 0; i < FunctionCount(); ++i)
        if (!FunctionRecordAt(i)->handler) ++withoutHandler;
    EXPECT_EQ(withoutHandler, static_cast<int>(KeywordRegistrations().size()));
    for (const BuiltinRegistration& row : KeywordRegistrations()) EXPECT_EQ(row.handler, nullptr) << row.name;
}

TEST_F(RegistrationTest, OpcodeNamesFillTheirSlots) {
    int named = 0;
    for (const char* name : OpcodeNameTable)
        if (name) ++named;
    EXPECT_EQ(named, 178);
    for (int unused : {0, 11, 32, 42, 45, 55, 62, 63, 183, 187, 199}) EXPECT_EQ(OpcodeNameTable[unused], nullptr) << unused;
    struct Case {
        int opcode;
        const char* name;
    };
    constexpr Case kCases[] = {{1, "STARTPROC"}, {33, "=2"},      {35, "++2"},      {85, "ELSE"},
                               {109, "SCALLP0"}, {125, "SCALLP16"}, {126, "SCALLF0"}, {143, "CALLP0"},
                               {176, "CALLF16"}, {180, "C_DECLAREAPI"}, {184, "FORWARDPROC"}, {186, "ENDLOOP"}};
    for (const Case& c : kCases) EXPECT_STREQ(OpcodeNameTable[c.opcode], c.name) << c.opcode;
}

TEST_F(RegistrationTest, EveryNamedOpcodeHasExactlyOneHandlerRow) {
    std::vector<int> rows(kOpcodeTableSize, 0);
    for (const OpcodeRegistration& row : OpcodeRegistrations())
        for (int opcode = static_cast<int>(row.first); opcode <= static_cast<int>(row.last); ++opcode) ++rows[opcode];
    for (const OpcodeBuiltin& shared : OpcodeBuiltins()) ++rows[static_cast<int>(shared.opcode)];
    for (int opcode = 0; opcode < kOpcodeTableSize; ++opcode)
        EXPECT_EQ(rows[opcode], OpcodeNameTable[opcode] ? 1 : 0) << opcode;
}

TEST_F(RegistrationTest, OpcodeHandlersOfTheTableAndTheSharedBuiltins) {
    // No handler: unused numbers, INTERNALCALL, ELSE, 89-96 and the declaration records.
    for (int opcode : {0, 11, 34, 85, 89, 96, 177, 180, 183, 187}) EXPECT_EQ(OpcodeHandlerTable[opcode], nullptr) << opcode;
    const std::set<int> withoutHandler = {34, 85, 89, 90, 91, 92, 93, 94, 95, 96, 177, 178, 179, 180};
    for (int opcode = 1; opcode < kOpcodeTableSize; ++opcode) {
        if (OpcodeNameTable[opcode] && !withoutHandler.count(opcode)) {
            EXPECT_NE(OpcodeHandlerTable[opcode], nullptr) << OpcodeNameTable[opcode];
        }
    }

    for (const OpcodeBuiltin& shared : OpcodeBuiltins())
        EXPECT_EQ(OpcodeHandlerTable[static_cast<int>(shared.opcode)], Record(shared.builtin).handler) << shared.builtin;
    EXPECT_EQ(OpcodeHandlerTable[31], Record("runfile").handler);
}

TEST_F(RegistrationTest, EveryRowNotBuiltGetsAPlaceholderOfItsOwn) {
    std::vector<const BuiltinRegistration*> rows = RowsInRegistrationOrder();
    std::set<BuiltinHandler> placeholders;
    for (int i = 0; i < kRegisteredNameCount; ++i) {
        BuiltinHandler handler = FunctionRecordAt(i)->handler;
        bool notBuilt = rows[i]->handler == kNotBuilt;
        EXPECT_EQ(IsPlaceholderHandler(handler), notBuilt) << rows[i]->name;
        if (notBuilt) {
            EXPECT_TRUE(placeholders.insert(handler).second) << rows[i]->name;  // also @ and ptr
        } else {
            EXPECT_EQ(handler, rows[i]->handler) << rows[i]->name;
        }
    }
    for (const OpcodeRegistration& row : OpcodeRegistrations())
        for (int opcode = static_cast<int>(row.first); opcode <= static_cast<int>(row.last); ++opcode)
            EXPECT_EQ(IsPlaceholderHandler(OpcodeHandlerTable[opcode]), row.handler == kNotBuilt) << opcode;
}

// Registration also settles the process-wide settings that later code reads:
// the glyph count of window-system fonts and an empty breakpoint table.
TEST_F(RegistrationTest, ProcessSettingsAreSetForLaterCode) {
    GdiFontGlyphCount = 0;
    ASSERT_TRUE(SetBreakpoint("prog.qob", 7, 0));
    RegisterBuiltins();
    EXPECT_EQ(GdiFontGlyphCount, 255);
    EXPECT_EQ(BreakpointCount(), 0);
}

}  // namespace
}  // namespace qob
