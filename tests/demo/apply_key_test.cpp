#include <gtest/gtest.h>

#include "demo.h"

namespace {

DemoState Start() {
  return DemoState{0.0f, 0.0f, 128.0f, 0, 0};
}

void Press(DemoState& state, char key, int times = 1) {
  for (int i = 0; i < times; i++) {
    state.Key = key;
    ApplyKey(&state);
  }
}

TEST(ApplyKey, MovesTwoPixelsAKey) {
  DemoState state = Start();
  Press(state, 'h', 3);
  Press(state, 'f');
  Press(state, 'b', 2);
  Press(state, 'g', 5);
  EXPECT_FLOAT_EQ(state.x, 4.0f);
  EXPECT_FLOAT_EQ(state.y, -6.0f);
  EXPECT_EQ(state.Finished, 0);
}

TEST(ApplyKey, OffsetsAreUnbounded) {
  DemoState state = Start();
  Press(state, 'h', 1000);
  Press(state, 'g', 1000);
  EXPECT_FLOAT_EQ(state.x, 2000.0f);
  EXPECT_FLOAT_EQ(state.y, -2000.0f);
}

TEST(ApplyKey, OpacityStopsAtItsBounds) {
  DemoState state = Start();
  Press(state, 'o', 127);
  EXPECT_FLOAT_EQ(state.Opacity, 255.0f);
  Press(state, 'o', 10);
  EXPECT_FLOAT_EQ(state.Opacity, 255.0f);

  state = Start();
  Press(state, 'p', 128);
  EXPECT_FLOAT_EQ(state.Opacity, 0.0f);
  Press(state, 'p', 10);
  EXPECT_FLOAT_EQ(state.Opacity, 0.0f);
  Press(state, 'o');
  EXPECT_FLOAT_EQ(state.Opacity, 1.0f);
}

TEST(ApplyKey, UpperCaseAndOtherCodesChangeNothingButKey) {
  for (char key : {'G', 'B', 'F', 'H', 'O', 'P', 'E', '\0', '\x48', '\x50', '\xE0', ' '}) {
    DemoState state = Start();
    Press(state, key);
    EXPECT_FLOAT_EQ(state.x, 0.0f) << int(key);
    EXPECT_FLOAT_EQ(state.y, 0.0f) << int(key);
    EXPECT_FLOAT_EQ(state.Opacity, 128.0f) << int(key);
    EXPECT_EQ(state.Finished, 0) << int(key);
    EXPECT_EQ(state.Key, key);
  }
}

TEST(ApplyKey, EscFinishesAndStaysFinished) {
  DemoState state = Start();
  Press(state, 27);
  EXPECT_EQ(state.Finished, 1);
  Press(state, 'h');
  EXPECT_EQ(state.Finished, 1);
  EXPECT_FLOAT_EQ(state.x, 2.0f);
}

}  // namespace
