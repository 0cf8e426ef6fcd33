// The Centerline and Line recognition methods through the Convert command,
// alone and in every combination of the driver's method table, on small
// drawings and on a diagram shipped by Debian (rendered by ImageMagick and
// thresholded).
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "art/pathstore.h"
#include "core/records.h"
#include "engine/conversion.h"
#include "engine/linerec.h"
#include "engine/settings.h"
#include "engine/thinning.h"
#include "platform/platform.h"
#include "shell/document.h"
#include "tests/engine/linerec_pbm.h"
#include "tests/support/support.h"

namespace {

uint32_t gTicks = 0;
uint32_t Ticks() { return gTicks; }

struct Pt {
  double x, y;
};

class MethodsTest : public TessTest {
 protected:
  void SetUp() override {
    TessTest::SetUp();
    gTicks += 1000;
    SetTickSource(Ticks);
  }
  void TearDown() override {
    DeleteAllPaths();
    CloseDocument();
    TessTest::TearDown();
  }
  void Convert(uint8_t methods) {
    gDocument->imageWindow = reinterpret_cast<WindowHandle>(this);
    gConvSettings->methodFlags = static_cast<uint8_t>(methods | (gConvSettings->methodFlags & Method::uniformWeight));
    ConvertImage(false);
  }
  // Anchors of path i, and the midpoint of every curve, in pixels.
  std::vector<Pt> Points(int i, bool curveMidpoints = true) const {
    const PathRecord& r = gPaths[i];
    const int16_t* w = static_cast<const int16_t*>(MemLock(r.points));
    std::vector<Pt> v;
    double s = gArtScale;
    auto at = [&](int k) { return Pt{(w[k] & 0x7FFF) / s, (w[k + 1] & 0x7FFF) / s}; };
    int k = 0;
    v.push_back(at(0));
    while (k + 2 < r.pointCount) {
      if (w[k] & kCurveBit) {
        Pt p0 = at(k), p3 = at(k + 6);
        Pt c1{w[k + 2] / s, w[k + 3] / s}, c2{w[k + 4] / s, w[k + 5] / s};
        if (curveMidpoints)
          v.push_back({(p0.x + 3 * c1.x + 3 * c2.x + p3.x) / 8, (p0.y + 3 * c1.y + 3 * c2.y + p3.y) / 8});
        v.push_back(p3);
        k += 6;
      } else {
        v.push_back(at(k + 2));
        k += 2;
      }
    }
    MemUnlock(r.points);
    return v;
  }
  // The skeleton of the current working bitmap, as the thinning makes it.
  std::vector<uint8_t> SkeletonOf(int steps) {
    size_t n = static_cast<size_t>(gImage->rowBytes) * gImage->height;
    std::vector<uint8_t> image(gWorkBits, gWorkBits + n);
    PinholeFill();
    RunThinningPasses(0, 2 * steps - 2, steps, false);
    std::vector<uint8_t> skeleton(gWorkBits, gWorkBits + n);
    memcpy(gWorkBits, image.data(), n);
    return skeleton;
  }
  // Largest distance (in pixels, Chebyshev) from a point of an open path to
  // the nearest skeleton pixel.
  double WorstDistance(const std::vector<uint8_t>& skel, int reach = 6) {
    double worst = 0;
    for (int i = 0; i < gPathCount; ++i) {
      if (!(gPaths[i].pathFlags & PathFlag::openPath)) continue;
      for (const Pt& p : Points(i)) {
        int px = static_cast<int>(std::lround(p.x)), py = static_cast<int>(std::lround(p.y));
        double best = reach + 1;
        for (int dy = -reach; dy <= reach; ++dy)
          for (int dx = -reach; dx <= reach; ++dx) {
            int x = px + dx, y = py + dy;
            if (x < 0 || y < 0 || x >= gImage->width || y >= gImage->height) continue;
            if (!((skel[static_cast<size_t>(y) * gImage->rowBytes + x / 8] >> (7 - (x & 7))) & 1)) continue;
            double d = std::max(std::fabs(p.x - x), std::fabs(p.y - y));
            if (d < best) best = d;
          }
        if (best > worst) worst = best;
      }
    }
    return worst;
  }
  int Count(bool open) const {
    int n = 0;
    for (int i = 0; i < gPathCount; ++i) n += ((gPaths[i].pathFlags & PathFlag::openPath) != 0) == open;
    return n;
  }

 public:
  // Thin strokes: a cross and a slanted stroke, 5 pixels wide.
  void ThinStrokes() {
    MakeBitmapImage(300, 200);
    FillRect(20, 98, 280, 103);
    FillRect(148, 20, 153, 180);
    for (int x = 30; x < 120; ++x) FillRect(x, 20 + x / 3, x + 5, 21 + x / 3);
  }
  // A box of 3-pixel rules, a thick blob and a thin stub from the box.
  void BoxBlobAndStub() {
    MakeBitmapImage(500, 300);
    FillRect(40, 40, 340, 43);
    FillRect(40, 237, 340, 240);
    FillRect(40, 40, 43, 240);
    FillRect(337, 40, 340, 240);
    FillRect(380, 60, 470, 150);  // thick
    FillRect(150, 43, 154, 120);  // a stub hanging from the top rule
  }

 protected:
};

TEST_F(MethodsTest, CenterlineGivesOpenStrokedPathsOnTheSkeleton) {
  ThinStrokes();
  auto skel = SkeletonOf(3);
  Convert(Method::centerline);
  ASSERT_GT(gPathCount, 0);
  for (int i = 0; i < gPathCount; ++i) {
    EXPECT_TRUE(gPaths[i].pathFlags & PathFlag::openPath) << i;
    EXPECT_EQ(gPaths[i].fillKind, kPaintNone) << i;
    EXPECT_EQ(gPaths[i].strokeKind, kPaintBlack) << i;
  }
  EXPECT_LE(WorstDistance(skel), 2.0);
}

TEST_F(MethodsTest, MethodTable) {
  const uint8_t O = Method::outline, C = Method::centerline, L = Method::lineRecognition;
  struct Case {
    const char* name;
    void (MethodsTest::*drawing)();
    uint8_t methods;
    bool closedPaths;    // outlines (or a rectangle) expected
    bool openPaths;      // centerlines or single lines expected
    bool rectangle;      // the box comes out as one five-point closed path
  } cases[] = {
      {"outline + centerline, thin strokes only", &MethodsTest::ThinStrokes, O | C, false, true, false},
      {"outline + centerline", &MethodsTest::BoxBlobAndStub, O | C, true, true, false},
      {"outline + lines", &MethodsTest::BoxBlobAndStub, O | L, true, true, true},
      {"centerline + lines", &MethodsTest::BoxBlobAndStub, C | L, false, true, false},
      {"all three", &MethodsTest::BoxBlobAndStub, O | C | L, true, true, false},
      {"lines alone", &MethodsTest::BoxBlobAndStub, L, true, true, true},
  };
  for (const Case& c : cases) {
    DeleteAllPaths();
    (this->*c.drawing)();
    size_t n = static_cast<size_t>(gImage->rowBytes) * gImage->height;
    std::vector<uint8_t> before(gWorkBits, gWorkBits + n);
    Convert(c.methods);
    EXPECT_EQ(gUserAbort, 0) << c.name;
    EXPECT_EQ(Count(false) > 0, c.closedPaths) << c.name;
    EXPECT_EQ(Count(true) > 0, c.openPaths) << c.name;
    bool rect = false;
    for (int i = 0; i < gPathCount; ++i)
      if (!(gPaths[i].pathFlags & PathFlag::openPath) && gPaths[i].fillKind == kPaintNone && Points(i).size() == 5)
        rect = true;
    EXPECT_EQ(rect, c.rectangle) << c.name;
    EXPECT_EQ(std::vector<uint8_t>(gWorkBits, gWorkBits + n), before) << c.name << ": the image is put back";
    EXPECT_EQ(horzLines, nullptr) << c.name << ": the line buffers are released";
  }
}

TEST_F(MethodsTest, OutlinePlusCenterlineOutlinesOnlyTheThickArea) {
  BoxBlobAndStub();
  Convert(Method::outline | Method::centerline);
  // The only closed path is the blob's outline, filled black.
  int closed = 0;
  for (int i = 0; i < gPathCount; ++i) {
    if (gPaths[i].pathFlags & PathFlag::openPath) continue;
    ++closed;
    EXPECT_EQ(gPaths[i].fillKind, kPaintBlack);
    for (const Pt& p : Points(i, false)) {
      EXPECT_GE(p.x, 375);
      EXPECT_LE(p.y, 155);
    }
  }
  EXPECT_EQ(closed, 1);
}

TEST_F(MethodsTest, CenterlineEndsSnapOntoRecognizedLines) {
  BoxBlobAndStub();
  Convert(Method::centerline | Method::lineRecognition);
  // The stub's centerline reaches the top rule's centre row (41).
  bool reached = false;
  for (int i = 0; i < gPathCount; ++i)
    for (const Pt& p : Points(i, false))
      if (p.x > 145 && p.x < 158 && std::fabs(p.y - 41) < 0.6) reached = true;
  EXPECT_TRUE(reached);
}

// A diagram shipped by Debian: boxes, arrows and rules, rendered at 75 dpi.
class DiagramTest : public MethodsTest {
 protected:
  void SetUp() override {
    MethodsTest::SetUp();
    // Rendered once for the suite: the SVG renderer takes seconds.
    static std::string rendered;
    static bool tried = false;
    std::string pbm = PathIn("diagram.pbm");
    if (!tried) {
      tried = true;
      const std::string svg = "/usr/share/doc/postgresql-common/dependencies.svg";
      if (RunTool("convert -density 75 '" + svg +
                  "' -background white -flatten -colorspace gray -threshold 50% 'pbm:" + pbm + "'"))
        rendered = ReadFileBytes(pbm);
    }
    if (rendered.empty()) GTEST_SKIP() << "ImageMagick or the diagram is missing";
    WriteFileBytes(pbm, rendered);
    ASSERT_TRUE(LoadPbm(pbm, 75));
  }
};

TEST_F(DiagramTest, CenterlinesRunOnTheSkeleton) {
  auto skel = SkeletonOf(3);
  Convert(Method::centerline);
  ASSERT_GT(gPathCount, 50);
  EXPECT_EQ(Count(false), 0);
  EXPECT_LE(WorstDistance(skel), 2.0);
}

TEST_F(DiagramTest, BoxesComeOutAsRectanglesWithMeasuredWeights) {
  gConvSettings->methodFlags = 0;  // Uniform Line Weight off
  Convert(Method::lineRecognition);
  int rects = 0;
  for (int i = 0; i < gPathCount; ++i) {
    auto p = Points(i);
    bool open = gPaths[i].pathFlags & PathFlag::openPath;
    // Every path is straight: level or upright segments only.
    for (size_t k = 1; k < p.size(); ++k) EXPECT_TRUE(p[k].x == p[k - 1].x || p[k].y == p[k - 1].y) << i;
    EXPECT_GT(gPaths[i].strokeWeight, 0) << i;
    if (!open && p.size() == 5) ++rects;
  }
  // The diagram has 14 boxes.
  EXPECT_GE(rects, 10);
}

}  // namespace

namespace {

// Outline + Line recognition: the thin strokes that are no lines (a short
// dash, a small ring) are outlined with the thick areas instead of being
// lost; the rules become one rectangle and leave no slivers behind.
TEST_F(MethodsTest, OutlinePlusLinesOutlinesWhatIsNoLine) {
  for (bool blob : {true, false}) {
    DeleteAllPaths();
    BoxBlobAndStub();
    for (int y = 60; y < 150 && !blob; ++y)
      for (int x = 380; x < 470; ++x) SetWorkPixel(x, y, 0);
    FillRect(100, 150, 130, 153);  // a dash shorter than the minimum line length
    for (int y = 180; y < 200; ++y)  // a ring 2 pixels wide
      for (int x = 240; x < 260; ++x) {
        int d = (x - 250) * (x - 250) + (y - 190) * (y - 190);
        if (d >= 49 && d < 100) SetWorkPixel(x, y);
      }
    Convert(Method::outline | Method::lineRecognition);
    int filled = 0, rectangles = 0;
    bool dash = false, ring = false;
    for (int i = 0; i < gPathCount; ++i) {
      if (gPaths[i].pathFlags & PathFlag::openPath) continue;
      if (gPaths[i].fillKind == kPaintNone) {
        ++rectangles;
        continue;
      }
      if (gPaths[i].fillKind != kPaintBlack) continue;
      ++filled;
      Pt p = Points(i, false)[0];
      if (p.x >= 98 && p.x <= 132 && p.y >= 148 && p.y <= 155) dash = true;
      if (p.x >= 238 && p.x <= 262 && p.y >= 178 && p.y <= 202) ring = true;
    }
    EXPECT_EQ(rectangles, 1) << blob;
    EXPECT_TRUE(dash) << blob;
    EXPECT_TRUE(ring) << blob;
    EXPECT_EQ(filled, blob ? 3 : 2) << blob << ": blob, dash and ring only";
  }
}

}  // namespace

namespace {

// Tiny and one-pixel-thin images: every method set runs to the end and puts
// the image back (the sanitizer build checks the reads at the edges).
TEST_F(MethodsTest, TinyImagesRunEveryMethodSet) {
  const uint8_t O = Method::outline, C = Method::centerline, L = Method::lineRecognition;
  const int sizes[][2] = {{1, 1}, {2, 3}, {3, 2}, {40, 1}, {1, 40}, {5, 5}};
  for (const auto& wh : sizes) {
    for (uint8_t methods : {uint8_t(C), uint8_t(L), uint8_t(O | C), uint8_t(O | L), uint8_t(C | L), uint8_t(O | C | L)}) {
      DeleteAllPaths();
      MakeBitmapImage(wh[0], wh[1]);
      FillRect(0, 0, wh[0], wh[1]);
      size_t n = static_cast<size_t>(gImage->rowBytes) * gImage->height;
      std::vector<uint8_t> before(gWorkBits, gWorkBits + n);
      Convert(methods);
      EXPECT_EQ(std::vector<uint8_t>(gWorkBits, gWorkBits + n), before) << wh[0] << "x" << wh[1] << " " << int(methods);
    }
    // The frame rules of color mode on the same sizes.
    colorMode = 1;
    EXPECT_GE(RunThinningPasses(0, 38, 20, false), 0);
    EXPECT_TRUE(CollectJunctions()) << wh[0] << "x" << wh[1];
    FreeJunctionList();
    colorMode = 0;
  }
}

}  // namespace
