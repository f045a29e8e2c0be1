// The board's folders are levels, and its files form no circle: a file
// includes only files of its own folder or of folders below it (api > output
// > frame > raster > pixel), and no header includes, through others, itself.
// Read from the sources, as a reviewer would.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kLevels = {"pixel", "raster", "frame", "output", "api"};

int Level(const std::string& folder) {
  for (size_t i = 0; i < kLevels.size(); i++)
    if (kLevels[i] == folder) return int(i);
  return -1;
}

// The board's own includes of every file, as "folder/name.h", by file.
std::map<std::string, std::vector<std::string>> Includes() {
  std::map<std::string, std::vector<std::string>> includes;
  const std::regex include(R"re(^\s*#\s*include\s+"([a-z]+/[a-z_0-9]+\.h)")re");
  for (const auto& entry : fs::recursive_directory_iterator(BOARD_DIR)) {
    const fs::path& path = entry.path();
    if (path.extension() != ".h" && path.extension() != ".cpp") continue;
    const std::string name = fs::relative(path, BOARD_DIR).string();
    std::ifstream in(path);
    includes[name];
    for (std::string line; std::getline(in, line);) {
      std::smatch m;
      if (std::regex_search(line, m, include)) includes[name].push_back(m[1]);
    }
  }
  return includes;
}

std::string Folder(const std::string& name) {
  return name.substr(0, name.find('/'));
}

TEST(Levels, EveryFileIsInALevelAndIncludesNothingAboveIt) {
  const auto includes = Includes();
  ASSERT_GT(includes.size(), 40u) << "the board's sources, from " << BOARD_DIR;
  for (const auto& [file, included] : includes) {
    ASSERT_GE(Level(Folder(file)), 0) << file << " is in no level's folder";
    for (const std::string& header : included) {
      EXPECT_TRUE(includes.count(header))
          << file << " includes " << header << ", which is not there";
      EXPECT_LE(Level(Folder(header)), Level(Folder(file))) << file << " includes " << header;
    }
  }
}

TEST(Levels, NoHeaderIncludesItselfThroughOthers) {
  const auto includes = Includes();
  std::map<std::string, int> state;  // 1 being walked, 2 done
  std::vector<std::string> path;
  std::function<void(const std::string&)> walk = [&](const std::string& file) {
    state[file] = 1;
    path.push_back(file);
    for (const std::string& next : includes.at(file)) {
      if (!includes.count(next)) continue;
      if (state[next] == 1) {
        std::string circle;
        for (const std::string& f : path) circle += f + " -> ";
        ADD_FAILURE() << "a circle: " << circle << next;
      } else if (state[next] == 0) {
        walk(next);
      }
    }
    path.pop_back();
    state[file] = 2;
  };
  for (const auto& [file, included] : includes)
    if (state[file] == 0) walk(file);
}

}  // namespace
