#include "core/records.h"

#include <cstring>

namespace {
DocumentRecord gDocumentRecord;
ImageInfo gImageRecord;
PrefsRecord gPrefsRecord;
PrefsRecord gPrefsEditRecord;
uint8_t* gWorkBlock = nullptr;    // the working bitmap's block, guard rows included
uint8_t* gBackupBlock = nullptr;  // the backup plane's block

const char* const kUndoNames[] = {
    "Cannot Undo", "Delete", "Pencil", "Eraser", "Line", "Smoothing", "Swatch", "Paint Style",
    "Zoom", "Delete Anchor", "Levels", "Fill", "Marquee", "Lasso", "Magic Wand", "Select All",
    "Select None", "Select Inverse", "Grow Selection", "Select Similar", "Clear", "Convert",
    "Smooth Direction Points", "Add Anchor Point", "Move Anchor Point", "Adjust Line", "Thin More",
    "Adjust Curve", "", "", "Convert to Circle", "Convert to Oval", "Convert to Square",
    "Convert to Rectangle"};
}  // namespace

DocumentRecord* gDocument = &gDocumentRecord;
ImageInfo* gImage = &gImageRecord;
PrefsRecord* gPrefs = &gPrefsRecord;
PrefsRecord* gPrefsEdit = &gPrefsEditRecord;
uint8_t* gWorkBits = nullptr;
uint8_t* gBackupBits = nullptr;
int16_t imageSpooled = 0;

int16_t gUserAbort = 0;
int16_t gPathCount = 0;
int16_t gHiddenPathCount = 0;
double gArtScale = 1.0;
int16_t gArtScaleShift = 0;

const char* UndoKindName(int kind) {
  if (kind < 0) kind = -kind;
  if (kind >= static_cast<int>(sizeof kUndoNames / sizeof kUndoNames[0])) return "";
  return kUndoNames[kind];
}

size_t BitmapBlockBytes() {
  return static_cast<size_t>(gImage->rowBytes) * (static_cast<size_t>(gImage->height) + 2);
}

bool AllocWorkBits() {
  FreeWorkBits();
  if (gImage->rowBytes <= 0 || gImage->height <= 0) return false;
  gWorkBlock = static_cast<uint8_t*>(MemAllocPtr(BitmapBlockBytes()));
  if (!gWorkBlock) return false;
  gWorkBits = gWorkBlock + gImage->rowBytes;
  return true;
}

void FreeWorkBits() {
  MemFreePtr(gWorkBlock);
  gWorkBlock = nullptr;
  gWorkBits = nullptr;
}

bool AllocBackupBits() {
  FreeBackupBits();
  if (gImage->rowBytes <= 0 || gImage->height <= 0) return false;
  gBackupBlock = static_cast<uint8_t*>(MemAllocPtr(BitmapBlockBytes()));
  if (!gBackupBlock) return false;
  gBackupBits = gBackupBlock + gImage->rowBytes;
  return true;
}

void FreeBackupBits() {
  MemFreePtr(gBackupBlock);
  gBackupBlock = nullptr;
  gBackupBits = nullptr;
}

int WorkPixel(int x, int y) {
  if (!gWorkBits || x < 0 || y < 0 || x >= gImage->rowBits || y >= gImage->height) return 0;
  return (gWorkBits[static_cast<size_t>(y) * gImage->rowBytes + (x >> 3)] >> (7 - (x & 7))) & 1;
}

void ComputeArtScale() {
  gArtScale = 1.0;
  gArtScaleShift = 0;
  int32_t side = gImage->rowBits > gImage->height ? gImage->rowBits : gImage->height;
  if (side <= 0) return;
  while (side < 16000) {
    side *= 2;
    ++gArtScaleShift;
    gArtScale *= 2;
  }
}

void ResetRecords() {
  FreeWorkBits();
  FreeBackupBits();
  imageSpooled = 0;
  memset(&gDocumentRecord, 0, sizeof gDocumentRecord);
  memset(&gImageRecord, 0, sizeof gImageRecord);
  memset(&gPrefsRecord, 0, sizeof gPrefsRecord);
  memset(&gPrefsEditRecord, 0, sizeof gPrefsEditRecord);
  gDocument = &gDocumentRecord;
  gImage = &gImageRecord;
  gPrefs = &gPrefsRecord;
  gPrefsEdit = &gPrefsEditRecord;
  gImage->fileHandle = kNoFile;
  gImage->sourceType = kSourceUnknown;
  gDocument->redrawNextPath = -1;
  gDocument->decimalSeparator = '.';
  gUserAbort = 0;
  gPathCount = 0;
  gHiddenPathCount = 0;
  gArtScale = 1.0;
  gArtScaleShift = 0;
}
