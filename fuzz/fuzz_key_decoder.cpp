// The console's key decoder on arbitrary terminal bytes. The first byte picks
// where the input is split and where time runs out (flush); the codes must not
// depend on how the bytes were split, and must all be 0..255.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <string_view>

#include "key_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const unsigned split = data[0];
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  // Whole chunks of `split % 7 + 1` bytes, flushing after every chunk that
  // `split` marks; then the same bytes one at a time with the same flushes.
  const size_t chunk = split % 7 + 1;
  KeyDecoder whole, single;
  std::deque<int> a, b;
  for (size_t at = 0, n = 0; at < bytes.size(); at += chunk, n++) {
    const std::string_view piece = bytes.substr(at, chunk);
    whole.Feed(piece, a);
    for (char c : piece) single.Feed(std::string_view(&c, 1), b);
    if ((split >> (n % 8)) & 1) {
      whole.Flush(a);
      single.Flush(b);
    }
  }
  whole.Flush(a);
  single.Flush(b);
  if (a != b) std::abort();
  for (int code : a) {
    if (code < 0 || code > 255) std::abort();
  }
  return 0;
}
