// The custom color list: up to 900 named colors, each a process color.
#pragma once

#include <cstdint>

// The index of the custom color made automatically for a process color
// (C, M, Y, K bytes, C in the low byte), made when missing.
int16_t CustomColorForProcess(uint32_t color);
