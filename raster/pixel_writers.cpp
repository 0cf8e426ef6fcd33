// The pixel image writers: Ranvelle documents and TIFF files, big-endian.
#include "raster/pixel_writers.h"

#include <cmath>
#include <cstring>

#include "core/records.h"
#include "core/services.h"
#include "platform/platform.h"
#include "platform/string_ids.h"

bool (*gPixelRowSource)(int16_t y, uint8_t* row) = nullptr;
int32_t gTiffStart = 0;
int32_t gTiffEnd = 0;

namespace {

int16_t gPixelFile = kNoFile;

bool Bilevel() { return gImage->samplesPerPixel < 2 && gImage->bitsPerSample <= 1; }
bool HaveSamples() { return gPixelRowSource && !Bilevel(); }
int Samples() { return HaveSamples() ? (gImage->samplesPerPixel < 1 ? 1 : gImage->samplesPerPixel) : 1; }
int Depth() { return HaveSamples() ? 8 : 1; }

void PutBytes(const void* bytes, int32_t count) {
  if (gUserAbort || count <= 0) return;
  WriteChecked(gPixelFile, count, bytes);
}

// Creates the pixel image file as a replacement of any file of that name;
// a stop with message 12 when that is refused.
bool CreatePixelFile(const char* path) {
  gPixelFile = FileCreateReplacing(path);
  if (gPixelFile != kNoFile) return true;
  StopWith(kStrDiskFull);
  return false;
}

// Closes the pixel image file: it takes the old file's place only when
// everything was written; after a failure or a stop the old file stays.
void FinishPixelFile() {
  if (gUserAbort) {
    FileDiscard(gPixelFile);
  } else if (FileCommit(gPixelFile) != 0) {
    StopWith(kStrDiskFull);
  }
  gPixelFile = kNoFile;
}

const uint8_t* WorkRow(int16_t y) { return gWorkBits + static_cast<size_t>(y) * gImage->rowBytes; }

}  // namespace

void PutBig16(uint16_t value) {
  uint8_t b[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  PutBytes(b, 2);
}

void PutBig32(uint32_t value) {
  uint8_t b[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                  static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  PutBytes(b, 4);
}

int32_t PackBits(const uint8_t* row, int32_t count, uint8_t* out) {
  int32_t o = 0, i = 0, literalAt = -1;  // literalAt: index of the open literal's count byte
  while (i < count) {
    int32_t run = 1;
    while (i + run < count && row[i + run] == row[i] && run < 128) ++run;
    // The row's first bytes follow a 0: two leading zeros make a run of
    // three with it and become a repeat packet of two.
    int32_t counted = i == 0 && row[0] == 0 ? run + 1 : run;
    if (counted >= 3) {
      literalAt = -1;
      out[o++] = static_cast<uint8_t>(1 - run);
      out[o++] = row[i];
      i += run;
      continue;
    }
    if (literalAt < 0) {
      literalAt = o++;
      out[literalAt] = 0xFF;  // becomes n - 1 as bytes are added
    }
    out[o++] = row[i++];
    out[literalAt] = static_cast<uint8_t>(out[literalAt] + 1);
    if (out[literalAt] + 1 >= 120) literalAt = -1;
  }
  return o;
}

namespace {

// Writes a TIFF into gPixelFile from its current position: the image at its
// own resolution, or (`preview`) the preview at 72 pixels per inch at most.
// `bilevel` writes the working bitmap as a one-bit image.
void WriteTiff(bool preview, bool bilevel) {
  if (PollUserAbort()) return;
  int samples = bilevel ? 1 : Samples();
  int32_t width = gImage->width, height = gImage->height;
  // The scale factors in 16.16; a preview is 72 pixels per inch at most.
  // The vertical factor is rounded to the nearest 16.16 step so that an
  // exact reduction (300 rows at 72/300) yields all its rows.
  int32_t stepY = 65536, outWidth = width;
  if (preview) {
    double rx = gImage->resolutionX, ry = gImage->resolutionY;
    if (rx > 72) outWidth = static_cast<int32_t>(ceil(width * 72.0 / rx - 1e-9));
    if (ry > 72) stepY = static_cast<int32_t>(72 / ry * 65536 + 0.5);
  }
  if (outWidth < 1) outWidth = 1;
  int32_t outRowBytes = bilevel ? (outWidth + 7) / 8 : outWidth * samples;
  int32_t sourceBytes = bilevel ? 0 : width * samples;
  MemHandle buffer = MemAlloc(static_cast<size_t>(outRowBytes) * (bilevel ? 4 : 1) + sourceBytes);
  if (buffer == kNoMem) {
    StopWith(kStrInsufficientMemory);
    return;
  }
  uint8_t* row = static_cast<uint8_t*>(MemLock(buffer));
  uint8_t* packed = row + outRowBytes;
  uint8_t* source = row + outRowBytes;  // gray and color only

  int32_t base = FileSeek(gPixelFile, 0, kSeekCur);
  gTiffStart = base;
  uint8_t zero[8] = {};
  PutBytes(zero, 8);

  int32_t stripBytes = 0, rows = 0, acc = 0;
  for (int16_t y = 0; y < height && !gUserAbort; ++y) {
    acc += stepY;
    if (acc < 65536) continue;
    acc -= 65536;
    if (bilevel) {
      memset(row, 0, static_cast<size_t>(outRowBytes));
      const uint8_t* bits = WorkRow(y);
      for (int32_t x = 0; x < outWidth; ++x) {
        int32_t sx = static_cast<int32_t>(static_cast<int64_t>(x) * width / outWidth);
        if ((bits[sx >> 3] >> (7 - (sx & 7))) & 1) row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
      }
      int32_t n = PackBits(row, outRowBytes, packed);
      PutBytes(packed, n);
      stripBytes += n;
    } else {
      if (!gPixelRowSource(y, source)) memset(source, 0, static_cast<size_t>(sourceBytes));
      for (int32_t x = 0; x < outWidth; ++x) {
        int32_t sx = static_cast<int32_t>(static_cast<int64_t>(x) * width / outWidth);
        memcpy(row + x * samples, source + sx * samples, static_cast<size_t>(samples));
      }
      PutBytes(row, outRowBytes);
      stripBytes += outRowBytes;
    }
    ++rows;
    PollUserAbort();
  }
  MemFree(buffer);

  // The directory starts on a word boundary, as TIFF readers expect.
  int32_t dirOffset = 8 + stripBytes;
  if (dirOffset & 1) {
    PutBytes(zero, 1);
    ++dirOffset;
  }
  const int kEntries = 11;
  int32_t rationalOffset = dirOffset + 2 + kEntries * 12 + 4;
  uint16_t photometric = bilevel ? 0 : samples == 1 ? 1 : samples == 3 ? 2 : samples == 4 ? 5 : 1;
  struct Entry {
    uint16_t tag, type;
    uint32_t value;
  } const entries[kEntries] = {
      {255, 3, 1},
      {256, 3, static_cast<uint32_t>(outWidth)},
      {257, 3, static_cast<uint32_t>(rows)},
      {258, 3, static_cast<uint32_t>(bilevel ? 1 : Depth())},
      {259, 3, bilevel ? 32773u : 1u},
      {262, 3, photometric},
      {273, 4, 8},
      {277, 3, static_cast<uint32_t>(samples)},
      {279, 4, static_cast<uint32_t>(stripBytes)},
      {282, 5, static_cast<uint32_t>(rationalOffset)},
      {283, 5, static_cast<uint32_t>(rationalOffset)},
  };
  PutBig16(kEntries);
  for (const Entry& e : entries) {
    PutBig16(e.tag);
    PutBig16(e.type);
    PutBig32(1);
    if (e.type == 3) {
      PutBig16(static_cast<uint16_t>(e.value));
      PutBig16(0);
    } else {
      PutBig32(e.value);
    }
  }
  PutBig32(0);
  double resolution = preview ? 72 : gImage->resolutionY;
  PutBig32(static_cast<uint32_t>(resolution > 0 ? resolution + 0.5 : 72));
  PutBig32(1);
  gTiffEnd = FileSeek(gPixelFile, 0, kSeekCur);
  if (!gUserAbort) {
    FileSeek(gPixelFile, base, kSeekSet);
    uint8_t header[4] = {'M', 'M', 0, 42};
    PutBytes(header, 4);
    PutBig32(static_cast<uint32_t>(dirOffset));
    FileSeek(gPixelFile, gTiffEnd, kSeekSet);
  }
}

// Writes a Ranvelle document into gPixelFile.
void WriteRanvelle() {
  bool bilevel = !HaveSamples();
  int samples = Samples();
  int32_t width = gImage->width, height = gImage->height;
  PutBytes("Q7PS", 4);
  PutBig16(1);
  uint8_t zero[6] = {};
  PutBytes(zero, 6);
  PutBig16(static_cast<uint16_t>(samples));
  PutBig32(static_cast<uint32_t>(height));
  PutBig32(static_cast<uint32_t>(width));
  PutBig16(static_cast<uint16_t>(Depth()));
  uint16_t modeValue = bilevel ? 0 : samples == 1 ? 1 : samples == 3 ? 3 : samples == 4 ? 4 : 0;
  PutBig16(modeValue);
  PutBig32(0);
  PutBig32(28);
  PutBytes("Q7IM", 4);
  PutBig16(1005);
  PutBig16(0);
  PutBig32(16);
  for (double r : {gImage->resolutionX, gImage->resolutionY}) {
    PutBig32(static_cast<uint32_t>(r * 65536));
    PutBig16(1);
    PutBig16(1);
  }
  PutBig32(0);
  PutBig16(0);

  int32_t rowBytes = bilevel ? (width + 7) / 8 : width;
  MemHandle buffer = bilevel ? kNoMem : MemAlloc(static_cast<size_t>(width) * samples + rowBytes);
  if (!bilevel && buffer == kNoMem) StopWith(kStrInsufficientMemory);
  uint8_t* source = buffer ? static_cast<uint8_t*>(MemLock(buffer)) : nullptr;
  uint8_t* plane = source ? source + static_cast<size_t>(width) * samples : nullptr;
  bool cmyk = samples == 4;
  for (int c = 0; c < samples && !gUserAbort; ++c) {
    for (int16_t y = 0; y < height && !gUserAbort; ++y) {
      if (bilevel) {
        PutBytes(WorkRow(y), rowBytes);
      } else {
        if (!gPixelRowSource(y, source)) memset(source, 0, static_cast<size_t>(width) * samples);
        for (int32_t x = 0; x < width; ++x) {
          uint8_t v = source[x * samples + c];
          plane[x] = cmyk ? static_cast<uint8_t>(255 - v) : v;
        }
        PutBytes(plane, rowBytes);
      }
      PollUserAbort();
    }
  }
  MemFree(buffer);
}

}  // namespace

void WriteTiffPreview(int16_t file, bool bitmapOnly) {
  gPixelFile = file;
  WriteTiff(true, bitmapOnly || !HaveSamples());
  gPixelFile = kNoFile;
}

Status WritePixelImage(const char* path, int16_t kind) {
  gUserAbort = 0;
  gImage->sourceType = kind == 3 ? kSourceTiff : kind == 0 ? kSourceRanvelle2 : kSourceRanvelle3;
  if (CreatePixelFile(path)) {
    if (kind == 3) WriteTiff(false, !HaveSamples());
    else WriteRanvelle();
    FinishPixelFile();  // after a failure or a stop the old file, if any, is untouched
  }
  Status status = StopStatus();
  if (status.ok()) gDocument->Clear(Flag::imageUntitled);
  return status;
}

// ---------------------------------------------------------------------------
// Naming rules.

const char* PixelTypeExtension(int type) { return type == 1 ? ".tif" : ".rvd"; }
int16_t PixelTypeFormat(int type) { return type == 1 ? 3 : 1; }
int DefaultPixelType() { return gImage->sourceType == kSourceTiff ? 1 : 0; }

namespace {
const char* FileNamePart(const char* name) {
  const char* slash = strrchr(name, kPathSeparator);
  return slash ? slash + 1 : name;
}
}  // namespace

bool NameHasExtension(const char* name) { return strchr(FileNamePart(name), '.') != nullptr; }

bool SetPixelExtension(char* name, int type) {
  char result[kNameBufferSize];
  if (!CopyName(result, name)) return false;
  char* dot = strrchr(const_cast<char*>(FileNamePart(result)), '.');
  if (dot) *dot = 0;
  if (!AppendName(result, PixelTypeExtension(type))) return false;
  return CopyName(name, result);
}
