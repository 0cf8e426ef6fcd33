// The gray and color sample store: geometry, downsampling, the work block,
// the cube palette, the repeated last pixel and the conversion-area filter.
#include "platform/string_ids.h"
#include "raster/sample_store.h"
#include "tests/raster/raster_helpers.h"

namespace {

class SampleStore : public TessTest {
 protected:
  void SetUp() override {
    TessTest::SetUp();
    memBefore_ = MemLiveCount();
  }
  void TearDown() override {
    FreeSampleStore();
    FreeWorkBits();
    EXPECT_EQ(MemLiveCount(), memBefore_);
    TessTest::TearDown();
  }
  // An image record of the given geometry with its working bitmap.
  void Image(int width, int height, int spp, double dpi = 300) {
    gImage->width = static_cast<int16_t>(width);
    gImage->height = static_cast<int16_t>(height);
    gImage->samplesPerPixel = static_cast<int16_t>(spp);
    gImage->bitsPerSample = 8;
    gImage->sourceRowBytes = static_cast<int16_t>(width * spp);
    gImage->resolutionX = dpi;
    gImage->resolutionY = dpi / 2;
    ASSERT_TRUE(SetRowGeometry());
    ASSERT_TRUE(AllocWorkBits());
  }
  int memBefore_ = 0;
};

TEST_F(SampleStore, GeometryWithAndWithoutDownsampling) {
  Image(1000, 11, 3);
  ASSERT_TRUE(MakeSampleStore().ok());
  EXPECT_EQ(storeRowLength, 3000);
  EXPECT_EQ(storeRows, 11);
  EXPECT_TRUE(SampleStoreInMemory());
  EXPECT_EQ(levelsTable[77], 77);
  EXPECT_EQ(cubePalette[215][0], 255);
  EXPECT_EQ(cubePalette[7][1], 51);  // green 51 x ((7 div 6) mod 6)
  EXPECT_EQ(cubePalette[43][2], 51);
  FreeSampleStore();

  gDocument->Set(Flag::downsample2to1);
  ASSERT_TRUE(MakeSampleStore().ok());
  EXPECT_EQ(storeRowLength, 1500);
  EXPECT_EQ(storeRows, 5);
  EXPECT_EQ(gImage->width, 500);
  EXPECT_EQ(gImage->height, 5);
  EXPECT_EQ(gImage->rowBits, 512);
  EXPECT_EQ(gImage->rowBytes, 64);
  EXPECT_EQ(gImage->resolutionX, 75.0);  // half the vertical resolution
  EXPECT_EQ(gImage->resolutionY, 75.0);
  ASSERT_NE(gWorkBits, nullptr);
  gWorkBits[64 * 5 - 1] = 1;  // the remade bitmap covers the new geometry

  // Source rows and columns: only the odd ones are kept.
  std::vector<uint8_t> row(3000);
  for (int i = 0; i < 3000; ++i) row[i] = static_cast<uint8_t>(i / 3);
  PutSampleRow(2, row.data(), 0, 1000, 3, 0);
  EXPECT_EQ(SampleRow(1)[0], 0);
  PutSampleRow(3, row.data(), 0, 1000, 3, 0);
  EXPECT_EQ(SampleRow(1)[0], 1);
  EXPECT_EQ(SampleRow(1)[3 * 10 + 2], 21);
}

TEST_F(SampleStore, MemoryShortfalls) {
  // The halved store does not fit either: downsampling is switched off and
  // the full-size store stays absent (rows will come from the file).
  Image(1000, 40, 3);
  gDocument->Set(Flag::downsample2to1);
  MemFailAbove(25000);
  ASSERT_TRUE(MakeSampleStore().ok());
  EXPECT_FALSE(gDocument->Test(Flag::downsample2to1));
  EXPECT_FALSE(SampleStoreInMemory());
  EXPECT_TRUE(SampleStoreMade());
  EXPECT_EQ(gImage->width, 1000);
  EXPECT_EQ(storeRowLength, 3000);
  FreeSampleStore();
  MemResetFailures();

  // Without the work block the open stops with the memory message, which
  // the caller shows (a batch leaves it out).
  ClearMessageLog();
  gUserAbort = 0;
  MemFailNext(1);
  EXPECT_EQ(MakeSampleStore(), Stopped(kStrInsufficientMemory));
  EXPECT_EQ(gUserAbort, 1);
  EXPECT_TRUE(MessageIds().empty());
  EXPECT_FALSE(SampleStoreMade());
}

int InLeftHalf(int16_t x, int16_t) { return x < 2; }

TEST_F(SampleStore, FetchRepeatsTheLastPixelAndWhitensOutsideTheArea) {
  for (int spp : {1, 4}) {
    SCOPED_TRACE(spp);
    Image(4, 3, spp);
    ASSERT_TRUE(MakeSampleStore().ok());
    for (int y = 0; y < 3; ++y)
      for (int i = 0; i < 4 * spp; ++i) SampleRow(y)[i] = static_cast<uint8_t>(10 * y + i + 1);
    const uint8_t* r = FetchSampleRow(1, spp, 2 * spp);
    for (int i = 0; i < 2 * spp; ++i) EXPECT_EQ(r[i], 10 + spp + i + 1);
    for (int i = 0; i < spp; ++i) EXPECT_EQ(r[2 * spp + i], r[spp + i]);  // the extra pixel

    uint8_t white = spp == 4 ? 0 : 255;
    SetSampleAreaFilter(1, 1, InLeftHalf);
    r = FetchSampleRow(0, 0, 4 * spp);
    for (int i = 0; i < 5 * spp; ++i) EXPECT_EQ(r[i], white) << "row outside the span, byte " << i;
    r = FetchSampleRow(1, 0, 4 * spp);
    EXPECT_EQ(r[0], 11);
    EXPECT_EQ(r[2 * spp], white);
    EXPECT_EQ(r[4 * spp], white);
    SetSampleAreaFilter(0, 0, nullptr);
    EXPECT_EQ(FetchSampleRow(0, 0, spp)[0], 1);
    FreeSampleStore();
    FreeWorkBits();
  }
}

}  // namespace
