// compiler/back_end/optimizer.cpp
// Two forward passes over a finished instruction list; each rule looks at
// most two nodes back (or one ahead) and changes the list in place.
#include "compiler/back_end/optimizer.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstring>
#include <new>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "compiler/front_end/token_list.h"
#include "platform/memory.h"
#include "runtime/data/hash.h"
#include "runtime/registry/function_table.h"
#include "runtime/registry/registration.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/opcodes.h"

namespace qob {
namespace {

enum class Operator : uint8_t { Add, Sub, Mul, Div, Eq, Ne, Lt, Gt, Le, Ge, Assign, SaveSp, SaveSp2, DropStack };

struct OperatorName {
    const char* name;
    Operator op;
};
constexpr OperatorName kOperatorNames[] = {
    {"+", Operator::Add},    {"-", Operator::Sub},          {"*", Operator::Mul},           {"/", Operator::Div},
    {"==", Operator::Eq},    {"<>", Operator::Ne},          {"<", Operator::Lt},            {">", Operator::Gt},
    {"<=", Operator::Le},    {">=", Operator::Ge},          {"=", Operator::Assign},        {"__savesp", Operator::SaveSp},
    {"__savesp2", Operator::SaveSp2}, {"dropstack", Operator::DropStack},
};

bool IsArithmetic(Operator op) {
    return op == Operator::Add || op == Operator::Sub || op == Operator::Mul || op == Operator::Div;
}

double Fold(Operator op, double left, double right) {
    switch (op) {
        case Operator::Add: return left + right;
        case Operator::Sub: return left - right;
        case Operator::Mul: return left * right;
        default: return left / right;  // a zero divisor gives the IEEE infinity or NaN
    }
}

// The typed forms of an arithmetic operator: variable op constant,
// constant op variable, op constant, op text constant (None: no such form).
struct TypedForms {
    Opcode variableConstant, constantVariable, constant, text;
};
[[gnu::always_inline]] inline TypedForms FormsOf(Operator op) {
    switch (op) {
        case Operator::Add: return {Opcode::ADD5, Opcode::ADD6, Opcode::ADD2, Opcode::ADD4};
        case Operator::Sub: return {Opcode::SUB5, Opcode::SUB6, Opcode::SUB2, Opcode::SUB4};
        case Operator::Mul: return {Opcode::MUL5, Opcode::MUL6, Opcode::MUL2, Opcode::None};
        default: return {Opcode::DIV5, Opcode::DIV6, Opcode::DIV2, Opcode::None};
    }
}

Opcode ComparisonForm(Operator op) {
    switch (op) {
        case Operator::Eq: return Opcode::EQ2;
        case Operator::Ne: return Opcode::NE2;
        case Operator::Lt: return Opcode::LT2;
        case Operator::Gt: return Opcode::GT2;
        case Operator::Le: return Opcode::LE2;
        case Operator::Ge: return Opcode::GE2;
        default: return Opcode::None;
    }
}

Handler HandlerOf(Opcode opcode) { return OpcodeHandlerTable[static_cast<size_t>(opcode)]; }

uint32_t NamespaceOf(const Instruction* node) { return node->extra ? node->extra->namespaceHash : 0; }

// Whether some jump continues after this node: such a node must keep its
// place, or the jump would run (or skip) what it is fused with.
bool IsLandedOn(const Instruction* node) { return node->extra && node->extra->firstJumper; }

// Nodes that stand outside the running code: a step fused into them would never run.
bool IsOutsideFlow(const Instruction* node) {
    const auto opcode = static_cast<Opcode>(node->opcode);
    return opcode == Opcode::None || opcode == Opcode::STARTPROC || opcode == Opcode::STARTPROCUNDEF;
}

// The 8 bytes of a double as a node text (PUSHINTINT, PUSHINTCASE), with a
// terminator after them so the block is also a valid, short, text.
char* ValueBytes(double value) {
    auto* bytes = static_cast<char*>(platform::AllocateBlock(sizeof value + 1));
    if (!bytes) throw std::bad_alloc();
    std::memcpy(bytes, &value, sizeof value);
    bytes[sizeof value] = '\0';
    return bytes;
}

double ValueOfBytes(const char* bytes) {
    double value = 0.0;
    if (bytes) std::memcpy(&value, bytes, sizeof value);
    return value;
}

// The opcodes whose nodes Visit rewrites (besides the operators).
constexpr Opcode kVisitedOpcodes[] = {
    Opcode::PUSHINT,   Opcode::PUSHSTR, Opcode::PUSHVAR, Opcode::PARMSPUSHVAR, Opcode::NGPUSHVAR,  Opcode::PUSHCASE,
    Opcode::OFFSET2_1, Opcode::ADDR,    Opcode::ASSIGN2, Opcode::ADDASSIGN2,   Opcode::SUBASSIGN2, Opcode::IF,
};

// A set of handlers that may answer "perhaps" for one it does not hold,
// never "no" for one it holds: one bit per handler address, of 1024.
class HandlerMarks {
public:
    void Add(Handler handler) { bits_[BitOf(handler) / 64] |= uint64_t{1} << (BitOf(handler) % 64); }
    [[nodiscard]] bool MayHold(Handler handler) const {
        return (bits_[BitOf(handler) / 64] >> (BitOf(handler) % 64)) & 1;
    }

private:
    static size_t BitOf(Handler handler) { return (reinterpret_cast<uintptr_t>(handler) >> 4) % 1024; }
    std::array<uint64_t, 16> bits_{};
};

// The operators by handler, open-addressed: the walk looks one up for
// nearly every node that the marks let through.
class OperatorTable {
public:
    void Add(Handler handler, Operator op) {
        size_t at = SlotOf(handler);
        while (slots_[at].handler != nullptr) at = (at + 1) % kSlots;
        slots_[at] = {handler, op};
    }
    [[nodiscard]] const Operator* Find(Handler handler) const {
        for (size_t at = SlotOf(handler); slots_[at].handler != nullptr; at = (at + 1) % kSlots)
            if (slots_[at].handler == handler) return &slots_[at].op;
        return nullptr;
    }

private:
    // Far more slots than operators: a miss ends at a free slot soon.
    static constexpr size_t kSlots = 256;
    static_assert(std::size(kOperatorNames) * 4 <= kSlots);
    static size_t SlotOf(Handler handler) {
        return static_cast<size_t>((reinterpret_cast<uintptr_t>(handler) >> 4) * 0x9E3779B97F4A7C15ull >> 56);
    }
    struct Slot {
        Handler handler = nullptr;
        Operator op{};
    };
    std::array<Slot, kSlots> slots_{};
};

}  // namespace

class ListOptimizer::Optimizer {
public:
    Optimizer(Pool* pool, ListOptimizer::Recycle recycle, void* owner)
        : pool_(pool), recycle_(recycle), owner_(owner) {
        std::unordered_map<Handler, Operator> operators;
        std::unordered_set<Handler> sharedHandlers;
        for (const OperatorName& entry : kOperatorNames) {
            const FunctionRecord* record = FunctionRecordAt(FindFunctionByName(entry.name));
            if (!record || !record->handler) continue;
            const auto [it, inserted] = operators.emplace(record->handler, entry.op);
            if (!inserted && it->second != entry.op) sharedHandlers.insert(record->handler);
        }
        // Two operators behind one handler (stand-ins of unbuilt operators)
        // cannot be told apart: no rule may take either for the other.
        for (Handler handler : sharedHandlers) operators.erase(handler);
        for (const auto& [handler, op] : operators) {
            operatorTable_.Add(handler, op);
            operatorMarks_ |= MarkOf(handler);
            visitedForms_.Add(handler);
        }
        for (Opcode opcode : kVisitedOpcodes)
            if (const Handler handler = HandlerOf(opcode)) visitedForms_.Add(handler);
    }

    // Pass 1 over a procedure that ends the list so far: the nodes it
    // deletes are recycled. A rule looks at most two nodes back and one
    // ahead, and none takes a STARTPROC or what lies before it, nor anything
    // after an ENDPROC: the walk over the whole list would do the same with
    // these nodes later, as nothing else changes them any more.
    void Procedure(Instruction* start, Instruction* end) {
        assert(end->next == nullptr);
        Range range{start, end, {}, {}, 0, 0};
        recycling_ = recycle_ != nullptr;
        deleted_ = 0;
        range.visits = WalkProcedure(start, range.saveSteps);
        recycling_ = false;
        // The range's nodes as they are now (nothing but pass 2 deletes any of
        // them any more), read while they are in the caches.
        range.nodes.reserve(static_cast<size_t>(range.visits));
        for (Instruction* node = start; node; node = node->next) range.nodes.push_back(node);
        range.deleted = deleted_;
        deletedInRanges_ += deleted_;
        ranges_.push_back(std::move(range));
    }

    // A long list lies far beyond the caches and each walk over it costs a
    // miss per node: the nodes are walked once, and pass 2 visits the save
    // steps pass 1 met. Pass 1 deletes only pushes, the node it visits and
    // nodes it has not visited yet, and makes no node a save step that was
    // none, so those are the save steps after it, in list order. The
    // procedures done on the way are stepped over with the visits and the
    // save steps they had, so progress is reported as one walk would.
    void Finish(Instruction* first, const char* fileName, CompileProgress progress, int nodeCount) {
        first_ = first;
        const int total = progress ? (nodeCount >= 0 ? nodeCount : RecordListCount(first_) + deletedInRanges_) : 0;
        assert(!progress || total == RecordListCount(first_) + deletedInRanges_);
        if (progress) progress(StageProgressText("Optimizing", fileName).c_str(), 0, total);
        Reports reports{progress, total, 0, progress ? 0 : INT64_MAX};
        std::vector<Instruction*> saveSteps;
        std::vector<Instruction*> visited;
        visited.reserve(static_cast<size_t>(std::max(nodeCount, 0)));
        walking_ = true;
        Walk(first_, 0, saveSteps, reports, &visited);
        walking_ = false;
        assert(AreTheSaveSteps(saveSteps));
        std::vector<Instruction*> folded;  // the save steps pass 2 deleted, in list order
        for (Instruction* step : saveSteps)
            if (FoldSaveStep(step)) folded.push_back(step);
        // Every node of the list was visited or lies in a range, in list
        // order; the ones deleted since are left out: the steps pass 2 folded
        // (met in the same order), and what this walk deleted.
        order_.clear();
        order_.reserve(visited.size());
        size_t nextFolded = 0;
        for (Instruction* node : visited) {
            if (nextFolded < folded.size() && node == folded[nextFolded]) {
                ++nextFolded;
                continue;
            }
            if (!walkDeleted_.empty() && walkDeleted_.count(node)) continue;
            order_.push_back(node);
        }
        walkDeleted_.clear();
    }

    std::vector<Instruction*> TakeOrder() { return std::move(order_); }

private:
    // Where a walk's progress reports stand.
    struct Reports {
        CompileProgress progress;
        int total;
        int position;
        int64_t nextReport;
    };

    // Pass 1 from x to the end of the list, stepping over the procedures
    // done from ranges_[nextRange] on; returns the nodes visited.
    int Walk(Instruction* x, size_t nextRange, std::vector<Instruction*>& saveSteps, Reports& reports,
             std::vector<Instruction*>* visited) {
        int visits = 0;
        const Instruction* nextStart = nextRange < ranges_.size() ? ranges_[nextRange].start : nullptr;
        int position = reports.position;
        int64_t nextReport = reports.nextReport;
        while (x) {
            if (x == nextStart) [[unlikely]] {
                const Range& range = ranges_[nextRange++];
                nextStart = nextRange < ranges_.size() ? ranges_[nextRange].start : nullptr;
                if (reports.progress) StepOver(range.visits, position, nextReport, reports);
                saveSteps.insert(saveSteps.end(), range.saveSteps.begin(), range.saveSteps.end());
                if (visited) visited->insert(visited->end(), range.nodes.begin(), range.nodes.end());
                x = range.end->next;
                continue;
            }
            if (++position >= nextReport) nextReport = reports.progress(nullptr, position, reports.total);
            ++visits;
            if (visited) visited->push_back(x);
            // The operator of x is looked up once, for both questions (as in WalkProcedure).
            const Operator* op = OperatorOf(x);
            if (IsSaveStep(x, op)) saveSteps.push_back(x);
            x = Visit(x, op);
        }
        reports.position = position;
        reports.nextReport = nextReport;
        return visits;
    }

    // Walk for a procedure that ends the list: no procedure done before
    // lies in it, and nothing is reported or kept but its save steps.
    int WalkProcedure(Instruction* x, std::vector<Instruction*>& saveSteps) {
        int visits = 0;
        for (; x; ++visits) {
            const Operator* op = OperatorOf(x);
            if (IsSaveStep(x, op)) saveSteps.push_back(x);
            x = Visit(x, op);
        }
        return visits;
    }

    // Counts visits as the walk does, one by one, reporting where a visit
    // reaches the next report's position: the visits between reports are
    // added at once.
    static void StepOver(int visits, int& position, int64_t& nextReport, const Reports& reports) {
        while (visits > 0) {
            const int64_t untilReport = nextReport - position;  // the visit that reaches it reports
            if (untilReport > visits) {
                position += visits;
                return;
            }
            const int step = untilReport < 1 ? 1 : static_cast<int>(untilReport);
            position += step;
            visits -= step;
            nextReport = reports.progress(nullptr, position, reports.total);
        }
    }

    // --- recognising nodes ------------------------------------------------------------

    [[nodiscard]] bool Is(const Instruction* node, Opcode opcode) const {
        const Handler handler = HandlerOf(opcode);
        return node && handler && node->handler == handler && !node->secondHandler;
    }
    // A push that a rule may absorb into the node after it.
    [[nodiscard, gnu::always_inline]] bool IsPush(const Instruction* node, Opcode opcode) const {
        return Is(node, opcode) && node->opcode != static_cast<uint32_t>(Opcode::PUSHPROCADDR) && !IsLandedOn(node);
    }
    // One bit per handler address: most nodes are no operator, and their
    // handler's bit tells so without a look-up in the table.
    [[nodiscard]] static uint64_t MarkOf(Handler handler) {
        return uint64_t{1} << ((reinterpret_cast<uintptr_t>(handler) >> 4) & 63);
    }
    [[nodiscard]] bool IsOperator(const Instruction* node, Operator op) const {
        if (!node || node->secondHandler || !(operatorMarks_ & MarkOf(node->handler))) return false;
        const Operator* found = operatorTable_.Find(node->handler);
        return found != nullptr && *found == op;
    }
    [[nodiscard]] const Operator* OperatorOf(const Instruction* node) const {
        if (!node || node->secondHandler || !(operatorMarks_ & MarkOf(node->handler))) return nullptr;
        return operatorTable_.Find(node->handler);
    }

    // --- rewriting ----------------------------------------------------------------------

    void Become(Instruction* node, Opcode opcode) {
        node->opcode = static_cast<uint32_t>(opcode);
        node->handler = HandlerOf(opcode);
    }
    void SetText(Instruction* node, char* text) {
        platform::FreeBlock(node->text);
        node->text = text;
        node->textHash = text ? HashName(text, std::strlen(text)) : 0;
    }
    // Moves from's text into node (from keeps none). The text's hash comes
    // along: every text a rule takes is a push's, hashed when it was set.
    void TakeText(Instruction* node, Instruction* from) {
        assert(from->textHash == (from->text ? HashName(from->text, std::strlen(from->text)) : 0));
        platform::FreeBlock(node->text);
        node->text = from->text;
        node->textHash = from->textHash;
        from->text = nullptr;
        from->textHash = 0;
    }
    // Moves from's text into node's operand slot, as the address of a second text.
    static void TakeTextAsOperand(Instruction* node, Instruction* from) {
        node->operand = static_cast<double>(reinterpret_cast<uintptr_t>(from->text));
        from->text = nullptr;
        from->textHash = 0;
    }
    // A node that now names the variable of an absorbed push looks it up in
    // that push's namespace.
    void TakeNamespace(Instruction* node, const Instruction* from) {
        if (!from->extra) return;
        if (InstructionExtra* extra = RequireInstructionExtra(pool_, node)) extra->namespaceHash = from->extra->namespaceHash;
    }
    // No cursor is kept: the walks go by the nodes' own links, and nothing
    // appends after the list's last node while the optimiser runs.
    void Delete(Instruction* node) {
        if (recycling_) {
            ++deleted_;
            recycle_(owner_, node);
        } else {
            if (walking_) walkDeleted_.insert(node);
            DeleteInstruction(pool_, nullptr, node, true);
        }
    }

    // --- pass 1 -------------------------------------------------------------------------

    // Visit and its rules are taken into both walks (each rule runs for a
    // good share of the nodes): forced, as two walks are past what the
    // compiler takes in of its own accord.

    // Applies the first rule that matches x, whose OperatorOf is op; returns
    // the node to visit next.
    [[gnu::always_inline]] Instruction* Visit(Instruction* x, const Operator* op) {
        Instruction* p = x->previous;
        Instruction* pp = p ? p->previous : nullptr;
        // A procedure address is set again when the program is loaded: it stays a node of its own.
        if (x->opcode == static_cast<uint32_t>(Opcode::PUSHPROCADDR)) return x->next;
        // Every form below is a node of its own handler alone, one of the
        // visited opcodes' or an operator's: most nodes are none.
        if (x->secondHandler || x->handler == nullptr || !visitedForms_.MayHold(x->handler)) return x->next;
        // From here x runs its own handler, which is some handler: Is(x, opcode)
        // is this compare alone.
        const Handler own = x->handler;
        const auto is = [own](Opcode opcode) { return own == HandlerOf(opcode); };
        if (is(Opcode::PUSHINT)) return FusePushInt(x, p);
        if (is(Opcode::PUSHSTR)) return FusePushStr(x, p);
        if (is(Opcode::PUSHVAR)) return FusePushVar(x, p);
        if (is(Opcode::PARMSPUSHVAR) && IsPush(p, Opcode::PARMSPUSHVAR) && NamespaceOf(p) == NamespaceOf(x))
            return AbsorbAsOperand(x, p, Opcode::PARMSPUSHVARVAR);
        if (is(Opcode::NGPUSHVAR) && IsPush(p, Opcode::NGPUSHVAR) && NamespaceOf(p) == NamespaceOf(x))
            return AbsorbAsOperand(x, p, Opcode::NGPUSHVARVAR);
        if (is(Opcode::PUSHCASE) && IsPush(p, Opcode::PUSHINT)) {
            SetText(x, ValueBytes(p->operand));
            x->textHash = 0;
            Become(x, Opcode::PUSHINTCASE);
            return Absorbed(x, p);
        }
        if (op) {
            if (IsArithmetic(*op)) return FuseArithmetic(x, p, pp, *op);
            if (const Opcode form = ComparisonForm(*op); form != Opcode::None && IsPush(p, Opcode::PUSHINT))
                return WithConstant(x, p, form);
            if (*op == Operator::Assign) return FuseGenericAssign(x, p);
            if (*op == Operator::SaveSp) return FuseSaveSpPair(x);
            if (*op == Operator::DropStack) return FuseDropStack(x, p);
        }
        if (is(Opcode::OFFSET2_1) && IsPush(p, Opcode::PUSHINT)) return WithConstant(x, p, Opcode::OFFSET2_2);
        if (is(Opcode::ADDR) && IsPush(p, Opcode::PUSHVAR)) {
            TakeText(x, p);
            TakeNamespace(x, p);
            Become(x, Opcode::ADDR2);
            return Absorbed(x, p);
        }
        if (is(Opcode::ASSIGN2) && x->text) {
            if (IsPush(p, Opcode::PUSHINT)) return WithConstant(x, p, Opcode::ASSIGN3);
            if (IsPush(p, Opcode::PUSHSTR)) {
                TakeTextAsOperand(x, p);
                Become(x, Opcode::ASSIGN4);
                return Absorbed(x, p);
            }
        }
        if ((is(Opcode::ADDASSIGN2) || is(Opcode::SUBASSIGN2)) && IsPush(p, Opcode::PUSHINT)) {
            const bool add = is(Opcode::ADDASSIGN2);
            if (p->operand == 1.0) {
                Become(x, add ? Opcode::INC2 : Opcode::DEC2);
                return Absorbed(x, p);
            }
            return WithConstant(x, p, add ? Opcode::INC3 : Opcode::DEC3);
        }
        if (is(Opcode::IF)) return FuseConditionalJump(x, p);
        return x->next;
    }

    // P's work is now done by x: P goes, the walk goes on after x.
    [[gnu::always_inline]] Instruction* Absorbed(Instruction* x, Instruction* p) {
        Delete(p);
        return x->next;
    }

    [[gnu::always_inline]] Instruction* WithConstant(Instruction* x, Instruction* p, Opcode form) {
        x->operand = p->operand;
        Become(x, form);
        return Absorbed(x, p);
    }

    // x pushes after p: p's name or text goes into x's operand slot.
    [[gnu::always_inline]] Instruction* AbsorbAsOperand(Instruction* x, Instruction* p, Opcode form) {
        TakeTextAsOperand(x, p);
        Become(x, form);
        return Absorbed(x, p);
    }

    [[gnu::always_inline]] Instruction* FusePushInt(Instruction* x, Instruction* p) {
        if (IsPush(p, Opcode::PUSHINT)) {
            SetText(x, ValueBytes(p->operand));
            x->textHash = 0;
            Become(x, Opcode::PUSHINTINT);
            return Absorbed(x, p);
        }
        Opcode form = Opcode::None;
        if (IsPush(p, Opcode::NGPUSHVAR)) form = Opcode::PUSHNGVARINT;
        else if (IsPush(p, Opcode::PUSHVAR)) form = Opcode::PUSHVARINT;
        else if (IsPush(p, Opcode::PUSHSTR)) form = Opcode::PUSHSTRINT;
        if (form == Opcode::None) return x->next;
        if (form != Opcode::PUSHSTRINT) TakeNamespace(x, p);
        TakeText(x, p);
        Become(x, form);
        return Absorbed(x, p);
    }

    [[gnu::always_inline]] Instruction* FusePushStr(Instruction* x, Instruction* p) {
        if (IsPush(p, Opcode::PUSHINT)) return WithConstant(x, p, Opcode::PUSHINTSTR);
        if (IsPush(p, Opcode::NGPUSHVAR) || IsPush(p, Opcode::PUSHVAR)) {
            TakeNamespace(x, p);
            return AbsorbAsOperand(x, p, IsPush(p, Opcode::NGPUSHVAR) ? Opcode::PUSHNGVARSTR : Opcode::PUSHVARSTR);
        }
        if (IsPush(p, Opcode::PUSHSTR)) {
            // PUSHSTRSTR pushes its text first: p's text goes there, x's own
            // text moves to the operand slot.
            x->operand = static_cast<double>(reinterpret_cast<uintptr_t>(x->text));
            x->text = nullptr;
            TakeText(x, p);
            Become(x, Opcode::PUSHSTRSTR);
            return Absorbed(x, p);
        }
        return x->next;
    }

    [[gnu::always_inline]] Instruction* FusePushVar(Instruction* x, Instruction* p) {
        if (IsPush(p, Opcode::PUSHINT)) return WithConstant(x, p, Opcode::PUSHINTVAR);
        if (IsPush(p, Opcode::PUSHVAR) && NamespaceOf(p) == NamespaceOf(x))
            return AbsorbAsOperand(x, p, Opcode::PUSHVARVAR);
        if (IsPush(p, Opcode::PUSHSTR)) return AbsorbAsOperand(x, p, Opcode::PUSHSTRVAR);
        return x->next;
    }

    [[gnu::always_inline]] Instruction* FuseArithmetic(Instruction* x, Instruction* p, Instruction* pp, Operator op) {
        const TypedForms forms = FormsOf(op);
        if (IsPush(p, Opcode::PUSHINTINT)) {
            x->operand = Fold(op, ValueOfBytes(p->text), p->operand);
            Become(x, Opcode::PUSHINT);
            return Absorbed(x, p);
        }
        if (IsPush(p, Opcode::PUSHINT) && IsPush(pp, Opcode::PUSHINT)) {
            x->operand = Fold(op, pp->operand, p->operand);
            Become(x, Opcode::PUSHINT);
            Delete(pp);
            return Absorbed(x, p);
        }
        if (IsPush(p, Opcode::PUSHVARINT) || IsPush(p, Opcode::PUSHINTVAR)) {
            x->operand = p->operand;
            TakeText(x, p);
            TakeNamespace(x, p);
            Become(x, IsPush(p, Opcode::PUSHVARINT) ? forms.variableConstant : forms.constantVariable);
            return Absorbed(x, p);
        }
        if (IsPush(p, Opcode::PUSHINT) && IsPush(pp, Opcode::PUSHVAR)) {
            x->operand = p->operand;
            TakeText(x, pp);
            TakeNamespace(x, pp);
            Become(x, forms.variableConstant);
            Delete(pp);
            return Absorbed(x, p);
        }
        if (IsPush(p, Opcode::PUSHVAR) && IsPush(pp, Opcode::PUSHINT)) {
            x->operand = pp->operand;
            TakeText(x, p);
            TakeNamespace(x, p);
            Become(x, forms.constantVariable);
            Delete(pp);
            return Absorbed(x, p);
        }
        if (IsPush(p, Opcode::PUSHINT)) return WithConstant(x, p, forms.constant);
        if (forms.text != Opcode::None && IsPush(p, Opcode::PUSHSTR)) {
            TakeText(x, p);
            Become(x, forms.text);
            return Absorbed(x, p);
        }
        return x->next;
    }

    // The generic "=" (its target computed, not named) with a constant value.
    [[gnu::always_inline]] Instruction* FuseGenericAssign(Instruction* x, Instruction* p) {
        if (x->text) return x->next;
        if (IsPush(p, Opcode::PUSHINT)) return WithConstant(x, p, Opcode::ASSIGN5);
        if (IsPush(p, Opcode::PUSHSTR)) {
            TakeText(x, p);
            x->operand = 0.0;
            Become(x, Opcode::ASSIGN5);
            return Absorbed(x, p);
        }
        return x->next;
    }

    [[gnu::always_inline]] Instruction* FuseSaveSpPair(Instruction* x) {
        Instruction* next = x->next;
        if (!IsOperator(next, Operator::SaveSp) || IsLandedOn(x)) return x->next;
        Become(x, Opcode::SAVESP2);
        Delete(next);
        return x->next;
    }

    // dropstack runs p's own handler, then drops the value it left.
    [[gnu::always_inline]] Instruction* FuseDropStack(Instruction* x, Instruction* p) {
        if (!p || p->secondHandler || !p->handler || IsOperator(p, Operator::DropStack) || IsLandedOn(p) ||
            IsOutsideFlow(p))
            return x->next;
        p->secondHandler = p->handler;
        p->handler = x->handler;
        Delete(x);
        return p->next;
    }

    // The conditional jump runs p's own handler first, then tests its value.
    [[gnu::always_inline]] Instruction* FuseConditionalJump(Instruction* x, Instruction* p) {
        if (!p || p->secondHandler || !p->handler || IsLandedOn(p) || IsOutsideFlow(p)) return x->next;
        if (x->extra && JumpTarget(p)) return x->next;
        p->secondHandler = p->handler;
        p->handler = x->handler;
        SetJumpTarget(pool_, p, JumpTarget(x));
        Delete(x);
        return p->next;
    }

    // --- pass 2 -------------------------------------------------------------------------

    // Checks the invariant pass 2 relies on: the steps are nodes of the list,
    // in its order, and take in every save step the list holds.
    [[nodiscard]] bool AreTheSaveSteps(const std::vector<Instruction*>& steps) const {
        size_t next = 0;
        for (const Instruction* node = first_; node; node = node->next) {
            const bool listed = next < steps.size() && steps[next] == node;
            if (listed) ++next;
            else if (IsSaveStep(node)) return false;
        }
        return next == steps.size();
    }

    [[nodiscard]] bool IsSaveStep(const Instruction* node) const { return IsSaveStep(node, OperatorOf(node)); }
    // ... for a node whose OperatorOf is op.
    [[nodiscard]] bool IsSaveStep(const Instruction* node, const Operator* op) const {
        return (op && (*op == Operator::SaveSp || *op == Operator::SaveSp2)) || Is(node, Opcode::SAVESP2);
    }

    // An argument-frame step runs as the first half of the node after it.
    // Returns whether the step was folded (and deleted).
    bool FoldSaveStep(Instruction* step) {
        Instruction* next = step->next;
        if (!IsSaveStep(step) || !next || next->secondHandler || !next->handler || IsSaveStep(next) ||
            IsLandedOn(step))
            return false;
        next->secondHandler = next->handler;
        next->handler = step->handler;
        Delete(step);
        return true;
    }

    // A procedure Procedure did: where it lies, its visits and save steps.
    struct Range {
        Instruction* start;
        Instruction* end;
        std::vector<Instruction*> saveSteps;
        std::vector<Instruction*> nodes;  // the range's nodes after pass 1, in list order
        int visits;
        int deleted;
    };

    Instruction* first_ = nullptr;
    Pool* pool_;
    ListOptimizer::Recycle recycle_;
    void* owner_;
    bool recycling_ = false;       // deleted nodes go to recycle_
    int deleted_ = 0;              // nodes deleted in the procedure being done
    int deletedInRanges_ = 0;      // nodes deleted by Procedure in all
    std::vector<Range> ranges_;    // in list order
    bool walking_ = false;                                 // Finish's pass 1 is on
    std::unordered_set<const Instruction*> walkDeleted_;  // deleted by it (their memory is not reused)
    std::vector<Instruction*> order_;                     // the list's nodes after Finish
    OperatorTable operatorTable_;  // the operators by handler, each handler of one operator only
    uint64_t operatorMarks_ = 0;  // the MarkOf bits of the handlers in operatorTable_
    HandlerMarks visitedForms_;   // the handlers of kVisitedOpcodes and of operatorTable_
};

ListOptimizer::ListOptimizer(Pool* pool, Recycle recycle, void* owner)
    : optimizer_(std::make_unique<Optimizer>(pool, recycle, owner)) {}

ListOptimizer::~ListOptimizer() = default;

void ListOptimizer::Procedure(Instruction* start, Instruction* end) { optimizer_->Procedure(start, end); }

void ListOptimizer::Finish(Instruction* first, const char* fileName, CompileProgress progress, int nodeCount) {
    if (first) optimizer_->Finish(first, fileName, progress, nodeCount);
}

std::vector<Instruction*> ListOptimizer::TakeOrder() { return optimizer_->TakeOrder(); }

void OptimizeInstructionList(Instruction* first, Pool* pool, const char* fileName, CompileProgress progress,
                             int nodeCount) {
    ListOptimizer(pool).Finish(first, fileName, progress, nodeCount);
}

}  // namespace qob
