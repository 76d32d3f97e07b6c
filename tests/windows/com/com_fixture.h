// tests/windows/com/com_fixture.h
// A program context with QOB.TestObject registered in a temporary registry,
// and wrappers attached to new test objects.
#pragma once

#include <gtest/gtest.h>

#include "windows/com_test_object_support.h"
#include "platform/temp_directory.h"
#include "runtime/registry/hooks.h"
#include "runtime/vm/vm_fixture.h"
#include "windows/com/com_object_wrapper.h"
#include "windows/windows_registrations.h"

namespace qob::testing {

class ComTest : public VmTest {
  protected:
    void SetUp() override {
        VmTest::SetUp();
        FillWindowsRuntimeHooks();
        RegisterTestObjectClass();
        startObjects = LiveTestObjects.load();
    }
    void TearDown() override {
        ReleaseContextComObjects(context);
        ResetRuntimeHooks();
        VmTest::TearDown();
        EXPECT_EQ(LiveTestObjects.load(), startObjects) << "test objects left alive";
    }

    // A live wrapper of the current context attached to a new test object.
    ComObjectWrapper* NewTestWrapper() {
        ComObjectWrapper* wrapper = NewComObjectWrapper(context);
        platform::IUnknown* object = NewTestObject();
        platform::IDispatch* dispatch = nullptr;
        object->QueryInterface(platform::IID_IDispatch, reinterpret_cast<void**>(&dispatch));
        object->Release();
        EXPECT_EQ(AttachComObject(wrapper, dispatch), 1);
        dispatch->Release();
        return wrapper;
    }

    TempDirectory registry;
    ScopedEnvironment location{"QOB_REGISTRY", registry.Path().c_str()};
    int startObjects = 0;
};

}  // namespace qob::testing
