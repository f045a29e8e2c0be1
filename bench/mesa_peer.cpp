#include "mesa_peer.h"

#include <GL/gl.h>
#include <GL/osmesa.h>

#include <vector>

#include "scenes.h"

namespace bench {

struct MesaPeer::State {
  OSMesaContext context = nullptr;
  std::vector<uint8_t> pixels = std::vector<uint8_t>(size_t(kWidth) * kHeight * 4);
  GLuint texture = 0;
};

std::unique_ptr<MesaPeer> MesaPeer::Open(std::string* why) {
  auto state = std::make_unique<State>();
  state->context = OSMesaCreateContextExt(OSMESA_RGBA, 24, 0, 0, nullptr);
  if (state->context == nullptr) {
    *why = "OSMesa gave no context";
    return nullptr;
  }
  if (!OSMesaMakeCurrent(state->context, state->pixels.data(), GL_UNSIGNED_BYTE, kWidth, kHeight)) {
    OSMesaDestroyContext(state->context);
    *why = "OSMesa could not bind the buffer";
    return nullptr;
  }
  // Pixel (i, j) of the board is pixel (i, j) here: y down, centres at +0.5.
  glViewport(0, 0, kWidth, kHeight);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, kWidth, kHeight, 0, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glShadeModel(GL_SMOOTH);
  std::vector<uint8_t> rgba;
  for (uint32_t p : SceneTexture()) {
    rgba.insert(rgba.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p), uint8_t(p >> 24)});
  }
  glGenTextures(1, &state->texture);
  glBindTexture(GL_TEXTURE_2D, state->texture);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 256, 128, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
  glFinish();
  return std::unique_ptr<MesaPeer>(new MesaPeer(std::move(state)));
}

MesaPeer::MesaPeer(std::unique_ptr<State> state) : state_(std::move(state)) {}

MesaPeer::~MesaPeer() {
  glDeleteTextures(1, &state_->texture);
  OSMesaDestroyContext(state_->context);
}

std::string MesaPeer::Renderer() const {
  const GLubyte* name = glGetString(GL_RENDERER);
  return name ? reinterpret_cast<const char*>(name) : "unknown";
}

namespace {

// s and t in the board's units: 256 across the texture's width, 128 down.
void TexturedVertex(const Corner& c) {
  glTexCoord4f(c.s / 256 / c.w, c.t / 128 / c.w, 0, 1 / c.w);
  glVertex2f(c.x, c.y);
}

void ShadedVertex(const Corner& c, uint8_t alpha) {
  glColor4ub(uint8_t(c.r), uint8_t(c.g), uint8_t(c.b), alpha);
  glVertex2f(c.x, c.y);
}

}  // namespace

void MesaPeer::DemoFrame() {
  glClearColor(1, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT);
  glDisable(GL_BLEND);
  glEnable(GL_TEXTURE_2D);
  glBegin(GL_TRIANGLES);
  for (const Corner& c : kDemoTriangle) TexturedVertex(c);
  glEnd();
  glDisable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glBegin(GL_TRIANGLES);
  for (const Corner& c : kDemoTriangle) ShadedVertex(c, 128);
  glEnd();
  glFinish();
}

void MesaPeer::TexturedFill(float far_w) {
  Corner a[3], b[3];
  ScreenQuad(far_w, a, b);
  glDisable(GL_BLEND);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_ALWAYS);
  glEnable(GL_TEXTURE_2D);
  glBegin(GL_TRIANGLES);
  for (const Corner& c : a) TexturedVertex(c);
  for (const Corner& c : b) TexturedVertex(c);
  glEnd();
  glDisable(GL_TEXTURE_2D);
  glDisable(GL_DEPTH_TEST);
  glFinish();
}

void MesaPeer::GouraudBlendFill() {
  Corner a[3], b[3];
  ScreenQuad(1, a, b);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glBegin(GL_TRIANGLES);
  for (const Corner& c : a) ShadedVertex(c, 128);
  for (const Corner& c : b) ShadedVertex(c, 128);
  glEnd();
  glFinish();
}

}  // namespace bench
