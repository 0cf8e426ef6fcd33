// tessary-cli as a user runs it: usage errors, bad input, the batch rules
// (names, existing files, destination), settings presets, the formats, the
// exit status of incomplete art, and what the program never destroys.
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/records.h"
#include "platform/platform.h"
#include "platform/string_ids.h"
#include "raster/pixel_writers.h"
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
  CliRun Cli(const std::vector<std::string>& args, const std::string& input = "/dev/null") {
    std::string cmd = "cd " + Quote(Dir()) + " && " + Quote(Binary());
    for (const auto& a : args) {
      cmd += ' ';
      cmd += Quote(a);
    }
    cmd += " >" + Quote(PathIn(".out")) + " 2>" + Quote(PathIn(".err")) + " <" + Quote(input);
    int raw = system(cmd.c_str());
    CliRun r{WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), ReadFileBytes(PathIn(".out")),
          ReadFileBytes(PathIn(".err"))};
    return r;
  }
  void Copy(const std::string& from, const std::string& to) { WriteFileBytes(to, ReadFileBytes(from)); }
  // Writes a one-bit TIFF of width x height with our own writer; `ink`
  // tells which pixels are black.
  template <typename F>
  void WriteBitmapTiff(const std::string& path, int width, int height, F ink) {
    MakeBitmapImage(width, height, 300);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        if (ink(x, y)) SetWorkPixel(x, y);
    ASSERT_TRUE(WritePixelImage(path.c_str(), 3).ok());
    FreeWorkBits();
  }
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
      {"--format", "pdf", "a.tif", "-o", "a.svg"},
      {"--format", "emf", "a.tif"},  // no metafile writer yet
      {"--preset", "Fine", "a.tif"},
      {"--settings", "missing.set", "a.tif"},
      {"-d", "no/such/folder", "a.tif"},
      {"--colors", "rainbow", "a.tif"},
      {"--complexity", "1", "a.tif"},
      {"--complexity", "21", "a.tif"},
      {"--noise-reduction", "some", "a.tif"},
      {"--threshold", "101", "a.tif"},
      {"--boost", "20", "a.tif"},  // without --contrast
      {"--levels", "10,1.0,11", "a.tif"},
      {"--levels", "0,10,255", "a.tif"},
      {"--levels", "0,1", "a.tif"},
      {"--colors", "limited", "--method", "centerline", "a.tif"},
      {"--colors", "custom", "--tagged-only", "a.tif"},  // the built-in colors are not tagged
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
                           "--downsample", "--refine-curves", "--quiet", "eps-color", "Exit status", "--colors",
                           "--complexity", "--levels", "--tagged-only"})
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
                 {"dxf", "art.dxf", "0\r\nSECTION\r\n"},
                 {"svg", "art.svg", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg "},
                 {"pdf", "art.pdf", "%PDF-1.4\n"}};
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

  // SVG and PDF files are named by their format too.
  for (const char* format : {"svg", "pdf"}) {
    r = Cli({"-q", "--format", format, "scans/logo.pcx", "-d", "art"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(FileExists(PathIn(std::string("art/logo.") + format).c_str())) << format;
  }

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
  // Refine curves keeps the segments and moves control points.
  r = Cli({"-q", "--refine-curves", Data("drawing.tif"), "-o", "refined.eps"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string refined = ReadFileBytes(PathIn("refined.eps")), mixed = ReadFileBytes(PathIn("mixed.eps"));
  EXPECT_EQ(curves(refined), curves(mixed));
  EXPECT_NE(refined.substr(refined.find("%%EndSetup")), mixed.substr(mixed.find("%%EndSetup")));
  EXPECT_LT(Mismatch(PathIn("refined.eps"), want, 400, 267), 0.15);
}

TEST_F(CliTest, AnOutputNeverReplacesAnInput) {
  std::string eps = ReadFileBytes(SourceDir() + "/tests/fixtures/raster/eps-preview.tif");
  std::string tif = ReadFileBytes(Data("drawing.tif"));
  WriteFileBytes(PathIn("x.eps"), eps);
  WriteFileBytes(PathIn("in.tif"), tif);
  ASSERT_EQ(link(PathIn("in.tif").c_str(), PathIn("link.tif").c_str()), 0);
  std::string refused = "tessary-cli: " + FormatString(kStrOutputIsInput, "x.eps");
  struct Case {
    std::vector<std::string> args;
    std::string line;
  } const cases[] = {
      {{"x.eps", "-o", "x.eps"}, refused},  // an EPS read through its TIFF preview
      {{"x.eps", "-o", "./x.eps"}, "because it is an input file"},
      {{"in.tif", "--save-image", "in.tif", "--downsample"}, "because it is an input file"},
      {{"in.tif", "--save-image", "link.tif"}, "because it is an input file"},
      {{"x.eps", "-d", "."}, "x.eps: not converted: its art file would replace an input file"},
      {{"in.tif", "x.eps", "--format", "eps", "-r"}, "x.eps: not converted: its art file would replace"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "-q");
    CliRun r = Cli(args);
    EXPECT_EQ(r.status, 1) << args[1] << " " << args[2] << "\n" << r.err;
    EXPECT_NE(r.err.find(c.line), std::string::npos) << r.err;
    EXPECT_EQ(ReadFileBytes(PathIn("x.eps")), eps);
    EXPECT_EQ(ReadFileBytes(PathIn("in.tif")), tif);
  }
  CliRun r = Cli({"in.tif", "-o", "same.eps", "--save-image", "same.eps"});
  EXPECT_EQ(r.status, 2) << r.err;
}

TEST_F(CliTest, EveryFailureSaysSoOnStandardErrorEvenWhenQuiet) {
  ASSERT_EQ(mkfifo(PathIn("pipe.tif").c_str(), 0644), 0);
  ASSERT_EQ(mkfifo(PathIn("pipe.eps").c_str(), 0644), 0);
  MakeFolder(PathIn("folder.tif").c_str());
  Copy(Data("drawing.tif"), PathIn("in.tif"));
  WriteFileBytes(PathIn("garbage.tif"), std::string(64, 'g'));
  std::string longName = std::string(250, 'n') + ".tif";
  Copy(Data("drawing.tif"), PathIn(longName));
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string line;
  } const cases[] = {
      {{"pipe.tif", "-o", "a.eps"}, 1, "pipe.tif: not converted: it is not a regular file"},
      {{"pipe.tif"}, 1, "pipe.tif: not converted: it is not a regular file"},
      {{"folder.tif", "-o", "a.eps"}, 1, "folder.tif: not converted: it is a folder, not an image file"},
      {{"folder.tif"}, 1, "folder.tif: not converted: it is a folder"},
      {{"none.tif", "-o", "a.eps"}, 1, "none.tif: not converted: no such file"},
      // The reader's own message says why, on the same line.
      {{"garbage.tif", "-o", "a.eps"}, 1, "garbage.tif: not converted: the image could not be opened or read (Unknown"},
      {{longName, "-d", Dir()}, 1, "not converted: the output name is too long"},
      {{"in.tif", "-o", "pipe.eps"}, 1, "pipe.eps: not written: it is a pipe or device"},
      {{"in.tif", "--save-image", "folder.tif"}, 1, "folder.tif: not written: it is a folder"},
      {{"--settings", "pipe.tif", "in.tif"}, 2, "the settings file 'pipe.tif' is not a regular file"},
      {{"--settings", "folder.tif", "in.tif"}, 2, "the settings file 'folder.tif' is a folder"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "-q");
    CliRun r = Cli(args);  // a FIFO never makes it wait: the run ends
    EXPECT_EQ(r.status, c.status) << c.line << "\n" << r.err;
    EXPECT_NE(r.err.find(c.line), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), c.status == 2 ? 2 : 1) << r.err;
    EXPECT_EQ(r.out, "") << "messages never go to standard output";
  }
  EXPECT_FALSE(FileExists(PathIn("a.eps").c_str()));
  EXPECT_EQ(FileKindOf(PathIn("pipe.eps").c_str()), kFileSpecial) << "the FIFO was not replaced";
}

TEST_F(CliTest, DroppedPathsGiveExitStatusThree) {
  // 12100 equal squares of 3 x 3 pixels: more than the 10000 paths a
  // conversion keeps. The art keeps as many as it can and says how many
  // went.
  WriteBitmapTiff(PathIn("dots.tif"), 550, 550, [](int x, int y) { return x % 5 < 3 && y % 5 < 3; });
  for (bool batch : {false, true}) {
    std::vector<std::string> args = {"-q", "--noise", "1", "dots.tif"};
    if (!batch) args.insert(args.end(), {"-o", "dots.eps"});
    FileDelete(PathIn("dots.eps").c_str());
    CliRun r = Cli(args);
    EXPECT_EQ(r.status, 3) << r.err;
    size_t at = r.err.find("dots.tif -> dots.eps: saved, but incomplete: ");
    ASSERT_NE(at, std::string::npos) << r.err;
    long dropped = atol(r.err.c_str() + at + strlen("dots.tif -> dots.eps: saved, but incomplete: "));
    EXPECT_GT(dropped, 0);
    EXPECT_LE(dropped, 12100 - 8750) << "the art keeps most of what the limit allows";
    std::string art = ReadFileBytes(PathIn("dots.eps"));
    EXPECT_NE(art.find("%%EOF"), std::string::npos);
  }
  CliRun help = Cli({"--help"});
  EXPECT_NE(help.out.find("  3  every file was saved, but some art is incomplete"), std::string::npos);
}

TEST_F(CliTest, SignalsStopTheRunAndCleanTheScratchFolder) {
  // A large noisy page keeps the conversion busy for a while.
  WriteBitmapTiff(PathIn("noise.tif"), 4000, 4000, [](int x, int y) { return ((x * 7 + y * 13) ^ (x * y)) % 5 == 0; });
  std::string tmp = PathIn("tmp/");
  MakeFolder(tmp.c_str());
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      if (chdir(Dir().c_str()) != 0) _exit(99);
      setenv("TMPDIR", tmp.c_str(), 1);
      freopen("/dev/null", "w", stderr);
      execl(Binary().c_str(), "tessary-cli", "-q", "--noise", "1", "noise.tif", "-o", "noise.eps",
            static_cast<char*>(nullptr));
      _exit(98);
    }
    auto waitFor = [](auto done) {  // up to 30 s
      for (int i = 0; i < 600; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      return false;
    };
    EXPECT_TRUE(waitFor([&] { return !FolderEntries(tmp).empty(); })) << "the run made its scratch folder";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(pid, sig);
    int status = 0;
    EXPECT_TRUE(waitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; })) << "the run stopped";
    if (kill(pid, 0) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    EXPECT_TRUE(WIFEXITED(status)) << "it ended by itself, not by the signal";
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_TRUE(FolderEntries(tmp).empty()) << "the scratch folder is gone";
    EXPECT_FALSE(FileExists(PathIn("noise.eps").c_str()));
  }
}

// A small file system of its own that the test can fill (needs root).
class FullDisk {
 public:
  explicit FullDisk(const std::string& folder) : folder_(folder) {
    MakeFolder(folder.c_str());
    mounted_ = geteuid() == 0 && mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=256k") == 0;
  }
  ~FullDisk() {
    if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  // Fills the disk but for about `room` bytes.
  void Fill(off_t room) {
    std::string filler = folder_ + "filler";
    FILE* f = fopen(filler.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::string block(1024, 'f');
    while (fwrite(block.data(), 1, block.size(), f) == block.size() && fflush(f) == 0) {
    }
    fclose(f);
    struct stat st;
    ASSERT_EQ(stat(filler.c_str(), &st), 0);
    ASSERT_EQ(truncate(filler.c_str(), st.st_size - room), 0);
  }

 private:
  std::string folder_;
  bool mounted_ = false;
};

TEST_F(CliTest, AFullDiskKeepsTheFilesThatWereThere) {
  FullDisk disk(PathIn("disk/"));
  if (!disk.mounted()) GTEST_SKIP() << "needs root to mount a small file system";
  Copy(Data("drawing.tif"), PathIn("page.tif"));
  WriteFileBytes(PathIn("disk/page.eps"), "the old art");
  WriteFileBytes(PathIn("disk/page.tif"), "the old image");
  disk.Fill(4096);
  struct Case {
    std::vector<std::string> args;
    const char* kept;
    const char* old;
  } const cases[] = {
      {{"--format", "eps-color", "page.tif", "-o", "disk/page.eps"}, "disk/page.eps", "the old art"},
      {{"--format", "eps-color", "page.tif", "-d", "disk", "-r"}, "disk/page.eps", "the old art"},
      {{"page.tif", "--save-image", "disk/page.tif"}, "disk/page.tif", "the old image"},
  };
  for (const Case& c : cases) {
    CliRun r = Cli(c.args);
    EXPECT_EQ(r.status, 1) << r.err;
    // One line, with the disk message as the reason.
    EXPECT_NE(r.err.find(" (Can't save file because the disk is full or locked.)\n"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(ReadFileBytes(PathIn(c.kept)), c.old);
    EXPECT_EQ(FolderEntries(PathIn("disk/")), (std::vector<std::string>{"filler", "page.eps", "page.tif"}));
  }
}

// The art text without the lines that name the file or the time.
std::string ArtBody(const std::string& eps) {
  std::string body, line;
  for (char c : eps + "\r") {
    if (c != '\r') {
      line += c;
      continue;
    }
    if (line.rfind("%%Title", 0) != 0 && line.rfind("%%CreationDate", 0) != 0) body += line + "\n";
    line.clear();
  }
  return body;
}

TEST_F(CliTest, StandardInputAndOutput) {
  Copy(Data("drawing.tif"), PathIn("drawing.tif"));
  Copy(Data("drawing.png"), PathIn("drawing.png"));
  ASSERT_EQ(Cli({"drawing.tif", "-o", "file.eps"}).status, 0);
  std::string wanted = ArtBody(ReadFileBytes(PathIn("file.eps")));

  // - reads the image from standard input and writes the art to standard
  // output; the kind is told by the content, so a PNG comes through too.
  for (const char* image : {"drawing.tif", "drawing.png"}) {
    CliRun piped = Cli({"-"}, PathIn(image));
    EXPECT_EQ(piped.status, 0) << image << "\n" << piped.err;
    EXPECT_EQ(piped.out.rfind("%!PS-Quenda-3.0", 0), 0u) << image;
    EXPECT_EQ(ArtBody(piped.out), wanted) << image;
  }
  // -o names a file for the art of standard input; -o - sends a file's art out.
  EXPECT_EQ(Cli({"-", "-o", "piped.eps"}, PathIn("drawing.tif")).status, 0);
  EXPECT_EQ(ArtBody(ReadFileBytes(PathIn("piped.eps"))), wanted);
  CliRun out = Cli({"drawing.tif", "-o", "-", "--format", "dxf"});
  EXPECT_EQ(out.status, 0) << out.err;
  EXPECT_EQ(out.out.rfind("0\r\nSECTION", 0), 0u);

  // Nothing on standard input, or no image there: a failure, and nothing
  // written to standard output.
  WriteFileBytes(PathIn("junk"), "no image here");
  for (const char* input : {"/dev/null", "junk"}) {
    CliRun bad = Cli({"-"}, input == std::string("junk") ? PathIn("junk") : input);
    EXPECT_EQ(bad.status, 1) << input;
    EXPECT_EQ(bad.out, "") << input;
    EXPECT_NE(bad.err.find("-: "), std::string::npos) << bad.err;
  }
  EXPECT_EQ(Cli({"-", "drawing.tif"}).status, 2) << "standard input is the only INPUT";
}

TEST_F(CliTest, ResolutionOverridesTheFiles) {
  // The sample is 1200 x 750 pixels at 300 dpi: 292 x 180 points (the
  // width padded to 1216 pixels).
  Copy(SourceDir() + "/samples/sample.tif", PathIn("sample.tif"));
  struct Case {
    std::vector<std::string> options;
    const char* box;
  } const cases[] = {
      {{}, "%%BoundingBox:0 0 292 180\r"},
      {{"--resolution", "150"}, "%%BoundingBox:0 0 584 360\r"},
      {{"--resolution", "72"}, "%%BoundingBox:0 0 1216 750\r"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"sample.tif", "-o", "sample.eps"});
    ASSERT_EQ(Cli(args).status, 0);
    EXPECT_NE(ReadFileBytes(PathIn("sample.eps")).find(c.box), std::string::npos) << c.box;
  }
  for (const char* bad : {"0", "23", "4001", "x"}) EXPECT_EQ(Cli({"--resolution", bad, "sample.tif"}).status, 2) << bad;
}

TEST_F(CliTest, WorkersGiveWhatOneProcessGives) {
  // The same batch in one process and in three: the same art files, the same
  // skipped and failed items, the same exit status.
  std::vector<std::string> inputs;
  for (const char* run : {"one", "three"}) {
    std::string dir = PathIn(run) + "/";
    MakeFolder(dir.c_str());
    for (int i = 0; i < 6; ++i) Copy(Data(i % 2 ? "drawing.png" : "drawing.tif"), dir + "d" + std::to_string(i) + (i % 2 ? ".png" : ".tif"));
    WriteFileBytes(dir + "bad.tif", "not an image");
    WriteFileBytes(dir + "d4.eps", "kept");  // skipped: it exists
  }
  std::vector<std::string> names = {"bad.tif", "d0.tif", "d1.png", "d2.tif", "d3.png", "d4.tif", "d5.png"};
  CliRun results[2];
  for (int k = 0; k < 2; ++k) {
    std::vector<std::string> args = {"-j", k ? "3" : "1"};
    for (const std::string& n : names) args.push_back((k ? "three/" : "one/") + n);
    results[k] = Cli(args);
  }
  EXPECT_EQ(results[0].status, 1) << results[0].err;
  EXPECT_EQ(results[1].status, 1) << results[1].err;
  auto lines = [](std::string text, const std::string& folder) {
    std::vector<std::string> out;
    for (size_t at; (at = text.find(folder)) != std::string::npos;) text.erase(at, folder.size());
    for (size_t end; (end = text.find('\n')) != std::string::npos; text.erase(0, end + 1)) out.push_back(text.substr(0, end));
    std::sort(out.begin(), out.end());
    return out;
  };
  EXPECT_EQ(lines(results[0].err, "one/"), lines(results[1].err, "three/"));
  for (int i = 0; i < 6; ++i) {
    std::string art = "d" + std::to_string(i) + ".eps";
    EXPECT_EQ(ArtBody(ReadFileBytes(PathIn("one/" + art))), ArtBody(ReadFileBytes(PathIn("three/" + art)))) << art;
  }
  EXPECT_EQ(ReadFileBytes(PathIn("three/d4.eps")), "kept");
}

TEST_F(CliTest, AStopReachesEveryWorker) {
  // Large noisy pages keep every worker busy for a while; Ctrl+C reaches
  // the whole process group from a terminal.
  WriteBitmapTiff(PathIn("noise.tif"), 3000, 3000, [](int x, int y) { return ((x * 7 + y * 13) ^ (x * y)) % 5 == 0; });
  const int pages = 6;
  for (int i = 1; i < pages; ++i) Copy(PathIn("noise.tif"), PathIn("noise" + std::to_string(i) + ".tif"));
  std::string tmp = PathIn("tmp/");
  MakeFolder(tmp.c_str());
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setpgid(0, 0);
    if (chdir(Dir().c_str()) != 0) _exit(99);
    setenv("TMPDIR", tmp.c_str(), 1);
    if (!freopen(".err", "w", stderr)) _exit(97);
    execl(Binary().c_str(), "tessary-cli", "-j", "2", "--noise", "1", "noise.tif", "noise1.tif", "noise2.tif",
          "noise3.tif", "noise4.tif", "noise5.tif", static_cast<char*>(nullptr));
    _exit(98);
  }
  setpgid(pid, pid);
  auto waitFor = [](auto done) {  // up to 30 s
    for (int i = 0; i < 600; ++i) {
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  };
  // The parent's scratch folder and one of each worker.
  EXPECT_TRUE(waitFor([&] { return FolderEntries(tmp).size() >= 3; })) << "the workers started";
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  kill(-pid, SIGINT);
  int status = 0;
  EXPECT_TRUE(waitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; })) << "the run stopped";
  if (kill(pid, 0) == 0) {
    kill(-pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_TRUE(FolderEntries(tmp).empty()) << "every scratch folder is gone";
  std::string err = ReadFileBytes(PathIn(".err"));
  int reported = 0;
  for (int i = 0; i < pages; ++i) {
    std::string name = i ? "noise" + std::to_string(i) : std::string("noise");
    std::string art = PathIn(name + ".eps");
    bool saved = err.find(name + ".tif -> ") != std::string::npos;
    EXPECT_EQ(FileExists(art.c_str()), saved) << "no partial art file: " << name;
    reported += saved || err.find(name + ".tif: ") != std::string::npos;
  }
  EXPECT_EQ(reported, pages) << err;
  EXPECT_NE(err.find("stopped"), std::string::npos) << err;
  for (const std::string& entry : FolderEntries(Dir()))
    EXPECT_EQ(entry.find(".tessary-"), std::string::npos) << "a temporary file was left: " << entry;
}

}  // namespace

// --- Gray and color images -------------------------------------------------------------

// A picture of width x height RGB pixels.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  const uint8_t* At(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

// Reads a binary PPM (comments allowed in the header).
Picture ReadPpm(const std::string& bytes) {
  Picture p;
  size_t pos = 2;
  auto number = [&]() {
    while (pos < bytes.size() && (isspace(static_cast<unsigned char>(bytes[pos])) || bytes[pos] == '#')) {
      if (bytes[pos] == '#')
        while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
      else
        ++pos;
    }
    int v = 0;
    while (pos < bytes.size() && isdigit(static_cast<unsigned char>(bytes[pos]))) v = v * 10 + (bytes[pos++] - '0');
    return v;
  };
  if (bytes.compare(0, 2, "P6") != 0) return p;
  p.width = number();
  p.height = number();
  number();
  ++pos;
  size_t n = static_cast<size_t>(p.width) * p.height * 3;
  if (bytes.size() < pos + n) return Picture{};
  p.rgb.assign(bytes.begin() + static_cast<long>(pos), bytes.begin() + static_cast<long>(pos + n));
  return p;
}

std::string PpmBytes(const Picture& p) {
  std::string s = "P6\n" + std::to_string(p.width) + " " + std::to_string(p.height) + "\n255\n";
  s.append(p.rgb.begin(), p.rgb.end());
  return s;
}

// The paths of an EPS body: each a list of segments, a segment the text of
// its points from its start anchor to its end anchor (controls between).
using Segment = std::vector<std::string>;
std::vector<std::vector<Segment>> EpsPaths(const std::string& eps) {
  std::vector<std::vector<Segment>> paths;
  std::vector<std::string> stack;
  std::string pen;
  size_t at = eps.find("%%EndSetup");
  size_t end = eps.find("%%PageTrailer");
  std::string body = eps.substr(at, end == std::string::npos ? std::string::npos : end - at);
  for (char& c : body)
    if (c == '\r' || c == '\n') c = ' ';
  size_t i = 0;
  while (i < body.size()) {
    while (i < body.size() && body[i] == ' ') ++i;
    size_t j = i;
    while (j < body.size() && body[j] != ' ') ++j;
    std::string tok = body.substr(i, j - i);
    i = j;
    if (tok.empty()) continue;
    bool number = isdigit(static_cast<unsigned char>(tok[0])) || tok[0] == '.' || tok[0] == '-';
    if (number) {
      stack.push_back(tok);
      continue;
    }
    auto point = [&](size_t k) { return stack[stack.size() - k] + " " + stack[stack.size() - k + 1]; };
    if (tok == "m" && stack.size() >= 2) {
      paths.emplace_back();
      pen = point(2);
    } else if ((tok == "L" || tok == "l") && stack.size() >= 2 && !paths.empty()) {
      paths.back().push_back({pen, point(2)});
      pen = point(2);
    } else if ((tok == "C" || tok == "c") && stack.size() >= 6 && !paths.empty()) {
      paths.back().push_back({pen, point(6), point(4), point(2)});
      pen = point(2);
    }
    stack.clear();
  }
  return paths;
}

TEST_F(CliTest, ColorAreasCoverEveryPixelAndShareTheirBoundaries) {
  const uint8_t kRed[3] = {255, 0, 0}, kBlue[3] = {0, 0, 255}, kYellow[3] = {255, 255, 0},
                kGreen[3] = {0, 160, 0}, kWhite[3] = {255, 255, 255};
  const int W = 48, H = 48;
  struct Fixture {
    const char* name;
    const uint8_t* (*color)(int x, int y, const uint8_t* const* c);
    bool flat;      // areas of one color each: their insides keep it
    bool enclosed;  // an area lies inside another (drawn above it)
  };
  // c: red, blue, yellow, green, white.
  const Fixture fixtures[] = {
      {"halves", [](int x, int, const uint8_t* const* c) { return x < 24 ? c[0] : c[1]; }, true, false},
      {"t-junction",
       [](int x, int y, const uint8_t* const* c) { return y < 24 ? c[0] : x < 20 ? c[1] : c[2]; }, true, false},
      {"ring",
       [](int x, int y, const uint8_t* const* c) {
         int d = (x - 24) * (x - 24) + (y - 24) * (y - 24);
         return d < 18 * 18 && d >= 9 * 9 ? c[3] : c[4];
       },
       true, true},
  };
  const uint8_t* const colors[] = {kRed, kBlue, kYellow, kGreen, kWhite};
  std::vector<std::pair<std::string, Picture>> inputs;
  for (const Fixture& f : fixtures) {
    Picture p{W, H, std::vector<uint8_t>(W * H * 3)};
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) memcpy(&p.rgb[(static_cast<size_t>(y) * W + x) * 3], f.color(x, y, colors), 3);
    WriteFileBytes(PathIn(std::string(f.name) + ".ppm"), PpmBytes(p));
    inputs.push_back({std::string(f.name) + ".ppm", p});
  }
  // The halves as CMYK and a 16-bit gray ramp, written by ImageMagick.
  ASSERT_EQ(system(("cd " + Quote(Dir()) +
                    " && convert halves.ppm -colorspace CMYK -density 300 halves-cmyk.tif"
                    " && convert -size 48x48 gradient:black-white -depth 16 -density 300 ramp16.tif")
                       .c_str()),
            0);
  for (const char* mode : {"limited", "unlimited", "custom"}) {
    for (int k = 0; k < 5; ++k) {
      const bool made = k < 3;
      const std::string input = made ? inputs[static_cast<size_t>(k)].first : k == 3 ? "halves-cmyk.tif" : "ramp16.tif";
      const Fixture* f = made ? &fixtures[k] : k == 3 ? &fixtures[0] : nullptr;
      SCOPED_TRACE(input + " " + mode);
      CliRun r = Cli({"-q", "--colors", mode, input, "-o", "art.eps"});
      ASSERT_EQ(r.status, 0) << r.err;
      std::string art = ReadFileBytes(PathIn("art.eps"));
      // Rendered without anti-aliasing over a magenta page, nothing shows through.
      // The art's resolution: its areas reach the image's right edge.
      std::vector<std::vector<Segment>> paths = EpsPaths(art);
      auto xy = [](const std::string& p) { return std::make_pair(atof(p.c_str()), atof(p.c_str() + p.find(' '))); };
      double right = 0, top = 0;
      for (const auto& path : paths)
        for (const Segment& s : path) {
          right = std::max(right, xy(s.back()).first);
          top = std::max(top, xy(s.back()).second);
        }
      ASSERT_GT(right, 0);
      const double bw = right;
      std::string ppm = PathIn("render.ppm");
      std::string cmd = "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=ppmraw -dGraphicsAlphaBits=1 -dUseFastColor -r" +
                        std::to_string(72.0 * W / bw) + " -g" +
                        std::to_string(W) + "x" + std::to_string(H) + " -sOutputFile=" + Quote(ppm) +
                        " -c '<< /BeginPage { gsave 1 0 1 setrgbcolor clippath fill grestore } >> setpagedevice'"
                        " -f " + Quote(PathIn("art.eps")) + " >/dev/null 2>&1";
      ASSERT_EQ(system(cmd.c_str()), 0);
      Picture got = ReadPpm(ReadFileBytes(ppm));
      ASSERT_EQ(got.width, W);
      int uncovered = 0, off = 0;
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          const uint8_t* g = got.At(x, y);
          uncovered += g[0] == 255 && g[1] == 0 && g[2] == 255;
          if (!f || !f->flat || std::string(mode) == "custom") continue;
          // Away from the boundaries the area keeps its input color.
          const uint8_t* want = f->color(x, y, colors);
          bool inside = true;
          for (int dy = -2; dy <= 2; ++dy)
            for (int dx = -2; dx <= 2; ++dx) {
              int u = std::clamp(x + dx, 0, W - 1), v = std::clamp(y + dy, 0, H - 1);
              inside = inside && f->color(u, v, colors) == want;
            }
          if (inside)
            for (int c = 0; c < 3; ++c) off += std::abs(g[c] - want[c]) > 64;  // process colors are not exact RGB
        }
      EXPECT_EQ(uncovered, 0);
      EXPECT_EQ(off, 0);
      // Neighbouring areas share their boundaries: every segment that does not
      // lie on the frame is the reverse of one segment of one other path, with
      // the same anchors and handles.
      if (f && !f->enclosed) {
        EXPECT_GE(paths.size(), 2u);
        auto onFrame = [&](const Segment& s) {
          auto [x0, y0] = xy(s.front());
          auto [x1, y1] = xy(s.back());
          return (x0 == x1 && (x0 == 0 || x0 == right)) || (y0 == y1 && (y0 == 0 || y0 == top));
        };
        for (size_t a = 0; a < paths.size(); ++a)
          for (const Segment& s : paths[a]) {
            if (s.size() == 2 && s[0] == s[1]) continue;
            if (onFrame(s) && s.size() == 2) continue;
            Segment back(s.rbegin(), s.rend());
            int matches = 0;
            for (size_t b = 0; b < paths.size(); ++b)
              if (b != a) matches += static_cast<int>(std::count(paths[b].begin(), paths[b].end(), back));
            EXPECT_EQ(matches, 1) << "path " << a << ": " << s.front() << " to " << s.back();
          }
      }
    }
  }
}

TEST_F(CliTest, GrayImagesThresholdAcrossTheirSampleRange) {
  // A vertical ramp from black to white, 8- and 16-bit, written by
  // ImageMagick: the threshold P keeps about P percent of it white.
  ASSERT_EQ(system(("cd " + Quote(Dir()) +
                    " && convert -size 40x100 gradient:black-white -density 300 ramp8.tif"
                    " && convert -size 40x100 gradient:black-white -depth 16 -density 300 ramp16.tif")
                       .c_str()),
            0);
  for (const char* input : {"ramp8.tif", "ramp16.tif"}) {
    for (int percent : {25, 50, 75}) {
      SCOPED_TRACE(std::string(input) + " " + std::to_string(percent));
      CliRun r = Cli({"-q", "--colors", "bw", "--threshold", std::to_string(percent), input, "-o", "ramp.eps"});
      ASSERT_EQ(r.status, 0) << r.err;
      Bitmap got = Render(PathIn("ramp.eps"), 300, 40, 100);
      int black = 0;
      for (int y = 0; y < 100; ++y) black += got.At(20, y);
      EXPECT_NEAR(black, 100 - percent, 4);
    }
  }
}

TEST_F(CliTest, ColorArtGoesIntoEveryFormat) {
  // Top red, bottom left blue, bottom right yellow: at 50 % red and blue are
  // black and yellow is white in the black-and-white preview.
  Picture p{48, 48, std::vector<uint8_t>(48 * 48 * 3)};
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 48; ++x) {
      uint8_t* q = &p.rgb[(static_cast<size_t>(y) * 48 + x) * 3];
      q[0] = y < 24 || x >= 20 ? 255 : 0;
      q[1] = y >= 24 && x >= 20 ? 255 : 0;
      q[2] = y >= 24 && x < 20 ? 255 : 0;
    }
  WriteFileBytes(PathIn("t.ppm"), PpmBytes(p));
  struct Format {
    const char *name, *file, *check;
  } formats[] = {
      {"eps", "art.eps", "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=nullpage art.eps"},
      {"eps-bw", "bw.eps", "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=nullpage bw.eps"},
      {"eps-color", "color.eps", "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=nullpage color.eps"},
      {"dxf", "art.dxf", "ezdxf audit art.dxf | grep -q 'No errors found'"},
      {"svg", "art.svg", "rsvg-convert art.svg -o svg.png"},
      {"pdf", "art.pdf", "qpdf --check art.pdf"},
  };
  for (const Format& f : formats) {
    SCOPED_TRACE(f.name);
    CliRun r = Cli({"-q", "--colors", "unlimited", "--format", f.name, "t.ppm", "-o", f.file});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(system(("cd " + Quote(Dir()) + " && " + f.check + " >/dev/null 2>&1").c_str()), 0) << f.check;
  }
  // The three colors reach the SVG as three fills.
  std::string svg = ReadFileBytes(PathIn("art.svg"));
  int fills = 0;
  for (size_t at = 0; (at = svg.find("fill=\"#", at)) != std::string::npos; ++at) ++fills;
  EXPECT_EQ(fills, 3);
  // The black-and-white preview is the picture at 50 %.
  std::string bw = ReadFileBytes(PathIn("bw.eps"));
  ASSERT_GT(bw.size(), 30u);
  auto le32 = [&](size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(bw[at])) | static_cast<uint32_t>(static_cast<uint8_t>(bw[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(bw[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(bw[at + 3])) << 24;
  };
  uint32_t start = le32(20), length = le32(24);
  ASSERT_LE(static_cast<size_t>(start) + length, bw.size());
  WriteFileBytes(PathIn("preview.tif"), bw.substr(start, length));
  ASSERT_EQ(system(("cd " + Quote(Dir()) + " && convert preview.tif preview.pbm").c_str()), 0);
  Bitmap preview = ReadPnm(ReadFileBytes(PathIn("preview.pbm")));
  ASSERT_EQ(preview.width, 48);
  int black = 0;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 48; ++x) {
      black += preview.At(x, y);
      EXPECT_EQ(preview.At(x, y), y < 24 || x < 20 ? 1 : 0) << x << "," << y;
    }
  EXPECT_GT(black, 0);
}

TEST_F(CliTest, SeparateShapesMakesEachEnclosedAreaAShapeOfItsOwn) {
  // Two boxes sharing a wall, and a free line: the boxes become two shapes
  // that share the wall's segments, the line a centerline; the white around
  // them touches the border and gives no shape.
  ASSERT_EQ(system(("cd " + Quote(Dir()) +
                    " && convert -size 80x50 xc:white -fill none -stroke black -strokewidth 3"
                    " -draw 'rectangle 10,10 70,40' -draw 'line 40,10 40,40' -draw 'line 75,5 75,45' boxes.pbm")
                       .c_str()),
            0);
  CliRun r = Cli({"-q", "--method", "centerline", "--separate-shapes", "boxes.pbm", "-o", "boxes.eps"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string art = ReadFileBytes(PathIn("boxes.eps"));
  std::vector<std::vector<Segment>> paths = EpsPaths(art);
  ASSERT_EQ(paths.size(), 3u);
  int groups = 0;
  for (size_t at = 0; (at = art.find("\ru\r", at)) != std::string::npos; ++at) ++groups;
  EXPECT_EQ(groups, 2) << "one group per shape";
  int shared = 0;
  for (const Segment& s : paths[0]) {
    Segment back(s.rbegin(), s.rend());
    shared += static_cast<int>(std::count(paths[1].begin(), paths[1].end(), back));
  }
  EXPECT_GE(shared, 1) << "the wall";
  EXPECT_EQ(paths[2].size(), 1u) << "the free line";
  // Without Separate Shapes only centerlines are made.
  r = Cli({"-q", "--method", "centerline", "boxes.pbm", "-o", "plain.eps"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFileBytes(PathIn("plain.eps")).find("\ru\r"), std::string::npos);
}

TEST_F(CliTest, ColorOptionsReachTheSeparation) {
  ASSERT_EQ(system(("cd " + Quote(Dir()) + " && convert -size 40x100 gradient:black-white -density 300 ramp.tif").c_str()),
            0);
  Picture t{48, 48, std::vector<uint8_t>(48 * 48 * 3)};
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 48; ++x) {
      uint8_t* q = &t.rgb[(static_cast<size_t>(y) * 48 + x) * 3];
      q[0] = y < 24 || x >= 20 ? 255 : 0;
      q[1] = y >= 24 && x >= 20 ? 255 : 0;
      q[2] = y >= 24 && x < 20 ? 255 : 0;
    }
  WriteFileBytes(PathIn("t.ppm"), PpmBytes(t));
  auto blackRows = [&](const std::vector<std::string>& options, const char* input = "ramp.tif") {
    std::vector<std::string> args = {"-q", "--colors", "bw"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {input, "-o", "ramp.eps"});
    FileDelete(PathIn("ramp.eps").c_str());
    CliRun r = Cli(args);
    if (r.status != 0) return -r.status;
    Bitmap got = Render(PathIn("ramp.eps"), 300, 40, 100);
    int black = 0;
    for (int y = 0; y < 100; ++y) black += got.At(20, y);
    return black;
  };
  // Levels with the white point at 128: the upper half of the ramp is white
  // before the threshold, so half as much turns black.
  EXPECT_NEAR(blackRows({}), 50, 4);
  EXPECT_NEAR(blackRows({"--levels", "0,1.0,128"}), 25, 4);
  EXPECT_NEAR(blackRows({"--levels", "0,2.0,255"}), 25, 5);  // gamma 2 lightens the middle
  // Contrast mode finds edges: a smooth ramp has none (no paths: status 1),
  // a step from dark to light gray has one.
  EXPECT_EQ(blackRows({"--contrast", "10"}), -1);
  ASSERT_EQ(system(("cd " + Quote(Dir()) +
                    " && convert -size 40x50 xc:gray25 -size 40x50 xc:gray75 -append -density 300 step.tif")
                       .c_str()),
            0);
  int edge = blackRows({"--contrast", "10"}, "step.tif");
  EXPECT_GE(edge, 1);
  EXPECT_LE(edge, 6);
  EXPECT_GE(blackRows({"--contrast", "10", "--boost", "100"}, "step.tif"), edge);

  // The distinct fills of the t picture's art, as the SVG writer puts them.
  auto fills = [&](const std::vector<std::string>& options) {
    std::vector<std::string> args = {"-q"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {"t.ppm", "-o", "t.svg"});
    CliRun r = Cli(args);
    EXPECT_EQ(r.status, 0) << r.err;
    std::string svg = ReadFileBytes(PathIn("t.svg"));
    std::vector<std::string> found;
    for (size_t at = 0; (at = svg.find("fill=\"#", at)) != std::string::npos; ++at) {
      std::string c = svg.substr(at + 7, 6);
      if (std::find(found.begin(), found.end(), c) == found.end()) found.push_back(c);
    }
    return found;
  };
  EXPECT_EQ(fills({"--colors", "unlimited"}).size(), 3u);
  EXPECT_EQ(fills({"--colors", "limited", "--max-colors", "2"}).size(), 2u);
  EXPECT_EQ(fills({"--colors", "unlimited", "--reduce-detail"}).size(), 3u);
  EXPECT_EQ(fills({"--colors", "unlimited", "--no-averaging"}).size(), 3u);
  // Custom colors from a file of two: every area takes one of them.
  WriteFileBytes(PathIn("two.txt"), "%!PS-Quenda-3.0\r%%CMYKCustomColor: 0 1 1 0 (Ink red)\r"
                                    "%%+ 1 1 0 0 (Ink blue)\r");
  std::vector<std::string> custom = fills({"--colors", "custom", "--custom-colors", "two.txt"});
  EXPECT_GE(custom.size(), 1u);
  EXPECT_LE(custom.size(), 2u);
  CliRun r = Cli({"-q", "--colors", "custom", "--custom-colors", "two.txt", "t.ppm", "-o", "t.eps"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string eps = ReadFileBytes(PathIn("t.eps"));
  EXPECT_NE(eps.find("(Ink red)"), std::string::npos);
  EXPECT_EQ(eps.find("(Aqua)"), std::string::npos) << "the built-in colors stay out";
  // Tints give the areas more colors to choose from, never fewer.
  EXPECT_GE(fills({"--colors", "custom", "--tints"}).size(), fills({"--colors", "custom"}).size());
}

TEST_F(CliTest, AnAreaTooLongForOnePathMakesTheArtIncomplete) {
  // Red and blue meet along a ragged edge 9000 rows long: the boundary needs
  // more segments than one path holds, so the art is saved but incomplete.
  Picture p{60, 9000, std::vector<uint8_t>(60 * 9000 * 3)};
  uint32_t seed = 1;
  for (int y = 0; y < p.height; ++y) {
    seed = seed * 1103515245u + 12345u;
    int edge = 24 + static_cast<int>((seed >> 16) % 13);
    for (int x = 0; x < p.width; ++x) {
      uint8_t* q = &p.rgb[(static_cast<size_t>(y) * p.width + x) * 3];
      q[0] = x < edge ? 255 : 0;
      q[2] = x < edge ? 0 : 255;
    }
  }
  WriteFileBytes(PathIn("ragged.ppm"), PpmBytes(p));
  CliRun r = Cli({"--colors", "unlimited", "ragged.ppm", "-o", "ragged.eps"});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("incomplete"), std::string::npos) << r.err;
  EXPECT_TRUE(FileExists(PathIn("ragged.eps").c_str()));
}
