// The gray and color sample store: rows of 8-bit samples (1, 3 or 4 per
// pixel, interleaved) of a grayscale, RGB or CMYK image, kept apart from the
// one-bit working bitmap. Readers fill it when an image is opened; the
// separation, Levels and the display read rows back. When the whole image
// does not fit in memory the store is absent and rows are read again from the
// image file on demand, through the reader's row callback.
#pragma once

#include <cstdint>

#include "core/status.h"

#include "platform/platform.h"

// The display palette of the 6 x 6 x 6 quantization cube: entry i is red
// 51 x (i mod 6), green 51 x ((i div 6) mod 6), blue 51 x (i div 36).
extern uint8_t cubePalette[216][3];
// The levels lookup table; reset to the identity whenever a store is made.
extern uint8_t levelsTable[256];
// The levels mapping of a new document: the identity table, no change
// pending (`levelsPending` cleared).
void ResetLevels();

// Geometry of the store (valid after MakeSampleStore).
extern int32_t storeRowLength;   // L: pixels per row x samples per pixel
extern int16_t storePixels;      // pixels per stored row
extern int16_t storeRows;        // rows of the store
extern int16_t storeSamples;     // samples per pixel

// The work block: the source row (sourceRowBytes), the three-row filter
// window of stride filterStride (L + 2 x samples per pixel), the cube sums
// (216 cells x 4 channels) and the current row (L bytes and one extra pixel).
extern uint8_t* storeSourceRow;
extern uint8_t* filterWindow;
extern int32_t filterStride;
extern int32_t* cubeSums;
extern uint8_t* currentSampleRow;

// Reads full-size store row y (L bytes) from the image file when the store
// is absent; returns false when the row cannot be read. Installed by the
// reader whose image stays in its file.
extern bool (*gSampleFileRowReader)(int16_t y, uint8_t* row);

// Makes the store for the image record's geometry (width, height,
// samplesPerPixel and the downsample2to1 flag). Done when the work block was
// made (the store itself may still be absent: SampleStoreInMemory tells).
// When even the work block failed the work stops (StopWith message 11) and
// that is the result.
Status MakeSampleStore();
// Releases the store, the work block and the file row reader.
void FreeSampleStore();
// True when a store exists (in memory or backed by the file).
bool SampleStoreMade();
// True when the rows are held in memory.
bool SampleStoreInMemory();

// Row y of the store in memory, or nullptr (no store, or y out of range).
uint8_t* SampleRow(int32_t y);

// The row intake for readers that deliver whole source rows of unpacked
// 8-bit samples. `samples` holds `pixels` pixels of `samplesIn` samples each
// and lands at source column `firstPixel` of source row `sourceY`, as
// component `component` onwards of each stored pixel (0 for chunky rows; the
// plane number for planar rows, with samplesIn 1). With downsampling only the
// odd rows and odd columns of the source are kept. Rows outside the store are
// ignored.
void PutSampleRow(int32_t sourceY, const uint8_t* samples, int32_t firstPixel, int32_t pixels,
                  int samplesIn, int component);

// Fetches `count` bytes of row y from `firstByte` into currentSampleRow and
// returns it; one more pixel, equal to the last one fetched, follows the
// requested bytes. Reads from the file when the store is absent. While an
// area filter is set, rows outside its span come back white, as do pixels
// for which the filter says "outside".
uint8_t* FetchSampleRow(int16_t y, int32_t firstByte, int32_t count);

// Copies the whole of store row y (storeRowLength bytes, no area filter)
// into `row`, from memory or from the file; false when it cannot be read.
// The pixel writers take their gray and color rows through it.
bool CopySampleRow(int16_t y, uint8_t* row);

// The conversion-area filter used while the separation runs: rows outside
// [top, bottom] and pixels for which inArea(x, y) is 0 read as white (255 for
// gray and RGB, 0 for all four CMYK samples). A null inArea clears it.
void SetSampleAreaFilter(int16_t top, int16_t bottom, int (*inArea)(int16_t x, int16_t y));
