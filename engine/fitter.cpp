// The curve fitter. Starting at each vertex, a cubic is extended over as
// many following vertices as the rules allow (corners, long edges, the band
// test against the mask, sharp turns); spans that cannot be curves become
// straight segments. One path per object goes to the path store.
#include "engine/fitter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "art/pathstore.h"
#include "core/records.h"
#include "engine/conversion.h"
#include "engine/junctions.h"
#include "engine/linerec.h"
#include "engine/polygon.h"
#include "engine/settings.h"
#include "engine/tracer.h"

int16_t inkFlag = 0;
int32_t polygonTolerance = 64;
double curveTolerance = 81920;
int32_t junctionSnapLimit = 30;
int32_t longestCurvedEdge = 2500;
int16_t erosionCount = 1;
int32_t polygonRotation = 0;
int16_t pathOpenState = 0;

// The span's end vertex snaps to a junction and neither neighbour lies
// closer to it: the curve must end there.
bool HasJunctionStop(int32_t end);

namespace {

constexpr double kNoPen = 123456.789;

struct Pt {
  double x, y;
};

// The art line of an outline's polygon edge j (from vertex j to j + 1): a
// point on it and its unit direction, pixels.
struct EdgeLine {
  bool ok;  // false for an edge of no length
  Pt at, dir;
};

struct Fit {
  int lineType;
  bool rotated;
  int32_t rotK;
  bool emitted;
  bool uniform;
  double weightSum;
  int32_t weightCount;
  // Full chain offsets: a cache for walking forward.
  int32_t cacheIndex;
  int32_t cacheFull;
  std::vector<uint8_t> met;
  // Where the open path has reached, in the fitter's vertex coordinates.
  double penX, penY;
  // A closed outline's vertex list repeats with this period (the last vertex
  // is the first again, and a rotation appends copies); 0 for an open one.
  int32_t period;
  std::vector<EdgeLine> lines;  // art lines of the outline's edges
  bool refine;                  // Refine curves
  std::vector<Pt> chain;        // the chain pixels of the curve being refined
  std::vector<double> param;    // and their curve parameters
  std::vector<Pt> moved;        // work space of the refinement
  // A run of a shared boundary: fitted open, from first vertex to last, into
  // the sink instead of the path store.
  RunSink* sink;
  double centre;                // where an anchor stands on its vertex's pixel
};

Fit gFit;

int32_t FullOffset(int32_t index) {
  if (index < gFit.cacheIndex) {
    gFit.cacheIndex = 0;
    gFit.cacheFull = UnwrapOffset(0, GetVertex(0).chainOffset);
  }
  while (gFit.cacheIndex < index) {
    ++gFit.cacheIndex;
    gFit.cacheFull = UnwrapOffset(gFit.cacheFull, GetVertex(gFit.cacheIndex).chainOffset);
  }
  return gFit.cacheFull;
}

bool Exists(int32_t index) { return GetVertex(index).x >= 0; }

Pt At(int32_t index) {
  VertexRecord v = GetVertex(index);
  return {static_cast<double>(v.x), static_cast<double>(v.y)};
}

bool Same(const VertexRecord& a, const VertexRecord& b) { return a.x == b.x && a.y == b.y; }

int32_t CappedVec(int32_t dx, int32_t dy) { return CappedSquare(dx) + CappedSquare(dy); }

// --- Art geometry -----------------------------------------------------------------
//
// The tracer, the polygon builder and the band test work on boundary pixels:
// a vertex (x, y) names the pixel whose top-left corner is (x, y). The art
// must cover the ink, so every point that goes to the path store is first
// moved into art geometry. Centerlines stay on the skeleton pixels' centres,
// and so do shared boundaries: neighbouring areas then meet on exactly the
// same anchors, with no gap and no overlap. Outlines (holes included: they
// are traced as objects of their own, so their white paths cover exactly
// the hole) follow the edges between ink and white. Each polygon edge gets a
// line: for a straight run of chain pixels between its two vertices the
// least-squares line through their centres, otherwise the chord through the
// two vertices' centres; the line moves half a pixel outward along the
// larger component of its normal, so that a vertical or horizontal run lands
// exactly on the pixels' edge and a 45-degree staircase on its mid-line. A
// vertex's anchor goes where the lines of its two edges meet, kept on the
// vertex's own pixel square; where the outline turns straight back (the end
// of a thin line) a cap half a pixel beyond the end pixel's centre closes
// the two sides. The vertices themselves, the segments and the band test
// stay as they are; control points move with the anchor they belong to.

// Edges closer to parallel than this (the sine of about 6 degrees) go straight
// on or turn straight back.
constexpr double kParallel = 0.1;
// A run of at least kFitPoints chain pixels whose variance across its line
// is at most kStraightSpread (squared pixels) is straight.
constexpr int32_t kFitPoints = 4;
constexpr double kStraightSpread = 0.1;

// Where segments arrive at a vertex and where they leave it, relative to the
// vertex; the two differ only at a cap.
struct Shift {
  Pt in, out;
};

Pt Plus(const Pt& a, const Pt& b) { return {a.x + b.x, a.y + b.y}; }
Pt Minus(const Pt& a, const Pt& b) { return {a.x - b.x, a.y - b.y}; }
double Cross(const Pt& a, const Pt& b) { return a.x * b.y - a.y * b.x; }
double Dot(const Pt& a, const Pt& b) { return a.x * b.x + a.y * b.y; }

// Half a pixel along the larger component of the outward normal of an edge
// in direction d. Outlines are walked clockwise on the screen (y down), so
// the outward normal is (dy, -dx).
Pt EdgeShift(const Pt& d) {
  double nx = d.y, ny = -d.x;
  if (std::fabs(nx) >= std::fabs(ny)) return {nx > 0 ? 0.5 : -0.5, 0};
  return {0, ny > 0 ? 0.5 : -0.5};
}

// Fits the art line of every edge of the closed outline, walking its chain
// once.
void FitEdgeLines() {
  gFit.lines.assign(static_cast<size_t>(gFit.period), EdgeLine{false, {0, 0}, {0, 0}});
  int32_t full = UnwrapOffset(0, GetVertex(0).chainOffset);
  VertexRecord v = GetVertex(0);
  for (int32_t j = 0; j < gFit.period; ++j) {
    VertexRecord w = GetVertex(j + 1);
    int32_t next = UnwrapOffset(full, w.chainOffset);
    Pt chord{static_cast<double>(w.x - v.x), static_cast<double>(w.y - v.y)};
    EdgeLine& line = gFit.lines[static_cast<size_t>(j)];
    if (chord.x != 0 || chord.y != 0) {
      // The chain pixels strictly between the two vertices.
      double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0, syy = 0;
      int32_t x = v.x, y = v.y;
      for (int32_t o = full; o < next - 1; ++o) {
        uint8_t c = ChainByte(o);
        if (c > 7) continue;
        x += kStepX[c];
        y += kStepY[c];
        n += 1;
        sx += x;
        sy += y;
        sxx += static_cast<double>(x) * x;
        sxy += static_cast<double>(x) * y;
        syy += static_cast<double>(y) * y;
      }
      double len = std::sqrt(Dot(chord, chord));
      line = {true, {v.x + 0.5, v.y + 0.5}, {chord.x / len, chord.y / len}};
      if (n >= kFitPoints) {
        double mx = sx / n, my = sy / n;
        double cxx = sxx / n - mx * mx, cxy = sxy / n - mx * my, cyy = syy / n - my * my;
        double angle = 0.5 * std::atan2(2 * cxy, cxx - cyy);
        Pt dir{std::cos(angle), std::sin(angle)};
        // The spread across the line: small for a straight run, large for a
        // piece of a curve, whose chord through the vertices serves better.
        double across = cxx * dir.y * dir.y - 2 * cxy * dir.x * dir.y + cyy * dir.x * dir.x;
        if (across <= kStraightSpread) {
          if (Dot(dir, chord) < 0) dir = {-dir.x, -dir.y};
          line = {true, {mx + 0.5, my + 0.5}, dir};
        }
      }
      line.at = Plus(line.at, EdgeShift(line.dir));
    }
    v = w;
    full = next;
  }
}

// The nearest edge of some length before (step -1) or from (step 1) vertex
// `index`, going round the outline; nullptr when there is none.
const EdgeLine* LineNear(int32_t index, int step) {
  int32_t m = gFit.period;
  int32_t j = index % m;
  if (step < 0) j = (j + m - 1) % m;
  for (int32_t k = 0; k < m; ++k, j = (j + step + m) % m)
    if (gFit.lines[static_cast<size_t>(j)].ok) return &gFit.lines[static_cast<size_t>(j)];
  return nullptr;
}

// The point of a line nearest to p.
Pt Project(const EdgeLine& l, const Pt& p) {
  double t = Dot(Minus(p, l.at), l.dir);
  return {l.at.x + t * l.dir.x, l.at.y + t * l.dir.y};
}

Shift VertexShift(int32_t index) {
  const Pt centre{gFit.centre, gFit.centre};
  if (tracingMode != 0 || gFit.period <= 0) return {centre, centre};
  const EdgeLine* a = LineNear(index, -1);
  const EdgeLine* b = LineNear(index, 1);
  if (!a || !b) return {centre, centre};
  Pt v = At(index), c = Plus(v, centre);
  double den = Cross(a->dir, b->dir);
  Pt anchor;
  if (std::fabs(den) < kParallel) {
    if (Dot(a->dir, b->dir) < 0) {
      // Straight back: the cap stands where the way out leaves the end
      // pixel's square.
      double reach = 0.5 / std::max(std::fabs(a->dir.x), std::fabs(a->dir.y));
      Pt end{c.x + a->dir.x * reach, c.y + a->dir.y * reach};
      return {Minus(Project(*a, end), v), Minus(Project(*b, end), v)};
    }
    Pt p = Project(*a, c), q = Project(*b, c);
    anchor = {(p.x + q.x) / 2, (p.y + q.y) / 2};
  } else {
    double t = Cross(Minus(b->at, a->at), b->dir) / den;
    anchor = {a->at.x + t * a->dir.x, a->at.y + t * a->dir.y};
  }
  // Kept on the vertex's own pixel square: a sharp turn of the polygon, or
  // two lines meeting far off, would otherwise throw the anchor away from
  // the ink.
  Pt o = Minus(anchor, c);
  o = {std::clamp(o.x, -0.5, 0.5), std::clamp(o.y, -0.5, 0.5)};
  Pt shift = Plus(centre, o);
  return {shift, shift};
}

// --- Chain thirds --------------------------------------------------------------

// The chain's length from vertex i to vertex i + b (2378 per straight step,
// 3363 per diagonal) and its points at one and two thirds of that length.
double ChainThirds(int32_t i, int32_t b, Pt* q1, Pt* q2) {
  int32_t o0 = FullOffset(i), o1 = FullOffset(i + b);
  double total = 0;
  for (int32_t o = o0; o < o1; ++o) {
    uint8_t c = ChainByte(o);
    if (c > 7) continue;
    total += (c & 1) ? 2378 : 3363;
  }
  VertexRecord v = GetVertex(i);
  double x = v.x, y = v.y, acc = 0;
  double t1 = total / 3, t2 = 2 * total / 3;
  *q1 = {x, y};
  *q2 = {x, y};
  bool have1 = false;
  for (int32_t o = o0; o < o1; ++o) {
    uint8_t c = ChainByte(o);
    if (c > 7) continue;
    double w = (c & 1) ? 2378 : 3363;
    if (!have1 && acc + w >= t1) {
      double f = (t1 - acc) / w;
      *q1 = {x + f * kStepX[c], y + f * kStepY[c]};
      have1 = true;
    }
    if (acc + w >= t2) {
      double f = (t2 - acc) / w;
      *q2 = {x + f * kStepX[c], y + f * kStepY[c]};
      break;
    }
    acc += w;
    x += kStepX[c];
    y += kStepY[c];
  }
  return total;
}

Pt Bezier(const Pt p[4], double t) {
  double s = 1 - t;
  double a = s * s * s, b = 3 * t * s * s, c = 3 * t * t * s, d = t * t * t;
  return {a * p[0].x + b * p[1].x + c * p[2].x + d * p[3].x, a * p[0].y + b * p[1].y + c * p[2].y + d * p[3].y};
}

// The band test: every sample of the curve lies on a black mask pixel, and
// every interior vertex of the span is passed closely.
bool BandTest(const Pt p[4], double length, int32_t i, int32_t b) {
  double step = length > 0 ? 11890.0 / length : 0.1;
  if (step > 0.1) step = 0.1;
  int32_t interior = b - 1;
  gFit.met.assign(static_cast<size_t>(interior > 0 ? interior : 0), 0);
  std::vector<Pt> verts;
  verts.reserve(static_cast<size_t>(interior > 0 ? interior : 0));
  for (int32_t k = 1; k < b; ++k) verts.push_back(At(i + k));
  int32_t unmet = interior > 0 ? interior : 0;
  for (int32_t k = 1;; ++k) {
    double t = k * step;
    if (t >= 1) break;
    Pt q = Bezier(p, t);
    if (!GetPixel(maskBits, static_cast<int>(q.x + 0.5), static_cast<int>(q.y + 0.5))) return false;
    for (int32_t m = 0; m < interior && unmet > 0; ++m) {
      if (gFit.met[static_cast<size_t>(m)]) continue;
      double dx = q.x - verts[static_cast<size_t>(m)].x, dy = q.y - verts[static_cast<size_t>(m)].y;
      // The curve tolerance is a squared distance in 16.16 fixed point.
      if (dx * dx < 25 && (dx * dx + dy * dy) * 65536.0 < curveTolerance) {
        gFit.met[static_cast<size_t>(m)] = 1;
        --unmet;
      }
    }
  }
  return unmet == 0;
}

// --- Refine curves ------------------------------------------------------------------
//
// With Refine curves on, a curve the span search has chosen gets its two
// control points fitted to the chain pixels it covers: its anchors and the
// directions in which it leaves and reaches them stay (so smooth joins stay
// smooth and corners stay corners), and the two handle lengths are chosen by
// least squares over the chain pixels, parameterized by their length along
// the chain and then moved to their nearest curve points. The fit is made in
// art geometry, against the chain pixels moved onto the ink's edge as the
// outline's lines are. The refined curve is kept when its handles point
// forward and it passes the band test; otherwise the curve stays as it was.

// Least-squares fits, with the parameters moved to the nearest curve points
// between them.
constexpr int kRefineRounds = 2;

// Moves each parameter to the nearest curve point by one Newton step.
void Reparameterize(const Pt p[4]) {
  for (size_t k = 0; k < gFit.chain.size(); ++k) {
    double t = gFit.param[k], s = 1 - t;
    Pt b = Bezier(p, t);
    Pt d1{3 * (s * s * (p[1].x - p[0].x) + 2 * s * t * (p[2].x - p[1].x) + t * t * (p[3].x - p[2].x)),
          3 * (s * s * (p[1].y - p[0].y) + 2 * s * t * (p[2].y - p[1].y) + t * t * (p[3].y - p[2].y))};
    Pt d2{6 * (s * (p[2].x - 2 * p[1].x + p[0].x) + t * (p[3].x - 2 * p[2].x + p[1].x)),
          6 * (s * (p[2].y - 2 * p[1].y + p[0].y) + t * (p[3].y - 2 * p[2].y + p[1].y))};
    Pt r = Minus(b, gFit.chain[k]);
    double den = Dot(d1, d1) + Dot(r, d2);
    if (den <= 0) continue;
    gFit.param[k] = std::clamp(t - Dot(r, d1) / den, 0.0, 1.0);
  }
}

// The refined curve of the span from vertex i over `a` edges into `curve`
// (the span search's curve on entry); `length` is the chain's length as the
// band test measures it.
void RefineCurve(int32_t i, int32_t a, Pt curve[4], double length) {
  // The curve as it will be drawn: its anchors and control points moved
  // into art geometry like the emitted ones.
  Shift from = VertexShift(i), to = VertexShift(i + a);
  Pt art[4] = {Plus(curve[0], from.out), Plus(curve[1], from.out), Plus(curve[2], to.in), Plus(curve[3], to.in)};
  Pt t0 = Minus(art[1], art[0]), t3 = Minus(art[2], art[3]);
  double l0 = std::sqrt(Dot(t0, t0)), l3 = std::sqrt(Dot(t3, t3));
  if (l0 == 0 || l3 == 0) return;
  t0 = {t0.x / l0, t0.y / l0};
  t3 = {t3.x / l3, t3.y / l3};
  // The chain pixels from vertex i to vertex i + a, at their length along
  // the chain, moved onto the ink's edge as the outline's lines are: half a
  // pixel outward (along the larger component of the chain's normal there)
  // from their centres.
  gFit.chain.clear();
  gFit.param.clear();
  VertexRecord v = GetVertex(i);
  int32_t x = v.x, y = v.y;
  double along = 0;
  int32_t o0 = FullOffset(i), o1 = FullOffset(i + a);
  for (int32_t o = o0; o < o1; ++o) {
    uint8_t c = ChainByte(o);
    if (c > 7) continue;
    x += kStepX[c];
    y += kStepY[c];
    along += (c & 1) ? 1 : std::sqrt(2.0);
    gFit.chain.push_back({static_cast<double>(x), static_cast<double>(y)});
    gFit.param.push_back(along);
  }
  size_t n = gFit.chain.size();
  if (n < 4 || along <= 0) return;
  for (double& t : gFit.param) t /= along;
  if (tracingMode == 0) {
    // Each pixel's direction is read from the pixels two before and two
    // after it.
    std::vector<Pt>& moved = gFit.moved;
    moved.resize(n);
    for (size_t k = 0; k < n; ++k) {
      const Pt& before = gFit.chain[k >= 2 ? k - 2 : 0];
      const Pt& after = gFit.chain[k + 2 < n ? k + 2 : n - 1];
      Pt d = Minus(after, before);
      Pt sh = (d.x == 0 && d.y == 0) ? Pt{0, 0} : EdgeShift(d);
      moved[k] = {gFit.chain[k].x + 0.5 + sh.x, gFit.chain[k].y + 0.5 + sh.y};
    }
    gFit.chain.swap(moved);
  } else {
    for (Pt& q : gFit.chain) q = {q.x + gFit.centre, q.y + gFit.centre};
  }

  Pt p[4] = {art[0], art[1], art[2], art[3]};
  bool fitted = false;
  for (int round = 0; round < kRefineRounds; ++round) {
    if (round > 0) Reparameterize(p);
    // B(t) = base(t) + alpha * t0 * b1(t) + beta * t3 * b2(t): the normal
    // equations of alpha and beta. The curve as it was is one of these, so
    // the solution fits the pixels at least as well.
    double c11 = 0, c12 = 0, c22 = 0, x1 = 0, x2 = 0;
    for (size_t k = 0; k < n; ++k) {
      double t = gFit.param[k], s = 1 - t;
      double b0 = s * s * s, b1 = 3 * t * s * s, b2 = 3 * t * t * s, b3 = t * t * t;
      Pt g1{t0.x * b1, t0.y * b1}, g2{t3.x * b2, t3.y * b2};
      Pt rest{gFit.chain[k].x - (p[0].x * (b0 + b1) + p[3].x * (b2 + b3)),
              gFit.chain[k].y - (p[0].y * (b0 + b1) + p[3].y * (b2 + b3))};
      c11 += Dot(g1, g1);
      c12 += Dot(g1, g2);
      c22 += Dot(g2, g2);
      x1 += Dot(g1, rest);
      x2 += Dot(g2, rest);
    }
    double det = c11 * c22 - c12 * c12;
    if (std::fabs(det) < 1e-12) break;
    double alpha = (x1 * c22 - x2 * c12) / det, beta = (c11 * x2 - c12 * x1) / det;
    // Handles pointing backwards would turn the curve into a loop.
    if (alpha <= 0 || beta <= 0) break;
    p[1] = {p[0].x + alpha * t0.x, p[0].y + alpha * t0.y};
    p[2] = {p[3].x + beta * t3.x, p[3].y + beta * t3.y};
    fitted = true;
  }
  if (!fitted) return;
  // Back to the fitter's coordinates, where the band test samples the mask.
  Pt refined[4] = {curve[0], Minus(p[1], from.out), Minus(p[2], to.in), curve[3]};
  if (!BandTest(refined, length, i, a)) return;
  curve[1] = refined[1];
  curve[2] = refined[2];
}

// --- Self-approach rule ----------------------------------------------------------

// Whether the edge from vertex a to a + 1 runs back over the part of the
// polygon already done (centerlining). The rule also holds before the
// polygon is rotated (the vertices before the rotation count are never
// looked at): a stroke whose walk turns back at its second vertex would
// otherwise be drawn there and back.
bool SelfApproach(int32_t a, int32_t current) {
  if (tracingMode != 1) return false;
  VertexRecord s = GetVertex(a), e = GetVertex(a + 1);
  if (s.x < 0 || e.x < 0) return false;
  int32_t ex = e.x - s.x, ey = e.y - s.y;
  int64_t l2 = static_cast<int64_t>(ex) * ex + static_cast<int64_t>(ey) * ey;
  if (l2 == 0) return false;
  int64_t lim = l2 / 8 + 1 < 10 ? l2 / 8 + 1 : 10;
  bool mainX = std::abs(ex) > std::abs(ey);
  int sign = mainX ? (ex > 0 ? 1 : -1) : (ey > 0 ? 1 : -1);
  auto along = [mainX](const VertexRecord& v) { return mainX ? v.x : v.y; };
  auto deviation = [&](const VertexRecord& p, int64_t d) {
    double cross = static_cast<double>(ex) * (p.y - s.y) - static_cast<double>(ey) * (p.x - s.x);
    return 64.0 * cross * cross / static_cast<double>(d);
  };
  int32_t last = current < a ? current : a;
  for (int32_t pi = gFit.rotK; pi < last; ++pi) {
    VertexRecord p = GetVertex(pi);
    VertexRecord prevN = p;
    for (int32_t ni = pi + 1;; ++ni) {
      VertexRecord n = GetVertex(ni);
      if (n.x < 0 || Same(n, p) || ni > a) break;
      int32_t qEP = CappedVec(e.x - p.x, e.y - p.y);
      int32_t qSN = CappedVec(s.x - n.x, s.y - n.y);
      if (qEP + qSN <= lim) return true;
      if (qSN < 11) {
        int64_t sp = static_cast<int64_t>(s.x - p.x) * (s.x - p.x) + static_cast<int64_t>(s.y - p.y) * (s.y - p.y);
        int64_t d = l2 > sp ? l2 : sp;
        if (qSN <= (d + 8) / 16 && deviation(p, d) <= 800) {
          if ((along(p) - along(e)) * sign > 0) return true;
          if (ni == pi + 1) return false;
          return CappedVec(p.x - prevN.x, p.y - prevN.y) <= 10;
        }
      }
      if (qEP > 10) break;
      int64_t en = static_cast<int64_t>(e.x - n.x) * (e.x - n.x) + static_cast<int64_t>(e.y - n.y) * (e.y - n.y);
      int64_t d = l2 > en ? l2 : en;
      if ((d + 8) / 16 < qEP || deviation(n, d) > 800) break;
      if ((along(n) - along(s)) * sign < 0) return true;
      if ((along(n) - along(e)) * sign >= 0) break;
      prevN = n;
    }
  }
  return false;
}

// --- Rotation --------------------------------------------------------------------

// Appends the first k vertices after the first to the end of the list, and
// the chain codes up to the new last vertex after the chain's end, so that
// the path can start at vertex k and take the first edges in at its close.
void Rotate(int32_t k) {
  if (k <= 0 || gFit.rotated) return;
  int32_t n = vertexCount;
  int32_t endFull = FullOffset(k);
  int32_t shift = chainCodes;  // the copied codes start where the end mark was
  for (int32_t j = 1; j <= k; ++j) {
    VertexRecord v = GetVertex(j);
    v.chainOffset = static_cast<uint16_t>(v.chainOffset + shift);
    PutVertex(n - 1 + j, v);
  }
  VertexRecord end{-1, -1, 0, 0};
  PutVertex(n + k, end);
  vertexCount = n + k;
  // Copied a block at a time, so that a chain living in "edgearr" is not
  // paged in and out for every byte.
  uint8_t block[512];
  for (int32_t o = kChainHeader; o < endFull;) {
    int32_t n = endFull - o < 512 ? endFull - o : 512;
    for (int32_t k = 0; k < n; ++k) block[k] = ChainByte(o + k);
    for (int32_t k = 0; k < n; ++k) SetChainByte(o + shift + k, block[k]);
    o += n;
  }
  SetChainByte(endFull + shift, kChainEnd);
  gFit.cacheIndex = 0;
  gFit.cacheFull = UnwrapOffset(0, GetVertex(0).chainOffset);
  gFit.rotated = true;
  gFit.rotK = k;
  polygonRotation = k;
}

// --- Emitting ----------------------------------------------------------------------

void Snap(int32_t index) {
  if (tracingMode != 0) SnapToJunction(index);
}

// Applies a measured thickness: centerlining starts a new path when the
// weight changes by more than 0.2; the shared-boundary mode only averages.
void ApplyThickness(double t) {
  if (tracingMode == -1) {
    gFit.weightSum += t;
    ++gFit.weightCount;
    return;
  }
  if (std::fabs(t - currentLineWeight) > 0.2) {
    if (pathOpenState == 1) pathOpenState = 0;
    currentLineWeight = t;
    double resY = gImage->resolutionY > 0 ? gImage->resolutionY : 300;
    curStrokeWidth = t * 300 / resY;
  }
}

bool MeasureWeights() { return tracingMode != 0 && !colorMode && !gFit.uniform; }

// Opens a path at `art` (art geometry) when none is open. False on an
// abort. A path that was ended (by the self-approach rule or a change of
// weight) is never continued: whatever comes next begins a path of its own.
bool OpenPath(const Pt& art) {
  if (pathOpenState == 1) return true;
  if (gFit.sink) {
    gFit.sink->started = true;
    gFit.sink->startX = art.x;
    gFit.sink->startY = art.y;
    pathOpenState = 1;
    gFit.emitted = true;
    return true;
  }
  penX = art.x;
  penY = art.y;
  BeginConversionPath(tracingMode);
  if (gUserAbort) return false;
  pathOpenState = 1;
  gFit.emitted = true;
  return true;
}

void AddLine(const Pt& art) {
  if (gFit.sink) {
    gFit.sink->segments.push_back(RunSegment{false, 0, 0, 0, 0, art.x, art.y});
    return;
  }
  penX = art.x;
  penY = art.y;
  AddPathPoint(0);
}

void AddCurve(const Pt& c1, const Pt& c2, const Pt& art) {
  if (gFit.sink) {
    gFit.sink->segments.push_back(RunSegment{true, c1.x, c1.y, c2.x, c2.y, art.x, art.y});
    return;
  }
  ctrl1X = c1.x;
  ctrl1Y = c1.y;
  ctrl2X = c2.x;
  ctrl2Y = c2.y;
  penX = art.x;
  penY = art.y;
  AddPathPoint(1);
}

// After a segment has arrived at vertex point `v` with shift `sh`: the cap's
// second anchor, when there is a cap; the fitter's pen moves to v.
void Arrived(const Pt& v, const Shift& sh) {
  if (sh.in.x != sh.out.x || sh.in.y != sh.out.y) AddLine(Plus(v, sh.out));
  gFit.penX = v.x;
  gFit.penY = v.y;
}

void WidenBounds(const Pt& p) {
  PathRecord* r = gCurrentPath;
  if (!r || gFit.sink) return;
  int32_t x = ArtCoord(p.x), y = ArtCoord(p.y);
  if (x - 5 < r->bounds[0]) r->bounds[0] = x - 5;
  if (x + 5 > r->bounds[2]) r->bounds[2] = x + 5;
  if (y - 5 < r->bounds[1]) r->bounds[1] = y - 5;
  if (y + 5 > r->bounds[3]) r->bounds[3] = y + 5;
}

void EmitCurve(int32_t i, int32_t a, const Pt& c1, const Pt& c2, const Pt& q1, const Pt& q2) {
  Pt p0;
  if (pathOpenState == 1) {
    p0 = {gFit.penX, gFit.penY};
  } else {
    Snap(i);
    p0 = At(i);
  }
  Snap(i + a);
  Pt p3 = At(i + a);
  if (p0.x == p3.x && p0.y == p3.y) return;
  if (MeasureWeights()) {
    double t1 = StrokeThickness(static_cast<int>(q1.x + 0.5), static_cast<int>(q1.y + 0.5), 0);
    double t2 = StrokeThickness(static_cast<int>(q2.x + 0.5), static_cast<int>(q2.y + 0.5), 0);
    ApplyThickness(std::fabs(t1 - t2) <= 0.5 ? (t1 + t2) / 2 : (t1 < t2 ? t1 : t2));
  }
  Shift from = VertexShift(i), to = VertexShift(i + a);
  if (!OpenPath(Plus(p0, from.out))) return;
  AddCurve(Plus(c1, from.out), Plus(c2, to.in), Plus(p3, to.in));
  Arrived(p3, to);
  for (int32_t k = 1; k < a; ++k) WidenBounds(Plus(At(i + k), VertexShift(i + k).in));
}

// A straight segment from vertex u to vertex u + 1.
void EmitLine(int32_t u, int lineType) {
  int32_t v = u + 1;
  Snap(u);
  Snap(v);
  Pt a = At(u), b = At(v);
  double dx = b.x - a.x, dy = b.y - a.y;
  if (dx == 0 && dy == 0) return;
  if (tracingMode == 1 && std::fabs(dx) <= 1 && std::fabs(dy) <= 1 &&
      (pathOpenState != 1 || SelfApproach(u, u)))
    return;
  if (MeasureWeights()) {
    double t1 = StrokeThickness(static_cast<int>(a.x + dx / 3 + 0.5), static_cast<int>(a.y + dy / 3 + 0.5), 2);
    double t2 = StrokeThickness(static_cast<int>(a.x + 2 * dx / 3 + 0.5), static_cast<int>(a.y + 2 * dy / 3 + 0.5), 2);
    ApplyThickness((t1 + t2) / 2);
  }
  Shift from = VertexShift(u), to = VertexShift(v);
  if (!OpenPath(Plus(a, from.out))) return;
  if (lineType == 1) {
    Pt p0 = Plus(a, from.out), p3 = Plus(b, to.in);
    double ex = p3.x - p0.x, ey = p3.y - p0.y;
    AddCurve({p0.x + ex / 3, p0.y + ey / 3}, {p0.x + 2 * ex / 3, p0.y + 2 * ey / 3}, p3);
    Arrived(b, to);
    return;
  }
  if ((gConvSettings->methodFlags & Method::lineRecognition) && !gFit.sink) {
    int16_t ux = static_cast<int16_t>(a.x), uy = static_cast<int16_t>(a.y);
    int16_t vx = static_cast<int16_t>(b.x), vy = static_cast<int16_t>(b.y);
    int16_t h0, v0, h1, v1;
    int f0 = LineEndTest(ux, uy, &h0, &v0), f1 = LineEndTest(vx, vy, &h1, &v1);
    bool horizontal = (f0 & f1 & 1) && h0 == h1 && uy != vy;
    bool vertical = (f0 & f1 & 2) && v0 == v1 && ux != vx;
    if (horizontal || vertical) {
      int moved = StraightenSegment(&ux, &uy, &vx, &vy);
      if (moved == 1) SetLastPoint(ArtCoord(ux + from.out.x), ArtCoord(uy + from.out.y));
      b = {static_cast<double>(vx), static_cast<double>(vy)};
    }
  }
  AddLine(Plus(b, to.in));
  Arrived(b, to);
}

// The span search from vertex i: the accepted span (in edges) and its curve.
int32_t SearchSpan(int32_t i, int lineType, Pt curve[4], Pt* q1Out, Pt* q2Out, double* lengthOut) {
  int32_t a = lineType == 1 ? 0 : 1;
  int32_t b = a + 1;
  Pt p[4];
  p[0] = At(i);
  const bool lineRec = (gConvSettings->methodFlags & Method::lineRecognition) != 0 && !gFit.sink;
  while (Exists(i + b)) {
    VertexRecord vb = GetVertex(i + b), vprev = GetVertex(i + b - 1);
    if (Same(vb, vprev)) {
      ++b;
      continue;
    }
    if (lineType == 2) break;
    if (lineType == 0) {
      bool straight = false;
      for (int32_t k = 1; k < b && !straight; ++k) straight = GetVertex(i + k).angle < 100;
      for (int32_t k = 0; k < b && !straight; ++k) {
        VertexRecord s = GetVertex(i + k), e = GetVertex(i + k + 1);
        int64_t dx = e.x - s.x, dy = e.y - s.y;
        straight = dx * dx + dy * dy > longestCurvedEdge;
      }
      if (straight) break;
    }
    if (a > 0) {
      int32_t end = i + a;
      if (tracingMode == 1 && HasJunctionStop(end)) break;
      if (SelfApproach(end, i)) break;
      if (lineRec) {
        VertexRecord ve = GetVertex(end);
        int16_t h, v;
        if (LineEndTest(ve.x, ve.y, &h, &v)) break;
      }
    }
    p[3] = {static_cast<double>(vb.x), static_cast<double>(vb.y)};
    Pt q1, q2;
    double length = ChainThirds(i, b, &q1, &q2);
    p[1] = {3 * q1.x - p[0].x / 1.2 + p[3].x / 3 - 1.5 * q2.x, 3 * q1.y - p[0].y / 1.2 + p[3].y / 3 - 1.5 * q2.y};
    p[2] = {3 * q2.x - p[3].x / 1.2 + p[0].x / 3 - 1.5 * q1.x, 3 * q2.y - p[3].y / 1.2 + p[0].y / 3 - 1.5 * q1.y};
    if (!BandTest(p, length, i, b)) break;
    if (b > 2 && Exists(i + b + 1)) {
      int turn = CornerAngle(p[0].x, p[0].y, p[0].x + (p[1].x - p[0].x), p[0].y + (p[1].y - p[0].y),
                             p[0].x + (p[1].x - p[0].x) + (p[3].x - p[2].x),
                             p[0].y + (p[1].y - p[0].y) + (p[3].y - p[2].y));
      if (turn < 110) break;
    }
    a = b;
    for (int k = 0; k < 4; ++k) curve[k] = p[k];
    *q1Out = q1;
    *q2Out = q2;
    *lengthOut = length;
    ++b;
  }
  return a;
}

}  // namespace

bool HasJunctionStop(int32_t end) {
  int32_t j = JunctionForVertex(end);
  if (j < 0) return false;
  const JunctionPoint& p = JunctionList[j];
  auto dist = [&p](const VertexRecord& v) { return CappedVec(v.x - p.x, v.y - p.y); };
  int32_t own = dist(GetVertex(end));
  bool prevCloser = end > 0 && dist(GetVertex(end - 1)) < own;
  bool nextCloser = Exists(end + 1) && dist(GetVertex(end + 1)) < own;
  return !prevCloser && !nextCloser;
}

int DirectionDegrees(double dx, double dy) {
  if (dx == 0) return dy > 0 ? 90 : -90;
  // Truncated toward zero, but a direction that is a whole number of degrees
  // (180 for a step left, 45 for a diagonal) must not fall one short through
  // rounding of the factor, or a reversal would not measure 0.
  double a = std::atan2(dy, dx) * 57.29577951;
  return static_cast<int>(a + (a < 0 ? -1e-6 : 1e-6));
}

int CornerAngle(double ux, double uy, double vx, double vy, double wx, double wy) {
  int d = DirectionDegrees(vx - ux, vy - uy) - DirectionDegrees(wx - vx, wy - vy);
  if (d > 180) d -= 360;
  if (d < -180) d += 360;
  return 180 - std::abs(d);
}

double StrokeThickness(int x, int y, int extra) {
  int steps = 2 * ThinningSteps(gConvSettings);
  int count = 11 + extra;
  for (int i = 1; i <= steps && 8 * i < count; ++i)
    for (int d = 0; d < 8; ++d) count += TemplatePixel(x + i * kStepX[d], y + i * kStepY[d]);
  return (count - 7 - extra) / 16.0;
}

void ComputeFittingParameters() {
  const ConversionSettings* s = gConvSettings;
  double sum = gImage->resolutionX + gImage->resolutionY;
  double r = sum > 0 ? std::sqrt(sum / 600) : 1;
  int32_t p = static_cast<int32_t>((s->tolerance * 0.04 + 0.8) * r * 64);
  polygonTolerance = p > 64 ? p : 64;
  double c = std::trunc((s->tolerance * 0.025 + 1.75) * r * 65536);
  curveTolerance = c > 81920 ? c : 81920;
  junctionSnapLimit = static_cast<int32_t>(30 * r);
  double m = 50 * r * std::pow(1.07177, s->straightToCurved - 10);
  double e = std::trunc(m * m);
  longestCurvedEdge = e > 400 ? (e > 2e9 ? 2000000000 : static_cast<int32_t>(e)) : 400;
  erosionCount = gImage->resolutionY <= 200 ? 1 : 2;
}

void ComputeCornerAngles() {
  int32_t n = vertexCount;
  if (n <= 0) return;
  if (n == 1) {
    VertexRecord v = GetVertex(0);
    v.angle = 180;
    PutVertex(0, v);
    return;
  }
  VertexRecord prev = GetVertex(n >= 2 ? n - 2 : 0);
  VertexRecord cur = GetVertex(0);
  int16_t first = 0;
  for (int32_t i = 0; i < n - 1; ++i) {
    VertexRecord next = GetVertex(i + 1);
    cur.angle = static_cast<int16_t>(CornerAngle(prev.x, prev.y, cur.x, cur.y, next.x, next.y));
    if (i == 0) first = cur.angle;
    PutVertex(i, cur);
    prev = cur;
    cur = next;
  }
  cur.angle = first;
  PutVertex(n - 1, cur);
}

namespace {

// The fitting state of a new object.
void BeginFit(RunSink* sink, double centre) {
  const ConversionSettings* s = gConvSettings;
  int lineType = s->lineType;
  if (lineType < 0 || lineType > 2) lineType = 0;
  gFit.lineType = lineType;
  gFit.rotated = false;
  gFit.rotK = 0;
  gFit.emitted = false;
  gFit.uniform = (s->methodFlags & Method::uniformWeight) != 0;
  gFit.refine = (s->fitFlags & FitOption::refineCurves) != 0;
  gFit.weightSum = 0;
  gFit.weightCount = 0;
  gFit.cacheIndex = 0;
  gFit.cacheFull = UnwrapOffset(0, GetVertex(0).chainOffset);
  gFit.sink = sink;
  gFit.centre = centre;
  polygonRotation = 0;
  pathOpenState = 0;
  gFit.penX = kNoPen;
  gFit.penY = 0;
  gFit.period = 0;
}

// The fitting loop over the vertices, then the rest of the polygon as
// straight segments. An open run is never rotated and its first span is
// emitted where it stands.
void FitVertices() {
  const int lineType = gFit.lineType;
  const bool open = gFit.sink != nullptr;
  int32_t i = 0;
  while (!gUserAbort) {
    if (!Exists(i) || !Exists(i + 1) || (lineType != 1 && !Exists(i + 2))) break;
    if (i == 2 && !gFit.rotated && !open) {
      // Rotating after segments were emitted would draw them twice; the
      // polygon is then taken as it is.
      if (!gFit.emitted) Rotate(2);
      else gFit.rotated = true;
    }
    if (SelfApproach(i, i)) {
      // The path ends at the vertex where the walk comes back over itself.
      if (pathOpenState == 1) pathOpenState = -1;
      break;
    }
    Pt curve[4] = {}, q1{0, 0}, q2{0, 0};
    double length = 0;
    int32_t a = SearchSpan(i, lineType, curve, &q1, &q2, &length);
    bool isCurve = lineType == 1 ? a > 0 : a > 1;
    if (isCurve) {
      VertexRecord first = GetVertex(i), last = GetVertex(i + a);
      if (!open && i == 0 && !gFit.emitted && !Same(first, last)) {
        // The path starts at the span's end and takes the span in at its close.
        if (a >= 3) Rotate(a);
        i += a;
        continue;
      }
      if (!open && i == 1 && !gFit.emitted && !gFit.rotated) {
        if (a == 1) {
          i += 1;
          continue;
        }
        Rotate(1);
      }
      if (gFit.refine) RefineCurve(i, a, curve, length);
      EmitCurve(i, a, curve[1], curve[2], q1, q2);
      i += a;
      continue;
    }
    EmitLine(i, lineType);
    ++i;
  }
  // The rest of the polygon as straight segments.
  while (!gUserAbort && Exists(i) && Exists(i + 1)) {
    if (!SelfApproach(i, i)) EmitLine(i, lineType);
    else if (pathOpenState == 1) pathOpenState = -1;
    ++i;
  }
}

}  // namespace

void FitObject() {
  const ConversionSettings* s = gConvSettings;
  BeginFit(nullptr, 0.5);
  if (vertexCount <= 0) return;
  const int lineType = gFit.lineType;
  if (tracingMode == 0 && vertexCount > 2 && Same(GetVertex(0), GetVertex(vertexCount - 1))) {
    gFit.period = vertexCount - 1;
    FitEdgeLines();
  }

  // Paint of the object's path.
  if (tracingMode == 0) {
    int white = (s->optionFlags & Option::whiteLines) ? 1 : 0;
    if (inkFlag == white) {
      curFillColor = 0;
      curFillKind = kPaintWhite;
    } else {
      curFillColor = 0xFF000000u;
      curFillKind = kPaintBlack;
    }
  }

  FitVertices();
  if (gUserAbort) return;

  // Tiny objects: a centerline stroke between the pixel centres (moved half
  // a pixel right when there is one vertex), or the object's bounding box in
  // whole pixels.
  if (!gFit.emitted && vertexCount <= 2 && lineType != 1) {
    Pt p = At(0);
    if (MeasureWeights()) ApplyThickness(StrokeThickness(static_cast<int>(p.x), static_cast<int>(p.y), 2));
    const Pt centre{0.5, 0.5};
    if (tracingMode == 1) {
      Pt q = vertexCount >= 2 ? At(1) : p;
      if (q.x == p.x && q.y == p.y) q.x += 0.5;
      if (!OpenPath(Plus(p, centre))) return;
      AddLine(Plus(q, centre));
    } else {
      const ObjectExtremes& e = objectExtremes;
      double left = e.leftX, top = e.topY, right = e.rightX + 1.0, bottom = e.bottomY + 1.0;
      if (!OpenPath({left, top})) return;
      const Pt corners[4] = {{right, top}, {right, bottom}, {left, bottom}, {left, top}};
      for (const Pt& c : corners) AddLine(c);
    }
  }
}

void FitRun(RunSink* sink, double centre) {
  BeginFit(sink, centre);
  if (vertexCount > 0) FitVertices();
  sink->weightSum += gFit.weightSum;
  sink->weightCount += gFit.weightCount;
  gFit.sink = nullptr;
}
