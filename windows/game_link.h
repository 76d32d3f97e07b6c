// windows/game_link.h
// What forms use of the game engine and of the sound output: the game's
// process-wide state and the engine's and mixer's calls. Until those layers
// fill the calls in, the answers are "no game, no sound": no game window, no
// sprites, the point as it is, nothing to pause.
#pragma once

#include <cstdint>

#include "platform/surface.h"

namespace qob {

struct Instruction;
struct ProgramContext;

// The game's full-screen window; 0 when no game is open.
extern uintptr_t GameWindow;

// The world position of the screen's top-left corner.
struct ViewOffsetPoint {
    double x;
    double y;
};
extern ViewOffsetPoint ViewOffset;

// The sprite the stylus last hit on a game form, or null.
extern void* HoveredSprite;

// 2: suspended by the program (g_suspend); 1: suspended by a focus loss.
extern int32_t GameState;
extern int32_t SavedGameState;

// The frame's update rectangles: mode 0 redraws the whole screen, mode 1
// keeps up to 1,023 rectangles (a new one merged into the first it meets),
// mode 2 keeps one union rectangle.
constexpr int32_t kMaxDirtyRects = 1023;
struct DirtyRectList {
    int32_t mode;
    int32_t count;
    platform::RECT rects[kMaxDirtyRects];
    platform::RECT screen;
};
extern DirtyRectList GameDirtyRects;

// Adds a rectangle to the list by its mode's rule.
void AddDirtyRect(DirtyRectList& list, const platform::RECT& rect);

// What the form needs to know of a sprite.
struct SpriteView {
    double x;
    double y;
    uint64_t options;           // 4: x fixed to the screen; 8: y fixed to the screen
    Instruction* procedure;     // the sprite's own procedure, or null
    ProgramContext* owner;      // the context the procedure runs in
    bool lifetimeEnded;
};
constexpr uint64_t kSpriteFixedX = 4;
constexpr uint64_t kSpriteFixedY = 8;

// The engine's calls (null: no engine).
// The topmost sprite at a game point (mode 1), or null.
extern void* (*FindSpriteAtPoint)(int32_t x, int32_t y, int32_t mode);
// A live sprite's fields; false for anything that is no live sprite.
extern bool (*DescribeSprite)(const void* sprite, SpriteView* view);
// Converts a stylus point for the display orientation (null: as it is).
extern void (*RotatePointForDisplay)(platform::POINT* point);
// Brings the game window back to full screen and the front.
extern void (*ResumeGraphics)(uintptr_t gameWindow);
// The sound output device (null: no sound).
extern void (*SoundPauseDevice)();
extern void (*SoundResumeDevice)();

// The game loops' words that the engine owns: its main-loop byte (the
// driver chooses the loop by it), the run-time limit (0xFFFFFFFF: none), the
// frame-rate history count and the automatic-drawing mode; and its two
// loops. The engine points them at its own state when it registers; until
// then they point at words of this layer and the loops return at once.
struct GameLoopLink {
    int32_t* mainLoop;
    uint32_t* runTimeLimit;
    int32_t* frameRateHistoryCount;
    int32_t* autoDrawMode;
    void (*runLoop)();
    void (*runLoop2)();
};
extern GameLoopLink GameLoops;

// Puts everything back to "no game, no sound".
void ResetGameLink();

}  // namespace qob
