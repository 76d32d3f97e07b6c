// Tests of the variable store: creation, the lookup order and scopes,
// find-or-create, explicit mode, protection, release and reuse, and getters
// and setters run as procedures.
#include "runtime/values/variable_store.h"

#include "platform/memory.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/values_fixture.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

#include <cstring>
#include <string>

namespace qob {
namespace {

using testing::NumberOf;
using testing::TextOf;
using VariableStoreTest = testing::ValuesTest;

// A node whose side record carries the namespace (scope id) of lookups.
Instruction* NodeInNamespace(uint32_t scope) {
    CurrentNamespaceHash = scope;
    Instruction* node = EmitInstruction(nullptr, NopHandler, nullptr, 0, nullptr, 34, nullptr, 1, 1);
    CurrentNamespaceHash = 0;
    return node;
}

TEST_F(VariableStoreTest, NamesAreUpperCasedAndLookupsHashAsGiven) {
    VariableRecord* v = Local("count$");
    ASSERT_NE(v, nullptr);
    EXPECT_STREQ(v->name, "COUNT$");
    EXPECT_EQ(FindVariable("COUNT$", 0), v);
    EXPECT_EQ(FindVariable("count$", 0), nullptr);
    EXPECT_EQ(Local("count"), nullptr);
    EXPECT_EQ(FindVariable("COUNT", 0), nullptr);
    VariableRecord* dotted = Local("a.b$");
    EXPECT_EQ(dotted->dotPosition, 1);
}

TEST_F(VariableStoreTest, LookupOrderMembersLocalsGlobalsConstants) {
    VariableRecord* global = Global("X$");
    EXPECT_EQ(FindVariable("X$", 0), global);
    VariableRecord* local = Local("X$");
    EXPECT_EQ(FindVariable("X$", 0), local);
    VariableRecord* head = AllocateVariableRecord(context, false);
    VariableRecord* member = CreateVariable(head, "X$", false);
    MemberList = head;
    EXPECT_EQ(FindVariable("X$", 0), member);
    MemberList = nullptr;
    FreeVariableChain(context, head, true);
    FreeVariableList(context, head);
    VariableRecord* constant = CreateVariable(ChooseVariableList(frame, "K%"), "K%", false);
    EXPECT_EQ(ConstantList, constant);
    // Constants are found from any namespace.
    CurrentInstruction = NodeInNamespace(99);
    EXPECT_EQ(FindVariable("K%", 0), constant);
}

TEST_F(VariableStoreTest, NamespaceScopesFallBackToScopeZero) {
    VariableRecord* plain = Global("G$");
    CurrentInstruction = NodeInNamespace(5);
    // A global of scope 0 is found from any namespace until one of the
    // namespace's own exists.
    EXPECT_EQ(FindVariable("G$", 0), plain);
    VariableRecord* scoped = CreateVariable(context->globalHead, "G$", false);
    scoped->scope = 5;
    EXPECT_EQ(FindVariable("G$", 0), scoped);
    CurrentInstruction = nullptr;
    EXPECT_EQ(FindVariable("G$", 0), plain);
    // A local made in a namespace carries its scope.
    CurrentInstruction = NodeInNamespace(5);
    VariableRecord* local = CreateVariable(frame, "L$", false);
    EXPECT_EQ(local->scope, 5u);
    CurrentInstruction = nullptr;
    EXPECT_EQ(FindVariable("L$", 0), nullptr);
}

TEST_F(VariableStoreTest, RequireFindsBeforeItCreates) {
    VariableRecord* global = Global("TOTAL$");
    // Names given as run-time text may be lower case.
    EXPECT_EQ(RequireVariable(frame, "total$"), global);
    VariableRecord* made = RequireVariable(frame, "fresh$");
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->owner, frame);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(RequireVariable(frame, "FRESH$"), made);
    int records = 0;
    for (VariableRecord* r = frame; r; r = r->next)
        records += r->name && std::strcmp(r->name, "FRESH$") == 0;
    EXPECT_EQ(records, 1);
    EXPECT_EQ(LastError(), "");
}

TEST_F(VariableStoreTest, ExplicitModeReportsAndStillCreates) {
    context->explicitDeclarations = 1;
    VariableRecord* v = RequireVariable(frame, "UNDECLARED$");
    EXPECT_NE(v, nullptr);
    EXPECT_NE(LastError().find("Variable UNDECLARED$ has not been defined!"), std::string::npos);
    ClearError();
    NoExplicitCheck = 1;
    EXPECT_NE(RequireVariable(frame, "QUIET$"), nullptr);
    EXPECT_EQ(LastError(), "");
}

TEST_F(VariableStoreTest, MissingStructureMemberIsReported) {
    Local("S$")->flags = kVarStructure;
    EXPECT_NE(RequireVariable(frame, "S.M$"), nullptr);
    EXPECT_NE(LastError().find("Variable M$ has not been defined in struct or in object class S$!"),
              std::string::npos);
    ClearError();
    EXPECT_NE(RequireVariable(frame, "NONE.M$"), nullptr);
    EXPECT_NE(LastError().find("Variable NONE.M$ has not been defined!"), std::string::npos);
}

TEST_F(VariableStoreTest, ProtectedVariableIgnoresWrites) {
    VariableRecord* v = Local("P$");
    SetVariableValue(v, nullptr, 1, nullptr, 0);
    v->protect = 1;
    SetVariableValue(v, nullptr, 5, nullptr, 0);
    SetVariableValue(v, "text", 0, nullptr, 5);
    EXPECT_EQ(NumberOf(v), 1);
    EXPECT_EQ(v->data, nullptr);
    v->protect = 0;
    SetVariableValue(v, nullptr, 5, nullptr, 0);
    EXPECT_EQ(NumberOf(v), 5);
}

// A number written over each kind of value: what the variable held before is
// freed only when it owned it, and typed storage takes the number in place.
TEST_F(VariableStoreTest, NumberWrittenOverEachKindOfValue) {
    VariableRecord* owned = Local("OWNED$");
    SetVariableValue(owned, "owned", 0, nullptr, 6);
    char* ownedBlock = owned->data;

    VariableRecord* handed = Local("HANDED$");
    char* borrowed = static_cast<char*>(platform::AllocateBlock(8));
    std::strcpy(borrowed, "lent");
    SetVariableValue(handed, borrowed, 0, nullptr, -1);
    handed->flags |= kVarHandedOver;

    VariableRecord* typed = Local("TYPED$");
    int32_t storage = 0;
    typed->type = -4;
    typed->data = reinterpret_cast<char*>(&storage);

    VariableRecord* plain = Local("PLAIN$");
    SetVariableValue(plain, nullptr, 1, nullptr, 0);

    for (VariableRecord* v : {owned, handed, typed, plain}) {
        SetVariableValue(v, nullptr, 7, nullptr, 0);
        EXPECT_EQ(NumberOf(v), 7) << v->name;
        EXPECT_EQ(TextOf(v), "") << v->name;
    }
    EXPECT_FALSE(platform::IsLiveBlock(ownedBlock));
    EXPECT_EQ(owned->data, nullptr);
    EXPECT_EQ(owned->flags & kVarOwnsData, 0u);
    EXPECT_TRUE(platform::IsLiveBlock(borrowed));
    EXPECT_EQ(handed->data, nullptr);
    EXPECT_EQ(handed->flags & kVarHandedOver, 0u);
    EXPECT_EQ(storage, 7);
    EXPECT_EQ(typed->data, reinterpret_cast<char*>(&storage));
    platform::FreeBlock(borrowed);
}

TEST_F(VariableStoreTest, NewTextFromInsideTheOldBlockSurvives) {
    VariableRecord* v = Local("T$");
    SetVariableValue(v, "hello world", 0, nullptr, 12);
    char* old = v->data;
    SetVariableValue(v, old + 6, 0, nullptr, 6);
    EXPECT_EQ(TextOf(v), "world");
    EXPECT_FALSE(platform::IsLiveBlock(old));
    // Storing the variable's own data again keeps it.
    char* now = v->data;
    SetVariableValue(v, now, 0, nullptr, 6);
    EXPECT_EQ(v->data, now);
    EXPECT_EQ(TextOf(v), "world");
    // A borrowed text with no size is copied by its terminator.
    char borrowed[] = "abc";
    SetVariableValue(v, borrowed, 0, nullptr, 0);
    borrowed[0] = 'X';
    EXPECT_EQ(TextOf(v), "abc");
}

TEST_F(VariableStoreTest, ReleasedLocalsKeepTheirNamesForTheNextCall) {
    VariableRecord* v = Local("A$");
    SetVariableValue(v, "owned", 0, nullptr, 6);
    v->flags |= kVarPublic;
    FreeVariableChain(context, frame, false);
    EXPECT_STREQ(v->name, "A$");
    EXPECT_EQ(v->data, nullptr);
    EXPECT_EQ(v->flags, kVarPublic);
    EXPECT_EQ(Local("A$"), v);
    // With names freed the records become slots for new names.
    FreeVariableChain(context, frame, true);
    EXPECT_EQ(v->name, nullptr);
    EXPECT_EQ(FindVariable("A$", 0), nullptr);
    EXPECT_EQ(CreateVariable(frame, "B$", true), v);
}

TEST_F(VariableStoreTest, DeclareAndGetByName) {
    VariableRecord* v = DeclareVariable("COUNT%", nullptr, 3, nullptr, 0);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->owner, ConstantList);
    EXPECT_EQ(DeclareVariable("COUNT%", "x", 0, nullptr, 2), v);
    char* text = nullptr;
    double value = 7;
    GetVariableByName("COUNT%", &text, &value, nullptr);
    EXPECT_STREQ(text, "x");
    GetVariableByName("MISSING$", &text, &value, nullptr);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(value, 0);
    EXPECT_NE(FindVariable("MISSING$", 0), nullptr);
}

// --- getters and setters -------------------------------------------------------

VariableRecord* gAccessed = nullptr;
int gAccessorRuns = 0;
double gArgument = 0;

// The three arguments of an accessor, then its result.
void PopAccessorArguments() {
    StackEntry* byReference = PopStackEntry();
    EXPECT_EQ(byReference->variable, gAccessed);
    EXPECT_EQ(byReference->flags & kEntryByReference, kEntryByReference);
    gArgument = PopStackEntry()->value;
    PopStackEntry();  // the field address
    ++gAccessorRuns;
}

void SetterGivingFive() {
    PopAccessorArguments();
    PushNumber(5);
}

void SetterWritingItsVariable() {
    PopAccessorArguments();
    SetVariableValue(gAccessed, nullptr, gArgument * 10, nullptr, 0);
    PushNumber(gArgument * 10);
}

void GetterReadingItsVariable() {
    PopAccessorArguments();
    PushNumber(NumberOf(gAccessed) + 1);
}

void GetterFailing() {
    PopAccessorArguments();
    RaiseRuntimeError("getter failed", 0);
}

TEST_F(VariableStoreTest, SetterResultIsWhatIsStored) {
    gAccessed = Local("V$");
    gAccessorRuns = 0;
    gAccessed->setter = AddProcedure("SETV(3,1)", true, {SetterGivingFive});
    SetVariableValue(gAccessed, nullptr, 1, nullptr, 0);
    SetVariableValue(gAccessed, "text", 0, nullptr, 5);
    EXPECT_EQ(gAccessorRuns, 2);
    EXPECT_EQ(NumberOf(gAccessed), 5);
    EXPECT_EQ(gAccessed->data, nullptr);
}

TEST_F(VariableStoreTest, AccessorsTouchingTheirOwnVariableDoNotRecurse) {
    gAccessed = Local("R$");
    gAccessorRuns = 0;
    gAccessed->setter = AddProcedure("SETR(3,1)", true, {SetterWritingItsVariable});
    SetVariableValue(gAccessed, nullptr, 2, nullptr, 0);
    EXPECT_EQ(gAccessorRuns, 1);
    gAccessed->getter = AddProcedure("GETR(3,1)", true, {GetterReadingItsVariable});
    gAccessorRuns = 0;
    EXPECT_EQ(NumberOf(gAccessed), 21);
    EXPECT_EQ(gAccessorRuns, 1);
}

TEST_F(VariableStoreTest, GetterRaisingAnErrorLeavesTheValueRead) {
    gAccessed = Local("E$");
    SetVariableValue(gAccessed, nullptr, 8, nullptr, 0);
    gAccessorRuns = 0;
    gAccessed->getter = AddProcedure("GETE(3,1)", true, {GetterFailing});
    StackEntry* top = context->stackTop;
    EXPECT_EQ(NumberOf(gAccessed), 8);
    EXPECT_EQ(gAccessorRuns, 1);
    EXPECT_NE(LastError().find("getter failed"), std::string::npos);
    EXPECT_EQ(context->stackTop, top);
    EXPECT_EQ(context->argumentFrame.count, 0);
}

}  // namespace
}  // namespace qob
