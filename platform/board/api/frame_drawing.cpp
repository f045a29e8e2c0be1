#include "api/frame_drawing.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "api/entry_call.h"
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
  const auto& dither = CurrentDither(frame);
  for (int i = 0; i < 4; i++) {
    target.dither[i] = frame.color16 ? dither[size_t(i)].data() : nullptr;
    target.lod_dither[i] =
        frame.lod_dither[size_t(i)].empty() ? nullptr : frame.lod_dither[size_t(i)].data();
  }
  target.ssaa = frame.ssaa;
  return target;
}

namespace {

// Where the board's shapes draw now, with the depth buffer when the state
// uses one; false when there is no buffer to draw in.
bool ShapeDestination(BoardState& board, Destination& to) {
  to = BackDestination(board.frame);
  const bool in_bands = to.where == Destination::Where::kBandRows && board.recorder;
  if (!in_bands && to.rows.pixels == nullptr) return false;
  if (UsesDepth(board.render.pipeline)) to.depth = DepthBuffer(board.frame);
  return true;
}

// Records a shape prepared by `prepare(out)` for the frame.
template <typename Prepare>
void RecordShape(FrameRecorder& recorder, const Destination& to, Prepare&& prepare) {
  PreparedTriangle* t = recorder.BeginTriangle(to);
  bool prepared = false;
  try {
    prepared = prepare(t);
  } catch (...) {
    recorder.EndTriangle(false);
    throw;
  }
  recorder.EndTriangle(prepared);
}

// Prepares a shape with `prepare(target, &out)` and records it for the frame
// (or draws it at once on a board with no recorder).
template <typename Prepare>
void DrawShape(BoardState& board, Prepare&& prepare) {
  Destination to;
  if (!ShapeDestination(board, to)) return;
  const TriangleTarget target = BackTarget(board.frame);
  if (board.recorder) {
    return RecordShape(*board.recorder, to,
                       [&](PreparedTriangle* t) { return prepare(target, t); });
  }
  PreparedTriangle t;
  if (!prepare(target, &t)) return;
  DrawRows(t, to.rows, 0, to.rows.height, 0, to.depth);
}

GrVertex Flipped(const BoardState& board, GrVertex v) {
  if (board.origin == GR_ORIGIN_LOWER_LEFT) v.y = float(kScreenHeight) - v.y;
  return v;
}

}  // namespace

void DrawTriangle(BoardState& board, const GrVertex& a, const GrVertex& b, const GrVertex& c,
                  SpanLoops loops) {
  DrawShape(board, [&](const TriangleTarget& target, PreparedTriangle* t) {
    return PrepareTriangle(target, board.render, board.tmu0, a, b, c, loops, t, &board.tmu1);
  });
}

namespace {

// The sign of the snapped area, told without snapping where the corners as
// given leave no doubt: snapping moves each by at most half a sixteenth, so
// the area in sixteenths moves by less than the sum of the edges' extents
// plus 2 (and the doubles' rounding by far less than the margin here).
// 0: too close to tell.
int ClearAreaSign(const GrVertex& a, const GrVertex& b, const GrVertex& c) {
  const double p = (double(b.x) - double(a.x)) * 16, q = (double(c.y) - double(a.y)) * 16;
  const double r = (double(c.x) - double(a.x)) * 16, s = (double(b.y) - double(a.y)) * 16;
  const double pq = p * q, rs = r * s, area = pq - rs;
  const double doubt = std::abs(p) + std::abs(q) + std::abs(r) + std::abs(s) + 4 +
                       1e-12 * (std::abs(pq) + std::abs(rs));
  return area > doubt ? 1 : area < -doubt ? -1 : 0;
}

}  // namespace

bool Culled(int cull, const GrVertex& a, const GrVertex& b, const GrVertex& c) {
  if (cull != GR_CULL_NEGATIVE && cull != GR_CULL_POSITIVE) return false;
  // A triangle with a corner that does not snap (beyond the guard band, or
  // not finite) is not drawn, culled or not: only the exact sign needs them
  // to snap.
  if (const int sign = ClearAreaSign(a, b, c))
    return cull == GR_CULL_NEGATIVE ? sign < 0 : sign > 0;
  const GrVertex* v[3] = {&a, &b, &c};
  bool snaps = true;
  for (const GrVertex* p : v) {
    for (const float f : {p->x, p->y}) snaps &= double(f) <= kGuardBand && double(f) >= -kGuardBand;
  }
  if (!snaps) return false;
  int64_t x[3], y[3];
  for (int i = 0; i < 3; i++) {
    SnapCoordinate(v[i]->x, 1, x[i]);
    SnapCoordinate(v[i]->y, 1, y[i]);
  }
  const int64_t area = (x[1] - x[0]) * (y[2] - y[0]) - (x[2] - x[0]) * (y[1] - y[0]);
  return cull == GR_CULL_NEGATIVE ? area < 0 : area > 0;
}

void DrawSceneTriangle(BoardState& board, const GrVertex& a, const GrVertex& b, const GrVertex& c) {
  if (Culled(board.render.cull, a, b, c)) return;
  if (board.origin != GR_ORIGIN_LOWER_LEFT) return DrawTriangle(board, a, b, c);  // no copies
  DrawTriangle(board, Flipped(board, a), Flipped(board, b), Flipped(board, c));
}

void QueueSceneTriangle(BoardState& board, const GrVertex& a, const GrVertex& b,
                        const GrVertex& c) {
  if (!board.recorder) return DrawSceneTriangle(board, a, b, c);
  // A mesh's vertices mostly lie in order in one array: the lines a few
  // triangles on are asked for now, their wait hidden behind these.
  const auto at = [](const GrVertex& v) { return reinterpret_cast<uintptr_t>(&v); };
  const uintptr_t last = std::max({at(a), at(b), at(c)});
  for (uintptr_t line = 6; line < 9; line++)
    __builtin_prefetch(reinterpret_cast<const void*>(last + 64 * line));
  if (Culled(board.render.cull, a, b, c)) return;
  // A full queue is drawn when the next triangle comes, not as the last is
  // stored: the lanes' loads of what was just stored value by value would
  // wait for every store.
  TriangleCorners& queued = board.queued;
  if (queued.count == kSetupBatch) DrawQueuedTriangles(board);
  queued.Set(queued.count, 0, Flipped(board, a));
  queued.Set(queued.count, 1, Flipped(board, b));
  queued.Set(queued.count, 2, Flipped(board, c));
  queued.count++;
}

// Each as DrawShape draws it, in the order passed; their setups made together.
void DrawQueuedTriangles(BoardState& board) {
  TriangleCorners& queued = board.queued;
  const int count = queued.count;
  queued.count = 0;  // gone, whatever happens below
  Destination to;
  if (count == 0 || !board.recorder || !ShapeDestination(board, to)) return;
  const TriangleTarget target = BackTarget(board.frame);
  SetupBatch batch;
  SetUpTriangles(target, board.render, board.tmu0, queued, count, &batch, &board.tmu1);
  bool same_state = false;  // no call comes between a batch's triangles
  for (int i = 0; i < count; i++) {
    if (!batch.ok[i]) continue;
    RecordShape(*board.recorder, to, [&](PreparedTriangle* t) {
      const bool prepared = PrepareSetUpTriangle(target, board.render, board.tmu0, batch, i,
                                                 SpanLoops::kBest, same_state, t, &board.tmu1);
      same_state = same_state || prepared;
      return prepared;
    });
  }
}

void DrawSceneLine(BoardState& board, const GrVertex& a, const GrVertex& b, SpanLoops loops) {
  const GrVertex fa = Flipped(board, a), fb = Flipped(board, b);
  DrawShape(board, [&](const TriangleTarget& target, PreparedTriangle* t) {
    return PrepareLine(target, board.render, board.tmu0, fa, fb, loops, t, &board.tmu1);
  });
}

void DrawScenePoint(BoardState& board, const GrVertex& p, SpanLoops loops) {
  const GrVertex fp = Flipped(board, p);
  DrawShape(board, [&](const TriangleTarget& target, PreparedTriangle* t) {
    return PreparePoint(target, board.render, board.tmu0, fp, loops, t, &board.tmu1);
  });
}

void ClearBuffers(BoardState& board, GrColor_t color, GrAlpha_t alpha, FxU16 depth) {
  FrameBuffers& frame = board.frame;
  const PipelineState& p = board.render.pipeline;
  ClearCommand clear;
  clear.to = BackDestination(frame);
  clear.pixel = ClearPixel(frame, UnpackColor(color, board.color_format), alpha);
  clear.rect = TargetClip(p.clip, frame.width, frame.height);
  clear.rgb = p.rgb_write;
  clear.alpha = p.alpha_write;
  if (p.depth.write && frame.depth_wanted) {
    clear.to.depth = DepthBuffer(frame);
    clear.depth = true;
    clear.depth_value = depth;
  }
  board.recorder->RecordClear(clear);
}

}  // namespace softboard
