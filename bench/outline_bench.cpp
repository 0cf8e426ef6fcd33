// Outline conversion of a synthetic 600-dpi A4 page (4960 x 7016 pixels) of
// text-like shapes: rings, bars, arches and diagonals in 12-point-sized
// glyphs, 70 lines of about 90 glyphs. Reports the wall time of a whole
// Convert (template copy, tracing, polygons, fitting, path store) and the
// process's peak resident memory.
//
//   outline_bench [--benchmark_...]
// With TESS_BENCH_PBM set to a file name, the page is also written there as
// a raw PBM, so that other tracers can be timed on the same input.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "art/pathstore.h"
#include "engine/conversion.h"
#include "engine/settings.h"
#include "platform/platform.h"
#include "shell/document.h"
#include "shell/records.h"

namespace {

constexpr int kWidth = 4960, kHeight = 7016;

struct Page {
  int rowBytes = ((kWidth + 31) / 32) * 4;
  std::vector<uint8_t> bits = std::vector<uint8_t>(static_cast<size_t>(rowBytes) * kHeight, 0);
  void Set(int x, int y) {
    if (x < 0 || y < 0 || x >= kWidth || y >= kHeight) return;
    bits[static_cast<size_t>(y) * rowBytes + (x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7));
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
};

// One glyph in a cell of 44 x 64 pixels with its top-left corner at (x, y).
void Glyph(Page& p, int kind, double x, double y) {
  const double r = 4, pi = 3.14159265358979;
  switch (kind) {
    case 0:  // o
      p.Arc(x + 20, y + 42, 15, 18, 0, 2 * pi, r);
      break;
    case 1:  // l
      p.Line(x + 20, y + 4, x + 20, y + 60, r);
      break;
    case 2:  // e
      p.Arc(x + 20, y + 42, 15, 18, 0.4, 2 * pi, r);
      p.Line(x + 5, y + 42, x + 35, y + 42, r);
      break;
    case 3:  // n
      p.Line(x + 6, y + 24, x + 6, y + 60, r);
      p.Arc(x + 20, y + 40, 14, 14, pi, 2 * pi, r);
      p.Line(x + 34, y + 40, x + 34, y + 60, r);
      break;
    case 4:  // x
      p.Line(x + 6, y + 24, x + 34, y + 60, r);
      p.Line(x + 34, y + 24, x + 6, y + 60, r);
      break;
    case 5:  // v
      p.Line(x + 4, y + 24, x + 20, y + 60, r);
      p.Line(x + 36, y + 24, x + 20, y + 60, r);
      break;
    case 6:  // b
      p.Line(x + 6, y + 4, x + 6, y + 60, r);
      p.Arc(x + 20, y + 44, 14, 16, 0, 2 * pi, r);
      break;
    default:  // a filled block, as a bullet
      for (int yy = 30; yy < 56; ++yy)
        for (int xx = 8; xx < 32; ++xx) p.Set(static_cast<int>(x) + xx, static_cast<int>(y) + yy);
      break;
  }
}

const Page& ThePage() {
  static Page* page = [] {
    auto* p = new Page;
    uint32_t seed = 12345;
    auto next = [&seed] {
      seed = seed * 1103515245u + 12345u;
      return (seed >> 16) & 0x7FFF;
    };
    for (int line = 0; line < 70; ++line) {
      double y = 150 + line * 96;
      double x = 200;
      while (x < kWidth - 250) {
        if (next() % 7 == 0) {  // a word space
          x += 30;
          continue;
        }
        Glyph(*p, static_cast<int>(next() % 8), x, y);
        x += 48;
      }
    }
    if (const char* out = getenv("TESS_BENCH_PBM")) {
      if (FILE* f = fopen(out, "wb")) {
        fprintf(f, "P4\n%d %d\n", kWidth, kHeight);
        for (int yy = 0; yy < kHeight; ++yy) fwrite(&p->bits[static_cast<size_t>(yy) * p->rowBytes], 1, (kWidth + 7) / 8, f);
        fclose(f);
      }
    }
    return p;
  }();
  return *page;
}

void LoadPage() {
  const Page& page = ThePage();
  gImage->width = kWidth;
  gImage->height = kHeight;
  gImage->rowBytes = static_cast<int16_t>(page.rowBytes);
  gImage->rowBits = static_cast<int16_t>(page.rowBytes * 8);
  gImage->rowWords = static_cast<int16_t>(page.rowBytes / 2);
  gImage->bitsPerSample = 1;
  gImage->samplesPerPixel = 1;
  gImage->photometric = 0;
  gImage->resolutionX = gImage->resolutionY = 600;
  gImage->fileHandle = kNoFile;
  ComputeArtScale();
  if (!gWorkBits && !AllocWorkBits()) abort();
  memcpy(gWorkBits, page.bits.data(), page.bits.size());
}

void BM_OutlineA4Page(benchmark::State& state) {
  ResetRecords();
  SetBuiltInDefaults(gConvSettings);
  gConvSettings->methodFlags = Method::outline;
  *gConvSettingsEdit = *gConvSettings;
  CopyName(gPrefs->scratchFolder, TempFolder());
  ThePage();
  int paths = 0;
  for (auto _ : state) {
    state.PauseTiming();
    DeleteAllPaths();
    LoadPage();
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
BENCHMARK(BM_OutlineA4Page)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
