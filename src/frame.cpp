#include "demo.h"
#include "grlib.h"

// Both triangles are drawn from this one array, kept from frame to frame.
static GrVertex Triangle[3];
static int vlist[3];
static float w;

void DrawFrame(const DemoState* State) {
  grColorCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, GR_COMBINE_LOCAL_CONSTANT,
                 GR_COMBINE_OTHER_TEXTURE, FXFALSE);

  w = 100.0f;
  Triangle[0].x = 100.0f;
  Triangle[0].y = 100.0f;
  Triangle[1].x = 500.0f;
  Triangle[1].y = 100.0f;
  Triangle[2].x = 500.0f;
  Triangle[2].y = 400.0f;

  // Texel coordinates (0,0), (256,0), (256,128), divided by w for both units.
  const float s[3] = {0.0f, 256.0f, 256.0f};
  const float t[3] = {0.0f, 0.0f, 128.0f};
  for (int i = 0; i < 3; i++) {
    Triangle[i].oow = 1.0f / w;
    for (int tmu = 0; tmu < 2; tmu++) {
      Triangle[i].tmuvtx[tmu].sow = s[i] / w;
      Triangle[i].tmuvtx[tmu].tow = t[i] / w;
      Triangle[i].tmuvtx[tmu].oow = 1.0f / w;
    }
  }
  vlist[0] = 0;
  vlist[1] = 1;
  vlist[2] = 2;

  grBufferClear(0xFF000000, 0, GR_WDEPTHVALUE_FARTHEST);
  grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ZERO, GR_BLEND_ZERO);
  grDrawPolygon(3, vlist, Triangle);

  Triangle[0].r = 255.0f;
  Triangle[0].g = 0.0f;
  Triangle[0].b = 0.0f;
  Triangle[1].r = 0.0f;
  Triangle[1].g = 255.0f;
  Triangle[1].b = 0.0f;
  Triangle[2].r = 0.0f;
  Triangle[2].g = 0.0f;
  Triangle[2].b = 255.0f;
  Triangle[0].x = State->x + 100.0f;
  Triangle[0].y = State->y + 100.0f;
  Triangle[1].x = State->x + 500.0f;
  Triangle[1].y = State->y + 100.0f;
  Triangle[2].x = State->x + 500.0f;
  Triangle[2].y = State->y + 400.0f;

  grConstantColorValue((FxU32)State->Opacity);
  grAlphaCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, GR_COMBINE_LOCAL_CONSTANT,
                 GR_COMBINE_OTHER_CONSTANT, FXFALSE);
  grAlphaBlendFunction(GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ZERO,
                       GR_BLEND_ZERO);
  grColorCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_ITERATED,
                 GR_COMBINE_OTHER_TEXTURE, FXFALSE);
  grDrawPolygon(3, vlist, Triangle);

  grBufferSwap(1);
}
