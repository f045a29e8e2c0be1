#include "api/board_state.h"

#include "frame/frame_recorder.h"
#include "output/display.h"

namespace softboard {

BoardState::BoardState() = default;
BoardState::~BoardState() = default;

}  // namespace softboard
