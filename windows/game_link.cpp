// windows/game_link.cpp
// The game's state as forms see it, and the dirty-rectangle rule.

#include "windows/game_link.h"

#include <algorithm>

namespace qob {

uintptr_t GameWindow = 0;
ViewOffsetPoint ViewOffset = {0, 0};
void* HoveredSprite = nullptr;
int32_t GameState = 0;
int32_t SavedGameState = 0;
DirtyRectList GameDirtyRects = {};

void* (*FindSpriteAtPoint)(int32_t x, int32_t y, int32_t mode) = nullptr;
bool (*DescribeSprite)(const void* sprite, SpriteView* view) = nullptr;
void (*RotatePointForDisplay)(platform::POINT* point) = nullptr;
void (*ResumeGraphics)(uintptr_t gameWindow) = nullptr;
void (*SoundPauseDevice)() = nullptr;
void (*SoundResumeDevice)() = nullptr;

namespace {

bool Meet(const platform::RECT& a, const platform::RECT& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

platform::RECT Widen(const platform::RECT& a, const platform::RECT& b) {
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

}  // namespace

void AddDirtyRect(DirtyRectList& list, const platform::RECT& rect) {
    if (list.mode == 1) {
        for (int32_t i = 0; i < list.count; ++i)
            if (Meet(list.rects[i], rect)) {
                list.rects[i] = Widen(list.rects[i], rect);
                return;
            }
        if (list.count + 1 < kMaxDirtyRects + 1) list.rects[list.count++] = rect;
        return;
    }
    if (list.mode == 2) {
        list.rects[0] = list.count == 0 ? rect : Widen(list.rects[0], rect);
        list.count = 1;
    }
}

namespace {
int32_t gMainLoop = 0;
uint32_t gRunTimeLimit = 0xFFFFFFFFu;
int32_t gFrameRateHistoryCount = 0;
int32_t gAutoDrawMode = 0;
}  // namespace

GameLoopLink GameLoops = {&gMainLoop, &gRunTimeLimit, &gFrameRateHistoryCount, &gAutoDrawMode, nullptr, nullptr};

void ResetGameLink() {
    GameWindow = 0;
    ViewOffset = {0, 0};
    HoveredSprite = nullptr;
    GameState = 0;
    SavedGameState = 0;
    GameDirtyRects = {};
    FindSpriteAtPoint = nullptr;
    DescribeSprite = nullptr;
    RotatePointForDisplay = nullptr;
    ResumeGraphics = nullptr;
    SoundPauseDevice = nullptr;
    SoundResumeDevice = nullptr;
}

}  // namespace qob
