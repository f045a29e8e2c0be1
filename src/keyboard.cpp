#include "conio.h"
#include "demo.h"

void PollKeyboard(DemoState* State) {
  if (_kbhit() == 0) return;
  State->Key = (char)_getch();
  ApplyKey(State);
}

// Seven independent tests; none stops the others.
void ApplyKey(DemoState* State) {
  if (State->Key == 'g') State->y -= 2.0f;
  if (State->Key == 'b') State->y += 2.0f;
  if (State->Key == 'f') State->x -= 2.0f;
  if (State->Key == 'h') State->x += 2.0f;
  if (State->Key == 27) State->Finished = 1;
  if (State->Opacity < 255.0f && State->Key == 'o') State->Opacity += 1.0f;
  if (State->Opacity > 0.0f && State->Key == 'p') State->Opacity -= 1.0f;
}
