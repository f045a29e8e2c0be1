// Memory that runs out, in a process whose address space is held where it
// stands: a thread that cannot start means fewer threads, buffers that
// cannot be had fail the open, a screenshot that cannot be written is said so,
// and nothing aborts. (Skipped under AddressSanitizer, whose own allocator
// ends the process when it cannot map memory.)
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "api/board_context.h"
#include "frame/frame_recorder.h"
#include "grlib.h"
#include "under_emulator.h"

namespace softboard {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Holds the address space to what it is now plus `headroom` bytes.
void HoldMemory(size_t headroom) {
  std::ifstream status("/proc/self/status");
  size_t kib = 0;
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmSize:", 0) == 0) kib = std::stoul(line.substr(7));
  }
  const rlimit limit{kib * 1024 + headroom, RLIM_INFINITY};
  setrlimit(RLIMIT_AS, &limit);
}

// Takes whatever memory is left within the limit, so the next allocation fails.
void UseUpMemory() {
  for (size_t size = 1 << 20; size >= 16; size /= 2) {
    while (std::malloc(size) != nullptr) {
    }
  }
}

Settings Headless(double scale) {
  Settings settings;
  settings.display = DisplayMode::kHeadless;
  settings.vsync = false;
  settings.scale = scale;
  return settings;
}

bool OpenHeadless() {
  grLibInit();
  GrHwConfiguration config;
  grSstQueryHardware(&config);
  grSstSelect(0);
  return grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ARGB,
                      GR_ORIGIN_UPPER_LEFT, 2, 1) == FXTRUE;
}

// Each case runs as a death test: a fresh process of this test program, with
// no threads, caches or arenas left by other tests, whose exit status and
// standard error are checked.
class OutOfMemory : public ::testing::Test {
 protected:
  void SetUp() override {
    if (kSanitized) GTEST_SKIP() << "AddressSanitizer cannot run with its memory held";
    if (kUnderEmulator) GTEST_SKIP() << kNotUnderEmulator;
    GTEST_FLAG_SET(death_test_style, "threadsafe");
  }
};

TEST_F(OutOfMemory, ThreadsThatCannotStartMeanFewerThreads) {
  const auto run = [] {
    HoldMemory(1 << 20);  // far less than a thread's stack
    FrameRecorder recorder(4);
    if (recorder.threads() != 1) std::exit(10 + recorder.threads());
    std::vector<uint32_t> pixels(64 * 32, 0);
    recorder.RecordClear({.rows = ArgbRows(pixels.data(), 64, 32)}, 7);
    recorder.Flush();
    std::exit(pixels == std::vector<uint32_t>(64 * 32, 7) ? 0 : 2);
  };
  EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "^$");
}

TEST_F(OutOfMemory, BuffersThatCannotBeHadFailTheOpen) {
  const auto run = [] {
    ScopedBoard board(Headless(8));
    HoldMemory(40 << 20);  // a 5120x3840 buffer takes 79 MB
    if (OpenHeadless()) std::exit(2);
    if (board.state().open || board.state().recorder || board.state().display) std::exit(3);
    board.state().given_settings->scale = 1;  // the scene's own size fits
    if (!OpenHeadless()) std::exit(4);
    grBufferClear(0xFF0000FF, 0, 0);
    grBufferSwap(0);
    grLibShutdown();
    std::exit(0);
  };
  EXPECT_EXIT(run(), ::testing::ExitedWithCode(0),
              "^softboard: cannot open the display: no memory to draw 5120x3840 frames\n$");
}

TEST_F(OutOfMemory, AScreenshotWithoutMemoryIsSaidAndTheRunEnds) {
  // The death test's process runs this again: it finds the directory made here.
  const char* made = std::getenv("OUT_OF_MEMORY_TEST_DIR");
  const std::string dir = made ? made : ::testing::TempDir() + "oom_" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  setenv("OUT_OF_MEMORY_TEST_DIR", dir.c_str(), 1);
  const std::string shot = dir + "/shot.png";
  const auto run = [&] {
    Settings settings = Headless(4);
    settings.screenshot_path = shot;
    ScopedBoard board(settings);
    if (!OpenHeadless()) std::exit(2);
    grBufferClear(0xFF0000FF, 0, 0);
    grBufferSwap(0);
    HoldMemory(0);
    UseUpMemory();
    grLibShutdown();
    std::exit(board.state().open ? 3 : 0);
  };
  // Out of memory in the board, or in libpng.
  EXPECT_EXIT(run(), ::testing::ExitedWithCode(0),
              "^softboard: screenshot not saved: " + shot +
                  ": (out of memory|cannot write PNG: (insufficient memory|Out of memory))\n$");
  EXPECT_TRUE(std::filesystem::is_empty(dir)) << "nothing partial left";
  std::filesystem::remove_all(dir);
  unsetenv("OUT_OF_MEMORY_TEST_DIR");
}

}  // namespace
}  // namespace softboard
