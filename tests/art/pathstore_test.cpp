// The path store: point words and flags, bounds, paint and flags of a new
// path, path lengths and anchor counts, the discard rounds with their
// messages, the removal of redundant anchors, the color count, the hidden
// count, and the undo copies of the store.
#include <cstring>

#include "art/pathstore.h"
#include "core/records.h"
#include "engine/conversion.h"
#include "engine/settings.h"
#include "platform/string_ids.h"
#include "shell/document.h"
#include "tests/support/support.h"

namespace {

class PathStoreTest : public TessTest {
 protected:
  void SetUp() override {
    TessTest::SetUp();
    gArtScale = 1;
    gMaxPaths = 10000;
    ASSERT_TRUE(ResetPathStore().ok());
  }
  void TearDown() override {
    DeleteAllPaths();
    gMaxPaths = 10000;
    gArtScale = 1;
    TessTest::TearDown();
  }
  // A path through the given anchors (pixels), lines only.
  void Path(std::initializer_list<std::pair<double, double>> anchors) {
    auto it = anchors.begin();
    penX = it->first;
    penY = it->second;
    BeginPath(paint_);
    for (++it; it != anchors.end(); ++it) {
      penX = it->first;
      penY = it->second;
      AddPathPoint(0);
    }
  }
  static std::vector<int16_t> Words(int index) {
    const PathRecord& r = gPaths[index];
    std::vector<int16_t> w(static_cast<size_t>(r.pointCount));
    if (r.pointCount) memcpy(w.data(), MemLock(r.points), w.size() * 2);
    MemUnlock(r.points);
    return w;
  }
  PathPaint paint_;  // the paint of the paths that Path makes
  // n closed squares of the given side, in art units.
  void Squares(int n, double side) {
    for (int i = 0; i < n; ++i) Path({{0, 0}, {side, 0}, {side, side}, {0, side}, {0, 0}});
  }
};

int16_t W(int v) { return static_cast<int16_t>(v); }

TEST_F(PathStoreTest, PointWordsFlagsAndBounds) {
  gArtScale = 4;
  Path({{10, 20}, {30.9, 20}});
  ctrl1X = 40;
  ctrl1Y = -3;  // control points may lie outside the image
  ctrl2X = 9000;
  ctrl2Y = 25;
  penX = -2;  // anchors never below 0
  penY = 25;
  AddPathPoint(1);
  // Anchors round to the nearest art unit (123.6 -> 124), as control points do.
  std::vector<int16_t> expected = {W(40), W(80), W(124 | 0x8000), W(80), W(160), W(-11), W(32767), W(100), W(0),
                                    W(100 | 0x8000)};
  EXPECT_EQ(Words(0), expected);
  const PathRecord& r = gPaths[0];
  EXPECT_EQ(r.bounds[0], -5);
  EXPECT_EQ(r.bounds[1], 75);
  EXPECT_EQ(r.bounds[2], 129);
  EXPECT_EQ(r.bounds[3], 105) << "control points do not widen the bounds";
  EXPECT_EQ(r.pointCapacity, 100);

  SetLastPoint(7, 8);
  EXPECT_EQ(Words(0)[8], 7);
  EXPECT_EQ(Words(0)[9], W(8 | 0x8000)) << "the arriving-curve flag stays";
}

TEST_F(PathStoreTest, AnchorsHoldHalfPixelsAndRoundWhereTheScaleHasNoRoom) {
  struct Case {
    double scale, pixels;
    int16_t word;
  } cases[] = {{2, 10.5, 21}, {256, 0.5, 128}, {1, 10.5, 11}, {1, 10.49, 10}, {1, -0.4, 0}, {4, 9000, 32767}};
  for (const Case& c : cases) {
    gArtScale = c.scale;
    EXPECT_EQ(ArtCoord(c.pixels), c.word) << c.scale << " x " << c.pixels;
  }
}

TEST_F(PathStoreTest, NewPathPaintAndFlags) {
  struct Case {
    uint8_t flags;
    double width;
    uint8_t weight;
  } cases[] = {{0, 0, 0}, {PathFlag::openPath, 1.25, 12}, {PathFlag::openPath | PathFlag::grouped, 30, 255}};
  for (const Case& c : cases) {
    paint_.pathFlags = c.flags;
    paint_.strokeWidth = c.width;
    paint_.fillColor = 0x11223344u;
    paint_.strokeColor = 0x55667788u;
    paint_.fillKind = kPaintProcess;
    paint_.strokeKind = kPaintBlack;
    Path({{1, 1}, {2, 2}});
    const PathRecord& r = gPaths[gPathCount - 1];
    EXPECT_EQ(r.pathFlags, c.flags);
    EXPECT_EQ(r.strokeWeight, c.weight) << c.width;
    EXPECT_EQ(r.fillKind, kPaintProcess);
    EXPECT_EQ(r.strokeKind, kPaintBlack);
    const uint8_t fill[4] = {0x44, 0x33, 0x22, 0x11}, stroke[4] = {0x88, 0x77, 0x66, 0x55};
    EXPECT_EQ(memcmp(r.fillColor, fill, 4), 0);
    EXPECT_EQ(memcmp(r.strokeColor, stroke, 4), 0);
  }
}

TEST_F(PathStoreTest, LengthsAndAnchorCounts) {
  Path({{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}});  // closed square, five anchors
  Path({{0, 0}, {10, 0}, {10, 10}});                    // open
  penX = 0;
  penY = 0;
  BeginPath(paint_);  // a lone anchor
  Path({{0, 0}, {3, 4}});
  ctrl1X = 100;  // far-off control points do not count toward the length
  ctrl1Y = 100;
  ctrl2X = 100;
  ctrl2Y = 100;
  penX = 3;
  penY = 0;
  AddPathPoint(1);
  EXPECT_EQ(CountAnchors(&gPaths[0]), 4);
  EXPECT_EQ(CountAnchors(&gPaths[1]), 3);
  EXPECT_EQ(CountAnchors(&gPaths[2]), 0);
  EXPECT_EQ(CountAnchors(&gPaths[3]), 3);
  EXPECT_EQ(PathLength(&gPaths[0], 1000), 40);
  EXPECT_EQ(PathLength(&gPaths[0], 25), 25) << "stops at the limit";
  EXPECT_EQ(PathLength(&gPaths[3], 1000), 11);
  EXPECT_EQ(PathLength(&gPaths[2], 1000), 0);
  gDocument->imageWindow = reinterpret_cast<WindowHandle>(this);
  EXPECT_EQ(CountAllAnchors(), 10);
  gPaths[1].pathFlags |= PathFlag::selected;
  EXPECT_EQ(CountSelectedAnchors(), 3);
  gDocument->imageWindow = nullptr;
}

TEST_F(PathStoreTest, RedundantAnchorsOnStraightRunsGo) {
  Path({{0, 0}, {5, 0}, {10, 0}, {10, 4}, {10, 10}, {0, 10}, {0, 0}});
  // A curve's end is kept even on a straight run.
  Path({{0, 0}, {5, 0}});
  ctrl1X = 6;
  ctrl1Y = 0;
  ctrl2X = 7;
  ctrl2Y = 0;
  penX = 8;
  penY = 0;
  AddPathPoint(1);
  penX = 10;
  penY = 0;
  AddPathPoint(0);
  penX = 12;
  AddPathPoint(0);
  RemoveRedundantAnchors();
  std::vector<int16_t> square = {0, 0, 10, 0, 10, 10, 0, 10, 0, 0};
  EXPECT_EQ(Words(0), square);
  EXPECT_EQ(CountAnchors(&gPaths[0]), 4);
  // Raw words are compared: the curve's end carries its flag, so neither it
  // nor the anchor after it lies on a run.
  std::vector<int16_t> curve = {0, 0, W(5 | 0x8000), 0, 6, 0, 7, 0, 8, W(0x8000), 10, 0, 12, 0};
  EXPECT_EQ(Words(1), curve);
}

TEST_F(PathStoreTest, PathLimitDropsTheShortestEighthAndRaisesTheMinimum) {
  gMaxPaths = 160;
  std::vector<int> lengths;
  for (int i = 0; i < 160; ++i) lengths.push_back((i * 7) % 160 + 1);  // 1 to 160, shuffled
  for (int length : lengths) Path({{0, 0}, {static_cast<double>(length), 0}});
  Path({{0, 0}, {400, 0}});
  EXPECT_EQ(gMinPathLength, 21) << "the 20 shortest went";
  ASSERT_EQ(gPathCount, 141) << "140 kept, and the new one";
  EXPECT_EQ(gDocument->droppedPathCount, 20);
  std::vector<int> kept;
  for (int length : lengths)
    if (length > 20) kept.push_back(length);
  for (int i = 0; i < 140; ++i) ASSERT_EQ(PathLength(&gPaths[i], 1000), kept[static_cast<size_t>(i)]) << i;
  EXPECT_TRUE(gDocument->Test(Flag::pathsDroppedLimit));
  EXPECT_FALSE(gDocument->Test(Flag::pathsDroppedMemory));
  EXPECT_EQ(gCurrentPath, &gPaths[140]);
  // From now on a finished path shorter than the minimum goes when the next
  // one begins; the last one is never measured.
  Path({{0, 0}, {5, 0}});
  Path({{0, 0}, {1, 0}});
  EXPECT_EQ(gPathCount, 142);
  EXPECT_EQ(PathLength(&gPaths[140], 1000), 400);
  EXPECT_EQ(PathLength(&gPaths[141], 1000), 1);
  EXPECT_EQ(gDocument->droppedPathCount, 21);
  EXPECT_TRUE(MessageIds().empty()) << "the message follows the conversion";
}

TEST_F(PathStoreTest, ManyEqualPathsFillTheStoreInsteadOfVanishing) {
  // A page of equal shapes: one raised minimum would drop them all. The
  // store keeps the earliest of them up to its limit, and every longer path.
  gMaxPaths = 200;
  for (int i = 0; i < 1000; ++i) {
    double x = i % 100, y = i / 100;
    Path({{x, y}, {x + 10, y}, {x + 10, y + 10}, {x, y + 10}, {x, y}});
    if (i % 20 == 19) Path({{0, 0}, {500, 0}});  // 50 long ones among them
  }
  EXPECT_GE(gPathCount, 175);
  EXPECT_LE(gPathCount, 200);
  EXPECT_EQ(gDocument->droppedPathCount, 1050 - gPathCount);
  int longOnes = 0;
  for (int16_t i = 0; i < gPathCount; ++i) longOnes += PathLength(&gPaths[i], 1000) == 500;
  EXPECT_EQ(longOnes, 50);
  EXPECT_EQ(Words(0)[0], 0) << "the first square is kept";
  EXPECT_EQ(Words(1)[0], 1);
  EXPECT_EQ(gMinPathLength, 41) << "later squares are dropped as they come";
}

TEST_F(PathStoreTest, MemoryShortDiscardsOrStopsWithMessage66) {
  Squares(120, 10);
  for (int i = 0; i < 100; ++i) Path({{0, 0}, {2, 0}});
  ASSERT_EQ(gPathCount, 220);
  ASSERT_EQ(gPathCapacity, 220);
  MemFailNext(1);  // growing the record array fails
  Path({{0, 0}, {50, 0}});
  EXPECT_EQ(gPathCount, 194) << "27 short ones went (an eighth), the new one came";
  EXPECT_EQ(gMinPathLength, 3);
  EXPECT_EQ(gDocument->droppedPathCount, 27);
  EXPECT_TRUE(gDocument->Test(Flag::pathsDroppedMemory));
  EXPECT_EQ(gUserAbort, 0);

  // A point list that cannot grow discards too; the path being built stays.
  for (int i = 0; i < 20; ++i) {
    penX = i;
    AddPathPoint(0);
  }
  MemFailNext(1);
  for (int i = 0; i < 40; ++i) {
    penX = i;
    AddPathPoint(0);
  }
  EXPECT_EQ(gPathCount, 170);
  EXPECT_EQ(gCurrentPath, &gPaths[169]);
  EXPECT_EQ(gCurrentPath->pointCount, 2 + 60 * 2 + 2);

  // With fewer than 100 paths nothing can be gained: message 66 and stop.
  DeleteAllPaths();
  ASSERT_TRUE(ResetPathStore().ok());
  Squares(20, 10);
  MemFailNext(1);
  Path({{0, 0}, {50, 0}});
  EXPECT_EQ(StopStatus(), Stopped(kStrNoMemoryAfterDiscard));
  EXPECT_TRUE(MessageIds().empty()) << "the conversion's caller shows it";
  EXPECT_EQ(gPathCount, 20) << "the paths made so far stay";
}

TEST_F(PathStoreTest, RoundsMakeRoomEvenAmongPathsLongerThanAnyMinimum) {
  Squares(160, 10000);  // far longer than any 16-bit minimum
  ASSERT_EQ(gPathCapacity, 160);
  MemFailAbove(sizeof(PathRecord) * 160);
  Path({{0, 0}, {50, 0}});
  MemResetFailures();
  EXPECT_TRUE(MessageIds().empty());
  EXPECT_EQ(gUserAbort, 0);
  EXPECT_EQ(gPathCount, 141) << "the 20 latest of the equal (capped) lengths went";
  EXPECT_EQ(gMinPathLength, 32767);
}

TEST_F(PathStoreTest, ConversionShowsTheDiscardMessageAfterwards) {
  for (int limit : {0, 1}) {
    DeleteAllPaths();
    ClearMessageLog();
    MakeBitmapImage(64, 64);
    for (int y = 1; y < 64; y += 3)
      for (int x = 1; x < 64; x += 3) SetWorkPixel(x, y);  // 441 dots
    gConvSettings->noiseSuppression = 100;
    gMaxPaths = limit ? 200 : 10000;
    Status converted = ConvertImage(false);
    EXPECT_TRUE(MessageIds().empty()) << "the shell shows the result";
    if (limit) {
      EXPECT_EQ(converted, Done(kStrPathLimitExceeded));
      // 441 equal dots: the store stays nearly full rather than collapsing.
      EXPECT_LE(gPathCount, 200);
      EXPECT_GE(gPathCount, 175);
      EXPECT_EQ(gDocument->droppedPathCount, 441 - gPathCount);
      EXPECT_GT(gMinPathLength, 0);
    } else {
      EXPECT_EQ(converted, Done());
      EXPECT_EQ(gPathCount, 441);
    }
    CloseDocument();
  }
}

int gTicks = 0;
uint32_t ShortOfMemorySoon() {
  if (++gTicks == 50) MemFailAbove(sizeof(PathRecord) * 200);  // the record array cannot pass 200
  return static_cast<uint32_t>(gTicks) * 61;
}

TEST_F(PathStoreTest, ConversionShortOfMemoryDiscardsAndSaysSoAfterwards) {
  MakeBitmapImage(200, 200);
  for (int k = 0; k < 150; ++k) FillRect(2 + (k % 15) * 13, 2 + (k / 15) * 9, 8 + (k % 15) * 13, 8 + (k / 15) * 9);
  for (int y = 100; y < 200; y += 4)
    for (int x = 2; x < 200; x += 4) SetWorkPixel(x, y);  // 1250 dots
  gConvSettings->noiseSuppression = 100;
  gDocument->imageWindow = reinterpret_cast<WindowHandle>(this);
  gTicks = 0;
  SetTickSource(ShortOfMemorySoon);
  Status converted = ConvertImage(false);
  MemResetFailures();
  EXPECT_EQ(converted, Done(kStrPathsSkippedMemory));
  EXPECT_EQ(gUserAbort, 0);
  EXPECT_GE(gPathCount, 150) << "the squares stay";
  EXPECT_LE(gPathCount, 200);
  CloseDocument();
}

TEST_F(PathStoreTest, ColorCount) {
  auto paint = [this](uint32_t fill, uint8_t fillKind, uint32_t stroke, uint8_t strokeKind, bool open) {
    Path({{0, 0}, {1, 1}});
    PathRecord& r = gPaths[gPathCount - 1];
    for (int k = 0; k < 4; ++k) {
      r.fillColor[k] = static_cast<uint8_t>(fill >> (8 * k));
      r.strokeColor[k] = static_cast<uint8_t>(stroke >> (8 * k));
    }
    r.fillKind = fillKind;
    r.strokeKind = strokeKind;
    r.pathFlags = open ? PathFlag::openPath : 0;
  };
  paint(0xFF000000u, 2, 0, 0, false);
  paint(0xFE000000u, 2, 0, 0, false);  // within 1 of black
  paint(0x00000010u, 3, 0, 0, true);   // an open path's fill does not count
  paint(0x00000020u, 3, 0x00000030u, 3, false);
  paint(0x00000022u, 3, 0, 0, false);  // 2 away: a color of its own
  paint(0, 0, 0, 0, false);            // no paint
  EXPECT_EQ(CountArtColors(), 4);
  MemFailNext(1);
  EXPECT_EQ(CountArtColors(), 0) << "no working memory";
}

TEST_F(PathStoreTest, HiddenCountRules) {
  Squares(3, 10);
  gHiddenPathCount = gPathCount;  // the art is put aside
  gPathCount = 0;
  DeletePath(&gPaths[1]);
  EXPECT_EQ(gHiddenPathCount, 2);
  EXPECT_EQ(gPathCount, 0);
  ASSERT_TRUE(ResetPathStore().ok());  // a paused conversion resumes
  EXPECT_EQ(gPathCount, 2);
  EXPECT_EQ(gHiddenPathCount, 0);
  gHiddenPathCount = gPathCount;
  gPathCount = 0;
  int blocks = MemLiveCount();
  DeleteAllPaths();
  EXPECT_EQ(gHiddenPathCount, 0);
  EXPECT_EQ(MemLiveCount(), blocks - 3) << "the hidden paths and the array are freed";
  EXPECT_EQ(gPaths, nullptr);
}

TEST_F(PathStoreTest, UndoCopyAndSwap) {
  Squares(2, 10);
  gDocument->selectedPathCount = 1;
  PathStoreCopy copy;
  ASSERT_TRUE(CopyPathStore(&copy).ok());
  std::vector<int16_t> before = Words(1);
  DeletePath(&gPaths[0]);
  penX = 99;
  AddPathPoint(0);  // edit the remaining path
  gDocument->selectedPathCount = 0;

  SwapPathStore(&copy);  // Undo
  ASSERT_EQ(gPathCount, 2);
  EXPECT_EQ(Words(1), before);
  EXPECT_EQ(gDocument->selectedPathCount, 1);
  SwapPathStore(&copy);  // Redo
  ASSERT_EQ(gPathCount, 1);
  EXPECT_EQ(Words(0)[Words(0).size() - 2], 99);
  EXPECT_EQ(gDocument->selectedPathCount, 0);

  // Memory short for the swap: nothing changes on either side.
  MemFailNext(1);
  SwapPathStore(&copy);
  EXPECT_EQ(gPathCount, 1);
  EXPECT_EQ(copy.count, 2);
  FreePathStoreCopy(&copy);

  // Memory short for the copy: false, and nothing is left behind.
  int blocks = MemLiveCount();
  MemFailNext(1);
  EXPECT_FALSE(CopyPathStore(&copy).ok());
  EXPECT_EQ(MemLiveCount(), blocks);
}

}  // namespace
