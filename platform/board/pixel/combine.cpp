#include "pixel/combine.h"

#include <algorithm>

#include "pixel/combine_terms.h"
#include "pixel/span.h"

namespace softboard {
namespace {

alignas(64) constexpr uint8_t kZeroes[kChunk] = {};
const uint8_t* const kZero = kZeroes;

// What one output channel of a combine reads. For an alpha output, `local`
// and `other` are the alphas themselves.
struct Sources {
  const uint8_t* local;
  const uint8_t* local_alpha;
  const uint8_t* other;
  const uint8_t* other_alpha;
  const uint8_t* texture_alpha;
  const uint8_t* lod_fraction = nullptr;  // a texture unit's; null: 0
};

// A factor is a channel, xor 255 for one minus it.
struct Factor {
  const uint8_t* value;
  uint8_t xor_mask;
};

Factor FactorChannel(FactorTerms f, const Sources& s) {
  const uint8_t* value = kZero;
  switch (f.input) {
    case FactorInput::kLocal: value = s.local; break;
    case FactorInput::kOtherAlpha: value = s.other_alpha; break;
    case FactorInput::kLocalAlpha: value = s.local_alpha; break;
    case FactorInput::kTextureAlpha: value = s.texture_alpha; break;
    case FactorInput::kLodFraction: value = s.lod_fraction ? s.lod_fraction : kZero; break;
    case FactorInput::kNone: break;
  }
  return {value, uint8_t(f.one_minus ? 255 : 0)};
}

// One output channel: clamp(f * (plus - minus) + add) ^ invert_xor, with
// f = factor[i] ^ factor_xor.
struct CombineChannel {
  const uint8_t* factor;
  uint8_t factor_xor;
  const uint8_t* plus;
  const uint8_t* minus;
  const uint8_t* add;
  uint8_t invert_xor;
};

CombineChannel MakeChannel(int function, FactorTerms factor, bool invert, const Sources& s) {
  const CombineTerms t = TermsOf(function);
  const Factor f = FactorChannel(factor, s);
  const uint8_t* add = t.add == CombineAdd::kLocal        ? s.local
                       : t.add == CombineAdd::kLocalAlpha ? s.local_alpha
                                                          : kZero;
  return {f.value,
          f.xor_mask,
          t.other ? s.other : kZero,
          t.minus_local ? s.local : kZero,
          add,
          uint8_t(invert ? 255 : 0)};
}

void RunChannel(const CombineChannel& ch, int n, uint8_t* __restrict out) {
  const uint8_t* __restrict f = ch.factor;
  const uint8_t* __restrict plus = ch.plus;
  const uint8_t* __restrict minus = ch.minus;
  const uint8_t* __restrict add = ch.add;
  const uint8_t fx = ch.factor_xor, ix = ch.invert_xor;
  for (int i = 0; i < n; i++) {
    const int v = Mul255(plus[i] - minus[i], f[i] ^ fx) + add[i];
    out[i] = uint8_t(std::clamp(v, 0, 255)) ^ ix;
  }
}

// The alpha channel of each source, for LOCAL_ALPHA and OTHER_ALPHA.
const uint8_t* LocalChannel(int local, int c, const CombineSources& in) {
  switch (local) {
    case GR_COMBINE_LOCAL_ITERATED: return in.iterated->c[c];
    case GR_COMBINE_LOCAL_CONSTANT: return in.constant->c[c];
    case GR_COMBINE_LOCAL_DEPTH: return in.iterated->c[3];  // no depth: the iterated alpha
    default: return kZero;
  }
}

const uint8_t* OtherChannel(int other, int c, const CombineSources& in) {
  switch (other) {
    case GR_COMBINE_OTHER_ITERATED: return in.iterated->c[c];
    case GR_COMBINE_OTHER_TEXTURE: return in.texture->c[c];
    case GR_COMBINE_OTHER_CONSTANT: return in.constant->c[c];
    default: return kZero;
  }
}

}  // namespace

void CombineTexture(const TexCombineState& state, const Chunk& texel, int n, Chunk& out) {
  CombineTextureChained(state, texel, nullptr, nullptr, n, out);
}

void CombineTextureChained(const TexCombineState& state, const Chunk& texel, const Chunk* other,
                           const uint8_t* lod_fraction, int n, Chunk& out) {
  const uint8_t* a = texel.c[3];
  const uint8_t* oa = other ? other->c[3] : kZero;
  const FactorTerms rgb_factor = TexFactorOf(state.rgb_factor);
  for (int c = 0; c < 3; c++) {
    const Sources s{texel.c[c], a, other ? other->c[c] : kZero, oa, a, lod_fraction};
    RunChannel(MakeChannel(state.rgb_function, rgb_factor, state.rgb_invert, s), n, out.c[c]);
  }
  const Sources s{a, a, oa, oa, a, lod_fraction};
  RunChannel(
      MakeChannel(state.alpha_function, TexFactorOf(state.alpha_factor), state.alpha_invert, s), n,
      out.c[3]);
}

void CombinePixels(const CombineState& color, const CombineState& alpha, const CombineSources& in,
                   int n, Chunk& out) {
  // A source's alpha (for LOCAL_ALPHA and OTHER_ALPHA) is that source's own.
  const uint8_t* texture_alpha = in.texture->c[3];
  for (int c = 0; c < 3; c++) {
    const Sources s{LocalChannel(color.local, c, in), LocalChannel(color.local, 3, in),
                    OtherChannel(color.other, c, in), OtherChannel(color.other, 3, in),
                    texture_alpha};
    RunChannel(MakeChannel(color.function, FactorOf(color.factor), color.invert, s), n, out.c[c]);
  }
  const uint8_t* la = LocalChannel(alpha.local, 3, in);
  const uint8_t* oa = OtherChannel(alpha.other, 3, in);
  const Sources s{la, la, oa, oa, texture_alpha};
  RunChannel(MakeChannel(alpha.function, FactorOf(alpha.factor), alpha.invert, s), n, out.c[3]);
}

}  // namespace softboard
