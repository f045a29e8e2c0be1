#include "terminal_stream.h"

#include <zlib.h>

#include <cstdlib>
#include <map>
#include <tuple>
#include <utility>

namespace e2e {
namespace {

std::map<std::string, std::string> Keys(std::string_view text) {
  std::map<std::string, std::string> keys;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view pair = text.substr(start, end - start);
    const size_t equals = pair.find('=');
    if (equals != std::string_view::npos)
      keys[std::string(pair.substr(0, equals))] = std::string(pair.substr(equals + 1));
    start = end + 1;
  }
  return keys;
}

int Number(const std::map<std::string, std::string>& keys, const char* name) {
  const auto it = keys.find(name);
  return it == keys.end() ? 0 : std::atoi(it->second.c_str());
}

// The cell the cursor was moved to right before `at` (CSI row ; column H),
// counted from 0; -1, -1 if it was not.
std::pair<int, int> CursorBefore(std::string_view stream, size_t at) {
  if (at < 2 || stream[at - 1] != 'H') return {-1, -1};
  const size_t csi = stream.rfind("\x1b[", at - 1);
  if (csi == std::string_view::npos || at - csi > 16) return {-1, -1};
  const std::string numbers(stream.substr(csi + 2, at - 1 - csi - 2));
  const size_t semicolon = numbers.find(';');
  if (semicolon == std::string::npos) return {-1, -1};
  return {std::atoi(numbers.c_str()) - 1, std::atoi(numbers.c_str() + semicolon + 1) - 1};
}

// Each kitty command: its keys, its payload, where it starts and ends.
struct Command {
  std::map<std::string, std::string> keys;
  std::string_view keys_text, payload;
  size_t start, end;
};

std::vector<Command> KittyCommands(std::string_view stream) {
  std::vector<Command> commands;
  size_t at = 0;
  while ((at = stream.find("\x1b_G", at)) != std::string_view::npos) {
    const size_t end = stream.find("\x1b\\", at);
    if (end == std::string_view::npos) break;
    const std::string_view body = stream.substr(at + 3, end - at - 3);
    const size_t semicolon = body.find(';');
    Command command;
    command.keys_text = body.substr(0, semicolon);
    command.keys = Keys(command.keys_text);
    command.payload =
        semicolon == std::string_view::npos ? std::string_view{} : body.substr(semicolon + 1);
    command.start = at;
    command.end = end + 2;
    commands.push_back(command);
    at = end + 2;
  }
  return commands;
}

// The xterm palette of 256 colours.
int IndexedColour(int index) {
  static const int kBasic[16] = {0x000000, 0xcd0000, 0x00cd00, 0xcdcd00, 0x0000ee, 0xcd00cd,
                                 0x00cdcd, 0xe5e5e5, 0x7f7f7f, 0xff0000, 0x00ff00, 0xffff00,
                                 0x5c5cff, 0xff00ff, 0x00ffff, 0xffffff};
  if (index < 16) return kBasic[index];
  if (index < 232) {
    static const int kLevels[6] = {0, 95, 135, 175, 215, 255};
    const int i = index - 16;
    return kLevels[i / 36] << 16 | kLevels[i / 6 % 6] << 8 | kLevels[i % 6];
  }
  const int grey = 8 + 10 * (index - 232);
  return grey << 16 | grey << 8 | grey;
}

// Applies one SGR sequence's parameters to the colours and reverse flag.
void ApplySgr(std::string_view parameters, int* fg, int* bg, bool* reverse) {
  std::vector<int> p;
  size_t start = 0;
  while (start <= parameters.size()) {
    size_t end = parameters.find(';', start);
    if (end == std::string_view::npos) end = parameters.size();
    p.push_back(std::atoi(std::string(parameters.substr(start, end - start)).c_str()));
    start = end + 1;
  }
  for (size_t i = 0; i < p.size(); i++) {
    const int n = p[i];
    if (n == 0) {
      *fg = *bg = -1;
      *reverse = false;
    } else if (n == 7)
      *reverse = true;
    else if (n == 27)
      *reverse = false;
    else if (n >= 30 && n <= 37)
      *fg = IndexedColour(n - 30);
    else if (n >= 90 && n <= 97)
      *fg = IndexedColour(n - 90 + 8);
    else if (n >= 40 && n <= 47)
      *bg = IndexedColour(n - 40);
    else if (n >= 100 && n <= 107)
      *bg = IndexedColour(n - 100 + 8);
    else if (n == 39)
      *fg = -1;
    else if (n == 49)
      *bg = -1;
    else if ((n == 38 || n == 48) && i + 1 < p.size()) {
      int* target = n == 38 ? fg : bg;
      if (p[i + 1] == 5 && i + 2 < p.size()) {
        *target = IndexedColour(p[i + 2]);
        i += 2;
      } else if (p[i + 1] == 2 && i + 4 < p.size()) {
        *target = p[i + 2] << 16 | p[i + 3] << 8 | p[i + 4];
        i += 4;
      }
    }
  }
}

}  // namespace

std::vector<KittyImage> KittyImages(std::string_view stream) {
  std::vector<KittyImage> images;
  KittyImage image;
  std::string payload;
  bool loading = false;
  const auto finish = [&](size_t end) {
    image.end = end;
    image.sent = payload.size();
    const std::string data = Base64Decode(payload);
    const size_t size = size_t(image.width) * size_t(image.height) * (image.format == 24 ? 3 : 4);
    if (image.compressed) {
      image.pixels.assign(size, '\0');
      uLongf length = uLongf(size);
      image.decoded =
          uncompress(reinterpret_cast<Bytef*>(image.pixels.data()), &length,
                     reinterpret_cast<const Bytef*>(data.data()), uLong(data.size())) == Z_OK &&
          length == size;
    } else {
      image.pixels = data;
      image.decoded = data.size() == size;
    }
    images.push_back(image);
    loading = false;
  };
  for (const Command& command : KittyCommands(stream)) {
    const auto action = command.keys.find("a");
    if (action != command.keys.end() && action->second == "T") {
      image = KittyImage{};
      image.id = Number(command.keys, "i");
      image.format = Number(command.keys, "f");
      image.width = Number(command.keys, "s");
      image.height = Number(command.keys, "v");
      image.columns = Number(command.keys, "c");
      image.rows = Number(command.keys, "r");
      const auto o = command.keys.find("o");
      image.compressed = o != command.keys.end() && o->second == "z";
      std::tie(image.row, image.column) = CursorBefore(stream, command.start);
      image.start = command.start;
      payload = std::string(command.payload);
      loading = Number(command.keys, "m") == 1;
      if (!loading) finish(command.end);
      continue;
    }
    if (!loading || action != command.keys.end()) {
      loading = false;
      continue;
    }
    payload += command.payload;
    if (Number(command.keys, "m") == 0) finish(command.end);
  }
  return images;
}

std::vector<KittyDelete> KittyDeletes(std::string_view stream) {
  std::vector<KittyDelete> deletes;
  for (const Command& command : KittyCommands(stream)) {
    const auto action = command.keys.find("a");
    if (action != command.keys.end() && action->second == "d")
      deletes.push_back({std::string(command.keys_text), command.start});
  }
  return deletes;
}

std::vector<SixelImage> SixelImages(std::string_view stream) {
  std::vector<SixelImage> images;
  size_t at = 0;
  while ((at = stream.find("\x1bP", at)) != std::string_view::npos) {
    const size_t end = stream.find("\x1b\\", at);
    if (end == std::string_view::npos) break;
    const std::string_view image = stream.substr(at, end + 2 - at);
    if (image.find('q') != std::string_view::npos) {
      SixelImage sixel;
      sixel.data = std::string(image);
      std::tie(sixel.row, sixel.column) = CursorBefore(stream, at);
      sixel.start = at;
      images.push_back(sixel);
    }
    at = end + 2;
  }
  return images;
}

std::vector<ItermImage> ItermImages(std::string_view stream) {
  std::vector<ItermImage> images;
  const std::string_view start = "\x1b]1337;File=";
  for (size_t at = stream.find(start); at != std::string_view::npos;
       at = stream.find(start, at + 1)) {
    const size_t colon = stream.find(':', at), bell = stream.find('\a', at);
    if (colon == std::string_view::npos || bell == std::string_view::npos || colon > bell) break;
    std::map<std::string, std::string> keys;
    const std::string_view arguments = stream.substr(at + start.size(), colon - at - start.size());
    size_t from = 0;
    while (from < arguments.size()) {
      size_t end = arguments.find(';', from);
      if (end == std::string_view::npos) end = arguments.size();
      const std::string_view pair = arguments.substr(from, end - from);
      const size_t equals = pair.find('=');
      if (equals != std::string_view::npos)
        keys[std::string(pair.substr(0, equals))] = std::string(pair.substr(equals + 1));
      from = end + 1;
    }
    ItermImage image;
    image.file = Base64Decode(stream.substr(colon + 1, bell - colon - 1));
    image.width = Number(keys, "width");
    image.height = Number(keys, "height");
    image.size = Number(keys, "size");
    std::tie(image.row, image.column) = CursorBefore(stream, at);
    image.start = at;
    images.push_back(image);
  }
  return images;
}

std::string Base64Decode(std::string_view text) {
  std::string out;
  unsigned bits = 0;
  int count = 0;
  for (char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z')
      v = c - 'A';
    else if (c >= 'a' && c <= 'z')
      v = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      v = c - '0' + 52;
    else if (c == '+')
      v = 62;
    else if (c == '/')
      v = 63;
    else
      continue;  // padding
    bits = (bits << 6) | unsigned(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += char((bits >> count) & 0xFF);
    }
  }
  return out;
}

std::vector<std::vector<Cell>> ParseCapture(std::string_view capture) {
  std::vector<std::vector<Cell>> lines(1);
  int fg = -1, bg = -1;
  bool reverse = false;
  for (size_t i = 0; i < capture.size();) {
    const unsigned char c = static_cast<unsigned char>(capture[i]);
    if (c == '\n') {
      lines.emplace_back();
      i++;
    } else if (c == 0x1b && i + 1 < capture.size() && capture[i + 1] == '[') {
      size_t end = i + 2;
      while (end < capture.size() && !(capture[end] >= 0x40 && capture[end] <= 0x7E)) end++;
      if (end < capture.size() && capture[end] == 'm')
        ApplySgr(capture.substr(i + 2, end - i - 2), &fg, &bg, &reverse);
      i = end + 1;
    } else {
      const size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
      Cell cell;
      cell.text = std::string(capture.substr(i, length));
      cell.fg = reverse ? bg : fg;
      cell.bg = reverse ? fg : bg;
      lines.back().push_back(cell);
      i += length;
    }
  }
  return lines;
}

}  // namespace e2e
