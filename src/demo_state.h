// The interaction state: written by the keyboard control, read by the frame.
// The demo's names are its own and stay as it has them: its variables in
// capitalised words (Opacity, Key, Finished) or short lower-case ones (x, y),
// the library's in its own style (gr..., Gr...). The mixed casing is the
// program's, not a slip.
#pragma once

struct DemoState {
  float x;        // horizontal offset of the translucent triangle, pixels
  float y;        // vertical offset, pixels, positive down
  float Opacity;  // constant alpha of the translucent triangle, 0..255
  char Key;       // the last key read in the loop
  int Finished;   // set by Esc; ends the loop
};
