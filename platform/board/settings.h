// The board's settings, read from the environment like a driver's.
#pragma once

#include <string>
#include <vector>

#include "board_state.h"

namespace softboard {

using SettingLookup = const char* (*)(const char* name);

// Reads every SOFTBOARD_ setting through `lookup` (getenv by default). A bad
// value keeps the default and adds one line to `problems` naming the setting
// and the values it takes.
Settings ReadSettings(std::vector<std::string>* problems, SettingLookup lookup = nullptr);

}  // namespace softboard
