// tessary-cli as a user runs it: usage errors, bad input, the batch rules
// (names, existing files, destination), settings presets, and the formats.
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/support.h"

namespace {

struct CliRun {
  int status;
  std::string out, err;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string Binary() { return std::string(TESS_BINARY_DIR) + "/bin/tessary-cli"; }
std::string Data(const std::string& name) { return SourceDir() + "/tests/cli/data/" + name; }

// A raw PGM or PBM: width, height and one byte per pixel, 1 for black.
struct Bitmap {
  int width = 0, height = 0;
  std::vector<uint8_t> ink;
  int At(int x, int y) const { return x < width && y < height ? ink[static_cast<size_t>(y) * width + x] : 0; }
};

Bitmap ReadPnm(const std::string& bytes) {
  Bitmap b;
  size_t pos = 2;
  auto number = [&]() {
    while (pos < bytes.size() && (isspace(static_cast<unsigned char>(bytes[pos])) || bytes[pos] == '#')) {
      if (bytes[pos] == '#') pos = bytes.find('\n', pos);
      ++pos;
    }
    int v = 0;
    while (pos < bytes.size() && isdigit(static_cast<unsigned char>(bytes[pos]))) v = v * 10 + (bytes[pos++] - '0');
    return v;
  };
  bool pbm = bytes.compare(0, 2, "P4") == 0;
  b.width = number();
  b.height = number();
  int maxval = pbm ? 1 : number();
  ++pos;
  b.ink.resize(static_cast<size_t>(b.width) * b.height);
  size_t stride = pbm ? (b.width + 7) / 8 : b.width;
  for (int y = 0; y < b.height; ++y)
    for (int x = 0; x < b.width; ++x) {
      size_t at = pos + y * stride + (pbm ? x / 8 : x);
      if (at >= bytes.size()) return Bitmap{};
      uint8_t v = static_cast<uint8_t>(bytes[at]);
      b.ink[static_cast<size_t>(y) * b.width + x] = pbm ? (v >> (7 - x % 8)) & 1 : v < (maxval + 1) / 2;
    }
  return b;
}

// The left edge of the leftmost black pixel, the right edge of the
// rightmost; -1 when blank.
std::pair<int, int> InkColumns(const Bitmap& b) {
  int left = b.width, right = -1;
  for (int y = 0; y < b.height; ++y)
    for (int x = 0; x < b.width; ++x)
      if (b.At(x, y)) {
        left = std::min(left, x);
        right = std::max(right, x + 1);
      }
  return {right < 0 ? -1 : left, right};
}

class CliTest : public TessTest {
 protected:
  void SetUp() override {
    TessTest::SetUp();
    struct stat st;
    ASSERT_EQ(stat(Binary().c_str(), &st), 0) << "build the tessary-cli target first";
  }
  CliRun Cli(const std::vector<std::string>& args) {
    std::string cmd = "cd " + Quote(Dir()) + " && " + Quote(Binary());
    for (const auto& a : args) {
      cmd += ' ';
      cmd += Quote(a);
    }
    cmd += " >" + Quote(PathIn(".out")) + " 2>" + Quote(PathIn(".err")) + " </dev/null";
    int raw = system(cmd.c_str());
    CliRun r{WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), ReadFileBytes(PathIn(".out")),
          ReadFileBytes(PathIn(".err"))};
    return r;
  }
  void Copy(const std::string& from, const std::string& to) { WriteFileBytes(to, ReadFileBytes(from)); }
  // Renders an EPS (anti-aliased, cut at 50 %) on a page of width x height
  // pixels at `dpi`, the art's origin at the lower left corner.
  Bitmap Render(const std::string& eps, double dpi, int width, int height) {
    std::string pgm = PathIn("render.pgm");
    std::string cmd = "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pgmraw -dGraphicsAlphaBits=4 -r" +
                      std::to_string(dpi) + " -g" + std::to_string(width) + "x" + std::to_string(height) +
                      " -sOutputFile=" + Quote(pgm) + " " + Quote(eps) + " >/dev/null 2>&1";
    EXPECT_EQ(system(cmd.c_str()), 0) << eps;
    return ReadPnm(ReadFileBytes(pgm));
  }
  // XOR pixels / black pixels of the reference drawing, the art rendered on
  // an image of width x height pixels holding the drawing at its top left.
  // The art's resolution is measured: the drawing's ink width against the
  // art's width rendered at 72 dpi.
  double Mismatch(const std::string& eps, const Bitmap& want, int width, int height, int dx = 0, int dy = 0) {
    Bitmap at72 = Render(eps, 72, width, height);
    auto [l72, r72] = InkColumns(at72);
    auto [lw, rw] = InkColumns(want);  // the drawing's own ink width
    if (r72 <= l72 || rw <= lw) return 99;
    double dpi = 72.0 * (rw - lw) / (r72 - l72);
    Bitmap got = Render(eps, dpi, width, height);
    if (got.width != width) return 99;
    long black = 0, xr = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        int w = x >= dx && y >= dy ? want.At(x - dx, y - dy) : 0;
        black += w;
        xr += w ^ got.At(x, y);
      }
    return static_cast<double>(xr) / black;
  }
};

TEST_F(CliTest, BadUsageExitsWithTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--bogus", "a.tif"},
      {"--tolerance", "9", "a.tif"},
      {"--tolerance", "x", "a.tif"},
      {"--noise", "0", "a.tif"},
      {"--method", "spiral", "a.tif"},
      {"--line-type", "wavy", "a.tif"},
      {"--tolerance"},
      {"a.tif", "-o", "a.png"},
      {"a.tif", "b.tif", "-o", "a.eps"},
      {"a.tif", "-o", "a.dxf", "--format", "eps-bw"},
      {"a.tif", "-o", "a.eps", "-d", "."},
      {"--format", "pdf", "a.tif"},
      {"--format", "emf", "a.tif"},  // no metafile writer yet
      {"--preset", "Fine", "a.tif"},
      {"--settings", "missing.set", "a.tif"},
      {"-d", "no/such/folder", "a.tif"},
  };
  for (const auto& args : cases) {
    std::string line;
    for (const auto& a : args) line += a + " ";
    CliRun r = Cli(args);
    EXPECT_EQ(r.status, 2) << line << "\n" << r.err;
    EXPECT_NE(r.err.find("tessary-cli"), std::string::npos) << line;
  }
  CliRun help = Cli({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* word : {"--output-dir", "--replace", "--method", "--settings", "--preset", "--save-image",
                           "--downsample", "--quiet", "eps-color", "Exit status"})
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
}

TEST_F(CliTest, BadInputNeverLeavesAnArtFile) {
  std::string tiff = ReadFileBytes(Data("drawing.tif"));
  WriteFileBytes(PathIn("garbage.tif"), "this is no image at all");
  WriteFileBytes(PathIn("empty.pcx"), "");
  WriteFileBytes(PathIn("cut.tif"), tiff.substr(0, tiff.size() / 3));
  WriteFileBytes(PathIn("cut.sun"), ReadFileBytes(Data("drawing.sun")).substr(0, 40));
  WriteFileBytes(PathIn("cut.pnt"), ReadFileBytes(Data("drawing.pnt")).substr(0, 600));
  MakeFolder(PathIn("folder.tif").c_str());
  for (const char* in : {"garbage.tif", "empty.pcx", "cut.tif", "cut.sun", "cut.pnt", "folder.tif", "none.tif"}) {
    CliRun r = Cli({in, "-o", "art.eps"});
    EXPECT_EQ(r.status, 1) << in << "\n" << r.err;
    EXPECT_FALSE(FileExists(PathIn("art.eps").c_str())) << in;
  }
  // The same files in one batch: each is reported, none leaves art behind.
  CliRun r = Cli({"-q", "garbage.tif", "empty.pcx", "cut.tif", "cut.sun", "cut.pnt", "none.tif"});
  EXPECT_EQ(r.status, 1) << r.err;
  for (const char* art : {"garbage.eps", "empty.eps", "cut.eps", "none.eps"})
    EXPECT_FALSE(FileExists(PathIn(art).c_str())) << art;
}

TEST_F(CliTest, ExistingArtIsSkippedUnlessReplaced) {
  MakeFolder(PathIn("in/").c_str());
  MakeFolder(PathIn("out/").c_str());
  WriteFileBytes(PathIn("in/scan.tif"), "not an image");
  WriteFileBytes(PathIn("out/scan.dxf"), "old");
  CliRun r = Cli({"in/scan.tif", "-d", "out", "--format", "dxf"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("A file already exists with the name:\nout/scan.dxf"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("skipped"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFileBytes(PathIn("out/scan.dxf")), "old");

  r = Cli({"in/scan.tif", "-d", "out", "--format", "dxf", "--replace"});
  EXPECT_EQ(r.err.find("already exists"), std::string::npos) << r.err;
}

TEST_F(CliTest, DuplicateNamesAreWarnedAboutButConverted) {
  MakeFolder(PathIn("a/").c_str());
  MakeFolder(PathIn("b/").c_str());
  WriteFileBytes(PathIn("a/page.tif"), "x");
  WriteFileBytes(PathIn("b/page.pcx"), "x");
  CliRun r = Cli({"a/page.tif", "b/page.pcx", "-d", "."});
  EXPECT_NE(r.err.find("matches another (PAGE)"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("b/page.pcx"), std::string::npos) << r.err;  // the second one was tried too
}

TEST_F(CliTest, SettingsPresetMustExist) {
  // A settings file with one preset "Fine" (tolerance 1.5), written byte by byte.
  std::string file("\xB8\xB0\xED\xFE\x02\x00", 6);
  std::string record(736, '\0');
  record[18] = 1;
  std::string preset(68, '\0');
  preset.replace(0, 4, "Fine");
  preset[32] = 0x48;
  preset[42] = static_cast<char>(800 & 0xFF);
  preset[43] = static_cast<char>(800 >> 8);
  preset[56] = 15;
  WriteFileBytes(PathIn("my.set"), file + record + preset);
  WriteFileBytes(PathIn("x.tif"), "x");
  CliRun r = Cli({"--settings", "my.set", "--preset", "Coarse", "x.tif"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("presets: Fine"), std::string::npos) << r.err;
  r = Cli({"--settings", "my.set", "--preset", "Fine", "x.tif"});
  EXPECT_EQ(r.status, 1) << r.err;  // past the options: only the input is bad
  WriteFileBytes(PathIn("bad.set"), "nonsense");
  r = Cli({"--settings", "bad.set", "x.tif"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Invalid settings file, using defaults."), std::string::npos) << r.err;
}

TEST_F(CliTest, EveryReaderToEveryFormat) {
  // The inputs were written by third-party tools (see data/make_fixtures.sh);
  // the Ranvelle document by our own pixel writer, as no other tool writes it.
  Bitmap want = ReadPnm(ReadFileBytes(Data("drawing.pbm")));
  ASSERT_EQ(want.width, 400);
  CliRun saved = Cli({"-q", Data("drawing.tif"), "--save-image", "drawing.rvd"});
  ASSERT_EQ(saved.status, 0) << saved.err;
  struct Input {
    std::string path;
    int width, height;  // the image as its format holds it
    int dx, dy;         // where the drawing lies in it (MacPaint pages are centred by the tool)
  } inputs[] = {{Data("drawing.tif"), 400, 267, 0, 0},   {Data("drawing.pcx"), 400, 267, 0, 0},
                {Data("drawing.sun"), 400, 267, 0, 0},   {Data("drawing.pnt"), 576, 720, 88, 226},
                {PathIn("drawing.rvd"), 400, 267, 0, 0},  {Data("drawing-g4.tif"), 400, 267, 0, 0},
                {Data("drawing.png"), 400, 267, 0, 0},   {Data("drawing.gif"), 400, 267, 0, 0},
                {Data("drawing.bmp"), 400, 267, 0, 0},   {Data("drawing.pbm"), 400, 267, 0, 0}};
  struct Format {
    const char* name;
    const char* file;
    std::string start;
  } formats[] = {{"qv", "art.qv", "%!PS-Quenda-3.0\r"},
                 {"eps", "art.eps", "%!PS-Quenda-3.0 EPSF-3.0\r"},
                 {"eps-bw", "art.eps", "\xC5\xD0\xD3\xC6"},
                 {"eps-color", "art.eps", "\xC5\xD0\xD3\xC6"},
                 {"dxf", "art.dxf", "0\r\nSECTION\r\n"}};
  for (const Input& in : inputs) {
    for (const Format& f : formats) {
      SCOPED_TRACE(in.path + " " + f.name);
      FileDelete(PathIn(f.file).c_str());
      CliRun r = Cli({"-q", "--format", f.name, in.path, "-o", f.file});
      ASSERT_EQ(r.status, 0) << r.err;
      std::string art = ReadFileBytes(PathIn(f.file));
      EXPECT_EQ(art.compare(0, f.start.size(), f.start), 0) << art.substr(0, 40);
      if (std::string(f.name) == "eps") {
        // The art looks like the drawing.
        EXPECT_LT(Mismatch(PathIn(f.file), want, in.width, in.height, in.dx, in.dy), 0.15);
      }
    }
  }
}

TEST_F(CliTest, BatchWritesEachArtFileByTheFormatsRules) {
  MakeFolder(PathIn("scans/").c_str());
  MakeFolder(PathIn("art/").c_str());
  Copy(Data("drawing.tif"), PathIn("scans/page one.tif"));
  Copy(Data("drawing.pcx"), PathIn("scans/logo.pcx"));
  WriteFileBytes(PathIn("scans/broken.tif"), "II*\0broken");
  CliRun r = Cli({"--format", "dxf", "scans/page one.tif", "scans/broken.tif", "scans/logo.pcx", "-d", "art"});
  EXPECT_EQ(r.status, 1) << r.err;  // one file could not be read
  EXPECT_TRUE(FileExists(PathIn("art/page one.dxf").c_str()));
  EXPECT_TRUE(FileExists(PathIn("art/logo.dxf").c_str()));
  EXPECT_FALSE(FileExists(PathIn("art/broken.dxf").c_str()));
  EXPECT_NE(r.err.find("scans/broken.tif: not converted"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Bezier curves"), std::string::npos) << r.err;  // no questions or warnings in a batch

  // Beside the sources, as .qv; all good files give status 0.
  r = Cli({"-q", "--format", "qv", "scans/page one.tif", "scans/logo.pcx"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(FileExists(PathIn("scans/page one.qv").c_str()));
  EXPECT_TRUE(FileExists(PathIn("scans/logo.qv").c_str()));
  EXPECT_EQ(r.err, "");
}

TEST_F(CliTest, SettingsReachTheConversion) {
  // Straight lines only leave no curve operator in the art.
  CliRun r = Cli({"-q", "--line-type", "straight", Data("drawing.tif"), "-o", "straight.eps"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = Cli({"-q", Data("drawing.tif"), "-o", "mixed.eps"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto curves = [](const std::string& art) {
    int n = 0;
    for (size_t at = 0; (at = art.find(" c\r", at)) != std::string::npos; ++at) ++n;
    for (size_t at = 0; (at = art.find(" C\r", at)) != std::string::npos; ++at) ++n;
    return n;
  };
  EXPECT_GT(curves(ReadFileBytes(PathIn("mixed.eps"))), 0);
  EXPECT_EQ(curves(ReadFileBytes(PathIn("straight.eps"))), 0);
  // Reverse Image traces the white around the shapes instead.
  r = Cli({"-q", "--reverse", Data("drawing.tif"), "-o", "reverse.eps"});
  ASSERT_EQ(r.status, 0) << r.err;
  Bitmap want = ReadPnm(ReadFileBytes(Data("drawing.pbm")));
  EXPECT_LT(Mismatch(PathIn("mixed.eps"), want, 400, 267), 0.15);
  EXPECT_GT(Mismatch(PathIn("reverse.eps"), want, 400, 267), 0.5);
}

}  // namespace
