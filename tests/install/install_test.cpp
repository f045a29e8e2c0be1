// The library as someone else's program finds it: the build installed under a
// prefix of its own, then outside/outside.c built against what was installed
// there alone, once through pkg-config and once through find_package, and run
// headless to a screenshot: a blue screen with a red triangle. And the Debian
// package from the same rules holds the same files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "png_file.h"
#include "under_emulator.h"

namespace {

namespace fs = std::filesystem;

struct Result {
  int status;
  std::string output;
};

// Runs a shell command; its status and what it printed.
Result Shell(const std::string& command, const fs::path& log) {
  const int status = std::system((command + " > '" + log.string() + "' 2>&1").c_str());
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text.str()};
}

bool Have(const char* program) {
  return std::system(("command -v " + std::string(program) + " > /dev/null 2>&1").c_str()) == 0;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

class Install : public ::testing::Test {
 protected:
  void SetUp() override {
    // A program built here for this machine cannot load an arm64 library,
    // nor, uninstrumented, a sanitized one.
    if (kUnderEmulator) GTEST_SKIP() << kNotUnderEmulator;
    if (kSanitized)
      GTEST_SKIP() << "the installed library is sanitized: plain programs cannot load it";
    char pattern[] = "/tmp/softboard-install-XXXXXX";
    dir_ = mkdtemp(pattern);
    prefix_ = dir_ / "prefix";
    const Result install = Shell(std::string("'") + CMAKE_PROGRAM + "' --install '" + BUILD_DIR +
                                     "' --prefix '" + prefix_.string() + "'",
                                 dir_ / "install.log");
    ASSERT_EQ(install.status, 0) << install.output;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs the built program headless and checks its screenshot.
  void RunsToItsPicture(const fs::path& program) {
    const fs::path shot = dir_ / (program.filename().string() + ".png");
    const Result run = Shell("SOFTBOARD_DISPLAY=headless SOFTBOARD_TRACE= SOFTBOARD_SCREENSHOT='" +
                                 shot.string() + "' '" + program.string() + "'",
                             dir_ / "run.log");
    ASSERT_EQ(run.status, 0) << run.output;
    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
    std::string error;
    ASSERT_TRUE(texfile::ReadPng(shot.string(), &pixels, &width, &height, &error)) << error;
    ASSERT_EQ(width, 640);
    ASSERT_EQ(height, 480);
    EXPECT_EQ(pixels[20 * 640 + 20] & 0xFFFFFF, 0x0000FFu) << "the clear";
    EXPECT_EQ(pixels[150 * 640 + 150] & 0xFFFFFF, 0xFF0000u) << "inside the triangle";
    EXPECT_EQ(pixels[390 * 640 + 490] & 0xFFFFFF, 0x0000FFu) << "beyond its long edge";
  }

  fs::path dir_, prefix_;
};

TEST_F(Install, AProgramBuiltWithPkgConfigDrawsThroughTheInstalledLibrary) {
  if (!Have("pkg-config") || !Have("cc")) GTEST_SKIP() << "needs pkg-config and a C compiler";
  const fs::path libdir = prefix_ / INSTALL_LIBDIR;
  const std::string flags = SHARED_LIBRARY ? "--cflags --libs" : "--static --cflags --libs";
  const Result build =
      Shell("cc '" OUTSIDE_DIR "/outside.c' -o '" + (dir_ / "outside_pc").string() +
                "' $(PKG_CONFIG_PATH='" + (libdir / "pkgconfig").string() + "' pkg-config " +
                flags + " softboard) -Wl,-rpath,'" + libdir.string() + "'",
            dir_ / "build.log");
  ASSERT_EQ(build.status, 0) << build.output;
  RunsToItsPicture(dir_ / "outside_pc");
}

TEST_F(Install, AProgramBuiltWithFindPackageDrawsThroughTheInstalledLibrary) {
  if (!Have("cc")) GTEST_SKIP() << "needs a C compiler";
  const fs::path build_dir = dir_ / "outside-build";
  const Result configure =
      Shell(std::string("'") + CMAKE_PROGRAM + "' -S '" OUTSIDE_DIR "' -B '" + build_dir.string() +
                "' -DCMAKE_PREFIX_PATH='" + prefix_.string() + "'",
            dir_ / "configure.log");
  ASSERT_EQ(configure.status, 0) << configure.output;
  const Result build =
      Shell(std::string("'") + CMAKE_PROGRAM + "' --build '" + build_dir.string() + "'",
            dir_ / "build.log");
  ASSERT_EQ(build.status, 0) << build.output;
  RunsToItsPicture(build_dir / "outside");
}

TEST_F(Install, TheDebianPackageHoldsTheProgramsTheLibraryAndItsDevelopmentFiles) {
  if (!Have("dpkg-deb") || !Have("dpkg-shlibdeps")) GTEST_SKIP() << "needs dpkg-dev";
  const Result pack = Shell(std::string("'") + CPACK_PROGRAM + "' --config '" + BUILD_DIR +
                                "/CPackConfig.cmake' -B '" + dir_.string() + "'",
                            dir_ / "pack.log");
  ASSERT_EQ(pack.status, 0) << pack.output;
  fs::path deb;
  for (const auto& entry : fs::directory_iterator(dir_))
    if (entry.path().extension() == ".deb") deb = entry.path();
  ASSERT_FALSE(deb.empty()) << pack.output;
  const Result contents =
      Shell("dpkg-deb --contents '" + deb.string() + "'", dir_ / "contents.log");
  for (const char* file :
       {"./usr/bin/transdemo", "./usr/bin/tex3df", "./usr/share/transdemo/tex.3df",
        "./usr/include/softboard/grlib.h", "softboard.pc", "softboardConfig.cmake",
        "./usr/bin/softboard-fogged-object", "./usr/bin/softboard-sprites",
        "./usr/bin/softboard-wireframe", "./usr/share/softboard/examples/sprites.c"})
    EXPECT_NE(contents.output.find(file), std::string::npos) << file << " in\n" << contents.output;
  const Result depends =
      Shell("dpkg-deb --field '" + deb.string() + "' Depends", dir_ / "depends.log");
  EXPECT_NE(depends.output.find("libsdl2"), std::string::npos) << depends.output;
  EXPECT_NE(depends.output.find("libpng"), std::string::npos) << depends.output;
}

}  // namespace
