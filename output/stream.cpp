#include "output/stream.h"

#include <cstring>

#include "core/records.h"
#include "core/services.h"
#include "platform/platform.h"

int32_t gOutScaleX = 0;
int32_t gOutScaleY = 0;

namespace {

int16_t gOutFile = kNoFile;
MemHandle gOutBuffer = kNoMem;
uint8_t* gOutBytes = nullptr;
int16_t gFill = 0;

}  // namespace

int16_t OutOpen(const char* path) {
  gFill = 0;
  gUserAbort = 0;
  int16_t file = FileCreateReplacing(path);
  if (file == kNoFile) {
    ShowWarning(DiskMessage());
    return kNoFile;
  }
  gOutBuffer = MemAlloc(kOutBufferSize);
  if (gOutBuffer == kNoMem) {
    FileDiscard(file);
    ShowWarning(237);
    return kNoFile;
  }
  gOutBytes = static_cast<uint8_t*>(MemLock(gOutBuffer));
  gOutFile = file;
  return file;
}

void OutWrite(const void* bytes, int count) {
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

void OutString(const char* text) { OutWrite(text, static_cast<int>(strlen(text))); }

void OutLine(const char* text) {
  OutString(text);
  OutWrite(&kLineEnd, 1);
}

void OutFlush() {
  if (gFill != 0 && gOutBytes) WriteChecked(gOutFile, gFill, gOutBytes);
  gFill = 0;
}

bool OutClose() {
  if (gOutFile == kNoFile) return false;
  OutFlush();
  MemUnlock(gOutBuffer);
  MemFree(gOutBuffer);
  gOutBuffer = kNoMem;
  gOutBytes = nullptr;
  FileSeek(gOutFile, 0, kSeekEnd);
  bool placed = false;
  if (gUserAbort) {
    FileDiscard(gOutFile);
  } else if (FileCommit(gOutFile) == 0) {
    placed = true;
  } else {
    ShowWarning(DiskMessage());
    gUserAbort = 1;
  }
  gOutFile = kNoFile;
  return placed;
}

int16_t OutFile() { return gOutFile; }
int16_t OutFillCount() { return gFill; }

void OutCoord(int16_t value, int axis) {
  int64_t p;
  if ((axis & 1) == 0) {
    p = static_cast<int64_t>(value) * gOutScaleX;
  } else {
    int64_t imageHeight = static_cast<int64_t>(gImage->height) << gArtScaleShift;
    p = (imageHeight - value) * gOutScaleY;
  }
  char text[24];
  int pos = sizeof text;
  text[--pos] = 0;
  if (p < 0) {
    OutWrite("-", 1);
    p = -p;
  }
  int64_t n = (p + 32768) >> 16;
  if (n == 0) {
    OutWrite("0 ", 2);
    return;
  }
  text[--pos] = ' ';
  if (n % 10 != 0) {
    text[--pos] = static_cast<char>('0' + n % 10);
    text[--pos] = '.';
  }
  for (int64_t whole = n / 10; whole > 0; whole /= 10) text[--pos] = static_cast<char>('0' + whole % 10);
  OutString(text + pos);
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
