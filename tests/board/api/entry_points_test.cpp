// The C entry points as a careless or hostile program calls them: out of
// order, with null pointers and values out of range. Every bad call is refused
// and traced with its reason, and changes nothing.
#include <gtest/gtest.h>

#include <unistd.h>

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
  grTexMinAddress(1);
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
  ExpectTraced("grTexMinAddress(1) refused: no such texture unit");
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
