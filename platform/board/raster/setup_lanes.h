// Triangle setup for several triangles at once, one triangle a vector lane.
#pragma once

#include <cstdint>

#include "raster/setup.h"

namespace softboard {

// Triangles set up together at most.
constexpr int kSetupBatch = 8;

// The setups of up to kSetupBatch triangles, worked out together and each
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
  const GrVertex* const (*corners)[3] = nullptr;
  int width = 0, height = 0;
  double sx = 1, sy = 1;
  uint32_t planes = 0;
  alignas(64) double values[kValues][kRoom];
  alignas(64) double plane_values[kPlanes][3][kRoom];

  // Triangle i's setup, where ok[i].
  void Write(int i, TriangleSetup& out) const;
};

// Sets up `count` triangles (at most kSetupBatch) as SetupTriangle does each.
// `corners` must outlast `batch`'s Write calls.
void SetupTriangles(const GrVertex* const (*corners)[3], int count, int width, int height,
                    double sx, double sy, uint32_t planes, SetupBatch* batch);

}  // namespace softboard
