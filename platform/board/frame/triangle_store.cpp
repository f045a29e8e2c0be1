#include "frame/triangle_store.h"

#include <algorithm>
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

// Slots are prepared in turn, each before the next is asked for.
void TriangleStore::NoteTextures() {
  if (used_ == 0) return;
  const PreparedTriangle& last = Slot(used_ - 1);
  if (last.texture || last.texture1) textured_end_ = std::max(textured_end_, used_);
}

PreparedTriangle* TriangleStore::Add() {
  NoteTextures();
  if (used_ == chunks_.size() * kChunk)
    chunks_.push_back(std::make_unique<PreparedTriangle[]>(kChunk));
  PreparedTriangle* slot = &Slot(used_);
  used_++;
  const size_t ahead = used_ + 1;  // the one after the next
  if (ahead < chunks_.size() * kChunk) PrefetchForWrite(&Slot(ahead));
  return slot;
}

void TriangleStore::RemoveLast() {
  if (used_ == 0) return;
  used_--;
  PreparedTriangle& t = Slot(used_);
  t.texture.reset();
  t.texture1.reset();
  t.shared.reset();
}

void TriangleStore::Clear() {
  NoteTextures();
  constexpr size_t kAhead = 8;  // each slot's first line, asked for ahead
  for (size_t i = 0; i < textured_end_; i++) {
    if (i + kAhead < textured_end_) __builtin_prefetch(&Slot(i + kAhead), 1);
    PreparedTriangle& t = Slot(i);
    t.texture.reset();
    t.texture1.reset();
  }
  textured_end_ = 0;
  used_ = 0;
}

}  // namespace softboard
