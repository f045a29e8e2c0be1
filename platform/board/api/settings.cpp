#include "api/settings.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "decimal.h"
#include "quote.h"

namespace softboard {
namespace {

constexpr size_t kValueBytes = 40;  // a setting's value is echoed cut here

struct Choice {
  const char* text;
  int value;
};

// Why this build cannot honour `value` of setting `name`, or null when it
// can. The web page shows its frames on its canvas and saves the canvas
// itself; it has no terminal, no full screen of its own and no PNG writer.
const char* NotHonoured([[maybe_unused]] std::string_view name,
                        [[maybe_unused]] std::string_view value) {
#if defined(__EMSCRIPTEN__)
  if (name == "SOFTBOARD_DISPLAY" && value == "terminal") return "a web page has no terminal";
  if (name == "SOFTBOARD_DISPLAY" && value == "fullscreen")
    return "the browser puts a web page full screen, with F11";
  if (name == "SOFTBOARD_SCREENSHOT" && !value.empty())
    return "a web page saves its canvas instead, with F12 or its button";
#endif
  return nullptr;
}

// The one line a bad value gets. The value is echoed escaped and cut: it may
// hold anything, terminal controls included.
std::string Complaint(const char* name, const char* text, const std::string& takes,
                      const std::string& fallback) {
  return std::string(name) + "=" + quote::Quote(text, kValueBytes) +
         " is not a valid value; it takes " + takes + " (using " + fallback + ")";
}

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
  std::vector<const char*> honoured;
  for (const Choice& choice : choices)
    if (!NotHonoured(name, choice.text)) honoured.push_back(choice.text);
  std::string takes;
  for (size_t i = 0; i < honoured.size(); i++) {
    takes += i == 0 ? "" : (i + 1 == honoured.size() ? " or " : ", ");
    takes += honoured[i];
  }
  const char* fallback = "";
  for (const Choice& choice : choices) {
    if (choice.value == *out) fallback = choice.text;
  }
  problems->push_back(Complaint(name, text, takes, fallback));
}

// A whole number, read by the numeric grammar.
bool ParseWhole(const char* text, int max, int* out) {
  double v = 0;
  if (!quote::ParseDecimal(text, &v) || v != std::floor(v) || v > max) return false;
  *out = int(v);
  return true;
}

// A setting that takes one of a few numbers.
template <size_t N>
void ReadNumberChoice(const char* name, const char* text, const Choice (&choices)[N], int* out,
                      std::vector<std::string>* problems) {
  int v = 0;
  if (text != nullptr && ParseWhole(text, 1 << 20, &v)) {
    for (const Choice& choice : choices) {
      if (choice.value == v) {
        *out = v;
        return;
      }
    }
  }
  ReadChoice(name, text, choices, out, problems);  // the complaint, naming the choices
}

void ReadScale(const char* text, double* out, std::vector<std::string>* problems) {
  if (text == nullptr || *text == '\0' || std::strcmp(text, "auto") == 0) return;
  double v = 0;
  if (quote::ParseDecimal(text, &v) && v >= 1 && v <= kMaxScale) {
    *out = v;
    return;
  }
  problems->push_back(
      Complaint("SOFTBOARD_SCALE", text, "auto or a number from 1 to 8, such as 2.25", "auto"));
}

void ReadThreads(const char* text, int* out, std::vector<std::string>* problems) {
  if (text == nullptr || *text == '\0' || std::strcmp(text, "auto") == 0) return;
  int v = 0;
  if (ParseWhole(text, kMaxThreads, &v) && v >= 1) {
    *out = v;
    return;
  }
  problems->push_back(Complaint("SOFTBOARD_THREADS", text,
                                "auto or a whole number from 1 to " + std::to_string(kMaxThreads),
                                "auto"));
}

void ReadTerminalFps(const char* text, int* out, std::vector<std::string>* problems) {
  if (text == nullptr || *text == '\0') return;
  int v = 0;
  if (ParseWhole(text, kMaxTerminalFps, &v) && v >= 1) {
    *out = v;
    return;
  }
  problems->push_back(Complaint("SOFTBOARD_TERMINAL_FPS", text,
                                "a whole number from 1 to " + std::to_string(kMaxTerminalFps),
                                std::to_string(*out)));
}

}  // namespace

Settings ReadSettings(std::vector<std::string>* problems, SettingLookup lookup) {
  if (lookup == nullptr) lookup = [](const char* name) -> const char* { return std::getenv(name); };
  Settings settings;

  static constexpr Choice kDisplays[] = {{"window", int(DisplayMode::kWindow)},
                                         {"fullscreen", int(DisplayMode::kFullscreen)},
                                         {"terminal", int(DisplayMode::kTerminal)},
                                         {"headless", int(DisplayMode::kHeadless)}};
  // A value this build knows but cannot honour is refused, saying why, and
  // the default used.
  const auto honoured = [&](const char* name, size_t cut, const char* fallback) -> const char* {
    const char* text = lookup(name);
    const char* why = text ? NotHonoured(name, text) : nullptr;
    if (why == nullptr) return text;
    problems->push_back(std::string(name) + "=" + quote::Quote(text, cut) +
                        " cannot be honoured: " + why + " (using " + fallback + ")");
    return nullptr;
  };

  int display = int(settings.display);
  const size_t complaints = problems->size();
  const char* display_text = honoured("SOFTBOARD_DISPLAY", kValueBytes, "window");
  ReadChoice("SOFTBOARD_DISPLAY", display_text, kDisplays, &display, problems);
  settings.display = DisplayMode(display);
  settings.display_named = display_text && *display_text && problems->size() == complaints;

  static constexpr Choice kPresents[] = {{"auto", int(PresentMode::kAuto)},
                                         {"gpu", int(PresentMode::kGpu)},
                                         {"surface", int(PresentMode::kSurface)}};
  int present = int(settings.present);
  ReadChoice("SOFTBOARD_PRESENT", lookup("SOFTBOARD_PRESENT"), kPresents, &present, problems);
  settings.present = PresentMode(present);

  static constexpr Choice kTerminals[] = {{"auto", int(TerminalMode::kAuto)},
                                          {"kitty", int(TerminalMode::kKitty)},
                                          {"iterm", int(TerminalMode::kIterm)},
                                          {"sixel", int(TerminalMode::kSixel)},
                                          {"symbols", int(TerminalMode::kSymbols)}};
  int terminal = int(settings.terminal);
  ReadChoice("SOFTBOARD_TERMINAL", lookup("SOFTBOARD_TERMINAL"), kTerminals, &terminal, problems);
  settings.terminal = TerminalMode(terminal);
  ReadTerminalFps(lookup("SOFTBOARD_TERMINAL_FPS"), &settings.terminal_fps, problems);

  static constexpr Choice kOnOff[] = {{"1", 1}, {"0", 0}};
  int vsync = settings.vsync ? 1 : 0;
  ReadNumberChoice("SOFTBOARD_VSYNC", lookup("SOFTBOARD_VSYNC"), kOnOff, &vsync, problems);
  settings.vsync = vsync != 0;
  ReadNumberChoice("SOFTBOARD_BOARDS", lookup("SOFTBOARD_BOARDS"), kOnOff, &settings.boards,
                   problems);

  ReadScale(lookup("SOFTBOARD_SCALE"), &settings.scale, problems);
  static constexpr Choice kSamples[] = {{"1", 1}, {"2", 2}, {"4", 4}};
  ReadNumberChoice("SOFTBOARD_SSAA", lookup("SOFTBOARD_SSAA"), kSamples, &settings.ssaa, problems);
  ReadThreads(lookup("SOFTBOARD_THREADS"), &settings.threads, problems);
  static constexpr Choice kColors[] = {{"32", 32}, {"16", 16}};
  ReadNumberChoice("SOFTBOARD_COLOR", lookup("SOFTBOARD_COLOR"), kColors, &settings.color_bits,
                   problems);
  static constexpr Choice kDithers[] = {{"4x4", 4}, {"2x2", 2}, {"off", 0}};
  ReadChoice("SOFTBOARD_DITHER", lookup("SOFTBOARD_DITHER"), kDithers, &settings.dither, problems);

  if (const char* path = honoured("SOFTBOARD_SCREENSHOT", quote::kMaxBytes, "none"))
    settings.screenshot_path = path;
  if (const char* path = lookup("SOFTBOARD_TRACE")) settings.trace_path = path;
  return settings;
}

}  // namespace softboard
