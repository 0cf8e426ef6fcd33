// Outline tracer (to be built): finds no objects yet.
#include "engine/conversion.h"

void StartObjectSearch() {}
int16_t TraceNextObject() { return 0; }
void RestoreObjectArea() {}
