// Files written whole or not at all: whatever the name's length, whatever
// ends the process during the write, nothing partial is left beside them.
#include "file_io.h"
#include "file_io_named.h"
#include "under_emulator.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <ostream>
#include <stdexcept>
#include <string>

#include "texfile/texture_test_support.h"

namespace texfile {
namespace {

using texture_test::TempDir;

// Both ways a file is written: with no name until it is whole, and (where
// the file system has no unnamed files) through a named temporary file.
using WriteFunction = bool (*)(const std::string&, const FileWriter&, std::string*);
struct Way {
  const char* name;
  WriteFunction write;
};
const Way kWays[] = {{"unnamed", &WriteFileAtomically}, {"named", &WriteFileThroughTempName}};
void PrintTo(const Way& way, std::ostream* out) {
  *out << way.name;
}

class FileWrite : public testing::TestWithParam<Way> {
 protected:
  bool Write(const std::string& path, const std::string& text, std::string* error) {
    return GetParam().write(
        path,
        [&](std::FILE* file, std::string*) {
          return std::fwrite(text.data(), 1, text.size(), file) == text.size();
        },
        error);
  }
  std::string Text(const std::string& path) {
    const auto bytes = texture_test::ReadBytes(path);
    return {bytes.begin(), bytes.end()};
  }
  TempDir dir_;
};

// 255 bytes is the longest name most file systems take: it is written, and
// written over, with no temporary name too long to make.
TEST_P(FileWrite, TheLongestNameIsWrittenAndReplaced) {
  for (size_t length : {254, 255}) {
    const std::string path = dir_.File(std::string(length - 4, 'a') + ".png");
    std::string error;
    ASSERT_TRUE(Write(path, "first", &error)) << length << ": " << error;
    ASSERT_TRUE(Write(path, "second", &error)) << length << ": " << error;
    EXPECT_EQ(Text(path), "second");
    EXPECT_EQ(dir_.Entries().size(), 1u) << "no temporary file left";
    std::remove(path.c_str());
  }
}

TEST_P(FileWrite, AFailedOrThrowingWriterLeavesTheOldFile) {
  const std::string path = dir_.File("kept.txt");
  std::string error;
  ASSERT_TRUE(Write(path, "old", &error)) << error;
  EXPECT_FALSE(GetParam().write(
      path,
      [](std::FILE* file, std::string* reason) {
        std::fputs("half", file);
        *reason = "gave up";
        return false;
      },
      &error));
  EXPECT_EQ(error, path + ": gave up");
  EXPECT_THROW(GetParam().write(
                   path,
                   [](std::FILE* file, std::string*) -> bool {
                     std::fputs("half", file);
                     throw std::runtime_error("no");
                   },
                   &error),
               std::runtime_error);
  EXPECT_EQ(Text(path), "old");
  EXPECT_EQ(dir_.Entries(), std::vector<std::string>{"kept.txt"});
}

// A signal that ends the process in the middle of a write: the handler that
// was there still runs, the process ends by the signal, and nothing is left.
// A signal the process ignores changes nothing. Each case runs in a fresh
// process of this test program.
TEST_P(FileWrite, ASignalDuringTheWriteLeavesNothing) {
  if (kUnderEmulator) GTEST_SKIP() << kNotUnderEmulator;
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const char* made = std::getenv("FILE_IO_TEST_DIR");  // the test's own process made it
  const std::string dir = made ? made : dir_.path();
  setenv("FILE_IO_TEST_DIR", dir.c_str(), 1);
  const std::string path = dir + "/shot.png";
  const WriteFunction write = GetParam().write;
  const auto interrupted = [&](int sig) {
    if (made) rmdir(dir_.path().c_str());  // this process's own, unused
    struct sigaction said {};
    said.sa_handler = [](int s) {
      const char text[] = "handler ran\n";
      [[maybe_unused]] ssize_t n = ::write(2, text, sizeof text - 1);
      raise(s);
    };
    said.sa_flags = SA_RESETHAND;
    sigaction(SIGTERM, &said, nullptr);
    signal(SIGINT, SIG_IGN);
    std::string error;
    const bool ok = write(
        path,
        [&](std::FILE* file, std::string*) {
          std::fputs("half", file);
          std::fflush(file);
          raise(sig);
          std::fputs(" and the rest", file);
          return true;
        },
        &error);
    std::exit(ok ? 0 : 1);
  };
  EXPECT_EXIT(interrupted(SIGTERM), testing::KilledBySignal(SIGTERM), "^handler ran\n$");
  EXPECT_EXIT(interrupted(SIGHUP), testing::KilledBySignal(SIGHUP), "^$");
  EXPECT_EQ(TempDir::EntriesOf(dir), std::vector<std::string>{}) << GetParam().name;
  EXPECT_EXIT(interrupted(SIGINT), testing::ExitedWithCode(0), "^$") << "ignored, as it was";
  EXPECT_EQ(Text(path), "half and the rest");
  unsetenv("FILE_IO_TEST_DIR");
}

INSTANTIATE_TEST_SUITE_P(Ways, FileWrite, testing::ValuesIn(kWays),
                         [](const testing::TestParamInfo<Way>& info) { return info.param.name; });

}  // namespace
}  // namespace texfile
