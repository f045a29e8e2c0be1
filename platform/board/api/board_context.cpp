#include "api/board_context.h"

#include "grlib.h"

namespace softboard {
namespace {

BoardState*& CurrentBoard() {
  static BoardState* board = new BoardState;
  return board;
}

}  // namespace

BoardState& TheBoard() {
  return *CurrentBoard();
}

std::recursive_mutex& BoardLock() {
  static auto* lock = new std::recursive_mutex;  // never destroyed, like the board
  return *lock;
}

ScopedBoard::ScopedBoard(const Settings& settings) : board_(std::make_unique<BoardState>()) {
  const std::lock_guard<std::recursive_mutex> hold(BoardLock());
  previous_ = CurrentBoard();
  board_->given_settings = settings;
  CurrentBoard() = board_.get();
}

ScopedBoard::~ScopedBoard() {
  const std::lock_guard<std::recursive_mutex> hold(BoardLock());
  if (board_->initialized) grLibShutdown();
  CurrentBoard() = previous_;
}

}  // namespace softboard
