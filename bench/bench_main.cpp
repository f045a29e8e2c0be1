// The board's figures on every SIMD target the CPU runs, then the same scenes
// side by side with Mesa's software renderers (where Mesa's off-screen GL is
// installed): llvmpipe on one thread in this process, softpipe in a child.
#include <benchmark/benchmark.h>
#include <hwy/targets.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "board_scenes.h"
#include "pixel/fused_loops.h"
#include "pixel_scenes.h"
#include "scenes.h"
#include "texture_scenes.h"
#if SOFTBOARD_HAVE_OSMESA
#include "mesa_peer.h"
#include "mesa_pixel_scenes.h"
#include "mesa_texture_scenes.h"
#endif

namespace {

using bench::BoardFill;

constexpr double kScreenPixels = double(bench::kWidth) * bench::kHeight;

// Runs `body` with the fused loops of `target` only.
void OnTarget(int64_t target, benchmark::State& state, const std::function<void()>& body) {
  hwy::SetSupportedTargetsForTest(target);
  for (auto _ : state) body();
  hwy::SetSupportedTargetsForTest(0);
}

void RegisterBoard() {
  for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
    const std::string name = hwy::TargetName(target);
    benchmark::RegisterBenchmark(("BM_DemoFrame/" + name).c_str(), [target](benchmark::State& s) {
      bench::BoardDemoFrame frame;
      if (!frame.ok()) return s.SkipWithError("no board");
      OnTarget(target, s, [&] { frame.Run(); });
    })->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("BM_DemoFrameStill/" + name).c_str(), [target](
                                                                            benchmark::State& s) {
      bench::BoardDemoFrame frame;
      if (!frame.ok()) return s.SkipWithError("no board");
      OnTarget(target, s, [&] { frame.Run(true); });
    })->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("BM_DemoFrame16/" + name).c_str(), [target](benchmark::State& s) {
      bench::BoardDemoFrame frame("1", "1", "1", "16");
      if (!frame.ok()) return s.SkipWithError("no board");
      OnTarget(target, s, [&] { frame.Run(); });
    })->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("BM_FillGouraudBlend/" + name).c_str(), [target](
                                                                              benchmark::State& s) {
      BoardFill fill(BoardFill::kGouraudBlend, 1);
      OnTarget(target, s, [&] { fill.Run(); });
      s.SetItemsProcessed(int64_t(s.iterations() * kScreenPixels));
    })->Unit(benchmark::kMicrosecond);
    for (int w : {1, 4}) {
      benchmark::RegisterBenchmark(
          ("BM_FillTexturedBilinear/" + std::to_string(w) + "/" + name).c_str(),
          [target, w](benchmark::State& s) {
            BoardFill fill(BoardFill::kTexturedBilinear, float(w));
            OnTarget(target, s, [&] { fill.Run(); });
            s.SetItemsProcessed(int64_t(s.iterations() * kScreenPixels));
          })
          ->Unit(benchmark::kMicrosecond);
    }
  }
}

// The examples' scenes, a frame each run, on every target.
void RegisterPixelScenes() {
  constexpr bench::PixelScene kScenes[] = {
      bench::PixelScene::kFoggedObject, bench::PixelScene::kSprites, bench::PixelScene::kWireframe};
  const char* names[] = {"FoggedObject", "Sprites", "Wireframe"};
  for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
    for (int k = 0; k < 3; k++) {
      const bench::PixelScene scene = kScenes[k];
      benchmark::RegisterBenchmark(
          ("BM_Scene" + std::string(names[k]) + "/" + hwy::TargetName(target)).c_str(),
          [target, scene](benchmark::State& s) {
            bench::BoardPixelScene board(scene);
            if (!board.ok()) return s.SkipWithError("no board");
            OnTarget(target, s, [&] { board.Run(); });
          })
          ->Unit(benchmark::kMicrosecond);
    }
  }
}

// The texture units' scenes, a frame each run, on every target.
void RegisterTextureScenes() {
  constexpr bench::TextureScene kScenes[] = {bench::TextureScene::kFloorTrilinear,
                                             bench::TextureScene::kFloorNearest,
                                             bench::TextureScene::kLightMappedWall};
  const char* names[] = {"FloorTrilinear", "FloorNearest", "LightMappedWall"};
  for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
    for (int k = 0; k < 3; k++) {
      const bench::TextureScene scene = kScenes[k];
      benchmark::RegisterBenchmark(
          ("BM_Scene" + std::string(names[k]) + "/" + hwy::TargetName(target)).c_str(),
          [target, scene](benchmark::State& s) {
            bench::BoardTextureScene board(scene);
            if (!board.ok()) return s.SkipWithError("no board");
            OnTarget(target, s, [&] { board.Run(); });
          })
          ->Unit(benchmark::kMicrosecond);
    }
  }
}

// The demo's frame at the display sizes the board renders at, on one thread
// and on two, with the best target.
void RegisterScaled() {
  struct Case {
    const char* scale;
    const char* ssaa;
    const char* color;
  };
  for (const Case c :
       {Case{"1", "1", "32"}, Case{"1", "1", "16"}, Case{"2.25", "1", "32"}, Case{"4", "1", "32"},
        Case{"4", "1", "16"}, Case{"6", "1", "32"}, Case{"2.25", "2", "32"}}) {
    for (const char* threads : {"1", "2"}) {
      const std::string name = std::string("BM_DemoFrameScaled/scale:") + c.scale +
                               "/ssaa:" + c.ssaa + "/color:" + c.color + "/threads:" + threads;
      benchmark::RegisterBenchmark(name.c_str(),
                                   [c, threads](benchmark::State& s) {
                                     bench::BoardDemoFrame frame(c.scale, threads, c.ssaa, c.color);
                                     if (!frame.ok()) return s.SkipWithError("no board");
                                     for (auto _ : s) frame.Run();
                                   })
          ->Unit(benchmark::kMicrosecond)
          ->UseRealTime();
    }
  }
}

#if SOFTBOARD_HAVE_OSMESA

// Runs `run` in batches of at least 50 ms: the batch's size and its timer.
struct Batches {
  explicit Batches(const std::function<void()>& run) : run(run) {
    run();
    while (Time() < 0.05 && n < (1 << 24)) n *= 2;
  }
  double Time() const {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    for (int i = 0; i < n; i++) run();
    return std::chrono::duration<double>(Clock::now() - start).count();
  }
  const std::function<void()>& run;
  int n = 1;
};

// Seconds a run takes: the best of five batches of about 50 ms each, so a
// busy moment on a shared machine counts as little as possible.
double SecondsPerRun(const std::function<void()>& run) {
  const Batches batches(run);
  double best = 1e30;
  for (int batch = 0; batch < 5; batch++) best = std::min(best, batches.Time() / batches.n);
  return best;
}

// Two runs' seconds each, their batches taken in turn: these shared machines
// change pace from one minute to the next, and a ratio of two figures taken
// a minute apart would be as much the machine's as the code's.
std::pair<double, double> SecondsPerRunInTurn(const std::function<void()>& a,
                                              const std::function<void()>& b) {
  const Batches first(a), second(b);
  double best_a = 1e30, best_b = 1e30;
  for (int batch = 0; batch < 5; batch++) {
    best_a = std::min(best_a, first.Time() / first.n);
    best_b = std::min(best_b, second.Time() / second.n);
  }
  return {best_a, best_b};
}

struct Figures {
  double frame = 0, textured = 0, textured_perspective = 0, gouraud = 0;  // seconds a run
};

Figures MeasureMesa(bench::MesaPeer& peer) {
  return {SecondsPerRun([&] { peer.DemoFrame(); }), SecondsPerRun([&] { peer.TexturedFill(1); }),
          SecondsPerRun([&] { peer.TexturedFill(4); }),
          SecondsPerRun([&] { peer.GouraudBlendFill(); })};
}

Figures MeasureBoard() {
  Figures f;
  {
    bench::BoardDemoFrame frame;
    f.frame = SecondsPerRun([&] { frame.Run(); });
  }
  BoardFill textured(BoardFill::kTexturedBilinear, 1), perspective(BoardFill::kTexturedBilinear, 4);
  BoardFill gouraud(BoardFill::kGouraudBlend, 1);
  f.textured = SecondsPerRun([&] { textured.Run(); });
  f.textured_perspective = SecondsPerRun([&] { perspective.Run(); });
  f.gouraud = SecondsPerRun([&] { gouraud.Run(); });
  return f;
}

// Softpipe in a child process of its own (the Gallium driver is chosen once a
// process): the child writes its figures to a pipe.
bool MeasureSoftpipe(Figures* out) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], 3);
    setenv("GALLIUM_DRIVER", "softpipe", 1);
    execl("/proc/self/exe", "softboard_bench", "--peer-child", nullptr);
    _exit(127);
  }
  close(fds[1]);
  Figures f;
  const bool ok = pid > 0 && read(fds[0], &f, sizeof f) == ssize_t(sizeof f);
  close(fds[0]);
  if (pid > 0) waitpid(pid, nullptr, 0);
  if (ok) *out = f;
  return ok;
}

int PeerChild() {
  std::string why;
  auto peer = bench::MesaPeer::Open(&why);
  if (!peer) return 1;
  const Figures f = MeasureMesa(*peer);
  return write(3, &f, sizeof f) == ssize_t(sizeof f) ? 0 : 1;
}

void PrintRow(const char* scene, double board, double llvmpipe, double softpipe, bool fill) {
  const auto figure = [fill](double seconds) {
    char text[32];
    if (seconds <= 0) return std::string("-");
    if (fill) {
      std::snprintf(text, sizeof text, "%.0f Mpx/s", kScreenPixels / seconds / 1e6);
    } else {
      std::snprintf(text, sizeof text, "%.1f us", seconds * 1e6);
    }
    return std::string(text);
  };
  std::printf("%-32s %14s %14s %14s %9.1fx\n", scene, figure(board).c_str(),
              figure(llvmpipe).c_str(), figure(softpipe).c_str(), llvmpipe / board);
}

// A scene drawn by llvmpipe and by the board, their batches in turn: a row
// of the table.
template <class MesaScene, class BoardScene, class Scene>
void CompareScene(Scene scene) {
  std::string why;
  double llvmpipe = 0, ours = 0;
  auto mesa_scene = MesaScene::Open(scene, &why);
  BoardScene board_scene(scene);
  if (mesa_scene && board_scene.ok()) {
    std::tie(llvmpipe, ours) =
        SecondsPerRunInTurn([&] { mesa_scene->Run(); }, [&] { board_scene.Run(); });
  } else if (board_scene.ok()) {
    ours = SecondsPerRun([&] { board_scene.Run(); });
  }
  PrintRow(bench::SceneName(scene), ours, llvmpipe, 0, false);
}

void ComparePeers() {
  std::string why;
  auto peer = bench::MesaPeer::Open(&why);
  if (!peer) {
    std::printf("\nMesa peer: %s; no side-by-side figures.\n", why.c_str());
    return;
  }
  const std::string renderer = peer->Renderer();
  const Figures mesa = MeasureMesa(*peer);
  peer.reset();
  const Figures board = MeasureBoard();
  Figures soft;
  const bool have_soft = MeasureSoftpipe(&soft);
  std::printf(
      "\nSide by side in this run, one core each (best of 5 batches; a scene's batches "
      "alternate with llvmpipe's):\n");
  std::printf("peer: %s, LP_NUM_THREADS=%s; board: %s\n", renderer.c_str(),
              std::getenv("LP_NUM_THREADS"), softboard::FusedTargetName());
  std::printf("%-32s %14s %14s %14s %10s\n", "scene", "board", "llvmpipe", "softpipe",
              "vs llvmpipe");
  const auto sp = [&](double v) { return have_soft ? v : 0.0; };
  PrintRow("demo frame", board.frame, mesa.frame, sp(soft.frame), false);
  PrintRow("bilinear textured fill", board.textured, mesa.textured, sp(soft.textured), true);
  PrintRow("  with perspective (w 1..4)", board.textured_perspective, mesa.textured_perspective,
           sp(soft.textured_perspective), true);
  PrintRow("Gouraud fill blended at 128", board.gouraud, mesa.gouraud, sp(soft.gouraud), true);
  // The examples' scenes, each frame different from the last (llvmpipe only),
  // and the texture units' scenes: mipmapped (GL_LINEAR_MIPMAP_LINEAR), two units.
  for (bench::PixelScene scene : {bench::PixelScene::kFoggedObject, bench::PixelScene::kSprites,
                                  bench::PixelScene::kWireframe})
    CompareScene<bench::MesaPixelScene, bench::BoardPixelScene>(scene);
  for (bench::TextureScene scene :
       {bench::TextureScene::kFloorTrilinear, bench::TextureScene::kFloorNearest,
        bench::TextureScene::kLightMappedWall})
    CompareScene<bench::MesaTextureScene, bench::BoardTextureScene>(scene);
}

#else

void ComparePeers() {
  std::printf(
      "\nMesa's off-screen GL (libosmesa6-dev) was not found at build time; "
      "no side-by-side figures.\n");
}

#endif

}  // namespace

int main(int argc, char** argv) {
  // The peer renders on one thread, as the board does.
  setenv("LP_NUM_THREADS", "0", 1);
#if SOFTBOARD_HAVE_OSMESA
  if (argc == 2 && std::strcmp(argv[1], "--peer-child") == 0) return PeerChild();
#endif
  bool peers = true;
  std::vector<char*> args;
  for (int i = 0; i < argc; i++) {
    if (std::strcmp(argv[i], "--no-peer") == 0) {
      peers = false;
    } else {
      args.push_back(argv[i]);
    }
  }
  int count = int(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  RegisterBoard();
  RegisterPixelScenes();
  RegisterTextureScenes();
  RegisterScaled();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (peers) ComparePeers();
  return 0;
}
