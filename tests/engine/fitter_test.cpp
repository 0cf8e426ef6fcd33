// The curve fitter: fitting parameters, corner angles, curves through
// polygon vertices that never cross a sharp corner, the line types, the
// longest curved edge, the band test, tiny objects, the rotation of a closed
// outline, the one-pixel spike, and a raster round trip of several shapes.
#include <array>
#include <cmath>
#include <functional>

#include "tests/engine/tracer_fixture.h"

namespace {

using FitterTest = OutlineTest;

int16_t W(double v) { return static_cast<int16_t>(v); }

struct Segment {
  bool curve;
  double x0, y0, x1, y1;  // pixels
};

std::vector<Segment> Segments(int path) {
  std::vector<int16_t> w = PathWords(path);
  std::vector<Segment> out;
  double s = gArtScale;
  double x = (w[0] & 0x7FFF) / s, y = (w[1] & 0x7FFF) / s;
  bool curve = w[0] & 0x8000;
  for (size_t i = 2; i + 1 < w.size();) {
    size_t at = curve ? i + 4 : i;
    double nx = (w[at] & 0x7FFF) / s, ny = (w[at + 1] & 0x7FFF) / s;
    out.push_back({curve, x, y, nx, ny});
    curve = w[at] & 0x8000;
    x = nx;
    y = ny;
    i = at + 2;
  }
  return out;
}

// Whether an anchor (pixels) lies on the square of the vertex's pixel.
bool OnPixelOf(const VertexRecord& v, double x, double y) {
  return x >= v.x && x <= v.x + 1 && y >= v.y && y <= v.y + 1;
}

// The area in square pixels that the paths fill (curves flattened finely),
// holes (white paths) taken off.
double PathsArea() {
  double total = 0;
  for (int p = 0; p < gPathCount; ++p) {
    std::vector<int16_t> w = PathWords(p);
    double s = gArtScale, area = 0;
    double x = (w[0] & 0x7FFF) / s, y = (w[1] & 0x7FFF) / s;
    bool curve = w[0] & 0x8000;
    for (size_t i = 2; i + 1 < w.size();) {
      size_t at = curve ? i + 4 : i;
      double nx = (w[at] & 0x7FFF) / s, ny = (w[at + 1] & 0x7FFF) / s;
      if (curve) {
        double c1x = w[i] / s, c1y = w[i + 1] / s, c2x = w[i + 2] / s, c2y = w[i + 3] / s;
        double px = x, py = y;
        for (int k = 1; k <= 64; ++k) {
          double t = k / 64.0, u = 1 - t;
          double qx = u * u * u * x + 3 * t * u * u * c1x + 3 * t * t * u * c2x + t * t * t * nx;
          double qy = u * u * u * y + 3 * t * u * u * c1y + 3 * t * t * u * c2y + t * t * t * ny;
          area += px * qy - qx * py;
          px = qx;
          py = qy;
        }
      } else {
        area += x * ny - nx * y;
      }
      curve = w[at] & 0x8000;
      x = nx;
      y = ny;
      i = at + 2;
    }
    total += (gPaths[p].fillKind == kPaintWhite ? -1 : 1) * std::fabs(area) / 2;
  }
  return total;
}

void DrawDisc(int cx, int cy, int r, int on = 1) {
  for (int y = cy - r; y <= cy + r; ++y)
    for (int x = cx - r; x <= cx + r; ++x)
      if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) SetWorkPixel(x, y, on);
}

// Traces, builds and fits the first object; `beforeFit` may change the
// state between the corner angles and the fitting.
template <typename Fn>
void FitFirst(Fn beforeFit) {
  ASSERT_TRUE(ResetPathStore().ok());
  StartObjectSearch();
  ASSERT_GT(TraceNextObject(), 0);
  BuildPolygon();
  ComputeCornerAngles();
  beforeFit();
  FitObject();
}
void FitFirst() {
  FitFirst([] {});
}

TEST_F(FitterTest, FittingParametersFollowToleranceCurvatureAndResolution) {
  struct Case {
    double dpi;
    int tolerance, straightToCurved;
    int32_t p;
    double c;
    int32_t j, e;
    int erosion;
  } cases[] = {
      {300, 10, 10, 76, 131072, 30, 2500, 2},
      {300, 30, 30, 128, 163840, 30, 39994, 2},
      {300, 50, 50, 179, 196608, 30, 639834, 2},
      {150, 10, 10, 64, 92681, 21, 1249, 1},
      {72, 10, 10, 64, 81920, 14, 599, 1},
  };
  for (const Case& c : cases) {
    MakeBitmapImage(16, 16, c.dpi);
    gConvSettings->tolerance = static_cast<int16_t>(c.tolerance);
    gConvSettings->straightToCurved = static_cast<int16_t>(c.straightToCurved);
    ComputeFittingParameters();
    EXPECT_EQ(polygonTolerance, c.p) << c.dpi << " " << c.tolerance;
    EXPECT_NEAR(curveTolerance, c.c, 1) << c.dpi << " " << c.tolerance;
    EXPECT_EQ(junctionSnapLimit, c.j) << c.dpi;
    EXPECT_NEAR(longestCurvedEdge, c.e, 2) << c.dpi << " " << c.straightToCurved;
    EXPECT_EQ(erosionCount, c.erosion) << c.dpi;
  }
}

TEST_F(FitterTest, CornerAngles) {
  struct Case {
    double u[2], v[2], w[2];
    int angle;
  } cases[] = {
      {{0, 0}, {10, 0}, {20, 0}, 180},  {{0, 0}, {10, 0}, {10, 10}, 90}, {{0, 0}, {10, 0}, {0, 0}, 0},
      {{0, 0}, {0, 10}, {10, 10}, 90},  {{0, 0}, {10, 0}, {20, 10}, 135}, {{0, 0}, {10, 10}, {0, 0}, 0}, {{5, 5}, {0, 10}, {5, 5}, 0}, {{10, 0}, {0, 0}, {-10, 1}, 174},
      {{0, 10}, {0, 0}, {0, -10}, 180}, {{-10, 1}, {0, 0}, {10, 0}, 175},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CornerAngle(c.u[0], c.u[1], c.v[0], c.v[1], c.w[0], c.w[1]), c.angle)
        << c.v[0] << "," << c.v[1] << " -> " << c.w[0] << "," << c.w[1];
}

TEST_F(FitterTest, CircleBecomesAFewCurvesThroughPolygonVertices) {
  MakeBitmapImage(120, 120);
  DrawDisc(60, 60, 45);
  BeginConversion();
  FitFirst();
  ASSERT_EQ(gPathCount, 1);
  std::vector<Segment> segs = Segments(0);
  ASSERT_GE(segs.size(), 3u);
  EXPECT_LE(segs.size(), 12u);
  for (const Segment& s : segs) EXPECT_TRUE(s.curve);
  EXPECT_EQ(segs.front().x0, segs.back().x1);
  EXPECT_EQ(segs.front().y0, segs.back().y1);
  // Every anchor is a polygon vertex, moved onto the ink's edge within the
  // vertex's own pixel.
  std::vector<VertexRecord> v = Vertices();
  for (const Segment& s : segs) {
    bool found = false;
    for (const auto& r : v) found = found || OnPixelOf(r, s.x1, s.y1);
    EXPECT_TRUE(found) << s.x1 << "," << s.y1;
  }
}

TEST_F(FitterTest, ClosedOutlineIsRotatedSoThatTheStartDoesNotBreakACurve) {
  MakeBitmapImage(120, 120);
  DrawDisc(60, 60, 45);
  BeginConversion();
  FitFirst();
  ASSERT_EQ(gPathCount, 1);
  EXPECT_GT(polygonRotation, 0);
  std::vector<Segment> segs = Segments(0);
  VertexRecord first = GetVertex(0);
  EXPECT_FALSE(OnPixelOf(first, segs.front().x0, segs.front().y0))
      << "the path starts at the end of the curve that holds the first vertex";
  EXPECT_TRUE(segs.front().curve && segs.back().curve);
}

TEST_F(FitterTest, AChainInEdgearrFitsExactlyLikeOneInMemory) {
  std::vector<int16_t> words[2];
  for (int k = 0; k < 2; ++k) {
    MakeBitmapImage(120, 120);
    DrawDisc(60, 60, 45);
    FillRect(60, 60, 110, 110);
    BeginConversion(k == 0 ? 0 : 64);  // rotation and chain thirds read through pages
    FitFirst();
    ASSERT_EQ(gPathCount, 1);
    EXPECT_EQ(chainOverflowed, k);
    words[k] = PathWords(0);
    DeleteAllPaths();
    EndConversion();
  }
  EXPECT_EQ(words[1], words[0]);
}

TEST_F(FitterTest, NoCurveCrossesASharpCorner) {
  MakeBitmapImage(120, 120);
  DrawDisc(50, 60, 40);
  FillRect(50, 20, 100, 60);  // a disc with a square quarter: two sharp corners
  BeginConversion();
  FitFirst();
  std::vector<VertexRecord> v = Vertices();
  std::vector<Segment> segs = Segments(0);
  // Walk the vertices in path order: no vertex inside a curve has an
  // interior angle below 100.
  auto index = [&v](double x, double y, size_t from) {
    for (size_t i = from; i < v.size(); ++i)
      if (OnPixelOf(v[i], x, y)) return i;
    return v.size();
  };
  size_t at = index(segs.front().x0, segs.front().y0, 0);
  ASSERT_LT(at, v.size());
  for (const Segment& s : segs) {
    size_t next = index(s.x1, s.y1, at + 1);
    ASSERT_LT(next, v.size());
    if (s.curve) {
      for (size_t k = at + 1; k < next; ++k) EXPECT_GE(v[k].angle, 100) << v[k].x << "," << v[k].y;
    }
    at = next;
  }
  int corners = 0;
  for (const auto& r : v) corners += r.angle < 100 ? 1 : 0;
  EXPECT_GE(corners, 2);
}

TEST_F(FitterTest, LineTypesStraightOnlyAndCurvedOnly) {
  for (int lineType : {2, 1}) {
    MakeBitmapImage(120, 120);
    DrawDisc(60, 60, 40);
    FillRect(20, 90, 100, 110);
    BeginConversion();
    gConvSettings->lineType = static_cast<int16_t>(lineType);
    FitFirst();
    ASSERT_EQ(gPathCount, 1);
    std::vector<Segment> segs = Segments(0);
    ASSERT_GT(segs.size(), 4u);
    for (const Segment& s : segs) EXPECT_EQ(s.curve, lineType == 1) << lineType;
    if (lineType == 2) {
      EXPECT_EQ(segs.size() + 1, Vertices().size()) << "one line per polygon edge";
    }
    DeleteAllPaths();
    EndConversion();
  }
}

TEST_F(FitterTest, CurvedOnlyDrawsAStraightEdgeAsACurveWithThirdPointControls) {
  MakeBitmapImage(64, 40);
  FillRect(10, 10, 40, 30);
  BeginConversion();
  gConvSettings->lineType = 1;
  FitFirst();
  std::vector<int16_t> w = PathWords(0);
  int s = static_cast<int>(gArtScale);
  // Whatever the first edge is, its controls lie at a third and two thirds.
  ASSERT_GE(w.size(), 8u);
  ASSERT_TRUE(w[0] & 0x8000);
  double x0 = (w[0] & 0x7FFF), y0 = (w[1] & 0x7FFF), x3 = (w[6] & 0x7FFF), y3 = (w[7] & 0x7FFF);
  EXPECT_NEAR(w[2], x0 + (x3 - x0) / 3, s);
  EXPECT_NEAR(w[3], y0 + (y3 - y0) / 3, s);
  EXPECT_NEAR(w[4], x0 + 2 * (x3 - x0) / 3, s);
  EXPECT_NEAR(w[5], y0 + 2 * (y3 - y0) / 3, s);
}

TEST_F(FitterTest, LongEdgesEndCurves) {
  // A flat ellipse: its long flat sides become edges of more than 50
  // pixels, which Straight to Curved 1.0 keeps straight and 5.0 curves.
  int lines[2];
  for (int k = 0; k < 2; ++k) {
    MakeBitmapImage(400, 80);
    for (int y = 0; y < 80; ++y)
      for (int x = 0; x < 400; ++x) {
        double dx = (x - 200) / 180.0, dy = (y - 40) / 25.0;
        if (dx * dx + dy * dy <= 1) SetWorkPixel(x, y);
      }
    BeginConversion();
    gConvSettings->straightToCurved = k == 0 ? 10 : 50;
    ComputeFittingParameters();
    FitFirst();
    std::vector<VertexRecord> v = Vertices();
    lines[k] = 0;
    for (const Segment& s : Segments(0)) {
      double len2 = (s.x1 - s.x0) * (s.x1 - s.x0) + (s.y1 - s.y0) * (s.y1 - s.y0);
      if (!s.curve) ++lines[k];
      if (k == 0 && s.curve) {
        EXPECT_LE(len2, 2 * 2500.0) << "a curve over a long edge";
      }
    }
    DeleteAllPaths();
    EndConversion();
  }
  EXPECT_GT(lines[0], lines[1]);
}

TEST_F(FitterTest, CurvesLeavingTheBandAreRejected) {
  MakeBitmapImage(120, 120);
  DrawDisc(60, 60, 45);
  BeginConversion();
  FitFirst([] { memset(maskBits, 0, static_cast<size_t>(gImage->rowBytes) * gImage->height); });
  for (const Segment& s : Segments(0)) EXPECT_FALSE(s.curve);
}

TEST_F(FitterTest, TinyObjects) {
  // Outlining: the object's pixels, as a square of whole pixels (a single
  // pixel, and a two-pixel domino).
  struct Case {
    std::vector<std::array<int, 2>> pixels;
    double left, top, right, bottom;
  } cases[] = {{{{5, 6}}, 5, 6, 6, 7}, {{{5, 6}, {6, 6}}, 5, 6, 7, 7}};
  for (const Case& c : cases) {
    MakeBitmapImage(32, 16);
    for (const auto& p : c.pixels) SetWorkPixel(p[0], p[1]);
    BeginConversion();
    FitFirst();
    ASSERT_EQ(gPathCount, 1);
    int s = static_cast<int>(gArtScale);
    std::vector<int16_t> expected = {W(c.left * s),  W(c.top * s),    W(c.right * s), W(c.top * s),
                                     W(c.right * s), W(c.bottom * s), W(c.left * s),  W(c.bottom * s),
                                     W(c.left * s),  W(c.top * s)};
    EXPECT_EQ(PathWords(0), expected) << c.pixels.size() << " pixels";
    DeleteAllPaths();
    EndConversion();
  }

  // Centerlining: a short stroke from the pixel's centre, half a pixel right.
  MakeBitmapImage(32, 16);
  int s = static_cast<int>(gArtScale);
  SetWorkPixel(5, 6);
  BeginConversion();
  tracingMode = 1;
  FitFirst();
  ASSERT_EQ(gPathCount, 1);
  std::vector<int16_t> expected = {W(5.5 * s), W(6.5 * s), W(6 * s), W(6.5 * s)};
  EXPECT_EQ(PathWords(0), expected);
  EXPECT_TRUE(gPaths[0].pathFlags & PathFlag::openPath);
  DeleteAllPaths();
  EndConversion();

  // Curved only: nothing.
  MakeBitmapImage(32, 16);
  SetWorkPixel(5, 6);
  BeginConversion();
  gConvSettings->lineType = 1;
  FitFirst();
  EXPECT_EQ(gPathCount, 0);
}

TEST_F(FitterTest, OnePixelLineKeepsAWidthOfOnePixel) {
  // The outline of a one-pixel line runs out and straight back (an interior
  // angle of 0 at both ends): the two sides lie on the line's pixel edges and
  // a cap closes them on the end pixels' outer edges.
  MakeBitmapImage(64, 40);
  FillRect(5, 10, 21, 11);
  BeginConversion();
  FitFirst();
  ASSERT_EQ(gPathCount, 1);
  int s = static_cast<int>(gArtScale);
  std::vector<int16_t> expected = {W(5 * s),  W(10 * s), W(21 * s), W(10 * s), W(21 * s),
                                   W(11 * s), W(5 * s),  W(11 * s), W(5 * s),  W(10 * s)};
  EXPECT_EQ(PathWords(0), expected);
}

TEST_F(FitterTest, CenterlinedStrokesAreDrawnOnceNotThereAndBack) {
  struct Case {
    std::vector<std::array<int, 4>> rects;
    std::vector<std::pair<double, double>> anchors;  // on the skeleton pixels' centres
  } cases[] = {
      {{{10, 20, 100, 21}}, {{10.5, 20.5}, {99.5, 20.5}}},
      {{{10, 20, 100, 21}, {99, 21, 100, 70}}, {{10.5, 20.5}, {99.5, 20.5}, {99.5, 69.5}}},
  };
  for (const Case& c : cases) {
    MakeBitmapImage(120, 80);
    for (const auto& r : c.rects) FillRect(r[0], r[1], r[2], r[3]);
    BeginConversion();
    tracingMode = 1;
    gConvSettings->methodFlags |= Method::uniformWeight;
    FitFirst();
    ASSERT_EQ(gPathCount, 1);
    std::vector<int16_t> expected;
    for (const auto& a : c.anchors) {
      expected.push_back(W(a.first * gArtScale));
      expected.push_back(W(a.second * gArtScale));
    }
    EXPECT_EQ(PathWords(0), expected);
    EXPECT_TRUE(gPaths[0].pathFlags & PathFlag::openPath);
    DeleteAllPaths();
    EndConversion();
  }
}

TEST_F(FitterTest, CenterlineStrokeWeightFollowsTheThicknessInTheTemplate) {
  // The skeleton is the same one-pixel line; the template holds strokes of
  // different thickness around it.
  int weights[2];
  for (int k = 0; k < 2; ++k) {
    MakeBitmapImage(120, 40);
    int half = k == 0 ? 1 : 5;
    FillRect(10, 20 - half, 100, 21 + half);
    BeginConversion();
    memset(gWorkBits, 0, static_cast<size_t>(gImage->rowBytes) * gImage->height);
    FillRect(10, 20, 100, 21);
    tracingMode = 1;
    gConvSettings->methodFlags &= static_cast<uint8_t>(~Method::uniformWeight);
    currentLineWeight = 0;
    curStrokeWidth = 0;
    FitFirst();
    ASSERT_GE(gPathCount, 1);
    weights[k] = gPaths[gPathCount - 1].strokeWeight;
    DeleteAllPaths();
    EndConversion();
  }
  EXPECT_GT(weights[0], 0);
  EXPECT_GT(weights[1], weights[0] + 5);
}

// The art covers the ink: shapes traced and rasterized back (pixel centres,
// holes painted white) give exactly their pixels when their edges are
// horizontal and vertical. Elsewhere they differ only in pixels on the ink's
// edge (an outline within half a pixel of the pixels' edges can flip no
// other pixel), and the art's area (holes taken off) is the ink's within half
// a pixel per edge pixel.
TEST_F(FitterTest, TracedShapesCoverTheirInk) {
  auto square = [] { FillRect(10, 10, 40, 40); };
  auto squareRing = [] {
    FillRect(10, 10, 50, 40);
    for (int y = 18; y < 30; ++y)
      for (int x = 20; x < 41; ++x) SetWorkPixel(x, y, 0);
  };
  auto hLine = [] { FillRect(5, 10, 45, 11); };
  auto vLine = [] { FillRect(20, 4, 21, 40); };
  auto letterL = [] {
    FillRect(12, 8, 16, 40);
    FillRect(12, 36, 34, 40);
  };
  auto triangle = [] {
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x <= y; ++x) SetWorkPixel(10 + x, 8 + y);
  };
  auto ring = [] {
    DrawDisc(30, 25, 18);
    DrawDisc(30, 25, 9, 0);
  };
  struct Case {
    const char* name;
    std::function<void()> draw;
    bool axisAligned;
  } cases[] = {{"square", square, true},     {"square ring", squareRing, true}, {"one-pixel line", hLine, true},
               {"one-pixel column", vLine, true}, {"letter L", letterL, true},
               {"45-degree triangle", triangle, false}, {"ring", ring, false}};
  for (const Case& c : cases) {
    MakeBitmapImage(64, 48);
    c.draw();
    const int w = gImage->width, h = gImage->height;
    std::vector<uint8_t> input(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) input[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(GetPixel(gWorkBits, x, y));
    BeginConversion();
    OutlineAll();
    std::vector<uint8_t> out = RasterizePaths(w, h);
    auto ink = [&](int x, int y) { return x < 0 || y < 0 || x >= w || y >= h ? 0 : input[static_cast<size_t>(y) * w + x]; };
    int differ = 0, inner = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        if (out[static_cast<size_t>(y) * w + x] == ink(x, y)) continue;
        ++differ;
        int v = ink(x, y);
        if (ink(x - 1, y) == v && ink(x + 1, y) == v && ink(x, y - 1) == v && ink(x, y + 1) == v) ++inner;
      }
    int black = 0, edge = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        if (!ink(x, y)) continue;
        ++black;
        if (!ink(x - 1, y) || !ink(x + 1, y) || !ink(x, y - 1) || !ink(x, y + 1)) ++edge;
      }
    if (c.axisAligned) {
      EXPECT_EQ(differ, 0) << c.name;
    } else {
      EXPECT_EQ(inner, 0) << c.name << ": a pixel off the ink's edge";
    }
    EXPECT_NEAR(PathsArea(), black, c.axisAligned ? 1e-9 : edge / 2.0) << c.name;
    DeleteAllPaths();
    EndConversion();
  }
}

// Refine curves: the same segments through the same anchors, leaving and
// reaching them in the same directions (smooth joins stay smooth); only the
// handle lengths change, and the curves follow the ink more closely.
TEST_F(FitterTest, RefinedCurvesKeepSegmentsAnchorsAndTangentsAndFollowTheInk) {
  auto ellipse = [] {
    for (int y = 0; y < 100; ++y)
      for (int x = 0; x < 160; ++x) {
        double dx = (x - 80) / 70.0, dy = (y - 50) / 38.0;
        if (dx * dx + dy * dy <= 1) SetWorkPixel(x, y);
      }
  };
  auto ring = [] {
    DrawDisc(70, 50, 45);
    DrawDisc(75, 50, 22, 0);
  };
  auto blob = [] {  // a disc with a square bite: corners between curves
    DrawDisc(70, 50, 40);
    FillRect(70, 10, 115, 50);
  };
  const std::function<void()> shapes[] = {ellipse, ring, blob};
  int improved = 0;
  for (const auto& draw : shapes) {
    std::vector<int16_t> words[2];
    int differ[2];
    for (int refine = 0; refine < 2; ++refine) {
      MakeBitmapImage(160, 100);
      draw();
      std::vector<uint8_t> input(160 * 100);
      for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 160; ++x) input[y * 160 + x] = static_cast<uint8_t>(GetPixel(gWorkBits, x, y));
      BeginConversion();
      gConvSettings->fitFlags = refine ? FitOption::refineCurves : 0;
      OutlineAll();
      ASSERT_GE(gPathCount, 1);
      for (int p = 0; p < gPathCount; ++p) {
        std::vector<int16_t> w = PathWords(p);
        words[refine].insert(words[refine].end(), w.begin(), w.end());
        words[refine].push_back(-1);
      }
      std::vector<uint8_t> out = RasterizePaths(160, 100);
      differ[refine] = 0;
      for (size_t k = 0; k < out.size(); ++k) differ[refine] += out[k] != input[k];
      DeleteAllPaths();
      EndConversion();
    }
    gConvSettings->fitFlags = 0;
    ASSERT_EQ(words[0].size(), words[1].size()) << "the same segments";
    bool changed = false;
    for (size_t k = 0; k < words[0].size();) {
      if (words[0][k] == -1) {
        ++k;
        continue;
      }
      // An anchor (x, y), followed by four control words when a curve leaves it.
      EXPECT_EQ(words[1][k], words[0][k]);
      EXPECT_EQ(words[1][k + 1], words[0][k + 1]);
      bool curve = words[0][k] & 0x8000;
      if (!curve || k + 7 >= words[0].size()) {
        k += 2;
        continue;
      }
      double ax = words[0][k] & 0x7FFF, ay = words[0][k + 1] & 0x7FFF;
      double bx = words[0][k + 6] & 0x7FFF, by = words[0][k + 7] & 0x7FFF;
      for (int c = 0; c < 2; ++c) {
        double ox = c == 0 ? ax : bx, oy = c == 0 ? ay : by;
        double u0 = words[0][k + 2 + 2 * c] - ox, v0 = words[0][k + 3 + 2 * c] - oy;
        double u1 = words[1][k + 2 + 2 * c] - ox, v1 = words[1][k + 3 + 2 * c] - oy;
        changed = changed || u0 != u1 || v0 != v1;
        // The same direction, within the rounding of the control words.
        double cross = u0 * v1 - v0 * u1, len = std::hypot(u0, v0) * std::hypot(u1, v1);
        EXPECT_LE(std::fabs(cross), 2.0 * (std::hypot(u0, v0) + std::hypot(u1, v1)) + 1e-9 * len);
        EXPECT_GT(u0 * u1 + v0 * v1, 0) << "a handle turned round";
      }
      k += 6;
    }
    EXPECT_TRUE(changed);
    EXPECT_LE(differ[1], differ[0]);
    improved += differ[1] < differ[0];
  }
  EXPECT_GE(improved, 2);
}

// Every pixel where the filled paths differ from the input lies within two
// pixels of an edge of the input.
TEST_F(FitterTest, FilledPathsReproduceTheShapes) {
  MakeBitmapImage(200, 120);
  FillRect(5, 5, 45, 45);          // square with a square hole
  for (int y = 15; y < 35; ++y)
    for (int x = 15; x < 35; ++x) SetWorkPixel(x, y, 0);
  DrawDisc(90, 30, 22);            // ring
  DrawDisc(90, 30, 10, 0);
  for (int i = 0; i < 50; ++i) FillRect(130 + i, 5 + i, 138 + i, 7 + i);  // diagonal bar
  DrawArt(10, 60, {"##########", "##########", "###", "###", "########", "########", "###", "###",
                   "##########", "##########"});  // a letter E
  DrawDisc(150, 90, 15);
  FillRect(60, 70, 110, 74);  // thin bar
  std::vector<uint8_t> input(200 * 120);
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 200; ++x) input[y * 200 + x] = static_cast<uint8_t>(GetPixel(gWorkBits, x, y));
  BeginConversion();
  OutlineAll();
  EXPECT_EQ(gPathCount, 8);  // square, its hole, ring, its hole, diagonal bar, E, disc, thin bar
  std::vector<uint8_t> out = RasterizePaths(200, 120);
  int bad = 0;
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 200; ++x) {
      if (out[y * 200 + x] == input[y * 200 + x]) continue;
      bool nearEdge = false;
      for (int dy = -2; dy <= 2 && !nearEdge; ++dy)
        for (int dx = -2; dx <= 2 && !nearEdge; ++dx) {
          int xx = x + dx, yy = y + dy;
          int v = (xx < 0 || yy < 0 || xx >= 200 || yy >= 120) ? 0 : input[yy * 200 + xx];
          nearEdge = v != input[y * 200 + x];
        }
      if (!nearEdge) ++bad;
    }
  EXPECT_EQ(bad, 0);
}

}  // namespace
