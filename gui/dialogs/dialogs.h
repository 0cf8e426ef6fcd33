// The desktop program's dialog windows, as the main window's dispatcher sees
// them. Every dialog is a thin view over a model that lives below the
// program (shell/, engine/); the windows themselves are in this folder.
#pragma once

class QWidget;

bool DialogCommandEnabled(int command);  // false when the command is not a dialog command or cannot run now
bool RunDialogCommand(int command, QWidget* parent);  // true when the command was a dialog command (it ran)
bool PickImageFile(QWidget* parent, char* path);  // File > Open's dialog; true with a path chosen
void InstallDialogHooks();  // called once at start-up; installs the shell/batch/thinning hooks that show these windows
