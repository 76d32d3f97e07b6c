// compiler/back_end/control_statements.cpp
// Pairs the block keywords of the postfix stream and fixes their jumps: back
// jumps at once, forward jumps when the closing keyword arrives.
#include "compiler/back_end/control_statements.h"

#include <cstring>
#include <string>
#include <utility>

#include "compiler/back_end/node_emitter.h"
#include "compiler/front_end/token_list.h"
#include "runtime/data/number_text.h"
#include "runtime/registry/keywords.h"

namespace qob {
namespace {

bool IsCaseLabel(const char* text) { return text[0] == ':' && text[1] != ':'; }

std::string Bound(const char* what, int limit) { return what + std::string(" (more than ") + std::to_string(limit) + ")"; }

}  // namespace

ControlStatements::ControlStatements(NodeEmitter& emitter) : emitter_(emitter) {}

bool ControlStatements::Compile(const TokenNode* token) {
    token_ = token;
    const uint32_t hash = token->hash;
    // The words here are the ones of kWords, which MayCompile answers for.
    switch (hash) {
    case KeywordHashes[Keyword::If]:
        if (!HasRoom(1, 0, 1, 0, 0, 0)) return true;
        ++ifLevel_;
        OpenIf();
        return true;
    case KeywordHashes[Keyword::ElseIfMarker]:
        if (HasRoom(1, 0, 1, 0, 0, 0)) OpenIf();
        return true;
    case KeywordHashes[Keyword::Else]: CompileElse(); return true;
    case KeywordHashes[Keyword::End]: CompileEnd(); return true;
    case KeywordHashes[Keyword::StartWhile]:
    case KeywordHashes[Keyword::StartRepeat]: SetLoopStart(emitter_.Emit(Opcode::INITWHILE)); return true;
    case KeywordHashes[Keyword::StartFor]: SetLoopStart(emitter_.Emit(Opcode::INITFOR)); return true;
    case KeywordHashes[Keyword::StartForEach]: SetLoopStart(emitter_.Emit(Opcode::INITFOREACH)); return true;
    case KeywordHashes[Keyword::While]:
    case KeywordHashes[Keyword::For]:
    case KeywordHashes[Keyword::ForEach]:
    case KeywordHashes[Keyword::ForEachRev]: OpenLoop(hash); return true;
    case KeywordHashes[Keyword::Repeat]: OpenRepeat(); return true;
    case KeywordHashes[Keyword::Until]: CompileUntil(); return true;
    case KeywordHashes[Keyword::Try]: OpenTry(); return true;
    case KeywordHashes[Keyword::Except]: CompileExcept(); return true;
    case KeywordHashes[Keyword::Finally]: CompileFinally(); return true;
    case KeywordHashes[Keyword::Continue]: CompileLeave(false); return true;
    case KeywordHashes[Keyword::Break]: CompileLeave(true); return true;
    case KeywordHashes[Keyword::Case]: OpenCase(); return true;
    case KeywordHashes[Keyword::Default]: defaultLabel_ = true; return true;
    case KeywordHashes[Keyword::StartCase]: StartCaseBranch(); return true;
    default: break;
    }
    if (!IsCaseLabel(token->text)) return false;
    CompileCaseLabel(token->text);
    return true;
}

void ControlStatements::OpenProcedure(const TokenNode* header, Instruction* start) {
    token_ = header;
    if (!HasRoom(1, 0, 0, 0, 0, 0)) return;
    Block& block = PushBlock(Kind::Procedure);
    // Messages show the procedure's key, not the header's marker bytes.
    if (block.text.size() > kProcHeaderKeyOffset) block.text.erase(0, kProcHeaderKeyOffset);
    block.node = start;
    procedure_ = start;
}

// --- IF ----------------------------------------------------------------------------

// An IF and each ELSEIF open an 'I' block with a conditional jump that the
// ELSE (or the END) fills in; all parts of one IF share its level.
void ControlStatements::OpenIf() {
    PushBlock(Kind::If);
    ifParts_.push_back({emitter_.Emit(Opcode::IF), ifLevel_});
}

void ControlStatements::CompileElse() {
    Block* block = Innermost();
    if (!block || block->kind != Kind::If || block->elseSeen || ifParts_.empty() ||
        ifParts_.back().level != ifLevel_) {
        // The placeholder of this message has always been shown as it stands.
        emitter_.Error("ELSE statement found without an IF statement '%s'");
        return;
    }
    block->elseSeen = true;
    Instruction* branch = emitter_.Emit(Opcode::BRANCH);
    emitter_.SetTarget(ifParts_.back().node, branch);
    ifParts_.back().node = branch;
}

void ControlStatements::CloseIf() {
    int parts = 0;
    while (!ifParts_.empty() && ifParts_.back().level == ifLevel_) {
        emitter_.SetTarget(ifParts_.back().node, emitter_.last);
        ifParts_.pop_back();
        ++parts;
    }
    // One 'I' block per part; the END's own was popped already.
    for (int i = 1; i < parts && Innermost() && Innermost()->kind == Kind::If; ++i) blocks_.pop_back();
    if (ifLevel_ > 0) --ifLevel_;
}

// --- END ---------------------------------------------------------------------------

void ControlStatements::CompileEnd() {
    if (blocks_.empty()) {
        emitter_.Error("END statement not linked with any statement");
        return;
    }
    const Block block = std::move(blocks_.back());
    blocks_.pop_back();
    switch (block.kind) {
        case Kind::Loop: CloseLoop(block); break;
        case Kind::Except:
            if (block.node) {
                emitter_.SetTarget(block.node, emitter_.last);
                emitter_.Emit(Opcode::EXCEPT);
            }
            break;
        case Kind::If: CloseIf(); break;
        case Kind::Procedure:
            emitter_.Emit(Opcode::ENDPROC, block.node->text);
            procedure_ = nullptr;
            break;
        case Kind::Case: CloseCase(block); break;
        case Kind::Repeat:
        case Kind::Try: emitter_.Error("Syntax error"); break;
    }
}

// --- loops -------------------------------------------------------------------------

void ControlStatements::SetLoopStart(Instruction* init) { loopStart_ = init; }

// The test node leaves the loop by jumping to the BRANCH at its END (so it
// continues at the ENDLOOP after it); END and CONTINUE jump back after the
// loop's INIT node, to the code that computes the test's operands.
void ControlStatements::OpenLoop(uint32_t hash) {
    if (!HasRoom(1, 1, 0, 0, 1, 0)) return;
    Block& block = PushBlock(Kind::Loop);
    block.marker = NewBlockMarker();
    pending_.push_back({nullptr, block.marker});
    const bool foreach = hash == KeywordHashes[Keyword::ForEach] || hash == KeywordHashes[Keyword::ForEachRev];
    const double direction = hash == KeywordHashes[Keyword::ForEachRev] ? 1.0 : 0.0;
    Opcode opcode = Opcode::WHILE;
    if (hash == KeywordHashes[Keyword::For]) opcode = Opcode::FOR;
    if (foreach) opcode = Opcode::FOREACH;
    Instruction* test = emitter_.Emit(opcode, nullptr, direction);
    Instruction* init = loopStart_;
    loopStart_ = nullptr;
    if (!init) {
        emitter_.Error("Syntax error");
        init = test->previous;
    }
    block.loop = static_cast<int>(loops_.size());
    loops_.push_back({init, test, foreach, direction});
}

void ControlStatements::CloseLoop(const Block& block) {
    const Loop loop = loops_[static_cast<size_t>(block.loop)];
    Instruction* branch = emitter_.Emit(Opcode::BRANCH, nullptr, 0.0, loop.init);
    emitter_.SetTarget(loop.test, branch);
    ResolvePendingJumps(branch, block.marker);
    emitter_.Emit(Opcode::ENDLOOP);
    loops_.resize(static_cast<size_t>(block.loop));
}

// REPEAT keeps the node before its body (the INITWHILE of __STARTREPEAT);
// UNTIL jumps back after it while its condition is false.
void ControlStatements::OpenRepeat() {
    if (!HasRoom(1, 0, 0, 1, 1, 0)) return;
    Block& block = PushBlock(Kind::Repeat);
    block.marker = NewBlockMarker();
    block.node = emitter_.last;
    repeatTry_.push_back({emitter_.last, false});
    pending_.push_back({nullptr, block.marker});
}

void ControlStatements::CompileUntil() {
    const Block* block = Innermost();
    if (!block || block->kind != Kind::Repeat || repeatTry_.empty() || repeatTry_.back().isTry) {
        emitter_.Error("UNTIL found without a REPEAT statement");
        return;
    }
    Instruction* const start = block->node;
    const int marker = block->marker;
    blocks_.pop_back();
    repeatTry_.pop_back();
    Instruction* until = emitter_.Emit(Opcode::UNTIL, nullptr, 0.0, start);
    ResolvePendingJumps(until, marker);
    emitter_.Emit(Opcode::ENDLOOP);
}

// --- TRY ---------------------------------------------------------------------------

// TRY pushes a run-time entry naming the BRANCH that ends the TRY part: a
// fault resumes after it, in the EXCEPT part; the normal path takes the
// BRANCH over the EXCEPT part to the EXCEPT node, which pops the entry.
void ControlStatements::OpenTry() {
    if (!HasRoom(1, 0, 0, 1, 0, 0)) return;
    repeatTry_.push_back({emitter_.Emit(Opcode::TRY), true});
    PushBlock(Kind::Try);
}

void ControlStatements::CompileExcept() {
    const Block* block = Innermost();
    if (!block || block->kind != Kind::Try || repeatTry_.empty() || !repeatTry_.back().isTry) {
        emitter_.Error("EXCEPT found without a TRY statement");
        return;
    }
    blocks_.pop_back();
    Instruction* branch = emitter_.Emit(Opcode::BRANCH);
    PushBlock(Kind::Except).node = branch;
    emitter_.SetTarget(repeatTry_.back().node, branch);
    repeatTry_.pop_back();
}

// FINALLY ends the EXCEPT part early: both paths meet at the EXCEPT node
// here and run the FINALLY part with the TRY entry popped.
void ControlStatements::CompileFinally() {
    Block* block = Innermost();
    if (!block || block->kind != Kind::Except || !block->node) {
        emitter_.Error("Syntax error");
        return;
    }
    emitter_.SetTarget(block->node, emitter_.last);
    emitter_.Emit(Opcode::EXCEPT);
    block->node = nullptr;
}

// --- BREAK and CONTINUE --------------------------------------------------------------

void ControlStatements::CompileLeave(bool isBreak) {
    int triesLeft = 0;
    const Block* loopBlock = nullptr;
    for (auto it = blocks_.rbegin(); it != blocks_.rend() && it->kind != Kind::Procedure; ++it) {
        if (it->kind == Kind::Loop || it->kind == Kind::Repeat) {
            loopBlock = &*it;
            break;
        }
        // A TRY part, or an EXCEPT part before its FINALLY, still has its
        // run-time TRY entry pushed.
        if (it->kind == Kind::Try || (it->kind == Kind::Except && it->node)) ++triesLeft;
    }
    if (!loopBlock) {
        emitter_.Error(isBreak ? "BREAK statement found outside a loop" : "CONTINUE statement found outside a loop");
        return;
    }
    if (isBreak && !HasRoom(0, 0, 0, 0, 1, 0)) return;
    const Block& target = *loopBlock;  // blocks_ stays as it is here
    for (int i = 0; i < triesLeft; ++i) emitter_.Emit(Opcode::EXPECT);
    if (!isBreak) {
        Instruction* start = target.kind == Kind::Loop ? loops_[static_cast<size_t>(target.loop)].init : target.node;
        emitter_.Emit(Opcode::BRANCH, nullptr, 0.0, start);
    } else {
        if (target.kind == Kind::Loop) {
            const Loop& loop = loops_[static_cast<size_t>(target.loop)];
            if (loop.foreach) emitter_.Emit(Opcode::BREAK, nullptr, loop.direction, loop.test);
        }
        // Only the loop's own END or UNTIL resolves this jump.
        pending_.push_back({emitter_.Emit(Opcode::BRANCH), target.marker});
    }
    emitter_.Emit(Opcode::ENDLOOP);
}

// --- CASE --------------------------------------------------------------------------

// CASE keeps its selector in the slot of its block depth. Each label
// compares the selector with its values and, on no match, jumps after the
// BRANCH that ends its branch, to the next label; each branch's BRANCH goes
// to the END.
void ControlStatements::OpenCase() {
    if (static_cast<int>(blocks_.size()) + 1 > kMaxCaseDepth) {
        emitter_.Error(Bound("CASE nested too deeply", kMaxCaseDepth));
        return;
    }
    if (!HasRoom(1, 0, 0, 0, 1, 0)) return;
    Block& block = PushBlock(Kind::Case);
    block.marker = NewBlockMarker();
    block.firstBranch = true;
    block.caseNumber = ++caseCount_;
    pending_.push_back({nullptr, block.marker});
    emitter_.Emit(Opcode::PULLCASE, nullptr, static_cast<double>(blocks_.size() - 1));
}

void ControlStatements::CompileCaseLabel(const char* text) {
    if (defaultLabel_) {
        defaultLabel_ = false;
        return;
    }
    const Block* block = Innermost();
    if (!block || block->kind != Kind::Case) {
        emitter_.Error("Syntax error");
        return;
    }
    if (!HasRoom(0, 0, 0, 0, 0, 1)) return;
    Instruction* label = emitter_.Emit(Opcode::PUSHCASE, nullptr, static_cast<double>(blocks_.size() - 1));
    const double count = StringToNumber(text + 1);
    label->extraWord = count > 0 ? static_cast<uintptr_t>(count) : 0;
    caseLabels_.push_back({caseCount_, label});
}

void ControlStatements::StartCaseBranch() {
    Block* block = Innermost();
    if (!block || block->kind != Kind::Case) {
        emitter_.Error("Syntax error");
        return;
    }
    if (block->firstBranch) {
        block->firstBranch = false;
        return;
    }
    if (!HasRoom(0, 0, 0, 0, 1, 0)) return;
    Instruction* branch = emitter_.Emit(Opcode::BRANCH);
    pending_.push_back({branch, block->marker});
    if (!caseLabels_.empty() && caseLabels_.back().caseNumber == block->caseNumber) {
        emitter_.SetTarget(caseLabels_.back().node, branch);
        caseLabels_.pop_back();
    }
}

void ControlStatements::CloseCase(const Block& block) {
    if (!caseLabels_.empty() && caseLabels_.back().caseNumber == block.caseNumber) {
        emitter_.SetTarget(caseLabels_.back().node, emitter_.last);
        caseLabels_.pop_back();
    }
    if (caseCount_ > 0) --caseCount_;
    ResolvePendingJumps(emitter_.last, block.marker);
}

// --- bookkeeping ---------------------------------------------------------------------

void ControlStatements::ResolvePendingJumps(Instruction* target, int marker) {
    std::vector<PendingJump> enclosing;
    while (!pending_.empty()) {
        const PendingJump entry = pending_.back();
        pending_.pop_back();
        if (!entry.node) {
            if (entry.owner == marker) break;
            continue;  // the mark of a block that was never closed
        }
        if (entry.owner == marker) emitter_.SetTarget(entry.node, target);
        else enclosing.push_back(entry);  // a BREAK of an enclosing loop
    }
    pending_.insert(pending_.end(), enclosing.rbegin(), enclosing.rend());
    emitter_.MarkTarget(target);
}

bool ControlStatements::HasRoom(int blocks, int loops, int ifParts, int repeatTry, int pending, int labels) {
    const char* full = nullptr;
    int limit = 0;
    if (static_cast<int>(blocks_.size()) + blocks > kMaxOpenBlocks) {
        full = "Statements nested too deeply";
        limit = kMaxOpenBlocks;
    } else if (static_cast<int>(loops_.size()) + loops > kMaxOpenLoops) {
        full = "Loops nested too deeply";
        limit = kMaxOpenLoops;
    } else if (static_cast<int>(ifParts_.size()) + ifParts > kMaxIfParts) {
        full = "Too many open IF and ELSEIF parts";
        limit = kMaxIfParts;
    } else if (static_cast<int>(repeatTry_.size()) + repeatTry > kMaxRepeatTry) {
        full = "REPEAT and TRY statements nested too deeply";
        limit = kMaxRepeatTry;
    } else if (static_cast<int>(pending_.size()) + pending > kMaxPendingJumps) {
        full = "Too many pending jumps";
        limit = kMaxPendingJumps;
    } else if (static_cast<int>(caseLabels_.size()) + labels > kMaxCaseLabels) {
        full = "Too many open CASE labels";
        limit = kMaxCaseLabels;
    }
    if (!full) return true;
    emitter_.Error(Bound(full, limit));
    return false;
}

ControlStatements::Block& ControlStatements::PushBlock(Kind kind) {
    Block& block = blocks_.emplace_back();
    block.kind = kind;
    block.text.assign(token_->text);
    block.file = token_->file;
    block.line = token_->line;
    block.column = token_->column;
    return block;
}

void ControlStatements::CheckAllClosed() {
    if (!ifParts_.empty())
        emitter_.ErrorAt("An IF statement has not been closed with an END statement", nullptr);
    if (!repeatTry_.empty())
        emitter_.ErrorAt("A REPEAT, FOREACH or a FOR statement has not been closed with an UNTIL statement!", nullptr);
    bool exceptOpen = false;
    for (const Block& block : blocks_) exceptOpen = exceptOpen || block.kind == Kind::Except;
    if (!loops_.empty() || exceptOpen)
        emitter_.ErrorAt("A WHILE statement has not been closed with an END statement!", nullptr);
    if (!blocks_.empty()) {
        const Block& open = blocks_.back();
        TokenNode at{};
        at.text = const_cast<char*>(open.text.c_str());
        at.file = open.file;
        at.line = open.line;
        at.column = open.column;
        emitter_.ErrorAt("An END statement is missing", &at);
    }
    blocks_.clear();
    loops_.clear();
    ifParts_.clear();
    repeatTry_.clear();
    pending_.clear();
    caseLabels_.clear();
}

}  // namespace qob
