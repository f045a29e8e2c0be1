// The demo's procedures.
#pragma once

#include "demo_state.h"

// Reads "tex.3df" into texture unit 0; on failure shuts down and exits(1).
void LoadTexture();
// Draws and shows one frame: the textured triangle, then the shaded one over it.
void DrawFrame(const DemoState* State);
// Takes at most one waiting key and applies it; never waits.
void PollKeyboard(DemoState* State);
// Applies State->Key to the state.
void ApplyKey(DemoState* State);
