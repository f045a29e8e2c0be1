// Drawing recorded and rendered in bands of rows by several threads gives the
// pixels drawing at once gives: every thread count, every band height.
#include <sched.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "api/frame_drawing.h"
#include "board/pipeline_support.h"
#include "frame/frame_recorder.h"

namespace softboard {
namespace {

uint32_t Texel(int x, int y) {
  return uint32_t(x * 0x010307 ^ y * 0x0B0D11) | 0xFF000000u;
}

// Clears and random triangles of every fused and general state, at once or
// through the bands, at a scale that makes rows many.
std::vector<uint32_t> Draw(int threads, int band_rows) {
  TestBoard board;
  InitFrameBuffers(board.state.frame, 2, 960, 720);
  if (threads > 0) board.state.recorder = std::make_unique<FrameRecorder>(threads, band_rows);
  board.SetTexture(64, 32, &Texel);
  FrameBuffers& frame = board.state.frame;
  Random random(21);
  const CombineState colors[] = {
      {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, 1, GR_COMBINE_OTHER_TEXTURE, false},
      {GR_COMBINE_FUNCTION_LOCAL, 0, GR_COMBINE_LOCAL_ITERATED, 0, false},
      {GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL, GR_COMBINE_FACTOR_LOCAL_ALPHA,
       GR_COMBINE_LOCAL_ITERATED, GR_COMBINE_OTHER_TEXTURE, true}};
  for (int k = 0; k < 30; k++) {
    if (k % 10 == 0 && board.state.recorder) {
      board.state.recorder->RecordClear(BackDestination(frame), random.Next());
    } else if (k % 10 == 0) {
      std::fill_n(BackRows(frame).Argb(), size_t(frame.width) * frame.height, random.Next());
    }
    board.state.render.color = colors[k % 3];
    board.state.render.alpha = {GR_COMBINE_FUNCTION_LOCAL, 0, GR_COMBINE_LOCAL_ITERATED, 0, false};
    board.SetBlend(GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ONE, GR_BLEND_ZERO);
    GrVertex v[3];
    for (GrVertex& p : v) {
      p = TexVertex(float(random.Below(800)) - 80, float(random.Below(640)) - 80,
                    float(random.Below(512)), float(random.Below(512)), k % 2 ? 1 : 2);
      p.r = float(random.Below(256)), p.g = float(random.Below(256));
      p.b = float(random.Below(256)), p.a = float(random.Below(256));
    }
    DrawTriangle(board.state, v[0], v[1], v[2]);
  }
  if (board.state.recorder) board.state.recorder->Flush();
  const uint32_t* p = BackRows(frame).Argb();
  return {p, p + size_t(frame.width) * frame.height};
}

TEST(Bands, EveryThreadCountAndBandHeightGivesTheSamePixels) {
  const std::vector<uint32_t> at_once = Draw(0, 0);
  for (int threads : {1, 2, 3, 7}) {
    for (int band_rows : {4, 8, 12, 64}) {
      ASSERT_EQ(Draw(threads, band_rows), at_once)
          << threads << " threads, bands of " << band_rows << " rows";
    }
  }
}

// Supersampled frames drawn in each band's own rows and averaged down there
// equal the frame drawn whole and averaged after.
TEST(Bands, SupersampledFramesDrawnInBandsOnlyMatchTheWholeFrame) {
  TestBoard board;
  InitFrameBuffers(board.state.frame, 2, 320, 240, 2);  // drawn 640x480, kept whole
  board.SetTexture(64, 32, &Texel);
  board.state.render.color = {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, 1,
                              GR_COMBINE_OTHER_TEXTURE, false};
  const GrVertex v[3] = {TexVertex(10, 20, 0, 0), TexVertex(600, 40, 256, 0),
                         TexVertex(300, 470, 128, 256)};
  FrameBuffers& frame = board.state.frame;
  PreparedTriangle t;
  ASSERT_TRUE(PrepareTriangle(BackTarget(frame), board.state.render, board.state.tmu0, v[0], v[1],
                              v[2], SpanLoops::kBest, &t));
  std::fill_n(BackRows(frame).Argb(), size_t(frame.width) * frame.height, 0xFF102030u);
  DrawRows(t, BackRows(frame), 0, frame.height);
  RotateBuffers(frame);
  const std::vector<uint32_t> whole = ImagePixels(ShownFrame(frame));
  for (int threads : {1, 2, 3}) {
    std::vector<uint32_t> shown(whole.size(), 0);
    FrameRecorder recorder(threads);
    const Destination band_rows = {.where = Destination::Where::kBandRows,
                                   .rows = ArgbRows(nullptr, frame.width, frame.height)};
    recorder.RecordClear(band_rows, 0xFF102030u);
    recorder.RecordTriangle(band_rows, t);
    recorder.RecordAverageDown(band_rows, 2,
                               ArgbRows(shown.data(), frame.width / 2, frame.height / 2));
    recorder.Flush();
    EXPECT_EQ(shown, whole) << threads << " threads";
  }
}

TEST(Bands, FlushingNothingAndRenderingAgainWork) {
  FrameRecorder recorder(3);
  recorder.Flush();  // nothing recorded: returns at once
  std::vector<uint32_t> pixels(100 * 40, 1);
  for (uint32_t value : {7u, 9u}) {
    recorder.RecordClear({.rows = ArgbRows(pixels.data(), 100, 40)}, value);
    recorder.Flush();
    EXPECT_EQ(pixels, std::vector<uint32_t>(100 * 40, value));
  }
}

// A frame drawn into rows of a larger surface (a window's, with the frame
// centred) is the frame drawn into a buffer of its own, and nothing outside
// its rectangle is touched: clears, triangles and averages alike.
TEST(Bands, FramesDrawnIntoAWiderSurfaceMatchAndStayInTheirRectangle) {
  constexpr int kLeft = 40, kTop = 3, kStride = 720, kRows = 500;
  for (const int ssaa : {1, 2}) {
    TestBoard board;
    InitFrameBuffers(board.state.frame, 2, 640 / ssaa, 480 / ssaa, ssaa);
    board.SetTexture(64, 32, &Texel);
    board.state.render.color = {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, 1,
                                GR_COMBINE_OTHER_TEXTURE, false};
    const GrVertex v[3] = {TexVertex(-10, 20, 0, 0), TexVertex(660, 40, 256, 0),
                           TexVertex(300, 490, 128, 256)};
    PreparedTriangle t;
    ASSERT_TRUE(PrepareTriangle(BackTarget(board.state.frame), board.state.render, board.state.tmu0,
                                v[0], v[1], v[2], SpanLoops::kBest, &t));
    const int width = 640 / ssaa, height = 480 / ssaa;
    std::vector<uint32_t> packed(size_t(width) * height), surface(size_t(kStride) * kRows, 7);
    uint32_t* origin = surface.data() + kTop * kStride + kLeft;
    for (const bool wide : {false, true}) {
      FrameRecorder recorder(2);
      uint32_t* out = wide ? origin : packed.data();
      const size_t stride = wide ? kStride : size_t(width);
      if (ssaa == 1) {
        const Destination to = {.rows = ArgbRows(out, 640, 480, stride)};
        recorder.RecordClear(to, 0xFF102030u);
        recorder.RecordTriangle(to, t);
      } else {
        const Destination band = {.where = Destination::Where::kBandRows,
                                  .rows = ArgbRows(nullptr, 640, 480)};
        recorder.RecordClear(band, 0xFF102030u);
        recorder.RecordTriangle(band, t);
        recorder.RecordAverageDown(band, 2, ArgbRows(out, width, height, stride));
      }
      recorder.Flush();
    }
    for (int y = 0; y < kRows; y++) {
      for (int x = 0; x < kStride; x++) {
        const bool inside = x >= kLeft && x < kLeft + width && y >= kTop && y < kTop + height;
        const uint32_t want = inside ? packed[size_t(y - kTop) * width + size_t(x - kLeft)] : 7u;
        ASSERT_EQ(surface[size_t(y) * kStride + x], want)
            << "ssaa " << ssaa << " at " << x << ", " << y;
      }
    }
  }
}

// A band is crowded when many shapes touch it and they are small; runs of
// crowded bands are drawn as one region. Other bands, skipped bands and bands
// that draw in rows of their own stand alone, and with more threads a run is
// cut so every thread has regions to take.
TEST(DrawRegions, CrowdedRunsJoinAndNothingElseDoes) {
  EXPECT_TRUE(CrowdedBand(kCrowdedBand, kCrowdedBand * 16, 32));
  EXPECT_FALSE(CrowdedBand(kCrowdedBand - 1, 0, 32)) << "too few";
  EXPECT_FALSE(CrowdedBand(100, 100 * 17, 32)) << "more than half a band high, as long lines are";
  const std::vector<uint8_t> crowded = {0, 1, 1, 1, 0, 1, 1, 0};
  using R = std::vector<DrawRegion>;
  EXPECT_EQ(DrawRegions(crowded, {}, 1, true), (R{{0, 1}, {1, 4}, {4, 5}, {5, 7}, {7, 8}}));
  EXPECT_EQ(DrawRegions(crowded, {0, 0, 1}, 1, true),
            (R{{0, 1}, {1, 2}, {3, 4}, {4, 5}, {5, 7}, {7, 8}}))
      << "a skipped band is in no region and joins nothing";
  EXPECT_EQ(DrawRegions(crowded, {}, 1, false).size(), crowded.size());
  const std::vector<uint8_t> all(32, 1);
  const R two = DrawRegions(all, {}, 2, true);
  ASSERT_EQ(two.size(), 8u) << "two threads: parts of at most 32 / 8 bands";
  EXPECT_EQ(two[1], (DrawRegion{4, 8}));
  EXPECT_EQ(DrawRegions(all, {}, 1, true), (R{{0, 32}}));
}

// One quad of small triangles after another, in rows [top, top + 24): three
// bands of 8 rows with 40 triangles each. One triangle's colour is `shade`.
void CrowdedFrame(TestBoard& board, float shade) {
  FrameBuffers& frame = board.state.frame;
  if (board.state.recorder)
    board.state.recorder->RecordClear(BackDestination(frame), 0xFF203040u);
  else
    std::fill_n(BackRows(frame).Argb(), size_t(frame.width) * frame.height, 0xFF203040u);
  for (int y = 96; y < 120; y += 4) {
    for (int x = 0; x < 200; x += 20) {
      const bool marked = y == 104 && x == 100;
      const float r = marked ? shade : float(x), g = float(y), b = 90, a = 160;
      const GrVertex p = Vertex(float(x), float(y), r, g, b, a);
      const GrVertex q = Vertex(float(x + 20), float(y) + 0.25f, r, g, 250, a);
      const GrVertex s = Vertex(float(x + 3), float(y + 4), 30, g, b, 250);
      const GrVertex t = Vertex(float(x + 21), float(y + 4), r, 10, b, a);
      DrawTriangle(board.state, p, q, s);
      DrawTriangle(board.state, q, t, s);
    }
  }
}

// Drawing the crowded bands as one region gives the pixels of drawing at
// once; when a frame changes only the middle band, the bands beside it, of
// the same run, are still not drawn again.
TEST(Bands, CrowdedBandsDrawnTogetherGiveTheSamePixelsAndStillSkipUnchangedBands) {
  const auto board_with = [](int threads) {
    auto board = std::make_unique<TestBoard>();
    InitFrameBuffers(board->state.frame, 2, 640, 480, 1, true);
    if (threads > 0) board->state.recorder = std::make_unique<FrameRecorder>(threads, 8);
    board->UseIterated();
    board->SetBlend(GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ONE, GR_BLEND_ZERO);
    return board;
  };
  const auto pixels = [](TestBoard& board) { return ImagePixels(BackRows(board.state.frame)); };
  const auto whole = [&](float shade) {
    auto at_once = board_with(0);
    CrowdedFrame(*at_once, shade);
    return pixels(*at_once);
  };
  const std::vector<uint32_t> first = whole(10), second = whole(240);
  // Two threads take regions of at most 7 of the 60 bands, side by side.
  for (int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    auto board = board_with(threads);
    CrowdedFrame(*board, 10);
    EXPECT_TRUE(board->state.recorder->FlushFrame().all);
    EXPECT_EQ(pixels(*board), first);
    constexpr uint32_t kPoke = 0x12345678u;
    board->At(110, 100) = board->At(110, 116) = kPoke;  // the bands above and below the change
    const FrameDamage damage = (CrowdedFrame(*board, 240), board->state.recorder->FlushFrame());
    EXPECT_FALSE(damage.all);
    EXPECT_EQ(board->At(110, 100), kPoke);
    EXPECT_EQ(board->At(110, 116), kPoke);
    board->At(110, 100) = second[100 * 640 + 110];
    board->At(110, 116) = second[116 * 640 + 110];
    EXPECT_EQ(pixels(*board), second);
  }
}

// A frame wakes a thread a band at most: a small one leaves the other
// workers asleep.
TEST(Bands, AFrameDrawsWithNoMoreThreadsThanItHasBands) {
  BandDrawer drawer(8, 8);
  std::vector<uint32_t> pixels(100 * 480, 1);
  struct Case {
    int rows, threads;
  };
  for (const Case c : {Case{480, 8}, Case{16, 2}, Case{8, 1}, Case{1, 1}, Case{24, 3}}) {
    const std::vector<BandCommand> clear = {
        ClearCommand{{.rows = ArgbRows(pixels.data(), 100, c.rows)}, 5}};
    drawer.Expect(c.rows);
    drawer.Draw(clear, c.rows, {});
    drawer.EndFrame();
    EXPECT_EQ(drawer.last_threads(), c.threads) << c.rows << " rows";
    EXPECT_EQ(pixels[size_t(c.rows) * 100 - 1], 5u);
  }
}

// Threads past the cores would only take turns: the setting is a most, the
// cores this process may use (its affinity) the bound.
TEST(DrawingThreads, TheSettingOrAsManyAsTheFrameIsWorthButNeverMoreThanTheCores) {
  const int cores = UsableCores();
  constexpr size_t kLarge = size_t(1) << 40;
  EXPECT_GE(cores, 1);
  EXPECT_EQ(DrawingThreads(0, kLarge), cores);
  EXPECT_EQ(DrawingThreads(0, 640 * 480), 1) << "a small frame is not worth waking a thread";
  EXPECT_EQ(DrawingThreads(0, 2 * kPixelsPerThread), std::min(cores, 2));
  EXPECT_EQ(DrawingThreads(1, kLarge), 1);
  EXPECT_EQ(DrawingThreads(3, 640 * 480), std::min(3, cores)) << "a setting is kept";
  EXPECT_EQ(DrawingThreads(256, kLarge), cores);
  // Held to one core, as taskset would hold the process.
  cpu_set_t all, one;
  ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
  CPU_ZERO(&one);
  CPU_SET(sched_getcpu(), &one);
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  EXPECT_EQ(DrawingThreads(256, kLarge), 1);
  EXPECT_EQ(DrawingThreads(0, kLarge), 1);
  sched_setaffinity(0, sizeof all, &all);
}

}  // namespace
}  // namespace softboard
