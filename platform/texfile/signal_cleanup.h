// A file that must not outlive an interrupted write.
#pragma once

#include <string>

namespace texfile {

// While it lives, a signal that ends the process (SIGTERM, SIGINT, SIGHUP and
// the like, crashes too) first removes the file at `path`, then takes its
// course as before: the handler that was there runs, or the default action
// ends the process. Signals the process ignores stay ignored. One file at a
// time: a second guard made while one lives does nothing.
class RemovedOnSignal {
 public:
  explicit RemovedOnSignal(const std::string& path);
  ~RemovedOnSignal();
  RemovedOnSignal(const RemovedOnSignal&) = delete;
  RemovedOnSignal& operator=(const RemovedOnSignal&) = delete;

 private:
  bool armed_ = false;
};

}  // namespace texfile
