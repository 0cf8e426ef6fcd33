#include "engine/separation.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/conversion.h"
#include "raster/sample_store.h"
#include "platform/string_ids.h"
#include "raster/open_image.h"
#include "core/host.h"
#include "core/records.h"

namespace {

Separation gSeparation{};

// The image geometry put aside while the conversion runs on the map.
struct SavedGeometry {
  int16_t width, height, rowBits, rowBytes, rowWords, padBits;
  int32_t workBitsBytes;
  double artScale;
  int16_t artScaleShift;
};
SavedGeometry gSaved{};

// --- Rows of samples, filtered as they are read ------------------------------
//
// Rows are asked for in increasing order. Noise reduction: Medium makes each
// sample the mean of itself, its left neighbour and the same two in the row
// above; Maximum the mean of its eight neighbours. The first row stays as it
// is; pixels past the left and right edges, and rows past the last, repeat
// the edge.

struct SampleRows {
  int mode = 0;
  int spp = 1;
  int32_t length = 0;  // L
  int rows = 0;
  uint8_t* block = nullptr;
  uint8_t* raw[3] = {};
  int rawY[3] = {-1, -1, -1};
  uint8_t* out = nullptr;
};

bool OpenRows(SampleRows* r, int mode) {
  r->mode = mode < 0 || mode > 2 ? 0 : mode;
  r->spp = storeSamples;
  r->length = storeRowLength;
  r->rows = storeRows;
  r->block = static_cast<uint8_t*>(MemAllocPtr(static_cast<size_t>(r->length) * 4 + 16));
  if (!r->block) return false;
  for (int i = 0; i < 3; ++i) {
    r->raw[i] = r->block + static_cast<size_t>(r->length) * i;
    r->rawY[i] = -1;
  }
  r->out = r->block + static_cast<size_t>(r->length) * 3;
  return true;
}

void CloseRows(SampleRows* r) {
  MemFreePtr(r->block);
  r->block = nullptr;
}

// The unfiltered row y (clamped to the image).
const uint8_t* RawRow(SampleRows* r, int y) {
  if (y < 0) y = 0;
  if (y >= r->rows) y = r->rows - 1;
  int slot = y % 3;
  if (r->rawY[slot] != y) {
    uint8_t* row = FetchSampleRow(static_cast<int16_t>(y), 0, r->length);
    if (row) memcpy(r->raw[slot], row, static_cast<size_t>(r->length));
    else memset(r->raw[slot], 255, static_cast<size_t>(r->length));
    r->rawY[slot] = y;
  }
  return r->raw[slot];
}

const uint8_t* FilteredRow(SampleRows* r, int y) {
  if (r->mode == 0 || y <= 0) return RawRow(r, y);
  const int spp = r->spp;
  const int32_t n = r->length;
  if (r->mode == 1) {
    const uint8_t* up = RawRow(r, y - 1);
    const uint8_t* mid = RawRow(r, y);
    for (int32_t i = 0; i < n; ++i) {
      int32_t left = i >= spp ? i - spp : i;
      r->out[i] = static_cast<uint8_t>((mid[i] + mid[left] + up[i] + up[left]) / 4);
    }
    return r->out;
  }
  const uint8_t* up = RawRow(r, y - 1);
  const uint8_t* dn = RawRow(r, y + 1);
  const uint8_t* mid = RawRow(r, y);
  // RawRow may have reused a slot: read the three rows again in a safe order.
  up = r->raw[(y - 1) % 3];
  mid = r->raw[y % 3];
  dn = y + 1 < r->rows ? r->raw[(y + 1) % 3] : mid;
  for (int32_t i = 0; i < n; ++i) {
    int32_t left = i >= spp ? i - spp : i;
    int32_t right = i + spp < n ? i + spp : i;
    int sum = up[left] + up[i] + up[right] + mid[left] + mid[right] + dn[left] + dn[i] + dn[right];
    r->out[i] = static_cast<uint8_t>(sum / 8);
  }
  return r->out;
}

// --- The conversion area -------------------------------------------------------

bool AreaSelected() { return gDocument->Test(Flag::pixelSelection); }

// --- Black and white ---------------------------------------------------------------

struct BlackWhite {
  int lo, hi, span;
  bool invert;    // White Lines XOR Reverse Image
  bool whiteZero; // photometric 0
};

BlackWhite BlackWhiteRange(const ConversionSettings* s) {
  BlackWhite b{};
  // The stored range is 16-bit for 16-bit files: read it unsigned.
  int lo = static_cast<uint16_t>(minSample), hi = static_cast<uint16_t>(maxSample);
  int bits = gImage->bitsPerSample;
  if (bits < 8 && hi + 1 <= 128) {
    lo <<= 8 - bits;
    hi <<= 8 - bits;
  } else if (bits > 8 && hi > 255) {  // a range stated in the file's 16-bit values
    lo >>= bits - 8;
    hi >>= bits - 8;
  }
  if (hi < lo || hi > 255 || lo < 0) {
    lo = 0;
    hi = 255;
  }
  b.lo = lo;
  b.hi = hi;
  b.span = hi + 1 - lo;
  b.invert = ((s->optionFlags & Option::whiteLines) != 0) != ((s->methodFlags & Method::reverseImage) != 0);
  b.whiteZero = gImage->photometric == 0;
  return b;
}

inline void PutBit(uint8_t* row, int x, bool on) {
  if (on) row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
}

// Threshold mode: one row of samples into one bitmap row.
void ThresholdRow(const uint8_t* samples, uint8_t* bits, int width, int spp, int cut, const BlackWhite& b) {
  if (spp == 1) {
    bool above = (b.whiteZero ? 0 : 1) == (b.invert ? 1 : 0);
    for (int x = 0; x < width; ++x) PutBit(bits, x, above ? samples[x] > cut : samples[x] <= cut);
    return;
  }
  const int limit = 3 * cut;
  for (int x = 0; x < width; ++x) {
    const uint8_t* p = samples + static_cast<size_t>(x) * spp;
    int sum = spp == 4 ? (255 - p[3]) * (765 - (p[0] + p[1] + p[2])) / 256 : p[0] + p[1] + p[2];
    PutBit(bits, x, b.invert ? sum >= limit : sum < limit);
  }
}

// Contrast mode: the local test of one sample against its eight neighbours.
bool ContrastBlack(int v, const int n[8], int T) {
  int q = (T + 1) / 4;
  int up = 0, down = 0, nUp = 0, nDown = 0;
  for (int k = 0; k < 8; ++k) {
    int d = n[k] - v;
    if (d > 0) {
      if (d > up) up = d;
      if (d > q) ++nUp;
    } else if (d < 0) {
      if (-d > down) down = -d;
      if (-d < q) ++nDown;
    }
  }
  int sum = up + down;
  if (sum > T) return true;
  if (2 * sum >= T) {
    if (nDown == 3 || nDown == 4) return true;
    if (nDown < 3 && (nUp == 3 || nUp == 4)) return true;
  }
  return false;
}

uint8_t BoostSample(int v, int b) {
  if (v < b) return static_cast<uint8_t>(v / 2);
  if (v <= b + 127) {
    int r = v * 3 / 2 - b;
    return static_cast<uint8_t>(r < 0 ? 0 : r > 255 ? 255 : r);
  }
  int r = v / 2 + 128;
  return static_cast<uint8_t>(r > 255 ? 255 : r);
}

// --- The quantization palette ---------------------------------------------------

void CubeCoords(int code, int c[3]) {
  c[0] = code % 6;
  c[1] = (code / 6) % 6;
  c[2] = code / 36;
}

int CubeDistance(int a, int b) {
  int ca[3], cb[3];
  CubeCoords(a, ca);
  CubeCoords(b, cb);
  return abs(ca[0] - cb[0]) + abs(ca[1] - cb[1]) + abs(ca[2] - cb[2]);
}

// The cube code of one pixel of the store.
inline int PixelCubeCode(const uint8_t* p, int spp) {
  if (spp == 4) {
    uint8_t rgb[3];
    CmykToCubeRgb(p, rgb);
    return CubeCode(rgb[0], rgb[1], rgb[2]);
  }
  return CubeCode(p[0], p[1], p[2]);
}

void Merge(Separation* sep, int from, int into) {
  sep->counts[into] += sep->counts[from];
  for (int k = 0; k < 4; ++k) sep->sums[into][k] += sep->sums[from][k];
  sep->counts[from] = 0;
}

// Merges similar cells (same hue, lighter or darker) while more than K
// cells have at least T samples.
void MergeSimilarCells(Separation* sep, int K, int T) {
  int16_t target[216];
  int16_t distance[216];
  for (int i = 0; i < 216; ++i) {
    target[i] = -1;
    distance[i] = 255;
  }
  for (int i = 0; i < 216; ++i) {
    if (sep->counts[i] < T) continue;
    int ci[3];
    CubeCoords(i, ci);
    for (int j = i + 1; j < 216; ++j) {
      if (sep->counts[j] < T) continue;
      int cj[3];
      CubeCoords(j, cj);
      int d0 = cj[0] - ci[0], d1 = cj[1] - ci[1], d2 = cj[2] - ci[2];
      if (abs(d0) >= 3 || abs(d1) >= 3 || abs(d2) >= 3) continue;
      if (abs(d0 - d1) >= 2 || abs(d0 - d2) >= 2 || abs(d1 - d2) >= 2) continue;
      int d = abs(d0) + abs(d1) + abs(d2);
      if (sep->counts[j] >= sep->counts[i]) {
        if (d < distance[i]) {
          target[i] = static_cast<int16_t>(j);
          distance[i] = static_cast<int16_t>(d);
        }
      } else if (d < distance[j]) {
        target[j] = static_cast<int16_t>(i);
        distance[j] = static_cast<int16_t>(d);
      }
    }
  }
  int n = 0;
  for (int i = 0; i < 216; ++i) n += sep->counts[i] >= T;
  while (n > K) {
    int c = -1;
    for (int i = 0; i < 216; ++i)
      if (target[i] >= 0 && (c < 0 || sep->counts[i] < sep->counts[c])) c = i;
    if (c < 0) break;
    int t = target[c];
    bool below = false;
    int u = target[t];
    if (u >= 0 && target[u] < 0) {
      if (sep->counts[t] + sep->counts[c] >= sep->counts[u]) Merge(sep, u, t);
      else below = true;
    }
    if (!below) {
      Merge(sep, c, t);
      target[t] = -1;
    }
    target[c] = -1;
    --n;
  }
}

int CellsAtLeast(const Separation* sep, int T) {
  int n = 0;
  for (int i = 0; i < 216; ++i) n += sep->counts[i] >= T;
  return n;
}

bool BuildGrayPalette(Separation* sep) {
  int n = sep->subAreas < 64 ? sep->subAreas : 64;
  if (n < 2) n = 2;
  int step = 255 / (n - 1);
  int backgroundCode = (n / 2) * step;
  sep->background = static_cast<uint32_t>(255 - backgroundCode) << 24;
  for (int v = 0; v < 256; ++v) sep->palette[v] = static_cast<uint8_t>(v * n / 256 * 256 / n + (256 / n) / 2);
  return true;
}

bool BuildColorPalette(Separation* sep, const ConversionSettings* s) {
  SampleRows rows;
  if (!OpenRows(&rows, s->noiseReduction)) return false;
  const int spp = sep->samples;
  const int width = storePixels, height = storeRows;
  const int stepY = height / 256 + 1, stepX = width / 256 + 1;
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = FilteredRow(&rows, y);
    if (y % stepY) continue;
    for (int x = 0; x < width; x += stepX) {
      const uint8_t* p = row + static_cast<size_t>(x) * spp;
      int code = PixelCubeCode(p, spp);
      ++sep->counts[code];
      for (int k = 0; k < spp && k < 4; ++k) sep->sums[code][k] += p[k];
    }
  }
  CloseRows(&rows);

  const int K = sep->subAreas;
  int T = 20;
  if (K < 9 && CellsAtLeast(sep, T) > K) MergeSimilarCells(sep, K, T);
  while (CellsAtLeast(sep, T) > K) T += 20;
  while (T > 20 && CellsAtLeast(sep, T) < K) --T;
  while (T > 1 && CellsAtLeast(sep, T) == 0) --T;

  bool major[216];
  int background = -1;
  for (int i = 0; i < 216; ++i) {
    major[i] = sep->counts[i] >= T && sep->counts[i] > 0;
    if (major[i] && (background < 0 || sep->counts[i] >= sep->counts[background])) background = i;
  }
  if (background < 0) {
    // No samples at all (an empty image): every cell is its own.
    for (int i = 0; i < 216; ++i) major[i] = true;
    background = 215;
  }
  for (int i = 0; i < 216; ++i) {
    if (major[i]) {
      sep->palette[i] = static_cast<uint8_t>(i);
      continue;
    }
    int best = -1, bestDistance = 1 << 30;
    for (int j = 0; j < 216; ++j) {
      if (!major[j]) continue;
      int d = CubeDistance(i, j);
      if (d < bestDistance) {
        bestDistance = d;
        best = j;
      }
    }
    sep->palette[i] = static_cast<uint8_t>(best);
  }
  int32_t count = sep->counts[background];
  if (count > 0) {
    int m[4];
    for (int k = 0; k < 4; ++k) m[k] = static_cast<int>(sep->sums[background][k] / count);
    if (spp == 4) {
      sep->background = static_cast<uint32_t>(m[0]) | static_cast<uint32_t>(m[1]) << 8 |
                        static_cast<uint32_t>(m[2]) << 16 | static_cast<uint32_t>(m[3]) << 24;
    } else {
      sep->background = RgbToProcess(m[0], m[1], m[2]);
    }
  } else {
    sep->background = CodeColor(background, true);
  }
  return true;
}

// --- The code grid -------------------------------------------------------------------

// 2 x 2 reduction of the pixels a (lower left), b (lower right), c (upper
// left) and d (upper right) into `out`.
// `out` holds at most four samples: gray, RGB and CMYK have 1, 3 and 4. The
// clamp also tells the optimiser so, which otherwise warns of writes past it.
void ReducePixels(const uint8_t* a, const uint8_t* b, const uint8_t* c, const uint8_t* d, int spp, uint8_t* out) {
  spp = std::clamp(spp, 1, 4);
  auto same = [spp](const uint8_t* p, const uint8_t* q) { return memcmp(p, q, static_cast<size_t>(spp)) == 0; };
  const uint8_t* pick = nullptr;
  if (same(d, c) || same(d, b) || same(d, a)) pick = d;
  else if (same(b, a) || same(c, a)) pick = a;
  else if (same(b, c)) pick = c;
  if (pick) {
    memcpy(out, pick, static_cast<size_t>(spp));
    return;
  }
  for (int k = 0; k < spp; ++k) out[k] = static_cast<uint8_t>((a[k] + b[k] + c[k] + d[k] + 2) / 4);
}

inline uint8_t PixelCode(const Separation* sep, const uint8_t* p) {
  int raw = sep->color ? PixelCubeCode(p, sep->samples) : p[0];
  return sep->palette[raw];
}

// --- Selection -------------------------------------------------------------------------

void FreeCodes(Separation* sep) {
  if (sep->codesHandle != kNoMem) {
    MemUnlock(sep->codesHandle);
    MemFree(sep->codesHandle);
  }
  sep->codesHandle = kNoMem;
  sep->codes = nullptr;
}

void StartSeparation(Separation* sep, const ConversionSettings* s) {
  FreeCodes(sep);
  sep->samples = gImage->samplesPerPixel >= 4 ? 4 : gImage->samplesPerPixel >= 2 ? 3 : 1;
  if (storeSamples != sep->samples) sep->samples = storeSamples;
  sep->color = sep->samples > 1;
  sep->subAreas = (s->optionFlags & Option::posterize) ? SubAreaCount(s->complexity) : 2;
  for (int i = 0; i < 256; ++i) {
    sep->palette[i] = static_cast<uint8_t>(i);
    sep->counts[i] = 0;
  }
  memset(sep->sums, 0, sizeof sep->sums);
  sep->background = 0;
}

// The screen color of a code for the false-color preview.
uint32_t ScreenOfCode(const Separation* sep, int code) {
  if (!sep->color) return static_cast<uint32_t>(code) * 0x010101u;
  if (code > 215) code = 215;
  return static_cast<uint32_t>(cubePalette[code][0]) << 16 | static_cast<uint32_t>(cubePalette[code][1]) << 8 |
         cubePalette[code][2];
}

}  // namespace

// ---------------------------------------------------------------------------

void CmykToCubeRgb(const uint8_t cmyk[4], uint8_t rgb[3]) {
  auto ink = [](int a, int k) { return 255 - (a + k > 255 ? 255 : a + k); };
  int r = ink(cmyk[0], cmyk[3]), g = ink(cmyk[1], cmyk[3]), b = ink(cmyk[2], cmyk[3]);
  if (g <= r) {
    if (r < b) b = (b + r) / 2;
    else if (b <= g) g = g - g / 8;
    else b = (b + g) / 2;
  }
  rgb[0] = static_cast<uint8_t>(r);
  rgb[1] = static_cast<uint8_t>(g);
  rgb[2] = static_cast<uint8_t>(b);
}

uint32_t CodeColor(int code, bool color) {
  if (!color) return static_cast<uint32_t>(255 - (code & 255)) << 24;
  return RgbToProcess(51 * (code % 6), 51 * ((code / 6) % 6), 51 * (code / 36));
}

int CodeDistance(int a, int b, bool color) { return color ? CubeDistance(a, b) : abs(a - b); }

Separation* CurrentSeparation() { return &gSeparation; }

bool BuildPalette(Separation* sep, const ConversionSettings* s) {
  StartSeparation(sep, s);
  if (!SampleStoreMade()) return false;
  bool ok = sep->color ? BuildColorPalette(sep, s) : BuildGrayPalette(sep);
  // With a conversion area the outside of the area reads white and keeps
  // its own code, so that it never joins a sub-area.
  if (ok && AreaSelected()) {
    int white = sep->color ? 215 : 255;
    sep->palette[white] = static_cast<uint8_t>(white);
  }
  return ok;
}

bool BuildCodeGrid(Separation* sep, const ConversionSettings* s) {
  FreeCodes(sep);
  const int width = storePixels, height = storeRows, spp = sep->samples;
  sep->reduce = (s->optionFlags & Option::reduceDetail) != 0;
  sep->cellsX = sep->reduce ? (width + 1) / 2 : width;
  sep->cellsY = sep->reduce ? (height + 1) / 2 : height;
  sep->codesHandle = MemAlloc(static_cast<size_t>(sep->cellsX) * sep->cellsY);
  if (sep->codesHandle == kNoMem) return false;
  sep->codes = static_cast<uint8_t*>(MemLock(sep->codesHandle));
  SampleRows rows;
  if (!OpenRows(&rows, s->noiseReduction)) {
    FreeCodes(sep);
    return false;
  }
  uint8_t* upper = static_cast<uint8_t*>(MemAllocPtr(static_cast<size_t>(storeRowLength) + 8));
  if (!upper) {
    CloseRows(&rows);
    FreeCodes(sep);
    return false;
  }
  uint8_t reduced[4];
  for (int k = 0; k < sep->cellsY && !gUserAbort; ++k) {
    uint8_t* out = sep->codes + static_cast<size_t>(k) * sep->cellsX;
    if (!sep->reduce) {
      const uint8_t* row = FilteredRow(&rows, k);
      for (int x = 0; x < width; ++x) out[x] = PixelCode(sep, row + static_cast<size_t>(x) * spp);
    } else {
      memcpy(upper, FilteredRow(&rows, 2 * k), static_cast<size_t>(storeRowLength));
      const uint8_t* lower = 2 * k + 1 < height ? FilteredRow(&rows, 2 * k + 1) : upper;
      for (int i = 0; i < sep->cellsX; ++i) {
        int x0 = 2 * i, x1 = 2 * i + 1 < width ? 2 * i + 1 : 2 * i;
        const uint8_t* c = upper + static_cast<size_t>(x0) * spp;
        const uint8_t* d = upper + static_cast<size_t>(x1) * spp;
        const uint8_t* a = lower + static_cast<size_t>(x0) * spp;
        const uint8_t* b = lower + static_cast<size_t>(x1) * spp;
        ReducePixels(a, b, c, d, spp, reduced);
        out[i] = PixelCode(sep, reduced);
      }
    }
    if ((k & 63) == 0) PollUserAbort();
  }
  MemFreePtr(upper);
  CloseRows(&rows);
  return !gUserAbort;
}

bool ThresholdImage(const ConversionSettings* s) {
  if (!gWorkBits || !SampleStoreMade()) return false;
  const BlackWhite b = BlackWhiteRange(s);
  const int width = storePixels < gImage->width ? storePixels : gImage->width;
  const int height = storeRows < gImage->height ? storeRows : gImage->height;
  const int spp = storeSamples;
  const size_t rowBytes = static_cast<size_t>(gImage->rowBytes);
  SampleRows rows;
  if (!OpenRows(&rows, s->noiseReduction)) return false;
  memset(gWorkBits, 0, rowBytes * static_cast<size_t>(gImage->height));
  bool contrast = (s->methodFlags & Method::contrast) != 0;
  if (!contrast) {
    int t = s->threshold * b.span / 100;
    int cut = b.whiteZero ? b.lo + t : b.hi + 1 - t;
    if (cut < 0) cut = 0;
    if (cut > 255) cut = 255;
    for (int y = 0; y < height && !gUserAbort; ++y) {
      ThresholdRow(FilteredRow(&rows, y), gWorkBits + rowBytes * y, width, spp, cut, b);
      if ((y & 63) == 0) PollUserAbort();
    }
    CloseRows(&rows);
    return !gUserAbort;
  }
  // Contrast mode: three rows of (boosted) samples; each row is tested once
  // the row below it has been read.
  int T = s->contrast * b.span / 100;
  if (T > 255) T = 255;
  bool boost = (s->methodFlags & Method::boost) != 0;
  int bb = s->boost * 128 / 100;
  if (gImage->photometric != 0) bb = 128 - bb;
  const size_t L = static_cast<size_t>(storeRowLength);
  uint8_t* window = static_cast<uint8_t*>(MemAllocPtr(L * 3 + 8));
  if (!window) {
    CloseRows(&rows);
    return false;
  }
  auto load = [&](int y, uint8_t* into) {
    const uint8_t* src = FilteredRow(&rows, y < height ? y : height - 1);
    for (size_t i = 0; i < L; ++i) into[i] = boost ? BoostSample(src[i], bb) : src[i];
  };
  uint8_t* prev = window;
  uint8_t* cur = window + L;
  uint8_t* next = window + 2 * L;
  load(0, cur);
  memcpy(prev, cur, L);
  for (int y = 0; y < height && !gUserAbort; ++y) {
    if (y + 1 < height) load(y + 1, next);
    else memcpy(next, cur, L);
    uint8_t* bits = gWorkBits + rowBytes * y;
    for (int x = 0; x < width; ++x) {
      int xl = x > 0 ? x - 1 : x, xr = x + 1 < width ? x + 1 : x;
      bool black = false;
      for (int c = 0; c < spp && !black; ++c) {
        auto at = [&](const uint8_t* r, int xx) { return static_cast<int>(r[static_cast<size_t>(xx) * spp + c]); };
        int n[8] = {at(prev, xl), at(prev, x), at(prev, xr), at(cur, xl),
                    at(cur, xr),  at(next, xl), at(next, x), at(next, xr)};
        black = ContrastBlack(at(cur, x), n, T);
      }
      PutBit(bits, x, black != b.invert);
    }
    uint8_t* t = prev;
    prev = cur;
    cur = next;
    next = t;
    if ((y & 63) == 0) PollUserAbort();
  }
  MemFreePtr(window);
  CloseRows(&rows);
  return !gUserAbort;
}

void DrawBoundaryMap(const Separation* sep, const ConversionSettings* s, uint8_t* bits, int32_t rowBytes) {
  const int C = sep->cellsX, R = sep->cellsY;
  const int W = 2 * C + 1, H = 2 * R + 1;
  auto row = [&](int y) { return bits + static_cast<size_t>(y) * rowBytes; };
  auto set = [&](int x, int y) { row(y)[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7)); };
  auto get = [&](int x, int y) { return (row(y)[x >> 3] >> (7 - (x & 7))) & 1; };
  auto code = [&](int i, int k) { return sep->codes[static_cast<size_t>(k) * C + i]; };
  for (int k = 0; k < R; ++k) {
    // Vertical cracks inside code row k: map row 2k + 1.
    for (int i = 1; i < C; ++i)
      if (code(i - 1, k) != code(i, k)) set(2 * i, 2 * k + 1);
    if (k + 1 >= R) break;
    // Horizontal cracks between code rows k and k + 1, and their crossings:
    // map row 2k + 2.
    for (int i = 1; i <= C; ++i) {
      if (code(i - 1, k + 1) != code(i - 1, k)) set(2 * i - 1, 2 * k + 2);
      if (i < C) {
        uint8_t a = code(i - 1, k), b = code(i, k), c = code(i - 1, k + 1), d = code(i, k + 1);
        if (!(a == b && a == c && a == d)) set(2 * i, 2 * k + 2);
      }
    }
  }
  // The frame.
  for (int y = 0; y < H; ++y) {
    set(0, y);
    set(W - 1, y);
  }
  for (int x = 0; x < W; ++x) {
    set(x, 0);
    set(x, H - 1);
  }
  // Noise reduction on the map, cell by cell.
  int mode = s->noiseReduction;
  if (mode == 1 || mode == 2) {
    for (int r = 1; r + 1 < H; r += 2) {
      for (int x = 0; x + 2 < W; x += 2) {
        int a = get(x, r - 1), b = get(x + 2, r - 1), c = get(x, r + 1), d = get(x + 2, r + 1);
        if (mode == 1) {
          if (a && b && c && d)
            for (int yy = r - 1; yy <= r + 1; ++yy)
              for (int xx = x; xx <= x + 2; ++xx) set(xx, yy);
        } else if (a || b || c || d) {
          set(x, r);
          set(x + 1, r);
          set(x, r - 1);
          set(x + 1, r - 1);
        }
      }
    }
    // A solid block of 32 x 32 keeps a hole, so that thinning leaves a line
    // around it instead of nothing.
    for (int by = 0; by + 32 <= H; by += 32) {
      for (int bx = 0; bx + 32 <= W; bx += 32) {
        bool solid = true;
        for (int yy = by; yy < by + 32 && solid; ++yy)
          for (int xx = bx; xx < bx + 32 && solid; ++xx) solid = get(xx, yy) != 0;
        if (!solid) continue;
        for (int yy = by + 15; yy <= by + 16; ++yy)
          for (int xx = bx + 15; xx <= bx + 16; ++xx) row(yy)[xx >> 3] &= static_cast<uint8_t>(~(0x80 >> (xx & 7)));
      }
    }
  }
}

namespace {

// Switches the image record to the map's geometry with a blank working
// bitmap of that size, halving the art scale unless a cell is a 2 x 2 block.
bool EnterMapGeometry(Separation* sep) {
  gSaved = SavedGeometry{gImage->width, gImage->height, gImage->rowBits, gImage->rowBytes, gImage->rowWords,
                         padBits, workBitsBytes, gArtScale, gArtScaleShift};
  sep->mapWidth = 2 * sep->cellsX + 1;
  sep->mapHeight = 2 * sep->cellsY + 1;
  gImage->width = static_cast<int16_t>(sep->mapWidth);
  gImage->height = static_cast<int16_t>(sep->mapHeight);
  int32_t rowBits = (sep->mapWidth + 31) & ~31;
  gImage->rowBits = static_cast<int16_t>(rowBits);
  gImage->rowBytes = static_cast<int16_t>(rowBits / 8);
  gImage->rowWords = static_cast<int16_t>(rowBits / 16);
  padBits = static_cast<int16_t>(rowBits - sep->mapWidth);
  workBitsBytes = gImage->rowBytes * static_cast<int32_t>(gImage->height);
  sep->onMap = true;
  if (!sep->reduce) {
    gArtScale /= 2;
    --gArtScaleShift;
  }
  return AllocWorkBits();
}

// Whether the map fits the bitmap geometry and the art scale can be halved.
bool MapFits(const Separation* sep, bool reduce) {
  int32_t cx = reduce ? (storePixels + 1) / 2 : storePixels;
  int32_t cy = reduce ? (storeRows + 1) / 2 : storeRows;
  (void)sep;
  if (2 * cx + 1 > 32000 || 2 * cy + 1 > 32000) return false;
  return reduce || gArtScale >= 2;
}

}  // namespace

void EndSeparation() {
  Separation* sep = &gSeparation;
  FreeCodes(sep);
  if (!sep->onMap) return;
  sep->onMap = false;
  gImage->width = gSaved.width;
  gImage->height = gSaved.height;
  gImage->rowBits = gSaved.rowBits;
  gImage->rowBytes = gSaved.rowBytes;
  gImage->rowWords = gSaved.rowWords;
  padBits = gSaved.padBits;
  workBitsBytes = gSaved.workBitsBytes;
  gArtScale = gSaved.artScale;
  gArtScaleShift = gSaved.artScaleShift;
  if (!AllocWorkBits()) FreeWorkBits();
}

void RunSeparation(int a) {
  ConversionSettings* s = gConvSettings;
  Separation* sep = &gSeparation;
  gDocument->Clear(Flag::separationValid);
  if (!SampleStoreMade() || !gWorkBits) return;
  bool posterize = (s->optionFlags & Option::posterize) != 0;
  bool ok;
  if (gDocument->Test(Flag::convertEdgeOnly) && AreaSelected()) {
    // Convert Selection Edge: the area's mask itself is outlined.
    memset(gWorkBits, 0, static_cast<size_t>(gImage->rowBytes) * gImage->height);
    for (int y = 0; y < gImage->height; ++y)
      for (int x = 0; x < gImage->width; ++x)
        if (ConversionAreaContains(static_cast<int16_t>(x), static_cast<int16_t>(y)))
          gWorkBits[static_cast<size_t>(y) * gImage->rowBytes + (x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7));
    ok = true;
  } else if (!posterize) {
    ok = ThresholdImage(s);
  } else {
    if (a > 0 && !(s->optionFlags & Option::reduceDetail) && !MapFits(sep, false)) {
      // The art scale cannot be halved again: cells become 2 x 2 blocks.
      s->optionFlags |= Option::reduceDetail;
      gConvSettingsEdit->optionFlags |= Option::reduceDetail;
    }
    ok = BuildPalette(sep, s);
    if (ok && a > 0) {
      ok = MapFits(sep, (s->optionFlags & Option::reduceDetail) != 0) && BuildCodeGrid(sep, s);
      if (ok) {
        ok = EnterMapGeometry(sep);
        if (ok) DrawBoundaryMap(sep, s, gWorkBits, gImage->rowBytes);
      }
      if (ok) colorMode = 1;
    }
  }
  if (!ok) {
    if (!gUserAbort) StopWith(kStrInsufficientMemory);
    return;
  }
  gDocument->Set(Flag::separationValid);
}

void PreviewSeparation(const ConversionSettings* s) {
  Separation* sep = &gSeparation;
  gDocument->Clear(Flag::separationValid);
  if (!SampleStoreMade()) return;
  bool ok;
  if (s->optionFlags & Option::posterize) {
    ok = BuildPalette(sep, s);
    if (ok && !sep->color)
      for (int v = 0; v < 256; ++v) levelsTable[v] = sep->palette[v];
  } else {
    ok = ThresholdImage(s);
  }
  if (!ok) {
    if (!gUserAbort) ShowWarning(kStrInsufficientMemory);
    return;
  }
  gDocument->Set(Flag::separationValid);
  gHost.refreshImageWindow();
}

uint32_t FalseColor(int rawCode) {
  const Separation* sep = &gSeparation;
  return ScreenOfCode(sep, sep->palette[rawCode & 255]);
}

bool SeparateTwoLevel() {
  ConversionSettings two = *gConvSettings;
  two.optionFlags = static_cast<uint8_t>(two.optionFlags & ~(Option::posterize | Option::whiteLines));
  two.methodFlags = static_cast<uint8_t>(two.methodFlags & ~(Method::contrast | Method::reverseImage));
  two.threshold = 50;
  two.noiseReduction = 0;
  bool ok = ThresholdImage(&two);
  gDocument->Clear(Flag::separationValid);
  return ok;
}

// ---------------------------------------------------------------------------
// The color of an area.

int AreaRuleFor(const ConversionSettings* s, const Separation* sep) {
  int mode = PosterizationModeOf(s, !sep->color);
  if (mode == kPosterLimited) return kRuleCode;
  if (mode == kPosterCustom) return kRuleCustom;
  if (sep->color && (s->colorFlags & ColorOption::averagingOff)) return kRuleMostCommon;
  return kRuleMean;
}

void AreaTallyBegin(AreaTally* t, int rule) {
  t->rule = rule;
  t->pixels = 0;
  memset(t->sums, 0, sizeof t->sums);
  if (rule == kRuleCode) memset(t->codeCounts, 0, sizeof t->codeCounts);
  t->exactUsed = 0;
  t->cachedRow = -1;
}

namespace {

// One image pixel of an area.
void TallyPixel(AreaTally* t, const uint8_t* p, int spp) {
  ++t->pixels;
  for (int k = 0; k < spp; ++k) t->sums[k] += p[k];
  if (t->rule == kRuleCustom) {
    BestColorVote(p, nullptr, 1);
  } else if (t->rule == kRuleMostCommon) {
    for (int e = 0; e < t->exactUsed; ++e) {
      if (t->exactCount[e] > 0 && memcmp(t->exact[e], p, static_cast<size_t>(spp)) == 0) {
        ++t->exactCount[e];
        return;
      }
    }
    int slot = -1;
    for (int e = 0; e < t->exactUsed && slot < 0; ++e)
      if (t->exactCount[e] == 0) slot = e;
    if (slot < 0 && t->exactUsed < 256) slot = t->exactUsed++;
    if (slot < 0) {
      // Full: the new color replaces the first of the least counted colors,
      // and the others of that count are emptied.
      int32_t least = t->exactCount[0];
      for (int e = 1; e < 256; ++e)
        if (t->exactCount[e] < least) least = t->exactCount[e];
      for (int e = 0; e < 256; ++e) {
        if (t->exactCount[e] != least) continue;
        if (slot < 0) slot = e;
        else t->exactCount[e] = 0;
      }
    }
    memset(t->exact[slot], 0, 4);
    memcpy(t->exact[slot], p, static_cast<size_t>(spp));
    t->exactCount[slot] = 1;
  }
}

const uint8_t* ImageRow(AreaTally* t, int y) {
  if (const uint8_t* row = SampleRow(y)) return row;
  // A store read from the file: one row at a time through the current row.
  if (t->cachedRow != y) {
    uint8_t* row = FetchSampleRow(static_cast<int16_t>(y), 0, storeRowLength);
    if (!row) return nullptr;
    t->cachedRow = y;
  }
  return currentSampleRow;
}

}  // namespace

void AreaTallySpan(AreaTally* t, const Separation* sep, int y, int x0, int x1) {
  if (!(y & 1)) return;  // no cells on even map rows
  const int k = (y - 1) / 2;
  if (k < 0 || k >= sep->cellsY) return;
  const int spp = sep->samples;
  int first = x0 | 1;
  for (int x = first; x <= x1; x += 2) {
    int i = (x - 1) / 2;
    if (i < 0 || i >= sep->cellsX) continue;
    if (t->rule == kRuleCode) ++t->codeCounts[sep->codes[static_cast<size_t>(k) * sep->cellsX + i]];
  }
  if (t->rule == kRuleCode) {
    // The code rule counts cells; the sums still give a mean for the record.
    return;
  }
  if (!sep->reduce) {
    if (k >= storeRows) return;
    const uint8_t* row = ImageRow(t, k);
    if (!row) return;
    for (int x = first; x <= x1; x += 2) {
      int i = (x - 1) / 2;
      if (i >= 0 && i < storePixels) TallyPixel(t, row + static_cast<size_t>(i) * spp, spp);
    }
    return;
  }
  for (int dy = 0; dy < 2; ++dy) {
    int iy = 2 * k + dy;
    if (iy >= storeRows) break;
    const uint8_t* row = ImageRow(t, iy);
    if (!row) continue;
    for (int x = first; x <= x1; x += 2) {
      int i = (x - 1) / 2;
      for (int dx = 0; dx < 2; ++dx) {
        int ix = 2 * i + dx;
        if (ix >= 0 && ix < storePixels) TallyPixel(t, row + static_cast<size_t>(ix) * spp, spp);
      }
    }
  }
}

int AreaTallyCode(const AreaTally* t) {
  int best = -1;
  for (int c = 0; c < 256; ++c)
    if (t->codeCounts[c] > 0 && (best < 0 || t->codeCounts[c] > t->codeCounts[best])) best = c;
  return best;
}

uint32_t AreaTallyColor(const AreaTally* t, const Separation* sep) {
  if (t->rule == kRuleCode) {
    int code = AreaTallyCode(t);
    return CodeColor(code < 0 ? 0 : code, sep->color);
  }
  const int spp = sep->samples;
  if (t->rule == kRuleMostCommon && t->pixels >= 6 && t->exactUsed > 0) {
    int32_t counted = 0;
    for (int e = 0; e < t->exactUsed; ++e) counted += t->exactCount[e];
    int winner = -1;
    for (int tol = 25; winner < 0; tol += 25) {
      int best = -1;
      int32_t bestHeld = -1;
      for (int e = 0; e < t->exactUsed; ++e) {
        if (t->exactCount[e] == 0) continue;
        int32_t held = 0;
        for (int f = 0; f < t->exactUsed; ++f) {
          if (t->exactCount[f] == 0) continue;
          int d = 0;
          for (int k = 0; k < spp; ++k) d += abs(t->exact[e][k] - t->exact[f][k]);
          if (d < tol) held += t->exactCount[f];
        }
        if (held > bestHeld) {
          bestHeld = held;
          best = e;
        }
      }
      // Beyond the largest distance every neighbourhood holds everything.
      if (2 * bestHeld >= counted || tol > 4 * 255) winner = best;
    }
    const uint8_t* c = t->exact[winner];
    if (spp == 4)
      return static_cast<uint32_t>(c[0]) | static_cast<uint32_t>(c[1]) << 8 | static_cast<uint32_t>(c[2]) << 16 |
             static_cast<uint32_t>(c[3]) << 24;
    return RgbToProcess(c[0], c[1], c[2]);
  }
  // The mean (also for an area too small for the most common color: a
  // handful of pixels has no majority worth the name).
  if (t->pixels <= 0) return sep->background;
  int m[4] = {0, 0, 0, 0};
  for (int k = 0; k < spp; ++k) m[k] = static_cast<int>((t->sums[k] + t->pixels / 2) / t->pixels);
  if (spp == 1) return static_cast<uint32_t>(255 - m[0]) << 24;
  if (spp == 4)
    return static_cast<uint32_t>(m[0]) | static_cast<uint32_t>(m[1]) << 8 | static_cast<uint32_t>(m[2]) << 16 |
           static_cast<uint32_t>(m[3]) << 24;
  return RgbToProcess(m[0], m[1], m[2]);
}

void ReduceAreaCodes(int16_t* areaCodes, const int32_t* weights, int32_t areaCount, int maxColors, bool color) {
  int64_t total[256] = {};
  bool used[256] = {};
  for (int32_t a = 0; a < areaCount; ++a) {
    if (areaCodes[a] < 0) continue;
    used[areaCodes[a]] = true;
    total[areaCodes[a]] += weights[a];
  }
  int inUse = 0;
  for (bool u : used) inUse += u;
  bool kept[256];
  memcpy(kept, used, sizeof kept);
  while (inUse > maxColors && inUse > 1) {
    int drop = -1;
    for (int c = 0; c < 256; ++c)
      if (kept[c] && (drop < 0 || total[c] < total[drop])) drop = c;
    kept[drop] = false;
    --inUse;
  }
  int16_t nearest[256];
  for (int c = 0; c < 256; ++c) {
    nearest[c] = static_cast<int16_t>(c);
    if (!used[c] || kept[c]) continue;
    int best = -1, bestDistance = 1 << 30;
    for (int k = 0; k < 256; ++k) {
      if (!kept[k]) continue;
      int d = CodeDistance(c, k, color);
      if (d < bestDistance) {
        bestDistance = d;
        best = k;
      }
    }
    nearest[c] = static_cast<int16_t>(best);
  }
  for (int32_t a = 0; a < areaCount; ++a)
    if (areaCodes[a] >= 0) areaCodes[a] = nearest[areaCodes[a]];
}
