#include "settings.h"

#include <cstdlib>
#include <cstring>

#include "quote.h"

namespace softboard {
namespace {

struct Choice {
  const char* text;
  int value;
};

// Sets *out from one of `choices`; an unset or empty setting keeps the default.
template <size_t N>
void ReadChoice(const char* name, const char* text, const Choice (&choices)[N], int* out,
                std::vector<std::string>* problems) {
  if (text == nullptr || *text == '\0') return;
  for (const Choice& choice : choices) {
    if (std::strcmp(text, choice.text) == 0) {
      *out = choice.value;
      return;
    }
  }
  std::string takes;
  for (size_t i = 0; i < N; i++) {
    takes += i == 0 ? "" : (i + 1 == N ? " or " : ", ");
    takes += choices[i].text;
  }
  const char* fallback = "";
  for (const Choice& choice : choices) {
    if (choice.value == *out) fallback = choice.text;
  }
  // The value is echoed escaped and cut: it may hold anything, terminal controls included.
  problems->push_back(std::string(name) + "=" + Quote(text, 40) +
                      " is not a valid value; it takes " + takes + " (using " + fallback + ")");
}

}  // namespace

Settings ReadSettings(std::vector<std::string>* problems, SettingLookup lookup) {
  if (lookup == nullptr) lookup = [](const char* name) -> const char* { return std::getenv(name); };
  Settings settings;

  static constexpr Choice kDisplays[] = {{"window", int(DisplayMode::kWindow)},
                                         {"fullscreen", int(DisplayMode::kFullscreen)},
                                         {"headless", int(DisplayMode::kHeadless)}};
  int display = int(settings.display);
  ReadChoice("SOFTBOARD_DISPLAY", lookup("SOFTBOARD_DISPLAY"), kDisplays, &display, problems);
  settings.display = DisplayMode(display);

  static constexpr Choice kOnOff[] = {{"1", 1}, {"0", 0}};
  int vsync = settings.vsync ? 1 : 0;
  ReadChoice("SOFTBOARD_VSYNC", lookup("SOFTBOARD_VSYNC"), kOnOff, &vsync, problems);
  settings.vsync = vsync != 0;
  ReadChoice("SOFTBOARD_BOARDS", lookup("SOFTBOARD_BOARDS"), kOnOff, &settings.boards, problems);

  if (const char* path = lookup("SOFTBOARD_SCREENSHOT")) settings.screenshot_path = path;
  if (const char* path = lookup("SOFTBOARD_TRACE")) settings.trace_path = path;
  return settings;
}

}  // namespace softboard
