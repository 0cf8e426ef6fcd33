// The SVG 1.1 and PDF 1.4 art writers. Like the DXF writer they run inside
// the art save after the page scale is computed (gOutScaleX/Y, gPageWidth
// and gPageHeight): a header, one call per path in drawing order, a trailer,
// all through the output stream. Both draw exactly what the EPS document
// draws: the same coordinates (tenths of a point), the same painting rule per
// path (closed and filled, closed, filled and stroked, or stroked as it
// stands), nonzero filling, projecting caps, mitered joins with limit 2.
#pragma once

#include <cstdint>

#include "engine/custom_colors.h"

struct PathRecord;

// SVG: one <path> per path, coordinates in points with y growing downwards
// from the top of the page, paint as sRGB (ProcessRgb), custom colors named
// in data-fill-color / data-stroke-color (with data-fill-tint /
// data-stroke-tint in percent when not at full strength).
void WriteSvgHeader();
void WriteSvgPath(const PathRecord* path);
void WriteSvgTrailer();

// PDF: one page the size of the bounding box with one Flate-compressed
// content stream. Process paints are DeviceCMYK, black and white paints
// DeviceGray, custom colors Separation color spaces with their CMYK
// alternate. The document's objects, in their numbers:
enum PdfObject : int16_t {
  kPdfCatalog = 1,
  kPdfPages = 2,
  kPdfPage = 3,
  kPdfContents = 4,
  kPdfLength = 5,
  kPdfInfo = 6,
  kPdfFirstColorSpace = 7,  // one per custom color that a path uses
};
constexpr int kPdfMaxObjects = kPdfFirstColorSpace + kMaxCustomColors;

// The state of one PDF save, made by WritePdfHeader and passed to every
// later call.
struct PdfDocument {
  int32_t offset[kPdfMaxObjects];       // file offset of each object (index = number)
  int16_t colorSpace[kMaxCustomColors];  // object of each custom color's space, 0 none
  int16_t objectCount;                   // objects numbered 1 .. objectCount - 1
  char lastFill[48];                     // the paint operators in force
  char lastStroke[48];
  int16_t lastWeight;                    // tenths of a point; -1 none set yet
};

// Writes the file header, the catalog, the page and the color spaces, and
// opens the compressed content stream.
void WritePdfHeader(PdfDocument* pdf);
void WritePdfPath(PdfDocument* pdf, const PathRecord* path);
// Closes the content stream and writes its length, the information
// dictionary, the cross-reference table and the trailer.
void WritePdfTrailer(PdfDocument* pdf);
