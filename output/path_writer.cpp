// The path body writer: one block of lines per path (paints, line weight,
// anchors with their smoothness letters, the painting operator) and the color
// comments of the document header.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "art/pathstore.h"
#include "core/records.h"
#include "engine/custom_colors.h"
#include "output/art_writer.h"
#include "output/stream.h"
#include "platform/platform.h"

namespace {

uint8_t gLastFill[4];
uint8_t gLastFillKind = 0;
uint8_t gLastStroke[4];
uint8_t gLastStrokeKind = 0;
uint8_t gLastWeight = 255;

constexpr uint8_t kBlack[4] = {0, 0, 0, 255};

int16_t Strip(int16_t word) { return static_cast<int16_t>(word & 0x7FFF); }
bool CurveStarts(int16_t anchorX) { return (static_cast<uint16_t>(anchorX) & kCurveBit) != 0; }

}  // namespace

void ResetPathWriter() {
  memcpy(gLastFill, kBlack, 4);
  memcpy(gLastStroke, kBlack, 4);
  gLastFillKind = gLastStrokeKind = kPaintBlack;
  gLastWeight = 255;
}

void WriteColorComments() {
  uint8_t used[4] = {0, 0, 0, 0};
  for (int16_t i = 0; i < gPathCount; ++i)
    for (int k = 0; k < 4; ++k) used[k] |= gPaths[i].fillColor[k] | gPaths[i].strokeColor[k];
  int16_t code = gPrefs->outputFormat;
  OutString(code >= kFormatEps3 ? "%QV3_ColorUsage: " : "%%ColorUsage: ");
  OutLine(used[0] || used[1] || used[2] ? "Color" : "Black&White");
  static const char* const kNames[] = {" Cyan", " Magenta", " Yellow", " Black"};
  OutString("%%DocumentProcessColors:");
  for (int k = 0; k < 4; ++k)
    if (used[k]) OutString(kNames[k]);
  OutLine("");
  if (code < kFormatEps3) return;
  int n = CustomColorCount();
  for (int i = 0; i < n; ++i) {
    const CustomColorEntry* e = CustomColorAt(i);
    OutString(i == 0 ? "%%CMYKCustomColor: " : "%%+ ");
    for (int k = 0; k < 4; ++k) OutFraction(e->color[k]);
    OutString("(");
    OutString(e->name);
    OutLine(")");
  }
}

void WritePaint(int role, int kind, int customIndex, int tint, const uint8_t color[4]) {
  const char* op;
  switch (kind) {
    case kPaintWhite:
      OutLine(role == 0 ? "1 g" : "1 G");
      return;
    case kPaintBlack:
      OutFraction(static_cast<uint8_t>(255 - color[3]));
      OutLine(role == 0 ? "g" : "G");
      return;
    case kPaintProcess:
      op = role == 0 ? "k" : "K";
      break;
    case kPaintCustom: {
      const CustomColorEntry* e = CustomColorAt(customIndex);
      // A custom paint whose entry is gone (deleted, or never made because
      // the list was full) is written as the path's own process color.
      if (gPrefs->outputFormat >= kFormatEps3 && e) {
        for (int k = 0; k < 4; ++k) OutFraction(e->color[k]);
        OutString("(");
        OutString(e->name);
        OutString(") ");
        OutFraction(static_cast<uint8_t>(255 - tint));
        OutLine(role == 0 ? "x" : "X");
        return;
      }
      op = role == 0 ? "k" : "K";
      break;
    }
    default:
      return;
  }
  for (int k = 0; k < 4; ++k) OutFraction(color[k]);
  OutLine(op);
}

bool SmoothAnchor(int32_t inX, int32_t inY, int32_t outX, int32_t outY) {
  if ((inX == 0 && inY == 0) || (outX == 0 && outY == 0)) return false;
  double angle = fabs(atan2(static_cast<double>(inY), static_cast<double>(inX)) -
                      atan2(static_cast<double>(outY), static_cast<double>(outX))) *
                 57.29577951;
  return angle > 170 && angle < 190;
}

char PaintingOperator(const PathRecord* path) {
  if (path->pointCount <= 0 || path->points == kNoMem) return 0;
  bool open = (path->pathFlags & PathFlag::openPath) != 0;
  if (path->fillKind != kPaintNone && !open) return path->strokeKind != kPaintNone ? 'b' : 'f';
  return path->strokeKind != kPaintNone ? 'S' : 0;
}

void WritePath(const PathRecord* path) {
  const char op[2] = {PaintingOperator(path), 0};
  if (op[0] == 0) return;
  if (op[0] != 'S' && (memcmp(path->fillColor, gLastFill, 4) != 0 || path->fillKind != gLastFillKind)) {
    memcpy(gLastFill, path->fillColor, 4);
    gLastFillKind = path->fillKind;
    WritePaint(0, path->fillKind, path->fillCustom, path->fillTint, path->fillColor);
  }
  if (op[0] != 'f') {
    if (memcmp(path->strokeColor, gLastStroke, 4) != 0 || path->strokeKind != gLastStrokeKind) {
      memcpy(gLastStroke, path->strokeColor, 4);
      gLastStrokeKind = path->strokeKind;
      WritePaint(1, path->strokeKind, path->strokeCustom, path->strokeTint, path->strokeColor);
    }
    if (path->strokeWeight != gLastWeight) {
      gLastWeight = path->strokeWeight;
      char text[16];
      snprintf(text, sizeof text, "%d.%d w", gLastWeight / 10, gLastWeight % 10);
      OutLine(text);
    }
  }
  bool grouped = (path->pathFlags & PathFlag::grouped) != 0;
  if (grouped) OutLine("u");

  const int16_t* w = static_cast<const int16_t*>(MemLock(path->points));
  int n = path->pointCount;
  int16_t startX = Strip(w[0]), startY = Strip(w[1]);
  OutCoord(startX, 0);
  OutCoord(startY, 1);
  OutLine("m");
  int i = 0;  // index of the segment's starting anchor
  while (i + 2 < n) {
    bool curve = CurveStarts(w[i]);
    int end = curve ? i + 6 : i + 2;
    if (end + 1 >= n) break;  // a truncated segment is not written
    int32_t inX, inY;
    if (curve) {
      OutCoord(w[i + 2], 0);
      OutCoord(w[i + 3], 1);
      OutCoord(w[i + 4], 0);
      OutCoord(w[i + 5], 1);
      inX = w[i + 4];
      inY = w[i + 5];
    } else {
      inX = Strip(w[i]);
      inY = Strip(w[i + 1]);
    }
    int16_t ax = Strip(w[end]), ay = Strip(w[end + 1]);
    int32_t outX, outY;
    if (end + 3 < n) {
      // A segment starts here: a curve's first control point, or the next anchor.
      outX = CurveStarts(w[end]) ? w[end + 2] : Strip(w[end + 2]);
      outY = CurveStarts(w[end]) ? w[end + 3] : Strip(w[end + 3]);
    } else if (ax == startX && ay == startY && n >= 4) {
      outX = CurveStarts(w[0]) ? w[2] : Strip(w[2]);
      outY = CurveStarts(w[0]) ? w[3] : Strip(w[3]);
    } else {
      outX = ax;
      outY = ay;
    }
    OutCoord(ax, 0);
    OutCoord(ay, 1);
    bool smooth = SmoothAnchor(inX - ax, inY - ay, outX - ax, outY - ay);
    OutLine(curve ? (smooth ? "c" : "C") : (smooth ? "l" : "L"));
    i = end;
  }
  MemUnlock(path->points);
  OutLine(op);
  if (grouped) OutLine("U");
}
