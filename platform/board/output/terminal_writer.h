// Shows frames on a terminal from a thread of its own, so that the game loop
// never waits for the terminal. A frame is taken only when the one before it
// has gone out and the pace allows: at most the ceiling's frames a second, a
// share of a core, and what the link carries (learnt as it is written). A
// frame in motion goes at the quality that crosses the link in time, only
// its bands of rows that changed; once the picture is still, the bands not
// shown at full quality are sent again at it, and that is given up between
// bands as soon as a newer frame is waiting.
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
#include "output/terminal_pacing.h"
#include "output/terminal_screen.h"

namespace softboard {

class FrameWriter {
 public:
  // Writes through screen.writer_fd (non-blocking); a frame being written
  // when screen.entries changes is cut short. `fps`: the ceiling.
  FrameWriter(TerminalScreen& screen, std::unique_ptr<FrameEncoder> encoder, int fps);
  // Stops, cutting short a frame being written.
  ~FrameWriter();
  FrameWriter(const FrameWriter&) = delete;
  FrameWriter& operator=(const FrameWriter&) = delete;

  TerminalMode mode() const { return encoder_->mode(); }
  // A frame may be handed over now.
  bool Ready() const;
  // The game loop has a frame newer than the writer's: a full-quality frame
  // being sent is given up at its next band.
  void Want();
  // The terminal refused a write (it is gone): frames are no longer taken.
  bool Gone() const { return gone_.load(); }
  // Memory for a picture could not be had: frames are no longer taken.
  bool OutOfMemory() const { return out_of_memory_.load(); }
  // Whether `frame` is the one last handed over, pixel for pixel (a board
  // with two buffers cannot tell); only when Ready. If it is, no newer frame
  // is wanted (see Want).
  bool SameAsLast(const PixelRows& frame);
  // Copies the frame (one larger than the picture ceiling scaled down to it)
  // and hands it over, to be laid out on `grid`; `clear`: the screen is
  // cleared first. False when it was not taken: not Ready, or no memory.
  bool Submit(const PixelRows& frame, const TerminalGrid& grid, bool clear);
  // Frames (or full-quality frames) written whole so far.
  unsigned long frames_written() const { return written_.load(); }

 private:
  // What the terminal shows of each band.
  struct Shown {
    uint64_t hash = 0;
    int quality = 0;
    bool valid = false;
  };

  void Run();
  // The frame handed over, then the full-quality one when it is still.
  void SendFrame();
  void SendFullQuality();
  // Draws the frame into the picture for its box: at its place, black
  // around, opaque.
  void Compose();
  // The box in bands; true when they changed (what the terminal shows of
  // them is then not known).
  bool SplitBands();
  uint64_t BandHash(const Band& band) const;
  // Writes the pieces of band `index` at `quality`; false when cut short
  // (or, with `yield`, given up for a newer frame).
  bool SendBand(size_t index, int quality, bool yield, WriteRecord* record);
  // False when the bytes were cut short: stopped, the screen entered again,
  // or the terminal is gone.
  bool WriteOut(const std::string& bytes, unsigned entries, WriteRecord* record);
  void Finished(PaceClock::time_point next);

  TerminalScreen& screen_;
  std::unique_ptr<FrameEncoder> encoder_;
  int wake_[2] = {-1, -1};  // a pipe that ends the writer's waits

  std::mutex mutex_;
  std::condition_variable handed_over_;
  bool busy_ = false;     // the frame belongs to the writer (guarded by mutex_)
  bool pending_ = false;  // a frame is waiting to be taken
  bool stop_ = false;
  bool settle_due_ = false;  // the picture shown is not all at full quality
  PaceClock::time_point settle_at_{};
  std::atomic<bool> busy_seen_{false};  // busy_, for Ready
  std::atomic<int64_t> next_at_{0};     // no frame is taken before (PaceClock ticks)
  std::atomic<bool> want_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> gone_{false};
  std::atomic<bool> out_of_memory_{false};
  std::atomic<unsigned long> written_{0};

  // The frame handed over and where it goes; the game loop writes them only
  // while the writer is not busy.
  std::vector<uint32_t> frame_;
  int frame_width_ = 0, frame_height_ = 0;
  bool frame_exact_ = false;  // frame_ is the frame at its own size
  TerminalGrid grid_;
  bool clear_ = false;
  std::vector<uint32_t> row_;  // the game loop's, for SameAsLast

  // The writer's own.
  CellLayout layout_;
  int cell_width_ = 0, cell_height_ = 0;
  std::vector<uint32_t> picture_;
  std::vector<Band> bands_;
  std::vector<Shown> shown_;
  std::vector<std::string> pieces_;
  LinkPace pace_;
  QualityLadder ladder_;
  PaceClock::time_point settle_gate_{};  // no full-quality frame before
  std::thread thread_;
};

}  // namespace softboard
