#include "combine.h"

#include <algorithm>

namespace softboard {

static const uint8_t* const kZero = kZeroChannel.data();

// What one output channel of a combine reads. For an alpha output, `local`
// and `other` are the alphas themselves.
struct Sources {
  const uint8_t* local;
  const uint8_t* local_alpha;
  const uint8_t* other;
  const uint8_t* other_alpha;
  const uint8_t* texture_alpha;
};

enum class Add { kNone, kLocal, kLocalAlpha };

// Every function is f * ((other or 0) - (local or 0)) + add.
struct Terms {
  bool other;
  bool minus_local;
  Add add;
};

static Terms FunctionTerms(int function) {
  switch (function) {
    case GR_COMBINE_FUNCTION_ZERO: return {false, false, Add::kNone};    // 0
    case GR_COMBINE_FUNCTION_LOCAL: return {false, false, Add::kLocal};  // local
    case GR_COMBINE_FUNCTION_LOCAL_ALPHA: return {false, false, Add::kLocalAlpha};
    case GR_COMBINE_FUNCTION_SCALE_OTHER: return {true, false, Add::kNone};  // f*other
    case GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL:                          // f*other + local
      return {true, false, Add::kLocal};
    case GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL_ALPHA:  // f*other + local alpha
      return {true, false, Add::kLocalAlpha};
    case GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL:  // f*(other - local)
      return {true, true, Add::kNone};
    case GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL_ADD_LOCAL:  // f*(other - local) + local
      return {true, true, Add::kLocal};
    case GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL_ADD_LOCAL_ALPHA:  // ... + local alpha
      return {true, true, Add::kLocalAlpha};
    case GR_COMBINE_FUNCTION_SCALE_MINUS_LOCAL_ADD_LOCAL:  // f*(-local) + local
      return {false, true, Add::kLocal};
    case GR_COMBINE_FUNCTION_SCALE_MINUS_LOCAL_ADD_LOCAL_ALPHA:  // f*(-local) + local alpha
      return {false, true, Add::kLocalAlpha};
    default: return {false, false, Add::kNone};  // values naming no function give 0
  }
}

// A factor is a channel, xor 255 for one minus it.
struct Factor {
  const uint8_t* value;
  uint8_t xor_mask;
};

static Factor FactorOf(int factor, const Sources& s) {
  switch (factor) {
    case GR_COMBINE_FACTOR_ZERO: return {kZero, 0};
    case GR_COMBINE_FACTOR_LOCAL: return {s.local, 0};
    case GR_COMBINE_FACTOR_OTHER_ALPHA: return {s.other_alpha, 0};
    case GR_COMBINE_FACTOR_LOCAL_ALPHA: return {s.local_alpha, 0};
    case GR_COMBINE_FACTOR_TEXTURE_ALPHA: return {s.texture_alpha, 0};
    case GR_COMBINE_FACTOR_ONE: return {kZero, 255};
    case GR_COMBINE_FACTOR_ONE_MINUS_LOCAL: return {s.local, 255};
    case GR_COMBINE_FACTOR_ONE_MINUS_OTHER_ALPHA: return {s.other_alpha, 255};
    case GR_COMBINE_FACTOR_ONE_MINUS_LOCAL_ALPHA: return {s.local_alpha, 255};
    case GR_COMBINE_FACTOR_ONE_MINUS_TEXTURE_ALPHA: return {s.texture_alpha, 255};
    default: return {kZero, 0};  // values naming no factor scale by 0
  }
}

static CombineChannel MakeChannel(int function, int factor, bool invert, const Sources& s,
                                  uint8_t* out, bool general_only) {
  const Terms t = FunctionTerms(function);
  const Factor f = FactorOf(factor, s);
  const uint8_t* add = t.add == Add::kLocal        ? s.local
                       : t.add == Add::kLocalAlpha ? s.local_alpha
                                                   : kZero;
  CombineChannel ch{f.value,
                    f.xor_mask,
                    t.other ? s.other : kZero,
                    t.minus_local ? s.local : kZero,
                    add,
                    uint8_t(invert ? 255 : 0),
                    out,
                    out};
  if (general_only || invert) return ch;
  const bool unscaled =
      (ch.plus == kZero && ch.minus == kZero) || (f.value == kZero && f.xor_mask == 0);
  if (unscaled) {
    ch.result = add;  // f * 0 + add
  } else if (f.value == kZero && f.xor_mask == 255 && ch.minus == kZero && add == kZero) {
    ch.result = ch.plus;  // 1 * other; Mul255(x, 255) is x
  }
  return ch;
}

static void RunChannel(const CombineChannel& ch, int n) {
  const uint8_t* __restrict f = ch.factor;
  const uint8_t* __restrict plus = ch.plus;
  const uint8_t* __restrict minus = ch.minus;
  const uint8_t* __restrict add = ch.add;
  uint8_t* __restrict out = ch.out;
  const uint8_t fx = ch.factor_xor, ix = ch.invert_xor;
  for (int i = 0; i < n; i++) {
    const int v = Mul255(plus[i] - minus[i], f[i] ^ fx) + add[i];
    out[i] = uint8_t(std::clamp(v, 0, 255)) ^ ix;
  }
}

void RunCombine(const CombineStage& stage, int n) {
  for (const CombineChannel& ch : stage.ch) {
    if (ch.result == ch.out) RunChannel(ch, n);
  }
}

bool Reads(const CombineStage& stage, const uint8_t* channel) {
  for (const CombineChannel& ch : stage.ch) {
    if (ch.result != ch.out) {
      if (ch.result == channel) return true;
    } else if (ch.factor == channel || ch.plus == channel || ch.minus == channel ||
               ch.add == channel) {
      return true;
    }
  }
  return false;
}

CombineStage BuildTextureCombine(const TexCombineState& state, const SpanColor& texel,
                                 SpanChannel (&out)[4], bool general_only) {
  // local is the texel; there is no upstream unit, so other is 0.
  CombineStage stage;
  const uint8_t* a = texel.c[3];
  for (int c = 0; c < 3; c++) {
    const Sources s{texel.c[c], a, kZero, kZero, a};
    stage.ch[c] = MakeChannel(state.rgb_function, state.rgb_factor, state.rgb_invert, s,
                              out[c].data(), general_only);
  }
  const Sources s{a, a, kZero, kZero, a};
  stage.ch[3] = MakeChannel(state.alpha_function, state.alpha_factor, state.alpha_invert, s,
                            out[3].data(), general_only);
  return stage;
}

static SpanColor LocalColor(int local, const CombineInputs& in) {
  const uint8_t* ia = in.iterated.c[3];
  switch (local) {
    case GR_COMBINE_LOCAL_ITERATED: return in.iterated;
    case GR_COMBINE_LOCAL_CONSTANT: return in.constant;
    case GR_COMBINE_LOCAL_DEPTH: return {{ia, ia, ia, ia}};  // no depth: the iterated alpha
    default: return {{kZero, kZero, kZero, kZero}};
  }
}

static SpanColor OtherColor(int other, const CombineInputs& in) {
  switch (other) {
    case GR_COMBINE_OTHER_ITERATED: return in.iterated;
    case GR_COMBINE_OTHER_TEXTURE: return in.texture;
    case GR_COMBINE_OTHER_CONSTANT: return in.constant;
    default: return {{kZero, kZero, kZero, kZero}};
  }
}

CombineStage BuildPixelCombine(const RenderState& state, const CombineInputs& in,
                               SpanChannel (&out)[4], bool general_only) {
  // A source's alpha (for LOCAL_ALPHA and OTHER_ALPHA) is that source's own.
  CombineStage stage;
  const CombineState& cc = state.color;
  const SpanColor local = LocalColor(cc.local, in), other = OtherColor(cc.other, in);
  for (int c = 0; c < 3; c++) {
    const Sources s{local.c[c], local.c[3], other.c[c], other.c[3], in.texture.c[3]};
    stage.ch[c] = MakeChannel(cc.function, cc.factor, cc.invert, s, out[c].data(), general_only);
  }
  const CombineState& ac = state.alpha;
  const uint8_t* la = LocalColor(ac.local, in).c[3];
  const uint8_t* oa = OtherColor(ac.other, in).c[3];
  const Sources s{la, la, oa, oa, in.texture.c[3]};
  stage.ch[3] = MakeChannel(ac.function, ac.factor, ac.invert, s, out[3].data(), general_only);
  return stage;
}

}  // namespace softboard
