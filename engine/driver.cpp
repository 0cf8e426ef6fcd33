// The conversion driver: the Convert command, the order of the passes for the
// three methods, the work memory with its four areas, the template copy of
// the working bitmap, the scratch stores, the progress window and the cancel
// poll.
#include <cstdio>
#include <cstring>

#include "art/pathstore.h"
#include "core/host.h"
#include "core/records.h"
#include "engine/conversion.h"
#include "engine/custom_colors.h"
#include "engine/separation.h"
#include "engine/settings.h"
#include "platform/string_ids.h"
#include "raster/open_image.h"

int16_t tracingMode = 0;
int16_t templateOnDisk = 0;
int16_t lowMemoryMode = 0;

uint32_t curFillColor = 0xFF000000u;
uint8_t curFillKind = kPaintBlack;
uint8_t curStrokeKind = kPaintNone;
double curStrokeWidth = 0;
double currentLineWeight = 0;
int16_t curCustomColor = 0;
uint8_t curCustomTint = 255;

MemHandle workBufferHandle = kNoMem;
uint8_t* workBuffer = nullptr;
int32_t workAreaSize = 0;
uint8_t* rowBuffer = nullptr;
uint8_t* edgeListArea = nullptr;
int32_t edgeListSize = 0;
uint8_t* pointArea = nullptr;
int32_t pointAreaSize = 0;
uint8_t* chainArea = nullptr;
int32_t chainAreaSize = 0;

uint8_t* maskBits = nullptr;
uint8_t* templateBits = nullptr;
int32_t templateDataOffset = 0;
int16_t templateCacheRow = -1;
uint8_t* templateCache = nullptr;

int16_t maxStampX = 0;
int16_t maxStampY = 0;

namespace {

uint8_t* gMaskBlock = nullptr;      // maskBits' block, guard rows included
uint8_t* gTemplateBlock = nullptr;  // templateBits' block
bool gInverted = false;        // the working bitmap was inverted to the polarity traced; put back at the end
bool gResumed = false;         // this Convert resumes a paused conversion
bool gNoNewColors = false;     // the user declined automatic colors for this conversion
int16_t gNotice = 0;           // the first message of this conversion that did not stop it


uint8_t* AllocBitmap(uint8_t** block) {
  *block = static_cast<uint8_t*>(MemAllocPtr(BitmapBlockBytes()));
  return *block ? *block + RowBytes() : nullptr;
}

void FreeBitmap(uint8_t** block, uint8_t** bits) {
  MemFreePtr(*block);
  *block = nullptr;
  *bits = nullptr;
}

void InvertWorkBits() {
  size_t n = RowBytes() * static_cast<size_t>(gImage->height);
  for (size_t i = 0; i < n; ++i) gWorkBits[i] = static_cast<uint8_t>(~gWorkBits[i]);
  // The pad bits between width and rowBits stay white.
  int pad = gImage->rowBits - gImage->width;
  if (pad <= 0) return;
  for (int y = 0; y < gImage->height; ++y) {
    uint8_t* row = gWorkBits + static_cast<size_t>(y) * RowBytes();
    for (int x = gImage->width; x < gImage->rowBits; ++x) row[x >> 3] &= static_cast<uint8_t>(~(0x80 >> (x & 7)));
  }
}

// B: the work area size for the current geometry, a multiple of 256.
int32_t WorkAreaSizeFor() {
  int32_t b = 65535 - gImage->rowBytes;
  return b < 0 ? 0 : (b / 256) * 256;
}

void CutWorkBuffer() {
  int32_t b = workAreaSize;
  rowBuffer = workBuffer;
  edgeListArea = rowBuffer + gImage->rowBytes;
  edgeListSize = b / 8;
  pointArea = edgeListArea + edgeListSize;
  pointAreaSize = 7 * (b / 16);
  chainArea = pointArea + pointAreaSize;
  chainAreaSize = b - edgeListSize - pointAreaSize;
}

// Whether the image's own input file holds the template rows as they are:
// uncompressed one-bit rows of the bitmap's row length and polarity.
bool InputFileServesAsTemplate() {
  return gImage->fileHandle != kNoFile && gImage->sourceType == kSourceSun && gImage->bitsPerSample == 1 &&
         fileRowsAreBitmap && !gInverted;
}

// Writes every row of the working bitmap to "memtemp", which becomes the
// image's file. Returns false when stopped or when the store failed.
bool SpoolTemplate() {
  bool ok = SpoolWorkBits(!colorMode).ok();
  templateDataOffset = 0;
  templateCacheRow = -1;
  return ok;
}

void FreeWorkMemory() {
  MemFree(workBufferHandle);
  workBufferHandle = kNoMem;
  workBuffer = rowBuffer = edgeListArea = pointArea = chainArea = nullptr;
  workAreaSize = edgeListSize = pointAreaSize = chainAreaSize = 0;
  if (gMaskBlock) FreeBitmap(&gMaskBlock, &maskBits);
  maskBits = nullptr;
  templateCache = nullptr;
}

void EmitBackgroundPath() {
  curFillColor = 0xFF000000u;
  curFillKind = kPaintBlack;
  curStrokeKind = kPaintNone;
  penX = 0;
  penY = 0;
  BeginConversionPath(0);
  if (!gUserAbort) {
    // The rectangle covers every pixel of the rows, to their outer edges.
    const double corners[4][2] = {{static_cast<double>(gImage->rowBits), 0},
                                  {static_cast<double>(gImage->rowBits), static_cast<double>(gImage->height)},
                                  {0, static_cast<double>(gImage->height)},
                                  {0, 0}};
    for (const auto& c : corners) {
      penX = c[0];
      penY = c[1];
      AddPathPoint(0);
    }
  }
}

// The end of every conversion: frees the line buffers and the redundant
// anchors, clears the busy state, puts the bitmap's polarity back and marks
// the art modified when paths were made. `ended` is the failure that ended the
// conversion without a stop (Done when none); the result tells what the user
// is to hear: the reason of a stop, that failure, a notice of the passes, the
// paths dropped, or that no paths were found.
Status FinishConversion(Status ended) {
  const ConversionSettings* s = gConvSettings;
  if (s->methodFlags & Method::lineRecognition) ReleaseLineBuffers();
  RemoveRedundantAnchors();
  gDocument->Clear(Flag::busy);
  gDocument->Clear(Flag::artOutputRunning);
  gHost.conversionStateChanged();
  ShowProgress(0, "");
  Status result = StopStatus();
  if (result.ok()) result = ended;
  if (result.ok() && !result.message) result = Done(gNotice);
  if (result.ok() && !result.message) {
    if (gDocument->Test(Flag::pathsDroppedMemory)) result = Done(kStrPathsSkippedMemory);
    else if (gDocument->Test(Flag::pathsDroppedLimit)) result = Done(kStrPathLimitExceeded);
  }
  if (gImage->bitsPerSample == 1 && gInverted && gWorkBits) InvertWorkBits();
  gInverted = false;

  if (gPathCount > 0) {
    gDocument->viewMode = 0;
    gDocument->Clear(Flag::showTemplate);
    gDocument->Set(Flag::artModified);
  } else if (result.ok() && !result.message && !gResumed) {
    result = Done(kStrNoPathsFound);
  }
  gHost.updateWindowTitle();
  colorMode = 0;
  gNoNewColors = false;
  gNotice = 0;
  return result;
}

// The outline loop: every object of the working bitmap is traced, and those
// whose chain is longer than the noise threshold become paths.
void OutlineLoop() {
  gHost.refreshImageWindow();
  progressTitle = kStrOutlining;
  StartObjectSearch();
  int noise = NoiseThreshold(gConvSettings);
  for (;;) {
    int16_t length = TraceNextObject();
    if (length == 0) break;
    if (length > noise + 4) {
      BuildPolygon();
      if (PollUserAbort()) break;
      ComputeCornerAngles();
      FitObject();
      if (PollUserAbort()) break;
    }
    RestoreObjectArea();
  }
  CenterlinePass(0);
}

}  // namespace

bool AddingNewColors() { return (gConvSettings->optionFlags & Option::addNewColors) && !gNoNewColors; }

void ConversionNotice(int16_t message) {
  if (!gNotice) gNotice = message;
}

void BeginConversionPath(int16_t mode) {
  PathRecord* r = AppendPath();
  if (!r) return;
  // The paint is decided once room for the record was made: a custom color
  // made for it must not outlive a path that could not begin.
  const ConversionSettings* s = gConvSettings;
  PathPaint paint;
  paint.fillColor = paint.strokeColor = curFillColor;
  paint.fillKind = curFillKind;
  paint.strokeKind = curStrokeKind;
  if (!colorMode) {
    if (gDocument->Test(Flag::convertEdgeOnly) && (s->methodFlags & Method::centerline)) {
      paint.fillKind = kPaintNone;
      paint.strokeKind = kPaintBlack;
      paint.strokeColor = 0xFF000000u;
    }
  } else if (!(s->optionFlags & Option::useCustomColors) || gImage->samplesPerPixel < 2) {
    if (AddingNewColors() && (s->methodFlags & Method::limitedColors) && gImage->samplesPerPixel >= 2) {
      paint.fillKind = kPaintCustom;
      Status made = CustomColorForProcess(curFillColor, &paint.fillCustom);
      if (!made.ok()) ConversionNotice(made.message);
      paint.fillTint = 255;
    }
  } else {
    paint.fillKind = kPaintCustom;
    paint.fillCustom = curCustomColor;
    paint.fillTint = curCustomTint;
  }
  if (mode != 0 && !colorMode) paint.pathFlags |= PathFlag::openPath;
  if (mode == -1) paint.pathFlags |= PathFlag::grouped;
  paint.strokeWidth = curStrokeWidth;
  StartPath(r, paint);
}

void DeleteScratchStores() {
  char path[kNameBufferSize];
  for (int store = kStoreDgtemp; store < kStoreCount; ++store) {
    if (scratchHandles[store] == kNoFile) continue;
    FileClose(scratchHandles[store]);
    scratchHandles[store] = kNoFile;
    if (ScratchPath(ScratchName(store), path)) FileDelete(path);
  }
  // "memtemp" is deleted by name when the template was on disk, unless it is
  // the image's file, which the document keeps until it closes.
  if (scratchHandles[kStoreMemtemp] != kNoFile) {
    FileClose(scratchHandles[kStoreMemtemp]);
    scratchHandles[kStoreMemtemp] = kNoFile;
  }
  if (templateOnDisk && !imageSpooled && ScratchPath(ScratchName(kStoreMemtemp), path)) FileDelete(path);
}

void ReadTemplateRow(int16_t y, uint8_t* row) {
  if (!templateOnDisk && templateBits) {
    memcpy(row, templateBits + static_cast<size_t>(y) * RowBytes(), RowBytes());
    return;
  }
  if (templateCache && templateCacheRow == y) {
    memcpy(row, templateCache, RowBytes());
    return;
  }
  memset(row, 0, RowBytes());
  if (gImage->fileHandle == kNoFile) return;
  FileSeek(gImage->fileHandle, templateDataOffset + static_cast<int32_t>(y) * gImage->rowBytes, kSeekSet);
  FileRead(gImage->fileHandle, row, gImage->rowBytes);
  if (templateCache && templateCache != row) {
    memcpy(templateCache, row, RowBytes());
    templateCacheRow = y;
  }
}

void RestoreWorkFromTemplate() {
  if (!gWorkBits) return;
  if (!templateOnDisk && templateBits) {
    memcpy(gWorkBits, templateBits, RowBytes() * static_cast<size_t>(gImage->height));
    return;
  }
  if (gImage->fileHandle == kNoFile) return;  // no template: the bitmap stays as the passes left it
  templateCacheRow = -1;
  for (int16_t y = 0; y < gImage->height; ++y) ReadTemplateRow(y, gWorkBits + static_cast<size_t>(y) * RowBytes());
}

Status ConvertImage(bool edgeOnly) {
  ConversionSettings* s = gConvSettings;
  gResumed = gDocument->Test(Flag::interactiveThinning);
  // Convert Selection Edge holds for the whole conversion, a pause included.
  auto end = [](Status result) {
    gDocument->Clear(Flag::convertEdgeOnly);
    return result;
  };
  if (!gResumed) {
    gDocument->Put(Flag::convertEdgeOnly, edgeOnly);
    gHost.recordUndo(kUndoConvert);
    gDocument->Clear(Flag::redrawPending);
    gDocument->redrawNextPath = -1;
    RemoveAutoColors();
    if (gPathCount > 0 || gHiddenPathCount > 0) DeleteAllPaths();
    gUserAbort = 0;
    colorMode = 0;
    gNoNewColors = false;
    gNotice = 0;
    ComputeFittingParameters();
    curFillKind = kPaintBlack;
    curStrokeKind = kPaintNone;

    if (gImage->bitsPerSample != 1) {
      bool color = gImage->samplesPerPixel > 1;
      if ((s->optionFlags & Option::addNewColors) && !(s->optionFlags & Option::useCustomColors) &&
          (s->methodFlags & Method::limitedColors) && color && s->maxColors > 900 - CustomColorCount()) {
        if (AskOKCancel(kStrAutoColorsExceedList) != kAnswerOK) return end(Cancelled());
        gNoNewColors = true;
      }
      if ((s->optionFlags & Option::useCustomColors) && color) {
        bool tagged = s->optionFlags & Option::taggedOnly;
        if (tagged ? TaggedCustomColorCount() < 2 : CustomColorCount() < 2) {
          gNoNewColors = false;
          return end(Failed(tagged ? kStrNeedTwoTaggedColors : kStrNeedTwoCustomColors));
        }
      }
      *gConvSettingsEdit = *s;
      RunSeparation(1);
    }
    gDocument->Clear(Flag::separationValid);

    gInverted = false;
    Status reset = gUserAbort ? StopStatus() : ResetPathStore();
    if (!reset.ok()) {
      EndSeparation();
      return end(FinishConversion(reset));
    }
    if (gImage->bitsPerSample == 1 && gWorkBits) {
      int wanted = ((s->optionFlags & Option::whiteLines) ? 1 : 0) ^ ((s->methodFlags & Method::reverseImage) ? 1 : 0);
      if (wanted != gImage->photometric) {
        InvertWorkBits();
        gInverted = true;
      }
    }
    gDocument->Set(Flag::busy);
    gDocument->Set(Flag::artOutputRunning);
    gDocument->viewMode = 1;
    gHost.conversionStateChanged();

    if (s->optionFlags & Option::whiteLines) EmitBackgroundPath();

    if ((s->methodFlags & Method::lineRecognition) && !(s->methodFlags & Method::outline) && !colorMode) {
      RecognizeLines();
      if (!(s->methodFlags & Method::centerline)) {
        if (!gUserAbort) OutputLines();
        return end(FinishConversion(Done()));
      }
    }
  }

  Status ran = RunConversion();
  if (gDocument->Test(Flag::interactiveThinning)) return Done();  // paused: the Skeletonizing window is up
  EndSeparation();
  if (gPrefs->flags0 & PrefFlag::beepAfterConvert) Beep();
  return end(FinishConversion(ran));
}

Status RunConversion() {
  bool oneBit = gImage->bitsPerSample == 1;
  if (!gDocument->Test(Flag::interactiveThinning)) {
    if (PollUserAbort()) return StopStatus();
    curFillColor = 0xFF000000u;
    curFillKind = kPaintBlack;
    curStrokeKind = kPaintNone;
    curStrokeWidth = 0;
    for (int16_t& h : scratchHandles) h = kNoFile;
    templateOnDisk = 0;
    lowMemoryMode = 0;
    if (oneBit && gDocument->Test(Flag::pixelSelection)) {
      // The selection is put aside and the template lives in "memtemp".
      PutSelectionAside();
      templateOnDisk = 1;
      gImage->sourceType = kSourceMacPaint;
    }
    maxStampX = static_cast<int16_t>(gImage->rowBits - 2);
    maxStampY = static_cast<int16_t>(gImage->height - 2);

    maskBits = AllocBitmap(&gMaskBlock);
    if (!maskBits) {
      lowMemoryMode = 1;
      maskBits = gWorkBits;
    }
    workAreaSize = WorkAreaSizeFor();
    if (workAreaSize < 1024 && !lowMemoryMode) {
      FreeBitmap(&gMaskBlock, &maskBits);
      lowMemoryMode = 1;
      maskBits = gWorkBits;
      workAreaSize = WorkAreaSizeFor();
    }
    if (workAreaSize < 256) {
      if (gMaskBlock) FreeBitmap(&gMaskBlock, &maskBits);
      DeleteScratchStores();
      return Failed(kStrInsufficientMemory);
    }
    workBufferHandle = MemAlloc(static_cast<size_t>(gImage->rowBytes) + static_cast<size_t>(workAreaSize));
    if (workBufferHandle == kNoMem) {
      FreeWorkMemory();
      DeleteScratchStores();
      return Failed(kStrInsufficientMemory);
    }
    workBuffer = static_cast<uint8_t*>(MemLock(workBufferHandle));
    CutWorkBuffer();

    bool saved = true;
    templateCacheRow = -1;
    if (!templateOnDisk) templateBits = AllocBitmap(&gTemplateBlock);
    if (!templateBits) {
      templateOnDisk = 1;
      templateCache = workBuffer;
      if (InputFileServesAsTemplate()) templateDataOffset = dataOffset;
      else saved = SpoolTemplate();
    } else {
      memcpy(templateBits, gWorkBits, RowBytes() * static_cast<size_t>(gImage->height));
    }
    if (saved && !gUserAbort && RunThinningSequence() == 0) OutlineLoop();
  } else if (RunThinningSequence() == 0) {
    OutlineLoop();  // a resumed conversion carries on where the thinning paused
  }

  // End of the driver. A stopped conversion keeps the image's file open: the
  // template may live in it, and the document still reads from it.
  if (gDocument->Test(Flag::interactiveThinning)) return Done();
  RestoreWorkFromTemplate();
  if (gDocument->Test(Flag::pixelSelection)) PutSelectionBack();
  DeleteScratchStores();
  FreeWorkMemory();
  bool keepTemplate = gDocument->Test(Flag::pixelSelection) && oneBit;
  if (!keepTemplate && gTemplateBlock) FreeBitmap(&gTemplateBlock, &templateBits);
  FreeJunctionList();
  lastShownRow = 9999;
  progressTitle = 0;
  return Done();
}

void CenterlinePass(int a) {
  const ConversionSettings* s = gConvSettings;
  if (a > 0 && (s->methodFlags & Method::lineRecognition) && !gUserAbort) {
    RestoreWorkFromTemplate();
    gHost.refreshImageWindow();
    RecognizeLines();
    if (!(s->methodFlags & Method::centerline)) OutputLines();
  }
  if ((!colorMode && !(s->methodFlags & Method::centerline)) || PollUserAbort()) return;
  inkFlag = 1;
  if (a >= 0) LoadSkeleton();
  if (a != 0 && !colorMode && !(s->optionFlags & Option::separateShapes)) gHost.refreshImageWindow();
  if (!colorMode) {
    currentLineWeight = s->lineWeight / 100.0;
    curStrokeWidth = currentLineWeight;
    // A path takes both its colors from curFillColor, so the stroke color
    // goes there: the outline pass before may have left a hole's white (or,
    // with White Lines, the background's black) in it.
    if (s->optionFlags & Option::whiteLines) {
      curFillColor = 0;
      curStrokeKind = kPaintWhite;
    } else {
      curFillColor = 0xFF000000u;
      curStrokeKind = kPaintBlack;
    }
    curFillKind = kPaintNone;
  }
  StartObjectSearch();
  if (colorMode || (s->optionFlags & Option::separateShapes)) {
    if (SharedBoundaryPass() == 1) return;
  }
  progressTitle = kStrCenterlining;
  StartObjectSearch();
  tracingMode = 1;
  while (!PollUserAbort()) {
    if (TraceNextObject() == 0) break;
    BuildPolygon();
    ComputeCornerAngles();
    FitObject();
    RestoreObjectArea();
  }
  tracingMode = 0;
}
