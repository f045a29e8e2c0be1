#include "signal_cleanup.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "signal_registry.h"

namespace texfile {
namespace {

void Unlink(void* path) {
  const int saved_errno = errno;
  unlink(static_cast<const char*>(path));
  errno = saved_errno;
}

}  // namespace

RemovedOnSignal::RemovedOnSignal(const std::string& path) {
  if (path.size() >= sizeof path_) return;
  std::memcpy(path_, path.c_str(), path.size() + 1);
  handle_ = signals::Add({Unlink, nullptr, nullptr, path_});
}

RemovedOnSignal::~RemovedOnSignal() {
  signals::Remove(handle_);
}

}  // namespace texfile
