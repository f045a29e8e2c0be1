#include "output/terminal_writer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "output/display.h"

namespace softboard {
namespace {

// Signals that are not about this thread go to the game loop's, as the
// program expects; a fault here is still handled here. SIGPIPE too: a write
// to a pipe whose reader went fails instead.
void BlockProcessSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGCONT, SIGWINCH, SIGUSR1, SIGUSR2,
                  SIGALRM, SIGCHLD, SIGPIPE})
    sigaddset(&set, sig);
#ifdef SIGRTMIN
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) sigaddset(&set, sig);
#endif
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// Encoding runs beside the game loop; where the cores are all busy, the
// game loop comes first. (Threads chafa starts from here inherit this.)
constexpr int kWriterNiceness = 5;
// Bands a box is cut into: small enough that one crosses a slow link in a
// few tens of milliseconds, few enough that each costs little.
constexpr int kBands = 12;

double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

int64_t Ticks(PaceClock::time_point t) {
  return t.time_since_epoch().count();
}

}  // namespace

FrameWriter::FrameWriter(TerminalScreen& screen, std::unique_ptr<FrameEncoder> encoder, int fps)
    : screen_(screen), encoder_(std::move(encoder)) {
  pace_.fps = fps;
  ladder_ = encoder_->Ladder();
  if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
  thread_ = std::thread([this] { Run(); });
}

FrameWriter::~FrameWriter() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  stopping_ = true;
  handed_over_.notify_one();
  if (wake_[1] >= 0) {
    [[maybe_unused]] ssize_t n = write(wake_[1], "x", 1);
  }
  thread_.join();
  for (int fd : wake_) {
    if (fd >= 0) close(fd);
  }
}

bool FrameWriter::Ready() const {
  return !busy_seen_.load(std::memory_order_acquire) && !out_of_memory_.load() &&
         Ticks(PaceClock::now()) >= next_at_.load();
}

void FrameWriter::Want() {
  if (want_.exchange(true)) return;
  { std::lock_guard lock(mutex_); }  // not between the writer's look at want_ and its wait
  handed_over_.notify_one();
}

bool FrameWriter::SameAsLast(const PixelRows& frame) {
  if (!frame_exact_ || frame.width != frame_width_ || frame.height != frame_height_) return false;
  row_.resize(size_t(frame.width));
  for (int y = 0; y < frame.height; y++) {
    // 8-bit rows are compared where they are; 5-6-5 ones widened first.
    const uint32_t* row = frame.Argb(y);
    if (frame.layout != PixelLayout::kArgb8888) {
      CopyImageRow(frame, y, row_.data());
      row = row_.data();
    }
    if (!std::equal(row, row + frame.width, frame_.begin() + ptrdiff_t(y) * frame.width))
      return false;
  }
  // What changed since changed back: nothing newer is wanted after all.
  if (want_.exchange(false)) {
    { std::lock_guard lock(mutex_); }
    handed_over_.notify_one();
  }
  return true;
}

bool FrameWriter::Submit(const PixelRows& frame, const TerminalGrid& grid, bool clear) {
  {
    std::lock_guard lock(mutex_);
    if (busy_ || out_of_memory_) return false;
    busy_ = true;
    busy_seen_.store(true, std::memory_order_release);
  }
  // A frame larger than any picture is kept at the ceiling's size.
  int width = frame.width, height = frame.height;
  FitUnderCeiling(&width, &height);
  try {
    frame_.resize(size_t(width) * size_t(height));
  } catch (const std::bad_alloc&) {
    frame_.clear();
    frame_.shrink_to_fit();
    out_of_memory_ = true;
    std::lock_guard lock(mutex_);
    busy_ = false;
    busy_seen_.store(false, std::memory_order_release);
    return false;
  }
  DrawImage(frame, ArgbRows(frame_.data(), width, height));
  frame_width_ = width;
  frame_height_ = height;
  frame_exact_ = width == frame.width && height == frame.height;
  grid_ = grid;
  clear_ = clear;
  {
    std::lock_guard lock(mutex_);
    pending_ = true;
  }
  handed_over_.notify_one();
  return true;
}

void FrameWriter::Compose() {
  const CellLayout& l = layout_;
  const bool whole =
      l.frame_x == 0 && l.frame_y == 0 && l.frame_width == l.width && l.frame_height == l.height;
  if (whole)
    picture_.resize(size_t(l.width) * size_t(l.height));
  else
    picture_.assign(size_t(l.width) * size_t(l.height), 0xFF000000u);
  const PixelRows frame = ArgbRows(frame_.data(), frame_width_, frame_height_);
  DrawImage(frame,
            ArgbRows(picture_.data() + size_t(l.frame_y) * size_t(l.width) + size_t(l.frame_x),
                     l.frame_width, l.frame_height, size_t(l.width)));
  // The board's alpha plane is no part of the picture.
  for (uint32_t& pixel : picture_) pixel |= 0xFF000000u;
}

bool FrameWriter::SplitBands() {
  std::vector<Band> bands;
  if (ShowsPixels(mode())) {
    bands = SplitIntoBands(layout_, cell_height_, LayoutRulesFor(mode()), kBands);
  } else {
    bands.push_back({0, layout_.rows, 0, layout_.height});  // symbols: the box at once
  }
  if (bands == bands_) return false;
  bands_ = std::move(bands);
  shown_.assign(bands_.size(), Shown{});
  return true;
}

uint64_t FrameWriter::BandHash(const Band& band) const {
  // FNV-1a over the band's pixels, two at a time.
  uint64_t hash = 14695981039346656037ull;
  const uint32_t* p = picture_.data() + size_t(band.y) * size_t(layout_.width);
  const size_t n = size_t(band.height) * size_t(layout_.width);
  for (size_t i = 0; i + 1 < n; i += 2)
    hash = (hash ^ (uint64_t(p[i]) << 32 | p[i + 1])) * 1099511628211ull;
  if (n % 2) hash = (hash ^ p[n - 1]) * 1099511628211ull;
  return hash;
}

bool FrameWriter::WriteOut(const std::string& bytes, unsigned entries, WriteRecord* record) {
  size_t done = 0;
  bool held = false;
  PaceClock::time_point held_since{};
  const auto finish = [&] {
    record->bytes += done;
    if (held)
      record->held_seconds += std::chrono::duration<double>(PaceClock::now() - held_since).count();
  };
  while (done < bytes.size()) {
    if (stopping_ || screen_.entries.load() != entries) {
      finish();
      return false;
    }
    const ssize_t n = write(screen_.writer_fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += size_t(n);
      (held || record->held_bytes > 0 ? record->held_bytes : record->before_held) += size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
      gone_ = true;
      finish();
      return false;
    }
    if (!held) {
      held = true;
      held_since = PaceClock::now();
    }
    pollfd fds[2] = {{screen_.writer_fd, POLLOUT, 0}, {wake_[0], POLLIN, 0}};
    poll(fds, wake_[0] >= 0 ? 2 : 1, -1);
  }
  finish();
  return true;
}

bool FrameWriter::SendBand(size_t index, int quality, bool yield, WriteRecord* record) {
  const unsigned entries = screen_.entries.load();
  pieces_.clear();
  if (!encoder_->Encode(picture_.data(), layout_, bands_[index], int(index), cell_width_,
                        cell_height_, quality, &pieces_))
    throw std::bad_alloc();
  shown_[index].valid = false;
  for (size_t i = 0; i < pieces_.size(); i++) {
    if (i > 0 && yield && want_.load()) {
      WriteOut("\x1b[0m", entries, record);
      return false;
    }
    if (!WriteOut(pieces_[i], entries, record)) return false;
  }
  shown_[index] = {BandHash(bands_[index]), quality, true};
  return true;
}

void FrameWriter::Finished(PaceClock::time_point next) {
  next_at_.store(Ticks(next));
  bool settle = false;
  for (const Shown& s : shown_) settle |= !s.valid || s.quality != 0;
  std::lock_guard lock(mutex_);
  settle_due_ = settle && !bands_.empty();
  busy_ = false;
  busy_seen_.store(false, std::memory_order_release);
}

void FrameWriter::SendFrame() {
  const PaceClock::time_point start = PaceClock::now();
  const double cpu_start = ProcessCpuSeconds();
  want_ = false;  // set again if the picture changes before the next is taken
  const TerminalMode mode = encoder_->mode();
  const TerminalGrid cells = WithCellSize(SaneGrid(grid_));
  layout_ = LayOutFrame(frame_width_, frame_height_, grid_, LayoutRulesFor(mode));
  cell_width_ = cells.cell_width;
  cell_height_ = cells.cell_height;
  Compose();
  // Pictures of other bands may still be up: they go with the screen's clear.
  if (SplitBands()) clear_ = true;

  const unsigned entries = screen_.entries.load();
  WriteRecord record;
  const PaceClock::time_point write_start = PaceClock::now();
  bool whole = true;
  if (clear_) {
    shown_.assign(bands_.size(), Shown{});
    whole = WriteOut(encoder_->Clear(), entries, &record);
  }
  // Only the bands that changed, all at the quality that crosses the link in time.
  std::vector<size_t> changed;
  size_t pixels = 0;
  for (size_t b = 0; b < bands_.size(); b++) {
    if (shown_[b].valid && shown_[b].hash == BandHash(bands_[b])) continue;
    changed.push_back(b);
    pixels += size_t(layout_.width) * size_t(bands_[b].height);
  }
  const int quality = ChooseQuality(ladder_, pixels, FrameBudget(pace_));
  const size_t before = record.bytes;
  for (size_t b : changed) {
    if (!whole) break;
    whole = SendBand(b, quality, false, &record);
  }
  if (whole && !changed.empty()) LearnQuality(ladder_, quality, pixels, record.bytes - before);
  if (whole) written_++;
  LearnLink(pace_, record, write_start, PaceClock::now());
  const PaceClock::time_point next = NextFrameAt(pace_, start, ProcessCpuSeconds() - cpu_start);
  {
    std::lock_guard lock(mutex_);
    // Still means no newer frame at the next chance to take one either.
    settle_at_ = std::max({start + kSettleAfter, settle_gate_, next + kSettleAfter / 3});
  }
  Finished(next);
}

void FrameWriter::SendFullQuality() {
  const PaceClock::time_point start = PaceClock::now();
  const double cpu_start = ProcessCpuSeconds();
  want_ = false;
  WriteRecord record;
  bool whole = true;
  for (size_t b = 0; b < bands_.size() && whole; b++) {
    if (shown_[b].valid && shown_[b].quality == 0) continue;
    // Each band waits for the link to be nearly free, so that a newer frame
    // never queues behind more than one band.
    {
      std::unique_lock lock(mutex_);
      handed_over_.wait_until(lock, LinkFreeAt(pace_), [this] { return stop_ || want_.load(); });
      if (stop_ || want_.load()) whole = false;
    }
    if (!whole) break;
    const PaceClock::time_point write_start = PaceClock::now();
    WriteRecord band;
    whole = SendBand(b, 0, true, &band);
    LearnLink(pace_, band, write_start, PaceClock::now());
    record.Add(band);
    if (whole && want_.load()) whole = false;
  }
  if (whole) written_++;
  settle_gate_ =
      start + std::chrono::duration_cast<PaceClock::duration>(
                  std::chrono::duration<double>((ProcessCpuSeconds() - cpu_start) / kSendingShare));
  Finished(
      std::max(PaceClock::time_point(PaceClock::duration(next_at_.load())), LinkFreeAt(pace_)));
  if (!whole) {
    std::lock_guard lock(mutex_);
    settle_at_ = std::max(PaceClock::now() + kSettleAfter, settle_gate_);
  }
}

void FrameWriter::Run() {
  BlockProcessSignals();
  const id_t self = id_t(gettid());  // on Linux a thread's niceness is its own
  setpriority(PRIO_PROCESS, self, std::min(getpriority(PRIO_PROCESS, self) + kWriterNiceness, 19));
  for (;;) {
    bool settle = false;
    {
      std::unique_lock lock(mutex_);
      for (;;) {
        if (stop_) return;
        if (pending_) break;
        if (settle_due_ && !busy_ && !want_.load() && PaceClock::now() >= settle_at_) {
          settle = true;
          settle_due_ = false;
          busy_ = true;
          busy_seen_.store(true, std::memory_order_release);
          break;
        }
        if (settle_due_ && !want_.load())
          handed_over_.wait_until(lock, settle_at_);
        else
          handed_over_.wait(lock);
      }
      pending_ = false;
    }
    try {
      if (settle)
        SendFullQuality();
      else
        SendFrame();
    } catch (const std::bad_alloc&) {
      // Nothing more is taken; the display chooses what to show instead.
      picture_.clear();
      picture_.shrink_to_fit();
      shown_.assign(shown_.size(), Shown{});
      out_of_memory_ = true;
      Finished(PaceClock::now());
    }
  }
}

}  // namespace softboard
