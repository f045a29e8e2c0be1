#if !defined(_WIN32)
#include "terminal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "signal_registry.h"

namespace {

// A terminal held, as its signal clean-ups read it: written before `held` is
// set, unchanged until it is cleared.
struct Held {
  std::atomic<bool> held{false};
  dev_t device = 0;
  int fd = -1;  // our own descriptor: the caller may close theirs
  termios user{};
  termios keys{};
  int holds = 0;  // under `lock`
};

// Standard input and /dev/tty are nearly always one terminal; a few more
// cost nothing.
constexpr int kTerminals = 4;
Held terminals[kTerminals];
std::mutex lock;
int cleanup_handle = -1;

// Both async-signal-safe: tcsetattr is, and a held entry does not change.
void PutBack(void*) {
  for (Held& t : terminals) {
    if (t.held.load(std::memory_order_acquire)) tcsetattr(t.fd, TCSANOW, &t.user);
  }
}
void TakeAgain(void*) {
  for (Held& t : terminals) {
    if (t.held.load(std::memory_order_acquire)) tcsetattr(t.fd, TCSANOW, &t.keys);
  }
}

Held* Find(dev_t device) {
  for (Held& t : terminals) {
    if (t.holds > 0 && t.device == device) return &t;
  }
  return nullptr;
}

// Which terminal fd is. /dev/tty is a device of its own whatever terminal
// it stands for, so the controlling terminal, however reached, is one.
constexpr dev_t kControlling = dev_t(-1);
bool DeviceOf(int fd, dev_t* device) {
  struct stat st {};
  if (!isatty(fd) || fstat(fd, &st) != 0) return false;
  *device = tcgetsid(fd) != -1 ? kControlling : st.st_rdev;
  return true;
}

}  // namespace

int TerminalTakeKeys(int fd) {
  dev_t device;
  if (!DeviceOf(fd, &device)) return -1;
  std::lock_guard guard(lock);
  if (Held* t = Find(device)) {
    t->holds++;
    return int(t - terminals);
  }
  Held* t = nullptr;
  for (Held& free : terminals) {
    if (free.holds == 0) t = &free;
  }
  if (t == nullptr) return -1;
  termios user{};
  if (tcgetattr(fd, &user) != 0) return -1;
  termios keys = user;
  // ISIG stays so Ctrl+C, Ctrl+\ and Ctrl+Z act as usual; IXON goes so Ctrl+S is a key rather
  // than a frozen screen; CR and LF arrive as typed.
  keys.c_lflag &= ~(ECHO | ICANON | IEXTEN);
  keys.c_iflag &= ~(ICRNL | INLCR | IGNCR | IXON);
  keys.c_cc[VMIN] = 1;
  keys.c_cc[VTIME] = 0;
  const int own = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  if (own < 0) return -1;
  if (t->fd >= 0) close(t->fd);  // left open while other terminals were held
  t->device = device;
  t->fd = own;
  t->user = user;
  t->keys = keys;
  t->holds = 1;
  t->held.store(true, std::memory_order_release);
  if (cleanup_handle < 0) cleanup_handle = signals::Add({PutBack, PutBack, TakeAgain, nullptr});
  tcsetattr(own, TCSANOW, &keys);
  return int(t - terminals);
}

void TerminalGiveKeysBack(int hold) {
  if (hold < 0 || hold >= kTerminals) return;
  std::lock_guard guard(lock);
  Held* t = &terminals[hold];
  if (t->holds == 0 || --t->holds > 0) return;
  t->held.store(false, std::memory_order_release);
  tcsetattr(t->fd, TCSANOW, &t->user);
  for (const Held& other : terminals) {
    if (other.holds > 0) return;
  }
  // A handler may read a descriptor until the clean-up is removed: while
  // other terminals are held this one stays open (until its entry is used
  // again); after, none is read any more.
  signals::Remove(cleanup_handle);
  cleanup_handle = -1;
  for (Held& other : terminals) {
    if (other.fd >= 0) close(other.fd);
    other.fd = -1;
  }
}
#endif
