// Triangle setup for several triangles at once, one triangle a vector lane.
#pragma once

#include <cstdint>

#include "raster/setup.h"

namespace softboard {

// Triangles set up together at most.
constexpr int kSetupBatch = 8;

// Up to kSetupBatch triangles' corners as setup reads them, each value a row
// of triangles (lanes load them together) for each corner: x, y, then each
// plane's value in PlaneIndex order, as the vertex gave it.
struct TriangleCorners {
  static constexpr int kValues = 2 + kPlanes;
  static constexpr int kRoom = 2 * kSetupBatch;  // a vector read past the last is in it
  alignas(64) float value[kValues][3][kRoom] = {};
  int count = 0;  // triangles held, where a queue of them keeps count

  // Corner k of triangle i.
  void Set(int i, int k, const GrVertex& v) {
    const float values[kValues] = {v.x,
                                   v.y,
                                   v.r,
                                   v.g,
                                   v.b,
                                   v.a,
                                   v.tmuvtx[0].sow,
                                   v.tmuvtx[0].tow,
                                   v.tmuvtx[0].oow,
                                   v.ooz,
                                   v.oow,
                                   v.tmuvtx[1].sow,
                                   v.tmuvtx[1].tow,
                                   v.tmuvtx[1].oow};
    for (int n = 0; n < kValues; n++) value[n][k][i] = values[n];
  }
  // The vertex again (what setup does not read left 0).
  GrVertex Corner(int i, int k) const;
};

// The setups of a TriangleCorners' triangles, worked out together and each
// written out where it is wanted: SetupTriangle's, bit for bit. Worked out in
// vector lanes of doubles, every step exact there while the snapped corners
// lie within 2^24 sixteenths of a pixel (products below 2^50); a triangle
// beyond, and every one where lanes hold no doubles, is set up alone.
struct SetupBatch {
  // Each value a setup takes, a row of lanes (room for a vector past the batch).
  enum Value { kRowBegin, kRowEnd, kColBegin, kColEnd, kEdges, kOriginX = kEdges + 12, kOriginY };
  static constexpr int kValues = kOriginY + 1, kRoom = 2 * kSetupBatch;

  int count = 0;
  bool ok[kSetupBatch] = {};     // as SetupTriangle returns
  bool alone[kSetupBatch] = {};  // set up by SetupTriangle when written
  const TriangleCorners* corners = nullptr;
  int width = 0, height = 0;
  double sx = 1, sy = 1;
  uint32_t planes = 0;
  alignas(64) double values[kValues][kRoom];
  alignas(64) double plane_values[kPlanes][3][kRoom];
  // Each triangle's steps along a row, as RowSteps makes them from its
  // planes: colours' (ToFixed), Z's (ToFixedDepth) and 1/w's (ToFloat).
  alignas(64) uint32_t color_steps[4][kRoom];
  alignas(64) uint32_t z_steps[kRoom];
  alignas(64) float q_steps[kRoom];

  // Triangle i's setup, where ok[i].
  void Write(int i, TriangleSetup& out) const;
};

// Sets up the first `count` triangles of `corners` as SetupTriangle does
// each. `corners` must outlast `batch`'s Write calls, unchanged.
void SetupTriangles(const TriangleCorners& corners, int count, int width, int height, double sx,
                    double sy, uint32_t planes, SetupBatch* batch);

}  // namespace softboard
