// Whole-file reads with a size bound and writes that never leave a partial file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace texfile {

// Opens a regular file for reading; refuses directories, devices and pipes
// without blocking on them. Errors name the path (escaped and cut by quote.h,
// as every path in this library's errors), so they print safely as they are.
std::FILE* OpenRegularFile(const std::string& path, std::string* error);

// Reads at most `max_bytes` of a regular file (fewer when it is shorter).
// Same refusals as OpenRegularFile.
bool ReadRegularFile(const std::string& path, size_t max_bytes, std::vector<uint8_t>* bytes,
                     std::string* error);

// Calls `write` on a new file with no name yet, in the folder of `path`, and
// puts it in place of `path` once `write` succeeded and every byte was
// written; otherwise it is gone. Nothing partial is ever left, even when a
// signal ends the process. A symbolic link is written through (its target is
// replaced, the link stays); a path that is neither a regular file nor new
// (a device, a pipe, a directory) is refused and left alone. Any name the
// file system takes works: no name longer than the target's is needed.
// `write` sets the reason (without the path) when it fails; an exception it
// throws goes on, with nothing left behind.
using FileWriter = std::function<bool(std::FILE* file, std::string* error)>;
bool WriteFileAtomically(const std::string& path, const FileWriter& write, std::string* error);

}  // namespace texfile
