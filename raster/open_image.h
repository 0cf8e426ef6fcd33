// The open dispatcher: reads the image of the open document's file (or of a
// pasted or acquired source) into the image record, the working bitmap and
// the sample store.
#pragma once

#include <cstdint>

// Where the pixel data of a Sun raster or raw bitmap file starts.
extern int32_t dataOffset;
// Set by a reader when the rows at dataOffset in the input file are exactly
// the working bitmap's rows (same row length, same polarity), so that the
// file can serve as the conversion's template copy.
extern int16_t fileRowsAreBitmap;

// Returns nonzero when an image was read.
int OpenImage(void* source);
// Frees what an image holds: the working bitmap, the backup plane and the
// sample store.
void FreeImageStores();
// Shows message `id` unless a batch is running; returns nonzero (failure).
int ReportReadError(int id);
