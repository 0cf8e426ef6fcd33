// Shared-boundary areas (to be built).
#include "engine/conversion.h"

int16_t SharedBoundaryPass() { return 1; }
