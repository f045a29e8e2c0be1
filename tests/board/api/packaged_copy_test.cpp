// The line that names the packaged copy of a texture the program cannot find
// in its folder, and when there is none.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "api/packaged_copy.h"

namespace softboard {
namespace {

namespace fs = std::filesystem;

// Runs in an empty folder of its own ("run"), beside a data folder ("data").
class PackagedCopy : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/softboard-copy-XXXXXX";
    root_ = fs::path(mkdtemp(pattern));
    fs::create_directories(root_ / "run");
    fs::create_directories(root_ / "data" / "sub");
    before_ = fs::current_path();
    fs::current_path(root_ / "run");
  }
  void TearDown() override {
    fs::current_path(before_);
    fs::remove_all(root_);
  }
  static void Touch(const fs::path& path) { std::ofstream(path) << "3df"; }
  std::string Data() const { return (root_ / "data").string(); }

  fs::path root_, before_;
};

TEST_F(PackagedCopy, AMissingFileWhoseCopyIsInstalledGetsTheCopysPath) {
  Touch(root_ / "data" / "tex.3df");
  Touch(root_ / "data" / "sub" / "other.3df");
  EXPECT_EQ(PackagedCopyHint("tex.3df", Data()),
            "tex.3df: not in this folder; the packaged copy is " + Data() + "/tex.3df");
  EXPECT_EQ(PackagedCopyHint("sub/other.3df", Data()),
            "sub/other.3df: not in this folder; the packaged copy is " + Data() + "/sub/other.3df");
  // The data folder as the library finds it, through "..": shown resolved.
  EXPECT_EQ(PackagedCopyHint("tex.3df", Data() + "/sub/.."),
            "tex.3df: not in this folder; the packaged copy is " + Data() + "/tex.3df");
}

TEST_F(PackagedCopy, NoLineWhereTheCopyWouldNotHelp) {
  Touch(root_ / "data" / "tex.3df");
  Touch(root_ / "secret.3df");
  fs::create_directories(root_ / "data" / "folder.3df");
  Touch(root_ / "run" / "here.3df");
  Touch(root_ / "data" / "here.3df");
  EXPECT_EQ(PackagedCopyHint("here.3df", Data()), "") << "the file is here, whatever ails it";
  EXPECT_EQ(PackagedCopyHint((root_ / "run" / "tex.3df").string(), Data()), "")
      << "an absolute name";
  EXPECT_EQ(PackagedCopyHint("none.3df", Data()), "") << "no copy";
  EXPECT_EQ(PackagedCopyHint("folder.3df", Data()), "") << "the copy is a folder";
  EXPECT_EQ(PackagedCopyHint("../secret.3df", Data()), "") << "a name that climbs out";
  EXPECT_EQ(PackagedCopyHint("sub/../../secret.3df", Data()), "");
  EXPECT_EQ(PackagedCopyHint("tex.3df", ""), "") << "no data folder";
  EXPECT_EQ(PackagedCopyHint("", Data()), "");
}

TEST_F(PackagedCopy, NamesAndFoldersAreShownEscaped) {
  const std::string odd = "\x1b[2J\xe2\x80\xae.3df";
  Touch(root_ / "data" / odd);
  EXPECT_EQ(PackagedCopyHint(odd, Data()),
            "\\x1B[2J\\xE2\\x80\\xAE.3df: not in this folder; the packaged copy is " + Data() +
                "/\\x1B[2J\\xE2\\x80\\xAE.3df");
}

}  // namespace
}  // namespace softboard
