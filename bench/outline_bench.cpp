// Outline conversion of a synthetic 600-dpi A4 page (4960 x 7016 pixels) of
// text-like shapes: rings, bars, arches and diagonals in 12-point-sized
// glyphs, 70 lines of about 90 glyphs. Reports the wall time of a whole
// Convert (template copy, tracing, polygons, fitting, path store) and the
// process's peak resident memory.
//
//   outline_bench [--benchmark_...]
// With TESS_BENCH_PBM set to a file name, the page is also written there as
// a raw PBM, so that other tracers can be timed on the same input.
#include "bench/bench_page.h"

namespace {

constexpr int kWidth = 4960, kHeight = 7016;


// One glyph in a cell of 44 x 64 pixels with its top-left corner at (x, y).
void Glyph(BenchPage& p, int kind, double x, double y) {
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

const BenchPage& ThePage() {
  static BenchPage* page = [] {
    auto* p = new BenchPage(kWidth, kHeight, 600);
    BenchRandom next{12345u};
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
    if (const char* out = getenv("TESS_BENCH_PBM")) p->WritePbm(out);
    return p;
  }();
  return *page;
}


void BM_OutlineA4Page(benchmark::State& state) { RunConversions(state, ThePage(), Method::outline); }
BENCHMARK(BM_OutlineA4Page)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
