// tests/native/asm_pixels_test.cpp
// The pixel routines: without a canvas the run stops with an access
// violation at the calling instruction; with one, a setpixel loop in ARM
// code sets the same pixels as SetPixel565 called directly.
#include <gtest/gtest.h>

#include <cstring>

#include "asm_test_support.h"
#include "display/canvas.h"
#include "display/drawing.h"
#include "display/pixel_surface.h"
#include "native/arm_cpu.h"
#include "native/asm_runtime.h"
#include "platform/memory.h"

namespace qob::testing {
namespace {

constexpr int32_t kSide = 16;

struct TestCanvas {
    PixelSurface* surface = NewSurface(kSide, kSide);
    Canvas* canvas = CreateSurfaceCanvas(surface);
    ~TestCanvas() {
        DestroyCanvas(canvas);
        platform::FreeBlock(canvas);
        SurfaceRelease(surface);
        platform::FreeBlock(surface);
    }
};

Canvas* gCanvas = nullptr;

class AsmPixels : public AsmTest {
protected:
    void TearDown() override {
        ResetAsmHooks();
        gCanvas = nullptr;
        AsmTest::TearDown();
    }
    ArmOutcome RunSource(const char* source) {
        const Assembled block = Assemble(source, 4096);
        EXPECT_EQ(block.errors, "") << source;
        MarkArmCodeBlock(block.result.base, 4096);
        const ArmOutcome outcome = RunAsmBlock(block.result.base);
        UnmarkArmCodeBlock(block.result.base);
        lastBase = block.result.base;
        return outcome;
    }
    uint32_t lastBase = 0;
};

TEST_F(AsmPixels, WithoutACanvasEachRoutineIsAnAccessViolationAtItsCall) {
    for (const char* source : {":main setpixel 1, 2, 3", ":main getpixel 1, 2", ":main beginscene", ":main update"}) {
        const ArmOutcome outcome = RunSource(source);
        EXPECT_EQ(outcome.stop, ArmStop::Fault) << source;
        EXPECT_EQ(outcome.fault, platform::FaultKind::AccessViolation) << source;
        // The load of pc from the pool: inside the statement's words.
        EXPECT_GT(outcome.address, lastBase + 44) << source;
        EXPECT_LT(outcome.address, lastBase + 200) << source;
        uint32_t word = 0;
        std::memcpy(&word, reinterpret_cast<const void*>(uintptr_t{outcome.address}), 4);
        EXPECT_EQ(word & 0xFFFFF000u, 0xE59BF000u) << source;
    }
}

TEST_F(AsmPixels, ASetpixelLoopSetsWhatSetPixel565Sets) {
    TestCanvas viaCode, direct;
    gCanvas = viaCode.canvas;
    AsmHooks.setPixel = [](int32_t x, int32_t y, uint16_t colour) {
        SetPixel565(gCanvas, x, y, colour);
        return true;
    };
    AsmHooks.getPixel = [](int32_t x, int32_t y, uint32_t& colour) {
        colour = GetPixel565(gCanvas, x, y);
        return true;
    };
    // A diagonal in red, a row in blue, and pixel (5, 0) copied to (0, 5).
    const ArmOutcome outcome = RunSource(
        ":main mov r0, 0 :diagonal setpixel r0, r0, 0xF800 add r0, 1 cmp r0, 16 jlt diagonal "
        "mov r0, 0 :row setpixel r0, 3, 0x001F add r0, 1 cmp r0, 16 jlt row "
        "getpixel 5, 5 setpixel 0, 5, r0");
    ASSERT_EQ(outcome.stop, ArmStop::Returned);
    for (int32_t i = 0; i < kSide; ++i) SetPixel565(direct.canvas, i, i, 0xF800);
    for (int32_t i = 0; i < kSide; ++i) SetPixel565(direct.canvas, i, 3, 0x001F);
    SetPixel565(direct.canvas, 0, 5, GetPixel565(direct.canvas, 5, 5));
    for (int32_t y = 0; y < kSide; ++y)
        for (int32_t x = 0; x < kSide; ++x)
            ASSERT_EQ(GetPixel565(viaCode.canvas, x, y), GetPixel565(direct.canvas, x, y)) << x << "," << y;
}

}  // namespace
}  // namespace qob::testing
