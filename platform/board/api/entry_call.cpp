#include "api/entry_call.h"

#include <cstdio>
#include <exception>
#include <new>

#include "api/process_output.h"

namespace softboard {

void ComplainOnce(BoardState& board, const char* what) noexcept {
  if (board.failure_reported) return;
  board.failure_reported = true;
  const SigpipeBlocked quiet;
  std::fprintf(stderr, "softboard: %s\n", what);  // no allocation: memory may be short
}

void CallFailed(const char* call) noexcept {
  const char* why = "an unexpected error";
  try {
    throw;
  } catch (const std::bad_alloc&) {
    why = "out of memory";
  } catch (const std::exception& e) {
    why = e.what();
  } catch (...) {
  }
  char line[256];
  std::snprintf(line, sizeof line, "%s failed: %s; the call did nothing more", call, why);
  ComplainOnce(TheBoard(), line);
}

std::string NeedsDisplay(const BoardState& board) {
  if (!board.initialized) return "grLibInit not called";
  return board.open ? "" : "no display open";
}

}  // namespace softboard
