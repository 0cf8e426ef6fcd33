#include "core/status.h"

#include "core/records.h"

namespace {
// The reason of the running operation's stop, valid while gUserAbort is set.
// Every stop goes through StopWith or RequestStop, which forget the reason
// of an earlier operation whenever they find gUserAbort clear.
int16_t gStopReason = 0;
}  // namespace

void StopWith(int16_t message) {
  if (!gUserAbort || gStopReason == 0) gStopReason = message;
  gUserAbort = 1;
}

void RequestStop() {
  if (!gUserAbort) gStopReason = 0;
  gUserAbort = 1;
}

Status StopStatus() {
  if (!gUserAbort) return Done();
  return Stopped(gStopReason);
}
