// The call trace: one line per library call, flushed as it happens, so a
// program's use of the library can be read (and tested) call by call.
#pragma once

#include <cstdint>
#include <string>

#include "board_state.h"

namespace softboard {

bool OpenTrace(TraceState& trace, const std::string& path, std::string* error);
void CloseTrace(TraceState& trace);
inline bool Tracing(const TraceState& trace) {
  return trace.file != nullptr;
}

// Builds "name(arg, arg, ...)" and writes it, with a line end, when destroyed.
// Integers in decimal, packed colours as 0x%08X, floats with %g.
class TraceLine {
 public:
  TraceLine(TraceState& trace, const char* name);
  ~TraceLine();
  TraceLine(const TraceLine&) = delete;
  TraceLine& operator=(const TraceLine&) = delete;

  TraceLine& Int(long long value);
  TraceLine& Color(uint32_t value);
  TraceLine& Float(double value);
  TraceLine& Text(const char* text);  // quoted; null prints as null
  TraceLine& Raw(const std::string& text);
  TraceLine& TexInfo(const GrTexInfo* info);
  TraceLine& Info3df(const Gu3dfInfo* info);
  TraceLine& HwConfig(const GrHwConfiguration* config);
  // The index list and, once each in order of first use, the vertices it names.
  TraceLine& Polygon(int count, const int* ilist, const GrVertex* vlist);

 private:
  void Next();
  TraceState& trace_;
  std::string line_;
  bool first_ = true;
};

}  // namespace softboard
