// compiler/back_end/control_statements.h
// Block statements of the code generator: pairing IF/ELSE/END, the loops,
// REPEAT/UNTIL, TRY/EXCEPT/FINALLY, CASE and its labels, BREAK and CONTINUE,
// and the jumps between them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/registry/keywords.h"

namespace qob {

struct Instruction;
struct NodeEmitter;
struct TokenNode;

// Fixed bounds of the block bookkeeping. A source that nests deeper gets a
// compile error at the statement that would pass a bound.
constexpr int kMaxOpenBlocks = 4096;
constexpr int kMaxOpenLoops = 128;
constexpr int kMaxIfParts = 128;        // open IF and ELSEIF parts
constexpr int kMaxRepeatTry = 128;      // open REPEAT and TRY statements
constexpr int kMaxCaseLabels = 128;     // labels waiting for their branch's end
constexpr int kMaxPendingJumps = 512;   // forward jumps and block marks
constexpr int kMaxCaseDepth = 1024;     // a CASE keeps its selector in slot depth - 1

// Blocks nest strictly: every closing keyword must close the innermost open
// block, and each construct keeps its own kind:
//   'I' IF and each ELSEIF part, 'W' WHILE/FOR/FOREACH/FOREACHREV, 'R' REPEAT,
//   'T' the TRY part, 'X' the EXCEPT part, 'C' CASE, '1' a procedure body.
// BREAK and CONTINUE act on the innermost 'W' or 'R' block, never on a TRY,
// and pop the run-time TRY entry of every TRY or EXCEPT part they leave.
// BREAK inside a CASE leaves the enclosing loop, not the CASE: CASE branches
// never fall through, so there is nothing to break out of.
class ControlStatements {
public:
    explicit ControlStatements(NodeEmitter& emitter);

    // Compiles the token when it is a control keyword, a loop marker, a case
    // label or DEFAULT, and returns true; false for any other token.
    bool Compile(const TokenNode* token);

    // False when Compile would return false for a token of this hash and
    // text (true does not mean it takes it): nearly every token of a
    // program is told so here, without a call.
    [[nodiscard]] static bool MayCompile(uint32_t hash, const char* text) {
        return ((kWordMarks[(hash >> 6) & 3] >> (hash & 63)) & 1) != 0 || (text[0] == ':' && text[1] != ':');
    }

    // Opens the body of the procedure that starts at start (its STARTPROC).
    void OpenProcedure(const TokenNode* header, Instruction* start);
    // The STARTPROC of the procedure whose body is open, or null.
    [[nodiscard]] Instruction* CurrentProcedure() const { return procedure_; }

    // The checks at the end of the unit: every block must be closed.
    void CheckAllClosed();

private:
    // The words Compile takes by hash, and a bit for each of them among 256
    // picked by the hash's low 8 bits.
    static constexpr Keyword kWords[] = {
        Keyword::If,          Keyword::ElseIfMarker, Keyword::Else,         Keyword::End,
        Keyword::StartWhile,  Keyword::StartRepeat,  Keyword::StartFor,     Keyword::StartForEach,
        Keyword::While,       Keyword::For,          Keyword::ForEach,      Keyword::ForEachRev,
        Keyword::Repeat,      Keyword::Until,        Keyword::Try,          Keyword::Except,
        Keyword::Finally,     Keyword::Continue,     Keyword::Break,        Keyword::Case,
        Keyword::Default,     Keyword::StartCase,
    };
    static constexpr std::array<uint64_t, 4> kWordMarks = [] {
        std::array<uint64_t, 4> marks{};
        for (const Keyword word : kWords) {
            const uint32_t hash = KeywordHashes[word];
            marks[(hash >> 6) & 3] |= uint64_t{1} << (hash & 63);
        }
        return marks;
    }();

    enum class Kind : char { If = 'I', Loop = 'W', Repeat = 'R', Try = 'T', Except = 'X', Case = 'C', Procedure = '1' };

    struct Block {
        Kind kind = Kind::If;
        std::string text;            // the opening token, for "An END statement is missing"
        const char* file = nullptr;
        int32_t line = 0;
        uint16_t column = 0;
        int marker = 0;              // 'W', 'R', 'C': the mark of their pending jumps
        int loop = -1;               // 'W': its loop entry
        Instruction* node = nullptr; // '1': STARTPROC; 'R': the node UNTIL jumps to; 'X': the BRANCH
                                     // ending the TRY part (null once FINALLY has popped the TRY entry)
        bool elseSeen = false;       // 'I'
        bool firstBranch = false;    // 'C': no branch has started yet
        int caseNumber = 0;          // 'C': the CASE count when it opened
    };
    struct Loop {
        Instruction* init;           // INITWHILE / INITFOR / INITFOREACH: CONTINUE and END jump after it
        Instruction* test;           // WHILE / FOR / FOREACH: leaves the loop after the END's BRANCH
        bool foreach;
        double direction;            // FOREACH operand: 1.0 for FOREACHREV
    };
    struct IfPart {
        Instruction* node;           // the IF, or the BRANCH of its ELSE
        int level;
    };
    struct RepeatTry {
        Instruction* node;           // REPEAT: the node UNTIL jumps to; TRY: the TRY node
        bool isTry;
    };
    struct PendingJump {
        Instruction* node;           // null for a block mark
        int owner;                   // the mark of the block that resolves it (a block mark: its own)
    };
    struct CaseLabel {
        int caseNumber;
        Instruction* node;
    };

    void OpenIf();
    void CompileElse();
    void CompileEnd();
    void CloseLoop(const Block& block);
    void CloseIf();
    void CloseCase(const Block& block);
    void SetLoopStart(Instruction* init);
    void OpenLoop(uint32_t hash);
    void OpenRepeat();
    void CompileUntil();
    void OpenTry();
    void CompileExcept();
    void CompileFinally();
    void CompileLeave(bool isBreak);
    void OpenCase();
    void CompileCaseLabel(const char* text);
    void StartCaseBranch();

    // Room check before a construct opens; reports the first bound that
    // would be passed.
    bool HasRoom(int blocks, int loops, int ifParts, int repeatTry, int pending, int labels);
    Block& PushBlock(Kind kind);
    [[nodiscard]] Block* Innermost() { return blocks_.empty() ? nullptr : &blocks_.back(); }
    [[nodiscard]] int NewBlockMarker() const { return 1 - static_cast<int>(blocks_.size()); }
    // Gives every pending jump owned by marker the target, up to and
    // including the marker itself; jumps owned by enclosing blocks stay.
    void ResolvePendingJumps(Instruction* target, int marker);

    NodeEmitter& emitter_;
    const TokenNode* token_ = nullptr;
    std::vector<Block> blocks_;
    std::vector<Loop> loops_;
    std::vector<IfPart> ifParts_;
    int ifLevel_ = 0;
    std::vector<RepeatTry> repeatTry_;
    std::vector<PendingJump> pending_;
    std::vector<CaseLabel> caseLabels_;
    int caseCount_ = 0;
    bool defaultLabel_ = false;
    Instruction* loopStart_ = nullptr;  // the INIT node of the loop about to open
    Instruction* procedure_ = nullptr;
};

}  // namespace qob
