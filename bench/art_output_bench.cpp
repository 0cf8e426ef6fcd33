// Art output: saving a large art (10000 paths of six curves and a line each,
// the path store's maximum) as an EPS with the prolog, as DXF, SVG and PDF,
// and the PackBits compression of 600-dpi page rows. Reports the wall time of each
// save; the file sizes are shown as counters.
//
//   art_output_bench [--benchmark_...]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "art/pathstore.h"
#include "core/records.h"
#include "engine/settings.h"
#include "output/art_writer.h"
#include "platform/platform.h"
#include "raster/pixel_writers.h"

namespace {

void MakeArt() {
  ResetRecords();
  SetBuiltInDefaults(gConvSettings);
  gImage->width = 4960;
  gImage->height = 7016;
  gImage->rowBytes = static_cast<int16_t>(((4960 + 31) / 32) * 4);
  gImage->rowBits = static_cast<int16_t>(gImage->rowBytes * 8);
  gImage->resolutionX = gImage->resolutionY = 600;
  ComputeArtScale();
  ResetPathStore();
  for (int i = 0; i < 10000; ++i) {
    double x = 40 + (i % 100) * 48, y = 40 + (i / 100) * 68;
    penX = x;
    penY = y;
    BeginPath(PathPaint{});
    for (int k = 0; k < 6; ++k) {
      ctrl1X = x + k * 5 + 3;
      ctrl1Y = y - 10;
      ctrl2X = x + k * 5 + 6;
      ctrl2Y = y + 10;
      penX = x + (k + 1) * 5;
      penY = y + (k % 2) * 8;
      AddPathPoint(1);
    }
    penX = x;
    penY = y;
    AddPathPoint(0);
    PathRecord* r = &gPaths[gPathCount - 1];
    r->fillKind = kPaintProcess;
    r->fillColor[0] = static_cast<uint8_t>(i);
    r->fillColor[3] = 40;
    r->strokeKind = kPaintBlack;
    r->strokeColor[3] = 255;
    r->strokeWeight = static_cast<uint8_t>(i % 20);
  }
}

void Save(benchmark::State& state, int16_t format, int16_t preview) {
  MakeArt();
  gPrefs->outputFormat = format;
  gPrefs->previewKind = preview;
  std::string path = std::string(TempFolder()) + "tess_art_bench.out";
  for (auto _ : state) {
    if (!SaveArt(path.c_str(), 1).ok()) state.SkipWithError("save failed");
  }
  int16_t f = FileOpen(path.c_str(), kFileRead);
  state.counters["bytes"] = static_cast<double>(FileLength(f));
  FileClose(f);
  FileDelete(path.c_str());
  DeleteAllPaths();
}

void BM_SaveEps(benchmark::State& state) { Save(state, 3, 1); }
void BM_SaveDxf(benchmark::State& state) { Save(state, 5, 0); }
void BM_SaveSvg(benchmark::State& state) { Save(state, kFormatSvg, 0); }
void BM_SavePdf(benchmark::State& state) { Save(state, kFormatPdf, 0); }

void BM_PackBitsPageRows(benchmark::State& state) {
  // 7016 rows of 620 bytes: text-like runs of white with short black pieces.
  std::vector<uint8_t> row(620), out(row.size() * 3);
  for (size_t i = 0; i < row.size(); ++i) row[i] = (i % 23 < 3) ? static_cast<uint8_t>(0xF0 ^ i) : 0;
  int64_t bytes = 0;
  for (auto _ : state) {
    for (int y = 0; y < 7016; ++y) bytes += PackBits(row.data(), static_cast<int32_t>(row.size()), out.data());
  }
  benchmark::DoNotOptimize(bytes);
  state.SetBytesProcessed(state.iterations() * 7016 * static_cast<int64_t>(row.size()));
}

}  // namespace

BENCHMARK(BM_SaveEps)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveDxf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveSvg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SavePdf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PackBitsPageRows)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
