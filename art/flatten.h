// Curve flattening and the pen point recorder. A Bezier segment held in
// `curvePoints` is cut into straight pieces at fixed parameters chosen by the
// length of its two halves; the pieces are drawn into the current drawing
// context (mode 0) or recorded (mode 1, used by the DXF writer).
#pragma once

#include <cstdint>

#include "platform/platform.h"

// P0, C1, C2, P3 as (x, y) pairs, 16.16 fixed point in the units to be drawn
// or recorded.
extern int32_t curvePoints[4][2];
// Scroll position subtracted from every evaluated point (0 during a save).
extern int32_t flattenScrollX;
extern int32_t flattenScrollY;
// Clip rectangle for drawing (mode 0): pieces whose bounding box misses it
// are skipped.
extern DrawRect flattenClip;

enum FlattenMode : int { kFlattenDraw = 0, kFlattenRecord = 1 };
// Returns the number of points drawn (mode 0, P3 included) or recorded
// (mode 1, P0 and P3 excluded).
int FlattenCurve(int mode);
// The curve at parameter t (16.16, 65536 = 1), rounded to whole units.
void EvaluateCurve(int32_t t, int32_t* x, int32_t* y);

// The recorder: a block of a 20-byte header (point count, then the bounds
// left, top, right, bottom as 16-bit values) followed by (y, x) pairs of
// 16-bit values, grown 50 points at a time.
MemHandle BeginRecording();  // kNoMem when memory is short (nothing is recorded)
void EndRecording();
void FreeRecording();
int32_t RecordedPointCount();
void RecordedPoint(int32_t index, int16_t* x, int16_t* y);
// The pen: draws through gDocument->drawDC when not recording, records when
// recording.
void PenMoveTo(int32_t x, int32_t y);
void PenLineTo(int32_t x, int32_t y);
