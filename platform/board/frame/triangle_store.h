// The triangles a frame records, prepared in place. Slots are kept from frame
// to frame, so a frame of thousands of triangles neither allocates nor clears
// them: a slot holds whatever its last triangle left until it is prepared
// again, which sets everything a triangle draws with.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "raster/triangle.h"

namespace softboard {

class TriangleStore {
 public:
  // A slot for the next triangle; it stays where it is until Clear.
  PreparedTriangle* Add();
  void RemoveLast();
  // Every slot free again, letting go of the textures they kept. The state a
  // slot shares is let go when the slot is prepared again: a mesh shares one
  // frame after frame, and each slot's count need not move.
  void Clear();
  size_t size() const { return used_; }

 private:
  static constexpr size_t kChunk = 256;
  PreparedTriangle& Slot(size_t i) { return chunks_[i / kChunk][i % kChunk]; }
  // Notes whether the last slot, prepared by now, keeps a texture.
  void NoteTextures();
  std::vector<std::unique_ptr<PreparedTriangle[]>> chunks_;
  size_t used_ = 0;
  size_t textured_end_ = 0;  // no slot from here on keeps a texture
};

}  // namespace softboard
