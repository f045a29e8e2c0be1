#include "bands.h"

#include "framebuffer.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace softboard {

int DrawingThreads(int setting, size_t frame_pixels) {
  if (setting > 0) return setting;
  cpu_set_t cpus;
  const int cores = sched_getaffinity(0, sizeof cpus, &cpus) == 0
                        ? CPU_COUNT(&cpus)
                        : int(std::thread::hardware_concurrency());
  const size_t worth = (frame_pixels + kPixelsPerThread - 1) / kPixelsPerThread;
  return int(std::clamp<size_t>(worth, 1, size_t(std::max(1, cores))));
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

bool BandRenderer::SameCommand(const Command& a, const Command& b) {
  if (a.kind != b.kind || a.pixels != b.pixels || a.width != b.width || a.stride != b.stride ||
      a.height != b.height || a.value != b.value || a.out != b.out || a.rgb565 != b.rgb565)
    return false;
  return a.kind != Kind::kTriangle || SameTriangle(a.triangle, b.triangle);
}

// Workers are woken when a frame's first command unlike the last frame's is
// recorded, not when it is flushed: waking takes a while, and by the flush
// they are ready. They wait for it briefly, then sleep again; between frames,
// and through frames that repeat the last, they never spin.
void BandRenderer::Record(const Command& command) {
  const size_t i = commands_.size();
  if (!diverged_ && (!have_last_ || i >= last_.size() || !SameCommand(command, last_[i]))) {
    diverged_ = true;
    WakeWorkers();
  }
  commands_.push_back(command);
}

void BandRenderer::WakeWorkers() {
  if (workers_.empty()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    wakes_++;
  }
  start_.notify_all();
}

void BandRenderer::RecordClear(uint32_t* pixels, int width, int height, size_t stride,
                               uint32_t value, bool rgb565) {
  Record({.kind = Kind::kClear,
          .pixels = pixels,
          .width = width,
          .stride = stride,
          .height = height,
          .value = value,
          .rgb565 = rgb565});
  rows_ = std::max(rows_, height);
}

void BandRenderer::RecordAverageDown(const uint32_t* pixels, int width, int height, int ssaa,
                                     uint32_t* out, size_t out_stride) {
  // Read only; the command's pointer is shared with the clears'.
  Record({.kind = Kind::kAverageDown,
          .pixels = const_cast<uint32_t*>(pixels),
          .width = width,
          .stride = out_stride,
          .height = height,
          .value = uint32_t(ssaa),
          .out = out});
  rows_ = std::max(rows_, height);
}

void BandRenderer::RecordTriangle(const PreparedTriangle& t, uint32_t* pixels, size_t stride) {
  Record({.kind = Kind::kTriangle, .pixels = pixels, .stride = stride, .triangle = t});
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
    const size_t band = size_t(top / band_rows_);
    if (band < unchanged_.size() && unchanged_[band]) continue;
    for (const Command& c : commands_) {
      if (c.kind == Kind::kTriangle) {
        if (c.pixels)
          DrawRows(c.triangle, c.pixels, c.stride, top, bottom);
        else
          DrawRows(c.triangle, own, c.stride, top, bottom, top);
        continue;
      }
      const int end = std::min(bottom, c.height);
      if (top >= end) continue;
      if (c.kind == Kind::kClear) {
        if (c.pixels)
          FillRows(c.pixels, c.width, c.height, c.stride, top, end, c.value, c.rgb565);
        else
          FillRows(own, c.width, end - top, size_t(c.width), 0, end - top, c.value, false);
        continue;
      }
      // Where the band's first row lies.
      const uint32_t* band = c.pixels ? c.pixels + size_t(top) * size_t(c.width) : own;
      if (c.kind == Kind::kAverageDown) {
        // Bands are whole blocks: band_rows_ is a multiple of every ssaa.
        const int ssaa = int(c.value);
        AverageDown(band, c.width, end - top, ssaa, c.out + size_t(top / ssaa) * c.stride,
                    c.stride);
      }
    }
  }
}

bool BandRenderer::Touches(const Command& c, int top, int bottom) const {
  if (c.kind == Kind::kTriangle)
    return c.triangle.setup.row_begin < bottom && c.triangle.setup.row_end > top;
  return top < c.height;
}

// The band's commands, those that touch its rows, are the last frame's, in
// order, and the first is a clear: what was drawn before it cannot show.
bool BandRenderer::BandUnchanged(int top, int bottom) const {
  if (!diverged_) {  // the same commands: only the first clear is to be found
    for (const Command& c : commands_) {
      if (Touches(c, top, bottom)) return c.kind == Kind::kClear;
    }
    return false;
  }
  size_t i = 0, j = 0;
  bool first = true;
  for (;;) {
    while (i < commands_.size() && !Touches(commands_[i], top, bottom)) i++;
    while (j < last_.size() && !Touches(last_[j], top, bottom)) j++;
    if (i == commands_.size() || j == last_.size())
      return i == commands_.size() && j == last_.size() && !first;
    if (first && commands_[i].kind != Kind::kClear) return false;
    if (!SameCommand(commands_[i], last_[j])) return false;
    first = false;
    i++, j++;
  }
}

// Past this many commands a frame unlike the last is drawn whole: comparing
// band by band would cost more than it saves.
constexpr size_t kMaxComparedCommands = 256;

FrameDamage BandRenderer::MarkUnchangedBands() {
  FrameDamage damage;
  unchanged_.clear();
  if (!have_last_ || (diverged_ && commands_.size() > kMaxComparedCommands)) return damage;
  damage.all = false;
  const int bands = (rows_ + band_rows_ - 1) / band_rows_;
  unchanged_.resize(size_t(bands));
  for (int b = 0; b < bands; b++) {
    const int top = b * band_rows_, bottom = std::min(top + band_rows_, rows_);
    unchanged_[size_t(b)] = BandUnchanged(top, bottom);
    if (unchanged_[size_t(b)]) continue;
    if (!damage.rows.empty() && damage.rows.back().second == top)
      damage.rows.back().second = bottom;
    else
      damage.rows.push_back({top, bottom});
  }
  return damage;
}

FrameDamage BandRenderer::FlushFrame() {
  if (commands_.size() != last_.size()) diverged_ = true;
  FrameDamage damage = MarkUnchangedBands();
  if (!damage.None()) Draw();
  unchanged_.clear();
  last_.swap(commands_);
  have_last_ = true;
  commands_.clear();
  diverged_ = false;
  rows_ = 0;
  return damage;
}

void BandRenderer::Flush() {
  Draw();
  commands_.clear();
  last_.clear();
  have_last_ = false;
  diverged_ = false;
  rows_ = 0;
}

void BandRenderer::Draw() {
  if (commands_.empty()) return;
  size_t band_size = 0;
  for (const Command& c : commands_) {
    if (c.pixels == nullptr)
      band_size = std::max(band_size, size_t(band_rows_) * std::max(size_t(c.width), c.stride));
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
