// The document: opening from a file or a source, closing, the save questions,
// Revert, and the one-level undo snapshot.
#pragma once

#include <cstdint>

#include "core/records.h"
#include "core/status.h"

// The one place where a result becomes a message box: shows the status's
// message, when it has one. Every result the folders below return reaches
// the user through here; the shell's own functions below have shown theirs
// already (a batch leaves out what it must not wait on) and return it so that
// the caller knows what happened.
void ShowStatus(const Status& status);

// Opens a document from a source handle (pasted metafile, acquire module) or,
// with none, from gImage->path. Done on success (with the reader's notice);
// on failure no document is open and nothing is left allocated. The reader's
// messages are not shown during a batch.
Status OpenDocument(void* source);
void CloseDocument();
// Done when the caller may go on (saved, or the user said No); Cancelled
// when the user cancelled; Failed when the save failed. The art is never
// written over the open image's own file (message kStrOutputIsInput).
Status AskSaveArt(int ask);
// Writes the art to `path` without a question (AskSaveArt's save, and a
// batch's into its output folder); the art's title stays docName. Failed,
// with the art still modified, when `path` is the open image's own file or
// the write failed.
Status SaveArtTo(const char* path);
Status AskSavePixelImage();
// The Save Art As command: the Save Art As dialog, then the art is written
// under the chosen name. A name that is the open image's own file is refused
// with message kStrOutputIsInput and the art keeps its previous name.
// Done when the art was saved.
Status SaveArtAs();
// The Save Pixel Image As command: the pixel save dialog, then the image is
// written; refused like SaveArtAs for the image's own file. Done when
// written; on a stop or a failure the image record is as it was.
Status SavePixelImageAs();
// True when `path` names the open document's image file (compared by device
// and inode, so a link or another spelling of the name counts too). Shows
// message kStrOutputIsInput when it does.
bool RefuseInputAsOutput(const char* path);
// Revert to the image's file; Done when reopened, Cancelled on No.
Status RevertDocument();
// Sets up an untitled document before a paste or an acquire reads its image.
void NewUntitledDocument();

void RecordUndo(int kind);
void UndoRedo();
void DiscardUndo();

void UpdateWindowTitle();
// Redraws the image window (nothing without one).
void RefreshImageWindow();
// The title the image window shows, for the current document.
const char* WindowTitle();

// What the desktop program plugs in: window creation and redraws, and the
// dialogs that the save questions run. Headless defaults make an invisible
// window, draw nothing, and cancel the dialogs.
struct ShellHooks {
  WindowHandle (*createImageWindow)();
  void (*destroyImageWindow)(WindowHandle window);
  void (*setTitle)(const char* title);
  void (*refreshImage)();
  Status (*saveArtAsDialog)();               // Done when a name was chosen (in gImage->docName)
  Status (*savePixelImageDialog)(char* path);  // Done when a name was chosen
  Status (*writePixelImage)(const char* path);  // WritePixelImage with the dialog's kind
  void (*imageOpened)();                        // a document was opened
};
extern ShellHooks gShellHooks;
void InstallHeadlessShellHooks();
