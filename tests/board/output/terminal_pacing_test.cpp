#include "output/terminal_pacing.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace softboard {
namespace {

using std::chrono::milliseconds;

const PaceClock::time_point t0 = PaceClock::time_point() + std::chrono::hours(1);

double Seconds(PaceClock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// A link that never held anything up: the ceiling and the share of a core
// decide, and frames may take any size.
TEST(TerminalPacing, AFastLinkLeavesTheCeilingAndTheShareOfACore) {
  LinkPace pace;
  pace.fps = 30;
  LearnLink(pace, {100000, 100000, 0, 0}, t0, t0 + milliseconds(2));
  EXPECT_EQ(pace.rate, 0);
  EXPECT_EQ(FrameBudget(pace), SIZE_MAX);
  // A thirtieth of a second, less a little so as to be taken at the swap.
  EXPECT_NEAR(Seconds(NextFrameAt(pace, t0, 0.001) - t0), 1.0 / 30 - 0.004, 1e-6);
  // 12 ms of the process's time: the next waits 12 / 0.12 = 100 ms.
  EXPECT_NEAR(Seconds(NextFrameAt(pace, t0, 0.012) - t0), 0.1 - 0.004, 1e-6);
}

// Held up: the rate is what the terminal took meanwhile, what went at once is
// what the link holds, and the next frame waits for it to drain.
TEST(TerminalPacing, ASlowLinkIsMeasuredWhileItHoldsTheWriterUp) {
  LinkPace pace;
  // 20 KB at once, then 100 KB in 0.4 s: 250 KB a second.
  LearnLink(pace, {120000, 20000, 100000, 0.4}, t0, t0 + milliseconds(400));
  EXPECT_DOUBLE_EQ(pace.rate, 250000);
  EXPECT_DOUBLE_EQ(pace.buffered, 20000);
  EXPECT_NEAR(Seconds(pace.drained - t0), 0.48, 1e-6) << "the 20 KB still in it";
  EXPECT_EQ(FrameBudget(pace), 10000u) << "40 ms of the link";
  EXPECT_NEAR(Seconds(NextFrameAt(pace, t0, 0.001) - t0), 0.475, 1e-6) << "5 ms ahead of it";

  // A small frame later, written at once: it queues behind nothing.
  const auto later = t0 + milliseconds(1000);
  LearnLink(pace, {5000, 5000, 0, 0}, later, later + milliseconds(1));
  EXPECT_NEAR(Seconds(pace.drained - later), 0.02, 1e-6);
  // One written before the link drained queues behind what is in it.
  LearnLink(pace, {5000, 5000, 0, 0}, later + milliseconds(5), later + milliseconds(6));
  EXPECT_NEAR(Seconds(pace.drained - later), 0.04, 1e-6);
}

// The link took far more than it holds without holding anything up: it is
// faster than believed, and the rate rises.
TEST(TerminalPacing, ALinkThatSpeedsUpIsFoundOut) {
  LinkPace pace;
  pace.rate = 250000;
  pace.buffered = 20000;
  LearnLink(pace, {100000, 100000, 0, 0}, t0, t0 + milliseconds(10));
  EXPECT_GT(pace.rate, 250000);
  EXPECT_LT(Seconds(pace.drained - t0), 0.2);
  // Too short a wait tells no rate.
  LinkPace fresh;
  LearnLink(fresh, {1000, 900, 100, 0.0001}, t0, t0 + milliseconds(1));
  EXPECT_EQ(fresh.rate, 0);
}

TEST(TerminalPacing, WriteRecordsAddUp) {
  WriteRecord a{100, 100, 0, 0}, b{300, 50, 250, 0.5}, c{40, 40, 0, 0};
  a.Add(b);
  a.Add(c);
  EXPECT_EQ(a.bytes, 440u);
  EXPECT_EQ(a.before_held, 150u) << "what went before the first hold only";
  EXPECT_EQ(a.held_bytes, 250u);
  EXPECT_DOUBLE_EQ(a.held_seconds, 0.5);
}

// The finest quality from the floor that is expected within the budget:
// guessed at first, from what one quality cost once one is known.
TEST(TerminalPacing, QualityIsTheFinestThatFitsTheBudget) {
  QualityLadder ladder = MakeLadder({1.0, 0.5, 0.25, 0.1}, 0);
  EXPECT_EQ(ChooseQuality(ladder, 1000, SIZE_MAX), 0);
  EXPECT_EQ(ChooseQuality(ladder, 1000, 1000), 0);
  EXPECT_EQ(ChooseQuality(ladder, 1000, 400), 2);
  EXPECT_EQ(ChooseQuality(ladder, 1000, 10), 3) << "the coarsest when none fits";
  // The full picture turns out to cost a tenth of the guess: the others are
  // expected to as well.
  LearnQuality(ladder, 0, 1000, 100);
  EXPECT_EQ(ChooseQuality(ladder, 1000, 100), 0);
  EXPECT_EQ(ChooseQuality(ladder, 1000, 30), 2);
  LearnQuality(ladder, 2, 1000, 100);  // but that one costs more than thought
  LearnQuality(ladder, 2, 1000, 100);
  EXPECT_EQ(ChooseQuality(ladder, 1000, 30), 3);
  EXPECT_EQ(ChooseQuality(ladder, 0, 0), 0) << "nothing to send";
  QualityLadder floored = MakeLadder({1.0, 0.5}, 1);
  EXPECT_EQ(ChooseQuality(floored, 1000, SIZE_MAX), 1);
}

}  // namespace
}  // namespace softboard
