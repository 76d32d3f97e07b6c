// platform/com/ole_embedding.cpp
// The identifiers of the embedding interfaces, OleRun and OleSetContainedObject.
#include "platform/com/ole_embedding.h"

namespace qob::platform {

namespace {
constexpr IID EmbeddingIid(uint8_t n) { return IID{0x51B00000, 0x0001, 0x4000, {0x8A, 0x00, 0x51, 0x0B, 0x00, 0x01, 0x00, n}}; }
}  // namespace

const IID IID_IOleWindow = EmbeddingIid(0x01);
const IID IID_IOleClientSite = EmbeddingIid(0x02);
const IID IID_IOleInPlaceSite = EmbeddingIid(0x03);
const IID IID_IOleInPlaceSiteEx = EmbeddingIid(0x04);
const IID IID_IOleInPlaceUIWindow = EmbeddingIid(0x05);
const IID IID_IOleInPlaceFrame = EmbeddingIid(0x06);
const IID IID_IParseDisplayName = EmbeddingIid(0x07);
const IID IID_IOleContainer = EmbeddingIid(0x08);
const IID IID_IOleItemContainer = EmbeddingIid(0x09);
const IID IID_IOleCommandTarget = EmbeddingIid(0x0A);
const IID IID_IOleDocumentSite = EmbeddingIid(0x0B);
const IID IID_IOleDocument = EmbeddingIid(0x0C);
const IID IID_IOleDocumentView = EmbeddingIid(0x0D);
const IID IID_IAdviseSink = EmbeddingIid(0x0E);
const IID IID_IOleControlSite = EmbeddingIid(0x0F);
const IID IID_IOleObject = EmbeddingIid(0x10);
const IID IID_IOleInPlaceObject = EmbeddingIid(0x11);
const IID IID_IOleInPlaceActiveObject = EmbeddingIid(0x12);
const IID IID_IViewObject = EmbeddingIid(0x13);
const IID IID_IPersistStreamInit = EmbeddingIid(0x14);
const IID IID_IRunnableObject = EmbeddingIid(0x15);

namespace {

IRunnableObject* RunnableOf(IUnknown* object) {
    IRunnableObject* runnable = nullptr;
    if (FAILED(object->QueryInterface(IID_IRunnableObject, reinterpret_cast<void**>(&runnable)))) return nullptr;
    return runnable;
}

}  // namespace

HRESULT OleRun(IUnknown* object) {
    if (!object) return E_INVALIDARG;
    IRunnableObject* runnable = RunnableOf(object);
    if (!runnable) return S_OK;
    const HRESULT result = runnable->Run(nullptr);
    runnable->Release();
    return result;
}

HRESULT OleSetContainedObject(IUnknown* object, int32_t contained) {
    if (!object) return E_INVALIDARG;
    IRunnableObject* runnable = RunnableOf(object);
    if (!runnable) return S_OK;
    const HRESULT result = runnable->SetContainedObject(contained);
    runnable->Release();
    return result;
}

}  // namespace qob::platform
