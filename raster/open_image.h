// The open dispatcher: reads the image of the open document's file (or of a
// pasted or acquired source) into the image record, the working bitmap and
// the sample store.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Where the pixel data of a Sun raster or raw bitmap file starts.
extern int32_t dataOffset;
// Set by a reader when the rows at dataOffset in the input file are exactly
// the working bitmap's rows (same row length, same polarity), so that the
// file can serve as the conversion's template copy.
extern int16_t fileRowsAreBitmap;

// Image-wide values the readers share with the dispatcher.
extern int32_t workBitsBytes;  // rowBytes x height, guard rows excluded
extern int16_t padBits;        // rowBits - width
extern int16_t minSample;      // sample range of the source (0 and 255 unless the file says otherwise)
extern int16_t maxSample;
// The first bytes of the file, read for detection; readers may reuse it.
constexpr int kHeaderBufferSize = 32;
extern uint8_t headerBuffer[kHeaderBufferSize];

// Returns nonzero when an image was read.
int OpenImage(void* source);
// Frees what an image holds: the working bitmap, the backup plane and the
// sample store.
void FreeImageStores();
// Shows message `id` unless a batch is running; returns nonzero (failure).
int ReportReadError(int id);
// Clears, in every row of the working bitmap, the bits from `width` up to
// `rowBits`, so that pixels right of the image read as white.
void ClearPadBits();

// The Open dialog. The desktop program installs the dialog itself; it gets
// the filter list, the initial folder and the label of the downsampling box
// (which starts unticked), and on OK fills `path` and `downsample`.
struct OpenImageFilter {
  const char* label;
  const char* patterns;  // separated by ';'
};
constexpr int kOpenImageFilterCount = 5;
extern const OpenImageFilter kOpenImageFilters[kOpenImageFilterCount];
struct OpenImageRequest {
  const char* initialFolder;  // "" at start-up
  const char* downsampleLabel;
  char path[kNameBufferSize];
  bool downsample;
};
// Returns 1 on OK. While none is installed the dialog is cancelled.
extern int (*gOpenImageDialog)(OpenImageRequest* request);
// Runs the Open dialog. On OK sets downsample2to1, remembers the folder,
// puts the name into path and docName, sets sourceType from the extension
// and prepares a new file (art untitled, preferences working copy, levels
// reset); returns nonzero. On Cancel clears downsample2to1 and returns 0.
int PickImageFile();

// Readers of the source kinds that come from other modules (a pasted
// metafile, an acquire plug-in). Each returns 0 on success; while a hook is
// not installed that kind fails to open.
extern int (*gMetafileReader)(void* source);
extern int (*gAcquireReader)(void* source);

// ---------------------------------------------------------------------------
// Services for the readers.

// Sets rowBits (width padded to 32 bits), padBits, rowBytes, rowWords and
// workBitsBytes from gImage->width and height. False when the geometry does
// not fit the image record (the caller reports it).
bool SetRowGeometry();
// Allocates the working bitmap for the current geometry; reports message 11
// and returns nonzero on failure.
int AllocImageBits();
// Shows "Reading Image Data" with `percent`; and the closing call.
void ShowReadProgress(int32_t done, int32_t total);
void EndReadProgress();

// A buffered byte reader over gImage->fileHandle (128-byte buffer).
void ByteReaderStart();
// The next byte, or -1 at the end of the file.
int ByteReaderNext();
