// The SVG writer: the art as one SVG 1.1 document, one <path> element per
// path in drawing order. The page is the EPS bounding box in points; every
// coordinate is the EPS one in tenths of a point, measured down from the top
// of the page instead of up from its bottom, so both files draw the same art.
#include <cstdio>

#include "art/pathstore.h"
#include "engine/custom_colors.h"
#include "output/art_writer.h"
#include "output/stream.h"
#include "output/svg_pdf_writers.h"
#include "platform/platform.h"

namespace {

void Text(const char* text) { OutString(text); }

// The page height in tenths of a point: a y coordinate's distance from the
// top is this minus its distance from the bottom.
int64_t PageTopTenths() { return static_cast<int64_t>(gPageHeight) * 10; }

void Point(int16_t x, int16_t y) {
  OutTenths(CoordTenths(x, 0));
  OutTenths(PageTopTenths() - CoordTenths(y, 1));
}

// A custom color's name as attribute text. Design note: names are bytes of
// the program's 8-bit character set, taken here as Latin-1; control bytes,
// which XML cannot carry at all, become U+FFFD.
void AttributeText(const char* name) {
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p) {
    char ref[12];
    switch (*p) {
      case '&': Text("&amp;"); continue;
      case '<': Text("&lt;"); continue;
      case '>': Text("&gt;"); continue;
      case '"': Text("&quot;"); continue;
      default: break;
    }
    if (*p < 0x20 || *p >= 0x7F) {
      snprintf(ref, sizeof ref, "&#x%X;", *p < 0x20 ? 0xFFFDu : *p);
      Text(ref);
    } else {
      OutWrite(p, 1);
    }
  }
}

// One paint as attributes: `role` is "fill" or "stroke".
void Paint(const char* role, int kind, int customIndex, int tint, const uint8_t color[4]) {
  uint8_t cmyk[4] = {color[0], color[1], color[2], color[3]};
  const CustomColorEntry* custom = kind == kPaintCustom ? CustomColorAt(customIndex) : nullptr;
  switch (kind) {
    case kPaintWhite:
      cmyk[0] = cmyk[1] = cmyk[2] = cmyk[3] = 0;
      break;
    case kPaintBlack:  // a gray: only K counts
      cmyk[0] = cmyk[1] = cmyk[2] = 0;
      break;
    case kPaintCustom:
      // The entry's color at the path's tint, as the EPS file paints it; a
      // path whose entry is gone keeps its own process color.
      if (custom)
        for (int k = 0; k < 4; ++k) cmyk[k] = static_cast<uint8_t>(custom->color[k] * tint / 255);
      break;
    default:
      break;
  }
  char text[64];
  snprintf(text, sizeof text, " %s=\"#%06x\"", role, ProcessRgb(cmyk));
  Text(text);
  if (!custom) return;
  snprintf(text, sizeof text, " data-%s-color=\"", role);
  Text(text);
  AttributeText(custom->name);
  Text("\"");
  if (tint != 255) {
    snprintf(text, sizeof text, " data-%s-tint=\"%d\"", role, (tint * 100 + 127) / 255);
    Text(text);
  }
}

}  // namespace

void WriteSvgHeader() {
  char text[256];
  Text("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  snprintf(text, sizeof text,
           "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"%dpt\" height=\"%dpt\" "
           "viewBox=\"0 0 %d %d\"",
           gPageWidth, gPageHeight, gPageWidth, gPageHeight);
  Text(text);
  // The painting state that the EPS setup establishes.
  Text(" fill-rule=\"nonzero\" stroke-linecap=\"square\" stroke-linejoin=\"miter\" stroke-miterlimit=\"2\">\n");
}

void WriteSvgPath(const PathRecord* path) {
  char op = PaintingOperator(path);
  if (op == 0) return;
  const int16_t* w = static_cast<const int16_t*>(MemLock(path->points));
  Text("<path d=\"M");
  Point(AnchorWord(w[0]), AnchorWord(w[1]));
  PathSegment s;
  for (int at = 0; NextPathSegment(w, path->pointCount, &at, &s);) {
    if (s.curve) {
      Text("C");
      Point(s.c1x, s.c1y);
      Point(s.c2x, s.c2y);
    } else {
      Text("L");
    }
    Point(s.x, s.y);
  }
  MemUnlock(path->points);
  if (op != 'S') Text("Z");
  Text("\"");
  if (op == 'S') {
    Text(" fill=\"none\"");
  } else {
    Paint("fill", path->fillKind, path->fillCustom, path->fillTint, path->fillColor);
  }
  if (op != 'f') {
    Paint("stroke", path->strokeKind, path->strokeCustom, path->strokeTint, path->strokeColor);
    if (path->strokeWeight == 0) {
      // Design note: a zero weight is the thinnest line the device can draw;
      // SVG 1.1 has no such width, so the line is one device pixel wide where
      // the viewer knows non-scaling strokes, one point elsewhere.
      Text(" stroke-width=\"1\" vector-effect=\"non-scaling-stroke\"");
    } else {
      char text[40];
      int weight = path->strokeWeight;
      if (weight % 10 != 0) {
        snprintf(text, sizeof text, " stroke-width=\"%d.%d\"", weight / 10, weight % 10);
      } else {
        snprintf(text, sizeof text, " stroke-width=\"%d\"", weight / 10);
      }
      Text(text);
    }
  }
  Text("/>\n");
}

void WriteSvgTrailer() { Text("</svg>\n"); }
