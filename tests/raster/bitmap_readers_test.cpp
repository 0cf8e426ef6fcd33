// The MacPaint, PCX and Ranvelle readers: netpbm-written files against
// netpbm's own decoders, and hand-built files for the cases no tool writes.
#include "raster/readers.h"
#include "tests/raster/raster_helpers.h"

namespace {

using BitmapReaders = ReaderTest;

TEST(UnpackBits, CopiesRepeatsSkipsAndCutsAtTheRowEnd) {
  const struct {
    std::string src;
    int count;
    std::string want;  // "" when the source ends first
    int used;
  } cases[] = {
      {"\x02" "abc", 3, "abc", 4},
      {"\xFE" "z", 3, "zzz", 2},
      {std::string("\x80\x00" "q", 3), 1, "q", 3},  // -128 is skipped
      {"\xFD" "k" "\x01" "xy", 3, "kkk", 2},       // a run passing the end is cut
      {"\x05" "ab", 3, "", -1},
  };
  for (const auto& c : cases) {
    uint8_t out[8] = {};
    int32_t used = UnpackBits(reinterpret_cast<const uint8_t*>(c.src.data()), static_cast<int32_t>(c.src.size()),
                              out, c.count);
    EXPECT_EQ(used, c.used) << c.src;
    if (c.used > 0) {
      EXPECT_EQ(std::string(reinterpret_cast<char*>(out), c.count), c.want);
    }
  }
}

TEST_F(BitmapReaders, MacPaintMatchesTheIndependentDecoder) {
  ASSERT_TRUE(OpenFixture(Dir(), "macpaint-bw.pnt"));
  ExpectBitmapIs(ReadPnm(RasterFixture("expect-macpaint.pbm")));
  EXPECT_EQ(gImage->resolutionX, 72.0);
  CloseDocument();

  // Its own run rule: -128 repeats the next byte 129 times.
  std::string file(512, '\0');
  file += "\x80\xAA";
  while (file.size() < 512 + 2 + 2 * 410) file += "\x81\x0F";
  ASSERT_TRUE(OpenAs(Dir(), file, "m.pnt"));
  EXPECT_EQ(gWorkBits[128], 0xAA);
  EXPECT_EQ(gWorkBits[129], 0x0F);
  CloseDocument();
  ClearMessageLog();
  EXPECT_FALSE(OpenAs(Dir(), file.substr(0, 900), "m.pnt"));  // ends before the last row
  EXPECT_EQ(MessageIds(), std::vector<int>{34});
}

TEST_F(BitmapReaders, PcxMatchesTheIndependentDecoder) {
  ASSERT_TRUE(OpenFixture(Dir(), "pcx-bw.pcx"));
  ExpectBitmapIs(ReadPnm(RasterFixture("src-bw.pbm")));  // white from 77 to 95
  CloseDocument();
  ASSERT_TRUE(OpenFixture(Dir(), "pcx-pal8.pcx"));
  ExpectStoreIs(ReadPnm(RasterFixture("src-pal.ppm")));
  CloseDocument();
  ASSERT_TRUE(OpenFixture(Dir(), "pcx-rgb24.pcx"));
  ExpectStoreIs(ReadPnm(RasterFixture("src-rgb.ppm")));
  CloseDocument();

  // Without its trailing palette the 8-bit file is read as gray.
  std::string pal8 = ReadFileBytes(RasterFixture("pcx-pal8.pcx"));
  ASSERT_TRUE(OpenAs(Dir(), pal8.substr(0, pal8.size() - 769), "g.pcx"));
  EXPECT_EQ(gImage->samplesPerPixel, 1);
  CloseDocument();

  Pnm rgb = ReadPnm(RasterFixture("src-rgb.ppm"));
  gDocument->Set(Flag::downsample2to1);
  ASSERT_TRUE(OpenFixture(Dir(), "pcx-rgb24.pcx"));
  ASSERT_EQ(storePixels, 22);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 22; ++x)
      for (int c = 0; c < 3; ++c) ASSERT_EQ(SampleRow(y)[3 * x + c], rgb.At(2 * x + 1, 2 * y + 1, c));
}

// A PCX header for hand-made files.
std::string PcxHeader(int version, int bits, int width, int height, int planes, int lineBytes) {
  std::string h(128, '\0');
  h[0] = 10;
  h[1] = static_cast<char>(version);
  h[2] = 1;
  h[3] = static_cast<char>(bits);
  h[8] = static_cast<char>(width - 1);
  h[10] = static_cast<char>(height - 1);
  h[65] = static_cast<char>(planes);
  h[66] = static_cast<char>(lineBytes);
  return h;
}

TEST_F(BitmapReaders, PcxRunsAcrossScanLinesAndPlaneLayouts) {
  // Gray 5 x 3 (bytes per line 6): 18 bytes of 0x40, as one run per line
  // or as runs that cross the line ends.
  std::string perLine, crossing = "\xCC\x40" "\xCE\x40";
  for (int i = 0; i < 3; ++i) perLine += "\xC6\x40";
  ASSERT_TRUE(OpenAs(Dir(), PcxHeader(5, 8, 5, 3, 1, 6) + perLine, "a.pcx"));
  std::vector<uint8_t> first(SampleRow(0), SampleRow(0) + 15);
  CloseDocument();
  ASSERT_TRUE(OpenAs(Dir(), PcxHeader(5, 8, 5, 3, 1, 6) + crossing, "b.pcx"));
  EXPECT_EQ(std::vector<uint8_t>(SampleRow(0), SampleRow(0) + 15), first);
  EXPECT_EQ(SampleRow(2)[4], 0x40);
  CloseDocument();

  // Three 1-bit planes: eight colours at 0 or 128, white as 192.
  // Four 1-bit planes: planes 0, 1, 2 are blue, green and red at 255.
  const struct {
    int planes;
    std::string lines;
    std::vector<uint8_t> first3;
  } layouts[] = {
      {3, std::string("\x80\x80\x80" "\x80\x00\x00", 6), {192, 192, 192, 0, 0, 0}},
      {3, std::string("\x40\x40\x00" "\x00\x00\x40", 6), {0, 0, 0, 128, 128, 0}},
      {4, std::string("\x80\x00\x00\x80" "\x00\x80\x00\x00", 8), {0, 0, 255, 0, 0, 0}},
  };
  for (const auto& l : layouts) {
    std::string data;
    for (char c : l.lines) data += std::string("\xC1", 1) + c;
    ASSERT_TRUE(OpenAs(Dir(), PcxHeader(5, 1, 8, 2, l.planes, 1) + data, "p.pcx"));
    EXPECT_EQ(std::vector<uint8_t>(SampleRow(0), SampleRow(0) + 6), l.first3) << l.lines.size();
    CloseDocument();
  }

  ClearMessageLog();
  std::string notPcx = PcxHeader(5, 8, 5, 3, 1, 6) + perLine;
  notPcx[0] = 11;
  EXPECT_FALSE(OpenAs(Dir(), notPcx, "c.pcx"));
  EXPECT_FALSE(OpenAs(Dir(), PcxHeader(5, 8, 5, 3, 1, 6) + "\xC6\x40", "d.pcx"));  // data ends early
  EXPECT_EQ(MessageIds(), (std::vector<int>{34, 34}));
}

// ---------------------------------------------------------------------------
// Ranvelle documents, byte by byte.
struct Rvd {
  uint16_t version = 1, channels = 1, depth = 8, mode = 1;
  uint32_t width = 3, height = 2;
  std::string colorData, resources, layers;
  bool rle = false;
  std::vector<std::string> rows;  // all rows of channel 0, then channel 1, ...

  std::string Bytes() const {
    std::string s = "Q7PS";
    PutBE(s, version, 2);
    s += std::string(6, '\0');
    PutBE(s, channels, 2);
    PutBE(s, height, 4);
    PutBE(s, width, 4);
    PutBE(s, depth, 2);
    PutBE(s, mode, 2);
    PutBE(s, static_cast<uint32_t>(colorData.size()), 4);
    s += colorData;
    PutBE(s, static_cast<uint32_t>(resources.size()), 4);
    s += resources;
    PutBE(s, static_cast<uint32_t>(layers.size()), 4);
    s += layers;
    PutBE(s, rle ? 1 : 0, 2);
    if (!rle) {
      for (const auto& r : rows) s += r;
      return s;
    }
    // Each row as literal runs, with a -128 no-op in front.
    std::vector<std::string> packed;
    for (const auto& r : rows) packed.push_back("\x80" + std::string(1, static_cast<char>(r.size() - 1)) + r);
    for (const auto& p : packed) PutBE(s, static_cast<uint32_t>(p.size()), 2);
    for (const auto& p : packed) s += p;
    return s;
  }
};

std::string Resource(const char* sig, uint16_t id, const std::string& name, const std::string& data) {
  std::string s = sig;
  PutBE(s, id, 2);
  s += static_cast<char>(name.size());
  s += name;
  if (name.size() % 2 == 0) s += '\0';
  PutBE(s, static_cast<uint32_t>(data.size()), 4);
  s += data;
  if (data.size() % 2) s += '\0';
  return s;
}

TEST_F(BitmapReaders, RanvelleModesRawAndRunLength) {
  for (bool rle : {false, true}) {
    SCOPED_TRACE(rle ? "run-length" : "raw");
    Rvd bitmap;
    bitmap.mode = 0;
    bitmap.depth = 1;
    bitmap.width = 10;
    bitmap.rows = {"\xF0\xC0", "\x0F\x40"};
    bitmap.rle = rle;
    ASSERT_TRUE(OpenAs(Dir(), bitmap.Bytes(), "b.rvd"));
    EXPECT_EQ(gImage->bitsPerSample, 1);
    EXPECT_EQ(gWorkBits[0], 0xF0);
    EXPECT_EQ(gWorkBits[1], 0xC0);
    EXPECT_EQ(gWorkBits[4], 0x0F);
    EXPECT_EQ(gWorkBits[5], 0x40);
    CloseDocument();

    Rvd gray;  // black is zero: kept as it is
    gray.rows = {std::string("\x00\x80\xFF", 3), "\x10\x20\x30"};
    gray.rle = rle;
    ASSERT_TRUE(OpenAs(Dir(), gray.Bytes(), "g.rvd"));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(SampleRow(1)), 3), "\x10\x20\x30");
    EXPECT_EQ(gImage->photometric, 1);
    CloseDocument();

    Rvd indexed;
    indexed.mode = 2;
    indexed.colorData = std::string(768, '\0');
    for (int i = 0; i < 256; ++i) {
      indexed.colorData[i] = static_cast<char>(i);
      indexed.colorData[256 + i] = static_cast<char>(255 - i);
      indexed.colorData[512 + i] = static_cast<char>(i / 2);
    }
    indexed.rows = {"\x01\x02\x04", "\x08\x10\x20"};
    indexed.rle = rle;
    ASSERT_TRUE(OpenAs(Dir(), indexed.Bytes(), "i.rvd"));
    EXPECT_EQ(gImage->samplesPerPixel, 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(SampleRow(1)), 3), "\x08\xF7\x04");
    CloseDocument();

    Rvd rgb;
    rgb.mode = 3;
    rgb.channels = 4;  // an extra channel is not read
    rgb.rows = {"\x01\x02\x03", "\x04\x05\x06", "\x11\x12\x13", "\x14\x15\x16",
                "\x21\x22\x23", "\x24\x25\x26", "\xEE\xEE\xEE", "\xEE\xEE\xEE"};
    rgb.rle = rle;
    ASSERT_TRUE(OpenAs(Dir(), rgb.Bytes(), "c.rvd"));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(SampleRow(1)), 9), "\x04\x14\x24\x05\x15\x25\x06\x16\x26");
    CloseDocument();

    Rvd cmyk = rgb;  // inks are stored inverted
    cmyk.mode = 4;
    cmyk.rows[6] = std::string("\x00\x10\xFF", 3);
    ASSERT_TRUE(OpenAs(Dir(), cmyk.Bytes(), "k.rvd"));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(SampleRow(0)), 4), "\xFE\xEE\xDE\xFF");
    EXPECT_EQ(SampleRow(0)[11], 0x00);
    CloseDocument();
  }
}

TEST_F(BitmapReaders, RanvelleResourcesSixteenBitsAndDownsampling) {
  Rvd doc;
  doc.mode = 3;
  doc.channels = 3;
  doc.depth = 16;
  doc.width = 2;
  doc.height = 1;
  doc.rows = {"\x12\x34\x56\x78", "\x9A\xBC\xDE\xF0", "\x01\x02\x03\x04"};
  std::string res(16, '\0');
  res[1] = static_cast<char>(150);  // 150.0 pixels per inch
  res[9] = static_cast<char>(200);
  doc.resources = Resource("Q7IM", 1000, "abc", "xyz") + Resource("Q7IM", 1005, "", res) +
                  Resource("Q7XX", 1005, "ab", std::string(16, '\x7F'));
  doc.layers = "layer data to skip";
  ASSERT_TRUE(OpenAs(Dir(), doc.Bytes(), "h.rvd"));
  EXPECT_EQ(MessageIds(), std::vector<int>{356});
  EXPECT_EQ(MessageLog()[0].kind, kMessageInformation);  // an information box, not a warning
  EXPECT_EQ(gImage->bitsPerSample, 8);
  EXPECT_EQ(gImage->resolutionX, 150.0);
  EXPECT_EQ(gImage->resolutionY, 200.0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(SampleRow(0)), 6), "\x12\x9A\x01\x56\xDE\x03");
  CloseDocument();

  Rvd gray;
  gray.width = 5;
  gray.height = 4;
  gray.rows = {"abcde", "fghij", "klmno", "pqrst"};
  gDocument->Set(Flag::downsample2to1);
  ASSERT_TRUE(OpenAs(Dir(), gray.Bytes(), "d.rvd"));
  EXPECT_EQ(storePixels, 2);
  EXPECT_EQ(storeRows, 2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(SampleRow(0)), 2), "gi");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(SampleRow(1)), 2), "qs");
}

TEST_F(BitmapReaders, RanvelleRefusals) {
  Rvd good;
  good.rows = {"abc", "def"};
  Rvd badVersion = good;
  badVersion.version = 2;
  Rvd colorInRgb = good;
  colorInRgb.mode = 3;
  colorInRgb.channels = 3;
  colorInRgb.colorData = "xx";
  Rvd shortTable = good;
  shortTable.mode = 2;
  shortTable.colorData = std::string(767, '\0');
  Rvd duotone = good;
  duotone.mode = 8;
  std::string badSig = good.Bytes();
  badSig[3] = 'X';
  const struct {
    const char* name;
    std::string bytes;
    int message;
  } cases[] = {
      {"signature", badSig, 233},
      {"version", badVersion.Bytes(), 233},
      {"colour data outside mode 2", colorInRgb.Bytes(), 233},
      {"colour table not 768 bytes", shortTable.Bytes(), 233},
      {"duotone", duotone.Bytes(), 234},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClearMessageLog();
    EXPECT_FALSE(OpenAs(Dir(), c.bytes, "x.rvd"));
    EXPECT_EQ(MessageIds(), std::vector<int>{c.message});
  }
}

// Cut and damaged copies of files of every reader here fail with their
// messages or open; nothing is read outside a buffer.
TEST_F(BitmapReaders, TruncatedAndCorruptedFilesFailCleanly) {
  Rvd rvd;
  rvd.mode = 4;
  rvd.channels = 4;
  rvd.rle = true;
  rvd.resources = Resource("Q7IM", 1005, "", std::string(16, '\x01'));
  for (int i = 0; i < 8; ++i) rvd.rows.push_back("abc");
  const struct {
    const char* name;
    std::string bytes;
  } files[] = {
      {"p.pnt", ReadFileBytes(RasterFixture("macpaint-bw.pnt"))},
      {"p.pcx", ReadFileBytes(RasterFixture("pcx-pal8.pcx"))},
      {"p.pcx", ReadFileBytes(RasterFixture("pcx-rgb24.pcx"))},
      {"p.rvd", rvd.Bytes()},
      {"p.sun", ReadFileBytes(RasterFixture("sun-bw.sun"))},
  };
  for (const auto& f : files) {
    for (int cut = 1; cut <= 12; ++cut) {
      SCOPED_TRACE(std::string(f.name) + " cut " + std::to_string(cut));
      std::string bytes = f.bytes.substr(0, f.bytes.size() * cut / 13);
      if (cut % 4 == 0) {
        bytes = f.bytes;
        for (size_t i = cut; i < bytes.size(); i += 29) bytes[i] = static_cast<char>(bytes[i] ^ 0xA5);
      }
      ClearMessageLog();
      OpenAs(Dir(), bytes, f.name);
      for (int id : MessageIds()) EXPECT_TRUE(id == 11 || (id >= 34 && id <= 36) || id == 233 || id == 234) << id;
      CloseDocument();
      EXPECT_EQ(MemLiveCount(), memBefore_);
    }
  }
}

}  // namespace
