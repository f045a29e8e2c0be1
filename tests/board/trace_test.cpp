#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "trace.h"

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
  TraceLine(trace_, "grLibInit");
  EXPECT_EQ(Written(), "grLibInit()\n") << "flushed at once";
  TraceLine(trace_, "grBufferClear").Color(0xFF000000).Int(0).Int(65535);
  TraceLine(trace_, "grConstantColorValue").Color(0x80);
  EXPECT_EQ(Written(),
            "grLibInit()\ngrBufferClear(0xFF000000, 0, 65535)\ngrConstantColorValue(0x00000080)\n");
}

TEST_F(Trace, FloatsTextAndRecords) {
  TraceLine(trace_, "f").Float(0.01).Float(100.0).Float(2.56).Float(-0.0).Text("a\"b\n");
  GrTexInfo info{8, 0, 2, 10, nullptr};
  TraceLine(trace_, "t").TexInfo(&info).TexInfo(nullptr).Text(nullptr);
  EXPECT_EQ(Written(),
            "f(0.01, 100, 2.56, -0, \"a\\\"b\\x0A\")\n"
            "t({smallLod=8, largeLod=0, aspectRatio=2, format=10, data=null}, null, null)\n");
}

TEST_F(Trace, PolygonListsEachUsedVertexOnce) {
  GrVertex v[4] = {};
  v[0].x = 1;
  v[2].x = 3;
  v[2].tmuvtx[0].sow = 2.56f;
  const int ilist[4] = {2, 0, 2, 0};
  TraceLine(trace_, "grDrawPolygon").Polygon(4, ilist, v);
  const std::string line = Written();
  EXPECT_EQ(line.rfind("grDrawPolygon(4, [2, 0, 2, 0], [2={x=3, y=0, z=0, r=0, g=0, b=0, "
                       "ooz=0, a=0, oow=0, tmu0={sow=2.56, tow=0, oow=0}, tmu1={sow=0, "
                       "tow=0, oow=0}}, 0={x=1,",
                       0),
            0u)
      << line;
  EXPECT_EQ(line.find("}, 1={"), std::string::npos) << "vertex 1 is not used";
}

TEST(TraceOpen, UnwritablePathIsReported) {
  TraceState trace;
  std::string error;
  EXPECT_FALSE(OpenTrace(trace, "/nonexistent-dir/trace.txt", &error));
  EXPECT_NE(error.find("/nonexistent-dir/trace.txt"), std::string::npos);
  EXPECT_FALSE(Tracing(trace));
  TraceLine(trace, "ignored").Int(1);  // writes nothing, crashes nothing
}

}  // namespace
}  // namespace softboard
