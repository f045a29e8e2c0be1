#include "process_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace softboard {

void OpenStandardDescriptors() {
  for (int fd = 0; fd <= 2; fd++) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // Not close-on-exec: these are what a child would inherit as its own.
    const int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null < 0 || null == fd) continue;
    dup2(null, fd);
    close(null);
  }
}

void Complain(const std::string& line) {
  std::fprintf(stderr, "softboard: %s\n", line.c_str());
}

}  // namespace softboard
