// The deviation of the edge list from the chord, with group summaries that
// pass over the points whose contributions cannot beat the running maximum.
// A group's bound is never below any of its points' contributions:
// - the perpendicular part is the largest |cross| over the group's convex
//   hull (a linear function is largest at a hull vertex), put through the
//   same arithmetic as a single point (which only grows with |cross|);
// - the part beyond the chord's ends is 64 x the smaller of the farthest
//   bounding-box corner distances to the two ends, put through the same
//   previous-plus-one rule (which only grows with its argument).
// A group whose bound is not above the running maximum changes nothing, so
// the result equals the plain walk's. Straight runs, whose points all lie
// close to the chord, then cost a few groups per step instead of every point.
#include "engine/deviation.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int32_t kRecent = 2 * kEdgeFan;
constexpr int32_t kGroupStep = 64;    // groups per growth of a level's array
constexpr int32_t kPoolStep = 1024;   // hull vertices per growth of the pool
constexpr int32_t kGatherMax = 4096;  // candidate points of one hull

int64_t Cross(int64_t ox, int64_t oy, const EdgePoint& a, const EdgePoint& b) {
  return (a.x - ox) * (b.y - oy) - (a.y - oy) * (b.x - ox);
}

// The convex hull of pts[0..n) (sorted in place) into out; its vertex count.
// Collinear points are left out; a single point or a pair stays as it is.
int32_t ConvexHull(EdgePoint* pts, int32_t n, EdgePoint* out) {
  std::sort(pts, pts + n, [](const EdgePoint& a, const EdgePoint& b) { return a.x != b.x ? a.x < b.x : a.y < b.y; });
  n = static_cast<int32_t>(std::unique(pts, pts + n, [](const EdgePoint& a, const EdgePoint& b) {
                             return a.x == b.x && a.y == b.y;
                           }) - pts);
  if (n <= 2) {
    memcpy(out, pts, static_cast<size_t>(n) * sizeof(EdgePoint));
    return n;
  }
  int32_t k = 0;
  for (int32_t i = 0; i < n; ++i) {  // lower hull
    while (k >= 2 && Cross(out[k - 2].x, out[k - 2].y, out[k - 1], pts[i]) <= 0) --k;
    out[k++] = pts[i];
  }
  for (int32_t i = n - 2, low = k + 1; i >= 0; --i) {  // upper hull
    while (k >= low && Cross(out[k - 2].x, out[k - 2].y, out[k - 1], pts[i]) <= 0) --k;
    out[k++] = pts[i];
  }
  return k - 1;  // the first point closes the loop
}

template <typename T>
bool Grow(MemHandle* h, T** p, int32_t* capacity, int32_t need, int32_t step) {
  if (need <= *capacity) return true;
  int32_t cap = (need + step - 1) / step * step;
  size_t bytes = static_cast<size_t>(cap) * sizeof(T);
  if (*h == kNoMem) {
    *h = MemAlloc(bytes);
    if (*h == kNoMem) return false;
  } else if (!MemResize(*h, bytes)) {
    return false;
  }
  *p = static_cast<T*>(MemLock(*h));
  MemUnlock(*h);
  *capacity = cap;
  return true;
}

// Closes group `index` of `level` over the given candidate points.
void CloseGroup(EdgeSummary* s, int level, EdgePoint* pts, int32_t n, const EdgeGroup& box) {
  EdgeGroup g = box;
  g.hullStart = s->poolUsed;
  g.hullCount = -1;  // the bounding box stands in for the hull
  if (n <= kGatherMax) {
    // The hull is built in place and may briefly hold more than n points.
    if (!Grow(&s->poolHandle, &s->pool, &s->poolCapacity, s->poolUsed + 2 * n + 1, kPoolStep)) {
      s->failed = true;
      return;
    }
    g.hullCount = ConvexHull(pts, n, s->pool + s->poolUsed);
    s->poolUsed += g.hullCount;
  }
  if (!Grow(&s->groupHandles[level], &s->groups[level], &s->groupCapacity[level], s->groupCount[level] + 1,
            kGroupStep)) {
    s->failed = true;
    return;
  }
  s->groups[level][s->groupCount[level]++] = g;
}

void Widen(EdgeGroup* g, int16_t x0, int16_t y0, int16_t x1, int16_t y1) {
  g->x0 = std::min(g->x0, x0);
  g->y0 = std::min(g->y0, y0);
  g->x1 = std::max(g->x1, x1);
  g->y1 = std::max(g->y1, y1);
}

// Closes the groups that the newest point completed, level by level.
void CloseCompletedGroups(EdgeSummary* s) {
  EdgePoint pts[kGatherMax + 4];
  EdgeGroup box{32767, 32767, -32768, -32768, 0, 0};
  int32_t first = s->count - kEdgeFan;
  for (int32_t i = 0; i < kEdgeFan; ++i) {
    pts[i] = s->recent[(first + i) % kRecent];
    Widen(&box, pts[i].x, pts[i].y, pts[i].x, pts[i].y);
  }
  CloseGroup(s, 0, pts, kEdgeFan, box);
  for (int level = 1; level < kEdgeLevels && !s->failed; ++level) {
    int32_t children = s->groupCount[level - 1];
    if (children == 0 || children % kEdgeFan != 0) break;
    box = EdgeGroup{32767, 32767, -32768, -32768, 0, 0};
    int32_t n = 0;
    for (int32_t c = children - kEdgeFan; c < children; ++c) {
      const EdgeGroup& child = s->groups[level - 1][c];
      Widen(&box, child.x0, child.y0, child.x1, child.y1);
      if (child.hullCount >= 0 && n + child.hullCount <= kGatherMax) {
        memcpy(pts + n, s->pool + child.hullStart, static_cast<size_t>(child.hullCount) * sizeof(EdgePoint));
        n += child.hullCount;
      } else if (n + 4 <= kGatherMax) {
        // A child without a hull lends its box's corners, which enclose its points.
        pts[n++] = {child.x0, child.y0};
        pts[n++] = {child.x1, child.y0};
        pts[n++] = {child.x0, child.y1};
        pts[n++] = {child.x1, child.y1};
      } else {
        n = kGatherMax + 1;  // too many: the box alone
      }
    }
    CloseGroup(s, level, pts, n, box);
  }
}

// An upper bound of the contributions of a group's points.
int32_t GroupBound(const EdgeSummary* s, const EdgeGroup& g, const Chord& c, int32_t previous) {
  int32_t a0 = c.mainX ? g.x0 : g.y0, a1 = c.mainX ? g.x1 : g.y1;
  int64_t bound = 0;
  if (a1 >= c.lo && a0 <= c.hi && c.d != 0) {
    int64_t best = 0;
    auto take = [&](int32_t px, int32_t py) {
      int64_t cross = static_cast<int64_t>(c.cx) * (py - c.ys) - static_cast<int64_t>(c.cy) * (px - c.xs);
      if (cross < 0) cross = -cross;
      if (cross > best) best = cross;
    };
    if (g.hullCount >= 0) {
      for (int32_t i = 0; i < g.hullCount; ++i) take(s->pool[g.hullStart + i].x, s->pool[g.hullStart + i].y);
    } else {
      take(g.x0, g.y0);
      take(g.x1, g.y0);
      take(g.x0, g.y1);
      take(g.x1, g.y1);
    }
    double cross = static_cast<double>(best);
    double v = 64.0 * cross * cross / static_cast<double>(c.d);
    bound = v >= 9999 ? 9999 : static_cast<int32_t>(v);
  }
  if (a0 < c.lo || a1 > c.hi) {
    auto farthest = [&](int32_t px, int32_t py) {
      int64_t fx = std::max(std::abs(g.x0 - px), std::abs(g.x1 - px));
      int64_t fy = std::max(std::abs(g.y0 - py), std::abs(g.y1 - py));
      return fx * fx + fy * fy;
    };
    int64_t v = 64 * std::min(farthest(c.xs, c.ys), farthest(c.x, c.y));
    if (v > 1000000000) v = 1000000000;
    if (v <= previous && previous < 999) v = previous + 1;
    bound = std::max(bound, v);
  }
  return static_cast<int32_t>(bound);
}

struct Walk {
  const EdgeSummary* s;
  const Chord& chord;
  int32_t previous;
  EdgeReader read;
  int32_t dev;
  int32_t best;  // index of the point that set dev, -1 none
  EdgePoint bestPoint;

  void Consider(int32_t i, EdgePoint p) {
    int32_t v = chord.Deviation(p.x, p.y, previous);
    if (v > dev) {
      dev = v;
      best = i;
      bestPoint = p;
    }
  }

  void Visit(int level, int32_t index) {
    const EdgeGroup& g = s->groups[level][index];
    if (GroupBound(s, g, chord, previous) <= dev) return;
    int32_t first = index * kEdgeFan;
    if (level == 0) {
      for (int32_t i = first; i < first + kEdgeFan; ++i) Consider(i, read(i));
    } else {
      for (int32_t c = first; c < first + kEdgeFan; ++c) Visit(level - 1, c);
    }
  }
};

}  // namespace

Chord::Chord(int32_t startX, int32_t startY, int32_t endX, int32_t endY)
    : xs(startX), ys(startY), x(endX), y(endY), cx(endX - startX), cy(endY - startY) {
  d = static_cast<int64_t>(cx) * cx + static_cast<int64_t>(cy) * cy;
  mainX = static_cast<int64_t>(cx) * cx > static_cast<int64_t>(cy) * cy;
  int32_t a0 = mainX ? xs : ys, a1 = mainX ? x : y;
  lo = a0 < a1 ? a0 : a1;
  hi = a0 < a1 ? a1 : a0;
}

int32_t Chord::Deviation(int32_t px, int32_t py, int32_t previous) const {
  int32_t along = mainX ? px : py;
  if (along >= lo && along <= hi) {
    if (d == 0) return 0;
    double cross = static_cast<double>(cx) * (py - ys) - static_cast<double>(cy) * (px - xs);
    double v = 64.0 * cross * cross / static_cast<double>(d);
    return v >= 9999 ? 9999 : static_cast<int32_t>(v);
  }
  int64_t d0 = static_cast<int64_t>(px - xs) * (px - xs) + static_cast<int64_t>(py - ys) * (py - ys);
  int64_t d1 = static_cast<int64_t>(px - x) * (px - x) + static_cast<int64_t>(py - y) * (py - y);
  int64_t v = 64 * (d0 < d1 ? d0 : d1);
  if (v > 1000000000) v = 1000000000;
  if (v <= previous && previous < 999) v = previous + 1;
  return static_cast<int32_t>(v);
}

void EdgeSummaryReset(EdgeSummary* s) {
  for (int32_t& n : s->groupCount) n = 0;
  s->poolUsed = 0;
  s->count = 0;
  s->failed = false;
  s->seed = -1;
}

void EdgeSummaryAppend(EdgeSummary* s, int16_t x, int16_t y) {
  s->recent[s->count % kRecent] = {x, y};
  ++s->count;
  if (!s->failed && s->count % kEdgeFan == 0) CloseCompletedGroups(s);
}

void EdgeSummaryTruncate(EdgeSummary* s, int32_t count, EdgeReader read) {
  if (count >= s->count) return;
  int32_t old = s->count;
  s->count = count;
  if (s->seed >= count) s->seed = -1;
  int32_t span = kEdgeFan;
  for (int level = 0; level < kEdgeLevels; ++level, span *= kEdgeFan) {
    while (s->groupCount[level] > count / span) {
      --s->groupCount[level];
      s->poolUsed = std::min(s->poolUsed, s->groups[level][s->groupCount[level]].hullStart);
    }
  }
  // The open block's points, unless they are still among the recent ones.
  for (int32_t i = count / kEdgeFan * kEdgeFan; i < count; ++i)
    if (old - i > kRecent) s->recent[i % kRecent] = read(i);
}

int32_t EdgeSummaryDeviation(EdgeSummary* s, const Chord& chord, int32_t previous, int32_t initial,
                             int32_t count, EdgeReader read) {
  Walk w{s, chord, previous, read, initial, -1, {0, 0}};
  if (s->failed || count != s->count) {
    for (int32_t i = 0; i < count; ++i) w.Consider(i, read(i));
    return w.dev;
  }
  // The point that gave the largest contribution last time usually gives it
  // again: taking it first lets most groups be passed over.
  if (s->seed >= 0) w.Consider(s->seed, s->seedPoint);
  int top = kEdgeLevels - 1;
  while (top > 0 && s->groupCount[top] == 0) --top;
  for (int level = top; level >= 0; --level) {
    int32_t from = level + 1 < kEdgeLevels ? s->groupCount[level + 1] * kEdgeFan : 0;
    for (int32_t k = from; k < s->groupCount[level]; ++k) w.Visit(level, k);
  }
  for (int32_t i = s->groupCount[0] * kEdgeFan; i < count; ++i) w.Consider(i, s->recent[i % kRecent]);
  if (w.best >= 0) {
    s->seed = w.best;
    s->seedPoint = w.bestPoint;
  }
  return w.dev;
}

void EdgeSummaryFree(EdgeSummary* s) {
  for (int level = 0; level < kEdgeLevels; ++level) {
    MemFree(s->groupHandles[level]);
    s->groupHandles[level] = kNoMem;
    s->groups[level] = nullptr;
    s->groupCapacity[level] = 0;
  }
  MemFree(s->poolHandle);
  s->poolHandle = kNoMem;
  s->pool = nullptr;
  s->poolCapacity = 0;
  EdgeSummaryReset(s);
}
