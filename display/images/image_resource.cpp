// display/images/image_resource.cpp
// Resource bytes to surfaces.
#include "display/images/image_resource.h"

#include "display/images/image_decoding.h"

namespace qob {

PixelSurface* LoadImageResource(platform::ResourceText name, platform::ResourceText type, const void* module) {
    if (type == kBitmapResource) return nullptr;  // the bitmap way
    const platform::ResourceHandle resource = platform::FindResourceW(module, name, type);
    if (resource == nullptr) return nullptr;  // the bitmap way
    const auto* bytes = static_cast<const uint8_t*>(platform::LockResource(platform::LoadResource(module, resource)));
    if (bytes == nullptr) return nullptr;
    return DecodeImageMemory(bytes, bytes + platform::SizeofResource(module, resource));
}

}  // namespace qob
