// Runs the real demo (or another program) under a pseudo-terminal, as a user
// at a terminal would.
#pragma once

#include <sys/ioctl.h>
#include <termios.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

struct RunOptions {
  std::string directory;                    // the current directory of the run
  std::map<std::string, std::string> env;   // added to (or replacing) the environment
  std::vector<std::string> unset;           // removed from the environment
  std::optional<winsize> size = {};         // the terminal's size (none: 0 x 0)
  std::string stdout_path = {};             // standard output to this file, not the terminal
  std::string program = {};                 // what runs: the demo when empty
  std::vector<std::string> arguments = {};  // given to the program
  bool stdin_pipe = false;  // standard input from a pipe (TypeStdin), not the terminal
};

class DemoRun {
 public:
  explicit DemoRun(const RunOptions& options);
  ~DemoRun();
  DemoRun(const DemoRun&) = delete;
  DemoRun& operator=(const DemoRun&) = delete;

  // Types bytes into the terminal; the first time, once the program reads
  // keys one at a time (it takes the terminal at its first key read), or
  // after a few seconds, so that no key is echoed ahead of that.
  void Type(const std::string& keys);
  // Types bytes at once, whatever the terminal's settings.
  void TypeNow(const std::string& keys);
  // Writes bytes to standard input, where it is a pipe (RunOptions::stdin_pipe).
  void TypeStdin(const std::string& keys);
  // Closes the terminal's side of the pseudo-terminal, as a terminal window
  // closed would: the demo is hung up on.
  void CloseTerminal();
  // The most memory the process has held, in KiB (VmHWM); 0 once it has ended.
  long PeakMemoryKib() const;
  // Sends the demo a signal.
  void Signal(int sig);
  // Resizes the terminal, as a window around it would (the demo gets SIGWINCH).
  void Resize(const winsize& size);
  // Reads what the terminal was sent, at most `most` bytes, waiting up to
  // timeout_ms for some; false when nothing came.
  bool Read(size_t most, int timeout_ms);
  // Reads terminal output until it contains `text` (from byte `from` on) or
  // the time runs out.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit, size_t from = 0);
  // The same for standard error.
  bool WaitForErrors(const std::string& text, std::chrono::milliseconds limit);
  // Waits for the process to end (killing it after `limit`); the exit status,
  // or -1 when it had to be killed or died by a signal.
  int Wait(std::chrono::milliseconds limit);
  // The signal that ended the process, 0 if none (after Wait).
  int end_signal() const { return end_signal_; }

  int pid() const { return pid_; }
  const std::string& output() const { return output_; }
  const std::string& errors() const { return errors_; }
  const termios& settings_before() const { return before_; }
  // The terminal's settings now, as its next program would find them.
  termios SettingsNow() const;

 private:
  void Drain(int timeout_ms);

  int master_ = -1;
  int slave_ = -1;
  int error_pipe_ = -1;
  int stdin_pipe_ = -1;
  int pid_ = -1;
  bool ended_ = false;
  bool typed_ = false;
  int end_signal_ = 0;
  termios before_{};
  std::string output_;
  std::string errors_;
};

// A shell command run to its end: how it ended and what it wrote.
struct ShellRun {
  int status = -1;  // the exit status, 128 + the signal that ended it, or -1 if killed at the limit
  std::string out, err;
  double cpu_seconds = 0;  // user and system time of the command and what it waited for
};
// Runs `command` with sh in `directory`, `env` added to its environment and
// standard input on /dev/null unless the command says otherwise. The whole
// process group is killed after `limit`.
ShellRun RunShell(const std::string& directory, const std::string& command,
                  const std::map<std::string, std::string>& env = {},
                  std::chrono::milliseconds limit = std::chrono::seconds(60));
// The demo's path, quoted for a shell command.
std::string Demo();

std::string MakeTempDir();
std::string ReadFile(const std::string& path);
std::vector<std::string> ReadLines(const std::string& path);
// Polls `path` until it holds `text` or the time runs out.
bool WaitForFileText(const std::string& path, const std::string& text,
                     std::chrono::milliseconds limit);
bool SameTerminalSettings(const termios& a, const termios& b);

}  // namespace e2e
