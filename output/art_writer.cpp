// The vector-art document writer: SaveArt, the page scale, the EPS header
// with its prolog and setup, the trailer, and the DOS EPS binary header that
// wraps a TIFF preview.
#include "output/art_writer.h"

#include <cstdio>
#include <cstring>

#include "art/pathstore.h"
#include "core/records.h"
#include "engine/conversion.h"
#include "engine/separation.h"
#include "engine/settings.h"
#include "output/stream.h"
#include "output/svg_pdf_writers.h"
#include "platform/platform.h"
#include "platform/string_ids.h"
#include "raster/pixel_writers.h"

int32_t gPageWidth = 0;
int32_t gPageHeight = 0;
int16_t gEffectivePreview = 0;
MetafileWriter gMetafileWriter = {nullptr, nullptr, nullptr};
int32_t gPostScriptStart = 0;
int32_t gPostScriptEnd = 0;

namespace {

const uint8_t kProlog[] = {
#include "prolog.inc"
};

bool gPrologUnavailable = false;
bool gPrologLoaded = false;

int16_t FormatCode() { return gPrefs->outputFormat; }

void Line(const char* text) { OutLine(text); }

// Copies a name without its trailing blanks.
void TrimmedName(const char* name, char* out, size_t size) {
  size_t n = strnlen(name, size - 1);
  while (n > 0 && name[n - 1] == ' ') --n;
  memcpy(out, name, n);
  out[n] = 0;
}

void PutLittle32(uint8_t* p, int32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
}

}  // namespace

const uint8_t* PrologBytes() { return kProlog; }
int32_t PrologSize() { return static_cast<int32_t>(sizeof kProlog); }
void SetPrologUnavailable(bool unavailable) { gPrologUnavailable = unavailable; }

void FormatCreationDate(const struct tm& when, char* text, int size) {
  int hour = when.tm_hour;
  const char* half = hour < 12 ? "AM" : "PM";
  int shown = hour % 12 == 0 ? 12 : hour % 12;
  snprintf(text, static_cast<size_t>(size), "%%%%CreationDate: (%d/%d/%d) (%d:%02d %s)", when.tm_mon + 1,
           when.tm_mday, when.tm_year + 1900, shown, when.tm_min, half);
}

void ComputePageScale() {
  double rx = gImage->resolutionX > 0 ? gImage->resolutionX : 72;
  double ry = gImage->resolutionY > 0 ? gImage->resolutionY : 72;
  double sx = 72 / rx, sy = 72 / ry;
  double limit = FormatCode() <= kFormatEps3 ? 1296 : 72000;
  double padded = gImage->rowBits > 0 ? gImage->rowBits : 1;
  double height = gImage->height > 0 ? gImage->height : 1;
  if (limit / padded < sx) {
    sy = sy * (limit / padded) / sx;
    sx = limit / padded;
  }
  if (limit / height < sy) {
    sx = sx * (limit / height) / sy;
    sy = limit / height;
  }
  double f = gArtScale > 0 ? gArtScale : 1;
  gOutScaleX = static_cast<int32_t>(sx * 655360 / f);
  gOutScaleY = static_cast<int32_t>(sy * 655360 / f);
  gPageWidth = static_cast<int32_t>(padded * sx + 0.9);
  gPageHeight = static_cast<int32_t>(height * sy + 0.9);
}

void WriteDosEpsHeader() {
  int16_t file = OutFile();
  if (file == kNoFile) return;
  uint8_t header[30] = {0xC5, 0xD0, 0xD3, 0xC6};
  PutLittle32(header + 4, gPostScriptStart);
  PutLittle32(header + 8, gPostScriptEnd - gPostScriptStart);
  PutLittle32(header + 12, 0);
  PutLittle32(header + 16, 0);
  PutLittle32(header + 20, gTiffStart);
  PutLittle32(header + 24, gTiffEnd - gTiffStart);
  header[28] = header[29] = 0xFF;
  FileSeek(file, 0, kSeekSet);
  WriteChecked(file, 30, header);
}

void WriteArtHeader() {
  int16_t code = FormatCode();
  bool binaryHeader = code < kFormatMetafile && gEffectivePreview >= 4;
  gPrologLoaded = false;
  if (binaryHeader) {
    gPostScriptStart = gPostScriptEnd = 0;
    gTiffStart = gTiffEnd = 0;
    WriteDosEpsHeader();
    gPostScriptStart = 30;
  }
  ComputePageScale();
  if ((code >= kFormatMetafile && code <= kFormatRetired) || code == kFormatSvg || code == kFormatPdf) return;

  char text[kNameBufferSize * 2 + 64];
  OutString("%!PS-Quenda-");
  OutString(code < kFormatEps3 ? "2.0" : "3.0");
  if (gEffectivePreview != 0) OutString(code < kFormatEps3 ? " EPSF-1.2" : " EPSF-3.0");
  Line("\r%%Creator:Quenda Tessary\xAA 4.0");

  char user[kNameBufferSize], organization[kNameBufferSize];
  TrimmedName(gDocument->userName, user, sizeof user);
  TrimmedName(gDocument->userOrganization, organization, sizeof organization);
  snprintf(text, sizeof text, "%%%%For: (%s) (%s)", user, organization);
  Line(text);
  snprintf(text, sizeof text, "%%%%Title: (%s)", gImage->docName);
  Line(text);
  time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  FormatCreationDate(local, text, sizeof text);
  Line(text);
  snprintf(text, sizeof text, "%%%%BoundingBox:0 0 %d %d", gPageWidth, gPageHeight);
  Line(text);

  WriteColorComments();

  bool preview = gEffectivePreview != 0;
  switch (code) {
    case kFormatEps11:
      Line("%%DocumentProcSets: Quenda_Vexmoor_1.1 0 0");
      break;
    case kFormatEps88: {
      static const char* const kSets[] = {"Quenda_packedarray 1.0 0", "Quenda_cmykcolor 1.1 0",
                                          "Quenda_cshow 1.1 0", "Quenda_customcolor 1.0 0",
                                          "Quenda_Vexmoor88 1.19 0"};
      for (const char* set : kSets) {
        snprintf(text, sizeof text, "%%%%DocumentProcSets: %s", set);
        Line(text);
        if (preview) {
          snprintf(text, sizeof text, "%%%%DocumentSuppliedProcSets: %s", set);
          Line(text);
        }
      }
      break;
    }
    case kFormatEps3:
      Line(preview ? "%%DocumentSuppliedResources: procset Quenda_packedarray 2.0 0"
                   : "%%DocumentNeededResources: procset Quenda_packedarray 2.0 0");
      Line("%%+ procset Quenda_cshow 1.1 0");
      Line("%%+ procset Quenda_customcolor 1.0 0");
      Line("%%+ procset Quenda_Vexmoor_QV3 1.0 3");
      break;
    default:  // 3 and 7
      Line(preview ? "%%DocumentSuppliedResources: procset Quenda_level2_QV5 1.0 0"
                   : "%%DocumentNeededResources: procset Quenda_level2_QV5 1.0 0");
      Line("%%+ procset Quenda_VexmoorA_QV5 1.0 0");
      Line("%QV5_FileFormat 1.1");
      break;
  }
  Line("%QV3_IncludePlacedImages");
  OutString(code <= kFormatEps88 ? "%%" : "%QV3_");
  snprintf(text, sizeof text, "TemplateBox:0 0 %d %d", gPageWidth, gPageHeight);
  Line(text);
  static const char* const kPreviewWords[] = {"None", "Header", "Macintosh_Pic", "Macintosh_ColorPic",
                                              "PC_TIFF", "PC_TIFF"};
  int16_t p = gEffectivePreview;
  OutString(code <= kFormatEps88 ? "%%DocumentPreview: " : "%QV3_DocumentPreview: ");
  Line(p >= 0 && p <= 5 ? kPreviewWords[p] : "None");
  Line("%%EndComments");

  gPrologLoaded = preview && !gPrologUnavailable && PrologSize() > 0;
  if (code >= kFormatEps3) {
    Line("%%BeginProlog");
    if (!gPrologLoaded) {
      if (code == kFormatEps3) {
        Line("%%IncludeResource: procset Quenda_packedarray 2.0 0");
        Line("Quenda_packedarray /initialize get exec");
        Line("%%IncludeResource: procset Quenda_cshow 1.1 0");
        Line("%%IncludeResource: procset Quenda_customcolor 1.0 0");
        Line("%%IncludeResource: procset Quenda_Vexmoor_QV3 1.0 1");
      } else {
        Line("%%IncludeResource: procset Quenda_level2_QV5 1.0 0");
        Line("%%IncludeResource: procset Quenda_VexmoorA_QV5 1.0 0");
      }
    }
  }
  // Design note: generations 0 and 1 with a header have no prolog of their
  // own; like every other file with a header they carry the one prolog the
  // program has, which defines the generation-3 procsets.
  if (gPrologLoaded) {
    OutFlush();
    WriteChecked(OutFile(), PrologSize(), PrologBytes());
  }
  Line("%%EndProlog");
  Line("%%BeginSetup");
  switch (code) {
    case kFormatEps11:
      Line("Quenda_Vexmoor_1.1 begin");
      Line("n");
      break;
    case kFormatEps88:
      Line("Quenda_cshow /initialize get exec");
      Line("Quenda_customcolor /initialize get exec");
      Line("Quenda_Vexmoor88 /initialize get exec");
      break;
    case kFormatEps3:
      Line("Quenda_cshow /initialize get exec");
      Line("Quenda_customcolor /initialize get exec");
      Line("Quenda_Vexmoor_QV3 /initialize get exec");
      break;
    default:
      Line("Quenda_level2_QV5 /initialize get exec");
      Line("Quenda_VexmoorA_QV5 /initialize get exec");
      break;
  }
  Line("%%EndSetup");
  if (code >= kFormatEps88) {
    Line("0 A");
    Line("0 O");
  }
  Line("0 g");
  Line("0 G");
  Line("0 i");
  Line("2 J 0 j 1 w 2 M []0 d");
  if (code <= kFormatEps88) {
    Line("%%Note:");
  } else {
    Line("%QV3_Note:");
    Line("0 D");
  }
}

void WriteArtTrailer() {
  int16_t code = FormatCode();
  Line("%%PageTrailer");
  switch (code) {
    case kFormatEps11:
      Line("%%Trailer");
      Line("_E end");
      break;
    case kFormatEps88:
      Line("%%Trailer");
      Line("Quenda_Vexmoor88 /terminate get exec");
      Line("Quenda_customcolor /terminate get exec");
      Line("Quenda_cshow /terminate get exec");
      Line("Quenda_packedarray /terminate get exec");
      break;
    case kFormatEps3:
      Line("gsave annotatepage grestore showpage");
      Line("%%Trailer");
      Line("Quenda_Vexmoor_QV3 /terminate get exec");
      Line("Quenda_customcolor /terminate get exec");
      Line("Quenda_cshow /terminate get exec");
      Line("Quenda_packedarray /terminate get exec");
      break;
    default:
      Line("gsave annotatepage grestore showpage");
      Line("%%Trailer");
      Line("Quenda_VexmoorA_QV5 /terminate get exec");
      Line("Quenda_level2_QV5 /terminate get exec");
      break;
  }
  Line("%%EOF");

  if (code < kFormatMetafile && (gEffectivePreview == 4 || gEffectivePreview == 5)) {
    OutFlush();
    if (gUserAbort) return;
    gPostScriptEnd = FileSeek(OutFile(), 0, kSeekCur);
    // The black-and-white preview of a gray or color image is its two-level
    // separation (threshold 50 %), made into the working bitmap and written
    // as a one-bit image.
    bool twoLevel = gEffectivePreview == 4 && gImage->samplesPerPixel >= 2;
    if (twoLevel) SeparateTwoLevel();
    WriteTiffPreview(OutFile(), twoLevel);
    WriteDosEpsHeader();
  }
}

Status SaveArt(const char* path, int scratch) {
  gUserAbort = 0;
  if (scratch) gDocument->Set(Flag::writingClipboard);
  int16_t code = FormatCode();
  bool metafile = code == kFormatMetafile;
  if (metafile) {
    if (!gMetafileWriter.create || !gMetafileWriter.create(path)) {
      gDocument->Clear(Flag::writingClipboard);
      return Failed(kStrDiskFull);
    }
  } else if (Status opened = OutOpen(path); !opened.ok()) {
    gDocument->Clear(Flag::writingClipboard);
    return opened;
  }
  bool redraw = gDocument->Test(Flag::redrawPending);
  gDocument->Clear(Flag::redrawPending);
  gDocument->Set(Flag::artOutputRunning);
  int16_t savedPreview = gPrefs->previewKind;
  gEffectivePreview = code == kFormatClipboard ? 1 : gPrefs->previewKind;

  WriteArtHeader();
  gFlattenedCurves = 0;
  ResetPathWriter();

  PdfDocument pdf;
  if (!gUserAbort && code != kFormatRetired) {
    if (code == kFormatDxf) WriteDxfHeader();
    if (code == kFormatSvg) WriteSvgHeader();
    if (code == kFormatPdf) WritePdfHeader(&pdf);
    int16_t count = gPathCount;
    for (int16_t i = 0; i < count; ++i) {
      if (PollUserAbort()) break;
      const PathRecord* r = &gPaths[i];
      if (metafile) {
        if (gMetafileWriter.writePath) gMetafileWriter.writePath(r);
      } else if (code == kFormatDxf) {
        WriteDxfPath(r);
      } else if (code == kFormatSvg) {
        WriteSvgPath(r);
      } else if (code == kFormatPdf) {
        WritePdfPath(&pdf, r);
      } else if (code != kFormatClipboard || (r->pathFlags & PathFlag::selected)) {
        WritePath(r);
      }
      ShowProgress(static_cast<int16_t>((i + 1) * 100 / count), LoadString(kStrProcessing));
    }
    if (!gUserAbort && !metafile) {
      if (code == kFormatDxf) {
        WriteDxfTrailer();
      } else if (code == kFormatSvg) {
        WriteSvgTrailer();
      } else if (code == kFormatPdf) {
        WritePdfTrailer(&pdf);
      } else {
        WriteArtTrailer();
      }
    }
  }

  gPrefs->previewKind = savedPreview;
  // Closing puts the new file in the old one's place only when everything
  // was written; after a failure or a stop the old file stays untouched.
  if (metafile) {
    bool keep = !gUserAbort;
    if (gMetafileWriter.close && !gMetafileWriter.close(keep) && keep) StopWith(DiskMessage());
  } else {
    OutClose();
  }
  ShowProgress(0, nullptr);

  Status result = StopStatus();
  if (result.ok() && gFlattenedCurves > 0 && !scratch && gConvSettings->lineType == 0)
    result = Done(kStrCurvesInStraightFormat);

  gDocument->Clear(Flag::artOutputRunning);
  gDocument->Clear(Flag::writingClipboard);
  gDocument->Put(Flag::redrawPending, redraw);

  if (!result.ok()) {
    gDocument->Set(Flag::artModified);
    return result;
  }
  if (!scratch) {
    gDocument->Clear(Flag::artModified);
    gDocument->Clear(Flag::artUntitled);
  }
  return result;
}
