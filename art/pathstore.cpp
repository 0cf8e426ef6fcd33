#include "art/pathstore.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/records.h"
#include "platform/string_ids.h"

PathRecord* gPaths = nullptr;
int16_t gPathCapacity = 0;
int16_t gMaxPaths = 10000;
int16_t gMinPathLength = 0;
PathRecord* gCurrentPath = nullptr;

double penX = 0, penY = 0, ctrl1X = 0, ctrl1Y = 0, ctrl2X = 0, ctrl2Y = 0;

namespace {

MemHandle gPathsHandle = kNoMem;
constexpr int kGrowRecords = 20;
constexpr int kGrowWords = 100;
constexpr int kDiscardShare = 8;      // a discard round drops gPathCount / 8 paths
constexpr int16_t kMaxLength = 32767;  // path lengths are measured up to this cap

// Paths other than the one being built that are shorter than `t`.
int CountShorter(int16_t t) {
  int n = 0;
  for (int16_t i = 0; i < gPathCount; ++i)
    if (&gPaths[i] != gCurrentPath && PathLength(&gPaths[i], t) < t) ++n;
  return n;
}

// The record array lives in one memory handle; gPaths is its address,
// refreshed whenever the block may have moved, and gCurrentPath follows it.
bool ResizeRecords(int capacity) {
  size_t bytes = static_cast<size_t>(capacity) * sizeof(PathRecord);
  ptrdiff_t current = gCurrentPath && gPaths ? gCurrentPath - gPaths : -1;
  if (gPathsHandle == kNoMem) {
    gPathsHandle = MemAlloc(bytes);
    if (gPathsHandle == kNoMem) return false;
  } else if (!MemResize(gPathsHandle, bytes)) {
    return false;
  }
  gPaths = static_cast<PathRecord*>(MemLock(gPathsHandle));
  MemUnlock(gPathsHandle);
  if (current >= 0) gCurrentPath = gPaths + current;
  gPathCapacity = static_cast<int16_t>(capacity);
  return true;
}

void FreeRecords() {
  MemFree(gPathsHandle);
  gPathsHandle = kNoMem;
  gPaths = nullptr;
  gPathCapacity = 0;
  gCurrentPath = nullptr;
}

void FreePoints(PathRecord* r) {
  MemFree(r->points);
  r->points = kNoMem;
  r->pointCapacity = 0;
  r->pointCount = 0;
}

int16_t* Words(const PathRecord* r) { return static_cast<int16_t*>(MemLock(r->points)); }
void Release(const PathRecord* r) { MemUnlock(r->points); }

// The number of live records: gPathCount, or the hidden count while the art
// is put aside.
int16_t LiveCount() { return gPathCount ? gPathCount : gHiddenPathCount; }

void Store(uint8_t dst[4], uint32_t color) {
  dst[0] = static_cast<uint8_t>(color);
  dst[1] = static_cast<uint8_t>(color >> 8);
  dst[2] = static_cast<uint8_t>(color >> 16);
  dst[3] = static_cast<uint8_t>(color >> 24);
}

}  // namespace

int16_t ArtCoord(double pixels) {
  double a = std::floor(gArtScale * pixels + 0.5);
  if (a < 0) a = 0;
  if (a > 32767) a = 32767;
  return static_cast<int16_t>(a);
}

Status ResetPathStore() {
  if (gHiddenPathCount != 0) {
    gPathCount = gHiddenPathCount;
    gHiddenPathCount = 0;
    return Done();
  }
  gDocument->Clear(Flag::pathsDroppedLimit);
  gDocument->Clear(Flag::pathsDroppedMemory);
  gDocument->droppedPathCount = 0;
  DeleteAllPaths();
  gPathCount = 0;
  gMinPathLength = 0;
  if (!ResizeRecords(kGrowRecords)) {
    return Failed(kStrInsufficientMemory);
  }
  return Done();
}

PathRecord* AppendPath() {
  if (gMinPathLength > 0 && gPathCount > 0) {
    PathRecord* last = &gPaths[gPathCount - 1];
    if (PathLength(last, gMinPathLength) < gMinPathLength) {
      DeletePath(last);
      ++gDocument->droppedPathCount;
    }
  }
  while (gPathCount >= gMaxPaths) {
    DiscardShortPaths(kDiscardLimit);
    if (gUserAbort) return nullptr;
  }
  if (gPathCount >= gPathCapacity) {
    ResizeRecords(gPathCapacity + kGrowRecords);
    while (gPathCapacity <= gPathCount) {
      DiscardShortPaths(kDiscardMemory);
      if (gUserAbort) return nullptr;
    }
  }
  PathRecord* r = &gPaths[gPathCount++];
  memset(r, 0, sizeof *r);
  r->bounds[0] = r->bounds[1] = 32767;
  gCurrentPath = r;
  return r;
}

void StartPath(PathRecord* r, const PathPaint& paint) {
  Store(r->fillColor, paint.fillColor);
  Store(r->strokeColor, paint.strokeColor);
  r->fillKind = paint.fillKind;
  r->strokeKind = paint.strokeKind;
  r->fillCustom = paint.fillCustom;
  r->fillTint = paint.fillTint;
  r->pathFlags = paint.pathFlags;
  double weight = paint.strokeWidth * 10;
  r->strokeWeight = static_cast<uint8_t>(weight >= 255 ? 255 : weight < 0 ? 0 : weight);
  AddPathPoint(0);
}

void BeginPath(const PathPaint& paint) {
  if (PathRecord* r = AppendPath()) StartPath(r, paint);
}

void AddPathPoint(int curve) {
  PathRecord* r = gCurrentPath;
  if (!r) return;
  while (r->pointCount + 6 >= r->pointCapacity) {
    int capacity = r->pointCapacity + kGrowWords;
    bool ok;
    if (capacity > 32767) {
      ok = false;
    } else if (r->points == kNoMem) {
      r->points = MemAlloc(static_cast<size_t>(capacity) * 2);
      ok = r->points != kNoMem;
    } else {
      ok = MemResize(r->points, static_cast<size_t>(capacity) * 2);
    }
    if (ok) {
      r->pointCapacity = static_cast<int16_t>(capacity);
      continue;
    }
    DiscardShortPaths(kDiscardMemory);
    if (gUserAbort) return;
    r = gCurrentPath;
  }
  auto control = [](double v) {
    double c = gArtScale * v + 0.5;
    if (c > 32767) c = 32767;
    if (c < -32768) c = -32768;
    return static_cast<int16_t>(c);
  };
  int16_t x = ArtCoord(penX), y = ArtCoord(penY);
  int16_t* w = Words(r);
  if (curve && r->pointCount >= 2) {
    w[r->pointCount - 2] = static_cast<int16_t>(w[r->pointCount - 2] | kCurveBit);
    w[r->pointCount++] = control(ctrl1X);
    w[r->pointCount++] = control(ctrl1Y);
    w[r->pointCount++] = control(ctrl2X);
    w[r->pointCount++] = control(ctrl2Y);
  }
  w[r->pointCount++] = x;
  w[r->pointCount++] = curve ? static_cast<int16_t>(y | kCurveBit) : y;
  Release(r);
  if (x - 5 < r->bounds[0]) r->bounds[0] = x - 5;
  if (x + 5 > r->bounds[2]) r->bounds[2] = x + 5;
  if (y - 5 < r->bounds[1]) r->bounds[1] = y - 5;
  if (y + 5 > r->bounds[3]) r->bounds[3] = y + 5;
}

void SetLastPoint(int16_t x, int16_t y) {
  PathRecord* r = gCurrentPath;
  if (!r || r->pointCount < 2) return;
  int16_t* w = Words(r);
  w[r->pointCount - 2] = x;
  w[r->pointCount - 1] = static_cast<int16_t>((y & 0x7FFF) | (w[r->pointCount - 1] & kCurveBit));
  Release(r);
}

void DeletePath(PathRecord* record) {
  int16_t count = LiveCount();
  ptrdiff_t index = record - gPaths;
  if (!gPaths || index < 0 || index >= count) return;
  FreePoints(record);
  memmove(record, record + 1, static_cast<size_t>(count - index - 1) * sizeof(PathRecord));
  if (gCurrentPath) {
    if (gCurrentPath == record) gCurrentPath = nullptr;
    else if (gCurrentPath > record) --gCurrentPath;
  }
  --count;
  if (gPathCount) gPathCount = count;
  else gHiddenPathCount = count;
  if (count == 0) FreeRecords();
}

void DeleteAllPaths() {
  int16_t count = LiveCount();
  for (int16_t i = 0; i < count && gPaths; ++i) FreePoints(&gPaths[i]);
  FreeRecords();
  gPathCount = 0;
  gHiddenPathCount = 0;
  gDocument->selectedPathCount = 0;
}

int16_t PathLength(const PathRecord* r, int16_t limit) {
  if (r->pointCount < 4) return 0;
  const int16_t* w = Words(r);
  int32_t sum = 0;
  int px = w[0] & 0x7FFF, py = w[1] & 0x7FFF;
  int i = 2;
  while (i + 1 < r->pointCount) {
    if (w[i - 2] & kCurveBit) i += 4;  // the segment leaving the previous anchor is a curve
    if (i + 1 >= r->pointCount) break;
    int x = w[i] & 0x7FFF, y = w[i + 1] & 0x7FFF;
    sum += abs(x - px) + abs(y - py);
    if (sum >= limit) {
      Release(r);
      return limit;
    }
    px = x;
    py = y;
    i += 2;
  }
  Release(r);
  return static_cast<int16_t>(sum);
}

void DiscardShortPaths(int reason) {
  if (gUserAbort) return;
  // With fewer than 100 paths nothing can be gained.
  if (gPathCount < 100) {
    StopWith(kStrNoMemoryAfterDiscard);
    return;
  }
  // A round drops an eighth of the store, the shortest paths first, and
  // raises the minimum length to the shortest length kept. Paths of the
  // same length are kept in the order they came, later ones dropped first,
  // so that a page of many equal shapes keeps as many of them as the store
  // holds instead of losing them all to one raised minimum. Every round
  // drops paths, so the callers' loops always end.
  int target = gPathCount / kDiscardShare;
  // The largest threshold t with at most `target` paths shorter than t:
  // doubled from 8 until too many are shorter, then narrowed by halving.
  int32_t fits = 0, tooMany = -1;
  for (int32_t t = 8;; t = t * 2 > kMaxLength ? kMaxLength : t * 2) {
    if (CountShorter(static_cast<int16_t>(t)) > target) {
      tooMany = t;
      break;
    }
    fits = t;
    if (t == kMaxLength) break;
  }
  while (tooMany > fits + 1) {
    int32_t mid = (fits + tooMany) / 2;
    if (CountShorter(static_cast<int16_t>(mid)) <= target) fits = mid;
    else tooMany = mid;
  }
  int16_t threshold = static_cast<int16_t>(fits);
  // Every path shorter than the threshold goes, and as many of the paths
  // of exactly that length (capped lengths count as equal at the top) as
  // the round still has to drop, the latest first.
  int shorter = CountShorter(threshold);
  int16_t measure = threshold < kMaxLength ? static_cast<int16_t>(threshold + 1) : threshold;
  int ties = 0;
  for (int16_t i = 0; i < gPathCount; ++i)
    if (&gPaths[i] != gCurrentPath && PathLength(&gPaths[i], measure) == threshold) ++ties;
  int keepTies = ties - (target - shorter);

  int16_t kept = 0;
  int tiesKept = 0;
  PathRecord* current = gCurrentPath;
  for (int16_t i = 0; i < gPathCount; ++i) {
    PathRecord* r = &gPaths[i];
    bool drop = false;
    if (r != current) {
      int16_t length = PathLength(r, measure);
      drop = length < threshold || (length == threshold && tiesKept++ >= keepTies);
    }
    if (drop) {
      FreePoints(r);
      continue;
    }
    if (r == current) gCurrentPath = &gPaths[kept];
    if (kept != i) gPaths[kept] = *r;
    ++kept;
  }
  gDocument->droppedPathCount += gPathCount - kept;
  gPathCount = kept;
  // Finished paths below the shortest length kept are dropped as they come.
  int16_t minimum = keepTies < ties && threshold < kMaxLength ? static_cast<int16_t>(threshold + 1) : threshold;
  if (minimum > gMinPathLength) gMinPathLength = minimum;
  gDocument->Set(reason == kDiscardLimit ? Flag::pathsDroppedLimit : Flag::pathsDroppedMemory);
}

void RemoveRedundantAnchors() {
  for (int16_t p = 0; p < gPathCount; ++p) {
    PathRecord* r = &gPaths[p];
    if (r->pointCount < 8) continue;
    int16_t* w = Words(r);
    int i = 0;  // index of the x word of the anchor examined
    int prev = -1;
    while (i + 3 < r->pointCount) {  // up to the anchor before the last
      int next = i + 2;
      if (w[i] & kCurveBit) {  // followed by a curve: skip it with its control points
        prev = i;
        i = next + 4;
        continue;
      }
      bool isCurveEnd = (w[i + 1] & kCurveBit) != 0;
      if (prev >= 0 && !isCurveEnd && next + 1 < r->pointCount) {
        int16_t px = w[prev], py = w[prev + 1], x = w[i], y = w[i + 1], nx = w[next], ny = w[next + 1];
        auto between = [](int v, int a, int b) { return (v >= a && v <= b) || (v >= b && v <= a); };
        bool vertical = x == px && x == nx && between(y, py, ny);
        bool horizontal = y == py && y == ny && between(x, px, nx);
        if (vertical || horizontal) {
          memmove(&w[i], &w[i + 2], static_cast<size_t>(r->pointCount - i - 2) * 2);
          r->pointCount = static_cast<int16_t>(r->pointCount - 2);
          continue;  // the anchor now in this place is examined again
        }
      }
      prev = i;
      i = next;
    }
    Release(r);
  }
}

int16_t CountAnchors(const PathRecord* r) {
  if (r->pointCount < 3) return 0;
  const int16_t* w = Words(r);
  int anchors = 1;
  int i = 0;
  int last = 0;
  while (i + 3 < r->pointCount) {
    i += (w[i] & kCurveBit) ? 6 : 2;
    if (i + 1 >= r->pointCount) break;
    last = i;
    ++anchors;
  }
  bool closed = (w[0] & 0x7FFF) == (w[last] & 0x7FFF) && (w[1] & 0x7FFF) == (w[last + 1] & 0x7FFF);
  Release(r);
  return static_cast<int16_t>(closed && anchors > 1 ? anchors - 1 : anchors);
}

int32_t CountAllAnchors() {
  if (!gDocument->imageWindow && !gPaths) return 0;
  int32_t n = 0;
  for (int16_t i = 0; i < gPathCount; ++i) n += CountAnchors(&gPaths[i]);
  return n;
}

int32_t CountSelectedAnchors() {
  if (!gDocument->imageWindow && !gPaths) return 0;
  int32_t n = 0;
  for (int16_t i = 0; i < gPathCount; ++i)
    if (gPaths[i].pathFlags & PathFlag::selected) n += CountAnchors(&gPaths[i]);
  return n;
}

int16_t CountArtColors() {
  if (!gPaths || gPathCount == 0) return 0;
  MemHandle h = MemAlloc(4000);
  if (h == kNoMem) return 0;
  auto* colors = static_cast<uint8_t(*)[4]>(MemLock(h));
  int count = 0;
  const uint8_t* previous = nullptr;
  auto consider = [&](const uint8_t* c) {
    if (previous && memcmp(previous, c, 4) == 0) return;
    previous = c;
    if (count >= 1000) return;
    for (int i = 0; i < count; ++i) {
      bool near = true;
      for (int k = 0; k < 4 && near; ++k) near = abs(colors[i][k] - c[k]) <= 1;
      if (near) return;
    }
    memcpy(colors[count++], c, 4);
  };
  for (int16_t i = 0; i < gPathCount; ++i) {
    const PathRecord& r = gPaths[i];
    if (r.strokeKind) consider(r.strokeColor);
    if (!(r.pathFlags & PathFlag::openPath) && r.fillKind) consider(r.fillColor);
  }
  MemUnlock(h);
  MemFree(h);
  return static_cast<int16_t>(count);
}

Status CopyPathStore(PathStoreCopy* copy) {
  FreePathStoreCopy(copy);
  int16_t count = LiveCount();
  if (count == 0) return Done();
  copy->records = static_cast<PathRecord*>(MemAllocPtr(static_cast<size_t>(count) * sizeof(PathRecord)));
  if (!copy->records) return Failed();
  for (int16_t i = 0; i < count; ++i) {
    PathRecord r = gPaths[i];
    if (r.points != kNoMem) {
      MemHandle h = MemAlloc(static_cast<size_t>(r.pointCapacity) * 2);
      if (h == kNoMem) {
        copy->count = i;
        FreePathStoreCopy(copy);
        return Failed();
      }
      memcpy(MemLock(h), Words(&gPaths[i]), static_cast<size_t>(r.pointCapacity) * 2);
      MemUnlock(h);
      Release(&gPaths[i]);
      r.points = h;
    }
    copy->records[i] = r;
  }
  copy->count = count;
  copy->capacity = count;
  copy->selected = gDocument->selectedPathCount;
  return Done();
}

void SwapPathStore(PathStoreCopy* copy) {
  // The store's records move into a plain block, the copy's into a new
  // record array. Both blocks are had before anything changes, so that a
  // failure leaves the art and the copy as they were.
  PathStoreCopy mine;
  int16_t count = LiveCount();
  if (count > 0) {
    mine.records = static_cast<PathRecord*>(MemAllocPtr(static_cast<size_t>(count) * sizeof(PathRecord)));
    if (!mine.records) return;
    memcpy(mine.records, gPaths, static_cast<size_t>(count) * sizeof(PathRecord));
  }
  mine.count = count;
  mine.capacity = count;
  mine.selected = gDocument->selectedPathCount;
  MemHandle incoming = kNoMem;
  int capacity = copy->count > kGrowRecords ? copy->count : kGrowRecords;
  if (copy->count > 0) {
    incoming = MemAlloc(static_cast<size_t>(capacity) * sizeof(PathRecord));
    if (incoming == kNoMem) {
      MemFreePtr(mine.records);
      return;
    }
  }
  FreeRecords();
  gPathCount = 0;
  gHiddenPathCount = 0;
  if (incoming != kNoMem) {
    gPathsHandle = incoming;
    gPaths = static_cast<PathRecord*>(MemLock(gPathsHandle));
    MemUnlock(gPathsHandle);
    gPathCapacity = static_cast<int16_t>(capacity);
    memcpy(gPaths, copy->records, static_cast<size_t>(copy->count) * sizeof(PathRecord));
    gPathCount = copy->count;
  }
  gDocument->selectedPathCount = copy->selected;
  MemFreePtr(copy->records);
  *copy = mine;
}

void FreePathStoreCopy(PathStoreCopy* copy) {
  for (int16_t i = 0; i < copy->count; ++i) MemFree(copy->records[i].points);
  MemFreePtr(copy->records);
  *copy = PathStoreCopy{};
}

bool NextPathSegment(const int16_t* words, int count, int* at, PathSegment* segment) {
  int i = *at;
  if (i + 2 >= count) return false;
  bool curve = (static_cast<uint16_t>(words[i]) & kCurveBit) != 0;
  int end = curve ? i + 6 : i + 2;
  if (end + 1 >= count) return false;
  segment->curve = curve;
  segment->c1x = curve ? words[i + 2] : 0;
  segment->c1y = curve ? words[i + 3] : 0;
  segment->c2x = curve ? words[i + 4] : 0;
  segment->c2y = curve ? words[i + 5] : 0;
  segment->x = AnchorWord(words[end]);
  segment->y = AnchorWord(words[end + 1]);
  *at = end;
  return true;
}
