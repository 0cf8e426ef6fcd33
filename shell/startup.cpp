#include "shell/startup.h"

#include <strings.h>
#include <cstring>

#include "art/pathstore.h"
#include "engine/conversion.h"
#include "engine/settings.h"
#include "shell/prefs.h"
#include "shell/records.h"

void StartRecords() {
  ResetRecords();
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

int SourceTypeFromName(const char* name) {
  size_t n = strlen(name);
  if (n < 4) return kSourceUnknown;
  const char* ext = name + n - 4;
  if (!strcasecmp(ext, ".tif")) return kSourceTiff;
  if (!strcasecmp(ext, ".rvd")) return kSourceRanvelle3;
  if (!strcasecmp(ext, ".pcx")) return kSourcePcx;
  if (!strcasecmp(ext, ".pnt")) return kSourceMacPaint;
  if (!strcasecmp(ext, ".sun")) return kSourceSun;
  return kSourceUnknown;
}
