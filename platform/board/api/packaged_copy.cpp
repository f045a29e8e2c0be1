#include "api/packaged_copy.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

#if !defined(__EMSCRIPTEN__)
#include <dlfcn.h>
#endif

#include "api/process_output.h"
#include "quote.h"

namespace softboard {
namespace {

bool Climbs(std::string_view name) {
  for (size_t at = 0; at <= name.size();) {
    const size_t end = std::min(name.find('/', at), name.size());
    if (name.substr(at, end - at) == "..") return true;
    at = end + 1;
  }
  return false;
}

std::string RealPath(const std::string& path) {
  char real[PATH_MAX];
  return realpath(path.c_str(), real) ? std::string(real) : std::string();
}

// The installed data folder: SOFTBOARD_DATA_FROM_LIBDIR (set by the build
// from the install layout) from the folder the library was loaded from. A
// library used from its build folder has none there.
std::string DataFolder() {
#if defined(__EMSCRIPTEN__) || !defined(SOFTBOARD_DATA_FROM_LIBDIR)
  return {};
#else
  Dl_info self{};
  if (dladdr(reinterpret_cast<void*>(&HintPackagedCopy), &self) == 0 || !self.dli_fname) return {};
  const std::string library = RealPath(self.dli_fname);
  const size_t slash = library.rfind('/');
  if (slash == std::string::npos) return {};
  return library.substr(0, slash + 1) + SOFTBOARD_DATA_FROM_LIBDIR;
#endif
}

}  // namespace

std::string PackagedCopyHint(std::string_view filename, const std::string& data_folder) {
  if (filename.empty() || filename[0] == '/' || data_folder.empty() || Climbs(filename)) return {};
  const std::string name(filename);
  struct stat here;
  if (stat(name.c_str(), &here) == 0 || errno != ENOENT) return {};
  const std::string copy = RealPath(data_folder + "/" + name);
  struct stat there;
  if (copy.empty() || stat(copy.c_str(), &there) != 0 || !S_ISREG(there.st_mode)) return {};
  return quote::Escape(name) + ": not in this folder; the packaged copy is " + quote::Escape(copy);
}

void HintPackagedCopy(const char* filename) {
  static std::mutex mutex;
  static std::set<std::string> said;
  if (filename == nullptr) return;
  const std::lock_guard<std::mutex> lock(mutex);
  if (said.count(filename)) return;
  const std::string hint = PackagedCopyHint(filename, DataFolder());
  if (hint.empty()) return;
  said.insert(filename);
  // After a prompt the program left without a line end, in a terminal.
  if (isatty(STDERR_FILENO)) std::fputc('\n', stderr);
  Complain(hint);
}

}  // namespace softboard
