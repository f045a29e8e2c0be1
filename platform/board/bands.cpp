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
#if defined(__EMSCRIPTEN__)
  return 1;  // a web page draws on its one thread
#else
  cpu_set_t cpus;
  if (sched_getaffinity(0, sizeof cpus, &cpus) == 0) return std::max(1, CPU_COUNT(&cpus));
  return int(std::max(1u, std::thread::hardware_concurrency()));
#endif
}

int DrawingThreads(int setting, size_t frame_pixels) {
  const int cores = UsableCores();
  if (setting > 0) return std::min(setting, cores);
  const size_t worth = (frame_pixels + kPixelsPerThread - 1) / kPixelsPerThread;
  return int(std::clamp<size_t>(worth, 1, size_t(cores)));
}

namespace {

// Worker k keeps to the k-th core the process may use counting from the one
// the caller runs on now (the caller's thread, free to move, keeps its own):
// woken on the waker's core, a worker would otherwise take turns with it there
// while another core idles.
void KeepToCore([[maybe_unused]] std::thread& worker, [[maybe_unused]] int k) {
#if !defined(__EMSCRIPTEN__)
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
#endif
}

}  // namespace

BandRenderer::BandRenderer(int threads, int band_rows)
    : band_rows_((std::max(1, band_rows) + 3) / 4 * 4) {
  // Everything that may fail comes before the first thread starts: a
  // constructor that threw with threads running would end the program.
  threads = std::max(1, threads);
#if defined(__EMSCRIPTEN__)
  threads = 1;  // a web page has the one thread
#endif
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

// Workers are woken as a frame's commands unlike the last frame's are
// recorded, not when it is flushed: waking takes a while, and by the flush
// they are ready. They wait for it briefly, then sleep again; between frames,
// and through frames that repeat the last, they never spin. Only the workers
// the frame needs are woken.
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

bool BandRenderer::SameCommand(const Command& a, const Command& b) {
  if (a.kind != b.kind || a.pixels != b.pixels || a.width != b.width || a.stride != b.stride ||
      a.height != b.height || a.value != b.value || a.out != b.out || a.rgb565 != b.rgb565)
    return false;
  return a.kind != Kind::kTriangle || SameTriangle(a.triangle, b.triangle);
}

void BandRenderer::Record(const Command& command, int rows) {
  const size_t i = commands_.size();
  if (!diverged_ && (!have_last_ || i >= last_.size() || !SameCommand(command, last_[i])))
    diverged_ = true;
  commands_.push_back(command);
  rows_ = std::max(rows_, rows);
  if (diverged_) WakeWorkers();
}

void BandRenderer::RecordClear(uint32_t* pixels, int width, int height, size_t stride,
                               uint32_t value, bool rgb565) {
  Record({.kind = Kind::kClear,
          .pixels = pixels,
          .width = width,
          .stride = stride,
          .height = height,
          .value = value,
          .rgb565 = rgb565},
         height);
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
          .out = out},
         height);
}

void BandRenderer::RecordTriangle(const PreparedTriangle& t, uint32_t* pixels, size_t stride) {
  Record({.kind = Kind::kTriangle, .pixels = pixels, .stride = stride, .triangle = t},
         t.setup.row_end);
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
      const uint32_t* rows = c.pixels ? c.pixels + size_t(top) * size_t(c.width) : own;
      if (c.kind == Kind::kAverageDown) {
        // Bands are whole blocks: band_rows_ is a multiple of every ssaa.
        const int ssaa = int(c.value);
        AverageDown(rows, c.width, end - top, ssaa, c.out + size_t(top / ssaa) * c.stride,
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

FrameDamage BandRenderer::FlushFrame(bool* complete) {
  if (commands_.size() != last_.size()) diverged_ = true;
  FrameDamage damage = MarkUnchangedBands();
  const bool drawn = damage.None() || Draw();
  if (complete) *complete = drawn;
  unchanged_.clear();
  if (!drawn) {  // what the buffer holds is not what the commands draw
    Forget();
    return {};
  }
  last_.swap(commands_);
  have_last_ = true;
  commands_.clear();
  diverged_ = false;
  rows_ = 0;
  woken_ = 0;
  return damage;
}

bool BandRenderer::Flush() {
  const bool drawn = Draw();
  Forget();
  return drawn;
}

void BandRenderer::Forget() {
  commands_.clear();
  last_.clear();
  have_last_ = false;
  diverged_ = false;
  rows_ = 0;
  woken_ = 0;
}

bool BandRenderer::Draw() {
  if (commands_.empty()) return true;
  size_t band_size = 0;
  for (const Command& c : commands_) {
    if (c.pixels == nullptr)
      band_size = std::max(band_size, size_t(band_rows_) * std::max(size_t(c.width), c.stride));
  }
  try {
    for (auto& rows : band_pixels_) {
      if (rows.size() < band_size) rows.resize(band_size);
    }
  } catch (const std::bad_alloc&) {
    return false;  // no rows to draw the bands in: the frame is dropped whole
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
