// tests/runtime/vm/vm_method_test.cpp
// Method calls: OBJRUN and SELFCALL, binding SELF$, early exits of object
// calls, returning local objects, and the variable cache under recursion.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/memory.h"
#include "runtime/data/hash.h"
#include "runtime/values/assignment.h"
#include "runtime/values/objects.h"
#include "runtime/vm/push_instructions.h"
#include "runtime/vm/value_stack.h"
#include "vm_fixture.h"

namespace qob::testing {
namespace {

using ::testing::HasSubstr;

class MethodTest : public VmTest {
protected:
    void SetUp() override {
        VmTest::SetUp();
        auto* shape = static_cast<ClassRecord*>(platform::AllocateZeroedBlock(sizeof(ClassRecord)));
        shape->name = static_cast<char*>(platform::AllocateBlock(6));
        std::strcpy(shape->name, "SHAPE");
        shape->nameHash = HashName("SHAPE", 5);
        context->classRecords = shape;
        context->ownsClassRecords = 1;
    }
    Instruction* Method(const char* key, bool function) {
        return StartProc((std::string("__CLASSCODE_SHAPE.") + key).c_str(), function);
    }
    VariableRecord* NewShape(const char* name) {
        VariableRecord* object = Global(name);
        CreateObjectInstance(object, "SHAPE", false);
        return object;
    }
    // SAVESP2; arguments; NGPUSHVAR object; OBJRUN key (results kept: keep).
    Instruction* ObjectCall(const char* object, const char* key, int keep, std::initializer_list<double> arguments) {
        Emit(Opcode::SAVESP2, Builtin___savesp2);
        for (double argument : arguments) PushInt(argument);
        Emit(Opcode::NGPUSHVAR, Handle_NGPUSHVAR, object);
        Instruction* call = Emit(Opcode::OBJRUN, Handle_OBJRUN, key);
        call->extraWord = static_cast<uintptr_t>(keep);
        return call;
    }
    void EnterTry() {
        TryStack.entries[0] = {nullptr, nullptr, context, 0, context->stackTop, 0};
        TryStack.depth = 1;
    }
};

TEST_F(MethodTest, ObjrunRunsTheMethodWithSelfBoundAndKeepsItsResult) {
    Method("AREA(1,1)", true);
    Emit(Opcode::PARMSPUSHVAR, Handle_PARMSPUSHVAR, "K$");
    Emit(Opcode::SAVESP, Builtin___savesp);
    PushVar("K$");
    PushInt(10);
    Call(TestMultiply);
    Emit(Opcode::RETURN, Handle_RETURN);
    EndProc();
    VariableRecord* shape = NewShape("S$");
    Instruction* main = StartProc("MAIN", false);
    ObjectCall("S$", "AREA(1,1)", 1, {4});
    Call(RecordTop);
    ObjectCall("S$", "AREA(1,1)", 1, {5});  // the cached method this time
    Call(RecordTop);
    EndProc();
    RunMain(main);
    EXPECT_EQ(Recorded, (std::vector<double>{40, 50}));
    EXPECT_EQ(context->argumentFrame.count, 0);
    EXPECT_EQ(CountStackEntries(context->stackTop), 1);
    (void)shape;
}

// One call node meets objects of two classes in turn: the method it
// remembers from the last call is used only for an object of that class.
TEST_F(MethodTest, ObjrunNodeFollowsTheClassOfEachObject) {
    auto* box = static_cast<ClassRecord*>(platform::AllocateZeroedBlock(sizeof(ClassRecord)));
    box->name = static_cast<char*>(platform::AllocateBlock(4));
    std::strcpy(box->name, "BOX");
    box->nameHash = HashName("BOX", 3);
    box->next = context->classRecords;
    context->classRecords = box;
    for (const auto& [key, result] : {std::pair{"__CLASSCODE_SHAPE.KIND(0,1)", 1.0}, {"__CLASSCODE_BOX.KIND(0,1)", 2.0}}) {
        StartProc(key, true);
        Emit(Opcode::SAVESP, Builtin___savesp);
        PushInt(result);
        Emit(Opcode::RETURN, Handle_RETURN);
        EndProc();
    }
    Instruction* ask = StartProc("ASK", false);
    ObjectCall("X$", "KIND(0,1)", 1, {});
    Call(RecordTop);
    EndProc();
    Instruction* main = StartProc("MAIN", false);
    for (int round = 0; round < 2; ++round) {
        Call([] { CreateObjectInstance(FindVariable("X$", 0), "SHAPE", false); });
        Emit(Opcode::CALL, RunProcedure, "ASK", 0.0, ask);
        Call([] { CreateObjectInstance(FindVariable("X$", 0), "BOX", false); });
        Emit(Opcode::CALL, RunProcedure, "ASK", 0.0, ask);
    }
    EndProc();
    Global("X$");
    RunMain(main);
    EXPECT_EQ(Recorded, (std::vector<double>{1, 2, 1, 2}));
    EXPECT_EQ(CountStackEntries(context->stackTop), 1);
}

TEST_F(MethodTest, ObjectCallsThatCannotRunLeaveTheStackAsTheCallFormExpects) {
    Method("PRIV(0,1)", true)->extra->flagByte = 1;  // private
    Emit(Opcode::SAVESP, Builtin___savesp);
    PushInt(1);
    Emit(Opcode::RETURN, Handle_RETURN);
    EndProc();
    Method("PRIV(0,0)", false)->extra->flagByte = 1;
    EndProc();
    NewShape("S$");
    Global("N$")->value = 3;  // not an object
    // A call form ending in ",0)" (a call made as a statement) expects no
    // result even though it keeps one in its frame: nothing may be left for
    // the code after it. 99 lies below the call.
    struct Case { const char* object; const char* key; const char* message; std::vector<double> left; };
    const Case cases[] = {
        {"N$", "AREA(2,1)", "Variable (N$) an invalid object", {0, 99}},
        {"S$", "MISSING(2,1)", "Proc or func \"MISSING(2,1)\" not found for class \"SHAPE\"", {0, 99}},
        {"S$", "PRIV(0,1)", "Proc or func 'PRIV(0,1)' is not public!", {0, 99}},
        {"N$", "AREA(2,0)", "Variable (N$) an invalid object", {99}},
        {"S$", "MISSING(2,0)", "Proc or func \"MISSING(2,0)\" not found for class \"SHAPE\"", {99}},
        {"S$", "PRIV(0,0)", "Proc or func 'PRIV(0,0)' is not public!", {99}},
    };
    for (const Case& c : cases) {
        EnterTry();
        Instruction* main = StartProc("MAIN", false);
        PushInt(99);
        ObjectCall(c.object, c.key, 1, {7, 8});
        for (size_t i = 0; i < c.left.size(); ++i) Call(RecordTop);
        EndProc();
        Recorded.clear();
        RunMain(main);
        EXPECT_THAT(ErrorText(), HasSubstr(c.message)) << c.key;
        EXPECT_EQ(Recorded, c.left) << c.key << ": one empty value for each expected result";
        EXPECT_EQ(context->argumentFrame.count, 0) << c.key;
        EXPECT_EQ(CountStackEntries(context->stackTop), 1) << c.key;
    }
}

TEST_F(MethodTest, PrivateMethodRunsFromAnotherMethodOfTheSameObject) {
    Instruction* secret = Method("SECRET(0,0)", false);
    secret->extra->flagByte = 1;
    PushInt(1);
    Call(RecordTop);
    EndProc();
    Method("OPEN(0,0)", false);
    Emit(Opcode::SAVESP2, Builtin___savesp2);
    Emit(Opcode::NGPUSHVAR, Handle_NGPUSHVAR, "SELF$");
    Emit(Opcode::OBJRUN, Handle_OBJRUN, "SECRET(0,0)");
    EndProc();
    NewShape("S$");
    Instruction* main = StartProc("MAIN", false);
    ObjectCall("S$", "OPEN(0,0)", 0, {});
    EndProc();
    RunMain(main);
    EXPECT_EQ(Recorded, std::vector<double>{1});
    EXPECT_EQ(context->argumentFrame.count, 0);
}

// A method returning its own local object: the instance must survive the
// release of the method's locals (no DESTROY runs).
TEST_F(MethodTest, ReturningALocalObjectKeepsTheInstance) {
    Method("DESTROY(0,0)", false);
    PushInt(99);
    Call(RecordTop);
    EndProc();
    Instruction* make = StartProc("MAKE(0,1)", true);
    Emit(Opcode::PUSHSTR, Handle_PUSHSTR, "SHAPE");
    Emit(Opcode::NGPUSHVAR, Handle_NGPUSHVAR, "L$");
    Call([] {
        const StackEntry target = *PopStackEntry();
        const StackEntry name = *PopStackEntry();
        VariableRecord* local = CreateVariable(LocalVariableList, "L$", true);
        (void)target;
        CreateObjectInstance(local, name.text, false);
    });
    Emit(Opcode::SAVESP, Builtin___savesp);
    PushVar("L$");
    Emit(Opcode::RETURN, Handle_RETURN);
    EndProc();
    const double address = CallFunction(make, {});
    ASSERT_NE(address, 0.0);
    auto* head = reinterpret_cast<VariableRecord*>(static_cast<uintptr_t>(address));
    EXPECT_TRUE(platform::IsLiveBlock(head));
    EXPECT_STREQ(head->data, "SHAPE");
    EXPECT_TRUE(Recorded.empty()) << "the destructor did not run";
    FreeObjectInstance(context, head);
    EXPECT_EQ(Recorded, std::vector<double>{99});
}

// REC(N$): X$ = N$; IF 0 < N$ THEN SELF.REC(N$ - 1); record X$. Each level
// must read its own X$, also when the lookup cache was filled by another level.
TEST_F(MethodTest, RecursiveMethodReadsItsOwnLocals) {
    Instruction* rec = Method("REC(1,0)", false);
    Emit(Opcode::PARMSPUSHVAR, Handle_PARMSPUSHVAR, "N$");
    PushVar("N$");
    Call([] {  // X$ = N$, as a local of this level
        const double n = PopNumber();
        CreateVariable(LocalVariableList, "X$", true)->value = n;
    });
    PushInt(0);
    PushVar("N$");
    Call(TestLess);
    Instruction* test = Emit(Opcode::IF, ConditionalJumpHandler);
    PushVar("N$");
    PushInt(1);
    Call(TestSubtract);
    Instruction* self = Emit(Opcode::SELFCALL, Handle_SELFCALL, "SHAPE.REC(1,0)", 0.0, rec);
    Target(test, self);
    PushVar("X$");
    Call(RecordTop);
    EndProc();
    NewShape("S$");
    Instruction* main = StartProc("MAIN", false);
    ObjectCall("S$", "REC(1,0)", 0, {2});
    EndProc();
    RunMain(main);
    EXPECT_EQ(Recorded, (std::vector<double>{0, 1, 2}));
}

// What the method below saw of SELF$ and OBJECTNAME$: "<self text>/<self is
// an address>/<object name>", one entry per run.
std::vector<std::string> SeenBindings;
void SeeBindings() {
    const VariableRecord* self = FindNamedItem(LocalVariableList, "SELF$");
    const VariableRecord* name = FindNamedItem(LocalVariableList, "OBJECTNAME$");
    std::string seen = self && self->data ? self->data : "";
    seen += self && self->value != 0.0 ? "/address/" : "/none/";
    seen += name && name->data ? name->data : "";
    SeenBindings.push_back(seen);
}

// A method's frame is kept for its next call with SELF$ and OBJECTNAME$
// still bound: a call on an object of another class binds them afresh, and
// a run of the same procedure without an object sees neither.
TEST_F(MethodTest, MethodFramesBindTheObjectOfEachCallOnly) {
    auto* box = static_cast<ClassRecord*>(platform::AllocateZeroedBlock(sizeof(ClassRecord)));
    box->name = static_cast<char*>(platform::AllocateBlock(4));
    std::strcpy(box->name, "BOX");
    box->nameHash = HashName("BOX", 3);
    box->next = context->classRecords;
    context->classRecords = box;
    Instruction* method = Method("SEE(0,0)", false);
    Call(SeeBindings);
    EndProc();
    NewShape("S$");
    VariableRecord* boxObject = Global("B$");
    CreateObjectInstance(boxObject, "BOX", false);
    Instruction* main = StartProc("MAIN", false);
    ObjectCall("S$", "SEE(0,0)", 0, {});
    ObjectCall("S$", "SEE(0,0)", 0, {});
    EndProc();
    SeenBindings.clear();
    RunMain(main);
    RunProcedureIn(context, method);
    RunMain(main);
    const std::vector<std::string> expected{"SHAPE/address/SHAPE", "SHAPE/address/SHAPE", "/none/",
                                            "SHAPE/address/SHAPE", "SHAPE/address/SHAPE"};
    EXPECT_EQ(SeenBindings, expected);
    // An object of another class on the same frame, then SHAPE's again.
    ObjectToBind = reinterpret_cast<VariableRecord*>(static_cast<uintptr_t>(boxObject->value));
    RunProcedureIn(context, method);
    RunMain(main);
    EXPECT_EQ(SeenBindings.at(5), "BOX/address/BOX");
    // The instance the frame last saw goes, and a new one (of another class,
    // its name block where the old one's may have been) takes its variable.
    VariableRecord* shape = FindVariable("S$", 0);
    for (const char* className : {"BOX", "SHAPE"}) {
        ReleaseVariable(context, shape, false, false);
        CreateObjectInstance(shape, className, false);
        ObjectToBind = reinterpret_cast<VariableRecord*>(static_cast<uintptr_t>(shape->value));
        RunProcedureIn(context, method);
    }
    const std::vector<std::string> last(SeenBindings.begin() + 6, SeenBindings.end());
    EXPECT_EQ(last, (std::vector<std::string>{"SHAPE/address/SHAPE", "SHAPE/address/SHAPE", "BOX/address/BOX",
                                              "SHAPE/address/SHAPE"}));
    EXPECT_EQ(ErrorText(), "");
    EXPECT_EQ(CountStackEntries(context->stackTop), 1);
}

TEST_F(MethodTest, SelfcallWithoutDotOrTargetRunsNothing) {
    Instruction* main = StartProc("MAIN", false);
    Emit(Opcode::SELFCALL, Handle_SELFCALL, "NODOT");
    PushInt(1);
    Call(RecordTop);
    EndProc();
    RunMain(main);
    EXPECT_EQ(Recorded, std::vector<double>{1});
    EXPECT_EQ(ObjectToBind, nullptr);
}

// A call of the current object's method that finds nothing to run drops the
// arguments it pushed; a function's frame then yields an empty value.
TEST_F(MethodTest, SelfcallThatFindsNoMethodDropsItsArguments) {
    VariableRecord* shape = NewShape("S$");
    Instruction* main = StartProc("MAIN", false);
    PushInt(99);
    PushInt(7);
    PushInt(8);
    Emit(Opcode::SELFCALL, Handle_SELFCALL, "OTHER.MISSING(2,0)");
    Emit(Opcode::SAVESP, Builtin___savesp);
    PushInt(5);
    Emit(Opcode::SELFCALL, Handle_SELFCALL, "OTHER.VALUE(1,1)");
    Emit(Opcode::DROPFCTSTACK, Builtin___dropfctstack, nullptr, 1.0);
    Call(RecordTop);
    Call(RecordTop);
    EndProc();
    MemberList = reinterpret_cast<VariableRecord*>(static_cast<uintptr_t>(shape->value));
    RunMain(main);
    MemberList = nullptr;
    EXPECT_EQ(Recorded, (std::vector<double>{0, 99}));
    EXPECT_EQ(context->argumentFrame.count, 0);
    EXPECT_EQ(CountStackEntries(context->stackTop), 1);
}

// A method that faults ends there, on its first call and on the calls that
// take its cached frame: outside TRY its caller goes on, inside a TRY of the
// caller the EXCEPT part runs. The binding, frames and depths come back.
TEST_F(MethodTest, FaultInAMethodEndsItWhicheverWayItRuns) {
    Instruction* failing = Method("FAIL(0,0)", false);
    PushInt(7);
    Call(RecordTop);
    Call(CauseAccessViolation);
    PushInt(8);
    Call(RecordTop);
    EndProc();
    (void)failing;
    NewShape("S$");
    Instruction* plain = StartProc("PLAIN", false);
    ObjectCall("S$", "FAIL(0,0)", 0, {});
    ObjectCall("S$", "FAIL(0,0)", 0, {});
    PushInt(1);
    Call(RecordTop);
    EndProc();
    Instruction* guarded = StartProc("GUARDED", false);
    Instruction* tryNode = Emit(Opcode::TRY, Handle_TRY);
    ObjectCall("S$", "FAIL(0,0)", 0, {});
    PushInt(1);
    Call(RecordTop);
    Instruction* skip = Branch(nullptr);
    Target(tryNode, skip);
    PushInt(2);
    Instruction* lastExcept = Call(RecordTop);
    Target(skip, lastExcept);
    Emit(Opcode::EXCEPT, PopTryHandler);
    PushInt(3);
    Call(RecordTop);
    EndProc();
    struct Case {
        Instruction* main;
        std::vector<double> recorded;
    };
    const Case cases[] = {{plain, {7, 7, 1}}, {plain, {7, 7, 1}}, {guarded, {7, 2, 3}}, {guarded, {7, 2, 3}}};
    for (const Case& c : cases) {
        Recorded.clear();
        RunMain(c.main);
        EXPECT_EQ(Recorded, c.recorded);
        EXPECT_EQ(MemberList, nullptr);
        EXPECT_EQ(TryStack.depth, 0);
        EXPECT_EQ(context->callDepth, 0);
        EXPECT_EQ(context->argumentFrame.count, 0);
        EXPECT_EQ(RunNesting(), 0);
        EXPECT_EQ(CountStackEntries(context->stackTop), 1);
    }
}

// A method function's result stays for its caller when the method runs on
// a cached frame too, and a function run as a statement leaves nothing.
TEST_F(MethodTest, RepeatedMethodCallsKeepOrDropTheirResults) {
    Method("TWICE(1,1)", true);
    Emit(Opcode::PARMSPUSHVAR, Handle_PARMSPUSHVAR, "K$");
    PushVar("K$");
    Call(RecordTop);
    Emit(Opcode::SAVESP, Builtin___savesp);
    PushVar("K$");
    PushInt(2);
    Call(TestMultiply);
    Emit(Opcode::RETURN, Handle_RETURN);
    EndProc();
    NewShape("S$");
    Instruction* main = StartProc("MAIN", false);
    for (double k : {1.0, 2.0, 3.0}) {
        ObjectCall("S$", "TWICE(1,1)", 1, {k});
        Call(RecordTop);
        ObjectCall("S$", "TWICE(1,0)", 0, {k});
    }
    EndProc();
    for (int run = 0; run < 2; ++run) {
        Recorded.clear();
        RunMain(main);
        // Each argument as the method sees it, then what the caller kept.
        EXPECT_EQ(Recorded, (std::vector<double>{1, 2, 1, 2, 4, 2, 3, 6, 3}));
        EXPECT_EQ(context->argumentFrame.count, 0);
        EXPECT_EQ(CountStackEntries(context->stackTop), 1);
    }
}

// The argument frames open where the caller records them.
void RecordFrames() { Recorded.push_back(CurrentContext->argumentFrame.count); }

// Every method call closes the frames its call form opened, whether it runs
// the general way (the first call, with no cached frame yet) or in place on
// a cached one, as a procedure, a function kept or a function dropped.
TEST_F(MethodTest, MethodCallsCloseTheFramesTheirCallFormOpened) {
    Method("STORE(0,1)", false);
    Emit(Opcode::PARMSPUSHVAR, Handle_PARMSPUSHVAR, "K$");
    EndProc();
    Method("ECHO(1,1)", true);
    Emit(Opcode::PARMSPUSHVAR, Handle_PARMSPUSHVAR, "K$");
    Emit(Opcode::SAVESP, Builtin___savesp);
    PushVar("K$");
    Emit(Opcode::RETURN, Handle_RETURN);
    EndProc();
    NewShape("S$");
    Instruction* main = StartProc("MAIN", false);
    Call(RecordFrames);
    for (double k : {1.0, 2.0, 3.0}) {
        ObjectCall("S$", "STORE(0,1)", 0, {k});
        Call(RecordFrames);
        ObjectCall("S$", "ECHO(1,1)", 1, {k});
        Call(RecordTop);
        Call(RecordFrames);
        ObjectCall("S$", "ECHO(1,0)", 0, {k});
        Call(RecordFrames);
    }
    EndProc();
    Recorded.clear();
    RunMain(main);
    ASSERT_FALSE(Recorded.empty());
    const double open = Recorded.front();
    EXPECT_EQ(Recorded, (std::vector<double>{open, open, 1, open, open, open, 2, open, open, open, 3, open, open}));
    EXPECT_EQ(ErrorText(), "");
    EXPECT_EQ(CountStackEntries(context->stackTop), 1);
}

}  // namespace
}  // namespace qob::testing
