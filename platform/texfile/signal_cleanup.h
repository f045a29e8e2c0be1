// A file that must not outlive an interrupted write.
#pragma once

#include <limits.h>

#include <string>

namespace texfile {

// While it lives, a signal that ends the process (SIGTERM, SIGINT, SIGHUP and
// the like, crashes too), or exit, first removes the file at `path`; the
// signal then takes its course as before (see signal_registry.h): the
// program's handler runs, or the default action ends the process. Signals
// the program ignores stay ignored. A path too long to keep, or more guards
// at once than the registry holds, and the file is not guarded.
class RemovedOnSignal {
 public:
  explicit RemovedOnSignal(const std::string& path);
  ~RemovedOnSignal();
  RemovedOnSignal(const RemovedOnSignal&) = delete;
  RemovedOnSignal& operator=(const RemovedOnSignal&) = delete;

 private:
  char path_[PATH_MAX];  // read by the signal handler: no allocation there
  int handle_ = -1;
};

}  // namespace texfile
