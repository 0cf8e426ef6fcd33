// The bytes of the EPS documents: header comments by generation, the prolog
// or its include lines, setup, path bodies, trailer, the DOS EPS header, the
// page scale, and the abort and disk-full paths.
#include <cstring>
#include <ctime>

#include "core/records.h"
#include "engine/custom_colors.h"
#include "engine/settings.h"
#include "output/art_writer.h"
#include "output/stream.h"
#include "platform/platform.h"
#include "platform/string_ids.h"
#include "tests/output/art_fixture.h"

namespace {

constexpr ArtPaint kBlackFill{kPaintBlack, 0x000000FF, kPaintNone, 0, 10, 0};
constexpr ArtPaint kBlackLine{kPaintNone, 0, kPaintBlack, 0x000000FF, 10, PathFlag::openPath};

uint32_t gTicks = 0;
uint32_t FastTicks() { return gTicks += 120; }

class EpsDocumentTest : public ArtTest {
 protected:
  std::string Save(int16_t format, int16_t preview, int scratch = 0) {
    gPrefs->outputFormat = format;
    gPrefs->previewKind = preview;
    std::string path = PathIn("art.eps");
    EXPECT_EQ(SaveArt(path.c_str(), scratch), Done());
    return MaskDate(ReadFileBytes(path));
  }
  // A 64 x 32 image at 72 dpi: one pixel is one point, art y grows downwards.
  void SmallArt() {
    Image(64, 32, 72);
    strcpy(gDocument->userName, "Ann  ");
    strcpy(gDocument->userOrganization, "Acme (R) ");
    ArtRect(8, 8, 24, 24, kBlackFill);
    int line = StartArtPath(8, 16);
    ArtLineTo(16, 16);
    ArtLineTo(24, 16);
    PaintArtPath(line, kBlackLine);
  }
};

const char kBody[] =
    "8 24 m\r24 24 L\r24 8 L\r8 8 L\r8 24 L\rf\r"
    "1.0 w\r8 16 m\r16 16 l\r24 16 L\rS\r";

TEST_F(EpsDocumentTest, PlainArtFileHasExactBytes) {
  SmallArt();
  std::string expected =
      "%!PS-Quenda-3.0\r%%Creator:Quenda Tessary\xAA 4.0\r"
      "%%For: (Ann) (Acme (R))\r%%Title: (art.eps)\r%%CreationDate: X\r%%BoundingBox:0 0 64 32\r"
      "%QV3_ColorUsage: Black&White\r%%DocumentProcessColors: Black\r"
      "%%DocumentNeededResources: procset Quenda_level2_QV5 1.0 0\r%%+ procset Quenda_VexmoorA_QV5 1.0 0\r"
      "%QV5_FileFormat 1.1\r%QV3_IncludePlacedImages\r%QV3_TemplateBox:0 0 64 32\r"
      "%QV3_DocumentPreview: None\r%%EndComments\r%%BeginProlog\r"
      "%%IncludeResource: procset Quenda_level2_QV5 1.0 0\r%%IncludeResource: procset Quenda_VexmoorA_QV5 1.0 0\r"
      "%%EndProlog\r%%BeginSetup\rQuenda_level2_QV5 /initialize get exec\r"
      "Quenda_VexmoorA_QV5 /initialize get exec\r%%EndSetup\r0 A\r0 O\r0 g\r0 G\r0 i\r"
      "2 J 0 j 1 w 2 M []0 d\r%QV3_Note:\r0 D\r" +
      std::string(kBody) +
      "%%PageTrailer\rgsave annotatepage grestore showpage\r%%Trailer\r"
      "Quenda_VexmoorA_QV5 /terminate get exec\rQuenda_level2_QV5 /terminate get exec\r%%EOF\r";
  EXPECT_EQ(Save(3, 0), expected);
  EXPECT_FALSE(gDocument->Test(Flag::artModified));
}

TEST_F(EpsDocumentTest, GenerationsFrameTheBodyInTheirOwnWords) {
  struct Case {
    int16_t format;
    int16_t preview;
    std::vector<std::string> chunks;  // each found, in this order
  } const cases[] = {
      {0, 0,
       {"%!PS-Quenda-2.0\r%%Creator:", "%%ColorUsage: Black&White\r%%DocumentProcessColors: Black\r"
        "%%DocumentProcSets: Quenda_Vexmoor_1.1 0 0\r%QV3_IncludePlacedImages\r%%TemplateBox:0 0 64 32\r"
        "%%DocumentPreview: None\r%%EndComments\r%%EndProlog\r%%BeginSetup\rQuenda_Vexmoor_1.1 begin\rn\r"
        "%%EndSetup\r0 g\r0 G\r0 i\r2 J 0 j 1 w 2 M []0 d\r%%Note:\r8 24 m\r",
        "S\r%%PageTrailer\r%%Trailer\r_E end\r%%EOF\r"}},
      {1, 0,
       {"%!PS-Quenda-2.0\r%%Creator:",
        "%%DocumentProcSets: Quenda_packedarray 1.0 0\r%%DocumentProcSets: Quenda_cmykcolor 1.1 0\r"
        "%%DocumentProcSets: Quenda_cshow 1.1 0\r%%DocumentProcSets: Quenda_customcolor 1.0 0\r"
        "%%DocumentProcSets: Quenda_Vexmoor88 1.19 0\r%QV3_IncludePlacedImages\r",
        "%%EndComments\r%%EndProlog\r%%BeginSetup\rQuenda_cshow /initialize get exec\r"
        "Quenda_customcolor /initialize get exec\rQuenda_Vexmoor88 /initialize get exec\r%%EndSetup\r"
        "0 A\r0 O\r0 g\r0 G\r0 i\r2 J 0 j 1 w 2 M []0 d\r%%Note:\r8 24 m\r",
        "S\r%%PageTrailer\r%%Trailer\rQuenda_Vexmoor88 /terminate get exec\r"
        "Quenda_customcolor /terminate get exec\rQuenda_cshow /terminate get exec\r"
        "Quenda_packedarray /terminate get exec\r%%EOF\r"}},
      {1, 1,
       {"%!PS-Quenda-2.0 EPSF-1.2\r%%Creator:",
        "%%DocumentProcSets: Quenda_packedarray 1.0 0\r%%DocumentSuppliedProcSets: Quenda_packedarray 1.0 0\r"
        "%%DocumentProcSets: Quenda_cmykcolor 1.1 0\r",
        "%%DocumentPreview: Header\r%%EndComments\r%%BeginResource: procset Quenda_level2_QV5 1.0 0\r"}},
      {2, 0,
       {"%!PS-Quenda-3.0\r%%Creator:",
        "%QV3_ColorUsage: Black&White\r%%DocumentProcessColors: Black\r"
        "%%DocumentNeededResources: procset Quenda_packedarray 2.0 0\r%%+ procset Quenda_cshow 1.1 0\r"
        "%%+ procset Quenda_customcolor 1.0 0\r%%+ procset Quenda_Vexmoor_QV3 1.0 3\r"
        "%QV3_IncludePlacedImages\r%QV3_TemplateBox:0 0 64 32\r%QV3_DocumentPreview: None\r%%EndComments\r"
        "%%BeginProlog\r%%IncludeResource: procset Quenda_packedarray 2.0 0\r"
        "Quenda_packedarray /initialize get exec\r%%IncludeResource: procset Quenda_cshow 1.1 0\r"
        "%%IncludeResource: procset Quenda_customcolor 1.0 0\r"
        "%%IncludeResource: procset Quenda_Vexmoor_QV3 1.0 1\r%%EndProlog\r%%BeginSetup\r"
        "Quenda_cshow /initialize get exec\rQuenda_customcolor /initialize get exec\r"
        "Quenda_Vexmoor_QV3 /initialize get exec\r%%EndSetup\r0 A\r0 O\r0 g\r0 G\r0 i\r"
        "2 J 0 j 1 w 2 M []0 d\r%QV3_Note:\r0 D\r8 24 m\r",
        "S\r%%PageTrailer\rgsave annotatepage grestore showpage\r%%Trailer\r"
        "Quenda_Vexmoor_QV3 /terminate get exec\rQuenda_customcolor /terminate get exec\r"
        "Quenda_cshow /terminate get exec\rQuenda_packedarray /terminate get exec\r%%EOF\r"}},
      {2, 1, {"%!PS-Quenda-3.0 EPSF-3.0\r", "%%DocumentSuppliedResources: procset Quenda_packedarray 2.0 0\r"}},
      {3, 2, {"%QV3_DocumentPreview: Macintosh_Pic\r"}},
      {3, 3, {"%QV3_DocumentPreview: Macintosh_ColorPic\r"}},
  };
  SmallArt();
  for (const Case& c : cases) {
    std::string text = Save(c.format, c.preview);
    size_t at = 0;
    for (const std::string& chunk : c.chunks) {
      size_t found = text.find(chunk, at);
      EXPECT_NE(found, std::string::npos) << "format " << c.format << " preview " << c.preview << ": " << chunk;
      if (found != std::string::npos) at = found + chunk.size();
    }
    EXPECT_NE(text.find(kBody), std::string::npos) << "format " << c.format;
  }
}

TEST_F(EpsDocumentTest, HeaderOnlyFileCarriesThePrologByteForByte) {
  SmallArt();
  std::string text = Save(3, 1);
  EXPECT_EQ(text.rfind("%!PS-Quenda-3.0 EPSF-3.0\r", 0), 0u);
  EXPECT_NE(text.find("%%DocumentSuppliedResources: procset Quenda_level2_QV5 1.0 0\r"), std::string::npos);
  EXPECT_NE(text.find("%QV3_DocumentPreview: Header\r"), std::string::npos);
  std::string prolog(reinterpret_cast<const char*>(PrologBytes()), static_cast<size_t>(PrologSize()));
  EXPECT_NE(text.find("%%BeginProlog\r" + prolog + "%%EndProlog\r%%BeginSetup\r"), std::string::npos);
  EXPECT_EQ(text.find("%%IncludeResource"), std::string::npos);
  // The prolog is CR text of two resource blocks.
  EXPECT_EQ(prolog.find('\n'), std::string::npos);
  EXPECT_EQ(prolog.rfind("%%BeginResource: procset Quenda_level2_QV5 1.0 0\r", 0), 0u);
  EXPECT_NE(prolog.find("%%BeginResource: procset Quenda_VexmoorA_QV5 1.0 0\r"), std::string::npos);

  // Without the prolog the include lines stand in, the header keeps its wording.
  SetPrologUnavailable(true);
  text = Save(3, 1);
  SetPrologUnavailable(false);
  EXPECT_NE(text.find("%%DocumentSuppliedResources: procset Quenda_level2_QV5"), std::string::npos);
  EXPECT_NE(text.find("%%BeginProlog\r%%IncludeResource: procset Quenda_level2_QV5 1.0 0\r"
                      "%%IncludeResource: procset Quenda_VexmoorA_QV5 1.0 0\r%%EndProlog\r"),
            std::string::npos);
}

TEST_F(EpsDocumentTest, ClipboardFormatWritesSelectedPathsWithHeader) {
  SmallArt();
  gPaths[1].pathFlags |= PathFlag::selected;
  std::string text = Save(7, 0, 1);
  EXPECT_EQ(text.rfind("%!PS-Quenda-3.0 EPSF-3.0\r", 0), 0u);
  EXPECT_NE(text.find("%QV3_DocumentPreview: Header\r"), std::string::npos);
  EXPECT_EQ(text.find("8 24 m\r"), std::string::npos);  // the unselected rectangle
  EXPECT_NE(text.find("1.0 w\r8 16 m\r16 16 l\r24 16 L\rS\r%%PageTrailer\r"), std::string::npos);
  EXPECT_EQ(gPrefs->previewKind, 0);
  EXPECT_TRUE(gDocument->Test(Flag::artModified) == false);
  EXPECT_FALSE(gDocument->Test(Flag::writingClipboard));
}

TEST_F(EpsDocumentTest, PageScaleFitsTheLimitOfTheGeneration) {
  struct Case {
    int width, height;
    double dpi;
    int16_t format;
    int32_t w, h;
  } const cases[] = {
      {2400, 3000, 300, 3, 576, 720},
      {2400, 3000, 300, 2, 576, 720},
      {2048, 1024, 72, 2, 1296, 648},  // 1296 / 2048 in both directions
      {2048, 1024, 72, 3, 2048, 1024},
      {1000, 100, 72, 3, 1024, 100},  // the padded width sets W
      {100, 4000, 72, 0, 42, 1296},   // the height limit also narrows: 128 x 0.324
  };
  for (const Case& c : cases) {
    Image(c.width, c.height, c.dpi);
    gPrefs->outputFormat = c.format;
    ComputePageScale();
    EXPECT_EQ(gPageWidth, c.w) << c.width << "x" << c.height << " format " << c.format;
    EXPECT_EQ(gPageHeight, c.h) << c.width << "x" << c.height << " format " << c.format;
  }
  Image(2048, 1024, 72);
  gPrefs->outputFormat = 2;
  ComputePageScale();
  // sx = 0.6328125 points per pixel; f = 8 art units per pixel.
  EXPECT_EQ(gOutScaleX, static_cast<int32_t>(0.6328125 * 655360 / 8));
  EXPECT_EQ(gOutScaleY, gOutScaleX);
}

TEST_F(EpsDocumentTest, CreationDateUsesTwelveHourClock) {
  struct Case {
    int month, day, year, hour, minute;
    const char* text;
  } const cases[] = {
      {3, 7, 1997, 12, 5, "%%CreationDate: (3/7/1997) (12:05 PM)"},
      {12, 31, 2026, 0, 30, "%%CreationDate: (12/31/2026) (12:30 AM)"},
      {1, 1, 2000, 12, 0, "%%CreationDate: (1/1/2000) (12:00 PM)"},
      {1, 1, 2000, 13, 5, "%%CreationDate: (1/1/2000) (1:05 PM)"},
      {1, 1, 2000, 11, 59, "%%CreationDate: (1/1/2000) (11:59 AM)"},
  };
  for (const Case& c : cases) {
    struct tm when {};
    when.tm_mon = c.month - 1;
    when.tm_mday = c.day;
    when.tm_year = c.year - 1900;
    when.tm_hour = c.hour;
    when.tm_min = c.minute;
    char text[80];
    FormatCreationDate(when, text, sizeof text);
    EXPECT_STREQ(text, c.text);
  }
}

TEST_F(EpsDocumentTest, PreviewFileStartsWithDosHeaderAndEmbedsTiff) {
  SmallArt();
  for (int16_t preview : {4, 5}) {
    gPrefs->outputFormat = 3;
    gPrefs->previewKind = preview;
    std::string path = PathIn("art.eps");
    ASSERT_TRUE(SaveArt(path.c_str(), 0).ok());
    std::string bytes = ReadFileBytes(path);
    auto le32 = [&bytes](size_t at) {
      return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8 |
                                   static_cast<uint8_t>(bytes[at + 2]) << 16 |
                                   static_cast<uint8_t>(bytes[at + 3]) << 24);
    };
    ASSERT_GT(bytes.size(), 30u);
    EXPECT_EQ(bytes.substr(0, 8), std::string("\xC5\xD0\xD3\xC6\x1E\x00\x00\x00", 8));
    size_t eof = bytes.find("%%EOF\r");
    ASSERT_NE(eof, std::string::npos);
    uint32_t psEnd = static_cast<uint32_t>(eof + 6);
    EXPECT_EQ(le32(8), psEnd - 30);
    EXPECT_EQ(le32(12), 0u);
    EXPECT_EQ(le32(16), 0u);
    EXPECT_EQ(le32(20), psEnd);  // the TIFF follows directly
    EXPECT_EQ(le32(24), bytes.size() - psEnd);
    EXPECT_EQ(bytes.substr(28, 2), "\xFF\xFF");
    EXPECT_EQ(bytes.substr(30, 16), "%!PS-Quenda-3.0 ");
    EXPECT_NE(bytes.find("%QV3_DocumentPreview: PC_TIFF\r"), std::string::npos);
    // libtiff reads the preview: 64 x 32 pixels at 72 dpi.
    std::string tiff = PathIn("preview.tif");
    WriteFileBytes(tiff, bytes.substr(psEnd));
    std::string info;
    ASSERT_EQ(RunCommand("tiffinfo '" + tiff + "'", &info), 0) << info;
    EXPECT_NE(info.find("Image Width: 64 Image Length: 32"), std::string::npos) << info;
    EXPECT_NE(info.find("Resolution: 72, 72"), std::string::npos) << info;
  }
}

TEST_F(EpsDocumentTest, FailedOrCancelledSaveKeepsTheOldFile) {
  SmallArt();
  struct Format {
    int16_t code, preview;
  } const formats[] = {{0, 1}, {1, 1}, {2, 1}, {3, 0}, {3, 1}, {3, 4}, {3, 5}, {5, 0}};
  for (const Format& f : formats) {
    gPrefs->outputFormat = f.code;
    gPrefs->previewKind = f.preview;
    // The size of a complete save, so that a disk can also fill up at its
    // very end (the preview, the rewritten binary header, the trailer).
    ASSERT_TRUE(SaveArt(PathIn("complete").c_str(), 0).ok());
    int64_t size = static_cast<int64_t>(ReadFileBytes(PathIn("complete")).size());
    FileDelete(PathIn("complete").c_str());
    struct Failure {
      int64_t budget;  // bytes the disk takes; -1: the user cancels instead
      int scratch;
    } const failures[] = {{100, 0}, {100, 1}, {size - 3, 0}, {-1, 0}};
    for (const Failure& fail : failures) {
      SCOPED_TRACE(std::to_string(f.code) + "/" + std::to_string(f.preview) + " budget " +
                   std::to_string(fail.budget) + " scratch " + std::to_string(fail.scratch));
      ClearMessageLog();
      std::string path = PathIn("art.eps");
      WriteFileBytes(path, "the old art");
      gDocument->Set(Flag::artModified);
      gDocument->Set(Flag::redrawPending);
      if (fail.budget < 0) {
        SetTickSource(FastTicks);
        QueueEscape();
      } else {
        FileFailWritesAfter(fail.budget);
      }
      Status saved = SaveArt(path.c_str(), fail.scratch);
      FileFailWritesAfter(-1);
      SetTickSource(nullptr);
      EXPECT_EQ(ReadFileBytes(path), "the old art");
      EXPECT_EQ(FolderEntries(Dir()), std::vector<std::string>{"art.eps"}) << "no temporary is left";
      EXPECT_TRUE(gDocument->Test(Flag::artModified));
      EXPECT_TRUE(gDocument->Test(Flag::redrawPending));
      EXPECT_FALSE(gDocument->Test(Flag::artOutputRunning));
      // A full disk stops the save with its message; a cancel without one.
      int16_t reason = fail.budget < 0 ? 0 : fail.scratch ? kStrScratchDiskFull : kStrDiskFull;
      EXPECT_EQ(saved, Stopped(reason));
      EXPECT_TRUE(MessageIds().empty()) << "the caller shows the status";
    }
  }
}

std::vector<std::string> gMetafileCalls;

TEST_F(EpsDocumentTest, MetafileFormatGoesThroughItsWriter) {
  SmallArt();
  std::string path = PathIn("art.emf");
  gPrefs->outputFormat = 4;
  EXPECT_EQ(SaveArt(path.c_str(), 0), Failed(kStrDiskFull));  // no metafile writer installed

  ClearMessageLog();
  gMetafileWriter = {[](const char*) {
                       gMetafileCalls.push_back("create");
                       return true;
                     },
                     [](const PathRecord* r) { gMetafileCalls.push_back(std::to_string(r->pointCount)); },
                     [](bool keep) {
                       gMetafileCalls.push_back(keep ? "keep" : "discard");
                       return gMetafileCalls.size() < 8;  // the second save cannot be put in place
                     }};
  gDocument->Set(Flag::artModified);
  EXPECT_TRUE(SaveArt(path.c_str(), 0).ok());
  EXPECT_EQ(gMetafileCalls, (std::vector<std::string>{"create", "10", "6", "keep"}));
  EXPECT_EQ(gPageWidth, 64);  // the page scale is computed for the metafile too
  EXPECT_FALSE(gDocument->Test(Flag::artModified));
  EXPECT_FALSE(FileExists(path.c_str()));  // the stream never opened it
  EXPECT_TRUE(MessageIds().empty());

  // A metafile that cannot be put in place fails the save like a full disk.
  EXPECT_EQ(SaveArt(path.c_str(), 0), Stopped(kStrDiskFull));
  gMetafileWriter = {nullptr, nullptr, nullptr};
  EXPECT_EQ(gMetafileCalls.back(), "keep");
  EXPECT_TRUE(gDocument->Test(Flag::artModified));
}

TEST_F(EpsDocumentTest, OutputThatCannotBeCreatedFails) {
  SmallArt();
  gPrefs->outputFormat = 3;
  std::string path = PathIn("missing-folder/art.eps");
  EXPECT_EQ(SaveArt(path.c_str(), 0), Failed(kStrDiskFull));
  EXPECT_FALSE(gDocument->Test(Flag::artOutputRunning));
}

}  // namespace
