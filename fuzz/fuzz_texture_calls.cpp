// libFuzzer target: the texture units' calls as a program could make them,
// any values at all, through the library's entry points on a headless board:
// level, partial and whole downloads, tables, sources on both units, modes,
// combines, and triangles drawn with them at each swap. The input is read as
// a list of calls: a byte naming the call, then its arguments.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "api/board_context.h"
#include "grlib.h"

namespace {

// The input, read a value at a time; past its end, zeros.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool done() const { return at_ >= size_; }
  uint8_t U8() { return at_ < size_ ? data_[at_++] : 0; }
  uint32_t U32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; i++) v |= uint32_t(U8()) << (8 * i);
    return v;
  }
  // Small values mostly, any value sometimes: what the board checks.
  int Small(int range) {
    const uint8_t b = U8();
    return b < 240 ? b % range : int(U32());
  }
  float Float() {
    const uint32_t bits = U32();
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }
  uint32_t Address() {
    const uint8_t b = U8();
    return b < 200 ? uint32_t(b) * 8192 + U8() : U32();
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// Texel data for any download: larger than the largest texture, so every
// call that the board accepts reads memory that is there.
std::vector<uint8_t>& Texels() {
  static std::vector<uint8_t> texels = [] {
    std::vector<uint8_t> t(256 * 1024);
    for (size_t i = 0; i < t.size(); i++) t[i] = uint8_t(i * 2654435761u >> 13);
    return t;
  }();
  return texels;
}

GrVertex Vertex(Reader& in) {
  GrVertex v{};
  const bool wild = in.U8() > 230;
  v.x = wild ? in.Float() : float(in.U8()) * 3;
  v.y = wild ? in.Float() : float(in.U8()) * 2;
  v.r = float(in.U8()), v.g = float(in.U8()), v.b = float(in.U8()), v.a = float(in.U8());
  const float w = wild ? in.Float() : 0.25f + float(in.U8()) / 16;
  v.oow = 1 / w;
  for (GrTmuVertex& t : v.tmuvtx) {
    const float scale = float(1 << (in.U8() % 12));
    t = {float(int8_t(in.U8())) * scale / w, float(int8_t(in.U8())) * scale / w, 1 / w};
  }
  return v;
}

void Call(Reader& in) {
  std::vector<uint8_t>& texels = Texels();
  const int tmu = in.U8() % 3 == 2 ? in.Small(4) : in.U8() % 2;
  GrTexInfo info{in.Small(10), in.Small(10), in.Small(8), in.Small(16), texels.data()};
  switch (in.U8() % 14) {
    case 0:
      grTexDownloadMipMapLevel(tmu, in.Address(), in.Small(10), in.Small(10), in.Small(8),
                               in.Small(16), uint32_t(in.Small(4)), texels.data());
      break;
    case 1:
      grTexDownloadMipMapLevelPartial(tmu, in.Address(), in.Small(10), in.Small(10), in.Small(8),
                                      in.Small(16), uint32_t(in.Small(4)), texels.data(),
                                      in.Small(260) - 2, in.Small(260) - 2);
      break;
    case 2: {
      GuTexTable table;
      for (size_t i = 0; i < sizeof table; i++) reinterpret_cast<uint8_t*>(&table)[i] = in.U8();
      // NCC entries in range mostly, as programs give them.
      if (in.U8() % 4)
        for (auto* e : {table.nccTable.iRGB, table.nccTable.qRGB})
          for (int k = 0; k < 4; k++)
            for (int c = 0; c < 3; c++) e[k][c] = int16_t(e[k][c] % 256);
      grTexDownloadTable(tmu, in.Small(4), in.U8() == 255 ? nullptr : &table);
      break;
    }
    case 3: grTexNCCTable(tmu, in.Small(3)); break;
    case 4: grTexSource(tmu, in.Address(), uint32_t(in.Small(4)), &info); break;
    case 5: grTexDownloadMipMap(tmu, in.Address(), uint32_t(in.Small(4)), &info); break;
    case 6: grTexMipMapMode(tmu, in.Small(4), in.U8() & 1); break;
    case 7: grTexFilterMode(tmu, in.Small(3), in.Small(3)); break;
    case 8: grTexClampMode(tmu, in.Small(3), in.Small(3)); break;
    case 9: grTexLodBiasValue(tmu, in.U8() > 200 ? in.Float() : float(int8_t(in.U8())) / 8); break;
    case 10:
      grTexCombine(tmu, in.Small(17), in.Small(14), in.Small(17), in.Small(14), in.U8() & 1,
                   in.U8() & 1);
      break;
    case 11: {
      grColorCombine(in.Small(17), in.Small(13), in.Small(3), in.Small(3), FXFALSE);
      grAlphaBlendFunction(in.Small(8), in.Small(8), in.Small(5), in.Small(5));
      const GrVertex v[3] = {Vertex(in), Vertex(in), Vertex(in)};
      const int ilist[3] = {0, 1, 2};
      grDrawPolygon(3, ilist, v);
      break;
    }
    case 12: grBufferSwap(0); break;
    default:
      grTexCalcMemRequired(in.Small(10), in.Small(10), in.Small(8), in.Small(16));
      grTexTextureMemRequired(uint32_t(in.Small(4)), &info);
      grTexMaxAddress(tmu);
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  softboard::Settings settings;
  settings.display = softboard::DisplayMode::kHeadless;
  settings.vsync = false;
  settings.threads = 1;
  softboard::ScopedBoard board(settings);
  grLibInit();
  grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ARGB, GR_ORIGIN_UPPER_LEFT,
               2, 0);
  grColorCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, GR_COMBINE_LOCAL_NONE,
                 GR_COMBINE_OTHER_TEXTURE, FXFALSE);
  Reader in(data, size);
  for (int calls = 0; !in.done() && calls < 64; calls++) Call(in);
  grBufferSwap(0);  // what was recorded is drawn
  grLibShutdown();
  return 0;
}
