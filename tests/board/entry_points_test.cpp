// The C entry points as a careless or hostile program calls them: out of
// order, with null pointers and values out of range. Nothing may crash.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>

#include "grlib.h"

namespace {

class EntryPoints : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("SOFTBOARD_DISPLAY", "headless", 1);
    setenv("SOFTBOARD_VSYNC", "0", 1);
    unsetenv("SOFTBOARD_BOARDS");
    unsetenv("SOFTBOARD_SCREENSHOT");
    // ctest runs each test in a process of its own, several at once.
    trace_ = ::testing::TempDir() + "entry_points_trace_" + std::to_string(getpid()) + ".txt";
    setenv("SOFTBOARD_TRACE", trace_.c_str(), 1);
  }
  void TearDown() override {
    grLibShutdown();
    unsetenv("SOFTBOARD_TRACE");
    std::remove(trace_.c_str());
  }
  bool Open() {
    grLibInit();
    GrHwConfiguration config;
    if (!grSstQueryHardware(&config)) return false;
    grSstSelect(0);
    return grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_RGBA,
                        GR_ORIGIN_UPPER_LEFT, 2, 1) == FXTRUE;
  }
  std::string Trace() {
    std::ifstream in(trace_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string trace_;
};

TEST_F(EntryPoints, CallsBeforeInitAndAfterShutdownAreHarmless) {
  grLibShutdown();
  GrHwConfiguration config;
  EXPECT_EQ(grSstQueryHardware(&config), FXFALSE);
  EXPECT_EQ(grSstWinOpen(0, 7, 0, 2, 0, 2, 1), FXFALSE);
  const int ilist[3] = {0, 1, 2};
  GrVertex v[3] = {};
  grDrawPolygon(3, ilist, v);
  grBufferClear(0, 0, 0);
  grBufferSwap(1);
  grTexSource(0, 0, 3, nullptr);
  grLibShutdown();
  grLibShutdown();
}

TEST_F(EntryPoints, NoBoardSettingReportsNone) {
  setenv("SOFTBOARD_BOARDS", "0", 1);
  grLibInit();
  GrHwConfiguration config;
  EXPECT_EQ(grSstQueryHardware(&config), FXFALSE);
  EXPECT_EQ(config.num_sst, 0);
  EXPECT_EQ(grSstWinOpen(0, 7, 0, 2, 0, 2, 1), FXFALSE);
}

TEST_F(EntryPoints, OpenRefusesModesTheBoardDoesNotOffer) {
  grLibInit();
  GrHwConfiguration config;
  ASSERT_EQ(grSstQueryHardware(&config), FXTRUE);
  EXPECT_EQ(config.num_sst, 1);
  EXPECT_EQ(grSstQueryHardware(nullptr), FXFALSE);
  EXPECT_EQ(grSstWinOpen(0, 8, 0, 2, 0, 2, 1), FXFALSE) << "resolution";
  EXPECT_EQ(grSstWinOpen(0, 7, 9, 2, 0, 2, 1), FXFALSE) << "refresh";
  EXPECT_EQ(grSstWinOpen(0, 7, 0, 4, 0, 2, 1), FXFALSE) << "colour format";
  EXPECT_EQ(grSstWinOpen(0, 7, 0, 2, 2, 2, 1), FXFALSE) << "origin";
  EXPECT_EQ(grSstWinOpen(0, 7, 0, 2, 0, 1, 1), FXFALSE) << "colour buffers";
  EXPECT_EQ(grSstWinOpen(0, 7, 0, 2, 0, 2, 1), FXTRUE);
  EXPECT_EQ(grSstWinOpen(0, 7, 0, 2, 0, 2, 1), FXFALSE) << "already open";
}

TEST_F(EntryPoints, BadArgumentsAreIgnored) {
  ASSERT_TRUE(Open());
  GrVertex v[3] = {};
  const int ilist[3] = {0, 1, 2};
  const int bad_index[3] = {0, -1, 2};
  grDrawPolygon(3, nullptr, v);
  grDrawPolygon(3, ilist, nullptr);
  grDrawPolygon(-5, ilist, v);
  grDrawPolygon(std::numeric_limits<int>::max(), ilist, v);
  grDrawPolygon(3, bad_index, v);
  grTexDownloadMipMap(0, 0, 3, nullptr);
  grTexSource(5, 0, 3, nullptr);
  GrTexInfo info{8, 0, 3, GR_TEXFMT_RGB_565, nullptr};
  grTexDownloadMipMap(0, 0xFFFFFFF0u, 3, &info);
  grTexSource(0, 0xFFFFFFF0u, 3, &info);
  EXPECT_EQ(gu3dfGetInfo(nullptr, nullptr), FXFALSE);
  EXPECT_EQ(gu3dfLoad("no such file", nullptr), FXFALSE);
  grBufferSwap(-3);
  grBufferSwap(0);
  EXPECT_NE(Trace().find("grDrawPolygon(2147483647, too many vertices)"), std::string::npos);
}

TEST_F(EntryPoints, NonFiniteAndHugeVerticesAreSafe) {
  ASSERT_TRUE(Open());
  const float nan = std::nanf(""), inf = std::numeric_limits<float>::infinity();
  const float values[] = {nan, inf, -inf, 1e30f, -1e30f, 3e9f, 320.0f};
  const int ilist[4] = {0, 1, 2, 3};
  for (float a : values) {
    for (float b : values) {
      GrVertex v[4] = {};
      v[0].x = a;
      v[0].y = 10;
      v[1].x = 600;
      v[1].y = b;
      v[2].x = 10;
      v[2].y = 470;
      v[3].x = b;
      v[3].y = a;
      v[1].r = a;
      v[2].tmuvtx[0].oow = b;
      grDrawPolygon(4, ilist, v);
    }
  }
  grBufferSwap(0);
}

TEST_F(EntryPoints, TraceRecordsEveryCallInOrder) {
  ASSERT_TRUE(Open());
  grConstantColorValue(0x80);
  grBufferSwap(1);
  grLibShutdown();
  EXPECT_EQ(Trace(),
            "grLibInit()\n"
            "grSstQueryHardware({num_sst=1})\n"
            "grSstSelect(0)\n"
            "grSstWinOpen(0, 7, 0, 2, 0, 2, 1)\n"
            "grConstantColorValue(0x00000080)\n"
            "grBufferSwap(1)\n"
            "grLibShutdown()\n");
}

}  // namespace
