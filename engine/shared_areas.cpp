// Shared-boundary areas: the areas of a color or grayscale conversion, which
// the thinned boundary map separates, and the shapes that a black-and-white
// drawing's skeleton lines enclose (Separate Shapes), each become a closed
// path along the one-pixel lines around it, and neighbours meet on exactly
// the same segments.
//
// The lines (black pixels of the working bitmap, left untouched by the
// pass) are a plane graph: pixels are joined to their four edge neighbours,
// and diagonally only where both pixels that the two share are white, so
// that no three pixels make a triangle. An area is a 4-connected set of
// white pixels; it is found by a fill and its outer boundary is walked along
// its cracks, taking at each crack the line pixel on the far side (and the
// corner pixel at an outer corner when it is black). The walk is cut into
// runs at the pixels where lines meet or end (a degree other than two); a
// loop without such a pixel starts at its first pixel in row order. Each run
// is traced, polygon-built and fitted once (Part of the tracer, the polygon
// builder and the fitter in the shared-boundary mode) and kept by its
// first pixel and first step, in both directions; the area on its other
// side takes the same segments backwards. Every area's path is the chain of
// its runs' segments, so that no gap and no overlap can open between
// neighbours. A run walked there and straight back (a line that ends inside
// the area) adds nothing to the area and is left out of its path.
//
// Areas are found in row order of their first pixel, so an area that
// encloses others comes before them: its path covers its holes and the
// enclosed areas are painted over it.
#include <cstring>
#include <unordered_map>
#include <vector>

#include "art/pathstore.h"
#include "engine/conversion.h"
#include "engine/custom_colors.h"
#include "engine/fitter.h"
#include "engine/polygon.h"
#include "engine/separation.h"
#include "engine/settings.h"
#include "engine/tracer.h"
#include "platform/string_ids.h"
#include "core/records.h"

namespace {

// The most point words an area's path is given: the path store grows a path
// 100 words at a time up to 32700 and wants room for a curve (6 words)
// beyond the last point, so a path stays below 32694 words; an area stops
// adding segments once it has this many (with room for one more curve).
constexpr int32_t kMaxPathWords = 32600;

struct Pixel {
  int16_t x, y;
};

// One fitted run.
struct Run {
  RunSink fit;
  std::vector<Pixel> pixels;  // kept for Separate Shapes, which removes used lines
  bool used = false;          // part of a path
  bool straight = false;      // its curves are drawn as straight segments by every area
};

// A run as an area walks it.
struct RunUse {
  int32_t run;
  bool backwards;
};

// The state of one pass, passed explicitly between its steps.
struct AreaPass {
  bool color;              // a color or gray conversion (else Separate Shapes)
  Separation* sep;
  uint8_t* lines;          // the working bitmap: the lines between areas
  uint8_t* remaining;      // white pixels not yet in an area
  uint8_t* remainingBlock;
  int width, height;       // the bitmap's geometry
  int32_t rowBytes;
  double centre;           // anchors on pixel corners (map) or centres (skeleton)
  std::vector<Run> runs;
  std::unordered_map<uint64_t, int32_t> runKeys;  // (pixel, first step) -> run * 2 + backwards
  // The fill.
  std::vector<Pixel> stack;
  std::vector<Pixel> walk;
  std::vector<int16_t> runPixels;
  std::vector<RunUse> uses;
  int searchY;
};

inline bool Bit(const uint8_t* bits, int32_t rowBytes, int x, int y) {
  return (bits[static_cast<size_t>(y) * rowBytes + (x >> 3)] >> (7 - (x & 7))) & 1;
}

// A line pixel; outside the bitmap everything counts as line, so that no walk
// leaves it.
inline bool Line(const AreaPass& p, int x, int y) {
  if (x < 0 || y < 0 || x >= p.width || y >= p.height) return true;
  return Bit(p.lines, p.rowBytes, x, y);
}

// The number of graph neighbours of a line pixel.
int Degree(const AreaPass& p, int x, int y) {
  int n = 0;
  bool e = Line(p, x + 1, y), w = Line(p, x - 1, y), s = Line(p, x, y + 1), nn = Line(p, x, y - 1);
  n = e + w + s + nn;
  if (!e && !nn && Line(p, x + 1, y - 1)) ++n;
  if (!e && !s && Line(p, x + 1, y + 1)) ++n;
  if (!w && !nn && Line(p, x - 1, y - 1)) ++n;
  if (!w && !s && Line(p, x - 1, y + 1)) ++n;
  return n;
}

// --- The fill ---------------------------------------------------------------

uint8_t* RemainingRow(AreaPass& p, int y) { return p.remaining + static_cast<size_t>(y) * p.rowBytes; }

// The first remaining pixel at or after (0, searchY) in row order.
bool NextSeed(AreaPass& p, Pixel* seed) {
  for (; p.searchY < p.height; ++p.searchY) {
    const uint8_t* row = RemainingRow(p, p.searchY);
    for (int32_t b = 0; b < p.rowBytes; ++b) {
      if (!row[b]) continue;
      int x = b * 8;
      while (!((row[b] >> (7 - (x & 7))) & 1)) ++x;
      *seed = {static_cast<int16_t>(x), static_cast<int16_t>(p.searchY)};
      return true;
    }
  }
  return false;
}

// Fills the 4-connected area of the seed: takes its pixels out of the
// remaining ones and hands each run of them to `span` (row, first, last).
template <typename Span>
void FillArea(AreaPass& p, Pixel seed, Span span) {
  p.stack.clear();
  p.stack.push_back(seed);
  while (!p.stack.empty()) {
    Pixel s = p.stack.back();
    p.stack.pop_back();
    uint8_t* row = RemainingRow(p, s.y);
    if (!Bit(row, 0, s.x, 0)) continue;
    int left = s.x, right = s.x;
    while (left > 0 && Bit(row, 0, left - 1, 0)) --left;
    while (right + 1 < p.width && Bit(row, 0, right + 1, 0)) ++right;
    for (int x = left; x <= right; ++x) row[x >> 3] &= static_cast<uint8_t>(~(0x80 >> (x & 7)));
    span(s.y, left, right);
    for (int dy = -1; dy <= 1; dy += 2) {
      int y = s.y + dy;
      if (y < 0 || y >= p.height) continue;
      const uint8_t* next = RemainingRow(p, y);
      bool inRun = false;
      for (int x = left; x <= right; ++x) {
        bool on = Bit(next, 0, x, 0);
        if (on && !inRun) p.stack.push_back({static_cast<int16_t>(x), static_cast<int16_t>(y)});
        inRun = on;
      }
    }
  }
}

// --- The walk ------------------------------------------------------------------

// Heading of a crack: east, south, west, north (y grows downward).
constexpr int kDx[4] = {1, 0, -1, 0};
constexpr int kDy[4] = {0, 1, 0, -1};
// Relative to the corner a crack ends at: the pixel left of the crack, the
// pixel ahead on the left and the pixel ahead on the right (the area is on
// the right).
constexpr int kLeft[4][2] = {{-1, -1}, {0, -1}, {0, 0}, {-1, 0}};
constexpr int kAheadLeft[4][2] = {{0, -1}, {0, 0}, {-1, 0}, {-1, -1}};
constexpr int kAheadRight[4][2] = {{0, 0}, {-1, 0}, {-1, -1}, {0, -1}};

// Walks the outer boundary of the area whose first pixel (in row order) is
// `seed`, collecting the line pixels around it in order (clockwise on the
// screen); the sequence is closed (its last pixel leads to its first).
void WalkArea(AreaPass& p, Pixel seed) {
  p.walk.clear();
  auto visit = [&p](int x, int y) {
    Pixel v{static_cast<int16_t>(x), static_cast<int16_t>(y)};
    if (!p.walk.empty() && p.walk.back().x == v.x && p.walk.back().y == v.y) return;
    p.walk.push_back(v);
  };
  // The crack along the top of the seed, heading east.
  const int startX = seed.x + 1, startY = seed.y, startH = 0;
  int cx = startX, cy = startY, h = startH;
  visit(seed.x, seed.y - 1);
  const int64_t cap = 4LL * p.width * p.height + 16;
  for (int64_t steps = 0; steps < cap; ++steps) {
    int alx = cx + kAheadLeft[h][0], aly = cy + kAheadLeft[h][1];
    int arx = cx + kAheadRight[h][0], ary = cy + kAheadRight[h][1];
    bool rightLine = Line(p, arx, ary), leftLine = Line(p, alx, aly);
    if (rightLine) {
      // An outer corner of the area: round it.
      if (leftLine) visit(alx, aly);
      visit(arx, ary);
      h = (h + 1) & 3;
    } else if (leftLine) {
      visit(alx, aly);
    } else {
      h = (h + 3) & 3;  // an inner corner: the line pixel stays the same
    }
    cx += kDx[h];
    cy += kDy[h];
    if (cx == startX && cy == startY && h == startH) break;
  }
  while (p.walk.size() > 1 && p.walk.back().x == p.walk.front().x && p.walk.back().y == p.walk.front().y)
    p.walk.pop_back();
}

// The direction code of the step from a to b (the tracer's codes).
int StepCode(Pixel a, Pixel b) {
  static const int8_t kCodeOf[9] = {2, 3, 4, 1, -1, 5, 0, 7, 6};
  return kCodeOf[(b.y - a.y + 1) * 3 + (b.x - a.x + 1)];
}

uint64_t RunKey(Pixel at, int code) {
  return static_cast<uint64_t>(static_cast<uint16_t>(at.x)) << 24 |
         static_cast<uint64_t>(static_cast<uint16_t>(at.y)) << 8 | static_cast<uint64_t>(code);
}

// Fits the run through `count` pixels of p.runPixels and keeps it. False on
// an abort.
bool FitNewRun(AreaPass& p, int32_t count, int32_t* index) {
  Run run;
  if (!LoadRunChain(p.runPixels.data(), count)) return false;
  BuildPolygon();
  if (PollUserAbort()) return false;
  ComputeCornerAngles();
  FitRun(&run.fit, p.centre);
  RestoreObjectArea();
  if (gUserAbort) return false;
  if (!run.fit.started) {
    // Nothing could be fitted (a run of no length): a line to its end.
    run.fit.started = true;
    run.fit.startX = p.runPixels[0] + p.centre;
    run.fit.startY = p.runPixels[1] + p.centre;
    run.fit.segments.push_back(RunSegment{false, 0, 0, 0, 0, p.runPixels[2 * count - 2] + p.centre,
                                          p.runPixels[2 * count - 1] + p.centre});
  }
  if (!p.color) {
    run.pixels.resize(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) run.pixels[static_cast<size_t>(i)] = {p.runPixels[2 * i], p.runPixels[2 * i + 1]};
  }
  *index = static_cast<int32_t>(p.runs.size());
  p.runs.push_back(std::move(run));
  return true;
}

// Cuts the walk into runs and finds or fits each; the area's uses of them
// go to p.uses, with runs walked there and straight back left out. False on
// an abort.
bool AreaRuns(AreaPass& p) {
  p.uses.clear();
  const int32_t n = static_cast<int32_t>(p.walk.size());
  if (n < 2) return true;
  std::vector<uint8_t> node(static_cast<size_t>(n));
  int32_t first = -1;
  for (int32_t i = 0; i < n; ++i) {
    node[static_cast<size_t>(i)] = Degree(p, p.walk[static_cast<size_t>(i)].x, p.walk[static_cast<size_t>(i)].y) != 2;
    if (node[static_cast<size_t>(i)] && first < 0) first = i;
  }
  if (first < 0) {
    // A loop without branches starts at its first pixel in row order.
    first = 0;
    for (int32_t i = 1; i < n; ++i) {
      const Pixel& a = p.walk[static_cast<size_t>(i)];
      const Pixel& b = p.walk[static_cast<size_t>(first)];
      if (a.y < b.y || (a.y == b.y && a.x < b.x)) first = i;
    }
    node[static_cast<size_t>(first)] = 1;
  }
  auto at = [&](int32_t k) -> const Pixel& { return p.walk[static_cast<size_t>((first + k) % n)]; };
  int32_t k = 0;
  while (k < n) {
    // The run from the node at k to the next node (or back to the first).
    int32_t end = k + 1;
    while (end < n && !node[static_cast<size_t>((first + end) % n)]) ++end;
    int32_t count = end - k + 1;
    Pixel a = at(k), b = at(k + 1);
    uint64_t key = RunKey(a, StepCode(a, b));
    auto found = p.runKeys.find(key);
    RunUse use;
    if (found != p.runKeys.end()) {
      use = RunUse{found->second / 2, (found->second & 1) != 0};
    } else {
      p.runPixels.resize(static_cast<size_t>(2 * count));
      for (int32_t i = 0; i < count; ++i) {
        const Pixel& q = at(k + i);
        p.runPixels[static_cast<size_t>(2 * i)] = q.x;
        p.runPixels[static_cast<size_t>(2 * i + 1)] = q.y;
      }
      int32_t index;
      if (!FitNewRun(p, count, &index)) return false;
      p.runKeys[key] = index * 2;
      Pixel last = at(end), before = at(end - 1);
      p.runKeys.emplace(RunKey(last, StepCode(last, before)), index * 2 + 1);
      use = RunUse{index, false};
    }
    // A run followed by itself backwards went out to a line's end and back.
    if (!p.uses.empty() && p.uses.back().run == use.run && p.uses.back().backwards != use.backwards) {
      p.uses.pop_back();
    } else {
      p.uses.push_back(use);
    }
    k = end;
  }
  while (p.uses.size() >= 2 && p.uses.front().run == p.uses.back().run &&
         p.uses.front().backwards != p.uses.back().backwards) {
    p.uses.pop_back();
    p.uses.erase(p.uses.begin());
  }
  return true;
}

// The point words the area's path needs, its runs' curves drawn as curves
// unless the run is straight.
int32_t PathWords(const AreaPass& p) {
  int32_t words = 2;
  for (const RunUse& u : p.uses) {
    const Run& run = p.runs[static_cast<size_t>(u.run)];
    for (const RunSegment& s : run.fit.segments) words += s.curve && !run.straight ? 6 : 2;
  }
  return words;
}

// Emits the area's path from its runs (the paint is in the path defaults).
void EmitArea(AreaPass& p) {
  if (p.uses.empty()) return;
  // A path holds at most 32767 words. An area whose boundary would need more
  // draws the curves of the runs no area has drawn yet as straight segments
  // between the same anchors, and so will the neighbour that shares each of
  // those runs: both sides of a boundary keep the same segments.
  if (PathWords(p) > kMaxPathWords)
    for (const RunUse& u : p.uses) {
      Run& run = p.runs[static_cast<size_t>(u.run)];
      if (!run.used) run.straight = true;
    }
  const RunUse& first = p.uses.front();
  const RunSink& f = p.runs[static_cast<size_t>(first.run)].fit;
  const RunSegment& lastOfFirst = f.segments.back();
  penX = first.backwards ? lastOfFirst.x : f.startX;
  penY = first.backwards ? lastOfFirst.y : f.startY;
  BeginConversionPath(-1);
  if (gUserAbort) return;
  int32_t words = 2;
  for (const RunUse& u : p.uses) {
    Run& run = p.runs[static_cast<size_t>(u.run)];
    run.used = true;
    const std::vector<RunSegment>& segs = run.fit.segments;
    const int32_t m = static_cast<int32_t>(segs.size());
    for (int32_t j = 0; j < m && words < kMaxPathWords; ++j) {
      const RunSegment& s = segs[static_cast<size_t>(u.backwards ? m - 1 - j : j)];
      bool curve = s.curve && !run.straight;
      if (!u.backwards) {
        if (curve) {
          ctrl1X = s.c1x;
          ctrl1Y = s.c1y;
          ctrl2X = s.c2x;
          ctrl2Y = s.c2y;
        }
        penX = s.x;
        penY = s.y;
      } else {
        // Backwards a segment runs from its end anchor to its start anchor,
        // which is the end of the segment before it (or the run's start).
        const int32_t i = m - 1 - j;
        if (curve) {
          ctrl1X = s.c2x;
          ctrl1Y = s.c2y;
          ctrl2X = s.c1x;
          ctrl2Y = s.c1y;
        }
        penX = i > 0 ? segs[static_cast<size_t>(i - 1)].x : run.fit.startX;
        penY = i > 0 ? segs[static_cast<size_t>(i - 1)].y : run.fit.startY;
      }
      AddPathPoint(curve ? 1 : 0);
      words += curve ? 6 : 2;
      if (gUserAbort) return;
    }
  }
  // An area whose boundary needs more segments than a path holds even as
  // straight lines is cut short: the art is incomplete, and says so as a
  // dropped path does.
  if (words >= kMaxPathWords) {
    ++gDocument->droppedPathCount;
    gDocument->Set(Flag::pathsDroppedLimit);
  }
}

// --- Colors ---------------------------------------------------------------------------

// The paint of an area's path, from its color (and custom paint).
void SetAreaPaint(const AreaPass& p, uint32_t color) {
  curFillColor = color;
  curStrokeWidth = 0;
  if (p.sep->color) {
    curFillKind = kPaintProcess;
    curStrokeKind = kPaintProcess;
  } else {
    curFillKind = kPaintBlack;
    curStrokeKind = kPaintBlack;
  }
}

bool AllocRemaining(AreaPass& p) {
  size_t bytes = static_cast<size_t>(p.rowBytes) * (static_cast<size_t>(p.height) + 2);
  p.remainingBlock = static_cast<uint8_t*>(MemAllocPtr(bytes));
  if (!p.remainingBlock) return false;
  p.remaining = p.remainingBlock + p.rowBytes;
  return true;
}

// The white pixels of the image as the areas still to find; for Separate
// Shapes without the background, the white that reaches the image's edge.
void ResetRemaining(AreaPass& p) {
  for (int y = 0; y < p.height; ++y) {
    const uint8_t* src = p.lines + static_cast<size_t>(y) * p.rowBytes;
    uint8_t* dst = RemainingRow(p, y);
    for (int32_t b = 0; b < p.rowBytes; ++b) dst[b] = static_cast<uint8_t>(~src[b]);
    for (int x = p.width; x < p.rowBytes * 8; ++x) dst[x >> 3] &= static_cast<uint8_t>(~(0x80 >> (x & 7)));
  }
  p.searchY = 0;
  if (p.color) return;
  auto none = [](int, int, int) {};
  for (int x = 0; x < p.width; ++x) {
    if (Bit(RemainingRow(p, 0), 0, x, 0)) FillArea(p, Pixel{static_cast<int16_t>(x), 0}, none);
    int last = p.height - 1;
    if (Bit(RemainingRow(p, last), 0, x, 0))
      FillArea(p, Pixel{static_cast<int16_t>(x), static_cast<int16_t>(last)}, none);
  }
  for (int y = 0; y < p.height; ++y) {
    if (Bit(RemainingRow(p, y), 0, 0, 0)) FillArea(p, Pixel{0, static_cast<int16_t>(y)}, none);
    if (Bit(RemainingRow(p, y), 0, p.width - 1, 0))
      FillArea(p, Pixel{static_cast<int16_t>(p.width - 1), static_cast<int16_t>(y)}, none);
  }
}

// Separate Shapes: the lines that became the shapes' boundaries leave the
// skeleton; a branch point stays while a line that no shape used still
// leads from it, so that the centerlines afterwards join the shapes.
void RemoveUsedLines(AreaPass& p) {
  auto clear = [&p](int x, int y) {
    p.lines[static_cast<size_t>(y) * p.rowBytes + (x >> 3)] &= static_cast<uint8_t>(~(0x80 >> (x & 7)));
  };
  std::vector<Pixel> ends;
  for (const Run& run : p.runs) {
    if (!run.used || run.pixels.empty()) continue;
    for (size_t i = 1; i + 1 < run.pixels.size(); ++i) clear(run.pixels[i].x, run.pixels[i].y);
    ends.push_back(run.pixels.front());
    ends.push_back(run.pixels.back());
  }
  for (const Pixel& e : ends) {
    bool leads = false;
    for (int d = 0; d < 8 && !leads; ++d) {
      int x = e.x + kStepX[d], y = e.y + kStepY[d];
      if (x < 0 || y < 0 || x >= p.width || y >= p.height) continue;
      if (!Bit(p.lines, p.rowBytes, x, y)) continue;
      // A neighbour that is itself an end of a used run does not count.
      bool usedEnd = false;
      for (const Pixel& o : ends) usedEnd = usedEnd || (o.x == x && o.y == y);
      leads = !usedEnd;
    }
    if (!leads) clear(e.x, e.y);
  }
}

}  // namespace

int16_t SharedBoundaryPass() {
  const ConversionSettings* s = gConvSettings;
  AreaPass p{};
  p.color = colorMode != 0;
  p.sep = CurrentSeparation();
  p.lines = gWorkBits;
  p.width = gImage->width;
  p.height = gImage->height;
  p.rowBytes = gImage->rowBytes;
  // Map points are the image's cracks; skeleton lines run through pixel
  // centres.
  p.centre = p.color ? 0.0 : 0.5;
  if (lowMemoryMode || !maskBits || maskBits == gWorkBits || !AllocRemaining(p)) {
    StopWith(p.color ? kStrInsufficientMemory : kStrSeparateShapesNoMemory);
    return 1;
  }
  const int rule = p.color ? AreaRuleFor(s, p.sep) : -1;
  const bool statistics = rule == kRuleCode;
  const bool custom = rule == kRuleCustom;
  const bool tints = (s->colorFlags & ColorOption::generateTints) != 0;
  const bool taggedOnly = (s->optionFlags & Option::taggedOnly) != 0;
  std::vector<int16_t> areaCodes;
  std::vector<int32_t> areaWeights;
  AreaTally tally;
  // The paint of the centerlines that may follow is put back afterwards.
  const double strokeWidth = curStrokeWidth;
  tracingMode = -1;
  StartObjectSearch();
  posterizeLayers = static_cast<int16_t>(statistics ? 2 : 1);
  // Limited Colors looks at every area first (phase 1), then keeps the most
  // used codes and traces (phase 2).
  for (int phase = statistics ? 1 : 2; phase <= 2 && !gUserAbort; ++phase) {
    posterizeLayer = static_cast<int16_t>(statistics ? phase : 1);
    progressTitle = static_cast<int16_t>(!p.color                 ? kStrSepShapes
                                         : statistics || custom ? kStrPosterizing
                                                                : kStrProcessing);
    lastShownRow = -9999;
    ResetRemaining(p);
    if (phase == 2 && statistics) {
      ReduceAreaCodes(areaCodes.data(), areaWeights.data(), static_cast<int32_t>(areaCodes.size()), s->maxColors,
                      p.sep->color);
    }
    int32_t area = 0;
    Pixel seed;
    while (NextSeed(p, &seed)) {
      currentRow = seed.y;
      ShowRowProgress();
      if (PollUserAbort()) break;
      // The area's color.
      if (p.color) {
        bool vote = custom && phase == 2;
        if (vote && !BestColorBegin(p.sep->samples, tints, taggedOnly)) vote = false;
        AreaTallyBegin(&tally, vote ? kRuleCustom : statistics ? kRuleCode : rule == kRuleCustom ? kRuleMean : rule);
        FillArea(p, seed, [&](int y, int x0, int x1) { AreaTallySpan(&tally, p.sep, y, x0, x1); });
        if (phase == 1) {
          areaCodes.push_back(static_cast<int16_t>(AreaTallyCode(&tally)));
          areaWeights.push_back(tally.pixels > 0 ? tally.pixels : 1);
          ++area;
          continue;
        }
        uint32_t color;
        if (vote) {
          CustomPaint paint = BestColorEnd();
          curCustomColor = paint.index;
          curCustomTint = paint.tint;
          color = static_cast<uint32_t>(paint.color[0]) | static_cast<uint32_t>(paint.color[1]) << 8 |
                  static_cast<uint32_t>(paint.color[2]) << 16 | static_cast<uint32_t>(paint.color[3]) << 24;
        } else if (statistics) {
          int code = area < static_cast<int32_t>(areaCodes.size()) ? areaCodes[static_cast<size_t>(area)] : -1;
          color = code >= 0 ? CodeColor(code, p.sep->color) : AreaTallyColor(&tally, p.sep);
        } else {
          color = AreaTallyColor(&tally, p.sep);
        }
        SetAreaPaint(p, color);
      } else {
        FillArea(p, seed, [](int, int, int) {});
      }
      ++area;
      WalkArea(p, seed);
      if (!AreaRuns(p)) break;
      if (!p.color) {
        // The shape's stroke weight: the mean thickness measured along its
        // lines, unless every line has the uniform weight.
        double sum = 0;
        int32_t count = 0;
        for (const RunUse& u : p.uses) {
          sum += p.runs[static_cast<size_t>(u.run)].fit.weightSum;
          count += p.runs[static_cast<size_t>(u.run)].fit.weightCount;
        }
        if (count > 0) {
          double resY = gImage->resolutionY > 0 ? gImage->resolutionY : 300;
          curStrokeWidth = sum / count * 300 / resY;
        }
      }
      EmitArea(p);
      if (gUserAbort) break;
    }
  }
  if (!p.color && !gUserAbort) RemoveUsedLines(p);
  MemFreePtr(p.remainingBlock);
  tracingMode = 0;
  curStrokeWidth = strokeWidth;
  posterizeLayer = posterizeLayers = 0;
  return p.color || gUserAbort ? 1 : 0;
}
