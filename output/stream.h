// The buffered output stream through which every art text file is written,
// and the number formatters of the art files. Its writes go through
// WriteChecked (core/services.h).
#pragma once

#include <cstdint>

#include "core/services.h"  // WriteChecked, the line reader

constexpr int kOutBufferSize = 2048;
constexpr uint8_t kLineEnd = 13;  // a single carriage return ends each EPS line

// Horizontal and vertical scale factors of the art body: 16.16 fixed-point
// tenths of a point per art unit, set by the document writer before the body.
extern int32_t gOutScaleX;
extern int32_t gOutScaleY;

// The file is written as a replacement (FileCreateReplacing): until OutClose
// puts it in place, an existing file of that name stays as it was.
// Opens the output file (OutFile): Done, or Failed with the disk message
// (12, or 13 for the clipboard) or 237 for memory.
Status OutOpen(const char* path);
void OutWrite(const void* bytes, int count);  // count <= 2048
void OutString(const char* text);
void OutLine(const char* text);
void OutFlush();
// Flushes and closes. Unless the abort flag is set (a failed write or a
// stop), the new file takes the old one's place; otherwise it is discarded
// and the old file stays. A failed commit stops the save with the disk
// message. Done when the file was put in place, else the status of the stop.
Status OutClose();
int16_t OutFile();  // the open output file, -1 when none
int16_t OutFillCount();
// The file offset at which the next byte written will land.
int32_t OutPosition();

// Compressed sections (a PDF content stream): between OutDeflateBegin and
// OutDeflateEnd every byte written through the stream is compressed into
// the zlib format first. Begin returns false when the compressor's memory
// cannot be had, having stopped the save with message 237; End finishes
// the section and returns the number of compressed bytes it wrote.
// OutClose ends an unfinished section.
bool OutDeflateBegin();
int32_t OutDeflateEnd();

void OutCoord(int16_t value, int axis);
void OutFraction(uint8_t component);
// An art coordinate in rounded tenths of a point, as OutCoord writes it
// (axis 1 measured up from the image's bottom edge), and tenths written in
// OutCoord's form ("123.4 ", "12 ", ".5 ", "-3 ").
int64_t CoordTenths(int16_t value, int axis);
void OutTenths(int64_t tenths);
