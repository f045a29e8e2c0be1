// The writer against a terminal that is a pipe, read when the test says.
#include "output/terminal_writer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "under_emulator.h"

namespace softboard {
namespace {

using namespace std::chrono_literals;

class Terminal {
 public:
  Terminal() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    read_ = fds[0];
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    screen.fd = screen.writer_fd = fds[1];
  }
  ~Terminal() {
    close(read_);
    close(screen.writer_fd);
  }
  // Reads what came until `done` holds or the time is up.
  template <class Done>
  bool ReadUntil(Done done, std::chrono::milliseconds limit = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      pollfd in{read_, POLLIN, 0};
      if (poll(&in, 1, 10) <= 0) continue;
      static char buffer[1 << 16];
      const ssize_t n = read(read_, buffer, sizeof buffer);
      if (n > 0) seen.append(buffer, size_t(n));
    }
    return true;
  }
  // Reads what is already in the pipe: a frame counted as written may still
  // have its last bytes there.
  void Drain() {
    for (pollfd in{read_, POLLIN, 0}; poll(&in, 1, 0) > 0;) {
      static char buffer[1 << 16];
      const ssize_t n = read(read_, buffer, sizeof buffer);
      if (n <= 0) break;
      seen.append(buffer, size_t(n));
    }
  }

  TerminalScreen screen;
  std::string seen;

 private:
  int read_ = -1;
};

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) n++;
  return n;
}

const TerminalGrid kGrid{80, 24, 8, 20};

std::vector<uint32_t> Scene(uint32_t moved = 0) {
  std::vector<uint32_t> frame(640 * 480, 0xFFFF0000);
  for (int y = 105; y < 305; y++)
    for (int x = 100; x < 300; x++) frame[size_t(y * 640 + x + int(moved))] = 0xFF0000FF;
  return frame;
}

std::unique_ptr<FrameWriter> Writer(Terminal& terminal, TerminalMode mode) {
  return std::make_unique<FrameWriter>(
      terminal.screen, std::make_unique<FrameEncoder>(mode, CellColors::kTruecolor), 30);
}

// Waits for the writer to be ready for a frame (the pace of 30 a second).
void AwaitReady(FrameWriter& writer, Terminal& terminal) {
  terminal.ReadUntil([&] { return writer.Ready(); });
}

// The whole picture first; then, for a frame that moved a square, only the
// bands of rows the square is in.
TEST(FrameWriter, OnlyTheBandsThatChangedAreSentAgain) {
  Terminal terminal;
  auto writer = Writer(terminal, TerminalMode::kKitty);
  std::vector<uint32_t> frame = Scene();
  ASSERT_TRUE(writer->Submit(ArgbRows(frame.data(), 640, 480), kGrid, true));
  ASSERT_TRUE(terminal.ReadUntil([&] { return writer->frames_written() == 1; }));
  terminal.Drain();
  AwaitReady(*writer, terminal);
  const size_t first = Count(terminal.seen, "a=T,");
  EXPECT_EQ(first, 12u) << "24 rows in bands of 2";
  EXPECT_TRUE(writer->SameAsLast(ArgbRows(frame.data(), 640, 480)));

  frame = Scene(8);
  EXPECT_FALSE(writer->SameAsLast(ArgbRows(frame.data(), 640, 480)));
  const size_t before = terminal.seen.size();
  ASSERT_TRUE(writer->Submit(ArgbRows(frame.data(), 640, 480), kGrid, false));
  ASSERT_TRUE(terminal.ReadUntil([&] { return writer->frames_written() == 2; }));
  terminal.Drain();
  const std::string second = terminal.seen.substr(before);
  // Rows 105 to 304: cell rows 5 to 15, bands 2 to 7.
  EXPECT_EQ(Count(second, "a=T,"), 6u);
  EXPECT_EQ(second.find("\x1b[2J"), std::string::npos);
  EXPECT_NE(second.find("\x1b[5;1H\x1b_G"), std::string::npos) << "band 2 starts at row 4";
  EXPECT_EQ(second.find("\x1b[3;1H\x1b_G"), std::string::npos) << "band 1 is as it was";
}

// A terminal that stops reading: the frame handed over is taken at once, the
// next is refused rather than waited for, and stopping cuts the frame short.
TEST(FrameWriter, NothingWaitsOnATerminalThatReadsNothing) {
  Terminal terminal;
  auto writer = Writer(terminal, TerminalMode::kKitty);
  // Bands of 400 KB and more, into a pipe that holds 64.
  std::vector<uint32_t> noise(1280 * 960);
  for (size_t i = 0; i < noise.size(); i++) noise[i] = uint32_t(i * 2654435761u);
  const TerminalGrid grid{160, 48, 8, 20};
  ASSERT_TRUE(writer->Submit(ArgbRows(noise.data(), 1280, 960), grid, true));
  ASSERT_TRUE(terminal.ReadUntil([&] { return terminal.seen.find("a=T,") != std::string::npos; }));
  EXPECT_FALSE(writer->Ready());
  EXPECT_FALSE(writer->Submit(ArgbRows(noise.data(), 1280, 960), grid, false));
  writer->Want();
  EXPECT_EQ(writer->frames_written(), 0u);
  writer.reset();  // returns, the frame cut short
  terminal.ReadUntil([] { return false; }, 200ms);
  EXPECT_EQ(terminal.seen.find("m=0;"), std::string::npos) << "not one band whole";
}

// Symbols in motion are half blocks; once the picture is still, chafa's
// symbols follow without another frame handed over.
TEST(FrameWriter, AStillPictureSettlesOnFullQuality) {
  Terminal terminal;
  auto writer = Writer(terminal, TerminalMode::kSymbols);
  std::vector<uint32_t> frame = Scene();
  ASSERT_TRUE(writer->Submit(ArgbRows(frame.data(), 640, 480), kGrid, true));
  ASSERT_TRUE(terminal.ReadUntil([&] { return writer->frames_written() == 2; }));
  terminal.Drain();
  const size_t settled = terminal.seen.rfind("\x1b[1;1H");
  ASSERT_NE(settled, std::string::npos);
  EXPECT_GT(Count(terminal.seen.substr(0, settled), "\xE2\x96\x80"), 0u) << "half blocks first";
  // Then no more: the picture shown is the full one.
  const size_t size = terminal.seen.size();
  terminal.ReadUntil([] { return false; }, 400ms);
  EXPECT_EQ(terminal.seen.size(), size);
  EXPECT_EQ(writer->frames_written(), 2u);
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Runs out of memory in the writer's thread, as the death test below does.
void RunOutInTheWriter() {
  Terminal terminal;
  auto writer = Writer(terminal, TerminalMode::kKitty);
  std::vector<uint32_t> frame(1280 * 960, 0xFF00FF00);
  // Room for the copy the game loop makes, not for the picture as well.
  std::ifstream status("/proc/self/status");
  size_t kib = 0;
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmSize:", 0) == 0) kib = std::stoul(line.substr(7));
  const rlimit limit{kib * 1024 + 6 * 1024 * 1024, RLIM_INFINITY};
  setrlimit(RLIMIT_AS, &limit);
  writer->Submit(ArgbRows(frame.data(), 1280, 960), {160, 48, 8, 20}, true);
  terminal.ReadUntil([&] { return writer->OutOfMemory(); });
  if (!writer->OutOfMemory()) std::exit(2);
  if (writer->Ready() || writer->Submit(ArgbRows(frame.data(), 1280, 960), kGrid, false))
    std::exit(3);
  writer.reset();
  std::exit(0);
}

// Memory that runs out in the writer's thread: it says so and takes no more
// frames; the process neither aborts nor hangs.
TEST(FrameWriter, MemoryThatRunsOutStopsThePicturesNotTheProgram) {
  if (kSanitized) GTEST_SKIP() << "AddressSanitizer cannot run with its memory held";
  if (kUnderEmulator) GTEST_SKIP() << kNotUnderEmulator;
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RunOutInTheWriter(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace softboard
