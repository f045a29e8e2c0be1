#include "pixel/combine.h"

#include <algorithm>
#include <cmath>

#include "board/pipeline_support.h"

namespace softboard {
namespace {

constexpr int kN = kChunk;

struct Channels {
  Chunk chunk;
  int At(int ch, int i) const { return chunk.c[ch][i]; }
};

// Every value of one channel differs from pixel to pixel, with 0 and 255 among them.
Channels RandomChannels(uint32_t seed) {
  Random random(seed);
  Channels out;
  for (auto& ch : out.chunk.c) {
    for (int i = 0; i < kN; i++) ch[i] = uint8_t(i < 2 ? i * 255 : random.Below(256));
  }
  return out;
}

// The combine equation in real numbers, f the factor (0..255). Unknown
// functions give 0.
double Equation(int function, double f, bool invert, double local, double local_alpha,
                double other) {
  f /= 255;
  double v = 0;
  switch (function) {
    case 0x1: v = local; break;
    case 0x2: v = local_alpha; break;
    case 0x3: v = f * other; break;
    case 0x4: v = f * other + local; break;
    case 0x5: v = f * other + local_alpha; break;
    case 0x6: v = f * (other - local); break;
    case 0x7: v = f * (other - local) + local; break;
    case 0x8: v = f * (other - local) + local_alpha; break;
    case 0x9: v = -f * local + local; break;
    case 0x10: v = -f * local + local_alpha; break;
  }
  v = std::clamp(v, 0.0, 255.0);
  return invert ? 255 - v : v;
}

// The colour and alpha combines' factors. Unknown values give 0.
double Reference(int function, int factor, bool invert, double local, double local_alpha,
                 double other, double other_alpha, double texture_alpha) {
  double f = 0;  // ONE and the ONE_MINUS_ factors are 8 above their base
  switch (factor) {
    case 0x1:
    case 0x9: f = local; break;
    case 0x2:
    case 0xA: f = other_alpha; break;
    case 0x3:
    case 0xB: f = local_alpha; break;
    case 0x4:
    case 0xC: f = texture_alpha; break;
  }
  if (factor >= 0x8 && factor <= 0xC) f = 255 - f;
  return Equation(function, f, invert, local, local_alpha, other);
}

// A texture unit's: 4 is DETAIL_FACTOR, 0 without detail textures, and 5 the
// unit's LOD fraction.
double TexReference(int function, int factor, bool invert, double local, double local_alpha,
                    double other, double other_alpha, double lod_fraction) {
  double f = 0;
  switch (factor) {
    case 0x1:
    case 0x9: f = local; break;
    case 0x2:
    case 0xA: f = other_alpha; break;
    case 0x3:
    case 0xB: f = local_alpha; break;
    case 0x5:
    case 0xD: f = lod_fraction; break;
  }
  if (factor >= 0x8 && factor <= 0xD) f = 255 - f;
  return Equation(function, f, invert, local, local_alpha, other);
}

const int kFunctions[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x10, 0xA};
const int kFactors[] = {0, 1, 2, 3, 4, 8, 9, 0xA, 0xB, 0xC, 5};

TEST(Combine, EveryFunctionFactorLocalOtherAndInvertMatchesRealArithmetic) {
  const Channels iterated = RandomChannels(1), texture = RandomChannels(2),
                 constant = RandomChannels(3);
  const CombineSources in{&iterated.chunk, &texture.chunk, &constant.chunk};
  // Reference inputs for channel ch: local / other source numbers 0..2, else 0.
  const auto pick = [&](int source, bool is_local, int ch, int i) -> double {
    if (is_local && source == GR_COMBINE_LOCAL_DEPTH) return iterated.At(3, i);
    const Channels* s = source == 0                ? &iterated
                        : source == 1              ? (is_local ? &constant : &texture)
                        : source == 2 && !is_local ? &constant
                                                   : nullptr;
    return s ? s->At(ch, i) : 0;
  };
  Chunk out;
  for (int function : kFunctions) {
    for (int factor : kFactors) {
      for (int local : {0, 1, 2, 7}) {
        for (int other : {0, 1, 2, 9}) {
          for (bool invert : {false, true}) {
            {
              const CombineState state{function, factor, local, other, invert};
              CombinePixels(state, state, in, kN, out);
              for (int i = 0; i < kN; i++) {
                for (int ch = 0; ch < 4; ch++) {
                  const double want = Reference(function, factor, invert, pick(local, true, ch, i),
                                                pick(local, true, 3, i), pick(other, false, ch, i),
                                                pick(other, false, 3, i), texture.At(3, i));
                  const int g = out.c[ch][i];
                  if (std::abs(g - want) > 1) {
                    FAIL() << "function " << function << " factor " << factor << " local " << local
                           << " other " << other << " invert " << invert << ": pixel " << i
                           << " channel " << ch << " is " << g << ", expected " << want;
                  }
                }
              }
            }
          }
        }
      }
    }
  }
}

TEST(TextureCombine, LocalIsTheTexelAndOtherIsZero) {
  const Channels texel = RandomChannels(4);
  Chunk out;
  for (int function : kFunctions) {
    for (int factor : kFactors) {
      for (bool invert : {false, true}) {
        const TexCombineState state{function, factor, function, factor, invert, invert};
        CombineTexture(state, texel.chunk, kN, out);
        for (int i = 0; i < kN; i++) {
          for (int ch = 0; ch < 4; ch++) {
            const double want =
                TexReference(function, factor, invert, texel.At(ch, i), texel.At(3, i), 0, 0, 0);
            ASSERT_LE(std::abs(out.c[ch][i] - want), 1)
                << "function " << function << " factor " << factor << " invert " << invert
                << ": pixel " << i << " channel " << ch;
          }
        }
      }
    }
  }
}

// Unit 0 with unit 1's output as other and its own trilinear weights: every
// function and factor, LOD_FRACTION's among them.
TEST(TextureCombine, ChainedUnitsReadOtherAndTheLodFraction) {
  const Channels texel = RandomChannels(6), other = RandomChannels(7), fraction = RandomChannels(8);
  Chunk out;
  for (int function : kFunctions) {
    for (int factor : {0, 1, 2, 3, 4, 5, 8, 9, 0xA, 0xB, 0xC, 0xD}) {
      for (bool invert : {false, true}) {
        const TexCombineState state{function, factor, function, factor, invert, !invert};
        CombineTextureChained(state, texel.chunk, &other.chunk, fraction.chunk.c[0], kN, out);
        for (int i = 0; i < kN; i++) {
          for (int ch = 0; ch < 4; ch++) {
            const double want =
                TexReference(function, factor, ch == 3 ? !invert : invert, texel.At(ch, i),
                             texel.At(3, i), other.At(ch, i), other.At(3, i), fraction.At(0, i));
            ASSERT_LE(std::abs(out.c[ch][i] - want), 1)
                << "function " << function << " factor " << factor << " invert " << invert
                << ": pixel " << i << " channel " << ch << " is " << int(out.c[ch][i])
                << ", expected " << want;
          }
        }
      }
    }
  }
}

TEST(TextureCombine, TheStartingStatePassesTheTexelThrough) {
  const Channels texel = RandomChannels(5);
  Chunk out;
  CombineTexture(TexCombineState{}, texel.chunk, kN, out);
  for (int ch = 0; ch < 4; ch++) {
    for (int i = 0; i < kN; i++) ASSERT_EQ(out.c[ch][i], texel.At(ch, i)) << ch << " " << i;
  }
}

}  // namespace
}  // namespace softboard
