// Opening images: the whole open sequence (detection, decoding, polarity,
// backup plane or sample store) of A4 pages written as TIFF, timed per open,
// with the process's peak resident memory as a counter.
//
//   image_input_bench [--benchmark_...]
// The pages are made in the system's temporary folder when the program
// starts: a 600-dpi one-bit page (uncompressed and PackBits) and a 300-dpi
// RGB page (uncompressed, and LZW with differencing when libtiff's tiffcp is
// on the PATH).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/records.h"
#include "platform/platform.h"
#include "raster/open_image.h"
#include "shell/document.h"
#include "shell/startup.h"

namespace {

std::string Folder() { return std::string(TempFolder()) + "tess-image-input-bench/"; }

void Put16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>(v >> 8);
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}

// A little-endian TIFF with one strip of `data` right after the header.
std::string Tiff(int width, int height, int spp, int compression, const std::string& data) {
  std::string s = "II";
  Put16(s, 42);
  Put32(s, 8 + static_cast<uint32_t>(data.size()));
  s += data;
  const uint32_t e[][3] = {{256, 4, static_cast<uint32_t>(width)}, {257, 4, static_cast<uint32_t>(height)},
                           {258, 3, spp == 1 ? 1u : 8u}, {259, 3, static_cast<uint32_t>(compression)},
                           {262, 3, spp == 1 ? 0u : 2u}, {273, 4, 8}, {277, 3, static_cast<uint32_t>(spp)},
                           {279, 4, static_cast<uint32_t>(data.size())}};
  Put16(s, 8);
  for (const auto& x : e) {
    Put16(s, x[0]);
    Put16(s, x[1]);
    Put32(s, 1);
    Put32(s, x[2]);
  }
  Put32(s, 0);
  return s;
}

// PackBits of one row: runs of three or more repeat, the rest literal.
void Pack(const uint8_t* row, int n, std::string& out) {
  int i = 0;
  while (i < n) {
    int run = 1;
    while (i + run < n && run < 128 && row[i + run] == row[i]) ++run;
    if (run >= 3) {
      out += static_cast<char>(1 - run);
      out += static_cast<char>(row[i]);
      i += run;
      continue;
    }
    int start = i, lit = 0;
    while (i < n && lit < 128 && !(i + 2 < n && row[i] == row[i + 1] && row[i] == row[i + 2])) ++i, ++lit;
    out += static_cast<char>(lit - 1);
    out.append(reinterpret_cast<const char*>(row + start), lit);
  }
}

void Write(const std::string& name, const std::string& bytes) {
  FILE* f = fopen((Folder() + name).c_str(), "wb");
  if (!f) return;
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

void MakePages() {
  MakeFolder(Folder().c_str());
  // One-bit, 600 dpi: text-like bars and blocks.
  const int w = 4960, h = 7016, rowBytes = w / 8;
  std::vector<uint8_t> page(static_cast<size_t>(rowBytes) * h, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if ((y % 100 < 60) && (x % 50 < 30) && ((x / 50 + y / 100) % 3 != 0))
        page[static_cast<size_t>(y) * rowBytes + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  Write("bw-none.tif", Tiff(w, h, 1, 1, std::string(page.begin(), page.end())));
  std::string packed;
  for (int y = 0; y < h; ++y) Pack(page.data() + static_cast<size_t>(y) * rowBytes, rowBytes, packed);
  Write("bw-packbits.tif", Tiff(w, h, 1, 32773, packed));
  // RGB, 300 dpi: smooth gradients.
  const int cw = 2480, ch = 3508;
  std::string rgb(static_cast<size_t>(cw) * ch * 3, '\0');
  for (int y = 0; y < ch; ++y)
    for (int x = 0; x < cw; ++x) {
      size_t i = (static_cast<size_t>(y) * cw + x) * 3;
      rgb[i] = static_cast<char>(x / 10);
      rgb[i + 1] = static_cast<char>(y / 14);
      rgb[i + 2] = static_cast<char>((x + y) / 24);
    }
  Write("rgb-none.tif", Tiff(cw, ch, 3, 1, rgb));
  std::string cmd = "tiffcp -c lzw:2 '" + Folder() + "rgb-none.tif' '" + Folder() + "rgb-lzw.tif' 2>/dev/null";
  if (system(cmd.c_str()) != 0) remove((Folder() + "rgb-lzw.tif").c_str());
}

void Open(benchmark::State& state, const char* name) {
  std::string path = Folder() + name;
  if (!FileExists(path.c_str())) {
    state.SkipWithError("page not made");
    return;
  }
  for (auto _ : state) {
    CopyName(gImage->path, path.c_str());
    CopyName(gImage->docName, path.c_str());
    gImage->sourceType = static_cast<int16_t>(SourceTypeFromName(name));
    if (!OpenDocument(nullptr).ok()) state.SkipWithError("open failed");
    CloseDocument();
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_OpenBilevelNone(benchmark::State& s) { Open(s, "bw-none.tif"); }
void BM_OpenBilevelPackBits(benchmark::State& s) { Open(s, "bw-packbits.tif"); }
void BM_OpenRgbNone(benchmark::State& s) { Open(s, "rgb-none.tif"); }
void BM_OpenRgbLzwPredictor(benchmark::State& s) { Open(s, "rgb-lzw.tif"); }
BENCHMARK(BM_OpenBilevelNone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenBilevelPackBits)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenRgbNone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenRgbLzwPredictor)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  StartRecords();
  MakePages();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::string cmd = "rm -rf '" + Folder() + "'";
  return system(cmd.c_str()) == 0 ? 0 : 1;
}
