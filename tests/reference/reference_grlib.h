// The library's operations over the reference board (reference_grlib.cpp):
// an example built against them draws its frames there.
#pragma once

#include <vector>

#include "reference/reference_board.h"

namespace reference {

Board& StandInBoard();
// The last frame swapped, and how many were.
const std::vector<uint32_t>& StandInShown();
int StandInFrames();
// The stand-in as at the start of a program.
void ResetStandIn();

}  // namespace reference
