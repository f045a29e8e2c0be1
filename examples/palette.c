/* Colours cycling through a palette texture: the texels are palette
 * indices (P_8) that never change; each frame downloads the palette again,
 * rotated, and the picture moves.
 *
 *   softboard-palette [frames]
 *
 * p changes the palette's colours; space stops and starts the cycling; Esc
 * quits. With a frame count it draws that many frames and ends. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include "grlib.h"

int _kbhit(void); /* the old console's, which the library exports */
int _getch(void);

static FxU8 Indices[256 * 256];

/* Waves of indices 0..255 that wrap at the texture's edges, so its copies
 * tile without a seam. */
static void MakeIndices(void) {
  const float k = 6.2831853f / 256.0f;
  for (int y = 0; y < 256; y++) {
    for (int x = 0; x < 256; x++) {
      const float v = 128.0f + 70.0f * sinf(k * (float)(2 * x)) + 50.0f * cosf(k * (float)(3 * y)) +
                      60.0f * sinf(k * (float)(x + 2 * y));
      Indices[y * 256 + x] = (FxU8)((int)v & 255);
    }
  }
}

/* Smooth bands of colour (0xAARRGGBB, alpha unused), `shift` entries on. */
static void MakePalette(GuTexPalette* p, int scheme, int shift) {
  for (int i = 0; i < 256; i++) {
    const float a = (float)((i + shift) & 255) / 256.0f * 6.2831853f;
    const float r = 0.5f + 0.5f * sinf(a * (scheme ? 2.0f : 1.0f));
    const float g = 0.5f + 0.5f * sinf(a * 3.0f + (scheme ? 1.0f : 2.0f));
    const float b = 0.5f + 0.5f * sinf(a * (scheme ? 1.0f : 5.0f) + 4.0f);
    p->data[i] = (FxU32)(r * 255.0f) << 16 | (FxU32)(g * 255.0f) << 8 | (FxU32)(b * 255.0f);
  }
}

/* The texture on a quad turned by `angle`, twice the screen's height across. */
static void DrawQuad(float angle) {
  const float c = cosf(angle) * 420.0f, s = sinf(angle) * 420.0f;
  const float corner[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
  GrVertex v[4];
  for (int i = 0; i < 4; i++) {
    v[i] = (GrVertex){0};
    v[i].x = 320.0f + corner[i][0] * c - corner[i][1] * s;
    v[i].y = 240.0f + corner[i][0] * s + corner[i][1] * c;
    v[i].oow = 1;
    v[i].tmuvtx[0].sow = (corner[i][0] + 1) * 256.0f;
    v[i].tmuvtx[0].tow = (corner[i][1] + 1) * 256.0f;
    v[i].tmuvtx[0].oow = 1;
  }
  grDrawPolygonVertexList(4, v);
}

int main(int argc, char** argv) {
  const int frames = argc > 1 ? atoi(argv[1]) : -1;
  int scheme = 0, cycling = 1, shift = 0;
  GrHwConfiguration hw;
  GuTexPalette palette;
  GrTexInfo info = {GR_LOD_256, GR_LOD_256, GR_ASPECT_1x1, GR_TEXFMT_P_8, Indices};

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
  MakeIndices();
  grTexDownloadMipMap(GR_TMU0, grTexMinAddress(GR_TMU0), GR_MIPMAPLEVELMASK_BOTH, &info);
  grTexSource(GR_TMU0, grTexMinAddress(GR_TMU0), GR_MIPMAPLEVELMASK_BOTH, &info);
  /* Indices are not colours: each pixel takes its texel's palette entry. */
  grTexFilterMode(GR_TMU0, GR_TEXTUREFILTER_POINT_SAMPLED, GR_TEXTUREFILTER_POINT_SAMPLED);
  grColorCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, GR_COMBINE_LOCAL_NONE,
                 GR_COMBINE_OTHER_TEXTURE, FXFALSE);
  if (frames < 0) printf("p: other colours, space: stop/start, Esc: quit.\n");

  for (int frame = 0; frames < 0 || frame < frames; frame++) {
    if (frames < 0 && _kbhit()) {
      const int key = _getch();
      if (key == 27) break;
      if (key == 'p') scheme = !scheme;
      if (key == ' ') cycling = !cycling;
    }
    if (cycling) shift = (shift + 3) & 255;
    MakePalette(&palette, scheme, shift);
    grTexDownloadTable(GR_TMU0, GR_TEXTABLE_PALETTE, &palette);
    grBufferClear(0xFF000000, 0, 0);
    DrawQuad(0.3f + (float)frame * 0.004f);
    grBufferSwap(1);
  }
  grLibShutdown();
  return 0;
}
