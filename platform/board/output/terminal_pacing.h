// When the terminal display takes its next frame, and how many bytes a frame
// in motion may take: learnt from how fast the terminal takes what is written
// and from what encoding costs. Plain values and functions: the writer's
// thread keeps them, and tests drive them with timings of their own.
#pragma once

#include <chrono>
#include <cstddef>
#include <vector>

namespace softboard {

using PaceClock = std::chrono::steady_clock;

// A frame in motion should be through the link in this time: with a swap to
// wait for and the frame before it still going out, the frame that shows the
// last key then arrives within 100 ms.
constexpr std::chrono::milliseconds kFrameLinkTime{40};
// Sending frames in motion takes at most this share of a core: after a frame
// whose encoding and writing took t of the process's time, the next waits
// t / share. So does the next full-quality frame after one. (Drawing the
// frames, at every swap, is the rest of what the demo costs.)
constexpr double kSendingShare = 0.12;
// The picture must be still this long before its full-quality frame is sent.
constexpr std::chrono::milliseconds kSettleAfter{150};
// A frame is taken this long before the link is expected to be free, so that
// it is encoded by then.
constexpr std::chrono::milliseconds kEncodeLead{5};
// Frames are taken at swaps: a frame due a little after one is taken at it,
// not a whole swap later (30 a second from 60 swaps is every other swap).
constexpr std::chrono::milliseconds kSwapSlack{4};

// What writing showed of the link.
struct WriteRecord {
  size_t bytes = 0;         // written in all
  size_t before_held = 0;   // written at once, before the terminal first took no more
  size_t held_bytes = 0;    // written after that, as fast as the terminal took them
  double held_seconds = 0;  // the time those took
  void Add(const WriteRecord& other);
};

struct LinkPace {
  int fps = 30;                     // the ceiling on frames a second
  double rate = 0;                  // bytes a second the link carries; 0: it never held anything up
  double buffered = 0;              // bytes it holds before it holds the writer up; 0: not known
  PaceClock::time_point drained{};  // when all that was written should be through it
};

// Learns from writing that began at `start` and ended at `end`.
void LearnLink(LinkPace& pace, const WriteRecord& written, PaceClock::time_point start,
               PaceClock::time_point end);
// When the next frame may be taken, after one taken at `taken` whose
// encoding and writing took `cpu_seconds` of the process's time: no sooner
// than the ceiling allows, the share of a core, and the link.
PaceClock::time_point NextFrameAt(const LinkPace& pace, PaceClock::time_point taken,
                                  double cpu_seconds);
// When more may be written without queueing behind what is still going out.
PaceClock::time_point LinkFreeAt(const LinkPace& pace);
// The bytes a frame in motion may take; SIZE_MAX where the link never held
// anything up.
size_t FrameBudget(const LinkPace& pace);

// Qualities, from the full picture (0) to the coarsest, and what each costs.
struct QualityLadder {
  std::vector<double> guess;      // bytes a picture pixel at each, before any is known
  std::vector<double> per_pixel;  // learnt; 0: not yet
  int floor = 0;                  // the finest a frame in motion takes
};
QualityLadder MakeLadder(std::vector<double> guess, int floor);
// The finest quality from the floor whose bytes for `pixels` are expected
// within `budget`; the coarsest when none is.
int ChooseQuality(const QualityLadder& ladder, size_t pixels, size_t budget);
void LearnQuality(QualityLadder& ladder, int quality, size_t pixels, size_t bytes);

}  // namespace softboard
