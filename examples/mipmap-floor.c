/* A tiled floor and two brick walls receding to the horizon, the camera
 * gliding along them: far away, a texture sampled from its largest level
 * shimmers; mipmapping takes smaller levels there.
 *
 *   softboard-mipmap-floor [frames [mode]]
 *
 * m (or space) steps through the modes: largest level, nearest mipmap,
 * dithered, trilinear; Esc quits. With a frame count it draws that many
 * frames in `mode` (0 to 3) and ends. */
#include <stdio.h>
#include <stdlib.h>

#include "grlib.h"

int _kbhit(void); /* the old console's, which the library exports */
int _getch(void);

#define FOCAL 320.0f /* pixels: a 90-degree view across */
#define NEAR 0.5f    /* world units in front of the eye */
#define FAR 160.0f
#define EYE 1.0f /* above the floor */
#define HALF_WIDTH 2.0f
#define WALL 3.0f   /* wall height */
#define REPEAT 2.0f /* world units a texture covers */

/* Textures with every level, largest first, RGB 565: a tiled floor 256x256
 * and bricks 128x128, each level the box average of the one before. */
static FxU16 Floor[256 * 256 * 4 / 3 + 1];
static FxU16 Bricks[128 * 128 * 4 / 3 + 1];

static FxU16 Pack(int r, int g, int b) {
  return (FxU16)((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
}

/* Levels below the first, each from the one above it: 2x2 boxes. */
static void MakeLevels(FxU16* texels, int side) {
  FxU16* above = texels;
  for (int s = side / 2; s >= 1; s /= 2) {
    FxU16* level = above + 4 * s * s;
    for (int y = 0; y < s; y++) {
      for (int x = 0; x < s; x++) {
        int r = 0, g = 0, b = 0;
        for (int k = 0; k < 4; k++) {
          const FxU16 t = above[(2 * y + k / 2) * 2 * s + 2 * x + k % 2];
          r += (t >> 11) * 255 / 31;
          g += (t >> 5 & 63) * 255 / 63;
          b += (t & 31) * 255 / 31;
        }
        level[y * s + x] = Pack(r / 4, g / 4, b / 4);
      }
    }
    above = level;
  }
}

static void MakeTextures(void) {
  for (int y = 0; y < 256; y++) {
    for (int x = 0; x < 256; x++) {
      /* Tiles with dark grout, and a fine checker inside each tile. */
      const int grout = (x & 63) < 3 || (y & 63) < 3;
      const int fine = ((x >> 2) ^ (y >> 2)) & 1;
      const int tile = ((x >> 6) + (y >> 6)) & 1;
      const int base = tile ? 200 : 120;
      Floor[y * 256 + x] =
          grout ? Pack(40, 36, 30)
                : Pack(base + (fine ? 40 : 0), base - 20, base - 60 + (fine ? 30 : 0));
    }
  }
  MakeLevels(Floor, 256);
  for (int y = 0; y < 128; y++) {
    for (int x = 0; x < 128; x++) {
      const int row = y / 16, offset = (row & 1) * 16;
      const int mortar = (y & 15) < 2 || ((x + offset) & 31) < 2;
      const int shade = (((x + offset) / 32) * 37 + row * 53) % 60;
      Bricks[y * 128 + x] = mortar ? Pack(190, 185, 170) : Pack(150 + shade, 60 + shade / 2, 40);
    }
  }
  MakeLevels(Bricks, 128);
}

/* A vertex of a point in the world (the eye at the origin, looking down +z)
 * with texture coordinates s, t in texels of the largest level. */
static GrVertex Vertex(float x, float y, float z, float s, float t) {
  GrVertex v = {0};
  v.x = 320.0f + FOCAL * x / z;
  v.y = 240.0f - FOCAL * y / z;
  v.oow = 1.0f / z;
  v.tmuvtx[0].sow = s * v.oow;
  v.tmuvtx[0].tow = t * v.oow;
  v.tmuvtx[0].oow = v.oow;
  v.r = v.g = v.b = v.a = 255;
  return v;
}

/* A quad of four world points and their texture coordinates. */
static void Quad(const float p[4][3], const float st[4][2]) {
  GrVertex v[4];
  for (int i = 0; i < 4; i++) v[i] = Vertex(p[i][0], p[i][1], p[i][2], st[i][0], st[i][1]);
  grDrawPolygonVertexList(4, v);
}

static const char* const kModes[] = {"largest level", "nearest mipmap", "nearest mipmap, dithered",
                                     "trilinear"};

static void SetMode(int mode) {
  const GrMipMapMode_t mipmap = mode == 0   ? GR_MIPMAP_DISABLE
                                : mode == 2 ? GR_MIPMAP_NEAREST_DITHER
                                            : GR_MIPMAP_NEAREST;
  grTexMipMapMode(GR_TMU0, mipmap, mode == 3 ? FXTRUE : FXFALSE);
}

int main(int argc, char** argv) {
  const int frames = argc > 1 ? atoi(argv[1]) : -1;
  int mode = argc > 2 ? atoi(argv[2]) & 3 : 3;
  GrHwConfiguration hw;
  GrTexInfo floor_info = {GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, GR_TEXFMT_RGB_565, Floor};
  GrTexInfo brick_info = {GR_LOD_1, GR_LOD_128, GR_ASPECT_1x1, GR_TEXFMT_RGB_565, Bricks};

  grLibInit();
  if (!grSstQueryHardware(&hw)) {
    fprintf(stderr, "No 3D board.\n");
    return 1;
  }
  grSstSelect(0);
  if (!grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ARGB,
                    GR_ORIGIN_UPPER_LEFT, 2, 0)) {
    fprintf(stderr, "Couldn't open the display.\n");
    return 1;
  }
  MakeTextures();
  const FxU32 brick_address =
      grTexMinAddress(GR_TMU0) + grTexTextureMemRequired(GR_MIPMAPLEVELMASK_BOTH, &floor_info);
  grTexDownloadMipMap(GR_TMU0, grTexMinAddress(GR_TMU0), GR_MIPMAPLEVELMASK_BOTH, &floor_info);
  grTexDownloadMipMap(GR_TMU0, brick_address, GR_MIPMAPLEVELMASK_BOTH, &brick_info);
  grColorCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, GR_COMBINE_LOCAL_NONE,
                 GR_COMBINE_OTHER_TEXTURE, FXFALSE);
  grTexFilterMode(GR_TMU0, GR_TEXTUREFILTER_BILINEAR, GR_TEXTUREFILTER_BILINEAR);
  SetMode(mode);
  if (frames < 0) printf("m: next mode, Esc: quit. Mode: %s\n", kModes[mode]);

  for (int frame = 0; frames < 0 || frame < frames; frame++) {
    if (frames < 0 && _kbhit()) {
      const int key = _getch();
      if (key == 27) break;
      if (key == 'm' || key == ' ') {
        mode = (mode + 1) & 3;
        SetMode(mode);
        printf("Mode: %s\n", kModes[mode]);
        fflush(stdout);
      }
    }
    /* The camera glides forward: the textures scroll toward it. */
    const float travel = (float)(frame % 256) * 0.05f;
    const float t0 = (NEAR + travel) * 256.0f / REPEAT, t1 = (FAR + travel) * 256.0f / REPEAT;
    const float across = HALF_WIDTH * 256.0f / REPEAT, up = WALL * 256.0f / REPEAT;
    grBufferClear(0xFF6080B0, 0, 0); /* the sky beyond the corridor */
    grTexSource(GR_TMU0, grTexMinAddress(GR_TMU0), GR_MIPMAPLEVELMASK_BOTH, &floor_info);
    {
      const float p[4][3] = {{-HALF_WIDTH, -EYE, FAR},
                             {HALF_WIDTH, -EYE, FAR},
                             {HALF_WIDTH, -EYE, NEAR},
                             {-HALF_WIDTH, -EYE, NEAR}};
      const float st[4][2] = {{-across, -t1}, {across, -t1}, {across, -t0}, {-across, -t0}};
      Quad(p, st);
    }
    grTexSource(GR_TMU0, brick_address, GR_MIPMAPLEVELMASK_BOTH, &brick_info);
    for (int side = -1; side <= 1; side += 2) {
      const float x = (float)side * HALF_WIDTH, top = WALL - EYE;
      const float p[4][3] = {{x, top, FAR}, {x, top, NEAR}, {x, -EYE, NEAR}, {x, -EYE, FAR}};
      const float st[4][2] = {{t1, 0}, {t0, 0}, {t0, up}, {t1, up}};
      Quad(p, st);
    }
    grBufferSwap(1);
  }
  grLibShutdown();
  return 0;
}
