// Custom color list (to be built).
#include "engine/conversion.h"

void RemoveAutoColors() {}
int CustomColorCount() { return 0; }
int TaggedCustomColorCount() { return 0; }
#include "engine/custom_colors.h"
int16_t CustomColorForProcess(uint32_t) { return 0; }
