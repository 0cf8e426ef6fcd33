// The deviation of the polygon builder's edge list from the chord of the
// current segment, and the summaries of the list that let the deviation
// over the whole list skip points that cannot raise it.
//
// Contract: the deviation is the largest contribution of any point of the
// list (or the starting value given by the caller, when that is larger). The
// summaries only decide which points need not be looked at; the result is
// that of the plain walk over every point, to the last unit.
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct EdgePoint {
  int16_t x, y;
};

// The chord from the segment start (xs, ys) to the current point (x, y).
struct Chord {
  int32_t xs, ys, x, y, cx, cy;
  int64_t d;    // squared length
  bool mainX;   // x is the main axis: cx * cx > cy * cy
  int32_t lo, hi;  // the chord's extent along the main axis
  Chord(int32_t startX, int32_t startY, int32_t endX, int32_t endY);
  // The contribution of one point. A point within the chord's extent along
  // its main axis contributes its perpendicular deviation 64 x cross^2 / D,
  // limited to 9999 (0 when D is 0); one beyond an end, 64 x its squared
  // distance to the nearer end, and one more than the previous step's
  // deviation when it is not above that (while that is below 999).
  int32_t Deviation(int32_t px, int32_t py, int32_t previous) const;
};

// Reads point `index` of the edge list (the list may be paged).
using EdgeReader = EdgePoint (*)(int32_t index);

// Points are grouped into blocks of kEdgeFan, blocks into groups of kEdgeFan
// and so on; every complete group keeps the bounding box and the convex hull
// of its points (the hull of a group is the hull of its children's hull
// vertices). The arrays grow in memory handles as the list grows; when
// memory is short the summaries give up for the segment and the deviation
// walks every point.
constexpr int32_t kEdgeFan = 16;
constexpr int kEdgeLevels = 6;  // groups of up to 16^6 points

struct EdgeGroup {
  int16_t x0, y0, x1, y1;  // bounding box
  int32_t hullStart;       // first hull vertex in the pool
  int32_t hullCount;       // hull vertices in the pool
};
static_assert(sizeof(EdgeGroup) == 16);

struct EdgeSummary {
  MemHandle groupHandles[kEdgeLevels] = {};
  EdgeGroup* groups[kEdgeLevels] = {};
  int32_t groupCapacity[kEdgeLevels] = {};
  int32_t groupCount[kEdgeLevels] = {};
  MemHandle poolHandle = kNoMem;
  EdgePoint* pool = nullptr;
  int32_t poolCapacity = 0;
  int32_t poolUsed = 0;
  EdgePoint recent[2 * kEdgeFan];  // point i at i % (2 * kEdgeFan): the open block
  int32_t count = 0;       // points summarized
  bool failed = false;     // memory ran short: plain walks until the next reset
  int32_t seed = -1;       // the point of the last largest contribution, -1 none
  EdgePoint seedPoint{0, 0};
};

// Empties the summaries (a new segment); the memory stays for reuse.
void EdgeSummaryReset(EdgeSummary* s);
// The point just appended to the edge list as point s->count.
void EdgeSummaryAppend(EdgeSummary* s, int16_t x, int16_t y);
// The edge list was cut back to `count` points.
void EdgeSummaryTruncate(EdgeSummary* s, int32_t count, EdgeReader read);
// The largest of `initial` and the contributions of the first `count`
// points (count must equal s->count).
int32_t EdgeSummaryDeviation(EdgeSummary* s, const Chord& chord, int32_t previous, int32_t initial,
                             int32_t count, EdgeReader read);
void EdgeSummaryFree(EdgeSummary* s);
