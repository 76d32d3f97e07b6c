// tests/windows/com_test_object_support.h
// QOB.TestObject, the automation class the COM tests drive: properties of
// every supported type, optional, by-reference and failing members, a
// collection whose default Item is declared as a pointer, an event that a
// method fires, and a ledger of the objects alive.
#pragma once

#include <atomic>

#include "platform/com.h"

namespace qob::testing {

extern const platform::CLSID kTestObjectClsid;
extern const platform::IID kTestEventsIid;
constexpr char16_t kTestObjectProgId[] = u"QOB.TestObject";

// Member ids of the test object's dispatch interface.
enum TestMember : platform::DISPID {
    kNumber = 1, kCount, kShort, kSingle, kMoney, kWhen, kText, kFlag, kByte, kAny, kCode,
    kChild = 12, kItems = 13, kLiveObjects = 14,
    kAdd = 20, kConcat, kFill, kFail, kFire, kDescribe, kAddDays, kBytes, kNegate,
};

// Objects of the test classes alive now (test objects and collections).
extern std::atomic<int> LiveTestObjects;

// A new test object (reference count 1) and its class factory.
platform::IUnknown* NewTestObject();
platform::IClassFactory* NewTestObjectFactory();
// The type library the objects describe themselves with (a new reference).
platform::ITypeLib* TestObjectTypeLib();

// Enters the class in the registry as "builtin:QOB.TestObject" and its
// factory in the built-in table.
void RegisterTestObjectClass();

}  // namespace qob::testing
