// Centerline thinning. The working bitmap is peeled from both sides a fixed
// number of steps, in checkerboard sub-passes driven by three neighbour-code
// tables; the pixels where three or more skeleton branches meet become the
// junction list. With Outline on as well, the image is split into thick
// areas (outlined by the driver) and the thin-line skeleton (kept in
// "dgskel" for the centerline pass). Interactive thinning pauses the
// conversion after the first skeleton so that the user can edit it.
#include "engine/thinning.h"

#include <cstring>
#include <string>

#include "core/host.h"
#include "core/records.h"
#include "core/services.h"
#include "engine/conversion.h"
#include "engine/junctions.h"
#include "engine/linerec.h"
#include "engine/settings.h"
#include "engine/thinning_model.h"
#include "platform/string_ids.h"

JunctionPoint* JunctionList = nullptr;
int32_t junctionCount = 0;
uint16_t* JunctionUsedBits = nullptr;
int16_t thinningStepsRun = 0;

namespace {

// Number of white-to-black changes going round the eight neighbours.
constexpr int Transitions(int code) {
  int n = 0;
  for (int i = 0; i < 8; ++i) {
    int prev = (code >> ((i + 7) & 7)) & 1;
    int cur = (code >> i) & 1;
    if (!prev && cur) ++n;
  }
  return n;
}

constexpr std::array<uint8_t, 256> MakePeelTable() {
  std::array<uint8_t, 256> t{};
  for (int c = 0; c < 256; ++c) {
    bool edgeWhite = (c & 0x55) != 0x55;  // S, E, N, W are bits 0, 2, 4, 6
    t[c] = (c == 0 || (edgeWhite && Transitions(c) == 1)) ? 0 : 1;
  }
  return t;
}

constexpr std::array<uint8_t, 256> MakeCornerTable() {
  std::array<uint8_t, 256> t{};
  for (auto& e : t) e = 1;
  for (int c : {0x02, 0x08, 0x20, 0x80, 0x07, 0x1C, 0x70, 0xC1, 0x3E, 0x8F, 0xE3, 0xF8}) t[c] = 0;
  return t;
}

constexpr std::array<uint8_t, 256> MakeJunctionTable() {
  std::array<uint8_t, 256> t{};
  for (int c = 0; c < 256; ++c) t[c] = (Transitions(c) >= 3 && c != 0x5D && c != 0xD5) ? 1 : 0;
  for (int c : {0xEB, 0xF2, 0xF4, 0xF6, 0xFA}) t[c] = 1;
  return t;
}

uint8_t* WorkRow(int y) { return gWorkBits + static_cast<ptrdiff_t>(y) * gImage->rowBytes; }

inline int Bit(const uint8_t* row, int x) {
  if (x < 0 || x >= gImage->rowBits) return 0;
  return (row[x >> 3] >> (7 - (x & 7))) & 1;
}
inline void SetBit(uint8_t* row, int x) { row[x >> 3] = static_cast<uint8_t>(row[x >> 3] | (0x80 >> (x & 7))); }
inline void ClearBit(uint8_t* row, int x) { row[x >> 3] = static_cast<uint8_t>(row[x >> 3] & ~(0x80 >> (x & 7))); }

inline uint8_t Code(const uint8_t* up, const uint8_t* mid, const uint8_t* dn, int x) {
  return static_cast<uint8_t>(Bit(dn, x) | Bit(dn, x + 1) << 1 | Bit(mid, x + 1) << 2 | Bit(up, x + 1) << 3 |
                              Bit(up, x) << 4 | Bit(up, x - 1) << 5 | Bit(mid, x - 1) << 6 | Bit(dn, x - 1) << 7);
}

// Two row buffers that keep the unchanged state of the rows above and at the
// current row while a sub-pass writes its results into the bitmap itself, so
// that every test of a sub-pass sees the state before it without a second
// bitmap.
struct RowPair {
  uint8_t* block = nullptr;
  uint8_t* prev = nullptr;
  uint8_t* cur = nullptr;
  bool Alloc() {
    block = static_cast<uint8_t*>(MemAllocPtr(RowBytes() * 3));
    if (!block) return false;
    prev = block;
    cur = block + RowBytes();
    return true;
  }
  uint8_t* Spare() { return block + 2 * RowBytes(); }
  ~RowPair() { MemFreePtr(block); }
};


// One sub-pass over rows top..bottom: clears the examined black pixels of the
// given parity whose table entry is 0.
int32_t SubPass(const std::array<uint8_t, 256>& table, int parity, int top, int bottom, RowPair& rows, int* first,
                int* last) {
  int32_t total = 0;
  int width = gImage->width;
  memcpy(rows.prev, WorkRow(top - 1), RowBytes());
  for (int y = top; y <= bottom; ++y) {
    uint8_t* row = WorkRow(y);
    memcpy(rows.cur, row, RowBytes());
    const uint8_t* up = rows.prev;
    const uint8_t* mid = rows.cur;
    const uint8_t* dn = WorkRow(y + 1);
    int cleared = 0;
    for (size_t b = 0; b < RowBytes(); b += 2) {
      if (mid[b] == 0 && (b + 1 >= RowBytes() || mid[b + 1] == 0)) continue;  // an all-white 16-pixel word
      int x0 = static_cast<int>(b) * 8;
      for (int x = x0; x < x0 + 16 && x < gImage->rowBits; ++x) {
        if (((x + y) & 1) != parity || !Bit(mid, x)) continue;
        if (table[Code(up, mid, dn, x)] == 0) {
          ClearBit(row, x);
          ++cleared;
        }
      }
    }
    if (colorMode && cleared > 0) {
      // The left and right image border columns survive in color mode.
      if (!Bit(row, 0)) {
        SetBit(row, 0);
        --cleared;
      }
      if (width > 1 && !Bit(row, width - 1)) {
        SetBit(row, width - 1);
        --cleared;
      }
    }
    if (cleared > 0) {
      if (y < *first) *first = y;
      *last = y;
    }
    total += cleared;
    std::swap(rows.prev, rows.cur);
  }
  return total;
}

// Memory for the junction list, grown in blocks of 100 points.
MemHandle gJunctionHandle = kNoMem;
int32_t gJunctionCapacity = 0;
MemHandle gUsedBitsHandle = kNoMem;

void FreeJunctionMemory() {
  if (gJunctionHandle != kNoMem) {
    MemUnlock(gJunctionHandle);
    MemFree(gJunctionHandle);
  }
  if (gUsedBitsHandle != kNoMem) {
    MemUnlock(gUsedBitsHandle);
    MemFree(gUsedBitsHandle);
  }
  gJunctionHandle = gUsedBitsHandle = kNoMem;
  JunctionList = nullptr;
  JunctionUsedBits = nullptr;
  junctionCount = gJunctionCapacity = 0;
}

bool AddJunction(int x, int y) {
  if (junctionCount >= gJunctionCapacity) {
    MemUnlock(gJunctionHandle);
    bool ok = MemResize(gJunctionHandle, static_cast<size_t>(gJunctionCapacity + 100) * sizeof(JunctionPoint));
    JunctionList = static_cast<JunctionPoint*>(MemLock(gJunctionHandle));
    if (!ok) {
      StopWith(kStrInsufficientMemory);
      return false;
    }
    gJunctionCapacity += 100;
  }
  JunctionList[junctionCount++] = {static_cast<int16_t>(x), static_cast<int16_t>(y)};
  return true;
}

void RemoveJunctions(int32_t at, int32_t n) {
  memmove(JunctionList + at, JunctionList + at + n, static_cast<size_t>(junctionCount - at - n) * sizeof(JunctionPoint));
  junctionCount -= n;
}

bool Before(const JunctionPoint& a, const JunctionPoint& b) { return a.y < b.y || (a.y == b.y && a.x < b.x); }

// Scratch-store helpers: whole bitmaps written row by row, read back.
bool WriteBitmapTo(int16_t file) {
  FileSeek(file, 0, kSeekSet);
  for (int y = 0; y < gImage->height && !gUserAbort; ++y) WriteChecked(file, gImage->rowBytes, WorkRow(y));
  return !gUserAbort;
}

void ReadBitmapFrom(int16_t file) {
  FileSeek(file, 0, kSeekSet);
  for (int y = 0; y < gImage->height; ++y)
    if (FileRead(file, WorkRow(y), gImage->rowBytes) != gImage->rowBytes) memset(WorkRow(y), 0, RowBytes());
}

void OrBitmapFrom(int16_t file) {
  uint8_t* row = static_cast<uint8_t*>(MemAllocPtr(RowBytes()));
  if (!row) {
    ReadBitmapFrom(file);  // the thick areas at least
    return;
  }
  FileSeek(file, 0, kSeekSet);
  for (int y = 0; y < gImage->height; ++y) {
    if (FileRead(file, row, gImage->rowBytes) != gImage->rowBytes) break;
    uint8_t* dst = WorkRow(y);
    for (size_t b = 0; b < RowBytes(); ++b) dst[b] |= row[b];
  }
  MemFreePtr(row);
}

bool AnyBlack() {
  size_t n = RowBytes() * static_cast<size_t>(gImage->height);
  for (size_t i = 0; i < n; ++i)
    if (gWorkBits[i]) return true;
  return false;
}

// One erosion (op 0) or conditional dilation (op 1) by a 3 x 3 square: a
// vertical AND/OR of rows y-1, y, y+1, then a horizontal AND/OR of each pixel
// with its left and right neighbours; a dilation is then limited to the
// template image.
void Morph(int op, RowPair& rows) {
  memcpy(rows.prev, WorkRow(-1), RowBytes());
  uint8_t* tmp = rows.Spare();
  int rb = gImage->rowBytes;
  for (int y = 0; y < gImage->height; ++y) {
    uint8_t* row = WorkRow(y);
    memcpy(rows.cur, row, RowBytes());
    const uint8_t* dn = WorkRow(y + 1);
    for (int b = 0; b < rb; ++b)
      row[b] = op == 0 ? static_cast<uint8_t>(rows.prev[b] & rows.cur[b] & dn[b])
                       : static_cast<uint8_t>(rows.prev[b] | rows.cur[b] | dn[b]);
    std::swap(rows.prev, rows.cur);
  }
  for (int y = 0; y < gImage->height; ++y) {
    uint8_t* row = WorkRow(y);
    memcpy(tmp, row, RowBytes());
    for (int b = 0; b < rb; ++b) {
      uint8_t left = static_cast<uint8_t>(tmp[b] >> 1 | (b > 0 ? (tmp[b - 1] & 1) << 7 : 0));
      uint8_t right = static_cast<uint8_t>(tmp[b] << 1 | (b + 1 < rb ? tmp[b + 1] >> 7 : 0));
      row[b] = op == 0 ? static_cast<uint8_t>(tmp[b] & left & right) : static_cast<uint8_t>(tmp[b] | left | right);
    }
    if (op == 1) {
      ReadTemplateRow(static_cast<int16_t>(y), tmp);
      for (int b = 0; b < rb; ++b) row[b] &= tmp[b];
    }
  }
}

// Clears every black pixel that has no black neighbour; returns whether any
// black pixel is left.
bool RemoveIsolatedPixels(RowPair& rows) {
  bool any = false;
  memcpy(rows.prev, WorkRow(-1), RowBytes());
  for (int y = 0; y < gImage->height; ++y) {
    uint8_t* row = WorkRow(y);
    memcpy(rows.cur, row, RowBytes());
    for (int x = 0; x < gImage->rowBits; ++x) {
      if (!Bit(rows.cur, x)) continue;
      if (Code(rows.prev, rows.cur, WorkRow(y + 1), x) == 0) ClearBit(row, x);
      else any = true;
    }
    std::swap(rows.prev, rows.cur);
  }
  return any;
}

// ---------------------------------------------------------------------------
// The sequence and its interactive pause.
int16_t gBaseSteps = 0;           // N from the settings (color mode: 20)
uint8_t* gSkeletonSnapshot = nullptr;  // the skeleton as paused, to notice touch-ups
bool gSkeletonShown = false;      // the skeleton stands in the template's place

bool Centerlining() { return (gConvSettings->methodFlags & Method::centerline) != 0; }

// One more thinning step after the ones run: passes 2N-1 (corner) and 2N (peel).
bool ExtraStep() {
  int n = thinningStepsRun;
  if (RunThinningPasses(2 * n - 1, 2 * n, n + 1, false) < 0) return false;
  ++thinningStepsRun;
  return !gUserAbort;
}

// Writes the template to "memtemp" and puts the skeleton in its place.
void ShowSkeletonAsTemplate() {
  gSkeletonShown = false;
  if (templateOnDisk || !templateBits) return;
  int16_t savedAbort = gUserAbort;
  int16_t file = OpenScratchStore(kStoreMemtemp);
  if (file == kNoFile) {
    // The pause goes on; only the skeleton is not shown in the template's place.
    gUserAbort = savedAbort;
    return;
  }
  FileSeek(file, 0, kSeekSet);
  WriteChecked(file, static_cast<int32_t>(RowBytes() * gImage->height), templateBits);
  if (gUserAbort) {
    gUserAbort = savedAbort;
    return;
  }
  memcpy(templateBits, gWorkBits, RowBytes() * gImage->height);
  gSkeletonShown = true;
}

void RestoreTemplateFromStore() {
  int16_t file = scratchHandles[kStoreMemtemp];
  if (gSkeletonShown && file != kNoFile && templateBits) {
    FileSeek(file, 0, kSeekSet);
    FileRead(file, templateBits, static_cast<int32_t>(RowBytes() * gImage->height));
  }
  if (gSkeletonShown && file != kNoFile) {
    FileClose(file);
    scratchHandles[kStoreMemtemp] = kNoFile;
    char path[kNameBufferSize];
    if (ScratchPath(ScratchName(kStoreMemtemp), path)) FileDelete(path);
  }
  gSkeletonShown = false;
}

void TakeSkeletonSnapshot() {
  size_t n = RowBytes() * gImage->height;
  if (!gSkeletonSnapshot) gSkeletonSnapshot = static_cast<uint8_t*>(MemAllocPtr(n));
  if (gSkeletonSnapshot) memcpy(gSkeletonSnapshot, gWorkBits, n);
  if (gSkeletonShown && templateBits) memcpy(templateBits, gWorkBits, n);
}

uint8_t* gThinMoreKept = nullptr;  // the skeleton before the last Thin More, for Undo

bool SkeletonEdited() {
  // Without a snapshot the edit cannot be seen; one more step is then run to
  // be safe, as after an edit.
  if (!gSkeletonSnapshot) return true;
  return memcmp(gSkeletonSnapshot, gWorkBits, RowBytes() * gImage->height) != 0;
}

void EndPause() {
  ThinningWindowClose();
  gDocument->Clear(Flag::interactiveThinning);
  gHost.conversionStateChanged();
  RestoreTemplateFromStore();
  MemFreePtr(gSkeletonSnapshot);
  gSkeletonSnapshot = nullptr;
  // Once the pause is over there is no skeleton to exchange any more.
  MemFreePtr(gThinMoreKept);
  gThinMoreKept = nullptr;
}

void Pause() {
  ShowSkeletonAsTemplate();
  TakeSkeletonSnapshot();
  gDocument->thinningResponse = kThinningNone;
  gDocument->Set(Flag::interactiveThinning);
  gHost.conversionStateChanged();
  ThinningWindowOpen(thinningStepsRun);
}

// Junction merging, used bits, and the passes that follow the skeleton.
int16_t FinishSequence() {
  const ConversionSettings* s = gConvSettings;
  bool centerline = Centerlining();
  if (centerline || colorMode) {
    if (!colorMode && !(s->optionFlags & Option::separateShapes)) MergeJunctions();
    if (!AllocJunctionUsedBits()) {
      StopWith(kStrInsufficientMemory);
      return 1;
    }
  }
  if ((s->methodFlags & Method::outline) && !colorMode) {
    int split = ThickThinSplit();
    if (split < 0) return 1;
    if (split == 0) {
      if (!centerline && (s->methodFlags & Method::lineRecognition)) {
        // Outline + Line recognition without thick areas: the lines are
        // recognized on the whole image and everything else is outlined.
        RestoreWorkFromTemplate();
        gHost.refreshImageWindow();
        RecognizeLines();
        if (gUserAbort) return 1;
        OutputLines();
        EraseRecognizedLines();
        return 0;
      }
      CenterlinePass(1);
      return 1;
    }
    return 0;  // the driver outlines the thick areas, then centerlines the rest
  }
  CenterlinePass(-1);
  return 1;
}

int16_t Resume() {
  int16_t response = gDocument->thinningResponse;
  if (response == kThinMore && !gUserAbort) {
    if (gSkeletonShown) gHost.recordUndo(kUndoThinMore);
    if (ExtraStep() && CollectJunctions()) {
      TakeSkeletonSnapshot();
      ThinningWindowSetSteps(thinningStepsRun);
      return 1;  // paused again, the window stays up
    }
    EndPause();
    return 1;
  }
  bool edited = SkeletonEdited();
  EndPause();
  if (response != kThinningDone || gUserAbort) return 1;  // Cancel: the conversion ends
  if (edited && !(ExtraStep() && CollectJunctions())) return 1;
  return FinishSequence();
}

}  // namespace

const std::array<uint8_t, 256> PeelTable = MakePeelTable();
const std::array<uint8_t, 256> CornerTable = MakeCornerTable();
const std::array<uint8_t, 256> JunctionTable = MakeJunctionTable();

uint8_t NeighbourCode(int x, int y) { return Code(WorkRow(y - 1), WorkRow(y), WorkRow(y + 1), x); }

bool PinholeFill() {
  RowPair rows;
  if (!rows.Alloc()) return false;
  int width = gImage->width;
  memcpy(rows.prev, WorkRow(-1), RowBytes());
  for (int y = 0; y < gImage->height; ++y) {
    uint8_t* row = WorkRow(y);
    memcpy(rows.cur, row, RowBytes());
    const uint8_t* dn = WorkRow(y + 1);
    for (int x = 1; x < width - 1; ++x)
      if (!Bit(rows.cur, x) && Bit(rows.cur, x - 1) && Bit(rows.cur, x + 1) && Bit(rows.prev, x) && Bit(dn, x))
        SetBit(row, x);
    std::swap(rows.prev, rows.cur);
  }
  return true;
}

int32_t RunThinningPasses(int first, int last, int steps, bool progress) {
  RowPair rows;
  if (!rows.Alloc()) return -1;
  int height = gImage->height;
  int top = 0, bottom = height;
  int evenFirst = 9999, evenLast = 0;
  int32_t total = 0;
  for (int p = first; p <= last && top <= bottom; ++p) {
    if (progress && steps > 0) {
      int step = p / 2 + 1;
      std::string text = FormatString(kStrStepOfSteps, step, steps);
      ShowProgress(static_cast<int16_t>(100 * step / steps), text.c_str());
    }
    if (colorMode) {
      if (top < 1) top = 1;
      if (bottom > height - 2) bottom = height - 2;
    }
    int lo = top < 0 ? 0 : top;
    int hi = bottom > height - 1 ? height - 1 : bottom;
    int changedFirst = 9999, changedLast = 0;
    const auto& table = (p & 1) ? CornerTable : PeelTable;
    if (lo <= hi) {
      total += SubPass(table, 1, lo, hi, rows, &changedFirst, &changedLast);
      total += SubPass(table, 0, lo, hi, rows, &changedFirst, &changedLast);
    }
    if ((p & 1) == 0) {
      evenFirst = changedFirst;
      evenLast = changedLast;
      gHost.refreshImageWindow();
    } else {
      top = (evenFirst < changedFirst ? evenFirst : changedFirst) - 2;
      bottom = (evenLast > changedLast ? evenLast : changedLast) + 2;
    }
    if (PollUserAbort()) break;
  }
  return total;
}

bool StartJunctionList() {
  FreeJunctionMemory();
  gJunctionHandle = MemAlloc(100 * sizeof(JunctionPoint));
  if (gJunctionHandle == kNoMem) {
    StopWith(kStrInsufficientMemory);
    return false;
  }
  JunctionList = static_cast<JunctionPoint*>(MemLock(gJunctionHandle));
  gJunctionCapacity = 100;
  return AddJunction(0, kJunctionTopSentinel);
}

bool AppendJunction(int x, int y) { return AddJunction(x, y); }

bool CollectJunctions() {
  if (!StartJunctionList()) return false;
  int width = gImage->width, height = gImage->height;
  // In color mode the columns next to the frame never carry a junction.
  auto add = [&](int x, int y) {
    if (colorMode && (x == 1 || x == width - 2)) return true;
    return AddJunction(x, y);
  };
  for (int y = 0; y < height && !gUserAbort; ++y) {
    const uint8_t* up = WorkRow(y - 1);
    const uint8_t* mid = WorkRow(y);
    const uint8_t* dn = WorkRow(y + 1);
    bool tableRow = !colorMode || (y >= 2 && y <= height - 3);
    if (colorMode && (y == 0 || y == height - 1)) {
      // Boundary lines that meet the frame give a junction on the frame.
      const uint8_t* inner = WorkRow(y == 0 ? 1 : height - 2);
      for (int x = 0; x < width; ++x)
        if (Bit(inner, x) && !Bit(inner, x + 1)) add(x > 0 && Bit(inner, x - 1) ? x - 1 : x, y);
    }
    if (colorMode && tableRow && Bit(up, 1) && Bit(mid, 1)) add(0, y);
    if (tableRow) {
      for (size_t b = 0; b < RowBytes(); b += 2) {
        if (mid[b] == 0 && (b + 1 >= RowBytes() || mid[b + 1] == 0)) continue;
        int x0 = static_cast<int>(b) * 8;
        for (int x = x0; x < x0 + 16 && x < gImage->rowBits; ++x)
          if (Bit(mid, x) && JunctionTable[Code(up, mid, dn, x)]) add(x, y);
      }
    }
    if (colorMode && tableRow && Bit(up, width - 2) && Bit(mid, width - 2)) add(width - 1, y);
    if (junctionCount > 20000) {
      // A batch stops silently.
      if (gDocument->Test(Flag::batchRunning)) RequestStop();
      else StopWith(colorMode ? kStrJunctionLimitColor : kStrJunctionLimit);
    }
  }
  if (gUserAbort || !AddJunction(0, kJunctionEndSentinel)) return false;
  gHost.junctionsCollected();
  return true;
}

void MergeJunctions() {
  if (!JunctionList || junctionCount < 4) return;
  auto isEnd = [](int32_t i) { return JunctionList[i].y == kJunctionEndSentinel; };
  int32_t i = 1;
  while (i < junctionCount && !isEnd(i) && !isEnd(i + 1)) {
    JunctionPoint& cur = JunctionList[i];
    int x = cur.x, y = cur.y;
    int lo = x, hi = x;
    // A pair or triple of close points on one row becomes one point.
    if (JunctionList[i + 1].y == y && JunctionList[i + 1].x <= x + 2) {
      RemoveJunctions(i + 1, 1);
      cur.x = static_cast<int16_t>(x + 1);
      hi = x + 2;
      if (!isEnd(i + 1) && JunctionList[i + 1].y == y && JunctionList[i + 1].x <= x + 4) {
        RemoveJunctions(i + 1, 1);
        cur.x = static_cast<int16_t>(x + 2);
        lo = hi = x + 2;
      }
    }
    // A point up to two rows below within the covered columns joins it.
    int32_t found = -1;
    for (int32_t j = i + 1; j < junctionCount && JunctionList[j].y <= y + 2; ++j) {
      if (JunctionList[j].x >= lo && JunctionList[j].x <= hi) {
        found = j;
        break;
      }
    }
    if (found < 0) {
      ++i;
      continue;
    }
    if (lo == hi) {
      lo -= 2;
      hi += 2;
    }
    auto inRange = [&](int32_t k) {
      return k > 0 && k < junctionCount && !isEnd(k) && JunctionList[k].y <= y + 2 && JunctionList[k].x >= lo &&
             JunctionList[k].x <= hi;
    };
    int32_t from = found, to = found;
    if (found - 1 != i && inRange(found - 1)) from = found - 1;
    if (inRange(found + 1)) to = found + 1;
    // Every taken entry leaves the list and the count.
    RemoveJunctions(from, to - from + 1);
    cur.y = static_cast<int16_t>(y + 1);
    // Move the point forward until the list is in order again and look at it
    // once more there.
    int32_t k = i;
    while (k + 1 < junctionCount && Before(JunctionList[k + 1], JunctionList[k])) {
      std::swap(JunctionList[k], JunctionList[k + 1]);
      ++k;
    }
    i = k;
  }
}

bool AllocJunctionUsedBits() {
  if (gUsedBitsHandle != kNoMem) {
    MemUnlock(gUsedBitsHandle);
    MemFree(gUsedBitsHandle);
    gUsedBitsHandle = kNoMem;
    JunctionUsedBits = nullptr;
  }
  size_t words = static_cast<size_t>((junctionCount + 15) / 16);
  gUsedBitsHandle = MemAlloc(words ? words * 2 : 2);
  if (gUsedBitsHandle == kNoMem) return false;
  JunctionUsedBits = static_cast<uint16_t*>(MemLock(gUsedBitsHandle));
  return true;
}

int ThickThinSplit() {
  const ConversionSettings* s = gConvSettings;
  RowPair rows;
  if (!rows.Alloc()) {
    StopWith(kStrInsufficientMemory);
    return -1;
  }
  int16_t skel = OpenScratchStore(kStoreDgskel);
  if (skel == kNoFile || !WriteBitmapTo(skel)) return -1;
  int erosions = gImage->resolutionY <= 200 ? 1 : 2;
  for (int e = 0; e < erosions; ++e) {
    Morph(0, rows);
    if (!AnyBlack()) return 0;
  }
  if (!RemoveIsolatedPixels(rows)) return 0;
  int grow = 2 * ThinningSteps(s) + erosions;
  for (int g = 0; g < grow && !PollUserAbort(); ++g) Morph(1, rows);
  if (gUserAbort) return -1;
  // The thin-line skeleton: the skeleton without the thick areas.
  int16_t savedTitle = progressTitle;
  progressTitle = kStrProcessingImage;
  uint8_t* line = rows.Spare();
  for (int y = 0; y < gImage->height; ++y) {
    int32_t at = static_cast<int32_t>(y) * gImage->rowBytes;
    FileSeek(skel, at, kSeekSet);
    if (FileRead(skel, line, gImage->rowBytes) != gImage->rowBytes) memset(line, 0, RowBytes());
    const uint8_t* thick = WorkRow(y);
    for (size_t b = 0; b < RowBytes(); ++b) line[b] = static_cast<uint8_t>(line[b] & ~thick[b]);
    FileSeek(skel, at, kSeekSet);
    WriteChecked(skel, gImage->rowBytes, line);
    currentRow = static_cast<int16_t>(y);
    ShowRowProgress();
    if (gUserAbort) break;
  }
  progressTitle = savedTitle;
  if (gUserAbort) return -1;
  if (s->methodFlags & Method::lineRecognition) {
    // Line recognition sees the unthinned image without its thick areas.
    int16_t keep = OpenScratchStore(kStoreDgtemp);
    if (keep == kNoFile || !WriteBitmapTo(keep)) return -1;
    for (int y = 0; y < gImage->height; ++y) {
      uint8_t* row = WorkRow(y);
      ReadTemplateRow(static_cast<int16_t>(y), line);
      for (size_t b = 0; b < RowBytes(); ++b) row[b] = static_cast<uint8_t>(~row[b] & line[b]);
    }
    RecognizeLines();
    if (!Centerlining() && !gUserAbort) {
      // Without Centerline nothing else would take the thin strokes that are
      // no lines (text, curves): they are outlined with the thick areas.
      OutputLines();
      EraseRecognizedLines();
      OrBitmapFrom(keep);
    } else {
      ReadBitmapFrom(keep);
    }
  }
  return gUserAbort ? -1 : 1;
}

int16_t RunThinningSequence() {
  const ConversionSettings* s = gConvSettings;
  if (gDocument->Test(Flag::interactiveThinning)) return Resume();
  if (gDocument->Test(Flag::convertEdgeOnly)) return 0;
  bool centerline = Centerlining();
  bool lines = (s->methodFlags & Method::lineRecognition) != 0;
  if (!colorMode && !centerline && !lines) return 0;
  gDocument->thinningResponse = kThinningNone;
  ThinningWindowClose();
  gBaseSteps = static_cast<int16_t>(colorMode ? 20 : ThinningSteps(s));
  thinningStepsRun = gBaseSteps;
  if (!PinholeFill() || RunThinningPasses(0, 2 * gBaseSteps - 2, gBaseSteps, true) < 0) {
    StopWith(kStrInsufficientMemory);
    return 1;
  }
  if (gUserAbort) return 1;
  if (centerline || colorMode) {
    if (!CollectJunctions()) return 1;
    if (centerline && !colorMode && (s->optionFlags & Option::interactiveThinning) &&
        !gDocument->Test(Flag::batchRunning)) {
      Pause();
      return 1;
    }
  }
  return FinishSequence();
}

bool KeepThinMoreUndo() {
  size_t n = RowBytes() * gImage->height;
  if (!gThinMoreKept) gThinMoreKept = static_cast<uint8_t*>(MemAllocPtr(n));
  if (!gThinMoreKept || !gWorkBits) return false;
  memcpy(gThinMoreKept, gWorkBits, n);
  return true;
}

bool ExchangeThinMoreUndo(bool undo) {
  if (!gThinMoreKept || !gWorkBits) return false;
  size_t n = RowBytes() * gImage->height;
  for (size_t i = 0; i < n; ++i) {
    uint8_t b = gWorkBits[i];
    gWorkBits[i] = gThinMoreKept[i];
    gThinMoreKept[i] = b;
  }
  thinningStepsRun = static_cast<int16_t>(thinningStepsRun + (undo ? -1 : 1));
  // The skeleton now shown is the one to carry on from: Done after an Undo
  // must not take it for a touch-up and thin it again.
  if (gDocument->Test(Flag::interactiveThinning)) {
    TakeSkeletonSnapshot();
    ThinningWindowSetSteps(thinningStepsRun);
  }
  return true;
}

void DiscardThinMoreUndo() {
  MemFreePtr(gThinMoreKept);
  gThinMoreKept = nullptr;
}

void LoadSkeleton() {
  int16_t file = scratchHandles[kStoreDgskel];
  if (file != kNoFile) ReadBitmapFrom(file);
}

void FreeJunctionList() {
  FreeJunctionMemory();
  MemFreePtr(gSkeletonSnapshot);
  gSkeletonSnapshot = nullptr;
}
