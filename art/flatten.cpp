// Curve flattening and the pen point recorder.
#include "art/flatten.h"

#include <cstring>

#include "core/records.h"

int32_t curvePoints[4][2];
int32_t flattenScrollX = 0;
int32_t flattenScrollY = 0;
DrawRect flattenClip = {-30000, -30000, 30000, 30000};

namespace {

constexpr int kHeaderBytes = 20;
constexpr int kGrowPoints = 50;

MemHandle gRecording = kNoMem;
bool gRecordingOn = false;
int32_t gPenX = 0, gPenY = 0;

struct RecordHeader {
  int32_t count;
  int16_t bounds[4];
  uint8_t reserved[8];
};
static_assert(sizeof(RecordHeader) == kHeaderBytes);

RecordHeader* Header() { return static_cast<RecordHeader*>(MemLock(gRecording)); }
int16_t* Pairs() { return reinterpret_cast<int16_t*>(static_cast<uint8_t*>(MemLock(gRecording)) + kHeaderBytes); }

void Store(int32_t x, int32_t y) {
  if (gRecording == kNoMem) return;
  RecordHeader* h = Header();
  int32_t count = h->count;
  size_t need = kHeaderBytes + static_cast<size_t>(count + 1) * 4;
  if (need > MemSize(gRecording)) {
    size_t grown = kHeaderBytes + static_cast<size_t>(count + kGrowPoints) * 4;
    if (!MemResize(gRecording, grown)) return;  // the point is lost, the recording stays valid
  }
  int16_t* p = Pairs() + static_cast<size_t>(count) * 2;
  p[0] = static_cast<int16_t>(y);
  p[1] = static_cast<int16_t>(x);
  Header()->count = count + 1;
}

bool LastStoredIs(int32_t x, int32_t y) {
  if (gRecording == kNoMem) return false;
  int32_t count = Header()->count;
  if (count == 0) return false;
  const int16_t* p = Pairs() + static_cast<size_t>(count - 1) * 2;
  return p[0] == y && p[1] == x;
}

int64_t Mul(int64_t a, int64_t b) { return (a * b) >> 16; }

bool PieceVisible(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  int32_t left = x0 < x1 ? x0 : x1, right = x0 < x1 ? x1 : x0;
  int32_t top = y0 < y1 ? y0 : y1, bottom = y0 < y1 ? y1 : y0;
  return right >= flattenClip.left && left <= flattenClip.right && bottom >= flattenClip.top &&
         top <= flattenClip.bottom;
}

int32_t CityBlock(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  int32_t dx = x0 - x1, dy = y0 - y1;
  return (dx < 0 ? -dx : dx) + (dy < 0 ? -dy : dy);
}

}  // namespace

void EvaluateCurve(int32_t t, int32_t* x, int32_t* y) {
  int64_t t1 = t, t2 = Mul(t1, t1), t3 = Mul(t2, t1);
  int64_t a3 = t3;
  int64_t a2 = 3 * (t2 - t3);
  int64_t a1 = 3 * (t3 + t1) - 6 * t2;
  int64_t a0 = 3 * (t2 - t1) - t3 + 65536;
  for (int axis = 0; axis < 2; ++axis) {
    int64_t v = Mul(a3, curvePoints[3][axis]) + Mul(a2, curvePoints[2][axis]) + Mul(a1, curvePoints[1][axis]) +
                Mul(a0, curvePoints[0][axis]);
    int32_t whole = static_cast<int32_t>((v + 32768) >> 16);
    if (axis == 0) *x = whole - flattenScrollX;
    else *y = whole - flattenScrollY;
  }
}

int FlattenCurve(int mode) {
  int32_t p0x = static_cast<int32_t>((static_cast<int64_t>(curvePoints[0][0]) + 32768) >> 16) - flattenScrollX;
  int32_t p0y = static_cast<int32_t>((static_cast<int64_t>(curvePoints[0][1]) + 32768) >> 16) - flattenScrollY;
  int32_t p3x = static_cast<int32_t>((static_cast<int64_t>(curvePoints[3][0]) + 32768) >> 16) - flattenScrollX;
  int32_t p3y = static_cast<int32_t>((static_cast<int64_t>(curvePoints[3][1]) + 32768) >> 16) - flattenScrollY;
  int32_t mx, my;
  EvaluateCurve(32768, &mx, &my);
  int32_t d1 = CityBlock(p0x, p0y, mx, my);
  int32_t d2 = CityBlock(p3x, p3y, mx, my);

  int32_t params[10];
  int n = 0;
  if (d1 >= 31) {
    for (int k = 1; k <= 4; ++k) params[n++] = 6554 * k;
  } else if (d1 >= 17) {
    for (int k = 1; k <= 3; ++k) params[n++] = 8192 * k;
  } else if (d1 >= 9) {
    params[n++] = 16384;
  }
  params[n++] = 32768;
  if (d2 >= 31) {
    for (int k = 3; k >= 0; --k) params[n++] = 58982 - 6554 * k;
  } else if (d2 >= 17) {
    for (int k = 5; k <= 7; ++k) params[n++] = 8192 * k;
  } else if (d2 >= 9) {
    params[n++] = 49152;
  }

  if (mode == kFlattenRecord) {
    for (int k = 0; k < n; ++k) {
      int32_t x, y;
      EvaluateCurve(params[k], &x, &y);
      PenLineTo(x, y);
    }
    return n;
  }
  // Drawing: P0, the computed points and P3, skipping invisible pieces.
  int32_t px = p0x, py = p0y;
  PenMoveTo(px, py);
  bool skipped = false;
  int drawn = 0;
  for (int k = 0; k <= n; ++k) {
    int32_t x, y;
    if (k < n) {
      EvaluateCurve(params[k], &x, &y);
    } else {
      x = p3x;
      y = p3y;
    }
    if (PieceVisible(px, py, x, y)) {
      if (skipped) PenMoveTo(px, py);
      PenLineTo(x, y);
      skipped = false;
      ++drawn;
    } else {
      skipped = true;
    }
    px = x;
    py = y;
  }
  return drawn;
}

MemHandle BeginRecording() {
  FreeRecording();
  gRecording = MemAlloc(kHeaderBytes + kGrowPoints * 4);
  gRecordingOn = true;
  return gRecording;
}

void EndRecording() {
  gRecordingOn = false;
  if (gRecording == kNoMem) return;
  RecordHeader* h = Header();
  const int16_t* p = Pairs();
  for (int32_t i = 0; i < h->count; ++i) {
    int16_t y = p[2 * i], x = p[2 * i + 1];
    if (i == 0 || x < h->bounds[0]) h->bounds[0] = x;
    if (i == 0 || y < h->bounds[1]) h->bounds[1] = y;
    if (i == 0 || x > h->bounds[2]) h->bounds[2] = x;
    if (i == 0 || y > h->bounds[3]) h->bounds[3] = y;
  }
}

void FreeRecording() {
  gRecordingOn = false;
  MemFree(gRecording);
  gRecording = kNoMem;
}

int32_t RecordedPointCount() { return gRecording == kNoMem ? 0 : Header()->count; }

void RecordedPoint(int32_t index, int16_t* x, int16_t* y) {
  const int16_t* p = Pairs() + static_cast<size_t>(index) * 2;
  *y = p[0];
  *x = p[1];
}

void PenMoveTo(int32_t x, int32_t y) {
  gPenX = x;
  gPenY = y;
  if (!gRecordingOn && gDocument->drawDC) gDocument->drawDC->MoveTo(x, y);
}

void PenLineTo(int32_t x, int32_t y) {
  if (gRecordingOn) {
    if (!LastStoredIs(gPenX, gPenY)) Store(gPenX, gPenY);
    Store(x, y);
  } else if (gDocument->drawDC) {
    gDocument->drawDC->LineTo(x, y);
  }
  gPenX = x;
  gPenY = y;
}
