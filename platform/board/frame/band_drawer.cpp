#include "frame/band_drawer.h"

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

BandDrawer::BandDrawer(int threads, int band_rows)
    : band_rows_((std::max(1, band_rows) + 3) / 4 * 4) {
  // Everything that may fail comes before the first thread starts: a
  // constructor that threw with threads running would end the program.
  threads = std::max(1, threads);
#if defined(__EMSCRIPTEN__)
  threads = 1;  // a web page has the one thread
#endif
  band_memory_.resize(size_t(threads));
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

BandDrawer::~BandDrawer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  for (auto& worker : workers_) {
    worker->wake.notify_one();
    worker->thread.join();
  }
}

int BandDrawer::Needed(int rows) const {
  const int bands = (rows + band_rows_ - 1) / band_rows_;
  return std::clamp(bands, 1, threads_);
}

// Workers are woken as a frame is recorded, not when it is drawn: waking takes
// a while, and by then they are ready. They wait for it briefly, then sleep
// again; between frames they never spin. Only the workers the frame needs are
// woken.
void BandDrawer::Expect(int rows) {
  // Called for every command recorded: once every worker is woken (or there
  // are none) it costs no division.
  if (woken_ >= threads_ - 1) return;
  const int wanted = Needed(rows) - 1;
  if (wanted <= woken_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int w = woken_; w < wanted; w++) workers_[size_t(w)]->wakes++;
  }
  for (int w = woken_; w < wanted; w++) workers_[size_t(w)]->wake.notify_one();
  woken_ = wanted;
}

void BandDrawer::EndFrame() {
  woken_ = 0;
  noted_ = 0;
  noted_band_bytes_ = 0;
  tallies_.clear();
}

// Each thread takes the next region not yet taken and draws every command in
// order within it, so the region's rows stay in this core's cache; a thread
// that wakes late simply takes fewer regions.
void BandDrawer::DrawBands(int thread) {
  void* own = band_memory_[size_t(thread)].data();
  for (;;) {
    const size_t r = size_t(next_region_.fetch_add(1, std::memory_order_relaxed));
    if (r >= regions_.size()) return;
    const Region& region = regions_[r];
    const int top = region.top, bottom = region.bottom;
    const uint32_t* first = commands_of_.data() + region.start;
    const uint32_t* last = commands_of_.data() + region.end;
    // The record of the command three ahead asked for, and the next one's
    // first rows worked out (its record asked for two turns before) before
    // this one draws.
    SpansAhead ahead[2];
    int turn = 0;
    for (const uint32_t* i = first + 1; i < last && i < first + 3; i++)
      PrefetchCommand((*commands_)[*i]);
    if (first < last) WorkAhead((*commands_)[*first], top, bottom, &ahead[0]);
    for (const uint32_t* i = first; i < last; i++, turn ^= 1) {
      if (i + 3 < last) PrefetchCommand((*commands_)[i[3]]);
      if (i + 1 < last) WorkAhead((*commands_)[i[1]], top, bottom, &ahead[turn ^ 1]);
      DrawInBand((*commands_)[*i], top, bottom, own, &ahead[turn]);
    }
  }
}

bool BandDrawer::Draw(const std::vector<BandCommand>& commands, int rows,
                      const std::vector<uint8_t>& skip) {
  if (commands.empty()) return true;
  size_t band_size = noted_band_bytes_;
  if (noted_ != commands.size()) {
    band_size = 0;
    for (const BandCommand& command : commands)
      band_size = std::max(band_size, BandRowBytes(command, band_rows_));
  }
  try {
    for (PixelMemory& own : band_memory_) {
      if (own.bytes() < band_size) own = PixelMemory(band_size);
    }
  } catch (const std::bad_alloc&) {
    return false;  // no rows to draw the bands in: the frame is dropped whole
  }
  commands_ = &commands;
  skip_ = &skip;
  rows_ = rows;
  const int drawing = Needed(rows);
  BinCommands(commands, rows, drawing, band_size == 0);
  incomplete_ = false;
  next_region_.store(0, std::memory_order_relaxed);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    busy_ = drawing - 1;
    draws_++;
    for (int w = 0; w < drawing - 1; w++)
      workers_[size_t(w)]->job.store(draws_, std::memory_order_release);
  }
  for (int w = 0; w < drawing - 1; w++) workers_[size_t(w)]->wake.notify_one();
  DrawBandsSafely(0);
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this] { return busy_ == 0; });
  last_threads_ = drawing;
  return !incomplete_;
}

bool CrowdedBand(uint32_t shapes, uint64_t shape_rows, int band_rows) {
  return shapes >= kCrowdedBand && shape_rows * 2 <= uint64_t(shapes) * uint64_t(band_rows);
}

std::vector<DrawRegion> DrawRegions(const std::vector<uint8_t>& crowded_band,
                                    const std::vector<uint8_t>& skip, int threads, bool joinable) {
  const int bands = int(crowded_band.size());
  const int most = threads <= 1 ? bands : std::max(1, bands / (4 * threads));
  const auto skipped = [&](int b) { return size_t(b) < skip.size() && skip[size_t(b)]; };
  const auto crowded = [&](int b) { return crowded_band[size_t(b)] != 0; };
  std::vector<DrawRegion> regions;
  for (int b = 0; b < bands; b++) {
    if (skipped(b)) continue;
    if (joinable && !regions.empty()) {
      DrawRegion& last = regions.back();
      if (last.end_band == b && crowded(b - 1) && crowded(b) && b - last.first_band < most) {
        last.end_band = b + 1;
        continue;
      }
    }
    regions.push_back({b, b + 1});
  }
  return regions;
}

// Each region's commands, in order: a frame of thousands of small triangles
// then costs each region only its own, not a look at every one.
void BandDrawer::BinCommands(const std::vector<BandCommand>& commands, int rows, int drawing,
                             bool joinable) {
  const size_t bands = size_t((rows + band_rows_ - 1) / band_rows_);
  const auto each_band = [&](const BandCommand& command, auto&& f) {
    const int top = FirstRow(command);
    const int end = std::min(RowEnd(command), rows);
    for (int b = top / band_rows_; b * band_rows_ < end; b++) f(size_t(b));
  };
  // Counted here unless every command was noted as it was recorded.
  if (noted_ != commands.size()) {
    tallies_.clear();
    for (const BandCommand& command : commands)
      Tally(FirstRow(command), std::min(RowEnd(command), rows),
            std::holds_alternative<TriangleCommand>(command));
  }
  tallies_.resize(bands);  // noted commands fall short of `rows` where nothing touches it
  crowded_.resize(bands);
  // A band with no shapes (only cleared, say) loses nothing drawn with its
  // neighbours.
  for (size_t b = 0; b < bands; b++) {
    const Tallies& t = tallies_[b];
    crowded_[b] = t.shapes == 0 || CrowdedBand(t.shapes, t.shape_rows, band_rows_);
  }
  const std::vector<DrawRegion> joined = DrawRegions(crowded_, *skip_, drawing, joinable);
  // A region has room for its bands' counts: a command crossing between two
  // of them takes one place, not two.
  band_region_.assign(bands, -1);
  regions_.clear();
  uint32_t room = 0;
  for (const DrawRegion& j : joined) {
    regions_.push_back({j.first_band * band_rows_, j.end_band * band_rows_, room, room});
    for (int b = j.first_band; b < j.end_band; b++) {
      band_region_[size_t(b)] = int32_t(regions_.size() - 1);
      room += tallies_[size_t(b)].commands;
    }
  }
  // One region of every band takes every command, in order: no record read.
  if (joined.size() == 1 && joined[0] == DrawRegion{0, int(bands)}) {
    commands_of_.resize(commands.size());
    for (size_t i = 0; i < commands.size(); i++) commands_of_[i] = uint32_t(i);
    regions_[0].end = uint32_t(commands.size());
    return;
  }
  commands_of_.resize(room);
  for (size_t i = 0; i < commands.size(); i++) {
    int32_t last = -1;
    each_band(commands[i], [&](size_t b) {
      const int32_t r = band_region_[b];
      if (r < 0 || r == last) return;
      commands_of_[regions_[size_t(r)].end++] = uint32_t(i);
      last = r;
    });
  }
}

// A span loop may take memory (the general 16-bit one keeps a row): a thread
// that runs out stops drawing, and the bands it would have drawn go to the
// others or stay undrawn. Nothing is thrown out of a worker.
void BandDrawer::DrawBandsSafely(int thread) {
  try {
    DrawBands(thread);
  } catch (...) {
    incomplete_ = true;
  }
}

void BandDrawer::Work(int thread, Worker& me) {
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
