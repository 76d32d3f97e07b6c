// display/rotation_driver.h
// The driver that wraps another when the program asks for an orientation
// other than the hardware's: the program draws into an upright buffer of the
// asked shape, and each present turns the dirty part into the frame buffer.
#pragma once

#include <cstdint>
#include <memory>

#include "display/driver.h"
#include "display/tile_copy.h"

namespace qob {

class RotationDriver : public Driver {
public:
    explicit RotationDriver(std::unique_ptr<Driver> inner);
    ~RotationDriver() override;

    void Resume() override { inner->Resume(); }
    void Suspend() override { inner->Suspend(); }
    void Repaint() override { inner->Repaint(); }
    [[nodiscard]] bool Initialize(uintptr_t window, const DisplayParams& params, const DriverInfo& innerInfo) override;
    [[nodiscard]] PixelBuffer* Lock() override;
    void Unlock(uint32_t flags) override;
    void AdjustDirtyRect(const Rect& rect) override;

    [[nodiscard]] int32_t Rotation() const { return rotation; }
    [[nodiscard]] const Driver& Inner() const { return *inner; }
    // The rectangle the next present copies, in frame-buffer coordinates.
    [[nodiscard]] const Rect& InnerDirtyRect() const { return innerRect; }

private:
    struct Copier {
        TileWalk walk;
    };

    std::unique_ptr<Driver> inner;
    PixelBuffer* view = nullptr;         // owned
    PixelBuffer* innerFrame = nullptr;   // while locked
    int32_t rotation = 0;
    Copier plain{TileWalk::Columns};
    Copier afterWait{TileWalk::Rows};
    const TileSet* tiles = nullptr;
    Rect innerRect{0, 0, 0, 0};
};

// The rotation from an inner orientation to an asked one: (inner - asked)
// mod 4, never negative; an asked orientation of 4 or more counts as the
// inner one.
[[nodiscard]] int32_t RotationBetween(int32_t innerOrientation, int32_t askedOrientation);

// The frame-buffer rectangle that a view rectangle covers under rotation r,
// for a frame buffer of innerWidth x innerHeight.
[[nodiscard]] Rect ViewRectToInner(int32_t r, const Rect& rect, int32_t innerWidth, int32_t innerHeight);

// The tile set for a processor type: the cache-ordered set for type 2 (its
// cache favours reading each source row once), the plain set otherwise.
[[nodiscard]] const TileSet& TileSetForCpu(int32_t cpuType);

}  // namespace qob
