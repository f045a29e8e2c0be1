// An example program against the reference board: the real program runs
// headless for a number of frames and saves its last one; the same source,
// built against the reference's operations (EXAMPLE_MAIN), draws the same
// frames there. Every pixel the reference is sure of must match: coverage
// exactly, colours within 1.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "png_file.h"
#include "reference/reference_grlib.h"

extern "C" int example_main(int argc, char** argv);

namespace {

// The example's variants: a second argument it takes (EXAMPLE_VARIANTS, say
// its modes), or none.
std::vector<std::string> Variants() {
  std::vector<std::string> out;
  std::string all = EXAMPLE_VARIANTS, word;
  for (char c : all + " ") {
    if (c != ' ') {
      word += c;
    } else if (!word.empty()) {
      out.push_back(word);
      word.clear();
    }
  }
  if (out.empty()) out.push_back("");
  return out;
}

// Runs the example headless for `frames` frames; its last frame's pixels.
std::vector<uint32_t> RunExample(int frames, const std::string& extra_env = "",
                                 const std::string& variant = "") {
  const std::string shot = ::testing::TempDir() + "example_" + std::to_string(getpid()) + "_" +
                           std::to_string(frames) + ".png";
  const std::string command =
      "SOFTBOARD_DISPLAY=headless SOFTBOARD_VSYNC=0 SOFTBOARD_SCREENSHOT='" + shot + "' " +
      extra_env + " '" EXAMPLE_PATH "' " + std::to_string(frames) + " " + variant + " </dev/null";
  const int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
  std::vector<uint32_t> pixels;
  int width = 0, height = 0;
  std::string error;
  EXPECT_TRUE(texfile::ReadPng(shot, &pixels, &width, &height, &error)) << error;
  std::remove(shot.c_str());
  EXPECT_EQ(width, 640);
  EXPECT_EQ(height, 480);
  return pixels;
}

// The same frames on the reference board.
const reference::Board& ReferenceFrames(int frames, std::string variant = "") {
  reference::ResetStandIn();
  std::string count = std::to_string(frames);
  char name[] = "example";
  char* argv[] = {name, count.data(), variant.empty() ? nullptr : variant.data(), nullptr};
  EXPECT_EQ(example_main(variant.empty() ? 2 : 3, argv), 0);
  EXPECT_EQ(reference::StandInFrames(), frames);
  return reference::StandInBoard();
}

class Example : public testing::TestWithParam<int> {};

TEST_P(Example, FramesAreWhatTheRulesGive) {
  const int frames = GetParam();
  for (const std::string& variant : Variants()) {
    const std::vector<uint32_t> got = RunExample(frames, "", variant);
    ASSERT_EQ(got.size(), size_t(640 * 480));
    const reference::Board& want = ReferenceFrames(frames, variant);
    reference::Board shown = want;
    shown.color = reference::StandInShown();
    std::vector<std::string> report;
    const int differ = reference::CountDifferences(got, shown, EXAMPLE_TOLERANCE, &report);
    int uncertain = 0;
    for (uint8_t u : shown.uncertain) uncertain += u;
    EXPECT_EQ(differ, 0) << EXAMPLE_NAME << " " << variant << " frame " << frames << " ("
                         << uncertain << " pixels near a tie not compared)";
    for (const std::string& line : report) ADD_FAILURE() << line;
    EXPECT_LT(uncertain, 640 * 480 / 100);
  }
}

INSTANTIATE_TEST_SUITE_P(Frames, Example, testing::Values(1, 19));

// The scale, supersampling, threads and colour depth change the picture's
// sharpness, not what it shows: the same frame at scale 2 with two threads,
// averaged down, is the frame at scale 1 nearly everywhere.
TEST(ExampleSettings, OtherSettingsDrawTheSameScene) {
  const std::vector<uint32_t> plain = RunExample(5);
  const std::vector<uint32_t> other = RunExample(5, "SOFTBOARD_SSAA=2 SOFTBOARD_THREADS=2");
  ASSERT_EQ(plain.size(), other.size());
  int far = 0;
  for (size_t i = 0; i < plain.size(); i++) {
    for (int shift = 0; shift < 24; shift += 8) {
      if (std::abs(int(plain[i] >> shift & 255) - int(other[i] >> shift & 255)) > 48) {
        far++;
        break;
      }
    }
  }
  // Edges differ (they are smoothed); the inside of every shape does not.
  EXPECT_LT(far, 640 * 480 / 40) << EXAMPLE_NAME;
}

}  // namespace
