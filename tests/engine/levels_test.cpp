// Levels: the table, the boxes' ranges, the histogram, and writing through
// the table into gray, RGB and CMYK samples with undo and redo.
#include "engine/levels.h"

#include <cstring>
#include <vector>

#include "core/records.h"
#include "platform/platform.h"
#include "platform/string_ids.h"
#include "raster/open_image.h"
#include "raster/sample_store.h"
#include "tests/support/support.h"

namespace {

class LevelsTest : public TessTest {
 protected:
  void TearDown() override {
    DiscardLevelsUndo();
    FreeSampleStore();
    FreeWorkBits();
    TessTest::TearDown();
  }
  // A sample store of width x 2 pixels of `spp` samples, filled from `samples`.
  void Store(int width, int spp, const std::vector<uint8_t>& samples) {
    gImage->width = static_cast<int16_t>(width);
    gImage->height = 2;
    gImage->samplesPerPixel = static_cast<int16_t>(spp);
    gImage->bitsPerSample = 8;
    gImage->sourceRowBytes = static_cast<int16_t>(width * spp);
    gImage->resolutionX = gImage->resolutionY = 300;
    ASSERT_TRUE(SetRowGeometry());
    ASSERT_TRUE(AllocWorkBits());
    ASSERT_TRUE(MakeSampleStore().ok());
    ASSERT_TRUE(SampleStoreInMemory());
    for (int y = 0; y < 2; ++y) PutSampleRow(y, samples.data(), 0, width, spp, 0);
  }
  std::vector<uint8_t> Row(int y, int bytes) { return std::vector<uint8_t>(SampleRow(y), SampleRow(y) + bytes); }
};

TEST_F(LevelsTest, TableFollowsTheBlackPointGammaAndWhitePoint) {
  uint8_t t[256];
  BuildLevelsTable(kLevelsIdentity, t);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(t[i], i);
  EXPECT_TRUE(LevelsAreIdentity(kLevelsIdentity));
  struct Case {
    LevelsValues v;
    int in, out;
  } cases[] = {
      {{50, 1.0, 200}, 0, 0},     {{50, 1.0, 200}, 49, 0},   {{50, 1.0, 200}, 50, 0},
      {{50, 1.0, 200}, 125, 127}, {{50, 1.0, 200}, 199, 253}, {{50, 1.0, 200}, 200, 255},
      {{50, 1.0, 200}, 255, 255}, {{0, 2.0, 255}, 64, 127},  {{0, 0.5, 255}, 128, 64},
      {{253, 1.0, 255}, 254, 127},
  };
  for (const Case& c : cases) {
    BuildLevelsTable(c.v, t);
    EXPECT_EQ(t[c.in], c.out) << c.v.black << " " << c.v.gamma << " " << c.v.white << " at " << c.in;
  }
  // The table never falls.
  BuildLevelsTable({30, 3.3, 180}, t);
  for (int i = 1; i < 256; ++i) EXPECT_GE(t[i], t[i - 1]) << i;
}

TEST_F(LevelsTest, BoxesTakeTheNearestValueInRangeWithTheirMessage) {
  struct Case {
    int box;
    double typed;
    int message;
    LevelsValues after;
  } cases[] = {
      {kBoxBlack, 300, kStrBlackPointRange, {253, 1.0, 255}},
      {kBoxBlack, -4, kStrBlackPointRange, {0, 1.0, 255}},
      {kBoxWhite, 1, kStrWhitePointRange, {0, 1.0, 2}},
      {kBoxGamma, 12, kStrGammaRange, {0, 9.99, 255}},
      {kBoxGamma, 0.01, kStrGammaRange, {0, 0.10, 255}},
      {kBoxGamma, 1.5, 0, {0, 1.5, 255}},
  };
  for (const Case& c : cases) {
    LevelsValues v = kLevelsIdentity;
    EXPECT_EQ(CheckLevelsBox(&v, c.box, c.typed), c.message) << c.typed;
    EXPECT_EQ(v.black, c.after.black) << c.typed;
    EXPECT_DOUBLE_EQ(v.gamma, c.after.gamma) << c.typed;
    EXPECT_EQ(v.white, c.after.white) << c.typed;
  }
  // Points closer than 2 are pushed apart: the white point up while the
  // black point is low, otherwise the black point down.
  LevelsValues v{100, 1.0, 150};
  EXPECT_EQ(CheckLevelsBox(&v, kBoxWhite, 100), 0);
  EXPECT_EQ(v.white, 102);
  v = {200, 1.0, 220};
  EXPECT_EQ(CheckLevelsBox(&v, kBoxBlack, 219), 0);
  EXPECT_EQ(v.black, 218);
  EXPECT_EQ(v.white, 220);
  EXPECT_EQ(MessageIds(), (std::vector<int>{kStrBlackPointRange, kStrBlackPointRange, kStrWhitePointRange,
                                            kStrGammaRange, kStrGammaRange}));
}

TEST_F(LevelsTest, SamplesGoThroughTheTableAndUndoPutsThemBack) {
  uint8_t table[256];
  BuildLevelsTable({50, 1.0, 200}, table);
  struct Case {
    int spp;
    std::vector<uint8_t> in;
  } cases[] = {
      {1, {0, 49, 125, 200, 255}},
      {3, {10, 125, 250, 60, 70, 80}},
      {4, {0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 255}},  // white, cyan, black
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spp);
    const int width = static_cast<int>(c.in.size()) / c.spp, bytes = static_cast<int>(c.in.size());
    Store(width, c.spp, c.in);
    LevelsHistogram h;
    ASSERT_TRUE(ComputeLevelsHistogram(&h));
    uint32_t counted = 0;
    for (uint32_t n : h.counts) counted += n;
    EXPECT_EQ(counted, 2u * static_cast<uint32_t>(width) * (c.spp == 4 ? 4 : c.spp));
    ASSERT_TRUE(ApplyLevelsToSamples(table));
    std::vector<uint8_t> applied = Row(1, bytes);
    if (c.spp < 4) {
      for (int i = 0; i < bytes; ++i) EXPECT_EQ(applied[i], table[c.in[i]]) << i;
    } else {
      // White and black stay; full cyan stays cyan.
      EXPECT_EQ(applied, c.in);
    }
    EXPECT_EQ(Row(0, bytes), applied);
    ASSERT_TRUE(SwapLevelsSamples());  // undo
    EXPECT_EQ(Row(0, bytes), c.in);
    EXPECT_EQ(Row(1, bytes), c.in);
    ASSERT_TRUE(SwapLevelsSamples());  // redo
    EXPECT_EQ(Row(1, bytes), applied);
    DiscardLevelsUndo();
    EXPECT_FALSE(SwapLevelsSamples());
    FreeSampleStore();
    FreeWorkBits();
  }
}

}  // namespace

namespace {

// The dialog's flow: OK leaves the change pending (the display maps through
// the table, the samples are untouched); Undo toggles the display while it is
// pending; committing writes the samples and resets the table; Undo then
// exchanges the samples. Cancel drops a preview.
TEST_F(LevelsTest, DialogChangeIsPendingUntilCommittedThenUndoneOnTheSamples) {
  const std::vector<uint8_t> in = {0, 49, 125, 200, 255};
  Store(5, 1, in);
  LevelsDialog d;
  ASSERT_TRUE(OpenLevels(&d));
  d.values = {50, 1.0, 200};
  LevelsPreview(&d);
  EXPECT_TRUE(gDocument->Test(Flag::levelsPending));
  EXPECT_EQ(levelsTable[125], 127);
  LevelsCancel(&d);
  EXPECT_FALSE(gDocument->Test(Flag::levelsPending));
  EXPECT_EQ(levelsTable[125], 125);
  EXPECT_EQ(Row(0, 5), in);

  LevelsOK(&d);
  EXPECT_TRUE(gDocument->Test(Flag::levelsPending));
  EXPECT_EQ(Row(0, 5), in) << "nothing written while pending";
  UndoLevels();
  EXPECT_EQ(levelsTable[125], 125) << "undo shows the image unmapped";
  UndoLevels();
  EXPECT_EQ(levelsTable[125], 127) << "redo maps it again";
  CommitPendingLevels();
  EXPECT_FALSE(gDocument->Test(Flag::levelsPending));
  EXPECT_EQ(levelsTable[125], 125);
  EXPECT_EQ(Row(0, 5), (std::vector<uint8_t>{0, 0, 127, 255, 255}));
  UndoLevels();
  EXPECT_EQ(Row(0, 5), in);
  UndoLevels();
  EXPECT_EQ(Row(0, 5), (std::vector<uint8_t>{0, 0, 127, 255, 255}));
  // Without samples in memory the dialog does not open.
  FreeSampleStore();
  EXPECT_FALSE(OpenLevels(&d));
  EXPECT_EQ(MessageIds(), std::vector<int>{kStrLevelsNoMemory});
}

}  // namespace
