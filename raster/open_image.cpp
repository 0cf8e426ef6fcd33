// The open dispatcher: resets the per-image state, picks the reader by source
// kind and the file's first bytes, and finishes every image the same way (row
// geometry, art scale, polarity, pad bits, the backup hand-over). Also the Sun
// raster and raw bitmap readers and the services all readers share.
#include "raster/open_image.h"

#include <cctype>
#include <strings.h>

#include <cstring>

#include "core/records.h"
#include "core/services.h"
#include "platform/platform.h"
#include "platform/string_ids.h"
#include "raster/pixel_writers.h"
#include "raster/readers.h"
#include "raster/sample_store.h"

int32_t dataOffset = 0;
int16_t fileRowsAreBitmap = 0;
int32_t workBitsBytes = 0;
int16_t padBits = 0;
int16_t minSample = 0;
int16_t maxSample = 255;
uint8_t headerBuffer[kHeaderBufferSize];

const OpenImageFilter kOpenImageFilters[kOpenImageFilterCount] = {
    {"All Formats",
     "*.TIF;*.TIFF;*.RVD;*.PCX;*.PNT;*.PNG;*.JPG;*.JPEG;*.GIF;*.WEBP;*.BMP;*.PBM;*.PGM;*.PPM;*.PNM"},
    {"Ranvelle 3.0 (*.RVD)", "*.RVD"},
    {"TIFF (*.TIF)", "*.TIF;*.TIFF"},
    {"PCX (*.PCX)", "*.PCX"},
    {"MacPaint (*.PNT)", "*.PNT"},
    {"PNG (*.PNG)", "*.PNG"},
    {"JPEG (*.JPG)", "*.JPG;*.JPEG"},
    {"GIF (*.GIF)", "*.GIF"},
    {"WebP (*.WEBP)", "*.WEBP"},
    {"BMP (*.BMP)", "*.BMP"},
    {"Netpbm (*.PBM, *.PGM, *.PPM)", "*.PBM;*.PGM;*.PPM;*.PNM"},
};
int (*gOpenImageDialog)(OpenImageRequest* request) = nullptr;

Status (*gMetafileReader)(void* source) = nullptr;
Status (*gAcquireReader)(void* source) = nullptr;

namespace {

// The largest row the image record can describe: rowBits is a 16-bit value.
constexpr int32_t kMaxRowBits = 32736;

uint8_t gByteBuffer[128];
char gLastOpenFolder[kNameBufferSize];  // the folder of the last file picked
int32_t gByteCount = 0;
int32_t gBytePos = 0;

uint32_t BigEndian32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

int16_t LittleEndian16(const uint8_t* p) { return static_cast<int16_t>(p[0] | (p[1] << 8)); }

// Reads `height` rows of `fileRowLength` bytes from dataOffset straight into
// the working bitmap (1 = black, nothing inverted).
Status ReadRawRows(int32_t fileRowLength) {
  if (gImage->height <= 0 || fileRowLength <= 0 || gImage->width <= 0) return Failed(kStrUnknownFormat);
  int32_t rowBytes = (fileRowLength + 3) & ~3;
  if (rowBytes * 8 > kMaxRowBits) return Failed(kStrInsufficientMemory);
  gImage->rowBytes = static_cast<int16_t>(rowBytes);
  gImage->rowBits = static_cast<int16_t>(rowBytes * 8);
  gImage->rowWords = static_cast<int16_t>(rowBytes / 2);
  // A raw header may claim more pixels than its rows hold; only the pixels
  // the rows carry exist.
  if (gImage->width > gImage->rowBits) gImage->width = gImage->rowBits;
  padBits = static_cast<int16_t>(gImage->rowBits - gImage->width);
  workBitsBytes = rowBytes * gImage->height;
  fileRowsAreBitmap = fileRowLength == rowBytes;
  if (FileSeek(gImage->fileHandle, dataOffset, kSeekSet) != dataOffset) return Failed(kStrUnknownFormat);
  if (Status s = AllocImageBits(); !s.ok()) return s;
  for (int32_t y = 0; y < gImage->height; ++y) {
    uint8_t* row = gWorkBits + static_cast<size_t>(y) * rowBytes;
    // A file that ends early is refused rather than shown half blank.
    if (FileRead(gImage->fileHandle, row, fileRowLength) != fileRowLength) return Failed(kStrUnknownFormat);
    ShowReadProgress(y + 1, gImage->height);
    if (PollUserAbort()) return StopStatus();
  }
  return Done();
}

Status ReadSunRaster() {
  gImage->sourceType = kSourceSun;
  const uint8_t* h = headerBuffer;
  uint32_t width = BigEndian32(h + 4), height = BigEndian32(h + 8), depth = BigEndian32(h + 12);
  uint32_t type = BigEndian32(h + 20), mapType = BigEndian32(h + 24), mapLength = BigEndian32(h + 28);
  if (depth != 1) return Failed(kStrNotOneBit);
  if (type != 0 && type != 1) return Failed(kStrCompressedRaster);
  if (width > static_cast<uint32_t>(kMaxRowBits) || height > 32767) {
    return Failed(width == 0 || height == 0 ? kStrUnknownFormat : kStrInsufficientMemory);
  }
  gImage->width = static_cast<int16_t>(width);
  gImage->height = static_cast<int16_t>(height);
  int32_t fileRowLength = static_cast<int32_t>((width + 15) / 16 * 2);
  if (mapType != 0 && mapLength > 0x7FFFFFFFu - 32) return Failed(kStrUnknownFormat);
  dataOffset = 32 + static_cast<int32_t>(mapType != 0 ? mapLength : 0);
  return ReadRawRows(fileRowLength);
}

Status ReadRawBitmap() {
  const uint8_t* h = headerBuffer;
  int32_t fileRowLength = LittleEndian16(h + 4);
  int32_t top = LittleEndian16(h + 6), left = LittleEndian16(h + 8);
  int32_t bottom = LittleEndian16(h + 10), right = LittleEndian16(h + 12);
  int32_t width = right - left, height = bottom - top;
  if (width > 32767 || height > 32767) return Failed(kStrInsufficientMemory);
  gImage->width = static_cast<int16_t>(width > 0 ? width : 0);
  gImage->height = static_cast<int16_t>(height > 0 ? height : 0);
  dataOffset = 14;
  return ReadRawRows(fileRowLength);
}

void InvertWorkBits() {
  size_t n = static_cast<size_t>(gImage->rowBytes) * gImage->height;
  for (size_t i = 0; i < n; ++i) gWorkBits[i] = static_cast<uint8_t>(~gWorkBits[i]);
}

void InvertGraySamples() {
  for (int32_t y = 0; y < storeRows; ++y) {
    uint8_t* row = SampleRow(y);
    for (int32_t x = 0; x < storePixels; ++x) row[x] = static_cast<uint8_t>(255 - row[x]);
  }
}

// Rows for the pixel writers, 0 = black for gray (a gray image left in its
// file may still be white-is-zero).
bool PixelWriterRow(int16_t y, uint8_t* row) {
  if (!CopySampleRow(y, row)) return false;
  if (gImage->samplesPerPixel == 1 && gImage->photometric == 0)
    for (int32_t x = 0; x < storeRowLength; ++x) row[x] = static_cast<uint8_t>(255 - row[x]);
  return true;
}

Status ReadByKind(void* source) {
  switch (gImage->sourceType) {
    case kSourceAcquire:
      return gAcquireReader ? gAcquireReader(source) : Failed();
    case kSourceMacPaint:
      return ReadMacPaint();
    case kSourcePcx:
      return ReadPcx();
    case kSourceMetafile:
      return gMetafileReader ? gMetafileReader(source) : Failed();
    case kSourceRanvelle2:
    case kSourceRanvelle3:
      return ReadRanvelle();
    default:
      break;
  }
  if (FileSeek(gImage->fileHandle, 0, kSeekSet) != 0) return Failed();
  memset(headerBuffer, 0, sizeof headerBuffer);
  int32_t got = FileRead(gImage->fileHandle, headerBuffer, kHeaderBufferSize);
  const uint8_t* h = headerBuffer;
  // A Netpbm image ("P1" to "P6" and white space) may be shorter than the
  // header; every other kind is refused silently when it is.
  if (got >= 3 && h[0] == 'P' && h[1] >= '1' && h[1] <= '6' && (isspace(h[2]) || h[2] == '#')) return ReadNetpbm();
  if (got != kHeaderBufferSize) return Failed();
  if ((h[0] == 'I' && h[1] == 'I') || (h[0] == 'M' && h[1] == 'M') ||
      (h[0] == 0xC5 && h[1] == 0xD0 && h[2] == 0xD3 && h[3] == 0xC6)) {
    return ReadTiff();
  }
  if (BigEndian32(h) == 0x59A66A95u) return ReadSunRaster();
  if (!memcmp(h, "\x89PNG\r\n\x1A\n", 8)) return ReadPng();
  if (h[0] == 0xFF && h[1] == 0xD8 && h[2] == 0xFF) return ReadJpeg();
  if (!memcmp(h, "GIF87a", 6) || !memcmp(h, "GIF89a", 6)) return ReadGif();
  if (!memcmp(h, "RIFF", 4) && !memcmp(h + 8, "WEBP", 4)) return ReadWebp();
  // "BM" alone is a weak mark: the size of the header that follows must be
  // one a BMP can have.
  uint32_t bmpHeader = h[14] | h[15] << 8 | h[16] << 16 | static_cast<uint32_t>(h[17]) << 24;
  if (h[0] == 'B' && h[1] == 'M' && bmpHeader >= 12 && bmpHeader <= 124) return ReadBmp();
  if (gImage->sourceType != kSourceSun) return Failed(kStrUnknownFormat);
  return ReadRawBitmap();
}

}  // namespace

Status PickImageFile() {
  OpenImageRequest request{};
  request.initialFolder = gLastOpenFolder;
  request.downsampleLabel = LoadString(kStrDownsample);
  request.downsample = false;
  int ok = gOpenImageDialog ? gOpenImageDialog(&request) : 0;
  request.path[sizeof request.path - 1] = 0;
  if (!ok || !request.path[0]) {
    gDocument->Clear(Flag::downsample2to1);
    return Cancelled();
  }
  gDocument->Put(Flag::downsample2to1, request.downsample);
  const char* slash = strrchr(request.path, kPathSeparator);
  gLastOpenFolder[0] = 0;
  if (slash) {
    size_t n = static_cast<size_t>(slash - request.path) + 1;
    memcpy(gLastOpenFolder, request.path, n);
    gLastOpenFolder[n] = 0;
  }
  CopyName(gImage->path, request.path);
  CopyName(gImage->docName, request.path);
  gImage->sourceType = static_cast<int16_t>(SourceTypeFromName(request.path));
  gDocument->Set(Flag::artUntitled);
  *gPrefsEdit = *gPrefs;
  ResetLevels();
  return Done();
}

void ClearPadBits() {
  if (!gWorkBits || gImage->width >= gImage->rowBits || gImage->width < 0) return;
  int32_t firstByte = gImage->width >> 3;
  uint8_t keep = static_cast<uint8_t>(0xFF00 >> (gImage->width & 7));
  for (int32_t y = 0; y < gImage->height; ++y) {
    uint8_t* row = gWorkBits + static_cast<size_t>(y) * gImage->rowBytes;
    row[firstByte] &= keep;
    for (int32_t i = firstByte + 1; i < gImage->rowBytes; ++i) row[i] = 0;
  }
}

bool SetRowGeometry() {
  int32_t width = gImage->width;
  if (width <= 0 || gImage->height <= 0 || width > kMaxRowBits) return false;
  int32_t rowBits = (width + 31) & ~31;
  gImage->rowBits = static_cast<int16_t>(rowBits);
  gImage->rowBytes = static_cast<int16_t>(rowBits / 8);
  gImage->rowWords = static_cast<int16_t>(rowBits / 16);
  padBits = static_cast<int16_t>(rowBits - width);
  workBitsBytes = (rowBits / 8) * static_cast<int32_t>(gImage->height);
  return true;
}

Status MakeSampleStoreInMemory() {
  int32_t sourceBytes = static_cast<int32_t>(gImage->width) * gImage->samplesPerPixel;
  gImage->sourceRowBytes = static_cast<int16_t>(sourceBytes > 32767 ? 32767 : sourceBytes);
  if (Status s = MakeSampleStore(); !s.ok()) return s;
  if (!SampleStoreInMemory()) {
    FreeSampleStore();
    return gUserAbort ? StopStatus() : Failed(kStrInsufficientMemory);
  }
  gImage->zoomX = gImage->zoomY = 65536;
  return Done();
}

double DpiFromPixelsPerMetre(uint32_t pixelsPerMetre) {
  if (pixelsPerMetre == 0) return 0;
  double dpi = pixelsPerMetre * 0.0254;
  double whole = static_cast<double>(static_cast<int64_t>(dpi + 0.5));
  return static_cast<uint32_t>(whole / 0.0254 + 0.5) == pixelsPerMetre ? whole : dpi;
}

Status LandingBegin(RowLanding* landing) {
  landing->row = nullptr;
  landing->rowsLanded = 0;
  if (landing->colorCount > 0) {
    bool blackWhite = true, gray = true;
    for (int i = 0; i < landing->colorCount && i < 256; ++i) {
      const uint8_t* c = landing->colors[i];
      gray = gray && c[0] == c[1] && c[1] == c[2];
      blackWhite = blackWhite && gray && (c[0] == 0 || c[0] == 255);
    }
    landing->samples = blackWhite ? 0 : gray ? 1 : 3;
  }
  if (landing->width > kMaxRowBits || landing->height > 32767) return Failed(kStrInsufficientMemory);
  gImage->width = static_cast<int16_t>(landing->width);
  gImage->height = static_cast<int16_t>(landing->height);
  if (!SetRowGeometry()) return Failed(kStrInsufficientMemory);
  // Before the store is made: with 2:1 downsampling it halves the resolution.
  bool xOk = landing->dpiX >= kMinFileDpi && landing->dpiX <= kMaxFileDpi;
  bool yOk = landing->dpiY >= kMinFileDpi && landing->dpiY <= kMaxFileDpi;
  gImage->resolutionX = xOk ? landing->dpiX : 72.0;
  gImage->resolutionY = yOk ? landing->dpiY : 72.0;
  int samples = landing->samples;
  gImage->bitsPerSample = static_cast<int16_t>(samples ? 8 : 1);
  gImage->samplesPerPixel = static_cast<int16_t>(samples ? samples : 1);
  // Photometric as TIFF numbers it: one-bit 1 = black, gray 0 = black, RGB, CMYK.
  gImage->photometric = static_cast<int16_t>(samples == 0 ? 0 : samples == 1 ? 1 : samples == 3 ? 2 : 5);
  landing->row = static_cast<uint8_t*>(MemAllocPtr(static_cast<size_t>(landing->width) * 4));
  if (!landing->row) return Failed(kStrInsufficientMemory);
  if (Status s = AllocImageBits(); !s.ok()) return s;
  if (samples) return MakeSampleStoreInMemory();
  return Done();
}

namespace {

Status RowLanded(RowLanding* landing) {
  ShowReadProgress(++landing->rowsLanded, landing->height);
  PollUserAbort();
  return StopStatus();
}

uint8_t* BitmapRow(int32_t y) { return gWorkBits + static_cast<size_t>(y) * gImage->rowBytes; }

}  // namespace

Status LandSampleRow(RowLanding* landing, int32_t y, const uint8_t* samples) {
  PutSampleRow(y, samples, 0, landing->width, landing->samples, 0);
  return RowLanded(landing);
}

Status LandIndexedRow(RowLanding* landing, int32_t y, const uint8_t* indexes) {
  int32_t w = landing->width;
  if (landing->samples == 0) {
    uint8_t* bits = BitmapRow(y);
    memset(bits, 0, static_cast<size_t>(gImage->rowBytes));
    for (int32_t x = 0; x < w; ++x)
      if (landing->colors[indexes[x]][0] == 0) bits[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    return RowLanded(landing);
  }
  // The indexes may be the landing's own row: gray goes forwards, RGB
  // backwards, so that each index is read before its place is written.
  uint8_t* out = landing->row;
  if (landing->samples == 1) {
    for (int32_t x = 0; x < w; ++x) out[x] = landing->colors[indexes[x]][0];
  } else {
    for (int32_t x = w - 1; x >= 0; --x) {
      const uint8_t* c = landing->colors[indexes[x]];
      out[3 * x + 2] = c[2];
      out[3 * x + 1] = c[1];
      out[3 * x] = c[0];
    }
  }
  return LandSampleRow(landing, y, out);
}

Status LandBitsRow(RowLanding* landing, int32_t y, const uint8_t* bits) {
  memcpy(BitmapRow(y), bits, static_cast<size_t>((landing->width + 7) / 8));
  return RowLanded(landing);  // the bits right of the image are cleared after the read
}

void LandingEnd(RowLanding* landing) {
  MemFreePtr(landing->row);
  landing->row = nullptr;
}

Status AllocImageBits() {
  if (!AllocWorkBits()) return Failed(kStrInsufficientMemory);
  return Done();
}

void ShowReadProgress(int32_t done, int32_t total) {
  if (total <= 0) return;
  int64_t percent = static_cast<int64_t>(done) * 100 / total;
  if (percent > 100) percent = 100;
  if (percent < 1) return;  // 0 with text would be shown as the closing call
  ShowProgress(static_cast<int16_t>(percent), LoadString(kStrReadingImageData));
}

void EndReadProgress() { ShowProgress(0, ""); }

void ByteReaderStart() {
  gByteCount = 0;
  gBytePos = 0;
}

int ByteReaderNext() {
  if (gBytePos >= gByteCount) {
    gByteCount = FileRead(gImage->fileHandle, gByteBuffer, sizeof gByteBuffer);
    gBytePos = 0;
    if (gByteCount <= 0) {
      gByteCount = 0;
      return -1;
    }
  }
  return gByteBuffer[gBytePos++];
}

Status OpenImage(void* source) {
  FreeImageStores();
  if (gUserAbort) return StopStatus();

  gImage->resolutionX = gImage->resolutionY = 300.0;
  gArtScale = 1.0;
  gArtScaleShift = 0;
  gDocument->Clear(Flag::pixelSelection);
  gDocument->Clear(Flag::wandFromMenu);
  gDocument->Clear(Flag::wandGrow);
  gDocument->Clear(Flag::outlineMemoryShort);
  minSample = 0;
  maxSample = 255;
  padBits = 0;
  gImage->photometric = 0;
  gImage->samplesPerPixel = 1;
  gImage->bitsPerSample = 1;
  gImage->swapBytes = 0;
  gImage->width = gImage->height = 0;
  gImage->rowBits = gImage->rowBytes = gImage->rowWords = 0;
  gImage->sourceRowBytes = 0;
  dataOffset = 0;
  fileRowsAreBitmap = 0;
  workBitsBytes = 0;

  Status read = ReadByKind(source);
  EndReadProgress();
  if (!read.ok()) return read;
  if (!gWorkBits) return Failed();
  // A resolution given by the user stands for the file's own; a store
  // halved 2:1 halves it as it halves the file's.
  if (gDocument->givenResolution > 0) {
    bool halved = SampleStoreMade() && gDocument->Test(Flag::downsample2to1);
    gImage->resolutionX = gImage->resolutionY = gDocument->givenResolution / (halved ? 2 : 1);
  }

  gImage->rowBytes = static_cast<int16_t>(gImage->rowBits / 8);
  gImage->rowWords = static_cast<int16_t>(gImage->rowBytes / 2);
  ComputeArtScale();

  if (gImage->bitsPerSample < 2) {
    if (gImage->photometric != 0) {
      InvertWorkBits();
      gImage->photometric = 0;
      fileRowsAreBitmap = 0;
    }
    ClearPadBits();
    AllocBackupBits();  // without room the backup step spools to "memtemp"
    Status backup = SaveImageBackup();
    return backup.ok() ? read : backup;
  }
  if (gImage->photometric == 0 && gImage->samplesPerPixel == 1 && SampleStoreInMemory()) {
    InvertGraySamples();
    gImage->photometric = 1;
  }
  gPixelRowSource = PixelWriterRow;  // Save Pixel Image writes the samples
  return read;
}

void FreeImageStores() {
  if (gPixelRowSource == PixelWriterRow) gPixelRowSource = nullptr;
  FreeWorkBits();
  FreeBackupBits();
  FreeSampleStore();
}

int SourceTypeFromName(const char* name) {
  size_t n = strlen(name);
  if (n < 4) return kSourceUnknown;
  const char* ext = name + n - 4;
  if (!strcasecmp(ext, ".tif")) return kSourceTiff;
  if (!strcasecmp(ext, ".rvd")) return kSourceRanvelle3;
  if (!strcasecmp(ext, ".pcx")) return kSourcePcx;
  if (!strcasecmp(ext, ".pnt")) return kSourceMacPaint;
  if (!strcasecmp(ext, ".sun")) return kSourceSun;
  return kSourceUnknown;
}
