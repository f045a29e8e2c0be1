// The pixel pipeline through the library's calls, against the reference
// board (tests/reference), which computes the same rules on its own: each
// scene sets a state on both, draws the same primitives, and compares every
// pixel the reference is sure of (coverage exact, colours within 1).
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "api/board_context.h"
#include "api/frame_drawing.h"
#include "board/pipeline_support.h"
#include "pixel/pipeline_state.h"
#include "reference/reference_board.h"

namespace softboard {
namespace {

// One call made on the board and on the reference alike.
struct Both {
  reference::Board& ref;
  void Clear(GrColor_t c, GrAlpha_t a, FxU16 d) {
    grBufferClear(c, a, d);
    ref.Clear(c, a, d);
  }
  void Color(int f, int k, int l, int o) {
    grColorCombine(f, k, l, o, FXFALSE);
    ref.state.color = {f, k, l, o, false};
  }
  void Alpha(int f, int k, int l, int o) {
    grAlphaCombine(f, k, l, o, FXFALSE);
    ref.state.alpha = {f, k, l, o, false};
  }
  void Blend(int a, int b, int c, int d) {
    grAlphaBlendFunction(a, b, c, d);
    ref.state.rgb_src = a, ref.state.rgb_dst = b, ref.state.alpha_src = c, ref.state.alpha_dst = d;
  }
  void Constant(GrColor_t c) {
    grConstantColorValue(c);
    ref.state.constant = c;
  }
  void Depth(int mode, int f, bool write, int bias = 0) {
    grDepthBufferMode(mode);
    grDepthBufferFunction(f);
    grDepthMask(write);
    grDepthBiasLevel(FxI16(bias));
    ref.state.depth_mode = mode, ref.state.depth_function = f;
    ref.state.depth_write = write, ref.state.depth_bias = bias;
  }
  void AlphaTest(int f, int r) {
    grAlphaTestFunction(f);
    grAlphaTestReferenceValue(GrAlpha_t(r));
    ref.state.alpha_function = f, ref.state.alpha_reference = r;
  }
  void Chroma(bool on, GrColor_t key) {
    grChromakeyMode(on);
    grChromakeyValue(key);
    ref.state.chroma_key = on, ref.state.key = key;
  }
  void Fog(int mode, GrColor_t color, const GrFog_t* table = nullptr) {
    grFogMode(mode);
    grFogColorValue(color);
    ref.state.fog_mode = mode, ref.state.fog_color = color;
    if (table) {
      grFogTable(table);
      std::copy_n(table, GR_FOG_TABLE_SIZE, ref.state.fog_table.begin());
    }
  }
  void Clip(int x0, int y0, int x1, int y1) {
    grClipWindow(FxU32(x0), FxU32(y0), FxU32(x1), FxU32(y1));
    ref.state.clip[0] = x0, ref.state.clip[1] = y0, ref.state.clip[2] = x1, ref.state.clip[3] = y1;
  }
  void Mask(bool rgb, bool alpha) {
    grColorMask(rgb, alpha);
    ref.state.rgb_write = rgb, ref.state.alpha_write = alpha;
  }
  void Cull(int m) {
    grCullMode(m);
    ref.state.cull = m;
  }
  void Origin(int o) {
    grSstOrigin(o);
    ref.state.origin = o;
  }
  void Triangle(const GrVertex& a, const GrVertex& b, const GrVertex& c) {
    grDrawTriangle(&a, &b, &c);
    ref.Triangle(a, b, c);
  }
  void Line(const GrVertex& a, const GrVertex& b) {
    grDrawLine(&a, &b);
    ref.Line(a, b);
  }
  void Point(const GrVertex& p) {
    grDrawPoint(&p);
    ref.Point(p);
  }
};

GrVertex At(float x, float y, float r, float g, float b, float a, float z = 0, float w = 1) {
  GrVertex v = Vertex(x, y, r, g, b, a);
  v.ooz = z;
  v.oow = 1 / w;
  v.tmuvtx[0].oow = 1 / w;
  return v;
}

struct Scene {
  const char* name;
  std::function<void(Both&)> draw;
};

// Three triangles that cross in depth: each is nearer than the others somewhere.
void Crossing(Both& b, bool w_buffer) {
  const auto v = [&](float x, float y, float depth, float r, float g, float bl) {
    // Z from 0 (far) to 65535 (near); w from 1 (near) to 400 (far).
    return At(x, y, r, g, bl, 200, depth, w_buffer ? 1 + (65535 - depth) / 164 : 1);
  };
  b.Triangle(v(40, 40, 60000, 255, 0, 0), v(600, 80, 1000, 255, 40, 0),
             v(200, 440, 30000, 200, 0, 90));
  b.Triangle(v(620, 30, 62000, 0, 255, 0), v(500, 460, 2000, 0, 200, 100),
             v(30, 300, 33000, 60, 255, 0));
  b.Triangle(v(300, 10, 5000, 0, 0, 255), v(610, 420, 64000, 40, 90, 255),
             v(20, 400, 31000, 0, 120, 200));
}

const Scene kScenes[] = {
    {"z buffer, each function",
     [](Both& b) {
       for (int f = GR_CMP_NEVER; f <= GR_CMP_ALWAYS; f++) {
         b.Clip(f * 80, 0, f * 80 + 80, 480);
         b.Depth(GR_DEPTHBUFFER_ZBUFFER, GR_CMP_ALWAYS, true);
         b.Clear(0xFF101010, 0, 32768);
         b.Depth(GR_DEPTHBUFFER_ZBUFFER, f, true);
         Crossing(b, false);
       }
     }},
    {"w buffer, nearer wins",
     [](Both& b) {
       b.Depth(GR_DEPTHBUFFER_WBUFFER, GR_CMP_LESS, true);
       b.Clear(0xFF000000, 0, GR_WDEPTHVALUE_FARTHEST);
       Crossing(b, true);
     }},
    {"z buffer with a bias, and without writes",
     [](Both& b) {
       b.Depth(GR_DEPTHBUFFER_ZBUFFER, GR_CMP_ALWAYS, true);
       b.Clear(0xFF000000, 0, 0);
       b.Depth(GR_DEPTHBUFFER_ZBUFFER, GR_CMP_GREATER, true, -3000);
       Crossing(b, false);
       b.Depth(GR_DEPTHBUFFER_ZBUFFER, GR_CMP_GREATER, false, 2500);
       b.Triangle(At(0, 200, 255, 255, 255, 255, 40000), At(640, 200, 255, 255, 255, 255, 40000),
                  At(320, 480, 255, 255, 255, 255, 40000));
     }},
    {"compare to bias",
     [](Both& b) {
       b.Depth(GR_DEPTHBUFFER_ZBUFFER, GR_CMP_ALWAYS, true);
       b.Clear(0xFF000000, 0, 20000);
       Crossing(b, false);
       // Passes where the stored depth is above the bias level, writing its own.
       b.Depth(GR_DEPTHBUFFER_ZBUFFER_COMPARE_TO_BIAS, GR_CMP_LESS, true, 25000);
       b.Triangle(At(0, 0, 250, 250, 0, 255, 100), At(640, 0, 250, 250, 0, 255, 100),
                  At(0, 480, 250, 250, 0, 255, 100));
       b.Depth(GR_DEPTHBUFFER_WBUFFER_COMPARE_TO_BIAS, GR_CMP_GEQUAL, false, -1);
       b.Triangle(At(640, 480, 0, 250, 250, 255, 0, 3), At(640, 0, 0, 250, 250, 255, 0, 3),
                  At(0, 480, 0, 250, 250, 255, 0, 3));
     }},
    {"alpha test, each function",
     [](Both& b) {
       b.Clear(0xFF203040, 0, 0);
       for (int f = GR_CMP_NEVER; f <= GR_CMP_ALWAYS; f++) {
         b.AlphaTest(f, 100 + 7 * f);
         const float x = float(f * 80);
         b.Triangle(At(x, 0, 255, 0, 0, 0), At(x + 80, 0, 0, 255, 0, 255),
                    At(x, 480, 0, 0, 255, 128));
         b.Triangle(At(x + 80, 0, 255, 255, 0, 255), At(x + 80, 480, 0, 255, 255, 40),
                    At(x, 480, 255, 0, 255, 128));
       }
     }},
    {"chroma key on the iterated and the constant colour",
     [](Both& b) {
       b.Clear(0xFF000000, 0, 0);
       b.Chroma(true, 0xFF00FF00);
       b.Triangle(At(0, 0, 0, 255, 0, 255), At(640, 0, 255, 255, 0, 255),
                  At(0, 480, 0, 255, 255, 255));
       b.Color(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_ITERATED,
               GR_COMBINE_OTHER_CONSTANT);
       b.Constant(0xFF00FF00);  // keyed: the whole triangle goes
       b.Triangle(At(640, 480, 255, 0, 0, 255), At(640, 0, 255, 0, 0, 255),
                  At(0, 480, 255, 0, 0, 255));
       b.Constant(0xFF00FF01);  // not keyed
       b.Triangle(At(600, 400, 255, 0, 0, 255), At(600, 200, 255, 0, 0, 255),
                  At(300, 400, 255, 0, 0, 255));
     }},
    {"fog from the iterated alpha, plain, MULT2 and ADD2",
     [](Both& b) {
       b.Clear(0xFF000000, 0, 0);
       const int modes[] = {GR_FOG_WITH_ITERATED_ALPHA, GR_FOG_WITH_ITERATED_ALPHA | GR_FOG_MULT2,
                            GR_FOG_WITH_ITERATED_ALPHA | GR_FOG_ADD2};
       for (int i = 0; i < 3; i++) {
         b.Fog(modes[i], 0xFF80A0FF);
         const float y = float(i * 160);
         b.Triangle(At(0, y, 255, 40, 0, 0), At(640, y, 20, 255, 60, 255),
                    At(0, y + 160, 90, 0, 255, 120));
         b.Triangle(At(640, y, 20, 255, 60, 255), At(640, y + 160, 255, 255, 255, 30),
                    At(0, y + 160, 90, 0, 255, 120));
       }
     }},
    {"fog from the table, by w",
     [](Both& b) {
       GrFog_t table[GR_FOG_TABLE_SIZE];
       for (int i = 0; i < GR_FOG_TABLE_SIZE; i++)
         table[i] = GrFog_t(std::min(255, i * 5 + (i % 3) * 20));
       b.Fog(GR_FOG_WITH_TABLE, 0xFFC0C0C0, table);
       b.Clear(0xFF000000, 0, 0);
       b.Triangle(At(0, 0, 255, 0, 0, 255, 0, 1), At(640, 0, 0, 255, 0, 255, 0, 30000),
                  At(0, 480, 0, 0, 255, 255, 0, 300));
       b.Triangle(At(640, 0, 0, 255, 0, 255, 0, 30000), At(640, 480, 255, 255, 0, 255, 0, 2),
                  At(0, 480, 0, 0, 255, 255, 0, 300));
     }},
    {"fog, depth and blending together",
     [](Both& b) {
       GrFog_t table[GR_FOG_TABLE_SIZE];
       for (int i = 0; i < GR_FOG_TABLE_SIZE; i++) table[i] = GrFog_t(i * 4);
       b.Depth(GR_DEPTHBUFFER_WBUFFER, GR_CMP_ALWAYS, true);
       b.Clear(0xFF102030, 255, GR_WDEPTHVALUE_FARTHEST);
       b.Depth(GR_DEPTHBUFFER_WBUFFER, GR_CMP_LEQUAL, true);
       b.Fog(GR_FOG_WITH_TABLE, 0xFF808080, table);
       Crossing(b, true);
       b.Blend(GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ONE, GR_BLEND_ZERO);
       b.Alpha(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_ITERATED,
               GR_COMBINE_OTHER_ITERATED);
       b.Triangle(At(100, 100, 255, 255, 255, 90, 0, 50), At(540, 120, 255, 255, 255, 200, 0, 50),
                  At(320, 400, 255, 255, 255, 150, 0, 50));
     }},
    {
        "clip window bounds drawing and clears; colour mask",
        [](Both& b) {
          b.Clear(0xFF404040, 77, 0);
          b.Clip(100, 50, 500, 400);
          b.Clear(0xFF0000FF, 10, 0);
          b.Clip(30, 30, 300, 300);
          b.Triangle(At(0, 0, 255, 0, 0, 200), At(640, 0, 0, 255, 0, 200),
                     At(0, 480, 0, 0, 255, 200));
          b.Clip(0, 0, 640, 480);
          b.Mask(false, true);
          b.Triangle(At(640, 480, 255, 255, 255, 9), At(640, 0, 255, 255, 255, 9),
                     At(0, 480, 255, 255, 255, 9));
          b.Mask(true, false);
          b.Clear(0xFFFFFF00, 200, 0);
          b.Mask(true, true);
          b.Clip(600, 440, 640, 480);
          b.Triangle(At(0, 0, 10, 20, 30, 40), At(640, 0, 10, 20, 30, 40),
                     At(640, 480, 10, 20, 30, 40));
        },
    },
    {"culling and a lower-left origin",
     [](Both& b) {
       b.Clear(0xFF000000, 0, 0);
       const GrVertex p = At(50, 50, 255, 0, 0, 255), q = At(300, 60, 255, 0, 0, 255),
                      r = At(120, 300, 255, 0, 0, 255);
       b.Cull(GR_CULL_NEGATIVE);
       b.Triangle(p, q, r);  // positive area: drawn
       b.Triangle(At(400, 50, 0, 255, 0, 255), At(380, 300, 0, 255, 0, 255),
                  At(620, 60, 0, 255, 0, 255));  // negative: culled
       b.Cull(GR_CULL_POSITIVE);
       b.Triangle(At(50, 350, 0, 0, 255, 255), At(300, 360, 0, 0, 255, 255),
                  At(120, 470, 0, 0, 255, 255));  // culled
       b.Origin(GR_ORIGIN_LOWER_LEFT);
       // Culled by the winding as passed, before the flip.
       b.Triangle(At(400, 100, 255, 255, 0, 255), At(380, 200, 255, 255, 0, 255),
                  At(620, 110, 255, 255, 0, 255));
       b.Cull(GR_CULL_DISABLE);
       b.Triangle(At(400, 300, 255, 0, 255, 255), At(630, 320, 0, 255, 255, 255),
                  At(500, 470, 255, 255, 255, 255));
       b.Line(At(10, 10, 255, 255, 255, 255), At(630, 200, 255, 255, 255, 255));
       b.Point(At(3.5f, 477.25f, 255, 255, 255, 255));
     }},
    {"lines of every slope, and points",
     [](Both& b) {
       b.Clear(0xFF000000, 0, 0);
       for (int k = 0; k < 48; k++) {
         const double angle = k * 2 * M_PI / 48 + 0.013;
         const float x = 320 + float(290 * std::cos(angle)), y = 240 + float(220 * std::sin(angle));
         b.Line(At(320.3f, 240.6f, 255, float(k * 5), 0, 255),
                At(x, y, 0, 255, float(255 - k * 5), 255));
       }
       b.Line(At(10, 10, 255, 255, 255, 255), At(110, 110, 255, 255, 255, 255));  // 45 degrees
       b.Line(At(10.5f, 400.5f, 255, 255, 255, 255), At(200.5f, 400.5f, 255, 255, 255, 255));
       b.Line(At(600, 20, 255, 255, 255, 255), At(600, 20, 255, 255, 255, 255));  // zero length
       b.Line(At(-100, -50, 255, 0, 0, 255), At(700, 530, 0, 255, 0, 255));       // past the screen
       for (int k = 0; k < 30; k++)
         b.Point(
             At(5.0f + 21.37f * float(k), 470.9f - 3.1f * float(k), 255, 255, float(k * 8), 255));
       b.Point(At(-1, 5, 255, 255, 255, 255));  // off the screen
       b.Point(At(640, 5, 255, 255, 255, 255));
     }},
    {"lines and points with depth and clipping",
     [](Both& b) {
       b.Depth(GR_DEPTHBUFFER_ZBUFFER, GR_CMP_ALWAYS, true);
       b.Clear(0xFF000000, 0, 0);
       b.Depth(GR_DEPTHBUFFER_ZBUFFER, GR_CMP_GREATER, true);
       b.Clip(50, 40, 590, 440);
       b.Triangle(At(0, 0, 90, 90, 90, 255, 30000), At(640, 0, 90, 90, 90, 255, 30000),
                  At(320, 480, 90, 90, 90, 255, 30000));
       for (int k = 0; k < 20; k++) {
         const float y = 10.0f + float(k) * 23;
         b.Line(At(0, y, 255, 0, 0, 255, 0), At(640, y + 40, 255, 255, 0, 255, 65535));
         b.Point(At(float(k) * 31 + 8, y, 0, 255, 255, 255, float(k) * 3300));
       }
     }},
};

void PrintTo(const Scene& scene, std::ostream* out) {
  *out << scene.name;
}

class Pipeline : public testing::TestWithParam<Scene> {};

TEST_P(Pipeline, TheBoardDrawsWhatTheRulesGive) {
  Settings settings;
  settings.display = DisplayMode::kHeadless;
  settings.vsync = false;
  ScopedBoard board(settings);
  grLibInit();
  ASSERT_EQ(grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ARGB,
                         GR_ORIGIN_UPPER_LEFT, 2, 1),
            FXTRUE);
  reference::Board ref;
  Both both{ref};
  GetParam().draw(both);
  grBufferSwap(0);
  const std::vector<uint32_t> got = ImagePixels(ShownFrame(board.state().frame));
  std::vector<std::string> report;
  const int differ = reference::CountDifferences(got, ref, 1, &report, true);
  int uncertain = 0;
  for (uint8_t u : ref.uncertain) uncertain += u;
  EXPECT_EQ(differ, 0) << GetParam().name << " (" << uncertain
                       << " pixels near a tie not compared)";
  for (const std::string& line : report) ADD_FAILURE() << line;
  EXPECT_LT(uncertain, 640 * 480 / 50) << "ties should be rare";
}

INSTANTIATE_TEST_SUITE_P(Scenes, Pipeline, testing::ValuesIn(kScenes),
                         [](const testing::TestParamInfo<Scene>& info) {
                           std::string name;
                           for (const char* c = info.param.name; *c; c++)
                             name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                           return name;
                         });

// The W depth from its bits against its definition through log2, at every
// power of two, beside each, and across the range.
TEST(WDepth, IsTheFloatingDepthOfItsDefinition) {
  std::vector<float> qs = {1.0f,         0.99999994f,  0.5f,  0.50000006f, 0.49999997f,
                           1.0f / 65536, 1.0f / 65535, 0.75f, 0.3f,        0.0f,
                           -1.0f,        2.0f,         NAN,   INFINITY};
  for (int e = 0; e <= 16; e++) {
    const float p = std::ldexp(1.0f, -e);
    qs.insert(qs.end(), {p, std::nextafter(p, 0.0f), std::nextafter(p, 1.0f)});
  }
  Random random(5);
  for (int i = 0; i < 20000; i++)
    qs.push_back(std::ldexp(float(random.Next() % 1000000) / 1e6f, -random.Below(17)));
  for (float q : qs) {
    const int want = reference::WDepthOf(q);
    // log2 in double may land on the other side of a power of two's boundary
    // only for q exactly at it, where the definition is clear.
    EXPECT_EQ(WDepth(q), want) << "q = " << q;
  }
}

TEST(FogTable, InterpolatesBetweenEntriesAndHoldsTheLast) {
  std::array<uint8_t, GR_FOG_TABLE_SIZE> t{};
  for (int i = 0; i < GR_FOG_TABLE_SIZE; i++) t[size_t(i)] = uint8_t(255 - i * 3);
  EXPECT_EQ(FogTableAmount(t, 0), 255);
  EXPECT_EQ(FogTableAmount(t, 1024), 252);
  EXPECT_EQ(FogTableAmount(t, 512), 253) << "255 + floor(-3 * 512 / 1024) rounds down";
  EXPECT_EQ(FogTableAmount(t, 63 * 1024 + 1000), t[63]);
  EXPECT_EQ(FogTableAmount(t, 0xFFFF), t[63]);
}

TEST(FogHelpers, TablesAreTheFormulasRounded) {
  Settings settings;
  settings.display = DisplayMode::kHeadless;
  ScopedBoard board(settings);
  grLibInit();
  for (int i = 0; i < GR_FOG_TABLE_SIZE; i++)
    EXPECT_FLOAT_EQ(guFogTableIndexToW(i), float(reference::FogIndexToW(i))) << i;
  EXPECT_FLOAT_EQ(guFogTableIndexToW(0), 1.0f);
  EXPECT_FLOAT_EQ(guFogTableIndexToW(63), 262144.0f / 5);
  GrFog_t t[GR_FOG_TABLE_SIZE];
  guFogGenerateLinear(t, 10, 1000);
  for (int i = 0; i < GR_FOG_TABLE_SIZE; i++) {
    const double f = std::clamp((reference::FogIndexToW(i) - 10) / 990, 0.0, 1.0);
    EXPECT_EQ(t[i], std::lround(255 * f)) << i;
  }
  guFogGenerateExp(t, 0.002f);
  for (int i = 0; i < GR_FOG_TABLE_SIZE; i++)
    EXPECT_EQ(t[i], std::lround(255 * (1 - std::exp(-0.002 * reference::FogIndexToW(i))))) << i;
  guFogGenerateExp2(t, 0.001f);
  for (int i = 0; i < GR_FOG_TABLE_SIZE; i++) {
    const double d = 0.001 * reference::FogIndexToW(i);
    EXPECT_EQ(t[i], std::lround(255 * (1 - std::exp(-d * d)))) << i;
  }
  grLibShutdown();
}

// Culling goes by the winding of the corners snapped to 1/16 pixel, also
// where they lie nearly in a line or in a point, or a corner is not finite.
TEST(Culling, GoesByTheSnappedCornersWhereverTheyLie) {
  uint32_t seed = 7;
  const auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
  const auto snapped_area = [](const GrVertex& a, const GrVertex& b, const GrVertex& c) {
    const auto s = [](float v) { return std::llround(double(v) * 16); };
    return (s(b.x) - s(a.x)) * (s(c.y) - s(a.y)) - (s(c.x) - s(a.x)) * (s(b.y) - s(a.y));
  };
  for (int k = 0; k < 200000; k++) {
    GrVertex v[3] = {};
    const float base_x = float(next() % 640), base_y = float(next() % 480);
    for (GrVertex& c : v) {
      // Small triangles, corners on and between sixteenths and thirty-seconds.
      const int spread = k % 4 == 0 ? 2 : k % 4 == 1 ? 40 : 600;
      c.x = base_x + float(int(next() % uint32_t(spread * 64)) - spread * 32) / 64;
      c.y = base_y + float(int(next() % uint32_t(spread * 64)) - spread * 32) / 64;
    }
    if (k % 5 == 0) {  // the third corner on the line through the others, nearly
      const float t = float(next() % 1000) / 1000;
      v[2].x = v[0].x + t * (v[1].x - v[0].x) + float(int(next() % 5) - 2) / 64;
      v[2].y = v[0].y + t * (v[1].y - v[0].y) + float(int(next() % 5) - 2) / 64;
    }
    const int64_t area = snapped_area(v[0], v[1], v[2]);
    ASSERT_EQ(Culled(GR_CULL_NEGATIVE, v[0], v[1], v[2]), area < 0) << k;
    ASSERT_EQ(Culled(GR_CULL_POSITIVE, v[0], v[1], v[2]), area > 0) << k;
    ASSERT_FALSE(Culled(GR_CULL_DISABLE, v[0], v[1], v[2]));
  }
  // A corner that does not snap is never culled (it is not drawn anyway).
  for (const float bad : {NAN, INFINITY, -INFINITY, 1e30f}) {
    GrVertex v[3] = {};
    v[1].x = 10, v[2].y = -10;  // negative area as given
    v[0].x = bad;
    EXPECT_FALSE(Culled(GR_CULL_NEGATIVE, v[0], v[1], v[2])) << bad;
    v[0].x = 0;
    EXPECT_TRUE(Culled(GR_CULL_NEGATIVE, v[0], v[1], v[2]));
  }
}

}  // namespace
}  // namespace softboard
