// tests/windows/window_lists_test.cpp
// forms over the window records: the handles of one application's windows
// in list order, and nothing for a number that is no running application.

#include <gtest/gtest.h>

#include <vector>

#include "builtins/lists/list_conversions.h"
#include "runtime/registry/hooks.h"
#include "runtime/values/list_values.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm_fixture.h"
#include "windows/window_records.h"
#include "windows/windows_registrations.h"

namespace qob::testing {
namespace {

class WindowListsTest : public VmTest {
protected:
    void SetUp() override {
        VmTest::SetUp();
        FillWindowsRuntimeHooks();
    }
    void TearDown() override {
        ResetRuntimeHooks();
        VmTest::TearDown();
    }

    // forms(list, application): its result and the list's item values.
    double Forms(VariableRecord* list, double application, std::vector<double>& handles) {
        PushValue(nullptr, 0.0, list);
        PushNumber(application);
        Builtin_forms();
        const double result = PopNumber();
        handles.clear();
        for (ListNode* node = list->currentNode ? ListFirst(list->currentNode) : nullptr; node; node = node->next)
            handles.push_back(node->value);
        return result;
    }
};

double Handle(const ProgramContext* context) { return static_cast<double>(reinterpret_cast<uintptr_t>(context)); }

TEST_F(WindowListsTest, FormsListsOneApplicationsWindows) {
    ProgramContext* other = Application("OTHER");
    AddWindowRecord(context, 0x101, nullptr, 0, nullptr);
    AddWindowRecord(context, 0x102, nullptr, 0, nullptr);
    AddWindowRecord(other, 0x201, nullptr, 0, nullptr);
    VariableRecord* list = Global("F$");
    std::vector<double> handles;
    EXPECT_EQ(Forms(list, Handle(context), handles), 2);
    EXPECT_EQ(handles, (std::vector<double>{0x101, 0x102}));
    EXPECT_EQ(list->value, 0x101);
    EXPECT_EQ(Forms(list, Handle(other), handles), 1);
    EXPECT_EQ(handles, (std::vector<double>{0x201}));
    // An address that is no running application's, and 0: the empty list.
    for (double notAnApplication : {Handle(context) + 8, 0.0, 12345.0}) {
        EXPECT_EQ(Forms(list, notAnApplication, handles), 0);
        EXPECT_TRUE(handles.empty());
        EXPECT_TRUE(list->flags & kVarList);
    }
}

}  // namespace
}  // namespace qob::testing
