// The open dispatcher (to be built): no reader exists yet, so every open
// fails cleanly.
#include "raster/open_image.h"

#include "platform/platform.h"
#include "shell/records.h"

int32_t dataOffset = 0;
int16_t fileRowsAreBitmap = 0;

int OpenImage(void*) { return 0; }

void FreeImageStores() {
  FreeWorkBits();
  FreeBackupBits();
}

int ReportReadError(int id) {
  if (!gDocument->Test(Flag::batchRunning)) ShowWarning(id);
  return 1;
}
