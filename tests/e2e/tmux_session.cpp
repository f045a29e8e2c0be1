#include "tmux_session.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <thread>

namespace e2e {
namespace {

// Single quotes for the shell.
std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string Run(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) out.append(buffer.data(), n);
  pclose(pipe);
  return out;
}

}  // namespace

bool HaveTmux() {
  return std::system("command -v tmux >/dev/null 2>&1") == 0;
}

TmuxSession::TmuxSession(int columns, int rows, const std::string& command) {
  // A server per session: tests in parallel, or a tmux the tests run inside,
  // never meet.
  static std::atomic<int> count{0};
  socket_ = "transdemo-test-" + std::to_string(getpid()) + "-" + std::to_string(count++);
  Tmux("new-session -d -x " + std::to_string(columns) + " -y " + std::to_string(rows) + " " +
       Quoted(command));
  started_ = Query("#{pane_pid}") != "";
  socket_path_ = Query("#{socket_path}");
}

TmuxSession::~TmuxSession() {
  Tmux("kill-server");
  if (!socket_path_.empty()) unlink(socket_path_.c_str());  // not always removed by the server
}

std::string TmuxSession::Tmux(const std::string& arguments) {
  return Run("env -u TMUX tmux -L " + socket_ + " -f /dev/null " + arguments + " 2>/dev/null");
}

std::string TmuxSession::Capture(bool escapes) {
  // -N: cells at the end of a line come too, spaces with a colour included.
  return Tmux(std::string("capture-pane -p -N") + (escapes ? " -e" : ""));
}

std::string TmuxSession::Query(const std::string& format) {
  std::string answer = Tmux("display-message -p " + Quoted(format));
  while (!answer.empty() && answer.back() == '\n') answer.pop_back();
  return answer;
}

void TmuxSession::SendKeys(const std::string& keys, bool literal) {
  Tmux(std::string("send-keys ") + (literal ? "-l " : "") + Quoted(keys));
}

bool TmuxSession::WaitForScreen(const std::string& text, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (Capture(false).find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace e2e
