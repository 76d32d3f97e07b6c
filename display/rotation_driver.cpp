// display/rotation_driver.cpp
// Turning the view into the wrapped driver's frame buffer.
#include "display/rotation_driver.h"

#include <algorithm>

#include "display/device_model.h"

namespace qob {
namespace {

int32_t RoundDown16(int32_t value) { return value & ~(kTileSize - 1); }
int32_t RoundUp16(int32_t value) { return int32_t((int64_t(value) + kTileSize - 1) & ~int64_t(kTileSize - 1)); }

}  // namespace

int32_t RotationBetween(int32_t innerOrientation, int32_t askedOrientation) {
    if (askedOrientation < 0 || askedOrientation >= kAnyOrientation) askedOrientation = innerOrientation;
    return ((innerOrientation - askedOrientation) % 4 + 4) % 4;
}

Rect ViewRectToInner(int32_t r, const Rect& rect, int32_t innerWidth, int32_t innerHeight) {
    switch (r) {
        case 1: return Rect{innerWidth - rect.bottom, rect.left, innerWidth - rect.top, rect.right};
        case 2:
            return Rect{innerWidth - rect.right, innerHeight - rect.bottom, innerWidth - rect.left,
                        innerHeight - rect.top};
        case 3: return Rect{rect.top, innerHeight - rect.right, rect.bottom, innerHeight - rect.left};
        default: return rect;
    }
}

const TileSet& TileSetForCpu(int32_t cpuType) { return cpuType == 2 ? CacheOrderedTileSet() : PlainTileSet(); }

RotationDriver::RotationDriver(std::unique_ptr<Driver> inner) : inner(std::move(inner)) {}

RotationDriver::~RotationDriver() { delete view; }

bool RotationDriver::Initialize(uintptr_t, const DisplayParams& params, const DriverInfo& innerInfo) {
    if (view != nullptr) return false;
    rotation = RotationBetween(innerInfo.orientation, params.orientation);
    const bool quarter = rotation % 2 == 1;
    const int32_t width = quarter ? innerInfo.height : innerInfo.width;
    const int32_t height = quarter ? innerInfo.width : innerInfo.height;
    view = CreatePixelBuffer(width, height);
    if (view == nullptr) return false;
    info = DriverInfo{width,
                      height,
                      16,
                      view->pitch,
                      params.orientation < kAnyOrientation ? params.orientation : innerInfo.orientation,
                      kSwapModeOwn,
                      view->bits};
    // The after-wait copy walks along the rows that the controller scans;
    // a driver that draws straight into its frame buffer has no scan to follow.
    plain = Copier{TileWalk::Columns};
    afterWait = Copier{TileWalk::Rows};
    if (rotation == 2) plain = afterWait;
    if (innerInfo.swapMode == kSwapModeDirect) afterWait = plain;
    tiles = &TileSetForCpu(GetCpuType());
    return true;
}

PixelBuffer* RotationDriver::Lock() {
    innerFrame = inner->Lock();
    return innerFrame != nullptr ? view : nullptr;
}

void RotationDriver::Unlock(uint32_t flags) {
    const Copier* copier = &plain;
    if (flags & kPresentAfterWait) {
        inner->WaitBeforeCopy();
        copier = &afterWait;
    }
    if (innerFrame != nullptr && view != nullptr) {
        Rect rect = innerRect;
        RectIntersect(rect, Rect{0, 0, std::min(innerFrame->width, inner->info.width),
                                 std::min(innerFrame->height, inner->info.height)});
        CopyRotatedRect(rotation, *view, *innerFrame, rect, copier->walk, *tiles);
    }
    inner->Unlock(flags);
    innerFrame = nullptr;
}

// The rectangle is widened to whole tiles and then kept inside the frame
// buffer, whose sizes need not be multiples of 16; an empty rectangle stays
// empty (widening would otherwise give it the partial tile at its corner).
void RotationDriver::AdjustDirtyRect(const Rect& rect) {
    const int32_t innerWidth = inner->info.width, innerHeight = inner->info.height;
    const Rect turned = ViewRectToInner(rotation, rect, innerWidth, innerHeight);
    inner->AdjustDirtyRect(turned);
    if (IsRectEmpty(turned)) {
        innerRect = Rect{0, 0, 0, 0};
        return;
    }
    innerRect = Rect{RoundDown16(turned.left), RoundDown16(turned.top), RoundUp16(turned.right),
                     RoundUp16(turned.bottom)};
    RectIntersect(innerRect, Rect{0, 0, innerWidth, innerHeight});
    if (IsRectEmpty(innerRect)) innerRect = Rect{0, 0, 0, 0};
}

}  // namespace qob
