// Line recognition (to be built).
#include "engine/conversion.h"

void RecognizeLines() {}
void OutputLines() {}
void ReleaseLineBuffers() {}
