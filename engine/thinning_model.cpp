#include "engine/thinning_model.h"

#include "engine/conversion.h"
#include "shell/records.h"

namespace {
ThinningWindowModel gModel;
void (*gObserver)(const ThinningWindowModel&) = nullptr;
bool gResuming = false;

void Changed() {
  ++gModel.changes;
  if (gObserver) gObserver(gModel);
}
}  // namespace

const ThinningWindowModel& ThinningWindow() { return gModel; }

void ThinningWindowOpen(int16_t steps) {
  gModel.open = true;
  gModel.steps = steps;
  Changed();
}

void ThinningWindowSetSteps(int16_t steps) {
  gModel.steps = steps;
  Changed();
}

void ThinningWindowClose() {
  if (!gModel.open) return;
  gModel.open = false;
  Changed();
}

void SetThinningWindowObserver(void (*observer)(const ThinningWindowModel&)) { gObserver = observer; }

bool ThinningWindowPress(int16_t response) {
  if (gResuming || !gDocument->Test(Flag::interactiveThinning)) {
    Beep();
    return false;
  }
  gResuming = true;
  gDocument->thinningResponse = response;
  ConvertImage(false);
  gResuming = false;
  return true;
}
