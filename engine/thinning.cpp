// Centerline thinning (to be built): the outline loop always runs.
#include "engine/conversion.h"

int16_t RunThinningSequence() { return 0; }
void LoadSkeleton() {}
void FreeJunctionList() {}
