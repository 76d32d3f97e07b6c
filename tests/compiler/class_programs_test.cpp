// tests/compiler/class_programs_test.cpp
// Programs with classes compiled from source and run through MAIN, with and
// without the optimiser: members and methods, constructors and destructors,
// inheritance, private methods, object copies and objects in lists.
#include "codegen_support.h"

#include <cstdio>
#include <string>
#include <vector>

#include "platform/memory.h"
#include "platform/message_box.h"
#include "runtime/registry/function_table.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace qob::testing {
namespace {

std::vector<double> traced;

// trace(x): appends a number to traced.
void Builtin_trace() { traced.push_back(PopNumber()); }

class ClassProgramTest : public CodegenTest {
protected:
    void SetUp() override {
        CodegenTest::SetUp();
        ASSERT_GE(RegisterBuiltin("trace", Builtin_trace, 1, false), 0);
        boxes = std::tmpfile();
        ASSERT_NE(boxes, nullptr);
        platform::SetMessageBoxOutput(boxes, boxes);
    }

    void TearDown() override {
        platform::SetMessageBoxOutput(nullptr, nullptr);
        std::fclose(boxes);
        CodegenTest::TearDown();
    }

    // Compiles and runs source, optimised or not; the values it traced. The
    // run must leave no argument frame, stack cell or call depth behind.
    std::vector<double> Run(const std::string& source, bool optimize) {
        traced.clear();
        StopFlag = false;
        ForgetClasses();
        CompileSource(source, optimize);
        EXPECT_EQ(Errors(), "") << source;
        const int32_t cells = CountStackEntries(context->stackTop);
        EXPECT_TRUE(RunEntry()) << source;
        EXPECT_EQ(context->argumentFrame.count, 0) << source;
        EXPECT_EQ(CountStackEntries(context->stackTop), cells) << source;
        EXPECT_EQ(context->callDepth, 0) << source;
        return traced;
    }

    // The classes of the previous compile: each run starts with none.
    void ForgetClasses() {
        while (ClassRecord* record = context->classRecords) {
            context->classRecords = record->next;
            platform::FreeBlock(record->name);
            platform::FreeBlock(record->baseName);
            platform::FreeBlock(record);
        }
    }

    // The same trace with and without the optimiser.
    void ExpectTrace(const std::string& source, const std::vector<double>& expected) {
        EXPECT_EQ(Run(source, false), expected) << "not optimised:\n" << source;
        EXPECT_EQ(Run(source, true), expected) << "optimised:\n" << source;
    }

    // What the error boxes of the runs so far showed.
    std::string BoxText() {
        std::fflush(boxes);
        std::rewind(boxes);
        std::string text;
        for (int c = std::fgetc(boxes); c != EOF; c = std::fgetc(boxes)) text += static_cast<char>(c);
        return text;
    }

    static std::string ErrorConstant() {
        VariableRecord* error = FindNamedItem(ConstantList, "ERROR%");
        return error && error->data ? error->data : "";
    }

    std::FILE* boxes = nullptr;
};

// A counter: a public member set by the class's member code, methods that
// change it and a function that reads it.
const std::string kCounter =
    "#CLASS Counter\n"
    "PUBLIC(count$);\n"
    "count$ = 10;\n"
    "PUBLIC PROC add(n$)\n count$ += n$;\nEND;\n"
    "PUBLIC FUNC get()\n RETURN(count$);\nEND;\n"
    "PUBLIC FUNC twice(a$, b$) : 2\n RETURN(count$ * a$, count$ * b$);\nEND;\n"
    "#ENDCLASS\n";

TEST_F(ClassProgramTest, MembersAndMethods) {
    ExpectTrace(kCounter +
                    "PROC MAIN\n"
                    " #OBJECT Counter c$;\n"
                    " #OBJECT Counter d$;\n"
                    " trace(c.count$);\n"
                    " c.add(5);\n"
                    " c.add(c.get());\n"
                    " trace(c.get());\n"
                    " trace(d.get());\n"  // each object has its own members
                    " LOCAL(p$, q$);\n"
                    " p$, q$ = c.twice(2, 3);\n"
                    " trace(p$); trace(q$);\n"
                    " trace(c.count$ + d.count$);\n"
                    " trace(class(c$) == \"COUNTER\");\n"
                    " trace(isobject(c$, d$, p$));\n"
                    "END;\n",
                {10, 30, 10, 60, 90, 40, 1, 2});
}

// CREATE takes its arguments in ARGS$ and runs after the member code; each of
// CREATE and DESTROY runs once per object: at the end of the procedure that
// owns it, or at freeobject, never again.
TEST_F(ClassProgramTest, ConstructorAndDestructorRunOncePerObject) {
    const std::string kLife =
        "#CLASS Life\n"
        "PUBLIC(id$);\n"
        "id$ = 1;\n"
        "NPROC CREATE\n FOREACH (ARGS$, x$) id$ += x$; END;\n trace(1000 + id$);\nEND;\n"
        "PROC DESTROY\n trace(-id$);\nEND;\n"
        "#ENDCLASS\n";
    ExpectTrace(kLife +
                    "PROC local(n$)\n #OBJECT Life t$(n$);\n trace(t.id$);\nEND;\n"
                    "PROC MAIN\n"
                    " #OBJECT Life a$(2, 3);\n"
                    " #OBJECT Life b$;\n"
                    " local(10);\n"
                    " local(20);\n"
                    " freeobject(b$);\n"
                    " trace(isobject(b$));\n"
                    " trace(a.id$);\n"
                    "END;\n",
                {1006, 1001, 1011, 11, -11, 1021, 21, -21, -1, 0, 6, -6});
}

// Objects made in a loop, each constructed with arguments and destroyed with
// its procedure: nothing accumulates on the stack or in the argument frames.
TEST_F(ClassProgramTest, ManyObjectsMadeInALoop) {
    ExpectTrace("#CLASS Item\nPUBLIC(n$);\n"
                "NPROC CREATE\n FOREACH (ARGS$, x$) n$ += x$; END;\nEND;\n"
                "PROC DESTROY\n GLOBAL(gone$);\n gone$++;\nEND;\n"
                "#ENDCLASS\n"
                "FUNC make(i$)\n #OBJECT Item t$(i$, 1);\n RETURN(t.n$);\nEND;\n"
                "PROC MAIN\n"
                " GLOBAL(gone$);\n"
                " gone$ = 0;\n"
                " s$ = 0;\n"
                " FOR (i$, 1, 1500) s$ += make(i$); END;\n"
                " trace(s$);\n"
                " trace(gone$);\n"
                "END;\n",
                {1500 * 1501 / 2 + 1500, 1500});
}

const std::string kAnimals =
    "#CLASS Animal\n"
    "PUBLIC(legs$);\n"
    "legs$ = 4;\n"
    "trace(1);\n"
    "PUBLIC PROC speak(n$)\n trace(n$ + legs$);\nEND;\n"
    "PUBLIC FUNC describe()\n RETURN(legs$);\nEND;\n"
    "PUBLIC FUNC kind()\n RETURN(100);\nEND;\n"
    "NPROC CREATE\n trace(500 + legs$);\nEND;\n"
    "PROC DESTROY\n trace(-legs$);\nEND;\n"
    "#ENDCLASS\n"
    "#CLASS Bird Animal\n"
    "legs$ = 2;\n"
    "trace(2);\n"
    "PUBLIC PROC speak(n$)\n #INHERITED speak(n$ * 10);\n trace(-1);\nEND;\n"
    "PUBLIC FUNC describe()\n RETURN(#INHERITED describe() * 10 + 1);\nEND;\n"
    "#ENDCLASS\n";

// The derived class's member code runs after its base's; a method only the
// base defines is found there; an overriding method calls the inherited one,
// as a statement and as a value; CREATE and DESTROY come from the base.
TEST_F(ClassProgramTest, InheritanceAndOverriding) {
    ExpectTrace(kAnimals +
                    "PROC MAIN\n"
                    " #OBJECT Bird b$;\n"
                    " #OBJECT Animal a$;\n"
                    " b.speak(3);\n"
                    " a.speak(3);\n"
                    " trace(b.describe());\n"
                    " trace(a.describe());\n"
                    " trace(b.kind());\n"
                    "END;\n",
                {1, 2, 502, 1, 504, 32, -1, 7, 21, 4, 100, -2, -4});
}

TEST_F(ClassProgramTest, ClassesAndTheirBasesSeenByThePrograms) {
    ExpectTrace(kAnimals +
                    "PROC MAIN\n"
                    " #OBJECT Bird b$;\n"
                    " trace(is(b$, \"animal\"));\n"
                    " trace(is(b$, \"BIRD\"));\n"
                    " trace(is(b$, \"Fish\"));\n"
                    " trace(classinherit(\"bird\") == \"ANIMAL\");\n"
                    " trace(classinherit(\"animal\"));\n"
                    " trace(classes(l$));\n"
                    " FOREACH (l$, n$) trace(n$ == \"BIRD\"); END;\n"
                    "END;\n",
                {1, 2, 502, 1, 1, 0, 1, 0, 2, 1, 0, -2});
}

const std::string kGuarded =
    "#CLASS Guarded\n"
    "PUBLIC(v$);\n"
    "PROC hidden()\n trace(999);\nEND;\n"
    "PUBLIC PROC open()\n hidden();\nEND;\n"
    "#ENDCLASS\n";

// A method is private unless declared PUBLIC: its own class calls it, a call
// from outside is refused (the error goes to ERROR% inside TRY and stops the
// program outside).
TEST_F(ClassProgramTest, PrivateMethodsAreNotPublic) {
    ExpectTrace(kGuarded +
                    "PROC MAIN\n"
                    " #OBJECT Guarded g$;\n"
                    " g.open();\n"
                    " TRY\n  g.hidden();\n  trace(1);\n EXCEPT\n END;\n"
                    " trace(2);\n"
                    "END;\n",
                {999, 1, 2});
    EXPECT_NE(ErrorConstant().find("Proc or func 'HIDDEN(0,0)' is not public!"), std::string::npos) << ErrorConstant();
    EXPECT_EQ(Run(kGuarded + "PROC MAIN\n #OBJECT Guarded g$;\n g.hidden();\n trace(3);\nEND;\n", true),
              std::vector<double>{});
    EXPECT_NE(BoxText().find("Proc or func 'HIDDEN(0,0)' is not public!"), std::string::npos) << BoxText();
}

// "=" makes a deep copy: the copy's member code runs once, the members take
// the source's values, and each object is destroyed on its own. assign and
// newobject with an address make references: no member code, no destructor.
// A procedure's parameter sees the caller's object.
TEST_F(ClassProgramTest, ObjectCopiesAndReferences) {
    ExpectTrace("#CLASS Box\n"
                "PUBLIC(v$);\n"
                "v$ = 1;\n"
                "trace(50);\n"
                "PUBLIC PROC setv(x$)\n v$ = x$;\nEND;\n"
                "PUBLIC FUNC getv()\n RETURN(v$);\nEND;\n"
                "PROC DESTROY\n trace(-v$);\nEND;\n"
                "#ENDCLASS\n"
                "PROC change(o$)\n Box(o$).setv(40);\nEND;\n"
                "PROC MAIN\n"
                " #OBJECT Box a$;\n"
                " a.setv(5);\n"
                " b$ = a$;\n"
                " trace(b.getv());\n"
                " b.setv(6);\n"
                " trace(a.getv());\n"
                " assign(r$, a$);\n"
                " Box(r$).setv(7);\n"
                " trace(a.getv());\n"
                " newobject(n$, \"box\", a$);\n"
                " trace(Box(n$).getv());\n"
                " trace(class(n$) == \"BOX\");\n"
                " change(a$);\n"
                " trace(a.getv());\n"
                "END;\n",
                {50, 50, 5, 5, 7, 7, 1, 40, -40, -6});
}

// Objects passed in a list (the arguments of an N-form procedure) and walked
// with FOREACH, each element typed by its class for the method call.
TEST_F(ClassProgramTest, ObjectsInAList) {
    ExpectTrace(kCounter +
                    "NPROC total\n"
                    " s$ = 0;\n"
                    " FOREACH (ARGS$, o$) Counter(o$).add(1); s$ += Counter(o$).get(); END;\n"
                    " trace(s$);\n"
                    "END;\n"
                    "PROC MAIN\n"
                    " #OBJECT Counter a$;\n"
                    " #OBJECT Counter b$;\n"
                    " b.add(5);\n"
                    " total(a$, b$, a$);\n"
                    " trace(a.get());\n"
                    " trace(b.get());\n"
                    "END;\n",
                {11 + 16 + 12, 12, 16});
}

}  // namespace
}  // namespace qob::testing
