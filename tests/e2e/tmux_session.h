// A tmux server of the test's own, running one program in a pane: a real
// terminal whose screen can be read back.
#pragma once

#include <chrono>
#include <string>

namespace e2e {

bool HaveTmux();

class TmuxSession {
 public:
  // `command` runs by the shell in a pane of columns x rows.
  TmuxSession(int columns, int rows, const std::string& command);
  ~TmuxSession();
  TmuxSession(const TmuxSession&) = delete;
  TmuxSession& operator=(const TmuxSession&) = delete;

  bool started() const { return started_; }
  // The pane's screen, with its colours as SGR sequences when `escapes`.
  std::string Capture(bool escapes);
  // A tmux format about the pane, such as "#{alternate_on}".
  std::string Query(const std::string& format);
  // Keys by tmux's names (Escape, F12) or, `literal`, as the bytes given.
  void SendKeys(const std::string& keys, bool literal = false);
  // Polls the pane's screen until `text` is on it or the time runs out.
  bool WaitForScreen(const std::string& text, std::chrono::milliseconds limit);

 private:
  std::string Tmux(const std::string& arguments);
  std::string socket_;
  std::string socket_path_;
  bool started_ = false;
};

}  // namespace e2e
