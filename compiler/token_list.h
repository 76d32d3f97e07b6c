// compiler/token_list.h
// TokenNode, the doubly linked token lists that every compiler stage hands
// on, their small queries, and the procedure-header token text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qob {

// Nodes and their texts come from the token lists' own store: a list is
// released with FreeTokenList (or node by node with UnlinkToken /
// DeleteTokenNext), never with free or by freeing a pool.
struct TokenNode {
    char* text;               // own NUL-terminated copy; freed with the node
    uint32_t hash;            // HashName of text: every keyword and name test compares this
    uint32_t storeBytes;      // size of the node's block in the store; set by the store alone
    const char* file;         // interned lower-case source file name; never freed with the node
    int32_t line;
    uint16_t column;
    uint16_t procedureIndex;  // set by the linker on procedure headers; 0 in a new node
    TokenNode* next;
    TokenNode* previous;
};

// While set, EmitToken appends nothing (process-wide, set by the front end).
void SetTokenOutputSuspended(bool suspended);
[[nodiscard]] bool IsTokenOutputSuspended();

// Makes a node for text (its own copy, hashed), with the interned form of
// fileName, and links it directly after cursor (also in the middle of a
// list); cursor then points to it. A null cursor starts a new list.
void EmitToken(TokenNode*& cursor, std::string_view text, const char* fileName, int line,
               int column);
// The same with a file name that already is the interned text.
void EmitInternedToken(TokenNode*& cursor, std::string_view text, const char* internedFile,
                       int line, int column);
// The same with the text's HashName known already.
void EmitHashedToken(TokenNode*& cursor, std::string_view text, uint32_t hash, const char* internedFile, int line,
                     int column);

// Replaces a node's text (a new copy) and its hash.
void SetTokenText(TokenNode* node, std::string_view text);

// Emits a copy of the whole list that holds anyNode (head first), with
// fileName in place of each node's own file.
void CopyTokenList(TokenNode*& cursor, const TokenNode* anyNode, const char* fileName);

// Joins the node's neighbours, frees it and returns its previous node
// (UnlinkToken) or its next node (DeleteTokenNext); null for null.
TokenNode* UnlinkToken(TokenNode* node);
TokenNode* DeleteTokenNext(TokenNode* node);

// Frees first and the nodes after it up to stop (not stop itself; null: to
// the end), and joins first's previous node to stop.
void DeleteTokensBefore(TokenNode* first, TokenNode* stop);

// Frees the node and every node before it.
void FreeTokenList(TokenNode* last);

[[nodiscard]] TokenNode* TokenListFirst(TokenNode* node);
// Nodes from the head up to and including this one; 0 for null.
[[nodiscard]] int TokenCountBack(const TokenNode* node);
// The head of the list and TokenCountBack's count, found in one walk: long
// lists lie scattered in memory, so each walk back costs a miss per node.
struct TokenListHead {
    TokenNode* first;
    int count;
};
[[nodiscard]] TokenListHead FindTokenListHead(TokenNode* node);
// Names a list's head, last node and length: FindTokenListHead answers for
// last without a walk until any list is changed (for a stage that knows them).
void RememberTokenList(TokenNode* first, TokenNode* last, int count);
// The node n steps after node (n = 0: node itself); null past the end.
[[nodiscard]] TokenNode* TokenListNth(TokenNode* node, int n);
// Position, counted from 0 at start, of the first node whose hash equals
// stop's; -1 when stop itself or the end comes first, or start is null.
[[nodiscard]] int FindNodeIndex(const TokenNode* start, const TokenNode* stop);

// For any list of records linked by previous and next (instruction lists):
// the list's first record, and the number of records in the whole list.
// The first is named "last" by the rest of the compiler; it is the head.
template <class Record>
[[nodiscard]] Record* RecordListLast(Record* record) {
    if (record == nullptr) return nullptr;
    while (record->previous != nullptr) record = record->previous;
    return record;
}
template <class Record>
[[nodiscard]] int RecordListCount(Record* record) {
    int count = 0;
    for (Record* r = RecordListLast(record); r != nullptr; r = r->next) ++count;
    return count;
}

// A display name (at most 20 characters) for a program compiled from a text:
// its first line without the line end, or, for a single line, the part
// before the first ";".
[[nodiscard]] std::string CutShortName(std::string_view text);

// True for the keywords whose block an END (or UNTIL) closes.
[[nodiscard]] bool IsLoopKeyword(uint32_t hash);

// True for the expression-parser token codes that may follow an argument.
[[nodiscard]] bool CanFollowArgument(char code);

// Procedure-header token text: kind byte, "_" (private) or blank, output
// count + 32, 0xA2 (forced link) or blank, then the procedure key.
constexpr size_t kProcHeaderKeyOffset = 4;
constexpr char kProcHeaderForceLink = static_cast<char>(0xA2);

[[nodiscard]] std::string MakeProcHeaderText(bool isPrivate, int outputCount, bool forceLink,
                                             std::string_view key);

// Writes the kind byte into header[0] from the procedure's output count, its
// N form (NPROC, NFUNC) and whether it is a FORWARD declaration.
void SetProcHeaderKind(char* header, int outputCount, bool nForm, bool forward);

}  // namespace qob
