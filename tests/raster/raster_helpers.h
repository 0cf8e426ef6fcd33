// Helpers of the raster reader tests: fixture files, a small PNM parser for
// the independent decoders' output, and comparisons against the working
// bitmap and the sample store.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/records.h"
#include "platform/platform.h"
#include "raster/open_image.h"
#include "raster/sample_store.h"
#include "shell/document.h"
#include "shell/startup.h"
#include "tests/support/support.h"

// A reader test: the document a test opens is closed at its end, and closing
// must give back every block the open took.
class ReaderTest : public TessTest {
 protected:
  void SetUp() override {
    TessTest::SetUp();
    memBefore_ = MemLiveCount();
  }
  void TearDown() override {
    CloseDocument();
    EXPECT_EQ(MemLiveCount(), memBefore_) << "memory left after closing";
    TessTest::TearDown();
  }
  int memBefore_ = 0;
};

inline std::string RasterFixture(const std::string& name) {
  return SourceDir() + "/tests/fixtures/raster/" + name;
}

// A decoded PNM image: bits unpacked to one byte per sample (0/1 for PBM,
// 1 = black), 16-bit samples as their high byte.
struct Pnm {
  int width = 0, height = 0, samples = 1, maxval = 1;
  std::vector<uint8_t> data;
  uint8_t At(int x, int y, int s = 0) const { return data[(static_cast<size_t>(y) * width + x) * samples + s]; }
};

inline Pnm ReadPnm(const std::string& path) {
  std::string b = ReadFileBytes(path);
  Pnm p;
  size_t pos = 2;
  auto number = [&]() {
    while (pos < b.size() && (isspace(static_cast<unsigned char>(b[pos])) || b[pos] == '#')) {
      if (b[pos] == '#')
        while (pos < b.size() && b[pos] != '\n') ++pos;
      else
        ++pos;
    }
    int v = 0;
    while (pos < b.size() && isdigit(static_cast<unsigned char>(b[pos]))) v = v * 10 + (b[pos++] - '0');
    return v;
  };
  char kind = b.size() > 1 ? b[1] : '?';
  p.width = number();
  p.height = number();
  if (kind != '4') p.maxval = number();
  ++pos;
  p.samples = kind == '6' ? 3 : 1;
  size_t n = static_cast<size_t>(p.width) * p.height * p.samples;
  p.data.resize(n);
  if (kind == '4') {
    size_t rowBytes = (p.width + 7) / 8;
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x)
        p.data[static_cast<size_t>(y) * p.width + x] =
            (static_cast<uint8_t>(b[pos + y * rowBytes + x / 8]) >> (7 - x % 8)) & 1;
  } else {
    int step = p.maxval > 255 ? 2 : 1;
    for (size_t i = 0; i < n; ++i) p.data[i] = static_cast<uint8_t>(b[pos + i * step]);
  }
  return p;
}

// Copies a fixture into the test folder under `name` (its extension picks
// the source kind) and opens it as the document. True when OpenDocument
// opened it.
inline bool OpenAs(const std::string& dir, const std::string& bytes, const std::string& name) {
  WriteFileBytes(dir + name, bytes);
  CopyName(gImage->path, (dir + name).c_str());
  CopyName(gImage->docName, (dir + name).c_str());
  gImage->sourceType = static_cast<int16_t>(SourceTypeFromName(name.c_str()));
  return OpenDocument(nullptr).ok();
}

inline bool OpenFixture(const std::string& dir, const std::string& fixture, const std::string& name = "") {
  return OpenAs(dir, ReadFileBytes(RasterFixture(fixture)), name.empty() ? fixture : name);
}

// The working bitmap equals a PBM (1 = black), and everything right of the
// image up to rowBits is white.
inline void ExpectBitmapIs(const Pnm& pbm) {
  ASSERT_EQ(gImage->width, pbm.width);
  ASSERT_EQ(gImage->height, pbm.height);
  ASSERT_LT(gImage->bitsPerSample, 2);
  int wrong = 0;
  for (int y = 0; y < pbm.height; ++y)
    for (int x = 0; x < gImage->rowBits; ++x) {
      int want = x < pbm.width ? pbm.At(x, y) : 0;
      if (WorkPixel(x, y) != want && wrong++ < 5) ADD_FAILURE() << "pixel " << x << "," << y;
    }
  EXPECT_EQ(wrong, 0);
}

// The sample store equals an image of the same geometry, sample by sample.
inline void ExpectStoreIs(const Pnm& img, int shift = 0) {
  ASSERT_EQ(storePixels, img.width);
  ASSERT_EQ(storeRows, img.height);
  ASSERT_EQ(storeSamples, img.samples);
  ASSERT_TRUE(SampleStoreInMemory());
  int wrong = 0;
  for (int y = 0; y < img.height; ++y) {
    const uint8_t* row = SampleRow(y);
    for (int x = 0; x < img.width * img.samples; ++x) {
      uint8_t want = static_cast<uint8_t>(img.data[static_cast<size_t>(y) * img.width * img.samples + x] << shift);
      if (row[x] != want && wrong++ < 5)
        ADD_FAILURE() << "sample " << x << " of row " << y << ": " << int(row[x]) << " != " << int(want);
    }
  }
  EXPECT_EQ(wrong, 0);
}

// Big-endian byte builders for hand-made files.
inline void PutBE(std::string& s, uint32_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) s += static_cast<char>(i < 4 ? (v >> (8 * i)) & 0xFF : 0);
}
inline void PutLE(std::string& s, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s += static_cast<char>(i < 4 ? (v >> (8 * i)) & 0xFF : 0);
}
