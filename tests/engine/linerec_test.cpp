// Line recognition: the resolution-derived parameters, the scans and their
// records, joining, rectangles, output with end snapping, and the snapping
// of centerline ends.
#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "art/pathstore.h"
#include "core/records.h"
#include "engine/conversion.h"
#include "engine/linerec.h"
#include "engine/settings.h"
#include "platform/platform.h"
#include "shell/document.h"
#include "platform/string_ids.h"
#include "tests/support/support.h"

namespace {

class LineRecTest : public TessTest {
 protected:
  void TearDown() override {
    ReleaseLineBuffers();
    DeleteAllPaths();
    templateBits = nullptr;
    TessTest::TearDown();
  }
  std::vector<LineRecord> H() const { return {horzLines, horzLines + horzLineCount}; }
  std::vector<LineRecord> V() const { return {vertLines, vertLines + vertLineCount}; }
  // The anchors of path i in pixels.
  std::vector<std::pair<double, double>> Anchors(int i) const {
    const PathRecord& r = gPaths[i];
    const int16_t* w = static_cast<const int16_t*>(MemLock(r.points));
    std::vector<std::pair<double, double>> v;
    for (int k = 0; k + 1 < r.pointCount; k += 2)
      v.push_back({(w[k] & 0x7FFF) / gArtScale, (w[k + 1] & 0x7FFF) / gArtScale});
    MemUnlock(r.points);
    return v;
  }
  // The pixels (by their centres) that the stroked paths cover, every path
  // `width` pixels wide with square caps: each segment of these horizontal
  // and vertical paths covers its box grown by half the width.
  std::vector<uint8_t> Strokes(double width) const {
    std::vector<uint8_t> out(static_cast<size_t>(gImage->width) * gImage->height, 0);
    for (int i = 0; i < gPathCount; ++i) {
      auto a = Anchors(i);
      for (size_t k = 0; k + 1 < a.size(); ++k) {
        double x0 = std::min(a[k].first, a[k + 1].first) - width / 2, x1 = std::max(a[k].first, a[k + 1].first) + width / 2;
        double y0 = std::min(a[k].second, a[k + 1].second) - width / 2, y1 = std::max(a[k].second, a[k + 1].second) + width / 2;
        for (int y = 0; y < gImage->height; ++y)
          for (int x = 0; x < gImage->width; ++x)
            if (x + 0.5 > x0 && x + 0.5 < x1 && y + 0.5 > y0 && y + 0.5 < y1) out[static_cast<size_t>(y) * gImage->width + x] = 1;
      }
    }
    return out;
  }
  std::vector<uint8_t> Ink() const {
    std::vector<uint8_t> out(static_cast<size_t>(gImage->width) * gImage->height, 0);
    for (int y = 0; y < gImage->height; ++y)
      for (int x = 0; x < gImage->width; ++x) out[static_cast<size_t>(y) * gImage->width + x] = static_cast<uint8_t>(WorkPixel(x, y));
    return out;
  }
  // A box outline with sides `w` thick (the left side `left` thick).
  void Box(int x0, int y0, int x1, int y1, int w, int left) {
    FillRect(x0, y0, x1, y0 + w);
    FillRect(x0, y1 - w, x1, y1);
    FillRect(x0, y0, x0 + left, y1);
    FillRect(x1 - w, y0, x1, y1);
  }
};

TEST(LineParams, DerivedFromTheResolutionSum) {
  struct Case {
    int sum;
    LineParams p;
  } cases[] = {
      {600, {75, 20, 15, 15, 30, 50, 8, 15, 3}},
      {144, {18, 5, 4, 4, 7, 12, 2, 4, 1}},
      {400, {50, 13, 10, 10, 20, 33, 6, 10, 2}},
  };
  for (const Case& c : cases) {
    LineParams p = ComputeLineParams(c.sum);
    EXPECT_EQ(p.maxWidth, c.p.maxWidth) << c.sum;
    EXPECT_EQ(p.endCheckDepth, c.p.endCheckDepth) << c.sum;
    EXPECT_EQ(p.snapDistance, c.p.snapDistance) << c.sum;
    EXPECT_EQ(p.cornerTolerance, c.p.cornerTolerance) << c.sum;
    EXPECT_EQ(p.minRun, c.p.minRun) << c.sum;
    EXPECT_EQ(p.minLength, c.p.minLength) << c.sum;
    EXPECT_EQ(p.joinGap, c.p.joinGap) << c.sum;
    EXPECT_EQ(p.parallelSpacing, c.p.parallelSpacing) << c.sum;
    EXPECT_EQ(p.widthTolerance, c.p.widthTolerance) << c.sum;
  }
}

TEST_F(LineRecTest, ThreePixelStrokeGivesOneRecord) {
  MakeBitmapImage(400, 100);
  FillRect(50, 40, 250, 43);  // rows 40..42, columns 50..249
  RecognizeLines();
  ASSERT_EQ(H().size(), 1u);
  EXPECT_EQ(H()[0].pos, 41);
  EXPECT_EQ(H()[0].width, 3);
  EXPECT_EQ(H()[0].start, 51);
  EXPECT_EQ(H()[0].end, 249);
  EXPECT_TRUE(V().empty());
}

TEST_F(LineRecTest, WrittenLinesAndRectanglesCoverTheirPixels) {
  // Odd and even widths, found by the row scan and the column scan, two
  // lines above each other (farther apart than near parallels, which are
  // moved apart on purpose), and a box.
  struct Case {
    int width;
    std::vector<std::array<int, 4>> rects;  // filled x0, y0, x1, y1 (exclusive)
    bool box;
  } cases[] = {
      {3, {{50, 40, 250, 43}}, false},
      {4, {{50, 40, 250, 44}}, false},
      {5, {{300, 20, 305, 280}}, false},
      {6, {{300, 20, 306, 280}}, false},
      {3, {{50, 40, 250, 43}, {60, 50, 240, 53}}, false},
      {3, {}, true},
  };
  for (const Case& c : cases) {
    DeleteAllPaths();
    ReleaseLineBuffers();
    MakeBitmapImage(400, 300);
    for (const auto& r : c.rects) FillRect(r[0], r[1], r[2], r[3]);
    if (c.box) Box(50, 40, 350, 240, 3, 3);
    gConvSettings->methodFlags = Method::lineRecognition;
    RecognizeLines();
    OutputLines();
    ASSERT_GT(gPathCount, 0) << c.width;
    EXPECT_TRUE(Strokes(c.width) == Ink()) << "width " << c.width << ", " << c.rects.size() << " lines";
  }
}

TEST_F(LineRecTest, VerticalStrokeAndThickBlob) {
  MakeBitmapImage(400, 400);
  FillRect(300, 20, 306, 380);  // a 6-pixel vertical line
  FillRect(20, 20, 120, 120);   // a square larger than W both ways
  RecognizeLines();
  EXPECT_TRUE(H().empty());
  ASSERT_EQ(V().size(), 1u);
  EXPECT_EQ(V()[0].width, 6);
  EXPECT_EQ(V()[0].pos, 302);
  EXPECT_EQ(V()[0].start, 23);
  EXPECT_EQ(V()[0].end, 377);
}

TEST_F(LineRecTest, ShortStrokeKeptOnlyAsTheSideOfABox) {
  MakeBitmapImage(300, 200);
  FillRect(20, 20, 60, 23);  // a dash 40 long (at most L = 50): dropped
  Box(100, 50, 140, 150, 3, 3);  // a narrow box: its top and bottom are 40 long
  RecognizeLines();
  std::vector<int> rows;
  for (const auto& r : H()) rows.push_back(r.pos);
  EXPECT_EQ(rows, (std::vector<int>{51, 148}));
  EXPECT_EQ(V().size(), 2u);
}

TEST_F(LineRecTest, NearParallelsAreSetHalfTheSpacingApart) {
  MakeBitmapImage(400, 100);
  FillRect(50, 30, 300, 33);  // pos 31
  FillRect(60, 35, 310, 38);  // pos 36, 5 apart (P / 2 = 7)
  RecognizeLines();
  ASSERT_EQ(H().size(), 2u);
  EXPECT_EQ(H()[0].pos, 30);
  EXPECT_EQ(H()[1].pos, 37);
}

TEST_F(LineRecTest, BoxOfEqualLinesBecomesOneRectanglePath) {
  MakeBitmapImage(400, 300);
  Box(50, 40, 350, 240, 3, 3);
  gConvSettings->methodFlags = Method::lineRecognition;
  RecognizeLines();
  ASSERT_EQ(H().size(), 2u);
  ASSERT_EQ(V().size(), 2u);
  OutputLines();
  ASSERT_EQ(gPathCount, 1);
  auto a = Anchors(0);
  // On the sides' centre lines: the 3-pixel sides cover x 50..349, y 40..239.
  std::vector<std::pair<double, double>> expected = {
      {51.5, 41.5}, {348.5, 41.5}, {348.5, 238.5}, {51.5, 238.5}, {51.5, 41.5}};
  EXPECT_EQ(a, expected);
  EXPECT_FALSE(gPaths[0].pathFlags & PathFlag::openPath);
  EXPECT_EQ(gPaths[0].fillKind, kPaintNone);
  EXPECT_EQ(gPaths[0].strokeKind, kPaintBlack);
  EXPECT_EQ(gPaths[0].strokeWeight, 7);  // 3 pixels at 300 dpi: 0.72 pt
}

TEST_F(LineRecTest, ThickSideRefusesTheRectangleUnlessUniformWeight) {
  struct Case {
    uint8_t methods;
    int paths;
    int weight;  // tenths of a point of the first path
  } cases[] = {
      {Method::lineRecognition, 4, 7},
      {Method::lineRecognition | Method::uniformWeight, 1, 10},
  };
  for (const Case& c : cases) {
    DeleteAllPaths();
    MakeBitmapImage(400, 300);
    Box(50, 40, 350, 240, 3, 12);  // the left side 12 thick
    gConvSettings->methodFlags = c.methods;
    gConvSettings->lineWeight = 100;
    RecognizeLines();
    OutputLines();
    EXPECT_EQ(gPathCount, c.paths) << int(c.methods);
    ASSERT_GT(gPathCount, 0);
    EXPECT_EQ(gPaths[0].strokeWeight, c.weight) << int(c.methods);
    for (int i = 0; c.paths == 4 && i < gPathCount; ++i) {
      EXPECT_TRUE(gPaths[i].pathFlags & PathFlag::openPath);
      EXPECT_EQ(Anchors(i).size(), 2u);
    }
  }
}

TEST_F(LineRecTest, LineEndsSnapToPerpendicularLines) {
  MakeBitmapImage(400, 300);
  FillRect(40, 100, 360, 104);  // horizontal, rows 100..103: pos 101
  FillRect(50, 20, 54, 280);    // vertical, pos 51, crossing it near its left end
  gConvSettings->methodFlags = Method::lineRecognition;
  RecognizeLines();
  OutputLines();
  ASSERT_EQ(gPathCount, 2);
  auto h = Anchors(0);
  ASSERT_EQ(h.size(), 2u);
  EXPECT_EQ(h[0], std::make_pair(52.0, 102.0));  // moved from 42 onto the vertical line's centre
  EXPECT_EQ(h[1].first, 358);  // the square cap reaches the ink's end at 360
}

TEST_F(LineRecTest, CollinearPiecesAreJoined) {
  MakeBitmapImage(400, 100);
  FillRect(20, 50, 150, 53);
  FillRect(155, 50, 300, 53);  // a 5-pixel gap: below the join gap of 8
  FillRect(20, 80, 150, 83);
  FillRect(180, 80, 300, 83);  // a 30-pixel gap: two lines
  gConvSettings->methodFlags = Method::lineRecognition;
  RecognizeLines();
  OutputLines();
  ASSERT_EQ(gPathCount, 3);
  EXPECT_EQ(Anchors(0), (std::vector<std::pair<double, double>>{{21.5, 51.5}, {298.5, 51.5}}));
}

TEST_F(LineRecTest, CenterlineEndsSnapOntoConnectedLines) {
  MakeBitmapImage(300, 300);
  FillRect(50, 100, 250, 104);  // horizontal line, pos 101, columns 52..248
  FillRect(100, 50, 104, 250);  // vertical line, pos 101
  FillRect(150, 90, 153, 100);  // a stub touching the horizontal line from above
  std::vector<uint8_t> templ(gWorkBits, gWorkBits + static_cast<size_t>(gImage->rowBytes) * gImage->height);
  RecognizeLines();
  templateBits = templ.data();
  templateOnDisk = 0;
  struct Case {
    int x, y;
    int ex, ey, corner;
  } cases[] = {
      {151, 92, 151, 101, 0},   // stub end: connected by ink, moved onto the line
      {180, 92, 180, 92, 0},    // near the line but no ink leads there
      {103, 96, 101, 101, 1},   // next to both lines: a corner
      {260, 101, 248, 101, 0},  // beyond the line's end, clamped into it
  };
  for (const Case& c : cases) {
    if (c.x == 180) FillRect(180, 92, 181, 93);  // an isolated dot
    templ.assign(gWorkBits, gWorkBits + templ.size());
    if (c.x == 260) FillRect(250, 100, 262, 103), templ.assign(gWorkBits, gWorkBits + templ.size());
    int16_t x = static_cast<int16_t>(c.x), y = static_cast<int16_t>(c.y);
    EXPECT_EQ(SnapCenterlineEnd(&x, &y), c.corner) << c.x;
    EXPECT_EQ(x, c.ex) << c.x;
    EXPECT_EQ(y, c.ey) << c.x;
  }
}

TEST_F(LineRecTest, EndTestAndStraightening) {
  MakeBitmapImage(400, 200);
  FillRect(40, 100, 360, 106);  // 6 thick, pos 103
  std::vector<uint8_t> templ(gWorkBits, gWorkBits + static_cast<size_t>(gImage->rowBytes) * gImage->height);
  RecognizeLines();
  templateBits = templ.data();
  templateOnDisk = 0;
  int16_t h, v;
  EXPECT_EQ(LineEndTest(100, 104, &h, &v), 1);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(LineEndTest(100, 120, &h, &v), 0);
  // A slanted edge between two points of the line becomes level.
  int16_t x0 = 60, y0 = 103, x1 = 300, y1 = 105;
  EXPECT_EQ(StraightenSegment(&x0, &y0, &x1, &y1), 2);
  EXPECT_EQ(y1, 103);
  EXPECT_EQ(x1, 300);
  // Too far across for the line's width: left alone.
  x0 = 60, y0 = 100, x1 = 300, y1 = 107;
  EXPECT_EQ(StraightenSegment(&x0, &y0, &x1, &y1), 0);
}

TEST_F(LineRecTest, NoMemoryRecognizesNothing) {
  MakeBitmapImage(400, 100);
  FillRect(50, 40, 250, 43);
  MemFailNext(1);
  RecognizeLines();
  // The conversion goes on without line recognition; its result carries the
  // memory message.
  EXPECT_EQ(gUserAbort, 0);
  EXPECT_TRUE(MessageIds().empty());
  EXPECT_TRUE(H().empty());
  EXPECT_EQ(horzLines, nullptr);
}

TEST_F(LineRecTest, ProgressRunsOverBothScans) {
  MakeBitmapImage(400, 100);
  FillRect(50, 40, 250, 43);
  RecognizeLines();
  EXPECT_NE(Progress().text.find("Line Recognizing -"), std::string::npos);
}

}  // namespace

#include "tests/engine/linerec_pbm.h"

namespace {

// A ruled box of a Debian manual, rendered by pdftoppm at 300 dpi: its four
// rules (1 and 2 pixels thick) come out as one closed stroked rectangle, and
// the text lines around it give no line at all.
TEST_F(LineRecTest, RuledBoxOfARealManualPage) {
  const std::string pdf = "/usr/share/doc/shared-mime-info/shared-mime-info-spec.pdf";
  std::string out = PathIn("page");
  if (!RunTool("pdftoppm -mono -r 300 -f 4 -l 4 -x 450 -y 2300 -W 1900 -H 450 '" + pdf + "' '" + out + "'"))
    GTEST_SKIP() << "pdftoppm or the manual is missing";
  ASSERT_TRUE(LoadPbm(out + "-04.pbm", 300));
  gConvSettings->methodFlags = Method::lineRecognition;
  RecognizeLines();
  OutputLines();
  ASSERT_EQ(gPathCount, 1);
  auto a = Anchors(0);
  ASSERT_EQ(a.size(), 5u);
  // The rules lie at rows 114 and 302..303, columns 90 and 1793..1794.
  auto near = [](int v, int want) { return v >= want - 2 && v <= want + 2; };
  EXPECT_TRUE(near(a[0].first, 90) && near(a[0].second, 114)) << a[0].first << "," << a[0].second;
  EXPECT_TRUE(near(a[2].first, 1793) && near(a[2].second, 302)) << a[2].first << "," << a[2].second;
  EXPECT_EQ(a[4], a[0]);
  EXPECT_FALSE(gPaths[0].pathFlags & PathFlag::openPath);
  // Measured weight: the average of 1- and 2-pixel rules, 2 pixels = 0.48 pt.
  EXPECT_GE(gPaths[0].strokeWeight, 2);
  EXPECT_LE(gPaths[0].strokeWeight, 5);
}

}  // namespace

namespace {

TEST_F(LineRecTest, LineWhoseEndsSnapOntoOneLineIsNotWritten) {
  MakeBitmapImage(400, 300);
  gConvSettings->methodFlags = Method::lineRecognition;
  lineParams = ComputeLineParams(600);
  LineRecord v[] = {{101, 20, 280, 4, kLineFree}};
  LineRecord h[] = {{150, 95, 110, 3, kLineFree}, {200, 95, 180, 3, kLineFree}};
  vertLines = v;
  vertLineCount = 1;
  horzLines = h;
  horzLineCount = 2;
  OutputLines();
  horzLines = vertLines = nullptr;
  horzLineCount = vertLineCount = 0;
  // The first horizontal line collapsed onto the vertical one; the second
  // starts on it.
  ASSERT_EQ(gPathCount, 2);
  EXPECT_EQ(Anchors(0), (std::vector<std::pair<double, double>>{{102, 200.5}, {179.5, 200.5}}));
  EXPECT_EQ(Anchors(1), (std::vector<std::pair<double, double>>{{102, 20}, {102, 280}}));
}

}  // namespace

namespace {

TEST_F(LineRecTest, FailedGrowthStopsTheScanAndKeepsTheRecords) {
  MakeBitmapImage(150, 150);
  for (int i = 0; i < 25; ++i) FillRect(20, i * 6, 130, i * 6 + 3);
  MemFailAbove(20 * sizeof(LineRecord) + 100);  // the arrays cannot grow past 20 records
  RecognizeLines();
  MemResetFailures();
  EXPECT_EQ(StopStatus(), Stopped(kStrInsufficientMemory));
  EXPECT_EQ(horzLineCount, 20);
  EXPECT_TRUE(V().empty());  // the vertical scan did not run
}

}  // namespace
