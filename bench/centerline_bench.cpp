// Centerline and Line recognition of a synthetic 300-dpi A4 form (2480 x 3508
// pixels): a ruled table of 3-pixel rules with 40 rows of 6 cells, each cell
// holding a few pen-drawn glyphs (strokes about 5 pixels wide), and a few
// filled blocks. Reports the wall time of a whole Convert per method set, the
// number of paths, and the process's peak resident memory.
//
//   centerline_bench [--benchmark_...]
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
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

constexpr int kWidth = 2480, kHeight = 3508;

struct Page {
  int rowBytes = ((kWidth + 31) / 32) * 4;
  std::vector<uint8_t> bits = std::vector<uint8_t>(static_cast<size_t>(rowBytes) * kHeight, 0);
  void Set(int x, int y) {
    if (x < 0 || y < 0 || x >= kWidth || y >= kHeight) return;
    bits[static_cast<size_t>(y) * rowBytes + (x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7));
  }
  void Rect(int x0, int y0, int x1, int y1) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) Set(x, y);
  }
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

// A glyph about 30 x 40 pixels with its top-left corner at (x, y).
void Glyph(Page& p, int kind, double x, double y) {
  const double r = 2.5, pi = 3.14159265358979;
  switch (kind) {
    case 0:
      p.Arc(x + 14, y + 26, 11, 13, 0, 2 * pi, r);
      break;
    case 1:
      p.Line(x + 14, y + 2, x + 14, y + 40, r);
      break;
    case 2:
      p.Line(x + 2, y + 14, x + 26, y + 40, r);
      p.Line(x + 26, y + 14, x + 2, y + 40, r);
      break;
    case 3:
      p.Line(x + 4, y + 14, x + 4, y + 40, r);
      p.Arc(x + 14, y + 26, 10, 10, pi, 2 * pi, r);
      p.Line(x + 24, y + 26, x + 24, y + 40, r);
      break;
    default:
      p.Line(x + 2, y + 14, x + 14, y + 40, r);
      p.Line(x + 26, y + 14, x + 14, y + 40, r);
      break;
  }
}

const Page& ThePage() {
  static Page* page = [] {
    auto* p = new Page;
    uint32_t seed = 4711;
    auto next = [&seed] {
      seed = seed * 1103515245u + 12345u;
      return (seed >> 16) & 0x7FFF;
    };
    const int left = 120, top = 200, cellW = 370, cellH = 76, cols = 6, rows = 40;
    for (int row = 0; row <= rows; ++row) p->Rect(left, top + row * cellH, left + cols * cellW + 3, top + row * cellH + 3);
    for (int col = 0; col <= cols; ++col) p->Rect(left + col * cellW, top, left + col * cellW + 3, top + rows * cellH + 3);
    for (int row = 0; row < rows; ++row)
      for (int col = 0; col < cols; ++col) {
        int n = static_cast<int>(next() % 9);
        for (int i = 0; i < n; ++i)
          Glyph(*p, static_cast<int>(next() % 5), left + col * cellW + 20 + i * 38, top + row * cellH + 16);
        if (next() % 23 == 0) p->Rect(left + col * cellW + 300, top + row * cellH + 14, left + col * cellW + 350,
                                      top + row * cellH + 64);
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
  gImage->resolutionX = gImage->resolutionY = 300;
  gImage->fileHandle = kNoFile;
  ComputeArtScale();
  if (!gWorkBits && !AllocWorkBits()) abort();
  memcpy(gWorkBits, page.bits.data(), page.bits.size());
}

void RunMethods(benchmark::State& state, uint8_t methods) {
  ResetRecords();
  SetBuiltInDefaults(gConvSettings);
  gConvSettings->methodFlags = static_cast<uint8_t>(methods | Method::uniformWeight);
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

void BM_Centerline(benchmark::State& state) { RunMethods(state, Method::centerline); }
void BM_LineRecognition(benchmark::State& state) { RunMethods(state, Method::lineRecognition); }
void BM_OutlineCenterline(benchmark::State& state) { RunMethods(state, Method::outline | Method::centerline); }
void BM_OutlineLines(benchmark::State& state) { RunMethods(state, Method::outline | Method::lineRecognition); }
void BM_CenterlineLines(benchmark::State& state) { RunMethods(state, Method::centerline | Method::lineRecognition); }
void BM_AllThree(benchmark::State& state) {
  RunMethods(state, Method::outline | Method::centerline | Method::lineRecognition);
}
BENCHMARK(BM_Centerline)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LineRecognition)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_OutlineCenterline)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_OutlineLines)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_CenterlineLines)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_AllThree)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
