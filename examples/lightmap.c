/* A brick wall lit by a light map from the second texture unit: unit 1
 * samples the light map, and unit 0 multiplies its bricks by it. One light
 * drifts along the wall: its level of the light map is downloaded again each
 * frame.
 *
 *   softboard-lightmap [frames]
 *
 * l turns the light map off and on; Esc quits. With a frame count it draws
 * that many frames and ends. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include "grlib.h"

int _kbhit(void); /* the old console's, which the library exports */
int _getch(void);

#define FOCAL 320.0f
#define LIGHTS 3

static FxU16 Bricks[128 * 128 * 4 / 3 + 1]; /* RGB 565, every level */
static FxU8 Light[64 * 32];                 /* intensity, one level */

static FxU16 Pack(int r, int g, int b) {
  return (FxU16)((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
}

static void MakeBricks(void) {
  for (int y = 0; y < 128; y++) {
    for (int x = 0; x < 128; x++) {
      const int row = y / 16, offset = (row & 1) * 16;
      const int mortar = (y & 15) < 2 || ((x + offset) & 31) < 2;
      const int grain = (x * 7 + y * 13) % 23;
      Bricks[y * 128 + x] = mortar ? Pack(200, 195, 180) : Pack(170 + grain, 80 + grain, 50);
    }
  }
  /* Each smaller level the 2x2 average of the one above. */
  FxU16* above = Bricks;
  for (int s = 64; s >= 1; s /= 2) {
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

/* Pools of light on a dim wall: two fixed, one at `moving` (0..1 along). */
static void MakeLight(float moving) {
  const float lx[LIGHTS] = {0.2f, 0.75f, moving}, ly[LIGHTS] = {0.35f, 0.6f, 0.5f};
  for (int y = 0; y < 32; y++) {
    for (int x = 0; x < 64; x++) {
      float sum = 40.0f;
      for (int i = 0; i < LIGHTS; i++) {
        const float dx = ((float)x + 0.5f) / 64.0f - lx[i], dy = ((float)y + 0.5f) / 32.0f - ly[i];
        sum += 230.0f * expf(-(dx * dx * 4.0f + dy * dy) * 40.0f);
      }
      Light[y * 64 + x] = (FxU8)(sum > 255.0f ? 255.0f : sum);
    }
  }
}

/* A wall from x = -3 to 5 (world units), y = -1.5 to 2.5, running from z = 2
 * on the left to 9 on the right: bricks repeat every 2 units, the light map
 * spans it once. */
static void DrawWall(void) {
  const float corner[4][3] = {{-3, 2.5f, 2}, {5, 2.5f, 9}, {5, -1.5f, 9}, {-3, -1.5f, 2}};
  const float across[4] = {0, 1, 1, 0}, down[4] = {0, 0, 1, 1};
  GrVertex v[4];
  for (int i = 0; i < 4; i++) {
    const float z = corner[i][2], q = 1.0f / z;
    v[i] = (GrVertex){0};
    v[i].x = 320.0f + FOCAL * corner[i][0] * q;
    v[i].y = 240.0f - FOCAL * corner[i][1] * q;
    v[i].oow = q;
    v[i].r = v[i].g = v[i].b = v[i].a = 255;
    /* Bricks: 256 units of s a repeat, 4 across and 2 down. */
    v[i].tmuvtx[0].sow = across[i] * 4 * 256 * q;
    v[i].tmuvtx[0].tow = down[i] * 2 * 256 * q;
    v[i].tmuvtx[0].oow = q;
    /* The light map (64x32: s 0..256, t 0..128) once over the wall. */
    v[i].tmuvtx[1].sow = across[i] * 256 * q;
    v[i].tmuvtx[1].tow = down[i] * 128 * q;
    v[i].tmuvtx[1].oow = q;
  }
  grDrawPolygonVertexList(4, v);
}

static void SetLighting(int lit) {
  if (lit) /* unit 0: its texel times unit 1's (the light map); alpha its own */
    grTexCombine(GR_TMU0, GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_LOCAL,
                 GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_NONE, FXFALSE, FXFALSE);
  else
    grTexCombine(GR_TMU0, GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_NONE,
                 GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_NONE, FXFALSE, FXFALSE);
}

int main(int argc, char** argv) {
  const int frames = argc > 1 ? atoi(argv[1]) : -1;
  int lit = 1;
  GrHwConfiguration hw;
  GrTexInfo bricks = {GR_LOD_1, GR_LOD_128, GR_ASPECT_1x1, GR_TEXFMT_RGB_565, Bricks};
  GrTexInfo light = {GR_LOD_64, GR_LOD_64, GR_ASPECT_2x1, GR_TEXFMT_INTENSITY_8, Light};

  grLibInit();
  if (!grSstQueryHardware(&hw) || hw.SSTs[0].nTexelfx < 2) {
    fprintf(stderr, "No 3D board with two texture units.\n");
    return 1;
  }
  grSstSelect(0);
  if (!grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ARGB,
                    GR_ORIGIN_UPPER_LEFT, 2, 0)) {
    fprintf(stderr, "Couldn't open the display.\n");
    return 1;
  }
  MakeBricks();
  MakeLight(0.5f);
  grTexDownloadMipMap(GR_TMU0, grTexMinAddress(GR_TMU0), GR_MIPMAPLEVELMASK_BOTH, &bricks);
  grTexSource(GR_TMU0, grTexMinAddress(GR_TMU0), GR_MIPMAPLEVELMASK_BOTH, &bricks);
  grTexMipMapMode(GR_TMU0, GR_MIPMAP_NEAREST, FXTRUE); /* trilinear bricks */
  grTexDownloadMipMap(GR_TMU1, grTexMinAddress(GR_TMU1), GR_MIPMAPLEVELMASK_BOTH, &light);
  grTexSource(GR_TMU1, grTexMinAddress(GR_TMU1), GR_MIPMAPLEVELMASK_BOTH, &light);
  grTexClampMode(GR_TMU1, GR_TEXTURECLAMP_CLAMP, GR_TEXTURECLAMP_CLAMP);
  grColorCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, GR_COMBINE_LOCAL_NONE,
                 GR_COMBINE_OTHER_TEXTURE, FXFALSE);
  SetLighting(lit);
  if (frames < 0) printf("l: light map off/on, Esc: quit.\n");

  for (int frame = 0; frames < 0 || frame < frames; frame++) {
    if (frames < 0 && _kbhit()) {
      const int key = _getch();
      if (key == 27) break;
      if (key == 'l') SetLighting(lit = !lit);
    }
    /* The drifting light: its level downloaded again into unit 1's memory. */
    MakeLight(0.5f + 0.4f * sinf((float)frame * 0.03f));
    grTexDownloadMipMapLevel(GR_TMU1, grTexMinAddress(GR_TMU1), GR_LOD_64, GR_LOD_64, GR_ASPECT_2x1,
                             GR_TEXFMT_INTENSITY_8, GR_MIPMAPLEVELMASK_BOTH, Light);
    grBufferClear(0xFF101018, 0, 0);
    DrawWall();
    grBufferSwap(1);
  }
  grLibShutdown();
  return 0;
}
