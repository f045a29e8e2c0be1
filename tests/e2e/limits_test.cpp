// Runs at the edges of what the settings and the machine allow: thread counts
// past the cores, held to the cores, and memory that runs out, which fails
// the way the demo says it fails; it never aborts.
#include <gtest/gtest.h>

#include <sched.h>

#include <filesystem>
#include <thread>

#include "demo_run.h"
#include "under_emulator.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

class Limits : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir();
    std::filesystem::copy_file(DEFAULT_TEXTURE, dir_ + "/tex.3df");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string dir_;
};

// The threads the demo runs with, counted in /proc once it draws: headless,
// `threads` asked for, counted after its third swap, then ended with Esc.
int ThreadsWhileDrawing(const std::string& dir, const std::string& threads) {
  std::filesystem::remove(dir + "/trace.txt");
  DemoRun run({dir,
               {{"SOFTBOARD_DISPLAY", "headless"},
                {"SOFTBOARD_TRACE", "trace.txt"},
                {"SOFTBOARD_THREADS", threads}},
               {}});
  EXPECT_TRUE(run.WaitForOutput("continue", 60s)) << threads;
  run.Type(" ");
  // The limit only keeps a hang from lasting.
  EXPECT_TRUE(WaitForFileText(dir + "/trace.txt", "grBufferSwap(1)", 60s)) << threads;
  const auto limit = std::chrono::steady_clock::now() + 60s;
  int swaps = 0;
  while (swaps < 3 && std::chrono::steady_clock::now() < limit) {
    swaps = 0;
    for (const std::string& line : ReadLines(dir + "/trace.txt"))
      swaps += line.starts_with("grBufferSwap(");
    std::this_thread::sleep_for(10ms);
  }
  int count = 0;
  std::error_code error;
  for ([[maybe_unused]] const auto& task :
       std::filesystem::directory_iterator("/proc/" + std::to_string(run.pid()) + "/task", error))
    count++;
  run.Type("\033");
  EXPECT_EQ(run.Wait(60s), 0) << threads;
  return count;
}

int UsableCores() {
  cpu_set_t cpus;
  return sched_getaffinity(0, sizeof cpus, &cpus) == 0 ? CPU_COUNT(&cpus) : 1;
}

// 256 drawing threads, past the cores of any machine this runs on, are held
// to the cores the process may use: the demo runs with one drawing thread a
// core, as when that many are asked for, counted rather than timed. (Before
// the count was held, the 256 took turns on the cores: a paced run made a
// seventh of the swaps for eighty times the CPU.)
TEST_F(Limits, ThreadsPastTheCoresAreHeldToTheCores) {
  const int cores = UsableCores();
  const int one = ThreadsWhileDrawing(dir_, "1");
  ASSERT_GT(one, 0);
  EXPECT_EQ(ThreadsWhileDrawing(dir_, std::to_string(cores)), one + cores - 1)
      << "a drawing thread a core, " << cores << " cores";
  EXPECT_EQ(ThreadsWhileDrawing(dir_, "256"), one + cores - 1)
      << "256 asked for, " << cores << " cores";
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
