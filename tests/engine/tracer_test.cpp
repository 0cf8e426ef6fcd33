// The outline tracer: the object search, the boundary walk and its chain,
// the overflow of long chains into "edgearr", erasing by parity spans, the
// stamped band in the mask, the low-memory parking of the object area, and
// the centerlining walk that passes through its start.
#include <algorithm>

#include "shell/document.h"

#include "tests/engine/tracer_fixture.h"

namespace {

using TracerTest = OutlineTest;

std::string Rows(const uint8_t* bits, int x0, int y0, int w, int h) {
  std::string s;
  for (int y = y0; y < y0 + h; ++y) {
    for (int x = x0; x < x0 + w; ++x) s += GetPixel(bits, x, y) ? '#' : '.';
    s += '\n';
  }
  return s;
}

bool AllClear(const uint8_t* bits) {
  size_t n = static_cast<size_t>(gImage->rowBytes) * gImage->height;
  return std::all_of(bits, bits + n, [](uint8_t b) { return b == 0; });
}

TEST_F(TracerTest, IsolatedPixelGivesStartPointAndTwoEndMarks) {
  MakeBitmapImage(32, 8);
  SetWorkPixel(17, 3);
  BeginConversion();
  StartObjectSearch();
  EXPECT_EQ(TraceNextObject(), 6);
  EXPECT_EQ(chainStartX, 17);
  EXPECT_EQ(chainStartY, 3);
  EXPECT_EQ(ChainByte(4), 0xFF);
  EXPECT_EQ(ChainByte(5), 0xFF);
  EXPECT_EQ(GetPixel(gWorkBits, 17, 3), 0);
  EXPECT_EQ(Rows(maskBits, 14, 0, 7, 7), ".......\n.#####.\n.#####.\n.#####.\n.#####.\n.#####.\n.......\n");
  RestoreObjectArea();
  EXPECT_TRUE(AllClear(maskBits));
  EXPECT_EQ(TraceNextObject(), 0);
}

TEST_F(TracerTest, OnePixelLineGoesRightAndBack) {
  MakeBitmapImage(40, 6);
  FillRect(5, 2, 17, 3);  // 12 pixels
  BeginConversion();
  StartObjectSearch();
  EXPECT_EQ(TraceNextObject(), 4 + 22 + 1);
  std::vector<int> expected(11, 5);
  expected.insert(expected.end(), 11, 1);
  EXPECT_EQ(ChainCodes(), expected);
  EXPECT_EQ(ChainByte(4 + 22), 0xFF);
  EXPECT_EQ(objectExtremes.leftX, 5);
  EXPECT_EQ(objectExtremes.rightX, 16);
  EXPECT_TRUE(AllClear(gWorkBits));
}

TEST_F(TracerTest, SquareWalkIsClockwiseAndErasesToTheHole) {
  MakeBitmapImage(32, 16);
  FillRect(2, 2, 9, 9);
  for (int y = 4; y < 7; ++y)
    for (int x = 4; x < 7; ++x) SetWorkPixel(x, y, 0);
  BeginConversion();
  StartObjectSearch();
  ASSERT_GT(TraceNextObject(), 0);
  std::vector<int> codes = ChainCodes();
  ASSERT_EQ(codes.size(), 24u);
  EXPECT_EQ(codes.front(), 5) << "right along the top first";
  EXPECT_EQ(objectWidth, 7);
  EXPECT_EQ(objectHeight, 7);
  // Exactly the hole is left black.
  EXPECT_EQ(Rows(gWorkBits, 0, 0, 12, 11),
            "............\n............\n............\n............\n....###.....\n....###.....\n"
            "....###.....\n............\n............\n............\n............\n");
  RestoreObjectArea();
  ASSERT_GT(TraceNextObject(), 0);
  EXPECT_EQ(chainStartX, 4);
  EXPECT_EQ(chainStartY, 4);
  EXPECT_EQ(ChainCodes().size(), 8u);
  RestoreObjectArea();
  EXPECT_EQ(TraceNextObject(), 0);
  EXPECT_TRUE(AllClear(gWorkBits));
  EXPECT_TRUE(AllClear(maskBits));
}

TEST_F(TracerTest, ObjectsAtTheBorderStayInsideTheBitmap) {
  MakeBitmapImage(32, 12);  // rowBits 32: the object touches all four sides
  FillRect(0, 0, 32, 12);
  SetWorkPixel(10, 5, 0);
  BeginConversion();
  StartObjectSearch();
  ASSERT_GT(TraceNextObject(), 0);
  EXPECT_EQ(objectExtremes.leftX, 0);
  EXPECT_EQ(objectExtremes.rightX, 31);
  EXPECT_EQ(objectExtremes.bottomY, 11);
  EXPECT_EQ(areaLeft, 0);
  EXPECT_EQ(areaTop, 0);
  EXPECT_EQ(areaWidth, 32);
  EXPECT_EQ(areaHeight, 12);
  EXPECT_EQ(Rows(maskBits, 0, 0, 4, 4), "####\n####\n####\n###.\n");
  EXPECT_EQ(Rows(gWorkBits, 8, 4, 4, 3), "....\n..#.\n....\n");  // the hole
  RestoreObjectArea();
  EXPECT_TRUE(AllClear(maskBits));
}

// A comb of many teeth has a boundary far longer than a small chain area.
void DrawComb(int teeth) {
  for (int t = 0; t < teeth; ++t) FillRect(2 + 3 * t, 2, 4 + 3 * t, 30);
  FillRect(2, 30, 1 + 3 * teeth, 33);
}

TEST_F(TracerTest, LongChainOverflowsIntoEdgearrAndReadsBackIdentically) {
  MakeBitmapImage(200, 40);
  DrawComb(60);
  BeginConversion();
  StartObjectSearch();
  int16_t full = TraceNextObject();
  ASSERT_GT(full, 1024);
  std::vector<int> expected = ChainCodes();
  EXPECT_EQ(chainOverflowed, 0);
  EndConversion();

  MakeBitmapImage(200, 40);
  DrawComb(60);
  BeginConversion(256);
  StartObjectSearch();
  EXPECT_EQ(TraceNextObject(), 256) << "the area's size stands for an overflowed chain";
  EXPECT_EQ(chainOverflowed, 1);
  EXPECT_EQ(ChainCodes(), expected);
  EXPECT_EQ(ChainByte(4 + static_cast<int32_t>(expected.size())), 0xFF);
  EXPECT_TRUE(FileExists(PathIn("edgearr").c_str()));
  EXPECT_TRUE(AllClear(gWorkBits)) << "erased through the paged chain";
  // The polygon and the path do not depend on where the chain lived.
  BuildPolygon();
  EXPECT_GT(vertexCount, 100);
}

TEST_F(TracerTest, LowMemoryModeParksTheAreaAndPutsNeighboursBack) {
  MakeBitmapImage(32, 16);
  FillRect(2, 2, 8, 8);
  SetWorkPixel(12, 5);  // another object inside the first one's area
  BeginConversion();
  lowMemoryMode = 1;
  maskBits = gWorkBits;
  StartObjectSearch();
  ASSERT_GT(TraceNextObject(), 0);
  EXPECT_EQ(GetPixel(gWorkBits, 12, 5), 0) << "parked in dgtemp";
  EXPECT_EQ(GetPixel(gWorkBits, 4, 4), 1) << "the stamped band";
  RestoreObjectArea();
  EXPECT_EQ(GetPixel(gWorkBits, 12, 5), 1);
  int black = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x) black += GetPixel(gWorkBits, x, y);
  EXPECT_EQ(black, 1) << "the band is gone, the neighbour is back";
  EXPECT_EQ(TraceNextObject(), 6);
}

TEST_F(TracerTest, CenterlineWalkPassesThroughItsStartUntilAboutToRepeatItsFirstMove) {
  // Two one-pixel arms meet at the start pixel only. Outlining ends at the
  // first return to the start; centerlining goes on down the second arm and
  // ends when it would go right again.
  const std::vector<std::string> corner = {"...####", "..#", ".#", "#"};
  const std::vector<int> right(3, 5), left(3, 1), down(3, 0), up(3, 4);
  for (int mode : {0, 1}) {
    MakeBitmapImage(32, 16);
    DrawArt(2, 2, corner);
    BeginConversion();
    tracingMode = static_cast<int16_t>(mode);
    StartObjectSearch();
    ASSERT_GT(TraceNextObject(), 0);
    std::vector<int> expected = right;
    expected.insert(expected.end(), left.begin(), left.end());
    if (mode == 1) {
      expected.insert(expected.end(), down.begin(), down.end());
      expected.insert(expected.end(), up.begin(), up.end());
    }
    EXPECT_EQ(ChainCodes(), expected) << mode;
    EXPECT_EQ(ChainByte(4 + static_cast<int32_t>(expected.size())), 0xFF);
    if (mode == 1) {
      EXPECT_TRUE(AllClear(gWorkBits)) << "the 5-pixel swath is cleared";
    }
    EndConversion();
  }
}

TEST_F(TracerTest, StopRequestEndsTheSearch) {
  MakeBitmapImage(32, 8);
  SetWorkPixel(3, 3);
  BeginConversion();
  StartObjectSearch();
  gUserAbort = 1;
  EXPECT_EQ(TraceNextObject(), 0);
}

TEST_F(TracerTest, NoiseThresholdDropsShortChains) {
  // Noise Suppression 1 keeps an isolated pixel (a 1.5-pixel square); 2 drops it.
  for (int noise : {100, 200}) {
    MakeBitmapImage(32, 8);
    SetWorkPixel(3, 3);
    BeginConversion();
    gConvSettings->noiseSuppression = noise;
    OutlineAll();
    EXPECT_EQ(gPathCount, noise == 100 ? 1 : 0) << noise;
    DeleteAllPaths();
    EndConversion();
  }
}

}  // namespace

namespace {

int gTickCalls = 0;
uint32_t EscapeAfterSomeTicks() {
  if (++gTickCalls == 25) QueueEscape();
  return static_cast<uint32_t>(gTickCalls) * 61;
}

TEST_F(TracerTest, StopMidConversionKeepsTheFinishedPaths) {
  MakeBitmapImage(200, 120);
  for (int k = 0; k < 40; ++k) FillRect(4 + (k % 10) * 19, 4 + (k / 10) * 28, 16 + (k % 10) * 19, 24 + (k / 10) * 28);
  std::string before(reinterpret_cast<char*>(gWorkBits), static_cast<size_t>(gImage->rowBytes) * gImage->height);
  gDocument->imageWindow = reinterpret_cast<WindowHandle>(this);
  gTickCalls = 0;
  SetTickSource(EscapeAfterSomeTicks);
  ConvertImage(false);
  EXPECT_EQ(gUserAbort, 1);
  EXPECT_GT(gPathCount, 0);
  EXPECT_LT(gPathCount, 40);
  for (int p = 0; p < gPathCount; ++p) {
    std::vector<int16_t> w = PathWords(p);
    ASSERT_EQ(w.size(), 10u) << "a whole rectangle";
    EXPECT_EQ(w[0], w[8]);
    EXPECT_EQ(w[1], w[9]);
  }
  EXPECT_EQ(std::string(reinterpret_cast<char*>(gWorkBits), before.size()), before);
  CloseDocument();
}

}  // namespace

namespace {

// With no memory for the mask and the template, the working bitmap serves as
// the mask (object areas parked in "dgtemp") and the template is read from
// "memtemp": the art comes out the same.
TEST_F(TracerTest, LowMemoryConversionMakesTheSameArt) {
  std::vector<std::vector<int16_t>> art[2];
  for (int k = 0; k < 2; ++k) {
    MakeBitmapImage(800, 700);
    FillRect(20, 20, 200, 200);
    for (int y = 60; y < 120; ++y)
      for (int x = 60; x < 120; ++x) SetWorkPixel(x, y, 0);
    FillRect(210, 30, 220, 300);  // close to the square: inside its object area
    for (int y = 0; y < 100; ++y)
      for (int x = 0; x < 100; ++x)
        if ((x - 50) * (x - 50) + (y - 50) * (y - 50) < 1600) SetWorkPixel(400 + x, 300 + y);
    gDocument->imageWindow = reinterpret_cast<WindowHandle>(this);
    if (k == 1) MemFailAbove(68000);  // the bitmaps fail, the work buffer does not
    ConvertImage(false);
    MemResetFailures();
    EXPECT_TRUE(MessageIds().empty());
    EXPECT_EQ(lowMemoryMode, k);
    for (int p = 0; p < gPathCount; ++p) art[k].push_back(PathWords(p));
    CloseDocument();
  }
  EXPECT_EQ(art[0].size(), 4u);
  EXPECT_EQ(art[1], art[0]);
}

}  // namespace

