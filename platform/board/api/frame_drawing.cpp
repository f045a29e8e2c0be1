#include "api/frame_drawing.h"

#include "frame/frame_recorder.h"

namespace softboard {

Destination BackDestination(FrameBuffers& frame) {
  Destination to;
  to.rows = BackRows(frame);
  if (frame.banded) {
    to.where = Destination::Where::kBandRows;
    to.rows.pixels = nullptr;
  }
  return to;
}

TriangleTarget BackTarget(const FrameBuffers& frame) {
  TriangleTarget target;
  target.width = frame.width;
  target.height = frame.height;
  target.layout = frame.layout;
  for (int i = 0; i < 4; i++)
    target.dither[i] = frame.color16 ? frame.dither[size_t(i)].data() : nullptr;
  return target;
}

namespace {

// Prepares the triangle for the back buffer; false when there is no back
// buffer to draw it in, or it draws nothing there.
bool Prepare(BoardState& board, const GrVertex& a, const GrVertex& b, const GrVertex& c,
             SpanLoops loops, PreparedTriangle* t, Destination* to) {
  *to = BackDestination(board.frame);
  const bool in_bands = to->where == Destination::Where::kBandRows && board.recorder;
  if (!in_bands && to->rows.pixels == nullptr) return false;
  return PrepareTriangle(BackTarget(board.frame), board.render, board.tmu0, a, b, c, loops, t);
}

}  // namespace

void DrawTriangle(BoardState& board, const GrVertex& a, const GrVertex& b, const GrVertex& c) {
  PreparedTriangle t;
  Destination to;
  if (!Prepare(board, a, b, c, SpanLoops::kBest, &t, &to)) return;
  if (board.recorder) return board.recorder->RecordTriangle(to, t);
  DrawRows(t, to.rows, 0, to.rows.height);
}

void DrawTriangleGeneral(BoardState& board, const GrVertex& a, const GrVertex& b,
                         const GrVertex& c) {
  PreparedTriangle t;
  Destination to;
  if (!Prepare(board, a, b, c, SpanLoops::kGeneralOnly, &t, &to)) return;
  DrawRows(t, to.rows, 0, to.rows.height);
}

}  // namespace softboard
