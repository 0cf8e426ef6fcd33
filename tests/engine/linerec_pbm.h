// Drawings made by real tools for the line recognition and thinning tests:
// a raw PBM (P4) file read into the working bitmap, and the commands that
// make such files (pdftoppm, Ghostscript). A test skips when the tool or
// its input is missing on the machine.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/records.h"
#include "tests/support/support.h"

// Runs a shell command; true when it exited with status 0.
inline bool RunTool(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// Reads a raw PBM file into a fresh working bitmap at `dpi`.
inline bool LoadPbm(const std::string& path, double dpi) {
  std::string bytes = ReadFileBytes(path);
  size_t at = 0;
  auto token = [&]() {
    std::string t;
    while (at < bytes.size()) {
      char c = bytes[at];
      if (c == '#') {
        while (at < bytes.size() && bytes[at] != '\n') ++at;
      } else if (isspace(static_cast<unsigned char>(c))) {
        if (!t.empty()) break;
        ++at;
      } else {
        t += c;
        ++at;
      }
    }
    return t;
  };
  if (token() != "P4") return false;
  int w = atoi(token().c_str()), h = atoi(token().c_str());
  ++at;  // the single whitespace before the raster
  int srcRow = (w + 7) / 8;
  if (w <= 0 || h <= 0 || bytes.size() < at + static_cast<size_t>(srcRow) * h) return false;
  MakeBitmapImage(w, h, dpi);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if ((static_cast<uint8_t>(bytes[at + static_cast<size_t>(y) * srcRow + x / 8]) >> (7 - (x & 7))) & 1)
        SetWorkPixel(x, y);
  return true;
}
