// Stand-ins for the line recognition entry points that the curve fitter and
// the junction snap call, and for the junction list storage, so that the
// engine links before those modules define them. Every definition here is
// weak: the real one in engine/linerec.cpp or engine/thinning.cpp replaces
// it. Without line records nothing lies on a line and nothing moves.
#include "engine/junctions.h"
#include "engine/linerec.h"

__attribute__((weak)) JunctionPoint* JunctionList = nullptr;
__attribute__((weak)) int32_t junctionCount = 0;
__attribute__((weak)) uint16_t* JunctionUsedBits = nullptr;

__attribute__((weak)) int LineEndTest(int16_t, int16_t, int16_t* horz, int16_t* vert) {
  if (horz) *horz = -1;
  if (vert) *vert = -1;
  return 0;
}

__attribute__((weak)) int StraightenSegment(int16_t*, int16_t*, int16_t*, int16_t*) { return 0; }

__attribute__((weak)) int SnapCenterlineEnd(int16_t*, int16_t*) { return 0; }
