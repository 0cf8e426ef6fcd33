// Batch processing: a list of image files that are opened, converted with
// the current settings and saved one after the other, unattended. The dialogs
// that build the list and choose the destination belong to the desktop
// program and plug in through BatchHooks; the list, the run and its rules live
// here, so the command line converter runs exactly the same loop.
#pragma once

#include <cstdint>

#include "core/status.h"
#include "platform/platform.h"

// One entry of the batch list: the folder (ending with the separator) and
// the file name.
struct BatchEntry {
  char folder[kNameBufferSize];
  char name[kNameBufferSize];
};
static_assert(sizeof(BatchEntry) == 510);

// The list; its count is `batchFileCount` of the document record.
int BatchCount();
const BatchEntry* BatchEntryAt(int index);  // nullptr outside the list
// Appends an entry. Failed when the same folder and name are already
// listed or either does not fit its buffer, or after message 237 when memory
// is short.
Status AddBatchEntry(const char* folder, const char* name);
void RemoveBatchEntry(int index);
void ClearBatchList();  // empties the list and releases its memory

// Moves the first entry's name into `path` and its folder into
// `sourceFolder` (name buffers), sets the image record's source kind from the
// name's extension and removes the entry. False when the list is empty.
bool TakeNextBatchItem(char* path, char* sourceFolder);

// The art file name for an image file name: the extension after the last dot
// (or appended when there is none) becomes ".emf" for output format 4, ".dxf"
// for 5, ".svg" and ".pdf" for SVG and PDF, otherwise ".eps" with a preview
// and ".qv" without. False when the
// result does not fit a name buffer.
bool BatchOutputName(const char* imageName, char* artName);

// The check of Begin Processing: when two entries have the same name up to
// their last dot (case matters), asks question 149 with that name in upper
// case. True to go on.
bool BatchDuplicateCheck();

// What became of one item.
enum BatchItemStatus : int {
  kItemSaved = 0,       // converted and saved
  kItemSkipped = 1,     // an output file existed and the user chose Skip
  kItemOpenFailed = 2,  // the image could not be opened or read
  kItemNoArt = 3,       // the conversion found no paths (nothing saved)
  kItemSaveFailed = 4,  // the art could not be written (no file left behind)
  kItemStopped = 5,     // the user stopped during this item
  kItemBadName = 6,     // the output name does not fit a name buffer
  kItemOutputIsInput = 7,  // the art file would replace one of the listed images (nothing done)
  kItemIncomplete = 8,  // saved, but short paths were dropped at the path limit or for memory
};
struct BatchItemReport {
  const char* source;  // full path of the image
  const char* output;  // full path of the art file
  int status;
  int32_t droppedPaths;  // paths the conversion had to drop (kItemIncomplete)
};

// How a run of the list ended.
enum BatchRunResult : int {
  kBatchDone = 0,       // the list is empty
  kBatchStopped = 1,    // the user stopped; the remaining entries stay
  kBatchCancelled = 2,  // Cancel at the existing-file prompt; that entry and the rest stay
};

// What the desktop program (or the command line) plugs in. Headless defaults:
// the selection dialog cancels, the destination dialog continues, the toolbox
// is not touched and nothing is reported.
struct BatchHooks {
  int (*selectDialog)();       // nonzero: Begin Processing (the list may be empty)
  int (*destinationDialog)();  // nonzero: continue
  void (*showToolbox)(bool show);
  void (*itemDone)(const BatchItemReport& report);
  // Asked before each item, in list order, when set: true when this
  // process converts the item, false to pass it by unreported (a batch
  // spread over worker processes, each holding the whole list).
  bool (*claimItem)();
};
extern BatchHooks gBatchHooks;
void InstallHeadlessBatchHooks();

// Processes the list until it is empty, stopped or cancelled. It sets
// `batchRunning`, which stays set until RunBatch ends the run: a stop or a
// Cancel returns to the selection within the run. An art file is never
// written over one of the images listed when the run started (compared by
// device and inode).
int RunBatchList();
// The Batch Select command: selection, destination and run, until the list is
// empty or the selection is cancelled (which empties the list); then
// `batchRunning` is cleared.
void RunBatch();
