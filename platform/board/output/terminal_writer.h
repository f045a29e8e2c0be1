// Shows frames on a terminal from a thread of its own, so that the game loop
// never waits for the terminal: a frame is taken only once the one before it
// has gone out, and a terminal that reads slowly (a slow link) gets fewer.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frame/framebuffer.h"
#include "output/terminal_encoder.h"
#include "output/terminal_layout.h"
#include "output/terminal_screen.h"

namespace softboard {

class FrameWriter {
 public:
  // Writes through screen.writer_fd (non-blocking); a frame being written
  // when screen.entries changes is cut short.
  FrameWriter(TerminalScreen& screen, std::unique_ptr<FrameEncoder> encoder);
  // Stops, cutting short a frame being written.
  ~FrameWriter();
  FrameWriter(const FrameWriter&) = delete;
  FrameWriter& operator=(const FrameWriter&) = delete;

  // True when the last frame handed over has gone out (or was given up on).
  bool Idle() const { return !busy_.load(std::memory_order_acquire); }
  // The terminal refused a write (it is gone): frames are no longer taken.
  bool Gone() const { return gone_.load(); }
  // Whether `frame` is the one last handed over, pixel for pixel (a board
  // with two buffers cannot tell); only when Idle.
  bool SameAsLast(const PixelRows& frame);
  // Copies the frame and hands it over, to be shown as `layout` says with
  // cells of the given size; only when Idle.
  void Submit(const PixelRows& frame, const CellLayout& layout, int cell_width, int cell_height,
              bool clear);
  // Frames written whole so far.
  unsigned long frames_written() const { return written_.load(); }

 private:
  void Run();
  // Draws the frame into the picture for its box: at its place, black
  // around, opaque.
  void Compose();
  // False when the frame was cut short: stopped, or the screen entered again.
  bool WriteOut(const std::string& bytes, unsigned entries);

  TerminalScreen& screen_;
  std::unique_ptr<FrameEncoder> encoder_;
  int wake_[2] = {-1, -1};  // a pipe that ends the writer's waits

  std::mutex mutex_;
  std::condition_variable handed_over_;
  bool pending_ = false;  // a frame is waiting to be taken
  bool stop_ = false;
  std::atomic<bool> busy_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> gone_{false};
  std::atomic<unsigned long> written_{0};

  // The frame handed over and where it goes; the game loop writes them only
  // while the writer is idle.
  std::vector<uint32_t> frame_;
  int frame_width_ = 0, frame_height_ = 0;
  CellLayout layout_;
  int cell_width_ = 0, cell_height_ = 0;
  bool clear_ = false;

  std::vector<uint32_t> row_;  // the game loop's, for SameAsLast
  std::vector<uint32_t> picture_;
  std::string bytes_;
  std::thread thread_;
};

}  // namespace softboard
