// The texture file as the demo meets it: missing, broken, and the default one.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "demo_run.h"
#include "demo_texts.h"
#include "screen_reference.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

class TextureFile : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTempDir(); }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void WriteTexture(const std::string& bytes) {
    std::ofstream(dir_ + "/tex.3df", std::ios::binary) << bytes;
  }

  // The run must fail after the prompt with the message on the prompt's line.
  void ExpectRefused() {
    const std::string trace = dir_ + "/trace.txt";
    DemoRun run({dir_, {{"SOFTBOARD_DISPLAY", "headless"}, {"SOFTBOARD_TRACE", trace}}, {}});
    ASSERT_TRUE(run.WaitForOutput("continue", 10s));
    run.Type("\r");
    EXPECT_EQ(run.Wait(10s), 1);
    EXPECT_EQ(run.output(), kInstructions + kNoTexture);
    EXPECT_TRUE(SameTerminalSettings(run.settings_before(), run.SettingsNow()));
    const auto lines = ReadLines(trace);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "grLibShutdown()");
    EXPECT_EQ(ReadFile(trace).find("grDrawPolygon"), std::string::npos);

    // The trace records the reader's reason, and `tex3df info` gives the same.
    std::string reason;
    for (const std::string& line : lines) {
      const std::string call = "gu3dfGetInfo(\"tex.3df\", out) = 0 (";
      if (line.rfind(call, 0) == 0 && line.back() == ')')
        reason = line.substr(call.size(), line.size() - call.size() - 1);
    }
    ASSERT_FALSE(reason.empty()) << ReadFile(trace);
    const std::string command =
        "cd '" + dir_ + "' && '" TEX3DF_PATH "' info tex.3df > info.txt 2>&1";
    EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 1);
    EXPECT_EQ(ReadFile(dir_ + "/info.txt"), "tex3df: " + reason + "\n");
  }

  std::string dir_;
};

TEST_F(TextureFile, MissingFileShutsDownAndFails) {
  ExpectRefused();
}

TEST_F(TextureFile, EmptyFileIsRefused) {
  WriteTexture("");
  ExpectRefused();
}

TEST_F(TextureFile, TruncatedFileIsRefused) {
  const std::string whole = ReadFile(DEFAULT_TEXTURE);
  ASSERT_GT(whole.size(), 1000u);
  WriteTexture(whole.substr(0, whole.size() / 2));
  ExpectRefused();
}

TEST_F(TextureFile, DirectoryNamedTexIsRefused) {
  std::filesystem::create_directory(dir_ + "/tex.3df");
  ExpectRefused();
}

// The default texture's largest level, read straight from the file: a
// 256x128 rgb565 texture after its four header lines.
struct Texture {
  int width = 256, height = 128;
  std::vector<Color> texels;
  bool Load(const std::string& path) {
    const std::string bytes = ReadFile(path);
    size_t at = 0;
    for (int line = 0; line < 4; line++) {
      at = bytes.find('\n', at);
      if (at == std::string::npos) return false;
      at++;
    }
    if (bytes.find("rgb565") == std::string::npos || bytes.size() < at + 256 * 128 * 2)
      return false;
    for (int i = 0; i < width * height; i++) {
      const unsigned v = unsigned(uint8_t(bytes[at + 2 * i])) << 8 | uint8_t(bytes[at + 2 * i + 1]);
      const unsigned r = v >> 11, g = (v >> 5) & 63, b = v & 31;
      texels.push_back({double(r << 3 | r >> 2), double(g << 2 | g >> 4), double(b << 3 | b >> 2)});
    }
    return true;
  }
  Color At(int u, int v) const {
    return texels[size_t(v & (height - 1)) * width + (u & (width - 1))];
  }
  // Bilinear between texel centres, wrapping; s and t one unit a texel here.
  Color Sample(double s, double t) const {
    const double u = s - 0.5, v = t - 0.5;
    const int u0 = int(std::floor(u)), v0 = int(std::floor(v));
    const double fu = u - u0, fv = v - v0;
    const Color a = At(u0, v0), b = At(u0 + 1, v0), c = At(u0, v0 + 1), d = At(u0 + 1, v0 + 1);
    const auto mix = [&](double p, double q, double r, double s2) {
      return (p * (1 - fu) + q * fu) * (1 - fv) + (r * (1 - fu) + s2 * fu) * fv;
    };
    return {mix(a.r, b.r, c.r, d.r), mix(a.g, b.g, c.g, d.g), mix(a.b, b.b, c.b, d.b)};
  }
};

TEST_F(TextureFile, DefaultTextureIsMappedOntoTheFirstTriangle) {
  std::filesystem::copy_file(DEFAULT_TEXTURE, dir_ + "/tex.3df");
  Texture texture;
  ASSERT_TRUE(texture.Load(dir_ + "/tex.3df"));

  const std::string trace = dir_ + "/trace.txt", shot_path = dir_ + "/shot.png";
  DemoRun run({dir_,
               {{"SOFTBOARD_DISPLAY", "headless"},
                {"SOFTBOARD_TRACE", trace},
                {"SOFTBOARD_SCREENSHOT", shot_path}},
               {}});
  ASSERT_TRUE(run.WaitForOutput("continue", 10s));
  run.Type(" " + std::string(128, 'p'));  // the shaded triangle invisible
  ASSERT_TRUE(WaitForFileText(trace, "grConstantColorValue(0x00000000)", 20s));
  run.Type("\033");
  ASSERT_EQ(run.Wait(10s), 0);
  Screenshot shot;
  ASSERT_TRUE(shot.Load(shot_path));

  const double x[3] = {100, 500, 500}, y[3] = {100, 100, 400};
  const double s[3] = {0, 256, 256}, t[3] = {0, 0, 128};
  int checked = 0;
  for (int j = 102; j < 398; j += 7) {
    for (int i = 104; i < 498; i += 11) {
      const auto w = Barycentric(i + 0.5, j + 0.5, x, y);
      if (w[0] < 0.01 || w[1] < 0.01 || w[2] < 0.01) continue;  // keep off the edges
      const Color want = texture.Sample(w[0] * s[0] + w[1] * s[1] + w[2] * s[2],
                                        w[0] * t[0] + w[1] * t[1] + w[2] * t[2]);
      const Color got = shot.At(i, j);
      ASSERT_LE(MaxDifference(want, got), 3)
          << "pixel (" << i << ", " << j << "): want (" << want.r << ", " << want.g << ", "
          << want.b << ") got (" << got.r << ", " << got.g << ", " << got.b << ")";
      checked++;
    }
  }
  EXPECT_GT(checked, 500);
}

}  // namespace
}  // namespace e2e
