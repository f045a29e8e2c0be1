#include "output/terminal_query.h"

#include <chafa.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "output/terminal_layout.h"

namespace softboard {
namespace {

constexpr char kEsc = '\x1b';

const char* Lookup(char** envp, const char* name) {
  const size_t length = std::strlen(name);
  for (char** entry = envp; entry && *entry; entry++) {
    if (std::strncmp(*entry, name, length) == 0 && (*entry)[length] == '=')
      return *entry + length + 1;
  }
  return nullptr;
}

bool Is(const char* value, const char* text) {
  return value != nullptr && std::strcmp(value, text) == 0;
}

// The numbers of a CSI sequence's parameters, "?62;4" giving 62 and 4.
std::vector<int> Parameters(std::string_view text) {
  std::vector<int> numbers{0};
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      if (numbers.back() < 100000) numbers.back() = numbers.back() * 10 + (c - '0');
    } else if (c == ';') {
      numbers.push_back(0);
    }
  }
  return numbers;
}

// Introducers of strings that end at BEL or ST: DCS, SOS, OSC, PM, APC.
bool IsStringIntroducer(char c) {
  return c == 'P' || c == 'X' || c == ']' || c == '^' || c == '_';
}

// A person types a few keys while a terminal answers; more bytes than this
// among the answers are noise (a terminal answering with garbage), and none
// of them is taken as a key.
constexpr size_t kMostTypedBytes = 32;

// The area a terminal may claim, in pixels a side: what its window-size
// report can hold.
constexpr int kMaxAreaSide = 65535;

// A control sequence a key sends (an arrow, F5, Shift+Tab): numbers only,
// short, and a final byte that names a key. Anything else here is an answer
// not asked for, or noise, and no key.
bool LooksLikeKey(std::string_view parameters, char final_byte) {
  if (parameters.size() > 16) return false;
  for (char c : parameters)
    if (!((c >= '0' && c <= '9') || c == ';' || c == ':')) return false;
  if (final_byte == '\0' || std::strchr("ABCDEFHPQRSZabcd~^@$", final_byte) == nullptr)
    return false;
  // A letter's key has 1 or nothing before its modifiers; other numbers make
  // it a report (where the cursor is, say).
  const bool numbered = std::strchr("~^@$", final_byte) != nullptr;
  return numbered || std::atoi(std::string(parameters).c_str()) <= 1;
}

}  // namespace

TerminalEnvironment ReadTerminalEnvironment(char** envp) {
  TerminalEnvironment found;
  ChafaTermInfo* info = chafa_term_db_detect(chafa_term_db_get_default(), envp);
  found.kitty = chafa_term_info_have_seq(info, CHAFA_TERM_SEQ_BEGIN_KITTY_IMMEDIATE_IMAGE_V1);
  found.iterm = chafa_term_info_have_seq(info, CHAFA_TERM_SEQ_BEGIN_ITERM2_IMAGE);
  found.sixel = chafa_term_info_have_seq(info, CHAFA_TERM_SEQ_BEGIN_SIXELS);
  if (chafa_term_info_have_seq(info, CHAFA_TERM_SEQ_SET_COLOR_FGBG_DIRECT))
    found.colors = CellColors::kTruecolor;
  else if (!chafa_term_info_have_seq(info, CHAFA_TERM_SEQ_SET_COLOR_FGBG_256))
    found.colors = CellColors::k16;
  chafa_term_info_unref(info);

  // What the database does not know: kitty's own variable (it survives a
  // change of TERM), and the variables that promise 24-bit colour.
  const char* term = Lookup(envp, "TERM");
  if (Lookup(envp, "KITTY_WINDOW_ID") || Is(term, "xterm-ghostty") ||
      Is(Lookup(envp, "TERM_PROGRAM"), "ghostty"))
    found.kitty = true;
  const char* colorterm = Lookup(envp, "COLORTERM");
  if (Is(colorterm, "truecolor") || Is(colorterm, "24bit")) found.colors = CellColors::kTruecolor;
  found.text_only = Is(term, "linux") || Is(term, "dumb");
  if (found.text_only) found.kitty = found.iterm = found.sixel = false;
  return found;
}

std::string TerminalQuestions(bool graphics) {
  std::string questions;
  // The smallest image kitty's protocol can be asked about: one RGB pixel,
  // only queried, never kept.
  if (graphics) questions += "\x1b_Gi=31,s=1,v=1,a=q,t=d,f=24;AAAA\x1b\\";
  questions += "\x1b[14t\x1b[16t";  // text area, cell: in pixels
  questions += "\x1b[c";            // primary device attributes
  return questions;
}

TerminalAnswers ReadTerminalAnswers(std::string_view bytes) {
  TerminalAnswers answers;
  answers.keys.reserve(kMostTypedBytes);
  size_t i = 0;
  while (i < bytes.size()) {
    if (bytes[i] != kEsc || i + 1 >= bytes.size()) {
      answers.keys += bytes[i++];
      continue;
    }
    const char introducer = bytes[i + 1];
    if (IsStringIntroducer(introducer)) {  // a string (APC, DCS, OSC, ...), to BEL or ST
      size_t end = i + 2;
      while (end < bytes.size() && bytes[end] != '\a' &&
             !(bytes[end] == kEsc && end + 1 < bytes.size() && bytes[end + 1] == '\\'))
        end++;
      if (end >= bytes.size() || (bytes[end] == kEsc && end + 1 >= bytes.size())) {
        // Cut short: the console's decoder swallows the rest of an APC as it
        // comes; any other string is no key at all.
        if (introducer == '_') answers.keys += bytes.substr(i);
        break;
      }
      const std::string_view body = bytes.substr(i + 2, end - i - 2);
      if (introducer == '_' && body.substr(0, 1) == "G" &&
          body.find(";OK") != std::string_view::npos)
        answers.kitty = true;
      i = end + (bytes[end] == '\a' ? 1 : 2);
      continue;
    }
    if (introducer != '[') {
      answers.keys += bytes[i++];  // Esc, or Alt and a key: the decoder's to tell
      continue;
    }
    size_t end = i + 2;
    while (end < bytes.size() && bytes[end] >= 0x30 && bytes[end] <= 0x3F) end++;
    while (end < bytes.size() && bytes[end] >= 0x20 && bytes[end] <= 0x2F) end++;
    if (end >= bytes.size()) {
      answers.keys += bytes.substr(i);  // cut short: the decoder reads on
      break;
    }
    if (bytes[end] < 0x40 || bytes[end] > 0x7E) {
      i = end;  // not well-formed: dropped up to the byte that broke it
      continue;
    }
    const std::string_view parameters = bytes.substr(i + 2, end - i - 2);
    const std::vector<int> numbers = Parameters(parameters);
    if (bytes[end] == 'c' && parameters.substr(0, 1) == "?") {
      answers.complete = true;
      for (size_t n = 1; n < numbers.size(); n++) answers.sixel |= numbers[n] == 4;
    } else if (bytes[end] == 't' && numbers.size() == 3 && numbers[0] == 4) {
      if (numbers[1] > 0 && numbers[2] > 0 && numbers[1] <= kMaxAreaSide &&
          numbers[2] <= kMaxAreaSide) {
        answers.area_height = numbers[1];
        answers.area_width = numbers[2];
      }
    } else if (bytes[end] == 't' && numbers.size() == 3 && numbers[0] == 6) {
      if (numbers[1] > 0 && numbers[2] > 0 && numbers[1] <= kMaxCellHeight &&
          numbers[2] <= kMaxCellWidth) {
        answers.cell_height = numbers[1];
        answers.cell_width = numbers[2];
      }
    } else if (LooksLikeKey(parameters, bytes[end])) {
      answers.keys += bytes.substr(i, end + 1 - i);  // an arrow typed meanwhile, say
    }
    i = end + 1;
  }
  if (answers.keys.size() > kMostTypedBytes) answers.keys.clear();
  return answers;
}

bool ShouldAskForGraphics(TerminalMode setting, const TerminalEnvironment& environment) {
  return setting == TerminalMode::kAuto && !environment.text_only && !environment.kitty &&
         !environment.iterm && !environment.sixel;
}

TerminalMode ChooseTerminalMode(TerminalMode setting, const TerminalEnvironment& environment,
                                const TerminalAnswers* answers) {
  if (setting != TerminalMode::kAuto) return setting;
  if (environment.kitty || (answers && answers->kitty)) return TerminalMode::kKitty;
  if (environment.iterm) return TerminalMode::kIterm;
  if (environment.sixel || (answers && answers->sixel)) return TerminalMode::kSixel;
  return TerminalMode::kSymbols;
}

}  // namespace softboard
