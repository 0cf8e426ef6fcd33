// The DXF writer: real numbers, the fixed sections, layers by blackness,
// widths of open paths, flattened curves, the curve warning, and a check by
// the ezdxf auditor.
#include <cstring>

#include "core/records.h"
#include "engine/settings.h"
#include "output/art_writer.h"
#include "output/stream.h"
#include "platform/string_ids.h"
#include "tests/output/art_fixture.h"

namespace {

class DxfTest : public ArtTest {
 protected:
  std::string Save(int scratch = 0) {
    gPrefs->outputFormat = 5;
    std::string path = PathIn("art.dxf");
    saved_ = SaveArt(path.c_str(), scratch);
    EXPECT_TRUE(saved_.ok());
    return ReadFileBytes(path);
  }
  Status saved_;  // the last Save's result
  // Replaces the point words of path `index`.
  void SetWords(int index, const std::vector<int16_t>& words) {
    PathRecord* r = &gPaths[index];
    ASSERT_TRUE(MemResize(r->points, words.size() * 2 + 16));
    r->pointCapacity = static_cast<int16_t>(words.size() + 8);
    memcpy(MemLock(r->points), words.data(), words.size() * 2);
    MemUnlock(r->points);
    r->pointCount = static_cast<int16_t>(words.size());
  }
  static int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }
};

constexpr int16_t kCurve = static_cast<int16_t>(0x8000);

TEST_F(DxfTest, RealsHaveAtMostThreeDecimalsAndNoLeadingZero) {
  struct Case {
    double value;
    const char* text;
  } const cases[] = {{0, "0"},      {0.0004, "0"},      {0.5, ".5"},     {12.25, "12.25"}, {3, "3"},
                     {0.125, ".125"}, {-0.5, "-.5"},    {10, "10"},      {2.5, "2.5"},     {-0.0009, "0"},
                     {1.0 / 72, ".013"}, {-12.3456, "-12.345"}, {100.001, "100.001"}};
  for (const Case& c : cases) {
    char text[48];
    FormatDxfReal(c.value, text, sizeof text);
    EXPECT_STREQ(text, c.text) << c.value;
  }
}

TEST_F(DxfTest, EmptyArtWritesTheFixedSectionsOnly) {
  Image(2400, 3000, 300);
  EXPECT_EQ(Save(),
            "0\r\nSECTION\r\n2\r\nHEADER\r\n9\r\n$LIMMIN\r\n10\r\n0\r\n20\r\n0\r\n9\r\n$LIMMAX\r\n10\r\n8\r\n"
            "20\r\n10\r\n0\r\nENDSEC\r\n0\r\nSECTION\r\n2\r\nTABLES\r\n0\r\nTABLE\r\n2\r\nLAYER\r\n70\r\n2\r\n"
            "0\r\nLAYER\r\n2\r\n0\r\n0\r\nLAYER\r\n2\r\n1\r\n0\r\nENDTAB\r\n0\r\nENDSEC\r\n0\r\nSECTION\r\n"
            "2\r\nBLOCKS\r\n0\r\nENDSEC\r\n0\r\nSECTION\r\n2\r\nENTITIES\r\n0\r\nENDSEC\r\n0\r\nEOF\r\n");
}

TEST_F(DxfTest, LayersWidthsAndVertices) {
  Image(72, 144, 72);  // art scale 128: one inch is 72 pixels
  // A closed black-filled square: layer 1, no width.
  ArtRect(0, 0, 36, 72, {kPaintBlack, 0x000000FF, kPaintBlack, 0x00000000, 10, 0});
  // An open path with a white stroke (K = 0): layer 0 with its width.
  int open = StartArtPath(0, 144);
  ArtLineTo(72, 144);
  PaintArtPath(open, {kPaintBlack, 0x000000FF, kPaintWhite, 0x00000000, 10, PathFlag::openPath});
  // An empty path writes nothing.
  int empty = StartArtPath(1, 1);
  gPaths[empty].pointCount = 0;
  std::string text = Save();
  size_t entities = text.find("2\r\nENTITIES\r\n") + 13;
  EXPECT_EQ(text.substr(entities),
            "0\r\nPOLYLINE\r\n8\r\n1\r\n66\r\n1\r\n"
            "0\r\nVERTEX\r\n8\r\n1\r\n10\r\n0\r\n20\r\n2\r\n"
            "0\r\nVERTEX\r\n8\r\n1\r\n10\r\n.5\r\n20\r\n2\r\n"
            "0\r\nVERTEX\r\n8\r\n1\r\n10\r\n.5\r\n20\r\n1\r\n"
            "0\r\nVERTEX\r\n8\r\n1\r\n10\r\n0\r\n20\r\n1\r\n"
            "0\r\nVERTEX\r\n8\r\n1\r\n10\r\n0\r\n20\r\n2\r\n"
            "0\r\nSEQEND\r\n8\r\n1\r\n"
            "0\r\nPOLYLINE\r\n8\r\n0\r\n66\r\n1\r\n40\r\n.013\r\n41\r\n.013\r\n"
            "0\r\nVERTEX\r\n8\r\n0\r\n10\r\n0\r\n20\r\n0\r\n"
            "0\r\nVERTEX\r\n8\r\n0\r\n10\r\n1\r\n20\r\n0\r\n"
            "0\r\nSEQEND\r\n8\r\n0\r\n"
            "0\r\nENDSEC\r\n0\r\nEOF\r\n");
  EXPECT_TRUE(MessageIds().empty());  // no curves, no warning
}

TEST_F(DxfTest, CurvesAreFlattenedByTheirLength) {
  Image(64, 64, 72);
  // A long curve: nine points between its anchors; a tiny one (halves of
  // 8 art units or less): only its midpoint.
  int longCurve = StartArtPath(0, 0);
  SetWords(longCurve, {kCurve, 0, 3000, 0, 6000, 0, 9000, 0});
  int tiny = StartArtPath(0, 0);
  SetWords(tiny, {static_cast<int16_t>(kCurve | 100), 100, 104, 100, 108, 100, 112, 100});
  PaintArtPath(longCurve, {kPaintBlack, 0x000000FF, kPaintNone, 0, 10, PathFlag::openPath});
  PaintArtPath(tiny, {kPaintBlack, 0x000000FF, kPaintNone, 0, 10, 0});
  gConvSettings->lineType = 0;
  std::string text = Save();
  size_t second = text.find("POLYLINE", text.find("POLYLINE") + 1);
  EXPECT_EQ(Count(text.substr(0, second), "VERTEX"), 11);
  EXPECT_EQ(Count(text.substr(second), "VERTEX"), 3);
  // The flattened points are on the curve: x = 9000 t art units, f = 256.
  EXPECT_NE(text.find("10\r\n.048\r\n"), std::string::npos);  // t = 0.1: 900 / 256 / 72
  EXPECT_EQ(saved_, Done(kStrCurvesInStraightFormat));
}

TEST_F(DxfTest, CurveWarningOnlyForCurvedAndStraightLinesByTheUser) {
  // (A batch leaves the notice out where it shows save results.)
  struct Case {
    int16_t lineType;
    int scratch;
    bool warned;
  } const cases[] = {{0, 0, true}, {1, 0, false}, {2, 0, false}, {0, 1, false}};
  Image(64, 64, 72);
  int curve = StartArtPath(0, 0);
  SetWords(curve, {kCurve, 0, 3000, 0, 6000, 0, 9000, 0});
  PaintArtPath(curve, {kPaintBlack, 0x000000FF, kPaintNone, 0, 10, 0});
  for (const Case& c : cases) {
    ClearMessageLog();
    gConvSettings->lineType = c.lineType;
    gDocument->Set(Flag::artModified);
    Save(c.scratch);
    EXPECT_EQ(saved_, Done(c.warned ? kStrCurvesInStraightFormat : 0)) << c.lineType;
    EXPECT_TRUE(MessageIds().empty());
    EXPECT_EQ(gDocument->Test(Flag::artModified), c.scratch != 0);
  }
}

TEST_F(DxfTest, EzdxfAuditFindsNoErrors) {
  Image(200, 100, 100);
  ArtRect(10, 10, 60, 60, {kPaintBlack, 0x000000FF, kPaintNone, 0, 10, 0});
  int open = StartArtPath(80, 20);
  ArtCurveTo(120, 0, 160, 90, 190, 50);
  ArtLineTo(190, 90);
  PaintArtPath(open, {kPaintNone, 0, kPaintProcess, 0xFF000000, 25, PathFlag::openPath});
  Save();
  std::string script =
      "import sys, ezdxf\n"
      "doc = ezdxf.readfile(sys.argv[1])\n"
      "auditor = doc.audit()\n"
      "lines = list(doc.modelspace().query('POLYLINE'))\n"
      "print(len(auditor.errors), len(lines), [len(list(p.vertices)) for p in lines],\n"
      "      sorted(layer.dxf.name for layer in doc.layers))\n"
      "sys.exit(1 if auditor.has_errors else 0)\n";
  WriteFileBytes(PathIn("audit.py"), script);
  std::string out;
  int status = RunCommand("/usr/bin/python3 '" + PathIn("audit.py") + "' '" + PathIn("art.dxf") + "'", &out);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("0 2 [5, 12] ['0', '1'"), std::string::npos) << out;
}

}  // namespace
