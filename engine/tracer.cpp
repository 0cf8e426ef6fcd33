// The outline tracer. The object search reads the working bitmap 16 pixels
// at a time; the boundary walk reads single pixels. A traced object is erased
// by a parity fill of the area inside its outline (its holes turn black and
// are traced later as objects of their own), its boundary is stamped into the
// mask as a 5-pixel band for the curve fitter's band test, and its area of
// the mask is cleaned again after fitting.
#include "engine/tracer.h"

#include <cstring>

#include "core/records.h"
#include "core/services.h"
#include "engine/conversion.h"
#include "engine/settings.h"

PagedArea chainPages;
int16_t chainStartX = 0, chainStartY = 0;
int32_t chainStepCount = 0;
int32_t chainCodes = 0;
int16_t chainOverflowed = 0;
ObjectExtremes objectExtremes{};
int16_t objectWidth = 0, objectHeight = 0;
int16_t areaLeft = 0, areaTop = 0, areaWidth = 0, areaHeight = 0;
int16_t walkX = 0, walkY = 0, walkDir = 7;
int16_t searchRow = 0, searchWord = 0;

namespace {

bool gWalkStarting = false;  // the next step is the first of a walk
uint8_t gDummy[16];

inline uint8_t* Row(uint8_t* bits, int y) { return bits + static_cast<size_t>(y) * RowBytes(); }

// Sets (on) or clears the pixels x-2 .. x+2 of one row, clipped to the row.
inline void FiveBits(uint8_t* row, int x, bool on) {
  int first = x - 2, last = x + 2;
  if (first < 0) first = 0;
  if (last >= gImage->rowBits) last = gImage->rowBits - 1;
  if (first > last) return;
  int b0 = first >> 3, b1 = last >> 3;
  uint8_t m0 = static_cast<uint8_t>(0xFF >> (first & 7));
  uint8_t m1 = static_cast<uint8_t>(0xFF << (7 - (last & 7)));
  if (b0 == b1) {
    uint8_t m = static_cast<uint8_t>(m0 & m1);
    row[b0] = on ? static_cast<uint8_t>(row[b0] | m) : static_cast<uint8_t>(row[b0] & ~m);
  } else {
    row[b0] = on ? static_cast<uint8_t>(row[b0] | m0) : static_cast<uint8_t>(row[b0] & ~m0);
    row[b1] = on ? static_cast<uint8_t>(row[b1] | m1) : static_cast<uint8_t>(row[b1] & ~m1);
  }
}

void Square(uint8_t* bits, int x, int y, bool on) {
  if (!bits || x < -2 || x >= gImage->rowBits + 2) return;
  int h = gImage->height;
  for (int dy = -2; dy <= 2; ++dy) {
    int yy = y + dy;
    // Rows beyond the top or bottom edge fall on the edge row.
    if (yy < 0) yy = 0;
    if (yy >= h) yy = h - 1;
    if (yy < 0) return;
    FiveBits(Row(bits, yy), x, on);
  }
}

// Replays the chain of the current object from its start point, calling
// fn(x, y, code) at each pixel before its move.
template <typename Fn>
void ReplayChain(Fn fn) {
  int x = chainStartX, y = chainStartY;
  int32_t end = kChainHeader + chainCodes;
  for (int32_t off = kChainHeader; off < end; ++off) {
    uint8_t c = ChainByte(off);
    if (c > 7) break;
    fn(x, y, c);
    x += kStepX[c];
    y += kStepY[c];
  }
}

void ComputeObjectArea() {
  const ObjectExtremes& e = objectExtremes;
  objectWidth = static_cast<int16_t>(e.rightX - e.leftX + 1);
  objectHeight = static_cast<int16_t>(e.bottomY - e.topY + 1);
  int left = e.leftX - 2 < 0 ? 0 : e.leftX - 2;
  int top = e.topY - 2 < 0 ? 0 : e.topY - 2;
  int width = objectWidth + 4;
  if (width > gImage->rowBits - left) width = gImage->rowBits - left;
  int height = objectHeight + 4;
  if (height > gImage->height - top) height = gImage->height - top;
  areaLeft = static_cast<int16_t>(left);
  areaTop = static_cast<int16_t>(top);
  areaWidth = static_cast<int16_t>(width);
  areaHeight = static_cast<int16_t>(height);
}

// The bytes of the object area's whole 16-bit words in one row.
void AreaBytes(int32_t* first, int32_t* count) {
  int32_t w0 = areaLeft / 16, w1 = (areaLeft + areaWidth - 1) / 16;
  int32_t b0 = w0 * 2, b1 = w1 * 2 + 2;
  if (b1 > gImage->rowBytes) b1 = gImage->rowBytes;
  *first = b0;
  *count = b1 > b0 ? b1 - b0 : 0;
}

// Finds the next row and word holding a black pixel, from the search
// position. False at the end of the bitmap (or of the colored area).
// Appends a byte to the chain being written; a chain longer than its area
// continues in "edgearr". False on an abort.
bool PutChainByte(int32_t* pos, uint8_t b) {
  if (*pos > 0 && *pos % chainPages.pageBytes == 0 && *pos / chainPages.pageBytes != chainPages.page) {
    chainOverflowed = 1;
    if (PollUserAbort()) return false;
  }
  SetChainByte((*pos)++, b);
  return !gUserAbort;
}

bool FindNextWord() {
  const int32_t rowBytes = gImage->rowBytes;
  const int32_t rowWords = rowBytes / 2;
  while (searchRow < gImage->height) {
    const uint8_t* row = Row(gWorkBits, searchRow);
    int32_t w = searchWord;
    while (w + 4 <= rowWords) {  // four words at a time over white space
      uint64_t v;
      memcpy(&v, row + 2 * w, 8);
      if (v) break;
      w += 4;
    }
    for (; w < rowWords; ++w)
      if (row[2 * w] | row[2 * w + 1]) {
        searchWord = static_cast<int16_t>(w);
        return true;
      }
    ++searchRow;
    searchWord = 0;
  }
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Paged work areas.

void PagedReset(PagedArea* p, uint8_t* area, int32_t bytes, int store, int32_t elementBytes) {
  p->area = area;
  p->pageBytes = elementBytes > 0 ? bytes / elementBytes * elementBytes : bytes;
  p->store = store;
  p->page = 0;
  p->dirty = false;
  p->spilled = false;
}

uint8_t* PagedAtSlow(PagedArea* p, int32_t offset, bool write) {
  int32_t page = offset / p->pageBytes;
  if (page != p->page) {
    if (gUserAbort) return gDummy;
    int16_t file = OpenScratchStore(p->store);
    if (file == kNoFile) return gDummy;
    if (p->dirty || !p->spilled) {
      FileSeek(file, p->page * p->pageBytes, kSeekSet);
      if (WriteChecked(file, p->pageBytes, p->area) == 0) return gDummy;
      p->spilled = true;
    }
    memset(p->area, 0, static_cast<size_t>(p->pageBytes));
    int32_t at = page * p->pageBytes;
    if (FileLength(file) > at) {
      FileSeek(file, at, kSeekSet);
      FileRead(file, p->area, p->pageBytes);
    }
    p->page = page;
    p->dirty = false;
  }
  if (write) p->dirty = true;
  return p->area + (offset - page * p->pageBytes);
}

uint8_t ChainByte(int32_t offset) {
  if (chainPages.page == 0 && offset < chainPages.pageBytes) return chainPages.area[offset];
  return *PagedAt(&chainPages, offset, false);
}

void SetChainByte(int32_t offset, uint8_t value) {
  if (chainPages.page == 0 && offset < chainPages.pageBytes) {
    chainPages.area[offset] = value;
    chainPages.dirty = true;
    return;
  }
  *PagedAt(&chainPages, offset, true) = value;
}

// ---------------------------------------------------------------------------
// Pixels.

int GetPixel(const uint8_t* bits, int x, int y) {
  if (!bits || x < 0 || y < 0 || x >= gImage->rowBits || y >= gImage->height) return 0;
  return (bits[static_cast<size_t>(y) * RowBytes() + (x >> 3)] >> (7 - (x & 7))) & 1;
}

void ClearPixel(int x, int y) {
  if (x < 0 || y < 0 || x >= gImage->rowBits || y >= gImage->height) return;
  Row(gWorkBits, y)[x >> 3] &= static_cast<uint8_t>(~(0x80 >> (x & 7)));
}

void ClearSquare(int x, int y) { Square(gWorkBits, x, y, false); }
void StampSquare(int x, int y) { Square(maskBits, x, y, true); }

void XorSpan(int x, int y) {
  if (y < 0 || y >= gImage->height || x >= gImage->rowBits) return;
  if (x < 0) x = 0;
  int32_t last = objectExtremes.rightX >> 3;
  if (last >= gImage->rowBytes) last = gImage->rowBytes - 1;
  int32_t first = x >> 3;
  if (first > last) return;
  uint8_t* row = Row(gWorkBits, y);
  row[first] ^= static_cast<uint8_t>(0xFF >> (x & 7));
  for (int32_t b = first + 1; b <= last; ++b) row[b] = static_cast<uint8_t>(~row[b]);
}

int TemplatePixel(int x, int y) {
  if (x < 0 || y < 0 || x >= gImage->rowBits || y >= gImage->height) return 0;
  if (!templateOnDisk && templateBits) return GetPixel(templateBits, x, y);
  uint8_t* cache = templateCache ? templateCache : rowBuffer;
  if (!cache) return 0;
  if (templateCacheRow != y) {
    templateCacheRow = -1;  // the read below fills the cache itself
    ReadTemplateRow(static_cast<int16_t>(y), cache);
    templateCacheRow = static_cast<int16_t>(y);
  }
  return (cache[x >> 3] >> (7 - (x & 7))) & 1;
}

// ---------------------------------------------------------------------------
// The walk.

int16_t NextBoundaryStep() {
  static const int kOrder[6] = {6, 7, 0, 1, 2, 3};
  int d = walkDir;
  bool starting = gWalkStarting;
  gWalkStarting = false;
  for (int k : kOrder) {
    int nd = (d + k) & 7;
    int nx = walkX + kStepX[nd], ny = walkY + kStepY[nd];
    if (GetPixel(gWorkBits, nx, ny)) {
      walkX = static_cast<int16_t>(nx);
      walkY = static_cast<int16_t>(ny);
      walkDir = static_cast<int16_t>(nd);
      return static_cast<int16_t>(nd);
    }
  }
  int back = (d + 4) & 7;
  if (starting && d == 7 && !GetPixel(gWorkBits, walkX + kStepX[back], walkY + kStepY[back])) return -1;
  walkX = static_cast<int16_t>(walkX + kStepX[back]);
  walkY = static_cast<int16_t>(walkY + kStepY[back]);
  walkDir = static_cast<int16_t>(back);
  return static_cast<int16_t>(back);
}

void StartObjectSearch() {
  if (!lowMemoryMode && maskBits)
    memset(maskBits, 0, RowBytes() * static_cast<size_t>(gImage->height));
  searchRow = 0;
  searchWord = 0;
  lastShownRow = -9999;
}

int16_t TraceNextObject() {
  if (gUserAbort || !gWorkBits || !chainArea) return 0;
  for (;;) {
    // Finding the next object.
    bool found = FindNextWord();
    currentRow = searchRow < gImage->height ? searchRow : static_cast<int16_t>(gImage->height - 1);
    ShowRowProgress();
    if (!found) return 0;
    const uint8_t* row = Row(gWorkBits, searchRow);
    uint16_t word = static_cast<uint16_t>(row[2 * searchWord] << 8 | row[2 * searchWord + 1]);
    int bit = 0;
    while (!(word & (0x8000 >> bit))) ++bit;
    const int16_t sx = static_cast<int16_t>(searchWord * 16 + bit), sy = searchRow;

    // The walk.
    PagedReset(&chainPages, chainArea, chainAreaSize, kStoreEdgearr, 1);
    chainStartX = sx;
    chainStartY = sy;
    chainStepCount = 0;
    chainOverflowed = 0;
    objectExtremes = {sx, sy, sx, sy, sx, sy, sx, sy};
    walkX = sx;
    walkY = sy;
    walkDir = 7;
    int32_t pos = 0;
    auto put = [&pos](uint8_t b) { return PutChainByte(&pos, b); };
    put(static_cast<uint8_t>(sx & 0xFF));
    put(static_cast<uint8_t>((sx >> 8) & 0xFF));
    put(static_cast<uint8_t>(sy & 0xFF));
    put(static_cast<uint8_t>((sy >> 8) & 0xFF));
    gWalkStarting = true;
    int16_t firstCode = NextBoundaryStep();
    if (!put(firstCode < 0 ? kChainEnd : static_cast<uint8_t>(firstCode))) return 0;
    chainStepCount = 1;
    // A boundary visits each (pixel, direction) state at most once per
    // round; the cap only guards against a bitmap changed under the walk.
    const int64_t cap = 16LL * gImage->rowBits * gImage->height + 16;
    for (;;) {
      ObjectExtremes& e = objectExtremes;
      if (walkX < e.leftX) e.leftX = walkX, e.leftY = walkY;
      if (walkX > e.rightX) e.rightX = walkX, e.rightY = walkY;
      if (walkY < e.topY) e.topX = walkX, e.topY = walkY;
      if (walkY > e.bottomY) e.bottomX = walkX, e.bottomY = walkY;
      if ((walkX != sx || walkY != sy) && chainStepCount < cap) {
        int16_t code = NextBoundaryStep();
        if (!put(static_cast<uint8_t>(code))) return 0;
        ++chainStepCount;
        continue;
      }
      if (!put(kChainEnd)) return 0;
      if (tracingMode < 1 || firstCode == -1 || chainStepCount >= cap) break;
      int16_t code = NextBoundaryStep();
      if (code == firstCode) break;
      --pos;  // the step replaces the end mark and the walk goes on
      if (!put(static_cast<uint8_t>(code))) return 0;
      ++chainStepCount;
    }
    if (chainOverflowed) {
      // The rest goes to "edgearr" and the area holds the chain's beginning.
      PagedAt(&chainPages, 0, false);
      if (gUserAbort) return 0;
    }
    chainCodes = chainStepCount;
    const int16_t length = chainOverflowed ? static_cast<int16_t>(chainAreaSize) : static_cast<int16_t>(pos);

    // Erasing the object by parity spans.
    if (tracingMode == 0) {
      bool down = false;
      ReplayChain([&down](int x, int y, int c) {
        if (c == 0 || c == 6 || c == 7) {
          if (down) XorSpan(x, y);
          down = true;
        } else if (c >= 2 && c <= 4) {
          if (!down) XorSpan(x, y);
          down = false;
        }
      });
    }
    // Clearing the traced pixels.
    ClearPixel(sx, sy);
    if (tracingMode == 0) ReplayChain([](int x, int y, int) { ClearPixel(x, y); });
    else ReplayChain([](int x, int y, int) { ClearSquare(x, y); });

    // Preparing the object area.
    ComputeObjectArea();
    if (lowMemoryMode) {
      int16_t file = OpenScratchStore(kStoreDgtemp);
      if (file == kNoFile) return 0;
      FileSeek(file, 0, kSeekSet);
      int32_t first, count;
      AreaBytes(&first, &count);
      for (int y = areaTop; y < areaTop + areaHeight && !gUserAbort; ++y) {
        uint8_t* r = Row(gWorkBits, y) + first;
        WriteChecked(file, count, r);
        memset(r, 0, static_cast<size_t>(count));
      }
      if (gUserAbort) return 0;
      FileSeek(file, 0, kSeekSet);
    }
    ClearPixel(sx, sy);
    StampSquare(sx, sy);
    ReplayChain([](int x, int y, int c) { StampSquare(x + kStepX[c], y + kStepY[c]); });
    return length;
  }
}

bool LoadRunChain(const int16_t* xy, int32_t count) {
  if (gUserAbort || !chainArea || count < 1) return false;
  // The code of the step (dx, dy), indexed by (dy + 1) * 3 + dx + 1.
  static const int8_t kCodeOf[9] = {2, 3, 4, 1, -1, 5, 0, 7, 6};
  PagedReset(&chainPages, chainArea, chainAreaSize, kStoreEdgearr, 1);
  const int16_t sx = xy[0], sy = xy[1];
  chainStartX = sx;
  chainStartY = sy;
  chainOverflowed = 0;
  objectExtremes = {sx, sy, sx, sy, sx, sy, sx, sy};
  int32_t pos = 0;
  bool ok = PutChainByte(&pos, static_cast<uint8_t>(sx & 0xFF)) &&
            PutChainByte(&pos, static_cast<uint8_t>((sx >> 8) & 0xFF)) &&
            PutChainByte(&pos, static_cast<uint8_t>(sy & 0xFF)) && PutChainByte(&pos, static_cast<uint8_t>((sy >> 8) & 0xFF));
  for (int32_t i = 1; ok && i < count; ++i) {
    int16_t x = xy[2 * i], y = xy[2 * i + 1];
    int dx = x - xy[2 * i - 2], dy = y - xy[2 * i - 1];
    int code = dx >= -1 && dx <= 1 && dy >= -1 && dy <= 1 ? kCodeOf[(dy + 1) * 3 + dx + 1] : -1;
    if (code < 0) return false;  // not a neighbour: not a chain
    ok = PutChainByte(&pos, static_cast<uint8_t>(code));
    ObjectExtremes& e = objectExtremes;
    if (x < e.leftX) e.leftX = x, e.leftY = y;
    if (x > e.rightX) e.rightX = x, e.rightY = y;
    if (y < e.topY) e.topX = x, e.topY = y;
    if (y > e.bottomY) e.bottomX = x, e.bottomY = y;
  }
  if (!ok || !PutChainByte(&pos, kChainEnd)) return false;
  if (chainOverflowed) {
    PagedAt(&chainPages, 0, false);
    if (gUserAbort) return false;
  }
  chainStepCount = count - 1;
  chainCodes = count - 1;
  ComputeObjectArea();
  for (int32_t i = 0; i < count; ++i) StampSquare(xy[2 * i], xy[2 * i + 1]);
  return true;
}

void RestoreObjectArea() {
  if (!gWorkBits || areaWidth <= 0 || areaHeight <= 0) return;
  int32_t first, count;
  AreaBytes(&first, &count);
  if (count <= 0) return;
  int16_t parked = scratchHandles[kStoreDgtemp];
  for (int y = areaTop; y < areaTop + areaHeight; ++y) {
    uint8_t* maskRow = Row(maskBits, y) + first;
    if (lowMemoryMode) {
      if (parked != kNoFile) FileRead(parked, maskRow, count);
      continue;
    }
    memset(maskRow, 0, static_cast<size_t>(count));
  }
}
