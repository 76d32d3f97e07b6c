// tests/platform/com/ole_embedding_test.cpp
// OleRun and OleSetContainedObject: through IRunnableObject when an object
// offers it, accepted without it, refused for null.
#include "platform/com/ole_embedding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qob::platform {
namespace {

class Runnable : public IRunnableObject {
  public:
    explicit Runnable(bool offered, HRESULT answer = S_OK) : offered_(offered), answer_(answer) {}
    std::vector<std::string> calls;
    int references = 1;

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown || (offered_ && iid == IID_IRunnableObject)) {
            *object = static_cast<IRunnableObject*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    uint32_t AddRef() override { return static_cast<uint32_t>(++references); }
    uint32_t Release() override { return static_cast<uint32_t>(--references); }
    HRESULT GetRunningClass(CLSID*) override { return E_NOTIMPL; }
    HRESULT Run(IBindCtx* context) override {
        calls.push_back(context ? "run with context" : "run");
        return answer_;
    }
    int32_t IsRunning() override { return 1; }
    HRESULT LockRunning(int32_t, int32_t) override { return S_OK; }
    HRESULT SetContainedObject(int32_t contained) override {
        calls.push_back("contained " + std::to_string(contained));
        return answer_;
    }

  private:
    bool offered_;
    HRESULT answer_;
};

TEST(OleEmbeddingTest, RunAndContainmentGoThroughTheRunnableInterfaceWhenOffered) {
    struct Case {
        bool offered;
        HRESULT answer;
        HRESULT expected;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {true, S_OK, S_OK, {"run", "contained 1", "contained 0"}},
        {true, E_FAIL, E_FAIL, {"run", "contained 1", "contained 0"}},
        {false, E_FAIL, S_OK, {}},
    };
    for (const Case& c : cases) {
        Runnable object(c.offered, c.answer);
        EXPECT_EQ(OleRun(&object), c.expected);
        EXPECT_EQ(OleSetContainedObject(&object, 1), c.expected);
        EXPECT_EQ(OleSetContainedObject(&object, 0), c.expected);
        EXPECT_EQ(object.calls, c.calls) << c.offered;
        EXPECT_EQ(object.references, 1) << "the interface asked for is given back";
    }
    EXPECT_EQ(OleRun(nullptr), E_INVALIDARG);
    EXPECT_EQ(OleSetContainedObject(nullptr, 1), E_INVALIDARG);
}

TEST(OleEmbeddingTest, EveryInterfaceHasItsOwnIdentifier) {
    const IID* ids[] = {&IID_IOleWindow, &IID_IOleClientSite, &IID_IOleInPlaceSite, &IID_IOleInPlaceSiteEx,
                        &IID_IOleInPlaceUIWindow, &IID_IOleInPlaceFrame, &IID_IParseDisplayName, &IID_IOleContainer,
                        &IID_IOleItemContainer, &IID_IOleCommandTarget, &IID_IOleDocumentSite, &IID_IOleDocument,
                        &IID_IOleDocumentView, &IID_IAdviseSink, &IID_IOleControlSite, &IID_IOleObject,
                        &IID_IOleInPlaceObject, &IID_IOleInPlaceActiveObject, &IID_IViewObject,
                        &IID_IPersistStreamInit, &IID_IRunnableObject, &IID_IUnknown, &IID_IDispatch,
                        &IID_IClassFactory, &IID_IConnectionPointContainer, &IID_IConnectionPoint,
                        &IID_IEnumConnectionPoints, &IID_ITypeInfo, &IID_ITypeLib};
    for (size_t i = 0; i < std::size(ids); ++i)
        for (size_t j = i + 1; j < std::size(ids); ++j) EXPECT_FALSE(*ids[i] == *ids[j]) << i << " and " << j;
}

}  // namespace
}  // namespace qob::platform
