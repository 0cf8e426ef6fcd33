// Conversion area (to be built).
#include "engine/conversion.h"

void PutSelectionAside() {}
void PutSelectionBack() {}
