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
  // `rgb565`: a 5-6-5 buffer (see FillRows).
  void RecordClear(uint32_t* pixels, int width, int height, uint32_t value, bool rgb565 = false);
  void RecordTriangle(const PreparedTriangle& t, uint32_t* pixels, int width);
  // Averages ssaa x ssaa blocks of `pixels` into `out`, band by band right
  // after the band is drawn, while its rows are still in cache.
  void RecordAverageDown(const uint32_t* pixels, int width, int height, int ssaa, uint32_t* out);
  // Draws everything recorded, on as many threads as it has bands (at most
  // threads()); returns when all is drawn. False when memory ran out and
  // some of it is not.
  bool Flush();
  int threads() const { return threads_; }
  // The threads the last flush drew with.
  int last_flush_threads() const { return last_flush_threads_; }

 private:
  enum class Kind { kClear, kTriangle, kAverageDown };
  struct Command {
    Kind kind;
    uint32_t* pixels = nullptr;
    int width = 0;
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

  int threads_ = 1;
  const int band_rows_;
  std::vector<Command> commands_;
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
// The threads to draw with: the setting or (0) every core this process may
// use, but never more than those cores: more threads drawing than cores only
// take turns, each turn costing a wake and a cache.
int DrawingThreads(int setting);

}  // namespace softboard
