// The call trace: one line per library call, so a program's use of the library
// can be read (and tested) call by call.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <type_traits>

#include "grlib.h"

namespace softboard {

struct TraceState {
  std::FILE* file = nullptr;
  std::string path;
  bool pipe = false;  // a pipe or socket: its reader may go away
  // The program's, set by grErrorSetCallback: told every refusal too.
  void (*error_callback)(const char* message, FxBool fatal) = nullptr;
};

bool OpenTrace(TraceState& trace, const std::string& path, std::string* error);
void CloseTrace(TraceState& trace);
inline bool Tracing(const TraceState& trace) {
  return trace.file != nullptr;
}

// How arguments print: integers in decimal, C strings quoted (null as null),
// records as {field=value, ...}, and these as they say.
struct TraceColor {
  uint32_t value;  // 0x%08X
};
struct TraceFloat {
  double value;  // %g
};
// One vertex, and a list of them.
struct TraceVertex {
  const GrVertex* vertex;  // null prints as null
};
struct TraceVertices {
  int count;  // at most a board's largest polygon
  const GrVertex* vlist;
};
// A table of bytes (a fog table), [a, b, ...]; null prints as null.
struct TraceBytes {
  const uint8_t* bytes;
  int count;
};
struct TraceOutput {
  const void* record;  // a record the call fills: "out", or "null"
};
struct TraceData {
  const void* data;  // data the call reads, unprinted: "data", or "null"
};
// The index list and, once each in order of first use, the vertices it names.
// The vertices are read only when `indices_checked`; a list of more than a
// board's largest polygon must not be given here at all.
struct TracePolygon {
  int count;
  const int* ilist;
  const GrVertex* vlist;
  bool indices_checked;
};

// One call's line. The constructor writes "name(arg, ...)" at once, before the
// call does its work; the line ends when the object goes. A line that cannot
// be written stops the trace with one message on standard error.
class TraceLine {
 public:
  template <typename... Args>
  TraceLine(TraceState& trace, const char* name, const Args&... args) : trace_(trace), name_(name) {
    if (!Tracing(trace_)) return;
    line_ = name;
    line_ += '(';
    (Add(args), ...);
    line_ += ')';
    Write();
  }
  ~TraceLine();
  TraceLine(const TraceLine&) = delete;
  TraceLine& operator=(const TraceLine&) = delete;

  // " refused: reason"; the error callback, if any, is told "name: reason".
  void Refused(const std::string& reason);
  void Returned(long long value);  // " = value"
  void Returned(long long value, const GrHwConfiguration& config);
  void Returned(long long value, const Gu3dfInfo& info);
  void Failed(const std::string& reason);  // " = 0 (reason)"
  void Held(const std::string& limit);     // " held to limit": done, within a bound

 private:
  template <typename T>
  requires std::is_integral_v<T>
  void Add(T value) { Raw(std::to_string(value)); }
  void Add(TraceColor color);
  void Add(TraceFloat number);
  void Add(const char* text);
  void Add(TraceOutput output);
  void Add(TraceData data);
  void Add(const GrTexInfo* info);
  void Add(const Gu3dfInfo* info);
  void Add(const TracePolygon& polygon);
  void Add(TraceVertex vertex);
  void Add(TraceBytes bytes);
  void Add(const TraceVertices& vertices);
  void Raw(const std::string& text);
  void Append(const std::string& text);
  // Writes what the line holds (and its end); never throws, as the
  // destructor writes too.
  void Write(bool end_line = false) noexcept;

  TraceState& trace_;
  const char* name_;
  std::string line_;
  bool first_ = true;
};

}  // namespace softboard
