// Junction points of the thinned skeleton: the places where three or more
// skeleton branches meet. The thinning sequence fills the list; the polygon
// builder snaps centerline vertices onto its points and marks the ones used.
#pragma once

#include <cstdint>

struct JunctionPoint {
  int16_t x;
  int16_t y;
};
static_assert(sizeof(JunctionPoint) == 4);

// First and last entry of the list; the real points lie between them in row
// order and, within a row, in column order.
constexpr int16_t kJunctionTopSentinel = -32767;
constexpr int16_t kJunctionEndSentinel = 32767;

// The list (nullptr when there is none) and its count of entries, sentinels
// included.
extern JunctionPoint* JunctionList;
extern int32_t junctionCount;
// One bit per entry of JunctionList (entry i is bit i % 16 of word i / 16),
// set when a path end has been snapped to that junction; nullptr until the
// list is final.
extern uint16_t* JunctionUsedBits;

inline bool JunctionUsed(int32_t i) {
  return JunctionUsedBits && (JunctionUsedBits[i >> 4] & (1u << (i & 15))) != 0;
}
inline void MarkJunctionUsed(int32_t i) {
  if (JunctionUsedBits) JunctionUsedBits[i >> 4] = static_cast<uint16_t>(JunctionUsedBits[i >> 4] | (1u << (i & 15)));
}
