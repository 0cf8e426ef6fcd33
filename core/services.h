// The services that every folder uses: the cancel poll, the progress window
// and the row progress of long work, the one checked file write and a small
// buffered line reader, and the scratch stores with the spooling of the
// working bitmap. (Messages are shown by number through the platform's
// message services; see core/status.h for who shows what.)
#pragma once

#include <cstdint>

#include "core/status.h"
#include "platform/platform.h"

// ---------------------------------------------------------------------------
// Cancel poll. Every long operation (open, convert, save, batch) calls it
// between units of work and stops when it returns nonzero. At most once every
// 60 ticks it pumps the events; Escape, the close request and the progress
// window's Stop set `gUserAbort`. Returns `gUserAbort`.
int16_t PollUserAbort();

// ---------------------------------------------------------------------------
// Progress window. ShowProgress (percent, text) opens ("Progress", with the
// "Files to go:" line in a batch) or updates it; a percent equal to the last
// one or outside 0..100 is ignored. ShowProgress (0, "") closes it.
void ShowProgress(int16_t percent, const char* text);

// Row progress of the work that goes row by row: the text is the title
// string, the posterizing pass while posterizing a gray or color image, and
// the path count so far; at most every 30 ticks and only when the whole
// percent changed.
extern int16_t currentRow;      // the row the running work is at
extern int16_t lastShownRow;    // 9999 turns the row progress off; -9999 shows the next row at once
extern int16_t progressTitle;   // string number of the title, 0 none
extern int16_t posterizeLayer;  // current layer and layer count shown while posterizing
extern int16_t posterizeLayers;
// Set by the separation while a gray or color image is converted; the row
// progress adds the posterizing pass only then.
extern int16_t colorMode;
void ShowRowProgress();

// ---------------------------------------------------------------------------
// Checked writes. The disk message of the file being written: 13 while
// writing for the clipboard (`writingClipboard`), else 12.
int16_t DiskMessage();
// The one checked file write: `count` on success; 0 when `gUserAbort` is
// already set or the write fell short, which stops the work with the disk
// message (StopWith).
int32_t WriteChecked(int16_t file, int32_t count, const void* bytes);

// A buffered line reader over one file at a time (2048-byte buffer).
void InReset();
uint16_t InChar(int16_t file);  // 0..255, or 0xFFFF at end of file or on error
// Reads one line (up to CR, LF or CR LF; at most `max` characters are kept)
// into `buffer`; its length, or -1 at the end of the file.
int16_t InLine(char* buffer, int16_t max, int16_t file);

// ---------------------------------------------------------------------------
// Scratch stores: files in the scratch folder of the preferences (the
// system's temporary folder when none is set), one handle each, -1 when not
// open.
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
// The full path of a scratch store's file; false when it does not fit a
// name buffer.
bool ScratchPath(const char* name, char* path);
// Deletes a file of that name and creates it empty: its handle, or -1.
int16_t CreateScratch(const char* path);
// The store's handle, creating the file on first use. When it cannot be
// created: -1, and the work stops with message 155 (StopWith).
int16_t OpenScratchStore(int store);
// Deletes the six store names from a folder (program start).
void DeleteStaleScratchFiles(const char* folder);

// Writes every row of the working bitmap to "memtemp", which becomes the
// image's file (`imageSpooled` set; the store's handle is handed to the
// image record). With `rowProgress` the rows are shown under the title
// "Processing..." and the progress window is closed afterwards. Done, or the
// status of the stop (a failed write, no store, the user).
Status SpoolWorkBits(bool rowProgress);
// The hand-over of a freshly read one-bit image: the working bitmap is
// copied into the backup plane, or spooled to "memtemp" when there is no
// backup plane.
Status SaveImageBackup();
