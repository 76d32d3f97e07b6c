// tests/windows/window_classes_test.cpp
// Script window classes at work on a control made as newcontrol makes one,
// the classes' and procedures' end with the program that gave them,
// inherited, and user data as number, text and reference.

#include "windows/window_classes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/memory.h"
#include "platform/window_manager.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"
#include "script_windows_support.h"
#include "windows/dialogs.h"
#include "windows/event_calls.h"
#include "windows/forms.h"
#include "windows/window_records.h"

namespace qob {
namespace {

using platform::HWND;
using testing::Address;

// "keeper" lets everything through; "blanker" answers WM_GETTEXT itself
// with nothing; "teller" prints the messages the control's own procedure
// hears.
constexpr const char* kClassProcedures = R"(
FORCELINK FUNC keeper(w$, m$, wp$, lp$)
  IF (m$ == 13) showmessage("class gettext"); END;
  RETURN(1);
END;
FORCELINK FUNC blanker(w$, m$, wp$, lp$)
  IF (m$ == 13) RETURN(0); END;
  RETURN(1);
END;
FORCELINK FUNC teller(w$, m$, wp$, lp$)
  IF (m$ == 1024) showmessage("own ", wp$); END;
  RETURN(1);
END;
FORCELINK FUNC onform(w$, m$, wp$, lp$) RETURN(1); END;
)";

class WindowClassesTest : public testing::ScriptWindowsTest {
protected:
    void RegisterClass(const char* name, Instruction* procedure) {
        PushValue(name, 0, nullptr);
        PushNumber(Address(procedure));
        Builtin_registerclass();
    }

    HWND NewForm(const char* className, Instruction* procedure) {
        PushValue("Form", 0, nullptr);
        PushValue(className, 0, nullptr);
        PushNumber(Address(procedure));
        Builtin_newform();
        return static_cast<HWND>(PopNumber());
    }

    // A control of the class as newcontrol makes it: a child with a record
    // in the parent's context, subclassed.
    static HWND Control(ProgramContext* context, HWND parent, const char* className, Instruction* procedure) {
        std::u16string wide(className, className + std::strlen(className));
        const HWND control = platform::CreateWindowExW(0, wide.c_str(), u"kept text", platform::WS_CHILD | platform::WS_VISIBLE,
                                                       0, 0, 50, 20, parent, 3, 0, nullptr);
        if (!control) return 0;
        WindowRecord* record = AddWindowRecord(context, control, nullptr, 0, procedure);
        const size_t length = std::strlen(className) + 1;
        record->className = static_cast<char*>(platform::AllocateBlock(length));
        std::memcpy(record->className, className, length);
        record->savedWindowProcedure = static_cast<uintptr_t>(
            platform::SetWindowLongPtrW(control, platform::GWL_WNDPROC, reinterpret_cast<intptr_t>(ControlSubclassProc)));
        return control;
    }

    static std::u16string Text(HWND window) {
        char16_t buffer[64] = {};
        platform::GetWindowTextW(window, buffer, 64);
        return buffer;
    }
};

TEST_F(WindowClassesTest, AScriptClassControlKeepsItsTextThroughTheDefaultProcedure) {
    struct Case {
        const char* procedure;
        const char16_t* text;
        const char* heard;
    };
    const Case cases[] = {
        {"keeper", u"kept text", "class gettext\n"},
        {"blanker", u"", ""},
    };
    ProgramContext* application = Load(kClassProcedures);
    const HWND form = NewForm("ClassParent", Procedure(application, "onform"));
    for (const Case& c : cases) {
        const std::string name = std::string("Class_") + c.procedure;
        RegisterClass(name.c_str(), Procedure(application, c.procedure));
        platform::WNDCLASSW info;
        ASSERT_TRUE(platform::GetClassInfoW(0, std::u16string(name.begin(), name.end()).c_str(), &info));
        EXPECT_EQ(info.lpfnWndProc, ScriptWindowProc);
        const HWND control = Control(application, form, name.c_str(), Procedure(application, "teller"));
        ASSERT_NE(control, 0u);
        Output();
        EXPECT_EQ(Text(control), c.text) << c.procedure;
        EXPECT_EQ(Output(), c.heard) << c.procedure;
        // The control's own procedure ran once (through the subclass), the
        // class procedure after it; the word is never run a second time.
        platform::SendMessageW(control, platform::WM_USER, 4, 0);
        EXPECT_EQ(Output(), "own 4\n") << c.procedure;
    }
}

TEST_F(WindowClassesTest, TheFirstRecordOfANameHoldsAndUnregisteringLeavesDefaultProcessing) {
    ProgramContext* application = Load(kClassProcedures);
    const HWND form = NewForm("ClassParent2", Procedure(application, "onform"));
    RegisterClass("Twice", Procedure(application, "blanker"));
    RegisterClass("Twice", Procedure(application, "keeper"));
    const HWND control = Control(application, form, "Twice", nullptr);
    EXPECT_EQ(Text(control), u"") << "the first registration's procedure";
    PushValue("Twice", 0, nullptr);
    Builtin_unregisterclass();
    platform::WNDCLASSW info;
    EXPECT_TRUE(platform::GetClassInfoW(0, u"Twice", &info)) << "a window of the class is left";
    Output();
    EXPECT_EQ(Text(control), u"kept text") << "the second record now";
    EXPECT_EQ(Output(), "class gettext\n");
    PushValue("Twice", 0, nullptr);
    Builtin_unregisterclass();
    EXPECT_EQ(FindWindowClass("Twice"), nullptr);
    EXPECT_EQ(Text(control), u"kept text") << "no class record: the default processing";
    EXPECT_EQ(Output(), "");
}

TEST_F(WindowClassesTest, AClassGoesWithTheProgramThatRegisteredIt) {
    ProgramContext* application = Load(kClassProcedures);
    ProgramContext* other = Load(kClassProcedures);
    RegisterClass("Theirs", Procedure(other, "keeper"));
    CurrentContext = application;
    RegisterClass("Mine", Procedure(application, "keeper"));
    ASSERT_NE(FindWindowClass("Theirs"), nullptr);
    EndProgramContext(other);
    EXPECT_EQ(FindWindowClass("Theirs"), nullptr);
    platform::WNDCLASSW info;
    EXPECT_FALSE(platform::GetClassInfoW(0, u"Theirs", &info)) << "unregistered with its record";
    EXPECT_NE(FindWindowClass("Mine"), nullptr);
    EXPECT_TRUE(platform::GetClassInfoW(0, u"Mine", &info));
}

TEST_F(WindowClassesTest, AClassProcedureRunsInItsOwnProgram) {
    ProgramContext* application = Load(kClassProcedures);
    const HWND form = NewForm("ClassParent3", Procedure(application, "onform"));
    ProgramContext* other = Load(R"(
FORCELINK FUNC where(w$, m$, wp$, lp$) IF (m$ == 1024) showmessage("in"); END; RETURN(1); END;
)");
    RegisterClass("Where", Procedure(other, "where"));
    CurrentContext = application;
    const HWND control = Control(application, form, "Where", nullptr);
    Output();
    platform::SendMessageW(control, platform::WM_USER, 0, 0);
    EXPECT_EQ(Output(), "in\n");
    EndProgramContext(other);
    platform::SendMessageW(control, platform::WM_USER, 0, 0);
    EXPECT_EQ(Output(), "") << "its code is gone with its program";
}

TEST_F(WindowClassesTest, SetwndprocRunsInTheGivingProgramAndEndsWithIt) {
    ProgramContext* application = Load(kClassProcedures);
    const HWND form = NewForm("ProcForm", Procedure(application, "onform"));
    ProgramContext* other = Load("FORCELINK FUNC theirs(w$, m$, wp$, lp$) IF (m$ == 1024) showmessage(\"theirs\"); END; RETURN(1); END;");
    PushNumber(static_cast<double>(form));
    PushNumber(Address(Procedure(other, "theirs")));
    Builtin_setwndproc();
    const WindowRecord* record = FindWindowRecordByHandle(form, nullptr);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->procedureContext, other);
    Output();
    platform::SendMessageW(form, platform::WM_USER, 0, 0);
    EXPECT_EQ(Output(), "theirs\n");
    EndProgramContext(other);
    EXPECT_EQ(record->eventProcedure, nullptr);
    platform::SendMessageW(form, platform::WM_USER, 0, 0);
    EXPECT_EQ(Output(), "");
    // A value that is no procedure of the current program clears it.
    CurrentContext = application;
    PushNumber(static_cast<double>(form));
    PushNumber(12345);
    Builtin_setwndproc();
    EXPECT_EQ(record->eventProcedure, nullptr);
}

TEST_F(WindowClassesTest, InheritedReachesTheReplacedOrTheDefaultProcedureAndGivesZero) {
    ProgramContext* application = Load(kClassProcedures);
    const HWND form = NewForm("InheritForm", Procedure(application, "onform"));
    PushValue("Dialog", 0, nullptr);
    PushValue("InheritDialog", 0, nullptr);
    PushNumber(0);
    PushNumber(100);
    PushNumber(100);
    Builtin_newdlg();
    const HWND dialog = static_cast<HWND>(PopNumber());
    ASSERT_EQ(platform::GetParent(dialog), form);
    RegisterClass("InheritClass", Procedure(application, "blanker"));
    const HWND control = Control(application, form, "InheritClass", nullptr);
    struct Case {
        HWND window;
        uint32_t message;
        bool alive;  // after WM_CLOSE's default processing
    };
    // WM_CLOSE's default processing destroys the window: a dialog, whose
    // procedure never does, has nothing replaced and gets it.
    const Case cases[] = {{dialog, platform::WM_CLOSE, false}, {control, platform::WM_CLOSE, false},
                          {form, platform::WM_CLOSE, false}};
    for (const Case& c : cases) {
        PushNumber(static_cast<double>(c.window));
        PushNumber(c.message);
        PushNumber(0);
        PushNumber(0);
        Builtin_inherited();
        EXPECT_EQ(PopNumber(), 0);
        EXPECT_EQ(platform::IsWindow(c.window), c.alive) << c.window;
    }
}

TEST_F(WindowClassesTest, InheritedInsideAClassProcedureIsTheDefaultProcessing) {
    ProgramContext* application = Load(R"(
FORCELINK FUNC passer(w$, m$, wp$, lp$)
  IF (m$ == 1024) showmessage("pass"); inherited(w$, m$, wp$, lp$); RETURN(0); END;
  RETURN(1);
END;
FORCELINK FUNC onform(w$, m$, wp$, lp$) RETURN(1); END;
)");
    const HWND form = NewForm("PassForm", Procedure(application, "onform"));
    RegisterClass("PassClass", Procedure(application, "passer"));
    const HWND control = Control(application, form, "PassClass", nullptr);
    Output();
    platform::SendMessageW(control, platform::WM_USER, 0, 0);
    EXPECT_EQ(Output(), "pass\n") << "once, not again through itself";
}

TEST_F(WindowClassesTest, UserDataAsNumberTextAndReference) {
    ProgramContext* application = Load(kClassProcedures);
    const HWND form = NewForm("DataForm", Procedure(application, "onform"));
    VariableRecord* variable = RequireVariable(application->globalHead, "KEPT$");
    ASSERT_NE(variable, nullptr);
    static const char16_t wide[] = u"wide text";
    struct Case {
        const char* text;
        const char16_t* wideText;
        double number;
        bool reference;
    };
    const Case cases[] = {
        {nullptr, nullptr, 42.5, false},
        {"narrow text", nullptr, 0, false},
        {nullptr, wide, 0, false},
        {nullptr, nullptr, 0, true},
    };
    for (const Case& c : cases) {
        // The text given is a temporary: it is overwritten once kept.
        char narrow[32] = {};
        if (c.text) std::strcpy(narrow, c.text);
        char16_t wideCopy[32] = {};
        if (c.wideText) std::memcpy(wideCopy, c.wideText, sizeof wide);
        PushNumber(static_cast<double>(form));
        if (c.reference) {
            PushVariableCell(variable);
            CurrentContext->stackTop->flags |= kEntryByReference;
        } else if (c.wideText) {
            PushValue(reinterpret_cast<const char*>(wideCopy), 0, nullptr);
            CurrentContext->stackTop->flags = kEntryWide;
        } else {
            PushValue(c.text ? narrow : nullptr, c.number, nullptr);
        }
        Builtin_setuserdata();
        std::memset(narrow, 'x', sizeof narrow - 1);
        std::memset(wideCopy, 0x41, sizeof wideCopy - 2);
        PushNumber(static_cast<double>(form));
        Builtin_getuserdata();
        const StackEntry* top = CurrentContext->stackTop;
        EXPECT_EQ(top->value, c.number);
        EXPECT_EQ(top->variable, c.reference ? variable : nullptr);
        if (c.text) {
            ASSERT_NE(top->text, nullptr);
            EXPECT_STREQ(top->text, c.text);
            EXPECT_EQ(top->flags & kEntryWide, 0u);
        } else if (c.wideText) {
            ASSERT_NE(top->text, nullptr);
            EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(top->text)), std::u16string(wide));
            EXPECT_EQ(top->flags & kEntryWide, kEntryWide) << "the width flag is kept";
        } else {
            EXPECT_EQ(top->text, nullptr);
        }
        DropStackEntry();
    }
    // A window without a record: nothing kept, 0 back.
    PushNumber(0x5151);
    PushNumber(3);
    Builtin_setuserdata();
    PushNumber(0x5151);
    Builtin_getuserdata();
    EXPECT_EQ(PopNumber(), 0);
}

TEST_F(WindowClassesTest, GetuserdataWithoutSetuserdataIsZero) {
    ProgramContext* application = Load(kClassProcedures);
    const HWND form = NewForm("EmptyDataForm", Procedure(application, "onform"));
    PushNumber(static_cast<double>(form));
    Builtin_getuserdata();
    const StackEntry* top = CurrentContext->stackTop;
    EXPECT_EQ(top->value, 0);
    EXPECT_EQ(top->text, nullptr);
    EXPECT_EQ(top->variable, nullptr);
}

}  // namespace
}  // namespace qob
