// Runs at the edges of what the settings and the machine allow: thread counts
// past the cores, and memory that runs out. The run keeps its pace, or fails
// the way the demo says it fails; it never aborts.
#include <gtest/gtest.h>

#include <filesystem>

#include "demo_run.h"

namespace e2e {
namespace {

class Limits : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir();
    std::filesystem::copy_file(DEFAULT_TEXTURE, dir_ + "/tex.3df");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  int Swaps() {
    int n = 0;
    for (const std::string& line : ReadLines(dir_ + "/trace.txt"))
      n += line.starts_with("grBufferSwap(");
    return n;
  }

  std::string dir_;
};

// The same two-second paced run at 2 threads and at 256, compared with each
// other in one test rather than with a clock: 256 threads (past the cores of
// any machine this runs on) make as many swaps for about the same CPU time.
TEST_F(Limits, ThreadsPastTheCoresKeepThePaceAndCostNoMore) {
  struct Pace {
    int swaps;
    double cpu;
  };
  const auto paced = [&](const char* threads) {
    const ShellRun run = RunShell(dir_, "(printf ' '; sleep 2; printf '\\033') | " + Demo(),
                                  {{"SOFTBOARD_DISPLAY", "headless"},
                                   {"SOFTBOARD_TRACE", "trace.txt"},
                                   {"SOFTBOARD_THREADS", threads}});
    EXPECT_EQ(run.status, 0) << threads;
    return Pace{Swaps(), run.cpu_seconds};
  };
  const Pace two = paced("2");
  const Pace many = paced("256");
  EXPECT_GE(many.swaps * 4, two.swaps * 3)
      << many.swaps << " swaps with 256 threads, " << two.swaps << " with 2";
  EXPECT_LE(many.cpu, 2 * two.cpu + 0.3)
      << many.cpu << " s of CPU with 256 threads, " << two.cpu << " with 2";
}

}  // namespace
}  // namespace e2e
