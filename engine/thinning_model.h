// The "Skeletonizing" window of interactive thinning, as a model that the
// desktop shows through the host interface (core/host.h): whether it is up and the step count it displays. Its three
// buttons store the response in the document record and resume the paused
// conversion.
#pragma once

#include <cstdint>

#include "core/status.h"

// The window's title, prompt and step label are the strings kStrSkeletonizing,
// kStrEditSkeleton and kStrThinningSteps; its buttons:
inline constexpr char kThinMoreButton[] = "Thin More";
inline constexpr char kThinningCancelButton[] = "Cancel";
inline constexpr char kThinningDoneButton[] = "Done";

enum ThinningResponse : int16_t { kThinningNone = 0, kThinningDone = 1, kThinningCancel = 2, kThinMore = 3 };

struct ThinningWindowModel {
  bool open = false;
  int16_t steps = 0;  // shown after "No. of thinning steps ="
  int changes = 0;    // how many times the window was opened or its count changed
};

const ThinningWindowModel& ThinningWindow();
void ThinningWindowOpen(int16_t steps);
void ThinningWindowSetSteps(int16_t steps);
void ThinningWindowClose();
// Every change is told to the host (gHost.thinningWindowChanged), which
// shows the window.

// A button of the window: stores `response` in thinningResponse and resumes
// the conversion: the result is the conversion's (ConvertImage), for the
// shell to show. A press while the conversion is already running beeps and
// is discarded (Failed, nothing to show).
Status ThinningWindowPress(int16_t response);
