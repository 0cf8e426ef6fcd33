// The pixel image writers: the Ranvelle document and TIFF (a file of its own,
// or the preview that an EPS art file embeds), with the naming rules of the
// Save Pixel Image As dialog.
#pragma once

#include <cstdint>

#include "core/status.h"

// Where the gray and color rows come from: fills `row` with `width` x
// `samplesPerPixel` bytes of image row y (CMYK as 255 = full ink). False when
// the row is not available. While none is installed, gray and color images
// are written from the working bitmap as one-bit images.
extern bool (*gPixelRowSource)(int16_t y, uint8_t* row);

// Start and end file positions of the last TIFF written (for the EPS header).
extern int32_t gTiffStart;
extern int32_t gTiffEnd;

// Big-endian primitives on the file being written; nothing once gUserAbort
// is set.
void PutBig16(uint16_t value);
void PutBig32(uint32_t value);

// Writes the open image to `path` as `kind` (0 or 1 Ranvelle, 3 TIFF, the
// choices of gPrefs->pixelWriterKind) as a replacement of any file of that
// name: after a failure or a stop nothing of the new file is left and the
// old one is as it was. The image then counts as a file of that kind.
// Failed with message 11 or 12, or the status of a stop.
Status WritePixelImage(const char* path, int16_t kind);
// The TIFF preview of saved art into `file`, the open art output file, from
// its current position: at 72 pixels per inch at most and never enlarged.
// With `bitmapOnly` the working bitmap is written as a one-bit image even
// for a gray or color image. A failure stops the save (StopWith).
void WriteTiffPreview(int16_t file, bool bitmapOnly);

// PackBits: compresses `count` bytes into `out` (room for 3 x count bytes)
// and returns the compressed length.
int32_t PackBits(const uint8_t* row, int32_t count, uint8_t* out);

// Save Pixel Image As naming rules. The extension of a type (0 Ranvelle ".rvd",
// 1 TIFF ".tif") and the format choice it sets (1 or 3).
const char* PixelTypeExtension(int type);
int16_t PixelTypeFormat(int type);
// The type preselected for the image: TIFF when it came from a TIFF file.
int DefaultPixelType();
// Replaces the part of the file name after its last dot with the type's
// extension, or appends it when the name has no dot. False when the result
// would not fit a name buffer.
bool SetPixelExtension(char* name, int type);
// True when the file name part of `name` carries a dot (a confirmed name
// without one gets the extension and needs a second confirmation).
bool NameHasExtension(const char* name);
