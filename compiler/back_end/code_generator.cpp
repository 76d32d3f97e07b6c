// compiler/back_end/code_generator.cpp
// One forward walk over the postfix stream: every token becomes zero or more
// instruction nodes; calls and procedure addresses are resolved by name.
#include "compiler/back_end/code_generator.h"

#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "compiler/back_end/control_statements.h"
#include "compiler/back_end/node_emitter.h"
#include "compiler/back_end/optimizer.h"
#include "compiler/back_end/procedure_index.h"
#include "compiler/compiled_file/compiled_file.h"
#include "compiler/front_end/stream_kinds.h"
#include "compiler/front_end/token_list.h"
#include "platform/memory.h"
#include "runtime/data/hash.h"
#include "runtime/data/number_text.h"
#include "runtime/registry/function_table.h"
#include "runtime/registry/keywords.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/vm.h"

namespace qob {
namespace {

constexpr int kMaxNativeArguments = 16;
constexpr uint32_t kClassOpcode = 183;  // a class declaration: base name, then a node with the class name
constexpr uint32_t kClass2Hash = HashNameConstant("__CLASS2");
constexpr uint32_t kClass3Hash = HashNameConstant("__CLASS3");
constexpr uint32_t kSetPushHash = HashNameConstant("__SET_PUSH");
constexpr const char* kStackObject = "STACK";
constexpr const char* kStackTempObject = "__STACKTEMPOBJECT$";

// What a node does to the value stack, as far as the generator can tell.
struct StackEffect {
    enum class Kind { Values, OpenFrames, CloseFrame, Unknown } kind = Kind::Unknown;
    int pops = 0;
    int pushes = 0;  // OpenFrames: how many frames

    static StackEffect Values(int pops, int pushes) { return {Kind::Values, pops, pushes}; }
    static StackEffect Frames(int count) { return {Kind::OpenFrames, 0, count}; }
    static StackEffect CloseFrame(int pushes) { return {Kind::CloseFrame, 0, pushes}; }
    static StackEffect Unknown() { return {}; }
};

// A variable push that a following "=", compound assignment, "++", "--" or
// index may take over by name (deleting the push). It is good only while
// every value pushed above it is still there and, when the consumer comes,
// exactly the consumer's operands lie above it; any node that might reach
// down to it makes it forgotten, and then the generic form is compiled.
struct RememberedPush {
    Instruction* node = nullptr;
    uint64_t serial = 0;       // emission order, to tell which of two came first
    int above = 0;             // values pushed above it since
    std::vector<int> frames;   // argument frames opened above it: `above` when each opened

    void Remember(Instruction* pushed, uint64_t order) {
        node = pushed;
        serial = order;
        above = 0;
        frames.clear();
    }
    void Forget() {
        node = nullptr;
        frames.clear();
    }
    void Apply(const StackEffect& effect) {
        if (!node) return;
        switch (effect.kind) {
            case StackEffect::Kind::Values:
                if (effect.pops > above) return Forget();
                above += effect.pushes - effect.pops;
                while (!frames.empty() && frames.back() > above) frames.pop_back();
                return;
            case StackEffect::Kind::OpenFrames: return OpenFrames(effect.pushes);
            case StackEffect::Kind::CloseFrame:
                if (frames.empty()) return Forget();  // the frame holds the remembered push
                above = frames.back() + effect.pushes;
                frames.pop_back();
                return;
            case StackEffect::Kind::Unknown: return Forget();
        }
    }
    // Out of Apply, which runs for nearly every node while a push is
    // remembered: the vector's growth would make every call save registers.
    [[gnu::noinline]] void OpenFrames(int count) {
        for (int i = 0; i < count; ++i) frames.push_back(above);
    }
    // Whether exactly `operands` values (and no open frame) lie above it.
    [[nodiscard]] bool HasOperands(int operands) const { return node && above == operands && frames.empty(); }
};

bool IsBinaryOperator(uint32_t hash) {
    switch (hash) {
        case HashNameConstant("+"): case HashNameConstant("-"): case HashNameConstant("*"):
        case HashNameConstant("/"): case HashNameConstant("%"): case HashNameConstant("&"):
        case HashNameConstant("|"): case HashNameConstant("^"): case HashNameConstant("<"):
        case HashNameConstant(">"): case HashNameConstant(">="): case HashNameConstant("<="):
        case HashNameConstant("=="): case HashNameConstant("<>"): case HashNameConstant(">>"):
        case HashNameConstant("<<"): case HashNameConstant("AND"): case HashNameConstant("OR"):
        case HashNameConstant("XOR"): case HashNameConstant("MOD"): case HashNameConstant("DIV"):
        case HashNameConstant("ASL"): case HashNameConstant("ASR"): case HashNameConstant("SHL"):
        case HashNameConstant("SHR"): return true;
        default: return false;
    }
}

bool IsUnaryOperator(uint32_t hash) { return hash == HashNameConstant("~") || hash == HashNameConstant("@"); }

bool IsDeclarationKeyword(uint32_t hash) {
    switch (hash) {
        case KeywordHashes[Keyword::Global]:
        case KeywordHashes[Keyword::Local]:
        case KeywordHashes[Keyword::ForceGlobal]:
        case KeywordHashes[Keyword::Public]:
        case KeywordHashes[Keyword::Private]: return true;
        default: return false;
    }
}

// The bytes a name of the function table may start with: the letters of the
// "C" locale the process keeps, "_", the operator characters, and the
// terminator of an empty text (as strchr finds it in the operator list).
constexpr std::array<bool, 256> kNameStarts = [] {
    std::array<bool, 256> starts{};
    for (int c = 'A'; c <= 'Z'; ++c) starts[static_cast<size_t>(c)] = starts[static_cast<size_t>(c - 'A' + 'a')] = true;
    for (const char c : std::string_view("+-/*@^&|~_:%!=<>")) starts[static_cast<unsigned char>(c)] = true;
    starts[0] = true;
    return starts;
}();

bool CanStartName(unsigned char c) { return kNameStarts[c]; }

// text has length characters; "%" alone is the operator.
bool IsVariableText(const char* text, size_t length) {
    if (length == 0 || (length == 1 && text[0] == '%')) return false;
    return text[length - 1] == '$' || text[length - 1] == '%';
}

// ASCII letters only: bytes from 0x80 are left as they are. Returns the
// text's length, which the walk finds anyway.
// Runs for every token: taken into the caller.
[[gnu::always_inline]] inline size_t UpperCaseInPlace(TokenNode* token) {
    char* const text = token->text;
    bool changed = false;
    size_t length = 0;
    for (char c; (c = text[length]) != '\0'; ++length) {
        if (static_cast<unsigned char>(c - 'a') < 26) {
            text[length] = static_cast<char>(c - 'a' + 'A');
            changed = true;
        }
    }
    if (changed) token->hash = HashName(text, length);
    return length;
}

// A number token's value. Whole decimal numbers of up to 15 digits (nearly
// every number of a program) are exact in a double and read here, as the
// general reading would read them; any other form goes to it.
double ReadNumberToken(const char* text) {
    constexpr int kMaxExactDigits = 15;
    uint64_t value = 0;
    int digits = 0;
    for (; digits <= kMaxExactDigits && text[digits] >= '0' && text[digits] <= '9'; ++digits)
        value = value * 10 + static_cast<uint64_t>(text[digits] - '0');
    if (text[digits] != '\0' || digits == 0 || digits > kMaxExactDigits) return StringToNumber(text);
    ConversionFailedFlag = 0;
    return static_cast<double>(value);
}

// A text the generator keeps: the token's text without surrounding quotes.
std::string Unquoted(const char* text) {
    const size_t length = std::strlen(text);
    if (length >= 2 && text[0] == '"' && text[length - 1] == '"') return std::string(text + 1, length - 2);
    return text;
}

char* CopyToBlock(std::string_view text) {
    auto* copy = static_cast<char*>(platform::AllocateBlock(text.size() + 1));
    if (!copy) throw std::bad_alloc();
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

class CodeGenerator {
public:
    CodeGenerator(const char* fileName, ProgramContext* context, std::span<ProcedureRecord*> procedures,
                  int32_t& procedureCount, const CodeGenOptions& options)
        : fileName_(fileName ? fileName : ""), context_(context), table_(procedures), count_(procedureCount),
          options_(options), control_(emit_) {
        emit_.pool = CurrentCompilerPool;
        emit_.fileName = fileName;
        if (options_.optimize)
            optimizer_ = std::make_unique<ListOptimizer>(emit_.pool, &NodeEmitter::RecycleNode, &emit_);
        for (int32_t i = 0; i < count_ && i < static_cast<int32_t>(table_.size()); ++i)
            if (table_[static_cast<size_t>(i)]) index_.Add(table_[static_cast<size_t>(i)], i);
        // The list is newest first: the first record of a name is the one in force.
        for (ClassRecord* record = context_->classRecords; record; record = record->next)
            classes_.emplace(record->nameHash, record);
    }

    Instruction* Run(TokenNode* lastToken, GeneratedEntry& entry) {
        const TokenListHead head = FindTokenListHead(lastToken);
        TokenNode* token = head.first;
        const int total = options_.progress ? head.count : 0;
        if (options_.progress) options_.progress(StageProgressText("Compiling", fileName_).c_str(), 0, total);
        Instruction* first = emit_.EmitPlain(Opcode::None, fileName_);
        int position = 0;
        int64_t nextReport = options_.progress ? 0 : INT64_MAX;
        while (token) {
            TokenNode* stop = CompileToken(token)->next;
            while (token != stop) {
                token = token->next;
                if (++position >= nextReport) nextReport = options_.progress(nullptr, position, total);
            }
        }
        // The stream is read: it goes as a whole (nothing else takes its
        // nodes' memory meanwhile), mostly without a walk over it.
        FreeWholeTokenList(head.first, head.count);
        emit_.token = nullptr;
        emit_.EmitPlain(Opcode::ENDPROC, fileName_);
        control_.CheckAllClosed();
        if (!entry_ && count_ == 0 && options_.firstNodeEntry) entry_ = first;
        ResolveAddresses();
        if (optimizer_) {
            optimizer_->Finish(first, fileName_, options_.progress, emit_.nodeCount);
            RememberListOrder(optimizer_->TakeOrder());
        }
        entry.entry = entry_;
        entry.isWinMain = winMain_;
        context_->entry = entry_;
        context_->entryIsWinMain = winMain_ ? 1 : 0;
        return first;
    }

private:
    // Compiles one token; returns the last token it used (itself, or a
    // following one it took as an operand).
    [[gnu::always_inline]] TokenNode* CompileToken(TokenNode* token) {
        emit_.token = token;
        const size_t length = token->text[0] != '"' ? UpperCaseInPlace(token) : 0;
        const char* text = token->text;
        const uint32_t hash = token->hash;
        const unsigned char first = static_cast<unsigned char>(text[0]);

        if (first >= '0' && first <= '9') {
            emit_.Emit(Opcode::PUSHINT, nullptr, ReadNumberToken(text));
            return Track(token);
        }
        if (first == '"') {
            emit_.Emit(Opcode::PUSHSTR, Unquoted(text).c_str());
            return Track(token);
        }
        if (IsVariableText(text, length)) return CompileVariable(token, length);
        // Most tokens are none of the words below: a switch sorts them out in a few compares.
        switch (hash) {
            case KeywordHashes[Keyword::DirectiveNamespace]: return OpenNamespace(token);
            case KeywordHashes[Keyword::DirectiveEndNamespace]: return CloseNamespace(token);
            case KeywordHashes[Keyword::ScopeSeparator]: return ScopeNextName(token);
            default: break;
        }
        if (ControlStatements::MayCompile(hash, text) && control_.Compile(token)) {
            ForgetPushes();
            if (optimizer_ && openStart_ && !control_.CurrentProcedure()) OptimizeClosedProcedure();
            return token;
        }
        switch (hash) {
            case KeywordHashes[Keyword::Return]: return CompileReturn(token);
            case KeywordHashes[Keyword::VarAddr]:
                assignTarget_.Forget();
                emit_.Emit(Opcode::ADDR);
                return Track(token, StackEffect::Values(1, 1));
            case KeywordHashes[Keyword::EndDecl]: declarationList_ = false; return token;
            case KeywordHashes[Keyword::EndDecl2]:
                declarationList_ = false;
                emit_.Emit(Opcode::NPARMS);
                return Track(token, StackEffect::Unknown());
            case KeywordHashes[Keyword::DirectiveRangeCheck]:
                context_->rangeCheck = 1;
                emit_.Emit(Opcode::RANGEMODE);
                return Track(token, StackEffect::Unknown());
            case KeywordHashes[Keyword::DirectiveExplicit]:
                context_->explicitDeclarations = 1;
                emit_.Emit(Opcode::EXPLICITMODE);
                return Track(token, StackEffect::Unknown());
            case KeywordHashes[Keyword::DirectiveDeclare]:
            case KeywordHashes[Keyword::DirectiveDeclareApi]:
            case KeywordHashes[Keyword::DirectiveCDeclare]:
            case KeywordHashes[Keyword::DirectiveCDeclareApi]: return CompileDeclare(token);
            case KeywordHashes[Keyword::DirectiveClass]: return CompileClass(token);
            case KeywordHashes[Keyword::Noop]: return token;
            default: break;
        }
        if (first == '.') {
            emit_.Emit(Opcode::RUNFILE, text + 1);
            return Track(token, StackEffect::Unknown());
        }
        if (first == '&' && hash != KeywordHashes[Keyword::Ampersand] && hash != KeywordHashes[Keyword::AndAssign])
            return CompileProcedureAddress(token);
        if (first == kCallProcedure) return CompileCall(token);
        if (first == kCallSelf || first == kCallInherited) return CompileSelfCall(token, first == kCallInherited);
        if (first == kCallObject) return CompileObjectCall(token);
        if (IsDefinitionHeaderKind(first)) return CompileHeader(token);
        if (IsForwardHeaderKind(first)) return CompileForward(token);
        if (!CanStartName(first)) {
            emit_.Error("Syntax error");
            return token;
        }
        return CompileName(token);
    }

    // --- values ----------------------------------------------------------------------

    // Notes what the node just emitted for the token does to the stack.
    [[gnu::always_inline]] TokenNode* Track(TokenNode* token, StackEffect effect = StackEffect::Values(0, 1)) {
        ++serial_;
        // Mostly nothing is remembered: no call then.
        if (assignTarget_.node) assignTarget_.Apply(effect);
        if (plainPush_.node) plainPush_.Apply(effect);
        return token;
    }

    void ForgetPushes() {
        assignTarget_.Forget();
        plainPush_.Forget();
    }

    // length: the token text's.
    [[gnu::always_inline]] TokenNode* CompileVariable(TokenNode* token, size_t length) {
        const uint8_t kind = TextKind(token->text);
        const bool marked = kind == kAssignTarget || kind == kModifiedVariable;
        const std::string_view name = marked ? std::string_view(token->text + 1, length - 1)
                                             : std::string_view(token->text, length);
        if (declarationList_) {
            emit_.EmitText(Opcode::PARMSPUSHVAR, name);
            Track(token, StackEffect::Values(1, 0));
        } else if (kind == kAssignTarget) {
            Instruction* push = emit_.EmitText(Opcode::NGPUSHVAR, name);
            Track(token);
            assignTarget_.Remember(push, serial_);
        } else {
            Instruction* push = emit_.EmitText(Opcode::PUSHVAR, name);
            Track(token);
            if (kind == kModifiedVariable) plainPush_.Remember(push, serial_);
        }
        EndScopedName();
        return token;
    }

    // --- namespaces ------------------------------------------------------------------

    TokenNode* OpenNamespace(TokenNode* token) {
        namespaces_.push_back(CurrentNamespaceHash);
        if (!token->next) return token;
        UpperCaseInPlace(token->next);
        CurrentNamespaceHash = token->next->hash;
        return token->next;
    }

    TokenNode* CloseNamespace(TokenNode* token) {
        CurrentNamespaceHash = namespaces_.empty() ? 0 : namespaces_.back();
        if (!namespaces_.empty()) namespaces_.pop_back();
        return token;
    }

    // "::" NAME: the namespace NAME holds for the next variable push or call.
    TokenNode* ScopeNextName(TokenNode* token) {
        if (!token->next) return token;
        UpperCaseInPlace(token->next);
        if (!scopedName_) outerNamespace_ = CurrentNamespaceHash;
        scopedName_ = true;
        CurrentNamespaceHash = token->next->hash;
        return token->next;
    }

    void EndScopedName() {
        if (!scopedName_) return;
        scopedName_ = false;
        CurrentNamespaceHash = outerNamespace_;
    }

    // --- statements with their own nodes -----------------------------------------------

    TokenNode* CompileReturn(TokenNode* token) {
        // Outside a procedure RETURN ends the unit's own run (a unit without
        // procedures runs from its first node).
        Instruction* procedure = control_.CurrentProcedure();
        const char* header = procedure ? procedure->text : fileName_;
        emit_.Emit(Opcode::RETURN, header);
        return Track(token, StackEffect::Unknown());
    }

    // #DECLARE name entry library count result: a group of seven data nodes
    // for the compiled file, and the function's record.
    TokenNode* CompileDeclare(TokenNode* token) {
        const uint32_t hash = token->hash;
        TokenNode* operands[5] = {};
        TokenNode* last = token;
        for (TokenNode*& operand : operands) {
            if (!last->next) {
                emit_.Error("Syntax error");
                return last;
            }
            operand = last = last->next;
        }
        Opcode opcode = Opcode::DECLARE;
        if (hash == KeywordHashes[Keyword::DirectiveDeclareApi]) opcode = Opcode::DECLAREAPI;
        if (hash == KeywordHashes[Keyword::DirectiveCDeclare]) opcode = Opcode::C_DECLARE;
        if (hash == KeywordHashes[Keyword::DirectiveCDeclareApi]) opcode = Opcode::C_DECLAREAPI;
        const bool wide = opcode == Opcode::DECLAREAPI || opcode == Opcode::C_DECLAREAPI;
        const bool direct = opcode == Opcode::DECLARE || opcode == Opcode::DECLAREAPI;
        UpperCaseInPlace(operands[0]);
        const std::string name = Unquoted(operands[0]->text);
        const std::string entryName = Unquoted(operands[1]->text);
        const std::string library = Unquoted(operands[2]->text);
        const double count = StringToNumber(operands[3]->text);
        const double result = StringToNumber(operands[4]->text);

        emit_.Emit(opcode, name.c_str());
        emit_.EmitPlain(Opcode::None, entryName.c_str());
        emit_.EmitPlain(Opcode::None, library.c_str());
        emit_.EmitPlain(Opcode::None, nullptr, count);
        emit_.EmitPlain(Opcode::None, nullptr, static_cast<double>(static_cast<int64_t>(result)));
        emit_.EmitPlain(Opcode::None, nullptr, wide ? 1.0 : 0.0);
        emit_.EmitPlain(Opcode::None, nullptr, direct ? 1.0 : 0.0);
        ForgetPushes();

        const bool resultCallable = result == 0.0 || result == 1.0;
        const int arguments = DeclaredArgumentCount(count);
        ReportUncallableNative(name, arguments, resultCallable, static_cast<int>(result));
        const int index = DeclareDllFunction(name, entryName, library, static_cast<uint8_t>(arguments), result != 0.0,
                                             wide, direct);
        if (index >= 0 && resultCallable) uncallableResults_.erase(index);
        if (index >= 0 && !resultCallable) uncallableResults_[index] = static_cast<int>(result);
        return last;
    }

    // A native function is called through one of the CALLP0..CALLF16 family;
    // beyond 16 arguments or with another result kind there is no opcode.
    void ReportUncallableNative(const std::string& name, int arguments, bool resultCallable, int result) {
        if (arguments > kMaxNativeArguments)
            emit_.Error("Native function \"" + name + "\" takes " + std::to_string(arguments) +
                        " arguments: at most 16 can be passed");
        if (!resultCallable)
            emit_.Error("Native function \"" + name + "\" has result kind " + std::to_string(result) +
                        ": only 0 (none) and 1 (a value) can be called");
    }

    // #CLASS base name: a class record at the head of the context's list,
    // and two nodes for the compiled file.
    TokenNode* CompileClass(TokenNode* token) {
        TokenNode* baseToken = token->next;
        TokenNode* nameToken = baseToken ? baseToken->next : nullptr;
        if (!nameToken) {
            emit_.Error("Syntax error");
            return baseToken ? baseToken : token;
        }
        UpperCaseInPlace(baseToken);
        UpperCaseInPlace(nameToken);
        const std::string base = Unquoted(baseToken->text);
        const std::string name = Unquoted(nameToken->text);
        const uint32_t nameHash = HashName(name.data(), name.size());
        const uint32_t baseHash = base.empty() ? 0 : HashName(base.data(), base.size());
        if (!base.empty() && InheritsFrom(baseHash, nameHash)) {
            emit_.ErrorAt("Class \"" + name + "\" cannot inherit from itself", nameToken);
        } else {
            auto* record = static_cast<ClassRecord*>(platform::AllocateBlock(sizeof(ClassRecord)));
            if (!record) throw std::bad_alloc();
            *record = ClassRecord{};
            record->name = CopyToBlock(name);
            record->nameHash = nameHash;
            if (!base.empty()) {
                record->baseName = CopyToBlock(base);
                record->baseHash = baseHash;
            }
            record->next = context_->classRecords;
            context_->classRecords = record;
            classes_[nameHash] = record;
        }
        emit_.EmitHandler(NopHandler, static_cast<Opcode>(kClassOpcode), base.c_str());
        emit_.EmitPlain(Opcode::None, name.c_str());
        ForgetPushes();
        return nameToken;
    }

    // Whether the class `from` is `target` or reaches it through its bases.
    // A chain never visits more classes than there are.
    bool InheritsFrom(uint32_t from, uint32_t target) const {
        for (size_t step = 0; step <= classes_.size() && from != 0; ++step) {
            if (from == target) return true;
            const auto found = classes_.find(from);
            from = found == classes_.end() ? 0 : found->second->baseHash;
        }
        return false;
    }

    // --- procedures -------------------------------------------------------------------

    TokenNode* CompileProcedureAddress(TokenNode* token) {
        const ProcLookup lookup = index_.Find(token->text + 1, false, false);
        Instruction* start = nullptr;
        if (lookup.index >= 0) start = table_[static_cast<size_t>(lookup.index)]->start;
        else if (lookup.parentStart) start = lookup.parentStart;
        else emit_.Error("Proc or Func \"" + std::string(token->text + 1) + "\" not found");
        if (lookup.Found()) {
            Instruction* node = emit_.Emit(Opcode::PUSHPROCADDR, token->text, AddressOperand(start));
            if (!start) unresolved_.push_back(node);
            Track(token);
        }
        EndScopedName();
        return token;
    }

    static double AddressOperand(const Instruction* start) {
        return static_cast<double>(reinterpret_cast<uintptr_t>(start));
    }

    // Calls of procedures defined further on (or only declared FORWARD) get
    // their target after the walk.
    Instruction* EmitCall(Opcode opcode, Handler handler, const char* key) {
        const ProcLookup lookup = index_.Find(key, false, false);
        const char* name = key;
        Instruction* target = nullptr;
        if (lookup.index >= 0) {
            const ProcedureRecord* record = table_[static_cast<size_t>(lookup.index)];
            name = record->name;
            target = record->start;
        } else if (lookup.parentStart) {
            target = lookup.parentStart;
        }
        Instruction* node = emit_.EmitHandler(handler, opcode, name, 0.0, target);
        if (!target) unresolved_.push_back(node);
        return node;
    }

    TokenNode* CompileCall(TokenNode* token) {
        EmitCall(Opcode::CALL, OpcodeHandler(Opcode::CALL), token->text + 1);
        Track(token, StackEffect::Unknown());
        EndScopedName();
        return token;
    }

    // A call of the class's own code through SELF, or (#INHERITED, base
    // initialisers) of the base class's code binding the current object.
    TokenNode* CompileSelfCall(TokenNode* token, bool inherited) {
        const Handler handler = inherited ? CallOwnMethod : OpcodeHandler(Opcode::SELFCALL);
        EmitCall(Opcode::SELFCALL, handler, token->text + 1);
        Track(token, StackEffect::Unknown());
        EndScopedName();
        return token;
    }

    // OBJECT.METHOD(i,o)[;targets]: push the object, then OBJRUN. On "STACK"
    // the object is the value on the stack, made a temporary object by the
    // nearest class step before.
    TokenNode* CompileObjectCall(TokenNode* token) {
        const std::string_view call = token->text + 1;
        const size_t dot = call.find('.');
        if (dot == std::string_view::npos) {
            emit_.Error("Invalid object call");
            return token;
        }
        const std::string object(call.substr(0, dot));
        std::string method(call.substr(dot + 1));
        uintptr_t targets = 0;
        if (const size_t semicolon = method.find(';'); semicolon != std::string::npos) {
            const double count = StringToNumber(method.c_str() + semicolon + 1);
            targets = count > 0 ? static_cast<uintptr_t>(count) : 0;
            method.resize(semicolon);
        }
        if (object == kStackObject) {
            TurnClassStepIntoClass4();
            emit_.Emit(Opcode::NGPUSHVAR, kStackTempObject);
        } else {
            emit_.Emit(Opcode::NGPUSHVAR, object.c_str());
        }
        emit_.Emit(Opcode::OBJRUN, method.c_str())->extraWord = targets;
        Track(token, StackEffect::Unknown());
        EndScopedName();
        return token;
    }

    // The nearest __class2 or __class3 step before the last node becomes
    // CLASS4. The steps are kept in emission order, so the walk back over
    // the list is a look at the end of that vector.
    void TurnClassStepIntoClass4() {
        for (auto it = classSteps_.rbegin(); it != classSteps_.rend(); ++it) {
            if (*it == emit_.last) continue;
            Instruction* step = *it;
            step->opcode = static_cast<uint32_t>(Opcode::CLASS4);
            step->handler = OpcodeHandler(Opcode::CLASS4);
            classSteps_.erase(std::next(it).base());
            return;
        }
    }

    TokenNode* CompileHeader(TokenNode* token) {
        const char* text = token->text;
        if (std::strlen(text) <= kProcHeaderKeyOffset) {
            emit_.Error("Syntax error");
            return token;
        }
        const uint8_t kind = TextKind(text);
        const bool undefinedStart = IsNFormHeaderKind(kind);
        const uint8_t count = HeaderCount(text);
        ForgetPushes();
        declarationList_ = true;
        Instruction* start =
            emit_.Emit(undefinedStart ? Opcode::STARTPROCUNDEF : Opcode::STARTPROC, text, static_cast<double>(count));
        emit_.MarkTarget(start);
        start->extraWord = undefinedStart ? 1 : 0;
        if (text[1] == '_') RequireInstructionExtra(emit_.pool, start)->flagByte = 1;
        control_.OpenProcedure(token, start);
        // A header inside an open procedure: the procedures are not done one by one then.
        if (openStart_) nestedProcedures_ = true;
        openStart_ = start;
        if (ProcedureRecord* record = RequireProcedure(token)) record->start = start;
        const std::string_view name = text + kProcHeaderKeyOffset;
        if ((name == "MAIN" && count == 0) || (name == "WINMAIN" && count != 0)) {
            entry_ = start;
            winMain_ = name == "WINMAIN";
        }
        return token;
    }

    TokenNode* CompileForward(TokenNode* token) {
        if (std::strlen(token->text) <= kProcHeaderKeyOffset) {
            emit_.Error("Syntax error");
            return token;
        }
        ForgetPushes();
        emit_.Emit(Opcode::FORWARDPROC, token->text);
        // The record's start stays null until the definition: calls met
        // before it are resolved after the walk.
        RequireProcedure(token);
        return token;
    }

    static uint8_t HeaderCount(const char* text) {
        return HeaderKindHasOutputs(TextKind(text)) ? static_cast<uint8_t>(static_cast<uint8_t>(text[2]) - 32) : 0;
    }

    // The unit's record of the header's key, made when the key is new.
    ProcedureRecord* RequireProcedure(const TokenNode* header) {
        const char* key = header->text + kProcHeaderKeyOffset;
        const ProcLookup lookup = index_.Find(key, true, true);
        if (lookup.index >= 0) return table_[static_cast<size_t>(lookup.index)];
        if (count_ >= static_cast<int32_t>(table_.size())) {
            emit_.Error("Too many procs or funcs (more than " + std::to_string(table_.size()) + ")");
            return nullptr;
        }
        auto* record = static_cast<ProcedureRecord*>(platform::AllocateBlock(sizeof(ProcedureRecord)));
        if (!record) throw std::bad_alloc();
        *record = ProcedureRecord{};
        record->name = CopyToBlock(key);
        record->namespaceHash = CurrentNamespaceHash;
        record->underscore = header->text[1] == '_' ? 1 : 0;
        record->undefinedStart = IsNFormHeaderKind(TextKind(header->text)) ? 1 : 0;
        record->countByte = HeaderCount(header->text);
        table_[static_cast<size_t>(count_)] = record;
        index_.Add(record, count_);
        ++count_;
        return record;
    }

    // --- names of the function table ---------------------------------------------------

    TokenNode* CompileName(TokenNode* token) {
        const uint32_t hash = token->hash;
        int function = FindFunctionByHash(hash);
        // FORCEGLOBAL has no record of its own: it declares as GLOBAL does.
        if (function < 0 && hash == KeywordHashes[Keyword::ForceGlobal])
            function = FindFunctionByHash(KeywordHashes[Keyword::Global]);
        if (function < 0) {
            if (hash != KeywordHashes[Keyword::FirstOp]) emit_.Error("Syntax error");
            return token;
        }
        const FunctionRecord* record = FunctionRecordAt(function);
        if (record->declaredNative) return CompileNativeCall(token, function, *record);
        if (IsDeclarationKeyword(hash)) assignTarget_.Forget();
        if (CompileNamedForm(hash)) return token;
        if (hash == KeywordHashes[Keyword::DropFctStack] || hash == KeywordHashes[Keyword::DropAllFctStack])
            return CompileDropResults(token, hash == KeywordHashes[Keyword::DropFctStack]);
        if (!record->handler) {
            emit_.Error("Syntax error");
            return token;
        }
        Instruction* call = emit_.EmitHandler(record->handler, Opcode::INTERNALCALL);
        if (hash == kClass2Hash || hash == kClass3Hash) classSteps_.push_back(call);
        return Track(token, BuiltinEffect(hash, *record));
    }

    static StackEffect BuiltinEffect(uint32_t hash, const FunctionRecord& record) {
        switch (hash) {
            case KeywordHashes[Keyword::SaveSp]: return StackEffect::Frames(1);
            case KeywordHashes[Keyword::SaveSp2]: return StackEffect::Frames(2);
            case kSetPushHash: return StackEffect::Values(0, 0);
            default: break;
        }
        if (IsBinaryOperator(hash)) return StackEffect::Values(2, 1);
        if (IsUnaryOperator(hash)) return StackEffect::Values(1, 1);
        if (record.anyArity && record.argumentFrame) return StackEffect::CloseFrame(record.returnsValue);
        if (!record.anyArity && (record.argumentCount > 0 || record.returnsValue))
            return StackEffect::Values(record.argumentCount, record.returnsValue);
        return StackEffect::Unknown();
    }

    // "=", the compound assignments, "++", "--" and the index steps on a
    // variable pushed just for them: the push goes, the node names the
    // variable. Returns false when the generic built-in is to be called.
    bool CompileNamedForm(uint32_t hash) {
        Opcode opcode = Opcode::None;
        int operands = 1;
        bool keepsOther = false;
        switch (hash) {
            case KeywordHashes[Keyword::Assign]:
                return assignTarget_.HasOperands(1) && TakeOver(assignTarget_, plainPush_, Opcode::ASSIGN2, false);
            case KeywordHashes[Keyword::PlusAssign]: opcode = Opcode::ADDASSIGN2; break;
            case KeywordHashes[Keyword::MinusAssign]: opcode = Opcode::SUBASSIGN2; break;
            case KeywordHashes[Keyword::MultiplyAssign]: opcode = Opcode::MULASSIGN2; break;
            case KeywordHashes[Keyword::OrAssign]: opcode = Opcode::ORASSIGN2; break;
            case KeywordHashes[Keyword::AndAssign]: opcode = Opcode::ANDASSIGN2; break;
            case KeywordHashes[Keyword::XorAssign]: opcode = Opcode::XORASSIGN2; break;
            case KeywordHashes[Keyword::Increment]: opcode = Opcode::INC2, operands = 0; break;
            case KeywordHashes[Keyword::Decrement]: opcode = Opcode::DEC2, operands = 0; break;
            case KeywordHashes[Keyword::Increment2]: opcode = Opcode::INC4, operands = 0; break;
            case KeywordHashes[Keyword::Decrement2]: opcode = Opcode::DEC4, operands = 0; break;
            case KeywordHashes[Keyword::Offset1]: opcode = Opcode::OFFSET2_1, keepsOther = true; break;
            case KeywordHashes[Keyword::Offset]: {
                // The indexes follow a __savesp opened right above the array.
                const bool indexFrame = plainPush_.node && plainPush_.frames.size() == 1 && plainPush_.frames[0] == 0;
                return indexFrame && TakeOver(plainPush_, assignTarget_, Opcode::OFFSET2, true);
            }
            default: return false;
        }
        if (!plainPush_.HasOperands(operands)) return false;
        return TakeOver(plainPush_, assignTarget_, opcode, keepsOther);
    }

    // Deletes the remembered push and emits opcode naming its variable, in
    // its namespace. The other remembered push survives only below it and
    // only when the new node leaves exactly one value (the index steps).
    bool TakeOver(RememberedPush& used, RememberedPush& other, Opcode opcode, bool keepsOther) {
        Instruction* push = used.node;
        const uint32_t pushNamespace = push->extra ? push->extra->namespaceHash : 0;
        if (other.node && (!keepsOther || other.serial > used.serial)) {
            other.Forget();
        } else if (other.node) {
            const int below = other.above - used.above - 1;  // values between the two pushes
            while (!other.frames.empty() && other.frames.back() > below) other.frames.pop_back();
            other.above = below + 1;
        }
        used.Forget();
        const uint32_t savedNamespace = CurrentNamespaceHash;
        CurrentNamespaceHash = pushNamespace;
        if (!emit_.MoveToEnd(push, opcode)) {
            const std::string name = push->text ? push->text : "";
            emit_.Delete(push);
            emit_.Emit(opcode, name.c_str());
        }
        CurrentNamespaceHash = savedNamespace;
        ++serial_;
        return true;
    }

    // __DROPFCTSTACK / __DROPALLFCTSTACK make the result count pushed before
    // them the operand of the step that closes the call's frame.
    TokenNode* CompileDropResults(TokenNode* token, bool keep) {
        Instruction* count = emit_.last;
        if (!count || count->opcode != static_cast<uint32_t>(Opcode::PUSHINT)) {
            emit_.Error("Syntax error");
            return token;
        }
        const Opcode opcode = keep ? Opcode::DROPFCTSTACK : Opcode::DROPALLFCTSTACK;
        count->opcode = static_cast<uint32_t>(opcode);
        count->handler = OpcodeHandler(opcode);
        ForgetPushes();
        return token;
    }

    TokenNode* CompileNativeCall(TokenNode* token, int function, const FunctionRecord& record) {
        if (!record.procedureEntry && !record.functionEntry) (void)LinkDllFunction(function);
        const int arguments = record.argumentCount;
        const auto uncallable = uncallableResults_.find(function);
        const bool resultCallable = uncallable == uncallableResults_.end();
        if (arguments > kMaxNativeArguments || !resultCallable) {
            ReportUncallableNative(record.name, arguments, resultCallable, resultCallable ? 0 : uncallable->second);
            return token;
        }
        uint32_t base = record.sForm ? (record.returnsValue ? 126 : 109) : (record.returnsValue ? 160 : 143);
        const auto opcode = static_cast<Opcode>(base + static_cast<uint32_t>(arguments));
        emit_.Emit(opcode, nullptr, static_cast<double>(function));
        return Track(token, StackEffect::Values(arguments, record.returnsValue ? 1 : 0));
    }

    // --- a procedure just closed ---------------------------------------------------------

    // Whether a node of this opcode gets its jump target from the generator:
    // asked for every node of every procedure, so answered from a table.
    static bool IsJumpOpcode(uint32_t opcode) { return opcode < kJumpOpcodes.size() && kJumpOpcodes[opcode]; }
    static constexpr std::array<bool, kOpcodeTableSize> kJumpOpcodes = [] {
        std::array<bool, kOpcodeTableSize> jumps{};
        for (const Opcode opcode : {Opcode::BRANCH, Opcode::IF, Opcode::WHILE, Opcode::FOR, Opcode::FOREACH, Opcode::TRY,
                                    Opcode::UNTIL, Opcode::BREAK, Opcode::PUSHCASE, Opcode::PUSHINTCASE, Opcode::CALL,
                                    Opcode::SELFCALL})
            jumps[static_cast<size_t>(opcode)] = true;
        return jumps;
    }();

    // The procedure whose END was just compiled is optimised at once, while
    // its nodes are in the caches, and the nodes the optimiser deletes are
    // made again as the next ones, when nothing but the optimiser will change
    // its nodes any more: every jump in it has its target (a call of a
    // procedure further on gets its own after the walk), no class step of it
    // may still become CLASS4, and no push of it is remembered for a take-over.
    // Blocks nest strictly and BREAK and CONTINUE never leave a procedure, so
    // nothing else of the generator keeps a node of it.
    void OptimizeClosedProcedure() {
        Instruction* start = openStart_;
        openStart_ = nullptr;
        Instruction* end = emit_.last;
        if (nestedProcedures_ || !classSteps_.empty() || assignTarget_.node || plainPush_.node || !end ||
            end->opcode != static_cast<uint32_t>(Opcode::ENDPROC) || end->next)
            return;
        for (const Instruction* node = start; node; node = node->next)
            if (IsJumpOpcode(node->opcode) && !JumpTarget(node)) return;
        optimizer_->Procedure(start, end);
    }

    // --- after the walk -----------------------------------------------------------------

    // Calls and procedure addresses left without a start node. Each is looked
    // up in the namespace it was written in.
    void ResolveAddresses() {
        const uint32_t savedNamespace = CurrentNamespaceHash;
        for (Instruction* node : unresolved_) {
            const bool isCall = node->opcode == static_cast<uint32_t>(Opcode::CALL) ||
                                node->opcode == static_cast<uint32_t>(Opcode::SELFCALL);
            const bool isAddress = node->opcode == static_cast<uint32_t>(Opcode::PUSHPROCADDR);
            if ((isCall && JumpTarget(node)) || (isAddress && node->operand != 0.0) || (!isCall && !isAddress))
                continue;
            CurrentNamespaceHash = node->extra ? node->extra->namespaceHash : 0;
            const char* key = isAddress ? node->text + 1 : node->text;
            const ProcLookup lookup = index_.Find(key, false, false);
            Instruction* start = lookup.index >= 0 ? table_[static_cast<size_t>(lookup.index)]->start : lookup.parentStart;
            if (!start) {
                ReportAtNode("Cannot resolve [" + std::string(node->text) + "] address", node);
                continue;
            }
            if (isCall) emit_.SetTarget(node, start);
            else node->operand = AddressOperand(start);
        }
        CurrentNamespaceHash = savedNamespace;
    }

    void ReportAtNode(const std::string& message, const Instruction* node) {
        TokenNode at{};
        at.text = node->text;
        if (node->extra) {
            at.file = node->extra->sourceFile;
            at.line = node->extra->line;
            at.column = node->extra->column;
        }
        emit_.ErrorAt(message, &at);
    }

    const char* fileName_;
    ProgramContext* context_;
    std::span<ProcedureRecord*> table_;
    int32_t& count_;
    const CodeGenOptions& options_;
    NodeEmitter emit_;
    ControlStatements control_;
    ProcedureIndex index_;
    RememberedPush assignTarget_;  // NGPUSHVAR of a 0xFB name, for "="
    RememberedPush plainPush_;     // PUSHVAR of a 0xF9 name, for the compound forms and indexes
    uint64_t serial_ = 0;
    bool declarationList_ = false;
    std::vector<uint32_t> namespaces_;
    bool scopedName_ = false;
    uint32_t outerNamespace_ = 0;
    Instruction* entry_ = nullptr;
    bool winMain_ = false;
    std::vector<Instruction*> unresolved_;
    std::vector<Instruction*> classSteps_;
    std::unique_ptr<ListOptimizer> optimizer_;  // when optimising
    Instruction* openStart_ = nullptr;          // STARTPROC of the procedure being compiled
    bool nestedProcedures_ = false;
    std::unordered_map<uint32_t, ClassRecord*> classes_;  // the context's classes by name hash
    std::unordered_map<int, int> uncallableResults_;  // declared native functions whose result kind has no call opcode
};

}  // namespace

Instruction* GenerateCode(const char* fileName, ProgramContext* context, TokenNode* lastToken,
                          std::span<ProcedureRecord*> procedures, int32_t& procedureCount, GeneratedEntry& entry,
                          const CodeGenOptions& options) {
    // The pool and the namespace word are process-wide: put back as found,
    // also when the pool runs out of memory.
    struct Restore {
        Pool* pool = CurrentCompilerPool;
        uint32_t namespaceHash = CurrentNamespaceHash;
        ~Restore() {
            CurrentCompilerPool = pool;
            CurrentNamespaceHash = namespaceHash;
        }
    } restore;
    if (context->pool) CurrentCompilerPool = context->pool;
    CurrentNamespaceHash = 0;
    CodeGenerator generator(fileName, context, procedures, procedureCount, options);
    return generator.Run(lastToken, entry);
}

}  // namespace qob
