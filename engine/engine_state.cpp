// engine/engine_state.cpp
// The engine state as the runtime sees it before the engine exists: never
// started, so shutting it down or running its loops has nothing to do.

#include "engine/engine_state.h"

namespace qob {

EngineState Engine = {};
int32_t GdiFontGlyphCount = 0;

void ShutdownGraphics() {
    if (!Engine.graphicsInitialised) return;
    Engine = EngineState{};
}

void RunGameLoop() {}

void RunGameLoop2() {}

}  // namespace qob
