// The GIF reader (over giflib: the first image of the file, in its own
// size, interlaced or not, its transparent index composed over white) and
// the WebP reader (over libwebp: a still image, lossy or lossless, alpha
// composed over white).
#include <gif_lib.h>
#include <webp/decode.h>

#include <cstring>

#include "core/records.h"
#include "platform/platform.h"
#include "platform/string_ids.h"
#include "raster/open_image.h"
#include "raster/readers.h"

namespace {

int GifInput(GifFileType*, GifByteType* bytes, int count) {
  int32_t n = FileRead(gImage->fileHandle, bytes, count);
  return n > 0 ? n : 0;
}

// Skips the records before the first image, keeping the transparent index
// of a graphic control block; false when the file holds no image or ends.
bool FindFirstImage(GifFileType* gif, int* transparent) {
  for (;;) {
    GifRecordType type;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR) return false;
    if (type == IMAGE_DESC_RECORD_TYPE) return DGifGetImageDesc(gif) != GIF_ERROR;
    if (type != EXTENSION_RECORD_TYPE) return false;  // the end, or no record at all
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
    if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
      GraphicsControlBlock control;
      if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) *transparent = control.TransparentColor;
    }
    while (block)
      if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
  }
}

// The rows of the first image, in the order the file holds them.
Status ReadGifRows(GifFileType* gif, RowLanding* l) {
  // Interlaced rows come in four passes: every 8th from 0, every 8th from 4,
  // every 4th from 2, every 2nd from 1.
  static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
  bool interlaced = gif->Image.Interlace;
  for (int pass = 0; pass < (interlaced ? 4 : 1); ++pass)
    for (int32_t y = interlaced ? kStart[pass] : 0; y < l->height; y += interlaced ? kStep[pass] : 1) {
      if (DGifGetLine(gif, l->row, l->width) == GIF_ERROR) return Failed(kStrGifDamaged);
      if (Status s = LandIndexedRow(l, y, l->row); !s.ok()) return s;
    }
  return Done();
}

}  // namespace

Status ReadGif() {
  if (FileSeek(gImage->fileHandle, 0, kSeekSet) != 0) return Failed(kStrGifDamaged);
  int error = 0;
  GifFileType* gif = DGifOpen(nullptr, GifInput, &error);
  if (!gif) return Failed(error == D_GIF_ERR_NOT_ENOUGH_MEM ? kStrInsufficientMemory : kStrGifDamaged);
  int transparent = NO_TRANSPARENT_COLOR;
  RowLanding landing{};
  Status status;
  if (!FindFirstImage(gif, &transparent)) {
    status = Failed(gif->Error == D_GIF_ERR_NOT_ENOUGH_MEM ? kStrInsufficientMemory : kStrGifDamaged);
  } else {
    const GifImageDesc& image = gif->Image;
    const ColorMapObject* map = image.ColorMap ? image.ColorMap : gif->SColorMap;
    if (!map || image.Width <= 0 || image.Height <= 0) {
      status = Failed(kStrGifDamaged);
    } else {
      int count = map->ColorCount < 256 ? map->ColorCount : 256;
      for (int i = 0; i < count; ++i) {
        uint8_t* c = landing.colors[i];
        c[0] = map->Colors[i].Red;
        c[1] = map->Colors[i].Green;
        c[2] = map->Colors[i].Blue;
        if (i == transparent) memset(c, 255, 3);
      }
      landing.colorCount = count;
      landing.width = image.Width;
      landing.height = image.Height;
      status = LandingBegin(&landing);
      if (status.ok()) status = ReadGifRows(gif, &landing);
    }
  }
  DGifCloseFile(gif, &error);
  LandingEnd(&landing);
  return status;
}

Status ReadWebp() {
  int32_t length = FileLength(gImage->fileHandle);
  if (length <= 0 || FileSeek(gImage->fileHandle, 0, kSeekSet) != 0) return Failed(kStrWebpDamaged);
  uint8_t* data = static_cast<uint8_t*>(MemAllocPtr(static_cast<size_t>(length)));
  if (!data) return Failed(kStrInsufficientMemory);
  RowLanding landing{};
  uint8_t* pixels = nullptr;
  WebPBitstreamFeatures features;
  Status status;
  if (FileRead(gImage->fileHandle, data, length) != length ||
      WebPGetFeatures(data, static_cast<size_t>(length), &features) != VP8_STATUS_OK) {
    status = Failed(kStrWebpDamaged);
  } else if (features.has_animation) {
    status = Failed(kStrWebpUnsupported);
  } else {
    landing.width = features.width;
    landing.height = features.height;
    landing.samples = 3;
    status = LandingBegin(&landing);
  }
  int channels = features.has_alpha ? 4 : 3;
  size_t stride = static_cast<size_t>(landing.width) * channels;
  if (status.ok()) {
    pixels = static_cast<uint8_t*>(MemAllocPtr(stride * landing.height));
    if (!pixels) status = Failed(kStrInsufficientMemory);
  }
  if (status.ok()) {
    size_t size = stride * landing.height;
    uint8_t* decoded =
        channels == 4
            ? WebPDecodeRGBAInto(data, static_cast<size_t>(length), pixels, size, static_cast<int>(stride))
            : WebPDecodeRGBInto(data, static_cast<size_t>(length), pixels, size, static_cast<int>(stride));
    if (!decoded) status = Failed(kStrWebpDamaged);
  }
  for (int32_t y = 0; status.ok() && y < landing.height; ++y) {
    const uint8_t* p = pixels + stride * y;
    uint8_t* out = landing.row;
    for (int32_t x = 0; x < landing.width; ++x)
      for (int c = 0; c < 3; ++c)
        out[3 * x + c] = static_cast<uint8_t>(channels == 4 ? OverWhite(p[4 * x + c], p[4 * x + 3], 255) : p[3 * x + c]);
    status = LandSampleRow(&landing, y, out);
  }
  MemFreePtr(pixels);
  MemFreePtr(data);
  LandingEnd(&landing);
  return status;
}
