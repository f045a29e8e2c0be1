// The vertex paths of the pipeline's primitives: triangles, lines, points and
// vertex-list polygons with any floats (NaN, infinities, huge, tiny) in every
// field, under states picked from the input (depth, alpha test, chroma key,
// fog, clip window, culling, origin, masks), on a headless board at a scale
// and supersampling the input picks. Nothing may crash or touch memory it
// should not; what is drawn is not judged.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "api/board_context.h"
#include "grlib.h"

namespace {

struct Input {
  const uint8_t* data;
  size_t size;
  uint32_t Word() {
    uint32_t w = 0;
    const size_t n = size < 4 ? size : 4;
    std::memcpy(&w, data, n);
    data += n;
    size -= n;
    return w;
  }
  float Float() {
    const uint32_t w = Word();
    float f;
    std::memcpy(&f, &w, 4);
    return f;
  }
  GrVertex Vertex() {
    GrVertex v;
    float* fields = &v.x;
    for (size_t i = 0; i < sizeof v / sizeof(float); i++) fields[i] = Float();
    return v;
  }
};

std::unique_ptr<softboard::ScopedBoard> OpenBoard(uint32_t setup) {
  softboard::Settings settings;
  settings.display = softboard::DisplayMode::kHeadless;
  settings.vsync = false;
  settings.scale = 1 + (setup & 1) * 0.5;
  settings.ssaa = (setup >> 1 & 1) ? 2 : 1;
  settings.color_bits = (setup >> 2 & 1) ? 16 : 32;
  settings.threads = 1 + int(setup >> 3 & 1);
  auto board = std::make_unique<softboard::ScopedBoard>(settings);
  grLibInit();
  grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ARGB, int(setup >> 4 & 1),
               2, 1);
  return board;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in{data, size};
  auto board = OpenBoard(in.Word());
  GrFog_t table[GR_FOG_TABLE_SIZE];
  for (GrFog_t& e : table) e = GrFog_t(in.Word());
  grFogTable(table);
  while (in.size >= 4) {
    const uint32_t op = in.Word();
    switch (op % 16) {
      case 0: grDepthBufferMode(int(op >> 4) % 6); break;
      case 1: grDepthBufferFunction(int(op >> 4) % 9); break;
      case 2: grDepthMask(op >> 4 & 1), grDepthBiasLevel(FxI16(op >> 8)); break;
      case 3:
        grAlphaTestFunction(int(op >> 4) % 9), grAlphaTestReferenceValue(GrAlpha_t(op >> 8));
        break;
      case 4: grChromakeyMode(op >> 4 & 1), grChromakeyValue(in.Word()); break;
      case 5: grFogMode(int(op >> 4 & 0x303)), grFogColorValue(in.Word()); break;
      case 6:
        grClipWindow(in.Word() % 700, in.Word() % 500, in.Word() % 700, in.Word() % 500);
        break;
      case 7: grCullMode(int(op >> 4) % 4), grSstOrigin(int(op >> 6) % 2); break;
      case 8: grColorMask(op >> 4 & 1, op >> 5 & 1); break;
      case 9: {
        const GrVertex a = in.Vertex(), b = in.Vertex(), c = in.Vertex();
        grDrawTriangle(&a, &b, &c);
        break;
      }
      case 10: {
        const GrVertex a = in.Vertex(), b = in.Vertex();
        grDrawLine(&a, &b);
        break;
      }
      case 11: {
        const GrVertex p = in.Vertex();
        grDrawPoint(&p);
        break;
      }
      case 12: {
        GrVertex v[6];
        const int n = int(op >> 4) % 7;
        for (int i = 0; i < n; i++) v[i] = in.Vertex();
        grDrawPolygonVertexList(n, v);
        break;
      }
      case 13:
        grColorCombine(int(op >> 4) % 17, int(op >> 9) % 13, int(op >> 13) % 3, int(op >> 15) % 3,
                       op >> 17 & 1);
        grAlphaCombine(int(op >> 18) % 17, int(op >> 23) % 13, 0, int(op >> 27) % 3, 0);
        break;
      case 14: grBufferClear(in.Word(), GrAlpha_t(op >> 4), FxU16(op >> 12)); break;
      default: grBufferSwap(0); break;
    }
  }
  grBufferSwap(0);
  return 0;
}
