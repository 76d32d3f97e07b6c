// tests/builtins/classes/class_builtins_test.cpp
// The object steps, object built-ins, kind tests and eval records on a
// hand-made context: classes without code, instances, references, the
// class list, and numbers that name no instance or record.
#include "builtins/classes/class_builtins.h"

#include <cstring>
#include <string>
#include <vector>

#include "builtins/operators/operator_fixture.h"
#include "platform/memory.h"
#include "runtime/data/hash.h"
#include "runtime/memory/memory_links.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/list_values.h"
#include "runtime/values/objects.h"
#include "runtime/vm/value_stack.h"

namespace qob::testing {
namespace {

double Address(const void* record) { return static_cast<double>(reinterpret_cast<uintptr_t>(record)); }

VariableRecord* HeadOf(const VariableRecord* object) {
    return reinterpret_cast<VariableRecord*>(static_cast<uintptr_t>(object->value));
}

uint32_t Hash(const char* name) { return HashName(name, std::strlen(name)); }

class ClassBuiltinsTest : public OperatorTest {
protected:
    void SetUp() override {
        OperatorTest::SetUp();
        context->ownsClassRecords = 1;
    }

    // A class record as the code generator makes them, at the head of the list.
    void AddClass(const char* name, const char* base = nullptr) {
        auto* record = static_cast<ClassRecord*>(platform::AllocateZeroedBlock(sizeof(ClassRecord)));
        record->name = CopyText(name);
        record->nameHash = Hash(name);
        if (base) {
            record->baseName = CopyText(base);
            record->baseHash = Hash(base);
        }
        record->next = context->classRecords;
        context->classRecords = record;
    }

    // Runs a two-argument step with (class name text, variable).
    void RunOnVariable(void (*handler)(), const char* className, VariableRecord* variable) {
        PushText(className);
        PushVariable(variable);
        handler();
    }

    // A variable owning a new instance of the class.
    VariableRecord* NewObject(const char* name, const char* className) {
        VariableRecord* variable = Variable(name);
        RunOnVariable(Builtin___class, className, variable);
        return variable;
    }

    // A public member of an instance, as its class's member code makes one.
    static void AddMember(VariableRecord* head, const char* name, double value) {
        VariableRecord* member = CreateVariable(head, name, false);
        member->value = value;
        member->flags |= kVarPublic;
    }

    std::string RunClassOf(double value) {
        PushNumber(value);
        Builtin_class();
        EXPECT_EQ(StackDepth(), 1);
        return PopDescription();
    }

private:
    static char* CopyText(const char* text) {
        auto* copy = static_cast<char*>(platform::AllocateZeroedBlock(std::strlen(text) + 1));
        std::strcpy(copy, text);
        return copy;
    }
};

TEST_F(ClassBuiltinsTest, ClassGivesTheVariableANewInstance) {
    VariableRecord* shape = NewObject("S$", "shape");
    EXPECT_EQ(StackDepth(), 0);
    EXPECT_EQ(shape->flags & (kVarObject | kVarOwnsData), kVarObject | kVarOwnsData);
    EXPECT_STREQ(shape->data, "SHAPE");
    EXPECT_EQ(shape->classHash, Hash("SHAPE"));
    VariableRecord* head = HeadOf(shape);
    ASSERT_NE(head, nullptr);
    EXPECT_STREQ(head->data, "SHAPE");
    EXPECT_NE(head->data, shape->data) << "the head owns a copy of its own";
    EXPECT_EQ(head->flags, kVarOwnsData);
    EXPECT_EQ(RunClassOf(shape->value), "t:SHAPE");
}

// A second __class replaces the variable's instance and leaves the first one
// alive: another variable may still refer to it.
TEST_F(ClassBuiltinsTest, ClassOnAnObjectVariableLeavesTheOldInstanceAlive) {
    VariableRecord* shape = NewObject("S$", "shape");
    VariableRecord* first = HeadOf(shape);
    RunOnVariable(Builtin___class, "circle", shape);
    EXPECT_NE(HeadOf(shape), first);
    EXPECT_STREQ(shape->data, "CIRCLE");
    EXPECT_EQ(RunClassOf(Address(first)), "t:SHAPE");
    FreeObjectInstance(context, first);
}

TEST_F(ClassBuiltinsTest, Class2TypesAVariableWithoutAnInstance) {
    VariableRecord* typed = Variable("T$");
    SetText(typed, "old text");
    typed->value = 42;
    RunOnVariable(Builtin___class2, "Shape", typed);
    EXPECT_EQ(StackDepth(), 0);
    EXPECT_STREQ(typed->data, "SHAPE");
    EXPECT_EQ(typed->flags & (kVarObject | kVarOwnsData), kVarObject);
    EXPECT_EQ(typed->classHash, Hash("SHAPE"));
    EXPECT_EQ(typed->value, 42) << "the value is left as it is";
}

// The member access after __class3 / __class4 reads through
// __STACKTEMPOBJECT$, which refers to the object value and pushes nothing.
TEST_F(ClassBuiltinsTest, Class3And4LetMembersOfAnObjectValueBeReached) {
    VariableRecord* a = NewObject("A$", "shape");
    VariableRecord* b = NewObject("B$", "shape");
    AddMember(HeadOf(a), "X$", 7);
    AddMember(HeadOf(b), "X$", 8);
    struct Case { void (*handler)(); VariableRecord* object; double expected; };
    const Case cases[] = {{Builtin___class3, a, 7}, {Builtin___class4, b, 8}, {Builtin___class3, b, 8},
                          {Builtin___class4, a, 7}};
    for (const Case& c : cases) {
        PushText("shape");
        PushNumber(c.object->value);  // an object value that no variable holds
        c.handler();
        EXPECT_EQ(StackDepth(), 0);
        VariableRecord* member = FindVariable(".X$", 0);
        ASSERT_NE(member, nullptr);
        EXPECT_EQ(member->value, c.expected);
    }
    int temps = 0;
    for (VariableRecord* r = frame->next; r; r = r->next)
        temps += r->name && std::strcmp(r->name, "__STACKTEMPOBJECT$") == 0;
    EXPECT_EQ(temps, 1) << "one record, reused";
    VariableRecord* temp = FindVariable("__STACKTEMPOBJECT$", 0);
    EXPECT_EQ(temp->flags & (kVarObject | kVarOwnsData), kVarObject) << "it never owns the object";
}

TEST_F(ClassBuiltinsTest, NewobjectMakesAnInstanceOrAReference) {
    VariableRecord* original = NewObject("A$", "shape");
    VariableRecord* reference = Variable("R$");
    PushVariable(reference);
    PushText("Shape");
    PushVariable(original);
    Builtin_newobject();
    EXPECT_EQ(StackDepth(), 0);
    EXPECT_EQ(reference->value, original->value);
    EXPECT_EQ(reference->flags & (kVarObject | kVarOwnsData), kVarObject);
    EXPECT_STREQ(reference->data, "SHAPE");
    EXPECT_EQ(reference->classHash, Hash("SHAPE"));

    VariableRecord* fresh = Variable("N$");
    PushVariable(fresh);
    PushText("circle");
    PushNumber(0);
    Builtin_newobject();
    EXPECT_EQ(fresh->flags & (kVarObject | kVarOwnsData), kVarObject | kVarOwnsData);
    EXPECT_NE(fresh->value, original->value);
    EXPECT_EQ(RunClassOf(fresh->value), "t:CIRCLE");
}

TEST_F(ClassBuiltinsTest, AssignMakesAVariableReferToAnInstance) {
    VariableRecord* original = NewObject("A$", "shape");
    VariableRecord* reference = Variable("R$");
    PushVariable(reference);
    PushNumber(original->value);
    Builtin_assign();
    EXPECT_EQ(StackDepth(), 0);
    EXPECT_EQ(reference->value, original->value);
    EXPECT_EQ(reference->flags & (kVarObject | kVarOwnsData), kVarObject);
    EXPECT_EQ(reference->data, nullptr) << "the class name is left unchanged";
}

TEST_F(ClassBuiltinsTest, ClassOfSomethingThatIsNoInstanceIsZero) {
    VariableRecord* nameless = AllocateVariableRecord(context, false);
    EXPECT_EQ(RunClassOf(Address(nameless)), "n:0");
    for (double number : {0.0, 4096.0, -1.0, 123456789.0}) EXPECT_EQ(RunClassOf(number), "n:0") << number;
    FreeVariableRecord(context, nameless);
}

TEST_F(ClassBuiltinsTest, IsFollowsTheBaseClasses) {
    AddClass("A");
    AddClass("B", "A");
    AddClass("C", "B");
    AddClass("X", "Y");  // a chain of bases that loops
    AddClass("Y", "X");
    VariableRecord* c = NewObject("C$", "c");
    VariableRecord* x = NewObject("X$", "x");
    VariableRecord* unknown = NewObject("U$", "nowhere");
    struct Case { VariableRecord* object; const char* className; double expected; };
    const Case cases[] = {{c, "C", 1}, {c, "b", 1}, {c, "a", 1}, {c, "D", 0}, {c, "", 0},
                          {x, "Y", 1}, {x, "Z", 0}, {unknown, "NOWHERE", 0}};
    for (const Case& test : cases) {
        PushVariable(test.object);
        PushText(test.className);
        Builtin_is();
        EXPECT_EQ(StackDepth(), 1);
        EXPECT_EQ(PopValue(), test.expected) << test.object->name << " is " << test.className;
    }
}

TEST_F(ClassBuiltinsTest, ClassesListsEveryClassInListOrder) {
    VariableRecord* list = Variable("L$");
    SetText(list, "replaced");
    PushVariable(list);
    Builtin_classes();
    EXPECT_EQ(PopValue(), 0);
    EXPECT_EQ(ListCount(list->currentNode), 0u);

    AddClass("A");
    AddClass("B", "A");
    AddClass("C");
    PushVariable(list);
    Builtin_classes();
    EXPECT_EQ(PopValue(), 3);
    std::vector<std::string> names;
    for (ListNode* node = ListFirst(list->currentNode); node; node = node->next) names.emplace_back(node->data);
    EXPECT_EQ(names, (std::vector<std::string>{"C", "B", "A"}));
    EXPECT_EQ(list->currentNode, ListFirst(list->currentNode));
    EXPECT_EQ(Describe(list), "t:C");
}

TEST_F(ClassBuiltinsTest, ClassinheritGivesTheBaseName) {
    AddClass("A");
    AddClass("B", "a");
    AddClass("7", "A");
    struct Case { const char* argument; const char* expected; };
    const Case cases[] = {{"t:b", "t:a"}, {"t:B", "t:a"}, {"t:a", "n:0"}, {"t:nowhere", "n:0"}, {"n:7", "t:A"}};
    for (const Case& c : cases) {
        Push(c.argument);
        Builtin_classinherit();
        EXPECT_EQ(StackDepth(), 1);
        EXPECT_EQ(PopDescription(), c.expected) << c.argument;
    }
}

TEST_F(ClassBuiltinsTest, KindTestsCountTheirArguments) {
    VariableRecord* object = NewObject("O$", "shape");
    VariableRecord* matrix = Variable("M$");
    SetMatrix(matrix, "[1,2]");
    VariableRecord* array = Variable("A$");
    array->elementCount = 3;
    VariableRecord* structure = Variable("S$");
    structure->flags |= kVarStructure;
    VariableRecord* plain = Variable("P$");
    SetNumber(plain, 5);
    struct Case { void (*handler)(); std::vector<VariableRecord*> arguments; double expected; };
    const std::vector<Case> cases = {
        {Builtin_isobject, {object, object, object}, 3}, {Builtin_isobject, {plain}, 0},
        {Builtin_isobject, {object, plain}, 1},          {Builtin_isobject, {}, 0},
        {Builtin_ismatrix, {matrix, object}, 1},         {Builtin_isarray, {array, plain, array}, 2},
        {Builtin_isstruct, {structure}, 1},              {Builtin_isstruct, {plain, matrix}, 0},
    };
    for (const Case& c : cases) {
        OpenFrame();
        for (VariableRecord* argument : c.arguments) PushVariable(argument);
        c.handler();
        EXPECT_EQ(context->argumentFrame.count, 0);
        EXPECT_EQ(StackDepth(), 1);
        EXPECT_EQ(PopValue(), c.expected);
    }
    array->elementCount = 0;
    structure->flags &= ~kVarStructure;
}

TEST_F(ClassBuiltinsTest, IspointerFindsABlockItsVariableOwns) {
    VariableRecord* owner = Variable("V$");
    SetText(owner, "fields");
    void* block = AllocateValueBlock(16);
    AddMemoryLink(owner, block, nullptr, 0);
    struct Case { double value; VariableRecord* variable; double expected; };
    const Case cases[] = {{Address(block), owner, 1}, {Address(block) + 8, owner, 0}, {Address(block), nullptr, 0},
                          {0, owner, 0}};
    for (const Case& c : cases) {
        PushValue(nullptr, c.value, c.variable);
        Builtin_ispointer();
        EXPECT_EQ(StackDepth(), 1);
        EXPECT_EQ(PopValue(), c.expected) << c.value;
    }
}

TEST_F(ClassBuiltinsTest, FreeevalFreesOnlyARecordAllocevalMade) {
    Builtin_alloceval();
    const double address = PopValue();
    auto* record = reinterpret_cast<VariableRecord*>(static_cast<uintptr_t>(address));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(platform::GetBlockSize(record), sizeof(VariableRecord));
    VariableRecord* member = CreateVariable(record, "A$", false);
    SetText(member, "owned by the chain");

    VariableRecord* listed = Variable("L$");
    SetText(listed, "still here");
    for (double number : {Address(listed), 0.0, 4096.0}) {
        PushNumber(number);
        Builtin_freeeval();
        EXPECT_EQ(StackDepth(), 0);
    }
    EXPECT_EQ(Describe(listed), "t:still here");
    EXPECT_TRUE(platform::IsLiveBlock(record));

    PushNumber(address);
    Builtin_freeeval();
    EXPECT_FALSE(platform::IsLiveBlock(record));
}

TEST_F(ClassBuiltinsTest, FreeobjectFreesVariablesAndInstancesByAddress) {
    VariableRecord* owner = NewObject("A$", "shape");
    VariableRecord* holder = NewObject("H$", "shape");
    VariableRecord* head = HeadOf(holder);
    AddMember(head, "X$", 1);
    holder->flags &= ~kVarOwnsData;  // the instance is now reachable by its address alone
    OpenFrame();
    PushVariable(owner);
    PushNumber(Address(head));
    PushNumber(4096);  // no instance there: nothing happens
    Builtin_freeobject();
    EXPECT_EQ(context->argumentFrame.count, 0);
    EXPECT_EQ(StackDepth(), 0);
    EXPECT_EQ(owner->flags & kVarObject, 0u);
    EXPECT_EQ(owner->value, 0);
    EXPECT_FALSE(platform::IsLiveBlock(head));
}

// #OBJECT opens two frames before the constructor's arguments. A class
// without CREATE leaves them to the step, which closes both.
TEST_F(ClassBuiltinsTest, ClasscreateWithoutConstructorClosesTheFramesOfItsArguments) {
    VariableRecord* object = NewObject("O$", "shape");
    OpenFrame();
    OpenFrame();
    PushNumber(1);
    PushText("two");
    PushVariable(object);
    Builtin___classcreate();
    EXPECT_EQ(context->argumentFrame.count, 0);
    EXPECT_EQ(StackDepth(), 0);
}

}  // namespace
}  // namespace qob::testing
