#include "mesa_texture_scenes.h"

#include <GL/gl.h>
#include <GL/osmesa.h>

#include <vector>

namespace bench {

struct MesaTextureScene::State {
  TextureScene scene;
  OSMesaContext context = nullptr;
  std::vector<uint8_t> pixels = std::vector<uint8_t>(640 * 480 * 4);
  GLuint textures[3] = {};  // floor, bricks, light map
  void (*active_texture)(GLenum) = nullptr;
  void (*multi_tex_coord)(GLenum, GLfloat, GLfloat, GLfloat, GLfloat) = nullptr;
  int frame = 0;
};

namespace {

void UploadChain(GLuint name, const MipChain& chain, GLenum min_filter) {
  glBindTexture(GL_TEXTURE_2D, name);
  int side = chain.side;
  for (size_t level = 0; level < chain.levels.size(); level++, side /= 2) {
    std::vector<uint8_t> rgba;
    for (uint32_t p : chain.levels[level])
      rgba.insert(rgba.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p), uint8_t(p >> 24)});
    glTexImage2D(GL_TEXTURE_2D, GLint(level), GL_RGBA8, side, side, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 rgba.data());
  }
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GLint(min_filter));
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
}

#ifndef GL_TEXTURE0
#define GL_TEXTURE0 0x84C0
#define GL_TEXTURE1 0x84C1
#endif
#ifndef GL_CLAMP_TO_EDGE
#define GL_CLAMP_TO_EDGE 0x812F
#endif

}  // namespace

std::unique_ptr<MesaTextureScene> MesaTextureScene::Open(TextureScene scene, std::string* why) {
  auto state = std::make_unique<State>();
  state->scene = scene;
  state->context = OSMesaCreateContextExt(OSMESA_RGBA, 16, 0, 0, nullptr);
  if (state->context == nullptr) {
    *why = "OSMesa gave no context";
    return nullptr;
  }
  if (!OSMesaMakeCurrent(state->context, state->pixels.data(), GL_UNSIGNED_BYTE, 640, 480)) {
    OSMesaDestroyContext(state->context);
    *why = "OSMesa could not bind the buffer";
    return nullptr;
  }
  state->active_texture =
      reinterpret_cast<void (*)(GLenum)>(OSMesaGetProcAddress("glActiveTexture"));
  state->multi_tex_coord = reinterpret_cast<void (*)(GLenum, GLfloat, GLfloat, GLfloat, GLfloat)>(
      OSMesaGetProcAddress("glMultiTexCoord4f"));
  if (!state->active_texture || !state->multi_tex_coord) {
    OSMesaDestroyContext(state->context);
    *why = "no multitexturing";
    return nullptr;
  }
  // Pixel (i, j) of the board is pixel (i, j) here: y down, centres at +0.5.
  glViewport(0, 0, 640, 480);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, 640, 480, 0, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glGenTextures(3, state->textures);
  const GLenum min_filter =
      scene == TextureScene::kFloorNearest ? GL_LINEAR_MIPMAP_NEAREST : GL_LINEAR_MIPMAP_LINEAR;
  UploadChain(state->textures[0], FloorTexture(), min_filter);
  UploadChain(state->textures[1], BrickTexture(), min_filter);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
  glEnable(GL_TEXTURE_2D);
  if (scene == TextureScene::kLightMappedWall) {
    state->active_texture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, state->textures[2]);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE8, 64, 32, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE,
                 LightMap().data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glEnable(GL_TEXTURE_2D);
    state->active_texture(GL_TEXTURE0);
  }
  glFinish();
  return std::unique_ptr<MesaTextureScene>(new MesaTextureScene(std::move(state)));
}

MesaTextureScene::MesaTextureScene(std::unique_ptr<State> state) : state_(std::move(state)) {}

MesaTextureScene::~MesaTextureScene() {
  glDeleteTextures(3, state_->textures);
  OSMesaDestroyContext(state_->context);
}

void MesaTextureScene::Run() {
  State& s = *state_;
  if (OSMesaGetCurrentContext() != s.context)
    OSMesaMakeCurrent(s.context, s.pixels.data(), GL_UNSIGNED_BYTE, 640, 480);
  if (s.scene == TextureScene::kLightMappedWall)
    glClearColor(0x10 / 255.0f, 0x10 / 255.0f, 0x18 / 255.0f, 1);
  else
    glClearColor(0x60 / 255.0f, 0x80 / 255.0f, 0xB0 / 255.0f, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  const bool light = s.scene == TextureScene::kLightMappedWall;
  for (const TexturePolygon& p : TextureSceneFrame(s.scene, s.frame++)) {
    glBindTexture(GL_TEXTURE_2D, s.textures[p.texture]);
    glBegin(GL_TRIANGLE_FAN);
    for (const GrVertex& v : p.v) {
      // The board's units: 256 across the texture (the light map 256 by 128).
      glTexCoord4f(v.tmuvtx[0].sow / 256, v.tmuvtx[0].tow / 256, 0, v.tmuvtx[0].oow);
      if (light)
        s.multi_tex_coord(GL_TEXTURE1, v.tmuvtx[1].sow / 256, v.tmuvtx[1].tow / 128, 0,
                          v.tmuvtx[1].oow);
      glVertex2f(v.x, v.y);
    }
    glEnd();
  }
  glFinish();
}

}  // namespace bench
