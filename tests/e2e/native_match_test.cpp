// A cross build's programs, run in the emulator, against this machine's own
// build of the same source: the same texture file from the same picture, and
// the same keys and settings showing the same frame, bit for bit, on every
// kind of emulated CPU (so on each SIMD target the demo picks).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "demo_run.h"
#include "screen_reference.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

const std::string kNativeBin = NATIVE_BIN;

// The cross build's program in the emulator, on the emulated CPU `cpu`.
std::string Emulated(const std::string& cpu, const std::string& program) {
  return std::string("'" EMULATOR "' -cpu ") + cpu + " '" + program + "'";
}

std::string Native(const std::string& program) {
  return "'" + kNativeBin + "/" + program + "'";
}

// Runs `command` in `dir`; its exit status.
int RunIn(const std::string& dir, const std::string& command) {
  const int status = std::system(("cd '" + dir + "' && " + command).c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class NativeMatch : public ::testing::Test {
 protected:
  void SetUp() override {
    if (kNativeBin.empty())
      GTEST_SKIP() << "SOFTBOARD_NATIVE_BIN is not set: configure with the arm64 preset";
    if (!fs::exists(kNativeBin + "/transdemo") || !fs::exists(kNativeBin + "/tex3df"))
      GTEST_SKIP() << "no native build in " << kNativeBin
                   << ": build it first (./go test, or cmake --workflow --preset test)";
    dir_ = MakeTempDir();
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  std::string dir_;
};

// Every texel format, and the default one without its mipmaps: the cross
// build's converter writes the native one's bytes, and reads them back to
// the native one's pixels.
TEST_F(NativeMatch, TheConverterWritesAndReadsTheSameFiles) {
  ASSERT_EQ(ReadFile(DEFAULT_TEXTURE), ReadFile(kNativeBin + "/tex.3df"))
      << "the default texture, made at build time";
  fs::copy_file(DEFAULT_PICTURE, dir_ + "/picture.png");
  for (const std::string format : {"rgb565", "argb1555", "argb4444", "rgb332", "argb8332", "a8",
                                   "i8", "ai44", "ai88", "rgb565 --no-mipmaps"}) {
    const std::string encode = " encode picture.png ";
    ASSERT_EQ(RunIn(dir_, Emulated("max", TEX3DF) + encode + "cross.3df --format " + format), 0);
    ASSERT_EQ(RunIn(dir_, Native("tex3df") + encode + "native.3df --format " + format), 0);
    const std::string bytes = ReadFile(dir_ + "/cross.3df");
    ASSERT_FALSE(bytes.empty()) << format;
    EXPECT_EQ(bytes, ReadFile(dir_ + "/native.3df")) << format;

    // A level the box filter made, where there is one.
    const std::string decode = std::string(" decode native.3df ") +
                               (format.find("no-mip") == std::string::npos ? "--level 1 " : "");
    ASSERT_EQ(RunIn(dir_, Emulated("max", TEX3DF) + decode + "cross.png"), 0);
    ASSERT_EQ(RunIn(dir_, Native("tex3df") + decode + "native.png"), 0);
    Screenshot cross, native;
    ASSERT_TRUE(cross.Load(dir_ + "/cross.png")) << format;
    ASSERT_TRUE(native.Load(dir_ + "/native.png")) << format;
    EXPECT_EQ(cross.width, native.width) << format;
    EXPECT_TRUE(cross.pixels == native.pixels) << format << ": decoded";
  }
}

struct Case {
  const char* name;
  const char* cpu;       // qemu's name for the emulated CPU, and its options
  const char* settings;  // the board's, as the environment gives them
  const char* keys;      // typed after the prompt's key; the run ends with them
  friend std::ostream& operator<<(std::ostream& out, const Case& c) { return out << c.name; }
};

// Keys that move the translucent triangle a little and fade it; keys that push
// it past the screen's top-left corner and make it nearly opaque (a frame a
// key: a supersampled frame under the emulator takes a tenth of a second).
#define SHORT_KEYS "hhhhbbbpppp"
#define LONG_KEYS                                                                         \
  "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffggggggggggg" \
  "gggggggggggggggggggggggggggggggggggggggggggggggggoooooooooooooooooooooooooooooooooooooo"

// -cpu max has SVE2 with 512-bit vectors (SVE2 drawn); sve=off leaves NEON;
// 16 and 32 bytes make SVE2_128 and SVE_256 the best targets; a64fx has SVE
// without SVE2.
constexpr const char* kNeon = "max,sve=off";
constexpr const char* kSve2At128 = "max,sve-default-vector-length=16";
constexpr const char* kSveAt256 = "max,sve-default-vector-length=32";
constexpr const char* kSve2At2048 = "max,sve-default-vector-length=256";

const Case kCases[] = {
    {"Color32Scale1", "max", "SOFTBOARD_COLOR=32 SOFTBOARD_SCALE=1", LONG_KEYS},
    {"Color16Scale1", "max", "SOFTBOARD_COLOR=16 SOFTBOARD_SCALE=1", LONG_KEYS},
    {"Color32Scale3", "max", "SOFTBOARD_COLOR=32 SOFTBOARD_SCALE=3", SHORT_KEYS},
    {"Color16Scale3", "max", "SOFTBOARD_COLOR=16 SOFTBOARD_SCALE=3", SHORT_KEYS},
    {"Ssaa2", "max", "SOFTBOARD_SCALE=1 SOFTBOARD_SSAA=2", SHORT_KEYS},
    {"Ssaa2Color16Scale3", "max", "SOFTBOARD_COLOR=16 SOFTBOARD_SCALE=3 SOFTBOARD_SSAA=2",
     SHORT_KEYS},
    {"Ssaa4", "max", "SOFTBOARD_SCALE=1.25 SOFTBOARD_SSAA=4", SHORT_KEYS},
    {"Threads2Scale3", "max", "SOFTBOARD_THREADS=2 SOFTBOARD_SCALE=3", SHORT_KEYS},
    {"Threads2Color16", "max", "SOFTBOARD_THREADS=2 SOFTBOARD_COLOR=16 SOFTBOARD_SCALE=1",
     LONG_KEYS},
    {"Threads3Scale2_25Dither2x2", "max",
     "SOFTBOARD_THREADS=3 SOFTBOARD_COLOR=16 SOFTBOARD_SCALE=2.25 SOFTBOARD_DITHER=2x2",
     SHORT_KEYS},
    {"NeonColor32", kNeon, "SOFTBOARD_COLOR=32 SOFTBOARD_SCALE=1", LONG_KEYS},
    {"NeonColor16Scale3Threads2", kNeon, "SOFTBOARD_COLOR=16 SOFTBOARD_SCALE=3 SOFTBOARD_THREADS=2",
     SHORT_KEYS},
    {"NeonSsaa2", kNeon, "SOFTBOARD_SCALE=1.5 SOFTBOARD_SSAA=2", SHORT_KEYS},
    {"Sve2At128Color16Ssaa2", kSve2At128, "SOFTBOARD_COLOR=16 SOFTBOARD_SSAA=2", SHORT_KEYS},
    {"Sve2At128Scale3", kSve2At128, "SOFTBOARD_SCALE=3", SHORT_KEYS},
    {"SveAt256Color32", kSveAt256, "SOFTBOARD_SCALE=1", LONG_KEYS},
    {"SveAt256Color16DitherOff", kSveAt256, "SOFTBOARD_COLOR=16 SOFTBOARD_DITHER=off", LONG_KEYS},
    {"Sve2At2048Color16Scale3", kSve2At2048, "SOFTBOARD_COLOR=16 SOFTBOARD_SCALE=3", SHORT_KEYS},
    {"SveWithoutSve2", "a64fx", "SOFTBOARD_COLOR=16 SOFTBOARD_SCALE=1", LONG_KEYS},
};

class NativeFrames : public NativeMatch, public ::testing::WithParamInterface<Case> {
 protected:
  // The last frame a scripted headless run of `program` shows, saved as `shot`.
  Screenshot Shoot(const std::string& program, const std::string& shot) {
    const Case& c = GetParam();
    const std::string command = std::string("printf ' ") + c.keys +
                                "' | SOFTBOARD_DISPLAY=headless SOFTBOARD_VSYNC=0 " +
                                "SOFTBOARD_SCREENSHOT=" + shot + " " + c.settings +
                                " timeout 120 " + program + " > /dev/null";
    EXPECT_EQ(RunIn(dir_, command), 0) << command;
    Screenshot s;
    EXPECT_TRUE(s.Load(dir_ + "/" + shot)) << command;
    return s;
  }
};

TEST_P(NativeFrames, ShowTheNativeBuildsFrameBitForBit) {
  const Case& c = GetParam();
  fs::copy_file(DEFAULT_TEXTURE, dir_ + "/tex.3df");
  const Screenshot native = Shoot(Native("transdemo"), "native.png");
  const Screenshot cross = Shoot(Emulated(c.cpu, TRANSDEMO), "cross.png");
  ASSERT_GT(native.width, 0);
  ASSERT_EQ(cross.width, native.width);
  ASSERT_EQ(cross.height, native.height);
  size_t differ = 0, first = 0;
  for (size_t i = 0; i < native.pixels.size(); i++) {
    if (cross.pixels[i] == native.pixels[i]) continue;
    if (differ++ == 0) first = i;
  }
  EXPECT_EQ(differ, 0u) << "first at (" << first % size_t(native.width) << ", "
                        << first / size_t(native.width) << "): " << std::hex << cross.pixels[first]
                        << " here, " << native.pixels[first] << " natively";
}

INSTANTIATE_TEST_SUITE_P(Settings, NativeFrames, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace e2e
