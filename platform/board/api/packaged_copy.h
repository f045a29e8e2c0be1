// Where the package put a texture file that a program looks for in its
// folder: the demo reads "tex.3df" from the folder it runs in, and the
// installed one lies in the data folder beside the library.
#pragma once

#include <string>
#include <string_view>

namespace softboard {

// The line that names the copy of `filename` in `data_folder`, when
// `filename` is a relative name that is not there (it climbs out of no folder
// with "..") and the copy is a file; empty otherwise. Both are shown escaped.
std::string PackagedCopyHint(std::string_view filename, const std::string& data_folder);

// Says PackagedCopyHint's line on standard error, once a name, for the data
// folder of this installation: found from where the library itself lies.
void HintPackagedCopy(const char* filename);

}  // namespace softboard
