#include "output/stream.h"

#include <zlib.h>

#include <cstring>

#include "core/records.h"
#include "core/services.h"
#include "platform/platform.h"
#include "platform/string_ids.h"

int32_t gOutScaleX = 0;
int32_t gOutScaleY = 0;

namespace {

int16_t gOutFile = kNoFile;
MemHandle gOutBuffer = kNoMem;
uint8_t* gOutBytes = nullptr;
int16_t gFill = 0;

// Compression of the bytes written (OutDeflateBegin .. OutDeflateEnd).
z_stream gZip;
bool gDeflating = false;
int32_t gDeflated = 0;  // compressed bytes handed to the buffer

// Appends bytes to the buffer, writing each full block.
void BufferWrite(const void* bytes, int count) {
  if (!gOutBytes || count <= 0) return;
  const uint8_t* src = static_cast<const uint8_t*>(bytes);
  int start = gFill;
  gFill = static_cast<int16_t>(gFill + count);
  if (gFill < kOutBufferSize) {
    memcpy(gOutBytes + start, src, static_cast<size_t>(count));
    return;
  }
  gFill = static_cast<int16_t>(gFill - kOutBufferSize);  // bytes that do not fit
  int first = count - gFill;
  memcpy(gOutBytes + start, src, static_cast<size_t>(first));
  if (!gUserAbort) WriteChecked(gOutFile, kOutBufferSize, gOutBytes);
  memcpy(gOutBytes, src + first, static_cast<size_t>(gFill));
}

// Runs the compressor over its pending input with `flush`, handing what it
// makes to the buffer; with Z_FINISH until the zlib stream is complete.
void Deflate(int flush) {
  uint8_t chunk[1024];
  for (;;) {
    gZip.next_out = chunk;
    gZip.avail_out = sizeof chunk;
    int ret = deflate(&gZip, flush);
    int made = static_cast<int>(sizeof chunk - gZip.avail_out);
    BufferWrite(chunk, made);
    gDeflated += made;
    if (ret == Z_STREAM_END || ret == Z_STREAM_ERROR) return;
    if (flush != Z_FINISH && gZip.avail_in == 0 && gZip.avail_out != 0) return;
  }
}

void EndDeflate() {
  if (gDeflating) deflateEnd(&gZip);
  gDeflating = false;
}

// The product of an art coordinate and its scale factor: tenths of a point
// in 16.16 fixed point, measured up from the bottom edge for axis 1.
int64_t CoordProduct(int16_t value, int axis) {
  if ((axis & 1) == 0) return static_cast<int64_t>(value) * gOutScaleX;
  int64_t imageHeight = static_cast<int64_t>(gImage->height) << gArtScaleShift;
  return (imageHeight - value) * gOutScaleY;
}

// Writes a count of tenths (not negative) as "123.4 ", "12 ", ".5 " or "0 ".
void WriteTenthsDigits(int64_t n) {
  if (n == 0) {
    OutWrite("0 ", 2);
    return;
  }
  char text[24];
  int pos = sizeof text;
  text[--pos] = 0;
  text[--pos] = ' ';
  if (n % 10 != 0) {
    text[--pos] = static_cast<char>('0' + n % 10);
    text[--pos] = '.';
  }
  for (int64_t whole = n / 10; whole > 0; whole /= 10) text[--pos] = static_cast<char>('0' + whole % 10);
  OutString(text + pos);
}

}  // namespace

Status OutOpen(const char* path) {
  gFill = 0;
  gUserAbort = 0;
  int16_t file = FileCreateReplacing(path);
  if (file == kNoFile) return Failed(DiskMessage());
  gOutBuffer = MemAlloc(kOutBufferSize);
  if (gOutBuffer == kNoMem) {
    FileDiscard(file);
    return Failed(kStrNotEnoughMemory);
  }
  gOutBytes = static_cast<uint8_t*>(MemLock(gOutBuffer));
  gOutFile = file;
  return Done();
}

void OutWrite(const void* bytes, int count) {
  if (!gDeflating) {
    BufferWrite(bytes, count);
    return;
  }
  if (count <= 0) return;
  gZip.next_in = static_cast<Bytef*>(const_cast<void*>(bytes));
  gZip.avail_in = static_cast<uInt>(count);
  Deflate(Z_NO_FLUSH);
}

void OutString(const char* text) { OutWrite(text, static_cast<int>(strlen(text))); }

void OutLine(const char* text) {
  OutString(text);
  OutWrite(&kLineEnd, 1);
}

void OutFlush() {
  if (gFill != 0 && gOutBytes) WriteChecked(gOutFile, gFill, gOutBytes);
  gFill = 0;
}

Status OutClose() {
  if (gOutFile == kNoFile) return Failed();
  EndDeflate();
  OutFlush();
  MemUnlock(gOutBuffer);
  MemFree(gOutBuffer);
  gOutBuffer = kNoMem;
  gOutBytes = nullptr;
  FileSeek(gOutFile, 0, kSeekEnd);
  if (gUserAbort) FileDiscard(gOutFile);
  else if (FileCommit(gOutFile) != 0) StopWith(DiskMessage());
  gOutFile = kNoFile;
  return StopStatus();
}

int16_t OutFile() { return gOutFile; }
int16_t OutFillCount() { return gFill; }
int32_t OutPosition() { return gOutFile == kNoFile ? 0 : FileTell(gOutFile) + gFill; }

bool OutDeflateBegin() {
  EndDeflate();
  memset(&gZip, 0, sizeof gZip);
  gZip.zalloc = ZlibAlloc;
  gZip.zfree = ZlibFree;
  gDeflated = 0;
  if (deflateInit(&gZip, Z_BEST_COMPRESSION) != Z_OK) {
    StopWith(kStrNotEnoughMemory);
    return false;
  }
  gDeflating = true;
  return true;
}

int32_t OutDeflateEnd() {
  if (!gDeflating) return 0;
  gZip.next_in = nullptr;
  gZip.avail_in = 0;
  Deflate(Z_FINISH);
  EndDeflate();
  return gDeflated;
}

void OutCoord(int16_t value, int axis) {
  int64_t p = CoordProduct(value, axis);
  // The sign is decided before rounding: a small negative value is "-0 ".
  if (p < 0) {
    OutWrite("-", 1);
    p = -p;
  }
  WriteTenthsDigits((p + 32768) >> 16);
}

int64_t CoordTenths(int16_t value, int axis) {
  int64_t p = CoordProduct(value, axis);
  return p < 0 ? -((-p + 32768) >> 16) : (p + 32768) >> 16;
}

void OutTenths(int64_t tenths) {
  if (tenths < 0) {
    OutWrite("-", 1);
    tenths = -tenths;
  }
  WriteTenthsDigits(tenths);
}

void OutFraction(uint8_t component) {
  int q = (component * 100 + 127) / 255;
  if (q == 0) {
    OutWrite("0 ", 2);
    return;
  }
  if (q >= 100) {
    OutWrite("1 ", 2);
    return;
  }
  char text[8];
  text[0] = '0';
  text[1] = '.';
  int len;
  if (q % 10 != 0) {
    text[2] = static_cast<char>('0' + q / 10);
    text[3] = static_cast<char>('0' + q % 10);
    text[4] = ' ';
    len = 5;
  } else {
    text[2] = static_cast<char>('0' + q / 10);
    text[3] = ' ';
    len = 4;
  }
  OutWrite(text, len);
}
