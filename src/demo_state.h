// The interaction state: written by the keyboard control, read by the frame.
#pragma once

struct DemoState {
  float x;        // horizontal offset of the translucent triangle, pixels
  float y;        // vertical offset, pixels, positive down
  float Opacity;  // constant alpha of the translucent triangle, 0..255
  char Key;       // the last key read in the loop
  int Finished;   // set by Esc; ends the loop
};
