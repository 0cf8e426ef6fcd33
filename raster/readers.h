// The image readers behind the open dispatcher. Each reads from
// gImage->fileHandle, fills the image record, the working bitmap and (for
// gray and color images) the sample store, and returns Done (with a notice
// for the user when it had one) or its failure with the message that says
// why.
#pragma once

#include <cstdint>

#include "core/status.h"

Status ReadTiff();
Status ReadMacPaint();
Status ReadPcx();
Status ReadRanvelle();
Status ReadNetpbm();  // P1 to P6
Status ReadBmp();
Status ReadPng();
Status ReadJpeg();
Status ReadGif();   // the first image
Status ReadWebp();  // a still image

// PackBits: a count byte n from 0 to 127 copies the next n + 1 bytes, from
// -127 to -1 repeats the next byte 1 - n times, -128 is skipped. Fills
// exactly `count` bytes of `dst` (a run passing the end is cut there) from
// src[0..srcLength). Returns the source bytes used, or -1 when the source
// ends before the row is complete.
int32_t UnpackBits(const uint8_t* src, int32_t srcLength, uint8_t* dst, int32_t count);
