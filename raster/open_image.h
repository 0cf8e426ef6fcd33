// The open dispatcher: reads the image of the open document's file (or of a
// pasted or acquired source) into the image record, the working bitmap and
// the sample store.
#pragma once

#include <cstdint>

#include "core/status.h"

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

// The source kind of a file name, from its last four characters (".tif" 3,
// ".rvd" 5, ".pcx" 2, ".pnt" 1, ".sun" 0, else -1).
int SourceTypeFromName(const char* name);

// Reads the image of gImage->fileHandle (or of `source`, a pasted or acquired
// image). Done when an image was read (its notice, if the reader had one);
// otherwise the reader's failure, or the status of a stop. The messages are
// the shell's to show (none during a batch).
Status OpenImage(void* source);
// Frees what an image holds: the working bitmap, the backup plane and the
// sample store.
void FreeImageStores();
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
constexpr int kOpenImageFilterCount = 11;
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
// reset): Done. On Cancel clears downsample2to1: Cancelled.
Status PickImageFile();

// Readers of the source kinds that come from other modules (a pasted
// metafile, an acquire plug-in), with the results of every reader; while a
// hook is not installed that kind fails to open.
extern Status (*gMetafileReader)(void* source);
extern Status (*gAcquireReader)(void* source);

// ---------------------------------------------------------------------------
// Services for the readers.

// Sets rowBits (width padded to 32 bits), padBits, rowBytes, rowWords and
// workBitsBytes from gImage->width and height. False when the geometry does
// not fit the image record (the caller reports it).
bool SetRowGeometry();
// Allocates the working bitmap for the current geometry; Failed (message 11)
// when memory is short.
Status AllocImageBits();
// Shows "Reading Image Data" with `percent`; and the closing call.
void ShowReadProgress(int32_t done, int32_t total);
void EndReadProgress();

// A buffered byte reader over gImage->fileHandle (128-byte buffer).
void ByteReaderStart();
// The next byte, or -1 at the end of the file.
int ByteReaderNext();

// Makes the sample store for the image record's geometry (sourceRowBytes is
// set to width x samplesPerPixel) and requires it in memory: only TIFF rows
// can be read again from their file. Failed (message 11) otherwise.
Status MakeSampleStoreInMemory();

// Resolution of a file that gives it in pixels per metre. A value that is the
// metric rounding of a whole number of dots per inch (2835 for 72) gives that
// whole number; 0 (unknown) gives 0.
double DpiFromPixelsPerMetre(uint32_t pixelsPerMetre);

// Resolutions a file may state, in dots per inch; a value outside is not
// taken.
constexpr double kMinFileDpi = 24;
constexpr double kMaxFileDpi = 4000;

// A sample `v` with alpha `a`, both out of `max`, composed over white and
// rounded to the nearest value.
inline uint32_t OverWhite(uint32_t v, uint32_t a, uint32_t max) {
  return static_cast<uint32_t>((static_cast<uint64_t>(v) * a + static_cast<uint64_t>(max) * (max - a) + max / 2) / max);
}

// The landing of an image whose reader decodes whole rows itself (every
// reader but TIFF, whose strips land row by row through its own intake).
// The reader fills width, height and either `samples` or the color table,
// calls LandingBegin, delivers every row once (in any order) through one of
// the Land*Row calls, and calls LandingEnd on every exit.
struct RowLanding {
  int32_t width;
  int32_t height;
  // The file's resolution in dots per inch, 0 when it states none. A value
  // outside kMinFileDpi..kMaxFileDpi gives 72, as does none.
  double dpiX;
  double dpiY;
  // 0 one-bit (working bitmap, 1 = black); 1 gray (0 = black); 3 RGB;
  // 4 CMYK (255 = full ink). For an indexed image LandingBegin decides it
  // from the color table.
  int samples;
  // Indexed images: the RGB of each index, any transparency already
  // composed over white; 0 entries for a direct-color image.
  int colorCount;
  uint8_t colors[256][3];
  // A row of width x 4 bytes for the reader's converted samples; owned by
  // the landing.
  uint8_t* row;
  int32_t rowsLanded;
};
// An indexed image whose every table entry is pure black or pure white
// lands as one-bit, one whose entries are all gray lands as gray, any other
// as RGB. Sets the image record (bitsPerSample, samplesPerPixel,
// photometric, geometry, resolution), allocates the working bitmap and, for
// gray and color, the sample store in memory, and the landing's row.
// Fails with message 11 for memory or an image larger than the record can
// hold.
Status LandingBegin(RowLanding* landing);
// Row y as 8-bit samples of the landing's kind (gray, RGB or CMYK).
Status LandSampleRow(RowLanding* landing, int32_t y, const uint8_t* samples);
// Row y as one index byte per pixel, through the color table.
Status LandIndexedRow(RowLanding* landing, int32_t y, const uint8_t* indexes);
// Row y of a one-bit image as packed bits, most significant first, 1 black.
Status LandBitsRow(RowLanding* landing, int32_t y, const uint8_t* bits);
// (Each Land*Row reports progress and polls for cancel: the status of a
// stop when the user stopped.)
void LandingEnd(RowLanding* landing);
