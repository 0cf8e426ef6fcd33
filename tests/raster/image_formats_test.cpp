// The PNG, JPEG, GIF, WebP, BMP and Netpbm readers against files written by
// third-party tools (netpbm, ImageMagick, optipng, pngcrush, cjpeg,
// Ghostscript, cwebp, gif2webp), each compared pixel for pixel with what an
// independent decoder (pngtopnm, djpeg, giftopnm, dwebp, bmptopnm) made of
// the same file (see fixtures/raster/make_fixtures.sh); and the readers'
// refusals of damaged files.
#include <set>

#include "platform/string_ids.h"
#include "raster/open_image.h"
#include "tests/raster/raster_helpers.h"

namespace {

using ImageFormats = ReaderTest;

// A pixel of the open image as RGB, whatever it landed as.
void ImageRgb(int x, int y, uint8_t rgb[3]) {
  if (gImage->bitsPerSample < 2) {
    memset(rgb, WorkPixel(x, y) ? 0 : 255, 3);
    return;
  }
  const uint8_t* p = SampleRow(y) + static_cast<size_t>(x) * storeSamples;
  for (int c = 0; c < 3; ++c) rgb[c] = storeSamples == 1 ? p[0] : p[c];
}

void OracleRgb(const Pnm& img, int x, int y, uint8_t rgb[3]) {
  for (int c = 0; c < 3; ++c) {
    uint8_t v = img.At(x, y, img.samples == 3 ? c : 0);
    rgb[c] = img.maxval == 1 ? (v ? 0 : 255) : v;  // PBM: 1 is black
  }
}

// The open image shows the oracle's pixels, and landed as `samples` (0 for
// the working bitmap).
void ExpectImageShows(const Pnm& oracle, int samples) {
  ASSERT_EQ(gImage->width, oracle.width);
  ASSERT_EQ(gImage->height, oracle.height);
  if (samples == 0) {
    ASSERT_EQ(gImage->bitsPerSample, 1);
  } else {
    ASSERT_EQ(gImage->bitsPerSample, 8);
    ASSERT_EQ(storeSamples, samples);
    ASSERT_TRUE(SampleStoreInMemory());
  }
  int wrong = 0;
  for (int y = 0; y < oracle.height; ++y)
    for (int x = 0; x < oracle.width; ++x) {
      uint8_t got[3], want[3];
      ImageRgb(x, y, got);
      OracleRgb(oracle, x, y, want);
      if (memcmp(got, want, 3) != 0 && wrong++ < 5)
        ADD_FAILURE() << "pixel " << x << "," << y << ": " << int(got[0]) << " " << int(got[1]) << " " << int(got[2])
                      << " != " << int(want[0]) << " " << int(want[1]) << " " << int(want[2]);
    }
  EXPECT_EQ(wrong, 0);
}

struct Case {
  const char* file;
  const char* oracle;
  int samples;  // 0 one-bit, 1 gray, 3 RGB
  double dpi = 72;
};

// Every format and variant the readers take, with its independent decode.
const Case kCases[] = {
    {"png-bw.png", "src-bw.pbm", 0},
    {"png-bw-pngcrush.png", "src-bw.pbm", 0},
    {"png-gray2.png", "expect-png-gray2.pnm", 1},
    {"png-gray4-interlaced.png", "expect-pnm-g4.pnm", 1},
    {"png-gray8.png", "src-gray.pgm", 1},
    {"png-gray16.png", "src-g16.pgm", 1, 300},
    {"png-gray-trns.png", "expect-png-gray-trns.pnm", 1},
    {"png-graya.png", "expect-png-graya.pnm", 1},
    {"png-rgb.png", "src-rgb.ppm", 3},
    {"png-rgb-interlaced.png", "src-rgb.ppm", 3},
    {"png-rgb-optipng.png", "src-rgb.ppm", 3},
    {"png-rgb16.png", "src-rgb16.ppm", 3},
    {"png-rgba.png", "expect-png-rgba.pnm", 3},
    {"png-rgba16.png", "expect-png-rgba16.pnm", 3},
    {"png-rgba-pngcrush.png", "expect-png-rgba-pngcrush.pnm", 3, 150},
    {"png-pal.png", "src-pal.ppm", 3},
    {"png-pal-alpha.png", "expect-png-pal-alpha.pnm", 3},
    {"png-pal-alpha-pngcrush.png", "expect-png-pal-alpha-pngcrush.pnm", 3},
    {"png-pal-trns-im.png", "expect-png-pal-trns-im.pnm", 3},
    {"jpeg-rgb.jpg", "expect-jpeg-rgb.pnm", 3},
    {"jpeg-rgb-progressive.jpg", "expect-jpeg-rgb-progressive.pnm", 3},
    {"jpeg-rgb-arith.jpg", "expect-jpeg-rgb-arith.pnm", 3},
    {"jpeg-rgb-im.jpg", "expect-jpeg-rgb-im.pnm", 3, 150},
    {"jpeg-gray.jpg", "expect-jpeg-gray.pnm", 1},
    {"gif-pal.gif", "src-pal.ppm", 3},
    {"gif-pal-interlaced.gif", "src-pal.ppm", 3},
    {"gif-pal-trans.gif", "expect-gif-pal-trans.pnm", 3},
    {"gif-anim.gif", "src-pal.ppm", 3},
    {"gif-bw.gif", "src-bw.pbm", 0},
    {"gif-gray.gif", "expect-gif-gray.pnm", 1},
    {"gif-im.gif", "expect-gif-im.pnm", 3},
    {"webp-lossless.webp", "src-rgb.ppm", 3},
    {"webp-lossy.webp", "expect-webp-lossy.pnm", 3},
    {"webp-alpha-lossless.webp", "expect-png-rgba.pnm", 3},
    {"webp-alpha-lossy.webp", "expect-webp-alpha-lossy.pnm", 3},
    {"bmp-bw.bmp", "src-bw.pbm", 0},
    {"bmp-pal4.bmp", "src-pal.ppm", 3},
    {"bmp-pal8.bmp", "src-pal.ppm", 3},
    {"bmp-gray8.bmp", "src-gray.pgm", 1},
    {"bmp-rle8.bmp", "src-pal.ppm", 3},
    {"bmp-rgb24.bmp", "src-rgb.ppm", 3},
    {"bmp-rgb24-os2.bmp", "src-rgb.ppm", 3},
    {"bmp-rgb24-topdown.bmp", "src-rgb.ppm", 3},
    {"bmp-rgb565.bmp", "expect-bmp-rgb565.pnm", 3},
    {"bmp-rgba32.bmp", "expect-png-rgba.pnm", 3},
    {"src-bw.pbm", "src-bw.pbm", 0},
    {"pnm-plain.pbm", "src-bw.pbm", 0},
    {"src-gray.pgm", "src-gray.pgm", 1},
    {"src-g4.pgm", "expect-pnm-g4.pnm", 1},
    {"pnm-plain.pgm", "expect-pnm-g4.pnm", 1},
    {"src-rgb.ppm", "src-rgb.ppm", 3},
    {"pnm-plain.ppm", "src-rgb.ppm", 3},
    {"src-rgb16.ppm", "expect-pnm-rgb16.pnm", 3},
};

TEST_F(ImageFormats, FilesOfOtherProgramsMatchTheIndependentDecoders) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.file);
    ASSERT_TRUE(OpenFixture(Dir(), c.file));
    ExpectImageShows(ReadPnm(RasterFixture(c.oracle)), c.samples);
    EXPECT_EQ(gImage->resolutionX, c.dpi);
    EXPECT_EQ(gImage->resolutionY, c.dpi);
    if (c.samples == 1) {
      EXPECT_EQ(gImage->photometric, 1);  // 0 is black in the store
    }
    EXPECT_TRUE(MessageIds().empty());
    CloseDocument();
  }
}

// Adobe's CMYK files store ink inverted; ImageMagick reads them as ink. A
// file without Adobe's marker is taken as it is stored.
TEST_F(ImageFormats, CmykJpegSamplesAreInk) {
  for (const char* name : {"jpeg-cmyk-ycck", "jpeg-cmyk-adobe", "jpeg-cmyk-plain"}) {
    SCOPED_TRACE(name);
    bool plain = std::string(name) == "jpeg-cmyk-plain";
    std::string want = ReadFileBytes(RasterFixture(plain ? "expect-jpeg-cmyk-adobe.raw" : std::string("expect-") + name + ".raw"));
    ASSERT_TRUE(OpenFixture(Dir(), std::string(name) + ".jpg"));
    ASSERT_EQ(storeSamples, 4);
    ASSERT_EQ(static_cast<size_t>(storeRowLength) * storeRows, want.size());
    int wrong = 0;
    for (int y = 0; y < storeRows; ++y)
      for (int i = 0; i < storeRowLength; ++i) {
        uint8_t w = static_cast<uint8_t>(want[static_cast<size_t>(y) * storeRowLength + i]);
        if (SampleRow(y)[i] != (plain ? 255 - w : w)) ++wrong;
      }
    EXPECT_EQ(wrong, 0);
    CloseDocument();
  }
}

TEST_F(ImageFormats, GrayAndColorFollowTheDownsampling) {
  for (const char* file : {"png-rgb-interlaced.png", "bmp-rgb24.bmp", "gif-pal.gif", "webp-lossless.webp"}) {
    SCOPED_TRACE(file);
    Pnm want = ReadPnm(RasterFixture(file[0] == 'g' ? "src-pal.ppm" : "src-rgb.ppm"));
    gDocument->Set(Flag::downsample2to1);
    ASSERT_TRUE(OpenFixture(Dir(), file));
    ASSERT_EQ(gImage->width, 22);
    ASSERT_EQ(gImage->height, 10);
    EXPECT_EQ(gImage->resolutionX, 36.0);  // half of the 72 of a file that states none
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 22; ++x)
        for (int c = 0; c < 3; ++c) ASSERT_EQ(SampleRow(y)[3 * x + c], want.At(2 * x + 1, 2 * y + 1, c));
    CloseDocument();
  }
}

// ---------------------------------------------------------------------------
// Hand-made files.

std::string Bmp(int32_t width, int32_t height, int bits, uint32_t compression, const std::string& palette,
                const std::string& data, uint32_t ppm = 0) {
  std::string s = "BM";
  PutLE(s, static_cast<uint32_t>(54 + palette.size() + data.size()), 4);
  PutLE(s, 0, 4);
  PutLE(s, static_cast<uint32_t>(54 + palette.size()), 4);
  PutLE(s, 40, 4);
  PutLE(s, static_cast<uint32_t>(width), 4);
  PutLE(s, static_cast<uint32_t>(height), 4);
  PutLE(s, 1, 2);
  PutLE(s, static_cast<uint32_t>(bits), 2);
  PutLE(s, compression, 4);
  PutLE(s, static_cast<uint32_t>(data.size()), 4);
  PutLE(s, ppm, 4);
  PutLE(s, ppm, 4);
  PutLE(s, static_cast<uint32_t>(palette.size() / 4), 4);
  PutLE(s, 0, 4);
  return s + palette + data;
}

// Indexes of the landed image, by the gray value of a palette where entry i
// is gray 16 x i.
std::vector<std::string> GrayIndexRows() {
  std::vector<std::string> rows;
  for (int y = 0; y < gImage->height; ++y) {
    std::string r;
    for (int x = 0; x < gImage->width; ++x) r += "0123456789ABCDEF"[SampleRow(y)[x] / 16];
    rows.push_back(r);
  }
  return rows;
}

TEST_F(ImageFormats, RunLengthBmpRowsLandWhereTheCodesSay) {
  std::string palette;
  for (int i = 0; i < 16; ++i) PutLE(palette, static_cast<uint32_t>(i * 16 * 0x010101), 4);
  // 7 x 5, bottom-up. RLE4: a run of alternating 1 and 2, end of line; an
  // absolute run of 3 indexes, end of line; a delta 2 right and 1 down
  // (the row left stays index 0); a run of 5s reaching past the width (cut
  // there); end of bitmap (the row left stays 0).
  std::string rle4("\x05\x12\x00\x00"
                   "\x00\x03\x34\x50\x00\x00"
                   "\x00\x02\x02\x01"
                   "\x09\x55\x00\x01",
                   18);
  ASSERT_TRUE(OpenAs(Dir(), Bmp(7, 5, 4, 2, palette, rle4), "r4.bmp"));
  EXPECT_EQ(GrayIndexRows(), (std::vector<std::string>{"0000000", "0055555", "0000000", "3450000", "1212100"}));
  CloseDocument();
  // The same with RLE8 (the odd absolute run padded), top-down: rows in
  // file order.
  std::string rle8("\x05\x01\x00\x00"
                   "\x00\x03\x03\x04\x05\x00\x00\x00"
                   "\x00\x02\x02\x01"
                   "\x09\x05\x00\x01",
                   20);
  ASSERT_TRUE(OpenAs(Dir(), Bmp(7, -5, 8, 1, palette, rle8), "r8.bmp"));
  EXPECT_EQ(GrayIndexRows(), (std::vector<std::string>{"1111100", "3450000", "0000000", "0055555", "0000000"}));
  CloseDocument();
}

TEST_F(ImageFormats, ResolutionFromTheFile) {
  // Pixels per metre that are the metric rounding of whole dots per inch
  // give those; others stay as they are; out of range gives 72.
  EXPECT_EQ(DpiFromPixelsPerMetre(2835), 72.0);
  EXPECT_EQ(DpiFromPixelsPerMetre(11811), 300.0);
  EXPECT_EQ(DpiFromPixelsPerMetre(3937), 100.0);
  EXPECT_DOUBLE_EQ(DpiFromPixelsPerMetre(1000), 25.4);
  std::string palette = std::string("\0\0\0\0\xFF\xFF\xFF\0", 8);
  const struct {
    uint32_t ppm;
    double dpi;
  } cases[] = {{11811, 300}, {0, 72}, {500, 72}, {200000, 72}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ppm);
    ASSERT_TRUE(OpenAs(Dir(), Bmp(8, 1, 1, 0, palette, std::string("\x0F\0\0\0", 4), c.ppm), "r.bmp"));
    EXPECT_EQ(gImage->resolutionX, c.dpi);
    EXPECT_EQ(WorkPixel(0, 0), 1);  // index 0 is black
    EXPECT_EQ(WorkPixel(7, 0), 0);
    CloseDocument();
  }
}

TEST_F(ImageFormats, SmallNetpbmFilesOpen) {
  // Shorter than the 32 bytes read for detection; comments and numbers
  // run together as the plain format allows.
  ASSERT_TRUE(OpenAs(Dir(), "P1\n# a comment\n3 2\n101\n0 1\n0", "tiny"));
  EXPECT_EQ(gImage->width, 3);
  EXPECT_EQ(gWorkBits[0], 0xA0);
  EXPECT_EQ(gWorkBits[gImage->rowBytes], 0x40);
  CloseDocument();
  ASSERT_TRUE(OpenAs(Dir(), "P2 2 1 7 7 3", "tiny"));
  EXPECT_EQ(SampleRow(0)[0], 255);
  EXPECT_EQ(SampleRow(0)[1], 109);
}

// Damaged and unsupported files: the message, and nothing left open.
TEST_F(ImageFormats, RefusalsShowTheirMessage) {
  std::string png = ReadFileBytes(RasterFixture("png-rgb.png"));
  std::string badCrc = png;
  badCrc[29] ^= 1;  // inside IHDR
  std::string gifNoImage = ReadFileBytes(RasterFixture("gif-pal.gif")).substr(0, 13 + 3 * 8) + ";";
  std::string jpeg = ReadFileBytes(RasterFixture("jpeg-rgb.jpg"));
  std::string bmp16 = Bmp(2, 1, 16, 0, "", std::string(4, '\0'));
  const struct {
    const char* name;
    std::string bytes;
    int message;
  } cases[] = {
      {"png header", badCrc, kStrPngDamaged},
      {"png cut in the data", png.substr(0, png.size() - 40), kStrPngDamaged},
      {"jpeg cut", jpeg.substr(0, jpeg.size() / 2), kStrJpegDamaged},
      {"jpeg bad marker", jpeg.substr(0, 20) + std::string(40, '\xFF') + "\x01junk", kStrJpegDamaged},
      {"gif without image", gifNoImage, kStrGifDamaged},
      {"gif cut", ReadFileBytes(RasterFixture("gif-im.gif")).substr(0, 200), kStrGifDamaged},
      {"webp cut", ReadFileBytes(RasterFixture("webp-lossy.webp")).substr(0, 100), kStrWebpDamaged},
      {"webp animated", ReadFileBytes(RasterFixture("webp-anim.webp")), kStrWebpUnsupported},
      {"bmp 2 bits", Bmp(2, 1, 2, 0, std::string(16, '\0'), std::string(4, '\0')), kStrBmpUnsupported},
      {"bmp jpeg inside", Bmp(2, 1, 24, 4, "", std::string(8, '\0')), kStrBmpUnsupported},
      {"bmp no width", Bmp(0, 1, 24, 0, "", std::string(8, '\0')), kStrBmpDamaged},
      {"bmp rows missing", Bmp(2, 9, 24, 0, "", std::string(8, '\0')), kStrBmpDamaged},
      {"bmp fields all zero", Bmp(2, 1, 16, 3, std::string(12, '\0'), std::string(4, '\0')), kStrBmpDamaged},
      {"bmp rle runs out", Bmp(4, 2, 8, 1, std::string(16, '\0'), std::string("\x02\x01\x00\x00", 4)), kStrBmpDamaged},
      {"bmp 16 bits plain", bmp16, 0},
      {"pnm raster short", std::string("P5\n3 2\n255\n") + "abcde", kStrPnmDamaged},
      {"pnm no maxval", "P6\n3 2\n\n" + std::string(40, 'x'), kStrPnmDamaged},
      {"pnm maxval too big", "P5 1 1 65536\n" + std::string(40, 'x'), kStrPnmDamaged},
      {"pnm plain letter", "P2 2 1 255 1 x" + std::string(40, ' '), kStrPnmDamaged},
      {"pnm too wide", "P4 40000 1\n" + std::string(5000, '\0'), 11},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClearMessageLog();
    int opened = OpenAs(Dir(), c.bytes, "x.img");
    EXPECT_EQ(opened != 0, c.message == 0);
    EXPECT_EQ(MessageIds(), c.message ? std::vector<int>{c.message} : std::vector<int>{});
    if (!opened) {
      EXPECT_EQ(gWorkBits, nullptr);
      EXPECT_FALSE(SampleStoreMade());
    }
    CloseDocument();
  }
}

TEST_F(ImageFormats, OutOfMemoryAndBatchRuns) {
  for (const char* file : {"png-rgba.png", "png-gray4-interlaced.png", "jpeg-rgb.jpg", "gif-pal.gif",
                           "webp-alpha-lossy.webp", "bmp-rle8.bmp", "src-rgb.ppm"}) {
    SCOPED_TRACE(file);
    // Blocks above a size fail, from small to large, so that each of the
    // read's allocations fails in some round (libpng's blocks come from the
    // program's memory too): the read gives up with message 11.
    for (size_t above : {1, 100, 1000, 2000, 4000, 8000, 16000, 40000}) {
      ClearMessageLog();
      MemFailAbove(above);
      int opened = OpenFixture(Dir(), file);
      MemResetFailures();
      if (!opened) {
        EXPECT_EQ(MessageIds(), std::vector<int>{11}) << above;
      }
      CloseDocument();
      EXPECT_EQ(MemLiveCount(), memBefore_);
    }
    // During a batch, no message.
    ClearMessageLog();
    gDocument->Set(Flag::batchRunning);
    EXPECT_FALSE(OpenAs(Dir(), ReadFileBytes(RasterFixture(file)).substr(0, 60), "cut.img"));
    gDocument->Clear(Flag::batchRunning);
    EXPECT_TRUE(MessageIds().empty());
  }
}

// Cut and damaged copies of every fixture: each opens or fails with one of
// the readers' messages (or "Unknown input format." when the damage hits
// the signature); nothing is read outside a buffer (the sanitizer
// build runs this too) and nothing is left behind.
TEST_F(ImageFormats, TruncatedAndCorruptedFilesFailCleanly) {
  const std::set<int> known = {11, 34, kStrPngDamaged, kStrJpegDamaged, kStrGifDamaged, kStrWebpDamaged,
                               kStrBmpDamaged, kStrPnmDamaged, kStrJpegUnsupported, kStrWebpUnsupported,
                               kStrBmpUnsupported};
  int files = FileOpenCount();
  for (const Case& c : kCases) {
    std::string whole = ReadFileBytes(RasterFixture(c.file));
    for (int cut = 1; cut <= 12; ++cut) {
      SCOPED_TRACE(std::string(c.file) + " cut " + std::to_string(cut));
      std::string bytes = whole.substr(0, whole.size() * cut / 13);
      if (cut % 3 == 0) {
        bytes = whole;
        for (size_t i = 8 + cut; i < bytes.size(); i += 29) bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
      }
      ClearMessageLog();
      if (!OpenAs(Dir(), bytes, "t.img")) {
        EXPECT_EQ(gWorkBits, nullptr);
        EXPECT_FALSE(SampleStoreMade());
      }
      for (int id : MessageIds()) EXPECT_TRUE(known.count(id)) << "message " << id;
      CloseDocument();
      EXPECT_EQ(MemLiveCount(), memBefore_);
      EXPECT_EQ(FileOpenCount(), files);
    }
  }
}

}  // namespace
