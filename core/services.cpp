// The cancel poll, the progress window and row progress, the checked write
// and the line reader, and the scratch stores.
#include "core/services.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "core/records.h"
#include "platform/string_ids.h"

int16_t currentRow = 0;
int16_t lastShownRow = 9999;
int16_t progressTitle = 0;
int16_t posterizeLayer = 0;
int16_t posterizeLayers = 0;
int16_t colorMode = 0;

int16_t scratchHandles[kStoreCount] = {kNoFile, kNoFile, kNoFile, kNoFile, kNoFile, kNoFile};

namespace {

const char* const kStoreNames[kStoreCount] = {"memtemp", "dgtemp", "edgearr", "seglist", "linarr", "dgskel"};

uint32_t gLastPollTick = 0;
bool gPollStarted = false;
int16_t gLastPercent = -1;
uint32_t gLastRowTick = 0;

uint8_t gInBuffer[2048];
int16_t gInCount = 0;
int16_t gInPos = 0;

}  // namespace

// ---------------------------------------------------------------------------
// Cancel poll and progress.

int16_t PollUserAbort() {
  if (gUserAbort) return gUserAbort;
  uint32_t now = TickCount();
  if (gPollStarted && now - gLastPollTick < 60) return gUserAbort;
  gPollStarted = true;
  gLastPollTick = now;
  PumpResult r = PumpEvents();
  if (r.escape || r.closeRequest || ProgressStopPressed()) RequestStop();
  return gUserAbort;
}

void ShowProgress(int16_t percent, const char* text) {
  if (percent == 0 && (!text || !*text)) {
    if (Progress().open) ProgressClose();
    gLastPercent = -1;
    return;
  }
  if (!Progress().open) {
    bool batch = gDocument->Test(Flag::batchRunning);
    ProgressOpen(LoadString(kStrProgress), batch);
    if (batch) {
      char line[128];
      snprintf(line, sizeof line, "%s %d", LoadString(kStrFilesToGo), gDocument->batchFileCount);
      ProgressSetBatchText(line);
    }
    gLastPercent = -1;
  }
  if (percent == gLastPercent || percent < 0 || percent > 100) return;
  if (text && Progress().text != text) ProgressSetText(text);
  ProgressSetPercent(percent);
  gLastPercent = percent;
}

void ShowRowProgress() {
  if (lastShownRow == 9999 || gImage->height <= 0) return;
  uint32_t now = TickCount();
  if (lastShownRow != -9999 && now - gLastRowTick < 30) return;
  int32_t divisor = progressTitle == kStrLineRecognizing ? gImage->rowBits + gImage->height : gImage->height;
  int32_t percent = static_cast<int32_t>(currentRow) * 100 / divisor;
  int32_t lastPercent = static_cast<int32_t>(lastShownRow) * 100 / divisor;
  if (progressTitle && percent == lastPercent) return;
  gLastRowTick = now;
  std::string text = progressTitle ? LoadString(progressTitle) : "";
  if (colorMode && progressTitle == kStrPosterizing)
    text += FormatString(kStrPassOfPasses, posterizeLayer < 1 ? 1 : posterizeLayer, static_cast<int>(posterizeLayers));
  if (gPathCount > 0) {
    char count[64];
    snprintf(count, sizeof count, " %d %s", gPathCount, LoadString(gPathCount == 1 ? kStrPath : kStrPaths));
    text += count;
  }
  ShowProgress(static_cast<int16_t>(percent > 100 ? 100 : percent), text.c_str());
  lastShownRow = currentRow;
}

// ---------------------------------------------------------------------------
// Checked writes and the line reader.

int16_t DiskMessage() { return gDocument->Test(Flag::writingClipboard) ? kStrScratchDiskFull : kStrDiskFull; }

int32_t WriteChecked(int16_t file, int32_t count, const void* bytes) {
  if (gUserAbort) return 0;
  int32_t written = FileWrite(file, bytes, count);
  if (written != count) StopWith(DiskMessage());
  return gUserAbort ? 0 : count;
}

void InReset() {
  gInCount = 0;
  gInPos = 0;
}

uint16_t InChar(int16_t file) {
  if (gInPos < gInCount) return gInBuffer[gInPos++];
  int32_t got = FileRead(file, gInBuffer, sizeof gInBuffer);
  if (got <= 0) {
    gInCount = 0;
    gInPos = 0;
    return 0xFFFF;
  }
  gInCount = static_cast<int16_t>(got);
  gInPos = 1;
  return gInBuffer[0];
}

int16_t InLine(char* buffer, int16_t max, int16_t file) {
  if (max <= 0) return -1;
  int16_t stored = 0;
  for (;;) {
    uint16_t c = InChar(file);
    if (c != 0xFFFF && c != 10 && c != 13) {
      buffer[stored++] = static_cast<char>(c);
      if (stored == max) break;
      continue;
    }
    if (stored > 0) break;
    if (c == 0xFFFF) return -1;
  }
  buffer[stored] = 0;
  return stored;
}

// ---------------------------------------------------------------------------
// Scratch stores.

const char* ScratchName(int store) { return store >= 0 && store < kStoreCount ? kStoreNames[store] : ""; }

bool ScratchPath(const char* name, char* path) {
  const char* folder = gPrefs->scratchFolder[0] ? gPrefs->scratchFolder : TempFolder();
  return CopyName(path, folder) && AppendName(path, name);
}

int16_t CreateScratch(const char* path) {
  FileDelete(path);
  return FileCreate(path);
}

int16_t OpenScratchStore(int store) {
  if (scratchHandles[store] != kNoFile) return scratchHandles[store];
  char path[kNameBufferSize];
  int16_t file = ScratchPath(kStoreNames[store], path) ? CreateScratch(path) : kNoFile;
  if (file == kNoFile) {
    StopWith(kStrCantOpenScratch);
    return kNoFile;
  }
  scratchHandles[store] = file;
  return file;
}

void DeleteStaleScratchFiles(const char* folder) {
  char path[kNameBufferSize];
  for (const char* name : kStoreNames)
    if (CopyName(path, folder) && AppendName(path, name)) FileDelete(path);
}

Status SpoolWorkBits(bool rowProgress) {
  if (gImage->fileHandle != kNoFile) FileClose(gImage->fileHandle);
  gImage->fileHandle = kNoFile;
  int16_t file = OpenScratchStore(kStoreMemtemp);
  if (file == kNoFile) return StopStatus();
  scratchHandles[kStoreMemtemp] = kNoFile;  // owned by the image record from now on
  gImage->fileHandle = file;
  imageSpooled = 1;
  int16_t savedTitle = progressTitle;
  progressTitle = kStrProcessing;
  lastShownRow = -9999;
  for (int16_t y = 0; y < gImage->height && !gUserAbort; ++y) {
    WriteChecked(file, gImage->rowBytes, gWorkBits + static_cast<size_t>(y) * RowBytes());
    currentRow = y;
    if (rowProgress) ShowRowProgress();
    PollUserAbort();
  }
  if (rowProgress) ShowProgress(0, "");
  progressTitle = savedTitle;
  return StopStatus();
}

Status SaveImageBackup() {
  if (gBackupBits) {
    memcpy(gBackupBits, gWorkBits, RowBytes() * static_cast<size_t>(gImage->height));
    return Done();
  }
  for (int16_t& h : scratchHandles) h = kNoFile;
  return SpoolWorkBits(true);
}
