// The path bodies: paint lines and their memory across paths, custom colors
// by generation, the color comments, the smoothness letters and grouping.
#include <cmath>
#include <cstring>

#include "core/records.h"
#include "engine/custom_colors.h"
#include "output/art_writer.h"
#include "tests/output/art_fixture.h"

namespace {

class PathBodyTest : public ArtTest {
 protected:
  void SetUp() override {
    ArtTest::SetUp();
    Image(64, 32, 72);
  }
  // The body between the setup and the trailer.
  std::string Body(int16_t format) {
    gPrefs->outputFormat = format;
    gPrefs->previewKind = 0;
    std::string path = PathIn("art.eps");
    EXPECT_TRUE(SaveArt(path.c_str(), 0).ok());
    std::string text = ReadFileBytes(path);
    size_t start = text.find(format >= 2 ? "%QV3_Note:\r0 D\r" : "%%Note:\r");
    size_t end = text.find("%%PageTrailer");
    EXPECT_NE(start, std::string::npos);
    start = text.find('\r', text.find('\r', start) + 1) + 1;
    if (format < 2) start = text.find('\r', text.find("%%Note:", 0)) + 1;
    return text.substr(start, end - start);
  }
  std::string Header(int16_t format) {
    gPrefs->outputFormat = format;
    gPrefs->previewKind = 0;
    std::string path = PathIn("art.eps");
    EXPECT_TRUE(SaveArt(path.c_str(), 0).ok());
    std::string text = ReadFileBytes(path);
    return text.substr(0, text.find("%%EndComments"));
  }
  int Dot(double x, double y, const ArtPaint& paint) {
    int i = StartArtPath(x, y);
    ArtLineTo(x + 1, y);
    PaintArtPath(i, paint);
    return i;
  }
};

TEST_F(PathBodyTest, PaintLinesAreWrittenOnlyWhenThePaintChanges) {
  Dot(1, 1, {kPaintBlack, 0x000000FF, kPaintNone, 0, 10, 0});        // black fill: the setup's own
  Dot(2, 1, {kPaintProcess, 0x10203040, kPaintNone, 0, 10, 0});      // new process fill
  Dot(3, 1, {kPaintProcess, 0x10203040, kPaintNone, 0, 10, 0});      // same again: nothing
  Dot(4, 1, {kPaintWhite, 0, kPaintBlack, 0x00000000, 5, 0});        // fill and a white-gray stroke
  Dot(5, 1, {kPaintNone, 0, kPaintBlack, 0x00000000, 5, PathFlag::openPath});  // same stroke, weight
  Dot(6, 1, {kPaintProcess, 0xFF000000, kPaintProcess, 0x00FF0000, 5, PathFlag::openPath});  // open: S
  Dot(7, 1, {kPaintNone, 0, kPaintNone, 0, 5, 0});                   // nothing at all
  EXPECT_EQ(Body(3),
            "1 31 m\r2 31 L\rf\r"
            "0.06 0.13 0.19 0.25 k\r2 31 m\r3 31 L\rf\r"
            "3 31 m\r4 31 L\rf\r"
            "1 g\r1 G\r0.5 w\r4 31 m\r5 31 L\rb\r"
            "5 31 m\r6 31 L\rS\r"
            "0 1 0 0 K\r6 31 m\r7 31 L\rS\r");
}

TEST_F(PathBodyTest, CustomColorsByGeneration) {
  CustomColorEntry* aqua = NewColorEntry();
  strcpy(aqua->name, "Aqua");
  aqua->color[0] = 255;
  aqua->color[2] = 140;
  CustomColorEntry* red = NewColorEntry();
  strcpy(red->name, "Red");
  red->color[1] = red->color[2] = 255;
  int full = Dot(1, 1, {kPaintCustom, 0x00FFFF00, kPaintNone, 0, 10, 0});
  gPaths[full].fillCustom = 1;
  int tinted = Dot(2, 1, {kPaintNone, 0, kPaintCustom, 0x00808000, 20, PathFlag::openPath});
  gPaths[tinted].strokeCustom = 1;
  gPaths[tinted].strokeTint = 128;
  int gone = Dot(3, 1, {kPaintCustom, 0x01020304, kPaintNone, 0, 10, 0});
  gPaths[gone].fillCustom = 7;  // an entry that does not exist

  EXPECT_EQ(Body(3),
            "0 1 1 0 (Red) 0 x\r1 31 m\r2 31 L\rf\r"
            "0 1 1 0 (Red) 0.5 X\r2.0 w\r2 31 m\r3 31 L\rS\r"
            "0 0.01 0.01 0.02 k\r3 31 m\r4 31 L\rf\r");
  EXPECT_EQ(Body(1),
            "0 1 1 0 k\r1 31 m\r2 31 L\rf\r"
            "0 0.5 0.5 0 K\r2.0 w\r2 31 m\r3 31 L\rS\r"
            "0 0.01 0.01 0.02 k\r3 31 m\r4 31 L\rf\r");

  std::string header = Header(3);
  EXPECT_NE(header.find("%QV3_ColorUsage: Color\r%%DocumentProcessColors: Cyan Magenta Yellow Black\r"
                        "%%CMYKCustomColor: 1 0 0.55 0 (Aqua)\r%%+ 0 1 1 0 (Red)\r"),
            std::string::npos)
      << header;
  EXPECT_NE(Header(2).find("%%CMYKCustomColor: "), std::string::npos);
  EXPECT_EQ(Header(1).find("%%CMYKCustomColor"), std::string::npos);
  EXPECT_EQ(Header(0).find("%%CMYKCustomColor"), std::string::npos);
  EXPECT_NE(Header(1).find("%%ColorUsage: Color\r"), std::string::npos);
}

TEST_F(PathBodyTest, ColorCommentsCoverEveryPathAndBothRoles) {
  // Only K in fills and strokes: black and white.
  Dot(1, 1, {kPaintBlack, 0x00000080, kPaintBlack, 0x000000FF, 10, 0});
  EXPECT_NE(Header(3).find("%QV3_ColorUsage: Black&White\r%%DocumentProcessColors: Black\r"),
            std::string::npos);
  // A stroke color counts even where the kind is none, and unselected paths count.
  Dot(2, 1, {kPaintBlack, 0, kPaintNone, 0x00010000, 10, 0});
  EXPECT_NE(Header(3).find("%QV3_ColorUsage: Color\r%%DocumentProcessColors: Magenta Black\r"),
            std::string::npos);
  DeleteAllPaths();
  ASSERT_TRUE(ResetPathStore().ok());
  Dot(1, 1, {kPaintWhite, 0, kPaintNone, 0, 10, 0});
  EXPECT_NE(Header(3).find("%%DocumentProcessColors:\r"), std::string::npos);
}

TEST_F(PathBodyTest, SmoothnessJudgesOppositeDirections) {
  struct Case {
    double degrees;
    bool smooth;
  } const cases[] = {{180, true}, {171, true}, {189, true}, {169, false},
                     {191, false}, {90, false}, {10, false}, {-170, false}};
  for (const Case& c : cases) {
    double r = c.degrees / 57.29577951;
    int32_t x = static_cast<int32_t>(lround(cos(r) * 100000)), y = static_cast<int32_t>(lround(sin(r) * 100000));
    EXPECT_EQ(SmoothAnchor(x, y, 100000, 0), c.smooth) << c.degrees;
  }
  // The incoming point at -170 degrees and the outgoing one at +170 are 20 degrees apart.
  EXPECT_FALSE(SmoothAnchor(-98481, -17365, -98481, 17365));
  EXPECT_FALSE(SmoothAnchor(0, 0, 100, 0));
  EXPECT_FALSE(SmoothAnchor(-100, 0, 0, 0));
}

TEST_F(PathBodyTest, AnchorLettersFollowTheirNeighbours) {
  // A closed curve path that leaves and returns smoothly: every anchor is
  // smooth, the last judged against the first control point.
  int closed = StartArtPath(8, 16);
  ArtCurveTo(8, 8, 24, 8, 24, 16);
  ArtCurveTo(24, 24, 8, 24, 8, 16);
  PaintArtPath(closed, {kPaintBlack, 0x000000FF, kPaintNone, 0, 10, 0});
  // An open path ending elsewhere: its last anchor is always a corner; an
  // incoming control point on the anchor makes a corner; a grouped path.
  int open = StartArtPath(32, 16);
  ArtCurveTo(32, 8, 40, 16, 40, 16);
  ArtLineTo(48, 16);
  ArtCurveTo(52, 16, 56, 16, 60, 16);
  PaintArtPath(open, {kPaintNone, 0, kPaintBlack, 0x000000FF, 10, PathFlag::openPath | PathFlag::grouped});
  EXPECT_EQ(Body(3),
            "8 16 m\r8 24 24 24 24 16 c\r24 8 8 8 8 16 c\rf\r"
            "1.0 w\ru\r32 16 m\r32 24 40 16 40 16 C\r48 16 l\r52 16 56 16 60 16 C\rS\rU\r");
}

}  // namespace
