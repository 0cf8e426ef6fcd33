#include "tests/output/art_fixture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <cstring>

#include "core/records.h"
#include "engine/conversion.h"
#include "engine/custom_colors.h"

namespace {

void Color(uint8_t* dst, uint32_t v) {
  dst[0] = static_cast<uint8_t>(v >> 24);
  dst[1] = static_cast<uint8_t>(v >> 16);
  dst[2] = static_cast<uint8_t>(v >> 8);
  dst[3] = static_cast<uint8_t>(v);
}

}  // namespace

int StartArtPath(double x, double y) {
  penX = x;
  penY = y;
  BeginPath(PathPaint{});
  return gPathCount - 1;
}

void ArtLineTo(double x, double y) {
  penX = x;
  penY = y;
  AddPathPoint(0);
}

void ArtCurveTo(double c1x, double c1y, double c2x, double c2y, double x, double y) {
  ctrl1X = c1x;
  ctrl1Y = c1y;
  ctrl2X = c2x;
  ctrl2Y = c2y;
  penX = x;
  penY = y;
  AddPathPoint(1);
}

void PaintArtPath(int index, const ArtPaint& p) {
  PathRecord* r = &gPaths[index];
  r->fillKind = p.fillKind;
  Color(r->fillColor, p.fill);
  r->strokeKind = p.strokeKind;
  Color(r->strokeColor, p.stroke);
  r->strokeWeight = p.weight;
  r->pathFlags = p.flags;
  r->fillTint = r->strokeTint = 255;
}

int ArtRect(double left, double top, double right, double bottom, const ArtPaint& paint) {
  int i = StartArtPath(left, top);
  ArtLineTo(right, top);
  ArtLineTo(right, bottom);
  ArtLineTo(left, bottom);
  ArtLineTo(left, top);
  PaintArtPath(i, paint);
  return i;
}

std::string MaskDate(const std::string& text) {
  std::string out = text;
  size_t at = out.find("%%CreationDate: ");
  if (at == std::string::npos) return out;
  size_t end = out.find('\r', at);
  return out.replace(at, end - at, "%%CreationDate: X");
}

std::vector<std::string> SplitCr(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\r') {
      lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

uint32_t Raster::At(int x, int y) const {
  size_t i = (static_cast<size_t>(y) * width + x) * 3;
  return static_cast<uint32_t>(rgb[i] << 16 | rgb[i + 1] << 8 | rgb[i + 2]);
}

int RunCommand(const std::string& command, std::string* output) {
  std::string full = command + " 2>&1";
  FILE* pipe = popen(full.c_str(), "r");
  if (!pipe) return -1;
  char buffer[512];
  std::string text;
  while (fgets(buffer, sizeof buffer, pipe)) text += buffer;
  int status = pclose(pipe);
  if (output) *output = text;
  return status;
}

bool ReadPpm(const std::string& path, Raster* out) {
  std::string bytes = ReadFileBytes(path);
  // The header: magic, width, height, maxval, with "#" comment lines between.
  size_t at = 0;
  std::vector<std::string> fields;
  while (fields.size() < 4 && at < bytes.size()) {
    if (bytes[at] == '#') {
      at = bytes.find('\n', at);
      if (at == std::string::npos) return false;
      ++at;
    } else if (isspace(static_cast<unsigned char>(bytes[at]))) {
      ++at;
    } else {
      size_t end = at;
      while (end < bytes.size() && !isspace(static_cast<unsigned char>(bytes[end]))) ++end;
      fields.push_back(bytes.substr(at, end - at));
      at = end;
    }
  }
  if (fields.size() < 4) return false;
  ++at;  // the single blank after maxval
  std::string magic = fields[0];
  out->width = atoi(fields[1].c_str());
  out->height = atoi(fields[2].c_str());
  int maxval = atoi(fields[3].c_str());
  if (magic != "P6" || maxval != 255) return false;
  size_t size = static_cast<size_t>(out->width) * out->height * 3;
  if (bytes.size() < at + size) return false;
  out->rgb.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                  bytes.begin() + static_cast<std::ptrdiff_t>(at + size));
  return true;
}

bool RenderEps(const std::string& eps, const std::string& dir, Raster* out, std::string* log, int dpi) {
  std::string ppm = dir + "render.ppm";
  // Ghostscript crops only files whose first line it knows as EPS, and ours
  // carries the drawing program's own header line; so the page is set to the
  // bounding box as well, which renders the same pixels. Fast color turns
  // CMYK into RGB by the plain formula rather than through color profiles.
  // Above 72 dpi the edges are smoothed, as the other renderers do.
  std::string text = ReadFileBytes(eps);
  size_t box = text.find("%%BoundingBox:0 0 ");
  if (box == std::string::npos) return false;
  int w = 0, h = 0;
  if (sscanf(text.c_str() + box, "%%%%BoundingBox:0 0 %d %d", &w, &h) != 2) return false;
  std::string cmd = "gs -q -dSAFER -dBATCH -dNOPAUSE -dEPSCrop -dUseFastColor -dFIXEDMEDIA -dDEVICEWIDTHPOINTS=" +
                    std::to_string(w) + " -dDEVICEHEIGHTPOINTS=" + std::to_string(h) +
                    (dpi > 72 ? " -dGraphicsAlphaBits=4" : "") + " -sDEVICE=ppmraw -r" + std::to_string(dpi) +
                    " -sOutputFile='" + ppm + "' '" + eps + "'";
  if (RunCommand(cmd, log) != 0) return false;
  return ReadPpm(ppm, out);
}

bool RenderSvg(const std::string& svg, const std::string& dir, Raster* out, std::string* log, int dpi) {
  std::string ppm = dir + "render-svg.ppm";
  std::string d = std::to_string(dpi);
  std::string png = dir + "render-svg.png";
  std::string cmd = "rsvg-convert -d " + d + " -p " + d + " -b white -o '" + png + "' '" + svg + "' && pngtopnm '" +
                    png + "' > '" + ppm + "'";
  if (RunCommand(cmd, log) != 0) return false;
  return ReadPpm(ppm, out);
}

bool RenderPdf(const std::string& pdf, const std::string& dir, Raster* out, std::string* log, int dpi) {
  std::string prefix = dir + "render-pdf";
  std::string cmd = "pdftoppm -r " + std::to_string(dpi) + " -singlefile '" + pdf + "' '" + prefix + "'";
  if (RunCommand(cmd, log) != 0) return false;
  return ReadPpm(prefix + ".ppm", out);
}

namespace {

// Each channel of a raster averaged over the 5 x 5 pixels around each pixel
// (fewer at the borders), through a summed-area table.
std::vector<double> BoxMeans(const Raster& r) {
  const int w = r.width, h = r.height, radius = 2;
  std::vector<double> means(static_cast<size_t>(w) * h * 3);
  std::vector<int64_t> sums(static_cast<size_t>(w + 1) * (h + 1));
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < h; ++y) {
      int64_t row = 0;
      for (int x = 0; x < w; ++x) {
        row += r.rgb[(static_cast<size_t>(y) * w + x) * 3 + c];
        sums[static_cast<size_t>(y + 1) * (w + 1) + x + 1] = sums[static_cast<size_t>(y) * (w + 1) + x + 1] + row;
      }
    }
    auto at = [&](int x, int y) { return sums[static_cast<size_t>(y) * (w + 1) + x]; };
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        int x0 = std::max(0, x - radius), x1 = std::min(w, x + radius + 1);
        int y0 = std::max(0, y - radius), y1 = std::min(h, y + radius + 1);
        int64_t sum = at(x1, y1) - at(x1, y0) - at(x0, y1) + at(x0, y0);
        means[(static_cast<size_t>(y) * w + x) * 3 + c] = static_cast<double>(sum) / ((x1 - x0) * (y1 - y0));
      }
  }
  return means;
}

}  // namespace

int RenderMismatches(const Raster& a, const Raster& b, int tolerance) {
  if (a.width != b.width || a.height != b.height) return -1;
  std::vector<double> ma = BoxMeans(a), mb = BoxMeans(b);
  int count = 0;
  for (size_t i = 0; i < ma.size(); i += 3)
    for (size_t c = 0; c < 3; ++c)
      if (std::abs(ma[i + c] - mb[i + c]) > tolerance) {
        ++count;
        break;
      }
  return count;
}

Raster Darkest(const Raster& r) {
  Raster d = r;
  for (size_t i = 0; i + 2 < d.rgb.size(); i += 3) d.rgb[i] = d.rgb[i + 1] = d.rgb[i + 2] = std::min({d.rgb[i], d.rgb[i + 1], d.rgb[i + 2]});
  return d;
}

bool Near(uint32_t color, uint32_t expected, int tolerance) {
  for (int shift = 0; shift <= 16; shift += 8) {
    int a = static_cast<int>((color >> shift) & 0xFF), b = static_cast<int>((expected >> shift) & 0xFF);
    if (abs(a - b) > tolerance) return false;
  }
  return true;
}

void ArtTest::SetUp() {
  TessTest::SetUp();
  ClearCustomColors();
  ASSERT_TRUE(ResetPathStore().ok());
}

void ArtTest::TearDown() {
  DeleteAllPaths();
  ClearCustomColors();
  TessTest::TearDown();
}

void ArtTest::Image(int width, int height, double dpi) {
  MakeBitmapImage(width, height, dpi);
  strcpy(gImage->docName, "art.eps");
}
