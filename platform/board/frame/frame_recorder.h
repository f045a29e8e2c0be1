// A frame's drawing, recorded as the program calls: clears, triangles (each
// with a copy of what its pixels need) and the average-down of a supersampled
// frame. When something needs the pixels, the recorder hands the frame's
// bands to the drawer; at a swap it first compares the frame with the last
// one, so that what is drawn again unchanged is neither drawn nor shown again.
#pragma once

#include <cstdint>
#include <vector>

#include "frame/band_commands.h"
#include "frame/band_drawer.h"
#include "frame/framebuffer.h"
#include "frame/triangle_store.h"

namespace softboard {

class FrameRecorder {
 public:
  // Draws with `threads` threads (see BandDrawer) in bands of `band_rows`.
  explicit FrameRecorder(int threads, int band_rows = 8) : drawer_(threads, band_rows) {}

  void RecordClear(const Destination& to, uint32_t pixel);
  void RecordClear(const ClearCommand& clear);
  void RecordTriangle(const Destination& to, const PreparedTriangle& triangle);
  // The same made in place, a triangle of thousands costing no copies: the
  // triangle to prepare, then EndTriangle, keeping it if it was prepared.
  PreparedTriangle* BeginTriangle(const Destination& to);
  void EndTriangle(bool keep);
  // Averages ssaa x ssaa blocks of what was drawn in `from` into `to`
  // (0xAARRGGBB rows).
  void RecordAverageDown(const Destination& from, int ssaa, const PixelRows& to);

  // Draws everything recorded; returns when all is drawn. False when memory
  // ran out and some of it is not. The next frame is not compared with what
  // was drawn before: call it whenever the texture or the buffers change, or
  // a frame is drawn in parts.
  bool Flush();
  // Draws a whole frame and says which of its rows changed since the frame
  // before. A band whose commands are those it had then, in order, beginning
  // with a clear, holds its pixels already and is not drawn again: an
  // unchanged scene costs neither drawing nor showing. `complete` false when
  // memory ran out and some of it is not drawn.
  FrameDamage FlushFrame(bool* complete = nullptr);

  int threads() const { return drawer_.threads(); }
  int band_rows() const { return drawer_.band_rows(); }

 private:
  void Record(BandCommand command);
  void Recorded();
  bool BandUnchanged(int top, int bottom) const;
  FrameDamage MarkUnchangedBands();
  void Forget();  // what was drawn before is not compared with

  BandDrawer drawer_;
  std::vector<BandCommand> commands_;
  TriangleStore triangles_;  // what commands_'s triangles point to
  int rows_ = 0;             // rows the recorded commands reach
  // The last frame's commands while its pixels are still in the buffers, to
  // compare with; `diverged_`: the frame being recorded is already unlike it.
  std::vector<BandCommand> last_;
  TriangleStore last_triangles_;
  bool have_last_ = false;
  bool diverged_ = false;
  std::vector<uint8_t> unchanged_;  // a flag per band; none: draw every band
};

}  // namespace softboard
