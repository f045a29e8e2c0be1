#include "bands.h"

#include "framebuffer.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace softboard {

int DrawingThreads(int setting) {
  if (setting > 0) return setting;
  cpu_set_t cpus;
  if (sched_getaffinity(0, sizeof cpus, &cpus) == 0) return std::max(1, CPU_COUNT(&cpus));
  return std::max(1u, std::thread::hardware_concurrency());
}

namespace {

// Worker k keeps to the k-th core the process may use counting from the one
// the caller runs on now (the caller's thread, free to move, keeps its own):
// woken on the waker's core, a worker would otherwise take turns with it there
// while another core idles.
void KeepToCore(std::thread& worker, int k) {
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return;
  const int cores = CPU_COUNT(&allowed);
  if (cores < 2) return;
  int here = 0;  // the caller's core among the allowed ones
  for (int cpu = 0, index = 0, now = sched_getcpu(); cpu < CPU_SETSIZE; cpu++) {
    if (!CPU_ISSET(cpu, &allowed)) continue;
    if (cpu == now) here = index;
    index++;
  }
  int index = (here + k) % cores;
  for (int cpu = 0; cpu < CPU_SETSIZE; cpu++) {
    if (!CPU_ISSET(cpu, &allowed) || index-- > 0) continue;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    pthread_setaffinity_np(worker.native_handle(), sizeof one, &one);
    return;
  }
}

}  // namespace

BandRenderer::BandRenderer(int threads, int band_rows)
    : threads_(std::max(1, threads)), band_rows_((std::max(1, band_rows) + 3) / 4 * 4) {
  band_pixels_.resize(size_t(threads_));
  for (int t = 1; t < threads_; t++) {
    workers_.emplace_back([this, t] { Work(t); });
    KeepToCore(workers_.back(), t);
  }
}

BandRenderer::~BandRenderer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  start_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

// Workers are woken when a frame's first command is recorded, not when it is
// flushed: waking takes a while, and by the flush they are ready. They wait
// for it briefly, then sleep again; between frames they never spin.
void BandRenderer::WakeWorkers() {
  if (!commands_.empty() || workers_.empty()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    wakes_++;
  }
  start_.notify_all();
}

void BandRenderer::RecordClear(uint32_t* pixels, int width, int height, uint32_t value,
                               bool rgb565) {
  WakeWorkers();
  commands_.push_back({.kind = Kind::kClear,
                       .pixels = pixels,
                       .width = width,
                       .height = height,
                       .value = value,
                       .rgb565 = rgb565});
  rows_ = std::max(rows_, height);
}

void BandRenderer::RecordAverageDown(const uint32_t* pixels, int width, int height, int ssaa,
                                     uint32_t* out) {
  WakeWorkers();
  // Read only; the command's pointer is shared with the clears'.
  commands_.push_back({.kind = Kind::kAverageDown,
                       .pixels = const_cast<uint32_t*>(pixels),
                       .width = width,
                       .height = height,
                       .value = uint32_t(ssaa),
                       .out = out});
  rows_ = std::max(rows_, height);
}

void BandRenderer::RecordTriangle(const PreparedTriangle& t, uint32_t* pixels, int width) {
  WakeWorkers();
  commands_.push_back({.kind = Kind::kTriangle, .pixels = pixels, .width = width, .triangle = t});
  rows_ = std::max(rows_, t.setup.row_end);
}

// Each thread takes the next band not yet taken and draws every command in
// order within it, so the band's rows stay in this core's cache; a thread that
// wakes late simply takes fewer bands.
void BandRenderer::DrawBands(int thread) {
  uint32_t* own = band_pixels_[size_t(thread)].data();
  for (;;) {
    const int top = next_band_.fetch_add(1, std::memory_order_relaxed) * band_rows_;
    if (top >= rows_) return;
    const int bottom = top + band_rows_;
    for (const Command& c : commands_) {
      if (c.kind == Kind::kTriangle) {
        if (c.pixels)
          DrawRows(c.triangle, c.pixels, c.width, top, bottom);
        else
          DrawRows(c.triangle, own, c.width, top, bottom, top);
        continue;
      }
      const int end = std::min(bottom, c.height);
      if (top >= end) continue;
      if (c.kind == Kind::kClear) {
        if (c.pixels)
          FillRows(c.pixels, c.width, c.height, top, end, c.value, c.rgb565);
        else
          FillRows(own, c.width, end - top, 0, end - top, c.value, false);
        continue;
      }
      // Where the band's first row lies.
      const uint32_t* band = c.pixels ? c.pixels + size_t(top) * size_t(c.width) : own;
      if (c.kind == Kind::kAverageDown) {
        // Bands are whole blocks: band_rows_ is a multiple of every ssaa.
        const int ssaa = int(c.value), out_width = c.width / ssaa;
        AverageDown(band, c.width, end - top, ssaa, c.out + size_t(top / ssaa) * size_t(out_width));
      }
    }
  }
}

void BandRenderer::Flush() {
  if (commands_.empty()) return;
  size_t band_size = 0;
  for (const Command& c : commands_) {
    if (c.pixels == nullptr) band_size = std::max(band_size, size_t(band_rows_) * size_t(c.width));
  }
  for (auto& rows : band_pixels_) {
    if (rows.size() < band_size) rows.resize(band_size);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    busy_ = threads_ - 1;
    next_band_.store(0, std::memory_order_relaxed);
    generation_.fetch_add(1, std::memory_order_release);
  }
  start_.notify_all();
  DrawBands(0);
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this] { return busy_.load() == 0; });
  commands_.clear();
  rows_ = 0;
}

void BandRenderer::Work(int thread) {
  using Clock = std::chrono::steady_clock;
  uint64_t seen = 0, seen_wakes = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      start_.wait(lock,
                  [&] { return stop_ || generation_.load() != seen || wakes_ != seen_wakes; });
      if (stop_) return;
      seen_wakes = wakes_;
    }
    // Woken for a frame: wait (a millisecond at most) for its flush.
    const auto give_up = Clock::now() + std::chrono::milliseconds(1);
    while (generation_.load(std::memory_order_acquire) == seen && Clock::now() < give_up) {
    }
    if (generation_.load(std::memory_order_acquire) == seen) continue;
    seen = generation_.load(std::memory_order_acquire);
    DrawBands(thread);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      busy_.fetch_sub(1, std::memory_order_release);
    }
    done_.notify_one();
  }
}

}  // namespace softboard
