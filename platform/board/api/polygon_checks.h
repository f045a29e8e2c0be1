// What every polygon call checks before it reads the caller's lists: the
// board cannot know how long they are, so it bounds what it reads.
#pragma once

#include <string>

namespace softboard {

// A polygon larger than this is refused: its lists are not ours to trust.
constexpr int kMaxPolygonVertices = 1024;
// Vertex indices at or above this are refused for the same reason.
constexpr int kMaxVertexIndex = 1 << 20;

// Why a list of n indices (at most kMaxPolygonVertices) is refused; empty
// when it is not.
inline std::string CheckIndices(int n, const int* ilist) {
  for (int i = 0; i < n; i++) {
    if (ilist[i] < 0 || ilist[i] >= kMaxVertexIndex)
      return "vertex index " + std::to_string(ilist[i]) + " out of range (0 to " +
             std::to_string(kMaxVertexIndex - 1) + ")";
  }
  return "";
}

}  // namespace softboard
