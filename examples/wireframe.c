/* A wire globe turning: its parallels and meridians as lines, shaded by how
 * near they are, with a point at every crossing.
 *
 *   softboard-wireframe [frames]
 *
 * Esc quits; with a frame count it draws that many frames and ends. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include "grlib.h"

int _kbhit(void); /* the old console's, which the library exports */
int _getch(void);

#define LATITUDES 12
#define LONGITUDES 24

static GrVertex Globe[LATITUDES + 1][LONGITUDES];

/* The globe's point at latitude i and longitude j, turned by a and tilted. */
static GrVertex At(int i, int j, float a) {
  const float lat = 3.14159265f * ((float)i / LATITUDES - 0.5f);
  const float lon = 6.2831853f * (float)j / LONGITUDES + a;
  const float x = cosf(lat) * cosf(lon), z0 = cosf(lat) * sinf(lon), y0 = sinf(lat);
  const float y = y0 * 0.94f - z0 * 0.34f, z = y0 * 0.34f + z0 * 0.94f;
  const float w = 3.2f + z, near = (1.0f - z) * 0.5f; /* 1 in front, 0 behind */
  GrVertex v = {0};
  v.x = 320.0f + 520.0f * x / w;
  v.y = 240.0f - 520.0f * y / w;
  v.oow = 1.0f / w;
  v.r = 40.0f + 215.0f * near;
  v.g = 90.0f + 165.0f * near * (float)i / LATITUDES;
  v.b = 255.0f - 120.0f * near;
  v.a = 255.0f;
  return v;
}

int main(int argc, char** argv) {
  const int frames = argc > 1 ? atoi(argv[1]) : -1;
  GrHwConfiguration hw;

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
  grColorCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_NONE, GR_COMBINE_LOCAL_ITERATED,
                 GR_COMBINE_OTHER_NONE, FXFALSE);

  for (int frame = 0; frames < 0 || frame < frames; frame++) {
    if (frames < 0 && _kbhit() && _getch() == 27) break;
    const float a = 0.015f * (float)frame;
    for (int i = 0; i <= LATITUDES; i++) {
      for (int j = 0; j < LONGITUDES; j++) Globe[i][j] = At(i, j, a);
    }
    grBufferClear(0xFF080810, 0, 0);
    for (int i = 0; i <= LATITUDES; i++) {
      for (int j = 0; j < LONGITUDES; j++) {
        const GrVertex* p = &Globe[i][j];
        if (i > 0 && i < LATITUDES) grDrawLine(p, &Globe[i][(j + 1) % LONGITUDES]);
        if (i < LATITUDES) grDrawLine(p, &Globe[i + 1][j]);
      }
    }
    for (int i = 1; i < LATITUDES; i++) {
      for (int j = 0; j < LONGITUDES; j++) {
        GrVertex p = Globe[i][j];
        p.r = p.g = p.b = 255.0f;
        grDrawPoint(&p);
      }
    }
    grBufferSwap(1);
  }
  grLibShutdown();
  return 0;
}
