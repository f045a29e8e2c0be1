#include "trace.h"

#include <cinttypes>
#include <cstdio>
#include <vector>

namespace softboard {
namespace {

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Number(double value) {
  return Format("%g", value);
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

}  // namespace

bool OpenTrace(TraceState& trace, const std::string& path, std::string* error) {
  CloseTrace(trace);
  trace.file = std::fopen(path.c_str(), "w");
  if (trace.file == nullptr) {
    *error = "cannot write the trace file \"" + path + "\"";
    return false;
  }
  return true;
}

void CloseTrace(TraceState& trace) {
  if (trace.file != nullptr) std::fclose(trace.file);
  trace.file = nullptr;
}

TraceLine::TraceLine(TraceState& trace, const char* name) : trace_(trace), line_(name) {
  line_ += '(';
}

TraceLine::~TraceLine() {
  if (trace_.file == nullptr) return;
  line_ += ")\n";
  std::fputs(line_.c_str(), trace_.file);
  std::fflush(trace_.file);
}

void TraceLine::Next() {
  if (!first_) line_ += ", ";
  first_ = false;
}

TraceLine& TraceLine::Int(long long value) {
  Next();
  line_ += std::to_string(value);
  return *this;
}

TraceLine& TraceLine::Color(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08" PRIX32, value);
  return Raw(text);
}

TraceLine& TraceLine::Float(double value) {
  return Raw(Number(value));
}

TraceLine& TraceLine::Text(const char* text) {
  if (text == nullptr) return Raw("null");
  std::string quoted = "\"";
  for (const char* p = text; *p; p++) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\') quoted += '\\';
    if (c < 0x20 || c == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      quoted += hex;
    } else {
      quoted += char(c);
    }
  }
  return Raw(quoted + "\"");
}

TraceLine& TraceLine::Raw(const std::string& text) {
  Next();
  line_ += text;
  return *this;
}

TraceLine& TraceLine::TexInfo(const GrTexInfo* info) {
  if (info == nullptr) return Raw("null");
  char text[160];
  std::snprintf(text, sizeof text,
                "{smallLod=%" PRId32 ", largeLod=%" PRId32 ", aspectRatio=%" PRId32
                ", format=%" PRId32 ", data=%s}",
                info->smallLod, info->largeLod, info->aspectRatio, info->format,
                info->data ? "set" : "null");
  return Raw(text);
}

TraceLine& TraceLine::Info3df(const Gu3dfInfo* info) {
  if (info == nullptr) return Raw("null");
  char text[200];
  std::snprintf(text, sizeof text,
                "{width=%" PRIu32 ", height=%" PRIu32 ", small_lod=%" PRId32 ", large_lod=%" PRId32
                ", aspect_ratio=%" PRId32 ", format=%" PRId32 ", mem_required=%" PRIu32
                ", data=%s}",
                info->header.width, info->header.height, info->header.small_lod,
                info->header.large_lod, info->header.aspect_ratio, info->header.format,
                info->mem_required, info->data ? "set" : "null");
  return Raw(text);
}

TraceLine& TraceLine::HwConfig(const GrHwConfiguration* config) {
  if (config == nullptr) return Raw("null");
  return Raw("{num_sst=" + std::to_string(config->num_sst) + "}");
}

TraceLine& TraceLine::Polygon(int count, const int* ilist, const GrVertex* vlist) {
  Int(count);
  if (ilist == nullptr || count <= 0) return Raw(ilist ? "[]" : "null").Raw(vlist ? "[]" : "null");
  std::string indices = "[";
  std::vector<int> used;
  for (int i = 0; i < count; i++) {
    indices += (i ? ", " : "") + std::to_string(ilist[i]);
    bool seen = false;
    for (int u : used) seen = seen || u == ilist[i];
    if (!seen) used.push_back(ilist[i]);
  }
  Raw(indices + "]");
  if (vlist == nullptr) return Raw("null");
  std::string vertices = "[";
  for (size_t i = 0; i < used.size(); i++) {
    vertices += (i ? ", " : "") + std::to_string(used[i]) + "=";
    vertices += used[i] >= 0 ? VertexFields(vlist[used[i]]) : "invalid";
  }
  return Raw(vertices + "]");
}

}  // namespace softboard
