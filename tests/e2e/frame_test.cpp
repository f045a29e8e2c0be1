// The demo's frames, read back from the board's screenshot and checked against
// independent arithmetic.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "demo_run.h"
#include "demo_texts.h"
#include "screen_reference.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

const Color kRed{255, 0, 0};

class Frame : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir();
    std::filesystem::copy_file(DEFAULT_TEXTURE, dir_ + "/tex.3df");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Runs the demo headless, types `keys` in the loop (one is handled a frame),
  // quits with Esc and loads the last frame shown.
  Screenshot RunAndShoot(const std::string& keys, const std::string& wait_for) {
    const std::string trace = dir_ + "/trace.txt";
    const std::string shot = dir_ + "/shot.png";
    DemoRun run({dir_,
                 {{"SOFTBOARD_DISPLAY", "headless"},
                  {"SOFTBOARD_TRACE", trace},
                  {"SOFTBOARD_SCREENSHOT", shot}},
                 {}});
    EXPECT_TRUE(run.WaitForOutput("continue", 10s));
    run.Type(" ");
    run.Type(keys);
    EXPECT_TRUE(WaitForFileText(trace, wait_for, 20s)) << wait_for;
    run.Type("\033");
    EXPECT_EQ(run.Wait(10s), 0);
    Screenshot screenshot;
    EXPECT_TRUE(screenshot.Load(shot));
    EXPECT_EQ(screenshot.width, 640);
    EXPECT_EQ(screenshot.height, 480);
    return screenshot;
  }

  std::string dir_;
};

// Pixels inside the triangle near each corner and around the centroid.
const int kProbes[][2] = {{102, 101}, {497, 101}, {498, 396}, {366, 200}, {300, 150}, {450, 300}};

void ExpectShaded(const Screenshot& shot, double dx, double dy, double tolerance) {
  for (const auto& p : kProbes) {
    const int i = p[0] + int(dx), j = p[1] + int(dy);
    const Color want = ShadedAt(i, j, dx, dy);
    const Color got = shot.At(i, j);
    EXPECT_LE(MaxDifference(want, got), tolerance)
        << "pixel (" << i << ", " << j << "): want (" << want.r << ", " << want.g << ", " << want.b
        << ") got (" << got.r << ", " << got.g << ", " << got.b << ")";
  }
}

TEST_F(Frame, FullOpacityShowsTheCornerColoursOnTheTexturedTriangle) {
  const Screenshot shot = RunAndShoot(std::string(127, 'o'), "0x000000FF");
  ASSERT_EQ(shot.pixels.size(), 640u * 480u);
  EXPECT_EQ(MaxDifference(shot.At(5, 5), kRed), 0);
  EXPECT_EQ(MaxDifference(shot.At(639, 479), kRed), 0);
  EXPECT_EQ(MaxDifference(shot.At(101, 399), kRed), 0) << "below the diagonal is background";
  ExpectShaded(shot, 0, 0, 2);
}

TEST_F(Frame, KeysMoveTheTriangleTwoPixelsAndUpperCaseDoesNothing) {
  // 5 right, 3 down, and the upper-case keys, which must change nothing.
  const Screenshot shot = RunAndShoot(std::string(127, 'o') + "hhhhhbbbHBFGOP", "y=106");
  ASSERT_EQ(shot.pixels.size(), 640u * 480u);
  ExpectShaded(shot, 10, 6, 2);
}

TEST_F(Frame, HalfOpacityMixesHalfAndHalfOverTheBackground) {
  // Moved 100 pixels down, the shaded triangle's lower part lies over the red
  // background: 128/255 of it and 127/255 of red.
  const Screenshot shot = RunAndShoot(std::string(50, 'b'), "y=200");
  ASSERT_EQ(shot.pixels.size(), 640u * 480u);
  for (const auto& p : {std::array<int, 2>{480, 450}, {420, 430}, {470, 470}}) {
    const Color src = ShadedAt(p[0], p[1], 0, 100);
    const double a = 128.0 / 255.0;
    const Color want{src.r * a + 255 * (1 - a), src.g * a, src.b * a};
    const Color got = shot.At(p[0], p[1]);
    EXPECT_LE(MaxDifference(want, got), 2) << "pixel (" << p[0] << ", " << p[1] << "): got ("
                                           << got.r << ", " << got.g << ", " << got.b << ")";
  }
}

TEST_F(Frame, ZeroOpacityIsInvisible) {
  const Screenshot shot = RunAndShoot(std::string(128, 'p') + std::string(50, 'b'), "y=200");
  ASSERT_EQ(shot.pixels.size(), 640u * 480u);
  for (const auto& p : {std::array<int, 2>{480, 450}, {420, 430}, {470, 470}})
    EXPECT_EQ(MaxDifference(shot.At(p[0], p[1]), kRed), 0) << p[0] << ", " << p[1];
}

// A scripted headless run (its keys end, so the run ends): the last frame at
// a scale, drawn by some number of threads.
Screenshot Scripted(const std::string& dir, const std::string& settings) {
  const std::string shot = dir + "/scripted.png";
  std::filesystem::remove(shot);
  const std::string command = "cd '" + dir +
                              "' && printf ' hhhhbbbpppp' | SOFTBOARD_DISPLAY=headless " +
                              "SOFTBOARD_VSYNC=0 SOFTBOARD_SCREENSHOT=scripted.png " + settings +
                              " timeout 30 '" TRANSDEMO_PATH "' > /dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  Screenshot s;
  EXPECT_TRUE(s.Load(shot)) << settings;
  return s;
}

TEST_F(Frame, EveryThreadCountShowsTheSamePixels) {
  const Screenshot one = Scripted(dir_, "SOFTBOARD_THREADS=1 SOFTBOARD_SCALE=1.5");
  ASSERT_EQ(one.width, 960);
  ASSERT_EQ(one.height, 720);
  for (const char* threads : {"2", "3", "7"}) {
    const Screenshot many =
        Scripted(dir_, std::string("SOFTBOARD_THREADS=") + threads + " SOFTBOARD_SCALE=1.5");
    EXPECT_TRUE(many.pixels == one.pixels) << threads << " threads";
  }
  const Screenshot smooth =
      Scripted(dir_, "SOFTBOARD_THREADS=2 SOFTBOARD_SCALE=1.5 SOFTBOARD_SSAA=2");
  EXPECT_EQ(smooth.width, 960) << "a supersampled screenshot is the frame as shown";
  EXPECT_EQ(smooth.height, 720);
  const Screenshot smooth_one =
      Scripted(dir_, "SOFTBOARD_THREADS=1 SOFTBOARD_SCALE=1.5 SOFTBOARD_SSAA=2");
  EXPECT_TRUE(smooth.pixels == smooth_one.pixels) << "supersampled, 1 and 2 threads";
  const Screenshot period =
      Scripted(dir_, "SOFTBOARD_THREADS=1 SOFTBOARD_SCALE=3 SOFTBOARD_COLOR=16");
  EXPECT_EQ(period.width, 1920);
  EXPECT_TRUE(period.pixels ==
              Scripted(dir_, "SOFTBOARD_THREADS=2 SOFTBOARD_SCALE=3 SOFTBOARD_COLOR=16").pixels)
      << "16-bit colour, 1 and 2 threads";
}

// The 16-bit frame is the 8-bit one dithered: each channel's level is
// floor(c * L / 255 + t / 16) for the 4x4 matrix's t at the scene pixel, exactly
// where the 8-bit frame writes a pixel once, and within a level under the
// translucent triangle, which blends over 5-6-5 pixels rather than 8-bit ones.
TEST_F(Frame, SixteenBitFramesAreTheEightBitOnesDithered) {
  constexpr int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  const double tx[3] = {108, 508, 508}, ty[3] = {106, 106, 406};  // moved 4 right, 3 down
  for (int scale : {1, 3}) {
    const std::string size = " SOFTBOARD_SCALE=" + std::to_string(scale);
    const Screenshot full = Scripted(dir_, "SOFTBOARD_COLOR=32" + size);
    const Screenshot period = Scripted(dir_, "SOFTBOARD_COLOR=16" + size);
    ASSERT_EQ(period.width, 640 * scale);
    ASSERT_EQ(period.pixels.size(), full.pixels.size());
    int blended = 0;
    for (int y = 0; y < period.height; y++) {
      for (int x = 0; x < period.width; x++) {
        const int sx = x / scale, sy = y / scale, t = kBayer[sy & 3][sx & 3];
        const auto w = Barycentric(sx + 0.5, sy + 0.5, tx, ty);
        const bool inside = w[0] > 0.01 && w[1] > 0.01 && w[2] > 0.01;
        const bool edge = !inside && w[0] > -0.01 && w[1] > -0.01 && w[2] > -0.01;
        if (edge) continue;
        blended += inside;
        const uint32_t want = full.pixels[size_t(y) * full.width + x];
        const uint32_t got = period.pixels[size_t(y) * period.width + x];
        for (const auto& [shift, bits] : {std::pair{16, 5}, std::pair{8, 6}, std::pair{0, 5}}) {
          const int c = int(want >> shift & 255), levels = (1 << bits) - 1;
          const int level = (16 * c * levels + 255 * t) / (16 * 255);
          const int v = int(got >> shift & 255);
          ASSERT_EQ(v, (v >> (8 - bits)) << (8 - bits) | v >> bits) << "widened by repeating bits";
          ASSERT_LE(std::abs((v >> (8 - bits)) - level), inside ? 1 : 0)
              << "scale " << scale << ", pixel (" << x << ", " << y << "), shift " << shift;
        }
      }
    }
    EXPECT_GT(blended, 50000 * scale * scale);
  }
}

}  // namespace
}  // namespace e2e
