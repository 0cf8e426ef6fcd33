// The open dispatcher: detection by extension and contents, the Sun raster
// and raw bitmap readers, art scale, pad bits, the backup hand-over,
// progress, cancel, and silence during a batch.
#include "art/pathstore.h"
#include "engine/conversion.h"
#include "engine/settings.h"
#include "tests/raster/raster_helpers.h"

namespace {

using OpenImageTest = ReaderTest;

// A Sun raster header and rows of one-bit pixels.
std::string SunRaster(uint32_t width, uint32_t height, uint32_t depth = 1, uint32_t type = 1,
                      const std::string& rows = "") {
  std::string s;
  for (uint32_t v : {0x59A66A95u, width, height, depth, 0u, type, 0u, 0u}) PutBE(s, v, 4);
  size_t rowLength = (width + 15) / 16 * 2;
  return s + (rows.empty() ? std::string(rowLength * height, '\0') : rows);
}

// A raw bitmap: 4 unused bytes, then row length, top, left, bottom, right.
std::string RawBitmap(int rowLength, int top, int left, int bottom, int right, const std::string& rows) {
  std::string s(4, '\0');
  for (int v : {rowLength, top, left, bottom, right}) PutLE(s, static_cast<uint32_t>(v), 2);
  return s + rows + std::string(32, '\0');
}

TEST_F(OpenImageTest, ReaderChosenByExtensionAndContents) {
  std::string sun = ReadFileBytes(RasterFixture("sun-bw.sun"));
  std::string tiff = ReadFileBytes(RasterFixture("tiff-bw-none.tif"));
  Pnm bw = ReadPnm(RasterFixture("src-bw.pbm"));
  Pnm sunOracle = ReadPnm(RasterFixture("expect-sun-bw.pbm"));

  ASSERT_TRUE(OpenAs(Dir(), sun, "a.tif"));  // Sun raster inside a ".tif"
  EXPECT_EQ(gImage->sourceType, kSourceSun);
  ExpectBitmapIs(sunOracle);
  CloseDocument();
  ASSERT_TRUE(OpenAs(Dir(), tiff, "a.sun"));  // TIFF inside a ".sun"
  ExpectBitmapIs(bw);
  CloseDocument();
  ASSERT_TRUE(OpenAs(Dir(), tiff, "a.img"));  // unknown extension, TIFF contents
  ExpectBitmapIs(bw);
  CloseDocument();

  const struct {
    const char* name;
    std::string bytes;
    std::vector<int> messages;
  } refused[] = {
      {"a.pcx", tiff, {34}},  // never sniffed: the PCX reader refuses it
      {"a.img", std::string(64, 'x'), {34}},
      {"a.tif", std::string(31, 'I'), {}},  // shorter than the detection header
      {"a.sun", ReadFileBytes(RasterFixture("sun-bw-rle.sun")), {36}},
      {"a.sun", ReadFileBytes(RasterFixture("sun-gray.sun")), {35}},
      {"a.sun", SunRaster(0, 4), {34}},
      {"a.sun", RawBitmap(4, 0, 0, 0, 8, std::string(8, '\0')), {34}},  // zero height
      {"a.sun", RawBitmap(0, 0, 0, 2, 8, std::string(8, '\0')), {34}},  // zero row length
      {"a.sun", SunRaster(16, 8, 1, 1, std::string(10, '\xFF')), {34}},  // rows cut short
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.name + std::string(" ") + std::to_string(c.bytes.size()));
    ClearMessageLog();
    EXPECT_FALSE(OpenAs(Dir(), c.bytes, c.name));
    EXPECT_EQ(MessageIds(), c.messages);
    EXPECT_EQ(gWorkBits, nullptr);
    EXPECT_EQ(gDocument->imageWindow, nullptr);
  }
}

TEST_F(OpenImageTest, RawBitmapAndSunRowsLandUnchanged) {
  // Raw: row length 3, left 2 right 20 (18 pixels), top 1 bottom 3.
  std::string rows = "\xF0\x0F\xFF" "\x81\x42\x24";
  ASSERT_TRUE(OpenAs(Dir(), RawBitmap(3, 1, 2, 3, 20, rows), "r.sun"));
  EXPECT_EQ(gImage->width, 18);
  EXPECT_EQ(gImage->height, 2);
  EXPECT_EQ(gImage->rowBytes, 4);
  EXPECT_EQ(gImage->rowBits, 32);
  EXPECT_EQ(dataOffset, 14);
  EXPECT_EQ(gWorkBits[0], 0xF0);
  EXPECT_EQ(gWorkBits[2], 0xC0);  // pixels from 18 on are cleared
  EXPECT_EQ(gWorkBits[4], 0x81);
  EXPECT_EQ(fileRowsAreBitmap, 0);
  CloseDocument();

  // A Sun raster 64 pixels wide has file rows equal to the bitmap's rows.
  ASSERT_TRUE(OpenAs(Dir(), SunRaster(64, 2, 1, 0, std::string(8, '\x55') + std::string(8, '\xAA')), "s.sun"));
  EXPECT_EQ(fileRowsAreBitmap, 1);
  EXPECT_EQ(dataOffset, 32);
  EXPECT_EQ(gWorkBits[8], 0xAA);
  EXPECT_EQ(0, memcmp(gBackupBits, gWorkBits, 16));  // handed to the backup plane
}

TEST_F(OpenImageTest, ArtScaleFollowsTheLargerSide) {
  ASSERT_TRUE(OpenAs(Dir(), SunRaster(16001, 1), "w.sun"));
  EXPECT_EQ(gArtScale, 1.0);
  CloseDocument();
  ASSERT_TRUE(OpenAs(Dir(), SunRaster(100, 100), "s.sun"));
  EXPECT_EQ(gImage->rowBits, 128);
  EXPECT_EQ(gArtScale, 128.0);  // 128 doubled 7 times reaches 16384
  EXPECT_EQ(gArtScaleShift, 7);
  EXPECT_EQ(gImage->resolutionX, 300.0);
}

uint32_t gTicks = 0;
uint32_t FastTicks() { return gTicks += 100; }

TEST_F(OpenImageTest, ProgressCancelAndBatch) {
  ASSERT_TRUE(OpenFixture(Dir(), "tiff-gray-strips.tif"));
  EXPECT_EQ(Progress().text, "Reading Image Data");
  EXPECT_GT(Progress().shows, 0);
  EXPECT_FALSE(Progress().open);
  CloseDocument();

  SetTickSource(FastTicks);
  for (const char* file : {"tiff-gray-strips.tif", "sun-bw.sun", "pcx-rgb24.pcx", "macpaint-bw.pnt"}) {
    SCOPED_TRACE(file);
    gUserAbort = 0;
    QueueEscape();
    EXPECT_FALSE(OpenFixture(Dir(), file));
    EXPECT_TRUE(MessageIds().empty());
    EXPECT_EQ(gWorkBits, nullptr);
    EXPECT_FALSE(SampleStoreMade());
  }
  SetTickSource(nullptr);
  gUserAbort = 0;
  gDocument->Set(Flag::batchRunning);
  EXPECT_FALSE(OpenAs(Dir(), std::string(64, 'x'), "x.img"));
  EXPECT_FALSE(OpenFixture(Dir(), "sun-bw-rle.sun"));
  EXPECT_TRUE(MessageIds().empty());
}

TEST_F(OpenImageTest, PolarityOfBilevelImagesIsOneForBlack) {
  // A Sun raster has no polarity of its own; a TIFF with photometric 1 is
  // turned over (covered with the oracle files); here the pad bits too.
  MakeBitmapImage(45, 3);
  memset(gWorkBits, 0xFF, static_cast<size_t>(gImage->rowBytes) * 3);
  ClearPadBits();
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 64; ++x) ASSERT_EQ(WorkPixel(x, y), x < 45 ? 1 : 0) << x;
  FreeWorkBits();
}

std::vector<std::string> gDialogFolders;
std::string gDialogAnswer;
int FakeOpenDialog(OpenImageRequest* r) {
  gDialogFolders.push_back(r->initialFolder);
  EXPECT_STREQ(r->downsampleLabel, "Downsample Color and Grayscale 2:1");
  EXPECT_FALSE(r->downsample);  // unticked every time
  if (gDialogAnswer.empty()) return 0;
  strcpy(r->path, gDialogAnswer.c_str());
  r->downsample = true;
  return 1;
}

TEST_F(OpenImageTest, OpenDialogSetsTheSourceKindAndRemembersTheFolder) {
  gOpenImageDialog = FakeOpenDialog;
  gPrefs->wandTolerance = 77;
  gDialogAnswer = "scans/march/Page.PCX";
  EXPECT_TRUE(PickImageFile().ok());
  EXPECT_TRUE(gDocument->Test(Flag::downsample2to1));
  EXPECT_TRUE(gDocument->Test(Flag::artUntitled));
  EXPECT_EQ(gImage->sourceType, kSourcePcx);
  EXPECT_STREQ(gImage->path, "scans/march/Page.PCX");
  EXPECT_STREQ(gImage->docName, "scans/march/Page.PCX");
  EXPECT_EQ(gPrefsEdit->wandTolerance, 77);
  gDialogAnswer.clear();
  EXPECT_FALSE(PickImageFile().ok());  // Cancel
  EXPECT_FALSE(gDocument->Test(Flag::downsample2to1));
  EXPECT_STREQ(gImage->path, "scans/march/Page.PCX");
  ASSERT_EQ(gDialogFolders.size(), 2u);
  EXPECT_EQ(gDialogFolders[1], "scans/march/");
  gOpenImageDialog = nullptr;
}

// "All Formats" offers every pattern that a single format offers.
TEST_F(OpenImageTest, AllFormatsCoversEveryFilter) {
  std::string all = std::string(";") + kOpenImageFilters[0].patterns + ";";
  for (int i = 1; i < kOpenImageFilterCount; ++i) {
    std::string p = kOpenImageFilters[i].patterns;
    for (size_t at = 0; at <= p.size();) {
      size_t end = p.find(';', at);
      if (end == std::string::npos) end = p.size();
      std::string pattern = ";";
      pattern.append(p, at, end - at).append(";");
      EXPECT_NE(all.find(pattern), std::string::npos) << kOpenImageFilters[i].label;
      at = end + 1;
    }
  }
}

// A 300-dpi A4 page (2480 x 3508) written as a big-endian TIFF by hand,
// with a filled block and a ring, opens and converts with Outline.
TEST_F(OpenImageTest, A4PageOpensAndConvertsToPaths) {
  const int w = 2480, h = 3508, rowBytes = w / 8;
  std::string rows(static_cast<size_t>(rowBytes) * h, '\0');
  auto set = [&](int x, int y) { rows[static_cast<size_t>(y) * rowBytes + x / 8] |= static_cast<char>(0x80 >> (x % 8)); };
  for (int y = 400; y < 900; ++y)
    for (int x = 300; x < 1200; ++x) set(x, y);
  for (int y = 1500; y < 2500; ++y)
    for (int x = 700; x < 1700; ++x) {
      int dx = x - 1200, dy = y - 2000, r2 = dx * dx + dy * dy;
      if (r2 < 500 * 500 && r2 > 300 * 300) set(x, y);
    }
  std::string t = "MM";
  PutBE(t, 42, 2);
  PutBE(t, 8, 4);
  const uint32_t entries[][4] = {{256, 3, 1, w << 16}, {257, 3, 1, h << 16}, {262, 3, 1, 0},
                                 {273, 4, 1, 8 + 2 + 6 * 12 + 4 + 8}, {278, 4, 1, h}, {282, 5, 1, 8 + 2 + 6 * 12 + 4}};
  PutBE(t, 6, 2);
  for (const auto& e : entries) {
    PutBE(t, e[0], 2);
    PutBE(t, e[1], 2);
    PutBE(t, e[2], 4);
    PutBE(t, e[3], 4);
  }
  PutBE(t, 0, 4);
  PutBE(t, 300, 4);
  PutBE(t, 1, 4);
  ASSERT_TRUE(OpenAs(Dir(), t + rows, "a4.tif"));
  EXPECT_EQ(gImage->width, w);
  EXPECT_EQ(gImage->height, h);
  EXPECT_EQ(gImage->resolutionX, 300.0);
  EXPECT_EQ(WorkPixel(300, 400), 1);
  EXPECT_EQ(WorkPixel(1200, 2000), 0);
  gConvSettings->methodFlags = Method::outline;
  ConvertImage(false);
  EXPECT_GE(gPathCount, 3);  // the block, and the ring's outer and inner edges
}

}  // namespace
