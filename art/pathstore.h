// The path store: the artwork of the open document as an ordered array of
// 44-byte path records, each with its own list of 16-bit point words in art
// coordinates.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/status.h"
#include "platform/platform.h"

struct PathRecord {
  int32_t bounds[4];  // left, top, right, bottom: anchors grown by 5 art units
  int16_t pointCapacity;
  int16_t pointCount;
  MemHandle points;  // the point words; kNoMem while pointCapacity is 0
  uint8_t fillColor[4];    // C, M, Y, K
  uint8_t strokeColor[4];
  uint8_t pathFlags;
  uint8_t reserved1;
  int16_t fillCustom;
  int16_t strokeCustom;
  uint8_t fillTint;
  uint8_t strokeTint;
  uint8_t strokeWeight;  // tenths of a point
  uint8_t fillKind;      // 0 none, 1 white, 2 black, 3 process, 4 custom
  uint8_t strokeKind;
  uint8_t reserved2;
};
static_assert(sizeof(PathRecord) == 44);
static_assert(offsetof(PathRecord, pointCapacity) == 16);
static_assert(offsetof(PathRecord, points) == 20);
static_assert(offsetof(PathRecord, fillColor) == 24);
static_assert(offsetof(PathRecord, strokeColor) == 28);
static_assert(offsetof(PathRecord, pathFlags) == 32);
static_assert(offsetof(PathRecord, fillCustom) == 34);
static_assert(offsetof(PathRecord, strokeCustom) == 36);
static_assert(offsetof(PathRecord, fillTint) == 38);
static_assert(offsetof(PathRecord, strokeWeight) == 40);
static_assert(offsetof(PathRecord, fillKind) == 41);
static_assert(offsetof(PathRecord, strokeKind) == 42);

namespace PathFlag {
inline constexpr uint8_t openPath = 0x01;
inline constexpr uint8_t grouped = 0x02;
inline constexpr uint8_t selected = 0x04;
}  // namespace PathFlag

// Paint kinds of a fill or stroke.
enum PaintKind : uint8_t { kPaintNone = 0, kPaintWhite = 1, kPaintBlack = 2, kPaintProcess = 3, kPaintCustom = 4 };

// Bit 15 of an anchor word marks a curve (x: leaving, y: arriving).
constexpr uint16_t kCurveBit = 0x8000;

// The segments of a path's point words, in order: the starting anchor is
// words 0 and 1 (AnchorWord strips the flag bit); each segment is a line or a
// curve with its two control points, ending at an anchor given without flag
// bits. The walk stops before a segment whose words are cut short.
struct PathSegment {
  bool curve;
  int16_t c1x, c1y, c2x, c2y;  // control points of a curve
  int16_t x, y;                // the end anchor
};
inline int16_t AnchorWord(int16_t word) { return static_cast<int16_t>(word & 0x7FFF); }
// `at` starts at 0 and is advanced to the segment's end anchor; false when no
// whole segment follows.
bool NextPathSegment(const int16_t* words, int count, int* at, PathSegment* segment);

enum DiscardReason : int { kDiscardLimit = 0, kDiscardMemory = 1 };

// Store state.
extern PathRecord* gPaths;      // the record array (nullptr when empty)
extern int16_t gPathCapacity;
extern int16_t gMaxPaths;       // 10000
extern int16_t gMinPathLength;
extern PathRecord* gCurrentPath;

// Pen inputs of BeginPath and AddPathPoint (pixels).
extern double penX, penY, ctrl1X, ctrl1Y, ctrl2X, ctrl2Y;

// The paint and flags that a new path starts with. The conversion decides
// them from its state (BeginConversionPath, engine/conversion.h); the
// defaults are a black fill without stroke.
struct PathPaint {
  uint32_t fillColor = 0xFF000000u;  // C, M, Y, K bytes, C in the low byte
  uint32_t strokeColor = 0xFF000000u;
  uint8_t fillKind = kPaintBlack;
  uint8_t strokeKind = kPaintNone;
  int16_t fillCustom = 0;  // the custom color of a kPaintCustom fill
  uint8_t fillTint = 0;
  uint8_t pathFlags = 0;   // PathFlag::openPath, PathFlag::grouped
  double strokeWidth = 0;  // points; stored in tenths, at most 25.5
};

// The anchor word of a coordinate in pixels: times gArtScale, rounded to the
// nearest art unit (half pixels are exact while gArtScale is at least 2, that
// is below 16000 pixels), limited to 0..32767.
int16_t ArtCoord(double pixels);

// Empties the store for a new conversion (or brings back the art put aside).
// Failed with message 11 when memory is short.
Status ResetPathStore();
// Starts a path at (penX, penY) painted with `paint`: AppendPath, then
// StartPath. AppendPath first drops the last path when it is shorter than the
// minimum length of a discard round, and makes room (discarding short paths
// at the path limit or when memory is short); it returns the new zeroed
// record, now gCurrentPath, or nullptr when the conversion had to stop.
// StartPath paints the record and places its first anchor.
void BeginPath(const PathPaint& paint);
PathRecord* AppendPath();
void StartPath(PathRecord* record, const PathPaint& paint);
void AddPathPoint(int curve);
void SetLastPoint(int16_t x, int16_t y);
void DeletePath(PathRecord* record);
void DeleteAllPaths();
int16_t PathLength(const PathRecord* record, int16_t limit);
// Makes room when the path limit is reached or memory runs short: drops an
// eighth of the store, the shortest paths first (of equal lengths the later
// ones), raises gMinPathLength to the shortest length kept, counts the
// dropped paths in `droppedPathCount` and sets `pathsDroppedLimit` or
// `pathsDroppedMemory`. With fewer than 100 paths the conversion stops with
// message 66 (StopWith).
void DiscardShortPaths(int reason);
void RemoveRedundantAnchors();
int16_t CountAnchors(const PathRecord* record);
int32_t CountAllAnchors();
int32_t CountSelectedAnchors();
int16_t CountArtColors();

// Undo snapshots of the store: a copy of every record and its point words.
struct PathStoreCopy {
  PathRecord* records = nullptr;
  int16_t count = 0;
  int16_t capacity = 0;
  int16_t selected = 0;
};
Status CopyPathStore(PathStoreCopy* copy);   // Failed (nothing to show) when memory is short
void SwapPathStore(PathStoreCopy* copy);     // exchanges the store with the copy
void FreePathStoreCopy(PathStoreCopy* copy);
