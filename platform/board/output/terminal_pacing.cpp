#include "output/terminal_pacing.h"

#include <algorithm>
#include <cstdint>

namespace softboard {
namespace {

PaceClock::duration Seconds(double s) {
  return std::chrono::duration_cast<PaceClock::duration>(std::chrono::duration<double>(s));
}

// Too short a wait to tell a rate from.
constexpr double kShortestHold = 0.002;

}  // namespace

void WriteRecord::Add(const WriteRecord& other) {
  if (held_bytes == 0) before_held += other.before_held;
  bytes += other.bytes;
  held_bytes += other.held_bytes;
  held_seconds += other.held_seconds;
}

void LearnLink(LinkPace& pace, const WriteRecord& written, PaceClock::time_point start,
               PaceClock::time_point end) {
  if (written.held_bytes > 0 && written.held_seconds >= kShortestHold) {
    // Held up: the link's buffers were full, and took bytes at its own pace.
    const double seen = double(written.held_bytes) / written.held_seconds;
    pace.rate = pace.rate > 0 ? (pace.rate + seen) / 2 : seen;
    // What went at once into a link believed empty is what it holds.
    if (start >= pace.drained && written.before_held > 0)
      pace.buffered = double(written.before_held);
    pace.drained = end + Seconds(pace.buffered / pace.rate);
    return;
  }
  if (pace.rate <= 0) {
    pace.drained = end;
    return;
  }
  pace.drained = std::max(pace.drained, start) + Seconds(double(written.bytes) / pace.rate);
  // It took, without holding anything up, well more than it could hold at
  // the pace believed: it is faster than that.
  const double queued = std::chrono::duration<double>(pace.drained - end).count() * pace.rate;
  if (pace.buffered > 0 && queued > 2 * pace.buffered) {
    pace.rate *= 1.5;
    pace.drained = end + Seconds(pace.buffered / pace.rate);
  }
}

PaceClock::time_point NextFrameAt(const LinkPace& pace, PaceClock::time_point taken,
                                  double cpu_seconds) {
  PaceClock::time_point next = taken + Seconds(1.0 / std::max(1, pace.fps));
  next = std::max(next, taken + Seconds(std::max(0.0, cpu_seconds) / kSendingShare));
  return std::max(next - kSwapSlack, LinkFreeAt(pace));
}

PaceClock::time_point LinkFreeAt(const LinkPace& pace) {
  return pace.rate > 0 ? pace.drained - kEncodeLead : PaceClock::time_point{};
}

size_t FrameBudget(const LinkPace& pace) {
  if (pace.rate <= 0) return SIZE_MAX;
  return size_t(pace.rate * std::chrono::duration<double>(kFrameLinkTime).count());
}

QualityLadder MakeLadder(std::vector<double> guess, int floor) {
  QualityLadder ladder;
  ladder.per_pixel.assign(guess.size(), 0);
  ladder.guess = std::move(guess);
  ladder.floor = std::clamp(floor, 0, int(ladder.guess.size()) - 1);
  return ladder;
}

int ChooseQuality(const QualityLadder& ladder, size_t pixels, size_t budget) {
  const int count = int(ladder.guess.size());
  for (int q = ladder.floor; q < count; q++) {
    // Learnt, or the guess scaled by the nearest quality learnt.
    double per_pixel = ladder.per_pixel[size_t(q)];
    for (int d = 1; per_pixel <= 0 && d < count; d++) {
      for (int k : {q - d, q + d}) {
        if (per_pixel <= 0 && k >= 0 && k < count && ladder.per_pixel[size_t(k)] > 0)
          per_pixel =
              ladder.per_pixel[size_t(k)] * ladder.guess[size_t(q)] / ladder.guess[size_t(k)];
      }
    }
    if (per_pixel <= 0) per_pixel = ladder.guess[size_t(q)];
    if (per_pixel * double(pixels) <= double(budget)) return q;
  }
  return count - 1;
}

void LearnQuality(QualityLadder& ladder, int quality, size_t pixels, size_t bytes) {
  if (quality < 0 || quality >= int(ladder.per_pixel.size()) || pixels == 0) return;
  const double seen = double(bytes) / double(pixels);
  double& known = ladder.per_pixel[size_t(quality)];
  known = known > 0 ? (known + seen) / 2 : seen;
}

}  // namespace softboard
