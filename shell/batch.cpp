#include "shell/batch.h"

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "core/records.h"
#include "engine/conversion.h"
#include "platform/string_ids.h"
#include "raster/open_image.h"
#include "shell/document.h"
#include "shell/startup.h"

namespace {

MemHandle gListHandle = kNoMem;  // the entries; batchFileCount of them are in use
constexpr int kGrowStep = 16;

BatchEntry* ListBlock() {
  if (gListHandle == kNoMem) return nullptr;
  auto* p = static_cast<BatchEntry*>(MemLock(gListHandle));
  MemUnlock(gListHandle);  // the block only moves when it is resized here
  return p;
}

// Makes room for one more entry; Failed after the memory message.
Status Reserve(int count) {
  size_t need = static_cast<size_t>(count + 1) * sizeof(BatchEntry);
  bool ok;
  if (gListHandle == kNoMem) {
    gListHandle = MemAlloc(kGrowStep * sizeof(BatchEntry));
    ok = gListHandle != kNoMem;
  } else {
    ok = MemSize(gListHandle) >= need || MemResize(gListHandle, need + (kGrowStep - 1) * sizeof(BatchEntry));
  }
  if (ok) return Done();
  ShowStatus(Failed(kStrNotEnoughMemory));
  return Failed(kStrNotEnoughMemory);
}

// Length of a name up to its last dot (the whole name when it has none). The
// name lives in a name buffer, so no more than one buffer is read.
size_t StemLength(const char* name) {
  size_t length = strnlen(name, kNameBufferSize);
  size_t stem = length;
  for (size_t i = 0; i < length; ++i)
    if (name[i] == '.') stem = i;
  return stem;
}

int HeadlessSelect() { return 0; }
int HeadlessDestination() { return 1; }
void HeadlessToolbox(bool) {}
void HeadlessItemDone(const BatchItemReport&) {}

void Report(const char* source, const char* output, int status, int32_t dropped = 0) {
  gBatchHooks.itemDone(BatchItemReport{source, output, status, dropped});
}

// Processes one taken entry; `inputs` are the images listed when the run
// started. Returns the run result when the loop must end, else -1.
int ProcessItem(const BatchEntry& entry, const std::vector<std::string>& inputs) {
  ImageInfo* im = gImage;
  std::string source = std::string(entry.folder) + entry.name;
  const char* outFolder = (gPrefs->flags0 & PrefFlag::batchToSourceFolder) ? entry.folder : gDocument->batchDestFolder;
  char artName[kNameBufferSize];
  char output[kNameBufferSize];
  if (!CopyName(im->outputFolder, outFolder) || !BatchOutputName(entry.name, artName) ||
      !CopyName(output, outFolder) || !AppendName(output, artName)) {
    Report(source.c_str(), "", kItemBadName);
    return -1;
  }
  gDocument->Set(Flag::artUntitled);
  *gPrefsEdit = *gPrefs;

  // Art written over an image of the list would destroy it (an EPS read
  // through its preview, or a later item of the same name): the item is
  // skipped before anything is asked or opened.
  for (const std::string& input : inputs) {
    if (SameFile(output, input.c_str())) {
      Report(source.c_str(), output, kItemOutputIsInput);
      return -1;
    }
  }

  if (FileExists(output) && !(gPrefs->flags1 & PrefFlag::batchReplaceFiles)) {
    // The Prompt dialog's Overwrite, Skip and Cancel are the Yes, No and
    // Cancel answers of the three-button question.
    std::string text = std::string(LoadString(kStrFileAlreadyExists)) + "\n" + output;
    int answer = AskYesNoCancel(kStrFileAlreadyExists, text.c_str());
    if (answer == kAnswerNo) {
      Report(source.c_str(), output, kItemSkipped);
      return -1;
    }
    if (answer == kAnswerCancel) return kBatchCancelled;  // the item taken is not listed again
  }

  // The document open sequence reads sourceFolder + path while a batch runs;
  // the art is saved as outputFolder + docName, and docName, the art's own
  // name (its title), is the file name alone.
  CopyName(im->docName, artName);
  int status = kItemOpenFailed;
  Status opened = OpenDocument(nullptr);
  if (opened.ok()) {
    status = kItemStopped;
    Status converted = gUserAbort ? StopStatus() : ConvertImage(false);
    // A batch never waits on a notice ("No paths found", paths dropped); what
    // failed is told.
    if (converted.kind != kStatusDone) ShowStatus(converted);
    if (converted.kind != kStatusStopped) {
      if (gPathCount == 0 && gHiddenPathCount == 0) {
        status = kItemNoArt;
      } else {
        // A failed or stopped save leaves no partial art file behind, and
        // an art file that was there stays as it was.
        Status saved = SaveArtTo(output);
        if (saved.ok()) status = gDocument->droppedPathCount > 0 ? kItemIncomplete : kItemSaved;
        else status = saved.kind == kStatusStopped ? kItemStopped : kItemSaveFailed;
      }
    }
    CloseDocument();
  } else if (opened.kind == kStatusStopped) {
    status = kItemStopped;
  }
  Report(source.c_str(), output, status, status == kItemIncomplete ? gDocument->droppedPathCount : 0);
  return status == kItemStopped ? kBatchStopped : -1;
}

}  // namespace

BatchHooks gBatchHooks = {HeadlessSelect, HeadlessDestination, HeadlessToolbox, HeadlessItemDone, nullptr};

void InstallHeadlessBatchHooks() {
  gBatchHooks = {HeadlessSelect, HeadlessDestination, HeadlessToolbox, HeadlessItemDone, nullptr};
}

int BatchCount() { return gListHandle != kNoMem && gDocument->batchFileCount > 0 ? gDocument->batchFileCount : 0; }

const BatchEntry* BatchEntryAt(int index) {
  if (index < 0 || index >= BatchCount()) return nullptr;
  return ListBlock() + index;
}

Status AddBatchEntry(const char* folder, const char* name) {
  BatchEntry entry;
  memset(&entry, 0, sizeof entry);
  if (!CopyName(entry.folder, folder) || !CopyName(entry.name, name) || !name[0]) return Failed();
  size_t n = strlen(entry.folder);
  if (n > 0 && entry.folder[n - 1] != kPathSeparator) {
    const char sep[2] = {kPathSeparator, 0};
    if (!AppendName(entry.folder, sep)) return Failed();
  }
  int count = BatchCount();
  for (int i = 0; i < count; ++i) {
    const BatchEntry* e = BatchEntryAt(i);
    if (!strcmp(e->folder, entry.folder) && !strcmp(e->name, entry.name)) return Failed();
  }
  if (Status reserved = Reserve(count); !reserved.ok()) return reserved;
  ListBlock()[count] = entry;
  gDocument->batchFileCount = static_cast<int16_t>(count + 1);
  return Done();
}

void RemoveBatchEntry(int index) {
  int count = BatchCount();
  if (index < 0 || index >= count) return;
  BatchEntry* list = ListBlock();
  memmove(list + index, list + index + 1, static_cast<size_t>(count - index - 1) * sizeof *list);
  gDocument->batchFileCount = static_cast<int16_t>(count - 1);
}

void ClearBatchList() {
  MemFree(gListHandle);
  gListHandle = kNoMem;
  gDocument->batchFileCount = 0;
}

bool TakeNextBatchItem(char* path, char* sourceFolder) {
  const BatchEntry* first = BatchEntryAt(0);
  if (!first) return false;
  memcpy(path, first->name, kNameBufferSize);
  memcpy(sourceFolder, first->folder, kNameBufferSize);
  gImage->sourceType = static_cast<int16_t>(SourceTypeFromName(path));
  RemoveBatchEntry(0);
  return true;
}

bool BatchOutputName(const char* imageName, char* artName) {
  const char* ext;
  switch (gPrefs->outputFormat) {
    case kFormatMetafile: ext = ".emf"; break;
    case kFormatDxf: ext = ".dxf"; break;
    case kFormatSvg: ext = ".svg"; break;
    case kFormatPdf: ext = ".pdf"; break;
    default: ext = gPrefs->previewKind ? ".eps" : ".qv"; break;
  }
  std::string name(imageName, StemLength(imageName));
  return CopyName(artName, (name + ext).c_str());
}

bool BatchDuplicateCheck() {
  int count = BatchCount();
  const BatchEntry* list = ListBlock();
  if (!list) return true;
  for (int i = 0; i < count; ++i) {
    const char* a = list[i].name;
    size_t la = StemLength(a);
    for (int j = i + 1; j < count; ++j) {
      const char* b = list[j].name;
      if (StemLength(b) != la || strncmp(a, b, la) != 0) continue;
      std::string upper(a, la);
      for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
      return AskQuestion(kStrBatchDuplicateName, FormatString(kStrBatchDuplicateName, upper.c_str()).c_str()) == kAnswerYes;
    }
  }
  return true;
}

int RunBatchList() {
  gDocument->Set(Flag::batchRunning);
  std::vector<std::string> inputs;
  for (int i = 0; i < BatchCount(); ++i)
    inputs.push_back(std::string(BatchEntryAt(i)->folder) + BatchEntryAt(i)->name);
  int result = kBatchDone;
  while (BatchCount() > 0) {
    if (gBatchHooks.claimItem && !gBatchHooks.claimItem()) {
      RemoveBatchEntry(0);
      continue;
    }
    BatchEntry entry = *BatchEntryAt(0);
    TakeNextBatchItem(gImage->path, gImage->sourceFolder);
    gUserAbort = 0;
    int r = ProcessItem(entry, inputs);
    if (r >= 0) {
      result = r;
      break;
    }
  }
  return result;
}

void RunBatch() {
  bool toolbox = gDocument->Test(Flag::toolboxVisible);
  bool hidden = false;
  for (;;) {
    if (!gBatchHooks.selectDialog()) {
      ClearBatchList();  // Cancel in the selection empties the list
      break;
    }
    if (BatchCount() == 0) break;
    if (!gBatchHooks.destinationDialog()) continue;  // back to the selection, list intact
    if (toolbox && !hidden) {
      gBatchHooks.showToolbox(false);
      gDocument->Clear(Flag::toolboxVisible);
      hidden = true;
    }
    if (RunBatchList() == kBatchDone) break;
  }
  if (hidden) {
    gBatchHooks.showToolbox(true);
    gDocument->Set(Flag::toolboxVisible);
  }
  gDocument->Clear(Flag::batchRunning);
}
