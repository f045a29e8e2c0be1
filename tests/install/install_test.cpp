// The library as someone else's program finds it: the build installed under a
// prefix of its own, then outside/outside.c built against what was installed
// there alone, once through pkg-config and once through find_package, and run
// headless to a screenshot: a blue screen with a red triangle. The installed
// library finds its helper program where it was installed, and says so where
// it is missing; the demo, run where there is no tex.3df, names the installed
// one. And the Debian package from the same rules holds the same files, the
// library where Debian's multiarch rules put it, stripped, its debug
// information apart.
#include <gtest/gtest.h>

#include <sys/stat.h>

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
    if (kSanitized && builds_plain_programs_)
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
  bool builds_plain_programs_ = true;
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

// Run in a folder without tex.3df, the installed demo says what it always
// said, and the board adds where the installed copy is; with the copy there,
// neither.
TEST_F(Install, TheInstalledDemoNamesTheInstalledTextureWhereThereIsNone) {
  const fs::path elsewhere = dir_ / "elsewhere";
  fs::create_directory(elsewhere);
  const std::string demo = "SOFTBOARD_DISPLAY=headless '" + (prefix_ / "bin/transdemo").string() +
                           "' 2> '" + (dir_ / "err.log").string() + "'";
  const Result missing =
      Shell("cd '" + elsewhere.string() + "' && { printf ' ' | " + demo + "; }", dir_ / "out.log");
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(missing.output.ends_with("Couldn't load tex.3df file!")) << missing.output;
  const fs::path copy = fs::canonical(prefix_ / "share/transdemo/tex.3df");
  EXPECT_EQ(Shell("cat '" + (dir_ / "err.log").string() + "'", dir_ / "cat.log").output,
            "softboard: tex.3df: not in this folder; the packaged copy is " + copy.string() + "\n");

  fs::copy_file(copy, elsewhere / "tex.3df");
  const Result found = Shell(
      "cd '" + elsewhere.string() + "' && { printf ' \\033' | " + demo + "; }", dir_ / "out.log");
  EXPECT_EQ(found.status, 0) << found.output;
  EXPECT_EQ(Shell("cat '" + (dir_ / "err.log").string() + "'", dir_ / "cat.log").output, "");
}

// The sections an ELF file holds, as readelf lists them.
std::string Sections(const fs::path& file, const fs::path& log) {
  return Shell("readelf --wide --section-headers '" + file.string() + "'", log).output;
}

TEST_F(Install, TheDebianPackageHoldsTheProgramsTheLibraryAndItsDevelopmentFiles) {
  if (!Have("dpkg-deb") || !Have("dpkg-shlibdeps") || !Have("readelf"))
    GTEST_SKIP() << "needs dpkg-dev and binutils";
  const Result pack = Shell(std::string("'") + CPACK_PROGRAM + "' --config '" + BUILD_DIR +
                                "/CPackConfig.cmake' -B '" + dir_.string() + "'",
                            dir_ / "pack.log");
  ASSERT_EQ(pack.status, 0) << pack.output;
  fs::path deb, ddeb;
  for (const auto& entry : fs::directory_iterator(dir_)) {
    if (entry.path().extension() == ".deb") deb = entry.path();
    if (entry.path().extension() == ".ddeb") ddeb = entry.path();
  }
  ASSERT_FALSE(deb.empty()) << pack.output;
  ASSERT_FALSE(ddeb.empty()) << "no debug symbols package\n" << pack.output;
  EXPECT_NE(ddeb.filename().string().find("transdemo-dbgsym_"), std::string::npos) << ddeb;

  // The library where Debian's multiarch rules put it, found by its
  // pkg-config file and CMake package there.
  std::string multiarch = Shell("dpkg-architecture -qDEB_HOST_MULTIARCH", dir_ / "arch.log").output;
  while (!multiarch.empty() && multiarch.back() == '\n') multiarch.pop_back();
  ASSERT_FALSE(multiarch.empty());
  const std::string libdir = "./usr/lib/" + multiarch + "/";
  const Result contents =
      Shell("dpkg-deb --contents '" + deb.string() + "'", dir_ / "contents.log");
  for (const std::string& file : std::vector<std::string>{
           "./usr/bin/transdemo", "./usr/bin/tex3df", "./usr/share/transdemo/tex.3df",
           "./usr/include/softboard/grlib.h", "./usr/share/doc/transdemo/copyright",
           libdir + "libsoftboard.so.1.0.0", libdir + "libsoftboard.so.1 -> ",
           libdir + "pkgconfig/softboard.pc", libdir + "cmake/softboard/softboardConfig.cmake",
           "./usr/" INSTALL_LIBEXECDIR "/softboard/softboard-probe",
           "./usr/bin/softboard-fogged-object", "./usr/bin/softboard-sprites",
           "./usr/bin/softboard-wireframe", "./usr/share/softboard/examples/sprites.c"})
    EXPECT_NE(contents.output.find(" " + file), std::string::npos) << file << " in\n"
                                                                   << contents.output;
  EXPECT_EQ(contents.output.find("./usr/lib/libsoftboard"), std::string::npos);
  const Result depends =
      Shell("dpkg-deb --field '" + deb.string() + "' Depends", dir_ / "depends.log");
  EXPECT_NE(depends.output.find("libsdl2"), std::string::npos) << depends.output;
  EXPECT_NE(depends.output.find("libpng"), std::string::npos) << depends.output;

  // Stripped, each file's debug information in the -dbgsym package under
  // its build-id; and the copyright file.
  const fs::path root = dir_ / "root", debug = dir_ / "debug";
  ASSERT_EQ(Shell("dpkg-deb -x '" + deb.string() + "' '" + root.string() + "' && dpkg-deb -x '" +
                      ddeb.string() + "' '" + debug.string() + "'",
                  dir_ / "extract.log")
                .status,
            0);
  for (const std::string& file : std::vector<std::string>{
           "usr/lib/" + multiarch + "/libsoftboard.so.1.0.0", std::string("usr/bin/transdemo")}) {
    const std::string sections = Sections(root / file, dir_ / "sections.log");
    EXPECT_EQ(sections.find(".symtab"), std::string::npos) << file << " is not stripped";
    EXPECT_EQ(sections.find(".debug_info"), std::string::npos) << file;
    const std::string notes =
        Shell("readelf --notes '" + (root / file).string() + "'", dir_ / "notes.log").output;
    const size_t at = notes.find("Build ID: ");
    ASSERT_NE(at, std::string::npos) << file << " has no build-id";
    const std::string id = notes.substr(at + 10, notes.find('\n', at) - at - 10);
    ASSERT_GT(id.size(), 2u);
    const fs::path apart =
        debug / "usr/lib/debug/.build-id" / id.substr(0, 2) / (id.substr(2) + ".debug");
    ASSERT_TRUE(fs::exists(apart)) << file << ": no " << apart;
    const std::string kept = Sections(apart, dir_ / "sections.log");
    EXPECT_NE(kept.find(".symtab"), std::string::npos) << apart;
    EXPECT_NE(kept.find(".debug_info"), std::string::npos) << apart;
  }
  const Result copyright =
      Shell("cat '" + (root / "usr/share/doc/transdemo/copyright").string() + "'",
            dir_ / "copyright.log");
  EXPECT_NE(copyright.output.find("Copyright: "), std::string::npos) << copyright.output;
}

// A child of a process that may run threads can do next to nothing until it
// execs: the library starts its helper with posix_spawn, and never forks.
TEST(Library, ImportsNoFork) {
  if (!SHARED_LIBRARY) GTEST_SKIP() << "a static library imports nothing";
  if (!Have("nm")) GTEST_SKIP() << "needs nm (binutils)";
  char pattern[] = "/tmp/softboard-nm-XXXXXX";
  const fs::path dir = mkdtemp(pattern);
  const Result imports =
      Shell("nm -D --undefined-only '" LIBRARY_FILE "' | awk '{print $NF}'", dir / "nm.log");
  fs::remove_all(dir);
  ASSERT_EQ(imports.status, 0) << imports.output;
  EXPECT_NE(imports.output.find("posix_spawn"), std::string::npos) << imports.output;
  for (const char* call : {"fork@", "vfork@", "_Fork@"})
    EXPECT_EQ(("\n" + imports.output).find(std::string("\n") + call), std::string::npos) << call;
}

// The window display asks its helper which renderer a window would get; it
// finds it from the library's own place, as installed, and runs it (the
// demo's own process never forks). Here the helper is replaced by one that
// says who started it and answers, or is taken away. No display server is
// there (DISPLAY names none), so the window then fails as usual, after the
// probe.
class InstalledProbe : public Install {
 protected:
  InstalledProbe() { builds_plain_programs_ = false; }  // the installed demo only

  fs::path Helper() const { return prefix_ / INSTALL_LIBEXECDIR / "softboard/softboard-probe"; }

  // Replaces the helper with a script.
  void HelperDoes(const std::string& script) {
    fs::remove(Helper());
    std::ofstream(Helper()) << "#!/bin/sh\n" << script;
    fs::permissions(Helper(), fs::perms::owner_all);
  }

  // The installed demo, asking for a window: its standard error.
  std::string RunDemo() {
    const fs::path errors = dir_ / "errors.txt";
    Shell("{ cd '" + dir_.string() +
              "' && printf ' ' | env -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER " +
              "-u SOFTBOARD_PRESENT -u SOFTBOARD_TRACE DISPLAY=:97 SOFTBOARD_DISPLAY=window " +
              // SDL's libraries keep a little memory to the end, by design.
              "ASAN_OPTIONS=detect_leaks=0 '" + (prefix_ / "bin/transdemo").string() + "' 2> '" +
              errors.string() + "'; }",
          dir_ / "run.log");
    std::ifstream in(errors);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
};

TEST_F(InstalledProbe, TheHelperIsInstalledAndStartedByTheLibrary) {
  struct stat st {};
  ASSERT_EQ(stat(Helper().c_str(), &st), 0) << Helper();
  EXPECT_TRUE(st.st_mode & S_IXUSR);
  const fs::path record = dir_ / "started.txt";
  HelperDoes("echo \"$(cat /proc/$PPID/comm) $*\" > '" + record.string() +
             "'\nprintf 'software\\n\\n'\n");
  EXPECT_EQ(RunDemo(), "") << "an answer is no news";
  std::ifstream in(record);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "transdemo x11") << "started by the demo, asked about X11";
}

TEST_F(InstalledProbe, AMissingHelperGivesTheSurfaceAndOneLine) {
  fs::remove(Helper());
  const std::string errors = RunDemo();
  EXPECT_NE(errors.find("softboard: the renderer probe " + Helper().string() +
                        " cannot be run: No such file or directory; showing frames through "
                        "the window's surface\n"),
            std::string::npos)
      << errors;
  EXPECT_EQ(errors.find('\n'), errors.size() - 1) << "one line";
}

TEST_F(InstalledProbe, AHelperThatNeverAnswersIsGivenUpOnAfterItsTime) {
  HelperDoes("exec sleep 60\n");
  const std::string errors = RunDemo();
  EXPECT_NE(errors.find("gave no answer in 5000 ms; showing frames through the window's surface"),
            std::string::npos)
      << errors;
}

}  // namespace
