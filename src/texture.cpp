#include <stdio.h>
#include <stdlib.h>

#include "demo.h"
#include "grlib.h"

// The texture records live for the whole run; the texel buffer is never freed.
static Gu3dfInfo TexInfo;
static GrTexInfo MipMap1;
static FxU32 TexStartAddress;

static void FailTexture() {
  grLibShutdown();
  fputs("Couldn't load tex.3df file!", stdout);
  fflush(stdout);
  exit(1);
}

void LoadTexture() {
  if (gu3dfGetInfo("tex.3df", &TexInfo) != FXTRUE) FailTexture();
  TexInfo.data = malloc(TexInfo.mem_required);
  // A failed allocation or a file that breaks after a good header would leave
  // garbage texels; both end the run like an unreadable file.
  if (TexInfo.data == NULL) FailTexture();
  if (gu3dfLoad("tex.3df", &TexInfo) != FXTRUE) FailTexture();

  MipMap1.smallLod = TexInfo.header.small_lod;
  MipMap1.largeLod = TexInfo.header.large_lod;
  MipMap1.aspectRatio = TexInfo.header.aspect_ratio;
  MipMap1.format = TexInfo.header.format;
  MipMap1.data = TexInfo.data;

  TexStartAddress = grTexMinAddress(GR_TMU0);
  grTexDownloadMipMap(GR_TMU0, TexStartAddress, GR_MIPMAPLEVELMASK_BOTH, &MipMap1);
  grTexSource(GR_TMU0, TexStartAddress, GR_MIPMAPLEVELMASK_BOTH, &MipMap1);
  grTexCombine(GR_TMU0, GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO,
               GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, FXFALSE, FXFALSE);
}
