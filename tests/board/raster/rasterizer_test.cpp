#include <hwy/highway.h>
#include <hwy/targets.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "board/pipeline_support.h"
#include "raster/row_spans.h"
#include "raster/setup.h"

namespace softboard {
namespace {

struct Point {
  double x, y;
};
struct Tri {
  Point p[3];
};

double Orient(Point a, Point b, Point p) {
  return (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
}
bool InClosed(const Tri& t, Point p) {
  const double e0 = Orient(t.p[0], t.p[1], p), e1 = Orient(t.p[1], t.p[2], p),
               e2 = Orient(t.p[2], t.p[0], p);
  return (e0 >= 0 && e1 >= 0 && e2 >= 0) || (e0 <= 0 && e1 <= 0 && e2 <= 0);
}
bool InUnion(const std::vector<Tri>& tris, Point p) {
  for (const Tri& t : tris) {
    if (InClosed(t, p)) return true;
  }
  return false;
}
// Inside the union with a neighbourhood around it, so not on its outline.
bool Interior(const std::vector<Tri>& tris, Point p) {
  constexpr double e = 1.0 / 4096;
  for (int dx = -1; dx <= 1; dx++) {
    for (int dy = -1; dy <= 1; dy++) {
      if (!InUnion(tris, {p.x + dx * e, p.y + dy * e})) return false;
    }
  }
  return true;
}

// Draws each triangle adding 1 to every channel; inside the union every pixel
// must come out 1, outside 0, and on its outline never 2.
void ExpectCoveredOnce(const std::vector<Tri>& tris) {
  TestBoard board;
  board.UseIterated();
  board.SetBlend(GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE);
  for (const Tri& t : tris) {
    const auto v = [](Point p) { return Vertex(float(p.x), float(p.y), 1, 1, 1, 1); };
    DrawTriangle(board.state, v(t.p[0]), v(t.p[1]), v(t.p[2]));
  }
  int failures = 0;
  for (int y = 0; y < kScreenHeight && failures < 10; y++) {
    for (int x = 0; x < kScreenWidth && failures < 10; x++) {
      const Point centre{x + 0.5, y + 0.5};
      const uint32_t got = board.At(x, y);
      const bool ok = Interior(tris, centre)  ? got == 0x01010101u
                      : InUnion(tris, centre) ? got == 0 || got == 0x01010101u
                                              : got == 0;
      if (!ok) {
        ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << Hex(got);
        failures++;
      }
    }
  }
}

double Snap16(double v) {
  return std::round(v * 16) / 16;
}

TEST(Coverage, SharedEdgesCoverEachPixelOnce) {
  // Pairs sharing their first edge, one wound each way.
  const Point a{100.5, 100.5}, b{200.5, 100.5}, c{200.5, 180.5}, d{100.5, 180.5};
  ExpectCoveredOnce({{{a, b, c}}, {{a, c, d}}});                        // diagonal
  ExpectCoveredOnce({{{b, d, a}}, {{b, d, c}}});                        // the other diagonal
  ExpectCoveredOnce({{{{50.5, 20.5}, {50.5, 120.5}, {90.25, 70}}},      // vertical edge through
                     {{{50.5, 20.5}, {50.5, 120.5}, {10, 60.75}}}});    // pixel centres
  ExpectCoveredOnce({{{{20.5, 200.5}, {220.5, 200.5}, {120, 150.25}}},  // horizontal edge
                     {{{20.5, 200.5}, {220.5, 200.5}, {90.125, 260}}}});
  ExpectCoveredOnce(
      {{{{300, 10}, {340, 200}, {310, 300}}}, {{{300, 10}, {340, 200}, {420.5, 80}}}});
}

TEST(Coverage, FanAroundACentreCoversEachPixelOnce) {
  const Point centre{320.5, 240.5};
  std::vector<Tri> fan;
  for (int i = 0; i < 16; i++) {
    const auto spoke = [&](int k) {
      const double angle = k * M_PI / 8, radius = 60 + 40 * (k % 3);
      return Point{Snap16(centre.x + radius * std::cos(angle)),
                   Snap16(centre.y + radius * std::sin(angle))};
    };
    fan.push_back({{centre, spoke(i), spoke(i + 1)}});
  }
  ExpectCoveredOnce(fan);
}

TEST(Coverage, RandomPairsCoverEachPixelOnce) {
  Random random(7);
  const auto point = [&] {
    return Point{random.Below(640 * 16) / 16.0, random.Below(480 * 16) / 16.0};
  };
  for (int i = 0; i < 12; i++) {
    const Point p0 = point(), p1 = point();
    Point p2 = point(), p3 = point();
    while (Orient(p0, p1, p2) * Orient(p0, p1, p3) >= 0) p3 = point();
    ExpectCoveredOnce({{{p0, p1, p2}}, {{p0, p1, p3}}});
  }
}

// Which pixels a triangle drawn in both windings covers, as 0/1 per pixel.
std::vector<Point> Drawn(Point a, Point b, Point c) {
  std::vector<Point> drawn;
  for (int winding = 0; winding < 2; winding++) {
    TestBoard board;
    board.UseIterated();
    const auto v = [](Point p) { return Vertex(float(p.x), float(p.y), 9, 9, 9, 9); };
    if (winding == 0) DrawTriangle(board.state, v(a), v(b), v(c));
    if (winding == 1) DrawTriangle(board.state, v(a), v(c), v(b));
    std::vector<Point> these;
    for (int y = 0; y < 60; y++) {
      for (int x = 0; x < 60; x++) {
        if (board.At(x, y) != 0) these.push_back({double(x), double(y)});
      }
    }
    if (winding == 1) {
      EXPECT_EQ(these.size(), drawn.size()) << "windings differ";
    }
    drawn = these;
  }
  return drawn;
}

bool Contains(const std::vector<Point>& pixels, int x, int y) {
  for (Point p : pixels) {
    if (p.x == x && p.y == y) return true;
  }
  return false;
}

TEST(FillRule, CentresOnLeftAndTopEdgesAreDrawnRightAndBottomNot) {
  // The square from (10.5, 20.5) to (15.5, 25.5) holds the centres of columns
  // 10..15 and rows 20..25, but its right and bottom sides are not drawn.
  TestBoard board;
  board.UseIterated();
  const GrVertex a = Vertex(10.5, 20.5, 9), b = Vertex(15.5, 20.5, 9), c = Vertex(15.5, 25.5, 9),
                 d = Vertex(10.5, 25.5, 9);
  DrawTriangle(board.state, a, b, c);
  DrawTriangle(board.state, a, c, d);
  for (int y = 18; y < 28; y++) {
    for (int x = 8; x < 18; x++) {
      const bool inside = x >= 10 && x < 15 && y >= 20 && y < 25;
      EXPECT_EQ(board.At(x, y) != 0, inside) << "pixel (" << x << ", " << y << ")";
    }
  }
  // Slanted sides through pixel centres: (19, 12) lies on the left side,
  // (22, 12) on the right one, row 30 on the bottom.
  const std::vector<Point> drawn = Drawn({20.5, 10.5}, {10.5, 30.5}, {40.5, 30.5});
  EXPECT_TRUE(Contains(drawn, 19, 12));
  EXPECT_TRUE(Contains(drawn, 21, 12));
  EXPECT_FALSE(Contains(drawn, 22, 12));
  EXPECT_TRUE(Contains(drawn, 11, 29));
  EXPECT_FALSE(Contains(drawn, 20, 30));
}

struct SnapCase {
  double offset;  // added to both vertical sides at 10.5 and 15.5
  bool column10, column15;
  friend std::ostream& operator<<(std::ostream& out, const SnapCase& k) {
    return out << "offset " << k.offset;
  }
};
class Snapping : public testing::TestWithParam<SnapCase> {};

TEST_P(Snapping, PositionsSnapToSixteenthsBeforeTheFillRule) {
  const SnapCase k = GetParam();
  const std::vector<Point> drawn =
      Drawn({10.5 + k.offset, 20.5}, {15.5 + k.offset, 20.5}, {15.5 + k.offset, 40.5});
  // Column 10 is the left vertex's; the square's right side is column 15.
  const std::vector<Point> left = Drawn({10.5 + k.offset, 20.5}, {30, 30}, {10.5 + k.offset, 40.5});
  EXPECT_EQ(Contains(left, 10, 30), k.column10);
  EXPECT_EQ(Contains(drawn, 15, 30), k.column15);
}
INSTANTIATE_TEST_SUITE_P(Offsets, Snapping,
                         testing::Values(SnapCase{0.02, true, false},  // snaps to 10.5
                                         SnapCase{-0.02, true, false},
                                         SnapCase{0.04, false, true},  // to 10.5 + 1/16
                                         SnapCase{-0.04, true, false}));

TEST(Gouraud, CornersAndCentroidHaveTheBarycentricColour) {
  const Point shapes[][3] = {{{100, 100}, {500, 100}, {500, 400}},
                             {{500, 400}, {500, 100}, {100, 100}},
                             {{10.25, 5.5}, {30.75, 40.125}, {2.0625, 35.5}}};
  const double colour[3][4] = {{255, 0, 0, 10}, {0, 255, 0, 128}, {0, 0, 255, 250}};
  for (const auto& p : shapes) {
    TestBoard board;
    board.UseIterated();
    GrVertex v[3];
    for (int k = 0; k < 3; k++) {
      v[k] = Vertex(float(p[k].x), float(p[k].y), float(colour[k][0]), float(colour[k][1]),
                    float(colour[k][2]), float(colour[k][3]));
    }
    DrawTriangle(board.state, v[0], v[1], v[2]);
    const Point centroid{(p[0].x + p[1].x + p[2].x) / 3, (p[0].y + p[1].y + p[2].y) / 3};
    const double area = Orient(p[0], p[1], p[2]);
    for (int k = 0; k < 4; k++) {
      const Point q = k == 3 ? centroid
                             : Point{p[k].x + 0.1 * (centroid.x - p[k].x),
                                     p[k].y + 0.1 * (centroid.y - p[k].y)};
      const int x = int(q.x), y = int(q.y);
      const Point c{x + 0.5, y + 0.5};
      const double w[3] = {Orient(p[1], p[2], c) / area, Orient(p[2], p[0], c) / area,
                           Orient(p[0], p[1], c) / area};
      int want[4];
      for (int ch = 0; ch < 4; ch++) {
        want[ch] =
            int(std::lround(w[0] * colour[0][ch] + w[1] * colour[1][ch] + w[2] * colour[2][ch]));
      }
      EXPECT_TRUE(PixelNear(x, y, board.At(x, y), Argb(want[3], want[0], want[1], want[2]), 1));
    }
  }
}

// The pixels [x0, x1) of `row` whose centres the fill rule draws, by division
// from the edges alone: the reference the stepped rows are checked against.
bool RowSpan(const TriangleSetup& tri, int row, int& x0, int& x1) {
  const auto floor_div = [](int64_t n, int64_t d) { return n / d - (n % d != 0 && n < 0); };
  const auto ceil_div = [&](int64_t n, int64_t d) { return -floor_div(-n, d); };
  const int64_t py = int64_t(row) * 16 + 8;
  int64_t lo = tri.col_begin, hi = tri.col_end;
  for (const Edge& e : tri.edge) {
    // Inside at column i: a * (16i + 8) + k >= 0.
    const int64_t k = e.b * py + e.c + e.bias;
    const int64_t need = -(8 * e.a + k);  // 16a * i >= need
    if (e.a > 0) {
      lo = std::max(lo, ceil_div(need, 16 * e.a));
    } else if (e.a < 0) {
      hi = std::min(hi, floor_div(-need, -16 * e.a) + 1);
    } else if (need > 0) {
      return false;
    }
  }
  if (lo >= hi) return false;
  x0 = int(lo);
  x1 = int(hi);
  return true;
}

// Stepping each edge's bound from row to row gives the spans that dividing
// afresh on every row gives: random triangles, slivers, and huge ones whose
// edge values need all 64 bits.
TEST(RowWalker, GivesEveryRowTheSpanOfTheDivision) {
  Random random(5);
  for (int k = 0; k < 3000; k++) {
    const float extent = k % 3 == 0 ? 8e6f : k % 3 == 1 ? 2000 : 40;
    GrVertex v[3];
    for (GrVertex& p : v) {
      p = Vertex(float(random.Below(1 << 20)) / (1 << 20) * extent - extent / 3,
                 float(random.Below(1 << 20)) / (1 << 20) * extent - extent / 3);
    }
    if (k % 7 == 0) v[2].y = v[0].y;  // a horizontal edge
    TriangleSetup tri;
    if (!SetupTriangle(v[0], v[1], v[2], kScreenWidth, kScreenHeight, 1, 1, tri)) continue;
    const int first = tri.row_begin + (k % 5 == 0 ? random.Below(tri.row_end - tri.row_begin) : 0);
    // Started at a band's first row, wherever that lies in the triangle.
    RowWalker walker(tri, first);
    for (int row = first; row < tri.row_end; row++, walker.Next()) {
      int a0 = -1, a1 = -1, b0 = -1, b1 = -1;
      const bool divided = RowSpan(tri, row, a0, a1);
      const bool walked = walker.Span(b0, b1);
      ASSERT_EQ(divided, walked) << "triangle " << k << " row " << row;
      if (divided) {
        ASSERT_EQ(a0, b0) << "triangle " << k << " row " << row;
        ASSERT_EQ(a1, b1) << "triangle " << k << " row " << row;
      }
    }
  }
}

class RowSpansOnTarget : public testing::TestWithParam<int64_t> {
 protected:
  void SetUp() override { hwy::SetSupportedTargetsForTest(GetParam()); }
  void TearDown() override { hwy::SetSupportedTargetsForTest(0); }
};

// Up to 16 rows' spans at once, in vector lanes, are the walker's, from any
// first row: tiny and small triangles (divided in floats), screen-sized and
// huge ones (in doubles), slivers, horizontal edges; and the summary of which
// rows have pixels and the widest is theirs. Those too large to
// divide exactly in doubles are refused (and walked instead), never any near
// the screen; where lanes hold no doubles (WebAssembly), all but the small.
TEST_P(RowSpansOnTarget, AreTheWalkersWhereTheyAreMade) {
  Random random(uint32_t(GetParam() % 1000003) + 11);
  int made = 0;
  for (int k = 0; k < 3000; k++) {
    const float extent = k % 4 == 0 ? 8e6f : k % 4 == 1 ? 2000 : k % 4 == 2 ? 40 : 6;
    const float cx = float(random.Below(640)), cy = float(random.Below(480));
    GrVertex v[3];
    for (GrVertex& p : v) {
      p = Vertex(cx + (float(random.Below(1 << 20)) / (1 << 20) - 0.5f) * extent,
                 cy + (float(random.Below(1 << 20)) / (1 << 20) - 0.5f) * extent);
    }
    if (k % 7 == 0) v[2].y = v[0].y;   // a horizontal edge
    if (k % 11 == 0) v[2].x = v[0].x;  // a vertical one
    if (k % 3 == 1) {  // corners on pixel centres: edges through many, each a bound exactly
      for (GrVertex& p : v) {
        p.x = std::floor(p.x) + 0.5f;
        p.y = std::floor(p.y) + 0.5f;
      }
    }
    TriangleSetup tri;
    if (!SetupTriangle(v[0], v[1], v[2], kScreenWidth, kScreenHeight, 1, 1, tri)) continue;
    for (int first = tri.row_begin; first < tri.row_end; first += 1 + random.Below(20)) {
      const int count = 1 + random.Below(std::min(16, tri.row_end - first));
      int32_t x0[kRowSpansRoom], x1[kRowSpansRoom];
      RowsSummary summary;
      if (!RowSpans(tri, first, count, x0, x1, &summary)) {
        ASSERT_TRUE(k % 4 == 0 || (!HWY_HAVE_FLOAT64 && k % 4 == 1))
            << "triangle " << k << " refused";
        continue;
      }
      made++;
      RowWalker walker(tri, first);
      for (int i = 0; i < count; i++, walker.Next()) {
        int w0 = 0, w1 = 0;
        const bool walked = walker.Span(w0, w1);
        ASSERT_EQ(walked, x0[i] < x1[i]) << "triangle " << k << " row " << first + i;
        if (walked) {
          ASSERT_EQ(w0, x0[i]) << "triangle " << k << " row " << first + i;
          ASSERT_EQ(w1, x1[i]) << "triangle " << k << " row " << first + i;
        }
      }
      // Made in lanes, the summary says of the batch's rows alone what they do.
      const RowsSummary rows = SummarizeRows(x0, x1, count);
      ASSERT_EQ(summary.nonempty, rows.nonempty) << "triangle " << k << " rows from " << first;
      ASSERT_EQ(summary.widest, rows.widest) << "triangle " << k << " rows from " << first;
    }
  }
  EXPECT_GT(made, HWY_HAVE_FLOAT64 ? 2000 : 1000);
}

INSTANTIATE_TEST_SUITE_P(Targets, RowSpansOnTarget,
                         testing::ValuesIn(hwy::SupportedAndGeneratedTargets()),
                         [](const testing::TestParamInfo<int64_t>& info) {
                           return std::string(hwy::TargetName(info.param));
                         });

// The inline rounding snapping uses is llround: halves away from zero, either
// sign, and every fraction near a half.
TEST(Rounding, HalvesGoAwayFromZeroAsLlroundDoes) {
  Random random(9);
  for (int k = 0; k < 200000; k++) {
    const double whole = double(int64_t(random.Next()) - (1 << 30)) * (k % 2 ? 1 : 1 << 10);
    const double fractions[] = {0.0,
                                0.5,
                                -0.5,
                                std::nextafter(0.5, 0.0),
                                std::nextafter(0.5, 1.0),
                                double(random.Next()) / 4294967296.0 - 0.5};
    for (double f : fractions) {
      const double v = whole + f;
      ASSERT_EQ(RoundHalfAway(v), std::llround(v)) << std::hexfloat << v;
    }
  }
}

}  // namespace
}  // namespace softboard
