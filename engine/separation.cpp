// Color and grayscale separation (to be built).
#include "engine/conversion.h"

void RunSeparation() {}
