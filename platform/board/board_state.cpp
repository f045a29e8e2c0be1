#include "board_state.h"

#include "display.h"
#include "frame_recorder.h"

namespace softboard {

BoardState::BoardState() = default;
BoardState::~BoardState() = default;

}  // namespace softboard
