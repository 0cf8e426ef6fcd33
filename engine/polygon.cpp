// The polygon builder. The chain is walked one code at a time against the
// chord from the current segment's start; a vertex goes where the deviation
// stopped falling before it rose above the tolerance, so that corners land
// on corners. Deviations are squared pixel distances x 64. While a segment
// has no candidate, every step measures the whole edge list; its group
// summaries (engine/deviation.h) keep that near-linear in the segment's
// length without changing a single value.
#include "engine/polygon.h"

#include <cmath>
#include <cstring>

#include "core/host.h"
#include "core/records.h"
#include "engine/conversion.h"
#include "engine/deviation.h"
#include "engine/junctions.h"
#include "engine/linerec.h"
#include "engine/settings.h"

PagedArea vertexPages;
int32_t vertexCount = 0;
int32_t junctionSearchIndex = 0;

namespace {

constexpr int32_t kMaxRecordBytes = 64512;  // 8064 vertices
constexpr int32_t kFar = 10000;

PagedArea gEdges;  // the edge list: (x, y) pairs, paged to "seglist"

EdgePoint GetEdge(int32_t i) {
  EdgePoint p;
  memcpy(&p, PagedAt(&gEdges, i * 4, false), 4);
  return p;
}

void PutEdge(int32_t i, int16_t x, int16_t y) {
  EdgePoint p{x, y};
  memcpy(PagedAt(&gEdges, i * 4, true), &p, 4);
}

// The state of one build.
struct Builder {
  int32_t tol;
  bool centerline;
  bool junctions;  // centerlining
  int32_t x, y, pos;  // current point and the offset of its next code
  int32_t xs, ys;     // segment start
  int32_t edgeCount;
  int32_t hist[5];    // deviations of the last five steps, oldest first
  int32_t cand;       // edge-list index of the candidate, -1 none
  bool havePrevCand;
  int32_t pcx, pcy;   // the previous candidate
  // Loop test.
  int32_t loopParity;
  bool approach;
  int32_t prevMin, prevMinVertex;
  int32_t lastMatched;
  int32_t segStartVertex;
  bool forceFar;  // this step's deviation counts as 999
  // Junction crossing.
  int32_t lastJunction;
  EdgeSummary* summary;  // the edge list's group summaries
};

void PushHistory(Builder& b, int32_t dev) {
  for (int i = 0; i < 4; ++i) b.hist[i] = b.hist[i + 1];
  b.hist[4] = dev;
}

// How many steps back from the newest history entry the deviation last
// stopped rising, at most `limit`.
int32_t LookBack(const Builder& b, int32_t limit) {
  int32_t k = 0;
  while (k < 4 && k < limit && b.hist[4 - k] > b.hist[3 - k]) ++k;
  return k;
}

// The deviation of this step against the chord from the segment start to the
// current point: over the whole edge list (through its summaries), or over
// the candidate and the last four points.
int32_t Deviation(const Builder& b, bool whole) {
  const Chord chord(b.xs, b.ys, b.x, b.y);
  const int32_t previous = b.hist[4];
  int32_t dev = (b.centerline && b.x == b.xs && b.y == b.ys) ? 999 : 0;
  if (whole) return EdgeSummaryDeviation(b.summary, chord, previous, dev, b.edgeCount, GetEdge);
  auto take = [&](int32_t i) {
    EdgePoint p = GetEdge(i);
    int32_t v = chord.Deviation(p.x, p.y, previous);
    if (v > dev) dev = v;
  };
  take(b.cand);
  for (int32_t i = b.edgeCount - 4 < 0 ? 0 : b.edgeCount - 4; i < b.edgeCount; ++i)
    if (i != b.cand) take(i);
  return dev;
}

// Appends the current point to the edge list.
void AppendEdge(Builder& b) {
  PutEdge(b.edgeCount++, static_cast<int16_t>(b.x), static_cast<int16_t>(b.y));
  EdgeSummaryAppend(b.summary, static_cast<int16_t>(b.x), static_cast<int16_t>(b.y));
}

// Cuts the edge list back to its first `count` points.
void CutEdges(Builder& b, int32_t count) {
  b.edgeCount = count;
  EdgeSummaryTruncate(b.summary, count, GetEdge);
}

void PlaceVertex(int32_t x, int32_t y, int32_t pos) {
  VertexRecord v{static_cast<int16_t>(x), static_cast<int16_t>(y), static_cast<uint16_t>(pos), 0};
  PutVertex(vertexCount++, v);
}

// --- Junctions ---------------------------------------------------------------

bool HaveJunctions() { return JunctionList != nullptr && junctionCount > 2; }

// Moves the search index to the first entry whose row is at least y - 7.
void SeekJunctionRows(int32_t y) {
  if (junctionSearchIndex < 0) junctionSearchIndex = 0;
  if (junctionSearchIndex >= junctionCount) junctionSearchIndex = junctionCount - 1;
  while (junctionSearchIndex > 0 && JunctionList[junctionSearchIndex - 1].y >= y - 7) --junctionSearchIndex;
  while (junctionSearchIndex < junctionCount - 1 && JunctionList[junctionSearchIndex].y < y - 7)
    ++junctionSearchIndex;
}

// The nearest junction (capped-square distance below J) to (x, y), -1 none.
int32_t NearJunction(int32_t x, int32_t y, int32_t* distance) {
  if (!HaveJunctions()) return -1;
  SeekJunctionRows(y);
  int32_t best = -1, bestDist = junctionSnapLimit;
  for (int32_t i = junctionSearchIndex; i < junctionCount && JunctionList[i].y <= y + 7; ++i) {
    if (i == 0 || i == junctionCount - 1) continue;
    int32_t d = CappedSquare(JunctionList[i].x - x) + CappedSquare(JunctionList[i].y - y);
    if (d < bestDist) {
      bestDist = d;
      best = i;
    }
  }
  *distance = bestDist;
  return best;
}

void BeginSegment(Builder& b);

// The junction crossing: true when a new segment began here.
bool JunctionCrossing(Builder& b) {
  int32_t dist;
  int32_t j = NearJunction(b.x, b.y, &dist);
  if (j < 0 || j == b.lastJunction) return false;
  uint8_t next = ChainByte(b.pos);
  if (next > 7) return false;
  int32_t nx = b.x + kStepX[next], ny = b.y + kStepY[next];
  int32_t jx = JunctionList[j].x, jy = JunctionList[j].y;
  int32_t now = (b.x - jx) * (b.x - jx) + (b.y - jy) * (b.y - jy);
  int32_t then = (nx - jx) * (nx - jx) + (ny - jy) * (ny - jy);
  if (then <= now) return false;
  b.lastJunction = j;
  if (b.x == b.xs && b.y == b.ys) return false;
  PlaceVertex(b.x, b.y, b.pos);
  BeginSegment(b);
  return true;
}

// The loop test of centerlining: true when a new segment began. The
// segment's own start vertex is left out of the comparison (the walk always
// begins next to it); the distance to it only bounds the closest approach.
bool LoopTest(Builder& b, int32_t prevX, int32_t prevY) {
  if (b.x == b.xs && b.y == b.ys) {
    b.forceFar = true;
    return false;
  }
  ++b.loopParity;
  if (!(b.loopParity % 2 == 0 || b.approach)) {
    b.prevMin = kFar;
    return false;
  }
  int32_t best = kFar, bestVertex = -1;
  for (int32_t i = 0; i < vertexCount; ++i) {
    if (i == b.lastMatched || i == b.segStartVertex) continue;
    VertexRecord v = GetVertex(i);
    int32_t dx = b.x - v.x, dy = b.y - v.y;
    if (dx > 3 || dx < -3 || dy > 3 || dy < -3) continue;
    int32_t d = dx * dx + dy * dy;
    if (d < best) {
      best = d;
      bestVertex = i;
    }
  }
  if (best == 0) {
    b.lastMatched = bestVertex;
    PlaceVertex(b.x, b.y, b.pos);
    BeginSegment(b);
    return true;
  }
  VertexRecord start = GetVertex(b.segStartVertex);
  int32_t sx = b.x - start.x, sy = b.y - start.y;
  int32_t toStart = (sx > 3 || sx < -3 || sy > 3 || sy < -3) ? kFar : sx * sx + sy * sy;
  if (b.prevMin < best && b.prevMin < 6 && b.prevMin < toStart) {
    b.lastMatched = b.prevMinVertex;
    b.pos -= 1;
    b.x = prevX;
    b.y = prevY;
    PlaceVertex(b.x, b.y, b.pos);
    BeginSegment(b);
    return true;
  }
  b.approach = best < kFar;
  b.prevMin = best;
  b.prevMinVertex = bestVertex;
  return false;
}

void BeginSegment(Builder& b) {
  b.xs = b.x;
  b.ys = b.y;
  b.edgeCount = 0;
  PagedReset(&gEdges, edgeListArea, edgeListSize, kStoreSeglist, 4);
  EdgeSummaryReset(b.summary);
  b.hist[4] = 999;
  b.cand = -1;
  b.havePrevCand = false;
  b.loopParity = 0;
  b.approach = false;
  b.prevMin = kFar;
  b.segStartVertex = vertexCount - 1;
}

// One full build at tolerance `tol`. False when the vertex list passed
// 8064 vertices (the caller rebuilds with twice the tolerance).
bool Build(int32_t tol, EdgeSummary* summary) {
  Builder b{};
  b.tol = tol;
  b.summary = summary;
  b.centerline = tracingMode == 1;
  b.junctions = tracingMode == 1;
  b.x = chainStartX;
  b.y = chainStartY;
  b.pos = kChainHeader;
  b.lastMatched = -1;
  b.lastJunction = -1;
  for (int32_t& h : b.hist) h = 999;
  PagedReset(&vertexPages, pointArea, pointAreaSize, kStoreLinarr, 8);
  vertexCount = 0;
  if (tracingMode == 0 && !colorMode) inkFlag = static_cast<int16_t>(TemplatePixel(b.x, b.y));

  bool startSegment = true;
  for (;;) {
    if (startSegment) {
      startSegment = false;
      if (gUserAbort) break;
      if (vertexCount * static_cast<int32_t>(sizeof(VertexRecord)) > kMaxRecordBytes) return false;
      PlaceVertex(b.x, b.y, b.pos);
      BeginSegment(b);
    }
    uint8_t code = ChainByte(b.pos);
    if (code > 7 || gUserAbort) {
      // The end mark.
      if (b.centerline && vertexCount == 1 && b.edgeCount > 0 && !gUserAbort) {
        int32_t k = LookBack(b, b.edgeCount - 1);
        EdgePoint p = GetEdge(b.edgeCount - 1 - k);
        b.pos -= k + 1;
        b.x = p.x;
        b.y = p.y;
        startSegment = true;
        continue;
      }
      break;
    }
    int32_t prevX = b.x, prevY = b.y;
    b.x += kStepX[code];
    b.y += kStepY[code];
    b.pos += 1;
    b.forceFar = false;
    if (b.centerline && LoopTest(b, prevX, prevY)) {
      if (vertexCount * static_cast<int32_t>(sizeof(VertexRecord)) > kMaxRecordBytes) return false;
      continue;
    }
    if (b.junctions && JunctionCrossing(b)) {
      if (vertexCount * static_cast<int32_t>(sizeof(VertexRecord)) > kMaxRecordBytes) return false;
      continue;
    }
    int32_t dev = b.cand >= 0 ? Deviation(b, false) : Deviation(b, true);
    if (b.cand >= 0 && dev >= b.tol) {
      EdgePoint c = GetEdge(b.cand);
      b.havePrevCand = true;
      b.pcx = c.x;
      b.pcy = c.y;
      b.cand = -1;
      dev = Deviation(b, true);
    }
    if (b.forceFar && dev < 999) dev = 999;
    bool accepted = dev < b.tol || (b.centerline && b.cand < 0 && b.hist[4] < b.tol);
    if (accepted) {
      PushHistory(b, dev);
      AppendEdge(b);
      if (b.cand < 0 && b.edgeCount > 20 && dev < b.tol) {
        int32_t k = LookBack(b, b.edgeCount - 1);
        if (k >= 2) {
          int32_t index = b.edgeCount - 1 - k;
          EdgePoint p = GetEdge(index);
          int32_t ddx = p.x - b.pcx, ddy = p.y - b.pcy;
          if (!b.havePrevCand || ddx * ddx + ddy * ddy >= 30) {
            b.cand = index;
            b.pos -= k;
            b.x = p.x;
            b.y = p.y;
            CutEdges(b, index + 1);
            for (int i = 4; i >= 0; --i) b.hist[i] = i - k >= 0 ? b.hist[i - k] : 999;
          }
        }
      }
      continue;
    }
    // The segment ends where the deviation began to rise. The newest history
    // entry is the last accepted point's, so the walk steps back over the
    // rejected step and then k more.
    int32_t k = LookBack(b, b.edgeCount - 1);
    if (b.edgeCount == 0) {
      // Nothing accepted yet: the step itself becomes the vertex.
      startSegment = true;
      continue;
    }
    EdgePoint p = GetEdge(b.edgeCount - 1 - k);
    b.pos -= k + 1;
    b.x = p.x;
    b.y = p.y;
    startSegment = true;
  }
  PlaceVertex(b.x, b.y, b.pos);
  VertexRecord end{-1, -1, 0, 0};
  PutVertex(vertexCount, end);
  return true;
}

// Line recognition's end snap for a vertex, when both methods are on.
int LineSnap(int32_t index, VertexRecord& v) {
  const ConversionSettings* s = gConvSettings;
  if ((s->methodFlags & (Method::centerline | Method::lineRecognition)) !=
      (Method::centerline | Method::lineRecognition))
    return 0;
  int16_t x = v.x, y = v.y;
  int r = SnapCenterlineEnd(&x, &y);
  if (x != v.x || y != v.y) {
    v.x = x;
    v.y = y;
    PutVertex(index, v);
  }
  return r;
}

int32_t JunctionOffset(int32_t i, const VertexRecord& v, int32_t ex, int32_t ey, int64_t d) {
  if (d == 0) return 0;
  double cross = static_cast<double>(ex) * (JunctionList[i].y - v.y) - static_cast<double>(ey) * (JunctionList[i].x - v.x);
  double o = 64.0 * cross * cross / static_cast<double>(d);
  return o > 2e9 ? 2000000000 : static_cast<int32_t>(o);
}

}  // namespace

VertexRecord GetVertex(int32_t index) {
  VertexRecord v;
  memcpy(&v, PagedAt(&vertexPages, index * 8, false), 8);
  return v;
}

void PutVertex(int32_t index, const VertexRecord& v) { memcpy(PagedAt(&vertexPages, index * 8, true), &v, 8); }

void MergeLongChain() {
  // Result of each pair: -2 no single step, -1 no step at all, else the code.
  static const int8_t kMerge[8][8] = {
      {-2, -2, -2, 1, -1, 7, -2, -2}, {-2, -2, -2, 2, 3, -1, 7, 0}, {-2, -2, -2, -2, -2, 3, -1, 1},
      {1, 2, -2, -2, -2, 4, 5, -1},   {-1, 3, -2, -2, -2, -2, -2, 5}, {7, -1, 3, 4, -2, -2, -2, 6},
      {-2, 7, -1, 5, -2, -2, -2, -2}, {0, 1, -1, -2, 5, 6, -2, -2}};
  int32_t count = chainCodes;
  uint8_t* codes = static_cast<uint8_t*>(MemAllocPtr(static_cast<size_t>(count) + 1));
  if (!codes) {
    chainStepCount = 0;
    return;
  }
  int32_t n = 0;
  int pending = -1;
  for (int32_t i = 0; i < count; ++i) {
    uint8_t c = ChainByte(kChainHeader + i);
    if (c > 7) break;
    if (pending >= 0 && kMerge[pending][c] != -2) {
      pending = kMerge[pending][c];  // -1: both steps cancel
      continue;
    }
    if (pending >= 0) codes[n++] = static_cast<uint8_t>(pending);
    pending = c;
  }
  if (pending >= 0) codes[n++] = static_cast<uint8_t>(pending);
  for (int32_t i = 0; i < n; ++i) SetChainByte(kChainHeader + i, codes[i]);
  SetChainByte(kChainHeader + n, kChainEnd);
  MemFreePtr(codes);
  chainStepCount = count - n < 201 ? 0 : n;
  chainCodes = n;
}

void BuildPolygon() {
  if (!pointArea || !edgeListArea) return;
  while (chainStepCount > 64000 && !gUserAbort) MergeLongChain();
  int32_t tol = polygonTolerance;
  if (tracingMode == 1 && tol < 300) tol = 300;
  if (tol <= 0) tol = 64;
  EdgeSummary summary;
  while (!Build(tol, &summary) && !gUserAbort) tol *= 2;
  EdgeSummaryFree(&summary);
  if (!gUserAbort) gHost.polygonBuilt();
}

namespace {

// The junction that vertex `index` snaps to, -1 when none does (then line
// recognition's end snap decides). *fresh tells that it is an unused one.
int32_t ChooseJunction(int32_t index, const VertexRecord& v, bool* fresh) {
  *fresh = false;
  if (!HaveJunctions()) return -1;
  SeekJunctionRows(v.y);
  int32_t used = -1, usedDist = junctionSnapLimit, unused = -1, unusedDist = junctionSnapLimit;
  for (int32_t i = junctionSearchIndex; i < junctionCount && JunctionList[i].y <= v.y + 7; ++i) {
    if (i == 0 || i == junctionCount - 1) continue;
    int32_t d = CappedSquare(JunctionList[i].x - v.x) + CappedSquare(JunctionList[i].y - v.y);
    if (JunctionUsed(i)) {
      if (d < usedDist) {
        usedDist = d;
        used = i;
      }
    } else if (d < unusedDist && (used < 0 || d < usedDist)) {
      unusedDist = d;
      unused = i;
    }
  }
  if (used < 0 && unused < 0) return -1;

  // The edge considered: to the next vertex for the first, else to the
  // previous one; neighbours equal to the vertex are passed over.
  VertexRecord prev = v, next = v;
  bool havePrev = false, haveNext = false;
  for (int32_t i = index - 1; i >= 0; --i) {
    prev = GetVertex(i);
    if (prev.x != v.x || prev.y != v.y) {
      havePrev = true;
      break;
    }
  }
  for (int32_t i = index + 1;; ++i) {
    next = GetVertex(i);
    if (next.x < 0) break;
    if (next.x != v.x || next.y != v.y) {
      haveNext = true;
      break;
    }
  }
  const VertexRecord& other = index == 0 ? next : prev;
  bool haveOther = index == 0 ? haveNext : havePrev;
  int32_t ex = haveOther ? other.x - v.x : 0, ey = haveOther ? other.y - v.y : 0;
  int64_t d = static_cast<int64_t>(ex) * ex + static_cast<int64_t>(ey) * ey;
  const bool centerline = tracingMode == 1;
  const int32_t j = junctionSnapLimit;

  int32_t target = -1;
  if (used >= 0) {
    int32_t offUsed = JunctionOffset(used, v, ex, ey, d);
    bool takeUnused = false;
    if (unused >= 0) {
      int32_t ux = JunctionList[used].x, uy = JunctionList[used].y;
      int32_t around = (havePrev ? CappedSquare(prev.x - ux) + CappedSquare(prev.y - uy) : 0) +
                       (haveNext ? CappedSquare(next.x - ux) + CappedSquare(next.y - uy) : 0);
      int32_t offUnused = JunctionOffset(unused, v, ex, ey, d);
      takeUnused = (unusedDist <= usedDist && around <= usedDist) ||
                   (d > 80 && unusedDist < usedDist && offUnused < offUsed - 100);
    }
    if (!takeUnused) {
      if (centerline && d > 80 && offUsed > 14 * j) return -1;
      target = used;
    }
  }
  if (target < 0) {
    if (unused < 0) return -1;
    int32_t offUnused = JunctionOffset(unused, v, ex, ey, d);
    if (centerline && d > 36 && offUnused > 14 * j && (d > 80 || offUnused > 28 * j)) return -1;
    target = unused;
    *fresh = true;
  }
  return target;
}

}  // namespace

int SnapToJunction(int32_t index) {
  if (tracingMode != 1) return 0;
  VertexRecord v = GetVertex(index);
  bool fresh;
  int32_t target = ChooseJunction(index, v, &fresh);
  if (target < 0) return LineSnap(index, v);
  if (fresh) MarkJunctionUsed(target);
  v.x = JunctionList[target].x;
  v.y = JunctionList[target].y;
  PutVertex(index, v);
  LineSnap(index, v);
  return 1;
}

int32_t JunctionForVertex(int32_t index) {
  if (tracingMode != 1) return -1;
  bool fresh;
  return ChooseJunction(index, GetVertex(index), &fresh);
}
