// Ghostscript renders the EPS files that carry our prolog: every paint kind,
// fill, stroke, fill-and-stroke, line weights, open and closed paths, curves
// and groups land where the art says.
#include <cstring>

#include "core/records.h"
#include "engine/custom_colors.h"
#include "output/art_writer.h"
#include "tests/output/art_fixture.h"

namespace {

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kBlack = 0x000000;

class EpsRenderTest : public ArtTest {
 protected:
  // Saves the art at 72 pixels per inch (one pixel is one point) and renders it.
  Raster SaveAndRender(int16_t format, int16_t preview) {
    gPrefs->outputFormat = format;
    gPrefs->previewKind = preview;
    std::string path = PathIn("art.eps");
    EXPECT_TRUE(SaveArt(path.c_str(), 0).ok());
    Raster raster;
    std::string log;
    EXPECT_TRUE(RenderEps(path, Dir(), &raster, &log)) << log;
    EXPECT_EQ(log, "") << "Ghostscript reported problems";
    return raster;
  }
};

TEST_F(EpsRenderTest, EveryPaintKindFillsItsShape) {
  Image(96, 64, 72);
  ASSERT_TRUE(SetCustomColors(nullptr, 0));
  CustomColorEntry* red = NewColorEntry();
  strcpy(red->name, "Red (spot)");
  red->color[1] = red->color[2] = 255;  // M and Y: red
  // Black under a white square, a 50% gray, a process cyan, a custom red at
  // half tint, and a custom red at full strength.
  ArtRect(4, 4, 28, 28, {kPaintBlack, 0x000000FF, 0, 0, 10, 0});
  ArtRect(10, 10, 22, 22, {kPaintWhite, 0, 0, 0, 10, 0});
  ArtRect(36, 4, 60, 28, {kPaintBlack, 0x00000080, 0, 0, 10, 0});
  ArtRect(68, 4, 92, 28, {kPaintProcess, 0xFF000000, 0, 0, 10, 0});
  int half = ArtRect(4, 36, 28, 60, {kPaintCustom, 0x00808000, 0, 0, 10, 0});
  gPaths[half].fillCustom = 0;
  gPaths[half].fillTint = 128;
  int full = ArtRect(36, 36, 60, 60, {kPaintCustom, 0x00FFFF00, 0, 0, 10, 0});
  gPaths[full].fillCustom = 0;

  Raster r = SaveAndRender(3, 1);
  ASSERT_EQ(r.width, 96);
  ASSERT_EQ(r.height, 64);
  struct Probe {
    int x, y;
    uint32_t color;
  } const probes[] = {
      {6, 6, kBlack},      {16, 16, kWhite},    {48, 16, 0x7F7F7F}, {80, 16, 0x00FFFF},
      {16, 48, 0xFF7F7F},  {48, 48, 0xFF0000},  {32, 16, kWhite},   {80, 48, kWhite},
  };
  for (const Probe& p : probes)
    EXPECT_TRUE(Near(r.At(p.x, p.y), p.color)) << p.x << "," << p.y << " is " << std::hex << r.At(p.x, p.y);
}

TEST_F(EpsRenderTest, StrokesFillAndStrokeWeightsAndOpenPaths) {
  Image(96, 64, 72);
  // An open path with a fill and a 6-point black stroke: stroked, never filled.
  int open = StartArtPath(8, 8);
  ArtLineTo(40, 8);
  ArtLineTo(40, 40);
  PaintArtPath(open, {kPaintProcess, 0x00FF0000, kPaintBlack, 0x000000FF, 60, PathFlag::openPath});
  // A yellow square with a 4-point process-blue stroke.
  ArtRect(56, 8, 88, 40, {kPaintProcess, 0x0000FF00, kPaintProcess, 0xFFFF0000, 40, 0});
  // A stroked-only closed path with a 1-point gray stroke.
  ArtRect(8, 48, 40, 60, {kPaintNone, 0, kPaintBlack, 0x00000080, 10, 0});

  Raster r = SaveAndRender(3, 1);
  struct Probe {
    int x, y;
    uint32_t color;
  } const probes[] = {
      {24, 8, kBlack},     {24, 5, kBlack},     {24, 13, kWhite},  // 6-point line along y = 8
      {40, 24, kBlack},    {20, 24, kWhite},                       // open: its inside stays white
      {72, 24, 0xFFFF00},  {56, 24, 0x0000FF},  {72, 9, 0x0000FF}, {72, 45, kWhite},
      {24, 48, 0x7F7F7F},  {24, 54, kWhite},
  };
  for (const Probe& p : probes)
    EXPECT_TRUE(Near(r.At(p.x, p.y), p.color, 40)) << p.x << "," << p.y << " is " << std::hex << r.At(p.x, p.y);
}

TEST_F(EpsRenderTest, CurvesAndGroupsRender) {
  Image(64, 64, 72);
  // A circle of radius 20 around (32, 32) from four curves, grouped.
  const double k = 20 * 0.5523;
  int circle = StartArtPath(52, 32);
  ArtCurveTo(52, 32 + k, 32 + k, 52, 32, 52);
  ArtCurveTo(32 - k, 52, 12, 32 + k, 12, 32);
  ArtCurveTo(12, 32 - k, 32 - k, 12, 32, 12);
  ArtCurveTo(32 + k, 12, 52, 32 - k, 52, 32);
  PaintArtPath(circle, {kPaintBlack, 0x000000FF, 0, 0, 10, PathFlag::grouped});

  Raster r = SaveAndRender(3, 4);  // with the binary header and a TIFF preview
  EXPECT_TRUE(Near(r.At(32, 32), kBlack));
  EXPECT_TRUE(Near(r.At(32, 14), kBlack));
  EXPECT_TRUE(Near(r.At(14, 14), kWhite));  // outside the circle, inside its box
  EXPECT_TRUE(Near(r.At(50, 50), kWhite));
  EXPECT_TRUE(Near(r.At(60, 32), kWhite));
}

}  // namespace
