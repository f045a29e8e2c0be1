#include "bands.h"

#include "framebuffer.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <system_error>

namespace softboard {

int UsableCores() {
  cpu_set_t cpus;
  if (sched_getaffinity(0, sizeof cpus, &cpus) == 0) return std::max(1, CPU_COUNT(&cpus));
  return int(std::max(1u, std::thread::hardware_concurrency()));
}

int DrawingThreads(int setting) {
  const int cores = UsableCores();
  return setting > 0 ? std::min(setting, cores) : cores;
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
    : band_rows_((std::max(1, band_rows) + 3) / 4 * 4) {
  // Everything that may fail comes before the first thread starts: a
  // constructor that threw with threads running would end the program.
  threads = std::max(1, threads);
  band_pixels_.resize(size_t(threads));
  workers_.reserve(size_t(threads - 1));
  std::vector<std::unique_ptr<Worker>> made;
  for (int t = 1; t < threads; t++) made.push_back(std::make_unique<Worker>());
  // A thread that cannot start (no memory for its stack, a limit on threads)
  // means fewer threads.
  for (int t = 1; t < threads; t++) {
    Worker* worker = made[size_t(t - 1)].get();
    try {
      worker->thread = std::thread([this, t, worker] { Work(t, *worker); });
    } catch (const std::system_error&) {
      break;
    }
    KeepToCore(worker->thread, t);
    workers_.push_back(std::move(made[size_t(t - 1)]));
  }
  threads_ = int(workers_.size()) + 1;
}

BandRenderer::~BandRenderer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  for (auto& worker : workers_) {
    worker->wake.notify_one();
    worker->thread.join();
  }
}

int BandRenderer::Needed() const {
  const int bands = (rows_ + band_rows_ - 1) / band_rows_;
  return std::clamp(bands, 1, threads_);
}

// Workers are woken as a frame's commands are recorded, not when it is
// flushed: waking takes a while, and by the flush they are ready. They wait
// for it briefly, then sleep again; between frames they never spin. Only the
// workers the frame needs are woken.
void BandRenderer::WakeWorkers() {
  const int wanted = Needed() - 1;
  if (wanted <= woken_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int w = woken_; w < wanted; w++) workers_[size_t(w)]->wakes++;
  }
  for (int w = woken_; w < wanted; w++) workers_[size_t(w)]->wake.notify_one();
  woken_ = wanted;
}

void BandRenderer::RecordClear(uint32_t* pixels, int width, int height, uint32_t value,
                               bool rgb565) {
  commands_.push_back({.kind = Kind::kClear,
                       .pixels = pixels,
                       .width = width,
                       .height = height,
                       .value = value,
                       .rgb565 = rgb565});
  rows_ = std::max(rows_, height);
  WakeWorkers();
}

void BandRenderer::RecordAverageDown(const uint32_t* pixels, int width, int height, int ssaa,
                                     uint32_t* out) {
  // Read only; the command's pointer is shared with the clears'.
  commands_.push_back({.kind = Kind::kAverageDown,
                       .pixels = const_cast<uint32_t*>(pixels),
                       .width = width,
                       .height = height,
                       .value = uint32_t(ssaa),
                       .out = out});
  rows_ = std::max(rows_, height);
  WakeWorkers();
}

void BandRenderer::RecordTriangle(const PreparedTriangle& t, uint32_t* pixels, int width) {
  commands_.push_back({.kind = Kind::kTriangle, .pixels = pixels, .width = width, .triangle = t});
  rows_ = std::max(rows_, t.setup.row_end);
  WakeWorkers();
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

bool BandRenderer::Flush() {
  if (commands_.empty()) return true;
  size_t band_size = 0;
  for (const Command& c : commands_) {
    if (c.pixels == nullptr) band_size = std::max(band_size, size_t(band_rows_) * size_t(c.width));
  }
  try {
    for (auto& rows : band_pixels_) {
      if (rows.size() < band_size) rows.resize(band_size);
    }
  } catch (const std::bad_alloc&) {
    // No rows to draw the bands in: the frame is dropped whole.
    commands_.clear();
    rows_ = 0;
    return false;
  }
  const int drawing = Needed();
  incomplete_ = false;
  next_band_.store(0, std::memory_order_relaxed);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    busy_ = drawing - 1;
    flushes_++;
    for (int w = 0; w < drawing - 1; w++)
      workers_[size_t(w)]->job.store(flushes_, std::memory_order_release);
  }
  for (int w = 0; w < drawing - 1; w++) workers_[size_t(w)]->wake.notify_one();
  DrawBandsSafely(0);
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this] { return busy_ == 0; });
  commands_.clear();
  rows_ = 0;
  woken_ = 0;
  last_flush_threads_ = drawing;
  return !incomplete_;
}

// A span loop may take memory (the general 16-bit one keeps a row): a thread
// that runs out stops drawing, and the bands it would have drawn go to the
// others or stay undrawn. Nothing is thrown out of a worker.
void BandRenderer::DrawBandsSafely(int thread) {
  try {
    DrawBands(thread);
  } catch (...) {
    incomplete_ = true;
  }
}

void BandRenderer::Work(int thread, Worker& me) {
  using Clock = std::chrono::steady_clock;
  uint64_t seen_wakes = 0, done = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      me.wake.wait(lock, [&] { return stop_ || me.wakes != seen_wakes || me.job.load() != done; });
      if (stop_) return;
      seen_wakes = me.wakes;
    }
    // Woken for a frame: wait (a millisecond at most) for its flush.
    const auto give_up = Clock::now() + std::chrono::milliseconds(1);
    while (me.job.load(std::memory_order_acquire) == done && Clock::now() < give_up) {
    }
    const uint64_t job = me.job.load(std::memory_order_acquire);
    if (job == done) continue;
    done = job;
    DrawBandsSafely(thread);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      busy_--;
    }
    done_.notify_one();
  }
}

}  // namespace softboard
