#include "raster/triangle.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>

#include "pixel/fused_depth.h"
#include "pixel/fused_loops.h"
#include "pixel/fused_loops_mipmap.h"
#include "pixel/pixel_rows.h"
#include "pixel/sampler.h"
#include "pixel/span_general.h"
#include "pixel/span_start.h"
#include "pixel/texture_units.h"
#include "raster/row_spans.h"
#include "raster/setup_lanes.h"
#include "raster/texture_unit.h"

namespace softboard {
namespace {

SpanLoop ChooseSpanLoop(TriangleInputs& inputs, PixelLayout layout, bool* fused, RowsLoop* rows);
ClipRect ScaledClip(const ClipWindow& clip, int width, int height);

// A state's loop is the same for each of its triangles: the last choice is
// kept, for the thread and the SIMD target it was made on.
struct LoopChoice {
  PixelState state;
  PixelLayout layout;
  bool textured, affine;
  const char* target = nullptr;
  SpanLoop loop;
  RowsLoop rows;
  FusedKind kind;
  bool fused;
  uint64_t serial;
};

// The last untextured state prepared, with the inputs its run of triangles
// shares (see Prepare).
struct SharedState {
  bool valid = false;
  unsigned char render[sizeof(RenderState)];
  unsigned char tex[sizeof(TexCombineState)];
  SamplerMode sampler;
  bool perspective, general_only;
  PixelLayout layout;
  const char* target;
  std::shared_ptr<TriangleInputs> inputs;  // filled again in place while no slot shares it
  SpanLoop loop;
  RowsLoop rows;
  bool fused;
};

// The clip window's last size in pixels: every triangle asks, and the window
// rarely changes.
struct ClipChoice {
  ClipWindow clip;
  int width = -1, height = -1;
  ClipRect rect;
};

// What a thread last prepared, kept to prepare the next triangle alike. Found
// once a triangle: in a shared library each thread_local found is a call.
struct PrepareMemo {
  LoopChoice choice;
  SharedState shared;
  ClipChoice clip;
};

// Not inlined: each use inlined looked the thread's memo up again.
[[gnu::noinline]] PrepareMemo& ThreadMemo() {
  thread_local PrepareMemo memo;
  return memo;
}

ClipRect ClipFor(ClipChoice& last, const ClipWindow& clip, int width, int height) {
  if (last.width == width && last.height == height && last.clip == clip) return last.rect;
  last = {clip, width, height, ScaledClip(clip, width, height)};
  return last.rect;
}

// The triangle's per-pixel inputs, and the span loop for its state, chosen once.
SpanLoop PrepareState(const RenderState& render, const TextureUnitState& tmu,
                      const TextureUnitState* tmu1, const TriangleSetup& setup, PixelLayout layout,
                      bool general_only, LoopChoice& last, PreparedTriangle* out) {
  TriangleInputs* tri = &out->inputs;
  out->shared.reset();
  bool* fused = &out->fused;
  *fused = false;
  // `out` may hold another triangle's inputs: what is not set below is reset.
  tri->texture = SampledTexture{};
  tri->affine = false;
  tri->fused = FusedKind{};
  tri->units = false;
  tri->state_serial = 0;
  out->rows_loop = nullptr;
  const SpanLoop general = layout == PixelLayout::kRgb565 ? &DrawSpanGeneral565 : &DrawSpanGeneral;
  const Plane& q = setup.plane[kPlaneOow];
  const UnitMode& mode = tmu.mode;
  MakePixelState(render, tmu.combine, {mode.mag_bilinear, mode.wrap_s, mode.wrap_t},
                 q.dx != 0 || q.dy != 0, &tri->state);
  tri->reads = InputsOf(tri->state);
  SharedTexture kept[2];
  PrepareUnits(tmu, tmu1, setup, tri, kept);
  out->texture = kept[0];
  out->texture1 = kept[1];
  if (tri->units) {
    FusedKind units;
    if (general_only || !MatchFusedUnits(*tri, &units)) return general;
    tri->fused = units;
    SpanLoop loop = ChooseFusedUnitsLoop(units, tri->state.two_units, layout);
    *fused = loop != nullptr;
    return loop ? loop : general;
  }
  const SamplerMode& m = tri->state.sampler;
  tri->affine = tri->texture.texels != nullptr && !tri->state.perspective && m.wrap_s && m.wrap_t;
  if (general_only) return general;
  static std::atomic<uint64_t> serials{0};
  const char* target = FusedTargetName();
  const bool textured = tri->texture.texels != nullptr;
  if (last.target == target && last.layout == layout && last.textured == textured &&
      last.affine == tri->affine && last.state == tri->state) {
    tri->fused = last.kind;
    tri->state_serial = last.serial;
    *fused = last.fused;
    if (last.fused) out->rows_loop = last.rows;
    return last.fused ? last.loop : general;
  }
  RowsLoop rows = nullptr;
  const SpanLoop loop = ChooseSpanLoop(*tri, layout, fused, &rows);
  tri->state_serial = serials.fetch_add(1, std::memory_order_relaxed) + 1;
  last = {tri->state, layout, textured,   tri->affine, target,
          loop,       rows,   tri->fused, *fused,      tri->state_serial};
  if (loop) out->rows_loop = rows;
  return loop ? loop : general;
}

// Whether n bytes at a and b are the same: word by word with no early exit
// (a library call and its branches cost more at these sizes).
bool SameBytes(const void* a, const void* b, size_t n) {
  const auto* x = static_cast<const unsigned char*>(a);
  const auto* y = static_cast<const unsigned char*>(b);
  uint64_t differ = 0;
  size_t at = 0;
  for (; at + 8 <= n; at += 8) {
    uint64_t u, v;
    std::memcpy(&u, x + at, 8);
    std::memcpy(&v, y + at, 8);
    differ |= u ^ v;
  }
  for (; at < n; at++) differ |= x[at] ^ y[at];
  return differ == 0;
}

// A run of untextured triangles in one state (a mesh) prepares the state
// once: the rest share the last one's inputs and take its loop, on this
// thread.
// The state is made from the render state, unit 0's combine and filter bits,
// whether 1/w varies, the layout and the loops allowed: the same bytes make
// the same state (padding that differs only makes a miss). They are compared
// where they lie: a copy made here and read back at once in other sizes than
// it was written would wait for its stores. `same_state`: the caller knows
// the state is the one this thread last prepared, unchanged since.
SpanLoop Prepare(const RenderState& render, const TextureUnitState& tmu,
                 const TextureUnitState* tmu1, const TriangleSetup& setup, PixelLayout layout,
                 bool general_only, bool same_state, PrepareMemo& memo, PreparedTriangle* out) {
  SharedState& last = memo.shared;
  const Plane& q = setup.plane[kPlaneOow];
  const bool perspective = q.dx != 0 || q.dy != 0;
  const SamplerMode sampler{tmu.mode.mag_bilinear, tmu.mode.wrap_s, tmu.mode.wrap_t};
  const char* target = FusedTargetName();
  if (last.valid && last.perspective == perspective && last.general_only == general_only &&
      last.layout == layout && last.target == target &&
      (same_state || (last.sampler == sampler && SameBytes(last.render, &render, sizeof render) &&
                      SameBytes(last.tex, &tmu.combine, sizeof tmu.combine)))) {
    if (out->shared != last.inputs) out->shared = last.inputs;  // the same block: no count moves
    out->texture.reset();
    out->texture1.reset();
    out->fused = last.fused;
    out->rows_loop = last.rows;
    return last.loop;
  }
  const SpanLoop loop =
      PrepareState(render, tmu, tmu1, setup, layout, general_only, memo.choice, out);
  last.valid = !out->inputs.reads.texture;
  if (last.valid) {
    std::memcpy(last.render, &render, sizeof render);
    std::memcpy(last.tex, &tmu.combine, sizeof tmu.combine);
    last.sampler = sampler;
    last.perspective = perspective;
    last.general_only = general_only;
    last.layout = layout;
    last.target = target;
    // What an untextured triangle's loops read; a state that changes every
    // triangle allocates nothing, its triangles keeping their own.
    if (!last.inputs || last.inputs.use_count() > 1)
      last.inputs = std::make_shared<TriangleInputs>();
    TriangleInputs& shared = *last.inputs;
    shared.state = out->inputs.state;
    shared.reads = out->inputs.reads;
    shared.affine = false;
    shared.fused = out->inputs.fused;
    shared.state_serial = out->inputs.state_serial;
    shared.units = false;
    last.loop = loop;
    last.rows = out->rows_loop;
    last.fused = out->fused;
  }
  return loop;
}

// The span loop for a triangle's state (its fused kind stored), or null for
// the general one; and the loop over its rows where there is one.
SpanLoop ChooseSpanLoop(TriangleInputs& inputs, PixelLayout layout, bool* fused, RowsLoop* rows) {
  TriangleInputs* tri = &inputs;
  *fused = false;
  *rows = nullptr;
  FusedKind kind;
  FusedDepth depth = FusedDepth::kNone;
  const bool plain = PlainPipeline(tri->state.pipeline);
  if (plain ? !MatchFused(tri->state, &kind) : !MatchFusedDepth(tri->state, &kind, &depth))
    return nullptr;
  // A textured fused loop needs the texture, its coordinates stepped as the
  // triangle's are.
  const Coords coords = tri->affine ? Coords::kAffine : Coords::kPerspective;
  if (kind.coords != Coords::kNone && (tri->texture.texels == nullptr || kind.coords != coords))
    return nullptr;
  tri->fused = kind;
  SpanLoop loop = nullptr;
  if (plain) {
    loop = ChooseFusedLoop(kind, layout);
  } else {
    const DepthLoops loops = ChooseFusedDepthLoops(kind, depth, layout);
    loop = loops.span;
    *rows = loops.rows;
  }
  *fused = loop != nullptr;
  return loop;
}

// The steps along a row, the same for every row, made in place. Only the
// steps are ever written to a triangle's `steps` (each span copies it and
// sets the rest), so only they are reset: clearing the whole of it cost more.
// `made`, where given, holds the colours', Z's and 1/w's steps already made
// from the same planes (triangle `lane` of a batch set up in lanes).
void RowSteps(const TriangleSetup& setup, const TriangleInputs& tri, SpanInputs* out,
              UnitSpan (&unit_steps)[2], const SetupBatch* made = nullptr, int lane = 0) {
  SpanInputs& steps = *out;
  steps.dz = steps.du = steps.dv = 0;
  steps.dq = steps.dsow = steps.dtow = steps.doow = 0;
  const bool reads_z = ReadsZ(tri.state.pipeline), reads_q = ReadsQ(tri.state.pipeline);
  if (made) {
    for (int c = 0; c < 4; c++) steps.color_step[c] = made->color_steps[c][lane];
    if (reads_z) steps.dz = made->z_steps[lane];
    if (reads_q) steps.dq = made->q_steps[lane];
  } else {
    for (int c = 0; c < 4; c++) steps.color_step[c] = ToFixed(setup.plane[kPlaneR + c].dx);
    if (reads_z) steps.dz = ToFixedDepth(setup.plane[kPlaneZ].dx);
    if (reads_q) steps.dq = ToFloat(setup.plane[kPlaneQ].dx);
  }
  if (!tri.reads.texture) return;
  if (tri.units) {
    unit_steps[0] = unit_steps[1] = UnitSpan{};  // one unit leaves the other's as it was
    UnitRowSteps(setup, tri, unit_steps);
    return;
  }
  const Plane& s = setup.plane[kPlaneSow];
  const Plane& t = setup.plane[kPlaneTow];
  const Plane& q = setup.plane[kPlaneOow];
  if (tri.affine) {
    const double w = 1 / q.at_origin, scale = tri.texture.scale;
    steps.du = WrapFixed(s.dx * w * scale, tri.texture.width_log2);
    steps.dv = WrapFixed(t.dx * w * scale, tri.texture.height_log2);
    return;
  }
  steps.dsow = ToFloat(s.dx);
  steps.dtow = ToFloat(t.dx);
  steps.doow = ToFloat(q.dx);
}

// A row's span: where it starts and every value there (its steps are set).
void StartSpan(const TriangleSetup& setup, const TriangleInputs& tri, SpanReads reads, int row,
               int x0, int x1, SpanInputs* span) {
  span->x0 = x0;
  span->count = x1 - x0;
  StartValues({setup.plane, setup.origin_x, setup.origin_y}, tri, reads, row, x0, span);
  if (tri.reads.texture && tri.units) StartUnitSpans(setup, tri, row, x0, span);
}

// What every shape does once its setup is made: the clip window bounds its
// rows and columns, then its inputs and span loop (see Prepare for
// `same_state`). False when nothing is left.
bool FinishPrepare(const TriangleTarget& target, const RenderState& render,
                   const TextureUnitState& tmu, const TextureUnitState* tmu1, SpanLoops loops,
                   PreparedTriangle* out, bool same_state = false,
                   const SetupBatch* batch = nullptr, int lane = 0) {
  PrepareMemo& memo = ThreadMemo();
  const ClipRect clip = ClipFor(memo.clip, render.pipeline.clip, target.width, target.height);
  TriangleSetup& setup = out->setup;
  setup.row_begin = std::max(setup.row_begin, clip.y0);
  setup.row_end = std::min(setup.row_end, clip.y1);
  setup.col_begin = std::max(setup.col_begin, clip.x0);
  setup.col_end = std::min(setup.col_end, clip.x1);
  if (setup.row_begin >= setup.row_end || setup.col_begin >= setup.col_end) return false;
  out->loop = Prepare(render, tmu, tmu1, setup, target.layout, loops == SpanLoops::kGeneralOnly,
                      same_state, memo, out);
  RowSteps(setup, out->Inputs(), &out->steps, out->unit_steps, batch, lane);
  out->target = target;
  return true;
}

// The planes a triangle drawn in this state may read: its colours and unit
// 0's 1/w always (whether 1/w varies decides the loop), depths as the
// pipeline reads them, texture coordinates where a unit has a texture.
uint32_t PlanesRead(const RenderState& render, const TextureUnitState& tmu,
                    const TextureUnitState* tmu1) {
  const auto bit = [](PlaneIndex k) { return 1u << k; };
  uint32_t planes = bit(kPlaneR) | bit(kPlaneG) | bit(kPlaneB) | bit(kPlaneA) | bit(kPlaneOow);
  if (ReadsZ(render.pipeline)) planes |= bit(kPlaneZ);
  if (ReadsQ(render.pipeline)) planes |= bit(kPlaneQ);
  if (tmu.decoded) planes |= bit(kPlaneSow) | bit(kPlaneTow);
  if (tmu1 && tmu1->decoded) planes |= bit(kPlaneSow1) | bit(kPlaneTow1) | bit(kPlaneOow1);
  return planes;
}

}  // namespace

ClipRect TargetClip(const ClipWindow& clip, int width, int height) {
  return ClipFor(ThreadMemo().clip, clip, width, height);
}

namespace {

ClipRect ScaledClip(const ClipWindow& clip, int width, int height) {
  const double sx = double(width) / kScreenWidth, sy = double(height) / kScreenHeight;
  const auto edge = [](int e, double s, int size) {
    const double v = std::clamp(e * s, -1.0, double(size) + 1);  // NaN-free: e and s are finite
    return int(std::clamp<int64_t>(RoundHalfAway(v), 0, size));
  };
  return {edge(clip.min_x, sx, width), edge(clip.min_y, sy, height), edge(clip.max_x, sx, width),
          edge(clip.max_y, sy, height)};
}

}  // namespace

bool PrepareTriangle(const TriangleTarget& target, const RenderState& render,
                     const TextureUnitState& tmu, const GrVertex& a, const GrVertex& b,
                     const GrVertex& c, SpanLoops loops, PreparedTriangle* out,
                     const TextureUnitState* tmu1) {
  if (target.width <= 0 || target.height <= 0) return false;
  const double sx = double(target.width) / kScreenWidth;
  const double sy = double(target.height) / kScreenHeight;
  if (!SetupTriangle(a, b, c, target.width, target.height, sx, sy, out->setup,
                     PlanesRead(render, tmu, tmu1)))
    return false;
  out->shape = PreparedTriangle::Shape::kTriangle;
  return FinishPrepare(target, render, tmu, tmu1, loops, out);
}

void SetUpTriangles(const TriangleTarget& target, const RenderState& render,
                    const TextureUnitState& tmu, const TriangleCorners& corners, int count,
                    SetupBatch* batch, const TextureUnitState* tmu1) {
  if (target.width <= 0 || target.height <= 0) count = 0;
  const double sx = double(target.width) / kScreenWidth;
  const double sy = double(target.height) / kScreenHeight;
  SetupTriangles(corners, count, target.width, target.height, sx, sy, PlanesRead(render, tmu, tmu1),
                 batch);
}

bool PrepareSetUpTriangle(const TriangleTarget& target, const RenderState& render,
                          const TextureUnitState& tmu, const SetupBatch& batch, int i,
                          SpanLoops loops, bool same_state, PreparedTriangle* out,
                          const TextureUnitState* tmu1) {
  batch.Write(i, out->setup);
  out->shape = PreparedTriangle::Shape::kTriangle;
  return FinishPrepare(target, render, tmu, tmu1, loops, out, same_state,
                       batch.alone[i] ? nullptr : &batch, i);
}

bool PrepareLine(const TriangleTarget& target, const RenderState& render,
                 const TextureUnitState& tmu, const GrVertex& a, const GrVertex& b, SpanLoops loops,
                 PreparedTriangle* out, const TextureUnitState* tmu1) {
  if (!SetupLine(a, b, target.width, target.height, target.ssaa, out->setup, out->line))
    return false;
  out->shape = PreparedTriangle::Shape::kLine;
  return FinishPrepare(target, render, tmu, tmu1, loops, out);
}

bool PreparePoint(const TriangleTarget& target, const RenderState& render,
                  const TextureUnitState& tmu, const GrVertex& p, SpanLoops loops,
                  PreparedTriangle* out, const TextureUnitState* tmu1) {
  if (!SetupPoint(p, target.width, target.height, target.ssaa, out->setup, out->line)) return false;
  out->shape = PreparedTriangle::Shape::kPoint;
  return FinishPrepare(target, render, tmu, tmu1, loops, out);
}

bool SameTriangle(const PreparedTriangle& a, const PreparedTriangle& b) {
  // Compared as bits: -0 and +0, or two NaNs, may not draw alike.
  if (a.shape != b.shape || std::memcmp(&a.setup, &b.setup, sizeof a.setup) != 0) return false;
  if (a.shape != PreparedTriangle::Shape::kTriangle && !(a.line == b.line)) return false;
  return a.Inputs().state == b.Inputs().state && a.loop == b.loop && a.texture == b.texture &&
         a.texture1 == b.texture1;
}

namespace {

// Calls f(row, count, x0, x1, summary) for each kRowSpansAtOnce rows of
// [row_begin, row_end) in turn, row + i covering [x0[i], x1[i]) (none where
// x1[i] <= x0[i]): a line's spans, or a triangle's worked out in vector lanes
// (walked row by row where its values are too large for that). Worked out
// where a band's drawing begins, and only the band's rows: made when the
// triangle was prepared, they were one more record to write, and to read
// back from far. Spans made in lanes come with their summary; others are
// summed up only where `kSummary`.
template <bool kSummary, typename F>
void ForEachRows(const PreparedTriangle& t, int row_begin, int row_end, const SpansAhead* ahead,
                 F&& f) {
  const bool triangle = t.shape == PreparedTriangle::Shape::kTriangle;
  int32_t lo[kRowSpansRoom], hi[kRowSpansRoom];
  bool walking = false;
  RowWalker walker;
  for (int row = row_begin; row < row_end; row += kRowSpansAtOnce) {
    const int count = std::min(kRowSpansAtOnce, row_end - row);
    const int32_t* x0 = lo;
    const int32_t* x1 = hi;
    RowsSummary summary;
    if (ahead && ahead->triangle == &t && ahead->row == row && ahead->count == count) {
      x0 = ahead->x0;
      x1 = ahead->x1;
      summary = ahead->summary;
    } else if (!triangle) {
      for (int i = 0; i < count; i++) {
        if (!LineSpan(t.line, row + i, t.setup.col_begin, t.setup.col_end, &lo[i], &hi[i]))
          lo[i] = hi[i] = 0;
      }
      if (kSummary) summary = SummarizeRows(lo, hi, count);
    } else if (walking || !RowSpans(t.setup, row, count, lo, hi, &summary)) {
      if (!walking) walker.Start(t.setup, row);
      walking = true;
      for (int i = 0; i < count; i++, walker.Next()) {
        if (!walker.Span(lo[i], hi[i])) lo[i] = hi[i] = 0;
      }
      if (kSummary) summary = SummarizeRows(lo, hi, count);
    }
    f(row, count, x0, x1, summary);  // one call: it is inlined here
  }
}

void DrawSpans(const PreparedTriangle& t, const PixelRows& rows, int row_begin, int row_end,
               int first_row, const DepthRows& depth, UnitSpan* units, const SpansAhead* ahead) {
  const TriangleInputs& inputs = t.Inputs();
  const SpanReads reads = ReadsOf(inputs.state.pipeline);
  const TriangleTarget& target = t.target;
  const bool matrix = target.dither[0] || target.lod_dither[0];
  // 16-bit colour: every span loop quantises what it writes through the
  // dither thresholds of the row's scene row of the matrix.
  const auto matrix_row = [&](int row) {
    return int(int64_t(row) * kScreenHeight / target.height) & 3;
  };
  if (t.rows_loop && rows.layout == PixelLayout::kArgb8888) {
    // The rows go to the triangle's loop as they were worked out, 16 at a
    // time, less the empty rows at either end.
    static_assert(kRowSpansAtOnce == RowBatch::kRowsAtOnce && kRowSpansRoom >= kRowSpansAtOnce);
    const SpanPlanes planes = {t.setup.plane, t.setup.origin_x, t.setup.origin_y};
    const uint32_t* dither[kRowSpansAtOnce];
    ForEachRows<true>(t, row_begin, row_end, ahead,
                      [&](int row, int, const int32_t* lo, const int32_t* hi, RowsSummary summary) {
                        if (summary.nonempty == 0) return;
                        const int first = std::countr_zero(summary.nonempty);
                        const int count = std::bit_width(summary.nonempty);
                        RowBatch batch;
                        batch.first_row = row + first;
                        batch.count = count - first;
                        batch.x0 = lo + first;
                        batch.x1 = hi + first;
                        batch.widest = summary.widest;
                        batch.pixels = rows.Argb(batch.first_row - first_row);
                        batch.stride = rows.stride;
                        if (depth.plane) {
                          batch.depth = depth.Row(batch.first_row);
                          batch.depth_stride = depth.stride;
                        }
                        if (target.dither[0]) {
                          for (int i = 0; i < batch.count; i++)
                            dither[i] = target.dither[matrix_row(batch.first_row + i)];
                          batch.dither = dither;
                        }
                        t.rows_loop(inputs, t.steps, planes, batch);
                      });
    return;
  }
  SpanInputs span = t.steps;
  span.units = units;
  ForEachRows<false>(t, row_begin, row_end, ahead,
                     [&](int first, int count, const int32_t* lo, const int32_t* hi, RowsSummary) {
                       for (int row = first; row < first + count; row++) {
                         const int x0 = lo[row - first], x1 = hi[row - first];
                         if (x0 >= x1) continue;
                         span.depth = depth.plane ? depth.Row(row) : nullptr;
                         StartSpan(t.setup, inputs, reads, row, x0, x1, &span);
                         if (matrix) {
                           span.dither =
                               target.dither[0] ? target.dither[matrix_row(row)] : nullptr;
                           span.lod_dither = target.lod_dither[matrix_row(row)];
                         }
                         if (rows.layout == PixelLayout::kRgb565) {
                           span.row565 = rows.Rgb565(row - first_row);
                           span.alpha = rows.Alpha(row - first_row);
                         } else {
                           span.row = rows.Argb(row - first_row);
                         }
                         t.loop(inputs, span);
                       }
                     });
}

}  // namespace

void WorkOutSpansAhead(const PreparedTriangle& t, int row_begin, int row_end, SpansAhead* ahead) {
  ahead->triangle = nullptr;
  if (t.shape != PreparedTriangle::Shape::kTriangle) return;
  row_begin = std::max(row_begin, t.setup.row_begin);
  row_end = std::min(row_end, t.setup.row_end);
  if (row_begin >= row_end) return;
  const int count = std::min(kRowSpansAtOnce, row_end - row_begin);
  if (!RowSpans(t.setup, row_begin, count, ahead->x0, ahead->x1, &ahead->summary)) return;
  ahead->triangle = &t;
  ahead->row = row_begin;
  ahead->count = count;
}

void DrawRows(const PreparedTriangle& t, const PixelRows& rows, int row_begin, int row_end,
              int first_row, const DepthRows& depth, const SpansAhead* ahead) {
  row_begin = std::max(row_begin, t.setup.row_begin);
  row_end = std::min(row_end, t.setup.row_end);
  if (row_begin >= row_end) return;
  if (!t.Inputs().units)
    return DrawSpans(t, rows, row_begin, row_end, first_row, depth, nullptr, ahead);
  UnitSpan units[2] = {t.unit_steps[0], t.unit_steps[1]};
  DrawSpans(t, rows, row_begin, row_end, first_row, depth, units, ahead);
}

}  // namespace softboard
