#include "child_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "console_internal.h"

namespace {
using Clock = std::chrono::steady_clock;
constexpr int kChildTimeoutMs = 10000;
}  // namespace

std::string read_until(int fd, std::string_view end, int timeout_ms) {
  std::string text;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (end.empty() || !text.ends_with(end)) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char bytes[256];
    ssize_t n = read(fd, bytes, sizeof bytes);
    if (n <= 0) break;
    text.append(bytes, static_cast<size_t>(n));
  }
  return text;
}

int wait_for(pid_t pid, int timeout_ms, int flags) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  int status = 0;
  while (waitpid(pid, &status, flags | WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return status;
}

std::string run_in_child(int stdin_fd, const std::function<std::string()>& body) {
  int result[2];
  if (pipe(result) != 0) return "no pipe";
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) return "no fork";
  if (pid == 0) {
    close(result[0]);
    alarm(kChildTimeoutMs / 1000);  // a hang ends the child instead of the test run
    if (stdin_fd >= 0) {
      dup2(stdin_fd, STDIN_FILENO);
    } else {
      close(STDIN_FILENO);
    }
    ConsoleReset();
    std::string text = body();
    ssize_t written = write(result[1], text.data(), text.size());
    _exit(written == static_cast<ssize_t>(text.size()) ? 0 : 3);
  }
  close(result[1]);
  if (stdin_fd >= 0) close(stdin_fd);
  std::string text = read_until(result[0], "", kChildTimeoutMs);
  close(result[0]);
  int status = wait_for(pid, kChildTimeoutMs);
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    text += " [child failed, wait status " + std::to_string(status) + "]";
  return text;
}
