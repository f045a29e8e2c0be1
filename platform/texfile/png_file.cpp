#include "png_file.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "file_io.h"
#include "quote.h"

namespace texfile {
namespace {

// libpng reports errors through these; the message is kept for the caller and
// control returns to the setjmp of the function that made the png_struct.
struct PngErrors {
  char message[256] = "";
  int write_errno = 0;  // why the file could not be written, when that was it
};

[[noreturn]] void OnPngError(png_structp png, png_const_charp message) {
  auto* errors = static_cast<PngErrors*>(png_get_error_ptr(png));
  std::snprintf(errors->message, sizeof errors->message, "%s", message);
  png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// libpng's own writer says only "Write Error"; this one keeps the reason (a
// full disk, say) for the message.
void WriteToFile(png_structp png, png_bytep data, size_t length) {
  if (std::fwrite(data, 1, length, static_cast<std::FILE*>(png_get_io_ptr(png))) == length) return;
  static_cast<PngErrors*>(png_get_error_ptr(png))->write_errno = errno;
  png_error(png, "Write Error");
}

void FlushFile(png_structp png) {
  std::fflush(static_cast<std::FILE*>(png_get_io_ptr(png)));
}

// Appends to the std::string given as the io pointer; memory that runs out is
// a PNG error, not an exception through libpng's frames.
void WriteToString(png_structp png, png_bytep data, size_t length) {
  try {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), length);
  } catch (const std::bad_alloc&) {
    png_error(png, "out of memory");
  }
}

void FlushNothing(png_structp) {}

// Everything that must survive a longjmp lives here, outside the frames that
// libpng unwinds, and is only read after setjmp returns.
struct ReadJob {
  std::FILE* file = nullptr;
  const PngSizeCheck* accept = nullptr;
  std::string refusal;  // set when `accept` refused the size
  png_uint_32 width = 0, height = 0;
  std::vector<uint8_t> rgba;
  std::vector<png_bytep> rows;
};

bool DecodePng(png_structp png, png_infop info, ReadJob* job) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, job->file);
  png_set_user_limits(png, kMaxPngSide, kMaxPngSide);
  png_read_info(png, info);
  job->width = png_get_image_width(png, info);
  job->height = png_get_image_height(png, info);
  if (uint64_t(job->width) * job->height > kMaxPngPixels) png_error(png, "image too large");
  if (*job->accept && !(*job->accept)(int(job->width), int(job->height), &job->refusal)) {
    if (job->refusal.empty()) job->refusal = "image size refused";
    return false;
  }
  png_set_expand(png);
  png_set_scale_16(png);
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != size_t(job->width) * 4) png_error(png, "unexpected layout");
  job->rgba.resize(size_t(job->width) * job->height * 4);
  job->rows.resize(job->height);
  for (png_uint_32 y = 0; y < job->height; ++y)
    job->rows[y] = &job->rgba[size_t(y) * job->width * 4];
  png_read_image(png, job->rows.data());
  png_read_end(png, nullptr);
  return true;
}

// As ReadJob: what must survive a longjmp, made before setjmp.
struct WriteJob {
  std::FILE* file = nullptr;
  std::string* memory = nullptr;  // written here instead, when set
  int level = -1;                 // zlib's level; -1: libpng's default
  png_uint_32 width = 0, height = 0;
  bool alpha = false;
  const PngRowSource* row = nullptr;
  std::vector<uint32_t> scratch;  // a row, for the source to convert into
  std::vector<uint8_t> bytes;     // a row as the file holds it
};

// Row by row: only one row of the image exists in this form at a time.
bool EncodePng(png_structp png, png_infop info, WriteJob* job) {
  if (setjmp(png_jmpbuf(png))) return false;
  if (job->memory)
    png_set_write_fn(png, job->memory, WriteToString, FlushNothing);
  else
    png_set_write_fn(png, job->file, WriteToFile, FlushFile);
  if (job->level >= 0) png_set_compression_level(png, job->level);
  // In memory (pictures for a terminal, made many times a second): each row
  // filtered by its left neighbour only, a few per cent larger than libpng's
  // choice for each row, in less than half the time.
  if (job->memory) png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  png_set_IHDR(png, info, job->width, job->height, 8,
               job->alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const size_t channels = job->alpha ? 4 : 3;
  for (png_uint_32 y = 0; y < job->height; ++y) {
    const uint32_t* pixels = (*job->row)(int(y), job->scratch.data());
    for (size_t x = 0; x < job->width; ++x) {
      const uint32_t p = pixels[x];
      uint8_t* out = &job->bytes[x * channels];
      out[0] = uint8_t(p >> 16);
      out[1] = uint8_t(p >> 8);
      out[2] = uint8_t(p);
      if (job->alpha) out[3] = uint8_t(p >> 24);
    }
    png_write_row(png, job->bytes.data());
  }
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

bool WritePng(const std::string& path, const uint32_t* pixels, int width, int height,
              bool with_alpha, std::string* error) {
  if (!pixels) width = 0;
  return WritePngRows(
      path, width, height, with_alpha,
      [&](int y, uint32_t*) { return pixels + size_t(y) * size_t(width); }, error);
}

bool WritePngRows(const std::string& path, int width, int height, bool with_alpha,
                  const PngRowSource& row, std::string* error) {
  if (!row || width <= 0 || height <= 0 || width > kMaxPngSide || height > kMaxPngSide) {
    if (error) *error = quote::Escape(path) + ": no image to write";
    return false;
  }
  WriteJob job{nullptr, nullptr, -1, png_uint_32(width), png_uint_32(height), with_alpha,
               &row,    {},      {}};
  job.scratch.resize(size_t(width));
  job.bytes.resize(size_t(width) * (with_alpha ? 4 : 3));
  return WriteFileAtomically(
      path,
      [&](std::FILE* file, std::string* reason) {
        PngErrors errors;
        png_structp png =
            png_create_write_struct(PNG_LIBPNG_VER_STRING, &errors, OnPngError, OnPngWarning);
        png_infop info = png ? png_create_info_struct(png) : nullptr;
        job.file = file;
        const bool ok = info && EncodePng(png, info, &job);
        if (!ok && errors.write_errno != 0)
          *reason = std::string("cannot write: ") + std::strerror(errors.write_errno);
        else if (!ok)
          *reason = std::string("cannot write PNG: ") + (png ? errors.message : "out of memory");
        png_destroy_write_struct(&png, &info);
        return ok;
      },
      error);
}

bool EncodePngInMemory(int width, int height, bool with_alpha, const PngRowSource& row, int level,
                       std::string* out, std::string* error) {
  if (!row || width <= 0 || height <= 0 || width > kMaxPngSide || height > kMaxPngSide) {
    if (error) *error = "no image to encode";
    return false;
  }
  const size_t start = out->size();
  bool ok = false;
  PngErrors errors;
  png_structp png = nullptr;
  png_infop info = nullptr;
  try {
    WriteJob job{nullptr,
                 out,
                 std::clamp(level, 1, 9),
                 png_uint_32(width),
                 png_uint_32(height),
                 with_alpha,
                 &row,
                 std::vector<uint32_t>(size_t(width)),
                 std::vector<uint8_t>(size_t(width) * (with_alpha ? 4 : 3))};
    png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &errors, OnPngError, OnPngWarning);
    info = png ? png_create_info_struct(png) : nullptr;
    ok = info && EncodePng(png, info, &job);
  } catch (const std::bad_alloc&) {
    std::snprintf(errors.message, sizeof errors.message, "out of memory");
  }
  if (!ok && error)
    *error = std::string("cannot encode PNG: ") + (png ? errors.message : "out of memory");
  png_destroy_write_struct(&png, &info);
  if (!ok) out->resize(start);
  return ok;
}

bool ReadPng(const std::string& path, std::vector<uint32_t>* pixels, int* width, int* height,
             std::string* error, const PngSizeCheck& accept) {
  auto fail = [&](const std::string& reason) {
    if (error) *error = quote::Escape(path) + ": " + reason;
    return false;
  };
  ReadJob job;
  job.accept = &accept;
  job.file = OpenRegularFile(path, error);
  if (!job.file) return false;
  png_byte signature[8] = {};
  if (std::fread(signature, 1, 8, job.file) != 8 || png_sig_cmp(signature, 0, 8) != 0) {
    std::fclose(job.file);
    return fail("not a PNG file");
  }
  PngErrors errors;
  png_structp png =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, &errors, OnPngError, OnPngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  bool ok = false;
  if (info) {
    png_set_sig_bytes(png, 8);
    ok = DecodePng(png, info, &job);
  } else {
    std::snprintf(errors.message, sizeof errors.message, "out of memory");
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(job.file);
  if (!job.refusal.empty()) return fail(job.refusal);
  if (!ok) return fail(std::string("cannot read PNG: ") + errors.message);
  pixels->resize(size_t(job.width) * job.height);
  for (size_t i = 0; i < pixels->size(); ++i) {
    const uint8_t* p = &job.rgba[i * 4];
    (*pixels)[i] = uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
  }
  *width = int(job.width);
  *height = int(job.height);
  return true;
}

}  // namespace texfile
