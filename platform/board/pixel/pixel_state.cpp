#include "pixel/pixel_state.h"

#include "pixel/combine_terms.h"

namespace softboard {
namespace {

// Marks what one output channel reads; `channel` 3 is alpha, whose local and
// other are the alphas themselves.
void MarkReads(const CombineState& s, int channel, PixelInputs* in) {
  const CombineTerms t = TermsOf(s.function);
  const FactorInput factor = t.Scaled() ? FactorOf(s.factor).input : FactorInput::kNone;
  const bool local = t.minus_local || t.add == CombineAdd::kLocal || factor == FactorInput::kLocal;
  const bool local_alpha = t.add == CombineAdd::kLocalAlpha || factor == FactorInput::kLocalAlpha;
  const bool other = t.other;
  const bool other_alpha = factor == FactorInput::kOtherAlpha;
  const auto mark_local = [&](int c) {
    if (s.local == GR_COMBINE_LOCAL_ITERATED) in->iterated[c] = true;
    if (s.local == GR_COMBINE_LOCAL_DEPTH) in->iterated[3] = true;  // no depth: iterated alpha
  };
  const auto mark_other = [&](int c) {
    if (s.other == GR_COMBINE_OTHER_ITERATED) in->iterated[c] = true;
    if (s.other == GR_COMBINE_OTHER_TEXTURE) in->texture = true;
  };
  if (local) mark_local(channel);
  if (local_alpha) mark_local(3);
  if (other) mark_other(channel);
  if (other_alpha) mark_other(3);
  if (factor == FactorInput::kTextureAlpha) in->texture = true;
}

// The combine gives exactly one input, unscaled: returns it (as a LOCAL or
// OTHER value, per `is_local`), or -1.
int PassedThrough(const CombineState& s, bool* is_local) {
  if (s.invert) return -1;
  if (s.function == GR_COMBINE_FUNCTION_LOCAL) {
    *is_local = true;
    return s.local;
  }
  if (s.function == GR_COMBINE_FUNCTION_SCALE_OTHER && s.factor == GR_COMBINE_FACTOR_ONE) {
    *is_local = false;
    return s.other;
  }
  return -1;
}

bool MatchColor(const CombineState& s, FusedColor* out) {
  bool is_local = false;
  const int source = PassedThrough(s, &is_local);
  if (source == GR_COMBINE_LOCAL_ITERATED) {  // ITERATED is 0 as local and as other
    *out = FusedColor::kIterated;
    return true;
  }
  if (!is_local && source == GR_COMBINE_OTHER_TEXTURE) {
    *out = FusedColor::kTexture;
    return true;
  }
  // Texture times the Gouraud colour: f * other with f the local colour.
  if (!s.invert && s.function == GR_COMBINE_FUNCTION_SCALE_OTHER &&
      s.factor == GR_COMBINE_FACTOR_LOCAL && s.local == GR_COMBINE_LOCAL_ITERATED &&
      s.other == GR_COMBINE_OTHER_TEXTURE) {
    *out = FusedColor::kTextureTimesIterated;
    return true;
  }
  return false;
}

bool MatchAlpha(const CombineState& s, FusedAlpha* out) {
  bool is_local = false;
  const int source = PassedThrough(s, &is_local);
  if (source < 0) return false;
  if (is_local) {
    if (source == GR_COMBINE_LOCAL_CONSTANT)
      *out = FusedAlpha::kConstant;
    else if (source == GR_COMBINE_LOCAL_ITERATED || source == GR_COMBINE_LOCAL_DEPTH)
      *out = FusedAlpha::kIterated;
    else
      return false;
    return true;
  }
  if (source == GR_COMBINE_OTHER_CONSTANT)
    *out = FusedAlpha::kConstant;
  else if (source == GR_COMBINE_OTHER_ITERATED)
    *out = FusedAlpha::kIterated;
  else if (source == GR_COMBINE_OTHER_TEXTURE)
    *out = FusedAlpha::kTexture;
  else
    return false;
  return true;
}

}  // namespace

void MakePixelState(const RenderState& render, const TexCombineState& tex,
                    const SamplerMode& sampler, bool perspective, PixelState* out) {
  out->color = render.color;
  out->alpha = render.alpha;
  out->tex = tex;
  out->blend = render.blend;
  out->constant = render.constant;
  out->sampler = sampler;
  out->perspective = perspective;
  out->pipeline = render.pipeline;
  out->units[0] = out->units[1] = UnitMode{};
  out->tex1 = TexCombineState{};
  out->two_units = false;
  out->perspective1 = false;
}

PixelInputs InputsOf(const PixelState& state) {
  PixelInputs in;
  for (int c = 0; c < 3; c++) MarkReads(state.color, c, &in);
  MarkReads(state.alpha, 3, &in);
  // The chroma key compares the colour combine's other input.
  if (state.pipeline.chroma_key) {
    for (int c = 0; c < 3; c++) {
      if (state.color.other == GR_COMBINE_OTHER_ITERATED) in.iterated[c] = true;
      if (state.color.other == GR_COMBINE_OTHER_TEXTURE) in.texture = true;
    }
  }
  return in;
}

bool MatchFused(const PixelState& state, FusedKind* kind) {
  if (!PlainPipeline(state.pipeline)) return false;  // see MatchFusedDepth
  FusedKind s{};
  if (!MatchColor(state.color, &s.color) || !MatchAlpha(state.alpha, &s.alpha)) return false;
  const BlendState& b = state.blend;
  if (b.rgb_src == GR_BLEND_ONE && b.rgb_dst == GR_BLEND_ZERO) {
    s.blend = FusedBlend::kReplace;
  } else if (b.rgb_src == GR_BLEND_SRC_ALPHA && b.rgb_dst == GR_BLEND_ONE_MINUS_SRC_ALPHA) {
    s.blend = FusedBlend::kSrcAlpha;
  } else {
    return false;
  }
  if (b.alpha_src == GR_BLEND_ZERO && b.alpha_dst == GR_BLEND_ZERO) {
    s.alpha_write = FusedAlphaWrite::kZero;
  } else if (b.alpha_src == GR_BLEND_ONE && b.alpha_dst == GR_BLEND_ZERO) {
    s.alpha_write = FusedAlphaWrite::kSource;
  } else if (b.alpha_src == GR_BLEND_ZERO && b.alpha_dst == GR_BLEND_ONE) {
    s.alpha_write = FusedAlphaWrite::kKeep;
  } else {
    return false;
  }
  // Whether the source alpha matters at all: as the blend's factor or as what is written.
  const bool alpha_used =
      s.blend == FusedBlend::kSrcAlpha || s.alpha_write == FusedAlphaWrite::kSource;
  if (!alpha_used) s.alpha = FusedAlpha::kConstant;  // any will do; this one costs nothing
  const bool textured =
      s.color != FusedColor::kIterated || (alpha_used && s.alpha == FusedAlpha::kTexture);
  if (textured) {
    // The texture unit must pass its texel through, filtered bilinearly with wrapping.
    const TexCombineState& t = state.tex;
    const bool passes = t.rgb_function == GR_COMBINE_FUNCTION_LOCAL && !t.rgb_invert &&
                        t.alpha_function == GR_COMBINE_FUNCTION_LOCAL && !t.alpha_invert;
    if (!passes || !(state.sampler == SamplerMode{true, true, true})) return false;
  }
  s.coords = !textured ? Coords::kNone : state.perspective ? Coords::kPerspective : Coords::kAffine;
  *kind = s;
  return true;
}

}  // namespace softboard
