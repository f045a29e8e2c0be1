#include "screen_reference.h"

#include "png_file.h"

namespace e2e {

bool Screenshot::Load(const std::string& path) {
  std::string error;
  return texfile::ReadPng(path, &pixels, &width, &height, &error);
}

}  // namespace e2e
