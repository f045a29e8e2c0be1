#include "file_io.h"
#include "file_io_named.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <random>

#include "quote.h"
#include "signal_cleanup.h"

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

namespace {

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A name beside `target` for a file being written: the target's own name
// with ".tmp-XXXXXX" added, the name cut short enough that the whole stays
// within what the file system takes (a 255-byte name is valid on its own).
std::string TempNameBeside(const std::string& target) {
  constexpr char kSuffix[] = ".tmp-XXXXXX";
  const size_t slash = target.rfind('/');
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  long name_max = pathconf(DirectoryOf(target).c_str(), _PC_NAME_MAX);
  if (name_max <= 0) name_max = NAME_MAX;
  const size_t room = size_t(name_max) - (sizeof kSuffix - 1);
  return target.substr(0, start) + target.substr(start, std::min(target.size() - start, room)) +
         kSuffix;
}

// Runs `write` on the file open on `fd` and flushes it; closes it whatever
// happens. False with the reason when anything failed; an exception from
// `write` goes on once the file is closed.
bool WriteAndClose(int fd, const FileWriter& write, std::string* reason) {
  std::FILE* file = fdopen(fd, "wb");
  if (!file) {
    *reason = "cannot create: " + ErrnoText(errno);
    close(fd);
    return false;
  }
  bool ok = false;
  try {
    ok = write(file, reason);
  } catch (...) {
    std::fclose(file);
    throw;
  }
  if (ok && (std::fflush(file) != 0 || std::ferror(file))) {
    *reason = "cannot write: " + ErrnoText(errno);
    ok = false;
  }
  if (std::fclose(file) != 0 && ok) {
    *reason = "cannot write: " + ErrnoText(errno);
    ok = false;
  }
  if (!ok && reason->empty()) *reason = "cannot write";
  return ok;
}

// Gives the unnamed file open on `fd` the name `name`; false with errno set.
bool LinkUnnamed(int fd, const std::string& name) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
  return errno != EEXIST && linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0;
}

// Puts the unnamed file open on `fd` in the place of `target`, through a
// name beside it that lives for a link and a rename and that a signal in
// between removes.
bool ReplaceWithUnnamed(int fd, const std::string& target) {
  std::minstd_rand random(uint32_t(getpid()) * 2654435761u ^ uint32_t(time(nullptr)));
  std::string temp = TempNameBeside(target);
  for (int attempt = 0; attempt < 100; attempt++) {
    for (size_t i = temp.size() - 6; i < temp.size(); i++)
      temp[i] = "abcdefghijklmnopqrstuvwxyz0123456789"[random() % 36];
    const RemovedOnSignal removed(temp);
    if (!LinkUnnamed(fd, temp)) {
      if (errno == EEXIST) continue;
      return false;
    }
    if (std::rename(temp.c_str(), target.c_str()) == 0) return true;
    const int err = errno;
    unlink(temp.c_str());
    errno = err;
    return false;
  }
  return false;
}

// A file written with no name at all (O_TMPFILE) is named only once it is
// whole: whatever ends the process before, nothing is left. 1 when written,
// 0 when not (with the reason), -1 when the file system has no unnamed files
// or they cannot be named here: nothing was written, and a named temporary
// file must do.
int WriteUnnamed(const std::string& target, bool exists, const FileWriter& write,
                 std::string* reason) {
  const int fd = open(DirectoryOf(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) return -1;
    *reason = "cannot create: " + ErrnoText(errno);
    return 0;
  }
  const int keep = dup(fd);  // open past the write, for the link
  if (keep < 0) {
    *reason = "cannot create: " + ErrnoText(errno);
    close(fd);
    return 0;
  }
  bool written = false;
  try {
    written = WriteAndClose(fd, write, reason);
  } catch (...) {
    close(keep);
    throw;
  }
  int result = 0;
  if (!written) {
    result = 0;
  } else if ((!exists && LinkUnnamed(keep, target)) ||
             ((exists || errno == EEXIST) && ReplaceWithUnnamed(keep, target))) {
    result = 1;
  } else if (errno == ENOENT || errno == EPERM || errno == EACCES) {
    result = -1;  // no /proc and no right to link by descriptor
  } else {
    *reason = "cannot replace: " + ErrnoText(errno);
  }
  close(keep);
  return result;
}

// Writes `target` (what `path` names, resolved) through a named temporary
// file beside it.
bool WriteThroughTempName(const std::string& path, const std::string& target,
                          const FileWriter& write, std::string* error) {
  std::string temp = TempNameBeside(target);
  const int fd = mkstemp(temp.data());
  if (fd < 0) return Fail(error, path, "cannot create: " + ErrnoText(errno));
  const RemovedOnSignal removed(temp);
  fchmod(fd, 0666 & ~CurrentUmask());
  std::string reason;
  bool ok = false;
  try {
    ok = WriteAndClose(fd, write, &reason);
  } catch (...) {
    unlink(temp.c_str());
    throw;
  }
  if (ok && std::rename(temp.c_str(), target.c_str()) != 0) {
    reason = "cannot replace: " + ErrnoText(errno);
    ok = false;
  }
  if (!ok) {
    unlink(temp.c_str());
    return Fail(error, path, reason);
  }
  return true;
}

}  // namespace

bool WriteFileThroughTempName(const std::string& path, const FileWriter& write,
                              std::string* error) {
  std::string target, refusal;
  if (!ResolveWriteTarget(path, &target, &refusal)) return Fail(error, path, refusal);
  return WriteThroughTempName(path, target, write, error);
}

bool WriteFileAtomically(const std::string& path, const FileWriter& write, std::string* error) {
  std::string target, refusal;
  if (!ResolveWriteTarget(path, &target, &refusal)) return Fail(error, path, refusal);
  struct stat st;
  const bool exists = lstat(target.c_str(), &st) == 0;
  std::string reason;
  const int written = WriteUnnamed(target, exists, write, &reason);
  if (written < 0) return WriteThroughTempName(path, target, write, error);
  return written == 1 || Fail(error, path, reason);
}

}  // namespace texfile
