// Where libpng is not built in (the web page, whose screenshots are the
// canvas's own), PNG files are refused with a reason.
#include "png_file.h"

namespace texfile {
namespace {

bool Refuse(const std::string& path, std::string* error) {
  *error = path + ": PNG files are not written here";
  return false;
}

}  // namespace

bool WritePng(const std::string& path, const uint32_t*, int, int, bool, std::string* error) {
  return Refuse(path, error);
}

bool WritePngRows(const std::string& path, int, int, bool, const PngRowSource&,
                  std::string* error) {
  return Refuse(path, error);
}

bool ReadPng(const std::string& path, std::vector<uint32_t>*, int*, int*, std::string* error,
             const PngSizeCheck&) {
  *error = path + ": PNG files are not read here";
  return false;
}

}  // namespace texfile
