// Highway's choice of target at run time, for a build with one target and no
// Highway library (WebAssembly): that target is the one supported, and a test
// that asks for another still gets it.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "hwy/targets.h"

namespace hwy {

int64_t SupportedTargets() {
  return HWY_TARGETS;
}

void SetSupportedTargetsForTest(int64_t) {}

void DisableTargets(int64_t) {}

void Abort(const char* file, int line, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::fprintf(stderr, "Abort at %s:%d: ", file, line);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  std::abort();
}

}  // namespace hwy
