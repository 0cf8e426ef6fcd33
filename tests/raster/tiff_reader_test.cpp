// The TIFF reader against files written by libtiff (tiffcp, pnmtotiff and a
// small libtiff tool), each compared pixel for pixel with what an independent
// decoder (tifftopnm, or libtiff itself) made of the same file; and the
// reader's refusals, on hand-built directories.
#include <map>

#include "raster/sample_store.h"
#include "tests/raster/raster_helpers.h"

namespace {

using TiffReader = ReaderTest;

TEST_F(TiffReader, BilevelFilesMatchTheIndependentDecoder) {
  const struct {
    const char* file;
    const char* oracle;
  } cases[] = {
      {"tiff-bw-none.tif", "src-bw.pbm"},          {"tiff-bw-packbits.tif", "src-bw.pbm"},
      {"tiff-bw-packbits-be.tif", "src-bw.pbm"},   {"tiff-bw-lzw.tif", "src-bw.pbm"},
      {"tiff-bw-tiled.tif", "src-bw.pbm"},         {"tiff-bw-rle.tif", "src-bw.pbm"},
      {"tiff-bw-minisblack.tif", "src-bw.pbm"},    {"tiff-bwwide-rle.tif", "src-bwwide.pbm"},
      {"eps-preview.tif", "src-bw.pbm"},
      // CCITT Group 3 and 4 and Deflate, of a page and of rows that need
      // make-up codes.
      {"tiff-bw-g4.tif", "src-bw.pbm"},            {"tiff-page-g3.tif", "src-page.pbm"},
      {"tiff-page-g3-2d.tif", "src-page.pbm"},     {"tiff-page-g3-2d-fill.tif", "src-page.pbm"},
      {"tiff-page-g3-2d-strips.tif", "src-page.pbm"}, {"tiff-page-g4.tif", "src-page.pbm"},
      {"tiff-page-g4-lsb.tif", "src-page.pbm"},    {"tiff-page-zip.tif", "src-page.pbm"},
      {"tiff-bwwide-g3-2d.tif", "src-bwwide.pbm"}, {"tiff-bwwide-g4.tif", "src-bwwide.pbm"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    ASSERT_TRUE(OpenFixture(Dir(), c.file));
    ExpectBitmapIs(ReadPnm(RasterFixture(c.oracle)));
    EXPECT_EQ(gImage->photometric, 0);
    EXPECT_TRUE(MessageIds().empty());
    CloseDocument();
  }
}

TEST_F(TiffReader, GrayAndColorFilesMatchTheIndependentDecoder) {
  const struct {
    const char* file;
    const char* oracle;
    int spp;
    int shift = 0;  // samples of fewer than 8 bits are left-aligned
  } cases[] = {
      {"tiff-gray-none.tif", "src-gray.pgm", 1},     {"tiff-gray-packbits.tif", "src-gray.pgm", 1},
      {"tiff-gray-lzw-2.tif", "src-gray.pgm", 1},    {"tiff-gray-strips.tif", "src-gray.pgm", 1},
      {"tiff-gray-tiled.tif", "src-gray.pgm", 1},    {"tiff-gray-miniswhite.tif", "src-gray.pgm", 1},
      {"tiff-rgb-none.tif", "src-rgb.ppm", 3},       {"tiff-rgb-packbits.tif", "src-rgb.ppm", 3},
      {"tiff-rgb-lzw-2.tif", "src-rgb.ppm", 3},      {"tiff-rgb-lzw-2-be.tif", "src-rgb.ppm", 3},
      {"tiff-rgb-planar.tif", "src-rgb.ppm", 3},     {"tiff-rgb-tiled.tif", "src-rgb.ppm", 3},
      {"tiff-pal4.tif", "src-pal.ppm", 3},           {"tiff-rgb16-none.tif", "src-rgb16.ppm", 3},
      {"tiff-rgb16-lzw-2-be.tif", "src-rgb16.ppm", 3}, {"tiff-prim-planar1.tif", "src-prim.ppm", 3},
      {"tiff-rgb16-tiled-be.tif", "src-rgb16.ppm", 3},  {"tiff-gray16-lzw-2-le.tif", "src-g16.pgm", 1},
      {"tiff-gray4-lzw.tif", "src-g4.pgm", 1, 4},
      {"tiff-gray-zip-2.tif", "src-gray.pgm", 1},    {"tiff-gray-deflate32946.tif", "src-gray.pgm", 1},
      {"tiff-rgb-zip.tif", "src-rgb.ppm", 3},        {"tiff-rgb16-zip-2-be.tif", "src-rgb16.ppm", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    ASSERT_TRUE(OpenFixture(Dir(), c.file));
    EXPECT_GE(gImage->bitsPerSample, 2);
    EXPECT_EQ(gImage->samplesPerPixel, c.spp);
    ExpectStoreIs(ReadPnm(RasterFixture(c.oracle)), c.shift);
    if (c.spp == 1) {
      EXPECT_EQ(gImage->photometric, 1);  // 0 is black in the store
    }
    EXPECT_TRUE(MessageIds().empty());
    CloseDocument();
  }
}

// Layouts the directory states loosely: color samples follow the
// photometric interpretation and any further sample is extra whether the
// directory declares it or not; a one-bit image of one color sample and
// extras stays bilevel, one of three (chunky or planar) becomes RGB of 0 and
// 255; depths of 6 and 12 bits keep their top bits.
TEST_F(TiffReader, EverySampleLayoutAndDepthIsRead) {
  const struct {
    const char* name;
    int spp;  // 0: bilevel
  } cases[] = {
      {"gray-alpha8-undeclared", 1}, {"rgb-alpha8-undeclared", 3}, {"rgb1-chunky", 3}, {"gray1-alpha", 0},
      {"gray1-alpha-planar", 0},     {"gray6", 1},                  {"gray12-lzw", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string name = std::string("tiff-layout-") + c.name;
    ClearMessageLog();
    ASSERT_TRUE(OpenFixture(Dir(), name + ".tif"));
    EXPECT_TRUE(MessageIds().empty());
    Pnm want = ReadPnm(RasterFixture("expect-" + name + ".pnm"));
    if (c.spp == 0) {
      ExpectBitmapIs(want);
    } else {
      EXPECT_EQ(gImage->samplesPerPixel, c.spp);
      ExpectStoreIs(want);
    }
    CloseDocument();
  }
}

TEST_F(TiffReader, CmykSamplesAreKeptAsInk) {
  std::string want = ReadFileBytes(RasterFixture("expect-cmyk.raw"));
  for (const char* file : {"tiff-cmyk-none.tif", "tiff-cmyk-lzw-2.tif"}) {
    SCOPED_TRACE(file);
    ASSERT_TRUE(OpenFixture(Dir(), file));
    ASSERT_EQ(gImage->samplesPerPixel, 4);
    ASSERT_EQ(static_cast<size_t>(storeRowLength) * storeRows, want.size());
    for (int y = 0; y < storeRows; ++y)
      ASSERT_EQ(0, memcmp(SampleRow(y), want.data() + static_cast<size_t>(y) * storeRowLength, storeRowLength))
          << "row " << y;
    CloseDocument();
  }
}

// ---------------------------------------------------------------------------
// Hand-built little-endian files: pixel data at byte 8, the directory after.
struct Entry {
  uint16_t tag, type;
  uint32_t count, value;
};
constexpr uint32_t kData = 0xFFFFFFFF;  // value placeholder: the data's offset

std::string BuildTiff(std::vector<Entry> entries, const std::string& data, const std::string& extra = "") {
  std::string s = "II";
  PutLE(s, 42, 2);
  uint32_t extraAt = 8 + static_cast<uint32_t>(data.size());
  uint32_t dirAt = extraAt + static_cast<uint32_t>(extra.size());
  PutLE(s, dirAt, 4);
  s += data + extra;
  PutLE(s, static_cast<uint32_t>(entries.size()), 2);
  for (const Entry& e : entries) {
    PutLE(s, e.tag, 2);
    PutLE(s, e.type, 2);
    PutLE(s, e.count, 4);
    uint32_t v = e.value == kData ? 8 : e.value;
    if (e.type == 3 && e.count == 1) {
      PutLE(s, v, 2);
      PutLE(s, 0, 2);
    } else {
      PutLE(s, v, 4);
    }
  }
  PutLE(s, 0, 4);
  return s;
}

std::vector<Entry> Gray8(uint32_t width, uint32_t height) {
  return {{256, 3, 1, width}, {257, 3, 1, height}, {258, 3, 1, 8}, {262, 3, 1, 1}, {273, 4, 1, kData}};
}

TEST_F(TiffReader, DirectoryValuesAsTheFileStatesThem) {
  // RowsPerStrip 2^32 - 1 means one strip; no byte counts: rows run on from
  // the strip offset; XResolution 72 is used, YResolution 20 is not.
  std::string rational = std::string("\x48\0\0\0\x01\0\0\0\x14\0\0\0\x01\0\0\0", 16);
  uint32_t ratAt = 8 + 6;
  auto entries = Gray8(3, 2);
  entries.push_back({278, 4, 1, 0xFFFFFFFF});
  entries.push_back({282, 5, 1, ratAt});
  entries.push_back({283, 5, 1, ratAt + 8});
  ASSERT_TRUE(OpenAs(Dir(), BuildTiff(entries, "\x10\x20\x30\x40\x50\x60", rational), "g.tif"));
  EXPECT_EQ(gImage->resolutionX, 72.0);
  EXPECT_EQ(gImage->resolutionY, 300.0);
  EXPECT_EQ(SampleRow(1)[2], 0x60);
  CloseDocument();

  // MinSampleValue 255 above MaxSampleValue 0 turns a bilevel image over.
  std::vector<Entry> bw = {{256, 3, 1, 8}, {257, 3, 1, 1}, {262, 3, 1, 0}, {273, 4, 1, kData},
                           {280, 3, 1, 255}, {281, 3, 1, 0}};
  ASSERT_TRUE(OpenAs(Dir(), BuildTiff(bw, "\x0F"), "b.tif"));
  EXPECT_EQ(gWorkBits[0], 0xF0);
  CloseDocument();

  // A one-bit palette image stays bilevel; its map says which index is dark.
  for (bool blackFirst : {true, false}) {
    std::string map;
    for (uint32_t v : {0u, 0xFFFFu, 0u, 0xFFFFu, 0u, 0xFFFFu}) PutLE(map, blackFirst ? v : 0xFFFF - v, 2);
    std::vector<Entry> pal = {{256, 3, 1, 8}, {257, 3, 1, 1}, {262, 3, 1, 3}, {273, 4, 1, kData}, {320, 3, 6, 9}};
    ASSERT_TRUE(OpenAs(Dir(), BuildTiff(pal, "\x0F", map), "p.tif"));
    EXPECT_EQ(gImage->bitsPerSample, 1);
    EXPECT_EQ(gWorkBits[0], blackFirst ? 0xF0 : 0x0F);
    CloseDocument();
  }
}

TEST_F(TiffReader, EveryRefusalShowsItsMessage) {
  std::string ccittRow("\x9E", 1);  // white 8, black 2
  std::vector<Entry> ccitt = {{256, 3, 1, 9}, {257, 3, 1, 1}, {259, 3, 1, 2}, {273, 4, 1, kData}};
  std::vector<Entry> g4 = {{256, 3, 1, 8}, {257, 3, 1, 1}, {259, 3, 1, 4}, {273, 4, 1, kData}};
  std::vector<Entry> g4Counted = g4;
  g4Counted.push_back({279, 4, 1, 1});
  std::vector<Entry> wrongType = Gray8(3, 1);
  wrongType[0] = {256, 5, 1, 0};  // width as a rational
  std::vector<Entry> jpeg = Gray8(3, 1);
  jpeg.push_back({259, 3, 1, 7});
  std::vector<Entry> shortMap = Gray8(3, 1);
  shortMap[3] = {262, 3, 1, 3};
  shortMap.push_back({320, 3, 6, 8});
  std::vector<Entry> zip = Gray8(3, 1);
  zip.push_back({259, 3, 1, 8});
  std::vector<Entry> noWidth = Gray8(3, 1);
  noWidth.erase(noWidth.begin());
  std::string eps("\xC5\xD0\xD3\xC6", 4);
  PutLE(eps, 0, 16);
  PutLE(eps, 32, 4);  // the "preview" at byte 32 is not TIFF
  eps += std::string(8, '\0') + "XX*\0\0\0\0\0";

  const struct {
    const char* name;
    std::string bytes;
    std::vector<int> messages;
  } cases[] = {
      {"eps preview not TIFF", eps, {7}},
      {"no width", BuildTiff(noWidth, "abc"), {8}},
      // A read that fails says only why it failed: the notice about the
      // tag's type comes with an image that was read.
      {"scalar of wrong type", BuildTiff(wrongType, "abc"), {8}},
      {"unknown compression", BuildTiff(jpeg, "abc"), {6}},
      {"colour map too short", BuildTiff(shortMap, "abc"), {8}},
      {"code not in the tables", BuildTiff(ccitt, std::string(4, '\0')), {4}},
      {"runs longer than the row", BuildTiff(ccitt, ccittRow), {5}},
      // Two-dimensional: vertical mode 3 right of the row's end; an
      // extension (uncompressed mode); the data ends inside the row.
      {"g4 change past the row", BuildTiff(g4, std::string("\x06\0\0\0", 4)), {5}},
      {"g4 extension code", BuildTiff(g4, std::string("\x03\xC0\0\0", 4)), {4}},
      {"g4 data ends", BuildTiff(g4Counted, std::string("\x20", 1)), {8}},
      {"deflate data damaged", BuildTiff(zip, "abcdefgh"), {4}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClearMessageLog();
    EXPECT_FALSE(OpenAs(Dir(), c.bytes, "x.tif"));
    EXPECT_EQ(MessageIds(), c.messages);
    EXPECT_EQ(gWorkBits, nullptr);
    EXPECT_FALSE(SampleStoreMade());
  }
  // The same CCITT row fits an image of 10 pixels.
  ccitt[0].value = 10;
  ASSERT_TRUE(OpenAs(Dir(), BuildTiff(ccitt, ccittRow), "x.tif"));
  EXPECT_EQ(gWorkBits[0], 0x00);
  EXPECT_EQ(gWorkBits[1], 0xC0);
  CloseDocument();

  // A resolution that is no rational is reported, and the image still opens.
  ClearMessageLog();
  auto res = Gray8(3, 1);
  res.push_back({282, 3, 1, 72});
  EXPECT_TRUE(OpenAs(Dir(), BuildTiff(res, "abc"), "x.tif"));
  EXPECT_EQ(MessageIds(), std::vector<int>{2});
}

TEST_F(TiffReader, OutOfMemoryAndBatchRuns) {
  MemFailNext(1);
  EXPECT_FALSE(OpenFixture(Dir(), "tiff-bw-lzw.tif"));
  EXPECT_EQ(MessageIds(), std::vector<int>{11});
  ClearMessageLog();
  gDocument->Set(Flag::batchRunning);
  EXPECT_FALSE(OpenAs(Dir(), BuildTiff({{256, 3, 1, 3}}, "abc"), "x.tif"));
  EXPECT_TRUE(MessageIds().empty());
}

TEST_F(TiffReader, GrayImageTooBigForMemoryIsReadFromItsFile) {
  // 200 x 100 gray, white is zero: the store (20000 bytes) does not fit, the
  // work block does. Uncompressed rows stay in the file; others cannot.
  const int w = 200, h = 100;
  std::string raw, packed;
  for (int y = 0; y < h; ++y) {
    std::string row;
    for (int x = 0; x < w; ++x) row += static_cast<char>((x * 3 + y * 7) & 0xFF);
    raw += row;
    packed += static_cast<char>(127) + row.substr(0, 128) + static_cast<char>(71) + row.substr(128);
  }
  auto entries = Gray8(w, h);
  entries[3].value = 0;  // white is zero
  std::string offsets;
  for (int k = 0; k < 4; ++k) PutLE(offsets, 8 + k * 30 * w, 4);
  auto stripped = entries;
  stripped[4] = {273, 4, 4, static_cast<uint32_t>(8 + raw.size())};
  stripped.push_back({278, 3, 1, 30});
  MemFailAbove(10000);
  ASSERT_TRUE(OpenAs(Dir(), BuildTiff(stripped, raw, offsets), "big.tif"));
  EXPECT_FALSE(SampleStoreInMemory());
  EXPECT_EQ(gImage->photometric, 0);  // samples in the file keep their sense
  for (int y : {0, 29, 30, 99}) {
    const uint8_t* row = FetchSampleRow(static_cast<int16_t>(y), 10, 50);
    for (int x = 0; x < 50; ++x) ASSERT_EQ(row[x], static_cast<uint8_t>(raw[y * w + 10 + x])) << x << "," << y;
    EXPECT_EQ(row[50], row[49]);  // the repeated last pixel
  }
  CloseDocument();
  entries.push_back({259, 3, 1, 32773});
  ClearMessageLog();
  EXPECT_FALSE(OpenAs(Dir(), BuildTiff(entries, packed), "big.tif"));
  EXPECT_EQ(MessageIds(), std::vector<int>{11});
  MemResetFailures();
  ASSERT_TRUE(OpenAs(Dir(), BuildTiff(entries, packed), "big.tif"));
  EXPECT_EQ(SampleRow(99)[199], static_cast<uint8_t>(255 - raw[99 * w + 199]));
}

TEST_F(TiffReader, DownsamplingKeepsOddRowsAndColumns) {
  Pnm rgb = ReadPnm(RasterFixture("src-rgb.ppm"));
  for (const char* file : {"tiff-rgb-lzw-2.tif", "tiff-rgb-tiled.tif", "tiff-rgb-planar.tif"}) {
    SCOPED_TRACE(file);
    gDocument->Set(Flag::downsample2to1);
    ASSERT_TRUE(OpenFixture(Dir(), file));
    EXPECT_EQ(gImage->width, 22);
    EXPECT_EQ(gImage->height, 10);
    EXPECT_EQ(gImage->rowBits, 32);
    EXPECT_EQ(gImage->resolutionX, gImage->resolutionY);
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 22; ++x)
        for (int c = 0; c < 3; ++c) ASSERT_EQ(SampleRow(y)[3 * x + c], rgb.At(2 * x + 1, 2 * y + 1, c));
    CloseDocument();
  }
}

// Cut and damaged copies of every TIFF fixture: each opens or fails with
// one of the reader's messages; nothing is read outside a buffer (the
// sanitizer build runs this too) and nothing is left behind.
TEST_F(TiffReader, TruncatedAndCorruptedFilesFailCleanly) {
  const std::map<int, bool> known = {{2, true}, {3, true}, {4, true}, {5, true}, {6, true},
                                     {7, true}, {8, true}, {11, true}};
  for (const char* file : {"tiff-bw-rle.tif", "tiff-bw-packbits-be.tif", "tiff-bw-tiled.tif", "tiff-gray-lzw-2.tif",
                           "tiff-rgb-planar.tif", "tiff-pal4.tif", "tiff-rgb16-lzw-2-be.tif", "eps-preview.tif",
                           "tiff-prim-planar1.tif", "tiff-cmyk-lzw-2.tif", "tiff-page-g3-2d.tif",
                           "tiff-page-g4-lsb.tif", "tiff-bwwide-g4.tif", "tiff-gray-zip-2.tif", "tiff-rgb-zip.tif",
                           "tiff-layout-gray1-alpha.tif", "tiff-layout-gray1-alpha-planar.tif",
                           "tiff-layout-rgb1-chunky.tif", "tiff-layout-gray12-lzw.tif"}) {
    std::string whole = ReadFileBytes(RasterFixture(file));
    for (int cut = 1; cut <= 12; ++cut) {
      SCOPED_TRACE(std::string(file) + " cut " + std::to_string(cut));
      std::string bytes = whole.substr(0, whole.size() * cut / 13);
      if (cut % 3 == 0) {
        bytes = whole;
        for (size_t i = 8 + cut; i < bytes.size(); i += 37) bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
      }
      ClearMessageLog();
      OpenAs(Dir(), bytes, "t.tif");
      for (int id : MessageIds()) EXPECT_TRUE(known.count(id)) << "message " << id;
      CloseDocument();
      EXPECT_EQ(MemLiveCount(), memBefore_);
    }
  }
}

}  // namespace
