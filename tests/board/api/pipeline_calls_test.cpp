// The pixel pipeline's calls as a careless or hostile program makes them:
// values outside their sets, inverted or oversized clip windows, null
// pointers, NaN and infinite depths and fog values, lines of zero length,
// points off the screen. Each bad call is refused (traced, and told to the
// error callback) or drawn safely, and changes nothing it should not.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "api/board_context.h"
#include "board/pipeline_support.h"
#include "grlib.h"

namespace softboard {
namespace {

std::vector<std::string> g_errors;
void Collect(const char* message, FxBool fatal) {
  g_errors.push_back(std::string(message) + (fatal ? " (fatal)" : ""));
}

class PipelineCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    trace_ = ::testing::TempDir() + "pipeline_calls_" + std::to_string(getpid()) + ".txt";
    Settings settings;
    settings.display = DisplayMode::kHeadless;
    settings.vsync = false;
    settings.trace_path = trace_;
    board_ = std::make_unique<ScopedBoard>(settings);
    g_errors.clear();
  }
  void TearDown() override {
    board_.reset();
    std::remove(trace_.c_str());
  }
  bool Open(int aux = 1) {
    grLibInit();
    grErrorSetCallback(&Collect);
    return grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ARGB,
                        GR_ORIGIN_UPPER_LEFT, 2, aux) == FXTRUE;
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
  const PipelineState& Pipeline() { return board_->state().render.pipeline; }
  std::vector<uint32_t> Frame() {
    grBufferSwap(0);
    return ImagePixels(ShownFrame(board_->state().frame));
  }
  std::string trace_;
  std::unique_ptr<ScopedBoard> board_;
};

TEST_F(PipelineCalls, ValuesOutsideTheirSetsAreRefusedAndChangeNothing) {
  ASSERT_TRUE(Open());
  const PipelineState before = Pipeline();
  grDepthBufferMode(5);
  grDepthBufferMode(-1);
  grDepthBufferFunction(8);
  grAlphaTestFunction(-1);
  grChromakeyMode(2);
  grFogMode(3);
  grFogMode(GR_FOG_WITH_TABLE | GR_FOG_MULT2 | GR_FOG_ADD2);
  grFogMode(GR_FOG_MULT2);
  grFogMode(0x400 | GR_FOG_WITH_TABLE);
  grCullMode(3);
  grSstOrigin(2);
  grDitherMode(3);
  grGammaCorrectionValue(0);
  grGammaCorrectionValue(-1);
  grGammaCorrectionValue(20.5f);
  grGammaCorrectionValue(NAN);
  grGammaCorrectionValue(INFINITY);
  EXPECT_EQ(Pipeline(), before);
  EXPECT_EQ(board_->state().render.cull, GR_CULL_DISABLE);
  EXPECT_EQ(board_->state().origin, GR_ORIGIN_UPPER_LEFT);
  EXPECT_EQ(board_->state().gamma.value, 1);
  ExpectTraced("grDepthBufferMode(5) refused: unknown depth buffer mode 5 (0 to 4)");
  ExpectTraced("grDepthBufferFunction(8) refused: unknown comparison 8 (0 to 7)");
  ExpectTraced(
      "grFogMode(770) refused: unknown fog mode bits 0x300 (MULT2 0x100 or ADD2 0x200, "
      "not both)");
  ExpectTraced("grFogMode(256) refused: MULT2 and ADD2 need a fog source");
  ExpectTraced("grGammaCorrectionValue(nan) refused: gamma out of range (above 0, at most 20)");
  EXPECT_EQ(g_errors.size(), 17u) << "each refusal told to the callback too";
  ASSERT_FALSE(g_errors.empty());
  EXPECT_EQ(g_errors[0], "grDepthBufferMode: unknown depth buffer mode 5 (0 to 4)");
  // Good values take.
  grFogMode(GR_FOG_WITH_TABLE | GR_FOG_ADD2);
  EXPECT_EQ(Pipeline().fog.source, FogSource::kTable);
  EXPECT_EQ(Pipeline().fog.apply, FogApply::kAdd2);
  grErrorSetCallback(nullptr);
  grCullMode(9);
  EXPECT_EQ(g_errors.size(), 17u) << "no callback once it is taken away";
}

TEST_F(PipelineCalls, DepthModesNeedADepthBuffer) {
  ASSERT_TRUE(Open(0));
  grDepthBufferMode(GR_DEPTHBUFFER_ZBUFFER);
  EXPECT_EQ(Pipeline().depth.mode, GR_DEPTHBUFFER_DISABLE);
  ExpectTraced(
      "grDepthBufferMode(1) refused: no depth buffer (grSstWinOpen asked for no "
      "auxiliary buffer)");
  grDepthBufferMode(GR_DEPTHBUFFER_DISABLE);
  grDepthMask(FXTRUE);
  grBufferClear(0, 0, 0x1234);  // nothing to clear: no plane is made
  grBufferSwap(0);
  EXPECT_EQ(board_->state().frame.depth.data(), nullptr);
}

TEST_F(PipelineCalls, ADepthBufferIsMadeOnlyWhenFirstUsed) {
  ASSERT_TRUE(Open());
  grBufferClear(0, 0, 0xFFFF);  // the mask starts off
  grBufferSwap(0);
  EXPECT_EQ(board_->state().frame.depth.data(), nullptr) << "the demo's frames cost no plane";
  grDepthMask(FXTRUE);
  grBufferClear(0, 0, 0xABCD);
  grBufferSwap(0);
  ASSERT_NE(board_->state().frame.depth.data(), nullptr);
  EXPECT_EQ(static_cast<uint16_t*>(board_->state().frame.depth.data())[1234], 0xABCD);
}

TEST_F(PipelineCalls, ClipWindowsAreHeldToTheScreenAndInvertedOnesRefused) {
  ASSERT_TRUE(Open());
  grClipWindow(10, 20, 5, 30);
  grClipWindow(10, 20, 30, 19);
  EXPECT_EQ(Pipeline().clip, ClipWindow{});
  ExpectTraced("grClipWindow(10, 20, 5, 30) refused: inverted window (a minimum past its maximum)");
  grClipWindow(100, 100, 0xFFFFFFFFu, 5000);
  EXPECT_EQ(Pipeline().clip, (ClipWindow{100, 100, 640, 480}));
  ExpectTraced("grClipWindow(100, 100, 4294967295, 5000) held to the screen: 100, 100, 640, 480");
  grClipWindow(700, 500, 900, 900);  // wholly off the screen: empty, draws nothing
  grBufferClear(0xFFFFFFFF, 255, 0);
  const GrVertex a = Vertex(0, 0, 255, 255, 255, 255), b = Vertex(640, 0, 255, 255, 255, 255),
                 c = Vertex(0, 480, 255, 255, 255, 255);
  grDrawTriangle(&a, &b, &c);
  const std::vector<uint32_t> frame = Frame();
  for (uint32_t p : frame) ASSERT_EQ(p, 0u);
}

TEST_F(PipelineCalls, NullsAreRefused) {
  ASSERT_TRUE(Open());
  const GrVertex v = Vertex(10, 10);
  grDrawTriangle(&v, nullptr, &v);
  grDrawLine(nullptr, &v);
  grDrawPoint(nullptr);
  grFogTable(nullptr);
  guFogGenerateExp(nullptr, 1);
  guFogGenerateLinear(nullptr, 1, 2);
  grLibGetVersion(nullptr);
  grDrawPolygonVertexList(3, nullptr);
  grDrawPlanarPolygonVertexList(4, nullptr);
  grDrawPlanarPolygon(3, nullptr, &v);
  ExpectTraced("grDrawPoint(null) refused: null vertex");
  ExpectTraced("grFogTable(null) refused: null fog table");
  ExpectTraced("grDrawPolygonVertexList(3, null) refused: null vertex array");
  EXPECT_EQ(g_errors.size(), 10u);
  grDrawPolygonVertexList(2000, &v);  // longer than any list read: not even traced whole
  ExpectTraced("grDrawPolygonVertexList(2000) refused: more than 1024 vertices");
  const int bad[3] = {0, -1, 2};
  grDrawPlanarPolygon(3, bad, &v);
  ExpectTraced(
      "grDrawPlanarPolygon(3, [0, -1, 2], unread) refused: vertex index -1 out of range "
      "(0 to 1048575)");
}

TEST_F(PipelineCalls, FogHelpersRefuseValuesThatAreNotNumbers) {
  ASSERT_TRUE(Open());
  GrFog_t t[GR_FOG_TABLE_SIZE];
  std::fill_n(t, GR_FOG_TABLE_SIZE, 7);
  guFogGenerateExp(t, NAN);
  guFogGenerateExp2(t, INFINITY);
  guFogGenerateLinear(t, 5, 5);
  guFogGenerateLinear(t, -INFINITY, 5);
  for (GrFog_t e : t) EXPECT_EQ(e, 7);
  EXPECT_EQ(g_errors.size(), 4u);
  guFogGenerateExp(t, -3);  // a negative density is a number: held to 0..255
  for (GrFog_t e : t) EXPECT_EQ(e, 0);
  guFogGenerateLinear(t, 1000, 10);  // falling: from 255 down
  EXPECT_EQ(t[0], 255);
  EXPECT_EQ(t[63], 0);
  EXPECT_FLOAT_EQ(guFogTableIndexToW(4), 16.0f / 8);
  EXPECT_TRUE(std::isinf(guFogTableIndexToW(std::numeric_limits<int>::max())));
}

// Vertices no program should pass, with every test and fog on: drawn safely
// or not at all.
TEST_F(PipelineCalls, NotFiniteDepthsAndVerticesAreDrawnSafely) {
  ASSERT_TRUE(Open());
  grDepthMask(FXTRUE);
  grBufferClear(0xFF000000, 0, 0x8000);
  GrFog_t table[GR_FOG_TABLE_SIZE];
  guFogGenerateExp(table, 0.01f);
  grFogTable(table);
  grFogMode(GR_FOG_WITH_TABLE);
  grAlphaTestFunction(GR_CMP_GREATER);
  const float bad[] = {NAN, INFINITY, -INFINITY, 1e30f, -1e30f, 0, -0.0f, 1e-40f, 65535.5f};
  for (int mode :
       {GR_DEPTHBUFFER_ZBUFFER, GR_DEPTHBUFFER_WBUFFER, GR_DEPTHBUFFER_WBUFFER_COMPARE_TO_BIAS}) {
    grDepthBufferMode(mode);
    for (float f : bad) {
      GrVertex a = Vertex(10, 10, 255, 255, 255, 255), b = Vertex(600, 30, 0, 0, 0, 255),
               c = Vertex(100, 470, 9, 9, 9, 255);
      a.ooz = f, b.oow = f, c.ooz = -f, c.oow = -f;
      a.a = f;
      grDrawTriangle(&a, &b, &c);
      grDrawLine(&a, &c);
      grDrawPoint(&b);
      GrVertex far = a;
      far.x = f, far.y = f;
      grDrawLine(&far, &b);
      grDrawPoint(&far);
      grDrawTriangle(&far, &b, &c);
    }
  }
  grBufferSwap(0);
  SUCCEED();
}

TEST_F(PipelineCalls, QueriesAndServices) {
  ASSERT_TRUE(Open());
  EXPECT_EQ(grSstScreenWidth(), 640u);
  EXPECT_EQ(grSstScreenHeight(), 480u);
  EXPECT_EQ(grBufferNumPending(), 0);
  EXPECT_EQ(grSstIsBusy(), FXFALSE);
  char version[80];
  std::memset(version, 'x', sizeof version);
  grLibGetVersion(version);
  EXPECT_STREQ(version, "softboard 1.0.0");
  // Idle draws what is recorded: the buffer then holds it.
  grBufferClear(0xFF00FF00, 0, 0);
  grSstIdle();
  ExpectTraced("grSstIdle()");
}

TEST_F(PipelineCalls, GammaChangesWhatIsShownNotTheBuffers) {
  ASSERT_TRUE(Open());
  grBufferClear(0xFF404040, 0, 0);
  grGammaCorrectionValue(2.2f);
  grBufferSwap(0);
  const int corrected = int(std::lround(255 * std::pow(0x40 / 255.0, 1 / 2.2)));
  const std::vector<uint32_t> corrected_rows = ImagePixels(CorrectedRows(board_->state().gamma));
  EXPECT_EQ(corrected_rows[1000] & 0xFFFFFF, uint32_t(corrected * 0x010101)) << "what is shown";
  EXPECT_EQ(ShownFrame(board_->state().frame).Argb()[1000] & 0xFFFFFF, 0x404040u) << "the buffer";
  grGammaCorrectionValue(1);
  grBufferClear(0xFF404040, 0, 0);
  grBufferSwap(0);
  EXPECT_EQ(ShownFrame(board_->state().frame).Argb()[5] & 0xFFFFFF, 0x404040u);
}

TEST_F(PipelineCalls, DrawCallsNeedAnOpenDisplay) {
  grLibInit();
  grErrorSetCallback(&Collect);
  const GrVertex v = Vertex(1, 1);
  grDrawTriangle(&v, &v, &v);
  grDrawLine(&v, &v);
  grDrawPoint(&v);
  grDepthMask(FXTRUE);
  grClipWindow(0, 0, 10, 10);
  EXPECT_EQ(g_errors.size(), 5u);
  ExpectTraced(
      "grDrawPoint({x=1, y=1, z=0, r=0, g=0, b=0, ooz=0, a=0, oow=1, tmu0={sow=0, tow=0, oow=1}, "
      "tmu1={sow=0, tow=0, oow=1}}) refused: no display open");
}

// With no trace written, drawing calls take a shorter way: what they must
// refuse is still refused and told, and what they draw is drawn.
TEST(UntracedDrawCalls, RefuseAndDrawAsTracedOnesDo) {
  Settings settings;
  settings.display = DisplayMode::kHeadless;
  settings.vsync = false;
  ScopedBoard board(settings);
  g_errors.clear();
  grLibInit();
  grErrorSetCallback(&Collect);
  const GrVertex v = Vertex(1, 1);
  grDrawTriangle(&v, &v, &v);  // no display open
  ASSERT_EQ(g_errors.size(), 1u);
  EXPECT_EQ(g_errors[0], "grDrawTriangle: no display open");
  ASSERT_TRUE(grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ARGB,
                           GR_ORIGIN_UPPER_LEFT, 2, 1));
  grDrawTriangle(&v, nullptr, &v);
  grDrawLine(&v, nullptr);
  grDrawPoint(nullptr);
  ASSERT_EQ(g_errors.size(), 4u);
  EXPECT_EQ(g_errors[3], "grDrawPoint: null vertex");
  grBufferClear(0xFF000000, 0, 0);
  GrVertex a = Vertex(10, 10), b = Vertex(60, 10), c = Vertex(10, 60);
  for (GrVertex* p : {&a, &b, &c}) p->r = p->g = p->b = p->a = 255;
  grDrawTriangle(&a, &b, &c);
  grDrawPoint(&b);
  grBufferSwap(0);
  const std::vector<uint32_t> shown = ImagePixels(ShownFrame(board.state().frame));
  EXPECT_EQ(shown[20 * 640 + 20] & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(shown[100 * 640 + 100] & 0xFFFFFF, 0u);
  EXPECT_EQ(g_errors.size(), 4u);
}

}  // namespace
}  // namespace softboard
