// The JPEG reader, over libjpeg: gray, YCbCr and RGB (as RGB), CMYK and
// YCCK (as CMYK ink), baseline, progressive or arithmetic-coded. Adobe's
// files store CMYK inverted (0 is full ink); a file with Adobe's marker is
// turned back to ink.
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

#include "core/records.h"
#include "platform/platform.h"
#include "platform/string_ids.h"
#include "raster/open_image.h"
#include "raster/readers.h"

namespace {

constexpr int kInputBytes = 4096;

struct JpegErrors {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};

// The state of one read. libjpeg leaves an error by a long jump back into
// DecodeJpeg, so everything that must be freed lives here.
struct JpegState {
  jpeg_decompress_struct cinfo;
  JpegErrors errors;
  jpeg_source_mgr source;
  uint8_t* input;  // kInputBytes of the file
  RowLanding landing;
};

JpegState S;

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) { longjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump, 1); }
void JpegOutputMessage(j_common_ptr) {}

void SourceInit(j_decompress_ptr) {}
void SourceTerm(j_decompress_ptr) {}

// A file that ends before the image does is refused (libjpeg would
// otherwise fill the rest with gray).
boolean SourceFill(j_decompress_ptr cinfo) {
  int32_t n = FileRead(gImage->fileHandle, S.input, kInputBytes);
  if (n <= 0) ERREXIT(cinfo, JERR_INPUT_EOF);
  cinfo->src->next_input_byte = S.input;
  cinfo->src->bytes_in_buffer = static_cast<size_t>(n);
  return TRUE;
}

void SourceSkip(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  size_t n = static_cast<size_t>(count);
  while (n > cinfo->src->bytes_in_buffer) {
    n -= cinfo->src->bytes_in_buffer;
    SourceFill(cinfo);
  }
  cinfo->src->next_input_byte += n;
  cinfo->src->bytes_in_buffer -= n;
}

// Errors that mean "a kind of JPEG this build cannot decode" rather than
// "broken data".
bool Unsupported(int code) {
  return code == JERR_BAD_PRECISION || code == JERR_CONVERSION_NOTIMPL || code == JERR_NOT_COMPILED ||
         code == JERR_ARITH_NOTIMPL || code == JERR_BAD_J_COLORSPACE;
}

Status DecodeJpeg() {
  jpeg_decompress_struct* c = &S.cinfo;
  if (setjmp(S.errors.jump)) {
    int code = S.errors.mgr.msg_code;
    return Failed(code == JERR_OUT_OF_MEMORY ? kStrInsufficientMemory
                  : Unsupported(code)        ? kStrJpegUnsupported
                                             : kStrJpegDamaged);
  }
  jpeg_create_decompress(c);
  S.source.init_source = SourceInit;
  S.source.fill_input_buffer = SourceFill;
  S.source.skip_input_data = SourceSkip;
  S.source.resync_to_restart = jpeg_resync_to_restart;
  S.source.term_source = SourceTerm;
  c->src = &S.source;
  jpeg_read_header(c, TRUE);

  RowLanding* l = &S.landing;
  bool inverted = false;
  switch (c->jpeg_color_space) {
    case JCS_GRAYSCALE:
      c->out_color_space = JCS_GRAYSCALE;
      l->samples = 1;
      break;
    case JCS_YCbCr:
    case JCS_RGB:
      c->out_color_space = JCS_RGB;
      l->samples = 3;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      c->out_color_space = JCS_CMYK;
      l->samples = 4;
      inverted = c->saw_Adobe_marker;
      break;
    default:
      return Failed(kStrJpegUnsupported);
  }
  jpeg_start_decompress(c);
  if (c->output_components != l->samples) return Failed(kStrJpegUnsupported);
  l->width = static_cast<int32_t>(c->output_width);
  l->height = static_cast<int32_t>(c->output_height);
  if (c->saw_JFIF_marker && (c->density_unit == 1 || c->density_unit == 2)) {
    double perInch = c->density_unit == 2 ? 2.54 : 1.0;  // 2: dots per centimetre
    l->dpiX = c->X_density * perInch;
    l->dpiY = c->Y_density * perInch;
  }
  if (Status s = LandingBegin(l); !s.ok()) return s;
  while (c->output_scanline < c->output_height) {
    int32_t y = static_cast<int32_t>(c->output_scanline);
    JSAMPROW row = l->row;
    if (jpeg_read_scanlines(c, &row, 1) != 1) return Failed(kStrJpegDamaged);
    if (inverted)
      for (int32_t i = 0; i < l->width * 4; ++i) row[i] = static_cast<uint8_t>(255 - row[i]);
    if (Status s = LandSampleRow(l, y, row); !s.ok()) return s;
  }
  // What follows the last row is not needed: the decoder is simply
  // destroyed.
  return Done();
}

}  // namespace

Status ReadJpeg() {
  memset(&S, 0, sizeof S);
  if (FileSeek(gImage->fileHandle, 0, kSeekSet) != 0) return Failed(kStrJpegDamaged);
  S.input = static_cast<uint8_t*>(MemAllocPtr(kInputBytes));
  if (!S.input) return Failed(kStrInsufficientMemory);
  S.cinfo.err = jpeg_std_error(&S.errors.mgr);
  S.errors.mgr.error_exit = JpegErrorExit;
  S.errors.mgr.output_message = JpegOutputMessage;
  Status status = DecodeJpeg();
  jpeg_destroy_decompress(&S.cinfo);  // also after a failed or no creation
  MemFreePtr(S.input);
  LandingEnd(&S.landing);
  memset(&S, 0, sizeof S);
  return status;
}
