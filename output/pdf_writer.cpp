// The PDF writer: the art as a one-page PDF 1.4 document. The page is the
// EPS bounding box; the content stream carries the paths with the EPS
// file's own coordinates and operator letters (m, l, c; f, b, S; g, k, w),
// compressed with zlib. Objects are numbered in advance (PdfObject) and
// their offsets gathered as they are written, for the cross-reference table.
#include <cstdio>
#include <cstring>

#include "art/pathstore.h"
#include "engine/custom_colors.h"
#include "output/art_writer.h"
#include "output/stream.h"
#include "output/svg_pdf_writers.h"
#include "platform/platform.h"
#include "core/records.h"

namespace {

void Text(const char* text) { OutString(text); }

void BeginObject(PdfDocument* pdf, int number) {
  pdf->offset[number] = OutPosition();
  char text[32];
  snprintf(text, sizeof text, "%d 0 obj\n", number);
  Text(text);
}

void EndObject() { Text("endobj\n"); }

// A custom color can be a Separation only under a name that the PDF reader
// does not reserve: "All" paints every colorant and "None" nothing. Design
// note: such an entry is written as its process color instead.
const CustomColorEntry* SeparationEntry(int index) {
  const CustomColorEntry* e = CustomColorAt(index);
  if (!e || !strcmp(e->name, "All") || !strcmp(e->name, "None")) return nullptr;
  return e;
}

// A color name as a PDF name object: bytes outside the printable range and
// the delimiters are written as #xx.
void NameObject(const char* name) {
  Text("/");
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p) {
    if (*p < 0x21 || *p > 0x7E || strchr("()<>[]{}/%#", *p)) {
      char hex[4];
      snprintf(hex, sizeof hex, "#%02X", *p);
      Text(hex);
    } else {
      OutWrite(p, 1);
    }
  }
}

// A text string: parentheses and backslashes escaped, bytes outside the
// printable range as octal escapes.
void StringObject(const char* text) {
  Text("(");
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    char escape[8];
    if (*p == '(' || *p == ')' || *p == '\\') {
      escape[0] = '\\';
      escape[1] = static_cast<char>(*p);
      escape[2] = 0;
    } else if (*p < 0x20 || *p > 0x7E) {
      snprintf(escape, sizeof escape, "\\%03o", *p);
    } else {
      escape[0] = static_cast<char>(*p);
      escape[1] = 0;
    }
    Text(escape);
  }
  Text(")");
}

void AppendFraction(char* text, size_t size, uint8_t component) {
  char fraction[8];
  FormatColorFraction(component, fraction);
  strncat(text, fraction, size - strlen(text) - 1);
}

// The operators that set one paint (role 0 fill, 1 stroke), without line end;
// empty for a kind that paints nothing.
void FormatPaint(int role, int kind, int customIndex, int tint, const uint8_t color[4],
                 char* text, size_t size) {
  text[0] = 0;
  bool fill = role == 0;
  switch (kind) {
    case kPaintWhite:
      snprintf(text, size, "%s", fill ? "1 g" : "1 G");
      return;
    case kPaintBlack:
      AppendFraction(text, size, static_cast<uint8_t>(255 - color[3]));
      strncat(text, fill ? "g" : "G", size - strlen(text) - 1);
      return;
    case kPaintCustom:
      if (SeparationEntry(customIndex)) {
        snprintf(text, size, "/CS%d %s ", customIndex, fill ? "cs" : "CS");
        AppendFraction(text, size, static_cast<uint8_t>(tint));
        strncat(text, fill ? "scn" : "SCN", size - strlen(text) - 1);
        return;
      }
      break;  // the path's own process color
    case kPaintProcess:
      break;
    default:
      return;
  }
  for (int k = 0; k < 4; ++k) AppendFraction(text, size, color[k]);
  strncat(text, fill ? "k" : "K", size - strlen(text) - 1);
}

// Writes the paint when it differs from the one in force.
void SetPaint(char* last, size_t size, const char* paint) {
  if (paint[0] == 0 || !strcmp(paint, last)) return;
  snprintf(last, size, "%s", paint);
  Text(paint);
  Text("\n");
}

}  // namespace

void WritePdfHeader(PdfDocument* pdf) {
  memset(pdf, 0, sizeof *pdf);
  // The custom colors that some path paints with get a color space each.
  int16_t next = kPdfFirstColorSpace;
  for (int16_t i = 0; i < gPathCount; ++i) {
    const PathRecord* r = &gPaths[i];
    int16_t used[2] = {r->fillKind == kPaintCustom ? r->fillCustom : int16_t(-1),
                       r->strokeKind == kPaintCustom ? r->strokeCustom : int16_t(-1)};
    for (int16_t index : used)
      if (SeparationEntry(index) && pdf->colorSpace[index] == 0) pdf->colorSpace[index] = next++;
  }
  pdf->objectCount = next;
  pdf->lastWeight = -1;
  // The page starts with black fill and stroke in DeviceGray.
  snprintf(pdf->lastFill, sizeof pdf->lastFill, "0 g");
  snprintf(pdf->lastStroke, sizeof pdf->lastStroke, "0 G");

  char text[160];
  // The comment of high bytes marks the file as binary for transfer programs.
  Text("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
  BeginObject(pdf, kPdfCatalog);
  snprintf(text, sizeof text, "<< /Type /Catalog /Pages %d 0 R >>\n", kPdfPages);
  Text(text);
  EndObject();
  BeginObject(pdf, kPdfPages);
  snprintf(text, sizeof text, "<< /Type /Pages /Kids [%d 0 R] /Count 1 >>\n", kPdfPage);
  Text(text);
  EndObject();
  BeginObject(pdf, kPdfPage);
  snprintf(text, sizeof text, "<< /Type /Page /Parent %d 0 R /MediaBox [0 0 %d %d] /Contents %d 0 R\n",
           kPdfPages, gPageWidth, gPageHeight, kPdfContents);
  Text(text);
  Text("/Resources << /ProcSet [/PDF]");
  if (pdf->objectCount > kPdfFirstColorSpace) {
    Text(" /ColorSpace <<");
    for (int i = 0; i < kMaxCustomColors; ++i) {
      if (pdf->colorSpace[i] == 0) continue;
      snprintf(text, sizeof text, " /CS%d %d 0 R", i, pdf->colorSpace[i]);
      Text(text);
    }
    Text(" >>");
  }
  Text(" >> >>\n");
  EndObject();
  for (int i = 0; i < kMaxCustomColors; ++i) {
    if (pdf->colorSpace[i] == 0) continue;
    const CustomColorEntry* e = CustomColorAt(i);
    BeginObject(pdf, pdf->colorSpace[i]);
    Text("[/Separation ");
    NameObject(e->name);
    Text(" /DeviceCMYK << /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [");
    for (int k = 0; k < 4; ++k) OutFraction(e->color[k]);
    Text("] /N 1 >>]\n");
    EndObject();
  }
  BeginObject(pdf, kPdfContents);
  snprintf(text, sizeof text, "<< /Length %d 0 R /Filter /FlateDecode >>\nstream\n", kPdfLength);
  Text(text);
  if (!OutDeflateBegin()) return;
  // The line state of the EPS setup: projecting caps, mitered joins, limit 2.
  Text("2 J 0 j 2 M\n");
}

void WritePdfPath(PdfDocument* pdf, const PathRecord* path) {
  char op = PaintingOperator(path);
  if (op == 0) return;
  char paint[48];
  if (op != 'S') {
    FormatPaint(0, path->fillKind, path->fillCustom, path->fillTint, path->fillColor, paint, sizeof paint);
    SetPaint(pdf->lastFill, sizeof pdf->lastFill, paint);
  }
  if (op != 'f') {
    FormatPaint(1, path->strokeKind, path->strokeCustom, path->strokeTint, path->strokeColor, paint,
                sizeof paint);
    SetPaint(pdf->lastStroke, sizeof pdf->lastStroke, paint);
    if (path->strokeWeight != pdf->lastWeight) {
      pdf->lastWeight = path->strokeWeight;
      OutTenths(path->strokeWeight);
      Text("w\n");
    }
  }
  const int16_t* w = static_cast<const int16_t*>(MemLock(path->points));
  OutCoord(AnchorWord(w[0]), 0);
  OutCoord(AnchorWord(w[1]), 1);
  Text("m\n");
  PathSegment s;
  for (int at = 0; NextPathSegment(w, path->pointCount, &at, &s);) {
    if (s.curve) {
      OutCoord(s.c1x, 0);
      OutCoord(s.c1y, 1);
      OutCoord(s.c2x, 0);
      OutCoord(s.c2y, 1);
    }
    OutCoord(s.x, 0);
    OutCoord(s.y, 1);
    Text(s.curve ? "c\n" : "l\n");
  }
  MemUnlock(path->points);
  const char ending[3] = {op, '\n', 0};
  Text(ending);
}

void WritePdfTrailer(PdfDocument* pdf) {
  int32_t length = OutDeflateEnd();
  char text[160];
  Text("\nendstream\n");
  EndObject();
  BeginObject(pdf, kPdfLength);
  snprintf(text, sizeof text, "%d\n", length);
  Text(text);
  EndObject();
  BeginObject(pdf, kPdfInfo);
  Text("<< /Creator (Quenda Tessary 4.0) /Title ");
  StringObject(gImage->docName);
  Text(" >>\n");
  EndObject();
  int32_t xref = OutPosition();
  snprintf(text, sizeof text, "xref\n0 %d\n0000000000 65535 f \n", pdf->objectCount);
  Text(text);
  for (int i = 1; i < pdf->objectCount; ++i) {
    // Every entry is exactly 20 bytes, its line end included.
    snprintf(text, sizeof text, "%010d 00000 n \n", pdf->offset[i]);
    Text(text);
  }
  snprintf(text, sizeof text, "trailer\n<< /Size %d /Root %d 0 R /Info %d 0 R >>\nstartxref\n%d\n%%%%EOF\n",
           pdf->objectCount, kPdfCatalog, kPdfInfo, xref);
  Text(text);
}
