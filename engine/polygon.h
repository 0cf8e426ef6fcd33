// The polygon builder: reduces the current object's direction chain to a
// list of vertices such that the chain between two successive vertices stays
// within the polygon tolerance of the edge joining them; while centerlining
// it also places vertices where a line crosses or returns to itself and at
// junction points, and snaps vertices onto junction points.
#pragma once

#include <cstdint>

#include "engine/tracer.h"

// One vertex: x, y, the low 16 bits of its byte offset in the direction
// chain (header included; successive vertices never lie 65536 bytes apart,
// so the full offset follows from the previous vertex), and its interior
// angle in whole degrees. The list ends with a record whose x is -1.
struct VertexRecord {
  int16_t x;
  int16_t y;
  uint16_t chainOffset;
  int16_t angle;
};
static_assert(sizeof(VertexRecord) == 8);

extern PagedArea vertexPages;  // the point record area, paged to "linarr"
extern int32_t vertexCount;    // records before the end record
VertexRecord GetVertex(int32_t index);
void PutVertex(int32_t index, const VertexRecord& v);
// The full chain offset of the vertex `later` given the full offset of an
// earlier vertex whose low 16 bits are `earlierLow`.
inline int32_t UnwrapOffset(int32_t earlierFull, uint16_t laterLow) {
  return earlierFull + static_cast<uint16_t>(laterLow - static_cast<uint16_t>(earlierFull));
}

// Fitting parameters (set by ComputeFittingParameters).
extern int32_t polygonTolerance;   // P: squared pixels x 64
extern double curveTolerance;      // C
extern int32_t junctionSnapLimit;  // J
extern int32_t longestCurvedEdge;  // E: squared pixels
extern int16_t erosionCount;

// Capped square: d * d for |d| <= 5, else 999.
inline int32_t CappedSquare(int32_t d) { return d >= -5 && d <= 5 ? d * d : 999; }

// Merges successive chain codes whose combined step is one step or none
// (used while the step count exceeds 64000).
void MergeLongChain();

// Moves vertex `index` onto a junction point when one is near enough
// (centerlining). 1 when it moved.
int SnapToJunction(int32_t index);
// The junction entry that vertex `index` would snap to, -1 none; changes
// nothing.
int32_t JunctionForVertex(int32_t index);
// The search index into the junction list, kept across objects.
extern int32_t junctionSearchIndex;
