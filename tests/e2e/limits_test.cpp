// Runs at the edges of what the settings and the machine allow: thread counts
// past the cores, and memory that runs out. The run keeps its pace, or fails
// the way the demo says it fails; it never aborts.
#include <gtest/gtest.h>

#include <filesystem>

#include "demo_run.h"
#include "under_emulator.h"

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
// any machine this runs on) make about as many swaps for about the same CPU
// time. The bars leave room for a loaded machine; the fault they catch cost
// seven times the swaps and eighty times the CPU.
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
  EXPECT_GE(many.swaps * 2, two.swaps)
      << many.swaps << " swaps with 256 threads, " << two.swaps << " with 2";
  EXPECT_LE(many.cpu, 3 * two.cpu + 0.5)
      << many.cpu << " s of CPU with 256 threads, " << two.cpu << " with 2";
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;  // its allocator cannot run under ulimit -v
#else
constexpr bool kSanitized = false;
#endif

// Thread stacks as large as the stack limit (a gigabyte) cannot be mapped
// under a 500 MB address space: the demo draws with the threads it has.
TEST_F(Limits, ThreadsThatCannotStartLeaveFewerThreads) {
  if (kSanitized) GTEST_SKIP() << "ulimit -v under AddressSanitizer";
  if (kUnderEmulator) GTEST_SKIP() << kNotUnderEmulator;
  if (RunShell(dir_, "ulimit -s 1000000").status != 0)
    GTEST_SKIP() << "the stack limit cannot be raised here";
  const ShellRun run =
      RunShell(dir_, "ulimit -s 1000000 && ulimit -v 500000 && printf ' \\033' | " + Demo(),
               {{"SOFTBOARD_DISPLAY", "headless"}, {"SOFTBOARD_THREADS", "64"}});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
}

// Scale 8 with a screenshot under address-space limits from too small to
// open (the demo's E2, status 1) to enough for everything: never an abort,
// and a run that ends normally has its screenshot or says why not.
TEST_F(Limits, MemoryThatRunsOutFailsTheOpenOrTheScreenshotNeverTheProgram) {
  if (kSanitized) GTEST_SKIP() << "ulimit -v under AddressSanitizer";
  if (kUnderEmulator) GTEST_SKIP() << kNotUnderEmulator;
  const ShellRun small = RunShell(dir_, "ulimit -v 100000 && printf ' \\033' | " + Demo(),
                                  {{"SOFTBOARD_DISPLAY", "headless"}, {"SOFTBOARD_SCALE", "8"}});
  EXPECT_EQ(small.status, 1);
  EXPECT_NE(small.out.find("Couldn't set 3D videomode"), std::string::npos) << small.out;
  EXPECT_EQ(small.err, "softboard: cannot open the display: no memory to draw 5120x3840 frames\n");
  for (const char* limit : {"150000", "200000", "300000", "250000"}) {
    std::filesystem::remove(dir_ + "/big.png");
    const ShellRun run =
        RunShell(dir_, std::string("ulimit -v ") + limit + " && printf ' \\033' | " + Demo(),
                 {{"SOFTBOARD_DISPLAY", "headless"},
                  {"SOFTBOARD_SCALE", "8"},
                  {"SOFTBOARD_SCREENSHOT", "big.png"}});
    EXPECT_TRUE(run.status == 0 || run.status == 1) << limit << ": " << run.status << run.err;
    if (run.status == 0) {
      EXPECT_TRUE(std::filesystem::exists(dir_ + "/big.png") ||
                  run.err.find("screenshot not saved") != std::string::npos)
          << limit << ": " << run.err;
    }
  }
  // The run's own two 79 MB buffers fit in 250 MB; the screenshot, written
  // row by row, needs little more.
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/big.png"));
}

}  // namespace
}  // namespace e2e
