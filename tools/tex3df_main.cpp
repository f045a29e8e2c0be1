// tex3df: converts PNG images to 3DF textures and back, and describes 3DF files.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "decimal.h"
#include "png_file.h"
#include "quote.h"
#include "tex3df_codec.h"
#include "texel_formats.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kFailure = 1;

constexpr char kUsage[] =
    "usage: tex3df encode IN.png OUT.3df [--format FORMAT] [--no-mipmaps]\n"
    "       tex3df decode IN.3df OUT.png [--level N]\n"
    "       tex3df info IN.3df\n"
    "FORMAT: rgb565 (default), argb1555, argb4444, rgb332, argb8332, a8, i8, ai44, ai88\n"
    "decode --level: 0 is the largest level\n"
    "tex3df info explains why a file is refused.\n";

int Usage(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "tex3df: %s\n", problem.c_str());
  std::fputs(kUsage, stderr);
  return kUsageError;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "tex3df: %s\n", message.c_str());
  return kFailure;
}

struct Arguments {
  std::string command;
  std::vector<std::string> files;
  std::string format = "rgb565";
  bool mipmaps = true;
  std::optional<std::string> level;  // none: 0
  bool help = false;
};

// Options may come anywhere after the command; each is allowed only by its command.
bool Parse(int argc, char** argv, Arguments* args, std::string* problem) {
  if (argc < 2) return false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      args->help = true;
      return true;
    }
  }
  args->command = argv[1];
  const bool encode = args->command == "encode", decode = args->command == "decode";
  if (!encode && !decode && args->command != "info") {
    *problem = "unknown command " + quote::Quote(args->command);
    return false;
  }
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) {
        *problem = arg + " needs a value";
        return false;
      }
      *out = argv[++i];
      return true;
    };
    if (encode && arg == "--format") {
      if (!value(&args->format)) return false;
    } else if (encode && arg == "--no-mipmaps") {
      args->mipmaps = false;
    } else if (decode && arg == "--level") {
      if (!value(&args->level.emplace())) return false;
    } else if (arg.size() > 1 && arg[0] == '-') {
      *problem = "unknown option " + quote::Quote(arg) + " for " + args->command;
      return false;
    } else {
      args->files.push_back(arg);
    }
  }
  const size_t wanted = args->command == "info" ? 1 : 2;
  if (args->files.size() != wanted) {
    *problem = args->command + " takes " + (wanted == 1 ? "one file" : "two files");
    return false;
  }
  return true;
}

int Encode(const Arguments& args) {
  const int format = texfile::TextureFormatFromName(args.format);
  if (!tex3df::IsEncodableFormat(format))
    return Usage("unknown --format " + quote::Quote(args.format));
  tex3df::Image image;
  std::string error;
  // The size is judged from the header, before a large image is decoded.
  if (!texfile::ReadPng(args.files[0], &image.pixels, &image.width, &image.height, &error,
                        tex3df::CheckTextureSize))
    return Fail(error);
  texfile::Texture3df tex;
  if (!tex3df::EncodeTexture(image, format, args.mipmaps, &tex, &error))
    return Fail(quote::Escape(args.files[0]) + ": " + error);
  if (!texfile::Write3dfFile(args.files[1], tex, &error)) return Fail(error);
  return EXIT_SUCCESS;
}

int Decode(const Arguments& args) {
  texfile::Texture3df tex;
  std::string error;
  if (!texfile::Read3dfFile(args.files[0], &tex, &error)) return Fail(error);
  const int levels = texfile::LevelCount(tex);
  int level = 0;
  if (args.level) {
    const std::string& text = *args.level;
    uint64_t n = 0;
    if (!quote::ParseDigits(text, uint64_t(levels - 1), &n)) {
      return Fail(quote::Escape(args.files[0]) + ": no level " + quote::Quote(text) +
                  "; it has levels 0 to " + std::to_string(levels - 1));
    }
    level = int(n);
  }
  const tex3df::Image image = tex3df::DecodeLevel(tex, level);
  if (!texfile::WritePng(args.files[1], image.pixels.data(), image.width, image.height,
                         texfile::HasAlpha(tex.format), &error))
    return Fail(error);
  return EXIT_SUCCESS;
}

int Info(const Arguments& args) {
  texfile::Texture3df tex;
  std::string error;
  if (!texfile::Read3dfFile(args.files[0], &tex, &error)) return Fail(error);
  const auto largest = texfile::LevelDimensions(tex.large_lod, tex.aspect);
  const int table = texfile::HasNccTable(tex.format)  ? 80
                    : texfile::HasPalette(tex.format) ? 1024
                                                      : 0;
  std::printf("file: %s\n", quote::Escape(args.files[0]).c_str());
  std::printf("format: %s\n", texfile::TextureFormatName(tex.format));
  std::printf("size: %dx%d\n", largest.width, largest.height);
  std::printf("lod range: %d %d (lod %d to %d)\n", texfile::SideOfLod(tex.small_lod),
              texfile::SideOfLod(tex.large_lod), tex.large_lod, tex.small_lod);
  const auto ratio = texfile::AspectRatio(tex.aspect);
  std::printf("aspect ratio: %d %d\n", ratio.width, ratio.height);
  std::printf("levels: %d:", texfile::LevelCount(tex));
  for (int lod = tex.large_lod; lod <= tex.small_lod; ++lod) {
    const auto size = texfile::LevelDimensions(lod, tex.aspect);
    std::printf(" %dx%d", size.width, size.height);
  }
  std::printf("\nbytes: %zu of texels (mem_required), %d of table\n", tex.texels.size(), table);
  return std::fflush(stdout) == 0 ? EXIT_SUCCESS : Fail("cannot write to standard output");
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  std::string problem;
  if (!Parse(argc, argv, &args, &problem)) return Usage(problem);
  if (args.help) {
    std::fputs(kUsage, stdout);
    return std::fflush(stdout) == 0 ? EXIT_SUCCESS : kFailure;
  }
  if (args.command == "encode") return Encode(args);
  if (args.command == "decode") return Decode(args);
  return Info(args);
}
