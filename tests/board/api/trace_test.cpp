#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "api/trace.h"

namespace softboard {
namespace {

class Trace : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = ::testing::TempDir() + "trace_test_" + std::to_string(getpid()) + ".txt";
    std::string error;
    ASSERT_TRUE(OpenTrace(trace_, path_, &error)) << error;
  }
  void TearDown() override {
    CloseTrace(trace_);
    std::remove(path_.c_str());
  }
  std::string Written() {
    std::ifstream in(path_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  TraceState trace_;
  std::string path_;
};

TEST_F(Trace, LinesAreWrittenAsTheyHappen) {
  { TraceLine line(trace_, "grLibInit"); }
  EXPECT_EQ(Written(), "grLibInit()\n") << "flushed at once";
  {
    TraceLine line(trace_, "grBufferClear", TraceColor{0xFF000000}, 0, uint16_t(65535));
    EXPECT_EQ(Written(), "grLibInit()\ngrBufferClear(0xFF000000, 0, 65535)")
        << "the call is on disk before its work starts";
  }
  { TraceLine line(trace_, "grConstantColorValue", TraceColor{0x80}); }
  EXPECT_EQ(Written(),
            "grLibInit()\ngrBufferClear(0xFF000000, 0, 65535)\ngrConstantColorValue(0x00000080)\n");
}

TEST_F(Trace, FloatsTextAndRecords) {
  { TraceLine line(trace_, "f", TraceFloat{0.01}, TraceFloat{100.0}, TraceFloat{-0.0}, "a\"b\n"); }
  GrTexInfo info{8, 0, 2, 10, nullptr};
  const GrTexInfo* none = nullptr;
  const char* no_text = nullptr;
  { TraceLine line(trace_, "t", static_cast<const GrTexInfo*>(&info), none, no_text); }
  EXPECT_EQ(Written(),
            "f(0.01, 100, -0, \"a\\\"b\\x0A\")\n"
            "t({smallLod=8, largeLod=0, aspectRatio=2, format=10, data=null}, null, null)\n");
}

TEST_F(Trace, OutcomesFollowTheCallOnItsLine) {
  GrHwConfiguration config{};
  config.num_sst = 1;
  {
    TraceLine line(trace_, "q", TraceOutput{&config});
    line.Returned(1, config);
  }
  {
    TraceLine line(trace_, "r", TraceOutput{nullptr});
    line.Refused("null record");
  }
  {
    TraceLine line(trace_, "g", "x.3df");
    line.Failed(std::string("x.3df: bad\x1b[2J"));
  }
  EXPECT_EQ(Written(),
            "q(out) = 1 {num_sst=1}\n"
            "r(null) refused: null record\n"
            "g(\"x.3df\") = 0 (x.3df: bad\\x1B[2J)\n")
      << "control bytes in reasons are escaped";
}

TEST_F(Trace, PolygonListsEachUsedVertexOnce) {
  GrVertex v[4] = {};
  v[0].x = 1;
  v[2].x = 3;
  v[2].tmuvtx[0].sow = 2.56f;
  const int ilist[4] = {2, 0, 2, 0};
  { TraceLine line(trace_, "grDrawPolygon", TracePolygon{4, ilist, v, true}); }
  const std::string line = Written();
  EXPECT_EQ(line.rfind("grDrawPolygon(4, [2, 0, 2, 0], [2={x=3, y=0, z=0, r=0, g=0, b=0, "
                       "ooz=0, a=0, oow=0, tmu0={sow=2.56, tow=0, oow=0}, tmu1={sow=0, "
                       "tow=0, oow=0}}, 0={x=1,",
                       0),
            0u)
      << line;
  EXPECT_EQ(line.find("}, 1={"), std::string::npos) << "vertex 1 is not used";
}

TEST_F(Trace, UncheckedIndicesNeverReadVertices) {
  const int ilist[3] = {0, 1 << 28, 2};
  const GrVertex* far_away = reinterpret_cast<const GrVertex*>(uintptr_t{16});
  { TraceLine line(trace_, "grDrawPolygon", TracePolygon{3, ilist, far_away, false}); }
  EXPECT_EQ(Written(), "grDrawPolygon(3, [0, 268435456, 2], unread)\n");
}

TEST(TraceOpen, UnwritablePathIsReportedWithTheReason) {
  TraceState trace;
  std::string error;
  EXPECT_FALSE(OpenTrace(trace, "/nonexistent-dir/trace.txt", &error));
  EXPECT_NE(error.find("/nonexistent-dir/trace.txt"), std::string::npos);
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
  EXPECT_FALSE(Tracing(trace));
  TraceLine line(trace, "ignored", 1);  // writes nothing, crashes nothing
}

// A trace into a pipe works when something reads it; with no reader the open
// fails at once, saying so, rather than waiting for one.
TEST(TraceOpen, APipeIsTracedWhenReadAndRefusedAtOnceWhenNot) {
  const std::string fifo = ::testing::TempDir() + "trace_fifo_" + std::to_string(getpid());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  TraceState trace;
  std::string error;
  EXPECT_FALSE(OpenTrace(trace, fifo, &error)) << "no reader: no trace, and no wait";
  EXPECT_EQ(error, "the trace file \"" + fifo + "\" is a pipe with no reader; running untraced");
  EXPECT_FALSE(Tracing(trace));

  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  ASSERT_TRUE(OpenTrace(trace, fifo, &error)) << error;
  { TraceLine line(trace, "grBufferSwap", 1); }
  char got[64] = {};
  EXPECT_EQ(read(reader, got, sizeof got - 1), 16);
  EXPECT_STREQ(got, "grBufferSwap(1)\n");
  CloseTrace(trace);
  close(reader);
  std::remove(fifo.c_str());
}

// The reader of a traced pipe goes away: the next line fails with one
// message, tracing stops and the process lives on, SIGPIPE's disposition
// (the default, which ends the process) untouched.
TEST(TraceOpen, AReaderThatGoesAwayStopsTheTraceNotTheProgram) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const std::string path = "/dev/fd/" + std::to_string(ends[1]);
  TraceState trace;
  std::string error;
  ASSERT_TRUE(OpenTrace(trace, path, &error)) << error;
  close(ends[1]);
  { TraceLine line(trace, "grLibInit"); }
  close(ends[0]);  // the reader goes
  struct sigaction before {};
  sigaction(SIGPIPE, nullptr, &before);
  ASSERT_EQ(before.sa_handler, SIG_DFL);
  testing::internal::CaptureStderr();
  for (int i = 0; i < 3; i++) TraceLine line(trace, "grBufferSwap", 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "softboard: cannot write the trace file \"" +
                                                        path + "\": Broken pipe; tracing stops\n");
  EXPECT_FALSE(Tracing(trace));
  sigset_t pending;
  sigpending(&pending);
  EXPECT_FALSE(sigismember(&pending, SIGPIPE)) << "nothing left to deliver later";
  struct sigaction after {};
  sigaction(SIGPIPE, nullptr, &after);
  EXPECT_EQ(after.sa_handler, SIG_DFL);
}

TEST(TraceOpen, AFullDeviceStopsTheTraceWithOneMessage) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  TraceState trace;
  std::string error;
  ASSERT_TRUE(OpenTrace(trace, "/dev/full", &error)) << error;
  testing::internal::CaptureStderr();
  for (int i = 0; i < 3; i++) TraceLine line(trace, "grBufferSwap", 1);
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(Tracing(trace));
  EXPECT_EQ(said,
            "softboard: cannot write the trace file \"/dev/full\": No space left on device; "
            "tracing stops\n");
}

}  // namespace
}  // namespace softboard
