#include "frame/triangle_store.h"

namespace softboard {

PreparedTriangle* TriangleStore::Add() {
  if (used_ == chunks_.size() * kChunk)
    chunks_.push_back(std::make_unique<PreparedTriangle[]>(kChunk));
  PreparedTriangle* slot = &chunks_[used_ / kChunk][used_ % kChunk];
  used_++;
  return slot;
}

void TriangleStore::RemoveLast() {
  if (used_ == 0) return;
  used_--;
  PreparedTriangle& t = chunks_[used_ / kChunk][used_ % kChunk];
  t.texture.reset();
  t.texture1.reset();
  t.shared.reset();
}

void TriangleStore::Clear() {
  for (size_t i = 0; i < used_; i++) {
    PreparedTriangle& t = chunks_[i / kChunk][i % kChunk];
    t.texture.reset();
    t.texture1.reset();
    t.shared.reset();
  }
  used_ = 0;
}

}  // namespace softboard
