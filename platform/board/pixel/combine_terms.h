// What each combine function and factor is made of, said once: the combine
// units compute with it and the fused-loop matcher reads what a state uses
// from it, so the two cannot drift apart.
#pragma once

#include <cstdint>

#include "grlib.h"

namespace softboard {

// Every function is f * ((other or 0) - (local or 0)) + add.
enum class CombineAdd : uint8_t { kNone, kLocal, kLocalAlpha };
struct CombineTerms {
  bool other = false;
  bool minus_local = false;
  CombineAdd add = CombineAdd::kNone;
  // Whether the factor matters at all.
  constexpr bool Scaled() const { return other || minus_local; }
};

constexpr CombineTerms TermsOf(int function) {
  using A = CombineAdd;
  switch (function) {
    case GR_COMBINE_FUNCTION_LOCAL: return {false, false, A::kLocal};  // local
    case GR_COMBINE_FUNCTION_LOCAL_ALPHA: return {false, false, A::kLocalAlpha};
    case GR_COMBINE_FUNCTION_SCALE_OTHER: return {true, false, A::kNone};  // f*other
    case GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL: return {true, false, A::kLocal};
    case GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL_ALPHA: return {true, false, A::kLocalAlpha};
    case GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL: return {true, true, A::kNone};
    case GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL_ADD_LOCAL: return {true, true, A::kLocal};
    case GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL_ADD_LOCAL_ALPHA:
      return {true, true, A::kLocalAlpha};
    case GR_COMBINE_FUNCTION_SCALE_MINUS_LOCAL_ADD_LOCAL: return {false, true, A::kLocal};
    case GR_COMBINE_FUNCTION_SCALE_MINUS_LOCAL_ADD_LOCAL_ALPHA:
      return {false, true, A::kLocalAlpha};
    default: return {};  // ZERO, and values naming no function, give 0
  }
}

// A factor is one input, or one minus it; ZERO is no input, ONE one minus
// none. Values naming no factor scale by 0.
enum class FactorInput : uint8_t {
  kNone,
  kLocal,
  kOtherAlpha,
  kLocalAlpha,
  kTextureAlpha,
  kLodFraction,  // a texture unit's trilinear weight
};
struct FactorTerms {
  FactorInput input = FactorInput::kNone;
  bool one_minus = false;
};

constexpr FactorTerms FactorOf(int factor) {
  using F = FactorInput;
  switch (factor) {
    case GR_COMBINE_FACTOR_LOCAL: return {F::kLocal, false};
    case GR_COMBINE_FACTOR_OTHER_ALPHA: return {F::kOtherAlpha, false};
    case GR_COMBINE_FACTOR_LOCAL_ALPHA: return {F::kLocalAlpha, false};
    case GR_COMBINE_FACTOR_TEXTURE_ALPHA: return {F::kTextureAlpha, false};
    case GR_COMBINE_FACTOR_ONE: return {F::kNone, true};
    case GR_COMBINE_FACTOR_ONE_MINUS_LOCAL: return {F::kLocal, true};
    case GR_COMBINE_FACTOR_ONE_MINUS_OTHER_ALPHA: return {F::kOtherAlpha, true};
    case GR_COMBINE_FACTOR_ONE_MINUS_LOCAL_ALPHA: return {F::kLocalAlpha, true};
    case GR_COMBINE_FACTOR_ONE_MINUS_TEXTURE_ALPHA: return {F::kTextureAlpha, true};
    default: return {};  // ZERO
  }
}

// grTexCombine's factors: the same numbers for LOCAL, OTHER_ALPHA and
// LOCAL_ALPHA (other being the unit upstream), then DETAIL_FACTOR, 0 as there
// are no detail textures, and LOD_FRACTION; ONE_MINUS_ of each at + 8.
constexpr FactorTerms TexFactorOf(int factor) {
  using F = FactorInput;
  switch (factor) {
    case GR_COMBINE_FACTOR_DETAIL_FACTOR: return {F::kNone, false};
    case GR_COMBINE_FACTOR_LOD_FRACTION: return {F::kLodFraction, false};
    case GR_COMBINE_FACTOR_ONE_MINUS_DETAIL_FACTOR: return {F::kNone, true};
    case GR_COMBINE_FACTOR_ONE_MINUS_LOD_FRACTION: return {F::kLodFraction, true};
    default: return FactorOf(factor);
  }
}

// Whether a texture unit's combine reads the unit upstream ("other").
constexpr bool TexCombineReadsOther(int rgb_function, int rgb_factor, int alpha_function,
                                    int alpha_factor) {
  const auto reads = [](int function, int factor) {
    const CombineTerms t = TermsOf(function);
    return t.other || (t.Scaled() && TexFactorOf(factor).input == FactorInput::kOtherAlpha);
  };
  return reads(rgb_function, rgb_factor) || reads(alpha_function, alpha_factor);
}

}  // namespace softboard
