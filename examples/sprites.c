/* Sprites over a tiled background, clipped to a window: balls cut out by
 * the alpha test, ships by a chroma key (magenta is transparent).
 *
 *   softboard-sprites [frames]
 *
 * Esc quits; with a frame count it draws that many frames and ends. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include "grlib.h"

int _kbhit(void); /* the old console's, which the library exports */
int _getch(void);

#define SPRITES 40
#define KEY 0xFFFF00FF /* magenta: the ships' transparent colour */

static FxU16 Tiles[64 * 64]; /* RGB 565 */
static FxU16 Ball[32 * 32];  /* ARGB 4444: alpha cuts the disc out */
static FxU16 Ship[32 * 32];  /* RGB 565, magenta around it */

static void MakeTextures(void) {
  for (int y = 0; y < 64; y++) {
    for (int x = 0; x < 64; x++) {
      const int check = ((x >> 3) ^ (y >> 3)) & 1;
      Tiles[y * 64 + x] = (FxU16)((check ? 6 : 3) << 11 | (8 + y / 4) << 5 | (10 + x / 8));
    }
  }
  for (int y = 0; y < 32; y++) {
    for (int x = 0; x < 32; x++) {
      const float dx = (float)x - 15.5f, dy = (float)y - 15.5f, d = sqrtf(dx * dx + dy * dy);
      const int inside = d < 15.0f;
      const int shade = inside ? 15 - (int)(d * 0.6f) : 0;
      Ball[y * 32 + x] = (FxU16)((inside ? 15 : 0) << 12 | 15 << 8 | shade << 4 | (shade / 3));
      /* An arrow pointing right. */
      const int body = x >= 4 && x < 28 && abs(y - 16) * 2 < (x - 4) + 4 && abs(y - 16) < 10;
      Ship[y * 32 + x] = body ? (FxU16)(((x * 31 / 32) << 11) | (48 << 5) | (31 - x)) : 0xF81F;
    }
  }
}

static void Download(FxU32 address, GrLOD_t lod, GrTextureFormat_t format, void* data,
                     GrTexInfo* info) {
  info->smallLod = lod;
  info->largeLod = lod;
  info->aspectRatio = GR_ASPECT_1x1;
  info->format = format;
  info->data = data;
  grTexDownloadMipMap(GR_TMU0, address, GR_MIPMAPLEVELMASK_BOTH, info);
}

/* A screen-aligned quad from (x, y), w x h pixels, texture s 0..s_end. */
static void Quad(float x, float y, float w, float h, float s_end, float t_end) {
  GrVertex v[4] = {{0}};
  for (int i = 0; i < 4; i++) {
    const int right = i == 1 || i == 2, bottom = i >= 2;
    v[i].x = x + (right ? w : 0);
    v[i].y = y + (bottom ? h : 0);
    v[i].oow = 1;
    v[i].tmuvtx[0].sow = right ? s_end : 0;
    v[i].tmuvtx[0].tow = bottom ? t_end : 0;
    v[i].tmuvtx[0].oow = 1;
    v[i].a = 255;
  }
  grDrawPolygonVertexList(4, v);
}

int main(int argc, char** argv) {
  const int frames = argc > 1 ? atoi(argv[1]) : -1;
  GrHwConfiguration hw;
  GrTexInfo tiles, ball, ship;

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
  Download(0, GR_LOD_64, GR_TEXFMT_RGB_565, Tiles, &tiles);
  Download(16384, GR_LOD_32, GR_TEXFMT_ARGB_4444, Ball, &ball);
  Download(32768, GR_LOD_32, GR_TEXFMT_RGB_565, Ship, &ship);
  grColorCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, GR_COMBINE_LOCAL_NONE,
                 GR_COMBINE_OTHER_TEXTURE, FXFALSE);
  grAlphaCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, GR_COMBINE_LOCAL_NONE,
                 GR_COMBINE_OTHER_TEXTURE, FXFALSE);
  grChromakeyValue(KEY);

  for (int frame = 0; frames < 0 || frame < frames; frame++) {
    if (frames < 0 && _kbhit() && _getch() == 27) break;
    /* The background fills the screen; sprites keep to the window inside the border. */
    grClipWindow(0, 0, 640, 480);
    grAlphaTestFunction(GR_CMP_ALWAYS);
    grChromakeyMode(GR_CHROMAKEY_DISABLE);
    grTexSource(GR_TMU0, 0, GR_MIPMAPLEVELMASK_BOTH, &tiles);
    grBufferClear(0xFF000000, 0, 0);
    Quad(0, 0, 640, 480, 256 * 6, 256 * 4.5f);
    grClipWindow(48, 40, 592, 440);
    for (int i = 0; i < SPRITES; i++) {
      const float t = (float)frame * 0.02f + (float)i * 0.7f;
      /* Whole pixels: texels land on pixel centres, so the key is exact. */
      const float x = floorf(296.0f + 300.0f * sinf(t * 1.3f + (float)i));
      const float y = floorf(224.0f + 220.0f * cosf(t * 0.9f + 2.0f * (float)i));
      if (i % 2) {
        grChromakeyMode(GR_CHROMAKEY_DISABLE);
        grAlphaTestFunction(GR_CMP_GREATER);
        grAlphaTestReferenceValue(128);
        grTexSource(GR_TMU0, 16384, GR_MIPMAPLEVELMASK_BOTH, &ball);
        Quad(x, y, 32 + 16 * (i % 3), 32 + 16 * (i % 3), 256, 256);
      } else {
        grAlphaTestFunction(GR_CMP_ALWAYS);
        grChromakeyMode(GR_CHROMAKEY_ENABLE);
        grTexSource(GR_TMU0, 32768, GR_MIPMAPLEVELMASK_BOTH, &ship);
        Quad(x, y, 32, 32, 256, 256);
      }
    }
    grBufferSwap(1);
  }
  grLibShutdown();
  return 0;
}
