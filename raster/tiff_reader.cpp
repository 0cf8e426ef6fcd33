// The TIFF reader: the first image of a TIFF file, or of the TIFF preview of
// an EPS file, into the working bitmap (bilevel) or the sample store (gray,
// palette, RGB, CMYK). Strips and tiles; compressions none, 32771, PackBits,
// CCITT modified Huffman, Group 3 (one- and two-dimensional) and Group 4,
// LZW and Deflate (both with horizontal differencing).
#include <zlib.h>

#include <cstring>

#include "core/records.h"
#include "core/services.h"
#include "platform/platform.h"
#include "platform/string_ids.h"
#include "raster/open_image.h"
#include "raster/readers.h"
#include "raster/sample_store.h"

namespace {

constexpr int kTypeByte = 1, kTypeShort = 3, kTypeLong = 4, kTypeRational = 5;

// The reader's state for one image; reset at the start of each read.
struct TiffState {
  uint32_t baseOffset;
  int32_t compression;
  int32_t predictor;
  int32_t planarConfig;
  int32_t rowsPerStrip;
  int32_t imageRows;
  int32_t width;  // the source width (the store may halve the record's)
  int32_t stripOffsetsType;
  uint32_t stripOffsetsCount, stripOffsetsPos;
  int32_t stripCountsType;
  uint32_t stripCountsCount, stripCountsPos;
  int32_t tileWidth, tileLength;
  int32_t colorMapCount;
  uint32_t colorMapPos;
  int32_t extraSamples, extraSampleType;
  int32_t t4Options;  // tag 292: bit 0 two-dimensional rows
  bool reversedBits;  // tag 266 FillOrder 2: bits least significant first
  int32_t allSamples;  // samples per pixel as stored, extra samples included
  int32_t samples;     // samples per pixel kept (extra samples dropped, before palette expansion)
  int32_t bits;
  int32_t sourceRowBytes;  // bytes of one decoded row (a tile row when tiled)
  int32_t rowPixels;       // pixels of one decoded row
  bool palette;
  uint8_t table[768];
  // The first complaint about a tag of the wrong type, which the read
  // survives: the message comes with the image.
  int16_t notice;
};

TiffState T;

void Notice(int16_t message) {
  if (!T.notice) T.notice = message;
}

// Buffers of one read, all freed on every exit.
uint8_t* gRowBuf = nullptr;     // one decoded row
uint8_t* gSamples = nullptr;    // unpacked samples of one row
uint8_t* gStripBuf = nullptr;   // a whole LZW strip
int32_t* gChanges = nullptr;    // changing elements of two CCITT rows
int32_t gStripBufSize = 0;

bool Swap() { return gImage->swapBytes != 0; }

uint32_t Get16(const uint8_t* p) {
  return Swap() ? static_cast<uint32_t>(p[0] << 8 | p[1]) : static_cast<uint32_t>(p[0] | p[1] << 8);
}
uint32_t Get32(const uint8_t* p) {
  return Swap() ? (static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
                   static_cast<uint32_t>(p[2]) << 8 | p[3])
                : (static_cast<uint32_t>(p[3]) << 24 | static_cast<uint32_t>(p[2]) << 16 |
                   static_cast<uint32_t>(p[1]) << 8 | p[0]);
}

int TypeSize(int type) {
  switch (type) {
    case kTypeByte: return 1;
    case kTypeShort: return 2;
    case kTypeLong: return 4;
    case kTypeRational: return 8;
    default: return 0;
  }
}

bool SeekTo(uint32_t pos) {
  if (pos > 0x7FFFFFFFu) return false;
  return FileSeek(gImage->fileHandle, static_cast<int32_t>(pos), kSeekSet) == static_cast<int32_t>(pos);
}

bool ReadAt(uint32_t pos, uint8_t* dst, int32_t n) {
  return SeekTo(pos) && FileRead(gImage->fileHandle, dst, n) == n;
}

// Where the values of an entry live: in its own value field when they fit
// in four bytes, else at the offset it holds.
uint32_t ValuePos(const uint8_t* entry, uint32_t entryPos) {
  int type = static_cast<int>(Get16(entry + 2));
  uint32_t count = Get32(entry + 4);
  uint64_t bytes = static_cast<uint64_t>(TypeSize(type)) * count;
  if (bytes <= 4) return entryPos + 8;
  return T.baseOffset + Get32(entry + 8);
}

// A scalar tag value taken by field type.
uint32_t ScalarValue(const uint8_t* entry) {
  switch (Get16(entry + 2)) {
    case kTypeByte: return entry[8];
    case kTypeShort: return Get16(entry + 8);
    case kTypeLong: return Get32(entry + 8);
    default:
      Notice(kStrTiffLong);
      return 0;
  }
}

// Value `index` of an array of BYTE, SHORT or LONG at pos; 0 when unreadable.
uint32_t ArrayValue(int type, uint32_t pos, uint32_t index) {
  uint8_t v[4] = {0, 0, 0, 0};
  int size = TypeSize(type);
  if (size == 0 || size > 4) return 0;
  if (!ReadAt(pos + index * static_cast<uint32_t>(size), v, size)) return 0;
  if (size == 1) return v[0];
  return size == 2 ? Get16(v) : Get32(v);
}

// The first value of a SHORT/LONG array entry (inline or at its offset).
uint32_t FirstValue(const uint8_t* entry, uint32_t entryPos) {
  if (Get32(entry + 4) <= 1) return ScalarValue(entry);
  int type = static_cast<int>(Get16(entry + 2));
  if (type != kTypeByte && type != kTypeShort && type != kTypeLong) return ScalarValue(entry);
  int32_t back = FileTell(gImage->fileHandle);
  uint32_t v = ArrayValue(type, ValuePos(entry, entryPos), 0);
  FileSeek(gImage->fileHandle, back, kSeekSet);
  return v;
}

double RationalValue(const uint8_t* entry) {
  if (Get16(entry + 2) != kTypeRational) Notice(kStrTiffRational);
  int32_t back = FileTell(gImage->fileHandle);
  uint8_t v[8];
  double result = 0;
  if (ReadAt(T.baseOffset + Get32(entry + 8), v, 8)) {
    uint32_t num = Get32(v), den = Get32(v + 4);
    if (den != 0) result = static_cast<double>(num) / den;
  }
  FileSeek(gImage->fileHandle, back, kSeekSet);
  return result;
}

// ---------------------------------------------------------------------------
// Strip input: the bytes of one strip, read in blocks. With FillOrder 2 the
// bits of every byte come least significant first; they are turned around
// as the blocks come in, so that every decoder reads them in the usual order.
uint8_t ReversedBits(uint8_t b) {
  b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

struct StripInput {
  uint8_t buf[4096];
  int32_t pos = 0, len = 0;
  uint32_t remaining = 0;
  bool truncated = false;  // the file ended before the strip's byte count
  bool reversed = false;   // FillOrder 2

  void Start(uint32_t byteCount) {
    pos = len = 0;
    remaining = byteCount;
    truncated = false;
  }
  bool Refill() {
    if (remaining == 0) return false;
    int32_t want = remaining < sizeof buf ? static_cast<int32_t>(remaining) : static_cast<int32_t>(sizeof buf);
    int32_t n = FileRead(gImage->fileHandle, buf, want);
    if (n < want) {
      truncated = true;
      remaining = 0;
    } else {
      remaining -= static_cast<uint32_t>(n);
    }
    if (n <= 0) return false;
    if (reversed)
      for (int32_t i = 0; i < n; ++i) buf[i] = ReversedBits(buf[i]);
    pos = 0;
    len = n;
    return true;
  }
  int Next() {
    if (pos >= len && !Refill()) return -1;
    return buf[pos++];
  }
  // The bytes left in the block (refilled when empty); 0 at the end.
  int32_t Available(const uint8_t** bytes) {
    if (pos >= len && !Refill()) return 0;
    *bytes = buf + pos;
    return len - pos;
  }
  void Consume(int32_t n) { pos += n; }
};

StripInput gIn;

// PackBits from the strip into one row. False when the data ends first.
bool UnpackBitsRow(uint8_t* dst, int32_t count) {
  int32_t done = 0;
  while (done < count) {
    int n = gIn.Next();
    if (n < 0) return false;
    int8_t c = static_cast<int8_t>(n);
    if (c >= 0) {
      for (int i = 0; i <= c; ++i) {
        int b = gIn.Next();
        if (b < 0) return false;
        if (done < count) dst[done++] = static_cast<uint8_t>(b);
      }
    } else if (c != -128) {
      int b = gIn.Next();
      if (b < 0) return false;
      for (int i = 0; i < 1 - c && done < count; ++i) dst[done++] = static_cast<uint8_t>(b);
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// CCITT modified Huffman (T.4 one-dimensional), rows byte-aligned.
struct Code {
  const char* bits;
  int16_t run;
};

const Code kWhiteCodes[] = {
    {"00110101", 0},   {"000111", 1},     {"0111", 2},       {"1000", 3},       {"1011", 4},
    {"1100", 5},       {"1110", 6},       {"1111", 7},       {"10011", 8},      {"10100", 9},
    {"00111", 10},     {"01000", 11},     {"001000", 12},    {"000011", 13},    {"110100", 14},
    {"110101", 15},    {"101010", 16},    {"101011", 17},    {"0100111", 18},   {"0001100", 19},
    {"0001000", 20},   {"0010111", 21},   {"0000011", 22},   {"0000100", 23},   {"0101000", 24},
    {"0101011", 25},   {"0010011", 26},   {"0100100", 27},   {"0011000", 28},   {"00000010", 29},
    {"00000011", 30},  {"00011010", 31},  {"00011011", 32},  {"00010010", 33},  {"00010011", 34},
    {"00010100", 35},  {"00010101", 36},  {"00010110", 37},  {"00010111", 38},  {"00101000", 39},
    {"00101001", 40},  {"00101010", 41},  {"00101011", 42},  {"00101100", 43},  {"00101101", 44},
    {"00000100", 45},  {"00000101", 46},  {"00001010", 47},  {"00001011", 48},  {"01010010", 49},
    {"01010011", 50},  {"01010100", 51},  {"01010101", 52},  {"00100100", 53},  {"00100101", 54},
    {"01011000", 55},  {"01011001", 56},  {"01011010", 57},  {"01011011", 58},  {"01001010", 59},
    {"01001011", 60},  {"00110010", 61},  {"00110011", 62},  {"00110100", 63},  {"11011", 64},
    {"10010", 128},    {"010111", 192},   {"0110111", 256},  {"00110110", 320}, {"00110111", 384},
    {"01100100", 448}, {"01100101", 512}, {"01101000", 576}, {"01100111", 640}, {"011001100", 704},
    {"011001101", 768},  {"011010010", 832},  {"011010011", 896},  {"011010100", 960},
    {"011010101", 1024}, {"011010110", 1088}, {"011010111", 1152}, {"011011000", 1216},
    {"011011001", 1280}, {"011011010", 1344}, {"011011011", 1408}, {"010011000", 1472},
    {"010011001", 1536}, {"010011010", 1600}, {"011000", 1664},    {"010011011", 1728},
};

const Code kBlackCodes[] = {
    {"0000110111", 0},    {"010", 1},           {"11", 2},            {"10", 3},
    {"011", 4},           {"0011", 5},          {"0010", 6},          {"00011", 7},
    {"000101", 8},        {"000100", 9},        {"0000100", 10},      {"0000101", 11},
    {"0000111", 12},      {"00000100", 13},     {"00000111", 14},     {"000011000", 15},
    {"0000010111", 16},   {"0000011000", 17},   {"0000001000", 18},   {"00001100111", 19},
    {"00001101000", 20},  {"00001101100", 21},  {"00000110111", 22},  {"00000101000", 23},
    {"00000010111", 24},  {"00000011000", 25},  {"000011001010", 26}, {"000011001011", 27},
    {"000011001100", 28}, {"000011001101", 29}, {"000001101000", 30}, {"000001101001", 31},
    {"000001101010", 32}, {"000001101011", 33}, {"000011010010", 34}, {"000011010011", 35},
    {"000011010100", 36}, {"000011010101", 37}, {"000011010110", 38}, {"000011010111", 39},
    {"000001101100", 40}, {"000001101101", 41}, {"000011011010", 42}, {"000011011011", 43},
    {"000001010100", 44}, {"000001010101", 45}, {"000001010110", 46}, {"000001010111", 47},
    {"000001100100", 48}, {"000001100101", 49}, {"000001010010", 50}, {"000001010011", 51},
    {"000000100100", 52}, {"000000110111", 53}, {"000000111000", 54}, {"000000100111", 55},
    {"000000101000", 56}, {"000001011000", 57}, {"000001011001", 58}, {"000000101011", 59},
    {"000000101100", 60}, {"000001011010", 61}, {"000001100110", 62}, {"000001100111", 63},
    {"0000001111", 64},     {"000011001000", 128},  {"000011001001", 192},  {"000001011011", 256},
    {"000000110011", 320},  {"000000110100", 384},  {"000000110101", 448},  {"0000001101100", 512},
    {"0000001101101", 576}, {"0000001001010", 640}, {"0000001001011", 704}, {"0000001001100", 768},
    {"0000001001101", 832}, {"0000001110010", 896}, {"0000001110011", 960}, {"0000001110100", 1024},
    {"0000001110101", 1088}, {"0000001110110", 1152}, {"0000001110111", 1216},
    {"0000001010010", 1280}, {"0000001010011", 1344}, {"0000001010100", 1408},
    {"0000001010101", 1472}, {"0000001011010", 1536}, {"0000001011011", 1600},
    {"0000001100100", 1664}, {"0000001100101", 1728},
};

// Make-up codes for long runs, the same for both colours.
const Code kExtendedCodes[] = {
    {"00000001000", 1792},  {"00000001100", 1856},  {"00000001101", 1920},  {"000000010010", 1984},
    {"000000010011", 2048}, {"000000010100", 2112}, {"000000010101", 2176}, {"000000010110", 2240},
    {"000000010111", 2304}, {"000000011100", 2368}, {"000000011101", 2432}, {"000000011110", 2496},
    {"000000011111", 2560},
};

constexpr int kMaxCodeBits = 13;
// Per colour: run of the code with `len` bits and value v at [(1 << len) + v],
// -1 when no such code.
int16_t gCodeTable[2][1 << (kMaxCodeBits + 1)];
bool gCodeTableBuilt = false;

void AddCodes(int color, const Code* codes, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    int len = static_cast<int>(strlen(codes[i].bits));
    int v = 0;
    for (int k = 0; k < len; ++k) v = v * 2 + (codes[i].bits[k] - '0');
    gCodeTable[color][(1 << len) + v] = codes[i].run;
  }
}

void BuildCodeTables() {
  if (gCodeTableBuilt) return;
  for (auto& t : gCodeTable)
    for (auto& e : t) e = -1;
  for (int c = 0; c < 2; ++c) AddCodes(c, kExtendedCodes, sizeof kExtendedCodes / sizeof kExtendedCodes[0]);
  AddCodes(0, kWhiteCodes, sizeof kWhiteCodes / sizeof kWhiteCodes[0]);
  AddCodes(1, kBlackCodes, sizeof kBlackCodes / sizeof kBlackCodes[0]);
  gCodeTableBuilt = true;
}

void SetBits(uint8_t* row, int32_t from, int32_t to) {
  for (int32_t x = from; x < to; ++x) row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
}

// The bits of a strip, most significant first.
struct BitInput {
  uint64_t bits = 0;
  int count = 0;
  void Start() { bits = count = 0; }
  // Makes `n` (at most 32) bits available; false when the strip ends first.
  bool Fill(int n) {
    while (count < n) {
      int b = gIn.Next();
      if (b < 0) return false;
      bits = bits << 8 | static_cast<uint64_t>(b);
      count += 8;
    }
    return true;
  }
  // The next bit, or -1 at the end of the strip.
  int Bit() {
    if (!Fill(1)) return -1;
    return static_cast<int>((bits >> --count) & 1);
  }
  // The next n bits without taking them (n <= 32, Fill(n) succeeded).
  uint32_t Peek(int n) const { return static_cast<uint32_t>((bits >> (count - n)) & ((1ull << n) - 1)); }
  void Skip(int n) { count -= n; }
  // Drops what is left of the current byte.
  void Align() { count -= count % 8; }
};

BitInput gBits;

// A run of `color` (0 white, 1 black): make-up codes and the terminating
// code. Returns the length, or minus a message number.
int32_t ReadRun(int color) {
  int32_t total = 0;
  for (;;) {
    int code = 0, len = 0, run = -1;
    while (len < kMaxCodeBits) {
      int bit = gBits.Bit();
      if (bit < 0) return -kStrTiffIncomplete;
      code = code * 2 + bit;
      ++len;
      run = gCodeTable[color][(1 << len) + code];
      if (run >= 0) break;
    }
    if (run < 0) return -kStrTiffBadCode;
    total += run;
    if (total > 0x10000) return -kStrTiffBadStroke;
    if (run < 64) return total;
  }
}

// Changing elements of a row: the positions where the color changes, the
// first one to black, alternating; four copies of the width follow the
// last so that a search never runs off the end.
struct Changes {
  int32_t* at = nullptr;
  int32_t count = 0;
  int32_t width = 0;
  void Clear() { count = 0; }
  // A change at the same place as the last one undoes it (a run of zero).
  void Add(int32_t x) {
    if (x >= width) return;
    if (count > 0 && at[count - 1] == x) --count;
    else at[count++] = x;
  }
  void Close() {
    for (int i = 0; i < 4; ++i) at[count + i] = width;
  }
};

// The coding of a CCITT strip: 2 modified Huffman (rows byte-aligned);
// 3 T.4, each row after an end-of-line code, two-dimensional rows (tagged by
// one bit after the code) when T4Options says so; 4 T.6, every row
// two-dimensional.
struct CcittCoding {
  int compression;
  bool twoD;  // compression 3 with T4Options bit 0
  Changes ref, cur;
};
CcittCoding gFax;

// One-dimensional row: alternating white and black runs.
Status DecodeRow1D(uint8_t* row, int32_t width, Changes* cur) {
  int32_t pos = 0;
  int color = 0;
  for (;;) {
    int32_t run = ReadRun(color);
    if (run < 0) return Failed(static_cast<int16_t>(-run));
    if (pos + run > width) return Failed(kStrTiffBadStroke);
    if (color) SetBits(row, pos, pos + run);
    pos += run;
    if (pos >= width) return Done();
    color ^= 1;
    cur->Add(pos);
  }
}

// Two-dimensional row, coded against the reference row's changes: pass,
// horizontal and vertical modes.
Status DecodeRow2D(uint8_t* row, int32_t width, const Changes& ref, Changes* cur) {
  int32_t a0 = -1;  // before the first pixel
  int color = 0;
  int32_t ri = 0;  // the first reference change right of a0
  while (a0 < width) {
    while (ref.at[ri] <= a0 && ri < ref.count) ++ri;
    int32_t b1i = (ri & 1) == color ? ri : ri + 1;
    int32_t b1 = ref.at[b1i], b2 = ref.at[b1i + 1];
    int32_t start = a0 < 0 ? 0 : a0;
    int zeros = 0, bit;
    while ((bit = gBits.Bit()) == 0 && zeros < 6) ++zeros;
    if (bit < 0) return Failed(kStrTiffIncomplete);
    if (zeros == 3) {  // pass: the color goes on below b2
      if (color) SetBits(row, start, b2);
      a0 = b2;
      continue;
    }
    if (zeros == 2) {  // horizontal: two runs, the first of the current color
      int32_t r1 = ReadRun(color);
      if (r1 < 0) return Failed(static_cast<int16_t>(-r1));
      int32_t r2 = ReadRun(color ^ 1);
      if (r2 < 0) return Failed(static_cast<int16_t>(-r2));
      int32_t a1 = start + r1, a2 = a1 + r2;
      if (a2 > width) return Failed(kStrTiffBadStroke);
      SetBits(row, color ? start : a1, color ? a1 : a2);
      cur->Add(a1);
      cur->Add(a2);
      a0 = a2;
      continue;
    }
    // Vertical: a1 is b1 moved by -3 to 3.
    int32_t delta;
    if (zeros == 0) {
      delta = 0;
    } else if (zeros == 1 || zeros == 4 || zeros == 5) {
      int side = gBits.Bit();
      if (side < 0) return Failed(kStrTiffIncomplete);
      int32_t size = zeros == 1 ? 1 : zeros - 2;
      delta = side ? size : -size;
    } else {
      return Failed(kStrTiffBadCode);  // extensions (uncompressed mode) and stray end-of-line codes
    }
    int32_t a1 = b1 + delta;
    if (a1 < start || a1 > width) return Failed(kStrTiffBadStroke);
    if (color) SetBits(row, start, a1);
    cur->Add(a1);
    a0 = a1;
    color ^= 1;
  }
  return Done();
}

// Before a T.4 row: fill bits and the end-of-line code (eleven zeros and a
// one), when they are there.
void SkipEndOfLine() {
  if (!gBits.Fill(12)) return;
  uint32_t head = gBits.Peek(12);
  if (head == 1) {
    gBits.Skip(12);
  } else if (head == 0) {
    int bit;
    while ((bit = gBits.Bit()) == 0) {
    }
  }
}

void StartCcittStrip() {
  gBits.Start();
  gFax.ref.Clear();
  gFax.ref.Close();
}

// Decodes the next row of the strip into `row` (cleared first; 1 = black).
// 0 on success, else the message number.
Status DecodeCcittRow(uint8_t* row, int32_t width, int32_t rowBytes) {
  memset(row, 0, rowBytes);
  bool twoD = gFax.compression == 4;
  if (gFax.compression == 2) gBits.Align();
  if (gFax.compression == 3) {
    SkipEndOfLine();
    if (gFax.twoD) {
      int tag = gBits.Bit();  // 1: one-dimensional row
      if (tag < 0) return Failed(kStrTiffIncomplete);
      twoD = tag == 0;
    }
  }
  gFax.cur.Clear();
  Status decoded = twoD ? DecodeRow2D(row, width, gFax.ref, &gFax.cur) : DecodeRow1D(row, width, &gFax.cur);
  if (!decoded.ok()) return decoded;
  gFax.cur.Close();
  Changes t = gFax.ref;
  gFax.ref = gFax.cur;
  gFax.cur = t;
  return Done();
}

// ---------------------------------------------------------------------------
// LZW (codes most significant bit first, early width change).
struct LzwEntry {
  int16_t prefix;
  uint8_t suffix;
  uint8_t first;
  int32_t length;
};
LzwEntry* gLzw = nullptr;

// Decodes the strip into gStripBuf; returns the bytes produced, or -1 for a
// corrupt code stream.
int32_t DecodeLzwStrip() {
  int32_t out = 0;
  int32_t nextCode = 258, width = 9;
  int32_t prev = -1;
  uint32_t bitBuf = 0;
  int bitCount = 0;
  for (int i = 0; i < 256; ++i) gLzw[i] = {-1, static_cast<uint8_t>(i), static_cast<uint8_t>(i), 1};
  while (out < gStripBufSize) {
    while (bitCount < width) {
      int b = gIn.Next();
      if (b < 0) return out;  // the data ended without an end code
      bitBuf = (bitBuf << 8) | static_cast<uint32_t>(b);
      bitCount += 8;
    }
    int32_t code = static_cast<int32_t>((bitBuf >> (bitCount - width)) & ((1u << width) - 1));
    bitCount -= width;
    if (code == 257) break;
    if (code == 256) {
      nextCode = 258;
      width = 9;
      prev = -1;
      continue;
    }
    if (code > nextCode || (prev < 0 && code >= 256) || (code >= 258 && code == nextCode && prev < 0)) return -1;
    int32_t entry = code;
    uint8_t firstByte;
    int32_t length;
    if (code < nextCode) {
      firstByte = gLzw[code].first;
      length = gLzw[code].length;
    } else {  // the code being defined: previous string plus its own first byte
      firstByte = gLzw[prev].first;
      length = gLzw[prev].length + 1;
    }
    // Write the string backwards from its end, cut at the buffer's end.
    int32_t end = out + length;
    int32_t k = end - 1;
    if (code == nextCode) {
      if (k < gStripBufSize) gStripBuf[k] = firstByte;
      --k;
      entry = prev;
    }
    for (; entry >= 0 && k >= out; --k) {
      if (k < gStripBufSize) gStripBuf[k] = gLzw[entry].suffix;
      entry = gLzw[entry].prefix;
    }
    if (prev >= 0 && nextCode < 4096) {
      gLzw[nextCode] = {static_cast<int16_t>(prev), firstByte, gLzw[prev].first, gLzw[prev].length + 1};
      ++nextCode;
      if (nextCode == 511) width = 10;
      else if (nextCode == 1023) width = 11;
      else if (nextCode == 2047) width = 12;
    }
    prev = code;
    out = end < gStripBufSize ? end : gStripBufSize;
  }
  return out;
}

// ---------------------------------------------------------------------------
// Deflate (zlib), a strip at a time, inflated row by row.
z_stream gZip;
bool gInflating = false;

void EndInflate() {
  if (gInflating) inflateEnd(&gZip);
  gInflating = false;
}

Status StartInflate() {
  EndInflate();
  memset(&gZip, 0, sizeof gZip);
  gZip.zalloc = ZlibAlloc;
  gZip.zfree = ZlibFree;
  int ret = inflateInit(&gZip);
  if (ret != Z_OK) return Failed(ret == Z_MEM_ERROR ? kStrInsufficientMemory : kStrTiffBadCode);
  gInflating = true;
  return Done();
}

// The next `count` bytes of the strip; rows past the end of the stream
// stay zero. 0 on success, else the message number.
Status InflateRow(uint8_t* dst, int32_t count) {
  memset(dst, 0, static_cast<size_t>(count));
  gZip.next_out = dst;
  gZip.avail_out = static_cast<uInt>(count);
  while (gZip.avail_out > 0) {
    const uint8_t* in = nullptr;
    int32_t n = gIn.Available(&in);
    gZip.next_in = const_cast<Bytef*>(in);
    gZip.avail_in = static_cast<uInt>(n);
    int ret = inflate(&gZip, Z_NO_FLUSH);
    gIn.Consume(n - static_cast<int32_t>(gZip.avail_in));
    if (ret == Z_STREAM_END) break;
    if (ret == Z_MEM_ERROR) return Failed(kStrInsufficientMemory);
    if (ret == Z_BUF_ERROR && n == 0) break;  // the strip's data ends here
    if (ret != Z_OK) return Failed(kStrTiffBadCode);
  }
  return gIn.truncated ? Failed(kStrTiffIncomplete) : Done();
}

// ---------------------------------------------------------------------------
// Sample intake.

// The 8-bit value of sample `index` of a decoded row. Depths below 8 are
// left-aligned (a one-bit sample, which only color images of one bit per
// sample unpack, is 0 or 255); deeper samples keep their most significant
// byte: for whole bytes (16, 24, 32 bits) that byte in the file's byte
// order, otherwise the first 8 bits, as such samples are packed most
// significant bit first.
uint8_t SampleByte(const uint8_t* src, int32_t index) {
  int b = T.bits;
  if (b == 8) return src[index];
  if (b > 8 && (b & 7) == 0) {
    int bytes = b / 8;
    return src[index * bytes + (Swap() ? 0 : bytes - 1)];
  }
  int64_t bit = static_cast<int64_t>(index) * b;
  int take = b < 8 ? b : 8;
  uint32_t v = 0;
  for (int k = 0; k < take; ++k, ++bit) v = v * 2 + ((src[bit >> 3] >> (7 - (bit & 7))) & 1);
  if (b == 1) return v ? 255 : 0;
  return static_cast<uint8_t>(v << (8 - take));
}

// Turns one decoded row of `pixels` pixels into store bytes in `dst`:
// unpacked, extra samples dropped, palette indexes expanded. `dst` holds
// pixels x the result's samples per pixel, which is returned.
int SamplesOfRow(const uint8_t* raw, int32_t pixels, bool planar, uint8_t* dst) {
  int in = planar ? 1 : T.allSamples;
  int keep = planar ? 1 : T.samples;
  if (keep == in && T.bits == 8) {
    memcpy(dst, raw, static_cast<size_t>(pixels) * in);
  } else {
    for (int32_t x = 0; x < pixels; ++x)
      for (int s = 0; s < keep; ++s) dst[x * keep + s] = SampleByte(raw, x * in + s);
  }
  if (!T.palette) return keep;
  for (int32_t x = pixels - 1; x >= 0; --x) {  // backwards, in place
    uint8_t i = dst[x];
    dst[3 * x] = T.table[i];
    dst[3 * x + 1] = T.table[256 + i];
    dst[3 * x + 2] = T.table[512 + i];
  }
  return 3;
}

void UndoPredictor(uint8_t* row, int32_t pixels, int channels) {
  if (T.bits == 8) {
    for (int32_t i = channels; i < pixels * channels; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - channels]);
  } else if (T.bits == 16) {
    for (int32_t i = channels; i < pixels * channels; ++i) {
      uint8_t* p = row + 2 * i;
      uint8_t* q = row + 2 * (i - channels);
      uint32_t v = (Get16(p) + Get16(q)) & 0xFFFF;
      if (Swap()) {
        p[0] = static_cast<uint8_t>(v >> 8);
        p[1] = static_cast<uint8_t>(v);
      } else {
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
      }
    }
  }
}

// Rows of an uncompressed gray or color image left in its file: strip table
// lookup, then the same unpacking as the strips.
bool FileRowReader(int16_t y, uint8_t* row) {
  if (y < 0 || y >= T.imageRows) return false;
  uint32_t strip = static_cast<uint32_t>(y / T.rowsPerStrip);
  if (strip >= T.stripOffsetsCount) return false;
  uint32_t offset = ArrayValue(T.stripOffsetsType, T.stripOffsetsPos, strip);
  uint32_t pos = T.baseOffset + offset + static_cast<uint32_t>(y % T.rowsPerStrip) * T.sourceRowBytes;
  if (!ReadAt(pos, storeSourceRow, T.sourceRowBytes)) return false;
  SamplesOfRow(storeSourceRow, T.width, false, row);
  return true;
}

void FreeBuffers() {
  EndInflate();
  MemFreePtr(gChanges);
  gChanges = nullptr;
  MemFreePtr(gRowBuf);
  gRowBuf = nullptr;
  MemFreePtr(gStripBuf);
  gStripBuf = nullptr;
  MemFreePtr(gLzw);
  gLzw = nullptr;
  MemFreePtr(gSamples);
  gSamples = nullptr;
}

bool ReadHeader() {
  uint8_t h[8];
  memcpy(h, headerBuffer, 8);
  T.baseOffset = 0;
  if (h[0] == 0xC5 && h[1] == 0xD0 && h[2] == 0xD3 && h[3] == 0xC6) {
    const uint8_t* p = headerBuffer + 20;
    T.baseOffset = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                   static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    if (!ReadAt(T.baseOffset, h, 8)) h[0] = 0;
  }
  if (h[0] == 'I' && h[1] == 'I') {
    gImage->swapBytes = 0;
  } else if (h[0] == 'M' && h[1] == 'M') {
    gImage->swapBytes = 1;
  } else {
    return false;
  }
  memcpy(headerBuffer, h, 8);
  return true;
}

// Reads the first directory into T and the image record.
Status ReadDirectory() {
  uint32_t dirPos = T.baseOffset + Get32(headerBuffer + 4);
  uint8_t countBytes[2];
  if (!ReadAt(dirPos, countBytes, 2)) return Failed(kStrTiffIncomplete);
  uint32_t entries = Get16(countBytes);
  int32_t rawMin = 0, rawMax = 255;
  bool maxStated = false;
  for (uint32_t i = 0; i < entries; ++i) {
    uint32_t entryPos = dirPos + 2 + 12 * i;
    uint8_t e[12];
    if (!ReadAt(entryPos, e, 12)) return Failed(kStrTiffIncomplete);
    uint32_t tag = Get16(e);
    int32_t type = static_cast<int32_t>(Get16(e + 2));
    uint32_t count = Get32(e + 4);
    switch (tag) {
      case 256: T.width = static_cast<int32_t>(ScalarValue(e) & 0x7FFFFFFF); break;
      case 257: T.imageRows = static_cast<int32_t>(ScalarValue(e) & 0x7FFFFFFF); break;
      case 258: T.bits = static_cast<int32_t>(FirstValue(e, entryPos)); if (T.bits == 0) T.bits = 8; break;
      case 259: T.compression = static_cast<int32_t>(ScalarValue(e)); break;
      case 262: gImage->photometric = static_cast<int16_t>(ScalarValue(e)); break;
      case 273:
      case 324:
        T.stripOffsetsType = type;
        T.stripOffsetsCount = count;
        T.stripOffsetsPos = ValuePos(e, entryPos);
        break;
      case 277: gImage->samplesPerPixel = static_cast<int16_t>(ScalarValue(e)); break;
      case 278: {
        uint32_t v = ScalarValue(e);
        // 0 is not a valid strip height; it means no limit like the default.
        T.rowsPerStrip = v == 0 || v > 30000 ? 30000 : static_cast<int32_t>(v);
        break;
      }
      case 279:
      case 325:
        T.stripCountsType = type;
        T.stripCountsCount = count;
        T.stripCountsPos = ValuePos(e, entryPos);
        break;
      case 280: rawMin = static_cast<int32_t>(ScalarValue(e)); break;
      case 281:
        rawMax = static_cast<int32_t>(ScalarValue(e));
        maxStated = true;
        break;
      case 282: {
        double v = RationalValue(e);
        if (v >= kMinFileDpi && v <= kMaxFileDpi) gImage->resolutionX = v;
        break;
      }
      case 283: {
        double v = RationalValue(e);
        if (v >= kMinFileDpi && v <= kMaxFileDpi) gImage->resolutionY = v;
        break;
      }
      case 266: T.reversedBits = ScalarValue(e) == 2; break;
      case 284: T.planarConfig = static_cast<int32_t>(ScalarValue(e)); break;
      case 292: T.t4Options = static_cast<int32_t>(ScalarValue(e)); break;
      case 317: T.predictor = static_cast<int32_t>(ScalarValue(e)); break;
      case 320:
        T.colorMapCount = static_cast<int32_t>(count > 100000 ? 100000 : count);
        T.colorMapPos = ValuePos(e, entryPos);
        break;
      case 322: T.tileWidth = static_cast<int32_t>(ScalarValue(e) & 0xFFFF); break;
      case 323: T.tileLength = static_cast<int32_t>(ScalarValue(e) & 0xFFFF); break;
      case 338:
        T.extraSamples = static_cast<int32_t>(count > 16 ? 16 : count);
        T.extraSampleType = static_cast<int32_t>(FirstValue(e, entryPos));
        break;
      default: break;
    }
  }
  // The range is compared as the file states it (16-bit values included);
  // a reversed range swaps polarity. Without a stated maximum a 16-bit file
  // spans its whole range, not the 8-bit one.
  if (!maxStated && T.bits > 8) rawMax = (1 << (T.bits > 16 ? 16 : T.bits)) - 1;
  if (rawMax < rawMin) {
    int32_t t = rawMin;
    rawMin = rawMax;
    rawMax = t;
    if (gImage->photometric == 0 || gImage->photometric == 1) gImage->photometric ^= 1;
  }
  minSample = static_cast<int16_t>(rawMin);
  maxSample = static_cast<int16_t>(rawMax);
  return Done();
}

Status BuildPalette() {
  // A one-bit image has a map of two colours; others at least four.
  int least = T.bits == 1 ? 6 : 12;
  if (!T.colorMapPos || T.colorMapCount < least || T.colorMapCount > 768) return Failed(kStrTiffIncomplete);
  int32_t perColor = T.colorMapCount / 3;
  uint8_t map[768 * 2];
  if (!ReadAt(T.colorMapPos, map, T.colorMapCount * 2)) return Failed(kStrTiffIncomplete);
  // Each index is left-aligned to 8 bits, so table entry i holds map entry
  // i x perColor / 256 (16 x s for a 4-bit index s).
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 256; ++i) {
      const uint8_t* v = map + 2 * (c * perColor + i * perColor / 256);
      T.table[c * 256 + i] = static_cast<uint8_t>(Get16(v) >> 8);
    }
  return Done();
}

// The strip or tile byte count k, or `fallback` without byte counts.
uint32_t StripByteCount(uint32_t k, uint32_t fallback) {
  if (!T.stripCountsPos || k >= T.stripCountsCount) return fallback;
  return ArrayValue(T.stripCountsType, T.stripCountsPos, k);
}

// The color samples of a pixel: those the photometric interpretation names
// (gray and palette 1, RGB 3, separated 4), never more than the samples not
// declared extra; any further sample is extra whether the directory
// declares it or not. An unknown interpretation takes 1, 3 or 4 by count.
int ColorSamples(int notExtra, int photometric) {
  int named;
  switch (photometric) {
    case 0:
    case 1:
    case 3: named = 1; break;
    case 2: named = 3; break;
    case 5: named = 4; break;
    default: named = notExtra >= 4 ? 4 : notExtra >= 3 ? 3 : 1; break;
  }
  int samples = notExtra < named ? notExtra : named;
  if (samples == 2) samples = 1;  // two of three or four: too few for color, read as gray
  return samples < 1 ? 1 : samples;
}

Status ReadImage() {
  if (Status s = ReadDirectory(); !s.ok()) return s;
  if (T.width <= 0 || T.imageRows <= 0 || !T.stripOffsetsPos || !T.stripOffsetsType) return Failed(kStrTiffIncomplete);
  if (TypeSize(T.stripOffsetsType) == 0 || TypeSize(T.stripOffsetsType) > 4) return Failed(kStrTiffIncomplete);
  if (T.width > 32736 || T.imageRows > 32767) return Failed(kStrInsufficientMemory);
  gImage->width = static_cast<int16_t>(T.width);
  gImage->height = static_cast<int16_t>(T.imageRows);
  T.bits = T.bits ? T.bits : 1;
  gImage->bitsPerSample = static_cast<int16_t>(T.bits);

  T.allSamples = gImage->samplesPerPixel > 0 ? gImage->samplesPerPixel : 1;
  T.samples = ColorSamples(T.allSamples - T.extraSamples, gImage->photometric);
  bool tiled = T.tileWidth != 0;
  bool planar = T.planarConfig == 2 && T.allSamples > 1;
  // A one-bit image of one color sample (with extra samples, chunky or in
  // planes) is bilevel: the first sample of each pixel, or the first plane.
  bool bilevel = T.bits == 1 && T.samples == 1;
  // One-bit color planes are merged into the store's pixels.
  bool planeMerge = planar && !bilevel && T.bits == 1;
  if (tiled && (T.tileLength <= 0 || T.tileWidth <= 0)) return Failed(kStrTiffIncomplete);
  gImage->samplesPerPixel = static_cast<int16_t>(T.samples);
  if (!SetRowGeometry()) return Failed(kStrInsufficientMemory);

  // Geometry of one decoded row: a whole tile row when tiled.
  T.rowPixels = tiled ? T.tileWidth : T.width;
  int32_t samplesPerRow = planar ? T.rowPixels : T.rowPixels * T.allSamples;
  int64_t rowBits64 = static_cast<int64_t>(T.bits) * samplesPerRow;
  if (rowBits64 > 8 * 32767) return Failed(kStrInsufficientMemory);  // the record holds a 16-bit row length
  T.sourceRowBytes = static_cast<int32_t>((rowBits64 + 7) / 8);
  bool gray = !bilevel;
  // Compression 32771: uncompressed rows padded to the bitmap's row length
  // (to an even length for gray and color rows).
  if (T.compression == 32771 && !tiled)
    T.sourceRowBytes = gray || T.allSamples > 1 ? (T.sourceRowBytes + 1) & ~1 : gImage->rowBytes;
  if (T.sourceRowBytes > 32767) return Failed(kStrInsufficientMemory);  // the record holds a 16-bit row length
  gImage->sourceRowBytes = static_cast<int16_t>(T.sourceRowBytes);
  T.rowsPerStrip = tiled ? T.tileLength : (T.rowsPerStrip < T.imageRows ? T.rowsPerStrip : T.imageRows);

  bool ccitt = T.compression == 2 || T.compression == 3 || T.compression == 4;
  bool deflate = T.compression == 8 || T.compression == 32946;
  if (T.compression != 1 && !ccitt && T.compression != 5 && !deflate && T.compression != 32771 &&
      T.compression != 32773)
    return Failed(kStrTiffUnimplemented);

  // A one-bit palette image is bilevel: its polarity comes from the palette.
  T.palette = false;
  if (gImage->photometric == 3) {
    if (Status s = BuildPalette(); !s.ok()) return s;
    if (T.bits == 1) {
      int dark0 = T.table[0] + T.table[256] + T.table[512];
      int dark1 = T.table[255] + T.table[511] + T.table[767];
      gImage->photometric = dark0 < dark1 ? 1 : 0;
    } else {
      T.palette = true;
      gImage->samplesPerPixel = 3;
    }
  }

  // Strips (or tiles) per plane, and planes.
  int32_t tilesAcross = tiled ? (T.width + T.tileWidth - 1) / T.tileWidth : 1;
  int32_t perPlane = tiled ? tilesAcross * ((T.imageRows + T.tileLength - 1) / T.tileLength)
                           : (T.imageRows + T.rowsPerStrip - 1) / T.rowsPerStrip;
  // Planes beyond the color samples (alpha, other extras) are not read; a
  // bilevel image reads its first plane only.
  int32_t planes = !planar || bilevel ? 1 : T.samples;
  if (static_cast<uint64_t>(perPlane) * planes > T.stripOffsetsCount) return Failed(kStrTiffIncomplete);
  // Fax coding codes rows of one-bit pixels of one sample.
  if (ccitt && (T.bits != 1 || planeMerge || (!planar && T.allSamples > 1))) return Failed(kStrTiffUnimplemented);

  // Buffers.
  int32_t rowBufBytes = T.sourceRowBytes + 8;
  int32_t sampleBytes = T.rowPixels * (T.allSamples > 3 ? T.allSamples : 3) + 8;
  gRowBuf = static_cast<uint8_t*>(MemAllocPtr(static_cast<size_t>(rowBufBytes)));
  if (!gRowBuf) return Failed(kStrInsufficientMemory);
  if (ccitt) {
    // Changing elements of two rows: at most one per pixel, and the ends.
    int32_t perRow = T.rowPixels + 8;
    gChanges = static_cast<int32_t*>(MemAllocPtr(2 * sizeof(int32_t) * static_cast<size_t>(perRow)));
    if (!gChanges) return Failed(kStrInsufficientMemory);
    gFax = {T.compression, (T.t4Options & 1) != 0, {gChanges, 0, T.rowPixels}, {gChanges + perRow, 0, T.rowPixels}};
  }
  if (T.compression == 5) {
    gStripBufSize = T.sourceRowBytes * T.rowsPerStrip;
    gStripBuf = static_cast<uint8_t*>(MemAllocPtr(static_cast<size_t>(gStripBufSize)));
    gLzw = static_cast<LzwEntry*>(MemAllocPtr(4096 * sizeof(LzwEntry)));
    if (!gStripBuf || !gLzw) return Failed(kStrInsufficientMemory);
  }
  gSamples = static_cast<uint8_t*>(MemAllocPtr(static_cast<size_t>(sampleBytes)));
  if (!gSamples) return Failed(kStrInsufficientMemory);
  if (Status s = AllocImageBits(); !s.ok()) return s;

  // Gray and color set-up. Planes and one-bit color samples are stored as
  // 8-bit samples, and the image says so; other images keep the file's
  // depth, which the range of their sample values is measured in.
  bool inFile = false;
  if (gray) {
    if (planar || T.bits == 1) gImage->bitsPerSample = 8;
    if (Status s = MakeSampleStore(); !s.ok()) return s;
    if (PollUserAbort()) return StopStatus();
    if (!SampleStoreInMemory()) {
      if ((T.compression != 1 && T.compression != 32771) || planar || tiled) return Failed(kStrInsufficientMemory);
      inFile = true;
    }
    gImage->zoomX = gImage->zoomY = 65536;
  }
  if (inFile) {
    gSampleFileRowReader = FileRowReader;
    return Done();
  }

  BuildCodeTables();
  gIn.reversed = T.reversedBits;
  int32_t done = 0, total = planes * perPlane * T.rowsPerStrip;
  uint32_t fileLength = static_cast<uint32_t>(FileLength(gImage->fileHandle));
  for (int32_t plane = 0; plane < planes; ++plane) {
    for (int32_t s = 0; s < perPlane; ++s) {
      uint32_t k = static_cast<uint32_t>(plane * perPlane + s);
      uint32_t offset = T.baseOffset + ArrayValue(T.stripOffsetsType, T.stripOffsetsPos, k);
      // Without byte counts an uncompressed strip holds its rows; a
      // compressed one is read up to the end of the file, as its coded size
      // may exceed the rows' size (PackBits of narrow rows, LZW of noise) and
      // cutting it there would lose rows of a readable file.
      uint32_t fallback = T.compression == 1 || T.compression == 32771
                              ? static_cast<uint32_t>(T.sourceRowBytes) * T.imageRows
                              : (fileLength > offset ? fileLength - offset : 0);
      uint32_t byteCount = StripByteCount(k, fallback);
      if (!SeekTo(offset)) return Failed(kStrTiffIncomplete);
      gIn.Start(byteCount);
      int32_t firstRow = tiled ? (s / tilesAcross) * T.tileLength : s * T.rowsPerStrip;
      int32_t firstCol = tiled ? (s % tilesAcross) * T.tileWidth : 0;
      int32_t visible = T.width - firstCol < T.rowPixels ? T.width - firstCol : T.rowPixels;
      int32_t rows = T.rowsPerStrip;
      if (firstRow + rows > T.imageRows) rows = T.imageRows - firstRow;
      int32_t lzwBytes = 0;
      if (T.compression == 5) {
        lzwBytes = DecodeLzwStrip();
        if (lzwBytes < 0) return Failed(kStrTiffBadCode);
        if (gIn.truncated) return Failed(kStrTiffIncomplete);
      }
      if (ccitt) StartCcittStrip();
      if (deflate) {
        if (Status st = StartInflate(); !st.ok()) return st;
      }
      for (int32_t r = 0; r < rows; ++r) {
        int32_t y = firstRow + r;
        uint8_t* raw = gRowBuf;
        switch (T.compression) {
          case 1:
          case 32771:
            memset(raw, 0, T.sourceRowBytes);
            for (int32_t i = 0; i < T.sourceRowBytes; ++i) {
              int b = gIn.Next();
              if (b < 0) break;
              raw[i] = static_cast<uint8_t>(b);
            }
            if (gIn.truncated) return Failed(kStrTiffIncomplete);
            break;
          case 32773:
            if (!UnpackBitsRow(raw, T.sourceRowBytes)) return Failed(kStrTiffIncomplete);
            break;
          case 2:
          case 3:
          case 4:
            if (Status st = DecodeCcittRow(raw, T.rowPixels, T.sourceRowBytes); !st.ok()) return st;
            break;
          case 5: {
            int32_t at = r * T.sourceRowBytes;
            memset(raw, 0, T.sourceRowBytes);
            if (at < lzwBytes) memcpy(raw, gStripBuf + at, lzwBytes - at < T.sourceRowBytes ? lzwBytes - at : T.sourceRowBytes);
            break;
          }
          case 8:
          case 32946:
            if (Status st = InflateRow(raw, T.sourceRowBytes); !st.ok()) return st;
            break;
        }
        if ((T.compression == 5 || deflate) && T.predictor == 2 && gray)
          UndoPredictor(raw, T.rowPixels, planar ? 1 : T.allSamples);
        if (planeMerge) {
          // Merge the plane: each set pixel turns its sample of this plane
          // full (255) in the store, which starts with every sample 0.
          bool down = gDocument->Test(Flag::downsample2to1);
          if (!down || (y & 1)) {
            uint8_t* row = SampleRow(down ? y >> 1 : y);
            for (int32_t i = 0; row && i < visible; ++i) {
              int32_t x = firstCol + i;
              if (!((raw[i >> 3] >> (7 - (i & 7))) & 1)) continue;
              if (down) {
                if (!(x & 1)) continue;
                x >>= 1;
              }
              if (x < storePixels) row[x * T.samples + plane] = 255;
            }
          }
        } else if (gray) {
          int spp = SamplesOfRow(raw, visible, planar, gSamples);
          PutSampleRow(y, gSamples, firstCol, visible, spp, planar ? plane : 0);
        } else {
          // Bilevel: place the row's visible bits at the tile's column; of
          // chunky pixels with extra samples only the first sample counts.
          if (!planar && T.allSamples > 1) {
            uint8_t* first = gSamples;
            memset(first, 0, static_cast<size_t>((visible + 7) / 8));
            for (int32_t i = 0; i < visible; ++i) {
              int64_t bit = static_cast<int64_t>(i) * T.allSamples;
              if ((raw[bit >> 3] >> (7 - (bit & 7))) & 1) first[i >> 3] |= static_cast<uint8_t>(0x80 >> (i & 7));
            }
            raw = first;
          }
          uint8_t* dst = gWorkBits + static_cast<size_t>(y) * gImage->rowBytes;
          if ((firstCol & 7) == 0) {
            memcpy(dst + firstCol / 8, raw, static_cast<size_t>((visible + 7) / 8));
          } else {
            for (int32_t i = 0; i < visible; ++i)
              if ((raw[i >> 3] >> (7 - (i & 7))) & 1) SetBits(dst, firstCol + i, firstCol + i + 1);
          }
        }
        ++done;
        ShowReadProgress(done, total);
        if (PollUserAbort()) return StopStatus();
      }
    }
  }
  EndInflate();

  return Done();
}

}  // namespace

Status ReadTiff() {
  memset(&T, 0, sizeof T);
  T.compression = 1;
  T.predictor = 1;
  T.planarConfig = 1;
  T.rowsPerStrip = 30000;
  gImage->bitsPerSample = gImage->samplesPerPixel = 1;
  gImage->width = gImage->height = 0;
  minSample = 0;
  maxSample = 255;
  FreeBuffers();
  if (!ReadHeader()) return Failed(kStrTiffNotMMII);
  Status status = ReadImage();
  FreeBuffers();
  return status.ok() ? Done(T.notice) : status;
}
