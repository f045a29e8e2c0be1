#include "file_io.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "quote.h"

namespace texfile {
namespace {

bool Fail(std::string* error, const std::string& path, const std::string& reason) {
  if (error) *error = quote::Escape(path) + ": " + reason;
  return false;
}

std::string ErrnoText(int err) {
  return std::strerror(err);
}

mode_t CurrentUmask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

// The file a write to `path` must replace: symbolic links are followed (so the
// new file lands in the target's folder and the link stays a link). Anything
// but a regular file or a name not yet taken is refused: a device, a pipe or a
// directory is never replaced by a file.
bool ResolveWriteTarget(const std::string& path, std::string* target, std::string* reason) {
  std::string current = path;
  for (int hops = 0; hops <= 40; ++hops) {
    struct stat st;
    if (lstat(current.c_str(), &st) != 0) {
      if (errno != ENOENT) return (*reason = ErrnoText(errno), false);
      *target = current;  // a new file (or the missing target of a link)
      return true;
    }
    if (S_ISREG(st.st_mode)) {
      *target = current;
      return true;
    }
    if (!S_ISLNK(st.st_mode)) {
      *reason = S_ISDIR(st.st_mode) ? "is a directory" : "not a regular file; left as it is";
      return false;
    }
    char link[PATH_MAX];
    const ssize_t n = readlink(current.c_str(), link, sizeof link - 1);
    if (n < 0) return (*reason = ErrnoText(errno), false);
    std::string next(link, size_t(n));
    const size_t slash = current.rfind('/');
    if (next.empty() || next[0] != '/')
      next = (slash == std::string::npos ? "" : current.substr(0, slash + 1)) + next;
    current = next;
  }
  *reason = "too many levels of symbolic links";
  return false;
}

}  // namespace

std::FILE* OpenRegularFile(const std::string& path, std::string* error) {
  // O_NONBLOCK: opening a pipe must not wait for a writer.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    Fail(error, path, ErrnoText(errno));
    return nullptr;
  }
  struct stat st;
  std::string reason;
  if (fstat(fd, &st) != 0)
    reason = ErrnoText(errno);
  else if (!S_ISREG(st.st_mode))
    reason = S_ISDIR(st.st_mode) ? "is a directory" : "not a regular file";
  else if (fcntl(fd, F_SETFL, 0) != 0)
    reason = ErrnoText(errno);
  std::FILE* file = reason.empty() ? fdopen(fd, "rb") : nullptr;
  if (!file) {
    if (reason.empty()) reason = ErrnoText(errno);
    close(fd);
    Fail(error, path, reason);
  }
  return file;
}

bool ReadRegularFile(const std::string& path, size_t max_bytes, std::vector<uint8_t>* bytes,
                     std::string* error) {
  std::FILE* file = OpenRegularFile(path, error);
  if (!file) return false;
  std::vector<uint8_t> data;
  uint8_t chunk[16384];
  while (data.size() < max_bytes) {
    const size_t n = std::fread(chunk, 1, std::min(sizeof chunk, max_bytes - data.size()), file);
    data.insert(data.end(), chunk, chunk + n);
    if (n == 0) break;
  }
  const bool failed = std::ferror(file);
  const int err = errno;
  std::fclose(file);
  if (failed) return Fail(error, path, "cannot read: " + ErrnoText(err));
  *bytes = std::move(data);
  return true;
}

bool WriteFileAtomically(const std::string& path, const FileWriter& write, std::string* error) {
  std::string target, refusal;
  if (!ResolveWriteTarget(path, &target, &refusal)) return Fail(error, path, refusal);
  std::string temp = target + ".tmp-XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return Fail(error, path, "cannot create: " + ErrnoText(errno));
  fchmod(fd, 0666 & ~CurrentUmask());
  std::FILE* file = fdopen(fd, "wb");
  if (!file) {
    const int err = errno;
    close(fd);
    unlink(temp.c_str());
    return Fail(error, path, "cannot create: " + ErrnoText(err));
  }
  std::string reason;
  bool ok = write(file, &reason);
  if (ok && (std::fflush(file) != 0 || std::ferror(file))) {
    reason = "cannot write: " + ErrnoText(errno);
    ok = false;
  }
  if (std::fclose(file) != 0 && ok) {
    reason = "cannot write: " + ErrnoText(errno);
    ok = false;
  }
  if (ok && std::rename(temp.c_str(), target.c_str()) != 0) {
    reason = "cannot replace: " + ErrnoText(errno);
    ok = false;
  }
  if (!ok) {
    unlink(temp.c_str());
    return Fail(error, path, reason.empty() ? "cannot write" : reason);
  }
  return true;
}

}  // namespace texfile
