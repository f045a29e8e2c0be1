// Memory that runs out, in a child process whose address space is held where
// it stands: a thread that cannot start means fewer threads, buffers that
// cannot be had fail the open, a screenshot that cannot be written is said so,
// and nothing aborts. (Skipped under AddressSanitizer, whose own allocator
// ends the process when it cannot map memory.)
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bands.h"
#include "board_context.h"
#include "grlib.h"

namespace softboard {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

struct ChildResult {
  int status = -1;  // the exit status, or 128 + the signal that ended it
  std::string err;
};

// Runs `body` in a forked child; its exit status and what it wrote on
// standard error.
ChildResult InChild(const std::function<int()>& body) {
  int err[2];
  if (pipe(err) != 0) return {};
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(err[1], 2);
    close(err[0]);
    alarm(60);  // a hang ends the child, not the test run
    _exit(body());
  }
  close(err[1]);
  ChildResult result;
  char buffer[4096];
  for (ssize_t n; (n = read(err[0], buffer, sizeof buffer)) > 0;) result.err.append(buffer, n);
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

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

bool OpenHeadless() {
  setenv("SOFTBOARD_DISPLAY", "headless", 1);
  setenv("SOFTBOARD_VSYNC", "0", 1);
  grLibInit();
  GrHwConfiguration config;
  grSstQueryHardware(&config);
  grSstSelect(0);
  return grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ARGB,
                      GR_ORIGIN_UPPER_LEFT, 2, 1) == FXTRUE;
}

class OutOfMemory : public ::testing::Test {
 protected:
  void SetUp() override {
    if (kSanitized) GTEST_SKIP() << "AddressSanitizer cannot run with its memory held";
    for (const char* name : {"SOFTBOARD_TRACE", "SOFTBOARD_SCREENSHOT", "SOFTBOARD_SCALE",
                             "SOFTBOARD_SSAA", "SOFTBOARD_THREADS"})
      unsetenv(name);
  }
};

TEST_F(OutOfMemory, ThreadsThatCannotStartMeanFewerThreads) {
  const ChildResult child = InChild([] {
    HoldMemory(1 << 20);  // far less than a thread's stack
    BandRenderer bands(4);
    if (bands.threads() != 1) return 10 + bands.threads();
    std::vector<uint32_t> pixels(64 * 32, 0);
    bands.RecordClear(pixels.data(), 64, 32, 7);
    bands.Flush();
    return pixels == std::vector<uint32_t>(64 * 32, 7) ? 0 : 2;
  });
  EXPECT_EQ(child.status, 0) << child.err;
  EXPECT_EQ(child.err, "");
}

TEST_F(OutOfMemory, BuffersThatCannotBeHadFailTheOpen) {
  const ChildResult child = InChild([] {
    setenv("SOFTBOARD_SCALE", "8", 1);
    HoldMemory(40 << 20);  // a 5120x3840 buffer takes 79 MB
    if (OpenHeadless()) return 2;
    if (TheBoard().open || TheBoard().bands || TheBoard().display) return 3;
    setenv("SOFTBOARD_SCALE", "1", 1);  // the scene's own size fits
    if (!OpenHeadless()) return 4;
    grBufferClear(0xFF0000FF, 0, 0);
    grBufferSwap(0);
    grLibShutdown();
    return 0;
  });
  EXPECT_EQ(child.status, 0) << child.err;
  EXPECT_EQ(child.err, "softboard: cannot open the display: no memory to draw 5120x3840 frames\n");
}

TEST_F(OutOfMemory, AScreenshotWithoutMemoryIsSaidAndTheRunEnds) {
  const std::string dir = ::testing::TempDir() + "oom_" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  const std::string shot = dir + "/shot.png";
  const ChildResult child = InChild([&] {
    setenv("SOFTBOARD_SCALE", "4", 1);
    setenv("SOFTBOARD_SCREENSHOT", shot.c_str(), 1);
    if (!OpenHeadless()) return 2;
    grBufferClear(0xFF0000FF, 0, 0);
    grBufferSwap(0);
    HoldMemory(0);
    UseUpMemory();
    grLibShutdown();
    return TheBoard().open ? 3 : 0;
  });
  EXPECT_EQ(child.status, 0) << child.err;
  EXPECT_EQ(child.err, "softboard: screenshot not saved: " + shot + ": out of memory\n");
  EXPECT_TRUE(std::filesystem::is_empty(dir)) << "nothing partial left";
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace softboard
