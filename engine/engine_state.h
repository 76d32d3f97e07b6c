// engine/engine_state.h
// What the runtime reads of the game engine's state, and the engine entry
// points it calls. Until the engine exists its state reads "not started".
#pragma once

#include <cstdint>

namespace qob {

struct ProgramContext;

struct EngineState {
    bool graphicsInitialised;
    double startValue;             // recorded by g_init: the engine was started
    bool gameLoopRunning;
    int32_t mainLoopChoice;        // g_setmainloop: non-zero selects the second loop
    ProgramContext* displayOwner;  // context owning the engine's display
    uintptr_t mainWindow;          // the engine's main window
};

extern EngineState Engine;

// How many glyphs a font rasterised through the window system receives; set
// at registration, before any font is made.
extern int32_t GdiFontGlyphCount;

// Ends the engine's use of the display and resets its state; nothing for an
// engine that never started.
void ShutdownGraphics();

// The game main loops; they return at once for an engine that never started.
void RunGameLoop();
void RunGameLoop2();

}  // namespace qob
