// Triangles set up together in vector lanes get SetupTriangle's setups bit
// for bit, on every SIMD target.
#include <gtest/gtest.h>
#include <hwy/highway.h>
#include <hwy/targets.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "pixel/span_start.h"
#include "raster/setup_lanes.h"

namespace softboard {
namespace {

class SetupLanesOnTarget : public testing::TestWithParam<int64_t> {
 protected:
  void SetUp() override { hwy::SetSupportedTargetsForTest(GetParam()); }
  void TearDown() override { hwy::SetSupportedTargetsForTest(0); }
};

// A corner with every value set: colours and depths sometimes out of range,
// NaN or infinite, texture coordinates for both units.
GrVertex Corner(std::mt19937& random, float cx, float cy, float extent) {
  std::uniform_real_distribution<float> unit(-0.5f, 0.5f);
  GrVertex v{};
  v.x = cx + unit(random) * extent;
  v.y = cy + unit(random) * extent;
  float* values[] = {&v.r,
                     &v.g,
                     &v.b,
                     &v.a,
                     &v.ooz,
                     &v.oow,
                     &v.tmuvtx[0].sow,
                     &v.tmuvtx[0].tow,
                     &v.tmuvtx[0].oow,
                     &v.tmuvtx[1].sow,
                     &v.tmuvtx[1].tow,
                     &v.tmuvtx[1].oow};
  for (float* value : values) {
    const uint32_t pick = random() % 32;
    *value = pick == 0   ? std::numeric_limits<float>::quiet_NaN()
             : pick == 1 ? -std::numeric_limits<float>::infinity()
             : pick == 2 ? 70000.0f
             : pick == 3 ? -0.0f
                         : (unit(random) + 0.5f) * 300.0f;
  }
  return v;
}

// Batches of every size, with small triangles (a mesh's), screen-sized ones,
// ones too large to set up exactly in lanes, slivers and zero areas, corners
// halfway between sixteenths, on the same row or column, not finite or
// beyond the guard band, at several scales and with several sets of planes:
// each triangle's result and setup are SetupTriangle's, its steps along a
// row those its spans would make, and the small ones were made in lanes
// wherever lanes hold doubles.
TEST_P(SetupLanesOnTarget, GiveEachTriangleItsOwnSetupBitForBit) {
  std::mt19937 random(uint32_t(GetParam() % 1000003) + 3);
  const uint32_t mesh = 1u << kPlaneR | 1u << kPlaneG | 1u << kPlaneB | 1u << kPlaneA |
                        1u << kPlaneOow | 1u << kPlaneZ | 1u << kPlaneQ;
  const uint32_t plane_sets[] = {0, mesh, kAllPlanes, 1u << kPlaneSow1 | 1u << kPlaneZ};
  const double scales[] = {1, 2.25, 6};
  int in_lanes = 0, small = 0;
  for (int round = 0; round < 1500; round++) {
    const int count = 1 + round % kSetupBatch;
    const double scale = scales[round % 3];
    const uint32_t planes = plane_sets[(round / 3) % 4];
    GrVertex vertices[kSetupBatch][3];
    bool is_small[kSetupBatch];
    for (int i = 0; i < count; i++) {
      const int kind = int(random() % 9);
      const float extent = kind == 0   ? 3e7f
                           : kind == 8 ? 8e6f
                           : kind == 1 ? 900
                           : kind == 2 ? 1
                                       : 12;
      const float cx = float(random() % 700) - 30, cy = float(random() % 540) - 30;
      const bool halves = random() % 3 == 0;  // corners on odd 32nds: snapping rounds halves
      for (int k = 0; k < 3; k++) {
        vertices[i][k] = Corner(random, cx, cy, extent);
        if (halves && kind != 0 && kind != 8) {
          vertices[i][k].x = std::floor(vertices[i][k].x * 16) / 16 - 1.0f / 32;
          vertices[i][k].y = std::floor(vertices[i][k].y * 16) / 16 + 1.0f / 32;
        }
      }
      GrVertex* v = vertices[i];
      if (kind == 3) v[2].y = v[0].y;                             // a horizontal edge
      if (kind == 4) v[1].x = v[0].x;                             // a vertical one
      if (kind == 5) v[2] = v[1];                                 // no area
      if (kind == 6 && random() % 2) v[1].x = NAN;                // no position
      if (kind == 6 && random() % 2) v[2].y = 5e6f;               // beyond the guard band
      if (kind == 7) v[2].x = v[0].x + (v[1].x - v[0].x) * 0.5f;  // a sliver, maybe
      is_small[i] = kind >= 2 && kind <= 5;
    }
    TriangleCorners corners;
    for (int i = 0; i < count; i++) {
      for (int k = 0; k < 3; k++) corners.Set(i, k, vertices[i][k]);
    }
    SetupBatch batch;
    SetupTriangles(corners, count, int(640 * scale), int(480 * scale), scale, scale, planes,
                   &batch);
    for (int i = 0; i < count; i++) {
      TriangleSetup want, got;
      std::memset(static_cast<void*>(&want), 0x5A, sizeof want);  // padding alike
      std::memset(static_cast<void*>(&got), 0x5A, sizeof got);
      const GrVertex* v = vertices[i];
      const bool drawn = SetupTriangle(v[0], v[1], v[2], int(640 * scale), int(480 * scale), scale,
                                       scale, want, planes);
      ASSERT_EQ(batch.ok[i], drawn) << "round " << round << " triangle " << i;
      if (!drawn) continue;
      batch.Write(i, got);
      ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0) << "round " << round << " triangle " << i;
      if (!batch.alone[i]) {  // the steps along a row made with them, as the span's
        for (int c = 0; c < 4; c++)
          ASSERT_EQ(batch.color_steps[c][i], ToFixed(want.plane[kPlaneR + c].dx)) << round;
        ASSERT_EQ(batch.z_steps[i], ToFixedDepth(want.plane[kPlaneZ].dx)) << round;
        const float q = ToFloat(want.plane[kPlaneQ].dx);
        ASSERT_EQ(std::memcmp(&batch.q_steps[i], &q, sizeof q), 0) << round;
      }
      small += is_small[i];
      in_lanes += is_small[i] && !batch.alone[i];
    }
  }
  EXPECT_GT(small, 1000);
  if (HWY_HAVE_FLOAT64) {
    EXPECT_EQ(in_lanes, small) << "small triangles set up alone";
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, SetupLanesOnTarget,
                         testing::ValuesIn(hwy::SupportedAndGeneratedTargets()),
                         [](const testing::TestParamInfo<int64_t>& info) {
                           return std::string(hwy::TargetName(info.param));
                         });

}  // namespace
}  // namespace softboard
