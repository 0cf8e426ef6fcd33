// Centerline and Line recognition of a synthetic 300-dpi A4 form (2480 x 3508
// pixels): a ruled table of 3-pixel rules with 40 rows of 6 cells, each cell
// holding a few pen-drawn glyphs (strokes about 5 pixels wide), and a few
// filled blocks. Reports the wall time of a whole Convert per method set, the
// number of paths, and the process's peak resident memory.
//
//   centerline_bench [--benchmark_...]
#include "bench/bench_page.h"

namespace {

constexpr int kWidth = 2480, kHeight = 3508;


// A glyph about 30 x 40 pixels with its top-left corner at (x, y).
void Glyph(BenchPage& p, int kind, double x, double y) {
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

const BenchPage& ThePage() {
  static BenchPage* page = [] {
    auto* p = new BenchPage(kWidth, kHeight, 300);
    BenchRandom next{4711u};
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


void RunMethods(benchmark::State& state, uint8_t methods) {
  RunConversions(state, ThePage(), static_cast<uint8_t>(methods | Method::uniformWeight));
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
