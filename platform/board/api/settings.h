// The board's settings, read from the environment like a driver's.
#pragma once

#include <string>
#include <vector>

#include "output/display.h"

namespace softboard {

// The board's settings, from the environment (see ReadSettings).
struct Settings : DisplaySettings {
  bool vsync = true;
  int boards = 1;
  std::string screenshot_path;  // empty: none
  std::string trace_path;       // empty: no trace
  double scale = 0;             // 1..8; 0: auto, to fit the window (1 headless)
  int ssaa = 1;                 // 1, 2 or 4 samples a side
  int threads = 0;              // 1 up; 0: auto, the cores the process may use
  int color_bits = 32;          // 32: 8 bits a channel; 16: 5-6-5
  int dither = 4;               // 16-bit colour's ordered dither: 4 (4x4), 2 (2x2) or 0 (off)
};

constexpr double kMaxScale = 8;
constexpr int kMaxThreads = 256;
constexpr int kMaxTerminalFps = 60;

using SettingLookup = const char* (*)(const char* name);

// Reads every SOFTBOARD_ setting through `lookup` (getenv by default). A bad
// value keeps the default and adds one line to `problems` naming the setting
// and the values it takes.
Settings ReadSettings(std::vector<std::string>* problems, SettingLookup lookup = nullptr);

}  // namespace softboard
