// The frames of an open display: the buffers they are drawn in, at the size
// the display shows them (the scale setting, or the largest 4:3 size that
// fits) and supersampled as far as buffers may be; the threads that size is
// worth; the swap that draws a frame and shows it; and the end of it all.
#pragma once

#include "api/board_state.h"

namespace softboard {

// The size frames are shown at: the scene times the scale setting, or the
// largest 4:3 size that fits the display's area (never below the scene's own
// size; headless, the scene's size).
void ShownSize(const BoardState& board, int* width, int* height);

// The supersampling asked for, held so that no buffer passes kMaxBufferSide
// pixels a side at a shown width of `width`.
constexpr int kMaxBufferSide = 16384;
int SupersamplingAt(const Settings& settings, int width);

// The frame buffers, drawing threads and texture memory of the display being
// opened, for `color_buffers` buffers; false, with nothing made, when there
// is no memory for them.
bool StartDrawing(BoardState& board, int color_buffers);

// Draws what is recorded for the frame's bands.
void FinishDrawing(BoardState& board);

// Draws the frame and shows it after `retraces` retraces, then takes the
// display's events (a screenshot asked for, a new size).
void SwapFrame(BoardState& board, int retraces);

// The gamma frames are shown through; frames are drawn in the board's own
// buffers (not the display's rows) while it is not 1.
void SetShownGamma(BoardState& board, float g);
// The frame as shown, through the gamma: what screenshots save.
PixelRows ShownRows(const BoardState& board);

// Drops what is recorded and not shown, and closes the display.
void StopDrawing(BoardState& board);

}  // namespace softboard
