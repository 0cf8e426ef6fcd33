// Polygon builder (to be built).
#include "engine/conversion.h"

void BuildPolygon() {}
