/* A program of someone else's, built against the installed library alone:
 * it clears the screen to blue and draws a red triangle over it. */
#include <grlib.h>

int main(void) {
  GrHwConfiguration hardware;
  GrVertex corner[3] = {{0}};
  const int order[3] = {0, 1, 2};
  const float xy[3][2] = {{100, 100}, {500, 100}, {100, 400}};
  int i;

  grLibInit();
  if (!grSstQueryHardware(&hardware)) return 2;
  grSstSelect(0);
  if (!grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ARGB,
                    GR_ORIGIN_UPPER_LEFT, 2, 1))
    return 3;
  for (i = 0; i < 3; i++) {
    corner[i].x = xy[i][0];
    corner[i].y = xy[i][1];
    corner[i].r = 255;
    corner[i].a = 255;
    corner[i].oow = 1;
  }
  grBufferClear(0xFF0000FFu, 255, 0);
  grDrawPolygon(3, order, corner);
  grBufferSwap(0);
  grLibShutdown();
  return 0;
}
