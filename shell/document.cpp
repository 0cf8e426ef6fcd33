#include "shell/document.h"

#include <cstdio>
#include <cstring>

#include "art/pathstore.h"
#include "engine/conversion.h"
#include "engine/levels.h"
#include "engine/thinning.h"
#include "output/art_writer.h"
#include "platform/string_ids.h"
#include "raster/open_image.h"
#include "raster/sample_store.h"

namespace {

char gHeadlessWindow;  // the invisible image window of the headless program
char gTitle[3 * kNameBufferSize];

WindowHandle HeadlessCreateWindow() { return &gHeadlessWindow; }
void HeadlessDestroyWindow(WindowHandle) {}
void HeadlessSetTitle(const char*) {}
void HeadlessRefresh() {}
Status HeadlessCancel() { return Cancelled(); }
Status HeadlessCancelPath(char*) { return Cancelled(); }
Status HeadlessNoWriter(const char*) { return Failed(); }

// The undo snapshot.
PathStoreCopy gUndoPaths;
int16_t gUndoViewMode = 0;

const char* LastComponent(const char* path) {
  const char* slash = strrchr(path, kPathSeparator);
  return slash ? slash + 1 : path;
}

void DeleteSpooledImage() {
  if (!imageSpooled) return;
  char path[kNameBufferSize];
  if (ScratchPath(ScratchName(kStoreMemtemp), path)) FileDelete(path);
  imageSpooled = 0;
}

void FreeDocumentStores() {
  if (gImage->fileHandle != kNoFile) FileClose(gImage->fileHandle);
  gImage->fileHandle = kNoFile;
  DeleteSpooledImage();
  FreeImageStores();
}

}  // namespace

ShellHooks gShellHooks = {HeadlessCreateWindow, HeadlessDestroyWindow, HeadlessSetTitle, HeadlessRefresh,
                          HeadlessCancel,       HeadlessCancelPath,    HeadlessNoWriter, HeadlessRefresh};

void InstallHeadlessShellHooks() {
  gShellHooks = {HeadlessCreateWindow, HeadlessDestroyWindow, HeadlessSetTitle, HeadlessRefresh,
                 HeadlessCancel,       HeadlessCancelPath,    HeadlessNoWriter, HeadlessRefresh};
}

void RefreshImageWindow() {
  if (gDocument->imageWindow) gShellHooks.refreshImage();
}

void ShowStatus(const Status& status) {
  if (!status.message) return;
  // Reading 16-bit layers as 8 is news about the image, not a fault: it is
  // told in an information box.
  if (status.message == kStrSixteenBits) ShowInformation(status.message);
  else ShowWarning(status.message);
}

Status OpenDocument(void* source) {
  gDocument->Set(Flag::artUntitled);
  gUserAbort = 0;
  if (source) {
    CloseDocument();
  } else {
    // A batch item is its folder followed by its name; a batch runs
    // unattended, so a file it cannot open (or whose full name does not fit
    // its buffer) is skipped without a message.
    char full[kNameBufferSize];
    bool batch = gDocument->Test(Flag::batchRunning);
    bool fits = batch ? CopyName(full, gImage->sourceFolder) && AppendName(full, gImage->path)
                      : CopyName(full, gImage->path);
    int16_t file = fits ? FileOpen(full, kFileReadWrite) : kNoFile;
    if (file == kNoFile) {
      if (!batch) ShowWarning(kStrErrorOpeningInput, FormatString(kStrErrorOpeningInput, FileLastError()).c_str());
      return Failed(kStrErrorOpeningInput);
    }
    // Keep the names of the file just opened: closing the previous document
    // must not disturb them.
    ImageInfo names = *gImage;
    CloseDocument();
    memcpy(gImage->path, names.path, sizeof gImage->path);
    memcpy(gImage->docName, names.docName, sizeof gImage->docName);
    memcpy(gImage->sourceFolder, names.sourceFolder, sizeof gImage->sourceFolder);
    gImage->sourceType = names.sourceType;
    gImage->fileHandle = file;
  }
  gHiddenPathCount = 0;
  gDocument->Set(Flag::busy);

  // During a batch, open and reader messages are not shown.
  Status read = OpenImage(source);
  if (!gDocument->Test(Flag::batchRunning)) ShowStatus(read);
  WindowHandle window = read.ok() ? gShellHooks.createImageWindow() : nullptr;
  if (read.ok() && window) {
    gDocument->imageWindow = window;
    if (gImage->sourceType == kSourceAcquire) {
      gDocument->Set(Flag::pixelModified);
      gDocument->Clear(Flag::imageHasFile);
    } else {
      gDocument->Clear(Flag::pixelModified);
      gDocument->Set(Flag::imageHasFile);
    }
    UpdateWindowTitle();
    gShellHooks.imageOpened();
  } else {
    if (read.ok()) read = Failed();
    FreeDocumentStores();
  }
  gDocument->Clear(Flag::busy);
  return read;
}

void CloseDocument() {
  if (!gDocument->imageWindow) return;
  if (gDocument->Test(Flag::pixelSelection) && !gDocument->Test(Flag::interactiveThinning))
    gDocument->Clear(Flag::pixelSelection);
  if (gImage->fileHandle != kNoFile) FileClose(gImage->fileHandle);
  gImage->fileHandle = kNoFile;
  DiscardUndo();
  gShellHooks.destroyImageWindow(gDocument->imageWindow);
  gDocument->imageWindow = nullptr;
  gDocument->selectedPathCount = 0;
  gDocument->Clear(Flag::redrawPending);
  FreeDocumentStores();
  DeleteAllPaths();
  gDocument->Clear(Flag::pixelModified);
  gDocument->Clear(Flag::artModified);
}

bool RefuseInputAsOutput(const char* path) {
  // The image's own file: the open handle (unless the image was spooled to a
  // scratch file) and the name it was opened by (a batch item's name is
  // relative to its source folder). A pasted or acquired image has none.
  char input[kNameBufferSize];
  bool named = gDocument->Test(Flag::imageHasFile) &&
               (gDocument->Test(Flag::batchRunning)
                    ? CopyName(input, gImage->sourceFolder) && AppendName(input, gImage->path)
                    : CopyName(input, gImage->path));
  bool same = (named && SameFile(path, input)) ||
              (!imageSpooled && gImage->fileHandle != kNoFile && SameFileAsOpen(gImage->fileHandle, path));
  if (same) ShowWarning(kStrOutputIsInput, FormatString(kStrOutputIsInput, path).c_str());
  return same;
}

Status AskSaveArt(int ask) {
  if (!gDocument->imageWindow) return Done();
  if (!gDocument->Test(Flag::artModified) && !gDocument->Test(Flag::saveAsRequested)) return Done();
  if (gPathCount == 0 && gHiddenPathCount == 0) return Done();
  const char* name = LastComponent(gImage->docName);
  if (!gDocument->Test(Flag::batchRunning) && ask) {
    int answer = AskYesNoCancel(kStrSaveArtChanges, FormatString(kStrSaveArtChanges, name).c_str());
    if (answer == kAnswerNo) return Done();
    if (answer == kAnswerCancel) return Cancelled();
    if (gDocument->Test(Flag::artUntitled) && !gShellHooks.saveArtAsDialog().ok()) return Cancelled();
  }
  return SaveArtTo(gImage->docName);
}

Status SaveArtTo(const char* path) {
  if (RefuseInputAsOutput(path)) {
    gDocument->Set(Flag::artModified);
    return Failed(kStrOutputIsInput);
  }
  bool hidden = gPathCount == 0;
  if (hidden) gPathCount = gHiddenPathCount;
  Status saved = SaveArt(path, 0);
  if (hidden) gPathCount = 0;
  // A batch never waits on a notice; a failure is always told.
  if (!saved.ok() || !gDocument->Test(Flag::batchRunning)) ShowStatus(saved);
  if (!saved.ok()) gDocument->Set(Flag::artModified);
  return saved;
}

Status AskSavePixelImage() {
  if (!gDocument->imageWindow || !gDocument->Test(Flag::pixelModified)) return Done();
  const char* name = LastComponent(gImage->docName);
  int answer = AskYesNoCancel(kStrSavePixelChanges, FormatString(kStrSavePixelChanges, name).c_str());
  if (answer == kAnswerNo) return Done();
  if (answer == kAnswerCancel) return Cancelled();
  return SavePixelImageAs();
}

Status SaveArtAs() {
  if (!gDocument->imageWindow) return Failed();
  char kept[kNameBufferSize];
  memcpy(kept, gImage->docName, sizeof kept);
  if (!gShellHooks.saveArtAsDialog().ok()) return Cancelled();
  if (RefuseInputAsOutput(gImage->docName)) {
    memcpy(gImage->docName, kept, sizeof kept);
    return Failed(kStrOutputIsInput);
  }
  gDocument->Set(Flag::saveAsRequested);
  Status saved = AskSaveArt(0);
  gDocument->Clear(Flag::saveAsRequested);
  return saved;
}

Status SavePixelImageAs() {
  if (!gDocument->imageWindow) return Failed();
  ImageInfo kept = *gImage;
  char path[kNameBufferSize] = "";
  if (!gShellHooks.savePixelImageDialog(path).ok()) return Cancelled();
  path[kNameBufferSize - 1] = 0;
  if (RefuseInputAsOutput(path)) return Failed(kStrOutputIsInput);
  DiscardUndo();
  Status written = gShellHooks.writePixelImage(path);
  ShowStatus(written);
  if (written.ok()) {
    gDocument->Clear(Flag::pixelModified);
    UpdateWindowTitle();
    return written;
  }
  *gImage = kept;
  return written;
}

Status RevertDocument() {
  if (!gDocument->Test(Flag::imageHasFile)) return Failed();
  if (AskQuestion(kStrRevertImage) != kAnswerYes) return Cancelled();
  return OpenDocument(nullptr);
}

void NewUntitledDocument() {
  gDocument->Set(Flag::artUntitled);
  gDocument->Set(Flag::imageUntitled);
  CopyName(gImage->path, LoadString(kStrUntitled));
  CopyName(gImage->docName, LoadString(kStrUntitled));
  *gPrefsEdit = *gPrefs;
  ResetLevels();
}

void RecordUndo(int kind) {
  if (!gDocument->imageWindow) return;
  gDocument->Set(Flag::artModified);
  DiscardUndo();
  gDocument->undoKind = static_cast<int16_t>(kind);
  gUndoViewMode = gDocument->viewMode;
  bool art = gPathCount > 0 || gHiddenPathCount > 0;
  switch (kind) {
    case kUndoThinMore:
      if (!KeepThinMoreUndo()) gDocument->undoKind = kUndoNone;
      break;
    case kUndoConvert:
      break;  // the store itself is moved aside on Undo
    case kUndoPencil:
    case kUndoEraser:
    case kUndoLine:
      gDocument->Set(Flag::pixelUndoPending);
      gDocument->Clear(Flag::pixelEdit);
      gDocument->Set(Flag::pixelModified);
      break;
    case kUndoFill:
    case kUndoClear:
      gDocument->Set(Flag::fillUndoPending);
      gDocument->Set(Flag::pixelModified);
      break;
    case kUndoLevels:
      gDocument->Set(Flag::levelsPending);
      gDocument->Set(Flag::pixelModified);
      break;
    default:
      if (kind >= kUndoMarquee && kind <= kUndoSelectSimilar) {
        if (art) gDocument->undoKind = kUndoNone;
        break;
      }
      if (!art || !CopyPathStore(&gUndoPaths).ok()) gDocument->undoKind = kUndoNone;
      break;
  }
}

namespace {

// Undo (positive kind) or Redo (negative kind) of a Fill or Clear. Undo is
// possible while the edit is pending: a bilevel image gets the pixels the
// edit took, which the backup plane holds, ORed back; Redo takes them out
// again. False when there is nothing to undo.
bool UndoFill(bool undo) {
  if (undo && !gDocument->Test(Flag::fillUndoPending)) return false;
  gDocument->Clear(Flag::fillUndoPending);
  if (gImage->bitsPerSample < 2 && gWorkBits && gBackupBits) {
    size_t n = RowBytes() * static_cast<size_t>(gImage->height);
    for (size_t i = 0; i < n; ++i)
      gWorkBits[i] = static_cast<uint8_t>(undo ? gWorkBits[i] | gBackupBits[i] : gWorkBits[i] & ~gBackupBits[i]);
  }
  RefreshImageWindow();
  return true;
}

}  // namespace

void UndoRedo() {
  int kind = gDocument->undoKind < 0 ? -gDocument->undoKind : gDocument->undoKind;
  if (kind == kUndoNone) return;
  bool undo = gDocument->undoKind > 0;
  // Steps that find nothing to exchange leave nothing to undo.
  bool stepped = true;
  if (kind == kUndoConvert) {
    stepped = !(undo && gPathCount == 0);
    if (stepped) SwapPathStore(&gUndoPaths);
  } else if (kind >= kUndoMarquee && kind <= kUndoSelectSimilar) {
    // Selection kinds are exchanged by the conversion-area code.
  } else if (kind >= kUndoPencil && kind <= kUndoLine) {
    // The stroke's pixels are exchanged by the image window's tools, while
    // the stroke is not yet committed.
    stepped = gDocument->Test(Flag::pixelUndoPending);
  } else if (kind == kUndoLevels) {
    stepped = UndoLevels();
  } else if (kind == kUndoFill || kind == kUndoClear) {
    stepped = UndoFill(undo);
  } else if (kind == kUndoThinMore) {
    stepped = ExchangeThinMoreUndo(undo);
  } else {
    SwapPathStore(&gUndoPaths);
  }
  if (!stepped) {
    gDocument->undoKind = kUndoNone;
    return;
  }
  int16_t view = gDocument->viewMode;
  gDocument->viewMode = gUndoViewMode;
  gUndoViewMode = view;
  gDocument->Set(Flag::artModified);
  gDocument->undoKind = static_cast<int16_t>(-gDocument->undoKind);
}

void DiscardUndo() {
  // The image window's pending work is committed first: a pending levels
  // change becomes part of the image (the samples it replaced are no longer
  // needed), a stroke or a fill stays as drawn.
  CommitPendingLevels();
  DiscardLevelsUndo();
  gDocument->Clear(Flag::pixelUndoPending);
  gDocument->Clear(Flag::fillUndoPending);
  if (gDocument->undoKind == kUndoThinMore || gDocument->undoKind == -kUndoThinMore) DiscardThinMoreUndo();
  FreePathStoreCopy(&gUndoPaths);
  gDocument->undoKind = kUndoNone;
}

const char* WindowTitle() {
  const char* image = LastComponent(gImage->path);
  int percent = 0;
  if (gImage->resolutionX > 0) {
    double actual = 96.0 * 65536.0 / gImage->resolutionX;  // the screen's pixels per inch
    percent = static_cast<int>(gImage->zoomX / actual * 100.0 + 0.005);
  }
  char zoom[32] = "";
  if (percent >= 1 && percent < 20000) snprintf(zoom, sizeof zoom, "<%d%%>", percent);
  if (gPathCount > 0 || gHiddenPathCount > 0)
    snprintf(gTitle, sizeof gTitle, "%s - %s  %s", image, LastComponent(gImage->docName), zoom);
  else
    snprintf(gTitle, sizeof gTitle, "%s  %s", image, zoom);
  return gTitle;
}

void UpdateWindowTitle() {
  if (gDocument->imageWindow) gShellHooks.setTitle(WindowTitle());
}
