// The MacPaint, PCX, Ranvelle document, Netpbm and BMP readers, and the
// PackBits decoder they share with the pixel writers' tests.
#include <cstring>

#include "core/records.h"
#include "core/services.h"
#include "platform/platform.h"
#include "platform/string_ids.h"
#include "raster/open_image.h"
#include "raster/readers.h"
#include "raster/sample_store.h"

namespace {

// The horizontal resolution of the screen, in pixels per inch.
constexpr int kScreenPixelsPerInch = 96;

uint32_t Big32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         p[3];
}
uint32_t Big16(const uint8_t* p) { return static_cast<uint32_t>(p[0] << 8 | p[1]); }
uint32_t Little16(const uint8_t* p) { return static_cast<uint32_t>(p[0] | p[1] << 8); }

bool ReadExact(void* dst, int32_t n) { return FileRead(gImage->fileHandle, dst, n) == n; }

bool Skip(uint32_t n) {
  int32_t here = FileTell(gImage->fileHandle);
  if (here < 0 || n > static_cast<uint32_t>(0x7FFFFFFF - here)) return false;
  int32_t to = here + static_cast<int32_t>(n);
  return FileSeek(gImage->fileHandle, to, kSeekSet) == to && to <= FileLength(gImage->fileHandle);
}

// A block freed on every exit of a reader.
struct Buffer {
  uint8_t* p = nullptr;
  bool Alloc(size_t n) {
    p = static_cast<uint8_t*>(MemAllocPtr(n ? n : 1));
    return p != nullptr;
  }
  ~Buffer() { MemFreePtr(p); }
};

// ---------------------------------------------------------------------------
// PCX run-length input: one stream of runs cut into scan lines; a run may go
// on into the next scan line.
struct PcxRuns {
  int32_t count = 0;
  uint8_t value = 0;
  // Fills `n` bytes; false when the data ends first.
  bool Fill(uint8_t* dst, int32_t n) {
    int32_t done = 0;
    while (done < n) {
      if (count == 0) {
        int b = ByteReaderNext();
        if (b < 0) return false;
        if ((b & 0xC0) == 0xC0) {
          count = b & 0x3F;
          int v = ByteReaderNext();
          if (v < 0) return false;
          value = static_cast<uint8_t>(v);
          continue;
        }
        count = 1;
        value = static_cast<uint8_t>(b);
      }
      int32_t take = count < n - done ? count : n - done;
      memset(dst + done, value, take);
      done += take;
      count -= take;
    }
    return true;
  }
};

}  // namespace

int32_t UnpackBits(const uint8_t* src, int32_t srcLength, uint8_t* dst, int32_t count) {
  int32_t in = 0, done = 0;
  while (done < count) {
    if (in >= srcLength) return -1;
    int8_t n = static_cast<int8_t>(src[in++]);
    if (n >= 0) {
      if (in + n + 1 > srcLength) return -1;
      int32_t take = n + 1 < count - done ? n + 1 : count - done;
      memcpy(dst + done, src + in, take);
      done += take;
      in += n + 1;
    } else if (n != -128) {
      if (in >= srcLength) return -1;
      int32_t take = 1 - n < count - done ? 1 - n : count - done;
      memset(dst + done, src[in++], take);
      done += take;
    }
  }
  return in;
}

Status ReadMacPaint() {
  gImage->width = gImage->rowBits = 576;
  gImage->height = 720;
  SetRowGeometry();
  if (Status s = AllocImageBits(); !s.ok()) return s;
  if (FileSeek(gImage->fileHandle, 512, kSeekSet) != 512) return Failed(kStrUnknownFormat);
  ByteReaderStart();
  const int32_t total = 51840;
  int32_t done = 0;
  while (done < total) {
    int n = ByteReaderNext();
    if (n < 0) return Failed(kStrUnknownFormat);  // the data ends before the last row
    int8_t c = static_cast<int8_t>(n);
    int32_t before = done;
    if (c >= 0) {
      for (int i = 0; i <= c; ++i) {
        int b = ByteReaderNext();
        if (b < 0) return Failed(kStrUnknownFormat);
        if (done < total) gWorkBits[done++] = static_cast<uint8_t>(b);
      }
    } else {
      // Unlike PackBits elsewhere, -128 is a run of 129.
      int b = ByteReaderNext();
      if (b < 0) return Failed(kStrUnknownFormat);
      for (int i = 0; i < 1 - c && done < total; ++i) gWorkBits[done++] = static_cast<uint8_t>(b);
    }
    ShowReadProgress(done, total);
    if (done / 72 != before / 72 && PollUserAbort()) return StopStatus();
  }
  gImage->resolutionX = gImage->resolutionY = 72.0;
  return Done();
}

Status ReadPcx() {
  uint8_t h[128];
  if (FileSeek(gImage->fileHandle, 0, kSeekSet) != 0 || !ReadExact(h, 128) || h[0] != 10)
    return Failed(kStrUnknownFormat);
  int version = h[1];
  int bits = h[3];
  int32_t width = static_cast<int32_t>(Little16(h + 8)) - static_cast<int32_t>(Little16(h + 4)) + 1;
  int32_t height = static_cast<int32_t>(Little16(h + 10)) - static_cast<int32_t>(Little16(h + 6)) + 1;
  int planes = h[65];
  int32_t lineBytes = static_cast<int32_t>(Little16(h + 66));
  // Layouts with a meaning: 1-bit or 8-bit single plane, three planes of
  // 1 or 8 bits, four planes of 1 bit. Scan lines must hold the row.
  bool layoutOk = (planes == 1 && (bits == 1 || bits == 8)) || (planes == 3 && (bits == 1 || bits == 8)) ||
                  (planes == 4 && bits == 1);
  if (!layoutOk || width <= 0 || height <= 0 || lineBytes < (width * bits + 7) / 8)
    return Failed(kStrUnknownFormat);
  if (width > 32736 || height > 32767) return Failed(kStrInsufficientMemory);
  int pixelBits = bits;
  gImage->bitsPerSample = static_cast<int16_t>(planes > 1 ? 8 : bits);
  gImage->width = static_cast<int16_t>(width);
  gImage->height = static_cast<int16_t>(height);
  gImage->sourceRowBytes = static_cast<int16_t>(lineBytes);
  SetRowGeometry();
  int32_t side = gImage->rowBits > gImage->height ? gImage->rowBits : gImage->height;
  if (side < 11 * kScreenPixelsPerInch) side = 11 * kScreenPixelsPerInch;
  gImage->resolutionX = gImage->resolutionY = side / 11.0;
  if (Status s = AllocImageBits(); !s.ok()) return s;
  gImage->samplesPerPixel = 1;

  bool gray = gImage->bitsPerSample > 1;
  uint8_t palette[768] = {};
  if (gray) {
    memcpy(palette, h + 16, 48);
    minSample = 0;
    maxSample = 255;
    if (version == 5) {
      int32_t length = FileLength(gImage->fileHandle);
      uint8_t mark = 0;
      if (length >= 128 + 769 && FileSeek(gImage->fileHandle, length - 769, kSeekSet) == length - 769 &&
          ReadExact(&mark, 1) && mark == 12 && ReadExact(palette, 768))
        gImage->samplesPerPixel = 3;
    }
    if (FileSeek(gImage->fileHandle, 128, kSeekSet) != 128) return Failed(kStrUnknownFormat);
    if (planes > 1) gImage->samplesPerPixel = 3;
    if (Status s = MakeSampleStoreInMemory(); !s.ok()) return s;
  }
  Buffer line;
  if (!line.Alloc(static_cast<size_t>(lineBytes) * planes)) return Failed(kStrInsufficientMemory);
  ByteReaderStart();
  PcxRuns runs;
  bool down = gDocument->Test(Flag::downsample2to1);
  int step = gray && down ? 2 : 1;
  int spp = gImage->samplesPerPixel;
  for (int32_t y = 0; y < height; ++y) {
    if (!runs.Fill(line.p, lineBytes * planes)) return Failed(kStrUnknownFormat);
    if (!gray) {
      // PCX 1 is white: invert, and leave the rest of the row white.
      uint8_t* row = gWorkBits + static_cast<size_t>(y) * gImage->rowBytes;
      int32_t n = lineBytes < gImage->rowBytes ? lineBytes : gImage->rowBytes;
      for (int32_t i = 0; i < n; ++i) row[i] = static_cast<uint8_t>(~line.p[i]);
    } else if (!down || (y & 1)) {
      uint8_t* row = SampleRow(down ? y >> 1 : y);
      int32_t x = 0;
      for (int32_t col = step - 1; row && col < width && x < storePixels; col += step, ++x) {
        uint8_t* px = row + static_cast<size_t>(x) * spp;
        if (planes == 1 && spp == 1) {
          px[0] = static_cast<uint8_t>(255 - line.p[col]);
        } else if (planes == 1) {
          uint8_t i = line.p[col];
          px[0] = palette[3 * i];
          px[1] = palette[3 * i + 1];
          px[2] = palette[3 * i + 2];
        } else if (pixelBits == 8) {
          for (int k = 0; k < 3; ++k) px[k] = line.p[k * lineBytes + col];
        } else {
          bool set[4];
          for (int k = 0; k < planes; ++k) set[k] = (line.p[k * lineBytes + (col >> 3)] >> (7 - (col & 7))) & 1;
          if (planes == 3) {
            for (int k = 0; k < 3; ++k) px[k] = set[k] ? 128 : 0;
            if (set[0] && set[1] && set[2]) px[0] = px[1] = px[2] = 192;
          } else {
            px[2] = set[0] ? 255 : 0;  // planes 0, 1, 2: blue, green, red
            px[1] = set[1] ? 255 : 0;
            px[0] = set[2] ? 255 : 0;
          }
        }
      }
    }
    ShowReadProgress(y + 1, height);
    if (PollUserAbort()) return StopStatus();
  }
  return Done();
}

Status ReadRanvelle() {
  uint8_t h[30];
  if (FileSeek(gImage->fileHandle, 0, kSeekSet) != 0 || !ReadExact(h, 30) || memcmp(h, "Q7PS", 4) != 0 ||
      Big16(h + 4) != 1)
    return Failed(kStrInvalidRanvelle);
  int32_t channels = static_cast<int32_t>(Big16(h + 12));
  uint32_t height = Big32(h + 14), width = Big32(h + 18);
  int32_t depth = static_cast<int32_t>(Big16(h + 22));
  int32_t mode = static_cast<int32_t>(Big16(h + 24));
  uint32_t colorLength = Big32(h + 26);
  if (colorLength != 0 && mode != 2) return Failed(kStrInvalidRanvelle);
  uint8_t colorTable[768];
  int spp;
  switch (mode) {
    case 0: spp = 1; break;
    case 1: spp = 1; gImage->photometric = 1; break;
    case 2:
      spp = 3;
      if (colorLength != 768 || !ReadExact(colorTable, 768)) return Failed(kStrInvalidRanvelle);
      break;
    case 3: spp = 3; break;
    case 4: spp = 4; break;
    default: return Failed(kStrUnsupportedMode);
  }
  // The channels the mode needs must be there, at a depth it can have.
  int32_t needed = mode == 2 ? 1 : spp;
  bool depthOk = mode == 0 ? depth == 1 : (depth == 8 || depth == 16);
  if (channels < needed || channels > 56 || !depthOk || width == 0 || height == 0)
    return Failed(kStrInvalidRanvelle);
  if (width > 32736 || height > 32767) return Failed(kStrInsufficientMemory);
  gImage->samplesPerPixel = static_cast<int16_t>(spp);
  gImage->bitsPerSample = static_cast<int16_t>(depth);
  gImage->width = static_cast<int16_t>(width);
  gImage->height = static_cast<int16_t>(height);
  SetRowGeometry();
  gImage->resolutionX = gImage->resolutionY = 72.0;

  // Image resources: only the resolution block is used.
  uint8_t lengthBytes[4];
  if (!ReadExact(lengthBytes, 4)) return Failed(kStrInvalidRanvelle);
  uint32_t sectionLength = Big32(lengthBytes);
  int32_t sectionStart = FileTell(gImage->fileHandle);
  uint32_t used = 0;
  while (used < sectionLength) {
    uint8_t b[7];
    if (!ReadExact(b, 7)) return Failed(kStrInvalidRanvelle);
    uint32_t nameBytes = b[6] | 1u;  // length byte and name together are even
    if (!Skip(nameBytes) || !ReadExact(lengthBytes, 4)) return Failed(kStrInvalidRanvelle);
    uint32_t size = Big32(lengthBytes);
    if (size > 0x7FFFFFF0u) return Failed(kStrInvalidRanvelle);
    size = (size + 1) & ~1u;
    if (memcmp(b, "Q7IM", 4) == 0 && Big16(b + 4) == 1005 && size == 16) {
      uint8_t r[16];
      if (!ReadExact(r, 16)) return Failed(kStrInvalidRanvelle);
      double x = Big32(r) / 65536.0, y = Big32(r + 8) / 65536.0;
      if (x > 0 && y > 0) {
        gImage->resolutionX = x;
        gImage->resolutionY = y;
      }
    } else if (!Skip(size)) {
      return Failed(kStrInvalidRanvelle);
    }
    used += 11 + nameBytes + size;
  }
  // The section's length is what counts, whatever the blocks said.
  if (FileSeek(gImage->fileHandle, sectionStart, kSeekSet) != sectionStart || !Skip(sectionLength))
    return Failed(kStrInvalidRanvelle);
  if (!ReadExact(lengthBytes, 4) || !Skip(Big32(lengthBytes))) return Failed(kStrInvalidRanvelle);

  uint8_t compressionBytes[2];
  if (!ReadExact(compressionBytes, 2)) return Failed(kStrInvalidRanvelle);
  uint32_t compression = Big16(compressionBytes);
  if (compression > 1) return Failed(kStrInvalidRanvelle);
  bool gray = depth > 1;
  bool sixteen = depth == 16;
  int32_t rowLength = gray ? static_cast<int32_t>(width) * (sixteen ? 2 : 1) : (static_cast<int32_t>(width) + 7) / 8;
  Buffer counts, packed, rowBuf;
  int32_t rows = static_cast<int32_t>(height);
  int32_t channelsRead = mode == 2 ? 1 : spp;
  if (compression == 1) {
    size_t n = static_cast<size_t>(rows) * channels;
    if (!counts.Alloc(2 * n)) return Failed(kStrInsufficientMemory);
    if (!ReadExact(counts.p, static_cast<int32_t>(2 * n))) return Failed(kStrInvalidRanvelle);
    uint32_t largest = 0;
    for (size_t i = 0; i < n; ++i) largest = Big16(counts.p + 2 * i) > largest ? Big16(counts.p + 2 * i) : largest;
    if (!packed.Alloc(largest)) return Failed(kStrInsufficientMemory);
  }
  if (!rowBuf.Alloc(static_cast<size_t>(rowLength))) return Failed(kStrInsufficientMemory);
  if (Status s = AllocImageBits(); !s.ok()) return s;
  if (gray) {
    if (Status s = MakeSampleStoreInMemory(); !s.ok()) return s;
  }
  // 16-bit layers are read as 8: the image comes with a notice saying so.
  if (sixteen) gImage->bitsPerSample = 8;
  bool down = gDocument->Test(Flag::downsample2to1);
  int step = gray && down ? 2 : 1;
  int32_t start = step - 1;
  if (sixteen) {
    step *= 2;
    start *= 2;
  }
  int32_t total = rows * channelsRead;
  for (int32_t c = 0; c < channelsRead; ++c) {
    for (int32_t y = 0; y < rows; ++y) {
      uint8_t* dst = gray ? rowBuf.p : gWorkBits + static_cast<size_t>(y) * gImage->rowBytes;
      if (compression == 1) {
        int32_t n = static_cast<int32_t>(Big16(counts.p + 2 * (static_cast<size_t>(c) * rows + y)));
        if (!ReadExact(packed.p, n) || UnpackBits(packed.p, n, dst, rowLength) < 0)
          return Failed(kStrInvalidRanvelle);
      } else if (!ReadExact(dst, rowLength)) {
        return Failed(kStrInvalidRanvelle);
      }
      if (gray && (!down || (y & 1))) {
        uint8_t* row = SampleRow(down ? y >> 1 : y);
        int32_t x = 0;
        for (int32_t i = start; row && i < rowLength && x < storePixels; i += step, ++x) {
          uint8_t* px = row + static_cast<size_t>(x) * spp;
          if (mode == 2) {
            uint8_t v = rowBuf.p[i];
            px[0] = colorTable[v];
            px[1] = colorTable[256 + v];
            px[2] = colorTable[512 + v];
          } else {
            px[c] = rowBuf.p[i];
          }
        }
        // The document stores ink amounts inverted.
        if (mode == 4 && c == 3 && row)
          for (int32_t i = 0; i < storeRowLength; ++i) row[i] = static_cast<uint8_t>(~row[i]);
      }
      ShowReadProgress(c * rows + y + 1, total);
      if (PollUserAbort()) return StopStatus();
    }
  }
  return Done(sixteen ? kStrSixteenBits : 0);
}

// ---------------------------------------------------------------------------
// Netpbm images: P1 to P6, plain (text) and raw.

namespace {

// The header reader: numbers separated by white space and comments.
struct PnmHeader {
  int32_t consumed = 0;  // bytes taken from the file so far
  int Next() {
    int b = ByteReaderNext();
    if (b >= 0) ++consumed;
    return b;
  }
  static bool Space(int b) { return b == ' ' || b == '\t' || b == '\n' || b == '\r' || b == '\v' || b == '\f'; }
  // The next byte that is neither white space nor in a comment, or -1.
  int NextToken() {
    int b = Next();
    while (b >= 0 && (Space(b) || b == '#')) {
      if (b == '#')
        while (b >= 0 && b != '\n' && b != '\r') b = Next();
      b = Next();
    }
    return b;
  }
  // The next number, or -1; its terminating byte is taken too and kept in
  // `after`.
  int32_t Number(int* after) {
    int b = NextToken();
    if (b < '0' || b > '9') return -1;
    int32_t v = 0;
    while (b >= '0' && b <= '9') {
      if (v > 10000000) return -1;
      v = v * 10 + (b - '0');
      b = Next();
    }
    *after = b;
    return v;
  }
};

// Sample v of 0..maxval as 0..255, rounded; values above maxval count as maxval.
uint8_t ScaleSample(int32_t v, int32_t maxval) {
  if (v > maxval) v = maxval;
  return static_cast<uint8_t>((v * 255 + maxval / 2) / maxval);
}

}  // namespace

Status ReadNetpbm() {
  if (FileSeek(gImage->fileHandle, 0, kSeekSet) != 0) return Failed(kStrPnmDamaged);
  ByteReaderStart();
  PnmHeader h;
  int kind = h.Next() == 'P' ? h.Next() - '0' : 0;
  if (kind < 1 || kind > 6) return Failed(kStrPnmDamaged);
  bool bits = kind == 1 || kind == 4, plain = kind <= 3;
  int after = 0;
  int32_t width = h.Number(&after);
  int32_t height = width > 0 ? h.Number(&after) : -1;
  int32_t maxval = bits ? 1 : height > 0 ? h.Number(&after) : -1;
  // The raster of a raw image starts after the single white-space byte that
  // ends the header.
  if (width <= 0 || height <= 0 || maxval <= 0 || maxval > 65535 || !PnmHeader::Space(after))
    return Failed(kStrPnmDamaged);

  RowLanding landing{};
  landing.width = width;
  landing.height = height;
  landing.samples = bits ? 0 : kind == 3 || kind == 6 ? 3 : 1;
  Status status = LandingBegin(&landing);
  int spp = landing.samples ? landing.samples : 1;
  int bytesPerSample = maxval > 255 ? 2 : 1;
  int32_t fileRowBytes = bits ? (width + 7) / 8 : width * spp * bytesPerSample;
  Buffer raw;
  if (status.ok() && !plain) {
    if (!raw.Alloc(static_cast<size_t>(fileRowBytes))) status = Failed(kStrInsufficientMemory);
    else if (FileSeek(gImage->fileHandle, h.consumed, kSeekSet) != h.consumed) status = Failed(kStrPnmDamaged);
  }
  uint8_t* out = landing.row;
  for (int32_t y = 0; status.ok() && y < height; ++y) {
    bool complete = true;
    const uint8_t* row = out;
    if (plain && bits) {
      memset(out, 0, static_cast<size_t>(fileRowBytes));
      for (int32_t x = 0; complete && x < width; ++x) {
        int b = h.NextToken();  // the digits of a plain bitmap need no separator
        complete = b == '0' || b == '1';
        if (b == '1') out[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
      }
    } else if (plain) {
      for (int32_t i = 0; complete && i < width * spp; ++i) {
        int32_t v = h.Number(&after);
        complete = v >= 0;
        out[i] = ScaleSample(v, maxval);
      }
    } else {
      complete = ReadExact(raw.p, fileRowBytes);
      if (bits) {
        row = raw.p;
      } else {
        for (int32_t i = 0; i < width * spp; ++i)
          out[i] = ScaleSample(bytesPerSample == 2 ? static_cast<int32_t>(Big16(raw.p + 2 * i)) : raw.p[i], maxval);
      }
    }
    if (!complete) status = Failed(kStrPnmDamaged);
    else status = bits ? LandBitsRow(&landing, y, row) : LandSampleRow(&landing, y, row);
  }
  LandingEnd(&landing);
  return status;
}

// ---------------------------------------------------------------------------
// BMP: 1, 4, 8, 16, 24 and 32 bits, uncompressed, RLE8, RLE4 and bit
// fields, bottom-up or top-down.

namespace {

uint32_t Little32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// One color component of a bit-field pixel, scaled from its own range to
// 0..255 with the fraction dropped (as netpbm's bmptopnm does: a 5-bit 3 is
// 24).
struct BmpField {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;  // the largest value the field holds
  void Set(uint32_t m) {
    mask = m;
    shift = 0;
    while (m && !(m & 1)) {
      m >>= 1;
      ++shift;
    }
    max = m;
  }
  // The field's value of `pixel` as 0..255 (0 for an empty field).
  uint8_t Of(uint32_t pixel) const {
    if (!max) return 0;
    uint32_t v = (pixel & mask) >> shift;
    return static_cast<uint8_t>(static_cast<uint64_t>(v) * 255 / max);
  }
};

constexpr uint32_t kBmpRgb = 0, kBmpRle8 = 1, kBmpRle4 = 2, kBmpBitFields = 3, kBmpAlphaBitFields = 6;

// Run-length rows: each decoded row lands when the data leaves it (end of
// line, a delta downwards, end of bitmap); pixels the data skips keep color
// index 0.
Status ReadBmpRle(RowLanding* landing, bool four, bool topDown) {
  int32_t width = landing->width, height = landing->height;
  uint8_t* idx = landing->row;
  int32_t r = 0, x = 0;
  memset(idx, 0, static_cast<size_t>(width));
  auto land = [&]() {
    Status status = LandIndexedRow(landing, topDown ? r : height - 1 - r, idx);
    memset(idx, 0, static_cast<size_t>(width));
    x = 0;
    ++r;
    return status;
  };
  auto put = [&](uint8_t v) {
    if (x < width) idx[x] = v;
    ++x;
  };
  while (r < height) {
    int count = ByteReaderNext(), value = ByteReaderNext();
    if (count < 0 || value < 0) return Failed(kStrBmpDamaged);
    if (count > 0) {  // a run: one index, or two alternating ones
      for (int i = 0; i < count; ++i) put(static_cast<uint8_t>(four ? (i & 1 ? value & 15 : value >> 4) : value));
    } else if (value == 0) {  // end of line
      if (Status s = land(); !s.ok()) return s;
    } else if (value == 1) {  // end of bitmap: the rows left stay index 0
      while (r < height)
        if (Status s = land(); !s.ok()) return s;
    } else if (value == 2) {  // delta: right and down
      int dx = ByteReaderNext(), dy = ByteReaderNext();
      if (dx < 0 || dy < 0) return Failed(kStrBmpDamaged);
      int32_t keepX = x + dx;
      for (int i = 0; i < dy && r < height; ++i)
        if (Status s = land(); !s.ok()) return s;
      x = keepX;
    } else {  // literal indexes, padded to a 16-bit boundary
      int bytes = four ? (value + 1) / 2 : value;
      for (int i = 0; i < bytes; ++i) {
        int b = ByteReaderNext();
        if (b < 0) return Failed(kStrBmpDamaged);
        if (four) {
          put(static_cast<uint8_t>(b >> 4));
          if (2 * i + 1 < value) put(static_cast<uint8_t>(b & 15));
        } else {
          put(static_cast<uint8_t>(b));
        }
      }
      if ((bytes & 1) && ByteReaderNext() < 0) return Failed(kStrBmpDamaged);
    }
  }
  return Done();
}

Status ReadBmpRows(RowLanding* landing, int bitCount, bool topDown, const BmpField* fields, bool alpha) {
  int32_t width = landing->width, height = landing->height;
  int32_t stride = static_cast<int32_t>((static_cast<int64_t>(width) * bitCount + 31) / 32 * 4);
  Buffer raw;
  if (!raw.Alloc(static_cast<size_t>(stride))) return Failed(kStrInsufficientMemory);
  uint8_t* out = landing->row;
  for (int32_t r = 0; r < height; ++r) {
    if (!ReadExact(raw.p, stride)) return Failed(kStrBmpDamaged);
    int32_t y = topDown ? r : height - 1 - r;
    Status status;
    if (bitCount <= 8) {
      for (int32_t x = 0; x < width; ++x) {
        int32_t bit = x * bitCount;
        out[x] = static_cast<uint8_t>((raw.p[bit >> 3] >> (8 - bitCount - (bit & 7))) & ((1 << bitCount) - 1));
      }
      status = LandIndexedRow(landing, y, out);
    } else {
      int bytes = bitCount / 8;
      for (int32_t x = 0; x < width; ++x) {
        const uint8_t* p = raw.p + static_cast<size_t>(x) * bytes;
        uint8_t* o = out + 3 * x;
        if (bitCount == 24) {
          o[0] = p[2];
          o[1] = p[1];
          o[2] = p[0];
          continue;
        }
        uint32_t pixel = bytes == 2 ? Little16(p) : Little32(p);
        uint8_t a = alpha ? fields[3].Of(pixel) : 255;
        for (int c = 0; c < 3; ++c) o[c] = static_cast<uint8_t>(OverWhite(fields[c].Of(pixel), a, 255));
      }
      status = LandSampleRow(landing, y, out);
    }
    if (!status.ok()) return status;
  }
  return Done();
}

}  // namespace

Status ReadBmp() {
  uint8_t h[14 + 124 + 16] = {};
  if (FileSeek(gImage->fileHandle, 0, kSeekSet) != 0 || !ReadExact(h, 18) || h[0] != 'B' || h[1] != 'M')
    return Failed(kStrBmpDamaged);
  uint32_t dataAt = Little32(h + 10), headerSize = Little32(h + 14);
  bool core = headerSize == 12;
  if (!core && headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 64 && headerSize != 108 &&
      headerSize != 124)
    return Failed(kStrBmpUnsupported);
  if (!ReadExact(h + 18, static_cast<int32_t>(headerSize) - 4)) return Failed(kStrBmpDamaged);
  const uint8_t* d = h + 14;
  int64_t width, height;
  uint32_t bitCount, compression = kBmpRgb, colorsUsed = 0, xPpm = 0, yPpm = 0;
  if (core) {
    width = Little16(d + 4);
    height = Little16(d + 6);
    bitCount = Little16(d + 10);
  } else {
    width = static_cast<int32_t>(Little32(d + 4));
    height = static_cast<int32_t>(Little32(d + 8));
    bitCount = Little16(d + 14);
    compression = Little32(d + 16);
    xPpm = Little32(d + 24);
    yPpm = Little32(d + 28);
    colorsUsed = Little32(d + 32);
  }
  // Bit-field masks: in the header from its third version on, else after a
  // 40-byte header when the compression says so. In the 64-byte header of
  // the other lineage, compressions 3 and 4 mean other codings.
  uint32_t masks[4] = {0, 0, 0, 0};
  int32_t maskBytes = 0;
  bool fieldsCoded = compression == kBmpBitFields || compression == kBmpAlphaBitFields;
  if (headerSize == 64 && compression > kBmpRle4) return Failed(kStrBmpUnsupported);
  if (headerSize >= 52 && headerSize != 64) {
    for (int i = 0; i < (headerSize >= 56 ? 4 : 3); ++i) masks[i] = Little32(d + 40 + 4 * i);
  } else if (headerSize == 40 && fieldsCoded) {
    maskBytes = compression == kBmpAlphaBitFields ? 16 : 12;
    if (!ReadExact(h + 14 + 40, maskBytes)) return Failed(kStrBmpDamaged);
    for (int i = 0; i < maskBytes / 4; ++i) masks[i] = Little32(d + 40 + 4 * i);
  }
  bool topDown = height < 0;
  if (topDown) height = -height;
  if (width <= 0 || height <= 0) return Failed(kStrBmpDamaged);
  bool depthOk = bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32;
  bool codingOk = compression == kBmpRgb || (compression == kBmpRle8 && bitCount == 8) ||
                  (compression == kBmpRle4 && bitCount == 4) || (fieldsCoded && (bitCount == 16 || bitCount == 32));
  if (!depthOk || !codingOk) return Failed(kStrBmpUnsupported);

  RowLanding landing{};
  landing.width = static_cast<int32_t>(width > 0x7FFFFFFF ? 0x7FFFFFFF : width);
  landing.height = static_cast<int32_t>(height > 0x7FFFFFFF ? 0x7FFFFFFF : height);
  landing.samples = 3;
  if (bitCount <= 8) {
    // The color table follows the headers; indexes past its end are black.
    uint32_t count = colorsUsed ? colorsUsed : 1u << bitCount;
    if (count > 256) return Failed(kStrBmpDamaged);
    int entry = core ? 3 : 4;
    uint8_t table[256 * 4];
    if (!ReadExact(table, static_cast<int32_t>(count) * entry)) return Failed(kStrBmpDamaged);
    for (uint32_t i = 0; i < count; ++i) {
      landing.colors[i][0] = table[entry * i + 2];
      landing.colors[i][1] = table[entry * i + 1];
      landing.colors[i][2] = table[entry * i];
    }
    landing.colorCount = static_cast<int>(count);
  }
  BmpField fields[4];
  bool alpha = false;
  if (fieldsCoded) {
    for (int c = 0; c < 4; ++c) fields[c].Set(masks[c]);
    if (!masks[0] && !masks[1] && !masks[2]) return Failed(kStrBmpDamaged);
    alpha = masks[3] != 0;
  } else if (bitCount == 16) {
    fields[0].Set(0x7C00);
    fields[1].Set(0x03E0);
    fields[2].Set(0x001F);
  } else if (bitCount == 32) {  // the fourth byte is not used
    fields[0].Set(0xFF0000);
    fields[1].Set(0xFF00);
    fields[2].Set(0xFF);
  }
  landing.dpiX = DpiFromPixelsPerMetre(xPpm);
  landing.dpiY = DpiFromPixelsPerMetre(yPpm);
  Status status = LandingBegin(&landing);
  if (status.ok() && (dataAt > 0x7FFFFFFFu || FileSeek(gImage->fileHandle, static_cast<int32_t>(dataAt), kSeekSet) !=
                                               static_cast<int32_t>(dataAt)))
    status = Failed(kStrBmpDamaged);
  if (status.ok() && (compression == kBmpRle8 || compression == kBmpRle4)) {
    ByteReaderStart();
    status = ReadBmpRle(&landing, compression == kBmpRle4, topDown);
  } else if (status.ok()) {
    status = ReadBmpRows(&landing, static_cast<int>(bitCount), topDown, fields, alpha);
  }
  LandingEnd(&landing);
  return status;
}
