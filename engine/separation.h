// Color and grayscale separation: turns the gray or color samples of the
// open image into what the conversion traces.
//
// Black and white (posterization off): the samples, after optional noise
// reduction, become the one-bit working bitmap by a threshold or by a local
// contrast test with an optional boost; the bitmap is then converted like
// any black-and-white image.
//
// Color (posterization on): the samples are quantized into a few codes
// (gray bands, or cells of a 6 x 6 x 6 color cube merged down to the
// Complexity's count), one code per cell of the code grid (a pixel, or a
// 2 x 2 block with Reduce detail). The boundary map between cells of
// different codes is drawn into the working bitmap at twice the code grid's
// resolution: for a grid of C x R cells the map is 2C + 1 by 2R + 1 pixels,
// cell (i, k) is map pixel (2i + 1, 2k + 1), the crack between two cells is
// the map pixel between them and the crossings of cracks are the pixels at
// even, even places; the frame (first and last map row and column) lies on
// the image's edges. A map point (X, Y) is therefore the image point
// (X / 2, Y / 2), or (X, Y) with Reduce detail: the conversion runs on the
// map's geometry and the art scale is halved without Reduce detail. The map
// is thinned (its frame kept) and the areas between its lines are traced by
// the shared-boundary pass, which asks this module for each area's color.
#pragma once

#include <cstdint>

#include "engine/custom_colors.h"
#include "engine/settings.h"
#include "platform/platform.h"

// ---------------------------------------------------------------------------
// Color codes.

// The level (0 to 5) of a channel value in the cube: 0-25 give 0, 26-76 1,
// 77-127 2, 128-178 3, 179-229 4, 230-255 5.
inline int CubeLevel(int v) { return v <= 25 ? 0 : (v - 26) / 51 + 1; }
inline int CubeCode(int r, int g, int b) { return CubeLevel(r) + 6 * CubeLevel(g) + 36 * CubeLevel(b); }
// The RGB of a CMYK pixel as the quantization sees it.
void CmykToCubeRgb(const uint8_t cmyk[4], uint8_t rgb[3]);
// The color of a code as a process color: gray K = 255 - code; a cube cell
// R, G, B = 51 x its levels, through RGB to CMYK.
uint32_t CodeColor(int code, bool color);
// The distance between two codes: |difference| of gray codes, or the sum of
// the level differences of two cube cells.
int CodeDistance(int a, int b, bool color);

// ---------------------------------------------------------------------------
// The separation of the open image.

struct Separation {
  int samples;          // 1 gray, 3 RGB, 4 CMYK
  bool color;           // samples > 1
  int subAreas;         // K, the target number of codes
  uint8_t palette[256]; // raw code (gray sample or cube cell) -> its sub-area's code
  int32_t counts[256];  // the sampled raw codes (cube cells of a color image)
  int32_t sums[216][4]; // their unquantized channel sums (color)
  uint32_t background;  // process color of the background code
  // The code grid.
  bool reduce;          // a cell is a 2 x 2 block of pixels
  int cellsX, cellsY;
  uint8_t* codes;       // cellsX x cellsY codes, row by row (nullptr when none)
  MemHandle codesHandle;
  // The boundary map.
  int mapWidth, mapHeight;
  bool onMap;           // the conversion runs on the map's geometry
};

// The separation of the last run (its palette, code grid and map geometry).
Separation* CurrentSeparation();

// Convert's separation (the argument a > 0): the black-and-white bitmap into
// the working bitmap, or, with posterization on, the palette, the code grid
// and the boundary map, after which the conversion runs on the map's
// geometry and colorMode is set. Clears separationValid while it works and
// sets it when done. On failure (memory: message 11) gUserAbort is set.
void RunSeparation(int a);
// Puts the image's own geometry (and art scale) back after a conversion on
// the map, with a blank working bitmap, and frees the code grid.
void EndSeparation();

// The Color/Grayscale Setup dialog's Preview (the argument a <= 0) with the
// settings `s`: the black-and-white bitmap into the working bitmap, or the
// palette and its false-color table; the image window is refreshed.
void PreviewSeparation(const ConversionSettings* s);
// The false-color preview: the screen color (0x00RRGGBB) in which a raw code
// is shown: gray, the middle of its band; color, the cube centre of its
// sub-area's cell.
uint32_t FalseColor(int rawCode);

// The black-and-white separation of the art writer's preview: threshold at
// 50 % without noise reduction, into the working bitmap; the settings stay
// as they are. False when memory is short.
bool SeparateTwoLevel();

// The steps, for the tests and for the pieces above.
// Builds the quantization palette of `s` for the open image.
bool BuildPalette(Separation* sep, const ConversionSettings* s);
// Computes the code grid (the palette must exist).
bool BuildCodeGrid(Separation* sep, const ConversionSettings* s);
// The black-and-white conversion into the working bitmap (image geometry).
bool ThresholdImage(const ConversionSettings* s);
// Draws the boundary map of the code grid into `bits` (mapWidth x
// mapHeight pixels, rows `rowBytes` apart, blank on entry), with the frame,
// the noise reduction of `s` and the holes in solid blocks.
void DrawBoundaryMap(const Separation* sep, const ConversionSettings* s, uint8_t* bits, int32_t rowBytes);

// ---------------------------------------------------------------------------
// The color of an area. The shared-boundary pass feeds the runs of map
// pixels that make up an area; the tally reads the image pixels under them
// (the cells of the code grid: map pixels at odd, odd places).

enum AreaRule : int {
  kRuleMean = 0,      // the mean of every channel (color averaging on, or gray)
  kRuleMostCommon,    // the most common color (averaging off, color image)
  kRuleCode,          // the code most of the pixels have (Limited Colors)
  kRuleCustom,        // the best custom color (Use Custom Colors, color image)
};

struct AreaTally {
  int rule;
  int32_t pixels;
  int64_t sums[4];
  int32_t codeCounts[256];
  // The most common exact colors.
  uint8_t exact[256][4];
  int32_t exactCount[256];
  int exactUsed;
  // The row of samples held for reading (file-backed stores).
  int32_t cachedRow;
};
// The rule for the settings and the open image.
int AreaRuleFor(const ConversionSettings* s, const Separation* sep);
// Starts a tally (with kRuleCustom after BestColorBegin).
void AreaTallyBegin(AreaTally* t, int rule);
// Adds the map pixels x0 .. x1 of map row y.
void AreaTallySpan(AreaTally* t, const Separation* sep, int y, int x0, int x1);
// The process color of the tally: the mean, the most common color, or the
// color of the majority code.
uint32_t AreaTallyColor(const AreaTally* t, const Separation* sep);
// The majority code (the lowest on a tie); -1 without pixels.
int AreaTallyCode(const AreaTally* t);

// Limited Colors: the codes kept when more codes are in use than
// `maxColors`. `areaCodes` holds each area's majority code (-1 none) and
// `weights` how many pixels it has; on return each area's code is the kept
// code nearest to its own.
void ReduceAreaCodes(int16_t* areaCodes, const int32_t* weights, int32_t areaCount, int maxColors, bool color);
