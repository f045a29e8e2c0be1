// The C entry points as a careless or hostile program calls them: out of
// order, with null pointers and values out of range. Every bad call is refused
// and traced with its reason, and changes nothing.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <thread>

#include "api/board_context.h"
#include "api/display_frames.h"
#include "board/pipeline_support.h"
#include "grlib.h"

namespace softboard {
namespace {

// Each test draws on a board of its own, headless, swaps not waiting, traced.
class EntryPoints : public ::testing::Test {
 protected:
  void SetUp() override {
    // ctest runs tests side by side: each its own trace file.
    trace_ = ::testing::TempDir() + "entry_points_trace_" + std::to_string(getpid()) + ".txt";
    Settings settings;
    settings.display = DisplayMode::kHeadless;
    settings.vsync = false;
    settings.trace_path = trace_;
    board_ = std::make_unique<ScopedBoard>(settings);
  }
  void TearDown() override {
    board_.reset();
    std::remove(trace_.c_str());
  }
  Settings& settings() { return *board_->state().given_settings; }
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
  void ExpectTraced(const std::string& line) {
    EXPECT_NE(Trace().find(line + "\n"), std::string::npos) << "no line " << line << " in\n"
                                                            << Trace();
  }
  std::string trace_;
  std::unique_ptr<ScopedBoard> board_;
};

TEST_F(EntryPoints, CallsBeforeInitAndAfterShutdownDoNothing) {
  grLibShutdown();
  GrHwConfiguration config;
  config.num_sst = 77;
  EXPECT_EQ(grSstQueryHardware(&config), FXFALSE);
  EXPECT_EQ(config.num_sst, 77) << "a refused call fills nothing";
  EXPECT_EQ(grSstWinOpen(0, 7, 0, 2, 0, 2, 1), FXFALSE);
  const int ilist[3] = {0, 1, 2};
  GrVertex v[3] = {};
  grDrawPolygon(3, ilist, v);
  grBufferClear(0, 0, 0);
  grBufferSwap(1);
  grTexSource(0, 0, 3, nullptr);
  grLibShutdown();
  grLibShutdown();
  const BoardState& board = TheBoard();
  EXPECT_FALSE(board.open);
  EXPECT_FALSE(board.display);
  EXPECT_TRUE(board.frame.color[0].bytes() == 0 && board.frame.color[1].bytes() == 0);
  EXPECT_FALSE(board.tmu0.source.valid);
  EXPECT_EQ(Trace(), "") << "no trace is open outside grLibInit..grLibShutdown";
}

TEST_F(EntryPoints, CallsBeforeOpenAreRefusedAndTraced) {
  grLibInit();
  grSstSelect(3);
  grBufferClear(0, 0, 0);
  grConstantColorValue(0xFF);
  GrHwConfiguration* none = nullptr;
  EXPECT_EQ(grSstQueryHardware(none), FXFALSE);
  ExpectTraced("grSstSelect(3) refused: no such board");
  ExpectTraced("grBufferClear(0x00000000, 0, 0) refused: no display open");
  ExpectTraced("grConstantColorValue(0x000000FF) refused: no display open");
  ExpectTraced("grSstQueryHardware(null) refused: null record");
  EXPECT_EQ(TheBoard().selected, -1);
}

TEST_F(EntryPoints, NoBoardSettingReportsNone) {
  settings().boards = 0;
  grLibInit();
  GrHwConfiguration config;
  EXPECT_EQ(grSstQueryHardware(&config), FXFALSE);
  EXPECT_EQ(config.num_sst, 0);
  EXPECT_EQ(grSstWinOpen(0, 7, 0, 2, 0, 2, 1), FXFALSE);
  ExpectTraced("grSstQueryHardware(out) = 0 {num_sst=0}");
  ExpectTraced("grSstWinOpen(0, 7, 0, 2, 0, 2, 1) refused: no board");
}

TEST_F(EntryPoints, OpenRefusesModesTheBoardDoesNotOffer) {
  grLibInit();
  GrHwConfiguration config;
  ASSERT_EQ(grSstQueryHardware(&config), FXTRUE);
  EXPECT_EQ(config.num_sst, 1);
  EXPECT_EQ(grSstWinOpen(0, 8, 0, 2, 0, 2, 1), FXFALSE) << "resolution";
  EXPECT_EQ(grSstWinOpen(0, 7, 9, 2, 0, 2, 1), FXFALSE) << "refresh";
  EXPECT_EQ(grSstWinOpen(0, 7, 0, 4, 0, 2, 1), FXFALSE) << "colour format";
  EXPECT_EQ(grSstWinOpen(0, 7, 0, 2, 2, 2, 1), FXFALSE) << "origin";
  EXPECT_EQ(grSstWinOpen(0, 7, 0, 2, 0, 1, 1), FXFALSE) << "colour buffers";
  EXPECT_FALSE(TheBoard().open);
  EXPECT_EQ(grSstWinOpen(0, 7, 0, 2, 0, 2, 1), FXTRUE);
  EXPECT_EQ(grSstWinOpen(0, 7, 0, 2, 0, 2, 1), FXFALSE) << "already open";
  ExpectTraced("grSstWinOpen(0, 8, 0, 2, 0, 2, 1) refused: only 640x480 (7) is offered");
  ExpectTraced("grSstWinOpen(0, 7, 9, 2, 0, 2, 1) refused: unknown refresh rate");
  ExpectTraced("grSstWinOpen(0, 7, 0, 2, 0, 2, 1) = 1");
  ExpectTraced("grSstWinOpen(0, 7, 0, 2, 0, 2, 1) refused: a display is already open");
}

TEST_F(EntryPoints, BadArgumentsAreRefusedAndChangeNothing) {
  ASSERT_TRUE(Open());
  grBufferClear(0x11223344, 0x55, 0);
  FinishDrawing(TheBoard());
  const BoardState& board = TheBoard();
  const std::vector<uint32_t> back = ImagePixels(BackRows(board.frame));
  const std::vector<uint8_t> memory = board.tmu0.memory;

  GrVertex v[3] = {};
  v[1].x = 600;
  v[2].y = 400;
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
  grTexDownloadMipMap(0, 0, 3, &info);  // no texels to copy
  GrTexInfo odd_levels_only{0, 0, 3, GR_TEXFMT_RGB_565, nullptr};
  grTexSource(0, 0, GR_MIPMAPLEVELMASK_ODD, &odd_levels_only);
  EXPECT_EQ(grTexMinAddress(1), 0u);
  EXPECT_EQ(gu3dfGetInfo(nullptr, nullptr), FXFALSE);
  Gu3dfInfo file_info{};
  EXPECT_EQ(gu3dfLoad("no such file", &file_info), FXFALSE) << "no buffer to load into";

  FinishDrawing(TheBoard());
  EXPECT_EQ(ImagePixels(BackRows(board.frame)), back) << "a refused call drew";
  EXPECT_EQ(board.tmu0.memory, memory) << "a refused call wrote texture memory";
  EXPECT_FALSE(board.tmu0.source.valid);
  ExpectTraced("grDrawPolygon(3, null, []) refused: null index list");
  ExpectTraced("grDrawPolygon(3, [0, 1, 2], null) refused: null vertex array");
  ExpectTraced("grDrawPolygon(-5, [], [])");  // fewer than 3 corners: nothing to draw
}

TEST_F(EntryPoints, BadArgumentTraceLines) {
  ASSERT_TRUE(Open());
  const int ilist[3] = {0, 1, 2};
  const int bad_index[3] = {0, -1, 2};
  GrVertex v[3] = {};
  grDrawPolygon(std::numeric_limits<int>::max(), ilist, v);
  grDrawPolygon(3, bad_index, v);
  grTexSource(5, 0, 3, nullptr);
  GrTexInfo info{8, 0, 3, GR_TEXFMT_RGB_565, nullptr};
  grTexSource(0, 0xFFFFFFF0u, 3, &info);
  grTexDownloadMipMap(0, 0, 3, &info);
  GrTexInfo odd_levels_only{0, 0, 3, GR_TEXFMT_RGB_565, nullptr};
  grTexSource(0, 0, GR_MIPMAPLEVELMASK_ODD, &odd_levels_only);
  EXPECT_EQ(gu3dfGetInfo(nullptr, nullptr), FXFALSE);
  grTexMinAddress(2);
  ExpectTraced("grDrawPolygon(2147483647) refused: more than 1024 vertices");
  ExpectTraced(
      "grDrawPolygon(3, [0, -1, 2], unread) refused: vertex index -1 out of range "
      "(0 to 1048575)");
  ExpectTraced("grTexSource(5, 0, 3, null) refused: no such texture unit");
  ExpectTraced(
      "grTexSource(0, 4294967280, 3, {smallLod=8, largeLod=0, aspectRatio=3, "
      "format=10, data=null}) refused: beyond the end of texture memory");
  ExpectTraced(
      "grTexDownloadMipMap(0, 0, 3, {smallLod=8, largeLod=0, aspectRatio=3, "
      "format=10, data=null}) refused: null data");
  ExpectTraced(
      "grTexSource(0, 0, 2, {smallLod=0, largeLod=0, aspectRatio=3, format=10, "
      "data=null}) refused: the level mask selects no level");
  ExpectTraced("gu3dfGetInfo(null, null) refused: null file name");
  ExpectTraced("grTexMinAddress(2) refused: no such texture unit");
}

// An index far beyond the caller's array used to be read by the trace before
// the check: the call must be refused without touching the vertex array.
TEST_F(EntryPoints, HugeIndexWithTheTraceOnIsRefusedUnread) {
  ASSERT_TRUE(Open());
  GrVertex v[3] = {};
  const int ilist[3] = {0, 1 << 28, 2};
  grDrawPolygon(3, ilist, v);
  ExpectTraced(
      "grDrawPolygon(3, [0, 268435456, 2], unread) refused: vertex index 268435456 out "
      "of range (0 to 1048575)");
}

TEST_F(EntryPoints, MissingTextureFileGivesTheReadersReason) {
  grLibInit();
  Gu3dfInfo info{};
  EXPECT_EQ(gu3dfGetInfo("/nonexistent-dir/tex.3df", &info), FXFALSE);
  ExpectTraced(
      "gu3dfGetInfo(\"/nonexistent-dir/tex.3df\", out) = 0 (/nonexistent-dir/tex.3df: "
      "No such file or directory)");
}

TEST_F(EntryPoints, NonFiniteAndHugeVerticesStayOnTheScreen) {
  ASSERT_TRUE(Open());
  grColorCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_CONSTANT,
                 GR_COMBINE_OTHER_ITERATED, FXFALSE);
  grConstantColorValue(0x00FF00FF);  // RGBA: green (alpha stays the iterated 0)
  grBufferClear(0, 0, 0);
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
  // Every pixel is either the clear colour or the constant one: nothing else
  // was written anywhere, and the buffer is exactly the screen.
  FinishDrawing(TheBoard());
  const BoardState& board = TheBoard();
  const std::vector<uint32_t> back = ImagePixels(BackRows(board.frame));
  ASSERT_EQ(board.frame.color[size_t(board.frame.back)].bytes(), size_t(kScreenPixels) * 4);
  size_t drawn = 0;
  for (size_t i = 0; i < back.size(); i++) {
    ASSERT_TRUE(back[i] == 0 || back[i] == 0x0000FF00u)
        << "pixel (" << i % kScreenWidth << ", " << i / kScreenWidth << ") is " << std::hex
        << back[i];
    drawn += back[i] != 0;
  }
  EXPECT_GT(drawn, 0u) << "the finite polygons are drawn";
}

TEST_F(EntryPoints, TraceRecordsEveryCallInOrder) {
  ASSERT_TRUE(Open());
  grConstantColorValue(0x80);
  grBufferSwap(1);
  grLibShutdown();
  EXPECT_EQ(Trace(),
            "grLibInit()\n"
            "grSstQueryHardware(out) = 1 {num_sst=1}\n"
            "grSstSelect(0)\n"
            "grSstWinOpen(0, 7, 0, 2, 0, 2, 1) = 1\n"
            "grConstantColorValue(0x00000080)\n"
            "grBufferSwap(1)\n"
            "grLibShutdown()\n");
}

// A swap interval past a few retraces is a stray value: held, and traced so.
TEST_F(EntryPoints, HugeSwapIntervalsAreHeldToAFewRetraces) {
  settings().vsync = true;
  ASSERT_TRUE(Open());
  grBufferSwap(1000000);
  grBufferSwap(-5);
  grBufferSwap(2);
  ExpectTraced("grBufferSwap(1000000) held to 8 retraces");
  ExpectTraced("grBufferSwap(-5) held to 0 retraces");
  ExpectTraced("grBufferSwap(2)");
}

// Calls from several threads take turns: two threads drawing while a third
// opens and shuts the display down again and again corrupt nothing (the
// sanitized build checks the memory).
TEST_F(EntryPoints, CallsFromSeveralThreadsAtOnceTakeTurns) {
  settings().trace_path.clear();
  settings().ssaa = 2;
  ASSERT_TRUE(Open());
  std::atomic<bool> stop{false};
  const auto draw = [&](float dx) {
    GrVertex v[3] = {};
    v[0].x = 10 + dx, v[0].y = 10, v[1].x = 300 + dx, v[1].y = 40, v[2].x = 100 + dx, v[2].y = 400;
    const int ilist[3] = {0, 1, 2};
    while (!stop) {
      grBufferClear(0x000000FF, 0, 0);
      grConstantColorValue(0xFF00FFFF);
      grDrawPolygon(3, ilist, v);
      grBufferSwap(0);
    }
  };
  std::thread first(draw, 0.0f), second(draw, 200.0f);
  for (int i = 0; i < 20; i++) {
    grLibShutdown();
    grLibInit();
    grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_RGBA,
                 GR_ORIGIN_UPPER_LEFT, 2, 1);
  }
  stop = true;
  first.join();
  second.join();
  EXPECT_TRUE(TheBoard().open);
}

// The texture units' calls with every kind of bad argument: refused (or, a
// bias out of range, held) and traced, and the units as they were.
TEST_F(EntryPoints, TextureUnitCallsRefuseBadArgumentsAndSayWhy) {
  ASSERT_TRUE(Open());
  const BoardState& board = TheBoard();
  std::vector<uint16_t> texels(64 * 64 * 2, 0x1234);
  GuTexPalette palette{};
  GuNccTable ncc{};
  ncc.iRGB[1][2] = -300;
  grTexFilterMode(GR_TMU1, 2, 0);
  grTexClampMode(GR_TMU0, 0, -1);
  grTexMipMapMode(GR_TMU1, 3, FXTRUE);
  grTexMipMapMode(2, GR_MIPMAP_NEAREST, FXFALSE);
  grTexLodBiasValue(GR_TMU0, std::nanf(""));
  grTexLodBiasValue(GR_TMU1, 100.0f);
  grTexLodBiasValue(GR_TMU0, -9.0f);
  grTexLodBiasValue(GR_TMU0, 0.6f);
  grTexDownloadMipMapLevel(GR_TMU0, 0, GR_LOD_128, GR_LOD_64, GR_ASPECT_1x1, GR_TEXFMT_RGB_565,
                           GR_MIPMAPLEVELMASK_BOTH, texels.data());
  grTexDownloadMipMapLevel(GR_TMU0, 0, 9, GR_LOD_64, GR_ASPECT_1x1, GR_TEXFMT_RGB_565,
                           GR_MIPMAPLEVELMASK_BOTH, texels.data());
  grTexDownloadMipMapLevel(GR_TMU1, 0, GR_LOD_32, GR_LOD_64, GR_ASPECT_1x1, GR_TEXFMT_RGB_565,
                           GR_MIPMAPLEVELMASK_EVEN, texels.data());
  grTexDownloadMipMapLevel(GR_TMU1, 0, GR_LOD_64, GR_LOD_64, GR_ASPECT_1x1, GR_TEXFMT_RGB_565,
                           GR_MIPMAPLEVELMASK_BOTH, nullptr);
  grTexDownloadMipMapLevel(GR_TMU1, 2097152 - 8191, GR_LOD_64, GR_LOD_64, GR_ASPECT_1x1,
                           GR_TEXFMT_RGB_565, GR_MIPMAPLEVELMASK_BOTH, texels.data());
  grTexDownloadMipMapLevelPartial(GR_TMU0, 0, GR_LOD_64, GR_LOD_64, GR_ASPECT_1x1,
                                  GR_TEXFMT_RGB_565, GR_MIPMAPLEVELMASK_BOTH, texels.data(), 60,
                                  64);
  grTexDownloadMipMapLevelPartial(GR_TMU0, 0, GR_LOD_64, GR_LOD_64, GR_ASPECT_1x1,
                                  GR_TEXFMT_RGB_565, GR_MIPMAPLEVELMASK_BOTH, texels.data(), 5, 4);
  grTexDownloadTable(GR_TMU0, GR_TEXTABLE_PALETTE, nullptr);
  grTexDownloadTable(GR_TMU1, 3, &palette);
  grTexDownloadTable(GR_TMU1, GR_TEXTABLE_NCC1, &ncc);
  grTexNCCTable(GR_TMU0, 2);
  GrTexInfo too_big{GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, GR_TEXFMT_RGB_565, texels.data()};
  grTexDownloadMipMap(GR_TMU1, grTexMaxAddress(GR_TMU1) + 8, GR_MIPMAPLEVELMASK_BOTH, &too_big);
  EXPECT_EQ(grTexCalcMemRequired(GR_LOD_256, GR_LOD_1, GR_ASPECT_1x1, GR_TEXFMT_RGB_565), 0u);
  EXPECT_EQ(grTexTextureMemRequired(GR_MIPMAPLEVELMASK_BOTH, nullptr), 0u);
  EXPECT_EQ(grTexMaxAddress(7), 0u);

  ExpectTraced("grTexFilterMode(1, 2, 0) refused: filters are 0 (point) or 1 (bilinear)");
  ExpectTraced("grTexClampMode(0, 0, -1) refused: clamp modes are 0 (wrap) or 1 (clamp)");
  ExpectTraced(
      "grTexMipMapMode(1, 3, 1) refused: mipmap modes are 0 (disable), 1 (nearest) or 2 "
      "(nearest, dithered)");
  ExpectTraced("grTexMipMapMode(2, 1, 0) refused: no such texture unit");
  ExpectTraced("grTexLodBiasValue(0, nan) refused: not a number");
  ExpectTraced("grTexLodBiasValue(1, 100) held to 7.75");
  ExpectTraced("grTexLodBiasValue(0, -9) held to -8");
  ExpectTraced("grTexLodBiasValue(0, 0.6)");
  ExpectTraced(
      "grTexDownloadMipMapLevel(0, 0, 1, 2, 3, 10, 3, data) refused: the level is larger than "
      "the texture's largest");
  ExpectTraced(
      "grTexDownloadMipMapLevel(0, 0, 9, 2, 3, 10, 3, data) refused: invalid level (0 to 8)");
  ExpectTraced(
      "grTexDownloadMipMapLevel(1, 0, 3, 2, 3, 10, 1, data) refused: the level is not in the "
      "level mask");
  ExpectTraced("grTexDownloadMipMapLevel(1, 0, 2, 2, 3, 10, 3, null) refused: null data");
  ExpectTraced(
      "grTexDownloadMipMapLevel(1, 2088961, 2, 2, 3, 10, 3, data) refused: beyond the end of "
      "texture memory");
  ExpectTraced(
      "grTexDownloadMipMapLevelPartial(0, 0, 2, 2, 3, 10, 3, data, 60, 64) refused: rows outside "
      "the level");
  ExpectTraced(
      "grTexDownloadMipMapLevelPartial(0, 0, 2, 2, 3, 10, 3, data, 5, 4) refused: rows outside "
      "the level");
  ExpectTraced("grTexDownloadTable(0, 2, null) refused: null table");
  ExpectTraced("grTexDownloadTable(1, 3, data) refused: unknown table");
  ExpectTraced("grTexDownloadTable(1, 1, data) refused: NCC I and Q values are -256 to 255");
  ExpectTraced("grTexNCCTable(0, 2) refused: NCC tables are 0 or 1");
  ExpectTraced(
      "grTexDownloadMipMap(1, 1922392, 3, {smallLod=8, largeLod=0, aspectRatio=3, "
      "format=10, data=set}) refused: beyond the end of texture memory");
  ExpectTraced(
      "grTexCalcMemRequired(0, 8, 3, 10) refused: invalid level range, aspect, format or level "
      "mask");
  ExpectTraced("grTexTextureMemRequired(3, null) refused: null record");
  ExpectTraced("grTexMaxAddress(7) refused: no such texture unit");

  for (const TextureUnitState* tmu : {&board.tmu0, &board.tmu1}) {
    EXPECT_TRUE(
        std::all_of(tmu->memory.begin(), tmu->memory.end(), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(tmu->ncc_table, GR_NCCTABLE_NCC0);
    EXPECT_EQ(tmu->palette[5], 0xFF050505u);
    EXPECT_TRUE(tmu->mode.min_bilinear && tmu->mode.wrap_t);
    EXPECT_EQ(tmu->mode.mipmap, GR_MIPMAP_DISABLE);
  }
  EXPECT_EQ(board.tmu0.mode.lod_bias, 2) << "0.6 is 2 quarters";
  EXPECT_EQ(board.tmu1.mode.lod_bias, 31);
}

TEST_F(EntryPoints, TwoUnitsOfTheirOwnMemoryAndTheQueries) {
  ASSERT_TRUE(Open());
  GrHwConfiguration config;
  ASSERT_TRUE(grSstQueryHardware(&config));
  EXPECT_EQ(config.SSTs[0].nTexelfx, 2);
  EXPECT_EQ(config.SSTs[0].tmuRam, 2);
  EXPECT_EQ(grTexMinAddress(GR_TMU1), 0u);
  EXPECT_EQ(grTexMaxAddress(GR_TMU1), 2097152u - 174768u);
  EXPECT_EQ(grTexCalcMemRequired(GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, GR_TEXFMT_RGB_565), 174768u);
  EXPECT_EQ(grTexCalcMemRequired(GR_LOD_1, GR_LOD_8, GR_ASPECT_8x1, GR_TEXFMT_P_8), 32u);
  GrTexInfo info{GR_LOD_1, GR_LOD_64, GR_ASPECT_2x1, GR_TEXFMT_ARGB_1555, nullptr};
  EXPECT_EQ(grTexTextureMemRequired(GR_MIPMAPLEVELMASK_EVEN, &info), 4096u + 256 + 16 + 8);
  EXPECT_EQ(grTexTextureMemRequired(GR_MIPMAPLEVELMASK_ODD, &info), 1024u + 64 + 8);
  std::vector<uint16_t> texels(64 * 32, 0xF800);
  info.smallLod = GR_LOD_64;
  info.data = texels.data();
  grTexDownloadMipMap(GR_TMU1, 100, GR_MIPMAPLEVELMASK_BOTH, &info);
  grTexSource(GR_TMU1, 100, GR_MIPMAPLEVELMASK_BOTH, &info);
  const BoardState& board = TheBoard();
  EXPECT_EQ(board.tmu1.memory[101], 0xF8);
  EXPECT_EQ(board.tmu0.memory[101], 0) << "each unit has memory of its own";
  EXPECT_TRUE(board.tmu1.source.valid);
  EXPECT_FALSE(board.tmu0.source.valid);
  grTexCombine(GR_TMU1, GR_COMBINE_FUNCTION_ZERO, 0, GR_COMBINE_FUNCTION_ZERO, 0, FXTRUE, FXFALSE);
  EXPECT_EQ(board.tmu1.combine.rgb_function, GR_COMBINE_FUNCTION_ZERO);
  EXPECT_EQ(board.tmu0.combine.rgb_function, GR_COMBINE_FUNCTION_LOCAL);
}

// A test's board takes its settings as given, whatever the environment says,
// and the board before is current again once it goes.
TEST(ScopedBoards, TakeTheirSettingsAsGivenAndRestoreTheBoardBefore) {
  BoardState* const process = &TheBoard();
  setenv("SOFTBOARD_BOARDS", "0", 1);
  {
    Settings settings;
    settings.display = DisplayMode::kHeadless;
    ScopedBoard outer(settings);
    EXPECT_EQ(&TheBoard(), &outer.state());
    grLibInit();
    GrHwConfiguration config;
    EXPECT_EQ(grSstQueryHardware(&config), FXTRUE) << "one board, as given";
    {
      ScopedBoard inner(settings);
      EXPECT_EQ(&TheBoard(), &inner.state());
      EXPECT_FALSE(inner.state().initialized);
    }
    EXPECT_EQ(&TheBoard(), &outer.state());
    EXPECT_TRUE(outer.state().initialized);
  }
  EXPECT_EQ(&TheBoard(), process);
  unsetenv("SOFTBOARD_BOARDS");
}

}  // namespace
}  // namespace softboard
