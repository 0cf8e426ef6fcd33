// The shared records of the application: the document record, the image
// record, the preferences record and the one-bit working bitmap, each existing
// once for the life of the process and reached through a global pointer, plus
// the global scalars that travel with them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

class DrawContext;
using WindowHandle = void*;  // an opaque window of the active backend

// ---------------------------------------------------------------------------
// Flag bits of the document record: byte index and mask (0x80 is the top bit).
struct DocFlag {
  uint8_t byte;
  uint8_t mask;
};

namespace Flag {
inline constexpr DocFlag appActive{0, 0x80};
inline constexpr DocFlag pixelUndoPending{0, 0x40};
inline constexpr DocFlag trackingBits{0, 0x3F};
inline constexpr DocFlag pixelSelection{1, 0x80};
inline constexpr DocFlag separationValid{1, 0x40};
inline constexpr DocFlag wandRunning{1, 0x20};
inline constexpr DocFlag artOutputRunning{1, 0x10};
inline constexpr DocFlag settingsChanged{1, 0x04};
inline constexpr DocFlag busy{1, 0x02};
inline constexpr DocFlag artModified{1, 0x01};
inline constexpr DocFlag spaceDown{2, 0x80};
inline constexpr DocFlag shiftDown{2, 0x20};
inline constexpr DocFlag separationBit{2, 0x10};
inline constexpr DocFlag pathsDroppedLimit{2, 0x08};
inline constexpr DocFlag pixelModified{2, 0x04};
inline constexpr DocFlag downsample2to1{2, 0x02};
inline constexpr DocFlag selectionOutlineShown{2, 0x01};
inline constexpr DocFlag pluginDirChanged{3, 0x80};
inline constexpr DocFlag saveAsRequested{3, 0x40};
inline constexpr DocFlag artUntitled{3, 0x20};
inline constexpr DocFlag pixelEdit{3, 0x10};
inline constexpr DocFlag outlineRedraw{3, 0x08};
inline constexpr DocFlag levelsPending{3, 0x04};
inline constexpr DocFlag toolboxVisible{3, 0x02};
inline constexpr DocFlag showTemplate{3, 0x01};
inline constexpr DocFlag ctrlDown{4, 0x40};
inline constexpr DocFlag altDown{4, 0x20};
inline constexpr DocFlag fillUndoPending{4, 0x10};
inline constexpr DocFlag batchRunning{4, 0x08};
inline constexpr DocFlag redrawPending{4, 0x04};
inline constexpr DocFlag wandGrow{4, 0x02};
inline constexpr DocFlag wandFromMenu{4, 0x01};
inline constexpr DocFlag convertEdgeOnly{5, 0x40};
inline constexpr DocFlag interactiveThinning{5, 0x20};
inline constexpr DocFlag outlineMemoryShort{5, 0x10};
inline constexpr DocFlag imageHasFile{5, 0x08};
inline constexpr DocFlag imageUntitled{5, 0x04};
inline constexpr DocFlag pathsDroppedMemory{5, 0x02};
inline constexpr DocFlag writingClipboard{5, 0x01};
inline constexpr DocFlag modalDialogUp{6, 0x40};
inline constexpr DocFlag thinningBackupMissing{6, 0x20};
inline constexpr DocFlag pathTools{6, 0x1F};
}  // namespace Flag

// ---------------------------------------------------------------------------
// Undo kinds (`undoKind`); a negative value is the same kind offered as Redo.
enum UndoKind : int16_t {
  kUndoNone = 0,
  kUndoDelete = 1,
  kUndoPencil = 2,
  kUndoEraser = 3,
  kUndoLine = 4,
  kUndoSmoothing = 5,
  kUndoSwatch = 6,
  kUndoPaintStyle = 7,
  kUndoZoom = 8,
  kUndoDeleteAnchor = 9,
  kUndoLevels = 10,
  kUndoFill = 11,
  kUndoMarquee = 12,
  kUndoLasso = 13,
  kUndoMagicWand = 14,
  kUndoSelectAll = 15,
  kUndoSelectNone = 16,
  kUndoSelectInverse = 17,
  kUndoGrowSelection = 18,
  kUndoSelectSimilar = 19,
  kUndoClear = 20,
  kUndoConvert = 21,
  kUndoSmoothDirectionPoints = 22,
  kUndoAddAnchorPoint = 23,
  kUndoMoveAnchorPoint = 24,
  kUndoAdjustLine = 25,
  kUndoThinMore = 26,
  kUndoAdjustCurve = 27,
  kUndoConvertToCircle = 30,
  kUndoConvertToOval = 31,
  kUndoConvertToSquare = 32,
  kUndoConvertToRectangle = 33,
};
// The kind's name as the Edit menu shows it; "" for the unused kinds.
const char* UndoKindName(int kind);

// ---------------------------------------------------------------------------
struct DocumentRecord {
  uint8_t flags[7];
  WindowHandle imageWindow;
  WindowHandle toolboxWindow;
  WindowHandle paintStyleWindow;
  WindowHandle infoWindow;
  WindowHandle progressWindow;
  WindowHandle thinningWindow;
  int16_t selectedPathCount;
  int16_t acquireItem;
  char batchDestFolder[256];
  int16_t acquireCount;
  int16_t redrawNextPath;
  int16_t undoKind;
  int16_t batchFileCount;
  int16_t currentTool;
  int16_t thinningResponse;  // 1 Done, 2 Cancel, 3 Thin More
  int16_t viewMode;          // 0 Preview, 1 Artwork, 2 Preview Selection
  char decimalSeparator;
  char userName[kNameBufferSize];
  char userOrganization[kNameBufferSize];
  int32_t redrawRect[4];
  int16_t* customColorOrder;
  void* customColorList;
  void* settingsPresetList;
  DrawContext* drawDC;
  WindowHandle mainWindow;
  void* instance;
  void* drawDib;
  char prefsFilePath[kNameBufferSize];
  char helpFilePath[kNameBufferSize];
  char settingsFilePath[kNameBufferSize];
  uint16_t clipFormatArt;
  uint16_t clipFormatEPS;
  char pluginDirectory[kNameBufferSize];
  // Paths the last conversion had to drop at the path limit or for memory
  // (with `pathsDroppedLimit` / `pathsDroppedMemory`): its art is incomplete.
  int32_t droppedPathCount;
  // Pixels per inch that every image opened takes instead of its file's own
  // (the command line's --resolution); 0 keeps the file's.
  double givenResolution;

  bool Test(DocFlag f) const { return (flags[f.byte] & f.mask) != 0; }
  void Set(DocFlag f) { flags[f.byte] |= f.mask; }
  void Clear(DocFlag f) { flags[f.byte] &= static_cast<uint8_t>(~f.mask); }
  void Put(DocFlag f, bool on) { on ? Set(f) : Clear(f); }
};

// Source kinds of the image record.
enum SourceType : int16_t {
  kSourceUnknown = -1,
  kSourceSun = 0,
  kSourceMacPaint = 1,
  kSourcePcx = 2,
  kSourceTiff = 3,
  kSourceRanvelle2 = 4,
  kSourceRanvelle3 = 5,
  kSourceMetafile = 6,
  kSourceAcquire = 7,
};

struct ImageInfo {
  char path[kNameBufferSize];
  char docName[kNameBufferSize];
  int16_t fileHandle;
  int16_t rowBits;
  int16_t height;
  int16_t rowBytes;
  int16_t sourceType;
  int16_t rowWords;
  int16_t photometric;
  int16_t width;
  int16_t sourceRowBytes;
  int16_t swapBytes;
  int16_t bitsPerSample;
  int16_t samplesPerPixel;
  char sourceFolder[kNameBufferSize];
  char outputFolder[kNameBufferSize];
  int32_t zoomX;
  int32_t zoomY;
  double resolutionX;
  double resolutionY;
};

// ---------------------------------------------------------------------------
// The preferences record, stored as it is (little-endian) in the preferences
// and settings files.
// The art format codes of PrefsRecord::outputFormat.
enum ArtFormat : int16_t {
  kFormatEps11 = 0,     // EPS of the 1.1 generation
  kFormatEps88 = 1,     // EPS of the 88 generation
  kFormatEps3 = 2,      // EPS of the 3 generation
  kFormatEps5 = 3,      // EPS of the 5 generation, the one the Save dialogs offer
  kFormatMetafile = 4,  // enhanced metafile
  kFormatDxf = 5,
  kFormatRetired = 6,   // read from a preferences file as kFormatEps5; never written
  kFormatClipboard = 7,  // clipboard art: 3-generation framing, the selected paths only
  kFormatSvg = 8,
  kFormatPdf = 9,
};

#pragma pack(push, 1)
struct PrefsRecord {
  uint8_t flags0;
  uint8_t flags1;
  uint8_t unused2[6];
  int16_t previewKind;      // EPS preview kind of saved art
  int16_t outputFormat;     // output format of saved art (7 is the clipboard)
  int16_t pixelWriterKind;  // used by the pixel image writer
  int16_t drawThickness;    // 0..4, default 4
  int16_t customColorCount;
  int16_t presetCount;
  uint8_t wandTolerance;    // 0..255, default 32
  char selectedPreset[33];
  int16_t dialogPositions[38][2];  // top, then left
  int32_t mainWindow[4];           // left, top, width, height
  int16_t mainShowState;           // 3 = maximised
  char pluginFolder[256];
  char scratchFolder[256];
};
#pragma pack(pop)

static_assert(sizeof(PrefsRecord) == 736);
static_assert(offsetof(PrefsRecord, previewKind) == 8);
static_assert(offsetof(PrefsRecord, outputFormat) == 10);
static_assert(offsetof(PrefsRecord, pixelWriterKind) == 12);
static_assert(offsetof(PrefsRecord, drawThickness) == 14);
static_assert(offsetof(PrefsRecord, customColorCount) == 16);
static_assert(offsetof(PrefsRecord, presetCount) == 18);
static_assert(offsetof(PrefsRecord, wandTolerance) == 20);
static_assert(offsetof(PrefsRecord, selectedPreset) == 21);
static_assert(offsetof(PrefsRecord, dialogPositions) == 54);
static_assert(offsetof(PrefsRecord, mainWindow) == 206);
static_assert(offsetof(PrefsRecord, mainShowState) == 222);
static_assert(offsetof(PrefsRecord, pluginFolder) == 224);
static_assert(offsetof(PrefsRecord, scratchFolder) == 480);

// Preference flag bits.
namespace PrefFlag {
inline constexpr uint8_t restoreSettings = 0x01;    // flags0
inline constexpr uint8_t beepAfterConvert = 0x02;   // flags0
inline constexpr uint8_t expandSpread = 0x08;       // flags0
inline constexpr uint8_t infoPaletteOpen = 0x10;    // flags0
inline constexpr uint8_t paintStyleOption = 0x20;   // flags0, an option of the Paint Style palette
inline constexpr uint8_t batchToSourceFolder = 0x40;  // flags0
inline constexpr uint8_t batchReplaceFiles = 0x01;  // flags1
inline constexpr uint8_t savePositions = 0x02;      // flags1
inline constexpr uint8_t paintStyleOpen = 0x04;     // flags1
inline constexpr uint8_t eliminateHidden = 0x10;    // flags1
}  // namespace PrefFlag

// ---------------------------------------------------------------------------
// The process-wide records and scalars.
extern DocumentRecord* gDocument;
extern ImageInfo* gImage;
extern PrefsRecord* gPrefs;
extern PrefsRecord* gPrefsEdit;

// The one-bit working bitmap: 1 = black, bit 0x80 leftmost, rows rowBytes
// apart, one blank guard row above the first row and one below the last.
extern uint8_t* gWorkBits;
// Bytes of one row of the working bitmap and of every bitmap of its geometry
// (the mask, the template copy, the backup plane).
inline size_t RowBytes() { return static_cast<size_t>(gImage->rowBytes); }

extern int16_t gUserAbort;
extern int16_t gPathCount;
extern int16_t gHiddenPathCount;
extern double gArtScale;
extern int16_t gArtScaleShift;

// The backup plane: a second bitmap of the working bitmap's geometry that
// holds the image as opened (undo of touch-ups, the conversion area); none
// when memory was short.
extern uint8_t* gBackupBits;
bool AllocBackupBits();
void FreeBackupBits();

// Set while the image's file is the "memtemp" scratch file that the driver
// spooled it to; closing the document deletes that file.
extern int16_t imageSpooled;

// Allocates a zeroed working bitmap for the image record's rowBytes and
// height, guard rows included; false when memory is short.
bool AllocWorkBits();
void FreeWorkBits();
// The pixel at (x, y); 0 outside the image, never outside the block.
int WorkPixel(int x, int y);
// Bytes of a bitmap of the image's geometry with its two guard rows.
size_t BitmapBlockBytes();

// Chooses the art scale for the image's geometry: the larger side, doubled
// once per step, reaches at least 16000 art units.
void ComputeArtScale();

// Resets every record to its start-up state (tests, and the start of the
// program).
void ResetRecords();
