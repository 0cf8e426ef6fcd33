// The document: opening from a file or a source, closing, the save questions,
// Revert, and the one-level undo snapshot.
#pragma once

#include <cstdint>

#include "core/records.h"

// Opens a document from a source handle (pasted metafile, acquire module) or,
// with none, from gImage->path. Nonzero on success; on failure no document is
// open and nothing is left allocated.
int OpenDocument(void* source);
void CloseDocument();
// Nonzero when the caller may go on (saved, or the user said No). The art
// is never written over the open image's own file (message
// kStrOutputIsInput; the result is then 0).
int AskSaveArt(int ask);
int AskSavePixelImage();
// The Save Art As command: the Save Art As dialog, then the art is written
// under the chosen name. A name that is the open image's own file is refused
// with message kStrOutputIsInput and the art keeps its previous name.
// Nonzero when the art was saved.
int SaveArtAs();
// The Save Pixel Image As command: the pixel save dialog, then the image is
// written; refused like SaveArtAs for the image's own file. Nonzero when
// written; on a stop or a failure the image record is as it was.
int SavePixelImageAs();
// True when `path` names the open document's image file (compared by device
// and inode, so a link or another spelling of the name counts too). Shows
// message kStrOutputIsInput when it does.
bool RefuseInputAsOutput(const char* path);
// Revert to the image's file; nonzero when reopened.
int RevertDocument();
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
  int (*saveArtAsDialog)();         // 1 when a name was chosen (in gImage->docName)
  int (*savePixelImageDialog)(char* path);  // 1 when a name was chosen
  int (*writePixelImage)(const char* path);  // 1 when written
  void (*imageOpened)();                     // a document was opened
};
extern ShellHooks gShellHooks;
void InstallHeadlessShellHooks();
