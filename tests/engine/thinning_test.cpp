// Centerline thinning: the neighbour tables, the passes, junction collection
// and merging, the thick/thin split and the interactive pause.
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "art/pathstore.h"
#include "core/records.h"
#include "engine/conversion.h"
#include "engine/junctions.h"
#include "engine/settings.h"
#include "engine/thinning.h"
#include "engine/thinning_model.h"
#include "platform/platform.h"
#include "shell/document.h"
#include "platform/string_ids.h"
#include "tests/support/support.h"

namespace {

uint32_t gTicks = 0;
uint32_t Ticks() { return gTicks; }

class ThinningTest : public TessTest {
 protected:
  void SetUp() override {
    TessTest::SetUp();
    gTicks += 1000;
    SetTickSource(Ticks);
    ThinningWindowClose();
  }
  void TearDown() override {
    FreeJunctionList();
    DeleteAllPaths();
    if (gDocument->Test(Flag::interactiveThinning)) {
      gDocument->thinningResponse = kThinningCancel;
      ConvertImage(false);
    }
    CloseDocument();
    TessTest::TearDown();
  }
  std::vector<std::pair<int, int>> Black() const {
    std::vector<std::pair<int, int>> v;
    for (int y = 0; y < gImage->height; ++y)
      for (int x = 0; x < gImage->width; ++x)
        if (WorkPixel(x, y)) v.push_back({x, y});
    return v;
  }
  std::vector<JunctionPoint> Points() const {
    std::vector<JunctionPoint> v;
    for (int32_t i = 1; i + 1 < junctionCount; ++i) v.push_back(JunctionList[i]);
    return v;
  }
  std::string Bitmap() const {
    return std::string(reinterpret_cast<char*>(gWorkBits), static_cast<size_t>(gImage->rowBytes) * gImage->height);
  }
};

std::set<int> ZeroCodes(const std::array<uint8_t, 256>& t) {
  std::set<int> s;
  for (int c = 0; c < 256; ++c)
    if (t[c] == 0) s.insert(c);
  return s;
}

TEST(ThinningTables, PeelTableDeletesExactly53Codes) {
  std::set<int> zeros = ZeroCodes(PeelTable);
  EXPECT_EQ(zeros.size(), 53u);
  EXPECT_TRUE(zeros.count(0x00));   // isolated pixel
  EXPECT_TRUE(zeros.count(0x01));   // end point (one black neighbour, south)
  EXPECT_TRUE(zeros.count(0x1F));   // one run of five, west open
  EXPECT_FALSE(zeros.count(0xFD));  // seven neighbours missing only the south-east corner
  EXPECT_FALSE(zeros.count(0x11));  // N and S: two runs, a line's middle
  EXPECT_FALSE(zeros.count(0xFF));
}

TEST(ThinningTables, CornerTableDeletesTheTwelveCornerRuns) {
  std::set<int> expected = {0x02, 0x08, 0x20, 0x80, 0x07, 0x1C, 0x70, 0xC1, 0x3E, 0x8F, 0xE3, 0xF8};
  EXPECT_EQ(ZeroCodes(CornerTable), expected);
}

TEST(ThinningTables, JunctionTableHoldsThe61ListedCodes) {
  const char* listed =
      "15 25 29 2A 2B 2D 35 45 49 4A 4B 4D 51 52 53 54 55 56 57 59 5A 5B 65 69 6A 6B 6D 75 8A 92 94 95 96 9A A2 A4 "
      "A5 A6 A8 A9 AA AB AC AD AE B2 B4 B5 B6 BA CA D2 D4 D6 DA EA EB F2 F4 F6 FA";
  std::set<int> expected;
  for (const char* p = listed; *p;) {
    expected.insert(static_cast<int>(strtol(p, const_cast<char**>(&p), 16)));
    while (*p == ' ') ++p;
  }
  ASSERT_EQ(expected.size(), 61u);
  std::set<int> ones;
  for (int c = 0; c < 256; ++c)
    if (JunctionTable[c]) ones.insert(c);
  EXPECT_EQ(ones, expected);
  // The table is not symmetric under mirroring: 57 and 75 are junctions, 5D and D5 are not.
  EXPECT_EQ(JunctionTable[0x57], 1);
  EXPECT_EQ(JunctionTable[0x75], 1);
  EXPECT_EQ(JunctionTable[0x5D], 0);
  EXPECT_EQ(JunctionTable[0xD5], 0);
}

TEST_F(ThinningTest, NeighbourCodeBitsRunRoundFromSouth) {
  MakeBitmapImage(16, 8);
  SetWorkPixel(5, 4);
  const int dx[8] = {0, 1, 1, 1, 0, -1, -1, -1};
  const int dy[8] = {1, 1, 0, -1, -1, -1, 0, 1};
  for (int bit = 0; bit < 8; ++bit) {
    SetWorkPixel(5 + dx[bit], 4 + dy[bit]);
    EXPECT_EQ(NeighbourCode(5, 4), 1 << bit) << bit;
    SetWorkPixel(5 + dx[bit], 4 + dy[bit], 0);
  }
}

TEST_F(ThinningTest, IsolatedPixelVanishesInTheFirstPeelPass) {
  MakeBitmapImage(32, 16);
  SetWorkPixel(7, 7);
  SetWorkPixel(20, 8);
  EXPECT_EQ(RunThinningPasses(0, 0, 1, false), 2);
  EXPECT_TRUE(Black().empty());
}

TEST_F(ThinningTest, LineLosesItsEndsPerPeelPass) {
  // A diagonal line has all its pixels in one sub-pass: one pixel per free
  // end per peel pass.
  MakeBitmapImage(64, 64);
  for (int i = 10; i < 40; ++i) SetWorkPixel(i, i);
  RunThinningPasses(0, 0, 1, false);
  auto b = Black();
  ASSERT_EQ(b.size(), 28u);
  EXPECT_EQ(b.front(), std::make_pair(11, 11));
  EXPECT_EQ(b.back(), std::make_pair(38, 38));
  // The corner passes take a diagonal end too: the rest of three steps
  // (corner, peel, corner, peel) shortens it by four more at each end.
  RunThinningPasses(1, 4, 3, false);
  b = Black();
  ASSERT_EQ(b.size(), 20u);
  EXPECT_EQ(b.front(), std::make_pair(15, 15));

  // A horizontal line: an end whose pixel is examined in the first sub-pass
  // loses its neighbour too in the second.
  MakeBitmapImage(64, 16);
  for (int x = 10; x < 40; ++x) SetWorkPixel(x, 5);  // 10 + 5 odd, 39 + 5 even
  RunThinningPasses(0, 0, 1, false);
  b = Black();
  ASSERT_FALSE(b.empty());
  EXPECT_EQ(b.front().first, 12);
  EXPECT_EQ(b.back().first, 38);
}

TEST_F(ThinningTest, ThickStrokeThinsToOnePixelSkeleton) {
  MakeBitmapImage(96, 32);
  FillRect(10, 10, 80, 17);  // 7 pixels thick
  RunThinningPasses(0, 2 * 4 - 2, 4, false);
  // Every column of the middle keeps exactly one pixel, on the centre row.
  for (int x = 25; x < 65; ++x) {
    int n = 0;
    for (int y = 0; y < 32; ++y) n += WorkPixel(x, y);
    EXPECT_EQ(n, 1) << x;
    EXPECT_EQ(WorkPixel(x, 13), 1) << x;
  }
}

TEST_F(ThinningTest, PassLoopEndsAfterAStepThatChangedNothing) {
  // A one-pixel ring has nothing deletable: the loop stops after step 1.
  MakeBitmapImage(64, 64);
  for (int i = 10; i < 30; ++i) {
    SetWorkPixel(i, 10);
    SetWorkPixel(i, 29);
    SetWorkPixel(10, i);
    SetWorkPixel(29, i);
  }
  std::string before = Bitmap();
  EXPECT_EQ(RunThinningPasses(0, 38, 20, true), 0);
  EXPECT_EQ(Bitmap(), before);
  EXPECT_EQ(Progress().text, "Step 1 of 20");
  EXPECT_EQ(Progress().percent, 5);
}

TEST_F(ThinningTest, PinholesAreFilledExceptAtTheRowEnds) {
  MakeBitmapImage(32, 8);
  FillRect(0, 2, 10, 5);
  SetWorkPixel(4, 3, 0);  // a pinhole
  SetWorkPixel(0, 3, 0);  // first pixel of a row: never filled
  FillRect(14, 2, 20, 5);
  SetWorkPixel(16, 3, 0);
  SetWorkPixel(17, 3, 0);  // two pixels wide: not a pinhole
  ASSERT_TRUE(PinholeFill());
  EXPECT_EQ(WorkPixel(4, 3), 1);
  EXPECT_EQ(WorkPixel(0, 3), 0);
  EXPECT_EQ(WorkPixel(16, 3), 0);
  EXPECT_EQ(WorkPixel(17, 3), 0);
}

TEST_F(ThinningTest, ColorModeKeepsTheFrameAndPutsJunctionsOnIt) {
  MakeBitmapImage(40, 30);
  colorMode = 1;
  // The frame and one boundary line across the image at row 15.
  FillRect(0, 0, 40, 1);
  FillRect(0, 29, 40, 30);
  FillRect(0, 0, 1, 30);
  FillRect(39, 0, 40, 30);
  FillRect(0, 14, 40, 17);
  RunThinningPasses(0, 2 * 3 - 2, 3, false);
  for (int x = 0; x < 40; ++x) {
    EXPECT_EQ(WorkPixel(x, 0), 1);
    EXPECT_EQ(WorkPixel(x, 29), 1);
  }
  for (int y = 0; y < 30; ++y) {
    EXPECT_EQ(WorkPixel(0, y), 1);
    EXPECT_EQ(WorkPixel(39, y), 1);
  }
  ASSERT_TRUE(CollectJunctions());
  bool left = false, right = false;
  for (const auto& p : Points()) {
    EXPECT_NE(p.x, 1);
    EXPECT_NE(p.x, 38);
    if (p.x == 0 && p.y >= 14 && p.y <= 17) left = true;
    if (p.x == 39 && p.y >= 14 && p.y <= 17) right = true;
  }
  EXPECT_TRUE(left);
  EXPECT_TRUE(right);
  colorMode = 0;
}

TEST_F(ThinningTest, JunctionsOfACrossAndAT) {
  MakeBitmapImage(64, 40);
  for (int i = 5; i < 26; ++i) {
    SetWorkPixel(i, 15);  // cross at (15, 15)
    SetWorkPixel(15, i);
  }
  for (int x = 35; x < 60; ++x) SetWorkPixel(x, 10);  // T at (47, 10)
  for (int y = 11; y < 30; ++y) SetWorkPixel(47, y);
  ASSERT_TRUE(CollectJunctions());
  EXPECT_EQ(JunctionList[0].y, kJunctionTopSentinel);
  EXPECT_EQ(JunctionList[junctionCount - 1].y, kJunctionEndSentinel);
  auto pts = Points();
  ASSERT_EQ(pts.size(), 2u);
  EXPECT_EQ(pts[0].x, 47);
  EXPECT_EQ(pts[0].y, 10);
  EXPECT_EQ(pts[1].x, 15);
  EXPECT_EQ(pts[1].y, 15);
}

TEST_F(ThinningTest, MergingJoinsNearbyPoints) {
  MakeBitmapImage(32, 32);
  struct Case {
    const char* name;
    std::vector<JunctionPoint> in;
    std::vector<JunctionPoint> out;
  };
  const Case cases[] = {
      {"pair on a row", {{5, 5}, {6, 5}, {20, 20}}, {{6, 5}, {20, 20}}},
      {"triple on a row", {{5, 5}, {6, 5}, {8, 5}, {20, 20}}, {{7, 5}, {20, 20}}},
      {"pair and one below", {{5, 5}, {6, 5}, {5, 6}, {20, 20}}, {{6, 6}, {20, 20}}},
      {"one below in the widened range", {{5, 5}, {5, 7}, {7, 7}, {20, 20}}, {{5, 6}, {20, 20}}},
      {"apart", {{5, 5}, {9, 6}, {20, 20}}, {{5, 5}, {9, 6}, {20, 20}}},
      {"diagonal neighbour not in a single column", {{5, 5}, {6, 6}, {20, 20}}, {{5, 5}, {6, 6}, {20, 20}}},
      {"both neighbours of the found point taken", {{5, 5}, {3, 6}, {5, 6}, {20, 20}}, {{5, 6}, {20, 20}}},
      {"moved point re-sorted past its old row", {{5, 5}, {10, 5}, {5, 6}, {20, 20}}, {{10, 5}, {5, 6}, {20, 20}}},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(StartJunctionList());
    for (const auto& p : c.in) ASSERT_TRUE(AppendJunction(p.x, p.y));
    ASSERT_TRUE(AppendJunction(0, kJunctionEndSentinel));
    MergeJunctions();
    auto got = Points();
    ASSERT_EQ(got.size(), c.out.size()) << c.name;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].x, c.out[i].x) << c.name << " point " << i;
      EXPECT_EQ(got[i].y, c.out[i].y) << c.name << " point " << i;
    }
    // The count always ends at the end sentinel.
    EXPECT_EQ(JunctionList[junctionCount - 1].y, kJunctionEndSentinel) << c.name;
  }
}

TEST_F(ThinningTest, TooManyJunctionsStopTheConversion) {
  // A checkerboard: almost every black pixel is a junction.
  MakeBitmapImage(230, 230);
  for (int y = 0; y < 230; ++y)
    for (int x = 0; x < 230; ++x)
      if ((x + y) % 2 == 0) SetWorkPixel(x, y);
  // A batch stops without a message.
  struct Case {
    bool batch;
    int16_t color;
    int16_t message;
  } cases[] = {{false, 0, kStrJunctionLimit}, {false, 1, kStrJunctionLimitColor}, {true, 0, 0}};
  for (const Case& c : cases) {
    gUserAbort = 0;
    colorMode = c.color;
    gDocument->Put(Flag::batchRunning, c.batch);
    EXPECT_FALSE(CollectJunctions());
    EXPECT_EQ(StopStatus(), Stopped(c.message));
    EXPECT_TRUE(MessageIds().empty()) << "the conversion's caller shows it";
  }
  colorMode = 0;
  gDocument->Clear(Flag::batchRunning);
}

TEST_F(ThinningTest, JunctionListGrowthFailureStopsWithOneMessage) {
  MakeBitmapImage(64, 64);
  for (int i = 0; i < 64; i += 4) {
    for (int x = 0; x < 64; ++x) SetWorkPixel(x, i);
    for (int y = 0; y < 64; ++y) SetWorkPixel(i, y);
  }
  MemFailAbove(100 * sizeof(JunctionPoint));  // the list cannot grow past its first block
  EXPECT_FALSE(CollectJunctions());
  EXPECT_EQ(StopStatus(), Stopped(kStrInsufficientMemory));
}

class SplitTest : public ThinningTest {
 protected:
  std::vector<uint8_t> templ_;
  void TearDown() override {
    templateBits = nullptr;
    DeleteScratchStores();
    ThinningTest::TearDown();
  }
  // Keeps the unthinned image as the template, as the driver does.
  void KeepTemplate() {
    size_t n = static_cast<size_t>(gImage->rowBytes) * gImage->height;
    templ_.assign(gWorkBits, gWorkBits + n);
    templateBits = templ_.data();
    templateOnDisk = 0;
  }
  std::string Skeleton() {
    int16_t f = scratchHandles[kStoreDgskel];
    std::string s(static_cast<size_t>(gImage->rowBytes) * gImage->height, '\0');
    FileSeek(f, 0, kSeekSet);
    FileRead(f, s.data(), static_cast<int32_t>(s.size()));
    return s;
  }
};

TEST_F(SplitTest, ThickAreasAreSeparatedFromThinLines) {
  MakeBitmapImage(160, 100);
  FillRect(20, 20, 70, 70);   // a thick blob
  FillRect(70, 44, 150, 47);  // a thin stroke leaving it
  gConvSettings->methodFlags = Method::outline | Method::centerline;
  KeepTemplate();
  RunThinningPasses(0, 4, 3, false);
  ASSERT_EQ(ThickThinSplit(), 1);
  // The thick areas: the blob again (within the template), not the stroke.
  EXPECT_EQ(WorkPixel(45, 45), 1);
  EXPECT_EQ(WorkPixel(21, 21), 1);
  EXPECT_EQ(WorkPixel(120, 45), 0);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 160; ++x)
      if (WorkPixel(x, y)) {
        ASSERT_TRUE(templ_[static_cast<size_t>(y) * gImage->rowBytes + x / 8] & (0x80 >> (x & 7)));
      }
  // "dgskel" keeps the thin skeleton only.
  std::string skel = Skeleton();
  auto skelPixel = [&](int x, int y) {
    return (static_cast<uint8_t>(skel[static_cast<size_t>(y) * gImage->rowBytes + x / 8]) >> (7 - (x & 7))) & 1;
  };
  int thin = 0;
  for (int x = 90; x < 140; ++x) thin += skelPixel(x, 45);
  EXPECT_EQ(thin, 50);
  for (int y = 25; y < 65; ++y) EXPECT_EQ(skelPixel(45, y), 0);
}

TEST_F(SplitTest, OnlyThinStrokesHaveNoThickAreas) {
  MakeBitmapImage(120, 80);
  FillRect(10, 20, 110, 23);
  FillRect(50, 5, 53, 75);
  gConvSettings->methodFlags = Method::outline | Method::centerline;
  KeepTemplate();
  RunThinningPasses(0, 4, 3, false);
  EXPECT_EQ(ThickThinSplit(), 0);
  EXPECT_NE(scratchHandles[kStoreDgskel], kNoFile);
}

class PauseTest : public ThinningTest {
 protected:
  void SetUp() override {
    ThinningTest::SetUp();
    MakeBitmapImage(120, 80);
    FillRect(10, 30, 110, 37);
    FillRect(55, 5, 62, 75);
    gDocument->imageWindow = reinterpret_cast<WindowHandle>(this);
    gConvSettings->methodFlags = Method::centerline;
    gConvSettings->optionFlags = Option::interactiveThinning;
    original_ = Bitmap();
  }
  std::string original_;
};

TEST_F(PauseTest, ThinMoreThenDoneRunsAStepEachAndRestoresTheImage) {
  ConvertImage(false);
  ASSERT_TRUE(gDocument->Test(Flag::interactiveThinning));
  EXPECT_TRUE(ThinningWindow().open);
  EXPECT_EQ(ThinningWindow().steps, 3);
  // The skeleton stands in the template's place; the template waits in "memtemp".
  std::string skeleton = Bitmap();
  EXPECT_NE(skeleton, original_);
  ASSERT_NE(templateBits, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(templateBits), skeleton.size()), skeleton);
  EXPECT_TRUE(FileExists(PathIn("memtemp").c_str()));
  EXPECT_GT(junctionCount, 2);

  EXPECT_TRUE(ThinningWindowPress(kThinMore).ok());
  EXPECT_TRUE(gDocument->Test(Flag::interactiveThinning));
  EXPECT_EQ(ThinningWindow().steps, 4);
  EXPECT_EQ(thinningStepsRun, 4);

  EXPECT_TRUE(ThinningWindowPress(kThinningDone).ok());
  EXPECT_FALSE(gDocument->Test(Flag::interactiveThinning));
  EXPECT_FALSE(ThinningWindow().open);
  EXPECT_EQ(thinningStepsRun, 4);  // not touched up: no extra step
  EXPECT_EQ(Bitmap(), original_);  // the image is back from the template
  EXPECT_FALSE(FileExists(PathIn("memtemp").c_str()));
  // A press with no paused conversion is discarded.
  EXPECT_FALSE(ThinningWindowPress(kThinningDone).ok());
}

TEST_F(PauseTest, DoneAfterATouchUpRunsOneMoreStep) {
  ConvertImage(false);
  ASSERT_TRUE(gDocument->Test(Flag::interactiveThinning));
  FillRect(20, 50, 40, 53);  // the user draws on the skeleton
  EXPECT_TRUE(ThinningWindowPress(kThinningDone).ok());
  EXPECT_EQ(thinningStepsRun, 4);
  EXPECT_FALSE(gDocument->Test(Flag::interactiveThinning));
}

TEST_F(PauseTest, CancelEndsTheConversionQuietly) {
  ConvertImage(false);
  ASSERT_TRUE(gDocument->Test(Flag::interactiveThinning));
  ClearMessageLog();
  EXPECT_TRUE(ThinningWindowPress(kThinningCancel).ok());
  EXPECT_FALSE(gDocument->Test(Flag::interactiveThinning));
  EXPECT_FALSE(ThinningWindow().open);
  EXPECT_EQ(gPathCount, 0);
  EXPECT_TRUE(MessageIds().empty());
  EXPECT_EQ(Bitmap(), original_);
}

TEST_F(PauseTest, BatchNeverPauses) {
  gDocument->Set(Flag::batchRunning);
  ConvertImage(false);
  EXPECT_FALSE(gDocument->Test(Flag::interactiveThinning));
  EXPECT_FALSE(ThinningWindow().open);
  gDocument->Clear(Flag::batchRunning);
}

}  // namespace

namespace {

TEST_F(PauseTest, LineThinningZeroThinsNothingAndFindsJunctionsOnTheImage) {
  gConvSettings->lineThinning = 0;
  FillRect(10, 70, 50, 71);  // a one-pixel cross: a junction at (30, 70)
  FillRect(30, 62, 31, 79);
  original_ = Bitmap();
  ConvertImage(false);
  ASSERT_TRUE(gDocument->Test(Flag::interactiveThinning));
  EXPECT_EQ(ThinningWindow().steps, 0);
  EXPECT_EQ(Bitmap(), original_);  // no pass ran
  EXPECT_EQ(Progress().text.find("Step"), std::string::npos);
  bool cross = false;
  for (int32_t i = 1; i + 1 < junctionCount; ++i) {
    EXPECT_EQ(WorkPixel(JunctionList[i].x, JunctionList[i].y), 1);
    if (JunctionList[i].x == 30 && JunctionList[i].y == 70) cross = true;
  }
  EXPECT_TRUE(cross);
}

TEST_F(PauseTest, DoneWithOutlineOutlinesTheThickAreasAfterThePause) {
  FillRect(70, 45, 110, 75);  // a thick area beside the strokes
  gConvSettings->methodFlags = Method::outline | Method::centerline;
  ConvertImage(false);
  ASSERT_TRUE(gDocument->Test(Flag::interactiveThinning));
  EXPECT_EQ(gPathCount, 0);
  EXPECT_TRUE(ThinningWindowPress(kThinningDone).ok());
  int open = 0, closed = 0;
  for (int i = 0; i < gPathCount; ++i) (gPaths[i].pathFlags & PathFlag::openPath) ? ++open : ++closed;
  EXPECT_GT(open, 0);
  EXPECT_GT(closed, 0);
}

}  // namespace
