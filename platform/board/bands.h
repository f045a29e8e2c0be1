// Threads that draw: a frame's drawing is recorded (each triangle with a copy
// of what its pixels need) and rendered in bands of rows, each band by one
// thread, every command in order, when something needs the pixels. A band's
// rows depend on nothing outside it, so every thread count and every band
// height gives the same pixels.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "framebuffer.h"
#include "rasterizer.h"

namespace softboard {

class BandRenderer {
 public:
  // The caller of Flush and threads - 1 workers, made now and kept, blocked
  // while there is nothing to draw; one thread has no worker. Workers that
  // cannot start are done without: threads() says how many there are. A frame wakes
  // only the workers it needs: never more threads than it has bands. Bands
  // are a multiple of 4 rows.
  BandRenderer(int threads, int band_rows = 8);
  ~BandRenderer();
  BandRenderer(const BandRenderer&) = delete;
  BandRenderer& operator=(const BandRenderer&) = delete;

  // Null `pixels`: the rows of the band being drawn (see band_pixels_).
  // Rows are `stride` pixels apart; `rgb565`: a 5-6-5 buffer (see FillRows).
  void RecordClear(uint32_t* pixels, int width, int height, size_t stride, uint32_t value,
                   bool rgb565 = false);
  void RecordTriangle(const PreparedTriangle& t, uint32_t* pixels, size_t stride);
  // Averages ssaa x ssaa blocks of `pixels` into `out` (rows `out_stride`
  // apart), band by band right after the band is drawn, while its rows are
  // still in cache.
  void RecordAverageDown(const uint32_t* pixels, int width, int height, int ssaa, uint32_t* out,
                         size_t out_stride);
  // Draws everything recorded, on as many threads as it has bands (at most
  // threads()); returns when all is drawn. False when memory ran out and
  // some of it is not. The next frame is not compared with what was drawn
  // before: call it whenever the texture or the buffers change, or a frame is
  // drawn in parts.
  bool Flush();
  // Draws a whole frame and says which of its rows changed since the frame
  // before. A band whose commands are those it had then, in order, beginning
  // with a clear, holds its pixels already and is not drawn again: an
  // unchanged scene costs neither drawing nor showing. `complete` false when
  // memory ran out and some of it is not drawn.
  FrameDamage FlushFrame(bool* complete = nullptr);
  int threads() const { return threads_; }
  // The threads the last flush drew with.
  int last_flush_threads() const { return last_flush_threads_; }

 private:
  enum class Kind { kClear, kTriangle, kAverageDown };
  struct Command {
    Kind kind;
    uint32_t* pixels = nullptr;
    int width = 0;                // clear, average
    size_t stride = 0;            // of `pixels`, or of `out` for an average
    int height = 0;               // clear, average
    uint32_t value = 0;           // clear: the pixel; average: samples a side
    uint32_t* out = nullptr;      // average
    bool rgb565 = false;          // clear
    PreparedTriangle triangle{};  // triangle
  };
  // A worker sleeps on its own condition until it is wanted.
  struct Worker {
    std::thread thread;
    std::condition_variable wake;
    uint64_t wakes = 0;            // under mutex_: one more for a frame coming
    std::atomic<uint64_t> job{0};  // the flush it is to draw in
  };
  void DrawBands(int thread);
  void DrawBandsSafely(int thread);
  void Work(int thread, Worker& me);
  // The threads the commands recorded so far need: one a band, at most threads_.
  int Needed() const;
  void WakeWorkers();
  void Record(const Command& command, int rows);
  static bool SameCommand(const Command& a, const Command& b);
  bool Draw();  // every band not marked unchanged; false when memory ran out
  bool Touches(const Command& c, int top, int bottom) const;
  bool BandUnchanged(int top, int bottom) const;
  FrameDamage MarkUnchangedBands();
  void Forget();  // what was drawn before is not compared with

  int threads_ = 1;
  const int band_rows_;
  std::vector<Command> commands_;
  // The last frame's commands while its pixels are still in the buffers, to
  // compare with; `diverged_`: the frame being recorded is already unlike it.
  std::vector<Command> last_;
  bool have_last_ = false;
  bool diverged_ = false;
  std::vector<uint8_t> unchanged_;  // a flag per band; none: draw every band
  // Rows of a band for commands whose pixels are null (a supersampled frame
  // drawn in bands only): one band's worth for each thread, in its cache.
  std::vector<PixelBuffer> band_pixels_;
  int rows_ = 0;                         // rows the recorded commands reach
  std::atomic<int> next_band_{0};        // bands go to whichever thread is free first
  std::atomic<bool> incomplete_{false};  // a thread ran out of memory this flush

  std::mutex mutex_;
  std::condition_variable done_;
  uint64_t flushes_ = 0;  // the last flush's number
  int woken_ = 0;         // workers woken for the frame being recorded
  int last_flush_threads_ = 0;
  int busy_ = 0;  // under mutex_: workers still drawing this flush
  bool stop_ = false;
  std::vector<std::unique_ptr<Worker>> workers_;
};

// The cores this process may use (its CPU affinity), at least 1.
int UsableCores();
// The threads to draw with: the setting, or (0, auto) one for each
// kPixelsPerThread pixels a frame draws (a small frame gains less from a
// second thread than waking it costs); never more than the cores this process
// may use: more threads drawing than cores only take turns, each turn costing
// a wake and a cache.
constexpr size_t kPixelsPerThread = size_t(1) << 21;
int DrawingThreads(int setting, size_t frame_pixels);

}  // namespace softboard
