// The library's entry points of the pixel pipeline beyond the demo's: depth
// buffer, alpha test, chroma key, fog, clip window, culling, origin, lines,
// points and polygon lists, masks, dither, gamma, queries and services. Each
// checks its call, traces it and forwards it, through entry_call.h.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "api/display_frames.h"
#include "api/entry_call.h"
#include "api/frame_drawing.h"
#include "api/polygon_checks.h"
#include "grlib.h"

#ifndef SOFTBOARD_VERSION
#define SOFTBOARD_VERSION "unknown"
#endif

namespace softboard {
namespace {

// Why `value` is refused as one of lo..hi, named `what`; empty when it is not.
std::string OneOf(int value, int lo, int hi, const char* what) {
  if (value >= lo && value <= hi) return "";
  return "unknown " + std::string(what) + " " + std::to_string(value) + " (" + std::to_string(lo) +
         " to " + std::to_string(hi) + ")";
}

// A state call that needs an open display and a value from a set.
template <typename Apply, typename... Args>
void SetChecked(const char* name, const std::string& bad_value, Apply&& apply,
                const Args&... args) noexcept {
  Checked(
      name,
      [&](const BoardState& board) {
        const std::string refusal = NeedsDisplay(board);
        return refusal.empty() ? bad_value : refusal;
      },
      [&](BoardState& board, TraceLine&) { apply(board); }, args...);
}

// A drawing call (thousands a frame): on an open display, its vertices
// given and no trace being written, it goes straight to `draw`, with no
// check's text made; otherwise it is checked and traced as SetChecked does.
template <Queued kQueued = Queued::kDrawFirst, typename Draw, typename... Args>
void DrawChecked(const char* name, bool given, Draw&& draw, const Args&... args) noexcept {
  Guarded<kQueued>(name, [&](BoardState& board) {
    if (given && board.initialized && board.open && !Tracing(board.trace)) return draw(board);
    std::string refusal = NeedsDisplay(board);
    if (refusal.empty() && !given) refusal = "null vertex";
    TraceLine trace(board.trace, name, args...);
    if (!refusal.empty()) return trace.Refused(refusal);
    draw(board);
  });
}

PipelineState& Pipeline(BoardState& board) {
  return board.render.pipeline;
}

std::string CheckFogMode(int mode) {
  const int source = mode & 0xFF, apply = mode & ~0xFF;
  if (source > GR_FOG_WITH_TABLE) return "unknown fog source " + std::to_string(source);
  if (apply != 0 && apply != GR_FOG_MULT2 && apply != GR_FOG_ADD2)
    return "unknown fog mode bits 0x" + [&] {
      char text[16];
      std::snprintf(text, sizeof text, "%X", unsigned(apply));
      return std::string(text);
    }() + " (MULT2 0x100 or ADD2 0x200, not both)";
  if (source == GR_FOG_DISABLE && apply != 0) return "MULT2 and ADD2 need a fog source";
  return "";
}

// A polygon drawn from a list of vertices: refused past kMaxPolygonVertices
// before anything of it is read.
void DrawVertexList(const char* name, int n, const GrVertex* vlist) {
  Guarded(name, [&](BoardState& board) {
    if (n > kMaxPolygonVertices) {
      TraceLine trace(board.trace, name, n);
      return trace.Refused("more than " + std::to_string(kMaxPolygonVertices) + " vertices");
    }
    std::string refusal = NeedsDisplay(board);
    if (refusal.empty() && n >= 3 && vlist == nullptr) refusal = "null vertex array";
    TraceLine trace(board.trace, name, TraceVertices{n, vlist});
    if (!refusal.empty()) return trace.Refused(refusal);
    for (int i = 2; i < n; i++) DrawSceneTriangle(board, vlist[0], vlist[i - 1], vlist[i]);
  });
}

// 2^(3 + (i >> 2)) / (8 - (i & 3)): four entries an octave of w.
float FogTableW(int i) {
  return float(std::ldexp(1.0, 3 + (i >> 2)) / double(8 - (i & 3)));
}

// Fills a fog table with round(255 * f(w_i)), f held to 0..1.
template <typename F>
void GenerateFog(const char* name, GrFog_t* table, const std::string& bad_value, F&& f,
                 TraceFloat a, TraceFloat b, bool two) noexcept {
  Guarded(name, [&](BoardState& board) {
    std::string refusal = table == nullptr ? "null fog table" : bad_value;
    const TraceOutput out{table};
    std::optional<TraceLine> trace;
    if (two)
      trace.emplace(board.trace, name, out, a, b);
    else
      trace.emplace(board.trace, name, out, a);
    if (!refusal.empty()) return trace->Refused(refusal);
    for (int i = 0; i < GR_FOG_TABLE_SIZE; i++) {
      const double v = std::clamp(f(double(FogTableW(i))), 0.0, 1.0);
      table[i] = GrFog_t(std::lround(255 * (std::isnan(v) ? 0.0 : v)));
    }
  });
}

std::string FiniteFloats(std::initializer_list<float> values) {
  for (float v : values) {
    if (!std::isfinite(v)) return "not a finite number: " + std::to_string(v);
  }
  return "";
}

}  // namespace
}  // namespace softboard

using namespace softboard;

extern "C" {

void GR_CALL grDepthBufferMode(GrDepthBufferMode_t mode) {
  Checked(
      __func__,
      [&](const BoardState& board) {
        std::string refusal = NeedsDisplay(board);
        if (refusal.empty())
          refusal = OneOf(mode, GR_DEPTHBUFFER_DISABLE, GR_DEPTHBUFFER_WBUFFER_COMPARE_TO_BIAS,
                          "depth buffer mode");
        if (refusal.empty() && mode != GR_DEPTHBUFFER_DISABLE && !board.frame.depth_wanted)
          refusal = "no depth buffer (grSstWinOpen asked for no auxiliary buffer)";
        return refusal;
      },
      [&](BoardState& board, TraceLine&) { Pipeline(board).depth.mode = mode; }, mode);
}

void GR_CALL grDepthBufferFunction(GrCmpFnc_t f) {
  SetChecked(
      __func__, OneOf(f, GR_CMP_NEVER, GR_CMP_ALWAYS, "comparison"),
      [&](BoardState& board) { Pipeline(board).depth.function = f; }, f);
}

void GR_CALL grDepthMask(FxBool write) {
  SetState(
      __func__, [&](BoardState& board) { Pipeline(board).depth.write = write != 0; }, write);
}

void GR_CALL grDepthBiasLevel(FxI16 bias) {
  SetState(
      __func__, [&](BoardState& board) { Pipeline(board).depth.bias = bias; }, bias);
}

void GR_CALL grAlphaTestFunction(GrCmpFnc_t f) {
  SetChecked(
      __func__, OneOf(f, GR_CMP_NEVER, GR_CMP_ALWAYS, "comparison"),
      [&](BoardState& board) { Pipeline(board).alpha_function = f; }, f);
}

void GR_CALL grAlphaTestReferenceValue(GrAlpha_t ref) {
  SetState(
      __func__, [&](BoardState& board) { Pipeline(board).alpha_reference = ref; }, ref);
}

void GR_CALL grChromakeyMode(GrChromakeyMode_t mode) {
  SetChecked(
      __func__, OneOf(mode, GR_CHROMAKEY_DISABLE, GR_CHROMAKEY_ENABLE, "chroma key mode"),
      [&](BoardState& board) { Pipeline(board).chroma_key = mode == GR_CHROMAKEY_ENABLE; }, mode);
}

void GR_CALL grChromakeyValue(GrColor_t key) {
  SetState(
      __func__,
      [&](BoardState& board) {
        Rgba8 k = UnpackColor(key, board.color_format);
        k.a = 0;  // ignored
        Pipeline(board).key = k;
      },
      TraceColor{key});
}

void GR_CALL grFogMode(GrFogMode_t mode) {
  SetChecked(
      __func__, CheckFogMode(mode),
      [&](BoardState& board) {
        FogState& fog = Pipeline(board).fog;
        const int source = mode & 0xFF;
        fog.source = source == GR_FOG_WITH_ITERATED_ALPHA ? FogSource::kIteratedAlpha
                     : source == GR_FOG_WITH_TABLE        ? FogSource::kTable
                                                          : FogSource::kNone;
        fog.apply = (mode & GR_FOG_MULT2)  ? FogApply::kMult2
                    : (mode & GR_FOG_ADD2) ? FogApply::kAdd2
                                           : FogApply::kBlend;
      },
      mode);
}

void GR_CALL grFogColorValue(GrColor_t color) {
  SetState(
      __func__,
      [&](BoardState& board) {
        Pipeline(board).fog.color = UnpackColor(color, board.color_format);
      },
      TraceColor{color});
}

void GR_CALL grFogTable(const GrFog_t table[GR_FOG_TABLE_SIZE]) {
  SetChecked(
      __func__, table == nullptr ? "null fog table" : "",
      [&](BoardState& board) {
        std::memcpy(Pipeline(board).fog.table.data(), table, GR_FOG_TABLE_SIZE);
      },
      TraceBytes{table, GR_FOG_TABLE_SIZE});
}

float GR_CALL guFogTableIndexToW(int i) {
  return Guarded(__func__, 0.0f, [&](BoardState& board) {
    TraceLine trace(board.trace, "guFogTableIndexToW", i);
    return FogTableW(i);
  });
}

void GR_CALL guFogGenerateExp(GrFog_t table[GR_FOG_TABLE_SIZE], float density) {
  GenerateFog(
      __func__, table, FiniteFloats({density}),
      [&](double w) { return 1 - std::exp(-double(density) * w); }, TraceFloat{density},
      TraceFloat{0}, false);
}

void GR_CALL guFogGenerateExp2(GrFog_t table[GR_FOG_TABLE_SIZE], float density) {
  GenerateFog(
      __func__, table, FiniteFloats({density}),
      [&](double w) {
        const double dw = double(density) * w;
        return 1 - std::exp(-dw * dw);
      },
      TraceFloat{density}, TraceFloat{0}, false);
}

void GR_CALL guFogGenerateLinear(GrFog_t table[GR_FOG_TABLE_SIZE], float near_w, float far_w) {
  std::string bad = FiniteFloats({near_w, far_w});
  if (bad.empty() && near_w == far_w) bad = "near and far are the same";
  GenerateFog(
      __func__, table, bad,
      [&](double w) { return (w - double(near_w)) / (double(far_w) - double(near_w)); },
      TraceFloat{near_w}, TraceFloat{far_w}, true);
}

void GR_CALL grClipWindow(FxU32 minx, FxU32 miny, FxU32 maxx, FxU32 maxy) {
  Checked(
      __func__,
      [&](const BoardState& board) -> std::string {
        std::string refusal = NeedsDisplay(board);
        if (!refusal.empty()) return refusal;
        if (minx > maxx || miny > maxy) return "inverted window (a minimum past its maximum)";
        return "";
      },
      [&](BoardState& board, TraceLine& trace) {
        // Held to the screen; each edge stays in order.
        const auto held = [](FxU32 v, int size) { return int(std::min<FxU32>(v, FxU32(size))); };
        ClipWindow& clip = Pipeline(board).clip;
        clip = {held(minx, kScreenWidth), held(miny, kScreenHeight), held(maxx, kScreenWidth),
                held(maxy, kScreenHeight)};
        if (maxx > FxU32(kScreenWidth) || maxy > FxU32(kScreenHeight))
          trace.Held("the screen: " + std::to_string(clip.min_x) + ", " +
                     std::to_string(clip.min_y) + ", " + std::to_string(clip.max_x) + ", " +
                     std::to_string(clip.max_y));
      },
      minx, miny, maxx, maxy);
}

void GR_CALL grCullMode(GrCullMode_t mode) {
  SetChecked(
      __func__, OneOf(mode, GR_CULL_DISABLE, GR_CULL_POSITIVE, "cull mode"),
      [&](BoardState& board) { board.render.cull = mode; }, mode);
}

void GR_CALL grSstOrigin(GrOriginLocation_t origin) {
  SetChecked(
      __func__, OneOf(origin, GR_ORIGIN_UPPER_LEFT, GR_ORIGIN_LOWER_LEFT, "origin"),
      [&](BoardState& board) { board.origin = origin; }, origin);
}

// Queued: a mesh's triangles are set up several at once.
void GR_CALL grDrawTriangle(const GrVertex* a, const GrVertex* b, const GrVertex* c) {
  DrawChecked<Queued::kKeep>(
      __func__, a && b && c, [&](BoardState& board) { QueueSceneTriangle(board, *a, *b, *c); },
      TraceVertex{a}, TraceVertex{b}, TraceVertex{c});
}

void GR_CALL grDrawLine(const GrVertex* a, const GrVertex* b) {
  DrawChecked(
      __func__, a && b, [&](BoardState& board) { DrawSceneLine(board, *a, *b); }, TraceVertex{a},
      TraceVertex{b});
}

void GR_CALL grDrawPoint(const GrVertex* p) {
  DrawChecked(
      __func__, p != nullptr, [&](BoardState& board) { DrawScenePoint(board, *p); },
      TraceVertex{p});
}

void GR_CALL grDrawPlanarPolygon(int n, const int ilist[], const GrVertex vlist[]) {
  Guarded(__func__, [&](BoardState& board) {
    if (n > kMaxPolygonVertices) {
      TraceLine trace(board.trace, "grDrawPlanarPolygon", n);
      return trace.Refused("more than " + std::to_string(kMaxPolygonVertices) + " vertices");
    }
    const std::string bad_index = ilist ? CheckIndices(n, ilist) : "";
    std::string refusal = NeedsDisplay(board);
    if (refusal.empty() && n >= 3 && ilist == nullptr) refusal = "null index list";
    if (refusal.empty() && n >= 3 && vlist == nullptr) refusal = "null vertex array";
    if (refusal.empty()) refusal = bad_index;
    TraceLine trace(board.trace, "grDrawPlanarPolygon",
                    TracePolygon{n, ilist, vlist, bad_index.empty()});
    if (!refusal.empty()) return trace.Refused(refusal);
    for (int i = 2; i < n; i++)
      DrawSceneTriangle(board, vlist[ilist[0]], vlist[ilist[i - 1]], vlist[ilist[i]]);
  });
}

void GR_CALL grDrawPolygonVertexList(int n, const GrVertex vlist[]) {
  DrawVertexList(__func__, n, vlist);
}

void GR_CALL grDrawPlanarPolygonVertexList(int n, const GrVertex vlist[]) {
  DrawVertexList(__func__, n, vlist);
}

void GR_CALL grColorMask(FxBool rgb, FxBool alpha) {
  SetState(
      __func__,
      [&](BoardState& board) {
        Pipeline(board).rgb_write = rgb != 0;
        Pipeline(board).alpha_write = alpha != 0;
      },
      rgb, alpha);
}

void GR_CALL grDitherMode(GrDitherMode_t mode) {
  SetChecked(
      __func__, OneOf(mode, GR_DITHER_DISABLE, GR_DITHER_4x4, "dither mode"),
      [&](BoardState& board) { board.frame.dither_mode = mode; }, mode);
}

void GR_CALL grGammaCorrectionValue(float g) {
  SetChecked(
      __func__, g > 0 && g <= 20 ? "" : "gamma out of range (above 0, at most 20)",
      [&](BoardState& board) { SetShownGamma(board, g); }, TraceFloat{g});
}

FxU32 GR_CALL grSstScreenWidth(void) {
  return Guarded(__func__, FxU32(kScreenWidth), [](BoardState& board) {
    TraceLine trace(board.trace, "grSstScreenWidth");
    trace.Returned(kScreenWidth);
    return FxU32(kScreenWidth);
  });
}

FxU32 GR_CALL grSstScreenHeight(void) {
  return Guarded(__func__, FxU32(kScreenHeight), [](BoardState& board) {
    TraceLine trace(board.trace, "grSstScreenHeight");
    trace.Returned(kScreenHeight);
    return FxU32(kScreenHeight);
  });
}

// Swaps are shown as they are asked for: none is ever pending.
int GR_CALL grBufferNumPending(void) {
  return Guarded(__func__, 0, [](BoardState& board) {
    TraceLine trace(board.trace, "grBufferNumPending");
    trace.Returned(0);
    return 0;
  });
}

// Drawing happens inside the calls that need its pixels: the board is never
// busy between calls.
FxBool GR_CALL grSstIsBusy(void) {
  return Guarded(__func__, FxBool{FXFALSE}, [](BoardState& board) {
    TraceLine trace(board.trace, "grSstIsBusy");
    trace.Returned(FXFALSE);
    return FxBool{FXFALSE};
  });
}

void GR_CALL grSstIdle(void) {
  Checked(
      __func__, [](const BoardState&) { return std::string(); },
      [](BoardState& board, TraceLine&) {
        if (board.open) FinishDrawing(board);
      });
}

void GR_CALL grLibGetVersion(char version[80]) {
  Checked(
      __func__, [&](const BoardState&) { return std::string(version ? "" : "null buffer"); },
      [&](BoardState&, TraceLine&) {
        std::snprintf(version, 80, "softboard %s", SOFTBOARD_VERSION);
      },
      TraceOutput{version});
}

void GR_CALL grErrorSetCallback(void (*fn)(const char* message, FxBool fatal)) {
  Checked(
      __func__, [](const BoardState&) { return std::string(); },
      [&](BoardState& board, TraceLine&) { board.trace.error_callback = fn; }, fn != nullptr);
}

}  // extern "C"
