// Tests of object instances (class procedures run exactly once, deep and
// shared copies, private members, dotted lookups), structure and array
// copies, and the kind codes of variables.
#include "runtime/values/objects.h"

#include "platform/memory.h"
#include "runtime/memory/memory_links.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/list_values.h"
#include "runtime/values/typed_fields.h"
#include "runtime/values/values_fixture.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/vm.h"

#include <cstring>
#include <iterator>
#include <string>

namespace qob {
namespace {

using testing::NumberOf;
using testing::TextOf;

int gInitRuns = 0;
int gCreateRuns = 0;
int gDestroyRuns = 0;

VariableRecord* Member(const char* name, bool isPublic) {
    VariableRecord* v = CreateVariable(MemberList, name, true);
    if (isPublic)
        v->flags |= kVarPublic;
    return v;
}

// POINT: public X$ = 1, private NAME$ = "point".
void InitPoint() {
    ++gInitRuns;
    SetVariableValue(Member("X$", true), nullptr, 1, nullptr, 0);
    SetVariableValue(Member("NAME$", false), "point", 0, nullptr, 6);
}
void CreatePoint() { ++gCreateRuns; }
void DestroyPoint() { ++gDestroyRuns; }

// OUTER holds a public INNER object IN$, whose public V$ is 7.
void InitInner() {
    ++gInitRuns;
    SetVariableValue(Member("V$", true), nullptr, 7, nullptr, 0);
}
void InitOuter() {
    ++gInitRuns;
    CreateObjectInstance(Member("IN$", true), "INNER", false);
}
// HIDER keeps its INNER object IN$ private.
void InitHider() {
    ++gInitRuns;
    CreateObjectInstance(Member("IN$", false), "INNER", false);
}

class ObjectsTest : public testing::ValuesTest {
protected:
    void SetUp() override {
        ValuesTest::SetUp();
        gInitRuns = gCreateRuns = gDestroyRuns = 0;
        AddClass("POINT");
        AddClass("INNER");
        AddClass("OUTER");
        AddClass("HIDER");
        AddProcedure("__CLASSCODE_POINT.__INIT(0,0)", false, {InitPoint});
        AddProcedure("__CLASSCODE_POINT.CREATE(0,0)", false, {CreatePoint});
        AddProcedure("__CLASSCODE_POINT.DESTROY(0,0)", false, {DestroyPoint});
        AddProcedure("__CLASSCODE_INNER.__INIT(0,0)", false, {InitInner});
        AddProcedure("__CLASSCODE_INNER.DESTROY(0,0)", false, {DestroyPoint});
        AddProcedure("__CLASSCODE_OUTER.__INIT(0,0)", false, {InitOuter});
        AddProcedure("__CLASSCODE_HIDER.__INIT(0,0)", false, {InitHider});
    }
};

TEST_F(ObjectsTest, CreationRunsInitAndConstructorOnceAndReleaseDestroysOnce) {
    VariableRecord* p = Local("P$");
    CreateObjectInstance(p, "POINT", true);
    EXPECT_EQ(gInitRuns, 1);
    EXPECT_EQ(gCreateRuns, 1);
    EXPECT_EQ(p->flags & (kVarObject | kVarOwnsData), kVarObject | kVarOwnsData);
    VariableRecord* x = FindVariable("P.X$", 0);
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(NumberOf(x), 1);
    EXPECT_EQ(MemberLookupInstance, reinterpret_cast<VariableRecord*>(static_cast<uintptr_t>(p->value)));
    ReleaseVariable(context, p, false, false);
    EXPECT_EQ(gDestroyRuns, 1);
    EXPECT_EQ(p->value, 0);
    ReleaseVariable(context, p, false, false);
    EXPECT_EQ(gDestroyRuns, 1);
}

TEST_F(ObjectsTest, PrivateMembersAreRefusedOutsideTheirInstance) {
    VariableRecord* p = Local("P$");
    CreateObjectInstance(p, "POINT", false);
    EXPECT_EQ(gCreateRuns, 0);
    EXPECT_EQ(FindVariable("P.NAME$", 0), nullptr);
    EXPECT_NE(LastError().find("Variable 'NAME$' cannot be accessed, it is private!"), std::string::npos);
    ClearError();
    // Inside a method of the same instance the member is reachable.
    MemberList = reinterpret_cast<VariableRecord*>(static_cast<uintptr_t>(p->value));
    VariableRecord* name = FindMemberVariable(nullptr, "P.NAME$", 0);
    MemberList = nullptr;
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(TextOf(name), "point");
    EXPECT_EQ(LastError(), "");
}

// A refused member must not be made into a record by the lookups that
// create what they miss: a later read would find that record and give an
// empty value without any report.
TEST_F(ObjectsTest, RefusedPrivateMemberIsNeverMadeIntoARecord) {
    VariableRecord* p = Local("P$");
    CreateObjectInstance(p, "POINT", false);
    const std::string refused = "Variable 'NAME$' cannot be accessed, it is private!";
    using Lookup = VariableRecord* (*)();
    const Lookup lookups[] = {
        [] { return RequireVariable(LocalVariableList, "P.NAME$"); },
        [] { return RequireVariable(LocalVariableList, "p.name$"); },
        [] {  // gives no record back: the report and the lists tell
            char* text = nullptr;
            double value = 0;
            GetVariableByName("P.NAME$", &text, &value, nullptr);
            return static_cast<VariableRecord*>(nullptr);
        },
        [] { return DeclareVariable("P.NAME$", nullptr, 5, nullptr, 0); },
        [] { return FindOrRequireVariable("P.NAME$", 0); },
    };
    // Each lookup, repeated, is reported every time and with nothing else.
    for (int round = 0; round < 2; ++round) {
        for (size_t i = 0; i < std::size(lookups); ++i) {
            ClearError();
            EXPECT_EQ(lookups[i](), nullptr) << i;
            EXPECT_NE(LastError().find(refused), std::string::npos) << i << ": " << LastError();
            EXPECT_EQ(LastError().find("has not been defined"), std::string::npos) << i << ": " << LastError();
        }
    }
    for (VariableRecord* list : {frame, context->globalHead})
        EXPECT_EQ(FindNamedItem(list, "P.NAME$"), nullptr);
    // The member kept its value; a found member clears the refusal.
    MemberList = reinterpret_cast<VariableRecord*>(static_cast<uintptr_t>(p->value));
    EXPECT_EQ(TextOf(FindVariable("NAME$", 0)), "point");
    MemberList = nullptr;
    EXPECT_NE(FindOrRequireVariable("P.X$", 0), nullptr);
    EXPECT_EQ(MemberLookupRefused, 0);
}

// A private object member is no way in to its own public members from outside.
TEST_F(ObjectsTest, PrivateObjectMemberRefusesTheMembersBehindIt) {
    VariableRecord* h = Local("H$");
    CreateObjectInstance(h, "HIDER", false);
    EXPECT_EQ(FindVariable("H.IN.V$", 0), nullptr);
    EXPECT_EQ(MemberLookupRefused, 1);
    EXPECT_NE(LastError().find("Variable 'IN$' cannot be accessed, it is private!"), std::string::npos);
    ClearError();
    MemberList = reinterpret_cast<VariableRecord*>(static_cast<uintptr_t>(h->value));
    VariableRecord* v = FindVariable("H.IN.V$", 0);
    MemberList = nullptr;
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(NumberOf(v), 7);
    EXPECT_EQ(LastError(), "");
}

TEST_F(ObjectsTest, DeepCopyRunsInitThenTakesTheSourceValues) {
    VariableRecord* p = Local("P$");
    CreateObjectInstance(p, "POINT", false);
    SetVariableValue(FindVariable("P.X$", 0), nullptr, 42, nullptr, 0);
    VariableRecord* q = Local("Q$");
    CopyObjectInstance(q, p, kCopyDeep, 0);
    EXPECT_EQ(gInitRuns, 2);
    EXPECT_NE(q->value, p->value);
    EXPECT_NE(q->data, p->data);
    EXPECT_STREQ(q->data, "POINT");
    EXPECT_EQ(NumberOf(FindVariable("Q.X$", 0)), 42);
    // The copy's text member is its own block.
    MemberList = reinterpret_cast<VariableRecord*>(static_cast<uintptr_t>(q->value));
    VariableRecord* qName = FindVariable("NAME$", 0);
    MemberList = reinterpret_cast<VariableRecord*>(static_cast<uintptr_t>(p->value));
    VariableRecord* pName = FindVariable("NAME$", 0);
    MemberList = nullptr;
    ASSERT_TRUE(qName && pName);
    EXPECT_NE(qName->data, pName->data);
    EXPECT_EQ(qName->flags & kVarOwnsData, kVarOwnsData);
    ReleaseVariable(context, p, false, false);
    EXPECT_EQ(gDestroyRuns, 1);
    EXPECT_EQ(TextOf(qName), "point");
    ReleaseVariable(context, q, false, false);
    EXPECT_EQ(gDestroyRuns, 2);
}

TEST_F(ObjectsTest, DeepCopyCopiesNestedObjectMembers) {
    VariableRecord* a = Local("A$");
    CreateObjectInstance(a, "OUTER", false);
    EXPECT_EQ(gInitRuns, 2);
    VariableRecord* v = FindVariable("A.IN.V$", 0);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(NumberOf(v), 7);
    SetVariableValue(v, nullptr, 9, nullptr, 0);
    VariableRecord* b = Local("B$");
    CopyObjectInstance(b, a, kCopyDeep, 0);
    VariableRecord* aIn = FindVariable("A.IN$", 0);
    VariableRecord* bIn = FindVariable("B.IN$", 0);
    ASSERT_TRUE(aIn && bIn);
    EXPECT_NE(aIn->value, bIn->value);
    EXPECT_EQ(NumberOf(FindVariable("B.IN.V$", 0)), 9);
    // The inner instance that B's __INIT made was replaced by the copy.
    EXPECT_EQ(gInitRuns, 5);
    EXPECT_EQ(gDestroyRuns, 1);
    // Each instance is destroyed once, by its own owner.
    ReleaseVariable(context, a, false, false);
    EXPECT_EQ(gDestroyRuns, 2);
    EXPECT_EQ(NumberOf(FindVariable("B.IN.V$", 0)), 9);
    ReleaseVariable(context, b, false, false);
    EXPECT_EQ(gDestroyRuns, 3);
}

TEST_F(ObjectsTest, SharedObjectKeepsItsOwnClassNameAndDestroysNothing) {
    VariableRecord* p = Local("P$");
    CreateObjectInstance(p, "POINT", false);
    VariableRecord* s = Local("S$");
    CopyObjectInstance(s, p, kCopyShare, 0);
    EXPECT_EQ(s->value, p->value);
    EXPECT_NE(s->data, p->data);
    EXPECT_EQ(s->flags & kVarOwnsData, 0u);
    EXPECT_EQ(NumberOf(FindVariable("S.X$", 0)), 1);
    ReleaseVariable(context, s, false, false);
    EXPECT_EQ(gDestroyRuns, 0);
    EXPECT_STREQ(p->data, "POINT");
    // A reference that would point back at itself is refused.
    CopyObjectInstance(p, p, kCopyShare, 1);
    EXPECT_EQ(p->reference, nullptr);
}

TEST_F(ObjectsTest, DottedNamesReachGlobalsTempObjectAndNestedObjects) {
    VariableRecord* global = Global("X$");
    SetVariableValue(global, nullptr, 3, nullptr, 0);
    SetVariableValue(Local("X$"), nullptr, 4, nullptr, 0);
    EXPECT_EQ(FindVariable("GLOBAL.X$", 0), global);
    VariableRecord* temp = Local("__STACKTEMPOBJECT$");
    CreateObjectInstance(temp, "POINT", false);
    VariableRecord* x = FindVariable(".X$", 0);
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(NumberOf(x), 1);
    VariableRecord* a = Local("A$");
    CreateObjectInstance(a, "OUTER", false);
    EXPECT_NE(FindVariable("A.IN.V$", 0), nullptr);
    EXPECT_EQ(FindVariable("A.IN.NONE$", 0), nullptr);
    EXPECT_EQ(FindVariable("NOOBJECT.X$", 0), nullptr);
}

TEST_F(ObjectsTest, FreeObjectInstanceRunsTheDestructor) {
    VariableRecord* p = Local("P$");
    CreateObjectInstance(p, "POINT", false);
    auto* head = reinterpret_cast<VariableRecord*>(static_cast<uintptr_t>(p->value));
    // The variable gives up the instance; the head is freed on its own.
    p->flags &= ~kVarOwnsData;
    p->value = 0;
    FreeObjectInstance(context, head);
    EXPECT_EQ(gDestroyRuns, 1);
    VariableRecord* self = FindVariable("___SELF$", 0);
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(self->flags & kVarObject, kVarObject);
}

// --- structures and arrays -------------------------------------------------------

using ValueCopiesTest = testing::ValuesTest;

// S$: 8 bytes of storage with members S.A$ (-4 at 0) and S.T$ (-4 at 4).
VariableRecord* MakeStructure(const char* name) {
    VariableRecord* s = CreateVariable(LocalVariableList, name, true);
    s->type = 8;
    s->data = static_cast<char*>(AllocateValueBlock(8));
    s->flags = kVarStructure | kVarOwnsData;
    std::string prefix(name, std::strlen(name) - 1);
    const char* members[] = {".A$", ".T$"};
    for (int i = 0; i < 2; ++i) {
        VariableRecord* m = CreateVariable(LocalVariableList, (prefix + members[i]).c_str(), true);
        m->type = -4;
        m->offset = static_cast<uint32_t>(4 * i);
        m->parent = s;
        AddMemberDefinition(s, m);
    }
    RebaseStructMembers(s);
    return s;
}

TEST_F(ValueCopiesTest, StructureDeepCopyOwnsItsStorageAndTexts) {
    VariableRecord* s = MakeStructure("S$");
    SetVariableValue(FindVariable("S.A$", 0), nullptr, 11, nullptr, 0);
    SetVariableValue(FindVariable("S.T$", 0), "text", 0, nullptr, 5);
    VariableRecord* t = Local("T$");
    AssignStructureValue(t, s, kCopyDeep, 0, s->data);
    ASSERT_NE(t->data, nullptr);
    EXPECT_NE(t->data, s->data);
    EXPECT_EQ(t->flags & (kVarStructure | kVarOwnsData), kVarStructure | kVarOwnsData);
    VariableRecord* ta = FindVariable("T.A$", 0);
    VariableRecord* tt = FindVariable("T.T$", 0);
    ASSERT_TRUE(ta && tt);
    EXPECT_EQ(NumberOf(ta), 11);
    EXPECT_EQ(TextOf(tt), "text");
    SetVariableValue(FindVariable("S.T$", 0), "changed", 0, nullptr, 8);
    EXPECT_EQ(TextOf(tt), "text");
    EXPECT_EQ(VarTypeOf(t), 3);
    EXPECT_EQ(VarTypeOf(ta), 0);
    EXPECT_EQ(VarTypeOf(tt), 9);
}

TEST_F(ValueCopiesTest, SharedStructureWritesThroughTheOwnersLinks) {
    VariableRecord* s = MakeStructure("S$");
    SetVariableValue(FindVariable("S.T$", 0), "one", 0, nullptr, 4);
    VariableRecord* t = Local("T$");
    AssignStructureValue(t, s, kCopyShare, 0, s->data);
    EXPECT_EQ(t->data, s->data);
    EXPECT_EQ(t->flags & (kVarHandedOver | kVarOwnsData), kVarHandedOver);
    VariableRecord* tt = FindVariable("T.T$", 0);
    ASSERT_NE(tt, nullptr);
    EXPECT_EQ(TextOf(tt), "one");
    // A write through the sharer replaces the owner's block in the owner's
    // chain: one chain, so nothing is freed twice or left behind.
    SetVariableValue(tt, "two", 0, nullptr, 4);
    EXPECT_EQ(TextOf(FindVariable("S.T$", 0)), "two");
    EXPECT_EQ(t->links, nullptr);
    ReleaseVariable(context, t, false, false);
    EXPECT_EQ(TextOf(FindVariable("S.T$", 0)), "two");
}

TEST_F(ValueCopiesTest, ArrayCopiesAndHandOver) {
    VariableRecord* a = Local("A$");
    a->type = -4;
    a->elementCount = 3;
    a->dimensions[0] = 3;
    a->dimensionCount = 1;
    a->data = static_cast<char*>(AllocateValueBlock(12));
    a->flags = kVarOwnsData;
    for (int i = 0; i < 3; ++i)
        SetVariableValue(a, nullptr, i + 1, a->data + 4 * i, 0);
    VariableRecord* b = Local("B$");
    AssignArrayValue(b, a, kCopyDeep, 0);
    EXPECT_NE(b->data, a->data);
    EXPECT_EQ(std::memcmp(b->data, a->data, 12), 0);
    EXPECT_EQ(VarTypeOf(b), 2);
    VariableRecord* c = Local("C$");
    AssignArrayValue(c, a, kCopyShare, 0);
    EXPECT_EQ(c->data, a->data);
    EXPECT_EQ(VarTypeOf(c), 2);
    // A copy handed to a variable is the variable's to free.
    char bytes[] = "abcd";
    VariableRecord* d = Local("D$");
    SetVariableString(d, bytes, 5, true);
    EXPECT_NE(d->data, bytes);
    EXPECT_EQ(d->flags & kVarOwnsData, kVarOwnsData);
    SetVariableString(d, bytes, -1, false);
    EXPECT_EQ(d->data, bytes);
    EXPECT_EQ(d->flags & (kVarOwnsData | kVarHandedOver), kVarHandedOver);
    EXPECT_EQ(VarTypeOf(d), 6);
    d->data = nullptr;
}

TEST_F(ValueCopiesTest, KindCodesOfPlainValuesAndLists) {
    VariableRecord* v = Local("V$");
    EXPECT_EQ(VarTypeOf(v), 0);
    SetVariableValue(v, "t", 0, nullptr, 2);
    EXPECT_EQ(VarTypeOf(v), 1);
    v->flags |= kVarWideText;
    EXPECT_EQ(VarTypeOf(v), 7);
    v->flags |= kVarList;
    EXPECT_EQ(VarTypeOf(v), 4);
    EXPECT_EQ(ListTypeOf(v), 7);
    v->flags &= ~(kVarList | kVarWideText);
}

TEST_F(ValueCopiesTest, ListCopyIsDeepAndStandsOnTheSamePosition) {
    VariableRecord* l = Local("L$");
    l->flags = kVarList;
    ListNode* first = ListAppend(nullptr);
    ListNode* second = ListAppend(first);
    first->value = 1;
    second->data = CopyValueText("two");
    second->flags = kVarOwnsData;
    StampListNode(first);
    StampListNode(second);
    l->currentNode = second;
    LoadListElement(l);
    VariableRecord* m = Local("M$");
    AssignValue(m, l, nullptr, kCopyDeep, 0);
    ASSERT_NE(m->currentNode, nullptr);
    EXPECT_EQ(ListCount(m->currentNode), 2u);
    EXPECT_EQ(TextOf(m), "two");
    EXPECT_NE(m->currentNode->data, second->data);
    VariableRecord* part = Local("P$");
    CopyVariable(part, l, kCopyDeep, 0, 0, 1);
    EXPECT_EQ(ListCount(part->currentNode), 1u);
    EXPECT_EQ(NumberOf(part), 1);
}

TEST_F(ValueCopiesTest, ListReferenceAlsoReachesStructureMembers) {
    MakeStructure("S$");
    SetVariableValue(FindVariable("S.A$", 0), nullptr, 6, nullptr, 0);
    VariableRecord* l = Local("L$");
    l->flags = kVarList;
    l->currentNode = ListAppend(nullptr);
    l->currentNode->structExtension =
        static_cast<ListStructExtension*>(AllocateValueBlock(sizeof(ListStructExtension)));
    auto* definition = static_cast<MemberDefinition*>(AllocateValueBlock(sizeof(MemberDefinition)));
    definition->member = FindVariable("S.A$", 0);
    l->currentNode->structExtension->members = definition;
    VariableRecord* r = Local("R$");
    CopyVariable(r, l, kCopyShare, 1, -1, -1);
    EXPECT_EQ(r->reference, l);
    VariableRecord* member = FindVariable("R.A$", 0);
    ASSERT_NE(member, nullptr);
    EXPECT_EQ(member->reference, FindVariable("S.A$", 0));
    r->reference = nullptr;
    member->reference = nullptr;
}

}  // namespace
}  // namespace qob
