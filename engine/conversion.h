// The state of one conversion and the entry points of its passes. The driver
// (engine/driver.cpp) owns the work memory, the template copy and the scratch
// stores; the passes (tracer, polygon builder, curve fitter, thinning, line
// recognition, separation, shared-boundary areas) work on this state and take
// no arguments.
#pragma once

#include <cstdint>

#include "core/services.h"
#include "platform/platform.h"

// ---------------------------------------------------------------------------
// Conversion state.
extern int16_t tracingMode;  // 0 outlining, 1 centerlining, -1 shared-boundary tracing
extern int16_t templateOnDisk;
extern int16_t lowMemoryMode;

// Defaults for the next path, read by BeginConversionPath.
// curFillColor is the color of both the fill and the stroke of the next path
// (the kinds say which of them is painted).
extern uint32_t curFillColor;     // C, M, Y, K bytes (C in the low byte); 0xFF000000 black
extern uint8_t curFillKind;       // 0 none, 1 white, 2 black, 3 process, 4 custom
extern uint8_t curStrokeKind;
extern double curStrokeWidth;     // points
extern double currentLineWeight;  // points: the centerline stroke weight of this conversion
extern int16_t curCustomColor;    // custom fill of the next path, set by the color separation
extern uint8_t curCustomTint;
// Starts a path of the conversion at (penX, penY) (BeginPath, art/pathstore.h)
// with the paint that the conversion state gives it: outside colorMode the
// default kinds (a centerline drawn by Convert Selection Edge is stroked
// black, unfilled); in colorMode an automatic custom color for the fill when
// new colors are added, or the separation's custom color and tint. `mode` is
// the tracing mode the path is made in (0 closed, 1 open, -1 shared boundary,
// which groups it); an open path outside colorMode is marked open.
void BeginConversionPath(int16_t mode);

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

// The largest stamp positions (rowBits - 2, height - 2).
extern int16_t maxStampX;
extern int16_t maxStampY;

// ---------------------------------------------------------------------------
// The driver.
// Convert (and Convert Selection Edge with `edgeOnly`); also resumes a
// conversion paused for interactive thinning. The result is for the shell to
// show: Cancelled when the user declined question 203; Failed for too few
// custom colors, for memory (the work memory, the path store) or with the
// reason of a stop; Stopped when the user stopped it; otherwise Done, with
// the notice of a pass that had to give something up, or message 58 or 150
// when paths were dropped, or 131 when no paths were found. A pause returns
// Done with `interactiveThinning` set.
Status ConvertImage(bool edgeOnly);
// The driver (steps of RunConversion); Failed (message 11) when its work
// memory cannot be had.
Status RunConversion();
// Whether this conversion adds automatic custom colors: the Add New Colors
// option, unless the user declined them for this conversion (question 203).
// The option itself is never changed.
bool AddingNewColors();
// A pass had to give something up but the conversion goes on (memory for
// line recognition, a full custom color list): the first such message comes
// with the conversion's result.
void ConversionNotice(int16_t message);
// Closes and deletes the stores of the conversion; "memtemp" only when the
// template was on disk and it is not the image's file.
void DeleteScratchStores();
// Reads template row y into `row` (rowBytes bytes), from memory or from disk.
void ReadTemplateRow(int16_t y, uint8_t* row);
// The working bitmap back from the template copy.
void RestoreWorkFromTemplate();
void CenterlinePass(int a);

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
// Shared-boundary areas; 1 when the centerline pass must end.
int16_t SharedBoundaryPass();
// Conversion area.
void PutSelectionAside();
void PutSelectionBack();
// Whether image pixel (x, y) lies inside the conversion area (every pixel
// does while no area is selected).
int ConversionAreaContains(int16_t x, int16_t y);
// Custom colors made automatically by the previous conversion.
void RemoveAutoColors();
int CustomColorCount();
int TaggedCustomColorCount();
