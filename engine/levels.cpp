#include "engine/levels.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/conversion.h"
#include "engine/custom_colors.h"
#include "raster/sample_store.h"
#include "platform/platform.h"
#include "platform/string_ids.h"
#include "core/host.h"
#include "core/records.h"

namespace {

// What Undo of a Levels change needs: the samples the last write replaced,
// row after row (the rows the write touched: all of them, or the conversion
// area's row span), and the display table put aside while Undo shows a
// pending change unmapped.
struct LevelsUndoState {
  MemHandle samples = kNoMem;
  int32_t top = 0;
  int32_t rows = 0;
  uint8_t shownTable[256] = {};
  bool tableAside = false;
};
LevelsUndoState gLevelsUndo;

bool AreaSelected() { return gDocument->Test(Flag::pixelSelection); }

bool Inside(int x, int y) {
  return !AreaSelected() || ConversionAreaContains(static_cast<int16_t>(x), static_cast<int16_t>(y));
}

void IdentityTable(uint8_t table[256]) {
  for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(i);
}

int Clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

}  // namespace

bool LevelsAreIdentity(const LevelsValues& v) { return v.black == 0 && v.white == 255 && std::fabs(v.gamma - 1.0) < 0.005; }

void BuildLevelsTable(const LevelsValues& v, uint8_t table[256]) {
  int b = Clamp(v.black, 0, 253), w = Clamp(v.white, b + 2, 255);
  double g = v.gamma < 0.1 ? 0.1 : v.gamma > 9.99 ? 9.99 : v.gamma;
  double step = 1.0 / (w - b), t = 0;
  for (int i = 0; i < 256; ++i) {
    if (i < b) {
      table[i] = 0;
    } else if (i < w) {
      double e = std::pow(t, 1.0 / g) * 255;
      // The steps add up to whole levels: t = (i - b) / (w - b), within
      // rounding, so a level that lands on a whole value is not cut short.
      table[i] = static_cast<uint8_t>(e + 1e-9 > 255 ? 255 : e + 1e-9);
      t += step;
    } else {
      table[i] = 255;
    }
  }
}

int LevelsMidpoint(const LevelsValues& v) {
  double s = 0.5 - 0.5 * std::log10(v.gamma);
  int m = static_cast<int>(v.black * (1 - s) + v.white * s + 0.5);
  return Clamp(m, v.black + 1, v.white - 1);
}

bool ComputeLevelsHistogram(LevelsHistogram* h) {
  memset(h, 0, sizeof *h);
  if (!SampleStoreMade()) return false;
  const int spp = storeSamples;
  uint64_t total = 0;
  for (int y = 0; y < storeRows; ++y) {
    const uint8_t* row = SampleRow(y);
    if (!row) {
      row = FetchSampleRow(static_cast<int16_t>(y), 0, storeRowLength);
      if (!row) continue;
    }
    for (int x = 0; x < storePixels; ++x) {
      if (!Inside(x, y)) continue;
      const uint8_t* p = row + static_cast<size_t>(x) * spp;
      if (spp == 1) {
        ++h->counts[p[0]];
      } else if (spp == 3) {
        for (int k = 0; k < 3; ++k) ++h->counts[p[k]];
      } else {
        for (int k = 0; k < 4; ++k) ++h->counts[255 - p[k]];
      }
      total += static_cast<uint64_t>(spp);
    }
  }
  // The scale: the largest count below a 48th of the total, over 48; when
  // that is below 2, a quarter of the 48th.
  uint64_t q = total / 48;
  uint32_t largest = 0;
  for (uint32_t c : h->counts)
    if (c < q && c > largest) largest = c;
  uint32_t scale = largest / 48;
  if (scale < 2) scale = static_cast<uint32_t>(q / 4);
  h->scale = scale > 0 ? scale : 1;
  return true;
}

int HistogramBar(const LevelsHistogram& h, int column, int width) {
  if (width <= 0) return 0;
  int level = (column * 256 + width / 2) / width;
  if (level > 255) level = 255;
  uint32_t bar = h.counts[level] / h.scale;
  return bar > 100 ? 100 : static_cast<int>(bar);
}

int MarkerX(int level, int width) { return (level * width + 128) / 256; }
int LevelAtX(int x, int width) { return width > 0 ? (x * 256 + width / 2) / width : 0; }

int PickMarker(const LevelsValues& v, int level) {
  int m = LevelsMidpoint(v);
  if (level <= (v.black + m) / 2) return kMarkerBlack;
  if (level <= (m + v.white) / 2) return kMarkerGamma;
  return kMarkerWhite;
}

bool DragMarker(LevelsValues* v, int marker, int level) {
  LevelsValues before = *v;
  if (marker == kMarkerBlack) {
    v->black = Clamp(level, 0, v->white - 2);
  } else if (marker == kMarkerWhite) {
    v->white = Clamp(level, v->black + 2, 255);
  } else {
    double t = static_cast<double>(level - v->black) / (v->white - v->black);
    double g = std::pow(10.0, -2 * (t - 0.5));
    v->gamma = g < 0.10 ? 0.10 : g > 9.99 ? 9.99 : g;
  }
  return v->black != before.black || v->white != before.white || v->gamma != before.gamma;
}

void FormatGamma(double gamma, char separator, char* text, int size) {
  int hundredths = static_cast<int>(gamma * 100 + 1e-6);
  snprintf(text, static_cast<size_t>(size), "%d%c%02d", hundredths / 100, separator, hundredths % 100);
}

bool ParseGamma(const char* text, char separator, double* gamma) {
  char clean[64];
  int n = 0;
  bool digits = false;
  for (const char* p = text; *p && n < 62; ++p) {
    char c = *p == separator ? '.' : *p;
    if ((c >= '0' && c <= '9') || c == '.') {
      clean[n++] = c;
      digits = digits || (c >= '0' && c <= '9');
    }
  }
  clean[n] = 0;
  if (!digits) return false;
  *gamma = atof(clean);
  return true;
}

int CheckLevelsBox(LevelsValues* v, int box, double typed) {
  int message = 0;
  if (box == kBoxGamma) {
    // The box shows hundredths: a typed value is taken as shown.
    if (typed < 0.10) typed = 0.10, message = kStrGammaRange;
    else if (typed > 9.99) typed = 9.99, message = kStrGammaRange;
    v->gamma = typed;
  } else {
    int lo = box == kBoxBlack ? 0 : 2, hi = box == kBoxBlack ? 253 : 255;
    int value = typed < lo ? lo : typed > hi ? hi : static_cast<int>(typed);
    if (typed < lo || typed > hi) message = box == kBoxBlack ? kStrBlackPointRange : kStrWhitePointRange;
    (box == kBoxBlack ? v->black : v->white) = value;
    if (v->white - v->black < 2) {
      if (v->black < 129) v->white = v->black + 2;
      else v->black = v->white - 2;
    }
  }
  if (message) ShowWarning(message);
  return message;
}

// ---------------------------------------------------------------------------

void DiscardLevelsUndo() {
  if (gLevelsUndo.samples != kNoMem) MemFree(gLevelsUndo.samples);
  gLevelsUndo.samples = kNoMem;
  gLevelsUndo.rows = 0;
}

bool ApplyLevelsToSamples(const uint8_t table[256]) {
  if (!SampleStoreInMemory()) return false;
  DiscardLevelsUndo();
  const int spp = storeSamples;
  const size_t L = static_cast<size_t>(storeRowLength);
  // The rows that hold pixels of the area.
  int top = 0, bottom = storeRows - 1;
  if (AreaSelected()) {
    top = storeRows;
    bottom = -1;
    for (int y = 0; y < storeRows; ++y)
      for (int x = 0; x < storePixels; ++x)
        if (Inside(x, y)) {
          if (y < top) top = y;
          bottom = y;
          break;
        }
    if (bottom < top) return true;  // an empty area: nothing to change
  }
  gLevelsUndo.samples = MemAlloc(L * static_cast<size_t>(bottom - top + 1));
  if (gLevelsUndo.samples == kNoMem) return false;
  gLevelsUndo.top = top;
  gLevelsUndo.rows = bottom - top + 1;
  uint8_t* keep = static_cast<uint8_t*>(MemLock(gLevelsUndo.samples));
  for (int y = top; y <= bottom; ++y) {
    uint8_t* row = SampleRow(y);
    memcpy(keep + L * static_cast<size_t>(y - top), row, L);
    for (int x = 0; x < storePixels; ++x) {
      if (!Inside(x, y)) continue;
      uint8_t* p = row + static_cast<size_t>(x) * spp;
      if (spp < 4) {
        for (int k = 0; k < spp; ++k) p[k] = table[p[k]];
      } else {
        uint32_t rgb = DisplayColor(p);
        RgbToCmyk(table[(rgb >> 16) & 255], table[(rgb >> 8) & 255], table[rgb & 255], p);
      }
    }
  }
  MemUnlock(gLevelsUndo.samples);
  return true;
}

bool SwapLevelsSamples() {
  if (gLevelsUndo.samples == kNoMem || !SampleStoreInMemory()) return false;
  const size_t L = static_cast<size_t>(storeRowLength);
  uint8_t* keep = static_cast<uint8_t*>(MemLock(gLevelsUndo.samples));
  for (int32_t i = 0; i < gLevelsUndo.rows; ++i) {
    uint8_t* row = SampleRow(gLevelsUndo.top + i);
    if (!row) break;
    uint8_t* other = keep + L * static_cast<size_t>(i);
    for (size_t b = 0; b < L; ++b) {
      uint8_t t = row[b];
      row[b] = other[b];
      other[b] = t;
    }
  }
  MemUnlock(gLevelsUndo.samples);
  return true;
}

void CommitPendingLevels() {
  if (!gDocument->Test(Flag::levelsPending)) return;
  if (gLevelsUndo.tableAside) {
    memcpy(levelsTable, gLevelsUndo.shownTable, sizeof gLevelsUndo.shownTable);
    gLevelsUndo.tableAside = false;
  }
  ApplyLevelsToSamples(levelsTable);
  IdentityTable(levelsTable);
  gDocument->Clear(Flag::levelsPending);
}

bool UndoLevels() {
  if (gDocument->Test(Flag::levelsPending)) {
    // Pending: the display shows the image with or without the table.
    if (gLevelsUndo.tableAside) {
      memcpy(levelsTable, gLevelsUndo.shownTable, sizeof gLevelsUndo.shownTable);
    } else {
      memcpy(gLevelsUndo.shownTable, levelsTable, sizeof gLevelsUndo.shownTable);
      IdentityTable(levelsTable);
    }
    gLevelsUndo.tableAside = !gLevelsUndo.tableAside;
  } else if (!SwapLevelsSamples()) {
    return false;
  }
  gHost.refreshImageWindow();
  return true;
}

bool OpenLevels(LevelsDialog* d) {
  d->values = kLevelsIdentity;
  d->previewShown = false;
  if (!SampleStoreInMemory()) {
    ShowWarning(kStrLevelsNoMemory);
    return false;
  }
  if (gDocument->undoKind == kUndoLevels || gDocument->undoKind == -kUndoLevels) CommitPendingLevels();
  return true;
}

void LevelsPreview(LevelsDialog* d) {
  if (!d->previewShown) {
    CommitPendingLevels();
    gDocument->Set(Flag::levelsPending);
    d->previewShown = true;
  }
  gLevelsUndo.tableAside = false;
  BuildLevelsTable(d->values, levelsTable);
  gDocument->undoKind = kUndoLevels;
  gHost.refreshImageWindow();
}

void LevelsOK(LevelsDialog* d) {
  if (LevelsAreIdentity(d->values)) {
    if (d->previewShown) LevelsCancel(d);
    return;
  }
  gLevelsUndo.tableAside = false;
  BuildLevelsTable(d->values, levelsTable);
  gDocument->Clear(Flag::levelsPending);
  gHost.recordUndo(kUndoLevels);
  gDocument->Set(Flag::levelsPending);
  gHost.refreshImageWindow();
}

void LevelsCancel(LevelsDialog* d) {
  gDocument->Clear(Flag::levelsPending);
  if (d->previewShown && (gDocument->undoKind == kUndoLevels || gDocument->undoKind == -kUndoLevels))
    gDocument->undoKind = kUndoNone;
  d->previewShown = false;
  gLevelsUndo.tableAside = false;
  IdentityTable(levelsTable);
  gHost.refreshImageWindow();
}

void LevelsReset(LevelsDialog* d) {
  d->values = kLevelsIdentity;
  if (d->previewShown) LevelsCancel(d);
}
