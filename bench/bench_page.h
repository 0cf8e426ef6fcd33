// A synthetic one-bit page drawn with a round pen, and the conversion run
// that the method benchmarks time on it.
#pragma once

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "art/pathstore.h"
#include "core/records.h"
#include "engine/conversion.h"
#include "engine/settings.h"
#include "platform/platform.h"

struct BenchPage {
  int width, height, rowBytes;
  double dpi;
  std::vector<uint8_t> bits;

  BenchPage(int w, int h, double resolution)
      : width(w), height(h), rowBytes(((w + 31) / 32) * 4), dpi(resolution),
        bits(static_cast<size_t>(rowBytes) * h, 0) {}

  void Set(int x, int y) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    bits[static_cast<size_t>(y) * rowBytes + (x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7));
  }
  void Rect(int x0, int y0, int x1, int y1) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) Set(x, y);
  }
  // A round pen of radius r at (x, y).
  void Dot(double x, double y, double r) {
    for (int yy = static_cast<int>(y - r); yy <= static_cast<int>(y + r) + 1; ++yy)
      for (int xx = static_cast<int>(x - r); xx <= static_cast<int>(x + r) + 1; ++xx)
        if ((xx - x) * (xx - x) + (yy - y) * (yy - y) <= r * r) Set(xx, yy);
  }
  void Line(double x0, double y0, double x1, double y1, double r) {
    int n = static_cast<int>(std::hypot(x1 - x0, y1 - y0)) + 1;
    for (int i = 0; i <= n; ++i) Dot(x0 + (x1 - x0) * i / n, y0 + (y1 - y0) * i / n, r);
  }
  void Arc(double cx, double cy, double rx, double ry, double a0, double a1, double r) {
    int n = static_cast<int>((a1 - a0) * (rx > ry ? rx : ry)) + 2;
    for (int i = 0; i <= n; ++i) {
      double a = a0 + (a1 - a0) * i / n;
      Dot(cx + rx * std::cos(a), cy + ry * std::sin(a), r);
    }
  }
  // Writes the page as a raw PBM, so that other tracers can be timed on it.
  void WritePbm(const char* path) const {
    FILE* f = fopen(path, "wb");
    if (!f) return;
    fprintf(f, "P4\n%d %d\n", width, height);
    for (int y = 0; y < height; ++y) fwrite(&bits[static_cast<size_t>(y) * rowBytes], 1, (width + 7) / 8, f);
    fclose(f);
  }
  // Makes the page the open image's working bitmap.
  void Load() const {
    gImage->width = static_cast<int16_t>(width);
    gImage->height = static_cast<int16_t>(height);
    gImage->rowBytes = static_cast<int16_t>(rowBytes);
    gImage->rowBits = static_cast<int16_t>(rowBytes * 8);
    gImage->rowWords = static_cast<int16_t>(rowBytes / 2);
    gImage->bitsPerSample = 1;
    gImage->samplesPerPixel = 1;
    gImage->photometric = 0;
    gImage->resolutionX = gImage->resolutionY = dpi;
    gImage->fileHandle = kNoFile;
    ComputeArtScale();
    if (!gWorkBits && !AllocWorkBits()) abort();
    memcpy(gWorkBits, bits.data(), bits.size());
  }
};

// A small repeatable pseudo-random sequence (15-bit values) for laying out
// the synthetic pages.
struct BenchRandom {
  uint32_t seed;
  uint32_t operator()() {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7FFF;
  }
};

// Times whole Converts of the page with the given methods, and reports the
// path count and the process's peak resident memory.
inline void RunConversions(benchmark::State& state, const BenchPage& page, uint8_t methods) {
  ResetRecords();
  SetBuiltInDefaults(gConvSettings);
  gConvSettings->methodFlags = methods;
  *gConvSettingsEdit = *gConvSettings;
  CopyName(gPrefs->scratchFolder, TempFolder());
  int paths = 0;
  for (auto _ : state) {
    state.PauseTiming();
    DeleteAllPaths();
    page.Load();
    state.ResumeTiming();
    ConvertImage(false);
    paths = gPathCount;
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["paths"] = paths;
  state.counters["peak_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
  DeleteAllPaths();
  FreeWorkBits();
}
