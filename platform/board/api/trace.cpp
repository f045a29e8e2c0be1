#include "api/trace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "api/process_output.h"
#include "quote.h"

namespace softboard {
namespace {

std::string Number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string VertexFields(const GrVertex& v) {
  std::string s = "{x=" + Number(v.x) + ", y=" + Number(v.y) + ", z=" + Number(v.z) +
                  ", r=" + Number(v.r) + ", g=" + Number(v.g) + ", b=" + Number(v.b) +
                  ", ooz=" + Number(v.ooz) + ", a=" + Number(v.a) + ", oow=" + Number(v.oow);
  for (int i = 0; i < GR_NUM_TMU; i++) {
    const GrTmuVertex& t = v.tmuvtx[i];
    s += ", tmu" + std::to_string(i) + "={sow=" + Number(t.sow) + ", tow=" + Number(t.tow) +
         ", oow=" + Number(t.oow) + "}";
  }
  return s + "}";
}

std::string HeaderFields(const Gu3dfInfo& info) {
  char text[200];
  std::snprintf(
      text, sizeof text,
      "{width=%" PRIu32 ", height=%" PRIu32 ", small_lod=%" PRId32 ", large_lod=%" PRId32
      ", aspect_ratio=%" PRId32 ", format=%" PRId32 ", mem_required=%" PRIu32 ", data=%s}",
      info.header.width, info.header.height, info.header.small_lod, info.header.large_lod,
      info.header.aspect_ratio, info.header.format, info.mem_required, info.data ? "set" : "null");
  return text;
}

}  // namespace

bool OpenTrace(TraceState& trace, const std::string& path, std::string* error) {
  CloseTrace(trace);
  // Not blocking: a pipe with no reader fails at once (ENXIO) rather than
  // holding up the start until one comes.
  const int fd =
      open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
  struct stat st {};
  if (fd < 0) {
    const int err = errno;
    if (err == ENXIO && stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) {
      *error =
          "the trace file " + quote::Quote(path) + " is a pipe with no reader; running untraced";
    } else {
      *error = "cannot write the trace file " + quote::Quote(path) + ": " + std::strerror(err);
    }
    return false;
  }
  // Writes wait as usual: a slow reader slows the program, no line is lost.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  trace.file = fdopen(fd, "w");
  if (trace.file == nullptr) {
    const int err = errno;
    close(fd);
    *error = "cannot write the trace file " + quote::Quote(path) + ": " + std::strerror(err);
    return false;
  }
  trace.path = path;
  trace.pipe = fstat(fd, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
  return true;
}

void CloseTrace(TraceState& trace) {
  if (trace.file == nullptr) return;
  std::optional<SigpipeBlocked> quiet;  // fclose writes what is left
  if (trace.pipe) quiet.emplace();
  std::fclose(trace.file);
  trace.file = nullptr;
}

TraceLine::~TraceLine() {
  if (Tracing(trace_)) Write(true);
}

void TraceLine::Write(bool end_line) noexcept {
  // Flushed line by line: the trace must hold every call made before a crash.
  // A reader that has gone is a failed write, not the end of the program.
  std::optional<SigpipeBlocked> quiet;
  if (trace_.pipe) quiet.emplace();
  if (std::fputs(line_.c_str(), trace_.file) >= 0 &&
      (!end_line || std::fputc('\n', trace_.file) != EOF) && std::fflush(trace_.file) == 0) {
    line_.clear();
    return;
  }
  const int err = errno;
  try {
    Complain("cannot write the trace file " + quote::Quote(trace_.path) + ": " +
             std::strerror(err) + "; tracing stops");
  } catch (...) {  // no memory for the message: the trace stops all the same
  }
  CloseTrace(trace_);
}

void TraceLine::Refused(const std::string& reason) {
  Append(" refused: " + quote::Escape(reason, 1024));
  if (trace_.error_callback) {
    const std::string message = std::string(name_) + ": " + reason;
    trace_.error_callback(message.c_str(), FXFALSE);
  }
}

void TraceLine::Add(TraceBytes b) {
  if (b.bytes == nullptr) return Raw("null");
  std::string text = "[";
  for (int i = 0; i < b.count; i++) {
    if (i) text += ", ";
    text += std::to_string(b.bytes[i]);
  }
  Raw(text + "]");
}

void TraceLine::Add(TraceVertex v) {
  Raw(v.vertex ? VertexFields(*v.vertex) : "null");
}

void TraceLine::Add(const TraceVertices& v) {
  Add(v.count);
  if (v.vlist == nullptr || v.count <= 0) return Raw(v.vlist ? "[]" : "null");
  std::string vertices = "[";
  for (int i = 0; i < v.count; i++) {
    if (i) vertices += ", ";
    vertices += VertexFields(v.vlist[i]);
  }
  Raw(vertices + "]");
}

void TraceLine::Returned(long long value) {
  Append(" = " + std::to_string(value));
}

void TraceLine::Returned(long long value, const GrHwConfiguration& config) {
  Append(" = " + std::to_string(value) + " {num_sst=" + std::to_string(config.num_sst) + "}");
}

void TraceLine::Returned(long long value, const Gu3dfInfo& info) {
  Append(" = " + std::to_string(value) + " " + HeaderFields(info));
}

void TraceLine::Failed(const std::string& reason) {
  Append(" = 0 (" + quote::Escape(reason, 1024) + ")");
}

void TraceLine::Held(const std::string& limit) {
  Append(" held to " + limit);
}

void TraceLine::Append(const std::string& text) {
  if (Tracing(trace_)) line_ += text;
}

void TraceLine::Raw(const std::string& text) {
  if (!first_) line_ += ", ";
  first_ = false;
  line_ += text;
}

void TraceLine::Add(TraceColor color) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08" PRIX32, color.value);
  Raw(text);
}

void TraceLine::Add(TraceFloat number) {
  Raw(Number(number.value));
}

void TraceLine::Add(const char* text) {
  Raw(text ? quote::Quote(text, 4096) : "null");
}

void TraceLine::Add(TraceOutput output) {
  Raw(output.record ? "out" : "null");
}

void TraceLine::Add(TraceData data) {
  Raw(data.data ? "data" : "null");
}

void TraceLine::Add(const GrTexInfo* info) {
  if (info == nullptr) return Raw("null");
  char text[160];
  std::snprintf(text, sizeof text,
                "{smallLod=%" PRId32 ", largeLod=%" PRId32 ", aspectRatio=%" PRId32
                ", format=%" PRId32 ", data=%s}",
                info->smallLod, info->largeLod, info->aspectRatio, info->format,
                info->data ? "set" : "null");
  Raw(text);
}

void TraceLine::Add(const Gu3dfInfo* info) {
  Raw(info ? HeaderFields(*info) : "null");
}

void TraceLine::Add(const TracePolygon& p) {
  Add(p.count);
  if (p.ilist == nullptr || p.count <= 0) {
    Raw(p.ilist ? "[]" : "null");
    return Raw(p.vlist ? "[]" : "null");
  }
  std::string indices = "[";
  std::vector<int> used;
  for (int i = 0; i < p.count; i++) {
    if (i) indices += ", ";
    indices += std::to_string(p.ilist[i]);
    bool seen = false;
    for (int u : used) seen = seen || u == p.ilist[i];
    if (!seen) used.push_back(p.ilist[i]);
  }
  Raw(indices + "]");
  if (p.vlist == nullptr) return Raw("null");
  if (!p.indices_checked) return Raw("unread");
  std::string vertices = "[";
  for (size_t i = 0; i < used.size(); i++) {
    if (i) vertices += ", ";
    vertices += std::to_string(used[i]) + "=" + VertexFields(p.vlist[used[i]]);
  }
  Raw(vertices + "]");
}

}  // namespace softboard
