// The PNG reader, over libpng: gray of 1 to 16 bits, palette, RGB, gray and
// RGB with alpha, interlaced or not. Transparency (an alpha channel or a tRNS
// chunk) is composed over white at the file's own precision, then 16-bit
// samples keep their high byte. Gamma and color chunks are not applied.
#include <png.h>

#include <csetjmp>
#include <cstring>

#include "core/records.h"
#include "core/services.h"
#include "platform/platform.h"
#include "platform/string_ids.h"
#include "raster/open_image.h"
#include "raster/readers.h"

namespace {

// The state of one read. libpng leaves an error by a long jump back into
// DecodePng, so everything that must be freed lives here rather than on the
// stack.
struct PngState {
  png_structp png;
  png_infop info;
  uint8_t* image;  // every row of an interlaced image
  uint8_t* raw;    // one row as libpng delivers it
  bool outOfMemory;
  bool transparentColor;  // a tRNS chunk names one gray or RGB value
  png_color_16 trans;
  RowLanding landing;
};

PngState S;

// libpng allocates through the program's memory, so that the tests' leak
// and failure hooks see its blocks too.
png_voidp PngAlloc(png_structp, png_alloc_size_t size) {
  void* p = MemAllocPtr(size);
  if (!p) S.outOfMemory = true;
  return p;
}
void PngFree(png_structp, png_voidp p) { MemFreePtr(p); }
[[noreturn]] void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

void PngReadData(png_structp png, png_bytep data, size_t length) {
  if (length > 0x7FFFFFFF ||
      FileRead(gImage->fileHandle, data, static_cast<int32_t>(length)) != static_cast<int32_t>(length))
    png_error(png, "the file ends early");
}

// Lands row y of a direct-color image (gray, gray + alpha, RGB, RGBA at 8 or
// 16 bits, big-endian as the file holds them).
Status LandDirectRow(int32_t y, const uint8_t* raw, int channels, int depth) {
  RowLanding* l = &S.landing;
  int colors = channels >= 3 ? 3 : 1;
  bool alpha = channels == 2 || channels == 4;
  uint32_t max = depth == 16 ? 65535 : 255;
  uint8_t* out = l->row;
  for (int32_t x = 0; x < l->width; ++x) {
    uint32_t v[4];
    for (int c = 0; c < channels; ++c) {
      const uint8_t* p = raw + (static_cast<size_t>(x) * channels + c) * (depth / 8);
      v[c] = depth == 16 ? static_cast<uint32_t>(p[0] << 8 | p[1]) : p[0];
    }
    uint32_t a = alpha ? v[channels - 1] : max;
    if (S.transparentColor &&
        (colors == 1 ? v[0] == S.trans.gray
                     : v[0] == S.trans.red && v[1] == S.trans.green && v[2] == S.trans.blue))
      a = 0;
    for (int c = 0; c < colors; ++c) {
      uint32_t composed = OverWhite(v[c], a, max);
      out[x * colors + c] = static_cast<uint8_t>(depth == 16 ? composed >> 8 : composed);
    }
  }
  return LandSampleRow(l, y, out);
}

// Decodes the file; 0 on success, nonzero after a reported failure or a stop.
Status DecodePng() {
  if (setjmp(png_jmpbuf(S.png))) return Failed(S.outOfMemory ? kStrInsufficientMemory : kStrPngDamaged);
  png_set_read_fn(S.png, nullptr, PngReadData);
  png_read_info(S.png, S.info);
  png_uint_32 width = 0, height = 0;
  int depth = 0, colorType = 0, interlace = 0;
  png_get_IHDR(S.png, S.info, &width, &height, &depth, &colorType, &interlace, nullptr, nullptr);
  png_bytep transAlpha = nullptr;
  int transCount = 0;
  png_color_16p transColor = nullptr;
  if (!png_get_tRNS(S.png, S.info, &transAlpha, &transCount, &transColor)) transCount = 0;

  // Palettes and gray of up to 8 bits land through a color table; the rest
  // sample by sample.
  RowLanding* l = &S.landing;
  l->width = static_cast<int32_t>(width > 0x7FFFFFFF ? 0x7FFFFFFF : width);
  l->height = static_cast<int32_t>(height > 0x7FFFFFFF ? 0x7FFFFFFF : height);
  bool indexed = colorType == PNG_COLOR_TYPE_PALETTE || (colorType == PNG_COLOR_TYPE_GRAY && depth <= 8);
  if (colorType == PNG_COLOR_TYPE_PALETTE) {
    png_colorp palette = nullptr;
    int count = 0;
    if (!png_get_PLTE(S.png, S.info, &palette, &count)) png_error(S.png, "no palette");
    for (int i = 0; i < count && i < 256; ++i) {
      uint32_t a = i < transCount && transAlpha ? transAlpha[i] : 255;
      l->colors[i][0] = static_cast<uint8_t>(OverWhite(palette[i].red, a, 255));
      l->colors[i][1] = static_cast<uint8_t>(OverWhite(palette[i].green, a, 255));
      l->colors[i][2] = static_cast<uint8_t>(OverWhite(palette[i].blue, a, 255));
    }
    l->colorCount = count;
  } else if (indexed) {
    int levels = 1 << depth;
    for (int v = 0; v < levels; ++v) {
      uint8_t g = static_cast<uint8_t>(v * 255 / (levels - 1));
      if (transCount && transColor && transColor->gray == v) g = 255;
      memset(l->colors[v], g, 3);
    }
    l->colorCount = levels;
  } else {
    l->samples = colorType & PNG_COLOR_MASK_COLOR ? 3 : 1;
    S.transparentColor = transCount > 0 && transColor;
    if (S.transparentColor) S.trans = *transColor;
  }
  if (depth < 8) png_set_packing(S.png);  // one byte per index
  int passes = png_set_interlace_handling(S.png);
  png_read_update_info(S.png, S.info);
  int channels = png_get_channels(S.png, S.info);
  size_t rowBytes = png_get_rowbytes(S.png, S.info);

  png_uint_32 resX = 0, resY = 0;
  int unit = 0;
  if (png_get_pHYs(S.png, S.info, &resX, &resY, &unit) && unit == PNG_RESOLUTION_METER) {
    l->dpiX = DpiFromPixelsPerMetre(resX);
    l->dpiY = DpiFromPixelsPerMetre(resY);
  }
  if (Status s = LandingBegin(l); !s.ok()) return s;

  // An interlaced image is complete only after its last pass.
  if (passes > 1) {
    S.image = static_cast<uint8_t*>(MemAllocPtr(rowBytes * height));
    if (!S.image) return Failed(kStrInsufficientMemory);
    for (int pass = 0; pass < passes; ++pass)
      for (png_uint_32 y = 0; y < height; ++y) {
        png_read_row(S.png, S.image + rowBytes * y, nullptr);
        if (PollUserAbort()) return StopStatus();
      }
  } else {
    S.raw = static_cast<uint8_t*>(MemAllocPtr(rowBytes));
    if (!S.raw) return Failed(kStrInsufficientMemory);
  }
  for (int32_t y = 0; y < l->height; ++y) {
    uint8_t* raw = S.raw;
    if (S.image) raw = S.image + rowBytes * static_cast<size_t>(y);
    else png_read_row(S.png, raw, nullptr);
    Status landed = indexed ? LandIndexedRow(l, y, raw) : LandDirectRow(y, raw, channels, depth);
    if (!landed.ok()) return landed;
  }
  // What follows the last row (text, time, the end chunk) is not needed.
  return Done();
}

}  // namespace

Status ReadPng() {
  memset(&S, 0, sizeof S);
  if (FileSeek(gImage->fileHandle, 0, kSeekSet) != 0) return Failed(kStrPngDamaged);
  S.png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning, nullptr, PngAlloc, PngFree);
  S.info = S.png ? png_create_info_struct(S.png) : nullptr;
  Status status = S.info ? DecodePng() : Failed(kStrInsufficientMemory);
  png_destroy_read_struct(S.png ? &S.png : nullptr, S.info ? &S.info : nullptr, nullptr);
  MemFreePtr(S.image);
  MemFreePtr(S.raw);
  LandingEnd(&S.landing);
  memset(&S, 0, sizeof S);
  return status;
}
