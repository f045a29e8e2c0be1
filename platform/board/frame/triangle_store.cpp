#include "frame/triangle_store.h"

#include <cstddef>

namespace softboard {
namespace {

// Asks for the lines a triangle's preparing writes, ahead of it: a frame's
// triangles overflow the cache, and each store to a line not yet there
// waits, and makes every store after it wait. The rest of the slot (a
// line's spans, the units' steps, its own inputs) is written only where a
// shape or a state needs it.
void PrefetchForWrite(const PreparedTriangle* t) {
  const char* at = reinterpret_cast<const char*>(t);
  constexpr size_t kEnd = offsetof(PreparedTriangle, line);
  for (size_t i = 0; i < kEnd; i += 64) __builtin_prefetch(at + i, 1);
}

}  // namespace

PreparedTriangle* TriangleStore::Add() {
  if (used_ == chunks_.size() * kChunk)
    chunks_.push_back(std::make_unique<PreparedTriangle[]>(kChunk));
  PreparedTriangle* slot = &chunks_[used_ / kChunk][used_ % kChunk];
  used_++;
  const size_t ahead = used_ + 1;  // the one after the next
  if (ahead < chunks_.size() * kChunk) PrefetchForWrite(&chunks_[ahead / kChunk][ahead % kChunk]);
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
  constexpr size_t kAhead = 8;  // each slot's first line, asked for ahead
  for (size_t i = 0; i < used_; i++) {
    if (i + kAhead < used_)
      __builtin_prefetch(&chunks_[(i + kAhead) / kChunk][(i + kAhead) % kChunk], 1);
    PreparedTriangle& t = chunks_[i / kChunk][i % kChunk];
    t.texture.reset();
    t.texture1.reset();
    t.shared.reset();
  }
  used_ = 0;
}

}  // namespace softboard
