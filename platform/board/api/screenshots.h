// Screenshots: the frame as shown, written as a PNG file row by row.
#pragma once

#include <string>

#include "api/board_state.h"

namespace softboard {

// The last frame shown to `path`; a save that fails says why on standard
// error.
void SaveScreenshot(const BoardState& board, const std::string& path);

// F12: the first free screenshot-NNNN.png in the current directory.
void SaveNumberedScreenshot(const BoardState& board);

// The display's size changed and new buffers come, empty until the next
// swap: with a screenshot to save at shutdown, the last frame shown is kept
// until then. Forgotten at the next frame shown.
void KeepShownFrame(BoardState& board);
void ForgetKeptFrame(BoardState& board);

}  // namespace softboard
