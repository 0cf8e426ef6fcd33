// The polygon builder: corners land on corners, the tolerance decides how
// closely a curve is followed, the long-chain merge, the paging of the edge
// list and the vertex list into their stores, the rebuild past 8064
// vertices, the shared vertex of crossing skeleton lines, and the junction
// snap on hand-made junction lists.
#include <cmath>

#include "engine/junctions.h"
#include "tests/engine/tracer_fixture.h"

namespace {

using PolygonTest = OutlineTest;

void DrawDisc(int cx, int cy, int r, int on = 1) {
  for (int y = cy - r; y <= cy + r; ++y)
    for (int x = cx - r; x <= cx + r; ++x)
      if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) SetWorkPixel(x, y, on);
}

void DrawComb(int teeth, int height) {
  for (int t = 0; t < teeth; ++t) FillRect(2 + 3 * t, 2, 4 + 3 * t, 2 + height);
  FillRect(2, 2 + height, 1 + 3 * teeth, 5 + height);
}

std::vector<std::pair<int, int>> Points(const std::vector<VertexRecord>& v) {
  std::vector<std::pair<int, int>> p;
  for (const auto& r : v) p.push_back({r.x, r.y});
  return p;
}

TEST_F(PolygonTest, RectangleGivesItsFourCornersAndTheClosingVertex) {
  MakeBitmapImage(64, 40);
  FillRect(10, 10, 40, 30);
  BeginConversion();
  StartObjectSearch();
  ASSERT_GT(TraceNextObject(), 0);
  BuildPolygon();
  std::vector<std::pair<int, int>> expected = {{10, 10}, {39, 10}, {39, 29}, {10, 29}, {10, 10}};
  EXPECT_EQ(Points(Vertices()), expected);
  EXPECT_EQ(inkFlag, 1);
  // Each vertex remembers where it lies in the chain.
  std::vector<VertexRecord> v = Vertices();
  EXPECT_EQ(v[0].chainOffset, 4);
  EXPECT_EQ(v[1].chainOffset, 4 + 29);
  EXPECT_EQ(v[4].chainOffset, 4 + 2 * 29 + 2 * 19);
}

TEST_F(PolygonTest, LowerToleranceFollowsACurveMoreClosely) {
  int counts[2];
  for (int k = 0; k < 2; ++k) {
    MakeBitmapImage(120, 120);
    DrawDisc(60, 60, 50);
    BeginConversion();
    gConvSettings->tolerance = k == 0 ? 10 : 50;
    ComputeFittingParameters();
    StartObjectSearch();
    ASSERT_GT(TraceNextObject(), 0);
    BuildPolygon();
    counts[k] = vertexCount;
    EndConversion();
  }
  EXPECT_GT(counts[0], counts[1]);
  EXPECT_GT(counts[1], 8);
}

TEST_F(PolygonTest, LongChainMergeTable) {
  MakeBitmapImage(32, 8);
  BeginConversion();
  struct Case {
    std::vector<int> in, out;
  } cases[] = {
      {{0, 3}, {1}},       {{0, 4}, {}},          {{1, 5}, {}},          {{7, 5}, {6}},
      {{5, 5}, {5, 5}},    {{5, 7, 1}, {7}},      {{2, 6, 5}, {5}},      {{6, 3, 3}, {4}},
      {{3, 7, 4, 0}, {}},  {{1, 3, 5}, {3}},
  };
  for (const Case& c : cases) {
    PagedReset(&chainPages, chainArea, chainAreaSize, kStoreEdgearr, 1);
    for (size_t i = 0; i < c.in.size(); ++i) SetChainByte(4 + static_cast<int32_t>(i), static_cast<uint8_t>(c.in[i]));
    SetChainByte(4 + static_cast<int32_t>(c.in.size()), 0xFF);
    chainCodes = chainStepCount = static_cast<int32_t>(c.in.size());
    MergeLongChain();
    std::vector<int> got = ChainCodes();
    EXPECT_EQ(got, c.out) << ::testing::PrintToString(c.in);
    EXPECT_EQ(ChainByte(4 + chainCodes), 0xFF);
  }
  // The step count keeps the new length only when 201 bytes or more went.
  for (int pairs : {300, 150}) {
    PagedReset(&chainPages, chainArea, chainAreaSize, kStoreEdgearr, 1);
    for (int i = 0; i < pairs; ++i) {
      SetChainByte(4 + 2 * i, 0);
      SetChainByte(5 + 2 * i, 3);
    }
    chainCodes = chainStepCount = 2 * pairs;
    MergeLongChain();
    EXPECT_EQ(chainCodes, pairs);
    EXPECT_EQ(chainStepCount, pairs >= 201 ? pairs : 0);
  }
}

TEST_F(PolygonTest, PagingIntoSeglistAndLinarrGivesTheSamePolygon) {
  std::vector<std::pair<int, int>> lists[2];
  for (int k = 0; k < 2; ++k) {
    MakeBitmapImage(200, 60);
    DrawComb(40, 40);
    if (k == 0) BeginConversion();
    else BeginConversion(0, 64, 64);  // 8 vertex records, 16 edge points a page
    StartObjectSearch();
    ASSERT_GT(TraceNextObject(), 0);
    BuildPolygon();
    lists[k] = Points(Vertices());
    if (k == 1) {
      EXPECT_TRUE(FileExists(PathIn("linarr").c_str()));
      EXPECT_TRUE(FileExists(PathIn("seglist").c_str()));
    }
    EndConversion();
  }
  EXPECT_GT(lists[0].size(), 60u);
  EXPECT_EQ(lists[1], lists[0]);
}

TEST_F(PolygonTest, MoreThan8064VerticesRebuildsWithTwiceTheTolerance) {
  MakeBitmapImage(8500, 12);
  for (int t = 0; t < 2800; ++t) FillRect(2 + 3 * t, 2, 4 + 3 * t, 6);  // 2-pixel teeth
  FillRect(2, 6, 8400, 9);
  BeginConversion();
  StartObjectSearch();
  ASSERT_GT(TraceNextObject(), 0);
  BuildPolygon();
  EXPECT_LE(vertexCount, 8065);
  EXPECT_GT(vertexCount, 4);
}

TEST_F(PolygonTest, CrossingSkeletonLinesShareOneVertex) {
  MakeBitmapImage(64, 64);
  FillRect(10, 30, 50, 31);  // horizontal line
  FillRect(30, 10, 31, 50);  // vertical line
  BeginConversion();
  tracingMode = 1;
  StartObjectSearch();
  ASSERT_GT(TraceNextObject(), 0);
  BuildPolygon();
  int atCrossing = 0;
  for (const auto& v : Vertices())
    if (std::abs(v.x - 30) <= 1 && std::abs(v.y - 30) <= 1) ++atCrossing;
  EXPECT_GE(atCrossing, 2) << "the walk passes the crossing on each line";
}

class JunctionSnapTest : public OutlineTest {
 protected:
  void SetUp() override {
    OutlineTest::SetUp();
    MakeBitmapImage(100, 40);
    BeginConversion();
    list_ = {{0, kJunctionTopSentinel}, {20, 10}, {40, 10}, {70, 12}, {0, kJunctionEndSentinel}};
    used_ = {0};
    JunctionList = list_.data();
    junctionCount = static_cast<int32_t>(list_.size());
    JunctionUsedBits = used_.data();
    junctionSearchIndex = 0;
    PagedReset(&vertexPages, pointArea, pointAreaSize, kStoreLinarr, 8);
  }
  void TearDown() override {
    JunctionList = nullptr;
    junctionCount = 0;
    JunctionUsedBits = nullptr;
    OutlineTest::TearDown();
  }
  void SetPolygon(const std::vector<std::pair<int, int>>& pts) {
    vertexCount = static_cast<int32_t>(pts.size());
    for (size_t i = 0; i < pts.size(); ++i)
      PutVertex(static_cast<int32_t>(i), {static_cast<int16_t>(pts[i].first), static_cast<int16_t>(pts[i].second), 0, 0});
    PutVertex(vertexCount, {-1, -1, 0, 0});
  }
  std::vector<JunctionPoint> list_;
  std::vector<uint16_t> used_;
};

TEST_F(JunctionSnapTest, VerticesMoveOntoNearJunctionsAndMarkThemUsed) {
  tracingMode = 1;
  SetPolygon({{22, 11}, {30, 11}, {42, 12}, {60, 30}, {41, 9}});
  EXPECT_EQ(JunctionForVertex(0), 1) << "asking changes nothing";
  EXPECT_EQ(GetVertex(0).x, 22);
  EXPECT_FALSE(JunctionUsed(1));
  EXPECT_EQ(SnapToJunction(0), 1);
  EXPECT_EQ(GetVertex(0).x, 20);
  EXPECT_EQ(GetVertex(0).y, 10);
  EXPECT_TRUE(JunctionUsed(1));
  EXPECT_FALSE(JunctionUsed(2));

  EXPECT_EQ(SnapToJunction(1), 0) << "8 pixels away: too far";
  EXPECT_EQ(GetVertex(1).x, 30);
  EXPECT_EQ(SnapToJunction(3), 0);

  EXPECT_EQ(SnapToJunction(2), 1);
  EXPECT_EQ(GetVertex(2).x, 40);
  EXPECT_TRUE(JunctionUsed(2));
  // A used junction takes the next vertex near it without a new mark.
  EXPECT_EQ(SnapToJunction(4), 1);
  EXPECT_EQ(GetVertex(4).x, 40);
  EXPECT_EQ(GetVertex(4).y, 10);
  EXPECT_FALSE(JunctionUsed(3));
}

TEST_F(JunctionSnapTest, OutliningLeavesVerticesWhereTheyAre) {
  tracingMode = 0;
  SetPolygon({{22, 11}, {30, 11}});
  EXPECT_EQ(SnapToJunction(0), 0);
  EXPECT_EQ(GetVertex(0).x, 22);
  EXPECT_FALSE(JunctionUsed(1));
}

TEST_F(JunctionSnapTest, FarOffTheEdgeTheSnapIsRefused) {
  // A long edge and a junction well off its line: the snap is refused.
  tracingMode = 1;
  SetPolygon({{66, 15}, {96, 15}});
  list_[3] = {66, 10};  // 5 rows off a 30-pixel horizontal edge
  EXPECT_EQ(SnapToJunction(0), 0);
  EXPECT_EQ(GetVertex(0).y, 15);
}

}  // namespace
