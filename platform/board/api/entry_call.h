// How every entry point runs: under the board's lock, checked, traced, then
// forwarded, and nothing thrown ever crosses the C interface. A check says
// why the call is refused (empty: it is not); the trace line is made after
// it, so it reads no caller memory that the check has not vouched for.
#pragma once

#include <mutex>
#include <string>

#include "api/board_context.h"
#include "api/trace.h"

namespace softboard {

// Says `what` on standard error, once a run: a board short of memory would
// otherwise say it every frame.
void ComplainOnce(BoardState& board, const char* what) noexcept;

// The handler every entry point ends in: an exception (out of memory, mostly)
// stops the call where it was. Call it from a catch block only.
void CallFailed(const char* call) noexcept;

// Why a call that needs an open display is refused; empty when it is not.
std::string NeedsDisplay(const BoardState& board);

// Triangles the program passes are set up a few at a time, together (see
// QueueSceneTriangle). Every call but the one that queues them draws them
// first: no call sees or changes the board as if they had not been passed.
void DrawQueuedTriangles(BoardState& board);
enum class Queued { kDrawFirst, kKeep };

// The board for a call, the triangles queued before it drawn unless kKeep.
template <Queued kQueued>
BoardState& BoardFor() {
  BoardState& board = TheBoard();
  if (kQueued == Queued::kDrawFirst && board.queued.count != 0) DrawQueuedTriangles(board);
  return board;
}

// Runs `work(board)` for call `name` under the lock; `failed` when it throws.
template <typename Result, typename Work>
Result Guarded(const char* name, Result failed, Work&& work) noexcept {
  std::unique_lock<std::recursive_mutex> lock(BoardLock(), std::defer_lock);
  try {
    lock.lock();
    return work(BoardFor<Queued::kDrawFirst>());
  } catch (...) {
    CallFailed(name);
    return failed;
  }
}

template <Queued kQueued = Queued::kDrawFirst, typename Work>
void Guarded(const char* name, Work&& work) noexcept {
  std::unique_lock<std::recursive_mutex> lock(BoardLock(), std::defer_lock);
  try {
    lock.lock();
    work(BoardFor<kQueued>());
  } catch (...) {
    CallFailed(name);
  }
}

// A call that returns nothing: checked by `check(board)`, traced with `args`,
// then `work(board)` unless refused.
template <typename Check, typename Work, typename... Args>
void Checked(const char* name, Check&& check, Work&& work, const Args&... args) noexcept {
  Guarded(name, [&](BoardState& board) {
    const std::string refusal = check(board);
    TraceLine trace(board.trace, name, args...);
    if (!refusal.empty()) return trace.Refused(refusal);
    work(board, trace);
  });
}

// A call that changes state and needs an open display: `apply(board)`.
template <typename Apply, typename... Args>
void SetState(const char* name, Apply&& apply, const Args&... args) noexcept {
  Checked(
      name, NeedsDisplay, [&](BoardState& board, TraceLine&) { apply(board); }, args...);
}

}  // namespace softboard
