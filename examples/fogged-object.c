/* A z-buffered torus of 3072 Gouraud-lit triangles turning in fog.
 *
 *   softboard-fogged-object [frames]
 *
 * Esc quits; with a frame count it draws that many frames and ends. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include "grlib.h"

int _kbhit(void); /* the old console's, which the library exports */
int _getch(void);

#define RINGS 48 /* around the torus */
#define SIDES 32 /* around its tube */
#define FOG_COLOR 0xFF4A5A70

typedef struct {
  float x, y, z;    /* position, in front of the camera at z > 0 */
  float nx, ny, nz; /* normal */
} Point3;

static Point3 Torus[RINGS][SIDES];

static void MakeTorus(void) {
  for (int i = 0; i < RINGS; i++) {
    for (int j = 0; j < SIDES; j++) {
      const float u = 6.2831853f * (float)i / RINGS, v = 6.2831853f * (float)j / SIDES;
      Point3* p = &Torus[i][j];
      p->nx = cosf(v) * cosf(u);
      p->ny = cosf(v) * sinf(u);
      p->nz = sinf(v);
      p->x = (1.6f + 0.6f * cosf(v)) * cosf(u);
      p->y = (1.6f + 0.6f * cosf(v)) * sinf(u);
      p->z = 0.6f * sinf(v);
    }
  }
}

/* Turns p by angles a (about y) and b (about x), then 6 units ahead, and
 * projects it: screen position, depth for the z buffer (1/z, nearest 65535)
 * and 1/w for the fog table, colour lit from the upper left. */
static GrVertex Project(const Point3* p, float a, float b, float hue) {
  const float x1 = p->x * cosf(a) + p->z * sinf(a), z1 = -p->x * sinf(a) + p->z * cosf(a);
  const float y2 = p->y * cosf(b) - z1 * sinf(b), z2 = p->y * sinf(b) + z1 * cosf(b);
  const float nx1 = p->nx * cosf(a) + p->nz * sinf(a), nz1 = -p->nx * sinf(a) + p->nz * cosf(a);
  const float ny2 = p->ny * cosf(b) - nz1 * sinf(b), nz2 = p->ny * sinf(b) + nz1 * cosf(b);
  const float w = z2 + 6.0f;
  GrVertex v = {0};
  float light = -0.5f * nx1 + 0.6f * ny2 - 0.62f * nz2;
  light = 0.25f + 0.75f * (light > 0 ? light : 0);
  v.x = 320.0f + 330.0f * x1 / w;
  v.y = 240.0f - 330.0f * y2 / w;
  v.ooz = 65535.0f * 2.0f / w; /* 1/z, linear on the screen; nearest is largest */
  v.oow = 1.0f / w;
  v.r = 255.0f * light * (0.6f + 0.4f * hue);
  v.g = 255.0f * light * 0.55f;
  v.b = 255.0f * light * (1.0f - 0.6f * hue);
  v.a = 255.0f;
  return v;
}

int main(int argc, char** argv) {
  const int frames = argc > 1 ? atoi(argv[1]) : -1;
  GrHwConfiguration hw;
  GrFog_t fog[GR_FOG_TABLE_SIZE];
  static GrVertex v[RINGS][SIDES];

  grLibInit();
  if (!grSstQueryHardware(&hw)) {
    fprintf(stderr, "No 3D board.\n");
    return 1;
  }
  grSstSelect(0);
  if (!grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ARGB,
                    GR_ORIGIN_UPPER_LEFT, 2, 1)) {
    fprintf(stderr, "Couldn't open the display.\n");
    return 1;
  }
  MakeTorus();
  grColorCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_NONE, GR_COMBINE_LOCAL_ITERATED,
                 GR_COMBINE_OTHER_NONE, FXFALSE);
  grDepthBufferMode(GR_DEPTHBUFFER_ZBUFFER);
  grDepthBufferFunction(GR_CMP_GREATER);
  grDepthMask(FXTRUE);
  grCullMode(GR_CULL_NEGATIVE); /* the tube's far side */
  guFogGenerateExp(fog, 0.09f);
  grFogTable(fog);
  grFogColorValue(FOG_COLOR);
  grFogMode(GR_FOG_WITH_TABLE);

  for (int frame = 0; frames < 0 || frame < frames; frame++) {
    if (frames < 0 && _kbhit() && _getch() == 27) break;
    const float a = 0.6f + 0.021f * (float)frame, b = 0.2f + 0.013f * (float)frame;
    for (int i = 0; i < RINGS; i++) {
      for (int j = 0; j < SIDES; j++) v[i][j] = Project(&Torus[i][j], a, b, (float)i / RINGS);
    }
    grBufferClear(FOG_COLOR, 0, GR_ZDEPTHVALUE_FARTHEST);
    for (int i = 0; i < RINGS; i++) {
      for (int j = 0; j < SIDES; j++) {
        const GrVertex* p = &v[i][j];
        const GrVertex* q = &v[(i + 1) % RINGS][j];
        const GrVertex* r = &v[(i + 1) % RINGS][(j + 1) % SIDES];
        const GrVertex* s = &v[i][(j + 1) % SIDES];
        grDrawTriangle(p, q, r);
        grDrawTriangle(p, r, s);
      }
    }
    grBufferSwap(1);
  }
  grLibShutdown();
  return 0;
}
