// A conversion set up by hand for the tracer, polygon builder and fitter
// tests: the work memory cut into its four areas as the driver cuts it, a
// mask bitmap and a template copy of the working bitmap, all freed again.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "art/pathstore.h"
#include "core/records.h"
#include "engine/conversion.h"
#include "engine/fitter.h"
#include "engine/polygon.h"
#include "engine/settings.h"
#include "engine/tracer.h"
#include "tests/support/support.h"

class OutlineTest : public TessTest {
 protected:
  void TearDown() override {
    EndConversion();
    DeleteAllPaths();
    TessTest::TearDown();
  }

  // Cuts a work buffer like the driver; `chainBytes` > 0 shrinks the chain
  // area (to force the overflow into "edgearr").
  void BeginConversion(int32_t chainBytes = 0, int32_t pointBytes = 0, int32_t edgeBytes = 0) {
    int32_t b = (65535 - gImage->rowBytes) / 256 * 256;
    work_.assign(static_cast<size_t>(gImage->rowBytes + b), 0);
    workBuffer = work_.data();
    workAreaSize = b;
    rowBuffer = workBuffer;
    edgeListArea = rowBuffer + gImage->rowBytes;
    edgeListSize = edgeBytes ? edgeBytes : b / 8;
    pointArea = edgeListArea + b / 8;
    pointAreaSize = pointBytes ? pointBytes : 7 * (b / 16);
    chainArea = pointArea + 7 * (b / 16);
    chainAreaSize = chainBytes ? chainBytes : b - b / 8 - 7 * (b / 16);
    size_t bytes = BitmapBlockBytes();
    mask_.assign(bytes, 0);
    template_.assign(bytes, 0);
    maskBits = mask_.data() + gImage->rowBytes;
    templateBits = template_.data() + gImage->rowBytes;
    memcpy(templateBits, gWorkBits, static_cast<size_t>(gImage->rowBytes) * gImage->height);
    templateOnDisk = 0;
    lowMemoryMode = 0;
    tracingMode = 0;
    colorMode = 0;
    for (int16_t& h : scratchHandles) h = kNoFile;
    ComputeFittingParameters();
    lastShownRow = 9999;
  }

  void EndConversion() {
    DeleteScratchStores();
    workBuffer = rowBuffer = edgeListArea = pointArea = chainArea = nullptr;
    maskBits = templateBits = nullptr;
    tracingMode = 0;
  }

  // The codes of the current chain, read through the chain reader.
  std::vector<int> ChainCodes() {
    std::vector<int> codes;
    for (int32_t i = 0; i < chainCodes; ++i) codes.push_back(ChainByte(kChainHeader + i));
    return codes;
  }

  std::vector<VertexRecord> Vertices() {
    std::vector<VertexRecord> v;
    for (int32_t i = 0;; ++i) {
      VertexRecord r = GetVertex(i);
      if (r.x < 0) break;
      v.push_back(r);
    }
    return v;
  }

  // Runs the outline loop of the driver over the working bitmap.
  void OutlineAll() {
    ASSERT_TRUE(ResetPathStore().ok());
    StartObjectSearch();
    int noise = NoiseThreshold(gConvSettings);
    for (;;) {
      int16_t length = TraceNextObject();
      if (length == 0) break;
      if (length > noise + 4) {
        BuildPolygon();
        ComputeCornerAngles();
        FitObject();
      }
      RestoreObjectArea();
    }
  }

  std::vector<uint8_t> work_, mask_, template_;
};

// The point words of path `index`.
inline std::vector<int16_t> PathWords(int index) {
  const PathRecord& r = gPaths[index];
  std::vector<int16_t> w(static_cast<size_t>(r.pointCount));
  if (r.pointCount) memcpy(w.data(), MemLock(r.points), w.size() * 2);
  MemUnlock(r.points);
  return w;
}

// Fills the paths of the store (curves flattened) into a bitmap of the
// image's size with the even-odd rule, sampling pixel centres.
inline std::vector<uint8_t> RasterizePaths(int width, int height) {
  std::vector<uint8_t> out(static_cast<size_t>(width) * height, 0);
  double s = gArtScale;
  for (int p = 0; p < gPathCount; ++p) {
    std::vector<int16_t> w = PathWords(p);
    std::vector<std::pair<double, double>> pts;
    size_t i = 0;
    double px = (w[0] & 0x7FFF) / s, py = (w[1] & 0x7FFF) / s;
    pts.push_back({px, py});
    i = 2;
    bool curveNext = w[0] & 0x8000;
    while (i + 1 < w.size()) {
      if (curveNext) {
        double c1x = w[i] / s, c1y = w[i + 1] / s, c2x = w[i + 2] / s, c2y = w[i + 3] / s;
        double x = (w[i + 4] & 0x7FFF) / s, y = (w[i + 5] & 0x7FFF) / s;
        for (int k = 1; k <= 16; ++k) {
          double t = k / 16.0, u = 1 - t;
          pts.push_back({u * u * u * px + 3 * t * u * u * c1x + 3 * t * t * u * c2x + t * t * t * x,
                         u * u * u * py + 3 * t * u * u * c1y + 3 * t * t * u * c2y + t * t * t * y});
        }
        curveNext = w[i + 4] & 0x8000;
        px = x;
        py = y;
        i += 6;
      } else {
        px = (w[i] & 0x7FFF) / s;
        py = (w[i + 1] & 0x7FFF) / s;
        pts.push_back({px, py});
        curveNext = w[i] & 0x8000;
        i += 2;
      }
    }
    bool white = gPaths[p].fillKind == kPaintWhite;
    for (int y = 0; y < height; ++y) {
      double cy = y + 0.5;
      std::vector<double> xs;
      for (size_t k = 0; k + 1 <= pts.size(); ++k) {
        auto a = pts[k], b = pts[(k + 1) % pts.size()];
        if ((a.second <= cy) != (b.second <= cy)) xs.push_back(a.first + (cy - a.second) * (b.first - a.first) / (b.second - a.second));
      }
      std::sort(xs.begin(), xs.end());
      for (size_t k = 0; k + 1 < xs.size(); k += 2)
        for (int x = 0; x < width; ++x)
          if (x + 0.5 >= xs[k] && x + 0.5 < xs[k + 1]) out[static_cast<size_t>(y) * width + x] = white ? 0 : 1;
    }
  }
  return out;
}
