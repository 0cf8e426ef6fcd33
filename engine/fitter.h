// The curve fitter: turns the polygon of one traced object into a path of
// cubic Bezier curves and straight segments. A curve passes through its two
// end vertices and through the chain's points at one third and two thirds of
// its length, and must stay inside the band the tracer stamped along the
// outline.
#pragma once

#include <cstdint>

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
