#include "api/frame_drawing.h"

#include "frame/frame_recorder.h"

namespace softboard {

Destination BackDestination(FrameBuffers& frame) {
  Destination to;
  to.rows = BackRows(frame);
  if (frame.storage == FrameStorage::kSupersampledBands) {
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
  for (int i = 0; i < 4; i++) {
    target.dither[i] = frame.color16 ? frame.dither[size_t(i)].data() : nullptr;
    target.lod_dither[i] =
        frame.lod_dither[size_t(i)].empty() ? nullptr : frame.lod_dither[size_t(i)].data();
  }
  return target;
}

void DrawTriangle(BoardState& board, const GrVertex& a, const GrVertex& b, const GrVertex& c,
                  SpanLoops loops) {
  const Destination to = BackDestination(board.frame);
  const bool in_bands = to.where == Destination::Where::kBandRows && board.recorder;
  if (!in_bands && to.rows.pixels == nullptr) return;  // no buffer to draw in
  PreparedTriangle t;
  if (!PrepareTriangle(BackTarget(board.frame), board.render, board.tmu0, a, b, c, loops, &t,
                       &board.tmu1))
    return;
  if (board.recorder) return board.recorder->RecordTriangle(to, t);
  DrawRows(t, to.rows, 0, to.rows.height);
}

}  // namespace softboard
