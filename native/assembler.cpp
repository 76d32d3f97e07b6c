// native/assembler.cpp
// The assembler: one walk over the tokens (labels, functions, locals,
// statements and their operands) that emits ARM words, then the branch
// fix-ups and the value pool. Tables are hashed, so time grows linearly.
#include "native/assembler.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "builtins/texts/embedded_expressions.h"
#include "compiler/compile_messages.h"
#include "compiler/front_end/define_table.h"
#include "compiler/front_end/preprocessor.h"
#include "compiler/front_end/token_list.h"
#include "native/arm_words.h"
#include "native/asm_routines.h"
#include "native/asm_string_list.h"
#include "native/asm_symbols.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "runtime/data/number_text.h"
#include "runtime/registry/function_table.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/procedure_lookup.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/runtime_error.h"

namespace qob {
namespace {

constexpr uint32_t kPageSize = 4096;
constexpr size_t kMaxReferences = 16383;
constexpr uint32_t kMaxPoolWords = 1024;  // pool offsets fill a 12-bit field
constexpr int32_t kEntryWords = 11;
constexpr uint32_t kR11Place = 24;         // the four words that load r11
constexpr uint32_t kMainJumpPlace = 40;    // ldr pc, [r11, #MAIN's pool word]

// Operand flag bits.
constexpr uint32_t kFlagR0 = 0x100, kFlagR1 = 0x1000, kFlagR2 = 0x10000, kFlagR3 = 0x100000, kFlagSp = 0x10,
                   kFlagSf = 0x4000000, kFlagR9 = 0x40000, kFlagR10 = 0x400000, kFlagR8 = 0x40000000;
constexpr uint32_t kFlagImmediate = 0x400, kFlagVariable = 0x4, kFlagMemory = 0x1000000,
                   kFlagDisplacement = 0x4000, kFlagLoadedFromLocal = 0x10000000;
constexpr uint32_t kRegisterFlags = kFlagR0 | kFlagR1 | kFlagR2 | kFlagR3 | kFlagSp | kFlagSf | kFlagR9 |
                                    kFlagR10 | kFlagR8;

struct RegisterName {
    const char* name;
    uint32_t flag;
};
constexpr RegisterName kRegisterNames[] = {{"r0", kFlagR0}, {"r1", kFlagR1}, {"r2", kFlagR2},
                                           {"r3", kFlagR3}, {"sp", kFlagSp}, {"sf", kFlagSf}};

uint32_t RegisterNumber(uint32_t flags) {
    switch (flags & kRegisterFlags) {
    case kFlagR0: return 0;
    case kFlagR1: return 1;
    case kFlagR2: return 2;
    case kFlagR3: return 3;
    case kFlagR8: return kArmR8;
    case kFlagR9: return kArmR9;
    case kFlagR10: return kArmR10;
    case kFlagSf: return kArmSf;
    default: return kArmSp;
    }
}

uint32_t RegisterFlag(uint32_t number) {
    switch (number) {
    case 0: return kFlagR0;
    case 1: return kFlagR1;
    case 2: return kFlagR2;
    case 3: return kFlagR3;
    case kArmR8: return kFlagR8;
    case kArmR9: return kFlagR9;
    case kArmR10: return kFlagR10;
    case kArmSf: return kFlagSf;
    default: return kFlagSp;
    }
}

struct Operand {
    uint32_t flags = 0;
    uint32_t value = 0;        // immediate, or the address of a memory operand at an immediate address
    int32_t displacement = 0;
    double number = 0;         // the immediate as a double (maths operands)
    std::string listing;       // the operand as the listing shows it
    ArmSize size = ArmSize::Word;
    bool text = false;         // a quoted text's address

    [[nodiscard]] bool IsMemory() const { return (flags & kFlagMemory) != 0; }
    [[nodiscard]] bool IsImmediate() const { return !IsMemory() && (flags & kFlagImmediate) != 0; }
    [[nodiscard]] bool IsRegister() const { return !IsMemory() && (flags & kRegisterFlags) != 0; }
    [[nodiscard]] bool HasBaseRegister() const { return IsMemory() && (flags & kRegisterFlags) != 0; }
    [[nodiscard]] uint32_t Register() const { return RegisterNumber(flags); }
};

enum class Mnemonic : uint8_t {
    Mov, Add, Sub, Mul, Div, Rol, Ror, And, Or, Xor, Cmp, Swp, Neg, Push, Pop, Pushad, Popad, Popf,
    Jump, Call, SaveSp, QobPush, QobPushDbl, QobPushStr, QobPull, Qob, Debug, Maths, ToInt, SetPixel,
    GetPixel, BeginScene, Update
};

struct MnemonicEntry {
    Mnemonic kind;
    uint32_t detail;  // condition, operation or routine
};

const std::unordered_map<std::string, MnemonicEntry>& MnemonicTable() {
    using enum Mnemonic;
    auto condition = [](ArmCondition c) { return static_cast<uint32_t>(c); };
    auto routine = [](AsmRoutine r) { return static_cast<uint32_t>(r); };
    static const std::unordered_map<std::string, MnemonicEntry> table = {
        {"mov", {Mov, 0}}, {"movb", {Mov, 0}},
        {"add", {Add, 0}}, {"sub", {Sub, 0}}, {"mul", {Mul, 0}},
        {"div", {Div, routine(AsmRoutine::AsmSignedDivide)}},
        {"rol", {Rol, routine(AsmRoutine::AsmShiftLeft)}},
        {"ror", {Ror, routine(AsmRoutine::AsmShiftRight)}},
        {"and", {And, 0}}, {"or", {Or, 0}}, {"xor", {Xor, 0}}, {"cmp", {Cmp, 0}}, {"swp", {Swp, 0}},
        {"neg", {Neg, 0}}, {"push", {Push, 0}}, {"pop", {Pop, 0}}, {"pushad", {Pushad, 0}},
        {"popad", {Popad, 0}}, {"popf", {Popf, 0}},
        {"jmp", {Jump, condition(ArmCondition::Always)}}, {"jeq", {Jump, condition(ArmCondition::Equal)}},
        {"jne", {Jump, condition(ArmCondition::NotEqual)}}, {"jge", {Jump, condition(ArmCondition::GreaterEqual)}},
        {"jgt", {Jump, condition(ArmCondition::Greater)}}, {"jle", {Jump, condition(ArmCondition::LessEqual)}},
        {"jlt", {Jump, condition(ArmCondition::Less)}},
        {"jsr", {Call, condition(ArmCondition::Always)}}, {"jsreq", {Call, condition(ArmCondition::Equal)}},
        {"jsrne", {Call, condition(ArmCondition::NotEqual)}}, {"jsrge", {Call, condition(ArmCondition::GreaterEqual)}},
        {"jsrgt", {Call, condition(ArmCondition::Greater)}}, {"jsrle", {Call, condition(ArmCondition::LessEqual)}},
        {"jsrlt", {Call, condition(ArmCondition::Less)}},
        {"savesp", {SaveSp, 0}}, {"qobpush", {QobPush, 0}}, {"qobpushdbl", {QobPushDbl, 0}},
        {"qobpushstr", {QobPushStr, 0}}, {"qobpull", {QobPull, 0}}, {"qob", {Qob, 0}}, {"debug", {Debug, 0}},
        {"cos", {Maths, routine(AsmRoutine::Cos)}}, {"cosh", {Maths, routine(AsmRoutine::Cosh)}},
        {"sin", {Maths, routine(AsmRoutine::Sin)}}, {"sinh", {Maths, routine(AsmRoutine::Sinh)}},
        {"sqrt", {Maths, routine(AsmRoutine::Sqrt)}}, {"tan", {Maths, routine(AsmRoutine::Tan)}},
        {"tanh", {Maths, routine(AsmRoutine::Tanh)}}, {"atan", {Maths, routine(AsmRoutine::Atan)}},
        {"atan2", {Maths, routine(AsmRoutine::Atan2)}}, {"exp", {Maths, routine(AsmRoutine::Exp)}},
        {"floor", {Maths, routine(AsmRoutine::Floor)}}, {"ceil", {Maths, routine(AsmRoutine::Ceil)}},
        {"log", {Maths, routine(AsmRoutine::Log)}}, {"log10", {Maths, routine(AsmRoutine::Log10)}},
        {"toint", {ToInt, routine(AsmRoutine::AsmDoubleToInt)}},
        {"setpixel", {SetPixel, routine(AsmRoutine::AsmSetPixel)}},
        {"getpixel", {GetPixel, routine(AsmRoutine::AsmGetPixel)}},
        {"beginscene", {BeginScene, routine(AsmRoutine::AsmBeginScene)}},
        {"update", {Update, routine(AsmRoutine::AsmUpdate)}},
    };
    return table;
}

std::string Lower(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lowered;
}

std::string Upper(std::string_view text) {
    std::string raised(text);
    for (char& c : raised)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return raised;
}

bool IsNumberToken(const char* text) { return (text[0] >= '0' && text[0] <= '9') || text[0] == '.'; }
bool IsTextToken(const char* text) { return text[0] == '"'; }
bool IsLabelToken(const char* text) { return text[0] == ':' && text[1] != ':' ; }
bool IsHeadingToken(const char* text) { return text[0] == '!' && text[1] != '='; }
bool Is(const TokenNode* token, const char* text) { return token != nullptr && std::strcmp(token->text, text) == 0; }

// A quoted text token without its quotes.
std::string_view UnquotedText(const char* text) {
    std::string_view body(text + 1);
    if (!body.empty() && body.back() == '"') body.remove_suffix(1);
    return body;
}

// "%02Xh": a number as the listing shows it.
std::string HexText(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%02Xh", value);
    return text;
}

// "[%s]", "[%s + #%02Xh]" or "[%s - #%02Xh]".
std::string BracketText(const std::string& inner, int32_t displacement) {
    if (displacement == 0) return "[" + inner + "]";
    const uint32_t magnitude = displacement < 0 ? 0u - static_cast<uint32_t>(displacement) : static_cast<uint32_t>(displacement);
    return "[" + inner + (displacement < 0 ? " - #" : " + #") + HexText(magnitude) + "]";
}

struct Reference {
    uint32_t at;     // byte offset of the instruction
    uint32_t value;  // the pool word's value
};

struct Fixup {
    uint32_t at;
    ArmCondition condition;
    bool link;
    std::string name;
    const TokenNode* token;
};

struct Local {
    int32_t offset;         // from sf
    const char* debugName;  // its name in AsmStringList
};

class Assembler {
public:
    Assembler(uint8_t* block, uint32_t size, const AsmOptions& options)
        : block_(block), base_(LowAddress(block)), size_(size), options_(options) {}

    bool Run(const TokenNode* first);
    [[nodiscard]] uint32_t CodeBytes() const { return codeBytes_; }
    [[nodiscard]] uint32_t TotalBytes() const { return cursor_; }

private:
    // --- diagnostics and words -----------------------------------------------
    void Error(std::string_view text, const TokenNode* token) {
        ReportCompileMessage(nullptr, text, token, -1, false);
        failed_ = true;
    }
    void Emit(uint32_t word);
    void Patch(uint32_t at, uint32_t word) {
        if (at + 4 <= cursor_) std::memcpy(block_ + at, &word, 4);
    }
    [[nodiscard]] uint32_t WordAt(uint32_t at) const {
        uint32_t word = 0;
        if (at + 4 <= cursor_) std::memcpy(&word, block_ + at, 4);
        return word;
    }
    void EmitReferenced(uint32_t word, uint32_t value);
    void List(const std::string& line);

    // --- operands ------------------------------------------------------------
    const TokenNode* Take() {
        const TokenNode* token = token_;
        if (token_ != nullptr) token_ = token_->next;
        return token;
    }
    bool ParseOperand(int position, Operand& operand);
    bool ParseSizedOperand(int position, Operand& operand);
    bool ParseTwo(Operand& destination, Operand& source);
    bool ParseNamedOperand(const TokenNode* token, int position, Operand& operand, bool bracketed);

    // --- encoders ------------------------------------------------------------
    void LoadImmediate(uint32_t reg, uint32_t value);
    uint32_t BaseRegister(const Operand& operand, uint32_t scratch);
    bool CheckDisplacement(const Operand& operand);
    void LoadInto(const Operand& operand, uint32_t reg);
    uint32_t ValueRegister(const Operand& operand, uint32_t scratch);
    void StoreFrom(uint32_t reg, const Operand& destination, uint32_t baseScratch);
    void EncodeMove(const Operand& destination, const Operand& source);
    void EncodeArithmetic(Mnemonic kind, const Operand& destination, const Operand& source, const TokenNode* at);
    void EmitOperation(Mnemonic kind, uint32_t d, const Operand& source, uint32_t sourceRegister, uint32_t poolRegister);
    void EncodeRoutineStatement(AsmRoutine routine, const Operand& destination, const Operand& source);
    void EncodeNeg(const Operand& operand, const TokenNode* at);
    void EncodePush(const Operand& operand);
    void EncodePop(const Operand& operand, const TokenNode* at);
    void LoadRegistersThroughStack(const Operand* operands, int count);
    void LoadDouble(const Operand& operand, uint32_t low, const TokenNode* at);
    void EmitHelperCall(uint32_t slotAddress);
    void EmitRoutineCall(AsmRoutine routine) { EmitHelperCall(AsmRoutineSlotAddress(routine)); }
    void EmitSave(uint32_t list) {
        Emit(kArmFlagsToR4);
        Emit(ArmPushList(list));
    }
    void EmitRestore(uint32_t list) {
        Emit(ArmPopList(list));
        Emit(kArmFlagsFromR4);
    }

    // --- statements ----------------------------------------------------------
    void Statement(const TokenNode* token);
    bool OrdinaryStatement(const TokenNode* token, const MnemonicEntry& entry);
    void DefineLabel(const TokenNode* token);
    void OpenFunction(const TokenNode* token);
    void DeclareLocals(const TokenNode* token);
    void Return(const TokenNode* token);
    bool CallFunction(const TokenNode* token, ArmCondition condition);
    bool QobCall(const TokenNode* token);
    bool ParseDebugText(Operand& operand);
    void SkipLine(const TokenNode* start);
    void ListStatement(const std::string& mnemonic);
    void WriteReservation(const TokenNode* at);
    void ForgetLocals();

    // --- hooks ---------------------------------------------------------------
    const char* HookFileName();
    void StoreLocalsForDebugger();
    void EmitDebugLineHook(const TokenNode* token);
    void EmitProfileStamp(const TokenNode* token);
    void EmitFramePushIfPending();
    void EmitFramePop();

    // --- end -----------------------------------------------------------------
    void ResolveLabels();
    void EmitLoadR11();

    uint8_t* block_;
    uint32_t base_;
    uint32_t size_;
    uint32_t cursor_ = 0;
    uint32_t codeBytes_ = 0;
    AsmOptions options_;
    bool failed_ = false;
    bool overflowReported_ = false;
    bool referencesRefused_ = false;

    const TokenNode* token_ = nullptr;
    const TokenNode* statementToken_ = nullptr;  // the mnemonic of the statement being encoded
    std::unordered_map<std::string, uint32_t> labels_;  // name -> byte offset
    std::vector<Fixup> fixups_;
    std::vector<Reference> references_;
    std::unordered_map<std::string, Local> locals_;
    uint32_t localCount_ = 0;
    int64_t reservePlace_ = -1;
    const TokenNode* reserveToken_ = nullptr;
    std::string prefix_;  // the open function's name, upper-cased
    bool functionOpen_ = false;
    bool lastWasRet_ = true;
    bool afterLabel_ = false;   // the last statement was a label, heading or var
    bool anyLabel_ = false;
    std::optional<uint32_t> main_;
    // Listing: words of the current statement are counted and listed with
    // its text once it is done; other words are listed with their role.
    bool inStatement_ = false;
    uint32_t statementWords_ = 0;
    std::string statementOperands_;
    const char* role_ = nullptr;
    bool framePushPending_ = false;
    const char* frameName_ = nullptr;
    const char* hookFile_ = nullptr;
};

void Assembler::Emit(uint32_t word) {
    if (cursor_ + 4 >= size_) {
        if (!overflowReported_) Error("Buffer size too small!", nullptr);
        overflowReported_ = true;
        return;
    }
    std::memcpy(block_ + cursor_, &word, 4);  // little-endian on the host as on the device
    cursor_ += 4;
    if (!options_.listing) return;
    if (inStatement_)
        ++statementWords_;
    else if (role_ != nullptr)
        List(std::string("   ") + role_);
}

// A word whose field is filled from the value pool once the pool is laid out.
void Assembler::EmitReferenced(uint32_t word, uint32_t value) {
    if (references_.size() >= kMaxReferences) {
        if (!referencesRefused_) {
            RaiseRuntimeError("Too many reference values in assembly code!", 0);
            Error("Too many reference values in assembly code!", statementToken_);
        }
        referencesRefused_ = true;
        return;
    }
    const uint32_t at = cursor_;
    Emit(word);
    if (cursor_ != at) references_.push_back({at, value});
}

void Assembler::List(const std::string& line) {
    if (options_.listingSink != nullptr)
        options_.listingSink(line.c_str());
    else
        LogRuntimeError(line.c_str());
}

// --- operands ----------------------------------------------------------------

// operand: ["BYTE" | "WORD"] ( "[" inner [("+"|"-") number] "]" | inner )
bool Assembler::ParseOperand(int position, Operand& operand) {
    if (!ParseSizedOperand(position, operand)) return false;
    if (options_.listing) {
        if (!statementOperands_.empty()) statementOperands_ += ", ";
        statementOperands_ += operand.listing;
    }
    return true;
}

bool Assembler::ParseSizedOperand(int position, Operand& operand) {
    operand = Operand{};
    const TokenNode* token = token_;
    if (token == nullptr) {
        Error("Syntax error", nullptr);
        return false;
    }
    ArmSize size = ArmSize::Word;
    if (Is(token, "BYTE") || Is(token, "WORD")) {
        size = Is(token, "BYTE") ? ArmSize::Byte : ArmSize::Half;
        Take();
        if (!ParseSizedOperand(position, operand)) return false;
        if (!operand.IsMemory()) {
            Error(size == ArmSize::Byte ? "Cannot use BYTE size on this operand" : "Cannot use WORD size on this operand",
                  token);
            return false;
        }
        operand.size = size;
        operand.listing = (size == ArmSize::Byte ? "byte " : "word ") + operand.listing;
        return true;
    }
    if (!Is(token, "[")) return ParseNamedOperand(Take(), position, operand, false);
    Take();
    const TokenNode* inner = token_;
    if (inner == nullptr || Is(inner, "[") || Is(inner, "]")) {
        Error(inner == nullptr ? "Missing closing ]" : "Invalid indexing type", inner);
        return false;
    }
    if (!ParseNamedOperand(Take(), position, operand, true)) return false;
    operand.flags |= kFlagMemory;
    operand.flags &= ~kFlagVariable;
    if (Is(token_, "+") || Is(token_, "-")) {
        const bool minus = Is(token_, "-");
        Take();
        const TokenNode* amount = token_;
        if (amount == nullptr || !IsNumberToken(amount->text)) {
            Error("Syntax Error", amount);
            return false;
        }
        Take();
        const uint32_t magnitude = NumberToWord32(StringToNumber(amount->text));
        operand.displacement = static_cast<int32_t>(minus ? 0u - magnitude : magnitude);
        operand.flags |= kFlagDisplacement;
    }
    if (!Is(token_, "]")) {
        Error("Missing closing ]", token_);
        return false;
    }
    Take();
    if ((operand.flags & kFlagSf) != 0 && (operand.flags & kFlagDisplacement) == 0) {
        Error("[SF] usage is not permitted", inner);
        return false;
    }
    if (options_.listing) operand.listing = BracketText(operand.listing, operand.displacement);
    return true;
}

bool Assembler::ParseNamedOperand(const TokenNode* token, int position, Operand& operand, bool bracketed) {
    const char* text = token->text;
    if (IsNumberToken(text)) {
        operand.number = StringToNumber(text);
        operand.value = NumberToWord32(operand.number);
        operand.flags = kFlagImmediate;
        operand.listing = HexText(operand.value);
        return true;
    }
    if (IsTextToken(text)) {
        const char* copy = AddAsmString(base_, UnquotedText(text));
        operand.value = LowAddress(copy);
        operand.number = operand.value;
        operand.flags = kFlagImmediate;
        operand.text = true;
        operand.listing = "(" + std::string(UnquotedText(text)) + ")";
        return true;
    }
    const std::string lowered = Lower(text);
    for (const RegisterName& reg : kRegisterNames)
        if (lowered == reg.name) {
            operand.flags = reg.flag;
            operand.listing = reg.name;
            return true;
        }
    if (auto local = locals_.find(lowered); local != locals_.end()) {
        EnterAsmSymbol(lowered, static_cast<uint32_t>(local->second.offset));
        if (!bracketed) {
            operand.flags = kFlagSf | kFlagMemory | kFlagDisplacement;
            operand.displacement = local->second.offset;
            operand.listing = BracketText("sf", operand.displacement);
            return true;
        }
        // [local]: the local holds the address; r9 serves the first operand, r10 the second.
        const uint32_t reg = position == 0 ? kArmR9 : kArmR10;
        Emit(ArmTransfer(true, ArmSize::Word, reg, kArmSf, local->second.offset));
        operand.flags = RegisterFlag(reg) | kFlagLoadedFromLocal;
        operand.listing = lowered;
        return true;
    }
    // A QOB variable gives the address of its data as it is now: a program
    // that later gives the variable a new block (a longer text, a new array)
    // leaves the code writing into freed memory. AARGS$ keeps its block.
    const size_t length = std::strlen(text);
    if (length > 0 && (text[length - 1] == '$' || text[length - 1] == '%')) {
        if (VariableRecord* variable = FindVariable(text, 0)) {
            const void* data = variable->data != nullptr ? static_cast<const void*>(variable->data)
                                                         : static_cast<const void*>(&variable->value);
            const auto address = reinterpret_cast<uintptr_t>(data);
            if (address < platform::kLowMemoryLimit) {
                operand.value = static_cast<uint32_t>(address);
                EnterAsmSymbol(text, operand.value);
                operand.number = operand.value;
                operand.flags = kFlagImmediate | kFlagVariable;
                operand.listing = HexText(operand.value) + "(" + text + ")";
                return true;
            }
        }
    }
    if (auto label = labels_.find(prefix_ + Upper(text)); label != labels_.end()) {
        operand.value = base_ + label->second;
        operand.number = operand.value;
        operand.flags = kFlagImmediate;
        operand.listing = HexText(operand.value) + "(" + Upper(text) + ")";
        return true;
    }
    Error("Syntax Error", token);
    return false;
}

// two-operands: operand "," operand
bool Assembler::ParseTwo(Operand& destination, Operand& source) {
    if (!ParseOperand(0, destination)) return false;
    if (!Is(token_, ",")) {
        Error("Comma missing", token_);
        return false;
    }
    Take();
    return ParseOperand(1, source);
}

// --- encoders ------------------------------------------------------------------

void Assembler::LoadImmediate(uint32_t reg, uint32_t value) {
    if (auto field = EncodeRotatedImmediate(value))
        Emit(ArmMovImmediate(reg, *field));
    else
        EmitReferenced(ArmPoolLoad(reg, 0), value);
}

// The register that holds a memory operand's base address; an immediate
// address is first moved into scratch.
uint32_t Assembler::BaseRegister(const Operand& operand, uint32_t scratch) {
    if (operand.HasBaseRegister()) return operand.Register();
    LoadImmediate(scratch, operand.value);
    return scratch;
}

bool Assembler::CheckDisplacement(const Operand& operand) {
    const int64_t displacement = operand.displacement;
    const uint64_t magnitude = displacement < 0 ? static_cast<uint64_t>(-displacement) : static_cast<uint64_t>(displacement);
    if (magnitude <= ArmMaxDisplacement(operand.size)) return true;
    Error("Invalid value", statementToken_);
    return false;
}

void Assembler::LoadInto(const Operand& operand, uint32_t reg) {
    if (operand.IsRegister()) {
        if (operand.Register() != reg) Emit(ArmMovRegister(reg, operand.Register()));
    } else if (operand.IsImmediate()) {
        LoadImmediate(reg, operand.value);
    } else if (CheckDisplacement(operand)) {
        const uint32_t base = BaseRegister(operand, reg);
        Emit(ArmTransfer(true, operand.size, reg, base, operand.displacement));
    }
}

// The register holding the operand's value: its own, or scratch loaded.
uint32_t Assembler::ValueRegister(const Operand& operand, uint32_t scratch) {
    if (operand.IsRegister()) return operand.Register();
    LoadInto(operand, scratch);
    return scratch;
}

void Assembler::StoreFrom(uint32_t reg, const Operand& destination, uint32_t baseScratch) {
    if (!CheckDisplacement(destination)) return;
    const uint32_t base = BaseRegister(destination, baseScratch);
    Emit(ArmTransfer(false, destination.size, reg, base, destination.displacement));
}

// Scratch registers: a first operand's address taken from a local is in r9,
// a second operand's in r10; values pass through r10 (source) and r9, or r8
// when r9 holds the destination's address, so no scratch is overwritten
// while it is still needed.
void Assembler::EncodeMove(const Operand& destination, const Operand& source) {
    if (destination.IsImmediate()) {
        Error("Indexing is missing", statementToken_);
        return;
    }
    if (destination.IsRegister() && source.IsRegister()) {
        Emit(ArmMovRegister(destination.Register(), source.Register()));  // also mov r0, r0
        return;
    }
    if (destination.IsRegister()) {
        LoadInto(source, destination.Register());
        return;
    }
    const bool baseInR9 = destination.HasBaseRegister() && destination.Register() == kArmR9;
    uint32_t value;
    if (source.IsMemory())
        value = ValueRegister(source, kArmR10);
    else
        value = ValueRegister(source, baseInR9 ? kArmR8 : kArmR9);
    StoreFrom(value, destination, value == kArmR9 ? kArmR10 : kArmR9);
}

void Assembler::EmitOperation(Mnemonic kind, uint32_t d, const Operand& source, uint32_t sourceRegister,
                              uint32_t poolRegister) {
    using enum Mnemonic;
    auto operation = [kind] {
        switch (kind) {
        case Add: return ArmOperation::Add;
        case Sub: return ArmOperation::Sub;
        case And: return ArmOperation::And;
        case Or: return ArmOperation::Orr;
        case Xor: return ArmOperation::Eor;
        default: return ArmOperation::Cmp;
        }
    }();
    if (source.IsImmediate()) {
        const auto field = EncodeRotatedImmediate(source.value);
        if (field && kind != Mul && kind != Cmp) {
            Emit(ArmDataImmediate(operation, d, d, *field));
            return;
        }
        EmitReferenced(ArmPoolLoad(poolRegister, 0), source.value);
        if (kind == Mul)
            Emit(ArmMul(d, poolRegister, d));
        else
            Emit(ArmDataRegister(operation, kind == Cmp ? 0 : d, d, poolRegister));
        return;
    }
    if (kind == Mul)
        Emit(ArmMul(d, d, sourceRegister));  // the source in the Rs field
    else
        Emit(ArmDataRegister(operation, kind == Cmp ? 0 : d, d, sourceRegister));
}

void Assembler::EncodeArithmetic(Mnemonic kind, const Operand& destination, const Operand& source,
                                 const TokenNode* at) {
    if (kind == Mnemonic::Swp) {
        if (!destination.IsRegister() || !source.IsRegister()) {
            Error(source.IsMemory() || destination.IsMemory() ? "Invalid indexing type" : "Invalid register", at);
            return;
        }
        const uint32_t d = destination.Register();
        Emit(ArmSwp(d, d, source.Register()));
        return;
    }
    if (destination.IsImmediate()) {
        Error("Invalid register", at);
        return;
    }
    const uint32_t sourceRegister = source.IsMemory() ? ValueRegister(source, kArmR10)
                                    : source.IsRegister() ? source.Register() : 0;
    if (destination.IsRegister()) {
        EmitOperation(kind, destination.Register(), source, sourceRegister, kArmR8);
        return;
    }
    if (!CheckDisplacement(destination)) return;
    const uint32_t base = BaseRegister(destination, kArmR9);
    const uint32_t value = base == kArmR9 ? kArmR8 : kArmR9;
    Emit(ArmTransfer(true, destination.size, value, base, destination.displacement));
    EmitOperation(kind, value, source, sourceRegister, value == kArmR8 ? kArmR10 : kArmR8);
    if (kind != Mnemonic::Cmp) Emit(ArmTransfer(false, destination.size, value, base, destination.displacement));
}

// div, rol, ror: destination to r0, source to r1, call, r0 back. The moves
// are ordered (or staged through r10) so that no operand is read after its
// register was overwritten, and a destination address held in r0-r3, which
// the routine may change, is kept on the stack across the call.
void Assembler::EncodeRoutineStatement(AsmRoutine routine, const Operand& destination, const Operand& source) {
    if (destination.IsImmediate()) {
        Error("Invalid register", statementToken_);
        return;
    }
    const bool sourceReadsR0 = (source.IsRegister() || source.HasBaseRegister()) && source.Register() == 0;
    const bool sourceIsR1 = source.IsRegister() && source.Register() == 1;
    const bool staged = sourceReadsR0 && !(destination.IsRegister() && destination.Register() == 0) && !sourceIsR1;
    if (staged) LoadInto(source, kArmR10);
    // r0-r3 and the scratch registers are not kept across a routine call.
    const bool keepBase = destination.HasBaseRegister() && (destination.Register() <= 3 || destination.Register() == kArmR9);
    if (keepBase) Emit(ArmPushList(1u << destination.Register()));
    LoadInto(destination, 0);
    if (staged)
        Emit(ArmMovRegister(1, kArmR10));
    else
        LoadInto(source, 1);
    EmitRoutineCall(routine);
    if (destination.IsRegister()) {
        if (destination.Register() != 0) Emit(ArmMovRegister(destination.Register(), 0));
        return;
    }
    if (keepBase) {
        Emit(ArmPopList(1u << kArmR9));
        Operand stored = destination;
        stored.flags = (stored.flags & ~kRegisterFlags) | kFlagR9;
        StoreFrom(0, stored, kArmR9);
        return;
    }
    StoreFrom(0, destination, kArmR9);
}

void Assembler::EncodeNeg(const Operand& operand, const TokenNode* at) {
    if (operand.IsImmediate()) {
        Error("Invalid value", at);
        return;
    }
    if (operand.IsRegister()) {
        Emit(ArmMvnSelf(operand.Register()));
        return;
    }
    if (!CheckDisplacement(operand)) return;
    const uint32_t base = BaseRegister(operand, kArmR9);
    Emit(ArmTransfer(true, operand.size, kArmR10, base, operand.displacement));
    Emit(ArmMvnSelf(kArmR10));
    Emit(ArmTransfer(false, operand.size, kArmR10, base, operand.displacement));
}

void Assembler::EncodePush(const Operand& operand) {
    if (operand.IsRegister()) {
        Emit(ArmPushList(1u << operand.Register()));
        return;
    }
    LoadInto(operand, kArmR10);
    Emit(ArmPushList(1u << kArmR10));
}

void Assembler::EncodePop(const Operand& operand, const TokenNode* at) {
    if (operand.IsImmediate()) {
        Error("Indexing is missing", at);
        return;
    }
    if (operand.IsRegister()) {
        Emit(operand.Register() == kArmSp ? kArmPopSp : ArmPopList(1u << operand.Register()));
        return;
    }
    Emit(ArmPopList(1u << kArmR10));
    StoreFrom(kArmR10, operand, kArmR9);
}

// Loads r0 .. r(count-1) from the operands as one parallel move: the values
// are pushed last first and taken back with one load-multiple, so no
// operand is read after its register was written.
void Assembler::LoadRegistersThroughStack(const Operand* operands, int count) {
    for (int i = count - 1; i >= 0; --i) EncodePush(operands[i]);
    Emit(ArmPopList((1u << count) - 1));
}

// The double of an operand into the register pair low, low + 1: a register
// operand must be low itself (the double is there already), a memory operand
// gives two words, a number a pool constant.
void Assembler::LoadDouble(const Operand& operand, uint32_t low, const TokenNode* at) {
    const uint32_t high = low + 1;
    if (operand.IsRegister()) {
        if (operand.Register() != low) Error("Invalid register", at);
        return;
    }
    if (operand.IsImmediate()) {
        uint64_t bits = 0;
        std::memcpy(&bits, &operand.number, sizeof bits);
        LoadImmediate(low, static_cast<uint32_t>(bits));
        LoadImmediate(high, static_cast<uint32_t>(bits >> 32));
        return;
    }
    Operand second = operand;
    second.displacement += 4;
    if (!CheckDisplacement(operand) || !CheckDisplacement(second)) return;
    const uint32_t base = BaseRegister(operand, low);
    if (base == high) {
        Emit(ArmTransfer(true, ArmSize::Word, low, base, operand.displacement));
        Emit(ArmTransfer(true, ArmSize::Word, high, base, second.displacement));
    } else {
        Emit(ArmTransfer(true, ArmSize::Word, high, base, second.displacement));
        Emit(ArmTransfer(true, ArmSize::Word, low, base, operand.displacement));
    }
}

void Assembler::EmitHelperCall(uint32_t slotAddress) {
    Emit(kArmSaveR11R12);
    Emit(kArmLinkFromPc);
    EmitReferenced(ArmPoolLoad(15, 0), slotAddress);
    Emit(kArmLoadR11R12);
}

// --- statements --------------------------------------------------------------

void Assembler::SkipLine(const TokenNode* start) {
    while (token_ != nullptr && token_->line == start->line) Take();
}

void Assembler::Statement(const TokenNode* token) {
    const char* text = token->text;
    if (IsLabelToken(text)) {
        Take();
        EmitFramePushIfPending();
        DefineLabel(token);
        return;
    }
    if (IsHeadingToken(text)) {
        Take();
        EmitFramePushIfPending();
        OpenFunction(token);
        return;
    }
    const std::string word = Lower(text);
    if (word == "var") {
        Take();
        DeclareLocals(token);
        return;
    }
    EmitFramePushIfPending();
    afterLabel_ = false;
    if (word == "ret") {
        Take();
        Return(token);
        return;
    }
    const auto& table = MnemonicTable();
    auto entry = table.find(word);
    if (entry == table.end()) {
        Take();
        Error("Unknown operand error", token);
        SkipLine(token);
        return;
    }
    Take();
    statementToken_ = token;
    inStatement_ = true;
    statementWords_ = 0;
    statementOperands_.clear();
    if (options_.debugMode) EmitDebugLineHook(token);
    const bool done = OrdinaryStatement(token, entry->second);
    if (done) {
        lastWasRet_ = false;
        if (options_.profiling) EmitProfileStamp(token);
    }
    inStatement_ = false;
    statementToken_ = nullptr;
    if (options_.listing) ListStatement(word);
    if (!done) SkipLine(token);
}

// One line per word of the statement: "   %-10s %s", mnemonic and operands.
void Assembler::ListStatement(const std::string& mnemonic) {
    char line[600];
    std::snprintf(line, sizeof line, "   %-10s %.500s", mnemonic.c_str(), statementOperands_.c_str());
    for (uint32_t i = 0; i < statementWords_; ++i) List(line);
}

bool Assembler::OrdinaryStatement(const TokenNode* token, const MnemonicEntry& entry) {
    using enum Mnemonic;
    Operand first;
    Operand second;
    switch (entry.kind) {
    case Mov:
        if (!ParseTwo(first, second)) return false;
        EncodeMove(first, second);
        return true;
    case Add: case Sub: case Mul: case And: case Or: case Xor: case Cmp: case Swp:
        if (!ParseTwo(first, second)) return false;
        EncodeArithmetic(entry.kind, first, second, token);
        return true;
    case Div: case Rol: case Ror:
        if (!ParseTwo(first, second)) return false;
        EncodeRoutineStatement(static_cast<AsmRoutine>(entry.detail), first, second);
        return true;
    case Neg:
        if (!ParseOperand(0, first)) return false;
        EncodeNeg(first, token);
        return true;
    case Push:
        if (!ParseOperand(0, first)) return false;
        EncodePush(first);
        return true;
    case Pop:
        if (!ParseOperand(0, first)) return false;
        EncodePop(first, token);
        return true;
    case Pushad:
        EmitSave(kArmSaveList);
        return true;
    case Popad:
        EmitRestore(kArmSaveList);
        return true;
    case Popf:
        if (!ParseOperand(0, first)) return false;
        if (first.IsRegister()) {
            Error("Unsupported type", token);
            return false;
        }
        LoadInto(first, kArmR10);
        return true;
    case Jump: {
        const TokenNode* target = Take();
        if (target == nullptr) {
            Error("Syntax error", token);
            return false;
        }
        statementOperands_ = Upper(target->text);
        fixups_.push_back({cursor_, static_cast<ArmCondition>(entry.detail), false, prefix_ + Upper(target->text), target});
        const uint32_t at = cursor_;
        Emit(ArmBranch(static_cast<ArmCondition>(entry.detail), false, 0));
        if (cursor_ == at) fixups_.pop_back();
        return true;
    }
    case Call:
        return CallFunction(token, static_cast<ArmCondition>(entry.detail));
    case SaveSp:
        EmitSave(kArmSaveList);
        EmitRoutineCall(AsmRoutine::SaveSp);
        EmitRestore(kArmSaveList);
        return true;
    case QobPush: case QobPushStr:
        if (!ParseOperand(0, first)) return false;
        EmitSave(kArmSaveList);
        LoadInto(first, 0);
        EmitRoutineCall(AsmRoutine::AsmPushUnsigned);
        if (entry.kind == QobPushStr) EmitRoutineCall(AsmRoutine::Ptr);
        EmitRestore(kArmSaveList);
        return true;
    case QobPushDbl: {
        if (!ParseTwo(first, second)) return false;
        const Operand halves[2] = {first, second};
        EmitSave(kArmSaveList);
        LoadRegistersThroughStack(halves, 2);
        EmitRoutineCall(AsmRoutine::AsmPushDouble);
        EmitRestore(kArmSaveList);
        return true;
    }
    case QobPull:
        EmitSave(kArmSaveListKeepR0);
        EmitRoutineCall(AsmRoutine::AsmPopInt);
        EmitRestore(kArmSaveListKeepR0);
        return true;
    case Qob:
        return QobCall(token);
    case Debug:
        if (token_ != nullptr && IsTextToken(token_->text)) {
            if (!ParseDebugText(first)) return false;
        } else if (!ParseOperand(0, first)) {
            return false;
        }
        EmitSave(kArmSaveList);
        LoadInto(first, 0);
        EmitRoutineCall(first.text ? AsmRoutine::AsmLogString : AsmRoutine::AsmLogNumber);
        EmitRestore(kArmSaveList);
        return true;
    case Maths: case ToInt: {
        if (!ParseOperand(0, first)) return false;
        const auto routine = static_cast<AsmRoutine>(entry.detail);
        LoadDouble(first, routine == AsmRoutine::Atan2 ? 2 : 0, token);
        EmitRoutineCall(routine);
        return true;
    }
    case SetPixel: {
        Operand operands[3];
        if (!ParseTwo(operands[0], operands[1])) return false;
        if (!Is(token_, ",")) {
            Error("Comma missing", token_);
            return false;
        }
        Take();
        if (!ParseOperand(2, operands[2])) return false;
        EmitSave(kArmSaveList);
        LoadRegistersThroughStack(operands, 3);
        EmitRoutineCall(AsmRoutine::AsmSetPixel);
        EmitRestore(kArmSaveList);
        return true;
    }
    case GetPixel: {
        if (!ParseTwo(first, second)) return false;
        const Operand operands[2] = {first, second};
        EmitSave(kArmSaveListKeepR0);
        LoadRegistersThroughStack(operands, 2);
        EmitRoutineCall(AsmRoutine::AsmGetPixel);
        EmitRestore(kArmSaveListKeepR0);
        return true;
    }
    case BeginScene:
        EmitSave(kArmSaveListKeepR0);
        EmitRoutineCall(AsmRoutine::AsmBeginScene);
        EmitRestore(kArmSaveListKeepR0);
        return true;
    case Update:
        EmitSave(kArmSaveList);
        EmitRoutineCall(AsmRoutine::AsmUpdate);
        EmitRestore(kArmSaveList);
        return true;
    }
    return true;
}

// call: function ["(" operand {"," operand} ")"]
bool Assembler::CallFunction(const TokenNode* token, ArmCondition condition) {
    const TokenNode* target = Take();
    if (target == nullptr) {
        Error("Syntax error", token);
        return false;
    }
    const std::string callee = Upper(target->text);
    uint32_t arguments = 0;
    if (Is(token_, "(")) {
        Take();
        while (true) {
            Operand argument;
            if (!ParseOperand(1, argument)) return false;
            EncodePush(argument);
            ++arguments;
            if (Is(token_, ")")) break;
            if (!Is(token_, ",")) {
                Error("Syntax error", token_);
                return false;
            }
            Take();
        }
        Take();
    }
    statementOperands_ = arguments > 0 ? callee + "(" + statementOperands_ + ")" : callee;
    Emit(kArmLinkFromPc);
    const uint32_t at = cursor_;
    Emit(ArmBranch(condition, true, 0));
    if (cursor_ != at) fixups_.push_back({at, condition, true, Upper(target->text), target});
    if (options_.debugMode) EmitFramePop();
    if (arguments > 0) {
        // The pushed arguments are dropped whatever the condition was.
        Operand stackPointer;
        stackPointer.flags = kFlagSp;
        Operand amount;
        amount.flags = kFlagImmediate;
        amount.value = 4 * arguments;
        EncodeArithmetic(Mnemonic::Add, stackPointer, amount, token);
    }
    return true;
}

// debug "text": the text's "{expression}" groups are expanded once, now;
// the expanded text is kept under the block (AsmLogString logs it and keeps
// it), so a statement run many times logs the same live text each time.
bool Assembler::ParseDebugText(Operand& operand) {
    const TokenNode* token = Take();
    const std::string literal(UnquotedText(token->text));
    char* expanded = ExpandEmbeddedExpressions(literal.c_str());
    const char* kept = AddAsmString(base_, expanded != nullptr ? std::string_view(expanded) : std::string_view(literal));
    platform::FreeBlock(expanded);
    operand = Operand{};
    operand.flags = kFlagImmediate;
    operand.value = LowAddress(kept);
    operand.number = operand.value;
    operand.text = true;
    if (options_.listing) statementOperands_ = "(" + literal + ")";
    return true;
}

// qob: name. A built-in's handler is called directly; otherwise the QOB
// procedure of that name runs through RunProcedure (r1: its handle).
bool Assembler::QobCall(const TokenNode* token) {
    const TokenNode* name = Take();
    if (name == nullptr) {
        Error("Syntax error", token);
        return false;
    }
    statementOperands_ = name->text;
    const int index = FindFunctionByName(name->text);
    const FunctionRecord* record = index >= 0 ? FunctionRecordAt(index) : nullptr;
    if (record != nullptr && record->handler != nullptr) {
        const int32_t number = AsmHandlerRoutineNumber(record->handler);
        if (number < 0) {
            Error("Invalid value", name);
            return false;
        }
        EmitSave(kArmSaveList);
        EmitHelperCall(AsmRoutineSlotAddress(static_cast<uint32_t>(number)));
        EmitRestore(kArmSaveList);
        return true;
    }
    const Instruction* procedure = CurrentContext != nullptr ? FindProcedureByName(CurrentContext, name->text) : nullptr;
    if (procedure == nullptr) {
        Error("QOB function or proc/func not found", name);
        return false;
    }
    EmitSave(kArmSaveList);
    LoadImmediate(0, 0);
    LoadImmediate(1, AsmProcedureHandle(procedure));
    LoadImmediate(2, 0);
    EmitRoutineCall(AsmRoutine::RunProcedure);
    EmitRestore(kArmSaveList);
    return true;
}

void Assembler::DefineLabel(const TokenNode* token) {
    const std::string name = Upper(token->text + 1);
    if (name.empty()) {
        Error("Syntax error", token);
        return;
    }
    anyLabel_ = true;
    afterLabel_ = true;
    if (options_.listing) List(Upper(token->text));
    if (name == "MAIN") {
        main_ = cursor_;
        labels_["MAIN"] = cursor_;
        if (options_.debugMode) {
            framePushPending_ = true;
            frameName_ = AddAsmString(base_, "MAIN");
        }
        return;
    }
    labels_[prefix_ + name] = cursor_;
}

// heading: "!" name ["(" name {"," name} ")"]
void Assembler::OpenFunction(const TokenNode* token) {
    const std::string name = Upper(token->text + 1);
    if (name.empty()) {
        Error("Syntax error", token);
        return;
    }
    if (functionOpen_)
        Error("Cannot embbed two functions", token);
    else if (!lastWasRet_)
        Error("RET operator missing at end of function", token);
    if (options_.listing) List(Upper(token->text));
    if (reservePlace_ >= 0) WriteReservation(reserveToken_);
    ForgetLocals();
    prefix_ = name;
    labels_[name] = cursor_;
    functionOpen_ = true;
    anyLabel_ = true;
    afterLabel_ = true;
    role_ = "prologue";
    Emit(kArmFunctionSave);
    Emit(kArmFrameFromSp);
    role_ = nullptr;
    if (options_.debugMode) {
        framePushPending_ = true;
        frameName_ = AddAsmString(base_, name);
    }
    if (!Is(token_, "(") || token_->line != token->line) return;
    Take();
    std::vector<std::string> parameters;
    while (true) {
        const TokenNode* parameter = Take();
        if (parameter == nullptr || !std::isalpha(static_cast<unsigned char>(parameter->text[0]))) {
            Error("Syntax error", parameter);
            SkipLine(token);
            return;
        }
        parameters.push_back(Lower(parameter->text));
        if (Is(token_, ")")) break;
        if (!Is(token_, ",")) {
            Error("Syntax error", token_);
            SkipLine(token);
            return;
        }
        Take();
    }
    Take();
    const auto count = static_cast<int32_t>(parameters.size());
    for (int32_t i = 0; i < count; ++i)
        locals_[parameters[i]] = {4 * (count - i) + 4, AddAsmString(base_, parameters[i])};
}

// var-line: "var" name {"," name}
void Assembler::DeclareLocals(const TokenNode* token) {
    if (!anyLabel_) {
        Error("Local variable declaration must be inside a label or a function", token);
        SkipLine(token);
        return;
    }
    if (!afterLabel_) {
        Error("Invalid VAR operator location", token);
        SkipLine(token);
        return;
    }
    if (reservePlace_ < 0) {
        reservePlace_ = cursor_;
        reserveToken_ = token;
        Emit(ArmDataImmediate(ArmOperation::Sub, kArmSp, kArmSf, 0));
        if (cursor_ == reservePlace_) reservePlace_ = -1;
    }
    while (true) {
        const TokenNode* name = token_;
        if (name == nullptr || name->line != token->line ||
            !std::isalpha(static_cast<unsigned char>(name->text[0]))) {
            Error("Syntax error", name != nullptr && name->line == token->line ? name : token);
            SkipLine(token);
            return;
        }
        Take();
        const std::string lowered = Lower(name->text);
        ++localCount_;
        locals_[lowered] = {-4 * static_cast<int32_t>(localCount_), AddAsmString(base_, lowered)};
        if (token_ == nullptr || token_->line != token->line) return;
        if (!Is(token_, ",")) {
            Error("Syntax error", token_);
            SkipLine(token);
            return;
        }
        Take();
    }
}

// The word that reserves the locals: sp = sf - 4 x locals, which leaves sp
// where it was when it runs again on a loop.
void Assembler::WriteReservation(const TokenNode* at) {
    const auto field = EncodeRotatedImmediate(4 * localCount_);
    if (!field) {
        Error("Invalid value", at);
        return;
    }
    Patch(static_cast<uint32_t>(reservePlace_), ArmDataImmediate(ArmOperation::Sub, kArmSp, kArmSf, *field));
}

void Assembler::ForgetLocals() {
    locals_.clear();
    localCount_ = 0;
    reservePlace_ = -1;
    reserveToken_ = nullptr;
}

void Assembler::Return(const TokenNode* token) {
    if (!functionOpen_) {
        Error("Misplaced RET operator", token);
        return;
    }
    if (reservePlace_ >= 0) WriteReservation(reserveToken_);
    ForgetLocals();
    role_ = "ret";
    Emit(kArmSpFromFrame);
    Emit(kArmFunctionReturn);
    role_ = nullptr;
    functionOpen_ = false;
    lastWasRet_ = true;
    prefix_.clear();
}

// --- hooks -------------------------------------------------------------------

// The calling procedure's file for the hooks: its name part when the file
// exists, else the name as given, lower-cased; "<null>" without one.
const char* Assembler::HookFileName() {
    if (hookFile_ != nullptr) return hookFile_;
    std::string name = "<null>";
    if (options_.sourceFile != nullptr) {
        std::string_view path(options_.sourceFile);
        name = path;
        if (platform::FileExists(path)) {
            const size_t cut = path.find_last_of("\\/");
            if (cut != std::string_view::npos) name = path.substr(cut + 1);
        }
        name = Lower(name);
    }
    hookFile_ = AddAsmString(base_, name);
    return hookFile_;
}

// Stores the locals' values and names, at most 128 of them, and their
// count into the debugger register block (r10 holds its address).
void Assembler::StoreLocalsForDebugger() {
    std::vector<std::pair<int32_t, const char*>> stored;
    for (const auto& [name, local] : locals_)
        if (local.offset < 0) stored.emplace_back(local.offset, local.debugName);
    std::sort(stored.begin(), stored.end(), [](auto a, auto b) { return a.first > b.first; });
    if (stored.size() > kAsmMaxDebugLocals) stored.resize(kAsmMaxDebugLocals);
    for (size_t k = 0; k < stored.size(); ++k) {
        const auto slot = static_cast<int32_t>(4 * k);
        Emit(ArmTransfer(true, ArmSize::Word, kArmR9, kArmSf, stored[k].first));
        Emit(ArmTransfer(false, ArmSize::Word, kArmR9, kArmR10, 4 * kAsmRegisterBlockValues + slot));
        LoadImmediate(kArmR9, LowAddress(stored[k].second));
        Emit(ArmTransfer(false, ArmSize::Word, kArmR9, kArmR10, 4 * kAsmRegisterBlockNames + slot));
    }
    LoadImmediate(kArmR9, static_cast<uint32_t>(stored.size()));
    Emit(ArmTransfer(false, ArmSize::Word, kArmR9, kArmR10, 4 * kAsmRegisterBlockCount));
}

// Before a statement in debug mode: registers and locals to the register
// block, then DebugLineHook(0, line, file); flags and registers kept.
void Assembler::EmitDebugLineHook(const TokenNode* token) {
    EmitSave(kArmSaveList);
    LoadImmediate(kArmR10, AsmRegisterBlockAddress());
    for (uint32_t reg = 0; reg < 4; ++reg) Emit(ArmTransfer(false, ArmSize::Word, reg, kArmR10, static_cast<int32_t>(4 * reg)));
    Emit(ArmTransfer(false, ArmSize::Word, kArmSf, kArmR10, 16));
    Emit(ArmDataImmediate(ArmOperation::Add, kArmR9, kArmSp, 28));  // sp before the save
    Emit(ArmTransfer(false, ArmSize::Word, kArmR9, kArmR10, 20));
    StoreLocalsForDebugger();
    LoadImmediate(0, 0);
    LoadImmediate(1, static_cast<uint32_t>(token->line + options_.lineOffset));
    LoadImmediate(2, LowAddress(HookFileName()));
    EmitRoutineCall(AsmRoutine::DebugLineHook);
    EmitRestore(kArmSaveList);
}

void Assembler::EmitProfileStamp(const TokenNode* token) {
    EmitSave(kArmSaveList);
    LoadImmediate(0, static_cast<uint32_t>(token->line));
    LoadImmediate(1, LowAddress(HookFileName()));
    EmitRoutineCall(AsmRoutine::ProfileStamp);
    EmitRestore(kArmSaveList);
}

// Debug mode: one frame record per function entry (and one for MAIN),
// pushed once its var lines are done.
void Assembler::EmitFramePushIfPending() {
    if (!framePushPending_) return;
    framePushPending_ = false;
    role_ = "debug frame";
    EmitSave(kArmSaveList);
    LoadImmediate(kArmR10, AsmRegisterBlockAddress());
    StoreLocalsForDebugger();
    LoadImmediate(0, 0);
    LoadImmediate(1, LowAddress(frameName_));
    EmitRoutineCall(AsmRoutine::AsmDebugFramePush);
    EmitRestore(kArmSaveList);
    role_ = nullptr;
}

void Assembler::EmitFramePop() {
    EmitSave(kArmSaveList);
    LoadImmediate(0, 0);
    EmitRoutineCall(AsmRoutine::AsmDebugFramePop);
    EmitRestore(kArmSaveList);
}

// --- end of the block ----------------------------------------------------------

void Assembler::ResolveLabels() {
    for (const Fixup& fixup : fixups_) {
        auto label = labels_.find(fixup.name);
        if (label == labels_.end()) {
            char message[96];
            std::snprintf(message, sizeof message, "Label (%.60s) not found!", fixup.name.c_str());
            Error(message, fixup.token);
            continue;
        }
        const int32_t offset = (static_cast<int32_t>(label->second) - static_cast<int32_t>(fixup.at)) / 4 - 2;
        Patch(fixup.at, ArmBranch(fixup.condition, fixup.link, offset));
    }
    fixups_.clear();
}

// Lays out the value pool after the code (the last reference first; equal
// values share a word) and fills the four words that load its address A
// into r11.
void Assembler::EmitLoadR11() {
    const uint32_t pool = base_ + cursor_;
    Patch(kR11Place, 0xE3A0B400u | pool >> 24);
    Patch(kR11Place + 4, 0xE38BB800u | (pool >> 16 & 0xFF));
    Patch(kR11Place + 8, 0xE38BBC00u | (pool >> 8 & 0xFF));
    Patch(kR11Place + 12, 0xE38BB000u | (pool & 0xFF));
    std::unordered_map<uint32_t, uint32_t> words;  // value -> offset in the pool
    const uint32_t poolStart = cursor_;
    bool tooMany = false;
    for (auto reference = references_.rbegin(); reference != references_.rend(); ++reference) {
        auto word = words.find(reference->value);
        if (word == words.end()) {
            const uint32_t offset = cursor_ - poolStart;
            if (offset / 4 >= kMaxPoolWords) {
                if (!tooMany) Error("Too many reference values in assembly code!", nullptr);
                tooMany = true;
                continue;
            }
            role_ = "pool";
            Emit(reference->value);
            role_ = nullptr;
            if (cursor_ == poolStart + offset) continue;
            word = words.emplace(reference->value, offset).first;
        }
        Patch(reference->at, WordAt(reference->at) | word->second);
    }
    references_.clear();
}

bool Assembler::Run(const TokenNode* first) {
    role_ = "entry";
    Emit(kArmEntrySave);
    Emit(kArmFrameFromSp);
    for (uint32_t reg = 0; reg < 4; ++reg) Emit(ArmMovImmediate(reg, 0));
    for (int i = 0; i < 5; ++i) Emit(0);  // the r11 load and the jump to MAIN
    role_ = nullptr;
    token_ = first;
    while (token_ != nullptr) Statement(token_);
    EmitFramePushIfPending();
    if (functionOpen_) Error("RET operator missing at end of function", nullptr);
    if (reservePlace_ >= 0) WriteReservation(reserveToken_);
    role_ = "exit";
    if (options_.debugMode && main_) EmitFramePop();
    Emit(kArmSpFromFrame);
    Emit(kArmEntryReturn);
    role_ = nullptr;
    if (!main_) {
        Error("No main entry point defined!", nullptr);
    } else if (cursor_ > kMainJumpPlace) {
        const uint32_t end = cursor_;
        cursor_ = kMainJumpPlace;
        const bool listing = options_.listing;
        options_.listing = false;  // listed with the entry already
        EmitReferenced(ArmPoolLoad(15, 0), base_ + *main_);
        options_.listing = listing;
        cursor_ = end;
    }
    ResolveLabels();
    codeBytes_ = cursor_;
    EmitLoadR11();
    if (options_.listing) {
        char line[64];
        std::snprintf(line, sizeof line, ":Total bytes generated: %u", cursor_);
        List(line);
    }
    return !failed_;
}

// The block base for each page-aligned block: the allocation it lies in.
std::unordered_map<uint32_t, void*>& BlockAllocations() {
    static std::unordered_map<uint32_t, void*> allocations;
    return allocations;
}

}  // namespace

uint32_t NumberToWord32(double value) {
    if (!std::isfinite(value)) return 0;
    double whole = std::trunc(value);
    if (std::fabs(whole) >= 9223372036854775808.0) whole = std::fmod(whole, 4294967296.0);
    return static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(whole)));
}

AsmResult AssembleCode(int32_t size, const TokenNode* first, const AsmOptions& options) {
    AsmResult result;
    // Whole pages past the aligned base belong to the block, so that marking
    // its pages executable touches nothing else.
    const size_t pages = (static_cast<size_t>(size) + kPageSize - 1) & ~size_t{kPageSize - 1};
    void* allocation = size > 0 && static_cast<uint32_t>(size) <= platform::kMaxBlockSize - 2 * kPageSize
                           ? platform::AllocateZeroedBlock(pages + kPageSize)
                           : nullptr;
    if (allocation == nullptr) {
        ReportCompileMessage(nullptr, "Buffer size too small!", nullptr, -1, false);
        RemoveDefinesByOwner(0);
        return result;
    }
    const uintptr_t aligned = (reinterpret_cast<uintptr_t>(allocation) + kPageSize - 1) & ~uintptr_t{kPageSize - 1};
    auto* block = reinterpret_cast<uint8_t*>(aligned);
    result.base = LowAddress(block);
    BlockAllocations()[result.base] = allocation;
    Assembler assembler(block, static_cast<uint32_t>(size), options);
    result.failed = !assembler.Run(first);
    result.codeBytes = assembler.CodeBytes();
    result.totalBytes = assembler.TotalBytes();
    RemoveDefinesByOwner(0);
    return result;
}

AsmResult AssembleSource(int32_t size, std::string_view source, AsmOptions options) {
    const int errorsBefore = GetCompileMessageState().errorCount;
    PreprocessorState& state = GetPreprocessorState();
    state.assemblerMode = true;
    state.deasmSeen = false;
    TokenNode* last = PreprocessFile(nullptr, source, nullptr, true, 0);
    state.assemblerMode = false;
    options.listing = options.listing || state.deasmSeen;
    state.deasmSeen = false;
    const bool tokenizerFailed = GetCompileMessageState().errorCount != errorsBefore;
    AsmResult result = AssembleCode(size, last != nullptr ? TokenListFirst(last) : nullptr, options);
    result.failed = result.failed || tokenizerFailed;
    FreeTokenList(last);
    return result;
}

void FreeAsmBlock(uint32_t base) {
    RemoveAsmStrings(base);
    FreeAsmBlockMemory(base);
}

bool IsAsmBlock(uint32_t base) { return BlockAllocations().count(base) != 0; }

void FreeAsmBlockMemory(uint32_t base) {
    auto& allocations = BlockAllocations();
    auto found = allocations.find(base);
    if (found == allocations.end()) return;
    platform::FreeBlock(found->second);
    allocations.erase(found);
}

}  // namespace qob
