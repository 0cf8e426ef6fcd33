// The state of one conversion and the entry points of its passes. The driver
// (engine/driver.cpp) owns the work memory, the template copy and the scratch
// stores; the passes (tracer, polygon builder, curve fitter, thinning, line
// recognition, separation, shared-boundary areas) work on this state and take
// no arguments.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// ---------------------------------------------------------------------------
// Conversion state.
extern int16_t tracingMode;  // 0 outlining, 1 centerlining, -1 shared-boundary tracing
extern int16_t colorMode;    // set by the separation for gray and color images
extern int16_t templateOnDisk;
extern int16_t lowMemoryMode;

// Defaults for the next path, read by the path store when a path begins.
extern uint32_t curFillColor;     // C, M, Y, K bytes (C in the low byte); 0xFF000000 black
extern uint32_t curStrokeColor;
extern uint8_t curFillKind;       // 0 none, 1 white, 2 black, 3 process, 4 custom
extern uint8_t curStrokeKind;
extern double curStrokeWidth;     // points
extern double currentLineWeight;  // points: the centerline stroke weight of this conversion

// Progress of the passes.
extern int16_t currentRow;      // the row the running pass is at
extern int16_t lastShownRow;    // 9999 turns the row progress off
extern int16_t progressTitle;   // string id of the progress title, 0 none
extern int16_t posterizeLayer;  // current layer and layer count shown while posterizing
extern int16_t posterizeLayers;

// The work memory: one block cut into four consecutive areas.
extern MemHandle workBufferHandle;
extern uint8_t* workBuffer;
extern int32_t workAreaSize;  // B
extern uint8_t* rowBuffer;     // rowBytes bytes
extern uint8_t* edgeListArea;  // B/8 bytes
extern int32_t edgeListSize;
extern uint8_t* pointArea;     // 7 * (B/16) bytes
extern int32_t pointAreaSize;
extern uint8_t* chainArea;     // the rest
extern int32_t chainAreaSize;

// The mask bitmap (the working bitmap itself in lowMemoryMode) and the
// template copy of the working bitmap, each pointing at its first row with a
// guard row above and below.
extern uint8_t* maskBits;
extern uint8_t* templateBits;
extern int32_t templateDataOffset;  // where the template rows start in fileHandle
extern int16_t templateCacheRow;    // -1 none
extern uint8_t* templateCache;      // one row

// Scratch stores: one handle each, -1 when not open.
enum ScratchStore : int {
  kStoreMemtemp = 0,
  kStoreDgtemp,
  kStoreEdgearr,
  kStoreSeglist,
  kStoreLinarr,
  kStoreDgskel,
  kStoreCount
};
extern int16_t scratchHandles[kStoreCount];
const char* ScratchName(int store);  // "memtemp", "dgtemp", ...

// The largest stamp positions (rowBits - 2, height - 2).
extern int16_t maxStampX;
extern int16_t maxStampY;

// ---------------------------------------------------------------------------
// The driver.
void ConvertImage(bool edgeOnly);
void RunConversion();
int16_t PollUserAbort();
void ShowProgress(int16_t percent, const char* text);
void ShowRowProgress();
// The full path of a scratch store's file in the scratch folder; false when
// it does not fit a name buffer.
bool ScratchPath(const char* name, char* path);
int16_t CreateScratch(const char* path);  // handle, or -1
// Opens (creates) a store on first use; -1 after message 155 and gUserAbort.
int16_t OpenScratchStore(int store);
void DeleteScratchStores();
// Deletes the six store names from a folder (program start).
void DeleteStaleScratchFiles(const char* folder);
// Reads template row y into `row` (rowBytes bytes), from memory or from disk.
void ReadTemplateRow(int16_t y, uint8_t* row);
// The working bitmap back from the template copy.
void RestoreWorkFromTemplate();
void CenterlinePass(int a);
// The dispatcher's hand-over of a freshly read one-bit image: copies the
// working bitmap into the backup plane, or spools it to "memtemp" (which then
// becomes the image's file) when there is no backup plane. 0 on success.
int SaveImageBackup();

// ---------------------------------------------------------------------------
// Pass entry points, filled by their own modules.
// Outline tracer.
void StartObjectSearch();
int16_t TraceNextObject();
void RestoreObjectArea();
// Polygon builder.
void BuildPolygon();
// Curve fitter.
void ComputeFittingParameters();
void ComputeCornerAngles();
void FitObject();
extern int16_t inkFlag;  // 1 while the traced object is ink
// Thinning: returns 1 when the outline loop must not run.
int16_t RunThinningSequence();
void LoadSkeleton();          // "dgskel" into the working bitmap
void FreeJunctionList();
// Line recognition.
void RecognizeLines();
void OutputLines();           // the second stage, when Centerline is off
void ReleaseLineBuffers();
// Separation of gray and color images; sets colorMode.
void RunSeparation();
// Shared-boundary areas; 1 when the centerline pass must end.
int16_t SharedBoundaryPass();
// Conversion area.
void PutSelectionAside();
void PutSelectionBack();
// Custom colors made automatically by the previous conversion.
void RemoveAutoColors();
int CustomColorCount();
int TaggedCustomColorCount();
// Redraws of the image window during a conversion (no-ops without a window).
void RefreshImageWindow();
