// Line recognition. A horizontal scan (row by row) and a vertical scan
// (column by column) follow the long black runs of the working bitmap in a
// run-top array: one entry per column (row) holding the first row (column)
// of the stroke that covers it, the run's middle entry tracking its last
// one. When a stroke stops growing its band of entries gives its extent and
// width. The records are joined, closed into rectangles, written as stroked
// paths, and serve the centerline tracer for end snapping.
#include "engine/linerec.h"

#include <cstdlib>
#include <cstring>

#include "art/pathstore.h"
#include "core/records.h"
#include "engine/conversion.h"
#include "engine/settings.h"
#include "platform/string_ids.h"

LineRecord* horzLines = nullptr;
int16_t horzLineCount = 0;
LineRecord* vertLines = nullptr;
int16_t vertLineCount = 0;
LineParams lineParams{};

namespace {

constexpr uint16_t kEmpty = 65535;

struct LineArray {
  MemHandle handle = kNoMem;
  int16_t capacity = 0;
};
LineArray gHorz, gVert;
uint16_t* gTops = nullptr;       // the run-top array
uint8_t* gTemplateRow = nullptr;  // one template row for the ink tests
int16_t gTemplateRowY = -1;

// Probe memory of the running scan.
struct ProbeMemo {
  int16_t left, right;
  uint8_t top, bottom;
};
ProbeMemo gMemo[8];
int gMemoCount = 0;
bool gLastValid = false;
int gLastLeft = 0, gLastRight = 0, gLastBottom = 0;

inline int WorkBit(int x, int y) {
  if (x < 0 || y < 0 || x >= gImage->width || y >= gImage->height) return 0;
  return (gWorkBits[static_cast<ptrdiff_t>(y) * gImage->rowBytes + (x >> 3)] >> (7 - (x & 7))) & 1;
}

int TemplateBit(int x, int y) {
  if (x < 0 || y < 0 || x >= gImage->width || y >= gImage->height) return 0;
  if (!templateOnDisk && templateBits)
    return (templateBits[static_cast<ptrdiff_t>(y) * gImage->rowBytes + (x >> 3)] >> (7 - (x & 7))) & 1;
  if (!gTemplateRow) {
    gTemplateRow = static_cast<uint8_t*>(MemAllocPtr(static_cast<size_t>(gImage->rowBytes)));
    gTemplateRowY = -1;
    if (!gTemplateRow) return WorkBit(x, y);
  }
  if (gTemplateRowY != y) {
    ReadTemplateRow(static_cast<int16_t>(y), gTemplateRow);
    gTemplateRowY = static_cast<int16_t>(y);
  }
  return (gTemplateRow[x >> 3] >> (7 - (x & 7))) & 1;
}

void FreeArray(LineArray* a, LineRecord** records, int16_t* count) {
  if (a->handle != kNoMem) {
    MemUnlock(a->handle);
    MemFree(a->handle);
  }
  a->handle = kNoMem;
  a->capacity = 0;
  *records = nullptr;
  *count = 0;
}

bool AllocArray(LineArray* a, LineRecord** records) {
  a->handle = MemAlloc(20 * sizeof(LineRecord));
  if (a->handle == kNoMem) return false;
  a->capacity = 20;
  *records = static_cast<LineRecord*>(MemLock(a->handle));
  return true;
}

// One scan direction: `vertical` exchanges rows and columns, so that "u" is
// the position along a line and "v" the index of the line being scanned.
struct Scan {
  bool vertical;
  int lineLength;  // width (horizontal scan) or height
  int lineCount;   // height (horizontal scan) or width
  LineArray* array;
  LineRecord** records;
  int16_t* count;

  int Pix(int u, int v) const { return vertical ? WorkBit(v, u) : WorkBit(u, v); }
};

// Sets new record `n` exactly P div 2 apart from every earlier parallel it
// nearly coincides with.
void AlignParallels(LineRecord* r, int16_t n) {
  const LineParams& p = lineParams;
  int h = p.parallelSpacing / 2;
  LineRecord& nr = r[n];
  for (int16_t i = 0; i < n; ++i) {
    LineRecord& o = r[i];
    if (std::abs(o.pos - nr.pos) >= h) continue;
    if (!(nr.start + p.minRun < o.end && nr.end - p.minRun > o.start)) continue;
    int m = (o.pos + nr.pos - h) / 2;
    if (m < 0) m = 0;
    // Equal positions: the earlier record takes the smaller one.
    LineRecord& low = o.pos <= nr.pos ? o : nr;
    LineRecord& high = o.pos <= nr.pos ? nr : o;
    low.pos = static_cast<int16_t>(m);
    high.pos = static_cast<int16_t>(m + h);
  }
}

bool AddRecord(const Scan& s, int pos, int start, int end, int width) {
  LineArray* a = s.array;
  if (*s.count >= a->capacity) {
    MemUnlock(a->handle);
    bool ok = a->capacity <= 32767 - 20 &&
              MemResize(a->handle, static_cast<size_t>(a->capacity + 20) * sizeof(LineRecord));
    *s.records = static_cast<LineRecord*>(MemLock(a->handle));
    if (!ok) {
      StopWith(kStrInsufficientMemory);
      return false;
    }
    a->capacity = static_cast<int16_t>(a->capacity + 20);
  }
  LineRecord& r = (*s.records)[*s.count];
  r.pos = static_cast<int16_t>(pos);
  r.start = static_cast<int16_t>(start);
  r.end = static_cast<int16_t>(end);
  r.width = static_cast<int16_t>(width);
  r.state = kLineFree;
  AlignParallels(*s.records, (*s.count)++);
  return true;
}

// A short band is kept only as the top or bottom side of a box: the K pixels
// beside its centre line at both ends run the same way.
bool FreeEndTest(const Scan& s, int a, int b, int mid) {
  int k = lineParams.endCheckDepth;
  int x1 = a + 2, x2 = b - 2;
  auto run = [&](int dir) {
    for (int i = 1; i <= k; ++i)
      if (!s.Pix(x1, mid + dir * i) || !s.Pix(x2, mid + dir * i)) return false;
    return true;
  };
  return run(1) || run(-1);
}

// The run of column p (in scan terms) that starts at or just above `top`;
// returns false when there is none before `limit`.
bool RunAt(const Scan& s, int p, int top, int limit, int* r0, int* r1) {
  int r = top;
  if (r > 0 && s.Pix(p, r - 1)) r = r - 1;
  while (r <= limit && !s.Pix(p, r)) ++r;
  if (r > limit) return false;
  *r0 = r;
  while (r < s.lineCount && s.Pix(p, r)) ++r;
  *r1 = r;
  return true;
}

int NextRunBelow(const Scan& s, int p, int from, int hi) {
  for (int r = from; r <= hi; ++r)
    if (s.Pix(p, r)) return r;
  return kEmpty;
}

// Looks in column p of a long band for a line lying above a second one
// within the band; follows it sideways, records it, and leaves the entries
// of the columns it covered at the line below it.
bool Probe(const Scan& s, int p, int a, int b, int lo, int hi) {
  const LineParams& lp = lineParams;
  int start = lo;
  if (gLastValid && p >= gLastLeft && p <= gLastRight) start = gLastBottom + 1;
  int r0 = start;
  while (r0 < hi && !s.Pix(p, r0)) ++r0;
  if (r0 >= hi) return false;
  int r1 = r0;
  while (r1 < hi && s.Pix(p, r1)) ++r1;
  int r2 = r1;
  while (r2 < hi && !s.Pix(p, r2)) ++r2;
  if (r2 >= hi) return false;

  int top = r0, bottom = r1 - 1;
  int left = p, right = p;
  for (int dir : {1, -1}) {
    int prevTop = r0, prevBottom = r1 - 1;
    for (int col = dir > 0 ? p + 1 : p; dir > 0 ? col < b : col >= a; col += dir) {
      int t0, t1;
      if (!RunAt(s, col, prevTop, hi, &t0, &t1) || t0 > prevBottom) break;
      int end = t1 - 1;
      if (end > prevBottom + 1) end = prevBottom + 1;  // grows by one row per column at most
      gTops[col] = static_cast<uint16_t>(NextRunBelow(s, col, t1, hi));
      if (t0 < top) top = t0;
      if (end > bottom) bottom = end;
      prevTop = t0;
      prevBottom = end;
      if (dir > 0) right = col;
      else left = col;
    }
  }
  for (int i = 0; i < gMemoCount; ++i) {
    const ProbeMemo& m = gMemo[i];
    if (m.left == left && m.right == right && m.top == (top & 0xFF) && m.bottom == (bottom & 0xFF)) return false;
  }
  memmove(gMemo + 1, gMemo, sizeof gMemo - sizeof gMemo[0]);
  gMemo[0] = {static_cast<int16_t>(left), static_cast<int16_t>(right), static_cast<uint8_t>(top & 0xFF),
              static_cast<uint8_t>(bottom & 0xFF)};
  if (gMemoCount < 8) ++gMemoCount;

  // The line's thickness is measured like a band's: its rows from top to
  // bottom inclusive.
  int w = bottom - top + 1;
  int span = right - left + 1;
  if (span > lp.minLength && w < lp.maxWidth && span > w) {
    int t = (w < span ? w : span) / 2;
    // Ends half the width inside the ink's ends, left and right + 1, as for a
    // band's record.
    if (!AddRecord(s, (top + bottom) / 2, left + t, right + 1 - t, w)) return true;
  }
  if (gLastValid && left <= gLastRight && right >= gLastLeft && gLastBottom >= top) {
    if (left < gLastLeft) gLastLeft = left;
    if (right > gLastRight) gLastRight = right;
  } else {
    gLastLeft = left;
    gLastRight = right;
  }
  gLastBottom = bottom;
  gLastValid = true;
  return true;
}

void RunScan(Scan& s) {
  const LineParams& p = lineParams;
  int len = s.lineLength;
  for (int u = 0; u < len; ++u) gTops[u] = kEmpty;
  gMemoCount = 0;
  gLastValid = false;
  for (int y = 0; y < s.lineCount; ++y) {
    if (PollUserAbort()) return;
    currentRow = static_cast<int16_t>(s.vertical ? gImage->height + y : y);
    ShowRowProgress();
    int c = y - p.maxWidth;
    if (c < 0) c = 0;
    // The long runs of this line.
    for (int u = 0; u < len;) {
      if (!s.vertical && (u & 7) == 0 && u + 8 <= len) {
        uint8_t byte = gWorkBits[static_cast<ptrdiff_t>(y) * gImage->rowBytes + (u >> 3)];
        if (byte == 0) {
          u += 8;
          continue;
        }
      }
      if (!s.Pix(u, y)) {
        ++u;
        continue;
      }
      int a = u;
      while (u < len && s.Pix(u, y)) ++u;
      int b = u;
      if (b - a <= p.minRun) continue;
      gTops[(a + b) / 2] = static_cast<uint16_t>(y);
      for (int i = a; i < b; ++i) {
        if (gTops[i] > y) gTops[i] = static_cast<uint16_t>(y);
        if (gTops[i] < c) gTops[i] = static_cast<uint16_t>(c);
      }
    }
    // Bands of the entries; finished ones become records.
    auto splitBefore = [&](int u) {
      int e = gTops[u], q = gTops[u - 1];
      if (q < c && e >= c) return true;
      if (q == c && c != 0 && e == y && u + 1 < len && gTops[u + 1] == y) return true;
      if (e < c && q >= c) return true;
      if (e == c && c != 0 && q == y && u >= 2 && gTops[u - 2] == y) return true;
      return false;
    };
    int rescans = 0;
    for (int u = 0; u < len;) {
      if (gTops[u] > y) {
        ++u;
        continue;
      }
      int a = u;
      int lo = gTops[u], loAt = u, hi = gTops[u];
      for (++u; u < len && gTops[u] <= y && !splitBefore(u); ++u) {
        if (gTops[u] < lo) {
          lo = gTops[u];
          loAt = u;
        }
        if (gTops[u] > hi) hi = gTops[u];
      }
      int b = u;
      if (hi >= y && y != s.lineCount - 1) continue;  // still growing
      bool keep = hi > c && (b - a > p.minLength || FreeEndTest(s, a, b, (lo + hi) / 2));
      if (keep && b - a > len / 4) {
        int step = (b - a) / 4 - 1;
        if (step < 1) step = 1;
        bool found = false;
        for (int q = a + 2; q < b && !found; q += step) found = Probe(s, q, a, b, lo, hi);
        if (gUserAbort) return;
        if (found && rescans < 64) {
          // The probe left the columns it followed at the line below it.
          ++rescans;
          u = a;
          continue;
        }
        int mid = (a + b) / 2;
        int from = loAt < mid ? mid : a, to = loAt < mid ? b : mid;
        lo = kEmpty;
        for (int i = from; i < to; ++i)
          if (gTops[i] < lo) lo = gTops[i];
      }
      int w = hi - lo + 1;
      // A band no longer than it is thick is a blob cut off at the width
      // limit, not a line.
      if (keep && w <= p.maxWidth && b - a > w) {
        int t = (w < b - a ? w : b - a) / 2;
        if (!AddRecord(s, (lo + hi) / 2, a + t, b - t, w)) return;
      }
      for (int i = a; i < b; ++i) gTops[i] = kEmpty;
    }
  }
}

double WeightOf(int width) {
  const ConversionSettings* st = gConvSettings;
  if (st->methodFlags & Method::uniformWeight) return st->lineWeight / 100.0;
  double res = gImage->resolutionY > 0 ? gImage->resolutionY : 72;
  return width * 72.0 / res;
}

void SetLinePaint(double weight) {
  bool white = gConvSettings->optionFlags & Option::whiteLines;
  curFillColor = white ? 0 : 0xFF000000u;
  curFillKind = kPaintNone;
  curStrokeKind = white ? kPaintWhite : kPaintBlack;
  curStrokeWidth = weight;
}

// Where a recognized line lies, in pixels, so that its stroke (as wide as
// the line, with square caps) covers the pixels it was found on. A line on
// the rows (columns) lo..hi has pos = (lo + hi) / 2 and width hi - lo + 1, so
// its centre lies half a pixel past pos for an odd width and a whole pixel
// for an even one. Its ends stand half its width (rounded down) inside the
// ink's ends: the centre line starts half a pixel later and ends half a pixel
// earlier for an odd width, so that the caps reach the ink's ends exactly.
double Across(const LineRecord& r) { return r.pos + ((r.width & 1) ? 0.5 : 1.0); }
double AlongStart(const LineRecord& r) { return r.start + ((r.width & 1) ? 0.5 : 0.0); }
double AlongEnd(const LineRecord& r) { return r.end - ((r.width & 1) ? 0.5 : 0.0); }

void WritePath(const double (*pts)[2], int n, bool open) {
  penX = pts[0][0];
  penY = pts[0][1];
  BeginConversionPath(open ? 1 : 0);
  for (int i = 1; i < n && !gUserAbort; ++i) {
    penX = pts[i][0];
    penY = pts[i][1];
    AddPathPoint(0);
  }
}

void JoinCollinear(LineRecord* r, int16_t n) {
  int gap = lineParams.joinGap;
  for (int16_t i = 0; i < n; ++i) {
    if (r[i].state != kLineFree) continue;
    bool merged = true;
    while (merged) {
      merged = false;
      for (int16_t j = static_cast<int16_t>(i + 1); j < n; ++j) {
        LineRecord& o = r[j];
        if (o.state != kLineFree || std::abs(o.pos - r[i].pos) >= 4) continue;
        if (std::abs(o.start - r[i].end) >= gap && std::abs(o.end - r[i].start) >= gap) continue;
        r[i].start = r[i].start < o.start ? r[i].start : o.start;
        r[i].end = r[i].end > o.end ? r[i].end : o.end;
        r[i].pos = static_cast<int16_t>((r[i].pos + o.pos) / 2);
        r[i].width = r[i].width > o.width ? r[i].width : o.width;
        o.state = kLineJoined;
        merged = true;
      }
    }
  }
}

void FindRectangles() {
  const LineParams& p = lineParams;
  int T = p.cornerTolerance;
  bool uniform = gConvSettings->methodFlags & Method::uniformWeight;
  LineRecord* H = horzLines;
  LineRecord* V = vertLines;
  for (int16_t h1 = 0; h1 < horzLineCount && !gUserAbort; ++h1) {
    if (H[h1].state != kLineFree) continue;
    auto best = [&](LineRecord* arr, int from, int count, auto cost) {
      int at = -1, bestCost = T;
      for (int i = from; i < count; ++i) {
        if (arr[i].state != kLineFree) continue;
        int c0 = cost(arr[i]);
        if (c0 < bestCost) {
          bestCost = c0;
          at = i;
        }
      }
      return at;
    };
    int v1 = best(V, 0, vertLineCount,
                  [&](const LineRecord& v) { return std::abs(v.start - H[h1].pos) + std::abs(v.pos - H[h1].start); });
    if (v1 < 0) continue;
    int h2 = best(H, h1 + 1, horzLineCount,
                  [&](const LineRecord& h) { return std::abs(h.start - V[v1].pos) + std::abs(h.pos - V[v1].end); });
    if (h2 < 0) continue;
    int v2 = best(V, v1 + 1, vertLineCount,
                  [&](const LineRecord& v) { return std::abs(v.end - H[h2].pos) + std::abs(v.pos - H[h2].end); });
    if (v2 < 0) continue;
    if (std::abs(H[h1].end - V[v2].pos) + std::abs(H[h1].pos - V[v2].start) >= T) continue;
    LineRecord* sides[4] = {&H[h1], &V[v1], &H[h2], &V[v2]};
    int avg = (H[h1].width + V[v1].width + H[h2].width + V[v2].width + 2) / 4;
    if (!uniform) {
      bool even = true;
      for (LineRecord* sd : sides)
        if (std::abs(sd->width - avg) > p.widthTolerance) even = false;
      if (!even) continue;
    }
    SetLinePaint(WeightOf(avg));
    double left = Across(V[v1]), right = Across(V[v2]), top = Across(H[h1]), bottom = Across(H[h2]);
    const double pts[5][2] = {{left, top}, {right, top}, {right, bottom}, {left, bottom}, {left, top}};
    WritePath(pts, 5, false);
    for (LineRecord* sd : sides) {
      sd->width = static_cast<int16_t>(avg);
      sd->state = kLineInRectangle;
    }
  }
}

// The perpendicular line within the snap distance that the end at `x` (along
// a line at `y`) moves onto, -1 none.
int SnapEnd(int16_t x, int16_t y, const LineRecord* perp, int16_t n) {
  int snap = lineParams.snapDistance;
  int bestCost = snap + 1, at = -1;
  for (int16_t i = 0; i < n; ++i) {
    if (perp[i].state == kLineJoined) continue;
    int g = perp[i].start - y;
    if (y - perp[i].end > g) g = y - perp[i].end;
    if (g < 0) g = 0;
    if (g > snap) continue;
    int cost = std::abs(x - perp[i].pos) + g / 2;
    if (cost <= bestCost) {  // the last line with the smallest cost wins
      bestCost = cost;
      at = i;
    }
  }
  return at >= 0 && bestCost <= snap ? at : -1;
}

void WriteFreeLines(const LineRecord* r, int16_t n, const LineRecord* perp, int16_t pn, bool vertical) {
  for (int16_t i = 0; i < n && !gUserAbort; ++i) {
    if (r[i].state != kLineFree) continue;
    int sa = SnapEnd(r[i].start, r[i].pos, perp, pn);
    int sb = SnapEnd(r[i].end, r[i].pos, perp, pn);
    // A short line whose two ends snapped onto the same perpendicular line
    // has shrunk to a point: it is not written.
    int16_t a = sa >= 0 ? perp[sa].pos : r[i].start, b = sb >= 0 ? perp[sb].pos : r[i].end;
    if (a == b) continue;
    SetLinePaint(WeightOf(r[i].width));
    // A snapped end lies on the perpendicular line's centre.
    double from = sa >= 0 ? Across(perp[sa]) : AlongStart(r[i]);
    double to = sb >= 0 ? Across(perp[sb]) : AlongEnd(r[i]);
    double across = Across(r[i]);
    double pts[2][2];
    if (vertical) {
      pts[0][0] = pts[1][0] = across;
      pts[0][1] = from;
      pts[1][1] = to;
    } else {
      pts[0][1] = pts[1][1] = across;
      pts[0][0] = from;
      pts[1][0] = to;
    }
    WritePath(pts, 2, true);
  }
}

// Whether ink of the template leads from (x, y) to a line at (um, vl):
// `vertical` exchanges rows and columns. The walk steps toward the line
// where the ink goes that way and otherwise one step along the line toward
// its middle; once it has reached the line's row (or the middle's column) it
// walks straight toward the line while the ink lasts, and succeeds within 4
// of the line's centre. Stepping toward the line first keeps the walk as
// short as the distance to the line instead of half the line's length.
bool InkConnects(int x, int y, int um, int vl, bool vertical) {
  auto ink = [&](int u, int v) { return vertical ? TemplateBit(v, u) : TemplateBit(u, v); };
  int u = vertical ? y : x, v = vertical ? x : y;
  int du = um > u ? 1 : -1, dv = vl > v ? 1 : -1;
  if (!ink(u, v)) {
    v += dv;
    if (!ink(u, v)) return false;
  }
  while (u != um && v != vl) {
    if (ink(u, v + dv)) v += dv;
    else if (ink(u + du, v)) u += du;
    else return false;
  }
  while (std::abs(v - vl) >= 4) {
    v += dv;
    if (!ink(u, v)) return false;
  }
  return true;
}

}  // namespace

LineParams ComputeLineParams(int32_t s) {
  auto par = [s](int d) { return static_cast<int16_t>((s + d) / (2 * d)); };
  LineParams p;
  p.maxWidth = par(4);
  p.endCheckDepth = par(15);
  p.snapDistance = par(20);
  p.cornerTolerance = par(20);
  p.minRun = par(10);
  p.minLength = par(6);
  p.joinGap = par(36);
  p.parallelSpacing = par(20);
  p.widthTolerance = static_cast<int16_t>(s / 200 > 1 ? s / 200 : 1);
  return p;
}

void RecognizeLines() {
  ReleaseLineBuffers();
  if (!gWorkBits || gImage->width <= 0 || gImage->height <= 0) return;
  int32_t sum = static_cast<int32_t>(gImage->resolutionX + gImage->resolutionY);
  lineParams = ComputeLineParams(sum);
  int n = gImage->width > gImage->height ? gImage->width : gImage->height;
  gTops = static_cast<uint16_t*>(MemAllocPtr(static_cast<size_t>(n) * sizeof(uint16_t)));
  if (!gTops || !AllocArray(&gHorz, &horzLines) || !AllocArray(&gVert, &vertLines)) {
    ConversionNotice(kStrInsufficientMemory);  // the conversion goes on without line recognition
    ReleaseLineBuffers();
    return;
  }
  int16_t savedTitle = progressTitle, savedShown = lastShownRow;
  progressTitle = kStrLineRecognizing;
  lastShownRow = -9999;
  Scan horizontal{false, gImage->width, gImage->height, &gHorz, &horzLines, &horzLineCount};
  RunScan(horizontal);
  if (!gUserAbort) {
    Scan vertical{true, gImage->height, gImage->width, &gVert, &vertLines, &vertLineCount};
    RunScan(vertical);
  }
  progressTitle = savedTitle;
  lastShownRow = savedShown;
  MemFreePtr(gTops);
  gTops = nullptr;
}

void OutputLines() {
  if (!horzLines && !vertLines) return;
  uint32_t fill = curFillColor;
  uint8_t fillKind = curFillKind, strokeKind = curStrokeKind;
  double width = curStrokeWidth;
  JoinCollinear(horzLines, horzLineCount);
  JoinCollinear(vertLines, vertLineCount);
  FindRectangles();
  WriteFreeLines(horzLines, horzLineCount, vertLines, vertLineCount, false);
  WriteFreeLines(vertLines, vertLineCount, horzLines, horzLineCount, true);
  curFillColor = fill;
  curFillKind = fillKind;
  curStrokeKind = strokeKind;
  curStrokeWidth = width;
}

void EraseRecognizedLines() {
  if (!gWorkBits) return;
  auto clear = [](int x0, int x1, int y0, int y1) {
    if (x0 < 0) x0 = 0;
    if (y0 < 0) y0 = 0;
    if (x1 >= gImage->width) x1 = gImage->width - 1;
    if (y1 >= gImage->height) y1 = gImage->height - 1;
    for (int y = y0; y <= y1; ++y) {
      uint8_t* row = gWorkBits + static_cast<ptrdiff_t>(y) * gImage->rowBytes;
      for (int x = x0; x <= x1; ++x) row[x >> 3] = static_cast<uint8_t>(row[x >> 3] & ~(0x80 >> (x & 7)));
    }
  };
  // The record's ends were pulled in by up to half its width; one more pixel
  // all round takes the ragged edges of the stroke too.
  for (int16_t i = 0; i < horzLineCount; ++i) {
    const LineRecord& r = horzLines[i];
    int m = r.width / 2 + 1;
    if (r.state != kLineJoined) clear(r.start - m, r.end + m, r.pos - m, r.pos + m);
  }
  for (int16_t i = 0; i < vertLineCount; ++i) {
    const LineRecord& r = vertLines[i];
    int m = r.width / 2 + 1;
    if (r.state != kLineJoined) clear(r.pos - m, r.pos + m, r.start - m, r.end + m);
  }
}

void ReleaseLineBuffers() {
  FreeArray(&gHorz, &horzLines, &horzLineCount);
  FreeArray(&gVert, &vertLines, &vertLineCount);
  MemFreePtr(gTops);
  gTops = nullptr;
  MemFreePtr(gTemplateRow);
  gTemplateRow = nullptr;
  gTemplateRowY = -1;
}

int LineEndTest(int16_t x, int16_t y, int16_t* horz, int16_t* vert) {
  *horz = *vert = -1;
  int bits = 0;
  auto on = [](const LineRecord& r, int along, int across) {
    int half = r.width / 2 + 1;
    return r.state != kLineJoined && std::abs(across - r.pos) <= half && along >= r.start - half &&
           along <= r.end + half;
  };
  for (int16_t i = 0; i < horzLineCount; ++i)
    if (on(horzLines[i], x, y)) {
      *horz = i;
      bits |= 1;
      break;
    }
  for (int16_t i = 0; i < vertLineCount; ++i)
    if (on(vertLines[i], y, x)) {
      *vert = i;
      bits |= 2;
      break;
    }
  return bits;
}

int StraightenSegment(int16_t* x0, int16_t* y0, int16_t* x1, int16_t* y1) {
  int16_t h0, v0, h1, v1;
  int b0 = LineEndTest(*x0, *y0, &h0, &v0);
  int b1 = LineEndTest(*x1, *y1, &h1, &v1);
  // Works the same for both directions: `vertical` exchanges x and y.
  auto tryLine = [&](bool vertical, const LineRecord& r) {
    int16_t* a0 = vertical ? x0 : y0;  // the coordinates across the line
    int16_t* a1 = vertical ? x1 : y1;
    int16_t* l0 = vertical ? y0 : x0;  // and along it
    int16_t* l1 = vertical ? y1 : x1;
    if (*a0 == *a1) return 0;
    // An end may move toward the line's centre by up to two thirds of its
    // width, away from it by up to a third.
    auto allowed = [&](int from, int to) {
      int limit = std::abs(to - r.pos) < std::abs(from - r.pos) ? (2 * r.width) / 3 : r.width / 3;
      return std::abs(to - from) <= (limit < 1 ? 1 : limit);
    };
    auto inkAlong = [&](int across, int from, int to) {
      int step = to > from ? 1 : -1;
      for (int u = from;; u += step) {
        if (!(vertical ? TemplateBit(across, u) : TemplateBit(u, across))) return false;
        if (u == to) return true;
      }
    };
    // Moving the end keeps the anchor already written; moving the start
    // needs the previous anchor to move too.
    if (allowed(*a1, *a0) && inkAlong(*a0, *l0, *l1)) {
      *a1 = *a0;
      return 2;
    }
    if (allowed(*a0, *a1) && inkAlong(*a1, *l0, *l1)) {
      *a0 = *a1;
      return 1;
    }
    return 0;
  };
  if ((b0 & 1) && (b1 & 1) && h0 == h1) {
    int moved = tryLine(false, horzLines[h0]);
    if (moved) return moved;
  }
  if ((b0 & 2) && (b1 & 2) && v0 == v1) return tryLine(true, vertLines[v0]);
  return 0;
}

int SnapCenterlineEnd(int16_t* x, int16_t* y) {
  if (!horzLines && !vertLines) return 0;
  int d = lineParams.parallelSpacing;
  int px = *x, py = *y;
  bool tookH = false, tookV = false;
  int best = d;
  for (int16_t i = 0; i < horzLineCount; ++i) {
    const LineRecord& r = horzLines[i];
    if (r.state == kLineJoined) continue;
    int g = px - r.end;
    if (r.start - px > g) g = r.start - px;
    if (g < 0) g = 0;
    if (g > d) continue;
    int c = std::abs(r.pos - py) + g / 2;
    if (c > best || !InkConnects(px, py, (r.start + r.end) / 2, r.pos, false)) continue;
    best = c;
    *y = r.pos;
    *x = static_cast<int16_t>(px < r.start ? r.start : px > r.end ? r.end : px);
    tookH = true;
  }
  best = d;
  for (int16_t i = 0; i < vertLineCount; ++i) {
    const LineRecord& r = vertLines[i];
    if (r.state == kLineJoined) continue;
    int g = py - r.end;
    if (r.start - py > g) g = r.start - py;
    if (g < 0) g = 0;
    if (g > d) continue;
    int c = std::abs(r.pos - px) + g / 2;
    if (c > best || !InkConnects(px, py, (r.start + r.end) / 2, r.pos, true)) continue;
    best = c;
    *x = r.pos;
    if (!tookH) *y = static_cast<int16_t>(py < r.start ? r.start : py > r.end ? r.end : py);
    tookV = true;
  }
  return tookH && tookV ? 1 : 0;
}
