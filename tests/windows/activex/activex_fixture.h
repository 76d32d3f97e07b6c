// tests/windows/activex/activex_fixture.h
// Script windows with the test controls registered in a temporary registry:
// forms, controls placed through the ActiveX built-ins, and the check that
// every control and site made in a test is gone at its end.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>

#include "platform/temp_directory.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "windows/activex/activex_builtins.h"
#include "windows/activex/activex_site.h"
#include "windows/activex_test_control_support.h"
#include "windows/forms.h"
#include "windows/script_windows_support.h"

namespace qob::testing {

class ActiveXTest : public ScriptWindowsTest {
  protected:
    void SetUp() override {
        ScriptWindowsTest::SetUp();
        RegisterTestControlClasses();
        startControls = LiveTestControls.load();
        startSites = CountAllocatedActiveXSites();
    }
    void TearDown() override {
        ScriptWindowsTest::TearDown();
        EXPECT_EQ(CountLiveActiveXSites(), 0) << "sites left live";
        EXPECT_EQ(CountAllocatedActiveXSites(), startSites) << "sites left in memory";
        EXPECT_EQ(LiveTestControls.load(), startControls) << "test controls left alive";
    }

    platform::HWND NewForm(Instruction* procedure = nullptr) {
        PushValue("Host", 0, nullptr);
        PushValue("HostForm", 0, nullptr);
        PushNumber(procedure ? Address(procedure) : 0.0);
        Builtin_newform();
        return static_cast<platform::HWND>(PopNumber());
    }

    // ActiveX(parent, progId, x, y, cx, cy, procedure) through its built-in.
    double Place(platform::HWND parent, const char* progId, int x, int y, int cx, int cy, Instruction* procedure) {
        PushNumber(static_cast<double>(parent));
        PushValue(progId, 0, nullptr);
        for (int n : {x, y, cx, cy}) PushNumber(n);
        PushNumber(procedure ? Address(procedure) : 0.0);
        Builtin_ActiveX();
        return PopNumber();
    }

    void Free(std::initializer_list<double> handles) {
        OpenArgumentFrame(CurrentContext);
        for (double handle : handles) PushNumber(handle);
        Builtin_FreeActiveX();
    }

    // The built-ins that take one control and give a number.
    double Ask(void (*builtin)(), double handle) {
        PushNumber(handle);
        builtin();
        return PopNumber();
    }

    static ActiveXSite* SiteOf(double handle) { return FindLiveActiveXSite(handle); }

    TempDirectory registry;
    ScopedEnvironment location{"QOB_REGISTRY", registry.Path().c_str()};
    int startControls = 0;
    int startSites = 0;
};

}  // namespace qob::testing
