#include "mesa_pixel_scenes.h"

#include <GL/gl.h>
#include <GL/osmesa.h>

#include <vector>

namespace bench {

#ifndef GL_FOG_COORD_SRC
#define GL_FOG_COORD_SRC 0x8450
#define GL_FOG_COORD 0x8451
#endif

struct MesaPixelScene::State {
  PixelScene scene;
  OSMesaContext context = nullptr;
  std::vector<uint8_t> pixels = std::vector<uint8_t>(640 * 480 * 4);
  GLuint textures[3] = {};
  void (*fog_coord)(GLfloat) = nullptr;
  int frame = 0;
};

namespace {

void Upload(GLuint name, const std::vector<uint32_t>& argb, int size) {
  std::vector<uint8_t> rgba;
  for (uint32_t p : argb)
    rgba.insert(rgba.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p), uint8_t(p >> 24)});
  glBindTexture(GL_TEXTURE_2D, name);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, size, size, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
}

void Color(const GrVertex& v) {
  glColor4ub(GLubyte(v.r), GLubyte(v.g), GLubyte(v.b), GLubyte(v.a));
}

void Quad(float x, float y, float w, float h, float s_end, float t_end) {
  glBegin(GL_QUADS);
  glTexCoord2f(0, 0), glVertex2f(x, y);
  glTexCoord2f(s_end, 0), glVertex2f(x + w, y);
  glTexCoord2f(s_end, t_end), glVertex2f(x + w, y + h);
  glTexCoord2f(0, t_end), glVertex2f(x, y + h);
  glEnd();
}

}  // namespace

std::unique_ptr<MesaPixelScene> MesaPixelScene::Open(PixelScene scene, std::string* why) {
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
  state->fog_coord = reinterpret_cast<void (*)(GLfloat)>(OSMesaGetProcAddress("glFogCoordf"));
  glViewport(0, 0, 640, 480);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, 640, 480, 0, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glShadeModel(GL_SMOOTH);
  if (scene == PixelScene::kFoggedObject) {
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glEnable(GL_FOG);
    glFogi(GL_FOG_MODE, GL_EXP);
    glFogf(GL_FOG_DENSITY, kFogDensity);
    const GLfloat fog[4] = {0x4A / 255.0f, 0x5A / 255.0f, 0x70 / 255.0f, 1};
    glFogfv(GL_FOG_COLOR, fog);
    if (state->fog_coord) glFogi(GL_FOG_COORD_SRC, GL_FOG_COORD);
  } else if (scene == PixelScene::kSprites) {
    glGenTextures(3, state->textures);
    Upload(state->textures[0], Sprites().tiles, 64);
    Upload(state->textures[1], Sprites().ball, 32);
    Upload(state->textures[2], Sprites().ship, 32);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glEnable(GL_TEXTURE_2D);
    glAlphaFunc(GL_GREATER, 0.5f);
  }
  glFinish();
  return std::unique_ptr<MesaPixelScene>(new MesaPixelScene(std::move(state)));
}

MesaPixelScene::MesaPixelScene(std::unique_ptr<State> state) : state_(std::move(state)) {}

MesaPixelScene::~MesaPixelScene() {
  if (state_->scene == PixelScene::kSprites) glDeleteTextures(3, state_->textures);
  OSMesaDestroyContext(state_->context);
}

void MesaPixelScene::Run() {
  State& s = *state_;
  if (OSMesaGetCurrentContext() != s.context)
    OSMesaMakeCurrent(s.context, s.pixels.data(), GL_UNSIGNED_BYTE, 640, 480);
  const SceneFrame& f = CachedSceneFrame(s.scene, s.frame++);
  switch (s.scene) {
    case PixelScene::kFoggedObject:
      glClearColor(0x4A / 255.0f, 0x5A / 255.0f, 0x70 / 255.0f, 0);
      glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
      glBegin(GL_TRIANGLES);
      for (const GrVertex& v : f.triangles) {
        Color(v);
        if (s.fog_coord) s.fog_coord(1 / v.oow);
        glVertex3f(v.x, v.y, 2 * v.ooz / 65535 - 1);  // nearer is smaller depth
      }
      glEnd();
      break;
    case PixelScene::kSprites:
      glClear(GL_COLOR_BUFFER_BIT);
      glDisable(GL_SCISSOR_TEST);
      glDisable(GL_ALPHA_TEST);
      glBindTexture(GL_TEXTURE_2D, s.textures[0]);
      Quad(0, 0, 640, 480, 6, 4.5f);
      glEnable(GL_SCISSOR_TEST);
      glScissor(kSpriteClip[0], 480 - kSpriteClip[3], kSpriteClip[2] - kSpriteClip[0],
                kSpriteClip[3] - kSpriteClip[1]);
      glEnable(GL_ALPHA_TEST);
      for (const SceneFrame::Sprite& sprite : f.sprites) {
        glBindTexture(GL_TEXTURE_2D, s.textures[sprite.ball ? 1 : 2]);
        Quad(sprite.x, sprite.y, sprite.size, sprite.size, 1, 1);
      }
      break;
    case PixelScene::kWireframe:
      glClearColor(8 / 255.0f, 8 / 255.0f, 16 / 255.0f, 0);
      glClear(GL_COLOR_BUFFER_BIT);
      glBegin(GL_LINES);
      for (const GrVertex& v : f.lines) {
        Color(v);
        glVertex2f(v.x, v.y);
      }
      glEnd();
      glBegin(GL_POINTS);
      for (const GrVertex& v : f.points) {
        Color(v);
        glVertex2f(v.x, v.y);
      }
      glEnd();
      break;
  }
  glFinish();
}

}  // namespace bench
