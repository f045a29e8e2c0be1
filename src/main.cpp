#include <stdio.h>
#include <stdlib.h>

#include "conio.h"
#include "demo.h"
#include "grlib.h"

// Each text is flushed at once: the prompt has no line end and must be seen
// while the program waits for the key.
static void Say(const char* Text) {
  fputs(Text, stdout);
  fflush(stdout);
}

int main() {
  GrHwConfiguration HwConfig;
  DemoState State;

  grLibInit();
  if (!grSstQueryHardware(&HwConfig)) {
    Say("Error! No 3D hardware!");
    exit(1);
  }
  grSstSelect(0);

  Say("This demo demonstrates the\n");
  Say("translucency/texture/gouraud shading capabilities\n");
  Say("of your 3D card, to move the transparent triangle\n");
  Say("use the f,g,h,b keys, to change the opacity of the\n");
  Say("translucent triangle use the o,p keys,\n");
  Say("to quit press esc.\n");
  Say("Press any key to continue");
  _getch();

  if (!grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_RGBA,
                    GR_ORIGIN_UPPER_LEFT, 2, 1)) {
    Say("Error! Couldn't set 3D videomode, you need a 3D accelerator board to run "
        "this demo!");
    exit(1);
  }

  LoadTexture();

  State.Finished = 0;
  State.x = 0.0f;
  State.y = 0.0f;
  State.Key = 0;
  State.Opacity = 128.0f;

  while (!State.Finished) {
    DrawFrame(&State);
    PollKeyboard(&State);
  }

  grLibShutdown();
  return 0;
}
