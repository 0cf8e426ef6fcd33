// The deviation over the whole edge list, through the group summaries, is
// the plain walk's to the last unit: compared with a reference that takes
// every point by the plain rule, step by step along long and random chains
// grown and cut back as the polygon builder grows and cuts its edge list.
#include "engine/deviation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "tests/support/support.h"

namespace {

std::vector<EdgePoint> gList;  // the edge list the summaries read from

EdgePoint Read(int32_t i) { return gList[static_cast<size_t>(i)]; }

// The plain rule for one point against the chord from (xs, ys) to (x, y).
int32_t Plain(int32_t xs, int32_t ys, int32_t x, int32_t y, EdgePoint p, int32_t previous) {
  int64_t cx = x - xs, cy = y - ys, d = cx * cx + cy * cy;
  bool mainX = cx * cx > cy * cy;
  int32_t along = mainX ? p.x : p.y, a0 = mainX ? xs : ys, a1 = mainX ? x : y;
  if (along >= std::min(a0, a1) && along <= std::max(a0, a1)) {
    if (d == 0) return 0;
    double cross = static_cast<double>(cx) * (p.y - ys) - static_cast<double>(cy) * (p.x - xs);
    double v = 64.0 * cross * cross / static_cast<double>(d);
    return v >= 9999 ? 9999 : static_cast<int32_t>(v);
  }
  int64_t d0 = (p.x - xs) * int64_t(p.x - xs) + (p.y - ys) * int64_t(p.y - ys);
  int64_t d1 = (p.x - x) * int64_t(p.x - x) + (p.y - y) * int64_t(p.y - y);
  int64_t v = std::min<int64_t>(64 * std::min(d0, d1), 1000000000);
  if (v <= previous && previous < 999) v = previous + 1;
  return static_cast<int32_t>(v);
}

int32_t Reference(const Chord& c, int32_t previous, int32_t initial) {
  int32_t dev = initial;
  for (const EdgePoint& p : gList) dev = std::max(dev, Plain(c.xs, c.ys, c.x, c.y, p, previous));
  return dev;
}

// A chain of 8-neighbour steps: straight runs at a random slope with a
// little noise, sharp turns, and runs that double back on themselves.
std::vector<EdgePoint> Chain(std::mt19937& rng, int32_t length, int x, int y) {
  std::vector<EdgePoint> pts;
  std::uniform_real_distribution<double> unit(0, 1);
  double fx = x, fy = y;
  while (static_cast<int32_t>(pts.size()) < length) {
    double angle = unit(rng) * 2 * M_PI;
    int run = 20 + static_cast<int>(unit(rng) * unit(rng) * 3000);
    double noise = unit(rng) < 0.5 ? 0 : unit(rng) * 2;
    for (int k = 0; k < run && static_cast<int32_t>(pts.size()) < length; ++k) {
      double nx = fx + std::cos(angle) + (unit(rng) - 0.5) * noise;
      double ny = fy + std::sin(angle) + (unit(rng) - 0.5) * noise;
      int sx = static_cast<int>(std::lround(nx)) - x, sy = static_cast<int>(std::lround(ny)) - y;
      sx = std::clamp(sx, -1, 1);
      sy = std::clamp(sy, -1, 1);
      if (x + sx < 0 || x + sx > 32767 || y + sy < 0 || y + sy > 32767) break;
      fx = nx;
      fy = ny;
      if (sx == 0 && sy == 0) continue;
      x += sx;
      y += sy;
      pts.push_back({static_cast<int16_t>(x), static_cast<int16_t>(y)});
    }
  }
  return pts;
}

// Grows the list point by point from (chain[0]) and compares the summaries
// with the reference at every `every`-th step; cuts the list back now and
// then by up to four points (as a new candidate does) or deep.
void Compare(std::mt19937& rng, const std::vector<EdgePoint>& chain, int every, EdgeSummary* s) {
  gList.clear();
  EdgeSummaryReset(s);
  std::uniform_int_distribution<int> pick(0, 999);
  int32_t xs = chain[0].x, ys = chain[0].y, previous = 999;
  size_t steps = 0;
  for (size_t i = 1; i < chain.size(); ++i) {
    const EdgePoint& cur = chain[i];
    Chord c(xs, ys, cur.x, cur.y);
    int32_t initial = pick(rng) < 20 ? 999 : 0;
    int32_t fast = EdgeSummaryDeviation(s, c, previous, initial, static_cast<int32_t>(gList.size()), Read);
    if (++steps % every == 0 || i + 1 == chain.size()) {
      ASSERT_EQ(fast, Reference(c, previous, initial))
          << "step " << i << " of " << chain.size() << ", " << gList.size() << " points";
    }
    previous = pick(rng) < 300 ? 999 : fast;
    gList.push_back(cur);
    EdgeSummaryAppend(s, cur.x, cur.y);
    int r = pick(rng);
    if (r < 15 && gList.size() > 5) {
      size_t cut = gList.size() - 1 - static_cast<size_t>(pick(rng) % 4);
      gList.resize(cut);
      EdgeSummaryTruncate(s, static_cast<int32_t>(cut), Read);
    } else if (r == 999) {
      size_t cut = static_cast<size_t>(pick(rng)) * gList.size() / 1000;
      gList.resize(cut);
      EdgeSummaryTruncate(s, static_cast<int32_t>(cut), Read);
    }
  }
}

using DeviationTest = TessTest;

TEST_F(DeviationTest, SummariesGiveThePlainWalksDeviationOnRandomChains) {
  std::mt19937 rng(12345);
  EdgeSummary s;
  for (int round = 0; round < 40; ++round) {
    std::vector<EdgePoint> chain = Chain(rng, 200 + static_cast<int32_t>(rng() % 1800), 16384, 16384);
    Compare(rng, chain, 1, &s);
    if (HasFatalFailure()) break;
  }
  EdgeSummaryFree(&s);
}

TEST_F(DeviationTest, SummariesGiveThePlainWalksDeviationOnLongRuns) {
  // Straight runs of tens of thousands of points fill every level of groups;
  // one starts at the far corner of the coordinate range.
  std::mt19937 rng(777);
  EdgeSummary s;
  struct Case {
    double dx, dy;
    int x, y;
  } cases[] = {{1, 0, 10, 100}, {0, 1, 100, 10}, {1, 0.37, 0, 0}, {-1, -0.0123, 32767, 32767}, {0.7, 0.7, 5, 5}};
  for (const Case& c : cases) {
    std::vector<EdgePoint> chain;
    for (int32_t k = 0; k < 30000; ++k)
      chain.push_back({static_cast<int16_t>(c.x + std::lround(k * c.dx)), static_cast<int16_t>(c.y + std::lround(k * c.dy))});
    Compare(rng, chain, 211, &s);
    if (HasFatalFailure()) break;
  }
  std::vector<EdgePoint> wandering = Chain(rng, 70000, 16000, 16000);
  Compare(rng, wandering, 331, &s);
  EdgeSummaryFree(&s);
}

TEST_F(DeviationTest, WithoutMemoryForTheSummariesEveryPointIsWalked) {
  std::mt19937 rng(99);
  EdgeSummary s;
  std::vector<EdgePoint> chain = Chain(rng, 5000, 1000, 1000);
  MemFailAbove(1);  // no summary can be had
  Compare(rng, chain, 1, &s);
  MemResetFailures();
  EXPECT_TRUE(s.failed);
  EdgeSummaryFree(&s);
  EXPECT_FALSE(s.failed);
}

}  // namespace
