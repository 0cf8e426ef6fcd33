// Levels: remaps the tones of a gray, RGB or CMYK image before conversion by
// an input black point, a gamma and an input white point. The 256-entry
// `levelsTable` (engine/sample_store.h) first serves the display while the
// change is pending (`levelsPending`), and is then written into the samples
// of the sample store, inside the conversion area when one is selected. The
// samples a change replaced are kept, so that Undo can put them back.
//
// The dialog's window belongs to the desktop program; its logic is here: the
// table, the histogram and its bars, the markers under it, the three boxes
// with their range messages, and Preview, OK, Cancel and Reset.
#pragma once

#include <cstdint>

struct LevelsValues {
  int black;     // 0 to 253
  double gamma;  // 0.10 to 9.99
  int white;     // 2 to 255, at least black + 2
};
constexpr LevelsValues kLevelsIdentity{0, 1.0, 255};
bool LevelsAreIdentity(const LevelsValues& v);

// The table: 0 below the black point, (t ^ (1 / gamma)) x 255 from the black
// point up to the white point (t from 0 in steps of 1 / (white - black)),
// 255 from the white point up.
void BuildLevelsTable(const LevelsValues& v, uint8_t table[256]);
// The marker position of the gamma, between the black and white points.
int LevelsMidpoint(const LevelsValues& v);

// --- The histogram and the markers -------------------------------------------
struct LevelsHistogram {
  uint32_t counts[256];
  uint32_t scale;  // counts per pixel of bar height
};
// Counts the samples (inside the conversion area when one is selected):
// gray samples as they are, each of R, G, B, and 255 minus each of C, M, Y,
// K. False when there is no sample store.
bool ComputeLevelsHistogram(LevelsHistogram* h);
// The bar of column `column` of a histogram box `width` pixels wide, in
// pixels (at most 100).
int HistogramBar(const LevelsHistogram& h, int column, int width);
// Where a level's marker stands in a strip `width` pixels wide, and the
// level under a pointer at x.
int MarkerX(int level, int width);
int LevelAtX(int x, int width);
enum LevelsMarker : int { kMarkerBlack = 0, kMarkerGamma = 1, kMarkerWhite = 2 };
// The marker a press at `level` picks.
int PickMarker(const LevelsValues& v, int level);
// Drags a marker to `level`; true when a value changed.
bool DragMarker(LevelsValues* v, int marker, int level);

// --- The boxes --------------------------------------------------------------------
enum LevelsBox : int { kBoxBlack = 0, kBoxGamma = 1, kBoxWhite = 2 };
// The gamma as the box shows it: whole part, the decimal separator, two
// decimals (truncated).
void FormatGamma(double gamma, char separator, char* text, int size);
// Reads a gamma text: the separator becomes a point, characters other than
// digits, points and blanks are dropped. False when no number is left.
bool ParseGamma(const char* text, char separator, double* gamma);
// Checks one typed value against its range: an out-of-range value is
// replaced by the nearest limit and its message shown (1014, 1015 or 1016);
// returns the message, 0 when it was in range. Then keeps the points apart:
// closer than 2, the white point moves up to black + 2 while black is below
// 129, else the black point moves down to white - 2.
int CheckLevelsBox(LevelsValues* v, int box, double typed);

// --- Writing into the samples, and undoing it ------------------------------
// Writes `table` into the samples: every gray or RGB sample; a CMYK pixel
// through its screen color, the table and back to CMYK. The samples
// replaced are kept for UndoLevelsSamples. False (nothing changed) when the
// store is not in memory or there is no room for the copy.
bool ApplyLevelsToSamples(const uint8_t table[256]);
// Exchanges the samples with the ones kept by the last write: the first call
// undoes it, a second redoes it. False when nothing is kept.
bool SwapLevelsSamples();
// Forgets the kept samples.
void DiscardLevelsUndo();
// Commits a pending change: with `levelsPending` set, writes levelsTable into
// the samples, resets the table to the identity and clears the flag.
void CommitPendingLevels();
// Undo and Redo of a Levels change: while it is pending, the display
// toggles between the table and the identity; once written, the samples are
// exchanged. False when there is nothing to exchange (no change pending and
// no samples kept).
bool UndoLevels();

// --- The dialog ---------------------------------------------------------------------
struct LevelsDialog {
  LevelsValues values;
  bool previewShown;
};
// Opening: needs the samples in memory (else message 1013 and false); a
// pending Levels change is committed first.
bool OpenLevels(LevelsDialog* d);
// Preview: the first time marks a change pending (committing an earlier one);
// builds the table, which the display shows.
void LevelsPreview(LevelsDialog* d);
// OK: nothing for the identity; otherwise builds the table and records a
// Levels undo snapshot, leaving the change pending until it is committed.
void LevelsOK(LevelsDialog* d);
// Cancel: no change is pending; the table is the identity again.
void LevelsCancel(LevelsDialog* d);
// Reset: the identity values; a shown preview is taken away.
void LevelsReset(LevelsDialog* d);
