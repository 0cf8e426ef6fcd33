// The curve fitter: turns the polygon of one traced object into a path of
// cubic Bezier curves and straight segments. A curve passes through its two
// end vertices and through the chain's points at one third and two thirds of
// its length, and must stay inside the band the tracer stamped along the
// outline.
#pragma once

#include <cstdint>
#include <vector>

// The interior angle at v of the turn u -> v -> w in whole degrees: 180 for
// a straight continuation, 90 for a right angle, 0 for a reversal.
int CornerAngle(double ux, double uy, double vx, double vy, double wx, double wy);
// The direction of (dx, dy) in whole degrees, truncated toward zero.
int DirectionDegrees(double dx, double dy);

// The thickness of a stroke at (x, y) of the template, in pixels.
double StrokeThickness(int x, int y, int extra);

// Fitting state visible to tests: the rotation applied to the current
// polygon (0 none) and the path-open state (0 nothing emitted, 1 open, -1
// ended by the self-approach rule).
extern int32_t polygonRotation;
extern int16_t pathOpenState;

// One run of a shared boundary, fitted once for the two areas it separates
// (the shared-boundary pass): its segments in art geometry (pixels), from
// its start anchor to its end anchor, and the stroke thicknesses measured
// along it.
struct RunSegment {
  bool curve;
  double c1x, c1y, c2x, c2y;  // control points of a curve
  double x, y;                // the end anchor
};
struct RunSink {
  bool started = false;
  double startX = 0, startY = 0;
  std::vector<RunSegment> segments;
  double weightSum = 0;
  int32_t weightCount = 0;
};
// Fits the current polygon (the polygon builder's, of an open run made by
// LoadRunChain) from its first vertex to its last into `sink`, without
// rotating it. Anchors stand at vertex + (centre, centre): 0.5 puts them on
// the pixels' centres, 0 on their top-left corners.
void FitRun(RunSink* sink, double centre);
