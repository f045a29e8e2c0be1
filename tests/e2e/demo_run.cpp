#include "demo_run.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace e2e {

DemoRun::DemoRun(const RunOptions& options) {
  winsize size = options.size.value_or(winsize{});
  if (openpty(&master_, &slave_, nullptr, nullptr, options.size ? &size : nullptr) != 0) return;
  tcgetattr(slave_, &before_);
  int errors[2], input[2] = {-1, -1};
  if (pipe(errors) != 0) return;
  if (options.stdin_pipe && pipe(input) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    setsid();
    ioctl(slave_, TIOCSCTTY, 0);
    dup2(options.stdin_pipe ? input[0] : slave_, 0);
    if (options.stdin_pipe) {
      close(input[0]);
      close(input[1]);
    }
    dup2(slave_, 1);
    dup2(errors[1], 2);
    if (!options.stdout_path.empty()) {
      const int out = open(options.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0) _exit(126);
      dup2(out, 1);
      close(out);
    }
    close(master_);
    close(errors[0]);
    if (chdir(options.directory.c_str()) != 0) _exit(127);
    for (const auto& name : options.unset) unsetenv(name.c_str());
    for (const auto& [name, value] : options.env) setenv(name.c_str(), value.c_str(), 1);
    // As a shell starts a program, whatever this test run inherited.
    for (int sig = 1; sig < NSIG; sig++) signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const std::string program = options.program.empty() ? TRANSDEMO_PATH : options.program;
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& argument : options.arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(errors[1]);
  error_pipe_ = errors[0];
  if (options.stdin_pipe) {
    close(input[0]);
    stdin_pipe_ = input[1];
  }
}

DemoRun::~DemoRun() {
  if (pid_ > 0 && !ended_) Wait(std::chrono::milliseconds(0));
  for (int fd : {master_, slave_, error_pipe_, stdin_pipe_}) {
    if (fd >= 0) close(fd);
  }
}

void DemoRun::Type(const std::string& keys) {
  if (!typed_ && !ended_ && pid_ > 0) {
    const auto running = [this] {
      siginfo_t info{};
      return waitid(P_PID, id_t(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while ((SettingsNow().c_lflag & ECHO) && std::chrono::steady_clock::now() < deadline &&
           running())
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  TypeNow(keys);
}

void DemoRun::TypeNow(const std::string& keys) {
  typed_ = true;
  if (master_ >= 0 && !keys.empty()) {
    [[maybe_unused]] ssize_t written = write(master_, keys.data(), keys.size());
  }
}

void DemoRun::TypeStdin(const std::string& keys) {
  if (stdin_pipe_ >= 0 && !keys.empty()) {
    [[maybe_unused]] ssize_t written = write(stdin_pipe_, keys.data(), keys.size());
  }
}

void DemoRun::CloseTerminal() {
  for (int* fd : {&master_, &slave_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

long DemoRun::PeakMemoryKib() const {
  if (pid_ <= 0 || ended_) return 0;
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

void DemoRun::Resize(const winsize& size) {
  ioctl(master_, TIOCSWINSZ, &size);
}

bool DemoRun::Read(size_t most, int timeout_ms) {
  pollfd fd{master_, POLLIN, 0};
  if (poll(&fd, 1, timeout_ms) <= 0 || !(fd.revents & POLLIN)) return false;
  std::string buffer(most, '\0');
  const ssize_t n = read(master_, buffer.data(), most);
  if (n <= 0) return false;
  output_.append(buffer.data(), size_t(n));
  return true;
}

void DemoRun::Drain(int timeout_ms) {
  pollfd fds[2] = {{master_, POLLIN, 0}, {error_pipe_, POLLIN, 0}};
  if (poll(fds, 2, timeout_ms) <= 0) return;
  char buffer[1 << 16];  // frames in a terminal run to megabytes
  if (fds[0].revents & POLLIN) {
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n > 0) output_.append(buffer, size_t(n));
  }
  if (fds[1].revents & POLLIN) {
    const ssize_t n = read(error_pipe_, buffer, sizeof buffer);
    if (n > 0) errors_.append(buffer, size_t(n));
  }
}

bool DemoRun::WaitForOutput(const std::string& text, std::chrono::milliseconds limit, size_t from) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  // Each pass looks only at what came since the last, and the text's length before it.
  size_t start = from;
  while (output_.find(text, start) == std::string::npos) {
    if (output_.size() >= from + text.size()) start = output_.size() - text.size() + 1;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Drain(20);
  }
  return true;
}

bool DemoRun::WaitForErrors(const std::string& text, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (errors_.find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Drain(20);
  }
  return true;
}

void DemoRun::Signal(int sig) {
  if (pid_ > 0 && !ended_) kill(pid_, sig);
}

int DemoRun::Wait(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  for (;;) {
    Drain(10);
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      ended_ = true;
      return -1;
    }
  }
  ended_ = true;
  if (WIFSIGNALED(status)) end_signal_ = WTERMSIG(status);
  for (int i = 0; i < 5; i++) Drain(5);  // what was written just before the end
  while (Read(1 << 16, 5)) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

termios DemoRun::SettingsNow() const {
  termios now{};
  tcgetattr(slave_, &now);
  return now;
}

ShellRun RunShell(const std::string& directory, const std::string& command,
                  const std::map<std::string, std::string>& env, std::chrono::milliseconds limit) {
  ShellRun result;
  int out[2], err[2];
  if (pipe(out) != 0) return result;
  if (pipe(err) != 0) return result;
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {null, out[0], out[1], err[0], err[1]}) close(fd);
    if (chdir(directory.c_str()) != 0) _exit(127);
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* texts[2] = {&result.out, &result.err};
  bool killed = false;
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(-pid, SIGKILL);
      killed = true;
      break;
    }
    if (poll(fds, 2, 50) <= 0) continue;
    for (int i = 0; i < 2; i++) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        texts[i]->append(buffer, size_t(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
      }
    }
  }
  for (const pollfd& fd : fds) {
    if (fd.fd >= 0) close(fd.fd);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  result.cpu_seconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  if (!killed) result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

std::string Demo() {
  return "'" TRANSDEMO_PATH "'";
}

std::string MakeTempDir() {
  char pattern[] = "/tmp/transdemo-e2e-XXXXXX";
  const char* dir = mkdtemp(pattern);
  return dir ? dir : "/tmp";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(path));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool WaitForFileText(const std::string& path, const std::string& text,
                     std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (ReadFile(path).find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

bool SameTerminalSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

}  // namespace e2e
