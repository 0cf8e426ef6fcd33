#include "raster/sample_store.h"

#include <cstring>

#include "core/records.h"
#include "platform/string_ids.h"
#include "raster/open_image.h"

uint8_t cubePalette[216][3];
uint8_t levelsTable[256];

int32_t storeRowLength = 0;
int16_t storePixels = 0;
int16_t storeRows = 0;
int16_t storeSamples = 1;

uint8_t* storeSourceRow = nullptr;
uint8_t* filterWindow = nullptr;
int32_t filterStride = 0;
int32_t* cubeSums = nullptr;
uint8_t* currentSampleRow = nullptr;

bool (*gSampleFileRowReader)(int16_t y, uint8_t* row) = nullptr;

namespace {

constexpr int32_t kCubeSumBytes = 216 * 4 * 4;

MemHandle gStoreHandle = kNoMem;
uint8_t* gStore = nullptr;
MemHandle gWorkHandle = kNoMem;
bool gMade = false;

int16_t gAreaTop = 0;
int16_t gAreaBottom = -1;
int (*gAreaTest)(int16_t x, int16_t y) = nullptr;

void FreeWorkBlock() {
  if (gWorkHandle != kNoMem) {
    MemUnlock(gWorkHandle);
    MemFree(gWorkHandle);
  }
  gWorkHandle = kNoMem;
  storeSourceRow = filterWindow = currentSampleRow = nullptr;
  cubeSums = nullptr;
}

void FreeRows() {
  if (gStoreHandle != kNoMem) {
    MemUnlock(gStoreHandle);
    MemFree(gStoreHandle);
  }
  gStoreHandle = kNoMem;
  gStore = nullptr;
}

// Cuts one block into the source row, the filter window, the cube sums and
// the current row. The cube sums sit on a 4-byte boundary.
bool MakeWorkBlock(int32_t sourceBytes, int32_t rowLength, int spp) {
  int32_t stride = rowLength + 2 * spp;
  int32_t sourcePart = (sourceBytes + 3) & ~3;
  int32_t windowPart = (3 * stride + 3) & ~3;
  size_t total = static_cast<size_t>(sourcePart) + windowPart + kCubeSumBytes + rowLength + spp;
  gWorkHandle = MemAlloc(total);
  if (gWorkHandle == kNoMem) return false;
  uint8_t* p = static_cast<uint8_t*>(MemLock(gWorkHandle));
  storeSourceRow = p;
  filterWindow = p + sourcePart;
  filterStride = stride;
  cubeSums = reinterpret_cast<int32_t*>(filterWindow + windowPart);
  currentSampleRow = filterWindow + windowPart + kCubeSumBytes;
  return true;
}

bool IsCmyk() { return storeSamples == 4; }

}  // namespace

void ResetLevels() {
  for (int i = 0; i < 256; ++i) levelsTable[i] = static_cast<uint8_t>(i);
  gDocument->Clear(Flag::levelsPending);
}

Status MakeSampleStore() {
  FreeSampleStore();
  for (int i = 0; i < 256; ++i) levelsTable[i] = static_cast<uint8_t>(i);
  for (int i = 0; i < 216; ++i) {
    cubePalette[i][0] = static_cast<uint8_t>(51 * (i % 6));
    cubePalette[i][1] = static_cast<uint8_t>(51 * ((i / 6) % 6));
    cubePalette[i][2] = static_cast<uint8_t>(51 * (i / 36));
  }
  int spp = gImage->samplesPerPixel > 0 ? gImage->samplesPerPixel : 1;
  storeSamples = static_cast<int16_t>(spp);
  bool down = gDocument->Test(Flag::downsample2to1);
  for (;;) {
    int32_t pixels = down ? gImage->width / 2 : gImage->width;
    int32_t rows = down ? gImage->height / 2 : gImage->height;
    if (down && (pixels <= 0 || rows <= 0)) {
      // An image one pixel wide or high has nothing left after halving.
      down = false;
      gDocument->Clear(Flag::downsample2to1);
      continue;
    }
    storePixels = static_cast<int16_t>(pixels);
    storeRows = static_cast<int16_t>(rows);
    storeRowLength = pixels * spp;
    int32_t sourceBytes = gImage->sourceRowBytes > 0 ? gImage->sourceRowBytes : storeRowLength;
    if (pixels <= 0 || rows <= 0 || !MakeWorkBlock(sourceBytes, storeRowLength, spp)) {
      StopWith(kStrInsufficientMemory);
      return StopStatus();
    }
    gStoreHandle = MemAlloc(static_cast<size_t>(storeRowLength) * rows);
    if (gStoreHandle != kNoMem) {
      gStore = static_cast<uint8_t*>(MemLock(gStoreHandle));
      break;
    }
    if (!down) break;  // no room: rows will come from the file
    // No room for even the halved store: read at full size instead.
    FreeWorkBlock();
    down = false;
    gDocument->Clear(Flag::downsample2to1);
  }
  gMade = true;
  if (down) {
    gImage->width = storePixels;
    gImage->height = storeRows;
    gImage->resolutionX = gImage->resolutionY = gImage->resolutionY / 2;
    SetRowGeometry();
    if (gWorkBits && !AllocWorkBits()) {
      FreeSampleStore();
      StopWith(kStrInsufficientMemory);
      return StopStatus();
    }
  }
  return Done();
}

void FreeSampleStore() {
  FreeRows();
  FreeWorkBlock();
  gMade = false;
  gSampleFileRowReader = nullptr;
  gAreaTest = nullptr;
}

bool SampleStoreMade() { return gMade; }
bool SampleStoreInMemory() { return gStore != nullptr; }

uint8_t* SampleRow(int32_t y) {
  if (!gStore || y < 0 || y >= storeRows) return nullptr;
  return gStore + static_cast<size_t>(y) * storeRowLength;
}

void PutSampleRow(int32_t sourceY, const uint8_t* samples, int32_t firstPixel, int32_t pixels, int samplesIn,
                  int component) {
  if (!gStore || component < 0 || component >= storeSamples || samplesIn <= 0) return;
  bool down = gDocument->Test(Flag::downsample2to1);
  int32_t y = sourceY;
  if (down) {
    if (!(y & 1)) return;
    y >>= 1;
  }
  uint8_t* row = SampleRow(y);
  if (!row) return;
  int spp = storeSamples;
  int take = samplesIn < spp - component ? samplesIn : spp - component;
  if (!down && component == 0 && samplesIn == spp && firstPixel >= 0) {
    int32_t n = pixels;
    if (firstPixel + n > storePixels) n = storePixels - firstPixel;
    if (n > 0) memcpy(row + static_cast<size_t>(firstPixel) * spp, samples, static_cast<size_t>(n) * spp);
    return;
  }
  for (int32_t i = 0; i < pixels; ++i) {
    int32_t x = firstPixel + i;
    if (down) {
      if (!(x & 1)) continue;
      x >>= 1;
    }
    if (x < 0 || x >= storePixels) continue;
    memcpy(row + static_cast<size_t>(x) * spp + component, samples + static_cast<size_t>(i) * samplesIn, take);
  }
}

uint8_t* FetchSampleRow(int16_t y, int32_t firstByte, int32_t count) {
  if (!gMade || !currentSampleRow) return nullptr;
  int spp = storeSamples;
  if (firstByte < 0) firstByte = 0;
  if (firstByte > storeRowLength) firstByte = storeRowLength;
  if (count > storeRowLength - firstByte) count = storeRowLength - firstByte;
  if (count < 0) count = 0;
  uint8_t white = IsCmyk() ? 0 : 255;
  bool outsideSpan = gAreaTest && (y < gAreaTop || y > gAreaBottom);
  if (y < 0 || y >= storeRows || outsideSpan) {
    memset(currentSampleRow, white, static_cast<size_t>(count) + spp);
    return currentSampleRow;
  }
  if (gStore) {
    memcpy(currentSampleRow, gStore + static_cast<size_t>(y) * storeRowLength + firstByte, count);
  } else {
    // The whole row is read into the current row buffer (it has room for
    // L bytes and one pixel), then the requested part moves to the front.
    if (!gSampleFileRowReader || !gSampleFileRowReader(y, currentSampleRow)) {
      memset(currentSampleRow, white, static_cast<size_t>(storeRowLength) + spp);
    }
    if (firstByte) memmove(currentSampleRow, currentSampleRow + firstByte, count);
  }
  if (gAreaTest) {
    for (int32_t i = 0; i < count; ++i) {
      int32_t x = (firstByte + i) / spp;
      if (!gAreaTest(static_cast<int16_t>(x), y)) currentSampleRow[i] = white;
    }
  }
  // The repeated last pixel lets filters read one pixel past the end.
  int32_t last = count >= spp ? count - spp : 0;
  for (int i = 0; i < spp; ++i) currentSampleRow[count + i] = count > 0 ? currentSampleRow[last + i] : white;
  return currentSampleRow;
}

bool CopySampleRow(int16_t y, uint8_t* row) {
  if (!gMade || y < 0 || y >= storeRows) return false;
  if (gStore) {
    memcpy(row, gStore + static_cast<size_t>(y) * storeRowLength, storeRowLength);
    return true;
  }
  // The file reader needs room for one more pixel than the row holds.
  if (!gSampleFileRowReader || !gSampleFileRowReader(y, currentSampleRow)) return false;
  memcpy(row, currentSampleRow, storeRowLength);
  return true;
}

void SetSampleAreaFilter(int16_t top, int16_t bottom, int (*inArea)(int16_t x, int16_t y)) {
  gAreaTop = top;
  gAreaBottom = bottom;
  gAreaTest = inArea;
}
