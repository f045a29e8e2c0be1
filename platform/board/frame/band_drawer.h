// Threads that draw a frame's commands in bands of rows, each band (or a run
// of bands drawn as one region) by one thread, every command in order. A
// band's rows depend on nothing outside it, so every thread count and every
// band height gives the same pixels.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "frame/band_commands.h"
#include "frame/framebuffer.h"

namespace softboard {

class BandDrawer {
 public:
  // The caller of Draw and threads - 1 workers, made now and kept, blocked
  // while there is nothing to draw; one thread has no worker. Workers that
  // cannot start are done without: threads() says how many there are. Bands
  // are a multiple of 4 rows.
  BandDrawer(int threads, int band_rows = 8);
  ~BandDrawer();
  BandDrawer(const BandDrawer&) = delete;
  BandDrawer& operator=(const BandDrawer&) = delete;

  int threads() const { return threads_; }
  int band_rows() const { return band_rows_; }
  // A frame of `rows` rows is coming: the workers it will need, and only
  // those, are woken to be ready for it.
  void Expect(int rows);
  // Draws `commands` over rows [0, rows), every band but those `skip` marks,
  // on as many threads as there are bands (at most threads()); returns when
  // all is drawn. False when memory ran out and some of it is not.
  bool Draw(const std::vector<BandCommand>& commands, int rows, const std::vector<uint8_t>& skip);
  // Notes where a command of the coming draw lies, as it is recorded (its
  // record is then in cache); a draw whose every command was noted in order
  // reads no record to find its regions, nor, when they are one, to bin.
  void Note(const BandCommand& command) {
    const auto* shape = std::get_if<TriangleCommand>(&command);
    if (shape) {
      const TriangleSetup& setup = shape->triangle->setup;
      Tally(setup.row_begin, setup.row_end, true);
      if (shape->to.where == Destination::Where::kBandRows)
        noted_band_bytes_ = std::max(noted_band_bytes_, BandRowBytes(command, band_rows_));
    } else {
      Tally(0, RowEnd(command), false);
      noted_band_bytes_ = std::max(noted_band_bytes_, BandRowBytes(command, band_rows_));
    }
    noted_++;
  }
  // The frame is over, drawn or not.
  void EndFrame();
  // The threads the last draw took.
  int last_threads() const { return last_threads_; }

 private:
  // A worker sleeps on its own condition until it is wanted.
  struct Worker {
    std::thread thread;
    std::condition_variable wake;
    uint64_t wakes = 0;            // under mutex_: one more for a frame coming
    std::atomic<uint64_t> job{0};  // the draw it is to work in
  };
  int Needed(int rows) const;
  void DrawBands(int thread);
  void BinCommands(const std::vector<BandCommand>& commands, int rows, int drawing, bool joinable);
  // Counts a command in rows [top, end) (a shape: a triangle, line or point).
  void Tally(int top, int end, bool shape) {
    if (end <= top) return;
    const size_t first = size_t(top / band_rows_), last = size_t((end - 1) / band_rows_);
    if (last >= tallies_.size()) tallies_.resize(last + 1);
    const uint32_t rows = shape ? uint32_t(end - top) : 0;
    for (size_t b = first; b <= last; b++) {
      tallies_[b].commands++;
      tallies_[b].shapes += shape;
      tallies_[b].shape_rows += rows;
    }
  }
  void DrawBandsSafely(int thread);
  void Work(int thread, Worker& me);

  int threads_ = 1;
  const int band_rows_;
  // The draw under way.
  const std::vector<BandCommand>* commands_ = nullptr;
  const std::vector<uint8_t>* skip_ = nullptr;
  int rows_ = 0;
  // Rows of a band for commands that draw in the band's own rows: one band's
  // worth for each thread, in its cache.
  std::vector<PixelMemory> band_memory_;
  // The draw's commands region by region (see DrawRegions): region r's are
  // commands_of_[start, end) of regions_[r], indices into *commands_ in order.
  struct Region {
    int top, bottom;  // rows
    uint32_t start, end;
  };
  std::vector<Region> regions_;
  std::vector<uint32_t> commands_of_;
  // Each band's commands, and of those its shapes and their rows, summed.
  struct Tallies {
    uint32_t commands = 0, shapes = 0;
    uint64_t shape_rows = 0;
  };
  std::vector<Tallies> tallies_;
  size_t noted_ = 0;             // commands noted in tallies_
  size_t noted_band_bytes_ = 0;  // the most rows of their own they need
  std::vector<uint8_t> crowded_;
  std::vector<int32_t> band_region_;     // each band's region, -1 for none (skipped)
  std::atomic<int> next_region_{0};      // regions go to whichever thread is free first
  std::atomic<bool> incomplete_{false};  // a thread ran out of memory this draw

  std::mutex mutex_;
  std::condition_variable done_;
  uint64_t draws_ = 0;  // the last draw's number
  int woken_ = 0;       // workers woken for the frame being recorded
  int last_threads_ = 0;
  int busy_ = 0;  // under mutex_: workers still drawing this draw
  bool stop_ = false;
  std::vector<std::unique_ptr<Worker>> workers_;
};

// Bands drawn together: [first_band, end_band).
struct DrawRegion {
  int first_band, end_band;
  friend bool operator==(const DrawRegion&, const DrawRegion&) = default;
};

// Whether a band is crowded with small shapes: at least kCrowdedBand
// triangles, lines and points touch it, and on average they are at most half
// a band high (`shape_rows`: the rows of each, summed).
constexpr uint32_t kCrowdedBand = 32;
bool CrowdedBand(uint32_t shapes, uint64_t shape_rows, int band_rows);

// Which bands are drawn as one region: where crowded bands follow one
// another, the run is one region, so that a shape crossing between them is
// drawn once rather than once in each (each part's rows worked out and
// started again). Any other band is a region of its own: its few large
// shapes, or long lines, drawn a band at a time keep its rows in cache.
// With more than one thread a run is cut into parts of at most a quarter of
// the bands a thread would take, so that every thread has regions to take;
// nothing joins unless `joinable` (commands that draw in a band's own rows
// need them a band high). A band `skip` marks is in no region and joins
// nothing.
std::vector<DrawRegion> DrawRegions(const std::vector<uint8_t>& crowded_band,
                                    const std::vector<uint8_t>& skip, int threads, bool joinable);

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
