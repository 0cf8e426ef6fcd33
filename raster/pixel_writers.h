// The pixel image writers: the Ranvelle document and TIFF (a file of its own,
// or the preview that an EPS art file embeds), with the naming rules of the
// Save Pixel Image As dialog.
#pragma once

#include <cstdint>

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

// Writes gImage->path in the format of gPrefs->pixelWriterKind (0 or 1
// Ranvelle, 3 TIFF) as a replacement of any file of that name: after a
// failure or a stop nothing of the new file is left and the old one is as it
// was. Returns 1 when the file was written.
int WritePixelImage();
// Mode 1: a TIFF file of its own at gImage->path. Mode 0: the preview, at
// 72 pixels per inch and never enlarged, into `previewFile` (the open art
// output file) from its current position.
void WriteTiff(int mode, int16_t previewFile);
void WriteRanvelle();

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
