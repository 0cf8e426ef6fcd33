// The pixel image writers: PackBits, TIFF files and previews (read back with
// libtiff's tools), Ranvelle documents, stops, and the naming rules.
#include "raster/pixel_writers.h"

#include <cstring>

#include "core/records.h"
#include "platform/string_ids.h"
#include "output/stream.h"
#include "tests/support/support.h"

namespace {

std::vector<uint8_t> Unpack(const std::vector<uint8_t>& packed) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < packed.size();) {
    int n = static_cast<int8_t>(packed[i++]);
    if (n >= 0) {
      out.insert(out.end(), packed.begin() + static_cast<std::ptrdiff_t>(i),
                 packed.begin() + static_cast<std::ptrdiff_t>(i) + n + 1);
      i += static_cast<size_t>(n) + 1;
    } else if (n != -128) {
      out.insert(out.end(), static_cast<size_t>(1 - n), packed[i++]);
    }
  }
  return out;
}

std::vector<uint8_t> Pack(const std::vector<uint8_t>& row) {
  std::vector<uint8_t> out(row.size() * 3 + 4);
  out.resize(static_cast<size_t>(PackBits(row.data(), static_cast<int32_t>(row.size()), out.data())));
  return out;
}

// Rows of a small color image for the row source.
std::vector<uint8_t> gSamples;
bool TestSampleRow(int16_t y, uint8_t* row) {
  size_t n = static_cast<size_t>(gImage->width) * gImage->samplesPerPixel;
  memcpy(row, gSamples.data() + y * n, n);
  return true;
}

int Shell(const std::string& command, std::string* output) {
  std::string full = command + " 2>&1";
  FILE* pipe = popen(full.c_str(), "r");
  char buffer[512];
  std::string text;
  while (pipe && fgets(buffer, sizeof buffer, pipe)) text += buffer;
  int status = pipe ? pclose(pipe) : -1;
  if (output) *output = text;
  return status;
}

uint32_t Big32(const std::string& b, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(b[at]) << 24 | static_cast<uint8_t>(b[at + 1]) << 16 |
                               static_cast<uint8_t>(b[at + 2]) << 8 | static_cast<uint8_t>(b[at + 3]));
}
uint16_t Big16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) << 8 | static_cast<uint8_t>(b[at + 1]));
}

class PixelWriterTest : public TessTest {
 protected:
  void TearDown() override {
    gPixelRowSource = nullptr;
    TessTest::TearDown();
  }
  void ColorImage(int width, int height, int samples, double dpi) {
    MakeBitmapImage(width, height, dpi);
    gImage->bitsPerSample = 8;
    gImage->samplesPerPixel = static_cast<int16_t>(samples);
    gSamples.resize(static_cast<size_t>(width) * height * samples);
    for (size_t i = 0; i < gSamples.size(); ++i) gSamples[i] = static_cast<uint8_t>(i * 37 + i / 7);
    gPixelRowSource = TestSampleRow;
  }
  std::string Write(int16_t kind, const std::string& name) {
    std::string path = PathIn(name);
    EXPECT_TRUE(WritePixelImage(path.c_str(), kind).ok());
    return ReadFileBytes(path);
  }
  // The value of a directory entry (SHORT or LONG) of a written TIFF.
  static uint32_t Tag(const std::string& b, uint16_t tag) {
    size_t dir = Big32(b, 4);
    int n = Big16(b, dir);
    for (int i = 0; i < n; ++i) {
      size_t e = dir + 2 + 12 * static_cast<size_t>(i);
      if (Big16(b, e) != tag) continue;
      return Big16(b, e + 2) == 3 ? Big16(b, e + 8) : Big32(b, e + 8);
    }
    return 0xFFFFFFFF;
  }
};

TEST_F(PixelWriterTest, PackBitsRunsAndLiterals) {
  struct Case {
    std::vector<uint8_t> row;
    std::vector<uint8_t> packed;
  } const cases[] = {
      {std::vector<uint8_t>(300, 7), {0x81, 7, 0x81, 7, 0xD5, 7}},  // 128, 128, 44
      {{1, 2, 2, 3}, {3, 1, 2, 2, 3}},                              // pairs stay literal
      {{0, 0, 0, 5}, {0xFE, 0, 0, 5}},                              // leading zeros are a run of three
      // A row's first bytes follow a 0: two leading zeros make a run of
      // three with it (a repeat packet of the two); other pairs stay literal.
      {{0, 0, 5}, {0xFF, 0, 0, 5}},
      {{0, 0}, {0xFF, 0}},
      {{0, 5, 6}, {2, 0, 5, 6}},
      {{7, 7, 5}, {2, 7, 7, 5}},
      {{5, 5, 5, 5, 1}, {0xFD, 5, 0, 1}},
  };
  for (const Case& c : cases) EXPECT_EQ(Pack(c.row), c.packed);
  // Literal packets close at 120 bytes; every packing decodes to its row.
  std::vector<uint8_t> distinct(250);
  for (size_t i = 0; i < distinct.size(); ++i) distinct[i] = static_cast<uint8_t>(i);
  std::vector<uint8_t> packed = Pack(distinct);
  ASSERT_EQ(packed.size(), 253u);
  EXPECT_EQ(packed[0], 119);
  EXPECT_EQ(packed[121], 119);
  EXPECT_EQ(packed[242], 9);
  uint32_t seed = 1;
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<uint8_t> row(static_cast<size_t>(trial * 3 + 1));
    for (auto& b : row) {
      seed = seed * 1103515245 + 12345;
      b = static_cast<uint8_t>((seed >> 16) % 3 == 0 ? 0 : (seed >> 20) % 4);
    }
    EXPECT_EQ(Unpack(Pack(row)), row) << trial;
  }
}

TEST_F(PixelWriterTest, BilevelTiffIsPackBitsThatLibtiffReads) {
  MakeBitmapImage(100, 3, 299.6);
  DrawArt(0, 0, {"##.#", ".#"});
  FillRect(40, 2, 100, 3);
  std::string b = Write(3, "bits.tif");
  EXPECT_EQ(b.substr(0, 4), std::string("MM\0*", 4));
  EXPECT_EQ(Tag(b, 255), 1u);
  EXPECT_EQ(Tag(b, 256), 100u);
  EXPECT_EQ(Tag(b, 257), 3u);
  EXPECT_EQ(Tag(b, 258), 1u);
  EXPECT_EQ(Tag(b, 259), 32773u);
  EXPECT_EQ(Tag(b, 262), 0u);
  EXPECT_EQ(Tag(b, 273), 8u);
  EXPECT_EQ(Tag(b, 277), 1u);
  uint32_t rational = Tag(b, 282);
  EXPECT_EQ(Tag(b, 283), rational);
  EXPECT_EQ(Big32(b, rational), 300u);  // 299.6 rounds to 300
  EXPECT_EQ(Big32(b, rational + 4), 1u);
  EXPECT_EQ(gImage->sourceType, kSourceTiff);

  std::string out;
  ASSERT_EQ(Shell("tiffinfo '" + PathIn("bits.tif") + "'", &out), 0) << out;
  EXPECT_NE(out.find("PackBits"), std::string::npos) << out;
  ASSERT_EQ(Shell("tifftopnm -quiet '" + PathIn("bits.tif") + "' | pnmtoplainpnm | tail -n +3 | tr -d '\\n '",
                  &out), 0) << out;
  // 1 is black in a PBM as in the working bitmap.
  EXPECT_EQ(out, "1101" + std::string(96, '0') + "01" + std::string(98, '0') + std::string(40, '0') +
                     std::string(60, '1'));
}

TEST_F(PixelWriterTest, ColorTiffsReadBackSampleForSample) {
  struct Case {
    int samples;
    uint32_t photometric;
  } const cases[] = {{1, 1}, {3, 2}, {4, 5}};
  for (const Case& c : cases) {
    ColorImage(5, 4, c.samples, 150);
    std::string b = Write(3, "color.tif");
    EXPECT_EQ(Tag(b, 259), 1u);
    EXPECT_EQ(Tag(b, 262), c.photometric);
    EXPECT_EQ(Tag(b, 277), static_cast<uint32_t>(c.samples));
    EXPECT_EQ(Tag(b, 279), gSamples.size());
    EXPECT_EQ(b.substr(8, gSamples.size()), std::string(gSamples.begin(), gSamples.end()));
    std::string out;
    EXPECT_EQ(Shell("tiffinfo -d '" + PathIn("color.tif") + "'", &out), 0) << out;
    EXPECT_EQ(out.find("rror"), std::string::npos) << out;
    if (c.samples != 4) {
      ASSERT_EQ(Shell("tifftopnm -quiet '" + PathIn("color.tif") + "' > '" + PathIn("c.pnm") + "'", &out), 0) << out;
      std::string pnm = ReadFileBytes(PathIn("c.pnm"));
      EXPECT_EQ(pnm.substr(pnm.size() - gSamples.size()), std::string(gSamples.begin(), gSamples.end()));
    }
    FreeWorkBits();
  }
}

TEST_F(PixelWriterTest, RanvelleDocumentLayout) {
  ColorImage(3, 2, 4, 72);
  std::string b = Write(1, "image.rvd");
  std::string header = std::string("Q7PS\0\1\0\0\0\0\0\0\0\4\0\0\0\2\0\0\0\3\0\x08\0\4\0\0\0\0\0\0\0\x1C", 34) +
                       std::string("Q7IM\x03\xED\0\0\0\0\0\x10\0\x48\0\0\0\1\0\1\0\x48\0\0\0\1\0\1", 28) +
                       std::string("\0\0\0\0\0\0", 6);
  EXPECT_EQ(b.substr(0, header.size()), header);
  ASSERT_EQ(b.size(), header.size() + gSamples.size());
  // Channel after channel, CMYK inverted.
  for (int c = 0; c < 4; ++c)
    for (int p = 0; p < 6; ++p)
      EXPECT_EQ(static_cast<uint8_t>(b[header.size() + c * 6 + p]), 255 - gSamples[p * 4 + c]) << c << "," << p;
  EXPECT_EQ(gImage->sourceType, kSourceRanvelle3);

  FreeWorkBits();
  MakeBitmapImage(10, 2, 300);
  DrawArt(0, 0, {"#........#", ".#"});
  b = Write(0, "bits.rvd");
  EXPECT_EQ(Big16(b, 12), 1);   // channels
  EXPECT_EQ(Big16(b, 22), 1);   // depth
  EXPECT_EQ(Big16(b, 24), 0);   // bilevel mode
  EXPECT_EQ(Big32(b, 46), 300u * 65536);
  EXPECT_EQ(b.substr(68), std::string("\x80\x40\x40\x00", 4));
}

// A tick source that moves a second on with every look, and presses Escape
// on the third: the writers' cancel poll then stops them a few rows in.
uint32_t gStopTicks = 0;
uint32_t StopOnThirdPoll() {
  if (++gStopTicks % 1000 == 3) QueueEscape();
  return gStopTicks * 60;
}

TEST_F(PixelWriterTest, FailuresAndStopsKeepTheOldFile) {
  MakeBitmapImage(64, 64, 72);
  EXPECT_EQ(WritePixelImage(PathIn("no-folder/x.tif").c_str(), 3), Stopped(kStrDiskFull));

  // A full disk or a stop in the middle of either writer: the file that was
  // there stays as it was and nothing else is left in its folder.
  for (int16_t kind : {1, 3}) {
    for (bool stop : {false, true}) {
      SCOPED_TRACE(std::to_string(kind) + (stop ? " stop" : " full"));
      std::string path = PathIn("old.img");
      WriteFileBytes(path, "the old image");
      if (stop) {
        gStopTicks = 0;
        SetTickSource(StopOnThirdPoll);
      } else {
        FileFailWritesAfter(100);
      }
      EXPECT_EQ(WritePixelImage(path.c_str(), kind), stop ? Stopped() : Stopped(kStrDiskFull));
      FileFailWritesAfter(-1);
      SetTickSource(nullptr);
      EXPECT_EQ(ReadFileBytes(path), "the old image");
      EXPECT_EQ(FolderEntries(Dir()), std::vector<std::string>{"old.img"});
    }
  }

  gImage->bitsPerSample = 8;
  gImage->samplesPerPixel = 3;
  gPixelRowSource = TestSampleRow;
  MemFailAbove(100);
  EXPECT_EQ(WritePixelImage(PathIn("x.tif").c_str(), 3), Stopped(kStrInsufficientMemory));
  MemFailAbove(0);
  EXPECT_TRUE(MessageIds().empty()) << "the writers show nothing themselves";
}

TEST_F(PixelWriterTest, PreviewIsScaledToSeventyTwoDpiNeverEnlarged) {
  struct Case {
    int width, height;
    double dpi;
    uint32_t w, h;
  } const cases[] = {{3000, 300, 300, 720, 72}, {50, 20, 36, 50, 20}, {101, 10, 144, 51, 5}};
  for (const Case& c : cases) {
    MakeBitmapImage(c.width, c.height, c.dpi);
    FillRect(0, 0, c.width, c.height);
    std::string path = PathIn("preview.bin");
    ASSERT_TRUE(OutOpen(path.c_str()).ok());
    OutWrite("ABC", 3);
    OutFlush();
    WriteTiffPreview(OutFile(), false);
    int32_t start = gTiffStart, end = gTiffEnd;
    OutClose();
    std::string b = ReadFileBytes(path);
    EXPECT_EQ(start, 3);
    EXPECT_EQ(end, static_cast<int32_t>(b.size()));
    std::string tiff = b.substr(3);
    EXPECT_EQ(Tag(tiff, 256), c.w);
    EXPECT_EQ(Tag(tiff, 257), c.h);
    EXPECT_EQ(Big32(tiff, Tag(tiff, 282)), 72u);
    WriteFileBytes(PathIn("p.tif"), tiff);
    std::string out;
    ASSERT_EQ(Shell("tifftopnm -quiet '" + PathIn("p.tif") + "' | pnmtoplainpnm | tail -n +3 | tr -d '\\n 1' | wc -c",
                  &out), 0);
    EXPECT_EQ(out, "0\n") << "every preview pixel is black";
    FreeWorkBits();
  }
}

TEST_F(PixelWriterTest, SaveDialogNamingRules) {
  struct Case {
    const char* name;
    int type;
    const char* result;
  } const cases[] = {
      {"a/b.c/img.tif", 0, "a/b.c/img.rvd"},
      {"a/b.c/img", 1, "a/b.c/img.tif"},
      {"img.old.rvd", 1, "img.old.tif"},
      {"img", 0, "img.rvd"},
  };
  for (const Case& c : cases) {
    char name[kNameBufferSize];
    strcpy(name, c.name);
    ASSERT_TRUE(SetPixelExtension(name, c.type));
    EXPECT_STREQ(name, c.result);
  }
  EXPECT_FALSE(NameHasExtension("a/b.c/img"));
  EXPECT_TRUE(NameHasExtension("a/img.x"));
  EXPECT_EQ(PixelTypeFormat(0), 1);
  EXPECT_EQ(PixelTypeFormat(1), 3);
  char longName[kNameBufferSize];
  memset(longName, 'x', 252);
  longName[252] = 0;
  EXPECT_FALSE(SetPixelExtension(longName, 0));
  EXPECT_EQ(strlen(longName), 252u);  // refused, unchanged
  gImage->sourceType = kSourceTiff;
  EXPECT_EQ(DefaultPixelType(), 1);
  gImage->sourceType = kSourcePcx;
  EXPECT_EQ(DefaultPixelType(), 0);
}

}  // namespace

#include "tests/raster/raster_helpers.h"

namespace {

// What each pixel writer makes of an opened image, our reader reads back
// the same; libtiff reads our TIFF too.
TEST_F(PixelWriterTest, WritersRoundTripThroughOurReader) {
  const struct {
    const char* file;
    const char* oracle;
  } cases[] = {
      {"tiff-bw-packbits.tif", "src-bw.pbm"},
      {"tiff-gray-lzw-2.tif", "src-gray.pgm"},
      {"tiff-rgb-lzw-2.tif", "src-rgb.ppm"},
      {"tiff-cmyk-lzw-2.tif", nullptr},
  };
  for (const char* ext : {".tif", ".rvd"}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.file) + " as " + ext);
      ASSERT_TRUE(OpenFixture(Dir(), c.file));
      std::string out = Dir() + "round" + ext;
      ASSERT_TRUE(WritePixelImage(out.c_str(), std::string(ext) == ".tif" ? 3 : 1).ok());
      CloseDocument();
      if (std::string(ext) == ".tif") {
        std::string info;
        EXPECT_EQ(Shell("tiffinfo '" + out + "'", &info), 0) << info;
      }
      ASSERT_TRUE(OpenAs(Dir(), ReadFileBytes(out), std::string("again") + ext));
      if (!c.oracle) {
        std::string want = ReadFileBytes(RasterFixture("expect-cmyk.raw"));
        for (int y = 0; y < storeRows; ++y)
          ASSERT_EQ(0, memcmp(SampleRow(y), want.data() + static_cast<size_t>(y) * storeRowLength, storeRowLength));
      } else if (std::string(c.oracle).ends_with(".pbm")) {
        ExpectBitmapIs(ReadPnm(RasterFixture(c.oracle)));
      } else {
        ExpectStoreIs(ReadPnm(RasterFixture(c.oracle)));
      }
      CloseDocument();
    }
  }
}

}  // namespace
