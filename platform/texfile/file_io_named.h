// WriteFileAtomically's way where the file system has no unnamed files,
// declared apart from the library's own header so that tests can write both
// ways on a file system that has them.
#pragma once

#include "file_io.h"

namespace texfile {

// The same as WriteFileAtomically, through a named temporary file beside the
// target (the target's name, cut to fit, with ".tmp-XXXXXX"), which an ending
// signal removes.
bool WriteFileThroughTempName(const std::string& path, const FileWriter& write, std::string* error);

}  // namespace texfile
