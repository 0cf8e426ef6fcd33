// The DXF writer: the art as ASCII DXF, one polyline per path in inches, on
// layer "1" (black) or "0" (everything else), curves flattened into straight
// pieces. Every line ends with CR LF.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "art/flatten.h"
#include "art/pathstore.h"
#include "core/records.h"
#include "output/art_writer.h"
#include "output/stream.h"

int32_t gFlattenedCurves = 0;

namespace {

const char* gLayerLine = "8\r\n0";

void Dxf(const char* text) {
  OutString(text);
  OutString("\r\n");
}

int16_t Strip(int16_t word) { return static_cast<int16_t>(word & 0x7FFF); }

// An image without a resolution is taken at 72 pixels per inch.
double ResolutionX() { return gImage->resolutionX > 0 ? gImage->resolutionX : 72; }
double ResolutionY() { return gImage->resolutionY > 0 ? gImage->resolutionY : 72; }

}  // namespace

void FormatDxfReal(double value, char* text, int size) {
  int64_t n = static_cast<int64_t>(value * 1000);  // truncated toward zero
  int64_t magnitude = n < 0 ? -n : n;
  char digits[40];
  snprintf(digits, sizeof digits, "%lld.%03lld", static_cast<long long>(magnitude / 1000),
           static_cast<long long>(magnitude % 1000));
  size_t len = strlen(digits);
  while (len > 0 && digits[len - 1] == '0') digits[--len] = 0;
  if (len > 0 && digits[len - 1] == '.') digits[--len] = 0;
  const char* start = digits;
  if (strchr(digits, '.') && digits[0] == '0') ++start;
  snprintf(text, static_cast<size_t>(size), "%s%s", n < 0 ? "-" : "", start);
}

void WriteDxfReal(int groupCode, double value) {
  char text[48];
  snprintf(text, sizeof text, "%d", groupCode);
  Dxf(text);
  FormatDxfReal(value, text, sizeof text);
  Dxf(text);
}

void WriteDxfHeader() {
  Dxf("0\r\nSECTION");
  Dxf("2\r\nHEADER");
  Dxf("9\r\n$LIMMIN");
  WriteDxfReal(10, 0);
  WriteDxfReal(20, 0);
  Dxf("9\r\n$LIMMAX");
  WriteDxfReal(10, gImage->rowBits / ResolutionX());
  WriteDxfReal(20, gImage->height / ResolutionY());
  Dxf("0\r\nENDSEC");
  Dxf("0\r\nSECTION");
  Dxf("2\r\nTABLES");
  Dxf("0\r\nTABLE");
  Dxf("2\r\nLAYER");
  Dxf("70\r\n2");
  for (int n = 0; n < 2; ++n) {
    char text[16];
    Dxf("0\r\nLAYER");
    snprintf(text, sizeof text, "2\r\n%d", n);
    Dxf(text);
  }
  Dxf("0\r\nENDTAB");
  Dxf("0\r\nENDSEC");
  Dxf("0\r\nSECTION");
  Dxf("2\r\nBLOCKS");
  Dxf("0\r\nENDSEC");
  Dxf("0\r\nSECTION");
  Dxf("2\r\nENTITIES");
}

void WriteDxfVertex(int16_t x, int16_t y) {
  double scale = gArtScale > 0 ? gArtScale : 1;
  Dxf("0\r\nVERTEX");
  Dxf(gLayerLine);
  WriteDxfReal(10, x / scale / ResolutionX());
  WriteDxfReal(20, (gImage->height - y / scale) / ResolutionY());
}

void WriteDxfPath(const PathRecord* path) {
  if (path->pointCount <= 0 || path->points == kNoMem) return;
  bool open = (path->pathFlags & PathFlag::openPath) != 0;
  uint8_t black = open ? path->strokeColor[3] : path->fillColor[3];
  gLayerLine = black ? "8\r\n1" : "8\r\n0";
  Dxf("0\r\nPOLYLINE");
  Dxf(gLayerLine);
  Dxf("66\r\n1");
  if (open) {
    double width = path->strokeWeight / 10.0 / 72.0;
    WriteDxfReal(40, width);
    WriteDxfReal(41, width);
  }
  const int16_t* w = static_cast<const int16_t*>(MemLock(path->points));
  int n = path->pointCount;
  WriteDxfVertex(Strip(w[0]), Strip(w[1]));
  int i = 0;
  while (i + 2 < n) {
    bool curve = (static_cast<uint16_t>(w[i]) & kCurveBit) != 0;
    int end = curve ? i + 6 : i + 2;
    if (end + 1 >= n) break;
    if (curve) {
      const int32_t pts[4][2] = {{Strip(w[i]), Strip(w[i + 1])},
                                 {w[i + 2], w[i + 3]},
                                 {w[i + 4], w[i + 5]},
                                 {Strip(w[end]), Strip(w[end + 1])}};
      for (int k = 0; k < 4; ++k) {
        curvePoints[k][0] = pts[k][0] * 65536;
        curvePoints[k][1] = pts[k][1] * 65536;
      }
      flattenScrollX = flattenScrollY = 0;
      BeginRecording();
      PenMoveTo(pts[0][0], pts[0][1]);
      FlattenCurve(kFlattenRecord);
      EndRecording();
      int32_t recorded = RecordedPointCount();
      for (int32_t k = 1; k < recorded; ++k) {
        int16_t x, y;
        RecordedPoint(k, &x, &y);
        WriteDxfVertex(x, y);
      }
      FreeRecording();
      ++gFlattenedCurves;
    }
    WriteDxfVertex(Strip(w[end]), Strip(w[end + 1]));
    i = end;
  }
  MemUnlock(path->points);
  Dxf("0\r\nSEQEND");
  Dxf(gLayerLine);
}

void WriteDxfTrailer() {
  Dxf("0\r\nENDSEC");
  Dxf("0\r\nEOF");
}
