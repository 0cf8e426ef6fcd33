// Curve flattening: the parameters chosen by the length of each half, the
// recorded points, and the drawn pieces.
#include "art/flatten.h"

#include "core/records.h"
#include "tests/support/support.h"

namespace {

class FlattenTest : public TessTest {
 protected:
  // A straight "curve" from (0, 0) to (2 half, 0) whose midpoint is (half, 0)
  // and whose point at t is (2 half t, 0).
  void StraightCurve(int32_t half) {
    const int32_t x[4] = {0, 2 * half / 3, 4 * half / 3, 2 * half};
    for (int k = 0; k < 4; ++k) {
      curvePoints[k][0] = x[k] * 65536;
      curvePoints[k][1] = 0;
    }
    // Control points at exact thirds (16.16) keep the curve linear in t.
    curvePoints[1][0] = static_cast<int32_t>(static_cast<int64_t>(2 * half) * 65536 / 3);
    curvePoints[2][0] = static_cast<int32_t>(static_cast<int64_t>(4 * half) * 65536 / 3);
  }
  std::vector<int16_t> Record() {
    BeginRecording();
    PenMoveTo(0, 0);
    int n = FlattenCurve(kFlattenRecord);
    EndRecording();
    std::vector<int16_t> xs;
    EXPECT_EQ(RecordedPointCount(), n + 1);
    for (int32_t i = 1; i < RecordedPointCount(); ++i) {
      int16_t x, y;
      RecordedPoint(i, &x, &y);
      xs.push_back(x);
    }
    FreeRecording();
    return xs;
  }
};

TEST_F(FlattenTest, HalvesChooseTheirParameters) {
  struct Case {
    int32_t half;
    std::vector<int16_t> xs;
  } const cases[] = {
      {500, {100, 200, 300, 400, 500, 600, 700, 800, 900}},
      {31, {6, 12, 19, 25, 31, 37, 43, 50, 56}},
      {30, {8, 15, 23, 30, 38, 45, 53}},
      {17, {4, 8, 13, 17, 21, 25, 30}},  // 8.5 and 25.5 fall just short after the fixed-point products
      {16, {8, 16, 24}},
      {9, {5, 9, 14}},
      {8, {8}},
  };
  for (const Case& c : cases) {
    StraightCurve(c.half);
    EXPECT_EQ(Record(), c.xs) << c.half;
  }
}

TEST_F(FlattenTest, DrawingGoesToP3AndSkipsPiecesOutsideTheClip) {
  RecordingDrawContext dc;
  gDocument->drawDC = &dc;
  StraightCurve(500);
  EXPECT_EQ(FlattenCurve(kFlattenDraw), 10);
  ASSERT_EQ(dc.calls.size(), 11u);
  EXPECT_EQ(dc.calls.front(), "moveto 0 0");
  EXPECT_EQ(dc.calls.back(), "lineto 1000 0");

  // Only the pieces from 400 to 600 meet the clip: a move to 400, two lines.
  dc.calls.clear();
  DrawRect saved = flattenClip;
  flattenClip = {450, -10, 550, 10};
  EXPECT_EQ(FlattenCurve(kFlattenDraw), 2);
  flattenClip = saved;
  EXPECT_EQ(dc.calls, (std::vector<std::string>{"moveto 0 0", "moveto 400 0", "lineto 500 0", "lineto 600 0"}));
  gDocument->drawDC = nullptr;
}

TEST_F(FlattenTest, RecordingGrowsBeyondItsFirstBlock) {
  BeginRecording();
  PenMoveTo(0, 0);
  for (int i = 1; i <= 120; ++i) PenLineTo(i, -i);
  EndRecording();
  ASSERT_EQ(RecordedPointCount(), 121);
  int16_t x, y;
  RecordedPoint(120, &x, &y);
  EXPECT_EQ(x, 120);
  EXPECT_EQ(y, -120);
  FreeRecording();
}

}  // namespace
