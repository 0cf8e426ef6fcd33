#include "shell/startup.h"

#include <cstring>

#include "art/pathstore.h"
#include "core/host.h"
#include "core/records.h"
#include "engine/conversion.h"
#include "engine/settings.h"
#include "shell/document.h"
#include "shell/prefs.h"

void InstallShellHost() {
  InstallHeadlessHost();
  gHost.recordUndo = RecordUndo;
  gHost.refreshImageWindow = RefreshImageWindow;
  gHost.updateWindowTitle = UpdateWindowTitle;
}

void StartRecords() {
  ResetRecords();
  InstallShellHost();
  SetBuiltInDefaults(gConvSettings);
  *gConvSettingsEdit = *gConvSettings;
  gDocument->Set(Flag::toolboxVisible);
  gMaxPaths = 10000;
}

void StartProgram() {
  StartRecords();
  LoadPreferences();
  DeleteStaleScratchFiles("./");
}
