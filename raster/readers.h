// The image readers behind the open dispatcher. Each reads from
// gImage->fileHandle, fills the image record, the working bitmap and (for
// gray and color images) the sample store, reports its errors through
// ReportReadError, and returns 0 on success, nonzero on failure.
#pragma once

#include <cstdint>

int ReadTiff();
int ReadMacPaint();
int ReadPcx();
int ReadRanvelle();
int ReadNetpbm();  // P1 to P6
int ReadBmp();
int ReadPng();
int ReadJpeg();
int ReadGif();   // the first image
int ReadWebp();  // a still image

// PackBits: a count byte n from 0 to 127 copies the next n + 1 bytes, from
// -127 to -1 repeats the next byte 1 - n times, -128 is skipped. Fills
// exactly `count` bytes of `dst` (a run passing the end is cut there) from
// src[0..srcLength). Returns the source bytes used, or -1 when the source
// ends before the row is complete.
int32_t UnpackBits(const uint8_t* src, int32_t srcLength, uint8_t* dst, int32_t count);
