#include "reference/reference_board.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

namespace reference {

struct Board::Values {
  double r, g, b, a;  // vertex colours, held to 0..255
  double s, t;        // texture coordinates, divided by w
  double z, q;        // ooz held to 0..65535; the vertex's 1/w
};

namespace {

struct Rgba {
  double r, g, b, a;
};

Rgba Unpack(uint32_t c, int format) {
  const auto byte = [c](int shift) { return double((c >> shift) & 255); };
  switch (format) {
    case GR_COLORFORMAT_ABGR: return {byte(0), byte(8), byte(16), byte(24)};
    case GR_COLORFORMAT_RGBA: return {byte(24), byte(16), byte(8), byte(0)};
    case GR_COLORFORMAT_BGRA: return {byte(8), byte(16), byte(24), byte(0)};
    default: return {byte(16), byte(8), byte(0), byte(24)};
  }
}

double Held(double v, double hi) {
  return v > 0 ? std::min(v, hi) : 0;  // NaN too
}
int Round(double v) {
  return int(std::floor(v + 0.5));
}
int Clamp255(double v) {
  return std::clamp(Round(v), 0, 255);
}

bool Passes(int f, double value, double ref) {
  switch (f) {
    case GR_CMP_NEVER: return false;
    case GR_CMP_LESS: return value < ref;
    case GR_CMP_EQUAL: return value == ref;
    case GR_CMP_LEQUAL: return value <= ref;
    case GR_CMP_GREATER: return value > ref;
    case GR_CMP_NOTEQUAL: return value != ref;
    case GR_CMP_GEQUAL: return value >= ref;
    default: return true;
  }
}

// Whether the comparison could go either way for values within `margin`.
bool Tied(int f, double value, double ref, double margin) {
  const bool here = Passes(f, value, ref);
  return Passes(f, value - margin, ref) != here || Passes(f, value + margin, ref) != here;
}

Rgba Texel(const Texture* t, double s, double tt) {
  if (t == nullptr) return {255, 255, 255, 255};
  const double texels_per_unit = double(std::max(t->width, t->height)) / 256;
  const double u = s * texels_per_unit - 0.5, v = tt * texels_per_unit - 0.5;
  // Weights within rounding of a texel centre are that centre's: the sample
  // is then the texel itself, exactly.
  const auto weight = [](double x) {
    const double f = x - std::floor(x);
    return f < 1e-6 ? 0.0 : f > 1 - 1e-6 ? 1.0 : f;
  };
  const double fu = weight(u), fv = weight(v);
  const auto at = [&](double x, double y, int shift) {
    const int ix = int(((long long)std::floor(x) % t->width + t->width) % t->width);
    const int iy = int(((long long)std::floor(y) % t->height + t->height) % t->height);
    return double((t->texels[size_t(iy) * size_t(t->width) + size_t(ix)] >> shift) & 255);
  };
  const auto channel = [&](int shift) {
    const double x0 = std::floor(u), y0 = std::floor(v);
    return (at(x0, y0, shift) * (1 - fu) + at(x0 + 1, y0, shift) * fu) * (1 - fv) +
           (at(x0, y0 + 1, shift) * (1 - fu) + at(x0 + 1, y0 + 1, shift) * fu) * fv;
  };
  return {channel(16), channel(8), channel(0), channel(24)};
}

bool TexelExact(const Texture* t, double s, double tt) {
  if (t == nullptr) return true;
  const double texels_per_unit = double(std::max(t->width, t->height)) / 256;
  const auto centred = [](double x) {
    const double f = x - std::floor(x);
    return f < 1e-6 || f > 1 - 1e-6;
  };
  return centred(s * texels_per_unit - 0.5) && centred(tt * texels_per_unit - 0.5);
}

// One channel of a combine unit: f * (other - local) + add, from its function.
double CombineChannel(const Combine& c, double local, double local_alpha, double other,
                      double other_alpha, double texture_alpha) {
  double f = 0;
  switch (c.factor & 7) {
    case GR_COMBINE_FACTOR_LOCAL: f = local; break;
    case GR_COMBINE_FACTOR_OTHER_ALPHA: f = other_alpha; break;
    case GR_COMBINE_FACTOR_LOCAL_ALPHA: f = local_alpha; break;
    case GR_COMBINE_FACTOR_TEXTURE_ALPHA: f = texture_alpha; break;
    default: f = 0;
  }
  if (c.factor & 8) f = 255 - f;
  f /= 255;
  double v = 0;
  switch (c.function) {
    case GR_COMBINE_FUNCTION_LOCAL: v = local; break;
    case GR_COMBINE_FUNCTION_LOCAL_ALPHA: v = local_alpha; break;
    case GR_COMBINE_FUNCTION_SCALE_OTHER: v = f * other; break;
    case GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL: v = f * other + local; break;
    case GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL_ALPHA: v = f * other + local_alpha; break;
    case GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL: v = f * (other - local); break;
    case GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL_ADD_LOCAL:
      v = f * (other - local) + local;
      break;
    case GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL_ADD_LOCAL_ALPHA:
      v = f * (other - local) + local_alpha;
      break;
    case GR_COMBINE_FUNCTION_SCALE_MINUS_LOCAL_ADD_LOCAL: v = local - f * local; break;
    case GR_COMBINE_FUNCTION_SCALE_MINUS_LOCAL_ADD_LOCAL_ALPHA: v = local_alpha - f * local; break;
    default: v = 0;
  }
  const int out = Clamp255(v);
  return c.invert ? 255 - out : out;
}

double BlendFactor(int factor, bool source, int c, const double (&s)[4], const double (&d)[4]) {
  switch (factor) {
    case GR_BLEND_ZERO: return 0;
    case GR_BLEND_SRC_ALPHA: return s[3];
    case GR_BLEND_SRC_COLOR: return source ? d[c] : s[c];
    case GR_BLEND_DST_ALPHA: return d[3];
    case GR_BLEND_ONE: return 255;
    case GR_BLEND_ONE_MINUS_SRC_ALPHA: return 255 - s[3];
    case GR_BLEND_ONE_MINUS_SRC_COLOR: return 255 - (source ? d[c] : s[c]);
    case GR_BLEND_ONE_MINUS_DST_ALPHA: return 255 - d[3];
    case GR_BLEND_ALPHA_SATURATE: return source ? (c < 3 ? std::min(s[3], 255 - d[3]) : 255) : 0;
    default: return 0;
  }
}

long long FloorDiv(long long n, long long d) {
  return (long long)std::floor(double(n) / double(d));  // exact enough for the scene's range
}

}  // namespace

double FogIndexToW(int i) {
  return std::pow(2.0, 3 + i / 4) / (8 - i % 4);
}

int WDepthOf(double q) {
  if (std::isnan(q) || q <= std::pow(2.0, -16)) return 0xFFFF;
  if (q >= 1) return 0;
  const int e = int(std::floor(-std::log2(q)));
  const double f = q * std::pow(2.0, e);
  const int m = std::min(4095, int(std::floor((1 - f) * 8192)));
  return e * 4096 + m;
}

Board::Board()
    : color(size_t(kWidth) * kHeight, 0),
      depth(size_t(kWidth) * kHeight, 0),
      uncertain(size_t(kWidth) * kHeight, 0) {}

void Board::Clear(GrColor_t c, GrAlpha_t alpha, FxU16 d) {
  const Rgba k = Unpack(c, state.color_format);
  const uint32_t pixel =
      uint32_t(alpha) << 24 | uint32_t(k.r) << 16 | uint32_t(k.g) << 8 | uint32_t(k.b);
  uint32_t mask = (state.rgb_write ? 0x00FFFFFFu : 0) | (state.alpha_write ? 0xFF000000u : 0);
  for (int y = std::max(0, state.clip[1]); y < std::min(kHeight, state.clip[3]); y++) {
    for (int x = std::max(0, state.clip[0]); x < std::min(kWidth, state.clip[2]); x++) {
      const size_t i = size_t(y) * kWidth + size_t(x);
      color[i] = (color[i] & ~mask) | (pixel & mask);
      if (mask == 0xFFFFFFFFu) uncertain[i] = 0;
      if (state.depth_write) depth[i] = d;
    }
  }
}

void Board::Shade(int x, int y, const Values& v) {
  const State& st = state;
  if (x < std::max(0, st.clip[0]) || x >= std::min(kWidth, st.clip[2]) ||
      y < std::max(0, st.clip[1]) || y >= std::min(kHeight, st.clip[3]))
    return;
  const size_t at = size_t(y) * kWidth + size_t(x);
  bool unsure = uncertain[at] != 0;
  const Rgba iterated{double(Clamp255(v.r)), double(Clamp255(v.g)), double(Clamp255(v.b)),
                      double(Clamp255(v.a))};
  Rgba tex = Texel(st.texture, v.s, v.t);
  if (st.units_on) {
    const UnitsOutput u = UnitsAt(st.units, st.two_units, planes_, x, y);
    tex = {u.c[0], u.c[1], u.c[2], u.c[3]};
    unsure = unsure || u.uncertain;
  }
  const Rgba constant = Unpack(st.constant, st.color_format);
  const auto local = [&](int which) {
    return which == GR_COMBINE_LOCAL_CONSTANT ? constant
           : which == GR_COMBINE_LOCAL_DEPTH  ? Rgba{iterated.a, iterated.a, iterated.a, iterated.a}
                                              : iterated;
  };
  const auto other = [&](int which) {
    return which == GR_COMBINE_OTHER_TEXTURE    ? tex
           : which == GR_COMBINE_OTHER_CONSTANT ? constant
           : which == GR_COMBINE_OTHER_ITERATED ? iterated
                                                : Rgba{0, 0, 0, 0};
  };
  // 2: chroma key on the colour combine's other input.
  if (st.chroma_key) {
    const Rgba o = other(st.color.other), k = Unpack(st.key, st.color_format);
    const double far = std::max({std::fabs(o.r - k.r), std::fabs(o.g - k.g), std::fabs(o.b - k.b)});
    // A texel sampled at its centre is exact; filtered or iterated colours
    // are within 1.
    const bool exact =
        st.color.other == GR_COMBINE_OTHER_CONSTANT ||
        (st.color.other == GR_COMBINE_OTHER_TEXTURE && TexelExact(st.texture, v.s, v.t));
    if (far < 1.5 && !exact) unsure = true;
    if (far < 0.5) {
      if (unsure) uncertain[at] = 1;
      return;
    }
  }
  // 3: the combine units.
  const Rgba cl = local(st.color.local), co = other(st.color.other);
  const double cc[3] = {CombineChannel(st.color, cl.r, cl.a, co.r, co.a, tex.a),
                        CombineChannel(st.color, cl.g, cl.a, co.g, co.a, tex.a),
                        CombineChannel(st.color, cl.b, cl.a, co.b, co.a, tex.a)};
  const double la = local(st.alpha.local).a, oa = other(st.alpha.other).a;
  const double alpha = CombineChannel(st.alpha, la, la, oa, oa, tex.a);
  // 4: alpha test.
  if (Tied(st.alpha_function, alpha, st.alpha_reference, 1)) unsure = true;
  if (!Passes(st.alpha_function, alpha, st.alpha_reference)) {
    if (unsure) uncertain[at] = 1;
    return;
  }
  // 5: depth test.
  const bool w_mode = st.depth_mode == GR_DEPTHBUFFER_WBUFFER ||
                      st.depth_mode == GR_DEPTHBUFFER_WBUFFER_COMPARE_TO_BIAS;
  const bool to_bias = st.depth_mode == GR_DEPTHBUFFER_ZBUFFER_COMPARE_TO_BIAS ||
                       st.depth_mode == GR_DEPTHBUFFER_WBUFFER_COMPARE_TO_BIAS;
  int written = 0;
  if (st.depth_mode != GR_DEPTHBUFFER_DISABLE) {
    const double own = w_mode ? WDepthOf(v.q) : std::floor(v.z);
    const int biased = std::clamp(int(own) + st.depth_bias, 0, 0xFFFF);
    const int compared = to_bias ? int(uint16_t(st.depth_bias)) : biased;
    written = to_bias ? std::clamp(int(own), 0, 0xFFFF) : biased;
    // Z is stepped in fixed point: within a little of an integer it may floor either way.
    const double frac = v.z - std::floor(v.z);
    const bool near_integer = !w_mode && (frac < 0.05 || frac > 0.95);
    if (Tied(st.depth_function, compared, depth[at], near_integer ? 1 : 0) ||
        (w_mode && std::fabs(WDepthOf(v.q * (1 + 1e-6)) - WDepthOf(v.q)) > 0))
      unsure = true;
    if (!Passes(st.depth_function, compared, depth[at])) {
      if (unsure) uncertain[at] = 1;
      return;
    }
  }
  // 6: fog.
  double fogged[3] = {cc[0], cc[1], cc[2]};
  const int source = st.fog_mode & 0xFF;
  if (source != GR_FOG_DISABLE) {
    double k;
    if (source == GR_FOG_WITH_TABLE) {
      const int w16 = WDepthOf(v.q), i = w16 >> 10, r = w16 & 1023;
      const auto& t = st.fog_table;
      k = i >= 63 ? t[63]
                  : t[size_t(i)] + std::floor((t[size_t(i) + 1] - t[size_t(i)]) * r / 1024.0);
    } else {
      k = std::floor(v.a);
    }
    const Rgba f = Unpack(st.fog_color, st.color_format);
    const double fc[3] = {f.r, f.g, f.b};
    for (int c = 0; c < 3; c++) {
      if (st.fog_mode & GR_FOG_MULT2)
        fogged[c] = Round((255 - k) * cc[c] / 255);
      else if (st.fog_mode & GR_FOG_ADD2)
        fogged[c] = Round(k * fc[c] / 255);
      else
        fogged[c] = Round((k * fc[c] + (255 - k) * cc[c]) / 255);
    }
  }
  // 7: blend.
  const uint32_t old = color[at];
  const double d[4] = {double(old >> 16 & 255), double(old >> 8 & 255), double(old & 255),
                       double(old >> 24)};
  const double s[4] = {fogged[0], fogged[1], fogged[2], alpha};
  uint32_t out = 0;
  for (int c = 0; c < 4; c++) {
    const double fs = BlendFactor(c < 3 ? st.rgb_src : st.alpha_src, true, c, s, d);
    const double fd = BlendFactor(c < 3 ? st.rgb_dst : st.alpha_dst, false, c, s, d);
    const uint32_t value = uint32_t(std::min(255, Round((s[c] * fs + d[c] * fd) / 255)));
    out |= value << (c < 3 ? 16 - 8 * c : 24);
  }
  // 8: writes.
  const uint32_t mask = (st.rgb_write ? 0x00FFFFFFu : 0) | (st.alpha_write ? 0xFF000000u : 0);
  color[at] = (out & mask) | (old & ~mask);
  const bool reads_dst = st.rgb_dst != GR_BLEND_ZERO || st.alpha_dst != GR_BLEND_ZERO ||
                         st.rgb_src == GR_BLEND_DST_COLOR || st.rgb_src == GR_BLEND_DST_ALPHA ||
                         st.rgb_src == GR_BLEND_ONE_MINUS_DST_ALPHA ||
                         st.rgb_src == GR_BLEND_ONE_MINUS_DST_COLOR ||
                         st.rgb_src == GR_BLEND_ALPHA_SATURATE || mask != 0xFFFFFFFFu;
  uncertain[at] = unsure || (reads_dst && uncertain[at]);
  if (st.depth_mode != GR_DEPTHBUFFER_DISABLE && st.depth_write) depth[at] = uint16_t(written);
}

void Board::Triangle(const GrVertex& a0, const GrVertex& b0, const GrVertex& c0) {
  const GrVertex* v[3] = {&a0, &b0, &c0};
  long long X[3], Y[3];
  for (int i = 0; i < 3; i++) {
    if (!std::isfinite(v[i]->x) || !std::isfinite(v[i]->y)) return;
    X[i] = std::llround(double(v[i]->x) * 16);
    Y[i] = std::llround(double(v[i]->y) * 16);
  }
  // Culled by the winding the program passed, before the origin flips it.
  const long long passed = (X[1] - X[0]) * (Y[2] - Y[0]) - (X[2] - X[0]) * (Y[1] - Y[0]);
  if ((state.cull == GR_CULL_NEGATIVE && passed < 0) ||
      (state.cull == GR_CULL_POSITIVE && passed > 0))
    return;
  double flip_y[3];
  for (int i = 0; i < 3; i++) {
    flip_y[i] = state.origin == GR_ORIGIN_LOWER_LEFT ? 480.0 - double(v[i]->y) : double(v[i]->y);
    Y[i] = std::llround(flip_y[i] * 16);
  }
  long long area = (X[1] - X[0]) * (Y[2] - Y[0]) - (X[2] - X[0]) * (Y[1] - Y[0]);
  if (area == 0) return;
  int o[3] = {0, 1, 2};
  if (area < 0) {
    std::swap(o[1], o[2]);
    area = -area;
  }
  Values val[3];
  for (int i = 0; i < 3; i++) {
    const GrVertex& p = *v[o[i]];
    val[i] = {Held(p.r, 255),          Held(p.g, 255),          Held(p.b, 255),     Held(p.a, 255),
              double(p.tmuvtx[0].sow), double(p.tmuvtx[0].tow), Held(p.ooz, 65535), double(p.oow)};
  }
  const long long x[3] = {X[o[0]], X[o[1]], X[o[2]]}, y[3] = {Y[o[0]], Y[o[1]], Y[o[2]]};
  const double q_tex[3] = {double(v[o[0]]->tmuvtx[0].oow), double(v[o[1]]->tmuvtx[0].oow),
                           double(v[o[2]]->tmuvtx[0].oow)};
  // Each unit's planes (s/w, t/w, 1/w) through the three snapped corners.
  struct Gradient {
    double f0, fx, fy;
  };
  Gradient unit_gradients[2][3];
  const double x0 = double(x[0]) / 16, y0 = double(y[0]) / 16;
  if (state.units_on) {
    const double ax = double(x[1] - x[0]) / 16, ay = double(y[1] - y[0]) / 16;
    const double bx = double(x[2] - x[0]) / 16, by = double(y[2] - y[0]) / 16;
    const double det = ax * by - bx * ay;
    for (int u = 0; u < 2; u++) {
      for (int k = 0; k < 3; k++) {
        double f[3];
        for (int i = 0; i < 3; i++) {
          const GrTmuVertex& t = v[o[i]]->tmuvtx[u];
          f[i] = k == 0 ? t.sow : k == 1 ? t.tow : t.oow;
        }
        const double d1 = f[1] - f[0], d2 = f[2] - f[0];
        unit_gradients[u][k] = {f[0], (d1 * by - d2 * ay) / det, (d2 * ax - d1 * bx) / det};
      }
    }
  }
  const auto span = [](const long long(&c)[3], int size) {
    const long long lo = std::min({c[0], c[1], c[2]}), hi = std::max({c[0], c[1], c[2]});
    return std::pair<int, int>(int(std::clamp<long long>(lo / 16 - 1, 0, size)),
                               int(std::clamp<long long>(hi / 16 + 2, 0, size)));
  };
  const auto [i0, i1] = span(x, kWidth);
  const auto [j0, j1] = span(y, kHeight);
  for (int j = j0; j < j1; j++) {
    for (int i = i0; i < i1; i++) {
      const long long px = 16LL * i + 8, py = 16LL * j + 8;
      long long e[3];
      bool inside = true;
      for (int k = 0; k < 3 && inside; k++) {
        const int n = (k + 1) % 3;
        const long long dx = x[n] - x[k], dy = y[n] - y[k];
        e[k] = dx * (py - y[k]) - dy * (px - x[k]);  // positive inside
        // On the edge: drawn for a top edge (horizontal, inside below) or a
        // left one (inside to its right).
        const bool top = dy == 0 && dx > 0, left = dy < 0;
        inside = e[k] > 0 || (e[k] == 0 && (top || left));
      }
      if (!inside) continue;
      // Barycentric weights: e[k] weighs the vertex opposite edge k.
      const double w0 = double(e[1]) / double(area), w1 = double(e[2]) / double(area);
      const double w2 = 1 - w0 - w1;
      const auto mix = [&](double Values::*m) {
        return w0 * val[0].*m + w1 * val[1].*m + w2 * val[2].*m;
      };
      Values p{mix(&Values::r), mix(&Values::g), mix(&Values::b), mix(&Values::a), 0, 0,
               mix(&Values::z), mix(&Values::q)};
      const double q = w0 * q_tex[0] + w1 * q_tex[1] + w2 * q_tex[2];
      p.s = mix(&Values::s) / q;
      p.t = mix(&Values::t) / q;
      if (state.units_on) {
        for (int u = 0; u < 2; u++) {
          UnitPlanes& pl = planes_[u];
          const Gradient(&g)[3] = unit_gradients[u];
          const double xs = (px - 8) / 16.0 + 0.5, ys = (py - 8) / 16.0 + 0.5;
          double at[3];
          for (int k = 0; k < 3; k++) at[k] = g[k].f0 + g[k].fx * (xs - x0) + g[k].fy * (ys - y0);
          pl = {at[0], at[1], at[2], g[0].fx, g[0].fy, g[1].fx, g[1].fy, g[2].fx, g[2].fy};
        }
      }
      Shade(i, j, p);
    }
  }
}

void Board::Line(const GrVertex& a, const GrVertex& b) {
  const GrVertex* v[2] = {&a, &b};
  long long X[2], Y[2];
  for (int i = 0; i < 2; i++) {
    const double y = state.origin == GR_ORIGIN_LOWER_LEFT ? 480.0 - double(v[i]->y) : v[i]->y;
    if (!std::isfinite(v[i]->x) || !std::isfinite(y)) return;
    X[i] = std::llround(double(v[i]->x) * 16);
    Y[i] = std::llround(y * 16);
  }
  const long long dx = X[1] - X[0], dy = Y[1] - Y[0];
  const bool x_major = std::llabs(dx) >= std::llabs(dy);
  const long long M0 = x_major ? X[0] : Y[0], M1 = x_major ? X[1] : Y[1];
  const long long N0 = x_major ? Y[0] : X[0], dN = x_major ? dy : dx, dM = M1 - M0;
  if (dM == 0) return;
  const int size = x_major ? kWidth : kHeight;
  for (int i = 0; i < size; i++) {
    const long long c = 16LL * i + 8;
    const bool in = dM > 0 ? (c >= M0 && c < M1) : (c <= M0 && c > M1);
    if (!in) continue;
    // Across at the centre: N0 + (c - M0) dN / dM, floored to its pixel.
    const long long num = N0 * dM + (c - M0) * dN, den = 16 * dM;
    const long long j = den > 0 ? FloorDiv(num, den) : FloorDiv(-num, -den);
    const double t = double(c - M0) / double(dM);
    const auto lerp = [&](double p, double q) { return p + t * (q - p); };
    Values val{lerp(Held(a.r, 255), Held(b.r, 255)),
               lerp(Held(a.g, 255), Held(b.g, 255)),
               lerp(Held(a.b, 255), Held(b.b, 255)),
               lerp(Held(a.a, 255), Held(b.a, 255)),
               0,
               0,
               lerp(Held(a.ooz, 65535), Held(b.ooz, 65535)),
               lerp(a.oow, b.oow)};
    const double q = lerp(a.tmuvtx[0].oow, b.tmuvtx[0].oow);
    val.s = lerp(a.tmuvtx[0].sow, b.tmuvtx[0].sow) / q;
    val.t = lerp(a.tmuvtx[0].tow, b.tmuvtx[0].tow) / q;
    const int px = x_major ? i : int(j), py = x_major ? int(j) : i;
    if (px >= 0 && px < kWidth && py >= 0 && py < kHeight) Shade(px, py, val);
  }
}

void Board::Point(const GrVertex& p) {
  const double y = state.origin == GR_ORIGIN_LOWER_LEFT ? 480.0 - double(p.y) : p.y;
  if (!std::isfinite(p.x) || !std::isfinite(y)) return;
  const long long X = std::llround(double(p.x) * 16), Y = std::llround(y * 16);
  const long long i = FloorDiv(X, 16), j = FloorDiv(Y, 16);
  if (i < 0 || i >= kWidth || j < 0 || j >= kHeight) return;
  Values val{Held(p.r, 255),
             Held(p.g, 255),
             Held(p.b, 255),
             Held(p.a, 255),
             p.tmuvtx[0].sow / double(p.tmuvtx[0].oow),
             p.tmuvtx[0].tow / double(p.tmuvtx[0].oow),
             Held(p.ooz, 65535),
             p.oow};
  Shade(int(i), int(j), val);
}

int CountDifferences(const std::vector<uint32_t>& got, const Board& want, int tolerance,
                     std::vector<std::string>* report, bool compare_alpha) {
  int differ = 0;
  for (int y = 0; y < kHeight; y++) {
    for (int x = 0; x < kWidth; x++) {
      const size_t i = size_t(y) * kWidth + size_t(x);
      if (want.uncertain[i]) continue;
      const uint32_t g = got[i], w = want.color[i];
      bool near = true;
      for (int shift = 0; shift < (compare_alpha ? 32 : 24); shift += 8)
        near = near && std::abs(int(g >> shift & 255) - int(w >> shift & 255)) <= tolerance;
      if (near) continue;
      if (report && report->size() < 10) {
        char line[96];
        std::snprintf(line, sizeof line, "pixel (%d, %d) is %08X, expected %08X", x, y, g, w);
        report->push_back(line);
      }
      differ++;
    }
  }
  return differ;
}

}  // namespace reference
