// The SVG and PDF writers: their bytes, the checks of third-party tools
// (xmllint, qpdf), and their renderings (rsvg-convert, pdftoppm) against
// Ghostscript's rendering of the EPS file of the same art.
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <map>

#include "core/records.h"
#include "engine/conversion.h"
#include "engine/custom_colors.h"
#include "engine/settings.h"
#include "output/art_writer.h"
#include "output/stream.h"
#include "output/svg_pdf_writers.h"
#include "raster/open_image.h"
#include "shell/document.h"
#include "platform/string_ids.h"
#include "tests/output/art_fixture.h"

namespace {

enum Kind { kEps, kSvg, kPdf };

class VectorArtTest : public ArtTest {
 protected:
  // Saves the art in one of the three formats and returns the file's path.
  std::string Save(Kind kind, const std::string& name = "art") {
    std::string path = PathIn(name + (kind == kEps ? ".eps" : kind == kSvg ? ".svg" : ".pdf"));
    gPrefs->outputFormat = kind == kEps ? 3 : kind == kSvg ? kFormatSvg : kFormatPdf;
    gPrefs->previewKind = kind == kEps ? 1 : 0;
    EXPECT_EQ(SaveArt(path.c_str(), 0), Done());
    return path;
  }

  Raster Render(Kind kind, const std::string& path, int dpi) {
    Raster r;
    std::string log;
    bool ok = kind == kEps ? RenderEps(path, Dir(), &r, &log, dpi)
              : kind == kSvg ? RenderSvg(path, Dir(), &r, &log, dpi)
                             : RenderPdf(path, Dir(), &r, &log, dpi);
    EXPECT_TRUE(ok) << log;
    EXPECT_EQ(log, "") << "the renderer reported problems";
    return r;
  }

  // Renders the art as EPS, SVG and PDF at 144 dpi and compares the two new
  // renderings with Ghostscript's. With `svgColors` / `pdfColors` colors
  // count too (the art uses only paints that both renderers turn into the
  // same RGB), else only the shapes, with a wider tolerance for the light
  // inks that renderers darken differently.
  void ExpectSameRendering(bool svgColors, bool pdfColors) {
    const int dpi = 144, tolerance = 32, shapeTolerance = 48;
    Raster eps = Render(kEps, Save(kEps), dpi);
    Raster svg = Render(kSvg, Save(kSvg), dpi);
    Raster pdf = Render(kPdf, Save(kPdf), dpi);
    ASSERT_GT(eps.width, 0);
    EXPECT_EQ(svgColors ? RenderMismatches(svg, eps, tolerance) : RenderMismatches(Darkest(svg), Darkest(eps), shapeTolerance), 0);
    EXPECT_EQ(pdfColors ? RenderMismatches(pdf, eps, tolerance) : RenderMismatches(Darkest(pdf), Darkest(eps), shapeTolerance), 0);
  }

  CustomColorEntry* Custom(const char* name, uint32_t cmyk) {
    CustomColorEntry* e = NewColorEntry();
    strcpy(e->name, name);
    for (int k = 0; k < 4; ++k) e->color[k] = static_cast<uint8_t>(cmyk >> (24 - 8 * k));
    return e;
  }

  // One small art of every kind of path: a black square, an open cyan
  // stroke, a curve filled with a custom color at half tint and stroked
  // white with a zero weight, and a path with no paint.
  void SmallArt() {
    Image(96, 64, 72);
    ASSERT_TRUE(SetCustomColors(nullptr, 0));
    Custom("Spot Red", 0x00FFFF00);
    ArtRect(4, 4, 28, 28, {kPaintBlack, 0x000000FF, 0, 0, 10, 0});
    int open = StartArtPath(40, 10);
    ArtLineTo(60, 10);
    ArtLineTo(60, 30.5);
    PaintArtPath(open, {kPaintProcess, 0x0000FF00, kPaintProcess, 0xFF000000, 25, PathFlag::openPath});
    int curve = StartArtPath(70, 50);
    ArtCurveTo(70, 40, 90, 40, 90, 50);
    ArtLineTo(70, 50);
    PaintArtPath(curve, {kPaintCustom, 0x00808000, kPaintWhite, 0, 0, 0});
    gPaths[curve].fillCustom = 0;
    gPaths[curve].fillTint = 128;
    int none = StartArtPath(1, 1);
    ArtLineTo(2, 2);
    PaintArtPath(none, {kPaintNone, 0, kPaintNone, 0, 10, 0});
  }
};

std::string Inflate(const std::string& packed) {
  std::string out(1 << 20, '\0');
  uLongf size = out.size();
  int ret = uncompress(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(packed.data()),
                       packed.size());
  if (ret != Z_OK) return "<" + std::to_string(ret) + ">";
  out.resize(size);
  return out;
}

// The objects of a PDF file by number, found through its cross-reference
// table; every check of the table's structure is an expectation here.
struct PdfFile {
  std::map<int, std::string> objects;  // number -> text from "n 0 obj" to "endobj"
  std::string trailer;
};

PdfFile ParsePdf(const std::string& bytes) {
  PdfFile f;
  size_t sx = bytes.rfind("startxref\n");
  EXPECT_NE(sx, std::string::npos);
  if (sx == std::string::npos) return f;
  size_t xref = std::stoul(bytes.substr(sx + 10));
  EXPECT_EQ(bytes.compare(xref, 5, "xref\n"), 0) << "startxref points at the table";
  int first = 0, count = 0;
  EXPECT_EQ(sscanf(bytes.c_str() + xref + 5, "%d %d", &first, &count), 2);
  EXPECT_EQ(first, 0);
  size_t entries = bytes.find('\n', xref + 5) + 1;
  EXPECT_EQ(bytes.compare(entries, 20, "0000000000 65535 f \n"), 0);
  for (int n = 1; n < count; ++n) {
    std::string entry = bytes.substr(entries + 20 * static_cast<size_t>(n), 20);
    EXPECT_EQ(entry.substr(10), " 00000 n \n") << "entry " << n << " is 20 bytes";
    size_t at = std::stoul(entry.substr(0, 10));
    std::string head = std::to_string(n) + " 0 obj\n";
    EXPECT_EQ(bytes.compare(at, head.size(), head), 0) << "object " << n << " is at its offset";
    size_t end = bytes.find("endobj\n", at);
    f.objects[n] = bytes.substr(at, end + 7 - at);
  }
  size_t trailer = entries + 20 * static_cast<size_t>(count);
  EXPECT_EQ(bytes.compare(trailer, 8, "trailer\n"), 0) << "the trailer follows the table";
  f.trailer = bytes.substr(trailer, sx - trailer);
  EXPECT_EQ(bytes.substr(bytes.size() - 6), "%%EOF\n");
  return f;
}

TEST_F(VectorArtTest, SvgDocumentBytes) {
  SmallArt();
  std::string svg = ReadFileBytes(Save(kSvg));
  EXPECT_EQ(svg,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"96pt\" height=\"64pt\" "
            "viewBox=\"0 0 96 64\" fill-rule=\"nonzero\" stroke-linecap=\"square\" stroke-linejoin=\"miter\" "
            "stroke-miterlimit=\"2\">\n"
            "<path d=\"M4 4 L28 4 L28 28 L4 28 L4 4 Z\" fill=\"#000000\"/>\n"
            "<path d=\"M40 10 L60 10 L60 30.5 \" fill=\"none\" stroke=\"#00ffff\" stroke-width=\"2.5\"/>\n"
            "<path d=\"M70 50 C70 40 90 40 90 50 L70 50 Z\" fill=\"#ff7f7f\" data-fill-color=\"Spot Red\" "
            "data-fill-tint=\"50\" stroke=\"#ffffff\" stroke-width=\"1\" vector-effect=\"non-scaling-stroke\"/>\n"
            "</svg>\n");
}

TEST_F(VectorArtTest, PdfStructureAndContent) {
  SmallArt();
  std::string bytes = ReadFileBytes(Save(kPdf));
  ASSERT_EQ(bytes.compare(0, 15, "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n"), 0);
  PdfFile f = ParsePdf(bytes);
  ASSERT_EQ(f.objects.size(), 7u);
  EXPECT_EQ(f.trailer, "trailer\n<< /Size 8 /Root 1 0 R /Info 6 0 R >>\n");
  EXPECT_EQ(f.objects[1], "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");
  EXPECT_EQ(f.objects[3],
            "3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 96 64] /Contents 4 0 R\n"
            "/Resources << /ProcSet [/PDF] /ColorSpace << /CS0 7 0 R >> >> >>\nendobj\n");
  EXPECT_EQ(f.objects[7],
            "7 0 obj\n[/Separation /Spot#20Red /DeviceCMYK << /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] "
            "/C1 [0 1 1 0 ] /N 1 >>]\nendobj\n");
  EXPECT_EQ(f.objects[6], "6 0 obj\n<< /Creator (Quenda Tessary 4.0) /Title (art.eps) >>\nendobj\n");

  // The content stream: its length object tells its exact byte count.
  const std::string& contents = f.objects[4];
  std::string head = "4 0 obj\n<< /Length 5 0 R /Filter /FlateDecode >>\nstream\n";
  ASSERT_EQ(contents.compare(0, head.size(), head), 0);
  size_t end = contents.rfind("\nendstream\nendobj\n");
  ASSERT_NE(end, std::string::npos);
  std::string packed = contents.substr(head.size(), end - head.size());
  EXPECT_EQ(f.objects[5], "5 0 obj\n" + std::to_string(packed.size()) + "\nendobj\n");
  EXPECT_EQ(Inflate(packed),
            "2 J 0 j 2 M\n"
            "4 60 m\n28 60 l\n28 36 l\n4 36 l\n4 60 l\nf\n"  // black is the page's own fill
            "1 0 0 0 K\n2.5 w\n40 54 m\n60 54 l\n60 33.5 l\nS\n"
            "/CS0 cs 0.5 scn\n1 G\n0 w\n70 14 m\n70 24 90 24 90 14 c\n70 14 l\nb\n");
}

TEST_F(VectorArtTest, ThirdPartyToolsAcceptTheFiles) {
  SmallArt();
  // A name with every character that XML or PDF must escape.
  CustomColorEntry* e = CustomColorAt(0);
  strcpy(e->name, "A&B \"1\" <2> (\xE9)/#");
  std::string svg = Save(kSvg), pdf = Save(kPdf);
  std::string out;
  EXPECT_EQ(RunCommand("xmllint --noout '" + svg + "'", &out), 0) << out;
  EXPECT_EQ(RunCommand("xmllint --xpath 'string(//*[@data-fill-color]/@data-fill-color)' '" + svg + "'", &out), 0);
  EXPECT_EQ(out, "A&B \"1\" <2> (\xC3\xA9)/#\n");
  EXPECT_EQ(RunCommand("qpdf --check '" + pdf + "'", &out), 0) << out;
  EXPECT_NE(out.find("No syntax or stream encoding errors found"), std::string::npos) << out;
  EXPECT_NE(ReadFileBytes(pdf).find("/A&B#20\"1\"#20#3C2#3E#20#28#E9#29#2F#23 /DeviceCMYK"), std::string::npos);
}

TEST_F(VectorArtTest, EveryPaintRendersAsInTheEpsFile) {
  // Pure inks, grays, white and custom colors at full and half tint: colors
  // that Ghostscript and rsvg-convert turn into the same RGB. The PDF
  // renderer converts CMYK in its own way, so there only the shapes count.
  Image(128, 96, 72);
  ASSERT_TRUE(SetCustomColors(nullptr, 0));
  Custom("Red", 0x00FFFF00);
  ArtRect(4, 4, 40, 40, {kPaintBlack, 0x000000FF, 0, 0, 10, 0});
  ArtRect(12, 12, 32, 32, {kPaintWhite, 0, 0, 0, 10, 0});  // a hole painted over
  ArtRect(48, 4, 84, 40, {kPaintBlack, 0x00000080, kPaintProcess, 0xFF000000, 40, 0});
  ArtRect(92, 4, 124, 40, {kPaintProcess, 0x0000FF00, 0, 0, 10, 0});
  int half = ArtRect(4, 52, 40, 88, {kPaintCustom, 0x00808000, 0, 0, 10, 0});
  gPaths[half].fillCustom = 0;
  gPaths[half].fillTint = 128;
  int open = StartArtPath(52, 56);
  ArtCurveTo(60, 96, 76, 40, 84, 84);
  ArtLineTo(120, 56);
  PaintArtPath(open, {kPaintNone, 0, kPaintCustom, 0x00FFFF00, 30, PathFlag::openPath});
  gPaths[open].strokeCustom = 0;
  ExpectSameRendering(true, false);
}

TEST_F(VectorArtTest, TracedDrawingRendersAsInTheEpsFile) {
  // The sample drawing traced by outline: holes, curves, text and strokes of
  // several weights.
  strcpy(gImage->path, (SourceDir() + "/samples/sample.tif").c_str());
  strcpy(gImage->docName, "sample.eps");
  gImage->sourceType = static_cast<int16_t>(SourceTypeFromName(gImage->path));
  ASSERT_TRUE(OpenDocument(nullptr).ok());
  ConvertImage(false);
  ASSERT_GT(gPathCount, 10);
  ExpectSameRendering(true, true);
  std::string out;
  EXPECT_EQ(RunCommand("xmllint --noout '" + Save(kSvg) + "'", &out), 0) << out;
  EXPECT_EQ(RunCommand("qpdf --check '" + Save(kPdf) + "'", &out), 0) << out;
  CloseDocument();
}

TEST_F(VectorArtTest, CenterlineDrawingRendersAsInTheEpsFile) {
  // Lines three pixels wide, straight and round, traced along their middle:
  // open and closed strokes with their weights.
  MakeBitmapImage(240, 160, 72);
  strcpy(gImage->docName, "lines.eps");
  FillRect(10, 20, 230, 23);
  FillRect(30, 30, 33, 150);
  for (int a = 0; a < 3600; ++a)
    for (int r = 40; r < 43; ++r)
      SetWorkPixel(150 + static_cast<int>(r * cos(a * M_PI / 1800)), 95 + static_cast<int>(r * sin(a * M_PI / 1800)));
  gConvSettings->methodFlags = static_cast<uint8_t>((gConvSettings->methodFlags & ~Method::outline) | Method::centerline);
  ConvertImage(false);
  ASSERT_GE(gPathCount, 3);
  ExpectSameRendering(true, true);
  CloseDocument();
}

uint32_t gTicks = 0;
uint32_t SecondTicks() { return gTicks += 61; }

TEST_F(VectorArtTest, FullDiskShortMemoryAndStopLeaveNoFile) {
  SmallArt();
  std::string path = PathIn("art.pdf");
  WriteFileBytes(path, "old");
  gPrefs->outputFormat = kFormatPdf;
  struct Case {
    const char* what;
    int16_t message;  // the reason the save stopped with; 0 for the user's stop
  } const cases[] = {{"disk full", kStrDiskFull}, {"no memory for the compressor", kStrNotEnoughMemory}, {"stopped", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ClearMessageLog();
    if (c.message == kStrDiskFull) FileFailWritesAfter(300);
    if (c.message == kStrNotEnoughMemory) MemFailAbove(60000);  // the compressor's windows
    if (c.message == 0) {
      SetTickSource(SecondTicks);  // the cancel poll looks at the events once a second
      QueueEscape();
    }
    EXPECT_EQ(SaveArt(path.c_str(), 0), Stopped(c.message));
    FileFailWritesAfter(-1);
    MemResetFailures();
    SetTickSource(nullptr);
    EXPECT_TRUE(MessageIds().empty()) << "the caller shows the status";
    EXPECT_EQ(ReadFileBytes(path), "old") << "the file that was there stays";
    EXPECT_EQ(FolderEntries(Dir()), std::vector<std::string>{"art.pdf"}) << "no temporary is left";
  }
}

}  // namespace
