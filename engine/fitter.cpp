// Curve fitter (to be built).
#include "engine/conversion.h"

int16_t inkFlag = 0;
void ComputeFittingParameters() {}
void ComputeCornerAngles() {}
void FitObject() {}
