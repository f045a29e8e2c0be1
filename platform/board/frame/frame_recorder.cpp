#include "frame/frame_recorder.h"

#include <algorithm>
#include <utility>

namespace softboard {

// Past this many commands a frame unlike the last is drawn whole: comparing
// band by band would cost more than it saves.
constexpr size_t kMaxComparedCommands = 256;

void FrameRecorder::Record(BandCommand command) {
  commands_.push_back(std::move(command));
  Recorded();
}

// The last command is the frame's: compared with the last frame's, counted.
void FrameRecorder::Recorded() {
  const size_t i = commands_.size() - 1;
  const BandCommand& command = commands_[i];
  if (!diverged_ && (!have_last_ || i >= last_.size() || !SameCommand(command, last_[i])))
    diverged_ = true;
  rows_ = std::max(rows_, RowEnd(command));
  drawer_.Note(command);
  // Through frames that repeat the last, no worker wakes.
  if (diverged_) drawer_.Expect(rows_);
}

PreparedTriangle* FrameRecorder::BeginTriangle(const Destination& to) {
  PreparedTriangle* triangle = triangles_.Add();
  try {
    commands_.emplace_back(TriangleCommand{to, triangle});
  } catch (...) {
    triangles_.RemoveLast();
    throw;
  }
  return triangle;
}

void FrameRecorder::EndTriangle(bool keep) {
  if (keep) return Recorded();
  commands_.pop_back();
  triangles_.RemoveLast();
}

void FrameRecorder::RecordClear(const Destination& to, uint32_t pixel) {
  Record(ClearCommand{to, pixel});
}

void FrameRecorder::RecordClear(const ClearCommand& clear) {
  Record(clear);
}

void FrameRecorder::RecordTriangle(const Destination& to, const PreparedTriangle& triangle) {
  *BeginTriangle(to) = triangle;
  EndTriangle(true);
}

void FrameRecorder::RecordAverageDown(const Destination& from, int ssaa, const PixelRows& to) {
  Record(AverageDownCommand{from, ssaa, to});
}

// The band's commands, those that touch its rows, are the last frame's, in
// order, and the first is a clear of all they read (colour, alpha, and depth
// if any tests it): what was drawn before it cannot show. The depth buffer,
// kept across frames, then holds what drawing the band again would write.
bool FrameRecorder::BandUnchanged(int top, int bottom) const {
  const auto touching = [&](const BandCommand& c) { return Touches(c, top, bottom); };
  const auto first_command = std::find_if(commands_.begin(), commands_.end(), touching);
  if (first_command == commands_.end() || !ClearsAll(*first_command, top, bottom, false))
    return false;
  if (!ClearsAll(*first_command, top, bottom, true) &&
      std::any_of(first_command, commands_.end(),
                  [&](const BandCommand& c) { return touching(c) && ReadsDepth(c); }))
    return false;
  if (!diverged_) return true;  // the same commands
  size_t i = 0, j = 0;
  bool first = true;
  for (;;) {
    while (i < commands_.size() && !Touches(commands_[i], top, bottom)) i++;
    while (j < last_.size() && !Touches(last_[j], top, bottom)) j++;
    if (i == commands_.size() || j == last_.size())
      return i == commands_.size() && j == last_.size() && !first;
    if (first && !IsClear(commands_[i])) return false;
    if (!SameCommand(commands_[i], last_[j])) return false;
    first = false;
    i++, j++;
  }
}

FrameDamage FrameRecorder::MarkUnchangedBands() {
  FrameDamage damage;
  unchanged_.clear();
  if (!have_last_ || (diverged_ && commands_.size() > kMaxComparedCommands)) return damage;
  damage.all = false;
  const int band_rows = drawer_.band_rows();
  const int bands = (rows_ + band_rows - 1) / band_rows;
  unchanged_.resize(size_t(bands));
  for (int b = 0; b < bands; b++) {
    const int top = b * band_rows, bottom = std::min(top + band_rows, rows_);
    unchanged_[size_t(b)] = BandUnchanged(top, bottom);
    if (unchanged_[size_t(b)]) continue;
    if (!damage.rows.empty() && damage.rows.back().second == top)
      damage.rows.back().second = bottom;
    else
      damage.rows.push_back({top, bottom});
  }
  return damage;
}

FrameDamage FrameRecorder::FlushFrame(bool* complete) {
  if (commands_.size() != last_.size()) diverged_ = true;
  FrameDamage damage = MarkUnchangedBands();
  const bool drawn = damage.None() || drawer_.Draw(commands_, rows_, unchanged_);
  if (complete) *complete = drawn;
  unchanged_.clear();
  if (!drawn) {  // what the buffer holds is not what the commands draw
    Forget();
    return {};
  }
  last_.swap(commands_);
  std::swap(last_triangles_, triangles_);
  have_last_ = true;
  commands_.clear();
  triangles_.Clear();
  diverged_ = false;
  rows_ = 0;
  drawer_.EndFrame();
  return damage;
}

bool FrameRecorder::Flush() {
  unchanged_.clear();
  const bool drawn = drawer_.Draw(commands_, rows_, unchanged_);
  Forget();
  return drawn;
}

void FrameRecorder::Forget() {
  commands_.clear();
  last_.clear();
  triangles_.Clear();
  last_triangles_.Clear();
  have_last_ = false;
  diverged_ = false;
  rows_ = 0;
  drawer_.EndFrame();
}

}  // namespace softboard
