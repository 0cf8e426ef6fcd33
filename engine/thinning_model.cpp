#include "engine/thinning_model.h"

#include "core/host.h"
#include "core/records.h"
#include "engine/conversion.h"

namespace {
ThinningWindowModel gModel;
bool gResuming = false;

void Changed() {
  ++gModel.changes;
  gHost.thinningWindowChanged();
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

Status ThinningWindowPress(int16_t response) {
  if (gResuming || !gDocument->Test(Flag::interactiveThinning)) {
    Beep();
    return Failed();
  }
  gResuming = true;
  gDocument->thinningResponse = response;
  Status result = ConvertImage(false);
  gResuming = false;
  return result;
}
