// What the terminal can show, told by its environment and by its answers to
// a few questions.
#pragma once

#include <string>
#include <string_view>

#include "output/display.h"

namespace softboard {

// The colours character cells can take.
enum class CellColors { kTruecolor, k256, k16 };

// What the environment (TERM and the variables terminals set) says.
struct TerminalEnvironment {
  bool kitty = false, iterm = false, sixel = false;
  bool text_only = false;  // the Linux console: no graphics, nothing to ask
  CellColors colors = CellColors::k256;
};

// `envp`: NAME=value strings, null-terminated, as in `environ`.
TerminalEnvironment ReadTerminalEnvironment(char** envp);

// The answers, as far as they came.
struct TerminalAnswers {
  bool complete = false;  // the device attributes came: every answer before them is in
  bool sixel = false;     // the device attributes list sixel graphics
  bool kitty = false;     // the graphics query was answered OK
  int area_width = 0, area_height = 0;  // the text area in pixels
  int cell_width = 0, cell_height = 0;  // a cell in pixels
  std::string keys;  // everything else: keys typed meanwhile, to go to the console
};

// The questions: a graphics query (`graphics`), the sizes of the text area
// and a cell in pixels, then the primary device attributes, which every
// terminal answers, so that their answer marks the end of the others.
std::string TerminalQuestions(bool graphics);

// Reads the answers in `bytes` (all that came so far). Sizes no terminal
// could have are dropped; so is any string (DCS, OSC, ...) or control
// sequence that is not well-formed or is no key, rather than being taken as
// keys; and more bytes besides the answers than a person types meanwhile are
// noise, none of them a key. A key's sequence cut short at the end goes to
// `keys` with the rest.
TerminalAnswers ReadTerminalAnswers(std::string_view bytes);

// The mode the setting asks for, or for kAuto the best the terminal offers:
// kitty, then iTerm2, then sixel (named by the environment, or else found by
// the questions, where `answers` is not null), then symbols.
TerminalMode ChooseTerminalMode(TerminalMode setting, const TerminalEnvironment& environment,
                                const TerminalAnswers* answers);

// Whether the environment leaves the protocol to be asked for.
bool ShouldAskForGraphics(TerminalMode setting, const TerminalEnvironment& environment);

}  // namespace softboard
