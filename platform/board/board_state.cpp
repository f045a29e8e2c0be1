#include "board_state.h"

#include "bands.h"
#include "display.h"

namespace softboard {

BoardState::BoardState() = default;
BoardState::~BoardState() = default;

}  // namespace softboard
