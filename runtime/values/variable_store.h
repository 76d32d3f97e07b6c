// runtime/values/variable_store.h
// Script variables and constants: the VariableRecord, the four lists that hold
// them, and the operations that create, find, read, write, release and free them.
#pragma once

#include <cstdint>

namespace qob {

struct ProgramContext;
struct Instruction;
struct ListNode;
struct MemoryLink;
struct MemberDefinition;

// Flag bits of VariableRecord::flags (and of ListNode::flags).
constexpr uint32_t kVarPublic = 0x1;            // public member of an object; kept across a release
constexpr uint32_t kVarStructShared = 0x2;      // structure: member arrays of its copies get no storage of their own
constexpr uint32_t kVarOwnsData = 0x10;         // the variable owns its data block and frees it
constexpr uint32_t kVarWideText = 0x20;         // the data is UTF-16 text
constexpr uint32_t kVarStructure = 0x100;
constexpr uint32_t kVarMatrix = 0x1000;
constexpr uint32_t kVarList = 0x10000;          // list variable; kept across a release that keeps the list
constexpr uint32_t kVarObject = 0x100000;
constexpr uint32_t kVarHandedOver = 0x1000000;  // a block handed over by address: nobody here frees it
constexpr uint32_t kVarHoldsObject = 0x10000000;  // array variable that received an object

constexpr int kMaxDimensions = 8;

// One script variable or constant. Records live in doubly linked lists whose
// first record is the list's head; a released record keeps name, hash, scope,
// owner and links so the next run of the same procedure finds it again by hash.
struct VariableRecord {
    char* name;                    // upper-cased, owned; null in a free slot
    uint32_t hash;                 // HashName of the upper-cased name (31 bits)
    double value;                  // the number; for an object the address of its instance head
    char* data;                    // text, UTF-16 text, block, matrix cells, class name or typed storage
    int32_t type;                  // type code of typed storage; 0 untyped
    uint32_t scope;                // scope id (namespace word of the creating instruction)
    uint32_t flags;                // kVar* bits
    uint32_t offset;               // byte offset of a member inside its parent's storage
    VariableRecord* parent;        // structure whose storage holds this member
    MemberDefinition* members;     // first member definition of a structure
    int32_t dimensions[kMaxDimensions];
    uint8_t dimensionCount;
    uint32_t elementCount;         // elements of an array or array field; 0 for a non-array
    uint32_t arrayWord;            // saved and restored with the array description
    ListNode* currentNode;         // a list variable's current node
    ListNode* writeBackNode;       // node the next write-back goes to before the current node is reloaded
    VariableRecord* reference;     // the record this one stands for
    MemoryLink* links;             // newest link of the blocks owned through the fields
    Instruction* getter;           // STARTPROC of the procedure run on a read; null none
    Instruction* setter;           // STARTPROC of the procedure run on a write; null none
    uint8_t dotPosition;           // index of the first "." in the name (0 none)
    uint32_t classHash;            // hash of an object's class name
    uint8_t protect;               // 1: every write is ignored
    uint32_t stamp;                // checksum of the list element last loaded or stored
    uint8_t arrayOrder;            // non-zero: column-major array
    VariableRecord* linkOwner;     // sharing another's storage: the variable whose links cover it
    VariableRecord* owner;         // head record of the list that holds this record
    VariableRecord* previous;
    VariableRecord* next;
};

// One member of a structure, in field order.
struct MemberDefinition {
    VariableRecord* member;
    int32_t type;
    uint32_t offset;
    uint32_t elementCount;
    MemberDefinition* previous;
    MemberDefinition* next;
};

// The process-wide list of "%" constants (its head, or null while empty).
extern VariableRecord* ConstantList;

// One-shot bytes. NoExplicitCheck suspends the explicit-declaration report of
// RequireVariable until a declaration keyword clears it; MemberLookupInstance
// names the instance head of the last dotted lookup that went through an object;
// MemberLookupRefused is set when the last lookup found a member that may not
// be reached from here (a private one): it was reported, and no record may be
// made in its place, or later reads would find that record instead.
extern uint8_t NoExplicitCheck;
extern VariableRecord* MemberLookupInstance;
extern uint8_t MemberLookupRefused;

// Hash a name exactly as given (no case folding), length from the terminator.
[[nodiscard]] uint32_t HashVariableName(const char* name);

// A new record for the name in the list (none for a name that ends in neither
// "$" nor "%"). With searchFirst a record of the same hash is released and reused.
VariableRecord* CreateVariable(VariableRecord* list, const char* name, bool searchFirst);
// The same for a name that ends in "$" or "%" and whose HashVariableName the
// caller knows already (a fixed name hashed once); the hash serves the
// same-hash search only.
VariableRecord* CreateVariableWithHash(VariableRecord* list, const char* name, uint32_t hash, bool searchFirst);
// The list where a new variable of that name belongs.
[[nodiscard]] VariableRecord* ChooseVariableList(VariableRecord* list, const char* name);
// Members, locals, globals (current scope, then scope 0), constants, dotted
// names. A hash of 0 hashes the name as given.
[[nodiscard]] VariableRecord* FindVariable(const char* name, uint32_t hash);
// Find-or-create: looks the name up (upper-cased copy) and creates it in the
// list ChooseVariableList gives when absent, with the explicit-mode reports.
// None for a refused member.
VariableRecord* RequireVariable(VariableRecord* list, const char* name);
// The variable a compiled name stands for: FindVariable with the name's hash,
// else RequireVariable in the local list; none for a refused member.
VariableRecord* FindOrRequireVariable(const char* name, uint32_t hash);
// Find or create, then store the value.
VariableRecord* DeclareVariable(const char* name, const char* text, double value, void* fieldAddress,
                                int64_t size);
// Find, or create with a zero value; then read it.
void GetVariableByName(const char* name, char** text, double* value, void* fieldAddress);

// Makes a fresh text block (a temporary nothing else holds or will free) the
// data of a plain untyped variable, as storing a copy of it would, without
// the copy: the variable owns and frees it from now on.
void AdoptUntypedText(VariableRecord* variable, char* block, double value);

// Store a value. size -1 hands the block over (it becomes the data, uncopied);
// another size copies that many bytes of the text.
void SetVariableValueInFull(VariableRecord* variable, const char* text, double value, void* fieldAddress,
                            int64_t size);
inline void SetVariableValue(VariableRecord* variable, const char* text, double value, void* fieldAddress,
                             int64_t size) {
    // The common write, a number into a plain variable (no list element, no
    // typed storage, no setter, nothing owned, not protected), is done here;
    // everything else goes the full way.
    if (variable && !text && !fieldAddress && !variable->currentNode && variable->type == 0 && !variable->setter &&
        variable->protect != 1 && !(variable->flags & (kVarOwnsData | kVarObject))) {
        variable->value = value;
        variable->flags &= ~(kVarMatrix | kVarHandedOver);
        variable->data = nullptr;
        return;
    }
    SetVariableValueInFull(variable, text, value, fieldAddress, size);
}
// Read a value: text (or null) and number.
void GetVariableValueInFull(VariableRecord* variable, char** text, double* value, void* fieldAddress);
inline void GetVariableValue(VariableRecord* variable, char** text, double* value, void* fieldAddress) {
    // A plain variable (no list element to reload, no typed storage, no
    // getter) is read here.
    if ((reinterpret_cast<uintptr_t>(fieldAddress) | reinterpret_cast<uintptr_t>(variable->currentNode) |
         reinterpret_cast<uintptr_t>(variable->getter) | static_cast<uint32_t>(variable->type)) == 0) {
        *text = variable->data;
        *value = variable->value;
        return;
    }
    GetVariableValueInFull(variable, text, value, fieldAddress);
}
// What reads and writes of a variable reach: for a list variable whose current
// element was passed by reference, the variable the element stands for (at the
// end of its reference chain); otherwise the variable itself.
[[nodiscard]] VariableRecord* ListElementTarget(VariableRecord* variable);

// The release of a record without flags or data: only its value and the
// accessors, protection and reference go.
inline void ReleasePlainRecord(VariableRecord* variable) {
    variable->value = 0;
    variable->getter = variable->setter = nullptr;
    variable->classHash = 0;
    variable->protect = 0;
    variable->reference = nullptr;
}
// Empties the value fields of a record whose owned data, members and links
// have been dealt with already (the flags are the caller's).
inline void ClearValueFields(VariableRecord* variable) {
    variable->data = nullptr;
    variable->classHash = 0;
    variable->elementCount = 0;
    variable->arrayWord = 0;
    variable->dimensionCount = 0;
    variable->value = 0;
    variable->offset = 0;
    variable->type = 0;
    variable->protect = 0;
    variable->links = nullptr;
    variable->getter = variable->setter = nullptr;
    variable->arrayOrder = 0;
    variable->linkOwner = nullptr;
}
void ReleaseVariableInFull(ProgramContext* context, VariableRecord* variable, bool keepList, bool keepDefinitions);
inline void ReleaseVariable(ProgramContext* context, VariableRecord* variable, bool keepList, bool keepDefinitions) {
    if (variable->flags == 0 && !variable->data) {
        ReleasePlainRecord(variable);
        return;
    }
    ReleaseVariableInFull(context, variable, keepList, keepDefinitions);
}
// Frees what the record owns; returns the reference it cut.
VariableRecord* ClearVariable(ProgramContext* context, VariableRecord* variable, bool keepList,
                              bool keepDefinitions);
// With freeNames the records become free slots; without, they are released and
// keep their names for the next run of the same procedure.
void FreeVariableChain(ProgramContext* context, VariableRecord* head, bool freeNames);
// Frees the records themselves, from the last back to the head.
void FreeVariableList(ProgramContext* context, VariableRecord* head);

// Frees every definition of a structure and releases the member variables.
void FreeMemberDefinitions(ProgramContext* context, VariableRecord* structure);
// Appends a definition for the member at the end of the structure's member list.
void AddMemberDefinition(VariableRecord* structure, VariableRecord* member);
// Points every member at the structure's storage (recursively for nested structures).
void RebaseStructMembers(VariableRecord* structure);

// The first record of a chain whose hash equals HashName(name), following next links.
[[nodiscard]] VariableRecord* FindNamedItem(VariableRecord* list, const char* name);
// The same for a hash known already.
[[nodiscard]] inline VariableRecord* FindItemWithHash(VariableRecord* list, uint32_t hash) {
    for (VariableRecord* r = list; r; r = r->next)
        if (r->hash == hash) return r;
    return nullptr;
}

// Allocate and free records: "$" records on the context's heap, "%" records
// on the process heap.
[[nodiscard]] VariableRecord* AllocateVariableRecord(ProgramContext* context, bool constant);
void FreeVariableRecord(ProgramContext* context, VariableRecord* record);

}  // namespace qob
