// A frame whose commands repeat the last frame's is not drawn again, and only
// the bands whose commands changed are: the buffer already holds their
// pixels. These tests poke the buffer between frames to see which rows were
// drawn, and compare every frame with one drawn whole.
#include <memory>
#include <vector>

#include "api/frame_drawing.h"
#include "board/pipeline_support.h"
#include "frame/frame_recorder.h"

namespace softboard {
namespace {

constexpr uint32_t kPoke = 0x12345678u;

// One buffer, drawn and shown in turn, as when nothing reads a frame later.
class FrameBoard {
 public:
  FrameBoard() {
    InitFrameBuffers(board_.state.frame, 2, 640, 480, 1, true);
    board_.state.recorder = std::make_unique<FrameRecorder>(2);
    board_.UseIterated();
    board_.SetBlend(GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ONE, GR_BLEND_ZERO);
  }

  // A clear (unless `clear` is false) and a Gouraud triangle from row 100 + dy
  // to row 300 + dy.
  FrameDamage Frame(float dy, bool clear = true, float corner_x = 100) {
    FrameBuffers& frame = board_.state.frame;
    if (clear) board_.state.recorder->RecordClear(BackDestination(frame), 0xFF203040u);
    DrawTriangle(board_.state, Vertex(corner_x, 100 + dy, 255, 0, 0, 200),
                 Vertex(500, 120 + dy, 0, 255, 0, 200), Vertex(300, 300 + dy, 0, 0, 255, 200));
    return board_.state.recorder->FlushFrame();
  }

  // The same frame drawn whole on a board of its own.
  static std::vector<uint32_t> Whole(float dy) {
    FrameBoard other;
    other.Frame(dy);
    return other.Pixels();
  }

  std::vector<uint32_t> Pixels() {
    const uint32_t* p = BackRows(board_.state.frame).Argb();
    return {p, p + kScreenPixels};
  }
  uint32_t& At(int x, int y) { return board_.At(x, y); }

  TestBoard board_;
};

class Damage : public ::testing::Test, public FrameBoard {};

bool Damaged(const FrameDamage& damage, int row) {
  if (damage.all) return true;
  for (const auto& [first, last] : damage.rows) {
    if (row >= first && row < last) return true;
  }
  return false;
}

TEST_F(Damage, AFrameLikeTheLastIsNeitherDrawnNorShownAgain) {
  EXPECT_TRUE(Frame(0).all) << "nothing to compare the first frame with";
  At(200, 200) = kPoke;
  const FrameDamage again = Frame(0);
  EXPECT_TRUE(again.None());
  EXPECT_EQ(At(200, 200), kPoke) << "the band was drawn again";
}

TEST_F(Damage, AMovedTriangleRedrawsTheBandsItLeftAndEntersOnly) {
  Frame(0);
  At(10, 20) = kPoke;    // far above both places
  At(10, 420) = kPoke;   // below both
  At(300, 110) = kPoke;  // where the triangle was, and is no more
  const FrameDamage moved = Frame(60);
  EXPECT_FALSE(moved.all);
  EXPECT_FALSE(Damaged(moved, 20));
  EXPECT_FALSE(Damaged(moved, 420));
  EXPECT_TRUE(Damaged(moved, 110));
  EXPECT_TRUE(Damaged(moved, 350)) << "where it is now";
  EXPECT_EQ(At(10, 20), kPoke);
  EXPECT_EQ(At(10, 420), kPoke);
  At(10, 20) = At(10, 420) = Whole(60)[20 * kScreenWidth + 10];  // undo the pokes
  EXPECT_EQ(Pixels(), Whole(60)) << "what was drawn again is the frame";
}

// What is compared is what drawing reads, the triangle's setup: corners that
// snap alike (+0 and -0, or a hundredth of a pixel apart) draw the same
// pixels and are not drawn again; a corner that snaps elsewhere is.
TEST_F(Damage, TrianglesAreComparedAsTheyAreSetUp) {
  Frame(0, true, 0.0f);
  At(200, 200) = kPoke;
  EXPECT_TRUE(Frame(0, true, -0.0f).None());
  EXPECT_TRUE(Frame(0, true, 0.01f).None());
  EXPECT_EQ(At(200, 200), kPoke);
  EXPECT_FALSE(Frame(0, true, 0.04f).None()) << "0.04 snaps to the next 1/16 pixel";
  EXPECT_NE(At(200, 200), kPoke);
}

// Without a clear first, a frame draws over what was there: drawn each time.
TEST_F(Damage, FramesWithoutAClearAreAlwaysDrawn) {
  board_.SetBlend(GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ZERO);
  board_.Fill(0);
  Frame(0, false);
  const uint32_t once = At(300, 200);
  const FrameDamage again = Frame(0, false);
  EXPECT_TRUE(Damaged(again, 200));
  EXPECT_NE(At(300, 200), once) << "added twice";
}

// A texture download, new buffers or a frame drawn in parts flush what is
// recorded and end the comparison.
TEST_F(Damage, AFlushBetweenFramesMakesTheNextOneWhole) {
  Frame(0);
  board_.state.recorder->Flush();
  At(200, 200) = kPoke;
  EXPECT_TRUE(Frame(0).all);
  EXPECT_EQ(Pixels(), Whole(0));
}

// A mesh's triangles share one copy of their state, kept from frame to
// frame: a new state must not be written over the copy the last frame's
// triangles (compared with) still point to. Only the constant colour differs
// here, so each state takes the same loop.
TEST_F(Damage, AMeshDrawnAgainInAnotherStateIsDrawnAgain) {
  const auto mesh = [](FrameBoard& b, Rgba8 constant) {
    BoardState& state = b.board_.state;
    state.render.color = {GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO,
                          GR_COMBINE_LOCAL_CONSTANT, GR_COMBINE_OTHER_ITERATED, false};
    state.render.constant = constant;
    state.recorder->RecordClear(BackDestination(state.frame), 0xFF203040u);
    // The first prepares the state; the rest, in bands of their own, share it.
    DrawTriangle(state, Vertex(10, 10), Vertex(40, 10), Vertex(10, 30));
    for (int k = 0; k < 4; k++) {
      const float x = 100 + 100 * float(k);
      DrawTriangle(state, Vertex(x, 200), Vertex(x + 90, 200), Vertex(x, 400));
    }
    return state.recorder->FlushFrame();
  };
  const auto whole = [&](Rgba8 constant) {
    FrameBoard other;
    mesh(other, constant);
    return other.Pixels();
  };
  const Rgba8 first{200, 10, 10, 255}, second{10, 200, 10, 255};
  for (int frame = 0; frame < 3; frame++) mesh(*this, first);
  for (const Rgba8 constant : {second, first, second}) {
    EXPECT_TRUE(Damaged(mesh(*this, constant), 300)) << int(constant.r);
    EXPECT_EQ(Pixels(), whole(constant)) << int(constant.r);
    EXPECT_TRUE(mesh(*this, constant).None()) << "the same state again";
  }
}

TEST(DamageWithTwoBuffers, EveryFrameIsDrawnWholeIntoItsOwnBuffer) {
  TestBoard board;
  InitFrameBuffers(board.state.frame, 2, 640, 480, 1, false);
  board.state.recorder = std::make_unique<FrameRecorder>(1);
  FrameBuffers& frame = board.state.frame;
  for (int i = 0; i < 3; i++) {
    board.state.recorder->RecordClear(BackDestination(frame), 0xFF000000u | uint32_t(i));
    board.state.recorder->RecordClear(BackDestination(frame), 0xFF0000FFu);
    const FrameDamage damage = board.state.recorder->FlushFrame();
    EXPECT_TRUE(Damaged(damage, 0) && Damaged(damage, 479)) << "frame " << i;
    EXPECT_EQ(BackRows(frame).Argb()[640 * 240], 0xFF0000FFu);
    RotateBuffers(frame);
  }
}

}  // namespace
}  // namespace softboard
