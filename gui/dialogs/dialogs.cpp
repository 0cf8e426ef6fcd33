// The dispatcher's entry into the dialog windows: which commands open a
// dialog, whether they can run now, and the hooks through which the shell's
// loops (batch, saving) show the windows of this folder.
#include "gui/dialogs/dialogs.h"

#include <QFileDialog>
#include <QWidget>

#include "core/records.h"
#include "platform/platform.h"

bool DialogCommandEnabled(int) { return false; }

bool RunDialogCommand(int, QWidget*) { return false; }

bool PickImageFile(QWidget* parent, char* path) {
  QString chosen = QFileDialog::getOpenFileName(parent);
  if (chosen.isEmpty()) return false;
  return CopyName(path, chosen.toUtf8().constData());
}

void InstallDialogHooks() {}
