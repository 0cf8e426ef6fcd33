// Line recognition: straight horizontal and vertical strokes of measurable
// width found in the working bitmap, kept as line records, written as
// stroked paths, and used by the centerline tracer to snap and straighten
// path ends that lie on them.
#pragma once

#include <cstdint>

struct LineRecord {
  int16_t pos;    // centre row (horizontal line) or centre column (vertical line)
  int16_t start;  // extent along the line, start <= end
  int16_t end;
  int16_t width;  // thickness in pixels
  uint8_t state;  // 0 free, 1 absorbed by joining, 2 part of a rectangle
};

enum LineState : uint8_t { kLineFree = 0, kLineJoined = 1, kLineInRectangle = 2 };

// The two record arrays (horizontal, vertical) with their counts.
extern LineRecord* horzLines;
extern int16_t horzLineCount;
extern LineRecord* vertLines;
extern int16_t vertLineCount;

// The parameters derived from the image resolution for one run.
struct LineParams {
  int16_t maxWidth;          // W
  int16_t endCheckDepth;     // K
  int16_t snapDistance;
  int16_t cornerTolerance;
  int16_t minRun;            // R
  int16_t minLength;         // L
  int16_t joinGap;
  int16_t parallelSpacing;   // P
  int16_t widthTolerance;    // rectangle width tolerance
};
// The parameters for the sum S of the two resolutions (pixels per inch).
LineParams ComputeLineParams(int32_t resolutionSum);
extern LineParams lineParams;

// Clears in the working bitmap the pixels covered by the recognized lines
// (every record not absorbed by joining), so that the rest of the image can
// be outlined without them.
void EraseRecognizedLines();

// End test of the curve fitter: whether the point lies on a recognized line
// (within half its width across and inside its extent). Returns a bit set:
// 1 on a horizontal line, 2 on a vertical line; the index of the line found
// goes to *horz / *vert (-1 when none). Without records it returns 0.
int LineEndTest(int16_t x, int16_t y, int16_t* horz, int16_t* vert);

// Straightening of a slanted straight segment from (x0, y0) to (x1, y1)
// whose two ends lie on the same recognized line: moves one end so that the
// segment runs exactly along the line when the ink between the ends allows.
// Returns 0 when nothing moved, 1 when the start moved, 2 when the end moved.
int StraightenSegment(int16_t* x0, int16_t* y0, int16_t* x1, int16_t* y1);

// Centerline end snapping: moves the point onto the nearest recognized line
// it is connected to by ink. Returns 1 when it was moved onto both a
// horizontal and a vertical line (a corner), else 0.
int SnapCenterlineEnd(int16_t* x, int16_t* y);
