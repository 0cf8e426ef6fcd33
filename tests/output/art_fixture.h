// Helpers of the art output tests: small art built through the path store,
// files read back, and EPS files rendered by Ghostscript.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "art/pathstore.h"
#include "tests/support/support.h"

// A path built from pixel coordinates (the path store scales them to art
// units). Returns the index of the path.
int StartArtPath(double x, double y);
void ArtLineTo(double x, double y);
void ArtCurveTo(double c1x, double c1y, double c2x, double c2y, double x, double y);
// Sets the paint of path `index`; colors are C, M, Y, K bytes.
struct ArtPaint {
  uint8_t fillKind;
  uint32_t fill;  // 0xCCMMYYKK
  uint8_t strokeKind;
  uint32_t stroke;
  uint8_t weight;  // tenths of a point
  uint8_t flags;
};
void PaintArtPath(int index, const ArtPaint& paint);
// A closed axis-aligned rectangle path, painted.
int ArtRect(double left, double top, double right, double bottom, const ArtPaint& paint);

// The text with the creation-date line replaced by "%%CreationDate: X".
std::string MaskDate(const std::string& text);
// Lines of an EPS text (CR line ends).
std::vector<std::string> SplitCr(const std::string& text);

// Renders an EPS file with Ghostscript at 72 dpi (EPSCrop) into an RGB
// raster. Returns false when Ghostscript fails; `log` receives its output.
struct Raster {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
  uint32_t At(int x, int y) const;  // 0xRRGGBB
};
bool RenderEps(const std::string& eps, const std::string& dir, Raster* out, std::string* log, int dpi = 72);
// An SVG file rendered by rsvg-convert over white, a PDF file by pdftoppm,
// at `dpi`; a binary PPM file read into a raster.
bool RenderSvg(const std::string& svg, const std::string& dir, Raster* out, std::string* log, int dpi);
bool RenderPdf(const std::string& pdf, const std::string& dir, Raster* out, std::string* log, int dpi);
bool ReadPpm(const std::string& path, Raster* out);
// The number of pixels where two renderings of the same art disagree: where
// some channel, averaged over the 5 x 5 pixels around the pixel, differs by
// more than `tolerance`. Averaging lets edges smoothed differently by two
// renderers agree, while a shape missing, moved, miscolored or drawn with
// another line weight changes the averages. -1 when the sizes differ.
int RenderMismatches(const Raster& a, const Raster& b, int tolerance);
// Every channel of each pixel set to the pixel's darkest channel: the shapes
// of a rendering with little of what its renderer made of the colors (a
// pure ink and black are 0 whatever RGB they became).
Raster Darkest(const Raster& r);
// True when the color is within `tolerance` of `expected` in every channel.
bool Near(uint32_t color, uint32_t expected, int tolerance = 12);

// Runs a shell command, returning its exit status and output.
int RunCommand(const std::string& command, std::string* output);

// Base fixture: a clean path store over an image of the given geometry.
class ArtTest : public TessTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  void Image(int width, int height, double dpi);
};
