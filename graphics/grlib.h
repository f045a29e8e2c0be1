/* The graphics library's contract: the operations, records and constants a
 * program draws with. C-compatible; the software board implements it. */
#ifndef GRAPHICS_GRLIB_H
#define GRAPHICS_GRLIB_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define GR_CALL __stdcall
#else
#define GR_CALL
#endif

/* Basic types: fixed widths, as the library's 32-bit ABI has them. */
typedef uint8_t FxU8;
typedef uint16_t FxU16;
typedef int16_t FxI16;
typedef uint32_t FxU32;
typedef int32_t FxI32;
typedef int32_t FxBool;
typedef float FxFloat;

#define FXFALSE 0
#define FXTRUE 1

typedef FxU32 GrColor_t;            /* packed colour, see GrColorFormat_t */
typedef FxU8 GrAlpha_t;             /* 0..255 */
typedef FxI32 GrChipID_t;           /* texture unit number */
typedef FxI32 GrLOD_t;              /* level size: 256 is 0 ... 1 is 8 */
typedef FxI32 GrAspectRatio_t;      /* width x height, 8x1 is 0 ... 1x8 is 6 */
typedef FxI32 GrTextureFormat_t;    /* texel layout */
typedef FxI32 GrCombineFunction_t;  /* combine equation */
typedef FxI32 GrCombineFactor_t;    /* combine scale factor */
typedef FxI32 GrCombineLocal_t;     /* combine "local" input */
typedef FxI32 GrCombineOther_t;     /* combine "other" input */
typedef FxI32 GrAlphaBlendFnc_t;    /* blend factor */
typedef FxI32 GrScreenResolution_t; /* display size */
typedef FxI32 GrScreenRefresh_t;    /* display refresh rate */
typedef FxI32 GrColorFormat_t;      /* packing of GrColor_t */
typedef FxI32 GrOriginLocation_t;   /* where y = 0 is */

#define GR_NUM_TMU 2  /* texture-unit entries in a vertex */
#define MAX_NUM_SST 4 /* boards a configuration can describe */

#define GR_TMU0 0
#define GR_TMU1 1

/* Displays. */
#define GR_RESOLUTION_640x480 7
#define GR_REFRESH_60Hz 0
#define GR_REFRESH_70Hz 1
#define GR_REFRESH_72Hz 2
#define GR_REFRESH_75Hz 3
#define GR_REFRESH_80Hz 4
#define GR_REFRESH_90Hz 5
#define GR_REFRESH_100Hz 6
#define GR_REFRESH_85Hz 7
#define GR_REFRESH_120Hz 8

#define GR_COLORFORMAT_ARGB 0 /* alpha 31-24, red, green, blue 7-0 */
#define GR_COLORFORMAT_ABGR 1 /* alpha 31-24, blue, green, red 7-0 */
#define GR_COLORFORMAT_RGBA 2 /* red 31-24, green, blue, alpha 7-0 */
#define GR_COLORFORMAT_BGRA 3 /* blue 31-24, green, red, alpha 7-0 */

#define GR_ORIGIN_UPPER_LEFT 0
#define GR_ORIGIN_LOWER_LEFT 1

#define GR_WDEPTHVALUE_FARTHEST 0xFFFF

/* Colour and alpha combine: functions. */
#define GR_COMBINE_FUNCTION_ZERO 0x0
#define GR_COMBINE_FUNCTION_NONE GR_COMBINE_FUNCTION_ZERO
#define GR_COMBINE_FUNCTION_LOCAL 0x1
#define GR_COMBINE_FUNCTION_LOCAL_ALPHA 0x2
#define GR_COMBINE_FUNCTION_SCALE_OTHER 0x3
#define GR_COMBINE_FUNCTION_BLEND_OTHER GR_COMBINE_FUNCTION_SCALE_OTHER
#define GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL 0x4
#define GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL_ALPHA 0x5
#define GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL 0x6
#define GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL_ADD_LOCAL 0x7
#define GR_COMBINE_FUNCTION_BLEND GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL_ADD_LOCAL
#define GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL_ADD_LOCAL_ALPHA 0x8
#define GR_COMBINE_FUNCTION_SCALE_MINUS_LOCAL_ADD_LOCAL 0x9
#define GR_COMBINE_FUNCTION_BLEND_LOCAL GR_COMBINE_FUNCTION_SCALE_MINUS_LOCAL_ADD_LOCAL
#define GR_COMBINE_FUNCTION_SCALE_MINUS_LOCAL_ADD_LOCAL_ALPHA 0x10

/* Combine: factors, each from 0 to 1. */
#define GR_COMBINE_FACTOR_ZERO 0x0
#define GR_COMBINE_FACTOR_NONE GR_COMBINE_FACTOR_ZERO
#define GR_COMBINE_FACTOR_LOCAL 0x1
#define GR_COMBINE_FACTOR_OTHER_ALPHA 0x2
#define GR_COMBINE_FACTOR_LOCAL_ALPHA 0x3
#define GR_COMBINE_FACTOR_TEXTURE_ALPHA 0x4
#define GR_COMBINE_FACTOR_ONE 0x8
#define GR_COMBINE_FACTOR_ONE_MINUS_LOCAL 0x9
#define GR_COMBINE_FACTOR_ONE_MINUS_OTHER_ALPHA 0xA
#define GR_COMBINE_FACTOR_ONE_MINUS_LOCAL_ALPHA 0xB
#define GR_COMBINE_FACTOR_ONE_MINUS_TEXTURE_ALPHA 0xC

/* Combine: the "local" and "other" inputs. */
#define GR_COMBINE_LOCAL_ITERATED 0x0
#define GR_COMBINE_LOCAL_CONSTANT 0x1
#define GR_COMBINE_LOCAL_NONE GR_COMBINE_LOCAL_CONSTANT
#define GR_COMBINE_LOCAL_DEPTH 0x2
#define GR_COMBINE_OTHER_ITERATED 0x0
#define GR_COMBINE_OTHER_TEXTURE 0x1
#define GR_COMBINE_OTHER_CONSTANT 0x2
#define GR_COMBINE_OTHER_NONE GR_COMBINE_OTHER_CONSTANT

/* Blend factors: out = src * Fs + dst * Fd. */
#define GR_BLEND_ZERO 0x0
#define GR_BLEND_SRC_ALPHA 0x1
#define GR_BLEND_SRC_COLOR 0x2
#define GR_BLEND_DST_COLOR GR_BLEND_SRC_COLOR /* as a source factor */
#define GR_BLEND_DST_ALPHA 0x3
#define GR_BLEND_ONE 0x4
#define GR_BLEND_ONE_MINUS_SRC_ALPHA 0x5
#define GR_BLEND_ONE_MINUS_SRC_COLOR 0x6
#define GR_BLEND_ONE_MINUS_DST_COLOR GR_BLEND_ONE_MINUS_SRC_COLOR
#define GR_BLEND_ONE_MINUS_DST_ALPHA 0x7
#define GR_BLEND_ALPHA_SATURATE 0xF /* source factor only */

/* Texture levels, aspects, level masks and formats. */
#define GR_LOD_256 0
#define GR_LOD_128 1
#define GR_LOD_64 2
#define GR_LOD_32 3
#define GR_LOD_16 4
#define GR_LOD_8 5
#define GR_LOD_4 6
#define GR_LOD_2 7
#define GR_LOD_1 8

#define GR_ASPECT_8x1 0
#define GR_ASPECT_4x1 1
#define GR_ASPECT_2x1 2
#define GR_ASPECT_1x1 3
#define GR_ASPECT_1x2 4
#define GR_ASPECT_1x4 5
#define GR_ASPECT_1x8 6

#define GR_MIPMAPLEVELMASK_EVEN 1
#define GR_MIPMAPLEVELMASK_ODD 2
#define GR_MIPMAPLEVELMASK_BOTH 3

#define GR_TEXFMT_RGB_332 0x0
#define GR_TEXFMT_YIQ_422 0x1
#define GR_TEXFMT_ALPHA_8 0x2
#define GR_TEXFMT_INTENSITY_8 0x3
#define GR_TEXFMT_ALPHA_INTENSITY_44 0x4
#define GR_TEXFMT_P_8 0x5
#define GR_TEXFMT_ARGB_8332 0x8
#define GR_TEXFMT_AYIQ_8422 0x9
#define GR_TEXFMT_RGB_565 0xA
#define GR_TEXFMT_ARGB_1555 0xB
#define GR_TEXFMT_ARGB_4444 0xC
#define GR_TEXFMT_ALPHA_INTENSITY_88 0xD
#define GR_TEXFMT_AP_88 0xE

/* One corner of a triangle: screen position, colour, and per texture unit the
 * texture coordinates divided by w. */
typedef struct {
  float sow; /* s / w */
  float tow; /* t / w */
  float oow; /* 1 / w */
} GrTmuVertex;

typedef struct {
  float x, y, z; /* screen pixels; z unused */
  float r, g, b; /* 0..255 */
  float ooz;     /* depth for the z buffer, 0..65535 */
  float a;       /* 0..255 */
  float oow;     /* 1 / w: the w buffer's and the fog table's depth */
  GrTmuVertex tmuvtx[GR_NUM_TMU];
} GrVertex;

/* A texture with its chain of levels, texels largest level first. */
typedef struct {
  GrLOD_t smallLod;
  GrLOD_t largeLod;
  GrAspectRatio_t aspectRatio;
  GrTextureFormat_t format;
  void* data;
} GrTexInfo;

/* The narrow-channel compression table of the YIQ formats. */
typedef struct {
  FxU8 yRGB[16];
  FxI16 iRGB[4][3];
  FxI16 qRGB[4][3];
  FxU32 packed_data[12];
} GuNccTable;

/* The palette of the P_8 and AP_88 formats: 0xAARRGGBB, alpha unused. */
typedef struct {
  FxU32 data[256];
} GuTexPalette;

typedef union {
  GuNccTable nccTable;
  GuTexPalette palette;
} GuTexTable;

typedef struct {
  FxU32 width, height; /* the largest level */
  FxI32 small_lod, large_lod;
  FxI32 aspect_ratio;
  FxI32 format;
} Gu3dfHeader;

/* What the 3DF reader fills; data is the caller's buffer of mem_required bytes. */
typedef struct {
  Gu3dfHeader header;
  GuTexTable table;
  void* data;
  FxU32 mem_required;
} Gu3dfInfo;

/* What the library knows of one board. */
typedef struct {
  FxI32 type;     /* GR_SSTTYPE_* */
  FxI32 fbRam;    /* frame-buffer memory, MiB */
  FxI32 nTexelfx; /* texture units */
  FxI32 tmuRam;   /* texture memory per unit, MiB */
} GrSstConfig_t;

#define GR_SSTTYPE_SOFTWARE 0

typedef struct {
  FxI32 num_sst;
  GrSstConfig_t SSTs[MAX_NUM_SST];
} GrHwConfiguration;

/* The operations are what the library shows of itself: built with its other
 * symbols hidden, it exports these. Any thread may call them: the library
 * takes its calls one at a time (one lock held through each call), so calls
 * from several threads take turns and see each other's state whole. */
#if defined(__GNUC__)
#pragma GCC visibility push(default)
#endif

/* Start the library; the first call of a program. */
void GR_CALL grLibInit(void);
/* Fill hwconfig with the boards present; FXFALSE when there are none. */
FxBool GR_CALL grSstQueryHardware(GrHwConfiguration* hwconfig);
/* Make board `which` the one later calls drive. */
void GR_CALL grSstSelect(int which);
/* Open the display; FXFALSE when it cannot be opened in this mode. */
FxBool GR_CALL grSstWinOpen(FxU32 hWnd, GrScreenResolution_t resolution, GrScreenRefresh_t refresh,
                            GrColorFormat_t format, GrOriginLocation_t origin, int color_buffers,
                            int aux_buffers);
/* Read a 3DF file's header into info (and mem_required); FXTRUE on success. */
FxBool GR_CALL gu3dfGetInfo(const char* filename, Gu3dfInfo* info);
/* Read a 3DF file's table into info->table and its texels into info->data. */
FxBool GR_CALL gu3dfLoad(const char* filename, Gu3dfInfo* info);
/* The lowest texture-memory address of a unit. */
FxU32 GR_CALL grTexMinAddress(GrChipID_t tmu);
/* Copy the levels of info chosen by the level mask into texture memory. */
void GR_CALL grTexDownloadMipMap(GrChipID_t tmu, FxU32 address, FxU32 level_mask, GrTexInfo* info);
/* Make the texture at address the one a unit samples. */
void GR_CALL grTexSource(GrChipID_t tmu, FxU32 address, FxU32 level_mask, GrTexInfo* info);
/* Set a texture unit's own combine of its texel. */
void GR_CALL grTexCombine(GrChipID_t tmu, GrCombineFunction_t rgb_function,
                          GrCombineFactor_t rgb_factor, GrCombineFunction_t alpha_function,
                          GrCombineFactor_t alpha_factor, FxBool rgb_invert, FxBool alpha_invert);
/* Set how a pixel's colour is made from its inputs. */
void GR_CALL grColorCombine(GrCombineFunction_t function, GrCombineFactor_t factor,
                            GrCombineLocal_t local, GrCombineOther_t other, FxBool invert);
/* Set how a pixel's alpha is made from its inputs. */
void GR_CALL grAlphaCombine(GrCombineFunction_t function, GrCombineFactor_t factor,
                            GrCombineLocal_t local, GrCombineOther_t other, FxBool invert);
/* Set the blend of a new pixel with the back buffer. */
void GR_CALL grAlphaBlendFunction(GrAlphaBlendFnc_t rgb_src, GrAlphaBlendFnc_t rgb_dst,
                                  GrAlphaBlendFnc_t alpha_src, GrAlphaBlendFnc_t alpha_dst);
/* Set the constant colour, packed as the display's colour format. */
void GR_CALL grConstantColorValue(GrColor_t color);
/* Fill the back buffer, its alpha plane and the depth buffer. */
void GR_CALL grBufferClear(GrColor_t color, GrAlpha_t alpha, FxU16 depth);
/* Draw the convex polygon ilist[0..n) of vlist, as a fan from ilist[0]. */
void GR_CALL grDrawPolygon(int n, const int ilist[], const GrVertex vlist[]);
/* Show the back buffer after swap_interval vertical retraces (0: at once). */
void GR_CALL grBufferSwap(int swap_interval);
/* Close the display and release the board. */
void GR_CALL grLibShutdown(void);

/* Texture units: filters, clamps, mipmaps, downloads of levels and tables,
 * and a second unit (GR_TMU1) chained into unit 0's combine. */
typedef FxI32 GrTextureFilterMode_t; /* point or bilinear */
typedef FxI32 GrTextureClampMode_t;  /* wrap or clamp */
typedef FxI32 GrMipMapMode_t;        /* how a level is chosen */
typedef FxI32 GrTexTable_t;          /* which table a download fills */
typedef FxI32 GrNCCTable_t;          /* which NCC table YIQ textures use */

#define GR_TEXTUREFILTER_POINT_SAMPLED 0x0 /* the texel whose square holds the point */
#define GR_TEXTUREFILTER_BILINEAR 0x1      /* the four nearest texels, weighted */

#define GR_TEXTURECLAMP_WRAP 0x0  /* coordinates repeat the texture */
#define GR_TEXTURECLAMP_CLAMP 0x1 /* coordinates held to the edge texels */

#define GR_MIPMAP_DISABLE 0x0        /* the largest level only */
#define GR_MIPMAP_NEAREST 0x1        /* the level nearest the level of detail */
#define GR_MIPMAP_NEAREST_DITHER 0x2 /* the same, dithered between two levels */

#define GR_TEXTABLE_NCC0 0x0    /* a GuNccTable, table 0 */
#define GR_TEXTABLE_NCC1 0x1    /* a GuNccTable, table 1 */
#define GR_TEXTABLE_PALETTE 0x2 /* a GuTexPalette */

#define GR_NCCTABLE_NCC0 0x0
#define GR_NCCTABLE_NCC1 0x1

/* Texture combine factors (grTexCombine), beyond those it shares. */
#define GR_COMBINE_FACTOR_DETAIL_FACTOR 0x4 /* 0: no detail textures */
#define GR_COMBINE_FACTOR_LOD_FRACTION 0x5  /* the trilinear weight / 256 */
#define GR_COMBINE_FACTOR_ONE_MINUS_DETAIL_FACTOR 0xC
#define GR_COMBINE_FACTOR_ONE_MINUS_LOD_FRACTION 0xD

/* Set a unit's minification and magnification filters. */
void GR_CALL grTexFilterMode(GrChipID_t tmu, GrTextureFilterMode_t minfilter_mode,
                             GrTextureFilterMode_t magfilter_mode);
/* Set whether a unit's s and t coordinates wrap or clamp. */
void GR_CALL grTexClampMode(GrChipID_t tmu, GrTextureClampMode_t s_clamp_mode,
                            GrTextureClampMode_t t_clamp_mode);
/* Set how a unit chooses levels; lod_blend blends the two nearest (trilinear). */
void GR_CALL grTexMipMapMode(GrChipID_t tmu, GrMipMapMode_t mode, FxBool lod_blend);
/* Add bias (-8 to 7.75, in quarters) to a unit's level of detail. */
void GR_CALL grTexLodBiasValue(GrChipID_t tmu, float bias);
/* Copy one level of a texture whose largest level is large_lod into texture
 * memory, where grTexDownloadMipMap would put it. */
void GR_CALL grTexDownloadMipMapLevel(GrChipID_t tmu, FxU32 start_address, GrLOD_t this_lod,
                                      GrLOD_t large_lod, GrAspectRatio_t aspect_ratio,
                                      GrTextureFormat_t format, FxU32 even_odd_mask, void* data);
/* The same for rows first_row..last_row of the level; data holds the whole
 * level, as for grTexDownloadMipMapLevel. */
void GR_CALL grTexDownloadMipMapLevelPartial(GrChipID_t tmu, FxU32 start_address, GrLOD_t this_lod,
                                             GrLOD_t large_lod, GrAspectRatio_t aspect_ratio,
                                             GrTextureFormat_t format, FxU32 even_odd_mask,
                                             void* data, int first_row, int last_row);
/* Load a unit's palette (a GuTexPalette) or one of its NCC tables (a GuNccTable). */
void GR_CALL grTexDownloadTable(GrChipID_t tmu, GrTexTable_t type, void* data);
/* Choose the NCC table a unit's YIQ textures use. */
void GR_CALL grTexNCCTable(GrChipID_t tmu, GrNCCTable_t table);
/* Bytes of texture memory a texture of these levels takes (levels rounded to 8). */
FxU32 GR_CALL grTexCalcMemRequired(GrLOD_t small_lod, GrLOD_t large_lod, GrAspectRatio_t aspect,
                                   GrTextureFormat_t format);
/* Bytes the levels of info chosen by even_odd_mask take in texture memory. */
FxU32 GR_CALL grTexTextureMemRequired(FxU32 even_odd_mask, GrTexInfo* info);
/* The highest address of a unit at which the largest texture still fits. */
FxU32 GR_CALL grTexMaxAddress(GrChipID_t tmu);

#if defined(__GNUC__)
#pragma GCC visibility pop
#endif

/* The pixel pipeline beyond the demo's: depth buffer, alpha test, chroma
 * key, fog, clip window, culling, origin, lines, points and polygons, masks,
 * dither, gamma, queries and the error callback. */
typedef FxI32 GrDepthBufferMode_t; /* how the depth buffer is used */
typedef FxI32 GrCmpFnc_t;          /* comparison of a new value with a stored one */
typedef FxI32 GrChromakeyMode_t;   /* chroma key on or off */
typedef FxI32 GrFogMode_t;         /* fog source, or-ed with MULT2 or ADD2 */
typedef FxU8 GrFog_t;              /* one fog table entry, 0..255 */
typedef FxI32 GrCullMode_t;        /* which winding is culled */
typedef FxI32 GrDitherMode_t;      /* ordered dither of 16-bit colour */

#define GR_DEPTHBUFFER_DISABLE 0
#define GR_DEPTHBUFFER_ZBUFFER 1
#define GR_DEPTHBUFFER_WBUFFER 2
#define GR_DEPTHBUFFER_ZBUFFER_COMPARE_TO_BIAS 3
#define GR_DEPTHBUFFER_WBUFFER_COMPARE_TO_BIAS 4

#define GR_CMP_NEVER 0
#define GR_CMP_LESS 1
#define GR_CMP_EQUAL 2
#define GR_CMP_LEQUAL 3
#define GR_CMP_GREATER 4
#define GR_CMP_NOTEQUAL 5
#define GR_CMP_GEQUAL 6
#define GR_CMP_ALWAYS 7

#define GR_ZDEPTHVALUE_NEAREST 0xFFFF
#define GR_ZDEPTHVALUE_FARTHEST 0
#define GR_WDEPTHVALUE_NEAREST 0

#define GR_CHROMAKEY_DISABLE 0
#define GR_CHROMAKEY_ENABLE 1

#define GR_FOG_DISABLE 0
#define GR_FOG_WITH_ITERATED_ALPHA 1 /* the vertices' alpha is the fog amount */
#define GR_FOG_WITH_TABLE 2          /* the table, indexed by w */
#define GR_FOG_MULT2 0x100           /* only the (1 - k) * colour term */
#define GR_FOG_ADD2 0x200            /* only the k * fog colour term */
#define GR_FOG_TABLE_SIZE 64

#define GR_CULL_DISABLE 0
#define GR_CULL_NEGATIVE 1 /* culls triangles of negative signed area */
#define GR_CULL_POSITIVE 2

#define GR_DITHER_DISABLE 0
#define GR_DITHER_2x2 1
#define GR_DITHER_4x4 2

#if defined(__GNUC__)
#pragma GCC visibility push(default)
#endif

/* Set how the depth buffer is tested (needs an auxiliary buffer at open). */
void GR_CALL grDepthBufferMode(GrDepthBufferMode_t mode);
/* Set the depth test: a pixel passes when its depth `f` the stored one. */
void GR_CALL grDepthBufferFunction(GrCmpFnc_t f);
/* Set whether passing pixels write their depth. */
void GR_CALL grDepthMask(FxBool write);
/* Set the depth bias (or, in the compare-to-bias modes, the compared value). */
void GR_CALL grDepthBiasLevel(FxI16 bias);
/* Set the alpha test: a pixel passes when its alpha `f` the reference. */
void GR_CALL grAlphaTestFunction(GrCmpFnc_t f);
/* Set the alpha test's reference value. */
void GR_CALL grAlphaTestReferenceValue(GrAlpha_t ref);
/* Turn the chroma key on or off. */
void GR_CALL grChromakeyMode(GrChromakeyMode_t mode);
/* Set the chroma key, packed as the display's colour format (alpha ignored). */
void GR_CALL grChromakeyValue(GrColor_t key);
/* Set where the fog amount comes from, and how it is applied. */
void GR_CALL grFogMode(GrFogMode_t mode);
/* Set the fog colour, packed as the display's colour format. */
void GR_CALL grFogColorValue(GrColor_t color);
/* Set the fog table: the fog amount at each of 64 w values. */
void GR_CALL grFogTable(const GrFog_t table[GR_FOG_TABLE_SIZE]);
/* The w at which fog table entry i applies. */
float GR_CALL guFogTableIndexToW(int i);
/* Fill a fog table with 1 - e^(-density * w). */
void GR_CALL guFogGenerateExp(GrFog_t table[GR_FOG_TABLE_SIZE], float density);
/* Fill a fog table with 1 - e^(-(density * w)^2). */
void GR_CALL guFogGenerateExp2(GrFog_t table[GR_FOG_TABLE_SIZE], float density);
/* Fill a fog table rising linearly from w = near to w = far. */
void GR_CALL guFogGenerateLinear(GrFog_t table[GR_FOG_TABLE_SIZE], float near_w, float far_w);
/* Draw only pixels with minx <= x < maxx and miny <= y < maxy; clears too. */
void GR_CALL grClipWindow(FxU32 minx, FxU32 miny, FxU32 maxx, FxU32 maxy);
/* Set which winding of triangles is not drawn. */
void GR_CALL grCullMode(GrCullMode_t mode);
/* Set where y = 0 is: the top row, or the bottom one. */
void GR_CALL grSstOrigin(GrOriginLocation_t origin);
/* Draw the triangle abc. */
void GR_CALL grDrawTriangle(const GrVertex* a, const GrVertex* b, const GrVertex* c);
/* Draw the line from a to b, its end pixel left out. */
void GR_CALL grDrawLine(const GrVertex* a, const GrVertex* b);
/* Draw the pixel that holds p. */
void GR_CALL grDrawPoint(const GrVertex* p);
/* Draw the planar convex polygon ilist[0..n) of vlist, as a fan from ilist[0]. */
void GR_CALL grDrawPlanarPolygon(int n, const int ilist[], const GrVertex vlist[]);
/* Draw the convex polygon vlist[0..n), as a fan from vlist[0]. */
void GR_CALL grDrawPolygonVertexList(int n, const GrVertex vlist[]);
/* Draw the planar convex polygon vlist[0..n), as a fan from vlist[0]. */
void GR_CALL grDrawPlanarPolygonVertexList(int n, const GrVertex vlist[]);
/* Set which of colour and the alpha plane drawing and clears write. */
void GR_CALL grColorMask(FxBool rgb, FxBool alpha);
/* Set the ordered dither of 16-bit colour. */
void GR_CALL grDitherMode(GrDitherMode_t mode);
/* Show frames through the gamma g (0 < g <= 20); the buffers are untouched. */
void GR_CALL grGammaCorrectionValue(float g);
/* The screen's width in pixels: 640. */
FxU32 GR_CALL grSstScreenWidth(void);
/* The screen's height in pixels: 480. */
FxU32 GR_CALL grSstScreenHeight(void);
/* Swaps asked for and not yet shown. */
int GR_CALL grBufferNumPending(void);
/* Whether the board is still drawing what it was asked to. */
FxBool GR_CALL grSstIsBusy(void);
/* Return once everything asked for is drawn into the buffers. */
void GR_CALL grSstIdle(void);
/* The library's name and version, at most 79 characters and a null. */
void GR_CALL grLibGetVersion(char version[80]);
/* Have every refused call's reason passed to fn too (fatal false); null: none. */
void GR_CALL grErrorSetCallback(void (*fn)(const char* message, FxBool fatal));

#if defined(__GNUC__)
#pragma GCC visibility pop
#endif

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(sizeof(GrVertex) == 60, "GrVertex is 15 packed floats");
static_assert(sizeof(GrVertex[2]) == 120, "vertex arrays have a 60-byte stride");
static_assert(offsetof(GrVertex, oow) == 32, "oow follows a");
static_assert(offsetof(GrVertex, tmuvtx) == 36, "texture entries follow oow");
static_assert(sizeof(GuTexTable) == 1024, "the table is 1024 bytes");
static_assert(sizeof(Gu3dfHeader) == 24, "six 32-bit fields");
#else
_Static_assert(sizeof(GrVertex) == 60, "GrVertex is 15 packed floats");
_Static_assert(sizeof(GuTexTable) == 1024, "the table is 1024 bytes");
#endif

#endif /* GRAPHICS_GRLIB_H */
