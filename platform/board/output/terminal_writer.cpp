#include "output/terminal_writer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "output/display.h"

namespace softboard {
namespace {

// Signals that are not about this thread go to the game loop's, as the
// program expects; a fault here is still handled here.
void BlockProcessSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGCONT, SIGWINCH, SIGUSR1, SIGUSR2,
                  SIGALRM, SIGCHLD})
    sigaddset(&set, sig);
#ifdef SIGRTMIN
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) sigaddset(&set, sig);
#endif
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// Encoding runs beside the game loop; where the cores are all busy, the
// game loop comes first. (Threads chafa starts from here inherit this.)
constexpr int kWriterNiceness = 5;

}  // namespace

FrameWriter::FrameWriter(TerminalScreen& screen, std::unique_ptr<FrameEncoder> encoder)
    : screen_(screen), encoder_(std::move(encoder)) {
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

bool FrameWriter::SameAsLast(const PixelRows& frame) {
  if (frame.width != frame_width_ || frame.height != frame_height_) return false;
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
  return true;
}

void FrameWriter::Submit(const PixelRows& frame, const CellLayout& layout, int cell_width,
                         int cell_height, bool clear) {
  if (!Idle()) return;
  frame_.resize(size_t(frame.width) * size_t(frame.height));
  DrawImage(frame, ArgbRows(frame_.data(), frame.width, frame.height));
  frame_width_ = frame.width;
  frame_height_ = frame.height;
  layout_ = layout;
  cell_width_ = cell_width;
  cell_height_ = cell_height;
  clear_ = clear;
  busy_.store(true, std::memory_order_release);
  {
    std::lock_guard lock(mutex_);
    pending_ = true;
  }
  handed_over_.notify_one();
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

bool FrameWriter::WriteOut(const std::string& bytes, unsigned entries) {
  size_t done = 0;
  while (done < bytes.size()) {
    if (stopping_ || screen_.entries.load() != entries) return false;
    const ssize_t n = write(screen_.writer_fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
      gone_ = true;
      return false;
    }
    pollfd fds[2] = {{screen_.writer_fd, POLLOUT, 0}, {wake_[0], POLLIN, 0}};
    poll(fds, wake_[0] >= 0 ? 2 : 1, -1);
  }
  return true;
}

void FrameWriter::Run() {
  BlockProcessSignals();
  const id_t self = id_t(gettid());  // on Linux a thread's niceness is its own
  setpriority(PRIO_PROCESS, self, std::min(getpriority(PRIO_PROCESS, self) + kWriterNiceness, 19));
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      handed_over_.wait(lock, [this] { return pending_ || stop_; });
      if (stop_) return;
      pending_ = false;
    }
    const unsigned entries = screen_.entries.load();
    bytes_.clear();
    Compose();
    encoder_->Encode(picture_.data(), layout_, cell_width_, cell_height_, clear_, &bytes_);
    if (WriteOut(bytes_, entries)) written_++;
    busy_.store(false, std::memory_order_release);
  }
}

}  // namespace softboard
